#include "host/notify/SessionBus.h"

#include <QDBusError>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "host/notify/BusProbe.h"
#include "host/notify/DistributedNotifications.h"

namespace host {

namespace {

// How long the session bus may take to accept a connection and answer.
constexpr std::chrono::milliseconds kBusAnswerLimit{3000};
// How long a cut connection attempt may take to give up.
constexpr std::chrono::milliseconds kGiveUpLimit{2000};

const QString kConnectionName = QStringLiteral("kivo-session-bus");

struct Attempt {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

// Connects Qt to `address` on a thread of its own; true when the connection
// is up. An attempt that outlasts the limit has its socket shut down, which
// makes Qt give up; the thread is then waited for a little longer.
bool ConnectWithin(const std::string& address, std::chrono::milliseconds limit, std::string& reason) {
  auto attempt = std::make_shared<Attempt>();
  std::thread worker([attempt, address] {
    QDBusConnection::connectToBus(QString::fromStdString(address), kConnectionName);
    std::lock_guard<std::mutex> lock(attempt->mutex);
    attempt->finished = true;
    attempt->done.notify_all();
  });
  std::unique_lock<std::mutex> lock(attempt->mutex);
  int cut = 0;
  if (!attempt->done.wait_for(lock, limit, [&] { return attempt->finished; })) {
    lock.unlock();
    cut = ShutDownConnectionsTo(address);
    lock.lock();
    if (!attempt->done.wait_for(lock, kGiveUpLimit, [&] { return attempt->finished; })) {
      // The attempt cannot be ended: it is left to itself, and the program
      // goes on without the bus.
      lock.unlock();
      worker.detach();
      reason = "the session bus did not answer the connection in time";
      return false;
    }
  }
  lock.unlock();
  worker.join();
  const QDBusConnection connection(kConnectionName);
  // A connection that was cut is of no use even when Qt saw it up.
  if (cut == 0 && connection.isConnected()) return true;
  const std::string message = connection.lastError().message().toStdString();
  reason = cut > 0             ? std::string("the session bus did not answer the connection in time")
           : message.empty() ? std::string("the session bus refused the connection")
                             : "the session bus refused the connection (" + message + ")";
  QDBusConnection::disconnectFromBus(kConnectionName);
  return false;
}

struct State {
  bool connected = false;
  std::string problem;
};

const State& Connect() {
  static const State state = [] {
    State s;
    // Without an address, libdbus would try to start a bus of its own
    // through X11; a job must never wait on that, so only the standard
    // per-user socket counts as a session bus then.
    const std::optional<std::string> address = SessionBusAddress();
    if (!address) {
      s.problem = "no session bus address";
      return s;
    }
    const BusProbeResult probe = ProbeBus(*address, kBusAnswerLimit);
    if (!probe.answered) s.problem = probe.reason;
    else s.connected = ConnectWithin(*address, kBusAnswerLimit, s.problem);
    if (!s.connected) std::fprintf(stderr, "The session bus cannot be used: %s\n", s.problem.c_str());
    return s;
  }();
  return state;
}

}  // namespace

QDBusConnection SessionBus() {
  if (Connect().connected) return QDBusConnection(kConnectionName);
  // A connection object that is not connected, under a name never used.
  return QDBusConnection(QStringLiteral("kivo-no-session-bus"));
}

std::string SessionBusProblem() { return Connect().problem; }

void SettleSessionBus() {
  if (Connect().connected) return;
  // An address of no known kind: libdbus refuses it without trying anything.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

}  // namespace host
