// Reading the source files of a recording ahead of the cache thread: while the cache streams one file, a
// few reader threads already open and read the next ones of the same order, so that a tree of many small
// files on a cold disk is read with several requests in flight instead of one file at a time. The bytes
// still enter the cache in the order of the session and are taken from exactly one read of each file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/qrSha256.h"

namespace brenwick {

// Reads up to `count` bytes, going on after partial reads; returns the bytes read before the end of the
// file or a read error, and sets `failed` on a read error.
std::int64_t ReadFully(int fd, std::uint8_t* destination, std::int64_t count, bool& failed);

// How far the readers may run ahead: bytes held in buffers (apart from the cache), files claimed but not
// yet taken (each holds at most one open file), and how much of one file is read into a buffer; the rest
// of a larger file is read by the cache thread from the file left open, with the system's read-ahead.
struct TReadAheadLimits {
    int Readers = 4;
    std::int64_t BufferBytes = 32 << 20;
    int FilesAhead = 64;
    std::int64_t HeadBytes = 1 << 20;
};

// One file as the readers found it. `Bytes` holds its first bytes (the whole file when it fits in the head
// size); when more is to be read, `Fd` is the file, open and positioned after them.
struct TFetchedFile {
    ~TFetchedFile();
    bool Opened = false;    // false: the file could not be opened (or is no longer a regular file)
    bool Failed = false;    // a read error ended `Bytes` early
    bool Grown = false;     // read whole, and the file had more bytes than its recorded size
    bool Complete = false;  // `Bytes` holds the whole recorded size (or all that was there)
    std::vector<std::uint8_t> Bytes;
    int Fd = -1;
    // Asked for and known once the whole recorded size is read (or the file cannot be opened): the digest
    // of the bytes the file will occupy in the stream, `Bytes` then zeros up to the recorded size.
    std::optional<TSha256Digest> Digest;
};

// Opens a source file for reading: only regular files (a path that has become a FIFO or a device since it
// was added would block the reader or stream endless data). -1 when it cannot be opened.
int OpenSourceFile(const std::string& path);

class TReadAhead {
  public:
    struct TFile {
        std::string Path;
        std::int64_t Size = 0;  // 0: not read ahead (the cache handles it itself)
        bool Hash = false;      // the reader hashes what it read whole, beside the cache thread
    };
    TReadAhead(std::vector<TFile> files, TReadAheadLimits limits);
    // Stops the readers (a read under way ends first) and closes every file still open.
    ~TReadAhead();
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    // The file at `index`, taken in increasing order of indexes with a size. Waits until the readers have
    // it; returns nullptr when `abort` was set meanwhile (looked at every `pollMs` milliseconds at least).
    std::unique_ptr<TFetchedFile> Take(std::size_t index, const std::atomic<bool>& abort, int pollMs);

  private:
    struct TSlot {
        std::unique_ptr<TFetchedFile> File;
        std::int64_t Charge = 0;
        bool Claimed = false;
        bool Done = false;
    };
    void reader();
    bool claim(std::size_t& index);
    std::unique_ptr<TFetchedFile> fetch(const TFile& file, TSha256& hash) const;

    const TReadAheadLimits m_limits;
    const std::vector<TFile> m_files;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<TSlot> m_slots;    // guarded by m_lock
    std::size_t m_nextClaim = 0;   // guarded by m_lock
    std::size_t m_nextTake = 0;    // guarded by m_lock
    std::int64_t m_bytesHeld = 0;  // guarded by m_lock
    int m_filesHeld = 0;           // guarded by m_lock
    bool m_stop = false;           // guarded by m_lock

    std::vector<std::thread> m_readers;  // last: started when every field above is set
};

}  // namespace brenwick
