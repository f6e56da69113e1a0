// The READ DISC INFORMATION answer kept by the drive object (56 bytes); the length is kept in host order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/TReplyReader.h"

namespace brenwick {

struct TDiscInfo {
    static constexpr std::size_t kSize = 56;
    std::array<std::uint8_t, kSize> raw{};
    std::uint16_t DataLength = 0;  // bytes 0-1

    bool Erasable() const { return (raw[2] & 0x10) != 0; }
    std::uint8_t DiscStatus() const { return raw[2] & 0x03; }  // 0 empty, 1 appendable, 2 complete
    std::uint8_t LastSessionState() const { return (raw[2] >> 2) & 0x03; }
    std::uint16_t Sessions() const { return std::uint16_t(raw[9] << 8 | raw[4]); }
    std::uint16_t FirstTrackInLastSession() const { return std::uint16_t(raw[10] << 8 | raw[5]); }
    std::uint16_t LastTrackInLastSession() const { return std::uint16_t(raw[11] << 8 | raw[6]); }

    void Parse(std::span<const std::uint8_t> answer) {
        raw.fill(0);
        for (std::size_t i = 0; i < kSize && i < answer.size(); ++i) raw[i] = answer[i];
        TReplyReader r(raw);
        DataLength = r.be16(0);
    }
};

}  // namespace brenwick
