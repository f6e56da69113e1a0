// What a disc already holds, as far as a backup run must know before it lays out a new session: whether an
// overwritable disc carries a recorded volume, and the top-level folders of every session, so that a run
// does not take a folder name an earlier run already has. Read through the session import's block source.
#pragma once

#include <set>
#include <string>

#include "isofs/qrSessionDisc.h"

namespace brenwick {

struct TDiscContents {
    // DVD+RW, DVD-RAM, restricted-overwrite DVD-RW: every backup is written from sector 0.
    bool overwritable = false;
    // The disc takes no further session (READ DISC INFORMATION: disc status complete): a closed CD-R,
    // DVD-R or DVD+R, or a pressed disc.
    bool closed = false;
    // A volume descriptor is recorded at sector 16 of the disc's first session.
    bool holdsVolume = false;
    // The top-level folder names of every session (Joliet names; sessions without Joliet add none).
    std::set<std::string> folders;
};

// Reads the descriptors and the root directory of each session. A session that cannot be read adds
// nothing: the layout's own import still refuses a damaged session it is asked to continue.
TDiscContents ReadDiscContents(TSessionDisc& disc, bool overwritable);

// `folder` when no session has it, else the first of "folder (2)", "folder (3)" ... that none has.
std::string UnusedFolderName(const std::string& folder, const std::set<std::string>& taken);

}  // namespace brenwick
