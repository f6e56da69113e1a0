// Whole backups onto the image recorder's DVD types: how each disc is named, the speed the log gives in
// the medium's unit, how a blank disc reads, and what xorriso and isoinfo read back.
#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "engine/testing/IsoReaders.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

class DvdWorkflowTest : public InterruptedRecordingTest {
  protected:
    // The volume at sector 0 as every reader the tests use finds it.
    void expectVolume(const std::vector<std::pair<std::string, std::string>>& expected) {
        const std::string image = m_recorders + "/default/disc.img";
        std::map<std::string, std::string> want;
        for (const auto& [folder, rel] : expected) want[onDisc(folder, rel)] = contents(m_src / rel);
        const std::pair<const char*, TReaderTree> readers[] = {{"xorriso", ReadWithXorriso(image, 0, m_dir)},
                                                               {"isoinfo", ReadWithIsoinfo(image, 0)},
                                                               {"pycdlib", ReadWithPycdlib(image, 0, m_dir)},
                                                               {"bsdtar", ReadWithBsdtar(image, m_dir)},
                                                               {"7z", ReadWith7z(image, m_dir)}};
        for (const auto& [name, tree] : readers) {
            ASSERT_EQ(tree.error, "") << name;
            EXPECT_EQ(withoutManifests(tree.files), want) << name;
        }
    }
    // The sector the last backup grew the volume from, as its log says; -1 when it did not grow one.
    std::int64_t grownFrom() const {
        const std::string prefix = ">>> GROWING THE VOLUME ON THE DISC FROM SECTOR ";
        for (const std::string& line : m_log)
            if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size()));
        return -1;
    }
    bool loggedPrefix(const std::string& prefix) const {
        return std::any_of(m_log.begin(), m_log.end(),
                           [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }
};

// The first backup on each blank DVD type with "continue" on: the disc is named as it is, the speed is the
// drive's current one in DVD units, a blank overwritable disc has no session, nothing used and nothing to
// import; the backup reads back whole.
TEST_F(DvdWorkflowTest, FirstBackupNamesTheDiscAndItsSpeed) {
    const struct {
        TMediaType media;
        const char* name;
        const char* speed;  // the fastest speed the recorder lists for the medium, in DVD units
        bool overwritable;
    } cases[] = {{TMediaType::DvdR, "DVD-R", "16X", false},
                 {TMediaType::DvdRwSequential, "DVD-RW SR", "6X", false},
                 {TMediaType::DvdPlusR, "DVD+R", "16X", false},
                 {TMediaType::DvdPlusRw, "DVD+RW", "8X", true},
                 {TMediaType::DvdRwRestricted, "DVD-RW RO", "6X", true},
                 {TMediaType::DvdRam, "DVD-RAM", "5X", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_recorders);
        m_finished.clear();
        m_log.clear();
        makeRecorder("default", c.media);
        start(9, 5);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(m_discType, c.name);
        EXPECT_TRUE(logged(std::string(">>> STARTING WRITE PROCESS ON ") + c.name + " AT " + c.speed));
        EXPECT_FALSE(loggedPrefix(">>> ERROR IMPORTING SESSION"));
        EXPECT_FALSE(loggedPrefix("<<< ERROR IMPORTING SESSION"));
        if (c.overwritable) {
            EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 0"));
            const std::int64_t bytes = std::int64_t(MediaTraits(c.media).capacity) * kSectorSize;
            EXPECT_TRUE(logged("<<< DISC SIZE/USED/FREE : " + MegabytesText(bytes) + "/0 MB/" +
                               MegabytesText(bytes)));
        }
        stop();
        expectSession(0,
                      {{"2024-05-01 09.05", "Docs/report.txt"}, {"2024-05-01 09.05", "Docs/sub/deep.txt"}});
    }
}

// Write-once DVDs stay appendable: each backup with "continue" is a session of its own after the border
// the drive reports, importing the one before; "close disc" finalizes; the next run is refused up front.
TEST_F(DvdWorkflowTest, WriteOnceDiscsAreContinuedUntilClosed) {
    for (const TMediaType media : {TMediaType::DvdR, TMediaType::DvdRwSequential, TMediaType::DvdPlusR}) {
        SCOPED_TRACE(std::string(MediaTraits(media).key));
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", media);
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/default", [](TRecorderState& s) { s.disc.borderBlocks = 1000; }, error));
        start(9, 5);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        stop();
        const std::int32_t firstEnd = disc().disc.tracks.at(0).end();

        start(10, 0);
        m_log.clear();
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        const std::int32_t second = (firstEnd + 1000 + 15) / 16 * 16;  // after the border, on an ECC block
        EXPECT_EQ(lastSessionStart(*m_cd), second);
        const std::int64_t freeBytes = std::int64_t(MediaTraits(media).capacity - second) * kSectorSize;
        EXPECT_TRUE(loggedPrefix("<<< DISC SIZE/USED/FREE : ")) << "the free space of the invisible track";
        EXPECT_TRUE(std::any_of(m_log.begin(), m_log.end(), [&](const std::string& line) {
            return line.rfind("<<< DISC SIZE/USED/FREE : ", 0) == 0 &&
                   line.size() > MegabytesText(freeBytes).size() &&
                   line.compare(line.size() - MegabytesText(freeBytes).size(), std::string::npos,
                                MegabytesText(freeBytes)) == 0;
        }));
        EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 1"));
        m_wf->Options().CloseDisc = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));
        const std::int32_t third = lastSessionStart(*m_cd);
        stop();
        EXPECT_TRUE(disc().disc.finalized);
        expectSession(third, {{"2024-05-01 09.05", "Docs/report.txt"},
                              {"2024-05-01 09.05", "Docs/sub/deep.txt"},
                              {"2024-05-01 10.00", "notes.txt"},
                              {"2024-05-01 10.00 (2)", "a:b/colon.txt"}});  // the same minute

        start(12, 0);
        m_log.clear();
        const TRunReport refused = burn({src("notes.txt")});
        EXPECT_EQ(refused.outcome, TRunOutcome::DiscClosed);
        EXPECT_TRUE(logged("<<< DISC IS CLOSED: NO MORE SESSIONS CAN BE ADDED"));
        EXPECT_FALSE(loggedPrefix("<<< REQUIRE MORE SPACE"));
        stop();
    }
}

const std::vector<std::pair<std::string, std::string>> kFirstRun = {
    {"2024-05-01 09.05", "Docs/report.txt"}, {"2024-05-01 09.05", "Docs/sub/deep.txt"}};

// Overwritable discs grow one volume: each backup with "continue" is written after the recorded volume on an
// ECC block and imports its tree, so every reader finds every run at sector 0; a run without either option
// is refused (the checks tests read what it leaves); "erase before" replaces the volume.
TEST_F(DvdWorkflowTest, OverwritableDiscsGrowOneVolume) {
    for (const TMediaType media : {TMediaType::DvdPlusRw, TMediaType::DvdRam, TMediaType::DvdRwRestricted}) {
        SCOPED_TRACE(std::string(MediaTraits(media).key));
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", media);
        start(9, 5);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(grownFrom(), -1) << "a blank disc is written from sector 0";
        stop();

        start(10, 0);
        m_log.clear();
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        const std::int64_t second = grownFrom();
        EXPECT_GT(second, 0);
        EXPECT_EQ(second % 16, 0);
        EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 1"));
        m_log.clear();
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));
        EXPECT_GT(grownFrom(), second);
        stop();
        ASSERT_NO_FATAL_FAILURE(expectVolume({kFirstRun[0],
                                              kFirstRun[1],
                                              {"2024-05-01 10.00", "notes.txt"},
                                              {"2024-05-01 10.00 (2)", "a:b/colon.txt"}}));

        start(11, 0);
        m_log.clear();
        m_wf->Options().EraseBefore = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        EXPECT_EQ(grownFrom(), -1);
        EXPECT_TRUE(logged("<<< ERASE PROCESS DONE"));
        stop();
        ASSERT_NO_FATAL_FAILURE(expectVolume({{"2024-05-01 11.00", "notes.txt"}}));
    }
}

// A DVD+RW that was never formatted reads as blank: Prepare finds room, Burn formats the disc first and
// records it as a formatted empty one, and the next backup with "continue" grows the volume. A stop during
// the format lets the drive end it, and nothing is recorded.
TEST_F(DvdWorkflowTest, UnformattedDvdPlusRwIsFormattedFirst) {
    for (const bool stopDuringFormat : {true, false}) {
        SCOPED_TRACE(stopDuringFormat ? "stopped" : "recorded");
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::DvdPlusRw);
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/default", [](TRecorderState& s) { s.disc.formatted = false; }, error))
            << error;
        start(9, 5);
        m_log.clear();
        m_wf->Options().Archives = {src("Docs/")};
        m_wf->ButtonPrePareClick();
        EXPECT_EQ(m_wf->LastReport().outcome, TRunOutcome::Prepared);
        if (stopDuringFormat) {
            const std::size_t jobs = m_finished.size() + 1;
            m_wf->ButtonBurnClick();
            EXPECT_TRUE(m_wf->RequestStop());
            waitForEnd(jobs);
            ASSERT_EQ(m_finished.size(), jobs);
            EXPECT_EQ(m_finished.back().outcome, TRunOutcome::Stopped);
            stop();
            EXPECT_TRUE(disc().disc.formatted);
            EXPECT_EQ(disc().disc.recordedEnd, 0);
            continue;
        }
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_TRUE(logged("<<< THE DVD+RW WAS NEVER FORMATTED: FORMATTING IT FIRST"));
        EXPECT_TRUE(logged(">>> FORMATTING THE DVD+RW (IT WAS NEVER FORMATTED)"));
        EXPECT_EQ(grownFrom(), -1);
        stop();
        EXPECT_TRUE(disc().disc.formatted);
        ASSERT_NO_FATAL_FAILURE(expectVolume(kFirstRun));

        start(10, 0);
        m_log.clear();
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        EXPECT_FALSE(logged("<<< THE DVD+RW WAS NEVER FORMATTED: FORMATTING IT FIRST"));
        EXPECT_GT(grownFrom(), 0);
        stop();
        ASSERT_NO_FATAL_FAILURE(
            expectVolume({kFirstRun[0], kFirstRun[1], {"2024-05-01 10.00", "notes.txt"}}));
    }
}

// A recording killed half way while it grows the volume: the descriptors at sector 16 are only rewritten
// after the new data are flushed, so the old volume reads back whole, and the next backup grows it.
TEST_F(DvdWorkflowTest, KilledGrowthLeavesTheOldVolumeWhole) {
    makeRecorder("default", TMediaType::DvdPlusRw);
    makeBig();
    start(9, 5);
    m_wf->Options().Import = true;
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(killedBackup(true));
    EXPECT_NE(contents(m_recorders + "/default/disc.img").find(std::string(4096, 'x')), std::string::npos)
        << "the killed recording wrote data";
    ASSERT_NO_FATAL_FAILURE(expectVolume(kFirstRun));

    start(11, 0);
    m_wf->Options().Import = true;
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(expectVolume({kFirstRun[0], kFirstRun[1], {"2024-05-01 11.00", "notes.txt"}}));
}

// For every DVD type holding one backup (and, for write-once types, closed by it; a DVD+RW also never
// formatted) and every combination of "continue", "erase before" and "close disc": Prepare reaches the
// verdict Burn then reaches (a Prepare that fits stands for a Burn that records).
TEST_F(DvdWorkflowTest, PrepareAndBurnReachTheSameVerdict) {
    const TMediaType types[] = {TMediaType::DvdR,      TMediaType::DvdRwSequential, TMediaType::DvdPlusR,
                                TMediaType::DvdPlusRw, TMediaType::DvdRwRestricted, TMediaType::DvdRam};
    for (const TMediaType media : types) {
        for (const bool other : {false, true}) {
            // The other state: a write-once disc closed by its backup, a DVD+RW never formatted.
            const bool closed = other && MediaTraits(media).recording == TRecording::Sequential;
            const bool unformatted = other && media == TMediaType::DvdPlusRw;
            if (other && !closed && !unformatted) continue;
            for (int options = 0; options < 8; ++options) {
                const bool import = options & 1, erase = options & 2, close = options & 4;
                SCOPED_TRACE(std::string(MediaTraits(media).key) + (closed ? " closed" : "") +
                             (unformatted ? " unformatted" : "") + (import ? " continue" : "") +
                             (erase ? " erase" : "") + (close ? " close" : ""));
                fs::remove_all(m_recorders);
                m_finished.clear();
                makeRecorder("default", media);
                std::string error;
                if (unformatted) {
                    ASSERT_TRUE(UpdateRecorderState(
                        m_recorders + "/default", [](TRecorderState& s) { s.disc.formatted = false; },
                        error));
                } else {
                    start(9, 5);
                    m_wf->Options().Import = true;
                    m_wf->Options().CloseDisc = closed;
                    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
                    stop();
                }

                start(10, 0);
                m_wf->Options().Import = import;
                m_wf->Options().EraseBefore = erase;
                m_wf->Options().CloseDisc = close;
                m_wf->Options().Archives = {src("Docs/")};
                m_wf->ButtonPrePareClick();
                const TRunOutcome prepared = m_wf->LastReport().outcome;
                const TRunOutcome burnt = burn({src("Docs/")}).outcome;
                EXPECT_EQ(prepared == TRunOutcome::Prepared ? TRunOutcome::Recorded : prepared, burnt)
                    << int(prepared) << " " << int(burnt);
                stop();
            }
        }
    }
}

// A DVD-RW left for disc-at-once recording by a minimal blank, and one erased before a backup, are blanked
// fully, so that the backup leaves them appendable: the next backup continues them.
TEST_F(DvdWorkflowTest, DvdRwStaysAppendableAfterABlank) {
    for (const bool eraseBefore : {false, true}) {
        SCOPED_TRACE(eraseBefore ? "erase before" : "minimally blanked");
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::DvdRwSequential);
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/default", [](TRecorderState& s) { s.disc.incrementalAllowed = false; }, error));
        if (eraseBefore) {
            start(8, 0);
            m_wf->Options().CloseDisc = true;  // recorded disc-at-once: the disc is closed
            ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));
            stop();
        }
        start(9, 5);
        m_log.clear();
        m_wf->Options().EraseBefore = eraseBefore;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(logged("<<< THE DVD-RW TAKES ONLY DISC-AT-ONCE RECORDING: BLANKING IT FULLY FIRST"),
                  !eraseBefore);
        stop();
        EXPECT_FALSE(disc().disc.finalized);
        start(10, 0);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        const std::int32_t second = lastSessionStart(*m_cd);
        stop();
        expectSession(second, {kFirstRun[0], kFirstRun[1], {"2024-05-01 10.00", "notes.txt"}});
    }
}

// A CD recorder set to 4x says so; it used to say "1X" because the drive also writes DVD-RAM.
TEST_F(DvdWorkflowTest, CdRecorderLogsItsSetSpeed) {
    makeRecorder("default", TMediaType::CdR80);
    throttle("default", 4);
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    EXPECT_TRUE(logged(">>> STARTING WRITE PROCESS ON CD-R AT 4X"));
}

}  // namespace
}  // namespace brenwick
