#pragma once
// A camera double: records every call in order, fails the operations it is
// told to, and writes real picture files so that the preview can load them.

#include "capture/CaptureControl.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>

class RecordingCaptureControl : public CaptureControl
{
public:
    ~RecordingCaptureControl() override { delete m_widget; }

    QWidget *videoWidget() override
    {
        if (!m_widget)
            m_widget = new QWidget;
        return m_widget;
    }

    bool OpenPreview() override { return record(QStringLiteral("OpenPreview")); }
    bool ClosePreview() override { return record(QStringLiteral("ClosePreview")); }
    bool GrabStill() override { return record(QStringLiteral("GrabStill")); }
    bool ResumePreview() override { return record(QStringLiteral("ResumePreview")); }
    bool ShowVideoSettings() override { return record(QStringLiteral("ShowVideoSettings")); }
    bool ShowPictureSettings() override { return record(QStringLiteral("ShowPictureSettings")); }
    bool SaveStill(const QString &path) override
    {
        if (!record(QStringLiteral("SaveStill"), path))
            return false;
        QImage still(m_cropWidth, m_cropHeight, QImage::Format_RGB32);
        still.fill(stillColour);
        if (!still.save(path, m_format == QLatin1String("BMP") ? "BMP" : "JPG")) {
            m_error = QStringLiteral("cannot write ") + path;
            return false;
        }
        return true;
    }

    void SetSaveFormat(const QString &format) override
    {
        record(QStringLiteral("SetSaveFormat"), format.isNull() ? QStringLiteral("") : format);
        m_format = format;
    }
    QString SaveFormat() const override { return m_format; }
    void SetCropWidth(qint32 width) override
    {
        record(QStringLiteral("SetCropWidth"), QString::number(width));
        m_cropWidth = width;
    }
    void SetCropHeight(qint32 height) override
    {
        record(QStringLiteral("SetCropHeight"), QString::number(height));
        m_cropHeight = height;
    }
    qint32 CropWidth() const override { return m_cropWidth; }
    qint32 CropHeight() const override { return m_cropHeight; }

    QSize windowSize() const override { return m_windowSize; }
    void setWindowSize(const QSize &size) override { m_windowSize = size; }

    QString lastError() const override { return m_error; }

    // Live video stops on its own, as when the camera is unplugged.
    void stopPreviewOnItsOwn(const QString &reason)
    {
        m_error = reason;
        emit previewFailed(reason);
    }

    // Calls as "Name" or "Name(argument)", in order.
    QStringList calls;
    // Operation names that fail from now on.
    QSet<QString> failing;
    QColor stillColour{40, 120, 200};

private:
    bool record(const QString &name, const QString &argument = QString())
    {
        calls << (argument.isNull() ? name : name + QLatin1Char('(') + argument + QLatin1Char(')'));
        if (failing.contains(name)) {
            m_error = name + QStringLiteral(" failed");
            return false;
        }
        return true;
    }

    QPointer<QWidget> m_widget;
    QString m_format;
    qint32 m_cropWidth = 0;
    qint32 m_cropHeight = 0;
    QSize m_windowSize{640, 480};
    QString m_error;
};
