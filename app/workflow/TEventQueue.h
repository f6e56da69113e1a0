// Hands events from worker threads to the one thread that owns the workflow, in the order they were
// raised. Worker threads post; the owner drains, and every posted call then runs on the owner's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace brenwick {

class TEventQueue {
  public:
    // `onPosted` runs on the posting thread after each post (a window uses it to schedule a drain on its
    // own thread); it must not call back into the queue's owner.
    explicit TEventQueue(std::function<void()> onPosted = {}) : m_onPosted(std::move(onPosted)) {}
    TEventQueue(const TEventQueue&) = delete;
    TEventQueue& operator=(const TEventQueue&) = delete;

    // Any thread.
    void post(std::function<void()> call);
    // Owner thread: runs the posted calls in order, also those posted while it runs; returns how many ran.
    std::size_t drain();
    // Owner thread: waits until a call is pending or the time-out passes; true when one is pending.
    bool waitFor(std::chrono::milliseconds timeout);
    bool empty() const;

  private:
    const std::function<void()> m_onPosted;
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_calls;  // guarded by m_mutex
};

}  // namespace brenwick
