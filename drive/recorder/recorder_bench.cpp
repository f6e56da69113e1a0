// Benchmark: how fast the image recorder takes a recording. Streams a session of 31-block WRITE (10)
// commands to a blank DVD+R in a temporary folder, as the write thread does, then reads it back with
// READ (10), and prints the rates. Usage: recorder_bench [MEGABYTES] (default 256).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TImageRecorder.h"

using namespace brenwick;

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
    if (megabytes <= 0 || megabytes > 4000) {
        std::fprintf(stderr, "usage: recorder_bench [MEGABYTES 1..4000]\n");
        return 2;
    }
    testing::TTempFolder folder;
    TRecorderOptions options;
    options.busy = InstantBusyTimes();
    options.commandLogLimit = 0;
    std::string error;
    auto recorder = MakeImageRecorder(folder / "bench", TMediaType::DvdPlusR, options, error);
    if (!recorder) {
        std::fprintf(stderr, "recorder_bench: %s\n", error.c_str());
        return 1;
    }
    const std::uint32_t blocks = std::uint32_t(megabytes * 512);
    std::vector<std::uint8_t> block(31 * 2048);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(i * 31 + 7);
    using Clock = std::chrono::steady_clock;
    auto started = Clock::now();
    std::uint32_t commands = 0;
    for (std::uint32_t lba = 0; lba < blocks; lba += 31, ++commands) {
        const auto n = std::uint16_t(std::min<std::uint32_t>(31, blocks - lba));
        if (!testing::Send(*recorder, testing::Cdb10(0x2A, lba, n), 0, {block.data(), std::size_t(n) * 2048})
                 .good()) {
            std::fprintf(stderr, "recorder_bench: WRITE at %u failed\n", lba);
            return 1;
        }
    }
    if (!testing::Send(*recorder, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good()) return 1;
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    started = Clock::now();
    for (std::uint32_t lba = 0; lba < blocks; lba += 32) {
        const auto n = std::uint16_t(std::min<std::uint32_t>(32, blocks - lba));
        if (!testing::Send(*recorder, testing::Cdb10(0x28, lba, n), std::size_t(n) * 2048).good()) {
            std::fprintf(stderr, "recorder_bench: READ at %u failed\n", lba);
            return 1;
        }
    }
    const double readSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf(
        "recorded %ld MB in %u WRITE (10) commands: %.1f s, %.0f MB/s, %.1f us per command (sync included)\n",
        megabytes, commands, writeSeconds, double(megabytes) / writeSeconds, writeSeconds * 1e6 / commands);
    std::printf("read back with READ (10) of 32 blocks: %.1f s, %.0f MB/s\n", readSeconds,
                double(megabytes) / readSeconds);
    return 0;
}
