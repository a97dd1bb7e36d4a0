// The Excel writer's container and its checks against independent readers:
// every fixture rewritten (as it was, grown, shrunk back), also with its
// Workbook chain running a sector past the stream's size, reads in libgsf,
// ssconvert and GDAL exactly as before; a small stream leaving the mini
// stream at the cutoff still opens in GDAL (FreeXL); a damaged rewrite and
// a workbook that reads back wrong are refused before anything is written.
#include "XlsOracles.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include "data/engine/EngineError.h"
#include "data/engine/xls/CompoundFile.h"
#include "data/engine/xls/XlsBook.h"
#include "data/engine/xls/XlsContainer.h"
#include "data/engine/xls/XlsPatcher.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTest>
#include <QtEndian>

#include <optional>

using namespace lumora::engine;
using namespace xlsoracles;

namespace {

QString dataDir()
{
    return qEnvironmentVariable("LUMORA_TEST_DATA");
}

QStringList fixtures()
{
    QStringList files;
    QDirIterator it(dataDir(), {QStringLiteral("*.xls")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
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

quint32 u32(const QByteArray &b, qint64 at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

void put32(QByteArray &b, qint64 at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}

// Where the allocation-table entry of `sector` lies in the file (the first
// 109 allocation sectors, as in every fixture).
qint64 fatSlot(const QByteArray &file, quint32 sector)
{
    const int shift = qFromLittleEndian<quint16>(file.constData() + 30);
    const quint32 perSector = (1u << shift) / 4;
    return ((qint64(u32(file, 76 + 4 * (sector / perSector))) + 1) << shift) + 4 * (sector % perSector);
}

std::vector<quint32> chainFrom(const QByteArray &file, quint32 start)
{
    std::vector<quint32> out;
    for (quint32 s = start; s < 0xFFFFFFFAu && out.size() < 100000; s = u32(file, fatSlot(file, s)))
        out.push_back(s);
    return out;
}

// The file with the Workbook's chain running one sector past the stream's
// size, into the directory's last sector, as some writers leave it.
QByteArray withLongChain(QByteArray file)
{
    const CompoundFile cf(file, QStringLiteral("x"));
    const quint32 last = chainFrom(file, cf.entries().at(cf.find(u"Workbook")).start).back();
    put32(file, fatSlot(file, last), chainFrom(file, u32(file, 48)).back());
    return file;
}

// A compound file libgsf writes with `stream` as its only stream.
QByteArray gsfContainer(const QByteArray &stream)
{
    GsfOutput *memory = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(memory);
    GsfOutput *child = gsf_outfile_new_child(ole, "Workbook", FALSE);
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

// libgsf gives back every stream of `before`, the Workbook holding `stream`
// padded with zeros past the mini-stream cutoff.
QString streamsDiffer(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after,
                      const QByteArray &stream)
{
    if (before.keys() != after.keys())
        return QStringLiteral("streams %1, were %2").arg(after.keys().join(u','), before.keys().join(u','));
    for (auto it = before.begin(); it != before.end(); ++it) {
        const QByteArray now = after.value(it.key());
        const bool same = it.key() != QLatin1String("Workbook")
                              ? now == it.value()
                              : now.startsWith(stream) && now.size() > 4096 &&
                                    now.sliced(stream.size()) == QByteArray(now.size() - stream.size(), '\0');
        if (!same)
            return QStringLiteral("stream %1 (%2 bytes)").arg(it.key()).arg(now.size());
    }
    return {};
}

// What libgsf warns of while reading (in the program or the test): "This
// OLE2 file is invalid" for a chain ending in a free sector, which it reads
// all the same.
QStringList gsfWarnings;

void recordWarning(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    gsfWarnings << QString::fromUtf8(message);
}

} // namespace

class TstXlsContainer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void rewritesEveryFixtureWhole_data();
    void rewritesEveryFixtureWhole();
    void leavesTheMiniStreamAtTheCutoff_data();
    void leavesTheMiniStreamAtTheCutoff();
    void refusesADamagedRewrite_data();
    void refusesADamagedRewrite();
    void refusesCellsThatReadBackWrong_data();
    void refusesCellsThatReadBackWrong();

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    // What ssconvert and GDAL read in each fixture.
    QMap<QString, std::pair<QMap<QString, Csv>, QMap<QString, Csv>>> m_readings;
    QString place(const QByteArray &bytes, const QString &name);
};

void TstXlsContainer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    g_log_set_handler("libgsf:msole", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
                      recordWarning, nullptr);
    QVERIFY2(fixtures().size() >= 11, "the fixtures are missing");
    QVERIFY2(have("ssconvert") && have("ogr2ogr"), "ssconvert (gnumeric) and ogr2ogr (gdal-bin) are needed");
}

QString TstXlsContainer::place(const QByteArray &bytes, const QString &name)
{
    const QString dir = m_dir.filePath(QString::number(++m_files));
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    return writeAll(path, bytes) ? path : QString();
}

void TstXlsContainer::rewritesEveryFixtureWhole_data()
try {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("longChain");
    QTest::addColumn<QList<int>>("growths");
    const QList<int> asItWas{0}, grownAndBack{3 * 512 + 100, 0};
    for (const QString &f : fixtures()) {
        const QString name = QFileInfo(f).fileName();
        QTest::addRow("%s: grown and shrunk back", qPrintable(name)) << f << false << grownAndBack;
        const CompoundFile cf(readAll(f), name);
        if (cf.entries().at(cf.find(u"Workbook")).size < 4096)
            continue;
        QTest::addRow("%s, chain past its size: as it was", qPrintable(name)) << f << true << asItWas;
        QTest::addRow("%s, chain past its size: grown and shrunk back", qPrintable(name))
            << f << true << grownAndBack;
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

// The Workbook stream written with `growths` zero bytes added, one write
// after another: after each, libgsf gives back every stream as it was and
// the new Workbook, without a warning; ssconvert and GDAL then read every
// sheet as in the fixture.
void TstXlsContainer::rewritesEveryFixtureWhole()
{
    QFETCH(QString, file);
    QFETCH(bool, longChain);
    QFETCH(QList<int>, growths);
    gsfWarnings.clear();
    if (!m_readings.contains(file))
        m_readings.insert(file, {ssconvertSheets(file), gdalLayers(file)});
    const auto [ssBefore, gdalBefore] = m_readings.value(file);
    QVERIFY(!ssBefore.isEmpty());
    const QByteArray original = longChain ? withLongChain(readAll(file)) : readAll(file);
    const QString path = place(original, QFileInfo(file).fileName());
    const QMap<QString, QByteArray> streamsBefore = streams(original);

    std::optional<XlsBook> book;
    QVERIFY_THROWS_NO_EXCEPTION(book.emplace(path));
    const QByteArray stream = book->workbook().stream();
    for (int growth : growths) {
        const QByteArray next = stream + QByteArray(growth, '\0');
        QVERIFY_THROWS_NO_EXCEPTION(book->writeFile(book->fileWithStream(next, {})));
        const QString differ = streamsDiffer(streamsBefore, streams(readAll(path)), next);
        QVERIFY2(differ.isEmpty(), qPrintable(differ));
        QVERIFY2(gsfWarnings.isEmpty(), qPrintable(gsfWarnings.join(u'\n')));
    }
    QCOMPARE(ssconvertSheets(path), ssBefore);
    QCOMPARE(gdalLayers(path), gdalBefore);
}

void TstXlsContainer::leavesTheMiniStreamAtTheCutoff_data()
{
    QTest::addColumn<bool>("alone");
    QTest::addColumn<int>("size");
    for (bool alone : {false, true})
        for (int size : {4092, 4096, 4097})
            QTest::addRow("%s, %d bytes", alone ? "libgsf, workbook alone" : "gnumeric", size)
                << alone << size;
}

// A workbook in the mini stream written at sizes about the cutoff: FreeXL
// refuses a Workbook stream of exactly 4,096 bytes in ordinary sectors, so
// the stream moved out of the mini stream must be longer; GDAL then reads
// it as before.
void TstXlsContainer::leavesTheMiniStreamAtTheCutoff()
try {
    gsfWarnings.clear();
    QFETCH(bool, alone);
    QFETCH(int, size);
    const QString source = dataDir() + QStringLiteral("/generated/roster_mini_gnumeric.xls");
    QByteArray original = readAll(source);
    const QByteArray stream = readWorkbookStream(original, QStringLiteral("x"));
    QVERIFY(stream.size() < 4092);
    if (alone)
        original = gsfContainer(stream);
    const QString path = place(original, QStringLiteral("roster_mini.xls"));
    const QMap<QString, Csv> gdalBefore = gdalLayers(path);
    QVERIFY(!gdalBefore.isEmpty());

    XlsBook book(path);
    const QByteArray padded = stream + QByteArray(size - stream.size(), '\0');
    QVERIFY_THROWS_NO_EXCEPTION(book.writeFile(book.fileWithStream(padded, {})));
    QCOMPARE(gdalLayers(path), gdalBefore);
    const QString differ = streamsDiffer(streams(original), streams(readAll(path)), padded);
    QVERIFY2(differ.isEmpty(), qPrintable(differ));
    QVERIFY2(gsfWarnings.isEmpty(), qPrintable(gsfWarnings.join(u'\n')));
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXlsContainer::refusesADamagedRewrite_data()
{
    QTest::addColumn<QString>("damage");
    for (const char *damage : {"none", "directory sector freed", "stream sector freed", "sector lost",
                               "workbook runs into the directory", "mini stream byte changed", "cut short",
                               "allocation sector counted twice"})
        QTest::newRow(damage) << QString::fromLatin1(damage);
}

// The check after writing refuses each way a rewrite could go wrong, naming
// the copy, not the original, as damaged; a sound rewrite passes.
void TstXlsContainer::refusesADamagedRewrite()
try {
    QFETCH(QString, damage);
    const QString what = QStringLiteral("roster_zh_30.xls");
    const QByteArray original = readAll(dataDir() + QStringLiteral("/generated/") + what);
    const CompoundFile cf(original, what);
    const int entry = cf.find(u"Workbook");
    const QByteArray grown = cf.stored(cf.streamBytes(entry) + QByteArray(1500, '\0'));
    QByteArray out = cf.withStream(entry, grown);
    const std::vector<quint32> workbook = chainFrom(out, cf.entries().at(entry).start);
    const std::vector<quint32> directory = chainFrom(out, u32(out, 48));
    const qint64 dirEntry = (qint64(directory.front()) + 1) * 512 + 128 * entry;
    if (damage == QLatin1String("directory sector freed")) {
        put32(out, fatSlot(out, directory.back()), 0xFFFFFFFFu);
    } else if (damage == QLatin1String("stream sector freed")) {
        put32(out, fatSlot(out, workbook[workbook.size() - 2]), 0xFFFFFFFEu);
        put32(out, fatSlot(out, workbook.back()), 0xFFFFFFFFu);
    } else if (damage == QLatin1String("sector lost")) {
        out.append(QByteArray(512, '\0'));
        put32(out, fatSlot(out, quint32(out.size() / 512 - 2)), 0xFFFFFFFEu);
    } else if (damage == QLatin1String("workbook runs into the directory")) {
        put32(out, fatSlot(out, workbook.back()), directory.back());
        put32(out, dirEntry + 120, u32(out, dirEntry + 120) + 512);
    } else if (damage == QLatin1String("mini stream byte changed")) {
        const qint64 at = (qint64(cf.entries().at(0).start) + 1) * 512;
        out[at] = char(out[at] ^ 1);
    } else if (damage == QLatin1String("cut short")) {
        out.chop(512);
    } else if (damage == QLatin1String("allocation sector counted twice")) {
        put32(out, 44, u32(out, 44) + 1);
        put32(out, 80, u32(out, 76));
    }
    if (damage == QLatin1String("none")) {
        QVERIFY_THROWS_NO_EXCEPTION(
            checkRewrittenContainer(original, out, QStringLiteral("Workbook"), grown, what));
        return;
    }
    try {
        checkRewrittenContainer(original, out, QStringLiteral("Workbook"), grown, what);
        QFAIL("a damaged rewrite passed the check");
    } catch (const EngineError &e) {
        QVERIFY2(
            e.message().startsWith(QStringLiteral("roster_zh_30.xls is not written: the rewritten copy of "
                                                  "roster_zh_30.xls ")),
            qPrintable(e.message()));
        QVERIFY2(e.chinese().startsWith(QStringLiteral("没有写入 roster_zh_30.xls：")),
                 qPrintable(e.chinese()));
        QVERIFY2(!e.chinese().contains(QChar(0xE000)), qPrintable(e.chinese()));
    }
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

void TstXlsContainer::refusesCellsThatReadBackWrong_data()
{
    QTest::addColumn<QString>("wrong");
    for (const char *wrong : {"none", "another cell changed", "another cell's format changed",
                              "target unchanged", "shared text out of range", "formatted shared text reused",
                              "blank left holding a text", "mini stream past the end of the file"})
        QTest::newRow(wrong) << QString::fromLatin1(wrong);
}

// The safety net: a rewritten workbook must hold the changed cells and every
// other cell as before, in a container that reads back whole; a fault of
// the patcher (simulated here) is refused before the file is replaced. So
// is a workbook grown into the sectors past the end of a file whose mini
// stream runs there (as in a file cut short): it would share them.
void TstXlsContainer::refusesCellsThatReadBackWrong()
try {
    QFETCH(QString, wrong);
    QByteArray original = readAll(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"));
    if (wrong == QLatin1String("mini stream past the end of the file")) {
        const qint64 root = (qint64(u32(original, 48)) + 1) * 512;
        const quint32 past = quint32(original.size() / 512 - 1);
        put32(original, fatSlot(original, u32(original, root + 116)), past);
        put32(original, root + 120, 1024);
    }
    const QString path = place(original, QStringLiteral("roster_zh_30.xls"));
    const QByteArray before = readAll(path);
    XlsBook book(path);
    const XlsWorkbook &wb = book.workbook();
    XlsWrittenCell change{0, 3, 5, {XlsCell::Kind::Text, 0, QStringLiteral("张三.jpg")}};
    if (wrong == QLatin1String("blank left holding a text"))
        change = {0, 3, 1, {}};
    else if (wrong == QLatin1String("mini stream past the end of the file"))
        change.value.text = QString(300, QChar(0x5F20)); // a sector more
    QByteArray stream = XlsPatcher(wb).cell(change.sheet, change.row, change.col, change.value, 15);
    if (wrong == QLatin1String("another cell changed")) {
        const XlsWorkbook once(stream, QStringLiteral("x"));
        stream = XlsPatcher(once).cell(0, 4, 5, change.value, 15);
    } else if (wrong == QLatin1String("another cell's format changed")) {
        const XlsWorkbook once(stream, QStringLiteral("x"));
        const qint64 xf = once.sheet(0).cell(4, 0)->offset + 4 + 4;
        stream[xf] = char(stream[xf] ^ 1);
    } else if (wrong == QLatin1String("target unchanged") ||
               wrong == QLatin1String("blank left holding a text")) {
        stream = wb.stream();
    } else if (wrong == QLatin1String("shared text out of range")) {
        const XlsWorkbook once(stream, QStringLiteral("x"));
        put32(stream, once.sheet(0).cell(3, 5)->offset + 4 + 6, 0x00FFFFFFu);
    } else if (wrong == QLatin1String("formatted shared text reused")) {
        const std::vector<bool> &plain = wb.sst().plain;
        const auto rich = std::find(plain.begin(), plain.end(), false) - plain.begin();
        QVERIFY(rich < qsizetype(plain.size()));
        const XlsWorkbook once(stream, QStringLiteral("x"));
        put32(stream, once.sheet(0).cell(3, 5)->offset + 4 + 6, quint32(rich));
        change.value.text = wb.strings().at(rich);
    }
    if (wrong == QLatin1String("none")) {
        QVERIFY_THROWS_NO_EXCEPTION(book.writeFile(book.fileWithStream(stream, {change})));
        QCOMPARE(ssconvertSheets(path).first().value(3).value(5), change.value.text);
        return;
    }
    try {
        book.writeFile(book.fileWithStream(stream, {change}));
        QFAIL("a workbook that reads back wrong was written");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("roster_zh_30.xls is not written: ")),
                 qPrintable(e.message()));
        QVERIFY2(e.chinese().startsWith(QStringLiteral("没有写入 roster_zh_30.xls：")),
                 qPrintable(e.chinese()));
    }
    QCOMPARE(readAll(path), before);
} catch (const EngineError &e) {
    QFAIL(qPrintable(e.message()));
}

QTEST_GUILESS_MAIN(TstXlsContainer)
#include "tst_xlscontainer.moc"
