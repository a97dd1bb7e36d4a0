// The save command in data-table mode on a 50,000-row grid: from "保存照片"
// to the next row current with its path formed and its preview shown. The
// camera is a stand-in whose still is a 640 x 480 frame written by the real
// StillWriter (crop, scale to 150 x 200, JPEG, temporary file renamed over
// the target); the write-back is off, as when no key columns are chosen.
// The roster is held in memory, reached through the window's database
// opener, so the window's own loading and pickers run.
// Taking each new still is not timed.

#include "DbfWriter.h"
#include "WindowHarness.h"
#include "app/Form1.h"
#include "app/WindowSession.h"
#include "capture/CaptureControl.h"
#include "capture/StillWriter.h"
#include "data/DataSource.h"
#include "data/TableGrid.h"

#include "QtBenchmarkMain.h"
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

constexpr int Rows = 50000;

class FrameCamera : public CaptureControl
{
public:
    FrameCamera()
        : m_frame(640, 480, QImage::Format_RGB32)
    {
        m_frame.fill(QColor(90, 120, 160));
    }
    ~FrameCamera() override { delete m_widget; }
    QWidget *videoWidget() override { return m_widget ? m_widget : (m_widget = new QWidget); }
    bool OpenPreview() override { return true; }
    bool ClosePreview() override { return true; }
    bool GrabStill() override { return true; }
    bool ResumePreview() override { return true; }
    bool ShowVideoSettings() override { return true; }
    bool ShowPictureSettings() override { return true; }
    bool SaveStill(const QString &path) override
    {
        return StillWriter::write(m_frame, m_crop, StillWriter::formatFromText(m_format), path, &m_error,
                                  m_caption);
    }
    void SetSaveFormat(const QString &format) override { m_format = format; }
    QString SaveFormat() const override { return m_format; }
    void SetCropWidth(qint32 width) override { m_crop.setWidth(width); }
    void SetCropHeight(qint32 height) override { m_crop.setHeight(height); }
    qint32 CropWidth() const override { return m_crop.width(); }
    qint32 CropHeight() const override { return m_crop.height(); }
    void SetCaption(const Caption &caption) override { m_caption = caption; }
    Caption caption() const override { return m_caption; }
    QSize windowSize() const override { return {449, 345}; }
    void setWindowSize(const QSize &) override {}
    QString lastError() const override { return m_error; }

private:
    QImage m_frame;
    QSize m_crop{150, 200};
    QString m_format;
    Caption m_caption;
    QString m_error;
    QWidget *m_widget = nullptr;
};

template <class T> T *child(QWidget *form, const char *name)
{
    return form->findChild<T *>(QLatin1String(name));
}

// The window on a roster of Rows people held in memory: the name from 姓名,
// the first sub-folder from 班级, the number on.
struct Session
{
    Session()
    {
        clearStore();
        h.build(&camera);
        QList<QStringList> people;
        people.reserve(Rows);
        for (int r = 1; r <= Rows; ++r)
            people.append({QString::number(2024000000 + r), QStringLiteral("学生%1").arg(r),
                           QStringLiteral("%1班").arg(r % 12 + 1), QString()});
        h.memoryRoster(
            {QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级"), QStringLiteral("照片")},
            people);
        form = h.form.get();
        child<QRadioButton>(form, "Option1")->setChecked(true);
        child<QLineEdit>(form, "Text1")->setText(h.save.path());
        child<QComboBox>(form, "Comfname1")->setCurrentIndex(1);
        child<QCheckBox>(form, "Chekb1")->setChecked(true);
        child<QComboBox>(form, "Comkb1")->setCurrentIndex(2);
        child<QCheckBox>(form, "Cheqbm")->setChecked(true);
        form->show();
        QCoreApplication::processEvents();
        child<QAbstractButton>(form, "Command1")->click();
    }

    FrameCamera camera; // outlives the window
    WindowHarness h;
    Form1 *form = nullptr;
};

} // namespace

static void BM_SaveToNextRow(benchmark::State &state)
{
    Session s;
    TableGrid *grid = s.form->grid();
    QAction *save = child<QAction>(s.form, "savezhao");
    // Start in the middle of the roster, where a reload would hurt most.
    grid->setActiveCell(Rows / 2, 1);
    QAbstractButton *take = child<QAbstractButton>(s.form, "Command3");
    for (auto _ : state) {
        // A new still for each person, not timed.
        state.PauseTiming();
        take->setEnabled(true);
        take->click();
        state.ResumeTiming();
        const int before = grid->cursor()->currentRow();
        save->trigger();
        if (grid->cursor()->currentRow() != before + 1 ||
            s.form->findChild<WindowSession *>()->naming.photoPath.isEmpty()) {
            state.SkipWithError("the save did not move on to the next row");
            break;
        }
        if (grid->cursor()->currentRow() >= Rows) {
            state.PauseTiming();
            grid->setActiveCell(Rows / 2, 1);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_SaveToNextRow)->Unit(benchmark::kMillisecond);

// The row change alone: current row, selection, path, preview.
static void BM_RowChange(benchmark::State &state)
{
    Session s;
    TableGrid *grid = s.form->grid();
    int row = 1;
    for (auto _ : state) {
        grid->setActiveCell(row, 1);
        benchmark::DoNotOptimize(s.form->findChild<WindowSession *>()->naming.photoPath.size());
        row = row % Rows + 1;
    }
}
BENCHMARK(BM_RowChange)->Unit(benchmark::kMicrosecond);

// The same command with the write-back on, through the real table engine:
// a dBase roster of 50,000 or 200,000 people (学号 as the key, 照片 C20 as the target).
// Timed from "保存照片" to the next row ready; taking each new still is not
// timed. range(0) = 1 filters the grid on 照片 = '' (the people still to
// photograph), so every save also drops the saved person from the grid.
namespace {

struct EngineSession
{
    explicit EngineSession(int rows)
        : rows(rows)
    {
        clearStore();
        using lumora::engine::Value;
        QList<QList<Value>> records;
        records.reserve(rows);
        for (int r = 1; r <= rows; ++r)
            records.append({Value::text(QString::number(2024000000 + r)),
                            Value::text(QStringLiteral("学生%1").arg(r)),
                            Value::text(QStringLiteral("%1班").arg(r % 12 + 1)), Value::text(QString())});
        roster = data.filePath(QStringLiteral("roster.dbf"));
        lumora::engine::DbfWriter::write(
            roster, {{"学号", 'C', 10}, {"姓名", 'C', 20}, {"班级", 'C', 10}, {"照片", 'C', 20}}, records);

        form = &h.build(&camera);
        DataSource &ds = form->findChild<WindowSession *>()->source;
        ds.connectString = QStringLiteral("dBASE IV");
        ds.databasePath = roster;
        ds.tableName = QStringLiteral("[roster]");
        ds.fieldTypes = {10, 10, 10, 10};
        ds.keyColumns = {1};
        ds.keyCount = 1;
        child<QRadioButton>(form, "Option1")->setChecked(true);
        child<QLineEdit>(form, "Text1")->setText(h.save.path());
        child<QComboBox>(form, "Comfname1")->setCurrentIndex(1);
        child<QCheckBox>(form, "Cheqbm")->setChecked(true);
        child<QCheckBox>(form, "Chezd")->setChecked(true);
        child<QComboBox>(form, "Comzd")->setCurrentIndex(3);
        form->show();
        QCoreApplication::processEvents();
        child<QAbstractButton>(form, "Command1")->click();
    }

    // Picks 照片 in Combo1 and its empty value in Combo2, as the operator does.
    bool filterOnEmptyPhoto()
    {
        auto *combo1 = child<QComboBox>(form, "Combo1");
        auto *combo2 = child<QComboBox>(form, "Combo2");
        combo1->setCurrentIndex(4);
        const int empty = combo2->findText(QString());
        if (empty < 0)
            return false;
        combo2->setCurrentIndex(empty);
        emit combo2->activated(empty);
        return form->grid()->roster()->rows() == rows + 2;
    }

    int rows;
    QTemporaryDir data;
    QString roster;
    FrameCamera camera; // outlives the window
    WindowHarness h;
    Form1 *form = nullptr;
};

} // namespace

static void BM_SaveWithWriteBack(benchmark::State &state)
{
    const int rows = int(state.range(0));
    EngineSession s(rows);
    const bool filtered = state.range(1) == 1;
    if (filtered && !s.filterOnEmptyPhoto()) {
        state.SkipWithError("the filter on the empty photo column did not load");
        return;
    }
    TableGrid *grid = s.form->grid();
    QAction *save = child<QAction>(s.form, "savezhao");
    QAbstractButton *take = child<QAbstractButton>(s.form, "Command3");
    grid->setActiveCell(rows / 2, 1);
    for (auto _ : state) {
        state.PauseTiming();
        take->setEnabled(true);
        take->click();
        const int before = grid->cursor()->currentRow();
        const QString person = grid->roster()->cellText(before, 1);
        state.ResumeTiming();
        save->trigger();
        state.PauseTiming();
        // Unfiltered the grid moves on; filtered the saved person leaves and
        // the next one moves up into the row.
        const int expected = filtered ? before : before + 1;
        if (grid->cursor()->currentRow() != expected ||
            grid->roster()->cellText(grid->cursor()->currentRow(), 1) == person) {
            state.SkipWithError(
                qPrintable(QStringLiteral("the save did not move on: ") + s.form->statusText()));
            break;
        }
        if (!filtered && grid->roster()->cellText(before, 4).isEmpty()) {
            state.SkipWithError("the photo name was not written back");
            break;
        }
        if (grid->cursor()->currentRow() >= grid->roster()->rows() - 2)
            grid->setActiveCell(1, 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SaveWithWriteBack)
    ->ArgsProduct({{50000, 200000}, {0, 1}})
    ->ArgNames({"rows", "filtered"})
    ->Unit(benchmark::kMillisecond);

LUMORA_QT_BENCHMARK_MAIN()
