// lumora-sql: runs one of the program's statements against a data file
// through Lumora's table engine, for checking files by hand and in tests.

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "data/engine/sql/SqlLexer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QStringEncoder>
#include <QStringList>
#include <cstdio>
#include <vector>

using namespace lumora::engine;

namespace {

const char usage[] = "Usage: lumora-sql [--kind excel|access|foxpro|dbase|csv] FILE [STATEMENT]\n"
                     "\n"
                     "Opens FILE with Lumora's table engine. The kind follows from the extension\n"
                     "(.xls, .xlsx and .xlsm excel, .mdb access, .dbf dbase, .csv and .txt csv,\n"
                     "in any letter case) unless --kind names it. An Excel workbook is read as\n"
                     "either format by its content. A dBase or FoxPro database is the folder\n"
                     "holding FILE; a delimited text file is a database of one table, named\n"
                     "after the file without its extension.\n"
                     "\n"
                     "Without STATEMENT, lists every table and its fields:\n"
                     "  TABLE<TAB>name\n"
                     "  FIELD<TAB>position<TAB>name<TAB>type code\n"
                     "where position counts the table's fields from 0 (grid column position+1)\n"
                     "and the type code is the old engine's (10 text, 7 double, 8 date ...).\n"
                     "A table that cannot be read is left out of the listing with a note on\n"
                     "standard error (\"lumora-sql: note: message\"), as is anything else worth\n"
                     "knowing about a table that was read (a record count its header overstates,\n"
                     "a code page guessed).\n"
                     "\n"
                     "A select statement (or a table name) prints one line per record, the\n"
                     "values tab-separated as the grid shows them, in UTF-8. An update\n"
                     "statement prints the number of records changed.\n"
                     "\n"
                     "Every name and value is written as in PostgreSQL's COPY text format: a\n"
                     "tab, line feed, carriage return or backslash inside it is written as\n"
                     "\\t, \\n, \\r or \\\\, so each line is one record and each tab ends a value.\n"
                     "\n"
                     "In a statement a name in brackets may hold \"]\" written twice:\n"
                     "[a]]b] is the table a]b. STATEMENT is read as UTF-8: one that is not\n"
                     "UTF-8 is refused, as is a value to be written that holds U+FFFD.\n"
                     "\n"
                     "Exit status 0 on success; on failure one line \"lumora-sql: message\" on\n"
                     "standard error and status 1 (2 for a wrong command line).\n";

struct Kind
{
    const char *name;
    const char *connect;
    const char *extension;
    const char *otherExtensions = nullptr; // ';'-separated
};

const Kind kinds[] = {
    {"excel", "Excel 8.0", "xls", "xlsx;xlsm"},
    {"access", "", "mdb"},
    {"foxpro", "FOXPro3.0", nullptr},
    {"dbase", "dBASE IV", "dbf"},
    {"csv", "Text", "csv", "txt"},
};

// A name or value as one unambiguous cell: the characters that end a cell
// or a line, and the backslash that escapes them, as backslash sequences.
QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\t': out += QLatin1String("\\t"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\\': out += QLatin1String("\\\\"); break;
        default: out += c;
        }
    }
    return out;
}

void note(const QString &message)
{
    std::fprintf(stderr, "lumora-sql: note: %s\n", message.toUtf8().constData());
}

void out(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

// The records of a select, written to standard output in large blocks:
// each value goes from UTF-16 to escaped UTF-8 straight into one buffer,
// without a string of its own, and the buffer goes out with one fwrite when
// it is full. A roster of 50,000 records is a few megabytes of output.
class RecordWriter
{
public:
    RecordWriter() { m_buffer.reserve(kBlock + 4096); }
    ~RecordWriter() { flush(); }
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // Appends `text` as one cell, escaped as escaped() does.
    void cell(QStringView text)
    {
        // At most 3 bytes of UTF-8 for one UTF-16 unit (a surrogate pair
        // makes 4 from 2), and 2 for an escaped character.
        const size_t start = m_buffer.size();
        m_buffer.resize(start + 3 * size_t(text.size()));
        char *p = m_buffer.data() + start;
        const char16_t *s = text.utf16();
        const char16_t *const end = s + text.size();
        while (s < end) {
            const char16_t c = *s;
            if (c >= 0x80) {
                const char16_t *run = s;
                while (run < end && *run >= 0x80)
                    ++run;
                p = m_utf8.appendToBuffer(p, QStringView(s, run));
                s = run;
                continue;
            }
            switch (c) {
            case '\t':
                *p++ = '\\';
                *p++ = 't';
                break;
            case '\n':
                *p++ = '\\';
                *p++ = 'n';
                break;
            case '\r':
                *p++ = '\\';
                *p++ = 'r';
                break;
            case '\\':
                *p++ = '\\';
                *p++ = '\\';
                break;
            default: *p++ = char(c);
            }
            ++s;
        }
        m_buffer.resize(size_t(p - m_buffer.data()));
    }
    void cell(const Value &v)
    {
        if (!v.isNull()) {
            const QString text = v.toText(); // a Text value's own string, shared
            cell(QStringView(text));
        }
    }
    void separator(char c)
    {
        m_buffer.push_back(c);
        if (c == '\n' && m_buffer.size() >= kBlock)
            flush();
    }
    void flush()
    {
        if (!m_buffer.empty())
            std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
        m_buffer.clear();
    }

private:
    static constexpr size_t kBlock = 256 * 1024;
    std::vector<char> m_buffer;
    QStringEncoder m_utf8{QStringConverter::Utf8, QStringConverter::Flag::Stateless};
};

int fail(const QString &message, int status = 1)
{
    std::fprintf(stderr, "lumora-sql: %s\n", message.toUtf8().constData());
    return status;
}

bool isUpdate(const QString &statement)
{
    const QString t = statement.trimmed();
    return t.startsWith(QLatin1String("update"), Qt::CaseInsensitive) &&
           (t.size() == 6 || t.at(6).isSpace() || t.at(6) == QLatin1Char('['));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The statement is read from its own bytes (see below); the rest as
    // the system gives them.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString kindName;
    QStringList positional;
    int statementArg = 0; // its index in argv
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (a == QLatin1String("--kind")) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("--kind needs a value: excel, access, foxpro, dbase or csv"), 2);
            kindName = args.at(++i);
        } else if (a.startsWith(QLatin1String("--kind="))) {
            kindName = a.mid(7);
        } else if (a.startsWith(QLatin1String("--")) && positional.isEmpty()) {
            return fail(QStringLiteral("unknown option %1 (see --help)").arg(a), 2);
        } else {
            positional << a;
            if (positional.size() == 2)
                statementArg = int(i) + 1;
        }
    }
    if (positional.isEmpty() || positional.size() > 2)
        return fail(QStringLiteral("expected FILE [STATEMENT] (see --help)"), 2);

    const QString file = positional.at(0);
    const Kind *kind = nullptr;
    for (const Kind &k : kinds) {
        const bool named =
            !kindName.isEmpty() && kindName.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0;
        const QString suffix = QFileInfo(file).suffix();
        const bool byExtension = kindName.isEmpty() && k.extension &&
                                 (suffix.compare(QLatin1String(k.extension), Qt::CaseInsensitive) == 0 ||
                                  (k.otherExtensions && QString::fromLatin1(k.otherExtensions)
                                                            .split(QLatin1Char(';'))
                                                            .contains(suffix, Qt::CaseInsensitive)));
        if (named || byExtension) {
            kind = &k;
            break;
        }
    }
    if (!kind)
        return kindName.isEmpty()
                   ? fail(QStringLiteral("cannot tell the kind of %1 from its extension; use --kind")
                              .arg(file),
                          2)
                   : fail(QStringLiteral("unknown kind \"%1\": excel, access, foxpro, dbase or csv")
                              .arg(kindName),
                          2);

    try {
        // Bytes that are not UTF-8 are refused, not read as U+FFFD and written.
        if (statementArg > 0)
            positional[1] = SqlLexer::decodeUtf8(QByteArrayView(argv[statementArg]));
        auto db = Database::open(file, QString::fromLatin1(kind->connect));
        if (positional.size() == 1) {
            // A damaged table is left out with a note; the others are listed.
            // Only the table FILE names itself makes the listing fail.
            const QFileInfo named(file);
            QString failure;
            QSet<QString> noted;
            for (const QString &table : db->tableNames()) {
                const QString bracketed = QLatin1Char('[') +
                                          QString(table).replace(QLatin1String("]"), QLatin1String("]]")) +
                                          QLatin1Char(']');
                QList<FieldInfo> fields;
                QList<EngineNote> notes;
                try {
                    fields = db->fields(bracketed);
                    notes = db->notes(bracketed);
                } catch (const EngineError &e) {
                    if (named.isFile() && named.completeBaseName() == table)
                        failure = e.message();
                    else
                        note(e.message());
                    continue;
                }
                // A note on the whole file comes with each of its tables: once is enough.
                for (const EngineNote &n : std::as_const(notes))
                    if (!noted.contains(n.message)) {
                        noted.insert(n.message);
                        note(n.message);
                    }
                out(QStringLiteral("TABLE\t") + escaped(table));
                for (int i = 0; i < fields.size(); ++i)
                    out(QStringLiteral("FIELD\t%1\t%2\t%3")
                            .arg(i)
                            .arg(escaped(fields.at(i).name))
                            .arg(fields.at(i).daoType));
            }
            if (!failure.isNull()) {
                std::fflush(stdout);
                return fail(failure);
            }
        } else if (isUpdate(positional.at(1))) {
            out(QString::number(db->execute(positional.at(1))));
        } else {
            // The records are left for the end of the process to reclaim:
            // freeing half a million values one by one took a sixth of the
            // run. The pointer keeps them reachable, so no leak is reported.
            static const Recordset *records = nullptr;
            records = new Recordset(db->openRecordset(positional.at(1)));
            const Recordset &rs = *records;
            RecordWriter writer;
            for (qsizetype r = 0; r < rs.size(); ++r) {
                const QList<Value> &row = rs.row(r);
                for (qsizetype f = 0; f < row.size(); ++f) {
                    if (f > 0)
                        writer.separator('\t');
                    writer.cell(row.at(f));
                }
                writer.separator('\n');
            }
        }
    } catch (const EngineError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    std::fflush(stdout);
    return std::ferror(stdout) ? fail(QStringLiteral("cannot write the output")) : 0;
}
