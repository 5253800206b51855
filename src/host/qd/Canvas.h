// Internal to host/qd: AGG rendering into an offscreen's rows.
//
// The pixel format is AGG's `pixfmt_argb32` (the offscreen's own byte order:
// alpha, red, green, blue) with every write path replaced by one that blends
// the colour bytes only, so that drawing leaves each pixel's alpha byte as it
// was (see host/qd/QuickDraw.h).
#pragma once

#include <agg_basics.h>
#include <agg_color_rgba.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>

#include <algorithm>
#include <cstdint>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/qd/GWorld.h"
#include "host/qd/QuickDraw.h"

namespace host::detail {

// Shapes whose coordinates lie further than this from the offscreen are not
// drawn: AGG's 24.8 fixed-point rasteriser would overflow on them.
inline constexpr double kMaxCoordinate = 4'000'000.0;

inline agg::rgba8 ToAgg(const RGBColor& c) {
  return agg::rgba8(c.red >> 8, c.green >> 8, c.blue >> 8, 255);
}

class PixfmtKeepAlpha : public agg::pixfmt_argb32 {
 public:
  using Base = agg::pixfmt_argb32;
  using color_type = Base::color_type;
  using order_type = Base::order_type;
  using value_type = Base::value_type;
  using cover_type = agg::cover_type;

  explicit PixfmtKeepAlpha(agg::rendering_buffer& rb) : Base(rb) {}

  void copy_pixel(int x, int y, const color_type& c) { Put(Ptr(x, y), c, 255); }
  void blend_pixel(int x, int y, const color_type& c, cover_type cover) { Put(Ptr(x, y), c, cover); }
  void copy_hline(int x, int y, unsigned len, const color_type& c) { blend_hline(x, y, len, c, 255); }
  void blend_hline(int x, int y, unsigned len, const color_type& c, cover_type cover) {
    uint8_t* p = Ptr(x, y);
    for (unsigned i = 0; i < len; ++i, p += 4) Put(p, c, cover);
  }
  void copy_vline(int x, int y, unsigned len, const color_type& c) { blend_vline(x, y, len, c, 255); }
  void blend_vline(int x, int y, unsigned len, const color_type& c, cover_type cover) {
    for (unsigned i = 0; i < len; ++i) Put(Ptr(x, y + int(i)), c, cover);
  }
  void blend_solid_hspan(int x, int y, unsigned len, const color_type& c, const cover_type* covers) {
    uint8_t* p = Ptr(x, y);
    for (unsigned i = 0; i < len; ++i, p += 4) Put(p, c, covers[i]);
  }
  void blend_solid_vspan(int x, int y, unsigned len, const color_type& c, const cover_type* covers) {
    for (unsigned i = 0; i < len; ++i) Put(Ptr(x, y + int(i)), c, covers[i]);
  }
  void copy_color_hspan(int x, int y, unsigned len, const color_type* colors) {
    uint8_t* p = Ptr(x, y);
    for (unsigned i = 0; i < len; ++i, p += 4) Put(p, colors[i], 255);
  }
  void blend_color_hspan(int x, int y, unsigned len, const color_type* colors, const cover_type* covers,
                         cover_type cover) {
    uint8_t* p = Ptr(x, y);
    for (unsigned i = 0; i < len; ++i, p += 4) Put(p, colors[i], covers ? covers[i] : cover);
  }
  void blend_color_vspan(int x, int y, unsigned len, const color_type* colors, const cover_type* covers,
                         cover_type cover) {
    for (unsigned i = 0; i < len; ++i) Put(Ptr(x, y + int(i)), colors[i], covers ? covers[i] : cover);
  }

 private:
  uint8_t* Ptr(int x, int y) { return pix_ptr(x, y); }

  // Blends the colour's red, green and blue into the pixel by coverage (and
  // the colour's own alpha); the pixel's alpha byte is not touched.
  static void Put(uint8_t* p, const color_type& c, unsigned cover) {
    const unsigned a = (unsigned(c.a) * cover + 127) / 255;
    if (a == 0) return;
    if (a >= 255) {
      p[order_type::R] = c.r;
      p[order_type::G] = c.g;
      p[order_type::B] = c.b;
      return;
    }
    auto mix = [a](uint8_t d, uint8_t s) {
      return static_cast<uint8_t>((unsigned(s) * a + unsigned(d) * (255 - a) + 127) / 255);
    };
    p[order_type::R] = mix(p[order_type::R], c.r);
    p[order_type::G] = mix(p[order_type::G], c.g);
    p[order_type::B] = mix(p[order_type::B], c.b);
  }
};

// The rendering set-up for one drawing call into one offscreen. Paths are
// given in the offscreen's own coordinates; `Local()` turns them into row and
// column numbers of the buffer.
class Canvas {
 public:
  using RendererBase = agg::renderer_base<PixfmtKeepAlpha>;

  explicit Canvas(GWorld& world)
      : world_(world),
        rbuf_(world.pixels(), unsigned(world.width()), unsigned(world.height()), int(world.rowBytes())),
        pixf_(rbuf_),
        ren_(pixf_) {
    ras_.clip_box(0, 0, world.width(), world.height());
  }

  GWorld& world() { return world_; }
  double OriginH() const { return world_.bounds().left; }
  double OriginV() const { return world_.bounds().top; }

  // Limits drawing to a rectangle in the offscreen's coordinates (and always to
  // the offscreen). False when nothing of it is visible.
  bool ClipTo(const CLongRect_AC& r) {
    CLongRect_AC visible;
    if (!r.Intersect(world_.bounds(), &visible)) return false;
    const int x1 = int(visible.left - world_.bounds().left);
    const int y1 = int(visible.top - world_.bounds().top);
    const int x2 = int(visible.right - world_.bounds().left);
    const int y2 = int(visible.bottom - world_.bounds().top);
    ren_.clip_box(x1, y1, x2 - 1, y2 - 1);
    ras_.clip_box(x1, y1, x2, y2);
    return true;
  }

  // True when a point in the offscreen's coordinates is near enough to draw.
  bool InRange(double h, double v) const {
    const double x = h - OriginH();
    const double y = v - OriginV();
    return x > -kMaxCoordinate && x < kMaxCoordinate && y > -kMaxCoordinate && y < kMaxCoordinate;
  }

  agg::rasterizer_scanline_aa<>& rasterizer() { return ras_; }

  void RenderSolid(const RGBColor& color) {
    agg::render_scanlines_aa_solid(ras_, sl_, ren_, ToAgg(color));
    ras_.reset();
  }

  // Each pixel takes the foreground or background colour by its pattern bit,
  // the pattern being laid from the offscreen's top-left corner.
  void RenderPattern(const Pattern& pattern, const RGBColor& fore, const RGBColor& back) {
    PatternSpan span{pattern, ToAgg(fore), ToAgg(back)};
    agg::span_allocator<agg::rgba8> alloc;
    agg::render_scanlines_aa(ras_, sl_, ren_, alloc, span);
    ras_.reset();
  }

 private:
  struct PatternSpan {
    Pattern pattern;
    agg::rgba8 fore;
    agg::rgba8 back;
    void prepare() {}
    void generate(agg::rgba8* span, int x, int y, unsigned len) const {
      const uint8_t row = pattern.pat[y & 7];
      for (unsigned i = 0; i < len; ++i) {
        const int bit = (x + int(i)) & 7;
        span[i] = (row & (0x80 >> bit)) ? fore : back;
      }
    }
  };

  GWorld& world_;
  agg::rendering_buffer rbuf_;
  PixfmtKeepAlpha pixf_;
  RendererBase ren_;
  agg::rasterizer_scanline_aa<> ras_;
  agg::scanline_u8 sl_;
};

}  // namespace host::detail
