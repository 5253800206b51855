// Kivo-Processor: unattended photo print processor.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/AppResources.h"
#include "app/BackgroundPrintApp.h"
#include "host/ui/Alerts.h"
#include "host/ui/ViewServer.h"
#include "platform/Messages.h"

int main(int argc, char** argv) {
  app::StartupOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Kivo-Processor %s\n", KIVO_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "-fromlaunchagent") == 0 || std::strcmp(argv[i], "--from-service") == 0)
      options.fromService = true;
  }
  host::InitFramework(argc, argv);
  app::InstallAppResources();
  auto* application = new app::TBackgroundPrintApp(options);
  application->Run();
  const int code = application->ExitCode();
  delete application;
  return code;
}
