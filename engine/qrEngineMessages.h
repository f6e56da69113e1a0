// The recording engine's own texts: the error texts of a recording and the log lines of the cache, the
// write thread and the erase. Every text is fixed; "%s" and "%d" are filled in by FormatMessage.
#pragma once

#include <string>
#include <string_view>

#include "base/qrMessageFormat.h"
#include "drive/qrConst.h"  // kMsgAbortedByUser, DiscTypeNames

namespace brenwick {

// Error texts of a recording (the Error of OnWriteDone; empty means success).
inline constexpr std::string_view kMsgWriterBusy = "WRITER BUSY/BUFFER FULL";
inline constexpr std::string_view kMsgWriterError = "WRITER ERROR";
inline constexpr std::string_view kMsgInternalError1 = "INTERNAL ERROR 0001";
inline constexpr std::string_view kMsgInternalError2 = "INTERNAL ERROR 0002";
inline constexpr std::string_view kMsgInternalError3 = "INTERNAL ERROR 0003";

// Log lines.
inline constexpr std::string_view kMsgFileUnreadable =
    ">>> FILE \"%s\" COULD NOT BE READ, ITS COPY HOLDS ZEROS";
inline constexpr std::string_view kMsgFileChanged =
    ">>> FILE \"%s\" CHANGED DURING BACKUP, ITS COPY IS INCOMPLETE";
inline constexpr std::string_view kMsgStartingWrite = ">>> STARTING WRITE PROCESS ON %s AT %s";
inline constexpr std::string_view kMsgWritingLeadOut =
    "WRITING LEAD-OUT (THIS CAN TAKE APPROXIMATELY 15-20 MINUTES)";
// A DVD-R/-RW the drive cannot record incrementally is recorded disc-at-once, which closes it.
inline constexpr std::string_view kMsgDiscAtOnce =
    ">>> THE DRIVE CANNOT RECORD THIS DISC INCREMENTALLY: IT IS RECORDED DISC-AT-ONCE AND WILL BE CLOSED";
inline constexpr std::string_view kMsgErasing = ">>> ERASING %s AT %s";
inline constexpr std::string_view kMsgGrowing = ">>> GROWING THE VOLUME ON THE DISC FROM SECTOR %s";
inline constexpr std::string_view kMsgWritingDescriptors =
    ">>> WRITING THE VOLUME DESCRIPTORS OF THE GROWN VOLUME";
inline constexpr std::string_view kMsgFormatting = ">>> FORMATTING THE %s (IT WAS NEVER FORMATTED)";
inline constexpr std::string_view kMsgFormatNotDone = ">>> DISC IS NOT FORMATTED AFTER FORMATTING";
inline constexpr std::string_view kMsgInvalidatingVolume = ">>> INVALIDATING THE VOLUME ON %s";
inline constexpr std::string_view kMsgEraseTimedOut = ">>> ERASE DID NOT END IN TIME";
inline constexpr std::string_view kMsgEraseNotBlank = ">>> DISC IS NOT BLANK AFTER ERASING";
inline constexpr std::string_view kMsgClosingInterrupted =
    ">>> CLOSING THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING";
inline constexpr std::string_view kMsgCompletingInterrupted =
    ">>> COMPLETING THE INCOMPLETE SESSION WITH %s BLOCKS OF ZEROS FROM BLOCK %s";
inline constexpr std::string_view kMsgNextSessionMoved =
    ">>> THE NEW SESSION DOES NOT START WHERE IT WAS LAID OUT, NOTHING RECORDED";
inline constexpr std::string_view kMsgCloseInterruptedFailed =
    ">>> THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING COULD NOT BE CLOSED";

}  // namespace brenwick
