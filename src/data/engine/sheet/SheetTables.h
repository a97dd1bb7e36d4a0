#pragma once

#include <QList>
#include <QString>

namespace lumora::engine {

// One table of a workbook: a worksheet or a defined name, by the name it
// is listed under.
struct SheetTableEntry
{
    QString name;
    int sheet = -1;   // index of the worksheet, for a worksheet
    int defined = -1; // index of the defined name, for a defined name
};

// A workbook's sheets and defined names as its tables are listed from them.
struct SheetListing
{
    struct Sheet
    {
        QString name;
        bool worksheet = true; // chart and macro sheets are no tables
    };
    struct Name
    {
        QString name;
        int scope = -1; // the sheet it is defined for, -1 for the whole workbook
    };
    QList<Sheet> sheets;
    QList<Name> names;
};

// Every table in listing order: the worksheets ("Sheet1$"), then the
// defined names in the order the workbook keeps them. A name of the whole
// workbook is listed as it is spelled ("PaidDump"); a name a sheet has of
// its own is listed after its sheet, as the old engine listed it
// ("Sheet1$PaidDump"), so that a sheet's name and the workbook's of the
// same spelling are two tables. A spelling met again (a workbook that
// defines one name twice for one sheet) is left out: the first counts.
QList<SheetTableEntry> listSheetTables(const SheetListing &listing);
// The table `name` names: the exact spelling, else the one that differs
// only in letter case. Throws EngineError naming `what` when there is none
// or the name is ambiguous.
SheetTableEntry findSheetTable(const SheetListing &listing, const QString &name, const QString &what);

} // namespace lumora::engine
