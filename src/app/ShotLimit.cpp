#include "app/ShotLimit.h"

#include "app/SettingsStore.h"
#include "data/CodeLookup.h"
#include "data/DataSource.h"
#include "data/RosterModel.h"
#include "dialogs/MessageService.h"

#include <QAction>
#include <QMenu>

namespace {
// Settings key: "0" saves a second photo of a person without asking.
const QString kAskKey = QStringLiteral("zpxz");
} // namespace

ShotLimit::ShotLimit(const DataSource &ds, const RosterModel &roster, MessageService *messages, QMenu *zhaox,
                     QWidget *window)
    : QObject(window)
    , m_ds(ds)
    , m_roster(roster)
    , m_messages(messages)
    , m_window(window)
    , m_action(new QAction(QStringLiteral("同一人再拍时先询问"), this))
{
    setObjectName(QStringLiteral("shotLimit"));
    m_action->setObjectName(QStringLiteral("zpxz"));
    m_action->setCheckable(true);
    m_action->setChecked(SettingsStore::get(kAskKey, QStringLiteral("1")) != QLatin1String("0"));
    connect(m_action, &QAction::toggled, this,
            [](bool on) { SettingsStore::save(kAskKey, on ? QStringLiteral("1") : QStringLiteral("0")); });
    zhaox->addAction(m_action);
}

QString ShotLimit::personOf(int row) const
{
    QStringList parts{m_ds.databasePath, m_ds.tableName};
    if (m_ds.keyColumns.isEmpty())
        parts << QString::number(m_roster.recordOf(row));
    for (qint16 c : m_ds.keyColumns)
        parts << m_roster.cellText(row, c).trimmed();
    return parts.join(QChar(0x1f));
}

QString ShotLimit::nameOf(int row) const
{
    const int name = NameColumn(m_roster);
    QString text = name > 0 ? m_roster.cellText(row, name).trimmed() : QString();
    if (text.isEmpty() && !m_ds.keyColumns.isEmpty())
        text = m_roster.cellText(row, m_ds.keyColumns.constFirst()).trimmed();
    return text.isEmpty() ? QStringLiteral("第 %1 行").arg(row) : text;
}

bool ShotLimit::mayShoot(int row, QString *why)
{
    m_asked = personOf(row);
    if (!m_action->isChecked())
        return true;
    const QString name = nameOf(row);
    if (m_shot.contains(m_asked)) {
        if (!m_messages->askYesNo(m_window, QStringLiteral("%1已经拍过，再拍一张吗？").arg(name),
                                  MessageService::programTitle(), MessageService::Default::No)) {
            *why = QStringLiteral("照片未保存：%1已经拍过").arg(name);
            return false;
        }
    } else if (m_scannedSinceTake && row != m_rowAtTake) {
        if (!m_messages->askYesNo(
                m_window,
                QStringLiteral("这张照片是扫码转到%1之前拍的，可能不是%1。仍然保存为%1吗？").arg(name),
                MessageService::programTitle(), MessageService::Default::No)) {
            *why = QStringLiteral("照片未保存：照片是扫码之前拍的，请给%1重新拍摄").arg(name);
            return false;
        }
    }
    return true;
}

void ShotLimit::shot()
{
    m_shot.insert(m_asked);
    m_scannedSinceTake = false;
}

void ShotLimit::stillTaken(int row)
{
    m_rowAtTake = row;
    m_scannedSinceTake = false;
}

void ShotLimit::scanned(int row)
{
    if (row != m_rowAtTake)
        m_scannedSinceTake = true;
}

void ShotLimit::forget()
{
    m_shot.clear();
    m_scannedSinceTake = false;
}
