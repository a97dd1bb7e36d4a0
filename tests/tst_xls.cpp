#include "XlsOracles.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/io/ByteWriter.h"
#include "data/engine/xls/XlsBackend.h"
#include "data/engine/xls/XlsContainer.h"
#include "data/engine/xls/XlsPatcher.h"
#include "data/engine/xls/XlsTable.h"
#include "data/engine/xls/XlsWorkbook.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstring>
#include <map>

using namespace lumora::engine;
using namespace xlsoracles;

namespace {

const QString kExcel = QStringLiteral("Excel 8.0");

QString dataDir()
{
    return qEnvironmentVariable("LUMORA_TEST_DATA");
}

// Every workbook fixture but the sparse ones, whose sheets span all 65,536
// rows: a comparison cell by cell with ssconvert or GDAL takes half a
// minute on each, so their own tests read them.
QStringList fixtures()
{
    QStringList files;
    QDirIterator it(dataDir(), {QStringLiteral("*.xls")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (const QString file = it.next(); !file.contains(QLatin1String("/sparse/")))
            files << file;
    files.sort();
    return files;
}

QStringList sparseFixtures()
{
    return {dataDir() + QStringLiteral("/generated/sparse/corners_gnumeric.xls"),
            dataDir() + QStringLiteral("/generated/sparse/corners_libreoffice.xls")};
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// ---- a workbook stream built record by record ---------------------------

constexpr auto le16 = ByteWriter::appendLe16;
constexpr auto le32 = ByteWriter::appendLe32;
void f64(QByteArray &b, double d)
{
    ByteWriter::appendLe64(b, std::bit_cast<quint64>(d));
}
QByteArray rec(quint16 type, const QByteArray &body)
{
    QByteArray r;
    le16(r, type);
    le16(r, quint16(body.size()));
    return r + body;
}
QByteArray wide(const QString &s)
{
    QByteArray b;
    for (QChar c : s)
        le16(b, c.unicode());
    return b;
}
QByteArray cell(quint16 row, quint16 col, quint16 xf)
{
    QByteArray b;
    le16(b, row);
    le16(b, col);
    le16(b, xf);
    return b;
}
quint32 rkInt(qint32 v)
{
    return quint32(v) << 2 | 0x02;
}
quint32 rkFloat(double d) // d must fit in the top 30 bits
{
    quint64 bits;
    std::memcpy(&bits, &d, 8);
    return quint32(bits >> 32) & 0xFFFFFFFCu;
}

// A workbook of one sheet, "名单", exercising the reader: shared strings
// split over CONTINUE records (a text switching from one-byte to two-byte
// characters at the boundary, a rich text with phonetic data split inside
// its trailing data), LABEL, RK, MULRK, NUMBER, BOOLERR, FORMULA with each
// kind of result, BLANK, MULBLANK, built-in and Chinese custom formats.
QByteArray handmadeStream(bool uses1904)
{
    QByteArray g;
    QByteArray bof;
    le16(bof, 0x0600);
    le16(bof, 0x0005);
    bof += QByteArray(12, '\0');
    g += rec(0x0809, bof);
    QByteArray dm;
    le16(dm, uses1904 ? 1 : 0);
    g += rec(0x0022, dm);
    const auto format = [&](quint16 id, const QString &text) {
        QByteArray b;
        le16(b, id);
        le16(b, quint16(text.size()));
        b.append('\x01');
        g += rec(0x041E, b + wide(text));
    };
    format(164, QStringLiteral("yyyy\"年\"m\"月\"d\"日\""));
    format(165, QStringLiteral("¥#,##0.00"));
    for (quint16 ifmt : {0, 14, 164, 165}) { // XF 0..3
        QByteArray xf;
        le16(xf, 0);
        le16(xf, ifmt);
        xf += QByteArray(16, '\0');
        g += rec(0x00E0, xf);
    }
    const qsizetype boundSheet = g.size();
    QByteArray bs;
    le32(bs, 0);
    bs.append('\0');
    bs.append('\0');
    bs.append(char(2));
    bs.append('\x01');
    g += rec(0x0085, bs + wide(QStringLiteral("名单")));

    // A defined name over A1:B3 of the sheet, through the workbook's
    // reference to itself.
    QByteArray supBook;
    le16(supBook, 1);
    le16(supBook, 0x0401);
    g += rec(0x01AE, supBook);
    QByteArray externSheet;
    le16(externSheet, 1);
    le16(externSheet, 0);
    le16(externSheet, 0);
    le16(externSheet, 0);
    g += rec(0x0017, externSheet);
    QByteArray name;
    le16(name, 0);
    name.append('\0');
    name.append(char(3)); // three characters
    le16(name, 11);       // an expression of 11 bytes
    name += QByteArray(8, '\0');
    name.append('\x01');
    name += wide(QStringLiteral("花名册"));
    name.append('\x3B'); // ptgArea3d
    for (quint16 v : {0, 0, 2, 0, 1})
        le16(name, v);
    g += rec(0x0018, name);

    // SST: 学号 | ABCDEFGH中文 (split, flag switch) | 张三 (rich + phonetic, split) | 2024001A
    QByteArray sst;
    le32(sst, 6);
    le32(sst, 4);
    le16(sst, 2);
    sst.append('\x01');
    sst += wide(QStringLiteral("学号"));
    le16(sst, 10);
    sst.append('\x00');
    sst += "ABCDEF";
    QByteArray c1;
    c1.append('\x01');
    c1 += wide(QStringLiteral("GH中文"));
    le16(c1, 2);
    c1.append('\x0D');
    le16(c1, 1); // one formatting run
    le32(c1, 8); // eight bytes of phonetic data
    c1 += wide(QStringLiteral("张三"));
    le32(c1, 0x00010000); // the run
    c1 += QByteArray(3, '\x7F');
    QByteArray c2 = QByteArray(5, '\x7F'); // rest of the phonetic data
    le16(c2, 8);
    c2.append('\0');
    c2 += "2024001A";
    g += rec(0x00FC, sst) + rec(0x003C, c1) + rec(0x003C, c2);
    g += rec(0x000A, {});

    QByteArray s;
    QByteArray sbof;
    le16(sbof, 0x0600);
    le16(sbof, 0x0010);
    sbof += QByteArray(12, '\0');
    s += rec(0x0809, sbof);
    for (quint16 r = 0; r < 4; ++r) {
        QByteArray row;
        le16(row, r);
        le16(row, 0);
        le16(row, 7);
        row += QByteArray(10, '\0');
        s += rec(0x0208, row);
    }
    const auto labelSst = [&](quint16 r, quint16 c, quint32 i) {
        QByteArray b = cell(r, c, 0);
        le32(b, i);
        s += rec(0x00FD, b);
    };
    const auto label = [&](quint16 r, quint16 c, const QString &text) {
        QByteArray b = cell(r, c, 0);
        le16(b, quint16(text.size()));
        b.append('\x01');
        s += rec(0x0204, b + wide(text));
    };
    const auto number = [&](quint16 r, quint16 c, quint16 xf, double d) {
        QByteArray b = cell(r, c, xf);
        f64(b, d);
        s += rec(0x0203, b);
    };
    const auto rk = [&](quint16 r, quint16 c, quint16 xf, quint32 v) {
        QByteArray b = cell(r, c, xf);
        le32(b, v);
        s += rec(0x027E, b);
    };
    const auto boolErr = [&](quint16 r, quint16 c, quint8 v, bool error) {
        QByteArray b = cell(r, c, 0);
        b.append(char(v));
        b.append(char(error ? 1 : 0));
        s += rec(0x0205, b);
    };
    const auto formula = [&](quint16 r, quint16 c, quint16 xf, const QByteArray &value) {
        QByteArray b = cell(r, c, xf) + value;
        le16(b, 0);
        le32(b, 0);
        le16(b, 1);
        b.append('\x17'); // an expression of one token
        s += rec(0x0006, b);
    };
    const auto special = [](quint8 kind, quint8 v) {
        QByteArray b;
        b.append(char(kind));
        b.append('\0');
        b.append(char(v));
        b += QByteArray(3, '\0');
        le16(b, 0xFFFF);
        return b;
    };
    const auto doubleBytes = [](double d) {
        QByteArray b;
        f64(b, d);
        return b;
    };
    // Header: 学号 姓名 生日 金额 (empty) 学号 flag
    labelSst(0, 0, 0);
    label(0, 1, QStringLiteral("姓名"));
    label(0, 2, QStringLiteral("生日"));
    label(0, 3, QStringLiteral("金额"));
    labelSst(0, 5, 0);
    label(0, 6, QStringLiteral("flag"));
    // Record 0.
    number(1, 0, 0, 2024001);
    labelSst(1, 1, 2);
    number(1, 2, 2, 45000);
    rk(1, 3, 3, 12345 << 2 | 0x03); // 123.45 as an integer hundredth
    {
        QByteArray b;
        le16(b, 1);
        le16(b, 4);
        le16(b, 0);
        le32(b, rkFloat(1.5));
        le16(b, 0);
        le32(b, rkInt(7));
        le16(b, 5);
        s += rec(0x00BD, b); // MULRK E..F
    }
    boolErr(1, 6, 1, false);
    // Record 1.
    labelSst(2, 0, 3);
    labelSst(2, 1, 1);
    formula(2, 2, 1, doubleBytes(40000));
    number(2, 3, 3, 99.5);
    formula(2, 5, 0, special(0, 0));
    {
        QByteArray b;
        le16(b, 2);
        b.append('\x01');
        b += wide(QStringLiteral("甲"));
        QByteArray k;
        k.append('\x01');
        k += wide(QStringLiteral("乙"));
        s += rec(0x0207, b) + rec(0x003C, k); // STRING split by CONTINUE
    }
    formula(2, 6, 0, special(1, 0));
    // Record 2.
    rk(3, 0, 0, rkInt(2024003));
    formula(3, 1, 0, special(2, 0x07));
    {
        QByteArray b;
        le16(b, 3);
        le16(b, 2);
        le16(b, 0);
        le16(b, 0);
        le16(b, 3);
        s += rec(0x00BE, b); // MULBLANK C..D
    }
    boolErr(3, 5, 0x2A, true);
    s += rec(0x000A, {});

    QByteArray stream = g + s;
    const quint32 bofAt = quint32(g.size());
    for (int i = 0; i < 4; ++i)
        stream[boundSheet + 4 + i] = char(bofAt >> (8 * i));
    return stream;
}

// A compound file written by libgsf holding `stream` under `name`; a
// stream under 4,096 bytes lies in the mini stream.
QByteArray container(const QByteArray &stream, const char *name = "Workbook")
{
    GsfOutput *memory = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(memory);
    GsfOutput *child = gsf_outfile_new_child(ole, name, FALSE);
    gsf_output_write(child, size_t(stream.size()), reinterpret_cast<const guint8 *>(stream.constData()));
    gsf_output_close(child);
    g_object_unref(child);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    const QByteArray bytes(
        reinterpret_cast<const char *>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory))),
        qsizetype(gsf_output_size(memory)));
    g_object_unref(memory);
    return bytes;
}

QList<QList<Value>> allValues(const TableSource &t)
{
    QList<QList<Value>> rows;
    for (qsizetype r = 0; r < t.recordCount(); ++r) {
        QList<Value> row;
        for (int f = 0; f < t.fields().size(); ++f)
            row << t.value(r, f);
        rows << row;
    }
    return rows;
}

// ---- comparing with ssconvert's raw values -------------------------------

double serialOf(const Value &v)
{
    return XlsTable::dateToSerial(v.toDateTime(), false);
}

// Whether our value and ssconvert's raw text mean the same cell content.
bool sameAsRaw(const Value &v, const QString &raw, bool uses1904)
{
    bool ok = false;
    const double n = raw.toDouble(&ok);
    const auto near = [](double a, double b) {
        return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
    };
    switch (v.kind()) {
    case Value::Kind::Null: return raw.isEmpty() || raw.startsWith(QLatin1Char('#'));
    case Value::Kind::Boolean: return raw.compare(v.toText(), Qt::CaseInsensitive) == 0;
    case Value::Kind::Double:
    case Value::Kind::Integer:
    case Value::Kind::Currency: return ok && near(v.toDouble(), n);
    case Value::Kind::DateTime: // read to the second
        return ok && std::fabs((uses1904 ? XlsTable::dateToSerial(v.toDateTime(), true) : serialOf(v)) - n) <=
                         0.5 / 86400 + 1e-9;
    case Value::Kind::Text: {
        const QString t = v.textValue();
        if (t == raw || raw.compare(t, Qt::CaseInsensitive) == 0)
            return true;
        bool ours = false;
        const double m = t.toDouble(&ours);
        if (ours && ok)
            return near(m, n);
        // A date in a text column: ssconvert gives its serial.
        const QDateTime dt = QDateTime::fromString(t, t.size() > 10 ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                                    : QStringLiteral("yyyy-MM-dd"));
        return ok && dt.isValid() && near(XlsTable::dateToSerial(dt, uses1904), n);
    }
    default: return false;
    }
}

// A record whose every value is Null: its row may have no ROW record, and
// no photo's name is written into a record that has no key.
bool rowIsEmpty(const Recordset &rs, qsizetype r)
{
    for (int f = 0; f < rs.fields().size(); ++f)
        if (!rs.value(r, f).isNull())
            return false;
    return true;
}

// The one cell in which two CSV exports of a workbook differ; "" when none,
// "many" when more than one.
QString onlyDifference(const QMap<QString, Csv> &before, const QMap<QString, Csv> &after, QString *newText)
{
    newText->clear();
    if (after.size() != before.size())
        return QStringLiteral("many: %1 sheets, were %2").arg(after.size()).arg(before.size());
    QStringList found;
    for (auto it = after.begin(); it != after.end(); ++it) {
        const Csv &a = it.value();
        const Csv b = before.value(it.key());
        for (qsizetype r = 0; r < std::max(a.size(), b.size()); ++r)
            for (qsizetype c = 0;
                 c < std::max(r < a.size() ? a[r].size() : 0, r < b.size() ? b[r].size() : 0); ++c) {
                const QString x = r < a.size() && c < a[r].size() ? a[r][c] : QString();
                const QString y = r < b.size() && c < b[r].size() ? b[r][c] : QString();
                if (x != y) {
                    found << QStringLiteral("%1!R%2C%3").arg(it.key()).arg(r + 1).arg(c + 1);
                    *newText = x;
                }
            }
    }
    return found.size() > 1 ? QStringLiteral("many: ") + found.join(QLatin1Char(' ')) : found.value(0);
}

// What a strict reader finds amiss in a workbook stream, walking each
// sheet's records itself: a record longer than BIFF8 allows; a BOUNDSHEET,
// INDEX, DBCELL or EXTSST offset that does not lead where it should; cells
// out of row and column order or written twice; a MULRK or MULBLANK whose
// last column does not match its length; a STRING record not right after
// a text formula; a cell outside its ROW record's or the sheet's
// DIMENSIONS columns; shared-text references counted wrong. Each is named
// by what a write keeps (a sheet, a cell, a DBCELL's place), so that a
// write must add none to those a fixture has.
QStringList flaws(const QByteArray &stream)
{
    QStringList found;
    const XlsWorkbook wb(stream, QStringLiteral("x"));
    const auto u16 = [&](qint64 at) { return quint16(quint8(stream[at]) | quint8(stream[at + 1]) << 8); };
    const auto u32 = [&](qint64 at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    for (qint64 at = 0; at + 4 <= stream.size() && (u16(at) != 0 || u16(at + 2) != 0); at += 4 + u16(at + 2))
        if (u16(at + 2) > 8224)
            found << QStringLiteral("a record %1 of %2 bytes").arg(u16(at), 0, 16).arg(u16(at + 2));
    qint64 sstReferences = 0;
    for (const XlsSheetEntry &s : wb.sheets()) {
        if (u16(s.bof) != 0x0809)
            found << QStringLiteral("BOUNDSHEET %1").arg(s.name);
        if (s.type != 0 || u16(s.bof) != 0x0809)
            continue;
        std::map<quint32, qint64> firstCell;                       // row -> its first cell record
        std::map<quint32, std::pair<quint16, quint16>> rowColumns; // row -> ROW's columns [from, to)
        std::vector<std::pair<quint32, quint16>> cells;            // in stream order
        std::vector<qint64> dbCells, index;
        std::array<quint32, 4> dimensions{0, 0xFFFFFFFF, 0, 0xFFFF}; // rows, then columns, [from, to)
        bool textFormula = false;
        int depth = 0;
        for (qint64 at = s.bof; at + 4 <= stream.size(); at += 4 + u16(at + 2)) {
            const quint16 type = u16(at), length = u16(at + 2);
            const qint64 b = at + 4;
            depth += type == 0x0809 ? 1 : type == 0x000A ? -1 : 0;
            if (depth == 0)
                break;
            if (depth > 1)
                continue;
            if (type == 0x0207 && !textFormula) // named by the cell before it
                found << QStringLiteral("%1: a STRING record after R%2C%3")
                             .arg(s.name)
                             .arg(cells.empty() ? 0 : cells.back().first + 1)
                             .arg(cells.empty() ? 0 : cells.back().second + 1);
            if (type != 0x04BC && type != 0x0221 && type != 0x0236 && type != 0x003C)
                textFormula = type == 0x0006 && u16(b + 12) == 0xFFFF && quint8(stream[b + 6]) == 0;
            switch (type) {
            case 0x0208: rowColumns[u16(b)] = {u16(b + 2), u16(b + 4)}; break;
            case 0x0200: dimensions = {u32(b), u32(b + 4), u16(b + 8), u16(b + 10)}; break;
            case 0x00D7: dbCells.push_back(at); break;
            case 0x020B:
                for (int k = 16; k + 4 <= length; k += 4)
                    index.push_back(u32(b + k));
                break;
            case 0x00BD:
            case 0x00BE: {
                const int n = (length - 6) / (type == 0x00BD ? 6 : 2);
                if (u16(b + length - 2) != u16(b + 2) + n - 1)
                    found << QStringLiteral("%1!R%2C%3: %4 cells end at column %5")
                                 .arg(s.name)
                                 .arg(u16(b) + 1)
                                 .arg(u16(b + 2) + 1)
                                 .arg(n)
                                 .arg(u16(b + length - 2) + 1);
                for (int k = 0; k < n; ++k)
                    cells.emplace_back(u16(b), quint16(u16(b + 2) + k));
                firstCell.emplace(u16(b), at);
                break;
            }
            case 0x00FD: ++sstReferences; [[fallthrough]];
            case 0x0006:
            case 0x0201:
            case 0x0203:
            case 0x0204:
            case 0x0205:
            case 0x027E:
            case 0x00D6:
                cells.emplace_back(u16(b), u16(b + 2));
                firstCell.emplace(u16(b), at);
                break;
            default: break;
            }
        }
        for (size_t i = 0; i < cells.size(); ++i) {
            const auto [row, col] = cells[i];
            const QString name = QStringLiteral("%1!R%2C%3").arg(s.name).arg(row + 1).arg(col + 1);
            if (i > 0 && cells[i] <= cells[i - 1])
                found << name + (cells[i] == cells[i - 1] ? QStringLiteral(" twice")
                                                          : QStringLiteral(" out of order"));
            if (const auto r = rowColumns.find(row);
                r != rowColumns.end() && (col < r->second.first || col >= r->second.second))
                found << name + QStringLiteral(" outside its ROW record's columns");
            if (row < dimensions[0] || row >= dimensions[1] || col < dimensions[2] || col >= dimensions[3])
                found << name + QStringLiteral(" outside DIMENSIONS");
        }
        for (size_t k = 0; k < index.size(); ++k)
            if (qint64(index[k]) + 2 > stream.size() || u16(index[k]) != 0x00D7)
                found << QStringLiteral("INDEX %1 entry %2").arg(s.name).arg(k);
        // Each DBCELL leads to its block's first ROW record, then to the
        // first cell of each row, counted from the second ROW record, then
        // from the previous row's first cell.
        for (size_t i = 0; i < dbCells.size(); ++i) {
            const qint64 d = dbCells[i];
            if (u32(d + 4) == 0)
                continue;
            const qint64 firstRow = d - u32(d + 4);
            if (firstRow < 0 || u16(firstRow) != 0x0208) {
                found << QStringLiteral("DBCELL %1 #%2").arg(s.name).arg(i);
                continue;
            }
            qint64 target = firstRow + 20;
            for (int k = 0; 4 + 2 * (k + 1) <= u16(d + 2) && u16(firstRow + 20 * k) == 0x0208; ++k) {
                target += u16(d + 8 + 2 * k);
                const quint16 row = u16(firstRow + 20 * k + 4);
                if (firstCell.count(row) && target != firstCell[row])
                    found << QStringLiteral("DBCELL %1 #%2 row %3").arg(s.name).arg(i).arg(row + 1);
            }
        }
    }
    const XlsSstLayout &sst = wb.sst();
    if (sst.sst >= 0 && sst.total != sstReferences)
        found << QStringLiteral("SST counts %1 references more than the sheets hold")
                     .arg(qint64(sst.total) - sstReferences);
    if (sst.extSst >= 0) {
        const int length = u16(sst.extSst + 2);
        for (int k = 0; 2 + 8 * (k + 1) <= length; ++k) {
            const size_t i = size_t(k) * sst.bucketSize;
            if (i >= sst.starts.size() || u32(sst.extSst + 6 + 8 * k) != quint32(sst.starts[i]))
                found << QStringLiteral("EXTSST bucket %1").arg(k);
        }
    }
    return found;
}

// The flaws of `after` that `before` has not.
QStringList newFlaws(const QByteArray &before, const QByteArray &after)
{
    const QStringList old = flaws(before);
    QStringList added;
    for (const QString &f : flaws(after))
        if (!old.contains(f))
            added << f;
    return added;
}

} // namespace

class TstXls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsFixturesAsSsconvert_data();
    void readsFixturesAsSsconvert();
    void fixtureTypes_data();
    void fixtureTypes();
    void everyListedTableOpens_data();
    void everyListedTableOpens();
    void sheetScopedNames_data();
    void sheetScopedNames();
    void sparseSheetHoldsItsCells_data();
    void sparseSheetHoldsItsCells();
    void readsHandmadeRecords_data();
    void readsHandmadeRecords();
    void numbersInTextColumns_data();
    void numbersInTextColumns();
    void writesHandmadeCells_data();
    void writesHandmadeCells();
    void writesManyCellsAsOneAtATime_data();
    void writesManyCellsAsOneAtATime();
    void writesBackOneCell_data();
    void writesBackOneCell();
    void libreOfficeOpensWrittenFiles();
    void refusesWhatItCannotRead_data();
    void refusesWhatItCannotRead();
    void textLengthBoundary_data();
    void textLengthBoundary();
    void refusesWhileOfficeHoldsTheFile_data();
    void refusesWhileOfficeHoldsTheFile();
    void refusesFileChangedSinceOpened();

private:
    QTemporaryDir m_dir;
    int m_copies = 0;
    QString copyOf(const QString &path);
};

void TstXls::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(fixtures().size() >= 9, "the fixtures are missing");
    QVERIFY2(have("ssconvert") && have("ogr2ogr"), "ssconvert (gnumeric) and ogr2ogr (gdal-bin) are needed");
}

QString TstXls::copyOf(const QString &path)
{
    const QString dir = m_dir.filePath(QString::number(++m_copies));
    QDir().mkpath(dir);
    const QString copy = dir + QLatin1Char('/') + QFileInfo(path).fileName();
    QFile::copy(path, copy);
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    return copy;
}

// ---- reading -------------------------------------------------------------

void TstXls::readsFixturesAsSsconvert_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &f : fixtures())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

// Every worksheet of every fixture: the table's fields and records are the
// sheet's used cells, value for value what ssconvert reads, every cell
// outside them empty; chart sheets are no tables, hidden sheets are.
void TstXls::readsFixturesAsSsconvert()
try {
    QFETCH(QString, file);
    const QMap<QString, Csv> sheets = ssconvertSheets(file);
    QVERIFY(!sheets.isEmpty());
    auto db = Database::open(file, kExcel);
    const QStringList tables = db->tableNames();
    const XlsWorkbook wb(readWorkbookStream(readAll(file), file), file);
    for (auto it = sheets.begin(); it != sheets.end(); ++it) {
        const QString table = it.key() + QLatin1Char('$');
        const Csv &csv = it.value();
        if (!tables.contains(table)) {
            // Only a chart sheet is left out, and it has no cells.
            for (const QStringList &row : csv)
                QVERIFY2(row.join(QString()).isEmpty(), qPrintable(table));
            continue;
        }
        const QList<FieldInfo> fields = db->fields(table);
        auto source = openXlsWorkbook(file)->openTable(table);
        const XlsTable::Area area = XlsTable::usedArea(wb, int(tables.indexOf(table)));
        const auto rawAt = [&](qsizetype r, qsizetype c) {
            return r < csv.size() && c < csv[r].size() ? csv[r][c] : QString();
        };
        for (qsizetype r = 0; r < csv.size(); ++r)
            for (qsizetype c = 0; c < csv[r].size(); ++c) {
                const bool inside = !area.empty && r >= area.firstRow && r <= area.lastRow &&
                                    c >= area.firstCol && c <= area.lastCol;
                if (!inside)
                    QVERIFY2(rawAt(r, c).isEmpty(),
                             qPrintable(QStringLiteral("%1 R%2C%3").arg(table).arg(r).arg(c)));
            }
        if (area.empty) {
            QCOMPARE(source->recordCount(), 0);
            continue;
        }
        QCOMPARE(source->recordCount(), qsizetype(area.lastRow - area.firstRow));
        QCOMPARE(fields.size(), area.lastCol - area.firstCol + 1);
        for (int f = 0; f < fields.size(); ++f) {
            const QString header = rawAt(area.firstRow, area.firstCol + f).trimmed();
            if (!header.isEmpty() && !header.startsWith(QLatin1Char('#')))
                QVERIFY2(fields[f].name == header || fields[f].name.startsWith(header + QLatin1Char('_')) ||
                             sameAsRaw(Value::text(fields[f].name), header, wb.uses1904()),
                         qPrintable(fields[f].name + QStringLiteral(" / ") + header));
            else
                QCOMPARE(fields[f].name, QStringLiteral("F%1").arg(f + 1));
            for (qsizetype r = 0; r < source->recordCount(); ++r) {
                const Value v = source->value(r, f);
                const QString raw = rawAt(area.firstRow + 1 + r, area.firstCol + f);
                QVERIFY2(sameAsRaw(v, raw, wb.uses1904()),
                         qPrintable(QStringLiteral("%1 record %2 field %3: ours %4, ssconvert %5")
                                        .arg(table)
                                        .arg(r)
                                        .arg(fields[f].name, v.toText(), raw)));
            }
        }
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::fixtureTypes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QList<qint16>>("types");
    QTest::addColumn<QStringList>("firstRecord");
    const QString roster = dataDir() + QStringLiteral("/generated/roster_zh_30.xls");
    const QString types = dataDir() + QStringLiteral("/xls/readxl_types.xls");
    QTest::newRow("LibreOffice roster")
        << roster << "高一 学生名单 roster$"
        << QList<qint16>{DaoText, DaoText, DaoText, DaoDouble, DaoDate, DaoText}
        << QStringList{"2024000001", "聂姬", "高二(20)班", "20.5", "2009-04-19", ""};
    QTest::newRow("one column per type")
        << types << "guess_me$" << QList<qint16>{DaoText, DaoBoolean, DaoDate, DaoDouble, DaoText}
        << QStringList();
    // Numbers and texts mixed in one column: text, every cell kept.
    QTest::newRow("numbers among texts")
        << types << "numeric_coercion$" << QList<qint16>{DaoText} << QStringList();
    QTest::newRow("Chinese formats") << dataDir() + QStringLiteral("/xls/easyexcel_dataformat.xls")
                                     << "Sheet1$" << QList<qint16>{DaoDate,   DaoText, DaoText, DaoText,
                                                                   DaoDouble, DaoText, DaoText}
                                     << QStringList();
}

void TstXls::fixtureTypes()
try {
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QList<qint16>, types);
    QFETCH(QStringList, firstRecord);
    auto db = Database::open(file, kExcel);
    QList<qint16> got;
    for (const FieldInfo &f : db->fields(table))
        got << f.daoType;
    QCOMPARE(got, types);
    if (!firstRecord.isEmpty()) {
        const Recordset rs = db->openRecordset(table);
        QStringList texts;
        for (int f = 0; f < types.size(); ++f)
            texts << rs.value(0, f).toText();
        QCOMPARE(texts, firstRecord);
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::everyListedTableOpens_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &f : fixtures() + sparseFixtures())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

// Every table a fixture lists, sheets and defined names alike, is listed
// once and opens by its listed spelling, through a statement and through
// the backend, with as many records as the table says.
void TstXls::everyListedTableOpens()
try {
    QFETCH(QString, file);
    auto db = Database::open(file, kExcel);
    const QStringList tables = db->tableNames();
    QCOMPARE(QSet<QString>(tables.begin(), tables.end()).size(), tables.size());
    auto backend = openXlsWorkbook(file);
    for (const QString &table : tables) {
        const QString bracketed = QLatin1Char('[') + table + QLatin1Char(']');
        try {
            const auto source = backend->openTable(table);
            QCOMPARE(source->name(), table);
            QCOMPARE(db->fields(bracketed).size(), source->fields().size());
            QCOMPARE(db->openRecordset(QStringLiteral("select * from ") + bracketed).size(),
                     source->recordCount());
        } catch (const EngineError &e) {
            QFAIL(qPrintable(table + QStringLiteral(": ") + e.message()));
        }
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::sheetScopedNames_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"scoped_names_gnumeric.xls", "scoped_names_libreoffice.xls"})
        QTest::newRow(name) << dataDir() + QStringLiteral("/generated/") + QLatin1String(name);
}

// PaidDump is defined for the workbook (Sheet1!A1:C3), for Sheet1
// (Sheet1!A1:C5) and for Sheet2 (Sheet2!A1:B2), as gnumeric and
// LibreOffice write such a workbook. Each is a table of its own, its
// records the cells of its rectangle as ssconvert reads them.
void TstXls::sheetScopedNames()
try {
    QFETCH(QString, file);
    auto db = Database::open(file, kExcel);
    QCOMPARE(db->tableNames(),
             (QStringList{"Sheet1$", "Sheet2$", "PaidDump", "Sheet1$PaidDump", "Sheet2$PaidDump"}));
    const QMap<QString, Csv> sheets = ssconvertSheets(file);
    struct Expected
    {
        QString table, sheet;
        int lastRow, lastCol;
    };
    for (const Expected &e :
         {Expected{"PaidDump", "Sheet1", 2, 2}, Expected{"Sheet1$PaidDump", "Sheet1", 4, 2},
          Expected{"sheet2$paiddump", "Sheet2", 1, 1}}) {
        const Csv &csv = sheets.value(e.sheet);
        const Recordset rs = db->openRecordset(QStringLiteral("select * from [%1]").arg(e.table));
        QCOMPARE(rs.size(), e.lastRow);
        QCOMPARE(rs.fields().size(), e.lastCol + 1);
        for (int r = 0; r < e.lastRow; ++r)
            for (int c = 0; c <= e.lastCol; ++c)
                QVERIFY2(sameAsRaw(rs.value(r, c), csv.value(r + 1).value(c), false),
                         qPrintable(QStringLiteral("%1 R%2C%3: %4")
                                        .arg(e.table)
                                        .arg(r)
                                        .arg(c)
                                        .arg(rs.value(r, c).toText())));
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::sparseSheetHoldsItsCells_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &f : sparseFixtures())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

// Four cells at A1, IV1, A65536 and IV65536 make a table of 256 fields and
// 65,535 records; the workbook, a "select *" and the grid's loading query
// hold the four values, not the area between them.
void TstXls::sparseSheetHoldsItsCells()
try {
    QFETCH(QString, file);
    const XlsWorkbook wb(readWorkbookStream(readAll(file), file), file);
    QCOMPARE(std::count_if(wb.sheet(0).cells.begin(), wb.sheet(0).cells.end(),
                           [](const XlsCell &c) { return c.kind != XlsCell::Kind::Blank; }),
             4);
    auto db = Database::open(file, kExcel);
    const QString table = QLatin1Char('[') + db->tableNames().value(0) + QLatin1Char(']');
    const QList<FieldInfo> fields = db->fields(table);
    QCOMPARE(fields.size(), 256);
    QCOMPARE(fields.first().name, QStringLiteral("A1"));
    QCOMPARE(fields.last().name, QStringLiteral("IV1"));
    const Recordset all = db->openRecordset(QStringLiteral("select * from ") + table);
    QCOMPARE(all.size(), 65535);
    int values = 0;
    for (qsizetype r = 0; r < all.size(); ++r)
        for (int f = 0; f < 256; ++f)
            values += !all.value(r, f).isNull();
    QCOMPARE(values, 2);
    QCOMPARE(all.row(65534).first().toText(), QStringLiteral("A65536"));
    QCOMPARE(all.row(65534).last().toText(), QStringLiteral("IV65536"));

    QStringList names;
    for (const FieldInfo &f : fields)
        names << QLatin1Char('[') + f.name + QLatin1Char(']');
    const Recordset grid = db->openRecordset(
        QStringLiteral("select %1 as Item  from %2").arg(names.join(QStringLiteral(" & Chr(9) & ")), table));
    QVERIFY(grid.packsParts());
    QCOMPARE(grid.size(), 65535);
    for (qsizetype r = 0; r < 65534; ++r)
        if (!grid.packedParts(r).isNull())
            QFAIL(qPrintable(QStringLiteral("record %1 holds texts").arg(r)));
    const QStringList last = grid.parts(65534, 0);
    QCOMPARE(last.size(), 256);
    QCOMPARE(last.first(), QStringLiteral("A65536"));
    QCOMPARE(last.last(), QStringLiteral("IV65536"));
    QCOMPARE(grid.parts(0, 0), QStringList(256));
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::readsHandmadeRecords_data()
{
    QTest::addColumn<bool>("uses1904");
    QTest::newRow("1900 dates") << false;
    QTest::newRow("1904 dates") << true;
}

void TstXls::readsHandmadeRecords()
try {
    QFETCH(bool, uses1904);
    auto backend = openXlsBytes(container(handmadeStream(uses1904)), QStringLiteral("handmade.xls"));
    QCOMPARE(backend->tableNames(), (QStringList{"名单$", "花名册"}));
    auto named = backend->openTable(QStringLiteral("花名册"));
    QCOMPARE(named->fields().size(), 2);
    QCOMPARE(named->fields()[1].name, QStringLiteral("姓名"));
    QCOMPARE(allValues(*named),
             (QList<QList<Value>>{{Value::text("2024001"), Value::text("张三")},
                                  {Value::text("2024001A"), Value::text("ABCDEFGH中文")}}));
    auto t = backend->openTable(QStringLiteral("名单$"));
    QStringList names;
    QList<qint16> types;
    for (const FieldInfo &f : t->fields()) {
        names << f.name;
        types << f.daoType;
    }
    QCOMPARE(names, (QStringList{"学号", "姓名", "生日", "金额", "F5", "学号_2", "flag"}));
    QCOMPARE(types, (QList<qint16>{DaoText, DaoText, DaoDate, DaoCurrency, DaoDouble, DaoText, DaoBoolean}));
    const QDate epoch = uses1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    const QList<QList<Value>> expected{
        {Value::text("2024001"), Value::text("张三"), Value::date(epoch.addDays(45000)),
         Value::currency(1234500), Value::real(1.5), Value::text("7"), Value::boolean(true)},
        {Value::text("2024001A"), Value::text("ABCDEFGH中文"), Value::date(epoch.addDays(40000)),
         Value::currency(995000), Value(), Value::text("甲乙"), Value::boolean(false)},
        {Value::text("2024003"), Value(), Value(), Value(), Value(), Value(), Value()},
    };
    QCOMPARE(allValues(*t), expected);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::numbersInTextColumns_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("student number") << 2024000001.0 << "2024000001";
    QTest::newRow("computed sum") << 0.1 + 0.2 << "0.3";
    QTest::newRow("negative") << -0.25 << "-0.25";
    QTest::newRow("15 digits") << 123456789012345.0 << "123456789012345";
    QTest::newRow("18-digit ID as stored") << 123456789012345678.0 << "123456789012345680";
}

// A number in a text column reads as Excel shows it under General.
void TstXls::numbersInTextColumns()
try {
    QFETCH(double, number);
    QFETCH(QString, text);
    const XlsWorkbook wb(handmadeStream(false), QStringLiteral("handmade.xls"));
    XlsCell cell;
    cell.kind = XlsCell::Kind::Number;
    cell.number = number;
    QCOMPARE(XlsTable::cellText(wb, cell), text);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// Changing a cell of the handmade sheet changes that value alone: a cell
// inside a MULRK (split around it), an empty cell (inserted), a formula
// with a STRING record, a text into the shared strings.
void TstXls::writesHandmadeCells_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("field");
    QTest::addColumn<Value>("value");
    QTest::newRow("inside MULRK") << 0 << 5 << Value::text("新");
    QTest::newRow("first of MULRK") << 0 << 4 << Value::real(-2.25);
    QTest::newRow("empty cell") << 1 << 4 << Value::real(3);
    QTest::newRow("formula with STRING") << 1 << 5 << Value::text("O'Brien");
    QTest::newRow("existing shared text") << 1 << 1 << Value::text("张三");
    QTest::newRow("boolean") << 0 << 6 << Value::boolean(false);
    QTest::newRow("date") << 2 << 2 << Value::date(QDate(2010, 1, 2));
    QTest::newRow("blank out") << 0 << 0 << Value();
}

void TstXls::writesHandmadeCells()
try {
    QFETCH(int, record);
    QFETCH(int, field);
    QFETCH(Value, value);
    const QString path = m_dir.filePath(QStringLiteral("handmade%1.xls").arg(++m_copies));
    QVERIFY(writeAll(path, container(handmadeStream(false))));
    auto backend = openXlsWorkbook(path);
    auto t = backend->openTable(QStringLiteral("名单$"));
    QList<QList<Value>> expected = allValues(*t);
    t->checkUpdate(record, field, value);
    // Another table of the workbook writes between the check and the
    // write: both land.
    backend->openTable(QStringLiteral("花名册"))->update(1, 0, Value::text(QStringLiteral("2024001B")));
    t->update(record, field, value);
    expected[1][0] = Value::text(QStringLiteral("2024001B"));
    expected[record][field] = value;
    QCOMPARE(allValues(*t), expected);
    // And read afresh from the file, with no flaw the handmade stream has not.
    auto again = openXlsWorkbook(path)->openTable(QStringLiteral("名单$"));
    QCOMPARE(allValues(*again), expected);
    const QStringList added = newFlaws(handmadeStream(false), readWorkbookStream(readAll(path), path));
    QVERIFY2(added.isEmpty(), qPrintable(added.join(u'\n')));
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::writesManyCellsAsOneAtATime_data()
try {
    QTest::addColumn<QByteArray>("stream");
    for (const QString &f : fixtures()) {
        // DBCELL offsets that lead nowhere (gnumeric writes such) are kept
        // shifted, not mended, and the two ways may shift them differently.
        const QByteArray stream = readWorkbookStream(readAll(f), f);
        if (!flaws(stream).filter(QStringLiteral("DBCELL")).isEmpty())
            continue;
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << stream;
    }
    QTest::newRow("handmade") << handmadeStream(false);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// All of a statement's cells in one pass give, byte for byte, the stream
// that changing them one at a time gives: in every worksheet, cells of
// every kind of record (both cells of a two-cell MULRK or MULBLANK, every
// third of a longer one) and new cells beside the rows (after the last,
// before the first), taking new texts (one twice), shared texts, numbers,
// booleans and blanks, in no particular order. Each sheet's write adds no
// flaw, and ssconvert then reads every cell written and every other as
// in the fixture.
void TstXls::writesManyCellsAsOneAtATime()
try {
    QFETCH(QByteArray, stream);
    const XlsWorkbook original(stream, QStringLiteral("x.xls"));
    QByteArray written = stream;
    std::map<std::tuple<QString, quint32, quint16>, Value> values; // sheet, row, column
    int sheets = 0;
    for (int i = 0; i < original.sheets().size(); ++i) {
        const XlsWorkbook wb(written, QStringLiteral("x.xls"));
        const XlsTable::Area area = wb.sheets()[i].type == 0 ? XlsTable::usedArea(wb, i) : XlsTable::Area{};
        if (area.empty)
            continue;
        const XlsSheet &sheet = wb.sheet(i);
        std::vector<XlsCellChange> changes;
        const auto add = [&](quint32 row, quint16 col, int k) {
            for (const XlsCellChange &c : changes)
                if (c.row == row && c.col == col)
                    return; // a cell changed twice is changed once, to its last value
            XlsCellValue v;
            v.kind = std::array{XlsCell::Kind::Text, XlsCell::Kind::Number, XlsCell::Kind::Blank,
                                XlsCell::Kind::Boolean}[k % 4];
            v.text =
                k % 8 == 0 && wb.sstCount() > 0 ? wb.strings().at(0) : QStringLiteral("批量%1").arg(k % 7);
            v.number = k % 4 == 3 ? 1 : k * 1.5;
            changes.push_back({row, col, v, 15});
            const Value value = v.kind == XlsCell::Kind::Text      ? Value::text(v.text)
                                : v.kind == XlsCell::Kind::Number  ? Value::real(v.number)
                                : v.kind == XlsCell::Kind::Boolean ? Value::boolean(v.number != 0)
                                                                   : Value();
            values[{wb.sheets()[i].name, row, col}] = value;
        };
        int k = 0;
        std::map<qint64, int> place; // of a cell in its MULRK or MULBLANK
        for (size_t c = 0; c < sheet.cells.size(); ++c) {
            const XlsCell &cell = sheet.cells[c];
            const bool rk = cell.record == XlsCell::Record::MulRk;
            if (rk || cell.record == XlsCell::Record::MulBlank) {
                const int at = place[cell.offset]++;
                if ((cell.length - 10) / (rk ? 6 : 2) == 2 || at % 3 == 1)
                    add(cell.row, cell.col, k++);
            } else if (c % 3 == 0 && changes.size() < 40 && cell.record != XlsCell::Record::SharedFormula) {
                add(cell.row, cell.col, k++);
            }
        }
        for (const XlsRow &r : sheet.rows) {
            const auto [from, to] = sheet.rowCells(r.row);
            if (r.row < area.firstRow + 30 && r.row % 2 == 0)
                add(r.row, quint16(area.lastCol + 1), k++);
            if (from < to && sheet.cells[from].col > 0)
                add(r.row, quint16(sheet.cells[from].col - 1), k++);
        }
        std::reverse(changes.begin() + qsizetype(changes.size()) / 2, changes.end());

        QByteArray oneAtATime = written;
        for (const XlsCellChange &c : changes) {
            const XlsWorkbook now(oneAtATime, QStringLiteral("x.xls"));
            const QByteArray out = XlsPatcher(now).cell(i, c.row, c.col, c.value, c.newXf);
            if (!out.isEmpty())
                oneAtATime = out;
        }
        const QByteArray together = XlsPatcher(wb).cells(i, changes);
        QVERIFY2((together.isEmpty() ? written : together) == oneAtATime,
                 qPrintable(QStringLiteral("sheet %1, %2 changes").arg(i).arg(changes.size())));
        const QStringList added = newFlaws(written, oneAtATime);
        QVERIFY2(added.isEmpty(), qPrintable(QStringLiteral("sheet %1: ").arg(i) + added.join(u'\n')));
        written = oneAtATime;
        ++sheets;
    }
    QVERIFY(sheets > 0);

    const QString path = m_dir.filePath(QStringLiteral("many%1.xls").arg(++m_copies));
    QVERIFY(writeAll(path, container(stream)));
    const QMap<QString, Csv> before = ssconvertSheets(path);
    QVERIFY(!before.isEmpty());
    QVERIFY(writeAll(path, container(written)));
    const QMap<QString, Csv> after = ssconvertSheets(path);
    QCOMPARE(after.keys(), before.keys());
    const bool uses1904 = original.uses1904();
    for (auto it = after.begin(); it != after.end(); ++it) {
        const Csv &a = it.value(), &b = before[it.key()];
        for (qsizetype r = 0; r < std::max(a.size(), b.size()); ++r)
            for (qsizetype c = 0; c < std::max(a.value(r).size(), b.value(r).size()); ++c) {
                const QString now = a.value(r).value(c), was = b.value(r).value(c);
                const auto v = values.find({it.key(), quint32(r), quint16(c)});
                QVERIFY2(v == values.end() ? now == was : sameAsRaw(v->second, now, uses1904),
                         qPrintable(QStringLiteral("%1!R%2C%3: %4, was %5")
                                        .arg(it.key())
                                        .arg(r + 1)
                                        .arg(c + 1)
                                        .arg(now, was)));
            }
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// ---- writing back --------------------------------------------------------

void TstXls::writesBackOneCell_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("how");
    for (const QString &f : fixtures())
        for (const char *how : {"existing cell", "empty cell", "key with apostrophe", "Chinese text"})
            QTest::newRow(qPrintable(QFileInfo(f).fileName() + QStringLiteral(": ") + QLatin1String(how)))
                << f << QString::fromLatin1(how);
}

// One update through the engine, as the program sends it, on a copy of
// each fixture: ssconvert and GDAL then read exactly that cell changed,
// every other stream of the container is byte for byte the same, the
// stored offsets still point where they should, the permissions are kept.
void TstXls::writesBackOneCell()
try {
    QFETCH(QString, file);
    QFETCH(QString, how);
    const QString path = copyOf(file);

    // A cell of a text field, in the worksheet with the most records that
    // has one: empty or not as the case asks, in a record that is not
    // wholly empty.
    auto db = Database::open(path, kExcel);
    QString table;
    int target = -1;
    qsizetype record = -1, most = 0;
    for (const QString &t : db->tableNames()) {
        const Recordset rs = db->openRecordset(t);
        if (!t.endsWith(QLatin1Char('$')) || rs.size() <= most)
            continue;
        for (int f = 0; f < rs.fields().size(); ++f)
            for (qsizetype r = 0; r < rs.size() && rs.fields()[f].daoType == DaoText; ++r)
                if (rs.value(r, f).isNull() == (how == QLatin1String("empty cell")) && !rowIsEmpty(rs, r) &&
                    rs.size() > most) {
                    table = t;
                    target = f;
                    record = r;
                    most = rs.size();
                }
    }
    if (record < 0)
        QSKIP("no worksheet has such a cell in a text field");
    const QList<FieldInfo> fields = db->fields(table);
    const QString name = QLatin1Char('[') + table + QLatin1Char(']');
    const QString field = QLatin1Char('[') + fields[target].name + QLatin1Char(']');
    QString value = QStringLiteral("P%1.jpg").arg(record + 1);
    if (how == QLatin1String("Chinese text"))
        value = QStringLiteral("张三丰-照片.jpg");

    const bool byKey = how == QLatin1String("key with apostrophe");
    Recordset before = db->openRecordset(table);
    db.reset();
    if (byKey) {
        // The key goes into the cell first; the statement then finds the
        // record by it and writes the cell.
        openXlsWorkbook(path)->openTable(table)->update(record, target,
                                                        Value::text(QStringLiteral("O'Brien 欧布莱恩")));
        before = Database::open(path, kExcel)->openRecordset(table);
        value = QStringLiteral("O'Brien.jpg");
    }
    const QByteArray original = readAll(path);
    const QFile::Permissions permissions = QFile::permissions(path);
    const QMap<QString, Csv> ssBefore = ssconvertSheets(path);
    const QMap<QString, Csv> gdalBefore = gdalLayers(path);
    if (byKey) {
        auto keyed = Database::open(path, kExcel);
        const UpdateResult result = keyed->executeIfMatches(
            QStringLiteral("update %1 set %2='O''Brien.jpg' where %2='O''Brien 欧布莱恩'").arg(name, field),
            1);
        QCOMPARE(result.matched(), 1);
        QVERIFY(result.written);
    } else {
        // The update the write-back sends, by record number, on a field the
        // test can address whatever the table holds.
        auto source = openXlsWorkbook(path)->openTable(table);
        source->checkUpdate(record, target, Value::text(value));
        source->update(record, target, Value::text(value));
    }

    const QByteArray written = readAll(path);
    QCOMPARE(QFile::permissions(path), permissions);
    // Every stream but the workbook as it was.
    const QMap<QString, QByteArray> streamsBefore = streams(original), streamsAfter = streams(written);
    QCOMPARE(streamsBefore.keys(), streamsAfter.keys());
    for (auto it = streamsBefore.begin(); it != streamsBefore.end(); ++it)
        if (it.key() != QLatin1String("Workbook"))
            QVERIFY2(it.value() == streamsAfter.value(it.key()), qPrintable(it.key()));
    // No flaw the fixture had not.
    const QStringList added = newFlaws(readWorkbookStream(original, path), readWorkbookStream(written, path));
    QVERIFY2(added.isEmpty(), qPrintable(added.join(u'\n')));

    // The engine reads the new value, everything else as before.
    auto reread = Database::open(path, kExcel);
    const Recordset now = reread->openRecordset(table);
    QCOMPARE(now.size(), before.size());
    for (qsizetype r = 0; r < before.size(); ++r)
        for (int f = 0; f < fields.size(); ++f)
            QCOMPARE(now.value(r, f), r == record && f == target ? Value::text(value) : before.value(r, f));

    // ssconvert and GDAL: that one cell and nothing else.
    QString newText;
    const QString diff = onlyDifference(ssBefore, ssconvertSheets(path), &newText);
    QVERIFY2(!diff.isEmpty() && !diff.startsWith(QLatin1String("many")), qPrintable(diff));
    QCOMPARE(newText, value);
    if (!gdalBefore.isEmpty()) {
        const QString gdalDiff = onlyDifference(gdalBefore, gdalLayers(path), &newText);
        QVERIFY2(!gdalDiff.isEmpty() && !gdalDiff.startsWith(QLatin1String("many")), qPrintable(gdalDiff));
        QCOMPARE(newText, value);
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// LibreOffice opens every written copy without complaint: a headless
// conversion of each to CSV succeeds and shows the written texts.
void TstXls::libreOfficeOpensWrittenFiles()
try {
    if (!have("soffice"))
        QSKIP("LibreOffice (libreoffice-calc) is not installed");
    QStringList files, firstSheetWritten;
    for (const QString &f : fixtures()) {
        const QString path = copyOf(f);
        auto db = Database::open(path, kExcel);
        for (const QString &t : db->tableNames()) {
            auto source = openXlsWorkbook(path)->openTable(t);
            const int n = int(source->fields().size());
            if (source->recordCount() < 1 || !t.endsWith(QLatin1Char('$')))
                continue;
            // Every text field of the first record, existing or empty.
            for (int f = 0; f < n; ++f)
                if (source->fields()[f].daoType == DaoText)
                    source->update(0, f, Value::text(QStringLiteral("写回%1").arg(f)));
            if (t == db->tableNames().first())
                firstSheetWritten << path;
            break;
        }
        files << path;
    }
    QTemporaryDir out;
    QStringList args{QStringLiteral("--headless"),
                     QStringLiteral("--norestore"),
                     QStringLiteral("-env:UserInstallation=file://") +
                         out.filePath(QStringLiteral("profile")),
                     QStringLiteral("--convert-to"),
                     QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), // UTF-8
                     QStringLiteral("--outdir"),
                     out.path()};
    QCOMPARE(run(QStringLiteral("soffice"), args + files, 600000), 0);
    for (const QString &f : files) {
        const QString csv = out.filePath(QFileInfo(f).completeBaseName() + QStringLiteral(".csv"));
        QVERIFY2(QFileInfo::exists(csv), qPrintable(f));
        // The conversion holds the first sheet: the written texts are there.
        if (firstSheetWritten.contains(f))
            QVERIFY2(readText(csv).contains(QStringLiteral("写回")), qPrintable(f));
    }
    QVERIFY(firstSheetWritten.size() >= 5);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// ---- refusing ------------------------------------------------------------

void TstXls::refusesWhatItCannotRead_data()
try {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray roster = readAll(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"));
    const QByteArray stream = readWorkbookStream(roster, QStringLiteral("x"));
    const qsizetype afterBof = 4 + 16;

    QTest::newRow("empty file") << QByteArray() << "empty";
    QTest::newRow("text file") << QByteArray("学号,姓名\n1,张三\n") << "not an OLE2";
    // A zip is read as an .xlsx workbook, whatever its name says.
    QTest::newRow("damaged zip") << QByteArray("PK\x03\x04\x14\x00\x06\x00", 8) + QByteArray(200, 'x')
                                 << "zip container cannot be read";
    QTest::newRow("Excel 4 worksheet")
        << QByteArray("\x09\x04\x06\x00\x00\x00\x10\x00\x00\x00", 10) << "Excel 4.0";
    QTest::newRow("truncated container") << roster.left(roster.size() / 2) << "damaged";
    QTest::newRow("header only") << roster.left(512) << "damaged";
    QByteArray filePass = stream;
    filePass.insert(afterBof, QByteArray("\x2F\x00\x06\x00\x01\x00\x01\x00\x01\x00", 10));
    QTest::newRow("password") << container(filePass) << "password";
    QByteArray biff5 = stream;
    biff5[4] = 0x00;
    biff5[5] = 0x05;
    QTest::newRow("BIFF5 in a Workbook stream") << container(biff5) << "Excel 95";
    QTest::newRow("Excel 5 Book stream") << container(biff5, "Book") << "Excel 5.0";
    QTest::newRow("Word document") << container(stream, "WordDocument") << "no workbook";
    QTest::newRow("stream cut inside a sheet") << container(stream.left(stream.size() - 300)) << "damaged";
    QByteArray lying = stream;
    const qsizetype labelSst = lying.indexOf(QByteArray("\xFD\x00\x0A\x00", 4));
    lying[labelSst + 4 + 6] = char(0xFF);
    lying[labelSst + 4 + 7] = char(0xFF);
    QTest::newRow("shared text out of range") << container(lying) << "shared text";
    QByteArray badSheet = stream;
    const qsizetype bs = badSheet.indexOf(QByteArray("\x85\x00", 2));
    badSheet[bs + 4 + 3] = char(0x7F);
    QTest::newRow("sheet offset past the end") << container(badSheet) << "damaged";
    QByteArray longRecord = stream;
    longRecord[afterBof + 2] = char(0xFF);
    longRecord[afterBof + 3] = char(0x7F);
    QTest::newRow("record longer than the stream") << container(longRecord) << "damaged";
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::refusesWhatItCannotRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    const QString path = m_dir.filePath(QStringLiteral("名单%1.xls").arg(++m_copies));
    QVERIFY(writeAll(path, bytes));
    try {
        auto db = Database::open(path, kExcel);
        for (const QString &t : db->tableNames())
            db->openRecordset(t);
        QFAIL("no error");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(says), qPrintable(e.message()));
        QVERIFY2(e.message().contains(QFileInfo(path).fileName()), qPrintable(e.message()));
        QVERIFY2(e.chinese().contains(QFileInfo(path).fileName()), qPrintable(e.chinese()));
    }
}

void TstXls::textLengthBoundary_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::newRow("32767 one-byte characters") << QString(32767, QLatin1Char('a')) << true;
    QTest::newRow("32768 one-byte characters") << QString(32768, QLatin1Char('a')) << false;
    QTest::newRow("9000 Chinese characters over CONTINUE records") << QString(9000, QChar(0x5F20)) << true;
    QTest::newRow("32768 Chinese characters") << QString(32768, QChar(0x5F20)) << false;
}

// A cell holds at most 32,767 characters: the longest is written whole and
// read back by ssconvert, one more is refused with nothing written.
void TstXls::textLengthBoundary()
try {
    QFETCH(QString, text);
    QFETCH(bool, fits);
    const QString path = copyOf(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"));
    const QByteArray before = readAll(path);
    auto t = openXlsWorkbook(path)->openTable(QStringLiteral("高一 学生名单 roster$"));
    if (!fits) {
        QVERIFY_THROWS_EXCEPTION(EngineError, t->checkUpdate(2, 5, Value::text(text)));
        QVERIFY_THROWS_EXCEPTION(EngineError, t->update(2, 5, Value::text(text)));
        QCOMPARE(readAll(path), before);
        return;
    }
    t->update(2, 5, Value::text(text));
    t->update(3, 5, Value::text(QStringLiteral("after")));
    const Csv sheet = ssconvertSheets(path).value(QStringLiteral("高一 学生名单 roster"));
    QCOMPARE(sheet.value(3).value(5), text);
    QCOMPARE(sheet.value(4).value(5), QStringLiteral("after"));
    const QStringList added =
        newFlaws(readWorkbookStream(before, path), readWorkbookStream(readAll(path), path));
    QVERIFY2(added.isEmpty(), qPrintable(added.join(u'\n')));
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::refusesWhileOfficeHoldsTheFile_data()
{
    QTest::addColumn<QString>("lockFile");
    QTest::newRow("Excel or WPS") << "~$roster_zh_30.xls";
    QTest::newRow("LibreOffice") << ".~lock.roster_zh_30.xls#";
}

void TstXls::refusesWhileOfficeHoldsTheFile()
try {
    QFETCH(QString, lockFile);
    const QString path = copyOf(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"));
    const QByteArray before = readAll(path);
    QVERIFY(writeAll(QFileInfo(path).dir().filePath(lockFile), "owner"));
    auto db = Database::open(path, kExcel);
    try {
        db->execute(
            QStringLiteral("update [高一 学生名单 roster$] set 照片='1.jpg' where 学号='2024000001'"));
        QFAIL("written although the file is open elsewhere");
    } catch (const EngineError &e) {
        QCOMPARE(e.code(), EngineError::Code::Locked);
        QVERIFY2(e.chinese().startsWith(QStringLiteral("数据表被其他程序锁定：roster_zh_30.xls")),
                 qPrintable(e.chinese()));
    }
    QCOMPARE(readAll(path), before);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXls::refusesFileChangedSinceOpened()
try {
    const QString path = copyOf(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"));
    auto t = openXlsWorkbook(path)->openTable(QStringLiteral("高一 学生名单 roster$"));
    QByteArray other = readAll(path);
    other[other.size() - 1] = char(other[other.size() - 1] ^ 1);
    QVERIFY(writeAll(path, other));
    QVERIFY_THROWS_EXCEPTION(EngineError, t->update(0, 5, Value::text(QStringLiteral("x"))));
    QCOMPARE(readAll(path), other);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

QTEST_GUILESS_MAIN(TstXls)
#include "tst_xls.moc"
