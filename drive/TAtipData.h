// The READ TOC/PMA/ATIP format 4 answer (ATIP) kept by the drive object (116 bytes, MSF form).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace brenwick {

struct TAtipData {
    static constexpr std::size_t kSize = 116;
    std::array<std::uint8_t, kSize> raw{};

    bool Rewritable() const { return (raw[6] & 0x40) != 0; }
    // Last possible start of the lead-out (bytes 12-14, M S F) in sectors: M x 4500 + S x 75 + F.
    std::uint32_t LeadOutSectors() const { return raw[12] * 4500u + raw[13] * 75u + raw[14]; }
};

}  // namespace brenwick
