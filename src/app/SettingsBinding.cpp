#include "app/SettingsBinding.h"

#include "app/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <cmath>
#include <limits>

SettingsBinding::SettingsBinding(QWidget &window, std::function<QString(const QString &)> special)
    : m_window(window)
    , m_special(std::move(special))
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
        QString value = widget ? storedText(widget) : m_special(control);
        // A column list no table has filled this run holds no choice: the
        // choice stored by an earlier run stays (or, on a first run, the
        // key's default), never -1 for the next run's roster to apply.
        const auto *list = qobject_cast<const QComboBox *>(widget);
        if (list && list->count() == 0) {
            const QString name = QLatin1String(key.name);
            // A stored key reads the same whatever the default.
            if (SettingsStore::get(name, QString()) == SettingsStore::get(name, QStringLiteral("-")))
                continue;
            const QString fallback = SettingsStore::defaultFor(name);
            if (!fallback.isEmpty())
                value = fallback;
        }
        if (!SettingsStore::save(QLatin1String(key.name), value))
            return QLatin1String(key.name);
    }
    return {};
}

bool SettingsBinding::wholeNumber(const QString &text, qint32 &value)
{
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    const double r = std::nearbyint(d);
    if (r < double(std::numeric_limits<qint32>::min()) || r > double(std::numeric_limits<qint32>::max()))
        return false;
    value = qint32(r);
    return true;
}

bool SettingsBinding::validPackedColour(qint32 value)
{
    return value >= 0 && value <= 0xffffff;
}

bool SettingsBinding::applyListIndex(QComboBox *list, const QString &text)
{
    qint32 index = 0;
    if (!wholeNumber(text, index) || index < -1)
        return false;
    if (index < list->count())
        list->setCurrentIndex(index);
    return true;
}

QLineEdit *SettingsBinding::edit(const char *name) const
{
    return m_window.findChild<QLineEdit *>(QLatin1String(name));
}

QComboBox *SettingsBinding::list(const char *name) const
{
    return m_window.findChild<QComboBox *>(QLatin1String(name));
}

void SettingsBinding::redzpsvset(const Restorer &r) const
{
    auto get = [](const char *key) {
        return SettingsStore::get(QLatin1String(key), SettingsStore::defaultFor(QLatin1String(key)));
    };

    edit("Text1")->setText(get("zpph"));
    edit("Texfname")->setText(get("zpnametex"));
    if (!applyListIndex(list("Comfname1"), get("zpnamecom1")) ||
        !applyListIndex(list("Comfname2"), get("zpnamecom2")))
        return;
    edit("Texg")->setText(get("zph"));
    edit("Textk")->setText(get("zpw"));
    if (!edit("Texg")->text().isEmpty() && !edit("Textk")->text().isEmpty()) {
        qint32 width = 0;
        qint32 height = 0;
        if (!wholeNumber(edit("Textk")->text(), width))
            return;
        r.setCropWidth(width);
        if (!wholeNumber(edit("Texg")->text(), height))
            return;
        r.setCropHeight(height);
    }
    edit("Texleft")->setText(get("zptexlef"));
    edit("Textop")->setText(get("zptextop"));
    bool ok = false;
    const double size = get("zptexsize").trimmed().toDouble(&ok);
    if (!ok || !(size > 0) || !std::isfinite(size))
        return;
    r.setFontSize(size);
    qint32 colour = 0;
    if (!wholeNumber(get("zptexcolor"), colour) || !validPackedColour(colour))
        return;
    r.setColour(colour);
    edit("Textt")->setText(get("zptexnrtext"));
    if (!applyListIndex(list("Comtext"), get("zpcomtext")))
        return;
    if (!applyListIndex(list("Comt1"), get("zptexcom1")))
        return;
    applyListIndex(list("Comt2"), get("zptexcom2"));
}
