#include "app/PendingStore.h"

#include "app/RosterStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonArray toJson(const QStringList &texts)
{
    return QJsonArray::fromStringList(texts);
}

QStringList textsOf(const QJsonValue &value)
{
    QStringList texts;
    for (const QJsonValue &v : value.toArray())
        texts << v.toString();
    return texts;
}

QJsonObject toJson(const PendingWriteBack &e)
{
    QJsonArray keys;
    for (const WriteBackKey &k : e.keys)
        keys.append(QJsonObject{{QStringLiteral("column"), k.column},
                                {QStringLiteral("type"), int(k.type)},
                                {QStringLiteral("value"), k.value}});
    return QJsonObject{{QStringLiteral("person"), e.person},
                       {QStringLiteral("reason"), e.reason},
                       {QStringLiteral("waitsForLock"), e.waitsForLock},
                       {QStringLiteral("target"), e.target},
                       {QStringLiteral("targetType"), int(e.targetType)},
                       {QStringLiteral("value"), e.value},
                       {QStringLiteral("photo"), e.photoPath},
                       {QStringLiteral("keys"), keys},
                       {QStringLiteral("columns"), toJson(e.columns)},
                       {QStringLiteral("texts"), toJson(e.texts)}};
}

PendingWriteBack fromJson(const QJsonObject &o)
{
    PendingWriteBack e;
    e.person = o.value(QStringLiteral("person")).toString();
    e.reason = o.value(QStringLiteral("reason")).toString();
    e.waitsForLock = o.value(QStringLiteral("waitsForLock")).toBool();
    e.target = o.value(QStringLiteral("target")).toString();
    e.targetType = qint16(o.value(QStringLiteral("targetType")).toInt());
    e.value = o.value(QStringLiteral("value")).toString();
    e.photoPath = o.value(QStringLiteral("photo")).toString();
    for (const QJsonValue &v : o.value(QStringLiteral("keys")).toArray()) {
        const QJsonObject k = v.toObject();
        e.keys << WriteBackKey{k.value(QStringLiteral("column")).toString(),
                               qint16(k.value(QStringLiteral("type")).toInt()),
                               k.value(QStringLiteral("value")).toString()};
    }
    e.columns = textsOf(o.value(QStringLiteral("columns")));
    e.texts = textsOf(o.value(QStringLiteral("texts")));
    return e;
}

} // namespace

QList<PendingWriteBack> PendingStore::load(const QString &rosterPath, const QString &tableName)
{
    const QJsonDocument doc =
        QJsonDocument::fromJson(RosterStore(rosterPath, tableName).value(QStringLiteral("pending")).toUtf8());
    QList<PendingWriteBack> entries;
    for (const QJsonValue &v : doc.array())
        entries << fromJson(v.toObject());
    return entries;
}

bool PendingStore::save(const QString &rosterPath, const QString &tableName,
                        const QList<PendingWriteBack> &entries)
{
    QJsonArray list;
    for (const PendingWriteBack &e : entries)
        list.append(toJson(e));
    return RosterStore(rosterPath, tableName)
        .setValue(QStringLiteral("pending"),
                  entries.isEmpty() ? QString()
                                    : QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
}
