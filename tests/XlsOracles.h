#pragma once
// Independent readers of .xls files for tests: gnumeric's ssconvert, GDAL's
// XLS driver through ogr2ogr, LibreOffice headless, and libgsf for the
// container's streams. Each gives what it read as plain data.

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>

namespace xlsoracles {

using Csv = QList<QStringList>;

// RFC 4180 text: quoted fields may hold commas, quotes and line breaks.
inline Csv parseCsv(const QString &text)
{
    Csv rows;
    QStringList row;
    QString field;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
            any = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            row << field;
            rows << row;
            row.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.isEmpty()) {
        row << field;
        rows << row;
    }
    return rows;
}

inline bool have(const char *program)
{
    return !QStandardPaths::findExecutable(QLatin1String(program)).isEmpty();
}

inline int run(const QString &program, const QStringList &args, int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

inline QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Every sheet as ssconvert reads it, by sheet name, values raw (numbers and
// dates as numbers). Empty when ssconvert fails.
inline QMap<QString, Csv> ssconvertSheets(const QString &file)
{
    QTemporaryDir out;
    QMap<QString, Csv> sheets;
    if (run(QStringLiteral("ssconvert"),
            {QStringLiteral("-S"), QStringLiteral("-O"), QStringLiteral("format=raw"), QStringLiteral("-T"),
             QStringLiteral("Gnumeric_stf:stf_assistant"), file, out.filePath(QStringLiteral("%s.csv"))}) !=
        0)
        return sheets;
    for (const QString &name : QDir(out.path()).entryList({QStringLiteral("*.csv")}, QDir::Files))
        sheets.insert(name.chopped(4), parseCsv(readText(out.filePath(name))));
    return sheets;
}

// Every layer as GDAL's XLS driver reads it; empty when it cannot.
inline QMap<QString, Csv> gdalLayers(const QString &file)
{
    QTemporaryDir out;
    QMap<QString, Csv> layers;
    const QString dir = out.filePath(QStringLiteral("csv"));
    if (run(QStringLiteral("ogr2ogr"), {QStringLiteral("-f"), QStringLiteral("CSV"), dir, file}) != 0)
        return layers;
    for (const QString &name : QDir(dir).entryList({QStringLiteral("*.csv")}, QDir::Files))
        layers.insert(name.chopped(4), parseCsv(readText(dir + QLatin1Char('/') + name)));
    return layers;
}

// Every stream of the compound file by path ("Workbook", "\005SummaryInformation" ...).
inline QMap<QString, QByteArray> streams(const QByteArray &file)
{
    QMap<QString, QByteArray> out;
    GsfInput *input =
        gsf_input_memory_new(reinterpret_cast<const guint8 *>(file.constData()), file.size(), FALSE);
    GsfInfile *ole = gsf_infile_msole_new(input, nullptr);
    const auto walk = [&](auto &self, GsfInfile *dir, const QString &prefix) -> void {
        for (int i = 0; i < gsf_infile_num_children(dir); ++i) {
            GsfInput *child = gsf_infile_child_by_index(dir, i);
            const QString name = prefix + QString::fromUtf8(gsf_infile_name_by_index(dir, i));
            if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
                self(self, GSF_INFILE(child), name + QLatin1Char('/'));
            } else {
                QByteArray bytes(gsf_input_size(child), '\0');
                if (!bytes.isEmpty())
                    gsf_input_read(child, size_t(bytes.size()), reinterpret_cast<guint8 *>(bytes.data()));
                out.insert(name, bytes);
            }
            g_object_unref(child);
        }
    };
    if (ole) {
        walk(walk, ole, QString());
        g_object_unref(ole);
    }
    g_object_unref(input);
    return out;
}

} // namespace xlsoracles
