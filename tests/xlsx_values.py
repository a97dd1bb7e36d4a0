"""Prints every cell of every worksheet of an .xlsx workbook as openpyxl
reads it (cached values of formulas), one line each:
    SHEET<TAB>name
    CELL<TAB>row<TAB>column<TAB>kind<TAB>value
rows and columns from 0; kind n (a number, repr), s (a text), b (1 or 0),
d (a date and time, ISO), t (a time of day, ISO), e (an error value).
A tab, line feed, carriage return or backslash in a name or text is
written as \\t, \\n, \\r or \\\\."""
import datetime
import sys

import openpyxl


def escaped(text):
    return (text.replace('\\', '\\\\').replace('\t', '\\t')
            .replace('\n', '\\n').replace('\r', '\\r'))


def main(path):
    wb = openpyxl.load_workbook(path, data_only=True)
    out = []
    for ws in wb.worksheets:
        out.append('SHEET\t' + escaped(ws.title))
        for row in ws.iter_rows():
            for cell in row:
                v = cell.value
                if v is None:
                    continue
                if cell.data_type == 'e':
                    kind, text = 'e', str(v)
                elif isinstance(v, bool):
                    kind, text = 'b', '1' if v else '0'
                elif isinstance(v, (int, float)):
                    kind, text = 'n', repr(float(v))
                elif isinstance(v, datetime.datetime):
                    kind, text = 'd', v.isoformat()
                elif isinstance(v, datetime.date):
                    kind, text = 'd', datetime.datetime(v.year, v.month, v.day).isoformat()
                elif isinstance(v, datetime.time):
                    kind, text = 't', v.isoformat()
                elif isinstance(v, datetime.timedelta):
                    kind, text = 'n', repr(v.total_seconds() / 86400)
                else:
                    kind, text = 's', str(v)
                out.append('CELL\t%d\t%d\t%s\t%s' % (cell.row - 1, cell.column - 1, kind, escaped(text)))
    sys.stdout.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main(sys.argv[1])
