#pragma once

#include "print/PrintLayout.h"

#include <QFont>
#include <QList>
#include <QString>

#include <optional>

class QPainter;

// A card to scan: the person's name, class and key, the key also as a QR
// code that 扫码 and 摄像头扫码 read back.
struct ScanCard
{
    QString name;
    QString className; // empty: the roster has no class column
    QString key;
};

// The modules of a QR code (libqrencode, error correction level M): `size`
// rows of `size` modules, row by row, true where dark. Nothing for a text
// too long for any QR code.
struct QrModules
{
    int size = 0;
    QList<bool> dark;
    bool at(int x, int y) const { return dark.at(y * size + x); }
};
std::optional<QrModules> EncodeQr(const QString &text);

// The cell of one card on the page, in points: a bank card's 8.56 x 5.4 cm
// and a margin around it for cutting; and where the cards go on a paper of
// that size (the grid's margins do not apply: ten cards fit an A4 page).
QSizeF ScanCardCellSize();
QRectF ScanCardBody(const QSizeF &paper);

// Draws one page of cards: `cards` are this page's, in order. Each has its
// cutting frame, the name large, the class and key below it, and the key's
// QR code with its quiet zone at the right, drawn as filled squares so that
// it stays sharp at any resolution.
void PaintCardPage(QPainter &painter, const ThumbnailLayout &layout, const QList<ScanCard> &cards,
                   const QFont &font);
