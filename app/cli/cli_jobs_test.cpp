// brenwick-cli prepare | burn | erase as a user runs them: usage errors, profiles that cannot be read, and a
// recorder index that names no recorder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/cli/testing/TCliRun.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
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

// Malformed command lines are usage errors and start nothing.
TEST_F(CliJobsTest, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"burn"},
        {"burn", "a.ini", "b.ini"},
        {"burn", "a.ini", "--device"},
        {"prepare", "a.ini", "--device", "x"},
        {"erase", "a.ini", "--device", "-1"},
        {"burn", "a.ini", "--device=2x"},
        {"burn", "--verbose", "a.ini"},
    };
    for (const auto& args : cases) {
        const TCliResult r = run(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("usage: brenwick-cli " + args.front() + " PROFILE [--device N]"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
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

// A recorder index beyond the device list selects none: every job stops at once and says why.
TEST_F(CliJobsTest, NoRecorderSelected) {
    const std::pair<const char*, const char*> cases[] = {
        {"prepare", "brenwick-cli: nothing recorded: no recorder selected (see brenwick-cli devices)"},
        {"burn", "brenwick-cli: nothing recorded: no recorder selected (see brenwick-cli devices)"},
        {"erase", "brenwick-cli: nothing erased: no recorder selected (see brenwick-cli devices)"},
    };
    for (const auto& [job, summary] : cases) {
        const TCliResult r = run({job, m_profile, "--device", "9"});
        EXPECT_EQ(r.status, 1) << job;
        EXPECT_TRUE(r.has("<<< ")) << r.out;
        EXPECT_TRUE(r.has("<<< ERROR DRIVE IS NOT READY!")) << r.out;
        EXPECT_EQ(r.lastLine(), summary) << r.out;
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
        EXPECT_TRUE(
            r.has("<<< DISC HOLDS A BACKUP: CHECK \"ERASE DISC BEFORE BACKUP\" TO REPLACE IT, OR USE "
                  "ANOTHER DISC"))
            << r.out;
        EXPECT_EQ(
            r.lastLine(),
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
    EXPECT_EQ(r.lastLine(), "brenwick-cli: nothing erased: the CD-R disc is not rewritable") << r.out;
    std::ofstream(m_profile, std::ios::app) << "[Options]\nEraseBefore=1\n";
    r = run({"burn", m_profile});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lastLine(),
              "brenwick-cli: nothing recorded: the profile asks to erase the disc first, and the CD-R disc "
              "cannot be "
              "erased")
        << r.out;
}

}  // namespace
}  // namespace brenwick
