// brenwick-cli adapters and devices on a machine without optical drives: the image recorder set (made on
// first use) is the one adapter; the device list shows its entry; a folder that cannot be made is reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/cli/testing/TCliRun.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::RunCli;
using testing::TCliResult;

class CliDevicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-devices-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    TCliResult run(const std::vector<std::string>& args, const std::string& dataHome = {}) const {
        return RunCli(BRENWICK_CLI, args, dataHome.empty() ? (m_dir / "data").string() : dataHome,
                      m_dir.string());
    }

    fs::path m_dir;
};

// adapters: the layer name and the one adapter line; the recorder "default" is made on first use.
TEST_F(CliDevicesTest, AdaptersListsTheRecorderAdapter) {
    const auto result = run({"adapters"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.lines(), (std::vector<std::string>{">>> QWASPI32", ">>> BRENWICK SG_IO (SPTI 0)"}));
    EXPECT_TRUE(fs::exists(m_dir / "data" / "brenwick" / "recorders" / "default"));
}

// devices: one recorder a line on standard output (index, name, entry, disc), the scan's log lines on
// standard error.
TEST_F(CliDevicesTest, DevicesListsTheDefaultRecorder) {
    const auto result = run({"devices"});
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.lines().size(), 1u) << result.out;
    EXPECT_EQ(result.lines()[0].rfind("0   default      0:0:0,?: BRENWICKIMAGE RECORDER  ", 0), 0u)
        << result.out;
    EXPECT_EQ(result.lines()[0].substr(17 + 9 + 28), "  CD-RW 80 min, blank") << result.out;
    EXPECT_NE(result.err.find(">>> QWASPI32\n>>> BRENWICK SG_IO (SPTI 0)\n"), std::string::npos)
        << result.err;
}

// A recorders folder that cannot be made: no drive at all, said on standard error, exit status 1.
TEST_F(CliDevicesTest, NoRecorderFolderMeansNoDrive) {
    std::ofstream(m_dir / "file") << "not a folder";
    for (const char* command : {"adapters", "devices"}) {
        const auto result = run({command}, (m_dir / "file").string());
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("no optical drive and no image recorder found"), std::string::npos)
            << result.err;
    }
}

// Arguments after the command are usage errors.
TEST_F(CliDevicesTest, UsageErrors) {
    for (const char* command : {"adapters", "devices"}) {
        const auto result = run({command, "extra"});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_NE(result.err.find(std::string("usage: brenwick-cli ") + command), std::string::npos);
    }
}

}  // namespace
}  // namespace brenwick
