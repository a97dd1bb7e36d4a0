// The Access backend against the two independent readers (mdb-export and
// the npm package mdb-reader) on every database in tests/data/mdb, and the
// row writer on copies: after each write both readers must see exactly the
// one value changed.
#include "LockHolder.h"
#include "MdbOracles.h"
#include "MdbRowInserter.h"

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/mdb/JetUsageMap.h"
#include "data/engine/mdb/MdbBackend.h"
#include "data/engine/mdb/MdbTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumora::engine;
using MdbOracles::Tables;

namespace {

// The English texts of a table's notes, one a line.
QString englishOf(const QList<EngineNote> &notes)
{
    QStringList lines;
    for (const EngineNote &n : notes)
        lines << n.message;
    return lines.join(u'\n');
}

QString dataDir()
{
    return qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/mdb");
}

QStringList databases()
{
    return QDir(dataDir()).entryList({QStringLiteral("*.mdb")}, QDir::Files, QDir::Name);
}

// Differences between two readings, one line each; empty when none.
QStringList differences(const Tables &a, const Tables &b, bool anyOrder = false)
{
    QStringList out;
    for (const auto &[name, ta] : a) {
        const auto it = b.find(name);
        if (it == b.end()) {
            out << QStringLiteral("table %1 missing").arg(name);
            continue;
        }
        const MdbOracles::Table &tb = it->second;
        if (ta.fields != tb.fields)
            out << QStringLiteral("%1 fields: %2 | %3").arg(name, ta.fields.join(u','), tb.fields.join(u','));
        QList<QStringList> ra = ta.rows, rb = tb.rows;
        if (anyOrder) {
            std::sort(ra.begin(), ra.end());
            std::sort(rb.begin(), rb.end());
        }
        if (ra.size() != rb.size())
            out << QStringLiteral("%1: %2 rows | %3 rows").arg(name).arg(ra.size()).arg(rb.size());
        for (qsizetype r = 0; r < std::min(ra.size(), rb.size()); ++r)
            for (qsizetype c = 0; c < std::max(ra[r].size(), rb[r].size()); ++c)
                if (ra[r].value(c) != rb[r].value(c))
                    out << QStringLiteral("%1 row %2 field %3: %4 | %5")
                               .arg(name)
                               .arg(r)
                               .arg(ta.fields.value(c), ra[r].value(c).left(80), rb[r].value(c).left(80));
    }
    if (b.size() != a.size())
        out << QStringLiteral("%1 tables | %2 tables").arg(a.size()).arg(b.size());
    return out;
}

QString copyOf(const QTemporaryDir &dir, const QString &file)
{
    const QString to = dir.filePath(file);
    QFile::remove(to);
    if (!QFile::copy(dataDir() + QLatin1Char('/') + file, to))
        return {};
    QFile(to).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return to;
}

int fieldIndex(const Database &db, const QString &table, const QString &field)
{
    const QList<FieldInfo> fields = db.fields(QLatin1Char('[') + table + QLatin1Char(']'));
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name == field)
            return i;
    return -1;
}

// Writes one value through the backend and returns the table reading it
// should now give: `before` with that one cell changed.
Tables writeOne(const QString &path, const QString &connect, const QString &table, const QString &field,
                qsizetype record, const Value &value, const Tables &before)
{
    const auto backend = openMdb(path, connect);
    const auto source = backend->openTable(table);
    int f = -1;
    for (int i = 0; i < source->fields().size(); ++i)
        if (source->fields()[i].name == field)
            f = i;
    source->checkUpdate(record, f, value);
    source->update(record, f, value);
    Tables expected = before;
    expected[table].rows[record][f] =
        MdbOracles::normal(source->fields()[f].daoType, MdbOracles::ours(value));
    return expected;
}

// What is wrong with the pages of `table` after a write that was not
// stopped; empty when nothing. No copy of a row is left behind a move;
// every page of the file that holds rows of the table is in its page map
// and counts as free the bytes between its slots and its rows; with
// `room`, each is also in the map of pages with room exactly when the
// table's smallest row (every variable-length column Null) and its slot
// still fit on it.
QString pagesWrong(const QString &path, const QString &table, bool room)
{
    const auto source = openMdb(path, {})->openTable(table);
    const auto *t = dynamic_cast<const MdbTable *>(source.get());
    const JetFile &db = *t->file();
    const JetFormat &f = db.format();
    const JetTableDef &def = t->definition();
    const JetUsageMap used = JetUsageMap::read(db, def.usedPages, table);
    const JetUsageMap withRoom = JetUsageMap::read(db, def.freePages, table);
    const JetRowShape shape = def.rowShape();
    const int offsetSize = f.version == 4 ? 2 : 1;
    const int smallest = f.rowColumnCountSize + shape.fixedSize + (shape.columns + 7) / 8 +
                         (def.varColumns ? (shape.varCount + 1) * offsetSize + f.rowColumnCountSize : 0);
    if (!t->orphans().empty())
        return QStringLiteral("a copy of a row is left on page %1")
            .arg(JetPage::pageOf(t->orphans().front()));
    for (quint32 n = 1; n < db.pageCount(); ++n) {
        const QByteArrayView page = db.page(n);
        if (quint8(page[0]) != JetPage::kDataPage || qFromLittleEndian<quint32>(page.data() + 4) != def.page)
            continue;
        const int gap = JetPage::freeBytes(f, *JetPage::rowSlots(f, page));
        const bool listed = withRoom.contains(n);
        const bool nameable =
            withRoom.with([&](quint32 p) { return db.page(p).toByteArray(); }, f, n, !listed).has_value();
        if (!used.contains(n))
            return QStringLiteral("page %1 is not in the page map").arg(n);
        if (qFromLittleEndian<quint16>(page.data() + 2) != gap)
            return QStringLiteral("page %1 counts %2 free bytes, but has %3")
                .arg(n)
                .arg(qFromLittleEndian<quint16>(page.data() + 2))
                .arg(gap);
        if (room && nameable && listed != (gap >= smallest + 2))
            return QStringLiteral("page %1 has %2 free bytes, and is %3in the map of pages with room")
                .arg(n)
                .arg(gap)
                .arg(listed ? QString() : QStringLiteral("not "));
    }
    return {};
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestMdb : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_mdbReader = false;

    // Every independent reader that is there sees `expected` in the file.
    void checkReaders(const QString &path, const Tables &expected, const QString &codePage = {},
                      bool anyOrder = false)
    {
        // mdb-export shows an empty text as Null; Lumora's own reading
        // (compared exactly elsewhere) tells them apart.
        Tables blankAsNull = expected;
        for (auto &[name, t] : blankAsNull)
            for (QStringList &row : t.rows)
                for (int c = 0; c < row.size(); ++c)
                    if (row[c].isEmpty() &&
                        (t.daoTypes.value(c) == DaoText || t.daoTypes.value(c) == DaoMemo))
                        row[c] = QStringLiteral("\\N");
        const QStringList export_ =
            differences(blankAsNull, MdbOracles::mdbExport(path, expected, codePage), anyOrder);
        QVERIFY2(export_.isEmpty(),
                 qPrintable(QStringLiteral("mdb-export: ") + export_.mid(0, 8).join(u'\n')));
        if (m_mdbReader) {
            const QStringList reader =
                differences(expected, MdbOracles::mdbReader(path, expected, codePage), anyOrder);
            QVERIFY2(reader.isEmpty(),
                     qPrintable(QStringLiteral("mdb-reader: ") + reader.mid(0, 8).join(u'\n')));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mdb-export")).isEmpty(),
                 "mdb-export (Debian package mdbtools) is needed: scripts/deps.sh installs it");
        QVERIFY(!databases().isEmpty());
        m_mdbReader = !MdbOracles::mdbReaderDir().isEmpty();
        if (!m_mdbReader)
            qWarning("mdb-reader is not installed (npm registry unreachable): only mdb-export is compared");
    }

    // Tables, fields, types and values of every database as both readers
    // see them.
    void readsAsOthersDo_data()
    {
        QTest::addColumn<QString>("file");
        for (const QString &file : databases())
            QTest::newRow(qPrintable(file)) << file;
    }
    void readsAsOthersDo()
    {
        QFETCH(QString, file);
        const QString path = dataDir() + QLatin1Char('/') + file;
        const Tables ours = MdbOracles::lumora(path);
        const QStringList listed = MdbOracles::run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path})
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QStringList names;
        for (const auto &[name, t] : ours)
            names << name;
        QStringList sorted = listed;
        sorted.sort();
        QCOMPARE(names, sorted);
        checkReaders(path, ours);
        if (m_mdbReader) {
            // mdb-reader names the types: they must be the ones we give.
            const QString dump =
                MdbOracles::run(QStringLiteral("node"), {qEnvironmentVariable("LUMORA_TEST_SOURCES") +
                                                             QStringLiteral("/mdb_dump.mjs"),
                                                         MdbOracles::mdbReaderDir(), path});
            const QHash<QString, int> dao{{"boolean", 1},  {"byte", 2},    {"integer", 3}, {"long", 4},
                                          {"currency", 5}, {"float", 6},   {"double", 7},  {"datetime", 8},
                                          {"binary", 9},   {"text", 10},   {"ole", 11},    {"memo", 12},
                                          {"repid", 15},   {"numeric", 20}};
            QString table;
            int column = 0;
            for (const QString &line : dump.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QStringList p = line.split(QLatin1Char('\t'));
                if (p[0] == QLatin1String("TABLE")) {
                    table = p[1];
                    column = 0;
                } else if (p[0] == QLatin1String("FIELD")) {
                    QCOMPARE(ours.at(table).daoTypes.value(column++), dao.value(p[2], -1));
                }
            }
        }
    }

    // A file that is no database this reader opens fails with a message
    // that says why, whatever was cut off or changed.
    void refusesWhatItCannotRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("says");
        QFile f(dataDir() + QStringLiteral("/ucanaccess_weirdObjectNames.mdb"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray jet4 = f.readAll();
        QByteArray accdb = jet4;
        accdb[0x14] = 0x02;
        QByteArray ace = jet4;
        ace.replace(4, 15, "Standard ACE DB");
        QByteArray encrypted = jet4;
        encrypted[0x3E] = char(quint8(encrypted[0x3E]) ^ 0x5A); // the key, under the header's scrambling
        QByteArray password = jet4;
        password[0x42] = char(quint8(password[0x42]) ^ 0x41);
        QTest::newRow("text file") << QByteArray("ID,Name\n1,foo\n") << "not an Access database";
        QTest::newRow("empty") << QByteArray() << "not an Access database";
        QTest::newRow("header only") << jet4.left(0x40) << "inside its first page";
        QTest::newRow("one page") << jet4.left(4096) << "holds only 1 pages";
        QTest::newRow("half the catalogue") << jet4.left(2 * 4096 + 100) << "holds only 2 pages";
        QTest::newRow("accdb version") << accdb << ".accdb";
        QTest::newRow("ACE engine") << ace << ".accdb";
        QTest::newRow("encrypted") << encrypted << "encrypted";
        QTest::newRow("password") << password << "password";
    }
    void refusesWhatItCannotRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, says);
        const QString path = m_dir.filePath(QStringLiteral("bad.mdb"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
        out.close();
        try {
            const auto db = Database::open(path, QString());
            for (const QString &t : db->tableNames())
                db->openRecordset(QLatin1Char('[') + t + QLatin1Char(']'));
            QFAIL("opened");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains(says), qPrintable(e.message()));
            QVERIFY(!e.chinese().isEmpty());
        }
    }

    // The catalogue lists user tables only; a query or a linked table is
    // left out with a note on the tables that are listed, a system table
    // silently. Made by changing the type or flags of Table4 in MSysObjects.
    void catalogueListsUserTablesOnly_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("note");
        QTest::newRow("query") << "Type" << qint64(5) << "the queries Table4 are not listed";
        QTest::newRow("linked table") << "Type" << qint64(6) << "the linked tables Table4 are not listed";
        QTest::newRow("linked through ODBC")
            << "Type" << qint64(4) << "the linked tables Table4 are not listed";
        QTest::newRow("system table") << "Flags" << qint64(0x80000000) << "";
    }
    void catalogueListsUserTablesOnly()
    {
        QFETCH(QString, column);
        QFETCH(qint64, value);
        QFETCH(QString, note);
        const QString path = copyOf(m_dir, QStringLiteral("jackcess_testV1997.mdb"));
        qint64 at = -1;
        int size = 0;
        {
            const MdbTable catalog(std::shared_ptr<JetFile>(JetFile::open(path, {})),
                                   QStringLiteral("MSysObjects"), 2, {});
            int name = 0, field = 0;
            for (int i = 0; i < catalog.fields().size(); ++i) {
                if (catalog.fields()[i].name == QLatin1String("Name"))
                    name = i;
                if (catalog.fields()[i].name == column)
                    field = i;
            }
            for (qsizetype r = 0; r < catalog.recordCount(); ++r) {
                if (catalog.value(r, name).toText() != QLatin1String("Table4"))
                    continue;
                // Where the field's bytes are in the file: find them on the record's page.
                const JetColumn &col = catalog.definition().columns[size_t(field)];
                size = col.fixedSize();
                for (const quint32 page : catalog.dataPages()) {
                    const QByteArrayView bytes = catalog.file()->page(page);
                    // The field's bytes as they stand, before Table4's name in its row.
                    QByteArray needle(size, '\0');
                    const qint64 v = catalog.value(r, field).toInteger();
                    for (int i = 0; i < size; ++i)
                        needle[i] = char(v >> (8 * i));
                    const qsizetype nameAt = bytes.indexOf(QByteArrayView("Table4"));
                    if (nameAt < 0)
                        continue;
                    const qsizetype found = bytes.first(nameAt).lastIndexOf(needle);
                    QVERIFY(found >= 0);
                    at = qint64(page) * 2048 + found;
                }
            }
        }
        QVERIFY(at >= 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(at);
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(value >> (8 * i));
        f.write(bytes);
        f.close();
        const auto db = Database::open(path, QString());
        QCOMPARE(db->tableNames(), (QStringList{"Table1", "Table2", "Table3"}));
        const QString notes = englishOf(db->notes(QStringLiteral("[Table1]")));
        if (note.isEmpty())
            QVERIFY2(!notes.contains(QLatin1String("Table4")), qPrintable(notes));
        else
            QVERIFY2(notes.contains(note), qPrintable(notes));
        // lumora-sql names the left-out object once, not once per table.
        if (!note.isEmpty()) {
            QProcess sql;
            sql.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lumora-sql"), {path});
            QVERIFY(sql.waitForFinished(30000));
            QCOMPARE(QString::fromUtf8(sql.readAllStandardError()).count(note), 1);
        }
        // mdb-tables agrees on what is a user table.
        if (note.isEmpty() || value == 5)
            QCOMPARE(MdbOracles::run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path})
                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                     db->tableNames());
    }

    // A password-protected database opens with its password in the
    // connect string, as ";pwd=..." gives it to the old engine.
    void passwordGivenOpens()
    {
        QFile f(dataDir() + QStringLiteral("/ucanaccess_weirdObjectNames.mdb"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        // The header is scrambled by a stream cipher: flipping a bit of the
        // stored bytes flips the same bit of the password, here "A".
        bytes[0x42] = char(quint8(bytes[0x42]) ^ 0x41);
        const QString path = m_dir.filePath(QStringLiteral("guarded.mdb"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
        out.close();
        QVERIFY_THROWS_EXCEPTION(EngineError, Database::open(path, QStringLiteral(";pwd=a")));
        const auto db = Database::open(path, QStringLiteral(";PWD=A"));
        QCOMPARE(db->openRecordset(QStringLiteral("[19 MB 01 BEZAHLT ???]")).value(0, 1).toText(),
                 QStringLiteral("foo"));
    }

    // Every prefix of every database (and of a roster of 512 records) cut
    // at a page boundary or a few bytes past it: refused, or read with a
    // note whenever a table or record of the whole file is not there; never
    // a crash, never people missing without a word.
    void cutShortFilesRefuseOrSaySo()
    {
        QStringList files;
        for (const QString &file : databases())
            files << dataDir() + QLatin1Char('/') + file;
        const QString roster = copyOf(m_dir, QStringLiteral("ucanaccess_weirdObjectNames.mdb"));
        MdbRowInserter::append(roster, QStringLiteral("19 MB 01 BEZAHLT ???"), 511, [](int i) {
            return std::map<int, Value>{{0, Value::integer(i + 2)},
                                        {1, Value::text(QStringLiteral("学生%1").arg(i))}};
        });
        files << roster;
        int refused = 0, noted = 0;
        for (const QString &path : files) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray all = f.readAll();
            std::map<QString, qsizetype> whole;
            {
                const auto backend = mdbFromBytes(all);
                for (const QString &t : backend->tableNames())
                    whole[t] = backend->openTable(t)->recordCount();
            }
            const int pageSize = all[0x14] == 0 ? 2048 : 4096;
            for (qsizetype n = pageSize; n < all.size(); n += pageSize) {
                for (const qsizetype cut : {n, n + 7}) {
                    const QString where =
                        QStringLiteral("%1 cut at %2: ").arg(QFileInfo(path).fileName()).arg(cut);
                    std::unique_ptr<Backend> backend;
                    try {
                        backend = mdbFromBytes(all.left(cut));
                    } catch (const EngineError &) {
                        ++refused;
                        continue;
                    }
                    const QStringList listed = backend->tableNames();
                    for (const auto &[table, records] : whole) {
                        QList<EngineNote> notes;
                        qsizetype found = 0;
                        try {
                            if (!listed.contains(table)) {
                                QVERIFY2(!listed.isEmpty(),
                                         qPrintable(where + QStringLiteral("no table, no word")));
                                notes = backend->openTable(listed.first())->notes();
                            } else {
                                const auto source = backend->openTable(table);
                                notes = source->notes();
                                found = source->recordCount();
                                for (qsizetype r = 0; r < found; ++r)
                                    for (int c = 0; c < source->fields().size(); ++c)
                                        source->value(r, c);
                            }
                        } catch (const EngineError &) {
                            ++refused;
                            continue;
                        }
                        // Every note in both languages; records lost are
                        // said in a note that warns, for the window.
                        QString warned;
                        for (const EngineNote &n : std::as_const(notes)) {
                            QVERIFY2(!n.chinese.isEmpty(), qPrintable(where + n.message));
                            if (n.warns)
                                warned += n.message + n.chinese;
                        }
                        if (found < records) {
                            QVERIFY2(
                                warned.contains(QLatin1String("missing")) && warned.contains(u'缺'),
                                qPrintable(
                                    where + table +
                                    QStringLiteral(": %1 of %2 records, notes: ").arg(found).arg(records) +
                                    englishOf(notes)));
                            ++noted;
                        }
                    }
                }
            }
        }
        qInfo("%d refused, %d noted", refused, noted);
        QVERIFY(refused > 0 && noted > 0);
    }

    // One value written into a copy; both readers see it, and nothing else
    // changed.
    void writeBack_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("connect");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value"); // "<null>" for Null
        const QString jet4 = QStringLiteral("ucanaccess_weirdObjectNames.mdb");
        const QString t4 = QStringLiteral("19 MB 01 BEZAHLT ???");
        const QString tf = QStringLiteral("TextField");
        QTest::newRow("jet4 shorter") << jet4 << "" << t4 << tf << "x";
        QTest::newRow("jet4 same length") << jet4 << "" << t4 << tf << "bar";
        QTest::newRow("jet4 empty") << jet4 << "" << t4 << tf << "";
        QTest::newRow("jet4 longest, 255") << jet4 << "" << t4 << tf << QString(255, u'w');
        QTest::newRow("jet4 chinese") << jet4 << "" << t4 << tf << QStringLiteral("张三_2026.jpg");
        QTest::newRow("jet4 latin-1 compressed") << jet4 << "" << t4 << tf << QStringLiteral("Müller.jpg");
        QTest::newRow("jet4 value to null") << jet4 << "" << t4 << tf << "<null>";
        const QString p4 = QStringLiteral("jackcess_test2V2003.mdb");
        const QString p3 = QStringLiteral("jackcess_test2V1997.mdb");
        const QString mp = QStringLiteral("MSP_PROJECTS");
        QTest::newRow("jet4 null to value") << p4 << "" << mp << "PROJ_VERSION"
                                            << "101.jpg";
        QTest::newRow("jet3 null to value") << p3 << "" << mp << "PROJ_VERSION"
                                            << "101.jpg";
        QTest::newRow("jet4 long memo made short") << p4 << "" << mp << "PROJ_PROP_AUTHOR"
                                                   << "李老师";
        QTest::newRow("jet3 long memo made short") << p3 << "" << mp << "PROJ_PROP_AUTHOR"
                                                   << "Lee";
        QTest::newRow("jet4 memo, null to value") << p4 << "" << mp << "PROJ_PROP_KEYWORDS"
                                                  << "照片";
        QTest::newRow("jet3 longest, 203") << p3 << "" << mp << "PROJ_PROJECT" << QString(203, u'p');
        QTest::newRow("jet3 chinese in GBK")
            << p3 << ";charset=GBK" << mp << "PROJ_VERSION" << QStringLiteral("王小明.jpg");
        QTest::newRow("jet4 memo") << "jackcess_fixedNumericTestV2000.mdb"
                                   << ""
                                   << "test"
                                   << "col1" << QStringLiteral("另一段备注 with text");
    }
    void writeBack()
    {
        QFETCH(QString, file);
        QFETCH(QString, connect);
        QFETCH(QString, table);
        QFETCH(QString, field);
        QFETCH(QString, value);
        const QString path = copyOf(m_dir, file);
        QVERIFY(!path.isEmpty());
        const QString codePage = connect.contains(QLatin1String("GBK")) ? QStringLiteral("GBK") : QString();
        const Tables before = MdbOracles::lumora(path, connect);
        const Value v = value == QLatin1String("<null>") ? Value() : Value::text(value);
        const Tables expected = writeOne(path, connect, table, field, 0, v, before);
        QCOMPARE(differences(expected, MdbOracles::lumora(path, connect)), QStringList());
        QCOMPARE(pagesWrong(path, table, true), QString());
        checkReaders(path, expected, codePage);
    }

    // A column deleted in Access leaves its data in the rows until the
    // database is compacted: the remaining columns keep their numbers (and
    // so their null-mask bits) and offsets. Made here by removing column ID
    // and its two indexes from the table definition, as Access does.
    void deletedColumnKeepsItsBytes()
    {
        const QString path = copyOf(m_dir, QStringLiteral("ucanaccess_weirdObjectNames.mdb"));
        const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
        quint32 tdefPage = 0;
        {
            const auto source = openMdb(path, {})->openTable(table);
            tdefPage = dynamic_cast<MdbTable *>(source.get())->definition().page;
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(qint64(tdefPage) * 4096);
        const QByteArray original = f.read(4096);
        const auto u16 = [&](int at) { return int(quint8(original[at]) | quint8(original[at + 1]) << 8); };
        // 63: two real index entries of 12 bytes, then two column entries of
        // 25 bytes (ID, TextField), their names, and the indexes.
        QCOMPARE(u16(45), 2);
        QCOMPARE(u16(51), 2);
        const int columns = 63 + 2 * 12;
        const int names = columns + 2 * 25;
        const int idName = 2 + u16(names);
        const int textName = 2 + u16(names + idName);
        const int end = 8 + int(quint32(u16(8)) | quint32(u16(10)) << 16);
        QByteArray tdef = original.left(63);
        tdef += original.mid(columns + 25, 25);         // TextField's entry
        tdef += original.mid(names + idName, textName); // its name
        tdef += original.mid(end - 10, 10);             // the definition's closing bytes
        tdef[45] = 1;                                   // one column
        tdef[47] = tdef[48] = tdef[49] = tdef[50] = 0;  // no logical index
        tdef[51] = tdef[52] = tdef[53] = tdef[54] = 0;  // no real index
        const quint32 length = quint32(tdef.size() - 8);
        for (int i = 0; i < 4; ++i)
            tdef[8 + i] = char(length >> (8 * i));
        tdef.append(QByteArray(4096 - tdef.size(), '\0'));
        f.seek(qint64(tdefPage) * 4096);
        f.write(tdef);
        f.close();

        Tables state = MdbOracles::lumora(path);
        QCOMPARE(state[table].fields, QStringList{QStringLiteral("TextField")});
        QCOMPARE(state[table].rows, QList<QStringList>{{QStringLiteral("foo")}});
        checkReaders(path, state);
        state = writeOne(path, {}, table, QStringLiteral("TextField"), 0,
                         Value::text(QStringLiteral("照片1.jpg")), state);
        checkReaders(path, state);
        // With the definition as it was, the deleted column's value is back.
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(qint64(tdefPage) * 4096);
        f.write(original);
        f.close();
        const Tables restored = MdbOracles::lumora(path);
        QCOMPARE(restored.at(table).rows,
                 (QList<QStringList>{{QStringLiteral("1"), QStringLiteral("照片1.jpg")}}));
    }

    // Jet 3 text whose code page nothing names (the header says 1252, the
    // sort order is the general one) is read as GBK, with a note; a table
    // whose bytes are no GBK text falls back to the header's code page. A
    // .cpg file beside the database names the code page, as for dBase
    // tables. A Chinese name is written in GBK where GBK is read.
    void jet3CodePage_data()
    {
        QTest::addColumn<QString>("symbol"); // PROJ_OPT_CURRENCY_SYMBOL written in GBK first; "" keeps "£"
        QTest::addColumn<QByteArray>("cpg");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<QString>("note");
        QTest::newRow("GBK assumed") << QStringLiteral("元") << QByteArray() << QStringLiteral("元")
                                     << "so GBK is assumed";
        QTest::newRow(".cpg names 1252") << QStringLiteral("元") << QByteArray("1252\n")
                                         << QStringLiteral("Ôª") << "in the code page windows-1252, as asked";
        QTest::newRow("latin text falls back") << QString() << QByteArray() << QStringLiteral("£")
                                               << "is not GBK, so it is read in the code page windows-1252";
        QTest::newRow("user-defined area falls back")
            << QStringLiteral("\uE000") << QByteArray() << QStringLiteral("ª¡") << "is not GBK";
    }
    void jet3CodePage()
    {
        QFETCH(QString, symbol);
        QFETCH(QByteArray, cpg);
        QFETCH(QString, reads);
        QFETCH(QString, note);
        const QString path = copyOf(m_dir, QStringLiteral("jackcess_test2V1997.mdb"));
        const QString table = QStringLiteral("MSP_PROJECTS");
        const QString cpgPath = m_dir.filePath(QStringLiteral("jackcess_test2V1997.CPG"));
        QFile::remove(cpgPath);
        if (!symbol.isEmpty())
            writeOne(path, QStringLiteral(";charset=GBK"), table, QStringLiteral("PROJ_OPT_CURRENCY_SYMBOL"),
                     0, Value::text(symbol), MdbOracles::lumora(path));
        if (!cpg.isEmpty()) {
            QFile file(cpgPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(cpg);
        }
        const auto db = Database::open(path, {});
        const int f = fieldIndex(*db, table, QStringLiteral("PROJ_OPT_CURRENCY_SYMBOL"));
        QCOMPARE(db->openRecordset(QStringLiteral("[MSP_PROJECTS]")).value(0, f).toText(), reads);
        const QString notes = englishOf(db->notes(QStringLiteral("[MSP_PROJECTS]")));
        QVERIFY2(notes.contains(note), qPrintable(notes));

        const Value name = Value::text(QStringLiteral("王小明.jpg"));
        const bool gbk = reads == symbol;
        try {
            const Tables expected =
                writeOne(path, {}, table, QStringLiteral("PROJ_VERSION"), 0, name, MdbOracles::lumora(path));
            QVERIFY2(gbk, "a Chinese name written where GBK is not read");
            QCOMPARE(differences(expected, MdbOracles::lumora(path)), QStringList());
            checkReaders(path, expected, QStringLiteral("GBK"));
        } catch (const EngineError &e) {
            QVERIFY2(!gbk && e.message().contains(QLatin1String("code page")), qPrintable(e.message()));
        }
        QFile::remove(cpgPath);
    }

    // Fields added to a table that has rows, as a 照片 column is added for
    // write-back: the rows written before hold neither, and read as Null
    // everywhere. Writing into such a row grows it to hold the new columns
    // (moving it when its page is full); both readers then see the value,
    // the added fixed column still Null, every other field as it was.
    void rowsOlderThanAddedColumnsGrow_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("fixedLike"); // the added fixed column copies this one
        QTest::addColumn<QString>("textLike");
        QTest::addColumn<QString>("added");
        QTest::newRow("jet4") << "ucanaccess_weirdObjectNames.mdb"
                              << "19 MB 01 BEZAHLT ???"
                              << "ID"
                              << "TextField" << QStringLiteral("照片");
        QTest::newRow("jet3") << "jackcess_testV1997.mdb"
                              << "Table1"
                              << "E"
                              << "A"
                              << "Photo";
    }
    void rowsOlderThanAddedColumnsGrow()
    {
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, fixedLike);
        QFETCH(QString, textLike);
        QFETCH(QString, added);
        const QString path = copyOf(m_dir, file);
        MdbRowInserter::append(path, table, 300, [](int i) {
            return std::map<int, Value>{{0, Value::text(QStringLiteral("r%1").arg(i))}};
        });
        MdbRowInserter::addColumn(path, table, QStringLiteral("Grade"), fixedLike);
        MdbRowInserter::addColumn(path, table, added, textLike);
        const QString codePage = file.contains(QLatin1String("1997")) ? QStringLiteral("GBK") : QString();
        Tables state = MdbOracles::lumora(path);
        const qsizetype width = state[table].fields.size();
        QCOMPARE(state[table].fields.mid(width - 2), (QStringList{QStringLiteral("Grade"), added}));
        for (const QStringList &row : state[table].rows)
            QCOMPARE(row.mid(width - 2), (QStringList{QStringLiteral("\\N"), QStringLiteral("\\N")}));
        checkReaders(path, state, codePage);
        bool moved = false;
        for (const qsizetype record : {0, 1, 150, 300, 2}) {
            const Value name = Value::text(QStringLiteral("照片%1_2026.jpg").arg(record));
            {
                const auto backend = openMdb(path, {});
                const auto source = backend->openTable(table);
                moved |= dynamic_cast<MdbTable *>(source.get())->plan(record, int(width - 1), name).moved;
            }
            state = writeOne(path, {}, table, added, record, name, state);
            QCOMPARE(differences(state, MdbOracles::lumora(path)), QStringList());
            checkReaders(path, state, codePage, true);
        }
        QVERIFY(moved);
    }

    // A row that outgrows a full page moves to another page of the table
    // behind a pointer, as often as it has to; the readers still see every
    // row once.
    void rowsMoveOffFullPages_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QChar>("fill"); // a Jet 4 text of CJK characters is stored two bytes each
        QTest::newRow("jet4") << "ucanaccess_weirdObjectNames.mdb"
                              << "19 MB 01 BEZAHLT ???"
                              << "TextField" << 255 << 600 << QChar(u'甲');
        QTest::newRow("jet3") << "jackcess_test2V1997.mdb"
                              << "MSP_PROJECTS"
                              << "PROJ_PROJECT" << 203 << 120 << QChar(u'a');
    }
    void rowsMoveOffFullPages()
    {
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, field);
        QFETCH(int, width);
        QFETCH(int, rows);
        QFETCH(QChar, fill);
        const QString path = copyOf(m_dir, file);
        {
            const auto db = Database::open(path, QString());
            const int f = fieldIndex(*db, table, field);
            MdbRowInserter::append(path, table, rows, [f](int i) {
                return std::map<int, Value>{{f, Value::text(QStringLiteral("r%1").arg(i))}};
            });
        }
        Tables state = MdbOracles::lumora(path);
        QCOMPARE(qsizetype(state[table].rows.size()), qsizetype(rows + 1));
        checkReaders(path, state);
        // Rows 2, 3 and 2 again grow to the full width: the first pages are full.
        bool movedOnce = false;
        for (const qsizetype record : {2, 3, 2, 60, 61}) {
            const auto backend = openMdb(path, {});
            const auto source = backend->openTable(table);
            auto *t = dynamic_cast<MdbTable *>(source.get());
            int f = 0;
            while (source->fields()[f].name != field)
                ++f;
            const QString text = QString(width - int(record), QChar(fill.unicode() + int(record) % 26));
            movedOnce |= t->plan(record, f, Value::text(text)).moved;
            state = writeOne(path, {}, table, field, record, Value::text(text), state);
            QCOMPARE(differences(state, MdbOracles::lumora(path)), QStringList());
            QCOMPARE(pagesWrong(path, table, false), QString());
            checkReaders(path, state, {}, true);
        }
        QVERIFY(movedOnce);
    }

    // What cannot be written exactly is refused before anything is written.
    void refusesWrites_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("says");
        const QString j4 = QStringLiteral("ucanaccess_weirdObjectNames.mdb");
        const QString t4 = QStringLiteral("19 MB 01 BEZAHLT ???");
        QTest::newRow("one character too many")
            << j4 << t4 << "TextField" << QString(256, u'x') << "at most 255";
        QTest::newRow("not text") << j4 << t4 << "ID"
                                  << "5"
                                  << "only Text and Memo";
        QTest::newRow("indexed text") << "jackcess_testV1997.mdb"
                                      << "Table1"
                                      << "B"
                                      << "b2"
                                      << "index B";
        QTest::newRow("primary key") << "jackcess_testV1997.mdb"
                                     << "Table1"
                                     << "A"
                                     << "a2"
                                     << "PrimaryKey";
        QTest::newRow("jet3, no such character") << "jackcess_test2V1997.mdb"
                                                 << "MSP_PROJECTS"
                                                 << "PROJ_VERSION" << QStringLiteral("😀") << "code page";
        QTest::newRow("jet3, 51 bytes into 50") << "jackcess_test2V1997.mdb"
                                                << "MSP_PROJECTS"
                                                << "PROJ_VERSION" << QString(51, u'v') << "at most 50";
        QTest::newRow("memo past the inline limit") << "jackcess_fixedNumericTestV2000.mdb"
                                                    << "test"
                                                    << "col1" << QString(1025, u'm') << "at most 1024";
        QTest::newRow("null where Null is not allowed") << j4 << t4 << "TextField"
                                                        << "<null>"
                                                        << "cannot be Null";
    }
    void refusesWrites()
    {
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, says);
        const QString path = copyOf(m_dir, file);
        // "<null>": Null, into a field made one that may not be Null (the
        // flag 0x02 of its column's entry cleared).
        const bool null = value == QLatin1String("<null>");
        if (null) {
            const auto source = openMdb(path, {})->openTable(table);
            const auto *t = dynamic_cast<const MdbTable *>(source.get());
            const JetFormat &fmt = t->file()->format();
            QByteArray tdef = t->file()->page(t->definition().page).toByteArray();
            const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(tdef.constData() + at); };
            int at = fmt.tdefRealIndexStart +
                     fmt.realIndexEntrySize *
                         int(qFromLittleEndian<quint32>(tdef.constData() + fmt.tdefRealIndexesAt));
            for (int c = 0; c < u16(fmt.tdefColumnsAt); ++c, at += fmt.columnEntrySize)
                for (const JetColumn &col : t->definition().columns)
                    if (col.name == field && col.number == u16(at + fmt.colNumberAt))
                        tdef[at + fmt.colFlagsAt] = char(tdef[at + fmt.colFlagsAt] & ~0x02);
            t->file()->writePages({{t->definition().page, tdef}}, {});
        }
        const QByteArray before = contents(path);
        const auto backend = openMdb(path, {});
        const auto source = backend->openTable(table);
        int i = 0;
        while (source->fields()[i].name != field)
            ++i;
        QVERIFY(!null || !source->fields()[i].nullable);
        const Value v = null ? Value() : Value::text(value);
        for (const bool check : {true, false}) {
            try {
                if (check)
                    source->checkUpdate(0, i, v);
                else
                    source->update(0, i, v);
                QFAIL("written");
            } catch (const EngineError &e) {
                QVERIFY2(e.message().contains(says), qPrintable(e.message()));
            }
        }
        QVERIFY(contents(path) == before);
    }

    // Jet 3 keeps where each 256th byte of a row's variable-length data
    // begins in a table of jumps, whose length a reader works out from the
    // row's. A memo grown one byte at a time, then a second one until the
    // row is too long for a page, takes a row across every such boundary
    // and its page's free bytes down to none: after each write the row
    // reads back whole and the page's maps and free-byte count agree with
    // the page; both readers see the row each time the memo ends exactly on
    // a 256th byte. The row one byte too long is refused as too long, not
    // with advice to compact the database, and nothing is written.
    void jet3RowGrowsByteByByte()
    {
        const QString path = copyOf(m_dir, QStringLiteral("jackcess_test2V1997.mdb"));
        const QString table = QStringLiteral("MSP_PROJECTS");
        Tables state = MdbOracles::lumora(path);
        MdbOracles::Table &shown = state[table];
        const auto backend = openMdb(path, {});
        const auto source = backend->openTable(table);
        const auto *t = dynamic_cast<const MdbTable *>(source.get());
        QString refusal;
        int boundaries = 0;
        for (const char *field : {"PROJ_PROP_AUTHOR", "PROJ_PROP_COMPANY"}) {
            const int f = int(shown.fields.indexOf(QLatin1String(field)));
            for (int length = 0; length <= 1024 && refusal.isEmpty(); ++length) {
                const Value v = Value::text(QString(length, QChar(u'a' + length % 26)));
                try {
                    source->update(0, f, v);
                } catch (const EngineError &e) {
                    refusal = e.message();
                    break;
                }
                shown.rows[0][f] = MdbOracles::ours(v);
                QStringList read;
                for (int c = 0; c < shown.fields.size(); ++c)
                    read << MdbOracles::normal(shown.daoTypes[c], MdbOracles::ours(source->value(0, c)));
                QCOMPARE(read, shown.rows[0]);
                QCOMPARE(pagesWrong(path, table, true), QString());
                const QByteArrayView page = t->file()->page(t->dataPages().front());
                const JetPage::Slot slot = JetPage::rowSlots(t->file()->format(), page)->front();
                const QByteArrayView row = page.sliced(slot.start, slot.length());
                const QByteArrayView memo =
                    JetRow::crack(t->file()->format(), row, true)->data(t->definition().columns[size_t(f)]);
                if ((memo.data() + memo.size() - row.data()) % 256 == 0) {
                    ++boundaries;
                    checkReaders(path, state);
                }
            }
        }
        QVERIFY2(refusal.contains(QLatin1String("too long for a row")) &&
                     !refusal.contains(QLatin1String("compact")),
                 qPrintable(refusal));
        QCOMPARE(differences(state, MdbOracles::lumora(path)), QStringList());
        QVERIFY(boundaries >= 4);
    }

    // Rows grown one after another fill the table's pages, and new pages
    // are added at the end of the file, each listed in the table's page
    // map. With the file padded so that the first page added is the last
    // its inline map can name, the next row that needs a new page is
    // refused with nothing written. Once the map lists the pages through a
    // map page, as Access makes it when a table outgrows the inline one,
    // new pages are added again. Every reader sees every record throughout.
    void newPagesUpToWhereThePageMapReaches()
    {
        const QString path = copyOf(m_dir, QStringLiteral("ucanaccess_weirdObjectNames.mdb"));
        const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
        const auto rows = [](int i) {
            return std::map<int, Value>{{0, Value::integer(i + 2)},
                                        {1, Value::text(QStringLiteral("r%1").arg(i))}};
        };
        MdbRowInserter::append(path, table, 199, rows);
        quint32 bound = 0; // the first page the inline map cannot name
        qint64 pageSize = 0;
        {
            const auto source = openMdb(path, {})->openTable(table);
            const auto *t = dynamic_cast<const MdbTable *>(source.get());
            const JetUsageMap used = JetUsageMap::read(*t->file(), t->definition().usedPages, table);
            QCOMPARE(used.kind(), quint8(0));
            const QByteArrayView row =
                t->file()->page(used.rowPage()).sliced(used.rowStart(), used.rowLength());
            bound = qFromLittleEndian<quint32>(row.data() + 1) + 8 * quint32(row.size() - 5);
            pageSize = t->file()->format().pageSize;
        }
        QVERIFY(QFile::resize(path, (bound - 1) * pageSize));
        Tables state = MdbOracles::lumora(path);
        const Value wide = Value::text(QString(255, u'宽'));
        qsizetype record = 0;
        QString refusal;
        for (; record < 200 && refusal.isEmpty(); ++record) {
            const QByteArray before = contents(path);
            try {
                state = writeOne(path, {}, table, QStringLiteral("TextField"), record, wide, state);
            } catch (const EngineError &e) {
                refusal = e.message();
                QVERIFY(contents(path) == before);
            }
        }
        QVERIFY2(refusal.contains(QLatin1String("page map")), qPrintable(refusal));
        QCOMPARE(QFileInfo(path).size(), bound * pageSize);
        QCOMPARE(pagesWrong(path, table, false), QString());
        checkReaders(path, state, {}, true);

        MdbRowInserter::append(path, table, 1, rows); // turns the map into one with a map page
        state = MdbOracles::lumora(path);
        for (const qsizetype last = record + 16; record < last; ++record)
            state = writeOne(path, {}, table, QStringLiteral("TextField"), record, wide, state);
        QVERIFY(QFileInfo(path).size() >= (bound + 3) * pageSize);
        QCOMPARE(pagesWrong(path, table, false), QString());
        checkReaders(path, state, {}, true);
    }

    // Another program holding the database open (a lock on its .ldb) stops
    // the write; a lock file nobody holds does not.
    void lockFileInUseRefuses()
    {
        const QString path = copyOf(m_dir, QStringLiteral("ucanaccess_weirdObjectNames.mdb"));
        const QString ldb = m_dir.filePath(QStringLiteral("ucanaccess_weirdObjectNames.ldb"));
        QFile stale(ldb);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(64, 'x'));
        stale.close();
        const auto backend = openMdb(path, {});
        const auto source = backend->openTable(QStringLiteral("19 MB 01 BEZAHLT ???"));
        source->update(0, 1, Value::text(QStringLiteral("stale lock file")));
        QVERIFY(!mdbOpenElsewhere(path));
        // A child process holds a byte-range lock on the lock file, as Jet does.
        LockHolder jet(ldb, 0x10000000, 1);
        QVERIFY(jet.locked());
        QVERIFY(mdbOpenElsewhere(path));
        try {
            source->update(0, 1, Value::text(QStringLiteral("while open")));
            QFAIL("written while the database is open elsewhere");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), EngineError::Code::Locked);
            QVERIFY2(e.message().contains(QLatin1String("open in another program")), qPrintable(e.message()));
        }
        jet.release();
        QCOMPARE(source->value(0, 1).toText(), QStringLiteral("stale lock file"));
    }

    // A thousand write-backs of every length into a table of several
    // pages; the readers agree with what was written.
    void thousandWriteBacks()
    {
        const QString path = copyOf(m_dir, QStringLiteral("ucanaccess_weirdObjectNames.mdb"));
        const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
        MdbRowInserter::append(path, table, 400, [](int i) {
            return std::map<int, Value>{{0, Value::integer(i + 2)},
                                        {1, Value::text(QStringLiteral("n%1").arg(i))}};
        });
        Tables state = MdbOracles::lumora(path);
        QRandomGenerator random(20261208);
        const auto backend = openMdb(path, {});
        const auto source = backend->openTable(table);
        int refused = 0;
        for (int n = 0; n < 1000; ++n) {
            const qsizetype record = random.bounded(int(source->recordCount()));
            // Mostly names of photos; now and then the field's full width.
            const int length = random.bounded(10) == 0 ? random.bounded(256) : random.bounded(40);
            QString text;
            for (int k = 0; k < length; ++k)
                text += random.bounded(4) == 0 ? QChar(u'相' + random.bounded(50))
                                               : QChar(u'a' + random.bounded(26));
            const Value v = random.bounded(20) == 0 ? Value() : Value::text(text);
            try {
                source->update(record, 1, v);
                QVERIFY(dynamic_cast<MdbTable *>(source.get())->orphans().empty());
                state[table].rows[record][1] = MdbOracles::ours(v);
            } catch (const EngineError &e) {
                // The table's pages can fill up; nothing is written then.
                QVERIFY2(e.message().contains(QLatin1String("no page of the table has room")),
                         qPrintable(e.message()));
                ++refused;
            }
            if (n % 250 == 249) {
                QCOMPARE(differences(state, MdbOracles::lumora(path)), QStringList());
                QCOMPARE(pagesWrong(path, table, false), QString());
                checkReaders(path, state, {}, true);
            }
        }
        QCOMPARE(refused, 0); // full pages make new ones
    }
};

QTEST_GUILESS_MAIN(TestMdb)
#include "tst_mdb.moc"
