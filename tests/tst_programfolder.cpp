#include "app/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestProgramFolder : public QObject
{
    Q_OBJECT
private slots:
    void candidates_data();
    void candidates();
    void find_data();
    void find();
};

void TestProgramFolder::candidates_data()
{
    QTest::addColumn<QString>("executableFolder");
    QTest::addColumn<QString>("installedDataFolder");
    QTest::addColumn<QStringList>("dataLocations");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("installed under /usr: data location already tried")
        << "/usr/bin"
        << "../share/lumora" << QStringList{"/home/a/.local/share", "/usr/local/share", "/usr/share"}
        << QStringList{"/usr/bin", "/usr/share/lumora", "/home/a/.local/share/lumora",
                       "/usr/local/share/lumora"};
    QTest::newRow("installed under a prefix of its own")
        << "/opt/lumora/bin"
        << "../share/lumora" << QStringList{"/usr/share"}
        << QStringList{"/opt/lumora/bin", "/opt/lumora/share/lumora", "/usr/share/lumora"};
    QTest::newRow("folders with trailing and doubled slashes are cleaned")
        << "/opt/lumora//bin/"
        << "../share/lumora/" << QStringList{"/usr/share/"}
        << QStringList{"/opt/lumora/bin", "/opt/lumora/share/lumora", "/usr/share/lumora"};
    QTest::newRow("absolute installed data folder is taken as it is")
        << "/opt/lumora/bin"
        << "/srv/lumora-data" << QStringList{} << QStringList{"/opt/lumora/bin", "/srv/lumora-data"};
    QTest::newRow("no installed data folder")
        << "/opt/lumora/bin"
        << "" << QStringList{"/usr/share"} << QStringList{"/opt/lumora/bin", "/usr/share/lumora"};
    QTest::newRow("empty data locations are skipped")
        << "/usr/bin"
        << "../share/lumora" << QStringList{"", "/usr/share"} << QStringList{"/usr/bin", "/usr/share/lumora"};
    QTest::newRow("no executable folder: data locations only")
        << ""
        << "../share/lumora" << QStringList{"/usr/share"} << QStringList{"/usr/share/lumora"};
}

void TestProgramFolder::candidates()
{
    QFETCH(QString, executableFolder);
    QFETCH(QString, installedDataFolder);
    QFETCH(QStringList, dataLocations);
    QFETCH(QStringList, expected);
    QCOMPARE(programFolderCandidates(executableFolder, installedDataFolder, dataLocations), expected);
}

void TestProgramFolder::find_data()
{
    // Paths are relative to a fresh temporary folder; a path ending in "/"
    // is made as a folder, any other as a file. "<fallback>" is the fallback.
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<QString>("expected");

    const QStringList installed{"usr/bin", "usr/share/lumora", "home/.local/share/lumora"};
    QTest::newRow("build tree: beside the executable")
        << QStringList{"build/default.bmp", "build/share/lumora/default.bmp"}
        << QStringList{"build", "build/share/lumora"} << "build";
    QTest::newRow("installed: share/lumora")
        << QStringList{"usr/bin/lumora", "usr/share/lumora/default.bmp"} << installed << "usr/share/lumora";
    QTest::newRow("a user's data folder before the system's")
        << QStringList{"usr/bin/", "home/.local/share/lumora/default.bmp"}
        << QStringList{"usr/bin", "opt/share/lumora", "home/.local/share/lumora", "usr/share/lumora"}
        << "home/.local/share/lumora";
    QTest::newRow("a folder without default.bmp is passed over")
        << QStringList{"usr/bin/temp.jpg", "usr/share/lumora/default.bmp"} << installed << "usr/share/lumora";
    QTest::newRow("a folder named default.bmp is not the picture")
        << QStringList{"usr/bin/default.bmp/", "usr/share/lumora/default.bmp"} << installed
        << "usr/share/lumora";
    QTest::newRow("the name's case matters")
        << QStringList{"usr/bin/DEFAULT.BMP", "usr/share/lumora/default.bmp"} << installed
        << "usr/share/lumora";
    QTest::newRow("missing folders are passed over")
        << QStringList{"home/.local/share/lumora/default.bmp"} << installed << "home/.local/share/lumora";
    QTest::newRow("nowhere: the fallback") << QStringList{"usr/bin/lumora"} << installed << "<fallback>";
    QTest::newRow("no candidates: the fallback")
        << QStringList{"usr/bin/default.bmp"} << QStringList{} << "<fallback>";
}

void TestProgramFolder::find()
{
    QFETCH(QStringList, layout);
    QFETCH(QStringList, candidates);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    for (const QString &path : layout) {
        if (path.endsWith(u'/')) {
            QVERIFY(dir.mkpath(path));
            continue;
        }
        QVERIFY(dir.mkpath(QFileInfo(path).path()));
        QFile file(dir.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QStringList absolute;
    for (const QString &candidate : candidates)
        absolute << dir.filePath(candidate);
    const QString fallback = dir.filePath(QStringLiteral("fallback"));

    const QString found = findProgramFolder(absolute, fallback);
    QCOMPARE(found, expected == QLatin1String("<fallback>") ? fallback : dir.filePath(expected));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
