// The notification to the companion web-server application that a job from
// the web has been processed or has failed, and the observers of the
// sibling stations' notifications.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/notify/DistributedNotifications.h"
#include "host/sys/PlistValue.h"

namespace output {

inline constexpr char kWebServerNotification[] = "KivoWebServerNotification";
inline constexpr char kJobProcessedStatus[] = "Job processed by Kivo-Processor";
inline constexpr char kJobFailedStatus[] = "Job failed to process";

// The file name of this program as it is installed.
std::string getApplicationName();

// A property-list dictionary in the form a notification carries (dates and
// data become text, arrays become dictionaries keyed "0", "1", ...).
host::NotificationDict ToNotificationDict(const host::PlistDict& dict);

// Posts "KivoWebServerNotification" with "senderApp" and "printJob"; true
// once it has left for the bus (host::DistributedNotificationCenter::
// PostAndConfirm).
bool mySendNotificationToWebServerAppWithDictionary(const host::PlistDict& job);

// The job's web dictionary (a keyed archive) when it is a dictionary; logs
// why not otherwise.
std::optional<host::PlistDict> UnarchiveWebDictionary(std::span<const uint8_t> archive);

// Sets "status" in a web job's dictionary and posts it; true once it has
// left for the bus. Nothing is sent for a dictionary without "imageurl".
bool NotifyWebServer(host::PlistDict job, const std::string& status);

// What the centre needs of the program around it.
class TNotificationServices {
 public:
  virtual ~TNotificationServices() = default;
  // The system beep (a line in the log where nobody can hear it).
  virtual void Beep() = 0;
};

// The program names of the sibling applications looked for beside this one.
inline constexpr char kEmailEntryProgram[] = "kivo-email-entry";
inline constexpr char kMoxatrineProgram[] = "kivo-moxatrine";

// The observers of the sibling stations: one object for the whole process.
// It also starts sibling applications as its children (a launch dictionary:
// "NSApplicationPath", "NSApplicationArgv" the arguments after the program's
// name, "NSApplicationEnvironment" variables added to ours), starts a child
// again 3 seconds after it ended by itself, and quits them all when its
// listener goes. A child is known by the two halves of its process serial
// number ("NSApplicationProcessSerialNumberHigh" 0, "…Low" its process id).
class KivoNSNotificationCenter {
 public:
  explicit KivoNSNotificationCenter(TNotificationServices& services);
  ~KivoNSNotificationCenter();
  KivoNSNotificationCenter(const KivoNSNotificationCenter&) = delete;
  KivoNSNotificationCenter& operator=(const KivoNSNotificationCenter&) = delete;

  void setup();
  void handleDistributedNotificationA(const host::Notification& note);
  void handleLocalNotificationA(const host::Notification& note);

  // Starts the application of the launch dictionary and keeps the dictionary,
  // with its process serial number, among the children; false when it could
  // not be started.
  bool launchChildProcess(const host::PlistDict& launch);
  // A child that ended by itself is started again 3 seconds later.
  void childProcessDidTerminate(const host::Notification& note);
  // Asks the child of the launch dictionary to quit.
  void quitApplication(const host::PlistDict& launch);
  // Watch for children that end, with an empty set of children.
  void setupListenerForChildApps();
  int setupListenerForNikonApp();
  int setupListenerForCanonApp();
  // Stops watching and quits every child; the set of children goes.
  void destroyListerForChildApps();
  // Whether the sibling applications are installed in `folder` (the folder
  // of this program when not given).
  bool eMailAppExists(const std::filesystem::path& folder = {}) const;
  bool kivoMoxatrineAppExists(const std::filesystem::path& folder = {}) const;

  // The launch dictionaries of the children; none until a listener is set up.
  const std::optional<std::vector<host::PlistDict>>& _childProcesses() const { return childProcesses_; }
  void set_childProcesses(std::optional<std::vector<host::PlistDict>> children) {
    childProcesses_ = std::move(children);
  }

 private:
  void Listen();
  TNotificationServices& services_;
  int observers_[3] = {0, 0, 0};
  int terminationObserver_ = 0;
  std::optional<std::vector<host::PlistDict>> childProcesses_;
  // Delayed relaunches hold this weakly, so that none reaches a centre that
  // has gone.
  std::shared_ptr<KivoNSNotificationCenter*> self_;
};

// Makes the process-wide centre once and sets it up.
void setupNotificationCenter(TNotificationServices& services);
KivoNSNotificationCenter* gNotificationCenter();

}  // namespace output
