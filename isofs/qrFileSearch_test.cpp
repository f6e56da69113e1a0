// The file search on real temporary folders: alternate 8.3 names, attributes, DOS times, masks, and what it
// leaves out (FIFOs, links to folders, link loops).
#include "isofs/qrFileSearch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "isofs/qrEntries.h"
#include "isofs/qrTestSupport.h"

namespace brenwick {
namespace {

using testing::TTempTree;
using testing::WriteText;

std::map<std::string, TSearchRec> Read(const std::string& folder) {
    TFileSearch search;
    EXPECT_TRUE(search.ReadFolder(folder));
    std::map<std::string, TSearchRec> out;
    for (const auto& r : search.Items()) out[r.FileName] = r;
    return out;
}

// Alternate names are made the way Windows makes them, unique in the folder ("My Music" alone gives
// MYMUSI~1).
TEST(FileSearch, AlternateNames) {
    TTempTree tmp;
    const struct {
        const char* name;
        const char* alternate;
    } cases[] = {
        {"My Music", "MYMUSI~2"},
        {"Report 2025.docx", "REPORT~1.DOC"},
        {".bashrc", "BASHRC~1"},
        {"readme.txt", ""},
        {"Report 2026.docx", "REPORT~2.DOC"},
        {"a.b.c.txt", "ABC~1.TXT"},
        {"caf\xc3\xa9.txt", "CAF_~1.TXT"},
        {"...", "_~1"},
        {"MYMUSI~1", ""},
        {"My Musik", "MYMUSI~3"},  // MYMUSI~1 is taken by a real name
    };
    for (const auto& c : cases) WriteText(tmp / c.name, "x");
    const auto items = Read(tmp.path() + "/");
    for (const auto& c : cases) {
        ASSERT_EQ(items.count(c.name), 1u) << c.name;
        EXPECT_EQ(items.at(c.name).AlternateName, c.alternate) << c.name;
    }
}

// The tenth clash of one base needs a shorter base so that the name keeps 8 characters.
TEST(FileSearch, AlternateNamesPastNine) {
    TTempTree tmp;
    for (int i = 0; i < 11; ++i) WriteText(tmp / ("long name " + std::to_string(i + 10) + ".txt"), "x");
    const auto items = Read(tmp.path() + "/");
    EXPECT_EQ(items.at("long name 10.txt").AlternateName, "LONGNA~1.TXT");
    EXPECT_EQ(items.at("long name 19.txt").AlternateName, "LONGN~10.TXT");
    EXPECT_EQ(items.at("long name 20.txt").AlternateName, "LONGN~11.TXT");
}

TEST(FileSearch, ValidShortNames) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {{"readme.txt", true},   {"README", true},         {"a.", true},
                 {"ABCDEFGH.TXT", true}, {"ABCDEFGHI.TXT", false}, {"A.TEXT", false},
                 {"a b.txt", false},     {"a.b.c", false},         {".profile", false},
                 {"caf\xc3\xa9", false}, {"{}~!@#$%.^&'", true},   {"a+b", false}};
    for (const auto& c : cases) EXPECT_EQ(IsValidShortName(c.name), c.valid) << c.name;
}

// Attributes: hidden for a leading dot, read-only when the owner may not write, archive on every file.
TEST(FileSearch, Attributes) {
    TTempTree tmp;
    WriteText(tmp / ".hidden", "x");
    WriteText(tmp / "ro.txt", "x");
    ASSERT_EQ(chmod((tmp / "ro.txt").c_str(), 0444), 0);
    WriteText(tmp / "plain.txt", "hello");
    std::filesystem::create_directories(tmp / "dir");
    const auto items = Read(tmp.path() + "/");
    EXPECT_EQ(items.at(".hidden").Attr, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(items.at("ro.txt").Attr, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(items.at("plain.txt").Attr, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(items.at("plain.txt").Size, 5);
    EXPECT_EQ(items.at("dir").Attr, FILE_ATTRIBUTE_DIRECTORY);
}

// FIFOs, sockets and devices are no files to back up, links to folders are not entered, a link loop ends.
TEST(FileSearch, LeavesOutWhatMustNotBeRead) {
    TTempTree tmp;
    WriteText(tmp / "f.txt", "x");
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/", (tmp / "root").c_str()), 0);
    ASSERT_EQ(symlink("b", (tmp / "a").c_str()), 0);
    ASSERT_EQ(symlink("a", (tmp / "b").c_str()), 0);
    ASSERT_EQ(symlink("nothing", (tmp / "dangling").c_str()), 0);
    TFileSearch search;
    ASSERT_TRUE(search.ReadFolder(tmp.path() + "/"));
    ASSERT_EQ(search.Items().size(), 1u);
    EXPECT_EQ(search.Items()[0].FileName, "f.txt");
    std::map<std::string, TLeftOutReason> left;
    for (const auto& l : search.LeftOut()) left[l.Path] = l.Reason;
    EXPECT_EQ(left.at(tmp / "fifo"), TLeftOutReason::SpecialFile);
    EXPECT_EQ(left.at(tmp / "root"), TLeftOutReason::LinkToFolder);
    EXPECT_EQ(left.at(tmp / "a"), TLeftOutReason::CannotRead);
    EXPECT_EQ(left.at(tmp / "b"), TLeftOutReason::CannotRead);
    EXPECT_EQ(left.at(tmp / "dangling"), TLeftOutReason::CannotRead);

    TSearchRec rec;
    TLeftOutReason reason{};
    EXPECT_EQ(FindFile(tmp / "fifo", rec, reason), TFindFile::LeftOut);
    EXPECT_EQ(reason, TLeftOutReason::SpecialFile);
    EXPECT_EQ(FindFile(tmp / "missing", rec, reason), TFindFile::Missing);
    EXPECT_EQ(FindFile(tmp / "root", rec, reason), TFindFile::Missing);  // a folder is no file
}

TEST(FileSearch, FolderThatCannotBeOpened) {
    TFileSearch search;
    EXPECT_FALSE(search.ReadFolder("/nonexistent-brenwick-folder/"));
    TTempTree tmp;
    WriteText(tmp / "file", "x");
    EXPECT_FALSE(search.ReadFolder(tmp / "file"));
}

// FindFirst/FindNext with a Windows mask.
TEST(FileSearch, FindFirstNextWithMask) {
    TTempTree tmp;
    for (const char* n : {"a.TXT", "b.txt", "c.doc", "noext"}) WriteText(tmp / n, "x");
    TFileSearch search;
    TSearchRec rec;
    std::vector<std::string> found;
    for (bool ok = search.FindFirst(tmp / "*.txt", rec); ok; ok = search.FindNext(rec))
        found.push_back(rec.FileName);
    search.FindClose();
    EXPECT_EQ(found, (std::vector<std::string>{"a.TXT", "b.txt"}));
    found.clear();
    for (bool ok = search.FindFirst(tmp / "*.*", rec); ok; ok = search.FindNext(rec))
        found.push_back(rec.FileName);
    EXPECT_EQ(found.size(), 4u);
}

TEST(FileSearch, WindowsMasks) {
    const struct {
        const char* name;
        const char* mask;
        bool match;
    } cases[] = {{"noext", "*.*", true},   {"a.txt", "*.TXT", true}, {"a.txt.bak", "*.txt", false},
                 {"abc", "a?c", true},     {"ac", "a?c", false},     {"abc", "*", true},
                 {"x.y", "x.*", true},     {"x", "x.*", true},       {"caf\xc3\xa9", "caf?", true},
                 {"aXbXc", "a*b*c", true}, {"abd", "a*c", false}};
    for (const auto& c : cases) EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

// Packed DOS times: 2-second resolution, times before 1980 become 1980-01-01 00:00:00.
TEST(FileSearch, PackedDosTimes) {
    setenv("TZ", "UTC0", 1);
    tzset();
    const struct {
        std::int64_t unix;
        std::uint32_t dos;
    } cases[] = {
        {0, (1u << 5 | 1u) << 16},          // 1970
        {315532800, (1u << 5 | 1u) << 16},  // 1980-01-01 00:00:00
        {1765064001,
         ((45u << 9 | 12u << 5 | 6u) << 16) | (23u << 11 | 33u << 5 | 10u)},  // 2025-12-06 23:33:21
    };
    for (const auto& c : cases) EXPECT_EQ(static_cast<std::uint32_t>(PackDosTime(c.unix)), c.dos) << c.unix;
}

}  // namespace
}  // namespace brenwick
