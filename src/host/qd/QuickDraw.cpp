#include "host/qd/QuickDraw.h"

#include <agg_ellipse.h>
#include <agg_path_storage.h>
#include <agg_rounded_rect.h>

#include <algorithm>
#include <array>
#include <vector>

#include "host/qd/Canvas.h"

namespace host {
namespace {

// One drawing thread owns the ports (the job thread), so plain globals.
GWorld* gCurrentPort = nullptr;
// The ports that live SavedPort objects will restore, so that an offscreen
// disposed inside such a scope is never made current again afterwards.
std::vector<GWorld**> gSavedPorts;

// Rectangles are clamped to this margin around the offscreen before they are
// turned into paths: further out nothing changes on screen, and AGG's
// fixed-point coordinates stay in range. It exceeds any pen size.
constexpr int64_t kRectMargin = 70000;

struct LocalRect {
  double x1, y1, x2, y2;
};

LocalRect ClampedLocal(const GWorld& world, const CLongRect_AC& r) {
  const CLongRect_AC& b = world.bounds();
  auto clampH = [&](int64_t h) {
    return double(std::clamp<int64_t>(h - b.left, -kRectMargin, b.Width() + kRectMargin));
  };
  auto clampV = [&](int64_t v) {
    return double(std::clamp<int64_t>(v - b.top, -kRectMargin, b.Height() + kRectMargin));
  };
  return {clampH(r.left), clampV(r.top), clampH(r.right), clampV(r.bottom)};
}

void AddRect(agg::path_storage& path, double x1, double y1, double x2, double y2) {
  path.move_to(x1, y1);
  path.line_to(x2, y1);
  path.line_to(x2, y2);
  path.line_to(x1, y2);
  path.close_polygon();
}

enum class Fill { kFore, kBack, kPattern };

void Render(detail::Canvas& canvas, Fill fill, const Pattern* pattern) {
  const PortState& port = canvas.world().port();
  switch (fill) {
    case Fill::kFore: canvas.RenderSolid(port.foreColor); break;
    case Fill::kBack: canvas.RenderSolid(port.backColor); break;
    case Fill::kPattern: canvas.RenderPattern(*pattern, port.foreColor, port.backColor); break;
  }
}

bool Drawable(const CLongRect_AC& r) { return gCurrentPort != nullptr && !r.IsEmpty(); }

void SolidRect(const CLongRect_AC& r, Fill fill, const Pattern* pattern = nullptr) {
  if (!Drawable(r)) return;
  detail::Canvas canvas(*gCurrentPort);
  const LocalRect l = ClampedLocal(*gCurrentPort, r);
  agg::path_storage path;
  AddRect(path, l.x1, l.y1, l.x2, l.y2);
  canvas.rasterizer().add_path(path);
  Render(canvas, fill, pattern);
}

// The ellipse fills the rectangle; both corners must be in drawing range.
bool OvalInRange(detail::Canvas& canvas, const CLongRect_AC& r) {
  return canvas.InRange(r.left, r.top) && canvas.InRange(r.right, r.bottom);
}

void AddOval(agg::path_storage& path, double x1, double y1, double x2, double y2) {
  agg::ellipse e((x1 + x2) / 2, (y1 + y2) / 2, (x2 - x1) / 2, (y2 - y1) / 2);
  path.concat_path(e);
}

void AddRoundRect(agg::path_storage& path, double x1, double y1, double x2, double y2, double rx, double ry) {
  if (rx <= 0 || ry <= 0) {
    AddRect(path, x1, y1, x2, y2);
    return;
  }
  agg::rounded_rect rr(x1, y1, x2, y2, 0);
  rr.radius(rx, ry);
  rr.normalize_radius();
  path.concat_path(rr);
}

void SolidOval(const CLongRect_AC& r, Fill fill, const Pattern* pattern = nullptr) {
  if (!Drawable(r)) return;
  detail::Canvas canvas(*gCurrentPort);
  if (!OvalInRange(canvas, r)) return;
  agg::path_storage path;
  AddOval(path, r.left - canvas.OriginH(), r.top - canvas.OriginV(), r.right - canvas.OriginH(),
          r.bottom - canvas.OriginV());
  canvas.rasterizer().add_path(path);
  Render(canvas, fill, pattern);
}

void SolidRoundRect(const CLongRect_AC& r, int32_t ow, int32_t oh, Fill fill, const Pattern* pattern = nullptr) {
  if (!Drawable(r)) return;
  detail::Canvas canvas(*gCurrentPort);
  if (!OvalInRange(canvas, r)) return;
  agg::path_storage path;
  AddRoundRect(path, r.left - canvas.OriginH(), r.top - canvas.OriginV(), r.right - canvas.OriginH(),
               r.bottom - canvas.OriginV(), std::max(0, ow) / 2.0, std::max(0, oh) / 2.0);
  canvas.rasterizer().add_path(path);
  Render(canvas, fill, pattern);
}

// Convex hull (monotone chain) of up to eight points, for the swept pen.
size_t ConvexHull(std::array<std::pair<double, double>, 8>& pts, std::array<std::pair<double, double>, 16>& hull) {
  std::sort(pts.begin(), pts.end());
  auto cross = [](const auto& o, const auto& a, const auto& b) {
    return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
  };
  size_t k = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
    hull[k++] = pts[i];
  }
  for (size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
    hull[k++] = pts[i];
  }
  return k > 1 ? k - 1 : k;
}

}  // namespace

GWorld* CurrentPort() { return gCurrentPort; }

SavedPort::SavedPort() : port_(gCurrentPort) { gSavedPorts.push_back(&port_); }
SavedPort::~SavedPort() {
  gSavedPorts.erase(std::find(gSavedPorts.begin(), gSavedPorts.end(), &port_));
  gCurrentPort = port_;
}

namespace detail {
// Called by ~GWorld so that a disposed offscreen never stays the current port.
void ForgetPort(GWorld* world) {
  if (gCurrentPort == world) gCurrentPort = nullptr;
  for (GWorld** saved : gSavedPorts) {
    if (*saved == world) *saved = nullptr;
  }
}
}  // namespace detail

}  // namespace host

using host::gCurrentPort;

void SetGWorld(GWorldPtr port, GDHandle) { gCurrentPort = port; }

void GetGWorld(GWorldPtr* port, GDHandle* device) {
  if (port) *port = gCurrentPort;
  if (device) *device = nullptr;
}

CLongRect_AC GetPortBounds(const host::GWorld* port) { return port ? port->bounds() : CLongRect_AC(); }

void RGBForeColor(const RGBColor& color) {
  if (gCurrentPort) gCurrentPort->port().foreColor = color;
}
void RGBBackColor(const RGBColor& color) {
  if (gCurrentPort) gCurrentPort->port().backColor = color;
}
void GetForeColor(RGBColor* color) {
  if (color) *color = gCurrentPort ? gCurrentPort->port().foreColor : host::PortState().foreColor;
}
void GetBackColor(RGBColor* color) {
  if (color) *color = gCurrentPort ? gCurrentPort->port().backColor : host::PortState().backColor;
}

namespace {
RGBColor ClassicColor(int32_t code) {
  switch (code) {
    case host::whiteColor: return {65535, 65535, 65535};
    case host::redColor: return {56683, 2242, 1698};
    case host::greenColor: return {0, 32768, 4528};
    case host::blueColor: return {0, 0, 54272};
    case host::cyanColor: return {577, 43860, 60159};
    case host::magentaColor: return {62167, 2134, 34028};
    case host::yellowColor: return {64512, 62333, 1327};
    default: return {0, 0, 0};
  }
}
}  // namespace

void ForeColor(int32_t classicColor) { RGBForeColor(ClassicColor(classicColor)); }
void BackColor(int32_t classicColor) { RGBBackColor(ClassicColor(classicColor)); }
void OpColor(const RGBColor& color) {
  if (gCurrentPort) gCurrentPort->port().opColor = color;
}

void PenSize(int16_t width, int16_t height) {
  if (!gCurrentPort) return;
  gCurrentPort->port().penWidth = width;
  gCurrentPort->port().penHeight = height;
}
void PenNormal() { PenSize(1, 1); }

void MoveTo(int32_t h, int32_t v) {
  if (gCurrentPort) gCurrentPort->port().penLocation = CLongPoint_AC(v, h);
}
void Move(int32_t dh, int32_t dv) {
  if (gCurrentPort) gCurrentPort->port().penLocation.Offset(dh, dv);
}
void GetPen(CLongPoint_AC* location) {
  if (location) *location = gCurrentPort ? gCurrentPort->port().penLocation : CLongPoint_AC();
}

void LineTo(int32_t h, int32_t v) {
  if (!gCurrentPort) return;
  host::PortState& port = gCurrentPort->port();
  const CLongPoint_AC from = port.penLocation;
  port.penLocation = CLongPoint_AC(v, h);
  if (port.penWidth <= 0 || port.penHeight <= 0) return;
  host::detail::Canvas canvas(*gCurrentPort);
  if (!canvas.InRange(from.h, from.v) || !canvas.InRange(h, v)) return;
  const double w = port.penWidth, ht = port.penHeight;
  const double x0 = from.h - canvas.OriginH(), y0 = from.v - canvas.OriginV();
  const double x1 = h - canvas.OriginH(), y1 = v - canvas.OriginV();
  // The pen rectangle dragged from one end to the other covers the convex
  // hull of its two positions.
  std::array<std::pair<double, double>, 8> pts{{{x0, y0},
                                                {x0 + w, y0},
                                                {x0, y0 + ht},
                                                {x0 + w, y0 + ht},
                                                {x1, y1},
                                                {x1 + w, y1},
                                                {x1, y1 + ht},
                                                {x1 + w, y1 + ht}}};
  std::array<std::pair<double, double>, 16> hull{};
  const size_t n = host::ConvexHull(pts, hull);
  if (n < 3) return;
  agg::path_storage path;
  path.move_to(hull[0].first, hull[0].second);
  for (size_t i = 1; i < n; ++i) path.line_to(hull[i].first, hull[i].second);
  path.close_polygon();
  canvas.rasterizer().add_path(path);
  canvas.RenderSolid(port.foreColor);
}

void Line(int32_t dh, int32_t dv) {
  if (!gCurrentPort) return;
  const CLongPoint_AC p = gCurrentPort->port().penLocation;
  LineTo(p.h + dh, p.v + dv);
}

void FrameRect(const CLongRect_AC& r) {
  if (!host::Drawable(r)) return;
  const host::PortState& port = gCurrentPort->port();
  if (port.penWidth <= 0 || port.penHeight <= 0) return;
  if (r.Width() <= 2 * int64_t(port.penWidth) || r.Height() <= 2 * int64_t(port.penHeight)) {
    PaintRect(r);
    return;
  }
  host::detail::Canvas canvas(*gCurrentPort);
  const host::LocalRect o = host::ClampedLocal(*gCurrentPort, r);
  CLongRect_AC innerRect = r;
  innerRect.Inset(port.penWidth, port.penHeight);
  const host::LocalRect i = host::ClampedLocal(*gCurrentPort, innerRect);
  agg::path_storage path;
  host::AddRect(path, o.x1, o.y1, o.x2, o.y2);
  host::AddRect(path, i.x1, i.y1, i.x2, i.y2);
  canvas.rasterizer().filling_rule(agg::fill_even_odd);
  canvas.rasterizer().add_path(path);
  canvas.RenderSolid(port.foreColor);
}

void PaintRect(const CLongRect_AC& r) { host::SolidRect(r, host::Fill::kFore); }
void EraseRect(const CLongRect_AC& r) { host::SolidRect(r, host::Fill::kBack); }
void FillRect(const CLongRect_AC& r, const Pattern& pattern) { host::SolidRect(r, host::Fill::kPattern, &pattern); }

void FrameOval(const CLongRect_AC& r) { FrameRoundRect(r, int32_t(r.Width()), int32_t(r.Height())); }
void PaintOval(const CLongRect_AC& r) { host::SolidOval(r, host::Fill::kFore); }
void EraseOval(const CLongRect_AC& r) { host::SolidOval(r, host::Fill::kBack); }
void FillOval(const CLongRect_AC& r, const Pattern& pattern) { host::SolidOval(r, host::Fill::kPattern, &pattern); }

void FrameRoundRect(const CLongRect_AC& r, int32_t ovalWidth, int32_t ovalHeight) {
  if (!host::Drawable(r)) return;
  const host::PortState& port = gCurrentPort->port();
  if (port.penWidth <= 0 || port.penHeight <= 0) return;
  if (r.Width() <= 2 * int64_t(port.penWidth) || r.Height() <= 2 * int64_t(port.penHeight)) {
    PaintRoundRect(r, ovalWidth, ovalHeight);
    return;
  }
  host::detail::Canvas canvas(*gCurrentPort);
  if (!host::OvalInRange(canvas, r)) return;
  const double x1 = r.left - canvas.OriginH(), y1 = r.top - canvas.OriginV();
  const double x2 = r.right - canvas.OriginH(), y2 = r.bottom - canvas.OriginV();
  const double pw = port.penWidth, ph = port.penHeight;
  const double rx = std::min(std::max(0, ovalWidth) / 2.0, (x2 - x1) / 2);
  const double ry = std::min(std::max(0, ovalHeight) / 2.0, (y2 - y1) / 2);
  agg::path_storage path;
  // An oval is a round rectangle whose corners are half its size; its inner
  // edge is then the inset oval.
  const bool oval = rx * 2 >= x2 - x1 && ry * 2 >= y2 - y1;
  if (oval) {
    host::AddOval(path, x1, y1, x2, y2);
    host::AddOval(path, x1 + pw, y1 + ph, x2 - pw, y2 - ph);
  } else {
    host::AddRoundRect(path, x1, y1, x2, y2, rx, ry);
    host::AddRoundRect(path, x1 + pw, y1 + ph, x2 - pw, y2 - ph, std::max(0.0, rx - pw), std::max(0.0, ry - ph));
  }
  canvas.rasterizer().filling_rule(agg::fill_even_odd);
  canvas.rasterizer().add_path(path);
  canvas.RenderSolid(port.foreColor);
}

void PaintRoundRect(const CLongRect_AC& r, int32_t ow, int32_t oh) { host::SolidRoundRect(r, ow, oh, host::Fill::kFore); }
void EraseRoundRect(const CLongRect_AC& r, int32_t ow, int32_t oh) { host::SolidRoundRect(r, ow, oh, host::Fill::kBack); }
void FillRoundRect(const CLongRect_AC& r, int32_t ow, int32_t oh, const Pattern& pattern) {
  host::SolidRoundRect(r, ow, oh, host::Fill::kPattern, &pattern);
}
