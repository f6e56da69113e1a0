// End to end: compilations recorded into an image recorder by the real cache and write threads, read
// back by third-party ISO 9660 readers, and the recording sequence as the recorder's command log shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "engine/qrCDBC.h"
#include "engine/qrGrowth.h"
#include "engine/testing/IsoReaders.h"
#include "engine/testing/RecorderRig.h"

namespace brenwick {
namespace {

using testing::TReaderTree;
using testing::TRecorderRig;
using testing::TRigOptions;
using testing::TTempTree;

constexpr std::uint8_t kOpWrite = 0x2A;

// Writes a source tree of files with the given sizes; returns path (relative) -> bytes.
std::map<std::string, std::string> makeSource(const TTempTree& tree, const std::string& root,
                                              const std::vector<std::pair<std::string, std::size_t>>& files,
                                              unsigned seed) {
    std::map<std::string, std::string> expected;
    for (const auto& [path, size] : files) {
        const auto bytes = TTempTree::Pattern(size, seed++);
        tree.write(root + "/" + path, bytes);
        expected["/" + path] = std::string(bytes.begin(), bytes.end());
    }
    return expected;
}

std::map<std::string, std::string> under(const std::string& folder,
                                         const std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> result;
    for (const auto& [path, bytes] : files) result["/" + folder + path] = bytes;
    return result;
}

// Every reader sees exactly `expected` in the session at `lba`.
void expectReadersSee(const std::string& image, std::uint32_t lba,
                      const std::map<std::string, std::string>& expected,
                      const std::filesystem::path& scratch) {
    const std::vector<std::pair<std::string, TReaderTree>> views = {
        {"xorriso", testing::ReadWithXorriso(image, lba, scratch)},
        {"isoinfo", testing::ReadWithIsoinfo(image, lba)},
        {"pycdlib", testing::ReadWithPycdlib(image, lba, scratch)},
    };
    for (const auto& [reader, view] : views) {
        SCOPED_TRACE(reader + " reading the session at " + std::to_string(lba));
        ASSERT_EQ(view.error, "");
        std::vector<std::string> seen, wanted;
        for (const auto& item : view.files) seen.push_back(item.first);
        for (const auto& item : expected) wanted.push_back(item.first);
        EXPECT_EQ(seen, wanted);
        for (const auto& [path, bytes] : expected) {
            const auto it = view.files.find(path);
            if (it == view.files.end()) continue;
            EXPECT_TRUE(it->second == bytes)
                << path << ": " << it->second.size() << " bytes read, " << bytes.size() << " written";
        }
    }
}

const std::vector<std::pair<std::string, std::size_t>> kFirstRun = {
    {"empty.txt", 0},
    {"one.bin", 1},
    {"sector.bin", 2048},
    {"sector1.bin", 2049},
    {"block.bin", 63488},
    {"docs/a.txt", 1000},
    {"docs/b.txt", 1000},
    {"docs/deep/c.dat", 300000},
    {"large.bin", 3 * 1024 * 1024 + 5},
};
const std::vector<std::pair<std::string, std::size_t>> kSecondRun = {
    {"new.txt", 12345},
    {"more/x.bin", 70000},
    {"more/y.bin", 0},
};

// A first session on a blank CD-R, then a second session that imports the first: each reads back whole,
// byte for byte, in xorriso, isoinfo and pycdlib.
TEST(Recording, TwoSessionsOnCdRReadBackByThirdPartyReaders) {
    TRecorderRig rig;
    TQrvBurner& b = rig.burner();
    const auto first = makeSource(rig.tree(), "src1", kFirstRun, 1);
    ASSERT_TRUE(rig.Compile("run1", (rig.tree().root() / "src1").string()));
    EXPECT_EQ(b.StartSector, 0u);
    const auto one = rig.Burn();
    ASSERT_TRUE(one.started);
    EXPECT_EQ(one.error, "");
    EXPECT_EQ(one.writeDone, 1);
    EXPECT_TRUE(one.finalizingBeforeDone);
    EXPECT_EQ(b.BytesWritten(), b.ImageSectors * 2048);
    EXPECT_EQ(b.CacheFillPercent(), 0);
    expectReadersSee(rig.imagePath(), 0, under("run1", first), rig.tree().root());

    const auto second = makeSource(rig.tree(), "src2", kSecondRun, 50);
    b.SessionToImport = -1;
    ASSERT_TRUE(rig.Compile("run2", (rig.tree().root() / "src2").string()));
    const std::uint32_t start = b.StartSector;
    EXPECT_GT(start, 0u);
    const auto two = rig.Burn();
    ASSERT_TRUE(two.started);
    EXPECT_EQ(two.error, "");
    auto both = under("run1", first);
    for (const auto& item : under("run2", second)) both.insert(item);
    expectReadersSee(rig.imagePath(), start, both, rig.tree().root());
}

// Continuing a DVD+RW grows its volume: the second session is laid out after the first on an ECC block,
// its data are written and flushed, and only then is its descriptor set written at sector 16; every reader
// then finds both runs at sector 0.
TEST(Recording, ContinuingADvdPlusRwGrowsItsVolume) {
    TRigOptions options;
    options.media = TMediaType::DvdPlusRw;
    TRecorderRig rig(options);
    TQrvBurner& b = rig.burner();
    const auto first = makeSource(rig.tree(), "src1", kFirstRun, 1);
    ASSERT_TRUE(rig.Compile("run1", (rig.tree().root() / "src1").string()));
    ASSERT_EQ(rig.Burn().error, "");
    const auto firstSectors = static_cast<std::uint32_t>(b.ImageSectors);
    const auto second = makeSource(rig.tree(), "src2", kSecondRun, 5);
    b.SessionToImport = -1;
    ASSERT_TRUE(rig.Compile("run2", (rig.tree().root() / "src2").string()));
    EXPECT_EQ(b.StartSector, GrowthStartSector(firstSectors));
    ASSERT_EQ(b.GrownDescriptorSet().size(), 3u * 2048);  // primary, Joliet, terminator
    rig.recorder().ClearCommandLog();
    ASSERT_EQ(rig.Burn().error, "");
    const auto log = rig.recorder().CommandLog();
    const auto descriptors = std::find_if(log.begin(), log.end(), [](const auto& e) {
        return e.opcode == kOpWrite && e.lba == std::int64_t(kDescriptorSector);
    });
    ASSERT_NE(descriptors, log.end());
    EXPECT_TRUE(std::none_of(descriptors + 1, log.end(), [](const auto& e) { return e.opcode == kOpWrite; }));
    EXPECT_TRUE(std::any_of(log.begin(), descriptors, [](const auto& e) { return e.opcode == 0x35; }))
        << "the data are flushed before the descriptors are written";
    EXPECT_TRUE(std::any_of(descriptors, log.end(), [](const auto& e) { return e.opcode == 0x35; }));
    auto both = under("run1", first);
    for (const auto& item : under("run2", second)) both.insert(item);
    expectReadersSee(rig.imagePath(), 0, both, rig.tree().root());
}

// A volume whose descriptor claims a size beyond any disc is not grown, and the new session does not fall
// back to sector 0 over it: Prepare refuses.
TEST(Recording, VolumeClaimingToReachBeyondAnyDiscIsNotGrown) {
    TRigOptions options;
    options.media = TMediaType::DvdPlusRw;
    TRecorderRig rig(options);
    TQrvBurner& b = rig.burner();
    makeSource(rig.tree(), "src1", kFirstRun, 1);
    ASSERT_TRUE(rig.Compile("run1", (rig.tree().root() / "src1").string()));
    ASSERT_EQ(rig.Burn().error, "");
    {
        std::fstream image(rig.imagePath(), std::ios::in | std::ios::out | std::ios::binary);
        const char size[8] = {char(0xF8), 0, 0, char(0xF0), char(0xF0), 0, 0, char(0xF8)};
        image.seekp(16 * 2048 + 80);
        image.write(size, sizeof size);
    }
    b.SessionToImport = -1;
    EXPECT_FALSE(rig.Compile("run2", (rig.tree().root() / "src1").string()));
    EXPECT_TRUE(rig.Logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC"));
    EXPECT_TRUE(b.MetadataStream().empty());
}

// A blank overwritable disc reports one session that holds nothing: continuing it imports nothing and the
// backup is recorded from sector 0, read back whole by the third-party readers.
TEST(Recording, ContinuingABlankOverwritableDiscRecordsFromSectorZero) {
    for (const TMediaType media : {TMediaType::DvdPlusRw, TMediaType::DvdRam}) {
        SCOPED_TRACE(media == TMediaType::DvdRam ? "DVD-RAM" : "DVD+RW");
        TRigOptions options;
        options.media = media;
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        const auto first = makeSource(rig.tree(), "src1", kFirstRun, 1);
        b.SessionToImport = -1;
        ASSERT_TRUE(rig.Compile("run1", (rig.tree().root() / "src1").string()));
        EXPECT_EQ(b.StartSector, 0u);
        EXPECT_FALSE(rig.Logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC"));
        const auto one = rig.Burn();
        ASSERT_TRUE(one.started);
        EXPECT_EQ(one.error, "");
        expectReadersSee(rig.imagePath(), 0, under("run1", first), rig.tree().root());
    }
}

// The WRITE commands: consecutive addresses from the start, one per cache block of at most 31 sectors,
// ending at the session's last sector.
TEST(Recording, WritesCoverTheSessionInConsecutiveBlocks) {
    TRecorderRig rig;
    TQrvBurner& b = rig.burner();
    makeSource(rig.tree(), "src", kFirstRun, 1);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    rig.recorder().ClearCommandLog();
    ASSERT_EQ(rig.Burn().error, "");
    std::int64_t next = b.StartSector;
    int writes = 0;
    for (const auto& entry : rig.recorder().CommandLog()) {
        if (entry.opcode != kOpWrite) continue;
        EXPECT_EQ(entry.lba, next);
        EXPECT_GE(entry.length, 1u);
        EXPECT_LE(entry.length, 31u);
        next += entry.length;
        ++writes;
    }
    EXPECT_EQ(next, b.StartSector + b.ImageSectors);
    EXPECT_GE(writes, (b.ImageSectors + 30) / 31);
}

// The commands of the sequence that distinguish the disc groups and options, in the order sent: a run of
// WRITEs shows as one "2A"; START STOP UNIT shows as "1B" (load) or "1B eject".
std::vector<std::string> sequenceOf(const std::vector<TCommandLogEntry>& log) {
    static const std::vector<std::uint8_t> shown = {0x1B, 0xBB, 0x55, 0x54, 0xB6, 0xBF, 0xAD,
                                                    0x53, 0x2A, 0x35, 0x5B, 0x1E, 0xA1};
    std::vector<std::string> sequence;
    for (const auto& entry : log) {
        if (std::find(shown.begin(), shown.end(), entry.opcode) == shown.end()) continue;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", entry.opcode);
        std::string item = hex;
        if (entry.opcode == 0x1B && (entry.cdb[4] & 0x03) == 0x02) item += " eject";
        if (item == "2A" && !sequence.empty() && sequence.back() == "2A") continue;
        sequence.push_back(item);
    }
    return sequence;
}

int countOf(const std::vector<TCommandLogEntry>& log, std::uint8_t opcode) {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const auto& e) { return e.opcode == opcode; }));
}

// The commands after the last WRITE: the closing.
std::vector<TCommandLogEntry> afterData(const std::vector<TCommandLogEntry>& log) {
    auto last = std::find_if(log.rbegin(), log.rend(), [](const auto& e) { return e.opcode == kOpWrite; });
    return {last.base(), log.end()};
}

const std::vector<std::pair<std::string, std::size_t>> kSmallRun = {
    {"a.txt", 5000},
    {"b/c.bin", 200000},
    {"b/d.bin", 70000},
};

// The command sequences of the three disc groups and of the options that change them.
TEST(Recording, CommandSequenceByDiscGroupAndOptions) {
    struct TCase {
        const char* name;
        TMediaType media;
        bool testWrite, performOpc, finalizeTrack;
        std::vector<std::string> sequence;
        std::string logLine;
    };
    const std::vector<TCase> cases = {
        {"CD-R",
         TMediaType::CdR80,
         false,
         false,
         true,
         {"1B", "35", "BB", "55", "2A", "35", "55", "55", "5B", "1B", "1E"},
         ">>> STARTING WRITE PROCESS ON CD-R AT "},
        {"CD-R with power calibration",
         TMediaType::CdR80,
         false,
         true,
         true,
         {"1B", "35", "BB", "55", "54", "2A", "35", "55", "55", "5B", "1B", "1E"},
         ""},
        {"CD-R test write: no calibration, no closing",
         TMediaType::CdR80,
         true,
         true,
         true,
         {"1B", "35", "BB", "55", "2A", "35", "55", "1B", "1E"},
         ""},
        {"CD-R without FinalizeTrack: the session stays open",
         TMediaType::CdR80,
         false,
         false,
         false,
         {"1B", "35", "BB", "55", "2A", "35", "55", "1B", "1E"},
         ""},
        {"DVD-RAM: no load, speed, calibration, parameters or closing",
         TMediaType::DvdRam,
         false,
         true,
         true,
         {"35", "2A", "35", "1B", "1E"},
         ">>> STARTING WRITE PROCESS ON DVD-RAM AT "},
        {"DVD-R: DVD preparation without a reservation (incremental), long flush, track and session closed",
         TMediaType::DvdR,
         false,
         false,
         true,
         {"1B", "35", "BB", "55", "B6", "BF", "AD", "2A", "35", "55", "5B", "5B", "1B", "1E"},
         ">>> STARTING WRITE PROCESS ON DVD-R AT "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRigOptions options;
        options.media = c.media;
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        b.TestWrite = c.testWrite;
        b.PerformOPC = c.performOpc;
        b.FinalizeTrack = c.finalizeTrack;
        makeSource(rig.tree(), "src", kSmallRun, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        rig.recorder().ClearCommandLog();
        const auto outcome = rig.Burn();
        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.finalizing, 1);
        EXPECT_EQ(outcome.writeDone, 1);
        const auto log = rig.recorder().CommandLog();
        EXPECT_EQ(sequenceOf(log), c.sequence);
        if (!c.logLine.empty()) {
            bool found = false;
            for (const auto& [line, type] : rig.Log()) {
                if (line.rfind(c.logLine, 0) == 0 && line.back() == 'X' && type == 4) found = true;
            }
            EXPECT_TRUE(found) << c.logLine;
        }
    }
}

// The drive model marked DVR-103 announces its long lead-out on DVD-R; other drives do not.
TEST(Recording, LeadOutLineOfTheDvr103) {
    const std::string leadOut = "WRITING LEAD-OUT (THIS CAN TAKE APPROXIMATELY 15-20 MINUTES)";
    for (const bool dvr103 : {true, false}) {
        SCOPED_TRACE(dvr103 ? "DVR-103" : "another drive");
        TRigOptions options;
        options.media = TMediaType::DvdR;
        if (dvr103) options.faults = {"product \"DVD-RW  DVR-103 \""};
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        EXPECT_EQ(b.ModelDVR103, dvr103);
        makeSource(rig.tree(), "src", kSmallRun, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        EXPECT_EQ(rig.Burn().error, "");
        bool logged = false;
        for (const auto& [line, type] : rig.Log()) logged = logged || (line == leadOut && type == 4);
        EXPECT_EQ(logged, dvr103);
    }
}

// Faults in the drive during the data phase and the closing, each ending in its own error text; a
// recording that did not reach the disc is never reported as done, and no closing command follows it.
TEST(Recording, DriveFaultsGiveTheirErrorTexts) {
    struct TCase {
        const char* name;
        std::string fault;
        std::string error;
        bool closingCommands;  // the second write-parameters command and CLOSE TRACK/SESSION
    };
    const std::vector<TCase> cases = {
        {"busy a few times, then accepted", "busy-writes 3", "", true},
        {"busy for every attempt", "busy-writes 10000", "WRITER BUSY/BUFFER FULL", false},
        {"medium error in the data", "medium-error 40", "WRITER ERROR", false},
        {"flush fails in the closing", "illegal 35", "WRITER ERROR", false},
        {"session closing fails", "illegal 5B", "WRITER ERROR", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecorderRig rig;
        makeSource(rig.tree(), "src", kSmallRun, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        rig.AddFault(c.fault);
        rig.recorder().ClearCommandLog();
        const auto outcome = rig.Burn();
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.finalizing, 1);
        EXPECT_EQ(outcome.writeDone, 1);
        const auto log = rig.recorder().CommandLog();
        const auto closing = afterData(log);
        EXPECT_EQ(countOf(closing, 0x35), 1);  // the flush always runs
        EXPECT_EQ(countOf(closing, 0x5B), c.closingCommands ? 1 : 0);
        EXPECT_EQ(countOf(closing, 0x55) > 0, c.closingCommands);
        EXPECT_EQ(countOf(closing, 0x1E), 1);
        const auto sequence = sequenceOf(log);
        EXPECT_EQ(std::count(sequence.begin(), sequence.end(), "1B eject"), 0);
    }
}

// A WRITE answered TARGET BUSY is sent again, the same block at the same address, until accepted.
TEST(Recording, BusyWriteIsResentUntilAccepted) {
    TRecorderRig rig;
    makeSource(rig.tree(), "src", kSmallRun, 3);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    rig.AddFault("busy-writes 3");
    rig.recorder().ClearCommandLog();
    ASSERT_EQ(rig.Burn().error, "");
    std::vector<TCommandLogEntry> writes;
    for (const auto& e : rig.recorder().CommandLog()) {
        if (e.opcode == kOpWrite) writes.push_back(e);
    }
    ASSERT_GE(writes.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(writes[i].lba, rig.burner().StartSector);
        EXPECT_EQ(writes[i].length, writes[0].length);
        EXPECT_EQ(writes[i].good(), i == 3);
    }
    EXPECT_EQ(rig.burner().BytesWritten(), rig.burner().ImageSectors * 2048);
    // The stall is one log line; the refused attempts leave no failure line.
    int waiting = 0, failures = 0;
    for (const auto& [line, type] : rig.Log()) {
        waiting += line == ">>> WAITING FOR THE DRIVE (TARGET BUSY)" && type == 4;
        failures += line.find("WRITE (10)") != std::string::npos;
    }
    EXPECT_EQ(waiting, 1);
    EXPECT_EQ(failures, 0);
}

// A drive busy for every attempt: the stall line, then the failure line of the last attempt only.
TEST(Recording, EndlessBusyLogsOneFailureLine) {
    TRecorderRig rig;
    makeSource(rig.tree(), "src", kSmallRun, 3);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    rig.AddFault("busy-writes 10000");
    rig.burner().SleepHook = [](unsigned) {};
    ASSERT_EQ(rig.Burn().error, "WRITER BUSY/BUFFER FULL");
    std::vector<std::string> lines;
    for (const auto& [line, type] : rig.Log())
        if (line.find("WAITING FOR THE DRIVE") != std::string::npos ||
            line.find("WRITE (10)") != std::string::npos)
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ">>> WAITING FOR THE DRIVE (TARGET BUSY)");
    EXPECT_NE(lines[1].find("TARGET BUSY"), std::string::npos) << lines[1];
}

// A DVD-R drive that refuses the optional preparation steps: the recording goes on and the refusals stay
// out of the log, unless the probing commands' failures are asked for. (Recorded incrementally, a DVD-R
// reserves no track, so RESERVE TRACK is never sent.)
TEST(Recording, RefusedDvdPreparationIsNotAFailure) {
    for (const bool verbose : {false, true}) {
        TRigOptions options;
        options.media = TMediaType::DvdR;
        options.faults = {"illegal B6", "illegal BF", "illegal 53"};
        TRecorderRig rig(options);
        rig.burner().LogProbingFailures = verbose;
        makeSource(rig.tree(), "src", kSmallRun, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        ASSERT_EQ(rig.Burn().error, "");
        int refusals = 0;
        for (const auto& [line, type] : rig.Log())
            refusals += line.find("ILLEGAL REQUEST") != std::string::npos;
        EXPECT_EQ(refusals, verbose ? 2 : 0);
    }
}

// A drive that rejects READ BUFFER CAPACITY: tried once before the sixth block, never again in the data
// phase, and twice in the closing.
TEST(Recording, RejectedBufferCapacityIsNotRetried) {
    TRecorderRig rig;
    makeSource(rig.tree(), "src", {{"big.bin", 2 * 1024 * 1024}}, 3);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    rig.AddFault("illegal 5C");
    rig.recorder().ClearCommandLog();
    ASSERT_EQ(rig.Burn().error, "");
    const auto log = rig.recorder().CommandLog();
    int writesBefore = 0, writesSeen = 0;
    for (const auto& e : log) {
        if (e.opcode == kOpWrite) ++writesSeen;
        if (e.opcode == 0x5C && writesBefore == 0) writesBefore = writesSeen;
    }
    EXPECT_EQ(writesBefore, 5);
    EXPECT_EQ(countOf(log, 0x5C), 3);
    EXPECT_EQ(countOf(afterData(log), 0x5C), 2);
}

// An abort during the data phase: the flush still runs, OnFinalizingTrack comes before OnWriteDone, and
// neither the second write-parameters command nor CLOSE TRACK/SESSION is sent.
TEST(Recording, AbortInTheDataPhase) {
    TRecorderRig rig;
    TQrvBurner& b = rig.burner();
    makeSource(rig.tree(), "src", kSmallRun, 3);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    rig.AddFault("busy-writes 5");
    // The user presses Stop while the drive reports busy.
    b.SleepHook = [&b](unsigned ms) {
        if (ms == 100) b.AbortWrite();
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    };
    rig.recorder().ClearCommandLog();
    const auto outcome = rig.Burn();
    EXPECT_EQ(outcome.error, "OPERATION ABORTED BY USER");
    EXPECT_TRUE(outcome.finalizingBeforeDone);
    const auto closing = afterData(rig.recorder().CommandLog());
    EXPECT_EQ(countOf(closing, 0x35), 1);
    EXPECT_EQ(countOf(closing, 0x55), 0);
    EXPECT_EQ(countOf(closing, 0x5B), 0);
}

// The drive reports afterwards that buffered data did not reach the disc (a deferred error, sense
// response code 71h), or never becomes ready after the flush: the recording is not done.
TEST(Recording, DeferredErrorOrNoReadinessAfterTheData) {
    struct TCase {
        const char* name;
        std::uint8_t opcode;  // answered with the fault once a WRITE was seen
        TScsiResult answer;
    };
    const std::vector<TCase> cases = {
        {"flush reports a deferred write error", 0x35, test::CheckCondition(0x03, 0x0C, 0x00, true)},
        {"drive stays not ready after the flush", 0x00, test::CheckCondition(0x02, 0x04, 0x08)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecorderRig rig;
        makeSource(rig.tree(), "src", kSmallRun, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        auto wrote = std::make_shared<std::atomic<bool>>(false);
        const auto opcode = c.opcode;
        const auto answer = c.answer;
        rig.target().SetRule([wrote, opcode, answer](const TScsiRequest& request, TScsiResult& result) {
            if (request.cdb[0] == kOpWrite) *wrote = true;
            if (!*wrote || request.cdb[0] != opcode) return false;
            result = answer;
            return true;
        });
        rig.recorder().ClearCommandLog();
        const auto outcome = rig.Burn();
        EXPECT_EQ(outcome.error, "WRITER ERROR");
        EXPECT_EQ(countOf(rig.recorder().CommandLog(), 0x5B), 0);
    }
}

// A source file gone before the cache is full, or after: the recording goes on and succeeds, the file's
// extent holds zeros, the log says so and the burner counts it. With readers ahead of the cache, a file
// they read whole before it went is copied as they read it.
TEST(Recording, SourceFileGoneBeforeAndAfterTheCacheIsFull) {
    struct TCase {
        bool afterReady;
        int readers;
        bool readAhead;  // the file was read whole before it went
    };
    for (const auto [afterReady, readers, readAhead] :
         {TCase{false, 4, false}, TCase{true, 0, false}, TCase{true, 4, true}}) {
        SCOPED_TRACE(std::string(afterReady ? "after Ready" : "before Ready") + ", readers " +
                     std::to_string(readers));
        TRecorderRig rig;
        TQrvBurner& b = rig.burner();
        b.SetCacheSize(2097152);
        b.CacheHooks.ReadAhead.Readers = readers;
        const auto source = makeSource(rig.tree(), "src", {{"a.bin", 8 * 1024 * 1024}, {"b.bin", 10}}, 3);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        const std::string gone = (rig.tree().root() / (afterReady ? "src/b.bin" : "src/a.bin")).string();
        if (!afterReady) std::filesystem::remove(gone);
        // After Ready: the file goes while the cache first waits for room (it is full, Ready is set).
        b.CacheHooks.Sleep = [gone](int) {
            std::filesystem::remove(gone);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        };
        const auto outcome = rig.Burn();
        EXPECT_TRUE(outcome.started);
        EXPECT_EQ(outcome.error, "");
        // The readers normally have the small file long before the cache is full; should they not, the
        // copy must still agree with the log.
        const bool zeros = !readAhead || b.IncompleteFileCount() == 1;
        EXPECT_EQ(b.IncompleteFileCount(), zeros ? 1 : 0);
        EXPECT_EQ(rig.Logged(">>> FILE \"" + gone + "\" COULD NOT BE READ, ITS COPY HOLDS ZEROS"), zeros);
        auto expected = under("run", source);
        std::string& bytes = expected[afterReady ? "/run/b.bin" : "/run/a.bin"];
        if (zeros) std::fill(bytes.begin(), bytes.end(), '\0');
        const auto view = testing::ReadWithXorriso(rig.imagePath(), 0, rig.tree().root());
        ASSERT_EQ(view.error, "");
        EXPECT_TRUE(view.files == expected);
    }
}

// A file truncated after it was added keeps its place and size on the disc: its missing part reads as
// zeros, the log says so, and the recording succeeds.
TEST(Recording, FileTruncatedAfterItWasAdded) {
    TRecorderRig rig;
    const auto source = makeSource(rig.tree(), "src", {{"t.bin", 100000}, {"z.bin", 3000}}, 7);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    const std::string truncated = (rig.tree().root() / "src/t.bin").string();
    std::filesystem::resize_file(truncated, 30000);
    const auto outcome = rig.Burn();
    EXPECT_EQ(outcome.error, "");
    bool logged = false;
    for (const auto& [line, type] : rig.Log()) {
        if (line == ">>> FILE \"" + truncated + "\" CHANGED DURING BACKUP, ITS COPY IS INCOMPLETE" &&
            type == 0) {
            logged = true;
        }
    }
    EXPECT_TRUE(logged);
    auto expected = under("run", source);
    std::string& bytes = expected["/run/t.bin"];
    std::fill(bytes.begin() + 30000, bytes.end(), '\0');
    const auto view = testing::ReadWithXorriso(rig.imagePath(), 0, rig.tree().root());
    ASSERT_EQ(view.error, "");
    EXPECT_TRUE(view.files == expected);
}

// A file added after Prepare has no place in the laid-out session: the recording stops with an error
// instead of writing past the end of the session.
TEST(Recording, CompilationChangedAfterPrepareIsNotWrittenPastTheSession) {
    TRecorderRig rig;
    TQrvBurner& b = rig.burner();
    makeSource(rig.tree(), "src", kSmallRun, 3);
    ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
    const std::string late = rig.tree().writePattern("late.bin", 300000, 9);
    ASSERT_EQ(b.AddFile("\\run", late, false), 1);
    rig.recorder().ClearCommandLog();
    const auto outcome = rig.Burn();
    EXPECT_EQ(outcome.error, "WRITER ERROR");
    for (const auto& e : rig.recorder().CommandLog()) {
        if (e.opcode == kOpWrite) {
            EXPECT_LE(e.lba + e.length, b.StartSector + b.ImageSectors);
        }
    }
}

}  // namespace
}  // namespace brenwick
