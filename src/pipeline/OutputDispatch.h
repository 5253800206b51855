// The job view's side of the output routes: the output view of a job's
// values (output::TOutputJob, filled from the job view's fields) and the
// hooks the routes use in this program.
//
// Which job-view field feeds which output value:
//   printQuantity          -> copies
//   printToFileOptionC     -> plainName      (single-folder route)
//   printToFileOptionD     -> outputQuality  (single folder and sets; 0 = the
//                                             output-file quality)
//   trailerText            -> sourcePath     (Mac Roman to UTF-8)
//   blockE                 -> dornsBlock
//   metadataOption         -> dornsSwitch
//   videoMerge / videoCopy / videoPath
//   printToFileSet         -> jobSet
//   blocks.print2File      -> item (set, keep alpha, subfolders, R1..R6)
//   colorSyncPrefs->printers[printer].w0 -> embedSourceProfile
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "host/sys/PlistValue.h"
#include "output/OutputJob.h"

namespace pipeline {

class TBGPrintView;

output::TOutputJob MakeOutputJob(const TBGPrintView& view, const std::optional<host::PlistDict>& webDictionary);

// The hooks the routes use (default: output::DefaultOutputEnv()).
void SetOutputEnvironment(output::TOutputEnv env);
output::TOutputEnv& OutputEnvironment();

bool IsPrintToFileSetCode(int16_t code);

// The most prints one job can ask for: what a route's copies can carry.
inline constexpr int kMaxPrintCopies = 32767;
// The prints a job's quantity makes (and counts): 0 makes one.
int PrintCopies(uint16_t printQuantity);

// Tells the web server that the job of the web data `archive` (its keyed
// archive) is processed; true once the notification has left for the bus.
bool NotifyJobProcessed(std::span<const uint8_t> archive);

}  // namespace pipeline
