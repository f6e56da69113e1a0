// Best-effort thread priorities for the recording threads (cache, write and erase thread).
// A priority that the process may not set is ignored: it never fails a recording.
#pragma once

#include <cstdint>

namespace brenwick {

// The seven levels the threads choose from, lowest first.
enum class TThreadPriority : std::uint8_t {
    Idle,
    Lowest,
    BelowNormal,
    Normal,
    AboveNormal,
    Highest,
    TimeCritical
};

// Sets the priority of the calling thread. Idle .. Highest map to nice values (19, 10, 5, 0, -5, -10);
// TimeCritical asks for SCHED_FIFO and, when that is refused, the lowest nice value the process may set.
void SetCurrentThreadPriority(TThreadPriority priority);

}  // namespace brenwick
