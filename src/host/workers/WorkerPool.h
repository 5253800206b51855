// A fixed pool of worker threads with one task queue. Pixel work that splits
// into independent parts (resampling halves, chroma-key shares, blur rows)
// is submitted as tasks; the submitting thread then waits for its own tasks.
//
// Waiting never spins: idle workers and waiters sleep on condition variables.
// A thread that waits for a group helps by running queued tasks itself, so a
// task may submit and wait for sub-tasks without starving the pool.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

class WorkerPool;

// The tasks one caller submitted; wait() returns when all of them have run.
// The first exception a task throws is kept and rethrown by wait().
class TaskGroup {
 public:
  explicit TaskGroup(WorkerPool& pool);
  ~TaskGroup();  // waits for outstanding tasks (exceptions are then dropped)
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  void run(std::function<void()> task);
  void wait();

 private:
  friend class WorkerPool;
  struct State {
    std::size_t pending = 0;
    std::exception_ptr error;
  };
  WorkerPool& pool_;
  std::shared_ptr<State> state_;
};

class WorkerPool {
 public:
  // threadCount 0 means one thread per processor (at least one).
  explicit WorkerPool(unsigned threadCount = 0);
  ~WorkerPool();  // runs what is still queued, then joins the threads
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned threadCount() const { return static_cast<unsigned>(threads_.size()); }

  // Queue a task that nobody waits for individually; see wait().
  void submit(std::function<void()> task);

  // Wait until every task submitted so far, through submit() or any group,
  // has finished. Rethrows the first exception of a submit() task.
  void wait();

  // The process-wide pool, made on first use with setSharedThreadCount's
  // count (default: one thread per processor).
  static WorkerPool& shared();
  // Takes effect only before the first call of shared(); returns false after.
  static bool setSharedThreadCount(unsigned threadCount);

  static unsigned processorCount();

 private:
  friend class TaskGroup;
  struct Task {
    std::function<void()> fn;
    std::shared_ptr<TaskGroup::State> group;
  };
  void enqueue(Task task);
  void runTask(Task& task);
  bool runOneQueued(std::unique_lock<std::mutex>& lock);
  void workerLoop();
  void waitFor(const std::shared_ptr<TaskGroup::State>& group);

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable taskFinished_;
  std::deque<Task> queue_;
  std::size_t unfinished_ = 0;  // queued or running
  bool stopping_ = false;
  std::shared_ptr<TaskGroup::State> loose_;  // tasks from submit()
  std::vector<std::thread> threads_;
};

// Calls body(i) for i in [0, count), spread over the pool's threads, and
// returns when every call has finished. Runs inline when count <= 1 or the
// pool has a single thread, so the work and its results are the same at any
// thread count as long as body(i) writes only its own part.
void parallelFor(WorkerPool& pool, std::size_t count, const std::function<void(std::size_t)>& body);

}  // namespace host
