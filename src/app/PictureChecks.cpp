#include "app/PictureChecks.h"

#include "naming/NumericText.h"

#include <cmath>
#include <limits>

namespace {
// The walk over the characters: "0" is a digit although its value is 0.
int nonDigits(const QString &text)
{
    int count = 0;
    for (const QChar c : text)
        if (c != QLatin1Char('0') && numericValue(QStringView(&c, 1)) == 0)
            ++count;
    return count;
}
} // namespace

BoxCheck DigitsOnlyCheck(const QString &text)
{
    BoxCheck check;
    for (int i = nonDigits(text); i > 0; --i)
        check.messages << PictureText::NotDigits;
    if (numericValue(text) == 0)
        check.messages << PictureText::NotDigits;
    check.reset = !check.messages.isEmpty();
    return check;
}

BoxCheck CaptionPositionCheck(const QString &text, const QString &cropSide)
{
    BoxCheck check;
    for (int i = nonDigits(text); i > 0; --i)
        check.messages << PictureText::NotDigits;
    const double value = numericValue(text);
    const double limit = numericValue(cropSide) - 1;
    if (value <= 0 || value > limit)
        check.messages << PictureText::PositionOut;
    check.reset = !check.messages.isEmpty();
    return check;
}

bool CropSizeAccepted(const QString &height, const QString &width)
{
    return numericValue(height) >= 50 && numericValue(width) >= 30;
}

QString BackgroundSizeRefusal(const QString &height, const QString &width)
{
    const double h = numericValue(height);
    if (h < 300 || h > 800)
        return PictureText::HeightOut;
    const double w = numericValue(width);
    if (w < 260 || w > 800)
        return PictureText::WidthOut;
    return {};
}

bool LastSizeUsable(const QString &height, const QString &width)
{
    return numericValue(height) != 0 && numericValue(width) != 0;
}

int WholePixels(const QString &text)
{
    const double v = std::trunc(numericValue(text));
    if (!std::isfinite(v))
        return 0;
    return int(qBound(double(std::numeric_limits<int>::min()), v, double(std::numeric_limits<int>::max())));
}
