#pragma once

#include "capture/CaptureSource.h"

#include <QObject>

#include <memory>
#include <optional>

typedef struct _GstCaps GstCaps;
typedef struct _GstDevice GstDevice;
class BusWatcher;

// The video sources the operator can choose from: the V4L2 cameras that
// GStreamer's device monitor finds ("Video/Source"), or only the test picture
// "测试图像" when there is none. While started it follows cameras being plugged
// in and out, reading the monitor's bus from the Qt event loop.
class CameraDeviceList : public QObject
{
    Q_OBJECT
public:
    explicit CameraDeviceList(QObject *parent = nullptr);
    ~CameraDeviceList() override;

    // Starts the device monitor and fills the list; false with lastError()
    // when GStreamer cannot be used (the list then offers the test picture).
    bool start();
    void stop();
    QString lastError() const { return m_error; }

    QList<CaptureSource> sources() const { return m_sources; }
    // Replaces the cameras found; emits changed() when the list differs.
    void setCameras(const QList<CaptureSource> &cameras);

    // The name under which the test picture is offered.
    static QString testPictureName();
    static CaptureSource testPicture();
    // The cameras, or the test picture alone when there is no camera.
    static QList<CaptureSource> offered(const QList<CaptureSource> &cameras);
    // The picture sizes and rates in a device's caps; raw video first.
    static QList<CaptureMode> modesFromCaps(const GstCaps *caps);
    // A camera from a monitor's device; nullopt when it is not a V4L2 capture node.
    static std::optional<CaptureSource> cameraFromDevice(GstDevice *device);
    // One look at the machine's cameras without following changes.
    static QList<CaptureSource> probe();

signals:
    void changed();

private:
    void rescan();

    struct Monitor;
    std::unique_ptr<Monitor> m_monitor;
    BusWatcher *m_watcher = nullptr;
    QList<CaptureSource> m_sources;
    QString m_error;
};
