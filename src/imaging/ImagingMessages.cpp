#include "imaging/ImagingMessages.h"

#include <mutex>
#include <utility>

#include "host/ui/Application.h"
#include "platform/Messages.h"

namespace imaging {
namespace {

struct Sinks {
  std::mutex mutex;
  MessageSink list;
  TextMessageSink text;
  BeepSink beep;
};

Sinks& TheSinks() {
  static Sinks sinks;
  return sinks;
}

}  // namespace

void SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(TheSinks().mutex);
  TheSinks().list = std::move(sink);
}

void SetTextMessageSink(TextMessageSink sink) {
  std::lock_guard<std::mutex> lock(TheSinks().mutex);
  TheSinks().text = std::move(sink);
}

void SetBeepSink(BeepSink sink) {
  std::lock_guard<std::mutex> lock(TheSinks().mutex);
  TheSinks().beep = std::move(sink);
}

void Beep() {
  BeepSink sink;
  {
    std::lock_guard<std::mutex> lock(TheSinks().mutex);
    sink = TheSinks().beep;
  }
  if (sink) sink();
  else host::Beep();
}

// Without an installed sink the message goes to the program's operator
// message sink (logged and shown in the one-button alert).
void ReportMessageText(const char* utf8) {
  TextMessageSink sink;
  {
    std::lock_guard<std::mutex> lock(TheSinks().mutex);
    sink = TheSinks().text;
  }
  if (sink) sink(utf8);
  else DisplayNormalMessage(utf8);
}

void ReportMessage(int16_t list, int16_t item) {
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(TheSinks().mutex);
    sink = TheSinks().list;
  }
  if (sink) sink(list, item);
  else DisplayNormalMessage(list, item);
}

}  // namespace imaging
