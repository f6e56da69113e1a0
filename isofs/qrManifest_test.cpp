// The checksum manifest: names escaped as sha256sum escapes them, lines read back, and the manifest's place
// in the layout (its size from the names of the run's files, its extent after all of theirs).
#include "isofs/qrManifest.h"

#include <gtest/gtest.h>

#include "isofs/qrISOLayout.h"

namespace brenwick {
namespace {

TSha256Digest Counting() {
    TSha256Digest d{};
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 9);
    return d;
}

TEST(ManifestTest, LinesAsSha256sumWritesThem) {
    const std::string hex = DigestHex(Counting());
    struct {
        std::string name, line;
    } cases[] = {
        {"a.txt", hex + "  a.txt\n"},
        {"dir/b c", hex + "  dir/b c\n"},
        {"back\\slash", "\\" + hex + "  back\\\\slash\n"},
        {"line\nfeed\r", "\\" + hex + "  line\\nfeed\\r\n"},
    };
    for (const auto& c : cases) {
        const std::string line = ManifestLine(Counting(), c.name);
        EXPECT_EQ(line, c.line) << c.name;
        EXPECT_EQ(ManifestLineLength(c.name), line.size()) << c.name;
        std::vector<TManifestEntry> read;
        ASSERT_TRUE(ParseManifest(line, read)) << c.name;
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].Name, c.name);
        EXPECT_EQ(read[0].Digest, Counting());
    }
}

// What an interrupted recording leaves (zeros) or a foreign file is not a manifest; an empty one is.
TEST(ManifestTest, RefusesWhatIsNotAManifest) {
    const std::string hex = DigestHex(Counting());
    std::vector<TManifestEntry> read;
    EXPECT_TRUE(ParseManifest("", read));
    for (const std::string& text : {std::string(200, '\0'), hex + "  a",  // no line feed
                                    hex + " a\n", hex.substr(1) + "  a\n", "\\" + hex + "  a\\x\n",
                                    hex + "  a\n" + std::string(10, '\0')}) {
        EXPECT_FALSE(ParseManifest(text, read)) << text;
        EXPECT_TRUE(read.empty());
    }
}

// The manifest lists the run's files below its folder by their Joliet names, not the imported ones nor
// those elsewhere, and lies after every other file.
TEST(ManifestTest, LaidOutAfterEveryFile) {
    TCompilation c;
    TDEntry* run = c.ForceDirectory("\\2026-12-08 13.10\\home\\");
    TDEntry* folder = c.FindDirectory("\\2026-12-08 13.10");
    ASSERT_NE(run, nullptr);
    ASSERT_NE(folder, nullptr);
    auto add = [&c](TDEntry* d, const std::string& name, std::uint32_t size, std::uint32_t extent) {
        TSearchRec rec;
        rec.Name = name;
        rec.Size = size;
        rec.Attr = FILE_ATTRIBUTE_ARCHIVE;
        EXPECT_EQ(c.AddFileEntry(d, rec, extent == 0 ? "/src/" + name : "", extent), 1);
    };
    add(run, "a long name.txt", 5000, 0);
    add(run, "empty", 0, 0);
    add(c.Root(), "outside.txt", 10, 0);
    add(run, "old.txt", 100, 7);
    ASSERT_NE(c.AddManifest(folder, 0), nullptr);
    add(run, "zz.txt", 1, 0);  // added after the manifest, still before it on the disc

    TMetadataStream stream;
    TSessionLayout layout;
    ASSERT_EQ(LayoutSession(c, 0, true, {}, stream, layout), TLayoutStatus::Ok);
    const TFEntry* manifest = c.ManifestEntry();
    EXPECT_EQ(manifest->LongName, kManifestName);
    EXPECT_EQ(manifest->ShortName, kManifestShortName);
    const std::vector<TManifestMember> members = ManifestMembers(c, true);
    std::vector<std::string> names;
    for (const auto& m : members) names.push_back(m.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"home/a long name.txt", "home/empty", "home/zz.txt"}));
    EXPECT_EQ(manifest->Size, 3 * 67 + names[0].size() + names[1].size() + names[2].size());
    for (const TFEntry* f : c.Files()) {
        if (f != manifest && !f->isDirectory() && !f->Imported) {
            EXPECT_LT(f->IsoExtent, manifest->IsoExtent);
        }
    }
    EXPECT_EQ(layout.FirstFileSector + manifest->IsoExtent + 1, layout.EndSector);
}

}  // namespace
}  // namespace brenwick
