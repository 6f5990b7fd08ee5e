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
    if isinstance(value, bool):
        return value
    if isinstance(value, (int, float)):
        return value
    # The library's own blank and logical types.
    if value is dbf.Null or value == dbf.Unknown:
        return None
    if value is dbf.Truth or value == True:
        return True
    if value is dbf.Falsth or value == False:
        return False
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
