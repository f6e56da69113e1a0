// What the session import needs from a disc: 2048-byte sectors by logical block address and a few facts of
// the table of contents. The burner implements it over READ TOC / READ (10); tests and the fuzzer back it
// with an image in memory (TMemoryDisc).
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace brenwick {

class TSessionDisc {
  public:
    virtual ~TSessionDisc() = default;
    // Number of the last complete session; 0 when the disc holds none or the count cannot be read.
    virtual std::uint8_t sessionCount() = 0;
    // First sector (LBA form) of the session with this number, found by session and not by track number;
    // false when the table of contents cannot be read or holds no such session.
    [[nodiscard]] virtual bool sessionStart(std::uint8_t session, std::uint32_t& lba) = 0;
    // Reads one 2048-byte sector into `sector`; false when it cannot be read.
    [[nodiscard]] virtual bool read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) = 0;
    // Reads `count` consecutive sectors into `sectors` (count x 2048 bytes) with as few commands as the
    // disc allows; false when any cannot be read. One sector at a time unless a disc does better.
    [[nodiscard]] virtual bool readRun(std::uint32_t lba, std::uint32_t count,
                                       std::span<std::uint8_t> sectors) {
        if (sectors.size() < std::size_t{count} * 2048) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!read(lba + i, std::span<std::uint8_t, 2048>(sectors.data() + std::size_t{i} * 2048, 2048)))
                return false;
        }
        return true;
    }
    // Sectors of the disc that may hold data (extents beyond are refused); 0 when unknown.
    virtual std::uint64_t sectorCount() = 0;
};

// A disc image in memory: sector N at byte N * 2048, sessions starting at the given sectors.
class TMemoryDisc : public TSessionDisc {
  public:
    TMemoryDisc(std::vector<std::uint8_t> image, std::vector<std::uint32_t> sessionStarts)
        : m_image(std::move(image)), m_starts(std::move(sessionStarts)) {}

    std::uint8_t sessionCount() override { return static_cast<std::uint8_t>(m_starts.size()); }
    bool sessionStart(std::uint8_t session, std::uint32_t& lba) override {
        if (session == 0 || session > m_starts.size()) return false;
        lba = m_starts[session - 1u];
        return true;
    }
    bool read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) override {
        const std::uint64_t at = std::uint64_t{lba} * 2048;
        if (at + 2048 > m_image.size()) return false;
        std::memcpy(sector.data(), m_image.data() + at, 2048);
        return true;
    }
    std::uint64_t sectorCount() override { return (m_image.size() + 2047) / 2048; }

    std::vector<std::uint8_t>& image() { return m_image; }

  private:
    std::vector<std::uint8_t> m_image;
    std::vector<std::uint32_t> m_starts;
};

}  // namespace brenwick
