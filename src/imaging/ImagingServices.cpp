#include "imaging/ImagingServices.h"

#include <atomic>

#include "host/workers/WorkerPool.h"
#include "platform/Log.h"

CocoaContext::CocoaContext() {
  static std::atomic<bool> first{true};
  if (first.exchange(false)) platform::LogLine("CocoaContext: image services ready");
}

int32_t MPJobs_Init() {
  host::WorkerPool::shared();
  return 0;
}
