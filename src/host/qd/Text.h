// Text in the current port: font, size and face settings, drawing at the pen
// or wrapped in a box, and measuring. Strings are Mac Roman bytes.
//
// Fonts come from host/qd/Fonts.h; glyph outlines are drawn anti-aliased with
// AGG's FreeType engine. A size is the em height in pixels (points at 72 dpi;
// 0 means 12). Face bits: bold and italic pick the family's bold and italic
// faces (or embolden and slant the outlines when the family has none);
// underline draws the font's underline; outline draws hollow letters; shadow
// draws hollow letters over a copy offset down and right by size / 16 pixels
// (at least one); condense and extend scale the text's width by 0.85 and 1.15.
//
// Text is drawn in the foreground colour and, like every drawing call, leaves
// each pixel's alpha byte as it was (host/qd/QuickDraw.h).
//
// Rotation: `host::TextRotation` turns the text drawn afterwards in the current
// port by 90, 180 or 270 degrees clockwise. DrawString turns the line about the
// pen location; OldTextBox_AC lays the text out across the turned box (a box
// turned by 90 or 270 degrees takes lines as long as the box is tall), so that
// a 90-degree text reads top to bottom with its tops facing right, a
// 270-degree text bottom to top.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"

struct FontInfo {
  int16_t ascent = 0;
  int16_t descent = 0;
  int16_t widMax = 0;
  int16_t leading = 0;
};

namespace host {

// Face bits.
enum : int16_t {
  normal = 0,
  bold = 1,
  italic = 2,
  underline = 4,
  outline = 8,
  shadow = 16,
  condense = 32,
  extend = 64,
};

// Justification in a text box.
enum : int16_t {
  teFlushDefault = 0,  // left
  teCenter = 1,
  teFlushRight = -1,
  teFlushLeft = -2,
};

// Sets the current port's font by family name (registering the name for a
// font number when it has none; see FontNumberForFamily).
void TextFontFamily(std::string_view family);

// 0, 90, 180 or 270 degrees clockwise; other values are taken modulo 360 and
// rounded to the nearest quarter turn.
void TextRotation(int16_t degrees);

// Exact width in pixels of Mac Roman text in the current port's font, size and
// face; what TextWidth rounds.
double MeasureText(std::string_view macRoman);

// Draws Mac Roman text with its baseline starting at the pen and moves the pen
// past it.
void DrawMacRoman(std::string_view macRoman);

}  // namespace host

void TextFont(int16_t number);
void TextSize(int16_t size);
void TextFace(int16_t face);

// Draws count bytes of text starting at byte first, at the pen; see DrawMacRoman.
void DrawText(const void* text, int32_t first, int32_t count);
template <size_t N>
void DrawString(const TemplatePascalStr<N>& s) {
  host::DrawMacRoman(s.view());
}

// Width in whole pixels (rounded). Null text or a negative count measure 0.
int32_t TextWidth(const void* text, int32_t first, int32_t count);
template <size_t N>
int32_t StringWidth(const TemplatePascalStr<N>& s) {
  return TextWidth(s.view().data(), 0, int32_t(s.Length()));
}

// Ascent, descent, widest glyph and leading of the current port's font, in
// whole pixels; a line is ascent + descent + leading tall.
void GetFontInfo(FontInfo* info);

// Draws text wrapped into a box in the current port: lines break at spaces
// (a word wider than the box is broken between characters) and at carriage
// returns and line feeds; each line is justified by `justification`
// (teFlushDefault/teFlushLeft left, teCenter, teFlushRight); the first
// baseline lies one ascent below the top; drawing is clipped to the box and the
// background is not erased. Honours the port's text rotation.
void OldTextBox_AC(const void* text, int32_t length, const CLongRect_AC& box, int16_t justification);
inline void OldTextBox_AC(const void* text, int32_t length, const CRect_AC& box, int16_t justification) {
  OldTextBox_AC(text, length, CLongRect_AC(box), justification);
}
