#include "app/CaptionPanel.h"

#include "app/LeaveCheck.h"
#include "app/PictureChecks.h"
#include "capture/CaptureControl.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "dialogs/PackedColour.h"
#include "naming/NamingState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {
void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void setPointSize(QLabel *label, double points)
{
    QFont font = label->font();
    font.setPointSizeF(points);
    label->setFont(font);
}
} // namespace

CaptionPanel::CaptionPanel(const Controls &controls, const TableGrid &grid, const RosterModel &roster,
                           const RosterCursor &cursor, const NamingState &naming, CaptureControl *capture,
                           MessageService *messages, DialogService *dialogs, QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_roster(roster)
    , m_cursor(cursor)
    , m_naming(naming)
    , m_capture(capture)
    , m_messages(messages)
    , m_dialogs(dialogs)
    , m_window(window)
{
    // A typed source must not become a fourth entry of the list.
    m_c.Comtext->setInsertPolicy(QComboBox::NoInsert);

    connect(m_c.Check1, &QCheckBox::toggled, this, [this](bool on) {
        m_c.Frame5->setVisible(on);
        refresh();
    });
    connect(m_c.Comtext, &QComboBox::currentIndexChanged, this, &CaptionPanel::sourceChosen);
    if (m_c.Comtext->lineEdit())
        connect(m_c.Comtext->lineEdit(), &QLineEdit::textEdited, this, &CaptionPanel::sourceTyped);
    for (QComboBox *column : {m_c.Comt1, m_c.Comt2})
        connect(column, &QComboBox::currentIndexChanged, this, [this] {
            showSample(sourceText(TableColumns));
            refresh();
        });
    connect(m_c.Cheta, &QCheckBox::stateChanged, this, [this](int state) {
        m_c.Comt2->setEnabled(state != Qt::Unchecked);
        refresh();
    });
    connect(m_c.Textt, &QLineEdit::textChanged, this, [this](const QString &text) {
        showSample(text);
        refresh();
    });
    connect(m_c.Command11, &QPushButton::clicked, this, &CaptionPanel::chooseFont);

    new LeaveCheck(m_c.Texleft, [this](const QString &text) { return positionCheck(text, m_c.Textk); });
    new LeaveCheck(m_c.Textop, [this](const QString &text) { return positionCheck(text, m_c.Texg); });

    // What else the line depends on: its place, the row, the photo's name.
    for (QLineEdit *box : {m_c.Texleft, m_c.Textop, m_c.Text2})
        connect(box, &QLineEdit::textChanged, this, &CaptionPanel::refresh);
    connect(&grid, &TableGrid::rowChanged, this, &CaptionPanel::refresh);
    connect(&grid, &TableGrid::cellClicked, this, &CaptionPanel::refresh);
    connect(m_c.Option1, &QRadioButton::toggled, this, &CaptionPanel::refresh);
}

QString CaptionPanel::positionCheck(const QString &text, const QLineEdit *cropSide)
{
    const BoxCheck check = CaptionPositionCheck(text, cropSide->text());
    for (const QString &message : check.messages)
        m_messages->show(m_window, message);
    return check.reset ? QStringLiteral("10") : QString();
}

int CaptionPanel::source() const
{
    const int index = m_c.Comtext->currentIndex();
    if (index < 0 || m_c.Comtext->currentText() != m_c.Comtext->itemText(index))
        return -1;
    return index;
}

QString CaptionPanel::sourceText(int source) const
{
    switch (source) {
    case PhotoName: return m_naming.photoName;
    case TableColumns: {
        // Without a table the columns name no cells.
        if (!m_c.Option1->isChecked() || m_c.Cheta->checkState() == Qt::PartiallyChecked)
            return {};
        const int row = m_cursor.currentRow();
        auto cell = [&](const QComboBox *column) {
            const int index = column->currentIndex();
            return index < 0 ? QString() : m_roster.cellText(row, index + 1);
        };
        QString text = cell(m_c.Comt1);
        if (m_c.Cheta->checkState() == Qt::Checked)
            text += cell(m_c.Comt2);
        return text;
    }
    case TypedText: return m_c.Textt->text();
    }
    return {};
}

Caption CaptionPanel::caption() const
{
    if (!m_c.Check1->isChecked())
        return {};
    Caption c;
    c.text = sourceText(source());
    c.offset = QPoint(WholePixels(m_c.Texleft->text()), WholePixels(m_c.Textop->text()));
    c.pointSize = fontSize();
    c.colour = PackedColour(m_colour);
    return c;
}

void CaptionPanel::refresh()
{
    const Caption now = caption();
    if (!m_capture || now == m_sent)
        return;
    m_sent = now;
    m_capture->SetCaption(now);
}

void CaptionPanel::sourceChosen(int index)
{
    const bool columns = index == TableColumns;
    const bool typed = index == TypedText;
    m_c.Textt->setVisible(typed);
    for (QWidget *w : {static_cast<QWidget *>(m_c.Comt1), static_cast<QWidget *>(m_c.Comt2),
                       static_cast<QWidget *>(m_c.Cheta)})
        w->setVisible(columns);
    if (index == PhotoName)
        showSample(sourceText(PhotoName));
    refresh();
}

void CaptionPanel::sourceTyped()
{
    for (QWidget *w : {static_cast<QWidget *>(m_c.Textt), static_cast<QWidget *>(m_c.Comt1),
                       static_cast<QWidget *>(m_c.Comt2), static_cast<QWidget *>(m_c.Cheta)})
        w->hide();
    refresh();
}

void CaptionPanel::showSample(const QString &text)
{
    m_c.Labet->setText(text);
}

void CaptionPanel::chooseFont()
{
    const std::optional<DialogService::FontChoice> chosen =
        m_dialogs->font(m_window, m_c.fLabel->font(), PackedColour(m_colour), true);
    // A cancelled dialog changes nothing.
    if (!chosen)
        return;
    const double points = chosen->font.pointSizeF();
    if (points > 0) {
        m_c.fLabel->setText(QStringLiteral("字体：") + m_c.fLabel->font().family() +
                            QStringLiteral(" 大小：") + QString::number(points));
        setFontSize(points);
        setPointSize(m_c.Labet, points);
    }
    setColour(PackColour(chosen->color));
    setTextColour(m_c.Labet, chosen->color);
    refresh();
}

double CaptionPanel::fontSize() const
{
    return m_c.fLabel->font().pointSizeF();
}

void CaptionPanel::setFontSize(double points)
{
    setPointSize(m_c.fLabel, points);
    refresh();
}

void CaptionPanel::setColour(int packed)
{
    m_colour = packed;
    setTextColour(m_c.fLabel, PackedColour(packed));
    refresh();
}
