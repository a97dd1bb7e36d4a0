#include "WindowHarness.h"
#include "data/TableGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

namespace {

// Enabled flags of Open, Close, Take, Retake, Save, Video and Picture settings
// as "1"/"0", in that order.
QString cameraFlags(const WindowHarness &h)
{
    QString flags;
    for (const char *name :
         {"Command1", "Command2", "Command3", "Command4", "Command8", "Command5", "Command6"})
        flags += h.w<QPushButton>(name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return flags;
}

// Runs a camera command by its button or by its menu item.
void runCommand(WindowHarness &h, const QString &command, bool viaMenu)
{
    static const QHash<QString, std::pair<const char *, const char *>> commands = {
        {"open", {"Command1", "opensx"}},  {"close", {"Command2", "closesx"}},
        {"take", {"Command3", "peizhao"}}, {"retake", {"Command4", "quxiao"}},
        {"video", {"Command5", "spset"}},  {"picture", {"Command6", "tpset"}},
    };
    const auto [button, item] = commands.value(command);
    if (viaMenu) {
        h.w<QAction>(item)->trigger();
    } else {
        QPushButton *b = h.w<QPushButton>(button);
        QVERIFY2(b->isEnabled(), button);
        QTest::mouseClick(b, Qt::LeftButton);
    }
}

} // namespace

class Form1Suite : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }

    void chineseFontInstalled();
    void captions_data();
    void captions();
    void menuTree();
    void startState();
    void missingPlaceholderStillSetsUpTheWindow();
    void cameraCommands_data();
    void cameraCommands();
    void menuItemsRunWhileButtonsAreDisabled();
    void outexcelDoesNothing();
    void takeFailing_data();
    void takeFailing();
    void cameraSlipsRecover_data();
    void cameraSlipsRecover();
    void takeShowsTheStillByContent();
    void cameraStoppingOnItsOwn_data();
    void cameraStoppingOnItsOwn();
    void tempPhotoGoesToTheCacheWithoutAProgramFolder();
    void tempPhotoGoesToTheCacheFromASharedFolder();
    void spaceWalksThePhotoDay();
    void leavingPicturePageFocusesSaveFolder();
    void lockBoxInOrdinaryModeChangesNothing();
    void lockBoxInTableMode();
    void tableModeWithoutTable();
    void tableModeFirstLoadRestoresSettings();
    void ordinaryModeEmptiesTheGrid();
    void showCurrentRowPhoto();
    void showListedPhotoKeepsPosition();
};

void Form1Suite::chineseFontInstalled()
{
    QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
}

void Form1Suite::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    const QList<std::pair<const char *, const char *>> rows = {
        {"Command5", "视频设置"},
        {"Command6", "图片设置"},
        {"Command2", "关闭摄像头"},
        {"Command1", "打开摄像头"},
        {"Command4", "恢复再拍(&R)"},
        {"Command3", "拍摄照片(&P)"},
        {"Command8", "保存照片(&S)"},
        {"Chelock", "锁定保存设置"},
        {"Command9", "打开表"},
        {"Label5", "筛选"},
        {"Label4", "="},
        {"Option1", "数据表保存"},
        {"Option2", "普通保存"},
        {"Label3", "保存的目录"},
        {"Command7", "浏览"},
        {"Chekb1", "\\ 可变目录1"},
        {"Chekb2", "\\可变目录2"},
        {"Labfname", "照片文件名"},
        {"Chefname2", "+ "},
        {"Cheqbm", "+ 区别码"},
        {"Texqbm", "10001"},
        {"Labgs", "照片的格式"},
        {"Chekzm", "带扩展名jpg"},
        {"Chezd", "图片文件名存入数据表的某一字段"},
        {"Label6", "照片裁剪大小"},
        {"Label1", "照片高"},
        {"Label2", "照片宽"},
        {"Command10", "更改"},
        {"Label7", "照相背景大小"},
        {"Label11", "高"},
        {"Label13", "宽"},
        {"Command12", "确定"},
        {"Comsc", "上次大小"},
        {"Check1", "照片上添加文本："},
        {"Label8", "文本位置"},
        {"Label9", "距左："},
        {"Texleft", "60"},
        {"Label10", "距上："},
        {"Textop", "165"},
        {"fLabel", "文本字体"},
        {"Command11", "设置字体"},
        {"Label12", "文本内容"},
        {"Cheta", "+ "},
        {"Frame2", "预览"},
        {"Frame4", "数据表"},
    };
    for (const auto &[name, caption] : rows)
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(caption);
}

void Form1Suite::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    WindowHarness h;
    Form1 &form = h.build();
    QObject *control = form.findChild<QObject *>(name);
    QVERIFY(control);
    const char *property = qobject_cast<QGroupBox *>(control) ? "title" : "text";
    QCOMPARE(control->property(property).toString(), caption);
}

void Form1Suite::menuTree()
{
    WindowHarness h;
    Form1 &form = h.build();
    const QList<std::pair<QString, QStringList>> expected = {
        {"datebase 数据表(&B)",
         {"opentable 打开表(&O)", "pageset 页面设置(&S)", "previewprint 预览打印(&P)",
          "printcards 打印扫码卡", "outexcel 导出为Excel(&E)", "checktable 检查数据表(&K)",
          "outmissing 导出未拍照名单(&M)", "buxie 补写文件名(&W)", "quit 退出(&Q)"}},
        {"phoset 设置(&S)", {"spset 视频设置(&P)", "tpset 图片设置(&T)", "bgcolor 相框颜色&C)"}},
        {"zhaox 照相(&Z)",
         {"opensx 打开摄像头(&O)", "closesx 关闭摄像头(&C)", "peizhao 拍摄照片(&P)", "quxiao 恢复再拍(&R)",
          "savezhao 保存照片(&S)", "sxsm 摄像头扫码", "zpxz 同一人再拍时先询问"}},
        {"helpzx 帮助(&H)", {"helpzxs 帮助(&H)", "about 关于(&A)", "indexzx 主页(&I)"}},
    };
    const QList<QAction *> top = form.menuBar()->actions();
    QCOMPARE(top.size(), expected.size());
    for (int i = 0; i < top.size(); ++i) {
        QMenu *menu = top[i]->menu();
        QVERIFY(menu);
        QCOMPARE(menu->objectName() + ' ' + menu->title(), expected[i].first);
        QStringList items;
        for (QAction *a : menu->actions())
            if (!a->isSeparator()) {
                items << a->objectName() + ' ' + a->text();
                QVERIFY(a->isEnabled());
            }
        QCOMPARE(items, expected[i].second);
    }
}

void Form1Suite::startState()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumora"));
    QCOMPARE(cameraFlags(h), QStringLiteral("1000000"));
    QVERIFY(h.w<QRadioButton>("Option2")->isChecked());
    QVERIFY(!h.w<QCheckBox>("Chelock")->isEnabled());
    QCOMPARE(h.w<QComboBox>("Comgs")->count(), 2);
    QCOMPARE(h.w<QComboBox>("Comgs")->currentText(), QStringLiteral("jpg"));
    QCOMPARE(h.w<QComboBox>("Comtext")->count(), 3);
    QCOMPARE(h.w<QComboBox>("Comtext")->itemText(1), QStringLiteral("从数据表中提取"));
    QVERIFY(h.w<QWidget>("Frame5")->isHidden());
    QVERIFY(!h.w<QComboBox>("Comt2")->isEnabled());
    QVERIFY(h.w<QLineEdit>("Text2")->isReadOnly());
    for (const char *name : {"Comzd", "Chekzm", "Comfname2", "Comkb1", "Comkb2", "Chekb2", "Texqbm"})
        QVERIFY2(!h.w<QWidget>(name)->isEnabled(), name);
    // Ordinary mode: the typed name shows, the column pickers do not.
    QVERIFY(!h.w<QLineEdit>("Texfname")->isHidden());
    QVERIFY(h.w<QComboBox>("Comfname1")->isHidden());
    QVERIFY(!h.w<QComboBox>("Combo1")->isEnabled());
    const QString tip = QStringLiteral("选全部方法：第一下拉列表中选择“全部”，第二个中任选择一个。");
    QCOMPARE(h.w<QComboBox>("Combo1")->toolTip(), tip);
    QCOMPARE(h.w<QComboBox>("Combo2")->toolTip(), tip);
    QCOMPARE(h.w<QLineEdit>("Texqbm")->toolTip(), QStringLiteral("每照一个，自动加1，以防文件名重复。"));

    auto *tabs = h.w<QTabWidget>("SSTab1");
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("照片保存设置"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("照片设置"));
    QVERIFY(tabs->isAncestorOf(form.focusWidget()));

    QWidget *video = h.w<QWidget>("WEBCAPPICTUREOCX1");
    QCOMPARE(video, h.capture.videoWidget());
    QCOMPARE(video->size(), QSize(449, 345));
    QCOMPARE(h.w<QLineEdit>("Tebg")->text(), QStringLiteral("345"));
    QCOMPARE(h.w<QLineEdit>("Tebk")->text(), QStringLiteral("449"));
    QCOMPARE(h.cropFrame().appliedHeight(), QStringLiteral("345"));

    auto *image = h.w<QLabel>("Image1");
    QCOMPARE(image->pixmap().size(), QSize(150, 200));
    const QSize panel = h.w<QWidget>("Frame2")->size();
    QCOMPARE(image->geometry(), QRect((panel.width() - 150) / 2, (panel.height() - 200) / 2, 150, 200));
    QVERIFY(form.grid()->gridColumnWidth(0) == 30);
    QCOMPARE(form.grid()->cursor()->currentRow(), 1);
    QVERIFY(h.messages.messages.isEmpty());
}

void Form1Suite::missingPlaceholderStillSetsUpTheWindow()
{
    storeValues({{"zph", "300"}, {"zpw", "240"}});
    WindowHarness h(false);
    Form1 &form = h.build();
    QVERIFY(h.w<QLabel>("Image1")->pixmap().isNull());
    QVERIFY(form.statusText().contains(QStringLiteral("default.bmp")));
    QCOMPARE(h.w<QComboBox>("Comgs")->count(), 2);
    QCOMPARE(cameraFlags(h), QStringLiteral("1000000"));
    QCOMPARE(h.w<QLineEdit>("Texg")->text(), QStringLiteral("300"));
    QCOMPARE(h.capture.CropWidth(), 240);
    QVERIFY(h.w<QWidget>("Frame5")->isHidden());
    QVERIFY(h.messages.messages.isEmpty());
}

void Form1Suite::cameraCommands_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("viaMenu");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QStringList>("calls");
    struct Row
    {
        const char *name;
        QStringList commands;
        const char *flags;
        QStringList calls;
    };
    const QList<Row> rows = {
        {"open", {"open"}, "0110011", {"OpenPreview"}},
        {"open take", {"open", "take"}, "0101111", {"OpenPreview", "GrabStill", "SaveStill"}},
        {"open take retake",
         {"open", "take", "retake"},
         "0110011",
         {"OpenPreview", "GrabStill", "SaveStill", "ResumePreview"}},
        {"open take retake take",
         {"open", "take", "retake", "take"},
         "0101111",
         {"OpenPreview", "GrabStill", "SaveStill", "ResumePreview", "GrabStill", "SaveStill"}},
        {"close after take keeps retake and save",
         {"open", "take", "close"},
         "1001100",
         {"OpenPreview", "GrabStill", "SaveStill", "ClosePreview"}},
        {"open close", {"open", "close"}, "1000000", {"OpenPreview", "ClosePreview"}},
        {"settings dialogs",
         {"open", "video", "picture"},
         "0110011",
         {"OpenPreview", "ShowVideoSettings", "ShowPictureSettings"}},
    };
    for (const Row &r : rows) {
        QTest::addRow("%s, buttons", r.name) << r.commands << false << r.flags << r.calls;
        QTest::addRow("%s, menu", r.name) << r.commands << true << r.flags << r.calls;
    }
}

void Form1Suite::cameraCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(bool, viaMenu);
    QFETCH(QString, flags);
    QFETCH(QStringList, calls);
    WindowHarness h;
    Form1 &form = h.build();
    h.capture.calls.clear();
    for (const QString &command : commands) {
        runCommand(h, command, viaMenu);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(cameraFlags(h), flags);
    QStringList names;
    for (const QString &call : h.capture.calls)
        names << call.section(QLatin1Char('('), 0, 0);
    QCOMPARE(names, calls);
    if (calls.contains(QStringLiteral("SaveStill")))
        QVERIFY(h.capture.calls.contains("SaveStill(" + form.tempPhotoPath() + ")"));
    QCOMPARE(form.statusText(), QString());
    QVERIFY(h.messages.messages.isEmpty());
}

void Form1Suite::menuItemsRunWhileButtonsAreDisabled()
{
    WindowHarness h;
    h.build();
    h.w<QLineEdit>("Text1")->setText(h.save.path());
    h.capture.calls.clear();
    QVERIFY(!h.w<QPushButton>("Command8")->isEnabled());
    h.w<QAction>("savezhao")->trigger();
    const QString saved = "SaveStill(" + h.path("DC.jpg") + ")";
    QCOMPARE(h.capture.calls.filter("SaveStill("), QStringList{saved});
    QVERIFY(QFileInfo::exists(h.path("DC.jpg")));
    QVERIFY(!h.w<QPushButton>("Command2")->isEnabled());
    h.capture.calls.clear();
    h.w<QAction>("closesx")->trigger();
    h.w<QAction>("spset")->trigger();
    QCOMPARE(h.capture.calls, QStringList({"ClosePreview", "ShowVideoSettings"}));
    // A disabled button itself does nothing.
    QTest::mouseClick(h.w<QPushButton>("Command8"), Qt::LeftButton);
    QCOMPARE(h.capture.calls, QStringList({"ClosePreview", "ShowVideoSettings"}));
}

void Form1Suite::outexcelDoesNothing()
{
    WindowHarness h;
    h.build();
    h.capture.calls.clear();
    const QString flags = cameraFlags(h);
    h.w<QAction>("outexcel")->trigger();
    QVERIFY(h.capture.calls.isEmpty());
    QVERIFY(h.messages.messages.isEmpty());
    QVERIFY(h.dialogs.calls.isEmpty());
    QCOMPARE(cameraFlags(h), flags);
}

void Form1Suite::takeFailing_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("flags");
    QTest::newRow("grab fails") << "GrabStill" << true << "0101011";
    QTest::newRow("save of the still fails") << "SaveStill" << true << "0101011";
}

void Form1Suite::cameraSlipsRecover_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("failing");   // an operation that fails from the last command on
    QTest::addColumn<QString>("flags");     // Command1 2 3 4 8 5 6
    QTest::addColumn<QString>("lastCalls"); // what the last command asked of the camera
    QTest::addColumn<bool>("said");         // the status line tells why

    QTest::newRow("retake after close opens the camera again")
        << QStringList{"open", "take", "close", "retake"} << ""
        << "0110011"
        << "OpenPreview" << false;
    QTest::newRow("retake after the camera stopped opens it again")
        << QStringList{"open", "take", "stop", "retake"} << ""
        << "0110011"
        << "OpenPreview" << false;
    QTest::newRow("reopening fails: Open is offered, the still can be saved")
        << QStringList{"open", "take", "close", "retake"} << "OpenPreview"
        << "1000100"
        << "OpenPreview" << true;
    QTest::newRow("resuming fails: Open is offered")
        << QStringList{"open", "take", "retake"} << "ResumePreview"
        << "1000100"
        << "ResumePreview" << true;
    QTest::newRow("take from the menu with the camera closed") << QStringList{"take"} << ""
                                                               << "1000000"
                                                               << "" << true;
    QTest::newRow("take from the menu after the camera stopped") << QStringList{"open", "stop", "take"} << ""
                                                                 << "1000000"
                                                                 << "" << true;
    QTest::newRow("take after close keeps the still") << QStringList{"open", "take", "close", "take"} << ""
                                                      << "1001100"
                                                      << "" << true;
}

void Form1Suite::cameraSlipsRecover()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, failing);
    QFETCH(QString, flags);
    QFETCH(QString, lastCalls);
    QFETCH(bool, said);
    WindowHarness h;
    Form1 &form = h.build();
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const bool last = i == commands.size() - 1;
        if (last) {
            h.capture.calls.clear();
            if (!failing.isEmpty())
                h.capture.failing.insert(failing);
        }
        if (commands.at(i) == QLatin1String("stop"))
            h.capture.stopPreviewOnItsOwn(QStringLiteral("设备已拔出"));
        else
            runCommand(h, commands.at(i), true);
    }
    QCOMPARE(cameraFlags(h), flags);
    QStringList names;
    for (const QString &call : std::as_const(h.capture.calls))
        names << call.section(QLatin1Char('('), 0, 0);
    QCOMPARE(names.join(QLatin1Char(' ')), lastCalls);
    QCOMPARE(form.statusText().isEmpty(), !said);
    QVERIFY(h.messages.messages.isEmpty());
    // Whatever happened, the enabled buttons lead to a new photo.
    h.capture.failing.clear();
    if (h.w<QPushButton>("Command1")->isEnabled())
        h.w<QPushButton>("Command1")->click();
    QVERIFY(h.w<QPushButton>("Command3")->isEnabled());
    h.w<QPushButton>("Command3")->click();
    QCOMPARE(cameraFlags(h).mid(2, 3), QStringLiteral("011"));
}

void Form1Suite::takeFailing()
{
    QFETCH(QString, failing);
    QFETCH(bool, opened);
    QFETCH(QString, flags);
    WindowHarness h;
    Form1 &form = h.build();
    if (opened)
        h.w<QAction>("opensx")->trigger();
    h.capture.failing.insert(failing);
    const QPixmap before = h.w<QLabel>("Image1")->pixmap();
    h.w<QAction>("peizhao")->trigger();
    QCOMPARE(cameraFlags(h), flags);
    QVERIFY(form.statusText().contains(failing + " failed"));
    QVERIFY(h.messages.messages.isEmpty());
    QCOMPARE(h.w<QLabel>("Image1")->pixmap().cacheKey(), before.cacheKey());
}

void Form1Suite::cameraStoppingOnItsOwn_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("flags");
    // Open on; Close, Take and the settings off, as after Close; Retake and
    // Save as they were.
    QTest::newRow("live video") << QStringList{"open"} << "1000000";
    QTest::newRow("still taken") << QStringList{"open", "take"} << "1001100";
    QTest::newRow("live again after a retake") << QStringList{"open", "take", "retake"} << "1000000";
}

void Form1Suite::cameraStoppingOnItsOwn()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, flags);
    WindowHarness h;
    Form1 &form = h.build();
    for (const QString &command : commands)
        runCommand(h, command, false);
    const QString photoShown = QString::number(h.w<QLabel>("Image1")->pixmap().cacheKey());
    h.capture.calls.clear();

    const QString reason = QStringLiteral("摄像头 /dev/video0 出错：读不到画面");
    h.capture.stopPreviewOnItsOwn(reason);
    QCOMPARE(cameraFlags(h), flags);
    QCOMPARE(form.statusText(), QStringLiteral("摄像头已停止：") + reason);
    QVERIFY(h.messages.messages.isEmpty());
    // The window only reports: it does not drive the camera in reply.
    QVERIFY(h.capture.calls.isEmpty());
    QCOMPARE(QString::number(h.w<QLabel>("Image1")->pixmap().cacheKey()), photoShown);

    // A still taken before can still be saved.
    if (h.w<QPushButton>("Command8")->isEnabled()) {
        h.w<QLineEdit>("Text1")->setText(h.save.path());
        QTest::mouseClick(h.w<QPushButton>("Command8"), Qt::LeftButton);
        QCOMPARE(h.capture.calls.filter("SaveStill("), QStringList{"SaveStill(" + h.path("DC.jpg") + ")"});
        h.capture.calls.clear();
    }
    // The camera plugged back in: Open starts it again.
    runCommand(h, QStringLiteral("open"), false);
    QCOMPARE(h.capture.calls, QStringList{"OpenPreview"});
    QCOMPARE(cameraFlags(h), QStringLiteral("0110011"));
    QCOMPARE(form.statusText(), QString());
}

void Form1Suite::takeShowsTheStillByContent()
{
    WindowHarness h;
    Form1 &form = h.build();
    h.w<QComboBox>("Comgs")->setCurrentIndex(1);
    QCOMPARE(h.capture.calls.last(), QStringLiteral("SetSaveFormat(BMP)"));
    QCOMPARE(h.w<QCheckBox>("Chekzm")->text(), QStringLiteral("带扩展名bmp"));
    h.capture.SetCropWidth(120);
    h.capture.SetCropHeight(160);
    h.w<QAction>("opensx")->trigger();
    h.w<QAction>("peizhao")->trigger();
    QFile temp(form.tempPhotoPath());
    QCOMPARE(QFileInfo(temp).fileName(), QStringLiteral("temp.jpg"));
    QCOMPARE(QFileInfo(temp).absolutePath(), QFileInfo(h.folder.path()).absoluteFilePath());
    QVERIFY(temp.open(QIODevice::ReadOnly));
    QCOMPARE(temp.read(2), QByteArray("BM"));
    auto *image = h.w<QLabel>("Image1");
    QCOMPARE(image->pixmap().size(), QSize(120, 160));
    QCOMPARE(image->pixmap().toImage().pixelColor(5, 5), h.capture.stillColour);
    const QSize panel = h.w<QWidget>("Frame2")->size();
    QCOMPARE(image->pos(), QPoint((panel.width() - 120) / 2, (panel.height() - 160) / 2));
}

void Form1Suite::tempPhotoGoesToTheCacheWithoutAProgramFolder()
{
    RecordingCaptureControl capture;
    RecordingMessages messages;
    ScriptedDialogs dialogs;
    QTemporaryDir gone;
    const QString folder = gone.path() + "/missing";
    Form1 form(&capture, &messages, &dialogs, folder);
    const QString temp = form.tempPhotoPath();
    QVERIFY(!temp.startsWith(folder));
    QVERIFY(temp.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
}

void Form1Suite::tempPhotoGoesToTheCacheFromASharedFolder()
{
    // An installed program run by the superuser could write into its data
    // folder; it must not.
    WindowHarness h;
    Form1 &form = h.build();
    QVERIFY(form.tempPhotoPath().startsWith(h.folder.path()));
    form.setProgramFolderShared(true);
    QVERIFY(form.tempPhotoPath().startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
    runCommand(h, QStringLiteral("open"), false);
    runCommand(h, QStringLiteral("take"), false);
    QVERIFY(!QFileInfo::exists(h.folder.filePath(QStringLiteral("temp.jpg"))));
    QVERIFY(QFileInfo::exists(form.tempPhotoPath()));
}

// With the keyboard alone: Space takes, saves, goes back to live video and
// takes again; the focus follows the next step and never reaches the lock.
void Form1Suite::spaceWalksThePhotoDay()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    h.w<QLineEdit>("Text1")->setText(h.save.path());
    runCommand(h, "open", false);
    QCOMPARE(form.focusWidget(), h.w<QPushButton>("Command3"));
    QStringList steps;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Space);
        steps << form.focusWidget()->objectName();
    }
    QCOMPARE(steps, (QStringList{"Command8", "Command4", "Command3", "Command8"}));
    QVERIFY(QFileInfo::exists(h.save.filePath(QStringLiteral("DC.jpg"))));
}

void Form1Suite::leavingPicturePageFocusesSaveFolder()
{
    WindowHarness h;
    Form1 &form = h.build();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto *tabs = h.w<QTabWidget>("SSTab1");
    h.w<QLineEdit>("Texg")->setFocus();
    tabs->setCurrentIndex(0);
    QCOMPARE(form.focusWidget(), h.w<QLineEdit>("Text1"));
    h.w<QPushButton>("Command7")->setFocus();
    tabs->setCurrentIndex(1);
    QVERIFY(form.focusWidget() != h.w<QLineEdit>("Text1"));
}

void Form1Suite::lockBoxInOrdinaryModeChangesNothing()
{
    WindowHarness h;
    h.build();
    auto *lock = h.w<QCheckBox>("Chelock");
    lock->setEnabled(true);
    lock->click();
    QVERIFY(h.w<QTabWidget>("SSTab1")->isEnabled());
    QCOMPARE(lock->text(), QStringLiteral("锁定保存设置"));
}

void Form1Suite::lockBoxInTableMode()
{
    WindowHarness h;
    h.build();
    h.memoryRoster({"学号", "姓名", "班级"}, {{"1", "张三", "一班"}, {"2", "李四", "二班"}});
    h.w<QRadioButton>("Option1")->setChecked(true);
    auto *lock = h.w<QCheckBox>("Chelock");
    QVERIFY(lock->isEnabled());
    lock->click();
    QVERIFY(!h.w<QTabWidget>("SSTab1")->isEnabled());
    QVERIFY(!h.w<QRadioButton>("Option2")->isEnabled());
    QCOMPARE(lock->text(), QStringLiteral("解除锁定保存"));
    lock->click();
    QVERIFY(h.w<QTabWidget>("SSTab1")->isEnabled());
    QVERIFY(h.w<QRadioButton>("Option2")->isEnabled());
    QCOMPARE(lock->text(), QStringLiteral("锁定保存设置"));
}

void Form1Suite::tableModeWithoutTable()
{
    WindowHarness h;
    h.build();
    h.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(h.messages.texts(), QStringList{"请先打开数据表"});
    QCOMPARE(h.messages.messages.first().title, QStringLiteral("Lumora"));
    QVERIFY(!h.w<QRadioButton>("Option1")->isChecked());
    QVERIFY(h.w<QRadioButton>("Option2")->isChecked());
    QVERIFY(!h.w<QLineEdit>("Texfname")->isHidden());
    QVERIFY(!h.w<QCheckBox>("Chelock")->isEnabled());
    QCOMPARE(h.w<QComboBox>("Comkb1")->count(), 0);
}

void Form1Suite::tableModeFirstLoadRestoresSettings()
{
    storeValues({{"zpph", "/stored"}, {"zph", "260"}, {"zpw", "180"}});
    WindowHarness h;
    Form1 &form = h.build();
    h.memoryRoster({"学号", "姓名", "班级"}, {{"1", "张三", "一班"}, {"2", "李四", "二班"}});
    h.w<QLineEdit>("Text1")->setText("/typed");
    h.capture.calls.clear();
    h.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(form.grid()->roster()->rows(), 4);
    QCOMPARE(form.grid()->roster()->cellText(2, 2), QStringLiteral("李四"));
    QCOMPARE(h.w<QComboBox>("Combo1")->count(), 4);
    QCOMPARE(h.w<QComboBox>("Comkb1")->currentText(), QStringLiteral("学号"));
    QVERIFY(form.grid()->cursor()->columnsListed());
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), QStringLiteral("/stored"));
    QCOMPARE(h.capture.calls, QStringList({"SetCropWidth(180)", "SetCropHeight(260)"}));
    QVERIFY(h.w<QLineEdit>("Texfname")->isHidden());
    QVERIFY(!h.w<QComboBox>("Comfname1")->isHidden());
    QVERIFY(h.w<QComboBox>("Combo1")->isEnabled());

    // Later switches neither refill the pickers nor restore again.
    h.w<QComboBox>("Comkb1")->setCurrentIndex(2);
    h.w<QRadioButton>("Option2")->setChecked(true);
    h.w<QLineEdit>("Text1")->setText("/typed");
    h.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(h.w<QComboBox>("Comkb1")->currentText(), QStringLiteral("班级"));
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), QStringLiteral("/typed"));
}

void Form1Suite::ordinaryModeEmptiesTheGrid()
{
    WindowHarness h;
    Form1 &form = h.build();
    TableGrid *grid = form.grid();
    grid->roster()->setCols(4);
    grid->roster()->setCellText(0, 1, "姓名");
    grid->roster()->setCellText(0, 3, "班级");
    grid->roster()->appendRow({"张三", "x", "一班"});
    h.w<QLineEdit>("Texfname")->setText("ABC");
    h.memoryRoster({"学号", "姓名", "班级"}, {{"1", "张三", "一班"}, {"2", "李四", "二班"}});
    h.w<QRadioButton>("Option1")->setChecked(true);
    h.w<QRadioButton>("Option2")->setChecked(true);
    QCOMPARE(grid->roster()->rows(), 1);
    QCOMPARE(grid->roster()->cols(), 4);
    QCOMPARE(grid->roster()->cellText(0, 1), QString());
    QCOMPARE(grid->roster()->cellText(0, 3), QString());
    QCOMPARE(h.w<QLineEdit>("Texfname")->text(), QStringLiteral("DC"));
    QVERIFY(!h.w<QCheckBox>("Chelock")->isEnabled());
}

void Form1Suite::showCurrentRowPhoto()
{
    WindowHarness h;
    Form1 &form = h.build();
    auto *image = h.w<QLabel>("Image1");
    const QString saved = h.folder.filePath("saved.jpg");
    QImage photo(100, 120, QImage::Format_RGB32);
    photo.fill(Qt::green);
    QVERIFY(photo.save(saved));

    h.session().naming.photoPath = saved;
    form.ShowCurrentRowPhoto();
    QCOMPARE(image->pixmap().size(), QSize(100, 120));
    const QSize panel = h.w<QWidget>("Frame2")->size();
    QCOMPARE(image->pos(), QPoint((panel.width() - 100) / 2, (panel.height() - 120) / 2));

    h.session().naming.photoPath.clear();
    form.ShowCurrentRowPhoto();
    QCOMPARE(image->pixmap().size(), QSize(100, 120));

    h.session().naming.photoPath = h.folder.filePath("none.jpg");
    form.ShowCurrentRowPhoto();
    QCOMPARE(image->pixmap().size(), QSize(150, 200));
    QCOMPARE(image->pos(), QPoint((panel.width() - 150) / 2, (panel.height() - 200) / 2));
}

void Form1Suite::showListedPhotoKeepsPosition()
{
    WindowHarness h;
    Form1 &form = h.build();
    auto *image = h.w<QLabel>("Image1");
    const QString saved = h.folder.filePath("DC10001.jpg");
    QImage photo(80, 90, QImage::Format_RGB32);
    photo.fill(Qt::blue);
    QVERIFY(photo.save(saved));
    form.grid()->roster()->appendRow({"DC", saved});
    form.grid()->roster()->appendRow({"DC", ""});
    const QPoint start = image->pos();

    form.ShowListedPhoto(1);
    QCOMPARE(image->pixmap().size(), QSize(80, 90));
    QCOMPARE(image->pos(), start);
    form.ShowListedPhoto(2); // empty path: nothing happens
    QCOMPARE(image->pixmap().size(), QSize(80, 90));
    QVERIFY(QFile::remove(saved));
    form.ShowListedPhoto(1);
    QCOMPARE(image->pixmap().size(), QSize(150, 200));
    QCOMPARE(image->pos(), start);
}

QTEST_MAIN(Form1Suite)
#include "tst_form1.moc"
