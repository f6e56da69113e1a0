// Records generated source trees into an unthrottled image recorder with the real burner (compilation,
// layout, cache thread, write thread, closing with SYNCHRONIZE CACHE) and prints, from the same run on the
// same tree: our MB/s end to end, the MB/s of copying the same files raw into one file (cat, then sync:
// the physical limit of a backup to an image here), and the MB/s of genisoimage and xorriso writing the
// same tree to an image (then sync), with the peak memory of our recording against its bound. Then how
// our time grows from 10,000 to 50,000 small files.
//
// Usage: bench_recording [--quick] [scratch folder]   (default: $TMPDIR or /tmp + /brenwick-bench-recording;
// the generated trees are kept there for the next run, the images are removed after each step)
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/workflow/TFrontEndSetup.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TStateFile.h"
#include "engine/qrCDBC.h"

namespace {

using namespace brenwick;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Writes back what earlier steps left dirty, so that no step pays for another's output.
void settle() {
    (void)std::system("sync");
}

// Runs a shell command and returns its wall time in seconds, or -1 when it failed.
double timedShell(const std::string& command) {
    settle();
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = secondsSince(start);
    return status == 0 ? seconds : -1;
}

// Peak resident memory of this process (kB), and its reset to the current size (Linux 4.0+).
long readStatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Files whose bytes differ from file to file and within a file, written once and kept for later runs.
void writeFile(const fs::path& path, std::uint64_t size, std::uint32_t seed, std::vector<char>& buffer) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        for (std::size_t i = 0; i < chunk; i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(buffer.data() + i, &state, std::min<std::size_t>(8, chunk - i));
        }
        out.write(buffer.data(), static_cast<std::streamsize>(chunk));
        left -= chunk;
    }
}

struct TTree {
    std::string name;
    fs::path root;
    int folders = 0;  // sub-folders of root holding the files (0: files directly in root)
    int files = 0;
    std::uint64_t bytes = 0;
};

TTree makeTree(const fs::path& scratch, const std::string& name, int folders, int files,
               std::uint64_t bytes) {
    TTree tree{name, scratch / name, folders, files, bytes};
    const fs::path stamp = tree.root / ".complete";
    if (fs::exists(stamp)) return tree;
    fs::remove_all(tree.root);
    std::printf("generating %s: %d files, %.0f MiB ...\n", name.c_str(), files, bytes / 1048576.0);
    std::fflush(stdout);
    std::vector<char> buffer(1 << 20);
    const std::uint64_t each = bytes / static_cast<std::uint64_t>(files);
    for (int i = 0; i < files; ++i) {
        fs::path folder = tree.root;
        if (folders > 0) folder /= "folder" + std::to_string(i % folders);
        fs::create_directories(folder);
        writeFile(folder / ("file" + std::to_string(i) + ".dat"), each, static_cast<std::uint32_t>(i + 1),
                  buffer);
    }
    tree.bytes = each * static_cast<std::uint64_t>(files);
    std::ofstream(stamp) << "ok\n";
    return tree;
}

std::uint64_t treeBytes(const TTree& tree) {
    std::uint64_t total = 0;
    for (const auto& item : fs::recursive_directory_iterator(tree.root)) {
        if (item.is_regular_file() && item.path().filename() != ".complete") total += item.file_size();
    }
    return total;
}

// One image recorder with a blank DVD-R, no busy periods and no speed limit, as the only target.
class TBenchRecorder {
  public:
    explicit TBenchRecorder(const fs::path& folder) : m_folder(folder.string()) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        TRecorderState state;
        state.disc = TDiscState::blankDisc(TMediaType::DvdR);
        std::string error;
        if (!SaveStateFile(m_folder, state, error)) std::fprintf(stderr, "recorder: %s\n", error.c_str());
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        options.speedX = 0;
        options.minBusyPolls = 0;
        m_recorder = std::make_shared<TImageRecorder>(m_folder, options);
        SetSptiOs(std::make_shared<TFakeSgOs>());
        auto target = m_recorder;
        SetExtraTargetSource(
            [target](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{target}; });
        (void)LoadTransport();
    }
    ~TBenchRecorder() {
        ShutdownTransport();
        m_recorder.reset();
        fs::remove_all(m_folder);
    }

  private:
    std::string m_folder;
    std::shared_ptr<TImageRecorder> m_recorder;
};

struct TRecording {
    double seconds = -1;
    double compileSeconds = 0;  // clearing, adding and Prepare
    double fillSeconds = 0;     // BurnCD: until the cache is full and the write thread starts
    long startKb = 0;           // resident memory before the compilation is built
    long preparedKb = 0;        // after Prepare (compilation and metadata stream)
    long peakKb = 0;
    std::size_t metadataBytes = 0;
    std::string error;
};

// Clears the compilation, adds the given folders of the tree, prepares, records and waits for the end.
TRecording record(const TTree& tree, const fs::path& scratch, int folderLimit) {
    TRecording result;
    TBenchRecorder recorder(scratch / "recorder");
    TQrvBurner burner;
    ConfigureBurner(burner);
    burner.HostAdapterInquiry(0);
    burner.RescanDevices();
    if (burner.DeviceList.empty()) {
        result.error = "no image recorder";
        return result;
    }
    burner.SelectDevice(burner.DeviceList.front());
    std::string error = "no end";
    burner.OnWriteDone = [&error](TObject*, const std::string& text, TWriteEnd) { error = text; };

    settle();
    malloc_trim(0);  // what earlier runs freed goes back to the system, so that the peak is this run's
    resetPeakMemory();
    result.startKb = readStatusKb("VmRSS:");
    const auto start = Clock::now();
    burner.ClearCompilation();
    (void)burner.ForceDirectory("\\bench");
    if (tree.folders == 0 || folderLimit <= 0) {
        (void)burner.AddFolder("\\bench", tree.root.string(), false, false, true, 63, "*.*");
    } else {
        for (int i = 0; i < folderLimit; ++i) {
            const std::string name = "folder" + std::to_string(i);
            (void)burner.ForceDirectory("\\bench\\" + name);
            (void)burner.AddFolder("\\bench\\" + name, (tree.root / name).string(), false, false, true, 63,
                                   "*.*");
        }
    }
    if (!burner.Prepare()) {
        result.error = "Prepare refused";
        return result;
    }
    result.metadataBytes = burner.MetadataStream().size();
    result.compileSeconds = secondsSince(start);
    result.preparedKb = readStatusKb("VmRSS:");
    const bool started = burner.BurnCD();
    result.fillSeconds = secondsSince(start) - result.compileSeconds;
    if (started) burner.WaitForRecording();
    result.seconds = secondsSince(start);
    result.peakKb = readStatusKb("VmHWM:");
    result.error = error;
    return result;
}

void warm(const TTree& tree) {
    (void)std::system(
        ("find " + quote(tree.root.string()) + " -type f -print0 | xargs -0 cat > /dev/null").c_str());
}

double mbPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? bytes / 1e6 / seconds : 0;
}

constexpr int kRuns = 3;  // each figure is the best of this many runs: the machine is shared

// The best time of kRuns runs of a shell command whose output file is removed after each run.
double bestShell(const std::string& command, const fs::path& output) {
    double best = -1;
    for (int run = 0; run < kRuns; ++run) {
        const double seconds = timedShell(command);
        fs::remove(output);
        if (seconds >= 0 && (best < 0 || seconds < best)) best = seconds;
    }
    return best;
}

// The fastest of kRuns recordings, with the highest peak memory of them all.
TRecording bestRecording(const TTree& tree, const fs::path& scratch, int folderLimit, int runs) {
    TRecording best;
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        const TRecording r = record(tree, scratch, folderLimit);
        if (!r.error.empty()) return r;
        peak = std::max(peak, r.peakKb);
        if (best.seconds < 0 || r.seconds < best.seconds) best = r;
    }
    best.peakKb = peak;
    return best;
}

void compare(const TTree& tree, const fs::path& scratch) {
    warm(tree);
    const std::uint64_t bytes = treeBytes(tree);
    const std::string src = quote(tree.root.string());
    const fs::path output = scratch / "out.bin";
    const std::string out = quote(output.string());
    const std::string exclude = " -m .complete";
    const double raw =
        bestShell("cd " + src + " && find . -type f ! -name .complete -print0 | xargs -0 cat > " + out +
                      " && sync " + out,
                  output);
    const double geniso =
        bestShell("genisoimage -quiet -J" + exclude + " -o " + out + " " + src + " && sync " + out, output);
    const double xorr = bestShell("xorriso -as mkisofs -quiet -J" + exclude + " -o " + out + " " + src +
                                      " >/dev/null 2>&1 && sync " + out,
                                  output);
    const TRecording ours = bestRecording(tree, scratch, 0, kRuns);

    std::printf("\n%s: %d files in %d folders, %.1f MB (best of %d runs each)\n", tree.name.c_str(),
                tree.files, tree.folders, bytes / 1e6, kRuns);
    std::printf("  raw copy (cat into one file, sync)   %7.2f s  %8.1f MB/s\n", raw, mbPerSecond(bytes, raw));
    std::printf("  genisoimage -J -o, sync              %7.2f s  %8.1f MB/s\n", geniso,
                mbPerSecond(bytes, geniso));
    std::printf("  xorriso -as mkisofs -J -o, sync      %7.2f s  %8.1f MB/s\n", xorr,
                mbPerSecond(bytes, xorr));
    if (!ours.error.empty()) {
        std::printf("  brenwick recording FAILED: %s\n", ours.error.c_str());
        return;
    }
    std::printf(
        "  brenwick to the image recorder       %7.2f s  %8.1f MB/s  (compilation and layout %.2f s, "
        "first cache fill %.2f s)\n",
        ours.seconds, mbPerSecond(bytes, ours.seconds), ours.compileSeconds, ours.fillSeconds);
    std::printf("  our rate / raw copy rate: %.2f;  faster than genisoimage: %s, than xorriso: %s\n",
                raw / ours.seconds, ours.seconds < geniso ? "yes" : "NO", ours.seconds < xorr ? "yes" : "NO");
    const double limitMb = (kMainWindowCacheSize + static_cast<double>(ours.metadataBytes)) / 1048576.0 + 32;
    std::printf("  resident memory: %.1f MiB at the start, %.1f MiB once prepared\n", ours.startKb / 1024.0,
                ours.preparedKb / 1024.0);
    std::printf("  peak memory %.1f MiB (bound: cache %.1f + metadata %.1f + 32 MiB = %.1f MiB): %s\n",
                ours.peakKb / 1024.0, kMainWindowCacheSize / 1048576.0, ours.metadataBytes / 1048576.0,
                limitMb, ours.peakKb / 1024.0 <= limitMb ? "within" : "ABOVE");
}

void growth(const TTree& small, const fs::path& scratch) {
    std::printf("\ngrowth on %s (%d files per folder):\n", small.name.c_str(), small.files / small.folders);
    double first = 0;
    for (int part = 1; part <= 5; ++part) {
        const int folders = small.folders * part / 5;
        const int files = small.files / small.folders * folders;
        const TRecording r = bestRecording(small, scratch, folders, 2);
        if (!r.error.empty()) {
            std::printf("  %6d files: FAILED: %s\n", files, r.error.c_str());
            continue;
        }
        if (part == 1) first = r.seconds / files;
        std::printf("  %6d files  %7.2f s  %6.1f us per file  (x%.2f of the first per file)\n", files,
                    r.seconds, r.seconds / files * 1e6, r.seconds / files / first);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    fs::path scratch;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            scratch = argv[i];
        }
    }
    if (scratch.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        scratch = fs::path(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") / "brenwick-bench-recording";
    }
    fs::create_directories(scratch);
    const TTree large = quick ? makeTree(scratch, "large-quick", 0, 4, 100ull << 20)
                              : makeTree(scratch, "large", 0, 8, 1ull << 30);
    const TTree small = quick ? makeTree(scratch, "small-quick", 20, 5000, 20ull << 20)
                              : makeTree(scratch, "small", 100, 50000, 200ull << 20);
    compare(large, scratch);
    compare(small, scratch);
    growth(small, scratch);
    return 0;
}
