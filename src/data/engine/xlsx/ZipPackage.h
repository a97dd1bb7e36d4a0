#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

struct zip;

namespace lumora::engine {

// A zip archive in memory, as an .xlsx workbook's container, read through
// libzip. Opening refuses (EngineError naming `what`) a damaged archive and
// a member whose name is absolute or climbs out with "..", or that two
// members share in any letter case. read() refuses a member that inflates
// past `partLimit` bytes, counted as it inflates whatever the archive
// claims, and one whose data is damaged (its CRC does not match).
//
//     ZipPackage zip(bytes, "roster.xlsx");
//     QByteArray sheet = zip.read(u"xl/worksheets/sheet1.xml");
//     QByteArray out = zip.withParts({{"xl/worksheets/sheet1.xml", newSheet}});
class ZipPackage
{
public:
    static constexpr qint64 kPartLimit = 256ll << 20;

    ZipPackage(QByteArray file, QString what, qint64 partLimit = kPartLimit);
    ~ZipPackage();
    ZipPackage(const ZipPackage &) = delete;
    ZipPackage &operator=(const ZipPackage &) = delete;

    const QString &what() const { return m_what; }
    const QByteArray &file() const { return m_file; }
    // Member names as the archive spells them, in archive order.
    QStringList names() const { return m_names; }
    // The member's name as the archive spells it (part names compare
    // without regard to letter case), or an empty string.
    QString find(QStringView name) const;
    bool contains(QStringView name) const { return !find(name).isEmpty(); }
    // The inflated size the archive claims for a member (0 when unknown),
    // at most 64 times its stored size: a hint for reserving room, never
    // trusted.
    qint64 claimedSize(QStringView name) const;
    // The member's inflated bytes; throws for a missing member, naming it.
    QByteArray read(QStringView name) const;
    // The same, handed to `sink` piece by piece as it inflates.
    void stream(QStringView name, const std::function<void(const char *, qsizetype)> &sink) const;
    // The archive with the named members' contents replaced (deflated
    // anew), every other member's stored bytes copied as they are.
    QByteArray withParts(const QMap<QString, QByteArray> &parts) const;

private:
    [[noreturn]] void damaged(const QString &why, const QString &chinese) const;

    QByteArray m_file;
    QString m_what;
    qint64 m_limit;
    zip *m_zip = nullptr;
    QStringList m_names;
    QHash<QString, qint64> m_index; // folded name -> member index
};

} // namespace lumora::engine
