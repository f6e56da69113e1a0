// The compilation tree on real temporary source folders: names, merging, order, limits and the reports of
// everything a folder or file add leaves out.
#include "isofs/qrCompilation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "isofs/qrISODate.h"
#include "isofs/qrTestSupport.h"

namespace brenwick {
namespace {

using testing::TTempTree;
using testing::WriteText;

struct TLogLine {
    std::string text;
    int mType;
};

class CompilationTest : public ::testing::Test {
  protected:
    std::vector<TLogLine> m_lines;
    TCompilation c{nullptr, [this](const std::string& text, std::uint8_t mType) {
                       m_lines.push_back({text, mType});
                   }};
    TTempTree tmp;

    static std::vector<std::string> ShortNames(const TDEntry* d) {
        std::vector<std::string> out;
        for (const TFEntry* f = d->Entries; f != nullptr; f = f->Next) out.push_back(f->ShortName);
        return out;
    }
    static std::vector<std::string> LongNames(const TDEntry* d) {
        std::vector<std::string> out;
        for (const TFEntry* f = d->Entries; f != nullptr; f = f->Next) out.push_back(f->LongName);
        return out;
    }
    static std::string DiscPath(std::string linux) {
        std::replace(linux.begin(), linux.end(), '/', '\\');
        return linux;
    }
    int addFolder(const std::string& dest, const std::string& source) {
        return c.AddFolder(dest, source, false, false, true, 63, "*.*");
    }
    bool logged(const std::string& text, int mType) const {
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const TLogLine& l) { return l.text == text && l.mType == mType; });
    }
};

// A file without an extension gets the dot in its ISO 9660 name only; adding it again is a duplicate.
TEST_F(CompilationTest, FileWithoutExtensionGetsTheDotInItsShortName) {
    WriteText(tmp / "README", "x");
    EXPECT_EQ(c.AddFile("\\", tmp / "README", false), 1);
    EXPECT_EQ(ShortNames(c.Root()), std::vector<std::string>{"README."});
    EXPECT_EQ(LongNames(c.Root()), std::vector<std::string>{"README"});
    EXPECT_EQ(c.AddFile("\\", tmp / "README", false), 1);
    EXPECT_EQ(c.EntryCount(), 1);
}

// With derive on, a folder's content goes into the disc folder named after its source path.
TEST_F(CompilationTest, DeriveDestinationFromTheSourceFolder) {
    WriteText(tmp / "Data/a.txt", "a");
    EXPECT_EQ(c.AddFolder("\\", tmp / "Data/", false, true, true, 63, "*.*"), 1);
    const TDEntry* data = c.FindDirectory(DiscPath(tmp / "Data"));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(LongNames(data), std::vector<std::string>{"a.txt"});
    WriteText(tmp / "Data/b.txt", "b");
    EXPECT_EQ(c.AddFile("\\", tmp / "Data/b.txt", true), 1);
    EXPECT_EQ(LongNames(data), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// A second add of the same folder merges into the same directories instead of making twins.
TEST_F(CompilationTest, SecondFolderAddMerges) {
    WriteText(tmp / "src/sub/a.txt", "a");
    WriteText(tmp / "src/b.txt", "b");
    ASSERT_NE(c.ForceDirectory("\\run\\x"), nullptr);
    addFolder("\\run\\x", tmp / "src/");
    const int dirs = c.DirectoryCount(), entries = c.EntryCount();
    addFolder("\\run\\x", tmp / "src/");
    EXPECT_EQ(c.DirectoryCount(), dirs);
    EXPECT_EQ(c.EntryCount(), entries);
    EXPECT_EQ(dirs, 3);
}

// A folder add leaves its directory sorted by short name; files added singly later stay at the end.
TEST_F(CompilationTest, FolderAddSortsAndSingleAddsAppend) {
    for (const char* n : {"c.txt", "README", "a-b.txt", "README.TXT", "a.txt"})
        WriteText(tmp / (std::string("f/") + n), "x");
    WriteText(tmp / "g/0.txt", "0");
    addFolder("\\", tmp / "f/");
    EXPECT_EQ(ShortNames(c.Root()),
              (std::vector<std::string>{"A-B.TXT", "A.TXT", "C.TXT", "README.", "README.TXT"}));
    EXPECT_EQ(c.AddFile("\\", tmp / "g/0.txt", false), 1);
    EXPECT_EQ(ShortNames(c.Root()).back(), "0.TXT");
}

// The sort reproduces the insertion sort: equal short names end in the reverse of their previous order.
TEST_F(CompilationTest, SortPutsEqualNamesInReverseOrder) {
    TSearchRec rec;
    for (const char* n : {"b1.x", "a.x", "b2.x", "b3.x"}) {
        rec.Name = n;
        ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 1);
    }
    for (TFEntry* f = c.Root()->Entries; f != nullptr; f = f->Next) {
        if (f->LongName[0] == 'b') f->ShortName = "B.X";
    }
    c.SortEntries(c.Root());
    EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"a.x", "b3.x", "b2.x", "b1.x"}));
}

TEST_F(CompilationTest, EmptyFolderStillMakesItsDirectory) {
    std::filesystem::create_directories(tmp / "src/empty");
    addFolder("\\", tmp / "src/");
    ASSERT_NE(c.FindDirectory("\\empty"), nullptr);
    EXPECT_EQ(c.FindDirectory("\\empty")->Entries, nullptr);
}

// ReplaceFile off keeps both files of one name from two sources, the second under a tail (logged); on,
// the entry takes the new size, date and source.
TEST_F(CompilationTest, ReplaceFileOffKeepsBothOnOverwrites) {
    WriteText(tmp / "a/x.txt", "1");
    WriteText(tmp / "b/x.txt", "22");
    EXPECT_EQ(c.AddFile("\\", tmp / "a/x.txt", false), 1);
    TSearchRec rec;
    TLeftOutReason reason{};
    ASSERT_EQ(FindFile(tmp / "b/x.txt", rec, reason), TFindFile::Found);
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, tmp / "b/x.txt", 0), 1);
    EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"x.txt", "x~1.txt"}));
    EXPECT_TRUE(logged(">>> RENAMED ON DISC: " + (tmp / "b/x.txt") + " -> x~1.txt", 1));
    c.ClearCompilation();
    EXPECT_EQ(c.AddFile("\\", tmp / "a/x.txt", false), 1);
    c.ReplaceFile = true;
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, tmp / "b/x.txt", 0), 1);
    EXPECT_EQ(c.EntryCount(), 1);
    EXPECT_EQ(c.Root()->Entries->Size, 2u);
    EXPECT_EQ(c.Root()->Entries->SourcePath, tmp / "b/x.txt");
}

// ISO 9660 path tables are numbered by short name: MYFOLDER (a valid 8.3 name, so it needs no alternate
// name here) before MYMUSI~1; the Joliet tables follow the long names, which sort the other way.
TEST_F(CompilationTest, PathTableNumbersFollowShortNames) {
    std::filesystem::create_directories(tmp / "src/My Music/inner");
    std::filesystem::create_directories(tmp / "src/Myfolder");
    addFolder("\\", tmp / "src/");
    c.NumberDirectories();
    const TDEntry* music = c.FindDirectory("\\My Music");
    const TDEntry* folder = c.FindDirectory("\\Myfolder");
    ASSERT_NE(music, nullptr);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(music->ShortName, "MYMUSI~1");
    EXPECT_EQ(folder->ShortName, "MYFOLDER");
    EXPECT_EQ(folder->DirNumber, 2u);
    EXPECT_EQ(music->DirNumber, 3u);
    EXPECT_EQ(c.FindDirectory("\\My Music\\inner")->DirNumber, 4u);
    EXPECT_EQ(music->JolietNumber, 2u);
    EXPECT_EQ(folder->JolietNumber, 3u);
    EXPECT_EQ(c.FindDirectory("\\My Music\\inner")->JolietNumber, 4u);
}

// Session folders of one hour share their 13-character short name: the later one gets a tail.
TEST_F(CompilationTest, SessionFoldersOfOneHourGetDistinctShortNames) {
    const TDEntry* first = c.ForceDirectory("\\2026-12-06 23.52\\home\\ann\\");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.FindDirectory("\\2026-12-06 23.52")->ShortName, "2026-12-06_23");
    EXPECT_EQ(c.FindDirectory("\\2026-12-06 23.52\\home\\ann"), first);
    const TDEntry* second = c.ForceDirectory("\\2026-12-06 23.59");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->ShortName, "2026-12-06_~1");
    EXPECT_EQ(c.ForceDirectory("\\2026-12-06 23.58")->ShortName, "2026-12-06_~2");
}

// A handler that names a file beyond what a directory record holds cannot get the name written.
TEST_F(CompilationTest, HandlerCannotForceAnUnencodableName) {
    WriteText(tmp / "n/c.txt", "x");
    c.OnAddFile = [](TObject*, const std::string&, std::string& longName, std::string&, TDateTime&,
                     std::int32_t, std::int64_t, bool&) { longName = std::string(130, 'c'); };
    addFolder("\\", tmp / "n/");
    EXPECT_EQ(c.EntryCount(), 0);
    EXPECT_EQ(c.LeftOutCount(), 1);
}

// A skip chosen by the handler is the caller's choice and is not reported.
TEST_F(CompilationTest, HandlerSkipIsNotReported) {
    WriteText(tmp / "s/a.txt", "x");
    c.OnAddFile = [](TObject*, const std::string&, std::string&, std::string&, TDateTime&, std::int32_t,
                     std::int64_t, bool& skip) { skip = true; };
    bool dirSeen = false;
    c.OnAddDir = [&](TObject*, std::string&, std::string&, bool& skip) { dirSeen = true, skip = true; };
    std::filesystem::create_directories(tmp / "s/sub");
    addFolder("\\", tmp / "s/");
    EXPECT_TRUE(dirSeen);
    EXPECT_EQ(c.EntryCount(), 0);
    EXPECT_TRUE(m_lines.empty());
}

// Everything a folder walk leaves out is reported, one line each, and the walk never hangs.
TEST_F(CompilationTest, FolderWalkReportsWhatItLeavesOut) {
    const std::string src = tmp / "w";
    WriteText(src + "/ok.txt", "x");
    ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink(src.c_str(), (src + "/up").c_str()), 0);  // a link back to the folder
    ASSERT_EQ(symlink("loop2", (src + "/loop1").c_str()), 0);   // a link loop
    ASSERT_EQ(symlink("loop1", (src + "/loop2").c_str()), 0);
    ASSERT_EQ(symlink("ok.txt", (src + "/link.txt").c_str()), 0);  // a link to a file is followed
    { std::ofstream big(src + "/big.bin"); }
    ASSERT_EQ(truncate((src + "/big.bin").c_str(), std::int64_t{1} << 32), 0);  // sparse 4 GiB
    addFolder("\\", src + "/");
    EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"link.txt", "ok.txt"}));
    const struct {
        const char* name;
        const char* reason;
    } expected[] = {{"pipe", "SPECIAL FILE"},
                    {"up", "LINK TO A FOLDER"},
                    {"loop1", "CANNOT READ"},
                    {"loop2", "CANNOT READ"},
                    {"big.bin", "4 GB OR LARGER"}};
    for (const auto& e : expected) {
        EXPECT_TRUE(logged(">>> NOT BACKED UP: " + src + "/" + e.name + " (" + e.reason + ")", 3)) << e.name;
    }
    EXPECT_EQ(c.LeftOutCount(), 5);
    EXPECT_EQ(m_lines.size(), 5u);
}

// A file of 4 GiB - 1 is kept whole: the size is an unsigned 32-bit count.
TEST_F(CompilationTest, FileJustBelowFourGiBIsKept) {
    { std::ofstream f(tmp / "x.bin"); }
    ASSERT_EQ(truncate((tmp / "x.bin").c_str(), (std::int64_t{1} << 32) - 1), 0);
    EXPECT_EQ(c.AddFile("\\", tmp / "x.bin", false), 1);
    ASSERT_EQ(c.EntryCount(), 1);
    EXPECT_EQ(c.Root()->Entries->Size, 0xFFFFFFFFu);
}

TEST_F(CompilationTest, InvalidDestinationAndMissingSource) {
    WriteText(tmp / "a.txt", "x");
    EXPECT_EQ(c.AddFile("\\nowhere", tmp / "a.txt", false), 0);
    EXPECT_TRUE(logged("INVALID DESTINATION PATH", 4));
    EXPECT_EQ(c.AddFolder("\\nowhere", tmp.path() + "/", false, false, true, 63, "*.*"), 0);
    EXPECT_EQ(c.AddFile("\\", tmp / "missing.txt", false), -1);
    EXPECT_EQ(c.AddFile("\\", tmp.path() + "/..", false), -1);
}

// Linux names differ by case: both files stay, and the second gets a distinct short name.
TEST_F(CompilationTest, NamesDifferingByCaseAreBothKept) {
    WriteText(tmp / "c/README.TXT", "1");
    WriteText(tmp / "c/Readme.txt", "2");
    addFolder("\\", tmp / "c/");
    EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"README.TXT", "Readme.txt"}));
    EXPECT_EQ(ShortNames(c.Root()), (std::vector<std::string>{"README.TXT", "READ~1.TXT"}));
}

// A "\" inside a Linux name would split it into two disc folders, a ";" would end its Joliet name for
// several readers: both become "_", and a name that then meets another gets a tail.
TEST_F(CompilationTest, UnsafeCharactersInANameBecomeUnderscores) {
    for (const std::string bad : {"a\\b.txt", "a;b.txt"}) {
        c.ClearCompilation();
        const std::string folder = tmp / ("u" + std::to_string(bad[1]) + "/");
        WriteText(folder + bad, "1");
        WriteText(folder + "a_b.txt", "2");
        WriteText(folder + "x;y", "3");
        addFolder("\\", folder);
        EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"a_b.txt", "a_b~1.txt", "x_y"})) << bad;
        for (const TFEntry* f = c.Root()->Entries; f != nullptr; f = f->Next) {
            const char* content = f->LongName == "a_b.txt" ? "2" : f->LongName == "x_y" ? "3" : "1";
            EXPECT_EQ(testing::ReadText(f->SourcePath), content) << bad << " " << f->LongName;
        }
        // A single add of the file takes the same name.
        c.ClearCompilation();
        EXPECT_EQ(c.AddFile("\\", folder + "x;y", false), 1);
        EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"x_y"})) << bad;
    }
}

// A file never replaces a sub-directory of the same name, and a handler cannot make two entries of one name.
TEST_F(CompilationTest, DuplicatesNeverOverwriteDirectoriesOrDoubleANames) {
    ASSERT_NE(c.ForceDirectory("\\x.y"), nullptr);
    c.ReplaceFile = true;
    TSearchRec rec;
    rec.Name = "x.y";
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 0);
    EXPECT_TRUE(c.Root()->Entries->isDirectory());
    EXPECT_EQ(c.Root()->Entries->DirLink, c.FindDirectory("\\x.y"));
    c.OnAddFile = [](TObject*, const std::string&, std::string& longName, std::string&, TDateTime&,
                     std::int32_t, std::int64_t, bool&) { longName = "same.txt"; };
    rec.Name = "a.txt";
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 1);
    rec.Name = "b.txt";
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 0);
    EXPECT_EQ(c.EntryCount(), 2);
}

// A file without a dot beside one whose name is the same with the dot: both stay under their own Joliet
// names; their ISO 9660 names (both with the dot) get a tail.
TEST_F(CompilationTest, NameWithAndWithoutTheDotAreBothKept) {
    WriteText(tmp / "d/notes", "1");
    WriteText(tmp / "d/notes.", "2");
    addFolder("\\", tmp / "d/");
    EXPECT_EQ(LongNames(c.Root()), (std::vector<std::string>{"notes", "notes."}));
    EXPECT_EQ(ShortNames(c.Root()), (std::vector<std::string>{"NOTES.", "NOT~1."}));
}

// The limits: 8191 directories and 65535 entries, each refusal reported with its limit line.
TEST_F(CompilationTest, DirectoryAndEntryLimits) {
    for (int i = 0; i < kMaxDirectories; ++i)
        ASSERT_NE(c.ForceDirectory("\\d" + std::to_string(i)), nullptr) << i;
    EXPECT_EQ(c.DirectoryCount(), 8191);
    EXPECT_EQ(c.ForceDirectory("\\one-more"), nullptr);
    EXPECT_TRUE(logged("MAXIMUM DIRECTORIES CAN BE 8191", 3));
    TSearchRec rec;
    for (int i = c.EntryCount(); i < kMaxFileEntries; ++i) {
        rec.Name = "f" + std::to_string(i) + ".x";
        ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 1);
    }
    rec.Name = "last.x";
    EXPECT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 0);
    EXPECT_TRUE(logged("MAXIMUM FILES CAN BE 65535", 3));
    EXPECT_EQ(c.EntryCount(), 65535);
    EXPECT_EQ(c.LeftOutCount(), 2);
    c.ClearCompilation();
    EXPECT_EQ(c.DirectoryCount(), 0);
    EXPECT_EQ(c.EntryCount(), 0);
    EXPECT_EQ(c.Root()->LongName, "CD Root Directory");
}

// A full file registry refuses a directory whole: no directory entry remains without its file entry.
TEST_F(CompilationTest, DirectoryRefusedWhenTheEntriesAreFull) {
    TSearchRec rec;
    for (int i = 0; i < kMaxFileEntries; ++i) {
        rec.Name = std::to_string(i).insert(0, 1, 'f') + ".x";
        ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 1);
    }
    EXPECT_EQ(c.ForceDirectory("\\d"), nullptr);
    EXPECT_EQ(c.DirectoryCount(), 0);
    EXPECT_TRUE(logged("MAXIMUM FILES CAN BE 65535", 3));
}

// Components that would let a restore leave its target are refused.
TEST_F(CompilationTest, DotComponentsAreRefused) {
    EXPECT_EQ(c.ForceDirectory("\\a\\..\\b"), nullptr);
    EXPECT_EQ(c.FindDirectory("\\a\\.."), nullptr);
}

// The time-zone offset of the disc dates is the standard-time offset in 15-minute units.
TEST_F(CompilationTest, TimeZoneOffsetIgnoresDaylightSaving) {
    const struct {
        const char* tz;
        int offset;
    } cases[] = {{"UTC0", 0}, {"EST5EDT", -20}, {"CET-1CEST", 4}, {"IST-5:30", 22}};
    for (const auto& t : cases) {
        setenv("TZ", t.tz, 1);
        c.ClearCompilation();
        EXPECT_EQ(c.TimeZoneOffset(), t.offset) << t.tz;
    }
}

// Dates come from the source's modification time in local time, to 2 seconds.
TEST_F(CompilationTest, FileDateIsTheLocalModificationTime) {
    setenv("TZ", "UTC0", 1);
    tzset();
    WriteText(tmp / "d.txt", "x");
    testing::SetMtime(tmp / "d.txt", 1765064001);  // 2025-12-06 23:33:21 UTC
    ASSERT_EQ(c.AddFile("\\", tmp / "d.txt", false), 1);
    const TDateParts p = DecodeDateTime(c.Root()->Entries->DateTime);
    EXPECT_EQ(p.Year, 2025);
    EXPECT_EQ(p.Month, 12);
    EXPECT_EQ(p.Day, 6);
    EXPECT_EQ(p.Hour, 23);
    EXPECT_EQ(p.Minute, 33);
    EXPECT_EQ(p.Second, 20);
}

}  // namespace
}  // namespace brenwick
