// The project's date-time value (days since 1899-12-30, the time of day as the fraction), the civil
// calendar (proleptic Gregorian) and the one conversion from the seconds of the POSIX clock.
#pragma once

#include <cstdint>

#include "base/qrTypes.h"

namespace brenwick {

// 1970-01-01 as a date-time.
inline constexpr std::int64_t kUnixEpochDays = 25569;
inline constexpr double kSecondsPerDay = 86400.0;

// Days since 1970-01-01 of a civil date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The civil date of a count of days since 1970-01-01.
constexpr void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

// `seconds` since 1970-01-01 00:00 (of whatever clock: UTC, or local time read as UTC) as a date-time.
constexpr TDateTime DateTimeFromUnixSeconds(double seconds) {
    return static_cast<double>(kUnixEpochDays) + seconds / kSecondsPerDay;
}

}  // namespace brenwick
