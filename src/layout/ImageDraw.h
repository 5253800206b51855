// The pixel work of an image box: loading the photo through the photo cache,
// turning and colour-adjusting it, placing it in its box and drawing it into
// the page, the sub-job branch, the frame graphic and the border.
//
// The image object collects its own values and the job's into a
// TImageDrawRequest; this keeps the descriptor records and the imaging
// records apart.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "chromakey/ChromaKeySettings.h"
#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "layout/LayoutObject.h"

namespace host { class GWorld; }

namespace layout {

struct TImageDrawRequest {
  // The photo: its file specification in the images folder and its path.
  FSSpec spec;
  std::filesystem::path path;
  float rotation = 0;
  std::array<int16_t, 6> colorAdjust{};  // red, green, blue, dark, light, gamma
  int16_t imageSize = 0;

  CRect_AC box;
  int16_t dpi = 0;
  int16_t cropToFill = 0;
  CPoint_AC offset;
  int16_t insetAmount = 0;
  bool useCropBounds = false;
  std::array<float, 4> cropBounds{};  // x, y, width, height in the photo's pixels

  // Free rotation: the angle already resolved from its direction (0 = none).
  bool freeRotate = false;
  int16_t angle = 0;
  int32_t boxScale = 0;

  bool border = false;
  int16_t borderWidth = 0;
  RGBColor borderColor;
  CStr31_AC graphicCategory, graphicName;

  TImageJobValues job;
  // The photo's chroma-key settings when it is keyed over the page, else null.
  const tChromaKeySettings* chromaKey = nullptr;
};

// What drawing produced, for the object to keep.
struct TImageDrawResult {
  bool ok = true;
  CRect_AC lastSource, lastTarget;
};

// The placement path of print modes other than 0, 1, 2 and 4 (with the
// sub-job branch) and the one of print modes 0, 1, 2 and 4.
TImageDrawResult DrawImageBox(host::GWorld* page, const TImageDrawRequest& request, TJobContext& view);
TImageDrawResult DrawImageBoxNew(host::GWorld* page, const TImageDrawRequest& request, TJobContext& view);

// The operator message for a photo that could not be loaded: not found
// (also for a name that is refused), not a regular file, unreadable or
// damaged. `name` is the photo's name from the job (UTF-8).
std::string PhotoFailureMessage(const std::filesystem::path& path, const std::string& name);
// The operator message for a graphic of the graphics folder that is there
// but could not be drawn: not a regular file, unreadable, in a form that
// cannot be printed or damaged. `kind` says what the job uses it as ("frame
// graphic", "group photo"); the graphic is named by its category folder and
// file name.
std::string GraphicFailureMessage(const std::string& kind, const std::filesystem::path& path);
// The operator message refusing a photo reached through a symbolic link,
// the photo's name or its sidecar ("._name", its colour settings) being
// one: such a link is never followed and the job fails. Empty when neither
// is a link.
std::string LinkedPhotoMessage(const std::filesystem::path& path, const std::string& name);
// The operator message refusing graphic `name` of `category` in
// `graphicsFolder` when it, or its category folder, is a symbolic link:
// such a link is never followed and the job fails. Empty when neither is.
std::string LinkedGraphicMessage(const std::filesystem::path& graphicsFolder, const CStr31_AC& category,
                                 const CStr63_AC& name);
// Shrinks the destination to the target's bounds and the source by the same
// proportion, so that no copy ever writes outside the target. False when
// nothing of either is left.
bool ClipToTarget(CLongRect_AC& src, CLongRect_AC& dst, const CLongRect_AC& bounds);

// The first-image-only route: the photo read (and registered for deletion),
// turned by its rotation, its include mask in its alpha, shrunk to fit
// 640 x 640 pixels in a new offscreen at the origin. None when it cannot be
// read. `placed` gets the shrunk photo's rectangle as both rectangles.
host::GWorldHandle ReadPhotoForFirstImageRoute(const TImageDrawRequest& request, TJobContext& view,
                                               TImageDrawResult& placed);

// Empties the photo cache (the job view does it when a job ends).
void DisposePhotoCache();

// On: the new path always draws the photo's part into an offscreen of the
// crop's size first, even where that is a plain copy. Tests compare the
// pages drawn both ways.
void AlwaysDrawThroughCropForTesting(bool on);

}  // namespace layout
