// What one session of a disc holds, for listing and restoring: its Joliet tree (its ISO 9660 tree when it
// has none) read with the session import's checks (a disc is untrusted input), flattened into paths with
// their extents, sizes and dates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/qrTypes.h"
#include "isofs/qrSessionDisc.h"
#include "isofs/qrSessionImport.h"

namespace brenwick {

struct TListedEntry {
    std::string Path;  // "/2026-12-08 13.10/home/ann/a.txt", Joliet names
    bool Directory = false;
    std::uint32_t Lba = 0;  // files: the first sector of the data (0 for an empty file)
    std::uint32_t Size = 0;
    TDateTime DateTime = 0;  // local date and time as recorded (2-second precision at best)
};

struct TSessionListing {
    std::uint8_t Session = 0;           // its number on the disc
    std::uint32_t Start = 0;            // its first sector
    std::vector<TListedEntry> Entries;  // parents before their children
    TImportFault Fault = TImportFault::None;
    bool IsoNames = false;  // the session has no Joliet tree: the paths hold its ISO 9660 names
};

// Reads session `session` (FFh: the last complete one). False when it cannot be read whole: Fault says
// why; what could be read is kept.
bool ReadSessionListing(TSessionDisc& disc, std::uint8_t session, TSessionListing& listing);

// The entries at or below `path` ("/" for all; a trailing "/" is ignored).
std::vector<const TListedEntry*> EntriesBelow(const TSessionListing& listing, const std::string& path);

}  // namespace brenwick
