// Gauge scaling, the rate meter and the progress texts.
#include "app/workflow/TProgress.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "app/workflow/TSizeFormat.h"

namespace brenwick {

TGaugeRange ScaleGauge(std::int64_t maximum, std::int64_t position) {
    if (maximum < 0) maximum = 0;
    if (position < 0) position = 0;
    if (position > maximum) position = maximum;
    int shift = 0;
    while ((maximum >> shift) > INT32_MAX) ++shift;
    return {std::int32_t(maximum >> shift), std::int32_t(position >> shift)};
}

int TProgress::processPercent() const {
    if (erasing) return erasePercent;
    if (process.maxValue <= 0) return 0;
    return int(std::lround(double(process.position) * 100.0 / double(process.maxValue)));
}

int TProgress::driveBufferPercent() const {
    if (!driveBufferUsed || driveBufferSize == 0) return -1;
    return int(std::lround(double(*driveBufferUsed) * 100.0 / double(driveBufferSize)));
}

void TRateMeter::sample(double seconds, std::int64_t bytes) {
    if (m_count > 0) {
        const int last = (m_next + kSamples - 1) % kSamples;
        if (bytes < m_bytes[last] || seconds <= m_time[last]) {
            if (bytes < m_bytes[last])
                reset();  // a new recording
            else
                return;
        }
    }
    m_time[m_next] = seconds;
    m_bytes[m_next] = bytes;
    m_next = (m_next + 1) % kSamples;
    if (m_count < kSamples) ++m_count;
}

void TRateMeter::reset() {
    m_count = 0;
    m_next = 0;
}

double TRateMeter::bytesPerSecond() const {
    if (m_count < 2) return 0.0;
    const int last = (m_next + kSamples - 1) % kSamples;
    const int first = (m_next + kSamples - m_count) % kSamples;
    const double dt = m_time[last] - m_time[first];
    return dt > 0 ? double(m_bytes[last] - m_bytes[first]) / dt : 0.0;
}

double TRateMeter::secondsLeft(std::int64_t remaining) const {
    const double rate = bytesPerSecond();
    if (rate <= 0.0) return -1.0;
    return remaining <= 0 ? 0.0 : double(remaining) / rate;
}

std::string RateText(double bytesPerSecond, bool dvd) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.1f MB/s (%.1fx)", bytesPerSecond / 1048576.0,
                  bytesPerSecond / (dvd ? 1385000.0 : 153600.0));
    return buf;
}

std::string TimeLeftText(double seconds) {
    if (seconds < 0 || !std::isfinite(seconds) || seconds > 359999) return "--:--";
    const long total = std::lround(seconds);
    char buf[32];
    if (total >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", total / 60, total % 60);
    return buf;
}

namespace {

std::string percentText(int percent) {
    return percent < 0 ? "--" : std::to_string(percent) + "%";
}

}  // namespace

std::string ProgressLineText(const TProgress& p, double bytesPerSecond, double secondsLeft) {
    if (p.erasing) return "Erasing " + percentText(p.erasePercent);
    return "Process " + percentText(p.processPercent()) + "  " +
           WrittenOfTotalText(p.bytesWritten, p.sessionBytes) + "  Cache " + percentText(p.cacheFillPercent) +
           "  Buffer " + percentText(p.driveBufferPercent()) + "  " +
           (bytesPerSecond < 0 ? std::string("-- MB/s") : RateText(bytesPerSecond, p.dvd)) + "  " +
           TimeLeftText(secondsLeft) + " left";
}

}  // namespace brenwick
