// Fonts: the classic font numbers and family names that job files carry,
// mapped to fonts installed on this machine and found through fontconfig.
//
// Classic families are drawn with installed, metric-compatible fonts:
// Helvetica (and Arial) with Liberation Sans, Times with Liberation Serif,
// Courier with Liberation Mono; the other classic sans-serif families
// (Chicago, Geneva, ...) with DejaVu Sans, Monaco with DejaVu Sans Mono and the
// classic serif families (New York, Palatino, ...) with DejaVu Serif. Any other
// name is handed to fontconfig as it is, which picks its nearest installed font.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/base/PascalString.h"

namespace host {

// The family of a classic font number (0 system font, 1 application font,
// 2 New York, 3 Geneva, 4 Monaco, ... 20 Times, 21 Helvetica, 22 Courier),
// or of a number handed out by FontNumberForFamily. Unknown numbers give the
// application font, Geneva.
std::string FontFamilyForNumber(int16_t number);

// The number of a family: its classic number when it has one (case ignored),
// otherwise a number of 1024 or more handed out for this run of the program.
int16_t FontNumberForFamily(std::string_view family);

// The installed family that draws a classic family; other names unchanged.
std::string InstalledFamilyFor(std::string_view family);

// A font file chosen for a family and style. When the file has no bold
// (italic) face of its own for a bold (italic) request, the synthetic flag
// asks the renderer to embolden (slant) the outlines itself.
struct FontFaceFile {
  std::string path;  // empty when no scalable font is installed at all
  int index = 0;
  bool syntheticBold = false;
  bool syntheticItalic = false;
};
FontFaceFile FindFontFace(std::string_view family, bool bold, bool italic);

// True for the classic font numbers and the numbers handed out by
// FontNumberForFamily; any other number draws with the application font.
bool IsKnownFontNumber(int16_t number);

// True when fontconfig has the family itself installed (the installed
// family for a classic one), not just a nearest substitute. Family names are
// only ever handed to fontconfig as names, never opened as paths.
bool IsFontFamilyInstalled(std::string_view family);

}  // namespace host

// The font number of a family name given as a length-prefixed string.
template <size_t N>
void GetFNum(const TemplatePascalStr<N>& name, int16_t* number) {
  if (number) *number = host::FontNumberForFamily(name.ToUTF8());
}

// The family name of a font number.
template <size_t N>
void GetFontName(int16_t number, TemplatePascalStr<N>& name) {
  name = TemplatePascalStr<N>(host::FontFamilyForNumber(number));
}
