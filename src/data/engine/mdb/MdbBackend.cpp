#include "data/engine/mdb/MdbBackend.h"

#include "data/engine/EngineError.h"
#include "data/engine/mdb/JetFile.h"
#include "data/engine/mdb/MdbTable.h"
#include "data/engine/text/CpgFile.h"

#include <optional>

namespace lumora::engine {

namespace {

// MSysObjects, the catalogue, is defined on page 2 of every Jet database.
constexpr quint32 kCatalogPage = 2;
// Its object types and the flags of system objects.
constexpr qint64 kTypeTable = 1;
constexpr qint64 kTypeLinkedOdbc = 4;
constexpr qint64 kTypeQuery = 5;
constexpr qint64 kTypeLinked = 6;
constexpr qint64 kSystemFlags = 0x80000002;

JetFile::Options optionsOf(const QString &connect)
{
    JetFile::Options options;
    for (const QString &part : connect.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = part.left(eq).trimmed();
        const QString value = part.mid(eq + 1);
        if (key.compare(QLatin1String("pwd"), Qt::CaseInsensitive) == 0)
            options.password = value;
        else if (key.compare(QLatin1String("charset"), Qt::CaseInsensitive) == 0)
            options.codePage = value.trimmed().toLatin1();
    }
    return options;
}

class MdbDatabase : public Backend
{
public:
    explicit MdbDatabase(std::shared_ptr<JetFile> db)
        : m_db(std::move(db))
    {
        // A catalogue that cannot be read refuses the file: listing no
        // tables would look like an empty database.
        std::optional<MdbTable> read;
        try {
            read.emplace(m_db, QStringLiteral("MSysObjects"), kCatalogPage, QList<EngineNote>());
        } catch (const EngineError &e) {
            throw EngineError(
                QStringLiteral("%1: its catalogue, the list of its tables, cannot be read: %2")
                    .arg(m_db->what(), e.message()),
                QStringLiteral("%1 的目录表（数据表清单）无法读取：%2").arg(m_db->what(), e.chinese()));
        }
        const MdbTable &catalog = *read;
        int id = -1, name = -1, type = -1, flags = -1;
        const QList<FieldInfo> &fields = catalog.fields();
        for (int i = 0; i < fields.size(); ++i) {
            const QString &n = fields[i].name;
            if (n.compare(QLatin1String("Id"), Qt::CaseInsensitive) == 0)
                id = i;
            else if (n.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
                name = i;
            else if (n.compare(QLatin1String("Type"), Qt::CaseInsensitive) == 0)
                type = i;
            else if (n.compare(QLatin1String("Flags"), Qt::CaseInsensitive) == 0)
                flags = i;
        }
        if (id < 0 || name < 0 || type < 0 || flags < 0)
            throw EngineError::format(
                u"%1 is damaged: its catalogue lacks the columns Id, Name, Type and Flags",
                u"文件 %1 已损坏：其目录表缺少 Id、Name、Type、Flags 列", m_db->what());
        QStringList linked, queries;
        for (qsizetype r = 0; r < catalog.recordCount(); ++r) {
            const qint64 t = catalog.value(r, type).toInteger();
            const QString objectName = catalog.value(r, name).toText();
            if (t == kTypeTable) {
                const qint64 f = catalog.value(r, flags).toInteger();
                if ((f & kSystemFlags) != 0 ||
                    objectName.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
                    continue;
                m_tables.append(objectName);
                m_pages.append(quint32(catalog.value(r, id).toInteger() & 0xFFFFFF));
            } else if (t == kTypeLinked || t == kTypeLinkedOdbc) {
                linked.append(objectName);
            } else if (t == kTypeQuery) {
                queries.append(objectName);
            }
        }
        if (catalog.missingRecords() > 0) {
            if (m_tables.isEmpty())
                throw EngineError::format(
                    u"%1 is damaged: %2 of the %3 entries of its catalogue, the list of its tables, are "
                    u"missing (the file is %4 bytes long: it may have been cut short), and no table is left "
                    u"to list",
                    u"文件 %1 已损坏：目录表（数据表清单）的 %3 项中缺少 %2 项（文件长 %4 "
                    u"字节，可能不完整），"
                    u"列不出任何数据表",
                    m_db->what(), catalog.missingRecords(), catalog.definition().rows, m_db->size());
            m_notes.append(EngineNote::warning(
                u"%1: %2 of the %3 entries of its catalogue are missing (the file is %4 bytes long: it may "
                u"have been cut short), so tables may be missing from the list",
                u"文件 %1 的目录表（数据表清单）的 %3 项中缺少 %2 项（文件长 %4 字节，可能不完整），"
                u"列出的数据表可能不全",
                m_db->what(), catalog.missingRecords(), catalog.definition().rows, m_db->size()));
        }
        m_notes = m_db->notes() + m_notes;
        if (!linked.isEmpty())
            m_notes.append(EngineNote::information(
                u"%1: the linked tables %2 are not listed: their records are kept in other files",
                u"文件 %1 中的链接表 %2 没有列出：它们的记录存放在其他文件中", m_db->what(),
                linked.join(QStringLiteral(", "))));
        if (!queries.isEmpty())
            m_notes.append(EngineNote::information(u"%1: the queries %2 are not listed: only tables are",
                                                   u"文件 %1 中的查询 %2 没有列出：只列出数据表",
                                                   m_db->what(), queries.join(QStringLiteral(", "))));
    }

    QStringList tableNames() const override { return m_tables; }

    std::unique_ptr<TableSource> openTable(const QString &name) override
    {
        qsizetype found = m_tables.indexOf(name);
        if (found < 0) {
            for (qsizetype i = 0; i < m_tables.size(); ++i) {
                if (m_tables[i].compare(name, Qt::CaseInsensitive) != 0)
                    continue;
                if (found >= 0)
                    throw EngineError::format(u"The table name %1 is ambiguous in %2",
                                              u"%2 中的数据表名 %1 不明确", name, m_db->what());
                found = i;
            }
        }
        if (found < 0)
            throw EngineError::format(u"There is no table %1 in %2", u"%2 中没有数据表 %1", name,
                                      m_db->what());
        return std::make_unique<MdbTable>(m_db, m_tables[found], m_pages[found], m_notes);
    }

private:
    std::shared_ptr<JetFile> m_db;
    QStringList m_tables;
    QList<quint32> m_pages;
    QList<EngineNote> m_notes;
};

} // namespace

std::unique_ptr<Backend> openMdb(const QString &path, const QString &connect)
{
    JetFile::Options options = optionsOf(connect);
    // A .cpg file beside the database names the code page of its Jet 3
    // text, as it does for a dBase table, when the connect string does not.
    if (options.codePage.isEmpty())
        options.codePage = cpgTextBeside(path);
    return std::make_unique<MdbDatabase>(std::shared_ptr<JetFile>(JetFile::open(path, options)));
}

std::unique_ptr<Backend> mdbFromBytes(const QByteArray &bytes, const QString &connect)
{
    return std::make_unique<MdbDatabase>(std::shared_ptr<JetFile>(
        JetFile::fromBytes(bytes, QStringLiteral("memory.mdb"), optionsOf(connect))));
}

} // namespace lumora::engine
