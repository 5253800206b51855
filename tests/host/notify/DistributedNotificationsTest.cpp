// Notifications between processes on a real session bus (the test runs
// inside dbus-run-session) and the JSON user-info form they carry.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include "common/QtCoreApp.h"
#include "host/notify/DistributedNotifications.h"

namespace {

using host::DistributedNotificationCenter;
using host::NotificationDict;
using host::NotificationValue;

void App() { kivotest::EnsureCoreApp("test_host_notify"); }

NotificationDict WebJobInfo() {
  NotificationDict job{{"status", "Job processed by Kivo-Processor"},
                       {"imageurl", "https://example.org/a.jpg"},
                       {"copies", 3},
                       {"scale", 1.5}};
  return NotificationDict{{"senderApp", "Kivo-Processor"}, {"printJob", job}, {"flag", true}};
}

TEST(NotificationJson, RoundTripKeepsKindsAndNesting) {
  NotificationDict info = WebJobInfo();
  info["name"] = "Caf\xC3\xA9 \"quoted\"";
  info["big"] = int64_t{1} << 53;
  auto back = host::NotificationDictFromJson(host::NotificationDictToJson(info));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, info);
  const NotificationDict* job = back->at("printJob").AsDict();
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->at("copies").AsInteger(), 3);
  EXPECT_EQ(job->at("scale").AsNumber(), 1.5);
  EXPECT_FALSE(job->at("scale").AsInteger());

  EXPECT_FALSE(host::NotificationDictFromJson("not json"));
  EXPECT_FALSE(host::NotificationDictFromJson("[1,2]"));
}

TEST(DistributedNotifications, AnotherProcessReceivesWhatWePost) {
  App();
  auto& center = DistributedNotificationCenter::Default();
  ASSERT_TRUE(center.HasSessionBus());

  QProcess peer;
  peer.start(KIVO_NOTIFY_PEER, {"listen", "KivoWebServerNotification"});
  ASSERT_TRUE(peer.waitForReadyRead(10000));
  ASSERT_EQ(peer.readLine().trimmed(), "ready");

  EXPECT_TRUE(center.Post("SomethingElse", {{"x", 1}}));
  EXPECT_TRUE(center.Post("KivoWebServerNotification", WebJobInfo(), "test"));
  ASSERT_TRUE(peer.waitForFinished(10000));
  EXPECT_EQ(peer.exitCode(), 0);
  const QList<QByteArray> fields = peer.readAll().trimmed().split('\t');
  ASSERT_EQ(fields.size(), 3);
  EXPECT_EQ(fields[0], "KivoWebServerNotification");
  EXPECT_EQ(fields[1], "test");
  auto info = host::NotificationDictFromJson(fields[2].toStdString());
  ASSERT_TRUE(info);
  EXPECT_EQ(*info, WebJobInfo());
}

TEST(DistributedNotifications, ObserversSeeOnlyTheirNameFromOtherProcesses) {
  App();
  auto& center = DistributedNotificationCenter::Default();
  std::vector<host::Notification> seen, others;
  const int id = center.AddObserver("kivoXNotification", [&](const host::Notification& n) { seen.push_back(n); });
  const int other = center.AddObserver("kivoSalesStationNotification",
                                       [&](const host::Notification& n) { others.push_back(n); });
  ASSERT_NE(id, 0);

  QProcess peer;
  peer.start(KIVO_NOTIFY_PEER, {"post", "kivoXNotification", R"({"senderApp":"X","n":7})", "obj"});
  ASSERT_TRUE(peer.waitForFinished(10000));
  ASSERT_EQ(peer.exitCode(), 0);
  QElapsedTimer timer;
  timer.start();
  while (seen.empty() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].object, "obj");
  EXPECT_EQ(*seen[0].userInfo.at("senderApp").AsString(), "X");
  EXPECT_EQ(seen[0].userInfo.at("n").AsInteger(), 7);
  EXPECT_TRUE(others.empty());

  // Local notifications stay in the process and reach only local observers.
  std::vector<host::Notification> local;
  const int localId = center.AddObserver("KivoLocalNotificationA", [&](const host::Notification& n) {
    local.push_back(n);
  }, false);
  center.PostLocal("KivoLocalNotificationA", {{"a", "b"}});
  center.PostLocal("kivoXNotification", {});
  QCoreApplication::processEvents();
  EXPECT_EQ(local.size(), 1u);
  EXPECT_EQ(seen.size(), 1u);

  center.RemoveObserver(id);
  center.RemoveObserver(other);
  center.RemoveObserver(localId);
}

TEST(DistributedNotifications, PostingWithoutABusReturnsAtOnce) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* address : {"unix:path=/nonexistent/kivo-bus", ""}) {
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    env.insert("XDG_RUNTIME_DIR", "/nonexistent");
    env.remove("DISPLAY");
    QProcess peer;
    peer.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    peer.start(KIVO_NOTIFY_PEER, {"post", "KivoWebServerNotification", R"({"a":1})", ""});
    ASSERT_TRUE(peer.waitForFinished(10000)) << address;
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(peer.exitCode(), 3) << address;
    EXPECT_TRUE(peer.readAllStandardError().contains("not posted")) << address;
  }
}

}  // namespace
