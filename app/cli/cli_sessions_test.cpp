// brenwick-cli sessions, ls, restore and verify as a user runs them, on a disc of two backups: the
// listing, a restore checked by sha256sum, the refusal to overwrite, and a byte changed on the disc.
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

class CliSessionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        fs::create_directories(m_dir / "src" / "d");
        std::ofstream(m_dir / "src" / "a.txt") << "alpha\n";
        std::ofstream(m_dir / "src" / "d" / "b.txt") << "beta\n";
        const std::string folder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
        std::string error;
        ASSERT_TRUE(CreateRecorder(folder, TMediaType::CdRw80, error)) << error;
        ASSERT_TRUE(UpdateRecorderState(
            folder, [](TRecorderState& s) { s.settings.busy = InstantBusyTimes(); }, error))
            << error;
        m_image = folder + "/disc.img";
        const std::string profile = (m_dir / "p.ini").string();
        std::ofstream(profile) << "[Archives]\nn0=" << (m_dir / "src").string()
                               << "/\nCount=1\n[Options]\nImport=1\n";
        ASSERT_EQ(run({"burn", profile}).status, 0);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    TCliResult run(const std::vector<std::string>& args) const {
        return RunCli(BRENWICK_CLI, args, (m_dir / "data").string(), m_dir.string());
    }
    // The one run folder of the disc, from the listing ("2026-12-08 13.10").
    std::string runFolder() const {
        const TCliResult r = run({"sessions"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const std::vector<std::string> lines = r.lines();
        return lines.size() >= 2 ? lines[1].substr(2) : "";
    }

    fs::path m_dir;
    std::string m_image;
};

TEST_F(CliSessionsTest, ListRestoreAndVerify) {
    const std::string folder = runFolder();
    ASSERT_EQ(folder.size(), 16u) << folder;
    const std::string a = "/" + folder + (m_dir / "src" / "a.txt").string();
    TCliResult r = run({"ls", "/" + folder});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("           6  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(a + "\n"), std::string::npos) << r.out;

    const std::string to = (m_dir / "back").string();
    r = run({"restore", "/", "--to", to});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    int status =
        std::system(("cd '" + to + "/" + folder + "' && sha256sum -c --quiet BRENWICK.SHA256").c_str());
    EXPECT_EQ(status, 0);
    r = run({"restore", a, "--to", to});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(a + ": EXISTS (USE --force TO REPLACE IT)"), std::string::npos) << r.out;
    EXPECT_EQ(run({"restore", a, "--to", to, "--force"}).status, 0);
    EXPECT_EQ(run({"verify", "--all"}).status, 0);
    EXPECT_EQ(run({"restore", "/x"}).status, 2);  // no --to
}

// One byte of a file changed on the disc: verify and sessions --check name it, restore copies it and
// says it differs.
TEST_F(CliSessionsTest, ChangedByteIsFound) {
    std::fstream image(m_image, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.find("beta\n");
    ASSERT_NE(at, std::string::npos);
    image.seekp(std::streamoff(at));
    image.put('B');
    image.close();
    const std::string b =
        std::string("/").append(runFolder()).append((m_dir / "src" / "d" / "b.txt").string());
    TCliResult r = run({"verify"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(b + ": DIFFERENT HASH"), std::string::npos) << r.out;
    EXPECT_EQ(run({"sessions", "--check"}).status, 1);
    r = run({"restore", "/", "--to", (m_dir / "back").string()});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(b + ": DIFFERENT HASH"), std::string::npos) << r.out;
}

// The recorder chosen without a profile, by index, image recorder name or device path, for each command;
// a recorder that is not there is a usage error naming the valid ones.
TEST_F(CliSessionsTest, DeviceByIndexNameOrPath) {
    std::string error;
    const std::string root = (m_dir / "data" / "brenwick" / "recorders").string();
    ASSERT_TRUE(CreateRecorder(root + "/aaa", TMediaType::CdRw80, error)) << error;  // "default" is now 1
    const std::string to = (m_dir / "back").string();
    struct TCase {
        std::vector<std::string> args;
        int status;
        std::string text;  // found in standard output, or in standard error for a usage error
    };
    const TCase cases[] = {
        {{"sessions", "--device", "default"}, 0, "session 1: start 0, "},
        {{"sessions", "--device", "1"}, 0, "session 1: start 0, "},
        {{"sessions", "--device", "aaa"}, 0, "no session on the disc"},
        {{"ls", "--device", "default", "/"}, 0, (m_dir / "src" / "a.txt").string() + "\n"},
        {{"verify", "--device", "default"}, 0, "session 1: OK, "},
        {{"restore", "--device", "default", "/", "--to", to}, 0, "restore: 3 files restored"},
        {{"sessions", "--device", "2"},
         2,
         "brenwick-cli: no recorder '2'; the recorders are: 0 aaa, 1 default\n"},
        {{"ls", "--device", "/dev/sr9"}, 2, "brenwick-cli: no recorder '/dev/sr9'; the recorders are"},
        {{"verify", "--device"}, 2, "--device needs a value"},
    };
    for (const TCase& c : cases) {
        const TCliResult r = run(c.args);
        const std::string words = c.args[0] + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << words << "\n" << r.out << r.err;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.text), std::string::npos) << words << "\n"
                                                                                   << r.out << r.err;
    }
}

}  // namespace
}  // namespace brenwick
