#pragma once

#include "framing/FaceFinder.h"
#include "framing/IdRule.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

// The head a face square stands for: crown and chin (y) and the middle
// (x), in the same pixels. The detector's square runs from the brows to
// below the mouth; the head reaches above it to the crown and below it to
// the chin by the shares measured on real faces.
struct Head
{
    double crown;
    double chin;
    double centreX;
    double height() const { return chin - crown; }
};
Head headOf(const QRectF &faceBox);

// The part of a frame of size `frame` a photo of size `crop` is cut from
// so that the head of `faceBox` is in the middle across and takes `share`
// of the photo's height, a little more room below it than above: as
// fractions of the frame (for cropRectAt). Where it would leave the frame,
// cropRectAt moves it in (and shrinks it when the frame is too small).
QRectF faceCentredRegion(QSize frame, const QRectF &faceBox, QSize crop, double share);

// One line of the "取景检查" panel.
struct FramingCheck
{
    QString name; // "单人", "居中", "头部大小", "双眼水平", "清晰", "曝光", "背景"
    bool pass;
    QString word;   // what the panel says beside the mark ("偏左", "太暗" ...)
    double measure; // what was measured (share, degrees, variance, grey level)
};

struct FramingReport
{
    int faces = 0;
    // Where the photo is cut from, as fractions of the frame: the
    // face-centred part when asked for and one face was found, else empty
    // (the fixed, centred guide).
    QRectF region;
    // Why the fixed guide is used although a face-centred one was asked for.
    QString fallbackReason;
    QList<FramingCheck> checks;

    bool allPass() const
    {
        if (checks.isEmpty())
            return false;
        for (const FramingCheck &c : checks)
            if (!c.pass)
                return false;
        return true;
    }
    // The names of the checks that failed, in the panel's order.
    QStringList failed() const
    {
        QStringList names;
        for (const FramingCheck &c : checks)
            if (!c.pass)
                names << c.name;
        return names;
    }
};

// How a picture is framed: the faces in it, the part the photo would be cut
// from (face-centred when `autoCentre`, else centred) and the seven checks:
// one face; face centred across (within 5 % of the photo's width); head
// height within the rule's shares; eyes level (within 5 degrees); sharp
// (variance of the Laplacian over the face); the face neither dark nor
// blown out; a plain background along the photo's top and sides.
FramingReport assessFraming(const QImage &picture, const QList<FoundFace> &faces, QSize crop,
                            const IdRule &rule, bool autoCentre);
