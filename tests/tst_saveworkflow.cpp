// The whole road of a photo through the main window: naming controls, the
// grid's notifications, the camera commands and the save command, driven the
// way an operator drives them (buttons, menu items, keys).

#include "DbfMaker.h"
#include "MdbOracles.h"
#include "MdbRowInserter.h"
#include "WindowHarness.h"
#include "app/Form1.h"
#include "app/SettingsStore.h"
#include "capture/CaptureFactory.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "data/TableLoader.h"
#include "data/engine/Database.h"
#include "data/excelto.h"
#include "naming/FolderBrowser.h"
#include "naming/FormPhotoPath.h"
#include "naming/SaveFlow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// The main window on its own in a program folder and a save folder, the
// settings store holding only `stored` when it starts.
struct Window : WindowHarness
{
    explicit Window(CaptureControl *camera, const QList<std::pair<QString, QString>> &stored = {})
    {
        clearStore();
        storeValues(stored);
        build(camera);
    }

    // Ordinary mode into the save folder, number on from 10001.
    void ordinaryWithNumber()
    {
        w<QLineEdit>("Text1")->setText(save.path());
        w<QCheckBox>("Cheqbm")->click();
    }

    // Data-table mode on a roster of three people held in memory, the name
    // from 姓名, the first sub-folder from 班级, the number on; 照片 empty.
    void tableSession()
    {
        roster = memoryRoster(
            {QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级"), QStringLiteral("照片")},
            {{"1", "张三", "一班"}, {"2", "李四", "二班"}, {"3", "王五", "一班"}});
        // The first load restores the stored naming settings: the folder after it.
        w<QRadioButton>("Option1")->setChecked(true);
        messages.clear(); // the key column offered first as the write-back column
        w<QLineEdit>("Text1")->setText(save.path());
        w<QComboBox>("Comfname1")->setCurrentIndex(1);
        w<QCheckBox>("Chekb1")->click();
        w<QComboBox>("Comkb1")->setCurrentIndex(2);
        w<QCheckBox>("Cheqbm")->click();
    }

    void openAndTake()
    {
        button("Command1")->click();
        button("Command3")->click();
    }

    std::shared_ptr<MemoryTableData> roster;
};

QSize pictureSize(const QString &path)
{
    QImageReader reader(path);
    const QImage image = reader.read();
    return image.isNull() ? QSize() : image.size();
}

// The colour in the middle of the preview picture.
QColor previewColour(const Window &win)
{
    const QImage shown = win.w<QLabel>("Image1")->pixmap().toImage();
    return shown.pixelColor(shown.width() / 2, shown.height() / 2);
}

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) < 24 && qAbs(a.green() - b.green()) < 24 && qAbs(a.blue() - b.blue()) < 24;
}

} // namespace

class SaveWorkflowSuite : public QObject
{
    Q_OBJECT
private slots:
    void startUpFormsTheDefaultPath();
    void restoredFolderFormsThePath();
    void ordinaryPath_data();
    void ordinaryPath();
    void emptyInputsAreReported_data();
    void emptyInputsAreReported();
    void folderBrowserFillsTheSaveFolder();
    void formatChoice();
    void numberSwitchEnablesItsBox();
    void subFolderSwitches();
    void ordinaryThreeSavesWithTheCamera();
    void closedCameraComesBackOnRetake();
    void overwriteAnsweredNo();
    void enterAnswersTheDefault_data();
    void enterAnswersTheDefault();
    void missingSaveFolderEndsTheSave();
    void listedPhotoFollowsTheRow();
    void keyReachesItsCommand_data();
    void keyReachesItsCommand();
    void keyboardCycle();
    void tableSessionWalksTheRoster();
    void clickReformsThePath();
    void refusedSubFolderIsReported();
    void engineSessionWritesNamesBack();
    void accessRosterThroughTheWindowWithThreePhotos();
    void rosterFixtureToItsEnd();
};

void SaveWorkflowSuite::startUpFormsTheDefaultPath()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString expected = SettingsStore::defaultSaveFolder() + QStringLiteral("/DC.jpg");
    QCOMPARE(win.photoPath(), expected);
    QCOMPARE(win.w<QLineEdit>("Text2")->text(), kText2Prefix + expected);
    QCOMPARE(win.session().naming.photoName, QStringLiteral("DC"));
    QVERIFY(win.messages.messages.isEmpty());
    QCOMPARE(win.w<QCheckBox>("Chekzm")->text(), QStringLiteral("带扩展名jpg"));
}

void SaveWorkflowSuite::restoredFolderFormsThePath()
{
    RecordingCaptureControl camera;
    Window win(&camera, {{"zpph", "/srv/photos/"}, {"zpnametex", "ID"}});
    // Ordinary mode sets "DC" before the restore; the restore re-forms.
    QCOMPARE(win.photoPath(), QStringLiteral("/srv/photos/ID.jpg"));
    QVERIFY(win.messages.messages.isEmpty());
}

void SaveWorkflowSuite::ordinaryPath_data()
{
    QTest::addColumn<QString>("folder"); // "~" stands for the save folder
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("numberOn");
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("expected");

    QTest::newRow("typed name, jpg") << "~"
                                     << "DC" << false << "10001" << 0 << "~/DC.jpg";
    QTest::newRow("folder ending with a slash") << "~/"
                                                << "DC" << false << "10001" << 0 << "~/DC.jpg";
    QTest::newRow("number on") << "~"
                               << "DC" << true << "10001" << 0 << "~/DC10001.jpg";
    QTest::newRow("number on, bmp") << "~"
                                    << "DC" << true << "10001" << 1 << "~/DC10001.bmp";
    QTest::newRow("number box as typed") << "~"
                                         << "DC" << true << "0A7" << 0 << "~/DC0A7.jpg";
    QTest::newRow("number box ignored when off") << "~"
                                                 << "DC" << false << "77" << 1 << "~/DC.bmp";
    QTest::newRow("root folder") << "/"
                                 << "DC" << false << "1" << 0 << "/DC.jpg";
    QTest::newRow("slash in the name stays in the folder")
        << "~"
        << "一班/张三" << false << "1" << 0 << "~/一班／张三.jpg";
    QTest::newRow("dot-dot name is only a name") << "~"
                                                 << ".." << false << "1" << 0 << "~/...jpg";
}

void SaveWorkflowSuite::ordinaryPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, numberOn);
    QFETCH(QString, number);
    QFETCH(int, format);
    QFETCH(QString, expected);
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString save = win.save.path();
    win.w<QLineEdit>("Text1")->setText(folder.replace(QLatin1Char('~'), save));
    win.w<QLineEdit>("Texfname")->setText(name);
    win.w<QCheckBox>("Cheqbm")->setChecked(numberOn);
    win.w<QLineEdit>("Texqbm")->setText(number);
    win.w<QComboBox>("Comgs")->setCurrentIndex(format);

    expected.replace(QLatin1Char('~'), save);
    QCOMPARE(win.photoPath(), expected);
    QCOMPARE(win.w<QLineEdit>("Text2")->text(), kText2Prefix + expected);
    QVERIFY(win.messages.messages.isEmpty());
}

void SaveWorkflowSuite::emptyInputsAreReported_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("message");
    QTest::newRow("save folder erased") << "Text1" << kNoSaveFolderMessage;
    QTest::newRow("typed name erased") << "Texfname" << kNoTypedNameMessage;
}

void SaveWorkflowSuite::emptyInputsAreReported()
{
    QFETCH(QString, box);
    QFETCH(QString, message);
    RecordingCaptureControl camera;
    Window win(&camera);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    const QString before = win.photoPath();
    const QString text2 = win.w<QLineEdit>("Text2")->text();

    auto *edit = win.w<QLineEdit>(box.toLatin1().constData());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);

    QCOMPARE(win.messages.texts(), QStringList{message});
    QCOMPARE(win.messages.messages.first().title, QStringLiteral("Lumora"));
    QCOMPARE(win.photoPath(), before);
    QCOMPARE(win.w<QLineEdit>("Text2")->text(), text2);
}

void SaveWorkflowSuite::folderBrowserFillsTheSaveFolder()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.dialogs.folders.enqueue(win.save.path() + QStringLiteral("/"));
    win.button("Command7")->click();
    QCOMPARE(win.dialogs.calls, QStringList{QStringLiteral("folder:") + kFolderBrowserTitle});
    QCOMPARE(win.w<QLineEdit>("Text1")->text(), win.save.path());
    QCOMPARE(win.photoPath(), win.path("DC.jpg"));

    // Cancelled: the box is emptied and the operator told once.
    win.button("Command7")->click();
    QCOMPARE(win.w<QLineEdit>("Text1")->text(), QString());
    QCOMPARE(win.messages.texts(), QStringList{kNoSaveFolderMessage});
    QCOMPARE(win.photoPath(), win.path("DC.jpg"));
}

void SaveWorkflowSuite::formatChoice()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    auto *format = win.w<QComboBox>("Comgs");
    format->setCurrentIndex(1);
    QCOMPARE(win.photoPath(), win.path("DC.bmp"));
    QCOMPARE(camera.SaveFormat(), QStringLiteral("BMP"));
    QCOMPARE(win.w<QCheckBox>("Chekzm")->text(), QStringLiteral("带扩展名bmp"));
    format->setCurrentIndex(0);
    QCOMPARE(win.photoPath(), win.path("DC.jpg"));
    QCOMPARE(camera.SaveFormat(), QString());
    QCOMPARE(win.w<QCheckBox>("Chekzm")->text(), QStringLiteral("带扩展名jpg"));
}

void SaveWorkflowSuite::numberSwitchEnablesItsBox()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    auto *number = win.w<QLineEdit>("Texqbm");
    QVERIFY(!number->isEnabled());
    win.w<QCheckBox>("Cheqbm")->click();
    QVERIFY(number->isEnabled());
    QCOMPARE(win.photoPath(), win.path("DC10001.jpg"));
    QTest::keyClick(number, Qt::Key_End);
    QTest::keyClick(number, Qt::Key_Backspace);
    QTest::keyClicks(number, "9");
    QCOMPARE(win.photoPath(), win.path("DC10009.jpg"));
    win.w<QCheckBox>("Cheqbm")->click();
    QVERIFY(!number->isEnabled());
    QCOMPARE(win.photoPath(), win.path("DC.jpg"));
}

void SaveWorkflowSuite::subFolderSwitches()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.tableSession();
    auto *sub1 = win.w<QCheckBox>("Chekb1");
    auto *sub2 = win.w<QCheckBox>("Chekb2");
    auto *col2 = win.w<QComboBox>("Comkb2");
    QVERIFY(sub1->isChecked());
    QVERIFY(win.w<QComboBox>("Comkb1")->isEnabled());
    QVERIFY(sub2->isEnabled());
    QVERIFY(!col2->isEnabled());
    QCOMPARE(win.photoPath(), win.path("一班/张三10001.jpg"));

    sub2->click();
    QVERIFY(col2->isEnabled());
    col2->setCurrentIndex(0);
    QCOMPARE(win.photoPath(), win.path("一班/1/张三10001.jpg"));

    // Clearing the first clears and locks the second.
    sub1->click();
    QVERIFY(!sub2->isChecked());
    QVERIFY(!sub2->isEnabled());
    QVERIFY(!col2->isEnabled());
    QVERIFY(!win.w<QComboBox>("Comkb1")->isEnabled());
    QCOMPARE(win.photoPath(), win.path("张三10001.jpg"));

    auto *name2 = win.w<QCheckBox>("Chefname2");
    auto *name2Column = win.w<QComboBox>("Comfname2");
    QVERIFY(!name2Column->isEnabled());
    name2->click();
    QVERIFY(name2Column->isEnabled());
    name2Column->setCurrentIndex(2);
    QCOMPARE(win.photoPath(), win.path("张三一班10001.jpg"));
    QVERIFY2(win.messages.messages.isEmpty(), qPrintable(win.messages.texts().join("|")));
}

void SaveWorkflowSuite::ordinaryThreeSavesWithTheCamera()
{
    std::unique_ptr<CaptureControl> camera = createCaptureControl();
    QVERIFY(camera);
    Window win(camera.get());
    win.ordinaryWithNumber();
    TableGrid *grid = win.form->grid();

    win.button("Command1")->click();
    QVERIFY2(win.button("Command3")->isEnabled(), qPrintable(win.form->statusText()));
    const QStringList names = {"DC10001.jpg", "DC10002.jpg", "DC10003.jpg"};
    for (int i = 0; i < names.size(); ++i) {
        if (i > 0)
            win.button("Command4")->click();
        win.button("Command3")->click();
        QVERIFY2(win.button("Command8")->isEnabled(), qPrintable(win.form->statusText()));
        win.button("Command8")->click();

        const QString file = win.path(names.at(i));
        QCOMPARE(pictureSize(file), QSize(150, 200));
        QCOMPARE(win.buttons(), QStringLiteral("01010"));
        QCOMPARE(grid->roster()->rows(), i + 2);
        QCOMPARE(grid->roster()->cellText(i + 1, 1), QStringLiteral("DC"));
        QCOMPARE(grid->roster()->cellText(i + 1, 2), file);
        QVERIFY2(win.form->statusText().contains(file), qPrintable(win.form->statusText()));
    }
    QCOMPARE(grid->roster()->cellText(0, 1), QStringLiteral("文件名"));
    QCOMPARE(grid->roster()->cellText(0, 2), QStringLiteral("保存路径"));
    QCOMPARE(grid->gridColumnWidth(2), 300);
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10004"));
    QCOMPARE(win.photoPath(), win.path("DC10004.jpg"));
    // Only the pictures: nothing half-written left beside them.
    QCOMPARE(QDir(win.save.path()).entryList(QDir::Files | QDir::Hidden), names);
    QVERIFY(win.messages.messages.isEmpty());
    win.button("Command2")->click();
}

void SaveWorkflowSuite::closedCameraComesBackOnRetake()
{
    // The real camera component: close it with a still on show, retake,
    // take again and save.
    std::unique_ptr<CaptureControl> camera = createCaptureControl();
    QVERIFY(camera);
    Window win(camera.get());
    win.ordinaryWithNumber();
    win.button("Command1")->click();
    win.button("Command3")->click();
    win.button("Command2")->click();
    QCOMPARE(win.buttons(), QStringLiteral("10011"));
    win.button("Command4")->click();
    QVERIFY2(win.button("Command3")->isEnabled(), qPrintable(win.form->statusText()));
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    win.button("Command3")->click();
    win.button("Command8")->click();
    QCOMPARE(pictureSize(win.path("DC10001.jpg")), QSize(150, 200));
    // Take from the menu with the camera closed: nothing happens but a word.
    win.button("Command2")->click();
    win.w<QAction>("peizhao")->trigger();
    QCOMPARE(win.buttons(), QStringLiteral("10010"));
    QVERIFY(win.form->statusText().contains(QStringLiteral("摄像头没有打开")));
}

void SaveWorkflowSuite::overwriteAnsweredNo()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.ordinaryWithNumber();
    const QString file = win.path("DC10001.jpg");
    {
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier photo");
    }
    win.openAndTake();
    const QString before = win.buttons();
    win.messages.answers.enqueue(false);
    win.button("Command8")->click();

    QCOMPARE(win.messages.messages.size(), 1);
    QVERIFY(win.messages.messages.first().question);
    QCOMPARE(win.messages.messages.first().text, file + QLatin1Char('\n') + kOverwriteQuestion);
    QCOMPARE(win.messages.messages.first().title, QStringLiteral("Lumora"));
    // Enter keeps the earlier photo.
    QCOMPARE(win.messages.messages.first().button, MessageService::Default::No);
    QFile kept(file);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("earlier photo"));
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10001"));
    QCOMPARE(win.buttons(), before);
    QCOMPARE(win.form->grid()->roster()->rows(), 1);

    // Yes replaces it, and the earlier photo goes to the trash (the one of
    // the test's own home), not away; even from an account whose data
    // folder does not exist yet.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QVERIFY(data.startsWith(qEnvironmentVariable("LUMORA_ISOLATED_HOME")));
    QVERIFY(QDir(data).removeRecursively());
    win.button("Command8")->click();
    QCOMPARE(pictureSize(file), QSize(150, 200));
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10002"));
    const QString trash = data + QStringLiteral("/Trash");
    QVERIFY(!QFileInfo::exists(QStringLiteral("info/DC10001.jpg.trashinfo")));
    QFile trashed(trash + QStringLiteral("/files/DC10001.jpg"));
    QVERIFY(trashed.open(QIODevice::ReadOnly));
    QCOMPARE(trashed.readAll(), QByteArray("earlier photo"));
    QVERIFY(QFileInfo(trash + QStringLiteral("/info/DC10001.jpg.trashinfo")).isFile());
    QVERIFY2(win.form->statusText().contains(QStringLiteral("原有照片已移到回收站")),
             qPrintable(win.form->statusText()));

    // A replacement the camera cannot write puts the earlier photo back.
    win.button("Command4")->click();
    win.button("Command3")->click();
    win.w<QLineEdit>("Texqbm")->setText(QStringLiteral("10001"));
    camera.failing << QStringLiteral("SaveStill");
    win.button("Command8")->click();
    QCOMPARE(pictureSize(file), QSize(150, 200));
    QCOMPARE(QDir(trash + QStringLiteral("/files")).entryList(QDir::Files).size(), 1);
    QCOMPARE(QDir(trash + QStringLiteral("/info")).entryList(QDir::Files).size(), 1);
    QVERIFY2(win.form->statusText().contains(QStringLiteral("原有照片已放回")),
             qPrintable(win.form->statusText()));
}

// The real message box: Enter answers with the button a question names.
void SaveWorkflowSuite::enterAnswersTheDefault_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("yes");
    QTest::newRow("overwrite: 否") << int(MessageService::Default::No) << false;
    QTest::newRow("resume: 是") << int(MessageService::Default::Yes) << true;
}

void SaveWorkflowSuite::enterAnswersTheDefault()
{
    QFETCH(int, button);
    QFETCH(bool, yes);
    QtMessageService boxes;
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
        pressed = true;
    });
    QCOMPARE(boxes.askYesNo(nullptr, QStringLiteral("?"), QStringLiteral("Lumora"),
                            MessageService::Default(button)),
             yes);
    QVERIFY(pressed);
}

void SaveWorkflowSuite::missingSaveFolderEndsTheSave()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString missing = win.path("not-there");
    win.w<QLineEdit>("Text1")->setText(missing);
    win.button("Command1")->click();
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    // From the menu, which saves whatever the buttons show.
    win.w<QAction>("savezhao")->trigger();
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
    QCOMPARE(camera.calls.last(), QStringLiteral("SaveStill(%1/DC.jpg)").arg(missing));
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(win.messages.messages.isEmpty());
    QCOMPARE(win.form->grid()->roster()->rows(), 1);
    QVERIFY2(win.form->statusText().startsWith(QStringLiteral("照片未保存")),
             qPrintable(win.form->statusText()));
}

void SaveWorkflowSuite::listedPhotoFollowsTheRow()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.ordinaryWithNumber();
    win.button("Command1")->click();
    const QColor colours[] = {QColor(220, 30, 30), QColor(30, 30, 220)};
    for (const QColor &colour : colours) {
        camera.stillColour = colour;
        win.button("Command3")->click();
        win.button("Command8")->click();
        win.button("Command4")->click();
    }
    win.activate();
    TableGrid *grid = win.form->grid();
    for (int row : {1, 2, 1}) {
        const QRect cell = grid->visualRect(grid->model()->index(row - 1, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(grid->cursor()->currentRow(), row);
        QVERIFY(near(previewColour(win), colours[row - 1]));
    }
}

void SaveWorkflowSuite::keyReachesItsCommand_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("before"); // "open" or "open,take"
    QTest::addColumn<QString>("call");   // the camera call the key leads to

    const int alt = Qt::AltModifier;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Alt+P: take button") << int(Qt::Key_P) << alt << "open"
                                        << "GrabStill";
    QTest::newRow("Ctrl+P: take menu item") << int(Qt::Key_P) << ctrl << "open"
                                            << "GrabStill";
    QTest::newRow("Alt+R: retake button") << int(Qt::Key_R) << alt << "open,take"
                                          << "ResumePreview";
    QTest::newRow("Ctrl+R: retake menu item") << int(Qt::Key_R) << ctrl << "open,take"
                                              << "ResumePreview";
    QTest::newRow("Alt+S: save button, not the menu") << int(Qt::Key_S) << alt << "open,take"
                                                      << "SaveStill(~)";
    QTest::newRow("Ctrl+S: save menu item") << int(Qt::Key_S) << ctrl << "open,take"
                                            << "SaveStill(~)";
    QTest::newRow("Ctrl+S: save menu item, button disabled") << int(Qt::Key_S) << ctrl << "open"
                                                             << "SaveStill(~)";
}

void SaveWorkflowSuite::keyReachesItsCommand()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, before);
    QFETCH(QString, call);
    RecordingCaptureControl camera;
    Window win(&camera);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    QVERIFY(win.activate());
    win.button("Command1")->click();
    if (before.contains(QStringLiteral("take")))
        win.button("Command3")->click();
    camera.calls.clear();

    QTest::keyClick(win.form.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    call.replace(QLatin1Char('~'), win.path("DC.jpg"));
    QTRY_VERIFY2(camera.calls.contains(call), qPrintable(camera.calls.join(u' ')));
    QVERIFY(!win.w<QMenu>("phoset")->isVisible());
}

void SaveWorkflowSuite::keyboardCycle()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.ordinaryWithNumber();
    QVERIFY(win.activate());
    QWidget *form = win.form.get();
    // "照相(&Z)", then "打开摄像头(&O)".
    QTest::keyClick(form, Qt::Key_Z, Qt::AltModifier);
    auto *cameraMenu = win.w<QMenu>("zhaox");
    QTRY_VERIFY(cameraMenu->isVisible());
    QTest::keyClick(cameraMenu, Qt::Key_O);
    QTRY_COMPARE(win.buttons(), QStringLiteral("01100"));
    // The offscreen platform later hands the activation to the closed popup;
    // a desktop gives it back to the window.
    QTRY_VERIFY(QApplication::activeWindow() != form);
    QVERIFY(win.activate());

    for (const char *name : {"DC10001.jpg", "DC10002.jpg"}) {
        if (win.button("Command4")->isEnabled())
            QTest::keyClick(form, Qt::Key_R, Qt::AltModifier);
        QTRY_VERIFY(win.button("Command3")->isEnabled());
        QTest::keyClick(form, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(win.button("Command8")->isEnabled());
        QTest::keyClick(form, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(!win.button("Command8")->isEnabled());
        QCOMPARE(pictureSize(win.path(QLatin1String(name))), QSize(150, 200));
    }
    // With Save disabled Alt+S is the settings menu's again.
    QTest::keyClick(form, Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(win.w<QMenu>("phoset")->isVisible());
    QTest::keyClick(win.w<QMenu>("phoset"), Qt::Key_Escape);
    QCOMPARE(win.form->grid()->roster()->rows(), 3);
}

void SaveWorkflowSuite::tableSessionWalksTheRoster()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.tableSession();
    TableGrid *grid = win.form->grid();
    QCOMPARE(grid->cursor()->currentRow(), 1);
    QCOMPARE(win.photoPath(), win.path("一班/张三10001.jpg"));
    win.w<QCheckBox>("Chezd")->setChecked(true);
    win.w<QComboBox>("Comzd")->setCurrentIndex(3);
    QVERIFY(win.messages.messages.isEmpty());
    win.button("Command1")->click();

    const QStringList files = {"一班/张三10001.jpg", "二班/李四10002.jpg", "一班/王五10003.jpg"};
    for (int i = 0; i < files.size(); ++i) {
        if (i > 0)
            win.button("Command4")->click();
        win.button("Command3")->click();
        win.button("Command8")->click();
        QCOMPARE(pictureSize(win.path(files.at(i))), QSize(150, 200));
        // Written into that person's record, and the grid shows it.
        const QString stored = QFileInfo(files.at(i)).completeBaseName();
        QCOMPARE(win.roster->rows.at(i).at(3).textValue(), stored);
        QCOMPARE(grid->roster()->cellText(i + 1, 4), stored);
        QCOMPARE(grid->cursor()->currentRow(), i + 2);
        QCOMPARE(grid->activeRow(), i + 2);
        QCOMPARE(win.buttons(), QStringLiteral("01010"));
        QVERIFY2(win.form->statusText().contains(QStringLiteral("转到第 %1 行").arg(i + 2)),
                 qPrintable(win.form->statusText()));
    }
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10004"));
    // The trailing empty row: no name, so no path.
    QCOMPARE(grid->cursor()->currentRow(), 4);
    QCOMPARE(win.photoPath(), QString());

    win.button("Command4")->click();
    win.button("Command3")->click();
    win.button("Command8")->click();
    QCOMPARE(win.messages.texts(), QStringList{kPastLastRowMessage});
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
    // The empty row is nobody: no file named after it.
    QVERIFY(!QFileInfo::exists(win.path("10004.jpg")));
    QVERIFY(!QFileInfo::exists(win.path(".jpg")));
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10004"));
    QCOMPARE(win.roster->updates, 3);

    // Back on a row, the preview shows the photo saved under its path, or
    // the placeholder when there is none.
    win.w<QLineEdit>("Texqbm")->setText(QStringLiteral("10001"));
    grid->setActiveCell(1, 2);
    QCOMPARE(grid->cursor()->currentRow(), 1);
    QCOMPARE(win.photoPath(), win.path("一班/张三10001.jpg"));
    QVERIFY(near(previewColour(win), camera.stillColour));
    grid->setActiveCell(2, 2);
    QCOMPARE(win.photoPath(), win.path("二班/李四10001.jpg"));
    QVERIFY(!near(previewColour(win), camera.stillColour));
}

void SaveWorkflowSuite::clickReformsThePath()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.tableSession();
    QVERIFY(win.activate());
    TableGrid *grid = win.form->grid();
    grid->setActiveCell(2, 1);
    QCOMPARE(win.photoPath(), win.path("二班/李四10001.jpg"));
    // A change the grid does not announce: only the click picks it up.
    grid->roster()->setCellText(2, 2, QStringLiteral("李四光"));
    grid->cursor()->setCurrentRow(3);
    const QRect cell = grid->visualRect(grid->model()->index(1, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(grid->cursor()->currentRow(), 2);
    QCOMPARE(win.photoPath(), win.path("二班/李四光10001.jpg"));
}

void SaveWorkflowSuite::refusedSubFolderIsReported()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    win.tableSession();
    TableGrid *grid = win.form->grid();
    grid->roster()->setCellText(2, 3, QStringLiteral(".."));
    grid->setActiveCell(2, 1);
    QCOMPARE(win.photoPath(), QString());
    QVERIFY2(win.form->statusText().contains(QStringLiteral("“..”")), qPrintable(win.form->statusText()));

    win.openAndTake();
    win.button("Command8")->click();
    QVERIFY(camera.calls.filter(QStringLiteral("SaveStill(") + win.save.path()).isEmpty());
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
    QVERIFY2(win.form->statusText().contains(QStringLiteral("“..”")), qPrintable(win.form->statusText()));

    // The next row forms a path again and clears the note.
    grid->setActiveCell(3, 1);
    QCOMPARE(win.photoPath(), win.path("一班/王五10001.jpg"));
    QVERIFY(!win.form->statusText().contains(QStringLiteral("“..”")));
}

void SaveWorkflowSuite::engineSessionWritesNamesBack()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString table = win.path(QStringLiteral("class.dbf"));
    {
        DbfMaker maker({{"XH", 'C', 10}, {"XM", 'C', 20}, {"BJ", 'C', 10}, {"ZP", 'C', 40}});
        maker.add({"1", "张三", "一班", ""});
        maker.add({"2", "Mary O'Connor", "二班", ""});
        maker.add({"3", "王五", "一班", ""});
        QVERIFY(maker.write(table));
    }
    DataSource &ds = win.session().source;
    ds.databasePath = table;
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[class]");
    ds.keyColumns = {1};
    ds.keyCount = 1;
    ds.fieldTypes = {10, 10, 10, 10};
    win.w<QRadioButton>("Option1")->setChecked(true);
    TableGrid *grid = win.form->grid();
    QCOMPARE(grid->roster()->rows(), 5);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    win.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    win.w<QCheckBox>("Cheqbm")->click();
    win.w<QCheckBox>("Chezd")->setChecked(true);
    win.w<QComboBox>("Comzd")->setCurrentIndex(3);
    QCOMPARE(win.photoPath(), win.path("张三10001.jpg"));
    win.messages.clear(); // the key column offered first as the write-back column

    win.button("Command1")->click();
    const QStringList names = {"张三10001", "Mary O'Connor10002", "王五10003"};
    for (int i = 0; i < names.size(); ++i) {
        if (i > 0)
            win.button("Command4")->click();
        win.button("Command3")->click();
        win.button("Command8")->click();
        QCOMPARE(pictureSize(win.path(names.at(i) + QStringLiteral(".jpg"))), QSize(150, 200));
        // Written into the record, reloaded, and on to the next row.
        QCOMPARE(grid->roster()->cellText(i + 1, 4), names.at(i));
        QCOMPARE(grid->cursor()->currentRow(), i + 2);
        QCOMPARE(win.form->statusText(), QStringLiteral("照片已保存：%1；转到第 %2 行")
                                             .arg(win.path(names.at(i) + QStringLiteral(".jpg")))
                                             .arg(i + 2));
    }
    QCOMPARE(grid->roster()->rows(), 5);
    QCOMPARE(grid->roster()->cellText(4, 1), QString());
    win.button("Command4")->click();
    win.button("Command3")->click();
    win.button("Command8")->click();
    QCOMPARE(win.messages.texts(), QStringList{kPastLastRowMessage});
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
    QCOMPARE(win.w<QLineEdit>("Texqbm")->text(), QStringLiteral("10004"));

    // The data file itself holds the names.
    auto db = OpenDatabase(ds);
    RosterModel check;
    LoadTable(*db, ds, check);
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(check.cellText(i + 1, 4), names.at(i));
}

void SaveWorkflowSuite::rosterFixtureToItsEnd()
{
    const QString source =
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/dbf/roster_zh_30_lo_cp936.dbf");
    QVERIFY2(QFile::exists(source), qPrintable(source));
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString table = win.path(QStringLiteral("roster.dbf"));
    QVERIFY(QFile::copy(source, table));
    QFile::setPermissions(table, QFile::ReadOwner | QFile::WriteOwner);
    DataSource &ds = win.session().source;
    ds.databasePath = table;
    ds.connectString = QStringLiteral("dBASE IV");
    ds.tableName = QStringLiteral("[roster]");
    ds.keyColumns = {1};
    ds.keyCount = 1;
    ds.fieldTypes = {10, 10, 10, 7, 8, 10};
    TableGrid *grid = win.form->grid();
    grid->cursor()->setResume(29, 1);
    win.w<QRadioButton>("Option1")->setChecked(true);
    QCOMPARE(grid->roster()->rows(), 32);
    QCOMPARE(grid->cursor()->currentRow(), 29);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    win.w<QComboBox>("Comfname1")->setCurrentIndex(1);
    win.w<QCheckBox>("Cheqbm")->click();
    // The photo column of this file holds one character: the name cannot go in.
    win.w<QCheckBox>("Chezd")->setChecked(true);
    win.w<QComboBox>("Comzd")->setCurrentIndex(5);
    win.messages.clear(); // the key column offered first as the write-back column

    win.button("Command1")->click();
    for (int row : {29, 30}) {
        const QString name = grid->roster()->cellText(row, 2);
        QVERIFY(!name.isEmpty());
        if (row > 29)
            win.button("Command4")->click();
        win.button("Command3")->click();
        win.button("Command8")->click();
        const QString file = win.path(name + QString::number(10001 + row - 29) + QStringLiteral(".jpg"));
        QCOMPARE(pictureSize(file), QSize(150, 200));
        QCOMPARE(grid->cursor()->currentRow(), row + 1);
        QVERIFY2(win.form->statusText().contains(QStringLiteral("文件名未写入数据表")),
                 qPrintable(win.form->statusText()));
    }
    QVERIFY(win.messages.messages.isEmpty());
    win.button("Command4")->click();
    win.button("Command3")->click();
    win.button("Command8")->click();
    QCOMPARE(win.messages.texts(), QStringList{kPastLastRowMessage});
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
}

// As a new user would: 打开表, Access数据库, a roster .mdb, its table, the
// key, 打开(&O); three photos with write-back on. mdb-export then shows the
// three names and nothing else changed.
void SaveWorkflowSuite::accessRosterThroughTheWindowWithThreePhotos()
{
    RecordingCaptureControl camera;
    Window win(&camera);
    const QString roster = win.path(QStringLiteral("roster.mdb"));
    QVERIFY(QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") +
                            QStringLiteral("/mdb/ucanaccess_weirdObjectNames.mdb"),
                        roster));
    QFile::setPermissions(roster, QFile::ReadOwner | QFile::WriteOwner);
    const QString table = QStringLiteral("19 MB 01 BEZAHLT ???");
    using lumora::engine::Value;
    MdbRowInserter::append(roster, table, 2, [](int i) {
        return std::map<int, Value>{{0, Value::integer(i + 2)}, {1, Value::null()}};
    });
    const MdbOracles::Tables before = MdbOracles::lumora(roster);

    win.button("Command9")->click();
    QPointer<excelto> open = win.form->findChild<excelto *>();
    QVERIFY(open);
    open->findChild<QRadioButton *>(QStringLiteral("Option1_1"))->click();
    win.dialogs.files.enqueue(roster);
    open->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    auto *tables = open->findChild<QListWidget *>(QStringLiteral("List1"));
    QCOMPARE(tables->count(), 1);
    QCOMPARE(tables->item(0)->text(), table);
    tables->setCurrentRow(0);
    open->findChild<QListWidget *>(QStringLiteral("List2"))->item(0)->setSelected(true);
    open->findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    QVERIFY(QTest::qWaitFor([&] { return open.isNull(); }));

    TableGrid *grid = win.form->grid();
    QCOMPARE(grid->roster()->rows(), 5);
    win.w<QLineEdit>("Text1")->setText(win.save.path());
    win.w<QCheckBox>("Cheqbm")->click();
    win.w<QCheckBox>("Chezd")->setChecked(true);
    win.w<QComboBox>("Comzd")->setCurrentIndex(1);
    win.w<QCheckBox>("Chekzm")->setChecked(true);
    win.messages.clear();

    win.button("Command1")->click();
    MdbOracles::Tables expected = before;
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            win.button("Command4")->click();
        win.button("Command3")->click();
        win.button("Command8")->click();
        const QString name = QStringLiteral("%1%2.jpg").arg(i + 1).arg(10001 + i);
        QCOMPARE(pictureSize(win.path(name)), QSize(150, 200));
        QCOMPARE(grid->roster()->cellText(i + 1, 2), name);
        QCOMPARE(grid->cursor()->currentRow(), i + 2);
        expected[table].rows[i][1] = name;
    }
    QVERIFY(win.messages.texts().isEmpty());
    QCOMPARE(MdbOracles::mdbExport(roster, expected).at(table).rows, expected.at(table).rows);
}

QTEST_MAIN(SaveWorkflowSuite)
#include "tst_saveworkflow.moc"
