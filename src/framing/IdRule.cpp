#include "framing/IdRule.h"

#include <array>
#include <cmath>

namespace {

// The head shares follow the usual guidance for Chinese ID photos: the head
// about two thirds of the height; the passport's from its 28 to 33 mm of 48.
// The ID card's 358 x 441 pixels are its 26 x 32 mm at 350 dpi, the size
// its photo is taken at: the file says 350 so that it prints at 26 x 32 mm.
const std::array<IdRule, 6> kRules{{
    {"自定义", 0, 0, 96, QSize(), 0.50, 0.75, 0.62},
    {"一寸", 25, 35, 300, QSize(295, 413), 0.55, 0.70, 0.62},
    {"小一寸", 22, 32, 300, QSize(260, 378), 0.55, 0.70, 0.62},
    {"二寸", 35, 49, 300, QSize(413, 579), 0.55, 0.70, 0.62},
    {"身份证", 26, 32, 350, QSize(358, 441), 0.55, 0.68, 0.61},
    {"护照", 33, 48, 300, QSize(390, 567), 0.583, 0.688, 0.635},
}};

} // namespace

std::span<const IdRule> idRules()
{
    return kRules;
}

const IdRule &idRule(int index)
{
    return index >= 0 && index < int(kRules.size()) ? kRules[size_t(index)] : kRules[0];
}

int pixelsFor(double mm, int dpi)
{
    return int(std::lround(mm / 25.4 * dpi));
}
