// The backup profile: what a load gives for hand-edited and hostile files, and what a save writes.
#include "app/profile/TBackupProfile.h"

#include "app/profile/TArchiveEntries.h"
#include "app/profile/TProfileCheck.h"

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

// Every mistake that reading passes over in silence is named by the check, each with what it costs;
// whether a mistake makes the Archives list unsafe to rewrite is marked.
TEST_F(BackupProfileTest, CheckNamesEverySilentMistake) {
    const std::string dir = m_dir.string();
    ::setenv("HOME", "/home/ann", 1);
    struct TCase {
        std::string text;
        std::vector<std::string> problems;  // each found in one problem, in order
        bool archivesUnreadable;            // any problem marked so
    };
    const TCase cases[] = {
        {"[Archives]\nn0=" + dir + "/\nCount=1\n[Options]\nVerify=0\nDeviceName=x\n", {}, false},
        {"", {"the file is empty"}, false},
        {"; only a comment\n", {"the file is empty"}, false},
        {"[archive]\nn0=" + dir + "/\nCount=1\n",
         {"[archive] is not a section Brenwick reads; did you mean [Archives]?",
          "there is no [Archives] section"},
         true},
        {"[Archives]\nn0=" + dir + "/\nn1=" + dir + "/\n",
         {"[Archives] has no Count: none of its 2 entries is read (Count=2 would read them)"},
         true},
        {"[Archives]\nn0=" + dir + "/\nn1=" + dir + "/\nCount=1\n",
         {"n1 is beyond Count=1 and is not read"},
         true},
        {"[Archives]\nn0=" + dir + "/\nCount=2\n",
         {"n1 is missing (Count=2): it reads as an empty entry"},
         true},
        {"[Archives]\nCount=two\nn0=" + dir + "/\n", {"Count=two is not a number: no entry is read"}, true},
        {"[Archives]\nn0=~/Pictures/\nCount=1\n",
         {"n0=~/Pictures/ is not an absolute path: it is skipped; \"~\" is not expanded in a profile: write "
          "/home/ann/Pictures/"},
         false},
        {"[Archives]\nn0=Pictures/\nn1=/nowhere/x\nn2=\nCount=3\n",
         {"n0=Pictures/ is not an absolute path", "n1=/nowhere/x does not exist: it is skipped",
          "n2 is empty"},
         false},
        {"[Archives]\nCount=0\nn00=" + dir + "\nfoo=1\n",
         {"n00 is not read", "foo is not read", "Count=0: no entry is read"},
         true},
        {"[Archives]\nn0=" + dir + "/\nCount=1\n[Options]\nEjectDisk=1\nImport=yes\nVerify=on\nDevice=one\n",
         {"EjectDisk is not a key Brenwick reads; did you mean EjectDisc?",
          "Import=yes is not a number: it reads as off", "Verify=on is not a number: it reads as on",
          "Device=one is not a number: it reads as recorder 0"},
         false},
        {"Count=1\n[Archives]\nn0=" + dir + "/\nCount=1\nn0=/x\n[Archives]\nCount=0\n[options]\n",
         {"'Count' stands before the first section", "[Archives] n0 appears twice",
          "[Archives] appears a second time"},
         true},
    };
    for (const TCase& c : cases) {
        put(c.text);
        const std::vector<TProfileProblem> found = CheckProfileFile(m_file);
        std::string all;
        bool unreadable = false;
        for (const auto& p : found) {
            all += p.text + "\n";
            unreadable = unreadable || p.archivesUnreadable;
        }
        EXPECT_EQ(found.size(), c.problems.size()) << c.text << "\n" << all;
        std::size_t at = 0;
        for (const std::string& expected : c.problems) {
            const std::size_t next = all.find(expected, at);
            EXPECT_NE(next, std::string::npos) << expected << "\n" << all;
            if (next != std::string::npos) at = next;
        }
        EXPECT_EQ(unreadable, c.archivesUnreadable) << c.text << "\n" << all;
    }
    EXPECT_EQ(CheckProfileFile((m_dir / "none.ini").string()).front().text, "the file does not exist");
}

// The add-files rule: a folder ends in "/" once, duplicates are exact and case-sensitive, typed paths are
// made absolute and normalised, and a path that does not exist is refused.
TEST_F(BackupProfileTest, ArchiveEntryRule) {
    fs::create_directories(m_dir / "Docs");
    std::ofstream(m_dir / "a.txt") << "a";
    const std::string dir = m_dir.string();
    std::vector<std::string> list;
    EXPECT_TRUE(AppendArchiveEntry(list, ArchiveEntry(dir + "/Docs", true)));
    EXPECT_FALSE(AppendArchiveEntry(list, ArchiveEntry(dir + "/Docs/", true)));
    EXPECT_TRUE(AppendArchiveEntry(list, ArchiveEntry(dir + "/DOCS", true)));
    EXPECT_TRUE(AppendArchiveEntry(list, ArchiveEntry(dir + "/a.txt", false)));
    EXPECT_EQ(list, (std::vector<std::string>{dir + "/Docs/", dir + "/DOCS/", dir + "/a.txt"}));
    EXPECT_EQ(FindArchiveEntry(list, dir + "/a.txt"), 2);

    const std::pair<std::string, std::string> typed[] = {
        {"Docs", dir + "/Docs/"},
        {"./Docs//", dir + "/Docs/"},
        {"Docs/../a.txt", dir + "/a.txt"},
        {dir + "/a.txt", dir + "/a.txt"},
        {"/", "/"},
    };
    for (const auto& [path, entry] : typed) EXPECT_EQ(ResolveArchivePath(path, dir).entry, entry) << path;
    const TResolvedEntry missing = ResolveArchivePath("nowhere/", dir);
    EXPECT_EQ(missing.entry, "");
    EXPECT_EQ(missing.error, dir + "/nowhere does not exist");
}

// Adding to the Archives list rewrites that section only: the other lines of the file stay as they were.
TEST_F(BackupProfileTest, SaveArchivesKeepsTheRest) {
    put("; mine\n[Options]\nImport=1\nColour=blue\n[Archives]\nn0=/a\nCount=1\n");
    std::string error;
    ASSERT_TRUE(SaveArchives({"/a", "/b/"}, m_file, error)) << error;
    EXPECT_EQ(get(), "; mine\n[Options]\nImport=1\nColour=blue\n[Archives]\nn0=/a\nn1=/b/\nCount=2\n");
}

}  // namespace
}  // namespace brenwick
