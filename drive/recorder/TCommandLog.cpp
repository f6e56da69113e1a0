#include "drive/recorder/TCommandLog.h"

#include <cstdio>

#include "base/qrOpcodes.h"

namespace brenwick {

void TCommandLog::Add(const TCommandLogEntry& entry) {
    if (m_limit == 0) return;
    if (m_entries.size() >= m_limit) m_entries.pop_front();
    m_entries.push_back(entry);
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
