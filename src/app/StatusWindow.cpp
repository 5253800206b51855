#include "app/StatusWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "app/AboutWindow.h"
#include "app/AppServices.h"
#include "host/sys/Folders.h"
#include "prefs/PrefRecords.h"
#include "app/BackgroundPrintApp.h"
#include "app/PrintBGBehavior.h"
#include "app/SpoolQueue.h"
#include "host/base/ByteOrder.h"
#include "host/base/Fd.h"
#include "host/files/HeldFolders.h"
#include "host/files/FileOps.h"
#include "host/files/ResourceFork.h"
#include "host/imageio/ImageFile.h"
#include "host/ui/Application.h"
#include "host/ui/ViewServer.h"
#include "host/ui/Widgets.h"
#include "imaging/ImageLoading.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"

namespace app {

namespace fs = std::filesystem;

namespace {
constexpr IDType kJobs = FourCC("jobs"), kPict = FourCC("pict"), kBusy = FourCC("busy"), kVers = FourCC("vers"),
                 kCprt = FourCC("cprt"), kLogo = FourCC("logo"), kImag = FourCC("imag");
constexpr int16_t kLogoPicture = 410;
}  // namespace

// ---- TBackgroundPrintWindow ----

namespace {
bool HasFolderToRead(const TPrintBGBehavior* controller) {
  return controller && !controller->IsBackgroundPrintingEnabled() && controller->GetIdleFreq() != kMaxIdleTime &&
         pipeline::gJobFileList;
}
}  // namespace

bool TBackgroundPrintWindow::WantsIdle() const { return inIdle_ || HasFolderToRead(GetPrintBGBehavior()); }

bool TBackgroundPrintWindow::DoIdle(IdlePhase phase) {
  if (inIdle_) {
    host::Beep();
    DisplayNormalMessage("TBackgroundPrintWindow::DoIdle is Recursing");
    return false;
  }
  inIdle_ = true;
  TPrintBGBehavior* controller = GetPrintBGBehavior();
  if (phase == idleContinue && HasFolderToRead(controller)) {
    if (pipeline::gJobFileList->FindNewJobFiles(*getMyPrintServerPrefs())) controller->UpdateJobsList();
  }
  inIdle_ = false;
  return false;
}

void TBackgroundPrintWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  auto* app = dynamic_cast<TBackgroundPrintApp*>(gApplication);
  switch (id) {
    case FourCC("bout"): showAboutBox(); break;
    case FourCC("exit"):
      if (app) app->PostCommand(std::make_unique<TPostMenuCommand>(cQuit, 0));
      break;
    case FourCC("file"):
      if (app) app->DoMenuCommand(1006);
      break;
    case FourCC("pop1"): {
      auto* popup = dynamic_cast<TPopup*>(view);
      if (!popup || !app) break;
      static constexpr CommandNumber kItems[] = {0, 0, 0, 1006, 1003, 1004, 1010, 1005, 1011};
      const int16_t item = popup->GetCurrentItem();
      // The popup shows its title again, so the same item can be chosen twice.
      popup->SetCurrentItem(1, true);
      if (item >= 3 && item <= 8) app->DoMenuCommand(kItems[item]);
      break;
    }
    case FourCC("rmve"): RemoveSelectedJob(); break;
    case FourCC("scrl"): break;
    case FourCC("strt"):
      if (event && event->clickCount > 1) break;
      if (TPrintBGBehavior* c = GetPrintBGBehavior()) c->EnableBackgroundPrinting(!c->IsBackgroundPrintingEnabled());
      break;
    case FourCC("kivo"): MyBringApplicationToFront(FourCC("ZRVz"), FourCC("APPL")); break;
    case FourCC("path"): HandlePathSelect(event); break;
    default: TWindow::DoEvent(eventNumber, source, event); break;
  }
}

void TBackgroundPrintWindow::RemoveSelectedJob() {
  TPrintBGBehavior* controller = GetPrintBGBehavior();
  auto* queue = pipeline::gJobFileList;
  if (!jobs_ || !queue || !controller) return;
  if (controller->IsStepRunning()) {
    DisplayNormalMessage("A job step is under way: remove the job once it has finished.");
    return;
  }
  if (queue->IsEmpty() || !jobs_->HasSelection() || jobs_->LastSelectedRow() < 1) return;
  // The file that was selected, not whatever the row shows after a re-scan.
  fs::path file = jobs_->SelectedFile();
  if (file.empty()) {
    const size_t row = size_t(jobs_->LastSelectedRow());
    file = QueuedFile(row - 1);
  }
  // Only a job still waiting in the queue; the job in work is not in it.
  if (file.empty() || !RemoveFromQueue(file)) return;
  // Deleted on "All Files" reached without a link, with its sidecar.
  if (const OSErr err = host::DeleteItem(file.string()); err != noErr && err != fnfErr)
    platform::LogF("Removing the job %s failed: error %d", file.string().c_str(), int(err));
  jobs_->ClearSelection();
  jobs_->ForgetSelection();
  controller->UpdateJobsList();
  if (auto* pict = FindSubView<TPrintPreview>(kPict)) pict->SetOffscreen(nullptr, true);
}

void TBackgroundPrintWindow::Activate(bool active) {
  if (active) std::printf("TBackgroundPrintWindow::Activate\n");
  TWindow::Activate(active);
  if (active) ShowOrHidePagePreview();
  // Not while a job step waits in a dialog: the step owns the queue then.
  if (TPrintBGBehavior* controller = GetPrintBGBehavior(); active && controller && !controller->IsStepRunning())
    controller->Services().CheckForNewJobs();
}

void TBackgroundPrintWindow::DoCloseBox() {
  platform::LogLine("The status window was closed: it is minimised, and printing goes on");
  Minimize();
}

void TBackgroundPrintWindow::ShowOrHidePagePreview() {
  TView* preview = FindSubView(kImag);
  if (!preview) return;
  const bool hide = getMyPrintServerPrefs()->hideImage != 0;
  if (preview->IsShown() != hide) return;
  preview->Show(!hide, true);
  platform::LogLine(hide ? "The page preview is hidden (\"Hide the page preview\" is on)"
                         : "The page preview is shown");
}

void TBackgroundPrintWindow::SetProxyToJobsFolder() {
  // The title bar shows the print-jobs folder where the desktop shows paths.
  SetProxyPath(gSpoolFolders().jobs.string());
}

std::vector<fs::path> TBackgroundPrintWindow::PathFolders() const {
  std::vector<fs::path> folders;
  const std::string proxy = GetProxyPath();
  if (proxy.empty()) return folders;
  for (fs::path p = fs::path(proxy).lexically_normal(); !p.empty(); p = p.parent_path()) {
    if (p.filename().empty() && p != p.root_path()) continue;  // a trailing separator
    folders.push_back(p);
    if (p == p.root_path()) break;
  }
  return folders;
}

bool TBackgroundPrintWindow::HandlePathSelect(const TToolboxEvent*) {
  SetProxyToJobsFolder();
  const std::vector<fs::path> folders = PathFolders();
  if (folders.empty()) return false;
  std::vector<std::string> names;
  for (const fs::path& f : folders) names.push_back(f == f.root_path() ? f.string() : f.filename().string());
  TView* at = FindSubView(FourCC("path"));
  host::PopUpMenuBelow(at ? *at : *this, names, [folders](int16_t chosen) {
    // The first item is the folder the window already stands for.
    if (chosen > 1 && size_t(chosen) <= folders.size()) {
      MyBringFinderToFront();
      OpenWithDesktop(folders[size_t(chosen) - 1].string());
    }
  });
  return true;
}

void TBackgroundPrintWindow::DoPostCreate() {
  TWindow::DoPostCreate();
  jobs_ = FindSubView<TJobsListView>(kJobs);
  if (jobs_) jobs_->DeleteAll();
  SetIdleFreq(1);
  DrawSolvantaLogo();
  SetProxyToJobsFolder();
  SetWantsMenuBar(true);
  if (TView* busy = FindSubView(kBusy)) {
    tPrintServerPrefs* p = getMyPrintServerPrefs();
    busy->Show(p->enableBackground != 0);
  }
  ShowOrHidePagePreview();
}

void TBackgroundPrintWindow::DrawSolvantaLogo() {
  if (!FindSubView(kLogo)) {
    auto logo = std::make_unique<TPictureView>();
    logo->SetIdentifier(kLogo);
    TView* view = AddSubView(std::move(logo));
    view->Locate(0, 2);
    view->Resize(421, 58);
    if (host::GWorldHandle picture = host::GetPictureResource(kLogoPicture))
      static_cast<TPictureView*>(view)->SetOffscreen(picture.get());
  }
  if (auto* c = FindSubView<TStaticText>(kCprt)) {
    c->SetText("Unattended photo print processor");
    c->SetTextStyle(9, false, teFlushRight);
  }
  if (auto* v = FindSubView<TStaticText>(kVers)) {
    v->SetText("Unknown?");
    CStr255_AC text = "Ver: ";
    text += GetSoftwareVersion();
    v->SetText(text);
    v->SetTextStyle(9, false, teFlushRight);
  }
}

// ---- TJobsListView ----

CStr255_AC TJobsListView::GetItemText(int16_t row) const {
  if (row < 1) return {};
  const fs::path file = QueuedFile(size_t(row) - 1);
  return file.empty() ? CStr255_AC() : NSStringToCStr255(file.filename().string());
}

void TJobsListView::DoMouseCommand(int16_t row, const TToolboxEvent& event) {
  std::printf("TJobsListView::DoMouseCommand\n");
  selectedFile_ = row >= 1 ? QueuedFile(size_t(row) - 1) : fs::path();
  TTextListView::DoMouseCommand(row, event);
  ShowPict(row);
}

void TJobsListView::ShowPict(int16_t row) {
  std::printf("TJobsListView::ShowPict\n");
  TWindow* window = GetWindow();
  auto* pict = window ? window->FindSubView<TPrintPreview>(kPict) : nullptr;
  if (!pict) return;
  host::GWorldHandle thumb;
  if (row >= 1)
    if (const fs::path file = QueuedFile(size_t(row) - 1); !file.empty()) thumb = getThumbnailResourceFromFile(file);
  pict->SetOffscreen(thumb.get(), true);
}

host::GWorldHandle getThumbnailResourceFromFile(const fs::path& file) {
  host::ResourceMap map;
  if (host::ReadResourceFork(file.string(), &map) != noErr) return nullptr;
  const host::Resource* pnot = map.Get(FourCC("pnot"), 0);
  const host::Resource* pict = nullptr;
  if (pnot && pnot->data.size() >= 12) {
    const auto id = int16_t(uint16_t(pnot->data[10]) << 8 | pnot->data[11]);
    pict = map.Get(FourCC("PICT"), id);
  }
  if (!pict || pict->data.empty()) {
    std::printf("getThumbnailResourceFromFile has NO picHandle\n");
    return nullptr;
  }
  auto picture = std::make_unique<Picture>();
  picture->data = pict->data;
  if (host::GWorldHandle drawn = PicHandleToOffscreen(std::move(picture))) return drawn;
  // Some stations store the preview's compressed image data as it is.
  host::ImageReadResult r = host::DecodeImage(pict->data);
  return r.ok() ? std::move(r.image) : nullptr;
}

// ---- TMyChasingArrows ----

void TMyChasingArrows::EnableIdle(bool on) {
  idleOn_ = on;
  SetIdleFreq(on ? 6 : kMaxIdleTime);
}

bool TMyChasingArrows::WantsIdle() const { return idleOn_ && !host::IsUnattended(); }

bool TMyChasingArrows::DoIdle(IdlePhase) {
  if (idleOn_) Animate();
  return false;
}

// ---- TErrorListView ----

namespace {
constexpr size_t kErrorRowSize = 257;

// The application folder is open to the shop's stations: "Error Log File"
// is read only as the regular file standing at its name, never through a
// link put there (nor a FIFO, which would hold the window).
host::Fd OpenErrorLog(const fs::path& file) {
  return host::Fd(host::OpenRegularFile(file.c_str(), O_RDONLY | O_NOFOLLOW));
}
}  // namespace

void TErrorListView::DoPostCreate() {
  TTextListView::DoPostCreate();
  if (file_.empty()) file_ = host::applicationFolder() / "Error Log File";
  UpdateList();
}

void TErrorListView::UpdateList() {
  const host::Fd log = OpenErrorLog(file_);
  struct stat st {};
  const bool sized = log.get() >= 0 && ::fstat(log.get(), &st) == 0;
  const uintmax_t rows = sized ? std::min<uintmax_t>(uintmax_t(st.st_size) / kErrorRowSize, 32767) : 0;
  if (GetNumRows() < int16_t(rows)) InsertItemsLast(int16_t(rows - uintmax_t(GetNumRows())));
  TTextListView::UpdateList();
}

CStr255_AC TErrorListView::GetItemText(int16_t row) const {
  if (row < 1) return {};
  const host::Fd log = OpenErrorLog(file_);
  if (log.get() < 0) return {};
  uint8_t buf[256] = {};
  ssize_t got;
  do got = ::pread(log.get(), buf, sizeof buf, off_t(row - 1) * off_t(kErrorRowSize));
  while (got < 0 && errno == EINTR);
  if (got < 1) return {};
  return CStr255_AC::FromStored(buf, size_t(got));
}

void RegisterStatusWindowClasses() {
  host::RegisterViewClass<TBackgroundPrintWindow>("TBackgroundPrintWindow");
  host::RegisterViewClass<TJobsListView>("TJobsListView");
  host::RegisterViewClass<TPrintPreview>("TPrintPreview");
  host::RegisterViewClass<TMyChasingArrows>("TMyChasingArrows");
  host::RegisterViewClass<TErrorListView>("TErrorListView");
}

}  // namespace app
