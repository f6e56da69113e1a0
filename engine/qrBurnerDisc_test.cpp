// The session import's view of the disc in the drive, over the image recorder.
#include "engine/qrBurnerDisc.h"

#include <gtest/gtest.h>

#include "engine/qrCDBC.h"
#include "engine/testing/RecorderRig.h"
#include "isofs/qrSessionPrepare.h"

namespace brenwick {
namespace {

using testing::TRecorderRig;
using testing::TRigOptions;

// After a first session that fills more of the disc than is left free, the disc still reaches past it,
// so that its files import (the free blocks alone would put them outside the disc), on CD and DVD alike.
TEST(BurnerDisc, DiscReachesPastASessionLargerThanTheFreeSpace) {
    struct TCase {
        const char* name;
        TMediaType media;
        std::int32_t capacity;
    };
    for (const TCase& c : {TCase{"DVD+R", TMediaType::DvdPlusR, 4000}, TCase{"CD-R", TMediaType::CdR80, 0}}) {
        SCOPED_TRACE(c.name);
        TRigOptions options;
        options.media = c.media;
        options.capacity = c.capacity;
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        rig.tree().writePattern("src/big.bin", 5 * 1024 * 1024 + 3, 7);
        ASSERT_TRUE(rig.Compile("run1", (rig.tree().root() / "src").string()));
        ASSERT_EQ(rig.Burn().error, "");
        const std::int64_t firstEnd = b.ImageSectors;

        TBurnerDisc disc(b);
        EXPECT_GE(disc.sectorCount(), std::uint64_t(firstEnd));
        if (c.capacity > 0) {
            EXPECT_EQ(disc.sectorCount(), std::uint64_t(c.capacity));
        }

        ASSERT_TRUE(b.ReadTrackInformation(0xFF));
        TPrepareInput input;
        input.StartSector = b.TrackInfo.NextWritableAddress;
        input.SessionSelector = -1;
        input.Disc = &disc;
        b.ClearCompilation();
        TMetadataStream metadata;
        TSessionLayout layout;
        std::vector<std::string> log;
        const auto logFn = [&log](const std::string& text, std::uint8_t) { log.push_back(text); };
        ASSERT_EQ(PrepareSession(b.Compilation(), input, metadata, layout, logFn), TPrepareStatus::Ok)
            << ::testing::PrintToString(log);
        ASSERT_EQ(b.Compilation().Files().size(), 2u);  // the folder and its file
        const TFEntry* file = b.Compilation().Files().back();
        EXPECT_EQ(file->LongName, "big.bin");
        EXPECT_TRUE(file->Imported);
        EXPECT_EQ(file->Size, 5u * 1024 * 1024 + 3);
    }
}

}  // namespace
}  // namespace brenwick
