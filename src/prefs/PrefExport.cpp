// Preference export and import.
#include "prefs/PrefExport.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <system_error>

#include "host/files/Alias.h"
#include "host/files/FinderInfo.h"
#include "host/sys/Folders.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Alerts.h"
#include "host/ui/FileDialogs.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/ProgramVersion.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefStore.h"
#include "prefs/ReadablePrefs.h"

namespace fs = std::filesystem;

namespace {

constexpr OSType kAppCreator = FourCC("ZRVb");
constexpr int16_t kPrefsImportedAlert = 1025;
constexpr size_t kMaxAliasBytes = 64 * 1024;
constexpr int kFirstExportedAlias = 4500, kLastExportedAlias = 4560;

// The keys export writes, in order.
std::vector<std::string> ExportedKeys() {
  std::vector<std::string> keys{kPrintServerPrefKey};
  for (int set = 1; set <= 8; ++set) keys.push_back(PrintToFileSetKey(set));
  for (int id = kFirstExportedAlias; id <= kLastExportedAlias; ++id) keys.push_back(AliasKey(int16_t(id)));
  // The web-upload folder's alias lies above that range; it travels with
  // the other folders, so that an importing station's web copies go where
  // the exporting station's went.
  keys.push_back(AliasKey(kWebUploadAliasID));
  keys.push_back(kWebUploadPrefsKey);
  keys.push_back(kOutputFilesPrefKey);
  keys.push_back(kPrintToFilePrefKey);
  // The print-centre record: its hand-off form ("Hand off a JPEG and a
  // property list") is set in the window like every other travelling value.
  keys.push_back(kPrintCenterPrefsKey);
  return keys;
}

const std::set<int16_t>& KnownAliasIDs() {
  static const std::set<int16_t> ids = {kPrintToFileAliasID, kProcessedJobsAliasID, kSpoolRootAliasID,
                                        kSecondSpoolRootAliasID, 4511, 4512, 4513, 4514, 4515, 4516, 4517, 4518,
                                        kPrintToCDAliasID, kPrintToCDSecondAliasID, kWebUploadAliasID};
  return ids;
}

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

// The first of `switches` in `record` that is neither 0 nor 1, named; the
// same lists repair a stored record when it is read.
template <class Record>
std::optional<std::string> CheckSwitches(Record record, std::span<const tRecordSwitch<Record>> switches) {
  for (const tRecordSwitch<Record>& s : switches) {
    const int16_t value = s.field(record);
    if (value != 0 && value != 1) return std::string("switch ") + s.name + " out of range";
  }
  return std::nullopt;
}

// The fields a set and the web-upload record share.
std::optional<std::string> CheckSpecial(const tSpecialPrintToFilePref& r) {
  if (auto why = CheckSwitches(r, SpecialPrintToFileSwitches())) return why;
  if (!InRange(r.orientation, 1, 2)) return "orientation out of range";
  if (!InRange(r.rotation, 1, 2)) return "rotation out of range";
  if (!InRange(r.fileFormat, kFormatTIFF, kFormatJPEGForWeb)) return "file format out of range";
  if (!InRange(r.namingType, 1, 8)) return "naming type out of range";
  return std::nullopt;
}

// "PrintToFileSet N" with N written as the store writes it: the set, else 0.
int SetOfKey(const std::string& key) {
  for (int set = 1; set <= 8; ++set)
    if (key == PrintToFileSetKey(set)) return set;
  return 0;
}

int16_t AliasIDOfKey(const std::string& key) {
  for (int16_t id : KnownAliasIDs())
    if (key == AliasKey(id)) return id;
  return 0;
}

// What a folder alias stands for, in the operator's words.
std::string FolderOfAlias(int16_t id) {
  switch (id) {
    case kPrintToFileAliasID: return "the print-to-file folder";
    case kProcessedJobsAliasID: return "the print-centre folder";
    case kSpoolRootAliasID: return "the spool folder";
    case kSecondSpoolRootAliasID: return "the second spool folder";
    case kPrintToCDAliasID:
    case kPrintToCDSecondAliasID: return "a print-to-CD folder";
    case kWebUploadAliasID: return "the web-upload folder";
    default: return "the folder of print-to-file set " + std::to_string(id - kPrintToFileSetAliasBase);
  }
}

// `path` relative to `folder` when it is `folder` or lies beneath it.
std::optional<fs::path> Beneath(const fs::path& path, const fs::path& folder) {
  const auto parts = [](const fs::path& p) {
    std::vector<fs::path> out;
    for (const fs::path& part : p.lexically_normal())
      if (!part.empty()) out.push_back(part);
    return out;
  };
  const std::vector<fs::path> p = parts(path), f = parts(folder);
  if (p.size() < f.size() || !std::equal(f.begin(), f.end(), p.begin())) return std::nullopt;
  fs::path relative;
  for (size_t i = f.size(); i < p.size(); ++i) relative /= p[i];
  return relative;
}

// Where a folder alias of the file puts that folder on this station, given
// the exporting station's application folder (when the file names it): the
// same place beneath this station's application folder for a folder beneath
// the exporting station's, else the folder itself where it exists here (an
// alias also finds its folder on a volume mounted elsewhere). Nothing, with
// the reason in `why`, when this station has no such folder. `remade` tells
// that the alias must be made again for the new place.
std::optional<std::string> PlaceOnThisStation(const host::AliasRecord& alias,
                                              const std::optional<fs::path>& exportingApplicationFolder,
                                              bool* remade, std::string* why) {
  std::error_code ec;
  *remade = false;
  if (exportingApplicationFolder)
    if (const auto relative = Beneath(alias.path, *exportingApplicationFolder)) {
      const fs::path here = (host::applicationFolderPath() / *relative).lexically_normal();
      const std::string place = relative->empty() ? host::applicationFolderPath().string() : here.string();
      if (fs::is_directory(place, ec)) {
        *remade = place != alias.path;
        return place;
      }
      *why = alias.path + " lies in the exporting station's application folder, and this station has no " + place;
      return std::nullopt;
    }
  std::string found;
  if (host::ResolveAlias(alias, &found) == noErr && fs::is_directory(found, ec)) return found;
  *why = alias.path + " does not exist on this station";
  return std::nullopt;
}

std::string Today(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  return std::strftime(buf, sizeof buf, format, &tm) ? buf : "";
}

}  // namespace

// ---- export ----

fs::path PreferenceFilesFolder() {
  const fs::path folder = host::applicationFolder() / fs::u8path("KIVO PREFERENCES FOLDER ƒ");
  platform::LogF("NSBundle mainBundle:bundlePath [%s]", host::applicationFolder().string().c_str());
  return folder;
}

std::string ProposedPreferenceFileName() {
  return std::string("Kivo-Processor ") + platform::ProgramVersion() + " On" + Today(" %Y-%m-%d");
}

std::optional<host::PlistDict> CopyUserPreferencesToDictionary() {
  platform::LogF("CopyUserPreferencesToDictionary for [%s]", kPrefsDictionaryName);
  const host::PlistDict stored = PrefStoreDefaults().dictionaryRepresentation();
  host::PlistDict inner;
  for (const std::string& key : ExportedKeys())
    if (auto it = stored.find(key); it != stored.end()) inner[key] = it->second;
  // Beside each record's blob, every value the window offers as a readable
  // key of its own, for an operator without a display to change.
  host::PlistDict readable;
  for (const auto& [key, value] : inner)
    if (const host::PlistData* blob = value.asData()) readable.merge(ReadableSettingsOf(key, *blob));
  inner.merge(readable);
  // The folders travel as places relative to this station's application folder.
  if (std::ranges::any_of(inner, [](const auto& entry) { return AliasIDOfKey(entry.first) != 0; }))
    inner[kExportingApplicationFolderKey] = host::PlistValue(host::applicationFolderPath().string());
  host::PlistDict top;
  top[kPrefsDictionaryName] = host::PlistValue(std::move(inner));
  return top;
}

bool SaveToNewPreferencesFile(const fs::path& path) {
  auto dictionary = CopyUserPreferencesToDictionary();
  if (!dictionary || path.empty()) return false;
  std::string error;
  if (!host::writePropertyListFile(path, host::PlistValue(std::move(*dictionary)), host::PlistFormat::Xml, &error)) {
    platform::LogF("The preference file [%s] could not be written: %s", path.string().c_str(), error.c_str());
    return false;
  }
  host::FinderInfo info;
  host::GetFinderInfo(path.string(), &info);
  info.creator = kAppCreator;
  host::SetFinderInfo(path.string(), info);
  return true;
}

bool SaveToNewPreferencesFile() {
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kSaveFile;
  r.title = "Save Preferences to File...";
  r.message = "Please Enter the Name of the Preference File to Save...";
  r.startFolder = PreferenceFilesFolder();
  r.defaultName = ProposedPreferenceFileName() + ".plist";
  r.extensions = {"plist"};
  auto answer = host::RunFileDialog(r);
  if (!answer) return false;
  const fs::path path = answer->path;
  platform::LogF("SaveToNewPreferencesFile => New PrefName is [%s]", path.string().c_str());
  if (!SaveToNewPreferencesFile(path)) {
    // The operator must not believe the settings were saved.
    DisplayNormalMessage("The preference file could not be written:\r" + path.string());
    return false;
  }
  DisplayNormalMessage("Preference File Saved at:\r" + path.string());
  return true;
}

// ---- import ----

std::string PrefImportReport::RefusedText() const {
  std::string text;
  for (const auto& [key, why] : refused) text += (text.empty() ? "" : "; ") + key + " (" + why + ")";
  return text;
}

std::string PrefImportReport::KeptFolder::Text() const {
  return "stays " + (path.empty() ? std::string("this station's own") : path) + " (" + why + ")";
}

std::string PrefImportReport::DetailsText() const {
  std::string text;
  if (!movedFolders.empty()) {
    text += "Folders that are now elsewhere:\n";
    for (const auto& [folder, path] : movedFolders) text += "  " + folder + ": " + path + "\n";
  }
  if (!keptFolders.empty()) {
    text += std::string(text.empty() ? "" : "\n") + "Folders that stay this station's own:\n";
    for (const KeptFolder& kept : keptFolders) text += "  " + kept.folder + " " + kept.Text() + "\n";
  }
  if (!refused.empty()) {
    text += std::string(text.empty() ? "" : "\n") + "Not imported:\n";
    for (const auto& [key, why] : refused) text += "  " + key + " (" + why + ")\n";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::optional<std::string> CheckImportedPreference(const std::string& key, const host::PlistValue& value) {
  const host::PlistData* data = value.asData();
  if (!RecordOfReadableKey(key).empty()) return CheckReadableSetting(key, value);
  if (key == kExportingApplicationFolderKey) {
    const std::string* path = value.asString();
    if (!path || !fs::path(*path).is_absolute()) return "not an absolute folder path";
    return std::nullopt;
  }
  const bool known = key == kPrintServerPrefKey || SetOfKey(key) || key == kWebUploadPrefsKey ||
                     key == kOutputFilesPrefKey || key == kPrintCenterPrefsKey || key == kPrintToFilePrefKey ||
                     AliasIDOfKey(key);
  if (!known) {
    if (key == "prefEnableRelaunch") return "the start-at-login switch is not taken from a file";
    if (HasReadablePrefix(key)) return "no setting of that name (the names are those an export writes)";
    return "not a preference of this program";
  }
  if (!data) return "not data";
  if (const int16_t id = AliasIDOfKey(key)) {
    host::AliasRecord alias;
    if (data->size() > kMaxAliasBytes || host::AliasRecord::Decode(data->data(), data->size(), &alias) != noErr)
      return "not a folder alias";
    return std::nullopt;
  }
  if (key == kPrintServerPrefKey) {
    auto r = DecodePrintServerBlob(*data);
    if (!r) return "not a 350-byte print-server record";
    return CheckSwitches(*r, PrintServerSwitches());
  }
  if (const int set = SetOfKey(key)) {
    auto r = DecodePrintToFileSetBlob(*data, int16_t(set));
    if (!r) return "not a 982-byte set record";
    if (r->folder.aliasID != kPrintToFileSetAliasBase + set) return "folder alias id of another set";
    if (auto why = CheckSpecial(*r)) return why;
    if (auto why = CheckSwitches(*r, PrintToFileSetSwitches())) return why;
    if (r->maxSize < 1) return "maximum size out of range";
    if (!InRange(r->ftpSite, 1, 5)) return "upload site out of range";
    return std::nullopt;
  }
  if (key == kWebUploadPrefsKey) {
    auto r = DecodeWebUploadBlob(*data);
    if (!r) return "not a 982-byte web-upload record";
    return CheckSpecial(*r);
  }
  if (key == kOutputFilesPrefKey) {
    auto r = DecodeOutputFileBlob(*data);
    if (!r) return "not a 260-byte output-files record";
    if (!InRange(r->jpegQuality, 10, 100) || !InRange(r->secondQuality, 1, 100)) return "quality out of range";
    return std::nullopt;
  }
  if (key == kPrintCenterPrefsKey) {
    auto r = DecodeProcessedJobsBlob(*data);
    if (!r) return "not a 616-byte print-centre record";
    if (r->folder.aliasID != kProcessedJobsAliasID) return "folder alias id of another folder";
    return CheckSwitches(*r, ProcessedJobsSwitches());
  }
  // The print-to-file switches.
  auto r = DecodePrintToFileBlob(*data);
  if (!r) return "not a 570-byte print-to-file record";
  return CheckSwitches(*r, PrintToFileSwitches());
}

bool CopyToUserDefaultsObjectForKey(const host::PlistDict& dictionary, const std::string& key, bool force) {
  if (force) platform::LogLine("CopyToUserDefaultsObjectForAllKeys has forceCopy = true...");
  if (!force && ReadFromMyUserDefaults(key)) return true;
  auto it = dictionary.find(key);
  if (it == dictionary.end()) return true;
  WriteToMyUserDefaults(it->second, key, false);
  platform::LogF("setObject forKey = [%s]", key.c_str());
  return true;
}

bool CopyToUserDefaultsObjectForAllKeys(const host::PlistDict& dictionary, bool force) {
  for (const auto& [key, value] : dictionary) CopyToUserDefaultsObjectForKey(dictionary, key, force);
  if (!dictionary.empty()) NoteStoreChangedBehindTheRecords();
  SynchronizeMyUserDefaults();
  return true;
}

bool LoadFromNewPreferencesFile2(const fs::path& path, bool force, PrefImportReport* report) {
  PrefImportReport local;
  PrefImportReport& out = report ? *report : local;
  out = {};
  platform::LogF("Inside LoadFromNewPreferencesFile(NSString *selectedFile) => [%s]", path.string().c_str());
  if (path.empty()) {
    platform::LogF("LoadFromNewPreferencesFile ( NSString *selectedFile ) is NOT Found?? => [%s]", "");
    return false;
  }
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    platform::LogLine("LoadFromNewPreferencesFile => fileAttributes is NIL???");
    out.notAnExport = "it is not a file that can be read";
    return false;
  }
  host::FinderInfo info;
  host::GetFinderInfo(path.string(), &info);
  platform::LogF("NSFileHFSCreatorCode is [%s]!!!", FourCCToString(info.creator).c_str());
  platform::LogF("NSString Version is: [%x] = [%i]", unsigned(info.creator), int(info.creator));
  platform::LogLine(info.creator == kAppCreator ? "GOT the Correct Creator Code for this Preference File..."
                                                : "This Preference File Was NOT Created with this App??????...");
  // A preference file is small; anything this large is not one.
  host::PlistLimits limits;
  limits.maxBytes = 16u << 20;
  limits.maxDepth = 16;
  std::string error;
  auto top = host::readPropertyListFile(path, &error, limits);
  if (!top || !top->asDict()) {
    platform::LogF("Did NOT Get the MAIN dictionary for file: [%s]", path.string().c_str());
    out.notAnExport = top ? "it holds no dictionary"
                          : "it is not a property list of at most 16 MB and 16 levels (" + error + ")";
    return false;
  }
  const host::PlistValue* entry = top->find(kPrefsDictionaryName);
  if (!entry || !entry->asDict()) {
    platform::LogF("Did NOT Get the dictionary for [%s]", kPrefsDictionaryName);
    out.notAnExport = std::string("it holds no \"") + kPrefsDictionaryName + "\"";
    return false;
  }
  platform::LogF("Got the dictionary for [%s]", kPrefsDictionaryName);
  host::PlistDict accepted;
  // The readable settings, by the key of the record they go into.
  std::map<std::string, host::PlistDict> settings;
  std::optional<fs::path> exportingApplicationFolder;
  for (const auto& [key, value] : *entry->asDict()) {
    if (auto why = CheckImportedPreference(key, value)) {
      platform::LogF("The preference [%s] was not imported: %s", key.c_str(), why->c_str());
      out.refused.emplace_back(key, *why);
    } else if (const std::string record = RecordOfReadableKey(key); !record.empty()) {
      settings[record][key] = value;
    } else if (key == kExportingApplicationFolderKey) {
      exportingApplicationFolder = fs::path(*value.asString());
    } else {
      accepted[key] = value;
      out.applied.push_back(key);
    }
  }
  // Each folder alias puts its folder where that place is on this station;
  // one naming no folder here is not taken, and the folder stays this
  // station's own. An alias naming another place than the stored one moves
  // that folder.
  for (auto it = accepted.begin(); it != accepted.end();) {
    const int16_t id = AliasIDOfKey(it->first);
    if (!id) {
      ++it;
      continue;
    }
    host::AliasRecord alias;
    const host::PlistData& bytes = *it->second.asData();
    host::AliasRecord::Decode(bytes.data(), bytes.size(), &alias);
    const auto stored = ReadAliasHandle(id);
    bool remade = false;
    std::string why;
    const auto place = PlaceOnThisStation(alias, exportingApplicationFolder, &remade, &why);
    if (place && remade && host::NewAlias(*place, &alias) != noErr) why = "no alias could be made of " + *place;
    if (!place || !why.empty()) {
      platform::LogF("The folder alias [%s] was not imported: %s", it->first.c_str(), why.c_str());
      out.keptFolders.push_back({FolderOfAlias(id), stored ? stored->path : std::string(), why});
      std::erase(out.applied, it->first);
      it = accepted.erase(it);
      continue;
    }
    if (remade) it->second = host::PlistValue(alias.Encode());
    if (!stored || stored->path != *place) out.movedFolders.emplace_back(FolderOfAlias(id), *place);
    ++it;
  }
  // The readable settings go into their record and win over its blob: the
  // blob the file brings, else the one stored here, else the record's
  // factory values (a file an operator wrote with a few settings alone).
  for (const auto& [record, named] : settings) {
    std::optional<host::PlistData> patched;
    const bool inFile = accepted.contains(record);
    if (inFile) patched = WithReadableSettings(record, *accepted[record].asData(), named);
    if (!patched)
      if (const auto stored = ReadFromMyUserDefaults(record); stored && stored->asData())
        patched = WithReadableSettings(record, *stored->asData(), named);
    if (!patched) patched = WithReadableSettings(record, FactoryRecordBlob(record), named);
    std::optional<std::string> why = patched ? CheckImportedPreference(record, host::PlistValue(*patched))
                                             : std::optional<std::string>("the record does not read");
    if (why) {
      for (const auto& [key, value] : named) out.refused.emplace_back(key, "with it the record is refused: " + *why);
      continue;
    }
    if (!inFile) out.applied.push_back(record);
    accepted[record] = host::PlistValue(std::move(*patched));
  }
  if (accepted.empty() && !out.refused.empty()) return false;
  // A folder the file names no place for stays where this station has it.
  for (const int16_t id : KnownAliasIDs())
    if (!accepted.contains(AliasKey(id)) && !entry->asDict()->contains(AliasKey(id)))
      if (const auto stored = ReadAliasHandle(id))
        out.keptFolders.push_back({FolderOfAlias(id), stored->path, "the file names no place for it"});
  return CopyToUserDefaultsObjectForAllKeys(accepted, force);
}

bool ImportPreferencesAndTell() {
  PrefImportReport report;
  const bool imported = LoadFromNewPreferencesFile(&report);
  if (!imported) {
    if (!report.notAnExport.empty()) {
      host::SetAlertDetails("The file cannot be imported: " + report.notAnExport + ".");
      DisplayNormalMessage("The file is not a preference file of Kivo-Processor. Nothing was imported.");
    } else if (!report.refused.empty()) {
      host::SetAlertDetails(report.DetailsText());
      DisplayNormalMessage("Nothing was imported from the preference file: every setting in it was refused.");
    }
    // Where no alert showed the message, its details must not reach the next one.
    host::SetAlertDetails({});
    return false;
  }
  std::string summary;
  if (const size_t n = report.movedFolders.size())
    summary += "\n\nThe import changes where " + std::string(n == 1 ? "one folder is" : std::to_string(n) + " folders are") +
               " (see the list below).";
  if (const size_t n = report.refused.size())
    summary += "\n\n" + std::string(n == 1 ? "One setting was" : std::to_string(n) + " settings were") +
               " not imported (see the list below).";
  ParamText(CStr255_AC(summary));
  host::SetAlertDetails(report.DetailsText());
  return MacAppAlert(kPrefsImportedAlert) == 1;
}

bool LoadFromNewPreferencesFile(PrefImportReport* report) {
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kOpenFile;
  r.title = "Load Preferences";
  r.message = "Please Choose the Pref File to LOAD From...";
  r.startFolder = PreferenceFilesFolder();
  r.extensions = {"plist"};
  auto answer = host::RunFileDialog(r);
  if (!answer || answer->path.empty()) return false;
  platform::LogF("User Selected FileName [%s]", answer->path.string().c_str());
  return LoadFromNewPreferencesFile2(answer->path, true, report);
}
