#pragma once

#include "data/engine/dbf/DbfHeader.h"

#include <QByteArray>
#include <QDate>

namespace lumora::engine {

// The bytes of a .dbf header, the counterpart of DbfHeader::parse: the
// head of a new table and what an update writes into the last-update date. Offsets are those DbfHeader's
// fields name.
//
//     DbfHeader h;  // version, date, counts, lengths, language driver, fields
//     const QByteArray head = DbfHeaderWriter::header(h, codec);
//     dbf.write(DbfHeaderWriter::kUpdateDateOffset, DbfHeaderWriter::updateDate(today, h.updateYear));
class DbfHeaderWriter
{
public:
    // Where the three bytes of the last-update date start.
    static constexpr qint64 kUpdateDateOffset = 1;

    // The header of `h`, `h.headerLength` bytes: the 32-byte prologue, one
    // descriptor per field (names in `codec`, cut to 10 bytes; offsets
    // stored on Visual FoxPro only), the 0x0D terminator, and zeros up to
    // the header length (Visual FoxPro's backlink). The caller has checked
    // the names and lengths; a hidden _NullFlags field is not written.
    static QByteArray header(const DbfHeader &h, const CodePage &codec);

    // The last-update date for `day` in bytes 1-3, keeping the way the
    // table stores its year: `storedYear` below 100 means two digits
    // (26 for 2026), else the year minus 1900 (126).
    static QByteArray updateDate(QDate day, quint8 storedYear);
};

} // namespace lumora::engine
