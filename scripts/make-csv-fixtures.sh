#!/usr/bin/env bash
# Remakes the delimited text rosters in tests/data/csv from the 30-row
# roster (tests/data/csv/roster_zh_30.csv, UTF-8, and the same roster as a
# LibreOffice workbook, tests/data/generated/roster_zh_30.xls):
#   roster_zh_30_lo_gbk_quoted.csv  LibreOffice's CSV export in MS-936 (GBK),
#                                   every text cell quoted, LF
#   roster_zh_30_lo_utf16.txt       LibreOffice's export as UTF-16LE with a
#                                   byte-order mark, tab-separated ("Unicode text")
#   roster_zh_30_excel_gbk.csv      as Excel's "CSV (逗号分隔)" writes it on a
#                                   Chinese system: GBK, CRLF, no byte-order mark,
#                                   every row ending in an empty column, a blank
#                                   row at the end
#   roster_zh_30_bom_semicolon_cr.csv  UTF-8 with a byte-order mark, ';', CR line
#                                   ends, fields quoted where they must be
# Needs soffice (LibreOffice) and python3.
set -euo pipefail
cd "$(dirname "$0")/../tests/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export_csv() { # options output-name
    soffice --headless --norestore "-env:UserInstallation=file://$work/profile" \
        --convert-to "csv:Text - txt - csv (StarCalc):$1" --outdir "$work" generated/roster_zh_30.xls >/dev/null
    mv "$work/roster_zh_30.csv" "csv/$2"
}
export_csv 44,34,61,1,,0,true roster_zh_30_lo_gbk_quoted.csv
export_csv 9,34,65535,1 roster_zh_30_lo_utf16.txt

python3 - csv/roster_zh_30.csv csv <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))
out = sys.argv[2]

def field(text, delimiter):
    if any(c in text for c in (delimiter, '"', '\r', '\n')):
        return '"' + text.replace('"', '""') + '"'
    return text

def write(name, encoding, delimiter, line_end, trailing, blank_end):
    lines = [delimiter.join(field(f, delimiter) for f in row + ([''] if trailing else [])) for row in rows]
    if blank_end:
        lines.append(delimiter * (len(rows[0]) - (0 if trailing else 1)))
    open(f'{out}/{name}', 'wb').write((line_end.join(lines) + line_end).encode(encoding))

write('roster_zh_30_excel_gbk.csv', 'gbk', ',', '\r\n', True, True)
write('roster_zh_30_bom_semicolon_cr.csv', 'utf-8-sig', ';', '\r', False, False)
PY
