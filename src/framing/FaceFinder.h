#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

// One face found in a picture, in the picture's pixels.
struct FoundFace
{
    QRectF box; // the detector's square: forehead to below the mouth, cheek to cheek
    // The eyes' centres, when both were found: left and right as they lie
    // in the picture.
    std::optional<QPointF> leftEye;
    std::optional<QPointF> rightEye;
};

// Finds frontal faces with OpenCV's LBP cascade and their eyes with its Haar
// eye cascade, both from the opencv-data package, read from their Debian
// folder; nothing is fetched.
// A picture wider than `workWidth` is looked at scaled down to it, and the
// faces are given back in its own pixels. find() may be called from any
// thread, one call at a time per finder (it holds a lock).
//
//     FaceFinder finder;
//     if (!finder.isReady()) status(finder.error()); // "找不到人脸检测数据 ..."
//     const QList<FoundFace> faces = finder.find(frame);
class FaceFinder
{
public:
    // folder: where the cascade folders (lbpcascades/, haarcascades/) lie;
    // empty: cascadeFolder().
    explicit FaceFinder(const QString &folder = {});
    ~FaceFinder();

    bool isReady() const { return m_ready; }
    // Why it is not ready, for the operator; empty when it is.
    QString error() const { return m_error; }

    // The Debian folder of OpenCV's cascades.
    static QString cascadeFolder();

    QList<FoundFace> find(const QImage &picture, int workWidth = 480) const;

private:
    struct Cascades;
    std::unique_ptr<Cascades> m_cascades;
    mutable std::mutex m_lock;
    bool m_ready = false;
    QString m_error;
};
