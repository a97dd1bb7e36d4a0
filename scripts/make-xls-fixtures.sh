#!/usr/bin/env bash
# Remakes the workbooks in tests/data/generated that gnumeric and LibreOffice
# write for the Excel suites:
#   scoped_names_gnumeric.xls     scoped_names.gnumeric saved by ssconvert: the
#                                 name PaidDump for the workbook, for Sheet1 and
#                                 for Sheet2
#   scoped_names_libreoffice.xls  that workbook saved again by LibreOffice
#   sparse/corners_gnumeric.xls   four cells, A1, IV1, A65536 and IV65536, from a
#   sparse/corners_libreoffice.xls  CSV, by ssconvert and by LibreOffice
# Needs ssconvert (gnumeric) and soffice (LibreOffice).
set -euo pipefail
cd "$(dirname "$0")/../tests/data/generated"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ssconvert --export-type=Gnumeric_Excel:excel_biff8 scoped_names.gnumeric scoped_names_gnumeric.xls
soffice --headless --norestore "-env:UserInstallation=file://$work/profile" \
    --convert-to 'xls:MS Excel 97' --outdir "$work" scoped_names_gnumeric.xls
mv "$work/scoped_names_gnumeric.xls" scoped_names_libreoffice.xls

python3 - "$work/corners.csv" <<'PY'
import sys
lines = [''] * 65536
lines[0] = 'A1' + ',' * 255 + 'IV1'
lines[65535] = 'A65536' + ',' * 255 + 'IV65536'
open(sys.argv[1], 'w').write('\n'.join(lines) + '\n')
PY
ssconvert --export-type=Gnumeric_Excel:excel_biff8 "$work/corners.csv" sparse/corners_gnumeric.xls
soffice --headless --norestore "-env:UserInstallation=file://$work/profile" \
    --infilter=CSV:44,34,76,1 --convert-to 'xls:MS Excel 97' --outdir "$work" "$work/corners.csv"
mv "$work/corners.xls" sparse/corners_libreoffice.xls
