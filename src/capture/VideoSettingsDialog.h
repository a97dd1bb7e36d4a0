#pragma once

#include "capture/CaptureSource.h"

#include <QDialog>

class CameraDeviceList;
class QComboBox;

// "视频设置": which source, picture size and frame rate the next preview
// uses, from what the sources offer. The device list follows cameras being
// plugged in and out while the dialog is open.
class VideoSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    VideoSettingsDialog(CameraDeviceList *devices, const CaptureSettings &current, QWidget *parent = nullptr);

    // The choice as it stands; the test picture's pattern is carried over.
    CaptureSettings selectedSettings() const;

    QComboBox *deviceBox() const { return m_device; }
    QComboBox *sizeBox() const { return m_size; }
    QComboBox *rateBox() const { return m_rate; }

private:
    void fillDevices();
    void fillSizes();
    void fillRates();
    const CaptureSource *currentSource() const;
    const CaptureMode *currentMode() const;

    CameraDeviceList *m_devices;
    CaptureSettings m_current;
    QList<CaptureSource> m_sources;
    QComboBox *m_device;
    QComboBox *m_size;
    QComboBox *m_rate;
};
