#include "data/engine/dbf/DbfHeaderWriter.h"

#include "data/engine/io/ByteWriter.h"

#include <algorithm>

namespace lumora::engine {

namespace {

constexpr int kPrologue = 32;   // fixed part of the header
constexpr int kDescriptor = 32; // one field descriptor
constexpr int kNameLength = 10; // a field name's bytes before its terminating NUL

} // namespace

QByteArray DbfHeaderWriter::header(const DbfHeader &h, const CodePage &codec)
{
    const int described = kPrologue + int(h.fields.size()) * kDescriptor + 1;
    QByteArray out(std::max<int>(h.headerLength, described), '\0');
    ByteWriter w(out);
    w.u8(0, h.version)
        .u8(1, h.updateYear)
        .u8(2, h.updateMonth)
        .u8(3, h.updateDay)
        .le32(4, h.recordCount)
        .le16(8, h.headerLength)
        .le16(10, h.recordLength)
        .u8(28, h.tableFlags)
        .u8(29, h.languageDriver);
    const bool vfp = h.isVisualFoxPro();
    int pos = kPrologue;
    for (const DbfField &f : h.fields) {
        const QByteArray name = codec.encode(f.name).value_or(QByteArray()).left(kNameLength);
        std::copy(name.begin(), name.end(), out.begin() + pos); // bytes 0-10, NUL-padded
        w.u8(pos + 11, quint8(f.type));
        if (vfp)
            w.le32(pos + 12, quint32(f.offset));
        w.u8(pos + 16, quint8(f.length)).u8(pos + 17, quint8(f.decimals));
        if (vfp)
            w.u8(pos + 18, f.flags);
        pos += kDescriptor;
    }
    w.u8(pos, 0x0D);
    return out;
}

QByteArray DbfHeaderWriter::updateDate(QDate day, quint8 storedYear)
{
    const bool twoDigitYear = storedYear < 100;
    QByteArray out(3, '\0');
    ByteWriter(out)
        .u8(0, quint8(twoDigitYear ? day.year() % 100 : std::clamp(day.year() - 1900, 0, 255)))
        .u8(1, quint8(day.month()))
        .u8(2, quint8(day.day()));
    return out;
}

} // namespace lumora::engine
