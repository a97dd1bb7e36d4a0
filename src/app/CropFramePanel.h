#pragma once

#include "dialogs/CCommonDialogs.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

class CaptureControl;
class DialogService;
class MessageService;
class PreviewPanel;
class QAction;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QWidget;

// The crop size, the background (video window) size and the frame colour:
// the first two rows of the "照片设置" page and the menu item "相框颜色".
// The crop goes to the camera at once ("更改"); a new background size grows
// or shrinks the video window and moves the parts beside and below it by the
// same amounts, the window growing with them as far as the screen allows
// (beyond that its parts scroll); the frame colour is stored under biakuang.
class CropFramePanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QLineEdit *Texg;        // 照片高: crop height
        QLineEdit *Textk;       // 照片宽: crop width
        QPushButton *Command10; // 更改
        QLineEdit *Tebg;        // 高: background height
        QLineEdit *Tebk;        // 宽: background width
        QPushButton *Command12; // 确定: setbj
        QPushButton *Comsc;     // 上次大小
        QAction *bgcolor;       // 相框颜色
        QMainWindow *window;
        QWidget *Frame2; // preview panel, beside the video window
        QWidget *Frame3; // camera buttons, beside the preview
    };

    // video: the video window (or what stands in its place). relayout: lays
    // out the parts under the top row again for its present size.
    CropFramePanel(const Controls &controls, CaptureControl *capture, PreviewPanel &preview,
                   MessageService *messages, DialogService *dialogs, std::function<QWidget *()> video,
                   std::function<void()> relayout, QObject *parent = nullptr);

    // Start-up: the background boxes and the applied size from the video
    // window's size.
    void startUp(QSize video);

    // "更改": the crop size to the camera, or a refusal.
    void changeCrop();
    // "确定": checks the background size and applies it. False when refused.
    bool setbj();
    // "上次大小": the size stored at the last close, applied through setbj.
    void lastSize();
    // "相框颜色": the colour dialog, then the frame colour shown and stored.
    void chooseFrameColour();

    // The background size last applied, as text.
    const QString &appliedHeight() const { return m_appliedHeight; }
    const QString &appliedWidth() const { return m_appliedWidth; }

signals:
    // Something the operator should know that no message box says.
    void status(const QString &text);

private:
    void resizeParts(int dx, int dy);
    void fitWindowOnScreen(QSize wanted);
    void refuse(const QString &text, QLineEdit *box);

    Controls m_c;
    CaptureControl *m_capture;
    PreviewPanel &m_preview;
    MessageService *m_messages;
    CCommonDialogs m_colourDialog; // the window's colour dialog, kept for the run
    std::function<QWidget *()> m_video;
    std::function<void()> m_relayout;
    QString m_appliedHeight;
    QString m_appliedWidth;
};
