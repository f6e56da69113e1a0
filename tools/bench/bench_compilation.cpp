// Builds the largest compilations the limits allow from generated source trees and prints how long the
// folder add, the child-list sort and the layout take; then compares, on 20,000 files in one folder, our
// folder add and layout with the layout-only runs of xorriso and genisoimage (-print-size), as ratios.
// Usage: bench_compilation [scratch folder] (default: a new folder under $TMPDIR or /tmp, removed after; a
// given folder keeps the generated trees for the next run).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "isofs/qrCompilation.h"
#include "isofs/qrISOLayout.h"

namespace {

using namespace brenwick;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void MakeFiles(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        const std::string path = folder + "/file number " + std::to_string(i) + ".dat";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            (void)!write(fd, "x", 1);
            close(fd);
        }
    }
}

// Chains of nested folders "c<k>/d/d/...", kept below PATH_MAX, together `total` folders.
void MakeDeep(const std::string& folder, int total, int chainLength) {
    std::filesystem::create_directories(folder);
    for (int chain = 0; total > 0; ++chain) {
        std::string path = folder + "/c" + std::to_string(chain);
        const int length = std::min(total, chainLength);
        for (int i = 0; i < length; ++i) {
            if (i > 0) path += "/d";
            mkdir(path.c_str(), 0755);
        }
        total -= length;
    }
}

void MakeWide(const std::string& folder, int total) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < total; ++i) mkdir((folder + "/folder " + std::to_string(i)).c_str(), 0755);
}

struct TRun {
    double add = 0, sort = 0, layout = 0;
    int dirs = 0, entries = 0, leftOut = 0;
};

TRun Run(const std::string& source) {
    TRun r;
    TCompilation c;
    auto t = Clock::now();
    (void)c.AddFolder("\\", source, false, false, true, 63, "*.*");
    r.add = Seconds(t);
    r.dirs = c.DirectoryCount();
    r.entries = c.EntryCount();
    r.leftOut = c.LeftOutCount();
    // The sort alone, on the biggest child list turned into descending order (the insertion sort's worst).
    TDEntry* biggest = c.Root();
    std::size_t most = 0;
    for (TDEntry* d : c.Directories()) {
        std::size_t n = 0;
        for (TFEntry* f = d->Entries; f != nullptr; f = f->Next) ++n;
        if (n > most) most = n, biggest = d;
    }
    TFEntry* reversed = nullptr;
    for (TFEntry* f = biggest->Entries; f != nullptr;) {
        TFEntry* next = f->Next;
        f->Next = reversed;
        reversed = f;
        f = next;
    }
    biggest->Entries = reversed;
    t = Clock::now();
    c.SortEntries(biggest);
    r.sort = Seconds(t);
    TMetadataStream stream;
    TSessionLayout layout;
    t = Clock::now();
    (void)LayoutSession(c, 0, true, TVolumeInfo{}, stream, layout);
    r.layout = Seconds(t);
    return r;
}

void Print(const char* what, const TRun& r) {
    std::printf(
        "%-34s %5d dirs %6d entries %3d left out | AddFolder %8.3f s | sort %7.4f s | layout %7.3f s\n", what,
        r.dirs, r.entries, r.leftOut, r.add, r.sort, r.layout);
}

double TimeCommand(const std::string& command) {
    const auto t = Clock::now();
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    const double s = Seconds(t);
    return rc == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scratch;
    bool remove = false;
    if (argc > 1) {
        scratch = argv[1];
        std::filesystem::create_directories(scratch);
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/brenwick-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return 1;
        scratch = pattern;
        remove = true;
    }
    // A given scratch folder keeps its trees: a second run reuses them.
    if (!std::filesystem::exists(scratch + "/twenty")) {
        std::printf("Generating source trees in %s\n", scratch.c_str());
        MakeFiles(scratch + "/flat", kMaxFileEntries);
        MakeDeep(scratch + "/deep", kMaxDirectories, 1800);
        MakeWide(scratch + "/wide", kMaxDirectories);
        MakeFiles(scratch + "/twenty", 20000);
    }

    Print("65,535 files in one folder", Run(scratch + "/flat"));
    Print("8,191 folders, chains 1,800 deep", Run(scratch + "/deep"));
    Print("8,191 folders in one folder", Run(scratch + "/wide"));

    const TRun ours = Run(scratch + "/twenty");
    const double oursTotal = ours.add + ours.layout;
    const double xorriso = TimeCommand("xorriso -as mkisofs -quiet -J -print-size '" + scratch + "/twenty'");
    const double genisoimage = TimeCommand("genisoimage -quiet -J -print-size '" + scratch + "/twenty'");
    std::printf("20,000 files in one folder: ours (AddFolder + layout) %.3f s\n", oursTotal);
    if (xorriso > 0)
        std::printf("  xorriso -as mkisofs -quiet -J -print-size  %8.3f s  ratio %.4f\n", xorriso,
                    oursTotal / xorriso);
    else
        std::printf("  xorriso: did not run\n");
    if (genisoimage > 0)
        std::printf("  genisoimage -quiet -J -print-size         %8.3f s  ratio %.4f\n", genisoimage,
                    oursTotal / genisoimage);
    else
        std::printf("  genisoimage: did not run\n");
    if (remove) std::filesystem::remove_all(scratch);
    return 0;
}
