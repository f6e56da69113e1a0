// Erasing the image recorder's discs: the preparation and BLANK, the poll with its progress estimate, the
// end event, and the erases that must be reported as failed.
#include "engine/qrErase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "engine/qrCDBC.h"
#include "engine/testing/RecorderRig.h"

namespace brenwick {
namespace {

using testing::TRecorderRig;
using testing::TRigOptions;

constexpr std::uint8_t kOpBlank = 0xA1;
constexpr std::uint8_t kOpTestUnitReady = 0x00;

struct TEraseWatch {
    std::atomic<int> done{0};
    std::atomic<bool> withError{false};
    std::vector<int>
        progress;  // EraseProgress at each 2 s poll wait (erase thread only, read after the join)
};

std::shared_ptr<TEraseWatch> watch(TQrvBurner& b) {
    auto w = std::make_shared<TEraseWatch>();
    b.OnEraseDone = [w](TObject*, bool withError) {
        w->withError = withError;
        ++w->done;
    };
    b.SleepHook = [w, &b](unsigned ms) {
        if (ms == 2000) w->progress.push_back(b.EraseProgress());
    };
    return w;
}

// Quick erases of a recorded CD-RW at 4x and of a DVD-RW (sequential) at 16x in CD terms: the log line
// (the DVD speed divided by 8), the progress estimate (150 s and 600 s expected: 20 % and 5 % after 30 s of
// polling), the end without error, and a blank disc.
TEST(Erase, QuickErase) {
    struct TCase {
        TMediaType media;
        std::uint16_t writeSpeed;
        std::string line;
        int progressAfter30s;
    };
    const std::vector<TCase> cases = {
        {TMediaType::CdRw80, 4, ">>> ERASING CD-RW AT 4X", 20},
        {TMediaType::DvdRwSequential, 16, ">>> ERASING DVD-RW SR AT 2X", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TRigOptions options;
        options.media = c.media;
        options.minBusyPolls = 20;
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        // A recorder without the writes-DVD-RAM capability: drives that have it report no CD write speed.
        auto& recorder = rig.recorder();
        rig.target().SetRule([&recorder](const TScsiRequest& request, TScsiResult& result) {
            if (request.cdb[0] != 0x5A || (request.cdb[2] & 0x3F) != 0x2A) return false;
            result = recorder.Execute(request);
            if (request.data.size() > 11 && (request.data[8] & 0x3F) == 0x2A) request.data[11] &= ~0x20;
            return true;
        });
        rig.tree().writePattern("src/a.bin", 100000, 1);
        ASSERT_TRUE(rig.Compile("run", (rig.tree().root() / "src").string()));
        ASSERT_EQ(rig.Burn().error, "");
        ASSERT_FALSE(rig.recorder().Disc().isBlank());

        auto w = watch(b);
        b.WriteSpeed = c.writeSpeed;
        ASSERT_TRUE(b.EraseDisc(1));
        b.WaitForErase();
        EXPECT_TRUE(rig.Logged(c.line));
        EXPECT_EQ(w->done, 1);
        EXPECT_FALSE(w->withError);
        EXPECT_FALSE(b.Erasing);
        EXPECT_EQ(b.EraseProgress(), 0);
        ASSERT_GE(w->progress.size(), 16u);
        EXPECT_EQ(w->progress[0], 0);
        EXPECT_EQ(w->progress[15], c.progressAfter30s);  // 15 polls = 30 s counted
        EXPECT_TRUE(rig.recorder().Disc().isBlank());
    }
}

// Erases that end with WithError true: a disc that cannot be blanked, a drive ready at the first poll, a
// blank that fails in the drive, a drive that never becomes ready, and a disc that is not blank afterwards.
TEST(Erase, FailedErasesAreReportedWithError) {
    enum class TFault { CdR, ReadyAtOnce, FailsInDrive, NeverReady, NotBlankAfter };
    struct TCase {
        const char* name;
        TFault fault;
        bool started;
    };
    const std::vector<TCase> cases = {
        {"CD-R refuses BLANK", TFault::CdR, false},
        {"ready at the first poll", TFault::ReadyAtOnce, true},
        {"blank fails in the drive", TFault::FailsInDrive, true},
        {"never ready again", TFault::NeverReady, true},
        {"disc not blank afterwards", TFault::NotBlankAfter, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRigOptions options;
        options.media = c.fault == TFault::CdR ? TMediaType::CdR80 : TMediaType::CdRw80;
        options.minBusyPolls = 3;
        TRecorderRig rig(options);
        TQrvBurner& b = rig.burner();
        b.EraseTimeLimitSeconds = 20;
        auto blanked = std::make_shared<std::atomic<bool>>(false);
        auto polls = std::make_shared<std::atomic<int>>(0);
        auto& recorder = rig.recorder();
        const TFault fault = c.fault;
        rig.target().SetRule([=, &recorder](const TScsiRequest& request, TScsiResult& result) {
            const std::uint8_t op = request.cdb[0];
            if (op == kOpBlank) {
                *blanked = true;
                if (fault == TFault::ReadyAtOnce) return true;  // GOOD, and the drive is ready at once
            }
            if (!*blanked) return false;
            if (op == kOpTestUnitReady) {
                ++*polls;
                if (fault == TFault::FailsInDrive && *polls > 1) {
                    result = test::CheckCondition(0x03, 0x31, 0x01);  // format command failed
                    return true;
                }
                if (fault == TFault::NeverReady) {
                    result = test::CheckCondition(0x02, 0x04, 0x07);
                    return true;
                }
            }
            if (op == 0x51 && fault == TFault::NotBlankAfter) {
                result = recorder.Execute(request);
                if (request.data.size() > 2)
                    request.data[2] = static_cast<std::uint8_t>((request.data[2] & ~3) | 2);
                return true;
            }
            return false;
        });
        auto w = watch(b);
        EXPECT_EQ(b.EraseDisc(1), c.started);
        b.WaitForErase();
        EXPECT_EQ(w->done, 1);
        EXPECT_TRUE(w->withError);
        EXPECT_FALSE(b.Erasing);
        if (c.fault == TFault::NeverReady) {
            EXPECT_LE(*polls, 13);
            EXPECT_TRUE(rig.Logged(">>> ERASE DID NOT END IN TIME"));
        }
    }
}

}  // namespace
}  // namespace brenwick
