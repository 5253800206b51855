// The panels of the preferences window, one per category, each built from
// its view resource (1041 to 1047) and bound to one live preference record
// by the four-character identifiers of its controls. Each keeps a snapshot of
// its record from when it was made, for Revert.
#pragma once

#include <array>

#include "prefs/PreferencesWindow.h"

// Prompt items of string list 4112.
inline constexpr int16_t kSpoolRootPrompt = 9;
inline constexpr int16_t kOutputFolderPrompt = 23;
inline constexpr int16_t kPrintCenterPrompt = 34;
// The copy-to-sets dialog.
inline constexpr int16_t kCopyToSetsWindowID = 1007;

// "General Settings": the spool roots and the pipeline's switches.
class TPrintServerPrefs : public TPreferencesView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override;
  void ViewsEnable(bool on) override;
  void SetSettings(const tPrintServerPrefs* record);

 protected:
  void StoreControls() override;

 private:
  void ChooseRoot(bool second);
  void ShowRoot(bool second);
  tPrintServerPrefs snapshot_;
};

// Shared by the panels of folder records: the folder lines 'fldr'/'volu'
// and the folder button 'chng'.
class TFolderPrefsView : public TPreferencesView {
 protected:
  // The class name the folder lines are logged under; null for the panels
  // that do not log their folder lines.
  virtual const char* FolderLogName() const = 0;
  // Shows `live` (after taking `candidate`, see UpdateFolderRecord).
  void UpdateFolderString(tFolderFSSpec& live, const tFolderFSSpec& candidate, bool storeAlias);
  // Runs the chooser for `live` and takes the folder chosen.
  void ChooseFolder(tFolderFSSpec& live, int16_t prompt);
  // The controls shared by a set and the web-upload record.
  void ShowSpecialCommon(const tSpecialPrintToFilePref& record);
  void ReadSpecialCommon(tSpecialPrintToFilePref& record) const;
  void EnableCommon(bool on);
  // 'exte' takes the extension of the format chosen in 'frmt'.
  void FillExtensionFromFormat();
};

// "Print To File": the single print-to-file route's folder and its two
// switches. Its format, extension, naming and prefix are shown dimmed, with a
// note that each job's own print-to-file settings decide them.
class TPrintToFilePrefs : public TFolderPrefsView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override { return false; }
  void ViewsEnable(bool on) override;
  void SetSettings(const tPrintToFilePrefs* record);

 protected:
  void StoreControls() override;

 private:
  const char* FolderLogName() const override { return nullptr; }
  tPrintToFilePrefs snapshot_;
};

// "Kivo-Print Center": the hand-off folder and form.
class TProcessedJobsPrefs : public TFolderPrefsView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override;
  void ViewsEnable(bool on) override;
  void SetSettings(const tProcessedJobsPrefs* record);

 protected:
  void StoreControls() override;

 private:
  const char* FolderLogName() const override { return nullptr; }
  tProcessedJobsPrefs snapshot_;
};

// "Print To File Sets": the eight sets, one shown at a time (popup 'path').
class TPrintToFileSetPrefs : public TFolderPrefsView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override { return false; }
  void ViewsEnable(bool on) override { EnableCommon(on); }
  void SetSettings(const tSpecialPrintToFilePref* record);
  // Reads the controls into set `set`'s live record.
  void GetSettings(int16_t set);
  int16_t ShownSet() const { return set_; }
  // Shows set `set` (1-8) after storing the one shown so far.
  void ShowSet(int16_t set);
  // The copy-to-sets dialog for the set shown.
  void DoCopyToSetsDialog();

 protected:
  void StoreControls() override { GetSettings(set_); }

 private:
  const char* FolderLogName() const override { return "TPrintToFileSetPrefs"; }
  void PlaceByFormat(const tSpecialPrintToFilePref& record, int16_t format);
  void PlaceByNaming(int16_t namingType);
  int16_t set_ = 1;
  std::array<tSpecialPrintToFilePref, 8> snapshot_{};
};

// "Output Files": the JPEG quality of web copies.
class TOutputFilePrefs : public TPreferencesView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override { return true; }
  // The quality field is never dimmed.
  void ViewsEnable(bool) override {}
  void SetSettings(const tOutputFilePrefs* record);

 protected:
  void StoreControls() override;

 private:
  tOutputFilePrefs snapshot_;
};

// "For Web Upload": the web-upload record.
class TWebUploadPrefs : public TFolderPrefsView {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void SetFactorySettings() override;
  void Revert() override;
  bool IsChanged() override { return false; }
  void ViewsEnable(bool on) override { EnableCommon(on); }
  void SetSettings(const tSpecialPrintToFilePref* record);
  void GetSettings();

 protected:
  void StoreControls() override { GetSettings(); }

 private:
  const char* FolderLogName() const override { return "TWebUploadPrefs"; }
  tSpecialPrintToFilePref snapshot_;
};

void RegisterPreferencePanelClasses();
