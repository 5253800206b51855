#include "imaging/PackBits.h"

#include <cstring>

namespace imaging {

bool UnpackBitsRow(std::span<const uint8_t> in, uint8_t* out, size_t width) {
  size_t i = 0, o = 0;
  while (o < width) {
    if (i >= in.size()) return false;
    const auto n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      const size_t count = size_t(n) + 1;
      if (count > in.size() - i || count > width - o) return false;
      std::memcpy(out + o, in.data() + i, count);
      i += count;
      o += count;
    } else if (n != -128) {
      const size_t count = size_t(1 - n);
      if (i >= in.size() || count > width - o) return false;
      std::memset(out + o, in[i++], count);
      o += count;
    }
  }
  return true;
}

}  // namespace imaging
