// Recorder folders on disk: making a recorder, putting discs in and taking them out, the tray, and a
// description of the disc for people. Used by the media command, by the recorder set and by tests that
// need a recorder with a given medium in a temporary folder.
//
// Every change takes the recorder's folder lock first, so it fails ("in use by another program") while a
// process has the recorder open, instead of changing a disc under a running recording.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "drive/recorder/TMediaType.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {

// Makes `folder` (and its parents) a recorder holding a blank disc of `media` (None: an empty tray). A folder
// that already holds a recorder is left alone and reported as an error.
[[nodiscard]] bool CreateRecorder(const std::string& folder, TMediaType media, std::string& error);

// Puts a new blank disc of `media` in the recorder, tray closed. The previous disc, when anything was written
// on it, stays in the folder as "disc-YYYYMMDD-HHMMSS.img", whose path `keptImage` receives (empty when
// nothing was kept). `media` None leaves the tray empty.
[[nodiscard]] bool InsertBlankDisc(const std::string& folder, TMediaType media, std::string& keptImage,
                                   std::string& error);

// Puts an existing ISO image in as a pressed disc (CD-ROM, or DVD-ROM when it is larger than a CD). The
// image file is used in place, read-only.
[[nodiscard]] bool InsertIsoDisc(const std::string& folder, const std::string& isoPath,
                                 std::string& keptImage, std::string& error);

// Opens or closes the tray; the disc stays in the recorder while the tray is open.
[[nodiscard]] bool SetTrayOpen(const std::string& folder, bool open, std::string& error);

// Changes the state under the lock (settings such as the speed, busy times, buffer size).
[[nodiscard]] bool UpdateRecorderState(const std::string& folder,
                                       const std::function<void(TRecorderState&)>& change,
                                       std::string& error);

// Names of the recorders in `root` (sub-folders holding a state file), in byte order of their names.
std::vector<std::string> ListRecorders(const std::string& root);

// Human-readable account of the disc: type, status, sessions with start and size, and the commands with which
// xorriso and isoinfo read each session of the image.
std::string DescribeDisc(const TRecorderState& state, const std::string& folder);

// The image file of the disc in `folder` as a path.
std::string ImagePathOf(const TRecorderState& state, const std::string& folder);

}  // namespace brenwick
