#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CaptureControl;
class PreviewPanel;
class QAction;
class QPushButton;

// The camera commands: the buttons beside the preview and the items of the
// "照相" and "设置" menus, which run the same handling (the menu items
// whatever state the buttons show). It keeps whether live video runs, so
// that the buttons always tell the truth, and whether the still on show was
// already saved for a person.
class CameraPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QPushButton *Command1; // 打开摄像头
        QPushButton *Command2; // 关闭摄像头
        QPushButton *Command3; // 拍摄照片(&P)
        QPushButton *Command4; // 恢复再拍(&R)
        QPushButton *Command8; // 保存照片(&S): only switched here, run by the save flow
        QPushButton *Command5; // 视频设置
        QPushButton *Command6; // 图片设置
        QAction *opensx, *closesx, *peizhao, *quxiao, *spset, *tpset;
    };

    // capture may be nullptr (no camera component): every command then
    // fails with a reason.
    CameraPanel(const Controls &controls, CaptureControl *capture, PreviewPanel &preview,
                QObject *parent = nullptr);

    void openCamera();
    void closeCamera();
    void takePhoto();
    // A picture the camera delivered on its own (a tether folder): taken as
    // by 拍摄照片 while live video runs.
    void takeDeliveredPicture();
    void retakePhoto();
    void videoSettings();
    void pictureSettings();

    // 1 enables, 0 disables, -1 leaves the button as it is; in the order
    // Command1, 2, 3, 4, 8, 5, 6.
    void setButtons(int open, int close, int take, int retake, int save, int video, int picture);

    // Keyboard focus to the button of the operator's next step: 保存照片
    // after a take, else 拍摄照片, else 恢复再拍 (after a save, when the take
    // waits for live video), else 打开摄像头. Space then walks the photo day
    // and never lands on 锁定保存设置.
    void focusNextStep();

    // Run by a take between grabbing the still and writing it: frames the
    // still (where the photo is cut from) and returns what the status line
    // should say of it ("" when nothing).
    void setStillFramer(std::function<QString()> framer) { m_frameStill = std::move(framer); }

    bool stillFiled() const { return m_stillFiled; }
    void markStillFiled() { m_stillFiled = true; }

signals:
    // How the last command went, for the status line ("" when it went well).
    void status(const QString &text);
    // A still was taken and shows in the preview.
    void stillTaken();
    // Live video shows (true: opened, or back after a take) or no longer
    // runs (false: closed or stopped on its own).
    void liveChanged(bool live);

private:
    void failed(const QString &what);

    Controls m_c;
    CaptureControl *m_capture;
    PreviewPanel &m_preview;
    bool m_open = false;            // live video runs (opened, and not closed or stopped since)
    bool m_stillFiled = false;      // the still on show was saved for a person in data-table mode
    bool m_deliveryWaiting = false; // a delivered picture waits for a modal question to go
    std::function<QString()> m_frameStill;
};
