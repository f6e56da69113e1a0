// The state file: round trip, strict parsing of damaged files, atomic replacement.
#include "drive/recorder/TStateFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "drive/recorder/RecorderTestSupport.h"

namespace brenwick {
namespace {

TEST(StateFileTest, RoundTripKeepsEveryField) {
    TRecorderState state;
    state.disc = TDiscState::blankDisc(TMediaType::CdRw80);
    state.disc.tracks = {{1, 1, TTrackState::Complete, 0, 302, 0, 2},
                         {2, 1, TTrackState::Complete, 452, 302, 0, 2, true},
                         {3, 2, TTrackState::Open, 11702, 64, 0, 0}};
    state.disc.closedSessions = 1;
    state.disc.trayOpen = true;
    state.image = "disc.img";
    state.settings.speedX = 16;
    state.settings.bufferBytes = 4 * 1024 * 1024;
    state.settings.busy.minimalBlankMs = 7;
    TRecorderState parsed;
    std::string error;
    ASSERT_TRUE(ParseState(FormatState(state), parsed, error)) << error;
    EXPECT_EQ(FormatState(parsed), FormatState(state));
    EXPECT_EQ(parsed.image, state.image);
    EXPECT_EQ(parsed.disc.tracks.size(), 3u);
    EXPECT_TRUE(parsed.disc.tracks[1].zerosOnly);
    EXPECT_FALSE(parsed.disc.tracks[2].zerosOnly);
    EXPECT_EQ(parsed.disc.tracks[2].start, 11702);
    EXPECT_TRUE(parsed.disc.trayOpen);
    EXPECT_EQ(parsed.settings.speedX, 16u);
    // A pressed disc keeps the path of its image, blanks included.
    TRecorderState pressed;
    pressed.disc = TDiscState::pressedDisc(TMediaType::CdRom, 1234);
    pressed.image = "/media/some where/pressed disc.iso";
    ASSERT_TRUE(ParseState(FormatState(pressed), parsed, error)) << error;
    EXPECT_EQ(parsed.image, pressed.image);
    EXPECT_EQ(parsed.disc.capacity, 1234);
}

// A damaged file is refused whole, with the line named, and the state passed in stays as it was.
TEST(StateFileTest, DamagedFilesAreRefusedWithTheLine) {
    const std::string head = "format 1\nmedia cd-r-80\n";
    struct TCase {
        std::string text;
        std::string mentions;
    };
    const TCase cases[] = {
        {"media cd-r-80\n", "format 1"},
        {"format 2\n", "line 1"},
        {head + "media floppy\n", "line 3"},
        {head + "capacity -x\n", "line 3"},
        {head + "track 1 1 done 0 302 0 2\n", "line 3"},
        {head + "track 1 1 open 0 302\n", "line 3"},
        {head + "track 1 1 complete 0 302 0 2 data\n", "line 3"},
        {head + "speed fast\n", "line 3"},
        {head + "buffer 12\n", "line 3"},
        {head + "busy-ms nap 3\n", "line 3"},
        {head + "colour blue\n", "unknown key"},
        {head + "track 1 1 complete 0 302 0 2\ntrack 1 1 open 302 2 0 0\n", "consecutive"},
        {head + "track 1 1 open 0 999999 0 0\n", "capacity"},
        {head + "image ../../home/ann/.bashrc\n", "recorder's folder"},
        {head + "image /home/ann/.bashrc\n", "recorder's folder"},
        {"format 1\nmedia cd-rom\nimage sub/pressed.iso\n", "recorder's folder"},
    };
    for (const auto& c : cases) {
        TRecorderState state;
        state.image = "untouched";
        std::string error;
        EXPECT_FALSE(ParseState(c.text, state, error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
        EXPECT_EQ(state.image, "untouched");
    }
}

TEST(StateFileTest, SpeedSettings) {
    struct TCase {
        const char* text;
        bool ok;
        unsigned speed;
    };
    const TCase cases[] = {{"unthrottled", true, 0}, {"4x", true, 4}, {"16X", true, 16},  {"0x", false, 0},
                           {"x", false, 0},          {"4", false, 0}, {"101x", false, 0}, {"-4x", false, 0}};
    for (const auto& c : cases) {
        unsigned speed = 99;
        EXPECT_EQ(ParseSpeedSetting(c.text, speed), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(speed, c.speed) << c.text;
        }
    }
}

TEST(StateFileTest, SaveReplacesTheFileAndLeavesNoTemporary) {
    testing::TTempTree folder;
    TRecorderState state;
    state.disc = TDiscState::blankDisc(TMediaType::DvdR);
    std::string error;
    ASSERT_TRUE(SaveStateFile(folder.path(), state, error)) << error;
    state.disc.media = TMediaType::DvdPlusR;
    ASSERT_TRUE(SaveStateFile(folder.path(), state, error)) << error;
    TRecorderState loaded;
    ASSERT_TRUE(LoadStateFile(folder.path(), loaded, error)) << error;
    EXPECT_EQ(loaded.disc.media, TMediaType::DvdPlusR);
    struct stat st {};
    EXPECT_NE(::stat((folder / "state.tmp").c_str(), &st), 0);
}

TEST(StateFileTest, MissingFileIsAnError) {
    testing::TTempTree folder;
    TRecorderState state;
    std::string error;
    EXPECT_FALSE(LoadStateFile(folder.path(), state, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace brenwick
