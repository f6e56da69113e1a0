// The names of the MMC and SPC operation codes: the one list both the drive layer (its failure line) and
// the image recorder (its command log) use.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brenwick {

struct TOpcodeName {
    std::uint8_t code;
    std::string_view name;
};

inline constexpr std::array<TOpcodeName, 51> kOpcodeNameList{{
    {0x00, "TEST UNIT READY"},
    {0x01, "REWIND UNIT"},
    {0x03, "REQUEST SENSE"},
    {0x04, "FORMAT UNIT"},
    {0x12, "INQUIRY"},
    {0x1B, "START STOP UNIT"},
    {0x1E, "PREVENT/ALLOW REMOVAL"},
    {0x23, "READ FORMAT CAPACITIES"},
    {0x25, "READ CAPACITY"},
    {0x28, "READ (10)"},
    {0x2A, "WRITE (10)"},
    {0x2B, "SEEK (10)"},
    {0x2E, "WRITE AND VERIFY (10)"},
    {0x2F, "VERIFY (10)"},
    {0x35, "SYNCHRONIZE CACHE"},
    {0x42, "READ SUB-CHANNEL"},
    {0x43, "READ TOC/PMA/ATIP"},
    {0x45, "PLAY AUDIO (10)"},
    {0x46, "GET CONFIGURATION"},
    {0x47, "PLAY AUDIO MSF"},
    {0x4A, "GET EVENT/STATUS NOTIF"},
    {0x4B, "PAUSE/RESUME"},
    {0x4E, "STOP PLAY/SCAN"},
    {0x51, "READ DISC INFORMATION"},
    {0x52, "READ TRACK INFORMATION"},
    {0x53, "RESERVE TRACK"},
    {0x54, "SEND OPC INFORMATION"},
    {0x55, "MODE SELECT (10)"},
    {0x58, "REPAIR TRACK"},
    {0x5A, "MODE SENSE (10)"},
    {0x5B, "CLOSE TRACK/SESSION"},
    {0x5C, "READ BUFFER CAPACITY"},
    {0x5D, "SEND CUE SHEET"},
    {0xA1, "BLANK"},
    {0xA2, "SEND EVENT"},
    {0xA3, "SEND KEY"},
    {0xA4, "REPORT KEY"},
    {0xA5, "PLAY AUDIO (12)"},
    {0xA6, "LOAD/UNLOAD CD/DVD"},
    {0xA7, "SET READ AHEAD"},
    {0xA8, "READ (12)"},
    {0xAA, "WRITE (12)"},
    {0xAC, "GET PERFORMANCE"},
    {0xAD, "READ DVD STRUCTURE"},
    {0xB6, "SET STREAMING"},
    {0xB9, "READ CD MSF"},
    {0xBA, "SCAN"},
    {0xBB, "SET CD SPEED"},
    {0xBD, "MECHANISM STATUS"},
    {0xBE, "READ CD"},
    {0xBF, "SEND DVD STRUCTURE"},
}};

// Names are padded with blanks to this width in the failure line.
inline constexpr std::size_t kOpcodeNameWidth = 22;

// 256 texts indexed by operation code: the code as two upper-case hex digits, or its name padded to 22.
// Built once on first use (thread-safe static initialisation) and kept until the process ends.
inline const std::array<std::string, 256>& OpcodeNames() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> names;
        for (unsigned code = 0; code < 256; ++code) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", code);
            names[code] = hex;
        }
        for (const auto& entry : kOpcodeNameList) {
            std::string name(entry.name);
            if (name.size() < kOpcodeNameWidth) name.append(kOpcodeNameWidth - name.size(), ' ');
            names[entry.code] = name;
        }
        return names;
    }();
    return table;
}

// The name of an operation code without padding, or "OPCODE xxh" for a code the list does not name.
inline std::string OpcodeName(std::uint8_t opcode) {
    for (const auto& entry : kOpcodeNameList) {
        if (entry.code == opcode) return std::string(entry.name);
    }
    char text[16];
    std::snprintf(text, sizeof text, "OPCODE %02Xh", opcode);
    return text;
}

}  // namespace brenwick
