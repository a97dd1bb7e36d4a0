#pragma once

#include "data/engine/xlsx/XlsxWorkbook.h"

#include <QStringList>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::engine {

// Reads a worksheet part as its bytes come out of the zip, with a scanner
// of its own for UTF-8 (expat for any other encoding): the
// cells of <sheetData>, the <col> styles, array formulas' ranges and the
// tables' relationship ids. Refuses (EngineError naming `what` and `part`)
// a DOCTYPE or an entity declaration (nothing is expanded), malformed XML,
// a cell or row address out of range and a shared-string index past
// `sharedCount`. The sheet's cells come out sorted, the later of two
// elements for one cell kept.
class SheetReader
{
public:
    SheetReader(QString what, QString part, qsizetype sharedCount, bool uses1904);
    // A reader of a shared-strings part instead: each <si>'s text (its
    // runs', phonetic runs left out), undecoded "_xHHHH_" escapes and all.
    static SheetReader sharedStrings(QString what, QString part);
    ~SheetReader();
    SheetReader(const SheetReader &) = delete;
    SheetReader &operator=(const SheetReader &) = delete;
    SheetReader(SheetReader &&other) noexcept;

    // Feeds the next bytes of the part; `last` for the end.
    void feed(const char *data, qsizetype size, bool last);
    struct Attribute
    {
        std::string_view name, value;
    };

    // The sheet read; call after the last feed().
    XlsxSheet &sheet() { return m_sheet; }
    const QStringList &tableIds() const { return m_tableIds; }
    QStringList &strings() { return m_strings; }

private:
    struct State;
    static void onStart(void *self, const char *name, const char **atts);
    static void onEnd(void *self, const char *name);
    static void onText(void *self, const char *text, int length);
    static void onDoctype(void *self, const char *, const char *, const char *, int);
    static void onEntity(void *self, const char *, int, const char *, int, const char *, const char *,
                         const char *, const char *);
    void start(std::string_view name, const Attribute *atts, size_t n);
    void end(std::string_view name);
    void finishCell();
    void feedExpat(const char *data, qsizetype size, bool last);
    // Reads the complete tokens of m_pending, keeping an incomplete one.
    void scan(bool last);
    EngineError malformed(const QString &why) const;
    // Stops the parser with a refusal thrown once it returns.
    void fail(EngineError error);

    QString m_what, m_part;
    qsizetype m_sharedCount;
    bool m_1904;
    XlsxSheet m_sheet;
    QStringList m_tableIds;
    bool m_sst = false;    // reading a shared-strings part
    QStringList m_strings; // its texts
    State *m_state;
    enum class Mode {
        Undecided,
        Scan,
        Expat
    } m_mode = Mode::Undecided;
    std::string m_pending;              // bytes not yet scanned
    std::vector<std::string> m_stack;   // open elements
    std::vector<Attribute> m_views;     // the attributes of the tag being read
    std::vector<std::string> m_decoded; // their values where they had to be decoded
    bool m_done = false;                // the root element has ended
};

} // namespace lumora::engine
