// The preferences window, its category list and the panel base.
#include "prefs/PreferencesWindow.h"

#include "host/files/FSSpec.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/ViewServer.h"
#include "platform/Choosers.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/StringLists.h"
#include "prefs/FolderAliases.h"
#include "prefs/LegacyPreferences.h"
#include "prefs/PreferencePanels.h"
#include "prefs/PrefStore.h"

int16_t gLastSelectedPreference = 1;

namespace {

constexpr IDType kCate = FourCC("cate"), kText = FourCC("text"), kView = FourCC("view"), kFact = FourCC("fact"),
                 kRvrt = FourCC("rvrt"), kOK = FourCC("ok  ");

struct Category {
  int16_t row;
  int16_t category;
};
// Rows of string list 4000 and their categories (there is no category 5).
constexpr Category kCategories[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 6}, {6, 7}};

int16_t RowOfCategory(int16_t category) {
  for (const Category& c : kCategories)
    if (c.category == category) return c.row;
  return 0;
}

}  // namespace

// ---- TPreferencesView ----

void TPreferencesView::DoPostCreate() {
  TView::DoPostCreate();
  if (TWindow* w = GetWindow()) {
    if (TView* revert = w->FindSubView(kRvrt)) {
      revert->ViewEnable(false);
      revert->DimState(true);
    }
  }
}

void TPreferencesView::CheckIfChanged() {
  TWindow* w = GetWindow();
  TView* revert = w ? w->FindSubView(kRvrt) : nullptr;
  if (!revert) return;
  const bool changed = IsChanged();
  revert->ViewEnable(changed);
  revert->DimState(!changed);
}

void TPreferencesView::WillBeDeleted() {
  if (fDoSave) StoreControls();
}

TPreferencesWindow* TPreferencesView::PrefsWindow() { return dynamic_cast<TPreferencesWindow*>(GetWindow()); }

void TPreferencesView::SetCheck(const char (&id)[5], bool on) {
  if (auto* c = Ctl<TCheckBox>(id)) c->SetState(on, true);
}

std::optional<bool> TPreferencesView::GetCheck(const char (&id)[5]) const {
  if (auto* c = Ctl<TCheckBox>(id)) return c->IsOn();
  return std::nullopt;
}

void TPreferencesView::SetPopup(const char (&id)[5], int16_t item) {
  if (auto* p = Ctl<TPopup>(id)) p->SetCurrentItem(item, true);
}

std::optional<int16_t> TPreferencesView::GetPopup(const char (&id)[5]) const {
  if (auto* p = Ctl<TPopup>(id)) return p->GetCurrentItem();
  return std::nullopt;
}

void TPreferencesView::SetTextOf(const char (&id)[5], const CStr255_AC& text) {
  if (auto* t = Ctl<TStaticText>(id)) t->SetText(text, true);
}

void TPreferencesView::ShowView(const char (&id)[5], bool shown) {
  if (TView* v = FindSubView(FourCC(id))) v->Show(shown, true);
}

void TPreferencesView::EnableView(const char (&id)[5], bool on) {
  if (TView* v = FindSubView(FourCC(id))) v->ViewEnable(on, true);
}

// ---- TPreferencesListView ----

void TPreferencesListView::DoPostCreate() {
  TTextListView::DoPostCreate();
  panel_ = nullptr;
  DeleteAll();
  int16_t rows = 0;
  while (HasIndString(kPreferenceCategoryStrings, int16_t(rows + 1)) &&
         !GetIndString(kPreferenceCategoryStrings, int16_t(rows + 1)).IsEmpty())
    ++rows;
  InsertItemsLast(rows);
  // The remembered row is mapped to its category, so a row that has no
  // panel of its own number never builds one that does not exist.
  int16_t row = gLastSelectedPreference;
  if (row < 1 || row > rows) row = 1;
  if (rows == 0) return;
  PrepareView(GetPrefFromItemText(GetItemText(row)));
  SelectRow(row_ > 0 ? row_ : row);
}

CStr255_AC TPreferencesListView::GetItemText(int16_t row) const {
  if (row < 1 || !HasIndString(kPreferenceCategoryStrings, row)) return CStr255_AC();
  return GetIndString(kPreferenceCategoryStrings, row);
}

void TPreferencesListView::DoMouseCommand(int16_t row, const TToolboxEvent& event) {
  if (row < 1 || row == row_) return;
  SelectRow(row);
  if (event.clickCount == 1) PrepareView(GetPrefFromItemText(GetItemText(row)));
}

int16_t TPreferencesListView::GetPrefFromItemText(const CStr255_AC& text) {
  for (const Category& c : kCategories)
    if (GetIndString(kPreferenceCategoryStrings, c.row) == text) return c.category;
  return 0;
}

void TPreferencesListView::RemoveCurrentPanel() {
  if (!panel_) return;
  TPreferencesView* panel = panel_;
  panel_ = nullptr;
  panel->WillBeDeleted();
  if (TView* container = panel->GetSuperView()) {
    std::unique_ptr<TView> owned = container->RemoveSubView(panel);
    owned.reset();
    container->ForceRedraw();
  }
}

void TPreferencesListView::PrepareView(int16_t category) {
  TWindow* window = GetWindow();
  TView* container = window ? window->FindSubView(kView) : nullptr;
  if (!container) return;
  if (panel_) {
    // The edits of the panel shown so far go into its record, so that
    // switching categories does not lose them; Cancel still reads every
    // record back from the store.
    panel_->SetDoSave(true);
    RemoveCurrentPanel();
  }
  TView* created = nullptr;
  DoCreateViews(int16_t(kPreferencePanelBase + category), container, &created);
  panel_ = dynamic_cast<TPreferencesView*>(created);
  if (created && !panel_) {
    platform::LogF("Preference panel %d is not a preferences view", int(kPreferencePanelBase + category));
    container->RemoveSubView(created);
  }
  if (panel_) panel_->Locate(1, 18);
  if (TView* fact = window->FindSubView(kFact)) {
    fact->Show(true, true);
    fact->ViewEnable(true, true);
  }
  const int16_t row = RowOfCategory(category);
  if (auto* title = window->FindSubView<TStaticText>(kText)) title->SetText(row ? GetItemText(row) : CStr255_AC(), true);
  if (row > 0) {
    row_ = row;
    gLastSelectedPreference = row;
  }
}

// ---- TPreferencesWindow ----

void TPreferencesWindow::DoPostCreate() {
  TWindow::DoPostCreate();
  std::printf("TPreferencesWindow::Activate\n");
}

TPreferencesListView* TPreferencesWindow::CategoryList() const { return FindSubView<TPreferencesListView>(kCate); }

TPreferencesView* TPreferencesWindow::CurrentPanel() const {
  TPreferencesListView* list = CategoryList();
  return list ? list->CurrentPanel() : nullptr;
}

void TPreferencesWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  TPreferencesView* panel = CurrentPanel();
  if (panel && id == kFact) panel->SetFactorySettings();
  if (panel && id == kRvrt) panel->Revert();
  TWindow::DoEvent(eventNumber, source, event);
  // The panel may have gone with a dismissing button.
  panel = CurrentPanel();
  if (panel && (eventNumber == mButtonHit || eventNumber == mCheckBoxHit || eventNumber == mRadioHit ||
                eventNumber == mPopupHit || eventNumber == mSliderHit))
    panel->CheckIfChanged();
}

void TPreferencesWindow::StorePendingAliases() {
  for (const auto& [id, folder] : pendingAliases_) SaveFSSpecAsAliasHandle(folder, id, false);
}

// ---- folders ----

bool getFolderName(int16_t vRefNum, int32_t dirID, CStr255_AC& name, CStr255_AC& volumeName) {
  std::string path;
  const OSErr err = host::GetPathForDirID(vRefNum, dirID, &path);
  if (err != noErr) {
    platform::PrintF("getFolderName1 => PBGetCatInfoSync returned error code = [%i] = [0x%02x]\n\n", int(err),
                     unsigned(uint16_t(err)));
    return false;
  }
  host::VolumeInfo volume;
  std::string last = host::LastPathName(path);
  if (host::GetVolumeInfo(vRefNum, &volume) == noErr) {
    volumeName = CStr255_AC(volume.label);
    // The top of a volume is named after the volume.
    if (dirID == fsRtDirID || last.empty()) last = volume.label;
  }
  name = CStr255_AC(last);
  return true;
}

int32_t OwnFolderID(const tFolderFSSpec& folder) {
  const FSSpec& s = folder.spec;
  if (s.vRefNum == kNoFolderVRefNum || s.parID == kNoFolderDirID) return -1;
  const int32_t id = s.name.IsEmpty() ? s.parID : GetFolderDirID(s);
  if (id == kNoFolderDirID || id <= 0 || !IsExistingDirectory(s.vRefNum, id)) return -1;
  return id;
}

FolderLines UpdateFolderRecord(tFolderFSSpec& live, const tFolderFSSpec& candidate, bool storeAlias,
                               TPreferencesWindow* window) {
  if (&live != &candidate && OwnFolderID(candidate) > 0) {
    const int16_t aliasID = live.aliasID;
    live = candidate;
    live.aliasID = aliasID;
  }
  if (storeAlias && window && OwnFolderID(live) > 0) window->QueueFolderAlias(live.spec, live.aliasID);
  FolderLines lines;
  const int32_t id = OwnFolderID(live);
  if (id > 0 && getFolderName(live.spec.vRefNum, id, lines.folder, lines.volume)) {
    if (lines.folder == lines.volume) lines.folder = "<Root>";
    live.volumeName = CStr31_AC(lines.volume);
    return lines;
  }
  const bool none = live.spec.vRefNum == kNoFolderVRefNum || live.spec.parID == kNoFolderDirID;
  lines.folder = none ? "No directory selected" : "[Can not find directory]";
  lines.volume = live.volumeName;
  return lines;
}

std::optional<tFolderFSSpec> ChooseFolderFor(const tFolderFSSpec& folder, int16_t prompt) {
  int16_t vRefNum = folder.spec.vRefNum;
  int32_t dirID = OwnFolderID(folder);
  if (dirID <= 0) dirID = folder.spec.parID;
  if (!myChooseFolder(vRefNum, dirID, true, prompt)) return std::nullopt;
  CStr255_AC name, volumeName;
  if (!getFolderName(vRefNum, dirID, name, volumeName)) return std::nullopt;
  FSSpec spec;
  if (GetFolderFSSpec(vRefNum, dirID, &spec) != noErr) return std::nullopt;
  tFolderFSSpec chosen = folder;
  chosen.spec = spec;
  chosen.volumeName = CStr31_AC(volumeName);
  return chosen;
}

// ---- the dialog ----

std::optional<std::string> UnwrittenFormatRefusal() {
  for (int16_t n = 1; n <= 8; ++n)
    if (!IsWrittenFileFormat(getMyPrintToFileSetPrefs(n)->fileFormat))
      return platform::StringF("Print To File Set %c (%d) has no file format: choose one for it, then press OK.",
                               char('A' + n - 1), int(n));
  if (!IsWrittenFileFormat(getMyWebUploadPrefs()->fileFormat))
    return std::string("For Web Upload has no file format: choose one for it, then press OK.");
  return std::nullopt;
}

namespace {

// The live records as the store holds them, with their folders found again
// through their aliases.
void ReadRecordsFromTheStore() {
  ReadPreferences();
  validateIfAliasHandle(&getMyProcessedJobsPrefs()->folder);
  validateIfAliasHandle(&getMyPrintToFilePrefs()->folder);
  validateIfAliasHandle(&getMyPrintToCDSetPrefs()->folder);
  validateIfAliasHandle(&getMyPrintServerPrefs()->rootSpec.spec, kSpoolRootAliasID);
}

}  // namespace

bool DoPreferencesDialog(TPrefsServices& services) {
  // Settings imported since the records were read are what the store holds
  // and what the next start reads: the window shows them, so that OK keeps
  // the import instead of saving the older records over it.
  if (StoreChangedBehindTheRecords()) {
    platform::LogLine("The preferences window shows the settings imported since they were last read");
    ReadRecordsFromTheStore();
  }
  TWindow* window = NewTemplateWindow(kPreferencesWindowID);
  auto* prefs = dynamic_cast<TPreferencesWindow*>(window);
  if (!prefs) {
    if (window) window->Close();
    DisplayNormalMessage("The preferences window could not be opened.");
    return false;
  }
  prefs->SetServices(&services);
  // What the store held before OK was pressed: a Cancel after a failed save
  // must not leave the unsaved values behind in it.
  std::optional<host::PlistDict> before;
  bool ok = false;
  for (;;) {
    ok = prefs->PoseModally() == kOK;
    if (!ok) break;
    if (TPreferencesView* panel = prefs->CurrentPanel()) panel->StoreIntoRecord();
    if (const auto refusal = UnwrittenFormatRefusal()) {
      platform::LogLine(*refusal);
      DisplayNormalMessage(*refusal);
      continue;
    }
    if (!before) before = PrefStoreDefaults().dictionaryRepresentation();
    prefs->StorePendingAliases();
    std::string error;
    if (SavePreferences(&error)) break;
    DisplayNormalMessage("The settings could not be saved: " + error +
                         ". They are still shown: press OK to try again, or Cancel.");
  }
  if (TPreferencesListView* list = prefs->CategoryList()) list->RemoveCurrentPanel();
  if (!ok && before) {
    host::UserDefaults& store = PrefStoreDefaults();
    for (const auto& [key, value] : store.dictionaryRepresentation())
      if (!before->count(key)) store.remove(key);
    for (const auto& [key, value] : *before) store.set(key, value);
  }
  prefs->SetServices(nullptr);
  prefs->Close();
  if (!ok) ReadRecordsFromTheStore();
  return true;
}

void RegisterPreferencesClasses() {
  host::RegisterViewClass<TPreferencesWindow>("TPreferencesWindow");
  host::RegisterViewClass<TPreferencesListView>("TPreferencesListView");
  host::RegisterViewClass<TPlainPreferencesView>("TPreferencesView");
  RegisterPreferencePanelClasses();
}

