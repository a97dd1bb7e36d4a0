#pragma once

namespace lumora::engine {

// Where the two Jet versions keep things. Offsets are bytes from the start
// of a page (or of a row, or of one entry of a table definition, where said).
struct JetFormat
{
    int version;  // 3 (Access 97) or 4 (Access 2000-2003)
    int pageSize; // 2,048 or 4,096
    // Page 0, after the header's scrambling is undone.
    int passwordSize;   // bytes at 0x42
    int scrambledBytes; // how many bytes from 0x18 the header scrambles
    int sortOrderAt;    // u16: the database's sort order (a Windows locale id)
    int creationDateAt; // double: masks the Jet 4 password; -1 in Jet 3
    // Data pages: 0x00 type 0x01, 0x02 u16 free bytes, 0x04 u32 owner (the
    // table definition's page, or "LVAL"), then the row count and offsets.
    int rowCountAt;  // u16 number of row slots
    int rowOffsetAt; // u16 per slot: offset of the row; flags in the top bits
    // Table definition, first page: 0x00 type 0x02, 0x04 u32 next page.
    int tdefRowsAt;         // u32 number of rows
    int tdefMaxColumnsAt;   // u16 columns a new row holds: deleted ones included
    int tdefVarColumnsAt;   // u16 number of variable-length columns
    int tdefColumnsAt;      // u16 number of columns
    int tdefIndexesAt;      // u32 number of logical indexes
    int tdefRealIndexesAt;  // u32 number of real indexes
    int tdefUsedPagesAt;    // u32 page-row of the map of the table's pages
    int tdefFreePagesAt;    // u32 page-row of the map of its pages with room
    int tdefRealIndexStart; // where the real index entries begin
    int realIndexEntrySize; // their size: then the column entries follow
    int columnEntrySize;    // one column's entry
    int colTypeAt;          // u8 type code
    int colNumberAt;        // u16 column number: its bit in the null mask
    int colVarIndexAt;      // u16 index among the variable-length columns
    int colIndexAt;         // u16 its place in the table's column order
    int colPrecisionAt;     // u8 (Decimal)
    int colScaleAt;         // u8 (Decimal)
    int colFlagsAt;         // u8: 0x01 fixed length, 0x02 nullable, 0x04 auto number
    int colExtFlagsAt;      // u8 (Jet 4): 0x01 text may be stored compressed; -1 in Jet 3
    int colFixedOffsetAt;   // u16 offset of a fixed column's data after the column count
    int colLengthAt;        // u16 length in bytes
    int nameLengthSize;     // 1 (Jet 3) or 2 (Jet 4) bytes before each name
    int realIndexDefSize;   // one real index's column list and pages
    int realIndexColumnsAt; // its ten (u16 column number, u8 order) pairs
    int logicalIndexSize;   // one logical index entry
    int logicalIndexRealAt; // u32: the real index it uses
    int logicalIndexTypeAt; // u8: 1 primary key, 2 foreign key
    // Rows: the column count before the data, and the size of each offset.
    int rowColumnCountSize; // 1 or 2
    int maxInlineMemo;      // bytes of a memo this writer keeps inside its row
};

inline constexpr JetFormat kJet3{
    .version = 3,
    .pageSize = 2048,
    .passwordSize = 20,
    .scrambledBytes = 126,
    .sortOrderAt = 0x3a,
    .creationDateAt = -1,
    .rowCountAt = 8,
    .rowOffsetAt = 10,
    .tdefRowsAt = 12,
    .tdefMaxColumnsAt = 21,
    .tdefVarColumnsAt = 23,
    .tdefColumnsAt = 25,
    .tdefIndexesAt = 27,
    .tdefRealIndexesAt = 31,
    .tdefUsedPagesAt = 35,
    .tdefFreePagesAt = 39,
    .tdefRealIndexStart = 43,
    .realIndexEntrySize = 8,
    .columnEntrySize = 18,
    .colTypeAt = 0,
    .colNumberAt = 1,
    .colVarIndexAt = 3,
    .colIndexAt = 5,
    .colPrecisionAt = 11,
    .colScaleAt = 12,
    .colFlagsAt = 13,
    .colExtFlagsAt = -1,
    .colFixedOffsetAt = 14,
    .colLengthAt = 16,
    .nameLengthSize = 1,
    .realIndexDefSize = 39,
    .realIndexColumnsAt = 0,
    .logicalIndexSize = 20,
    .logicalIndexRealAt = 4,
    .logicalIndexTypeAt = 19,
    .rowColumnCountSize = 1,
    .maxInlineMemo = 1024,
};

inline constexpr JetFormat kJet4{
    .version = 4,
    .pageSize = 4096,
    .passwordSize = 40,
    .scrambledBytes = 128,
    .sortOrderAt = 0x6e,
    .creationDateAt = 0x72,
    .rowCountAt = 12,
    .rowOffsetAt = 14,
    .tdefRowsAt = 16,
    .tdefMaxColumnsAt = 41,
    .tdefVarColumnsAt = 43,
    .tdefColumnsAt = 45,
    .tdefIndexesAt = 47,
    .tdefRealIndexesAt = 51,
    .tdefUsedPagesAt = 55,
    .tdefFreePagesAt = 59,
    .tdefRealIndexStart = 63,
    .realIndexEntrySize = 12,
    .columnEntrySize = 25,
    .colTypeAt = 0,
    .colNumberAt = 5,
    .colVarIndexAt = 7,
    .colIndexAt = 9,
    .colPrecisionAt = 11,
    .colScaleAt = 12,
    .colFlagsAt = 15,
    .colExtFlagsAt = 16,
    .colFixedOffsetAt = 21,
    .colLengthAt = 23,
    .nameLengthSize = 2,
    .realIndexDefSize = 52,
    .realIndexColumnsAt = 4,
    .logicalIndexSize = 28,
    .logicalIndexRealAt = 8,
    .logicalIndexTypeAt = 23,
    .rowColumnCountSize = 2,
    .maxInlineMemo = 1024,
};

} // namespace lumora::engine
