#include "print/GridPrintEngine.h"

#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "print/frmPageSetup.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QToolBar>

#include <cmath>
#include <memory>

namespace {

// Screen pixels to points: the grid's sizes are in pixels of a 96 dpi screen.
constexpr double kPointsPerPixel = 0.75;

// A progress dialog that shows only when the work takes long enough.
std::unique_ptr<QProgressDialog> progressDialog(QWidget *owner, const QString &text)
{
    if (!owner)
        return nullptr;
    auto dialog = std::make_unique<QProgressDialog>(text, QStringLiteral("取消"), 0, 1, owner);
    dialog->setObjectName(QStringLiteral("printProgress"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(400);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    return dialog;
}

} // namespace

GridPrintEngine::GridPrintEngine(TableGrid *grid, DialogService *dialogs, MessageService *messages,
                                 PhotoOfRow photoOfRow, QObject *parent)
    : QObject(parent)
    , m_grid(grid)
    , m_dialogs(dialogs)
    , m_messages(messages)
    , m_photoOfRow(std::move(photoOfRow))
{
    setObjectName(QStringLiteral("gridPrintEngine"));
    const QFont font = QApplication::font();
    m_setup.HeaderFont = m_setup.FooterFont = PrintFont::fromQFont(font);
    m_setup.refreshPaperSizes();
    runModal = [](QDialog &dialog) { dialog.exec(); };
}

void GridPrintEngine::connectMenu(QAction *pageset, QAction *previewprint, QWidget *owner)
{
    connect(pageset, &QAction::triggered, this, [this, owner] { ShowPageSetup(owner); });
    connect(previewprint, &QAction::triggered, this, [this, owner] { previewPrint(owner); });
}

void GridPrintEngine::ShowPageSetup(QWidget *owner)
{
    frmPageSetup window(m_dialogs, m_messages, owner);
    window.SetGrid(m_setup);
    runModal(window);
}

void GridPrintEngine::previewPrint(QWidget *owner)
{
    setUpForPreview();
    ShowPrintPreview(owner);
}

void GridPrintEngine::setUpForPreview()
{
    m_setup.CenterHorizontally = true;
    m_setup.BlackAndWhite = true;
    m_setup.PrintGridlines = true;
    m_setup.CenterVertically = true;
    m_setup.DocumentName = QStringLiteral("Lumora文档");
    m_setup.Header.clear();
    m_setup.Footer.clear();
}

GridPrintSource GridPrintEngine::source() const
{
    GridPrintSource s;
    const TableGrid *g = m_grid;
    const RosterModel *model = g->roster();
    int rows = model->rows();
    // The grid keeps an empty row for the next record; it is not printed.
    if (rows > 1) {
        bool empty = true;
        for (int c = 1; c < model->cols() && empty; ++c)
            empty = model->cellText(rows - 1, c).isEmpty();
        if (empty)
            --rows;
    }
    s.metrics.rows = rows;
    s.metrics.fixedRows = 1;
    s.metrics.fixedColumns = 1;
    for (int c = 0; c < model->cols(); ++c)
        s.metrics.columnWidths << std::max(1, g->gridColumnWidth(c)) * kPointsPerPixel;
    s.metrics.rowHeight = std::max(1, g->verticalHeader()->defaultSectionSize()) * kPointsPerPixel;
    s.text = [model](int row, int column) { return model->cellText(row, column); };
    s.rightAligned = [model](int column) { return model->columnCode(column) == 5; };
    s.font = g->font();
    if (s.font.pointSizeF() <= 0)
        s.font.setPointSizeF(9);
    return s;
}

bool GridPrintEngine::layOut(const std::function<bool(int, int)> &progress)
{
    m_source = source();
    m_layout = LayOutPages(m_setup, m_source.metrics, progress);
    return !m_layout.cancelled;
}

QList<RowPhoto> GridPrintEngine::photosOfRows() const
{
    QList<RowPhoto> photos;
    for (int row = m_source.metrics.fixedRows; row < m_source.metrics.rows; ++row)
        photos << (m_photoOfRow ? m_photoOfRow(row) : RowPhoto{});
    return photos;
}

QList<ScanCard> GridPrintEngine::cardsOfRows() const
{
    QList<ScanCard> cards;
    for (int row = m_source.metrics.fixedRows; row < m_source.metrics.rows; ++row) {
        ScanCard card = m_cardOfRow ? m_cardOfRow(row) : ScanCard{};
        // A row that is nobody's (the marker of an empty result) gets no card.
        if (!card.key.isEmpty())
            cards << card;
    }
    return cards;
}

bool GridPrintEngine::previewCards(QWidget *owner)
{
    setUpForPreview();
    m_cardPages = true;
    const bool shown = ShowPrintPreview(owner);
    m_cardPages = false;
    return shown;
}

int GridPrintEngine::pageCount() const
{
    if (m_cardPages) {
        const ThumbnailLayout t = LayOutThumbnails(ScanCardBody(m_layout.paper), ScanCardCellSize());
        return std::max(1, t.pageCount(int(cardsOfRows().size())));
    }
    if (!m_photoPages)
        return int(m_layout.pages.size());
    const ThumbnailLayout t = LayOutThumbnails(m_layout.body, PhotoCellSize());
    return t.pageCount(std::max(0, m_source.metrics.rows - m_source.metrics.fixedRows));
}

void GridPrintEngine::setUpPrinter(QPrinter &printer) const
{
    printer.setFullPage(true);
    const QPageSize size(QSizeF(double(m_setup.PaperWidth) * 10, double(m_setup.PaperHeight) * 10),
                         QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
    printer.setPageLayout(QPageLayout(
        size, m_setup.Orientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
    printer.setDocName(m_setup.DocumentName);
}

int GridPrintEngine::print(QPrinter *printer, QWidget *progressOwner)
{
    // The preview's own buttons (orientation, its page setup) and the print
    // dialog can change the paper: the pages are then laid out for it.
    const QSizeF paper = printer->pageLayout().fullRectPoints().size();
    if (!paper.isEmpty() && (std::abs(paper.width() - m_layout.paper.width()) > 1 ||
                             std::abs(paper.height() - m_layout.paper.height()) > 1)) {
        const PageSetup kept = m_setup;
        const QSizeF upright = paper.width() <= paper.height() ? paper : paper.transposed();
        m_setup.PaperWidth = float(upright.width() / kPointsPerCm);
        m_setup.PaperHeight = float(upright.height() / kPointsPerCm);
        m_setup.Orientation = paper.width() > paper.height() ? 2 : 1;
        layOut();
        m_setup = kept;
    }
    const int count = pageCount();
    int first = 0;
    int last = count - 1;
    if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
        first = printer->fromPage() - 1;
        last = std::min(last, printer->toPage() > 0 ? printer->toPage() - 1 : last);
    }
    if (first > last)
        return 0;

    QPainter painter(printer);
    if (!painter.isActive())
        return 0;
    std::unique_ptr<QProgressDialog> progress =
        progressDialog(progressOwner, QStringLiteral("正在生成页面…"));
    if (progress)
        progress->setMaximum(last - first + 1);

    const ThumbnailLayout thumbnails = LayOutThumbnails(m_layout.body, PhotoCellSize());
    const QList<RowPhoto> photos = m_photoPages ? photosOfRows() : QList<RowPhoto>();
    const ThumbnailLayout cardLayout = LayOutThumbnails(ScanCardBody(m_layout.paper), ScanCardCellSize());
    const QList<ScanCard> cards = m_cardPages ? cardsOfRows() : QList<ScanCard>();
    int painted = 0;
    for (int page = first; page <= last; ++page) {
        if (progress) {
            progress->setValue(page - first);
            if (progress->wasCanceled())
                break;
        }
        if (page > first)
            printer->newPage();
        BeginPaperPainting(painter, m_layout.paper);
        if (m_cardPages)
            PaintCardPage(painter, cardLayout,
                          cards.mid(qsizetype(page) * cardLayout.perPage(), cardLayout.perPage()),
                          m_source.font);
        else if (m_photoPages)
            PaintPhotoPage(painter, thumbnails,
                           photos.mid(qsizetype(page) * thumbnails.perPage(), thumbnails.perPage()), m_setup,
                           m_source.font);
        else
            PaintGridPage(painter, m_layout, page, m_setup, m_source);
        ++painted;
    }
    return painted;
}

bool GridPrintEngine::ShowPrintPreview(QWidget *owner)
{
    {
        std::unique_ptr<QProgressDialog> progress = progressDialog(owner, QStringLiteral("正在排版…"));
        const bool done = layOut([&progress](int done, int total) {
            if (!progress)
                return true;
            progress->setMaximum(std::max(1, total));
            progress->setValue(done);
            return !progress->wasCanceled();
        });
        if (!done)
            return false;
    }

    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintPreviewDialog dialog(&printer, owner);
    dialog.setObjectName(QStringLiteral("printPreview"));
    if (owner)
        dialog.resize(owner->window()->size() * 0.9);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this, &dialog, owner](QPrinter *target) {
        // The preview paints every page when it is built: the progress (and
        // its cancel) belongs to the preview once it shows, before to the window.
        print(target, dialog.isVisible() ? &dialog : owner);
    });
    QToolBar *bar = m_cardPages ? nullptr : dialog.findChild<QToolBar *>();
    if (bar) {
        bar->addSeparator();
        QAction *photos = bar->addAction(QStringLiteral("照片页"));
        photos->setObjectName(QStringLiteral("photoPages"));
        photos->setCheckable(true);
        photos->setChecked(m_photoPages);
        photos->setToolTip(
            QStringLiteral("显示表中各行的照片缩略图，名字在照片下方；没有照片的行标为“无照片”。"));
        connect(photos, &QAction::toggled, &dialog, [this, &dialog](bool on) {
            setPhotoPages(on);
            if (auto *preview = dialog.findChild<QPrintPreviewWidget *>())
                preview->updatePreview();
        });
    }
    runModal(dialog);
    m_photoPages = false;
    return true;
}
