#pragma once

#include <QString>

#include <span>

// The per-user store of short text values the main window keeps between
// runs: QSettings in its native format (on Linux the INI file
// $XDG_CONFIG_HOME/<organisation>/<application>.conf), one group per
// section. Values are written and read back as text.
class SettingsStore
{
public:
    // How a key's default is found when the key is missing.
    enum class DefaultKind {
        Text,           // defaultText
        PicturesFolder, // the user's pictures folder (the save folder default)
        NotRestored,    // written only; nothing reads it back
    };

    // One settings key: its name, the control it mirrors, the routine that
    // writes it and the default the reader passes.
    struct Key
    {
        const char *name;
        const char *control;
        const char *writtenBy;
        DefaultKind kind;
        const char *defaultText;
    };

    static constexpr const char *application = "Lumora";
    static constexpr const char *section = "Settings";

    // Keys beside the 29: where the main window stood at the last close, its
    // normal geometry in pixels ("winleft", "wintop", "winwidth",
    // "winheight") and "1" when it was maximised ("winmax"), else "0".
    enum class WindowKey {
        Left,
        Top,
        Width,
        Height,
        Maximised
    };
    static const char *windowKey(WindowKey key);

    // All 29 keys, in the order of the table they come from.
    static std::span<const Key> keys();
    // nullptr for an unknown name.
    static const Key *key(const QString &name);
    // The default a reader of this key passes ("" for keys nothing reads).
    static QString defaultFor(const QString &name);

    // The stored text, or defaultValue when the key is missing.
    static QString GetSetting(const QString &app, const QString &section, const QString &key,
                              const QString &defaultValue);
    // Stores the text; false when the store could not be written.
    static bool SaveSetting(const QString &app, const QString &section, const QString &key,
                            const QString &value);

    // Shorthands for application "Lumora", section "Settings".
    static QString get(const QString &key, const QString &defaultValue)
    {
        return GetSetting(QLatin1String(application), QLatin1String(section), key, defaultValue);
    }
    static bool save(const QString &key, const QString &value)
    {
        return SaveSetting(QLatin1String(application), QLatin1String(section), key, value);
    }

    // The save folder used when none is set: the user's pictures folder (the
    // window makes it at start-up when it is the save folder in use).
    static QString defaultSaveFolder();
};
