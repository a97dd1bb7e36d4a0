// Reads the input as the worksheet part of an otherwise sound .xlsx
// package (three shared strings, a date style): every value of its table,
// and a write (worked out, not written) of a shared text into a cell of
// the table and of a number into a new row.
#include "data/engine/EngineError.h"
#include "data/engine/xlsx/XlsxBackend.h"
#include "data/engine/xlsx/XlsxPatcher.h"
#include "data/engine/xlsx/XlsxWorkbook.h"

#include <zip.h>

#include <cstddef>
#include <cstdint>

namespace {

// The package with `sheet` as its one worksheet part.
QByteArray package(const QByteArray &sheet)
{
    static const std::pair<const char *, QByteArray> parts[] = {
        {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types "
                                "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
        {"_rels/.rels",
         "<?xml version=\"1.0\"?><Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
         "Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
         "<?xml version=\"1.0\"?><workbook "
         "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet "
         "name=\"名单\" sheetId=\"1\" r:id=\"rId1\"/></sheets><definedNames><definedName "
         "name=\"Part\">'名单'!$A$1:$C$4</definedName></definedNames></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<?xml version=\"1.0\"?><Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
         "Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
         "Target=\"sharedStrings.xml\"/><Relationship Id=\"rId3\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
         "Target=\"styles.xml\"/></Relationships>"},
        {"xl/sharedStrings.xml",
         "<?xml version=\"1.0\"?><sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "count=\"3\" uniqueCount=\"3\"><si><t>学号</t></si><si><r><t>姓</t></r><r><t>名</t></r></si>"
         "<si><t>照片</t><rPh><t>x</t></rPh></si></sst>"},
        {"xl/styles.xml", "<?xml version=\"1.0\"?><styleSheet "
                          "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                          "<numFmts><numFmt numFmtId=\"164\" "
                          "formatCode=\"yyyy-mm-dd\"/></numFmts><cellXfs><xf numFmtId=\"0\"/>"
                          "<xf numFmtId=\"164\"/><xf numFmtId=\"7\"/></cellXfs></styleSheet>"},
    };
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *src = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_error_fini(&error);
    zip_source_keep(src);
    zip_t *za = zip_open_from_source(src, ZIP_TRUNCATE, nullptr);
    for (const auto &[name, bytes] : parts)
        zip_file_add(za, name, zip_source_buffer(za, bytes.constData(), zip_uint64_t(bytes.size()), 0), 0);
    zip_file_add(za, "xl/worksheets/sheet1.xml",
                 zip_source_buffer(za, sheet.constData(), zip_uint64_t(sheet.size()), 0), 0);
    zip_close(za);
    zip_stat_t st;
    zip_source_stat(src, &st);
    QByteArray out(qsizetype(st.size), Qt::Uninitialized);
    zip_source_open(src);
    zip_source_read(src, out.data(), st.size);
    zip_source_close(src);
    zip_source_free(src);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumora::engine;
    const QByteArray file = package(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    try {
        const auto backend = openXlsxBytes(file, QStringLiteral("fuzz.xlsx"));
        for (const QString &name : backend->tableNames()) {
            const auto source = backend->openTable(name);
            for (qsizetype r = 0; r < source->recordCount(); ++r)
                for (int f = 0; f < source->fields().size(); ++f)
                    source->value(r, f).toText();
        }
        const XlsxWorkbook wb(file, QStringLiteral("fuzz.xlsx"));
        const XlsxSheet &sheet = wb.sheet(0);
        XlsxCellWrite text;
        text.kind = CellKind::Text;
        text.text = QStringLiteral("照片");
        if (sheet.cells.size() > 1) {
            text.row = sheet.cells[1].row;
            text.col = sheet.cells[1].col;
        }
        XlsxCellWrite number;
        number.kind = CellKind::Number;
        number.number = 7;
        number.style = XlsNumberStyle::Date;
        number.styleIndex = 1;
        number.row = sheet.cells.empty() ? 2 : std::min<quint32>(sheet.cells.back().row + 2, 1048575);
        number.col = 1;
        XlsxPatcher(wb, 0).apply({text, number});
    } catch (const EngineError &) {
    }
    return 0;
}
