#!/usr/bin/python3
"""Writes tables with Debian's python3-dbf, as the test describes them.

Reads from standard input a JSON list of tables, each

    {"path": "...", "dbf_type": "db3" or "fp",
     "fields": [["name", "C", 20, 0], ["amount", "N", 10, 2], ["note", "M", 0, 0], ...],
     "rows": [[value, ...] or null, ...],
     "deleted": [row index, ...]}

A row null is appended as a blank record; a value null is written as the
library's blank (None). Values of D fields are "yyyymmdd"; of L fields true
or false. Prints "ok" when every table was written.
"""

import datetime
import json
import sys

import dbf


def field_text(field):
    name, kind, width, decimals = field
    if kind == 'C':
        return '%s C(%d)' % (name, width)
    if kind in ('N', 'F'):
        return '%s %s(%d,%d)' % (name, kind, width, decimals)
    return '%s %s' % (name, kind)


def value_for(kind, value):
    if value is None:
        return None
    if kind == 'D':
        return datetime.date(int(value[:4]), int(value[4:6]), int(value[6:8]))
    return value


def write(order):
    fields = order['fields']
    table = dbf.Table(order['path'], '; '.join(field_text(f) for f in fields), dbf_type=order['dbf_type'])
    table.open(dbf.READ_WRITE)
    try:
        for row in order.get('rows', []):
            if row is None:
                table.append()
            else:
                table.append(tuple(value_for(f[1], v) for f, v in zip(fields, row)))
        for index in order.get('deleted', []):
            dbf.delete(table[index])
    finally:
        table.close()


def main():
    for order in json.load(sys.stdin):
        write(order)
    print('ok')


if __name__ == '__main__':
    main()
