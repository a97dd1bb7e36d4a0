#include "print/ScanCards.h"

#include "print/GridPainter.h"

#include <qrencode.h>

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <memory>

namespace {

constexpr double kCardWidthCm = 8.56;
constexpr double kCardHeightCm = 5.4;
constexpr double kCellMarginCm = 0.1;
constexpr int kQuietModules = 4;
// Most printers print to 5 mm of the paper's edge.
constexpr double kPaperEdgeCm = 0.8;

} // namespace

std::optional<QrModules> EncodeQr(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty())
        return std::nullopt;
    // Case-sensitive 8-bit data: the key comes back exactly as printed.
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(utf8.size()), reinterpret_cast<const unsigned char *>(utf8.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code)
        return std::nullopt;
    QrModules modules;
    modules.size = code->width;
    modules.dark.resize(qsizetype(code->width) * code->width);
    for (qsizetype i = 0; i < modules.dark.size(); ++i)
        modules.dark[i] = (code->data[i] & 1) != 0;
    return modules;
}

QRectF ScanCardBody(const QSizeF &paper)
{
    const double edge = kPaperEdgeCm * kPointsPerCm;
    return QRectF(QPointF(0, 0), paper).adjusted(edge, edge, -edge, -edge);
}

QSizeF ScanCardCellSize()
{
    return QSizeF((kCardWidthCm + 2 * kCellMarginCm) * kPointsPerCm,
                  (kCardHeightCm + 2 * kCellMarginCm) * kPointsPerCm);
}

void PaintCardPage(QPainter &painter, const ThumbnailLayout &layout, const QList<ScanCard> &cards,
                   const QFont &font)
{
    painter.save();
    const double margin = kCellMarginCm * kPointsPerCm;
    const QFont nameFont = PaperFont(font, 16, painter);
    const QFont lineFont = PaperFont(font, 10, painter);
    for (int i = 0; i < cards.size() && i < layout.perPage(); ++i) {
        const ScanCard &card = cards.at(i);
        const QRectF cell = layout.cellRect(i);
        const QRectF frame(cell.left() + margin, cell.top() + margin, kCardWidthCm * kPointsPerCm,
                           kCardHeightCm * kPointsPerCm);
        painter.setPen(QPen(Qt::black, 0.5, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frame);

        // The QR code, square, as high as the card allows, at the right.
        const double side = frame.height() - 0.6 * kPointsPerCm;
        const QRectF qrArea(frame.right() - side - 0.3 * kPointsPerCm, frame.top() + 0.3 * kPointsPerCm, side,
                            side);
        if (const std::optional<QrModules> qr = EncodeQr(card.key)) {
            const double module = side / (qr->size + 2 * kQuietModules);
            // One outline for all dark modules: drawn one by one, their
            // shared edges would show as hairline seams in a rendering.
            QPainterPath dark;
            dark.setFillRule(Qt::WindingFill);
            for (int y = 0; y < qr->size; ++y) {
                for (int x = 0; x < qr->size;) {
                    if (!qr->at(x, y)) {
                        ++x;
                        continue;
                    }
                    // A run of dark modules as one rectangle: no seams between them.
                    int end = x;
                    while (end < qr->size && qr->at(end, y))
                        ++end;
                    dark.addRect(QRectF(qrArea.left() + (kQuietModules + x) * module,
                                        qrArea.top() + (kQuietModules + y) * module, (end - x) * module,
                                        module));
                    x = end;
                }
            }
            painter.fillPath(dark, Qt::black);
        }

        // The texts at the left of the code.
        painter.setPen(Qt::black);
        const QRectF text(frame.left() + 0.4 * kPointsPerCm, frame.top() + 0.5 * kPointsPerCm,
                          qrArea.left() - frame.left() - 0.6 * kPointsPerCm, frame.height() - kPointsPerCm);
        const QFontMetricsF nameMetrics(nameFont, painter.device());
        const QFontMetricsF lineMetrics(lineFont, painter.device());
        double y = text.top();
        painter.setFont(nameFont);
        painter.drawText(QRectF(text.left(), y, text.width(), nameMetrics.height()),
                         Qt::AlignLeft | Qt::TextSingleLine,
                         nameMetrics.elidedText(card.name, Qt::ElideRight, text.width()));
        y += nameMetrics.height() + 0.3 * kPointsPerCm;
        painter.setFont(lineFont);
        for (const QString &line : {card.className, card.key}) {
            if (line.isEmpty())
                continue;
            painter.drawText(QRectF(text.left(), y, text.width(), lineMetrics.height()),
                             Qt::AlignLeft | Qt::TextSingleLine,
                             lineMetrics.elidedText(line, Qt::ElideMiddle, text.width()));
            y += lineMetrics.height() + 0.15 * kPointsPerCm;
        }
    }
    painter.restore();
}
