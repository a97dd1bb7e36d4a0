#pragma once

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
    // Reads and parses the file; throws EngineError naming it.
    explicit XlsBook(QString path);
    // A workbook from bytes in memory (tests, fuzzing); it cannot be written.
    XlsBook(QByteArray file, QString what);

    const QString &path() const { return m_path; }
    const QString &what() const { return m_what; }
    const QByteArray &file() const { return m_file; }
    const XlsWorkbook &workbook() const { return *m_workbook; }

    // Writes `stream` as the file's new Workbook stream, every other byte of
    // the container kept, through a temporary file renamed over the file;
    // then reads the result back. Throws EngineError, having written
    // nothing, when an office program holds the file open, another program
    // changed it since it was read, or the file cannot be replaced.
    void writeStream(const QByteArray &stream);
    // The whole file as writeStream() would write it, checked by reading its
    // Workbook stream back through libgsf.
    QByteArray fileWithStream(const QByteArray &stream) const;
    // Throws the error writeStream() gives when an office program holds
    // the file open (its lock file lies beside it).
    void checkNotInUse() const;

private:
    void load(QByteArray file);

    QString m_path; // empty for a workbook read from memory
    QString m_what;
    QByteArray m_file;
    std::unique_ptr<XlsWorkbook> m_workbook;
};

} // namespace lumora::engine
