// The gauge's pure mappings: value to percentage, percentage to fill width, the position of the
// percentage text, and the text of the range error. No Qt: the widget only paints what these say.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brenwick {

// round((progress - min) x 100 / (max - min)) in floating point, ties to even; 0 when max = min.
std::int32_t PercentDone(std::int32_t minValue, std::int32_t maxValue, std::int32_t progress);

// The bar's rectangle in the platform's convention: right and bottom are one past the last pixel.
struct TGaugeRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// The bar's rectangle inside a control of `width` x `height`: the whole control, or one pixel less on
// every side with a frame.
TGaugeRect BarRect(int width, int height, bool framed);

// The filled part's right edge: round(percent x 0.01 x W) with W = Right - Left + 1, ties to even, at
// most W. The filled rectangle runs from (Left, Top) to (fill, Bottom - Top + 1), edges excluded.
int FillWidth(std::int32_t percent, const TGaugeRect& bar);

struct TTextOrigin {
    int x = 0;
    int y = 0;
};
// Where the percentage text starts: centred on the filled part and on the bar, with integer division
// toward zero. None when the filled part is narrower than the text (the text is then dropped).
std::optional<TTextOrigin> TextOrigin(int fill, const TGaugeRect& bar, int textWidth, int textHeight);

// "42%".
std::string PercentText(std::int32_t percent);

// "Value must be between %d and %d" filled in; 64-bit, as the bounds of MinValue + 1 and MaxValue - 1
// may lie one past the 32-bit range.
std::string RangeErrorText(std::int64_t low, std::int64_t high);

}  // namespace brenwick
