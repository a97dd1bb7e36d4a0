#include "app/SettingsBinding.h"

#include "app/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

SettingsBinding::SettingsBinding(const QWidget &window, std::function<QString(const QString &)> special)
    : m_window(window), m_special(std::move(special))
{
}

QString SettingsBinding::storedText(const QWidget *control)
{
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (const auto *box = qobject_cast<const QCheckBox *>(control)) {
        switch (box->checkState()) {
        case Qt::Unchecked: return QStringLiteral("0");
        case Qt::Checked: return QStringLiteral("1");
        case Qt::PartiallyChecked: return QStringLiteral("2");
        }
    }
    if (const auto *list = qobject_cast<const QComboBox *>(control))
        return QString::number(list->currentIndex());
    return {};
}

QString SettingsBinding::write(const QString &writtenBy) const
{
    for (const SettingsStore::Key &key : SettingsStore::keys()) {
        if (writtenBy != QLatin1String(key.writtenBy))
            continue;
        const QString control = QString::fromUtf8(key.control);
        const QWidget *widget = m_window.findChild<const QWidget *>(control);
        const QString value = widget ? storedText(widget) : m_special(control);
        if (!SettingsStore::save(QLatin1String(key.name), value))
            return QLatin1String(key.name);
    }
    return {};
}
