// The help menu: the help file looked up in the program's folder, the home
// page, the about box, and the help page the program ships.
#include "WindowHarness.h"
#include "help/HelpMenu.h"
#include "help/frmAbout.h"

#include <QDir>
#include <QLabel>
#include <QTextDocument>
#include <QtTest>

namespace {

HelpMenu *helpOf(WindowHarness &h)
{
    auto *help = h.form->findChild<HelpMenu *>();
    if (!help)
        qFatal("the window has no help menu");
    return help;
}

} // namespace

class TstHelp : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }
    void fileInFolder_data();
    void fileInFolder();
    void helpLookup_data();
    void helpLookup();
    void homePage();
    void versionText_data();
    void versionText();
    void aboutBox();
    void aboutClosesByKeys_data();
    void aboutClosesByKeys();
    void shippedHelpPage();
};

void TstHelp::fileInFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("folder") << "/opt/lumora"
                            << "/opt/lumora/qvpkhelp.chm";
    QTest::newRow("trailing slash") << "/opt/lumora/"
                                    << "/opt/lumora/qvpkhelp.chm";
    QTest::newRow("root") << "/"
                          << "/qvpkhelp.chm";
}

void TstHelp::fileInFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(HelpMenu::fileInFolder(folder, kHelpFileName), path);
}

void TstHelp::helpLookup_data()
{
    QTest::addColumn<QStringList>("files"); // made in the program folder ("name/" for a folder)
    QTest::addColumn<QString>("opened");    // empty: nothing opened, the message shown
    QTest::newRow("chm") << QStringList{"qvpkhelp.chm"} << "qvpkhelp.chm";
    QTest::newRow("html") << QStringList{"qvpkhelp.html"} << "qvpkhelp.html";
    QTest::newRow("chm first") << QStringList{"qvpkhelp.html", "qvpkhelp.chm"} << "qvpkhelp.chm";
    QTest::newRow("none") << QStringList{} << "";
    QTest::newRow("folders of those names") << QStringList{"qvpkhelp.chm/", "qvpkhelp.html/"} << "";
    QTest::newRow("other letter case") << QStringList{"QVPKHELP.CHM"} << "";
}

void TstHelp::helpLookup()
{
    QFETCH(QStringList, files);
    QFETCH(QString, opened);
    WindowHarness h;
    for (const QString &name : files) {
        if (name.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(h.folder.path()).mkdir(name.chopped(1)));
        } else {
            QFile f(h.folder.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("help");
        }
    }
    h.build();
    h.w<QAction>("helpzxs")->trigger();
    if (opened.isEmpty()) {
        QCOMPARE(h.shell.opened, QList<QUrl>());
        QCOMPARE(h.messages.messages.size(), 1);
        QCOMPARE(h.messages.messages.at(0).text, QStringLiteral("帮助文件不存在。"));
        QCOMPARE(h.messages.messages.at(0).title, QStringLiteral("提示"));
        QCOMPARE(h.messages.messages.at(0).icon, MessageService::Icon::Warning);
    } else {
        QCOMPARE(h.messages.messages.size(), 0);
        QCOMPARE(h.shell.opened, QList<QUrl>{QUrl::fromLocalFile(h.folder.filePath(opened))});
    }
}

// The home page is the README the build puts beside the program: opened
// when it is there, said to be missing when it is not.
void TstHelp::homePage()
{
    const QString shipped = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kHomePageName;
    QFile readme(shipped);
    QVERIFY2(readme.open(QIODevice::ReadOnly), qPrintable(shipped));
    QVERIFY(readme.readLine().startsWith("# Lumora"));
    WindowHarness h;
    h.build();
    h.w<QAction>("indexzx")->trigger();
    QVERIFY(h.shell.opened.isEmpty());
    QCOMPARE(h.messages.texts(), QStringList{kNoHomePageMessage});

    QVERIFY(QFile::copy(shipped, h.folder.filePath(kHomePageName)));
    h.messages.clear();
    h.w<QAction>("indexzx")->trigger();
    QCOMPARE(h.shell.opened, QList<QUrl>{QUrl::fromLocalFile(h.folder.filePath(kHomePageName))});
    QVERIFY(h.messages.messages.isEmpty());
}

void TstHelp::versionText_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("2.1.0") << 2 << 1 << 0 << "版本 2.1.0";
    QTest::newRow("two digits") << 10 << 0 << 12 << "版本 10.0.12";
}

void TstHelp::versionText()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    QCOMPARE(VersionText(major, minor, revision), text);
    QCOMPARE(LicenceText(QStringLiteral("GPL-3.0-or-later")), QStringLiteral("许可证：GPL-3.0-or-later"));
    QCOMPARE(LicenceText(QString()), QStringLiteral("许可证：这个版本没有声明许可证"));
}

void TstHelp::aboutBox()
{
    WindowHarness h;
    h.build();
    bool shown = false;
    helpOf(h)->runModal = [&](QDialog &dialog) {
        shown = true;
        QCOMPARE(dialog.parentWidget(), h.form.get());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("关于 Lumora"));
        const auto text = [&dialog](const char *name) {
            auto *label = dialog.findChild<QLabel *>(QLatin1String(name));
            return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
        };
        QCOMPARE(text("lblTitle"), QStringLiteral("Lumora"));
        QCOMPARE(text("lblVersion"), BuildVersionText());
        QVERIFY(QRegularExpression(QStringLiteral("^版本 \\d+\\.\\d+\\.\\d+$"))
                    .match(text("lblVersion"))
                    .hasMatch());
        for (const char *name : {"lblDescription", "Label1", "Label2", "lblDisclaimer"})
            QVERIFY2(!text(name).isEmpty() && !text(name).startsWith(QLatin1Char('<')), name);
        QCOMPARE(text("Label1").count(QLatin1Char('\n')), 1);
        QCOMPARE(text("Label2"), QStringLiteral("主页：") + h.folder.filePath(kHomePageName));
        // The licence as the build states it, and no rights it does not.
        QCOMPARE(text("lblDisclaimer"), BuildLicenceText());
        QCOMPARE(dialog.findChildren<QPushButton *>().size(), 1);
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("cmdOK"))->text(), QStringLiteral("确定"));
    };
    h.w<QAction>("about")->trigger();
    QVERIFY(shown);
    QVERIFY(h.shell.opened.isEmpty());
}

void TstHelp::aboutClosesByKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
}

void TstHelp::aboutClosesByKeys()
{
    QFETCH(int, key);
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QApplication::setActiveWindow(&about);
    QTest::keyClick(&about, Qt::Key(key));
    QTRY_VERIFY(!about.isVisible());
}

// The help page beside the built program: opened from the window, in
// Chinese, with the parts an operator needs.
void TstHelp::shippedHelpPage()
{
    const QString shipped = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kHelpPageName;
    QFile file(shipped);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(shipped));
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString html = utf8(bytes);
    QVERIFY(!utf8.hasError());
    QTextDocument doc;
    doc.setHtml(html);
    const QString text = doc.toPlainText();
    QCOMPARE(doc.metaInformation(QTextDocument::DocumentTitle), QStringLiteral("Lumora 使用帮助"));
    for (const QString &part :
         {QStringLiteral("一个拍照日"), QStringLiteral("名单的种类"), QStringLiteral("照片的目录和文件名"),
          QStringLiteral("把文件名写回名单"), QStringLiteral("只用键盘拍照"), QStringLiteral("打开摄像头"),
          QStringLiteral("保存照片"), QStringLiteral("恢复再拍"),
          QStringLiteral("图片文件名存入数据表的某一字段"), QStringLiteral("未写入 N"),
          QStringLiteral("数据表 → 补写文件名"), QStringLiteral("继续上次的拍摄设置？"),
          QStringLiteral("双击一行")})
        QVERIFY2(text.contains(part), qPrintable(part));
    // Every link inside the page leads to a part of it.
    static const QRegularExpression links(QStringLiteral("href=\"#([a-z]+)\""));
    for (auto it = links.globalMatch(html); it.hasNext();) {
        const QString id = it.next().captured(1);
        QVERIFY2(html.contains(QStringLiteral("id=\"%1\"").arg(id)), qPrintable(id));
    }

    WindowHarness h;
    QVERIFY(QFile::copy(shipped, h.folder.filePath(kHelpPageName)));
    h.build();
    h.w<QAction>("helpzxs")->trigger();
    QCOMPARE(h.shell.opened, QList<QUrl>{QUrl::fromLocalFile(h.folder.filePath(kHelpPageName))});
}

QTEST_MAIN(TstHelp)
#include "tst_help.moc"
