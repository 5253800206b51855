// How the program names the files it writes: numbered names (base_0001.jpg),
// " copy" names for copies that must not overwrite, extension and base-name
// extraction.
//
// Name lengths are counted in characters. The forming functions work on Mac
// Roman strings (one byte per character); the free-name searches work on the
// names as the file system holds them (UTF-8) and count code points, so that
// a name that Mac Roman cannot encode keeps its real characters and is tested
// against the folder as it really is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/PascalString.h"

constexpr int32_t kMaxFileNameLoop = 99999;

// Number text: -1 gives ""; the width is raised to the length of the number's
// text and held to 1..6; the number is held to 0..10^width - 1; with zeroPad
// it is zero-filled to the width.
CStr255_AC FormImageNumber(int32_t number, bool zeroPad, int16_t width);

// base "_" number extension, at most 31 (Old) or 63 characters: an extension
// of two or more characters gets a leading "." when it lacks one and is cut
// to 8 characters; the base is cut to what is left.
CStr255_AC FormFileNameOld(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext);
CStr255_AC FormFileName(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext);
CStr255_AC FormFileNameNew(const CStr255_AC& base, const CStr255_AC& numberText, const CStr255_AC& ext);
CStr255_AC FormFileNameOld(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                           int16_t width);
CStr255_AC FormFileName(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                        int16_t width);
CStr255_AC FormFileNameNew(const CStr255_AC& base, int32_t number, const CStr255_AC& ext, bool zeroPad,
                           int16_t width);
// One trailing "_" of the base dropped, then base_0001.ext (63 characters).
CStr255_AC createNameForSittingImages(const CStr255_AC& base, int32_t number, const CStr255_AC& ext);

// From the last "." to the end, cut before a blank after its first
// character; ".gen" when there is none.
CStr255_AC getExtensionFromSourceFile(const CStr255_AC& name);
// The name before its last "."; the whole name when there is none.
CStr255_AC getBaseNameFromName(const CStr255_AC& name);
int16_t simplePower(int16_t base, int16_t exponent);

namespace platform {

// Tells whether an item of that name (UTF-8) exists in the target folder.
using NameTaken = std::function<bool(const std::string& utf8Name)>;

// Number of characters (code points) of a UTF-8 string, and the string cut
// to its first `count` characters.
size_t CharCount(std::string_view utf8);
std::string CutChars(std::string_view utf8, long count);

// The highest number of a " copy N" name.
inline constexpr int kLastCopyNumber = 4999;

// The " copy" name of at most 63 characters: stem " copy" ext, then
// stem " copy N" ext for N = 1..4999, a stem that ends as a copy name
// starting again from before it. `found` tells whether the name returned is
// free; when every candidate is taken the last one tried is returned.
std::string CopyNameBeforeExtension(std::string_view utf8Name, const NameTaken& taken, bool* found = nullptr);
// The first `count` free names of that sequence, in its order, added to
// `names` in one pass over it (so that naming many copies costs one look
// per candidate, not one per candidate per copy; `taken` should answer from
// a listing of the folder made once). False when the sequence ran out first;
// `names` then holds the free names there were.
bool CopyNamesBeforeExtension(std::string_view utf8Name, const NameTaken& taken, size_t count,
                              std::vector<std::string>* names);
// The long-name " copy" name (no cutting): a stem that ends as a copy name
// ("x copy", "x copy 3") is cut back to "x copy", any other gets " copy"
// appended; then "x copy N" ext for N = 1..4998.
std::string CopyNameForLongNames(std::string_view utf8Name, const NameTaken& taken, bool* found = nullptr);
// Where a stem ends as a copy name: the position of its last " copy" when
// only nothing or " " and digits follow, else npos.
size_t CopyMarkIn(std::string_view stem);
// In every " copy" form an empty stem gives "copy" ext and "copy N" ext.
//
// base ext, base " copy" ext, base " copy N" ext for N = 1..4999 (an empty
// base starts at "copy" ext, never the extension alone). -1 when all
// are taken (-2) or a candidate is too long for a file name (255 UTF-16 units, -1).
int16_t NewCopyName(std::string_view utf8Base, std::string_view utf8Ext, const NameTaken& taken,
                    std::string& result);
// The first `count` free names of that sequence, added to `names` in one
// pass over it; 0, -2 when it ran out first (`names` holds those there
// were), -1 when a candidate is too long for a file name.
int16_t NewCopyNames(std::string_view utf8Base, std::string_view utf8Ext, const NameTaken& taken, size_t count,
                     std::vector<std::string>* names);

// Splits a name at its last "." (a final "." does not count): stem and
// extension with its ".".
void SplitAtLastDot(std::string_view name, std::string& stem, std::string& ext);

}  // namespace platform
