#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace lumora::engine {
class Database;
}
struct DataSource;

// Opens the database a DataSource names. The program opens files
// (OpenDatabase); a test may hand the window tables held in memory.
using DatabaseOpener = std::function<std::unique_ptr<lumora::engine::Database>(const DataSource &)>;

// The database a load opened, kept for what follows on the rows it loaded:
// the roster check and the write-backs. An update reads the table again
// under its lock, so nothing stale decides a write; a load opens afresh.
struct HeldDatabase
{
    HeldDatabase();
    ~HeldDatabase();
    QString path, connect;
    std::unique_ptr<lumora::engine::Database> db;
};

// The open data table, shared by the open-table window, the grid, the row
// filter and the write-back. One instance lives for the whole run; the
// open-table window overwrites it piecewise.
struct DataSource
{
    QString connectString;    // "Excel 8.0", "" (Access), "FOXPro3.0", "dBASE IV", "Text"
    QString fileExtension;    // "XLS", "mdb", "DBF", "csv"
    QString databasePath;     // full path of the chosen file
    QString tableName;        // "[" + name + "]", used verbatim in every statement
    QList<qint16> fieldTypes; // DAO type code per field position (from 0)
    QList<qint16> keyColumns; // 1-based positions of the key fields = grid columns
    qint16 keyCount = 0;
    QString whereClause; // "" or " where ...", appended to the table name on load
    // How this instance reaches its database; empty: the file at
    // databasePath with connectString. Not handed over by the open-table
    // window, which always opens files.
    DatabaseOpener opener;
    // The database the last load opened (see HeldDatabase); shared by
    // copies of this instance, empty before a load.
    std::shared_ptr<HeldDatabase> held = std::make_shared<HeldDatabase>();

    bool hasTable() const { return !tableName.isEmpty() && !databasePath.isEmpty(); }
};
