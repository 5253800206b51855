// Result codes of the job pipeline.
#pragma once

#include <cstdint>

namespace pipeline {

enum : int16_t {
  kResultOK = 0,
  kResultObjectDrawn = 1,
  kResultAllObjectsDrawn = 99,
  kResultNotAJobFile = 100,      // "Invalid Job Version Number!"
  kResultReadFailure = 101,      // "Read File Error!"
  kResultObjectFailed = 102,     // reported as 105
  kResultEndJob = 103,           // end the job without error
  kResultOutOfMemory = 105,      // "Out of Memory Error!"
  kResultSetFolderMissing = 106, // "Print to File Set Folder could not be found!"
  kResultPrinterFile = 107,      // "Could not write printer file!"
  kResultUnknownJob = 108,       // move the job to the unknown-jobs folder, no message
  kResultSetFolderMissing2 = 109,
  kResultStopped = 111,          // the program is ending: the job is kept for the next start
  // 112: the system printer cannot say whether it has the page (output/SystemPrint.h)
  kResultPrivateFolderRefused = 113,  // the private folder cannot be used: the job view's failure says why
};

}  // namespace pipeline
