#include "capture/FrameTap.h"

#include <chrono>
#include <vector>

FrameTap::FrameTap(Source source)
    : m_source(std::move(source))
{
}

FrameTap::~FrameTap()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_consumers.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void FrameTap::setInterval(int ms)
{
    {
        std::lock_guard lock(m_lock);
        m_intervalMs = qMax(10, ms);
    }
    m_wake.notify_all();
}

int FrameTap::interval() const
{
    std::lock_guard lock(m_lock);
    return m_intervalMs;
}

void FrameTap::setWidth(int px)
{
    std::lock_guard lock(m_lock);
    m_width = qMax(16, px);
}

int FrameTap::subscribe(Consumer consumer)
{
    std::lock_guard lock(m_lock);
    const int id = m_nextId++;
    m_consumers.emplace(id, std::move(consumer));
    // Started once and kept: it sleeps while no one listens.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_wake.notify_all();
    return id;
}

void FrameTap::unsubscribe(int id)
{
    {
        std::lock_guard lock(m_lock);
        m_consumers.erase(id);
    }
    // A round of calls that copied the consumer before it went ends first.
    std::lock_guard calling(m_calling);
}

quint64 FrameTap::framesHanded() const
{
    std::lock_guard lock(m_lock);
    return m_handed;
}

void FrameTap::run()
{
    quint64 lastSerial = 0;
    bool handedAny = false;
    std::unique_lock lock(m_lock);
    while (!m_stopping) {
        const auto pause = std::chrono::milliseconds(m_intervalMs);
        if (m_consumers.empty()) {
            m_wake.wait(lock, [this] { return m_stopping || !m_consumers.empty(); });
            continue;
        }
        if (m_wake.wait_for(lock, pause, [this] { return m_stopping; }))
            break;
        const int width = m_width;
        lock.unlock();
        std::unique_lock calling(m_calling);
        quint64 serial = 0;
        const QImage frame = m_source ? m_source(width, &serial) : QImage();
        lock.lock();
        // Copied under the lock, called without it: a consumer may take its
        // time without holding up a subscription.
        std::vector<Consumer> consumers;
        if (!frame.isNull() && (!handedAny || serial != lastSerial)) {
            for (const auto &[id, consumer] : m_consumers)
                consumers.push_back(consumer);
            lastSerial = serial;
            handedAny = true;
            ++m_handed;
        }
        lock.unlock();
        for (const Consumer &consumer : consumers)
            consumer(frame);
        calling.unlock();
        lock.lock();
    }
}
