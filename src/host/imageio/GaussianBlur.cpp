#include "host/imageio/GaussianBlur.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace host {
namespace {

constexpr int kMaxHalfWidth = 2048;
constexpr uint32_t kOne = 1u << 16;  // weights are 16.16 fixed point summing to exactly kOne

// Weights for offsets -r..r, summing to kOne.
std::vector<uint32_t> MakeKernel(double sigma) {
  const int r = std::clamp(static_cast<int>(std::ceil(3.0 * sigma)), 1, kMaxHalfWidth);
  std::vector<double> real(2 * r + 1);
  double sum = 0;
  for (int i = -r; i <= r; ++i) {
    real[i + r] = std::exp(-(double(i) * i) / (2.0 * sigma * sigma));
    sum += real[i + r];
  }
  std::vector<uint32_t> kernel(2 * r + 1);
  uint32_t total = 0;
  for (size_t i = 0; i < kernel.size(); ++i) {
    kernel[i] = static_cast<uint32_t>(std::lround(real[i] / sum * kOne));
    total += kernel[i];
  }
  kernel[r] += kOne - total;  // rounding remainder goes to the centre tap
  return kernel;
}

// Runs `work(band, first, last)` over `count` rows split into `bands`
// contiguous bands, each on its own thread; a band whose thread cannot be
// started runs on the calling thread. The work must not throw.
void RunBands(int32_t count, int bands, const std::function<void(int, int32_t, int32_t)>& work) {
  std::vector<std::thread> threads;
  for (int b = 1; b < bands; ++b) {
    const int32_t first = static_cast<int32_t>(int64_t(count) * b / bands);
    const int32_t last = static_cast<int32_t>(int64_t(count) * (b + 1) / bands);
    try {
      threads.emplace_back(work, b, first, last);
    } catch (const std::system_error&) {
      work(b, first, last);
    }
  }
  work(0, 0, static_cast<int32_t>(int64_t(count) / bands));
  for (auto& t : threads) t.join();
}

}  // namespace

bool GaussianBlur(GWorld& image, double radius, int threads) {
  if (!(radius > 0) || !std::isfinite(radius)) return true;
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::vector<uint32_t> kernel = MakeKernel(radius);
  const int r = static_cast<int>(kernel.size() / 2);
  const int32_t width = image.width();
  const int32_t height = image.height();
  const size_t rowValues = size_t(width) * 4;

  const int bands = std::clamp(threads, 1, height);

  // Every buffer is allocated here, before any pixel changes, so that running
  // out of memory leaves the offscreen untouched.
  std::vector<uint16_t> middle;  // horizontal pass, 8 fractional bits kept
  std::vector<std::vector<uint8_t>> paddedRows(bands);
  std::vector<std::vector<uint32_t>> sums(bands);
  try {
    middle.resize(rowValues * size_t(height));
    for (int b = 0; b < bands; ++b) {
      paddedRows[b].resize(size_t(width + 2 * r) * 4);
      sums[b].resize(rowValues);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  RunBands(height, bands, [&](int band, int32_t first, int32_t last) {
    // One source row with r copies of its end pixels on each side.
    std::vector<uint8_t>& padded = paddedRows[band];
    for (int32_t y = first; y < last; ++y) {
      const uint8_t* src = image.scanline(y);
      for (int i = 0; i < r; ++i) {
        std::copy(src, src + 4, padded.begin() + size_t(i) * 4);
        std::copy(src + rowValues - 4, src + rowValues, padded.begin() + (size_t(r) + width + i) * 4);
      }
      std::copy(src, src + rowValues, padded.begin() + size_t(r) * 4);
      uint16_t* out = middle.data() + size_t(y) * rowValues;
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* window = padded.data() + size_t(x) * 4;
        uint32_t acc[4] = {128, 128, 128, 128};
        for (size_t k = 0; k < kernel.size(); ++k, window += 4) {
          const uint32_t w = kernel[k];
          acc[0] += w * window[0];
          acc[1] += w * window[1];
          acc[2] += w * window[2];
          acc[3] += w * window[3];
        }
        for (int c = 0; c < 4; ++c) out[size_t(x) * 4 + c] = static_cast<uint16_t>(acc[c] >> 8);
      }
    }
  });

  RunBands(height, bands, [&](int band, int32_t first, int32_t last) {
    std::vector<uint32_t>& acc = sums[band];
    for (int32_t y = first; y < last; ++y) {
      std::fill(acc.begin(), acc.end(), 1u << 23);
      for (int k = -r; k <= r; ++k) {
        const int32_t sy = std::clamp(y + k, 0, height - 1);
        const uint16_t* in = middle.data() + size_t(sy) * rowValues;
        const uint32_t w = kernel[size_t(k + r)];
        for (size_t i = 0; i < rowValues; ++i) acc[i] += w * in[i];
      }
      uint8_t* out = image.scanline(y);
      for (size_t i = 0; i < rowValues; ++i) out[i] = static_cast<uint8_t>(acc[i] >> 24);
    }
  });
  return true;
}

}  // namespace host
