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
using testing::WorkflowE2eTest;

constexpr const char* kSessionSizeLine = "<<< NEW SESSION SIZE : ";

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
    // Every file of the session at `lba` as xorriso and isoinfo restore it; both must agree.
    std::map<std::string, std::string> restored(std::int32_t lba) {
        const std::string image = m_recorders + "/default/disc.img";
        const auto byXorriso = testing::ReadWithXorriso(image, std::uint32_t(lba), m_dir);
        const auto byIsoinfo = testing::ReadWithIsoinfo(image, std::uint32_t(lba));
        EXPECT_EQ(byXorriso.error, "");
        EXPECT_EQ(byIsoinfo.error, "");
        EXPECT_TRUE(byXorriso.files == byIsoinfo.files) << "the readers disagree";
        return byXorriso.files;
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
    EXPECT_EQ(r.lastLine(), "brenwick-cli: backup done: 3 files, 0 MB, 1 file copied incomplete (see above)")
        << r.out;
}

}  // namespace
}  // namespace brenwick
