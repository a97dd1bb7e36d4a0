#pragma once

#include "capture/GstHandle.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

// Reads a GStreamer bus from the Qt event loop: a socket notifier on the bus's
// poll descriptor wakes it when messages are waiting, so no GLib main loop is
// needed. The handler runs on the thread that owns the watcher.
class BusWatcher : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(GstMessage *)>;

    BusWatcher(GstBus *bus, Handler handler, QObject *parent = nullptr);
    ~BusWatcher() override;

    // Hands every waiting message to the handler now. The handler may call
    // detach(); the remaining messages are then left on the bus.
    void drain();
    // Stops watching; safe from inside the handler.
    void detach();

private:
    GstHandle<GstBus> m_bus;
    Handler m_handler;
    QSocketNotifier *m_notifier = nullptr;
};
