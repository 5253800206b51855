#include "chromakey/MaskShapes.h"

#include <agg_basics.h>
#include <agg_curves.h>
#include <agg_path_storage.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_scanline_u.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/KeyPipeline.h"

namespace chromakey {

namespace {

// AGG's rasteriser works in 24.8 fixed point; outlines further out than this
// are not drawn.
constexpr double kMaxCoordinate = 4'000'000.0;

bool Usable(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoordinate; }

}  // namespace

struct ShapeVisitorImpl::Path {
  agg::path_storage storage;
  bool empty = true;
  bool broken = false;  // a vertex was not a usable number: the shape draws nothing
  double lastX = 0;
  double lastY = 0;
};

ShapeVisitorImpl::ShapeVisitorImpl(pixeli* mask, int width, int height)
    : mask_(mask), width_(width), height_(height), path_(new Path) {
  const size_t n = pixel_count(width, height);
  if (mask == nullptr || n == 0) return;
  try {
    grey_.assign(n, 0);
    ok_ = true;
  } catch (const std::bad_alloc&) {
    ok_ = false;
  }
}

ShapeVisitorImpl::~ShapeVisitorImpl() { delete path_; }

void ShapeVisitorImpl::beginPolygon() {
  path_->storage.remove_all();
  path_->empty = true;
  path_->broken = false;
  invert_ = false;
  opacity_ = 1.0f;
}

void ShapeVisitorImpl::AddVertex(double px, double py) {
  if (!Usable(px) || !Usable(py)) {
    path_->broken = true;
    return;
  }
  if (path_->empty) {
    path_->storage.move_to(px, py);
    path_->empty = false;
  } else {
    if (std::hypot(px - path_->lastX, py - path_->lastY) < 1e-14) return;
    path_->storage.line_to(px, py);
  }
  path_->lastX = px;
  path_->lastY = py;
}

void ShapeVisitorImpl::addPoint(double x, double y) { AddVertex(x * width_, y * height_); }

void ShapeVisitorImpl::addBezier(double x0, double y0, double x1, double y1, double x2, double y2,
                                 double x3, double y3) {
  const double w = width_, h = height_;
  for (double v : {x0 * w, y0 * h, x1 * w, y1 * h, x2 * w, y2 * h, x3 * w, y3 * h}) {
    if (!Usable(v)) {
      path_->broken = true;
      return;
    }
  }
  agg::curve4_div curve;
  curve.approximation_scale(1.0);
  curve.init(x0 * w, y0 * h, x1 * w, y1 * h, x2 * w, y2 * h, x3 * w, y3 * h);
  curve.rewind(0);
  double px = 0, py = 0;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&px, &py))) AddVertex(px, py);
}

void ShapeVisitorImpl::endPolygon(uint32_t featherRadius, int32_t combine) {
  if (!ok_) return;
  const bool first = drawn_ == 0;
  ++drawn_;
  if (path_->broken) return;

  if (invert_) {
    path_->storage.close_polygon();
    path_->storage.move_to(0, 0);
    path_->storage.line_to(width_, 0);
    path_->storage.line_to(width_, height_);
    path_->storage.line_to(0, height_);
    path_->storage.close_polygon();
  }

  std::fill(grey_.begin(), grey_.end(), 0);
  agg::rasterizer_scanline_aa<> ras;
  ras.clip_box(0, 0, width_, height_);
  ras.filling_rule(invert_ ? agg::fill_even_odd : agg::fill_non_zero);
  ras.add_path(path_->storage);

  // Coverage times the fill level, linear; each pixel is swept once, so
  // writing is the same as blending over the cleared buffer.
  const float o = std::clamp(std::isfinite(opacity_) ? opacity_ : 0.0f, 0.0f, 1.0f);
  const auto level = static_cast<uint32_t>(o * 65535.0f);
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  if (ras.rewind_scanlines()) {
    x0 = ras.min_x();
    y0 = ras.min_y();
    x1 = ras.max_x();
    y1 = ras.max_y();
    agg::scanline_u8 sl;
    sl.reset(ras.min_x(), ras.max_x());
    while (ras.sweep_scanline(sl)) {
      const int y = sl.y();
      if (y < 0 || y >= height_) continue;
      uint16_t* row = grey_.data() + size_t(y) * size_t(width_);
      unsigned spans = sl.num_spans();
      for (auto span = sl.begin(); spans > 0; --spans, ++span) {
        for (int i = 0; i < span->len; ++i) {
          const int x = span->x + i;
          if (x < 0 || x >= width_) continue;
          row[x] = static_cast<uint16_t>((level * span->covers[i] + 127) / 255);
        }
      }
    }
  }
  if (x1 < x0 || y1 < y0) return;  // nothing rasterised

  const uint32_t r = std::min(featherRadius, kMaxFeatherRadius);
  if (r > 0) {
    StackBlurGrey16(grey_.data(), width_, height_, r);
    const int64_t spread = r;
    x0 = int(std::max<int64_t>(0, x0 - spread));
    y0 = int(std::max<int64_t>(0, y0 - spread));
    x1 = int(std::min<int64_t>(width_ - 1, x1 + spread));
    y1 = int(std::min<int64_t>(height_ - 1, y1 + spread));
  }
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width_ - 1);
  y1 = std::min(y1, height_ - 1);

  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const size_t i = size_t(y) * size_t(width_) + size_t(x);
      const int32_t g = grey_[i];
      const int32_t m = mask_[i].g;
      int32_t v;
      if (first) v = g;
      else if (combine == kCombineSubtract) v = std::max(0, m - g);
      else if (combine == kCombineIntersect) v = std::min(m, g);
      else if (combine == kCombineUnion) v = std::max(m, g);
      else v = std::min(65535, m + g);
      const auto u = static_cast<uint16_t>(v);
      mask_[i] = {u, u, u, u};
    }
  }
}

// Triangle weights 1, 2 .. r+1 .. 2, 1 over 2r+1 samples are two running
// boxes of r+1 samples, one reaching back and one reaching forward.
static void BlurLine(const uint16_t* in, size_t stride, int n, uint32_t r, std::vector<uint64_t>& pad,
                     std::vector<uint64_t>& box, uint16_t* out) {
  const size_t R = r;
  const size_t len = size_t(n) + 2 * R;
  pad.resize(len);
  box.resize(len);
  for (size_t i = 0; i < len; ++i) {
    const int64_t src = std::clamp<int64_t>(int64_t(i) - int64_t(R), 0, n - 1);
    pad[i] = in[size_t(src) * stride];
  }
  // box[i] = pad[i - R .. i] (from i = R on).
  uint64_t sum = 0;
  for (size_t i = 0; i < len; ++i) {
    sum += pad[i];
    if (i > R) sum -= pad[i - R - 1];
    box[i] = sum;
  }
  // out[x] = box[p .. p + R] with p = x + R (pad index of x).
  const uint64_t div = uint64_t(R + 1) * uint64_t(R + 1);
  uint64_t acc = 0;
  for (size_t i = R; i <= 2 * R && i < len; ++i) acc += box[i];
  for (int x = 0; x < n; ++x) {
    out[size_t(x)] = static_cast<uint16_t>(acc / div);
    const size_t lo = size_t(x) + R, hi = size_t(x) + 2 * R + 1;
    if (hi < len) acc += box[hi];
    acc -= box[lo];
  }
}

void StackBlurGrey16(uint16_t* grey, int width, int height, uint32_t r) {
  if (grey == nullptr || width <= 0 || height <= 0 || r == 0) return;
  r = std::min(r, kMaxFeatherRadius);
  std::vector<uint64_t> pad, box;
  std::vector<uint16_t> line(size_t(std::max(width, height)));
  for (int y = 0; y < height; ++y) {
    uint16_t* row = grey + size_t(y) * size_t(width);
    BlurLine(row, 1, width, r, pad, box, line.data());
    std::copy(line.begin(), line.begin() + width, row);
  }
  for (int x = 0; x < width; ++x) {
    BlurLine(grey + x, size_t(width), height, r, pad, box, line.data());
    for (int y = 0; y < height; ++y) grey[size_t(y) * size_t(width) + size_t(x)] = line[size_t(y)];
  }
}

void acceptKeyerShapeVisitor(const MaskShape* shape, ShapeVisitor* visitor) {
  if (shape == nullptr || visitor == nullptr) return;
  const size_t n = std::min({shape->x.size(), shape->y.size(), shape->weight.size()});
  if (n < 3) return;
  struct P {
    double x, y;
  };
  std::vector<P> p;
  p.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    const int times = shape->weight[i] == 2 ? 2 : shape->weight[i] == 3 ? 3 : 1;
    for (int k = 0; k < times; ++k) p.push_back({shape->x[i], shape->y[i]});
  }
  const size_t m = p.size();
  // Inner control points of edge k, from p[k-1] to p[k] (edge 0 is the
  // closing edge from p[m-1] to p[0]).
  auto c1 = [&](size_t k) {
    const P& a = p[(k + m - 1) % m];
    const P& b = p[k];
    return P{a.x * 2 / 3 + b.x / 3, a.y * 2 / 3 + b.y / 3};
  };
  auto c2 = [&](size_t k) {
    const P& a = p[(k + m - 1) % m];
    const P& b = p[k];
    return P{a.x / 3 + b.x * 2 / 3, a.y / 3 + b.y * 2 / 3};
  };
  // The end point between edge k and edge k+1 lies at the midpoint of the
  // control point before it and the one after it.
  auto joint = [&](size_t k) {
    const P a = c2(k), b = c1((k + 1) % m);
    return P{(a.x + b.x) / 2, (a.y + b.y) / 2};
  };
  for (size_t k = 1; k <= m; ++k) {
    const size_t e = k % m;  // segment over edge e, from joint(e-1) to joint(e)
    const P s = joint((e + m - 1) % m), a = c1(e), b = c2(e), t = joint(e);
    visitor->addBezier(s.x, s.y, a.x, a.y, b.x, b.y, t.x, t.y);
  }
}

ShapeRenderList* render_begin(double width, double height) {
  auto* list = new (std::nothrow) ShapeRenderList;
  if (list != nullptr) {
    list->width = width;
    list->height = height;
  }
  return list;
}

void render_addShape(ShapeRenderList* list, const MaskShape* shape) {
  if (list == nullptr || shape == nullptr) return;
  list->shapes.push_back(shape);
}

void render_RGBA16(ShapeRenderList* list, pixeli* mask) {
  if (list == nullptr || mask == nullptr || list->shapes.empty()) return;
  if (!(list->width >= 1 && list->height >= 1 && list->width <= INT32_MAX && list->height <= INT32_MAX))
    return;
  const int width = int(list->width), height = int(list->height);
  ShapeVisitorImpl visitor(mask, width, height);
  if (!visitor.ok()) return;
  for (const MaskShape* shape : list->shapes) {
    double f = shape->feather * list->width * 0.1 + 0.5;
    if (!(f > 0)) f = 0;  // NaN as well
    if (f > 4294967295.0) f = 4294967295.0;
    const auto radius = static_cast<uint32_t>(f);
    visitor.beginPolygon();
    acceptKeyerShapeVisitor(shape, &visitor);
    if (shape->invert) visitor.setInvert();
    visitor.setAlpha(shape->opacity);
    visitor.endPolygon(radius, shape->combine);
  }
}

void getBoundingBox(const ShapeRenderList* list, int32_t box[4]) {
  if (list == nullptr || box == nullptr) return;
  std::copy(list->box, list->box + 4, box);
}

void render_finish(ShapeRenderList* list) { delete list; }

namespace {

void RenderForEngine(pixeli* mask, int width, int height, const MaskShape* const* shapes, int count) {
  ShapeRenderList* list = render_begin(width, height);
  if (list == nullptr) return;
  for (int i = 0; i < count; ++i) render_addShape(list, shapes[i]);
  render_RGBA16(list, mask);
  render_finish(list);
}

}  // namespace

void InstallMaskShapeRenderer() { set_mask_shape_renderer(&RenderForEngine); }

}  // namespace chromakey
