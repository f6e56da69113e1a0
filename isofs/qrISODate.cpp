// Date-time conversions of the disc structures (see qrISODate.h).
#include "isofs/qrISODate.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/qrDateTime.h"
#include "isofs/qrFileSearch.h"

namespace brenwick {

namespace {

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

bool EncodeDateTime(const TDateParts& p, TDateTime& out) {
    if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 ||
        p.Second < 0 || p.Second > 59 || p.Millisecond < 0 || p.Millisecond > 999)
        return false;
    const std::int64_t days =
        DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) + kUnixEpochDays;
    const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.Millisecond;
    out = static_cast<double>(days) + ms / 86400000.0;
    return true;
}

TDateParts DecodeDateTime(TDateTime value) {
    TDateParts p;
    if (!std::isfinite(value) || value < -693593.0 || value > 2958465.0) return p;  // outside years 1..9999
    auto days = static_cast<std::int64_t>(std::floor(value));
    auto ms = static_cast<std::int64_t>(std::llround((value - static_cast<double>(days)) * 86400000.0));
    if (ms >= 86400000) {
        ++days;
        ms -= 86400000;
    }
    CivilFromDays(days - kUnixEpochDays, p.Year, p.Month, p.Day);
    p.Millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    p.Second = static_cast<int>(ms % 60);
    ms /= 60;
    p.Minute = static_cast<int>(ms % 60);
    p.Hour = static_cast<int>(ms / 60);
    return p;
}

TDateTime DosToDateTime(std::int32_t dos) {
    const auto u = static_cast<std::uint32_t>(dos);
    TDateParts p;
    p.Year = 1980 + static_cast<int>((u >> 25) & 0x7F);
    p.Month = static_cast<int>((u >> 21) & 0x0F);
    p.Day = static_cast<int>((u >> 16) & 0x1F);
    p.Hour = static_cast<int>((u >> 11) & 0x1F);
    p.Minute = static_cast<int>((u >> 5) & 0x3F);
    p.Second = static_cast<int>((u & 0x1F) * 2);
    TDateTime out = 0;
    if (!EncodeDateTime(p, out)) {
        p = TDateParts{1980, 1, 1, 0, 0, 0, 0};
        (void)EncodeDateTime(p, out);  // a fixed valid date
    }
    return out;
}

TDateTime NowAsDosDateTime() {
    return DosToDateTime(PackDosTime(static_cast<std::int64_t>(std::time(nullptr))));
}

void WriteRecordDate(TDateTime value, std::int8_t timeZoneOffset, std::uint8_t* out7) {
    const TDateParts p = DecodeDateTime(value);
    int year = p.Year - 1900;
    if (year < 0) year = 0;
    if (year > 255) year = 255;
    out7[0] = static_cast<std::uint8_t>(year);
    out7[1] = static_cast<std::uint8_t>(p.Month);
    out7[2] = static_cast<std::uint8_t>(p.Day);
    out7[3] = static_cast<std::uint8_t>(p.Hour);
    out7[4] = static_cast<std::uint8_t>(p.Minute);
    out7[5] = static_cast<std::uint8_t>(p.Second);
    out7[6] = static_cast<std::uint8_t>(timeZoneOffset);
}

void WriteDescriptorDate(TDateTime value, std::uint8_t* out17) {
    const TDateParts p = DecodeDateTime(value);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second, p.Millisecond / 10);
    for (int i = 0; i < 16; ++i) out17[i] = static_cast<std::uint8_t>(digits[i]);
    out17[16] = 0;
}

}  // namespace brenwick
