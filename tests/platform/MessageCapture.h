// Records the texts shown through alert 1001 while a test runs.
#pragma once

#include <string>
#include <vector>

#include "platform/Messages.h"

class MessageCapture {
 public:
  MessageCapture() {
    platform::SetMessageAlertHook([this](const std::string& text) {
      texts.push_back(text);
      return platform::kAlertDefaultItem;
    });
  }
  ~MessageCapture() { platform::SetMessageAlertHook({}); }
  std::vector<std::string> texts;
};
