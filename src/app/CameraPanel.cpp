#include "app/CameraPanel.h"

#include "app/PreviewPanel.h"
#include "capture/CaptureControl.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

CameraPanel::CameraPanel(const Controls &controls, CaptureControl *capture, PreviewPanel &preview,
                         QObject *parent)
    : QObject(parent)
    , m_c(controls)
    , m_capture(capture)
    , m_preview(preview)
{
    const std::pair<QPushButton *, QAction *> pairs[] = {
        {m_c.Command1, m_c.opensx}, {m_c.Command2, m_c.closesx}, {m_c.Command3, m_c.peizhao},
        {m_c.Command4, m_c.quxiao}, {m_c.Command5, m_c.spset},   {m_c.Command6, m_c.tpset},
    };
    void (CameraPanel::*const handlers[])() = {&CameraPanel::openCamera,    &CameraPanel::closeCamera,
                                               &CameraPanel::takePhoto,     &CameraPanel::retakePhoto,
                                               &CameraPanel::videoSettings, &CameraPanel::pictureSettings};
    for (size_t i = 0; i < std::size(pairs); ++i) {
        connect(pairs[i].first, &QPushButton::clicked, this, handlers[i]);
        connect(pairs[i].second, &QAction::triggered, this, handlers[i]);
    }
    // A camera that stops on its own leaves the buttons as Close does: Open
    // to start again; a still already taken can still be saved or retaken.
    if (m_capture) {
        connect(m_capture, &CaptureControl::previewFailed, this, [this](const QString &reason) {
            m_open = false;
            emit status(QStringLiteral("摄像头已停止：") + reason);
            setButtons(1, 0, 0, -1, -1, 0, 0);
            emit liveChanged(false);
        });
        connect(m_capture, &CaptureControl::pictureDelivered, this, &CameraPanel::takeDeliveredPicture);
        connect(m_capture, &CaptureControl::notice, this, &CameraPanel::status);
    }
}

void CameraPanel::takeDeliveredPicture()
{
    // A question on screen (the save's overwrite question) is about the
    // still already shown: the new picture waits until it is answered.
    if (QApplication::activeModalWidget()) {
        if (!m_deliveryWaiting) {
            m_deliveryWaiting = true;
            QTimer::singleShot(250, this, [this] {
                m_deliveryWaiting = false;
                takeDeliveredPicture();
            });
        }
        return;
    }
    if (m_open)
        takePhoto();
}

void CameraPanel::setButtons(int open, int close, int take, int retake, int save, int video, int picture)
{
    const std::pair<QPushButton *, int> flags[] = {
        {m_c.Command1, open}, {m_c.Command2, close}, {m_c.Command3, take},    {m_c.Command4, retake},
        {m_c.Command8, save}, {m_c.Command5, video}, {m_c.Command6, picture},
    };
    for (const auto &[button, flag] : flags)
        if (flag >= 0)
            button->setEnabled(flag == 1);
}

void CameraPanel::focusNextStep()
{
    for (QPushButton *next : {m_c.Command8, m_c.Command3, m_c.Command4, m_c.Command1}) {
        if (next->isEnabled()) {
            next->setFocus();
            return;
        }
    }
}

void CameraPanel::failed(const QString &what)
{
    const QString reason = m_capture ? m_capture->lastError() : QStringLiteral("没有摄像头组件");
    emit status(reason.isEmpty() ? what : what + QStringLiteral("：") + reason);
}

void CameraPanel::openCamera()
{
    if (!m_capture || !m_capture->OpenPreview()) {
        failed(QStringLiteral("打开摄像头失败"));
        return;
    }
    m_open = true;
    setButtons(0, 1, 1, 0, 0, 1, 1);
    emit status(QString());
    emit liveChanged(true);
    focusNextStep();
}

void CameraPanel::closeCamera()
{
    if (m_capture && m_capture->ClosePreview())
        emit status(QString());
    else
        failed(QStringLiteral("关闭摄像头失败"));
    m_open = false;
    setButtons(1, 0, 0, -1, -1, 0, 0);
    emit liveChanged(false);
}

void CameraPanel::takePhoto()
{
    // The menu item runs whatever the buttons show: with the camera closed
    // there is nothing to take, and the buttons stay as they are.
    if (!m_open) {
        emit status(QStringLiteral("拍摄失败：摄像头没有打开，请先打开摄像头"));
        setButtons(1, 0, 0, -1, -1, 0, 0);
        return;
    }
    setButtons(0, 1, 0, 1, 1, -1, -1);
    const QString temp = m_preview.tempPhotoPath();
    if (!m_capture->GrabStill()) {
        failed(QStringLiteral("拍摄失败"));
    } else {
        // Where the photo is cut from is settled before the first file of it.
        const QString note = m_frameStill ? m_frameStill() : QString();
        if (!m_capture->SaveStill(temp)) {
            failed(QStringLiteral("临时照片写入失败"));
        } else if (!m_preview.loadPicture(temp)) {
            emit status(QStringLiteral("临时照片无法显示：") + temp);
        } else {
            m_stillFiled = false;
            emit stillTaken();
            m_preview.CentrePreviewPicture();
            m_c.Command1->setEnabled(false);
            emit status(note);
            focusNextStep();
            return;
        }
    }
    setButtons(-1, -1, 0, 1, 0, -1, -1);
}

void CameraPanel::retakePhoto()
{
    // With the camera closed (by 关闭摄像头 or on its own) the live picture
    // comes back by opening it again; when that fails, 打开摄像头 is offered.
    bool live = false;
    if (m_capture && m_open)
        live = m_capture->ResumePreview();
    else if (m_capture)
        live = m_capture->OpenPreview();
    if (!live) {
        failed(QStringLiteral("恢复视频失败"));
        m_open = false;
        setButtons(1, 0, 0, 0, -1, 0, 0);
        m_c.Command1->setFocus();
        return;
    }
    m_open = true;
    emit status(QString());
    setButtons(0, 1, 1, 0, 0, 1, 1);
    emit liveChanged(true);
    focusNextStep();
}

void CameraPanel::videoSettings()
{
    if (!m_capture || !m_capture->ShowVideoSettings())
        failed(QStringLiteral("视频设置无法显示"));
}

void CameraPanel::pictureSettings()
{
    if (!m_capture || !m_capture->ShowPictureSettings())
        failed(QStringLiteral("图片设置无法显示"));
}
