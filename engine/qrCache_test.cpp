// The cache thread streams metadata then files, sector-aligned with zero padding, into a bounded queue.
#include "engine/qrCache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "base/testing/TTempTree.h"
#include "engine/qrEngineMessages.h"

namespace brenwick {
namespace {

using testing::TTempTree;

constexpr int kSmallestCache = 2097152;

std::int64_t sectorsOf(std::int64_t bytes) {
    return (bytes + 2047) / 2048;
}

std::vector<std::uint8_t> metadataOf(int sectors) {
    return TTempTree::Pattern(sectors * kSectorBytes, 99);
}

// Sleeps that cost next to nothing, so that the tests do not wait in real time.
TCacheHooks quickHooks() {
    TCacheHooks hooks;
    hooks.Sleep = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
    hooks.SetPriority = [](TThreadPriority) {};
    return hooks;
}

// The ways of reading the sources: the cache thread alone, the usual readers, and readers held to one
// file and a few kilobytes ahead with a small head (larger files read on from the file left open).
struct TReadAheadCase {
    const char* name;
    TReadAheadLimits limits;
};
const std::vector<TReadAheadCase> kReadAheadCases = {
    {"without readers", {0, 32 << 20, 64, 1 << 20}},
    {"usual readers", {}},
    {"readers held back", {2, 8192, 1, 4096}},
};

struct TDrained {
    std::vector<std::uint8_t> stream;
    std::vector<int> blocks;
};

// Takes every block, alternating between the copying GetBlock and the exchanging TakeBlock.
TDrained drain(TCacheThread& cache) {
    TDrained out;
    std::vector<std::uint8_t> copy(kCacheBlockBytes);
    TCacheBuffer exchanged;
    for (bool byCopy = true;; byCopy = !byCopy) {
        const int got = byCopy ? cache.GetBlock(copy) : cache.TakeBlock(exchanged);
        const std::uint8_t* bytes = byCopy ? copy.data() : exchanged.get();
        if (got == 0) return out;
        if (got < 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        out.blocks.push_back(got);
        out.stream.insert(out.stream.end(), bytes, bytes + got);
    }
}

template <typename Predicate>
bool eventually(Predicate predicate) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Several file mixes: the stream is the metadata, then each file padded with zeros to whole sectors,
// in blocks of at most 31 sectors; empty files and entries without a source contribute nothing.
TEST(CacheThread, StreamsMetadataThenSectorAlignedFilesWithZeroPadding) {
    struct TCase {
        const char* name;
        int metadataSectors;
        std::vector<std::uint32_t> sizes;  // 0: an empty file
        std::vector<int> blocks;           // expected byte counts of the blocks
    };
    const std::vector<TCase> cases = {
        {"image without files", 26, {}, {26 * 2048}},
        {"metadata of more than one block", 40, {}, {63488, 9 * 2048}},
        {"one byte file", 26, {1}, {26 * 2048, 2048}},
        {"a 63,488-byte file fills one block", 26, {63488}, {26 * 2048, 63488}},
        {"two 1000-byte files in consecutive sectors", 26, {1000, 1000}, {26 * 2048, 4096}},
        {"empty files produce nothing", 26, {0, 5, 0}, {26 * 2048, 2048}},
        {"file spanning blocks", 26, {63488 + 1, 2049}, {26 * 2048, 63488, 3 * 2048}},
        {"files filling a block exactly", 22, {29 * 2048 + 7, 1}, {22 * 2048, 63488}},
        {"a file ending a block, the next starting one", 22, {30 * 2048 + 7, 1}, {22 * 2048, 63488, 2048}},
        {"larger file",
         26,
         {1000000, 3},
         {26 * 2048, 63488, 63488, 63488, 63488, 63488, 63488, 63488, 63488, 63488, 63488, 63488, 63488,
          63488, 63488, 63488, (489 - 465 + 1) * 2048}},
    };
    for (const auto& [how, limits] : kReadAheadCases)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(how) + ": " + c.name);
            TTempTree tree;
            TCacheInput input;
            input.Metadata = metadataOf(c.metadataSectors);
            std::vector<std::uint8_t> expected = input.Metadata;
            for (std::size_t i = 0; i < c.sizes.size(); ++i) {
                const auto path = tree.writePattern(std::string("f").append(std::to_string(i)), c.sizes[i],
                                                    unsigned(i + 1));
                input.Files.push_back({path, c.sizes[i]});
                const auto bytes = TTempTree::Pattern(c.sizes[i], unsigned(i + 1));
                expected.insert(expected.end(), bytes.begin(), bytes.end());
                expected.resize(expected.size() + (sectorsOf(c.sizes[i]) * 2048 - c.sizes[i]), 0);
            }
            input.Files.push_back({"", 100});  // an imported entry: no source, no data
            const auto total = static_cast<std::int64_t>(expected.size());
            TCacheHooks hooks = quickHooks();
            hooks.ReadAhead = limits;
            TCacheThread cache(4194304, std::move(input), total, hooks);
            const TDrained got = drain(cache);
            EXPECT_EQ(got.stream, expected);
            EXPECT_EQ(got.blocks, c.blocks);
            EXPECT_TRUE(eventually([&] { return cache.Finished(); }));
            EXPECT_TRUE(cache.Ready());
            EXPECT_EQ(cache.ErrorText(), "");
            EXPECT_EQ(cache.BytesInCache(), 0);
        }
}

// Files changed since they were added keep their sectors, so every later file stays in place: the part a
// shrunk file no longer has is zeros, a grown file gives only its recorded size, an unreadable one (gone,
// a FIFO now, a folder now) is all zeros. Each is logged once and counted; the cache ends normally.
TEST(CacheThread, ChangedAndUnreadableFilesAreCompletedWithZerosAndCounted) {
    for (const auto& [how, limits] : kReadAheadCases) {
        SCOPED_TRACE(how);
        TTempTree tree;
        const auto shrunk = tree.writePattern("shrunk", 3000, 1);
        const auto grown = tree.writePattern("grown", 9000, 2);
        const auto grownEmpty = tree.writePattern("was-empty", 10, 3);
        const auto fifo = (tree.root() / "pipe").string();
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const auto gone = (tree.root() / "gone").string();
        const auto folder = tree.root().string();
        const auto good = tree.writePattern("good", 100, 4);
        std::vector<std::pair<std::string, std::uint8_t>> lines;
        std::mutex linesLock;
        TCacheHooks hooks = quickHooks();
        hooks.ReadAhead = limits;
        hooks.Log = [&](const std::string& text, std::uint8_t mType) {
            std::lock_guard lock(linesLock);
            lines.emplace_back(text, mType);
        };
        TCacheInput input;
        input.Files = {{shrunk, 70000}, {grown, 5000}, {grownEmpty, 0}, {gone, 100},
                       {fifo, 100},     {folder, 100}, {good, 100}};
        const std::int64_t s1 = sectorsOf(70000), s2 = sectorsOf(5000);
        std::vector<std::uint8_t> expected = TTempTree::Pattern(3000, 1);
        expected.resize(s1 * 2048, 0);
        const auto grownBytes = TTempTree::Pattern(5000, 2);
        expected.insert(expected.end(), grownBytes.begin(), grownBytes.end());
        expected.resize((s1 + s2 + 3) * 2048, 0);
        const auto goodBytes = TTempTree::Pattern(100, 4);
        expected.insert(expected.end(), goodBytes.begin(), goodBytes.end());
        expected.resize((s1 + s2 + 4) * 2048, 0);
        // Every file is listed: the manifest, streamed last, holds the digests of the bytes sent.
        const std::vector<std::pair<std::int64_t, std::int64_t>> extents = {{0, 70000},
                                                                            {s1 * 2048, 5000},
                                                                            {0, 0},
                                                                            {(s1 + s2) * 2048, 100},
                                                                            {(s1 + s2 + 1) * 2048, 100},
                                                                            {(s1 + s2 + 2) * 2048, 100},
                                                                            {(s1 + s2 + 3) * 2048, 100}};
        std::string manifest;
        TSha256 sha;
        for (std::size_t i = 0; i < input.Files.size(); ++i) {
            input.Files[i].Listed = true;
            input.Files[i].ManifestName = "f" + std::to_string(i);
            sha.Update(expected.data() + extents[i].first, static_cast<std::size_t>(extents[i].second));
            manifest += ManifestLine(sha.Finish(), input.Files[i].ManifestName);
        }
        TCacheFile manifestFile;
        manifestFile.Manifest = true;
        manifestFile.Size = static_cast<std::uint32_t>(manifest.size());
        input.Files.push_back(manifestFile);
        expected.insert(expected.end(), manifest.begin(), manifest.end());
        expected.resize(expected.size() + sectorsOf(manifest.size()) * 2048 - manifest.size(), 0);
        const auto total = static_cast<std::int64_t>(expected.size());
        TCacheThread cache(4194304, std::move(input), total, hooks);
        const TDrained got = drain(cache);

        EXPECT_EQ(got.stream, expected);
        EXPECT_EQ(cache.ErrorText(), "");
        EXPECT_EQ(cache.IncompleteFiles(), 6);
        const auto changed = [](const std::string& path) {
            return ">>> FILE \"" + path + "\" CHANGED DURING BACKUP, ITS COPY IS INCOMPLETE";
        };
        const auto unreadable = [](const std::string& path) {
            return ">>> FILE \"" + path + "\" COULD NOT BE READ, ITS COPY HOLDS ZEROS";
        };
        const std::vector<std::pair<std::string, std::uint8_t>> expectedLines = {
            {changed(shrunk), 0},  {changed(grown), 0},   {changed(grownEmpty), 0},
            {unreadable(gone), 0}, {unreadable(fifo), 0}, {unreadable(folder), 0}};
        EXPECT_EQ(lines, expectedLines);
    }
}

// A sleep hook that holds the cache thread in its waits until the test opens the gate.
class TGate {
  public:
    void sleep() {
        std::unique_lock lock(m_lock);
        ++m_sleeps;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    void open() {
        std::lock_guard lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    void waitForSleep() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_sleeps > 0; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_sleeps = 0;
    bool m_open = false;
};

// The smallest cache waits as soon as 31 blocks are queued (MaxBlocks 32), at idle priority, and a
// metadata area larger than the cache is queued whole before the first wait.
TEST(CacheThread, QueueCapacityAndMetadataLargerThanCache) {
    struct TCase {
        const char* name;
        int metadataSectors;
        std::uint32_t fileSize;
        int queuedAtWait;
    };
    const std::vector<TCase> cases = {
        {"file data fill the smallest cache", 26, 8u << 20, 31},
        {"metadata larger than the cache", 31 * 100, 100, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTempTree tree;
        TGate gate;
        std::vector<TThreadPriority> priorities;
        std::mutex priorityLock;
        TCacheHooks hooks;
        hooks.Sleep = [&](int) { gate.sleep(); };
        hooks.SetPriority = [&](TThreadPriority p) {
            std::lock_guard lock(priorityLock);
            priorities.push_back(p);
        };
        TCacheInput input;
        input.Metadata = metadataOf(c.metadataSectors);
        input.Files = {{tree.writePattern("big", c.fileSize, 3), c.fileSize}};
        const std::int64_t total = (c.metadataSectors + sectorsOf(c.fileSize)) * 2048;
        TCacheThread cache(kSmallestCache, std::move(input), total, hooks);
        gate.waitForSleep();
        EXPECT_EQ(cache.MaxBlocks(), 32);
        EXPECT_TRUE(cache.Ready());
        EXPECT_EQ(cache.QueuedBlocks(), c.queuedAtWait);
        if (c.fileSize > 1000) {
            std::lock_guard lock(priorityLock);
            ASSERT_FALSE(priorities.empty());
            EXPECT_EQ(priorities.front(), TThreadPriority::BelowNormal);
            EXPECT_EQ(priorities.back(), TThreadPriority::Idle);
        }
        gate.open();
        const TDrained got = drain(cache);
        EXPECT_EQ(static_cast<std::int64_t>(got.stream.size()), total);
        EXPECT_EQ(cache.ErrorText(), "");
    }
}

// The readers stay within their limits: held to one file ahead while the cache thread waits for room,
// they have not reached the later files, which are taken as they are when reached (one removed holds
// zeros, one grown is cut and reported); the stream keeps its order and length.
TEST(CacheThread, ReadersReachFilesOnlyWithinTheirLimits) {
    TTempTree tree;
    const auto first = tree.writePattern("first", 5000, 1);
    const auto removed = tree.writePattern("removed", 5000, 2);
    const auto grown = tree.writePattern("grown", 5000, 3);
    TGate gate;
    TCacheHooks hooks = quickHooks();
    hooks.Sleep = [&](int) { gate.sleep(); };
    hooks.ReadAhead = {4, 1 << 20, 1, 1 << 20};
    int incomplete = 0;
    hooks.Log = [&](const std::string&, std::uint8_t) { ++incomplete; };  // cache thread only
    TCacheInput input;
    input.Metadata = metadataOf(31 * 31);  // the first wait of the smallest cache
    input.Files = {{first, 5000}, {removed, 5000}, {grown, 5000}};
    const std::int64_t total = (31 * 31 + 9) * 2048;
    TCacheThread cache(kSmallestCache, std::move(input), total, hooks);
    gate.waitForSleep();
    std::filesystem::remove(removed);
    tree.writePattern("grown", 6000, 3);
    gate.open();
    const TDrained got = drain(cache);
    ASSERT_TRUE(eventually([&] { return cache.Finished(); }));  // its last lines are logged
    ASSERT_EQ(static_cast<std::int64_t>(got.stream.size()), total);
    const auto fileAt = [&](int index) {
        const auto at = got.stream.begin() + (31 * 31 + 3 * index) * 2048;
        return std::vector<std::uint8_t>(at, at + 5000);
    };
    EXPECT_EQ(fileAt(0), TTempTree::Pattern(5000, 1));
    EXPECT_EQ(fileAt(1), std::vector<std::uint8_t>(5000, 0));
    EXPECT_EQ(fileAt(2), TTempTree::Pattern(5000, 3));
    EXPECT_EQ(cache.IncompleteFiles(), 2);
    EXPECT_EQ(incomplete, 2);
}

// GetBlock answers -1 while the queue is empty and more data will come, and 0 once all was delivered.
TEST(CacheThread, GetBlockMinusOneUntilFinishedThenZero) {
    TTempTree tree;
    TGate gate;
    TCacheHooks hooks = quickHooks();
    hooks.Sleep = [&](int) { gate.sleep(); };
    TCacheInput input;
    input.Metadata = metadataOf(31 * 31);  // 31 blocks: the first wait of the smallest cache
    input.Files = {{tree.writePattern("f", 5000, 1), 5000}};
    TCacheThread cache(kSmallestCache, std::move(input), (31 * 31 + 3) * 2048, hooks);
    gate.waitForSleep();
    std::vector<std::uint8_t> buffer(kCacheBlockBytes);
    for (int i = 0; i < 31; ++i) ASSERT_EQ(cache.GetBlock(buffer), kCacheBlockBytes);
    EXPECT_EQ(cache.GetBlock(buffer), -1);  // the file is still to come
    EXPECT_EQ(cache.GetBlock(buffer), -1);
    gate.open();
    int got = -1;
    ASSERT_TRUE(eventually([&] { return (got = cache.GetBlock(buffer)) != -1; }));
    EXPECT_EQ(got, 3 * 2048);
    EXPECT_EQ(cache.GetBlock(buffer), 0);
    EXPECT_TRUE(eventually([&] { return cache.Finished(); }));
    EXPECT_EQ(cache.GetBlock(buffer), 0);
    EXPECT_EQ(cache.ErrorText(), "");
}

// An abort releases the queued blocks (some not yet hashed) and ends the cache; a text already set (by the write thread)
// stays the reported cause.
TEST(CacheThread, AbortEmptiesQueueAndKeepsFirstError) {
    TCacheHooks woken;  // no Sleep seam: the waits wake on the event
    woken.SetPriority = [](TThreadPriority) {};
    for (const TCacheHooks& hooks : {quickHooks(), woken})
        for (const std::string earlier : {"", "WRITER ERROR"}) {
            SCOPED_TRACE(earlier + (hooks.Sleep ? " (polling)" : " (woken)"));
            TTempTree tree;
            TCacheInput input;
            input.Metadata = metadataOf(26);
            input.Files = {{tree.writePattern("big", 8u << 20, 3), 8u << 20}};
            input.Files[0].Listed = true;  // the hasher is reading blocks as they go
            TCacheThread cache(kSmallestCache, std::move(input), (26 + 4096) * 2048, hooks);
            ASSERT_TRUE(eventually([&] { return cache.Ready(); }));
            if (!earlier.empty()) cache.SetError(TWriteEnd::WriterError, earlier);
            cache.Abort();
            ASSERT_TRUE(eventually([&] { return cache.Finished(); }));
            std::vector<std::uint8_t> buffer(kCacheBlockBytes);
            EXPECT_EQ(cache.GetBlock(buffer), 0);
            EXPECT_EQ(cache.QueuedBlocks(), 0);
            EXPECT_EQ(cache.BytesInCache(), 0);
            EXPECT_EQ(cache.ErrorText(), earlier.empty() ? "OPERATION ABORTED BY USER" : earlier);
        }
}

// Destroying a cache whose queue is full and never read ends its thread (no hang, no leak).
TEST(CacheThread, DestructionStopsAWaitingThread) {
    TTempTree tree;
    TCacheInput input;
    input.Files = {{tree.writePattern("big", 8u << 20, 3), 8u << 20}};
    input.Files[0].Listed = true;
    auto cache = std::make_unique<TCacheThread>(kSmallestCache, std::move(input), 4096 * 2048, quickHooks());
    ASSERT_TRUE(eventually([&] { return cache->Ready(); }));
    cache.reset();
    SUCCEED();
}

}  // namespace
}  // namespace brenwick
