#include "pool/worker_pool.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace velunor {
namespace {

using namespace std::chrono_literals;

// A gate that tasks wait at until a given number of them have arrived (bounded, so that a pool
// that does not run them together fails the test instead of hanging it).
class Meeting {
  public:
    explicit Meeting(int expected) : expected_(expected) {}

    bool ArriveAndWait() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        return changed_.wait_for(lock, 10s, [this] { return arrived_ >= expected_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int expected_;
    int arrived_ = 0;
};

TEST(WorkerPool, DrainsAndExitsWithNoTasks) {
    for (int workers : {1, 5, 20}) {
        CWorkerPool pool(workers);
        pool.Drain();
        pool.WaitAllExited();
    }
}

struct MeetingTask {
    Meeting* meeting;
    std::atomic<int>* met;
    std::atomic<int>* finished;
    std::chrono::milliseconds extra;
};

void RunMeetingTask(MeetingTask* task) {
    if (task->meeting->ArriveAndWait()) {
        task->met->fetch_add(1);
    }
    // The last task to finish is the slowest; WaitAllExited must not return before it.
    std::this_thread::sleep_for(task->extra);
    task->finished->fetch_add(1);
}

TEST(WorkerPool, RunsFewTasksOnManyWorkersAtTheSameTime) {
    Meeting meeting(3);
    std::atomic<int> met{0};
    std::atomic<int> finished{0};
    std::vector<MeetingTask> tasks = {
        {&meeting, &met, &finished, 0ms},
        {&meeting, &met, &finished, 50ms},
        {&meeting, &met, &finished, 200ms},
    };
    CWorkerPool pool(20);
    for (MeetingTask& task : tasks) {
        pool.QueueTask([&task] { RunMeetingTask(&task); });
    }
    pool.Drain();
    pool.WaitAllExited();
    EXPECT_EQ(met.load(), 3);
    EXPECT_EQ(finished.load(), 3);
}

// Records the order in which tasks start and how many run at once. Tasks meet in batches of as
// many as there are workers: a batch holds every worker until all of its tasks have started, so
// a pool that took a later task before an earlier one would leave a batch short and time out.
struct OrderLog {
    explicit OrderLog(int size) : batchSize(size) {}

    int batchSize;
    std::mutex mutex;
    std::vector<int> starts;
    std::vector<std::unique_ptr<Meeting>> batches;
    int running = 0;
    int mostRunning = 0;
    int done = 0;
    int missedMeetings = 0;
};

struct OrderTask {
    OrderLog* log;
    int index;
};

void RunOrderTask(OrderTask* task) {
    OrderLog& log = *task->log;
    Meeting* batch = nullptr;
    {
        std::lock_guard lock(log.mutex);
        log.starts.push_back(task->index);
        ++log.running;
        log.mostRunning = std::max(log.mostRunning, log.running);
        batch = log.batches[static_cast<std::size_t>(task->index / log.batchSize)].get();
    }
    bool met = batch->ArriveAndWait();
    std::lock_guard lock(log.mutex);
    --log.running;
    ++log.done;
    log.missedMeetings += met ? 0 : 1;
}

TEST(WorkerPool, RunsManyTasksInQueueOrderAtMostWorkerCountAtOnce) {
    constexpr int kTasks = 100;
    constexpr int kWorkers = 5;
    OrderLog log(kWorkers);
    for (int i = 0; i < kTasks / kWorkers; ++i) {
        log.batches.push_back(std::make_unique<Meeting>(kWorkers));
    }
    std::vector<OrderTask> tasks;
    for (int i = 0; i < kTasks; ++i) {
        tasks.push_back({&log, i});
    }
    CWorkerPool pool(kWorkers);
    for (OrderTask& task : tasks) {
        pool.QueueTask([&task] { RunOrderTask(&task); });
    }
    pool.Drain();
    pool.WaitAllExited();

    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.done, kTasks);
    EXPECT_EQ(log.missedMeetings, 0);
    EXPECT_EQ(log.mostRunning, kWorkers);
    ASSERT_EQ(log.starts.size(), static_cast<std::size_t>(kTasks));
    // Within a batch the workers log their starts in any order; batches start one after another.
    for (int first = 0; first < kTasks; first += kWorkers) {
        std::vector<int> batch(log.starts.begin() + first, log.starts.begin() + first + kWorkers);
        std::sort(batch.begin(), batch.end());
        for (int i = 0; i < kWorkers; ++i) {
            EXPECT_EQ(batch[static_cast<std::size_t>(i)], first + i);
        }
    }
}

struct PriorityProbe {
    int nice = 0;
};

void ReadNice(PriorityProbe* probe) {
    errno = 0;
    probe->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

TEST(WorkerPool, WorkersRunBelowTheOwnersPriority) {
    errno = 0;
    int ownerNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    PriorityProbe probe;
    CWorkerPool pool(1);
    pool.QueueTask([&probe] { ReadNice(&probe); });
    pool.Drain();
    pool.WaitAllExited();
    EXPECT_GT(probe.nice, ownerNice);
}

// A task owns what its closure holds: the worker destroys the closure once it has run, and the
// pool destroys those it never ran, so nothing a job hands to its tasks outlives the pool.
TEST(WorkerPool, DestroysEveryClosureWhetherItRanOrNot) {
    // Two workers count at once, so the count is atomic.
    auto owned = std::make_shared<std::atomic<int>>(0);
    {
        CWorkerPool pool(2);
        for (int i = 0; i < 10; ++i) {
            pool.QueueTask([owned] { ++*owned; });
        }
        pool.Drain();
        pool.WaitAllExited();
        EXPECT_EQ(owned->load(), 10);
        EXPECT_EQ(owned.use_count(), 1);
    }
    {
        CWorkerPool idle(0);
        idle.QueueTask([owned] { ++*owned; });
        EXPECT_EQ(owned.use_count(), 2);
    }
    EXPECT_EQ(owned.use_count(), 1);
    EXPECT_EQ(owned->load(), 10);
}

} // namespace
} // namespace velunor
