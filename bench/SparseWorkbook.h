#pragma once
// A workbook of four cells at the corners of the sheet, A1, IV1, A65536 and
// IV65536, as LibreOffice writes it from a CSV (gnumeric's ssconvert when
// LibreOffice is missing): a 256-field, 65,535-record table that holds
// four values. Made once per run in a temporary folder; its one table is
// the first the workbook lists.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace sparse_workbook {

constexpr int kFields = 256;
constexpr int kRecords = 65535;

inline const QString &path()
{
    static QTemporaryDir dir;
    static const QString made = [] {
        const QString csv = dir.filePath(QStringLiteral("corners.csv"));
        QFile out(csv);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(csv));
        out.write("A1" + QByteArray(kFields - 1, ',') + "IV1\n");
        out.write(QByteArray(kRecords - 1, '\n'));
        out.write("A65536" + QByteArray(kFields - 1, ',') + "IV65536\n");
        out.close();
        const QString xls = dir.filePath(QStringLiteral("corners.xls"));
        QProcess p;
        if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
            p.start(
                QStringLiteral("soffice"),
                {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                 QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                 QStringLiteral("--infilter=CSV:44,34,76,1"), QStringLiteral("--convert-to"),
                 QStringLiteral("xls:MS Excel 97"), QStringLiteral("--outdir"), dir.path(), csv});
        else
            p.start(QStringLiteral("ssconvert"), {csv, xls});
        if (!p.waitForFinished(600000) || !QFile::exists(xls))
            qFatal("cannot make the sparse workbook (soffice or ssconvert is needed)");
        return xls;
    }();
    return made;
}

} // namespace sparse_workbook
