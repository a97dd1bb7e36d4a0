#include "framing/Framing.h"

#include "capture/CropGeometry.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

// Measured on the faces of the test pictures with the frontal-face cascade:
// the crown lies this many square heights above the square's top, the chin
// this many below its bottom.
constexpr double CrownAbove = 0.48;
constexpr double ChinBelow = 0.20;
// The head's place in the photo: of the room the head leaves, this share
// above it (the rest, for the shoulders, below).
constexpr double RoomAbove = 0.4;

constexpr double CentredShare = 0.05; // of the photo's width
constexpr double MaxTiltDegrees = 5.0;
constexpr double MinSharpness = 40.0; // variance of the Laplacian, face at 128 px wide, grey spread 50
constexpr double DarkMean = 70.0;     // mean grey of the face, 0-255
constexpr double BrightMean = 210.0;
constexpr double MaxClipped = 0.08;        // share of the face at 250 and above
constexpr double MaxBackgroundEdges = 6.0; // mean gradient of the border bands, grey levels a pixel

cv::Mat grayOf(const QImage &picture, QImage &keep)
{
    keep = picture.convertToFormat(QImage::Format_Grayscale8);
    return cv::Mat(keep.height(), keep.width(), CV_8UC1, const_cast<uchar *>(keep.constBits()),
                   size_t(keep.bytesPerLine()));
}

cv::Rect toCv(const QRect &r)
{
    return cv::Rect(r.x(), r.y(), r.width(), r.height());
}

double sharpness(const cv::Mat &gray, const QRect &face)
{
    cv::Mat part;
    cv::resize(gray(toCv(face)), part,
               cv::Size(128, std::max(1, 128 * face.height() / std::max(1, face.width()))), 0, 0,
               cv::INTER_AREA);
    // Stretched to a common contrast first: a dim face is no blurred one.
    cv::Scalar mean, dev;
    cv::meanStdDev(part, mean, dev);
    if (dev[0] < 1)
        return 0;
    cv::Mat even;
    part.convertTo(even, CV_64F, 50.0 / dev[0], 128 - mean[0] * 50.0 / dev[0]);
    cv::Mat lap;
    cv::Laplacian(even, lap, CV_64F);
    cv::meanStdDev(lap, mean, dev);
    return dev[0] * dev[0];
}

double edgeLevel(const cv::Mat &gray, const QRect &band)
{
    if (band.width() < 3 || band.height() < 3)
        return 0;
    cv::Mat part = gray(toCv(band));
    cv::Mat gx, gy;
    cv::Sobel(part, gx, CV_32F, 1, 0, 3, 0.25);
    cv::Sobel(part, gy, CV_32F, 0, 1, 3, 0.25);
    cv::Mat magnitude;
    cv::magnitude(gx, gy, magnitude);
    return cv::mean(magnitude)[0];
}

} // namespace

Head headOf(const QRectF &faceBox)
{
    return {faceBox.top() - CrownAbove * faceBox.height(), faceBox.bottom() + ChinBelow * faceBox.height(),
            faceBox.center().x()};
}

QRectF faceCentredRegion(QSize frame, const QRectF &faceBox, QSize crop, double share)
{
    if (frame.isEmpty() || crop.isEmpty() || faceBox.isEmpty() || share <= 0)
        return {};
    const Head head = headOf(faceBox);
    const double h = head.height() / share;
    const double w = h * crop.width() / crop.height();
    const double top = head.crown - RoomAbove * (h - head.height());
    return QRectF((head.centreX - w / 2) / frame.width(), top / frame.height(), w / frame.width(),
                  h / frame.height());
}

FramingReport assessFraming(const QImage &picture, const QList<FoundFace> &faces, QSize crop,
                            const IdRule &rule, bool autoCentre)
{
    FramingReport r;
    r.faces = int(faces.size());
    if (picture.isNull() || crop.isEmpty())
        return r;
    const QSize size = picture.size();
    const bool one = faces.size() == 1;
    if (autoCentre) {
        if (one)
            r.region = faceCentredRegion(size, faces.first().box, crop, rule.headTarget);
        else
            r.fallbackReason = faces.isEmpty()
                                   ? QStringLiteral("没有找到人脸，按固定取景框裁剪")
                                   : QStringLiteral("找到 %1 张人脸，按固定取景框裁剪").arg(faces.size());
    }
    const QRect cut = cropRectAt(size, crop, r.region);
    QImage grayImage;
    const cv::Mat gray = grayOf(picture, grayImage);

    const QString none = QStringLiteral("—");
    r.checks.append({QStringLiteral("单人"), one,
                     one               ? QStringLiteral("一人")
                     : faces.isEmpty() ? QStringLiteral("无人脸")
                                       : QStringLiteral("多人"),
                     double(faces.size())});
    if (!one) {
        for (const char *name : {"居中", "头部大小", "双眼水平", "清晰", "曝光"})
            r.checks.append({QString::fromUtf8(name), false, none, 0});
    } else {
        const FoundFace &face = faces.first();
        const Head head = headOf(face.box);
        const double off = (head.centreX - (cut.x() + cut.width() / 2.0)) / cut.width();
        const bool centred = std::abs(off) <= CentredShare;
        r.checks.append({QStringLiteral("居中"), centred,
                         centred   ? QStringLiteral("居中")
                         : off < 0 ? QStringLiteral("偏左")
                                   : QStringLiteral("偏右"),
                         off});
        const double share = head.height() / cut.height();
        r.checks.append({QStringLiteral("头部大小"), share >= rule.headMin && share <= rule.headMax,
                         share < rule.headMin   ? QStringLiteral("太小")
                         : share > rule.headMax ? QStringLiteral("太大")
                                                : QStringLiteral("合适"),
                         share});
        if (face.leftEye && face.rightEye) {
            const QPointF d = *face.rightEye - *face.leftEye;
            const double tilt = std::atan2(d.y(), d.x()) * 180.0 / M_PI;
            const bool level = std::abs(tilt) <= MaxTiltDegrees;
            r.checks.append(
                {QStringLiteral("双眼水平"), level,
                 level ? QStringLiteral("水平") : QStringLiteral("倾斜 %1°").arg(std::lround(tilt)), tilt});
        } else {
            r.checks.append({QStringLiteral("双眼水平"), false, QStringLiteral("看不到双眼"), 0});
        }
        const QRect box = face.box.toAlignedRect().intersected(QRect(QPoint(0, 0), size));
        const double detail = box.isEmpty() ? 0 : sharpness(gray, box);
        const bool sharp = detail >= MinSharpness;
        r.checks.append(
            {QStringLiteral("清晰"), sharp, sharp ? QStringLiteral("清晰") : QStringLiteral("模糊"), detail});
        // The middle of the face: cheeks, nose, eyes; not the hair.
        const QRect inner =
            box.adjusted(box.width() / 5, box.height() / 5, -box.width() / 5, -box.height() / 5);
        double mean = 0, clipped = 0;
        if (!inner.isEmpty()) {
            const cv::Mat part = gray(toCv(inner));
            mean = cv::mean(part)[0];
            clipped = double(cv::countNonZero(part >= 250)) / double(part.total());
        }
        const bool dark = mean<DarkMean, bright = mean> BrightMean || clipped > MaxClipped;
        r.checks.append({QStringLiteral("曝光"), !dark && !bright,
                         dark     ? QStringLiteral("太暗")
                         : bright ? QStringLiteral("过亮")
                                  : QStringLiteral("正常"),
                         mean});
    }
    // The background shows along the photo's top and down its sides beside
    // the head, above the shoulders.
    const int band = std::max(2, cut.width() / 10);
    QList<QRect> bands{QRect(cut.x(), cut.y(), cut.width(), std::max(2, cut.height() / 12))};
    if (one) {
        const Head head = headOf(faces.first().box);
        const int left = int(head.centreX - faces.first().box.width() * 0.75);
        const int right = int(head.centreX + faces.first().box.width() * 0.75);
        const int bottom = int(std::min<double>(head.chin, cut.bottom()));
        bands << QRect(QPoint(cut.x(), cut.y()), QPoint(std::min(left, cut.x() + band), bottom))
              << QRect(QPoint(std::max(right, cut.right() - band), cut.y()), QPoint(cut.right(), bottom));
    } else {
        bands << QRect(cut.x(), cut.y(), band, cut.height() / 2)
              << QRect(cut.right() - band + 1, cut.y(), band, cut.height() / 2);
    }
    double edges = 0;
    int counted = 0;
    for (const QRect &b : bands) {
        const QRect inside = b.intersected(QRect(QPoint(0, 0), size));
        if (inside.width() >= 3 && inside.height() >= 3) {
            edges += edgeLevel(gray, inside);
            ++counted;
        }
    }
    const double level = counted > 0 ? edges / counted : 0;
    const bool plain = counted > 0 && level <= MaxBackgroundEdges;
    r.checks.append(
        {QStringLiteral("背景"), plain, plain ? QStringLiteral("纯色") : QStringLiteral("杂乱"), level});
    return r;
}
