// The backup profile: the Archives list, the four options, the recorder index, the volume label and the
// folder last shown in the add-files window, and its load and save through an INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/profile/TIniFile.h"

namespace brenwick {

// The error shown when the profile file refuses a write; %s is the file's name.
inline constexpr const char* kMsgUnableToWrite = "Unable to write to %s";

// The most entries a profile loads; a larger Count reads this many and reports the rest as not loaded.
inline constexpr int kMaxProfileEntries = 65535;

struct TBackupProfile {
    std::vector<std::string> Archives;  // full paths; a folder ends in "/"
    bool EraseBefore = false;
    bool Import = false;
    bool CloseDisc = false;
    bool EjectDisc = false;
    bool Verify = true;  // read the session back after writing; a missing key reads as on
    int Device = 0;      // index into the recorder list; -1 when none is selected
    // The recorder's stable name (an image recorder's name or a device path); when not empty it wins
    // over Device, and a name that names no recorder is an error, never a fall back to the index.
    std::string DeviceName;
    std::string Volume;
    std::string OpenPath;

    bool operator==(const TBackupProfile&) const = default;
};

struct TProfileLoad {
    TBackupProfile profile;
    TIniLoadStatus fileStatus = TIniLoadStatus::Loaded;
    std::int64_t entriesNotLoaded = 0;  // entries of Count beyond kMaxProfileEntries
};

// Reads a profile. Never fails: a key that cannot be read takes its default, and an unreadable, empty or
// garbage file gives the empty profile (no entries, options off, the first recorder, no label).
TProfileLoad LoadProfile(const std::string& fileName);

// Writes the profile into the file, keeping the file's other sections and keys: Archives is erased and
// written again (entries n0.., then Count), the Options keys are replaced in place or appended. Returns
// false with `error` = "Unable to write to <file>" when the file refuses the write; the file is then left
// as it was.
[[nodiscard]] bool SaveProfile(const TBackupProfile& profile, const std::string& fileName,
                               std::string& error);

// Writes only the Archives section (entries n0.., then Count), leaving every other line of the file as it
// was: what `brenwick-cli profile add` changes. Errors as SaveProfile.
[[nodiscard]] bool SaveArchives(const std::vector<std::string>& archives, const std::string& fileName,
                                std::string& error);

}  // namespace brenwick
