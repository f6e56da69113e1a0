// The disc as the session import reads it, over the burner's drive commands: the session count (READ
// TOC), the first sector of a session by its number (READ TRACK INFORMATION, LBA form) and READ (10).
#pragma once

#include <cstdint>
#include <optional>

#include "isofs/qrSessionDisc.h"

namespace brenwick {

class TSCSIDevice;

class TBurnerDisc : public TSessionDisc {
  public:
    explicit TBurnerDisc(TSCSIDevice& drive) : m_drive(drive) {}

    std::uint8_t sessionCount() override;
    // The start of the first track whose session number is `session`: a session may hold several tracks,
    // and addresses in LBA form reach beyond the 2.3 GB that MSF can express.
    [[nodiscard]] bool sessionStart(std::uint8_t session, std::uint32_t& lba) override;
    [[nodiscard]] bool read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) override;
    // One READ (10) for the whole run.
    [[nodiscard]] bool readRun(std::uint32_t lba, std::uint32_t count,
                               std::span<std::uint8_t> sectors) override;
    std::uint64_t sectorCount() override;

  private:
    TSCSIDevice& m_drive;
    std::optional<std::uint64_t> m_sectorCount;
};

}  // namespace brenwick
