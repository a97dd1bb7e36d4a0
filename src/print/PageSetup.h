#pragma once

#include <QList>
#include <QString>

class QFont;

// A font of the header or footer line, as the page setup keeps it.
struct PrintFont
{
    QString faceName;
    double size = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;

    QFont toQFont() const;
    static PrintFont fromQFont(const QFont &font);
    bool operator==(const PrintFont &) const = default;
};

// One paper of the paper list; lengths in centimetres.
struct PaperSizeEntry
{
    QString Name;
    float Width = 0;
    float Height = 0;
    bool operator==(const PaperSizeEntry &) const = default;
};

// The grid print engine's page setup. Lengths are in centimetres; the paper
// is described upright (PaperWidth <= PaperHeight for the listed papers), and
// Orientation 2 turns it on its side. The values at construction are those
// every run starts from: A4 upright, 100 %, centimetre margins.
struct PageSetup
{
    qint32 Orientation = 1; // 1 portrait, 2 landscape
    float PaperWidth = 21.0f;
    float PaperHeight = 29.7f;
    qint32 Zoom = 100;               // percent of normal size
    qint32 PrintTitleRows = 0;       // data rows repeated at the top of every page
    qint32 PrintTitleColumns = 0;    // data columns repeated at the left of every page
    qint32 PrintBottomTitleRows = 0; // last data rows repeated at the bottom of every page
    bool PrintFixedRow = true;       // the grid's header row
    bool PrintFixedColumn = true;    // the grid's row-header column
    bool PrintGridlines = true;
    bool BlackAndWhite = false;
    bool CenterHorizontally = false;
    bool CenterVertically = false;
    float TopMargin = 2.5f;
    float BottomMargin = 2.5f;
    float LeftMargin = 2.0f;
    float RightMargin = 2.0f;
    float HeaderMargin = 1.5f; // from the paper's top edge to the header line
    float FooterMargin = 1.5f; // from the paper's bottom edge to the footer line
    QString Header;
    QString Footer;
    int HeaderAlignment = 1; // 0 left, 1 centre, 2 right
    int FooterAlignment = 1;
    PrintFont HeaderFont;
    PrintFont FooterFont;
    QString DocumentName;

    // The paper list: Qt's page sizes, then an entry for a size of the
    // operator's own (named "自定义", width and height 0, which no paper
    // matches). Refreshing reads Qt's list again.
    QList<PaperSizeEntry> PaperSizes;
    void refreshPaperSizes();

    // Sets the paper, or says why it cannot: each side must lie between
    // kMinPaper and kMaxPaper centimetres. Nothing changes on a refusal.
    QString setPaperSize(float width, float height);
    static constexpr float kMinPaper = 2.0f;
    static constexpr float kMaxPaper = 300.0f;

    bool operator==(const PageSetup &) const = default;
};

// Qt's page sizes in centimetres as the paper list names them, without
// the custom entry, in Qt's order.
QList<PaperSizeEntry> QtPaperSizes();
