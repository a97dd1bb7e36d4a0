#include "data/engine/xls/XlsBook.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/LockedFile.h"
#include "data/engine/io/OfficeLock.h"
#include "data/engine/io/SafeReplace.h"
#include "data/engine/xls/CompoundFile.h"
#include "data/engine/xls/XlsContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace lumora::engine {

XlsBook::XlsBook(QString path)
    : m_path(std::move(path))
    , m_what(QFileInfo(m_path).fileName())
{
    SafeReplace::recover(m_path, m_what);
    const LockedFile file(m_path, m_what, LockedFile::Mode::Read);
    try {
        load(file.read(0, file.size()));
    } catch (const EngineError &e) {
        // The English text, for lumora-sql and logs, names the whole path;
        // the window's Chinese text the file's name.
        const qsizetype at = e.message().indexOf(m_what);
        if (at < 0)
            throw;
        throw EngineError(QString(e.message()).replace(at, m_what.size(), m_path), e.chinese(), e.code());
    }
}

XlsBook::XlsBook(QByteArray file, QString what)
    : m_what(std::move(what))
{
    load(std::move(file));
}

std::shared_ptr<const XlsWorkbook> XlsBook::parse(const QByteArray &file, const QString &what)
{
    // One entry, for the one thread the engine runs on at a time; a
    // workbook's sheets are parsed when first asked for, under this lock
    // only as far as the cache itself goes.
    static std::mutex lock;
    static QByteArray lastFile;
    static QString lastWhat;
    static std::shared_ptr<const XlsWorkbook> last;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (last && lastWhat == what && lastFile == file)
            return last;
    }
    auto parsed = std::make_shared<const XlsWorkbook>(readWorkbookStream(file, what), what);
    const std::lock_guard<std::mutex> guard(lock);
    lastFile = file;
    lastWhat = what;
    last = parsed;
    return parsed;
}

void XlsBook::load(QByteArray file)
{
    m_workbook = parse(file, m_what);
    m_file = std::move(file);
}

void XlsBook::checkNotInUse() const
{
    if (m_path.isEmpty())
        throw EngineError::format(u"%1 was read from memory and cannot be written",
                                  u"%1 是从内存读取的，无法写入", m_what);
    refuseIfOpenInOffice(m_path, m_what);
}

QByteArray XlsBook::fileWithStream(const QByteArray &stream, const std::vector<XlsWrittenCell> &changes) const
{
    const CompoundFile container(m_file, m_what);
    const int entry = container.find(u"Workbook");
    if (entry < 0)
        throw EngineError::format(
            u"%1 is not written: its compound file's tables do not lead to the workbook "
            u"stream they hold",
            u"没有写入 %1：其复合文档的分配表与其中的工作簿数据流对不上", m_what);
    QByteArray out = container.withStream(entry, stream);
    checkRewrittenContainer(m_file, out, container.entries().at(entry).name, container.stored(stream),
                            m_what);
    // The workbook read back as it is read when opened.
    try {
        const QString copy = rewrittenName(m_what);
        checkReadsBack(workbook(), XlsWorkbook(readWorkbookStream(out, copy), copy), changes);
    } catch (const EngineError &e) {
        throw notWritten(e, m_what);
    }
    return out;
}

const XlsWorkbook &XlsBook::workbook() const
{
    if (!m_workbook)
        m_workbook = parse(m_file, m_what);
    return *m_workbook;
}

void XlsBook::writeFile(const QByteArray &out)
{
    checkNotInUse();

    // The lock keeps another copy of this program from writing at the same
    // time, and refuses while a program that locks files has it open. A
    // file another program replaced or changed since it was read is not
    // written over: Code::Changed has the statement read it again.
    SafeReplace file(m_path, m_what);
    file.checkHolds(m_file);
    file.replace(out);
    m_file = out;
    m_workbook.reset();
    ++m_generation;
}

} // namespace lumora::engine
