// Hostile initiators: every operation code with random CDBs, allocation lengths and parameter lists of
// random size. The recorder must answer each with a valid status, never move more data than the buffer
// holds, and keep its state file readable.
#include <gtest/gtest.h>

#include <random>

#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TImageRecorder.h"

namespace brenwick {
namespace {

TEST(RecorderRobustnessTest, RandomCommandsGetValidAnswers) {
    const TMediaType media[] = {TMediaType::CdRw80, TMediaType::DvdR, TMediaType::DvdPlusRw,
                                TMediaType::None};
    std::mt19937 random(20260512);
    for (TMediaType type : media) {
        testing::TTempTree folder;
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        options.commandLogLimit = 16;
        std::string error;
        auto recorder = MakeImageRecorder(folder / "r", type, options, error);
        ASSERT_TRUE(recorder) << error;
        for (int i = 0; i < 3000; ++i) {
            const std::size_t cdbLength = std::array<std::size_t, 5>{6, 10, 12, 16, 3}[random() % 5];
            std::vector<std::uint8_t> cdb(cdbLength);
            for (auto& b : cdb) b = std::uint8_t(random());
            cdb[0] = std::uint8_t(i % 256);
            // Keep transfer lengths of data commands small, as a buffer of that size is handed over.
            if (cdb[0] == 0x2A || cdb[0] == 0x28 || cdb[0] == 0xAA || cdb[0] == 0xA8) {
                for (std::size_t k = 6; k < cdb.size(); ++k) cdb[k] = std::uint8_t(random() % 3);
                if (cdb.size() >= 10 && random() % 2) std::fill(cdb.begin() + 2, cdb.begin() + 6, 0);
            }
            std::vector<std::uint8_t> data(random() % 4 == 0 ? 0 : random() % 9000);
            for (auto& b : data) b = std::uint8_t(random());
            TScsiRequest request;
            request.cdb = cdb;
            request.data = data;
            request.direction = data.empty()   ? TDataDirection::None
                                : random() % 2 ? TDataDirection::In
                                               : TDataDirection::Out;
            const TScsiResult result = recorder->Execute(request);
            ASSERT_TRUE(result.status == kStatusGood || result.status == kStatusCheckCondition ||
                        result.status == kStatusBusy)
                << "opcode " << int(cdb[0]);
            ASSERT_LE(result.transferred, data.size());
            if (result.status == kStatusCheckCondition) {
                ASSERT_EQ(result.senseLength, 18u);
                ASSERT_EQ(result.sense[0] & 0x7F, 0x70);
            }
            if (random() % 500 == 0) {
                // Put the tray back and start afresh now and then, so that later commands meet a disc again.
                (void)testing::Send(*recorder, {0x1B, 0, 0, 0, 0x03, 0});
            }
        }
        recorder->Release();
        TRecorderState state;
        EXPECT_TRUE(LoadStateFile(folder / "r", state, error)) << error;
    }
}

}  // namespace
}  // namespace brenwick
