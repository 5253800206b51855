// Kivo-Processor: unattended photo print processor.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/AppResources.h"
#include "app/BackgroundPrintApp.h"
#include "app/CommandLine.h"
#include "app/PreferenceFileCommands.h"
#include "host/notify/DistributedNotifications.h"
#include "host/ui/Alerts.h"
#include "host/ui/ViewServer.h"
#include "platform/Messages.h"

int main(int argc, char** argv) {
  app::StartupOptions options;
  // Help, the version and options it does not take end here, before any
  // folder is looked at.
  if (const std::optional<int> status = app::ParseCommandLine(argc, argv, options, stdout, stderr)) return *status;
  // The preference-file commands end here too, without a display or a bus.
  if (!options.exportPreferences.empty()) return app::ExportPreferencesCommand(options.exportPreferences, stdout);
  if (!options.importPreferences.empty()) return app::ImportPreferencesCommand(options.importPreferences, stdout, stderr);
  host::InitFramework(argc, argv);
  // Before the event loop, where Qt itself may use the bus under a display.
  host::SettleSessionBus();
  app::InstallAppResources();
  auto* application = new app::TBackgroundPrintApp(options);
  application->Run();
  const int code = application->ExitCode();
  delete application;
  return code;
}
