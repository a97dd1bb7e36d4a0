#include "dialogs/PackedColour.h"

QColor PackedColour(int packed)
{
    return QColor(packed & 0xff, (packed >> 8) & 0xff, (packed >> 16) & 0xff);
}

int PackColour(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return rgb.red() | rgb.green() << 8 | rgb.blue() << 16;
}
