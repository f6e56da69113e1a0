// Media table of the image recorder. Capacities and speeds are those of common 120 mm discs.
#include "drive/recorder/TMediaType.h"

#include <array>

namespace brenwick {

namespace {

constexpr std::uint16_t kCdRSpeeds[] = {8467, 7056, 5645, 4234, 2822, 1411, 706};
constexpr std::uint16_t kCdRwSpeeds[] = {4234, 2822, 1764, 706};
constexpr std::uint16_t kDvdRSpeeds[] = {22160, 11080, 5540, 2770};
constexpr std::uint16_t kDvdRwSpeeds[] = {8310, 5540, 2770};
constexpr std::uint16_t kDvdPlusRwSpeeds[] = {11080, 5540, 3324};
constexpr std::uint16_t kDvdRamSpeeds[] = {6925, 4155, 2770};

using enum TMediaType;
using F = TMediaFamily;
using R = TRecording;

constexpr std::array<TMediaTraits, 13> kMedia{{
    {None, "none", "no disc", 0x0000, 0, F::None, R::ReadOnly, false, 0, {}},
    {CdRom, "cd-rom", "CD-ROM", 0x0008, 0, F::Cd, R::ReadOnly, false, 0, {}},
    {CdR74, "cd-r-74", "CD-R 74 min", 0x0009, kCd74Capacity, F::Cd, R::Sequential, false, 0, kCdRSpeeds},
    {CdR80, "cd-r-80", "CD-R 80 min", 0x0009, kCd80Capacity, F::Cd, R::Sequential, false, 0, kCdRSpeeds},
    {CdRw74, "cd-rw-74", "CD-RW 74 min", 0x000A, kCd74Capacity, F::Cd, R::Sequential, true, 0, kCdRwSpeeds},
    {CdRw80, "cd-rw-80", "CD-RW 80 min", 0x000A, kCd80Capacity, F::Cd, R::Sequential, true, 0, kCdRwSpeeds},
    {DvdRom, "dvd-rom", "DVD-ROM", 0x0010, 0, F::Dvd, R::ReadOnly, false, 0x0, {}},
    {DvdR, "dvd-r", "DVD-R", 0x0011, 2298496, F::Dvd, R::Sequential, false, 0x2, kDvdRSpeeds},
    {DvdRwRestricted, "dvd-rw-ro", "DVD-RW (restricted overwrite)", 0x0013, 2298496, F::Dvd, R::Random, true,
     0x3, kDvdRwSpeeds},
    {DvdRwSequential, "dvd-rw", "DVD-RW (sequential)", 0x0014, 2298496, F::Dvd, R::Sequential, true, 0x3,
     kDvdRwSpeeds},
    {DvdPlusR, "dvd+r", "DVD+R", 0x001B, 2295104, F::Dvd, R::Sequential, false, 0xA, kDvdRSpeeds},
    {DvdPlusRw, "dvd+rw", "DVD+RW", 0x001A, 2295104, F::Dvd, R::Random, true, 0x9, kDvdPlusRwSpeeds},
    {DvdRam, "dvd-ram", "DVD-RAM", 0x0012, 2236704, F::Dvd, R::Random, true, 0x1, kDvdRamSpeeds},
}};

}  // namespace

const TMediaTraits& MediaTraits(TMediaType type) {
    for (const auto& traits : kMedia) {
        if (traits.type == type) return traits;
    }
    return kMedia[0];
}

std::optional<TMediaType> MediaTypeFromKey(std::string_view key) {
    for (const auto& traits : kMedia) {
        if (traits.key == key) return traits.type;
    }
    return std::nullopt;
}

std::span<const TMediaTraits> AllMediaTraits() {
    return kMedia;
}

}  // namespace brenwick
