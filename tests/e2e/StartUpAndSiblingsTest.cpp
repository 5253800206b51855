// Start-up and the sibling stations through the running program: the
// print-centre folder's alias stored at the first start and followed at the
// next; a sibling's notification received on the session bus sounds the beep
// and names a missing sender.
#include "e2e/E2E.h"

#include "host/files/Alias.h"
#include "host/sys/Process.h"
#include "host/sys/UserDefaults.h"

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

// The folder the stored alias of `id` leads to; empty when there is none.
std::string AliasedFolder(const e2e::Station& station, int id) {
  host::UserDefaults defaults(station.defaultsFile());
  const auto bytes = defaults.getData("AliasHandle " + std::to_string(id));
  host::AliasRecord alias;
  std::string path;
  if (!bytes || host::AliasRecord::Decode(bytes->data(), bytes->size(), &alias) != noErr ||
      host::ResolveAlias(alias, &path) != noErr)
    return {};
  return path;
}

TEST(StartUpAndSiblings, ThePrintCentreFolderIsStoredAsAnAliasAtTheFirstStart) {
  e2e::Station station("centre");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  const fs::path centre = station.app() / "Kivo-PrintCenter Folder";
  EXPECT_EQ(fs::path(AliasedFolder(station, 4502)), centre / "Jobs To Be Printed");

  // A folder the alias leads to is used as it is at the next start: no
  // default tree is made again.
  const fs::path chosen = station.base() / "Chosen Centre";
  fs::create_directories(chosen);
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(chosen.string(), &alias), noErr);
  {
    host::UserDefaults defaults(station.defaultsFile());
    ASSERT_TRUE(defaults.set("AliasHandle 4502", host::PlistValue(alias.Encode())) && defaults.synchronize());
  }
  fs::remove_all(centre);
  ASSERT_TRUE(station.Start()) << station.Log();
  // The spool tree is there already: wait for this start's own set-up.
  ASSERT_TRUE(e2e::WaitUntil(
      [&] { return e2e::CountOf(station.Log(), "Inside KivoNSNotificationCenter => setup") == 2; }))
      << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(centre));
  EXPECT_EQ(fs::path(AliasedFolder(station, 4502)), chosen);
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
