#include "framing/FaceFinder.h"

#include <QDir>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>

namespace {
// Chosen by measurement on real faces pasted at 48 places and scales on
// plain and busy walls (tests/tst_framing.cpp, bench/bench_face.cpp): the
// LBP cascade found all 48 at 480 pixels wide with no false face, in about
// a quarter of the time of the best Haar cascade (frontalface_alt); the
// default Haar cascade found false faces on busy walls, and dlib's HOG
// detector missed the 14 smallest faces at 2.5 times the time.
const char *const FaceCascade = "lbpcascades/lbpcascade_frontalface.xml";
const char *const EyeCascade = "haarcascades/haarcascade_eye.xml";
// The width the band of a face's eyes is looked at: an eye there is about
// 25 pixels, just above the eye cascade's 20-pixel window.
constexpr int EyeSearchWidth = 120;
} // namespace

struct FaceFinder::Cascades
{
    cv::CascadeClassifier face;
    cv::CascadeClassifier eye;
};

FaceFinder::FaceFinder(const QString &folder)
    : m_cascades(std::make_unique<Cascades>())
{
    const QDir dir(folder.isEmpty() ? cascadeFolder() : folder);
    for (const auto &[name, cascade] :
         {std::pair{FaceCascade, &m_cascades->face}, {EyeCascade, &m_cascades->eye}}) {
        const QString path = dir.filePath(QLatin1String(name));
        bool loaded = false;
        if (QFileInfo::exists(path)) {
            try {
                loaded = cascade->load(QFile::encodeName(path).toStdString());
            } catch (const cv::Exception &) {
                loaded = false;
            }
        }
        if (!loaded) {
            m_error = QStringLiteral("找不到人脸检测数据 %1（请安装 opencv-data），人脸功能不可用")
                          .arg(QDir::toNativeSeparators(path));
            return;
        }
    }
    m_ready = true;
}

FaceFinder::~FaceFinder() = default;

QString FaceFinder::cascadeFolder()
{
    return QStringLiteral("/usr/share/opencv4");
}

QList<FoundFace> FaceFinder::find(const QImage &picture, int workWidth) const
{
    QList<FoundFace> found;
    if (!m_ready || picture.isNull())
        return found;
    QImage gray = picture.width() > workWidth && workWidth > 0
                      ? picture.scaledToWidth(workWidth, Qt::FastTransformation)
                      : picture;
    gray = gray.convertToFormat(QImage::Format_Grayscale8);
    const double back = double(picture.width()) / gray.width();
    // Wraps the image's rows, padding and all: no copy.
    const cv::Mat mat(gray.height(), gray.width(), CV_8UC1, const_cast<uchar *>(gray.constBits()),
                      size_t(gray.bytesPerLine()));
    cv::Mat equalised;
    cv::equalizeHist(mat, equalised);

    std::lock_guard lock(m_lock);
    std::vector<cv::Rect> faces;
    // A face for an ID photo fills a good part of the picture: the smallest
    // looked for is a tenth of its shorter side (the cascade's own
    // window, 24 pixels, at the least).
    const int smallest = std::max(24, std::min(gray.width(), gray.height()) / 10);
    try {
        m_cascades->face.detectMultiScale(equalised, faces, 1.15, 4, 0, cv::Size(smallest, smallest));
    } catch (const cv::Exception &) {
        return found;
    }
    for (const cv::Rect &f : faces) {
        FoundFace face;
        face.box = QRectF(f.x * back, f.y * back, f.width * back, f.height * back);
        // The eyes lie in the upper part of the face's square. They are
        // looked for in the picture's own pixels, brought to a width where
        // an eye is larger than the eye cascade's window (20 pixels).
        const QRect upper = QRectF(face.box.x(), face.box.y() + face.box.height() / 5, face.box.width(),
                                   face.box.height() * 0.35)
                                .toAlignedRect()
                                .intersected(picture.rect());
        if (upper.width() >= 16 && upper.height() >= 8) {
            const QImage part = picture.copy(upper)
                                    .scaledToWidth(EyeSearchWidth, Qt::SmoothTransformation)
                                    .convertToFormat(QImage::Format_Grayscale8);
            const cv::Mat partMat(part.height(), part.width(), CV_8UC1, const_cast<uchar *>(part.constBits()),
                                  size_t(part.bytesPerLine()));
            cv::Mat partEq;
            cv::equalizeHist(partMat, partEq);
            std::vector<cv::Rect> eyes;
            try {
                m_cascades->eye.detectMultiScale(partEq, eyes, 1.15, 3, 0,
                                                 cv::Size(EyeSearchWidth / 6, EyeSearchWidth / 6),
                                                 cv::Size(EyeSearchWidth / 3, EyeSearchWidth / 3));
            } catch (const cv::Exception &) {
                eyes.clear();
            }
            // The largest one in each half of the face.
            std::optional<cv::Rect> left, right;
            for (const cv::Rect &e : eyes) {
                std::optional<cv::Rect> &side = e.x + e.width / 2 < part.width() / 2 ? left : right;
                if (!side || e.area() > side->area())
                    side = e;
            }
            const double k = double(upper.width()) / part.width();
            auto centre = [&](const cv::Rect &e) {
                return QPointF(upper.x() + (e.x + e.width / 2.0) * k, upper.y() + (e.y + e.height / 2.0) * k);
            };
            if (left && right) {
                face.leftEye = centre(*left);
                face.rightEye = centre(*right);
            }
        }
        found.append(face);
    }
    return found;
}
