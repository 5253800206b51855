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
  // Alert 1025 names what an import refused in its first parameter.
  host::AlertDef imported = host::GetAlert(1025);
  imported.text = "The preferences were imported.^0\n\nQuit now so that Kivo-Processor starts with them next time?";
  host::RegisterAlert(imported);
  platform::SetMessageAlertHook([](const CStr255_AC& text) {
    ParamText(text);
    return MacAppAlert(1001);
  });
}

}  // namespace app
