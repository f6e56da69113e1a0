// The set of image recorders: Brenwick's own virtual MMC recorders, each in its own folder.
// The transport lists them as one more adapter after the real drives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick {

// $XDG_DATA_HOME/brenwick/recorders, else ~/.local/share/brenwick/recorders.
std::string DefaultRecordersFolder();

// Opens the recorders under `folder` in the order of their names (at most 8), creating the folder and a
// recorder named "default" with a blank 80-minute CD-RW when it holds none. Returns the targets in
// order (target 0 first); an empty list, with `error` set, when the folder cannot be made or read.
// A set that other users could read is made owner-only first; `note` (when given) then receives the one
// log line that says so, and is cleared otherwise.
std::vector<std::shared_ptr<TScsiTarget>> OpenImageRecorders(const std::string& folder, std::string& error,
                                                             std::string* note = nullptr);

}  // namespace brenwick
