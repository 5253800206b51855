// The older persistence of the preference records: a preference file
// "KIVO-PROCESSOR v14 Prefs" in the folder "Kivo Preferences" of the user's
// preferences folder ($XDG_CONFIG_HOME), whose resource fork holds the
// records' byte images (little-endian, as the machines that wrote these
// files held them in memory) as resources of type 'Pref':
//
//   1000 "Printserver Prefs"     tPrintServerPrefs          350 bytes
//   1001 "PrintToFile Prefs"     tPrintToFilePrefs          570 bytes
//   1002 "Processed Job Prefs"   tProcessedJobsPrefs        616 bytes
//   1003 "printofile set Prefs"  print-to-file sets 1 to 4  3,928 bytes
//   1004 "printocd set Prefs"    tPrintToCDPref             1,086 bytes
//
// and whose data fork holds only the preferences object's signature. The
// program keeps its settings in the user defaults (prefs/PrefStore.h):
// nothing creates the preference behaviour at start-up, and SavePreferences
// and ReadPreferences go to the user defaults. The document is kept so that
// such a file can still be read and written.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "host/base/PascalString.h"
#include "host/files/File.h"
#include "host/ui/EventHandler.h"

extern const CStr255_AC vCarbonPrefFileName;
extern const CStr255_AC v10PrefFileName;
extern const CStr255_AC v11PrefFileName;
extern const CStr255_AC v12PrefFileName;
extern const CStr255_AC v13PrefFileName;
extern const CStr255_AC v14PrefFileName;
extern const CStr255_AC oldPrefFileName;
extern const CStr255_AC prefFileName;

inline constexpr ResType kPrefResourceType = FourCC("Pref");

// Replaces resource (type, id) of the file's open resource fork by `data`
// named `name`; a null `data` only removes it. Throws CException_AC when the
// fork is not open for writing.
void SaveHandle(TFile& file, const std::vector<uint8_t>* data, int16_t id, const CStr255_AC& name, ResType type);
// Copies at most `length` bytes of resource (type, id) into `record`; leaves
// the record alone when the fork has no such resource. The number of bytes
// copied (0 when none).
size_t ReadStruct(TFile& file, void* record, size_t length, ResType type, int16_t id);

class TPreferenceDocument;

class TPreferences {
 public:
  virtual ~TPreferences() = default;
  virtual OSType GetStandardSignature() const { return FourCC("pref"); }
  virtual void ReadFrom(TFile& file);
  virtual void WriteTo(TFile& file) const;
  virtual std::unique_ptr<TPreferences> Clone() const { return std::make_unique<TPreferences>(*this); }
  void BeInDocument(TPreferenceDocument* document) { document_ = document; }
  TPreferenceDocument* GetDocument() const { return document_; }

 private:
  TPreferenceDocument* document_ = nullptr;
};

class TBackgroundPrintingPrefs : public TPreferences {
 public:
  OSType GetStandardSignature() const override { return FourCC("bgpr"); }
  void ReadFrom(TFile& file) override;
  void WriteTo(TFile& file) const override;
  std::unique_ptr<TPreferences> Clone() const override { return std::make_unique<TBackgroundPrintingPrefs>(*this); }
  // Factory values of the print-server, print-to-file, processed-jobs, set
  // and print-to-CD records.
  void IBackgroundPrintingPrefs();
  // Reads resources 1000 to 1004 into the live records (sets 5 to 8 are
  // left at their factory values).
  void ReadPrefs(TFile& file);
  // Stores resources 1000 to 1004 from the live records.
  void WritePrefs(TFile& file) const;
};

class TPreferenceBehavior;

// The preference file and the preferences object read from it.
class TPreferenceDocument {
 public:
  // Opens (or creates with factory values) the file at `path`, or at
  // PreferenceFilePath() when empty. Throws CException_AC on failure.
  void IPreferenceDocument(TPreferenceBehavior* behavior, const std::filesystem::path& path = {});
  void Save();
  void Read();
  TPreferences* GetPreferences() const { return preferences_.get(); }
  const std::filesystem::path& GetPath() const { return path_; }
  // Menu commands 30, 32, 33 and 34 are never enabled for it.
  static bool IsCommandDisabled(CommandNumber command);

 private:
  TPreferenceBehavior* behavior_ = nullptr;
  std::filesystem::path path_;
  std::unique_ptr<TPreferences> preferences_;
};

class TPreferenceBehavior : public TBehavior {
 public:
  explicit TPreferenceBehavior(const std::filesystem::path& path = {});
  ~TPreferenceBehavior() override;
  TPreferenceDocument* GetPreferenceDocument() const { return document_.get(); }
  virtual std::unique_ptr<TPreferenceDocument> DoMakePreferenceDocument(const std::filesystem::path& path);
  virtual std::unique_ptr<TPreferences> DoMakePreferences();
  TPreferences* GetPreferences() const { return document_ ? document_->GetPreferences() : nullptr; }

 private:
  std::unique_ptr<TPreferenceDocument> document_;
};

class TPrintBGPrefBehavior : public TPreferenceBehavior {
 public:
  using TPreferenceBehavior::TPreferenceBehavior;
  std::unique_ptr<TPreferences> DoMakePreferences() override;
};

// The last preference behaviour made, while it lives.
extern TPreferenceBehavior* pPreferenceManager;

// ":Kivo Preferences:" and prefFileName in the user's preferences folder.
std::filesystem::path PreferenceFilePath();

// The settings' entry points: the user defaults (prefs/PrefStore.h).
// SavePreferences is false when the settings could not be written.
bool SavePreferences(std::string* error = nullptr);
void ReadPreferences();
