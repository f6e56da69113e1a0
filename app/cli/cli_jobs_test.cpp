// brenwick-cli prepare | burn | erase as a user runs them: usage errors, profiles that cannot be read, and a
// recorder index that names no recorder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

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
        {{"erase", "-h"}, 0, "usage: brenwick-cli erase [OPTIONS] [PROFILE]", ""},
        {{"erase"}, 2, "", "brenwick-cli erase: name a PROFILE or the recorder with --device\n"},
        {{"profile"}, 2, "", "usage: brenwick-cli profile [OPTIONS] COMMAND"},
        {{"profile", "nwe", "x.ini"},
         2,
         "",
         "brenwick-cli profile: unknown command 'nwe'; did you mean 'new'?"},
        {{"profile", "add", "x.ini"}, 2, "", "brenwick-cli profile add: PATH is required"},
        {{"profile", "check", "--help"}, 0, "usage: brenwick-cli profile check [OPTIONS] FILE", ""},
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
        EXPECT_EQ(r.lastErrLine(), summary) << r.out;
        if (std::string(job) != "erase") {  // the profile's recorder is named before the job starts
            EXPECT_TRUE(r.err.starts_with("brenwick-cli: warning: " + m_profile +
                                          ": [Options] Device=9: no recorder '9'; the recorders are"))
                << r.err;
        }
    }
}

// A backup into the image recorder: exit status 0 when everything was recorded, 3 when an entry was left
// out, with the summary line of the program's own.
TEST_F(CliJobsTest, BurnReportsWhatWasLeftOut) {
    makeRecorder(TMediaType::CdRw80);
    TCliResult r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< WRITE/BURNCD PROCESS DONE")) << r.out;
    EXPECT_TRUE(r.lastLine().starts_with("brenwick-cli: backup done: 1 file, 0 MB; session 1, ")) << r.out;

    std::ofstream(m_profile) << "[Archives]\nn0=" << (m_dir / "src").string() << "/\nn1=/nowhere/x\nCount=2\n"
                             << "[Options]\nImport=0\n";
    r = run({"burn", m_profile, "--device", "0"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(r.has("<<< SKIP! /nowhere/x DOES NOT EXIST!")) << r.out;
    EXPECT_TRUE(r.lastLine().starts_with(
        "brenwick-cli: backup done: 1 file, 0 MB, 1 item not backed up (see above); session 2, "))
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

    r = run({"erase", m_profile, "--yes"});
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
    EXPECT_TRUE(
        logged.back().substr(19).starts_with(" brenwick-cli: backup done: 2 files, 5 MB; session 1, "))
        << logged.back();
    EXPECT_EQ(logged.front().substr(19), " >>> QWASPI32") << logged.front();

    r = run({"burn", m_profile, "-q"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.lines().size(), 1u) << r.out;
    EXPECT_TRUE(r.out.starts_with("brenwick-cli: backup done: 2 files, 5 MB; session 2, ")) << r.out;
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

// Where two backups on a CD-R went, then a third that closes the disc: the session, the run folder as
// `sessions` lists it, the recorder, and the room left as the recorder's disc holds it (a run costs from its
// track's start to the next writable address).
TEST_F(CliJobsTest, SummarySaysWhereTheBackupWent) {
    makeRecorder(TMediaType::CdR80);
    std::ofstream(m_profile, std::ios::app) << "[Options]\nImport=1\n";
    const std::regex summary(
        R"re(brenwick-cli: backup done: 1 file, 0 MB; session (\d+), folder "([^"]+)" on default; (\d+) MB free, )re"
        R"re(about (\d+) more runs of this size)re");
    const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    std::vector<std::string> folders;
    for (int session = 1; session <= 2; ++session) {
        const TCliResult r = run({"burn", m_profile});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const std::string line = r.lastLine();
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, summary)) << line;
        EXPECT_EQ(std::stoi(m[1]), session);
        folders.push_back(m[2]);
        TRecorderState state;
        std::string error;
        ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
        const auto invisible = state.disc.invisibleTrack();
        ASSERT_TRUE(invisible.has_value());
        const std::int64_t perRun = invisible->start - state.disc.tracks.back().start;
        EXPECT_EQ(std::stoll(m[3]), std::llround(double(invisible->free) * 2048 / 1048576)) << line;
        EXPECT_EQ(std::stoll(m[4]), invisible->free / perRun) << line;
    }
    const TCliResult listing = run({"sessions", "--device", "default"});
    for (const std::string& f : folders) EXPECT_NE(listing.out.find("  " + f + "\n"), std::string::npos) << f;

    std::ofstream(m_profile, std::ios::app) << "CloseDisc=1\n";
    const TCliResult r = run({"burn", m_profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.lastLine().ends_with(" on default; the disc is closed: no more runs fit")) << r.lastLine();
    EXPECT_NE(r.lastLine().find("; session 3, folder "), std::string::npos) << r.lastLine();
}

// An erase by recorder name needs no profile; a disc that holds sessions is only erased with --yes when no
// terminal can be asked (here standard input is /dev/null), and a blank disc needs no --yes.
TEST_F(CliJobsTest, EraseAsksBeforeItErasesSessions) {
    makeRecorder(TMediaType::CdRw80);
    ASSERT_EQ(run({"burn", m_profile}).status, 0);
    const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    const auto blank = [&] {
        TRecorderState state;
        std::string error;
        EXPECT_TRUE(LoadStateFile(folder, state, error)) << error;
        return state.disc.isBlank();
    };
    for (const std::vector<std::string>& args : {std::vector<std::string>{"erase", "--device", "default"},
                                                 std::vector<std::string>{"erase", m_profile}}) {
        const TCliResult r = run(args);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_EQ(r.err, "brenwick-cli: the disc holds 1 sessions; add --yes to erase it\n");
        EXPECT_FALSE(blank());
    }
    TCliResult r = run({"erase", "-d", "0", "--yes"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.lastLine(), "brenwick-cli: disc erased");
    EXPECT_TRUE(blank());
    r = run({"erase", "--device", "default"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

// Profiles written without an editor: new (never over a file), add (the add-files rule), show and check;
// the profile burns without a warning. A profile with silent mistakes is checked, warned about before a
// burn, and not rewritten by add.
TEST_F(CliJobsTest, ProfileCommandsRoundTrip) {
    makeRecorder(TMediaType::CdRw80);
    const std::string src = (m_dir / "src").string(), q = (m_dir / "q.ini").string();
    TCliResult r =
        run({"profile", "new", q, "--volume", "Weekly", "-d", "default", src, src + "/a.txt", src + "/"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "brenwick-cli profile new: " + src + "/ is already in the profile; not added again\n");
    const std::string written = readWhole(q);
    EXPECT_EQ(written, "[Archives]\nn0=" + src + "/\nn1=" + src +
                           "/a.txt\nCount=2\n[Options]\nEraseBefore=0\nImport=0\nCloseDisc=0\nEjectDisc=0\n"
                           "Verify=1\nDevice=0\nDeviceName=default\nVolume=Weekly\nOpenPath=\n");
    struct TCase {
        std::vector<std::string> args;
        int status;
        std::string err;  // found in the last line of standard error
    };
    const TCase refused[] = {
        {{"profile", "new", q}, 1, "exists and is not overwritten (use 'profile add')"},
        {{"profile", "add", q, "/nowhere/x"}, 1, "brenwick-cli profile add: /nowhere/x does not exist"},
        {{"profile", "add", q, src + "/a.txt"}, 1, "brenwick-cli profile add: nothing added to " + q},
        {{"profile", "new", (m_dir / "r.ini").string(), "-d", "9"},
         2,
         "no recorder '9'; the recorders are: 0 default"},
    };
    for (const TCase& c : refused) {
        r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_NE(r.lastErrLine().find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(readWhole(q), written);
    EXPECT_FALSE(fs::exists(m_dir / "r.ini"));

    r = run({"profile", "add", q, m_dir.string(), src + "/a.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, q + ": 1 entry added, 3 in all\n");
    r = run({"profile", "show", q});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  recorder      default (index 0 when saved)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  entries       3\n    " + src + "/\n    " + src + "/a.txt\n    " + m_dir.string() +
                         "/\n"),
              std::string::npos)
        << r.out;
    r = run({"profile", "check", q});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, q + ": no problems found\n");
    r = run({"prepare", q});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    const std::string bad = "[archive]\nn0=" + src + "/\nCount=1\n[Archives]\nn0=~/Pictures/\nn1=" + src +
                            "/\n[Options]\nDevice=4\n";
    std::ofstream(m_profile) << bad;
    r = run({"profile", "check", m_profile});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> problems = r.lines();
    ASSERT_EQ(problems.size(), 4u) << r.out;
    EXPECT_NE(problems[3].find("Device=4: no recorder '4'"), std::string::npos) << r.out;
    r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const std::string& p : problems)
        EXPECT_NE(r.err.find("brenwick-cli: warning: " + p + "\n"), std::string::npos) << p << "\n" << r.err;
    r = run({"profile", "add", m_profile, m_dir.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readWhole(m_profile), bad);
}

}  // namespace
}  // namespace brenwick
