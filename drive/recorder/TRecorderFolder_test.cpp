// Recorder folders and the recorder set: making recorders, changing discs, the default recorder, the order
// and number of recorders the transport sees, and the description of a disc.
#include "drive/recorder/TRecorderFolder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "drive/recorder/ImageRecorderSet.h"
#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TPrivateFiles.h"

namespace brenwick {
namespace {

using testing::Send;
using testing::TRun;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

TEST(RecorderSetTest, DefaultFolderFollowsXdgDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(DefaultRecordersFolder(), "/srv/data/brenwick/recorders");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(DefaultRecordersFolder(), "/home/ann/.local/share/brenwick/recorders");
    if (saved)
        ::setenv("XDG_DATA_HOME", restore.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST(RecorderSetTest, EmptyFolderGetsTheDefaultRecorderWithABlankCdRw) {
    testing::TTempTree root;
    std::string error;
    const auto targets = OpenImageRecorders(root / "new/recorders", error);
    ASSERT_EQ(targets.size(), 1u) << error;
    EXPECT_TRUE(Exists(root / "new/recorders/default/state"));
    const TRun config = Send(*targets[0], {0x46, 0x02, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
    EXPECT_EQ(config.be16(6), 0x000Au);
    const TRun info = Send(*targets[0], {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34);
    EXPECT_EQ(info.data.at(2), 0x10);                                                      // blank, erasable
    EXPECT_EQ(Send(*targets[0], {0x43, 2, 4, 0, 0, 0, 0, 0, 28, 0}, 28).data.at(12), 79);  // 80 minutes
}

TEST(RecorderSetTest, RecordersInNameOrderAtMostEight) {
    testing::TTempTree root;
    std::string error;
    const char* names[] = {"zeta", "Alpha", "beta", "b2", "c", "d", "e", "f", "g", "h"};
    for (const char* name : names) ASSERT_TRUE(CreateRecorder(root / name, TMediaType::DvdR, error)) << error;
    ASSERT_EQ(::mkdir((root / "not-a-recorder").c_str(), 0755), 0);
    const auto listed = ListRecorders(root.path());
    EXPECT_EQ(listed,
              (std::vector<std::string>{"Alpha", "b2", "beta", "c", "d", "e", "f", "g", "h", "zeta"}));
    const auto targets = OpenImageRecorders(root.path(), error);
    ASSERT_EQ(targets.size(), 8u);
    EXPECT_EQ(dynamic_cast<TImageRecorder&>(*targets[0]).folder(), root / "Alpha");
    EXPECT_EQ(dynamic_cast<TImageRecorder&>(*targets[7]).folder(), root / "g");
    EXPECT_FALSE(CreateRecorder(root / "beta", TMediaType::CdR80, error));
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The set holds copies of backed-up files: made 0700 / 0600 under any umask; a set made readable by others
// is tightened once when it is opened, with one note; what is stricter already stays so.
TEST(RecorderSetTest, OnlyTheOwnerCanReadTheSet) {
    for (const mode_t mask : {mode_t(022), mode_t(0), mode_t(0277)}) {
        SCOPED_TRACE(mask);
        testing::TTempTree root;
        const std::string set = root / "data/brenwick/recorders";
        const std::string folder = set + "/default";
        const mode_t saved = ::umask(mask);
        std::string error, note = "stale";
        ASSERT_EQ(OpenImageRecorders(set, error, &note).size(), 1u) << error;
        {
            TImageRecorder recorder(folder);
            ASSERT_TRUE(
                Send(recorder, testing::Cdb10(0x2A, 0, 16), 0, std::vector<std::uint8_t>(16 * 2048, 1))
                    .good());
            ASSERT_TRUE(Send(recorder, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
        }
        ASSERT_TRUE(AppendFaultLine(folder, "not-ready 1", error)) << error;
        ::umask(saved);
        EXPECT_EQ(note, "");
        for (const std::string& path : {root / "data", root / "data/brenwick", set, folder})
            EXPECT_EQ(ModeOf(path), 0700u) << path;
        for (const char* file : {"state", "disc.img", "faults"})
            EXPECT_EQ(ModeOf(folder + "/" + file), 0600u) << file;
    }

    testing::TTempTree root;
    std::string error, note;
    const std::string set = root / "recorders";
    ASSERT_TRUE(CreateRecorder(set + "/a", TMediaType::CdR80, error)) << error;
    ASSERT_TRUE(CreateRecorder(set + "/b", TMediaType::CdR80, error)) << error;
    std::ofstream(set + "/a/disc.img") << "data";
    struct TCase {
        std::string path;
        mode_t loose, tight;
    };
    const std::vector<TCase> cases = {{set, 0755, 0700},
                                      {set + "/a", 0750, 0700},
                                      {set + "/b", 0500, 0500},
                                      {set + "/a/state", 0644, 0600},
                                      {set + "/a/disc.img", 0666, 0600},
                                      {set + "/b/state", 0440, 0400}};
    for (const TCase& c : cases) ASSERT_EQ(::chmod(c.path.c_str(), c.loose), 0) << c.path;
    ASSERT_EQ(OpenImageRecorders(set, error, &note).size(), 2u) << error;
    EXPECT_EQ(note,
              ">>> OTHER USERS COULD READ THE IMAGE RECORDERS IN " + set + ": NOW ONLY THEIR OWNER CAN");
    for (const TCase& c : cases) EXPECT_EQ(ModeOf(c.path), c.tight) << c.path;
    ASSERT_EQ(OpenImageRecorders(set, error, &note).size(), 2u) << error;
    EXPECT_EQ(note, "") << "nothing left to tighten";
    ASSERT_EQ(::chmod((set + "/b").c_str(), 0700), 0);  // so that the folder can be removed
}

TEST(RecorderSetTest, UnusableFolderIsAnError) {
    std::string error;
    EXPECT_TRUE(OpenImageRecorders("/proc/no/such/place", error).empty());
    EXPECT_NE(error.find("cannot"), std::string::npos);
}

TEST(RecorderFolderTest, InsertingADiscKeepsTheWrittenOneAsAnImageFile) {
    testing::TTempTree root;
    std::string error, kept;
    const std::string folder = root / "r";
    ASSERT_TRUE(CreateRecorder(folder, TMediaType::CdR80, error)) << error;
    ASSERT_TRUE(InsertBlankDisc(folder, TMediaType::DvdR, kept, error)) << error;
    EXPECT_EQ(kept, "");  // nothing was written on the blank CD-R
    {
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        TImageRecorder recorder(folder, options);
        const std::vector<std::uint8_t> data(16 * 2048, 0x33);
        ASSERT_TRUE(Send(recorder, testing::Cdb10(0x2A, 0, 16), 0, data).good());
        ASSERT_TRUE(Send(recorder, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
        EXPECT_FALSE(InsertBlankDisc(folder, TMediaType::CdRw74, kept, error));  // in use
        EXPECT_NE(error.find("in use"), std::string::npos);
    }
    ASSERT_TRUE(InsertBlankDisc(folder, TMediaType::CdRw74, kept, error)) << error;
    ASSERT_NE(kept, "");
    std::ifstream in(kept, std::ios::binary);
    std::string first(2048, '\0');
    in.read(first.data(), 2048);
    EXPECT_EQ(first, std::string(2048, '\x33'));
    TRecorderState state;
    ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
    EXPECT_EQ(state.disc.media, TMediaType::CdRw74);
    EXPECT_TRUE(state.disc.tracks.empty());
}

TEST(RecorderFolderTest, IsoImageBecomesAPressedDisc) {
    testing::TTempTree root;
    std::string error, kept;
    const std::string folder = root / "r";
    ASSERT_TRUE(CreateRecorder(folder, TMediaType::None, error)) << error;
    const std::string iso = root / "pressed.iso";
    {
        std::ofstream out(iso, std::ios::binary);
        std::string block(2048, 'P');
        for (int i = 0; i < 40; ++i) out << block;
    }
    EXPECT_FALSE(InsertIsoDisc(folder, root / "missing.iso", kept, error));
    const std::string oddName = root / "two\nlines.iso";
    ASSERT_EQ(::link(iso.c_str(), oddName.c_str()), 0);
    EXPECT_FALSE(InsertIsoDisc(folder, oddName, kept, error));
    EXPECT_NE(error.find("line break"), std::string::npos) << error;
    EXPECT_FALSE(InsertIsoDisc(folder, root.path(), kept, error));  // a folder is no image
    ASSERT_TRUE(InsertIsoDisc(folder, iso, kept, error)) << error;
    TRecorderOptions options;
    options.busy = InstantBusyTimes();
    TImageRecorder recorder(folder, options);
    EXPECT_EQ(Send(recorder, {0x46, 0x02, 0, 0, 0, 0, 0, 0, 8, 0}, 8).be16(6), 0x0008u);
    EXPECT_EQ(Send(recorder, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).be32(0), 39u);
    const TRun info = Send(recorder, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34);
    EXPECT_EQ(info.data.at(2), 0x0E);
    const TRun toc = Send(recorder, {0x43, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 20);
    EXPECT_EQ(toc.be32(16), 40u);  // lead-out
    EXPECT_EQ(Send(recorder, testing::Cdb10(0x28, 39, 1), 2048).data, std::vector<std::uint8_t>(2048, 'P'));
    EXPECT_EQ(Send(recorder, testing::Cdb10(0x28, 40, 1), 2048).sense(), std::make_tuple(5, 0x21, 0));
    const std::vector<std::uint8_t> data(2048, 1);
    EXPECT_EQ(Send(recorder, testing::Cdb10(0x2A, 0, 1), 0, data).sense(), std::make_tuple(5, 0x30, 5));
    EXPECT_EQ(Send(recorder, {0x43, 2, 4, 0, 0, 0, 0, 0, 28, 0}, 28).sense(), std::make_tuple(5, 0x24, 0));
}

TEST(RecorderFolderTest, DescriptionNamesSessionsAndReaderCommands) {
    TRecorderState state;
    state.disc = TDiscState::blankDisc(TMediaType::CdR80);
    state.disc.tracks = {{1, 1, TTrackState::Complete, 0, 302, 0, 2},
                         {2, 2, TTrackState::Complete, 11702, 500, 0, 2}};
    state.disc.closedSessions = 2;
    const std::string text = DescribeDisc(state, "/r");
    EXPECT_NE(text.find("CD-R 80 min"), std::string::npos);
    EXPECT_NE(text.find("status:   appendable"), std::string::npos);
    EXPECT_NE(text.find("session 2: start 11702, 498 blocks"), std::string::npos) << text;
    EXPECT_NE(text.find("xorriso -indev stdio:'/r/disc.img' -load sbsector 11702 -ls /"), std::string::npos);
    EXPECT_NE(text.find("isoinfo -i '/r/disc.img' -T 11702 -l"), std::string::npos);
    EXPECT_NE(text.find("next writable address: 19102"), std::string::npos) << text;
}

TEST(RecorderFolderTest, TrayAndSettingsChangeUnderTheLock) {
    testing::TTempTree root;
    std::string error;
    const std::string folder = root / "r";
    ASSERT_TRUE(CreateRecorder(folder, TMediaType::DvdPlusRw, error)) << error;
    ASSERT_TRUE(SetTrayOpen(folder, true, error)) << error;
    ASSERT_TRUE(UpdateRecorderState(
        folder, [](TRecorderState& s) { s.settings.speedX = 8; }, error))
        << error;
    TRecorderState state;
    ASSERT_TRUE(LoadStateFile(folder, state, error)) << error;
    EXPECT_TRUE(state.disc.trayOpen);
    EXPECT_EQ(state.settings.speedX, 8u);
}

}  // namespace
}  // namespace brenwick
