#include "capture/VideoSettingsDialog.h"

#include "capture/CameraDeviceList.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString sizeCaption(const CaptureMode &m)
{
    QString text = QStringLiteral("%1 × %2").arg(m.width).arg(m.height);
    if (m.mediaType == QLatin1String("image/jpeg"))
        text += QStringLiteral(" (MJPEG)");
    return text;
}

QString rateCaption(const FrameRate &r)
{
    if (r.denominator == 1)
        return QStringLiteral("%1 帧/秒").arg(r.numerator);
    return QStringLiteral("%1 帧/秒").arg(r.value(), 0, 'f', 2);
}
} // namespace

VideoSettingsDialog::VideoSettingsDialog(CameraDeviceList *devices, const CaptureSettings &current,
                                         QWidget *parent)
    : QDialog(parent)
    , m_devices(devices)
    , m_current(current)
{
    setWindowTitle(QStringLiteral("视频设置"));
    setObjectName(QStringLiteral("VideoSettingsDialog"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("deviceCombo"));
    m_size = new QComboBox(this);
    m_size->setObjectName(QStringLiteral("sizeCombo"));
    m_rate = new QComboBox(this);
    m_rate->setObjectName(QStringLiteral("rateCombo"));
    form->addRow(QStringLiteral("设备"), m_device);
    form->addRow(QStringLiteral("分辨率"), m_size);
    form->addRow(QStringLiteral("帧率"), m_rate);
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setPlaceholderText(QStringLiteral("相机联机程序存放照片的文件夹"));
    m_folder->setText(current.kind == CaptureSource::Kind::File ? QString() : current.path);
    m_browse = new QPushButton(QStringLiteral("选择…"), this);
    m_browse->setObjectName(QStringLiteral("folderBrowse"));
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);
    form->addRow(QStringLiteral("文件夹"), folderRow);
    layout->addLayout(form);
    m_chooseFolder = [](QWidget *parent, const QString &start) {
        return QFileDialog::getExistingDirectory(parent, folderSourceName(), start);
    };
    connect(m_browse, &QPushButton::clicked, this, [this] {
        const QString chosen = m_chooseFolder(this, m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(chosen);
    });
    connect(m_folder, &QLineEdit::textChanged, this, &VideoSettingsDialog::updateFolderRow);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_device, &QComboBox::currentIndexChanged, this, &VideoSettingsDialog::fillSizes);
    connect(m_size, &QComboBox::currentIndexChanged, this, &VideoSettingsDialog::fillRates);
    connect(m_devices, &CameraDeviceList::changed, this, [this] {
        // Keep what the operator picked so far when that camera is still there.
        m_current = selectedSettings();
        fillDevices();
    });
    fillDevices();
}

QString VideoSettingsDialog::folderSourceName()
{
    return QStringLiteral("联机拍摄文件夹");
}

void VideoSettingsDialog::updateFolderRow()
{
    const CaptureSource *source = currentSource();
    const bool folder = source && source->kind == CaptureSource::Kind::Folder;
    m_folder->setEnabled(folder);
    m_browse->setEnabled(folder);
    m_ok->setEnabled(!folder || QFileInfo(m_folder->text().trimmed()).isDir());
}

void VideoSettingsDialog::fillDevices()
{
    m_sources = m_devices->sources();
    CaptureSource folder;
    folder.kind = CaptureSource::Kind::Folder;
    folder.name = folderSourceName();
    m_sources.append(folder);
    const QSignalBlocker block(m_device);
    m_device->clear();
    int select = 0;
    for (int i = 0; i < m_sources.size(); ++i) {
        const CaptureSource &s = m_sources.at(i);
        m_device->addItem(s.kind == CaptureSource::Kind::Camera && s.name != s.devicePath
                              ? QStringLiteral("%1 (%2)").arg(s.name, s.devicePath)
                              : s.name);
        if (s.kind == m_current.kind && s.devicePath == m_current.devicePath)
            select = i;
    }
    m_device->setCurrentIndex(m_sources.isEmpty() ? -1 : select);
    fillSizes();
}

void VideoSettingsDialog::fillSizes()
{
    const QSignalBlocker block(m_size);
    m_size->clear();
    updateFolderRow();
    const CaptureSource *source = currentSource();
    int select = -1;
    if (source) {
        for (int i = 0; i < source->modes.size(); ++i) {
            const CaptureMode &m = source->modes.at(i);
            m_size->addItem(sizeCaption(m));
            if (select < 0 && m.width == m_current.width && m.height == m_current.height &&
                m.mediaType == m_current.mediaType)
                select = i;
        }
    }
    if (m_size->count() > 0)
        m_size->setCurrentIndex(select < 0 ? 0 : select);
    fillRates();
}

void VideoSettingsDialog::fillRates()
{
    const QSignalBlocker block(m_rate);
    m_rate->clear();
    const CaptureMode *mode = currentMode();
    int select = -1;
    if (mode) {
        for (int i = 0; i < mode->rates.size(); ++i) {
            m_rate->addItem(rateCaption(mode->rates.at(i)));
            if (select < 0 && mode->rates.at(i) == m_current.rate)
                select = i;
        }
    }
    if (m_rate->count() > 0)
        m_rate->setCurrentIndex(select < 0 ? 0 : select);
}

const CaptureSource *VideoSettingsDialog::currentSource() const
{
    const int i = m_device->currentIndex();
    return i >= 0 && i < m_sources.size() ? &m_sources.at(i) : nullptr;
}

const CaptureMode *VideoSettingsDialog::currentMode() const
{
    const CaptureSource *source = currentSource();
    const int i = m_size->currentIndex();
    return source && i >= 0 && i < source->modes.size() ? &source->modes.at(i) : nullptr;
}

CaptureSettings VideoSettingsDialog::selectedSettings() const
{
    CaptureSettings s = m_current;
    const CaptureSource *source = currentSource();
    if (!source)
        return s;
    s.kind = source->kind;
    s.devicePath = source->devicePath;
    s.deviceName = source->name;
    s.width = s.height = 0;
    s.rate = FrameRate{};
    s.mediaType = QStringLiteral("video/x-raw");
    // Kept whichever source is chosen: the folder is offered again next time.
    s.path = m_folder->text().trimmed();
    if (const CaptureMode *mode = currentMode()) {
        s.mediaType = mode->mediaType;
        s.width = mode->width;
        s.height = mode->height;
        const int r = m_rate->currentIndex();
        if (r >= 0 && r < mode->rates.size())
            s.rate = mode->rates.at(r);
    }
    return s;
}
