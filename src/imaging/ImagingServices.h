// The remaining services the job pipeline calls in the imaging code: the
// scope object for image work, start-up of the worker pool, the per-image
// settings read from photo files and the colour matching step.
//
// Per-image settings stored in photo files and colour matching come with the
// colour stage; until then every photo reads as having no stored settings and
// matching is skipped with a log line.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ColorAdjust.h"

struct tColorSyncPrefs;

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

// The per-image settings of a photo (crop, inset, offset, colour adjustment
// and the photo size they were set at).
struct tImageProperties {
  CPoint_AC offset;       // v, h
  int16_t inset = 0;
  float rotation = 0;
  int16_t cropping = 0;
  float hRatio = 0;
  float vRatio = 0;
  int16_t cropPosition = 0;
  myImageColorAdjustInfo colorAdjust;
  CPoint_AC imageSize;    // v = height, h = width
};

// True when the photo file carries stored settings, copied into `out`.
// No file carries any yet: always false, `out` untouched.
bool loadPropertiesFromFile(const FSSpec& file, tImageProperties* out);

// Profile lookup by class ('scnr', 'prtr') and name: no profiles are
// installed for the program yet, so nothing is found.
bool FindProfile(OSType profileClass, FSSpec* file, const CStr255_AC& name);

// Colour matching of a finished page: skipped (logged) until the colour
// stage exists; the page is left as it is.
void matchInputAndOutput(host::GWorld* page, const tColorSyncPrefs* prefs, int16_t printerCode);
