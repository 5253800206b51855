#include "chromakey/engine/Lighting.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <set>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/KeyThreads.h"
#include "chromakey/engine/KeyVolume.h"
#include "chromakey/engine/Keyers.h"

namespace chromakey {

int32_t s_adjustLightingOuterGridBoundry = 5;

namespace {

constexpr float kHalfRoot2 = 0.70710677f;
constexpr int kMaxShellSamples = 10000;

// Chroma and hue (in turns) of a colour on the 0..1 scale.
void ChromaHue(double r, double g, double b, double& chroma, float& hue) {
  const float x = static_cast<float>((b - g) * kHalfRoot2);
  const float y = static_cast<float>((-2.0 * r + g + b) * kHalfRoot2);
  chroma = std::sqrt(double(x) * x + double(y) * y);
  hue = std::atan2(y, x) * 0.15915963f;
}

struct Hsv {
  double h, s, v;  // h in sixths 0..6
};

Hsv ToHsv(double r, double g, double b) {
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  Hsv o{0.0, mx > 0.0 ? (mx - mn) / mx : 0.0, mx};
  const double d = mx - mn;
  if (d > 0.0) {
    if (mx == r) o.h = (g - b) / d;
    else if (mx == g) o.h = (b - r) / d + 2.0;
    else o.h = (r - g) / d + 4.0;
    if (o.h < 0.0) o.h += 6.0;
  }
  return o;
}

void FromHsv(const Hsv& c, double& r, double& g, double& b) {
  if (c.s < 0.00001) {
    r = g = b = c.v;
    return;
  }
  double h = std::fmod(c.h, 6.0);
  if (h < 0.0) h += 6.0;
  const int i = std::min(5, static_cast<int>(h));
  const double f = h - i;
  const double p = c.v * (1.0 - c.s), q = c.v * (1.0 - c.s * f), t = c.v * (1.0 - c.s * (1.0 - f));
  switch (i) {
    case 0: r = c.v, g = t, b = p; break;
    case 1: r = q, g = c.v, b = p; break;
    case 2: r = p, g = c.v, b = t; break;
    case 3: r = p, g = q, b = c.v; break;
    case 4: r = t, g = p, b = c.v; break;
    default: r = c.v, g = p, b = q; break;
  }
}

inline uint16_t Trunc16(double v) {
  if (!(v > 0.0)) return 0;
  if (v > 65535.0) return 65535;
  return static_cast<uint16_t>(v);
}

// Whether a colour is still dominated by the backing's main channel.
bool Dominated(double r, double g, double b, const pixeli& backing, double ratio) {
  if (backing.b > backing.r && backing.b > backing.g) return b > ratio * g && b > ratio * r;
  if (backing.g > backing.r && backing.g > backing.b)
    return (g > ratio * b && g > ratio * r) || (2.0 * b < g && g * 1.2 > r);
  return r > g && r > b;
}

void Fill(GridNode& n, const GRID& g, int x, int y, const pixeli& centre) {
  static constexpr int kD[8][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  double sum[3] = {0, 0, 0}, wsum = 0;
  for (int k = 0; k < 8; ++k) {
    const int xx = x + kD[k][0], yy = y + kD[k][1];
    if (xx < 0 || yy < 0 || xx >= g.nx || yy >= g.ny) continue;
    const GridNode& m = g.node(xx, yy);
    if (m.state == 2) continue;
    const double w = k < 4 ? 1.0 : 0.70710677;
    sum[0] += w * m.r, sum[1] += w * m.g, sum[2] += w * m.b;
    wsum += w;
  }
  if (wsum > 0.0) {
    n.r = Trunc16(sum[0] / wsum);
    n.g = Trunc16(sum[1] / wsum);
    n.b = Trunc16(sum[2] / wsum);
  } else {
    // No visible backing anywhere near: the node takes the centre colour, so
    // the pixels around it are left as they are.
    n.r = centre.r, n.g = centre.g, n.b = centre.b;
  }
  n.a = 0;
  n.state = 1;
}

}  // namespace

void hgram::smooth() {
  const size_t n = counts.size();
  if (n < 2) return;
  std::vector<int32_t> c = counts;
  counts[0] = (3 * c[0] + c[1]) / 4;
  counts[n - 1] = (3 * c[n - 1] + c[n - 2]) / 4;
  for (size_t i = 1; i + 1 < n; ++i) counts[i] = (c[i - 1] + 2 * c[i] + c[i + 1]) / 4;
}

int getCount(const GRID& g, int x, int y, int state) {
  if (g.node(x, y).state == 1) return 0;
  int n = 0;
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx == 0 && dy == 0) continue;
      const int xx = x + dx, yy = y + dy;
      if (xx < 0 || yy < 0 || xx >= g.nx || yy >= g.ny) continue;
      if (g.node(xx, yy).state == state) ++n;
    }
  return n;
}

void phase_calculateGenerateSimulatedForeground(const GRID& g, int mode) {
  const fixcoef* block = g.block;
  const pixeli C{Trunc16(block->center_r), Trunc16(block->center_g), Trunc16(block->center_b), 65535};
  double c;
  float hc;
  ChromaHue(C.r / 65535.0, C.g / 65535.0, C.b / 65535.0, c, hc);
  double scale;
  if (c > 1.0) {
    c = 1.0;
    scale = 1.0;
  } else {
    scale = c >= 0.05 ? 1.0 / c : 0.0;
  }
  const bool grey = c < 0.05;
  for (long row = g.firstRow; row <= g.lastRow; ++row) {
    int ny0 = 0;
    float fy = 0.0f;
    if (g.cellH > 0.0f) {
      const float py = row / g.cellH;
      ny0 = std::min(static_cast<int>(std::floor(py)), g.ny - 2);
      fy = py - ny0;
    }
    for (long col = 0; col < g.width; ++col) {
      const size_t idx = size_t(row) * size_t(g.width) + size_t(col);
      const pixeli P = g.source[idx];
      double v;
      float hp;
      ChromaHue(P.r / 65535.0, P.g / 65535.0, P.b / 65535.0, v, hp);
      v = std::min(1.0, v);
      double dh = hp - hc;
      while (dh > 0.5) dh -= 1.0;
      while (dh < -0.5) dh += 1.0;
      dh *= 6.0;
      const double d = grey ? std::sqrt(dh * dh + (v - c) * (v - c))
                            : std::sqrt(dh * dh + (v * scale - 1.0) * (v * scale - 1.0));
      double w, t = 0.0;
      if (d > 1.0) {
        w = 0.0;
        t = 2.0;
      } else {
        t = 1.5 * d - 0.25;
        w = t < 0.0 ? 1.0 : (t > 1.0 ? 0.0 : 1.0 - t);
      }
      int nx0 = 0;
      float fx = 0.0f;
      if (g.cellW > 0.0f) {
        const float px = col / g.cellW;
        nx0 = std::min(static_cast<int>(std::floor(px)), g.nx - 2);
        fx = px - nx0;
      }
      const GridNode& n00 = g.node(nx0, ny0);
      const GridNode& n01 = g.node(nx0, ny0 + 1);
      const GridNode& n10 = g.node(nx0 + 1, ny0);
      const GridNode& n11 = g.node(nx0 + 1, ny0 + 1);
      const float w00 = (1 - fx) * (1 - fy), w01 = (1 - fx) * fy, w10 = fx * (1 - fy), w11 = fx * fy;
      const pixeli G{Trunc16(w00 * n00.r + w01 * n01.r + w10 * n10.r + w11 * n11.r),
                     Trunc16(w00 * n00.g + w01 * n01.g + w10 * n10.g + w11 * n11.g),
                     Trunc16(w00 * n00.b + w01 * n01.b + w10 * n10.b + w11 * n11.b), 65535};
      pixeli o = P;
      if (mode == 1) {
        o = G;
      } else {
        if (w != 0.0) {
          o.r = Trunc16(P.r + (double(C.r) - G.r) * w);
          o.g = Trunc16(P.g + (double(C.g) - G.g) * w);
          o.b = Trunc16(P.b + (double(C.b) - G.b) * w);
        }
        if (mode == 2) o.a = w == 0.0 ? 0 : (t < 0.0 ? 65535 : static_cast<uint16_t>(65535.0 * w));
        else o.a = 65535;
      }
      g.out[idx] = o;
    }
  }
}

bool generateSimulatedRender(const pixeli* source, pixeli* out, int width, int height, int gridSize,
                             int level, const fixcoef* block, pixeli* reference, int mode, int workers) {
  if (source == nullptr || block == nullptr || (out == nullptr && reference == nullptr)) return false;
  if (gridSize <= 0 || mode < 0 || mode > 2 || level < 0 || float(level) > kMaxShellRadius) return false;
  const size_t count = pixel_count(width, height);
  if (count == 0) return false;
  const int n = gridSize + 1 <= 100 ? gridSize + 1 : 99;

  GRID g;
  try {
    g.nodes.resize(100 * 100);
  } catch (const std::bad_alloc&) {
    return false;
  }
  g.nx = g.ny = n;
  g.width = width;
  g.height = height;
  g.cellW = float(width - 1) / float(n - 1);
  g.cellH = float(height - 1) / float(n - 1);
  g.invCellW = g.cellW > 0.0f ? 1.0f / g.cellW : 0.0f;
  g.invCellH = g.cellH > 0.0f ? 1.0f / g.cellH : 0.0f;
  g.source = source;
  g.out = out;
  g.block = block;
  g.level = level;
  g.firstRow = 0;
  g.lastRow = height - 1;
  if (out != nullptr) std::copy(source, source + count, out);

  // A provisional key of the photo's own backing, in a scratch block.
  fixcoef sb;
  init_KEYp(&sb);
  sb.flag |= kFlagNoBGFill;
  sb.center_r = std::trunc(block->center_r);
  sb.center_g = std::trunc(block->center_g);
  sb.center_b = std::trunc(block->center_b);
  std::fill(std::begin(sb.l_in), std::end(sb.l_in), float(level));
  std::fill(std::begin(sb.l_mid), std::end(sb.l_mid), 130560.0f);
  std::fill(std::begin(sb.l_out), std::end(sb.l_out), 130560.0f);
  {
    PixelBuffer fake;
    const int fakes = generate_fakefg(fake, &sb);
    if (fakes > 0) {
      if (!dnt_out(fake.get(), fakes, 1, &sb)) return false;
    } else {
      std::fill(std::begin(sb.l_mid), std::end(sb.l_mid), 32640.0f);
      std::fill(std::begin(sb.l_out), std::end(sb.l_out), 32640.0f);
    }
  }
  for (int i = 0; i < kAxisCount; ++i) {
    sb.l_mid[i] = std::min(sb.l_mid[i], sb.l_out[i]);
    sb.l_in[i] = std::min(sb.l_in[i], sb.l_mid[i]);
  }
  const pixeli centre{static_cast<uint16_t>(sb.center_r), static_cast<uint16_t>(sb.center_g),
                      static_cast<uint16_t>(sb.center_b), 65535};
  histogram_proc(centre, source, width, height, &sb, false, true, 0.0f, 0.0f, false, false, 1, 1);
  if (!keycoef_begin(&sb)) return false;

  // Node sampling and classification.
  bool anyCovered = false;
  const int inset = s_adjustLightingOuterGridBoundry;
  for (int x = 0; x < n; ++x) {
    for (int y = 0; y < n; ++y) {
      long px = static_cast<long>(x * g.cellW), py = static_cast<long>(y * g.cellH);
      if (x == 0) px += inset;
      if (x == n - 1) px -= inset;
      if (y == 0) py += inset;
      if (y == n - 1) py -= inset;
      double sum[3] = {0, 0, 0};
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx) {
          const long cx = std::clamp<long>(px + dx, 0, width - 1);
          const long cy = std::clamp<long>(py + dy, 0, height - 1);
          const pixeli& p = source[size_t(cy) * size_t(width) + size_t(cx)];
          sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
        }
      GridNode& node = g.node(x, y);
      node.r = Trunc16(sum[0] / 9.0);
      node.g = Trunc16(sum[1] / 9.0);
      node.b = Trunc16(sum[2] / 9.0);
      node.a = 65535;
      const pixeli np{node.r, node.g, node.b, 65535};
      pixeli keyed{};
      keyproc(&np, nullptr, &np, nullptr, nullptr, &keyed, 1, &sb);
      node.state = keyed.a < 19660.5f ? 0 : 2;
      anyCovered |= node.state == 2;
    }
  }
  keycoef_finish(&sb);

  // Fill covered nodes from their neighbours, best-supported first.
  if (anyCovered) {
    for (int x = 0; x < n; ++x)
      for (int y = 0; y < n; ++y) g.node(x, y).count = getCount(g, x, y, 0);
    // Covered nodes sit in buckets by (count, neighbours in state 0 or 1);
    // each bucket is ordered by scan position (y outer, x inner), so the next
    // node to fill is the first of the highest bucket. Filling a node only
    // raises its covered neighbours' second value.
    std::set<int> buckets[9][9];
    std::vector<int> allOf(size_t(n) * 100, 0);
    auto key = [](int x, int y) { return y * 100 + x; };
    for (int x = 0; x < n; ++x)
      for (int y = 0; y < n; ++y) {
        const GridNode& nd = g.node(x, y);
        if (nd.state != 2) continue;
        const int all = getCount(g, x, y, 1) + nd.count;
        allOf[size_t(x) * 100 + y] = all;
        buckets[nd.count][all].insert(key(x, y));
      }
    for (;;) {
      int bx = -1, by = -1;
      for (int c = 8; c >= 0 && bx < 0; --c)
        for (int a = 8; a >= 0 && bx < 0; --a)
          if (!buckets[c][a].empty()) {
            const int k = *buckets[c][a].begin();
            buckets[c][a].erase(buckets[c][a].begin());
            bx = k % 100, by = k / 100;
          }
      if (bx < 0) break;
      Fill(g.node(bx, by), g, bx, by, centre);
      for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy) {
          const int xx = bx + dx, yy = by + dy;
          if ((dx == 0 && dy == 0) || xx < 0 || yy < 0 || xx >= n || yy >= n) continue;
          const GridNode& nb = g.node(xx, yy);
          if (nb.state != 2) continue;
          int& all = allOf[size_t(xx) * 100 + yy];
          buckets[nb.count][all].erase(key(xx, yy));
          ++all;
          buckets[nb.count][std::min(all, 8)].insert(key(xx, yy));
        }
    }
  }

  if (out == nullptr) {
    size_t k = 0;
    for (int x = 0; x < n; ++x)
      for (int y = 0; y < n; ++y) {
        const GridNode& nd = g.node(x, y);
        reference[k++] = {nd.r, nd.g, nd.b, nd.a};
      }
    return true;
  }
  const int N = (workers >= 2 && width >= 10 && height >= 10) ? workers : 1;
  return split_pass(N, height, [&](long begin, long end) {
    GRID band = g;  // each worker gets its own grid record with its own rows
    band.firstRow = static_cast<int32_t>(begin);
    band.lastRow = static_cast<int32_t>(end - 1);
    phase_calculateGenerateSimulatedForeground(band, mode);
  });
}

int gen_art_color(int family, pixeli* buffer, const fixcoef* block, float minimum) {
  const double cr = block->center_r, cg = block->center_g, cb = block->center_b;
  if (family >= 0 && family <= 2) {
    int k = 0;
    const double radius = 16383.75;
    for (int i = 0; i < 100; ++i)
      for (int m = 0; m < 100; ++m) {
        const double phi = i * 0.03141593 - M_PI / 2, lam = m * 0.06283186;
        const double c[3] = {cr + radius * std::cos(phi) * std::cos(lam),
                             cg + radius * std::cos(phi) * std::sin(lam), cb + radius * std::sin(phi)};
        if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[0] > 65535 || c[1] > 65535 || c[2] > 65535) continue;
        buffer[k++] = {uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2]), 65535};
      }
    return k;
  }
  const double mx = std::max({cr, cg, cb}) / 65535.0, mn = std::min({cr, cg, cb}) / 65535.0;
  const double D = -65535.0 * std::max(0.1 - (mx - mn), double(minimum));
  for (int i = 25; i < 75; ++i)
    for (int j = 50; j < 150; ++j) {
      const double v = (i < 50 ? i : 74 - i) * 1337.449;
      const double u = (j < 100 ? j : 149 - j) * 661.9697;
      const size_t k = size_t(i - 25) * 100 + size_t(j - 50);
      if (v >= u) {
        const uint16_t first = Trunc16(std::max(u + D, 0.0));
        buffer[k] = {first, Trunc16(u), Trunc16(v), 65535};
        buffer[5000 + k] = {first, Trunc16(v), Trunc16(u), 65535};
      } else {
        buffer[k] = buffer[5000 + k] = {65535, 65535, 65535, 65535};
      }
    }
  const double hueShift = ToHsv(cr / 65535.0, cg / 65535.0, cb / 65535.0).h;
  for (int k = 0; k < 10000; ++k) {
    Hsv h = ToHsv(buffer[k].r / 65535.0, buffer[k].g / 65535.0, buffer[k].b / 65535.0);
    h.h = std::fmod(h.h + hueShift, 6.0);
    double r, g, b;
    FromHsv(h, r, g, b);
    buffer[k] = {Trunc16(r * 65535.0), Trunc16(g * 65535.0), Trunc16(b * 65535.0), 65535};
  }
  return 10000;
}

int generate_fakefg(PixelBuffer& buffer, const fixcoef* block) {
  if (!buffer.allocate(10000)) return 0;
  const Hsv c = ToHsv(block->center_r / 65535.0, block->center_g / 65535.0, block->center_b / 65535.0);
  if (c.s < 0.1) return 0;
  if (c.s < 0.6 && (c.v < 0.07 || c.v > 0.93)) return 0;
  int family;
  if (c.h < 0.5) family = 5;
  else if (c.h < 1.5) family = 8;
  else if (c.h < 2.5) family = 4;
  else if (c.h < 3.5) family = 6;
  else if (c.h < 4.5) family = 3;
  else if (c.h < 5.5) family = 7;
  else family = 5;
  return gen_art_color(family, buffer.get(), block, 0.1f);
}

void pix_backcolor_proc(const pixeli& pixel, float u[4], float v[4]) {
  // Orthonormal chroma plane: e1 = (0, -1, 1)/sqrt 2, e2 = (-2, 1, 1)/sqrt 6.
  static constexpr float e1[3] = {0.0f, -0.70710677f, 0.70710677f};
  static constexpr float e2[3] = {-0.81649655f, 0.40824828f, 0.40824828f};
  const float c[3] = {pixel.r / 65535.0f, pixel.g / 65535.0f, pixel.b / 65535.0f};
  const float x1 = e1[0] * c[0] + e1[1] * c[1] + e1[2] * c[2];
  const float x2 = e2[0] * c[0] + e2[1] * c[1] + e2[2] * c[2];
  const float chroma = std::sqrt(x1 * x1 + x2 * x2);
  if (chroma < 0.00001f) {
    for (int i = 0; i < 3; ++i) u[i] = e1[i], v[i] = e2[i];
    u[3] = chroma * 65535.0f;
    v[3] = 0.0f;
    return;
  }
  for (int i = 0; i < 3; ++i) {
    u[i] = -(x1 * e1[i] + x2 * e2[i]) / chroma;
    v[i] = (-x2 * e1[i] + x1 * e2[i]) / chroma;
  }
  u[3] = chroma * 65535.0f;
  v[3] = 0.0f;
}

void bleach(const float colour[3], const float backing[3], float out[3], float amount, float ratio) {
  double d[3] = {colour[0] - backing[0], colour[1] - backing[1], colour[2] - backing[2]};
  const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (!(len > 0.0)) {
    std::copy(colour, colour + 3, out);
    return;
  }
  for (double& x : d) x /= len;
  const pixeli back{Trunc16(backing[0]), Trunc16(backing[1]), Trunc16(backing[2]), 0};
  auto backingLike = [&](const double p[3]) {
    for (int i = 0; i < 3; ++i)
      if (p[i] < 0.0 || p[i] > 65535.0) return false;
    if (p[0] + p[1] + p[2] < 30720.0) return false;
    return Dominated(p[0], p[1], p[2], back, ratio);
  };
  double pos[3] = {colour[0], colour[1], colour[2]};
  double step = 32768.0;
  bool forward = true;
  for (int i = 0; i < 15; ++i) {
    const double s = forward ? step : -step;
    for (int k = 0; k < 3; ++k) pos[k] += d[k] * s;
    forward = backingLike(pos);
    step *= 0.5;
  }
  for (int k = 0; k < 3; ++k)
    out[k] = static_cast<float>(std::clamp(colour[k] + (pos[k] - colour[k]) * amount, 0.0, 65535.0));
}

bool histogram_proc(const pixeli& C, const pixeli* image, int width, int height, fixcoef* block,
                    bool bgPass, bool fgPass, float bgWiden, float fgWiden, bool skipInner,
                    bool middlePass, int colStep, int rowStep) {
  if (image == nullptr || width <= 0 || height <= 0 || colStep < 1 || rowStep < 1) return false;
  float u[4], v[4];
  pix_backcolor_proc(C, u, v);
  auto coords = [&](const pixeli& p, int64_t& a, int64_t& b) {
    a = static_cast<int64_t>(v[0] * p.r + v[1] * p.g + v[2] * p.b);
    b = static_cast<int64_t>(u[0] * p.r + u[1] * p.g + u[2] * p.b + u[3]);
  };
  int64_t sa = 0, sbsum = 0, n = 0;
  for (long y = 0; y < height; y += rowStep)
    for (long x = 0; x < width; x += colStep) {
      int64_t a, b;
      coords(image[size_t(y) * size_t(width) + size_t(x)], a, b);
      sa += a, sbsum += b, ++n;
    }
  if (n == 0) return false;
  const int64_t ma = sa / n, mb = sbsum / n;
  double dx = 1.0, dy = 0.0;
  const double len = std::sqrt(double(ma) * ma + double(mb) * mb);
  if (len >= 0.00001) dx = mb / len, dy = ma / len;
  auto binOf = [&](const pixeli& p) {
    int64_t a, b;
    coords(p, a, b);
    const int64_t s = static_cast<int64_t>(b * dx + a * dy);
    if (s < 1) return int64_t(128);
    return (1024 - (s >> 6)) >> 3;
  };
  hgram h;
  h.counts.assign(256, 0);
  int64_t total = 0;
  for (long y = 0; y < height; y += rowStep)
    for (long x = 0; x < width; x += colStep) {
      const int64_t bin = binOf(image[size_t(y) * size_t(width) + size_t(x)]);
      if (bin < 0 || bin > 255) continue;
      ++h.counts[size_t(bin)];
      ++total;
    }
  if (total > 0) {
    const double f = 21600.0 / double(total);
    for (auto& c : h.counts) c = static_cast<int32_t>(c * f);
  }
  for (int i = 0; i < 4; ++i) h.smooth();
  const int64_t G = (1024 - std::max<int64_t>(0, static_cast<int64_t>(std::trunc(std::trunc(u[3]) * dx))) / 64) / 8;

  int D7[256] = {};
  for (int i = 0; i < 255; ++i) D7[i] = (h.counts[i + 1] - h.counts[i]) / 7;
  int F = 255;
  for (int i = 0; i < 256; ++i)
    if (h.counts[i] != 0) {
      F = i;
      break;
    }
  const int B0 = static_cast<int>(132 - (132 - G) / 2);
  auto rising = [&](int i) { return i >= 1 && i <= 253 && D7[i] > 0 && D7[i - 1] < D7[i] && D7[i] >= D7[i + 1]; };
  int iB = B0;
  for (int i = std::max(B0 + 1, 1); i <= 253; ++i)
    if (rising(i)) {
      iB = i;
      break;
    }
  int eS = B0;
  for (int k = std::min(B0 + 1, 253); k >= 1; --k)
    if (D7[k] < -40 && D7[k] < D7[k + 1] && D7[k - 1] >= D7[k]) {
      eS = k;
      break;
    }
  int sS = F;
  for (int k = std::max(F + 1, 1); k <= 253; ++k)
    if (rising(k)) {
      sS = k;
      break;
    }

  int bLo = iB, bHi = 131;
  if (bgWiden != 0.0f && iB < 132) {
    const double w = (132 - iB) * double(bgWiden);
    bLo = static_cast<int>(iB - w);
    bHi = static_cast<int>(131 + w);
  }
  if (bLo > bHi) bgPass = false;
  int fLo = sS, fHi = eS;
  if (fgWiden != 0.0f && eS >= sS) {
    const double w = (eS - sS + 1) * double(fgWiden);
    fLo = static_cast<int>(sS - w);
    fHi = static_cast<int>(eS + w);
  }
  if (fLo > fHi) fgPass = false;
  if (bgPass && fgPass && !(eS < iB)) fgPass = false;

  bool used = false;
  std::vector<pixeli> list;
  // The samples of one bin range, at most 10,000 of them: from a longer run,
  // entries 1..9998 are the run's entries at step, 2 step, ... (step = count /
  // 10000); entries 0 and 9999 stay. Counting first keeps the list small.
  auto collect = [&](int lo, int hi, bool brightAndDominated) {
    auto matches = [&](const pixeli& p) {
      const int64_t bin = binOf(p);
      if (bin < lo || bin > hi) return false;
      return !brightAndDominated || (int(p.r) + p.g + p.b >= 30720 && Dominated(p.r, p.g, p.b, C, 1.02));
    };
    size_t total = 0;
    for (long y = 0; y < height; y += rowStep)
      for (long x = 0; x < width; x += colStep) total += matches(image[size_t(y) * size_t(width) + size_t(x)]);
    const size_t step = total > size_t(kMaxShellSamples) ? total / kMaxShellSamples : 0;
    auto wanted = [&](size_t ordinal) {
      if (step == 0) return true;
      if (ordinal == 0 || ordinal == 9999) return true;
      return ordinal % step == 0 && ordinal / step >= 1 && ordinal / step <= 9998;
    };
    list.clear();
    std::vector<std::pair<size_t, pixeli>> picked;
    size_t ordinal = 0;
    for (long y = 0; y < height; y += rowStep)
      for (long x = 0; x < width; x += colStep) {
        const pixeli& p = image[size_t(y) * size_t(width) + size_t(x)];
        if (!matches(p)) continue;
        if (wanted(ordinal)) {
          pixeli s = p;
          if (brightAndDominated) {
            const float col[3] = {float(p.r), float(p.g), float(p.b)};
            const float back[3] = {float(C.r), float(C.g), float(C.b)};
            float o[3];
            bleach(col, back, o, 1.0f, 1.02f);
            s = {Trunc16(o[0]), Trunc16(o[1]), Trunc16(o[2]), 65535};
          }
          // Position in the thinned list: entry 9999 keeps its own place.
          const size_t slot = (step == 0 || ordinal == 0 || ordinal == 9999) ? ordinal : ordinal / step;
          picked.emplace_back(slot, s);
        }
        ++ordinal;
      }
    std::stable_sort(picked.begin(), picked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : picked) list.push_back(e.second);
    if (list.size() > size_t(kMaxShellSamples)) list.resize(kMaxShellSamples);
    used |= !list.empty();
    return static_cast<int>(list.size());
  };
  try {
    if (bgPass && !skipInner) {
      if (const int k = collect(bLo, bHi, false)) {
        jut_in(list.data(), k, 1, block);
        remove_inconsistence(0, block);
      }
    }
    if (fgPass) {
      if (middlePass) {
        if (const int k = collect(fLo, fHi, false)) {
          dnt_mid(list.data(), k, 1, block);
          remove_inconsistence(2, block);
        }
      }
      const int E = static_cast<int>(std::min<int64_t>(G, eS));
      if (const int k = collect(sS, E, false)) {
        dnt_out(list.data(), k, 1, block);
        remove_inconsistence(2, block);
      }
      const int M = static_cast<int>((B0 + G) / 2);
      if (const int k = collect(E, M, true)) {
        jut_out(list.data(), k, 1, block);
        remove_inconsistence(2, block);
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return used;
}

void keyer_select_bg(const pixeli& pixel, fixcoef* block) {
  block->center_r = pixel.r;
  block->center_g = pixel.g;
  block->center_b = pixel.b;
  std::fill(std::begin(block->l_in), std::end(block->l_in), 1.0f);
  std::fill(std::begin(block->l_mid), std::end(block->l_mid), 130560.0f);
  std::fill(std::begin(block->l_out), std::end(block->l_out), 130560.0f);
  PixelBuffer fake;
  const int fakes = generate_fakefg(fake, block);
  if (fakes > 0) {
    dnt_out(fake.get(), fakes, 1, block);
  } else {
    std::fill(std::begin(block->l_mid), std::end(block->l_mid), 32640.0f);
    std::fill(std::begin(block->l_out), std::end(block->l_out), 32640.0f);
  }
  for (int i = 0; i < kAxisCount; ++i) {
    block->l_mid[i] = std::min(block->l_mid[i], block->l_out[i]);
    block->l_in[i] = std::min(block->l_in[i], block->l_mid[i]);
  }
  if (block->flag & kFlagKeyerRTPlus) {
    KeyerRTPlus m;
    m.selectBGColor(&pixel, 1, block);
  }
  if (block->flag & kFlagKeyerRT) {
    KeyerRT m;
    m.selectBGColor(&pixel, 1, block);
  }
}

bool select_fg_histogram(const pixeli* image, int width, int height, fixcoef* block, bool middlePass) {
  const pixeli centre{Trunc16(block->center_r), Trunc16(block->center_g), Trunc16(block->center_b), 65535};
  return histogram_proc(centre, image, width, height, block, false, true, 0.0f, 0.0f,
                        (block->flag & kFlagLighting) != 0, middlePass, 1, 1);
}

}  // namespace chromakey
