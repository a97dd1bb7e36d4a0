#include "app/RosterStore.h"

#include "app/SettingsStore.h"
#include "data/DataSource.h"

#include <QCryptographicHash>
#include <QFileInfo>

RosterStore::RosterStore(const QString &file, const QString &table)
{
    if (file.isEmpty() || table.isEmpty())
        return;
    const QFileInfo info(file);
    m_file = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    m_table = table;
    const QByteArray hash =
        QCryptographicHash::hash((m_file + QLatin1Char('\n') + m_table).toUtf8(), QCryptographicHash::Sha1);
    m_id = QString::fromLatin1(hash.toHex().left(16));
}

RosterStore RosterStore::of(const DataSource &ds)
{
    return RosterStore(ds.databasePath, ds.tableName);
}

QString RosterStore::section() const
{
    return QStringLiteral("Rosters/") + m_id;
}

bool RosterStore::contains(const QString &key) const
{
    // A stored key reads the same whatever the default.
    return isValid() && value(key) == value(key, QStringLiteral("-"));
}

QString RosterStore::value(const QString &key, const QString &defaultValue) const
{
    if (!isValid())
        return defaultValue;
    return SettingsStore::GetSetting(QLatin1String(SettingsStore::application), section(), key, defaultValue);
}

bool RosterStore::setValue(const QString &key, const QString &value) const
{
    return isValid() &&
           SettingsStore::SaveSetting(QLatin1String(SettingsStore::application), section(), key, value);
}
