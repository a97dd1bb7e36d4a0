#include "data/engine/xls/XlsContainer.h"

#include "data/engine/EngineError.h"
#include "data/engine/xls/CompoundFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>

#include <QMap>
#include <memory>

namespace lumora::engine {

namespace {

struct GObjectUnref
{
    void operator()(void *p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T> using GsfHandle = std::unique_ptr<T, GObjectUnref>;

EngineError notAWorkbook(const QString &what, const QString &why, const QString &chinese)
{
    return EngineError(QStringLiteral("%1 cannot be opened as an Excel 97-2003 workbook: %2").arg(what, why),
                       QStringLiteral("%1 无法作为 Excel 97-2003 工作簿打开：%2").arg(what, chinese));
}

// What a file that is no compound file most likely is.
EngineError notCompound(const QByteArray &file, const QString &what)
{
    if (file.startsWith("PK\x03\x04"))
        return notAWorkbook(
            what,
            QStringLiteral("it is a zip file, such as an Excel 2007 or later workbook (.xlsx) "
                           "renamed .xls; save it in Excel 97-2003 format (.xls)"),
            QStringLiteral("它是 zip 文件（例如改名为 .xls 的 Excel 2007 及以后版本的 .xlsx 工作簿），"
                           "请另存为 Excel 97-2003 格式（.xls）"));
    // A bare BIFF2 to BIFF4 stream starts with its BOF record.
    if (file.size() >= 4 && quint8(file[1]) <= 0x08 && quint8(file[0]) == 0x09 &&
        (quint8(file[1]) == 0x00 || quint8(file[1]) == 0x02 || quint8(file[1]) == 0x04 ||
         quint8(file[1]) == 0x08))
        return notAWorkbook(
            what,
            QStringLiteral("it was written by Excel 4.0 or older; save it in Excel 97-2003 "
                           "format (.xls)"),
            QStringLiteral("它是 Excel 4.0 或更早版本写的，请另存为 Excel 97-2003 格式（.xls）"));
    if (file.isEmpty())
        return notAWorkbook(what, QStringLiteral("the file is empty"), QStringLiteral("文件是空的"));
    return notAWorkbook(what, QStringLiteral("it is not an OLE2 compound file"),
                        QStringLiteral("它不是 OLE2 复合文档"));
}

// The compound file in `file` opened by libgsf, reading through `input`,
// which must outlive it. Throws EngineError naming `what` when libgsf
// cannot read the container.
GsfHandle<GsfInfile> openOle(const QByteArray &file, const QString &what, GsfHandle<GsfInput> &input)
{
    input.reset(gsf_input_memory_new(reinterpret_cast<const guint8 *>(file.constData()), file.size(), FALSE));
    GError *error = nullptr;
    GsfHandle<GsfInfile> ole(gsf_infile_msole_new(input.get(), &error));
    if (!ole) {
        const QString why = error ? QString::fromUtf8(error->message) : QString();
        if (error)
            g_error_free(error);
        throw EngineError(
            QStringLiteral("%1 is damaged: its OLE2 container cannot be read (%2)").arg(what, why),
            QStringLiteral("文件 %1 已损坏：无法读取其 OLE2 复合文档结构（%2）").arg(what, why));
    }
    return ole;
}

// Every stream of the compound file by path, as libgsf reads it; a stream
// it cannot read in full is left out.
QMap<QString, QByteArray> gsfStreams(const QByteArray &file, const QString &what)
{
    GsfHandle<GsfInput> input;
    const GsfHandle<GsfInfile> ole = openOle(file, what, input);
    QMap<QString, QByteArray> out;
    const auto walk = [&](const auto &self, GsfInfile *dir, const QString &prefix) -> void {
        const int n = gsf_infile_num_children(dir);
        for (int i = 0; i < n; ++i) {
            const char *name = gsf_infile_name_by_index(dir, i);
            GsfHandle<GsfInput> child(gsf_infile_child_by_index(dir, i));
            if (!name || !child)
                continue;
            const QString path = prefix + QString::fromUtf8(name);
            if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
                self(self, GSF_INFILE(child.get()), path + QLatin1Char('/'));
                continue;
            }
            const gsf_off_t size = gsf_input_size(child.get());
            if (size < 0 || size > file.size())
                continue;
            QByteArray bytes(qsizetype(size), Qt::Uninitialized);
            if (size == 0 ||
                gsf_input_read(child.get(), size_t(size), reinterpret_cast<guint8 *>(bytes.data())))
                out.insert(path, bytes);
        }
    };
    walk(walk, ole.get(), QString());
    return out;
}

EngineError damagedCopy(const QString &copy, const QString &why, const QString &chinese)
{
    return EngineError(QStringLiteral("%1 is damaged: %2").arg(copy, why),
                       QStringLiteral("文件 %1 已损坏：%2").arg(copy, chinese));
}

// Throws unless `after` holds the streams of `before`, `stream` replaced.
void requireStreams(QMap<QString, QByteArray> before, const QMap<QString, QByteArray> &after,
                    const QString &stream, const QByteArray &expected, const QString &copy,
                    const QString &reader, const QString &readerZh)
{
    before.insert(stream, expected);
    QStringList paths = before.keys() + after.keys();
    paths.removeDuplicates();
    for (const QString &path : std::as_const(paths))
        if (!before.contains(path) || !after.contains(path) || before.value(path) != after.value(path))
            throw damagedCopy(
                copy, QStringLiteral("%1 does not give back its stream %2 as it should").arg(reader, path),
                QStringLiteral("%1读出的数据流 %2 与应有的不同").arg(readerZh, path));
}

} // namespace

void checkRewrittenContainer(const QByteArray &original, const QByteArray &rewritten, const QString &stream,
                             const QByteArray &expected, const QString &what)
{
    const CompoundFile before(original, what);
    const QString copy = rewrittenName(what);
    try {
        const CompoundFile after(rewritten, copy);
        for (const CompoundFile::Flaw &flaw : after.flaws())
            if (!before.flaws().contains(flaw))
                throw damagedCopy(copy, flaw.english, flaw.chinese);
        const qint64 lost = after.lostSectors() - before.lostSectors();
        const qint64 lostMini = after.lostMiniSectors() - before.lostMiniSectors();
        if (lost > 0 || lostMini > 0)
            throw damagedCopy(
                copy,
                QStringLiteral("%1 more of its sectors are marked in use but belong to nothing")
                    .arg(std::max(lost, lostMini)),
                QStringLiteral("又有 %1 个扇区被标为已用，却不属于任何结构").arg(std::max(lost, lostMini)));
        requireStreams(before.streams(), after.streams(), stream, expected, copy,
                       QStringLiteral("read through its sector tables, it"), QStringLiteral("按扇区表"));
        requireStreams(gsfStreams(original, what), gsfStreams(rewritten, copy), stream, expected, copy,
                       QStringLiteral("read by libgsf, it"), QStringLiteral("libgsf "));
    } catch (const EngineError &e) {
        throw notWritten(e, what);
    }
}

QByteArray readWorkbookStream(const QByteArray &file, const QString &what)
{
    if (!CompoundFile::hasSignature(file))
        throw notCompound(file, what);
    // Our own reading of the sector tables refuses a damaged container
    // before libgsf sees it: libgsf leaks memory on some damaged
    // directories, and its refusals name no cause a person can act on.
    CompoundFile(file, what);
    GsfHandle<GsfInput> input;
    const GsfHandle<GsfInfile> ole = openOle(file, what, input);

    // Excel 97 and later name the stream "Workbook"; Excel 5 and 95 "Book".
    GsfHandle<GsfInput> stream;
    bool oldBook = false, encrypted = false;
    const int n = gsf_infile_num_children(ole.get());
    for (int i = 0; i < n && !stream; ++i) {
        const char *name = gsf_infile_name_by_index(ole.get(), i);
        if (!name)
            continue;
        const QString s = QString::fromUtf8(name);
        if (s.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0)
            stream.reset(gsf_infile_child_by_index(ole.get(), i));
        else if (s.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0)
            oldBook = true;
        else if (s.compare(QLatin1String("EncryptedPackage"), Qt::CaseInsensitive) == 0)
            encrypted = true;
    }
    if (!stream) {
        // Excel 2007 and later keep a workbook protected by a password to
        // open as an encrypted package inside a compound file.
        if (encrypted)
            throw EngineError(
                QStringLiteral("%1 cannot be opened: it is an encrypted workbook (protected by a password "
                               "to open); save it without the password")
                    .arg(what),
                QStringLiteral("无法打开 %1：它是加密的工作簿（设置了打开密码），请取消密码后另存")
                    .arg(what));
        if (oldBook)
            throw notAWorkbook(
                what,
                QStringLiteral("it was written by Excel 5.0 or Excel 95; save it in Excel "
                               "97-2003 format (.xls)"),
                QStringLiteral("它是 Excel 5.0 或 Excel 95 写的，请另存为 Excel 97-2003 格式（.xls）"));
        throw notAWorkbook(what,
                           QStringLiteral("the compound file holds no workbook (a Word or other document?)"),
                           QStringLiteral("这个复合文档里没有工作簿（也许是 Word 或其他文档）"));
    }
    const gsf_off_t size = gsf_input_size(stream.get());
    if (size < 0 || size > file.size())
        throw EngineError(
            QStringLiteral("%1 is damaged: its workbook stream claims %2 bytes in a file of %3")
                .arg(what)
                .arg(size)
                .arg(file.size()),
            QStringLiteral("文件 %1 已损坏：工作簿数据流自称有 %2 个字节，而整个文件只有 %3 个字节")
                .arg(what)
                .arg(size)
                .arg(file.size()));
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (size > 0 && !gsf_input_read(stream.get(), size_t(size), reinterpret_cast<guint8 *>(bytes.data())))
        throw EngineError(
            QStringLiteral("%1 is damaged: its workbook stream cannot be read in full").arg(what),
            QStringLiteral("文件 %1 已损坏：无法完整读取其工作簿数据流").arg(what));
    return bytes;
}

} // namespace lumora::engine
