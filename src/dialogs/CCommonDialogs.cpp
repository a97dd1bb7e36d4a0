#include "dialogs/CCommonDialogs.h"

#include "dialogs/DialogService.h"
#include "dialogs/PackedColour.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <cmath>

namespace {
// The folder last chosen per purpose, for this run.
QHash<QString, QString> &lastFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

// The folder of a chosen file: "/photos/a.jpg" -> "/photos", "/a.jpg" -> "/".
QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}
} // namespace

CCommonDialogs::CCommonDialogs(DialogService *dialogs, QString purpose)
    : m_dialogs(dialogs)
    , m_purpose(std::move(purpose))
    , m_programFolder(QCoreApplication::applicationDirPath())
{
}

void CCommonDialogs::forgetFolders()
{
    lastFolders().clear();
}

QString CCommonDialogs::upToNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

void CCommonDialogs::Init(QWidget *owner)
{
    m_owner = owner;
    m_initialised = true;
}

bool CCommonDialogs::ready() const
{
    // Without Init there is no owner window to show the dialog on.
    return m_initialised && m_dialogs;
}

QString CCommonDialogs::startFolder() const
{
    const QString last = lastFolders().value(m_purpose);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    if (!Path().isEmpty() && QFileInfo(Path()).isDir())
        return Path();
    return QDir::homePath();
}

QString CCommonDialogs::fallbackFolder() const
{
    const QString last = lastFolders().value(m_purpose);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QFileInfo program(m_programFolder);
    if (program.isDir() && program.isWritable())
        return m_programFolder;
    return QDir::homePath();
}

void CCommonDialogs::takeFile(const QString &path)
{
    m_filename = path;
    m_fileTitle = QFileInfo(path).fileName();
    m_path = folderOf(path);
    if (!m_path.isEmpty())
        lastFolders().insert(m_purpose, m_path);
}

bool CCommonDialogs::ShowOpen()
{
    if (!ready())
        return false;
    QString start = startFolder();
    // An initial file name is offered inside the start folder.
    const QString name = filename();
    if (!name.isEmpty())
        start = QFileInfo(name).isAbsolute() ? name : QDir(start).filePath(name);
    const QString chosen = m_dialogs->openFileName(m_owner, Title(), start, Filter());
    if (chosen.isEmpty())
        return false;
    takeFile(chosen);
    return true;
}

bool CCommonDialogs::ShowSave()
{
    if (!ready())
        return false;
    if (Path().trimmed().isEmpty()) {
        m_path = fallbackFolder();
    } else {
        if (!m_path.endsWith(QLatin1Char('/')))
            m_path += QLatin1Char('/');
        // Hidden folders count as folders.
        if (!QFileInfo(Path()).isDir())
            m_path = fallbackFolder();
    }
    const QString filter = Filter().trimmed().isEmpty() ? QStringLiteral("*.*|*.*") : Filter();
    const QString chosen = m_dialogs->saveFileName(m_owner, QStringLiteral("Save"), Path(), filter);
    if (chosen.isEmpty())
        return false;
    takeFile(chosen);
    return true;
}

bool CCommonDialogs::ShowFolder()
{
    if (!ready())
        return false;
    const QString chosen = m_dialogs->existingFolder(m_owner, Title(), startFolder());
    if (chosen.isEmpty())
        return false;
    m_path = QDir::cleanPath(chosen);
    m_filename.clear();
    m_fileTitle.clear();
    lastFolders().insert(m_purpose, m_path);
    return true;
}

bool CCommonDialogs::ShowColor(bool)
{
    if (!ready())
        return false;
    const std::optional<QColor> chosen = m_dialogs->color(m_owner, PackedColour(m_color));
    if (!chosen || !chosen->isValid())
        return false;
    m_color = PackColour(*chosen);
    return true;
}

bool CCommonDialogs::ShowFont()
{
    if (!ready())
        return false;
    QFont initial;
    if (!m_fontName.isEmpty())
        initial.setFamilies({m_fontName});
    initial.setItalic(m_fontItalic);
    initial.setUnderline(m_fontUnderline);
    initial.setBold(m_fontBold);
    if (m_fontSize > 0)
        initial.setPointSize(m_fontSize);
    const std::optional<DialogService::FontChoice> chosen =
        m_dialogs->font(m_owner, initial, PackedColour(m_color), false);
    if (!chosen)
        return false;
    m_fontName = upToNul(chosen->font.family());
    m_fontBold = chosen->font.bold();
    m_fontItalic = chosen->font.italic();
    // Tenths of a point, the remainder dropped: 10.5 points give 10.
    const double points = chosen->font.pointSizeF();
    if (points > 0)
        m_fontSize = qint16(std::lround(points * 10) / 10);
    return true;
}

bool CCommonDialogs::ShowPrinter()
{
    return ready() && m_dialogs->printer(m_owner, DialogService::PrinterDialog::Choose);
}

bool CCommonDialogs::ShowPrinterProperties()
{
    return ready() && m_dialogs->printer(m_owner, DialogService::PrinterDialog::Properties);
}
