#include "app/PhotoDayPanel.h"

#include "app/RosterCheckWindow.h"
#include "data/DataSource.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "data/TableGrid.h"
#include "dialogs/DialogService.h"
#include "naming/PhotoRoll.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>

namespace {

// The mark in the row header of a photographed row.
const QString kTakenMark = QStringLiteral("✓");

// One CSV field: quoted when it holds a separator, a quote, a line break or
// blanks at its ends.
QString csvField(const QString &text)
{
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString csvLine(const RosterModel &grid, int row)
{
    QStringList fields;
    for (int c = 1; c < grid.cols(); ++c)
        fields << csvField(grid.cellText(row, c));
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

} // namespace

PhotoDayPanel::PhotoDayPanel(const Controls &controls, const DataSource &ds,
                             std::function<RosterCheckInput()> settings, DialogService *dialogs,
                             QWidget *window)
    : QObject(window)
    , m_c(controls)
    , m_ds(ds)
    , m_settings(std::move(settings))
    , m_dialogs(dialogs)
    , m_window(window)
    , m_progress(new QLabel(controls.Frame4))
    , m_missingOnly(new QCheckBox(QStringLiteral("只显示未拍照"), controls.Frame4))
    , m_settle(new QTimer(this))
    , m_recount(new QTimer(this))
    , m_filterRight(controls.Combo2->geometry().right() + 1)
{
    m_progress->setObjectName(QStringLiteral("Labyipai"));
    m_progress->hide();
    m_missingOnly->setObjectName(QStringLiteral("Chewpz"));
    m_missingOnly->setToolTip(QStringLiteral("表格里只留下还没有照片的人"));
    m_missingOnly->setEnabled(false);
    connect(m_missingOnly, &QCheckBox::toggled, this, &PhotoDayPanel::missingOnlyToggled);

    // Before 退出 and its separator.
    QAction *before = nullptr;
    const QList<QAction *> items = m_c.datebase->actions();
    for (int i = 0; i < items.size() && !before; ++i)
        if (items.at(i)->isSeparator())
            before = items.at(i);
    m_check = new QAction(QStringLiteral("检查数据表(&K)"), this);
    m_check->setObjectName(QStringLiteral("checktable"));
    m_export = new QAction(QStringLiteral("导出未拍照名单(&M)"), this);
    m_export->setObjectName(QStringLiteral("outmissing"));
    m_c.datebase->insertAction(before, m_check);
    m_c.datebase->insertAction(before, m_export);
    connect(m_check, &QAction::triggered, this, [this] { checkRoster(false); });
    connect(m_export, &QAction::triggered, this, &PhotoDayPanel::exportMissing);

    for (QWidget *w : std::as_const(m_c.naming)) {
        if (auto *box = qobject_cast<QAbstractButton *>(w))
            connect(box, &QAbstractButton::toggled, this, &PhotoDayPanel::scheduleRefresh);
        else if (auto *list = qobject_cast<QComboBox *>(w))
            connect(list, &QComboBox::currentIndexChanged, this, &PhotoDayPanel::scheduleRefresh);
        else if (auto *line = qobject_cast<QLineEdit *>(w))
            connect(line, &QLineEdit::textChanged, this, &PhotoDayPanel::scheduleRefresh);
    }
    m_settle->setSingleShot(true);
    m_settle->setInterval(250);
    // Photos that other programs put in the folders show a few seconds
    // after the last save, not on the save itself.
    m_recount->setSingleShot(true);
    m_recount->setInterval(3000);
    connect(m_recount, &QTimer::timeout, this, [this] {
        if (!missingOnly())
            refresh();
    });
    connect(m_settle, &QTimer::timeout, this, [this] {
        // Rows dropped under the old settings may be missing under the new.
        if (missingOnly() && m_hiddenTaken > 0)
            emit reloadRequested();
        else
            refresh();
    });
}

void PhotoDayPanel::layOutFilterRow(int y)
{
    // The lists give up some width to the box; the row keeps its order.
    const int right = m_filterRight;
    const int box = m_missingOnly->sizeHint().width();
    const int listWidth = qMax(70, (right - box - 8 - m_c.Combo1->x() - m_c.Label4->width() - 8) / 2);
    m_c.Combo1->resize(listWidth, m_c.Combo1->height());
    m_c.Label4->move(m_c.Combo1->x() + listWidth + 2, m_c.Label4->y());
    m_c.Combo2->setGeometry(m_c.Label4->x() + m_c.Label4->width() + 4, m_c.Combo2->y(), listWidth,
                            m_c.Combo2->height());
    m_missingOnly->setGeometry(m_c.Combo2->x() + listWidth + 6, y, right - (m_c.Combo2->x() + listWidth + 6),
                               m_c.Combo2->height() + 4);
}

bool PhotoDayPanel::missingOnly() const
{
    return m_missingOnly->isChecked();
}

void PhotoDayPanel::showProgress(int taken, int people)
{
    const QFontMetrics metrics(m_c.Frame4->font());
    m_progress->setText(QStringLiteral("已拍 %1 / %2").arg(taken).arg(people));
    m_progress->adjustSize();
    // Just after the frame's caption.
    m_progress->move(metrics.horizontalAdvance(m_c.Frame4->title()) + 24, 0);
    m_progress->show();
    m_progress->raise();
}

void PhotoDayPanel::refresh()
{
    m_settle->stop();
    m_rollInputs.reset();
    const RosterCheckInput settings = m_settings();
    TableGrid *g = m_c.Grid1;
    const bool tableMode = settings.naming.tableMode && m_ds.hasTable();
    m_missingOnly->setEnabled(tableMode);
    if (!tableMode) {
        m_progress->hide();
        g->roster()->markRowHeaders({}, kTakenMark);
        return;
    }
    m_recount->stop();
    m_roll = PhotoRoll::ofRoster(*g->roster(), settings.naming);
    m_rollInputs = settings.naming;
    const PhotoRoll &roll = m_roll;
    const int hidden = m_hiddenTaken;
    if (missingOnly() && roll.takenCount() > 0) {
        m_rollInputs.reset(); // rows are dropped below: the count is for the grid before
        const int column = qMax(1, g->activeColumn());
        const int row = dropTaken(roll.taken(), g->cursor()->currentRow());
        g->setActiveCell(row, column);
    }
    m_rollRows = g->roster()->rows();
    g->roster()->markRowHeaders(missingOnly() ? QBitArray() : roll.taken(), kTakenMark);
    showProgress(roll.takenCount() + hidden, roll.people() + hidden);
}

void PhotoDayPanel::scheduleRefresh()
{
    m_settle->start();
}

int PhotoDayPanel::dropTaken(const QBitArray &taken, int anchor)
{
    TableGrid *g = m_c.Grid1;
    QBitArray keep(g->roster()->rows(), true);
    int keptBefore = 0;
    for (int row = 1; row < g->roster()->rows(); ++row) {
        const bool gone = row < taken.size() && taken.testBit(row);
        keep.setBit(row, !gone);
        if (!gone && row < anchor)
            ++keptBefore;
    }
    m_hiddenTaken += g->roster()->keepRows(keep);
    return keptBefore + 1;
}

void PhotoDayPanel::missingOnlyToggled(bool on)
{
    if (on)
        refresh();
    else if (m_hiddenTaken > 0)
        emit reloadRequested();
    else
        refresh();
}

namespace {
// Whether two sets of naming inputs form the same paths, the number's
// text aside (it moves on with every save; the roll ignores it).
bool sameNaming(const NamingInputs &a, const NamingInputs &b)
{
    return a.saveFolder == b.saveFolder && a.tableMode == b.tableMode && a.subFolder1On == b.subFolder1On &&
           a.subFolder1Index == b.subFolder1Index && a.subFolder2On == b.subFolder2On &&
           a.subFolder2Index == b.subFolder2Index && a.name1Index == b.name1Index && a.name2On == b.name2On &&
           a.name2Index == b.name2Index && a.numberOn == b.numberOn && a.format == b.format;
}
} // namespace

bool PhotoDayPanel::followSave(int savedRow, bool rowRemoved, const QString &savedPath,
                               const RosterCheckInput &settings)
{
    const NamingInputs &in = settings.naming;
    // The write-back changed a column the names are made of: the saved
    // person's name is not the one counted.
    const int target = settings.writeBack.enabled ? settings.writeBack.targetIndex : -1;
    const bool nameColumnWritten =
        target >= 0 && ((in.subFolder1On && target == in.subFolder1Index) ||
                        (in.subFolder1On && in.subFolder2On && target == in.subFolder2Index) ||
                        target == in.name1Index || (in.name2On && target == in.name2Index));
    RosterModel &roster = *m_c.Grid1->roster();
    if (!m_rollInputs || !sameNaming(*m_rollInputs, in) || nameColumnWritten || missingOnly() ||
        roster.rows() != m_rollRows - (rowRemoved ? 1 : 0))
        return false;
    if (rowRemoved)
        m_roll.rowRemoved(savedRow);
    const std::optional<QList<int>> taken = m_roll.notePhoto(roster, savedPath);
    if (!taken)
        return false;
    m_rollRows = roster.rows();
    for (int row : *taken)
        roster.markRowHeader(row, kTakenMark);
    return true;
}

void PhotoDayPanel::afterWriteBack(int savedRow, bool reloaded, WriteBackNote &note, const QString &savedPath)
{
    const RosterCheckInput settings = m_settings();
    if (!reloaded && followSave(savedRow, note.rowRemoved, savedPath, settings)) {
        showProgress(m_roll.takenCount() + m_hiddenTaken, m_roll.people() + m_hiddenTaken);
        m_recount->start();
        return;
    }
    TableGrid *g = m_c.Grid1;
    m_recount->stop();
    m_roll = PhotoRoll::ofRoster(*g->roster(), settings.naming);
    m_rollInputs = settings.naming;
    const PhotoRoll &roll = m_roll;
    const int hidden = m_hiddenTaken;
    if (missingOnly()) {
        m_rollInputs.reset(); // rows are dropped: the count is for the grid before
        // After a whole reload the saved person's row is not known any more:
        // the first person still missing is next. Otherwise whoever stood
        // after the saved one is.
        const int anchor = reloaded ? 1 : (note.rowRemoved ? savedRow : savedRow + 1);
        const int next = roll.takenCount() > 0 ? dropTaken(roll.taken(), anchor) : anchor;
        if (roll.takenCount() > 0 || reloaded)
            note.nextRow = next;
        g->roster()->markRowHeaders({}, kTakenMark);
    } else {
        g->roster()->markRowHeaders(roll.taken(), kTakenMark);
    }
    m_rollRows = g->roster()->rows();
    showProgress(roll.takenCount() + hidden, roll.people() + hidden);
}

QStringList PhotoDayPanel::checkRoster(bool quiet)
{
    if (!m_ds.hasTable()) {
        if (!quiet)
            emit status(QStringLiteral("检查数据表：还没有打开数据表"));
        return {};
    }
    const QList<RosterProblem> problems = FindRosterProblems(m_ds, *m_c.Grid1->roster(), m_settings());
    const QString table = QFileInfo(m_ds.databasePath).fileName() + m_ds.tableName;
    if (problems.isEmpty()) {
        if (m_checkWindow)
            m_checkWindow->close();
        if (!quiet)
            emit status(QStringLiteral("检查数据表：%1 没有发现问题").arg(table));
        return {};
    }
    const bool placed = m_checkWindow;
    if (!m_checkWindow) {
        m_checkWindow = new RosterCheckWindow(m_window);
        connect(m_checkWindow, &RosterCheckWindow::rowActivated, this, [this](int row) {
            TableGrid *g = m_c.Grid1;
            if (row < 1 || row > g->roster()->rows() - 2)
                return;
            g->setActiveCell(row, qMax(1, g->activeColumn()));
            m_window->activateWindow();
            g->setFocus();
        });
    }
    m_checkWindow->setProblems(table, problems);
    if (!placed) {
        // Beside the main window when the screen has room for the list, so
        // that it hides none of the controls of the photo day.
        const QRect main = m_window->frameGeometry();
        const QScreen *screen = m_window->screen();
        if (screen && screen->availableGeometry().right() - main.right() >= m_checkWindow->width() + 8)
            m_checkWindow->move(main.right() + 8, main.top() + 30);
    }
    m_checkWindow->show();
    m_checkWindow->raise();
    emit status(QStringLiteral("检查数据表：发现 %1 个问题").arg(problems.size()));
    QStringList lines;
    for (const RosterProblem &p : problems)
        lines << p.line();
    return lines;
}

void PhotoDayPanel::exportMissing()
{
    const RosterCheckInput settings = m_settings();
    TableGrid *g = m_c.Grid1;
    if (!m_ds.hasTable() || !settings.naming.tableMode || g->roster()->rows() < 3) {
        emit status(QStringLiteral("导出未拍照名单：请先以数据表方式打开名单"));
        return;
    }
    const QString suggested = QFileInfo(m_ds.databasePath).completeBaseName() + QStringLiteral("_未拍照.csv");
    const QString path = m_dialogs->saveFileName(m_window, QStringLiteral("导出未拍照名单"),
                                                 settings.naming.saveFolder + QLatin1Char('/') + suggested,
                                                 QStringLiteral("CSV 文件(*.csv)|*.csv"));
    if (path.isEmpty())
        return;
    const PhotoRoll roll = PhotoRoll::ofRoster(*g->roster(), settings.naming);
    QString text = csvLine(*g->roster(), 0);
    int count = 0;
    for (int row = 1; row <= g->roster()->rows() - 2; ++row) {
        if (roll.isTaken(row))
            continue;
        text += csvLine(*g->roster(), row);
        ++count;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("\xEF\xBB\xBF") != 3 ||
        file.write(text.toUtf8()) < 0 || !file.commit()) {
        emit status(QStringLiteral("未拍照名单无法写入：%1（%2）").arg(path, file.errorString()));
        return;
    }
    emit status(QStringLiteral("已导出 %1 个未拍照的人：%2").arg(count).arg(path));
}
