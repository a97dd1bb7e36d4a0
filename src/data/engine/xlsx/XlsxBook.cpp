#include "data/engine/xlsx/XlsxBook.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/OfficeLockFile.h"
#include "data/engine/io/SafeReplace.h"

#include <QFileInfo>

namespace lumora::engine {

XlsxBook::XlsxBook(QString path)
    : m_path(std::move(path))
    , m_what(QFileInfo(m_path).fileName())
{
    SafeReplace::recover(m_path, m_what);
    const LockedFile file(m_path, m_what, LockedFile::Mode::Read);
    m_file = file.read(0, file.size());
    try {
        m_workbook = std::make_shared<const XlsxWorkbook>(m_file, m_what);
    } catch (const EngineError &e) {
        // The English text, for lumora-sql and logs, names the whole path;
        // the window's Chinese text the file's name.
        const qsizetype at = e.message().indexOf(m_what);
        if (at < 0)
            throw;
        throw EngineError(QString(e.message()).replace(at, m_what.size(), m_path), e.chinese(), e.code());
    }
}

XlsxBook::XlsxBook(QByteArray file, QString what)
    : m_what(std::move(what))
    , m_file(std::move(file))
    , m_workbook(std::make_shared<const XlsxWorkbook>(m_file, m_what))
{
}

const XlsxWorkbook &XlsxBook::workbook() const
{
    if (!m_workbook)
        m_workbook = std::make_shared<const XlsxWorkbook>(m_file, m_what);
    return *m_workbook;
}

void XlsxBook::checkNotInUse() const
{
    if (m_path.isEmpty())
        throw EngineError::format(u"%1 was read from memory and cannot be written",
                                  u"%1 是从内存读取的，无法写入", m_what);
    refuseWhileOfficeHoldsOpen(m_path, m_what);
}

void XlsxBook::writeFile(const QByteArray &out)
{
    checkNotInUse();
    SafeReplace file(m_path, m_what);
    file.checkHolds(m_file);
    file.replace(out);
    m_file = out;
    m_workbook.reset();
    ++m_generation;
}

} // namespace lumora::engine
