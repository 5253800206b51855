// Preference export and import.
#include "prefs/PrefExport.h"

#include <ctime>
#include <set>
#include <system_error>

#include "host/base/MacRoman.h"
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

// "PrintToFileSet N Client List": the set's client list as text, which the
// export writes beside the set's record so that an operator can read and
// change it (the sets panel does not show it); the import puts it into the
// record. The set, else 0.
constexpr const char kClientListSuffix[] = " Client List";
constexpr size_t kClientListCapacity = 255;

std::string ClientListKey(int set) { return PrintToFileSetKey(set) + kClientListSuffix; }

int SetOfClientListKey(const std::string& key) {
  for (int set = 1; set <= 8; ++set)
    if (key == ClientListKey(set)) return set;
  return 0;
}

// The set's record `blob` with its client list replaced by `utf8`; nothing
// when the record does not read or the text does not fit.
std::optional<host::PlistData> WithClientList(const host::PlistData& blob, int set, const std::string& utf8) {
  auto record = DecodePrintToFileSetBlob(blob, int16_t(set));
  const std::string list = host::UTF8ToMacRoman(utf8);
  if (!record || list.size() > kClientListCapacity) return std::nullopt;
  record->editText = CStr255_AC::FromMacRoman(list);
  host::PlistData patched = PrintToFileSetBlob(*record, int16_t(set));
  if (patched.empty()) return std::nullopt;
  return patched;
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
  for (int set = 1; set <= 8; ++set) {
    const auto it = inner.find(PrintToFileSetKey(set));
    const auto record = it != inner.end() && it->second.asData() ? DecodePrintToFileSetBlob(*it->second.asData(), int16_t(set))
                                                                  : std::nullopt;
    if (record) inner[ClientListKey(set)] = host::PlistValue(record->editText.ToUTF8());
  }
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

std::string PrefImportReport::DetailsText() const {
  std::string text;
  if (!movedFolders.empty()) {
    text += "Folders that are now elsewhere:\n";
    for (const auto& [folder, path] : movedFolders) text += "  " + folder + ": " + path + "\n";
  }
  if (!keptFolders.empty()) {
    text += std::string(text.empty() ? "" : "\n") + "Folders that stay where they are (the file names none):\n";
    for (const auto& [folder, path] : keptFolders) text += "  " + folder + ": " + path + "\n";
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
  if (SetOfClientListKey(key)) {
    const std::string* text = value.asString();
    if (!text) return "not a text";
    if (host::UTF8ToMacRoman(*text).size() > kClientListCapacity) return "longer than 255 characters";
    return std::nullopt;
  }
  const bool known = key == kPrintServerPrefKey || SetOfKey(key) || key == kWebUploadPrefsKey ||
                     key == kOutputFilesPrefKey || key == kPrintCenterPrefsKey || key == kPrintToFilePrefKey ||
                     AliasIDOfKey(key);
  if (!known) {
    if (key == "prefEnableRelaunch") return "the start-at-login switch is not taken from a file";
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
  for (const auto& [key, value] : *entry->asDict()) {
    if (auto why = CheckImportedPreference(key, value)) {
      platform::LogF("The preference [%s] was not imported: %s", key.c_str(), why->c_str());
      out.refused.emplace_back(key, *why);
    } else {
      accepted[key] = value;
      out.applied.push_back(key);
      // A folder alias naming another place than the stored one moves
      // that folder.
      if (const int16_t id = AliasIDOfKey(key)) {
        host::AliasRecord alias;
        const host::PlistData& bytes = *value.asData();
        host::AliasRecord::Decode(bytes.data(), bytes.size(), &alias);
        const auto stored = ReadAliasHandle(id);
        if (!stored || stored->path != alias.path) out.movedFolders.emplace_back(FolderOfAlias(id), alias.path);
      }
    }
  }
  // A set's client list goes into the set's record: the one the file
  // brings, else the one stored here.
  for (int set = 1; set <= 8; ++set) {
    const auto list = accepted.find(ClientListKey(set));
    if (list == accepted.end()) continue;
    const std::string text = *list->second.asString();
    accepted.erase(list);
    std::erase(out.applied, ClientListKey(set));
    std::optional<host::PlistValue> record;
    const bool inFile = accepted.contains(PrintToFileSetKey(set));
    if (inFile) record = accepted[PrintToFileSetKey(set)];
    else record = ReadFromMyUserDefaults(PrintToFileSetKey(set));
    const auto patched = record && record->asData() ? WithClientList(*record->asData(), set, text) : std::nullopt;
    if (!patched) {
      out.refused.emplace_back(ClientListKey(set), "no readable record of set " + std::to_string(set) + " to put it in");
      continue;
    }
    if (!inFile) out.applied.push_back(PrintToFileSetKey(set));
    accepted[PrintToFileSetKey(set)] = host::PlistValue(*patched);
  }
  if (accepted.empty() && !out.refused.empty()) return false;
  // A folder the file names no place for stays where this station has it.
  for (const int16_t id : KnownAliasIDs())
    if (!accepted.contains(AliasKey(id)))
      if (const auto stored = ReadAliasHandle(id)) out.keptFolders.emplace_back(FolderOfAlias(id), stored->path);
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
