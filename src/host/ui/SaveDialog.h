// The save-file dialog and the modifier-key state. With no display the
// dialog is not shown and counts as cancelled.
#pragma once

#include <optional>
#include <string>

namespace host {

// The file the user chose (UTF-8 path); nothing when cancelled.
std::optional<std::string> ChooseSaveFile(const std::string& title, const std::string& folder,
                                          const std::string& defaultName);

// Whether Shift, Option (Alt), Command (Meta) or Control is held now.
bool AnyModifierKeyDown();

}  // namespace host
