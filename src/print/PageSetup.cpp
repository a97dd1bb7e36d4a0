#include "print/PageSetup.h"

#include <QFont>
#include <QPageSize>
#include <QSizeF>

QFont PrintFont::toQFont() const
{
    QFont font;
    if (!faceName.isEmpty())
        font.setFamilies({faceName});
    if (size > 0)
        font.setPointSizeF(size);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikethrough);
    return font;
}

PrintFont PrintFont::fromQFont(const QFont &font)
{
    PrintFont f;
    f.faceName = font.family();
    f.size = font.pointSizeF() > 0 ? font.pointSizeF() : 10;
    f.bold = font.bold();
    f.italic = font.italic();
    f.underline = font.underline();
    f.strikethrough = font.strikeOut();
    return f;
}

QList<PaperSizeEntry> QtPaperSizes()
{
    QList<PaperSizeEntry> sizes;
    for (int id = 0; id <= int(QPageSize::LastPageSize); ++id) {
        const auto pageId = QPageSize::PageSizeId(id);
        if (pageId == QPageSize::Custom)
            continue;
        const QSizeF mm = QPageSize::size(pageId, QPageSize::Millimeter);
        if (mm.isEmpty())
            continue;
        // Rounded to a tenth of a millimetre, so that A4 is 21 x 29.7 exactly
        // as the default page setup has it.
        const auto cm = [](qreal v) { return float(qRound(v * 10) / 100.0); };
        sizes.append(PaperSizeEntry{QPageSize::name(pageId), cm(mm.width()), cm(mm.height())});
    }
    return sizes;
}

void PageSetup::refreshPaperSizes()
{
    PaperSizes = QtPaperSizes();
    PaperSizes.append(PaperSizeEntry{QStringLiteral("自定义"), 0, 0});
}

QString PageSetup::setPaperSize(float width, float height)
{
    const auto fits = [](float v) { return v >= kMinPaper && v <= kMaxPaper; };
    if (!fits(width) || !fits(height))
        return QStringLiteral("纸张大小无效：宽度和高度都须在 %1 到 %2 厘米之间（现为 %3 × %4）。")
            .arg(double(kMinPaper))
            .arg(double(kMaxPaper))
            .arg(double(width))
            .arg(double(height));
    PaperWidth = width;
    PaperHeight = height;
    return {};
}
