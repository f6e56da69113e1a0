// The command line's progress line from the timer's values.
#include "app/workflow/TProgress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace brenwick {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kGiB = 1024 * kMiB;

// The values as the timer leaves them during a recording.
TProgress recording(std::int64_t written, std::int64_t session, int cache, std::optional<std::uint32_t> used,
                    std::uint32_t size) {
    TProgress p;
    p.bytesWritten = written;
    p.sessionBytes = session;
    p.process = ScaleGauge(session, written);
    p.cacheFillPercent = cache;
    p.driveBufferUsed = used;
    p.driveBufferSize = size;
    return p;
}

TProgress onDvd(TProgress p) {
    p.dvd = true;
    return p;
}

TEST(ProgressLine, Recording) {
    struct TCase {
        const char* name;
        TProgress progress;
        double rate, left;
        const char* line;
    };
    const TCase cases[] = {
        {"start, nothing known yet", recording(0, 10 * kMiB, 0, std::nullopt, 0), -1, -1,
         "Process 0%  0/10 MB  Cache 0%  Buffer --  -- MB/s  --:-- left"},
        {"mid-way", recording(5 * kMiB, 10 * kMiB, 87, 1 * kMiB, 2 * kMiB), 230400, 22.7,
         "Process 50%  5/10 MB  Cache 87%  Buffer 50%  0.2 MB/s (1.5x)  0:23 left"},
        {"done", recording(10 * kMiB, 10 * kMiB, 0, 0, 2 * kMiB), 1536000, 0,
         "Process 100%  10/10 MB  Cache 0%  Buffer 0%  1.5 MB/s (10.0x)  0:00 left"},
        {"session of exactly 2 GiB", recording(kGiB, 2 * kGiB, 100, 2 * kMiB, 2 * kMiB), 2457600, 436.9,
         "Process 50%  1,024/2,048 MB  Cache 100%  Buffer 100%  2.3 MB/s (16.0x)  7:17 left"},
        {"4.4 GiB DVD session: DVD's 1x",
         onDvd(recording(3 * kGiB, 4 * kGiB + 400 * kMiB, 99, 3 * kMiB / 2, 2 * kMiB)), 16621568, 4000,
         "Process 68%  3,072/4,496 MB  Cache 99%  Buffer 75%  15.9 MB/s (12.0x)  1:06:40 left"},
        {"stalled: speed known, time left not", recording(6 * kMiB, 10 * kMiB, 3, 0, 2 * kMiB), 0, -1,
         "Process 60%  6/10 MB  Cache 3%  Buffer 0%  0.0 MB/s (0.0x)  --:-- left"},
        {"drive reported more free than its size", recording(6 * kMiB, 10 * kMiB, 3, std::nullopt, 2 * kMiB),
         -1, -1, "Process 60%  6/10 MB  Cache 3%  Buffer --  -- MB/s  --:-- left"},
    };
    for (const TCase& c : cases) EXPECT_EQ(ProgressLineText(c.progress, c.rate, c.left), c.line) << c.name;
}

TEST(ProgressLine, Erasing) {
    for (const int percent : {0, 40, 100}) {
        TProgress p = recording(5 * kMiB, 10 * kMiB, 50, 0, 2 * kMiB);  // an earlier recording's values
        p.erasing = true;
        p.erasePercent = percent;
        EXPECT_EQ(ProgressLineText(p, 1e6, 10), "Erasing " + std::to_string(percent) + "%");
    }
}

// The rate meter tells when it has no rate yet, so that the line shows "--" instead of a false 0.
TEST(ProgressLine, RateKnownAfterTwoSamples) {
    TRateMeter meter;
    EXPECT_FALSE(meter.hasRate());
    meter.sample(0.5, 0);
    EXPECT_FALSE(meter.hasRate());
    meter.sample(1.0, 76800);
    EXPECT_TRUE(meter.hasRate());
    EXPECT_DOUBLE_EQ(meter.bytesPerSecond(), 153600.0);
}

}  // namespace
}  // namespace brenwick
