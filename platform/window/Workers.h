#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qubrelo {

// Tracked worker threads. Each worker runs with a stop flag of its own installed as its thread's
// transfer stop flag (platform/http/Cancellation.h), so StopAndJoinWorkers can abort its
// transfers and wait for it before the state it uses is released.
class WorkerSet {
  public:
    WorkerSet() = default;
    WorkerSet(const WorkerSet&) = delete;
    WorkerSet& operator=(const WorkerSet&) = delete;
    ~WorkerSet();

    // Starts a thread running routine. False when the thread cannot be started or the set has
    // been stopped. Safe from any thread.
    bool StartWorker(std::function<void()> routine);

    // Sets every worker's stop flag, waits for all of them and refuses new ones from then on.
    // Must not be called from a worker of this set.
    void StopAndJoinWorkers();

    // Workers started and not yet finished.
    int RunningWorkers() const;
    // Workers started since the set was made.
    int StartedWorkers() const;

  private:
    struct Flags {
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
    };
    struct Worker {
        std::unique_ptr<Flags> flags;
        std::thread thread;
    };

    mutable std::mutex mutex_;
    std::vector<Worker> workers_;
    bool stopped_ = false;
    int started_ = 0;
};

}  // namespace qubrelo
