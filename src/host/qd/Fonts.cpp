#include "host/qd/Fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace host {
namespace {

struct ClassicFont {
  int16_t number;
  const char* family;
};

constexpr ClassicFont kClassicFonts[] = {
    {0, "Chicago"},        {2, "New York"},       {3, "Geneva"},
    {4, "Monaco"},         {5, "Venice"},         {6, "London"},
    {7, "Athens"},         {8, "San Francisco"},  {9, "Toronto"},
    {11, "Cairo"},         {12, "Los Angeles"},   {13, "Zapf Dingbats"},
    {14, "Bookman"},       {15, "Helvetica Narrow"}, {16, "Palatino"},
    {18, "Zapf Chancery"}, {20, "Times"},         {21, "Helvetica"},
    {22, "Courier"},       {23, "Symbol"},        {24, "Taliesin"},
    {33, "Avant Garde"},   {34, "New Century Schlbk"},
};

constexpr int16_t kApplicationFont = 1;
constexpr int16_t kFirstHandedOut = 1024;

struct Substitute {
  const char* classic;
  const char* installed;
};

constexpr Substitute kSubstitutes[] = {
    {"helvetica", "Liberation Sans"},
    {"helvetica narrow", "Liberation Sans"},
    {"arial", "Liberation Sans"},
    {"times", "Liberation Serif"},
    {"times new roman", "Liberation Serif"},
    {"courier", "Liberation Mono"},
    {"courier new", "Liberation Mono"},
    {"monaco", "DejaVu Sans Mono"},
    {"new york", "DejaVu Serif"},
    {"palatino", "DejaVu Serif"},
    {"bookman", "DejaVu Serif"},
    {"new century schlbk", "DejaVu Serif"},
    {"new century schoolbook", "DejaVu Serif"},
    {"zapf chancery", "DejaVu Serif"},
    {"chicago", "DejaVu Sans"},
    {"charcoal", "DejaVu Sans"},
    {"geneva", "DejaVu Sans"},
    {"lucida grande", "DejaVu Sans"},
    {"avant garde", "DejaVu Sans"},
    {"venice", "DejaVu Sans"},
    {"london", "DejaVu Sans"},
    {"athens", "DejaVu Sans"},
    {"san francisco", "DejaVu Sans"},
    {"toronto", "DejaVu Sans"},
    {"cairo", "DejaVu Sans"},
    {"los angeles", "DejaVu Sans"},
    {"taliesin", "DejaVu Sans"},
    {"symbol", "DejaVu Sans"},
    {"zapf dingbats", "DejaVu Sans"},
};

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

// Our own fontconfig configuration, so that lookups neither depend on nor
// disturb the process-wide default one that other libraries may use, and so
// that it is released at exit.
class FontConfig {
 public:
  FcConfig* get() {
    if (!config_) config_ = FcInitLoadConfigAndFonts();
    return config_;
  }
  ~FontConfig() {
    if (config_) FcConfigDestroy(config_);
    config_ = nullptr;
  }

 private:
  FcConfig* config_ = nullptr;
};

std::mutex gMutex;
FontConfig gFontConfig;
std::vector<std::string> gHandedOut;  // index = number − kFirstHandedOut
std::map<std::tuple<std::string, bool, bool>, FontFaceFile> gFaceCache;

}  // namespace

std::string FontFamilyForNumber(int16_t number) {
  if (number == kApplicationFont) number = 3;
  for (const auto& f : kClassicFonts) {
    if (f.number == number) return f.family;
  }
  {
    std::lock_guard<std::mutex> lock(gMutex);
    const int index = int(number) - kFirstHandedOut;
    if (index >= 0 && size_t(index) < gHandedOut.size()) return gHandedOut[size_t(index)];
  }
  return "Geneva";
}

int16_t FontNumberForFamily(std::string_view family) {
  const std::string key = Lower(family);
  for (const auto& f : kClassicFonts) {
    if (Lower(f.family) == key) return f.number;
  }
  std::lock_guard<std::mutex> lock(gMutex);
  for (size_t i = 0; i < gHandedOut.size(); ++i) {
    if (Lower(gHandedOut[i]) == key) return int16_t(kFirstHandedOut + int(i));
  }
  if (gHandedOut.size() >= size_t(INT16_MAX - kFirstHandedOut)) return kApplicationFont;
  gHandedOut.emplace_back(family);
  return int16_t(kFirstHandedOut + int(gHandedOut.size() - 1));
}

std::string InstalledFamilyFor(std::string_view family) {
  const std::string key = Lower(family);
  for (const auto& s : kSubstitutes) {
    if (key == s.classic) return s.installed;
  }
  return std::string(family);
}

FontFaceFile FindFontFace(std::string_view family, bool bold, bool italic) {
  const std::string installed = InstalledFamilyFor(family);
  std::lock_guard<std::mutex> lock(gMutex);
  const auto key = std::make_tuple(installed, bold, italic);
  if (auto it = gFaceCache.find(key); it != gFaceCache.end()) return it->second;

  FontFaceFile found;
  FcConfig* config = gFontConfig.get();
  FcPattern* pattern = config ? FcPatternCreate() : nullptr;
  if (pattern) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(installed.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    if (match) {
      FcChar8* file = nullptr;
      int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcBool scalable = FcFalse;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file &&
          (FcPatternGetBool(match, FC_SCALABLE, 0, &scalable) != FcResultMatch || scalable)) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        found.path = reinterpret_cast<const char*>(file);
        found.index = index;
        // fontconfig's own rules for fonts without a bold or italic face
        // mark the match "embolden" or give it a slanting matrix (and then
        // report the requested weight and slant, not the file's).
        FcBool embolden = FcFalse;
        FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden);
        FcMatrix* matrix = nullptr;
        const bool slanted = FcPatternGetMatrix(match, FC_MATRIX, 0, &matrix) == FcResultMatch && matrix &&
                             matrix->xy != 0;
        found.syntheticBold = bold && (embolden || weight < FC_WEIGHT_DEMIBOLD);
        found.syntheticItalic = italic && (slanted || slant == FC_SLANT_ROMAN);
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  gFaceCache.emplace(key, found);
  return found;
}

bool IsKnownFontNumber(int16_t number) {
  if (number == kApplicationFont) return true;
  for (const auto& f : kClassicFonts)
    if (f.number == number) return true;
  std::lock_guard<std::mutex> lock(gMutex);
  const int index = int(number) - kFirstHandedOut;
  return index >= 0 && size_t(index) < gHandedOut.size();
}

bool IsFontFamilyInstalled(std::string_view family) {
  const std::string installed = InstalledFamilyFor(family);
  std::lock_guard<std::mutex> lock(gMutex);
  static std::map<std::string, bool> known;
  const std::string key = Lower(installed);
  if (auto it = known.find(key); it != known.end()) return it->second;
  bool found = false;
  FcConfig* config = gFontConfig.get();
  FcPattern* pattern = config ? FcPatternCreate() : nullptr;
  FcObjectSet* objects = pattern ? FcObjectSetBuild(FC_FAMILY, nullptr) : nullptr;
  if (objects) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(installed.c_str()));
    // FcFontList matches the family exactly (ignoring case), without the
    // substitutions FcFontMatch would make.
    if (FcFontSet* set = FcFontList(config, pattern, objects)) {
      found = set->nfont > 0;
      FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
  }
  if (pattern) FcPatternDestroy(pattern);
  known.emplace(key, found);
  return found;
}

}  // namespace host
