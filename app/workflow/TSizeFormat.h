// Sizes as the log and the status bar show them: whole megabytes (1048576 bytes), rounded half away from
// zero, with "," as thousands separator ("%.0n MB").
#pragma once

#include <cstdint>
#include <string>

namespace brenwick {

inline constexpr std::int64_t kSectorSize = 2048;
inline constexpr std::int64_t kMegabyte = 1048576;

// Whole number with thousands separators: 1234567 gives "1,234,567".
std::string GroupThousands(std::int64_t value);
// Bytes as "%.0n": whole megabytes, rounded.
std::string Megabytes(std::int64_t bytes);
// "<megabytes> MB".
std::string MegabytesText(std::int64_t bytes);
// "%.0n/%.0n MB": bytes written against the session size.
std::string WrittenOfTotalText(std::int64_t written, std::int64_t total);

}  // namespace brenwick
