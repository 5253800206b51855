#include "chromakey/engine/KeyVolume.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "chromakey/engine/KeyPipeline.h"

using namespace chromakey;

namespace {

// The axis and triangle tables as published for the stored radii arrays.
constexpr float kAxes[66][3] = {
    {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1},
    {.5, .5, 0}, {0, .5, -.5}, {-.5, .5, 0}, {0, .5, .5}, {.5, 0, -.5}, {-.5, 0, -.5},
    {-.5, 0, .5}, {.5, 0, .5}, {.5, -.5, 0}, {0, -.5, -.5}, {-.5, -.5, 0}, {0, -.5, .5},
    {.25, .75, 0}, {.75, .25, 0}, {0, .75, -.25}, {0, .25, -.75}, {-.25, .75, 0}, {-.75, .25, 0},
    {0, .75, .25}, {0, .25, .75}, {.75, 0, -.25}, {.25, 0, -.75}, {-.25, 0, -.75}, {-.75, 0, -.25},
    {-.75, 0, .25}, {-.25, 0, .75}, {.25, 0, .75}, {.75, 0, .25}, {.75, -.25, 0}, {.25, -.75, 0},
    {0, -.25, -.75}, {0, -.75, -.25}, {-.75, -.25, 0}, {-.25, -.75, 0}, {0, -.25, .75}, {0, -.75, .25},
    {.25, .25, -.5}, {.25, .5, -.25}, {.5, .25, -.25}, {-.5, .25, -.25}, {-.25, .5, -.25}, {-.25, .25, -.5},
    {-.25, .25, .5}, {-.25, .5, .25}, {-.5, .25, .25}, {.5, .25, .25}, {.25, .5, .25}, {.25, .25, .5},
    {.5, -.25, -.25}, {.25, -.5, -.25}, {.25, -.25, -.5}, {-.25, -.25, -.5}, {-.25, -.5, -.25}, {-.5, -.25, -.25},
    {-.5, -.25, .25}, {-.25, -.5, .25}, {-.25, -.25, .5}, {.25, -.25, .5}, {.25, -.5, .25}, {.5, -.25, .25}};

constexpr int kTriangles[128][3] = {
    {39, 37, 4}, {37, 35, 4}, {1, 20, 22}, {1, 18, 20}, {41, 39, 4}, {35, 41, 4}, {1, 22, 24}, {1, 24, 18},
    {38, 59, 16}, {36, 56, 15}, {7, 21, 47}, {6, 19, 44}, {40, 62, 17}, {34, 65, 14}, {8, 23, 50}, {9, 25, 53},
    {57, 36, 15}, {54, 34, 14}, {8, 45, 23}, {7, 42, 21}, {60, 38, 16}, {63, 40, 17}, {9, 48, 25}, {6, 51, 19},
    {11, 57, 59}, {10, 54, 56}, {45, 47, 11}, {42, 44, 10}, {12, 60, 62}, {13, 63, 65}, {48, 50, 12}, {51, 53, 13},
    {16, 58, 39}, {15, 55, 37}, {20, 7, 46}, {18, 6, 43}, {17, 61, 41}, {14, 64, 35}, {22, 8, 49}, {24, 9, 52},
    {3, 29, 38}, {5, 27, 36}, {21, 5, 28}, {19, 0, 26}, {2, 31, 40}, {0, 33, 34}, {23, 3, 30}, {25, 2, 32},
    {11, 28, 57}, {10, 26, 54}, {45, 11, 29}, {42, 10, 27}, {12, 30, 60}, {13, 32, 63}, {48, 12, 31}, {51, 13, 33},
    {57, 15, 58}, {54, 14, 55}, {8, 46, 45}, {7, 43, 42}, {60, 16, 61}, {63, 17, 64}, {9, 49, 48}, {6, 52, 51},
    {58, 15, 37}, {55, 14, 35}, {22, 46, 8}, {20, 43, 7}, {61, 16, 39}, {64, 17, 41}, {24, 49, 9}, {18, 52, 6},
    {29, 11, 59}, {27, 10, 56}, {47, 28, 11}, {44, 26, 10}, {31, 12, 62}, {33, 13, 65}, {50, 30, 12}, {53, 32, 13},
    {28, 5, 36}, {26, 0, 34}, {23, 29, 3}, {21, 27, 5}, {30, 3, 38}, {32, 2, 40}, {25, 31, 2}, {19, 33, 0},
    {59, 58, 16}, {56, 55, 15}, {46, 7, 47}, {43, 6, 44}, {62, 61, 17}, {65, 64, 14}, {49, 8, 50}, {52, 9, 53},
    {58, 37, 39}, {55, 35, 37}, {22, 20, 46}, {20, 18, 43}, {61, 39, 41}, {64, 41, 35}, {24, 22, 49}, {18, 24, 52},
    {29, 59, 38}, {27, 56, 36}, {47, 21, 28}, {44, 19, 26}, {31, 62, 40}, {33, 65, 34}, {50, 23, 30}, {53, 25, 32},
    {28, 36, 57}, {26, 34, 54}, {23, 45, 29}, {21, 42, 27}, {30, 38, 60}, {32, 40, 63}, {25, 48, 31}, {19, 51, 33},
    {59, 57, 58}, {56, 54, 55}, {46, 47, 45}, {43, 44, 42}, {62, 60, 61}, {65, 63, 64}, {49, 50, 48}, {52, 53, 51}};

fixcoef CentredBlock(float r, float g, float b) {
  fixcoef c;
  initialize_data(&c);
  c.center_r = r, c.center_g = g, c.center_b = b;
  return c;
}

// Solves d = x0 A0 + x1 A1 + x2 A2 (Cramer's rule).
void Barycentric(const float d[3], const int tri[3], double x[3]) {
  double m[3][3];
  for (int j = 0; j < 3; ++j) {
    m[0][j] = axtable[tri[j]].r, m[1][j] = axtable[tri[j]].g, m[2][j] = axtable[tri[j]].b;
  }
  auto det = [](double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double D = det(m);
  for (int k = 0; k < 3; ++k) {
    double mk[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) mk[i][j] = j == k ? d[i] : m[i][j];
    x[k] = det(mk) / D;
  }
}

}  // namespace

TEST(KeyVolume, TablesMatchThePublishedAxesAndTriangles) {
  gen_axtable();
  for (int i = 0; i < 66; ++i) {
    const float* a = kAxes[i];
    const float len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    EXPECT_FLOAT_EQ(axtable[i].r, a[0] / len) << i;
    EXPECT_FLOAT_EQ(axtable[i].g, a[1] / len) << i;
    EXPECT_FLOAT_EQ(axtable[i].b, a[2] / len) << i;
  }
  for (int t = 0; t < 128; ++t)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(surax[t][j], kTriangles[t][j]) << "triangle " << t;
  gen_axtable();  // building again changes nothing
  EXPECT_EQ(surax[2][1], 20);
}

TEST(KeyVolume, SegmentLookupFindsTheTriangleTheRayCrosses) {
  gen_axtable();
  const fixcoef c = CentredBlock(30000, 31000, 29000);
  pixeli up{30000, 40000, 29000, 0};
  EXPECT_EQ(getsegment(up, &c), 2);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> d(0, 65535);
  for (int i = 0; i < 20000; ++i) {
    const pixeli p{uint16_t(d(rng)), uint16_t(d(rng)), uint16_t(d(rng)), 0};
    const float dir[3] = {float(p.r) - 30000, float(p.g) - 31000, float(p.b) - 29000};
    if (std::fabs(dir[0]) + std::fabs(dir[1]) + std::fabs(dir[2]) < 1) continue;
    const int t = getsegment(p, &c);
    ASSERT_GE(t, 0);
    ASSERT_LT(t, 128);
    double x[3];
    Barycentric(dir, surax[t], x);
    const double scale = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    for (double v : x) ASSERT_GE(v / scale, -1e-4) << "colour " << p.r << "," << p.g << "," << p.b << " tri " << t;
  }
}

TEST(KeyVolume, ShellEditsMoveOnlyWhatTheyMustAndStayNested) {
  gen_axtable();
  fixcoef c = CentredBlock(20000, 40000, 20000);
  makesphereshape(1000, 0, &c);
  makesphereshape(20000, 1, &c);
  makesphereshape(30000, 2, &c);

  // A colour straight along axis 1 (+G) inside the outer shell: dented to 0.99 of its distance.
  const pixeli alongG{20000, 50000, 20000, 0};
  ASSERT_TRUE(dnt_out(&alongG, 1, 1, &c));
  EXPECT_FLOAT_EQ(c.l_out[1], 10000 * 0.99f);
  for (int i = 0; i < 66; ++i) {
    if (i != 1) {
      EXPECT_EQ(c.l_out[i], 30000) << i;
    }
  }
  {
    const int t = getsegment(alongG, &c);
    const float col[3] = {20000, 50000, 20000};
    const float r[3] = {c.l_out[surax[t][0]], c.l_out[surax[t][1]], c.l_out[surax[t][2]]};
    EXPECT_EQ(iocondition(r, surax[t], col, &c), 1);  // now outside the outer shell
  }

  // Along axis 0 (+R), outside the inner shell: jutted to 1.01 of its distance.
  const pixeli alongR{25000, 40000, 20000, 0};
  ASSERT_TRUE(jut_in(&alongR, 1, 1, &c));
  EXPECT_FLOAT_EQ(c.l_in[0], 5000 * 1.01f);

  // The centre itself changes nothing.
  fixcoef before = c;
  const pixeli centre{20000, 40000, 20000, 0};
  ASSERT_TRUE(dnt_out(&centre, 1, 1, &c));
  ASSERT_TRUE(jut_in(&centre, 1, 1, &c));
  EXPECT_EQ(0, std::memcmp(before.l_in, c.l_in, sizeof c.l_in));
  EXPECT_EQ(0, std::memcmp(before.l_out, c.l_out, sizeof c.l_out));

  // Random edits followed by the matching re-nesting keep in <= mid <= out.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(0, 65535);
  for (int round = 0; round < 20; ++round) {
    pixeli s[16];
    for (auto& p : s) p = {uint16_t(d(rng)), uint16_t(d(rng)), uint16_t(d(rng)), 0};
    switch (round % 4) {
      case 0: jut_in(s, 4, 4, &c); remove_inconsistence(0, &c); break;
      case 1: dnt_mid(s, 16, 1, &c); remove_inconsistence(1, &c); break;
      case 2: dnt_out(s, 4, 4, &c); remove_inconsistence(2, &c); break;
      default: jut_out(s, 16, 1, &c); remove_inconsistence(2, &c); break;
    }
    for (int i = 0; i < 66; ++i) {
      ASSERT_LE(c.l_in[i], c.l_mid[i]);
      ASSERT_LE(c.l_mid[i], c.l_out[i]);
    }
  }
}
