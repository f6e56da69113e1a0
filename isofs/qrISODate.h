// Date-time values (days since 1899-12-30, the time as the fraction) as the disc structures need them:
// from packed DOS times, to the 7-byte directory record date and the 17-byte descriptor date.
#pragma once

#include <cstdint>

#include "base/qrTypes.h"

namespace brenwick {

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// False (and `out` untouched) when the parts are not a real date and time.
[[nodiscard]] bool EncodeDateTime(const TDateParts& parts, TDateTime& out);
TDateParts DecodeDateTime(TDateTime value);

// Packed DOS date (high word) and time (low word), 2-second resolution.
TDateTime DosToDateTime(std::int32_t dos);
// The local time now, in packed DOS form and thus to 2 seconds.
TDateTime NowAsDosDateTime();

// Directory record date: year - 1900, month, day, hour, minute, second, offset (15-minute units).
void WriteRecordDate(TDateTime value, std::int8_t timeZoneOffset, std::uint8_t* out7);
// Descriptor date: 16 ASCII digits (year to hundredths) and a zero GMT offset byte.
void WriteDescriptorDate(TDateTime value, std::uint8_t* out17);

}  // namespace brenwick
