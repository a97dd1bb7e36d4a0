#include "naming/SafeName.h"

#include <algorithm>

namespace {
bool needsChange(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'/' || u < 0x20 || u == 0x7F;
}
} // namespace

bool isSafeNamePart(QStringView text)
{
    return std::none_of(text.cbegin(), text.cend(), needsChange);
}

QString safeNamePart(const QString &text)
{
    // Most names need nothing: share the text instead of copying it.
    if (isSafeNamePart(text))
        return text;
    QString out = text;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u == u'/')
            c = QChar(0xFF0F);
        else if (u < 0x20 || u == 0x7F)
            c = QLatin1Char('_');
    }
    return out;
}

bool isUsableFolderName(QStringView name)
{
    return name != u"." && name != u"..";
}
