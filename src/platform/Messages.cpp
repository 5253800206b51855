#include "platform/Messages.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "platform/Log.h"
#include "platform/StringLists.h"

namespace platform {
namespace {

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

AlertHook& Hook() {
  static AlertHook hook;
  return hook;
}

int16_t RunAlert1001(const std::string& text) {
  AlertHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (!hook) return kAlertDefaultItem;
  return hook(text);
}

}  // namespace

void SetMessageAlertHook(AlertHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

}  // namespace platform

int16_t DisplayNormalMessagePascal(std::string_view text) {
  const std::string whole(text);
  platform::LogLine("DisplayNormalMessage ERROR string: [" + whole + "]");
  return platform::RunAlert1001(whole);
}

int16_t DisplayNormalMessage(const char* text) { return DisplayNormalMessagePascal(text ? text : ""); }

int16_t DisplayNormalMessage(const std::string& text) { return DisplayNormalMessagePascal(text); }

int16_t DisplayNormalMessage(const CStr255_AC& text) { return DisplayNormalMessagePascal(text.ToUTF8()); }

int16_t newDisplayNormalMessage(const char* text) { return DisplayNormalMessage(text); }

int16_t DisplayNormalMessage(int16_t list, int16_t item) { return DisplayNormalMessage(GetIndString(list, item)); }

int16_t DisplayWarningMessage(int16_t list, int16_t item) { return DisplayNormalMessage(list, item); }

int16_t DisplayWarningMessage(const CStr255_AC& text, int16_t show) {
  if (show == 0) return 0;
  return DisplayNormalMessage(text);
}

int16_t DisplayNormalMessageForceAlways(const CStr255_AC& text) { return platform::RunAlert1001(text.ToUTF8()); }

int16_t FileErrorItem(OSErr code) {
  switch (code) {
    case 0: return 0;
    case -34: return 18;
    case -35: return 24;
    case -36: return 23;
    case -37: return 16;
    case -38: return 22;
    case -42: return 28;
    case -43: return 21;
    case -44: return 30;
    case -45: return 20;
    case -46: return 29;
    case -48: return 19;
    case -49: return 25;
    case -50: return 26;
    case -51: return 27;
    case -61: return 31;
    case -120: return 17;
    case -5000: return 14;
    case -5025: return 15;
    default: return 32;
  }
}

int16_t checkFileError(OSErr code) {
  if (code == noErr) return 0;
  return DisplayNormalMessage(kFileErrorStrings, FileErrorItem(code));
}

int16_t checkCatErr(OSErr code) { return checkFileError(code); }
int16_t displayFileResultCode(OSErr code) { return checkFileError(code); }

int16_t myNewFileError(OSErr code) {
  if (code == noErr) return 0;
  const int16_t item = FileErrorItem(code);
  if (item == 32) {
    const std::string text = platform::StringF(
        "An error occured while trying to create a new file, error code = %d", static_cast<int>(code));
    return DisplayNormalMessage(text.c_str());
  }
  return DisplayNormalMessage(kFileErrorStrings, item);
}

namespace {
int16_t MemOrResItem(OSErr code, bool resource) {
  switch (code) {
    case 0: return 0;
    case -108: return 7;
    case -109: return resource ? 8 : 0;
    case -111: return 9;
    case -112: return 10;
    case -117: return 11;
    case -192: return 13;
    case -193: return 14;
    case -194: return 12;
    default: return resource ? 16 : 15;
  }
}
}  // namespace

int16_t MemErrorItem(OSErr code) { return MemOrResItem(code, false); }
int16_t ResErrorItem(OSErr code) { return MemOrResItem(code, true); }

int16_t checkMyMemError(OSErr code) {
  const int16_t item = MemErrorItem(code);
  return item == 0 ? 0 : DisplayNormalMessage(kMemoryStrings, item);
}

int16_t myCheckResError(OSErr code) {
  const int16_t item = ResErrorItem(code);
  return item == 0 ? 0 : DisplayNormalMessage(kMemoryStrings, item);
}
