// Growing one volume on an overwritable disc (DVD+RW, DVD-RAM, restricted-overwrite DVD-RW): each backup
// that continues the disc is written after the end of the recorded volume, and only once its data are on
// the disc are the volume descriptors at sector 16 rewritten to describe the grown tree. A recording that
// ends early leaves the descriptors, and so the old volume, as they were.
#pragma once

#include <cstdint>

namespace brenwick {

// Sectors per ECC block of a DVD (32 KiB): a grown session starts on such a boundary, so that writing it
// never rewrites a block that holds data of the old volume.
inline constexpr std::uint32_t kGrowthAlignment = 16;
// Where the volume descriptors of an ISO 9660 volume lie.
inline constexpr std::uint32_t kDescriptorSector = 16;

// The largest volume that can be grown: its new session's start stays a disc address.
inline constexpr std::uint32_t kLargestGrownVolume = 0xF0000000u - kGrowthAlignment;

// The first sector of a session that grows a volume of `volumeSectors` (at most kLargestGrownVolume).
inline std::uint32_t GrowthStartSector(std::uint32_t volumeSectors) {
    return (volumeSectors + kGrowthAlignment - 1) / kGrowthAlignment * kGrowthAlignment;
}

}  // namespace brenwick
