// Records the texts shown through alert 1001 while a test runs.
#pragma once

#include <string>
#include <vector>

#include "platform/Messages.h"

class MessageCapture {
 public:
  MessageCapture() {
    platform::SetMessageAlertHook([this](const CStr255_AC& text) {
      texts.push_back(text.ToUTF8());
      return platform::kAlertDefaultItem;
    });
  }
  ~MessageCapture() { platform::SetMessageAlertHook({}); }
  std::vector<std::string> texts;
};
