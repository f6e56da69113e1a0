// Backups whose sources change or vanish while they are recorded, and backups after an interrupted
// recording: what the user gets back is the run's report and log, brenwick-cli's exit status, and the
// disc as third-party readers (xorriso, isoinfo) restore it.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/cli/testing/TCliRun.h"
#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "engine/qrEngineMessages.h"
#include "engine/testing/IsoReaders.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::InterruptedRecordingTest;
using testing::kClosingLine;
using testing::lastSessionStart;
using testing::WorkflowE2eTest;

constexpr const char* kSessionSizeLine = "<<< NEW SESSION SIZE : ";

// Every file of the session at `lba` as xorriso and isoinfo restore it; both must agree.
std::map<std::string, std::string> restoredByTwoReaders(const std::string& image, std::int32_t lba,
                                                        const fs::path& scratch) {
    const auto byXorriso = testing::ReadWithXorriso(image, std::uint32_t(lba), scratch);
    const auto byIsoinfo = testing::ReadWithIsoinfo(image, std::uint32_t(lba));
    EXPECT_EQ(byXorriso.error, "");
    EXPECT_EQ(byIsoinfo.error, "");
    EXPECT_TRUE(byXorriso.files == byIsoinfo.files) << "the readers disagree";
    return byXorriso.files;
}

class IncompleteCopyTest : public WorkflowE2eTest {
  protected:
    // Runs `change` once the session has been laid out, before its files are read.
    void onceLaidOut(std::function<void()> change) {
        m_onLog = [this, change = std::move(change)](const std::string& line) {
            if (line.rfind(kSessionSizeLine, 0) != 0) return;
            change();
            m_onLog = nullptr;
        };
    }
    std::map<std::string, std::string> restored(std::int32_t lba) const {
        return restoredByTwoReaders(m_recorders + "/default/disc.img", lba, m_dir);
    }
    std::string onDisc(const std::string& rel) const { return "/2024-05-01 09.05" + src(rel); }
    std::string line(const char* pattern, const std::string& rel) const {
        return FormatMessage(pattern, src(rel));
    }
};

constexpr const char* kUnreadable = ">>> FILE \"%s\" COULD NOT BE READ, ITS COPY HOLDS ZEROS";
constexpr const char* kChanged = ">>> FILE \"%s\" CHANGED DURING BACKUP, ITS COPY IS INCOMPLETE";

// A file that vanished, and one that became a folder, after they were added: the backup goes on, their
// copies hold zeros of their recorded size, each is logged, and every other file is whole. The session
// is closed with exactly the blocks its descriptors describe.
TEST_F(IncompleteCopyTest, UnreadableFilesHoldZerosAndTheRestIsRecorded) {
    makeRecorder("default", TMediaType::CdR80);
    writeBinary("Docs/gone.bin", 300000);
    writeBinary("Docs/now-a-folder.bin", 5000);
    writeBinary("Docs/after.bin", 200000);
    start();
    onceLaidOut([this] {
        fs::remove(src("Docs/gone.bin"));
        fs::remove(src("Docs/now-a-folder.bin"));
        fs::create_directory(src("Docs/now-a-folder.bin"));
    });
    const TRunReport r = burn({src("Docs/"), src("notes.txt")});
    ASSERT_EQ(r.outcome, TRunOutcome::Recorded) << r.error;
    EXPECT_EQ(r.filesIncomplete, 2);
    EXPECT_TRUE(r.partial());
    EXPECT_TRUE(logged(line(kUnreadable, "Docs/gone.bin")));
    EXPECT_TRUE(logged(line(kUnreadable, "Docs/now-a-folder.bin")));
    EXPECT_EQ(m_log.back(), "<<< WRITE/BURNCD PROCESS DONE");
    stop();

    const TRecorderState state = disc();
    ASSERT_EQ(state.disc.closedSessions, 1);
    ASSERT_EQ(state.disc.tracks.size(), 1u);
    EXPECT_GE(state.disc.tracks[0].blocks - state.disc.tracks[0].runOut, r.sessionBytes / 2048);
    const auto files = restored(0);
    EXPECT_EQ(files.at(onDisc("Docs/gone.bin")), std::string(300000, '\0'));
    EXPECT_EQ(files.at(onDisc("Docs/now-a-folder.bin")), std::string(5000, '\0'));
    for (const char* rel : {"Docs/after.bin", "Docs/report.txt", "Docs/sub/deep.txt", "notes.txt"})
        EXPECT_EQ(files.at(onDisc(rel)), contents(m_src / rel)) << rel;
}

// A file that shrank and one that grew after they were added: both are incomplete copies, logged and
// counted. The shrunk one keeps its recorded size with zeros after its remaining bytes; the grown one is
// its first bytes, as many as were recorded.
TEST_F(IncompleteCopyTest, FilesChangedDuringTheBackupAreReportedIncomplete) {
    makeRecorder("default", TMediaType::CdR80);
    writeBinary("Docs/shrinks.bin", 100000);
    writeBinary("Docs/grows.bin", 70000);
    const std::string before = contents(m_src / "Docs/grows.bin");
    start();
    onceLaidOut([this] {
        fs::resize_file(src("Docs/shrinks.bin"), 1000);
        std::ofstream(src("Docs/grows.bin"), std::ios::app) << std::string(5000, 'g');
    });
    const TRunReport r = burn({src("Docs/")});
    ASSERT_EQ(r.outcome, TRunOutcome::Recorded) << r.error;
    EXPECT_EQ(r.filesIncomplete, 2);
    EXPECT_TRUE(logged(line(kChanged, "Docs/shrinks.bin")));
    EXPECT_TRUE(logged(line(kChanged, "Docs/grows.bin")));
    stop();

    const auto files = restored(0);
    std::string shrunk = contents(m_src / "Docs/shrinks.bin");
    shrunk.resize(100000, '\0');
    EXPECT_EQ(files.at(onDisc("Docs/shrinks.bin")), shrunk);
    EXPECT_EQ(files.at(onDisc("Docs/grows.bin")), before);
    EXPECT_EQ(files.at(onDisc("Docs/report.txt")), contents(m_src / "Docs/report.txt"));
}

// brenwick-cli ends a backup with an incomplete copy with exit status 3 and says so in its summary: here
// a log file that another program keeps appending to while it is recorded.
TEST_F(IncompleteCopyTest, CommandLineEndsAnIncompleteBackupWithStatus3) {
    makeRecorder("default", TMediaType::CdR80);
    const std::string growing = src("Docs/growing.log");
    std::ofstream(growing) << "start\n";
    const std::string profile = (m_dir / "p.ini").string();
    std::ofstream(profile) << "[Archives]\nn0=" << src("Docs/") << "\nCount=1\n";
    std::atomic<bool> done{false};
    std::thread appender([&] {
        std::ofstream log(growing, std::ios::app);
        while (!done) {
            log << "line\n" << std::flush;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const auto r =
        testing::RunCli(BRENWICK_CLI, {"burn", profile}, (m_dir / "data").string(), m_dir.string());
    done = true;
    appender.join();
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(r.has(FormatMessage(kChanged, growing))) << r.out;
    EXPECT_TRUE(r.has("<<< WRITE/BURNCD PROCESS DONE")) << r.out;
    EXPECT_EQ(r.lastLine().rfind(
                  "brenwick-cli: backup done: 3 files, 0 MB, 1 file copied incomplete (see above); ", 0),
              0u)
        << r.out;
}

class CompletedSessionTest : public InterruptedRecordingTest {
  protected:
    std::map<std::string, std::string> restored(std::int32_t lba) const {
        return restoredByTwoReaders(m_recorders + "/default/disc.img", lba, m_dir);
    }
    std::size_t indexOf(const std::string& prefix) const {
        for (std::size_t i = 0; i < m_log.size(); ++i)
            if (m_log[i].rfind(prefix, 0) == 0) return i;
        return m_log.size();
    }
};

constexpr const char* kCostLine = "<<< COMPLETING THE INTERRUPTED SESSION WITH ZEROS TAKES ";

// A stopped backup of a file larger than the gap between sessions: its session's directory lists the whole
// file. The next backup first counts what completing that session with zeros costs: on a disc that has room
// for the new session alone it records nothing and leaves the disc as it was. With room for both, the
// stopped session is completed with zeros and closed, so that readers restore the stopped file as its
// recorded part and zeros (never as the next session's data), the new session reads back whole, and the
// recorder's state marks the completed session.
TEST_F(CompletedSessionTest, StoppedSessionIsCompletedWithZerosBeforeTheNextBackup) {
    makeRecorder("default", TMediaType::CdR80);
    std::ofstream(m_src / "big.bin", std::ios::binary) << std::string(24 << 20, 'x');
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(stoppedBackup());
    const TRecorderState stopped = disc();
    const std::int32_t stoppedStart = stopped.disc.sessionStart(2);
    const std::int32_t nextWritable = stopped.disc.invisibleTrack()->start;

    // Room for the new session, not for the zeros as well.
    setCapacity(nextWritable + 9000);
    start(11, 30);
    m_log.clear();
    EXPECT_EQ(burn({src("Docs/")}).outcome, TRunOutcome::NoSpace);
    EXPECT_LT(indexOf(kCostLine), indexOf("<<< REQUIRE MORE SPACE ON DISC!"));
    EXPECT_EQ(count(kClosingLine), 0u);
    stop();
    EXPECT_EQ(disc().disc.tracks.size(), stopped.disc.tracks.size());
    EXPECT_EQ(disc().disc.openSession(), 2);

    setCapacity(stopped.disc.capacity);
    start(11, 30);
    m_log.clear();
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
    EXPECT_LT(indexOf(kCostLine), indexOf(kClosingLine));
    EXPECT_LT(indexOf(kClosingLine), indexOf("<<< FINALIZING TRACK"));
    const std::int32_t mounted = lastSessionStart(*m_cd);
    stop();

    const TRecorderState state = disc();
    ASSERT_EQ(state.disc.closedSessions, 3);
    EXPECT_EQ(mounted, state.disc.sessionStart(3));
    const auto before = restored(stoppedStart);
    const std::string big = before.at("/2024-05-01 10.00" + src("big.bin"));
    ASSERT_EQ(big.size(), std::size_t(24 << 20));
    const std::size_t written = big.find('\0');
    ASSERT_NE(written, std::string::npos) << "the stopped copy cannot be whole";
    EXPECT_GT(written, 0u);
    EXPECT_EQ(big.find_first_not_of('x'), written);
    EXPECT_EQ(big.find_first_not_of('\0', written), std::string::npos) << "other data after the zeros";
    const auto after = restored(mounted);
    for (const char* rel : {"Docs/report.txt", "Docs/sub/deep.txt"})
        EXPECT_EQ(after.at("/2024-05-01 11.30" + src(rel)), contents(m_src / rel)) << rel;

    const auto shown = testing::RunCli(BRENWICK_CLI, {"media", "show", "default"}, (m_dir / "data").string(),
                                       m_dir.string());
    EXPECT_EQ(shown.status, 0) << shown.err;
    for (const std::string& line : shown.lines()) {
        if (line.rfind("session ", 0) != 0) continue;
        const bool marked = line.find(", incomplete (interrupted recording): blocks ") != std::string::npos;
        EXPECT_EQ(marked, line.rfind("session 2:", 0) == 0) << line;
    }
}

}  // namespace
}  // namespace brenwick
