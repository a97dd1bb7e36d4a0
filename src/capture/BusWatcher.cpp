#include "capture/BusWatcher.h"

#include <QSocketNotifier>
#include <QTimer>

BusWatcher::BusWatcher(GstBus *bus, Handler handler, QObject *parent)
    : QObject(parent)
    , m_bus(GST_BUS(gst_object_ref(bus)))
    , m_handler(std::move(handler))
{
    GPollFD fd{};
    gst_bus_get_pollfd(m_bus.get(), &fd);
    if (fd.fd >= 0) {
        m_notifier = new QSocketNotifier(fd.fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &BusWatcher::drain);
    } else {
        // No descriptor to wait on: poll instead.
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &BusWatcher::drain);
        timer->start(50);
    }
}

BusWatcher::~BusWatcher() = default;

void BusWatcher::drain()
{
    while (m_bus) {
        GstMessageHandle message(gst_bus_pop(m_bus.get()));
        if (!message)
            break;
        m_handler(message.get());
    }
}

void BusWatcher::detach()
{
    m_bus.reset();
    if (m_notifier) {
        // We may be inside the notifier's own signal: let it go later.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    for (QTimer *timer : findChildren<QTimer *>())
        timer->stop();
}
