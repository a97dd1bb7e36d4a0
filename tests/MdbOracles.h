#pragma once
// Access databases as the two independent readers see them, and as
// Lumora's engine does, in one text form so they can be compared: per table
// its field names and its records, each value as mdb-export writes it with
// -e -Q -0 '\N' -b hex (Null "\N", booleans 1/0, dates yyyy-MM-dd hh:mm:ss,
// bytes as hex, tabs and line breaks escaped). Numbers are compared as
// numbers: readers differ in how many digits they print.

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <map>

namespace MdbOracles {

struct Table
{
    QStringList fields;
    QList<int> daoTypes; // Lumora's only
    QList<QStringList> rows;
};
using Tables = std::map<QString, Table>;

inline QString escaped(QString s)
{
    return s.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

// A value in the readers' text form, numbers as numbers.
inline QString normal(int dao, const QString &s)
{
    using namespace lumora::engine;
    if (s == QLatin1String("\\N"))
        return s;
    switch (dao) {
    case DaoByte:
    case DaoInteger:
    case DaoLong:
    case DaoDouble:
    case DaoDecimal: return QString::number(s.toDouble(), 'g', 15);
    case DaoSingle: return QString::number(double(s.toFloat()), 'g', 7);
    case DaoCurrency: return QString::number(s.toDouble(), 'f', 4);
    case DaoBinary:
    case DaoLongBinary:
    case DaoGuid: return s.toLower();
    default: {
        // Bytes a code page cannot decode: each reader marks them its own way.
        QString t = s;
        return t.replace(QChar(0xFFFD), QLatin1Char('?'));
    }
    }
}

inline QString ours(const lumora::engine::Value &v)
{
    using namespace lumora::engine;
    switch (v.kind()) {
    case Value::Kind::Null: return QStringLiteral("\\N");
    case Value::Kind::Boolean: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case Value::Kind::Binary: return QString::fromLatin1(v.toBinary().toHex());
    case Value::Kind::DateTime: return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case Value::Kind::Currency: return QString::number(double(v.toInteger()) / 10000.0, 'f', 4);
    default: return escaped(v.toText());
    }
}

// Every listed table of the database as Lumora's engine reads it.
inline Tables lumora(const QString &path, const QString &connect = {})
{
    using namespace lumora::engine;
    Tables out;
    const auto db = Database::open(path, connect);
    for (const QString &name : db->tableNames()) {
        Table &t = out[name];
        const Recordset rs = db->openRecordset(QLatin1Char('[') + name + QLatin1Char(']'));
        for (const FieldInfo &f : db->fields(QLatin1Char('[') + name + QLatin1Char(']'))) {
            t.fields << f.name;
            t.daoTypes << f.daoType;
        }
        for (qsizetype r = 0; r < rs.size(); ++r) {
            QStringList row;
            for (int c = 0; c < t.fields.size(); ++c)
                row << normal(t.daoTypes[c], ours(rs.value(r, c)));
            t.rows << row;
        }
    }
    return out;
}

inline QString run(const QString &program, const QStringList &args, const QStringList &env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : env)
        e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The same tables as mdb-export reads them, with `daoTypes` taken from
// `like` (mdb-export prints no types). `codePage`: Jet 3 text's (GBK).
inline Tables mdbExport(const QString &path, const Tables &like, const QString &codePage = {})
{
    Tables out;
    const QStringList env =
        codePage.isEmpty() ? QStringList() : QStringList{QStringLiteral("MDB_JET3_CHARSET=") + codePage};
    for (const auto &[name, shape] : like) {
        Table &t = out[name];
        t.daoTypes = shape.daoTypes;
        const QString text =
            run(QStringLiteral("mdb-export"),
                {QStringLiteral("-Q"), QStringLiteral("-e"), QStringLiteral("-d"), QStringLiteral("\t"),
                 QStringLiteral("-0"), QStringLiteral("\\N"), QStringLiteral("-b"), QStringLiteral("hex"),
                 QStringLiteral("-D"), QStringLiteral("%Y-%m-%d %H:%M:%S"), QStringLiteral("-T"),
                 QStringLiteral("%Y-%m-%d %H:%M:%S"), path, name},
                env);
        QStringList lines = text.split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        if (lines.isEmpty())
            continue;
        t.fields = lines.takeFirst().split(QLatin1Char('\t'));
        for (const QString &line : lines) {
            QStringList row = line.split(QLatin1Char('\t'));
            for (int c = 0; c < row.size() && c < t.daoTypes.size(); ++c)
                row[c] = normal(t.daoTypes[c], row[c]);
            t.rows << row;
        }
    }
    return out;
}

// The folder of the pinned mdb-reader package, or empty when it was not
// installed (no registry): see scripts/npm-test-tools.sh.
inline QString mdbReaderDir()
{
    const QString dir = qEnvironmentVariable("LUMORA_NPM") + QStringLiteral("/node_modules/mdb-reader");
    return QFileInfo::exists(dir + QStringLiteral("/package.json")) &&
                   !QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()
               ? dir
               : QString();
}

inline Tables mdbReader(const QString &path, const Tables &like, const QString &codePage = {})
{
    Tables out;
    QStringList args{qEnvironmentVariable("LUMORA_TEST_SOURCES") + QStringLiteral("/mdb_dump.mjs"),
                     mdbReaderDir(), path};
    if (!codePage.isEmpty())
        args << codePage;
    const QString text = run(QStringLiteral("node"), args);
    Table *t = nullptr;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        if (parts[0] == QLatin1String("TABLE")) {
            t = &out[parts.value(1)];
            const auto it = like.find(parts.value(1));
            if (it != like.end())
                t->daoTypes = it->second.daoTypes;
        } else if (t && parts[0] == QLatin1String("FIELD")) {
            t->fields << parts.value(1);
        } else if (t && parts[0] == QLatin1String("ROW")) {
            QStringList row = parts.mid(1);
            for (int c = 0; c < row.size() && c < t->daoTypes.size(); ++c)
                row[c] = normal(t->daoTypes[c], row[c]);
            t->rows << row;
        } else {
            out[QStringLiteral("<error>")].rows << QStringList{line};
        }
    }
    return out;
}

} // namespace MdbOracles
