#pragma once

#include "data/engine/xlsx/XlsxWorkbook.h"

#include <QStringList>
#include <functional>

namespace lumora::engine {

// Reads a worksheet part with expat as its bytes come out of the zip: the
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
    ~SheetReader();
    SheetReader(const SheetReader &) = delete;
    SheetReader &operator=(const SheetReader &) = delete;

    // Feeds the next bytes of the part; `last` for the end.
    void feed(const char *data, qsizetype size, bool last);
    // The sheet read; call after the last feed().
    XlsxSheet &sheet() { return m_sheet; }
    const QStringList &tableIds() const { return m_tableIds; }

private:
    struct State;
    static void onStart(void *self, const char *name, const char **atts);
    static void onEnd(void *self, const char *name);
    static void onText(void *self, const char *text, int length);
    static void onDoctype(void *self, const char *, const char *, const char *, int);
    static void onEntity(void *self, const char *, int, const char *, int, const char *, const char *,
                         const char *, const char *);
    void start(const char *name, const char **atts);
    void end(const char *name);
    void finishCell();
    // Stops the parser with a refusal thrown once it returns.
    void fail(EngineError error);

    QString m_what, m_part;
    qsizetype m_sharedCount;
    bool m_1904;
    XlsxSheet m_sheet;
    QStringList m_tableIds;
    State *m_state;
};

} // namespace lumora::engine
