// Worker pool: threads sleep on a condition variable until a task is queued;
// finished tasks wake the waiters of their group.
#include "host/workers/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace host {

TaskGroup::TaskGroup(WorkerPool& pool) : pool_(pool), state_(std::make_shared<State>()) {}

TaskGroup::~TaskGroup() {
  try {
    pool_.waitFor(state_);
  } catch (...) {
  }
}

void TaskGroup::run(std::function<void()> task) {
  pool_.enqueue(WorkerPool::Task{std::move(task), state_});
}

void TaskGroup::wait() {
  pool_.waitFor(state_);
  std::exception_ptr error;
  {
    std::lock_guard lock(pool_.mutex_);
    std::swap(error, state_->error);
  }
  if (error) std::rethrow_exception(error);
}

unsigned WorkerPool::processorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

WorkerPool::WorkerPool(unsigned threadCount) : loose_(std::make_shared<TaskGroup::State>()) {
  if (threadCount == 0) threadCount = processorCount();
  threads_.reserve(threadCount);
  for (unsigned i = 0; i < threadCount; ++i) threads_.emplace_back([this] { workerLoop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  for (auto& t : threads_) t.join();
}

void WorkerPool::enqueue(Task task) {
  {
    std::lock_guard lock(mutex_);
    ++task.group->pending;
    ++unfinished_;
    queue_.push_back(std::move(task));
  }
  workAvailable_.notify_one();
}

void WorkerPool::submit(std::function<void()> task) { enqueue(Task{std::move(task), loose_}); }

// Runs one task outside the lock and books its end; the lock is held again
// on return.
void WorkerPool::runTask(Task& task) {
  std::exception_ptr error;
  try {
    if (task.fn) task.fn();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  if (error && !task.group->error) task.group->error = error;
  --task.group->pending;
  --unfinished_;
}

bool WorkerPool::runOneQueued(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  Task task = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  runTask(task);
  task = Task{};  // release the callable before waking anyone
  lock.lock();
  taskFinished_.notify_all();
  return true;
}

void WorkerPool::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping and nothing left
    runOneQueued(lock);
  }
}

void WorkerPool::waitFor(const std::shared_ptr<TaskGroup::State>& group) {
  std::unique_lock lock(mutex_);
  while (group->pending > 0) {
    if (!runOneQueued(lock)) taskFinished_.wait(lock);
  }
}

void WorkerPool::wait() {
  std::exception_ptr error;
  {
    std::unique_lock lock(mutex_);
    while (unfinished_ > 0) {
      if (!runOneQueued(lock)) taskFinished_.wait(lock);
    }
    std::swap(error, loose_->error);
  }
  if (error) std::rethrow_exception(error);
}

namespace {
std::atomic<unsigned> gSharedThreadCount{0};
std::once_flag gSharedOnce;
std::atomic<bool> gSharedMade{false};
WorkerPool* gShared = nullptr;
}  // namespace

WorkerPool& WorkerPool::shared() {
  std::call_once(gSharedOnce, [] {
    static WorkerPool pool(gSharedThreadCount.load());
    gShared = &pool;
    gSharedMade = true;
  });
  return *gShared;
}

bool WorkerPool::setSharedThreadCount(unsigned threadCount) {
  if (gSharedMade) return false;
  gSharedThreadCount = threadCount;
  return true;
}

void parallelFor(WorkerPool& pool, std::size_t count, const std::function<void(std::size_t)>& body) {
  if (count == 0) return;
  if (count == 1 || pool.threadCount() <= 1) {
    for (std::size_t i = 0; i < count; ++i) body(i);
    return;
  }
  TaskGroup group(pool);
  for (std::size_t i = 0; i < count; ++i) group.run([&body, i] { body(i); });
  group.wait();
}

}  // namespace host
