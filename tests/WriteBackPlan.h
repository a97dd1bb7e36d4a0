#pragma once
// The updates the write-back child makes, shared by the child and the suite
// that checks the table after killing it: update `i` of round `round` writes
// value(round, i) into record record(round, i, count).

#include <QString>

namespace writebackplan {

// Steps of 7 visit every record of a table whose record count 7 does not
// divide; each round starts somewhere else.
inline int record(int round, qint64 i, int count)
{
    return int((qint64(round) * 37 + i * 7) % count);
}

// GBK text of varying length (13 to 28 bytes), so that the bytes of an
// update torn between two values would read as neither.
inline QString value(int round, qint64 i, int count)
{
    return QStringLiteral("照片%1_%2_%3%4.jpg")
        .arg(record(round, i, count))
        .arg(round)
        .arg(i)
        .arg(QString(int(i % 9), QLatin1Char('z')));
}

} // namespace writebackplan
