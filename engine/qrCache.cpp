// The cache thread: metadata first, then the files in disc order, each from a sector boundary, into a
// bounded queue; the write thread takes the blocks with GetBlock.
#include "engine/qrCache.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "engine/qrEngineMessages.h"

namespace brenwick {

namespace {

// Bytes that `bytes` occupy when rounded up to whole sectors.
std::int64_t sectorBytesOf(std::int64_t bytes) {
    return (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

// True when the file still has bytes after the part that was taken: it has grown since it was added.
bool hasMore(int fd) {
    std::uint8_t byte = 0;
    bool failed = false;
    return ReadFully(fd, &byte, 1, failed) == 1;
}

// A wait without the Sleep seam is also cut short after this long: the events it waits for are
// signalled, so this is only a bound.
constexpr int kWaitBoundMs = 100;
// How often a wait for the readers looks at the abort flag.
constexpr int kAbortPollMs = 20;

}  // namespace

TCacheThread::TCacheThread(int cacheSize, TCacheInput input, std::int64_t bytesToDeliver, TCacheHooks hooks)
    : m_cacheSize(cacheSize),
      m_maxBlocks(cacheSize / 65536),
      m_hooks(std::move(hooks)),
      m_input(std::move(input)),
      m_bytesToDeliver(bytesToDeliver),
      m_hasher(makeHasher()),
      m_thread([this] { run(); }) {}

std::unique_ptr<TStreamHasher> TCacheThread::makeHasher() {
    const auto listed = [](const TCacheFile& file) { return file.Listed; };
    if (std::none_of(m_input.Files.begin(), m_input.Files.end(), listed)) return nullptr;
    return std::make_unique<TStreamHasher>(m_input.Files.size(), [this] { notifyData(); });
}

TCacheThread::~TCacheThread() {
    Abort();
    if (m_thread.joinable()) m_thread.join();
}

void TCacheThread::Abort() {
    m_abort = true;
    notify();
}

void TCacheThread::notify() {
    { std::lock_guard lock(m_queueLock); }  // a waiter between its test and its wait sees the change
    m_queueChanged.notify_all();
    m_dataChanged.notify_all();
}

// Only the write thread waits for data: the cache thread's waits for room are not woken by it.
void TCacheThread::notifyData() {
    { std::lock_guard lock(m_queueLock); }
    m_dataChanged.notify_all();
}

void TCacheThread::WaitForData(int milliseconds) {
    std::unique_lock lock(m_queueLock);
    m_dataChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
        return frontReady() || m_finished.load() || m_abort.load() || m_bytesToDeliver.load() <= 0;
    });
}

void TCacheThread::WaitForReady(int milliseconds) {
    std::unique_lock lock(m_queueLock);
    m_queueChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_ready.load() || m_finished.load(); });
}

template <typename TDone>
void TCacheThread::waitStep(std::unique_lock<std::mutex>& lock, int milliseconds, TDone done) {
    if (m_hooks.Sleep) {
        lock.unlock();
        m_hooks.Sleep(milliseconds);
        lock.lock();
    } else {
        m_queueChanged.wait_for(lock, std::chrono::milliseconds(kWaitBoundMs), done);
    }
}

std::string TCacheThread::ErrorText() const {
    std::lock_guard lock(m_errorLock);
    return m_errorText;
}

TWriteEnd TCacheThread::ErrorEnd() const {
    std::lock_guard lock(m_errorLock);
    return m_errorEnd;
}

void TCacheThread::SetError(TWriteEnd end, std::string text) {
    std::lock_guard lock(m_errorLock);
    m_errorText = std::move(text);
    m_errorEnd = end;
}

void TCacheThread::SetErrorIfEmpty(TWriteEnd end, std::string text) {
    std::lock_guard lock(m_errorLock);
    if (!m_errorText.empty()) return;
    m_errorText = std::move(text);
    m_errorEnd = end;
}

int TCacheThread::GetBlock(std::span<std::uint8_t> destination) {
    return takeBlock(destination.data(), destination.size(), nullptr);
}

int TCacheThread::TakeBlock(TCacheBuffer& buffer) {
    if (!buffer) buffer.reset(new std::uint8_t[kCacheBlockBytes]);
    return takeBlock(buffer.get(), kCacheBlockBytes, &buffer);
}

// The oldest block goes to the caller: copied into `destination`, or, when `swap` is given and the block
// owns its bytes, handed over whole in exchange for the caller's buffer, which the cache fills again.
int TCacheThread::takeBlock(std::uint8_t* destination, std::size_t size, TCacheBuffer* swap) {
    // Everything delivered means no more data, even before the cache thread has noticed it.
    if (m_queueLength.load() <= 0) return m_finished.load() || m_bytesToDeliver.load() <= 0 ? 0 : -1;
    std::lock_guard lock(m_queueLock);
    if (m_abort.load()) return 0;
    if (m_queue.empty()) return m_finished.load() ? 0 : -1;
    if (!frontReady()) return -1;  // the hasher has not passed it yet
    TBlock& block = *m_queue.front();
    const int count = block.Count;
    if (count <= 0 || count > kCacheBlockBytes || count % kSectorBytes != 0 ||
        size < static_cast<std::size_t>(count)) {
        SetErrorIfEmpty(TWriteEnd::WriterError, std::string(kMsgInternalError2));
        m_finished = true;
        m_dataChanged.notify_all();
        m_queueChanged.notify_all();
        return 0;
    }
    if (swap != nullptr && block.Data) {
        swap->swap(block.Data);
        m_spare.push_back(std::move(block.Data));
    } else {
        std::memcpy(destination, block.Bytes, static_cast<std::size_t>(count));
    }
    if (block.LastMetadata) std::vector<std::uint8_t>().swap(m_input.Metadata);
    m_queue.pop_front();
    m_queueLength = static_cast<int>(m_queue.size());
    m_bytesInCache -= count;
    m_bytesToDeliver -= count;
    m_queueChanged.notify_all();  // room for the cache thread
    return count;
}

// A block for file data, in a buffer the write thread gave back when there is one.
std::unique_ptr<TCacheThread::TBlock> TCacheThread::newFileBlock() {
    auto block = std::make_unique<TBlock>();
    {
        std::lock_guard lock(m_queueLock);
        if (!m_spare.empty()) {
            block->Data = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!block->Data) block->Data.reset(new std::uint8_t[kCacheBlockBytes]);
    block->Bytes = block->Data.get();
    return block;
}

void TCacheThread::run() {
    setPriority(TThreadPriority::BelowNormal, true);
    startReaders();
    queueMetadata();
    if (waitForRoom(false) == TStop::Abort) return stopWithAbort();
    if (queueFiles() == TStop::Abort) return stopWithAbort();
    // Tail: a block still being filled goes into the queue as it is (its bytes are counted already).
    if (m_current && m_currentRoom < kCacheBlockBytes) {
        m_current->Count = kCacheBlockBytes - m_currentRoom;
        append(std::move(m_current), 0);
    }
    m_ready = true;
    notify();
    drain();
    m_finished = true;
    notify();
}

// The readers start with the thread, so that the first files are read while the metadata is queued.
void TCacheThread::startReaders() {
    if (m_hooks.ReadAhead.Readers <= 0) return;
    std::vector<TReadAhead::TFile> files;
    files.reserve(m_input.Files.size());
    for (const TCacheFile& file : m_input.Files) {
        const bool read = !file.Manifest && !file.SourcePath.empty() && file.Size > 0;
        files.push_back({file.SourcePath, read ? static_cast<std::int64_t>(file.Size) : 0, file.Listed});
    }
    m_readAhead = std::make_unique<TReadAhead>(std::move(files), m_hooks.ReadAhead);
}

// Phase 1: the whole metadata area, whatever its size, in blocks of up to 31 sectors. The stream has been
// handed over whole; it is released when its last block has been taken.
void TCacheThread::queueMetadata() {
    // Read once: GetBlock may release the stream as soon as its last block is queued.
    const std::uint8_t* const bytes = m_input.Metadata.data();
    const std::size_t size = m_input.Metadata.size();
    for (std::size_t at = 0; at < size;) {
        auto block = std::make_unique<TBlock>();
        const std::size_t count = std::min<std::size_t>(size - at, kCacheBlockBytes);
        block->Bytes = bytes + at;
        block->Count = static_cast<int>(count);
        at += count;
        block->LastMetadata = at == size;
        append(std::move(block), static_cast<std::int64_t>(count));
    }
}

// Waits while the queue holds MaxBlocks - 1 blocks or more. Reaching it once makes the cache Ready.
TCacheThread::TStop TCacheThread::waitForRoom(bool lowerPriority) {
    if (m_queueLength.load() < m_maxBlocks - 1) return TStop::None;
    if (lowerPriority) setPriority(TThreadPriority::Idle);
    if (!m_ready.load()) {
        m_ready = true;
        notify();
    }
    std::unique_lock lock(m_queueLock);
    while (static_cast<int>(m_queue.size()) >= m_maxBlocks - 1) {
        waitStep(lock, 1,
                 [this] { return static_cast<int>(m_queue.size()) < m_maxBlocks - 1 || m_abort.load(); });
        if (m_abort.load()) return TStop::Abort;
    }
    return TStop::None;
}

TCacheThread::TStop TCacheThread::queueFiles() {
    const std::vector<TCacheFile>& files = m_input.Files;
    const TSha256Digest emptyDigest = TSha256().Finish();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool lastFile = i + 1 == files.size();
        if (files[i].Manifest) {
            if (queueManifest(files[i], lastFile) == TStop::Abort) return TStop::Abort;
            continue;
        }
        if (files[i].SourcePath.empty()) continue;
        if (files[i].Size == 0) {
            checkStillEmpty(files[i].SourcePath);
            if (files[i].Listed) m_hasher->Set(i, emptyDigest);
            continue;
        }
        const TStop stop = queueFile(files[i], i, lastFile);
        m_fetched.reset();
        if (stop != TStop::None) return stop;
    }
    m_readAhead.reset();
    return TStop::None;
}

// Streams one file: exactly Size bytes, the rest of its last sector zero. The session keeps the layout it
// was given whatever happened to the file since it was added, so that every later file stays in place: a
// file that cannot be read holds zeros, one that now yields fewer bytes is completed with zeros, and one
// that has grown is cut to its recorded size. Each such file is logged and counted as an incomplete copy.
TCacheThread::TStop TCacheThread::queueFile(const TCacheFile& file, std::size_t index, bool lastFile) {
    if (m_readAhead) {
        m_fetched = m_readAhead->Take(index, m_abort, kAbortPollMs);
        if (!m_fetched) return TStop::Abort;
    } else {
        m_fetched = std::make_unique<TFetchedFile>();
        m_fetched->Fd = OpenSourceFile(file.SourcePath);
        m_fetched->Opened = m_fetched->Fd >= 0;
    }
    const TFetchedFile& fetched = *m_fetched;
    bool incomplete = !fetched.Opened;
    if (incomplete) reportIncomplete(kMsgFileUnreadable, file.SourcePath);
    std::size_t taken = 0;  // of the bytes the readers hold
    const auto read = [&](std::uint8_t* at, std::int64_t wanted) -> std::int64_t {
        if (incomplete) return 0;
        const std::size_t held =
            std::min<std::size_t>(static_cast<std::size_t>(wanted), fetched.Bytes.size() - taken);
        if (held > 0) std::memcpy(at, fetched.Bytes.data() + taken, held);
        taken += held;
        auto got = static_cast<std::int64_t>(held);
        bool failed = fetched.Failed;
        if (got < wanted && !fetched.Complete) {
            failed = false;
            got += ReadFully(fetched.Fd, at + got, wanted - got, failed);
        }
        if (got < wanted) {
            incomplete = true;
            reportIncomplete(failed ? kMsgFileUnreadable : kMsgFileChanged, file.SourcePath);
        }
        return got;
    };
    if (file.Listed && fetched.Digest) m_hasher->Set(index, *fetched.Digest);
    const bool hash = file.Listed && !fetched.Digest;
    if (queueBytes(file, lastFile, read, hash ? std::optional(index) : std::nullopt) == TStop::Abort)
        return TStop::Abort;
    const bool grown = !incomplete && (fetched.Complete ? fetched.Grown : hasMore(fetched.Fd));
    if (grown) reportIncomplete(kMsgFileChanged, file.SourcePath);
    return TStop::None;
}

// The manifest: the lines of every listed file, all streamed before it. Its size was fixed by the layout
// from the same names; a text of another size would shift nothing but be wrong, so it ends the recording.
TCacheThread::TStop TCacheThread::queueManifest(const TCacheFile& file, bool lastFile) {
    const std::optional<std::string> text = manifestText();
    if (!text) return TStop::Abort;
    if (text->size() != file.Size) {
        SetErrorIfEmpty(TWriteEnd::WriterError, std::string(kMsgInternalError2));
        return TStop::Abort;
    }
    std::size_t taken = 0;
    const auto read = [&](std::uint8_t* at, std::int64_t wanted) -> std::int64_t {
        std::memcpy(at, text->data() + taken, static_cast<std::size_t>(wanted));
        taken += static_cast<std::size_t>(wanted);
        return wanted;
    };
    return queueBytes(file, lastFile, read, std::nullopt);
}

// The lines of every listed file streamed before the manifest, in their order, once the hasher is done;
// none when the recording stops meanwhile.
std::optional<std::string> TCacheThread::manifestText() {
    if (m_hasher && !m_hasher->WaitIdle(m_abort, kAbortPollMs)) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i < m_input.Files.size(); ++i) {
        const TCacheFile& listed = m_input.Files[i];
        if (!listed.Listed) continue;
        const std::optional<TSha256Digest> digest = m_hasher->Digest(i);
        if (!digest) {
            SetErrorIfEmpty(TWriteEnd::WriterError, std::string(kMsgInternalError2));
            return std::nullopt;
        }
        text += ManifestLine(*digest, listed.ManifestName);
    }
    return text;
}

TCacheThread::TStop TCacheThread::queueBytes(const TCacheFile& file, bool lastFile, const TReadFn& read,
                                             std::optional<std::size_t> hashAs) {
    std::int64_t amountLeft = file.Size;
    while (amountLeft > 0) {
        if (m_currentRoom == 0) {
            m_current = newFileBlock();
            m_currentRoom = kCacheBlockBytes;
        }
        const int fill = kCacheBlockBytes - m_currentRoom;
        const std::int64_t wanted = std::min<std::int64_t>(amountLeft, m_currentRoom);
        std::uint8_t* at = m_current->Data.get() + fill;
        const std::int64_t got = read(at, wanted);
        const std::int64_t padded = sectorBytesOf(wanted);
        std::memset(at + got, 0, static_cast<std::size_t>(padded - got));
        amountLeft -= wanted;
        // The bytes as they will be sent, zeros of an unreadable part included.
        if (hashAs)
            m_hasher->Post(*hashAs, at, static_cast<std::size_t>(wanted), amountLeft == 0,
                           m_current->PendingHash);
        m_currentRoom -= static_cast<int>(padded);
        if (m_abort.load()) return TStop::Abort;

        const bool appendNow = m_currentRoom == 0 || (lastFile && amountLeft == 0);
        int length = 0;
        {
            std::lock_guard lock(m_queueLock);
            if (appendNow) {
                m_current->Count = kCacheBlockBytes - m_currentRoom;
                m_queue.push_back(std::move(m_current));
                m_queueLength = static_cast<int>(m_queue.size());
                m_currentRoom = 0;
            }
            length = m_queueLength.load();
            m_bytesInCache += padded;
        }
        if (appendNow) m_dataChanged.notify_all();
        adjustPriority(length);
        if (waitForRoom(true) == TStop::Abort) return TStop::Abort;
    }
    return TStop::None;
}

// An empty file has no sectors; one that has grown since it was added is an incomplete copy all the same.
void TCacheThread::checkStillEmpty(const std::string& path) {
    const int fd = OpenSourceFile(path);
    if (fd < 0) return;  // nothing of it was to be copied, so nothing is missing
    if (hasMore(fd)) reportIncomplete(kMsgFileChanged, path);
    ::close(fd);
}

void TCacheThread::reportIncomplete(std::string_view pattern, const std::string& path) {
    ++m_incompleteFiles;
    log(FormatMessage(pattern, path), kMsgError);
}

void TCacheThread::append(std::unique_ptr<TBlock> block, std::int64_t countedBytes) {
    {
        std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(block));
        m_queueLength = static_cast<int>(m_queue.size());
        m_bytesInCache += countedBytes;
    }
    m_dataChanged.notify_all();
}

// The fuller the queue, the lower the cache thread's priority, so that it reads at full speed while the
// drive could starve and yields while the queue is nearly full.
void TCacheThread::adjustPriority(int queueLength) {
    if (queueLength < m_maxBlocks / 4) {
        setPriority(TThreadPriority::Normal);
    } else if (queueLength < m_maxBlocks / 2) {
        setPriority(TThreadPriority::BelowNormal);
    } else {
        setPriority(TThreadPriority::Lowest);
    }
}

void TCacheThread::setPriority(TThreadPriority priority, bool force) {
    if (priority == m_priority && !force) return;
    m_priority = priority;
    if (m_hooks.SetPriority) {
        m_hooks.SetPriority(priority);
    } else {
        SetCurrentThreadPriority(priority);
    }
}

void TCacheThread::stopWithAbort() {
    if (m_hasher) m_hasher->Stop();  // it reads the bytes of blocks about to be released
    m_fetched.reset();
    m_readAhead.reset();  // the readers end their reads under way and close their files
    {
        std::lock_guard lock(m_queueLock);
        m_queue.clear();
        std::vector<std::uint8_t>().swap(m_input.Metadata);
        m_queueLength = 0;
        m_bytesInCache = 0;
        SetErrorIfEmpty(TWriteEnd::Stopped, std::string(kMsgAbortedByUser));
        m_finished = true;
    }
    notify();
}

// Everything is queued: wait until the write thread has taken it all, or stops.
void TCacheThread::drain() {
    std::unique_lock lock(m_queueLock);
    const auto drained = [this] { return m_queue.empty() || m_bytesToDeliver.load() <= 0 || m_abort.load(); };
    while (!m_queue.empty() && m_bytesToDeliver.load() > 0) {
        if (m_abort.load()) return;
        waitStep(lock, 10, drained);
    }
}

void TCacheThread::log(const std::string& text, std::uint8_t mType) {
    if (m_hooks.Log) m_hooks.Log(text, mType);
}

}  // namespace brenwick
