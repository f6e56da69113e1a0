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

class TEraseThread {
  public:
    TEraseThread(TQrvBurner& burner, std::uint16_t expectedEraseTime, int timeLimitSeconds);
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
    void finish(bool withError);
    // Whether the failed TEST UNIT READY says that the erase is still running: NOT READY (02/04/xx) or a
    // busy target. Any other answer means that the drive has given up or gone.
    bool stillErasing() const;

    TQrvBurner& m_burner;
    const std::uint16_t m_expectedEraseTime;
    const int m_timeLimitSeconds;
    std::atomic<int> m_progress{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace brenwick
