// A real camera through its tether program, end to end in the main window:
// the program writes a picture into the watched folder, slowly, and the
// window takes it as the still and 保存照片 files it for the current person.

#include "CameraPictures.h"
#include "WindowHarness.h"
#include "capture/GstCaptureControl.h"
#include "capture/TetherFolder.h"
#include "capture/VideoView.h"
#include "data/TableGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Data-table mode on three people held in memory, the name from 姓名 and
// the first sub-folder from 班级, the number on, the name written back.
struct Window : WindowHarness
{
    explicit Window(CaptureControl *camera)
    {
        clearStore();
        build(camera);
        roster = memoryRoster(
            {QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级"), QStringLiteral("照片")},
            {{"1", "张三", "一班"}, {"2", "李四", "二班"}, {"3", "王五", "一班"}});
        w<QRadioButton>("Option1")->setChecked(true);
        messages.clear();
        w<QLineEdit>("Text1")->setText(save.path());
        w<QComboBox>("Comfname1")->setCurrentIndex(1);
        w<QCheckBox>("Chekb1")->click();
        w<QComboBox>("Comkb1")->setCurrentIndex(2);
        w<QCheckBox>("Cheqbm")->click();
        // The file's name written back into 照片.
        w<QCheckBox>("Chezd")->setChecked(true);
        w<QComboBox>("Comzd")->setCurrentIndex(3);
    }
    std::shared_ptr<MemoryTableData> roster;
};

// Copies `from` to `to` in three pieces with pauses longer than the time a
// file's size must stay unchanged, as a camera's download does over USB.
// The child is killed and reaped if it outlives the test.
struct SlowWriter
{
    QProcess child;
    void start(const QString &from, const QString &to)
    {
        const qint64 size = QFileInfo(from).size();
        const qint64 piece = size / 3;
        child.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"),
                     QStringLiteral("head -c %1 \"$1\" > \"$2\"; sleep 0.6; "
                                    "tail -c +%2 \"$1\" | head -c %1 >> \"$2\"; sleep 0.6; "
                                    "tail -c +%3 \"$1\" >> \"$2\"")
                         .arg(piece)
                         .arg(piece + 1)
                         .arg(2 * piece + 1),
                     QStringLiteral("sh"), from, to});
    }
    ~SlowWriter()
    {
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished();
        }
    }
};

CaptureSettings folderSource(const QString &folder)
{
    CaptureSettings s;
    s.kind = CaptureSource::Kind::Folder;
    s.path = folder;
    return s;
}

} // namespace

class TetherWindowSuite : public QObject
{
    Q_OBJECT
private slots:
    void slowPictureBecomesThePersonsPhoto();
    void unfinishedPictureIsReported();
    void pictureWaitsForAnOpenQuestion();
};

void TetherWindowSuite::slowPictureBecomesThePersonsPhoto()
{
    QTemporaryDir tether, elsewhere;
    QString why;
    // A green picture already in the folder, newer than anything to come:
    // if it were taken it would be the last, and the photo green.
    const QString old = tether.filePath(QStringLiteral("IMG_0001.JPG"));
    QImage green(400, 300, QImage::Format_RGB32);
    green.fill(Qt::green);
    QVERIFY(green.save(old, "JPEG"));
    QFile oldFile(old);
    QVERIFY(oldFile.open(QIODevice::ReadWrite));
    QVERIFY(oldFile.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
    oldFile.close();
    const QString shot = elsewhere.filePath(QStringLiteral("shot.jpg"));
    QVERIFY2(writeRotatedJpeg(shot, 6, &why), qPrintable(why));

    GstCaptureControl camera(folderSource(tether.path()));
    Window win(&camera);
    QCOMPARE(win.photoPath(), win.path(QStringLiteral("一班/张三10001.jpg")));
    win.button("Command1")->click();
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    QCOMPARE(camera.view()->note(), GstCaptureControl::waitingNote());

    SlowWriter writer;
    writer.start(shot, tether.filePath(QStringLiteral("IMG_0002.JPG")));
    // Taken as by 拍摄照片: Save and Retake on, the still shown.
    QTRY_COMPARE_WITH_TIMEOUT(win.buttons(), QStringLiteral("01011"), 10000);
    // The whole picture, upright: not a part of it, nor the older one.
    QImageReader whole(shot);
    whole.setAutoTransform(true);
    QCOMPARE(camera.still().size(), QSize(200, 300));
    QVERIFY(camera.still() == whole.read().convertToFormat(QImage::Format_RGB32));
    writer.child.waitForFinished(5000);
    QCOMPARE(writer.child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(writer.child.exitCode(), 0);

    win.button("Command8")->click();
    const QString saved = win.path(QStringLiteral("一班/张三10001.jpg"));
    QImageReader reader(saved);
    QCOMPARE(QByteArray(reader.format()), QByteArray("jpeg"));
    const QImage photo = reader.read();
    QCOMPARE(photo.size(), QSize(150, 200));
    // Upright: the red third of the picture at the top, blue below.
    QVERIFY(reddish(photo.pixel(75, 10)));
    QVERIFY(bluish(photo.pixel(75, 190)));
    QCOMPARE(win.roster->rows.at(0).at(3).textValue(), QStringLiteral("张三10001"));
    QCOMPARE(win.form->grid()->cursor()->currentRow(), 2);
    QVERIFY(win.messages.messages.isEmpty());

    // The next picture is the next person's, without pressing 恢复再拍.
    QCOMPARE(win.buttons(), QStringLiteral("01010"));
    QVERIFY(QFile::copy(shot, tether.filePath(QStringLiteral("IMG_0003.JPG"))));
    QTRY_COMPARE_WITH_TIMEOUT(win.buttons(), QStringLiteral("01011"), 10000);
    win.button("Command8")->click();
    QCOMPARE(QImageReader(win.path(QStringLiteral("二班/李四10002.jpg"))).size(), QSize(150, 200));

    // 恢复再拍 between pictures: the window shows the newest one as live.
    win.button("Command4")->click();
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    QVERIFY(!camera.view()->showsStill());
    QCOMPARE(camera.view()->shownImage().isNull(), false);
    QVERIFY(camera.view()->note().isEmpty());
}

// A file that never completes is skipped, and the status line says so.
void TetherWindowSuite::unfinishedPictureIsReported()
{
    QTemporaryDir tether, elsewhere;
    QString why;
    const QString shot = elsewhere.filePath(QStringLiteral("shot.jpg"));
    QVERIFY2(writeRotatedJpeg(shot, 1, &why), qPrintable(why));
    QFile whole(shot);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();

    GstCaptureControl camera(folderSource(tether.path()));
    camera.tetherFolder()->setGiveUpAfterMs(1000);
    Window win(&camera);
    win.button("Command1")->click();
    QFile half(tether.filePath(QStringLiteral("IMG_0004.JPG")));
    QVERIFY(half.open(QIODevice::WriteOnly));
    QCOMPARE(half.write(bytes.left(bytes.size() / 2)), bytes.size() / 2);
    half.close();
    QTRY_VERIFY_WITH_TIMEOUT(win.form->statusText().contains(QStringLiteral("IMG_0004.JPG")), 5000);
    QVERIFY2(win.form->statusText().contains(QStringLiteral("已跳过")), qPrintable(win.form->statusText()));
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    QCOMPARE(camera.view()->note(), GstCaptureControl::waitingNote());
}

// While a question is on screen (保存照片's overwrite question) the still it
// is about stays; the new picture is taken once the question is answered.
void TetherWindowSuite::pictureWaitsForAnOpenQuestion()
{
    QTemporaryDir tether, elsewhere;
    QString why;
    const QString shot = elsewhere.filePath(QStringLiteral("shot.jpg"));
    QVERIFY2(writeRotatedJpeg(shot, 1, &why), qPrintable(why));
    GstCaptureControl camera(folderSource(tether.path()));
    Window win(&camera);
    win.button("Command1")->click();

    QDialog question(win.form.get());
    question.setModal(true);
    question.show();
    QVERIFY(QApplication::activeModalWidget() == &question);
    QVERIFY(QFile::copy(shot, tether.filePath(QStringLiteral("IMG_0005.JPG"))));
    QTRY_VERIFY(!camera.view()->shownImage().isNull()); // it has come
    QTest::qWait(500);
    QCOMPARE(win.buttons(), QStringLiteral("01100"));
    question.accept();
    QTRY_COMPARE(win.buttons(), QStringLiteral("01011"));
    QCOMPARE(camera.still().size(), QSize(300, 200));
}

QTEST_MAIN(TetherWindowSuite)
#include "tst_tetherwindow.moc"
