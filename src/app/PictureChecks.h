#pragma once

#include <QString>
#include <QStringList>

// The checks of the "照片设置" page's boxes, as pure rules: the text in, the
// messages the operator sees (in order) and whether the box is reset out.
//
//     DigitsOnlyCheck(u"abc")        -> 4 x "请输入数字!", reset
//     DigitsOnlyCheck(u"0150")       -> no message (value 150)
//     CaptionPositionCheck(u"150", u"150") -> "文本位置太到边上，快要移出照片了!", reset
struct BoxCheck
{
    QStringList messages;
    bool reset = false; // the box goes back to its reset value and takes the focus
};

namespace PictureText {
inline const QString NotDigits = QStringLiteral("请输入数字!");
inline const QString PositionOut = QStringLiteral("文本位置太到边上，快要移出照片了!");
inline const QString CropTooSmall = QStringLiteral("照片裁剪尺寸太小或没有输入！");
inline const QString HeightOut = QStringLiteral("高度超出范围！请重新设置。");
inline const QString WidthOut = QStringLiteral("宽度超出范围！请重新设置。");
inline const QString NoLastSize = QStringLiteral("上次照相背景大小读取失败！请输入，并点确定按钮。");
} // namespace PictureText

// Leaving Texg or Textk: one message per character that is no digit 0-9,
// then one more when the text's numeric value is 0 (empty, "0", "00").
BoxCheck DigitsOnlyCheck(const QString &text);

// Leaving Texleft or Textop, against the crop side it lies along (Textk's
// text for Texleft, Texg's for Textop): one message per character that is no
// digit, then the position message unless 1 <= value <= side - 1.
BoxCheck CaptionPositionCheck(const QString &text, const QString &cropSide);

// "更改": a crop of at least 50 high and 30 wide is sent.
bool CropSizeAccepted(const QString &height, const QString &width);

// setbj: the message refusing a background size, empty when it is applied.
// Heights 300 to 800 and widths 260 to 800 are accepted; the height is
// looked at first.
QString BackgroundSizeRefusal(const QString &height, const QString &width);

// "上次大小": both stored sizes have a numeric value other than 0.
bool LastSizeUsable(const QString &height, const QString &width);

// A size text as whole pixels: its numeric value, the fraction dropped,
// bounded to the 32-bit range.
int WholePixels(const QString &text);
