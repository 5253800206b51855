#include "output/PrintCountInfo.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <ctime>
#include <system_error>

#include "host/files/HeldFolders.h"
#include "output/PrintCounts.h"
#include "platform/Log.h"
#include "platform/StringLists.h"

namespace output {

namespace fs = std::filesystem;

namespace {

// 1904-01-01 to 1970-01-01.
constexpr int64_t k1904To1970 = 2082844800;

// The kind keys in the order a new entry lists them.
constexpr const char* kKindKeys[] = {"tChooserCount",   "tCDCount",      "tPrintToFileCount",
                                     "tRegularCount",   "tPrintToFile2Count", "tSaveAsCompositionCount",
                                     "tCDWriteCount",   "tImageGrabCount",    "tFloppyCount",
                                     "tOriginalFileSaveCount"};

const char* KeyOfKind(int kind) {
  switch (kind) {
    case 1: return "tChooserCount";
    case 2: return "tCDCount";
    case 3: return "tPrintToFileCount";
    case 4: return "tRegularCount";
    case 5: return "tPrintToFile2Count";
    case 6: return "tSaveAsCompositionCount";
    case 7: return "tCDWriteCount";
    case 8: return "tImageGrabCount";
    case 11: return "tFloppyCount";
    case 12: return "tOriginalFileSaveCount";
    default: return nullptr;
  }
}

// A stored number as a count; a real beyond the 64-bit range (or not a
// number) stops at the range's end instead of being converted out of it.
int64_t NumberOf(const host::PlistValue* v) {
  if (!v) return 0;
  if (const auto* i = v->asInteger()) return *i;
  double d = 0;
  if (!v->toDouble(d) || std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return int64_t(d);
}

bool gVerbose = true;

void Verbose(const std::string& line) {
  if (gVerbose) platform::LogLine(line);
}

// A short description of a dictionary for the diagnostic lines: keys and
// their numbers or texts, nested dictionaries in braces.
std::string Describe(const host::PlistDict& dict) {
  std::string text = "{";
  for (const auto& [key, value] : dict) {
    if (text.size() > 1) text += "; ";
    text += key + " = ";
    double number = 0;
    if (const auto* d = value.asDict()) text += Describe(*d);
    else if (const auto* str = value.asString()) text += "\"" + *str + "\"";
    else if (const auto* a = value.asArray()) text += "(" + std::to_string(a->size()) + " items)";
    else if (value.toDouble(number)) text += platform::StringF("%g", number);
    else text += "…";
  }
  return text + "}";
}

std::tm LocalTm(LongDateTime date) {
  const time_t unix = time_t(date - k1904To1970);
  std::tm tm{};
  localtime_r(&unix, &tm);
  return tm;
}

}  // namespace

LongDateTime LongDateTimeNow() { return int64_t(std::time(nullptr)) + k1904To1970; }

LongDateTime LongDateTimeOfDay(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;  // noon: a day that is 23 or 25 hours long stays the same day
  tm.tm_isdst = -1;
  return int64_t(std::mktime(&tm)) + k1904To1970;
}

std::string IsoDayString(LongDateTime date) {
  const std::tm tm = LocalTm(date);
  return platform::StringF("%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string CountFileDayString(LongDateTime date) {
  const std::tm tm = LocalTm(date);
  return platform::StringF("%02d-%02d-%d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
}

fs::path DayDictionaryPath(const fs::path& folder, bool isX, LongDateTime date) {
  return folder / (std::string(".Print Count ") + (isX ? "Kivo-X " : "Kivo-Processor ") + IsoDayString(date));
}

printCountInfoObject printCountInfoObject::OpenForCounting(const char* key, const fs::path& path,
                                                           const char* savedLine) {
  printCountInfoObject o;
  o.key_ = key;
  if (!path.empty()) {
    Verbose(savedLine + path.string());
    o.settings_ = ZORVEL_SecureSettings::initWithPath(path);
  }
  o.setupNewDictionary();
  return o;
}

printCountInfoObject printCountInfoObject::initWithWhich(const fs::path& folder, bool isX, LongDateTime date) {
  Verbose("Inside printCountInfoObject => initWithWhich:...");
  return OpenForCounting(isX ? kSiblingStationKey : kProcessorStationKey,
                         folder.empty() ? fs::path() : DayDictionaryPath(folder, isX, date), "savedPath ");
}

std::optional<printCountInfoObject> printCountInfoObject::initWithDate(const fs::path& folder,
                                                                       std::chrono::system_clock::time_point date,
                                                                       bool isKivoX) {
  const int64_t unix = std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
  return initWithLongDateTime(folder, unix + k1904To1970, isKivoX);
}

printCountInfoObject printCountInfoObject::initWithFileName(const fs::path& folder, const std::string& name) {
  Verbose("Inside printCountInfoObject => initWithFileName:...");
  // Only a file of the folder itself: no path and no way out of it.
  const bool single = !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
                      name.find('\0') == std::string::npos;
  if (!single)
    platform::LogF("The count dictionary name \"%s\" is not a file name; counting in memory only", name.c_str());
  return OpenForCounting(name.rfind(".Print Count Kivo-X", 0) == 0 ? kSiblingStationKey : kProcessorStationKey,
                         single && !folder.empty() ? folder / name : fs::path(), "savedPath here ");
}

printCountInfoObject printCountInfoObject::init(const fs::path& folder, LongDateTime date) {
  Verbose("Inside printCountInfoObject => init...");
  return OpenForCounting(kProcessorStationKey,
                         folder.empty() ? fs::path() : folder / (".Print Count " + IsoDayString(date)), "savedPath ");
}

void printCountInfoObject::setVerbose(bool on) { gVerbose = on; }
bool printCountInfoObject::isVerbose() { return gVerbose; }

std::optional<printCountInfoObject> printCountInfoObject::initWithLongDateTime(const fs::path& folder,
                                                                               LongDateTime date, bool isKivoX) {
  printCountInfoObject o;
  o.key_ = isKivoX ? kSiblingStationKey : kProcessorStationKey;
  o.settings_ = ZORVEL_SecureSettings::openReadOnly(DayDictionaryPath(folder, isKivoX, date));
  if (!o.settings_) {
    std::fputs("settings == nil\n", stderr);
    return std::nullopt;
  }
  const host::PlistValue* totals = o.settings_->objectForKey("tPrintTotals");
  if (!totals || !totals->asDict()) {
    std::fputs("printCountInfo == nil\n", stderr);
    return std::nullopt;
  }
  o.subInfo_ = *totals->asDict();
  if (const host::PlistValue* entry = totals->find(o.key_); entry && entry->asDict()) o.printCountInfo_ = *entry->asDict();
  return o;
}

printCountInfoObject::~printCountInfoObject() {
  if (!settings_) return;
  Verbose("Dictionary = " + Describe(printCountInfo_));
  settings_->save();
}

void printCountInfoObject::setupNewDictionary() {
  if (settings_) {
    Verbose("Inside printCountInfoObject => setupNewDictionary...settings=" + settings_->filePath().string());
    if (const host::PlistValue* totals = settings_->objectForKey("tPrintTotals"); totals && totals->asDict()) {
      subInfo_ = *totals->asDict();
      Verbose("subInfo found " + Describe(subInfo_) + "...");
    }
  }
  const host::PlistValue* entry = nullptr;
  if (auto it = subInfo_.find(key_); it != subInfo_.end()) entry = &it->second;
  if (!entry || !entry->asDict()) {
    createNewDictionary();
    return;
  }
  printCountInfo_ = *entry->asDict();
  if (!printCountInfo_.count("tNumberOfUSBsBurned")) {
    std::fputs("create new key for tNumberOfUSBsBurned\n", stderr);
    printCountInfo_["tNumberOfUSBsBurned"] = int64_t(0);
    StoreBack();
  }
}

void printCountInfoObject::createNewDictionary() {
  printCountInfo_.clear();
  for (const char* key : kKindKeys) printCountInfo_[key] = int64_t(0);
  printCountInfo_["tPrinterCanvases"] = host::PlistDict{};
  printCountInfo_["tPackagesPrinted"] = host::PlistDict{};
  StoreBack();
}

void printCountInfoObject::StoreBack() {
  subInfo_[key_] = printCountInfo_;
  if (settings_) settings_->setObject(subInfo_, "tPrintTotals");
}

int64_t printCountInfoObject::Get(const char* key) const {
  const auto it = printCountInfo_.find(key);
  return it == printCountInfo_.end() ? 0 : NumberOf(&it->second);
}

void printCountInfoObject::addToCounts(int count, int kind, int16_t printer, int16_t canvas,
                                       const std::string& templateName) {
  // A counter at its largest value stays there.
  if (const char* key = KeyOfKind(kind)) printCountInfo_[key] = SaturatingAdd64(Get(key), count);
  if (printer > 0 && canvas > 0) addToCanvasCount(printer, templateName);
  StoreBack();
}

void printCountInfoObject::addToCanvasCount(int16_t printer, const std::string& templateName) {
  const std::string printerName = GetIndString(kPrinterNameStrings, printer).ToUTF8();
  host::PlistValue& canvases = printCountInfo_["tPrinterCanvases"];
  if (!canvases.asDict()) canvases = host::PlistDict{};
  host::PlistValue& byPrinter = (*canvases.asDict())[printerName];
  if (!byPrinter.asDict()) byPrinter = host::PlistDict{};
  host::PlistValue& entry = (*byPrinter.asDict())[templateName];
  if (!entry.asDict()) entry = host::PlistDict{{"quantity", int64_t(0)}};
  host::PlistValue& quantity = (*entry.asDict())["quantity"];
  quantity = SaturatingAdd64(NumberOf(&quantity), 1);
  Verbose("canvasInfo=" + Describe(*byPrinter.asDict()));
}

void printCountInfoObject::addConfirmationIDKey(host::PlistValue confirmation) {
  printCountInfo_["tConfirmationID"] = std::move(confirmation);
  StoreBack();
}

void printCountInfoObject::addTotals(const tPrintQuantityInfo& totals) {
  // Kinds 1 to 7 in the record's field order of those kinds.
  const int32_t counts[] = {totals.chooser, totals.kind2, totals.printToFile, totals.regular,
                            totals.kind5,   totals.kind6, totals.kind7};
  for (int kind = 1; kind <= 7; ++kind) {
    const char* key = KeyOfKind(kind);
    printCountInfo_[key] = SaturatingAdd64(Get(key), counts[kind - 1]);
  }
  StoreBack();
}

void printCountInfoObject::setUSBFlashCount(int count) {
  printCountInfo_["tNumberOfUSBsBurned"] = SaturatingAdd64(Get("tNumberOfUSBsBurned"), count);
  platform::LogF("USB flashCount = %d", count);
  StoreBack();
}

void printCountInfoObject::addToCanvasCountOld(int16_t printer, int16_t canvas) {
  // A canvas number indexes the list; a negative one names no counter.
  if (canvas < 0) return;
  host::PlistValue& canvases = printCountInfo_["tPrinterCanvases"];
  if (!canvases.asDict()) canvases = host::PlistDict{};
  host::PlistValue& byPrinter = (*canvases.asDict())[platform::StringF("printer%02i", int(printer))];
  if (!byPrinter.asDict()) byPrinter = host::PlistDict{};
  host::PlistValue& list = (*byPrinter.asDict())["canvasList"];
  if (!list.asArray()) list = host::PlistArray{};
  host::PlistArray& counters = *list.asArray();
  // The list grows to the canvas asked for, as a list of counters that
  // simply have not been counted yet.
  if (counters.size() <= size_t(canvas)) counters.resize(size_t(canvas) + 1, host::PlistValue(int64_t(0)));
  counters[size_t(canvas)] = SaturatingAdd64(NumberOf(&counters[size_t(canvas)]), 1);
  StoreBack();
}

void printCountInfoObject::addToPackageCount(int16_t, int16_t) {}

void saveToDictionaryFile(const fs::path& folder, int16_t count, int16_t kind, int16_t jobType, int16_t canvas,
                          int16_t station, const std::string& templateName) {
  if (folder.empty()) {
    platform::LogLine("The spool root is not set; the day's count dictionary is not written");
    return;
  }
  printCountInfoObject o = printCountInfoObject::initWithWhich(folder, station == 0);
  o.addToCounts(count, kind, jobType, canvas, templateName);
}

std::optional<std::vector<uint8_t>> printCountInfoObject::TakeStoreBytes() {
  if (!settings_) return std::nullopt;
  Verbose("Dictionary = " + Describe(printCountInfo_));
  auto bytes = settings_->bytesToSave();
  settings_->discardChanges();
  settings_.reset();
  return bytes;
}

std::optional<std::vector<uint8_t>> CountedDictionaryBytes(const fs::path& folder, LongDateTime date, int32_t count,
                                                           int16_t kind, int16_t jobType, int16_t canvas,
                                                           const std::string& templateName) {
  if (folder.empty()) return std::nullopt;
  printCountInfoObject o = printCountInfoObject::initWithWhich(folder, false, date);
  o.addToCounts(count, kind, jobType, canvas, templateName);
  return o.TakeStoreBytes();
}

bool doesFileExistsAtPath(const fs::path& folder, LongDateTime date, bool isX) {
  return host::ExistsAt(DayDictionaryPath(folder, isX, date).string());
}

}  // namespace output
