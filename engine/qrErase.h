// Disc erase: EraseDisc (a method of the burner, qrErase.cpp) sends BLANK with the immediate bit, and a
// TEraseThread polls the drive until it is ready again, estimating progress from the counted time.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace brenwick {

class TQrvBurner;

// Expected duration of an erase in seconds, by disc type and blank type (only for the progress estimate).
std::uint16_t ExpectedEraseTime(int discType, int blankType);
// Expected duration of the first format of a DVD+RW (type 26h), for the progress estimate of a drive that
// reports no progress of its own.
inline constexpr std::uint16_t kExpectedFormatSeconds = 120;

// What the thread waits for: a BLANK to end, a FORMAT UNIT to end (the disc then reads as formatted), or
// the volume descriptors of an overwritable disc to be recorded over.
enum class TEraseKind : std::uint8_t { Blank, Format, Invalidate };

// Sectors an overwritable disc's erase records zeros over: the system area and the volume descriptors that
// follow it at sector 16 (four ECC blocks), which is all a reader finds a volume by.
inline constexpr std::uint32_t kInvalidatedSectors = 64;
inline constexpr std::uint32_t kInvalidateStep = 16;

class TEraseThread {
  public:
    // Polls a BLANK or a FORMAT UNIT the drive runs, with progress from its sense data when it reports
    // one, else from the counted time.
    TEraseThread(TQrvBurner& burner, std::uint16_t expectedEraseTime, int timeLimitSeconds,
                 TEraseKind kind = TEraseKind::Blank);
    // The erase of an overwritable disc (DVD+RW, DVD-RAM, restricted-overwrite DVD-RW), which has no BLANK:
    // the thread records zeros over the volume descriptors, one ECC block at a time (its progress), and
    // flushes; the disc then holds no volume and a backup starts at sector 0.
    explicit TEraseThread(TQrvBurner& burner);
    // Ends the poll at its next step (no OnEraseDone then: the burner is going) and joins.
    ~TEraseThread();
    TEraseThread(const TEraseThread&) = delete;
    TEraseThread& operator=(const TEraseThread&) = delete;

    void Start();
    void Join();
    bool IsCurrentThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    int Progress() const { return m_progress.load(); }

  private:
    void run();
    void invalidateVolume();
    void finish(bool withError);
    // Whether the disc shows what the ended BLANK or FORMAT UNIT was to leave: blank, or formatted.
    bool endStateReached();
    int pollProgress(int elapsedSeconds) const;
    // Whether the failed TEST UNIT READY says that the erase is still running: NOT READY (02/04/xx) or a
    // busy target. Any other answer means that the drive has given up or gone.
    bool stillErasing() const;

    TQrvBurner& m_burner;
    const std::uint16_t m_expectedEraseTime;
    const int m_timeLimitSeconds;
    const TEraseKind m_kind;
    std::atomic<int> m_progress{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace brenwick
