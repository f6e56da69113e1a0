// Whole backup runs: the workflow drives the real burner, which records into an image recorder of a
// temporary recorder set; what was recorded is read back by xorriso, a reader the project did not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TQrvBurnerAccess.h"
#include "drive/qrASPI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;

std::tm localTime(int hour, int minute) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 1;
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

// Runs a command and returns what it printed on standard output; the exit status goes to `status`.
std::string capture(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    status = ::pclose(pipe);
    return out;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class WorkflowE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_src = m_dir / "home" / "ann";
        fs::create_directories(m_src / "Docs" / "sub");
        fs::create_directories(m_src / "a:b");
        write("Docs/report.txt", "quarterly figures\n");
        write("Docs/sub/deep.txt", "deep\n");
        write("notes.txt", "notes\n");
        write("a:b/colon.txt", "colon\n");
        ASSERT_EQ(::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1), 0);
        m_recorders = (m_dir / "data" / "brenwick" / "recorders").string();
    }
    void TearDown() override {
        if (m_cd) m_cd->WaitForRecording();
        if (m_cd) m_cd->WaitForErase();
        m_wf.reset();
        m_access.reset();
        m_cd.reset();
        ShutdownTransport();
        fs::remove_all(m_dir);
    }

    void write(const std::string& rel, const std::string& text) const { std::ofstream(m_src / rel) << text; }
    std::string src(const std::string& rel) const { return (m_src / rel).string(); }

    // A recorder named `name` with a blank disc whose busy operations take no time.
    void makeRecorder(const std::string& name, TMediaType media) {
        std::string error;
        ASSERT_TRUE(CreateRecorder(m_recorders + "/" + name, media, error)) << error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/" + name, [](TRecorderState& s) { s.settings.busy = InstantBusyTimes(); }, error))
            << error;
    }
    void throttle(const std::string& name, unsigned speedX) {
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/" + name, [speedX](TRecorderState& s) { s.settings.speedX = speedX; }, error))
            << error;
    }

    // The burner and the workflow over the recorder set, with the clock at `hour`:`minute`.
    void start(int hour = 9, int minute = 5) {
        m_clock = localTime(hour, minute);
        m_cd = std::make_unique<TQrvBurner>();
        m_cd->SleepHook = [](unsigned ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms > 5 ? 5 : ms));
        };
        m_cd->SetCacheSize(kSmallestCacheSize);
        m_access = std::make_unique<TQrvBurnerAccess>(*m_cd);
        TWorkflowView view;
        view.log = [this](const std::string& line, std::uint8_t) { m_log.push_back(line); };
        view.discType = [this](const std::string& name) { m_discType = name; };
        view.jobFinished = [this](const TRunReport& r) { m_finished.push_back(r); };
        m_wf = std::make_unique<TBackupWorkflow>(*m_access, view, [this] { return m_clock; });
        ASSERT_TRUE(ReinitializeDrives(*m_cd));
        m_wf->Start();
        m_wf->ProfileOpened();
        m_wf->DeviceChange(0);
    }
    // Runs the events and the timer until a Burn or Erase has ended.
    void waitForEnd(std::size_t jobs = 1) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (m_finished.size() < jobs || m_wf->JobActive()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the job did not end";
            (void)m_wf->WaitForEvents(std::chrono::milliseconds(20));
            m_wf->ProcessEvents();
            if (m_wf->TimerRunning()) (void)m_wf->Timer1Timer();
        }
        m_cd->WaitForRecording();
        m_wf->ProcessEvents();
    }
    bool logged(const std::string& line) const {
        return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
    }

    // The disc as the recorder's state file holds it (after the transport let the recorder go).
    TRecorderState disc(const std::string& name = "default") const {
        TRecorderState state;
        std::string error;
        EXPECT_TRUE(LoadStateFile(m_recorders + "/" + name, state, error)) << error;
        return state;
    }
    // Every path of the session starting at `lba`, as xorriso lists them.
    std::set<std::string> readBack(std::int32_t lba, const std::string& name = "default") const {
        const std::string image = m_recorders + "/" + name + "/disc.img";
        int status = 0;
        const std::string out =
            capture("xorriso -abort_on FAILURE -indev " + quoted(image) + " -load sbsector " +
                        std::to_string(lba) + " -find / -exec lsdl -- 2>/dev/null",
                    status);
        EXPECT_EQ(status, 0) << "xorriso could not read the session (is xorriso installed?)";
        std::set<std::string> paths;
        std::size_t pos = 0;
        while ((pos = out.find(" '", pos)) != std::string::npos) {
            const std::size_t end = out.find("'\n", pos + 2);
            if (end == std::string::npos) break;
            paths.insert(out.substr(pos + 2, end - pos - 2));
            pos = end;
        }
        return paths;
    }
    std::string onDisc(const std::string& session, const std::string& rel) const {
        return "/" + session + src(rel);
    }

    fs::path m_dir, m_src;
    std::string m_recorders;
    std::tm m_clock{};
    std::unique_ptr<TQrvBurner> m_cd;
    std::unique_ptr<TQrvBurnerAccess> m_access;
    std::unique_ptr<TBackupWorkflow> m_wf;
    std::vector<std::string> m_log;
    std::string m_discType;
    std::vector<TRunReport> m_finished;
};

// Folders with and without their "/", a file, an entry with a colon and a missing one: the missing one is
// skipped and all others are on the disc under the dated folder, byte for byte as xorriso reads them.
TEST_F(WorkflowE2eTest, BackupIsReadBackByXorriso) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->Options().Archives = {src("Docs"), src("notes.txt"), src("a:b/"), src("gone.txt")};
    m_wf->Options().Volume = "Weekly";
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Recorded) << m_finished[0].error;
    EXPECT_EQ(m_finished[0].entriesSkipped, 1);
    EXPECT_EQ(m_finished[0].filesAdded, 4);
    EXPECT_TRUE(logged("<<< SKIP! " + src("gone.txt") + " DOES NOT EXIST!"));
    EXPECT_EQ(m_log.back(), "<<< WRITE/BURNCD PROCESS DONE");
    EXPECT_EQ(m_discType, "CD-RW");

    m_cd->WaitForRecording();
    ShutdownTransport();
    const std::set<std::string> paths = readBack(0);
    for (const char* rel : {"Docs/report.txt", "Docs/sub/deep.txt", "notes.txt", "a:b/colon.txt"})
        EXPECT_TRUE(paths.count(onDisc("2024-05-01 09.05", rel))) << rel;
    EXPECT_FALSE(paths.count(onDisc("2024-05-01 09.05", "report.txt")));  // not spilled into the parent
    EXPECT_FALSE(paths.count(onDisc("2024-05-01 09.05", "gone.txt")));
}

TEST_F(WorkflowE2eTest, EmptyListRecordsNothing) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_log.clear();
    m_wf->ButtonBurnClick();
    waitForEnd();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< NO FILE/FOLDER INSERT!"});
    EXPECT_EQ(m_discType, "CD-RW");
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NothingToAdd);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.isBlank());
}

// Erase-before on a CD-R: nothing is erased, nothing recorded and nothing logged.
TEST_F(WorkflowE2eTest, EraseBeforeOnCdRDoesNothing) {
    makeRecorder("default", TMediaType::CdR80);
    start();
    m_log.clear();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->Options().EraseBefore = true;
    m_wf->ButtonBurnClick();
    waitForEnd();
    EXPECT_TRUE(m_log.empty()) << m_log.front();
    EXPECT_EQ(m_discType, "CD-R");
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NotErasable);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.isBlank());
}

// Erase-before on a CD-RW that holds a backup: the disc is blanked, then the new backup is its only session.
TEST_F(WorkflowE2eTest, EraseBeforeThenBackup) {
    makeRecorder("default", TMediaType::CdRw80);
    start(9, 5);
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished[0].outcome, TRunOutcome::Recorded);
    m_clock = localTime(10, 0);
    m_wf->Options().EraseBefore = true;
    m_wf->Options().Archives = {src("Docs/")};
    m_wf->ButtonBurnClick();
    waitForEnd(2);
    ASSERT_EQ(m_finished.size(), 2u);
    EXPECT_EQ(m_finished[1].outcome, TRunOutcome::Recorded) << m_finished[1].error;
    EXPECT_TRUE(logged("<<< ERASE PROCESS DONE"));
    ShutdownTransport();
    EXPECT_EQ(disc().disc.closedSessions, 1);
    const std::set<std::string> paths = readBack(0);
    EXPECT_TRUE(paths.count(onDisc("2024-05-01 10.00", "Docs/report.txt")));
    EXPECT_FALSE(paths.count("/2024-05-01 09.05"));
}

// A second run that continues the disc: the last session lists both runs' dated folders; two runs in the
// same minute share one folder, which then holds the files of both.
TEST_F(WorkflowE2eTest, ContinuedDiscShowsEveryRun) {
    makeRecorder("default", TMediaType::CdRw80);
    start(9, 5);
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished[0].outcome, TRunOutcome::Recorded) << m_finished[0].error;

    m_wf->Options().Import = true;
    m_wf->Options().Archives = {src("Docs/")};  // same minute: the same folder
    m_wf->ButtonBurnClick();
    waitForEnd(2);
    ASSERT_EQ(m_finished[1].outcome, TRunOutcome::Recorded) << m_finished[1].error;
    EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 1"));

    m_clock = localTime(11, 30);
    m_wf->Options().Archives = {src("a:b/")};
    m_wf->ButtonBurnClick();
    waitForEnd(3);
    ASSERT_EQ(m_finished[2].outcome, TRunOutcome::Recorded) << m_finished[2].error;

    ShutdownTransport();
    const TRecorderState state = disc();
    ASSERT_EQ(state.disc.closedSessions, 3);
    const std::set<std::string> last = readBack(state.disc.sessionStart(3));
    for (const auto& [session, rel] :
         std::vector<std::pair<std::string, std::string>>{{"2024-05-01 09.05", "notes.txt"},
                                                          {"2024-05-01 09.05", "Docs/report.txt"},
                                                          {"2024-05-01 09.05", "Docs/sub/deep.txt"},
                                                          {"2024-05-01 11.30", "a:b/colon.txt"}})
        EXPECT_TRUE(last.count(onDisc(session, rel))) << session << " " << rel;
    // The first session still reads as it was recorded.
    const std::set<std::string> first = readBack(state.disc.sessionStart(1));
    EXPECT_TRUE(first.count(onDisc("2024-05-01 09.05", "notes.txt")));
    EXPECT_FALSE(first.count(onDisc("2024-05-01 09.05", "Docs/report.txt")));
}

// Eject when done: the tray opens after a successful recording only.
TEST_F(WorkflowE2eTest, EjectOnlyAfterSuccess) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->Options().EjectDisc = true;
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished[0].outcome, TRunOutcome::Recorded) << m_finished[0].error;
    EXPECT_TRUE(m_finished[0].ejected);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.trayOpen);
}

// No recorder at the profile's index: every job stops with the not-ready line.
TEST_F(WorkflowE2eTest, NoRecorderSelected) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->DeviceChange(7);
    m_log.clear();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->ButtonBurnClick();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< ERROR DRIVE IS NOT READY!"});
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NotReady);
}

// Stop in the middle of a slow recording: the write thread ends with the abort text, nothing is ejected,
// and the next run continues the disc.
TEST_F(WorkflowE2eTest, StopInTheMiddle) {
    makeRecorder("default", TMediaType::CdRw80);
    throttle("default", 1);
    {
        std::ofstream big(m_src / "big.bin", std::ios::binary);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 8; ++i) big << chunk;
    }
    start();
    m_wf->Options().Archives = {src("big.bin")};
    m_wf->Options().EjectDisc = true;
    m_wf->ButtonBurnClick();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (m_cd->BytesWritten() == 0 && m_finished.empty()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        (void)m_wf->WaitForEvents(std::chrono::milliseconds(10));
        m_wf->ProcessEvents();
    }
    m_wf->ButtonStopClick();
    EXPECT_EQ(m_wf->State(), TJobState::Stopping);
    waitForEnd();
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Stopped);
    EXPECT_EQ(m_log.back(), "<<< OPERATION ABORTED BY USER");
    EXPECT_FALSE(m_finished[0].ejected);
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
}

}  // namespace
}  // namespace brenwick
