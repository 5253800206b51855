// The running processor against a session bus that answers the first
// connection (the check at start-up) and then hangs the next: the program
// starts, prints without notifications, and ends on SIGTERM.
#include "e2e/E2E.h"
#include "e2e/FakeBus.h"

namespace {

namespace fs = e2e::fs;

TEST(SessionBus, ABusThatAnswersOnceAndThenHangsDoesNotHoldTheStart) {
  e2e::Station station("hangbus");
  e2e::OnceAnsweringBus bus(station.base() / "bus");
  ASSERT_TRUE(bus.ok());
  e2e::UseBusAt(station, station.base() / "bus");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::PrintsARedSetJob(station));
  const std::string log = station.Log();
  EXPECT_NE(log.find("the session bus did not answer the connection in time"), std::string::npos) << log;
  EXPECT_NE(log.find("notifications to and from the other station applications are off"), std::string::npos) << log;
  // The check and the connection the program would have used.
  EXPECT_GE(bus.connections(), 2);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
