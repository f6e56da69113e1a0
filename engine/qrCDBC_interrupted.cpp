// Completing and closing the session a recording left incomplete, before the next backup is recorded.
#include "engine/qrInterruptedSession.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "engine/qrCDBC.h"
#include "engine/qrEngineMessages.h"
#include "engine/qrISOBurner.h"

namespace brenwick {

namespace {

constexpr int kDiscDdcdR = 11;
constexpr int kDiscDdcdRw = 12;
constexpr std::uint32_t kBlocksPerSecondAt1x = 75;
constexpr std::uint32_t kDescriptorOffset = 16;  // the primary volume descriptor's sector in a session
constexpr std::uint8_t kWriteFlags = SRB_DIR_OUT | SRB_EVENT_NOTIFY;
constexpr std::uint8_t kAscNotReady = 0x04;

bool IsCdFamily(int discType) {
    return discType == kDiscCdR || discType == kDiscCdRw || discType == kDiscDdcdR || discType == kDiscDdcdRw;
}

// Track-at-once CD: the last session is incomplete (written to, never closed).
bool LastSessionIncomplete(const TDiscInfo& info) {
    return info.DiscStatus() == 0x01 && info.LastSessionState() == 0x01;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
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

// The end of the volume that the session starting at `start` describes: its primary descriptor's volume
// space size counts the session's own sectors. 0 when no descriptor was recorded (nothing can point
// anywhere then).
std::uint32_t TQrvBurner::interruptedVolumeEnd(std::uint32_t start) {
    std::array<std::uint8_t, kSectorBytes> sector{};
    if (!Read10(start + kDescriptorOffset, 1, kSectorBytes, sector.data())) return 0;
    static constexpr std::uint8_t kPrimary[] = {0x01, 'C', 'D', '0', '0', '1'};
    if (!std::equal(std::begin(kPrimary), std::end(kPrimary), sector.begin())) return 0;
    const std::uint64_t end = std::uint64_t(start) + Le32(sector.data() + 80);
    return end > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(end);
}

TInterruptedSession TQrvBurner::PlanInterruptedSession() {
    m_interrupted = {};
    TInterruptedSession plan;
    const int discType = GetDiscType();
    const TDiscGroup group = DiscGroupOf(discType);
    const bool writeOnceDvd = group == TDiscGroup::DvdMinusR || group == TDiscGroup::DvdPlusR;
    if (!IsCdFamily(discType) && !writeOnceDvd) return plan;  // overwritable discs have no sessions to close
    if (TestWrite) return plan;  // a simulation records nothing that could be hidden, and changes nothing
    if (!ReadDiscInformation() || !LastSessionIncomplete(DiscInfo)) return plan;
    const unsigned firstTrack = DiscInfo.FirstTrackInLastSession();
    if (!lastSessionHoldsRecordedTrack()) return plan;
    if (writeOnceDvd) {
        // A backup recorded on in the same track would be hidden behind the stopped one's volume.
        plan.result = TInterruptedClose::NotCompletable;
        return plan;
    }
    if (!ReadTrackInformation(firstTrack)) return plan;
    const std::uint32_t sessionStart = TrackInfo.TrackStartAddress;
    plan.result = TInterruptedClose::Pending;
    plan.sessionsBefore = GetSessionCount();
    if (!ReadTrackInformation(0xFF)) {
        plan.result = TInterruptedClose::Failed;
        return plan;
    }
    const std::uint32_t nextWritable = TrackInfo.NextWritableAddress;
    // A track still open (its program was killed) is ended by the flush: padded to the shortest track and
    // given its run-out. The zeros then follow as a track of their own, after its pre-gap.
    std::uint32_t trackEnd = nextWritable - kCdPreGapBlocks;
    if (!TrackInfo.Blank()) {
        const std::uint32_t written = nextWritable - TrackInfo.TrackStartAddress;
        trackEnd = TrackInfo.TrackStartAddress + std::max(written, kCdMinTrackBlocks) + kCdRunOutBlocks;
    }
    // The volume reaches past the track's readable blocks: the zeros follow as a track of their own, after
    // the track's run-out and the pre-gap, up to the volume's end (and at least the shortest track).
    plan.fillStart = trackEnd + kCdPreGapBlocks;
    const std::uint32_t volumeEnd = interruptedVolumeEnd(sessionStart);
    std::uint32_t lastEnd = trackEnd;
    if (volumeEnd > trackEnd - kCdRunOutBlocks) {
        plan.fillBlocks =
            std::max(volumeEnd > plan.fillStart ? volumeEnd - plan.fillStart : 0, kCdMinTrackBlocks);
        lastEnd = plan.fillStart + plan.fillBlocks + kCdRunOutBlocks;
    }
    const std::uint32_t leadOut = plan.sessionsBefore == 0 ? kCdFirstLeadOutBlocks : kCdLaterLeadOutBlocks;
    plan.nextSessionStart = lastEnd + leadOut + kCdLeadInBlocks + kCdPreGapBlocks;
    plan.costBlocks = plan.nextSessionStart - nextWritable;
    const std::uint32_t speed = std::max(GetCurrentWriteSpeed(), 1u);
    const std::uint32_t perSecond = kBlocksPerSecondAt1x * speed;
    plan.costSeconds = int((plan.fillBlocks + perSecond - 1) / perSecond);
    m_interrupted = plan;
    return plan;
}

// The zeros, in blocks of one WRITE (10) each, retried while the drive reports that it is busy.
bool TQrvBurner::writeZeros(std::uint32_t start, std::uint32_t blocks) {
    const std::vector<std::uint8_t> zeros(kCacheBlockBytes, 0);
    for (std::uint32_t done = 0; done < blocks;) {
        const std::uint32_t count = std::min<std::uint32_t>(blocks - done, kCacheBlockSectors);
        for (int attempt = 1;; ++attempt) {
            if (Write10(start + done, count, kWriteFlags, count * kSectorBytes, zeros.data())) break;
            const bool busy = TargetBusy || LastSense[12] == kAscNotReady;
            if (!busy || attempt >= kBusyRetries) return false;
            recordingSleep(kBusyRetryMs);
        }
        done += count;
    }
    return true;
}

TInterruptedSession TQrvBurner::CloseInterruptedSession() {
    if (m_interrupted.result != TInterruptedClose::Pending) (void)PlanInterruptedSession();
    TInterruptedSession outcome = m_interrupted;
    m_interrupted = {};
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
    bool ok = true;
    if (outcome.fillBlocks > 0) {
        DebugMessage(FormatMessage(kMsgCompletingInterrupted, std::to_string(outcome.fillBlocks),
                                   std::to_string(outcome.fillStart)),
                     kMsgProgress);
        ok = ReadTrackInformation(0xFF) && TrackInfo.NextWritableAddress == outcome.fillStart &&
             writeZeros(outcome.fillStart, outcome.fillBlocks) && SynchronizeCache(120000);
        (void)WaitReady(120000, 1000);
    }
    if (ok) ok = CloseSession();
    (void)WaitReady(240000, 1000);

    const bool closed = ok && ReadDiscInformation() && !LastSessionIncomplete(DiscInfo);
    const bool inPlace =
        closed && ReadTrackInformation(0xFF) && TrackInfo.NextWritableAddress == outcome.nextSessionStart;
    outcome.result = inPlace ? TInterruptedClose::Closed : TInterruptedClose::Failed;
    if (!closed) DebugMessage(std::string(kMsgCloseInterruptedFailed), kMsgError);
    if (closed && !inPlace) DebugMessage(std::string(kMsgNextSessionMoved), kMsgError);
    return outcome;
}

}  // namespace brenwick
