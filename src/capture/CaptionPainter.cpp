#include "capture/CaptionPainter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <cmath>

QString CaptionPainter::chineseFamily()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        for (const char *preferred : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC"})
            for (const QString &f : installed)
                if (f.startsWith(QLatin1String(preferred), Qt::CaseInsensitive))
                    return f;
        return installed.value(0);
    }();
    return family;
}

QFont CaptionPainter::font(const Caption &caption)
{
    QFont f;
    const QString family = caption.family.isEmpty() ? chineseFamily() : caption.family;
    if (!family.isEmpty())
        f.setFamilies({family});
    f.setStyleStrategy(QFont::PreferAntialias);
    // Points at 96 dpi: 9 points are 12 pixels.
    const double pixels = caption.pointSize * Dpi / 72.0;
    f.setPixelSize(qMax(1, int(std::lround(pixels))));
    return f;
}

QString CaptionPainter::lineText(const QString &text)
{
    QString line = text;
    for (QChar &c : line)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return line;
}

QRect CaptionPainter::box(const Caption &caption, QSize photo)
{
    if (caption.isEmpty() || photo.isEmpty())
        return {};
    const QFontMetricsF metrics(font(caption));
    const QRectF line(caption.offset,
                      QSizeF(metrics.horizontalAdvance(lineText(caption.text)), metrics.height()));
    // Anti-aliasing and overhanging glyphs reach a pixel or two past the box.
    const QRect reach = line.toAlignedRect().adjusted(-2, -2, 2, 2);
    return reach.intersected(QRect(QPoint(0, 0), photo));
}

void CaptionPainter::paint(QPainter &painter, const Caption &caption, QSize photo)
{
    if (caption.isEmpty() || photo.isEmpty())
        return;
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), photo), Qt::IntersectClip);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFont f = font(caption);
    painter.setFont(f);
    painter.setPen(caption.colour);
    const QFontMetricsF metrics(f);
    // drawText at a point draws one line from its baseline and never wraps.
    painter.drawText(QPointF(caption.offset.x(), caption.offset.y() + metrics.ascent()),
                     lineText(caption.text));
    painter.restore();
}

void CaptionPainter::paint(QImage &photo, const Caption &caption)
{
    if (caption.isEmpty() || photo.isNull())
        return;
    QPainter painter(&photo);
    paint(painter, caption, photo.size());
}
