// The program's string table: every fixed message text of the drive layer (and, later, of the file-system
// image and the engine), the operation-code names and the disc type names. Header only, no logic beyond
// building the opcode name table. The additional sense table lives in drive/qrSense.h.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brenwick {

// ---- SRB status texts (status, host status, target status) ----
inline constexpr std::string_view kMsgUnknown = "UNKNOWN";
inline constexpr std::string_view kMsgAbortedByUser = "OPERATION ABORTED BY USER";
inline constexpr std::string_view kMsgCheckCondition = "CHECK CONDITION";
inline constexpr std::string_view kMsgTargetBusy = "TARGET BUSY";
inline constexpr std::string_view kMsgTargetReservationConflict = "TARGET RESERVATION CONFLICT";
inline constexpr std::string_view kMsgTargetQueueFull = "TARGET QUEUE FULL";
inline constexpr std::string_view kMsgCommandTimeout = "COMMAND TIMEOUT";
inline constexpr std::string_view kMsgSrbTimeout = "SRB TIMEOUT";
inline constexpr std::string_view kMsgMessageReject = "MESSAGE REJECT";
inline constexpr std::string_view kMsgBusReset = "BUS RESET";
inline constexpr std::string_view kMsgParityError = "PARITY ERROR";
inline constexpr std::string_view kMsgRequestSenseFailed = "REQUEST SENSE FAILED";
inline constexpr std::string_view kMsgSelectionTimeout = "SELECTION TIMEOUT";
inline constexpr std::string_view kMsgDataOverrun = "DATA OVERRUN";
inline constexpr std::string_view kMsgUnexpectedBusFree = "UNEXPECTED BUS FREE";
inline constexpr std::string_view kMsgInvalidRequest = "INVALID REQUEST";
inline constexpr std::string_view kMsgInvalidHostAdapter = "INVALID HOST ADAPTER";
inline constexpr std::string_view kMsgNoDevice = "NO DEVICE";
inline constexpr std::string_view kMsgInvalidSrb = "INVALID SRB";
inline constexpr std::string_view kMsgBufferAlignment = "BUFFER ALIGNMENT";
inline constexpr std::string_view kMsgAspiIsBusy = "ASPI IS BUSY";
inline constexpr std::string_view kMsgBufferTooBig = "BUFFER TOO BIG";

// ---- Sense key texts ----
inline constexpr std::string_view kMsgFilemark = "FILEMARK";
inline constexpr std::string_view kMsgEndOfMedia = "END OF MEDIA";
inline constexpr std::string_view kMsgIllegalLength = "ILLEGAL LENGTH";
inline constexpr std::string_view kMsgNoAdditionalSense = "NO ADDITIONAL SENSE INFORMATION";
inline constexpr std::string_view kMsgRecoveredError = "RECOVERED ERROR";
inline constexpr std::string_view kMsgNotReady = "NOT READY";
inline constexpr std::string_view kMsgMediumError = "MEDIUM ERROR";
inline constexpr std::string_view kMsgHardwareError = "HARDWARE ERROR";
inline constexpr std::string_view kMsgIllegalRequest = "ILLEGAL REQUEST";
inline constexpr std::string_view kMsgUnitAttention = "UNIT ATTENTION";
inline constexpr std::string_view kMsgDataProtect = "DATA PROTECT";
inline constexpr std::string_view kMsgEraseCheck = "ERASE CHECK";
inline constexpr std::string_view kMsgCopyAborted = "COPYABORTED";
inline constexpr std::string_view kMsgAbortedCommand = "ABORTED COMMAND";
inline constexpr std::string_view kMsgVolumeOverflow = "VOLUME OVERFLOW";
inline constexpr std::string_view kMsgMiscompare = "MISCOMPARE";
inline constexpr std::string_view kMsgReserved = "RESERVED";

// ---- Drive selection and transport ----
inline constexpr std::string_view kMsgInvalidDeviceId = "INVALID DEVICE ID / NOT A CD OR DVD DRIVE";
inline constexpr std::string_view kMsgNotSupportedSuffix = " (not supported)";
inline constexpr std::string_view kMsgNoDriveNode = "?:";
// %s: the device path.
inline constexpr const char* kMsgNoPermissionFmt =
    "<<< NO PERMISSION TO SEND COMMANDS TO %s (THE USER MUST BE IN GROUP CDROM)";

// ---- Transport layer names ----
inline constexpr std::string_view kLayerWnaspi = "WNASPI32.DLL";
inline constexpr std::string_view kLayerAsapi = "ASAPI.DLL";
inline constexpr std::string_view kLayerEmulation = "QWASPI32";

// ---- Disc types (index as returned by GetDiscType) ----
inline constexpr std::array<std::string_view, 13> DiscTypeNames{
    "UNKNOWN",   "CD-ROM",    "CD-R",   "CD-RW",    "DVD-ROM", "DVD-R",  "DVD-RAM",
    "DVD-RW RO", "DVD-RW SR", "DVD+RW", "DDCD-ROM", "DDCD-R",  "DDCD-RW"};

// ---- Operation code names ----
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

}  // namespace brenwick
