#pragma once
// A camera double: records every call in order, fails the operations it is
// told to, and writes a plain frame of stillColour through the real
// StillWriter, so that the preview and the save flow get real picture files.

#include "capture/CaptureControl.h"
#include "capture/StillWriter.h"

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
        QImage frame(m_windowSize, QImage::Format_RGB32);
        frame.fill(stillColour);
        return StillWriter::write(frame, QSize(m_cropWidth, m_cropHeight),
                                  StillWriter::formatFromText(m_format), path, &m_error, m_caption);
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

    // Kept, not recorded among the calls: the window sends it whenever the
    // line's source changes.
    void SetCaption(const Caption &caption) override { m_caption = caption; }
    Caption caption() const override { return m_caption; }

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
    // The arguments of the calls to one operation, in order.
    QStringList argumentsOf(const QString &name) const
    {
        QStringList arguments;
        const QString prefix = name + QLatin1Char('(');
        for (const QString &call : calls)
            if (call.startsWith(prefix) && call.endsWith(QLatin1Char(')')))
                arguments << call.mid(prefix.size(), call.size() - prefix.size() - 1);
        return arguments;
    }
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
    // The crop the window sets at start-up.
    qint32 m_cropWidth = 150;
    qint32 m_cropHeight = 200;
    Caption m_caption;
    QSize m_windowSize{640, 480};
    QString m_error;
};
