// The framework exception: framework calls that fail throw a CException_AC
// carrying a 16-bit result code; callers catch it and turn it into the result
// code of their own operation.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "host/base/MacTypes.h"

class CException_AC : public std::exception {
 public:
  explicit CException_AC(OSErr error, std::string message = {})
      : error_(error), message_(std::move(message)) {
    if (message_.empty()) message_ = "framework failure " + std::to_string(error_);
  }
  OSErr GetError() const { return error_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  OSErr error_;
  std::string message_;
};

// Throws a CException_AC when `error` is not noErr.
inline void ThrowIfError_AC(OSErr error, const char* message = nullptr) {
  if (error != noErr) throw CException_AC(error, message ? message : "");
}

// Throws memFullErr (or the given code) when `p` is null.
template <typename T>
inline void ThrowIfNil_AC(const T* p, OSErr error = memFullErr) {
  if (p == nullptr) throw CException_AC(error);
}

[[noreturn]] inline void Throw_AC(OSErr error, const char* message = nullptr) {
  throw CException_AC(error, message ? message : "");
}

namespace host {

// Runs `body` and gives its failure as a result code: the code of a
// CException_AC, memFullErr for an allocation failure, paramErr for any
// other standard exception; noErr when it returns normally.
template <typename F>
OSErr CatchToOSErr(F&& body) {
  try {
    body();
    return noErr;
  } catch (const CException_AC& e) {
    return e.GetError();
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::exception&) {
    return paramErr;
  }
}

}  // namespace host
