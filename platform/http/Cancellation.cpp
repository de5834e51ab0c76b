#include "platform/http/Cancellation.h"

namespace qubrelo {

namespace {
// One pointer per thread; the flag itself is owned by whoever installed it.
thread_local const std::atomic<bool>* threadStopFlag = nullptr;
}  // namespace

void SetThreadStopFlag(const std::atomic<bool>* flag) { threadStopFlag = flag; }

const std::atomic<bool>* ThreadStopFlag() { return threadStopFlag; }

bool StopRequested() {
    return threadStopFlag != nullptr && threadStopFlag->load(std::memory_order_relaxed);
}

}  // namespace qubrelo
