// The preference panels.
#include "prefs/PreferencePanels.h"

#include <algorithm>

#include "host/files/FSSpec.h"
#include "host/ui/ViewServer.h"
#include "platform/Choosers.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"

namespace {

IDType SourceID(TEventHandler* source) {
  auto* view = dynamic_cast<TView*>(source);
  return view ? view->GetIdentifier() : kNoIdentifier;
}

// Popup 'rota': item 1 is rotation 2, item 2 is rotation 1.
int16_t RotationItem(int16_t rotation) { return rotation == 2 ? 1 : 2; }
int16_t RotationOfItem(int16_t item) { return item == 1 ? 2 : 1; }

// A value the copy-to-sets choice shows: 2..9 ask for a copy into set v - 1,
// anything else for none (item 1).
int16_t CopyToSetItem(int16_t value) { return value >= 2 && value <= 9 ? value : 1; }

}  // namespace

// ---- General Settings ----

void TPrintServerPrefs::SetSettings(const tPrintServerPrefs* r) {
  SetCheck("enbp", r->enableBackground != 0);
  SetCheck("ausq", r->autoStart != 0);
  SetCheck("blck", r->blckSwitch != 0);
  SetCheck("dljf", r->keepJobFiles == 0);
  SetCheck("dual", r->dualSwitch != 0);
  SetCheck("scan", r->fullRescan != 0);
  SetCheck("hima", r->hideImage != 0);
  SetCheck("t3am", r->t3amSwitch != 0);
  SetCheck("dem5", r->askOnFailedJob != 0);
}

void TPrintServerPrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  snapshot_ = *getMyPrintServerPrefs();
  SetSettings(getMyPrintServerPrefs());
  ShowRoot(false);
  if (FindSubView(FourCC("chp2"))) ShowRoot(true);
}

void TPrintServerPrefs::ShowRoot(bool second) {
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  const int16_t vRefNum = second ? p.secondRootVRefNum : p.rootVRefNum;
  const int32_t dirID = second ? p.secondRootDirID : p.rootDirID;
  tmyFSSpec& spec = second ? p.secondRootSpec : p.rootSpec;
  // -9999 in either field means that no folder was ever chosen.
  const bool none = vRefNum == kNoFolderVRefNum || dirID == kNoFolderDirID;
  CStr255_AC folder = none ? "No directory selected" : "[Can not find directory]";
  CStr255_AC volume;
  if (dirID > 0 && IsExistingDirectory(vRefNum, dirID)) {
    CStr255_AC name, volumeName;
    if (getFolderName(vRefNum, dirID, name, volumeName)) {
      folder = name;
      volume = volumeName;
    }
    FSSpec usual;
    if (GetFolderFSSpec(vRefNum, dirID, &usual) == noErr) spec.spec = usual;
  }
  if (folder == volume && !volume.IsEmpty()) folder = "<Root>";
  if (second) {
    SetTextOf("psf2", folder);
    SetTextOf("psv2", volume);
  } else {
    SetTextOf("psfl", folder);
    SetTextOf("psvl", volume);
  }
}

void TPrintServerPrefs::ChooseRoot(bool second) {
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  int16_t& vRefNum = second ? p.secondRootVRefNum : p.rootVRefNum;
  int32_t& dirID = second ? p.secondRootDirID : p.rootDirID;
  tmyFSSpec& spec = second ? p.secondRootSpec : p.rootSpec;
  const int16_t wasVRefNum = vRefNum;
  const int32_t wasDirID = dirID;
  const tmyFSSpec wasSpec = spec;
  bool chosen = myChooseFolder(vRefNum, dirID, true, kSpoolRootPrompt);
  if (chosen) {
    CStr255_AC name, volumeName;
    if (getFolderName(vRefNum, dirID, name, volumeName)) spec.volumeName = CStr31_AC(volumeName);
    if (TPrefsServices* services = PrefsWindow() ? PrefsWindow()->Services() : nullptr) {
      // The spool root is taken as at start-up: its lock, its record. One
      // another processor works on, or one that cannot be trusted, is not
      // taken (the services said why): the root stays the one before.
      const OSErr err = second ? services->CreateImageAndJobFolders2() : services->CreateImageAndJobFolders();
      if (!second && (err == fBsyErr || err == permErr)) {
        vRefNum = wasVRefNum;
        dirID = wasDirID;
        spec = wasSpec;
        chosen = false;
      }
    }
  }
  ShowRoot(second);
  if (chosen && PrefsWindow() && IsExistingDirectory(vRefNum, dirID))
    PrefsWindow()->QueueFolderAlias(spec.spec, second ? kSecondSpoolRootAliasID : kSpoolRootAliasID);
}

void TPrintServerPrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  const IDType id = SourceID(source);
  if (eventNumber == mButtonHit && id == FourCC("chps")) ChooseRoot(false);
  if (eventNumber == mButtonHit && id == FourCC("chp2")) ChooseRoot(true);
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TPrintServerPrefs::SetFactorySettings() {
  setMyPrintServerPrefToFactoryDefaults(getMyPrintServerPrefs());
  SetSettings(getMyPrintServerPrefs());
  ShowRoot(false);
  if (FindSubView(FourCC("chp2"))) ShowRoot(true);
}

void TPrintServerPrefs::Revert() { SetSettings(&snapshot_); }

bool TPrintServerPrefs::IsChanged() {
  auto differs = [&](const char (&id)[5], bool recordOn) {
    auto on = GetCheck(id);
    return on && *on != recordOn;
  };
  const tPrintServerPrefs& s = snapshot_;
  return differs("enbp", s.enableBackground != 0) || differs("ausq", s.autoStart != 0) ||
         differs("dljf", s.keepJobFiles == 0) || differs("blck", s.blckSwitch != 0) ||
         differs("dual", s.dualSwitch != 0) || differs("scan", s.fullRescan != 0);
}

void TPrintServerPrefs::ViewsEnable(bool on) {
  for (IDType id : {FourCC("enbp"), FourCC("ausq"), FourCC("autl"), FourCC("crsf"), FourCC("chps"), FourCC("dljf"),
                    FourCC("blck"), FourCC("dual"), FourCC("scan")})
    if (TView* v = FindSubView(id)) v->ViewEnable(on, true);
}

void TPrintServerPrefs::StoreControls() {
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  auto store = [&](const char (&id)[5], int16_t& field) {
    if (auto on = GetCheck(id)) field = *on ? 1 : 0;
  };
  store("enbp", p.enableBackground);
  store("ausq", p.autoStart);
  store("blck", p.blckSwitch);
  if (auto on = GetCheck("dljf")) p.keepJobFiles = *on ? 0 : 1;
  store("dual", p.dualSwitch);
  store("scan", p.fullRescan);
  store("hima", p.hideImage);
  store("t3am", p.t3amSwitch);
  p.askOnFailedJob = 1;
  store("dem5", p.askOnFailedJob);
}

// ---- shared by the folder panels ----

void TFolderPrefsView::UpdateFolderString(tFolderFSSpec& live, const tFolderFSSpec& candidate, bool storeAlias) {
  if (const char* name = FolderLogName()) {
    platform::PrintF("  %s::UpdateFolderString =>  parID = [%i]\n", name, int(candidate.spec.parID));
    platform::PrintF("%s::UpdateFolderString =>  vRefNum = [%i]\n\n", name, int(candidate.spec.vRefNum));
  }
  const FolderLines lines = UpdateFolderRecord(live, candidate, storeAlias, PrefsWindow());
  SetTextOf("fldr", lines.folder);
  SetTextOf("volu", lines.volume);
}

void TFolderPrefsView::ChooseFolder(tFolderFSSpec& live, int16_t prompt) {
  if (auto chosen = ChooseFolderFor(live, prompt)) UpdateFolderString(live, *chosen, true);
}

void TFolderPrefsView::ShowSpecialCommon(const tSpecialPrintToFilePref& r) {
  SetCheck("defa", r.folder.createIfMissing != 0);
  SetCheck("foor", r.forceOrientation != 0);
  SetCheck("sapc", r.skipCKProperties != 0);
  SetPopup("nmtp", r.namingType);
  SetCheck(r.orientation == 1 ? "land" : "port", true);
  SetPopup("rota", RotationItem(r.rotation));
  SetPopup("frmt", r.fileFormat);
  SetTextOf("bsnm", r.baseName);
  SetTextOf("exte", r.extension);
}

void TFolderPrefsView::ReadSpecialCommon(tSpecialPrintToFilePref& r) const {
  if (auto on = GetCheck("defa")) r.folder.createIfMissing = *on;
  if (auto on = GetCheck("foor")) r.forceOrientation = *on;
  if (auto on = GetCheck("sapc")) r.skipCKProperties = *on;
  if (auto item = GetPopup("nmtp"); item && *item >= 1) r.namingType = *item;
  if (auto on = GetCheck("land")) r.orientation = *on ? 1 : 2;
  if (auto item = GetPopup("rota"); item && *item >= 1) r.rotation = RotationOfItem(*item);
  if (auto item = GetPopup("frmt"); item && *item >= 1) r.fileFormat = *item;
  if (auto* t = Ctl<TEditText>("bsnm")) r.baseName = CStr63_AC(t->GetText());
  if (auto* t = Ctl<TEditText>("exte")) r.extension = CStr31_AC(t->GetText());
}

void TFolderPrefsView::EnableCommon(bool on) {
  for (IDType id : {FourCC("chng"), FourCC("defa"), FourCC("frmt"), FourCC("bsnm"), FourCC("ustn"), FourCC("exte"),
                    FourCC("foor"), FourCC("port"), FourCC("land"), FourCC("rota"), FourCC("nmtp"), FourCC("prom")})
    if (TView* v = FindSubView(id)) v->ViewEnable(on, true);
}

void TFolderPrefsView::FillExtensionFromFormat() {
  if (auto item = GetPopup("frmt")) SetTextOf("exte", getExtensionFromFileType(*item));
}

// ---- Print To File ----

namespace {
// The controls that show the record's format, extension, naming and prefix.
// Printer 17 takes all four from each job's own print-to-file record, so the
// panel shows them dimmed beside a note saying so and never stores them.
constexpr char kJobDecidesControls[][5] = {"frmt", "exte", "nmtp", "bsnm", "st03", "st04", "st02", "st01"};
}  // namespace

void TPrintToFilePrefs::SetSettings(const tPrintToFilePrefs* r) {
  SetCheck("defa", r->folder.createIfMissing != 0);
  SetCheck("sapc", r->skipCKProperties != 0);
  SetPopup("frmt", r->fileFormat);
  SetTextOf("exte", r->extension);
  SetPopup("nmtp", r->namingType);
  SetTextOf("bsnm", r->baseName);
  ShowView("view", r->namingType == 1);
}

void TPrintToFilePrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  if (auto* t = Ctl<TEditText>("bsnm")) t->SetMaxLength(31);
  if (auto* t = Ctl<TEditText>("exte")) t->SetMaxLength(31);
  tPrintToFilePrefs& live = *getMyPrintToFilePrefs();
  snapshot_ = live;
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
  ViewsEnable(true);
}

void TPrintToFilePrefs::ViewsEnable(bool on) {
  EnableCommon(on);
  for (const auto& id : kJobDecidesControls)
    if (TView* v = FindSubView(FourCC(id))) v->ViewEnable(false, true);
}

void TPrintToFilePrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  const IDType id = SourceID(source);
  if (eventNumber == mButtonHit && id == FourCC("chng")) ChooseFolder(getMyPrintToFilePrefs()->folder, kOutputFolderPrompt);
  if (id == FourCC("frmt")) FillExtensionFromFormat();
  if (id == FourCC("nmtp")) ShowView("view", GetPopup("nmtp").value_or(0) == 1);
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TPrintToFilePrefs::SetFactorySettings() {
  tPrintToFilePrefs& live = *getMyPrintToFilePrefs();
  setMyPrintToFilePrefToFactoryDefaults(&live);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TPrintToFilePrefs::Revert() { SetSettings(&snapshot_); }

void TPrintToFilePrefs::StoreControls() {
  // Only the two switches: the folder is taken when it is chosen, and the
  // format, naming and prefix are each job's own.
  tPrintToFilePrefs& live = *getMyPrintToFilePrefs();
  if (auto on = GetCheck("defa")) live.folder.createIfMissing = *on;
  if (auto on = GetCheck("sapc")) live.skipCKProperties = *on;
}

// ---- Kivo-Print Center ----

void TProcessedJobsPrefs::SetSettings(const tProcessedJobsPrefs* r) {
  SetCheck("defa", r->folder.createIfMissing != 0);
  SetCheck("newP", r->useNewHandOff != 0);
}

void TProcessedJobsPrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  tProcessedJobsPrefs& live = *getMyProcessedJobsPrefs();
  snapshot_ = live;
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TProcessedJobsPrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  if (eventNumber == mButtonHit && SourceID(source) == FourCC("chng"))
    ChooseFolder(getMyProcessedJobsPrefs()->folder, kPrintCenterPrompt);
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TProcessedJobsPrefs::SetFactorySettings() {
  tProcessedJobsPrefs& live = *getMyProcessedJobsPrefs();
  setMyProcessedJobsPrefToFactoryDefaults(&live);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TProcessedJobsPrefs::Revert() { SetSettings(&snapshot_); }

bool TProcessedJobsPrefs::IsChanged() {
  const auto defa = GetCheck("defa");
  const auto newP = GetCheck("newP");
  return (defa && *defa != (snapshot_.folder.createIfMissing != 0)) || (newP && *newP != (snapshot_.useNewHandOff != 0));
}

void TProcessedJobsPrefs::ViewsEnable(bool on) {
  EnableView("chng", on);
  EnableView("defa", on);
  EnableView("newP", on);
}

void TProcessedJobsPrefs::StoreControls() {
  tProcessedJobsPrefs& live = *getMyProcessedJobsPrefs();
  if (auto on = GetCheck("defa")) live.folder.createIfMissing = *on;
  if (auto on = GetCheck("newP")) live.useNewHandOff = *on;
}

// ---- Print To File Sets ----

void TPrintToFileSetPrefs::PlaceByFormat(const tSpecialPrintToFilePref& r, int16_t format) {
  const bool web = format == kFormatJPEGForWeb;
  ShowView("notr", web);
  ShowView("site", web);
  if (web) {
    SetCheck("notr", r.doNotResizeJpegForWeb != 0);
    SetPopup("site", std::max<int16_t>(1, r.ftpSite));
  }
  ShowView("npng", false);
}

void TPrintToFileSetPrefs::PlaceByNaming(int16_t namingType) {
  ShowView("bsnm", namingType == 1);
  ShowView("st01", namingType == 1);
  ShowView("over", namingType == 3 || namingType == 6 || namingType == 7);
}

void TPrintToFileSetPrefs::SetSettings(const tSpecialPrintToFilePref* r) {
  ShowSpecialCommon(*r);
  SetCheck("cjpg", r->createJpegForWeb != 0);
  if (auto* n = Ctl<TNumberText>("maxs")) n->SetValue(r->maxSize, true);
  SetCheck("npng", false);
  SetCheck("over", r->overwrite != 0);
  SetTextOf("edit", r->editText);
  SetPopup("path", set_);
  PlaceByFormat(*r, r->fileFormat);
  PlaceByNaming(r->namingType);
}

void TPrintToFileSetPrefs::GetSettings(int16_t set) {
  tSpecialPrintToFilePref* r = getMyPrintToFileSetPrefs(set);
  if (!r) return;
  ReadSpecialCommon(*r);
  if (auto on = GetCheck("cjpg")) r->createJpegForWeb = *on;
  if (auto* n = Ctl<TNumberText>("maxs")) r->maxSize = int16_t(n->GetValue());
  // The web-copy switches only mean something for format 10; elsewhere the
  // hidden controls keep the record's values.
  if (r->fileFormat == kFormatJPEGForWeb) {
    if (auto on = GetCheck("notr")) r->doNotResizeJpegForWeb = *on;
    if (auto item = GetPopup("site"); item && *item >= 1) r->ftpSite = *item;
  }
  if (auto on = GetCheck("npng")) r->doNotResizePng = *on;
  if (auto on = GetCheck("over")) r->overwrite = *on;
  if (auto* t = Ctl<TEditText>("edit")) r->editText = t->GetText();
}

void TPrintToFileSetPrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  ShowView("webv", false);
  ShowView("sta0", false);
  ShowView("edit", false);
  if (auto* t = Ctl<TEditText>("bsnm")) t->SetMaxLength(63);
  if (auto* t = Ctl<TEditText>("exte")) t->SetMaxLength(31);
  if (auto* n = Ctl<TNumberText>("maxs")) n->SetRange(1, 32767);
  for (int16_t n = 1; n <= 8; ++n) snapshot_[n - 1] = *getMyPrintToFileSetPrefs(n);
  set_ = 1;
  tSpecialPrintToFilePref& live = *getMyPrintToFileSetPrefs(set_);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TPrintToFileSetPrefs::ShowSet(int16_t set) {
  if (set < 1 || set > 8) return;
  GetSettings(set_);
  set_ = set;
  tSpecialPrintToFilePref& live = *getMyPrintToFileSetPrefs(set_);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TPrintToFileSetPrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  const IDType id = SourceID(source);
  tSpecialPrintToFilePref& live = *getMyPrintToFileSetPrefs(set_);
  if (id == FourCC("path")) {
    const int16_t item = GetPopup("path").value_or(set_);
    if (item != set_) ShowSet(item);
  } else if (eventNumber == mButtonHit && id == FourCC("chng")) {
    GetSettings(set_);
    ChooseFolder(live.folder, kOutputFolderPrompt);
  } else if (id == FourCC("frmt")) {
    FillExtensionFromFormat();
    PlaceByFormat(live, GetPopup("frmt").value_or(live.fileFormat));
  } else if (id == FourCC("nmtp")) {
    PlaceByNaming(GetPopup("nmtp").value_or(live.namingType));
  } else if (eventNumber == mButtonHit && id == FourCC("dupl")) {
    DoCopyToSetsDialog();
  }
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TPrintToFileSetPrefs::DoCopyToSetsDialog() {
  GetSettings(set_);
  tSpecialPrintToFilePref& live = *getMyPrintToFileSetPrefs(set_);
  TWindow* window = NewTemplateWindow(kCopyToSetsWindowID);
  if (!window) return;
  static constexpr const char kPopups[3][5] = {"pth1", "pth2", "pth3"};
  for (int i = 0; i < 3; ++i) {
    // Set 8 (value 9) is a set like the others: only values that name no
    // set show as "none".
    live.alsoCopyToSet[i] = CopyToSetItem(live.alsoCopyToSet[i]);
    if (auto* p = window->FindSubView<TPopup>(FourCC(kPopups[i]))) p->SetCurrentItem(live.alsoCopyToSet[i], true);
  }
  if (window->PoseModally() == FourCC("ok  ")) {
    for (int i = 0; i < 3; ++i)
      if (auto* p = window->FindSubView<TPopup>(FourCC(kPopups[i])); p && p->GetCurrentItem() >= 1)
        live.alsoCopyToSet[i] = p->GetCurrentItem();
  }
  window->Close();
}

void TPrintToFileSetPrefs::SetFactorySettings() {
  tSpecialPrintToFilePref& live = *getMyPrintToFileSetPrefs(set_);
  setMyPrintToFileSetPrefsToFactoryDefaults(&live, set_);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TPrintToFileSetPrefs::Revert() {
  // The set shown as it was when the panel opened (never another set's values).
  SetSettings(&snapshot_[set_ - 1]);
}

// ---- Output Files ----

void TOutputFilePrefs::SetSettings(const tOutputFilePrefs* r) {
  if (auto* s = Ctl<TSlider>("scqu")) {
    s->SetValue(r->jpegQuality, true);
    SetTextOf("qual", CStr255_AC(std::to_string(s->GetValue())));
  } else {
    SetTextOf("qual", CStr255_AC(std::to_string(r->jpegQuality)));
  }
}

void TOutputFilePrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  if (auto* s = Ctl<TSlider>("scqu")) {
    s->SetMaximum(100, true);
    s->SetMinimum(10, true);
  }
  snapshot_ = *getMyOutputFilePrefs();
  SetSettings(getMyOutputFilePrefs());
}

void TOutputFilePrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  if (eventNumber == mSliderHit) {
    if (auto* s = dynamic_cast<TSlider*>(source); s && s->GetIdentifier() == FourCC("scqu")) {
      getMyOutputFilePrefs()->jpegQuality = int16_t(s->GetValue());
      SetTextOf("qual", CStr255_AC(std::to_string(s->GetValue())));
    }
  }
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TOutputFilePrefs::SetFactorySettings() {
  setMyOutputFilePrefToFactoryDefaults(getMyOutputFilePrefs());
  SetSettings(getMyOutputFilePrefs());
}

void TOutputFilePrefs::Revert() { SetSettings(&snapshot_); }

void TOutputFilePrefs::StoreControls() {
  if (auto* s = Ctl<TSlider>("scqu")) getMyOutputFilePrefs()->jpegQuality = int16_t(s->GetValue());
}

// ---- For Web Upload ----

void TWebUploadPrefs::SetSettings(const tSpecialPrintToFilePref* r) {
  ShowSpecialCommon(*r);
  ShowView("view", r->namingType == 1);
}

void TWebUploadPrefs::GetSettings() { ReadSpecialCommon(*getMyWebUploadPrefs()); }

void TWebUploadPrefs::DoPostCreate() {
  TPreferencesView::DoPostCreate();
  if (auto* t = Ctl<TEditText>("bsnm")) t->SetMaxLength(63);
  if (auto* t = Ctl<TEditText>("exte")) t->SetMaxLength(31);
  tSpecialPrintToFilePref& live = *getMyWebUploadPrefs();
  snapshot_ = live;
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TWebUploadPrefs::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  const IDType id = SourceID(source);
  tSpecialPrintToFilePref& live = *getMyWebUploadPrefs();
  if (eventNumber == mButtonHit && id == FourCC("chng")) {
    if (auto chosen = ChooseFolderFor(live.folder, kOutputFolderPrompt)) {
      platform::PrintF("\n\nTWebUploadPrefs::DoEvent=>mButtonHit => volumeName is [%s]\n",
                       chosen->volumeName.ToUTF8().c_str());
      platform::PrintF("                                           folderName is [%s]\n",
                       chosen->spec.name.ToUTF8().c_str());
      platform::PrintF("                                               parID is [%i]\n", int(chosen->spec.parID));
      platform::PrintF("                                             vRefNum is [%i]\n", int(chosen->spec.vRefNum));
      UpdateFolderString(live.folder, *chosen, true);
    }
  }
  if (id == FourCC("frmt")) FillExtensionFromFormat();
  if (id == FourCC("nmtp")) ShowView("view", GetPopup("nmtp").value_or(0) == 1);
  TPreferencesView::DoEvent(eventNumber, source, event);
}

void TWebUploadPrefs::SetFactorySettings() {
  tSpecialPrintToFilePref& live = *getMyWebUploadPrefs();
  setMyWebUploadPrefsToFactoryDefaults(&live);
  SetSettings(&live);
  UpdateFolderString(live.folder, live.folder, false);
}

void TWebUploadPrefs::Revert() { SetSettings(&snapshot_); }

void RegisterPreferencePanelClasses() {
  host::RegisterViewClass<TPrintServerPrefs>("TPrintServerPrefs");
  host::RegisterViewClass<TPrintToFilePrefs>("TPrintToFilePrefs");
  host::RegisterViewClass<TProcessedJobsPrefs>("TProcessedJobsPrefs");
  host::RegisterViewClass<TPrintToFileSetPrefs>("TPrintToFileSetPrefs");
  host::RegisterViewClass<TOutputFilePrefs>("TOutputFilePrefs");
  host::RegisterViewClass<TWebUploadPrefs>("TWebUploadPrefs");
}
