#!/usr/bin/env bash
# Remakes the workbooks in tests/data/xlsx/generated that openpyxl, gnumeric
# and LibreOffice write for the .xlsx suite:
#   types_openpyxl.xlsx        numbers, texts, booleans, dates, amounts, a mixed
#                              column, a blank row inside the table, a hidden
#                              sheet, defined names for the workbook and for a
#                              sheet, a formula, an array formula and a table
#                              whose header row lies among the records
#   dates1904_openpyxl.xlsx    dates in the 1904 date system
#   scoped_names_gnumeric.xlsx tests/data/generated/scoped_names.gnumeric saved
#                              by ssconvert (inline strings)
#   roster_libreoffice.xlsx    the openpyxl workbook saved by LibreOffice: shared
#                              strings, cached formula values (#DIV/0! in J2)
#   roster_rich.xlsx           roster_libreoffice.xlsx with one name in rich text
#                              runs and a phonetic run
#   roster_strict.xlsx         roster_libreoffice.xlsx with Strict OOXML
#                              namespaces (the same cells)
#   roster_unaddressed.xlsx    roster_libreoffice.xlsx with every row's and
#                              cell's address taken out (the same cells)
# Needs python3 with openpyxl, ssconvert (gnumeric) and soffice (LibreOffice).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/data/xlsx/generated"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
py=python3
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import openpyxl' 2>/dev/null; then py=$candidate; break; fi
done

"$py" - "$out" <<'PY'
import sys, datetime
from openpyxl import Workbook
from openpyxl.worksheet.table import Table
from openpyxl.workbook.defined_name import DefinedName
out = sys.argv[1]

wb = Workbook()
ws = wb.active
ws.title = '名单'
ws.append(['学号', '姓名', '成绩', '生日', '学费', '在校', '备注', '混合'])
rows = [
    ('2024000001', '聂姬', 20.5, datetime.datetime(2009, 4, 19), 1200.5, True, 'a & <b>', 1),
    ('2024000002', "Mary O'Connor", 83.25, datetime.datetime(2009, 10, 17, 8, 30), 0.1, False, None, 'x'),
    None,
    ('2024000004', '庄瑞', -7, datetime.datetime(1900, 2, 28), 99999.9999, True, '  spaced  ', 2.5),
    ('2024000005', '单引号\'s', 1e-7, datetime.datetime(1899, 12, 31), 3, None, '_x0041_ literal', None),
]
for r, row in enumerate(rows, start=2):
    if row is None:
        continue
    for c, v in enumerate(row, start=1):
        if v is not None:
            ws.cell(row=r, column=c, value=v)
    ws.cell(row=r, column=4).number_format = 'yyyy-mm-dd h:mm'
    ws.cell(row=r, column=5).number_format = '"¥"#,##0.00'
ws['I1'] = '公式'
ws['I2'] = '=C2*2'
ws['J1'] = '错误'
ws['J2'] = '=1/0'
ws['J3'] = 'ok'
hidden = wb.create_sheet('隐藏')
hidden.sheet_state = 'hidden'
hidden.append(['班级', '人数'])
hidden.append(['高一(1)班', 45])
arr = wb.create_sheet('Tables')
arr.append(['名称', '数值'])
arr.append(['甲', 1])
arr.append(['乙', 2])
arr.append([])
arr.append(['列一', '列二'])
arr.append(['丙', 3])
arr.append(['丁', 4])
arr.add_table(Table(displayName='T1', ref='A5:B7'))
arr['C2'] = '=SUM(B2:B3)'
arr.formula_attributes['C2'] = {'t': 'array', 'ref': 'C2:C3'}
wb.defined_names.append(DefinedName('Everyone', attr_text="'名单'!$A$1:$H$6"))
dn = DefinedName('Small', attr_text="Tables!$A$1:$B$3", localSheetId=2)
wb.defined_names.append(dn)
wb.save(f'{out}/types_openpyxl.xlsx')

wb = Workbook()
wb.epoch = datetime.datetime(1904, 1, 1)
ws = wb.active
ws.append(['日期', '数'])
for i, d in enumerate([datetime.datetime(1904, 1, 2), datetime.datetime(2024, 9, 1, 12), datetime.datetime(1999, 12, 31)]):
    ws.append([d, i])
    ws.cell(row=i + 2, column=1).number_format = 'yyyy/m/d h:mm'
wb.save(f'{out}/dates1904_openpyxl.xlsx')
PY

ssconvert --export-type=Gnumeric_Excel:xlsx2 "$here/tests/data/generated/scoped_names.gnumeric" \
    "$out/scoped_names_gnumeric.xlsx"

# LibreOffice saves the openpyxl workbook again: its own shared strings,
# styles and cached formula values.
cp "$out/types_openpyxl.xlsx" "$work/roster_libreoffice.xlsx"
mkdir "$work/lo"
soffice --headless --norestore "-env:UserInstallation=file://$work/profile" \
    --convert-to 'xlsx:Calc MS Excel 2007 XML' --outdir "$work/lo" "$work/roster_libreoffice.xlsx" >/dev/null
cp "$work/lo/roster_libreoffice.xlsx" "$out/roster_libreoffice.xlsx"

"$py" - "$out" <<'PY'
import sys, re, zipfile
out = sys.argv[1]
src = f'{out}/roster_libreoffice.xlsx'
strict = {
    'http://schemas.openxmlformats.org/spreadsheetml/2006/main': 'http://purl.oclc.org/ooxml/spreadsheetml/main',
    'http://schemas.openxmlformats.org/officeDocument/2006/relationships': 'http://purl.oclc.org/ooxml/officeDocument/relationships',
}
def rewrite(dest, change):
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(dest, 'w', zipfile.ZIP_DEFLATED) as zout:
        for info in zin.infolist():
            data = zin.read(info.filename)
            if info.filename.endswith('.xml') or info.filename.endswith('.rels'):
                data = change(info.filename, data.decode('utf-8')).encode('utf-8')
            zout.writestr(info.filename, data)
def to_strict(name, text):
    for a, b in strict.items():
        text = text.replace(a, b)
    return text
def column(letters):
    n = 0
    for ch in letters:
        n = n * 26 + ord(ch) - 64
    return n
def unaddressed(name, text):
    # An address goes where the position says the same: the row after the
    # one before, the cell after the one before.
    if '/worksheets/' not in name:
        return text
    state = {'row': 0, 'col': 0}
    def row(m):
        r = int(m.group(2))
        keep = r != state['row'] + 1
        state['row'], state['col'] = r, 0
        return m.group(0) if keep else m.group(1)
    def cell(m):
        c = column(m.group(2))
        keep = c != state['col'] + 1
        state['col'] = c
        return m.group(0) if keep else m.group(1)
    def either(m):
        return row(m.group(0) and re.match(r'(<row\b[^>]*?)\s+r="(\d+)"', m.group(0))) \
            if m.group(0).startswith('<row') else cell(re.match(r'(<c\b[^>]*?)\s+r="([A-Z]+)\d+"', m.group(0)))
    return re.sub(r'<row\b[^>]*?\s+r="\d+"|<c\b[^>]*?\s+r="[A-Z]+\d+"', either, text)
def rich(name, text):
    if name != 'xl/sharedStrings.xml':
        return text
    plain = '<si><t xml:space="preserve">聂姬</t></si>'
    assert plain in text
    return text.replace(plain, '<si><r><t>聂</t></r><r><rPr><b val="true"/></rPr><t>姬</t></r>'
                               '<rPh sb="0" eb="2"><t>ニエキ</t></rPh><phoneticPr fontId="1"/></si>')
rewrite(f'{out}/roster_rich.xlsx', rich)
rewrite(f'{out}/roster_strict.xlsx', to_strict)
rewrite(f'{out}/roster_unaddressed.xlsx', unaddressed)
PY
