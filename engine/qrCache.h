// The software read-ahead cache of a recording: a thread that streams the session's metadata sectors
// and then every source file, each from a sector boundary, into a bounded queue of blocks that the write
// thread takes one at a time. The layout of the session and the drive are not its business.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/qrTypes.h"
#include "engine/qrReadAhead.h"
#include "engine/qrSha256.h"
#include "engine/qrStreamHasher.h"
#include "engine/qrThreadPriority.h"
#include "engine/qrWriteEnd.h"

namespace brenwick {

inline constexpr int kSectorBytes = 2048;
inline constexpr int kCacheBlockSectors = 31;
inline constexpr int kCacheBlockBytes = kCacheBlockSectors * kSectorBytes;  // 63,488: one WRITE (10)

// One file of the session, in disc order. `Size` is the length recorded in the layout: exactly that many
// bytes are taken, whatever the file's length is now. Empty files hold no sectors; they are listed so that
// one that has grown since is reported.
struct TCacheFile {
    TCacheFile() = default;
    TCacheFile(std::string sourcePath, std::uint32_t size) : SourcePath(std::move(sourcePath)), Size(size) {}

    std::string SourcePath;
    std::uint32_t Size = 0;
    // Listed in the manifest under this name: the bytes sent are hashed as they enter the cache.
    bool Listed = false;
    std::string ManifestName;
    // The manifest itself (no source path; the last file): its lines are made from the hashes.
    bool Manifest = false;
};

// What one recording streams: the metadata sectors (moved in; released once queued), then the files.
struct TCacheInput {
    std::vector<std::uint8_t> Metadata;
    std::vector<TCacheFile> Files;
};

// One block's worth of bytes, as the write thread holds it.
using TCacheBuffer = std::unique_ptr<std::uint8_t[]>;

// Seams of the cache thread: where it logs, how it waits, how it sets its priority and how far its
// readers run ahead.
struct TCacheHooks {
    TLogFn Log;  // unassigned: no log lines
    // Assigned: every wait (for room, for data, for the end) is a call of it, polling as in steps of the
    // given milliseconds. Unassigned: the waits wake on the event they wait for.
    std::function<void(int milliseconds)> Sleep;
    std::function<void(TThreadPriority)> SetPriority;  // unassigned: SetCurrentThreadPriority
    TReadAheadLimits ReadAhead;                        // Readers 0: the cache thread reads each file itself
};

class TCacheThread {
  public:
    // Starts the thread at once. `cacheSize` is the burner's CacheSize in bytes; `bytesToDeliver` the
    // session's size in bytes (ImageSectors x 2048).
    TCacheThread(int cacheSize, TCacheInput input, std::int64_t bytesToDeliver, TCacheHooks hooks = {});
    // Stops the thread (as Abort does) and joins it.
    ~TCacheThread();

    TCacheThread(const TCacheThread&) = delete;
    TCacheThread& operator=(const TCacheThread&) = delete;

    // Called by the write thread only. Copies the oldest block into `destination` (at least
    // kCacheBlockBytes) and returns its byte count; -1 when nothing is queued yet but more will come;
    // 0 when there is no more data: all was delivered, or the cache stopped (ErrorText says why).
    [[nodiscard]] int GetBlock(std::span<std::uint8_t> destination);
    // GetBlock without the copy: the block's bytes are handed over in `buffer` (allocated when empty),
    // whose previous bytes the cache reuses. Same results as GetBlock.
    [[nodiscard]] int TakeBlock(TCacheBuffer& buffer);

    // Asks the thread to stop at its next test; the blocks still queued are released.
    void Abort();

    // Waits up to `milliseconds` until a block is queued, the cache has stopped or an abort was asked
    // (the write thread's wait while GetBlock answers -1; Ready's wait in the burner).
    void WaitForData(int milliseconds);
    void WaitForReady(int milliseconds);

    bool Ready() const { return m_ready.load(); }
    bool Finished() const { return m_finished.load(); }
    std::int64_t BytesInCache() const { return m_bytesInCache.load(); }
    int CacheSize() const { return m_cacheSize; }
    int MaxBlocks() const { return m_maxBlocks; }

    // The text that ends the recording, with its end code; empty (Done) while all is well. The cache
    // thread and the write thread both write it, the user-interface thread reads it.
    std::string ErrorText() const;
    TWriteEnd ErrorEnd() const;
    void SetError(TWriteEnd end, std::string text);
    void ClearError() { SetError(TWriteEnd::Done, {}); }
    // Sets the error only when none is set, so that the first cause of a stop is the one reported.
    void SetErrorIfEmpty(TWriteEnd end, std::string text);

    // Files whose copy is incomplete: unreadable (zeros), shrunk (completed with zeros) or grown (cut to
    // the recorded size). Each was logged once. Written by the cache thread, read by anyone.
    int IncompleteFiles() const { return m_incompleteFiles.load(); }

    // The number of blocks queued now (for tests and the fill display).
    int QueuedBlocks() const { return m_queueLength.load(); }

  private:
    // A file data block owns its bytes; a metadata block shows a part of the metadata stream, which is
    // thus held once (not twice) until its last block has been taken.
    struct TBlock {
        std::unique_ptr<std::uint8_t[]> Data;
        const std::uint8_t* Bytes = nullptr;
        int Count = 0;
        bool LastMetadata = false;
        // Ranges of it still to be hashed: the block is not handed to the write thread before they are.
        std::atomic<int> PendingHash{0};
    };
    enum class TStop { None, Abort };

    int takeBlock(std::uint8_t* destination, std::size_t size, TCacheBuffer* swap);
    // The oldest block, once it is hashed (the queue lock held).
    bool frontReady() const { return !m_queue.empty() && m_queue.front()->PendingHash.load() == 0; }
    std::unique_ptr<TStreamHasher> makeHasher();
    std::unique_ptr<TBlock> newFileBlock();
    void run();
    void queueMetadata();
    [[nodiscard]] TStop waitForRoom(bool lowerPriority);
    [[nodiscard]] TStop queueFiles();
    [[nodiscard]] TStop queueFile(const TCacheFile& file, std::size_t index, bool lastFile);
    void startReaders();
    [[nodiscard]] TStop queueManifest(const TCacheFile& file, bool lastFile);
    [[nodiscard]] std::optional<std::string> manifestText();
    // Streams `file.Size` bytes taken from `read` (which may give fewer: the rest is zeros), each from a
    // sector boundary. `hashAs`: the file index under which the hasher hashes them (none: not hashed here).
    using TReadFn = std::function<std::int64_t(std::uint8_t* at, std::int64_t wanted)>;
    [[nodiscard]] TStop queueBytes(const TCacheFile& file, bool lastFile, const TReadFn& read,
                                   std::optional<std::size_t> hashAs);
    void append(std::unique_ptr<TBlock> block, std::int64_t countedBytes);
    void adjustPriority(int queueLength);
    void setPriority(TThreadPriority priority, bool force = false);
    void stopWithAbort();
    void checkStillEmpty(const std::string& path);
    void reportIncomplete(std::string_view pattern, const std::string& path);
    void drain();
    // One step of a wait of the cache thread: a call of the Sleep seam, or a wait on the queue's changes
    // (the queue lock held in `lock`) until `done` holds or `milliseconds` have passed.
    template <typename TDone>
    void waitStep(std::unique_lock<std::mutex>& lock, int milliseconds, TDone done);
    void notify();
    void notifyData();
    void log(const std::string& text, std::uint8_t mType);

    const int m_cacheSize;
    const int m_maxBlocks;
    const TCacheHooks m_hooks;
    TCacheInput m_input;  // Files: cache thread only; Metadata: guarded by m_queueLock once queued

    std::mutex m_queueLock;
    std::condition_variable m_queueChanged;       // a block taken, Ready, Finished or an abort
    std::condition_variable m_dataChanged;        // a block queued or hashed, Finished or an abort
    std::deque<std::unique_ptr<TBlock>> m_queue;  // guarded by m_queueLock
    std::vector<TCacheBuffer> m_spare;            // buffers given back by TakeBlock; guarded by m_queueLock
    std::atomic<int> m_queueLength{0};            // written under m_queueLock, read without it

    mutable std::mutex m_errorLock;
    std::string m_errorText;                 // guarded by m_errorLock
    TWriteEnd m_errorEnd = TWriteEnd::Done;  // guarded by m_errorLock

    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_finished{false};
    std::atomic<std::int64_t> m_bytesInCache{0};
    std::atomic<int> m_incompleteFiles{0};
    std::atomic<std::int64_t> m_bytesToDeliver;

    // Cache thread only.
    std::unique_ptr<TBlock> m_current;  // the block being filled with file data
    int m_currentRoom = 0;              // bytes of m_current still free
    std::unique_ptr<TReadAhead> m_readAhead;
    std::unique_ptr<TFetchedFile> m_fetched;  // the file being streamed, as the readers found it
    TThreadPriority m_priority = TThreadPriority::BelowNormal;

    // Hashes the listed files' bytes that the cache thread lays into blocks and holds every listed file's
    // digest; none when no file is listed.
    // Started by the owner's thread, so that it keeps the owner's priority while the cache thread lowers
    // its own; declared after the blocks whose bytes it reads, so that it stops before they go.
    std::unique_ptr<TStreamHasher> m_hasher;

    std::thread m_thread;  // last: started when every field above is set
};

}  // namespace brenwick
