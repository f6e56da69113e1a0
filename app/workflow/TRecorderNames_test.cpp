// Recorder names from the device list, and the lookup of a typed index, name or path.
#include "app/workflow/TRecorderNames.h"

#include <gtest/gtest.h>

namespace brenwick {
namespace {

const std::vector<std::string> kList = {
    "0:0:0,/dev/sr0 HL-DT-ST DVDRAM GH24NSD1 LG00", "1:0:0,?: BRENWICKIMAGE RECORDER    0100",
    "1:1:0,?: BRENWICKIMAGE RECORDER    0100",
    "1:5:0,?: BRENWICKIMAGE RECORDER    0100",  // a target without a known name
};

TEST(RecorderNames, NamesEachLine) {
    const auto recorders = NameRecorders(kList, {"default", "dvdr"});
    ASSERT_EQ(recorders.size(), 4u);
    const char* expected[] = {"/dev/sr0", "default", "dvdr", "3"};
    for (std::size_t i = 0; i < recorders.size(); ++i) {
        EXPECT_EQ(recorders[i].index, int(i));
        EXPECT_EQ(recorders[i].name, expected[i]);
        EXPECT_EQ(recorders[i].entry, kList[i]);
    }
}

TEST(RecorderNames, FindsByIndexNameOrPath) {
    const auto recorders = NameRecorders(kList, {"default", "dvdr"});
    const std::string valid = "the recorders are: 0 /dev/sr0, 1 default, 2 dvdr, 3 3";
    const std::pair<std::string, int> cases[] = {
        {"0", 0},        {"2", 2},       {"002", 2}, {"dvdr", 2},
        {"/dev/sr0", 0}, {"default", 1}, {"9", -1},  {"99999999999", -1},
        {"-1", -1},      {"DVDR", -1},   {"", -1},   {"/dev/sr1", -1},
    };
    for (const auto& [typed, index] : cases) {
        const auto found = FindRecorder(recorders, typed);
        EXPECT_EQ(found.index, index) << typed;
        EXPECT_EQ(found.error, index < 0 ? "no recorder '" + typed + "'; " + valid : "") << typed;
    }
    EXPECT_EQ(FindRecorder({}, "default").error,
              "no recorder 'default'; there is none (see brenwick-cli devices)");
    EXPECT_EQ(RecorderNameAt(recorders, 2), "dvdr");
    EXPECT_EQ(RecorderNameAt(recorders, 7), "");
}

}  // namespace
}  // namespace brenwick
