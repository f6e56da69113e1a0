// Files copied from a disc by the read pipeline and the copy workers: bytes in order across runs and
// buffer reuse, an unreadable sector costing only its file (named exactly), long runs refused by the
// drive, and a stop in the middle of a file leaving no copy behind.
#include "app/workflow/TDiscCopies.h"
#include "app/workflow/TDiscRestore.h"

#include <gtest/gtest.h>

#include <set>

#include "base/testing/TTempTree.h"
#include "engine/qrSha256.h"

namespace brenwick {
namespace {

using testing::ReadText;
using testing::TTempTree;

// A disc of numbered bytes with sectors that cannot be read and a longest READ it accepts.
class TFaultyDisc : public TMemoryDisc {
  public:
    explicit TFaultyDisc(std::uint32_t sectors) : TMemoryDisc(Pattern(sectors), {0}) {}
    bool read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) override {
        return !bad.contains(lba) && TMemoryDisc::read(lba, sector);
    }
    bool readRun(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> sectors) override {
        const std::uint32_t run = ++runs;
        if (count > accepted) return false;
        if (run == stopAfterRuns) *stop = true;
        return TSessionDisc::readRun(lba, count, sectors);
    }
    std::string bytes(const TDiscExtent& e) {
        const auto* at = image().data() + std::size_t{e.Lba} * 2048;
        return std::string(at, at + e.Size);
    }

    std::set<std::uint32_t> bad;
    std::uint32_t accepted = 0xFFFF;
    std::atomic<std::uint32_t> runs{0};  // READ commands of more than one sector
    std::uint32_t stopAfterRuns = 0;     // sets `stop` with this run (0: never)
    std::atomic<bool>* stop = nullptr;

  private:
    static std::vector<std::uint8_t> Pattern(std::uint32_t sectors) {
        std::vector<std::uint8_t> image(std::size_t{sectors} * 2048);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 2048);
        return image;
    }
};

TSha256Digest DigestOf(const std::string& bytes) {
    TSha256 hash;
    hash.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return hash.Finish();
}

// Runs of 4 sectors through 2 buffers: every file needs several runs and the buffers go round many times.
constexpr TReadLimits kSmall{4, 2};

struct TFile {
    TDiscExtent extent;
    bool copied;  // or only hashed
};

TEST(DiscCopiesTest, BytesInOrderAndAnUnreadableSectorCostsOnlyItsFile) {
    const TFile files[] = {
        {{2, 0}, true},          {{2, 1}, false},     {{3, 4 * 2048}, true},   {{7, 9 * 2048 + 5}, true},
        {{20, 10 * 2048}, true}, {{31, 3000}, false}, {{40, 6 * 2048}, false},
    };
    TFaultyDisc disc(64);
    disc.bad = {26, 44};  // the second run of the fifth file, and of the last
    TTempTree dir;
    std::vector<TCopyJob> jobs;
    for (std::size_t i = 0; i < std::size(files); ++i)
        jobs.push_back({files[i].extent, files[i].copied ? dir / ("sub/f" + std::to_string(i)) : ""});
    std::atomic<std::int64_t> progress{0};
    TDiscCopies copies(disc, jobs, nullptr, &progress, 2, kSmall);
    std::int64_t expectedProgress = 0;
    for (std::size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(i);
        const TCopyResult r = copies.take(i);
        if (i == 4 || i == 6) {
            EXPECT_EQ(r.Outcome, TCopyOutcome::Unreadable);
            EXPECT_EQ(r.BadLba, i == 4 ? 26u : 44u);
            EXPECT_TRUE(r.Temporary.empty());
            continue;
        }
        ASSERT_EQ(r.Outcome, TCopyOutcome::Ok);
        const std::string want = disc.bytes(files[i].extent);
        expectedProgress += static_cast<std::int64_t>(want.size());
        EXPECT_EQ(r.Digest, DigestOf(want));
        EXPECT_EQ(r.Temporary.empty(), !files[i].copied);
        if (files[i].copied) {
            EXPECT_EQ(ReadText(r.Temporary), want);
        }
    }
    EXPECT_GE(progress.load(), expectedProgress);
    std::size_t left = 0;  // only the copies handed out (never a half one)
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.root()))
        left += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(left, 3u);
}

TEST(DiscCopiesTest, RunsTheDriveRefusesAreReadInSafeRuns) {
    TFaultyDisc disc(600);
    disc.accepted = kSafeRunSectors;
    const TDiscExtent extent{1, 590 * 2048 - 100};
    TDiscCopies copies(disc, {{extent, ""}}, nullptr, nullptr, 1, TReadLimits{256, 4});
    const TCopyResult r = copies.take(0);
    ASSERT_EQ(r.Outcome, TCopyOutcome::Ok);
    EXPECT_EQ(r.Digest, DigestOf(disc.bytes(extent)));
    // The first long run is refused and read sector by sector; the other 334 sectors go in 11 safe runs.
    EXPECT_EQ(disc.runs.load(), 1u + 11u);
}

TEST(DiscCopiesTest, StopInTheMiddleOfAFileLeavesNoCopy) {
    TFaultyDisc disc(200);
    std::atomic<bool> stop{false};
    disc.stop = &stop;
    disc.stopAfterRuns = 3;
    TTempTree dir;
    TDiscCopies copies(disc, {{{0, 100 * 2048}, dir / "big"}, {{100, 2048}, dir / "next"}}, &stop, nullptr, 2,
                       kSmall);
    EXPECT_EQ(copies.take(0).Outcome, TCopyOutcome::Stopped);
    EXPECT_EQ(copies.take(1).Outcome, TCopyOutcome::Stopped);
    EXPECT_LE(disc.runs.load(), 4u);  // the reader ends at once
    EXPECT_TRUE(std::filesystem::is_empty(dir.root()));
}

// A stop while the last file is read: the restore ends as stopped, leaves no copy and reports nothing.
TEST(DiscCopiesTest, StopDuringTheLastFileOfARestore) {
    TFaultyDisc disc(2100);
    std::atomic<bool> stop{false};
    disc.stop = &stop;
    disc.stopAfterRuns = 6;  // the fifth run of the file: the restore is waiting for it by then
    // The manifest lists the file: a stopped check must not call it missing.
    const std::string manifest = ManifestLine(DigestOf(disc.bytes({0, 2000 * 2048})), "big");
    std::copy(manifest.begin(), manifest.end(), disc.image().begin() + 2050 * 2048);
    TSessionListing listing;
    listing.Entries = {{"/r", true},
                       {"/r/" + std::string(kManifestName), false, 2050, std::uint32_t(manifest.size())},
                       {"/r/big", false, 0, 2000 * 2048}};
    TTempTree dir;
    std::vector<std::string> log;
    for (const bool checkOnly : {false, true}) {
        stop = false;
        disc.runs = 0;
        TRestoreOptions o;
        o.Paths = {"/r"};
        o.TargetDir = dir.path();
        o.CheckOnly = checkOnly;
        o.Stop = &stop;
        o.Log = [&log](const std::string& line) { log.push_back(line); };
        const TRestoreReport r = RestoreFromDisc(disc, listing, o);
        EXPECT_TRUE(r.Stopped);
        EXPECT_EQ(r.Mismatched + r.Unreadable + r.Missing + r.Refused, 0);
    }
    EXPECT_TRUE(log.empty()) << ::testing::PrintToString(log);
    for (const auto& entry : std::filesystem::directory_iterator(dir / "r"))  // the manifest at most
        EXPECT_EQ(entry.path().filename(), kManifestName);
}

}  // namespace
}  // namespace brenwick
