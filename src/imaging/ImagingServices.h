// The remaining services the job pipeline calls in the imaging code: the
// scope object for image work, start-up of the worker pool, the per-image
// settings read from photo files and the colour matching step.
//
// Per-image settings are in ImageProperties.h, colour matching in
// ColorMatching.h; both are included here for the callers.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ColorAdjust.h"
#include "imaging/ColorMatching.h"
#include "imaging/ImageProperties.h"

// A scope around a block of image work. Image objects here are reference
// counted, so there is no pool to drain; the scope exists for the callers.
class CocoaContext {
 public:
  CocoaContext();
  ~CocoaContext() = default;
  CocoaContext(const CocoaContext&) = delete;
  CocoaContext& operator=(const CocoaContext&) = delete;
};

// Starts the shared worker pool (one worker per processor) that the resampler
// and the blur use; 0. Later calls do nothing.
int32_t MPJobs_Init();

