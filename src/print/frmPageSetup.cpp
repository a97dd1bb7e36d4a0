#include "print/frmPageSetup.h"

#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "naming/NumericText.h"
#include "print/ValueListBox.h"
#include "ui_frmPageSetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <variant>

namespace {

// How a page-setup field is shown, and so which control shows it.
enum class FieldKind {
    Zoom,       // a ValueListBox of percentages, written back whole
    TitleCount, // a ValueListBox of counts, written back whole
    Margin,     // a ValueListBox of centimetres
    Check,      // a QCheckBox
    Text,       // a QLineEdit's text
    Font,       // a QLineEdit's font
    Choice,     // a QComboBox's position
};

using FieldMember = std::variant<qint32 PageSetup::*, float PageSetup::*, bool PageSetup::*,
                                 QString PageSetup::*, PrintFont PageSetup::*>;

// One page-setup field and the control (by its object name in
// frmPageSetup.ui) that shows it.
struct PageField
{
    FieldMember member;
    const char *control;
    FieldKind kind;
};

using K = FieldKind;

// Every field the window loads and writes back, in the order "确定" writes
// them after the orientation and the paper (which are not in the table: the
// paper may be refused, and the fields after it are then left alone).
constexpr std::array<PageField, 22> kFields{{
    {&PageSetup::Zoom, "txtZoom", K::Zoom},
    {&PageSetup::PrintTitleRows, "txtPrintTitleRows", K::TitleCount},
    {&PageSetup::PrintTitleColumns, "txtPrintTitleColumns", K::TitleCount},
    {&PageSetup::PrintBottomTitleRows, "txtPrintBottomTitleRows", K::TitleCount},
    {&PageSetup::PrintFixedRow, "chkPrintFixedRow", K::Check},
    {&PageSetup::PrintFixedColumn, "chkPrintFixedColumn", K::Check},
    {&PageSetup::PrintGridlines, "chkPrintGridlines", K::Check},
    {&PageSetup::BlackAndWhite, "chkBlackAndWhite", K::Check},
    {&PageSetup::CenterHorizontally, "chkCenterHorizontally", K::Check},
    {&PageSetup::CenterVertically, "chkCenterVertically", K::Check},
    {&PageSetup::LeftMargin, "txtLeftMargin", K::Margin},
    {&PageSetup::RightMargin, "txtRightMargin", K::Margin},
    {&PageSetup::TopMargin, "txtTopMargin", K::Margin},
    {&PageSetup::BottomMargin, "txtBottomMargin", K::Margin},
    {&PageSetup::HeaderMargin, "txtHeaderMargin", K::Margin},
    {&PageSetup::FooterMargin, "txtFooterMargin", K::Margin},
    {&PageSetup::Header, "txtHeader", K::Text},
    {&PageSetup::HeaderAlignment, "cboHeaderAlign", K::Choice},
    {&PageSetup::HeaderFont, "txtHeader", K::Font},
    {&PageSetup::Footer, "txtFooter", K::Text},
    {&PageSetup::FooterAlignment, "cboFooterAlign", K::Choice},
    {&PageSetup::FooterFont, "txtFooter", K::Font},
}};

// The member type each kind keeps (its place in FieldMember).
constexpr std::size_t memberIndex(FieldKind kind)
{
    switch (kind) {
    case K::Zoom:
    case K::TitleCount:
    case K::Choice: return 0;
    case K::Margin: return 1;
    case K::Check: return 2;
    case K::Text: return 3;
    case K::Font: return 4;
    }
    return std::variant_npos;
}
static_assert(std::ranges::all_of(kFields,
                                  [](const PageField &f) { return f.member.index() == memberIndex(f.kind); }),
              "a page-setup field's member does not have the type its kind shows");

const char *controlClass(FieldKind kind)
{
    switch (kind) {
    case K::Zoom:
    case K::TitleCount:
    case K::Margin: return "ValueListBox";
    case K::Check: return "QCheckBox";
    case K::Text:
    case K::Font: return "QLineEdit";
    case K::Choice: return "QComboBox";
    }
    return "";
}

template <class T> T PageSetup::*memberOf(const PageField &field)
{
    return std::get<T PageSetup::*>(field.member);
}

void loadField(const PageField &field, const PageSetup &s, QWidget *control)
{
    switch (field.kind) {
    case K::Zoom:
    case K::TitleCount:
        SelectListValue(*static_cast<ValueListBox *>(control), s.*memberOf<qint32>(field),
                        field.kind == K::Zoom ? ValueListKind::Zoom : ValueListKind::TitleCount);
        break;
    case K::Margin:
        SelectListValue(*static_cast<ValueListBox *>(control), double(s.*memberOf<float>(field)),
                        ValueListKind::Margin);
        break;
    case K::Check: static_cast<QCheckBox *>(control)->setChecked(s.*memberOf<bool>(field)); break;
    case K::Text: static_cast<QLineEdit *>(control)->setText(s.*memberOf<QString>(field)); break;
    case K::Font: control->setFont((s.*memberOf<PrintFont>(field)).toQFont()); break;
    case K::Choice: static_cast<QComboBox *>(control)->setCurrentIndex(s.*memberOf<qint32>(field)); break;
    }
}

void storeField(const PageField &field, PageSetup &s, const QWidget *control)
{
    const auto listValue = [control] {
        return numericValue(CurrentListValue(*static_cast<const ValueListBox *>(control)));
    };
    switch (field.kind) {
    case K::Zoom:
    case K::TitleCount: s.*memberOf<qint32>(field) = qint32(std::lround(listValue())); break;
    case K::Margin: s.*memberOf<float>(field) = float(listValue()); break;
    case K::Check: s.*memberOf<bool>(field) = static_cast<const QCheckBox *>(control)->isChecked(); break;
    case K::Text: s.*memberOf<QString>(field) = static_cast<const QLineEdit *>(control)->text(); break;
    case K::Font: s.*memberOf<PrintFont>(field) = PrintFont::fromQFont(control->font()); break;
    case K::Choice:
        s.*memberOf<qint32>(field) = static_cast<const QComboBox *>(control)->currentIndex();
        break;
    }
}

// Plain decimal text of a length: 21 -> "21", 29.7f -> "29.7".
QString plainText(float value)
{
    return QString::number(double(value), 'g', 7);
}

// A sheet of paper with lines of text, upright or on its side.
QPixmap orientationPicture(bool landscape)
{
    const QSize size = landscape ? QSize(40, 30) : QSize(30, 40);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(QRect(QPoint(0, 0), size - QSize(1, 1)));
    p.setPen(QColor(96, 96, 96));
    for (int y = 6; y < size.height() - 4; y += 5)
        p.drawLine(5, y, size.width() - 6, y);
    return pixmap;
}

// The small grid drawn inside the page diagram.
QPixmap gridPicture()
{
    QPixmap pixmap(48, 36);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setPen(QColor(64, 64, 64));
    for (int x = 0; x < 48; x += 12)
        p.drawLine(x, 0, x, 35);
    for (int y = 0; y < 36; y += 9)
        p.drawLine(0, y, 47, y);
    p.drawRect(0, 0, 47, 35);
    return pixmap;
}

// A guide line of the diagram away from the focus.
const QColor kGuideGrey(192, 192, 192);

void paintBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

} // namespace

frmPageSetup::frmPageSetup(DialogService *dialogs, MessageService *messages, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::frmPageSetup>())
    , m_dialogs(dialogs)
    , m_messages(messages)
{
    Ui::frmPageSetup *ui = m_ui.get();
    ui->setupUi(this);
    // The tabs share the window's width, as a row of file-card tabs does.
    QTabBar *tabs = ui->tabPages->tabBar();
    tabs->setObjectName(QStringLiteral("TabStrip1"));
    tabs->setExpanding(true);

    for (const PageField &field : kFields) {
        auto *control = findChild<QWidget *>(QLatin1String(field.control));
        if (!control || !control->inherits(controlClass(field.kind)))
            qFatal("frmPageSetup.ui has no %s named %s", controlClass(field.kind), field.control);
        m_fieldControls << control;
    }

    ui->imgPortrait->setPixmap(orientationPicture(false));
    ui->imgLandscape->setPixmap(orientationPicture(true));
    for (QLineEdit *box : {ui->txtPaperWidth, ui->txtPaperHeight})
        box->installEventFilter(this);
    connect(ui->cboPaperSize, &QComboBox::currentIndexChanged, this, &frmPageSetup::paperChosen);

    ui->txtZoom->setLines(ZoomLines());
    for (ValueListBox *box : {ui->txtPrintTitleRows, ui->txtPrintTitleColumns, ui->txtPrintBottomTitleRows})
        box->setLines(TitleCountLines());

    // The page diagram: a sheet with six guide lines and the grid picture.
    paintBackground(ui->fraDiagram, Qt::white);
    const QList<std::pair<ValueListBox *, QFrame *>> guides = {
        {ui->txtTopMargin, ui->lineTop},       {ui->txtBottomMargin, ui->lineBottom},
        {ui->txtLeftMargin, ui->lineLeft},     {ui->txtRightMargin, ui->lineRight},
        {ui->txtHeaderMargin, ui->lineHeader}, {ui->txtFooterMargin, ui->lineFooter}};
    for (const auto &[box, guide] : guides) {
        QFrame *g = guide;
        box->setLines(MarginLines());
        paintBackground(g, kGuideGrey);
        connect(box, &ValueListBox::focusEntered, this, [g] { paintBackground(g, Qt::black); });
        connect(box, &ValueListBox::focusLeft, this, [g] { paintBackground(g, kGuideGrey); });
    }
    ui->imgGrid->setPixmap(gridPicture());
    ui->imgGrid->resize(ui->imgGrid->pixmap().size());
    connect(ui->chkCenterHorizontally, &QCheckBox::toggled, this, &frmPageSetup::placeDiagramPicture);
    connect(ui->chkCenterVertically, &QCheckBox::toggled, this, &frmPageSetup::placeDiagramPicture);
    placeDiagramPicture();

    for (auto [box, align, font] : {std::tuple{ui->txtHeader, ui->cboHeaderAlign, ui->cmdSetFont_0},
                                    std::tuple{ui->txtFooter, ui->cboFooterAlign, ui->cmdSetFont_1}}) {
        QLineEdit *b = box;
        connect(align, &QComboBox::currentIndexChanged, b, [b](int index) {
            b->setAlignment((index == 2   ? Qt::AlignRight
                             : index == 1 ? Qt::AlignHCenter
                                          : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        });
        connect(font, &QPushButton::clicked, this, [this, b] { setFontFor(b); });
    }

    connect(ui->mnn, &QPushButton::clicked, this, &frmPageSetup::writeBack);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

frmPageSetup::~frmPageSetup() = default;

void frmPageSetup::SetGrid(PageSetup &setup)
{
    Ui::frmPageSetup *ui = m_ui.get();
    m_setup = &setup;
    (setup.Orientation == 1 ? ui->optPortrait : ui->optLandscape)->setChecked(true);

    setup.refreshPaperSizes();
    QComboBox *paper = ui->cboPaperSize;
    {
        const QSignalBlocker block(paper);
        paper->clear();
        for (const PaperSizeEntry &entry : setup.PaperSizes)
            paper->addItem(entry.Name);
        paper->setCurrentIndex(-1);
    }
    int position = int(setup.PaperSizes.size()) - 1;
    for (int i = 0; i < setup.PaperSizes.size(); ++i) {
        if (setup.PaperSizes.at(i).Width == setup.PaperWidth &&
            setup.PaperSizes.at(i).Height == setup.PaperHeight) {
            position = i;
            break;
        }
    }
    paper->setCurrentIndex(position);
    if (position == paper->count() - 1) {
        ui->txtPaperWidth->setText(plainText(setup.PaperWidth));
        ui->txtPaperHeight->setText(plainText(setup.PaperHeight));
    }

    for (std::size_t i = 0; i < kFields.size(); ++i)
        loadField(kFields[i], setup, m_fieldControls.at(qsizetype(i)));
    placeDiagramPicture();
}

void frmPageSetup::paperChosen(int position)
{
    Ui::frmPageSetup *ui = m_ui.get();
    const bool custom = position == ui->cboPaperSize->count() - 1;
    if (custom && m_setup) {
        ui->txtPaperWidth->setText(plainText(m_setup->PaperWidth));
        ui->txtPaperHeight->setText(plainText(m_setup->PaperHeight));
    }
    for (QWidget *w : std::initializer_list<QWidget *>{ui->txtPaperWidth, ui->txtPaperHeight,
                                                       ui->lblPaperWidth, ui->lblPaperHeight})
        w->setVisible(custom);
}

void frmPageSetup::placeDiagramPicture()
{
    Ui::frmPageSetup *ui = m_ui.get();
    QLabel *picture = ui->imgGrid;
    const int left = ui->lineLeft->x();
    const int top = ui->lineTop->y();
    const int x = ui->chkCenterHorizontally->isChecked()
                      ? left + (ui->lineRight->x() - left - picture->width()) / 2
                      : left;
    const int y = ui->chkCenterVertically->isChecked()
                      ? top + (ui->lineBottom->y() - top - picture->height()) / 2
                      : top;
    picture->move(x, y);
}

bool frmPageSetup::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (box && (box == m_ui->txtPaperWidth || box == m_ui->txtPaperHeight)) {
        if (event->type() == QEvent::FocusIn) {
            // After the click that brought the focus has placed the cursor.
            QTimer::singleShot(0, box, &QLineEdit::selectAll);
        } else if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const QString text = key->text();
            // Keys that type nothing (arrows, Tab, Enter) keep their meaning.
            if (key->key() == Qt::Key_Backspace || text.isEmpty() || !text.at(0).isPrint())
                return false;
            const QChar c = text.at(0);
            const bool digit = text.size() == 1 && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            const bool point = text == QLatin1String(".") && !box->text().contains(QLatin1Char('.'));
            return !(digit || point);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmPageSetup::setFontFor(QLineEdit *box)
{
    if (!m_dialogs)
        return;
    const std::optional<DialogService::FontChoice> choice =
        m_dialogs->font(this, box->font(), Qt::black, false);
    if (!choice || choice->font.family().trimmed().isEmpty())
        return;
    QFont font = box->font();
    font.setBold(choice->font.bold());
    font.setItalic(choice->font.italic());
    font.setUnderline(choice->font.underline());
    font.setStrikeOut(choice->font.strikeOut());
    if (choice->font.pointSizeF() > 0)
        font.setPointSizeF(choice->font.pointSizeF());
    font.setFamilies({choice->font.family()});
    box->setFont(font);
}

void frmPageSetup::writeBack()
{
    if (!m_setup) {
        accept();
        return;
    }
    Ui::frmPageSetup *ui = m_ui.get();
    PageSetup &s = *m_setup;
    s.Orientation = ui->optPortrait->isChecked() ? 1 : 2;

    const int position = ui->cboPaperSize->currentIndex();
    QString refused;
    if (position + 1 == ui->cboPaperSize->count() || position < 0 || position >= s.PaperSizes.size())
        refused = s.setPaperSize(float(numericValue(ui->txtPaperWidth->text())),
                                 float(numericValue(ui->txtPaperHeight->text())));
    else
        refused = s.setPaperSize(s.PaperSizes.at(position).Width, s.PaperSizes.at(position).Height);
    if (!refused.isEmpty()) {
        if (m_messages)
            m_messages->showMessage(this, refused, QStringLiteral("错误"), MessageService::Icon::Critical);
        return;
    }

    for (std::size_t i = 0; i < kFields.size(); ++i)
        storeField(kFields[i], s, m_fieldControls.at(qsizetype(i)));

    m_setup = nullptr;
    accept();
}
