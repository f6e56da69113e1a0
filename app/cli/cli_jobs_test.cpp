// brenwick-cli prepare | burn | erase as a user runs them: usage errors, profiles that cannot be read, and a
// recorder index that names no recorder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/cli/testing/TCliRun.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::readWhole;
using testing::RunCli;
using testing::TCliResult;

class CliJobsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        fs::create_directories(m_dir / "src");
        std::ofstream(m_dir / "src" / "a.txt") << "a";
        m_profile = (m_dir / "p.ini").string();
        std::ofstream(m_profile) << "[Archives]\nn0=" << (m_dir / "src").string() << "/\nCount=1\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    TCliResult run(const std::vector<std::string>& args) const {
        return RunCli(BRENWICK_CLI, args, (m_dir / "data").string(), m_dir.string());
    }

    // The recorder "default" of the run's recorder set, with a blank disc and no busy times.
    void makeRecorder(TMediaType media) const {
        const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
        std::string error;
        ASSERT_TRUE(CreateRecorder(folder, media, error)) << error;
        ASSERT_TRUE(UpdateRecorderState(
            folder, [](TRecorderState& s) { s.settings.busy = InstantBusyTimes(); }, error))
            << error;
    }

    fs::path m_dir;
    std::string m_profile;
};

// Every command with good and bad words: the exit status, and which stream carries the message. Help and
// the version go to standard output with status 0; usage errors to standard error with status 2, and
// start nothing.
TEST_F(CliJobsTest, ArgumentHandling) {
    makeRecorder(TMediaType::CdRw80);
    struct TCase {
        std::vector<std::string> args;
        int status;
        const char* out;  // expected in standard output ("" for none at all)
        const char* err;  // expected in standard error ("" for none at all)
    };
    const std::string p = m_profile;
    const TCase cases[] = {
        {{"--help"}, 0, "usage: brenwick-cli [OPTIONS] COMMAND", ""},
        {{"help"}, 0, "usage: brenwick-cli [OPTIONS] COMMAND", ""},
        {{"--version"}, 0, "brenwick-cli " BRENWICK_VERSION "\n", ""},
        {{"version"}, 0, "brenwick-cli " BRENWICK_VERSION "\n", ""},
        {{"burn", "--help"}, 0, "usage: brenwick-cli burn [OPTIONS] PROFILE", ""},
        {{"erase", "-h"}, 0, "usage: brenwick-cli erase [OPTIONS] PROFILE", ""},
        {{"media", "speed", "--help"}, 0, "usage: brenwick-cli media speed [OPTIONS] NAME SPEED", ""},
        {{"media", "help"}, 0, "usage: brenwick-cli media [OPTIONS] COMMAND", ""},
        {{}, 2, "", "usage: brenwick-cli [OPTIONS] COMMAND"},
        {{"bunr", p}, 2, "", "brenwick-cli: unknown command 'bunr'; did you mean 'burn'?"},
        {{"frobnicate"}, 2, "", "brenwick-cli: unknown command 'frobnicate'\n"},
        {{"media", "ejcet", "x"},
         2,
         "",
         "brenwick-cli media: unknown command 'ejcet'; did you mean 'eject'?"},
        {{"burn"},
         2,
         "",
         "brenwick-cli burn: PROFILE is required\nusage: brenwick-cli burn [OPTIONS] PROFILE"},
        {{"burn", "a.ini", "b.ini"}, 2, "", "usage: brenwick-cli burn"},
        {{"prepare", "a.ini", "--device"}, 2, "", "usage: brenwick-cli prepare"},
        {{"burn", "--frobnicate", "a.ini"}, 2, "", "usage: brenwick-cli burn"},
        {{"devices", "x"}, 2, "", "usage: brenwick-cli devices"},
        {{"burn", p, "--device", "9"},
         2,
         nullptr,
         "brenwick-cli burn: no recorder '9'; the recorders are: 0 default"},
        {{"prepare", p, "--device", "x"},
         2,
         nullptr,
         "brenwick-cli prepare: no recorder 'x'; the recorders are"},
        {{"erase", p, "--device=2x"}, 2, nullptr, "brenwick-cli erase: no recorder '2x'"},
        {{"prepare", p, "-d", "default"}, 0, "brenwick-cli: prepared: 1 file, 0 MB, fits on the disc", ""},
        {{"prepare", p, "--device", "0"}, 0, "brenwick-cli: prepared", ""},
    };
    for (const auto& c : cases) {
        const TCliResult r = run(c.args);
        const std::string words = c.args.empty() ? "(none)" : c.args.front() + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << words << "\n" << r.out << r.err;
        for (const auto& [text, expected] : {std::pair{&r.out, c.out}, std::pair{&r.err, c.err}}) {
            if (expected == nullptr) continue;  // the log of the scan, not looked at
            if (*expected == '\0')
                EXPECT_EQ(*text, "") << words;
            else
                EXPECT_NE(text->find(expected), std::string::npos) << words << ": " << *text;
        }
    }
}

TEST_F(CliJobsTest, ProfileThatCannotBeReadStartsNothing) {
    const std::string missing = (m_dir / "none.ini").string();
    fs::create_directory(m_dir / "folder.ini");
    for (const std::string& path : {missing, (m_dir / "folder.ini").string()}) {
        const TCliResult r = run({"burn", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "brenwick-cli: cannot read the profile " + path + "\n");
        EXPECT_EQ(r.out, "");
    }
}

// A profile's recorder index beyond the device list selects none: every job stops at once and says why.
TEST_F(CliJobsTest, NoRecorderSelected) {
    std::ofstream(m_profile, std::ios::app) << "[Options]\nDevice=9\n";
    const std::pair<const char*, const char*> cases[] = {
        {"prepare", "brenwick-cli: nothing recorded: no recorder selected (see brenwick-cli devices)"},
        {"burn", "brenwick-cli: nothing recorded: no recorder selected (see brenwick-cli devices)"},
        {"erase", "brenwick-cli: nothing erased: no recorder selected (see brenwick-cli devices)"},
    };
    for (const auto& [job, summary] : cases) {
        const TCliResult r = run({job, m_profile});
        EXPECT_EQ(r.status, 1) << job;
        EXPECT_TRUE(r.has("<<< ")) << r.out;
        EXPECT_TRUE(r.has("<<< ERROR DRIVE IS NOT READY!")) << r.out;
        EXPECT_EQ(r.err, std::string(summary) + "\n") << r.out;
    }
}

// A backup into the image recorder: exit status 0 when everything was recorded, 3 when an entry was left
// out, with the summary line of the program's own.
TEST_F(CliJobsTest, BurnReportsWhatWasLeftOut) {
    makeRecorder(TMediaType::CdRw80);
    TCliResult r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< WRITE/BURNCD PROCESS DONE")) << r.out;
    EXPECT_EQ(r.lastLine(), "brenwick-cli: backup done: 1 file, 0 MB") << r.out;

    std::ofstream(m_profile) << "[Archives]\nn0=" << (m_dir / "src").string() << "/\nn1=/nowhere/x\nCount=2\n"
                             << "[Options]\nImport=0\n";
    r = run({"burn", m_profile, "--device", "0"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< SKIP! /nowhere/x DOES NOT EXIST!")) << r.out;
    EXPECT_EQ(r.lastLine(), "brenwick-cli: backup done: 1 file, 0 MB, 1 item not backed up (see above)")
        << r.out;

    r = run({"prepare", m_profile});
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(r.lastLine(),
              "brenwick-cli: prepared: 1 file, 0 MB, fits on the disc, 1 item not backed up (see above)");
}

// A second backup onto a DVD+RW that holds one, without continue or erase-before, would overwrite it:
// prepare and burn refuse with exit status 1.
TEST_F(CliJobsTest, OverwritableDiscWithABackupIsRefused) {
    makeRecorder(TMediaType::DvdPlusRw);
    TCliResult r = run({"burn", m_profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char* job : {"prepare", "burn"}) {
        r = run({job, m_profile});
        EXPECT_EQ(r.status, 1) << job << r.out << r.err;
        EXPECT_TRUE(r.has(
            "<<< DISC HOLDS A BACKUP: CHECK \"CONTINUE MULTISESSION DISC\" TO ADD TO IT OR \"ERASE DISC "
            "BEFORE BACKUP\" TO REPLACE IT"))
            << r.out;
        EXPECT_EQ(
            r.lastErrLine(),
            "brenwick-cli: nothing recorded: the disc holds a backup that this run would overwrite (see "
            "above)")
            << r.out;
    }
}

// A successful erase of a rewritable disc that holds a backup: the disc is blank afterwards. The recorder's
// busy times are zero, so the erase ends at the engine's first poll.
TEST_F(CliJobsTest, EraseBlanksARewritableDisc) {
    makeRecorder(TMediaType::CdRw80);
    TCliResult r = run({"burn", m_profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    TRecorderState state;
    std::string error;
    ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
    ASSERT_FALSE(state.disc.isBlank());

    r = run({"erase", m_profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< ERASE PROCESS DONE")) << r.out;
    EXPECT_FALSE(r.has("<<< ERROR ERASING DISC!")) << r.out;
    EXPECT_EQ(r.lastLine(), "brenwick-cli: disc erased") << r.out;
    ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
    EXPECT_TRUE(state.disc.isBlank());
    EXPECT_EQ(state.disc.closedSessions, 0);
}

// Erasing a CD-R, or a burn that asks to erase it first, does nothing and says why.
TEST_F(CliJobsTest, NothingToEraseOnCdR) {
    makeRecorder(TMediaType::CdR80);
    TCliResult r = run({"erase", m_profile});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lastErrLine(), "brenwick-cli: nothing erased: the CD-R disc is not rewritable") << r.out;
    std::ofstream(m_profile, std::ios::app) << "[Options]\nEraseBefore=1\n";
    r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lastErrLine(),
              "brenwick-cli: nothing recorded: the profile asks to erase the disc first, and the CD-R disc "
              "cannot be "
              "erased")
        << r.out;
}

// A burn at a drive speed whose drive answers "long write in progress" while its buffer is full, piped into
// a file: one stall line and no failure dumps, plain progress lines without carriage returns, and the whole
// log with time stamps in the --log file; -q then prints only the summary.
TEST_F(CliJobsTest, ThrottledBurnIsReadable) {
    makeRecorder(TMediaType::CdR80);
    const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    std::string error;
    ASSERT_TRUE(UpdateRecorderState(
        folder, [](TRecorderState& s) { s.settings.speedX = 16; }, error))
        << error;
    ASSERT_TRUE(AppendFaultLine(folder, "long-write 100000", error)) << error;
    std::ofstream(m_dir / "src" / "big.bin") << std::string(5 * 1024 * 1024, 'x');
    const std::string logFile = (m_dir / "burn.log").string();
    TCliResult r = run({"burn", m_profile, "--log", logFile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    int stalls = 0, dumps = 0, progress = 0;
    for (const auto& line : r.lines()) {
        stalls +=
            line == ">>> WAITING FOR THE DRIVE (NOT READY (LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS))";
        dumps += line.find("WRITE (10)") != std::string::npos;
        progress += line.rfind("Process ", 0) == 0;
    }
    EXPECT_EQ(stalls, 1) << r.out;
    EXPECT_EQ(dumps, 0) << r.out;
    EXPECT_GE(progress, 1) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    const auto logged = TCliResult::linesOf(readWhole(logFile));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back().substr(19), " brenwick-cli: backup done: 2 files, 5 MB") << logged.back();
    EXPECT_EQ(logged.front().substr(19), " >>> QWASPI32") << logged.front();

    r = run({"burn", m_profile, "-q"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "brenwick-cli: backup done: 2 files, 5 MB\n");
}

// The disc ejected by the last run (EjectDisc=1) stays in the open tray: the next burn closes it.
TEST_F(CliJobsTest, BurnAfterAnEjectClosesTheTray) {
    makeRecorder(TMediaType::CdRw80);
    std::ofstream(m_profile, std::ios::app) << "[Options]\nEjectDisc=1\n";
    TCliResult r = run({"burn", m_profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(r.has("<<< CLOSING THE TRAY")) << r.out;
    TRecorderState state;
    std::string error;
    const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
    ASSERT_TRUE(state.disc.trayOpen);
    r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< CLOSING THE TRAY")) << r.out;
    EXPECT_FALSE(r.has("<<< ERROR DRIVE IS NOT READY!")) << r.out;
}

// Recorders chosen by name keep being found when another recorder is made before them in the list; a
// profile's DeviceName wins over its Device index, and a DeviceName that names no recorder is an error.
TEST_F(CliJobsTest, DeviceNamesSurviveANewRecorder) {
    makeRecorder(TMediaType::CdRw80);
    std::string error;
    const std::string root = (m_dir / "data" / "brenwick" / "recorders").string();
    ASSERT_TRUE(CreateRecorder(root + "/work", TMediaType::CdR80, error)) << error;
    std::ofstream(m_profile, std::ios::app) << "[Options]\nDevice=0\nDeviceName=work\n";
    TCliResult r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< 0:1:0,?: BRENWICKIMAGE RECORDER  0.1 ")) << r.out;
    ASSERT_TRUE(CreateRecorder(root + "/aaa", TMediaType::CdRw80, error)) << error;  // shifts "work" to 2
    for (const std::vector<std::string>& args : {std::vector<std::string>{"burn", m_profile},
                                                 std::vector<std::string>{"burn", m_profile, "-d", "work"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    TRecorderState state;
    ASSERT_TRUE(LoadStateFile(root + "/work", state, error)) << error;
    EXPECT_EQ(state.disc.closedSessions, 3);
    ASSERT_TRUE(LoadStateFile(root + "/aaa", state, error)) << error;
    EXPECT_TRUE(state.disc.isBlank());

    std::ofstream(m_profile) << "[Archives]\nn0=" << (m_dir / "src").string()
                             << "/\nCount=1\n[Options]\nDeviceName=gone\n";
    r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lastErrLine(),
              "brenwick-cli burn: the profile's DeviceName: no recorder 'gone'; the recorders are: 0 aaa, 1 "
              "default, 2 work");
}

}  // namespace
}  // namespace brenwick
