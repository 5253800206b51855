#include "imaging/ImagingMessages.h"

#include <cstdio>
#include <utility>

namespace imaging {
namespace {
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}
}  // namespace

TextMessageSink& TextSink();

TextMessageSink& TextSink() {
  static TextMessageSink sink;
  return sink;
}

void SetMessageSink(MessageSink sink) { Sink() = std::move(sink); }
void SetTextMessageSink(TextMessageSink sink) { TextSink() = std::move(sink); }

void ReportMessageText(const char* utf8) {
  if (TextSink()) {
    TextSink()(utf8);
  } else {
    std::fprintf(stderr, "%s\n", utf8);
  }
}

void ReportMessage(int16_t list, int16_t item) {
  if (Sink()) {
    Sink()(list, item);
  } else {
    std::fprintf(stderr, "imaging: message %d/%d\n", list, item);
  }
}

}  // namespace imaging
