#pragma once

#include "data/engine/EngineError.h"
#include "data/engine/mdb/JetFormat.h"
#include "data/engine/text/CodePage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace lumora::engine {

class LockedFile;

// What JetFile::writePages() throws when another program changed the pages
// a change was worked out from: reading again may let it be made.
class JetChangedElsewhere : public EngineError
{
public:
    using EngineError::EngineError;
};

// One Jet 3 or Jet 4 database file, page by page: the only place the Access
// codec reads or writes the file. Opening checks page 0 (the file is a Jet
// database, of a version this reader knows, neither encrypted nor guarded
// by a password it was not given) and picks the code page of Jet 3 text;
// pages are read when first asked for and kept. Every failure throws an
// EngineError naming the file.
//
//     auto db = JetFile::open(path, {});
//     QByteArrayView tdef = db->page(2); // the catalogue's definition
class JetFile
{
public:
    struct Options
    {
        QByteArray codePage; // forces the code page of Jet 3 text ("GBK", "CP936", "936")
        QString password;    // as given after ";pwd="
    };

    ~JetFile();
    static std::unique_ptr<JetFile> open(const QString &path, const Options &options);
    // A database over bytes in memory (the fuzz target's); it cannot be written.
    static std::unique_ptr<JetFile> fromBytes(QByteArray bytes, const QString &what, const Options &options);

    const JetFormat &format() const { return *m_format; }
    // The file's name, as messages show it.
    const QString &what() const { return m_what; }
    const QString &path() const { return m_path; }
    quint32 pageCount() const { return m_pageCount; }
    // Page `n` as last read or written; throws when the file has no such page.
    QByteArrayView page(quint32 n) const;

    // Text as Jet keeps it: in Jet 3 in the database's code page (or in
    // `codec`, when given), in Jet 4 UTF-16LE or, after the marker FF FE,
    // "compressed" (runs of one-byte characters U+0001-U+00FF and of UTF-16
    // units, switched by a 0x00).
    QString decodeText(QByteArrayView bytes, const CodePage *codec = nullptr) const;
    // The bytes of `text`: compressed in Jet 4 when `compressible` and every
    // character allows it; nothing when the Jet 3 code page lacks a character.
    std::optional<QByteArray> encodeText(const QString &text, bool compressible,
                                         const CodePage *codec = nullptr) const;
    // The code page Jet 3 text is read in ("windows-1252", "GBK").
    const CodePage &textCodec() const { return m_codec; }
    const QByteArray &codePage() const { return m_codec.name(); }
    // When nothing named the code page of Jet 3 text and GBK was assumed:
    // the code page the header names (windows-1252 when none), for a table
    // whose text is not GBK. Null otherwise.
    const CodePage *fallbackCodec() const { return m_fallback ? &*m_fallback : nullptr; }
    QList<EngineNote> notes() const { return m_notes; }
    // The file's size in bytes when opened.
    qint64 size() const { return m_size; }

    // Writes whole pages with the file locked, then flushes them. Before
    // anything is written, every page in `read` (the pages the change was
    // worked out from) and in `pages` must still hold on the disk what
    // page() gave; otherwise another program has changed the file and
    // nothing is written. A page numbered past the end is added to the
    // file (the caller lists such pages in order). Pages are written in the order given, each
    // flushed before the next, so a writer stopped half way leaves whole
    // pages only.
    struct PageWrite
    {
        quint32 number;
        QByteArray bytes;
    };
    void writePages(const std::vector<PageWrite> &pages, const std::vector<quint32> &read);
    // Forgets every page read (page 0 aside, whose header is taken as it
    // was) and the file's size, so that pages are read again from the disk.
    void forget();

private:
    JetFile(QString path, QString what);
    void readHeader(const Options &options);

    QString m_path; // empty for a database in memory
    QString m_what;
    std::unique_ptr<LockedFile> m_file;
    QByteArray m_memory;
    const JetFormat *m_format = &kJet4;
    quint32 m_pageCount = 0;
    qint64 m_size = 0;
    mutable std::unordered_map<quint32, QByteArray> m_pages; // its nodes stay put: m_last may point into it
    mutable quint32 m_lastNumber = 0;
    mutable const QByteArray *m_last = nullptr; // the page asked for last, page m_lastNumber
    CodePage m_codec{"windows-1252"};
    std::optional<CodePage> m_fallback;
    QList<EngineNote> m_notes;
};

// RC4 over `bytes` in place: Jet scrambles the header of page 0 with it.
void jetRc4(QByteArray &bytes, qsizetype from, qsizetype length, const unsigned char *key, int keyLength);

} // namespace lumora::engine
