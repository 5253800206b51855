// Start-up and the sibling stations through the running program: a sibling's
// notification received on the session bus sounds the beep and names a
// missing sender.
#include "e2e/E2E.h"

#include "host/sys/Process.h"

namespace {

namespace fs = std::filesystem;

// Posts a distributed notification as a sibling station does, with
// dbus-send, so that nothing of the program's own code sends it.
bool PostFromSibling(const std::string& name, const std::string& userInfoJson) {
  host::ProcessOptions options;
  options.timeout = std::chrono::milliseconds(10000);
  return host::runProcess("dbus-send", {"--session", "--type=signal", "/org/kivo/Notifications",
                                        "org.kivo.DistributedNotification.Post", "string:" + name, "string:sibling",
                                        "string:" + userInfoJson},
                          options)
      .succeeded();
}

TEST(StartUpAndSiblings, ASiblingsNotificationBeepsAndNamesAMissingSender) {
  e2e::Station station("siblings");
  ASSERT_TRUE(station.Start()) << station.Log();
  // The program listens once its start-up has set up the centre: post until
  // it has heard.
  const bool heard = e2e::WaitUntil([&] {
    PostFromSibling("kivoXNotification", R"({"station":"X"})");
    return station.Log().find("=======NO SENDER APP") != std::string::npos;
  }, 30);
  ASSERT_TRUE(heard) << station.Log();
  const std::string log = station.Log();
  const size_t handled = log.find("handleDistributedNotificationA:...userInfo = [{\"station\":\"X\"}]");
  ASSERT_NE(handled, std::string::npos) << log;
  EXPECT_NE(log.find("Beep", handled), std::string::npos) << log;
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
