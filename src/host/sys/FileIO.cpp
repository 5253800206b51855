#include "host/sys/FileIO.h"

#include "host/base/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

namespace {

void setError(std::string* error, const std::string& what, const std::filesystem::path& path, int err) {
  if (error) *error = what + " " + path.string() + ": " + std::strerror(err);
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::size_t maxBytes, std::vector<std::uint8_t>& out,
                   std::string* error) {
  out.clear();
  bool notRegular = false;
  Fd f{OpenRegularFile(path.c_str(), O_RDONLY, &notRegular)};
  if (f.fd < 0) {
    if (notRegular && error) *error = path.string() + " is not a regular file";
    else setError(error, "cannot open", path, errno);
    return false;
  }
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) {
    setError(error, "cannot examine", path, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = path.string() + " is not a regular file";
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    if (error) *error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  out.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(f.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      setError(error, "cannot read", path, errno);
      out.clear();
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {  // grew while we read
      if (error) *error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
      out.clear();
      return false;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
  return true;
}

bool writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         std::string* error, unsigned mode) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string tmpl = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  Fd f{::mkostemp(tmpl.data(), O_CLOEXEC)};
  if (f.fd < 0) {
    setError(error, "cannot create a temporary file in", folder, errno);
    return false;
  }
  auto fail = [&](const char* what) {
    setError(error, what, tmpl, errno);
    ::unlink(tmpl.c_str());
    return false;
  };
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(f.fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fchmod(f.fd, static_cast<mode_t>(mode)) != 0) return fail("cannot set the mode of");
  if (::fsync(f.fd) != 0) return fail("cannot flush");
  ::close(f.fd);
  f.fd = -1;
  if (::rename(tmpl.c_str(), path.c_str()) != 0) return fail("cannot rename");
  // Make the rename itself durable.
  Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
  return true;
}

}  // namespace host
