// A file descriptor owned by one scope: closed when the scope ends unless
// released.

#pragma once

#include <unistd.h>

namespace host {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes the descriptor now; what close() returned (0 when none was open).
  int Close() {
    int r = 0;
    if (fd_ >= 0) r = ::close(fd_);
    fd_ = -1;
    return r;
  }
  // Hands the descriptor over to the caller, who closes it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace host
