#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/sheet/SheetTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

namespace lumora::engine {

// BIFF8 record types this program reads or patches.
namespace biff {
enum : quint16 {
    Formula = 0x0006,
    Eof = 0x000A,
    ExternSheet = 0x0017,
    Name = 0x0018,
    DateMode = 0x0022,
    FilePass = 0x002F,
    Continue = 0x003C,
    ColInfo = 0x007D,
    BoundSheet = 0x0085,
    MulRk = 0x00BD,
    MulBlank = 0x00BE,
    RString = 0x00D6,
    DbCell = 0x00D7,
    Xf = 0x00E0,
    Sst = 0x00FC,
    LabelSst = 0x00FD,
    ExtSst = 0x00FF,
    SupBook = 0x01AE,
    Blank = 0x0201,
    Number = 0x0203,
    Label = 0x0204,
    BoolErr = 0x0205,
    String = 0x0207,
    Row = 0x0208,
    Index = 0x020B,
    Rk = 0x027E,
    Format = 0x041E,
    Bof = 0x0809,
    Dimensions = 0x0200,
};
constexpr int kMaxRecordData = 8224; // longest record body BIFF8 allows
} // namespace biff

// One cell as the sheet's records hold it.
struct XlsCell
{
    // Blank: BLANK, MULBLANK; Number: NUMBER, RK, MULRK, a formula's
    // number; Text: LABELSST, LABEL, RSTRING, a formula's string; Boolean:
    // BOOLERR, a formula's boolean; Error: an error value, read as Null.
    using Kind = CellKind;
    enum class Record : quint8 {
        Single, // a record of its own
        MulRk,  // one of the cells of a MULRK
        MulBlank,
        Formula,      // a FORMULA record, with its STRING record when the result is text
        SharedFormula // a formula sharing its expression with others, or an array or table formula
    };
    quint32 row = 0;
    quint16 col = 0;
    quint16 xf = 0;
    Kind kind = Kind::Blank;
    Record record = Record::Single;
    qint32 text = -1;  // Text: index into XlsWorkbook::strings()
    qint32 length = 0; // bytes of its record(s) from `offset`, a formula's STRING included
    double number = 0; // Number; Boolean as 0 or 1
    qint64 offset = 0; // stream offset of its record's header
};

// One ROW record.
struct XlsRow
{
    quint32 row = 0;
    qint64 offset = 0;
};

// A worksheet's records: cells sorted by row and column, and where the
// records that describe the cells lie. It costs memory for the cells it
// holds, not for the area they span: four cells at A1 and IV65536 are four
// cells, found by binary search; an index of the rows is kept only where it
// costs less than the cells do.
struct XlsSheet
{
    std::vector<XlsCell> cells;
    // Index into cells of each row's first cell, one past the last row at
    // the end; empty when the rows are sparse.
    std::vector<quint32> rowStart;
    std::vector<XlsRow> rows;    // sorted by row
    std::vector<qint64> dbCells; // offsets of its DBCELL records, in stream order
    qint64 dimensions = -1;      // offset of DIMENSIONS, or -1
    qint64 index = -1;           // offset of INDEX, or -1
    qint64 end = 0;              // offset just past its EOF
    struct ColInfo
    {
        quint16 first = 0, last = 0, xf = 15;
    };
    std::vector<ColInfo> colInfo; // COLINFO records

    // The cell at (row, col), or null.
    const XlsCell *cell(quint32 row, quint16 col) const;
    // The cells of one row, as a range of `cells`.
    std::pair<size_t, size_t> rowCells(quint32 row) const;
    const XlsRow *rowRecord(quint32 row) const;
    // The XF a new cell in this column gets: COLINFO's, else the default 15.
    quint16 columnXf(quint16 col) const;
};

// A sheet as BOUNDSHEET lists it.
struct XlsSheetEntry
{
    QString name;
    quint8 state = 0;      // 0 visible, 1 hidden, 2 very hidden
    quint8 type = 0;       // 0 worksheet, 1 macro sheet, 2 chart, 6 VBA module
    qint64 bof = 0;        // lbPlyPos: stream offset of the sheet's BOF
    qint64 boundSheet = 0; // offset of the BOUNDSHEET record
};

// A defined name that refers to one rectangle of one sheet.
struct XlsDefinedName
{
    QString name;
    int scope = -1; // the sheet it is defined for (NAME's itab - 1), -1 for the whole workbook
    int sheet = -1; // index into sheets() of the sheet it refers to
    quint32 firstRow = 0, lastRow = 0;
    quint16 firstCol = 0, lastCol = 0;
};

// The shared-string table's layout, as the writer needs it.
struct XlsSstLayout
{
    qint64 sst = -1;                  // offset of the SST record, -1 when there is none
    quint32 total = 0;                // cstTotal
    quint32 unique = 0;               // cstUnique as the record says
    qint64 lastRecord = -1;           // offset of the last record of the SST (SST or CONTINUE)
    int lastLength = 0;               // its body length
    qint64 extSst = -1;               // offset of EXTSST, -1 when there is none
    quint16 bucketSize = 8;           // EXTSST's dsst
    std::vector<qint64> starts;       // stream offset of each string's first byte
    std::vector<qint64> startRecords; // offset of the record holding that byte
    std::vector<bool> plain;          // the string has no formatting runs nor phonetic text
};

// A parsed Workbook stream (BIFF8). Construction reads the globals;
// sheet(i) reads a worksheet's records the first time it is asked for.
// Throws EngineError naming `what` for an encrypted, pre-97 or damaged
// workbook.
class XlsWorkbook
{
public:
    XlsWorkbook(QByteArray stream, QString what);

    const QByteArray &stream() const { return m_stream; }
    const QString &what() const { return m_what; }
    bool uses1904() const { return m_1904; }
    const QList<XlsSheetEntry> &sheets() const { return m_sheets; }
    const QList<XlsDefinedName> &names() const { return m_names; }
    const QStringList &strings() const { return m_strings; }
    const XlsSstLayout &sst() const { return m_sst; }
    int sstCount() const { return int(m_sst.starts.size()); }
    // Worksheet i's cells; throws for a sheet that is not a worksheet.
    const XlsSheet &sheet(int i) const;
    XlsNumberStyle style(quint16 xf) const;
    QList<EngineNote> notes() const { return m_notes; }

    // The offset of every record header, in stream order, stopping at the
    // end of the stream: the map a patch uses to move stored offsets.
    static std::vector<qint64> recordOffsets(const QByteArray &stream, const QString &what);

    // A number format's style: dates by their y/m/d/h/s codes outside
    // quotes and brackets (elapsed-time brackets count), currency by a
    // currency sign.
    static XlsNumberStyle classifyFormat(const QString &format);
    static XlsNumberStyle builtinStyle(quint16 formatId);

private:
    void readGlobals();
    void readSst(qint64 sstOffset, const std::vector<std::pair<qint64, int>> &segments);
    void readName(qint64 offset, int length, const std::vector<std::array<quint16, 3>> &xti, int selfBook);
    std::unique_ptr<XlsSheet> readSheet(int i) const;

    QByteArray m_stream;
    QString m_what;
    bool m_1904 = false;
    QList<XlsSheetEntry> m_sheets;
    QList<XlsDefinedName> m_names;
    mutable QStringList m_strings; // SST entries first, then other cells' texts
    XlsSstLayout m_sst;
    std::vector<XlsNumberStyle> m_xfStyles;
    mutable std::vector<std::unique_ptr<XlsSheet>> m_parsed;
    QList<EngineNote> m_notes;
};

} // namespace lumora::engine
