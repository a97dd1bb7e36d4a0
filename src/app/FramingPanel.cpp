#include "app/FramingPanel.h"

#include "app/SettingsStore.h"
#include "capture/CaptureControl.h"
#include "capture/FrameTap.h"
#include "framing/FramingEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace {
// The settings keys, beside the 29 of the settings table: the rule's index
// in Comgg, and the two tick boxes ("0" / "1").
const QString RuleKey = QStringLiteral("zpgg");
const QString AutoCentreKey = QStringLiteral("zprlche");
const QString AskKey = QStringLiteral("zpqjche");
constexpr int PanelLines = 7;

QString lineOf(const FramingCheck &check)
{
    return (check.pass ? QStringLiteral("✓ ") : QStringLiteral("✗ ")) + check.name + QLatin1Char(' ') +
           check.word;
}
} // namespace

FramingPanel::FramingPanel(const Controls &controls, CaptureControl *capture, QObject *parent)
    : QObject(parent)
    , m_c(controls)
    , m_capture(capture)
{
    {
        const QSignalBlocker block(m_c.Comgg);
        m_c.Comgg->clear();
        for (const IdRule &r : idRules())
            m_c.Comgg->addItem(r.displayName());
        m_c.Comgg->setCurrentIndex(0);
    }
    connect(m_c.Comgg, &QComboBox::currentIndexChanged, this, &FramingPanel::ruleChosen);
    connect(m_c.Cherl, &QCheckBox::toggled, this, [this](bool on) {
        updateSnapshot();
        // Off: the photo is cut from the fixed guide again at once.
        if (!on && m_capture)
            m_capture->setCropRegion({});
        if (m_live)
            liveChanged(true);
    });
    connect(m_c.Cheqj, &QCheckBox::toggled, this, [this] {
        if (m_live)
            liveChanged(true);
    });
    // The crop size reaches the camera through "更改" and the restore; the
    // live checks follow the boxes.
    connect(m_c.Texg, &QLineEdit::textChanged, this, &FramingPanel::updateSnapshot);
    connect(m_c.Textk, &QLineEdit::textChanged, this, &FramingPanel::updateSnapshot);

    // The checks panel: seven short lines at the foot of the preview frame.
    m_panel = new QFrame(m_c.Frame2);
    m_panel->setObjectName(QStringLiteral("Frame6"));
    m_panel->setFrameShape(QFrame::StyledPanel);
    // Its own colours: the frame around it takes the operator's frame colour.
    QPalette plain = m_panel->palette();
    plain.setColor(QPalette::Window, QColor(248, 248, 248));
    plain.setColor(QPalette::WindowText, Qt::black);
    m_panel->setPalette(plain);
    m_panel->setAutoFillBackground(true);
    auto *grid = new QGridLayout(m_panel);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setSpacing(0);
    auto *title = new QLabel(QStringLiteral("取景检查"), m_panel);
    title->setObjectName(QStringLiteral("Labqj"));
    grid->addWidget(title, 0, 0);
    for (int i = 0; i < PanelLines; ++i) {
        auto *line = new QLabel(m_panel);
        line->setObjectName(QStringLiteral("Labqj%1").arg(i + 1));
        grid->addWidget(line, (i + 1) / 2, (i + 1) % 2);
        m_lines << line;
    }
    const int height = 4 * m_panel->fontMetrics().height() + 8;
    m_panel->setGeometry(4, m_c.Frame2->height() - height - 4, m_c.Frame2->width() - 8, height);
    m_panel->hide();

    updateSnapshot();
}

bool FramingPanel::ensureFinder()
{
    // Read when first needed: the window starts without the cascades' cost.
    if (m_finder)
        return m_finder->isReady();
    if (!m_finderError.isEmpty())
        return false;
    m_finder = loadFramingEngine(&m_finderError);
    if (m_finder && !m_finder->isReady())
        m_finderError = m_finder->error();
    if (!m_finderError.isEmpty()) {
        m_c.Cherl->setToolTip(m_finderError);
        return false;
    }
    return true;
}

bool FramingPanel::framingWanted() const
{
    return m_c.Cherl->isChecked() || m_c.Cheqj->isChecked();
}

void FramingPanel::inspectLive(bool on)
{
    FrameTap *tap = m_capture ? m_capture->frameTap() : nullptr;
    if (!tap)
        return;
    if (on && !m_tapId)
        m_tapId = tap->subscribe([this](const QImage &frame) { inspect(frame); });
    else if (!on && m_tapId) {
        tap->unsubscribe(m_tapId);
        m_tapId = 0;
    }
}

FramingPanel::~FramingPanel()
{
    // No frame is looked at after this, and none is being looked at.
    if (m_tapId && m_capture && m_capture->frameTap())
        m_capture->frameTap()->unsubscribe(m_tapId);
}

const IdRule &FramingPanel::rule() const
{
    return idRule(m_c.Comgg->currentIndex());
}

QString FramingPanel::finderError()
{
    ensureFinder();
    return m_finderError;
}

bool FramingPanel::askBeforeSaving() const
{
    return m_c.Cheqj->isChecked();
}

void FramingPanel::ruleChosen(int index)
{
    const IdRule &r = idRule(index);
    const bool custom = r.isCustom();
    for (QWidget *w : {static_cast<QWidget *>(m_c.Texg), static_cast<QWidget *>(m_c.Textk),
                       static_cast<QWidget *>(m_c.Command10)})
        w->setEnabled(custom);
    if (!custom) {
        m_c.Texg->setText(QString::number(r.pixels.height()));
        m_c.Textk->setText(QString::number(r.pixels.width()));
    }
    if (m_capture) {
        if (!custom) {
            m_capture->SetCropWidth(r.pixels.width());
            m_capture->SetCropHeight(r.pixels.height());
        }
        m_capture->setSaveDpi(r.dpi);
    }
    updateSnapshot();
}

void FramingPanel::reapplyRule()
{
    if (!rule().isCustom())
        ruleChosen(m_c.Comgg->currentIndex());
}

void FramingPanel::updateSnapshot()
{
    std::lock_guard lock(m_snapshotLock);
    m_snapshot.crop = QSize(m_c.Textk->text().toInt(), m_c.Texg->text().toInt());
    m_snapshot.rule = m_c.Comgg->currentIndex();
    m_snapshot.autoCentre = m_c.Cherl->isChecked();
}

void FramingPanel::inspect(const QImage &frame)
{
    // The tap's thread.
    Snapshot s;
    {
        std::lock_guard lock(m_snapshotLock);
        s = m_snapshot;
    }
    if (s.crop.isEmpty())
        return;
    const QList<FoundFace> faces = m_finder->find(frame, frame.width());
    FramingReport report = m_finder->assess(frame, faces, s.crop, idRule(s.rule), s.autoCentre);
    // Dropped if this panel is gone by the time the GUI thread gets to it.
    QMetaObject::invokeMethod(
        this, [this, report] { showLive(report); }, Qt::QueuedConnection);
}

void FramingPanel::showLive(const FramingReport &report)
{
    if (!m_showingLive)
        return;
    m_liveReport = report;
    showChecks(report);
    if (!m_capture || !m_c.Cherl->isChecked())
        return;
    // The detector's square wanders by a few pixels from frame to frame
    // on a face that holds still: the guide stays put for less than 2 % of
    // the picture, and moves when the face does.
    const QRectF &now = report.region, &was = m_guideRegion;
    const bool still =
        now.isValid() && was.isValid() && std::abs(now.center().x() - was.center().x()) < 0.02 &&
        std::abs(now.center().y() - was.center().y()) < 0.02 && std::abs(now.height() - was.height()) < 0.02;
    if (!still)
        m_guideRegion = now;
    m_capture->setCropRegion(m_guideRegion);
}

void FramingPanel::showChecks(const FramingReport &report)
{
    for (int i = 0; i < m_lines.size(); ++i) {
        const bool shown = i < report.checks.size();
        m_lines[i]->setText(shown ? lineOf(report.checks[i]) : QString());
        QPalette colours = m_lines[i]->palette();
        colours.setColor(QPalette::WindowText,
                         shown && !report.checks[i].pass ? QColor(190, 30, 30) : QColor(20, 120, 40));
        m_lines[i]->setPalette(colours);
    }
    if (m_capture)
        m_capture->setGuideState(report.allPass() ? CaptureControl::GuideState::Passing
                                                  : CaptureControl::GuideState::Failing);
}

QStringList FramingPanel::panelLines() const
{
    QStringList lines;
    for (const QLabel *l : m_lines)
        lines << l->text();
    return lines;
}

void FramingPanel::liveChanged(bool live)
{
    m_live = live;
    // Faces are looked for only while the operator uses the framing: with
    // both boxes off the camera costs what it did without it.
    m_showingLive = live && framingWanted() && ensureFinder();
    inspectLive(m_showingLive);
    m_panel->setVisible(m_showingLive);
    m_panel->raise();
    if (!live && m_capture) {
        // A still held keeps where it is cut from; only the guide's colour goes.
        m_capture->setGuideState(CaptureControl::GuideState::Plain);
    }
    if (live) {
        m_stillFailed.clear();
        for (QLabel *l : m_lines)
            l->clear();
    }
}

QString FramingPanel::frameStill()
{
    m_guideRegion = QRectF();
    // The live picture no longer moves the guide: the still's framing holds.
    m_showingLive = false;
    m_live = false;
    inspectLive(false);
    m_stillFailed.clear();
    if (!m_capture)
        return {};
    if (!framingWanted()) {
        m_capture->setCropRegion({});
        return {};
    }
    const bool autoCentre = m_c.Cherl->isChecked();
    if (!ensureFinder()) {
        m_capture->setCropRegion({});
        return autoCentre ? m_finderError : QString();
    }
    const QImage still = m_capture->stillImage();
    const QSize crop(m_capture->CropWidth(), m_capture->CropHeight());
    if (still.isNull() || crop.isEmpty()) {
        m_capture->setCropRegion({});
        return {};
    }
    // Once a take, on the still at its full size brought to 480 pixels wide.
    const FramingReport report = m_finder->assess(still, m_finder->find(still), crop, rule(), autoCentre);
    m_capture->setCropRegion(report.region);
    showChecks(report);
    m_stillFailed = report.failed();
    QStringList said;
    if (!report.fallbackReason.isEmpty())
        said << report.fallbackReason;
    if (!m_stillFailed.isEmpty())
        said << QStringLiteral("取景检查未通过：") + m_stillFailed.join(QStringLiteral("、"));
    return said.join(QStringLiteral("；"));
}

QStringList FramingPanel::settingsKeys()
{
    return {RuleKey, AutoCentreKey, AskKey};
}

void FramingPanel::save() const
{
    SettingsStore::save(RuleKey, QString::number(m_c.Comgg->currentIndex()));
    SettingsStore::save(AutoCentreKey, m_c.Cherl->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    SettingsStore::save(AskKey, m_c.Cheqj->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void FramingPanel::restore()
{
    bool ok = false;
    const int index = SettingsStore::get(RuleKey, QStringLiteral("0")).toInt(&ok);
    if (ok && index >= 0 && index < m_c.Comgg->count())
        m_c.Comgg->setCurrentIndex(index);
    m_c.Cherl->setChecked(SettingsStore::get(AutoCentreKey, QStringLiteral("0")) == QLatin1String("1"));
    m_c.Cheqj->setChecked(SettingsStore::get(AskKey, QStringLiteral("0")) == QLatin1String("1"));
}
