#include "data/engine/FieldNames.h"

#include <QSet>

namespace lumora::engine {

QStringList uniqueFieldNames(const QStringList &names)
{
    // Every name as written stays reserved, so a suffixed name never takes
    // the name of a later field ("A", "A", "A_2" gives "A", "A_3", "A_2").
    QSet<QString> written;
    for (const QString &name : names)
        written.insert(name.toCaseFolded());
    QSet<QString> taken;
    QStringList out;
    out.reserve(names.size());
    for (const QString &name : names) {
        QString chosen = name;
        if (taken.contains(name.toCaseFolded())) {
            for (int k = 2;; ++k) {
                chosen = name + QLatin1Char('_') + QString::number(k);
                const QString folded = chosen.toCaseFolded();
                if (!written.contains(folded) && !taken.contains(folded))
                    break;
            }
        }
        taken.insert(chosen.toCaseFolded());
        out << chosen;
    }
    return out;
}

} // namespace lumora::engine
