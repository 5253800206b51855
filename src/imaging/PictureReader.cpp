#include "imaging/PictureReader.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "host/imageio/ImageFile.h"

namespace imaging {

namespace {

constexpr int32_t kMaxSide = 8192;

struct Rect {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// Big-endian reads that fail (and stay failed) past the end.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> d) : d_(d) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t left() const { return ok_ ? d_.size() - pos_ : 0; }
  bool skip(size_t n) {
    if (!ok_ || n > d_.size() - pos_) return ok_ = false;
    pos_ += n;
    return true;
  }
  uint8_t u8() { return ok_ && pos_ < d_.size() ? d_[pos_++] : (ok_ = false, 0); }
  uint16_t u16() { return uint16_t(u8() << 8 | u8()); }
  int16_t s16() { return int16_t(u16()); }
  uint32_t u32() { return uint32_t(u16()) << 16 | u16(); }
  int32_t s32() { return int32_t(u32()); }
  Rect rect() {
    Rect r;
    r.top = s16();
    r.left = s16();
    r.bottom = s16();
    r.right = s16();
    return r;
  }
  std::span<const uint8_t> bytes(size_t n) {
    if (!ok_ || n > d_.size() - pos_) {
      ok_ = false;
      return {};
    }
    auto s = d_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  void align() {
    if (pos_ % 2) skip(1);
  }

 private:
  std::span<const uint8_t> d_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Unpacks PackBits runs of `unit` bytes into exactly out.size() bytes.
bool UnpackBits(std::span<const uint8_t> in, std::span<uint8_t> out, size_t unit) {
  size_t i = 0, o = 0;
  while (o < out.size()) {
    if (i >= in.size()) return false;
    const int8_t flag = int8_t(in[i++]);
    if (flag == -128) continue;
    if (flag >= 0) {
      const size_t n = (size_t(flag) + 1) * unit;
      if (n > in.size() - i || n > out.size() - o) return false;
      std::copy_n(in.begin() + long(i), n, out.begin() + long(o));
      i += n;
      o += n;
    } else {
      const size_t count = size_t(1 - flag);
      if (unit > in.size() - i || count * unit > out.size() - o) return false;
      for (size_t k = 0; k < count; ++k, o += unit) std::copy_n(in.begin() + long(i), unit, out.begin() + long(o));
      i += unit;
    }
  }
  return true;
}

struct PixMap {
  bool isPixMap = false;
  uint16_t rowBytes = 0;
  Rect bounds;
  int16_t packType = 0;
  int16_t pixelSize = 1;
  int16_t cmpCount = 1;
  std::vector<std::array<uint8_t, 3>> clut;
};

class Painter {
 public:
  Painter(host::GWorld& page, Rect frame) : page_(page), frame_(frame) {}
  bool drew = false;

  // Copies `image` (RGB rows, the pixmap's bounds) from src to dst scaled.
  void Blit(const std::vector<uint8_t>& rgb, const Rect& bounds, Rect src, const Rect& dst) {
    if (src.width() <= 0 || src.height() <= 0 || dst.width() <= 0 || dst.height() <= 0) return;
    const int32_t w = bounds.width(), h = bounds.height();
    for (int32_t y = std::max(dst.top, frame_.top); y < std::min(dst.bottom, frame_.bottom); ++y) {
      const int64_t sy = src.top + int64_t(y - dst.top) * src.height() / dst.height() - bounds.top;
      if (sy < 0 || sy >= h) continue;
      uint8_t* out = page_.scanline(y - frame_.top);
      for (int32_t x = std::max(dst.left, frame_.left); x < std::min(dst.right, frame_.right); ++x) {
        const int64_t sx = src.left + int64_t(x - dst.left) * src.width() / dst.width() - bounds.left;
        if (sx < 0 || sx >= w) continue;
        const uint8_t* p = &rgb[(size_t(sy) * size_t(w) + size_t(sx)) * 3];
        uint8_t* q = out + 4 * size_t(x - frame_.left);
        q[0] = 0xFF;
        q[1] = p[0];
        q[2] = p[1];
        q[3] = p[2];
      }
    }
    drew = true;
  }

  void BlitWorld(const host::GWorld& image, const Rect& dst) {
    const Rect b{0, 0, image.height(), image.width()};
    std::vector<uint8_t> rgb(size_t(image.width()) * size_t(image.height()) * 3);
    for (int32_t y = 0; y < image.height(); ++y) {
      const uint8_t* in = image.scanline(y);
      for (int32_t x = 0; x < image.width(); ++x)
        std::copy_n(in + 4 * size_t(x) + 1, 3, &rgb[(size_t(y) * size_t(image.width()) + size_t(x)) * 3]);
    }
    Blit(rgb, b, b, dst);
  }

 private:
  host::GWorld& page_;
  Rect frame_;
};

bool ReadPixMapHeader(Reader& r, PixMap& pm, bool withClut) {
  pm.rowBytes = r.u16();
  pm.isPixMap = pm.rowBytes & 0x8000;
  pm.rowBytes &= 0x3FFF;
  pm.bounds = r.rect();
  if (pm.isPixMap) {
    r.skip(2);  // pmVersion
    pm.packType = r.s16();
    r.skip(4 + 8);  // packSize, resolutions
    r.skip(2);      // pixelType
    pm.pixelSize = r.s16();
    pm.cmpCount = r.s16();
    r.skip(2 + 4 + 4 + 4);  // cmpSize, planeBytes, pmTable, pmReserved
    if (withClut) {
      r.skip(4);
      const uint16_t flags = r.u16();
      const int32_t size = r.s16();
      if (size < -1 || size > 255) return false;
      pm.clut.assign(256, {0, 0, 0});
      for (int32_t i = 0; i <= size && r.ok(); ++i) {
        const uint16_t value = r.u16();
        const uint8_t red = uint8_t(r.u16() >> 8), green = uint8_t(r.u16() >> 8), blue = uint8_t(r.u16() >> 8);
        const size_t index = (flags & 0x8000) ? size_t(i) : size_t(value & 0xFF);
        pm.clut[index] = {red, green, blue};
      }
    }
  } else {
    pm.pixelSize = 1;
  }
  const int32_t w = pm.bounds.width(), h = pm.bounds.height();
  if (!r.ok() || w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return false;
  const int64_t bitsNeeded = int64_t(w) * pm.pixelSize;
  if (!(pm.pixelSize == 1 || pm.pixelSize == 2 || pm.pixelSize == 4 || pm.pixelSize == 8 || pm.pixelSize == 16 ||
        pm.pixelSize == 32) ||
      int64_t(pm.rowBytes) * 8 < bitsNeeded)
    return false;
  return true;
}

// Reads the rows of a pixmap or bitmap into RGB bytes.
bool ReadPixels(Reader& r, const PixMap& pm, std::vector<uint8_t>& rgb) {
  const int32_t w = pm.bounds.width(), h = pm.bounds.height();
  const size_t rb = pm.rowBytes;
  rgb.assign(size_t(w) * size_t(h) * 3, 0xFF);
  const bool planar = pm.pixelSize == 32 && pm.packType != 1 && rb >= 8;
  const size_t unpacked = planar ? size_t(w) * size_t(std::clamp<int16_t>(pm.cmpCount, 3, 4)) : rb;
  std::vector<uint8_t> row(unpacked);
  for (int32_t y = 0; y < h; ++y) {
    if (rb < 8 || pm.packType == 1) {
      auto raw = r.bytes(rb);
      if (!r.ok()) return false;
      std::copy(raw.begin(), raw.end(), row.begin());
    } else {
      const size_t count = rb > 250 ? r.u16() : r.u8();
      auto packed = r.bytes(count);
      if (!r.ok() || !UnpackBits(packed, row, pm.pixelSize == 16 ? 2 : 1)) return false;
    }
    uint8_t* out = &rgb[size_t(y) * size_t(w) * 3];
    for (int32_t x = 0; x < w; ++x, out += 3) {
      if (planar) {
        const size_t skip = pm.cmpCount >= 4 ? size_t(w) : 0;  // alpha plane first
        out[0] = row[skip + size_t(x)];
        out[1] = row[skip + size_t(w) + size_t(x)];
        out[2] = row[skip + 2 * size_t(w) + size_t(x)];
      } else if (pm.pixelSize == 32) {
        std::copy_n(&row[4 * size_t(x) + 1], 3, out);
      } else if (pm.pixelSize == 16) {
        const uint16_t v = uint16_t(row[2 * size_t(x)] << 8 | row[2 * size_t(x) + 1]);
        const auto c = [](unsigned five) { return uint8_t(five << 3 | five >> 2); };
        out[0] = c((v >> 10) & 31);
        out[1] = c((v >> 5) & 31);
        out[2] = c(v & 31);
      } else {
        const int bits = pm.pixelSize;
        const size_t bit = size_t(x) * size_t(bits);
        const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (pm.isPixMap) {
          std::copy_n(pm.clut[index].data(), 3, out);
        } else {
          const uint8_t v = index ? 0 : 0xFF;  // set bits are black
          out[0] = out[1] = out[2] = v;
        }
      }
    }
  }
  return true;
}

// Pixel-image opcodes 0x90, 0x91, 0x98, 0x99, 0x9A, 0x9B.
bool DrawBits(Reader& r, uint16_t op, Painter& painter) {
  const bool direct = op == 0x9A || op == 0x9B;
  const bool region = op & 1;
  if (direct) r.skip(4);  // base address
  PixMap pm;
  if (!ReadPixMapHeader(r, pm, !direct)) return false;
  if (pm.isPixMap == false && direct) return false;
  const Rect src = r.rect(), dst = r.rect();
  r.skip(2);  // transfer mode
  if (region) {
    const uint16_t size = r.u16();
    if (size < 2 || !r.skip(size - 2u)) return false;
  }
  std::vector<uint8_t> rgb;
  if (!r.ok() || !ReadPixels(r, pm, rgb)) return false;
  painter.Blit(rgb, pm.bounds, src, dst);
  return true;
}

// Opcode 0x8200: a compressed image with its description.
bool DrawQuickTime(std::span<const uint8_t> data, const Rect& frame, Painter& painter) {
  Reader r(data);
  r.skip(2);  // version
  std::array<int32_t, 9> m{};
  for (auto& v : m) v = r.s32();
  const uint32_t matteSize = r.u32();
  r.skip(8 + 2);  // matte rectangle, mode
  const Rect src = r.rect();
  r.skip(4);  // accuracy
  const uint32_t maskSize = r.u32();
  if (!r.ok() || !r.skip(matteSize) || !r.skip(maskSize)) return false;
  const size_t descStart = r.pos();
  const uint32_t descSize = r.u32();
  if (!r.ok() || descSize < 86 || descSize - 4 > r.left()) return false;
  r.skip(40);
  const uint32_t dataSize = r.u32();
  r.skip(descSize - 48);
  if (!r.ok() || r.pos() != descStart + descSize) return false;
  auto image = r.bytes(std::min<size_t>(dataSize ? dataSize : r.left(), r.left()));
  host::ImageReadResult decoded = host::DecodeImage(image);
  if (!decoded.ok()) return false;
  // The matrix scales and moves the source rectangle onto the page (16.16).
  auto fx = [](int32_t v, int32_t fixed) { return int32_t((int64_t(v) * fixed) >> 16); };
  const int32_t a = m[0] ? m[0] : 0x10000, d = m[4] ? m[4] : 0x10000;
  Rect dst{fx(src.top, d) + (m[7] >> 16), fx(src.left, a) + (m[6] >> 16), fx(src.bottom, d) + (m[7] >> 16),
           fx(src.right, a) + (m[6] >> 16)};
  if (dst.width() <= 0 || dst.height() <= 0) dst = frame;
  painter.BlitWorld(*decoded.image, dst);
  return true;
}

// Length of the data of an opcode that draws nothing we show; nothing when
// the opcode's length is not known from its number alone.
std::optional<size_t> DataLength(Reader& r, uint16_t op) {
  auto sized16 = [&]() -> size_t { return r.u16(); };
  auto sized32 = [&]() -> size_t { return r.u32(); };
  switch (op) {
    case 0x0000: case 0x001C: case 0x001E: return 0;
    case 0x0001: { const size_t n = r.u16(); return n >= 2 ? n - 2 : 0; }  // clip region
    case 0x0003: case 0x0005: case 0x0008: case 0x000D: case 0x0015: case 0x0016: case 0x0023: case 0x00A0: return 2;
    case 0x0004: return 1;
    case 0x0006: case 0x0007: case 0x000B: case 0x000C: case 0x000E: case 0x000F: case 0x0021: return 4;
    case 0x0002: case 0x0009: case 0x000A: case 0x0010: case 0x0020: return 8;
    case 0x0011: return 2;
    case 0x001A: case 0x001B: case 0x001D: case 0x001F: case 0x0022: return 6;
    case 0x0C00: return 24;
    case 0x00A1: { r.skip(2); return sized16(); }
    case 0x0028: { r.skip(4); return r.u8(); }
    case 0x0029: case 0x002A: { r.skip(1); return r.u8(); }
    case 0x002B: { r.skip(2); return r.u8(); }
    case 0x002C: case 0x002D: case 0x002E: case 0x002F: return sized16();
    default: break;
  }
  if ((op >= 0x0017 && op <= 0x0019) || (op >= 0x0038 && op <= 0x003F) || (op >= 0x0048 && op <= 0x004F) ||
      (op >= 0x0058 && op <= 0x005F) || (op >= 0x00B0 && op <= 0x00CF) || (op >= 0x8000 && op <= 0x80FF))
    return 0;
  if ((op >= 0x0030 && op <= 0x0037) || (op >= 0x0040 && op <= 0x0047) || (op >= 0x0050 && op <= 0x0057)) return 8;
  if (op >= 0x0060 && op <= 0x0067) return 12;
  if (op >= 0x0068 && op <= 0x006F) return 4;
  if ((op >= 0x0070 && op <= 0x0077) || (op >= 0x0080 && op <= 0x0087)) {
    const size_t n = r.u16();
    return n >= 2 ? n - 2 : 0;
  }
  if ((op >= 0x0024 && op <= 0x0027) || (op >= 0x0092 && op <= 0x0097) || (op >= 0x009C && op <= 0x009F) ||
      (op >= 0x00A2 && op <= 0x00AF))
    return sized16();
  if (op >= 0x00D0 && op <= 0x00FE) return sized32();
  if (op >= 0x0100 && op <= 0x7FFF) return size_t(op >> 8) * 2;
  if (op >= 0x8100) return sized32();
  return std::nullopt;  // the pattern opcodes, 0x78-0x7F, 0x88-0x8F
}

}  // namespace

host::GWorldHandle ReadPicture(std::span<const uint8_t> data) {
  auto isVersion2 = [&](size_t at) {
    return data.size() >= at + 14 && data[at + 10] == 0x00 && data[at + 11] == 0x11 && data[at + 12] == 0x02 &&
           data[at + 13] == 0xFF;
  };
  size_t start = 0;
  if (!isVersion2(0)) {
    if (!isVersion2(512)) return nullptr;
    start = 512;
  }
  Reader r(data.subspan(start));
  r.skip(2);  // the picture's size (only 16 bits: not trusted)
  const Rect frame = r.rect();
  if (frame.width() <= 0 || frame.height() <= 0 || frame.width() > kMaxSide || frame.height() > kMaxSide)
    return nullptr;
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, frame.height(), frame.width()));
  if (!page) return nullptr;
  Painter painter(*page, frame);
  r.skip(2);  // version opcode 0x0011, its 0x02FF is read as its data
  r.skip(2);
  while (r.ok()) {
    r.align();
    const uint16_t op = r.u16();
    if (!r.ok() || op == 0x00FF) break;
    if (op == 0x0090 || op == 0x0091 || op == 0x0098 || op == 0x0099 || op == 0x009A || op == 0x009B) {
      if (!DrawBits(r, op, painter)) break;
      continue;
    }
    if (op == 0x8200) {
      const uint32_t size = r.u32();
      auto block = r.bytes(size);
      if (!r.ok()) break;
      DrawQuickTime(block, frame, painter);
      continue;
    }
    const std::optional<size_t> n = DataLength(r, op);
    if (!n || !r.skip(*n)) break;
  }
  return painter.drew ? std::move(page) : nullptr;
}

}  // namespace imaging
