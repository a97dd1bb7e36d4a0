#include "app/ScanPanel.h"

#include "app/SettingsStore.h"
#include "capture/BarcodeScanner.h"
#include "capture/CaptureControl.h"
#include "data/CodeLookup.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>

namespace {

// Settings key: "1" reads codes from the camera.
const QString kCameraScanKey = QStringLiteral("sxsm");
// How often a live frame goes to the code reader.
constexpr int kFrameIntervalMs = 250;

// Whether the widget takes typed text itself.
bool takesText(const QWidget *w)
{
    if (qobject_cast<const QLineEdit *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
        qobject_cast<const QTextEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w))
        return true;
    const auto *list = qobject_cast<const QComboBox *>(w);
    return list && list->isEditable();
}

} // namespace

ScanPanel::ScanPanel(const Controls &controls, const DataSource &ds, CaptureControl *capture, QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_ds(ds)
    , m_capture(capture)
    , m_window(window)
    , m_label(new QLabel(QStringLiteral("扫码"), controls.Frame4))
    , m_box(new QLineEdit(controls.Frame4))
    , m_cameraScan(new QAction(QStringLiteral("摄像头扫码"), this))
    , m_frameTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("scanPanel"));
    m_box->setObjectName(QStringLiteral("Texsm"));
    m_box->setPlaceholderText(QStringLiteral("扫描或输入号码"));
    m_box->setToolTip(QStringLiteral("扫码枪扫描名单卡上的号码，转到这个人所在的行"));
    m_label->setBuddy(m_box);
    connect(m_box, &QLineEdit::returnPressed, this, [this] {
        scan(m_box->text());
        // The next scan replaces this code.
        m_box->selectAll();
    });

    m_cameraScan->setObjectName(QStringLiteral("sxsm"));
    m_cameraScan->setCheckable(true);
    m_cameraScan->setToolTip(QStringLiteral("从视频里认出名单卡上的二维码或条形码，转到这个人所在的行"));
    m_c.zhaox->addSeparator();
    m_c.zhaox->addAction(m_cameraScan);
    m_frameTimer->setInterval(kFrameIntervalMs);
    connect(m_frameTimer, &QTimer::timeout, this, &ScanPanel::offerLiveFrame);
    m_cameraScan->setChecked(SettingsStore::get(kCameraScanKey, QStringLiteral("0")) == QLatin1String("1"));
    cameraScanToggled(m_cameraScan->isChecked());
    connect(m_cameraScan, &QAction::toggled, this, [this](bool on) {
        SettingsStore::save(kCameraScanKey, on ? QStringLiteral("1") : QStringLiteral("0"));
        cameraScanToggled(on);
    });

    qApp->installEventFilter(this);
    layOut();
}

ScanPanel::~ScanPanel()
{
    qApp->removeEventFilter(this);
}

void ScanPanel::layOut()
{
    const int right = m_c.Grid1->geometry().right();
    const int width = 130;
    m_box->setGeometry(right - width + 1, 1, width, 21);
    const int labelWidth = m_label->sizeHint().width();
    m_label->setGeometry(m_box->x() - labelWidth - 4, 1, labelWidth, 21);
    m_label->raise();
    m_box->raise();
}

bool ScanPanel::scan(const QString &code, bool fromCamera)
{
    const QString shown = code.trimmed();
    CodeMatch match;
    if (m_c.Option1->isChecked())
        match = FindByCode(m_ds, *m_c.Grid1->roster(), shown);
    emit status(match.statusText(shown));
    if (!match.found())
        return false;
    TableGrid *g = m_c.Grid1;
    g->setActiveCell(match.row, qMax(1, g->activeColumn()));
    g->scrollTo(g->model()->index(match.row - 1, 0));
    emit scanned(match.row);
    if (fromCamera) {
        QApplication::beep();
        flashRow(match.row);
    }
    return true;
}

void ScanPanel::flashRow(int row)
{
    // Off and on again twice: the selection blinks where the eye expects it.
    TableGrid *g = m_c.Grid1;
    for (int step = 1; step <= 4; ++step) {
        QTimer::singleShot(step * 120, g, [g, row, step] {
            if (g->activeRow() != row)
                return;
            if (step % 2)
                g->clearSelection();
            else
                g->selectRange(row, 1, row, g->roster()->cols() - 1);
        });
    }
}

void ScanPanel::cameraScanToggled(bool on)
{
    if (!on) {
        m_frameTimer->stop();
        delete m_scanner;
        m_scanner = nullptr;
        return;
    }
    if (!m_scanner) {
        m_scanner = new CameraScanner(this);
        connect(m_scanner, &CameraScanner::appeared, this, [this](const QString &code) { scan(code, true); });
    }
    m_frameTimer->start();
}

void ScanPanel::offerLiveFrame()
{
    // Hook of the live frames: the newest one the capture control shows,
    // taken on the GUI thread (it shares the pipeline's buffer; nothing is
    // copied here) and decoded on the scanner's thread.
    if (!m_scanner || !m_capture)
        return;
    const QImage frame = m_capture->liveFrame();
    if (frame.isNull()) {
        // No live video: a card seen before is new again when video returns.
        m_scanner->resetAppearance();
        return;
    }
    m_scanner->offer(frame);
}

bool ScanPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_box->isVisible() || !m_box->isEnabled())
        return false;
    auto *target = qobject_cast<QWidget *>(watched);
    if (!target || target == m_box || target->window() != m_window || takesText(target) ||
        !m_c.Option1->isChecked())
        return false;
    // A scanner's characters reaching a button or the grid would be lost, or
    // worse, press the button: they go to the scan line instead.
    const auto *key = static_cast<QKeyEvent *>(event);
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint() || text.at(0).isSpace() ||
        (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    // The first character of a code starts the line afresh.
    if (m_window->focusWidget() != m_box) {
        m_box->setFocus(Qt::OtherFocusReason);
        m_box->clear();
    }
    m_box->insert(text);
    return true;
}
