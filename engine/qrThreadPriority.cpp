// Thread priorities through per-thread nice values and SCHED_FIFO (Linux: setpriority on the thread id).
#include "engine/qrThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace brenwick {

namespace {

int niceOf(TThreadPriority priority) {
    switch (priority) {
        case TThreadPriority::Idle:
            return 19;
        case TThreadPriority::Lowest:
            return 10;
        case TThreadPriority::BelowNormal:
            return 5;
        case TThreadPriority::Normal:
            return 0;
        case TThreadPriority::AboveNormal:
            return -5;
        case TThreadPriority::Highest:
            return -10;
        case TThreadPriority::TimeCritical:
            return -20;
    }
    return 0;
}

// A thread that lowers its priority (raises its nice value) must be able to return to normal, or the
// cache thread would stay idle for the rest of a recording once its queue had been full. Without
// the right to lower nice values again (RLIMIT_NICE below 20 and not privileged), levels below normal
// are therefore not set at all.
bool canReturnToNormal() {
    if (::geteuid() == 0) return true;
    rlimit limit{};
    return ::getrlimit(RLIMIT_NICE, &limit) == 0 && (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 20);
}

void setNice(int nice) {
    static const bool returnable = canReturnToNormal();
    if (nice > 0 && !returnable) return;
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    // Linux applies PRIO_PROCESS with a thread id to that one thread. An unprivileged process may only
    // raise its nice value, so step down from the wish until the kernel accepts one (or none).
    for (int value = nice; value <= 19; ++value) {
        if (::setpriority(PRIO_PROCESS, tid, value) == 0) return;
        if (value >= 0) return;  // a non-negative value that fails will not succeed higher either
    }
}

}  // namespace

void SetCurrentThreadPriority(TThreadPriority priority) {
    if (priority == TThreadPriority::TimeCritical) {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
    } else {
        // A thread that was time-critical before goes back to the normal scheduler first.
        sched_param param{};
        (void)pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);  // best effort
    }
    setNice(niceOf(priority));
}

}  // namespace brenwick
