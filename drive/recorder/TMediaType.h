// The media the image recorder emulates: their GET CONFIGURATION profiles, capacities, speeds and how they
// are written (sequentially at a next writable address, or anywhere in a formatted area).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brenwick {

enum class TMediaType : std::uint8_t {
    None,
    CdRom,  // pressed, read-only (an existing ISO image)
    CdR74,
    CdR80,
    CdRw74,
    CdRw80,
    DvdRom,  // pressed, read-only (an ISO image too large for a CD)
    DvdR,
    DvdRwRestricted,  // DVD-RW formatted for restricted overwrite
    DvdRwSequential,  // DVD-RW in sequential recording
    DvdPlusR,
    DvdPlusRw,
    DvdRam,
};

enum class TMediaFamily : std::uint8_t { None, Cd, Dvd };

// How the medium takes writes.
enum class TRecording : std::uint8_t {
    ReadOnly,    // pressed disc
    Sequential,  // at the next writable address of the invisible, incomplete or reserved track
    Random,      // any block of the formatted area
};

struct TMediaTraits {
    TMediaType type;
    std::string_view key;      // name in the state file and on the command line ("cd-rw-80")
    std::string_view display;  // what people call it ("CD-RW 80 min")
    std::uint16_t profile;     // GET CONFIGURATION current profile
    std::int32_t capacity;     // blocks; for CD the last possible lead-out start (ATIP)
    TMediaFamily family;
    TRecording recording;
    bool erasable;          // BLANK (CD-RW, DVD-RW) or reformatting (DVD+RW, DVD-RAM) possible
    std::uint8_t bookType;  // DVD physical format book type (READ DVD STRUCTURE format 0)
    std::span<const std::uint16_t> writeSpeeds;  // kB/s, fastest first; empty for pressed discs
};

const TMediaTraits& MediaTraits(TMediaType type);
std::optional<TMediaType> MediaTypeFromKey(std::string_view key);
std::span<const TMediaTraits> AllMediaTraits();

// ATIP lead-in start of blank CD-R/RW (97:15:35) and the CD capacities in blocks.
inline constexpr std::int32_t kAtipLeadInLba = -12490;
inline constexpr std::int32_t kCd74Capacity = 335100;  // lead-out 74:30:00
inline constexpr std::int32_t kCd80Capacity = 359849;  // lead-out 79:59:74

// 1x in kB/s for the speed settings ("4x").
inline constexpr std::uint32_t kCdSpeed1x = 176;
inline constexpr std::uint32_t kDvdSpeed1x = 1385;

}  // namespace brenwick
