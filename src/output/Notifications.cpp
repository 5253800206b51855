#include "output/Notifications.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

#include "host/notify/Workspace.h"
#include "host/sys/Folders.h"
#include "host/sys/KeyedArchive.h"
#include "platform/Log.h"

namespace output {

namespace {

host::NotificationValue ToNotificationValue(const host::PlistValue& v) {
  using K = host::PlistValue::Kind;
  switch (v.kind()) {
    case K::Bool: return host::NotificationValue(*v.asBool());
    case K::Integer: return host::NotificationValue(int64_t(*v.asInteger()));
    case K::Real: return host::NotificationValue(*v.asReal());
    case K::String: return host::NotificationValue(*v.asString());
    case K::Dictionary: return host::NotificationValue(ToNotificationDict(*v.asDict()));
    case K::Array: {
      host::NotificationDict d;
      const auto& a = *v.asArray();
      for (size_t i = 0; i < a.size(); ++i) d[std::to_string(i)] = ToNotificationValue(a[i]);
      return host::NotificationValue(std::move(d));
    }
    case K::Date: return host::NotificationValue(v.asDate()->toUnix());
    case K::Data: return host::NotificationValue(std::string(v.asData()->begin(), v.asData()->end()));
    default: return host::NotificationValue(std::string());
  }
}

const std::string kRow(43, '=');

std::unique_ptr<KivoNSNotificationCenter>& Centre() {
  static std::unique_ptr<KivoNSNotificationCenter> centre;
  return centre;
}

}  // namespace

std::string getApplicationName() {
  const auto exe = host::executablePath();
  return exe.empty() ? std::string("Kivo-Processor") : exe.filename().string();
}

host::NotificationDict ToNotificationDict(const host::PlistDict& dict) {
  host::NotificationDict out;
  for (const auto& [k, v] : dict) out[k] = ToNotificationValue(v);
  return out;
}

bool mySendNotificationToWebServerAppWithDictionary(const host::PlistDict& job) {
  host::NotificationDict info;
  info["senderApp"] = getApplicationName();
  info["printJob"] = ToNotificationDict(job);
  platform::LogLine("Dictionary=" + host::NotificationDictToJson(info));
  return host::DistributedNotificationCenter::Default().PostAndConfirm(kWebServerNotification, info, "test");
}

std::optional<host::PlistDict> UnarchiveWebDictionary(std::span<const uint8_t> archive) {
  platform::LogF("My archived dictionary contains %d bytes", int(archive.size()));
  if (archive.empty()) {
    platform::LogLine("fCurrentDictionaryBuffer == nil");
    return std::nullopt;
  }
  std::string error;
  auto value = host::decodeKeyedArchive(archive, &error);
  if (!value || !value->asDict()) {
    platform::LogLine("object == nil or not of dictionary type");
    return std::nullopt;
  }
  return *value->asDict();
}

bool NotifyWebServer(host::PlistDict job, const std::string& status) {
  if (!job.contains("imageurl")) {
    platform::LogLine("dictionary does not contain imageurl ");
    return false;
  }
  job["status"] = status;
  return mySendNotificationToWebServerAppWithDictionary(job);
}

KivoNSNotificationCenter::KivoNSNotificationCenter(TNotificationServices& services)
    : services_(services), self_(std::make_shared<KivoNSNotificationCenter*>(this)) {
  platform::LogLine("Inside KivoNSNotificationCenter => init...");
}

KivoNSNotificationCenter::~KivoNSNotificationCenter() {
  platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => dealloc...");
  platform::LogLine(kRow);
  destroyListerForChildApps();
  auto& centre = host::DistributedNotificationCenter::Default();
  for (int id : observers_)
    if (id) centre.RemoveObserver(id);
}

void KivoNSNotificationCenter::setup() {
  platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => setup...");
  platform::LogLine(kRow);
  auto& centre = host::DistributedNotificationCenter::Default();
  // Without a bus the program still prints; only the notifications are lost.
  if (!centre.HasSessionBus())
    platform::LogLine("No session bus (" + centre.SessionBusProblem() +
                      "): notifications to and from the other station applications are off");
  observers_[0] = centre.AddObserver("kivoSalesStationNotification",
                                     [this](const host::Notification& n) { handleDistributedNotificationA(n); });
  observers_[1] = centre.AddObserver("kivoXNotification",
                                     [this](const host::Notification& n) { handleDistributedNotificationA(n); });
  observers_[2] = centre.AddObserver(
      "KivoLocalNotificationA", [this](const host::Notification& n) { handleLocalNotificationA(n); }, false);
}

void KivoNSNotificationCenter::handleDistributedNotificationA(const host::Notification& note) {
  for (int i = 0; i < 3; ++i) platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => handleDistributedNotificationA:...");
  platform::LogLine("Inside KivoNSNotificationCenter => handleDistributedNotificationA:...object = [" + note.object + "]");
  platform::LogLine("Inside KivoNSNotificationCenter => handleDistributedNotificationA:...userInfo = [" +
                    host::NotificationDictToJson(note.userInfo) + "]");
  services_.Beep();
  if (!note.userInfo.empty() && !note.userInfo.contains("senderApp"))
    platform::LogLine("=======NO SENDER APP================");
}

void KivoNSNotificationCenter::handleLocalNotificationA(const host::Notification& note) {
  for (int i = 0; i < 3; ++i) platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...");
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...object = [" + note.object + "]");
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...userInfo = [" +
                    host::NotificationDictToJson(note.userInfo) + "]");
  services_.Beep();
}

namespace {

std::optional<double> PlistNumber(const host::PlistDict& dict, const char* key) {
  double v = 0;
  const auto it = dict.find(key);
  if (it == dict.end() || !it->second.toDouble(v)) return std::nullopt;
  return v;
}

std::optional<double> NoteNumber(const host::NotificationDict& dict, const char* key) {
  const auto it = dict.find(key);
  return it == dict.end() ? std::nullopt : it->second.AsNumber();
}

// The process id a launch dictionary's serial number stands for; 0 when it
// names none.
pid_t ProcessOfLaunch(const host::PlistDict& launch) {
  const auto high = PlistNumber(launch, "NSApplicationProcessSerialNumberHigh");
  const auto low = PlistNumber(launch, "NSApplicationProcessSerialNumberLow");
  if (!high || !low || *high != 0 || !(*low > 0) || *low > 4194304.0 || std::floor(*low) != *low) return 0;
  return pid_t(*low);
}

bool ProgramInstalled(const std::filesystem::path& folder, const char* program) {
  std::filesystem::path where = folder;
  if (where.empty()) where = host::executablePath().parent_path();
  if (where.empty()) return false;
  std::error_code ec;
  const auto st = std::filesystem::status(where / program, ec);
  return !ec && std::filesystem::is_regular_file(st) &&
         (st.permissions() & std::filesystem::perms::owner_exec) != std::filesystem::perms::none;
}

}  // namespace

bool KivoNSNotificationCenter::launchChildProcess(const host::PlistDict& launch) {
  const auto pathIt = launch.find("NSApplicationPath");
  if (pathIt == launch.end() || !pathIt->second.asString()) return false;
  const std::string path = *pathIt->second.asString();
  // Only a program that is there, named by its whole path.
  std::error_code ec;
  if (path.empty() || path.front() != '/' || !std::filesystem::is_regular_file(path, ec)) return false;
  std::vector<std::string> arguments;
  if (const auto it = launch.find("NSApplicationArgv"); it != launch.end() && it->second.asArray())
    for (const host::PlistValue& a : *it->second.asArray())
      if (const std::string* text = a.asString()) arguments.push_back(*text);
  std::map<std::string, std::string> environment;
  if (const auto it = launch.find("NSApplicationEnvironment"); it != launch.end() && it->second.asDict())
    for (const auto& [name, value] : *it->second.asDict())
      if (const std::string* text = value.asString(); text && !name.empty() && name.find('=') == std::string::npos)
        environment[name] = *text;
  std::string error;
  const pid_t pid = host::Workspace::Shared().LaunchApplication(path, arguments, environment, &error);
  if (pid <= 0) {
    platform::LogF("The application %s could not be started: %s", path.c_str(), error.c_str());
    return false;
  }
  host::PlistDict child = launch;
  child["NSApplicationProcessSerialNumberLow"] = int64_t(pid);
  child["NSApplicationProcessSerialNumberHigh"] = int64_t(0);
  if (childProcesses_ && std::find(childProcesses_->begin(), childProcesses_->end(), child) == childProcesses_->end())
    childProcesses_->push_back(std::move(child));
  return true;
}

void KivoNSNotificationCenter::childProcessDidTerminate(const host::Notification& note) {
  platform::LogLine("App terminated: " + host::NotificationDictToJson(note.userInfo));
  if (!childProcesses_ || childProcesses_->empty()) return;
  const auto high = NoteNumber(note.userInfo, "NSApplicationProcessSerialNumberHigh");
  const auto low = NoteNumber(note.userInfo, "NSApplicationProcessSerialNumberLow");
  if (!high || !low) return;
  const auto child = std::find_if(childProcesses_->begin(), childProcesses_->end(), [&](const host::PlistDict& e) {
    return PlistNumber(e, "NSApplicationProcessSerialNumberHigh") == high &&
           PlistNumber(e, "NSApplicationProcessSerialNumberLow") == low;
  });
  if (child == childProcesses_->end()) return;
  const host::PlistDict entry = *child;
  childProcesses_->erase(child);
  std::string name, pid;
  if (const auto it = note.userInfo.find("NSApplicationName"); it != note.userInfo.end() && it->second.AsString())
    name = *it->second.AsString();
  if (const auto n = NoteNumber(note.userInfo, "NSApplicationProcessIdentifier")) pid = platform::StringF("%.0f", *n);
  platform::LogLine("Child process \"" + name + "\" (PID " + pid +
                    ") has terminated unexpectedly. Attempting to relaunch...");
  std::weak_ptr<KivoNSNotificationCenter*> self = self_;
  host::PerformAfterDelay(3.0, [self, entry] {
    const auto alive = self.lock();
    // Not once the listener has gone: its children were quit on purpose.
    if (alive && (*alive)->childProcesses_) (*alive)->launchChildProcess(entry);
  });
}

void KivoNSNotificationCenter::quitApplication(const host::PlistDict& launch) {
  if (const pid_t pid = ProcessOfLaunch(launch)) host::Workspace::Shared().TerminateApplication(pid);
}

void KivoNSNotificationCenter::Listen() {
  platform::LogLine("Inside KivoNSNotificationCenter => setupListenerForChildApps...");
  destroyListerForChildApps();
  childProcesses_.emplace();
  terminationObserver_ = host::DistributedNotificationCenter::Default().AddObserver(
      host::NSWorkspaceDidTerminateApplicationNotification,
      [this](const host::Notification& n) { childProcessDidTerminate(n); }, false);
}

void KivoNSNotificationCenter::setupListenerForChildApps() { Listen(); }

int KivoNSNotificationCenter::setupListenerForNikonApp() {
  Listen();
  return 0;
}

int KivoNSNotificationCenter::setupListenerForCanonApp() {
  Listen();
  return 0;
}

void KivoNSNotificationCenter::destroyListerForChildApps() {
  platform::LogLine("Inside KivoNSNotificationCenter => destroyListerForChildApps...");
  if (terminationObserver_) host::DistributedNotificationCenter::Default().RemoveObserver(terminationObserver_);
  terminationObserver_ = 0;
  if (!childProcesses_) return;
  const std::vector<host::PlistDict> children = std::move(*childProcesses_);
  childProcesses_.reset();
  for (const host::PlistDict& entry : children) quitApplication(entry);
}

bool KivoNSNotificationCenter::eMailAppExists(const std::filesystem::path& folder) const {
  return ProgramInstalled(folder, kEmailEntryProgram);
}

bool KivoNSNotificationCenter::kivoMoxatrineAppExists(const std::filesystem::path& folder) const {
  return ProgramInstalled(folder, kMoxatrineProgram);
}

void setupNotificationCenter(TNotificationServices& services) {
  if (Centre()) return;
  Centre() = std::make_unique<KivoNSNotificationCenter>(services);
  Centre()->setup();
}

KivoNSNotificationCenter* gNotificationCenter() { return Centre().get(); }

}  // namespace output
