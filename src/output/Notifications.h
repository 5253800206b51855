// The notification to the companion web-server application that a job from
// the web has been processed or has failed, and the observers of the
// sibling stations' notifications.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

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

// Posts "KivoWebServerNotification" with "senderApp" and "printJob".
void mySendNotificationToWebServerAppWithDictionary(const host::PlistDict& job);

// The job's web dictionary (a keyed archive) when it is a dictionary; logs
// why not otherwise.
std::optional<host::PlistDict> UnarchiveWebDictionary(std::span<const uint8_t> archive);

// Sets "status" in a web job's dictionary and posts it; true when posted.
// Nothing is sent for a dictionary without "imageurl".
bool NotifyWebServer(host::PlistDict job, const std::string& status);

// The observers of the sibling stations: one object for the whole process.
class KivoNSNotificationCenter {
 public:
  KivoNSNotificationCenter();
  ~KivoNSNotificationCenter();
  KivoNSNotificationCenter(const KivoNSNotificationCenter&) = delete;
  KivoNSNotificationCenter& operator=(const KivoNSNotificationCenter&) = delete;

  void setup();
  void handleDistributedNotificationA(const host::Notification& note);
  void handleLocalNotificationA(const host::Notification& note);

 private:
  int observers_[3] = {0, 0, 0};
};

// Makes the process-wide centre once and sets it up.
void setupNotificationCenter();
KivoNSNotificationCenter* gNotificationCenter();

}  // namespace output
