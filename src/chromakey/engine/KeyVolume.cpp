#include "chromakey/engine/KeyVolume.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/Defocus.h"
#include "chromakey/engine/Keyers.h"

namespace chromakey {

axis3 axtable[kAxisCount];
int32_t surax[kTriangleCount][3];

namespace {

struct Edge {
  int a, b;
};
struct Face {
  int e0, e1, e2, id;
};

void BuildTables() {
  std::vector<axis3> axes = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  std::vector<Edge> edges = {{1, 0}, {1, 5}, {1, 3}, {1, 2}, {0, 5}, {5, 3},
                             {3, 2}, {2, 0}, {0, 4}, {5, 4}, {3, 4}, {2, 4}};
  std::vector<Face> faces = {{0, 4, 1, 3},   {1, 5, 2, 2},  {2, 6, 3, 6},   {3, 7, 0, 7},
                             {9, 4, 8, 1},   {10, 5, 9, 0}, {11, 6, 10, 4}, {8, 7, 11, 5}};
  for (int s : {3, 5}) {
    std::vector<int> mid(edges.size());
    std::vector<Edge> next;
    for (size_t k = 0; k < edges.size(); ++k) {
      const axis3& a = axes[edges[k].a];
      const axis3& b = axes[edges[k].b];
      axes.push_back({b.r + (a.r - b.r) * 0.5f, b.g + (a.g - b.g) * 0.5f, b.b + (a.b - b.b) * 0.5f});
      mid[k] = static_cast<int>(axes.size()) - 1;
      next.push_back({edges[k].a, mid[k]});
      next.push_back({mid[k], edges[k].b});
    }
    std::vector<Face> nextFaces;
    const int one = 1 << s;
    for (const Face& f : faces) {
      const int c = static_cast<int>(next.size());
      const int e0 = f.e0, e1 = f.e1, e2 = f.e2;
      if (edges[e0].a == edges[e2].a) {
        next.push_back({mid[e2], mid[e1]});
        next.push_back({mid[e0], mid[e2]});
        next.push_back({mid[e0], mid[e1]});
        nextFaces.push_back({c, c + 1, c + 2, 3 * one + f.id});
        nextFaces.push_back({2 * e0, c + 1, 2 * e2, f.id});
        nextFaces.push_back({2 * e0 + 1, 2 * e1, c + 2, one + f.id});
        nextFaces.push_back({c, 2 * e1 + 1, 2 * e2 + 1, 2 * one + f.id});
      } else {
        next.push_back({mid[e1], mid[e2]});
        next.push_back({mid[e2], mid[e0]});
        next.push_back({mid[e1], mid[e0]});
        nextFaces.push_back({c, c + 1, c + 2, 3 * one + f.id});
        nextFaces.push_back({2 * e0 + 1, c + 1, 2 * e2 + 1, f.id});
        nextFaces.push_back({2 * e0, 2 * e1 + 1, c + 2, one + f.id});
        nextFaces.push_back({c, 2 * e1, 2 * e2, 2 * one + f.id});
      }
    }
    edges = std::move(next);
    faces = std::move(nextFaces);
  }
  for (const Face& f : faces) {
    surax[f.id][0] = edges[f.e0].a;
    surax[f.id][1] = edges[f.e1].a;
    surax[f.id][2] = edges[f.e2].b;
  }
  for (int i = 0; i < kAxisCount; ++i) {
    const axis3 a = axes[i];
    const float len = std::sqrt(a.r * a.r + a.g * a.g + a.b * a.b);
    axtable[i] = {a.r / len, a.g / len, a.b / len};
  }
}

std::once_flag gTablesOnce;

inline void Sub(const float a[3], const float b[3], float out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}
inline void Cross(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}
inline float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Centre(const fixcoef* block, float c[3]) {
  c[0] = block->center_r;
  c[1] = block->center_g;
  c[2] = block->center_b;
}

void ShellPoint(const float c[3], float radius, int axis, float out[3]) {
  out[0] = c[0] + radius * axtable[axis].r;
  out[1] = c[1] + radius * axtable[axis].g;
  out[2] = c[2] + radius * axtable[axis].b;
}

// Factor by which colour - C must be scaled to reach the plane through the
// three shell points; 0 when the direction runs parallel to the plane.
float PlaneFactor(const float radii[3], const int32_t tri[3], const float colour[3],
                  const float c[3]) {
  float p[3][3];
  for (int j = 0; j < 3; ++j) ShellPoint(c, radii[j], tri[j], p[j]);
  float e1[3], e2[3], n[3], d0[3], dc[3];
  Sub(p[2], p[0], e1);
  Sub(p[1], p[0], e2);
  Cross(e1, e2, n);
  Sub(p[0], c, d0);
  Sub(colour, c, dc);
  const float den = Dot(n, dc);
  if (den == 0.0f) return 0.0f;
  return Dot(n, d0) / den;
}

float Distance(const float colour[3], const float c[3]) {
  float d[3];
  Sub(colour, c, d);
  return std::sqrt(Dot(d, d));
}

float* ShellRadii(fixcoef* block, int shell) {
  return shell == 0 ? block->l_in : shell == 1 ? block->l_mid : block->l_out;
}

// Shared loop of the four shell edits: `dent` shrinks the shell so that the
// samples fall outside it, otherwise it grows so that they fall inside.
bool EditShell(const pixeli* colours, int width, int height, fixcoef* block, int shell, bool dent) {
  if (colours == nullptr || width <= 0 || height <= 0) return true;
  gen_axtable();
  long count = static_cast<long>(width) * height;
  const pixeli* samples = colours;
  PixelBuffer filtered;
  if (!medianFilter(colours, width, height, block, filtered)) return false;
  if (filtered) {
    samples = filtered.get();
    count = static_cast<long>(width - 2) * (height - 2);
  }
  run_model_sample_edit(shell, dent, samples, static_cast<int>(std::min<long>(count, INT32_MAX)), block);
  float* radii = ShellRadii(block, shell);
  float c[3];
  Centre(block, c);
  for (long i = 0; i < count; ++i) {
    const float colour[3] = {float(samples[i].r), float(samples[i].g), float(samples[i].b)};
    const int t = getsegment(samples[i], block);
    const int32_t* tri = surax[t];
    float r[3] = {radii[tri[0]], radii[tri[1]], radii[tri[2]]};
    const bool inside = iocondition(r, tri, colour, block) < 1;
    if (inside != dent) continue;
    float w[3];
    if (getcontrib(colour, tri, w, block) < 0) continue;
    float nr[3] = {r[0], r[1], r[2]};
    const int res = dent ? push_plane(colour, tri, w, nr, block) : swell_plane(colour, tri, w, nr, block);
    if (res < 0) continue;
    for (int j = 0; j < 3; ++j)
      radii[tri[j]] = dent ? std::min(radii[tri[j]], nr[j]) : std::max(radii[tri[j]], nr[j]);
  }
  return true;
}

}  // namespace

void gen_axtable() { std::call_once(gTablesOnce, BuildTables); }

namespace {

// The triangle of a colour from its six axis measures; the integer and float
// forms take the same decisions.
template <typename T>
int DrawTriTable(int o, T y, T m, T h, T g, T l, T f) {
  if (m < y) {
    if (y > 3 * m) return o;
    if (3 * h > g) return o + 32;
    if (3 * l > f) return o + 64;
    return o + 96;
  }
  if (g >= h) {
    if (f < l) {
      if (3 * y > m) return o + 16;
      if (3 * h > g) return o + 48;
      if (l > 3 * f) return o + 80;
      return o + 112;
    }
    if (3 * y < m) return o + 24;
    if (3 * h < g) return o + 56;
    if (f > 3 * l) return o + 88;
    return o + 120;
  }
  if (3 * y > m) return o + 8;
  if (h > 3 * g) return o + 40;
  if (3 * l > f) return o + 72;
  return o + 104;
}

}  // namespace

int drawtritable(int o, int32_t y, int32_t m, int32_t h, int32_t g, int32_t l, int32_t f) {
  return DrawTriTable(o, y, m, h, g, l, f);
}

int drawtritable(int o, float y, float m, float h, float g, float l, float f) {
  return DrawTriTable(o, y, m, h, g, l, f);
}

int getsegment(const pixeli& c, const fixcoef* block) {
  const int32_t cr = centre_int(block->center_r);
  const int32_t cg = centre_int(block->center_g);
  const int32_t cb = centre_int(block->center_b);
  const int32_t dR = int32_t(c.r) - cr, dG = int32_t(c.g) - cg, dB = int32_t(c.b) - cb;
  const int o = octant_of(dR > 0, dG > 0, dB > 0);
  return triangle_of<int32_t>(o, std::abs(dR), std::abs(dG), std::abs(dB));
}

int getcontrib(const float colour[3], const int32_t tri[3], float weights[3], const fixcoef* block) {
  gen_axtable();
  float c[3];
  Centre(block, c);
  float d[3];
  Sub(colour, c, d);
  const float len = std::sqrt(Dot(d, d));
  if (len < 1.0f) return -1;
  for (float& v : d) v /= len;
  const float a0[3] = {axtable[tri[0]].r, axtable[tri[0]].g, axtable[tri[0]].b};
  const float a1[3] = {axtable[tri[1]].r, axtable[tri[1]].g, axtable[tri[1]].b};
  const float a2[3] = {axtable[tri[2]].r, axtable[tri[2]].g, axtable[tri[2]].b};
  float x[3];
  Cross(d, a1, x);
  if (std::sqrt(Dot(x, x)) < 0.0001f) {
    weights[0] = 0, weights[1] = 1, weights[2] = 0;
    return 1;
  }
  Cross(d, a2, x);
  if (std::sqrt(Dot(x, x)) < 0.0001f) {
    weights[0] = 0, weights[1] = 0, weights[2] = 1;
    return 1;
  }
  Cross(d, a0, x);
  if (std::sqrt(Dot(x, x)) < 0.0001f) {
    weights[0] = 1, weights[1] = 0, weights[2] = 0;
    return 1;
  }
  // Plane through A0 and d (normal n) cut with the line A1 + M (A2 - A1).
  float n[3], e[3];
  Cross(a0, d, n);
  Sub(a2, a1, e);
  const float den = Dot(n, e);
  if (std::fabs(den) < 1e-12f) {
    std::fputs("Error : Axis mis-definision (1)\n", stderr);
    return -4;
  }
  const float m = -Dot(n, a1) / den;
  if (!(m >= 0.0f && m <= 1.0f)) return -3;
  const float q[3] = {a1[0] + m * e[0], a1[1] + m * e[1], a1[2] + m * e[2]};
  // Position of the ray d along the segment A0 -> Q: d x (A0 + P (Q - A0)) = 0.
  float qa[3], dxa0[3], dxqa[3];
  Sub(q, a0, qa);
  Cross(d, a0, dxa0);
  Cross(d, qa, dxqa);
  const float den2 = Dot(dxqa, dxqa);
  if (den2 < 1e-20f) {
    std::fputs("Error : Axis mis-definision (2)\n", stderr);
    return -5;
  }
  float p = -Dot(dxa0, dxqa) / den2;
  if (!std::isfinite(p)) {
    std::fputs("Error : Axis mis-definision (3)\n", stderr);
    return -6;
  }
  p = std::clamp(p, 0.0f, 1.0f);
  weights[0] = 1.0f - p;
  weights[1] = (1.0f - m) * p;
  weights[2] = m * p;
  return 1;
}

int iocondition(const float radii[3], const int32_t tri[3], const float colour[3],
                const fixcoef* block) {
  gen_axtable();
  float c[3];
  Centre(block, c);
  return PlaneFactor(radii, tri, colour, c) > 1.0f ? -1 : 1;
}

int push_plane(const float colour[3], const int32_t tri[3], const float weights[3], float radii[3],
               const fixcoef* block) {
  float c[3];
  Centre(block, c);
  for (int j = 0; j < 3; ++j) {
    if (weights[j] > 0.999f) {
      radii[j] = Distance(colour, c) * 0.99f;
      return 1;
    }
  }
  double k = 196605.0, step = 98302.5;
  float cand[3] = {radii[0], radii[1], radii[2]};
  for (int it = 0; it < 21; ++it) {
    for (int j = 0; j < 3; ++j)
      cand[j] = weights[j] > 0 ? std::min(float(65535.0 / (weights[j] * k)), radii[j]) : radii[j];
    if (iocondition(cand, tri, colour, block) <= 0) k += step;
    else k -= step;
    if (k > 196605.0 || k < 0.0) return -1;
    step *= 0.5;
  }
  for (int j = 0; j < 3; ++j) radii[j] = cand[j];
  return 1;
}

int swell_plane(const float colour[3], const int32_t tri[3], const float weights[3], float radii[3],
                const fixcoef* block) {
  float c[3];
  Centre(block, c);
  for (int j = 0; j < 3; ++j) {
    if (weights[j] > 0.999f) {
      radii[j] = Distance(colour, c) * 1.01f;
      return 1;
    }
  }
  double k = 196605.0, step = 98302.5;
  float cand[3] = {radii[0], radii[1], radii[2]};
  for (int it = 0; it < 18; ++it) {
    for (int j = 0; j < 3; ++j) cand[j] = std::max(float(k * weights[j]), radii[j]);
    if (iocondition(cand, tri, colour, block) == 1) k += step;
    else k -= step;
    if (k > 196605.0 || k < 0.0) return -1;
    step *= 0.5;
  }
  for (int j = 0; j < 3; ++j) radii[j] = cand[j];
  return 1;
}

bool dnt_mid(const pixeli* colours, int width, int height, fixcoef* block) {
  return EditShell(colours, width, height, block, 1, true);
}
bool dnt_out(const pixeli* colours, int width, int height, fixcoef* block) {
  return EditShell(colours, width, height, block, 2, true);
}
bool jut_in(const pixeli* colours, int width, int height, fixcoef* block) {
  return EditShell(colours, width, height, block, 0, false);
}
bool jut_out(const pixeli* colours, int width, int height, fixcoef* block) {
  return EditShell(colours, width, height, block, 2, false);
}

void remove_inconsistence(int mode, fixcoef* block) {
  for (int i = 0; i < kAxisCount; ++i) {
    float& in = block->l_in[i];
    float& mid = block->l_mid[i];
    float& out = block->l_out[i];
    switch (mode) {
      case 0:
        mid = std::max(mid, in);
        out = std::max(out, mid);
        break;
      case 1:
        in = std::min(in, mid);
        out = std::max(out, mid);
        break;
      case 2:
        mid = std::min(mid, out);
        in = std::min(in, mid);
        break;
      default:
        return;
    }
  }
}

void makesphereshape(float radius, int shell, fixcoef* block) {
  float* r = ShellRadii(block, shell);
  std::fill(r, r + kAxisCount, radius);
}

void setcentercolor(const pixeli& pixel, float centre[3]) {
  centre[0] = pixel.r;
  centre[1] = pixel.g;
  centre[2] = pixel.b;
}

void compile_shell_planes(fixcoef* block) {
  gen_axtable();
  float c[3];
  Centre(block, c);
  const float* inner = block->l_in;
  const float* middle = block->l_mid;
  const float* outer = block->l_out;
  if (block->flag & kFlagAllMid) {
    inner = outer = middle;
  } else if (block->flag & kFlagInnerOwn) {
    outer = middle;
  }
  struct Shell {
    const float* r;
    keyplane* pl;
    float* a;
    float* b;
  } shells[3] = {{inner, block->pl_in, block->a_in, block->b_in},
                 {middle, block->pl_mid, block->a_mid, block->b_mid},
                 {outer, block->pl_out, block->a_out, block->b_out}};
  for (const Shell& s : shells) {
    for (int t = 0; t < kTriangleCount; ++t) {
      float p[3][3];
      for (int j = 0; j < 3; ++j) ShellPoint(c, s.r[surax[t][j]], surax[t][j], p[j]);
      float e1[3], e2[3], n[3];
      Sub(p[2], p[0], e1);
      Sub(p[1], p[0], e2);
      Cross(e1, e2, n);
      const float nn = -Dot(n, p[0]);
      s.pl[t] = {n[0], n[1], n[2], nn};
      s.a[t] = -(nn + Dot(n, c));
      s.b[t] = Dot(n, c);
    }
  }
}

}  // namespace chromakey
