#include "data/engine/dbf/DbfBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/dbf/DbfTable.h"

#include <QDir>
#include <QFileInfo>

namespace lumora::engine {

namespace {

// The tables of one folder: every .dbf in it, in any letter case.
class DbfFolder : public Backend
{
public:
    explicit DbfFolder(const QString &folder)
        : m_dir(folder)
    {
        if (!m_dir.exists())
            throw EngineError::format(u"The folder %1 does not exist", u"文件夹 %1 不存在", folder);
        const QFileInfoList entries = m_dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo &entry : entries)
            if (entry.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) == 0)
                m_files.append(entry.fileName());
    }

    QStringList tableNames() const override
    {
        QStringList names;
        for (const QString &file : m_files)
            names.append(QFileInfo(file).completeBaseName());
        return names;
    }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        // An exact spelling wins over one that differs only in letter case;
        // of two that differ only in case (a.dbf, A.DBF, a.DBF) neither is
        // taken.
        QStringList exact, folded;
        for (const QString &file : m_files) {
            const QString base = QFileInfo(file).completeBaseName();
            if (base == name)
                exact.append(file);
            else if (base.compare(name, Qt::CaseInsensitive) == 0)
                folded.append(file);
        }
        const QStringList &matches = exact.isEmpty() ? folded : exact;
        if (matches.isEmpty())
            throw EngineError::format(u"There is no table %1 in %2", u"文件夹 %2 中没有数据表 %1", name,
                                      m_dir.path());
        if (matches.size() > 1)
            throw EngineError(QStringLiteral("The table name %1 is ambiguous in %2: it could be %3")
                                  .arg(name, m_dir.path(), matches.join(QStringLiteral(" or "))),
                              QStringLiteral("文件夹 %2 中的数据表名 %1 不明确：可能是 %3")
                                  .arg(name, m_dir.path(), matches.join(QStringLiteral(" 或 "))));
        return DbfTable::open(m_dir.filePath(matches.first()), QFileInfo(matches.first()).completeBaseName());
    }

private:
    QDir m_dir;
    QStringList m_files;
};

} // namespace

std::unique_ptr<Backend> openDbfFolder(const QString &folder)
{
    // A table's own path names its folder too.
    const QFileInfo info(folder);
    return std::make_unique<DbfFolder>(info.isFile() ? info.absolutePath() : folder);
}

} // namespace lumora::engine
