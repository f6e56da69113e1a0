#include "drive/recorder/TRecorderClock.h"

#include <thread>

namespace brenwick {

TRecorderClock::TTime TSteadyClock::Now() {
    return std::chrono::steady_clock::now();
}

void TSteadyClock::SleepFor(std::chrono::microseconds period) {
    std::this_thread::sleep_for(period);
}

std::shared_ptr<TRecorderClock> MakeSteadyClock() {
    return std::make_shared<TSteadyClock>();
}

}  // namespace brenwick
