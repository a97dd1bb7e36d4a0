#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "naming/FormPhotoPath.h"
#include "naming/NextPerson.h"
#include "naming/SaveFlow.h"
#include "naming/SaveHost.h"

#include "RecordingCaptureControl.h"
#include "ScriptedServices.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A roster, where the session stands in it and the grid showing both, as
// the main window holds them.
struct ShownRoster
{
    RosterModel model;
    RosterCursor cursor;
    TableGrid view;
    ShownRoster() { view.showRoster(&model, &cursor); }
};

// Plays the main window: the naming controls, the grid's row handling and
// the re-forming of the path when the row or the number changes.
class FakeWindow : public SaveHost
{
public:
    explicit FakeWindow(ShownRoster &grid)
        : grid(grid)
    {
        inputs.format = QStringLiteral("jpg");
        inputs.name1Index = 1; // 姓名
        inputs.numberText = QStringLiteral("10001");
        buttons = {{SaveButton::Take, false}, {SaveButton::Retake, true}, {SaveButton::Save, true}};
        QObject::connect(&grid.view, &TableGrid::rowChanged, [this](int row) {
            if (inputs.tableMode) {
                this->grid.cursor.setCurrentRow(row);
                formPath();
            }
        });
    }

    void formPath()
    {
        const PhotoPathResult r = FormPhotoPath(inputs, currentRowCells(grid.model, grid.cursor), naming);
        naming = r.state;
    }

    void focusTypedName() override { ++typedNameFocused; }
    void setNumberText(const QString &text) override
    {
        inputs.numberText = text;
        formPath();
    }
    WriteBackNote writeBackFileName() override
    {
        writtenBack << grid.cursor.currentRow();
        if (removeOnWriteBack) {
            // The filter no longer shows the saved person.
            grid.model.removeRow(grid.cursor.currentRow());
            WriteBackNote removed = writeBackNote;
            removed.rowRemoved = true;
            return removed;
        }
        if (reloadOnWriteBack) {
            // A reload empties and refills the grid; the active cell is lost.
            const int rows = grid.model.rows();
            QList<QStringList> cells;
            for (int r = 1; r < rows; ++r)
                cells << QStringList{grid.model.cellText(r, 1), grid.model.cellText(r, 2),
                                     grid.model.cellText(r, 3)};
            grid.model.setRows(1);
            for (const QStringList &row : cells)
                grid.model.appendRow(row);
        }
        return writeBackNote;
    }
    bool stillAlreadyFiled() const override { return stillFiled; }
    void markStillFiled() override { stillFiled = true; }
    void centrePreviewPicture() override { ++centred; }
    void setButtonEnabled(SaveButton button, bool enabled) override { buttons[button] = enabled; }
    void setStatus(const QString &text) override { status = text; }

    ShownRoster &grid;
    NamingInputs inputs;
    NamingState naming;
    QList<int> writtenBack;
    bool reloadOnWriteBack = false;
    bool removeOnWriteBack = false;
    WriteBackNote writeBackNote;
    bool stillFiled = false;
    int typedNameFocused = 0;
    int centred = 0;
    QMap<SaveButton, bool> buttons;
    QString status;
};

using Buttons = QMap<SaveButton, bool>;
const Buttons kAfterTake{{SaveButton::Take, false}, {SaveButton::Retake, true}, {SaveButton::Save, true}};
const Buttons kSaved{{SaveButton::Take, false}, {SaveButton::Retake, true}, {SaveButton::Save, false}};
// Step E: Retake enabled, Take and Save disabled, whatever they were.
const Buttons kInterrupted{{SaveButton::Take, false}, {SaveButton::Retake, true}, {SaveButton::Save, false}};

// A loaded table of `records` rows (学号, 姓名, 班级) and the trailing empty row.
void loadTable(RosterModel &grid, int records)
{
    grid.setCols(4);
    grid.setRows(1);
    grid.setCellText(0, 1, QStringLiteral("学号"));
    grid.setCellText(0, 2, QStringLiteral("姓名"));
    grid.setCellText(0, 3, QStringLiteral("班级"));
    for (int r = 1; r <= records; ++r)
        grid.appendRow({QString::number(100 + r), QStringLiteral("学生%1").arg(r),
                        QStringLiteral("%1班").arg(r % 2 + 1)});
    grid.appendRow({});
}

bool isPicture(const QString &path)
{
    QImageReader reader(path);
    return reader.size() == QSize(150, 200);
}

} // namespace

class TestSaveFlow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void nextPersonAfterASave_data();
    void nextPersonAfterASave();
    void tableModeMovesToTheNextRow();
    void lastRecordThenTheEmptyRow();
    void markerRowSavesNothing();
    void oneStillIsOnePerson();
    void savedPersonLeavingTheViewMakesRoomForTheNext();
    void ordinaryModeListsEverySave();
    void ordinaryModeWidensANarrowGrid();
    void subFoldersAreCreated();
    void interruptions_data();
    void interruptions();
    void nameChecks_data();
    void nameChecks();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_base;
};

// Who is next after a photo was saved for grid row `saved` of a grid of
// `rows` rows (header and trailing empty row included): before the
// write-back, and after it as the write-back's note has it.
void TestSaveFlow::nextPersonAfterASave_data()
{
    QTest::addColumn<int>("saved");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("previousResume");
    QTest::addColumn<bool>("rowRemoved");
    QTest::addColumn<int>("nextRow");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");

    QTest::newRow("the row below") << 3 << 12 << 7 << false << 0 << 4 << 4;
    QTest::newRow("last record: the empty row") << 10 << 12 << 0 << false << 0 << 11 << 11;
    QTest::newRow("empty row itself: still inside") << 11 << 12 << 0 << false << 0 << 12 << 12;
    QTest::newRow("no active cell: the first row") << 0 << 12 << 5 << false << 0 << 1 << 1;
    QTest::newRow("past the grid keeps the resume row") << 12 << 12 << 5 << false << 0 << 5 << 5;
    QTest::newRow("past the grid, no resume row: nobody") << 12 << 12 << 0 << false << 0 << 0 << 0;
    QTest::newRow("saved person left: the one who moved up") << 3 << 12 << 0 << true << 0 << 4 << 3;
    QTest::newRow("rows left around: the row named") << 6 << 12 << 0 << false << 4 << 7 << 4;
    QTest::newRow("the row named wins over the removal") << 6 << 12 << 0 << true << 2 << 7 << 2;
}

void TestSaveFlow::nextPersonAfterASave()
{
    QFETCH(int, saved);
    QFETCH(int, rows);
    QFETCH(int, previousResume);
    QFETCH(bool, rowRemoved);
    QFETCH(int, nextRow);
    QFETCH(int, before);
    QFETCH(int, after);
    const int planned = NextRowBeforeWriteBack(saved, rows, previousResume);
    QCOMPARE(planned, before);
    WriteBackNote note;
    note.rowRemoved = rowRemoved;
    note.nextRow = nextRow;
    QCOMPARE(NextRowAfterWriteBack(saved, planned, note), after);
}

void TestSaveFlow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_base = m_dir->path();
}

void TestSaveFlow::tableModeMovesToTheNextRow()
{
    // GIVEN row 3 of 10 records, the number on from 10001
    ShownRoster grid;
    loadTable(grid.model, 10);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    window.inputs.numberOn = true;
    window.reloadOnWriteBack = true;
    grid.view.setActiveCell(3, 2);
    QCOMPARE(grid.cursor.currentRow(), 3);
    const QString path = m_base + "/学生310001.jpg";
    QCOMPARE(window.naming.photoPath, path);
    RecordingCaptureControl camera;
    RecordingMessages messages;

    // WHEN saving
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);

    // THEN the picture is written, row 3 written back, row 4 active, number raised
    QVERIFY(isPicture(path));
    QCOMPARE(camera.argumentsOf("SaveStill"), QStringList{path});
    QCOMPARE(window.writtenBack, QList<int>{3});
    QCOMPARE(grid.cursor.resumeRow(), 4);
    QCOMPARE(grid.cursor.resumeColumn(), 1);
    QCOMPARE(grid.view.activeRow(), 4);
    QCOMPARE(grid.view.activeColumn(), 1);
    QCOMPARE(grid.cursor.currentRow(), 4);
    QCOMPARE(window.inputs.numberText, QStringLiteral("10002"));
    QCOMPARE(window.naming.photoPath, m_base + "/学生410002.jpg");
    QCOMPARE(window.buttons, kSaved);
    QCOMPARE(window.centred, 1);
    QVERIFY(messages.messages.isEmpty());
    QVERIFY2(window.status.contains(path) && window.status.contains("第 4 行"), qPrintable(window.status));
}

void TestSaveFlow::lastRecordThenTheEmptyRow()
{
    ShownRoster grid;
    loadTable(grid.model, 10);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    window.inputs.numberOn = true;
    window.writeBackNote.text = QStringLiteral("文件名未写回：数据文件被锁定");
    grid.view.setActiveCell(10, 1);
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);

    // The last record still has a next row: the trailing empty one.
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QVERIFY(isPicture(m_base + "/学生1010001.jpg"));
    QCOMPARE(window.writtenBack, QList<int>{10});
    QCOMPARE(grid.cursor.currentRow(), 11);
    QVERIFY(window.status.contains(window.writeBackNote.text));
    QVERIFY(messages.messages.isEmpty());

    // The empty row is nobody: no path is formed for it, and a fresh still
    // is refused there before any file is written.
    window.buttons = kAfterTake;
    window.stillFiled = false;
    QCOMPARE(window.naming.photoPath, QString());
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Failed);
    QCOMPARE(QDir(m_base).entryList(QDir::Files), QStringList{"学生1010001.jpg"});
    QCOMPARE(camera.argumentsOf("SaveStill").size(), 1);
    QCOMPARE(messages.texts(), QStringList{"已移出最后一行！"});
    QCOMPARE(messages.messages.first().title, QStringLiteral("Lumora"));
    QCOMPARE(window.buttons, kInterrupted);
    QCOMPARE(window.writtenBack, QList<int>{10});
    QCOMPARE(window.inputs.numberText, QStringLiteral("10002"));
    QCOMPARE(grid.cursor.currentRow(), 11);
    QCOMPARE(window.centred, 1);
}

void TestSaveFlow::markerRowSavesNothing()
{
    // A filter that matches nobody leaves only the marker row.
    ShownRoster grid;
    loadTable(grid.model, 0);
    grid.model.setRows(2);
    grid.model.setCellText(1, 1, QStringLiteral(" [没有记录]"));
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    grid.view.setActiveCell(1, 1);
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Failed);
    QVERIFY(QDir(m_base).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY(camera.argumentsOf("SaveStill").isEmpty());
    QCOMPARE(messages.texts(), QStringList{"已移出最后一行！"});
    QVERIFY(window.writtenBack.isEmpty());
}

void TestSaveFlow::oneStillIsOnePerson()
{
    ShownRoster grid;
    loadTable(grid.model, 10);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    window.inputs.numberOn = true;
    grid.view.setActiveCell(3, 1);
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(grid.cursor.currentRow(), 4);

    // Ctrl+S again with the same still on show: row 4 gets nothing.
    window.buttons = kSaved;
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::StillFiled);
    QCOMPARE(camera.argumentsOf("SaveStill").size(), 1);
    QCOMPARE(window.writtenBack, QList<int>{3});
    QCOMPARE(grid.cursor.currentRow(), 4);
    QCOMPARE(window.inputs.numberText, QStringLiteral("10002"));
    QCOMPARE(window.buttons, kSaved);
    QVERIFY(window.status.contains(QStringLiteral("请先拍摄")));
    QVERIFY(messages.messages.isEmpty());

    // A new still goes to row 4.
    window.stillFiled = false;
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(window.writtenBack, (QList<int>{3, 4}));

    // Ordinary mode lists the same still as often as asked.
    window.inputs.tableMode = false;
    window.inputs.typedName = QStringLiteral("DC");
    grid.model.setRows(1);
    window.formPath();
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(grid.model.rows(), 3);
}

void TestSaveFlow::savedPersonLeavingTheViewMakesRoomForTheNext()
{
    // A filter on the photo column ("照片 = ''"): the saved person drops out
    // of the grid and whoever was below moves up into the row.
    ShownRoster grid;
    loadTable(grid.model, 5);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    window.removeOnWriteBack = true;
    grid.view.setActiveCell(2, 1);
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    for (int person = 2; person <= 5; ++person) {
        window.stillFiled = false;
        QCOMPARE(grid.model.cellText(grid.cursor.currentRow(), 2), QStringLiteral("学生%1").arg(person));
        QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
        QCOMPARE(grid.cursor.currentRow(), 2);
    }
    QCOMPARE(window.writtenBack, (QList<int>{2, 2, 2, 2}));
    // Everyone from row 2 on was photographed; row 2 is now the empty row.
    QCOMPARE(grid.model.rows(), 3);
    QCOMPARE(grid.model.cellText(1, 2), QStringLiteral("学生1"));
    QCOMPARE(grid.model.cellText(2, 2), QString());
}

void TestSaveFlow::ordinaryModeListsEverySave()
{
    // GIVEN ordinary mode just chosen: only the header row
    ShownRoster grid;
    grid.model.setCols(5);
    grid.model.setRows(1);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.typedName = QStringLiteral("DC");
    window.inputs.numberOn = true;
    // Sub-folder boxes ticked in data-table mode stay ticked, hidden.
    window.inputs.subFolder1On = true;
    window.inputs.subFolder2On = true;
    window.naming.subFolder1 = QStringLiteral("一班");
    window.naming.subFolder2 = QStringLiteral("101");
    window.formPath();
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);

    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(grid.model.cellText(0, 1), QStringLiteral("文件名"));
    QCOMPARE(grid.model.cellText(0, 2), QStringLiteral("保存路径"));
    QCOMPARE(grid.view.gridColumnWidth(1), 100);
    QCOMPARE(grid.view.gridColumnWidth(2), 300);
    // Headers and widths are set with the first entry only.
    grid.view.setGridColumnWidth(1, 77);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(grid.view.gridColumnWidth(1), 77);

    QCOMPARE(grid.model.rows(), 4);
    for (int r = 1; r <= 3; ++r) {
        const QString path = m_base + QStringLiteral("/DC%1.jpg").arg(10000 + r);
        QCOMPARE(grid.model.cellText(r, 1), QStringLiteral("DC"));
        QCOMPARE(grid.model.cellText(r, 2), path);
        QVERIFY(isPicture(path));
    }
    QCOMPARE(window.inputs.numberText, QStringLiteral("10004"));
    QCOMPARE(QDir(m_base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"DC10001.jpg", "DC10002.jpg", "DC10003.jpg"}));
    QVERIFY(window.writtenBack.isEmpty());
    QVERIFY(messages.messages.isEmpty());
    QCOMPARE(window.buttons, kSaved);
}

void TestSaveFlow::ordinaryModeWidensANarrowGrid()
{
    // A one-field table shown before leaves a grid too narrow for the list.
    ShownRoster grid;
    grid.model.setCols(2);
    grid.model.setRows(1);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.typedName = QStringLiteral("DC");
    window.formPath();
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QCOMPARE(grid.model.cellText(1, 2), m_base + "/DC.jpg");
}

void TestSaveFlow::subFoldersAreCreated()
{
    ShownRoster grid;
    loadTable(grid.model, 3);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = true;
    window.inputs.subFolder1On = true;
    window.inputs.subFolder1Index = 2; // 班级
    window.inputs.subFolder2On = true;
    window.inputs.subFolder2Index = 0; // 学号
    grid.view.setActiveCell(1, 1);
    const QString path = m_base + "/2班/101/学生1.jpg";
    QCOMPARE(window.naming.photoPath, path);
    RecordingCaptureControl camera;
    RecordingMessages messages;
    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Saved);
    QVERIFY(isPicture(path));
    QCOMPARE(grid.cursor.currentRow(), 2);

    // Existing levels are used as they are.
    window.stillFiled = false;
    QCOMPARE(flow.run(FormPhotoPath(
                          window.inputs, [](int c) { return std::optional<QString>(c == 1 ? "9" : "x"); },
                          window.naming)
                          .state,
                      window.inputs),
             SaveFlow::Outcome::Saved);
    QVERIFY(QFileInfo(m_base + "/2班/101/学生1.jpg").isFile());
    QVERIFY(isPicture(m_base + "/x/9/x.jpg"));
}

void TestSaveFlow::interruptions_data()
{
    QTest::addColumn<bool>("tableMode");
    QTest::addColumn<QString>("saveFolder"); // relative to the temporary folder
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<QString>("classCell");    // sub-folder text of the current row
    QTest::addColumn<QString>("blockingFile"); // made before the save, relative
    QTest::addColumn<bool>("cameraFails");
    QTest::addColumn<QString>("leftBehind"); // the only thing under the temporary folder afterwards

    QTest::newRow("base folder missing, sub-folders on")
        << true << "missing" << true << "一班" << QString() << false << QString();
    QTest::newRow("base folder missing, sub-folders off")
        << true << "missing" << false << "一班" << QString() << false << QString();
    QTest::newRow("base folder missing, ordinary mode")
        << false << "missing" << false << "一班" << QString() << false << QString();
    QTest::newRow("camera fails") << true << "" << false << "一班" << QString() << true << QString();
    QTest::newRow("camera fails after the sub-folder was made")
        << true << "" << true << "一班" << QString() << true << "一班";
    QTest::newRow("a file stands where the sub-folder goes") << true << "" << true << "一班"
                                                             << "一班" << false << "一班";
    QTest::newRow("dot-dot sub-folder refused before anything is made")
        << true << "" << true << ".." << QString() << false << QString();
}

void TestSaveFlow::interruptions()
{
    QFETCH(bool, tableMode);
    QFETCH(QString, saveFolder);
    QFETCH(bool, subFolders);
    QFETCH(QString, classCell);
    QFETCH(QString, blockingFile);
    QFETCH(bool, cameraFails);
    QFETCH(QString, leftBehind);

    ShownRoster grid;
    loadTable(grid.model, 5);
    grid.model.setCellText(2, 3, classCell);
    FakeWindow window(grid);
    window.inputs.saveFolder = saveFolder.isEmpty() ? m_base : m_base + "/" + saveFolder;
    window.inputs.tableMode = tableMode;
    window.inputs.typedName = QStringLiteral("DC");
    window.inputs.numberOn = true;
    window.inputs.subFolder1On = subFolders;
    window.inputs.subFolder1Index = 2;
    window.inputs.subFolder2On = subFolders;
    window.inputs.subFolder2Index = 0;
    if (!blockingFile.isEmpty()) {
        QFile f(m_base + "/" + blockingFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    grid.view.setActiveCell(2, 1);
    window.formPath();
    RecordingCaptureControl camera;
    if (cameraFails)
        camera.failing << QStringLiteral("SaveStill");
    RecordingMessages messages;

    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::Failed);

    QCOMPARE(window.buttons, kInterrupted);
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(window.writtenBack.isEmpty());
    QCOMPARE(window.inputs.numberText, QStringLiteral("10001"));
    QCOMPARE(grid.view.activeRow(), 2);
    QCOMPARE(grid.model.rows(), 7);
    QCOMPARE(window.centred, 0);
    QVERIFY(!window.status.isEmpty());
    const QStringList left = QDir(m_base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(left, leftBehind.isEmpty() ? QStringList() : QStringList{leftBehind});
    if (leftBehind == QLatin1String("一班") && blockingFile.isEmpty())
        QVERIFY(QFileInfo(m_base + "/一班/102").isDir()); // created levels stay
}

void TestSaveFlow::nameChecks_data()
{
    QTest::addColumn<bool>("tableMode");
    QTest::addColumn<bool>("focused");
    QTest::newRow("data-table mode, no name column") << true << false;
    QTest::newRow("ordinary mode, no typed name") << false << true;
}

void TestSaveFlow::nameChecks()
{
    QFETCH(bool, tableMode);
    QFETCH(bool, focused);

    ShownRoster grid;
    loadTable(grid.model, 5);
    FakeWindow window(grid);
    window.inputs.saveFolder = m_base;
    window.inputs.tableMode = tableMode;
    window.inputs.typedName = QStringLiteral("DC");
    window.inputs.numberOn = true;
    grid.view.setActiveCell(2, 1);
    window.formPath();
    // The operator then empties the name: the state keeps the last path.
    window.inputs.name1Index = -1;
    window.inputs.typedName.clear();
    QVERIFY(!window.naming.photoPath.isEmpty());
    RecordingCaptureControl camera;
    RecordingMessages messages;

    SaveFlow flow(window, grid.model, grid.cursor, camera, messages);
    QCOMPARE(flow.run(window.naming, window.inputs), SaveFlow::Outcome::NoName);

    QCOMPARE(messages.texts(), QStringList{"没有设置文件名，请先设置！"});
    QCOMPARE(messages.messages.first().title, QStringLiteral("Lumora"));
    QCOMPARE(window.typedNameFocused, focused ? 1 : 0);
    QVERIFY(camera.argumentsOf("SaveStill").isEmpty());
    QCOMPARE(window.buttons, kAfterTake);
    QCOMPARE(window.inputs.numberText, QStringLiteral("10001"));
    QCOMPARE(QDir(m_base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_MAIN(TestSaveFlow)
#include "tst_saveflow.moc"
