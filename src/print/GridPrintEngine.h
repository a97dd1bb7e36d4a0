#pragma once

#include "print/GridPainter.h"
#include "print/PageSetup.h"
#include "print/PrintLayout.h"
#include "print/RowPhotos.h"
#include "print/ScanCards.h"

#include <QObject>

#include <functional>

class DialogService;
class MessageService;
class TableGrid;
class QAction;
class QDialog;
class QPrinter;
class QWidget;

// The grid's print engine: its page setup (kept for the run, never stored),
// the page-setup window, and the print preview, whose pages are laid out
// once per preview and painted when the preview or the printer asks.
// Beside the grid's pages the preview offers a page of photo thumbnails of
// the rows shown.
class GridPrintEngine : public QObject
{
    Q_OBJECT
public:
    // photoOfRow gives the photo of a grid row and the name under it.
    using PhotoOfRow = std::function<RowPhoto(int row)>;

    GridPrintEngine(TableGrid *grid, DialogService *dialogs, MessageService *messages, PhotoOfRow photoOfRow,
                    QObject *parent = nullptr);

    PageSetup &pageSetup() { return m_setup; }

    // 页面设置 and 预览打印, with `owner` as the windows' owner.
    void connectMenu(QAction *pageset, QAction *previewprint, QWidget *owner);

    // The page-setup window for the grid's page setup, modal.
    void ShowPageSetup(QWidget *owner);
    // 预览打印: centred both ways, in one colour, with grid lines, the
    // document name, no header or footer text; then the preview.
    void previewPrint(QWidget *owner);
    // Lays the pages out (with a progress dialog that can cancel) and shows
    // the preview. False when the layout was cancelled.
    bool ShowPrintPreview(QWidget *owner);

    // What the grid holds now, as the painter reads it: the header row, the
    // rows loaded (the trailing empty row left out) and every column.
    GridPrintSource source() const;
    // Lays out the grid's pages for the page setup as it stands; progress
    // may cancel (then false and no pages).
    bool layOut(const std::function<bool(int, int)> &progress = {});
    const PrintLayout &layout() const { return m_layout; }

    // Photo pages in place of the grid's pages.
    void setPhotoPages(bool on) { m_photoPages = on; }
    bool photoPages() const { return m_photoPages; }
    // Pages of cards to scan, one a person of the grid, in place of the
    // grid's pages; cardOfRow gives a grid row's card.
    using CardOfRow = std::function<ScanCard(int row)>;
    void setCardOfRow(CardOfRow cardOfRow) { m_cardOfRow = std::move(cardOfRow); }
    void setCardPages(bool on) { m_cardPages = on; }
    bool cardPages() const { return m_cardPages; }
    // 打印扫码卡: the preview of the card pages (the same printer set-up as
    // 预览打印's); false when the layout was cancelled.
    bool previewCards(QWidget *owner);
    int pageCount() const;

    // Paints the laid-out pages (or the photo pages) onto the printer, within
    // its page range when one is set. The printer is set up for the paper
    // first. Returns the number of pages painted.
    int print(QPrinter *printer, QWidget *progressOwner = nullptr);
    // Paper, orientation, full page and document name from the page setup.
    void setUpPrinter(QPrinter &printer) const;

    // Runs a modal dialog; tests replace it to look at the dialog instead.
    std::function<void(QDialog &)> runModal;

private:
    QList<RowPhoto> photosOfRows() const;
    // 预览打印's page setup: centred both ways, in one colour, with grid
    // lines, the document name, no header or footer text.
    void setUpForPreview();
    QList<ScanCard> cardsOfRows() const;

    TableGrid *m_grid;
    DialogService *m_dialogs;
    MessageService *m_messages;
    PhotoOfRow m_photoOfRow;
    PageSetup m_setup;
    GridPrintSource m_source;
    PrintLayout m_layout;
    bool m_photoPages = false;
    bool m_cardPages = false;
    CardOfRow m_cardOfRow;
};
