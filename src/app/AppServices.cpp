#include "app/AppServices.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "app/PrintBGBehavior.h"
#include "app/ProgressIndicator.h"
#include "app/SpoolQueue.h"
#include "chromakey/ChromaKeySettings.h"
#include "pipeline/SpoolFolders.h"
#include "host/files/HeldFolders.h"
#include "host/base/ClassRegistry.h"
#include "host/base/MacRoman.h"
#include "host/base/Streamable.h"
#include "host/files/FileOps.h"
#include "host/sys/Process.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Alerts.h"
#include "host/ui/Application.h"
#include "host/ui/Controls.h"
#include "host/ui/ViewServer.h"
#include "host/ui/Widgets.h"
#include "imaging/ImageLoading.h"
#include "output/Metadata.h"
#include "output/PrintCounts.h"
#include "output/PrintInfo.h"
#include "output/SystemPrint.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/OutputDispatch.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/Polling.h"
#include "prefs/LegacyPreferences.h"
#include "prefs/PrefRecords.h"

namespace app {

namespace fs = std::filesystem;

fs::path FolderPathOfSpec(const FSSpec& folder) {
  if (folder.vRefNum == kNoFolderVRefNum || folder.parID == kNoFolderDirID || folder.parID <= 0) return {};
  FSSpec spec = folder;
  std::string path;
  if (folder.name.IsEmpty()) {
    // Folder numbers live for one run: a number stored by an earlier run is
    // simply not known now (the folder comes back through its alias), which
    // is no failure worth a line on every start.
    if (!IsExistingDirectory(folder.vRefNum, folder.parID)) return {};
    FSSpec usual{};
    if (GetFolderFSSpec(folder.vRefNum, folder.parID, &usual) != noErr) return {};
    path = FSSpecToNSStringPath(usual);
  } else {
    path = FSSpecToNSStringPath(spec);
  }
  struct stat st {};
  if (path.empty() || host::StatAt(path, &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return path;
}

namespace {
// The services whose environment the output routes use.
AppServices* gRouteServices = nullptr;
}  // namespace

AppServices::AppServices(TPrintBGBehavior& controller) : controller_(controller) {
  if (gRouteServices) return;
  // The routes show their status lines and previews in the status window.
  gRouteServices = this;
  SetCoefficientDictionaryMaker(this);
  SetFileHandlerWindows(this);
  output::TOutputEnv env;
  env.setStatus = [this](const std::string& text) { SetStatus(text); };
  env.showPreview = [this](const host::GWorld* page) { SetImage(page, ""); };
  pipeline::SetOutputEnvironment(std::move(env));
  // Prints a kill left counted in some stores only are counted in the rest.
  std::string why, aside;
  if (!output::CompletePendingCounts(output::PrintCountFolder(), &why, &aside)) ShowCountFailure(why);
  if (!aside.empty()) ShowCountStoreSetAside(aside);
}

AppServices::~AppServices() {
  if (gRouteServices != this) return;
  pipeline::SetOutputEnvironment(output::TOutputEnv());
  SetCoefficientDictionaryMaker(nullptr);
  SetFileHandlerWindows(nullptr);
  gRouteServices = nullptr;
}

void AppServices::Log(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  // Out at once, so that the log read while a job runs (or after a crash)
  // holds every line written so far.
  std::fflush(stderr);
}

OSErr AppPrefsServices::CreateImageAndJobFolders() { return pipeline::UseChosenSpoolRoot(); }
OSErr AppPrefsServices::CreateImageAndJobFolders2() { return pipeline::createImageAndJobFolders2(); }

void AppServices::OperatorMessage(std::string_view text) { DisplayNormalMessagePascal(text); }

// ---- the controller and the status window

void AppServices::SetJobInfo(const tJobInfo& info) { controller_.SetJobInfo(info); }

void AppServices::SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName,
                                        const CStr31_AC& packageName) {
  controller_.SetPrinterAndTemplate(printer, templateName, packageName);
}

void AppServices::SetPrintToFileSet(int16_t set) { controller_.SetPrintToFileSet(set); }

void AppServices::SetJobFileName(const std::string& name) { controller_.SetJobFileName(CStr255_AC(name)); }
void AppServices::SetStatus(const std::string& text) { controller_.SetStatus(text); }
void AppServices::PrintLog(uint32_t elapsedTicks) { controller_.PrintLog(elapsedTicks); }
void AppServices::EnableButtonsWhenDone() { controller_.EnableButtonsWhenDone(); }
void AppServices::EnableBackgroundPrinting(bool on) { controller_.EnableBackgroundPrinting(on); }
bool AppServices::IsBackgroundPrintingEnabled() { return controller_.IsBackgroundPrintingEnabled(); }

void AppServices::SetImage(const host::GWorld* offscreen, const std::string& name) {
  controller_.SetImage(offscreen, CStr255_AC(name));
}

void AppServices::SetFilesToDelete(std::vector<std::filesystem::path> files) {
  controller_.SetFilesToDelete(std::move(files));
}

void AppServices::Beep() { host::Beep(); }

void AppNotificationServices::Beep() { host::Beep(); }

// ---- job-wide values

void AppServices::SetApplyEmbedded(bool on) { gApplyEmbedded = on; }
void AppServices::SetBlurValue(float radius) { myBlurValue = radius; }
bool AppServices::SetCocoaPrintInfo(std::span<const uint8_t> archive) { return output::SetCocoaPrintInfo(archive); }
void AppServices::SetEmailEntryBuffer(std::span<const uint8_t> block) { output::setEmailEntryBuffer(block); }
void AppServices::SetCustomerEmail(const CStr255_AC& text) { output::setCustomerEmail(host::MacRomanToUTF8(text.view())); }
void AppServices::SetGroupCode(const CStr255_AC& text) { output::setGroupCode(host::MacRomanToUTF8(text.view())); }

// ---- preferences

bool AppServices::PrintToFileSetFolderResolves(int set) {
  const tSpecialPrintToFilePref* p = getMyPrintToFileSetPrefs(int16_t(set));
  if (!p) return false;
  // The route finds the folder through its stored alias (by path), so a set
  // folder made again under its name is found here too.
  const auto& resolve = pipeline::OutputEnvironment().resolveFolder;
  if (resolve && resolve(int16_t(kPrintToFileSetAliasBase + set))) return true;
  return !FolderPathOfSpec(p->folder.spec).empty();
}

bool AppServices::KeepJobFiles() { return getMyPrintServerPrefs()->keepJobFiles != 0; }
bool AppServices::FullRescan() { return getMyPrintServerPrefs()->fullRescan != 0; }
bool AppServices::AskOnFailedJob() { return getMyPrintServerPrefs()->askOnFailedJob != 0; }
fs::path AppServices::UnknownJobsFolder() { return gSpoolFolders().unknown; }
fs::path AppServices::FinishedJobsFolder() { return gSpoolFolders().finished; }
fs::path AppServices::ImagesFolder() { return gSpoolFolders().images; }
fs::path AppServices::GraphicsFolder() {
  const SpoolFolders folders = gSpoolFolders();
  return folders.IsValid() ? CreateOrFindFolder(folders.root, pipeline::kGraphicsFolderName) : fs::path();
}

namespace {
std::string JobFileDetailLine(const std::string& jobFileName) { return "Job file: " + jobFileName; }
}  // namespace

void AppServices::JobFileMessage(std::string_view text, const std::string& jobFileName) {
  MessageWithDetail(text, jobFileName.empty() ? std::string() : JobFileDetailLine(jobFileName));
}

void AppServices::MessageWithDetail(std::string_view text, const std::string& detailLine) {
  if (!detailLine.empty()) host::SetAlertDetailLine(detailLine);
  DisplayNormalMessagePascal(text);
  // A message that was not shown (logged only) must not leave its line to the next alert.
  host::SetAlertDetailLine({});
}

int AppServices::AskWhatToDoWithFailedJob(const std::string& jobFileName) {
  ParamText(CStr255_AC(jobFileName));
  if (!jobFileName.empty()) host::SetAlertDetailLine(JobFileDetailLine(jobFileName));
  const int16_t item = MacAppAlert(1003);
  // Closing the alert any other way must not strand the job: it goes to the
  // unknown-jobs folder.
  switch (item) {
    case 1:
    case 4:
    case 5:
    case 6: return item;
    default: return 5;
  }
}

// ---- the job queue

std::optional<fs::path> AppServices::GetNextNewJobFile() {
  auto next = pipeline::GetNextNewJobFile();
  if (next) {
    platform::LogF("Picked up job file: %s", next->filename().string().c_str());
    controller_.UpdateJobsList();
  }
  return next;
}

void AppServices::CheckForNewJobs() { pipeline::CheckForNewJobs(); }

void AppServices::RescanBetweenObjects() {
  if (!pipeline::gJobFileList) return;
  const size_t before = pipeline::gJobFileList->GetSize();
  pipeline::gJobFileList->FindNewJobFiles(*getMyPrintServerPrefs());
  if (pipeline::gJobFileList->GetSize() != before) controller_.UpdateJobsList();
}

void AppServices::ResetLastModDate() {
  if (pipeline::gJobFileList) pipeline::gJobFileList->ResetLastModDate();
}

void AppServices::SetQueueCurrentFile(const std::string& name) {
  if (pipeline::gJobFileList) pipeline::gJobFileList->SetQueueCurrentFile(name);
}

void AppServices::InsertIntoQueue(const fs::path& file) {
  if (!pipeline::gJobFileList) return;
  pipeline::gJobFileList->InsertIntoQueue(file);
  controller_.UpdateJobsList();
}

// ---- files

OSErr AppServices::DeleteFile(const fs::path& file) { return host::DeleteItem(file.string()); }

// ---- the rest

void AppServices::PrepareJobCount(const fs::path& jobFile, int count, int kind, int16_t printer, int16_t canvas) {
  output::TJobCount job;
  job.count = count;
  job.kind = int16_t(kind);
  job.printer = printer;
  job.canvas = canvas;
  job.templateName = pipeline::gCurrentTemplateName.ToUTF8();
  job.day = output::LongDateTimeNow();
  pendingCount_.emplace(jobFile, job);
  if (!jobFile.empty() && !output::PrepareJobCount(jobFile, job))
    platform::LogLine("The job's count could not be put in the count journal; it is counted without it");
}

void AppServices::CountJob(const fs::path& jobFile) {
  std::string why, aside;
  const bool counted = output::CountPrintedJob(output::PrintCountFolder(), jobFile, &why, &aside);
  if (!aside.empty()) ShowCountStoreSetAside(aside);
  if (!counted && why.empty()) {
    // No entry in the journal: the job in work is counted directly.
    if (pendingCount_ && pendingCount_->first == jobFile) {
      const output::TJobCount& job = pendingCount_->second;
      output::addToPrintCount(int16_t(std::clamp(job.count, 0, 32767)), job.kind, job.printer, job.canvas,
                              job.templateName);
    } else {
      platform::LogF("The job file [%s] had printed but its count is not known; it is not counted",
                     jobFile.c_str());
    }
  } else if (!counted) {
    ShowCountFailure(why);
  }
  pendingCount_.reset();
}

void AppServices::ForgetJobCount(const fs::path& jobFile, bool printed) {
  if (printed) {
    output::ForgetJobCount(jobFile, output::PrintCountFolder());
  } else {
    output::DropJobCount(jobFile);
    if (pendingCount_ && pendingCount_->first == jobFile) pendingCount_.reset();
  }
}

void AppServices::ShowCountStoreSetAside(const std::string& what) {
  const std::string text = "A count store could not be read and counting goes on without it: " + what;
  platform::LogLine(text);
  OperatorMessage(text);
}

void AppServices::ShowCountFailure(const std::string& why) {
  const std::string text = "The prints could not be counted yet (" + why + "); they are counted at the next start";
  platform::LogLine(text);
  SetStatus(text);
  OperatorMessage(text);
}

// Node objects draw nothing yet, so there is no cached node offscreen to drop.
void AppServices::DisposeLastNodeGWorld() {}

std::unique_ptr<pipeline::TSpoolerPrintView> AppServices::MakeJobView() {
  return std::make_unique<pipeline::TSpoolerPrintView>(*this);
}

uint32_t AppServices::TickCount() { return platform::TickCount(); }

// ---- the print-centre hand-off

std::optional<fs::path> AppServices::PrintCenterFolder() { return pipeline::DefaultPrintCenterFolder(); }
bool AppServices::UseNewHandOff() { return getMyProcessedJobsPrefs()->useNewHandOff != 0; }
int16_t AppServices::DualSwitch() { return getMyPrintServerPrefs()->dualSwitch; }

std::vector<std::string> PrintCenterCommand(const std::string& key) {
  std::vector<std::string> argv;
  const auto value = host::UserDefaults::standard().get(key);
  const host::PlistArray* words = value ? value->asArray() : nullptr;
  if (!words) return argv;
  for (const host::PlistValue& w : *words) {
    const std::string* text = w.asString();
    if (!text) return {};
    argv.push_back(*text);
  }
  if (!argv.empty() && argv.front().empty()) argv.clear();
  return argv;
}

void AppServices::OpenPrintCenter(bool useNewHandOff) {
  const char* key = useNewHandOff ? kPrintCenterCommandKey : kOlderPrintCenterCommandKey;
  const std::vector<std::string> argv = PrintCenterCommand(key);
  if (argv.empty()) {
    bool& logged = loggedNoCommand_[useNewHandOff ? 0 : 1];
    if (!logged)
      platform::LogF("No print-centre application is set (user default \"%s\"); the hand-off waits for it", key);
    logged = true;
    return;
  }
  std::string error;
  if (!host::startDetached(argv.front(), std::vector<std::string>(argv.begin() + 1, argv.end()), &error))
    platform::LogLine("The print-centre application could not be started: " + error);
}

host::PlistValue AppServices::CoefficientDictionary(std::span<const uint8_t> block) {
  tChromaKeySettings settings;
  if (block.size() >= chromakey::kFixCoefSize) chromakey::DecodeFixCoef(block.data(), settings.para);
  host::PlistDict out;
  if (const std::unique_ptr<CKDictionary> dictionary = MyConvertCKSettingsToDictionary(&settings)) {
    for (const auto& [key, value] : *dictionary) {
      std::visit(
          [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::vector<double>>) {
              host::PlistArray array(v.begin(), v.end());
              out[key] = host::PlistValue(std::move(array));
            } else {
              out[key] = host::PlistValue(v);
            }
          },
          value);
    }
  }
  return host::PlistValue(std::move(out));
}

namespace {
constexpr int16_t kSavingProgressWindow = 9003, kDefaultProgressWindow = 9002, kDeleteImagesWindow = 1023;
constexpr int kDeleteWindowPathWidth = 680;
}  // namespace

void AppServices::ShowProgress(const CStr255_AC& title, const CStr255_AC& text) {
  if (!gProgressIndicator) return;
  gProgressIndicator->Start(0, kSavingProgressWindow, title, 0);
  gProgressIndicator->SetText1(text);
}

void AppServices::EndProgress() {
  if (!gProgressIndicator) return;
  gProgressIndicator->Stop();
  gProgressIndicator->SetProgressWindowResourceID(kDefaultProgressWindow);
}

void AppServices::OpenDeleteWindow(const std::string& path) {
  TWindow* window = NewTemplateWindow(kDeleteImagesWindow);
  if (!window) {
    host::Beep();
    return;
  }
  if (auto* folder = window->FindSubView<TStaticText>(FourCC("fldr")))
    folder->SetTextElided(path, kDeleteWindowPathWidth, false);
  window->Open();
}

void RegisterProcessorClasses() {
  host::RegisterNamedClass<output::TChooserPrintJob>("TChooserPrint");
  // The record object holds nothing itself: it reads and writes the live
  // records, so making one changes no setting.
  host::RegisterNamedClass<TBackgroundPrintingPrefs>("TBackgroundPrintingPrefs");
  host::RegisterNamedClass<TPrintBGPrefBehavior>("TPrintBGPrefBehavior");
  host::RegisterNamedClass<pipeline::TBGPrintView>(
      "TBGPrintView", std::function<std::unique_ptr<pipeline::TBGPrintView>()>([] {
        return gRouteServices ? std::make_unique<pipeline::TBGPrintView>(*gRouteServices) : nullptr;
      }));
  host::RegisterNamedClass<pipeline::TSpoolerPrintView>(
      "TSpoolerPrintView", std::function<std::unique_ptr<pipeline::TSpoolerPrintView>()>([] {
        return gRouteServices ? gRouteServices->MakeJobView() : nullptr;
      }));
}

bool IsClassRegistered(const std::string& className) {
  return host::IsViewClassRegistered(className) || host::IsStreamableClassRegistered(className) ||
         host::IsAdornerClassRegistered(className) || host::IsNamedClassRegistered(className);
}

}  // namespace app
