#include "app/AboutWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/NewAboutBoxController.h"
#include "host/ui/WindowActivation.h"
#include "host/notify/Workspace.h"
#include "host/sys/Process.h"
#include "host/sys/ProcessList.h"
#include "host/ui/Controls.h"
#include "host/ui/ViewServer.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/ProgramVersion.h"

namespace app {

namespace {
constexpr int16_t kAboutWindowID = 1701;
constexpr int16_t kAboutContentID = 1015;
bool gAnotherCopyRunning = false;
}  // namespace

void SetAnotherCopyRunning(bool on) { gAnotherCopyRunning = on; }
bool AnotherCopyRunning() { return gAnotherCopyRunning; }

void TAboutWindow::DoPostCreate() {
  TWindow::DoPostCreate();
  TView* content = nullptr;
  DoCreateViews(kAboutContentID, this, &content);
  if (content) {
    content->Locate(0, 0);
    // The one version of the build, as --version and the log show it.
    if (auto* t = content->FindSubView<TStaticText>(FourCC("txt2"))) {
      CStr255_AC text = "Version ";
      text += GetSoftwareVersion();
      t->SetText(text);
    }
    const CRect_AC frame = content->GetFrame();
    Resize(int16_t(frame.right - frame.left), int16_t(frame.bottom - frame.top));
    TView* vueB = content->FindSubView(FourCC("vueB"));
    TView* vueC = FindSubView(FourCC("vueC"));
    if (vueB && vueC && vueC != vueB) {
      const CRect_AC f = vueB->GetFrame();
      vueC->Locate(f.left, f.top);
      vueC->Resize(int16_t(f.right - f.left), int16_t(f.bottom - f.top));
      vueC->Show(true);
    }
  }
}

void TAboutWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  std::printf("TAboutWindow::DoEvent\nTAboutWindow::DoEvent => Found Identifier 0x%04x\n", unsigned(id));
  TWindow::DoEvent(eventNumber, source, event);
  if (id == FourCC("url1") || id == FourCC("url2")) {
    std::printf("TAboutWindow::DoEvent => 'urlx'\n");
    if (auto* b = dynamic_cast<TButton*>(view)) GotoURL(b->GetTitle());
    std::printf("TAboutWindow::DoEvent => 'url?'\n");
  }
}

void showAboutBox() {
  TWindow* window = NewTemplateWindow(kAboutWindowID);
  if (!window) {
    host::Beep();
    return;
  }
  window->PoseModally();
  window->Close();
}

bool GotoURL(const CStr255_AC& url) { return GotoNSURL(url.ToUTF8()); }

bool OpenWithDesktop(const std::string& target) {
  std::string error;
  if (!host::startDetached("xdg-open", {target}, &error)) {
    platform::LogF("Opening %s failed: %s", target.c_str(), error.c_str());
    return false;
  }
  return true;
}

CStr255_AC GetSoftwareVersion() {
  const std::string version = platform::ProgramVersion();
  if (version.empty()) return "Unknown Version";
  return CStr255_AC(version);
}

void MyStartUpSplashWindowUpdateStatus(TView* view, const CStr255_AC& text) {
  if (!view || text.IsEmpty()) return;
  platform::LogF("%s", text.ToUTF8().c_str());
  auto* stat = view->FindSubView<TStaticText>(FourCC("stat"));
  if (stat) stat->SetText(text, true);
  // Long enough for the line to be read before the next one replaces it.
  std::this_thread::sleep_for(std::chrono::milliseconds(10 * 1000 / 60));
  if (stat) stat->Update();
  host::ShowWindowsNow();
}

namespace {
// Where somebody can see the splash, it stays up this long at least, so that
// a quick start-up does not only flash it.
constexpr double kSplashSecondsAtLeast = 1.5;
std::chrono::steady_clock::time_point gSplashShownAt;
}  // namespace

TWindow* ShowStartUpSplash() {
  TWindow* window = NewTemplateWindow(kAboutWindowID);
  if (!window) return nullptr;
  window->Open();
  // Drawn before start-up's folder work keeps the event loop from running.
  host::ShowWindowsNow();
  gSplashShownAt = std::chrono::steady_clock::now();
  platform::SetStartupStatusHook([window](const CStr255_AC& text) { MyStartUpSplashWindowUpdateStatus(window, text); });
  return window;
}

void CloseStartUpSplash(TWindow* splash) {
  if (!splash) return;
  platform::SetStartupStatusHook({});
  const double shown =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - gSplashShownAt).count();
  if (host::IsUnattended() || shown >= kSplashSecondsAtLeast) {
    splash->Close();
    return;
  }
  host::PerformAfterDelay(kSplashSecondsAtLeast - shown, [splash] {
    // Unless it went another way in the meantime.
    const std::vector<TWindow*> open = TWindow::AllWindows();
    if (std::find(open.begin(), open.end(), splash) != open.end()) splash->Close();
  });
}

void RegisterAboutWindowClasses() { host::RegisterViewClass<TAboutWindow>("TAboutWindow"); }

}  // namespace app

void TPostMenuCommand::DoIt() {
  if (gApplication) gApplication->DoMenuCommand(GetCommandNumber());
}

uint8_t isAppRunning(uint32_t creator) {
  if (creator != FourCC("ZRVb")) return 0;
  return app::AnotherCopyRunning() ? 2 : 1;
}

namespace {
std::string& StationProgramName() {
  static std::string name = "kivo-station";
  return name;
}
}  // namespace

void SetStationProgramNameForTesting(const std::string& name) { StationProgramName() = name; }

std::string ProgramNameForSignature(uint32_t signature, uint32_t type) {
  if (type != FourCC("APPL")) return {};
  if (signature == FourCC("ZRVb")) return "kivo-processor";
  if (signature == FourCC("ZRVz")) return StationProgramName();
  return {};
}

OSErr MyFindProcess(uint32_t signature, uint32_t type, ProcessSerialNumber* psn) {
  return MyFindProcessNew(signature, type, psn);
}

OSErr MyFindProcessNew(uint32_t signature, uint32_t type, ProcessSerialNumber* psn) {
  if (psn) *psn = ProcessSerialNumber{};
  const std::string name = ProgramNameForSignature(signature, type);
  if (!name.empty()) {
    for (const host::RunningProgram& p : host::runningPrograms()) {
      if (p.name != name) continue;
      if (psn) psn->lowLongOfPSN = uint32_t(p.pid);
      return noErr;
    }
  }
  platform::LogLine("GetNextProcess END OF LIST...");
  return procNotFound;
}

namespace {

// The window manager is asked to activate the program's window; without one
// to ask (Wayland, headless) or without such a window, the operator hears it.
bool ActivateOrBeep(const char* what, int64_t pid, const std::vector<std::string>& names) {
  switch (host::ActivateProgramWindow(pid, names)) {
    case host::ActivationResult::kAsked:
      platform::LogF("Asked the window manager to bring %s to the front", what);
      return true;
    case host::ActivationResult::kNoWindow:
      platform::LogF("%s has no window to bring to the front", what);
      break;
    case host::ActivationResult::kNoWindowSystem:
      platform::LogF("Bringing %s to the front is not possible without X11", what);
      break;
  }
  host::Beep();
  return false;
}

}  // namespace

OSErr MyBringApplicationToFront(uint32_t signature, uint32_t type) {
  ProcessSerialNumber psn;
  const OSErr err = MyFindProcessNew(signature, type, &psn);
  const std::string name = ProgramNameForSignature(signature, type);
  const std::string what = "the application '" + FourCCToString(signature) + "'";
  if (err != noErr) {
    host::Beep();
    return err;
  }
  ActivateOrBeep(what.c_str(), int64_t(psn.lowLongOfPSN), {name});
  return err;
}

// The file managers of the common desktops, by the WM_CLASS of their windows.
const std::vector<std::string>& FileManagerNames() {
  static const std::vector<std::string> names = {"org.gnome.Nautilus", "nautilus", "dolphin", "thunar",
                                                 "pcmanfm",            "pcmanfm-qt", "nemo",   "caja"};
  return names;
}

void MyBringFinderToFront() { ActivateOrBeep("the file manager", 0, FileManagerNames()); }
