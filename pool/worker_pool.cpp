#include "pool/worker_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace velunor {
namespace {

constexpr long kMaximumQueuedTasks = 0x7FFFFFFF;

// One step below the thread's current nice value, so that workers yield to the window and the
// jobs. Linux applies PRIO_PROCESS to the single thread whose id it is given.
void LowerThisThreadsPriority() {
    auto thread = static_cast<id_t>(gettid());
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, thread);
    if (errno != 0) {
        return;
    }
    setpriority(PRIO_PROCESS, thread, nice + 1);
}

} // namespace

CWorkerPool::CWorkerPool(int workerCount)
    : taskSemaphore_(workSignals_, 0, kMaximumQueuedTasks), drainEvent_(workSignals_),
      allExitedEvent_(exitSignals_) {
    // Under the list lock, so that no worker can leave before every record is complete.
    std::lock_guard lock(threadListLock_);
    for (int i = 0; i < workerCount; ++i) {
        StartWorker();
    }
    // Without a single worker nothing would ever set the event, and the owner would wait forever.
    if (liveWorkers_.load() == 0) {
        allExitedEvent_.Set();
    }
}

CWorkerPool::~CWorkerPool() {
    std::lock_guard lock(threadListLock_);
    for (const std::unique_ptr<PoolThread>& record : threads_) {
        record->Thread.detach();
    }
}

void CWorkerPool::StartWorker() {
    threads_.push_back(std::make_unique<PoolThread>());
    PoolThread* record = threads_.back().get();
    // Counted before it starts, so that the all-exited event covers every started worker.
    liveWorkers_.fetch_add(1);
    try {
        record->Thread = std::thread(&CWorkerPool::WorkerMain, this, record);
    } catch (const std::system_error&) {
        threads_.pop_back();
        liveWorkers_.fetch_sub(1);
    }
}

void CWorkerPool::QueueTask(PoolTask task) {
    {
        std::lock_guard lock(queueLock_);
        queue_.push_back(std::move(task));
    }
    taskSemaphore_.Release(1);
}

void CWorkerPool::Drain() {
    drainEvent_.Set();
}

void CWorkerPool::WaitAllExited() {
    allExitedEvent_.Wait();
}

void CWorkerPool::WorkerMain(PoolThread* self) {
    LowerThisThreadsPriority();
    RunTasks();
    LeavePool(self);
}

void CWorkerPool::RunTasks() {
    for (;;) {
        bool wokenByTask = taskSemaphore_.AcquireOrEvent(drainEvent_);
        PoolTask task = TakeTask();
        if (!task) {
            if (wokenByTask) {
                continue;
            }
            return;
        }
        task();
    }
}

PoolTask CWorkerPool::TakeTask() {
    std::lock_guard lock(queueLock_);
    if (queue_.empty()) {
        return {};
    }
    PoolTask task = std::move(queue_.front());
    queue_.pop_front();
    return task;
}

void CWorkerPool::LeavePool(PoolThread* self) {
    {
        std::lock_guard lock(threadListLock_);
        for (auto it = threads_.begin(); it != threads_.end(); ++it) {
            if (it->get() == self) {
                (*it)->Thread.detach();
                threads_.erase(it);
                break;
            }
        }
    }
    // The last one out tells the owner, which may then destroy the pool at once.
    if (liveWorkers_.fetch_sub(1) == 1) {
        allExitedEvent_.Set();
    }
}

} // namespace velunor
