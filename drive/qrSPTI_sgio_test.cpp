// The real pass-through path (TLinuxSgOs: stat, open, SG_IO, SCSI_IOCTL_GET_IDLUN and _GET_BUS_NUMBER)
// against an image recorder that the preload library presents as the optical drive /dev/sr7.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/testing/RunCommand.h"
#include "base/testing/TTempTree.h"

namespace {

// Runs the client under the preload library with a fresh recorder holding a blank disc of `medium`.
std::vector<std::string> RunClient(const std::string& medium, int& status) {
    const brenwick::testing::TTempTree root("brenwick-sgio");
    // The client is built with the sanitizers; the preload library is not, so it loads first.
    const std::string command =
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 XDG_DATA_HOME=" + root.path() +
        "/data " BRENWICK_PRELOAD_RUN " --recorder " + root.path() + "/rec --create " + medium +
        " --instant -- " BRENWICK_SGIO_CLIENT " 2>&1";
    std::string output;
    status = brenwick::testing::RunCommand(command, output);
    std::vector<std::string> lines;
    std::istringstream text(output);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& wanted) {
    for (const auto& line : lines) {
        if (line == wanted) return true;
    }
    return false;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
}

// A blank CD-R behind /dev/sr7: listed with its path, selected, identified, written and read back.
TEST(SgIoTest, RecorderBehindADeviceNode) {
    int status = -1;
    const auto lines = RunClient("cd-r-80", status);
    EXPECT_EQ(status, 0) << Joined(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("entry=0:0:0,/dev/sr7 BRENWICKIMAGE RECORDER  ", 0), 0u) << Joined(lines);
    EXPECT_TRUE(Has(lines, "selected=0:0:0")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "maxwrite=48")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "type=CD-R")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "capacity=359999")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "ready=1")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "parameters=1")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "nwa=1:0")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "write=1")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "rewrite=0 ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "sync=1")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "read=1 1")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "log=>>> QWASPI32")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "log=>>> BRENWICK SG_IO (SPTI 0)")) << Joined(lines);
}

}  // namespace
