#pragma once
// The worker pool: a fixed set of worker threads that run queued tasks in the order they were
// queued.
//
// A job creates its own pool on its own thread, queues one task per unit of work, then drains
// the pool and waits until every worker has exited before it destroys it. There is no result
// channel: tasks report through their job's own shared state, and the job knows that every task
// is done when the last worker has exited. Workers run below normal priority.

#include "pool/auto_reset_event.h"
#include "pool/counting_semaphore.h"
#include "pool/manual_reset_event.h"
#include "pool/signal_domain.h"

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace velunor {

/// One queued unit of work: a closure that owns whatever it needs, destroyed by the worker that
/// ran it (or by the pool, when it is still queued at the pool's destruction).
using PoolTask = std::function<void()>;

class CWorkerPool {
  public:
    /// Starts `workerCount` workers, which wait for tasks. Called on the owning job's thread.
    explicit CWorkerPool(int workerCount);
    /// Frees the pool and any task still queued. Call only after WaitAllExited has returned.
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    /// Appends `task` to the queue; a waiting worker picks it up. Does not block long.
    void QueueTask(PoolTask task);
    /// Lets the workers run the rest of the queue and then exit; queue nothing after this.
    void Drain();
    /// Blocks, without time-out, until every worker has exited. Never call it from a task.
    void WaitAllExited();

  private:
    // One per live worker, freed by that worker when it exits.
    struct PoolThread {
        std::thread Thread;
    };

    void StartWorker();
    void WorkerMain(PoolThread* self);
    void RunTasks();
    /// The task at the front of the queue; empty when the queue is empty.
    PoolTask TakeTask();
    void LeavePool(PoolThread* self);

    std::mutex queueLock_;
    std::deque<PoolTask> queue_;
    std::mutex threadListLock_;
    std::list<std::unique_ptr<PoolThread>> threads_;
    CSignalDomain workSignals_;
    CCountingSemaphore taskSemaphore_;
    CManualResetEvent drainEvent_;
    CSignalDomain exitSignals_;
    CAutoResetEvent allExitedEvent_;
    std::atomic<int> liveWorkers_{0};
};

} // namespace velunor
