// The recorder's state file: a small text file in the recorder's folder holding the disc (medium,
// sessions, tracks, tray) and the recorder's settings. It is replaced whole and atomically (write a
// temporary file, fsync, rename, fsync the folder), so that a crash leaves either the old or the new state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drive/recorder/TDiscState.h"

namespace brenwick {

inline constexpr const char* kStateFileName = "state";
inline constexpr const char* kImageFileName = "disc.img";

// How long the recorder stays NOT READY after the operations a real drive takes time for.
struct TBusyTimes {
    std::uint32_t minimalBlankMs = 3000;
    std::uint32_t fullBlankMs = 15000;
    std::uint32_t closeSessionMs = 2000;
    std::uint32_t formatMs = 5000;
    std::uint32_t loadMs = 1500;
};

struct TRecorderSettings {
    unsigned speedX = 0;  // drive speed in x of the medium; 0 = "unthrottled"
    std::uint32_t bufferBytes = 2 * 1024 * 1024;
    TBusyTimes busy;
};

struct TRecorderState {
    TDiscState disc;
    std::string image = kImageFileName;  // relative to the folder, or an absolute path (a pressed disc)
    TRecorderSettings settings;
    // Times the drive buffer ran empty between two WRITE commands of the last recording at a drive speed.
    unsigned underruns = 0;
};

std::string FormatState(const TRecorderState& state);
// Parses a state file; on failure returns false with `error` naming the line and leaves `state` untouched.
[[nodiscard]] bool ParseState(std::string_view text, TRecorderState& state, std::string& error);

[[nodiscard]] bool LoadStateFile(const std::string& folder, TRecorderState& state, std::string& error);
[[nodiscard]] bool SaveStateFile(const std::string& folder, const TRecorderState& state, std::string& error);

// Speed settings as written in the state file and on the command line: "unthrottled", "4x", "16x".
std::string FormatSpeedSetting(unsigned speedX);
[[nodiscard]] bool ParseSpeedSetting(std::string_view text, unsigned& speedX);

// Writes `text` to `path` durably: temporary file, fsync, rename, fsync of the folder.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error);

}  // namespace brenwick
