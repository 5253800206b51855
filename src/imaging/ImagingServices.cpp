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

bool loadPropertiesFromFile(const FSSpec&, tImageProperties*) { return false; }

bool FindProfile(OSType, FSSpec*, const CStr255_AC&) { return false; }

void matchInputAndOutput(host::GWorld*, const tColorSyncPrefs*, int16_t printerCode) {
  platform::LogF("matchInputAndOutput: colour matching is not available, printer code %d left unmatched",
                 printerCode);
}
