// Installs this build into a temporary prefix with `cmake --install` and
// checks what a desktop and the installed program need of it.

#include "app/ProgramFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLibrary>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void installsExactlyTheseFiles();
    void executablesCanBeRun();
    void installedProgramFindsItsPicture();
    void installedProgramFindsItsFramingModule();
    void desktopEntryValidates();
    void desktopEntryNamesTheInstalledFiles();
    void iconsAreThere();

private:
    QString installed(const QString &path) const { return QDir(m_prefix.path()).filePath(path); }
    QMap<QString, QString> desktopEntry() const;

    QTemporaryDir m_prefix;
};

void TestInstall::initTestCase()
{
    const QString build = qEnvironmentVariable("LUMORA_BUILD_DIR");
    const QString cmake = qEnvironmentVariable("LUMORA_CMAKE", QStringLiteral("cmake"));
    QVERIFY2(!build.isEmpty(), "LUMORA_BUILD_DIR names the build folder to install");
    QVERIFY(m_prefix.isValid());

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(cmake, {QStringLiteral("--install"), build, QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(install.waitForFinished(120000), qPrintable(install.errorString()));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TestInstall::installsExactlyTheseFiles()
{
    QStringList files;
    QDirIterator it(m_prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(m_prefix.path()).relativeFilePath(it.next());
    files.sort();
    QStringList expected{
        QStringLiteral("bin/lumora"),
        QStringLiteral("bin/lumora-sql"),
        QStringLiteral(LUMORA_LIBDIR "/lumora/liblumora-framing.so"),
        QStringLiteral("share/applications/lumora.desktop"),
        QStringLiteral("share/icons/hicolor/256x256/apps/lumora.png"),
        QStringLiteral("share/icons/hicolor/scalable/apps/lumora.svg"),
        QStringLiteral("share/lumora/README.md"),
        QStringLiteral("share/lumora/default.bmp"),
        QStringLiteral("share/lumora/docs/screenshot-main.png"),
        QStringLiteral("share/lumora/docs/screenshot-session.png"),
        QStringLiteral("share/lumora/qvpkhelp.html"),
    };
    expected.sort();
    QCOMPARE(files, expected);
}

void TestInstall::executablesCanBeRun()
{
    for (const char *name : {"bin/lumora", "bin/lumora-sql"}) {
        const QFileInfo info(installed(QLatin1String(name)));
        QVERIFY2(info.isExecutable(), name);
    }
    // The tool starts from any folder and reports a missing roster as an error.
    QProcess tool;
    tool.setWorkingDirectory(QDir::tempPath());
    tool.start(installed(QStringLiteral("bin/lumora-sql")), {m_prefix.filePath(QStringLiteral("none.dbf"))});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QVERIFY(tool.exitCode() != 0);
}

void TestInstall::installedProgramFindsItsPicture()
{
    // As main() does for the installed executable, with no data folders of
    // the system to fall back on.
    const QString bin = installed(QStringLiteral("bin"));
    const QString folder =
        findProgramFolder(programFolderCandidates(bin, QStringLiteral(LUMORA_DATA_FROM_BIN), {}), bin);
    QCOMPARE(folder, installed(QStringLiteral("share/lumora")));
    QVERIFY(!QImage(QDir(folder).filePath(kProgramFolderMarker)).isNull());
}

void TestInstall::installedProgramFindsItsFramingModule()
{
    // Where the loader looks for it from the installed executable's folder,
    // and the entry point it takes.
    QLibrary module(QDir(installed(QStringLiteral("bin")))
                        .filePath(QStringLiteral(LUMORA_FRAMING_FROM_BIN "/liblumora-framing")));
    QVERIFY2(module.resolve("lumoraMakeFramingEngine"), qPrintable(module.errorString()));
}

void TestInstall::desktopEntryValidates()
{
    const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validate.isEmpty())
        QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(validate, {installed(QStringLiteral("share/applications/lumora.desktop"))});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray output = check.readAll();
    QVERIFY2(check.exitCode() == 0, output.constData());
    // Hints and warnings do not fail the tool; they should not be there either.
    QVERIFY2(output.trimmed().isEmpty(), output.constData());
}

QMap<QString, QString> TestInstall::desktopEntry() const
{
    QFile file(installed(QStringLiteral("share/applications/lumora.desktop")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> entry;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && !line.startsWith(u'#'))
            entry.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return entry;
}

void TestInstall::desktopEntryNamesTheInstalledFiles()
{
    const QMap<QString, QString> entry = desktopEntry();
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Categories")), QStringLiteral("Graphics;Photography;"));
    for (const char *key : {"Name", "Name[zh_CN]", "Comment", "Comment[zh_CN]"})
        QVERIFY2(!entry.value(QLatin1String(key)).isEmpty(), key);
    // Exec and Icon are looked up on PATH and in the icon theme by name.
    const QString exec = entry.value(QStringLiteral("Exec")).section(u' ', 0, 0);
    QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + exec)).isExecutable());
    const QString icon = entry.value(QStringLiteral("Icon"));
    QVERIFY(
        QFileInfo::exists(installed(QStringLiteral("share/icons/hicolor/256x256/apps/%1.png").arg(icon))));
    QVERIFY(
        QFileInfo::exists(installed(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(icon))));
}

void TestInstall::iconsAreThere()
{
    const QImage png(installed(QStringLiteral("share/icons/hicolor/256x256/apps/lumora.png")));
    QCOMPARE(png.size(), QSize(256, 256));
    QVERIFY(png.hasAlphaChannel());

    QFile svg(installed(QStringLiteral("share/icons/hicolor/scalable/apps/lumora.svg")));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    QVERIFY(text.contains("<svg"));
    QVERIFY(text.contains("viewBox=\"0 0 256 256\""));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
