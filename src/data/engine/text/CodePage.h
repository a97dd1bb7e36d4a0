#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <array>
#include <optional>

namespace lumora::engine {

// The code page a data file's text is in (a dBase or FoxPro table's, an
// Access 97 database's): decodes field bytes to text and encodes text
// back, with a fast path for plain ASCII (every code page a file can name
// is ASCII-compatible).
class CodePage
{
public:
    // `name` is a name ICU knows ("GBK", "Big5", "windows-1251", "UTF-8").
    // An unknown name falls back to GBK.
    explicit CodePage(const QByteArray &name = "GBK");

    const QByteArray &name() const { return m_name; }

    // Decodes `bytes`. A multi-byte character cut off at the end of the
    // bytes comes out as U+FFFD instead of disappearing.
    QString decode(QByteArrayView bytes) const;
    // Encodes `text`; nothing when a character has no form in this code page.
    std::optional<QByteArray> encode(const QString &text) const;
    // Whether `bytes` are text in this code page: no invalid or cut-off
    // sequence, and no character of a user-defined area (which decodes to
    // Unicode's private use area). Text in another code page seldom is.
    bool assigns(QByteArrayView bytes) const;

    // The code page a language-driver byte (header offset 29) names, for
    // every byte the dBase, FoxPro and Visual FoxPro formats define (0x03
    // windows-1252, 0x4D GBK, 0x65 IBM866, 0xC9 windows-1251 ...), and 0xF0
    // for UTF-8. 0x00 (none) and 0x57 (the system's ANSI code page) read as
    // GBK, the code page of the Chinese systems these tables come from.
    // Empty for any other byte: the table then reads as GBK, says so in a
    // note, and refuses to have text written into it.
    static QByteArray nameForLanguageDriver(quint8 driver);
    // The code page a name as a .cpg file writes it names ("CP936", "936",
    // "UTF-8", "ANSI 1251", "GBK"; see cpgTextBeside); empty when it names
    // none that is known.
    static QByteArray nameForCpg(QByteArrayView cpgText);

    // The character of every two-byte sequence of a double-byte code page,
    // at ((lead - 0x80) << 8 | trail); 0 where the pair does not decode to
    // exactly one character.
    using PairTable = std::array<char16_t, 0x8000>;

private:
    enum class Width {
        Single,
        DoubleByte,
        Utf8,
        Other
    };

    // The pair table of this code page, made on first use and shared by
    // every codec of the same name; null when ICU's mapping does not fit one.
    const PairTable *pairTable() const;

    QByteArray m_name;
    Width m_width = Width::Other;
    mutable QStringDecoder m_decoder;
    mutable QStringEncoder m_encoder;
    mutable const PairTable *m_pairs = nullptr;
    mutable bool m_pairsLooked = false;
};

} // namespace lumora::engine
