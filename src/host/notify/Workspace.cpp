#include "host/notify/Workspace.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "host/notify/DistributedNotifications.h"
#include "host/sys/Process.h"

namespace host {

namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

struct Workspace::Impl {
  struct Child {
    std::string path;
    int pidfd = -1;
    std::unique_ptr<QSocketNotifier> notifier;  // when the process gives a descriptor
    std::unique_ptr<QTimer> poll;               // else
  };
  QObject context;
  std::map<pid_t, Child> children;

  void Watch(pid_t pid) {
    Child& c = children[pid];
    c.pidfd = openPidfd(pid);
    if (c.pidfd >= 0) {
      c.notifier = std::make_unique<QSocketNotifier>(c.pidfd, QSocketNotifier::Read);
      QObject::connect(c.notifier.get(), &QSocketNotifier::activated, &context, [this, pid] { Check(pid); });
    } else {
      c.poll = std::make_unique<QTimer>();
      c.poll->setInterval(kPollMilliseconds);
      QObject::connect(c.poll.get(), &QTimer::timeout, &context, [this, pid] { Check(pid); });
      c.poll->start();
    }
  }

  void Check(pid_t pid) {
    auto it = children.find(pid);
    if (it == children.end() || !reapChild(pid)) return;
    const std::string path = it->second.path;
    Forget(it);
    NotificationDict info;
    info["NSApplicationProcessIdentifier"] = int64_t(pid);
    info["NSApplicationName"] = std::filesystem::path(path).filename().string();
    info["NSApplicationPath"] = path;
    info["NSApplicationProcessSerialNumberHigh"] = int64_t(0);
    info["NSApplicationProcessSerialNumberLow"] = int64_t(pid);
    DistributedNotificationCenter::Default().PostLocal(NSWorkspaceDidTerminateApplicationNotification, info);
  }

  void Forget(std::map<pid_t, Child>::iterator it) {
    Child& c = it->second;
    if (c.notifier) c.notifier->setEnabled(false);
    // The notifier may be the sender of the call under way: it goes later.
    if (c.notifier) c.notifier.release()->deleteLater();
    if (c.poll) c.poll.release()->deleteLater();
    if (c.pidfd >= 0) ::close(c.pidfd);
    children.erase(it);
  }
};

Workspace& Workspace::Shared() {
  // Never destroyed: a child's notice may arrive while statics go away.
  static auto* workspace = new Workspace();
  return *workspace;
}

Workspace::Workspace() : impl_(std::make_unique<Impl>()) {}
Workspace::~Workspace() {
  while (!impl_->children.empty()) impl_->Forget(impl_->children.begin());
}

pid_t Workspace::LaunchApplication(const std::string& path, const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment, std::string* error) {
  const pid_t pid = startChild(path, arguments, environment, error);
  if (pid <= 0) return 0;
  impl_->children[pid].path = path;
  impl_->Watch(pid);
  return pid;
}

bool Workspace::TerminateApplication(pid_t pid) {
  if (!IsRunningChild(pid)) return false;
  // Not yet collected, so the id is still this child's.
  return ::kill(pid, SIGTERM) == 0;
}

bool Workspace::IsRunningChild(pid_t pid) const { return pid > 0 && impl_->children.count(pid) != 0; }

void PerformAfterDelay(double seconds, std::function<void()> action) {
  const int ms = seconds <= 0 ? 0 : int(std::min(seconds * 1000.0, 2147483647.0));
  QTimer::singleShot(ms, QCoreApplication::instance(), std::move(action));
}

}  // namespace host
