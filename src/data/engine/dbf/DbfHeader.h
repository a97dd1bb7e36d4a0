#pragma once

#include "data/engine/TableSource.h"
#include "data/engine/text/CodePage.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace lumora::engine {

// One field descriptor (32 bytes from header offset 32) as this codec uses it.
struct DbfField
{
    QString name;       // bytes 0-10: name, NUL-terminated, in the table's code page; a
                        // repeated name made unique (uniqueFieldNames)
    char type = 'C';    // byte 11: C N F D L M G P B I Y T V Q W (and 0 for _NullFlags)
    int offset = 0;     // bytes 12-15 on Visual FoxPro, else the running sum: start within the record
    int length = 0;     // byte 16: width in bytes
    int decimals = 0;   // byte 17: digits after the point (N, F)
    quint8 flags = 0;   // byte 18 (Visual FoxPro): 0x01 system, 0x02 nullable, 0x04 binary
    int nullBit = -1;   // bit in _NullFlags telling Null, or -1
    int lengthBit = -1; // V/Q only: bit in _NullFlags telling "shorter than the field, length in last byte"

    bool isMemo() const { return type == 'M' || type == 'G' || type == 'P' || type == 'W'; }
    bool isBinaryMemo() const { return type == 'G' || type == 'P' || type == 'W'; }
    FieldInfo info() const;
};

// The parsed header of a .dbf. Parsing checks every length and count
// against the bytes present and throws EngineError naming `what` (the file)
// and the fault; it never trusts a count before checking it.
struct DbfHeader
{
    quint8 version = 0;         // byte 0: 0x03, 0x83, 0x8B, 0xF5, 0x30 ...
    quint8 updateYear = 0;      // byte 1: year of the last update, 2-digit or minus 1900
    quint8 updateMonth = 0;     // byte 2
    quint8 updateDay = 0;       // byte 3
    quint32 recordCount = 0;    // bytes 4-7: records, deleted ones included
    quint32 presentRecords = 0; // of those, the ones present in full in the file
    quint16 headerLength = 0;   // bytes 8-9: where the first record starts
    quint16 recordLength = 0;   // bytes 10-11: bytes per record, deletion flag included
    quint8 tableFlags = 0;      // byte 28 (Visual FoxPro): 0x01 index, 0x02 memo, 0x04 database
    quint8 languageDriver = 0;  // byte 29: code page mark
    QList<DbfField> fields;     // the visible fields; _NullFlags is not among them
    int nullFlagsOffset = -1;   // start of the hidden _NullFlags field in a record, or -1
    int nullFlagsLength = 0;    // its length in bytes

    bool isVisualFoxPro() const { return version == 0x30 || version == 0x31 || version == 0x32; }
    // Whether memo pointers are 4-byte integers rather than 10 ASCII digits.
    bool prefersFpt() const { return isVisualFoxPro() || version == 0xF5 || version == 0xFB; }
    bool hasMemoFields() const;

    // Parses the header at the start of `bytes` (the whole file). Field
    // names are decoded with `codec`. A record count higher than the file
    // holds is not refused: `presentRecords` tells how many are there in
    // full. A header that would shift every value (fields that do not add
    // up to the record length, a field of width 0) is refused.
    static DbfHeader parse(QByteArrayView bytes, const CodePage &codec, const QString &what);
    // The same for a file of `fileSize` bytes of which `head` holds the
    // start: at least the header length the prologue states, or the whole
    // file when it is shorter.
    static DbfHeader parse(QByteArrayView head, qint64 fileSize, const CodePage &codec, const QString &what);
};

} // namespace lumora::engine
