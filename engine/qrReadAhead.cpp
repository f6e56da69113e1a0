// The readers claim files in the session's order, within the limits of bytes and files held, read each
// once (its recorded size, plus one byte to notice growth), and hand it to the cache thread by its index.
#include "engine/qrReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace brenwick {

std::int64_t ReadFully(int fd, std::uint8_t* destination, std::int64_t count, bool& failed) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, destination + done, static_cast<std::size_t>(count - done));
        if (got > 0) {
            done += got;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            failed = got < 0;
            break;
        }
    }
    return done;
}

namespace {

// The digest of `bytes` followed by zeros up to `size` bytes in all.
TSha256Digest digestPadded(TSha256& hash, const std::vector<std::uint8_t>& bytes, std::int64_t size) {
    static const std::uint8_t zeros[65536] = {};
    hash.Update(bytes.data(), bytes.size());
    for (auto left = size - static_cast<std::int64_t>(bytes.size()); left > 0;) {
        const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof zeros));
        hash.Update(zeros, chunk);
        left -= static_cast<std::int64_t>(chunk);
    }
    return hash.Finish();
}

}  // namespace

int OpenSourceFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    // O_NONBLOCK has no effect on the reads of a regular file. Large files are read ahead more eagerly.
    if (info.st_size > (1 << 20)) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint only
    return fd;
}

TFetchedFile::~TFetchedFile() {
    if (Fd >= 0) ::close(Fd);
}

TReadAhead::TReadAhead(std::vector<TFile> files, TReadAheadLimits limits)
    : m_limits(limits), m_files(std::move(files)), m_slots(m_files.size()) {
    const int readers = std::max(1, m_limits.Readers);
    m_readers.reserve(static_cast<std::size_t>(readers));
    for (int i = 0; i < readers; ++i) m_readers.emplace_back([this] { reader(); });
}

TReadAhead::~TReadAhead() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_readers) t.join();
}

// The next file in order, once the files and bytes held leave room for it. The file the cache waits for
// is always claimed before any later one, so the limits can never hold it back for good.
bool TReadAhead::claim(std::size_t& index) {
    std::unique_lock lock(m_lock);
    for (;;) {
        while (m_nextClaim < m_files.size() && m_files[m_nextClaim].Size <= 0) ++m_nextClaim;
        if (m_stop || m_nextClaim >= m_files.size()) return false;
        const std::int64_t charge = std::min(m_files[m_nextClaim].Size + 1, m_limits.HeadBytes);
        const bool room = m_filesHeld < m_limits.FilesAhead && m_bytesHeld + charge <= m_limits.BufferBytes;
        if (room || m_nextClaim == m_nextTake) {
            index = m_nextClaim++;
            m_slots[index].Claimed = true;
            m_slots[index].Charge = charge;
            m_bytesHeld += charge;
            ++m_filesHeld;
            return true;
        }
        m_changed.wait(lock);
    }
}

void TReadAhead::reader() {
    std::size_t index = 0;
    TSha256 hash;
    while (claim(index)) {
        std::unique_ptr<TFetchedFile> fetched = fetch(m_files[index], hash);
        {
            std::lock_guard lock(m_lock);
            m_slots[index].File = std::move(fetched);
            m_slots[index].Done = true;
        }
        m_changed.notify_all();
    }
}

// One read of the file: its recorded size and one byte more when it fits in the head size (the extra
// byte shows a file that has grown), else the head, leaving the file open for the rest.
std::unique_ptr<TFetchedFile> TReadAhead::fetch(const TFile& file, TSha256& hash) const {
    auto fetched = std::make_unique<TFetchedFile>();
    const int fd = OpenSourceFile(file.Path);
    if (fd < 0) {
        if (file.Hash) fetched->Digest = digestPadded(hash, fetched->Bytes, file.Size);
        return fetched;
    }
    fetched->Opened = true;
    const bool whole = file.Size < m_limits.HeadBytes;
    const std::int64_t wanted = whole ? file.Size + 1 : m_limits.HeadBytes;
    fetched->Bytes.resize(static_cast<std::size_t>(wanted));
    const std::int64_t got = ReadFully(fd, fetched->Bytes.data(), wanted, fetched->Failed);
    fetched->Bytes.resize(static_cast<std::size_t>(std::min(got, file.Size)));
    if (whole || got < wanted) {
        fetched->Complete = true;
        fetched->Grown = got > file.Size;
        ::close(fd);
        if (file.Hash) fetched->Digest = digestPadded(hash, fetched->Bytes, file.Size);
    } else {
        fetched->Fd = fd;
    }
    return fetched;
}

std::unique_ptr<TFetchedFile> TReadAhead::Take(std::size_t index, const std::atomic<bool>& abort,
                                               int pollMs) {
    std::unique_lock lock(m_lock);
    if (index >= m_slots.size()) return nullptr;
    m_nextTake = index;
    m_changed.notify_all();  // a reader held back by the limits may claim this file now
    while (!m_slots[index].Done) {
        if (abort.load()) return nullptr;
        m_changed.wait_for(lock, std::chrono::milliseconds(pollMs));
    }
    TSlot& slot = m_slots[index];
    m_bytesHeld -= slot.Charge;
    --m_filesHeld;
    m_nextTake = index + 1;
    std::unique_ptr<TFetchedFile> file = std::move(slot.File);
    lock.unlock();
    m_changed.notify_all();
    return file;
}

}  // namespace brenwick
