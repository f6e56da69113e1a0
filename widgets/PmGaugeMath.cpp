// The gauge's pure mappings.
#include "widgets/PmGaugeMath.h"

#include <cmath>

namespace brenwick {

std::int32_t PercentDone(std::int32_t minValue, std::int32_t maxValue, std::int32_t progress) {
    if (maxValue == minValue) return 0;
    const double percent =
        (double(progress) - double(minValue)) * 100.0 / (double(maxValue) - double(minValue));
    return static_cast<std::int32_t>(std::nearbyint(percent));  // the default rounding mode: ties to even
}

TGaugeRect BarRect(int width, int height, bool framed) {
    TGaugeRect r{0, 0, width, height};
    if (framed) r = {1, 1, width - 1, height - 1};
    return r;
}

int FillWidth(std::int32_t percent, const TGaugeRect& bar) {
    const int w = bar.Right - bar.Left + 1;
    const int fill = static_cast<int>(std::nearbyint(double(percent) * 0.01 * double(w)));
    return fill > w ? w : fill;
}

std::optional<TTextOrigin> TextOrigin(int fill, const TGaugeRect& bar, int textWidth, int textHeight) {
    if (fill < textWidth) return std::nullopt;
    return TTextOrigin{((fill - bar.Left + 1) - textWidth) / 2,
                       ((bar.Bottom - bar.Top + 1) - textHeight) / 2};
}

std::string PercentText(std::int32_t percent) {
    return std::to_string(percent) + "%";
}

std::string RangeErrorText(std::int64_t low, std::int64_t high) {
    return "Value must be between " + std::to_string(low) + " and " + std::to_string(high);
}

}  // namespace brenwick
