#!/usr/bin/python3
"""Opens a table with Debian's python3-dbf and prints what that library reads,
as one JSON document: {"count": records, "records": [{"deleted": bool,
"values": {field: value}}]}, text without trailing blanks, dates "yyyymmdd",
blank values null.

    reopen_dbf.py TABLE
"""

import datetime
import json
import sys

import dbf


def plain(value):
    if value is None:
        return None
    if isinstance(value, datetime.date):
        return value.strftime('%Y%m%d')
    if isinstance(value, str):
        return value.rstrip(' ')
    if isinstance(value, (bool, int, float)):
        return value
    # Anything else (the library's own blank objects) is shown as it prints.
    return str(value)


def main():
    table = dbf.Table(sys.argv[1])
    table.open(dbf.READ_ONLY)
    try:
        names = table.field_names
        out = []
        for record in table:
            out.append({'deleted': bool(dbf.is_deleted(record)),
                        'values': {n.upper(): plain(record[n]) for n in names}})
        doc = {'count': len(table), 'records': out}
    finally:
        table.close()
    json.dump(doc, sys.stdout, ensure_ascii=True)
    sys.stdout.write('\n')


if __name__ == '__main__':
    main()
