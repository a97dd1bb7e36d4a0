#include "data/engine/xlsx/ZipPackage.h"

#include "data/engine/EngineError.h"

#include <QRegularExpression>
#include <zip.h>

#include <memory>

namespace lumora::engine {

namespace {

QString zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// Whether a member's name could place a file outside the folder it is
// unpacked into: absolute, a drive, or a ".." step.
bool escapes(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        (name.size() >= 2 && name[1] == QLatin1Char(':')))
        return true;
    for (const QString &step : name.split(QRegularExpression(QStringLiteral("[/\\\\]"))))
        if (step == QLatin1String(".."))
            return true;
    return false;
}

struct SourceFree
{
    void operator()(zip_source_t *s) const { zip_source_free(s); }
};

} // namespace

ZipPackage::ZipPackage(QByteArray file, QString what, qint64 partLimit)
    : m_file(std::move(file))
    , m_what(std::move(what))
    , m_limit(partLimit)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(m_file.constData(), zip_uint64_t(m_file.size()), 0, &error);
    if (source)
        m_zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!m_zip) {
        const QString why = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        damaged(QStringLiteral("its zip container cannot be read (%1)").arg(why),
                QStringLiteral("无法读取其 zip 容器（%1）").arg(why));
    }
    zip_error_fini(&error);
    const zip_int64_t n = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char *raw = zip_get_name(m_zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        const QString name = raw ? QString::fromUtf8(raw) : QString();
        if (name.isEmpty())
            damaged(QStringLiteral("member %1 of its zip container has no name").arg(i + 1),
                    QStringLiteral("其 zip 容器的第 %1 个成员没有名字").arg(i + 1));
        if (escapes(name))
            damaged(QStringLiteral("its zip container holds a member named \"%1\", which points outside "
                                   "the package")
                        .arg(name),
                    QStringLiteral("其 zip 容器中有名为“%1”的成员，指向包以外的位置").arg(name));
        const QString folded = name.toCaseFolded();
        if (m_index.contains(folded))
            damaged(QStringLiteral("its zip container holds the member \"%1\" twice").arg(name),
                    QStringLiteral("其 zip 容器中有两个名为“%1”的成员").arg(name));
        m_index.insert(folded, i);
        m_names.append(name);
    }
}

ZipPackage::~ZipPackage()
{
    if (m_zip)
        zip_discard(m_zip);
}

void ZipPackage::damaged(const QString &why, const QString &chinese) const
{
    if (m_zip) {
        zip_discard(m_zip);
        const_cast<ZipPackage *>(this)->m_zip = nullptr;
    }
    throw EngineError(QStringLiteral("%1 is damaged: %2").arg(m_what, why),
                      QStringLiteral("文件 %1 已损坏：%2").arg(m_what, chinese));
}

QString ZipPackage::find(QStringView name) const
{
    const auto it = m_index.constFind(name.toString().toCaseFolded());
    return it == m_index.constEnd() ? QString() : m_names.at(qsizetype(*it));
}

qint64 ZipPackage::claimedSize(QStringView name) const
{
    const auto it = m_index.constFind(name.toString().toCaseFolded());
    zip_stat_t st;
    zip_stat_init(&st);
    if (it == m_index.constEnd() || zip_stat_index(m_zip, zip_uint64_t(*it), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE))
        return 0;
    // XML deflates to a tenth or a twentieth; a member claiming far more
    // than its stored bytes could hold is believed no further than that.
    return qint64(std::min({st.size, st.comp_size * 64, zip_uint64_t(m_limit)}));
}

QByteArray ZipPackage::read(QStringView name) const
{
    QByteArray out;
    stream(name, [&](const char *data, qsizetype size) { out.append(data, size); });
    return out;
}

void ZipPackage::stream(QStringView name, const std::function<void(const char *, qsizetype)> &sink) const
{
    const auto it = m_index.constFind(name.toString().toCaseFolded());
    if (it == m_index.constEnd())
        throw EngineError(
            QStringLiteral("%1 is damaged: its part %2 is missing").arg(m_what, name.toString()),
            QStringLiteral("文件 %1 已损坏：缺少其组成部分 %2").arg(m_what, name.toString()));
    const auto tooBig = [&] {
        return EngineError(
            QStringLiteral("%1 is refused: its part %2 inflates to more than %3 MB, more than any roster "
                           "holds")
                .arg(m_what, name.toString())
                .arg(m_limit >> 20),
            QStringLiteral("拒绝打开 %1：其组成部分 %2 解压后超过 %3 MB，远超任何名单的大小")
                .arg(m_what, name.toString())
                .arg(m_limit >> 20));
    };
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, zip_uint64_t(*it), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
        st.size > zip_uint64_t(m_limit))
        throw tooBig();
    zip_file_t *f = zip_fopen_index(m_zip, zip_uint64_t(*it), 0);
    if (!f) {
        const QString why = QString::fromUtf8(zip_strerror(m_zip));
        throw EngineError(
            QStringLiteral("%1 is damaged: its part %2 cannot be read (%3)")
                .arg(m_what, name.toString(), why),
            QStringLiteral("文件 %1 已损坏：无法读取其组成部分 %2（%3）").arg(m_what, name.toString(), why));
    }
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> closer(f, zip_fclose);
    constexpr qint64 kChunk = 1 << 16;
    char buffer[kChunk];
    qint64 total = 0;
    for (;;) {
        // At most one byte past the limit is read, to know it is passed.
        const qint64 want = std::min<qint64>(kChunk, m_limit + 1 - total);
        const zip_int64_t got = zip_fread(f, buffer, zip_uint64_t(want));
        if (got < 0) {
            const QString why = QString::fromUtf8(zip_file_strerror(f));
            throw EngineError(QStringLiteral("%1 is damaged: its part %2 cannot be inflated (%3)")
                                  .arg(m_what, name.toString(), why),
                              QStringLiteral("文件 %1 已损坏：无法解压其组成部分 %2（%3）")
                                  .arg(m_what, name.toString(), why));
        }
        total += got;
        if (total > m_limit)
            throw tooBig();
        if (got == 0)
            break;
        sink(buffer, qsizetype(got));
    }
}

QByteArray ZipPackage::withParts(const QMap<QString, QByteArray> &parts) const
{
    const auto fail = [&](const QString &why) {
        throw EngineError(
            QStringLiteral("%1 is not written: its zip container cannot be rewritten (%2)").arg(m_what, why),
            QStringLiteral("没有写入 %1：无法重写其 zip 容器（%2）").arg(m_what, why));
    };
    zip_error_t error;
    zip_error_init(&error);
    // libzip writes the new archive into the buffer source on close; the
    // source is kept to read it from.
    std::unique_ptr<zip_source_t, SourceFree> source(
        zip_source_buffer_create(m_file.constData(), zip_uint64_t(m_file.size()), 0, &error));
    if (!source)
        fail(QString::fromUtf8(zip_error_strerror(&error)));
    zip_t *za = zip_open_from_source(source.get(), 0, &error);
    if (!za) {
        const QString why = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        fail(why);
    }
    zip_error_fini(&error);
    zip_source_keep(source.get());
    for (auto it = parts.begin(); it != parts.end(); ++it) {
        const QByteArray name = find(it.key()).toUtf8();
        const zip_int64_t index = zip_name_locate(za, name.constData(), ZIP_FL_ENC_RAW);
        zip_source_t *data =
            index < 0 ? nullptr
                      : zip_source_buffer(za, it.value().constData(), zip_uint64_t(it.value().size()), 0);
        bool replaced = data && zip_file_replace(za, zip_uint64_t(index), data, 0) == 0;
        if (data && !replaced)
            zip_source_free(data);
        if (!replaced || zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_DEFLATE, 0) != 0) {
            const QString why = index < 0 ? QStringLiteral("no member %1").arg(it.key())
                                          : QString::fromUtf8(zip_strerror(za));
            zip_discard(za);
            fail(why);
        }
    }
    if (zip_close(za) != 0) {
        const QString why = QString::fromUtf8(zip_strerror(za));
        zip_discard(za);
        fail(why);
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(source.get(), &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
        zip_source_open(source.get()) != 0)
        fail(zipErrorText(ZIP_ER_READ));
    QByteArray out(qsizetype(st.size), Qt::Uninitialized);
    const zip_int64_t got = zip_source_read(source.get(), out.data(), st.size);
    zip_source_close(source.get());
    if (got != zip_int64_t(st.size))
        fail(zipErrorText(ZIP_ER_READ));
    return out;
}

} // namespace lumora::engine
