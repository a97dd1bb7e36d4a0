#include "naming/SaveFlow.h"

#include "capture/CaptureControl.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "dialogs/MessageService.h"
#include "naming/NextPerson.h"
#include "naming/NumericText.h"
#include "naming/SaveHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

SaveFlow::SaveFlow(SaveHost &host, RosterModel &roster, RosterCursor &cursor, CaptureControl &camera,
                   MessageService &messages, QWidget *dialogParent)
    : m_host(host)
    , m_roster(roster)
    , m_cursor(cursor)
    , m_camera(camera)
    , m_messages(messages)
    , m_parent(dialogParent)
{
}

SaveFlow::Outcome SaveFlow::interrupted(const QString &status)
{
    m_host.setButtonEnabled(SaveButton::Retake, true);
    m_host.setButtonEnabled(SaveButton::Take, false);
    m_host.setButtonEnabled(SaveButton::Save, false);
    m_host.setStatus(status);
    return Outcome::Failed;
}

bool SaveFlow::moveToTrash(const QString &path, QString *trashed)
{
    // Without the user's data folder (a new account has no ~/.local/share)
    // Qt makes its "files" and "info" folders in the working folder,
    // wherever that is: the folder the home trash lives in is made first,
    // and a file that went anywhere but an absolute trash is brought back.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (!QFile::moveToTrash(path, trashed))
        return false;
    if (QFileInfo(*trashed).isAbsolute())
        return true;
    const QFileInfo stray(*trashed);
    putBackFromTrash(stray.absoluteFilePath(), path);
    // Its folders go too, when nothing else is in them.
    QDir().rmdir(stray.absolutePath());
    QDir().rmdir(stray.absoluteDir().filePath(QStringLiteral("../info")));
    trashed->clear();
    return false;
}

// Moves a file the trash took (Trash/files/NAME) back to where it was and
// drops its Trash/info/NAME.trashinfo.
bool SaveFlow::putBackFromTrash(const QString &trashed, const QString &original)
{
    if (QFileInfo::exists(original) || !QFile::rename(trashed, original))
        return false;
    const QFileInfo inTrash(trashed);
    QFile::remove(inTrash.dir().filePath(QStringLiteral("../info/")) + inTrash.fileName() +
                  QStringLiteral(".trashinfo"));
    return true;
}

// Creates one folder level unless something of that name is there already.
bool SaveFlow::makeFolder(const QString &path)
{
    if (QFileInfo::exists(path))
        return true;
    return QDir().mkdir(path);
}

SaveFlow::Outcome SaveFlow::run(const NamingState &naming, const NamingInputs &inputs)
{
    const NamingState s = naming;
    const NamingInputs in = inputs;
    const bool tableMode = in.tableMode;

    // Data-table mode: the trailing empty row and the "no records" marker
    // row are nobody; stop before any file or folder is made for them.
    if (tableMode && m_cursor.currentRow() >= m_roster.rows() - 1) {
        m_messages.show(m_parent, kPastLastRowMessage);
        return interrupted(QStringLiteral("照片未保存：当前行不是数据表中的记录"));
    }
    // One still is one person's: the same face is never filed under the
    // next person of the roster.
    if (tableMode && m_host.stillAlreadyFiled()) {
        m_host.setStatus(QStringLiteral("照片未保存：这张照片已经保存过，请先拍摄下一张照片"));
        return Outcome::StillFiled;
    }

    // A path refused while it was formed (or never formed) cannot be saved;
    // stop before any folder is made for it.
    if (s.photoPath.isEmpty())
        return interrupted(QStringLiteral("照片未保存：没有可用的保存路径"));

    // 1. The variable sub-folders; the base folder itself must exist. Only
    // data-table mode puts the picture into them: in ordinary mode the hidden
    // check boxes must neither make stray folders nor fail the save.
    if (tableMode) {
        if (in.subFolder1On) {
            const QString level1 = s.baseFolder + s.subFolder1;
            if (!makeFolder(level1))
                return interrupted(QStringLiteral("照片未保存：无法创建文件夹 %1").arg(level1));
            if (in.subFolder2On) {
                const QString level2 = level1 + QLatin1Char('/') + s.subFolder2;
                if (!makeFolder(level2))
                    return interrupted(QStringLiteral("照片未保存：无法创建文件夹 %1").arg(level2));
            }
        }
    }

    // 2. Ask before replacing a picture saved earlier; Enter keeps it.
    const bool replacing = QFileInfo(s.photoPath).isFile();
    if (replacing) {
        const QString question = s.photoPath + QLatin1Char('\n') + kOverwriteQuestion;
        if (!m_messages.askYesNo(m_parent, question, MessageService::programTitle(),
                                 MessageService::Default::No)) {
            m_host.setStatus(QStringLiteral("照片未保存：保留了原有文件 %1").arg(s.photoPath));
            return Outcome::Declined;
        }
    }

    // 3. and 4. A name must be set.
    if (tableMode ? in.name1Index < 0 : in.typedName.isEmpty()) {
        m_messages.show(m_parent, kNoFileNameMessage);
        if (!tableMode)
            m_host.focusTypedName();
        m_host.setStatus(QStringLiteral("照片未保存：没有设置文件名"));
        return Outcome::NoName;
    }
    const QString typedName = in.typedName;

    // The picture replaced is not destroyed: it goes to the desktop's
    // trash, where the operator can still get it back.
    QString trashed;
    if (replacing && !moveToTrash(s.photoPath, &trashed))
        return interrupted(
            QStringLiteral("照片未保存：原有照片 %1 无法移到回收站，没有覆盖它").arg(s.photoPath));

    // 5. The picture itself.
    if (!m_camera.SaveStill(s.photoPath)) {
        const QString reason = m_camera.lastError();
        QString status = reason.isEmpty()
                             ? QStringLiteral("照片未保存：无法写入 %1").arg(s.photoPath)
                             : QStringLiteral("照片未保存：无法写入 %1（%2）").arg(s.photoPath, reason);
        if (!trashed.isEmpty())
            status += putBackFromTrash(trashed, s.photoPath)
                          ? QStringLiteral("；原有照片已放回")
                          : QStringLiteral("；原有照片在回收站中：%1").arg(trashed);
        return interrupted(status);
    }

    QString status = QStringLiteral("照片已保存：%1").arg(s.photoPath);
    if (!trashed.isEmpty())
        status += QStringLiteral("（原有照片已移到回收站）");
    if (tableMode) {
        m_host.markStillFiled();
        // 6. On to the next row, after the file name went into this one.
        const int savedRow = m_cursor.currentRow();
        m_cursor.setResume(NextRowBeforeWriteBack(savedRow, m_roster.rows(), m_cursor.resumeRow()), 1);
        if (m_cursor.resumeRow() < 1) {
            interrupted(status + QStringLiteral("；没有可转到的行"));
            return Outcome::SavedAtEnd;
        }
        const WriteBackNote note = m_host.writeBackFileName();
        if (!note.text.isEmpty())
            status += QStringLiteral("；") + note.text;
        m_cursor.setResume(NextRowAfterWriteBack(savedRow, m_cursor.resumeRow(), note),
                           m_cursor.resumeColumn());
        m_cursor.resume();
        status += QStringLiteral("；转到第 %1 行").arg(m_cursor.resumeRow());
    } else {
        // 7. The list of saved photos.
        appendToSavedList(typedName, s.photoPath);
    }

    // 8. The next distinguishing number; its change forms the next path.
    if (in.numberOn)
        m_host.setNumberText(nextNumberText(in.numberText));

    // 9. and 10.
    m_host.centrePreviewPicture();
    m_host.setButtonEnabled(SaveButton::Save, false);
    m_host.setStatus(status);
    return Outcome::Saved;
}

void SaveFlow::appendToSavedList(const QString &typedName, const QString &photoPath)
{
    // The list needs its two columns whatever table the grid showed before.
    if (m_roster.cols() < 3)
        m_roster.setCols(3);
    const int r = m_roster.rows();
    m_roster.setRows(r + 1);
    m_roster.setCellText(r, 1, typedName);
    m_roster.setCellText(r, 2, photoPath);
    if (r == 1) {
        m_roster.setCellText(0, 1, QStringLiteral("文件名"));
        m_roster.setCellText(0, 2, QStringLiteral("保存路径"));
        m_roster.askColumnWidth(1, 100);
        m_roster.askColumnWidth(2, 300);
    }
}
