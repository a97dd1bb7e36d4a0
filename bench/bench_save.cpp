// The save command in data-table mode on a 50,000-row grid: from "保存照片"
// to the next row current with its path formed and its preview shown. The
// camera is a stand-in whose still is a 640 x 480 frame written by the real
// StillWriter (crop, scale to 150 x 200, JPEG, temporary file renamed over
// the target); the write-back is off, as when no key columns are chosen.

#include "ScriptedServices.h"
#include "app/Form1.h"
#include "capture/CaptureControl.h"
#include "capture/StillWriter.h"
#include "data/TableGrid.h"

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
#include "QtBenchmarkMain.h"

namespace
{

constexpr int Rows = 50000;

class FrameCamera : public CaptureControl
{
public:
    FrameCamera() : m_frame(640, 480, QImage::Format_RGB32) { m_frame.fill(QColor(90, 120, 160)); }
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
        return StillWriter::write(m_frame, m_crop, StillWriter::formatFromText(m_format), path, &m_error);
    }
    void SetSaveFormat(const QString &format) override { m_format = format; }
    QString SaveFormat() const override { return m_format; }
    void SetCropWidth(qint32 width) override { m_crop.setWidth(width); }
    void SetCropHeight(qint32 height) override { m_crop.setHeight(height); }
    qint32 CropWidth() const override { return m_crop.width(); }
    qint32 CropHeight() const override { return m_crop.height(); }
    QSize windowSize() const override { return {449, 345}; }
    void setWindowSize(const QSize &) override {}
    QString lastError() const override { return m_error; }

private:
    QImage m_frame;
    QSize m_crop{150, 200};
    QString m_format;
    QString m_error;
    QWidget *m_widget = nullptr;
};

// The window with a roster of Rows people put into the grid as the loader
// leaves it.
class RosterForm1 : public Form1
{
public:
    using Form1::Form1;

protected:
    void endProgram() override {}
    bool loadTableIntoGrid() override
    {
        TableGrid *g = grid();
        g->setRedraw(false);
        g->setRows(1);
        g->setCols(5);
        const QStringList header = {QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("班级"),
                                    QStringLiteral("照片")};
        for (int c = 0; c < header.size(); ++c)
            g->setCellText(0, c + 1, header.at(c));
        for (int r = 1; r <= Rows; ++r)
            g->appendRow({QString::number(2024000000 + r), QStringLiteral("学生%1").arg(r),
                          QStringLiteral("%1班").arg(r % 12 + 1), QString()},
                         false);
        g->appendRow({}, false);
        g->setRedraw(true);
        g->setActiveCell(g->resumeRow, g->resumeColumn);
        return true;
    }
    void refreshColumnPickers() override
    {
        for (const char *name : {"Comkb1", "Comkb2", "Comfname1", "Comfname2", "Comzd"}) {
            auto *picker = findChild<QComboBox *>(QLatin1String(name));
            picker->clear();
            for (int c = 1; c < grid()->cols(); ++c)
                picker->addItem(grid()->cellText(0, c));
            picker->setCurrentIndex(0);
        }
    }
};

template <class T> T *child(QWidget *form, const char *name)
{
    return form->findChild<T *>(QLatin1String(name));
}

struct Session {
    Session()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumora"),
                  QStringLiteral("Lumora"))
            .clear();
        QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/default.bmp"),
                    program.filePath(QStringLiteral("default.bmp")));
        form = std::make_unique<RosterForm1>(&camera, &messages, &dialogs, program.path());
        form->dataSource().databasePath = QStringLiteral("roster.dbf");
        form->dataSource().tableName = QStringLiteral("[roster]");
        child<QRadioButton>(form.get(), "Option1")->setChecked(true);
        child<QLineEdit>(form.get(), "Text1")->setText(save.path());
        child<QComboBox>(form.get(), "Comfname1")->setCurrentIndex(1);
        child<QCheckBox>(form.get(), "Chekb1")->setChecked(true);
        child<QComboBox>(form.get(), "Comkb1")->setCurrentIndex(2);
        child<QCheckBox>(form.get(), "Cheqbm")->setChecked(true);
        form->show();
        QCoreApplication::processEvents();
    }

    QTemporaryDir program;
    QTemporaryDir save;
    FrameCamera camera;
    RecordingMessages messages;
    ScriptedDialogs dialogs;
    std::unique_ptr<RosterForm1> form;
};

} // namespace

static void BM_SaveToNextRow(benchmark::State &state)
{
    Session s;
    TableGrid *grid = s.form->grid();
    QAction *save = child<QAction>(s.form.get(), "savezhao");
    // Start in the middle of the roster, where a reload would hurt most.
    grid->setActiveCell(Rows / 2, 1);
    for (auto _ : state) {
        const int before = grid->currentRow;
        save->trigger();
        if (grid->currentRow != before + 1 || s.form->naming().photoPath.isEmpty()) {
            state.SkipWithError("the save did not move on to the next row");
            break;
        }
        if (grid->currentRow >= Rows) {
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
        benchmark::DoNotOptimize(s.form->naming().photoPath.size());
        row = row % Rows + 1;
    }
}
BENCHMARK(BM_RowChange)->Unit(benchmark::kMicrosecond);

LUMORA_QT_BENCHMARK_MAIN()
