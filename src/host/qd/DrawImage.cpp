#include "host/qd/DrawImage.h"

#include <agg_conv_transform.h>
#include <agg_image_accessors.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>
#include <agg_span_image_filter_rgba.h>
#include <agg_span_interpolator_linear.h>
#include <agg_trans_affine.h>

#include <cmath>

#include "host/qd/Canvas.h"

namespace host {

void DrawImage(const GWorld& src, GWorld& dst, double centreH, double centreV, double width, double height,
               double radians) {
  if (!std::isfinite(centreH) || !std::isfinite(centreV) || !std::isfinite(width) || !std::isfinite(height) ||
      !std::isfinite(radians) || width <= 0 || height <= 0)
    return;
  const double cx = centreH - dst.bounds().left;
  const double cy = centreV - dst.bounds().top;
  const double reach = std::hypot(width, height) / 2;
  if (std::abs(cx) + reach >= detail::kMaxCoordinate || std::abs(cy) + reach >= detail::kMaxCoordinate) return;

  const double sw = src.width(), sh = src.height();
  agg::trans_affine toDst = agg::trans_affine_translation(-sw / 2, -sh / 2);
  toDst *= agg::trans_affine_scaling(width / sw, height / sh);
  toDst *= agg::trans_affine_rotation(radians);
  toDst *= agg::trans_affine_translation(cx, cy);
  agg::trans_affine toSrc = toDst;
  toSrc.invert();

  // AGG reads through a non-const buffer; nothing writes to the source.
  agg::rendering_buffer srcBuf(const_cast<uint8_t*>(src.pixels()), unsigned(src.width()), unsigned(src.height()),
                               int(src.rowBytes()));
  agg::pixfmt_argb32 srcPix(srcBuf);
  agg::image_accessor_clone<agg::pixfmt_argb32> source(srcPix);
  agg::span_interpolator_linear<> interpolator(toSrc);
  agg::span_image_filter_rgba_bilinear<decltype(source), decltype(interpolator)> spans(source, interpolator);
  agg::span_allocator<agg::rgba8> allocator;

  agg::path_storage outline;
  outline.move_to(0, 0);
  outline.line_to(sw, 0);
  outline.line_to(sw, sh);
  outline.line_to(0, sh);
  outline.close_polygon();
  agg::conv_transform<agg::path_storage> placed(outline, toDst);

  agg::rendering_buffer dstBuf(dst.pixels(), unsigned(dst.width()), unsigned(dst.height()), int(dst.rowBytes()));
  agg::pixfmt_argb32 dstPix(dstBuf);
  agg::renderer_base<agg::pixfmt_argb32> renderer(dstPix);
  agg::rasterizer_scanline_aa<> ras;
  ras.clip_box(0, 0, dst.width(), dst.height());
  ras.add_path(placed);
  agg::scanline_u8 sl;
  agg::render_scanlines_aa(ras, sl, renderer, allocator, spans);
}

void DrawImage(const GWorld& src, GWorld& dst, const CLongRect_AC& dstRect) {
  if (dstRect.IsEmpty()) return;
  DrawImage(src, dst, (double(dstRect.left) + double(dstRect.right)) / 2,
            (double(dstRect.top) + double(dstRect.bottom)) / 2, double(dstRect.Width()), double(dstRect.Height()), 0);
}

}  // namespace host
