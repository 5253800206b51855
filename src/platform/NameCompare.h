// Comparison of file names as the folder lookups need it. Names are UTF-8 as
// the file system holds them; names written by other systems in decomposed
// form (a letter followed by a combining accent) are composed first, so
// "Café" matches whichever way it was written.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The name with letter + combining accent pairs composed.
std::string ToNFC(std::string_view utf8);
// Equal after composition.
bool NamesEqualNFC(std::string_view a, std::string_view b);
// Equal after composition and upper-casing of Latin letters; with
// ignoreDiacritics accents are dropped too ("é" equals "E").
// The composed name with its Latin letters upper-cased, as code points: two
// names equal ignoring case have the same key.
std::u32string CaseFoldedKey(std::string_view utf8);
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b, bool ignoreDiacritics);

}  // namespace platform
