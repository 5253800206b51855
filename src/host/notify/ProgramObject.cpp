#include "host/notify/ProgramObject.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/notify/DistributedNotifications.h"
#include "host/notify/SessionBus.h"

namespace host {

namespace {

// One line on standard error, out at once (the program may be killed).
template <class... Args>
void Say(const char* format, Args... args) {
  std::fprintf(stderr, format, args...);
  std::fflush(stderr);
}

// How long the bus daemon may take to answer one call.
constexpr std::chrono::milliseconds kBusCallLimit{3000};
// RequestName: fail at once instead of waiting in the name's queue.
constexpr uint32_t kDoNotQueue = 4;
constexpr uint32_t kPrimaryOwner = 1, kAlreadyOwner = 4;

bool IsValidElement(std::string_view element) {
  if (element.empty() || (element[0] >= '0' && element[0] <= '9')) return false;
  for (char c : element) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// A well-known bus name: two or more dot-separated elements of letters,
// digits, '_' and '-', not starting with a digit, at most 255 characters.
bool IsValidBusName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  size_t elements = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = name.find('.', start);
    const std::string_view element = name.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (!IsValidElement(element)) return false;
    ++elements;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

QDBusMessage CallBus(const char* member, const QList<QVariant>& arguments) {
  QDBusMessage call =
      QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member);
  call.setArguments(arguments);
  return SessionBus().call(call, QDBus::Block, int(kBusCallLimit.count()));
}

}  // namespace

class ProgramBusObject : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kivo.Processor")
 public:
  explicit ProgramBusObject(QuitRequestHandler onQuit) : onQuit_(std::move(onQuit)) {}

 public Q_SLOTS:
  Q_SCRIPTABLE void Quit() {
    Say("Quit requested over the session bus by %s\n", message().service().toLocal8Bit().constData());
    QuitDecision decision = onQuit_ ? onQuit_() : QuitDecision{};
    if (decision.refusal) {
      sendErrorReply(QString::fromLatin1(kBusyErrorName), QString::fromStdString(*decision.refusal));
    } else {
      // The program is quitting: the answer must leave before the process
      // does. Messages leave one connection in order, so once the bus has
      // answered a call made after it, the bus holds the answer.
      setDelayedReply(true);
      connection().send(message().createReply());
      CallBus("GetId", {});
    }
    if (decision.afterAnswer) decision.afterAnswer();
  }

 private:
  QuitRequestHandler onQuit_;
};

namespace {

struct Published {
  std::unique_ptr<ProgramBusObject> object;
  std::string busName;
};

Published& Current() {
  static Published published;
  return published;
}

}  // namespace

std::string ProgramBusName() {
  const char* name = std::getenv("KIVO_BUS_NAME");
  if (name && *name) {
    if (IsValidBusName(name)) return name;
    Say("KIVO_BUS_NAME \"%s\" is not a valid bus name; using %s\n", name, kDefaultProgramBusName);
  }
  return kDefaultProgramBusName;
}

bool PublishProgramObject(const std::string& busName, QuitRequestHandler onQuit) {
  WithdrawProgramObject();
  DistributedNotificationCenter& center = DistributedNotificationCenter::Default();
  if (!center.HasSessionBus()) {
    Say("Quit requests over the session bus are not possible: %s\n",
                 center.SessionBusProblem().c_str());
    return false;
  }
  if (!IsValidBusName(busName)) {
    Say("The bus name \"%s\" is not valid; no quit requests over the session bus\n", busName.c_str());
    return false;
  }
  auto object = std::make_unique<ProgramBusObject>(std::move(onQuit));
  QDBusConnection bus = SessionBus();
  if (!bus.registerObject(kProgramObjectPath, object.get(), QDBusConnection::ExportScriptableSlots)) {
    Say("The object %s could not be published on the session bus\n", kProgramObjectPath);
    return false;
  }
  const QDBusMessage reply = CallBus("RequestName", {QString::fromStdString(busName), kDoNotQueue});
  const uint32_t answer =
      reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() ? reply.arguments()[0].toUInt() : 0;
  if (answer != kPrimaryOwner && answer != kAlreadyOwner) {
    const std::string why = reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage().toStdString()
                            : answer != 0 ? "another program holds it"
                                          : "the bus did not answer";
    Say("The bus name %s could not be taken (%s); no quit requests over the session bus\n",
                 busName.c_str(), why.c_str());
    bus.unregisterObject(kProgramObjectPath);
    return false;
  }
  Current().object = std::move(object);
  Current().busName = busName;
  Say("Quit requests are taken on the session bus as %s %s\n", busName.c_str(), kProgramObjectPath);
  return true;
}

void WithdrawProgramObject() {
  Published& p = Current();
  if (!p.object) return;
  QDBusConnection bus = SessionBus();
  bus.unregisterObject(kProgramObjectPath);
  CallBus("ReleaseName", {QString::fromStdString(p.busName)});
  p.object.reset();
  p.busName.clear();
}

}  // namespace host

#include "ProgramObject.moc"
