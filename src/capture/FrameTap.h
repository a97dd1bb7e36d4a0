#pragma once

#include <QImage>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// A tap on running live video for whatever looks at the picture (a face
// finder, a barcode scanner): a few times a second, on a worker thread of
// its own, it takes the newest frame from its source, downscaled (320
// pixels wide unless set otherwise), and hands it to every subscriber. The
// video itself never waits for it and loses no frame to it: the source only
// lends the newest frame it already keeps. A frame already handed over is
// not handed over again, and nothing is handed while the source has none
// (video stopped).
//
//     FrameTap tap([&](int width, quint64 *serial) { return pipeline.sampledFrame(width, serial); });
//     const int id = tap.subscribe([](const QImage &frame) { /* worker thread */ });
//     ...
//     tap.unsubscribe(id); // the consumer is not running and will not run again
class FrameTap
{
public:
    // Returns the newest frame scaled to `width` pixels wide (null when there
    // is none) and its serial number; called on the tap's thread.
    using Source = std::function<QImage(int width, quint64 *serial)>;
    // Called on the tap's thread with each new frame; must not subscribe or
    // unsubscribe itself.
    using Consumer = std::function<void(const QImage &frame)>;

    explicit FrameTap(Source source);
    // Stops the thread; no consumer runs after it.
    ~FrameTap();
    FrameTap(const FrameTap &) = delete;
    FrameTap &operator=(const FrameTap &) = delete;

    // Time between two looks at the source, milliseconds (at least 10).
    void setInterval(int ms);
    int interval() const;
    // Width of the frames handed over, pixels (at least 16).
    void setWidth(int px);

    // Adds a consumer; the thread runs while there is one. Returns its id.
    int subscribe(Consumer consumer);
    // Removes a consumer and waits until it is not running: after the call
    // it is never called again. Any thread but the tap's own.
    void unsubscribe(int id);

    // Frames handed over since the tap was made (each to every consumer).
    quint64 framesHanded() const;

private:
    void run();

    Source m_source;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::map<int, Consumer> m_consumers;
    int m_nextId = 1;
    int m_intervalMs = 250;
    int m_width = 320;
    bool m_stopping = false;
    quint64 m_handed = 0;
    std::mutex m_calling; // held while consumers run
    std::thread m_thread;
};
