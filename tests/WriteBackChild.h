#pragma once
// Talking to writeback_child, the process the crash suites kill: it prints
// "ready" once its table is open, then the number of each update that has
// returned, one line each.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>

namespace {

// The numbers the child printed after "ready": each a finished update, in
// order from 0. Returns how many, or -1 when the output is not that.
qint64 finishedUpdates(const QByteArray &output)
{
    QList<QByteArray> lines = output.split('\n');
    if (lines.isEmpty() || lines.first() != "ready" || !lines.last().isEmpty())
        return -1; // a line cut short: the child writes each one whole
    lines.removeFirst();
    lines.removeLast();
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines.at(i) != QByteArray::number(i))
            return -1;
    return lines.size();
}

// Waits until the child has opened the table.
bool waitReady(QProcess &child)
{
    QElapsedTimer clock;
    clock.start();
    while (!child.peek(6).startsWith("ready\n")) {
        if (clock.elapsed() > 30000 || !child.waitForReadyRead(30000 - int(clock.elapsed())))
            return false;
    }
    return true;
}

} // namespace
