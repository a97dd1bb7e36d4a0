#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator *InstallQtTranslations(QCoreApplication &app, const QLocale &locale)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(&app);
    // The window is Chinese whatever the system speaks; an English or a
    // C locale gets Chinese buttons too.
    const bool loaded = (locale.language() == QLocale::Chinese &&
                         translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) ||
                        translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                         QStringLiteral("_"), folder);
    if (!loaded || !app.installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
