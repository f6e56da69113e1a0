// Reads the extents of files from a disc in order, on a thread of its own, into a bounded pool of buffers,
// while other threads take each file's bytes in order (to hash or copy them). The reader is the only
// thread that sends the disc commands while the pipeline lives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "isofs/qrSessionDisc.h"

namespace brenwick {

struct TDiscExtent {
    std::uint32_t Lba = 0;
    std::uint64_t Size = 0;  // bytes
};

struct TReadLimits {
    // Sectors per READ: 256 (512 KiB); a disc that refuses them is read in runs of kSafeRunSectors.
    std::uint32_t RunSectors = 256;
    // Of RunSectors x 2048 bytes each (48 MiB): the memory the pipeline holds. While a file's last buffers
    // wait to be hashed, the next file is read and hashed beside it: the more buffers, the longer the two
    // hashes overlap (one file's hash is one thread's work).
    std::size_t Buffers = 96;
};

// Sectors every drive and the kernel accept in one READ (64 KiB).
inline constexpr std::uint32_t kSafeRunSectors = 32;

enum class TPieceKind {
    Bytes,       // the next bytes of the file
    End,         // the file has been delivered whole
    Unreadable,  // a sector of the file could not be read (BadLba); nothing more of it follows
    Stopped      // the job was stopped
};

struct TPiece {
    TPieceKind Kind = TPieceKind::End;
    std::span<const std::uint8_t> Bytes;
    std::uint32_t BadLba = 0;
    int Buffer = -1;  // hand it back with release()
};

class TDiscReadPipeline {
  public:
    // Starts reading `extents` in order; `stop` (may be null) ends the reading and the waits promptly.
    TDiscReadPipeline(TSessionDisc& disc, std::vector<TDiscExtent> extents, const std::atomic<bool>* stop,
                      TReadLimits limits = {});
    ~TDiscReadPipeline();  // stops the reader and waits for it
    TDiscReadPipeline(const TDiscReadPipeline&) = delete;
    TDiscReadPipeline& operator=(const TDiscReadPipeline&) = delete;

    // The next piece of file `index`: each file's pieces are taken by one thread, until a piece that is
    // not Bytes. Several files may be taken at once, by different threads.
    TPiece next(std::size_t index);
    void release(const TPiece& piece);
    // Ends the reading and every wait (as a stop does).
    void cancel();

  private:
    enum class TFileState : std::uint8_t { Pending, Done, Unreadable };
    struct TFilled {
        std::size_t File;
        int Buffer;
        std::size_t Size;
    };

    void readAll();
    void readFile(std::size_t index);
    bool readRun(std::uint32_t lba, std::uint32_t sectors, std::uint8_t* into, std::uint32_t& badLba);
    int acquire();
    void finishFile(std::size_t index, TFileState state, std::uint32_t badLba = 0);
    bool stopped() const;

    TSessionDisc& m_disc;
    const std::vector<TDiscExtent> m_extents;
    const std::atomic<bool>* m_stop;
    std::uint32_t m_runSectors;  // reader thread only
    std::vector<std::vector<std::uint8_t>> m_buffers;
    std::atomic<bool> m_cancel{false};

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_free;              // buffers the reader may fill
    std::deque<TFilled> m_filled;         // in the order read
    std::vector<TFileState> m_states;     // by file
    std::vector<std::uint32_t> m_badLba;  // by file, where Unreadable
    std::thread m_reader;
};

}  // namespace brenwick
