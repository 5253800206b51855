// The window's settings as readable keys of a preference export.
#include "prefs/ReadablePrefs.h"

#include <array>
#include <charconv>
#include <functional>
#include <memory>
#include <span>

#include "host/base/MacRoman.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

// How a value of the window stands in the file.
enum class Kind {
  kSwitch,          // a checkbox: a boolean, on = 1
  kInvertedSwitch,  // a checkbox that is on for 0 ("Delete Job Files After Printing")
  kNumber,          // an integer within [lo, hi]
  kChoice,          // a popup or radio cluster: the text of the item chosen
  kText,            // a text field of at most `capacity` characters
  kFurtherSets,     // "Also Copy To…": the numbers of up to three sets, "5, 7"
};

// A popup's item: the text the window shows and the value it stores.
struct tChoice {
  const char* text;
  int16_t value;
};

constexpr tChoice kFormats[] = {{"TIFF", kFormatTIFF},       {"JPEG", kFormatJPEG},
                                {"PICT", kFormatPICT},       {"RAW", kFormatRAW},
                                {"TIFF (uncompressed)", kFormatOwnTIFF},
                                {"Targa", kFormatTarga},     {"Photoshop", kFormatPhotoshop},
                                {"PNG", kFormatPNG},         {"JPEG for the web", kFormatJPEGForWeb}};
constexpr tChoice kNamings[] = {{"Prefix and number", 1},   {"Job name", 2},
                                {"Image name", 3},          {"Job name_image name", 4},
                                {"Date_time", 5},           {"Image name_view", 6},
                                {"Image name and text", 7}, {"Image name, text optional", 8}};
constexpr tChoice kOrientations[] = {{"Landscape", 1}, {"Portrait", 2}};
// Popup 'rota': item 1 stores rotation 2, item 2 rotation 1.
constexpr tChoice kRotations[] = {{"Clockwise", 2}, {"Counter-clockwise", 1}};

template <class R>
struct tReadable {
  const char* name;
  Kind kind;
  int16_t& (*number)(R&) = nullptr;  // switches, numbers and choices
  int lo = 0, hi = 0;
  std::span<const tChoice> choices{};
  std::string (*text)(R&) = nullptr;  // texts, UTF-8
  void (*setText)(R&, const std::string& utf8) = nullptr;
  size_t capacity = 0;
  std::array<int16_t, 3>& (*sets)(R&) = nullptr;
};

#define KIVO_NUMBER_FIELD(path) [](Record& r) -> int16_t& { return r.path; }
#define KIVO_SWITCH(label, path) {.name = label, .kind = Kind::kSwitch, .number = KIVO_NUMBER_FIELD(path)}
#define KIVO_INVERTED(label, path) {.name = label, .kind = Kind::kInvertedSwitch, .number = KIVO_NUMBER_FIELD(path)}
#define KIVO_NUMBER(label, path, low, high) \
  {.name = label, .kind = Kind::kNumber, .number = KIVO_NUMBER_FIELD(path), .lo = low, .hi = high}
#define KIVO_CHOICE(label, path, list) \
  {.name = label, .kind = Kind::kChoice, .number = KIVO_NUMBER_FIELD(path), .choices = list}
#define KIVO_TEXT(label, path)                                                                 \
  {.name = label, .kind = Kind::kText, .text = [](Record& r) { return r.path.ToUTF8(); },     \
   .setText = [](Record& r, const std::string& utf8) { r.path.AssignUTF8(utf8); },            \
   .capacity = decltype(Record::path)::kCapacity}

std::span<const tReadable<tPrintServerPrefs>> GeneralSettings() {
  using Record = tPrintServerPrefs;
  static const tReadable<Record> kFields[] = {
      KIVO_SWITCH("Keep The Window Responsive While Processing", enableBackground),
      KIVO_SWITCH("Start Processing At Launch", autoStart),
      KIVO_INVERTED("Delete Job Files After Printing", keepJobFiles),
      KIVO_SWITCH("Rescan The Whole Spool Folder Before Every Job", fullRescan),
      KIVO_SWITCH("Ask What To Do With A Job That Failed", askOnFailedJob),
      KIVO_SWITCH("Hide The Page Preview", hideImage),
      KIVO_SWITCH("Dual Printer Hand-Off", dualSwitch),
      KIVO_SWITCH("Black And White Proofs", blckSwitch),
      KIVO_SWITCH("Third-Party Station Jobs", t3amSwitch),
  };
  return kFields;
}

std::span<const tReadable<tPrintToFilePrefs>> PrintToFileSettings() {
  using Record = tPrintToFilePrefs;
  static const tReadable<Record> kFields[] = {
      KIVO_SWITCH("Create The Folder When Missing", folder.createIfMissing),
      KIVO_SWITCH("Do Not Save The Chroma-Key Properties", skipCKProperties),
  };
  return kFields;
}

std::span<const tReadable<tProcessedJobsPrefs>> PrintCenterSettings() {
  using Record = tProcessedJobsPrefs;
  static const tReadable<Record> kFields[] = {
      KIVO_SWITCH("Create The Folder When Missing", folder.createIfMissing),
      KIVO_SWITCH("Hand Off A JPEG And A Property List", useNewHandOff),
  };
  return kFields;
}

// What a set and the web-upload record share in the window.
#define KIVO_SPECIAL_COMMON                                                   \
  KIVO_SWITCH("Create The Folder When Missing", folder.createIfMissing),      \
      KIVO_SWITCH("Turn To The Orientation", forceOrientation),               \
      KIVO_SWITCH("Do Not Save The Chroma-Key Properties", skipCKProperties), \
      KIVO_CHOICE("File Format", fileFormat, kFormats), KIVO_TEXT("Extension", extension), \
      KIVO_CHOICE("Naming", namingType, kNamings), KIVO_TEXT("Prefix", baseName),          \
      KIVO_CHOICE("Orientation", orientation, kOrientations), KIVO_CHOICE("Rotate", rotation, kRotations)

std::span<const tReadable<tSpecialPrintToFilePref>> SetSettings() {
  using Record = tSpecialPrintToFilePref;
  static const tReadable<Record> kFields[] = {
      KIVO_SPECIAL_COMMON,
      KIVO_SWITCH("Replace Existing File", overwrite),
      KIVO_SWITCH("Write A Web Copy", createJpegForWeb),
      KIVO_NUMBER("Web Copy Max Size", maxSize, 1, 32767),
      KIVO_SWITCH("Do Not Resize JPEG For The Web", doNotResizeJpegForWeb),
      KIVO_NUMBER("Upload Site", ftpSite, 1, 5),
      KIVO_TEXT("Client List", editText),
      {.name = "Also Copy To Sets",
       .kind = Kind::kFurtherSets,
       .sets = [](Record& r) -> std::array<int16_t, 3>& { return r.alsoCopyToSet; }},
  };
  return kFields;
}

std::span<const tReadable<tSpecialPrintToFilePref>> WebUploadSettings() {
  using Record = tSpecialPrintToFilePref;
  static const tReadable<Record> kFields[] = {KIVO_SPECIAL_COMMON};
  return kFields;
}

std::span<const tReadable<tOutputFilePrefs>> OutputFilesSettings() {
  using Record = tOutputFilePrefs;
  static const tReadable<Record> kFields[] = {
      KIVO_NUMBER("JPEG Quality Of Web Copies", jpegQuality, 10, 100),
  };
  return kFields;
}

#undef KIVO_SPECIAL_COMMON
#undef KIVO_TEXT
#undef KIVO_CHOICE
#undef KIVO_NUMBER
#undef KIVO_INVERTED
#undef KIVO_SWITCH
#undef KIVO_NUMBER_FIELD

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "5, 7": the sets (1 to 8) a set also copies into, at most three; an empty
// text names none. Nothing when the text is not such a list.
std::optional<std::vector<int16_t>> ParseFurtherSets(const std::string& text) {
  std::vector<int16_t> sets;
  std::string_view rest = Trimmed(text);
  if (rest.empty()) return sets;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view item = Trimmed(rest.substr(0, comma));
    int n = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), n);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size() || n < 1 || n > 8) return std::nullopt;
    sets.push_back(int16_t(n));
    if (sets.size() > 3) return std::nullopt;
    if (comma == std::string_view::npos) return sets;
    rest = rest.substr(comma + 1);
  }
}

// The value of `field` in `record` as the file holds it; nothing for a value
// the import would refuse.
template <class R>
std::optional<host::PlistValue> ValueOf(const tReadable<R>& field, R record) {
  switch (field.kind) {
    case Kind::kSwitch:
    case Kind::kInvertedSwitch: {
      const int16_t v = field.number(record);
      if (v != 0 && v != 1) return std::nullopt;
      return host::PlistValue((v == 1) == (field.kind == Kind::kSwitch));
    }
    case Kind::kNumber: {
      const int16_t v = field.number(record);
      if (v < field.lo || v > field.hi) return std::nullopt;
      return host::PlistValue(int64_t(v));
    }
    case Kind::kChoice:
      for (const tChoice& c : field.choices)
        if (c.value == field.number(record)) return host::PlistValue(c.text);
      return std::nullopt;
    case Kind::kText: return host::PlistValue(field.text(record));
    case Kind::kFurtherSets: {
      std::string text;
      for (const int16_t v : field.sets(record))
        if (v >= 2 && v <= 9) text += (text.empty() ? "" : ", ") + std::to_string(v - 1);
      return host::PlistValue(text);
    }
  }
  return std::nullopt;
}

// Puts `value` into `record` (when not null) as `field`; why it cannot be.
template <class R>
std::optional<std::string> Put(const tReadable<R>& field, const host::PlistValue& value, R* record) {
  switch (field.kind) {
    case Kind::kSwitch:
    case Kind::kInvertedSwitch: {
      const bool* on = value.asBool();
      if (!on) return "not a boolean (<true/> or <false/>)";
      if (record) field.number(*record) = (*on == (field.kind == Kind::kSwitch)) ? 1 : 0;
      return std::nullopt;
    }
    case Kind::kNumber: {
      const int64_t* n = value.asInteger();
      if (!n) return "not an integer";
      if (*n < field.lo || *n > field.hi)
        return "out of range (" + std::to_string(field.lo) + " to " + std::to_string(field.hi) + ")";
      if (record) field.number(*record) = int16_t(*n);
      return std::nullopt;
    }
    case Kind::kChoice: {
      const std::string* text = value.asString();
      std::string offered;
      for (const tChoice& c : field.choices) {
        if (text && SameTextIgnoringCase(*text, c.text)) {
          if (record) field.number(*record) = c.value;
          return std::nullopt;
        }
        offered += std::string(offered.empty() ? "" : ", ") + "\"" + c.text + "\"";
      }
      return (text ? "not one of " : "not a text; one of ") + offered;
    }
    case Kind::kText: {
      const std::string* text = value.asString();
      if (!text) return "not a text";
      bool lossless = true;
      const std::string macRoman = host::UTF8ToMacRoman(*text, &lossless);
      if (macRoman.size() > field.capacity) return "longer than " + std::to_string(field.capacity) + " characters";
      if (!lossless) return "holds characters the record cannot keep";
      if (record) field.setText(*record, *text);
      return std::nullopt;
    }
    case Kind::kFurtherSets: {
      const std::string* text = value.asString();
      const auto sets = text ? ParseFurtherSets(*text) : std::nullopt;
      if (!sets) return "not up to three set numbers 1 to 8 separated by commas (\"5, 7\"; \"\" for none)";
      if (record) {
        std::array<int16_t, 3>& stored = field.sets(*record);
        stored = {0, 0, 0};
        for (size_t i = 0; i < sets->size(); ++i) stored[i] = int16_t((*sets)[i] + 1);
      }
      return std::nullopt;
    }
  }
  return "not a setting";
}

// One record with readable keys, whatever its type.
class TReadableRecord {
 public:
  TReadableRecord(std::string recordKey, std::string prefix)
      : recordKey_(std::move(recordKey)), prefix_(std::move(prefix) + " ") {}
  virtual ~TReadableRecord() = default;
  const std::string& recordKey() const { return recordKey_; }
  const std::string& prefix() const { return prefix_; }
  // The field name of `key` when it is one of this record's, else empty.
  std::string FieldOf(const std::string& key) const {
    if (key.compare(0, prefix_.size(), prefix_) != 0) return {};
    const std::string name = key.substr(prefix_.size());
    for (const std::string& n : Names())
      if (n == name) return n;
    return {};
  }
  virtual std::vector<std::string> Names() const = 0;
  virtual host::PlistDict SettingsOf(const host::PlistData& blob) const = 0;
  virtual std::optional<std::string> Check(const std::string& name, const host::PlistValue& value) const = 0;
  virtual std::optional<host::PlistData> With(const host::PlistData& blob, const host::PlistDict& settings) const = 0;
  virtual host::PlistData Factory() const = 0;

 private:
  std::string recordKey_, prefix_;
};

template <class R>
class TReadableRecordOf final : public TReadableRecord {
 public:
  TReadableRecordOf(std::string recordKey, std::string prefix, std::span<const tReadable<R>> fields,
                    std::function<std::optional<R>(const host::PlistData&)> decode,
                    std::function<host::PlistData(const R&)> encode, std::function<R()> factory)
      : TReadableRecord(std::move(recordKey), std::move(prefix)),
        fields_(fields),
        decode_(std::move(decode)),
        encode_(std::move(encode)),
        factory_(std::move(factory)) {}

  std::vector<std::string> Names() const override {
    std::vector<std::string> names;
    for (const tReadable<R>& f : fields_) names.emplace_back(f.name);
    return names;
  }
  host::PlistDict SettingsOf(const host::PlistData& blob) const override {
    host::PlistDict out;
    const std::optional<R> record = decode_(blob);
    if (!record) return out;
    for (const tReadable<R>& f : fields_)
      if (auto v = ValueOf(f, *record)) out[prefix() + f.name] = std::move(*v);
    return out;
  }
  std::optional<std::string> Check(const std::string& name, const host::PlistValue& value) const override {
    const tReadable<R>* f = Find(name);
    if (!f) return "not a setting of " + prefix().substr(0, prefix().size() - 1);
    return Put<R>(*f, value, nullptr);
  }
  std::optional<host::PlistData> With(const host::PlistData& blob, const host::PlistDict& settings) const override {
    std::optional<R> record = decode_(blob);
    if (!record) return std::nullopt;
    bool changed = false;
    for (const auto& [key, value] : settings) {
      const tReadable<R>* f = Find(FieldOf(key));
      if (!f) return std::nullopt;
      // What the export wrote unchanged leaves the field as the blob has it
      // (a "none" of the copy-to-sets choice may be stored as 0 or 1).
      if (ValueOf(*f, *record) == value) continue;
      if (Put(*f, value, &*record)) return std::nullopt;
      changed = true;
    }
    // Nothing changed: the blob's own bytes, whatever its reader skips.
    return changed ? encode_(*record) : blob;
  }
  host::PlistData Factory() const override { return encode_(factory_()); }

 private:
  const tReadable<R>* Find(const std::string& name) const {
    for (const tReadable<R>& f : fields_)
      if (name == f.name) return &f;
    return nullptr;
  }
  std::span<const tReadable<R>> fields_;
  std::function<std::optional<R>(const host::PlistData&)> decode_;
  std::function<host::PlistData(const R&)> encode_;
  std::function<R()> factory_;
};

const std::vector<std::unique_ptr<TReadableRecord>>& Records() {
  static const std::vector<std::unique_ptr<TReadableRecord>> records = [] {
    std::vector<std::unique_ptr<TReadableRecord>> r;
    r.push_back(std::make_unique<TReadableRecordOf<tPrintServerPrefs>>(
        kPrintServerPrefKey, "General Settings", GeneralSettings(), DecodePrintServerBlob,
        [](const tPrintServerPrefs& p) { return PrintServerPrefBlobOf(p); },
        [] {
          tPrintServerPrefs p;
          setMyPrintServerPrefToFactoryDefaults(&p);
          return p;
        }));
    r.push_back(std::make_unique<TReadableRecordOf<tPrintToFilePrefs>>(
        kPrintToFilePrefKey, "Print To File", PrintToFileSettings(), DecodePrintToFileBlob,
        [](const tPrintToFilePrefs& p) { return PrintToFilePrefBlobOf(p); },
        [] {
          tPrintToFilePrefs p;
          setMyPrintToFilePrefToFactoryDefaults(&p);
          return p;
        }));
    r.push_back(std::make_unique<TReadableRecordOf<tProcessedJobsPrefs>>(
        kPrintCenterPrefsKey, "Kivo-Print Center", PrintCenterSettings(), DecodeProcessedJobsBlob,
        [](const tProcessedJobsPrefs& p) { return ProcessedJobsPrefBlobOf(p); },
        [] {
          tProcessedJobsPrefs p;
          setMyProcessedJobsPrefToFactoryDefaults(&p);
          return p;
        }));
    for (int16_t set = 1; set <= 8; ++set)
      r.push_back(std::make_unique<TReadableRecordOf<tSpecialPrintToFilePref>>(
          PrintToFileSetKey(set), PrintToFileSetKey(set), SetSettings(),
          [set](const host::PlistData& blob) { return DecodePrintToFileSetBlob(blob, set); },
          [set](const tSpecialPrintToFilePref& p) { return PrintToFileSetBlob(p, set); },
          [set] {
            tSpecialPrintToFilePref p;
            setMyPrintToFileSetPrefsToFactoryDefaults(&p, set);
            return p;
          }));
    r.push_back(std::make_unique<TReadableRecordOf<tOutputFilePrefs>>(
        kOutputFilesPrefKey, "Output Files", OutputFilesSettings(), DecodeOutputFileBlob,
        [](const tOutputFilePrefs& p) { return OutputFilePrefBlobOf(p); },
        [] {
          tOutputFilePrefs p;
          setMyOutputFilePrefToFactoryDefaults(&p);
          return p;
        }));
    r.push_back(std::make_unique<TReadableRecordOf<tSpecialPrintToFilePref>>(
        kWebUploadPrefsKey, "Web Upload", WebUploadSettings(), DecodeWebUploadBlob,
        [](const tSpecialPrintToFilePref& p) { return WebUploadPrefBlobOf(p); },
        [] {
          tSpecialPrintToFilePref p;
          setMyWebUploadPrefsToFactoryDefaults(&p);
          return p;
        }));
    return r;
  }();
  return records;
}

const TReadableRecord* RecordOfKey(const std::string& recordKey) {
  for (const auto& r : Records())
    if (r->recordKey() == recordKey) return r.get();
  return nullptr;
}

const TReadableRecord* RecordOfSetting(const std::string& key) {
  for (const auto& r : Records())
    if (!r->FieldOf(key).empty()) return r.get();
  return nullptr;
}

}  // namespace

host::PlistDict ReadableSettingsOf(const std::string& recordKey, const host::PlistData& blob) {
  const TReadableRecord* r = RecordOfKey(recordKey);
  return r ? r->SettingsOf(blob) : host::PlistDict{};
}

std::string RecordOfReadableKey(const std::string& key) {
  const TReadableRecord* r = RecordOfSetting(key);
  return r ? r->recordKey() : std::string();
}

bool HasReadablePrefix(const std::string& key) {
  for (const auto& r : Records())
    if (key.compare(0, r->prefix().size(), r->prefix()) == 0) return true;
  return false;
}

std::optional<std::string> CheckReadableSetting(const std::string& key, const host::PlistValue& value) {
  const TReadableRecord* r = RecordOfSetting(key);
  if (!r) return "not a setting of this program";
  return r->Check(r->FieldOf(key), value);
}

std::optional<host::PlistData> WithReadableSettings(const std::string& recordKey, const host::PlistData& blob,
                                                    const host::PlistDict& settings) {
  const TReadableRecord* r = RecordOfKey(recordKey);
  return r ? r->With(blob, settings) : std::nullopt;
}

host::PlistData FactoryRecordBlob(const std::string& recordKey) {
  const TReadableRecord* r = RecordOfKey(recordKey);
  return r ? r->Factory() : host::PlistData{};
}

std::vector<std::string> AllReadableKeys() {
  std::vector<std::string> keys;
  for (const auto& r : Records())
    for (const std::string& name : r->Names()) keys.push_back(r->prefix() + name);
  return keys;
}
