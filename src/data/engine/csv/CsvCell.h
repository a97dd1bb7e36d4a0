#pragma once

#include <QDateTime>
#include <QString>

namespace lumora::engine {

// What the text of a field holds, as a spreadsheet opening a delimited file
// takes it: a number ("20.5", "1,234", "-3e2", "15%"), an amount
// ("¥12.50"), a date ("2009-04-19", "2009/4/19 8:30", "2009年4月19日"),
// TRUE or FALSE, else text. Numbers that are identifiers stay text: digits
// with a leading zero ("007", "0012.5") and digit strings longer than 15,
// which a double would round ("110105194912310021").
//
//     CsvCell::guess(u" 20.5 ").kind   // Number, 20.5
//     CsvCell::guess(u"007").kind      // Text
struct CsvCell
{
    enum class Kind {
        Empty,
        Number,
        Currency,
        Date,
        Boolean,
        Text
    };
    // The most digits a number keeps exactly, as spreadsheets show them.
    static constexpr int kMostDigits = 15;

    Kind kind = Kind::Empty;
    double number = 0; // a Number's value, a Currency's amount; 1 or 0 for a Boolean
    QDateTime date;    // a Date's, in Qt::UTC as the engine holds date-times

    static CsvCell guess(QStringView text);
};

} // namespace lumora::engine
