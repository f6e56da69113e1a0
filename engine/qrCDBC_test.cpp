// The burner component on its own: the defaults of a new component, the cache size rule, the counters
// before any recording or erase, and the small tables of the recording sequence and the erase.
#include "engine/qrCDBC.h"

#include <gtest/gtest.h>

#include "engine/qrErase.h"
#include "engine/qrISOBurner.h"

namespace brenwick {
namespace {

// A new component carries the defaults of a new component.
TEST(Burner, NewComponentDefaults) {
    TQrvBurner burner;
    EXPECT_EQ(burner.CacheSize(), 4194304);
    EXPECT_TRUE(burner.JolietFileSystem);
    EXPECT_TRUE(burner.FinalizeTrack);
    EXPECT_TRUE(burner.UnderrunProtection);
    EXPECT_TRUE(burner.DoDebug);
    EXPECT_FALSE(burner.TestWrite);
    EXPECT_FALSE(burner.FinalizeDisc);
    EXPECT_FALSE(burner.PerformOPC);
    EXPECT_FALSE(burner.ReplaceFile);
    EXPECT_FALSE(burner.Erasing);
    EXPECT_EQ(burner.ReadSpeed, 0);
    EXPECT_EQ(burner.WriteSpeed, 0);
    EXPECT_EQ(burner.SessionToImport, 0);
    EXPECT_EQ(burner.BytesWritten(), 0);
    EXPECT_EQ(burner.ImageSectors, 0);
    EXPECT_EQ(burner.CacheFillPercent(), 0);
    EXPECT_EQ(burner.EraseProgress(), 0);
    EXPECT_EQ(burner.DirectoryCount(), 0);
    EXPECT_EQ(burner.EntryCount(), 0);
    EXPECT_EQ(burner.HostAdapter, kNoDevice);
}

// CacheSize: at least 2097152, then rounded down to whole sectors.
TEST(Burner, CacheSizeSetter) {
    const std::vector<std::pair<int, int>> cases = {
        {1000000, 2097152}, {2099199, 2097152}, {2099200, 2099200}, {19998720, 19998720},
        {0, 2097152},       {-5, 2097152},      {4194305, 4194304},
    };
    TQrvBurner burner;
    for (const auto& [set, expected] : cases) {
        burner.SetCacheSize(set);
        EXPECT_EQ(burner.CacheSize(), expected) << set;
    }
}

// The compilation's events and log reach the burner's, with the burner as Sender.
TEST(Burner, ForwardsCompilationEventsAndLog) {
    TQrvBurner burner;
    std::vector<std::string> lines;
    burner.OnDebugMessage = [&](TObject*, const std::string& text, std::uint8_t) { lines.push_back(text); };
    TObject* sender = nullptr;
    burner.OnAddFile = [&](TObject* s, const std::string&, std::string&, std::string&, TDateTime&,
                           std::int32_t, std::int64_t, bool& skip) {
        sender = s;
        skip = true;
    };
    EXPECT_EQ(burner.AddFile("\\NOWHERE", "/etc/hostname", false), 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "INVALID DESTINATION PATH");
    ASSERT_NE(burner.ForceDirectory("\\A\\B"), nullptr);
    EXPECT_EQ(burner.DirectoryCount(), 2);
    EXPECT_EQ(burner.AddFile("\\A\\B", "/etc/hostname", false), 1);
    EXPECT_EQ(sender, &burner);
    EXPECT_EQ(burner.EntryCount(), 2);  // the two sub-directory entries; the file was skipped
    burner.ClearCompilation();
    EXPECT_EQ(burner.DirectoryCount(), 0);
}

// Drive groups, speed texts and expected erase durations.
TEST(Burner, SequenceTables) {
    const struct {
        std::initializer_list<int> types;
        TDiscGroup group;
    } groups[] = {
        {{kDiscDvdRam}, TDiscGroup::DvdRam},
        {{kDiscDvdPlusRw, kDiscDvdPlusRwDl, kDiscDvdRwRo}, TDiscGroup::DvdOverwritable},
        {{kDiscDvdR, kDiscDvdRwSr, kDiscDvdRDl}, TDiscGroup::DvdMinusR},
        {{kDiscDvdPlusR, kDiscDvdPlusRDl}, TDiscGroup::DvdPlusR},
        {{kDiscUnknown, kDiscCdRom, kDiscCdR, kDiscCdRw, kDiscDvdRom, 10, 11, 12}, TDiscGroup::CdAndOthers}};
    for (const auto& g : groups) {
        for (const int type : g.types) EXPECT_EQ(DiscGroupOf(type), g.group) << type;
    }
    // Speeds in the unit of the medium: DVD 1x is 1,385 kB/s, CD 1x 176.46 kB/s.
    EXPECT_EQ(SpeedInMediumUnits(22160, kDiscDvdR), 16u);
    EXPECT_EQ(SpeedInMediumUnits(1385, kDiscDvdPlusRw), 1u);
    EXPECT_EQ(SpeedInMediumUnits(704, kDiscCdR), 4u);
    EXPECT_EQ(SpeedInMediumUnits(5540, kDiscDvdRom), 4u);
    EXPECT_EQ(SpeedText(4), "4X");
    EXPECT_EQ(SpeedText(8.0 / 7), "1X");
    EXPECT_EQ(SpeedText(16.0 / 8), "2X");
    EXPECT_EQ(SpeedText(0), "0X");
    const struct {
        int discType, blankType;
        std::uint16_t seconds;
    } erase[] = {{kDiscCdRw, 1, 150},    {kDiscCdRw, 0, 4500},    {kDiscUnknown, 2, 4500},
                 {kDiscDvdRwSr, 1, 600}, {kDiscDvdRwSr, 0, 4465}, {kDiscDvdPlusRw, 3, 8880}};
    for (const auto& e : erase) {
        EXPECT_EQ(ExpectedEraseTime(e.discType, e.blankType), e.seconds) << e.discType << "/" << e.blankType;
    }
}

}  // namespace
}  // namespace brenwick
