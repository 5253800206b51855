// The per-day count dictionary: besides the count files, each day's counts
// of a station are kept in an encrypted store ".Print Count Kivo-Processor
// 2026-12-07" (station 0: ".Print Count Kivo-X 2026-12-07") in the spool
// root. It counts by kind and, per printer, jobs by template name:
//
//   "tPrintTotals" -> station key -> { "tChooserCount", … , "tPrinterCanvases"
//                                      -> printer name -> template -> {"quantity"} }
//
// Writer and reader use the same station key: "Kivo-Processor" for station
// 1, "Kivo-X" for station 0.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"
#include "output/PrintCounts.h"
#include "output/SecureSettings.h"

namespace output {

inline constexpr char kProcessorStationKey[] = "Kivo-Processor";
inline constexpr char kSiblingStationKey[] = "Kivo-X";

// Seconds since 1904-01-01, 64-bit so that days after 2040 (where 32 bits
// end) are reached; days are taken in local time.
using LongDateTime = int64_t;
LongDateTime LongDateTimeNow();
LongDateTime LongDateTimeOfDay(int year, int month, int day);
// "yyyy-MM-dd" and "MM-dd-yyyy" of a date.
std::string IsoDayString(LongDateTime date);
std::string CountFileDayString(LongDateTime date);

// The day file of a station and date in a folder.
std::filesystem::path DayDictionaryPath(const std::filesystem::path& folder, bool isX, LongDateTime date);

class printCountInfoObject {
 public:
  // Today's (or `date`'s) file of a station, opened for counting; counts in
  // memory only when the store cannot be opened.
  static printCountInfoObject initWithWhich(const std::filesystem::path& folder, bool isX,
                                            LongDateTime date = LongDateTimeNow());
  // A day's file opened read-only; nothing when it is missing, does not
  // decrypt or has no "tPrintTotals".
  static std::optional<printCountInfoObject> initWithLongDateTime(const std::filesystem::path& folder,
                                                                  LongDateTime date, bool isKivoX);

  // The same for a point in time.
  static std::optional<printCountInfoObject> initWithDate(const std::filesystem::path& folder,
                                                          std::chrono::system_clock::time_point date, bool isKivoX);
  // A day file of the folder by its name, opened for counting under the
  // station key its name gives (the sibling's for ".Print Count Kivo-X …",
  // else this station's). A name that is not a single file name counts in
  // memory only.
  static printCountInfoObject initWithFileName(const std::filesystem::path& folder, const std::string& name);
  // Today's (or `date`'s) file named without a station word
  // (".Print Count 2026-12-07"), opened for counting.
  static printCountInfoObject init(const std::filesystem::path& folder, LongDateTime date = LongDateTimeNow());

  // The diagnostic log lines of every object; on at start.
  static void setVerbose(bool on);
  static bool isVerbose();

  printCountInfoObject(printCountInfoObject&&) noexcept = default;
  printCountInfoObject& operator=(printCountInfoObject&&) noexcept = default;
  ~printCountInfoObject();  // saves the store

  // Adds `count` under the kind's key; a printer code and canvas above 0
  // also count one job for `templateName` under the printer's name.
  void addToCounts(int count, int kind, int16_t printer, int16_t canvas, const std::string& templateName);
  void addToCanvasCount(int16_t printer, const std::string& templateName);

  int64_t getChooserCount() const { return Get("tChooserCount"); }
  int64_t getCDCount() const { return Get("tCDCount"); }
  int64_t getPrintToFileCount() const { return Get("tPrintToFileCount"); }
  int64_t getRegularPrintCount() const { return Get("tRegularCount"); }
  int64_t getPrintToFile2Count() const { return Get("tPrintToFile2Count"); }
  int64_t getSaveAsCompCount() const { return Get("tSaveAsCompositionCount"); }
  int64_t getCDWriteCount() const { return Get("tCDWriteCount"); }
  int64_t getUSBCount() const { return Get("tFloppyCount"); }
  int64_t getUSBFlashCount() const { return Get("tNumberOfUSBsBurned"); }
  int64_t getOriginalFileSaveCount() const { return Get("tOriginalFileSaveCount"); }

  // Stores a confirmation under "tConfirmationID".
  void addConfirmationIDKey(host::PlistValue confirmation);
  // Adds a count record's kinds 1 to 7 to their keys.
  void addTotals(const tPrintQuantityInfo& totals);
  // Adds to the USB sticks written ("tNumberOfUSBsBurned").
  void setUSBFlashCount(int count);
  // The older per-printer form: "tPrinterCanvases" -> "printer08" ->
  // "canvasList", one counter per canvas number.
  void addToCanvasCountOld(int16_t printer, int16_t canvas);
  // Packages are not counted.
  void addToPackageCount(int16_t printer, int16_t package);

  const host::PlistDict& getPrintCountDictionary() const { return printCountInfo_; }
  const std::optional<ZORVEL_SecureSettings>& settings() const { return settings_; }
  bool IsStored() const { return settings_.has_value(); }
  // The store's bytes with what was counted, for a writer that puts them in
  // place itself; the store is then not written when the object goes.
  // Nothing for an object counting in memory only.
  std::optional<std::vector<uint8_t>> TakeStoreBytes();

 private:
  printCountInfoObject() = default;
  // An object counting under `key` in the store at `path` (in memory only
  // for an empty path), its dictionary set up; `savedLine` heads the
  // diagnostic line naming the store.
  static printCountInfoObject OpenForCounting(const char* key, const std::filesystem::path& path,
                                              const char* savedLine);
  void setupNewDictionary();
  void createNewDictionary();
  void StoreBack();
  int64_t Get(const char* key) const;

  std::optional<ZORVEL_SecureSettings> settings_;
  host::PlistDict printCountInfo_;
  host::PlistDict subInfo_;
  std::string key_;
};

// Counts one day's entry of this station (station 1) or the sibling (0).
void saveToDictionaryFile(const std::filesystem::path& folder, int16_t count, int16_t kind, int16_t jobType,
                          int16_t canvas, int16_t station, const std::string& templateName);
// The bytes of this station's day file of `date` with one entry counted,
// as saveToDictionaryFile counts it; nothing when the store cannot be had.
std::optional<std::vector<uint8_t>> CountedDictionaryBytes(const std::filesystem::path& folder, LongDateTime date,
                                                           int32_t count, int16_t kind, int16_t jobType,
                                                           int16_t canvas, const std::string& templateName);
// Whether the day file of that date and station exists.
bool doesFileExistsAtPath(const std::filesystem::path& folder, LongDateTime date, bool isX);

}  // namespace output
