// Addressing rules of the emulated disc, without SCSI: next writable addresses, session gaps, closing.
#include "drive/recorder/TDiscState.h"

#include <gtest/gtest.h>

namespace brenwick {
namespace {

// Writes one track of `blocks` at the next writable address and closes it (and its session).
void RecordSession(TDiscState& disc, std::int32_t blocks, TCloseMode mode = TCloseMode::KeepAppendable) {
    const auto next = disc.invisibleTrack();
    ASSERT_TRUE(next.has_value());
    ASSERT_EQ(disc.checkWrite(next->start, blocks), TWriteCheck::Ok);
    disc.recordWrite(next->start, blocks);
    ASSERT_TRUE(disc.closeTrack(disc.isCd()));
    ASSERT_TRUE(disc.closeSession(mode));
}

// Sessions of 300 blocks on a CD-R start where real drives put them: the first lead-out of 90 s, later ones
// of 30 s, each lead-in of 60 s and the pre-gap of 2 s lie between them.
TEST(DiscStateTest, CdSessionsStartAfterTheLeadOutLeadInAndPreGap) {
    TDiscState disc = TDiscState::blankDisc(TMediaType::CdR80);
    struct TExpected {
        std::int32_t start, leadOut, nextStart;
    };
    const TExpected expected[] = {{0, 302, 11702}, {11702, 12004, 18904}, {18904, 19206, 26106}};
    for (int session = 1; session <= 3; ++session) {
        const auto& want = expected[session - 1];
        ASSERT_EQ(disc.invisibleTrack()->start, want.start) << "session " << session;
        RecordSession(disc, 300);
        EXPECT_EQ(disc.leadOut(session), want.leadOut) << "session " << session;
        EXPECT_EQ(disc.invisibleTrack()->start, want.nextStart) << "session " << session;
        EXPECT_EQ(disc.sessionCount(), session + 1);
    }
    EXPECT_EQ(disc.invisibleTrack()->number, 4);
    EXPECT_EQ(disc.invisibleTrack()->free, kCd80Capacity - kCdRunOut - 26106);
}

// A short TAO track is padded to 300 blocks; its 2 run-out blocks are counted but cannot be read.
TEST(DiscStateTest, ShortCdTrackIsPaddedAndRunOutIsUnreadable) {
    TDiscState disc = TDiscState::blankDisc(TMediaType::CdRw74);
    disc.recordWrite(0, 10);
    ASSERT_TRUE(disc.closeTrack(true));
    EXPECT_EQ(disc.tracks[0].blocks, 302);
    EXPECT_EQ(disc.checkRead(0, 300), TReadCheck::Ok);
    EXPECT_EQ(disc.checkRead(300, 1), TReadCheck::RunOut);
    EXPECT_EQ(disc.checkRead(302, 1), TReadCheck::NotRecorded);
    // A second track of the same open session follows after a pre-gap.
    EXPECT_EQ(disc.invisibleTrack()->start, 302 + kCdPreGap);
    EXPECT_EQ(disc.invisibleTrack()->session, 1);
}

TEST(DiscStateTest, WriteChecksOnSequentialAndRandomMedia) {
    TDiscState dvdR = TDiscState::blankDisc(TMediaType::DvdR);
    TDiscState plusRw = TDiscState::blankDisc(TMediaType::DvdPlusRw);
    TDiscState rom = TDiscState::pressedDisc(TMediaType::CdRom, 1000);
    TDiscState closed = TDiscState::blankDisc(TMediaType::CdR74);
    RecordSession(closed, 300, TCloseMode::Finalize);
    struct TCase {
        const char* what;
        const TDiscState& disc;
        std::int32_t lba, count;
        TWriteCheck expected;
    };
    const TCase cases[] = {
        {"at the NWA", dvdR, 0, 16, TWriteCheck::Ok},
        {"after the NWA", dvdR, 16, 16, TWriteCheck::WrongAddress},
        {"past the capacity", dvdR, 0, 2298497, TWriteCheck::PastEnd},
        {"whole disc", dvdR, 0, 2298496, TWriteCheck::Ok},
        {"random anywhere", plusRw, 123456, 32, TWriteCheck::Ok},
        {"random past the end", plusRw, 2295100, 5, TWriteCheck::PastEnd},
        {"pressed disc", rom, 0, 1, TWriteCheck::ReadOnly},
        {"finalized disc", closed, 11702, 1, TWriteCheck::Closed},
    };
    for (const auto& c : cases) EXPECT_EQ(c.disc.checkWrite(c.lba, c.count), c.expected) << c.what;
}

TEST(DiscStateTest, ReservedTrackTakesWritesUpToItsSize) {
    TDiscState disc = TDiscState::blankDisc(TMediaType::DvdR);
    ASSERT_TRUE(disc.reserveTrack(100));
    EXPECT_EQ(disc.tracks[0].reserved, 112);  // whole ECC blocks
    EXPECT_EQ(disc.checkWrite(0, 112), TWriteCheck::Ok);
    EXPECT_EQ(disc.checkWrite(0, 113), TWriteCheck::PastTrackEnd);
    disc.recordWrite(0, 50);
    EXPECT_EQ(disc.checkWrite(50, 10), TWriteCheck::Ok);
    // The invisible track follows the reservation.
    EXPECT_EQ(disc.invisibleTrack()->start, 112);
    ASSERT_TRUE(disc.closeTrack(false));
    EXPECT_EQ(disc.tracks[0].blocks, 112);
}

TEST(DiscStateTest, ClosingTheLastRoomFinalizesTheDisc) {
    TDiscState disc = TDiscState::blankDisc(TMediaType::CdR74);
    disc.recordWrite(0, kCd74Capacity - kCdRunOut - 10000);
    ASSERT_TRUE(disc.closeTrack(true));
    ASSERT_TRUE(disc.closeSession(TCloseMode::KeepAppendable));
    // No second session fits behind the lead-out, lead-in and pre-gap: the disc is complete.
    EXPECT_TRUE(disc.finalized);
    EXPECT_FALSE(disc.invisibleTrack().has_value());
}

TEST(DiscStateTest, ValidateRejectsInconsistentTracks) {
    struct TCase {
        const char* what;
        std::vector<TTrack> tracks;
        int closedSessions;
    };
    const TCase cases[] = {
        {"gap in numbers",
         {{1, 1, TTrackState::Complete, 0, 302, 0, 2}, {3, 1, TTrackState::Open, 452, 10, 0, 0}},
         0},
        {"overlap",
         {{1, 1, TTrackState::Complete, 0, 302, 0, 2}, {2, 1, TTrackState::Open, 300, 10, 0, 0}},
         0},
        {"past capacity", {{1, 1, TTrackState::Open, 0, 400000, 0, 0}}, 0},
        {"open track in closed session", {{1, 1, TTrackState::Open, 0, 10, 0, 0}}, 1},
        {"open track not last",
         {{1, 1, TTrackState::Open, 0, 10, 0, 0}, {2, 1, TTrackState::Open, 160, 10, 0, 0}},
         0},
        {"run-out larger than track", {{1, 1, TTrackState::Complete, 0, 1, 0, 2}}, 1},
    };
    for (const auto& c : cases) {
        TDiscState disc = TDiscState::blankDisc(TMediaType::CdR80);
        disc.tracks = c.tracks;
        disc.closedSessions = c.closedSessions;
        EXPECT_FALSE(disc.validate().empty()) << c.what;
    }
    TDiscState good = TDiscState::blankDisc(TMediaType::CdR80);
    RecordSession(good, 300);
    EXPECT_EQ(good.validate(), "");
}

}  // namespace
}  // namespace brenwick
