// Work on a thread of its own: an EasyThread runs its start, main and end
// operations, in that order, on a new detached thread. Its companion
// ThreadWrapper is the thread's entry. Subclasses override the operations;
// the object must stay alive until ThreadEnding has returned (a subclass may
// delete itself there).
#pragma once

#include <mutex>
#include <optional>
#include <thread>

class EasyThread;

class ThreadWrapper {
 public:
  ThreadWrapper& initForThread(EasyThread* thread);
  // The thread's entry: ThreadStarted, ThreadMain, ThreadEnding.
  void run();

 private:
  EasyThread* thread_ = nullptr;
};

class EasyThread {
 public:
  EasyThread();
  virtual ~EasyThread();
  EasyThread(const EasyThread&) = delete;
  EasyThread& operator=(const EasyThread&) = delete;

  // Starts a new detached thread whose entry is the wrapper's run. False
  // (logged) when the system gives no thread.
  bool Run();

  // Records the current thread.
  virtual void ThreadStarted();
  // The work; does nothing here.
  virtual void ThreadMain();
  // Forgets the thread.
  virtual void ThreadEnding();

  // The thread running the operations, none before it started and after it
  // ended.
  std::optional<std::thread::id> RunningThread() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::thread::id> thread_;
  ThreadWrapper wrapper_;
};

// When true, starting printing would step the jobs on a BeepingThread
// instead of the event loop's job runner. It is false and nothing sets it:
// job steps show their progress in windows, which only the main thread may
// touch.
extern bool gDoNewNSThread;
