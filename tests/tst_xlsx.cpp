// The .xlsx backend against openpyxl, LibreOffice and its .xls twin: every
// cell of every fixture read as openpyxl reads it, write-backs that change
// exactly one cell and one or two zip members, and the refusals.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <zip.h>

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/Recordset.h"
#include "data/engine/xls/XlsBackend.h"
#include "data/engine/xlsx/XlsxBackend.h"
#include "data/engine/xlsx/XlsxWorkbook.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace lumora::engine;

namespace {

QString dataDir()
{
    return qEnvironmentVariable("LUMORA_TEST_DATA");
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// ---- openpyxl ------------------------------------------------------------

// The Python that has openpyxl: Debian's, whatever else is first on PATH.
QString python()
{
    static const QString found = [] {
        for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
            QProcess p;
            p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
            if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
                return candidate;
            p.kill();
            p.waitForFinished();
        }
        return QString();
    }();
    return found;
}

struct Seen
{
    QChar kind; // n s b d t e, as tests/xlsx_values.py prints them
    QString value;
    friend bool operator==(const Seen &, const Seen &) = default;
};
using Cells = QMap<std::pair<int, int>, Seen>;
using Sheets = QMap<QString, Cells>;

QString unescape(const QString &s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
            const QChar c = s[++i];
            out += c == QLatin1Char('t')   ? QChar(u'\t')
                   : c == QLatin1Char('n') ? QChar(u'\n')
                   : c == QLatin1Char('r') ? QChar(u'\r')
                                           : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Every worksheet's cells as openpyxl reads them; empty when it fails.
Sheets openpyxlSheets(const QString &file)
{
    Sheets sheets;
    if (python().isEmpty())
        return sheets;
    QProcess p;
    p.start(python(),
            {qEnvironmentVariable("LUMORA_TEST_SOURCES") + QStringLiteral("/xlsx_values.py"), file});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    Cells *current = nullptr;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() == 2 && f[0] == QLatin1String("SHEET"))
            current = &sheets[unescape(f[1])];
        else if (f.size() == 5 && current)
            current->insert({f[1].toInt(), f[2].toInt()}, {f[3].at(0), unescape(f[4])});
    }
    return sheets;
}

// Whether our value of a field of type `type` is what openpyxl sees in its
// cell (`seen` null for no cell), as the table's type shows it: a text in a
// number column and an error read as Null, a number in a text column as
// its text.
bool agrees(const Value &ours, qint16 type, const Seen *seen)
{
    if (!seen || seen->kind == QLatin1Char('e'))
        return ours.isNull();
    const QChar k = seen->kind;
    const bool textField = type == DaoText || type == DaoMemo;
    if (k == QLatin1Char('s'))
        return textField ? !ours.isNull() && ours.toText() == seen->value : ours.isNull();
    if (k == QLatin1Char('b')) {
        if (type == DaoBoolean)
            return !ours.isNull() && ours.toBool() == (seen->value == QLatin1String("1"));
        return textField ? !ours.isNull() : ours.isNull();
    }
    if (k == QLatin1Char('n')) {
        const double n = seen->value.toDouble();
        if (ours.isNull())
            return false;
        if (type == DaoCurrency)
            return ours.toInteger() == std::llround(n * 10000);
        const double mine = textField ? ours.toText().toDouble() : ours.toDouble();
        return type != DaoDate && std::fabs(mine - n) <= 1e-12 * std::max(1.0, std::fabs(n));
    }
    if (k == QLatin1Char('d') || k == QLatin1Char('t')) {
        if (textField)
            return !ours.isNull();
        if (type != DaoDate || ours.isNull())
            return false;
        const QDateTime mine = ours.toDateTime();
        if (k == QLatin1Char('t'))
            return std::abs(mine.time().msecsTo(QTime::fromString(seen->value.left(8), Qt::ISODate))) < 1000;
        const QDateTime theirs = QDateTime::fromString(seen->value.left(19), Qt::ISODate);
        return std::abs(QDateTime(mine.date(), mine.time()).msecsTo(theirs)) < 1000;
    }
    return false;
}

// Compares every worksheet table of the workbook with openpyxl's cells:
// the used range, the names of text header cells, every value.
void compareWithOpenpyxl(Backend &backend, const Sheets &sheets)
{
    QVERIFY2(!sheets.isEmpty(), "openpyxl read nothing (is python3-openpyxl installed?)");
    for (auto s = sheets.begin(); s != sheets.end(); ++s) {
        const QString table = s.key() + QLatin1Char('$');
        QVERIFY2(backend.tableNames().contains(table), qPrintable(table));
        const auto source = backend.openTable(table);
        const Cells &cells = s.value();
        if (cells.isEmpty()) {
            QCOMPARE(source->recordCount(), 0);
            continue;
        }
        int firstRow = INT_MAX, lastRow = -1, firstCol = INT_MAX, lastCol = -1;
        for (auto c = cells.begin(); c != cells.end(); ++c) {
            firstRow = std::min(firstRow, c.key().first);
            lastRow = std::max(lastRow, c.key().first);
            firstCol = std::min(firstCol, c.key().second);
            lastCol = std::max(lastCol, c.key().second);
        }
        QCOMPARE(source->recordCount(), qsizetype(lastRow - firstRow));
        QCOMPARE(source->fields().size(), qsizetype(lastCol - firstCol + 1));
        QStringList headTexts;
        for (int col = firstCol; col <= lastCol; ++col)
            if (const auto it = cells.find({firstRow, col});
                it != cells.end() && it->kind == QLatin1Char('s'))
                headTexts.append(it->value.trimmed());
        for (int col = firstCol; col <= lastCol; ++col) {
            const auto it = cells.find({firstRow, col});
            if (it != cells.end() && it->kind == QLatin1Char('s') && !it->value.trimmed().isEmpty() &&
                headTexts.count(it->value.trimmed()) == 1)
                QCOMPARE(source->fields()[col - firstCol].name, it->value.trimmed());
        }
        for (qsizetype r = 0; r < source->recordCount(); ++r)
            for (int f = 0; f < source->fields().size(); ++f) {
                const auto it = cells.find({firstRow + 1 + int(r), firstCol + f});
                const Seen *seen = it == cells.end() ? nullptr : &*it;
                const Value v = source->value(r, f);
                QVERIFY2(agrees(v, source->fields()[f].daoType, seen),
                         qPrintable(QStringLiteral("%1 record %2 field %3 (type %4): ours %5, openpyxl %6 %7")
                                        .arg(table)
                                        .arg(r)
                                        .arg(source->fields()[f].name)
                                        .arg(source->fields()[f].daoType)
                                        .arg(v.isNull() ? QStringLiteral("Null") : v.toText())
                                        .arg(seen ? QString(seen->kind) : QStringLiteral("-"))
                                        .arg(seen ? seen->value : QString())));
            }
    }
}

// Every value of every table as text, Null apart, for comparing twins.
QStringList dump(Backend &backend, const QString &table)
{
    QStringList out;
    const auto source = backend.openTable(table);
    for (const FieldInfo &f : source->fields())
        out.append(QStringLiteral("%1:%2").arg(f.name).arg(f.daoType));
    for (qsizetype r = 0; r < source->recordCount(); ++r)
        for (int f = 0; f < source->fields().size(); ++f) {
            const Value v = source->value(r, f);
            out.append(v.isNull() ? QStringLiteral("<null>") : v.toText());
        }
    return out;
}

// Every value of a table opened through the engine, as text.
QStringList dump(Database &db, const QString &table)
{
    QStringList out;
    const Recordset rs = db.openRecordset(QLatin1Char('[') + table + QLatin1Char(']'));
    for (const FieldInfo &f : rs.fields())
        out.append(QStringLiteral("%1:%2").arg(f.name).arg(f.daoType));
    for (qsizetype r = 0; r < rs.size(); ++r)
        for (const Value &v : rs.row(r))
            out.append(v.isNull() ? QStringLiteral("<null>") : v.toText());
    return out;
}

std::unique_ptr<Backend> openWorkbook(const QString &path)
{
    return path.endsWith(QLatin1String(".xls")) ? openXlsWorkbook(path) : openXlsxWorkbook(path);
}

// ---- zip archives ----------------------------------------------------------

// One member as stored: its name, method, CRC and compressed bytes.
struct Stored
{
    QString name;
    int method = 0;
    quint32 crc = 0;
    QByteArray raw;
};

QList<Stored> storedMembers(const QByteArray &file)
{
    QList<Stored> out;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *src = zip_source_buffer_create(file.constData(), zip_uint64_t(file.size()), 0, &error);
    zip_t *za = src ? zip_open_from_source(src, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!za) {
        if (src)
            zip_source_free(src);
        return out;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, zip_uint64_t(i), 0, &st);
        Stored m{QString::fromUtf8(st.name), int(st.comp_method), st.crc, {}};
        zip_file_t *f = zip_fopen_index(za, zip_uint64_t(i), ZIP_FL_COMPRESSED);
        m.raw.resize(qsizetype(st.comp_size));
        if (!f || zip_fread(f, m.raw.data(), st.comp_size) != zip_int64_t(st.comp_size))
            m.raw = "unreadable";
        if (f)
            zip_fclose(f);
        out.append(m);
    }
    zip_discard(za);
    return out;
}

// `base` with members replaced or added (`parts`) and removed (`gone`);
// `stored` members are written without compression.
QByteArray rezip(const QByteArray &base, const QMap<QString, QByteArray> &parts, const QStringList &gone = {},
                 bool stored = false)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *src = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(src);
    zip_t *out = zip_open_from_source(src, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    QMap<QString, QByteArray> members;
    QStringList order;
    {
        zip_source_t *in = zip_source_buffer_create(base.constData(), zip_uint64_t(base.size()), 0, nullptr);
        zip_t *za = zip_open_from_source(in, ZIP_RDONLY, nullptr);
        for (zip_int64_t i = 0; za && i < zip_get_num_entries(za, 0); ++i) {
            zip_stat_t st;
            zip_stat_index(za, zip_uint64_t(i), 0, &st);
            QByteArray bytes(qsizetype(st.size), Qt::Uninitialized);
            zip_file_t *f = zip_fopen_index(za, zip_uint64_t(i), 0);
            zip_fread(f, bytes.data(), st.size);
            zip_fclose(f);
            order.append(QString::fromUtf8(st.name));
            members.insert(order.last(), bytes);
        }
        zip_discard(za);
    }
    for (auto it = parts.begin(); it != parts.end(); ++it) {
        if (!members.contains(it.key()))
            order.append(it.key());
        members.insert(it.key(), it.value());
    }
    for (const QString &name : order) {
        if (gone.contains(name))
            continue;
        const QByteArray &bytes = members[name];
        zip_source_t *data = zip_source_buffer(out, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = zip_file_add(out, name.toUtf8().constData(), data, ZIP_FL_ENC_UTF_8);
        zip_set_file_compression(out, zip_uint64_t(index), stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    zip_close(out);
    zip_stat_t st;
    zip_source_stat(src, &st);
    QByteArray result(qsizetype(st.size), Qt::Uninitialized);
    zip_source_open(src);
    zip_source_read(src, result.data(), st.size);
    zip_source_close(src);
    zip_source_free(src);
    return result;
}

QByteArray member(const QByteArray &file, const QString &name)
{
    return XlsxWorkbook(file, QStringLiteral("x.xlsx")).package().read(name);
}

// An OLE2 compound file holding the streams an encrypted workbook holds.
QByteArray encryptedWorkbook()
{
    GsfOutput *mem = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(mem);
    for (const char *name : {"EncryptionInfo", "EncryptedPackage"}) {
        GsfOutput *s = gsf_outfile_new_child(ole, name, FALSE);
        const QByteArray bytes(600, 'x');
        gsf_output_write(s, size_t(bytes.size()), reinterpret_cast<const guint8 *>(bytes.constData()));
        gsf_output_close(s);
        g_object_unref(s);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    const QByteArray out(reinterpret_cast<const char *>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem))),
                         qsizetype(gsf_output_size(mem)));
    g_object_unref(mem);
    return out;
}

const QString kLibreOffice = QStringLiteral("xlsx/generated/roster_libreoffice.xlsx");

} // namespace

class TstXlsx : public QObject
{
    Q_OBJECT

private slots:
    void readsAsOpenpyxl_data();
    void readsAsOpenpyxl();
    void twinsReadAlike_data();
    void twinsReadAlike();
    void readsEveryFormOfXmlAlike_data();
    void readsEveryFormOfXmlAlike();
    void refusesDamagedPackages_data();
    void refusesDamagedPackages();
    void limitsInflatedParts();
    void excelKindTellsByContent();
    void writesOneCell_data();
    void writesOneCell();
    void refusesWrites_data();
    void refusesWrites();
    void libreOfficeOpensWrittenRoster();
};

void TstXlsx::readsAsOpenpyxl_data()
{
    QTest::addColumn<QString>("file");
    QDirIterator it(dataDir(), {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files,
                    QDirIterator::Subdirectories);
    int n = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        // openpyxl reads no Strict workbook: its twin's test covers it.
        if (path.endsWith(QLatin1String("_strict.xlsx")))
            continue;
        QTest::newRow(qPrintable(QDir(dataDir()).relativeFilePath(path))) << path;
        ++n;
    }
    QVERIFY(n >= 9);
}

void TstXlsx::readsAsOpenpyxl()
{
    QFETCH(QString, file);
    const auto backend = openXlsxWorkbook(file);
    compareWithOpenpyxl(*backend, openpyxlSheets(file));
}

void TstXlsx::twinsReadAlike_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("twin");
    QTest::addColumn<QStringList>("tables");
    const QStringList roster{QStringLiteral("名单$"), QStringLiteral("Tables$"), QStringLiteral("Everyone"),
                             QStringLiteral("Tables$Small")};
    QTest::newRow("Strict namespaces") << "xlsx/generated/roster_strict.xlsx" << kLibreOffice << roster;
    QTest::newRow("no addresses") << "xlsx/generated/roster_unaddressed.xlsx" << kLibreOffice << roster;
    QTest::newRow("roster, .xls by LibreOffice")
        << "generated/roster_zh_30.xlsx"
        << "generated/roster_zh_30.xls" << QStringList{"高一 学生名单 roster$"};
    QTest::newRow("ExcelDataReader's types, .xls")
        << "xlsx/edr_Test_num_double_date_bool_string.xlsx"
        << "xls/edr_Test_num_double_date_bool_string.xls" << QStringList{"Sheet1$", "Sheet2$"};
    QTest::newRow("scoped names, .xls by gnumeric")
        << "xlsx/generated/scoped_names_gnumeric.xlsx"
        << "generated/scoped_names_gnumeric.xls"
        << QStringList{"Sheet1$", "PaidDump", "Sheet1$PaidDump", "Sheet2$PaidDump"};
}

void TstXlsx::twinsReadAlike()
{
    QFETCH(QString, file);
    QFETCH(QString, twin);
    QFETCH(QStringList, tables);
    const auto a = openWorkbook(dataDir() + QLatin1Char('/') + file);
    const auto b = openWorkbook(dataDir() + QLatin1Char('/') + twin);
    for (const QString &t : tables)
        QCOMPARE(dump(*a, t), dump(*b, t));
}

// The same sheet and shared strings written in other forms XML allows read
// as the original: UTF-16 (read by expat), comments, CDATA, character
// references, single quotes and spaces around "=" (the own scanner).
void TstXlsx::readsEveryFormOfXmlAlike_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray base = readAll(dataDir() + QLatin1Char('/') + kLibreOffice);
    const QString sheet = QStringLiteral("xl/worksheets/sheet1.xml");
    const QString strings = QStringLiteral("xl/sharedStrings.xml");
    const QByteArray xml = member(base, sheet), sst = member(base, strings);
    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\""));
    const auto utf16 = [](QByteArray x) {
        x.replace("encoding=\"UTF-8\"", "encoding=\"UTF-16\"");
        const QString text = QString::fromUtf8(x);
        return QByteArray("\xFF\xFE", 2) +
               QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    };
    QTest::newRow("UTF-16") << rezip(base, {{sheet, utf16(xml)}, {strings, utf16(sst)}});
    QByteArray forms = xml;
    forms.replace("<v>", "<v><!-- a value --><![CDATA[").replace("</v>", "]]></v>");
    forms.replace(" t=\"s\"", " t = 's'").replace("<sheetData>", "<sheetData>\r\n<?pi x?>");
    QByteArray refs = sst;
    refs.replace("学", "&#23398;")
        .replace("名", "&#x540D;")
        .replace("<t xml:space=\"preserve\">", "<t xml:space='preserve'>");
    QTest::newRow("comments, CDATA, references") << rezip(base, {{sheet, forms}, {strings, refs}});
}

void TstXlsx::readsEveryFormOfXmlAlike()
{
    QFETCH(QByteArray, file);
    const auto original = openXlsxWorkbook(dataDir() + QLatin1Char('/') + kLibreOffice);
    const auto other = openXlsxBytes(file, QStringLiteral("other.xlsx"));
    QCOMPARE(other->tableNames(), original->tableNames());
    for (const QString &t : original->tableNames())
        QCOMPARE(dump(*other, t), dump(*original, t));
}

void TstXlsx::refusesDamagedPackages_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    const QByteArray base = readAll(dataDir() + QLatin1Char('/') + kLibreOffice);
    QVERIFY(!base.isEmpty());
    const QString sheet = QStringLiteral("xl/worksheets/sheet1.xml");
    const QByteArray xml = member(base, sheet);
    const QByteArray strings = member(base, QStringLiteral("xl/sharedStrings.xml"));
    const qsizetype afterDecl = xml.indexOf("?>") + 2;
    QByteArray entity = xml;
    entity.insert(afterDecl, "<!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\">]>");
    QTest::newRow("DOCTYPE with an entity") << rezip(base, {{sheet, entity}}) << "DOCTYPE";
    QByteArray laughs = strings;
    laughs.insert(strings.indexOf("?>") + 2,
                  "<!DOCTYPE sst [<!ENTITY a \"lol\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>");
    laughs.replace("<t xml:space=\"preserve\">", "<t xml:space=\"preserve\">&b;");
    QTest::newRow("entities in the shared strings")
        << rezip(base, {{QStringLiteral("xl/sharedStrings.xml"), laughs}}) << "DOCTYPE";
    QByteArray undeclared = xml;
    undeclared.replace("<v>", "<v>&x;");
    QTest::newRow("an undeclared entity") << rezip(base, {{sheet, undeclared}}) << "well-formed";
    QTest::newRow("a member named ..") << rezip(base, {{QStringLiteral("../evil.txt"), "x"}}) << "outside";
    QTest::newRow("an absolute member") << rezip(base, {{QStringLiteral("/tmp/evil.txt"), "x"}}) << "outside";
    QTest::newRow("a sheet part missing") << rezip(base, {}, {sheet}) << "is missing";
    QTest::newRow("the workbook part missing")
        << rezip(base, {}, {QStringLiteral("xl/workbook.xml")}) << "no workbook part";
    QTest::newRow("an .xlsb") << rezip(base, {{QStringLiteral("xl/workbook.bin"), "x"}}, {}) << ".xlsb";
    QTest::newRow("truncated") << base.left(base.size() / 2) << "zip container cannot be read";
    QTest::newRow("not a zip") << QByteArray("PK\x03\x04 nothing else") << "zip container cannot be read";
    QByteArray unclosed = xml;
    unclosed.chop(40);
    QTest::newRow("XML cut short") << rezip(base, {{sheet, unclosed}}) << "well-formed";
    QByteArray badIndex = xml;
    badIndex.replace(QByteArray("t=\"s\"><v>0</v>"), QByteArray("t=\"s\"><v>4000</v>"));
    QTest::newRow("a shared string past the end") << rezip(base, {{sheet, badIndex}}) << "shared text 4000";
    // A byte of a stored sheet changed: its CRC no longer matches.
    QByteArray flipped = rezip(base, {}, {}, true);
    // A digit of a value: the XML stays well-formed, only the CRC tells.
    const qsizetype at = flipped.indexOf("<v>1");
    QVERIFY(at > 0);
    flipped[at + 3] = '7';
    QTest::newRow("a CRC that does not match") << flipped << "cannot be inflated";
}

void TstXlsx::refusesDamagedPackages()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    try {
        const auto backend = openXlsxBytes(file, QStringLiteral("bad.xlsx"));
        for (const QString &t : backend->tableNames())
            dump(*backend, t);
        QFAIL("opened");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        QVERIFY2(e.message().contains(QLatin1String("bad.xlsx")), qPrintable(e.message()));
    }
}

// A part may inflate to exactly the limit and not a byte more, whatever
// size the archive claims for it.
void TstXlsx::limitsInflatedParts()
{
    const QByteArray base = readAll(dataDir() + QLatin1Char('/') + kLibreOffice);
    const QString sheet = QStringLiteral("xl/worksheets/sheet1.xml");
    QByteArray big = member(base, sheet);
    big.replace("</worksheet>", "<extLst>" + QByteArray(3 << 20, ' ') + "</extLst></worksheet>");
    const QByteArray file = rezip(base, {{sheet, big}});
    const qint64 size = big.size();
    XlsxWorkbook(file, QStringLiteral("big.xlsx"), size).sheet(0);
    QVERIFY_THROWS_EXCEPTION(EngineError, XlsxWorkbook(file, QStringLiteral("big.xlsx"), size - 1).sheet(0));

    // The same part claiming 100 bytes in both its headers.
    QByteArray lying = file;
    const QByteArray name = sheet.toUtf8();
    int patched = 0;
    for (const QByteArray &signature : {QByteArray("PK\x01\x02", 4), QByteArray("PK\x03\x04", 4)}) {
        const int sizeAt = signature[2] == 1 ? 24 : 22; // uncompressed size in the central / local header
        const int nameAt = signature[2] == 1 ? 46 : 30;
        for (qsizetype at = lying.indexOf(signature); at >= 0; at = lying.indexOf(signature, at + 4))
            if (lying.mid(at + nameAt, name.size()) == name) {
                const char hundred[4] = {100, 0, 0, 0};
                lying.replace(at + sizeAt, 4, hundred, 4);
                ++patched;
            }
    }
    QCOMPARE(patched, 2);
    try {
        XlsxWorkbook(lying, QStringLiteral("lying.xlsx"), 1 << 20).sheet(0);
        QFAIL("read");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(QLatin1String("inflates to more than 1 MB")), qPrintable(e.message()));
    }
}

void TstXlsx::excelKindTellsByContent()
{
    QTemporaryDir dir;
    // An .xlsx named .xls and an .xls named .xlsx open as what they are.
    const QString xlsx = dir.filePath(QStringLiteral("roster.xls"));
    const QString xls = dir.filePath(QStringLiteral("roster.xlsx"));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/generated/roster_zh_30.xlsx"), xlsx));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/generated/roster_zh_30.xls"), xls));
    const QString table = QStringLiteral("高一 学生名单 roster$");
    const QStringList values = dump(*Database::open(xlsx, QStringLiteral("Excel 8.0")), table);
    QCOMPARE(values.size(), 6 * 31);
    QCOMPARE(values, dump(*Database::open(xls, QStringLiteral("Excel 8.0")), table));

    const QString encrypted = dir.filePath(QStringLiteral("secret.xlsx"));
    writeAll(encrypted, encryptedWorkbook());
    try {
        Database::open(encrypted, QStringLiteral("Excel 8.0"));
        QFAIL("opened");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(QLatin1String("encrypted workbook")), qPrintable(e.message()));
    }
}

void TstXlsx::writesOneCell_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    const QString lo = kLibreOffice;
    QTest::newRow("LibreOffice: an existing text")
        << lo << "update [名单$] set 姓名='新名字' where 学号='2024000001'"
        << "名单" << 1 << 1 << "s"
        << "新名字";
    QTest::newRow("LibreOffice: an empty cell")
        << lo << "update [名单$] set 备注='补 & <记>' where 学号='2024000002'"
        << "名单" << 2 << 6 << "s"
        << "补 & <记>";
    QTest::newRow("LibreOffice: a key with an apostrophe")
        << lo << "update [名单$] set 成绩=60 where 姓名='Mary O''Connor'"
        << "名单" << 2 << 2 << "n"
        << "60.0";
    QTest::newRow("LibreOffice: a row that is not there")
        << lo << "update [名单$] set 姓名='新行' where 学号 is null"
        << "名单" << 3 << 1 << "s"
        << "新行";
    QTest::newRow("LibreOffice: a date")
        << lo << "update [名单$] set 生日=#2010-01-02# where 学号='2024000004'"
        << "名单" << 4 << 3 << "d"
        << "2010-01-02T00:00:00";
    QTest::newRow("LibreOffice: a text already shared")
        << lo << "update [名单$] set 备注='x' where 学号='2024000005'"
        << "名单" << 5 << 6 << "s"
        << "x";
    QTest::newRow("LibreOffice roster: a photo name")
        << "generated/roster_zh_30.xlsx"
        << "update [高一 学生名单 roster$] set 照片='2024000003.jpg' where 姓名='Mary O''Connor（玛丽）'"
        << "高一 学生名单 roster" << 3 << 5 << "s"
        << "2024000003.jpg";
    QTest::newRow("openpyxl: an inline string") << "xlsx/generated/types_openpyxl.xlsx"
                                                << "update [名单$] set 姓名=' 前后 ' where 学号='2024000004'"
                                                << "名单" << 4 << 1 << "s"
                                                << " 前后 ";
    QTest::newRow("openpyxl: a text that looks escaped")
        << "xlsx/generated/types_openpyxl.xlsx"
        << "update [名单$] set 备注='_x0041_' where 学号='2024000001'"
        << "名单" << 1 << 6 << "s"
        << "_x0041_";
    QTest::newRow("gnumeric: an amount") << "xlsx/generated/scoped_names_gnumeric.xlsx"
                                         << "update [Sheet1$] set 金额=12.5 where 学号=2"
                                         << "Sheet1" << 2 << 2 << "n"
                                         << "12.5";
    QTest::newRow("EasyExcel: a text") << "xlsx/easyexcel_demo.xlsx"
                                       << "update [Sheet2$] set 字符串标题='改' where 数字标题=3"
                                       << "Sheet2" << 3 << 0 << "s"
                                       << "改";
}

// Each write changes the one cell openpyxl sees and, of the zip's members,
// only the sheet's and the shared strings'; every other member keeps its
// stored bytes.
void TstXlsx::writesOneCell()
{
    QFETCH(QString, file);
    QFETCH(QString, statement);
    QFETCH(QString, sheet);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QFileInfo(file).fileName());
    QVERIFY(QFile::copy(dataDir() + QLatin1Char('/') + file, path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = readAll(path);
    Sheets expected = openpyxlSheets(path);
    QVERIFY(expected.contains(sheet));
    expected[sheet][{row, col}] = {kind.at(0), value};

    QCOMPARE(Database::open(path, QStringLiteral("Excel 8.0"))->execute(statement), 1);

    const QByteArray after = readAll(path);
    QCOMPARE(openpyxlSheets(path), expected);
    const QList<Stored> a = storedMembers(before), b = storedMembers(after);
    QCOMPARE(b.size(), a.size());
    QStringList changed;
    for (qsizetype i = 0; i < a.size(); ++i) {
        QCOMPARE(b[i].name, a[i].name);
        if (b[i].raw != a[i].raw || b[i].crc != a[i].crc || b[i].method != a[i].method)
            changed.append(a[i].name);
    }
    QVERIFY2(changed.size() >= 1 && changed.size() <= 2, qPrintable(changed.join(u' ')));
    for (const QString &name : changed)
        QVERIFY2(name == QLatin1String("xl/sharedStrings.xml") ||
                     name.startsWith(QLatin1String("xl/worksheets/")),
                 qPrintable(name));
    QVERIFY(changed.filter(QStringLiteral("xl/worksheets/")).size() == 1);
    // Our own reading agrees, through the table's types.
    compareWithOpenpyxl(*openXlsxWorkbook(path), expected);
}

void TstXlsx::refusesWrites_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("lockFile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a formula") << "update [名单$] set 公式=1 where 学号='2024000001'"
                               << ""
                               << "holds a formula";
    QTest::newRow("an array formula's cell") << "update [Tables$] set F3=1 where 名称='乙'"
                                             << ""
                                             << "array formula";
    QTest::newRow("a table's header row") << "update [Tables$] set 名称='x' where 名称='列一'"
                                          << ""
                                          << "header row of a table";
    QTest::newRow("open in Excel") << "update [名单$] set 姓名='x' where 学号='2024000001'"
                                   << "~$roster_libreoffice.xlsx"
                                   << "is open in another program";
    QTest::newRow("open in LibreOffice") << "update [名单$] set 姓名='x' where 学号='2024000001'"
                                         << ".~lock.roster_libreoffice.xlsx#"
                                         << "is open in another program";
}

void TstXlsx::refusesWrites()
{
    QFETCH(QString, statement);
    QFETCH(QString, lockFile);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster_libreoffice.xlsx"));
    QVERIFY(QFile::copy(dataDir() + QLatin1Char('/') + kLibreOffice, path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (!lockFile.isEmpty())
        writeAll(dir.filePath(lockFile), "someone");
    const QByteArray before = readAll(path);
    try {
        Database::open(path, QStringLiteral("Excel 8.0"))->execute(statement);
        QFAIL("written");
    } catch (const EngineError &e) {
        QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
    }
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), lockFile.isEmpty() ? 1 : 2);
}

// Three writes into LibreOffice's roster: LibreOffice opens the result and
// sees the three values.
void TstXlsx::libreOfficeOpensWrittenRoster()
{
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        QFAIL("soffice (libreoffice-calc) is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roster.xlsx"));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/generated/roster_zh_30.xlsx"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const auto db = Database::open(path, QStringLiteral("Excel 8.0"));
    const QString t = QStringLiteral("[高一 学生名单 roster$]");
    QCOMPARE(db->execute(QStringLiteral("update %1 set 姓名='王五' where 学号='2024000002'").arg(t)), 1);
    QCOMPARE(db->execute(QStringLiteral("update %1 set 照片='p1.jpg' where 学号='2024000001'").arg(t)), 1);
    QCOMPARE(
        db->execute(QStringLiteral("update %1 set 照片='p3.jpg' where 姓名='Mary O''Connor（玛丽）'").arg(t)),
        1);
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral("soffice"),
            {QStringLiteral("--headless"), QStringLiteral("--norestore"),
             QStringLiteral("-env:UserInstallation=file://%1/profile").arg(dir.path()),
             QStringLiteral("--convert-to"), QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"),
             QStringLiteral("--outdir"), dir.filePath(QStringLiteral("out")), path});
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        QFAIL("soffice did not finish");
    }
    const QStringList lines =
        QString::fromUtf8(readAll(dir.filePath(QStringLiteral("out/roster.csv")))).split(QLatin1Char('\n'));
    QVERIFY2(lines.size() > 4, qPrintable(QString::fromUtf8(p.readAllStandardError())));
    QVERIFY2(lines[1].startsWith(QLatin1String("2024000001,")) && lines[1].endsWith(QLatin1String(",p1.jpg")),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith(QStringLiteral("2024000002,王五,")), qPrintable(lines[2]));
    QVERIFY2(lines[3].endsWith(QLatin1String(",p3.jpg")), qPrintable(lines[3]));
}

QTEST_GUILESS_MAIN(TstXlsx)
#include "tst_xlsx.moc"
