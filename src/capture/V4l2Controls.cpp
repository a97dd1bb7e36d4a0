#include "capture/V4l2Controls.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int xioctl(int fd, unsigned long request, void *arg)
{
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString fixedString(const __u8 *bytes, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(bytes),
                             int(strnlen(reinterpret_cast<const char *>(bytes), size)));
}

} // namespace

V4l2Controls::~V4l2Controls()
{
    close();
}

bool V4l2Controls::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool V4l2Controls::open(const QString &devicePath)
{
    close();
    m_path = devicePath;
    // Non-blocking: the streaming side may hold the device; controls still work.
    const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("无法打开摄像头 %1：%2").arg(devicePath, errnoText()));
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        ::close(fd);
        return fail(QStringLiteral("%1 不是视频设备").arg(devicePath));
    }
    const __u32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))) {
        ::close(fd);
        return fail(QStringLiteral("%1 不是摄像头").arg(devicePath));
    }
    m_fd = fd;
    m_error.clear();
    return true;
}

void V4l2Controls::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QList<PictureControl> V4l2Controls::controls()
{
    QList<PictureControl> out;
    if (m_fd < 0) {
        fail(QStringLiteral("摄像头没有打开"));
        return out;
    }
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (xioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0) {
        const __u32 id = q.id;
        PictureControl c;
        c.id = id;
        c.name = captionFor(id, fixedString(q.name, sizeof q.name));
        c.minimum = q.minimum;
        c.maximum = q.maximum;
        c.step = q.step > 0 ? int(q.step) : 1;
        c.defaultValue = q.default_value;
        c.readOnly = q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
        c.inactive = q.flags & V4L2_CTRL_FLAG_INACTIVE;
        bool keep = !(q.flags & V4L2_CTRL_FLAG_DISABLED);
        switch (q.type) {
        case V4L2_CTRL_TYPE_INTEGER: c.type = PictureControl::Type::Integer; break;
        case V4L2_CTRL_TYPE_BOOLEAN: c.type = PictureControl::Type::Boolean; break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            c.type = PictureControl::Type::Menu;
            for (int i = q.minimum; i <= q.maximum; ++i) {
                v4l2_querymenu m{};
                m.id = id;
                m.index = __u32(i);
                if (xioctl(m_fd, VIDIOC_QUERYMENU, &m) != 0)
                    continue; // drivers leave gaps in menus
                const QString caption = q.type == V4L2_CTRL_TYPE_MENU ? fixedString(m.name, sizeof m.name)
                                                                      : QString::number(qint64(m.value));
                c.menu.append({i, caption});
            }
            keep = keep && !c.menu.isEmpty();
            break;
        case V4L2_CTRL_TYPE_BUTTON: c.type = PictureControl::Type::Button; break;
        default: keep = false; // control classes, strings, 64-bit and compound controls
        }
        if (keep && c.type != PictureControl::Type::Button) {
            v4l2_control value{};
            value.id = id;
            if (xioctl(m_fd, VIDIOC_G_CTRL, &value) == 0)
                c.value = value.value;
            else
                c.value = c.defaultValue;
        }
        if (keep)
            out << c;
        q = v4l2_queryctrl{};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return out;
}

bool V4l2Controls::setValue(quint32 id, int value)
{
    if (m_fd < 0)
        return fail(QStringLiteral("摄像头没有打开"));
    v4l2_control c{};
    c.id = id;
    c.value = value;
    if (xioctl(m_fd, VIDIOC_S_CTRL, &c) < 0)
        return fail(QStringLiteral("摄像头 %1 不接受这个设置：%2").arg(m_path, errnoText()));
    return true;
}

QString V4l2Controls::captionFor(quint32 id, const QString &driverName)
{
    switch (id) {
    case V4L2_CID_BRIGHTNESS: return QStringLiteral("亮度");
    case V4L2_CID_CONTRAST: return QStringLiteral("对比度");
    case V4L2_CID_SATURATION: return QStringLiteral("饱和度");
    case V4L2_CID_HUE: return QStringLiteral("色调");
    case V4L2_CID_GAIN: return QStringLiteral("增益");
    case V4L2_CID_SHARPNESS: return QStringLiteral("清晰度");
    case V4L2_CID_GAMMA: return QStringLiteral("伽马");
    case V4L2_CID_AUTO_WHITE_BALANCE: return QStringLiteral("自动白平衡");
    case V4L2_CID_WHITE_BALANCE_TEMPERATURE: return QStringLiteral("白平衡色温");
    case V4L2_CID_BACKLIGHT_COMPENSATION: return QStringLiteral("逆光补偿");
    case V4L2_CID_POWER_LINE_FREQUENCY: return QStringLiteral("电源频率");
    case V4L2_CID_EXPOSURE_AUTO: return QStringLiteral("曝光模式");
    case V4L2_CID_EXPOSURE_ABSOLUTE: return QStringLiteral("曝光时间");
    case V4L2_CID_EXPOSURE_AUTO_PRIORITY: return QStringLiteral("曝光优先");
    case V4L2_CID_FOCUS_AUTO: return QStringLiteral("自动对焦");
    case V4L2_CID_FOCUS_ABSOLUTE: return QStringLiteral("对焦");
    case V4L2_CID_ZOOM_ABSOLUTE: return QStringLiteral("缩放");
    default: return driverName;
    }
}
