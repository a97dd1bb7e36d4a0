#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTypes.h"
#include "data/engine/xlsx/ZipPackage.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QXmlStreamReader;

namespace lumora::engine {

// A rectangle of a worksheet, rows and columns 0-based and inclusive.
struct XlsxRange
{
    quint32 firstRow = 0, lastRow = 0;
    quint16 firstCol = 0, lastCol = 0;
    bool contains(quint32 row, quint16 col) const
    {
        return row >= firstRow && row <= lastRow && col >= firstCol && col <= lastCol;
    }
};

// One cell of a worksheet part. It costs its 24 bytes whatever the area the
// sheet's cells span.
struct XlsxCell
{
    enum Flag : quint8 {
        Formula = 1, // the cell holds a formula; its value is the one last calculated
    };
    quint32 row = 0;
    quint16 col = 0;
    CellKind kind = CellKind::Blank;
    quint8 flags = 0;
    quint32 style = 0; // index into the cell formats (cellXfs)
    qint32 text = -1;  // Text: >= 0 a shared string, < 0 the sheet's own text -text - 1
    double number = 0; // Number; Boolean as 0 or 1
};

// A worksheet part's cells, sorted by row and column, and what a write
// into them must respect.
struct XlsxSheet
{
    std::vector<XlsxCell> cells;
    // Index into cells of each row's first cell, one past the last row at
    // the end; empty when the rows are sparse (see index()).
    std::vector<quint32> rowStart;
    QStringList texts;                 // inline strings and formulas' texts
    std::vector<XlsxRange> arrays;     // array formulas' and data tables' ranges
    std::vector<XlsxRange> tableHeads; // the header rows of the sheet's tables
    struct Column
    {
        quint16 first = 0, last = 0;
        quint32 style = 0;
    };
    std::vector<Column> columns; // <col> styles

    const XlsxCell *cell(quint32 row, quint16 col) const;
    // Makes rowStart where it costs less than the cells do, so that a
    // roster's cells are found directly and a few cells far apart cost no
    // index.
    void index();
    // The style a new cell in this column gets: its <col>'s, else 0.
    quint32 columnStyle(quint16 col) const;
};

// A sheet as workbook.xml lists it, with the part its relationship names.
struct XlsxSheetEntry
{
    QString name;
    QString part;          // e.g. "xl/worksheets/sheet1.xml"; empty for no worksheet
    bool worksheet = true; // chart, dialog and macro sheets are no tables
};

// A defined name that refers to one rectangle of one worksheet.
struct XlsxDefinedName
{
    QString name;
    int scope = -1; // localSheetId, -1 for the whole workbook
    int sheet = -1;
    XlsxRange range;
};

// An .xlsx (or .xlsm) workbook: the package's workbook part, its
// relationships, shared strings and number formats read on construction,
// each worksheet part when first asked for. Transitional and Strict
// namespaces alike (elements are known by their local names). XML with a
// DOCTYPE or an entity reference is refused: no entity is ever expanded.
// Throws EngineError naming `what`.
class XlsxWorkbook
{
public:
    XlsxWorkbook(QByteArray file, QString what, qint64 partLimit = ZipPackage::kPartLimit);

    const ZipPackage &package() const { return m_zip; }
    const QString &what() const { return m_zip.what(); }
    bool uses1904() const { return m_1904; }
    const QList<XlsxSheetEntry> &sheets() const { return m_sheets; }
    const QList<XlsxDefinedName> &names() const { return m_names; }
    const QStringList &sharedStrings() const { return m_shared; }
    // The shared-strings part, empty when the workbook has none.
    const QString &sharedStringsPart() const { return m_sharedPart; }
    const XlsxSheet &sheet(int i) const;
    XlsNumberStyle style(quint32 xf) const
    {
        return xf < m_xfStyles.size() ? m_xfStyles[xf] : XlsNumberStyle::Plain;
    }
    const QString &text(const XlsxSheet &sheet, const XlsxCell &cell) const
    {
        return cell.text >= 0 ? m_shared.at(cell.text) : sheet.texts.at(-cell.text - 1);
    }
    SheetCellView view(const XlsxSheet &sheet, const XlsxCell &cell) const;

    // "AB12" -> row 11, column 27; false for no cell reference.
    static bool parseCellRef(QStringView ref, quint32 &row, quint16 &col);
    static QString cellRef(quint32 row, quint16 col);
    // The text of the element the reader stands on, to its end; refuses
    // what next() refuses (QXmlStreamReader::readElementText() would pass
    // over an entity reference).
    static QString elementText(QXmlStreamReader &x, const QString &what, const QString &part);
    // Reads the next token, refusing a DOCTYPE, an entity reference and
    // malformed XML.
    static int next(QXmlStreamReader &x, const QString &what, const QString &part);

private:
    struct Relationship
    {
        QString id, type, target;
    };
    QList<Relationship> relationships(const QString &part) const;
    void readWorkbook(const QString &part);
    void readSharedStrings(const QString &part);
    void readStyles(const QString &part);
    std::unique_ptr<XlsxSheet> readSheet(int i) const;
    void readTableHeads(const QString &sheetPart, const QStringList &ids, XlsxSheet &sheet) const;

    ZipPackage m_zip;
    bool m_1904 = false;
    QList<XlsxSheetEntry> m_sheets;
    QList<XlsxDefinedName> m_names;
    QStringList m_shared;
    QString m_sharedPart;
    std::vector<XlsNumberStyle> m_xfStyles;
    mutable std::vector<std::unique_ptr<XlsxSheet>> m_parsed;
};

} // namespace lumora::engine
