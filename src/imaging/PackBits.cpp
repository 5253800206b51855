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

void PackBitsRow(std::span<const uint8_t> row, std::vector<uint8_t>* out) {
  size_t i = 0;
  const size_t n = row.size();
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out->push_back(static_cast<uint8_t>(1 - int(run)));
      out->push_back(row[i]);
      i += run;
      continue;
    }
    // A literal ends where a run of two or more begins.
    size_t literal = 1;
    while (i + literal < n && literal < 128 &&
           !(i + literal + 1 < n && row[i + literal] == row[i + literal + 1]))
      ++literal;
    out->push_back(static_cast<uint8_t>(literal - 1));
    out->insert(out->end(), row.begin() + std::ptrdiff_t(i), row.begin() + std::ptrdiff_t(i + literal));
    i += literal;
  }
}

}  // namespace imaging
