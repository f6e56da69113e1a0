// The program's string table: every fixed message text of the drive layer (and, later, of the file-system
// image and the engine), the operation-code names and the disc type names. Header only, no logic beyond
// building the opcode name table. The additional sense table lives in drive/qrSense.h.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/qrOpcodes.h"

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
// %s: the device path. A recording or an erase that cannot hold the drive exclusively does not start.
inline constexpr const char* kMsgDriveInUseFmt = "<<< DRIVE %s IS IN USE BY ANOTHER PROGRAM OR MOUNTED";

// ---- Transport layer names ----
inline constexpr std::string_view kLayerWnaspi = "WNASPI32.DLL";
inline constexpr std::string_view kLayerAsapi = "ASAPI.DLL";
inline constexpr std::string_view kLayerEmulation = "QWASPI32";

// ---- Disc types (index as returned by GetDiscType) ----
// Indices 0-12 are the historical table; the DVD+R and dual-layer media follow it.
inline constexpr std::array<std::string_view, 17> DiscTypeNames{
    "UNKNOWN", "CD-ROM",   "CD-R",   "CD-RW",   "DVD-ROM", "DVD-R",    "DVD-RAM",  "DVD-RW RO", "DVD-RW SR",
    "DVD+RW",  "DDCD-ROM", "DDCD-R", "DDCD-RW", "DVD+R",   "DVD+R DL", "DVD-R DL", "DVD+RW DL"};

}  // namespace brenwick
