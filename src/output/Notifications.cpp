#include "output/Notifications.h"

#include <memory>

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

void mySendNotificationToWebServerAppWithDictionary(const host::PlistDict& job) {
  host::NotificationDict info;
  info["senderApp"] = getApplicationName();
  info["printJob"] = ToNotificationDict(job);
  platform::LogLine("Dictionary=" + host::NotificationDictToJson(info));
  host::DistributedNotificationCenter::Default().Post(kWebServerNotification, info, "test");
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
  mySendNotificationToWebServerAppWithDictionary(job);
  return true;
}

KivoNSNotificationCenter::KivoNSNotificationCenter() {
  platform::LogLine("Inside KivoNSNotificationCenter => init...");
}

KivoNSNotificationCenter::~KivoNSNotificationCenter() {
  platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => dealloc...");
  platform::LogLine(kRow);
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
  if (!note.userInfo.empty() && !note.userInfo.contains("senderApp"))
    platform::LogLine("=======NO SENDER APP================");
}

void KivoNSNotificationCenter::handleLocalNotificationA(const host::Notification& note) {
  for (int i = 0; i < 3; ++i) platform::LogLine(kRow);
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...");
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...object = [" + note.object + "]");
  platform::LogLine("Inside KivoNSNotificationCenter => handleLocalNotificationA:...userInfo = [" +
                    host::NotificationDictToJson(note.userInfo) + "]");
}

void setupNotificationCenter() {
  if (Centre()) return;
  Centre() = std::make_unique<KivoNSNotificationCenter>();
  Centre()->setup();
}

KivoNSNotificationCenter* gNotificationCenter() { return Centre().get(); }

}  // namespace output
