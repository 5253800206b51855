#include "chromakey/engine/KeyThreads.h"

#include "host/workers/WorkerPool.h"

namespace chromakey {

int gNumKeyerThreads = 1;

bool split_pass(int workers, long n, const std::function<void(long, long)>& fn) {
  if (n <= 0) return true;
  try {
    if (workers < 2 || n < 2) {
      fn(0, n);
      return true;
    }
    if (workers > n) workers = static_cast<int>(n);
    const long share = n / workers;
    host::parallelFor(host::WorkerPool::shared(), static_cast<size_t>(workers), [&](size_t i) {
      const long begin = static_cast<long>(i) * share;
      fn(begin, i + 1 == static_cast<size_t>(workers) ? n : begin + share);
    });
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace chromakey
