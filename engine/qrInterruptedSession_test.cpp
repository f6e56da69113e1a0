// Closing the incomplete session of an interrupted recording, against the image recorder: which discs get
// the closing, the commands it sends, and the disc it leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include "drive/recorder/TDiscState.h"
#include "drive/recorder/TStateFile.h"
#include "engine/qrCDBC.h"
#include "engine/testing/RecorderRig.h"

namespace brenwick {
namespace {

using testing::TRecorderRig;
using testing::TRigOptions;
using testing::TTempTree;

constexpr std::uint8_t kOpCloseTrackSession = 0x5B;
constexpr std::uint8_t kOpModeSelect = 0x55;
constexpr std::uint8_t kOpSyncCache = 0x35;

bool changesTheDisc(const TCommandLogEntry& e) {
    return e.opcode == kOpCloseTrackSession || e.opcode == kOpModeSelect || e.opcode == kOpSyncCache ||
           e.opcode == 0x2A;
}

std::vector<TCommandLogEntry> sent(TRecorderRig& rig) {
    return rig.recorder().CommandLog();
}

// Records one complete session of a small file under `folder`.
void recordSession(TRecorderRig& rig, const std::string& folder) {
    rig.tree().write(folder + "/a.txt", TTempTree::Pattern(5000, 3));
    ASSERT_TRUE(rig.Compile(folder, (rig.tree().root() / folder).string()));
    ASSERT_EQ(rig.Burn().error, "");
}

// A recording that fails in its data phase: its closing flushes (which ends the track) but does not close
// the session.
void failedSession(TRecorderRig& rig, const std::string& folder) {
    rig.tree().write(folder + "/big.bin", TTempTree::Pattern(600000, 4));
    ASSERT_TRUE(rig.Compile(folder, (rig.tree().root() / folder).string()));
    rig.AddFault("medium-error " + std::to_string(rig.burner().StartSector + 100));
    ASSERT_EQ(rig.Burn().error, "WRITER ERROR");
}

// Blank discs, discs whose sessions are all closed, and DVD media get no command that changes the disc.
TEST(InterruptedSession, NothingSentWithoutAnInterruptedRecording) {
    struct TCase {
        const char* name;
        TMediaType media;
        int completeSessions;
    };
    for (const TCase& c :
         {TCase{"blank CD-R", TMediaType::CdR80, 0}, TCase{"CD-R, one session", TMediaType::CdR80, 1},
          TCase{"CD-RW, two sessions", TMediaType::CdRw80, 2}, TCase{"blank DVD-R", TMediaType::DvdR, 0}}) {
        SCOPED_TRACE(c.name);
        TRigOptions options;
        options.media = c.media;
        TRecorderRig rig(options);
        for (int i = 0; i < c.completeSessions; ++i)
            ASSERT_NO_FATAL_FAILURE(recordSession(rig, "run" + std::to_string(i)));
        rig.recorder().ClearCommandLog();
        const TInterruptedSession result = rig.burner().CloseInterruptedSession();
        EXPECT_EQ(result.result, TInterruptedClose::NotNeeded);
        const auto log = sent(rig);
        EXPECT_TRUE(std::none_of(log.begin(), log.end(), changesTheDisc));
        EXPECT_FALSE(rig.Logged(">>> CLOSING THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING"));
    }
}

// After a failed recording the session is closed with the disc kept appendable, even when the profile asks
// to close the disc at the end of the next backup; the next session then starts past the new lead-out.
TEST(InterruptedSession, ClosesTheSessionAndKeepsTheDiscOpen) {
    for (const bool finalize : {false, true}) {
        SCOPED_TRACE(finalize ? "close disc" : "keep open");
        TRecorderRig rig;
        TQrvBurner& b = rig.burner();
        ASSERT_NO_FATAL_FAILURE(recordSession(rig, "run1"));
        ASSERT_NO_FATAL_FAILURE(failedSession(rig, "run2"));
        const std::uint32_t nwaBefore = b.ReadTrackInformation(0xFF) ? b.TrackInfo.NextWritableAddress : 0;
        b.FinalizeDisc = finalize;
        rig.recorder().ClearCommandLog();

        const TInterruptedSession result = b.CloseInterruptedSession();
        EXPECT_EQ(result.result, TInterruptedClose::Closed);
        EXPECT_EQ(result.sessionsBefore, 1);
        EXPECT_EQ(b.FinalizeDisc, finalize);
        EXPECT_TRUE(rig.Logged(">>> CLOSING THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING"));
        EXPECT_TRUE(rig.Logged(">>> COMPLETING THE INCOMPLETE SESSION WITH 300 BLOCKS OF ZEROS FROM BLOCK " +
                               std::to_string(result.fillStart)));
        const auto log = sent(rig);
        // The zeros: one track after the stopped one's run-out and pre-gap, written in order, which the
        // recorder sees as holding nothing but zeros.
        std::int64_t at = result.fillStart;
        for (const auto& e : log) {
            if (e.opcode != 0x2A) continue;
            EXPECT_EQ(e.lba, at);
            at += e.length;
        }
        EXPECT_EQ(at, std::int64_t(result.fillStart) + result.fillBlocks);
        const TDiscState disc = rig.recorder().Disc();
        ASSERT_EQ(disc.tracks.size(), 3u);
        EXPECT_EQ(disc.tracks[2].start, std::int32_t(result.fillStart));
        EXPECT_EQ(disc.tracks[2].start, disc.tracks[1].end() + 150);
        EXPECT_TRUE(disc.tracks[2].zerosOnly);
        EXPECT_FALSE(disc.tracks[1].zerosOnly);
        const auto close = std::find_if(log.begin(), log.end(), [](const TCommandLogEntry& e) {
            return e.opcode == kOpCloseTrackSession;
        });
        ASSERT_NE(close, log.end());
        EXPECT_EQ(close->cdb[2] & 0x07, 0x02);  // close session
        EXPECT_TRUE(close->good());
        EXPECT_TRUE(std::any_of(log.begin(), close,
                                [](const TCommandLogEntry& e) { return e.opcode == kOpModeSelect; }));
        // MODE SELECT, the flush of the stopped track, the writes, the flush of the zeros, the close.
        EXPECT_EQ(std::count_if(log.begin(), log.end(), changesTheDisc), 4 + (result.fillBlocks + 30) / 31);

        ASSERT_TRUE(b.ReadDiscInformation());
        EXPECT_EQ(b.DiscInfo.DiscStatus(), 0x01);        // appendable
        EXPECT_EQ(b.DiscInfo.LastSessionState(), 0x00);  // the next session is empty
        EXPECT_EQ(b.GetSessionCount(), 2);
        ASSERT_TRUE(b.ReadTrackInformation(0xFF));
        EXPECT_GT(b.TrackInfo.NextWritableAddress, nwaBefore);
        EXPECT_EQ(b.TrackInfo.NextWritableAddress, result.nextSessionStart);
        EXPECT_EQ(result.nextSessionStart - nwaBefore, result.costBlocks);

        // Nothing left to close the second time.
        rig.recorder().ClearCommandLog();
        EXPECT_EQ(b.CloseInterruptedSession().result, TInterruptedClose::NotNeeded);
        const auto again = sent(rig);
        EXPECT_TRUE(std::none_of(again.begin(), again.end(), changesTheDisc));
    }
}

// A test write leaves the disc as it was, an interrupted session included.
TEST(InterruptedSession, TestWriteClosesNothing) {
    TRecorderRig rig;
    ASSERT_NO_FATAL_FAILURE(failedSession(rig, "run1"));
    rig.burner().TestWrite = true;
    rig.recorder().ClearCommandLog();
    EXPECT_EQ(rig.burner().CloseInterruptedSession().result, TInterruptedClose::NotNeeded);
    const auto log = sent(rig);
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), changesTheDisc));
    rig.burner().TestWrite = false;
    EXPECT_EQ(rig.burner().CloseInterruptedSession().result, TInterruptedClose::Closed);
}

// A first recording that failed: no complete session before it, so an import has nothing to take.
TEST(InterruptedSession, FirstRecordingInterrupted) {
    TRecorderRig rig;
    ASSERT_NO_FATAL_FAILURE(failedSession(rig, "run1"));
    const TInterruptedSession result = rig.burner().CloseInterruptedSession();
    EXPECT_EQ(result.result, TInterruptedClose::Closed);
    EXPECT_EQ(result.sessionsBefore, 0);
}

// A drive that refuses the closing: reported, so that no backup is recorded behind the open session.
TEST(InterruptedSession, RefusedCloseIsReported) {
    TRecorderRig rig;
    ASSERT_NO_FATAL_FAILURE(recordSession(rig, "run1"));
    ASSERT_NO_FATAL_FAILURE(failedSession(rig, "run2"));
    rig.AddFault("illegal 5B");
    EXPECT_EQ(rig.burner().CloseInterruptedSession().result, TInterruptedClose::Failed);
    EXPECT_TRUE(rig.Logged(">>> THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING COULD NOT BE CLOSED"));
}

}  // namespace
}  // namespace brenwick
