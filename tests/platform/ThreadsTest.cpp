// EasyThread: the three operations run in order on a thread of their own.
#include "platform/Threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

class RecordingThread : public EasyThread {
 public:
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<std::string> calls;
  std::optional<std::thread::id> seenInMain;
  std::thread::id mainThread;
  bool done = false;

  void ThreadStarted() override {
    EasyThread::ThreadStarted();
    Record("started");
  }
  void ThreadMain() override {
    seenInMain = RunningThread();
    mainThread = std::this_thread::get_id();
    Record("main");
  }
  void ThreadEnding() override {
    EasyThread::ThreadEnding();
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back("ending");
    done = true;
    ended.notify_all();
  }
  void Record(const char* what) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(what);
  }
  bool WaitEnded() {
    std::unique_lock<std::mutex> lock(mutex);
    return ended.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
  }
};

TEST(EasyThread, RunsStartMainAndEndOnANewThreadAndForgetsIt) {
  RecordingThread thread;
  EXPECT_FALSE(thread.RunningThread().has_value());
  ASSERT_TRUE(thread.Run());
  ASSERT_TRUE(thread.WaitEnded());
  std::lock_guard<std::mutex> lock(thread.mutex);
  EXPECT_EQ(thread.calls, (std::vector<std::string>{"started", "main", "ending"}));
  ASSERT_TRUE(thread.seenInMain.has_value());
  EXPECT_EQ(*thread.seenInMain, thread.mainThread);
  EXPECT_NE(thread.mainThread, std::this_thread::get_id());
  EXPECT_FALSE(thread.RunningThread().has_value());
  EXPECT_FALSE(gDoNewNSThread);
}

}  // namespace
