#include "chromakey/engine/KeyerRTPlus.h"

#include <algorithm>
#include <cmath>

namespace chromakey {
namespace {

constexpr double kInv65535 = 0.000015259021893143654;
constexpr float kInv65535f = 0.000015259022f;
constexpr double kPos[7][2] = {{0, 0}, {1, 0}, {0.5, 1}, {-0.5, 1}, {-1, 0}, {-0.5, -1}, {0.5, -1}};
// Region triple (P0, P1, P2) of each sector as translate uses it.
constexpr int kSectorRegions[6][3] = {{0, 1, 2}, {3, 2, 0}, {0, 4, 3}, {0, 1, 6}, {5, 6, 0}, {0, 4, 5}};

// NaN counts as 0, so every store of a clamped value is defined.
inline double Clamp16d(double v) { return !(v > 0.0) ? 0.0 : (v > 65535.0 ? 65535.0 : v); }
inline float Clamp16f(float v) { return !(v > 0.0f) ? 0.0f : (v > 65535.0f ? 65535.0f : v); }

// Slopes (sx, sy) and intercept of the plane through three (x, y, h) points.
bool PlaneThrough(const double p[3][3], double& sx, double& sy, double& c) {
  const double x1 = p[1][0] - p[0][0], y1 = p[1][1] - p[0][1], h1 = p[1][2] - p[0][2];
  const double x2 = p[2][0] - p[0][0], y2 = p[2][1] - p[0][1], h2 = p[2][2] - p[0][2];
  const double det = x1 * y2 - x2 * y1;
  if (det == 0.0) return false;
  sx = (h1 * y2 - h2 * y1) / det;
  sy = (x1 * h2 - x2 * h1) / det;
  c = p[0][2] - sx * p[0][0] - sy * p[0][1];
  return true;
}

}  // namespace

// ---- Hexagon ----------------------------------------------------------------

Hexagon::Hexagon() {
  for (int i = 0; i < 7; ++i) {
    vertex_[i][0] = kPos[i][0];
    vertex_[i][1] = kPos[i][1];
    vertex_[i][2] = 0.0;
    candidate_[i] = 0.0;
  }
}

void Hexagon::set_height(int vertex, double h) {
  vertex_[vertex][2] = h;
  candidate_[vertex] = h;
}

int Hexagon::sector(double u, double v) {
  if (v > 0) {
    if (v < 2 * u) return 0;
    return v > -2 * u ? 1 : 2;
  }
  if (v <= 2 * u) return v >= -2 * u ? 3 : 4;
  return 5;
}

void Hexagon::sector_corners(int s, int& first, int& second) {
  static constexpr int kCorners[6][2] = {{1, 2}, {2, 3}, {3, 4}, {6, 1}, {5, 6}, {4, 5}};
  first = kCorners[s][0];
  second = kCorners[s][1];
}

void Hexagon::convergence(const double point[3], HexDir dir) {
  const double x = point[0], y = point[1], z = point[2];
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
  int c1, c2;
  sector_corners(sector(x, y), c1, c2);
  const int tri[3] = {0, c1, c2};
  double pts[3][3];
  for (int j = 0; j < 3; ++j) {
    pts[j][0] = vertex_[tri[j]][0];
    pts[j][1] = vertex_[tri[j]][1];
    pts[j][2] = vertex_[tri[j]][2];
  }
  double sx, sy, c;
  if (!PlaneThrough(pts, sx, sy, c)) return;
  const double delta = sx * x + sy * y + c - z;
  if (std::fabs(delta) < 0.001) return;
  if (dir == kRaise && delta > -0.001) return;
  if (dir == kLower && delta < 0.001) return;

  // Volume change of the whole surface when the three vertices of the
  // sample's triangle take the heights of the plane through the sample with
  // slopes (px, py).
  auto volume = [&](double px, double py) {
    for (int i = 0; i < 7; ++i) candidate_[i] = vertex_[i][2];
    for (int j = 0; j < 3; ++j)
      candidate_[tri[j]] = z + px * (vertex_[tri[j]][0] - x) + py * (vertex_[tri[j]][1] - y);
    double v = 0;
    for (int s = 0; s < 6; ++s) {
      int a, b;
      sector_corners(s, a, b);
      const double cand = (candidate_[0] + candidate_[a] + candidate_[b]) / 3.0;
      const double stored = (vertex_[0][2] + vertex_[a][2] + vertex_[b][2]) / 3.0;
      v += 0.5 * (cand - stored);
    }
    return v;
  };

  double h[3] = {vertex_[0][2], vertex_[c1][2], vertex_[c2][2]};
  sx = sy = 0.0;
  for (int it = 0; it < 500; ++it) {
    bool outside = false;
    for (int j = 0; j < 3; ++j) {
      h[j] = z + sx * (vertex_[tri[j]][0] - x) + sy * (vertex_[tri[j]][1] - y);
      if (h[j] < 0.0 || h[j] > 1.0) outside = true;
    }
    for (int j = 0; j < 3; ++j) {
      if (outside) h[j] = std::clamp(h[j], 0.0, 1.0);
      else h[j] = dir == kRaise ? std::max(h[j], vertex_[tri[j]][2]) : std::min(h[j], vertex_[tri[j]][2]);
      pts[j][2] = h[j];
    }
    double nsx, nsy;
    if (!PlaneThrough(pts, nsx, nsy, c)) break;
    if (outside) {
      sx = nsx, sy = nsy;
      continue;
    }
    const double vxm = std::fabs(volume(nsx - 0.017, nsy)), vxp = std::fabs(volume(nsx + 0.017, nsy));
    const double vym = std::fabs(volume(nsx, nsy - 0.017)), vyp = std::fabs(volume(nsx, nsy + 0.017));
    sx = nsx + vxm - vxp;
    sy = nsy + vym - vyp;
  }
  for (int j = 0; j < 3; ++j) {
    vertex_[tri[j]][2] = h[j];
    candidate_[tri[j]] = h[j];
  }
  flag_ = 1;
}

// ---- KeyerRTPlus --------------------------------------------------------------

void KeyerRTPlus::set_center_backing(float r, float g, float b, fixcoef* block) {
  block->center_r = r;
  block->center_g = g;
  block->center_b = b;
  regist_bw(block);
  const float gn = g / 65535.0f;
  float e, f;
  if (backing_class_ == kBackingColoured) {
    e = f = backing_chroma(r, g, b);
  } else if (backing_class_ == kBackingBlack) {
    e = (0.5f - gn) * 1.732f;
    f = (1.0f - gn) * 1.732f;
  } else {
    e = (gn - 0.5f) * 1.732f;
    f = gn * 1.732f;
  }
  block->rtplus_levels[0] = {0.05f, f, f};
  for (int i = 1; i < kRegionCount; ++i) block->rtplus_levels[i] = {0.05f, e, e};
}

void KeyerRTPlus::translate(const fixcoef* block) {
  regist_bw(block);
  const float r = block->center_r / 65535.0f;
  const float g = block->center_g / 65535.0f;
  const float b = block->center_b / 65535.0f;
  const float a = kChromaA1 * r + kChromaA2 * g + kChromaA2 * b;
  const float beta = -kChromaB * g + kChromaB * b;
  const float d = std::sqrt(a * a + beta * beta);
  float ap = 0, bp = 0;
  if (std::fabs(d) >= 1e-5f) {
    ap = -a / d;
    bp = -beta / d;
  }
  if (backing_class_ != kBackingColoured) {
    const bool black = backing_class_ == kBackingBlack;
    const float f[9] = {black ? kGreyAxis : -kGreyAxis, black ? 0.0f : 1.7320508f, kChromaA1, kChromaA2,
                        kChromaA2, 0.0f, kChromaB, -kChromaB, 0.0f};
    std::copy(f, f + 9, frame_);
  } else {
    const float f[9] = {kGreyAxis,
                        -kGreyAxis * (r + g + b),
                        kChromaA1 * bp,
                        kChromaB * ap + kChromaA2 * bp,
                        kChromaA2 * bp - kChromaB * ap,
                        kChromaA1 * ap,
                        kChromaA2 * ap - kChromaB * bp,
                        kChromaA2 * ap + kChromaB * bp,
                        d};
    std::copy(f, f + 9, frame_);
  }
  std::copy(frame_, frame_ + 9, pf_);
  pf_[1] *= 65535.0f;
  pf_[8] *= 65535.0f;

  static constexpr float kRow0[6] = {1, 1, -1, 1, 1, -1};
  static constexpr float kRow1[6] = {0, 1, 0, 0, 1, 0};
  static constexpr float kRow2[6] = {1, -1, 1, -1, 1, -1};
  static constexpr float kRow3[6] = {0, 2, 0, 0, 2, 0};
  constexpr float eps = 0.015625f;
  for (int s = 0; s < 6; ++s) {
    const keylevels& p0 = block->rtplus_levels[kSectorRegions[s][0]];
    const keylevels& p1 = block->rtplus_levels[kSectorRegions[s][1]];
    const keylevels& p2 = block->rtplus_levels[kSectorRegions[s][2]];
    float* col[20];
    for (int i = 0; i < 20; ++i) col[i] = &rows_[i][s];
    *col[0] = kRow0[s];
    *col[1] = kRow1[s];
    *col[2] = kRow2[s];
    *col[3] = kRow3[s];

    float H = p0.key - p0.base, sA, sA2;
    if (H < eps) {
      H = eps, sA = 64.0f, sA2 = -64.0f;
    } else {
      sA = 1.0f / H, sA2 = -1.0f / H;
    }
    *col[4] = (p0.base - p1.base) / 2;
    *col[5] = -(p2.base - (p0.base + p1.base) / 2) / 2;
    *col[6] = 1.0f;
    *col[7] = -p0.base;
    const float K = p1.key - p1.base;
    const float Kf = std::max(K, eps);
    const float lambda = Kf * H / ((H + Kf) * std::max(p2.key - p2.base, eps)) - 0.5f;
    const float kappa = ((K < eps ? 64.0f : 1.0f / K) + sA2) / 2;
    *col[8] = lambda * kappa;
    *col[9] = kappa;
    *col[10] = lambda * sA;
    *col[11] = sA;

    float M = p0.col - p0.base, t, t2;
    if (M < eps) {
      M = eps, t = 64.0f, t2 = -64.0f;
    } else {
      t = 1.0f / M, t2 = -1.0f / M;
    }
    for (int i = 0; i < 4; ++i) *col[12 + i] = *col[4 + i];
    const float N = p1.col - p1.base;
    const float Nf = std::max(N, eps);
    const float mu = Nf * M / ((M + Nf) * std::max(p2.col - p2.base, eps)) - 0.5f;
    const float nu = ((N < eps ? 64.0f : 1.0f / N) + t2) / 2;
    *col[16] = mu * nu;
    *col[17] = nu;
    *col[18] = mu * t;
    *col[19] = t;
  }
  for (int row : {1, 3, 7, 11, 15, 19})
    for (int s = 0; s < 6; ++s) rows_[row][s] *= 65535.0f;
  if (block->center_r == 0.0f && block->center_g == 0.0f && block->center_b == 0.0f)
    backing_class_ = kBackingPassThrough;
}

KeyerRTPlus::Eval KeyerRTPlus::Measure(float r, float g, float b, float t, const fixcoef* block) const {
  const float grey = pf_[0] * (r + g + b) + pf_[1];
  const float q = pf_[5] * r + pf_[6] * g + pf_[7] * b + pf_[8];
  const float v = pf_[2] * r + pf_[3] * g + pf_[4] * b;
  const bool coloured = backing_class_ == kBackingColoured;
  const double u = coloured ? grey : q;
  const double k = coloured ? q : grey;
  const int s = Hexagon::sector(u, v);
  const double O = u * rows_[0][s] + rows_[1][s];
  const double N = double(v) * rows_[2][s] + rows_[3][s];
  const double P = O * N * kInv65535;
  const double S = Clamp16d((rows_[16][s] * P + rows_[17][s] * O + rows_[18][s] * N + rows_[19][s]) *
                            (rows_[12][s] * O + rows_[13][s] * N + rows_[14][s] * k + rows_[15][s]) *
                            kInv65535);
  const double A = Clamp16d((rows_[8][s] * P + rows_[9][s] * O + rows_[10][s] * N + rows_[11][s]) *
                            (rows_[4][s] * O + rows_[5][s] * N + rows_[6][s] * k + rows_[7][s]) *
                            kInv65535);
  const bool near = std::fabs(r - block->center_r) < t && std::fabs(g - block->center_g) < t &&
                    std::fabs(b - block->center_b) < t;
  return {A, S, near || A == 0.0};
}

void KeyerRTPlus::pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                            const pixeli* mask, pixeli* out, const fixcoef* block, long count) const {
  if (backing_class_ == kBackingPassThrough) {
    for (long i = 0; i < count; ++i) out[i] = {fg[i].r, fg[i].g, fg[i].b, 65535};
    return;
  }
  const bool separate = work != fg;
  const bool useTrans = (block->flag & (kFlagTransColor | kFlagNoBGFill)) != 0;
  const bool black = backing_class_ == kBackingBlack;
  const double cr = block->center_r, cg = block->center_g, cb = block->center_b;
  for (long i = 0; i < count; ++i) {
    const pixeli& w = work[i];
    Eval e = Measure(w.r, w.g, w.b, block->scale16, block);
    if (!e.keyedOut && separate) e = Measure(fg[i].r, fg[i].g, fg[i].b, 1.0f, block);
    if (e.keyedOut) {
      out[i] = pixeli{};
      continue;
    }
    double br = 0, bg = 0, bb = 0;
    if (useTrans) {
      br = block->trans.r, bg = block->trans.g, bb = block->trans.b;
    } else if (bgwork != nullptr) {
      br = bgwork[i].r, bg = bgwork[i].g, bb = bgwork[i].b;
    }
    const double X = 1.0 - e.S / 65535.0;
    if (!black) {
      br -= cr, bg -= cg, bb -= cb;
    }
    pixeli o;
    o.r = static_cast<uint16_t>(Clamp16d(fg[i].r + br * X));
    o.g = static_cast<uint16_t>(Clamp16d(fg[i].g + bg * X));
    o.b = static_cast<uint16_t>(Clamp16d(fg[i].b + bb * X));
    double a = e.A;
    if (mask != nullptr) a = a * double(65535 - mask[i].g) * double(kInv65535f);
    o.a = static_cast<uint16_t>(a);
    out[i] = o;
  }
}

void KeyerRTPlus::run(const pixeli* fg, const pixeli* work, const pixeli* bgwork, const pixeli* mask,
                      pixeli* out, const fixcoef* block, long count) const {
  pixelproc(fg, work, bgwork, mask, out, block, count);
}

void KeyerRTPlus::pixelproc(const pixeli* fg, const pixeli* work, const pixeli* bg, pixeli* out,
                            const fixcoef* block) const {
  pixelproc(fg, work, bg, nullptr, out, block, 1);
}

void KeyerRTPlus::super_pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                                  const fixcoef* block) const {
  if (backing_class_ == kBackingPassThrough) {
    *out = {fg->r, fg->g, fg->b, 65535.0f};
    return;
  }
  Eval e = Measure(work->r, work->g, work->b, block->scale16, block);
  if (!e.keyedOut && work != fg) e = Measure(fg->r, fg->g, fg->b, 1.0f, block);
  if (e.keyedOut) {
    *out = pixelf{};
    return;
  }
  float br = 0, bgc = 0, bb = 0;
  if (block->flag & (kFlagTransColor | kFlagNoBGFill)) {
    br = block->trans.r, bgc = block->trans.g, bb = block->trans.b;
  } else if (bg != nullptr) {
    br = bg->r, bgc = bg->g, bb = bg->b;
  }
  if (backing_class_ != kBackingBlack) {
    br -= block->center_r, bgc -= block->center_g, bb -= block->center_b;
  }
  const float X = static_cast<float>(1.0 - e.S / 65535.0);
  out->r = fg->r + br * X;
  out->g = fg->g + bgc * X;
  out->b = fg->b + bb * X;
  out->a = static_cast<float>(e.A);
}

void KeyerRTPlus::pixelproc(const pixelf* fg, const pixelf* work, const pixelf* bg, pixelf* out,
                            const fixcoef* block) const {
  super_pixelproc(fg, work, bg, out, block);
  out->r = Clamp16f(out->r);
  out->g = Clamp16f(out->g);
  out->b = Clamp16f(out->b);
}

void KeyerRTPlus::pixelstat(float r, float g, float b, float& o1, float& o2, float& o3,
                            float& o4) const {
  const float u = pf_[0] * (r + g + b) + pf_[1];
  const float v = pf_[2] * r + pf_[3] * g + pf_[4] * b;
  static constexpr float kPaint[6][3] = {{65535, 0, 0},     {0, 65535, 0},     {0, 0, 65535},
                                         {65535, 65535, 0}, {65535, 0, 65535}, {0, 65535, 65535}};
  const int s = Hexagon::sector(u, v);
  o1 = kPaint[s][0];
  o2 = kPaint[s][1];
  o3 = kPaint[s][2];
  o4 = 65535.0f;
}

void KeyerRTPlus::get_contribute(const pixeli* samples, int n) {
  std::fill(weights_, weights_ + 7, 0.0f);
  if (samples == nullptr || n <= 0) return;
  double r = 0, g = 0, b = 0;
  for (int i = 0; i < n; ++i) {
    r += samples[i].r;
    g += samples[i].g;
    b += samples[i].b;
  }
  const float mr = float(r / n / 65535.0), mg = float(g / n / 65535.0), mb = float(b / n / 65535.0);
  const float u = pf_[0] * (mr + mg + mb) + pf_[1] / 65535.0f;
  const float v = pf_[2] * mr + pf_[3] * mg + pf_[4] * mb;
  if (u * u + v * v < 0.04f) {
    weights_[0] = 1.0f;
    return;
  }
  int c1, c2;
  Hexagon::sector_corners(Hexagon::sector(u, v), c1, c2);
  weights_[0] = 0.3f;
  weights_[c1] = 1.0f;
  weights_[c2] = 1.0f;
}

int KeyerRTPlus::Reshape(const pixeli* s, int n, fixcoef* block, float keylevels::*level,
                         Hexagon::HexDir dir) {
  if (n <= 0 || s == nullptr) return -1;
  Hexagon hex;
  for (int i = 0; i < kRegionCount; ++i)
    hex.set_height(i, std::clamp(double(block->rtplus_levels[i].*level), 0.0, 1.0));
  translate(block);
  for (int i = 0; i < n; ++i) {
    float o[3];
    transfer(s[i].r / 65535.0f, s[i].g / 65535.0f, s[i].b / 65535.0f, &o[0], &o[1], &o[2]);
    const double p[3] = {o[0], o[1], o[2]};
    hex.convergence(p, dir);
  }
  for (int i = 0; i < kRegionCount; ++i) block->rtplus_levels[i].*level = float(hex.height(i));
  return 1;
}

int KeyerRTPlus::csm_jut_base(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::base, Hexagon::kRaise);
  if (r > 0) csm_remove_inconsistency_obey_base(block);
  return r;
}
int KeyerRTPlus::csm_jut_in_out(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::key, Hexagon::kRaise);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRTPlus::csm_jut_out(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::col, Hexagon::kRaise);
  if (r > 0) csm_remove_inconsistency_obey_col(block);
  return r;
}
int KeyerRTPlus::csm_ljut_out(const pixeli* s, int n, fixcoef* block) { return csm_jut_out(s, n, block); }
int KeyerRTPlus::csm_dent_base(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::base, Hexagon::kLower);
  if (r > 0) csm_remove_inconsistency_obey_base(block);
  return r;
}
int KeyerRTPlus::csm_dent_key(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::key, Hexagon::kLower);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRTPlus::csm_dent_col(const pixeli* s, int n, fixcoef* block) {
  const int r = Reshape(s, n, block, &keylevels::col, Hexagon::kLower);
  if (r > 0) csm_remove_inconsistency_obey_col(block);
  return r;
}

void KeyerRTPlus::csm_remove_inconsistency(fixcoef* block) { csm_remove_inconsistency_obey_base(block); }
void KeyerRTPlus::csm_remove_inconsistency_obey_base(fixcoef* block) {
  for (auto& l : block->rtplus_levels) {
    l.key = std::max(l.base, l.key);
    l.col = std::max(l.key, l.col);
  }
}
void KeyerRTPlus::csm_remove_inconsistency_obey_key(fixcoef* block) {
  for (auto& l : block->rtplus_levels) {
    l.base = std::min(l.key, l.base);
    l.col = std::max(l.key, l.col);
  }
}
void KeyerRTPlus::csm_remove_inconsistency_obey_col(fixcoef* block) {
  for (auto& l : block->rtplus_levels) {
    l.key = std::min(l.col, l.key);
    l.base = std::min(l.key, l.base);
  }
}

void KeyerRTPlus::weightave(fixcoef* dst, const fixcoef* a, const fixcoef* b, float t) {
  for (int i = 0; i < kRegionCount; ++i) {
    dst->rtplus_levels[i].base = (1 - t) * a->rtplus_levels[i].base + t * b->rtplus_levels[i].base;
    dst->rtplus_levels[i].key = (1 - t) * a->rtplus_levels[i].key + t * b->rtplus_levels[i].key;
    dst->rtplus_levels[i].col = (1 - t) * a->rtplus_levels[i].col + t * b->rtplus_levels[i].col;
  }
}

int KeyerRTPlus::Increment(const pixeli* s, int n, fixcoef* block, float keylevels::*level,
                           double sign) {
  if (n <= 0 || s == nullptr) return -1;
  get_contribute(s, n);
  for (int i = 0; i < kRegionCount; ++i) {
    const double v = block->rtplus_levels[i].*level + sign * 0.04 * weights_[i];
    block->rtplus_levels[i].*level = static_cast<float>(v);
  }
  return 1;
}

int KeyerRTPlus::detailPlus(const pixeli* s, int n, fixcoef* block) {
  const int r = Increment(s, n, block, &keylevels::base, -1.0);
  if (r > 0)
    for (auto& l : block->rtplus_levels) l.base = std::max(0.0f, l.base);
  return r;
}
int KeyerRTPlus::detailMinus(const pixeli* s, int n, fixcoef* block) {
  const int r = Increment(s, n, block, &keylevels::base, 1.0);
  if (r > 0) csm_remove_inconsistency_obey_base(block);
  return r;
}
int KeyerRTPlus::mattePlus(const pixeli* s, int n, fixcoef* block) {
  const int r = Increment(s, n, block, &keylevels::key, -1.0);
  if (r > 0) csm_remove_inconsistency_obey_base(block);
  return r;
}
int KeyerRTPlus::matteMinus(const pixeli* s, int n, fixcoef* block) {
  const int r = Increment(s, n, block, &keylevels::key, 1.0);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRTPlus::spillPlus(const pixeli* s, int n, fixcoef* block) {
  const int r = Increment(s, n, block, &keylevels::col, -1.0);
  if (r > 0) csm_remove_inconsistency_obey_key(block);
  return r;
}
int KeyerRTPlus::spillMinus(const pixeli* s, int n, fixcoef* block) {
  return Increment(s, n, block, &keylevels::col, 1.0);
}

void KeyerRTPlus::regist_offset_shape(const fixcoef* block) {
  for (int i = 0; i < kRegionCount; ++i) {
    snap_base_[i] = block->rtplus_levels[i].base;
    snap_key_[i] = block->rtplus_levels[i].key;
    snap_col_[i] = block->rtplus_levels[i].col;
  }
}
int KeyerRTPlus::registerTuneColor(pixeli p, fixcoef* block) {
  get_contribute(&p, 1);
  regist_offset_shape(block);
  return 1;
}
void KeyerRTPlus::Slider(float x, fixcoef* block, float keylevels::*level, const float* snapshot) {
  for (int i = 0; i < kRegionCount; ++i)
    block->rtplus_levels[i].*level = std::max(0.0f, weights_[i] * (x - 0.5f) + snapshot[i]);
}
void KeyerRTPlus::modify_base(float x, fixcoef* block) {
  Slider(x, block, &keylevels::base, snap_base_);
  csm_remove_inconsistency_obey_key(block);
}
void KeyerRTPlus::modify_key(float x, fixcoef* block) {
  Slider(x, block, &keylevels::key, snap_key_);
  csm_remove_inconsistency_obey_base(block);
}
void KeyerRTPlus::modify_col(float x, fixcoef* block) {
  Slider(x, block, &keylevels::col, snap_col_);
  csm_remove_inconsistency_obey_key(block);
}

}  // namespace chromakey
