// Fault injection from the plain file "faults" in a recorder's folder, so that tests and users can script a
// misbehaving drive. One fault per line, "#" starts a comment:
//   busy-writes N          the next N WRITE commands answer BUSY status (TARGET BUSY)
//   medium-error LBA       a WRITE touching LBA fails with 03/0C/00, a READ with 03/11/00
//   not-ready N            the next N commands that need the disc answer NOT READY, 02/04/01
//   illegal OPCODE         the command (hex, e.g. 46) answers ILLEGAL REQUEST, 05/20/00
//   block-descriptor       MODE SENSE puts an 8-byte block descriptor before the pages
//   vendor TEXT            the INQUIRY vendor field (8 characters)
//   product TEXT           the INQUIRY product field (16 characters, e.g. "DVD-RW  DVR-103 ")
//   revision TEXT          the INQUIRY revision field (4 characters)
//   vanish-after-writes N  after N more WRITE commands the drive is gone: every command then fails with
//                          host status selection time-out, as an unplugged drive
// The file is read again whenever it changes; counts start afresh from the new file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenwick {

inline constexpr const char* kFaultFile = "faults";

struct TFaults {
    unsigned busyWrites = 0;
    unsigned longWrites = 0;  // WRITEs into a full buffer answered "long write in progress"
    std::vector<std::int64_t> mediumErrors;
    unsigned notReady = 0;
    std::vector<std::uint8_t> illegalOpcodes;
    bool blockDescriptor = false;
    std::optional<std::string> vendor, product, revision;
    std::optional<unsigned> vanishAfterWrites;

    bool isIllegal(std::uint8_t opcode) const;
    bool hitsMediumError(std::int64_t lba, std::int64_t count) const;
};

// Parses the fault file text; on failure `error` names the line and `faults` is left untouched.
[[nodiscard]] bool ParseFaults(std::string_view text, TFaults& faults, std::string& error);

// Appends one line to the fault file of the recorder in `folder` (tests and the media command use it).
[[nodiscard]] bool AppendFaultLine(const std::string& folder, const std::string& line, std::string& error);
// Removes the fault file.
[[nodiscard]] bool ClearFaults(const std::string& folder, std::string& error);

// The fault file of one recorder, re-read when its size, time or identity changes.
class TFaultFile {
  public:
    explicit TFaultFile(std::string folder = {}) : m_folder(std::move(folder)) {}
    void setFolder(std::string folder) { m_folder = std::move(folder); }
    // Reloads the file if it changed; returns the faults in force (none when the file is absent or bad).
    TFaults& Current();
    // The parse error of the file now present, empty when it is fine.
    const std::string& error() const { return m_error; }
    // Counts the reloads, so that users of the counts see when they restart.
    unsigned generation() const { return m_generation; }

  private:
    std::string m_folder;
    TFaults m_faults;
    std::string m_error;
    unsigned m_generation = 0;
    std::int64_t m_stamp[4] = {-1, -1, -1, -1};
};

}  // namespace brenwick
