#include "data/engine/csv/CsvBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/csv/CsvTable.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/SafeReplace.h"
#include "data/engine/text/CodePage.h"
#include "data/engine/text/CpgFile.h"

#include <QFileInfo>

namespace lumora::engine {

namespace {

// The largest file read: a roster of a million rows is far smaller.
constexpr qint64 kLargestFile = qint64(512) << 20;

// The code page the connect string's charset= names, else the .cpg file
// beside the file; empty when neither names one. An unknown name in the
// connect string is refused; one in a .cpg file is noted and passed over.
QByteArray namedEncoding(const QString &path, const QString &connect, QList<EngineNote> &notes)
{
    for (const QString &part : connect.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0 || part.left(eq).trimmed().compare(QLatin1String("charset"), Qt::CaseInsensitive) != 0)
            continue;
        const QString given = part.mid(eq + 1).trimmed();
        const QByteArray name = CodePage::nameForCpg(given.toLatin1());
        if (name.isEmpty())
            throw EngineError::format(u"The connect string names the unknown character set \"%1\"",
                                      u"连接字符串中的字符集“%1”无法识别", given);
        return name;
    }
    if (path.isEmpty())
        return {};
    const QByteArray cpg = cpgTextBeside(path);
    if (cpg.isEmpty())
        return {};
    const QByteArray name = CodePage::nameForCpg(cpg);
    if (name.isEmpty())
        notes.append(EngineNote::warning(
            u"The .cpg file beside %1 names the unknown code page \"%2\"; it is passed over",
            u"%1 旁边的 .cpg 文件写的代码页“%2”无法识别，已忽略", QFileInfo(path).fileName(),
            QString::fromLatin1(cpg)));
    return name;
}

class CsvFileBackend : public Backend
{
public:
    CsvFileBackend(QString path, QString what, const QByteArray &file, QByteArray named,
                   QList<EngineNote> notes)
        : m_path(std::move(path))
        , m_what(std::move(what))
        , m_named(std::move(named))
        , m_notes(std::move(notes))
    {
        const QFileInfo info(m_what);
        m_name = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
        const CsvEncoding encoding = CsvEncoding::detect(file, m_named);
        m_layout =
            std::make_shared<const CsvLayout>(file, encoding, CsvLayout::sniff(file, encoding), m_what);
    }

    QStringList tableNames() const override { return {m_name}; }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        if (name.compare(m_name, Qt::CaseInsensitive) != 0)
            throw EngineError::format(u"There is no table %1 in %2: its one table is %3",
                                      u"文件 %2 中没有数据表 %1：它唯一的数据表是 %3", name, m_what, m_name);
        return std::make_unique<CsvTable>(m_path, m_what, m_name, m_layout, m_named, m_notes);
    }

private:
    QString m_path;
    QString m_what;
    QString m_name;
    QByteArray m_named;
    QList<EngineNote> m_notes;
    std::shared_ptr<const CsvLayout> m_layout;
};

} // namespace

std::unique_ptr<Backend> openTextFile(const QString &path, const QString &connect)
{
    const QFileInfo info(path);
    if (!info.isFile())
        throw EngineError::format(u"The text file %1 does not exist", u"文本文件 %1 不存在", path);
    const QString what = info.fileName();
    QList<EngineNote> notes;
    const QByteArray named = namedEncoding(path, connect, notes);
    SafeReplace::recover(path, what);
    const LockedFile file(path, what, LockedFile::Mode::Read);
    const qint64 size = file.size();
    if (size > kLargestFile)
        throw EngineError::format(u"%1 is too large to read as a table: %2 MB, at most %3 MB",
                                  u"%1 太大，无法作为数据表读取：%2 MB，最多 %3 MB", what, size >> 20,
                                  kLargestFile >> 20);
    return std::make_unique<CsvFileBackend>(path, what, file.read(0, size), named, notes);
}

std::unique_ptr<Backend> openTextBytes(const QByteArray &file, const QString &what)
{
    return std::make_unique<CsvFileBackend>(QString(), what, file, QByteArray(), QList<EngineNote>());
}

} // namespace lumora::engine
