#include "chromakey/MaskShapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "chromakey/engine/KeyPipeline.h"

using namespace chromakey;

namespace {

MaskShape Triangle(float opacity = 1.0f) {
  MaskShape s;
  s.x = {0.1f, 0.9f, 0.5f};
  s.y = {0.1f, 0.1f, 0.9f};
  s.weight = {1, 1, 1};
  s.opacity = opacity;
  return s;
}

std::vector<pixeli> Render(const std::vector<const MaskShape*>& shapes, int w, int h,
                           std::vector<pixeli> mask = {}) {
  if (mask.empty()) mask.assign(size_t(w) * h, pixeli{});
  ShapeRenderList* list = render_begin(w, h);
  for (const MaskShape* s : shapes) render_addShape(list, s);
  render_RGBA16(list, mask.data());
  int32_t box[4];
  getBoundingBox(list, box);
  EXPECT_EQ(box[2], -1);
  render_finish(list);
  return mask;
}

// Records the segments a shape is turned into.
struct Recorder : ShapeVisitor {
  std::vector<std::array<double, 8>> beziers;
  void beginPolygon() override {}
  void addPoint(double, double) override {}
  void addBezier(double a, double b, double c, double d, double e, double f, double g, double h) override {
    beziers.push_back({a, b, c, d, e, f, g, h});
  }
  void endPolygon(uint32_t, int32_t) override {}
  void setInvert() override {}
  void setAlpha(float) override {}
};

}  // namespace

TEST(MaskShapes, OutlineIsAClosedUniformBSpline) {
  Recorder r;
  MaskShape two = Triangle();
  two.x.pop_back(), two.y.pop_back(), two.weight.pop_back();
  acceptKeyerShapeVisitor(&two, &r);
  EXPECT_TRUE(r.beziers.empty()) << "fewer than three points make nothing";

  MaskShape s = Triangle();
  s.weight[2] = 2;  // a doubled corner: four control points
  acceptKeyerShapeVisitor(&s, &r);
  ASSERT_EQ(r.beziers.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    const auto& a = r.beziers[k];
    const auto& b = r.beziers[(k + 1) % 4];
    EXPECT_DOUBLE_EQ(a[6], b[0]) << "segments join and the curve closes";
    EXPECT_DOUBLE_EQ(a[7], b[1]);
  }
  // First segment over the edge P0 -> P1: inner points at thirds of the edge.
  EXPECT_NEAR(r.beziers[0][2], 0.1 * 2 / 3 + 0.9 / 3, 1e-6);
  EXPECT_NEAR(r.beziers[0][4], 0.1 / 3 + 0.9 * 2 / 3, 1e-6);
}

TEST(MaskShapes, FillOpacityInvertAndCombine) {
  const int w = 64, h = 64;
  // Opacity 0.5: close to 32768 inside, all four channels, nothing outside.
  MaskShape half = Triangle(0.5f);
  auto m = Render({&half}, w, h);
  const pixeli in = m[size_t(32) * w + 32];
  EXPECT_NEAR(in.g, 32767, 2);
  EXPECT_TRUE(in.r == in.g && in.b == in.g && in.a == in.g);
  EXPECT_EQ(m[size_t(2) * w + 2].g, 0);

  // An inverted shape covers its outside (even-odd with the canvas).
  MaskShape inv = Triangle();
  inv.invert = true;
  m = Render({&inv}, w, h);
  EXPECT_EQ(m[size_t(32) * w + 32].g, 0);
  EXPECT_EQ(m[size_t(2) * w + 2].g, 65535);

  // A second shape combines with the first: union, subtract, intersect, add.
  MaskShape full = Triangle();
  MaskShape second = Triangle(0.25f);
  const size_t c = size_t(32) * w + 32;
  second.combine = kCombineUnion;
  EXPECT_EQ(Render({&half, &second}, w, h)[c].g, Render({&half}, w, h)[c].g);
  second.combine = kCombineSubtract;
  EXPECT_NEAR(Render({&half, &second}, w, h)[c].g, 32767 - 16383, 3);
  second.combine = kCombineIntersect;
  EXPECT_NEAR(Render({&full, &second}, w, h)[c].g, 16383, 2);
  second.combine = 0;
  EXPECT_EQ(Render({&full, &second}, w, h)[c].g, 65535) << "addition saturates";
}

TEST(MaskShapes, EmptyListLeavesTheMaskAndFeatherSoftensTheEdge) {
  const int w = 40, h = 40;
  std::vector<pixeli> ext(size_t(w) * h, pixeli{1, 2, 3, 4});
  EXPECT_EQ(Render({}, w, h, ext), ext);

  MaskShape hard = Triangle();
  MaskShape soft = Triangle();
  soft.feather = 1.0;  // radius 40 * 0.1 + 0.5 -> 4
  const auto a = Render({&hard}, w, h), b = Render({&soft}, w, h);
  // Just outside the bottom edge of the triangle (y = 4) the feathered
  // shape has spread; deep inside it stays near full.
  EXPECT_EQ(a[size_t(2) * w + 20].g, 0);
  EXPECT_GT(b[size_t(2) * w + 20].g, 0);
  EXPECT_GT(b[size_t(12) * w + 20].g, 60000);
}

TEST(MaskShapes, StackBlurMatchesTheTriangleWeights) {
  const int w = 9, h = 3;
  std::vector<uint16_t> grey(size_t(w) * h, 0);
  for (int y = 0; y < h; ++y) grey[size_t(y) * w + 4] = 9000;  // a vertical line
  StackBlurGrey16(grey.data(), w, h, 2);
  // Weights 1 2 3 2 1 over 9: centre 3/9, neighbours 2/9 and 1/9; the
  // vertical pass keeps a constant column.
  EXPECT_EQ(grey[4], 3000);
  EXPECT_EQ(grey[3], 2000);
  EXPECT_EQ(grey[5], 2000);
  EXPECT_EQ(grey[2], 1000);
  EXPECT_EQ(grey[1], 0);
  EXPECT_EQ(grey[size_t(2) * w + 4], 3000);
  // Edge values repeat outward.
  std::vector<uint16_t> edge = {900, 0, 0, 0};
  StackBlurGrey16(edge.data(), 4, 1, 1);  // weights 1 2 1 over 4
  EXPECT_EQ(edge[0], (900 + 2 * 900 + 0) / 4);
  EXPECT_EQ(edge[1], 900 / 4);
}

TEST(MaskShapes, EngineRendersShapesThroughTheHook) {
  InstallMaskShapeRenderer();
  const int w = 32, h = 32;
  std::vector<pixeli> mask(size_t(w) * h, pixeli{7, 7, 7, 7});
  MaskShape s = Triangle();
  const MaskShape* shapes[] = {&s};
  renderMaskShape(mask.data(), w, h, shapes, 1, true);
  EXPECT_EQ(mask[size_t(16) * w + 16].g, 65535);
  EXPECT_EQ(mask[0].g, 0) << "cleared first";
}
