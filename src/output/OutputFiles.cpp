#include "output/OutputFiles.h"

#include "host/base/Geometry.h"
#include "imaging/CropFit.h"
#include "imaging/Resampler.h"

namespace output {

std::string CleanName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(c == '/' || u < 0x20 || u == 0x7F ? '_' : c);
  }
  if (!out.empty() && out.find_first_not_of('.') == std::string::npos) out = "_";
  return out;
}

host::GWorldHandle FitPage(const host::GWorld& page, int32_t maxWidth, int32_t maxHeight) {
  const CLongRect_AC box(0, 0, maxHeight, maxWidth);
  const CLongRect_AC src(0, 0, page.height(), page.width());
  CLongRect_AC fit = ResizeToFit(box, src);
  const int32_t fw = int32_t(fit.Width()), fh = int32_t(fit.Height());
  if (fw <= 0 || fh <= 0) return nullptr;
  auto out = host::GWorld::Create(CLongRect_AC(0, 0, fh, fw));
  if (!out) return nullptr;
  if (!betterResizeGworldToGworld(const_cast<host::GWorld*>(&page), page.bounds(), out.get(), out->bounds(),
                                  kScaleLinear))
    return nullptr;
  return out;
}

}  // namespace output
