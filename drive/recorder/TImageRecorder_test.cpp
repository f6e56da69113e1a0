// The image recorder as an MMC target: its answers per medium and disc state against what real drives give,
// the write rules, busy periods, faults from the fault file, the folder lock and crash durability.
#include "drive/recorder/TImageRecorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {
namespace {

using testing::Cdb10;
using testing::Send;
using testing::TRun;
using Sense = std::tuple<int, int, int>;

const Sense kGood{0, 0, 0};

class RecorderTest : public ::testing::Test {
  protected:
    std::unique_ptr<TImageRecorder> Make(TMediaType media, TRecorderOptions options = {}) {
        if (!options.busy) options.busy = InstantBusyTimes();
        options.clock = m_clock;
        std::string error;
        auto recorder =
            MakeImageRecorder(m_folder.path() + "/r" + std::to_string(m_count++), media, options, error);
        EXPECT_TRUE(recorder) << error;
        return recorder;
    }
    std::unique_ptr<TImageRecorder> Reopen(const TImageRecorder& recorder, TRecorderOptions options = {}) {
        if (!options.busy) options.busy = InstantBusyTimes();
        options.clock = m_clock;
        return std::make_unique<TImageRecorder>(recorder.folder(), options);
    }

    static std::vector<std::uint8_t> Pattern(std::int32_t lba, std::uint16_t blocks) {
        std::vector<std::uint8_t> data(std::size_t(blocks) * 2048);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = std::uint8_t((lba + std::int32_t(i / 2048)) * 7 + i);
        return data;
    }
    static TRun Write(TImageRecorder& r, std::int32_t lba, std::uint16_t blocks) {
        const auto data = Pattern(lba, blocks);
        return Send(r, Cdb10(0x2A, std::uint32_t(lba), blocks), 0, data);
    }
    static TRun Read(TImageRecorder& r, std::int32_t lba, std::uint16_t blocks) {
        return Send(r, Cdb10(0x28, std::uint32_t(lba), blocks), std::size_t(blocks) * 2048);
    }
    static TRun Tur(TImageRecorder& r) { return Send(r, {0, 0, 0, 0, 0, 0}); }
    static TRun DiscInfo(TImageRecorder& r) { return Send(r, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34); }
    static TRun TrackInfo(TImageRecorder& r, std::uint8_t type, std::uint32_t value) {
        return Send(r, Cdb10(0x52, value, 36, type), 36);
    }
    static TRun Toc(TImageRecorder& r, std::uint8_t format, bool msf = false, std::uint8_t track = 0) {
        return Send(r, {0x43, std::uint8_t(msf ? 2 : 0), format, 0, 0, 0, track, 0x03, 0xFC, 0}, 1020);
    }
    static std::uint32_t Capacity(TImageRecorder& r) {
        return Send(r, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).be32(0);
    }
    static TRun Sync(TImageRecorder& r) { return Send(r, {0x35, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}); }
    static TRun CloseSession(TImageRecorder& r, std::uint8_t function = 2) {
        return Send(r, {0x5B, 0x01, function, 0, 0, 0, 0, 0, 0, 0});
    }
    static std::uint16_t Profile(TImageRecorder& r) {
        return std::uint16_t(Send(r, {0x46, 0x02, 0, 0, 0, 0, 0, 0, 8, 0}, 8).be16(6));
    }
    // MODE SELECT of page 05h with the given write type, multi-session and test-write bits.
    static TRun WriteParameters(TImageRecorder& r, std::uint8_t byte2, std::uint8_t byte3,
                                std::uint8_t byte5 = 0) {
        std::vector<std::uint8_t> list(8 + 52, 0);
        list[8] = 0x05;
        list[9] = 0x32;
        list[10] = byte2;
        list[11] = byte3;
        list[12] = 0x08;
        list[13] = byte5;
        return Send(r, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 0, list);
    }
    // One CD session of `blocks` in track-at-once, closed and left appendable (or finalized).
    void RecordCdSession(TImageRecorder& r, std::int32_t start, std::uint16_t blocks, bool finalize = false) {
        ASSERT_TRUE(WriteParameters(r, 0x41, finalize ? 0x04 : 0xC4).good());
        ASSERT_TRUE(Write(r, start, blocks).good());
        ASSERT_TRUE(Sync(r).good());
        ASSERT_TRUE(CloseSession(r).good());
        while (!Tur(r).good()) {
        }
    }

    testing::TTempTree m_folder;
    std::shared_ptr<TManualClock> m_clock = std::make_shared<TManualClock>();
    int m_count = 0;
};

TEST_F(RecorderTest, InquiryIdentifiesAnImageRecorder) {
    auto r = Make(TMediaType::CdRw80);
    const TRun inquiry = Send(*r, {0x12, 0, 0, 0, 96, 0}, 96);
    ASSERT_TRUE(inquiry.good());
    EXPECT_EQ(inquiry.data[0], 0x05);
    EXPECT_EQ(inquiry.data[1], 0x80);
    EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 32), "BRENWICKIMAGE RECORDER  ");
    EXPECT_EQ(Send(*r, {0x12, 0, 0, 0, 36, 0}, 96).data.size(), 36u);
    EXPECT_EQ(Send(*r, {0x12, 0, 0x80, 0, 36, 0}, 36).sense(), Sense(5, 0x24, 0));
    EXPECT_EQ(Send(*r, {0x12, 1, 0x80, 0, 36, 0}, 36).data[1], 0x80);
}

TEST_F(RecorderTest, UnknownCommandsAreInvalidOperationCodes) {
    auto r = Make(TMediaType::CdR80);
    for (std::uint8_t opcode : {0x01, 0x3C, 0xBE, 0xE7, 0xFF}) {
        std::vector<std::uint8_t> cdb(12, 0);
        cdb[0] = opcode;
        EXPECT_EQ(Send(*r, cdb, 64).sense(), Sense(5, 0x20, 0)) << int(opcode);
    }
    EXPECT_EQ(Send(*r, {0x51, 0, 0}, 34).sense(), Sense(5, 0x24, 0));  // CDB cut short
}

TEST_F(RecorderTest, BlankCdRAnswersAsARealDrive) {
    auto r = Make(TMediaType::CdR80);
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(Profile(*r), 0x0009);
    const TRun info = DiscInfo(*r);
    ASSERT_TRUE(info.good());
    EXPECT_EQ(info.be16(0), 32u);
    EXPECT_EQ(info.data[2], 0x00);
    EXPECT_EQ(info.data[4], 1);
    EXPECT_EQ(info.data[5], 1);
    EXPECT_EQ(info.data[6], 1);
    EXPECT_EQ(info.be32(16), 0x00610F23u);  // ATIP lead-in 97:15:35
    EXPECT_EQ(info.be32(20), 0x004F3B4Au);  // last possible lead-out 79:59:74
    const TRun track = TrackInfo(*r, 1, 0xFF);
    ASSERT_TRUE(track.good());
    EXPECT_EQ(track.data[2], 1);
    EXPECT_EQ(track.data[6], 0x4F);
    EXPECT_EQ(track.data[7], 0x01);
    EXPECT_EQ(track.be32(8), 0u);
    EXPECT_EQ(track.be32(12), 0u);
    EXPECT_EQ(track.be32(16), 359847u);
    EXPECT_EQ(Toc(*r, 0).sense(), Sense(5, 0x24, 0));  // no complete session
    EXPECT_EQ(Toc(*r, 1).sense(), Sense(5, 0x24, 0));
    EXPECT_EQ(Capacity(*r), 0u);
    const TRun atip = Toc(*r, 4, true);
    ASSERT_TRUE(atip.good());
    EXPECT_EQ(atip.be16(0), 26u);
    EXPECT_EQ(std::vector<int>(atip.data.begin() + 8, atip.data.begin() + 11),
              (std::vector<int>{97, 15, 35}));
    EXPECT_EQ(std::vector<int>(atip.data.begin() + 12, atip.data.begin() + 15),
              (std::vector<int>{79, 59, 74}));
    EXPECT_EQ(Read(*r, 0, 1).sense(), Sense(5, 0x21, 0));
}

// Two sessions of 300 blocks: the numbers of the worked example for real drives.
TEST_F(RecorderTest, AppendableCdRAfterTwoSessions) {
    auto r = Make(TMediaType::CdR80);
    RecordCdSession(*r, 0, 300);
    {
        const TRun info = DiscInfo(*r);
        EXPECT_EQ(info.data[2], 0x01);
        EXPECT_EQ(info.data[4], 2);
        EXPECT_EQ(info.data[5], 2);
        EXPECT_EQ(info.data[6], 2);
        EXPECT_EQ(info.be32(16), 0x00012402u);  // next lead-in at LBA 7052
        EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(12), 11702u);
        EXPECT_EQ(Capacity(*r), 301u);  // includes the 2 run-out blocks
    }
    EXPECT_EQ(Write(*r, 302, 16).sense(), Sense(5, 0x21, 0x02));  // inside the gap
    RecordCdSession(*r, 11702, 300);
    const TRun info = DiscInfo(*r);
    EXPECT_EQ(info.data[4], 3);
    EXPECT_EQ(info.be32(16), 0x00030C04u);  // LBA 14,254
    const TRun next = TrackInfo(*r, 1, 0xFF);
    EXPECT_EQ(next.data[2], 3);
    EXPECT_EQ(next.data[3], 3);
    EXPECT_EQ(next.be32(8), 18904u);
    const TRun toc = Toc(*r, 0);
    ASSERT_TRUE(toc.good());
    const std::vector<std::uint8_t> expected = {0x00, 0x1A, 0x01, 0x02, 0x00, 0x14, 0x01, 0x00, 0x00, 0x00,
                                                0x00, 0x00, 0x00, 0x14, 0x02, 0x00, 0x00, 0x00, 0x2D, 0xB6,
                                                0x00, 0x14, 0xAA, 0x00, 0x00, 0x00, 0x2E, 0xE4};
    EXPECT_EQ(toc.data, expected);
    const TRun session = Toc(*r, 1);
    EXPECT_EQ(session.data, (std::vector<std::uint8_t>{0x00, 0x0A, 0x01, 0x02, 0x00, 0x14, 0x02, 0x00, 0x00,
                                                       0x00, 0x2D, 0xB6}));
    const TRun msf = Toc(*r, 0, true, 0xAA);
    EXPECT_EQ(msf.be32(8), 0x00022A04u);  // 12,004 + 150 blocks = 02:42:04
    const TRun full = Toc(*r, 2);
    ASSERT_TRUE(full.good());
    EXPECT_EQ(full.data[3], 2);
    EXPECT_EQ((full.be16(0) - 2) % 11, 0u);
    // Data of both sessions read back; the run-out blocks do not.
    EXPECT_EQ(Read(*r, 11702, 4).data, Pattern(11702, 4));
    EXPECT_EQ(Read(*r, 0, 2).data, Pattern(0, 2));
    EXPECT_EQ(Read(*r, 300, 1).sense(), Sense(5, 0x64, 0));
    EXPECT_EQ(Read(*r, 5000, 1).sense(), Sense(5, 0x21, 0));
}

TEST_F(RecorderTest, FinalizedCdRRefusesWrites) {
    auto r = Make(TMediaType::CdR74);
    RecordCdSession(*r, 0, 400, true);
    const TRun info = DiscInfo(*r);
    EXPECT_EQ(info.data[2], 0x0E);
    EXPECT_EQ(info.data[4], 1);
    EXPECT_EQ(info.be32(16), 0xFFFFFFFFu);
    EXPECT_EQ(info.be32(20), 0xFFFFFFFFu);
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).sense(), Sense(5, 0x24, 0));
    EXPECT_EQ(Write(*r, 11802, 1).sense(), Sense(5, 0x30, 0x05));
    EXPECT_EQ(Profile(*r), 0x0009);  // the profile names the medium, not its state
    EXPECT_TRUE(Toc(*r, 0).good());
    EXPECT_EQ(Send(*r, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense(), Sense(5, 0x30, 0x06));
}

// An open session (the track closed by SYNCHRONIZE CACHE, no CLOSE SESSION) shows as incomplete.
TEST_F(RecorderTest, OpenSessionIsIncompleteAndNeedsClosedTracks) {
    auto r = Make(TMediaType::CdR80);
    ASSERT_TRUE(WriteParameters(*r, 0x40, 0xC4).good());  // packet: the flush does not end the track
    ASSERT_TRUE(Write(*r, 0, 32).good());
    ASSERT_TRUE(Sync(*r).good());
    EXPECT_EQ(DiscInfo(*r).data[2], 0x05);
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(12), 32u);  // the incomplete track
    EXPECT_EQ(CloseSession(*r).sense(), Sense(5, 0x72, 0x03));
    ASSERT_TRUE(Send(*r, {0x5B, 0x00, 0x01, 0, 0, 0x01, 0, 0, 0, 0}).good());  // CLOSE TRACK 1
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(8), 300u + 150u);  // padded to 300 blocks, no TAO run-out
    ASSERT_TRUE(CloseSession(*r).good());
    EXPECT_EQ(DiscInfo(*r).sense(), Sense(2, 0x04, 0x07));  // the immediate close is still running
    while (!Tur(*r).good()) {
    }
    EXPECT_EQ(DiscInfo(*r).data[2], 0x01);
}

TEST_F(RecorderTest, MinimalBlankLeavesABlankCdRwAfterABusyPeriod) {
    TRecorderOptions options;
    options.busy = TBusyTimes{3000, 15000, 0, 0, 0};
    auto r = Make(TMediaType::CdRw80, options);
    RecordCdSession(*r, 0, 300);
    EXPECT_EQ(DiscInfo(*r).data[2], 0x11);
    ASSERT_TRUE(Send(*r, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
    // The erase thread treats a drive that is ready at its first poll as a failed erase.
    const TRun first = Tur(*r);
    EXPECT_EQ(first.sense(), Sense(2, 0x04, 0x07));
    EXPECT_EQ(first.result.sense[15], 0x80);
    EXPECT_EQ(DiscInfo(*r).sense(), Sense(2, 0x04, 0x07));
    EXPECT_TRUE(Send(*r, {0x12, 0, 0, 0, 36, 0}, 36).good());
    m_clock->Advance(std::chrono::milliseconds(1500));
    const TRun half = Tur(*r);
    EXPECT_EQ(half.sense(), Sense(2, 0x04, 0x07));
    EXPECT_NEAR(double(half.result.sense[16] << 8 | half.result.sense[17]), 32768.0, 100.0);
    const TRun sense = Send(*r, {0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(sense.data[2], 0x02);
    EXPECT_EQ(sense.data[12], 0x04);
    EXPECT_EQ(sense.data[15], 0x80);
    m_clock->Advance(std::chrono::milliseconds(1600));
    EXPECT_TRUE(Tur(*r).good());
    const TRun info = DiscInfo(*r);
    EXPECT_EQ(info.data[2], 0x10);
    EXPECT_EQ(info.data[4], 1);
    EXPECT_EQ(Profile(*r), 0x000A);
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(12), 0u);
    EXPECT_EQ(Read(*r, 0, 1).sense(), Sense(5, 0x21, 0));
    EXPECT_EQ(Toc(*r, 0).sense(), Sense(5, 0x24, 0));
}

TEST_F(RecorderTest, BlankWithZeroTimesStaysBusyForOnePoll) {
    auto r = Make(TMediaType::CdRw74);
    ASSERT_TRUE(Send(*r, {0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x04, 0x07));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(Send(*r, {0xA1, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense(), Sense(5, 0x24, 0));
}

// What the recording sequence does on a DVD-R: session-at-once into a reserved track; the disc ends closed.
TEST_F(RecorderTest, DvdRWrittenSessionAtOnceEndsClosed) {
    auto r = Make(TMediaType::DvdR);
    EXPECT_EQ(Profile(*r), 0x0011);
    const TRun blank = TrackInfo(*r, 1, 1);
    EXPECT_EQ(blank.data[6], 0x61);  // blank, incremental by default
    EXPECT_EQ(blank.be32(16), 2298496u);
    EXPECT_EQ(blank.be32(20), 16u);
    EXPECT_EQ(DiscInfo(*r).be32(20), 2298496u);
    ASSERT_TRUE(WriteParameters(*r, 0x42, 0x05, 0x10).good());
    EXPECT_EQ(TrackInfo(*r, 1, 1).data[6], 0x41);
    ASSERT_TRUE(Send(*r, {0x53, 0, 0, 0, 0, 0, 0, 0, 101, 0}).good());  // RESERVE TRACK 100 + 1
    const TRun reserved = TrackInfo(*r, 1, 1);
    EXPECT_EQ(reserved.data[6] & 0xC0, 0xC0);  // reserved, blank
    EXPECT_EQ(reserved.be32(24), 112u);
    EXPECT_EQ(Write(*r, 0, 31).sense(), kGood);
    EXPECT_EQ(Write(*r, 31, 31).sense(), kGood);
    EXPECT_EQ(Write(*r, 62, 38).sense(), kGood);
    EXPECT_EQ(Write(*r, 100, 13).sense(), Sense(5, 0x63, 0));
    ASSERT_TRUE(Sync(*r).good());
    const TRun info = DiscInfo(*r);
    EXPECT_EQ(info.data[2], 0x0E);
    EXPECT_EQ(Capacity(*r), 111u);
    EXPECT_EQ(Read(*r, 99, 1).data, Pattern(99, 1));
    EXPECT_EQ(Read(*r, 105, 1).data, std::vector<std::uint8_t>(2048, 0));  // padding
    EXPECT_EQ(Toc(*r, 0).be32(16), 112u);                                  // lead-out
    EXPECT_EQ(Write(*r, 112, 1).sense(), Sense(5, 0x30, 0x05));
}

TEST_F(RecorderTest, DvdPlusRwTakesWritesAnywhere) {
    auto r = Make(TMediaType::DvdPlusRw);
    EXPECT_EQ(Profile(*r), 0x001A);
    const TRun info = DiscInfo(*r);
    EXPECT_EQ(info.data[2], 0x1E);
    EXPECT_EQ(info.data[7] & 0x03, 0x03);
    EXPECT_EQ(Capacity(*r), 2295103u);
    const TRun track = TrackInfo(*r, 1, 1);
    EXPECT_EQ(track.data[7] & 0x01, 0);  // no next writable address on +RW
    EXPECT_EQ(track.be32(24), 2295104u);
    const TRun formats = Send(*r, {0x23, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 20);
    ASSERT_TRUE(formats.good());
    EXPECT_EQ(formats.data[3], 16);
    EXPECT_EQ(formats.be32(4), 2295104u);
    EXPECT_EQ(formats.data[8], 0x02);
    EXPECT_EQ(formats.data[16] >> 2, 0x26);
    ASSERT_TRUE(Write(*r, 5000, 16).good());
    ASSERT_TRUE(Write(*r, 16, 16).good());
    EXPECT_EQ(Read(*r, 5000, 16).data, Pattern(5000, 16));
    EXPECT_EQ(Read(*r, 100, 1).data, std::vector<std::uint8_t>(2048, 0));
    EXPECT_EQ(Write(*r, 2295100, 16).sense(), Sense(5, 0x21, 0));
    EXPECT_TRUE(CloseSession(*r).good());  // harmless on +RW
    EXPECT_EQ(Send(*r, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense(), Sense(5, 0x30, 0x06));
}

// A DVD+RW that was never formatted reads as blank and unformatted and refuses writes; FORMAT UNIT (type
// 26h, immediate) keeps the drive NOT READY, FORMAT IN PROGRESS with its progress, after which the disc is
// formatted and empty, as it stays after a restart.
TEST_F(RecorderTest, UnformattedDvdPlusRwIsFormattedWithProgress) {
    TRecorderOptions options;
    options.busy = TBusyTimes{0, 0, 0, 4000, 0};
    options.clock = m_clock;
    const std::string folder = Make(TMediaType::DvdPlusRw, options)->folder();
    std::string error;
    ASSERT_TRUE(UpdateRecorderState(
        folder, [](TRecorderState& s) { s.disc.formatted = false; }, error))
        << error;
    auto r = std::make_unique<TImageRecorder>(folder, options);
    while (!Tur(*r).good()) {  // the load
    }
    EXPECT_EQ(DiscInfo(*r).data[2], 0x10);         // blank, erasable
    EXPECT_EQ(DiscInfo(*r).data[7] & 0x03, 0x00);  // no background format
    const TRun formats = Send(*r, {0x23, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 20);
    EXPECT_EQ(formats.data[8] & 0x03, 0x01);  // unformatted media
    EXPECT_EQ(formats.data[16] >> 2, 0x26);
    EXPECT_EQ(Write(*r, 0, 16).sense(), Sense(5, 0x30, 0x05));
    const std::vector<std::uint8_t> list = {0, 0x02, 0, 8, 0xFF, 0xFF, 0xFF, 0xFF, 0x26 << 2, 0, 0, 0};
    ASSERT_TRUE(Send(*r, {0x04, 0x11, 0, 0, 0, 0}, 0, list).good());
    const TRun first = Tur(*r);
    EXPECT_EQ(first.sense(), Sense(2, 0x04, 0x04));
    EXPECT_EQ(first.result.sense[15], 0x80);
    m_clock->Advance(std::chrono::milliseconds(2000));
    const TRun sense = Send(*r, {0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(sense.data[2], 0x02);
    EXPECT_EQ(sense.data[12], 0x04);
    EXPECT_EQ(sense.data[13], 0x04);
    EXPECT_EQ(sense.data[15], 0x80);
    EXPECT_NEAR(double(sense.data[16] << 8 | sense.data[17]), 32768.0, 100.0);
    m_clock->Advance(std::chrono::milliseconds(2100));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(DiscInfo(*r).data[2], 0x1E);
    EXPECT_EQ(Send(*r, {0x23, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 20).data[8] & 0x03, 0x02);
    ASSERT_TRUE(Write(*r, 0, 16).good());
    ASSERT_TRUE(Sync(*r).good());
    r.reset();
    auto again = std::make_unique<TImageRecorder>(folder, options);
    while (!Tur(*again).good()) {
    }
    EXPECT_EQ(DiscInfo(*again).data[2], 0x1E);
    EXPECT_EQ(Read(*again, 0, 16).data, Pattern(0, 16));
}

TEST_F(RecorderTest, DvdRamIsRandomAccessWithoutWriteParameters) {
    auto r = Make(TMediaType::DvdRam);
    EXPECT_EQ(Profile(*r), 0x0012);
    EXPECT_EQ(DiscInfo(*r).data[2], 0x1F);
    EXPECT_EQ(Capacity(*r), 2236703u);
    const TRun track = TrackInfo(*r, 1, 1);
    EXPECT_EQ(track.data[7], 0x02);
    EXPECT_EQ(track.be32(28), 2236703u);
    ASSERT_TRUE(Write(*r, 77, 3).good());
    EXPECT_EQ(Read(*r, 77, 3).data, Pattern(77, 3));
    EXPECT_EQ(Toc(*r, 2).sense(), Sense(5, 0x24, 0));
    EXPECT_EQ(Toc(*r, 4).sense(), Sense(5, 0x24, 0));
}

TEST_F(RecorderTest, DvdPlusRSessionsStayAppendableUntilFinalized) {
    auto r = Make(TMediaType::DvdPlusR);
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).data[6], 0x41);
    ASSERT_TRUE(Write(*r, 0, 20).good());
    ASSERT_TRUE(Sync(*r).good());
    ASSERT_TRUE(CloseSession(*r).good());  // closes the open fragment with its session
    while (!Tur(*r).good()) {
    }
    EXPECT_EQ(DiscInfo(*r).data[2], 0x01);
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(12), 32u);  // the next ECC block
    ASSERT_TRUE(Write(*r, 32, 16).good());
    ASSERT_TRUE(CloseSession(*r, 5).good());
    while (!Tur(*r).good()) {
    }
    EXPECT_EQ(DiscInfo(*r).data[2], 0x0E);
    EXPECT_EQ(Toc(*r, 1).data[3], 2);
}

TEST_F(RecorderTest, WriteAddressAndCapacityAreEnforced) {
    auto r = Make(TMediaType::CdR74);
    EXPECT_EQ(Write(*r, 1, 1).sense(), Sense(5, 0x21, 0x02));
    EXPECT_TRUE(Write(*r, 0, 10).good());
    EXPECT_EQ(Write(*r, 0, 10).sense(), Sense(5, 0x21, 0x02));
    EXPECT_EQ(Write(*r, 11, 1).sense(), Sense(5, 0x21, 0x02));
    EXPECT_TRUE(Write(*r, 10, 10).good());
    EXPECT_EQ(TrackInfo(*r, 1, 0xFF).be32(12), 20u);
    // A nearly full disc: a write that would run past the capacity is refused whole.
    auto full = Make(TMediaType::DvdPlusR);
    full->Release();
    std::string error;
    ASSERT_TRUE(UpdateRecorderState(
        full->folder(),
        [](TRecorderState& s) {
            s.disc.tracks = {{1, 1, TTrackState::Complete, 0, 2295000, 0, 0}};
            s.disc.closedSessions = 1;
        },
        error))
        << error;
    { std::ofstream(full->folder() + "/disc.img"); }  // the recorded track, as a sparse image
    ASSERT_EQ(::truncate((full->folder() + "/disc.img").c_str(), off_t(2295000) * 2048), 0);
    EXPECT_EQ(TrackInfo(*full, 1, 0xFF).be32(16), 2295104u - 2295008u);
    EXPECT_EQ(Write(*full, 2295008, 97).sense(), Sense(5, 0x21, 0));
    EXPECT_TRUE(Write(*full, 2295008, 96).good());
}

TEST_F(RecorderTest, TestWriteRecordsNothing) {
    auto r = Make(TMediaType::CdR80);
    ASSERT_TRUE(WriteParameters(*r, 0x51, 0x04).good());
    ASSERT_TRUE(Write(*r, 0, 31).good());
    ASSERT_TRUE(Write(*r, 31, 31).good());
    EXPECT_EQ(Write(*r, 0, 1).sense(), Sense(5, 0x21, 0x02));
    ASSERT_TRUE(Sync(*r).good());
    EXPECT_EQ(DiscInfo(*r).data[2], 0x00);
    EXPECT_EQ(Read(*r, 0, 1).sense(), Sense(5, 0x21, 0));
    EXPECT_TRUE(r->Disc().tracks.empty());
}

TEST_F(RecorderTest, ModePagesAndTheirChecks) {
    auto r = Make(TMediaType::CdR80);
    const TRun all = Send(*r, {0x5A, 0, 0x3F, 0, 0, 0, 0, 0x01, 0x00, 0}, 256);
    ASSERT_TRUE(all.good());
    EXPECT_EQ(all.be16(0), all.data.size() - 2);
    EXPECT_EQ(all.be16(6), 0u);
    EXPECT_EQ(all.data[8], 0x01);
    EXPECT_EQ(all.data[8 + 12], 0x05);
    EXPECT_EQ(all.data[8 + 12 + 52], 0x2A);
    const TRun caps = Send(*r, {0x5A, 0, 0xAA, 0, 0, 0, 0, 0, 254, 0}, 254);
    ASSERT_TRUE(caps.good());
    EXPECT_EQ(caps.data[8], 0x2A);
    EXPECT_EQ(caps.data[8 + 3] & 0x01, 0x01);  // writes CD-R
    EXPECT_EQ(caps.be16(8 + 18), 8467u);       // maximum write speed, 48x
    EXPECT_EQ(caps.be16(8 + 12), 2048u);       // buffer KiB
    EXPECT_EQ(Send(*r, {0x5A, 0, 0xC5, 0, 0, 0, 0, 0, 64, 0}, 64).sense(), Sense(5, 0x39, 0));
    EXPECT_EQ(Send(*r, {0x5A, 0, 0x30, 0, 0, 0, 0, 0, 64, 0}, 64).sense(), Sense(5, 0x24, 0));
    const TRun six = Send(*r, {0x1A, 0, 0x05, 0, 64, 0}, 64);
    EXPECT_EQ(six.data[4], 0x05);
    // MODE SELECT: bad page length, bad write type, no PF bit, short list.
    std::vector<std::uint8_t> list(60, 0);
    list[8] = 0x05;
    list[9] = 0x30;
    EXPECT_EQ(Send(*r, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 0, list).sense(), Sense(5, 0x26, 0));
    EXPECT_EQ(WriteParameters(*r, 0x03, 0x04).sense(), Sense(5, 0x26, 0));
    EXPECT_EQ(Send(*r, {0x55, 0x00, 0, 0, 0, 0, 0, 0, 60, 0}, 0, list).sense(), Sense(5, 0x24, 0));
    EXPECT_EQ(Send(*r, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 6, 0}, 0, std::vector<std::uint8_t>(6)).sense(),
              Sense(5, 0x1A, 0));
    ASSERT_TRUE(WriteParameters(*r, 0x42, 0xC4).good());
    EXPECT_EQ(Send(*r, {0x5A, 0, 0x05, 0, 0, 0, 0, 0, 64, 0}, 64).data[10], 0x42);
}

TEST_F(RecorderTest, GetConfigurationListsProfilesAndCurrentFeatures) {
    auto r = Make(TMediaType::CdRw80);
    const TRun head = Send(*r, {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
    ASSERT_TRUE(head.good());
    const std::uint32_t length = head.be32(0) + 4;
    const TRun all =
        Send(*r, {0x46, 0, 0, 0, 0, 0, 0, std::uint8_t(length >> 8), std::uint8_t(length), 0}, length);
    ASSERT_EQ(all.data.size(), length);
    auto features = [](const TRun& run) {
        std::vector<std::pair<int, bool>> list;
        for (std::size_t at = 8; at + 4 <= run.data.size(); at += 4 + run.data[at + 3])
            list.push_back({int(run.be16(at)), (run.data[at + 2] & 1) != 0});
        return list;
    };
    bool tao = false, mastering = false, dvdWrite = false;
    for (auto [code, current] : features(all)) {
        if (code == 0x002D) tao = current;
        if (code == 0x002E) mastering = current;
        if (code == 0x002F) dvdWrite = current;
    }
    EXPECT_TRUE(tao);
    EXPECT_TRUE(mastering);
    EXPECT_FALSE(dvdWrite);
    const TRun only = Send(*r, {0x46, 0x02, 0x00, 0x2D, 0, 0, 0, 0, 64, 0}, 64);
    ASSERT_EQ(features(only).size(), 1u);
    EXPECT_EQ(features(only)[0].first, 0x002D);
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());  // eject: the tray is open
    EXPECT_EQ(Profile(*r), 0x0000);
}

TEST_F(RecorderTest, TrayAndMediumChangeLikeARealDrive) {
    auto r = Make(TMediaType::CdR80);
    ASSERT_TRUE(Send(*r, {0x1E, 0, 0, 0, 0x01, 0}).good());  // prevent removal
    EXPECT_EQ(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).sense(), Sense(5, 0x53, 0x02));
    ASSERT_TRUE(Send(*r, {0x1E, 0, 0, 0, 0x00, 0}).good());
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x3A, 0x02));
    EXPECT_EQ(DiscInfo(*r).sense(), Sense(2, 0x3A, 0x02));
    ASSERT_TRUE(Send(*r, {0x1B, 0x01, 0, 0, 0x03, 0}).good());  // load
    const TRun event = Send(*r, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8);
    EXPECT_EQ(event.data[4], 0x02);  // new media
    EXPECT_EQ(event.data[5], 0x02);
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x04, 0x01));
    EXPECT_EQ(Tur(*r).sense(), Sense(6, 0x28, 0x00));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(Send(*r, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).data[4], 0x00);
    // Without the immediate bit the load completes before the command returns.
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x03, 0}).good());
    EXPECT_EQ(Tur(*r).sense(), Sense(6, 0x28, 0x00));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(Send(*r, {0x4A, 0x00, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).sense(), Sense(5, 0x24, 0));
    // The tray state is part of the disc: it survives the process.
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());
    r.reset();
    auto again = Make(TMediaType::None);
    EXPECT_EQ(Tur(*again).sense(), Sense(2, 0x3A, 0x01));
}

// With the tray open another program may put a different disc in; the recorder then reports the change.
TEST_F(RecorderTest, DiscChangedWhileTheTrayIsOpen) {
    auto r = Make(TMediaType::CdR80);
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());
    std::string kept, error;
    ASSERT_TRUE(InsertBlankDisc(r->folder(), TMediaType::DvdR, kept, error)) << error;
    EXPECT_EQ(Tur(*r).sense(), Sense(6, 0x28, 0x00));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_EQ(Profile(*r), 0x0011);
    EXPECT_EQ(Send(*r, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).data[4], 0x02);
    // With the tray closed the recorder is held again.
    EXPECT_FALSE(SetTrayOpen(r->folder(), true, error));
    // Opened and closed from outside while open here: the same disc, loaded again.
    ASSERT_TRUE(Send(*r, {0x1B, 0, 0, 0, 0x02, 0}).good());
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x3A, 0x02));
    ASSERT_TRUE(SetTrayOpen(r->folder(), false, error)) << error;
    EXPECT_EQ(Tur(*r).sense(), Sense(6, 0x28, 0x00));
    EXPECT_EQ(Profile(*r), 0x0011);
    // An empty recorder is not held either: a disc can be put in while a program has it open.
    auto empty = Make(TMediaType::None);
    EXPECT_EQ(Tur(*empty).sense(), Sense(2, 0x3A, 0x01));
    ASSERT_TRUE(InsertBlankDisc(empty->folder(), TMediaType::CdRw74, kept, error)) << error;
    EXPECT_EQ(Tur(*empty).sense(), Sense(6, 0x28, 0x00));
    EXPECT_EQ(Profile(*empty), 0x000A);
}

TEST_F(RecorderTest, BufferModelFillsDrainsAndUnderruns) {
    TRecorderOptions options;
    options.speedX = 4;
    auto r = Make(TMediaType::CdR80, options);
    auto capacity = [&] { return Send(*r, {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12); };
    EXPECT_EQ(capacity().be32(4), 2u * 1024 * 1024);
    EXPECT_EQ(capacity().be32(8), 2u * 1024 * 1024);
    ASSERT_TRUE(Write(*r, 0, 31).good());
    EXPECT_EQ(capacity().be32(8), 2u * 1024 * 1024 - 31 * 2048);
    m_clock->Advance(std::chrono::milliseconds(50));  // 4x drains 704 kB/s
    EXPECT_EQ(capacity().be32(8), 2u * 1024 * 1024 - 31 * 2048 + 35200);
    // A full buffer holds the WRITE until there is room (the clock moves on); with the fault "long-write 1"
    // the first WRITE into a full buffer answers "long write in progress" instead, the next one waits.
    std::int32_t lba = 31;
    for (int i = 0; i < 40; ++i, lba += 31) ASSERT_TRUE(Write(*r, lba, 31).good()) << i;
    EXPECT_LT(capacity().be32(8), 31u * 2048);
    std::string error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "long-write 1", error)) << error;
    EXPECT_EQ(Write(*r, lba, 31).sense(), Sense(2, 0x04, 0x08));
    EXPECT_TRUE(Write(*r, lba, 31).good());
    // Without buffer-underrun-free recording an empty buffer ends the recording.
    ASSERT_TRUE(WriteParameters(*r, 0x01, 0x04).good());
    m_clock->Advance(std::chrono::seconds(10));
    EXPECT_EQ(Write(*r, lba + 31, 31).sense(), Sense(3, 0x0C, 0x09));
    // The underrun is counted for the recording; SYNCHRONIZE CACHE makes the count durable, once: a second
    // flush with nothing new leaves the state file as it is (the same file, not a replaced one).
    ASSERT_TRUE(Sync(*r).good());
    const std::string stateFile = r->folder() + "/" + kStateFileName;
    struct stat first {};
    ASSERT_EQ(::stat(stateFile.c_str(), &first), 0);
    ASSERT_TRUE(Sync(*r).good());
    struct stat second {};
    ASSERT_EQ(::stat(stateFile.c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    TRecorderState state;
    ASSERT_TRUE(LoadStateFile(r->folder(), state, error)) << error;
    EXPECT_EQ(state.underruns, 1u);
    EXPECT_NE(DescribeDisc(state, r->folder()).find("underruns: 1 in the last recording"), std::string::npos);
}

TEST_F(RecorderTest, FaultsFromTheFaultFile) {
    auto r = Make(TMediaType::CdR80);
    std::string error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "busy-writes 2", error)) << error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "medium-error 40", error)) << error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "illegal 46", error)) << error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "product \"DVD-RW  DVR-103 \"", error)) << error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "block-descriptor", error)) << error;
    EXPECT_EQ(Write(*r, 0, 32).result.status, kStatusBusy);
    EXPECT_EQ(Write(*r, 0, 32).result.status, kStatusBusy);
    EXPECT_TRUE(Write(*r, 0, 32).good());
    const TRun bad = Write(*r, 32, 16);
    EXPECT_EQ(bad.sense(), Sense(3, 0x0C, 0));
    EXPECT_EQ(bad.result.sense[0], 0xF0);
    EXPECT_EQ(bad.result.sense[6], 40);
    EXPECT_EQ(Send(*r, {0x46, 0x02, 0, 0, 0, 0, 0, 0, 8, 0}, 8).sense(), Sense(5, 0x20, 0));
    const TRun inquiry = Send(*r, {0x12, 0, 0, 0, 36, 0}, 36);
    EXPECT_EQ(std::string(inquiry.data.begin() + 16, inquiry.data.begin() + 32), "DVD-RW  DVR-103 ");
    const TRun caps = Send(*r, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 254, 0}, 254);
    EXPECT_EQ(caps.be16(6), 8u);
    EXPECT_EQ(caps.data[16], 0x2A);
    EXPECT_EQ(Send(*r, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 254, 0}, 254).data[8], 0x2A);  // DBD
}

TEST_F(RecorderTest, NotReadyPollsAndAVanishingDrive) {
    auto r = Make(TMediaType::DvdR);
    std::string error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "not-ready 2", error)) << error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "vanish-after-writes 2", error)) << error;
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x04, 0x01));
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x04, 0x01));
    EXPECT_TRUE(Tur(*r).good());
    EXPECT_TRUE(Write(*r, 0, 16).good());
    EXPECT_TRUE(Write(*r, 16, 16).good());
    const TRun gone = Write(*r, 32, 16);
    EXPECT_EQ(gone.result.hostStatus, kHostSelectionTimeout);
    EXPECT_EQ(Tur(*r).result.hostStatus, kHostSelectionTimeout);
    EXPECT_EQ(Send(*r, {0x12, 0, 0, 0, 36, 0}, 36).result.hostStatus, kHostSelectionTimeout);
    ASSERT_TRUE(ClearFaults(r->folder(), error)) << error;
    EXPECT_TRUE(Tur(*r).good());
}

TEST_F(RecorderTest, BadFaultFileIsReportedAndIgnored) {
    auto r = Make(TMediaType::CdR80);
    std::string error;
    ASSERT_TRUE(AppendFaultLine(r->folder(), "busy-writes lots", error)) << error;
    EXPECT_TRUE(Write(*r, 0, 1).good());
    EXPECT_NE(r->LastError().find("fault file line 1"), std::string::npos);
}

// A second process (here: a second object) finds the recorder busy until the first lets it go.
TEST_F(RecorderTest, SecondUserOfARecorderGetsNotReady) {
    auto r = Make(TMediaType::CdR80);
    auto other = Reopen(*r);
    EXPECT_EQ(Tur(*other).sense(), Sense(2, 0x04, 0x00));
    EXPECT_TRUE(Send(*other, {0x12, 0, 0, 0, 36, 0}, 36).good());
    EXPECT_NE(other->LastError().find("in use"), std::string::npos);
    std::string error;
    EXPECT_FALSE(InsertBlankDisc(r->folder(), TMediaType::DvdR, error, error));
    r->Release();
    EXPECT_TRUE(Tur(*other).good());
    EXPECT_EQ(Tur(*r).sense(), Sense(2, 0x04, 0x00));
    // A real second process is refused in the same way.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TImageRecorder third(other->folder(), TRecorderOptions{});
        const TRun tur = Send(third, {0, 0, 0, 0, 0, 0});
        ::_exit(tur.sense() == Sense(2, 0x04, 0x00) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Killing the program mid-recording: the earlier session is intact, the last one is incomplete and can be
// continued or closed; the state file is never half written.
TEST_F(RecorderTest, CrashMidRecordingLeavesAReadableDisc) {
    auto r = Make(TMediaType::CdR80);
    RecordCdSession(*r, 0, 300);
    const std::string folder = r->folder();
    r.reset();
    // A child process records part of a second session and dies without SYNCHRONIZE CACHE or close.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TImageRecorder dying(folder, TRecorderOptions{});
        const bool ok = Write(dying, 11702, 31).good() && Write(dying, 11733, 31).good();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(folder + "/state");
    std::stringstream text;
    text << in.rdbuf();
    TRecorderState state;
    std::string error;
    ASSERT_TRUE(ParseState(text.str(), state, error)) << error;

    TRecorderOptions options;
    options.busy = InstantBusyTimes();
    options.clock = m_clock;
    TImageRecorder again(folder, options);
    const TRun info = DiscInfo(again);
    EXPECT_EQ(info.data[2], 0x05);  // last session incomplete
    EXPECT_EQ(info.data[4], 2);
    EXPECT_EQ(Read(again, 0, 300).data, Pattern(0, 300));
    EXPECT_EQ(Toc(again, 1).data[3], 1);
    // The track the crash left open continues at its last durable address.
    const TRun open = TrackInfo(again, 1, 0xFF);
    EXPECT_EQ(open.be32(8), 11702u);
    EXPECT_EQ(open.be32(12), 11702u);
    ASSERT_TRUE(WriteParameters(again, 0x41, 0xC4).good());  // write parameters do not survive the process
    ASSERT_TRUE(Write(again, 11702, 10).good());
    ASSERT_TRUE(Sync(again).good());
    ASSERT_TRUE(CloseSession(again).good());
    while (!Tur(again).good()) {
    }
    EXPECT_EQ(DiscInfo(again).data[4], 3);
    EXPECT_EQ(Read(again, 11702, 10).data, Pattern(11702, 10));
    EXPECT_EQ(Read(again, 11712, 1).data,
              std::vector<std::uint8_t>(2048, 0));  // padding over the lost blocks
}

// A program that ends normally in the middle of a track leaves what it wrote on the disc, as a drive would.
TEST_F(RecorderTest, OrderlyEndKeepsTheBlocksWritten) {
    auto r = Make(TMediaType::DvdPlusR);
    ASSERT_TRUE(Write(*r, 0, 31).good());
    const std::string folder = r->folder();
    r.reset();
    TImageRecorder again(folder, TRecorderOptions{});
    EXPECT_EQ(TrackInfo(again, 1, 0xFF).be32(12), 31u);
    EXPECT_EQ(Read(again, 0, 31).data, Pattern(0, 31));
}

// A disc image that went missing or was cut short is a damaged disc: the recorder says so instead of
// reading zeros where the state file promises data.
TEST_F(RecorderTest, MissingOrShortImageIsReported) {
    auto r = Make(TMediaType::CdR80);
    RecordCdSession(*r, 0, 300);
    const std::string folder = r->folder();
    r.reset();
    ASSERT_EQ(::truncate((folder + "/disc.img").c_str(), 100 * 2048), 0);
    {
        TImageRecorder shortened(folder, TRecorderOptions{});
        EXPECT_EQ(Tur(shortened).sense(), Sense(2, 0x04, 0x00));
        EXPECT_NE(shortened.LastError().find("shorter"), std::string::npos) << shortened.LastError();
    }
    ASSERT_EQ(::unlink((folder + "/disc.img").c_str()), 0);
    TImageRecorder missing(folder, TRecorderOptions{});
    EXPECT_EQ(Tur(missing).sense(), Sense(2, 0x04, 0x00));
    EXPECT_NE(missing.LastError().find("missing"), std::string::npos) << missing.LastError();
    std::string kept, error;
    missing.Release();
    ASSERT_TRUE(InsertBlankDisc(folder, TMediaType::CdR80, kept, error)) << error;
    EXPECT_TRUE(Tur(missing).good());
}

TEST_F(RecorderTest, DamagedStateFileIsNeverOverwritten) {
    auto r = Make(TMediaType::CdR80);
    const std::string folder = r->folder();
    r.reset();
    { std::ofstream(folder + "/state") << "format 1\nmedia cd-r-80\ntrack 1 1 open 0 -5 0 0\n"; }
    TImageRecorder broken(folder, TRecorderOptions{});
    EXPECT_EQ(Tur(broken).sense(), Sense(2, 0x04, 0x00));
    EXPECT_TRUE(Send(broken, {0x12, 0, 0, 0, 36, 0}, 36).good());
    EXPECT_NE(broken.LastError().find("negative"), std::string::npos);
    broken.Release();
    std::ifstream in(folder + "/state");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("-5"), std::string::npos);
}

TEST_F(RecorderTest, CommandLogRecordsKeyFieldsAndOutcome) {
    auto r = Make(TMediaType::CdR80);
    r->ClearCommandLog();
    (void)Write(*r, 0, 4);
    (void)Write(*r, 9, 4);
    (void)Tur(*r);
    const auto log = r->CommandLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].opcode, 0x2A);
    EXPECT_EQ(log[0].lba, 0);
    EXPECT_EQ(log[0].length, 4u);
    EXPECT_TRUE(log[0].good());
    EXPECT_EQ(log[1].lba, 9);
    EXPECT_EQ(log[1].asc, 0x21);
    EXPECT_EQ(log[1].ascq, 0x02);
    EXPECT_EQ(FormatLogEntry(log[1]), "2A WRITE (10) lba=9 len=4 -> CHECK 05/21/02");
    EXPECT_EQ(FormatLogEntry(log[2]), "00 TEST UNIT READY lba=0 len=0 -> GOOD");
}

}  // namespace
}  // namespace brenwick
