#include "chromakey/Masks.h"

#include <agg_basics.h>
#include <agg_ellipse.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <span>
#include <string>

#include "host/base/MacTypes.h"
#include "host/files/ResourceFork.h"
#include "host/sys/KeyedArchive.h"
#include "imaging/Offscreen.h"
#include "platform/Log.h"

namespace chromakey {

namespace {

constexpr ResType kPrefType = FourCC("Pref");
// Outlines further out than this are not drawn (AGG's fixed-point range).
constexpr double kMaxCoordinate = 4'000'000.0;

std::string Describe(const host::PlistArray& shape) {
  std::string text = "(";
  for (size_t i = 0; i < shape.size(); ++i) {
    text += i == 0 ? "\n    " : ",\n    ";
    if (const std::string* s = shape[i].asString()) text += "\"" + *s + "\"";
    else text += "<not a string>";
  }
  return text + "\n)";
}

const std::string* Kind(const host::PlistArray& shape) {
  return shape.empty() ? nullptr : shape[0].asString();
}

// trunc(v) x scale, truncated, within the 16-bit range of the rectangles.
int32_t Scaled16(double v, float scale) {
  double s = std::trunc(std::trunc(v) * double(scale));
  if (!std::isfinite(s)) s = 0;
  return int32_t(std::clamp(s, -32768.0, 32767.0));
}

struct ScaledRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The scaled rectangle of element 1 of a rectangle or oval shape.
bool ShapeRect(const host::PlistArray& shape, float scale, ScaledRect* r) {
  if (shape.size() < 2) return false;
  const std::string* text = shape[1].asString();
  double x, y, w, h;
  if (text == nullptr || !ParseRectString(*text, &x, &y, &w, &h)) return false;
  r->left = Scaled16(x, scale);
  r->top = Scaled16(y, scale);
  r->right = Scaled16(x + w, scale);
  r->bottom = Scaled16(y + h, scale);
  return true;
}

// Drawing white or black into an offscreen's pixels (all four bytes; the
// offscreens drawn here are masks whose colour is what counts).
class MaskCanvas {
 public:
  explicit MaskCanvas(host::GWorld& world)
      : world_(world),
        rbuf_(world.pixels(), unsigned(world.width()), unsigned(world.height()), int(world.rowBytes())),
        pixf_(rbuf_),
        ren_(pixf_) {
    ras_.clip_box(0, 0, world.width(), world.height());
  }

  // Fills the pixels of the rectangle (clipped to the offscreen) exactly.
  void FillRect(const ScaledRect& r, uint8_t level) {
    const int32_t l = std::max(r.left, 0), t = std::max(r.top, 0);
    const int32_t rt = std::min(r.right, world_.width()), b = std::min(r.bottom, world_.height());
    for (int32_t y = t; y < b; ++y) {
      uint8_t* p = world_.scanline(y) + size_t(l) * 4;
      for (int32_t x = l; x < rt; ++x, p += 4) {
        p[0] = 255;
        p[1] = p[2] = p[3] = level;
      }
    }
  }

  void FillOval(const ScaledRect& r, uint8_t level) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    agg::ellipse e((r.left + r.right) / 2.0, (r.top + r.bottom) / 2.0, (r.right - r.left) / 2.0,
                   (r.bottom - r.top) / 2.0);
    agg::path_storage path;
    path.concat_path(e);
    ras_.reset();
    ras_.add_path(path);
    Render(level);
  }

  // Points already in buffer coordinates.
  void FillPolygon(const std::vector<std::pair<double, double>>& points, uint8_t level) {
    if (points.size() < 3) return;  // an empty or degenerate path fills nothing
    agg::path_storage path;
    for (size_t i = 0; i < points.size(); ++i) {
      if (i == 0) path.move_to(points[i].first, points[i].second);
      else path.line_to(points[i].first, points[i].second);
    }
    path.close_polygon();
    ras_.reset();
    ras_.add_path(path);
    Render(level);
  }

 private:
  void Render(uint8_t level) {
    agg::scanline_u8 sl;
    agg::render_scanlines_aa_solid(ras_, sl, ren_, agg::rgba8(level, level, level, 255));
    ras_.reset();
  }

  host::GWorld& world_;
  agg::rendering_buffer rbuf_;
  agg::pixfmt_argb32 pixf_;
  agg::renderer_base<agg::pixfmt_argb32> ren_;
  agg::rasterizer_scanline_aa<> ras_;
};

void DrawShape(host::GWorld* target, const host::PlistArray* shape, float scale, uint8_t level,
               const char* logName) {
  if (target == nullptr || shape == nullptr) return;
  platform::LogF("%s = data:\n[%s]", logName, Describe(*shape).c_str());
  ScaledRect r;
  if (!ShapeRect(*shape, scale, &r)) return;
  MaskCanvas canvas(*target);
  const std::string* kind = Kind(*shape);
  if (kind != nullptr && *kind == "rectangle") canvas.FillRect(r, level);
  else canvas.FillOval(r, level);
}

void DrawPath(host::GWorld* target, const host::PlistArray* shape, float scale, uint8_t level,
              const char* logName) {
  if (target == nullptr || shape == nullptr) return;
  platform::LogF("%s - data:\n[%s]", logName, Describe(*shape).c_str());
  std::vector<std::pair<double, double>> points;
  const double height = target->height();
  for (size_t i = 1; i < shape->size(); ++i) {
    const std::string* text = (*shape)[i].asString();
    double x, y, w, h;
    if (text == nullptr || !ParseRectString(*text, &x, &y, &w, &h)) continue;
    const double px = x * scale, py = height - y * scale;  // y upwards in the stored form
    if (!(std::fabs(px) < kMaxCoordinate && std::fabs(py) < kMaxCoordinate)) return;
    points.emplace_back(px, py);
  }
  MaskCanvas(*target).FillPolygon(points, level);
}

// Draws every shape of an include mask (white) into `mask`.
void DrawIncludeShapes(host::GWorld* mask, const host::PlistArray& shapes, float scale) {
  for (const host::PlistValue& v : shapes) {
    const host::PlistArray* shape = v.asArray();
    if (shape == nullptr) continue;
    const std::string* kind = Kind(*shape);
    if (kind != nullptr && *kind == "freeForm") drawArrayAsPathToOffscreen(mask, shape, scale);
    else drawArrayAsShapeToOffscreen(mask, shape, scale);
  }
}

void PaintBlack(host::GWorld* world) {
  for (int32_t y = 0; y < world->height(); ++y) {
    uint8_t* p = world->scanline(y);
    for (int32_t x = 0; x < world->width(); ++x, p += 4) p[1] = p[2] = p[3] = 0;
  }
}

}  // namespace

bool ParseRectString(const std::string& text, double* x, double* y, double* w, double* h) {
  double v[4] = {0, 0, 0, 0};
  int n = 0;
  const char* p = text.c_str();
  while (*p != '\0' && n < 4) {
    const char c = *p;
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
      char* end = nullptr;
      const double d = std::strtod(p, &end);
      if (end == p) {
        ++p;
        continue;
      }
      if (!std::isfinite(d)) return false;
      v[n++] = d;
      p = end;
    } else if (c == 'n' || c == 'N' || c == 'i' || c == 'I') {
      return false;  // "nan", "inf"
    } else {
      ++p;
    }
  }
  *x = v[0];
  *y = v[1];
  *w = v[2];
  *h = v[3];
  return true;
}

std::optional<host::PlistArray> ReadMaskShapes(const FSSpec& imageFile, int16_t id) {
  std::string path;
  if (host::GetPathOfFSSpec(imageFile, &path) != noErr) return std::nullopt;
  host::ResourceMap map;
  const OSErr err = host::ReadResourceFork(path, &map);
  if (err == mapReadErr) {
    platform::LogF("The resource fork of \"%s\" is damaged; its masks are not used", path.c_str());
    return std::nullopt;
  }
  if (err != noErr) return std::nullopt;  // no fork, no mask
  const host::Resource* res = map.Get(kPrefType, id);
  if (res == nullptr) return std::nullopt;
  std::string error;
  std::optional<host::PlistValue> root =
      host::decodeKeyedArchive(std::span<const uint8_t>(res->data.data(), res->data.size()), &error);
  if (!root || root->asArray() == nullptr) {
    platform::LogF("Mask resource %d of \"%s\" is not a list of shapes (%s); no mask is used", int(id),
                   path.c_str(), root ? "not an array" : error.c_str());
    return std::nullopt;
  }
  return std::move(*root->asArray());
}

}  // namespace chromakey

using chromakey::ReadMaskShapes;

bool hasExternalMask(const FSSpec& imageFile) {
  return ReadMaskShapes(imageFile, chromakey::kIncludeMaskID).has_value();
}

bool hasExclusionMask(const FSSpec& imageFile) {
  return ReadMaskShapes(imageFile, chromakey::kExclusionMaskID).has_value();
}

void drawArrayAsShapeToOffscreen(host::GWorld* target, const host::PlistArray* shape, float scale) {
  chromakey::DrawShape(target, shape, scale, 255, "drawArrayAsShapeToOffscreen");
}

void drawArrayAsPathToOffscreen(host::GWorld* target, const host::PlistArray* shape, float scale) {
  chromakey::DrawPath(target, shape, scale, 255, "drawArrayAsPathToOffscreen");
}

void drawArrayAsShapeToOffscreenForExclusionMask(host::GWorld* target, const host::PlistArray* shape,
                                                 float scale) {
  chromakey::DrawShape(target, shape, scale, 0, "drawArrayAsShapeToOffscreenForExclusionMask");
}

void drawArrayAsPathToOffscreenForExclusionMask(host::GWorld* target, const host::PlistArray* shape,
                                                float scale) {
  chromakey::DrawPath(target, shape, scale, 0, "drawArrayAsPathToOffscreenForExclusionMask");
}

static host::GWorldHandle MakeIncludeMask(const host::GWorld* like, const host::PlistArray& shapes,
                                          float scale) {
  host::GWorldHandle mask = myNewGWorld(CLongRect_AC(0, 0, like->height(), like->width()));
  if (!mask) return mask;
  chromakey::PaintBlack(mask.get());
  chromakey::DrawIncludeShapes(mask.get(), shapes, scale);
  return mask;
}

void copyJunkMaskToAlphaChannelOffscreen(host::GWorld* target, const FSSpec& imageFile, float scale) {
  if (target == nullptr) return;
  std::optional<host::PlistArray> shapes = ReadMaskShapes(imageFile, chromakey::kIncludeMaskID);
  if (!shapes) return;
  host::GWorldHandle mask = MakeIncludeMask(target, *shapes, scale);
  if (!mask) return;
  myClearOffscreen(target);
  myCopyMaskGworldToAlphaChannel(target, mask.get());
}

host::GWorldHandle getNewJunkMaskOffscreen(const host::GWorld* like, const FSSpec& imageFile, float scale) {
  if (like == nullptr) return nullptr;
  std::optional<host::PlistArray> shapes = ReadMaskShapes(imageFile, chromakey::kIncludeMaskID);
  if (!shapes) return nullptr;
  return MakeIncludeMask(like, *shapes, scale);
}

void copyExclusionMaskToOffscreen(host::GWorld* target, const FSSpec& imageFile, float scale) {
  if (target == nullptr) return;
  std::optional<host::PlistArray> shapes = ReadMaskShapes(imageFile, chromakey::kExclusionMaskID);
  if (!shapes) return;
  for (int32_t y = 0; y < target->height(); ++y) {
    uint8_t* p = target->scanline(y);
    for (int32_t x = 0; x < target->width(); ++x, p += 4) p[1] = p[2] = p[3] = 255;
  }
  for (const host::PlistValue& v : *shapes) {
    const host::PlistArray* shape = v.asArray();
    if (shape == nullptr) continue;
    const std::string* kind = shape->empty() ? nullptr : (*shape)[0].asString();
    if (kind != nullptr && *kind == "freeForm")
      drawArrayAsPathToOffscreenForExclusionMask(target, shape, scale);
    else
      drawArrayAsShapeToOffscreenForExclusionMask(target, shape, scale);
  }
}
