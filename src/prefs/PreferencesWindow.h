// The preferences window (view resource 1002): the category list 'cate', the
// title 'text', the panel container 'view' and the buttons 'ok  ', 'canc',
// 'fact' (factory settings) and 'rvrt' (revert). One panel is shown at a
// time, built from view resource 1040 + its category:
//
//   row  text                  category  panel
//   1    "General Settings"    1         TPrintServerPrefs
//   2    "Print To File"       2         TPrintToFilePrefs
//   3    "Kivo-Print Center"   3         TProcessedJobsPrefs
//   4    "Print To File Sets"  4         TPrintToFileSetPrefs
//   5    "Output Files"        6         TOutputFilePrefs
//   6    "For Web Upload"      7         TWebUploadPrefs
//
// Edits live in the panel's controls until the panel goes away: switching
// to another category stores them into the live records (so they are kept),
// OK stores the shown panel and saves every record, Cancel reads every
// record back from the store. Folder choices go into the live records at
// once, but their aliases are only stored with OK, so Cancel undoes them.
#pragma once

#include <map>
#include <optional>

#include "host/files/FSSpec.h"
#include "host/ui/Controls.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefsServices.h"

inline constexpr int16_t kPreferencesWindowID = 1002;
inline constexpr int16_t kPreferencePanelBase = 1040;

// The list row shown last; the window opens on it (1 at program start).
extern int16_t gLastSelectedPreference;

class TPreferencesWindow;

// The base of every panel. The panel's top view carries the identifier 'dtel'.
// Every panel says what its factory settings, revert, change test, enabling
// and storing do; TPlainPreferencesView is the panel without settings.
class TPreferencesView : public TView {
 public:
  void SetDoSave(bool on) { fDoSave = on; }
  bool GetDoSave() const { return fDoSave; }

  void DoPostCreate() override;
  virtual void SetFactorySettings() = 0;
  virtual void Revert() = 0;
  // Enables the window's revert button when IsChanged, else disables it.
  void CheckIfChanged();
  virtual bool IsChanged() = 0;
  virtual void ViewsEnable(bool on) = 0;
  // Called just before the panel is deleted: with fDoSave set, the panel
  // reads its controls back into its live record.
  void WillBeDeleted();
  // Reads the controls into the live record now; the panel stays shown.
  void StoreIntoRecord() { StoreControls(); }

 protected:
  // Reads the controls into the live record (only called when saving).
  virtual void StoreControls() = 0;
  TPreferencesWindow* PrefsWindow();
  template <class T>
  T* Ctl(const char (&id)[5]) const { return FindSubView<T>(FourCC(id)); }
  // Small helpers for the controls that may or may not be in the resource.
  void SetCheck(const char (&id)[5], bool on);
  std::optional<bool> GetCheck(const char (&id)[5]) const;
  void SetPopup(const char (&id)[5], int16_t item);
  std::optional<int16_t> GetPopup(const char (&id)[5]) const;
  void SetTextOf(const char (&id)[5], const CStr255_AC& text);
  void ShowView(const char (&id)[5], bool shown);
  void EnableView(const char (&id)[5], bool on);

 private:
  bool fDoSave = false;
};

// The plain panel (view 1040, category 0, registered under the resource's
// class name "TPreferencesView"): it holds no settings, so factory settings,
// revert, enabling and storing have nothing to do, and its revert button
// stays enabled as the base panel's always was.
class TPlainPreferencesView final : public TPreferencesView {
 public:
  void SetFactorySettings() override {}
  void Revert() override {}
  bool IsChanged() override { return true; }
  void ViewsEnable(bool) override {}

 protected:
  void StoreControls() override {}
};

// The category list.
class TPreferencesListView : public TTextListView {
 public:
  void DoPostCreate() override;
  CStr255_AC GetItemText(int16_t row) const override;
  void DoMouseCommand(int16_t row, const TToolboxEvent& event) override;
  // The category of a row text; 0 for a text outside the table.
  static int16_t GetPrefFromItemText(const CStr255_AC& text);
  // Shows the panel of a category in the container 'view'; the panel shown
  // before stores its edits into its record first.
  void PrepareView(int16_t category);
  bool checkIfOptionAvailable(int16_t) const { return true; }
  void DisableViews() {}
  TPreferencesView* CurrentPanel() const { return panel_; }
  int16_t CurrentRow() const { return row_; }
  // Takes the shown panel out and deletes it (it stores its controls first
  // when its save switch is on).
  void RemoveCurrentPanel();

 private:
  TPreferencesView* panel_ = nullptr;
  int16_t row_ = 0;
};

class TPreferencesWindow : public TWindow {
 public:
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void DoPostCreate() override;
  TPreferencesListView* CategoryList() const;
  TPreferencesView* CurrentPanel() const;

  void SetServices(TPrefsServices* services) { services_ = services; }
  TPrefsServices* Services() const { return services_; }

  // A folder chosen in a panel: its alias is stored with OK, not before.
  void QueueFolderAlias(const FSSpec& folder, int16_t aliasID) { pendingAliases_[aliasID] = folder; }
  const std::map<int16_t, FSSpec>& PendingAliases() const { return pendingAliases_; }
  // Puts the chosen folders' aliases into the store (written with the
  // records by the save that follows).
  void StorePendingAliases();

 private:
  TPrefsServices* services_ = nullptr;
  std::map<int16_t, FSSpec> pendingAliases_;
};

// The folder's own name and its volume's name; false when the folder
// (vRefNum, dirID) cannot be found.
bool getFolderName(int16_t vRefNum, int32_t dirID, CStr255_AC& name, CStr255_AC& volumeName);

// The two lines a folder panel shows for a folder record.
struct FolderLines {
  CStr255_AC folder;
  CStr255_AC volume;
};
// The folder record's folder's own directory id, or -1 when it names none.
int32_t OwnFolderID(const tFolderFSSpec& folder);
// How a folder panel takes a folder: when `candidate` names an existing
// folder it becomes `live` (its alias queued in `window` when `storeAlias`);
// then the lines describe `live`: its name ("<Root>" for the top of a
// volume) and volume name (also put into live.volumeName), else
// "No directory selected" for a folder never chosen, "[Can not find
// directory]" for one that is gone.
FolderLines UpdateFolderRecord(tFolderFSSpec& live, const tFolderFSSpec& candidate, bool storeAlias,
                               TPreferencesWindow* window);
// Runs the folder chooser starting at `folder` with prompt item `prompt`;
// the chosen folder as a record (a copy of `folder` with the new place).
std::optional<tFolderFSSpec> ChooseFolderFor(const tFolderFSSpec& folder, int16_t prompt);

// Why OK cannot save: the first print-to-file set (or the web-upload record)
// whose format no route writes, named, such as "(none)"; nothing when every
// format is written.
std::optional<std::string> UnwrittenFormatRefusal();

// Menu command 1001: runs the window modally; OK stores the shown panel and
// saves every record and the chosen folders' aliases, Cancel reads every
// record back and finds the stored folders again. OK refuses a set whose
// format no route writes, naming it. When the settings cannot
// be written, OK tells the operator why and the window stays open with its
// values (OK tries again, Cancel gives them up). False when the window
// could not be made.
bool DoPreferencesDialog(TPrefsServices& services);

// Registers the window's and panels' classes with the view server. Their
// view resources (1002, 1007, 1040 to 1047) are the application's.
void RegisterPreferencesClasses();
