#pragma once

#include "data/engine/xlsx/XlsxWorkbook.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace lumora::engine {

// One .xlsx file as the tables opened from it share it: its bytes as read
// and its workbook parsed. A write replaces both.
class XlsxBook
{
public:
    // Reads and parses the file, after putting back what a writer that died
    // while writing it in place had saved; throws EngineError naming it.
    explicit XlsxBook(QString path);
    // A workbook from bytes in memory (tests, fuzzing); it cannot be written.
    XlsxBook(QByteArray file, QString what);

    const QString &path() const { return m_path; }
    const QString &what() const { return m_what; }
    const QByteArray &file() const { return m_file; }
    const XlsxWorkbook &workbook() const;
    int generation() const { return m_generation; }

    // Throws when the book cannot be written now: read from memory, or an
    // office program has it open (its lock file lies beside it).
    void checkNotInUse() const;
    // Replaces the file by `file` through SafeReplace. Throws EngineError,
    // having written nothing, when an office program holds the file open,
    // another program changed or replaced it since it was read
    // (Code::Changed), or it cannot be replaced.
    void writeFile(const QByteArray &file);

private:
    QString m_path;
    QString m_what;
    QByteArray m_file;
    mutable std::shared_ptr<const XlsxWorkbook> m_workbook;
    int m_generation = 0;
};

} // namespace lumora::engine
