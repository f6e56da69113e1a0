// The owner-thread event queue.
#include "app/workflow/TEventQueue.h"

namespace brenwick {

void TEventQueue::post(std::function<void()> call) {
    {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_posted.notify_all();
    if (m_onPosted) m_onPosted();
}

std::size_t TEventQueue::drain() {
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            const std::lock_guard lock(m_mutex);
            if (m_calls.empty()) return ran;
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();  // outside the lock: a call may post again
        ++ran;
    }
}

bool TEventQueue::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_posted.wait_for(lock, timeout, [this] { return !m_calls.empty(); });
}

bool TEventQueue::empty() const {
    const std::lock_guard lock(m_mutex);
    return m_calls.empty();
}

}  // namespace brenwick
