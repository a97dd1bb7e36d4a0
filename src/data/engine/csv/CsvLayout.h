#pragma once

#include "data/engine/text/CodePage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace lumora::engine {

// How the text of a delimited file is encoded, and how its bytes divide
// into characters: what the parser needs to tell a delimiter, a quote or a
// line break from a byte inside a multi-byte character.
struct CsvEncoding
{
    enum class Form {
        Utf8,
        Utf16Le,
        Utf16Be,
        Gb,         // GBK or GB18030: a lead byte 0x81-0xFE with one trail byte, or four bytes
        DoubleByte, // Big5, UHC, Shift_JIS ...: a lead byte with one trail byte
        SingleByte,
    };
    // Where the encoding was learnt.
    enum class Source {
        Named,   // the connect string's charset= or a .cpg file beside the file
        Bom,     // the byte-order mark the file starts with
        Utf8,    // the bytes are valid UTF-8
        Guessed, // none of these: GBK, or GB18030 when four-byte forms occur
    };

    Form form = Form::Utf8;
    QByteArray name = "UTF-8"; // as ICU knows it: "UTF-8", "GBK", "GB18030", "UTF-16LE" ...
    int bomLength = 0;         // bytes of the byte-order mark kept at the start of the file
    Source source = Source::Utf8;
    bool fits = true; // every byte belongs to a well-formed character of this encoding

    // The encoding of `file`: `named` (a code page name, empty for none)
    // when given, else the byte-order mark, else UTF-8 when the bytes are
    // valid UTF-8, else GBK (GB18030 when a four-byte form occurs).
    static CsvEncoding detect(QByteArrayView file, const QByteArray &named);
    static CsvEncoding forName(const QByteArray &name);

    bool operator==(const CsvEncoding &) const = default;
};

// Decodes and encodes text in a CsvEncoding.
class CsvCodec
{
public:
    explicit CsvCodec(const CsvEncoding &encoding);
    QString decode(QByteArrayView bytes) const;
    // Nothing when a character has no form in the encoding.
    std::optional<QByteArray> encode(const QString &text) const;

private:
    CsvEncoding::Form m_form;
    CodePage m_codePage; // all but UTF-16
};

// One field of a record: its bytes in the file, quotes included.
struct CsvSpan
{
    qsizetype begin = 0;
    qsizetype end = 0;
};

// One record (line) of a delimited file: its fields are spans
// [first, first + count) of CsvLayout::spans. A record holds one field at
// least (an empty line one empty field).
struct CsvRecord
{
    qsizetype first = 0;
    int count = 0;
    bool loose = false; // text follows a closing quote: not RFC 4180, read as a spreadsheet reads it
};

// The records and fields of a delimited file's bytes, as RFC 4180 has them
// and the office programs read them: fields quoted with '"' may hold the
// delimiter, line breaks and doubled quotes; a record ends at CR LF, LF or
// CR; what follows a closing quote up to the delimiter belongs to the field;
// a quote that is never closed runs to the end of the file.
class CsvLayout
{
public:
    // The delimiters a file may use, in the order a tie between them goes.
    static constexpr char kDelimiters[] = {',', ';', '\t', '|'};
    // The most fields a record may have: as many columns as a sheet has.
    static constexpr int kMaxFields = 16384;
    // The most fields a file may have (a million rows of 16 columns): each
    // costs its span in memory, and a file of delimiters alone would
    // otherwise cost sixteen times its size.
    static constexpr qsizetype kMaxAllFields = qsizetype(16) << 20;
    // How far sniff() looks: records, and bytes after the byte-order mark.
    static constexpr int kSniffRecords = 20;
    static constexpr qsizetype kSniffBytes = 64 * 1024;

    // Parses `file`; throws EngineError naming `what` when a record has
    // more than kMaxFields fields, or the file more than kMaxAllFields.
    CsvLayout(const QByteArray &file, const CsvEncoding &encoding, char delimiter, const QString &what);

    // The delimiter among kDelimiters that divides the first records
    // (kSniffRecords, within kSniffBytes) most evenly: the one giving the
    // most records of the same field count, more than one field; a tie goes
    // to the earlier; ',' when none divides any record. A record cut off by
    // kSniffBytes, or whose quotes do not close where its fields end, does
    // not vote.
    static char sniff(const QByteArray &file, const CsvEncoding &encoding);

    const QByteArray &file() const { return m_file; }
    const CsvEncoding &encoding() const { return m_encoding; }
    const CsvCodec &codec() const { return m_codec; }
    char delimiter() const { return m_delimiter; }
    const std::vector<CsvRecord> &records() const { return m_records; }
    // The span of field `field` of record `record`; null past its last field.
    const CsvSpan *span(qsizetype record, int field) const;
    // Where record `record`'s last field ends: its line break, or the end of the file.
    qsizetype recordEnd(qsizetype record) const;
    // Whether the last field opens a quote that is never closed.
    bool unclosedQuote() const { return m_unclosedQuote; }

    // The text of a field: quotes taken away, doubled quotes made one.
    QString text(const CsvSpan &span) const;
    // Whether the field holds no text ("" counts as empty).
    bool isEmpty(const CsvSpan &span) const;

    // `text` as a field of this file: quoted, its quotes doubled, when it
    // holds the delimiter, a quote or a line break, or when `forceQuotes`;
    // encoded. Nothing when the encoding has no form for a character.
    std::optional<QByteArray> fieldBytes(const QString &text, bool forceQuotes = false) const;
    // The delimiter as the file spells it (two bytes in UTF-16).
    QByteArray delimiterBytes() const;

private:
    // Parses up to `maxRecords` records of the bytes before `limit`.
    void parse(qsizetype limit, qsizetype maxRecords);
    // The character at `pos`: its ASCII code or -1, and its length in bytes.
    struct Unit
    {
        int ascii = -1;
        int length = 1;
    };
    Unit at(qsizetype pos) const;
    CsvLayout(const QByteArray &file, const CsvEncoding &encoding, char delimiter);

    QByteArray m_file;
    CsvEncoding m_encoding;
    CsvCodec m_codec;
    char m_delimiter = ',';
    std::vector<CsvSpan> m_spans;
    std::vector<CsvRecord> m_records;
    bool m_unclosedQuote = false;
    bool m_tooWide = false;
    bool m_tooMany = false;
    bool m_lastEnded = false; // the last record parsed ended in a line break
};

} // namespace lumora::engine
