// The INI file: reading with defaults, in-place edits that keep the rest of the file, atomic write-back.
#include "app/profile/TIniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace brenwick {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& name = "profile.ini") const { return (m_dir / name).string(); }
    void put(const std::string& text, const std::string& name = "profile.ini") const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string get(const std::string& name = "profile.ini") const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path m_dir;
};

// Values as hand-edited files hold them: blanks, quotes, case of names, duplicates, comments, CR LF.
TEST_F(IniFileTest, ReadsValuesTheWayProfileFilesAreWritten) {
    put("; comment=ignored\r\n"
        "top=before any section\r\n"
        "[ Options ]  trailing text\r\n"
        "  Volume =  My Disc  \r\n"
        "quoted=\"  spaced  \"\r\n"
        "single='x'\r\n"
        "lonequote=\"abc\r\n"
        "empty=\r\n"
        "eq=a=b=c\r\n"
        "dup=first\r\n"
        "DUP=second\r\n"
        "# hidden=1\r\n"
        "no equals sign\r\n"
        "[options]\r\n"
        "later=ignored, the first section of a name wins\r\n");
    const TIniFile ini(path());
    EXPECT_EQ(ini.loadStatus(), TIniLoadStatus::Loaded);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"Options", "Volume", "My Disc"},    {"OPTIONS", "volume", "My Disc"},
        {"Options", "quoted", "  spaced  "}, {"Options", "single", "x"},
        {"Options", "lonequote", "\"abc"},   {"Options", "empty", ""},
        {"Options", "eq", "a=b=c"},          {"Options", "dup", "first"},
        {"Options", "# hidden", "<def>"},    {"Options", "no equals sign", "<def>"},
        {"Options", "later", "<def>"},       {"", "top", "<def>"},
        {"Missing", "Volume", "<def>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.readString(c.section, c.key, "<def>"), c.expected) << c.section << "/" << c.key;
}

// Integers: whole decimal numbers in the range of int, anything else gives the default.
TEST_F(IniFileTest, ReadsIntegersStrictly) {
    const std::pair<const char*, int> cases[] = {
        {"0", 0},
        {"12", 12},
        {"-1", -1},
        {"+7", 7},
        {" 42 ", 42},
        {"\"5\"", 5},
        {"12abc", -99},
        {"abc", -99},
        {"", -99},
        {"1.5", -99},
        {"2147483647", 2147483647},
        {"2147483648", -99},
        {"-2147483649", -99},
        {"+-1", -99},
        {"++1", -99},
        {"0x10", -99},
        {"99999999999999999999999", -99},
    };
    std::string text = "[S]\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        text += std::string("k").append(std::to_string(i)) + "=" + cases[i].first + "\n";
    put(text);
    const TIniFile ini(path());
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ini.readInteger("S", std::string("k").append(std::to_string(i)), -99), cases[i].second)
            << cases[i].first;
    EXPECT_TRUE(ini.readBool("S", "k1", false));
    EXPECT_FALSE(ini.readBool("S", "k0", true));
    EXPECT_TRUE(ini.readBool("S", "k6", true));  // not a number: the default
}

// Edits replace keys in place, append new keys to their section and new sections to the file, and leave
// every other byte alone.
TEST_F(IniFileTest, EditsKeepTheRestOfTheFile) {
    put("; my notes\n[Options]\nVolume=Old\n; keep me\nOther=x\n\n[Mine]\nA = 1\n");
    TIniFile ini(path());
    ASSERT_TRUE(ini.writeString("options", "VOLUME", "New"));
    ASSERT_TRUE(ini.writeString("Options", "Device", "2"));
    ASSERT_TRUE(ini.writeString("Archives", "n0", "/a/"));
    ASSERT_TRUE(ini.updateFile());
    EXPECT_EQ(get(),
              "; my notes\n[Options]\nVOLUME=New\n; keep me\nOther=x\nDevice=2\n\n[Mine]\nA = 1\n"
              "[Archives]\nn0=/a/\n");
}

TEST_F(IniFileTest, EraseSectionRemovesEveryCopyAndKeepsTheOthers) {
    put("[Archives]\nn0=a\n[Options]\nX=1\n[ARCHIVES]\nn1=b\n");
    TIniFile ini(path());
    ini.eraseSection("archives");
    EXPECT_FALSE(ini.sectionExists("Archives"));
    EXPECT_EQ(ini.readString("Archives", "n1", "-"), "-");
    EXPECT_EQ(ini.text(), "[Options]\nX=1\n");
}

// Every value written reads back unchanged, whatever blanks and quotes it holds; values that cannot be
// kept on one line are refused.
TEST_F(IniFileTest, ValuesRoundTripOrAreRefused) {
    const std::string keep[] = {"",
                                " lead",
                                "trail ",
                                "\"quoted\"",
                                "'single'",
                                "\"",
                                "a\"b",
                                "x=y",
                                "\t tab",
                                "ünïcödé /pfad/",
                                std::string(100000, 'v'),
                                "[not a section]",
                                "; not a comment"};
    TIniFile ini(path());
    for (std::size_t i = 0; i < std::size(keep); ++i)
        ASSERT_TRUE(ini.writeString("S", std::string("k").append(std::to_string(i)), keep[i]));
    ASSERT_TRUE(ini.updateFile());
    const TIniFile back(path());
    for (std::size_t i = 0; i < std::size(keep); ++i)
        EXPECT_EQ(back.readString("S", std::string("k").append(std::to_string(i)), "<def>"), keep[i]) << i;

    const std::string refusedValues[] = {"a\nb", "a\rb", std::string("a\0b", 3)};
    for (const std::string& v : refusedValues) EXPECT_FALSE(ini.writeString("S", "bad", v));
    EXPECT_FALSE(ini.writeString("S", "", "v"));
    EXPECT_FALSE(ini.writeString("", "k", "v"));
    EXPECT_FALSE(ini.writeString("S", "a=b", "v"));
    EXPECT_FALSE(ini.writeString("S]", "k", "v"));
    EXPECT_FALSE(ini.writeString("S", "[k", "v"));
    EXPECT_EQ(ini.readString("S", "bad", "<def>"), "<def>");
}

// New lines follow the file's own line ends; a byte order mark stays.
TEST_F(IniFileTest, KeepsLineEndsAndByteOrderMark) {
    put("\xEF\xBB\xBF[Options]\r\nA=1\r\n");
    TIniFile ini(path());
    EXPECT_EQ(ini.readString("Options", "A", ""), "1");
    ASSERT_TRUE(ini.writeString("Options", "B", "2"));
    EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[Options]\r\nA=1\r\nB=2\r\n");
}

TEST_F(IniFileTest, CreatesMissingFileAndKeepsPermissionsOfExistingOne) {
    TIniFile created(path("new.ini"));
    EXPECT_EQ(created.loadStatus(), TIniLoadStatus::Missing);
    ASSERT_TRUE(created.writeString("S", "k", "v"));
    ASSERT_TRUE(created.updateFile());
    EXPECT_EQ(get("new.ini"), "[S]\nk=v\n");

    put("[S]\nk=old\n", "perm.ini");
    ASSERT_EQ(::chmod(path("perm.ini").c_str(), 0600), 0);
    TIniFile existing(path("perm.ini"));
    ASSERT_TRUE(existing.writeString("S", "k", "new"));
    ASSERT_TRUE(existing.updateFile());
    struct stat st {};
    ASSERT_EQ(::stat(path("perm.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const auto& e : fs::directory_iterator(m_dir))  // no temporary file left behind
        EXPECT_EQ(e.path().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(IniFileTest, WritesThroughSymbolicLink) {
    put("[S]\nk=old\n", "real.ini");
    fs::create_symlink(path("real.ini"), path("link.ini"));
    TIniFile ini(path("link.ini"));
    ASSERT_TRUE(ini.writeString("S", "k", "new"));
    ASSERT_TRUE(ini.updateFile());
    EXPECT_TRUE(fs::is_symlink(path("link.ini")));
    EXPECT_EQ(get("real.ini"), "[S]\nk=new\n");
}

// A file that cannot be read loads empty and is never overwritten, since its contents would be lost;
// a folder that refuses the write leaves the old file whole.
TEST_F(IniFileTest, UnreadableOrUnwritableFilesAreNotClobbered) {
    fs::create_directory(path("folder.ini"));
    TIniFile folder(path("folder.ini"));
    EXPECT_EQ(folder.loadStatus(), TIniLoadStatus::Unreadable);
    ASSERT_TRUE(folder.writeString("S", "k", "v"));
    EXPECT_FALSE(folder.updateFile());
    EXPECT_TRUE(fs::is_directory(path("folder.ini")));

    TIniFile nowhere((m_dir / "no-such-folder" / "p.ini").string());
    ASSERT_TRUE(nowhere.writeString("S", "k", "v"));
    EXPECT_FALSE(nowhere.updateFile());

    if (::geteuid() != 0) {  // root may write anywhere; the folder test needs an ordinary user
        fs::create_directory(m_dir / "ro");
        put("[S]\nk=old\n", "ro/p.ini");
        fs::permissions(m_dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        TIniFile ro(path("ro/p.ini"));
        ASSERT_TRUE(ro.writeString("S", "k", "new"));
        EXPECT_FALSE(ro.updateFile());
        fs::permissions(m_dir / "ro", fs::perms::owner_all);
        EXPECT_EQ(get("ro/p.ini"), "[S]\nk=old\n");
    }
}

// Random bytes, NULs, endless lines, unbalanced brackets: the file loads without a crash, and a key
// written into it reads back.
TEST_F(IniFileTest, GarbageLoadsWithoutCrashing) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 50; ++round) {
        std::string junk(std::size_t(rng() % 20000), '\0');
        for (char& c : junk) c = char(rng() % 8 == 0 ? "[]=\r\n;\"'"[rng() % 8] : rng() % 256);
        put(junk);
        const TIniFile ini(path());
        (void)ini.readString("Archives", "n0", "");  // exercised for the sanitizers; any value is fine
        (void)ini.readInteger("Archives", "Count", 0);
        TIniFile edited(path());
        ASSERT_TRUE(edited.writeString("Options", "Volume", "after garbage"));
        ASSERT_TRUE(edited.updateFile());
        EXPECT_EQ(TIniFile(path()).readString("Options", "Volume", ""), "after garbage") << round;
    }
    put(std::string(3'000'000, '['));
    EXPECT_EQ(TIniFile(path()).readString("[", "k", "d"), "d");
}

}  // namespace
}  // namespace brenwick
