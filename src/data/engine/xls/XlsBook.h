#pragma once

#include "data/engine/xls/XlsReadBack.h"
#include "data/engine/xls/XlsWorkbook.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace lumora::engine {

// One .xls file as the tables opened from it share it: the file's bytes as
// read, and its Workbook stream parsed. A write replaces both, so every
// table of the file sees the new cells.
class XlsBook
{
public:
    // Reads and parses the file, after putting back what a writer that died
    // while writing it in place had saved; throws EngineError naming it.
    explicit XlsBook(QString path);
    // A workbook from bytes in memory (tests, fuzzing); it cannot be written.
    XlsBook(QByteArray file, QString what);

    const QString &path() const { return m_path; }
    const QString &what() const { return m_what; }
    const QByteArray &file() const { return m_file; }
    // The parsed workbook; after a write, parsed again when first asked for.
    const XlsWorkbook &workbook() const;
    // Counts the writes, so that work prepared for one state of the file is
    // not used on another.
    int generation() const { return m_generation; }

    // The whole file with `stream` as its Workbook stream, every other byte
    // of the container kept, read back before it is returned: the whole
    // container as libgsf and a strict reading of its tables see it, then
    // the workbook, which must hold `changes` and every other cell as
    // before (checkReadsBack). Throws EngineError, saying the file is not
    // written, when the container cannot be patched or does not read back.
    QByteArray fileWithStream(const QByteArray &stream, const std::vector<XlsWrittenCell> &changes) const;
    // Replaces the file by `file` (from fileWithStream) through SafeReplace,
    // keeping what belongs to the file. Throws EngineError, having written
    // nothing, when an office program holds the file open, another program
    // replaced or changed it since it was read (Code::Changed), or the file
    // cannot be replaced.
    void writeFile(const QByteArray &file);
    // Throws the error writeStream() gives when an office program holds
    // the file open (its lock file lies beside it).
    void checkNotInUse() const;

private:
    void load(QByteArray file);
    // The parsed workbook of these bytes: the one parsed last when it was
    // parsed from the same bytes under the same name, else a new one. The
    // write-back opens a roster the grid has just read, unchanged since.
    static std::shared_ptr<const XlsWorkbook> parse(const QByteArray &file, const QString &what);

    QString m_path; // empty for a workbook read from memory
    QString m_what;
    QByteArray m_file;
    mutable std::shared_ptr<const XlsWorkbook> m_workbook;
    int m_generation = 0;
};

} // namespace lumora::engine
