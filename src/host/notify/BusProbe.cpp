#include "host/notify/BusProbe.h"

#include <dirent.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      const int hi = Hex(value[i + 1]), lo = Hex(value[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += char(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

// Waits for `events` on the socket until the deadline.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, left);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

// Connects without blocking past the deadline.
bool ConnectBy(int fd, const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  if (::connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS && errno != EAGAIN) return false;
  if (!WaitFor(fd, POLLOUT, deadline)) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool SendAll(int fd, const std::string& bytes, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline)) continue;
    return false;
  }
  return true;
}

// Reads until `buffer` holds at least `wanted` bytes; false on the end of the
// stream, an error or the deadline.
bool ReadAtLeast(int fd, std::string& buffer, size_t wanted, Clock::time_point deadline) {
  char chunk[4096];
  while (buffer.size() < wanted) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, size_t(n));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLIN, deadline)) continue;
    return false;
  }
  return true;
}

bool ReadLine(int fd, std::string& buffer, std::string& line, Clock::time_point deadline) {
  for (;;) {
    const size_t end = buffer.find("\r\n");
    if (end != std::string::npos) {
      line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      return true;
    }
    if (buffer.size() > 16384) return false;  // no line of the handshake is this long
    if (!ReadAtLeast(fd, buffer, buffer.size() + 1, deadline)) return false;
  }
}

// The bus's own "Hello" call in the little-endian wire format: a header of
// twelve bytes, then the header fields (path, destination, interface,
// member), each an 8-aligned structure of a code and a variant.
std::string HelloMessage() {
  std::string m;
  auto align = [&](size_t n) {
    while (m.size() % n) m += '\0';
  };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) m += char((v >> (8 * i)) & 0xFF);
  };
  auto field = [&](char code, char type, const std::string& value) {
    align(8);
    m += code;
    m += '\1';
    m += type;
    m += '\0';
    align(4);
    u32(uint32_t(value.size()));
    m += value;
    m += '\0';
  };
  m += 'l';   // little endian
  m += '\1';  // method call
  m += '\0';  // no flags
  m += '\1';  // protocol version
  u32(0);     // no body
  u32(1);     // serial
  u32(0);     // length of the header fields, filled in below
  const size_t fieldsStart = m.size();
  field(1, 'o', "/org/freedesktop/DBus");
  field(6, 's', "org.freedesktop.DBus");
  field(2, 's', "org.freedesktop.DBus");
  field(3, 's', "Hello");
  const uint32_t fieldsLength = uint32_t(m.size() - fieldsStart);
  for (int i = 0; i < 4; ++i) m[12 + size_t(i)] = char((fieldsLength >> (8 * i)) & 0xFF);
  align(8);
  return m;
}

uint32_t ReadU32(const std::string& b, size_t at, bool little) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t byte = uint8_t(b[at + size_t(i)]);
    v |= little ? byte << (8 * i) : byte << (8 * (3 - i));
  }
  return v;
}

// Authenticates as this user and waits for the answer to "Hello".
BusProbeResult Converse(int fd, Clock::time_point deadline) {
  std::string uid = std::to_string(::getuid()), hexUid;
  static const char kDigits[] = "0123456789abcdef";
  for (unsigned char c : uid) {
    hexUid += kDigits[c >> 4];
    hexUid += kDigits[c & 15];
  }
  if (!SendAll(fd, std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n", deadline))
    return {false, "the bus did not take the authentication"};
  std::string buffer, line;
  if (!ReadLine(fd, buffer, line, deadline)) return {false, "the bus did not answer the authentication in time"};
  if (line.rfind("OK ", 0) != 0) return {false, "the bus refused the authentication (" + line + ")"};
  if (!SendAll(fd, "BEGIN\r\n" + HelloMessage(), deadline)) return {false, "the bus did not take the first call"};
  for (;;) {
    if (!ReadAtLeast(fd, buffer, 16, deadline)) return {false, "the bus did not answer the first call in time"};
    const bool little = buffer[0] == 'l';
    if (!little && buffer[0] != 'B') return {false, "the bus answered in an unknown byte order"};
    const uint32_t body = ReadU32(buffer, 4, little);
    const uint32_t fields = ReadU32(buffer, 12, little);
    // The bus limits a message to 128 MiB; an answer to "Hello" is small.
    if (body > (1u << 20) || fields > (1u << 20)) return {false, "the bus answered with an oversized message"};
    const size_t total = 16 + ((size_t(fields) + 7) & ~size_t(7)) + body;
    if (!ReadAtLeast(fd, buffer, total, deadline)) return {false, "the bus did not answer the first call in time"};
    const uint8_t type = uint8_t(buffer[1]);
    if (type == 2) return {true, {}};
    if (type == 3) return {false, "the bus refused the first call"};
    buffer.erase(0, total);  // a signal before the answer
  }
}

BusProbeResult ProbeOne(const BusAddress& a, Clock::time_point deadline) {
  Socket s;
  if (a.transport == "unix") {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (!a.path.empty()) {
      if (a.path.size() >= sizeof address.sun_path) return {false, "the bus socket path is too long"};
      std::memcpy(address.sun_path, a.path.data(), a.path.size());
      length = socklen_t(offsetof(sockaddr_un, sun_path) + a.path.size() + 1);
    } else {
      if (a.abstract.size() + 1 > sizeof address.sun_path) return {false, "the bus socket name is too long"};
      std::memcpy(address.sun_path + 1, a.abstract.data(), a.abstract.size());
      length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + a.abstract.size());
    }
    s.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s.fd < 0) return {false, std::string("no socket: ") + std::strerror(errno)};
    if (!ConnectBy(s.fd, reinterpret_cast<sockaddr*>(&address), length, deadline))
      return {false, "the bus socket does not accept connections"};
    return Converse(s.fd, deadline);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(a.host.empty() ? "localhost" : a.host.c_str(), a.port.c_str(), &hints, &found) != 0 || !found)
    return {false, "the bus host " + a.host + " cannot be found"};
  BusProbeResult result{false, "the bus at " + a.host + ":" + a.port + " does not accept connections"};
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    Socket t;
    t.fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (t.fd < 0 || !ConnectBy(t.fd, ai->ai_addr, ai->ai_addrlen, deadline)) continue;
    result = Converse(t.fd, deadline);
    break;
  }
  ::freeaddrinfo(found);
  return result;
}

}  // namespace

std::vector<BusAddress> ParseBusAddresses(const std::string& addresses) {
  std::vector<BusAddress> out;
  size_t start = 0;
  while (start <= addresses.size()) {
    size_t end = addresses.find(';', start);
    if (end == std::string::npos) end = addresses.size();
    const std::string one = addresses.substr(start, end - start);
    start = end + 1;
    const size_t colon = one.find(':');
    if (colon == std::string::npos) continue;
    BusAddress a;
    a.transport = one.substr(0, colon);
    if (a.transport != "unix" && a.transport != "tcp") continue;
    size_t at = colon + 1;
    while (at < one.size()) {
      size_t comma = one.find(',', at);
      if (comma == std::string::npos) comma = one.size();
      const std::string pair = one.substr(at, comma - at);
      at = comma + 1;
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = pair.substr(0, eq), value = Unescape(pair.substr(eq + 1));
      if (key == "path") a.path = value;
      else if (key == "abstract") a.abstract = value;
      else if (key == "host") a.host = value;
      else if (key == "port") a.port = value;
    }
    const bool usable = a.transport == "unix" ? !a.path.empty() || !a.abstract.empty() : !a.port.empty();
    if (usable) out.push_back(std::move(a));
  }
  return out;
}

BusProbeResult ProbeBus(const std::string& addresses, std::chrono::milliseconds limit) {
  const std::vector<BusAddress> list = ParseBusAddresses(addresses);
  if (list.empty()) return {false, "the bus address \"" + addresses + "\" names no socket this program can use"};
  const auto deadline = Clock::now() + limit;
  BusProbeResult last;
  for (const BusAddress& a : list) {
    last = ProbeOne(a, deadline);
    if (last.answered || MillisecondsLeft(deadline) == 0) break;
  }
  return last;
}

namespace {

// Whether the peer of socket `fd` is the bus at `a`.
bool PeerIs(int fd, const BusAddress& a) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
  if (peer.ss_family == AF_UNIX) {
    if (a.transport != "unix") return false;
    const auto* un = reinterpret_cast<const sockaddr_un*>(&peer);
    const size_t size = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
    if (size == 0) return false;
    if (un->sun_path[0] == '\0') return !a.abstract.empty() && std::string(un->sun_path + 1, size - 1) == a.abstract;
    return !a.path.empty() && std::string(un->sun_path, strnlen(un->sun_path, size)) == a.path;
  }
  if (a.transport != "tcp" || (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)) return false;
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return false;
  if (a.port != port) return false;
  // The address may name the host by name: any of its addresses counts.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(a.host.empty() ? "localhost" : a.host.c_str(), a.port.c_str(), &hints, &found) != 0) return false;
  bool same = false;
  for (addrinfo* ai = found; ai && !same; ai = ai->ai_next) {
    char h[NI_MAXHOST];
    same = ::getnameinfo(ai->ai_addr, ai->ai_addrlen, h, sizeof h, nullptr, 0, NI_NUMERICHOST) == 0 &&
           std::strcmp(h, host) == 0;
  }
  ::freeaddrinfo(found);
  return same;
}

}  // namespace

int ShutDownConnectionsTo(const std::string& addresses) {
  const std::vector<BusAddress> list = ParseBusAddresses(addresses);
  if (list.empty()) return 0;
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return 0;
  int cut = 0;
  while (const dirent* entry = ::readdir(fds)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds)) continue;
    struct stat st {};
    if (::fstat(int(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    for (const BusAddress& a : list) {
      if (!PeerIs(int(fd), a)) continue;
      if (::shutdown(int(fd), SHUT_RDWR) == 0) ++cut;
      break;
    }
  }
  ::closedir(fds);
  return cut;
}

std::optional<std::string> SessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return std::string(address);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return std::nullopt;
  const std::string socket = std::string(runtime) + "/bus";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return std::nullopt;
  return "unix:path=" + socket;
}

}  // namespace host
