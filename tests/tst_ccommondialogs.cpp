// The dialog wrapper: what each Show method hands the dialog, and the
// properties it leaves behind when the operator confirms or cancels.

#include "ScriptedServices.h"
#include "dialogs/CCommonDialogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TstCCommonDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init() { CCommonDialogs::forgetFolders(); }

    void startsEmpty();
    void textGettersStopAtNul();
    void showBeforeInitShowsNothing();
    void filterEntries_data();
    void filterEntries();
    void openSetsThePathPieces_data();
    void openSetsThePathPieces();
    void cancelChangesNothing();
    void saveStartsInAnExistingPath_data();
    void saveStartsInAnExistingPath();
    void foldersRememberedPerPurpose();
    void folderResult();
    void colourAsPackedNumber();
    void fontSizeInWholePoints_data();
    void fontSizeInWholePoints();
    void printerAnswers();
};

void TstCCommonDialogs::startsEmpty()
{
    ScriptedDialogs scripted;
    const CCommonDialogs d(&scripted);
    QVERIFY(d.Title().isEmpty() && d.Path().isEmpty() && d.FileTitle().isEmpty() && d.filename().isEmpty());
    QVERIFY(d.Filter().isEmpty() && d.DefExt().isEmpty() && d.FontName().isEmpty());
    QCOMPARE(d.FontSize(), qint16(0));
    QCOMPARE(d.Color(), 0);
    QVERIFY(!d.FontBold() && !d.FontItalic() && !d.FontUnderline());
}

void TstCCommonDialogs::textGettersStopAtNul()
{
    ScriptedDialogs scripted;
    CCommonDialogs d(&scripted);
    const QString withNul = QStringLiteral("abc") + QChar(0) + QStringLiteral("def");
    d.SetTitle(withNul);
    d.SetPath(withNul);
    d.SetFileTitle(withNul);
    d.Setfilename(withNul);
    d.SetFilter(withNul);
    for (const QString &got : {d.Title(), d.Path(), d.FileTitle(), d.filename()})
        QCOMPARE(got, QStringLiteral("abc"));
    QCOMPARE(d.Filter(), withNul);
}

void TstCCommonDialogs::showBeforeInitShowsNothing()
{
    ScriptedDialogs scripted;
    scripted.files << QStringLiteral("/tmp/a.jpg");
    scripted.colors << Qt::red;
    CCommonDialogs d(&scripted);
    QVERIFY(!d.ShowOpen());
    QVERIFY(!d.ShowSave());
    QVERIFY(!d.ShowFolder());
    QVERIFY(!d.ShowColor());
    QVERIFY(!d.ShowFont());
    QVERIFY(!d.ShowPrinter());
    QVERIFY(scripted.calls.isEmpty());
}

void TstCCommonDialogs::filterEntries_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("entries");
    const QString two = QStringLiteral("图片(*.jpg)|*.jpg|位图(*.bmp)|*.bmp");
    const QStringList twoEntries{QStringLiteral("图片(*.jpg) (*.jpg *.JPG)"),
                                 QStringLiteral("位图(*.bmp) (*.bmp *.BMP)")};
    QTest::newRow("open, four pieces") << false << two << twoEntries;
    QTest::newRow("save, four pieces") << true << two << twoEntries;
    QTest::newRow("open, no filter") << false << QString() << QStringList();
    QTest::newRow("save, no filter") << true << QString() << QStringList{QStringLiteral("*.* (*.*)")};
    QTest::newRow("save, blank filter")
        << true << QStringLiteral("  ") << QStringList{QStringLiteral("*.* (*.*)")};
}

void TstCCommonDialogs::filterEntries()
{
    QFETCH(bool, save);
    QFETCH(QString, filter);
    QFETCH(QStringList, entries);
    ScriptedDialogs scripted;
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.SetFilter(filter);
    save ? d.ShowSave() : d.ShowOpen();
    QCOMPARE(scripted.calls.size(), 1);
    const QString passed = scripted.calls.first().section(QLatin1Char('|'), 1);
    QCOMPARE(QtDialogService::qtFilters(passed), entries);
}

void TstCCommonDialogs::openSetsThePathPieces_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fileTitle");
    QTest::newRow("a file in a folder") << "/photos/a.jpg"
                                        << "/photos"
                                        << "a.jpg";
    QTest::newRow("deeper, Chinese names") << "/srv/照片/初三/张三.jpg"
                                           << "/srv/照片/初三"
                                           << "张三.jpg";
    QTest::newRow("a file at the root") << "/a.jpg"
                                        << "/"
                                        << "a.jpg";
}

void TstCCommonDialogs::openSetsThePathPieces()
{
    QFETCH(QString, chosen);
    QFETCH(QString, path);
    QFETCH(QString, fileTitle);
    for (bool save : {false, true}) {
        ScriptedDialogs scripted;
        scripted.files << chosen;
        CCommonDialogs d(&scripted);
        d.Init(nullptr);
        QVERIFY(save ? d.ShowSave() : d.ShowOpen());
        QCOMPARE(d.filename(), chosen);
        QCOMPARE(d.FileTitle(), fileTitle);
        QCOMPARE(d.Path(), path);
    }
}

void TstCCommonDialogs::cancelChangesNothing()
{
    ScriptedDialogs scripted;
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.Setfilename(QStringLiteral("old.dbf"));
    d.SetPath(QDir::tempPath());
    d.SetColor(1000);
    d.SetFontName(QStringLiteral("宋体"));
    d.SetFontSize(9);
    QVERIFY(!d.ShowOpen());
    QVERIFY(!d.ShowFolder());
    QVERIFY(!d.ShowColor(true));
    QVERIFY(!d.ShowFont());
    QCOMPARE(d.filename(), QStringLiteral("old.dbf"));
    QCOMPARE(d.Path(), QDir::tempPath());
    QCOMPARE(d.Color(), 1000);
    QCOMPARE(d.FontName(), QStringLiteral("宋体"));
    QCOMPARE(d.FontSize(), qint16(9));
    QCOMPARE(scripted.calls.size(), 4);
}

void TstCCommonDialogs::saveStartsInAnExistingPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("kept");
    QTest::newRow("an existing folder") << "existing" << true;
    QTest::newRow("a hidden folder") << ".hidden" << true;
    QTest::newRow("a folder that does not exist") << "missing" << false;
    QTest::newRow("blank") << "" << false;
}

void TstCCommonDialogs::saveStartsInAnExistingPath()
{
    QFETCH(QString, path);
    QFETCH(bool, kept);
    QTemporaryDir root;
    QTemporaryDir program;
    QDir(root.path()).mkdir(QStringLiteral("existing"));
    QDir(root.path()).mkdir(QStringLiteral(".hidden"));
    ScriptedDialogs scripted;
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.setProgramFolder(program.path());
    d.SetPath(path.isEmpty() ? QString() : root.filePath(path));
    QVERIFY(!d.ShowSave());
    const QString expected = kept ? root.filePath(path) + QLatin1Char('/') : program.path();
    QCOMPARE(scripted.startFolders, QStringList{expected});
    QCOMPARE(scripted.calls.first().section(QLatin1Char('|'), 0, 0), QStringLiteral("save:Save"));
    // The folder it opened in stays in Path, though the dialog was cancelled.
    QCOMPARE(d.Path(), expected);
}

void TstCCommonDialogs::foldersRememberedPerPurpose()
{
    QTemporaryDir rosters;
    QTemporaryDir elsewhere;
    ScriptedDialogs scripted;
    scripted.files << rosters.filePath(QStringLiteral("class.dbf"));
    {
        CCommonDialogs first(&scripted, QStringLiteral("roster"));
        first.Init(nullptr);
        QVERIFY(first.ShowOpen());
    }
    // A new wrapper for the same purpose starts where the last file was
    // chosen; another purpose does not, nor does it start in the working
    // folder.
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    CCommonDialogs again(&scripted, QStringLiteral("roster"));
    again.Init(nullptr);
    again.ShowOpen();
    CCommonDialogs other(&scripted, QStringLiteral("photo"));
    other.Init(nullptr);
    other.ShowOpen();
    CCommonDialogs folder(&scripted, QStringLiteral("photo"));
    folder.Init(nullptr);
    folder.ShowFolder();
    QCOMPARE(scripted.startFolders,
             QStringList({QDir::homePath(), rosters.path(), QDir::homePath(), QDir::homePath()}));
    // An initial file name opens inside the start folder.
    CCommonDialogs named(&scripted, QStringLiteral("roster"));
    named.Init(nullptr);
    named.Setfilename(QStringLiteral("next.dbf"));
    named.ShowOpen();
    QCOMPARE(scripted.startFolders.last(), rosters.filePath(QStringLiteral("next.dbf")));
}

void TstCCommonDialogs::folderResult()
{
    ScriptedDialogs scripted;
    scripted.folders << QStringLiteral("/srv/photos/") << QStringLiteral("/");
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.SetTitle(QStringLiteral("请选择目标文件夹路径："));
    d.Setfilename(QStringLiteral("/old/a.jpg"));
    d.SetFileTitle(QStringLiteral("a.jpg"));
    QVERIFY(d.ShowFolder());
    QCOMPARE(d.Path(), QStringLiteral("/srv/photos"));
    QVERIFY(d.filename().isEmpty() && d.FileTitle().isEmpty());
    QVERIFY(d.ShowFolder());
    QCOMPARE(d.Path(), QStringLiteral("/"));
    QCOMPARE(scripted.calls, QStringList(2, QStringLiteral("folder:请选择目标文件夹路径：")));
}

void TstCCommonDialogs::colourAsPackedNumber()
{
    ScriptedDialogs scripted;
    scripted.colors << QColor(232, 3, 0) << QColor(1, 2, 3);
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.SetColor(0x0000ff); // red
    QVERIFY(d.ShowColor(true));
    QCOMPARE(d.Color(), 1000);
    QVERIFY(d.ShowColor(false));
    QCOMPARE(d.Color(), 1 | 2 << 8 | 3 << 16);
    QCOMPARE(scripted.calls, QStringList({"color:#ff0000", "color:#e80300"}));
}

void TstCCommonDialogs::fontSizeInWholePoints_data()
{
    QTest::addColumn<double>("chosen");
    QTest::addColumn<int>("size");
    QTest::newRow("10.5 gives 10") << 10.5 << 10;
    QTest::newRow("9") << 9.0 << 9;
    QTest::newRow("9.9 gives 9") << 9.9 << 9;
    QTest::newRow("72") << 72.0 << 72;
}

void TstCCommonDialogs::fontSizeInWholePoints()
{
    QFETCH(double, chosen);
    QFETCH(int, size);
    ScriptedDialogs scripted;
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPointSizeF(chosen);
    font.setBold(true);
    scripted.fonts << DialogService::FontChoice{font, Qt::blue};
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    d.SetFontName(QStringLiteral("宋体"));
    d.SetFontSize(12);
    d.SetFontItalic(true);
    d.SetColor(255);
    QVERIFY(d.ShowFont());
    QCOMPARE(int(d.FontSize()), size);
    QCOMPARE(d.FontName(), font.family());
    QVERIFY(d.FontBold());
    QVERIFY(!d.FontItalic());
    // The dialog started from the properties, without the colour part.
    QCOMPARE(scripted.fontsShown.first().font.pointSize(), 12);
    QVERIFY(scripted.fontsShown.first().font.italic());
    QCOMPARE(scripted.fontsShown.first().color, QColor(Qt::red));
    QCOMPARE(scripted.fontEffects, QList<bool>{false});
    // The colour is not read back from the font dialog.
    QCOMPARE(d.Color(), 255);
}

void TstCCommonDialogs::printerAnswers()
{
    ScriptedDialogs scripted;
    scripted.printerAnswers << true << false;
    CCommonDialogs d(&scripted);
    d.Init(nullptr);
    QVERIFY(d.ShowPrinter());
    QVERIFY(!d.ShowPrinterProperties());
    QVERIFY(!d.ShowPrinter()); // no answer left: cancelled
    QCOMPARE(scripted.calls, QStringList({"printer", "printer properties", "printer"}));
}

QTEST_MAIN(TstCCommonDialogs)
#include "tst_ccommondialogs.moc"
