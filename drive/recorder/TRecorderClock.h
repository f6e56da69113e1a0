// Time as the image recorder sees it. Busy periods (BLANK, close, load) and the buffer's drain run on this
// clock, so that tests substitute a manual one and never wait for real time.
#pragma once

#include <chrono>
#include <memory>

namespace brenwick {

class TRecorderClock {
  public:
    using TTime = std::chrono::steady_clock::time_point;
    virtual ~TRecorderClock() = default;
    virtual TTime Now() = 0;
    // Used when a random-access write must wait for buffer space, as a real drive holds the command.
    virtual void SleepFor(std::chrono::microseconds period) = 0;
};

class TSteadyClock : public TRecorderClock {
  public:
    TTime Now() override;
    void SleepFor(std::chrono::microseconds period) override;
};

// A clock that moves only when told; SleepFor advances it.
class TManualClock : public TRecorderClock {
  public:
    TTime Now() override { return m_now; }
    void SleepFor(std::chrono::microseconds period) override { m_now += period; }
    void Advance(std::chrono::microseconds period) { m_now += period; }

  private:
    TTime m_now{};
};

std::shared_ptr<TRecorderClock> MakeSteadyClock();

}  // namespace brenwick
