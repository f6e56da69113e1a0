// The hasher thread (see qrStreamHasher.h).
#include "engine/qrStreamHasher.h"

#include <chrono>

namespace brenwick {

TStreamHasher::TStreamHasher(std::size_t files, std::function<void()> onHashed)
    : m_onHashed(std::move(onHashed)), m_digests(files), m_thread([this] { run(); }) {}

TStreamHasher::~TStreamHasher() {
    Stop();
    m_thread.join();
}

void TStreamHasher::Post(std::size_t file, const std::uint8_t* bytes, std::size_t count, bool last,
                         std::atomic<int>& pending) {
    ++pending;
    {
        std::lock_guard lock(m_lock);
        m_ranges.push_back({file, bytes, count, last, &pending});
    }
    m_changed.notify_all();
}

bool TStreamHasher::WaitIdle(const std::atomic<bool>& abort, int pollMs) {
    std::unique_lock lock(m_lock);
    while (!m_ranges.empty() || m_busy) {
        if (abort.load() || m_stop) return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(pollMs));
    }
    return !abort.load();
}

void TStreamHasher::Set(std::size_t index, const TSha256Digest& digest) {
    std::lock_guard lock(m_lock);
    if (index < m_digests.size()) m_digests[index] = digest;
}

std::optional<TSha256Digest> TStreamHasher::Digest(std::size_t index) const {
    std::lock_guard lock(m_lock);
    return index < m_digests.size() ? m_digests[index] : std::nullopt;
}

void TStreamHasher::Stop() {
    std::unique_lock lock(m_lock);
    m_stop = true;
    m_ranges.clear();
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_busy; });
}

void TStreamHasher::run() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_ranges.empty(); });
        if (m_stop) return;
        const TRange range = m_ranges.front();
        m_ranges.pop_front();
        m_busy = true;
        lock.unlock();
        hash(range);
        lock.lock();
        m_busy = false;
        m_changed.notify_all();  // WaitIdle and Stop look again
    }
}

void TStreamHasher::hash(const TRange& range) {
    m_hash.Update(range.Bytes, range.Count);
    if (range.Last) {
        Set(range.File, m_hash.Finish());
    }
    if (--*range.Pending == 0 && m_onHashed) m_onHashed();
}

}  // namespace brenwick
