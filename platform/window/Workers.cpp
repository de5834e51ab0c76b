#include "platform/window/Workers.h"

#include <algorithm>
#include <system_error>

#include "platform/http/Cancellation.h"

namespace qubrelo {

WorkerSet::~WorkerSet() { StopAndJoinWorkers(); }

bool WorkerSet::StartWorker(std::function<void()> routine) {
    if (!routine) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (stopped_) {
        return false;
    }
    // Finished workers are joined here so the list does not grow with every lookup.
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.flags->done.load(std::memory_order_acquire)) {
            return false;
        }
        worker.thread.join();
        return true;
    });
    Worker worker{std::make_unique<Flags>(), {}};
    Flags* flags = worker.flags.get();
    try {
        worker.thread = std::thread([flags, routine = std::move(routine)] {
            SetThreadStopFlag(&flags->stop);
            routine();
            SetThreadStopFlag(nullptr);
            flags->done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return false;
    }
    workers_.push_back(std::move(worker));
    ++started_;
    return true;
}

void WorkerSet::StopAndJoinWorkers() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        workers.swap(workers_);
    }
    for (Worker& worker : workers) {
        worker.flags->stop.store(true, std::memory_order_release);
    }
    for (Worker& worker : workers) {
        worker.thread.join();
    }
}

int WorkerSet::RunningWorkers() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(workers_.begin(), workers_.end(), [](const Worker& w) {
        return !w.flags->done.load(std::memory_order_acquire);
    }));
}

int WorkerSet::StartedWorkers() const {
    std::lock_guard lock(mutex_);
    return started_;
}

}  // namespace qubrelo
