#include "drive/recorder/TBufferModel.h"

#include <algorithm>

namespace brenwick {

void TBufferModel::Configure(std::uint32_t capacity, std::uint64_t bytesPerSecond) {
    m_capacity = capacity;
    m_rate = bytesPerSecond;
    m_fill = 0;
    m_recording = false;
    m_ranEmpty = false;
}

std::uint32_t TBufferModel::Fill(TRecorderClock::TTime now) {
    if (m_rate == 0) return 0;
    if (now > m_last) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - m_last).count();
        const std::uint64_t drained = std::uint64_t(elapsed) * m_rate / 1000000u;
        if (drained > 0) {
            if (drained >= m_fill && m_recording) m_ranEmpty = true;
            m_fill = drained >= m_fill ? 0 : m_fill - drained;
            m_last = now;
        }
    }
    return std::uint32_t(m_fill);
}

std::uint64_t TBufferModel::MicrosecondsUntilFree(TRecorderClock::TTime now, std::uint32_t bytes) {
    const std::uint32_t free = Free(now);
    if (m_rate == 0 || bytes <= free || bytes > m_capacity) return 0;
    return (std::uint64_t(bytes - free) * 1000000u + m_rate - 1) / m_rate;
}

bool TBufferModel::Add(TRecorderClock::TTime now, std::uint32_t bytes) {
    if (m_rate == 0) return false;
    (void)Fill(now);
    const bool underrun = m_recording && m_ranEmpty;
    if (!m_recording || m_fill == 0) m_last = now;
    m_fill = std::min<std::uint64_t>(m_capacity, m_fill + bytes);
    m_recording = true;
    m_ranEmpty = false;
    return underrun;
}

void TBufferModel::Flush() {
    m_fill = 0;
    m_recording = false;
    m_ranEmpty = false;
}

}  // namespace brenwick
