// A time limit an operator or a test may set in the environment: the whole
// number of seconds in the variable `name` when it is set and lies within
// [least, most], else `fallback`. Tests set the limits they would otherwise
// wait out small; a value that cannot be read leaves the program's own.
#pragma once

#include <chrono>
#include <cstdlib>

namespace host {

inline std::chrono::seconds LimitFromEnvironment(const char* name, std::chrono::seconds fallback,
                                                 std::chrono::seconds least, std::chrono::seconds most) {
  if (const char* v = std::getenv(name); v && *v) {
    char* end = nullptr;
    const long long seconds = std::strtoll(v, &end, 10);
    if (*end == '\0' && seconds >= least.count() && seconds <= most.count()) return std::chrono::seconds(seconds);
  }
  return fallback;
}

}  // namespace host
