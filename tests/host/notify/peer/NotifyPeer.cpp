// A second process for the notification tests.
//   kivo_notify_peer listen NAME   prints "ready", then the first notification
//                                  NAME received as "name<TAB>object<TAB>json"
//   kivo_notify_peer post NAME JSON OBJECT
//                                  posts it; exit status 0 posted, 3 not posted
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "host/notify/DistributedNotifications.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  auto& center = host::DistributedNotificationCenter::Default();
  if (argc >= 3 && std::strcmp(argv[1], "listen") == 0) {
    const int id = center.AddObserver(argv[2], [](const host::Notification& n) {
      std::printf("%s\t%s\t%s\n", n.name.c_str(), n.object.c_str(),
                  host::NotificationDictToJson(n.userInfo).c_str());
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
    if (id == 0) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer::singleShot(20000, [] { QCoreApplication::exit(2); });
    return app.exec();
  }
  if (argc >= 5 && std::strcmp(argv[1], "post") == 0) {
    auto dict = host::NotificationDictFromJson(argv[3]);
    if (!dict) return 4;
    if (!center.Post(argv[2], *dict, argv[4])) return 3;
    // The signal leaves from the event loop; give it time before exiting.
    QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
    return app.exec();
  }
  std::fprintf(stderr, "usage: kivo_notify_peer listen NAME | post NAME JSON OBJECT\n");
  return 1;
}
