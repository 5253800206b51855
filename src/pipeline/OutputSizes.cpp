#include "pipeline/OutputSizes.h"

#include <initializer_list>
#include <optional>
#include <utility>

namespace pipeline {

namespace {

struct Size { int32_t w, h; };

CLongRect_AC RectOf(Size s) { return CLongRect_AC(0, 0, s.h, s.w); }

// A fixed size from a row of the tables: sizes for selector values 1..n, or
// `other` (unchanged when `other.w` is 0).
std::optional<Size> Pick(uint16_t selector, std::initializer_list<Size> sizes, Size other) {
  if (selector >= 1 && selector <= sizes.size()) {
    const Size s = *(sizes.begin() + (selector - 1));
    if (s.w == 0) return std::nullopt;
    return s;
  }
  if (other.w == 0) return std::nullopt;
  return other;
}

// Width w with a height chosen by index 1..n; `other` for any other index.
std::optional<Size> ByIndex(uint16_t index, int32_t w, std::initializer_list<int32_t> heights, Size other) {
  if (index >= 1 && index <= heights.size()) return Size{w, *(heights.begin() + (index - 1))};
  if (other.w == 0) return std::nullopt;
  return other;
}

constexpr Size kUnchanged{0, 0};

}  // namespace

CLongRect_AC OutputRectFor(const CLongRect_AC& page, const TOutputMedia& m) {
  Size s{int32_t(page.Width()), int32_t(page.Height())};
  const bool landscape = s.w > s.h;
  auto toLandscape = [&] { if (!landscape) std::swap(s.w, s.h); return RectOf(s); };
  auto toPortrait = [&] { if (landscape) std::swap(s.w, s.h); return RectOf(s); };
  auto fixed = [&](std::optional<Size> f) { return f ? RectOf(*f) : RectOf(s); };
  const uint16_t media = m.jobMediaType;
  const uint16_t index = m.jobCutInHalf;
  const uint16_t rec = m.recordMediaType;

  switch (m.printer) {
    case 1: case 2: case 7: case 10: case 18: case 34:
      return toLandscape();
    case 5: case 6: {
      const double a = 8.5 * m.resolution, b = 7.0 * m.resolution;
      const bool fits = (s.w <= a && s.h <= b) || (s.h <= a && s.w <= b);
      return fits ? toLandscape() : toPortrait();
    }
    case 21:
      return toPortrait();
    case 30:
      return m.jobOrientation == 1 ? toLandscape() : toPortrait();
    case 11: case 31:
      return fixed(Pick(media, {{1812, 2452}, {2152, 1416}, {1812, 1240}, {2152, 3146}, {2152, 1416}}, {1812, 2452}));
    case 16:
      return fixed(Pick(media, {kUnchanged, {1548, 2140}, {1548, 1088}, {1844, 2740}, {1844, 1240}, {1726, 1092}},
                        {1548, 2140}));
    case 23:
      return fixed(Pick(m.mitsubishiMediaType, {kUnchanged, {1592, 2176}, {1892, 1268}, {1592, 1112}, {1892, 2788}},
                        {1592, 2176}));
    case 24:
      return fixed(Pick(media, {kUnchanged, {1844, 2434}, {1844, 2490}, {1844, 1240}, {1548, 2140}, {1844, 1240},
                                {1548, 1088}}, kUnchanged));
    case 29:
      return fixed(Pick(media, {{2508, 2954}, {2508, 3134}, {2508, 3134}}, kUnchanged));
    case 33:
      return fixed(Pick(m.jobRibbonType, {{2464, 3024}, {2464, 3024}, {2464, 3624}, {2464, 3624}}, kUnchanged));
    case 32: case 36:
      return fixed(Pick(rec, {{2508, 3134}, {2508, 2954}, {2508, 3762}}, {2508, 2954}));
    case 38: case 41:
      return fixed(Pick(rec, {{2444, 3044}, {2444, 3644}}, {2444, 3044}));
    case 40:
      return fixed(Pick(rec, {{1548, 2140}, {1548, 2140}, {1548, 1088}, {1844, 1240}, {1844, 2740}, {1844, 2434},
                              {1844, 2490}, {1844, 1240}}, {1548, 2140}));
    case 43:
      return fixed(Pick(media, {{1572, 2128}, {1868, 1228}, {1572, 1076}, {1868, 2730}}, {1572, 2128}));
    case 15:
      if (media == 1) return RectOf(s);
      return fixed(ByIndex(media >= 2 ? uint16_t(media - 1) : 0, 2446,
                           {3036, 3070, 2468, 3070, 1530, 1229, 1831, 3636, 3672, 3707}, {2446, 3036}));
    case 9: case 42: {
      const bool cut = m.recordCutInHalf != 0;
      switch (rec) {
        case 3: return RectOf({2048, 1382});
        case 4: return RectOf({1728, 1210});
        case 5: return RectOf(cut ? Size{2048, 2764} : Size{2048, 2724});
        default: return RectOf(cut ? Size{1728, 2420} : Size{1728, 2380});
      }
    }
    case 37: case 39:
      switch (rec) {
        case 2: return RectOf({1248, 1848});
        case 3: return RectOf(m.recordCutInHalf == 2 ? Size{1248, 1848} : Size{1248, 2448});
        case 4: return RectOf({1536, 1100});
        default: return RectOf({1536, 2148});
      }
    case 44: case 46: case 55:
      if (media == 1) return fixed(ByIndex(index, 2560, {3036, 3102, 2502, 3102, 2802, 2436}, kUnchanged));
      if (media == 2)
        return fixed(ByIndex(index, 2560, {3636, 3036, 3702, 3102, 3768, 2502, 3402, 3102, 2802, 3702, 2436, 3544},
                             {2560, 2436}));
      return RectOf(s);
    case 45: case 48: case 54:
      switch (media) {
        case 1: return RectOf({1920, 1088});
        case 2: return RectOf({1920, 1240});
        case 3: return RectOf(index == 2 ? Size{1920, 1088} : Size{1920, 2138});
        case 4: return RectOf(index == 2 ? Size{1920, 2498} : Size{1920, 2436});
        case 5:
          if (m.printer == 48) return RectOf(s);
          return fixed(ByIndex(index, 1920, {2740, 2498, 2436, 1240}, {1920, 2740}));
        default: return RectOf(s);
      }
    case 47:
      switch (media) {
        case 1: return RectOf({1568, 1024});
        case 2: return RectOf({1864, 1228});
        case 3: return RectOf({1568, 2128});
        case 4: return RectOf(index != 0 ? Size{1864, 2730} : Size{1864, 2422});
        case 5: return RectOf({1864, 2730});
        default: return RectOf({1568, 1024});
      }
    case 53:
      switch (media) {
        case 1: return RectOf({1568, 1076});
        case 2: return RectOf({1864, 1218});
        case 3: return RectOf(index != 0 ? Size{1568, 2190} : Size{1568, 2128});
        case 4: return RectOf({1864, 1820});
        case 5: return RectOf(index != 0 ? Size{1864, 2454} : Size{1864, 2422});
        case 6: return RectOf({1568, 2190});
        case 7: return RectOf({1864, 2454});
        default: return RectOf({1568, 2128});
      }
    case 56:
      if (media == 1) return RectOf(index == 1 ? Size{1568, 1524} : Size{1568, 2128});
      if (media == 2) return fixed(ByIndex(index, 1864, {1820, 2422, 1228, 2730}, kUnchanged));
      return RectOf(s);
    case 57:
      switch (media) {
        case 1: return RectOf({1550, 1076});
        case 2: return RectOf({1852, 1226});
        case 3: return RectOf(index == 1 ? Size{1550, 1527} : Size{1550, 2128});
        case 4: return fixed(ByIndex(index, 1852, {1827, 2428, 1226, 2488, 4232, 6036}, kUnchanged));
        case 5: return fixed(ByIndex(index, 1852, {1827, 2428, 2568, 2729}, kUnchanged));
        default: return RectOf(s);
      }
    default:
      return toPortrait();
  }
}

}  // namespace pipeline
