// Distributed notifications: a named message with a user-info dictionary,
// posted to every process of the user's session and observed by name.
//
// On the wire every notification is one D-Bus signal on the session bus:
//   path      /org/kivo/Notifications
//   interface org.kivo.DistributedNotification
//   member    Post
//   arguments (s name, s object, s userInfo)
// where userInfo is the dictionary as a JSON object (strings, numbers,
// booleans and nested objects). A companion program listens with the match
// rule "type='signal',interface='org.kivo.DistributedNotification'"; for
// example: dbus-monitor "type='signal',interface='org.kivo.DistributedNotification'".
//
// Posting never waits for a receiver. A bus that does not answer within a
// few seconds counts as no bus. When no session bus is reachable the
// post is logged to standard error and dropped at once, so a job never blocks
// on it. Observers are called from the Qt event loop of the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace host {

inline constexpr char kNotificationPath[] = "/org/kivo/Notifications";
inline constexpr char kNotificationInterface[] = "org.kivo.DistributedNotification";
inline constexpr char kNotificationMember[] = "Post";

class NotificationValue;
using NotificationDict = std::map<std::string, NotificationValue>;

// One value of a user-info dictionary.
class NotificationValue {
 public:
  NotificationValue() : value_(std::string()) {}
  NotificationValue(std::string s) : value_(std::move(s)) {}
  NotificationValue(const char* s) : value_(std::string(s ? s : "")) {}
  NotificationValue(int v) : value_(int64_t{v}) {}
  NotificationValue(int64_t v) : value_(v) {}
  NotificationValue(double v) : value_(v) {}
  NotificationValue(bool v) : value_(v) {}
  NotificationValue(NotificationDict d) : value_(std::make_shared<const NotificationDict>(std::move(d))) {}

  const std::string* AsString() const { return std::get_if<std::string>(&value_); }
  std::optional<int64_t> AsInteger() const;
  std::optional<double> AsNumber() const;  // an integer or a real number
  std::optional<bool> AsBool() const;
  const NotificationDict* AsDict() const;

  friend bool operator==(const NotificationValue& a, const NotificationValue& b);

 private:
  std::variant<std::string, int64_t, double, bool, std::shared_ptr<const NotificationDict>> value_;
  friend std::string NotificationDictToJson(const NotificationDict&);
};

// The JSON form used on the wire; parsing gives nothing for text that is not
// a JSON object.
std::string NotificationDictToJson(const NotificationDict& dict);
std::optional<NotificationDict> NotificationDictFromJson(std::string_view json);

struct Notification {
  std::string name;
  std::string object;
  NotificationDict userInfo;
};

class DistributedNotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;

  // The one centre of the process. Needs a Qt application object (of any
  // kind) for observers to be called.
  static DistributedNotificationCenter& Default();

  // Posts to every process of the session, this one included. False when the
  // notification could not be handed to a session bus (already logged).
  bool Post(const std::string& name, const NotificationDict& userInfo, const std::string& object = std::string());
  // Posts, then makes one round trip to the bus (within the bus's time
  // limit of a few seconds): the bus answers it only after it has read
  // everything sent before, so true means the notification has left this
  // program and the bus has it, not only that it was queued.
  bool PostAndConfirm(const std::string& name, const NotificationDict& userInfo,
                      const std::string& object = std::string());

  // Delivers to this process's local observers only, from the event loop.
  void PostLocal(const std::string& name, const NotificationDict& userInfo, const std::string& object = std::string());

  // Observes notifications of one name (an empty name observes all). Local
  // observers see only PostLocal; distributed ones see the session bus.
  // Returns an id for RemoveObserver, or 0 when distributed observing is not
  // possible because no session bus is reachable.
  int AddObserver(const std::string& name, Observer observer, bool distributed = true);
  void RemoveObserver(int id);

  // Whether a session bus answered; the first call checks, with a time limit
  // of a few seconds, and the answer is kept for the life of the process.
  bool HasSessionBus();
  // Why there is no session bus, for the log; empty when there is one.
  std::string SessionBusProblem();

  ~DistributedNotificationCenter();

 private:
  DistributedNotificationCenter();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Makes the program's session-bus connection (host/notify/SessionBus.h)
// now, within its time limits. When there is no usable bus, the bus address
// is then made to name none, so that Qt's own uses of the session bus (the
// accessibility bridge and the desktop integration it starts under a display)
// fail at once instead of waiting on a bus that does not answer. Call on the
// main thread at start-up, after the framework is made and before its event
// loop runs; child programs started later inherit that address.
void SettleSessionBus();

}  // namespace host
