// lumora-sql: runs one of the program's statements against a data file
// through Lumora's table engine, for checking files by hand and in tests.

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

using namespace lumora::engine;

namespace {

const char usage[] =
    "Usage: lumora-sql [--kind excel|access|foxpro|dbase] FILE [STATEMENT]\n"
    "\n"
    "Opens FILE with Lumora's table engine. The kind follows from the extension\n"
    "(.xls excel, .mdb access, .dbf dbase, in any letter case) unless --kind\n"
    "names it. A dBase or FoxPro database is the folder holding FILE.\n"
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
    "[a]]b] is the table a]b.\n"
    "\n"
    "Exit status 0 on success; on failure one line \"lumora-sql: message\" on\n"
    "standard error and status 1 (2 for a wrong command line).\n";

struct Kind
{
    const char *name;
    const char *connect;
    const char *extension;
};

const Kind kinds[] = {
    {"excel", "Excel 8.0", "xls"},
    {"access", "", "mdb"},
    {"foxpro", "FOXPro3.0", nullptr},
    {"dbase", "dBASE IV", "dbf"},
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

int fail(const QString &message, int status = 1)
{
    std::fprintf(stderr, "lumora-sql: %s\n", message.toUtf8().constData());
    return status;
}

bool isUpdate(const QString &statement)
{
    const QString t = statement.trimmed();
    return t.startsWith(QLatin1String("update"), Qt::CaseInsensitive)
           && (t.size() == 6 || t.at(6).isSpace() || t.at(6) == QLatin1Char('['));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString kindName;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (a == QLatin1String("--kind")) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("--kind needs a value: excel, access, foxpro or dbase"), 2);
            kindName = args.at(++i);
        } else if (a.startsWith(QLatin1String("--kind="))) {
            kindName = a.mid(7);
        } else if (a.startsWith(QLatin1String("--")) && positional.isEmpty()) {
            return fail(QStringLiteral("unknown option %1 (see --help)").arg(a), 2);
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty() || positional.size() > 2)
        return fail(QStringLiteral("expected FILE [STATEMENT] (see --help)"), 2);

    const QString file = positional.at(0);
    const Kind *kind = nullptr;
    for (const Kind &k : kinds) {
        const bool named = !kindName.isEmpty() && kindName.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0;
        const bool byExtension = kindName.isEmpty() && k.extension
                                 && QFileInfo(file).suffix().compare(QLatin1String(k.extension), Qt::CaseInsensitive) == 0;
        if (named || byExtension) {
            kind = &k;
            break;
        }
    }
    if (!kind)
        return kindName.isEmpty()
                   ? fail(QStringLiteral("cannot tell the kind of %1 from its extension; use --kind").arg(file), 2)
                   : fail(QStringLiteral("unknown kind \"%1\": excel, access, foxpro or dbase").arg(kindName), 2);

    try {
        auto db = Database::open(file, QString::fromLatin1(kind->connect));
        if (positional.size() == 1) {
            // A damaged table is left out with a note; the others are listed.
            // Only the table FILE names itself makes the listing fail.
            const QFileInfo named(file);
            QString failure;
            for (const QString &table : db->tableNames()) {
                const QString bracketed = QLatin1Char('[') + QString(table).replace(QLatin1String("]"), QLatin1String("]]"))
                                          + QLatin1Char(']');
                QList<FieldInfo> fields;
                QStringList notes;
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
                for (const QString &n : std::as_const(notes))
                    note(n);
                out(QStringLiteral("TABLE\t") + escaped(table));
                for (int i = 0; i < fields.size(); ++i)
                    out(QStringLiteral("FIELD\t%1\t%2\t%3").arg(i).arg(escaped(fields.at(i).name)).arg(fields.at(i).daoType));
            }
            if (!failure.isNull()) {
                std::fflush(stdout);
                return fail(failure);
            }
        } else if (isUpdate(positional.at(1))) {
            out(QString::number(db->execute(positional.at(1))));
        } else {
            const Recordset rs = db->openRecordset(positional.at(1));
            QStringList cells;
            for (qsizetype r = 0; r < rs.size(); ++r) {
                cells.clear();
                for (const Value &v : rs.row(r))
                    cells << escaped(v.toText());
                out(cells.join(QLatin1Char('\t')));
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
