#pragma once

#include "capture/PictureControlSet.h"

// A V4L2 camera's own picture controls (brightness, contrast, saturation,
// hue, gain, sharpness, white balance, exposure ...), read and set through the
// device node with VIDIOC_QUERYCTRL, VIDIOC_G_CTRL and VIDIOC_S_CTRL.
class V4l2Controls : public PictureControlSet
{
public:
    V4l2Controls() = default;
    ~V4l2Controls() override;
    V4l2Controls(const V4l2Controls &) = delete;
    V4l2Controls &operator=(const V4l2Controls &) = delete;

    // Opens the device node; false with lastError() when it is missing, cannot
    // be opened or is not a V4L2 capture device.
    bool open(const QString &devicePath);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    QList<PictureControl> controls() override;
    bool setValue(quint32 id, int value) override;
    QString lastError() const override { return m_error; }

    // The caption the operator sees for a control: ours for the common ones,
    // else the driver's name.
    static QString captionFor(quint32 id, const QString &driverName);

private:
    bool fail(const QString &why);

    int m_fd = -1;
    QString m_path;
    QString m_error;
};
