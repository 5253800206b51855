// A tmpfs mounted on a folder in a mount namespace of the test's own, for a
// set folder on another file system than the program's private folder (a
// RIP's hot folder on a second disk or a share). A sleeping process holds
// the namespace, so that the tmpfs outlives the program between its runs;
// the program is started into it (Station::SetLauncher(Enter())) and the
// test reaches the tmpfs through the holder's root (At()). Needs the rights
// to make a mount namespace (root, as in CI); ok() says whether it is there.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/Spawn.h"
#include "e2e/E2E.h"

namespace e2e {

class TmpfsNamespace {
 public:
  explicit TmpfsNamespace(const fs::path& folder, const std::string& size = "64m") {
    const fs::path ready = folder.parent_path() / ("." + folder.filename().string() + ".mounted");
    testing_support::SpawnOptions spawn;
    spawn.words = {"unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
                   "mount -t tmpfs -o size=\"$3\" tmpfs \"$1\" && : > \"$2\" && exec sleep 100000", "sh",
                   folder.string(), ready.string(), size};
    spawn.errorFile = "/dev/null";
    pid_ = testing_support::SpawnProgram(spawn);
    bool ended = false;
    ok_ = pid_ > 0 && WaitUntil([&] {
            ended = ended || testing_support::WaitForExit(pid_, 0) != -1;
            return ended || fs::exists(ready);
          }, 30) && !ended && fs::exists(ready);
    if (ended) pid_ = -1;
    std::error_code ec;
    fs::remove(ready, ec);
  }
  ~TmpfsNamespace() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  TmpfsNamespace(const TmpfsNamespace&) = delete;
  TmpfsNamespace& operator=(const TmpfsNamespace&) = delete;

  bool ok() const { return ok_; }
  // The words that start a program inside the namespace.
  std::vector<std::string> Enter() const { return {"nsenter", "--mount", "--target", std::to_string(pid_), "--"}; }
  // A path as the programs inside see it, reached from the test.
  fs::path At(const fs::path& path) const { return fs::path("/proc/" + std::to_string(pid_) + "/root") / path.relative_path(); }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace e2e
