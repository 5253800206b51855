#include "host/qd/Text.h"

#include <agg_conv_curve.h>
#include <agg_conv_stroke.h>
#include <agg_conv_transform.h>
#include <agg_font_cache_manager.h>
#include <agg_font_freetype.h>
#include <agg_path_storage.h>
#include <agg_trans_affine.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/base/MacRoman.h"
#include "host/qd/Canvas.h"
#include "host/qd/Fonts.h"
#include "host/qd/QuickDraw.h"

namespace host {
namespace {

constexpr double kCondense = 0.85;
constexpr double kExtend = 1.15;
constexpr double kSlant = 0.21;  // horizontal shift per pixel of height for a synthetic italic
constexpr int16_t kDefaultSize = 12;
// Text larger than this is drawn at this size: AGG's glyph cache keeps one
// outline set per size, and no page holds taller letters.
constexpr int kMaxSize = 4000;

// The port's text settings resolved to a font file and drawing parameters.
struct Style {
  FontFaceFile face;
  double size = kDefaultSize;
  double scaleX = 1.0;
  bool underline = false;
  bool outline = false;
  bool shadow = false;
};

Style Resolve(const PortState& port) {
  Style s;
  const int16_t face = port.textFace;
  s.face = FindFontFace(FontFamilyForNumber(port.textFont), face & bold, face & italic);
  s.size = port.textSize > 0 ? std::min<int>(port.textSize, kMaxSize) : kDefaultSize;
  if (face & condense) s.scaleX *= kCondense;
  if (face & extend) s.scaleX *= kExtend;
  s.underline = face & underline;
  s.outline = face & outline;
  s.shadow = face & shadow;
  return s;
}

struct Metrics {
  double ascent = 0, descent = 0, leading = 0, widMax = 0;
  double underlinePosition = 0, underlineThickness = 1;  // below the baseline, pixels
};

// One FreeType library and AGG font engine for the process, used under a lock.
class TextEngine {
 public:
  using Engine = agg::font_engine_freetype_int32;
  using Manager = agg::font_cache_manager<Engine>;

  static TextEngine& Get() {
    static TextEngine engine;
    return engine;
  }

  std::mutex& mutex() { return mutex_; }

  // Makes the style's face and size current; false when it has no font.
  bool Select(const Style& s) {
    if (s.face.path.empty()) return false;
    if (!engine_.load_font(s.face.path.c_str(), unsigned(s.face.index), agg::glyph_ren_outline)) return false;
    engine_.hinting(false);
    engine_.flip_y(true);
    engine_.height(s.size);
    engine_.width(s.size);
    const std::string key = s.face.path + '#' + std::to_string(s.face.index) + '#' + std::to_string(s.size);
    if (cachedFonts_.insert(key).second && cachedFonts_.size() > kMaxCachedFonts) {
      manager_ = std::make_unique<Manager>(engine_);
      cachedFonts_ = {key};
    }
    return true;
  }

  Metrics GetMetrics(const Style& s) {
    Metrics m;
    FT_Face face = MetricsFace(s.face);
    if (!face || face->units_per_EM == 0) {
      m.ascent = s.size * 0.8;
      m.descent = s.size * 0.2;
      m.widMax = s.size;
      return m;
    }
    const double k = s.size / face->units_per_EM;
    m.ascent = face->ascender * k;
    m.descent = -face->descender * k;
    m.leading = std::max(0.0, face->height * k - m.ascent - m.descent);
    m.widMax = (face->bbox.xMax - face->bbox.xMin) * k * s.scaleX;
    m.underlinePosition = -face->underline_position * k;
    m.underlineThickness = std::max(1.0, face->underline_thickness * k);
    return m;
  }

  // Advance of each byte of the text (after Select); control characters have none.
  std::vector<double> Advances(std::string_view text, double scaleX) {
    std::vector<double> out(text.size(), 0.0);
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char ch = static_cast<unsigned char>(text[i]);
      if (ch < 0x20 || ch == 0x7F) continue;
      if (const agg::glyph_cache* g = manager_->glyph(MacRomanToCodePoint(ch))) out[i] = g->advance_x * scaleX;
    }
    return out;
  }

  enum class Outline { kFill, kStroke };

  // Adds the outlines of the text to the rasteriser, baseline at y = 0 of text
  // space, through `shape` (text space to buffer): filled, or as strokes
  // `width` wide.
  void AddGlyphs(agg::rasterizer_scanline_aa<>& ras, std::string_view text, agg::trans_affine shape,
                 Outline kind = Outline::kFill, double width = 0) {
    agg::conv_curve<Engine::path_adaptor_type> curves(manager_->path_adaptor());
    agg::conv_transform<decltype(curves)> placed(curves, shape);
    agg::conv_stroke<decltype(placed)> stroke(placed);
    stroke.width(width);
    double x = 0;
    for (unsigned char ch : text) {
      if (ch < 0x20 || ch == 0x7F) continue;
      const agg::glyph_cache* g = manager_->glyph(MacRomanToCodePoint(ch));
      if (!g) continue;
      if (g->data_type == agg::glyph_data_outline) {
        manager_->init_embedded_adaptors(g, x, 0);
        switch (kind) {
          case Outline::kFill: ras.add_path(placed); break;
          case Outline::kStroke: ras.add_path(stroke); break;
        }
      }
      x += g->advance_x;
    }
  }

 private:
  TextEngine() : manager_(std::make_unique<Manager>(engine_)) { FT_Init_FreeType(&library_); }
  ~TextEngine() {
    for (auto& [key, face] : faces_) FT_Done_Face(face);
    if (library_) FT_Done_FreeType(library_);
  }

  FT_Face MetricsFace(const FontFaceFile& f) {
    if (f.path.empty() || !library_) return nullptr;
    const std::string key = f.path + '#' + std::to_string(f.index);
    if (auto it = faces_.find(key); it != faces_.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library_, f.path.c_str(), f.index, &face) != 0) face = nullptr;
    faces_.emplace(key, face);
    return face;
  }

  std::mutex mutex_;
  Engine engine_;
  std::unique_ptr<Manager> manager_;
  // The face and size combinations the glyph cache holds. AGG's cache keeps
  // at most kMaxCachedFonts of them and evicts with an overlapping memcpy,
  // so it is started afresh before it would get there.
  static constexpr size_t kMaxCachedFonts = 30;
  std::set<std::string> cachedFonts_;
  FT_Library library_ = nullptr;
  std::map<std::string, FT_Face> faces_;
};

const PortState& CurrentState() {
  static const PortState kDefault;
  return CurrentPort() ? CurrentPort()->port() : kDefault;
}

// Rotation by a quarter-turn count, exact.
agg::trans_affine QuarterTurn(int degrees) {
  switch (degrees) {
    case 90: return agg::trans_affine(0, 1, -1, 0, 0, 0);
    case 180: return agg::trans_affine(-1, 0, 0, -1, 0, 0);
    case 270: return agg::trans_affine(0, -1, 1, 0, 0, 0);
    default: return agg::trans_affine();
  }
}

// Draws one line of text. `place` takes text space (baseline origin at 0,0,
// y down) to buffer coordinates.
void DrawLine(TextEngine& engine, detail::Canvas& canvas, const Style& s, const Metrics& m, std::string_view text,
              double width, const agg::trans_affine& place) {
  const PortState& port = canvas.world().port();
  auto& ras = canvas.rasterizer();
  ras.filling_rule(agg::fill_non_zero);

  // Condense/extend and a synthetic slant act in text space, about the baseline.
  agg::trans_affine shape(s.scaleX, 0, s.face.syntheticItalic ? -kSlant : 0, 1, 0, 0);
  agg::trans_affine full = shape;
  full *= place;

  using Outline = TextEngine::Outline;
  if (s.shadow) {
    const double d = std::max(1.0, std::floor(s.size / 16));
    agg::trans_affine offset = shape;
    offset *= agg::trans_affine_translation(d, d);
    offset *= place;
    engine.AddGlyphs(ras, text, offset);
    canvas.RenderSolid(port.foreColor);
    engine.AddGlyphs(ras, text, full);
    canvas.RenderSolid(port.backColor);
  }
  if (s.outline || s.shadow) {
    engine.AddGlyphs(ras, text, full, Outline::kStroke, std::max(1.0, s.size / 24));
  } else if (s.face.syntheticBold) {
    // Emboldened as the filled letters plus their outline stroked around them,
    // in two passes: one outline filled together with its own stroke could
    // cancel out where windings meet.
    engine.AddGlyphs(ras, text, full);
    canvas.RenderSolid(port.foreColor);
    engine.AddGlyphs(ras, text, full, Outline::kStroke, std::max(1.0, s.size / 15));
  } else {
    engine.AddGlyphs(ras, text, full);
  }
  if (s.underline && width > 0) {
    agg::path_storage bar;
    const double y0 = m.underlinePosition - m.underlineThickness / 2, y1 = y0 + m.underlineThickness;
    bar.move_to(0, y0);
    bar.line_to(width, y0);
    bar.line_to(width, y1);
    bar.line_to(0, y1);
    bar.close_polygon();
    agg::trans_affine barPlace = place;
    agg::conv_transform<agg::path_storage> placedBar(bar, barPlace);
    ras.add_path(placedBar);
  }
  canvas.RenderSolid(port.foreColor);
}

double SumWidth(const std::vector<double>& adv, size_t from, size_t to) {
  double w = 0;
  for (size_t i = from; i < to; ++i) w += adv[i];
  return w;
}

struct LineSpan {
  size_t begin, end;  // bytes of the line, trailing spaces excluded
};

// Greedy word wrap. Paragraphs end at CR, LF or CR LF; spaces where a line is
// broken are dropped; a word wider than the box is broken between characters.
std::vector<LineSpan> BreakLines(std::string_view text, const std::vector<double>& adv, double maxWidth) {
  std::vector<LineSpan> lines;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos <= n) {
    size_t paraEnd = pos;
    while (paraEnd < n && text[paraEnd] != '\r' && text[paraEnd] != '\n') ++paraEnd;
    size_t lineStart = pos;
    bool emitted = false;
    while (lineStart < paraEnd || !emitted) {
      if (lineStart >= paraEnd) {
        lines.push_back({lineStart, lineStart});
        break;
      }
      size_t lastFit = lineStart;  // end of the last word that fits
      size_t i = lineStart;
      double width = 0;  // of [lineStart, i)
      bool brokeWord = false;
      while (i < paraEnd) {
        size_t wordEnd = i;
        double w = width;
        while (wordEnd < paraEnd && text[wordEnd] == ' ') w += adv[wordEnd++];
        while (wordEnd < paraEnd && text[wordEnd] != ' ') w += adv[wordEnd++];
        if (w <= maxWidth) {
          lastFit = wordEnd;
          width = w;
          i = wordEnd;
          continue;
        }
        if (lastFit == lineStart) {
          // Not even the first word fits: break it between characters.
          size_t k = lineStart;
          double cw = 0;
          while (k < paraEnd && text[k] == ' ') cw += adv[k++];
          while (k < wordEnd && cw + adv[k] <= maxWidth) cw += adv[k++];
          if (k == lineStart) ++k;
          lastFit = k;
          brokeWord = true;
        }
        break;
      }
      size_t end = lastFit;
      while (end > lineStart && text[end - 1] == ' ' && !brokeWord) --end;
      lines.push_back({lineStart, end});
      emitted = true;
      lineStart = lastFit;
      while (lineStart < paraEnd && text[lineStart] == ' ') ++lineStart;
    }
    if (paraEnd >= n) break;
    pos = paraEnd + 1;
    if (text[paraEnd] == '\r' && pos < n && text[pos] == '\n') ++pos;
    if (pos == n) break;
  }
  return lines;
}

}  // namespace

void TextFontFamily(std::string_view family) {
  if (GWorld* port = CurrentPort()) port->port().textFont = FontNumberForFamily(family);
}

void TextRotation(int16_t degrees) {
  GWorld* port = CurrentPort();
  if (!port) return;
  int d = ((int(degrees) % 360) + 360) % 360;
  d = ((d + 45) / 90 % 4) * 90;
  port->port().textRotation = int16_t(d);
}

double MeasureText(std::string_view macRoman) {
  const Style s = Resolve(CurrentState());
  TextEngine& engine = TextEngine::Get();
  std::lock_guard<std::mutex> lock(engine.mutex());
  if (!engine.Select(s)) return 0;
  const auto adv = engine.Advances(macRoman, s.scaleX);
  return SumWidth(adv, 0, adv.size());
}

void DrawMacRoman(std::string_view macRoman) {
  GWorld* world = CurrentPort();
  if (!world) return;
  PortState& port = world->port();
  const Style s = Resolve(port);
  TextEngine& engine = TextEngine::Get();
  std::lock_guard<std::mutex> lock(engine.mutex());
  if (!engine.Select(s)) return;
  const auto adv = engine.Advances(macRoman, s.scaleX);
  const double width = SumWidth(adv, 0, adv.size());
  const int rotation = port.textRotation;
  detail::Canvas canvas(*world);
  const CLongPoint_AC pen = port.penLocation;
  if (canvas.InRange(pen.h, pen.v)) {
    agg::trans_affine place = QuarterTurn(rotation);
    place *= agg::trans_affine_translation(pen.h - canvas.OriginH(), pen.v - canvas.OriginV());
    DrawLine(engine, canvas, s, engine.GetMetrics(s), macRoman, width, place);
  }
  // The pen moves along the line, by the width in whole pixels.
  const int32_t w = int32_t(std::lround(width));
  switch (rotation) {
    case 90: port.penLocation.v += w; break;
    case 180: port.penLocation.h -= w; break;
    case 270: port.penLocation.v -= w; break;
    default: port.penLocation.h += w; break;
  }
}

}  // namespace host

void TextFont(int16_t number) {
  if (host::GWorld* port = host::CurrentPort()) port->port().textFont = number;
}
void TextSize(int16_t size) {
  if (host::GWorld* port = host::CurrentPort()) port->port().textSize = size;
}
void TextFace(int16_t face) {
  if (host::GWorld* port = host::CurrentPort()) port->port().textFace = face;
}

void DrawText(const void* text, int32_t first, int32_t count) {
  if (!text || first < 0 || count <= 0) return;
  host::DrawMacRoman(std::string_view(static_cast<const char*>(text) + first, size_t(count)));
}

int32_t TextWidth(const void* text, int32_t first, int32_t count) {
  if (!text || first < 0 || count <= 0) return 0;
  return int32_t(std::lround(host::MeasureText(std::string_view(static_cast<const char*>(text) + first, size_t(count)))));
}

void GetFontInfo(FontInfo* info) {
  if (!info) return;
  const host::Style s = host::Resolve(host::CurrentState());
  host::TextEngine& engine = host::TextEngine::Get();
  std::lock_guard<std::mutex> lock(engine.mutex());
  const host::Metrics m = engine.GetMetrics(s);
  info->ascent = int16_t(std::lround(m.ascent));
  info->descent = int16_t(std::lround(m.descent));
  info->leading = int16_t(std::lround(m.leading));
  info->widMax = int16_t(std::min<long>(INT16_MAX, std::lround(m.widMax)));
}

void OldTextBox_AC(const void* text, int32_t length, const CLongRect_AC& box, int16_t justification) {
  host::GWorld* world = host::CurrentPort();
  if (!world || !text || length <= 0 || box.IsEmpty()) return;
  const std::string_view str(static_cast<const char*>(text), size_t(length));
  host::PortState& port = world->port();
  const host::Style s = host::Resolve(port);
  host::TextEngine& engine = host::TextEngine::Get();
  std::lock_guard<std::mutex> lock(engine.mutex());
  if (!engine.Select(s)) return;

  host::detail::Canvas canvas(*world);
  if (!canvas.InRange(box.left, box.top) || !canvas.InRange(box.right, box.bottom)) return;
  if (!canvas.ClipTo(box)) return;

  const int rotation = port.textRotation;
  const bool across = rotation == 90 || rotation == 270;
  const double boxWidth = double(across ? box.Height() : box.Width());
  const double boxHeight = double(across ? box.Width() : box.Height());
  const host::Metrics m = engine.GetMetrics(s);
  const double ascent = std::lround(m.ascent);
  const double lineHeight = std::max(1.0, double(std::lround(m.ascent) + std::lround(m.descent) + std::lround(m.leading)));

  // Text space of the box: origin at the corner where its first line starts.
  double ox = 0, oy = 0;
  switch (rotation) {
    case 90: ox = double(box.right); oy = double(box.top); break;
    case 180: ox = double(box.right); oy = double(box.bottom); break;
    case 270: ox = double(box.left); oy = double(box.bottom); break;
    default: ox = double(box.left); oy = double(box.top); break;
  }
  agg::trans_affine boxToBuffer = host::QuarterTurn(rotation);
  boxToBuffer *= agg::trans_affine_translation(ox - canvas.OriginH(), oy - canvas.OriginV());

  const auto adv = engine.Advances(str, s.scaleX);
  const auto lines = host::BreakLines(str, adv, boxWidth);
  for (size_t k = 0; k < lines.size(); ++k) {
    const double top = double(k) * lineHeight;
    if (top >= boxHeight) break;
    const auto& line = lines[k];
    const std::string_view part = str.substr(line.begin, line.end - line.begin);
    const double width = host::SumWidth(adv, line.begin, line.end);
    double x = 0;
    if (justification == host::teCenter) x = std::round((boxWidth - width) / 2);
    else if (justification == host::teFlushRight) x = std::round(boxWidth - width);
    agg::trans_affine place = agg::trans_affine_translation(x, top + ascent);
    place *= boxToBuffer;
    host::DrawLine(engine, canvas, s, m, part, width, place);
  }
}
