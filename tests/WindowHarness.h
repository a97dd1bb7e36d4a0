#pragma once
// The main window as the program builds it, on test doubles: a recording
// camera (or one the test brings), scripted message boxes and dialogs, a
// program folder and a save folder of its own. Its database opener serves
// the rosters a test puts in memory and otherwise opens files, so every
// data-table step of the window runs for real.

#include "MemoryBackend.h"
#include "RecordingCaptureControl.h"
#include "ScriptedServices.h"
#include "app/CropFramePanel.h"
#include "app/DataTablePanel.h"
#include "app/Form1.h"
#include "app/SettingsStore.h"
#include "app/WindowSession.h"
#include "data/DataSource.h"
#include "data/engine/Database.h"
#include "data/excelto.h"

#include <QApplication>
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

struct WindowHarness
{
    // withPlaceholder: copy default.bmp from the program's resources into
    // the program folder.
    explicit WindowHarness(bool withPlaceholder = true)
    {
        if (withPlaceholder)
            QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/default.bmp"),
                        folder.filePath(QStringLiteral("default.bmp")));
    }

    // The window on `camera`, or on the recording camera when none is given.
    Form1 &build(CaptureControl *camera = nullptr)
    {
        form =
            std::make_unique<Form1>(camera ? camera : &capture, &messages, &dialogs, folder.path(), opener());
        form->setShell(&shell);
        return *form;
    }

    // Puts a table of text fields into memory and makes it the window's
    // data source, as the open-table window would hand it over: every
    // field typed Text, keyColumns the 1-based key fields. Returns the
    // table's data, which write-backs change.
    std::shared_ptr<MemoryTableData> memoryRoster(const QStringList &fields, const QList<QStringList> &rows,
                                                  const QList<qint16> &keyColumns = {1})
    {
        QList<lumora::engine::FieldInfo> infos;
        for (const QString &name : fields) {
            lumora::engine::FieldInfo f = memoryField(name, 10);
            f.width = 80;
            infos << f;
        }
        QList<QList<lumora::engine::Value>> values;
        for (const QStringList &row : rows) {
            QList<lumora::engine::Value> record;
            for (int c = 0; c < fields.size(); ++c)
                record << lumora::engine::Value::text(row.value(c));
            values << record;
        }
        auto data = memory.add(QStringLiteral("class"), infos, values);
        DataSource &ds = session().source;
        ds.databasePath = memoryPath();
        ds.tableName = QStringLiteral("[class]");
        ds.fieldTypes = QList<qint16>(fields.size(), 10);
        ds.keyColumns = keyColumns;
        ds.keyCount = qint16(keyColumns.size());
        return data;
    }

    // The window's control of that objectName; a missing one ends the test run.
    template <class T> T *w(const char *name) const
    {
        T *child = form->findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    QPushButton *button(const char *name) const { return w<QPushButton>(name); }
    // A file in the save folder.
    QString path(const QString &name) const { return save.filePath(name); }
    QString photoPath() const { return session().naming.photoPath; }
    // What the window works on: the roster, the grid's cursor, the naming state.
    WindowSession &session() const { return *w<WindowSession>("session"); }
    DataTablePanel *dataTable() const { return w<DataTablePanel>("dataTablePanel"); }
    // The background size last applied, as text.
    const CropFramePanel &cropFrame() const { return *w<CropFramePanel>("cropFramePanel"); }

    // Open, Close, Take, Retake, Save enabled, as "1"/"0".
    QString buttons() const
    {
        QString flags;
        for (const char *name : {"Command1", "Command2", "Command3", "Command4", "Command8"})
            flags += button(name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return flags;
    }

    bool activate()
    {
        form->show();
        QApplication::setActiveWindow(form.get());
        return QTest::qWaitForWindowActive(form.get());
    }

    // 打开表 → the kind (dBase数据库 unless told) → Browse (answered with
    // path) → the first table → the key rows of List2 → 打开(&O). False when
    // a step could not be taken. kind: the Option1_ button of the file kind
    // (0 Excel, 1 Access, 2 FoxPro, 3 dBase, 4 text).
    bool openTable(const QString &path, const QList<int> &keyRows, int kind = 3)
    {
        button("Command9")->click();
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

    QTemporaryDir folder; // the program folder
    QTemporaryDir save;   // where photos go
    RecordingCaptureControl capture;
    RecordingMessages messages;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    MemoryBackend memory;
    std::unique_ptr<Form1> form; // goes before the capture control

private:
    static QString memoryPath() { return QStringLiteral("(in memory)"); }
    DatabaseOpener opener()
    {
        return [this](const DataSource &ds) {
            if (ds.databasePath == memoryPath())
                return lumora::engine::Database::fromBackend(std::make_unique<MemoryBackend>(memory));
            return lumora::engine::Database::open(ds.databasePath, ds.connectString);
        };
    }
};

// The operator picks entry index of a list (a program's setCurrentIndex
// alone raises no activated()).
inline void pick(QComboBox *box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}
