#include "app/PendingStore.h"

#include "app/SettingsStore.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(SettingsStore::application),
                     QLatin1String(SettingsStore::application));
}

QString rosterFile(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// "Pending/<first 16 hex digits of SHA-1(file + newline + table)>".
QString groupOf(const QString &rosterPath, const QString &tableName)
{
    const QByteArray id = (rosterFile(rosterPath) + QLatin1Char('\n') + tableName).toUtf8();
    return QStringLiteral("Pending/") +
           QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex().left(16));
}

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
    QSettings store = openStore();
    store.beginGroup(groupOf(rosterPath, tableName));
    const QJsonDocument doc =
        QJsonDocument::fromJson(store.value(QStringLiteral("entries")).toString().toUtf8());
    QList<PendingWriteBack> entries;
    for (const QJsonValue &v : doc.array())
        entries << fromJson(v.toObject());
    return entries;
}

bool PendingStore::save(const QString &rosterPath, const QString &tableName,
                        const QList<PendingWriteBack> &entries)
{
    QSettings store = openStore();
    const QString group = groupOf(rosterPath, tableName);
    if (entries.isEmpty()) {
        store.remove(group);
    } else {
        QJsonArray list;
        for (const PendingWriteBack &e : entries)
            list.append(toJson(e));
        store.beginGroup(group);
        store.setValue(QStringLiteral("roster"), rosterFile(rosterPath));
        store.setValue(QStringLiteral("table"), tableName);
        store.setValue(QStringLiteral("entries"),
                       QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
        store.endGroup();
    }
    store.sync();
    return store.status() == QSettings::NoError;
}
