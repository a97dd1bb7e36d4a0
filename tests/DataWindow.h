#pragma once
// The real main window with every data-table routine of its own (nothing
// overridden) on test doubles, and the operator's ways of driving it.

#include "RecordingCaptureControl.h"
#include "ScriptedServices.h"
#include "app/Form1.h"
#include "data/excelto.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The real main window on test doubles, with every data-table routine of its
// own (nothing overridden), in a program folder of its own.
struct DataWindow
{
    DataWindow()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumora"),
                  QStringLiteral("Lumora"))
            .clear();
        QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/default.bmp"),
                    folder.filePath(QStringLiteral("default.bmp")));
        form = std::make_unique<Form1>(&capture, &messages, &dialogs, folder.path());
    }

    template <class T> T *w(const char *name) const
    {
        T *child = form->findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }

    // 打开表 → dBase数据库 → Browse (answered with path) → the table → the
    // key rows of List2 → 打开(&O). False when a step could not be taken.
    // kind: the Option1 button of the file kind (3 dBase, 1 Access ...).
    bool openTable(const QString &path, const QList<int> &keyRows, int kind = 3)
    {
        w<QPushButton>("Command9")->click();
        QPointer<excelto> window = form->findChild<excelto *>();
        if (!window || !window->isVisible())
            return false;
        window->findChild<QRadioButton *>(QStringLiteral("Option1_%1").arg(kind))->click();
        dialogs.files.enqueue(path);
        window->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        auto *tables = window->findChild<QListWidget *>(QStringLiteral("List1"));
        if (tables->count() < 1)
            return false;
        tables->setCurrentRow(0);
        auto *fields = window->findChild<QListWidget *>(QStringLiteral("List2"));
        for (int row : keyRows)
            fields->item(row)->setSelected(true);
        window->findChild<QPushButton *>(QStringLiteral("Command2"))->click();
        // The window deletes itself once closed.
        return QTest::qWaitFor([&] { return window.isNull(); });
    }

    QTemporaryDir folder;
    RecordingCaptureControl capture;
    RecordingMessages messages;
    ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form; // goes before the capture control
};

// The operator picks entry index of a list (a program's setCurrentIndex
// alone raises no activated()).
inline void pick(QComboBox *box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}
