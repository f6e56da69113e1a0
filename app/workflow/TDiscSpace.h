// Where a recorded session went and what room it left: read from the drive after the recording has
// closed the session (READ DISC INFORMATION, READ TRACK INFORMATION), for the summary of a backup.
#pragma once

#include <cstdint>

namespace brenwick {

class TSCSIDevice;

struct TDiscSpace {
    bool known = false;   // the drive answered; nothing below holds otherwise
    int session = 0;      // the number of the session just recorded (1 on an overwritable disc)
    bool closed = false;  // no session can be added any more
    std::uint32_t freeSectors = 0;
    // What each further session costs beyond its data: the gap between the end of the data just recorded
    // and the drive's next writable address after the close (padding to the least track size, lead-out,
    // lead-in and pre-gap of a CD, the border of a DVD); 0 on an overwritable disc, which grows one volume.
    std::uint32_t overheadSectors = 0;
    std::int64_t runsLeft = 0;  // further runs of the same size that fit, each with its overhead
};

// How many runs of `runSectors` data, each costing `overheadSectors` more, fit into `freeSectors`.
std::int64_t RunsThatFit(std::uint32_t freeSectors, std::int64_t runSectors, std::uint32_t overheadSectors);

// Asks the drive after a recording of `sessionSectors`; the optional commands' refusals stay out of the
// log (they only leave the figures unknown). Sends read commands only.
TDiscSpace ReadDiscSpace(TSCSIDevice& drive, std::int64_t sessionSectors);

}  // namespace brenwick
