// How imaging operations tell the operator about a failure: by string list and
// item, through the program's one message sink. The sink is installed by the
// layer that owns it; until then it goes to the program's operator message
// sink, DisplayNormalMessage(list, item).
#pragma once

#include <cstdint>
#include <functional>

namespace imaging {

using MessageSink = std::function<void(int16_t list, int16_t item)>;
using TextMessageSink = std::function<void(const char* utf8)>;
using BeepSink = std::function<void()>;

// Installs the sinks (nullptr restores the logging default).
void SetMessageSink(MessageSink sink);
void SetTextMessageSink(TextMessageSink sink);
// Installs where the imaging beep goes (nullptr restores the system beep).
void SetBeepSink(BeepSink sink);

// The system beep that goes with some failures.
void Beep();

// Shows a plain text.
void ReportMessageText(const char* utf8);

// Reports item `item` of string list `list`.
void ReportMessage(int16_t list, int16_t item);

}  // namespace imaging
