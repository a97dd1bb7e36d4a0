#pragma once
// A main window built on test doubles, in a program folder of its own, with
// the settings store emptied first.

#include "RecordingCaptureControl.h"
#include "ScriptedServices.h"
#include "app/Form1.h"
#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// Form1 with its replaceable steps observable and the program's end kept
// inside the test.
class TestForm1 : public Form1
{
public:
    using Form1::Form1;

    int ended = 0;
    int saves = 0;
    int pickerRefreshes = 0;
    bool tableLoads = false;

protected:
    void endProgram() override { ++ended; }
    void saveHandling() override { ++saves; }
    bool loadTableIntoGrid() override { return tableLoads; }
    void refreshColumnPickers() override { ++pickerRefreshes; }
};

inline QSettings lumoraStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumora"),
                     QStringLiteral("Lumora"));
}

inline void clearStore()
{
    QSettings store = lumoraStore();
    store.clear();
    store.sync();
}

inline void storeValues(const QList<std::pair<QString, QString>> &values)
{
    for (const auto &[key, value] : values)
        SettingsStore::save(key, value);
}

struct Form1Harness
{
    // withPlaceholder: copy default.bmp from the program's resources into
    // the program folder.
    explicit Form1Harness(bool withPlaceholder = true)
    {
        if (withPlaceholder)
            QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/default.bmp"),
                        folder.filePath(QStringLiteral("default.bmp")));
    }

    TestForm1 &build()
    {
        form = std::make_unique<TestForm1>(&capture, &messages, &dialogs, folder.path());
        return *form;
    }

    // The window's control of that objectName; a missing one ends the test run.
    template <class T> T *w(const char *name) const
    {
        T *child = form->findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }

    QTemporaryDir folder;
    RecordingCaptureControl capture;
    RecordingMessages messages;
    ScriptedDialogs dialogs;
    std::unique_ptr<TestForm1> form; // goes before the capture control
};
