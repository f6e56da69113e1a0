// Records generated source trees into an image recorder with the real burner (compilation, layout, cache
// thread with its readers, write thread, closing with SYNCHRONIZE CACHE) and prints, from the same run on
// the same tree, with the page cache warm and then cold (dropped before every run when run as root):
// our time end to end against a raw copy of the same files into one file (cat, then sync), eight cat
// processes reading the files in parallel, and genisoimage and xorriso writing the same tree to an image
// (then sync); our time with the checksum manifest against the same run without it, and with other
// numbers of readers; our CPU time per MB and peak memory against its bound; the rate of verifying the
// recorded session against cat over its image; and the underruns of a recorder throttled to 16x DVD
// speed fed from the cold small-file tree. Then how our time grows from 10,000 to 50,000 small files.
//
// Usage: bench_recording [--quick] [--cold-only] [--large-only] [scratch folder]   (default: $TMPDIR or /tmp +
// /brenwick-bench-recording; the generated trees are kept there for the next run, the images are removed
// after each step)
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
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

#include "app/workflow/TDiscRestore.h"
#include "app/workflow/TFrontEndSetup.h"
#include "base/qrDateTime.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TStateFile.h"
#include "engine/qrBurnerDisc.h"
#include "engine/qrCDBC.h"
#include "isofs/qrSessionListing.h"

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

// Writes back what earlier steps left dirty, so that no step pays for another's output; with a cold
// cache, then drops the page cache, so that every run reads its sources from the disk.
bool g_cold = false;
void settle() {
    (void)std::system("sync");
    if (!g_cold) return;
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    if (!drop) std::fprintf(stderr, "cannot drop the page cache\n");
}

// Dropping the page cache needs root (and a /proc/sys that is writable).
bool canDropCaches() {
    return ::geteuid() == 0 && ::access("/proc/sys/vm/drop_caches", W_OK) == 0;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Processor time of the whole machine (every process and the kernel's own threads, such as the writeback
// of the image file), from the first line of /proc/stat: busy and all jiffies.
struct TMachineTime {
    long long busy = 0;
    long long total = 0;
};
TMachineTime machineTime() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    const long long busy = user + nice + system + irq + softirq + steal;
    return {busy, busy + idle + iowait};
}
double busyShare(const TMachineTime& from, const TMachineTime& to) {
    const long long total = to.total - from.total;
    return total > 0 ? static_cast<double>(to.busy - from.busy) / static_cast<double>(total) : 0;
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
    TBenchRecorder(const fs::path& folder, unsigned speedX, TMediaType media) : m_folder(folder.string()) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        TRecorderState state;
        state.disc = TDiscState::blankDisc(media);
        std::string error;
        if (!SaveStateFile(m_folder, state, error)) std::fprintf(stderr, "recorder: %s\n", error.c_str());
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        options.speedX = speedX;
        options.minBusyPolls = 0;
        m_recorder = std::make_shared<TImageRecorder>(m_folder, options);
        SetSptiOs(std::make_shared<TFakeSgOs>());
        auto target = m_recorder;
        SetExtraTargetSource(
            [target](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{target}; });
        (void)LoadTransport();
    }
    std::string imagePath() const { return m_folder + "/" + kImageFileName; }
    unsigned underruns() const {
        TRecorderState state;
        std::string error;
        return LoadStateFile(m_folder, state, error) ? state.underruns : 0;
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
    double cpuSeconds = 0;      // of every thread of the process, from the compilation to the end
    double machineBusy = 0;     // share of all the machine's processors busy meanwhile (any process)
    double verifySeconds = -1;  // reading the session back and checking it against its manifest
    double verifyCpuSeconds = 0;
    double catImageSeconds = -1;
    unsigned underruns = 0;
    std::string error;
};

// How one recording is made.
struct TRecordingSetup {
    bool manifest = true;  // the run's folder gets its checksum manifest: every byte is hashed
    int readers = TReadAheadLimits{}.Readers;
    unsigned speedX = 0;  // 0: unthrottled
    // A DVD-R; the throttled run takes a DVD-RAM, whose recording selects no lower speed of its own.
    TMediaType media = TMediaType::DvdR;
    bool verify = false;  // read the session back and check it, against cat over its image
    // false: the cache thread keeps the priority it starts with instead of lowering it as the queue fills
    // (on a machine busy with other work, a lowered thread gets little of the processors)
    bool priorityLadder = true;
};

// Reads the last session back through the drive and checks every file against the manifest.
double verifySession(TQrvBurner& burner, std::string& error) {
    const auto start = Clock::now();
    TBurnerDisc disc(burner);
    TSessionListing listing;
    if (!ReadSessionListing(disc, 0xFF, listing)) {
        error = "the session does not read back";
        return -1;
    }
    TRestoreOptions options;
    options.Paths = {"/bench"};
    options.CheckOnly = true;
    const TRestoreReport report = RestoreFromDisc(disc, listing, options);
    if (!report.Complete() || report.Restored == 0) {
        error = "verification failed";
        return -1;
    }
    return secondsSince(start);
}

// Clears the compilation, adds the given folders of the tree, prepares, records and waits for the end.
TRecording record(const TTree& tree, const fs::path& scratch, int folderLimit, const TRecordingSetup& setup) {
    TRecording result;
    TBenchRecorder recorder(scratch / "recorder", setup.speedX, setup.media);
    TQrvBurner burner;
    ConfigureBurner(burner);
    burner.CacheHooks.ReadAhead.Readers = setup.readers;
    if (!setup.priorityLadder) burner.CacheHooks.SetPriority = [](TThreadPriority) {};
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
    const double cpuStart = cpuSeconds();
    const TMachineTime machineStart = machineTime();
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
    if (setup.manifest)
        (void)burner.Compilation().AddManifest(burner.FindDirectory("\\bench"),
                                               DateTimeFromUnixSeconds(1.8e9));
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
    result.cpuSeconds = cpuSeconds() - cpuStart;
    result.machineBusy = busyShare(machineStart, machineTime());
    result.peakKb = readStatusKb("VmHWM:");
    result.error = error;
    result.underruns = recorder.underruns();
    if (setup.verify && error.empty()) {
        settle();  // with a cold cache, the verification and cat read the image from the disk
        const double verifyCpu = cpuSeconds();
        result.verifySeconds = verifySession(burner, result.error);
        result.verifyCpuSeconds = cpuSeconds() - verifyCpu;
        settle();
        const auto catStart = Clock::now();
        if (std::system(("cat " + quote(recorder.imagePath()) + " > /dev/null").c_str()) == 0)
            result.catImageSeconds = secondsSince(catStart);
    }
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
TRecording bestRecording(const TTree& tree, const fs::path& scratch, int folderLimit, int runs,
                         const TRecordingSetup& setup = {}) {
    TRecording best;
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        const TRecording r = record(tree, scratch, folderLimit, setup);
        if (!r.error.empty()) return r;
        peak = std::max(peak, r.peakKb);
        if (best.seconds < 0 || r.seconds < best.seconds) best = r;
    }
    best.peakKb = peak;
    return best;
}

void printLine(const char* what, double seconds, std::uint64_t bytes, double reference) {
    if (seconds < 0) {
        std::printf("  %-40s  FAILED\n", what);
        return;
    }
    std::printf("  %-40s %7.2f s  %7.1f MB/s  x%.2f of ours\n", what, seconds, mbPerSecond(bytes, seconds),
                seconds / reference);
}

void compare(const TTree& tree, const fs::path& scratch) {
    if (!g_cold) warm(tree);
    const std::uint64_t bytes = treeBytes(tree);
    const std::string src = quote(tree.root.string());
    const fs::path output = scratch / "out.bin";
    const std::string out = quote(output.string());
    const std::string exclude = " -m .complete";
    const double raw =
        bestShell("cd " + src + " && find . -type f ! -name .complete -print0 | xargs -0 cat > " + out +
                      " && sync " + out,
                  output);
    const double parallel = bestShell(
        "cd " + src + " && find . -type f ! -name .complete -print0 | xargs -0 -P 8 -n 256 cat > /dev/null",
        output);
    const double geniso =
        bestShell("genisoimage -quiet -J" + exclude + " -o " + out + " " + src + " && sync " + out, output);
    const double xorr = bestShell("xorriso -as mkisofs -quiet -J" + exclude + " -o " + out + " " + src +
                                      " >/dev/null 2>&1 && sync " + out,
                                  output);
    TRecordingSetup setup;
    setup.verify = true;
    const TRecording ours = bestRecording(tree, scratch, 0, kRuns, setup);
    TRecordingSetup unhashed;
    unhashed.manifest = false;
    const TRecording plain = bestRecording(tree, scratch, 0, kRuns, unhashed);
    TRecordingSetup steady;
    steady.priorityLadder = false;
    const TRecording level = bestRecording(tree, scratch, 0, 1, steady);

    std::printf("\n%s, page cache %s: %d files in %d folders, %.1f MB (best of %d runs each)\n",
                tree.name.c_str(), g_cold ? "COLD (dropped before each run)" : "warm", tree.files,
                tree.folders, bytes / 1e6, kRuns);
    if (!ours.error.empty() || !plain.error.empty()) {
        std::printf("  brenwick recording FAILED: %s\n", (ours.error + plain.error).c_str());
        return;
    }
    std::printf("  %-40s %7.2f s  %7.1f MB/s  (compilation and layout %.2f s, first cache fill %.2f s)\n",
                "brenwick to the image recorder", ours.seconds, mbPerSecond(bytes, ours.seconds),
                ours.compileSeconds, ours.fillSeconds);
    printLine("brenwick without the manifest (no hashing)", plain.seconds, bytes, ours.seconds);
    printLine("brenwick, cache priority not lowered (1 run)", level.error.empty() ? level.seconds : -1, bytes,
              ours.seconds);
    printLine("raw copy (cat into one file, sync)", raw, bytes, ours.seconds);
    printLine("8 parallel cat readers (no output)", parallel, bytes, ours.seconds);
    printLine("genisoimage -J -o, sync", geniso, bytes, ours.seconds);
    printLine("xorriso -as mkisofs -J -o, sync", xorr, bytes, ours.seconds);
    std::printf("  ours / genisoimage %.2f, / xorriso %.2f, / raw copy %.2f, / 8 parallel readers %.2f\n",
                ours.seconds / geniso, ours.seconds / xorr, ours.seconds / raw, ours.seconds / parallel);
    std::printf("  hashing costs %+.1f %% of the time without it\n",
                (ours.seconds / plain.seconds - 1) * 100);
    std::printf("  CPU (all threads): %.2f s, %.2f ms per MB; without hashing %.2f s, %.2f ms per MB\n",
                ours.cpuSeconds, ours.cpuSeconds * 1e3 / (bytes / 1e6), plain.cpuSeconds,
                plain.cpuSeconds * 1e3 / (bytes / 1e6));
    std::printf("  the machine's %u processors were %.0f %% busy during our run, %.0f %% without hashing\n",
                std::thread::hardware_concurrency(), ours.machineBusy * 100, plain.machineBusy * 100);
    if (ours.verifySeconds > 0 && ours.catImageSeconds > 0) {
        std::printf(
            "  verify (read back, check the manifest) %.2f s (CPU %.2f s) against cat over the image %.2f s: "
            "%.0f %% of cat's rate\n",
            ours.verifySeconds, ours.verifyCpuSeconds, ours.catImageSeconds,
            ours.catImageSeconds / ours.verifySeconds * 100);
    }
    // The bound: what the process held once the compilation was prepared (the tree and the metadata
    // stream), plus the cache, plus the readers' 32 MiB.
    const double limitMb = ours.preparedKb / 1024.0 + kMainWindowCacheSize / 1048576.0 + 32;
    std::printf("  resident memory: %.1f MiB at the start, %.1f MiB once prepared (metadata %.1f MiB)\n",
                ours.startKb / 1024.0, ours.preparedKb / 1024.0, ours.metadataBytes / 1048576.0);
    std::printf(
        "  peak memory %.1f MiB (bound: prepared %.1f + cache %.1f + read-ahead 32 MiB = %.1f MiB): %s\n",
        ours.peakKb / 1024.0, ours.preparedKb / 1024.0, kMainWindowCacheSize / 1048576.0, limitMb,
        ours.peakKb / 1024.0 <= limitMb ? "within" : "ABOVE");
}

// Our time with other numbers of readers (0: the cache thread reads each file itself).
void readers(const TTree& tree, const fs::path& scratch) {
    std::printf("\n%s, page cache %s, by the number of readers:\n", tree.name.c_str(),
                g_cold ? "cold" : "warm");
    for (int n : {0, 1, 2, 4, 8, 16}) {
        TRecordingSetup setup;
        setup.readers = n;
        const TRecording r = bestRecording(tree, scratch, 0, 2, setup);
        if (!r.error.empty()) {
            std::printf("  %2d readers: FAILED: %s\n", n, r.error.c_str());
            continue;
        }
        std::printf("  %2d readers  %7.2f s  CPU %.2f s\n", n, r.seconds, r.cpuSeconds);
    }
}

// A recorder throttled to 16x DVD speed (about 22 MB/s) must never run out of data.
void throttled(const TTree& tree, const fs::path& scratch) {
    TRecordingSetup setup;
    setup.speedX = 16;
    setup.media = TMediaType::DvdRam;
    const TRecording r = record(tree, scratch, 0, setup);
    if (!r.error.empty()) {
        std::printf("\n16x DVD recorder, %s: FAILED: %s\n", tree.name.c_str(), r.error.c_str());
        return;
    }
    std::printf(
        "\n16x DVD recorder fed from %s, page cache %s: %.2f s (%.1f MB/s end to end), %u underruns\n",
        tree.name.c_str(), g_cold ? "cold" : "warm", r.seconds, mbPerSecond(treeBytes(tree), r.seconds),
        r.underruns);
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure shows as soon as it is measured
    bool quick = false;
    bool coldOnly = false;
    bool largeOnly = false;  // only the large-file tree, warm and cold: the hashing and verify figures
    fs::path scratch;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--cold-only") == 0) {
            coldOnly = true;
        } else if (std::strcmp(argv[i], "--large-only") == 0) {
            largeOnly = true;
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
    if (largeOnly) {
        compare(large, scratch);
        g_cold = canDropCaches();
        if (g_cold) compare(large, scratch);
        return 0;
    }
    if (!coldOnly) {
        compare(large, scratch);
        compare(small, scratch);
        growth(small, scratch);
    }
    if (!canDropCaches()) {
        std::printf(
            "\nCOLD CACHE NOT MEASURED: dropping the page cache needs root and a writable "
            "/proc/sys/vm/drop_caches\n");
        return 0;
    }
    g_cold = true;
    throttled(small, scratch);
    compare(small, scratch);
    compare(large, scratch);
    readers(small, scratch);
    return 0;
}
