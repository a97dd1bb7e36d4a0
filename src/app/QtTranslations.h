#pragma once

#include <QLocale>

class QCoreApplication;
class QTranslator;

// Loads Qt's own translations (the buttons of message boxes, the file and
// folder dialogs) for `locale`, falling back to Simplified Chinese when Qt
// has none for it: the operator reads 是 / 否, never Yes / No. Returns the
// translator installed (owned by `app`), or nullptr when Qt's translations
// are not there.
QTranslator *InstallQtTranslations(QCoreApplication &app, const QLocale &locale = QLocale::system());
