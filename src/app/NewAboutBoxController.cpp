#include "app/NewAboutBoxController.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/AboutWindow.h"
#include "host/sys/PropertyList.h"
#include "host/qd/GWorld.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Controls.h"
#include "host/ui/ViewServer.h"
#include "output/Notifications.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/ZorvelBase.h"
#include "prefs/PrefStore.h"

namespace app {

namespace {

constexpr IDType kLogo = FourCC("logo"), kStat = FourCC("stat"), kProg = FourCC("prog"), kSupport = FourCC("supp"),
                 kSales = FourCC("sale"), kUpdate = FourCC("updt"), kDismiss1 = FourCC("dis1"),
                 kDismiss2 = FourCC("dis2");
constexpr int kProfileLines = 19;

int32_t gIndicatorMaxValue = 100;

const std::string* StringOf(const host::PlistDict& dict, const char* key) {
  const auto it = dict.find(key);
  return it == dict.end() ? nullptr : it->second.asString();
}

std::string PlistText(const host::PlistValue& value) {
  const auto bytes = host::serializePropertyList(value, host::PlistFormat::Xml);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

host::PlistDict BundleInfo() {
  return host::PlistDict{{"CFBundleDisplayName", std::string("Kivo-Processor")},
                         {"CFBundleExecutable", output::getApplicationName()},
                         {"CFBundleShortVersionString", GetSoftwareVersion().ToUTF8()},
                         {"KivoAboutLogo", std::string("410")}};
}

std::string ProductLine() {
  const host::PlistDict info = BundleInfo();
  const std::string* name = StringOf(info, "CFBundleDisplayName");
  if (!name) name = StringOf(info, "CFBundleExecutable");
  const std::string* version = StringOf(info, "CFBundleShortVersionString");
  return "\nProduct Name: " + (name ? *name : std::string()) + "\nVersion: " + (version ? *version : std::string());
}

std::string SystemProfileText() {
  const std::string info = ZORVEL_Base::systemVersionInfo();
  if (info.empty()) return "NO INFO FOUND????";
  std::string text;
  size_t lines = 0, at = 0;
  while (at < info.size() && lines < size_t(kProfileLines)) {
    const size_t end = info.find('\n', at);
    text += info.substr(at, end == std::string::npos ? std::string::npos : end - at) + "\n";
    ++lines;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return text;
}

std::string FormatWithValues(const std::string& format, const std::vector<std::string>& values) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
      if (next < values.size()) out += values[next];
      ++next;
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

std::string MailtoURL(const std::string& to, const std::string& subject, const std::string& body) {
  // Each part on its own, so that a "&" or "?" in a subject stays text.
  auto escape = [](const std::string& text, const char* keep) {
    std::string out;
    for (unsigned char c : text) {
      if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (c && std::strchr(keep, c))) {
        out += char(c);
      } else {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%%%02X", c);
        out += buf;
      }
    }
    return out;
  };
  return "mailto:" + escape(to, "@+") + "?subject=" + escape(subject, "") + "&body=" + escape(body, "");
}

bool GotoNSURL(const std::string& url) {
  platform::LogF("The URL to go is: [%s]", url.c_str());
  // Only a web or mail address that is one well-formed word is handed over.
  const bool known = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 || url.rfind("mailto:", 0) == 0;
  bool wellFormed = known;
  for (unsigned char c : url)
    if (c <= 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\') wellFormed = false;
  if (!wellFormed) return false;
  platform::LogF("the new URL is: [%s]", url.c_str());
  return OpenWithDesktop(url);
}

// ---- the controller

void NewAboutBoxController::initialize() {
  static bool done = false;
  if (done) return;
  done = true;
  setupFactoryDefaults();
}

void NewAboutBoxController::setupFactoryDefaults() {
  platform::LogLine("userDefaultsValuesPath = [FactoryDefault.plist]");
  std::optional<host::PlistValue> values;
  if (const auto bytes = host::GetBundleResource("FactoryDefault", "plist")) values = host::parsePropertyList(*bytes);
  if (!values || !values->asDict()) {
    platform::LogLine("userDefaultsValuesDict == NIL!!!!");
    return;
  }
  platform::LogLine("About to register factory default dictionary:\n" + PlistText(*values) + "\n\n");
  PrefStoreDefaults().registerDefaults(*values->asDict());
  double max = 0;
  if (const host::PlistValue* v = values->find("kPtbIndicatorMaxValue"); v && v->toDouble(max) && max >= 1 &&
                                                                          max <= 2147483647.0)
    gIndicatorMaxValue = int32_t(max);
}

int32_t NewAboutBoxController::IndicatorMaxValue() { return gIndicatorMaxValue; }

NewAboutBoxController* NewAboutBoxController::controller() {
  initialize();
  if (host::FindViewResource(std::string(kNewAboutBoxNib)).empty()) {
    DisplayNormalMessage("Unable to Find The Required Nib File:");
    // The plain controller: a window of its own without the resource's views.
    auto bare = std::make_unique<NewAboutBoxController>();
    bare->SetClassName(kNewAboutBoxNib);
    bare->MakeWidget(nullptr);
    return static_cast<NewAboutBoxController*>(TWindow::Adopt(std::move(bare)));
  }
  TWindow* window = NewTemplateWindow(std::string(kNewAboutBoxNib));
  auto* made = dynamic_cast<NewAboutBoxController*>(window);
  if (!made) {
    if (window) window->Close();
    DisplayNormalMessage(std::string("Problem With Loading the Nib File: ") + kNewAboutBoxNib + ".ui");
    return nullptr;
  }
  return made;
}

void NewAboutBoxController::DoPostCreate() {
  TWindow::DoPostCreate();
  if (auto* bar = FindSubView<TProgressBar>(kProg)) {
    int32_t max = gIndicatorMaxValue;
    if (auto stored = ReadFromMyUserDefaults("kPtbIndicatorMaxValue")) {
      double v = 0;
      if (stored->toDouble(v) && v >= 1 && v <= 2147483647.0) max = int32_t(v);
    }
    bar->SetMaximum(max, false);
    bar->SetValue(0, false);
  }
  setLogo();
}

void NewAboutBoxController::setLogo() {
  auto* logo = FindSubView<TPictureView>(kLogo);
  const host::PlistDict info = BundleInfo();
  const std::string* name = StringOf(info, "KivoAboutLogo");
  host::GWorldHandle picture;
  if (name && !name->empty() && name->find_first_not_of("0123456789") == std::string::npos && name->size() < 6) {
    const long id = std::stol(*name);
    if (id <= 32767) picture = host::GetPictureResource(int16_t(id));
  }
  if (!picture || !logo) {
    DisplayNormalMessage("Problem With Loading the Logo File:");
    return;
  }
  logo->SetOffscreen(picture.get());
}

void NewAboutBoxController::setStatusMessage(const std::string& message) {
  statusMessage_ = message;
  if (auto* stat = FindSubView<TStaticText>(kStat)) stat->SetText(CStr255_AC(message), true);
  Update();
}

void NewAboutBoxController::startIndicatorWithMessage(const std::string& message) {
  if (auto* bar = FindSubView<TProgressBar>(kProg)) bar->SetIndeterminate(true);
  setStatusMessage(message);
}

void NewAboutBoxController::stopIndicatorWithMessage(const std::string& message) {
  if (auto* bar = FindSubView<TProgressBar>(kProg)) {
    bar->SetIndeterminate(false);
    bar->SetValue(0);
  }
  setStatusMessage(message);
}

bool NewAboutBoxController::DoKeyEvent(int16_t charCode) {
  // A Control key arrives as its control character; backspace, tab, line
  // feed and return are keys of their own.
  if (charCode >= 1 && charCode <= 26 && charCode != 8 && charCode != 9 && charCode != 10 && charCode != 13) {
    platform::LogLine("Found a Control KEY");
    return true;
  }
  return TWindow::DoKeyEvent(charCode);
}

bool NewAboutBoxController::sendEmailForm(const std::string& formName) {
  setStatusMessage("Preparing email...");
  std::string profile;
  if (!SameIgnoringCase(formName, "ForSales")) profile = SystemProfileText();
  const std::string product = ProductLine();

  std::optional<host::PlistValue> forms;
  if (const auto bytes = host::GetBundleResource("registerEmailForm", "plist")) forms = host::parsePropertyList(*bytes);
  if (!forms || !forms->asDict()) {
    platform::LogLine("Unable to OPen the file: registerEmailForm.plist");
    setStatusMessage("");
    return false;
  }
  const host::PlistValue* form = forms->find(formName);
  if (!form || !form->asDict()) {
    platform::LogLine("Unable to find dictionary forRegistration??????");
    setStatusMessage("");
    return false;
  }
  const host::PlistDict& f = *form->asDict();
  auto text = [&](const char* key) {
    const std::string* s = StringOf(f, key);
    return s ? *s : std::string();
  };
  const std::string subject = text("SubjectFormat") + product;
  std::string body = FormatWithValues(text("BodyFormat"), {subject, text("Info")});
  if (!profile.empty()) body += profile;
  const bool opened = GotoNSURL(MailtoURL(text("To"), subject, body));
  setStatusMessage("");
  return opened;
}

void NewAboutBoxController::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  if (id == kSupport) {
    sendEmailForm("ForSupport");
  } else if (id == kSales) {
    sendEmailForm("ForSales");
  } else if (id == kUpdate) {
    GotoNSURL(kMakerWebSite);
  } else if (id == kDismiss1 || id == kDismiss2) {
    if (IsModal()) {
      EndModal(id);
    } else {
      windowWillClose();
      Close();
    }
  } else {
    TWindow::DoEvent(eventNumber, source, event);
  }
}

void NewAboutBoxController::DoCloseBox() {
  if (!IsModal()) windowWillClose();
  TWindow::DoCloseBox();
}

void NewAboutBoxController::beginSheetModalForWindow(TWindow* window, std::function<void()> didEnd) {
  stopIndicatorWithMessage();
  if (!GetWidget()) {
    platform::LogLine("Problem with NewAboutController beginSheetModalForWindow...");
    return;
  }
  (void)window;  // shown in front of it: the desktop places windows
  sheetDidEnd_ = std::move(didEnd);
  inSheet_ = true;
  Open();
}

void NewAboutBoxController::windowWillClose() {
  if (!inSheet_) return;
  inSheet_ = false;
  if (auto didEnd = std::move(sheetDidEnd_)) didEnd();
}

void RegisterNewAboutBoxClasses() { host::RegisterViewClass<NewAboutBoxController>(kNewAboutBoxNib); }

}  // namespace app
