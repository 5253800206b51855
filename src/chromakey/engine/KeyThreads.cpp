#include "chromakey/engine/KeyThreads.h"

#include <system_error>
#include <thread>
#include <vector>

namespace chromakey {

int gNumKeyerThreads = 1;

void split_pass(int workers, long n, const std::function<void(long, long)>& fn) {
  if (n <= 0) return;
  if (workers < 2 || n < 2) {
    fn(0, n);
    return;
  }
  if (workers > n) workers = static_cast<int>(n);
  const long share = n / workers;
  std::vector<std::thread> threads;
  std::vector<int> notStarted;
  threads.reserve(workers);
  for (int i = 1; i < workers; ++i) {
    const long begin = i * share;
    const long end = (i == workers - 1) ? n : begin + share;
    try {
      threads.emplace_back([&fn, begin, end] {
        try {
          fn(begin, end);
        } catch (...) {
          // A share ends quietly; the pass's callers use no exceptions.
        }
      });
    } catch (const std::system_error&) {
      notStarted.push_back(i);
    }
  }
  fn(0, share);
  for (int i : notStarted) {
    const long begin = i * share;
    fn(begin, (i == workers - 1) ? n : begin + share);
  }
  for (auto& t : threads) t.join();
}

}  // namespace chromakey
