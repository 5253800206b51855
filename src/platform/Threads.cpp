#include "platform/Threads.h"

#include <system_error>

#include "platform/Log.h"

bool gDoNewNSThread = false;

ThreadWrapper& ThreadWrapper::initForThread(EasyThread* thread) {
  thread_ = thread;
  return *this;
}

void ThreadWrapper::run() {
  // The wrapper may be gone once ThreadEnding returns (its thread object
  // may delete itself there), so nothing here is touched after it.
  EasyThread* thread = thread_;
  thread->ThreadStarted();
  thread->ThreadMain();
  thread->ThreadEnding();
}

EasyThread::EasyThread() { wrapper_.initForThread(this); }

EasyThread::~EasyThread() = default;

bool EasyThread::Run() {
  try {
    std::thread([wrapper = &wrapper_] { wrapper->run(); }).detach();
    return true;
  } catch (const std::system_error& e) {
    platform::LogF("EasyThread::Run could not start a thread: %s", e.what());
    return false;
  }
}

void EasyThread::ThreadStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  thread_ = std::this_thread::get_id();
}

void EasyThread::ThreadMain() {}

void EasyThread::ThreadEnding() {
  std::lock_guard<std::mutex> lock(mutex_);
  thread_.reset();
}

std::optional<std::thread::id> EasyThread::RunningThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_;
}
