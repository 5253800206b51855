#include "host/imageio/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <cstring>

#include "host/base/RegularFile.h"

namespace host {
namespace {

std::string SystemError(const char* what, const std::filesystem::path& path) {
  return std::string(what) + " \"" + path.string() + "\": " + std::strerror(errno);
}

// Creates a new file with a fresh name beside `path`; the kernel applies the
// umask to mode 0666. Returns the descriptor, or -1 with errno set.
int CreateTemporaryBeside(const std::filesystem::path& path, std::filesystem::path* temp) {
  static std::atomic<uint32_t> counter{0};
  std::random_device random;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.%08x.tmp", static_cast<int>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    std::string name(1, '.');
    name += path.filename().string();
    name += suffix;
    *temp = folder / name;
    const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>* out,
                   std::string* error) {
  out->clear();
  bool notRegular = false;
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY, &notRegular);
  if (fd < 0) {
    *error = notRegular ? "not a readable file: \"" + path.string() + "\"" : SystemError("cannot open", path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *error = "not a readable file: \"" + path.string() + "\"";
    ::close(fd);
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    *error = "file too large: \"" + path.string() + "\"";
    ::close(fd);
    return false;
  }
  try {
    out->resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    *error = "not enough memory to read \"" + path.string() + "\"";
    ::close(fd);
    return false;
  }
  size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = ::read(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = SystemError("cannot read", path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;  // the file shrank while we read it
    done += static_cast<size_t>(n);
  }
  out->resize(done);
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                         std::string* error) {
  std::filesystem::path temp;
  const int fd = CreateTemporaryBeside(path, &temp);
  if (fd < 0) {
    *error = SystemError("cannot create a temporary file beside", path);
    return false;
  }
  auto fail = [&](const char* what, const std::filesystem::path& p) {
    *error = SystemError(what, p);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("cannot write", temp);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("cannot flush", temp);
  if (::close(fd) != 0) {
    *error = SystemError("cannot close", temp);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    *error = SystemError("cannot rename the temporary file to", path);
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a folder that cannot be flushed (some
  // network file systems) does not make the write fail.
  const int folder = ::open(temp.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

}  // namespace host
