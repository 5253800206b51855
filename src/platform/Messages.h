// The operator message sink and the error reporters built on it.
//
// Every message for the operator goes through DisplayNormalMessagePascal: it
// writes one diagnostic line and shows the text in the one-button alert 1001.
// The alert itself is a hook set by the application at start-up (a message
// box when there is a display); the default hook shows nothing and answers
// with the default button, so headless runs and tests never wait on a click.
//
// A message is UTF-8 text of any length and reaches the log and the alert
// whole; the forms that take a length-prefixed string (a string-list item,
// at most 255 Mac Roman characters) pass its characters on unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"

namespace platform {

// Shows alert 1001 with `text` (UTF-8, whole) as its parameter 0 and returns
// the item of the button that dismissed it (1 for the one button).
using AlertHook = std::function<int16_t(const std::string& text)>;

// Installs the alert hook; an empty hook restores the default.
void SetMessageAlertHook(AlertHook hook);

// The default button of alert 1001.
constexpr int16_t kAlertDefaultItem = 1;

}  // namespace platform

// The sink: logs "DisplayNormalMessage ERROR string: [text]" and shows the
// text in alert 1001, both whole.
int16_t DisplayNormalMessagePascal(std::string_view text);
int16_t DisplayNormalMessage(const char* text);
int16_t DisplayNormalMessage(const std::string& text);
int16_t DisplayNormalMessage(const CStr255_AC& text);
int16_t newDisplayNormalMessage(const char* text);
int16_t DisplayNormalMessage(int16_t list, int16_t item);
int16_t DisplayWarningMessage(int16_t list, int16_t item);
// Logs and shows only when `show` is non-zero.
int16_t DisplayWarningMessage(const CStr255_AC& text, int16_t show = 0);
// Shows the alert without the diagnostic line.
int16_t DisplayNormalMessageForceAlways(const CStr255_AC& text);

// File Manager result codes to items of list 4100; 0 shows nothing and
// returns 0. Otherwise the result is the alert's.
int16_t checkFileError(OSErr code);
int16_t checkCatErr(OSErr code);
int16_t displayFileResultCode(OSErr code);
// As checkFileError, but a code outside the table shows
// "An error occured while trying to create a new file, error code = %d".
int16_t myNewFileError(OSErr code);

// Memory and resource result codes to items of list 4102.
int16_t checkMyMemError(OSErr code);
int16_t myCheckResError(OSErr code);

// The memory-compaction hook; there is nothing to compact.
inline void forceMemoryMovement() {}

// The item of list 4100 for a File Manager code (32 for codes outside the
// table, 0 for noErr).
int16_t FileErrorItem(OSErr code);
// Items of list 4102; 0 means nothing is shown.
int16_t MemErrorItem(OSErr code);
int16_t ResErrorItem(OSErr code);
