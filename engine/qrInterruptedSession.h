// A CD whose last session was left open by a recording that did not end (Stop, a write error, the program
// killed): the stopped recording's track begins that session, so a backup written after it, as a later
// track of the same session, would be hidden behind the stopped one's file system. It is closed first.
#pragma once

#include <cstdint>

namespace brenwick {

enum class TInterruptedClose : std::uint8_t {
    NotNeeded,  // no recorded track in an incomplete session (or not a CD): nothing was sent
    Pending,    // found, not closed yet (FindInterruptedSession writes nothing)
    Closed,     // the session of the interrupted recording is closed; the disc stays appendable
    Failed,     // it is still incomplete: a new backup would not be what readers see
};

struct TInterruptedSession {
    TInterruptedClose result = TInterruptedClose::NotNeeded;
    // The last complete session before the close (GetSessionCount), the one an import may take.
    int sessionsBefore = 0;
    // Blocks the close takes from the free space: the lead-out of the closed session, the next session's
    // lead-in, and the run-out and pre-gap that a track still open needs. The fit check counts them before
    // the disc is touched.
    std::uint32_t closeSectors = 0;
};

}  // namespace brenwick
