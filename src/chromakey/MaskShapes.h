// The mask shape renderer: soft-edged shapes, each a closed outline given by
// control points, smoothed into a closed uniform cubic B-spline (emitted as
// cubic Bezier segments), rasterised anti-aliased into a 16-bit grey buffer,
// feathered with a stack blur and combined into a 16-bit RGBA mask image
// (chromakey::pixeli, all four channels alike).
//
// The engine calls it through its shape hook when a coefficient block asks
// for mask shapes (flag 0x20000); InstallMaskShapeRenderer installs the hook.
#pragma once

#include <cstdint>
#include <vector>

#include "chromakey/engine/FixCoef.h"

namespace chromakey {

// One shape. Coordinates are fractions of the canvas width and height.
struct MaskShape {
  bool invert = false;      // the shape covers its outside
  float opacity = 1.0f;     // grey level of the filled shape, 0..1 of 65535
  double feather = 0.0;     // softness, as a fraction of a tenth of the canvas width
  std::vector<float> x;     // x, y and weight are parallel lists
  std::vector<float> y;
  std::vector<int32_t> weight;  // 2 doubles the point, 3 triples it, else once
  int32_t combine = 0;      // 1 subtract, 2 intersect (minimum), 3 union (maximum), else add
};

enum : int32_t { kCombineSubtract = 1, kCombineIntersect = 2, kCombineUnion = 3 };

// Receiver of one shape's outline. Points are in canvas fractions.
class ShapeVisitor {
 public:
  virtual ~ShapeVisitor() = default;
  virtual void beginPolygon() = 0;
  virtual void addPoint(double x, double y) = 0;
  virtual void addBezier(double x0, double y0, double x1, double y1, double x2, double y2, double x3,
                         double y3) = 0;
  virtual void endPolygon(uint32_t featherRadius, int32_t combine) = 0;
  virtual void setInvert() = 0;
  virtual void setAlpha(float opacity) = 0;
};

// Draws outlines into a 16-bit RGBA mask of width x height pixels.
class ShapeVisitorImpl : public ShapeVisitor {
 public:
  ShapeVisitorImpl(pixeli* mask, int width, int height);
  ~ShapeVisitorImpl() override;
  ShapeVisitorImpl(const ShapeVisitorImpl&) = delete;
  ShapeVisitorImpl& operator=(const ShapeVisitorImpl&) = delete;

  // False when the grey work buffer could not be had (nothing is drawn then).
  bool ok() const { return ok_; }
  int shapesDrawn() const { return drawn_; }

  void beginPolygon() override;
  void addPoint(double x, double y) override;
  void addBezier(double x0, double y0, double x1, double y1, double x2, double y2, double x3,
                 double y3) override;
  void endPolygon(uint32_t featherRadius, int32_t combine) override;
  void setInvert() override { invert_ = true; }
  void setAlpha(float opacity) override { opacity_ = opacity; }

 private:
  struct Path;
  void AddVertex(double px, double py);

  pixeli* mask_;
  int width_;
  int height_;
  bool ok_ = false;
  std::vector<uint16_t> grey_;
  Path* path_;
  bool invert_ = false;
  float opacity_ = 1.0f;
  int drawn_ = 0;
};

// The shape list of one render.
struct ShapeRenderList {
  std::vector<const MaskShape*> shapes;  // not owned
  double width = 0;
  double height = 0;
  int32_t box[4] = {0, 0, -1, -1};
};

ShapeRenderList* render_begin(double width, double height);
void render_addShape(ShapeRenderList* list, const MaskShape* shape);
// Renders every shape of the list, in order, into `mask` (width x height).
void render_RGBA16(ShapeRenderList* list, pixeli* mask);
void getBoundingBox(const ShapeRenderList* list, int32_t box[4]);
void render_finish(ShapeRenderList* list);

// Turns the shape's control points into Bezier segments for the visitor.
void acceptKeyerShapeVisitor(const MaskShape* shape, ShapeVisitor* visitor);

// Feathers a grey buffer in place: stack blur of radius r along rows, then
// columns, edge values repeated. Radii above kMaxFeatherRadius are limited to it.
constexpr uint32_t kMaxFeatherRadius = 65535;
void StackBlurGrey16(uint16_t* grey, int width, int height, uint32_t r);

// Installs the renderer as the engine's shape hook (idempotent).
void InstallMaskShapeRenderer();

}  // namespace chromakey

using KeyerShapeImpl = chromakey::MaskShape;
