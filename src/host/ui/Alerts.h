// Alerts by number, shown as message boxes. The text of an alert may hold
// "^0" to "^3", replaced by the parameters last set with ParamText. Buttons
// are numbered by their alert item; MacAppAlert returns the item pressed.
//
// Built in (a program may replace them with RegisterAlert):
//   1001  the message "^0", one button: 1 OK
//   1002  confirms emptying the folder "^0": 1 Delete, 2 Cancel (default 2)
//   1003  a job failed: 1 Try Again, 4 Delete Job, 5 Move to Unknown Jobs,
//         6 Pause Printing (default 5: nothing is lost and nothing loops)
//   1025  preferences imported ("^0" follows the first sentence): 1 Quit
//         Now, 2 Later (default 2)
//
// An alert may also carry details (SetAlertDetails): a text of any length
// shown under the message in a scrollable box, for lists the operator may
// need to read whole; or one detail line (SetAlertDetailLine), shown in
// smaller type under the message, such as the name of the file it is about.
//
// With no display (host::IsUnattended) an alert is not shown: its text and
// its default answer are written to standard error and the default answer is
// returned at once, so unattended work never waits on a click.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/base/PascalString.h"

class QDialog;

namespace host {

struct AlertButton {
  int16_t item = 1;
  std::string label;  // UTF-8
};

struct AlertDef {
  int16_t id = 0;
  std::string text;  // UTF-8, with ^0..^3
  std::vector<AlertButton> buttons;
  int16_t defaultItem = 1;  // Return, and the unattended answer
  int16_t cancelItem = 0;   // Escape; 0 = the default item
  bool caution = false;     // shown with a warning icon
};

void RegisterAlert(AlertDef alert);
// The definition of alert `id`, or an empty one (id 0).
AlertDef GetAlert(int16_t id);
// The alert's text with the current parameters filled in (UTF-8).
std::string AlertText(int16_t id);

// Lets tests and scripted runs answer alerts: the hook gets the alert number
// and its text and returns the item to answer, or 0 for the usual answer.
// The text a hook gets (and the line written with no display) ends with the
// details, after an empty line.
using AlertHook = std::function<int16_t(int16_t alertId, const std::string& text)>;
void SetAlertHook(AlertHook hook);

// Details for the next alert only (UTF-8); the alert takes them, so a later
// alert shows none unless set again.
void SetAlertDetails(std::string details);
// A detail line for the next alert only (UTF-8), as SetAlertDetails.
void SetAlertDetailLine(std::string line);
// The window an alert with details is shown in (not yet shown): `text`
// above, the details in a read-only scrolling box named "details", and the
// alert's buttons; a button ends the dialog with its item as the result.
std::unique_ptr<QDialog> MakeAlertWithDetails(int16_t alertId, const std::string& text, const std::string& details);

// Sets alert parameter 0 to a UTF-8 text of any length, whole, and the
// others to the empty string: ParamText for texts a length-prefixed string
// cannot hold.
void SetAlertText(std::string utf8);

}  // namespace host

// Sets the four alert parameters (Mac Roman).
void ParamText(const CStr255_AC& p0, const CStr255_AC& p1 = CStr255_AC(), const CStr255_AC& p2 = CStr255_AC(),
               const CStr255_AC& p3 = CStr255_AC());
// Shows alert `alertId` modally and returns the item of the button pressed.
// `filter` is accepted for the callers' sake and not used.
int16_t MacAppAlert(int16_t alertId, void* filter = nullptr);
