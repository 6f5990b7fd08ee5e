#!/usr/bin/python3
"""Prints a table as Debian's dbfread reads it, as one JSON document.

    read_dbf.py TABLE [ENCODING]

The document holds the header and field list dbfread found, the live records
("records") and the records marked deleted ("deleted") as dbfread parses
them, and the same records as the bytes they hold ("raw_records",
"raw_deleted", each byte as one Latin-1 character). Dates become "yyyymmdd";
blank values null. Memo files that are missing are ignored.
"""

import datetime
import json
import sys

import dbfread


def plain(value):
    if isinstance(value, datetime.datetime):
        return value.strftime('%Y%m%d%H%M%S')
    if isinstance(value, datetime.date):
        return value.strftime('%Y%m%d')
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).decode('latin-1')
    return value


def rows(records):
    return [{name: plain(value) for name, value in record.items()} for record in records]


def main():
    path = sys.argv[1]
    encoding = sys.argv[2] if len(sys.argv) > 2 else None
    table = dbfread.DBF(path, load=True, ignore_missing_memofile=True, encoding=encoding,
                        char_decode_errors='strict')
    raw = dbfread.DBF(path, load=True, ignore_missing_memofile=True, raw=True)
    h = table.header
    doc = {
        'version': h.dbversion,
        'header': {
            'year': h.year, 'month': h.month, 'day': h.day,
            'numrecords': h.numrecords, 'headerlen': h.headerlen, 'recordlen': h.recordlen,
            'flags': h.mdx_flag, 'codepage': h.language_driver,
        },
        'encoding': table.encoding,
        'fields': [{'name': f.name, 'type': f.type, 'length': f.length, 'decimals': f.decimal_count}
                   for f in table.fields],
        'records': rows(table.records),
        'deleted': rows(table.deleted),
        'raw_records': rows(raw.records),
        'raw_deleted': rows(raw.deleted),
    }
    json.dump(doc, sys.stdout, ensure_ascii=True)
    sys.stdout.write('\n')


if __name__ == '__main__':
    main()
