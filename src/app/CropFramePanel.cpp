#include "app/CropFramePanel.h"

#include "app/LeaveCheck.h"
#include "app/PictureChecks.h"
#include "app/PreviewPanel.h"
#include "app/SettingsBinding.h"
#include "app/SettingsStore.h"
#include "app/WindowLayout.h"
#include "capture/CaptureControl.h"
#include "capture/StillWriter.h"
#include "dialogs/MessageService.h"

#include <QAction>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

CropFramePanel::CropFramePanel(const Controls &controls, CaptureControl *capture, PreviewPanel &preview,
                               MessageService *messages, DialogService *dialogs,
                               std::function<QWidget *()> video, std::function<void()> relayout,
                               QObject *parent)
    : QObject(parent)
    , m_c(controls)
    , m_capture(capture)
    , m_preview(preview)
    , m_messages(messages)
    , m_colourDialog(dialogs)
    , m_video(std::move(video))
    , m_relayout(std::move(relayout))
{
    m_colourDialog.Init(m_c.window);
    auto digitsOnly = [this](const QString &reset) {
        return [this, reset](const QString &text) {
            const BoxCheck check = DigitsOnlyCheck(text);
            for (const QString &message : check.messages)
                m_messages->show(m_c.window, message);
            return check.reset ? reset : QString();
        };
    };
    new LeaveCheck(m_c.Texg, digitsOnly(QStringLiteral("200")));
    new LeaveCheck(m_c.Textk, digitsOnly(QStringLiteral("150")));
    connect(m_c.Command10, &QPushButton::clicked, this, &CropFramePanel::changeCrop);
    connect(m_c.Command12, &QPushButton::clicked, this, &CropFramePanel::setbj);
    connect(m_c.Comsc, &QPushButton::clicked, this, &CropFramePanel::lastSize);
    connect(m_c.bgcolor, &QAction::triggered, this, &CropFramePanel::chooseFrameColour);
}

void CropFramePanel::startUp(QSize video)
{
    m_c.Tebg->setText(QString::number(video.height()));
    m_c.Tebk->setText(QString::number(video.width()));
    m_appliedHeight = m_c.Tebg->text();
    m_appliedWidth = m_c.Tebk->text();
}

void CropFramePanel::refuse(const QString &text, QLineEdit *box)
{
    m_messages->show(m_c.window, text);
    box->setFocus(Qt::OtherFocusReason);
}

void CropFramePanel::changeCrop()
{
    if (!CropSizeAccepted(m_c.Texg->text(), m_c.Textk->text())) {
        m_messages->show(m_c.window, PictureText::CropTooSmall);
        m_c.Texg->setText(QStringLiteral("200"));
        m_c.Textk->setText(QStringLiteral("150"));
        return;
    }
    qint32 width = 0;
    qint32 height = 0;
    if (!SettingsBinding::wholeNumber(m_c.Textk->text(), width) ||
        !SettingsBinding::wholeNumber(m_c.Texg->text(), height)) {
        emit status(
            QStringLiteral("照片裁剪尺寸未更改：“%1 × %2”不是整数").arg(m_c.Textk->text(), m_c.Texg->text()));
        return;
    }
    if (!m_capture) {
        emit status(QStringLiteral("照片裁剪尺寸未更改：没有摄像头组件"));
        return;
    }
    m_capture->SetCropWidth(width);
    m_capture->SetCropHeight(height);
    // There is no upper bound, but the still writer has one: say so now
    // rather than at the first save.
    if (width > StillWriter::MaxSide || height > StillWriter::MaxSide)
        emit status(QStringLiteral("照片裁剪尺寸 %1 × %2 过大，照片将无法保存（最大 %3）")
                        .arg(width)
                        .arg(height)
                        .arg(StillWriter::MaxSide));
}

bool CropFramePanel::setbj()
{
    const QString refusal = BackgroundSizeRefusal(m_c.Tebg->text(), m_c.Tebk->text());
    if (!refusal.isEmpty()) {
        refuse(refusal, refusal == PictureText::HeightOut ? m_c.Tebg : m_c.Tebk);
        return false;
    }
    // Whole pixels on both sides, so that fractions never add up to a drift.
    const int dy = WholePixels(m_c.Tebg->text()) - WholePixels(m_appliedHeight);
    const int dx = WholePixels(m_c.Tebk->text()) - WholePixels(m_appliedWidth);
    m_appliedHeight = m_c.Tebg->text();
    m_appliedWidth = m_c.Tebk->text();
    if (dx != 0 || dy != 0)
        resizeParts(dx, dy);
    return true;
}

void CropFramePanel::resizeParts(int dx, int dy)
{
    QMainWindow *window = m_c.window;
    const QSize wanted = window->size() + QSize(dx, dy);
    for (QWidget *beside : {m_c.Frame3, m_c.Frame2})
        beside->setGeometry(beside->x() + dx, beside->y(), beside->width(), beside->height() + dy);
    if (QWidget *video = m_video()) {
        const QSize size = video->size() + QSize(dx, dy);
        if (m_capture)
            m_capture->setWindowSize(size);
        video->resize(size);
    }
    // The tabs, the grid frame, the grid and the path line follow the top row.
    m_relayout();
    fitWindowOnScreen(wanted);
}

void CropFramePanel::fitWindowOnScreen(QSize wanted)
{
    QMainWindow *window = m_c.window;
    // The parts' new minimum must bind before the window is resized: a
    // window that shrinks would otherwise keep its old minimum.
    if (window->layout())
        window->layout()->activate();
    wanted = wanted.expandedTo(window->minimumSizeHint());
    const QSize decoration = window->frameGeometry().size() - window->size();
    QRect frame(window->frameGeometry().topLeft(), wanted + decoration);
    if (const QScreen *screen = window->screen()) {
        const QRect available = screen->availableGeometry();
        QRect fitted = FitWithin(frame, available);
        // Where the parts scroll one way, the scroll bar takes room the
        // other way: give it that room when the screen has it.
        const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
        const QSize more(fitted.height() < frame.height() ? bar : 0,
                         fitted.width() < frame.width() ? bar : 0);
        frame = more.isNull() ? fitted : FitWithin(QRect(frame.topLeft(), frame.size() + more), available);
    }
    window->resize(frame.size() - decoration);
    if (window->isVisible() && frame.topLeft() != window->frameGeometry().topLeft())
        window->move(frame.topLeft());
}

void CropFramePanel::lastSize()
{
    const QString height = SettingsStore::get(QStringLiteral("bjtexg"), QStringLiteral("0"));
    const QString width = SettingsStore::get(QStringLiteral("bjtexk"), QStringLiteral("0"));
    if (!LastSizeUsable(height, width)) {
        refuse(PictureText::NoLastSize, m_c.Tebg);
        return;
    }
    m_c.Tebg->setText(height);
    m_c.Tebk->setText(width);
    setbj();
}

void CropFramePanel::chooseFrameColour()
{
    // The dialog starts from the colour the frame shows; a cancelled dialog
    // leaves that colour, which is applied and stored like a chosen one.
    m_colourDialog.SetColor(m_preview.frameColour());
    m_colourDialog.ShowColor(true);
    m_preview.setFrameColour(m_colourDialog.Color());
    if (!SettingsStore::save(QStringLiteral("biakuang"), QString::number(m_preview.frameColour())))
        emit status(QStringLiteral("相框颜色未能保存到设置中"));
}
