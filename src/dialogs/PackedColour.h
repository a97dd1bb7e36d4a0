#pragma once

#include <QColor>

// Colours as the settings store and the colour dialogs keep them: one
// number, red in the low byte, then green, then blue (1000 is red 232,
// green 3, blue 0).
QColor PackedColour(int packed);
int PackColour(const QColor &colour);
