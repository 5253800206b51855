#include "platform/Log.h"

#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {
namespace {

std::string VStringF(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

std::string ProcessName() {
  static const std::string name = [] {
    std::string n;
    if (FILE* f = std::fopen("/proc/self/comm", "r")) {
      char buf[64] = {};
      if (std::fgets(buf, sizeof buf, f)) n = buf;
      std::fclose(f);
    }
    while (!n.empty() && (n.back() == '\n' || n.back() == '\r')) n.pop_back();
    return n.empty() ? std::string("kivo-processor") : n;
  }();
  return name;
}

std::string LogStamp(long long unixMillis) {
  const std::time_t secs = static_cast<std::time_t>(unixMillis / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  char out[80];
  std::snprintf(out, sizeof out, "%s.%03lld", buf, unixMillis % 1000);
  return out;
}

void LogLine(std::string_view text) {
  const auto now = std::chrono::system_clock::now();
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::string line = LogStamp(ms);
  line += ' ';
  line += ProcessName();
  line += '[' + std::to_string(::getpid()) + "] ";
  line.append(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  // One write per line so that lines from different threads never interleave.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void LogF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VStringF(format, args);
  va_end(args);
  LogLine(text);
}

void PrintF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VStringF(format, args);
  va_end(args);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string StringF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VStringF(format, args);
  va_end(args);
  return text;
}

}  // namespace platform
