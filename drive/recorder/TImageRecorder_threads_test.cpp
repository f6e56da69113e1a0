// The recorder used from two threads, as the engine does: the write thread sends commands while the user
// interface thread reads the buffer level and a test reads the command log.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TImageRecorder.h"

namespace brenwick {
namespace {

using testing::Cdb10;
using testing::Send;
using testing::TRun;

TEST(RecorderThreadsTest, CommandsFromTwoThreadsAreSerialised) {
    testing::TTempTree folder;
    TRecorderOptions options;
    options.busy = InstantBusyTimes();
    std::string error;
    auto recorder = MakeImageRecorder(folder / "r", TMediaType::DvdPlusR, options, error);
    ASSERT_TRUE(recorder) << error;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        const std::vector<std::uint8_t> data(31 * 2048, 0x5A);
        for (std::uint32_t i = 0; i < 200; ++i) {
            if (!Send(*recorder, Cdb10(0x2A, i * 31, 31), 0, data).good()) ++failures;
        }
        done = true;
    });
    std::size_t polls = 0;
    while (!done) {
        const TRun level = Send(*recorder, {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12);
        if (!level.good()) ++failures;
        (void)recorder->CommandLog().size();
        (void)recorder->Disc();
        ++polls;
    }
    writer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(recorder->Disc().tracks.at(0).blocks, 200 * 31);
    EXPECT_EQ(recorder->CommandLog().size(), 200 + polls);
}

}  // namespace
}  // namespace brenwick
