// Delimited text rosters against Python's csv module as the independent
// reader: every field of every fixture reads as it reads them; a write
// changes exactly one field's bytes, over every dialect (byte-order mark or
// none, CRLF, LF or CR, quoted or not, GBK, UTF-8 or UTF-16, a trailing
// empty column); a refused write leaves the file byte for byte as it was;
// the delimiter is sniffed from the first records only, and a record the
// sniffed window cuts does not vote.

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/csv/CsvBackend.h"
#include "data/engine/csv/CsvCell.h"
#include "data/engine/csv/CsvLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace lumora::engine;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every row of the file as Python's csv module reads it.
QList<QStringList> pythonRows(const QString &path, const QString &encoding, const QString &delimiter)
{
    static const char script[] = "import csv, json, sys\n"
                                 "rows = list(csv.reader(open(sys.argv[1], encoding=sys.argv[2], newline=''),"
                                 " delimiter=sys.argv[3]))\n"
                                 "sys.stdout.write(json.dumps(rows))\n";
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), path, encoding, delimiter});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        python.kill();
        python.waitForFinished();
        return {};
    }
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        rows.append(QStringList());
        for (const QJsonValue &field : row.toArray())
            rows.last() << field.toString();
    }
    return rows;
}

// The rows a spreadsheet shows: trailing rows and columns without text left out.
QList<QStringList> usedRows(QList<QStringList> rows)
{
    const auto blank = [](const QStringList &row) {
        return std::all_of(row.begin(), row.end(), [](const QString &f) { return f.isEmpty(); });
    };
    while (!rows.isEmpty() && blank(rows.last()))
        rows.removeLast();
    while (!rows.isEmpty() && std::all_of(rows.begin(), rows.end(), [](const QStringList &r) {
        return r.size() > 1 && r.last().isEmpty();
    }))
        for (QStringList &row : rows)
            row.removeLast();
    return rows;
}

const QString kKey = QStringLiteral("Mary O'Connor（玛丽）"); // record 2's 姓名
constexpr int kPhoto = 5;                                     // the 照片 field

} // namespace

class TstCsv : public QObject
{
    Q_OBJECT
private slots:
    void readsAsPythonReads_data();
    void readsAsPythonReads();
    void writeChangesOneField_data();
    void writeChangesOneField();
    void refusedWriteLeavesTheFile_data();
    void refusedWriteLeavesTheFile();
    void racingWritersLoseNothing();
    void namedEncodingWins_data();
    void namedEncodingWins();
    void sniffsTheFirstRecordsOnly_data();
    void sniffsTheFirstRecordsOnly();
    void identifiersStayText_data();
    void identifiersStayText();

private:
    // The fixtures: file, Python's name of its encoding, its delimiter.
    static void addFixtures();
    QString copy(const QString &file);
    QTemporaryDir m_dir;
};

void TstCsv::addFixtures()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");
    QTest::newRow("UTF-8, LF") << "roster_zh_30.csv"
                               << "utf-8"
                               << ",";
    QTest::newRow("GBK, LF, quoted by LibreOffice") << "roster_zh_30_lo_gbk_quoted.csv"
                                                    << "gbk"
                                                    << ",";
    QTest::newRow("UTF-16LE, tab") << "roster_zh_30_lo_utf16.txt"
                                   << "utf-16"
                                   << "\t";
    QTest::newRow("GBK, CRLF, trailing column") << "roster_zh_30_excel_gbk.csv"
                                                << "gbk"
                                                << ",";
    QTest::newRow("UTF-8 BOM, semicolon, CR") << "roster_zh_30_bom_semicolon_cr.csv"
                                              << "utf-8-sig"
                                              << ";";
}

QString TstCsv::copy(const QString &file)
{
    const QString path = m_dir.filePath(file);
    QFile::remove(path);
    if (!QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/csv/") + file, path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void TstCsv::readsAsPythonReads_data()
{
    addFixtures();
}

void TstCsv::readsAsPythonReads()
{
    QFETCH(QString, file);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    const QString path = copy(file);
    const QList<QStringList> rows = usedRows(pythonRows(path, encoding, delimiter));
    QVERIFY(rows.size() > 1);

    const auto db = Database::open(path, QStringLiteral("Text"));
    const QString table = QFileInfo(file).completeBaseName();
    QCOMPARE(db->tableNames(), QStringList{table});
    const QList<FieldInfo> fields = db->fields(table);
    QStringList names;
    for (const FieldInfo &f : fields)
        names << f.name;
    QCOMPARE(names, rows.first());
    const Recordset rs = db->openRecordset(QLatin1Char('[') + table + QLatin1Char(']'));
    QCOMPARE(rs.size(), rows.size() - 1);
    for (qsizetype r = 0; r < rs.size(); ++r)
        for (int f = 0; f < fields.size(); ++f) {
            const QString expected = rows[r + 1].value(f);
            const Value v = rs.value(r, f);
            const QString where =
                QStringLiteral("record %1 field %2: %3 / %4").arg(r).arg(f).arg(expected, v.toText());
            if (expected.isEmpty()) {
                QVERIFY2(v.isNull(), qPrintable(where));
                continue;
            }
            switch (fields[f].daoType) {
            case DaoDouble: QVERIFY2(v.toDouble() == expected.toDouble(), qPrintable(where)); break;
            case DaoDate:
                QVERIFY2(v.toDateTime().date() == QDate::fromString(expected, Qt::ISODate),
                         qPrintable(where));
                break;
            default: QVERIFY2(v.kind() == Value::Kind::Text && v.textValue() == expected, qPrintable(where));
            }
        }
}

void TstCsv::writeChangesOneField_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("field");
    const QStringList values{QStringLiteral("20240003.jpg"), QStringLiteral("张三,1.jpg"),
                             QStringLiteral("O'Brien \"Bob\"\r\n第二行")};
    const auto add = [&](const char *name, const char *file, const char *encoding, const char *delimiter) {
        for (qsizetype i = 0; i < values.size(); ++i)
            QTest::addRow("%s, photo %lld", name, i) << file << encoding << delimiter << values[i] << kPhoto;
        QTest::addRow("%s, name", name) << file << encoding << delimiter << QStringLiteral("玛丽") << 1;
    };
    add("UTF-8, LF", "roster_zh_30.csv", "utf-8", ",");
    add("GBK quoted", "roster_zh_30_lo_gbk_quoted.csv", "gbk", ",");
    add("UTF-16LE tab", "roster_zh_30_lo_utf16.txt", "utf-16", "\t");
    add("GBK CRLF trailing column", "roster_zh_30_excel_gbk.csv", "gbk", ",");
    add("UTF-8 BOM semicolon CR", "roster_zh_30_bom_semicolon_cr.csv", "utf-8-sig", ";");
}

void TstCsv::writeChangesOneField()
{
    QFETCH(QString, file);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    QFETCH(QString, value);
    QFETCH(int, field);
    const QString path = copy(file);
    const QByteArray before = readAll(path);
    QList<QStringList> expected = pythonRows(path, encoding, delimiter);
    QVERIFY(expected.size() > 3);
    expected[3][field] = value;

    const QString table = QFileInfo(file).completeBaseName();
    const auto db = Database::open(path, QStringLiteral("Text"));
    const QString fieldName = db->fields(table).at(field).name;
    const QString statement =
        QStringLiteral("update [%1] set [%2]='%3' where 姓名='%4'")
            .arg(table, fieldName, QString(value).replace(QLatin1Char('\''), QLatin1String("''")),
                 QString(kKey).replace(QLatin1Char('\''), QLatin1String("''")));
    db->checkValue(table, field, Value::text(value)); // takes it, as the write does
    QCOMPARE(db->execute(statement), 1);
    const QByteArray after = readAll(path);

    // Python sees exactly that one field changed.
    QCOMPARE(pythonRows(path, encoding, delimiter), expected);
    // The file is the old one with one run of bytes replaced by the new
    // field, quoted only when it must be, in the file's encoding.
    const bool quote =
        value.contains(delimiter) || value.contains(QLatin1Char('"')) || value.contains(QLatin1Char('\n'));
    const QString written = quote ? QLatin1Char('"') +
                                        QString(value).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                                        QLatin1Char('"')
                                  : value;
    QStringEncoder encoder(encoding == QLatin1String("gbk")      ? "GBK"
                           : encoding == QLatin1String("utf-16") ? "UTF-16LE"
                                                                 : "UTF-8");
    const QByteArray bytes = encoder.encode(written);
    const qsizetype oldLength = before.size() - after.size() + bytes.size();
    qsizetype common = 0;
    while (common < before.size() && common < after.size() && before[common] == after[common])
        ++common;
    bool found = false;
    for (qsizetype at = 0; at <= common && !found; ++at)
        found = after.mid(at, bytes.size()) == bytes && after.left(at) == before.left(at) &&
                after.mid(at + bytes.size()) == before.mid(at + oldLength);
    QVERIFY2(found, "more than the one field's bytes changed, or they are not as expected");
}

void TstCsv::refusedWriteLeavesTheFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("lockFile");  // made beside the file first
    QTest::addColumn<QByteArray>("append"); // bytes added to the file first
    QTest::addColumn<bool>("holdLock");     // another open file holds a write lock on it
    QTest::addColumn<QString>("reason");    // in the refusal's English text
    const QString gbk = QStringLiteral("roster_zh_30_excel_gbk.csv");
    QTest::newRow("beyond GBK") << gbk << "😀"
                                << "" << QByteArray() << false << "no form for";
    QTest::newRow("beyond GBK, not GB18030") << gbk << "𠀀"
                                             << "" << QByteArray() << false << "no form for";
    QTest::newRow("open in LibreOffice")
        << "roster_zh_30.csv"
        << "a.jpg"
        << ".~lock.roster_zh_30.csv#" << QByteArray() << false << "lock file";
    QTest::newRow("open in Excel") << gbk << "a.jpg"
                                   << "~$" + gbk << QByteArray() << false << "lock file";
    QTest::newRow("neither UTF-8 nor GBK") << gbk << "a.jpg"
                                           << "" << QByteArray("x,\xFF,,,,,\r\n") << false << "not valid GBK";
    QTest::newRow("locked by another program") << "roster_zh_30_lo_utf16.txt"
                                               << "a.jpg"
                                               << "" << QByteArray() << true << "locked by another program";
}

void TstCsv::refusedWriteLeavesTheFile()
{
    QFETCH(QString, file);
    QFETCH(QString, value);
    QFETCH(QString, lockFile);
    QFETCH(QByteArray, append);
    QFETCH(bool, holdLock);
    QFETCH(QString, reason);
    const QString path = copy(file);
    if (!append.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write(append);
    }
    const QString lock = m_dir.filePath(lockFile);
    if (!lockFile.isEmpty())
        QVERIFY(QFile(lock).open(QIODevice::WriteOnly));
    const QByteArray before = readAll(path);
    const QString table = QFileInfo(file).completeBaseName();
    // An open-file-description lock conflicts with this process's own writer too.
    const int holder = holdLock ? ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC) : -1;
    const auto release = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });
    if (holdLock) {
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        QCOMPARE(::fcntl(holder, F_OFD_SETLK, &lock), 0);
    }
    const auto db = Database::open(path, QStringLiteral("Text"));
    // The check made for every row before a write refuses it as the write does.
    if (!holdLock)
        QVERIFY_THROWS_EXCEPTION(EngineError, db->checkValue(table, kPhoto, Value::text(value)));
    try {
        db->execute(QStringLiteral("update [%1] set 照片='%2' where 学号=2024000003").arg(table, value));
        QFAIL("the write was not refused");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        QVERIFY(!e.chinese().isEmpty());
    }
    if (!lockFile.isEmpty())
        QFile::remove(lock);
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*lumora*")}, QDir::Files | QDir::Hidden),
             QStringList());
}

// Writers in processes of their own, each naming another person at the
// same moment: every name lands, and nothing else changes.
void TstCsv::racingWritersLoseNothing()
{
    constexpr int kWriters = 4;
    const QString path = copy(QStringLiteral("roster_zh_30_excel_gbk.csv"));
    QList<QStringList> expected = pythonRows(path, QStringLiteral("gbk"), QStringLiteral(","));
    QVERIFY(expected.size() > kWriters);
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/lumora-sql");
    std::vector<std::unique_ptr<QProcess>> writers;
    const auto reap = qScopeGuard([&] {
        for (const auto &p : writers)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    });
    for (int i = 0; i < kWriters; ++i) {
        const QString name = QStringLiteral("写入者%1.jpg").arg(i);
        expected[i + 1][kPhoto] = name;
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(
            tool, {path, QStringLiteral("update [roster_zh_30_excel_gbk] set 照片='%1' where 学号=%2")
                             .arg(name, expected[i + 1][0])});
    }
    for (const auto &p : writers) {
        QVERIFY(p->waitForFinished(30000));
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
    }
    QCOMPARE(pythonRows(path, QStringLiteral("gbk"), QStringLiteral(",")), expected);
}

void TstCsv::namedEncodingWins_data()
{
    QTest::addColumn<QByteArray>("cpg"); // the .cpg file's text; empty: none
    QTest::addColumn<QString>("connect");
    QTest::addColumn<QByteArray>("codec"); // what the file then reads and writes in
    QTest::newRow("valid UTF-8, nothing named") << QByteArray() << "Text" << QByteArray("UTF-8");
    QTest::newRow(".cpg over valid UTF-8") << QByteArray("936\r\n") << "Text" << QByteArray("GBK");
    QTest::newRow("connect string over .cpg")
        << QByteArray("CP936") << "Text;HDR=Yes;charset=UTF-8" << QByteArray("UTF-8");
}

// Bytes that are valid UTF-8 and valid GBK alike read and are written in
// the encoding named for them.
void TstCsv::namedEncodingWins()
{
    QFETCH(QByteArray, cpg);
    QFETCH(QString, connect);
    QFETCH(QByteArray, codec);
    const QByteArray file = QStringLiteral("姓名,照片\n张三,\n").toUtf8();
    const QString path = m_dir.filePath(QStringLiteral("named.csv"));
    const QString cpgPath = m_dir.filePath(QStringLiteral("named.cpg"));
    QFile::remove(cpgPath);
    for (const auto &[name, bytes] : {std::pair(path, file), std::pair(cpgPath, cpg)}) {
        if (bytes.isEmpty())
            continue;
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    const auto db = Database::open(path, connect);
    QStringDecoder decoder(codec.constData());
    QCOMPARE(db->fields(QStringLiteral("named")).at(0).name, decoder.decode(file.first(file.indexOf(','))));
    QCOMPARE(db->execute(QStringLiteral("update named set F2='李.jpg'")
                             .replace(QLatin1String("F2"), db->fields(QStringLiteral("named")).at(1).name)),
             1);
    QStringEncoder encoder(codec.constData());
    QCOMPARE(readAll(path), file.chopped(1) + QByteArray(encoder.encode(QStringLiteral("李.jpg"))) + "\n");
    QFile::remove(cpgPath);
}

void TstCsv::sniffsTheFirstRecordsOnly_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("firstValue"); // of record 0, field 0; empty: not looked at

    const auto lines = [](const char *line, int times) { return QByteArray(line).repeated(times); };
    // CsvLayout::kSniffRecords records vote: the 21st tips nothing.
    QTest::newRow("the 21st record has no vote")
        << lines("a;b\n", 10) + lines("c|d\n", 10) + lines("e|f\n", 1) << ";"
        << "a";
    QTest::newRow("the 20th record votes") << lines("a;b\n", 9) + lines("c|d\n", 9) + "e\n" + "c|d\n"
                                           << "|"
                                           << "a;b";
    // A record cut by the sampled bytes does not vote: were it counted, its
    // commas would tie with the header's semicolon and win the tie.
    QTest::newRow("a record cut by the window")
        << QByteArray("h;i\n") + lines("x,", int(CsvLayout::kSniffBytes)) + "\nj;k\n"
        << ";"
        << "";
    QTest::newRow("the 20th record cut by the window")
        << lines("a;b\n", 9) + lines("c|d\n", 10) + "x;" + lines("y", int(CsvLayout::kSniffBytes)) + "\n"
        << "|"
        << "a;b";
    QTest::newRow("semicolons, commas inside quotes")
        << QByteArray("\"1,5\";\"2,5\"\n\"3,5\";\"4,5\"\n") << ";"
        << "3,5";
    QTest::newRow("one column") << QByteArray("姓名\n张三\n") << ","
                                << "张三";
    // 亅 is 0x81 0x7C in GBK: its trail byte is the bar.
    QTest::newRow("GBK trail byte is a bar")
        << QByteArray("\xD0\xD5\xC3\xFB|x\n\x81\x7C|y\n\x81\x7C|z\n") << "|"
        << "亅";
}

void TstCsv::sniffsTheFirstRecordsOnly()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, delimiter);
    QFETCH(QString, firstValue);
    const CsvEncoding encoding = CsvEncoding::detect(file, {});
    QCOMPARE(QString(QLatin1Char(CsvLayout::sniff(file, encoding))), delimiter);
    const auto backend = openTextBytes(file, QStringLiteral("sniff.csv"));
    const auto table = backend->openTable(QStringLiteral("sniff"));
    if (!firstValue.isEmpty())
        QCOMPARE(table->value(0, 0).toText(), firstValue);
}

void TstCsv::identifiersStayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    const int number = int(CsvCell::Kind::Number), text = int(CsvCell::Kind::Text);
    QTest::newRow("15 digits") << "123456789012345" << number;
    QTest::newRow("16 digits") << "1234567890123456" << text;
    QTest::newRow("18-digit ID with X") << "11010519491231002X" << text;
    QTest::newRow("0") << "0" << number;
    QTest::newRow("leading zero") << "007" << text;
    QTest::newRow("0.5") << "0.5" << number;
    QTest::newRow("00.5") << "00.5" << text;
    QTest::newRow("groups of three") << "1,234,567" << number;
    QTest::newRow("a short group") << "1,23" << text;
    QTest::newRow("yuan") << "￥12.50" << int(CsvCell::Kind::Currency);
    QTest::newRow("29 February 2008") << "2008-02-29" << int(CsvCell::Kind::Date);
    QTest::newRow("29 February 2009") << "2009-02-29" << text;
    QTest::newRow("before 1900") << "1899-12-31" << text;
    QTest::newRow("true") << "true" << int(CsvCell::Kind::Boolean);
}

void TstCsv::identifiersStayText()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QCOMPARE(int(CsvCell::guess(text).kind), kind);
}

QTEST_GUILESS_MAIN(TstCsv)
#include "tst_csv.moc"
