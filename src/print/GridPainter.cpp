#include "print/GridPainter.h"

#include <QFontMetricsF>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>

void BeginPaperPainting(QPainter &painter, const QSizeF &paperSize)
{
    const QPaintDevice *device = painter.device();
    painter.resetTransform();
    // One scale both ways: a device whose paper differs (a printer set to
    // another size in its own dialog) gets the whole page, undistorted.
    if (paperSize.width() > 0 && paperSize.height() > 0) {
        const double scale =
            std::min(device->width() / paperSize.width(), device->height() / paperSize.height());
        painter.scale(scale, scale);
    }
}

QFont PaperFont(const QFont &font, double points, const QPainter &painter)
{
    QFont f(font);
    // The device turns points into its own dots by its resolution; the
    // painter's transform already maps points to dots, so undo the former.
    const int dpi = painter.device() ? painter.device()->logicalDpiY() : 72;
    f.setPointSizeF(std::max(0.1, points) * 72.0 / (dpi > 0 ? dpi : 72));
    return f;
}

namespace {

void paintLine(QPainter &painter, const QString &text, const PrintFont &font, int alignment,
               const QRectF &band, Qt::Alignment vertical)
{
    if (text.isEmpty())
        return;
    painter.setFont(PaperFont(font.toQFont(), font.size, painter));
    int flags = int(vertical) | Qt::TextSingleLine;
    flags |= alignment == 0 ? Qt::AlignLeft : alignment == 2 ? Qt::AlignRight : Qt::AlignHCenter;
    painter.drawText(band, flags, text);
}

} // namespace

void PaintGridPage(QPainter &painter, const PrintLayout &layout, int index, const PageSetup &setup,
                   const GridPrintSource &source)
{
    if (index < 0 || index >= layout.pages.size())
        return;
    const PrintPage &page = layout.pages.at(index);
    painter.save();
    painter.setPen(Qt::black);

    // Header and footer lines across the space between the side margins.
    const double bandHeight = 100;
    paintLine(painter, setup.Header, setup.HeaderFont, setup.HeaderAlignment,
              QRectF(layout.body.left(), layout.headerY, layout.body.width(), bandHeight), Qt::AlignTop);
    paintLine(painter, setup.Footer, setup.FooterFont, setup.FooterAlignment,
              QRectF(layout.body.left(), layout.footerY - bandHeight, layout.body.width(), bandHeight),
              Qt::AlignBottom);

    painter.translate(page.grid.topLeft());
    painter.scale(layout.scale, layout.scale);
    const GridMetrics &m = source.metrics;
    const double h = m.rowHeight;
    const QFont font =
        PaperFont(source.font, source.font.pointSizeF() > 0 ? source.font.pointSizeF() : 9, painter);
    painter.setFont(font);
    const QFontMetricsF fm(font, painter.device());
    const double maxCharWidth = std::max(fm.maxWidth(), fm.horizontalAdvance(QChar(0x6C38)));
    const double pad = 2;
    const double baseline = (h - fm.height()) / 2 + fm.ascent();

    QList<double> xs; // left edge of each page column, then the right edge
    xs.reserve(page.columns.size() + 1);
    double x = 0;
    for (int c : page.columns) {
        xs << x;
        x += m.columnWidths.at(c);
    }
    xs << x;
    const double width = x;
    const double height = h * double(page.rows.size());

    if (!setup.BlackAndWhite) {
        for (int i = 0; i < page.rows.size(); ++i)
            if (page.rows.at(i) < m.fixedRows)
                painter.fillRect(QRectF(0, i * h, width, h), source.fixedColour);
        for (int j = 0; j < page.columns.size(); ++j)
            if (page.columns.at(j) < m.fixedColumns)
                painter.fillRect(QRectF(xs.at(j), 0, xs.at(j + 1) - xs.at(j), height), source.fixedColour);
    }

    for (int i = 0; i < page.rows.size(); ++i) {
        const int row = page.rows.at(i);
        const double y = i * h;
        for (int j = 0; j < page.columns.size(); ++j) {
            const int column = page.columns.at(j);
            const QString text = source.text ? source.text(row, column) : QString();
            if (text.isEmpty())
                continue;
            const double cellWidth = xs.at(j + 1) - xs.at(j) - 2 * pad;
            if (cellWidth <= 0)
                continue;
            const bool fixed = row < m.fixedRows || column < m.fixedColumns;
            const bool right = !fixed && source.rightAligned && source.rightAligned(column);
            // Measured only when it may not fit or must be placed by its
            // width: most cells are short, left-aligned texts.
            const bool mayOverflow = double(text.size()) * maxCharWidth > cellWidth;
            double advance = mayOverflow || fixed || right ? fm.horizontalAdvance(text) : 0;
            QString shown = text;
            if (advance > cellWidth) {
                shown = fm.elidedText(text, Qt::ElideRight, cellWidth);
                advance = fm.horizontalAdvance(shown);
            }
            // Drawn at a point: a text laid out in a rectangle costs several
            // times as much, and the text already fits its cell.
            double x = xs.at(j) + pad;
            if (right)
                x += cellWidth - advance;
            else if (fixed)
                x += (cellWidth - advance) / 2;
            painter.drawText(QPointF(x, y + baseline), shown);
        }
    }

    if (setup.PrintGridlines) {
        painter.setPen(QPen(setup.BlackAndWhite ? QColor(Qt::black) : QColor(128, 128, 128), 0));
        for (int i = 0; i <= page.rows.size(); ++i)
            painter.drawLine(QPointF(0, i * h), QPointF(width, i * h));
        for (double edge : xs)
            painter.drawLine(QPointF(edge, 0), QPointF(edge, height));
    }
    painter.restore();
}

QSizeF PhotoCellSize()
{
    return QSizeF(3.6 * kPointsPerCm, 5.0 * kPointsPerCm);
}

void PaintPhotoPage(QPainter &painter, const ThumbnailLayout &layout, const QList<RowPhoto> &photos,
                    const PageSetup &setup, const QFont &font)
{
    painter.save();
    const QFont f = PaperFont(font, 9, painter);
    painter.setFont(f);
    const QFontMetricsF fm(f, painter.device());
    const double lineHeight = fm.height() + 2;
    const QSizeF photoSize(3.0 * kPointsPerCm, 4.0 * kPointsPerCm);
    // Pixels enough for print, not more: 200 dots per inch.
    const QSize decodeSize = (photoSize * 200.0 / 72.0).toSize();
    for (int i = 0; i < photos.size() && i < layout.perPage(); ++i) {
        const QRectF cell = layout.cellRect(i);
        const QRectF frame(cell.left() + (cell.width() - photoSize.width()) / 2, cell.top(),
                           photoSize.width(), std::min(photoSize.height(), cell.height() - lineHeight));
        QImage image;
        if (!photos.at(i).path.isEmpty()) {
            QImageReader reader(photos.at(i).path);
            const QSize size = reader.size();
            if (size.isValid())
                reader.setScaledSize(size.scaled(decodeSize, Qt::KeepAspectRatio));
            image = reader.read();
        }
        if (!image.isNull()) {
            if (setup.BlackAndWhite)
                image = image.convertToFormat(QImage::Format_Grayscale8);
            const QSizeF fit = QSizeF(image.size()).scaled(frame.size(), Qt::KeepAspectRatio);
            const QRectF target(frame.center().x() - fit.width() / 2, frame.center().y() - fit.height() / 2,
                                fit.width(), fit.height());
            painter.drawImage(target, image);
        } else {
            painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
            painter.drawRect(frame);
            painter.drawLine(frame.topLeft(), frame.bottomRight());
            painter.drawLine(frame.topRight(), frame.bottomLeft());
            painter.setPen(Qt::black);
            const QRectF note(frame.left(), frame.center().y() - lineHeight / 2, frame.width(), lineHeight);
            painter.fillRect(note, Qt::white);
            painter.drawText(note, Qt::AlignCenter | Qt::TextSingleLine, kNoPhotoText);
        }
        painter.setPen(Qt::black);
        const QRectF nameBand(cell.left(), frame.bottom() + 1, cell.width(), lineHeight);
        painter.drawText(nameBand, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         fm.elidedText(photos.at(i).label, Qt::ElideMiddle, cell.width()));
    }
    painter.restore();
}
