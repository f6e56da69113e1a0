// The command log of an image recorder: one entry per executed CDB with its key fields and outcome, so that
// tests can assert exact command sequences and the media command can show what a program sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace brenwick {

struct TCommandLogEntry {
    std::uint8_t opcode = 0;
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdbLength = 0;
    std::int64_t lba = 0;         // address field of the command when it has one (WRITE, READ, ...), else 0
    std::uint32_t length = 0;     // transfer length field (blocks for WRITE/READ, else the allocation length)
    std::uint8_t status = 0;      // SCSI status
    std::uint8_t hostStatus = 0;  // 11h once the drive vanished
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::size_t transferred = 0;

    bool good() const { return status == 0 && hostStatus == 0; }
};

class TCommandLog {
  public:
    explicit TCommandLog(std::size_t limit = 100000) : m_limit(limit) {}
    void Add(const TCommandLogEntry& entry);
    void Clear() { m_entries.clear(); }
    std::vector<TCommandLogEntry> Entries() const { return {m_entries.begin(), m_entries.end()}; }
    std::size_t size() const { return m_entries.size(); }

  private:
    std::size_t m_limit;
    std::deque<TCommandLogEntry> m_entries;  // oldest dropped beyond the limit
};

// One line: "2A WRITE (10) lba=0 len=31 -> GOOD" or "... -> CHECK 05/21/02".
std::string FormatLogEntry(const TCommandLogEntry& entry);

}  // namespace brenwick
