// The import of an earlier session: sessions of this system, of genisoimage and of xorriso come back with
// their names, sizes, dates and extents; damaged and hostile discs end in a reported refusal, never a hang.
#include "isofs/qrSessionImport.h"
#include "isofs/qrSessionListing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "isofs/qrISODate.h"
#include "isofs/qrSessionPrepare.h"
#include "isofs/qrTestSupport.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::TTempTree;
using testing::WriteText;

struct TLine {
    std::string text;
    int mType;
};

// A disc in memory that can fail its table of contents or single sectors, and records what was read.
class TTestDisc : public TMemoryDisc {
  public:
    using TMemoryDisc::TMemoryDisc;
    bool tocFails = false;
    std::uint8_t sessions = 0xFF;  // FFh: as many as starts were given
    std::uint32_t badSector = 0xFFFFFFFF;
    std::vector<std::uint32_t> reads;

    std::uint8_t sessionCount() override { return sessions == 0xFF ? TMemoryDisc::sessionCount() : sessions; }
    bool sessionStart(std::uint8_t session, std::uint32_t& lba) override {
        return !tocFails && TMemoryDisc::sessionStart(session, lba);
    }
    bool read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) override {
        reads.push_back(lba);
        return lba != badSector && TMemoryDisc::read(lba, sector);
    }
};

// Hand-made discs: a primary descriptor at 16, a Joliet descriptor at 17 whose root lies at 20, the
// terminator at 18, and directory sectors written record by record.
struct TCraftRecord {
    std::u16string name;
    std::uint32_t extent = 0;
    std::uint32_t size = 0;
    std::uint8_t flags = 0;
    std::uint8_t extra = 0;  // system use bytes after the identifier
};

void Both32(std::vector<std::uint8_t>& img, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        img[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        img[at + 7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::size_t PutRecord(std::vector<std::uint8_t>& img, std::size_t at, const TCraftRecord& r,
                      bool dot = false) {
    const std::size_t n = dot ? 1 : r.name.size() * 2;
    const std::size_t length = 33 + n + (n % 2 == 0 ? 1 : 0) + r.extra;
    img[at] = static_cast<std::uint8_t>(length);
    Both32(img, at + 2, r.extent);
    Both32(img, at + 10, r.size);
    const std::uint8_t date[7] = {125, 12, 6, 23, 33, 20, 0};
    std::memcpy(&img[at + 18], date, 7);
    img[at + 25] = r.flags;
    img[at + 32] = static_cast<std::uint8_t>(n);
    if (dot) {
        img[at + 33] = static_cast<std::uint8_t>(r.name[0]);
    } else {
        for (std::size_t i = 0; i < r.name.size(); ++i) {
            img[at + 33 + 2 * i] = static_cast<std::uint8_t>(r.name[i] >> 8);
            img[at + 34 + 2 * i] = static_cast<std::uint8_t>(r.name[i]);
        }
    }
    return at + length;
}

std::vector<std::uint8_t> CraftDisc(std::uint32_t sectors) {
    std::vector<std::uint8_t> img(sectors * 2048u, 0);
    for (std::uint32_t s : {16u, 17u, 18u})
        std::memcpy(&img[s * 2048 + 1], "CD001", 5), img[s * 2048 + 6] = 1;
    img[16 * 2048] = 1;
    img[17 * 2048] = 2;
    std::memcpy(&img[17 * 2048 + 88], "%/@", 3);
    img[17 * 2048 + 156] = 34;
    Both32(img, 17 * 2048 + 158, 20);
    Both32(img, 17 * 2048 + 166, 2048);
    img[18 * 2048] = 0xFF;
    return img;
}

void PutDirectory(std::vector<std::uint8_t>& img, std::uint32_t lba, std::uint32_t parent,
                  const std::vector<TCraftRecord>& records) {
    std::size_t at = lba * 2048u;
    at = PutRecord(img, at, TCraftRecord{u"\0", lba, 2048, 2}, true);
    at = PutRecord(img, at, TCraftRecord{u"\1", parent, 2048, 2}, true);
    for (const auto& r : records) at = PutRecord(img, at, r);
}

class ImportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        c.ClearCompilation();
    }
    std::vector<TLine> lines;
    TLogFn log = [this](const std::string& t, std::uint8_t m) { lines.push_back({t, m}); };
    TCompilation c{nullptr, log};
    TTempTree tmp;

    bool logged(const std::string& text, int mType) const {
        for (const auto& l : lines) {
            if (l.text == text && l.mType == mType) return true;
        }
        return false;
    }
    // Writes a session of this system from `src` under `dest` at `start` into `image`.
    TSessionLayout writeOwnSession(const std::string& image, const std::string& src, const std::string& dest,
                                   std::uint32_t start, bool joliet = true) {
        TCompilation w;
        EXPECT_NE(w.ForceDirectory(dest), nullptr);
        EXPECT_EQ(w.AddFolder(dest, src, false, false, true, 63, "*.*"), 1);
        TMetadataStream stream;
        TSessionLayout layout;
        EXPECT_EQ(LayoutSession(w, start, joliet, TVolumeInfo{}, stream, layout), TLayoutStatus::Ok);
        testing::WriteSession(image, w, layout, stream);
        return layout;
    }
    std::map<std::string, const TFEntry*> filesUnder(const std::string& path) const {
        std::map<std::string, const TFEntry*> out;
        const TDEntry* d = c.FindDirectory(path);
        for (const TFEntry* f = d ? d->Entries : nullptr; f != nullptr; f = f->Next) out[f->LongName] = f;
        return out;
    }
    TPrepareStatus prepare(TSessionDisc* disc, std::uint32_t start, std::int16_t selector = -1,
                           TDiscAccess access = TDiscAccess::Sequential) {
        TPrepareInput in;
        in.Access = access;
        in.Disc = disc;
        in.StartSector = start;
        in.SessionSelector = selector;
        stream.clear();
        return PrepareSession(c, in, stream, layout, log);
    }
    TMetadataStream stream;
    TSessionLayout layout;
};

// A session of this system comes back whole: names as written (short names with the dot rule), sizes, dates,
// extents, empty files at extent 0 and a directory of more than one sector.
TEST_F(ImportTest, OwnSessionComesBackWhole) {
    const std::string src = tmp / "src", image = tmp / "disc.img";
    WriteText(src + "/README", "no extension");
    WriteText(src + "/Report 2025.docx", "report");
    WriteText(src + "/empty.txt", "");
    for (int i = 0; i < 40; ++i)
        WriteText(src + "/big/" + std::string(50, 'b') + std::to_string(i) + ".txt", "x");
    testing::SetMtime(src + "/README", 1765064000);
    const TSessionLayout first = writeOwnSession(image, src, "\\2026-12-06 23.52", 0);
    TTestDisc disc(testing::ReadImage(image), {0});
    TSessionImport import(c, disc, log);
    ASSERT_TRUE(import.ImportSession(0xFF, nullptr));
    EXPECT_EQ(import.Fault(), TImportFault::None);
    EXPECT_TRUE(lines.empty());
    // The descriptors are searched from sector 15: 16 and 17 are passed over, the Joliet one at 18 is used.
    ASSERT_GE(disc.reads.size(), 4u);
    EXPECT_EQ(std::vector<std::uint32_t>(disc.reads.begin(), disc.reads.begin() + 4),
              (std::vector<std::uint32_t>{15, 16, 17, 18}));

    const TDEntry* session = c.FindDirectory("\\2026-12-06 23.52");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->ShortName, "2026-12-06_23");
    auto files = filesUnder("\\2026-12-06 23.52");
    ASSERT_EQ(files.count("README"), 1u);
    EXPECT_EQ(files["README"]->ShortName, "README.");
    EXPECT_TRUE(files["README"]->Imported);
    EXPECT_EQ(files["README"]->Size, 12u);
    EXPECT_TRUE(files["README"]->SourcePath.empty());
    const TDateParts p = DecodeDateTime(files["README"]->DateTime);
    EXPECT_EQ(p.Year, 2025);
    EXPECT_EQ(p.Hour, 23);
    EXPECT_EQ(p.Minute, 33);
    EXPECT_EQ(p.Second, 20);
    ASSERT_EQ(files.count("Report 2025.docx"), 1u);
    EXPECT_EQ(files["Report 2025.docx"]->ShortName, "REPORT_2025.D");
    ASSERT_EQ(files.count("empty.txt"), 1u);
    EXPECT_FALSE(files["empty.txt"]->Imported);
    EXPECT_EQ(files["empty.txt"]->IsoExtent, 0u);
    EXPECT_EQ(filesUnder("\\2026-12-06 23.52\\big").size(), 40u);
    // The data of every imported file is where its extent says.
    const auto img = testing::ReadImage(image);
    const auto* readme = files["README"];
    EXPECT_EQ(
        std::string(img.begin() + readme->IsoExtent * 2048, img.begin() + readme->IsoExtent * 2048 + 12),
        "no extension");
    EXPECT_GE(readme->IsoExtent, first.FirstFileSector);
    // Written again, the empty file keeps extent 0.
    ASSERT_EQ(prepare(nullptr, 20000), TPrepareStatus::Ok);
    EXPECT_EQ(files["empty.txt"]->IsoExtent, 0u);
    EXPECT_EQ(layout.FileSectorCount, 0u);
}

// Selector -1 imports the last complete session, found by its number.
TEST_F(ImportTest, LastSessionIsImported) {
    const std::string image = tmp / "disc.img";
    WriteText(tmp / "one/a.txt", "a");
    WriteText(tmp / "two/b.txt", "b");
    const TSessionLayout s1 = writeOwnSession(image, tmp / "one", "\\first", 0);
    writeOwnSession(image, tmp / "two", "\\second", static_cast<std::uint32_t>(s1.EndSector + 100));
    TTestDisc disc(testing::ReadImage(image), {0, static_cast<std::uint32_t>(s1.EndSector + 100)});
    ASSERT_EQ(prepare(&disc, static_cast<std::uint32_t>(s1.EndSector + 5000)), TPrepareStatus::Ok);
    EXPECT_EQ(c.FindDirectory("\\first"), nullptr);
    ASSERT_NE(c.FindDirectory("\\second"), nullptr);
    EXPECT_EQ(filesUnder("\\second").count("b.txt"), 1u);
}

// A blank disc (no session) imports nothing and logs nothing; Prepare goes on.
TEST_F(ImportTest, BlankDiscImportsNothingSilently) {
    TTestDisc disc(std::vector<std::uint8_t>(40 * 2048, 0), {});
    disc.tocFails = true;
    EXPECT_EQ(prepare(&disc, 0), TPrepareStatus::Ok);
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(stream.empty());
}

// The failures of the import: their log lines, then the refusal to continue the disc.
TEST_F(ImportTest, FailuresAreReportedAndRefused) {
    const std::string image = tmp / "plain.img";
    WriteText(tmp / "src/a.txt", "a");
    writeOwnSession(image, tmp / "src", "\\x", 0, false);  // no Joliet: the terminator comes first
    const struct {
        const char* what;
        bool tocFails;
        bool blank;
        const char* line;  // the import's own line (mType 4), or none
    } cases[] = {
        {"toc", true, false, "ERROR IMPORTING SESSION 1"},
        {"no descriptor", false, true, "ERROR IMPORTING SESSION 1 (ISO Image not found)"},
        {"no joliet", false, false, nullptr},
    };
    for (const auto& k : cases) {
        lines.clear();
        c.ClearCompilation();
        TTestDisc disc(k.blank ? std::vector<std::uint8_t>(60 * 2048, 0) : testing::ReadImage(image), {0});
        disc.tocFails = k.tocFails;
        EXPECT_EQ(prepare(&disc, 5000), TPrepareStatus::ImportFailed) << k.what;
        EXPECT_TRUE(stream.empty()) << k.what;
        EXPECT_TRUE(logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC", 0))
            << k.what;
        EXPECT_EQ(lines.size(), k.line ? 2u : 1u) << k.what;
        if (k.line) {
            EXPECT_TRUE(logged(k.line, 4)) << k.what;
        }
    }
}

// Hostile and damaged directory trees stop the import with a fault; nothing recurses without end.
TEST_F(ImportTest, HostileTreesAreRefused) {
    const struct {
        const char* what;
        std::vector<TCraftRecord> root;
        std::uint32_t badSector;
        TImportFault fault;
    } cases[] = {
        {"loop to itself", {{u"self", 20, 2048, 2}}, 0, TImportFault::Loop},
        {"loop via a child", {{u"sub", 21, 2048, 2}}, 0, TImportFault::Loop},
        {"directory outside the disc", {{u"far", 900, 2048, 2}}, 0, TImportFault::BadExtent},
        {"file outside the disc", {{u"f.txt;1", 25, 200000, 0}}, 0, TImportFault::BadExtent},
        {"file in the system area", {{u"f.txt;1", 0, 10, 0}}, 0, TImportFault::BadExtent},
        {"file of several extents", {{u"part.bin;1", 25, 10, 0x80}}, 0, TImportFault::MultiExtent},
        {"unreadable directory", {{u"sub", 21, 2048, 2}}, 21, TImportFault::SectorUnreadable},
        {"huge directory", {{u"sub", 22, 0xFFFFF800u, 2}}, 0, TImportFault::BadExtent},
        {"name of 240 bytes", {{std::u16string(120, u'n'), 25, 1, 0}}, 0, TImportFault::BadRecord},
        {"names that meet once made safe",
         {{u"a\\b", 25, 1, 0}, {u"a_b", 26, 1, 0}},
         0,
         TImportFault::NameClash},
        // 110 units without a version: past the bound of a file name, so the file could not be listed again
        {"file name too long",
         {{std::u16string(106, u'n') + u".txt", 25, 1, 0}},
         0,
         TImportFault::EntryRefused},
    };
    for (const auto& k : cases) {
        c.ClearCompilation();
        auto img = CraftDisc(30);
        PutDirectory(img, 20, 20, k.root);
        PutDirectory(img, 21, 20, {{u"back", 20, 2048, 2}});  // sub points back to the root
        TTestDisc disc(img, {0});
        if (k.badSector != 0) disc.badSector = k.badSector;
        TSessionImport import(c, disc, log);
        EXPECT_FALSE(import.ImportSession(1, nullptr)) << k.what;
        EXPECT_EQ(import.Fault(), k.fault) << k.what;
        EXPECT_LT(disc.reads.size(), 40u) << k.what;
    }
}

// Records with system use bytes are stepped over by their length; unsafe names are made safe.
TEST_F(ImportTest, RecordsOfOtherProgramsAndOddNames) {
    auto img = CraftDisc(30);
    PutDirectory(img, 20, 20,
                 {{u"su.txt;1", 25, 3, 0, 14},
                  {u"..", 26, 1, 0},
                  {u"a/b\\c.txt;1", 27, 1, 0x01},
                  {u"last.txt", 29, 1, 0}});
    TTestDisc disc(img, {0});
    TSessionImport import(c, disc, log);
    EXPECT_TRUE(import.ImportSession(1, nullptr));
    auto files = filesUnder("\\");
    EXPECT_EQ(files.count("su.txt"), 1u);
    EXPECT_EQ(files.count("_"), 1u);  // ".." as a file name becomes "_"
    ASSERT_EQ(files.count("a_b_c.txt"), 1u);
    EXPECT_EQ(files["a_b_c.txt"]->Attr & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(files.count("last.txt"), 1u);
    EXPECT_EQ(files.size(), 4u);
}

// Joliet names come with the version ";1" (older discs, genisoimage) or without (this system, xorriso):
// a trailing version is dropped, a ";" inside a name becomes "_" as in the names of new files.
TEST_F(ImportTest, VersionSuffixIsDroppedOnly) {
    const struct {
        std::u16string onDisc;
        std::string longName, shortName;
    } cases[] = {
        {u"README.;1", "README.", "README."},
        {u"README.", "README.", "README."},
        {u"README;1", "README", "README."},
        {u"Report 2025.docx;1", "Report 2025.docx", "REPORT_2025.D"},
        {u"Report 2025.docx", "Report 2025.docx", "REPORT_2025.D"},
        {u"a;b.txt", "a_b.txt", "A_B.TXT"},
        {u"a;b.txt;1", "a_b.txt", "A_B.TXT"},
        {u"v.txt;32767", "v.txt", "V.TXT"},
        {u"v.txt;123456", "v.txt_123456", "V.TXT_123456"},
        {u"end.txt;", "end.txt_", "END.TXT_"},
        {u"x.txt;1a", "x.txt_1a", "X.TXT_1A"},
    };
    for (const auto& k : cases) {
        c.ClearCompilation();
        auto img = CraftDisc(30);
        PutDirectory(img, 20, 20, {{k.onDisc, 25, 1, 0}});
        TTestDisc disc(img, {0});
        TSessionImport import(c, disc, log);
        EXPECT_TRUE(import.ImportSession(1, nullptr)) << k.longName;
        const auto files = filesUnder("\\");
        ASSERT_EQ(files.size(), 1u) << k.longName;
        EXPECT_EQ(files.begin()->first, k.longName);
        EXPECT_EQ(files.begin()->second->ShortName, k.shortName) << k.longName;
    }
}

// A tree deeper than the limit stops the import instead of recursing on.
TEST_F(ImportTest, TooDeepTreeIsRefused) {
    const std::uint32_t levels = kMaxImportDepth + 2;
    auto img = CraftDisc(20 + levels + 1);
    for (std::uint32_t i = 0; i < levels; ++i)
        PutDirectory(img, 20 + i, i == 0 ? 20 : 19 + i, {{u"d", 21 + i, 2048, 2}});
    TTestDisc disc(img, {0});
    TSessionImport import(c, disc, log);
    EXPECT_FALSE(import.ImportSession(1, nullptr));
    EXPECT_EQ(import.Fault(), TImportFault::TooDeep);
}

// A session that fills the compilation to a limit leaves no room for the next run's entries: an entry the
// limit refuses would vanish from the new session, so the disc is not continued. At the limit exactly, it is.
TEST_F(ImportTest, LimitReachedDuringTheImportIsRefused) {
    const struct {
        const char* what;
        int oldDirs, oldFiles;  // under \old, which is one directory and one entry more: the limit exactly
        const char* limitLine;
    } cases[] = {
        {"directories", kMaxDirectories - 1, 0, "MAXIMUM DIRECTORIES CAN BE 8191"},
        {"files", 0, kMaxFileEntries - 1, "MAXIMUM FILES CAN BE 65535"},
    };
    for (const auto& k : cases) {
        // The earlier session, generated: every file is empty, so the metadata is the whole image.
        TCompilation w;
        TDEntry* old = w.ForceDirectory("\\old");
        ASSERT_NE(old, nullptr);
        TSearchRec rec;
        rec.Attr = FILE_ATTRIBUTE_DIRECTORY;
        for (int i = 0; i < k.oldDirs; ++i) {
            rec.Name = "d" + std::to_string(i);
            ASSERT_NE(w.AddDirectoryEntry(old, rec), nullptr) << k.what << " " << i;
        }
        rec.Attr = FILE_ATTRIBUTE_ARCHIVE;
        for (int i = 0; i < k.oldFiles; ++i) {
            rec.Name = "f" + std::to_string(i) + ".txt";
            ASSERT_EQ(w.AddFileEntry(old, rec, "/src/" + rec.Name, 0), 1) << k.what << " " << i;
        }
        TMetadataStream image;
        TSessionLayout first;
        ASSERT_EQ(LayoutSession(w, 0, true, TVolumeInfo{}, image, first), TLayoutStatus::Ok);
        image.resize(first.EndSector * 2048, 0);

        // Alone, the earlier session fills the compilation exactly and is continued.
        lines.clear();
        c.ClearCompilation();
        TTestDisc disc(image, {0});
        EXPECT_EQ(prepare(&disc, static_cast<std::uint32_t>(first.EndSector)), TPrepareStatus::Ok) << k.what;
        EXPECT_TRUE(lines.empty()) << k.what << ": " << lines.front().text;
        EXPECT_EQ(c.DirectoryCount(), 1 + k.oldDirs) << k.what;
        EXPECT_EQ(c.EntryCount(), 1 + k.oldDirs + k.oldFiles) << k.what;

        // After the next run's \new and \new\n.txt, the import passes the limit: refused.
        lines.clear();
        c.ClearCompilation();
        ASSERT_NE(c.ForceDirectory("\\new"), nullptr);
        rec.Name = "n.txt";
        ASSERT_EQ(c.AddFileEntry(c.FindDirectory("\\new"), rec, "/src/n.txt", 0), 1);
        EXPECT_EQ(prepare(&disc, static_cast<std::uint32_t>(first.EndSector)), TPrepareStatus::ImportFailed)
            << k.what;
        EXPECT_TRUE(stream.empty()) << k.what;
        EXPECT_TRUE(logged(k.limitLine, 3)) << k.what;
        EXPECT_TRUE(logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC", 0))
            << k.what;
        // The import stops at the first refusal: one limit line, not one per entry left.
        EXPECT_EQ(lines.size(), 2u) << k.what;
    }
}

// Imported entries meet the new ones like later adds: a new file of the same name stays unless ReplaceFile.
TEST_F(ImportTest, MergeWithTheNewEntries) {
    const std::string image = tmp / "disc.img";
    WriteText(tmp / "old/same.txt", "old!");
    WriteText(tmp / "new/same.txt", "new");
    writeOwnSession(image, tmp / "old", "\\d", 0);
    for (bool replace : {false, true}) {
        c.ClearCompilation();
        c.ReplaceFile = replace;
        ASSERT_NE(c.ForceDirectory("\\d"), nullptr);
        ASSERT_EQ(c.AddFolder("\\d", tmp / "new", false, false, true, 63, "*.*"), 1);
        TTestDisc disc(testing::ReadImage(image), {0});
        ASSERT_EQ(prepare(&disc, 10000), TPrepareStatus::Ok);
        auto files = filesUnder("\\d");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files["same.txt"]->Imported, replace);
        EXPECT_EQ(files["same.txt"]->Size, replace ? 4u : 3u);
    }
}

// On a disc type that keeps the start at 0, the new session would overwrite the imported data: refused.
TEST_F(ImportTest, OverwritingImportedDataIsRefused) {
    const std::string image = tmp / "disc.img";
    WriteText(tmp / "src/a.txt", std::string(5000, 'a'));
    writeOwnSession(image, tmp / "src", "\\d", 0);
    WriteText(tmp / "new/b.txt", std::string(9000, 'b'));
    ASSERT_EQ(c.AddFolder("\\", tmp / "new", false, false, true, 63, "*.*"), 1);
    TTestDisc disc(testing::ReadImage(image), {0});
    EXPECT_EQ(prepare(&disc, 0), TPrepareStatus::WouldOverwrite);
    EXPECT_TRUE(logged(">>> PREVIOUS SESSION WOULD BE OVERWRITTEN, NOT CONTINUING THIS DISC", 0));
    EXPECT_TRUE(stream.empty());
}

// An overwritable disc reports one session even when blank. Descriptor sectors never recorded (all zero or
// unreadable) hold nothing to import and the backup goes on; anything recorded there that is not an
// importable volume is still refused, and so is a blank session on a sequential disc.
TEST_F(ImportTest, NeverRecordedOverwritableDiscHasNothingToImport) {
    const std::string plain = tmp / "plain.img", own = tmp / "own.img";
    WriteText(tmp / "src/a.txt", std::string(5000, 'a'));
    writeOwnSession(plain, tmp / "src", "\\x", 0, false);  // ISO 9660 without Joliet
    writeOwnSession(own, tmp / "src", "\\d", 0);
    std::vector<std::uint8_t> udf(60 * 2048, 0);
    std::memcpy(udf.data() + 16 * 2048 + 1, "BEA01", 5);  // another file system's descriptor
    const std::vector<std::uint8_t> blank(60 * 2048, 0);
    const std::vector<std::uint8_t> unreadable(8 * 2048, 0);  // sectors 15 to 36 cannot be read
    const auto O = TDiscAccess::Overwritable, S = TDiscAccess::Sequential;
    const struct {
        const char* what;
        std::vector<std::uint8_t> image;
        TDiscAccess access;
        TPrepareStatus status;
    } cases[] = {
        {"blank overwritable", blank, O, TPrepareStatus::Ok},
        {"unreadable overwritable", unreadable, O, TPrepareStatus::Ok},
        {"blank sequential", blank, S, TPrepareStatus::ImportFailed},
        {"other file system", udf, O, TPrepareStatus::ImportFailed},
        {"no Joliet", testing::ReadImage(plain), O, TPrepareStatus::ImportFailed},
        {"own session", testing::ReadImage(own), O, TPrepareStatus::WouldOverwrite},
    };
    for (const auto& k : cases) {
        lines.clear();
        c.ClearCompilation();
        WriteText(tmp / "new/b.txt", std::string(9000, 'b'));
        ASSERT_EQ(c.AddFolder("\\", tmp / "new", false, false, true, 63, "*.*"), 1);
        TTestDisc disc(k.image, {0});
        EXPECT_EQ(prepare(&disc, 0, -1, k.access), k.status) << k.what;
        EXPECT_EQ(stream.empty(), k.status != TPrepareStatus::Ok) << k.what;
        if (k.status == TPrepareStatus::Ok) {
            EXPECT_EQ(c.EntryCount(), 1) << k.what;  // b.txt alone: nothing was imported
            EXPECT_FALSE(logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC", 0))
                << k.what;
        }
    }
}

// A start above F0000000h is no address and becomes 0; a session that 32-bit sector fields cannot address is
// refused with a line and nothing written.
TEST_F(ImportTest, PrepareStartRuleAndTooLargeSessions) {
    ASSERT_EQ(prepare(nullptr, 0xF0000001u, 0), TPrepareStatus::Ok);
    EXPECT_EQ(layout.StartSector, 0u);
    ASSERT_EQ(prepare(nullptr, 0xF0000000u, 0), TPrepareStatus::Ok);
    EXPECT_EQ(layout.StartSector, 0xF0000000u);
    TSearchRec rec;
    rec.Size = 0xFFFFFFFF;
    for (int i = 0; i < 130; ++i) {  // 130 x 2^21 sectors pass the end of the 32-bit sector numbers
        rec.Name = std::to_string(i).insert(0, 1, 'f') + ".bin";
        ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "/src/" + rec.Name, 0), 1);
    }
    EXPECT_EQ(prepare(nullptr, 0xF0000000u, 0), TPrepareStatus::TooLarge);
    EXPECT_TRUE(stream.empty());
    EXPECT_TRUE(logged(">>> SESSION TOO LARGE FOR THE DISC FILE SYSTEM", 0));
}

// Sessions written by genisoimage and xorriso, with and without Rock Ridge, import with their Joliet names,
// sizes, dates and extents.
TEST_F(ImportTest, SessionsOfOtherProgramsImport) {
    for (const char* tool : {"genisoimage", "xorriso"}) testing::RequireTool(tool);
    const std::string src = tmp / "src";
    WriteText(src + "/Readme.txt", "readme");
    WriteText(src + "/caf\xc3\xa9 long name of a file.data", std::string(3000, 'c'));
    WriteText(src + "/sub/deeper/x.bin", std::string(4097, 'x'));
    WriteText(src + "/sub/empty", "");
    std::int64_t t = 1765064000;
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        if (e.is_regular_file()) testing::SetMtime(e.path().string(), t += 7);
    }
    const struct {
        const char* name;
        std::string command;
    } makers[] = {
        {"genisoimage -J", "genisoimage -quiet -input-charset utf-8 -J -o "},
        {"genisoimage -J -r", "genisoimage -quiet -input-charset utf-8 -J -r -o "},
        {"xorriso -J", "xorriso -as mkisofs -quiet -J -o "},
        {"xorriso -J -r", "xorriso -as mkisofs -quiet -J -r -o "},
    };
    for (const auto& m : makers) {
        const std::string image = tmp / "other.iso";
        fs::remove(image);
        const auto r = testing::RunCommand("TZ=UTC " + m.command + "'" + image + "' '" + src + "' 2>&1");
        ASSERT_EQ(r.status, 0) << m.name << r.output;
        c.ClearCompilation();
        const auto img = testing::ReadImage(image);
        TTestDisc disc(img, {0});
        TSessionImport import(c, disc, log);
        ASSERT_TRUE(import.ImportSession(0xFF, nullptr)) << m.name;
        for (const auto& e : fs::recursive_directory_iterator(src)) {
            const std::string rel = fs::relative(e.path(), src).string();
            std::string path = "\\" + rel;
            std::replace(path.begin(), path.end(), '/', '\\');
            if (e.is_directory()) {
                EXPECT_NE(c.FindDirectory(path), nullptr) << m.name << " " << rel;
                continue;
            }
            const auto slash = path.rfind('\\');
            auto files = filesUnder(slash == 0 ? "\\" : path.substr(0, slash));
            const std::string name = path.substr(slash + 1);
            ASSERT_EQ(files.count(name), 1u) << m.name << " " << rel;
            const TFEntry* f = files[name];
            const std::string content = testing::ReadText(e.path().string());
            EXPECT_EQ(f->Size, content.size()) << m.name << " " << rel;
            struct stat st {};
            ASSERT_EQ(stat(e.path().c_str(), &st), 0);
            TDateTime expected = 0;
            TDateParts p;
            std::tm tm{};
            gmtime_r(&st.st_mtime, &tm);
            p = TDateParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
            ASSERT_TRUE(EncodeDateTime(p, expected));
            EXPECT_NEAR(f->DateTime, expected, 0.5 / 86400) << m.name << " " << rel;
            if (!content.empty()) {
                ASSERT_LE((f->IsoExtent + SectorsOf(f->Size)) * 2048, img.size()) << m.name << " " << rel;
                EXPECT_EQ(std::string(img.begin() + f->IsoExtent * 2048,
                                      img.begin() + f->IsoExtent * 2048 + f->Size),
                          content)
                    << m.name << " " << rel;
            }
        }
    }
}

}  // namespace
}  // namespace brenwick

namespace brenwick {
namespace {

// A session without a Joliet tree (genisoimage without -J) is listed by its ISO 9660 names: no version,
// no "." ending a name without an extension, the data where the records say.
TEST_F(ImportTest, SessionWithoutJolietIsListedByIsoNames) {
    testing::RequireTool("genisoimage");
    const std::string src = tmp / "src";
    WriteText(src + "/Readme.txt", "readme");
    WriteText(src + "/sub/deeper/x.bin", std::string(4097, 'x'));
    WriteText(src + "/sub/empty", "");
    const std::string image = tmp / "plain.iso";
    const auto r =
        testing::RunCommand("genisoimage -quiet -input-charset utf-8 -o '" + image + "' '" + src + "' 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto img = testing::ReadImage(image);
    TTestDisc disc(img, {0});
    TSessionListing listing;
    ASSERT_TRUE(ReadSessionListing(disc, 0xFF, listing)) << int(listing.Fault);
    EXPECT_TRUE(listing.IsoNames);
    std::map<std::string, std::string> files;  // path -> contents
    for (const TListedEntry& e : listing.Entries) {
        if (!e.Directory)
            files[e.Path] = std::string(img.begin() + std::ptrdiff_t(e.Lba) * 2048,
                                        img.begin() + std::ptrdiff_t(e.Lba) * 2048 + e.Size);
    }
    const std::map<std::string, std::string> expected = {
        {"/README.TXT", "readme"}, {"/SUB/DEEPER/X.BIN", std::string(4097, 'x')}, {"/SUB/EMPTY", ""}};
    EXPECT_EQ(files, expected);
}

}  // namespace
}  // namespace brenwick
