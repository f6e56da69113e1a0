// Getting files back: copies files and folders of one session to a folder of the computer, through the
// drive (never an image file behind it), checking each file against its run's checksum manifest as it is
// copied, setting its modification time from the disc and never replacing an existing file unless asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "isofs/qrSessionDisc.h"
#include "isofs/qrSessionListing.h"

namespace brenwick {

struct TRestoreOptions {
    std::vector<std::string> Paths;  // disc paths ("/2026-12-08 13.10/home/ann"); "/" for everything
    std::string TargetDir;           // where the copies go, below their disc paths
    bool Force = false;              // replace existing files
    // Nothing is written: every file is read from the disc and checked against its manifest, and each
    // file a manifest lists that the session lacks is reported (verify; Paths are whole run folders).
    bool CheckOnly = false;
    std::function<void(const std::string& line)> Log;
    const std::atomic<bool>* Stop = nullptr;        // set: the job ends promptly, without a file not whole
    std::atomic<std::int64_t>* Progress = nullptr;  // bytes read so far (counted on other threads)
};

struct TRestoreReport {
    int Restored = 0;    // copied, and matching the manifest where there is one
    int Unchecked = 0;   // of those, files no manifest lists
    int Mismatched = 0;  // copied, but their bytes differ from the manifest's hash
    int Unreadable = 0;  // a sector could not be read: not copied
    int Refused = 0;     // an existing file not replaced, or a path that could not be made
    int NotFound = 0;    // asked-for paths the session does not hold
    int Missing = 0;     // files a manifest lists that the session does not hold (CheckOnly)
    bool Stopped = false;
    std::int64_t Bytes = 0;  // bytes of the files read
    bool Complete() const { return Mismatched + Unreadable + Refused + NotFound + Missing == 0; }
};

TRestoreReport RestoreFromDisc(TSessionDisc& disc, const TSessionListing& listing,
                               const TRestoreOptions& options);

enum class TManifestState {
    Absent,  // the run folder has no manifest (another program's session, or one from before manifests)
    Valid,
    Damaged  // listed, but it does not read back as a manifest: an interrupted recording
};
// The manifest of the run folder `folder` ("/2026-12-08 13.10").
TManifestState ManifestStateOf(TSessionDisc& disc, const TSessionListing& listing, const std::string& folder);

}  // namespace brenwick
