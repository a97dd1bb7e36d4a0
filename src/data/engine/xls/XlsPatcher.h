#pragma once

#include "data/engine/xls/XlsWorkbook.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace lumora::engine {

// The value one cell is to hold.
struct XlsCellValue
{
    XlsCell::Kind kind = XlsCell::Kind::Blank; // Blank, Number, Text or Boolean
    double number = 0;                         // Number; Boolean as 0 or 1
    QString text;                              // Text
    XlsNumberStyle style = XlsNumberStyle::Plain;
};

// One cell to change: where, what it is to hold, and the XF it gets when
// it is made anew.
struct XlsCellChange
{
    quint32 row = 0;
    quint16 col = 0;
    XlsCellValue value;
    quint16 newXf = 15;
};

// Changes cells of a BIFF8 Workbook stream and nothing else a reader could
// notice, all of one statement's cells in one pass over the stream. Each
// cell: the cell's record is replaced (keeping its XF; a MULRK or
// MULBLANK is split around it; a formula loses its STRING record), or a
// record is inserted where the row's cells are and ROW and DIMENSIONS are
// widened. A text goes into the shared-string table (an equal plain entry
// is reused, else one is appended, in CONTINUE records past 8,224 bytes).
// Every stored stream offset after a change of length is moved with it:
// BOUNDSHEET, INDEX, the edited blocks' DBCELLs, EXTSST. The result is the
// stream that changing the cells one at a time, in order, would give (a
// cell changed twice is changed once, to its last value).
// Throws EngineError for a cell it cannot change safely (a shared or array
// formula, a row without its ROW record).
//
//     QByteArray stream = XlsPatcher(workbook).cell(0, 5, 3, value, 15);
//     QByteArray many = XlsPatcher(workbook).cells(0, {{5, 3, value, 15}, {6, 3, other, 15}});
class XlsPatcher
{
public:
    explicit XlsPatcher(const XlsWorkbook &workbook)
        : m_wb(workbook)
    {
    }

    // The stream with cell (row, col) of worksheet `sheet` holding `value`;
    // a cell made anew gets XF `newXf`. Empty when nothing changes (a blank
    // written where there is no cell).
    QByteArray cell(int sheet, quint32 row, quint16 col, const XlsCellValue &value, quint16 newXf) const
    {
        return cells(sheet, {{row, col, value, newXf}});
    }
    // The stream with every change made; of two changes of one cell the
    // later one wins. Empty when nothing changes.
    QByteArray cells(int sheet, const std::vector<XlsCellChange> &changes) const;

    // The EXTSST body for strings starting at `starts` (stream offsets) in
    // the records starting at `records`, one bucket every `bucketSize`.
    static QByteArray extSstBody(quint16 bucketSize, const std::vector<qint64> &starts,
                                 const std::vector<qint64> &records);

    // One whole record: type, length and body.
    static QByteArray record(quint16 type, const QByteArray &body);

private:
    // One change as planned: the cell it replaces, if any, and the
    // shared string its text takes.
    struct Planned
    {
        const XlsCellChange *change = nullptr;
        const XlsCell *old = nullptr;
        qint32 sstIndex = -1;
    };
    QByteArray singleRecord(const Planned &p) const;
    // The records replacing the record of `old`, a MULRK or MULBLANK split
    // around the cells of `changed` (sorted by column).
    QByteArray splitRecord(const XlsCell &old, const std::vector<const Planned *> &changed) const;
    qint64 insertionPoint(const XlsSheet &sheet, quint32 row, quint16 col) const;
    [[noreturn]] void refuse(const QString &why, const QString &chinese) const;

    const XlsWorkbook &m_wb;
};

} // namespace lumora::engine
