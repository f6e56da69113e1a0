// A CD whose last session was left open by a recording that did not end (Stop, a write error, the program
// killed): the stopped recording's track begins that session, so a backup written after it, as a later
// track of the same session, would be hidden behind the stopped one's file system. It is closed first.
//
// The stopped session's directories were written first and list every file of its run, also those whose
// data never reached the disc. Before it is closed, the rest of its area (up to the end its volume
// descriptor gives) is recorded as zeros, so that none of its entries points past its recorded blocks
// into the next session: a reader restores such files as zeros, never as another file's data.
#pragma once

#include <cstdint>

namespace brenwick {

enum class TInterruptedClose : std::uint8_t {
    NotNeeded,  // no recorded track in an incomplete session (or not a CD): nothing was sent
    Pending,    // PlanInterruptedSession found one: CloseInterruptedSession completes and closes it
    Closed,     // the session of the interrupted recording is closed; the disc stays appendable
    Failed,     // it is still incomplete, or the next session does not start where it was planned
    // A write-once DVD (DVD-R/-RW, DVD+R) whose last session an interrupted recording left incomplete: it
    // is not completed here, and no backup is recorded behind it.
    NotCompletable,
};

struct TInterruptedSession {
    TInterruptedClose result = TInterruptedClose::NotNeeded;
    // The last complete session before the close (GetSessionCount), the one an import may take.
    int sessionsBefore = 0;
    // Where the zeros go and how many: the area of the stopped session's volume that holds nothing yet.
    std::uint32_t fillStart = 0;
    std::uint32_t fillBlocks = 0;
    // The start of the next session once the stopped one is completed and closed, and the blocks the disc
    // gives up until then (the zeros, the track's run-out and the gap between sessions).
    std::uint32_t nextSessionStart = 0;
    std::uint32_t costBlocks = 0;
    // About how long writing the zeros takes at the drive's current write speed.
    int costSeconds = 0;
};

// CD layout rules the completion follows (blocks): a track is at least 300 long and a track-at-once track
// ends in 2 run-out blocks; the next track of a session begins after a 150-block pre-gap; closing a session
// adds its lead-out (6750 blocks after the first session, 2250 after later ones), the next session's
// lead-in (4500) and the pre-gap of its first track.
inline constexpr std::uint32_t kCdMinTrackBlocks = 300;
inline constexpr std::uint32_t kCdRunOutBlocks = 2;
inline constexpr std::uint32_t kCdPreGapBlocks = 150;
inline constexpr std::uint32_t kCdLeadInBlocks = 4500;
inline constexpr std::uint32_t kCdFirstLeadOutBlocks = 6750;
inline constexpr std::uint32_t kCdLaterLeadOutBlocks = 2250;

}  // namespace brenwick
