#include "app/PrintBGBehavior.h"

#include <unistd.h>

#include <cstdio>

#include "app/AppServices.h"
#include "app/StatusWindow.h"
#include "host/files/NoLinkFile.h"
#include "host/sys/Folders.h"
#include "host/ui/Application.h"
#include "host/ui/ViewServer.h"
#include "pipeline/BeepingThread.h"
#include "pipeline/OutputDispatch.h"
#include "pipeline/SpoolFolders.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"
#include "platform/Polling.h"
#include "platform/StringLists.h"
#include "platform/Threads.h"
#include "prefs/PrefRecords.h"

namespace app {

namespace {

constexpr IDType kStat = FourCC("stat"), kCrjb = FourCC("crjb"), kTmpn = FourCC("tmpn"), kPrnt = FourCC("prnt"),
                 kPkgn = FourCC("pkgn"), kImag = FourCC("imag"), kImgn = FourCC("imgn"), kJobs = FourCC("jobs"),
                 kPict = FourCC("pict"), kBusy = FourCC("busy"), kStrt = FourCC("strt"), kExit = FourCC("exit"),
                 kFile = FourCC("file"), kRmve = FourCC("rmve"), kPop1 = FourCC("pop1");
constexpr CommandNumber cStartPause = 1002;
// Idle frequency while printing runs, in ticks.
constexpr int32_t kRunningIdleFreq = 15;
// How long the job runner rests when there is nothing to do, in ms: a
// quarter of a second when only its own scans find new jobs, two seconds when
// the print jobs folder's events wake it as a job arrives (the scan is then
// only a fallback).
constexpr int kIdleStepDelayMs = 250;
constexpr int kWatchedIdleStepDelayMs = 2000;

}  // namespace

TPrintBGBehavior* GetPrintBGBehavior() {
  if (!gApplication) return nullptr;
  return dynamic_cast<TPrintBGBehavior*>(gApplication->GetBehaviorWithIdentifier(kPrintBGBehaviorID));
}

CStr255_AC PrinterName(int16_t printer) {
  // Item 0, which a reset job asks for, and codes past the list are empty.
  if (HasIndString(kPrinterNameStrings, printer)) return GetIndString(kPrinterNameStrings, printer);
  return {};
}

TPrintBGBehavior::TPrintBGBehavior()
    : TBehavior(kPrintBGBehaviorID),
      services_(std::make_unique<AppServices>(*this)),
      taskManager_(std::make_unique<pipeline::TPrintJobTaskManager>(*services_)) {
  // The one task manager is reachable program-wide while the controller
  // that owns it lives (a second controller never takes the place of the
  // first).
  if (!pipeline::gPrintJobTaskManager) pipeline::gPrintJobTaskManager = taskManager_.get();
}

TPrintBGBehavior::~TPrintBGBehavior() {
  runner_.reset();
  if (pipeline::gPrintJobTaskManager == taskManager_.get()) pipeline::gPrintJobTaskManager = nullptr;
  if (pipeline::gJobFileList == jobList_.get()) pipeline::gJobFileList = nullptr;
  if (window_) window_->Close();
}

void TPrintBGBehavior::IPrintBGBehavior() {
  neverStarted_ = true;
  jobList_ = std::make_unique<pipeline::TSortedFileList>();
  pipeline::gJobFileList = jobList_.get();
  jobList_->SetJobsListChangedHook([this] { UpdateJobsList(); });
  window_ = NewTemplateWindow(kStatusWindowID);
  if (!window_) platform::LogLine("The status window (view resource 1001) could not be created");
  if (window_) {
    if (auto* busy = window_->FindSubView<TMyChasingArrows>(kBusy)) busy->EnableIdle(false);
    window_->Open();
    window_->Update();
  }
  const tPrintServerPrefs& prefs = *getMyPrintServerPrefs();
  if (jobList_->findAllJobFiles(prefs)) UpdateJobsList();
  if (jobList_->FindNewJobFiles(prefs)) UpdateJobsList();
}

bool TPrintBGBehavior::IsPrintingOn() const { return printing_ || taskManager_->IsActive(); }

bool TPrintBGBehavior::HasWork() const {
  return (jobList_ && !jobList_->IsEmpty()) || taskManager_->CurrentTask() != 0 || taskManager_->JobFile().has_value();
}

void TPrintBGBehavior::EnableBackgroundPrinting(bool on) {
  std::printf("TPrintBGBehavior::EnableBackgroundPrinting\n");
  std::fflush(stdout);
  printing_ = on;
  TMyChasingArrows* busy = window_ ? window_->FindSubView<TMyChasingArrows>(kBusy) : nullptr;
  if (busy) {
    busy->EnableIdle(on);
    busy->Show(on);
    busy->SetAutoAnimate(on);
  }
  if (on) {
    // A folder the program holds that no longer stands at its name is never
    // made again: printing stays paused and the operator is told which.
    const std::string moved = pipeline::MovedFoldersMessage();
    if (!moved.empty() || !gSpoolFolders().IsValid()) {
      if (!moved.empty()) platform::LogLine(moved);
      DisplayNormalMessage(moved.empty() ? kNoSpoolFolderMessage : moved.c_str());
      printing_ = false;
      if (busy) {
        busy->EnableIdle(false);
        busy->Show(false);
        busy->SetAutoAnimate(false);
      }
      return;
    }
    pipeline::createImageAndJobFolders();
    if (gApplication) gApplication->SetCommandText(cStartPause, "Pause");
    if (window_)
      if (auto* b = window_->FindSubView<TButton>(kStrt)) b->SetTitle("Pause");
    SetIdleFreq(kRunningIdleFreq);
    if (gDoNewNSThread) {
      // The jobs step on a thread of their own (never in this program).
      taskManager_->SetActive(true);
      auto* thread = new pipeline::BeepingThread();
      if (!thread->Run()) delete thread;
    } else {
      if (!runner_) {
        runner_ = std::make_unique<host::JobRunner>([this] { JobStep(); });
        // A job renamed into the print jobs folder, or closed by its writer,
        // wakes the idle runner at once instead of at the next idle scan.
        if (jobList_)
          runner_->WakeOnReadable(jobList_->FolderEventDescriptor(),
                                  [list = jobList_.get()] { return list->DrainFolderEvents(); });
      }
      taskManager_->SetActive(true);
      runner_->SetActive(true);
    }
    SetStatus("");
    SetStatus(kIdleStatus);
    neverStarted_ = false;
    if (jobList_) jobList_->ResetLastModDate();
  } else {
    if (neverStarted_) {
      SetStatus(kNeverStartedStatus);
    } else {
      // Stops whatever a progress display is running for the job.
      host::PostKeyDownEvent(27);
      if (gApplication) gApplication->SetCommandText(cStartPause, "Resume");
      if (window_)
        if (auto* b = window_->FindSubView<TButton>(kStrt)) b->SetTitle("Resume");
      SetStatus(kPausedStatus);
    }
    SetIdleFreq(kMaxIdleTime);
    if (runner_) runner_->SetActive(false);
    taskManager_->SetActive(false);
    neverStarted_ = false;
    taskManager_->ClearBusy();
  }
  SetButtonsForPause(!on);
  if (gApplication) gApplication->InvalidateMenus();
}

void TPrintBGBehavior::SetButtonsForPause(bool paused) {
  if (!window_) return;
  for (IDType id : {kExit, kFile, kRmve, kPop1}) {
    if (TView* v = window_->FindSubView(id)) {
      v->ViewEnable(paused, false);
      v->DimState(!paused, true);
    }
  }
}

void TPrintBGBehavior::EnableButtonsWhenDone() {
  if (!window_) return;
  for (IDType id : {kExit, kFile, kRmve, kPop1}) {
    if (TView* v = window_->FindSubView(id)) {
      v->ViewEnable(true, false);
      v->DimState(false, true);
    }
  }
}

void TPrintBGBehavior::JobStep() {
  if (!taskManager_->IsActive()) return;
  // Before each step: a held folder whose name went elsewhere pauses
  // printing (nothing is made at what the name leads to now).
  if (const std::string moved = pipeline::MovedFoldersMessage(); !moved.empty()) {
    platform::LogLine(moved);
    EnableBackgroundPrinting(false);
    DisplayNormalMessage(moved.c_str());
    return;
  }
  taskManager_->DoNextTask();
  // Nothing picked up: rest a little instead of spinning on the folder.
  if (taskManager_->CurrentTask() == 0 && !taskManager_->JobFile() && jobList_ && jobList_->IsEmpty() && runner_)
    runner_->DelayNextStep(jobList_->FolderEventDescriptor() >= 0 ? kWatchedIdleStepDelayMs : kIdleStepDelayMs);
}

void TPrintBGBehavior::ResetAll() { taskManager_->SetCurrentJob(pipeline::TJobSpec{pipeline::kAbortVolume, {}}); }

void TPrintBGBehavior::SetViewText(IDType id, const CStr255_AC& text) {
  if (!window_) return;
  if (auto* t = window_->FindSubView<TStaticText>(id)) t->SetText(text, true);
}

CStr255_AC TPrintBGBehavior::GetViewText(IDType id) const {
  if (!window_) return {};
  if (auto* t = window_->FindSubView<TStaticText>(id)) return t->GetText();
  return {};
}

void TPrintBGBehavior::SetStatus(const std::string& text) {
  if (!window_) return;
  if (auto* t = window_->FindSubView<TStaticText>(kStat)) t->SetTextUTF8(text, true);
}

void TPrintBGBehavior::SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName,
                                             const CStr31_AC& packageName) {
  printer_ = printer;
  if (!window_) return;
  SetViewText(kTmpn, CStr255_AC(templateName));
  SetViewText(kPrnt, PrinterName(printer));
  SetViewText(kPkgn, CStr255_AC(packageName));
}

void TPrintBGBehavior::SetPrintToFileSet(int16_t set) {
  // The set printer codes each carry a set in their name, but the job's own
  // set number is the one it prints into.
  if (!window_ || set < 1 || set > 8 || !pipeline::IsPrintToFileSetCode(printer_)) return;
  SetViewText(kPrnt, CStr255_AC(PrintToFileSetName(set)));
}

void TPrintBGBehavior::SetJobFileName(const CStr255_AC& name) {
  SetViewText(kCrjb, name);
  UpdateJobsList();
}

CStr255_AC TPrintBGBehavior::GetJobFileName() const { return GetViewText(kCrjb); }

void TPrintBGBehavior::SetImage(const host::GWorld* offscreen, const CStr255_AC& name) {
  if (!window_) return;
  if (auto* p = window_->FindSubView<TPrintPreview>(kImag)) {
    p->SetOffscreen(offscreen, true);
    p->Update();
  }
  SetViewText(kImgn, name);
  myApplicationPollEvent();
}

void TPrintBGBehavior::UpdateJobsList() {
  if (!window_ || !jobList_) return;
  auto* list = window_->FindSubView<TJobsListView>(kJobs);
  if (!list) return;
  const auto want = static_cast<int16_t>(std::min<size_t>(jobList_->GetSize(), 32767));
  const int16_t have = list->GetNumRows();
  // Rows show the list by position, so their texts may change without the
  // count changing: the list is shown again in any case.
  if (have == want) {
    list->UpdateList();
    list->Update();
    return;
  }
  if (have < want) list->InsertItemsLast(int16_t(want - have));
  else list->DeleteItemsLast(int16_t(have - want));
  list->UpdateList();
  if (auto* pict = window_->FindSubView<TPrintPreview>(kPict)) pict->SetOffscreen(nullptr, true);
  list->ClearSelection();
  list->ForgetSelection();
  // Shown at once, also while a job step keeps the event loop from painting.
  list->Update();
}

std::filesystem::path TPrintBGBehavior::PrintLogPath() { return host::applicationFolder() / kPrintLogName; }

void TPrintBGBehavior::CreatePrintLogFile() {
  // Emptied, or made, without following a link a station user may have put
  // at its name in the application folder.
  const host::NoLinkFile log = host::OpenWithoutLinks(PrintLogPath().string(), host::NoLinkStart::kEmptied);
  if (log.fd >= 0) ::close(log.fd);
  if (!log.Note().empty()) platform::LogLine("The print log: " + log.Note());
  logCreated_ = true;
}

namespace {

// Texts from the job file go into one field of one record: a tab, a return
// or any other control character in them would split the record, so each
// becomes a space.
std::string LogField(std::string_view text) {
  std::string field(text);
  for (char& c : field)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return field;
}

}  // namespace

std::string TPrintBGBehavior::PrintLogLine(const CStr255_AC& date, const CStr255_AC& time, uint32_t elapsedTicks,
                                           const CStr255_AC& printer, const CStr255_AC& templ,
                                           const tJobInfo& info) {
  std::string line;
  const char tab = '\t';
  line += date.view();
  line += tab;
  line += time.view();
  line += tab;
  line += std::to_string(elapsedTicks / 60);
  line += tab;
  line += "Printer: ";
  line += LogField(printer.view());
  line += tab;
  line += "Template: ";
  line += LogField(templ.view());
  line += tab;
  line += LogField(info.first.view());
  line += tab;
  line += LogField(info.second.view());
  line += tab;
  line += info.w64 != 0 ? "TRUE" : "FALSE";
  line += tab;
  line += '\r';
  return line;
}

void TPrintBGBehavior::PrintLog(uint32_t elapsedTicks) {
  if (!logCreated_) CreatePrintLogFile();
  std::string note;
  host::AppendWithoutLinks(PrintLogPath().string(),
                           PrintLogLine(getCurrentDateString(2), getCurrentTimeString(), elapsedTicks,
                                        GetViewText(kPrnt), GetViewText(kTmpn), jobInfo_),
                           &note);
  if (!note.empty()) platform::LogLine("The print log: " + note);
}

bool TPrintBGBehavior::DoMenuCommand(CommandNumber command) {
  if (command == cQuit) {
    EnableBackgroundPrinting(false);
    return false;
  }
  if (command == cStartPause) {
    EnableBackgroundPrinting(!printing_);
    return true;
  }
  return false;
}

void TPrintBGBehavior::DoSetupMenus() {
  if (!gApplication) return;
  gApplication->Enable(cStartPause, true);
  gApplication->Enable(cQuit, !printing_);
}

bool TPrintBGBehavior::DoIdle(IdlePhase phase) {
  if (phase != idleContinue || !printing_ || pending_.empty()) return false;
  const std::filesystem::path file = std::move(pending_.front());
  pending_.pop_front();
  DoPrint(file);
  return false;
}

bool TPrintBGBehavior::DoPrint(const std::filesystem::path& file) {
  platform::LogF("TPrintBGBehavior::DoPrint %s: nothing to print (jobs arrive through the spool folder)",
                 file.string().c_str());
  return true;
}

}  // namespace app
