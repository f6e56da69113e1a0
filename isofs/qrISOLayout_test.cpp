// The session layout: sector positions, descriptor fields, path tables and directory packing, checked on
// the bytes of the metadata stream.
#include "isofs/qrISOLayout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "isofs/qrISODate.h"
#include "isofs/qrISONames.h"

namespace brenwick {
namespace {

std::uint32_t Le32At(const TMetadataStream& s, std::size_t at) {
    return std::uint32_t{s[at]} | std::uint32_t{s[at + 1]} << 8 | std::uint32_t{s[at + 2]} << 16 |
           std::uint32_t{s[at + 3]} << 24;
}
std::uint32_t Be32At(const TMetadataStream& s, std::size_t at) {
    return std::uint32_t{s[at + 3]} | std::uint32_t{s[at + 2]} << 8 | std::uint32_t{s[at + 1]} << 16 |
           std::uint32_t{s[at]} << 24;
}

class LayoutTest : public ::testing::Test {
  protected:
    TCompilation c;
    TVolumeInfo volume;
    TMetadataStream stream;
    TSessionLayout layout;

    void lay(std::uint32_t start, bool joliet) {
        stream.clear();
        ASSERT_EQ(LayoutSession(c, start, joliet, volume, stream, layout), TLayoutStatus::Ok);
        ASSERT_EQ(stream.size(), (layout.FirstFileSector - start) * 2048);
    }
    // Byte offset of an absolute sector inside the stream.
    std::size_t at(std::uint64_t sector) const {
        return static_cast<std::size_t>((sector - layout.StartSector) * 2048);
    }
    TFEntry* addFile(TDEntry* d, const std::string& name, std::uint32_t size) {
        TSearchRec rec;
        rec.Name = name;
        rec.Size = size;
        rec.Attr = FILE_ATTRIBUTE_ARCHIVE;
        EXPECT_EQ(c.AddFileEntry(d, rec, "/src/" + name, 0), 1) << name;
        return d->LastEntry;
    }
};

// The empty compilation: every structure at its fixed sector, with and without Joliet.
TEST_F(LayoutTest, EmptyCompilationSectors) {
    lay(0, true);
    EXPECT_EQ(layout.PrimarySector, 16u);
    EXPECT_EQ(layout.JolietSector, 18u);
    EXPECT_EQ(layout.TerminatorSector, 19u);
    EXPECT_EQ(layout.IsoPathTableL, 20u);
    EXPECT_EQ(layout.IsoPathTableM, 21u);
    EXPECT_EQ(layout.JolietPathTableL, 22u);
    EXPECT_EQ(layout.JolietPathTableM, 23u);
    EXPECT_EQ(layout.IsoDirArea, 24u);
    EXPECT_EQ(layout.JolietDirArea, 25u);
    EXPECT_EQ(layout.FirstFileSector, 26u);
    EXPECT_EQ(layout.ImageSectors, 26);
    for (std::size_t i = 0; i < 16 * 2048; ++i) ASSERT_EQ(stream[i], 0) << i;
    EXPECT_EQ(stream[at(16)], 1);
    EXPECT_EQ(std::memcmp(&stream[at(16) + 1], "CD001", 5), 0);
    // The escape sequence stands in the Joliet descriptor only (readers take a primary carrying it for
    // Joliet).
    EXPECT_EQ(stream[at(16) + 88], 0);
    EXPECT_EQ(std::memcmp(&stream[at(18) + 88], "%/@", 3), 0);
    EXPECT_EQ(std::memcmp(&stream[at(16)], &stream[at(17)], 2048), 0);
    EXPECT_EQ(stream[at(18)], 2);
    EXPECT_EQ(stream[at(19)], 0xFF);
    EXPECT_EQ(Le32At(stream, at(16) + 158), 24u);    // root extent
    EXPECT_EQ(Le32At(stream, at(16) + 166), 2048u);  // root size
    EXPECT_EQ(Le32At(stream, at(18) + 158), 25u);
    EXPECT_EQ(Le32At(stream, at(16) + 80), 26u);  // volume space size
    EXPECT_EQ(Be32At(stream, at(16) + 84), 26u);
    EXPECT_EQ(Le32At(stream, at(16) + 140), 20u);  // L path table
    EXPECT_EQ(Be32At(stream, at(16) + 148), 21u);  // M path table
    EXPECT_EQ(Le32At(stream, at(18) + 140), 22u);
    EXPECT_EQ(Be32At(stream, at(18) + 148), 23u);
    // The root holds only "." and "..", both pointing at itself.
    EXPECT_EQ(stream[at(24)], 34);
    EXPECT_EQ(stream[at(24) + 33], 0);
    EXPECT_EQ(stream[at(24) + 34], 34);
    EXPECT_EQ(stream[at(24) + 34 + 33], 1);
    EXPECT_EQ(Le32At(stream, at(24) + 34 + 2), 24u);
    EXPECT_EQ(stream[at(24) + 68], 0);

    lay(0, false);
    EXPECT_EQ(layout.TerminatorSector, 18u);
    EXPECT_EQ(layout.IsoPathTableL, 19u);
    EXPECT_EQ(layout.IsoPathTableM, 20u);
    EXPECT_EQ(layout.IsoDirArea, 21u);
    EXPECT_EQ(layout.ImageSectors, 22);
    EXPECT_EQ(stream[at(18)], 0xFF);
    EXPECT_EQ(stream[at(16) + 88], 0);
}

// A path table of exactly 2048 bytes takes one sector; one of 2050 bytes (sizes are even) takes two.
TEST_F(LayoutTest, PathTableSectorCount) {
    // 10 (root) + 101 x (8 + 12) + (8 + 10) = 2048
    for (int i = 0; i < 101; ++i)
        ASSERT_NE(c.ForceDirectory("\\D" + std::to_string(10000000000 + i)), nullptr);
    ASSERT_NE(c.ForceDirectory("\\E123456789"), nullptr);
    lay(0, false);
    EXPECT_EQ(layout.IsoPathTableSize, 2048u);
    EXPECT_EQ(layout.IsoPathTableM, layout.IsoPathTableL + 1);
    ASSERT_NE(c.ForceDirectory("\\F"), nullptr);  // 8 + 1 + 1 more
    lay(0, false);
    EXPECT_EQ(layout.IsoPathTableSize, 2058u);
    EXPECT_EQ(layout.IsoPathTableM, layout.IsoPathTableL + 2);
    EXPECT_EQ(layout.IsoDirArea, layout.IsoPathTableM + 2);
}

// Path table records: root first with identifier 00h, parents by number, L little- and M big-endian.
TEST_F(LayoutTest, PathTableRecords) {
    ASSERT_NE(c.ForceDirectory("\\b\\x"), nullptr);
    ASSERT_NE(c.ForceDirectory("\\a"), nullptr);
    lay(0, true);
    const std::size_t l = at(layout.IsoPathTableL), m = at(layout.IsoPathTableM);
    EXPECT_EQ(stream[l], 1);
    EXPECT_EQ(stream[l + 8], 0);
    EXPECT_EQ(Le32At(stream, l + 2), layout.IsoDirArea);
    // A (number 2), B (3), X (4, parent 3)
    EXPECT_EQ(stream[l + 10], 1);
    EXPECT_EQ(stream[l + 18], 'A');
    EXPECT_EQ(stream[l + 28], 'B');
    EXPECT_EQ(stream[l + 38], 'X');
    EXPECT_EQ(stream[l + 36], 3);
    EXPECT_EQ(stream[m + 37], 3);
    EXPECT_EQ(Be32At(stream, m + 32), Le32At(stream, l + 32));
    const std::size_t jl = at(layout.JolietPathTableL);
    EXPECT_EQ(stream[jl + 10], 2);
    EXPECT_EQ(stream[jl + 18], 0);
    EXPECT_EQ(stream[jl + 19], 'a');
}

// The Joliet tree follows the Joliet names as written: "My Music" (MYMUSI~1) sorts before "Myfolder"
// (MYFOLDER) there, in the directory records and in the path tables, while the ISO 9660 tree follows the
// short names.
TEST_F(LayoutTest, JolietOrderFollowsTheLongNames) {
    TSearchRec rec;
    rec.Attr = FILE_ATTRIBUTE_DIRECTORY;
    for (const auto& [name, shortName] : {std::pair{"Myfolder", "MYFOLDER"}, {"My Music", "MYMUSI~1"}}) {
        rec.Name = rec.FileName = name;
        rec.AlternateName = shortName;
        ASSERT_NE(c.AddDirectoryEntry(c.Root(), rec), nullptr);
    }
    c.SortEntries(c.Root());
    lay(0, true);
    const std::size_t iso = at(layout.IsoDirArea) + 68, jol = at(layout.JolietDirArea) + 68;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[iso + 33]), 8), "MYFOLDER");
    EXPECT_EQ(stream[jol + 33 + 5], ' ');  // "My Music" in UCS-2: the space is its third character
    const std::size_t il = at(layout.IsoPathTableL), jl = at(layout.JolietPathTableL);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[il + 18]), 8), "MYFOLDER");
    EXPECT_EQ(stream[jl + 18 + 5], ' ');
}

// A record that exactly fills the rest of a sector stays there; one byte longer and it starts the next
// sector. Joliet file identifiers carry no version: a name of 50 characters makes a 134-byte record.
TEST_F(LayoutTest, JolietRecordPackingAtTheSectorEnd) {
    for (int extra : {0, 1}) {
        c.ClearCompilation();
        // 68 ("." and "..") + 13 x 142 (names of 54 characters) + 134 = 2048
        for (int i = 0; i < 13; ++i) {
            std::string name = std::to_string(10 + i).insert(0, 1, 'f');
            name.append(i == 12 ? 47 + extra : 47, 'x').append(".txt");
            addFile(c.Root(), name, 0);
        }
        addFile(c.Root(), std::string(46, 'z') + ".txt", 0);  // 50 characters: 134 bytes
        lay(0, true);
        const std::size_t root = at(layout.JolietDirArea);
        if (extra == 0) {
            EXPECT_EQ(c.Root()->JolietSize, 2048u);
            EXPECT_EQ(stream[root + 2048 - 134], 134);
            EXPECT_EQ(stream[root + 2048 - 134 + 32], 100);  // identifier length: 50 UCS-2 characters
        } else {
            EXPECT_EQ(c.Root()->JolietSize, 4096u);
            EXPECT_EQ(stream[root + 2048 - 132], 0);  // the rest of the first sector is zero
            EXPECT_EQ(stream[root + 2048], 134);
        }
    }
}

// A later session at 20000: descriptors at 20016, the volume space size is the session's own length.
TEST_F(LayoutTest, SecondSessionAtNonZeroStart) {
    addFile(c.Root(), "a.txt", 5000);
    lay(20000, true);
    EXPECT_EQ(layout.PrimarySector, 20016u);
    EXPECT_EQ(layout.ImageSectors, 26 + 3);
    EXPECT_EQ(Le32At(stream, at(20016) + 80), 29u);
    EXPECT_EQ(Le32At(stream, at(20016) + 158), 20024u);
    const TFEntry* f = c.Root()->Entries;
    EXPECT_EQ(Le32At(stream, at(20024) + 68 + 2), 20026u + f->IsoExtent);
}

// File extents: 2048 bytes take one sector, 2049 two, an empty file none and extent 0.
TEST_F(LayoutTest, FileExtentsAndSizes) {
    TFEntry* a = addFile(c.Root(), "a.bin", 2048);
    TFEntry* b = addFile(c.Root(), "b.bin", 2049);
    TFEntry* e = addFile(c.Root(), "e.bin", 0);
    TFEntry* d = addFile(c.Root(), "d.bin", 1);
    lay(0, true);
    EXPECT_EQ(a->IsoExtent, 0u);
    EXPECT_EQ(b->IsoExtent, 1u);
    EXPECT_EQ(e->IsoExtent, 0u);
    EXPECT_EQ(d->IsoExtent, 3u);
    EXPECT_EQ(layout.FileSectorCount, 4u);
    EXPECT_EQ(layout.ImageSectors, 30);
    const std::size_t root = at(layout.IsoDirArea);
    std::size_t pos = 68;
    const std::uint32_t expected[] = {26, 27, 0, 29};
    for (std::uint32_t extent : expected) {
        EXPECT_EQ(Le32At(stream, root + pos + 2), extent);
        pos += stream[root + pos];
    }
}

// Imported files keep their sector in both trees and occupy nothing; overlapping the new session is caught.
TEST_F(LayoutTest, ImportedFilesKeepTheirSectors) {
    TSearchRec rec;
    rec.Name = "old.txt";
    rec.Size = 3000;
    ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "", 500), 1);
    lay(1000, true);
    EXPECT_EQ(layout.FileSectorCount, 0u);
    EXPECT_EQ(Le32At(stream, at(layout.IsoDirArea) + 68 + 2), 500u);
    EXPECT_EQ(Le32At(stream, at(layout.JolietDirArea) + 68 + 2), 500u);
    EXPECT_FALSE(ImportedDataOverlaps(c, layout));
    // The new session takes 26 sectors: [S, S + 26).
    const struct {
        std::uint32_t start;
        bool overlaps;
    } cases[] = {{0, false}, {474, false}, {475, true}, {480, true}, {501, true}, {502, false}};
    for (const auto& k : cases) {
        lay(k.start, true);
        EXPECT_EQ(ImportedDataOverlaps(c, layout), k.overlaps) << k.start;
    }
}

// Directory record fields: date with the time-zone offset, flags for directories and hidden entries.
TEST_F(LayoutTest, DirectoryRecordFields) {
    setenv("TZ", "CET-1CEST", 1);
    c.ClearCompilation();
    TSearchRec rec;
    rec.Name = "h.txt";
    rec.Attr = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    TDateParts p{2026, 12, 6, 23, 52, 14, 0};
    ASSERT_TRUE(EncodeDateTime(p, rec.DateTime));
    ASSERT_EQ(c.AddFileEntry(c.Root(), rec, "", 0), 1);
    ASSERT_NE(c.ForceDirectory("\\z"), nullptr);  // after h.txt in both trees
    lay(0, true);
    for (std::uint64_t area : {layout.IsoDirArea, layout.JolietDirArea}) {
        const std::size_t r = at(area) + 68;
        const std::uint8_t date[7] = {126, 12, 6, 23, 52, 14, 4};
        EXPECT_EQ(std::memcmp(&stream[r + 18], date, 7), 0);
        EXPECT_EQ(stream[r + 25], 0x01);
        EXPECT_EQ(stream[r + stream[r] + 25], 0x02);
        EXPECT_EQ(stream[r + 28], 1);  // volume sequence number
    }
    // The version ";1" stands in the ISO 9660 record only.
    const std::size_t iso = at(layout.IsoDirArea) + 68, jol = at(layout.JolietDirArea) + 68;
    EXPECT_EQ(stream[iso + 32], 7);
    EXPECT_EQ(std::memcmp(&stream[iso + 33], "H.TXT;1", 7), 0);
    const std::uint8_t joliet[] = {0, 'h', 0, '.', 0, 't', 0, 'x', 0, 't'};
    EXPECT_EQ(stream[jol], 33 + sizeof joliet + 1);
    EXPECT_EQ(stream[jol + 32], sizeof joliet);
    EXPECT_EQ(std::memcmp(&stream[jol + 33], joliet, sizeof joliet), 0);
}

// Descriptor identifiers and dates: cut or padded with spaces, UCS-2 in the Joliet descriptor, date 0 as
// 1899123000000000. The primary volume identifier holds d-characters only; the Joliet one the label.
TEST_F(LayoutTest, DescriptorFields) {
    volume.IdVolume = "Backup \xc3\xa9t\xc3\xa9 2026";
    volume.IdApplication = std::string(200, 'A');
    TDateParts p{2026, 12, 6, 23, 52, 14, 560};
    ASSERT_TRUE(EncodeDateTime(p, volume.DateModification));
    lay(0, true);
    const std::size_t pvd = at(16), svd = at(18);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[pvd + 40]), 32),
              "BACKUP__T__2026" + std::string(17, ' '));
    EXPECT_EQ(stream[pvd + 574 + 127], 'A');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[pvd + 813]), 16), "1899123000000000");
    EXPECT_EQ(stream[pvd + 829], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[pvd + 830]), 16), "2026120623521456");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[pvd + 847]), 16), "0000000000000000");
    EXPECT_EQ(stream[pvd + 881], 1);
    EXPECT_EQ(stream[svd + 40], 0);
    EXPECT_EQ(stream[svd + 41], 'B');
    EXPECT_EQ(stream[svd + 40 + 14], 0);
    EXPECT_EQ(stream[svd + 40 + 15], 0xE9);
    EXPECT_EQ(stream[svd + 40 + 30], 0);
    EXPECT_EQ(stream[svd + 40 + 31], ' ');
    EXPECT_EQ(stream[svd + 702 + 36], 0);  // 18 UCS-2 characters and one zero byte
    EXPECT_EQ(stream[svd + 702 + 35], ' ');
    EXPECT_EQ(std::memcmp(&stream[svd + 813], &stream[pvd + 813], 34), 0);
}

// A session whose end lies past what 32-bit sector fields can address is refused before anything is written.
TEST_F(LayoutTest, AddressesBeyond32BitsAreRefused) {
    for (int i = 0; i < 3; ++i) addFile(c.Root(), "big" + std::to_string(i) + ".bin", 0xFFFFFFFFu);
    stream.clear();
    EXPECT_EQ(LayoutSession(c, 0xFFF00000u, true, volume, stream, layout), TLayoutStatus::TooLarge);
    EXPECT_TRUE(stream.empty());
    // The same compilation lays out from 0: positions are 64-bit, the DVD-sized session far beyond 2^31
    // bytes.
    lay(0, true);
    EXPECT_EQ(layout.FileSectorCount, 3u * 2097152u);
    EXPECT_EQ(Le32At(stream, at(layout.IsoDirArea) + stream[at(layout.IsoDirArea) + 68] + 68 + 2),
              layout.FirstFileSector + 2097152u);
}

}  // namespace
}  // namespace brenwick
