#include "drive/recorder/TCommandLog.h"

#include <cstdio>

namespace brenwick {

namespace {

struct TOpcodeName {
    std::uint8_t opcode;
    const char* name;
};

constexpr TOpcodeName kNames[] = {
    {0x00, "TEST UNIT READY"},
    {0x03, "REQUEST SENSE"},
    {0x04, "FORMAT UNIT"},
    {0x12, "INQUIRY"},
    {0x15, "MODE SELECT (6)"},
    {0x1A, "MODE SENSE (6)"},
    {0x1B, "START STOP UNIT"},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL"},
    {0x23, "READ FORMAT CAPACITIES"},
    {0x25, "READ CAPACITY"},
    {0x28, "READ (10)"},
    {0x2A, "WRITE (10)"},
    {0x2B, "SEEK (10)"},
    {0x2E, "WRITE AND VERIFY (10)"},
    {0x35, "SYNCHRONIZE CACHE"},
    {0x43, "READ TOC/PMA/ATIP"},
    {0x46, "GET CONFIGURATION"},
    {0x4A, "GET EVENT STATUS NOTIFICATION"},
    {0x51, "READ DISC INFORMATION"},
    {0x52, "READ TRACK INFORMATION"},
    {0x53, "RESERVE TRACK"},
    {0x54, "SEND OPC INFORMATION"},
    {0x55, "MODE SELECT (10)"},
    {0x5A, "MODE SENSE (10)"},
    {0x5B, "CLOSE TRACK/SESSION"},
    {0x5C, "READ BUFFER CAPACITY"},
    {0x5D, "SEND CUE SHEET"},
    {0xA1, "BLANK"},
    {0xA8, "READ (12)"},
    {0xAA, "WRITE (12)"},
    {0xAC, "GET PERFORMANCE"},
    {0xAD, "READ DISC STRUCTURE"},
    {0xB6, "SET STREAMING"},
    {0xBB, "SET CD SPEED"},
    {0xBE, "READ CD"},
    {0xBF, "SEND DISC STRUCTURE"},
};

}  // namespace

void TCommandLog::Add(const TCommandLogEntry& entry) {
    if (m_limit == 0) return;
    if (m_entries.size() >= m_limit) m_entries.pop_front();
    m_entries.push_back(entry);
}

std::string OpcodeName(std::uint8_t opcode) {
    for (const auto& name : kNames) {
        if (name.opcode == opcode) return name.name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "OPCODE %02Xh", opcode);
    return text;
}

std::string FormatLogEntry(const TCommandLogEntry& e) {
    char text[160];
    if (e.hostStatus != 0) {
        std::snprintf(text, sizeof text, "%02X %s lba=%lld len=%u -> HOST %02Xh", e.opcode,
                      OpcodeName(e.opcode).c_str(), static_cast<long long>(e.lba), e.length, e.hostStatus);
    } else if (e.status == 0x02) {
        std::snprintf(text, sizeof text, "%02X %s lba=%lld len=%u -> CHECK %02X/%02X/%02X", e.opcode,
                      OpcodeName(e.opcode).c_str(), static_cast<long long>(e.lba), e.length, e.senseKey,
                      e.asc, e.ascq);
    } else {
        std::snprintf(text, sizeof text, "%02X %s lba=%lld len=%u -> %s", e.opcode,
                      OpcodeName(e.opcode).c_str(), static_cast<long long>(e.lba), e.length,
                      e.status == 0 ? "GOOD" : "BUSY");
    }
    return text;
}

}  // namespace brenwick
