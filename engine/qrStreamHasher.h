// Hashing the recording's stream beside the thread that fills the cache: the cache thread posts each range
// of a listed file's bytes as it lays them into a cache block, and a thread of its own hashes the ranges in
// the order they were posted. Reading and hashing thus overlap instead of running in series on one thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/qrSha256.h"

namespace brenwick {

class TStreamHasher {
  public:
    // `files`: how many digests there are (one per file index); `onHashed` is called on the hasher's
    // thread whenever a range's `pending` count has dropped to zero.
    TStreamHasher(std::size_t files, std::function<void()> onHashed);
    // Stops as Stop does and joins the thread.
    ~TStreamHasher();
    TStreamHasher(const TStreamHasher&) = delete;
    TStreamHasher& operator=(const TStreamHasher&) = delete;

    // Hashes `count` bytes at `bytes` as the next part of file `file`; `last`: the file ends with them,
    // and its digest is taken. `pending` is incremented now and decremented once the bytes are hashed:
    // they must stay in place, unchanged, until then.
    void Post(std::size_t file, const std::uint8_t* bytes, std::size_t count, bool last,
              std::atomic<int>& pending);
    // Waits until every posted range is hashed; false when `abort` was set meanwhile (looked at every
    // `pollMs` milliseconds at least).
    [[nodiscard]] bool WaitIdle(const std::atomic<bool>& abort, int pollMs);
    // Gives file `index` a digest known without hashing here (read whole by a reader, or empty).
    void Set(std::size_t index, const TSha256Digest& digest);
    // The digest of file `index` once its last range is hashed (after WaitIdle) or it was Set; none before.
    std::optional<TSha256Digest> Digest(std::size_t index) const;
    // Drops the ranges not yet begun and waits for the one under way: afterwards no posted bytes are read.
    void Stop();

  private:
    struct TRange {
        std::size_t File = 0;
        const std::uint8_t* Bytes = nullptr;
        std::size_t Count = 0;
        bool Last = false;
        std::atomic<int>* Pending = nullptr;
    };
    void run();
    void hash(const TRange& range);

    const std::function<void()> m_onHashed;
    TSha256 m_hash;  // hasher thread only

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<TRange> m_ranges;                          // guarded by m_lock
    std::vector<std::optional<TSha256Digest>> m_digests;  // guarded by m_lock
    bool m_busy = false;                                  // a range is being hashed; guarded by m_lock
    bool m_stop = false;                                  // guarded by m_lock

    std::thread m_thread;  // last: started when every field above is set
};

}  // namespace brenwick
