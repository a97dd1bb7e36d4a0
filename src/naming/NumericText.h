#pragma once

#include <QString>
#include <QStringView>

// The numeric value of a text: read as a decimal number from its start,
// blanks skipped, stopping at the first other character; 0 when no number
// stands there. "10001" -> 10001, " 1 2x" -> 12, "abc" -> 0, "-2.5e1" -> -25.
double numericValue(QStringView text);

// The distinguishing number after a save: the numeric value of text plus 1,
// as decimal text without blanks ("10001" -> "10002", "abc" -> "1").
QString nextNumberText(QStringView text);
