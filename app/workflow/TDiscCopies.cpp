// Copies from the disc on worker threads (see TDiscCopies.h).
#include "app/workflow/TDiscCopies.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "engine/qrSha256.h"

namespace brenwick {

namespace {

namespace fs = std::filesystem;

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside `target` that no other file had (the user's modes: the disc holds none).
int OpenTemporary(const std::string& target, std::string& path) {
    for (int n = 0; n < 100; ++n) {
        path = target + ".brenwick-restore-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

TDiscCopies::TDiscCopies(TSessionDisc& disc, std::vector<TCopyJob> jobs, const std::atomic<bool>* stop,
                         std::atomic<std::int64_t>* progress, unsigned workers, TReadLimits limits)
    : m_jobs(std::move(jobs)),
      m_progress(progress),
      m_pipeline(
          disc,
          [this] {
              std::vector<TDiscExtent> extents;
              for (const TCopyJob& job : m_jobs) extents.push_back(job.Extent);
              return extents;
          }(),
          stop, limits),
      m_results(m_jobs.size()) {
    for (unsigned i = 0; i < std::max(workers, 1u); ++i) m_workers.emplace_back([this] { work(); });
}

TDiscCopies::~TDiscCopies() {
    m_pipeline.cancel();
    for (std::thread& worker : m_workers) worker.join();
    for (const std::optional<TCopyResult>& result : m_results)
        if (result && !result->Temporary.empty()) ::unlink(result->Temporary.c_str());
}

TCopyResult TDiscCopies::take(std::size_t index) {
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] { return m_results[index].has_value(); });
    TCopyResult result = std::move(*m_results[index]);
    m_results[index].reset();
    return result;
}

// Claims the jobs in order, so that the files the reader has reached are always being worked on.
void TDiscCopies::work() {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_nextJob == m_jobs.size()) return;
            index = m_nextJob++;
        }
        TCopyResult result = copy(index);
        {
            std::lock_guard lock(m_mutex);
            m_results[index] = std::move(result);
        }
        m_done.notify_all();
    }
}

TCopyResult TDiscCopies::copy(std::size_t index) {
    TCopyResult result;
    const std::string& target = m_jobs[index].Target;
    int fd = -1;
    if (!target.empty()) {
        std::error_code ec;
        fs::create_directories(fs::path(target).parent_path(), ec);
        fd = OpenTemporary(target, result.Temporary);
        if (fd < 0) result.Temporary.clear();
    }
    // A copy that cannot be made still takes its file's pieces, so that the reader's buffers come back.
    const bool copyFailed = !target.empty() && fd < 0;
    result.Outcome = drain(index, fd, result);
    const bool closed = fd < 0 || ::close(fd) == 0;
    if ((copyFailed && result.Outcome != TCopyOutcome::Stopped) ||
        (result.Outcome == TCopyOutcome::Ok && !closed))
        result.Outcome = TCopyOutcome::WriteFailed;
    if (result.Outcome != TCopyOutcome::Ok && !result.Temporary.empty()) {
        ::unlink(result.Temporary.c_str());
        result.Temporary.clear();
    }
    return result;
}

// Takes every piece of the file, hashing it and writing it to `fd` (none: only hashed); after a failed
// write the rest is still taken, so that the reader's buffers come back.
TCopyOutcome TDiscCopies::drain(std::size_t index, int fd, TCopyResult& result) {
    TSha256 hash;
    bool written = true;
    for (;;) {
        const TPiece piece = m_pipeline.next(index);
        switch (piece.Kind) {
            case TPieceKind::Bytes:
                hash.Update(piece.Bytes.data(), piece.Bytes.size());
                if (m_progress != nullptr) *m_progress += static_cast<std::int64_t>(piece.Bytes.size());
                if (fd >= 0 && written) written = WriteAll(fd, piece.Bytes.data(), piece.Bytes.size());
                m_pipeline.release(piece);
                break;
            case TPieceKind::End:
                result.Digest = hash.Finish();
                return written ? TCopyOutcome::Ok : TCopyOutcome::WriteFailed;
            case TPieceKind::Unreadable:
                result.BadLba = piece.BadLba;
                return written ? TCopyOutcome::Unreadable : TCopyOutcome::WriteFailed;
            case TPieceKind::Stopped:
                return TCopyOutcome::Stopped;
        }
    }
}

}  // namespace brenwick
