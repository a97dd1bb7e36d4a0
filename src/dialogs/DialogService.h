#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <optional>

class QWidget;

// The file, folder, colour and font choices the windows make. The real one
// shows Qt's dialogs; tests script the answers. An empty text or an empty
// optional means the operator cancelled.
class DialogService
{
public:
    struct FontChoice
    {
        QFont font;
        QColor color;
    };

    enum class PrinterDialog {
        Choose,     // the printer dialog: no page range, no selection, no print to file
        Properties, // the settings of the default printer
    };

    virtual ~DialogService() = default;
    // filter in bar syntax: "description|pattern|description|pattern...";
    // patterns match regardless of letter case.
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filter) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filter) = 0;
    virtual QString existingFolder(QWidget *parent, const QString &title, const QString &startFolder) = 0;
    virtual std::optional<QColor> color(QWidget *parent, const QColor &initial) = 0;
    virtual std::optional<FontChoice> font(QWidget *parent, const QFont &initial, const QColor &initialColor,
                                           bool withEffects) = 0;
    // True when the operator confirmed; false when cancelled or when there
    // is no printer.
    virtual bool printer(QWidget *parent, PrinterDialog kind) = 0;
};

class QtDialogService : public DialogService
{
public:
    QString openFileName(QWidget *parent, const QString &title, const QString &folder,
                         const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &folder,
                         const QString &filter) override;
    QString existingFolder(QWidget *parent, const QString &title, const QString &startFolder) override;
    std::optional<QColor> color(QWidget *parent, const QColor &initial) override;
    std::optional<FontChoice> font(QWidget *parent, const QFont &initial, const QColor &initialColor,
                                   bool withEffects) override;
    bool printer(QWidget *parent, PrinterDialog kind) override;

    // "数据文件(*.XLS)|*.XLS" -> Qt's "数据文件(*.XLS) (*.XLS *.xls)" entries;
    // Linux names are case-sensitive, the bar filters were not.
    static QStringList qtFilters(const QString &barFilter);
};
