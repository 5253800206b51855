#include "pipeline/BeepingThread.h"

#include <cstdint>

#include "pipeline/PrintJobTaskManager.h"
#include "platform/Log.h"

namespace pipeline {

void BeepingThread::ThreadMain() {
  // A 16-bit counter from 0 until it turns negative: 32,768 passes.
  for (int16_t pass = 0; pass >= 0; pass = static_cast<int16_t>(pass + 1)) {
    platform::LogLine("BeepingThread::ThreadMain");
    if (gPrintJobTaskManager && gPrintJobTaskManager->IsActive()) gPrintJobTaskManager->DoNextTask();
  }
}

void BeepingThread::ThreadEnding() {
  EasyThread::ThreadEnding();
  delete this;
}

}  // namespace pipeline
