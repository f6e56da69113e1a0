// Files of a disc hashed, and copied into temporary files beside their targets, by worker threads fed by
// one disc read pipeline: the disc is read in order while several files are hashed at once. The results
// are taken in the order of the jobs; a copy whose result is never taken is deleted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/workflow/TDiscReadPipeline.h"
#include "isofs/qrManifest.h"

namespace brenwick {

struct TCopyJob {
    TDiscExtent Extent;
    std::string Target;  // where the copy goes; empty: the file is only hashed
};

enum class TCopyOutcome {
    Ok,           // Temporary (when copied) holds the whole file
    Unreadable,   // BadLba could not be read; no copy is left
    WriteFailed,  // the copy could not be made or written; none is left
    Stopped       // the job was stopped before the file was whole; no copy is left
};

struct TCopyResult {
    TCopyOutcome Outcome = TCopyOutcome::Stopped;
    std::uint32_t BadLba = 0;
    TSha256Digest Digest{};
    std::string Temporary;  // Ok and copied: the new file, for the caller to rename or delete
};

class TDiscCopies {
  public:
    // `progress` (may be null) counts the bytes read and hashed.
    TDiscCopies(TSessionDisc& disc, std::vector<TCopyJob> jobs, const std::atomic<bool>* stop,
                std::atomic<std::int64_t>* progress, unsigned workers = 2, TReadLimits limits = {});
    ~TDiscCopies();  // stops, waits for the threads and deletes the copies whose results were not taken
    TDiscCopies(const TDiscCopies&) = delete;
    TDiscCopies& operator=(const TDiscCopies&) = delete;

    // Waits for job `index`'s result (each taken once, in order).
    TCopyResult take(std::size_t index);

  private:
    void work();
    TCopyResult copy(std::size_t index);
    TCopyOutcome drain(std::size_t index, int fd, TCopyResult& result);

    const std::vector<TCopyJob> m_jobs;
    std::atomic<std::int64_t>* m_progress;
    TDiscReadPipeline m_pipeline;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::size_t m_nextJob = 0;                          // the next job a worker claims
    std::vector<std::optional<TCopyResult>> m_results;  // by job, once done; reset once taken
    std::vector<std::thread> m_workers;
};

}  // namespace brenwick
