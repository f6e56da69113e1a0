// The drive buffer: WRITE (10) fills it, the write speed drains it. With the speed setting "unthrottled"
// data go to the image at once and the buffer stays empty; with a speed it behaves like a drive of that
// speed, so that the gauges move and an initiator that cannot keep up meets an empty buffer (underrun).
#pragma once

#include <cstdint>

#include "drive/recorder/TRecorderClock.h"

namespace brenwick {

class TBufferModel {
  public:
    // `bytesPerSecond` 0 means unthrottled.
    void Configure(std::uint32_t capacity, std::uint64_t bytesPerSecond);
    std::uint32_t capacity() const { return m_capacity; }
    bool throttled() const { return m_rate != 0; }

    // Fill level at `now` after draining since the last call.
    std::uint32_t Fill(TRecorderClock::TTime now);
    std::uint32_t Free(TRecorderClock::TTime now) { return m_capacity - Fill(now); }
    // True when `bytes` fit now.
    bool Fits(TRecorderClock::TTime now, std::uint32_t bytes) { return bytes <= Free(now); }
    // Time until `bytes` fit (0 when they fit, or can never fit because they exceed the whole buffer).
    std::uint64_t MicrosecondsUntilFree(TRecorderClock::TTime now, std::uint32_t bytes);
    // Adds written bytes. Returns true when the buffer had run empty since the last write of this
    // recording (an underrun: recording stopped for lack of data).
    bool Add(TRecorderClock::TTime now, std::uint32_t bytes);
    // The recording ended (SYNCHRONIZE CACHE, close): what is left is written out, no underrun follows.
    void Flush();
    // True from the first write of a recording until its flush.
    bool recording() const { return m_recording; }

  private:
    std::uint32_t m_capacity = 2 * 1024 * 1024;
    std::uint64_t m_rate = 0;
    std::uint64_t m_fill = 0;
    bool m_recording = false;
    bool m_ranEmpty = false;
    TRecorderClock::TTime m_last{};
};

}  // namespace brenwick
