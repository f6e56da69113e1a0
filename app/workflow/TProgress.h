// The half-second timer's values as typed data: what the Process, Cache and Buffer gauges and status
// panel 1 show, plus the rate and time left that the command line prints. Pure functions over the values
// the burner reports; the timer sends no drive command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brenwick {

// A gauge holds 32-bit signed values. A session of 2 GiB or more does not fit as bytes, so the range and
// position are shifted right by the smallest amount that makes the range fit; the shown percentage stays
// the same.
struct TGaugeRange {
    std::int32_t maxValue = 100;
    std::int32_t position = 0;
};
TGaugeRange ScaleGauge(std::int64_t maximum, std::int64_t position);

struct TProgress {
    bool erasing = false;
    int erasePercent = 0;  // while erasing
    std::int64_t bytesWritten = 0;
    std::int64_t sessionBytes = 0;  // ImageSectors x 2048
    TGaugeRange process;            // the Process gauge
    int cacheFillPercent = 0;       // the Cache gauge
    // The drive's buffer in use (size - free) and its size, as the write thread last read them; unset when
    // the drive reported more free than its size (the gauge then keeps its value).
    std::optional<std::uint32_t> driveBufferUsed;
    std::uint32_t driveBufferSize = 0;
    std::string writtenText;  // status panel 1, "%.0n/%.0n MB"
    bool dvd = false;         // the disc is a DVD: the rate's "x" is DVD's

    int processPercent() const;
    // 0..100 of the drive's buffer, or -1 when not known.
    int driveBufferPercent() const;
};

// Speed and time left of a recording from successive (time, bytes written) samples.
class TRateMeter {
  public:
    // `seconds` is a monotonic time; the rate is averaged over the last few seconds.
    void sample(double seconds, std::int64_t bytes);
    void reset();
    // Bytes per second, 0 before two samples.
    double bytesPerSecond() const;
    // True once two samples give a rate.
    bool hasRate() const { return m_count >= 2; }
    // Seconds left for `remaining` bytes at the current rate; -1 when not known.
    double secondsLeft(std::int64_t remaining) const;

  private:
    static constexpr int kSamples = 12;  // 6 s of half-second ticks
    double m_time[kSamples] = {};
    std::int64_t m_bytes[kSamples] = {};
    int m_count = 0;
    int m_next = 0;
};

// "1.2 MB/s (8.2x)": megabytes a second and the speed in the medium's units: on a CD 1x moves 75 sectors
// of 2048 bytes of user data a second (153,600 bytes), on a DVD 1,385,000 bytes.
std::string RateText(double bytesPerSecond, bool dvd = false);
// "m:ss" or "h:mm:ss"; "--:--" when unknown.
std::string TimeLeftText(double seconds);

// One progress line of the command line from the timer's values:
// "Process 50%  5/10 MB  Cache 87%  Buffer 50%  1.5 MB/s (10.0x)  0:23 left", or "Erasing 40%". The
// percentage is the Process gauge's, the megabytes are status panel 1's. A negative rate or time left is
// not known yet and shows as "--".
std::string ProgressLineText(const TProgress& progress, double bytesPerSecond, double secondsLeft);

}  // namespace brenwick
