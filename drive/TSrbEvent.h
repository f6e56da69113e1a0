// The completion event of an execute request: a provider that finishes a command after returning from the
// send-command call signals it; ExecuteCommand waits on it for at most the command's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brenwick {

class TSrbEvent {
  public:
    // Notifies under the lock: the waiter may destroy the event as soon as it sees the flag.
    void Signal() {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
        m_cv.notify_all();
    }

    void Reset() {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    // True when signalled within `timeoutMs`.
    bool Wait(unsigned timeoutMs) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;  // guarded by m_mutex
};

}  // namespace brenwick
