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

// Changes one cell of a BIFF8 Workbook stream and nothing else a reader
// could notice: the cell's record is replaced (keeping its XF; a MULRK or
// MULBLANK is split around it; a formula loses its STRING record), or a
// record is inserted where the row's cells are and ROW and DIMENSIONS are
// widened. A text goes into the shared-string table (an equal plain entry
// is reused, else one is appended, in CONTINUE records past 8,224 bytes).
// Every stored stream offset after a change of length is moved with it:
// BOUNDSHEET, INDEX, the edited block's DBCELL, EXTSST. Throws EngineError
// for a cell it cannot change safely (a shared or array formula, a row
// without its ROW record).
//
//     QByteArray stream = XlsPatcher(workbook).cell(0, 5, 3, value, 15);
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
    QByteArray cell(int sheet, quint32 row, quint16 col, const XlsCellValue &value, quint16 newXf) const;

    // The EXTSST body for strings starting at `starts` (stream offsets) in
    // the records starting at `records`, one bucket every `bucketSize`.
    static QByteArray extSstBody(quint16 bucketSize, const std::vector<qint64> &starts,
                                 const std::vector<qint64> &records);

    // One whole record: type, length and body.
    static QByteArray record(quint16 type, const QByteArray &body);

private:
    // One stretch of the old stream [from, to) replaced by `bytes`.
    struct Splice
    {
        qint64 from = 0;
        qint64 to = 0;
        QByteArray bytes;
    };
    static qint64 mapOffset(const std::vector<Splice> &splices, qint64 p);
    QByteArray cellRecords(const XlsCell *old, quint32 row, quint16 col, const XlsCellValue &v, quint16 xf,
                           qint32 sstIndex) const;
    qint64 insertionPoint(const XlsSheet &sheet, quint32 row, quint16 col) const;
    [[noreturn]] void refuse(const QString &why, const QString &chinese) const;

    const XlsWorkbook &m_wb;
};

} // namespace lumora::engine
