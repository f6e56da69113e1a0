// The explorer's plain rules: size and attribute texts, masks and the attribute filter, number formats,
// the sort order, the folder-name rule, and the copy that never replaces.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "explorer/NvFileOps.h"
#include "explorer/NvFileScan.h"
#include "explorer/NvListLogic.h"

namespace brenwick {
namespace {

TEST(NvListLogic, TextsAndFormats) {
    const std::pair<std::int64_t, const char*> sizes[] = {{0, "0 KB"},
                                                          {1, "1 KB"},
                                                          {1023, "1 KB"},
                                                          {1024, "1 KB"},
                                                          {1025, "1 KB"},
                                                          {2048, "2 KB"},
                                                          {5000000000, "4882812 KB"}};
    for (auto [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;
    EXPECT_EQ(SizeTextNumber("4882812 KB"), 4882812);
    EXPECT_EQ(SizeTextNumber(" "), 0);
    EXPECT_EQ(AttrText(kAttrArchive | kAttrReadOnly | kAttrHidden | kAttrSystem), "ARHS");
    EXPECT_EQ(AttrText(kAttrDirectory | kAttrHidden), "H");
    EXPECT_EQ(SelectedKbText(1536), "1.50 KB");
    EXPECT_EQ(SelectedKbText(1234567), "1,205.63 KB");
    EXPECT_EQ(SelectedKbText(0), "0.00 KB");
    EXPECT_EQ(FreeMbText(999), " MB");
    EXPECT_EQ(FreeMbText(123456789), "123,456 MB");
    EXPECT_EQ(DriveMbText(1000000000000), "1,000,000,000 Mb");
}

TEST(NvListLogic, MasksAndFilter) {
    EXPECT_EQ(SplitMask("  *.txt ; *.C  "), (std::vector<std::string>{"*.txt", "*.C"}));
    EXPECT_EQ(SplitMask("   "), std::vector<std::string>{"*.*"});
    EXPECT_EQ(SplitMask("a;;b"), (std::vector<std::string>{"a", "b"}));
    const std::tuple<const char*, const char*, bool> matches[] = {
        {"Makefile", "*.*", true}, {"a.TXT", "*.txt", true}, {"a.txt.bak", "*.txt", false},
        {"abc", "a?c", true},      {"abc", "abc.*", true},   {"report.c", "r*t.?", true},
        {"x", "*.c", false}};
    for (auto [name, pattern, want] : matches)
        EXPECT_EQ(MatchesPattern(name, pattern), want) << name << pattern;
    const std::uint32_t wanted = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
    EXPECT_TRUE(PassesFilter(kAttrArchive | kAttrHidden, wanted));
    EXPECT_FALSE(PassesFilter(kAttrArchive | kAttrHidden, 0));
    EXPECT_FALSE(PassesFilter(kAttrReadOnly | kAttrArchive, kAttrArchive));
    EXPECT_TRUE(PassesFilter(kAttrArchive, 0));
    EXPECT_FALSE(PassesFilter(kAttrDirectory, wanted));
    EXPECT_TRUE(PassesFilter(kAttrDirectory, wanted | kAttrDirectory));
}

TEST(NvListLogic, SortOrder) {
    const auto key = [](bool parent, bool dir, const char* name, std::int64_t kb) {
        TNvSortKey k;
        k.parent = parent, k.dir = dir, k.upperName = name, k.sizeKb = kb;
        return k;
    };
    const TNvSortKey parent = key(true, true, " UP", 0), dir = key(false, true, "ZOO", 0),
                     small = key(false, false, "B", 1), big = key(false, false, "A", 9);
    using C = TNvSortColumn;
    EXPECT_LT(CompareEntries(dir, small, C::Name, false), 0);  // folders first
    EXPECT_GT(CompareEntries(dir, small, C::Name, true), 0);   // reversed: folders last
    EXPECT_LT(CompareEntries(parent, dir, C::Name, true), 0);  // the parent entry stays first
    EXPECT_LT(CompareEntries(big, small, C::Name, false), 0);
    EXPECT_LT(CompareEntries(small, big, C::Size, false), 0);
    EXPECT_GT(CompareEntries(small, big, C::Size, true), 0);
    EXPECT_TRUE(InvalidFolderName(""));
    for (char c : std::string("\\*?/=\"<>|:,;+^")) EXPECT_TRUE(InvalidFolderName(std::string("a") + c)) << c;
    EXPECT_FALSE(InvalidFolderName("My Music (2)"));
}

// Copies and moves into a folder: an existing name is refused before and never replaced.
TEST(NvFileOps, CopyMoveAndRefusals) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("nvops-" + std::to_string(::getpid()));
    fs::create_directories(dir / "src" / "tree" / "sub");
    fs::create_directories(dir / "dst");
    std::ofstream(dir / "src" / "a.txt") << "new";
    std::ofstream(dir / "src" / "tree" / "sub" / "b.txt") << "b";
    std::ofstream(dir / "dst" / "a.txt") << "old";
    const std::string target = (dir / "dst").string() + "/";
    const std::vector<std::string> sources{(dir / "src" / "a.txt").string(), (dir / "src" / "tree").string()};
    EXPECT_EQ(PasteRefusals(sources, target), std::vector<std::string>{sources[0]});
    EXPECT_EQ(PasteRefusals({(dir / "dst").string()}, target + "x/").size(), 1u);  // into itself

    TNvCopyJob job;
    job.sources = sources;  // the existing name fails at run time too
    job.target = target;
    RunCopyJob(job);
    ASSERT_EQ(job.failures.size(), 1u);
    std::string old;
    std::ifstream(dir / "dst" / "a.txt") >> old;
    EXPECT_EQ(old, "old");
    EXPECT_TRUE(fs::exists(dir / "dst" / "tree" / "sub" / "b.txt"));
    EXPECT_TRUE(fs::exists(dir / "src" / "tree"));

    fs::create_directories(dir / "dst2");
    TNvCopyJob move;
    move.sources = {(dir / "src" / "tree").string()};
    move.target = (dir / "dst2").string() + "/";
    move.move = true;
    RunCopyJob(move);
    EXPECT_TRUE(move.failures.empty());
    EXPECT_FALSE(fs::exists(dir / "src" / "tree"));
    EXPECT_TRUE(fs::exists(dir / "dst2" / "tree" / "sub" / "b.txt"));
    EXPECT_EQ(NewFolderName(target), "New Folder");
    fs::create_directory(dir / "dst" / "New Folder");
    EXPECT_EQ(NewFolderName(target), "New Folder (2)");
    EXPECT_FALSE(RenameNoReplace((dir / "src" / "a.txt").string(), target + "a.txt"));  // never replaces
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(RenameNoReplace((dir / "src" / "a.txt").string(), target + "b.txt"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brenwick
