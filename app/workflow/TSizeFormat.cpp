// Megabyte texts of the log and the status bar.
#include "app/workflow/TSizeFormat.h"

namespace brenwick {

std::string GroupThousands(std::int64_t value) {
    const bool negative = value < 0;
    // Work on the magnitude without overflowing for the most negative value.
    std::uint64_t magnitude = negative ? std::uint64_t(-(value + 1)) + 1 : std::uint64_t(value);
    std::string digits = std::to_string(magnitude);
    std::string out;
    const std::size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    out.append(digits, 0, lead);
    for (std::size_t i = lead; i < digits.size(); i += 3) out.append(",").append(digits, i, 3);
    return negative ? "-" + out : out;
}

std::string Megabytes(std::int64_t bytes) {
    // Round half away from zero in integers: no double can lose a byte count of a large disc.
    const std::int64_t whole = bytes / kMegabyte;
    const std::int64_t rest = bytes % kMegabyte;
    std::int64_t rounded = whole;
    if (rest >= kMegabyte / 2) ++rounded;
    if (rest <= -kMegabyte / 2) --rounded;
    return GroupThousands(rounded);
}

std::string MegabytesText(std::int64_t bytes) {
    return Megabytes(bytes) + " MB";
}

std::string WrittenOfTotalText(std::int64_t written, std::int64_t total) {
    return Megabytes(written) + "/" + Megabytes(total) + " MB";
}

}  // namespace brenwick
