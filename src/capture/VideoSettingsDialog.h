#pragma once

#include "capture/CaptureSource.h"

#include <QDialog>

#include <functional>

class CameraDeviceList;
class QComboBox;
class QLineEdit;
class QPushButton;

// "视频设置": which source, picture size and frame rate the next preview
// uses, from what the sources offer. The device list follows cameras being
// plugged in and out while the dialog is open. Its last entry,
// "联机拍摄文件夹", is the folder a camera's own tether program saves into;
// the dialog is accepted with it only when that folder exists.
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
    QLineEdit *folderEdit() const { return m_folder; }
    QPushButton *okButton() const { return m_ok; }

    // The name of the folder entry.
    static QString folderSourceName();
    // Asks the operator for a folder, starting at the one given; empty when
    // cancelled. QFileDialog unless replaced.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &start)>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

private:
    void fillDevices();
    void fillSizes();
    void fillRates();
    const CaptureSource *currentSource() const;
    const CaptureMode *currentMode() const;
    void updateFolderRow();

    CameraDeviceList *m_devices;
    CaptureSettings m_current;
    QList<CaptureSource> m_sources;
    QComboBox *m_device;
    QComboBox *m_size;
    QComboBox *m_rate;
    QLineEdit *m_folder;
    QPushButton *m_browse;
    QPushButton *m_ok;
    FolderChooser m_chooseFolder;
};
