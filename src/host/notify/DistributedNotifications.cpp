#include "host/notify/DistributedNotifications.h"

#include "host/notify/SessionBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace host {

namespace {
// How long the session bus may take to answer a call.
constexpr std::chrono::milliseconds kBusAnswerLimit{3000};
}  // namespace

// ---- values ----------------------------------------------------------------

std::optional<int64_t> NotificationValue::AsInteger() const {
  if (auto p = std::get_if<int64_t>(&value_)) return *p;
  return std::nullopt;
}

std::optional<double> NotificationValue::AsNumber() const {
  if (auto p = std::get_if<int64_t>(&value_)) return static_cast<double>(*p);
  if (auto p = std::get_if<double>(&value_)) return *p;
  return std::nullopt;
}

std::optional<bool> NotificationValue::AsBool() const {
  if (auto p = std::get_if<bool>(&value_)) return *p;
  return std::nullopt;
}

const NotificationDict* NotificationValue::AsDict() const {
  if (auto p = std::get_if<std::shared_ptr<const NotificationDict>>(&value_)) return p->get();
  return nullptr;
}

bool operator==(const NotificationValue& a, const NotificationValue& b) {
  if (a.value_.index() != b.value_.index()) return false;
  if (auto da = a.AsDict()) return *da == *b.AsDict();
  return a.value_ == b.value_;
}

// ---- JSON ------------------------------------------------------------------

namespace {

QJsonObject ToJsonObject(const NotificationDict& dict);

QJsonValue ToJsonValue(const NotificationValue& v) {
  if (auto s = v.AsString()) return QJsonValue(QString::fromStdString(*s));
  if (auto i = v.AsInteger()) return QJsonValue(static_cast<qint64>(*i));
  if (auto b = v.AsBool()) return QJsonValue(*b);
  if (auto d = v.AsDict()) return ToJsonObject(*d);
  double n = *v.AsNumber();
  // JSON has no form for NaN or infinity; send them as null rather than
  // producing text that no receiver can parse.
  return std::isfinite(n) ? QJsonValue(n) : QJsonValue();
}

QJsonObject ToJsonObject(const NotificationDict& dict) {
  QJsonObject o;
  for (const auto& [key, value] : dict) o.insert(QString::fromStdString(key), ToJsonValue(value));
  return o;
}

NotificationDict FromJsonObject(const QJsonObject& o);

std::optional<NotificationValue> FromJsonValue(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::String: return NotificationValue(v.toString().toStdString());
    case QJsonValue::Bool: return NotificationValue(v.toBool());
    case QJsonValue::Double: {
      const QVariant var = v.toVariant();
      if (var.typeId() == QMetaType::LongLong || var.typeId() == QMetaType::Int)
        return NotificationValue(static_cast<int64_t>(var.toLongLong()));
      return NotificationValue(v.toDouble());
    }
    case QJsonValue::Object: return NotificationValue(FromJsonObject(v.toObject()));
    default: return std::nullopt;  // null, arrays: not part of a user-info dictionary
  }
}

NotificationDict FromJsonObject(const QJsonObject& o) {
  NotificationDict dict;
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (auto value = FromJsonValue(it.value())) dict.emplace(it.key().toStdString(), std::move(*value));
  }
  return dict;
}

}  // namespace

std::string NotificationDictToJson(const NotificationDict& dict) {
  return QJsonDocument(ToJsonObject(dict)).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<NotificationDict> NotificationDictFromJson(std::string_view json) {
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  return FromJsonObject(doc.object());
}

// ---- the centre ------------------------------------------------------------

class NotificationReceiver : public QObject {
  Q_OBJECT
 public:
  std::function<void(const QDBusMessage&)> onSignal;
 public Q_SLOTS:
  void Received(const QDBusMessage& message) {
    if (onSignal) onSignal(message);
  }
};

struct DistributedNotificationCenter::Impl {
  struct Entry {
    int id;
    std::string name;
    Observer observer;
    bool distributed;
  };
  std::vector<Entry> observers;
  int nextId = 1;
  bool subscribed = false;
  std::optional<bool> busReachable;
  std::string unreachableReason;
  NotificationReceiver receiver;

  bool BusReachable() {
    if (busReachable) return *busReachable;
    busReachable = SessionBus().isConnected();
    if (!*busReachable) unreachableReason = host::SessionBusProblem();
    return *busReachable;
  }

  void Deliver(const Notification& n, bool distributed) {
    // Observers may add or remove observers while being called.
    std::vector<Entry> snapshot = observers;
    for (const Entry& e : snapshot) {
      if (e.distributed != distributed) continue;
      if (!e.name.empty() && e.name != n.name) continue;
      const bool stillThere = std::any_of(observers.begin(), observers.end(),
                                          [&](const Entry& x) { return x.id == e.id; });
      if (!stillThere) continue;
      try {
        e.observer(n);
      } catch (const std::exception& ex) {
        std::fprintf(stderr, "Notification observer for \"%s\" failed: %s\n", n.name.c_str(), ex.what());
      }
    }
  }
};

DistributedNotificationCenter::DistributedNotificationCenter() : impl_(std::make_unique<Impl>()) {
  impl_->receiver.onSignal = [this](const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 3) return;
    Notification n;
    n.name = args[0].toString().toStdString();
    n.object = args[1].toString().toStdString();
    if (auto dict = NotificationDictFromJson(args[2].toString().toStdString())) n.userInfo = std::move(*dict);
    impl_->Deliver(n, true);
  };
}

DistributedNotificationCenter::~DistributedNotificationCenter() = default;

DistributedNotificationCenter& DistributedNotificationCenter::Default() {
  // Never destroyed: the bus connection must outlive every observer that a
  // static object might still hold at exit.
  static auto* center = new DistributedNotificationCenter();
  return *center;
}

bool DistributedNotificationCenter::HasSessionBus() { return impl_->BusReachable(); }

std::string DistributedNotificationCenter::SessionBusProblem() {
  return impl_->BusReachable() ? std::string() : impl_->unreachableReason;
}

bool DistributedNotificationCenter::Post(const std::string& name, const NotificationDict& userInfo,
                                         const std::string& object) {
  const std::string json = NotificationDictToJson(userInfo);
  if (!impl_->BusReachable()) {
    std::fprintf(stderr, "Distributed notification \"%s\" not posted: no session bus. userInfo = %s\n",
                 name.c_str(), json.c_str());
    return false;
  }
  QDBusMessage message = QDBusMessage::createSignal(kNotificationPath, kNotificationInterface, kNotificationMember);
  message << QString::fromStdString(name) << QString::fromStdString(object) << QString::fromStdString(json);
  // send() only queues the message; it never waits for a receiver.
  QDBusConnection bus = SessionBus();
  if (!bus.send(message)) {
    std::fprintf(stderr, "Distributed notification \"%s\" could not be sent: %s\n", name.c_str(),
                 bus.lastError().message().toLocal8Bit().constData());
    return false;
  }
  return true;
}

bool DistributedNotificationCenter::PostAndConfirm(const std::string& name, const NotificationDict& userInfo,
                                                   const std::string& object) {
  if (!Post(name, userInfo, object)) return false;
  const QDBusMessage answer =
      SessionBus().call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                       "org.freedesktop.DBus.Peer", "Ping"),
                        QDBus::Block, int(kBusAnswerLimit.count()));
  if (answer.type() == QDBusMessage::ReplyMessage) return true;
  std::fprintf(stderr, "Distributed notification \"%s\" was sent but the bus did not confirm it: %s\n", name.c_str(),
               answer.errorMessage().toLocal8Bit().constData());
  return false;
}

void DistributedNotificationCenter::PostLocal(const std::string& name, const NotificationDict& userInfo,
                                              const std::string& object) {
  Notification n{name, object, userInfo};
  QTimer::singleShot(0, &impl_->receiver, [this, n] { impl_->Deliver(n, false); });
}

int DistributedNotificationCenter::AddObserver(const std::string& name, Observer observer, bool distributed) {
  if (distributed && !impl_->subscribed) {
    if (!impl_->BusReachable()) {
      std::fprintf(stderr, "Cannot observe distributed notification \"%s\": no session bus\n", name.c_str());
      return 0;
    }
    QDBusConnection bus = SessionBus();
    impl_->subscribed = bus.connect(
        QString(), kNotificationPath, kNotificationInterface, kNotificationMember, &impl_->receiver,
        SLOT(Received(QDBusMessage)));
    if (!impl_->subscribed) {
      std::fprintf(stderr, "Cannot observe distributed notification \"%s\": subscription refused\n", name.c_str());
      return 0;
    }
    // The match rule is sent without waiting; one round trip to the bus makes
    // sure it is in force before the caller relies on the subscription.
    bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                                      "org.freedesktop.DBus.Peer", "Ping"),
                                       QDBus::Block, int(kBusAnswerLimit.count()));
  }
  const int id = impl_->nextId++;
  impl_->observers.push_back({id, name, std::move(observer), distributed});
  return id;
}

void DistributedNotificationCenter::RemoveObserver(int id) {
  std::erase_if(impl_->observers, [id](const Impl::Entry& e) { return e.id == id; });
}

}  // namespace host

#include "DistributedNotifications.moc"
