#include "app/RosterResume.h"

#include "app/SettingsBinding.h"
#include "data/DataSource.h"
#include "dialogs/MessageService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QWidget>

namespace {

enum class Kind {
    Text,   // a line edit's text
    Check,  // a check box: "0", "1", "2" (partly)
    Column, // a column picker: the column's name
    Index,  // a fixed list: the entry's index
};

struct Item
{
    const char *control; // objectName, also the key
    Kind kind;
    const char *role; // for the operator, when it cannot be put back
};

// In the order they are put back: a check box before the controls it
// enables, the write-back column before its switch, the caption's parts
// before the caption is switched on.
constexpr Item kItems[] = {
    {"Text1", Kind::Text, "保存的目录"},
    {"Comfname1", Kind::Column, "照片文件名的列"},
    {"Chefname2", Kind::Check, ""},
    {"Comfname2", Kind::Column, "照片文件名的第二列"},
    {"Chekb1", Kind::Check, ""},
    {"Comkb1", Kind::Column, "可变目录1的列"},
    {"Chekb2", Kind::Check, ""},
    {"Comkb2", Kind::Column, "可变目录2的列"},
    {"Comgs", Kind::Index, ""},
    {"Cheqbm", Kind::Check, ""},
    {"Texqbm", Kind::Text, ""},
    {"Chekzm", Kind::Check, ""},
    {"Comzd", Kind::Column, "存入文件名的列"},
    {"Chezd", Kind::Check, ""},
    {"Comtext", Kind::Index, ""},
    {"Comt1", Kind::Column, "照片文本的列"},
    {"Cheta", Kind::Check, ""},
    {"Comt2", Kind::Column, "照片文本的第二列"},
    {"Textt", Kind::Text, ""},
    {"Texleft", Kind::Text, ""},
    {"Textop", Kind::Text, ""},
    {"Check1", Kind::Check, ""},
};

// The key that says a day is stored, and when.
const QString kSavedKey = QStringLiteral("saved");

} // namespace

RosterResume::RosterResume(QWidget &window, const DataSource &ds, MessageService *messages)
    : m_window(window)
    , m_ds(ds)
    , m_messages(messages)
{
}

bool RosterResume::save(const QWidget &window, const RosterStore &store)
{
    if (!store.isValid())
        return false;
    bool ok = store.setValue(QStringLiteral("file"), store.file()) &&
              store.setValue(QStringLiteral("table"), store.table());
    for (const Item &item : kItems) {
        const QString name = QLatin1String(item.control);
        const QWidget *control = window.findChild<const QWidget *>(name);
        if (!control)
            continue;
        QString value = SettingsBinding::storedText(control);
        if (item.kind == Kind::Column) {
            const auto *list = static_cast<const QComboBox *>(control);
            value = list->currentIndex() >= 0 ? list->itemText(list->currentIndex()) : QString();
        }
        ok = store.setValue(name, value) && ok;
    }
    // Written last: a day whose values did not all reach the store is
    // still offered, with what did.
    return store.setValue(kSavedKey, QDateTime::currentDateTime().toString(Qt::ISODate)) && ok;
}

bool RosterResume::hasDay(const RosterStore &store)
{
    return store.contains(kSavedKey);
}

QStringList RosterResume::apply(QWidget &window, const RosterStore &store, bool writeBackAllowed)
{
    QStringList notes;
    for (const Item &item : kItems) {
        const QString name = QLatin1String(item.control);
        if (!store.contains(name))
            continue;
        const QString value = store.value(name);
        QWidget *control = window.findChild<QWidget *>(name);
        if (!control)
            continue;
        switch (item.kind) {
        case Kind::Text: static_cast<QLineEdit *>(control)->setText(value); break;
        case Kind::Check: {
            auto *box = static_cast<QCheckBox *>(control);
            const int state = value.toInt();
            if (name == QLatin1String("Chezd") && state != 0 && !writeBackAllowed) {
                notes << QStringLiteral("“图片文件名存入数据表”没有恢复：这次打开数据表时没有指定主键");
                break;
            }
            box->setCheckState(state == 2 ? Qt::PartiallyChecked : state == 1 ? Qt::Checked : Qt::Unchecked);
            break;
        }
        case Kind::Column: {
            auto *list = static_cast<QComboBox *>(control);
            // No column chosen that day: only the write-back column goes back
            // to none; another picker keeps what it shows.
            if (value.isEmpty()) {
                if (name == QLatin1String("Comzd"))
                    list->setCurrentIndex(-1);
                break;
            }
            const int index = list->findText(value, Qt::MatchExactly);
            if (index < 0) {
                notes << QStringLiteral("%1“%2”已不在数据表中").arg(QString::fromUtf8(item.role), value);
                break;
            }
            list->setCurrentIndex(index);
            // The write-back column's own check lets go of a key.
            if (list->currentIndex() != index)
                notes << QStringLiteral("%1“%2”现在是主键或不是文本列，没有恢复")
                             .arg(QString::fromUtf8(item.role), value);
            break;
        }
        case Kind::Index: {
            auto *list = static_cast<QComboBox *>(control);
            bool ok = false;
            const int index = value.toInt(&ok);
            if (ok && index >= 0 && index < list->count())
                list->setCurrentIndex(index);
            break;
        }
        }
    }
    return notes;
}

void RosterResume::leaveRoster()
{
    if (m_inCharge.isValid())
        save(m_window, m_inCharge);
}

QString RosterResume::rosterOpened()
{
    const RosterStore opened = RosterStore::of(m_ds);
    // The roster in charge opened again (other keys, say): its settings are
    // on show already.
    if (opened == m_inCharge)
        return {};
    m_inCharge = opened;
    if (!hasDay(opened))
        return {};
    const QDateTime saved = QDateTime::fromString(opened.value(kSavedKey), Qt::ISODate);
    const QString question =
        kResumeQuestion +
        QStringLiteral("\n\n%1 %2").arg(QFileInfo(opened.file()).fileName(), opened.table()) +
        (saved.isValid()
             ? QStringLiteral("\n上次：%1").arg(saved.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
             : QString()) +
        QStringLiteral("\n（保存目录、文件名、可变目录、写入数据表、格式、区别码和照片文本）");
    if (!m_messages->askYesNo(&m_window, question, MessageService::programTitle(),
                              MessageService::Default::Yes))
        return {};
    const QStringList notes = apply(m_window, opened, m_ds.keyCount > 0);
    QString line = QStringLiteral("已继续上次的拍摄设置");
    if (!notes.isEmpty())
        line += QStringLiteral("；") + notes.join(QStringLiteral("；"));
    return line;
}
