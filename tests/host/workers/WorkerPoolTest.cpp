#include "host/workers/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <stdexcept>
#include <vector>

namespace {

TEST(WorkerPool, RunsEveryTaskExactlyOnceAndWaitsForAll) {
  for (unsigned threads : {1u, 3u, 8u}) {
    host::WorkerPool pool(threads);
    EXPECT_EQ(pool.threadCount(), threads);
    constexpr int kTasks = 1000;
    std::vector<int> hits(kTasks, 0);
    std::atomic<int> total{0};
    for (int i = 0; i < kTasks; ++i)
      pool.submit([&, i] {
        ++hits[i];
        ++total;
      });
    pool.wait();
    EXPECT_EQ(total.load(), kTasks);
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(hits[i], 1) << "task " << i;
  }
}

TEST(WorkerPool, TasksRunConcurrently) {
  host::WorkerPool pool(4);
  std::barrier meet(4);  // only passes when four tasks run at the same time
  host::TaskGroup group(pool);
  for (int i = 0; i < 4; ++i) group.run([&] { meet.arrive_and_wait(); });
  group.wait();
}

TEST(WorkerPool, GroupWaitsOnlyForItsOwnTasksAndRethrows) {
  host::WorkerPool pool(2);
  std::atomic<int> done{0};
  host::TaskGroup group(pool);
  group.run([&] { ++done; });
  group.run([] { throw std::runtime_error("task failed"); });
  group.run([&] { ++done; });
  EXPECT_THROW(group.wait(), std::runtime_error);
  EXPECT_EQ(done.load(), 2);
  // The error was handed over once; the group is usable again.
  group.run([&] { ++done; });
  EXPECT_NO_THROW(group.wait());
  EXPECT_EQ(done.load(), 3);
}

TEST(WorkerPool, NestedGroupsDoNotDeadlockOnOneThread) {
  host::WorkerPool pool(1);
  std::atomic<int> leaves{0};
  host::TaskGroup outer(pool);
  for (int i = 0; i < 3; ++i)
    outer.run([&] {
      host::TaskGroup inner(pool);
      for (int j = 0; j < 4; ++j) inner.run([&] { ++leaves; });
      inner.wait();
    });
  outer.wait();
  EXPECT_EQ(leaves.load(), 12);
}

TEST(WorkerPool, ParallelForGivesTheSameResultAtAnyThreadCount) {
  auto compute = [](unsigned threads) {
    host::WorkerPool pool(threads);
    std::vector<long> rows(257);
    host::parallelFor(pool, rows.size(), [&](std::size_t i) {
      long v = 0;
      for (std::size_t k = 0; k <= i; ++k) v += static_cast<long>(k * k % 7);
      rows[i] = v;
    });
    return rows;
  };
  EXPECT_EQ(compute(1), compute(5));
}

TEST(WorkerPool, DestructorFinishesQueuedTasks) {
  std::atomic<int> done{0};
  {
    host::WorkerPool pool(2);
    for (int i = 0; i < 50; ++i) pool.submit([&] { ++done; });
  }
  EXPECT_EQ(done.load(), 50);
}

}  // namespace
