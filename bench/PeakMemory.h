#pragma once
// The memory an operation takes at its peak, read from /proc/self/status:
// the process's peak resident size is reset before the operation (writing
// 5 to /proc/self/clear_refs), and the peak after it, less the resident
// size before, is what the operation added.

#include <QFile>
#include <malloc.h>

namespace peak_memory {

// A line of /proc/self/status, in kB.
inline qint64 statusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLongLong();
    return 0;
}

struct Peak
{
    qint64 addedKb = 0; // the peak during the operation less the resident size before it
    qint64 peakKb = 0;  // the process's peak resident size during the operation
};

// Runs `op` once and says how much memory it took at its peak.
template <typename Op> Peak measure(Op op)
{
    malloc_trim(0); // what was freed before no longer counts as resident
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5"); // resets the peak resident size to the current one
    clear.close();
    const qint64 before = statusKb("VmRSS:");
    op();
    const qint64 peak = statusKb("VmHWM:");
    return {peak - before, peak};
}

} // namespace peak_memory
