// Sense data in the fixed format of the SPC standard: the triples (key, additional sense code, qualifier)
// the project names, one encoder (the image recorder and the scripted test targets answer with it) and
// one parser (the drive layer reads a failed command's sense once into a TSense, and callers ask it
// questions instead of reading byte offsets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brenwick {

// Sense key / additional sense code / qualifier.
struct TSenseCode {
    std::uint8_t key, asc, ascq;

    constexpr bool operator==(const TSenseCode&) const = default;
};

inline constexpr TSenseCode kNoSense{0x00, 0x00, 0x00};
inline constexpr TSenseCode kNotReadyCause{0x02, 0x04, 0x00};
inline constexpr TSenseCode kBecomingReady{0x02, 0x04, 0x01};
inline constexpr TSenseCode kFormatInProgress{0x02, 0x04, 0x04};
inline constexpr TSenseCode kOperationInProgress{0x02, 0x04, 0x07};
inline constexpr TSenseCode kLongWriteInProgress{0x02, 0x04, 0x08};
inline constexpr TSenseCode kNoMediumTrayClosed{0x02, 0x3A, 0x01};
inline constexpr TSenseCode kNoMediumTrayOpen{0x02, 0x3A, 0x02};
inline constexpr TSenseCode kWriteError{0x03, 0x0C, 0x00};
inline constexpr TSenseCode kLossOfStreaming{0x03, 0x0C, 0x09};
inline constexpr TSenseCode kUnrecoveredRead{0x03, 0x11, 0x00};
inline constexpr TSenseCode kParameterListLength{0x05, 0x1A, 0x00};
inline constexpr TSenseCode kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr TSenseCode kLbaOutOfRange{0x05, 0x21, 0x00};
inline constexpr TSenseCode kInvalidWriteAddress{0x05, 0x21, 0x02};
inline constexpr TSenseCode kInvalidFieldInCdb{0x05, 0x24, 0x00};
inline constexpr TSenseCode kInvalidFieldInList{0x05, 0x26, 0x00};
inline constexpr TSenseCode kSequenceError{0x05, 0x2C, 0x00};
inline constexpr TSenseCode kIncompatibleMedium{0x05, 0x30, 0x00};
inline constexpr TSenseCode kCannotReadFormat{0x05, 0x30, 0x02};
inline constexpr TSenseCode kCannotWriteFormat{0x05, 0x30, 0x05};
inline constexpr TSenseCode kCannotFormatMedium{0x05, 0x30, 0x06};
inline constexpr TSenseCode kSavingNotSupported{0x05, 0x39, 0x00};
inline constexpr TSenseCode kRemovalPreventedDisc{0x05, 0x53, 0x02};
inline constexpr TSenseCode kRemovalPreventedNoDisc{0x02, 0x53, 0x02};
inline constexpr TSenseCode kEndOfUserArea{0x05, 0x63, 0x00};
inline constexpr TSenseCode kIllegalModeForTrack{0x05, 0x64, 0x00};
inline constexpr TSenseCode kIncompleteTrackInSession{0x05, 0x72, 0x03};
inline constexpr TSenseCode kEmptyReservedTrack{0x05, 0x72, 0x04};
inline constexpr TSenseCode kNoMoreReservations{0x05, 0x72, 0x05};
inline constexpr TSenseCode kMediumMayHaveChanged{0x06, 0x28, 0x00};

inline constexpr std::uint8_t kSenseKeyNotReady = 0x02;
inline constexpr std::uint8_t kSenseKeyMediumError = 0x03;
inline constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;
inline constexpr std::uint8_t kAscLogicalUnitNotReady = 0x04;

// Fixed-format sense data is 18 bytes long (additional length 10).
inline constexpr std::size_t kFixedSenseLength = 18;

struct TSenseFields {
    TSenseCode code = kNoSense;
    bool deferred = false;   // response code 71h: the error belongs to an earlier command
    bool infoValid = false;  // the VALID bit: `info` holds the failing block
    std::uint32_t info = 0;
    bool progressValid = false;  // NOT READY with progress indication (SKSV)
    std::uint16_t progress = 0;  // 0..65535 for 0..100 %
};

// Writes `fields` as fixed-format sense data into the first 18 bytes of `out` (which must hold them).
inline void EncodeFixedSense(const TSenseFields& fields, std::span<std::uint8_t> out) {
    const std::uint8_t responseCode = fields.deferred ? 0x71 : 0x70;
    out[0] = std::uint8_t(responseCode | (fields.infoValid ? 0x80 : 0x00));
    out[2] = fields.code.key;
    out[3] = std::uint8_t(fields.info >> 24);
    out[4] = std::uint8_t(fields.info >> 16);
    out[5] = std::uint8_t(fields.info >> 8);
    out[6] = std::uint8_t(fields.info);
    out[7] = 0x0A;
    out[12] = fields.code.asc;
    out[13] = fields.code.ascq;
    if (fields.progressValid) {
        out[15] = 0x80;
        out[16] = std::uint8_t(fields.progress >> 8);
        out[17] = std::uint8_t(fields.progress);
    }
}

// A failed command's sense, parsed once. Empty (no sense) when the drive returned none or the data are
// not in the fixed format.
class TSense {
  public:
    TSense() = default;
    explicit TSense(const TSenseFields& fields) : m_fields(fields), m_present(true) {}

    // Parses fixed-format sense data (response code 70h or 71h); anything shorter than the key and the
    // additional codes, or of another format, gives an empty TSense.
    static TSense Parse(std::span<const std::uint8_t> bytes) {
        if (bytes.size() < 14 || (bytes[0] & 0x7E) != 0x70) return {};
        TSenseFields f;
        f.deferred = (bytes[0] & 0x7F) == 0x71;
        f.code = {std::uint8_t(bytes[2] & 0x0F), bytes[12], bytes[13]};
        f.infoValid = (bytes[0] & 0x80) != 0;
        f.info = std::uint32_t(bytes[3]) << 24 | std::uint32_t(bytes[4]) << 16 |
                 std::uint32_t(bytes[5]) << 8 | bytes[6];
        if (bytes.size() >= 18 && (bytes[15] & 0x80) != 0) {
            f.progressValid = true;
            f.progress = std::uint16_t(bytes[16] << 8 | bytes[17]);
        }
        return TSense(f);
    }

    bool present() const { return m_present; }
    TSenseCode code() const { return m_fields.code; }
    std::uint8_t key() const { return m_fields.code.key; }
    std::uint8_t asc() const { return m_fields.code.asc; }
    std::uint8_t ascq() const { return m_fields.code.ascq; }
    const TSenseFields& fields() const { return m_fields; }

    // The error belongs to an earlier command (a write the drive had accepted into its buffer).
    bool deferred() const { return m_present && m_fields.deferred; }
    // NOT READY because the logical unit is busy with something (any 04h qualifier): the write thread
    // retries a WRITE that the drive refuses this way.
    bool logicalUnitNotReady() const { return m_present && m_fields.code.asc == kAscLogicalUnitNotReady; }
    bool is(TSenseCode code) const { return m_present && m_fields.code == code; }

  private:
    TSenseFields m_fields;
    bool m_present = false;
};

}  // namespace brenwick
