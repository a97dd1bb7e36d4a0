#include "data/excelto.h"
#include "ui_excelto.h"

#include "data/DataSource.h"
#include "data/FailureText.h"
#include "data/engine/Database.h"
#include "data/engine/EngineError.h"
#include "dialogs/CCommonDialogs.h"

#include <QButtonGroup>
#include <QCloseEvent>

#include <iterator>

using namespace lumora::engine;

namespace {
struct Kind
{
    const char *connect;
    const char *extension;
    const char *name;   // the kind button's caption
    const char *filter; // the file dialog's, when not "数据文件(*.EXT)|*.EXT"; Excel opens
                        // workbooks of either format, told apart by content
};
// Index order of the Option1 buttons.
constexpr Kind kinds[] = {
    {"Excel 8.0", "XLS", "Excel数据", "数据文件(*.XLS;*.XLSX)|*.XLS;*.XLSX"},
    {"", "mdb", "Access数据库", nullptr},
    {"FOXPro3.0", "DBF", "FoxPro数据库", nullptr},
    {"dBASE IV", "DBF", "dBase数据库", nullptr},
    {"Text", "csv", "文本文件(CSV)", "文本文件(*.csv;*.txt)|*.csv;*.txt"},
};
constexpr int kKinds = int(std::size(kinds));
} // namespace

QString excelto::kindConnectString(int kind)
{
    return kind >= 0 && kind < kKinds ? QString::fromLatin1(kinds[kind].connect) : QString();
}

QString excelto::kindExtension(int kind)
{
    return kind >= 0 && kind < kKinds ? QString::fromLatin1(kinds[kind].extension) : QString();
}

QString excelto::kindFilter(int kind)
{
    if (kind < 0 || kind >= kKinds)
        return QString();
    if (kinds[kind].filter)
        return QString::fromUtf8(kinds[kind].filter);
    const QString ext = kindExtension(kind);
    return QStringLiteral("数据文件(*.") + ext + QStringLiteral(")|*.") + ext;
}

QString excelto::kindName(const QString &connectString)
{
    for (const Kind &k : kinds)
        if (connectString.compare(QLatin1String(k.connect), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(k.name);
    return QStringLiteral("数据表");
}

excelto::excelto(DialogService *dialogs, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::excelto>())
    , m_ds(std::make_unique<DataSource>())
    , m_dialogs(dialogs)
    , m_kinds(new QButtonGroup(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    m_kinds->addButton(ui->Option1_0, 0);
    m_kinds->addButton(ui->Option1_1, 1);
    m_kinds->addButton(ui->Option1_2, 2);
    m_kinds->addButton(ui->Option1_3, 3);
    m_kinds->addButton(ui->Option1_4, 4);
    connect(m_kinds, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            chooseKind(id);
    });
    connect(ui->Command1, &QPushButton::clicked, this, &excelto::browse);
    connect(ui->List1, &QListWidget::currentRowChanged, this, &excelto::chooseTable);
    connect(ui->Command2, &QPushButton::clicked, this, &excelto::openTable);
    connect(ui->Command3, &QPushButton::clicked, this, &excelto::close);

    // Window load: Excel, and the help on key columns.
    ui->Option1_0->setChecked(true);
    ui->Label4->setText(QStringLiteral(
        "主键就是表中没有重复内容的列，如学生的学号，会员的编号。如果你的表中的姓名没有重名的，也可以选择。"
        "如果不需将照片文件名写入数据表，可以不选择。选错将导致图片文件名写入数据表错乱！"));
    ui->Labelmsg->setStyleSheet(QStringLiteral("color: #a03030;"));
}

excelto::~excelto() = default;

void excelto::chooseKind(int kind)
{
    const QString connect = kindConnectString(kind);
    // A file opened as one kind is no choice of another: it is let go, and
    // the operator browses again.
    if (connect != m_ds->connectString && !m_ds->databasePath.isEmpty()) {
        forgetFile();
        m_ds->databasePath.clear();
        ui->Text1->clear();
    }
    m_ds->connectString = connect;
    m_ds->fileExtension = kindExtension(kind);
}

void excelto::forgetTable()
{
    m_ds->tableName.clear();
    m_ds->fieldTypes.clear();
    m_ds->keyColumns.clear();
    m_ds->keyCount = 0;
    ui->List2->clear();
    ui->Command2->setEnabled(false);
}

void excelto::forgetFile()
{
    forgetTable();
    releaseDatabase();
    const QSignalBlocker quiet(ui->List1);
    ui->List1->clear();
}

void excelto::showError(const QString &text)
{
    ui->Labelmsg->setText(text);
}

void excelto::browse()
{
    const QString filter = kindFilter(m_kinds->checkedId());
    // Rosters of one kind or another usually lie together: the dialog
    // starts where the last one was chosen.
    CCommonDialogs dialog(m_dialogs, QStringLiteral("roster"));
    dialog.Init(this);
    dialog.SetTitle(windowTitle());
    dialog.SetFilter(filter);
    if (!dialog.ShowOpen())
        return;
    const QString path = dialog.filename();
    // Nothing of the file shown before goes with the new one: its tables,
    // fields, types and keys are gone, and 打开 waits for a table of this file.
    forgetFile();
    m_ds->databasePath = path;
    ui->Text1->setText(path);
    showError(QString());
    try {
        std::unique_ptr<Database> db = Database::open(path, m_ds->connectString);
        const QStringList names = db->tableNames();
        m_db = std::move(db);
        const QSignalBlocker quiet(ui->List1);
        ui->List1->addItems(names);
        ui->List1->setCurrentRow(-1);
    } catch (...) {
        showError(QStringLiteral("无法打开：") + CurrentFailureText());
    }
}

void excelto::chooseTable(int row)
{
    // The fields and keys shown belong to the table chosen before.
    forgetTable();
    if (row < 0 || !m_db)
        return;
    const QString name = ui->List1->item(row)->text();
    showError(QString());
    try {
        // The table's own description gives the names and types: no record
        // needs to be read for them.
        const QList<FieldInfo> fields = m_db->fields(name);
        m_ds->tableName = QLatin1Char('[') + name + QLatin1Char(']');
        ui->Command2->setEnabled(true);
        for (const FieldInfo &field : fields) {
            ui->List2->addItem(field.name);
            m_ds->fieldTypes << field.daoType;
        }
    } catch (...) {
        showError(QStringLiteral("无法打开表：") + CurrentFailureText());
    }
}

void excelto::openTable()
{
    if (m_ds->tableName.isEmpty() || !m_db)
        return;
    QList<qint16> keys;
    for (int i = 0; i < ui->List2->count(); ++i)
        if (ui->List2->item(i)->isSelected())
            keys << qint16(i + 1);
    m_ds->keyColumns = keys;
    m_ds->keyCount = qint16(keys.size());
    releaseDatabase();
    // Out of the way of what the main window asks while it loads the table
    // (whether to resume the roster's day).
    hide();
    emit tableChosen(*m_ds);
    close();
}

void excelto::releaseDatabase()
{
    m_db.reset();
}

void excelto::closeEvent(QCloseEvent *event)
{
    releaseDatabase();
    QDialog::closeEvent(event);
}
