#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// A frame rate as GStreamer gives it, numerator / denominator.
struct FrameRate
{
    int numerator = 0;
    int denominator = 1;

    bool isValid() const { return numerator > 0 && denominator > 0; }
    double value() const { return isValid() ? double(numerator) / denominator : 0.0; }
    friend bool operator==(const FrameRate &, const FrameRate &) = default;
};

// One picture size a source delivers, in one encoding, with its frame rates.
struct CaptureMode
{
    QString mediaType; // "video/x-raw" or "image/jpeg"
    int width = 0;
    int height = 0;
    QList<FrameRate> rates; // fastest first

    friend bool operator==(const CaptureMode &, const CaptureMode &) = default;
};

// A source of video the operator can choose: a V4L2 camera, the test
// picture that stands in when the machine has no camera, a folder another
// program puts a real camera's pictures in, or a picture or video file.
struct CaptureSource
{
    enum class Kind {
        TestPicture,
        Camera,
        Folder, // "联机拍摄文件夹": each new picture there becomes the still
        File    // a still picture shown as steady video, or a video file, looped
    };

    Kind kind = Kind::TestPicture;
    QString name;       // shown to the operator
    QString devicePath; // the camera's device node, e.g. /dev/video0
    QList<CaptureMode> modes;

    friend bool operator==(const CaptureSource &, const CaptureSource &) = default;
};

// What the next OpenPreview starts: the source, and the size and rate asked
// of it (0 and an invalid rate leave them to the source).
struct CaptureSettings
{
    CaptureSource::Kind kind = CaptureSource::Kind::TestPicture;
    QString devicePath;
    QString deviceName;
    QString mediaType = QStringLiteral("video/x-raw");
    int width = 0;
    int height = 0;
    FrameRate rate;
    int pattern = 0; // the test picture's videotestsrc pattern; 0 is the SMPTE colour bars
    QString path;    // the watched folder (Folder) or the picture or video (File)

    friend bool operator==(const CaptureSettings &, const CaptureSettings &) = default;
};

Q_DECLARE_METATYPE(CaptureSettings)
