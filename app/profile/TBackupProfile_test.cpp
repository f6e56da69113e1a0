// The backup profile: what a load gives for hand-edited and hostile files, and what a save writes.
#include "app/profile/TBackupProfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brenwick {
namespace {

namespace fs = std::filesystem;

class BackupProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-profile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_file = (m_dir / "backup.ini").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void put(const std::string& text) const { std::ofstream(m_file, std::ios::binary) << text; }
    std::string get() const {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path m_dir;
    std::string m_file;
};

// A fresh file holds the entry keys before Count, then the options in their fixed order.
TEST_F(BackupProfileTest, SaveWritesKeysInOrder) {
    TBackupProfile p;
    p.Archives = {"/home/ann/Docs/", "/home/ann/a.txt"};
    p.EraseBefore = true;
    p.CloseDisc = true;
    p.Device = 1;
    p.Volume = "Weekly";
    p.OpenPath = "/home/ann";
    std::string error;
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_EQ(
        get(),
        "[Archives]\nn0=/home/ann/Docs/\nn1=/home/ann/a.txt\nCount=2\n"
        "[Options]\nEraseBefore=1\nImport=0\nCloseDisc=1\nEjectDisc=0\nVerify=1\nDevice=1\nVolume=Weekly\n"
        "OpenPath=/home/ann\n");
    EXPECT_EQ(LoadProfile(m_file).profile, p);
}

// Saving again keeps foreign sections and keys, drops stale entries of a longer list, and puts the new
// Archives section after Options.
TEST_F(BackupProfileTest, SaveOverExistingFileUpdatesInPlace) {
    put("[Mine]\nkeep=yes\n[Archives]\nn0=/a/\nn1=/b/\nn2=/c/\nCount=3\n[Options]\nVolume=Old\nExtra=1\n");
    TBackupProfile p;
    p.Archives = {"/x/"};
    p.Volume = "New";
    std::string error;
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_EQ(get(),
              "[Mine]\nkeep=yes\n[Options]\nVolume=New\nExtra=1\nEraseBefore=0\nImport=0\nCloseDisc=0\n"
              "EjectDisc=0\nVerify=1\nDevice=0\nOpenPath=\n[Archives]\nn0=/x/\nCount=1\n");
    const TProfileLoad back = LoadProfile(m_file);
    EXPECT_EQ(back.profile, p);
}

// Count against the entry keys that are really there.
TEST_F(BackupProfileTest, CountDecidesHowManyEntriesLoad) {
    struct Case {
        const char* count;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"4", {"/a/", "", "/c", ""}},  // more than the keys: empty lines
        {"2", {"/a/", ""}},           {"0", {}}, {"-3", {}}, {"many", {}}, {"", {}},
    };
    for (const Case& c : cases) {
        put(std::string("[Archives]\nn0=/a/\nn2=/c\nn5=/never/\nCount=") + c.count + "\n");
        const TProfileLoad load = LoadProfile(m_file);
        EXPECT_EQ(load.profile.Archives, c.expected) << "Count=" << c.count;
        EXPECT_EQ(load.entriesNotLoaded, 0);
    }
}

// A hostile Count reads at most 65,535 entries and says how many it left.
TEST_F(BackupProfileTest, HostileCountIsCapped) {
    put("[Archives]\nn0=/a/\nn65534=/last/\nn65535=/beyond/\nCount=2000000000\n");
    const TProfileLoad load = LoadProfile(m_file);
    ASSERT_EQ(load.profile.Archives.size(), std::size_t(kMaxProfileEntries));
    EXPECT_EQ(load.profile.Archives.front(), "/a/");
    EXPECT_EQ(load.profile.Archives.back(), "/last/");
    EXPECT_EQ(load.entriesNotLoaded, 2000000000 - kMaxProfileEntries);
}

// Options: any non-zero integer is true, garbage is the default; Device is kept as written, even when
// the recorder list is shorter (the caller then selects none).
TEST_F(BackupProfileTest, OptionsReadAsIntegers) {
    put("[Options]\nEraseBefore=2\nImport=-1\nCloseDisc=yes\nEjectDisc=0\nDevice=17\nVolume= Lbl \n");
    const TBackupProfile p = LoadProfile(m_file).profile;
    EXPECT_TRUE(p.EraseBefore);
    EXPECT_TRUE(p.Import);
    EXPECT_FALSE(p.CloseDisc);
    EXPECT_FALSE(p.EjectDisc);
    EXPECT_EQ(p.Device, 17);
    EXPECT_EQ(p.Volume, "Lbl");

    // Verify, unlike the others, reads as on when the key is missing (profiles from before it gain it).
    EXPECT_TRUE(p.Verify);
    put("[Options]\nVerify=0\n");
    EXPECT_FALSE(LoadProfile(m_file).profile.Verify);

    put("[Options]\nDevice=-1\n");
    EXPECT_EQ(LoadProfile(m_file).profile.Device, -1);
    put("[Options]\nDevice=first\n");
    EXPECT_EQ(LoadProfile(m_file).profile.Device, 0);
}

// DeviceName sits beside Device: written only when there is one, emptied when a later save has none, so
// a stale name never wins over a new index.
TEST_F(BackupProfileTest, DeviceNameBesideDevice) {
    TBackupProfile p;
    p.Device = 1;
    p.DeviceName = "dvdr";
    std::string error;
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_NE(get().find("Device=1\nDeviceName=dvdr\n"), std::string::npos) << get();
    EXPECT_EQ(LoadProfile(m_file).profile, p);
    p.DeviceName.clear();
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_NE(get().find("DeviceName=\n"), std::string::npos) << get();
    EXPECT_EQ(LoadProfile(m_file).profile, p);
    fs::remove(m_file);
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_EQ(get().find("DeviceName"), std::string::npos) << get();
}

// Missing, empty, binary and folder "files" all load as the empty profile.
TEST_F(BackupProfileTest, UnreadableFilesLoadAsEmptyProfile) {
    const TBackupProfile empty;
    EXPECT_EQ(LoadProfile((m_dir / "none.ini").string()).profile, empty);
    put("");
    EXPECT_EQ(LoadProfile(m_file).profile, empty);
    static constexpr char kBinary[] =
        "\x7f"
        "ELF\x02\x01\x01\0\0\0[Archives\0]\xff\xfe=\n=\n[";
    put(std::string(kBinary, sizeof kBinary - 1));
    EXPECT_EQ(LoadProfile(m_file).profile, empty);
    fs::create_directory(m_dir / "dir.ini");
    const TProfileLoad dir = LoadProfile((m_dir / "dir.ini").string());
    EXPECT_EQ(dir.profile, empty);
    EXPECT_EQ(dir.fileStatus, TIniLoadStatus::Unreadable);
}

// A refused write names the file, and the old profile stays whole: an entry that cannot be stored in
// one line, and a file that cannot be replaced.
TEST_F(BackupProfileTest, RefusedWriteReportsAndKeepsOldFile) {
    put("[Archives]\nn0=/old/\nCount=1\n");
    TBackupProfile p;
    p.Archives = {"/ok/", "/bad\nname/"};
    std::string error;
    EXPECT_FALSE(SaveProfile(p, m_file, error));
    EXPECT_EQ(error, "Unable to write to " + m_file);
    EXPECT_EQ(get(), "[Archives]\nn0=/old/\nCount=1\n");

    const std::string inMissingFolder = (m_dir / "gone" / "p.ini").string();
    EXPECT_FALSE(SaveProfile(TBackupProfile{}, inMissingFolder, error));
    EXPECT_EQ(error, "Unable to write to " + inMissingFolder);
}

// Entries with blanks and quotes at their ends, as Linux names allow, come back exactly.
TEST_F(BackupProfileTest, UnusualEntriesRoundTrip) {
    TBackupProfile p;
    p.Archives = {" /lead", "/trail /", "\"/quoted/\"", "/a=b/", "/semi;colon", "", "/päth/ünï/"};
    p.Volume = "  ";
    p.Device = -1;
    std::string error;
    ASSERT_TRUE(SaveProfile(p, m_file, error)) << error;
    EXPECT_EQ(LoadProfile(m_file).profile, p);
}

}  // namespace
}  // namespace brenwick
