// The one seam at the device: a SCSI target that executes one CDB.
// Real drives (SG_IO pass-through), the image recorders and the scripted targets of tests all sit behind it,
// so the drive object cannot tell them apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/qrSenseData.h"

namespace brenwick {

enum class TDataDirection : std::uint8_t { None, In, Out };

// SCSI status bytes (SAM).
inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kStatusBusy = 0x08;

// Host (transport) status: 00h no error, 11h selection time-out (the device is gone), 09h command time-out.
inline constexpr std::uint8_t kHostOk = 0x00;
inline constexpr std::uint8_t kHostTimeout = 0x09;
inline constexpr std::uint8_t kHostSelectionTimeout = 0x11;

struct TScsiRequest {
    std::span<const std::uint8_t> cdb;  // 6, 10, 12 or 16 bytes
    TDataDirection direction = TDataDirection::None;
    std::span<std::uint8_t> data;  // In: filled up to data.size(); Out: read in full
    unsigned timeoutMs = 10000;
};

struct TScsiResult {
    std::uint8_t status = kStatusGood;  // SCSI status byte
    std::uint8_t hostStatus = kHostOk;
    std::array<std::uint8_t, 32> sense{};  // fixed-format sense data (70h/71h) on CHECK CONDITION
    std::size_t senseLength = 0;           // valid bytes in sense
    std::size_t transferred = 0;           // bytes moved in the data phase

    bool ok() const { return status == kStatusGood && hostStatus == kHostOk; }
};

// A CHECK CONDITION result carrying `fields` as fixed-format sense data.
inline TScsiResult CheckConditionResult(const TSenseFields& fields) {
    TScsiResult result;
    result.status = kStatusCheckCondition;
    EncodeFixedSense(fields, result.sense);
    result.senseLength = kFixedSenseLength;
    return result;
}

class TScsiTarget {
  public:
    virtual ~TScsiTarget() = default;

    // Executes one command to completion; never throws. Called by one thread at a time per target.
    virtual TScsiResult Execute(const TScsiRequest& request) = 0;
};

}  // namespace brenwick
