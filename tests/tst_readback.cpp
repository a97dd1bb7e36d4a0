#include "DbfWriter.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/RowFilter.h"
#include "data/TableLoader.h"
#include "data/WriteBack.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/io/ByteWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace lumora::engine;

// Every value the grid or the filter list shows reads back, through the
// literal a statement is built with, to exactly the records that show it:
// over every table in tests/data and over a table of hard cases.
class TstReadBack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void shownValues_data();
    void shownValues();
    void distinctValuesFilterToTheirRows_data() { tables(); }
    void distinctValuesFilterToTheirRows();
    void keysPickOnlyTheirRecords_data() { tables(); }
    void keysPickOnlyTheirRecords();
    void writesWholeNumbersExactly();

private:
    void tables();
    QTemporaryDir m_dir;
    QString m_hard; // the generated table
};

namespace {

// A Visual FoxPro field for hardCases(): name, type, width, flags.
struct VfpField
{
    QByteArray name;
    char type;
    int length;
    int decimals = 0;
    quint8 flags = 0;
};

// A cell of a hard-case record: text for C, N and L (padded as FoxPro
// pads them), a (Julian day, milliseconds) pair for T, or `null` for a
// Null in the nullable field.
struct Cell
{
    QByteArray text;
    qint32 day = 0;
    qint32 ms = 0;
    bool null = false;
};

const VfpField hardFields[] = {
    {"K", 'C', 12, 0, 0x02},                   // text keys: case, apostrophes, blanks, a Null
    {"ID", 'N', 18},                           // identity numbers beyond a double's precision
    {"BIG", 'N', 20},                          // the 64-bit limits
    {"AMT", 'N', 20, 4},                       // a fraction beyond a double's precision
    {"TS", 'T', 8},                            // milliseconds at the rounding boundaries
    {"NAME", 'C', 8},        {"NAME", 'C', 8}, // spelled like the field before it
    {"name", 'C', 8},                          // and once more in another case
    {"OK", 'L', 1},
};
constexpr int hardFieldCount = int(std::size(hardFields));

qint32 julian(int y, int m, int d)
{
    return qint32(QDate(y, m, d).toJulianDay());
}

QList<QList<Cell>> hardRecords()
{
    const qint32 d1 = julian(2024, 3, 9), d2 = julian(2024, 12, 31);
    const int t0930 = (9 * 3600 + 30 * 60 + 9) * 1000;
    const int tLast = 86399 * 1000;
    const auto t = [](QByteArray s) { return Cell{std::move(s)}; };
    const auto ts = [](qint32 day, qint32 ms) { return Cell{{}, day, ms}; };
    Cell null;
    null.null = true;
    return {
        {t("ABC"), t("110101199001011234"), t("9223372036854775807"), t("123456789012345.1234"),
         ts(d1, t0930 + 499), t("Zhang"), t("Li"), t("Li"), t("T")},
        {t("abc"), t("110101199001011232"), t("-9223372036854775808"), t("123456789012345.1233"),
         ts(d1, t0930 + 500), t("Zhang"), t("Wang"), t("wang"), t("F")},
        {t("Abc"), t("110101199001011233"), t("9223372036854775806"), t("0.1000"), ts(d1, t0930 + 999),
         t("Li"), t("Zhang"), t("Zhang"), t(" ")},
        {t("O'Brien"), t("110101199001011234"), t("9007199254740993"), t("-0.0000"), ts(d1, t0930 + 1000),
         t("O'Brien"), t("o'brien"), t("Li"), t("Y")},
        {t("o'brien"), t("-11010119900101123"), t("9007199254740992"), t("88.5000"), ts(d2, tLast + 500),
         t("Wang"), t("Li"), t("LI"), t("N")},
        {t(""), t(""), t("-0"), t(""), ts(d2 + 1, 0), t(""), t(" lead"), t("Li"), t("T")},
        {null, t("9007199254740993"), t("9223372036854775807"), t("1"), ts(d2, tLast + 499), t(" lead"),
         t(""), t("Li"), t("T")},
        {t(" lead"), t("0"), t("1"), t("123456789012345.2500"), ts(0, 0), t("Zhang"), t("Zhang"), t("x"),
         t("F")},
    };
}

// Writes the hard cases as a Visual FoxPro table (DbfWriter makes only
// dBase III tables, which have no T fields, no Null marks).
QByteArray hardTable()
{
    const QList<QList<Cell>> records = hardRecords();
    QByteArray descriptors;
    int offset = 1;
    for (const VfpField &f : hardFields) {
        QByteArray d(32, '\0');
        std::copy(f.name.begin(), f.name.end(), d.begin());
        d[11] = f.type;
        ByteWriter(d).le32(12, quint32(offset));
        d[16] = char(f.length);
        d[17] = char(f.decimals);
        d[18] = char(f.flags);
        descriptors += d;
        offset += f.length;
    }
    QByteArray nullFlags(32, '\0');
    std::copy_n("_NullFlags", 10, nullFlags.begin());
    nullFlags[11] = '0';
    ByteWriter(nullFlags).le32(12, quint32(offset));
    nullFlags[16] = 1;
    nullFlags[18] = 0x05;
    descriptors += nullFlags;
    const int recordLength = offset + 1;
    const int headerLength = 32 + int(descriptors.size()) + 1 + 263;

    QByteArray out(32, '\0');
    out[0] = 0x30;
    out[1] = 124;
    out[2] = 1;
    out[3] = 2;
    ByteWriter(out)
        .le32(4, quint32(records.size()))
        .le16(8, quint16(headerLength))
        .le16(10, quint16(recordLength));
    out[29] = 0x03;
    out += descriptors;
    out += '\x0D';
    out += QByteArray(263, '\0');
    for (const QList<Cell> &record : records) {
        QByteArray r(1, ' ');
        quint8 flags = 0;
        for (int i = 0; i < hardFieldCount; ++i) {
            const VfpField &f = hardFields[i];
            const Cell &c = record.at(i);
            if (c.null) {
                flags |= 1; // the only nullable field takes bit 0
                r += QByteArray(f.length, ' ');
            } else if (f.type == 'T') {
                QByteArray b(8, '\0');
                ByteWriter(b).le32(0, quint32(c.day)).le32(4, quint32(c.ms));
                r += b;
            } else if (c.text.size() > f.length) {
                qFatal("hard case %s is wider than field %s", c.text.constData(), f.name.constData());
            } else if (f.type == 'N') {
                r += c.text.rightJustified(f.length, ' ');
            } else {
                r += c.text.leftJustified(f.length, ' ');
            }
        }
        r += char(flags);
        out += r;
    }
    return out + '\x1A';
}

// The type codes a filter or a key condition is built for.
bool comparable(qint16 type)
{
    switch (type) {
    case DaoText:
    case DaoMemo:
    case DaoDouble:
    case DaoLong:
    case DaoInteger:
    case DaoByte:
    case DaoCurrency:
    case DaoSingle:
    case DaoDecimal:
    case DaoDate:
    case DaoBoolean: return true;
    default: return false;
    }
}

// One table loaded the way the program loads it.
struct Loaded
{
    DataSource ds;
    QStringList header;      // grid row 0, columns 1..n
    QList<QStringList> rows; // the data rows' cells, columns 1..n
};

QList<QStringList> gridRows(Database &db, const QString &table, const QString &where, QStringList *header)
{
    RosterModel grid;
    const TableLoad load = LoadTable(db, table, where, grid);
    if (header)
        for (int c = 1; c < grid.cols(); ++c)
            *header << grid.cellText(0, c);
    QList<QStringList> rows;
    for (int r = 1; r <= int(load.records); ++r) {
        QStringList cells;
        for (int c = 1; c < grid.cols(); ++c)
            cells << grid.cellText(r, c);
        rows << cells;
    }
    return rows;
}

Loaded load(const QString &path, const QString &table)
{
    Loaded l;
    l.ds.databasePath = path;
    l.ds.connectString = QStringLiteral("dBASE IV");
    l.ds.tableName = QLatin1Char('[') + table + QLatin1Char(']');
    const std::unique_ptr<Database> db = OpenDatabase(l.ds);
    for (const FieldInfo &f : db->fields(l.ds.tableName))
        l.ds.fieldTypes << f.daoType;
    l.rows = gridRows(*db, l.ds.tableName, QString(), &l.header);
    return l;
}

// The rows of `all` whose cells in `columns` show `values`.
QList<QStringList> showing(const QList<QStringList> &all, const QList<int> &columns,
                           const QStringList &values)
{
    QList<QStringList> out;
    for (const QStringList &row : all) {
        bool same = true;
        for (qsizetype i = 0; i < columns.size(); ++i)
            same = same && row.at(columns.at(i)) == values.at(i);
        if (same)
            out << row;
    }
    return out;
}

QString describe(const QList<QStringList> &rows)
{
    QStringList lines;
    for (const QStringList &r : rows)
        lines << r.join(QLatin1String(" | ")).left(200);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void TstReadBack::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_hard = m_dir.filePath(QStringLiteral("hard.dbf"));
    QFile file(m_hard);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(hardTable()) > 0);
}

// Every table of every .dbf in tests/data (so new fixtures join by
// themselves), and the generated hard cases.
void TstReadBack::tables()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("table");
    const QDir data(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf"));
    const QStringList files =
        data.entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << data.filePath(f) << QFileInfo(f).completeBaseName();
    QTest::newRow("generated hard cases") << m_hard << QStringLiteral("hard");
}

void TstReadBack::shownValues_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("shown");
    QTest::newRow("18 digits") << 0 << "ID"
                               << "110101199001011234";
    QTest::newRow("18 digits, a double's neighbour") << 1 << "ID"
                                                     << "110101199001011232";
    QTest::newRow("negative 17 digits") << 4 << "ID"
                                        << "-11010119900101123";
    QTest::newRow("2^53 + 1") << 3 << "BIG"
                              << "9007199254740993";
    QTest::newRow("int64 max") << 0 << "BIG"
                               << "9223372036854775807";
    QTest::newRow("int64 min") << 1 << "BIG"
                               << "-9223372036854775808";
    QTest::newRow("minus zero") << 5 << "BIG"
                                << "0";
    QTest::newRow("499 ms rounds down") << 0 << "TS"
                                        << "2024-03-09 09:30:09";
    QTest::newRow("500 ms rounds up") << 1 << "TS"
                                      << "2024-03-09 09:30:10";
    QTest::newRow("999 ms rounds up") << 2 << "TS"
                                      << "2024-03-09 09:30:10";
    QTest::newRow("last half second rolls into the next day") << 4 << "TS"
                                                              << "2025-01-01";
    QTest::newRow("last second stays") << 6 << "TS"
                                       << "2024-12-31 23:59:59";
    QTest::newRow("day 0 is Null") << 7 << "TS"
                                   << "";
    QTest::newRow("first NAME") << 1 << "NAME"
                                << "Zhang";
    QTest::newRow("second NAME") << 1 << "NAME_2"
                                 << "Wang";
    QTest::newRow("third, in another case") << 1 << "name_3"
                                            << "wang";
    QTest::newRow("Null text") << 6 << "K"
                               << "";
    QTest::newRow("leading blank kept") << 7 << "K"
                                        << " lead";
}

void TstReadBack::shownValues()
{
    QFETCH(int, row);
    QFETCH(QString, column);
    QFETCH(QString, shown);
    const Loaded l = load(m_hard, QStringLiteral("hard"));
    const int c = int(l.header.indexOf(column));
    QVERIFY2(c >= 0, qPrintable(l.header.join(QLatin1Char(','))));
    QCOMPARE(l.rows.at(row).at(c), shown);
}

// For every column a filter can be built for, each value of the filter
// list (select distinct) filters to exactly the rows that show it.
void TstReadBack::distinctValuesFilterToTheirRows()
{
    QFETCH(QString, path);
    QFETCH(QString, table);
    const Loaded l = load(path, table);
    const std::unique_ptr<Database> db = OpenDatabase(l.ds);
    int checked = 0;
    for (int c = 0; c < l.header.size(); ++c) {
        if (!comparable(l.ds.fieldTypes.at(c)))
            continue;
        const QString column = l.header.at(c);
        const QStringList values = DistinctValues(l.ds, column);
        QCOMPARE(QSet<QString>(values.begin(), values.end()).size(), values.size());
        for (const QString &value : values) {
            const FilterClause clause = BuildFilterClause(c + 1, column, value, l.ds.fieldTypes);
            QVERIFY2(clause.ok, qPrintable(column + QLatin1String(": ") + clause.error));
            const QList<QStringList> got = gridRows(*db, l.ds.tableName, clause.clause, nullptr);
            const QList<QStringList> expected = showing(l.rows, {c}, {value});
            QVERIFY2(got == expected, qPrintable(QStringLiteral("%1\ngot %2 rows:\n%3\nexpected %4 rows:\n%5")
                                                     .arg(clause.clause)
                                                     .arg(got.size())
                                                     .arg(describe(got))
                                                     .arg(expected.size())
                                                     .arg(describe(expected))));
            ++checked;
        }
    }
    QVERIFY(checked > 0);
}

// Each row's key conditions, for every comparable column alone and for
// neighbouring pairs, either are refused or select exactly the records
// that show the row's key values: the row itself, and others only when they
// show the same key values (the write-back then finds more than one).
void TstReadBack::keysPickOnlyTheirRecords()
{
    QFETCH(QString, path);
    QFETCH(QString, table);
    const Loaded l = load(path, table);
    const std::unique_ptr<Database> db = OpenDatabase(l.ds);
    QList<QList<int>> keySets;
    QList<int> usable;
    for (int c = 0; c < l.header.size(); ++c)
        if (comparable(l.ds.fieldTypes.at(c)))
            usable << c;
    for (qsizetype i = 0; i < usable.size(); ++i) {
        keySets << QList<int>{usable.at(i)};
        if (i + 1 < usable.size())
            keySets << QList<int>{usable.at(i), usable.at(i + 1)};
    }
    const QString select = RowQuery(l.header, l.ds.tableName, QString());
    QVERIFY(!select.isEmpty());
    int checked = 0;
    for (const QList<int> &columns : std::as_const(keySets)) {
        for (const QStringList &row : l.rows) {
            QList<WriteBackKey> keys;
            QStringList values;
            for (int c : columns) {
                keys << WriteBackKey{l.header.at(c), l.ds.fieldTypes.at(c), row.at(c)};
                values << row.at(c);
            }
            const WriteBackStatement conditions = BuildKeyConditions(keys);
            if (!conditions.ok) {
                // Only a blank key is refused: it names nobody.
                bool blank = false;
                for (int c : columns)
                    blank = blank || row.at(c).trimmed().isEmpty();
                QVERIFY2(blank, qPrintable(conditions.error));
                continue;
            }
            const QList<QStringList> got =
                gridRows(*db, l.ds.tableName, QStringLiteral(" where ") + conditions.statement, nullptr);
            const QList<QStringList> expected = showing(l.rows, columns, values);
            QVERIFY2(got == expected, qPrintable(QStringLiteral("%1\ngot %2 rows:\n%3\nexpected %4 rows:\n%5")
                                                     .arg(conditions.statement)
                                                     .arg(got.size())
                                                     .arg(describe(got))
                                                     .arg(expected.size())
                                                     .arg(describe(expected))));
            ++checked;
        }
    }
    QVERIFY(checked > 0);
}

// Whole numbers beyond a double's precision are written digit for digit,
// by the table writer and by an update, and a key on one changes only its
// own record, not the neighbour a double would confuse it with.
void TstReadBack::writesWholeNumbersExactly()
{
    const QString path = m_dir.filePath(QStringLiteral("ids.dbf"));
    DbfWriter::write(path, {{"ID", 'N', 18}, {"BIG", 'N', 20}, {"NM", 'C', 4}, {"AMT", 'N', 20, 2}},
                     {{Value::integer(110101199001011233), Value::text("-9223372036854775808"),
                       Value::text("a"), Value::integer(12345678901234567)},
                      {Value::text("110101199001011234"), Value::integer(9007199254740993), Value::text("b"),
                       Value::text("-1234567890123456.00")}});
    DataSource ds;
    ds.databasePath = path;
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[ids]");
    const auto shown = [&] {
        const std::unique_ptr<Database> db = OpenDatabase(ds);
        return gridRows(*db, ds.tableName, QString(), nullptr);
    };
    QCOMPARE(shown(),
             (QList<QStringList>{{"110101199001011233", "-9223372036854775808", "a", "12345678901234567"},
                                 {"110101199001011234", "9007199254740993", "b", "-1234567890123456"}}));
    {
        const std::unique_ptr<Database> db = OpenDatabase(ds);
        QCOMPARE(db->execute(QStringLiteral("update [ids] set NM='x' where ID=110101199001011234")), 1);
        QCOMPARE(db->execute(QStringLiteral("update [ids] set BIG=9223372036854775807 where NM='a'")), 1);
        QCOMPARE(db->execute(QStringLiteral("update [ids] set ID='9007199254740993' where NM='x'")), 1);
    }
    QCOMPARE(shown(),
             (QList<QStringList>{{"110101199001011233", "9223372036854775807", "a", "12345678901234567"},
                                 {"9007199254740993", "9007199254740993", "x", "-1234567890123456"}}));
}

QTEST_MAIN(TstReadBack)
#include "tst_readback.moc"
