// Closing the session a recording left incomplete, before the next backup is laid out on the disc.
#include "engine/qrInterruptedSession.h"

#include <string>

#include "engine/qrCDBC.h"
#include "engine/qrEngineMessages.h"

namespace brenwick {

namespace {

constexpr int kDiscDdcdR = 11;
constexpr int kDiscDdcdRw = 12;
// CD session overhead in blocks: the lead-out after the first session and after later ones, the lead-in,
// a track's pre-gap and the run-out that ends a track written at once.
constexpr std::uint32_t kFirstLeadOut = 6750;
constexpr std::uint32_t kLaterLeadOut = 2250;
constexpr std::uint32_t kLeadIn = 4500;
constexpr std::uint32_t kPreGap = 150;
constexpr std::uint32_t kRunOut = 2;

bool IsCdFamily(int discType) {
    return discType == kDiscCdR || discType == kDiscCdRw || discType == kDiscDdcdR || discType == kDiscDdcdRw;
}

// Track-at-once CD: the last session is incomplete (written to, never closed).
bool LastSessionIncomplete(const TDiscInfo& info) {
    return info.DiscStatus() == 0x01 && info.LastSessionState() == 0x01;
}

}  // namespace

bool TQrvBurner::lastSessionHoldsRecordedTrack() {
    const unsigned first = DiscInfo.FirstTrackInLastSession();
    const unsigned last = DiscInfo.LastTrackInLastSession();
    // The invisible track and a track opened by a write that never reached the disc read as blank.
    for (unsigned track = first; track <= last && track <= 0xFF; ++track) {
        if (ReadTrackInformation(track) && !TrackInfo.Blank()) return true;
    }
    return false;
}

TInterruptedSession TQrvBurner::FindInterruptedSession() {
    TInterruptedSession outcome;
    const int discType = GetDiscType();
    if (!IsCdFamily(discType)) return outcome;  // DVD media are laid out from sector 0 and never continued
    if (TestWrite) return outcome;  // a simulation records nothing that could be hidden, and changes nothing
    if (!ReadDiscInformation() || !LastSessionIncomplete(DiscInfo)) return outcome;
    if (!lastSessionHoldsRecordedTrack()) return outcome;
    outcome.result = TInterruptedClose::Pending;
    outcome.sessionsBefore = GetSessionCount();
    // The free space read now runs from the pre-gap of a next track in the open session (or, when the
    // killed recording's track is still open, from that track's next writable address); after the close it
    // runs from the next session's first track.
    const std::uint32_t leadOut = outcome.sessionsBefore == 0 ? kFirstLeadOut : kLaterLeadOut;
    const bool trackOpen = ReadTrackInformation(0xFF) && !TrackInfo.Blank();
    outcome.closeSectors = leadOut + kLeadIn + (trackOpen ? kRunOut + kPreGap : 0);
    return outcome;
}

TInterruptedSession TQrvBurner::CloseInterruptedSession() {
    TInterruptedSession outcome = FindInterruptedSession();
    if (outcome.result != TInterruptedClose::Pending) return outcome;
    const int discType = GetDiscType();
    DebugMessage(std::string(kMsgClosingInterrupted), kMsgInfo);
    // The closed session must leave the disc open for the backup that follows, whatever the profile asks
    // of the disc at the end of that backup.
    const bool finalize = FinalizeDisc;
    FinalizeDisc = false;
    (void)SetWriteParameters(false, UnderrunProtection, discType, false);
    FinalizeDisc = finalize;
    // The flush ends a track still open after a program that was killed mid-recording.
    (void)SynchronizeCache(120000);
    (void)WaitReady(120000, 1000);
    (void)CloseSession();
    (void)WaitReady(240000, 1000);

    const bool closed = ReadDiscInformation() && !LastSessionIncomplete(DiscInfo);
    outcome.result = closed ? TInterruptedClose::Closed : TInterruptedClose::Failed;
    if (!closed) DebugMessage(std::string(kMsgCloseInterruptedFailed), kMsgError);
    return outcome;
}

}  // namespace brenwick
