// The about-window controller with its support and sales e-mail forms: a
// window from the view resource "NewAboutBoxController" with the program's
// logo, a status line, a progress indicator and buttons that compose an
// e-mail to the maker (opened in the desktop's mail program), open the
// maker's web site, or close the window. No part of the program opens it.
//
// Its resources ship with the program: "FactoryDefault.plist" (the user
// defaults' fallback values, "kPtbIndicatorMaxValue" among them) and
// "registerEmailForm.plist" (per form "To", "SubjectFormat", "BodyFormat",
// "Info"; formats take their values at "%@").
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"
#include "host/ui/View.h"

namespace app {

inline constexpr char kNewAboutBoxNib[] = "NewAboutBoxController";
inline constexpr char kMakerWebSite[] = "https://kivo.example.org";

class NewAboutBoxController : public TWindow {
 public:
  // The controller with its window made from its view resource; when the
  // resource is missing, after an alert, a controller with an empty window;
  // none, after an alert, when the resource cannot be loaded.
  static NewAboutBoxController* controller();
  // Once per process, before the first controller: the factory defaults.
  static void initialize();
  // Registers "FactoryDefault.plist" as the user defaults' fallback; the
  // progress indicator's maximum starts from its "kPtbIndicatorMaxValue".
  static void setupFactoryDefaults();
  static int32_t IndicatorMaxValue();

  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  // Keys typed with the Control key are swallowed.
  bool DoKeyEvent(int16_t charCode) override;
  void DoCloseBox() override;

  // The logo named by the program's "KivoAboutLogo"; an alert when it
  // cannot be loaded.
  void setLogo();
  void setStatusMessage(const std::string& message);
  const std::string& StatusMessage() const { return statusMessage_; }
  void startIndicatorWithMessage(const std::string& message = {});
  void stopIndicatorWithMessage(const std::string& message = {});

  // Composes the e-mail of the form ("ForSupport", "ForSales") and opens it;
  // false when the forms or that form cannot be had, or it was not opened.
  bool sendEmailForm(const std::string& formName);

  // Shows the window over `window` until it is closed; `didEnd` runs then.
  void beginSheetModalForWindow(TWindow* window, std::function<void()> didEnd = {});
  // The window closes: the sheet, if any, ends.
  void windowWillClose();

 private:
  std::string statusMessage_;
  std::function<void()> sheetDidEnd_;
  bool inSheet_ = false;
};

// The program's own information: "CFBundleDisplayName",
// "CFBundleExecutable", "CFBundleShortVersionString", "KivoAboutLogo".
host::PlistDict BundleInfo();

// "\nProduct Name: <name>\nVersion: <version>".
std::string ProductLine();

// The system's description (its version information) for a support request,
// at most 19 lines; "NO INFO FOUND????" when nothing can be told.
std::string SystemProfileText();

// The format with "%@" replaced by the values in order ("%%" is a "%").
std::string FormatWithValues(const std::string& format, const std::vector<std::string>& values);

// "mailto:" with recipient, subject and body, each percent-escaped as UTF-8.
std::string MailtoURL(const std::string& to, const std::string& subject, const std::string& body);

// Opens a web or mail address with the desktop (xdg-open, by argument
// vector); false when it is no such address or could not be handed over.
bool GotoNSURL(const std::string& url);

void RegisterNewAboutBoxClasses();

}  // namespace app
