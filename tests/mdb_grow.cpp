// mdb_grow FILE TABLE COUNT
//
// Appends COUNT records to TABLE of the Access database FILE, copies of its
// first record whose first field (a Long) counts on from 2 and whose second
// (a text) reads "oldN", as the Access crash suite grows its roster; for
// checks run by hand (scripts/roster-stress.py) on a roster of many records.

#include "MdbRowInserter.h"

#include <QCoreApplication>
#include <cstdio>

using namespace lumora::engine;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = false;
    const int count = args.size() == 3 ? args.at(2).toInt(&ok) : 0;
    if (!ok || count < 1) {
        std::fprintf(stderr, "usage: mdb_grow FILE TABLE COUNT\n");
        return 2;
    }
    try {
        MdbRowInserter::append(args.at(0), args.at(1), count, [](int i) {
            return std::map<int, Value>{{0, Value::integer(i + 2)},
                                        {1, Value::text(QStringLiteral("old%1").arg(i))}};
        });
    } catch (const EngineError &e) {
        std::fprintf(stderr, "mdb_grow: %s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}
