// writeback_child FILE TABLE KEY TARGET ROUND [CONNECT]
//
// Writes file names into a table (dBase unless CONNECT, the connect string,
// names another kind) the way the program's write-back does
// (one update statement per photo, through the table engine), over and over,
// until it is killed. Prints "ready" once the table is open, then the number
// of each update as soon as it has returned. Stops on its own after 60
// seconds, or on the first failure (status 1, the reason on standard error).

#include "WriteBackPlan.h"

#include "data/engine/Database.h"
#include "data/engine/EngineError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

using namespace lumora::engine;

namespace {

// One unbuffered write per line: a line under PIPE_BUF reaches the pipe
// whole or not at all, however the process ends.
void report(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

int fail(const QString &message)
{
    std::fprintf(stderr, "writeback_child: %s\n", message.toUtf8().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 5 && args.size() != 6)
        return fail(QStringLiteral("expected FILE TABLE KEY TARGET ROUND [CONNECT]"));
    const QString &file = args.at(0), &table = args.at(1), &key = args.at(2), &target = args.at(3);
    const int round = args.at(4).toInt();

    try {
        auto db = Database::open(file, args.size() == 6 ? args.at(5) : QStringLiteral("dBASE IV"));
        const Recordset keys = db->openRecordset(QStringLiteral("select [%1] from [%2]").arg(key, table));
        const int count = int(keys.size());
        if (count == 0)
            return fail(QStringLiteral("the table has no records"));
        report("ready");
        QElapsedTimer clock;
        clock.start();
        for (qint64 i = 0; clock.elapsed() < 60000; ++i) {
            const int record = writebackplan::record(round, i, count);
            const Value &k = keys.value(record, 0);
            const QString literal = k.isNumber()
                                        ? k.toText()
                                        : QLatin1Char('\'') +
                                              k.toText().replace(QLatin1Char('\''), QLatin1String("''")) +
                                              QLatin1Char('\'');
            const QString statement =
                QStringLiteral("update [%1] set [%2]='%3' where [%4]=%5")
                    .arg(table, target, writebackplan::value(round, i, count), key, literal);
            const qsizetype changed = db->execute(statement);
            if (changed != 1)
                return fail(QStringLiteral("%1 changed %2 records").arg(statement).arg(changed));
            report(QByteArray::number(i));
        }
    } catch (const EngineError &e) {
        return fail(e.message());
    }
    return 0;
}
