#include "layout/TextDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "host/base/MacRoman.h"
#include "host/qd/CopyBits.h"
#include "host/qd/DrawImage.h"
#include "host/qd/Fonts.h"
#include "host/qd/QuickDraw.h"
#include "host/qd/Text.h"
#include "imaging/Offscreen.h"

namespace layout {

namespace {

// A point size scaled to the output resolution, as a whole pixel size the
// page can hold: never negative, never taller than the page's larger side.
int16_t PixelSize(double size, const host::GWorld* page) {
  if (!(size > 0)) return 0;
  double limit = 32767;
  if (page) limit = std::min<double>(limit, std::max(page->width(), page->height()));
  return int16_t(std::max(1.0, std::min(std::trunc(size), limit)));
}

// Sets the current port's font, size, face and colour from the style. A
// font the machine does not have is drawn with fontconfig's nearest one; the
// job's log names it once.
void SetTextStyle(const tTextInfo& style, int16_t size, TJobContext& view) {
  TextFont(style.font);
  TextSize(size);
  TextFace(style.face);
  RGBForeColor(style.color);
  const std::string family = host::FontFamilyForNumber(style.font);
  const bool known = host::IsKnownFontNumber(style.font);
  if ((!known || !host::IsFontFamilyInstalled(family)) &&
      view.FirstTimeInJob("font " + std::to_string(style.font))) {
    if (!known)
      std::fprintf(stderr, "Font number %d is not known; texts are drawn with %s\n", int(style.font), family.c_str());
    else
      std::fprintf(stderr, "Font family %s is not installed; texts are drawn with the nearest installed font\n",
                   family.c_str());
  }
}

void RestorePen() {
  PenNormal();
  RGBForeColor(RGBColor{0, 0, 0});
}

}  // namespace

bool IsPrintToFileSetRoute(int16_t p) { return (p >= 25 && p <= 28) || (p >= 49 && p <= 52); }

bool MacRomanToLatin1(std::string_view macRoman, std::string* latin1) {
  latin1->clear();
  const size_t end = macRoman.find('\0');
  for (unsigned char c : macRoman.substr(0, end)) {
    const char32_t cp = host::MacRomanToCodePoint(c);
    if (cp > 0xFF) {
      latin1->clear();
      return false;
    }
    latin1->push_back(char(cp));
  }
  return true;
}

void DrawModuleMatrix(const host::ModuleMatrix& m, host::GWorld* page, const CRect_AC& rect) {
  if (!page || m.width <= 0 || m.height <= 0 || rect.IsEmpty()) return;
  CLongRect_AC visible;
  if (!CLongRect_AC(rect).Intersect(page->bounds(), &visible)) return;
  const int64_t rw = rect.Width(), rh = rect.Height();
  const CLongRect_AC b = page->bounds();
  for (int32_t y = visible.top; y < visible.bottom; ++y) {
    const int32_t my = int32_t(int64_t(y - rect.top) * m.height / rh);
    uint8_t* row = page->scanline(y - b.top);
    for (int32_t x = visible.left; x < visible.right; ++x) {
      const int32_t mx = int32_t(int64_t(x - rect.left) * m.width / rw);
      const uint8_t v = m.Dark(mx, my) ? 0 : 255;
      uint8_t* p = row + 4 * size_t(x - b.left);
      p[0] = 255;
      p[1] = p[2] = p[3] = v;
    }
  }
}

namespace {

bool DrawCode(const host::CodeResult& code, const char* kind, host::GWorld* page, const CRect_AC& rect,
              int16_t rotation, std::string* refusal) {
  std::fputs("filter created\n", stderr);
  if (!code.matrix) {
    if (code.encoderMissing) return false;
    std::fprintf(stderr, "The text cannot be made into a %s (%s); nothing is drawn\n", kind, code.error.c_str());
    if (refusal) *refusal = "the encoder refused it (" + code.error + ")";
    return true;
  }
  std::fprintf(stderr, "%s image created\n", kind);
  if (rotation == 90) DrawModuleMatrix(code.matrix->TurnedCounterClockwise(), page, rect);
  else if (rotation == 270) DrawModuleMatrix(code.matrix->TurnedClockwise(), page, rect);
  else DrawModuleMatrix(*code.matrix, page, rect);
  return true;
}

std::span<const uint8_t> Bytes(const std::string& s) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

bool PrintTextAsQRCode(const CStr255_AC& text, host::GWorld* page, const CRect_AC& rect, int16_t rotation,
                       std::string* refusal) {
  std::string latin1;
  if (!MacRomanToLatin1(text.view(), &latin1)) {
    std::fputs("The text has characters without an ISO Latin-1 form; no QR code is drawn\n", stderr);
    if (refusal) *refusal = "it has characters without an ISO Latin-1 form";
    return true;
  }
  if (latin1.empty()) return true;  // nothing to encode, nothing lost
  return DrawCode(host::EncodeQRCode(Bytes(latin1), host::QRErrorLevel::kM), "QR code", page, rect, rotation, refusal);
}

bool PrintTextAsBarcode(const CStr255_AC& text, host::GWorld* page, const CRect_AC& rect, int16_t rotation,
                        std::string* refusal) {
  const std::string_view bytes = UpToZero(text.view());
  if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) > 127; })) {
    std::fputs("The text has characters outside ASCII; no Code 128 barcode is drawn\n", stderr);
    if (refusal) *refusal = "it has characters outside ASCII";
    return true;
  }
  if (bytes.empty()) return true;
  const std::string ascii(bytes);
  return DrawCode(host::EncodeCode128(Bytes(ascii), 7), "Code 128 barcode", page, rect, rotation, refusal);
}

host::GWorldHandle DrawTextOnOffscreen(const CRect_AC& rect, float scale, int16_t dpi, const TTextSpec& spec,
                                       TJobContext& view) {
  if (rect.IsEmpty()) return nullptr;
  const int32_t w = rect.Width(), h = rect.Height();
  host::GWorldHandle cached = myNewGWorld(CLongRect_AC(0, 0, h, w));
  if (!cached) return nullptr;
  protectTheGworld(cached.get());
  const bool across = spec.rotation == 90 || spec.rotation == 270;
  host::GWorldHandle temp;
  if (across) {
    temp = myNewGWorld(CLongRect_AC(0, 0, w, h));
    if (!temp) return nullptr;
  }
  host::GWorld* target = across ? temp.get() : cached.get();
  double size = double(spec.style.size) * scale;
  if (dpi > 72) size *= double(dpi) / 72.0;
  {
    host::SavedPort saved;
    SetGWorld(target);
    const int16_t px = PixelSize(size, target);
    SetTextStyle(spec.style, px, view);
    const CLongRect_AC box = target->bounds();
    int16_t face = spec.style.face;
    myMakeTextFit(box, spec.text, px, face);
    OldTextBox_AC(spec.text.view().data(), int32_t(spec.text.Length()), box, spec.style.just);
    RestorePen();
  }
  if (spec.rotation == 180) {
    rotateImage180Degrees(cached.get());
  } else if (spec.rotation == 270) {
    rotateImage90Degrees(1, temp.get(), cached.get());
  } else if (spec.rotation == 90) {
    rotateImage90Degrees(2, temp.get(), cached.get());
  }
  return cached;
}

void DrawOverlayImageToGWorld(const CGImageRef& image, host::GWorld* offscreen, const CLongRect_AC& rect) {
  if (!image || !offscreen || rect.IsEmpty()) return;
  host::DrawImage(*image, *offscreen, rect);
}

bool DrawTextObject(host::GWorld* page, int16_t dpi, TJobContext& view, const CRect_AC& rect, const TTextSpec& spec) {
  if (!page) return true;
  if (spec.skipOnSetRoutes && IsPrintToFileSetRoute(view.PrinterCode())) return true;
  if (spec.mode == 1 || spec.mode == 2) {
    std::string refusal;
    const bool qr = spec.mode == 1;
    const bool done = qr ? PrintTextAsQRCode(spec.text, page, rect, spec.rotation, &refusal)
                         : PrintTextAsBarcode(spec.text, page, rect, spec.rotation, &refusal);
    if (!refusal.empty()) {
      // A long text is shown by its beginning, so that the reason stays in
      // view in the alert.
      std::string_view shown = UpToZero(spec.text.view());
      const bool cut = shown.size() > 40;
      view.ReportDrawFailure(std::string("The ") + spec.objectName + " \"" +
                             host::MacRomanToUTF8(shown.substr(0, 40)) + (cut ? "\xE2\x80\xA6" : "") +
                             "\" cannot be drawn as a " + (qr ? "QR code" : "Code 128 barcode") + ": " + refusal + "!");
      return false;
    }
    if (done) return true;
  }

  const float size = float(double(dpi) / 72.0 * double(spec.style.size));
  host::SavedPort saved;
  SetGWorld(page);
  if (spec.rotation == 90 || spec.rotation == 180 || spec.rotation == 270) {
    // The offscreen covers only the part of the box the page holds, so a box
    // from the job larger than the page never asks for a huge offscreen.
    CLongRect_AC visible;
    if (!CLongRect_AC(rect).Intersect(page->bounds(), &visible)) return true;
    const CRect_AC part(int16_t(visible.top), int16_t(visible.left), int16_t(visible.bottom), int16_t(visible.right));
    host::GWorldHandle text = DrawTextOnOffscreen(part, 1.0f, dpi, spec, view);
    SetGWorld(page);
    if (text) myCopyBits(text.get(), page, text->bounds(), visible, host::transparent);
    return true;
  }
  const int16_t px = PixelSize(size, page);
  SetTextStyle(spec.style, px, view);
  CLongRect_AC box(rect);
  int16_t face = spec.style.face;
  myMakeTextFit(box, spec.text, px, face);
  int16_t just = spec.style.just;
  if (just == -1 && spec.rightMarginRule) {
    const double k = double(dpi) / 72.0;
    const int32_t w = StringWidth(spec.text);
    while (double(box.right - box.left) - 15.0 * k > double(w)) ++box.left;
    just = host::teFlushDefault;
  }
  OldTextBox_AC(spec.text.view().data(), int32_t(spec.text.Length()), box, just);
  RestorePen();
  return true;
}

}  // namespace layout
