#include "app/AppResources.h"

#include <QtCore/QtGlobal>
#include <QtCore/QDir>

#include "host/ui/Alerts.h"
#include "host/ui/ViewServer.h"
#include "platform/Messages.h"

static void InitAppViewResources() { Q_INIT_RESOURCE(kivo_app_views); }

namespace app {

void InstallAppResources() {
  static bool done = false;
  if (done) return;
  done = true;
  InitAppViewResources();
  host::AddViewResourceFolder(":/kivo-app/views");
  platform::SetMessageAlertHook([](const std::string& text) {
    host::SetAlertText(text);
    return MacAppAlert(1001);
  });
}

}  // namespace app
