// brenwick-cli media, run as a user runs it: recorders in a temporary XDG_DATA_HOME, discs inserted and
// shown, and the refusals of bad names, types and recorders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {
namespace {

struct TResult {
    int status;
    std::string output;
};

class CliMediaTest : public ::testing::Test {
  protected:
    TResult Media(const std::string& words) {
        const std::string command =
            "XDG_DATA_HOME='" + m_home.path() + "' '" BRENWICK_CLI "' media " + words + " 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return {-1, ""};
        std::string text;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
    std::string Folder(const std::string& name) const {
        return m_home.path() + "/brenwick/recorders/" + name;
    }

    testing::TTempFolder m_home;
};

TEST_F(CliMediaTest, CreateInsertShowAndTray) {
    EXPECT_EQ(Media("create work dvd-r").status, 0);
    EXPECT_EQ(Media("create spare").status, 0);
    TResult list = Media("list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.output.find("target 0  spare"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("target 1  work             DVD-R"), std::string::npos) << list.output;

    // A disc with data is kept as an image file when a new one goes in.
    { std::ofstream(Folder("work") + "/disc.img", std::ios::binary) << std::string(4096, 'x'); }
    TRecorderState state;
    std::string error;
    ASSERT_TRUE(LoadStateFile(Folder("work"), state, error)) << error;
    state.disc.tracks = {{1, 1, TTrackState::Complete, 0, 2, 0, 0}};
    state.disc.closedSessions = 1;
    ASSERT_TRUE(SaveStateFile(Folder("work"), state, error)) << error;
    const TResult insert = Media("insert work cd-r-74");
    EXPECT_EQ(insert.status, 0);
    EXPECT_NE(insert.output.find("the previous disc is kept as " + Folder("work") + "/disc-"),
              std::string::npos)
        << insert.output;

    TResult show = Media("show work");
    EXPECT_EQ(show.status, 0);
    EXPECT_NE(show.output.find("disc:     CD-R 74 min"), std::string::npos) << show.output;
    EXPECT_NE(show.output.find("status:   blank"), std::string::npos) << show.output;
    EXPECT_EQ(Media("eject work").status, 0);
    EXPECT_NE(Media("show work").output.find("(tray open)"), std::string::npos);
    EXPECT_EQ(Media("load work").status, 0);
    EXPECT_EQ(Media("speed work 16x").status, 0);
    EXPECT_NE(Media("show work").output.find("speed 16x"), std::string::npos);

    // A DVD+RW as it comes new: never formatted, as the state file and `show` say.
    EXPECT_EQ(Media("insert work dvd+rw-unformatted").status, 0);
    ASSERT_TRUE(LoadStateFile(Folder("work"), state, error)) << error;
    EXPECT_EQ(state.disc.media, TMediaType::DvdPlusRw);
    EXPECT_FALSE(state.disc.formatted);
    EXPECT_NE(Media("show work").output.find("status:   blank, never formatted"), std::string::npos);

    const std::string iso = m_home.path() + "/pressed.iso";
    { std::ofstream(iso, std::ios::binary) << std::string(40 * 2048, 'p'); }
    const TResult pressed = Media("insert-iso spare '" + iso + "'");
    EXPECT_EQ(pressed.status, 0) << pressed.output;
    EXPECT_NE(pressed.output.find("as a pressed CD-ROM"), std::string::npos) << pressed.output;
}

TEST_F(CliMediaTest, RefusalsAreClearErrors) {
    ASSERT_EQ(Media("create work").status, 0);
    struct TCase {
        const char* words;
        int status;
        const char* mentions;
    };
    const TCase cases[] = {
        {"", 2, "usage"},
        {"create work", 1, "already exists"},
        {"create ../escape", 1, "not a valid recorder name"},
        {"create x floppy", 2, "not a blank disc type"},
        {"create x cd-rom", 2, "not a blank disc type"},
        {"insert nobody cd-r-80", 1, "no recorder named 'nobody'"},
        {"insert work", 2, "usage"},
        {"insert-iso work /no/such.iso", 1, "cannot find"},
        {"speed work fast", 1, "unthrottled"},
        {"show", 2, "usage"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"crate x", 2, "did you mean 'create'?"},
    };
    for (const auto& c : cases) {
        const TResult result = Media(c.words);
        EXPECT_EQ(result.status, c.status) << c.words << ": " << result.output;
        EXPECT_NE(result.output.find(c.mentions), std::string::npos) << c.words << ": " << result.output;
    }
    for (int i = 1; i < 8; ++i) ASSERT_EQ(Media("create r" + std::to_string(i)).status, 0);
    EXPECT_NE(Media("create ninth").output.find("already 8 recorders"), std::string::npos);
}

}  // namespace
}  // namespace brenwick
