// The fixed texts of the file-system image: compilation limits, left-out entries, session import and the
// refusals of a session layout. "%s" and "%d" are filled in by the caller (FormatMessage).
#pragma once

#include <string>
#include <string_view>

#include "base/qrMessageFormat.h"

namespace brenwick {

inline constexpr std::string_view kIsoMsgMaxDirectories = "MAXIMUM DIRECTORIES CAN BE %d";
inline constexpr std::string_view kIsoMsgMaxFiles = "MAXIMUM FILES CAN BE %d";
inline constexpr std::string_view kIsoMsgInvalidDestination = "INVALID DESTINATION PATH";

// One line per entry that a folder or file add leaves out: the path, then the reason.
inline constexpr std::string_view kIsoMsgNotBackedUp = ">>> NOT BACKED UP: %s (%s)";
inline constexpr std::string_view kIsoReasonNameTooLong = "NAME TOO LONG";
inline constexpr std::string_view kIsoReasonTooLarge = "4 GB OR LARGER";
inline constexpr std::string_view kIsoReasonCannotRead = "CANNOT READ";
inline constexpr std::string_view kIsoReasonLinkToFolder = "LINK TO A FOLDER";
inline constexpr std::string_view kIsoReasonSpecialFile = "SPECIAL FILE";
// One line per entry whose disc name differs from its source name: the source path, then the disc name.
inline constexpr std::string_view kIsoMsgRenamedOnDisc = ">>> RENAMED ON DISC: %s -> %s";

// Session import.
inline constexpr std::string_view kIsoMsgErrorImporting = "ERROR IMPORTING SESSION";
inline constexpr std::string_view kIsoMsgIsoImageNotFound =
    "ERROR IMPORTING SESSION %d (ISO Image not found)";
inline constexpr std::string_view kIsoMsgNameExceeds120 =
    "ERROR IMPORTING SESSION, FILE NAME LENGTH EXCEEDS 120 CHARS\n\r";

// Session preparation.
inline constexpr std::string_view kIsoMsgErrorNextWritable = ">>> ERROR GETTING NEXT WRITABLE ADDRESS";
inline constexpr std::string_view kIsoMsgImportFailed =
    ">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC";
inline constexpr std::string_view kIsoMsgWouldOverwrite =
    ">>> PREVIOUS SESSION WOULD BE OVERWRITTEN, NOT CONTINUING THIS DISC";
inline constexpr std::string_view kIsoMsgSessionTooLarge = ">>> SESSION TOO LARGE FOR THE DISC FILE SYSTEM";

}  // namespace brenwick
