#include "print/frmPageSetup.h"

#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "naming/NumericText.h"
#include "print/ValueListBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Plain decimal text of a length: 21 -> "21", 29.7f -> "29.7".
QString plainText(float value)
{
    return QString::number(double(value), 'g', 7);
}

template <class T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel *buddyLabel(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
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

void paintLine(QFrame *line, const QColor &colour)
{
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
}

} // namespace

frmPageSetup::frmPageSetup(DialogService *dialogs, MessageService *messages, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_messages(messages)
{
    setObjectName(QStringLiteral("frmPageSetup"));
    setWindowTitle(QStringLiteral("页面设置"));
    setModal(true);

    m_tabs = named(new QTabBar, "TabStrip1");
    m_tabs->addTab(QStringLiteral(" 页面 "));
    m_tabs->addTab(QStringLiteral(" 页边距 "));
    m_tabs->addTab(QStringLiteral("页眉/页脚"));
    m_tabs->setDrawBase(true);

    auto *panels = new QWidget;
    auto *stack = new QGridLayout(panels);
    stack->setContentsMargins(0, 0, 0, 0);
    m_panels = {buildPaperPanel(), buildMarginPanel(), buildHeaderFooterPanel()};
    for (QWidget *panel : m_panels)
        stack->addWidget(panel, 0, 0);

    auto *ok = named(new QPushButton(QStringLiteral("确定")), "mnn");
    auto *cancel = named(new QPushButton(QStringLiteral("取消")), "cmdCancel");
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &frmPageSetup::writeBack);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(panels, 1);
    layout->addLayout(buttons);
    connect(m_tabs, &QTabBar::currentChanged, this, &frmPageSetup::showPanel);
    showPanel(0);
}

ValueListBox *frmPageSetup::valueList(const char *name, const QStringList &lines)
{
    auto *box = named(new ValueListBox, name);
    box->setLines(lines);
    box->setMinimumWidth(70);
    return box;
}

QWidget *frmPageSetup::buildPaperPanel()
{
    auto *panel = named(new QWidget, "fraPaper");
    auto *grid = new QGridLayout(panel);

    auto *orientation = new QGroupBox(QStringLiteral("方向"));
    auto *o = new QGridLayout(orientation);
    m_portrait = named(new QRadioButton(QStringLiteral("纵向(&T)")), "optPortrait");
    m_landscape = named(new QRadioButton(QStringLiteral("横向(&L)")), "optLandscape");
    auto *portraitPicture = named(new QLabel, "imgPortrait");
    portraitPicture->setPixmap(orientationPicture(false));
    auto *landscapePicture = named(new QLabel, "imgLandscape");
    landscapePicture->setPixmap(orientationPicture(true));
    o->addWidget(portraitPicture, 0, 0);
    o->addWidget(m_portrait, 0, 1);
    o->addWidget(landscapePicture, 1, 0);
    o->addWidget(m_landscape, 1, 1);
    grid->addWidget(orientation, 0, 0);

    auto *paper = new QGroupBox(QStringLiteral("纸张"));
    auto *p = new QGridLayout(paper);
    m_paper = named(new QComboBox, "cboPaperSize");
    m_paper->setMaxVisibleItems(20);
    m_width = named(new QLineEdit, "txtPaperWidth");
    m_height = named(new QLineEdit, "txtPaperHeight");
    m_widthLabel = buddyLabel(QStringLiteral("宽度(&W):"), m_width);
    m_heightLabel = buddyLabel(QStringLiteral("高度(&H):"), m_height);
    for (QLineEdit *box : {m_width, m_height})
        box->installEventFilter(this);
    p->addWidget(buddyLabel(QStringLiteral("大小(&S):"), m_paper), 0, 0);
    p->addWidget(m_paper, 0, 1, 1, 3);
    p->addWidget(m_widthLabel, 1, 0);
    p->addWidget(m_width, 1, 1);
    p->addWidget(m_heightLabel, 1, 2);
    p->addWidget(m_height, 1, 3);
    grid->addWidget(paper, 0, 1);
    connect(m_paper, &QComboBox::currentIndexChanged, this, &frmPageSetup::paperChosen);

    auto *zoom = new QGroupBox(QStringLiteral("缩放"));
    auto *z = new QHBoxLayout(zoom);
    m_zoom = valueList("txtZoom", ZoomLines());
    z->addWidget(buddyLabel(QStringLiteral("缩放比例(&Z):"), m_zoom));
    z->addWidget(m_zoom);
    z->addWidget(new QLabel(QStringLiteral("% 正常尺寸")));
    z->addStretch(1);
    grid->addWidget(zoom, 1, 0, 1, 2);

    auto *content = new QGroupBox(QStringLiteral("内容"));
    auto *c = new QVBoxLayout(content);
    m_fixedRow = named(new QCheckBox(QStringLiteral("打印固定行(&R)")), "chkPrintFixedRow");
    m_fixedColumn = named(new QCheckBox(QStringLiteral("打印固定列(&C)")), "chkPrintFixedColumn");
    m_gridlines = named(new QCheckBox(QStringLiteral("打印网格线(&G)")), "chkPrintGridlines");
    m_blackAndWhite = named(new QCheckBox(QStringLiteral("单色打印(&W)")), "chkBlackAndWhite");
    for (QCheckBox *box : {m_fixedRow, m_fixedColumn, m_gridlines, m_blackAndWhite})
        c->addWidget(box);
    grid->addWidget(content, 2, 0);

    auto *titles = new QGroupBox(QStringLiteral("标题"));
    auto *t = new QGridLayout(titles);
    m_titleRows = valueList("txtPrintTitleRows", TitleCountLines());
    m_titleColumns = valueList("txtPrintTitleColumns", TitleCountLines());
    m_bottomTitleRows = valueList("txtPrintBottomTitleRows", TitleCountLines());
    t->addWidget(buddyLabel(QStringLiteral("标题行数(&I):"), m_titleRows), 0, 0);
    t->addWidget(m_titleRows, 0, 1);
    t->addWidget(buddyLabel(QStringLiteral("标题列数(&O):"), m_titleColumns), 1, 0);
    t->addWidget(m_titleColumns, 1, 1);
    t->addWidget(buddyLabel(QStringLiteral("底部标题行数(&B):"), m_bottomTitleRows), 2, 0);
    t->addWidget(m_bottomTitleRows, 2, 1);
    grid->addWidget(titles, 2, 1);
    return panel;
}

QWidget *frmPageSetup::buildMarginPanel()
{
    auto *panel = named(new QWidget, "fraMargin");
    auto *grid = new QGridLayout(panel);
    m_top = valueList("txtTopMargin", MarginLines());
    m_bottom = valueList("txtBottomMargin", MarginLines());
    m_left = valueList("txtLeftMargin", MarginLines());
    m_right = valueList("txtRightMargin", MarginLines());
    m_headerMargin = valueList("txtHeaderMargin", MarginLines());
    m_footerMargin = valueList("txtFooterMargin", MarginLines());

    // The page diagram: a sheet with six guide lines and the grid picture.
    auto *sheet = named(new QFrame, "fraDiagram");
    sheet->setFixedSize(150, 190);
    sheet->setFrameShape(QFrame::Box);
    sheet->setAutoFillBackground(true);
    QPalette white = sheet->palette();
    white.setColor(QPalette::Window, Qt::white);
    sheet->setPalette(white);
    const auto line = [sheet](const char *name, const QRect &geometry) {
        auto *l = named(new QFrame(sheet), name);
        l->setGeometry(geometry);
        l->setAutoFillBackground(true);
        paintLine(l, QColor(192, 192, 192));
        return l;
    };
    m_lineHeader = line("lineHeader", QRect(1, 16, 148, 1));
    m_lineTop = line("lineTop", QRect(1, 34, 148, 1));
    m_lineBottom = line("lineBottom", QRect(1, 155, 148, 1));
    m_lineFooter = line("lineFooter", QRect(1, 173, 148, 1));
    m_lineLeft = line("lineLeft", QRect(24, 1, 1, 188));
    m_lineRight = line("lineRight", QRect(125, 1, 1, 188));
    m_imgGrid = named(new QLabel(sheet), "imgGrid");
    m_imgGrid->setPixmap(gridPicture());
    m_imgGrid->resize(m_imgGrid->pixmap().size());

    const QList<std::pair<ValueListBox *, QFrame *>> guides = {
        {m_top, m_lineTop},     {m_bottom, m_lineBottom},       {m_left, m_lineLeft},
        {m_right, m_lineRight}, {m_headerMargin, m_lineHeader}, {m_footerMargin, m_lineFooter}};
    for (const auto &[box, guide] : guides) {
        QFrame *g = guide;
        connect(box, &ValueListBox::focusEntered, this, [g] { paintLine(g, Qt::black); });
        connect(box, &ValueListBox::focusLeft, this, [g] { paintLine(g, QColor(192, 192, 192)); });
    }

    grid->addWidget(buddyLabel(QStringLiteral("上(&T):"), m_top), 0, 0);
    grid->addWidget(m_top, 0, 1);
    grid->addWidget(buddyLabel(QStringLiteral("页眉(&H):"), m_headerMargin), 0, 3);
    grid->addWidget(m_headerMargin, 0, 4);
    grid->addWidget(buddyLabel(QStringLiteral("左(&L):"), m_left), 1, 0);
    grid->addWidget(m_left, 1, 1);
    grid->addWidget(sheet, 1, 2, 3, 1, Qt::AlignCenter);
    grid->addWidget(buddyLabel(QStringLiteral("右(&R):"), m_right), 1, 3);
    grid->addWidget(m_right, 1, 4);
    grid->addWidget(buddyLabel(QStringLiteral("下(&B):"), m_bottom), 4, 0);
    grid->addWidget(m_bottom, 4, 1);
    grid->addWidget(buddyLabel(QStringLiteral("页脚(&F):"), m_footerMargin), 4, 3);
    grid->addWidget(m_footerMargin, 4, 4);

    auto *centring = new QGroupBox(QStringLiteral("居中方式"));
    auto *c = new QHBoxLayout(centring);
    m_centreH = named(new QCheckBox(QStringLiteral("水平居中(&Z)")), "chkCenterHorizontally");
    m_centreV = named(new QCheckBox(QStringLiteral("垂直居中(&V)")), "chkCenterVertically");
    c->addWidget(m_centreH);
    c->addWidget(m_centreV);
    grid->addWidget(centring, 5, 0, 1, 5);
    connect(m_centreH, &QCheckBox::toggled, this, &frmPageSetup::placeDiagramPicture);
    connect(m_centreV, &QCheckBox::toggled, this, &frmPageSetup::placeDiagramPicture);
    placeDiagramPicture();
    return panel;
}

QWidget *frmPageSetup::buildHeaderFooterPanel()
{
    auto *panel = named(new QWidget, "fraHeaderFooter");
    auto *grid = new QGridLayout(panel);
    const QStringList alignments = {QStringLiteral("左对齐"), QStringLiteral("居中对齐"),
                                    QStringLiteral("右对齐")};
    m_header = named(new QLineEdit, "txtHeader");
    m_footer = named(new QLineEdit, "txtFooter");
    m_headerAlign = named(new QComboBox, "cboHeaderAlign");
    m_footerAlign = named(new QComboBox, "cboFooterAlign");
    auto *headerFont = named(new QPushButton(QStringLiteral("设置字体")), "cmdSetFont_0");
    auto *footerFont = named(new QPushButton(QStringLiteral("设置字体")), "cmdSetFont_1");
    int row = 0;
    for (auto [box, align, font, caption] :
         {std::tuple{m_header, m_headerAlign, headerFont, QStringLiteral("页眉(&H):")},
          std::tuple{m_footer, m_footerAlign, footerFont, QStringLiteral("页脚(&F):")}}) {
        align->addItems(alignments);
        grid->addWidget(buddyLabel(caption, box), row, 0);
        grid->addWidget(box, row + 1, 0, 1, 3);
        grid->addWidget(align, row + 2, 1);
        grid->addWidget(font, row + 2, 2);
        QLineEdit *b = box;
        connect(align, &QComboBox::currentIndexChanged, b, [b](int index) {
            b->setAlignment((index == 2   ? Qt::AlignRight
                             : index == 1 ? Qt::AlignHCenter
                                          : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        });
        connect(font, &QPushButton::clicked, this, [this, b] { setFontFor(b); });
        row += 3;
    }
    grid->setRowStretch(row, 1);
    return panel;
}

void frmPageSetup::showPanel(int index)
{
    for (int i = 0; i < m_panels.size(); ++i)
        m_panels.at(i)->setVisible(i == index);
}

void frmPageSetup::SetGrid(PageSetup &setup)
{
    m_setup = &setup;
    (setup.Orientation == 1 ? m_portrait : m_landscape)->setChecked(true);

    setup.refreshPaperSizes();
    {
        const QSignalBlocker block(m_paper);
        m_paper->clear();
        for (const PaperSizeEntry &entry : setup.PaperSizes)
            m_paper->addItem(entry.Name);
        m_paper->setCurrentIndex(-1);
    }
    int position = int(setup.PaperSizes.size()) - 1;
    for (int i = 0; i < setup.PaperSizes.size(); ++i) {
        if (setup.PaperSizes.at(i).Width == setup.PaperWidth &&
            setup.PaperSizes.at(i).Height == setup.PaperHeight) {
            position = i;
            break;
        }
    }
    m_paper->setCurrentIndex(position);
    if (position == m_paper->count() - 1) {
        m_width->setText(plainText(setup.PaperWidth));
        m_height->setText(plainText(setup.PaperHeight));
    }

    SelectListValue(*m_zoom, setup.Zoom, ValueListKind::Zoom);
    SelectListValue(*m_titleRows, setup.PrintTitleRows, ValueListKind::TitleCount);
    SelectListValue(*m_titleColumns, setup.PrintTitleColumns, ValueListKind::TitleCount);
    SelectListValue(*m_bottomTitleRows, setup.PrintBottomTitleRows, ValueListKind::TitleCount);

    m_fixedRow->setChecked(setup.PrintFixedRow);
    m_fixedColumn->setChecked(setup.PrintFixedColumn);
    m_gridlines->setChecked(setup.PrintGridlines);
    m_blackAndWhite->setChecked(setup.BlackAndWhite);

    for (auto [box, value] :
         {std::pair{m_top, setup.TopMargin}, std::pair{m_bottom, setup.BottomMargin},
          std::pair{m_left, setup.LeftMargin}, std::pair{m_right, setup.RightMargin},
          std::pair{m_headerMargin, setup.HeaderMargin}, std::pair{m_footerMargin, setup.FooterMargin}})
        SelectListValue(*box, double(value), ValueListKind::Margin);

    m_centreH->setChecked(setup.CenterHorizontally);
    m_centreV->setChecked(setup.CenterVertically);
    placeDiagramPicture();

    m_header->setText(setup.Header);
    m_header->setFont(setup.HeaderFont.toQFont());
    m_footer->setText(setup.Footer);
    m_footer->setFont(setup.FooterFont.toQFont());
    m_headerAlign->setCurrentIndex(setup.HeaderAlignment);
    m_footerAlign->setCurrentIndex(setup.FooterAlignment);
}

void frmPageSetup::paperChosen(int position)
{
    const bool custom = position == m_paper->count() - 1;
    if (custom && m_setup) {
        m_width->setText(plainText(m_setup->PaperWidth));
        m_height->setText(plainText(m_setup->PaperHeight));
    }
    for (QWidget *w : {static_cast<QWidget *>(m_width), static_cast<QWidget *>(m_height),
                       static_cast<QWidget *>(m_widthLabel), static_cast<QWidget *>(m_heightLabel)})
        w->setVisible(custom);
}

void frmPageSetup::placeDiagramPicture()
{
    const int left = m_lineLeft->x();
    const int top = m_lineTop->y();
    const int x = m_centreH->isChecked() ? left + (m_lineRight->x() - left - m_imgGrid->width()) / 2 : left;
    const int y = m_centreV->isChecked() ? top + (m_lineBottom->y() - top - m_imgGrid->height()) / 2 : top;
    m_imgGrid->move(x, y);
}

bool frmPageSetup::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (box && (box == m_width || box == m_height)) {
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
    PageSetup &s = *m_setup;
    s.Orientation = m_portrait->isChecked() ? 1 : 2;

    const int position = m_paper->currentIndex();
    QString refused;
    if (position + 1 == m_paper->count() || position < 0 || position >= s.PaperSizes.size())
        refused = s.setPaperSize(float(numericValue(m_width->text())), float(numericValue(m_height->text())));
    else
        refused = s.setPaperSize(s.PaperSizes.at(position).Width, s.PaperSizes.at(position).Height);
    if (!refused.isEmpty()) {
        if (m_messages)
            m_messages->showMessage(this, refused, QStringLiteral("错误"), MessageService::Icon::Critical);
        return;
    }

    const auto whole = [](const ValueListBox *box) {
        return qint32(std::lround(numericValue(CurrentListValue(*box))));
    };
    s.Zoom = whole(m_zoom);
    s.PrintTitleRows = whole(m_titleRows);
    s.PrintTitleColumns = whole(m_titleColumns);
    s.PrintBottomTitleRows = whole(m_bottomTitleRows);

    s.PrintFixedRow = m_fixedRow->isChecked();
    s.PrintFixedColumn = m_fixedColumn->isChecked();
    s.PrintGridlines = m_gridlines->isChecked();
    s.BlackAndWhite = m_blackAndWhite->isChecked();
    s.CenterHorizontally = m_centreH->isChecked();
    s.CenterVertically = m_centreV->isChecked();

    const auto length = [](const ValueListBox *box) { return float(numericValue(CurrentListValue(*box))); };
    s.LeftMargin = length(m_left);
    s.RightMargin = length(m_right);
    s.TopMargin = length(m_top);
    s.BottomMargin = length(m_bottom);
    s.HeaderMargin = length(m_headerMargin);
    s.FooterMargin = length(m_footerMargin);

    s.Header = m_header->text();
    s.HeaderAlignment = m_headerAlign->currentIndex();
    s.HeaderFont = PrintFont::fromQFont(m_header->font());
    s.Footer = m_footer->text();
    s.FooterAlignment = m_footerAlign->currentIndex();
    s.FooterFont = PrintFont::fromQFont(m_footer->font());

    m_setup = nullptr;
    accept();
}
