// The program's one connection to the D-Bus session bus, with time limits.
//
// Qt's own session-bus connection waits without a limit for the bus to
// authenticate and to answer its first call, so a bus that accepts and then
// stays silent would hold the program for good. The connection made here is
// bounded instead: the address is first probed (host/notify/BusProbe.h), then
// Qt connects to that same address on a thread of its own, and an attempt
// that overruns the limit has its socket shut down, so that Qt gives up and
// the program goes on without the bus. Everything in the program that uses
// the bus uses this connection, never `QDBusConnection::sessionBus()`.
#pragma once

#include <QDBusConnection>
#include <string>

namespace host {

// The connection, made on the first call (from any thread; later calls wait
// for the first). Not connected when there is no usable session bus; the
// answer is kept for the life of the process.
QDBusConnection SessionBus();

// Why there is no session bus, for the log; empty when there is one.
std::string SessionBusProblem();

}  // namespace host
