#include "host/files/FolderWatch.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/files/HeldFolders.h"

namespace host {
namespace {
constexpr uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
}  // namespace

FolderWatch::FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) close(fd_);
}

bool FolderWatch::Watch(const std::filesystem::path& folder) {
  if (fd_ < 0) return false;
  // The folder as HeldFolders.h reaches it: a held folder by its
  // descriptor, whatever its name leads to now.
  const int at = OpenAt(folder.string(), O_PATH | O_DIRECTORY);
  struct stat st {};
  if (at < 0 || fstat(at, &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (at >= 0) close(at);
    return false;
  }
  if (wd_ >= 0 && folder == folder_ && uint64_t(st.st_dev) == device_ && uint64_t(st.st_ino) == inode_) {
    close(at);
    return true;
  }
  if (wd_ >= 0) inotify_rm_watch(fd_, wd_);
  complete_.clear();
  wd_ = inotify_add_watch(fd_, DescriptorPath(at).c_str(), kMask);
  close(at);
  if (wd_ < 0) return false;
  folder_ = folder;
  device_ = uint64_t(st.st_dev);
  inode_ = uint64_t(st.st_ino);
  return true;
}

bool FolderWatch::Drain() {
  if (fd_ < 0) return false;
  bool relevant = false;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: nothing more waiting
    for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= n;) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      const size_t length = event.len;
      if (offset + ssize_t(sizeof event + length) > n) break;
      std::string name;
      if (length > 0) name.assign(buffer + offset + sizeof event, strnlen(buffer + offset + sizeof event, length));
      offset += ssize_t(sizeof event + length);
      if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost, so a write after a close may be among them:
        // nothing counts as complete until new events say so.
        complete_.clear();
        relevant = true;
        continue;
      }
      if (event.wd != wd_) continue;
      if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        // The folder itself went: the next Watch re-arms on what the path
        // names then.
        wd_ = -1;
        complete_.clear();
        relevant = true;
        continue;
      }
      if (name.empty()) continue;
      if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
        complete_[name] = true;
        relevant = true;
      } else if (event.mask & (IN_MODIFY | IN_CREATE)) {
        complete_[name] = false;
      } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
        complete_.erase(name);
      }
    }
  }
  return relevant;
}

bool FolderWatch::IsComplete(const std::string& name) const {
  const auto it = complete_.find(name);
  return it != complete_.end() && it->second;
}

}  // namespace host
