#include "app/SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <array>

namespace {

using K = SettingsStore::DefaultKind;

// Every key the main window stores. "not restored" keys are written on each
// close but no path of the program applies them again.
constexpr std::array<SettingsStore::Key, 29> kKeys{{
    {"zpph", "Text1", "zpsvset", K::PicturesFolder, ""},
    {"kbmche1", "Chekb1", "zpsvset", K::NotRestored, ""},
    {"kbmche2", "Chekb2", "zpsvset", K::NotRestored, ""},
    {"kbmcom1", "Comkb1", "zpsvset", K::NotRestored, ""},
    {"kbmcom2", "Comkb2", "zpsvset", K::NotRestored, ""},
    {"zpnametex", "Texfname", "zpsvset", K::Text, "DC"},
    {"zpnamecom1", "Comfname1", "zpsvset", K::Text, "0"},
    {"zpnamecom2", "Comfname2", "zpsvset", K::Text, "0"},
    {"zpnameche2", "Chefname2", "zpsvset", K::NotRestored, ""},
    {"zpqbmche", "Cheqbm", "zpsvset", K::NotRestored, ""},
    {"zpszdche", "Chezd", "zpsvset", K::NotRestored, ""},
    {"zpszdcom", "Comzd", "zpsvset", K::NotRestored, ""},
    {"zpkzmche", "Chekzm", "zpsvset", K::NotRestored, ""},
    {"zpgscom", "Comgs", "zpsvset", K::NotRestored, ""},
    {"zph", "Texg", "zpset", K::Text, "200"},
    {"zpw", "Textk", "zpset", K::Text, "150"},
    {"zptexche", "Check1", "zpset", K::NotRestored, ""},
    {"zptexlef", "Texleft", "zpset", K::Text, "60"},
    {"zptextop", "Textop", "zpset", K::Text, "165"},
    {"zptexsize", "fLabel (font size)", "zpset", K::Text, "9"},
    // The empty default is no number: a first run's restore ends here.
    {"zptexcolor", "fLabel (text colour)", "zpset", K::Text, ""},
    {"zptexnrtext", "Textt", "zpset", K::Text, ""},
    {"zptexcom1", "Comt1", "zpset", K::Text, "0"},
    {"zptexcom2", "Comt2", "zpset", K::Text, "0"},
    {"zptexcheadd", "Cheta", "zpset", K::NotRestored, ""},
    {"zpcomtext", "Comtext", "zpset", K::Text, "0"},
    // Read only by the "上次大小" button.
    {"bjtexg", "Tebg", "zpset", K::Text, "0"},
    {"bjtexk", "Tebk", "zpset", K::Text, "0"},
    // Red 232, green 3, blue 0.
    {"biakuang", "Frame2 (frame colour)", "frame-colour command", K::Text, "1000"},
}};

QSettings openStore(const QString &app)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(SettingsStore::application),
                     app);
}

} // namespace

const char *SettingsStore::windowKey(WindowKey key)
{
    switch (key) {
    case WindowKey::Left: return "winleft";
    case WindowKey::Top: return "wintop";
    case WindowKey::Width: return "winwidth";
    case WindowKey::Height: return "winheight";
    case WindowKey::Maximised: return "winmax";
    }
    return "";
}

std::span<const SettingsStore::Key> SettingsStore::keys()
{
    return kKeys;
}

const SettingsStore::Key *SettingsStore::key(const QString &name)
{
    for (const Key &k : kKeys)
        if (name == QLatin1String(k.name))
            return &k;
    return nullptr;
}

QString SettingsStore::defaultFor(const QString &name)
{
    const Key *k = key(name);
    if (!k)
        return {};
    switch (k->kind) {
    case DefaultKind::PicturesFolder: return defaultSaveFolder();
    case DefaultKind::Text: return QString::fromUtf8(k->defaultText);
    case DefaultKind::NotRestored: break;
    }
    return {};
}

QString SettingsStore::GetSetting(const QString &app, const QString &section, const QString &key,
                                  const QString &defaultValue)
{
    QSettings store = openStore(app);
    store.beginGroup(section);
    const QVariant v = store.value(key);
    if (!v.isValid())
        return defaultValue;
    return v.toString();
}

bool SettingsStore::SaveSetting(const QString &app, const QString &section, const QString &key,
                                const QString &value)
{
    QSettings store = openStore(app);
    store.beginGroup(section);
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

QString SettingsStore::defaultSaveFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return folder;
}
