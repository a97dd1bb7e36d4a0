#include "data/engine/xls/XlsWorkbook.h"

#include "data/engine/EngineError.h"
#include "data/engine/io/ByteCursor.h"
#include "data/engine/xls/XlsRecords.h"

#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace lumora::engine {
using namespace xlsrecords;

// ---- number formats ------------------------------------------------------

XlsNumberStyle XlsWorkbook::builtinStyle(quint16 id)
{
    return builtinNumberFormatStyle(id);
}

XlsNumberStyle XlsWorkbook::classifyFormat(const QString &format)
{
    return classifyNumberFormat(format);
}

// ---- globals -------------------------------------------------------------

XlsWorkbook::XlsWorkbook(QByteArray stream, QString what)
    : m_stream(std::move(stream))
    , m_what(std::move(what))
{
    readGlobals();
}

std::vector<qint64> XlsWorkbook::recordOffsets(const QByteArray &stream, const QString &what)
{
    const ByteCursor c(stream, what);
    std::vector<qint64> out;
    for (qint64 at = 0; c.has(at, 4);) {
        const quint16 type = c.u16le(at);
        const qint64 len = c.u16le(at + 2);
        if (type == 0 && len == 0 && stream.size() - at < 8192)
            break; // the zero padding some writers put after the last sheet
        out.push_back(at);
        at += 4 + len;
    }
    return out;
}

void XlsWorkbook::readGlobals()
{
    const ByteCursor c(m_stream, m_what);
    const auto refuse = [this](const QString &why, const QString &chinese) {
        cannotOpen(m_what, why, chinese);
    };
    Header h = header(c, 0, m_what);
    if (h.type != biff::Bof || h.length < 4)
        refuse(QStringLiteral("its workbook stream does not start with a BOF record (damaged?)"),
               QStringLiteral("它的工作簿数据流不是以 BOF 记录开头的（文件已损坏？）"));
    const quint16 version = c.u16le(h.body);
    if (version != 0x0600)
        refuse(QStringLiteral("it was written by Excel 95 or older (BIFF version 0x%1); save it in Excel "
                              "97-2003 format (.xls)")
                   .arg(version, 4, 16, QLatin1Char('0')),
               QStringLiteral(
                   "它是 Excel 95 或更早版本写的（BIFF 版本 0x%1），请另存为 Excel 97-2003 格式（.xls）")
                   .arg(version, 4, 16, QLatin1Char('0')));

    std::vector<std::pair<quint16, QString>> formats;
    std::vector<quint16> xfFormats;
    std::vector<std::array<quint16, 3>> xti;
    std::vector<std::pair<qint64, int>> nameRecords;
    int supBooks = 0, selfBook = -1;
    for (qint64 at = h.next();;) {
        if (!c.has(at, 4))
            refuse(QStringLiteral("its workbook globals have no end (EOF record); the file is truncated"),
                   QStringLiteral("工作簿的全局部分没有结束记录（EOF），文件被截断了"));
        h = header(c, at, m_what);
        switch (h.type) {
        case biff::FilePass:
            cannotOpen(
                m_what,
                QStringLiteral("it is protected with a password (encrypted); remove the password in Excel "
                               "and save it again"),
                QStringLiteral("它设置了打开密码（已加密），请在 Excel 中取消密码后重新保存"));
        case biff::DateMode: m_1904 = h.length >= 2 && c.u16le(h.body) != 0; break;
        case biff::Format:
            if (h.length >= 5)
                formats.emplace_back(c.u16le(h.body), shortString(c, h.body + 2, h.next(), false));
            break;
        case biff::Xf:
            if (h.length >= 4)
                xfFormats.push_back(c.u16le(h.body + 2));
            break;
        case biff::BoundSheet:
            if (h.length >= 8) {
                XlsSheetEntry s;
                s.bof = c.u32le(h.body);
                s.state = c.u8(h.body + 4) & 0x03;
                s.type = c.u8(h.body + 5);
                s.name = shortString(c, h.body + 6, h.next(), true);
                s.boundSheet = at;
                m_sheets.append(s);
            }
            break;
        case biff::Sst: {
            // The SST and the CONTINUE records right after it.
            std::vector<std::pair<qint64, int>> segments{{at, h.length}};
            qint64 next = h.next();
            while (c.has(next, 4) && c.u16le(next) == biff::Continue) {
                const Header k = header(c, next, m_what);
                segments.emplace_back(next, k.length);
                next = k.next();
            }
            readSst(at, segments);
            h.length = int(next - h.body);
            break;
        }
        case biff::ExtSst:
            m_sst.extSst = at;
            if (h.length >= 2)
                m_sst.bucketSize = c.u16le(h.body);
            break;
        case biff::SupBook:
            if (h.length >= 4 && c.u16le(h.body + 2) == 0x0401 && selfBook < 0)
                selfBook = supBooks;
            ++supBooks;
            break;
        case biff::ExternSheet:
            if (h.length >= 2) {
                const int n = c.u16le(h.body);
                for (int i = 0; i < n && 2 + 6 * (i + 1) <= h.length; ++i)
                    xti.push_back({c.u16le(h.body + 2 + 6 * i), c.u16le(h.body + 4 + 6 * i),
                                   c.u16le(h.body + 6 + 6 * i)});
            }
            break;
        case biff::Name: nameRecords.emplace_back(h.body, h.length); break;
        default: break;
        }
        if (h.type == biff::Eof)
            break;
        at = h.next();
    }
    for (const auto &[body, length] : nameRecords)
        readName(body, length, xti, selfBook);

    m_xfStyles.reserve(xfFormats.size());
    for (quint16 id : xfFormats) {
        XlsNumberStyle style = builtinStyle(id);
        for (const auto &[fid, text] : formats)
            if (fid == id)
                style = classifyFormat(text);
        m_xfStyles.push_back(style);
    }
    m_parsed.resize(size_t(m_sheets.size()));
}

void XlsWorkbook::readSst(qint64 sstOffset, const std::vector<std::pair<qint64, int>> &records)
{
    const ByteCursor c(m_stream, m_what);
    if (records.front().second < 8)
        throw EngineError::format(u"%1 is damaged: its shared-string table is cut short",
                                  u"文件 %1 已损坏：共享字符串表不完整", m_what);
    m_sst.sst = sstOffset;
    m_sst.total = c.u32le(sstOffset + 4);
    m_sst.unique = c.u32le(sstOffset + 8);
    m_sst.lastRecord = records.back().first;
    m_sst.lastLength = records.back().second;
    std::vector<ContinuedReader::Segment> segments;
    for (size_t i = 0; i < records.size(); ++i) {
        const qint64 skip = i == 0 ? 8 : 0;
        segments.push_back({records[i].first + 4 + skip, int(records[i].second - skip), records[i].first});
    }
    ContinuedReader r(c, std::move(segments), m_what);
    // The count may lie; the strings present are read, up to the count.
    const quint32 promised = m_sst.unique;
    m_strings.reserve(qsizetype(std::min<quint32>(promised, quint32(m_stream.size() / 3))));
    for (quint32 i = 0; i < promised && !r.atEnd(); ++i) {
        m_sst.starts.push_back(r.position());
        m_sst.startRecords.push_back(r.recordStart());
        const int cch = r.u16();
        const quint8 flags = r.u8();
        const int runs = flags & 0x08 ? r.u16() : 0;
        const quint32 ext = flags & 0x04 ? r.u32() : 0;
        m_strings.append(r.chars(cch, flags & 0x01));
        r.skip(4 * qint64(runs));
        r.skip(ext);
        m_sst.plain.push_back(runs == 0 && ext == 0);
    }
    if (m_sst.starts.size() < promised)
        m_notes.append(
            EngineNote::warning(u"%1: its shared-string table promises %2 texts but holds %3",
                                u"文件 %1 的共享字符串表记有 %2 段文字，但只有 %3 段，缺少的文字读不出",
                                m_what, promised, qsizetype(m_sst.starts.size())));
}

void XlsWorkbook::readName(qint64 body, int length, const std::vector<std::array<quint16, 3>> &xti,
                           int selfBook)
{
    const ByteCursor c(m_stream, m_what);
    if (length < 15)
        return;
    const quint16 flags = c.u16le(body);
    if (flags & (0x0001 | 0x0002 | 0x0020)) // hidden, function, built-in (Print_Area ...)
        return;
    // itab: 0 for a name of the whole workbook, else the 1-based index of
    // the sheet (in BOUNDSHEET order) the name is defined for. Excel lets
    // one sheet have a name of its own beside the workbook's of that name.
    const int itab = c.u16le(body + 8);
    if (itab > m_sheets.size())
        return;
    const int cch = c.u8(body + 3);
    const int cce = c.u16le(body + 4);
    const bool wide = c.u8(body + 14) & 1;
    const qint64 formula = body + 15 + qint64(cch) * (wide ? 2 : 1);
    if (formula + cce > body + length || cce < 7)
        return;
    QString text;
    {
        const QByteArrayView b = c.view(body + 15, qint64(cch) * (wide ? 2 : 1));
        if (wide)
            for (int i = 0; i < cch; ++i)
                text.append(QChar(quint16(quint8(b[2 * i]) | quint8(b[2 * i + 1]) << 8)));
        else
            text = QString::fromLatin1(b.data(), b.size());
    }
    const quint8 ptg = c.u8(formula);
    XlsDefinedName n;
    n.name = text;
    n.scope = itab - 1;
    quint16 ixti = 0;
    if ((ptg == 0x3B || ptg == 0x5B || ptg == 0x7B) && cce == 11) {
        ixti = c.u16le(formula + 1);
        n.firstRow = c.u16le(formula + 3);
        n.lastRow = c.u16le(formula + 5);
        n.firstCol = c.u16le(formula + 7) & 0x3FFF;
        n.lastCol = c.u16le(formula + 9) & 0x3FFF;
    } else if ((ptg == 0x3A || ptg == 0x5A || ptg == 0x7A) && cce == 7) {
        ixti = c.u16le(formula + 1);
        n.firstRow = n.lastRow = c.u16le(formula + 3);
        n.firstCol = n.lastCol = c.u16le(formula + 5) & 0x3FFF;
    } else {
        return;
    }
    if (ixti >= xti.size() || int(xti[ixti][0]) != selfBook || xti[ixti][1] != xti[ixti][2])
        return;
    n.sheet = xti[ixti][1];
    if (n.sheet >= m_sheets.size() || m_sheets[n.sheet].type != 0 || n.lastRow < n.firstRow ||
        n.lastCol < n.firstCol)
        return;
    m_names.append(n);
}

XlsNumberStyle XlsWorkbook::style(quint16 xf) const
{
    return xf < m_xfStyles.size() ? m_xfStyles[xf] : XlsNumberStyle::Plain;
}

} // namespace lumora::engine
