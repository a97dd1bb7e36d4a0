#pragma once

#include <QString>

struct DataSource;
class RosterModel;

// Which of the roster's columns hold a person's name and class, by their
// header: the first column called 姓名, 名字, 学生姓名, name or xm (any
// letter case), and the first called 班级, 班别, 班, 行政班, class or bj.
// 0 when there is none.
int NameColumn(const RosterModel &grid);
int ClassColumn(const RosterModel &grid);

// What a scanned code (a hand scanner's line, a card seen by the camera)
// found in the roster.
struct CodeMatch
{
    enum class Status {
        NoTable,   // no roster open in data-table mode
        NoKeys,    // the roster was opened without a key column
        Empty,     // the code is blank
        NoMatch,   // no record's key equals the code
        Ambiguous, // several records' keys equal it: none is chosen
        Shown,     // one record, shown on grid row `row`
        Filtered,  // one record, which the row filter leaves out of the grid
        Dropped,   // one record, which passes the filter but the grid left out ("只显示未拍照")
        Failed,    // the roster could not be read
    };
    Status status = Status::NoTable;
    int row = -1;          // Shown: the grid row
    qsizetype records = 0; // records whose key equals the code
    QString name;          // the person's name (or key text when the roster has no name column)
    QString reason;        // Failed: the engine's words

    bool found() const { return status == Status::Shown; }
    // The status line: "扫码：2024000005 → 第 5 行 王五", or why nothing was chosen.
    QString statusText(const QString &code) const;
};

// Looks the code up in the whole table (not only the rows shown) as the
// first key column compares values in a statement: a text key as the table
// compares texts (exactly in dBase and FoxPro tables, ignoring letter case
// in the others), a number key by value, so "0005" finds 5. Never throws.
CodeMatch FindByCode(const DataSource &ds, const RosterModel &grid, const QString &code);
