// A check, with a time limit, that a D-Bus session bus answers.
//
// Qt's connection to the bus waits without a limit for the bus to accept the
// connection and to answer the first call ("Hello"); a socket that accepts
// and never answers would block the caller for ever. The probe makes the
// same exchange itself on a socket of its own (the authentication and
// "Hello"), bounded in time, and the program hands the bus to Qt only when
// the probe got its answer.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace host {

// One address of a bus address list ("unix:path=…", "unix:abstract=…",
// "tcp:host=…,port=…"); values are unescaped.
struct BusAddress {
  std::string transport;  // "unix" or "tcp"
  std::string path;       // unix: the socket's path
  std::string abstract;   // unix: the abstract socket's name
  std::string host;       // tcp
  std::string port;       // tcp
};

// The addresses of a list ("a;b;…") that the probe can reach, in order.
// Other transports are left out.
std::vector<BusAddress> ParseBusAddresses(const std::string& addresses);

struct BusProbeResult {
  bool answered = false;
  std::string reason;  // why not, for the log
};

// Connects to the first address that accepts, authenticates and says
// "Hello"; true when the bus answered within `limit`. The connection is
// closed again.
BusProbeResult ProbeBus(const std::string& addresses, std::chrono::milliseconds limit);

// Shuts down every socket of this process that is connected to one of the
// addresses of the list (its peer is that socket path, abstract name, or
// host and port), so that whatever waits on it sees the end of the stream at
// once; the descriptors stay open for their owners to close. Returns how many
// were shut down. A connection attempt that overruns its time limit is cut
// this way: a bus that accepts and then stays silent would otherwise be
// waited for without end.
int ShutDownConnectionsTo(const std::string& addresses);

// The session bus address the program uses: DBUS_SESSION_BUS_ADDRESS, else
// the standard per-user socket in XDG_RUNTIME_DIR when it exists; none
// without either.
std::optional<std::string> SessionBusAddress();

}  // namespace host
