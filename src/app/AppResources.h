// The application's view resources and the operator alert.
#pragma once

namespace app {
// Adds the program's own view resources (compiled in) to the view server and
// routes the operator message sink to alert 1001. Safe to call twice.
void InstallAppResources();
}  // namespace app
