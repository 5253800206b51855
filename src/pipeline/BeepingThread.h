// A job thread of its own: steps the task manager from an EasyThread, one
// step per pass for 32,768 passes, then deletes itself. Used only when
// gDoNewNSThread is on, which it never is (see platform/Threads.h).
#pragma once

#include "platform/Threads.h"

namespace pipeline {

class BeepingThread : public EasyThread {
 public:
  static constexpr int kPasses = 32768;

  // Each pass writes "BeepingThread::ThreadMain" to the log and, while the
  // task manager exists and is active, runs one step of it.
  void ThreadMain() override;
  // Deletes this thread object.
  void ThreadEnding() override;
};

}  // namespace pipeline
