#include "imaging/PictReader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "host/base/Stream.h"
#include "host/files/FileOps.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/CopyBits.h"
#include "imaging/Offscreen.h"
#include "imaging/PackBits.h"

namespace imaging {
namespace {

constexpr int32_t kMaxSide = 16384;

struct Rect16 {
  int16_t top = 0, left = 0, bottom = 0, right = 0;
  int32_t Width() const { return int32_t(right) - left; }
  int32_t Height() const { return int32_t(bottom) - top; }
  CLongRect_AC Offset(int32_t dv, int32_t dh) const { return CLongRect_AC(top - dv, left - dh, bottom - dv, right - dh); }
};

Rect16 ReadRect(CStream_AC& in) {
  Rect16 r;
  r.top = in.ReadInt16BE();
  r.left = in.ReadInt16BE();
  r.bottom = in.ReadInt16BE();
  r.right = in.ReadInt16BE();
  return r;
}

void SkipRegion(CStream_AC& in) {
  const uint16_t size = in.ReadUInt16BE();
  if (size < 2) Throw_AC(paramErr);
  in.Skip(size - 2);
}

// One row's bytes: packed rows carry a byte count first (two bytes when
// rows are longer than 250 bytes).
std::vector<uint8_t> PackedRow(CStream_AC& in, size_t rowBytes) {
  const size_t count = rowBytes > 250 ? in.ReadUInt16BE() : in.ReadUInt8();
  return in.ReadBytes(count);
}

// Unpacks 16-bit PackBits (runs of words) into `width` words.
bool UnpackWords(std::span<const uint8_t> in, uint8_t* out, size_t words) {
  size_t i = 0, o = 0;
  while (o < words) {
    if (i >= in.size()) return false;
    const auto n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      const size_t count = size_t(n) + 1;
      if (count * 2 > in.size() - i || count > words - o) return false;
      std::memcpy(out + o * 2, in.data() + i, count * 2);
      i += count * 2;
      o += count;
    } else if (n != -128) {
      const size_t count = size_t(1 - n);
      if (2 > in.size() - i || count > words - o) return false;
      for (size_t k = 0; k < count; ++k) std::memcpy(out + (o + k) * 2, in.data() + i, 2);
      i += 2;
      o += count;
    }
  }
  return true;
}

struct PixMapHeader {
  uint16_t rowBytes = 0;
  bool isPixMap = false;
  Rect16 bounds;
  uint16_t packType = 0, pixelSize = 1, cmpCount = 1;
  std::vector<uint32_t> colors;  // 0x00RRGGBB by index
};

void ReadPixMapFields(CStream_AC& in, PixMapHeader* h) {
  in.ReadUInt16BE();  // pmVersion
  h->packType = in.ReadUInt16BE();
  in.Skip(4 + 4 + 4);  // packSize, hRes, vRes
  in.ReadUInt16BE();   // pixelType
  h->pixelSize = in.ReadUInt16BE();
  h->cmpCount = in.ReadUInt16BE();
  in.Skip(2 + 4 + 4 + 4);  // cmpSize, planeBytes, pmTable, pmReserved
}

void ReadColorTable(CStream_AC& in, PixMapHeader* h) {
  in.Skip(4 + 2);  // seed, flags
  const uint16_t last = in.ReadUInt16BE();
  if (last > 255) Throw_AC(paramErr);
  h->colors.assign(256, 0);
  for (uint32_t i = 0; i <= last; ++i) {
    const uint16_t value = in.ReadUInt16BE();
    const uint16_t r = in.ReadUInt16BE(), g = in.ReadUInt16BE(), b = in.ReadUInt16BE();
    // Device colour tables give the entry's place by order, not by value.
    const uint32_t index = (value < 256) ? value : i;
    h->colors[index] = uint32_t(r >> 8) << 16 | uint32_t(g >> 8) << 8 | (b >> 8);
  }
}

// The fewest bytes one row of a bitmap op can take in the picture, by the
// way ReadPixels reads it: rows stored as they are take their length; a
// packed row takes its byte count and the fewest runs that unpack to it.
size_t MinimumRowBytes(const PixMapHeader& h, int32_t w, size_t rowBytes, bool packed) {
  const uint16_t depth = h.isPixMap ? h.pixelSize : 1;
  const size_t countBytes = rowBytes > 250 ? 2 : 1;
  if (depth == 32) {
    const uint16_t pack = h.packType == 0 ? 4 : h.packType;
    if (rowBytes < 8 || pack == 1) return rowBytes;
    if (pack == 2) return size_t(w) * 3;
    const size_t planes = h.cmpCount == 4 ? 4 : 3;
    return countBytes + PackBitsMinimumBytes(planes * size_t(w));
  }
  if (depth == 16) {
    if (rowBytes < 8 || h.packType == 1) return rowBytes;
    // A run of up to 128 words takes its header and one word.
    return countBytes + (size_t(w) + 127) / 128 * 3;
  }
  if (!packed || rowBytes < 8) return rowBytes;
  return countBytes + PackBitsMinimumBytes(rowBytes);
}

// Decodes the rows of a bitmap op into a new offscreen of the map's bounds.
host::GWorldHandle ReadPixels(CStream_AC& in, const PixMapHeader& h, bool packed) {
  const int32_t w = h.bounds.Width(), height = h.bounds.Height();
  if (w <= 0 || height <= 0 || w > kMaxSide || height > kMaxSide) Throw_AC(paramErr);
  const size_t rowBytes = h.rowBytes & 0x3FFF;
  const uint16_t depth = h.isPixMap ? h.pixelSize : 1;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16 && depth != 32) Throw_AC(paramErr);
  size_t needed = (size_t(w) * depth + 7) / 8;
  if (depth == 32 && (h.packType == 2)) needed = size_t(w) * 3;
  if (rowBytes < std::min<size_t>(needed, (size_t(w) * depth + 7) / 8)) Throw_AC(paramErr);
  // Every row must be able to stand in what is left of the picture before
  // room is made for them all.
  if (uint64_t(height) * MinimumRowBytes(h, w, rowBytes, packed) > in.BytesLeft()) Throw_AC(eofErr);
  // Every pixel of every row is written below.
  host::GWorldHandle out = host::GWorld::CreateUninitialized(CLongRect_AC(0, 0, height, w));
  if (!out) Throw_AC(memFullErr);
  std::vector<uint8_t> row(std::max(rowBytes, size_t(w) * 4), 0);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* dst = out->scanline(y);
    if (depth == 32) {
      const uint16_t pack = h.packType == 0 ? 4 : h.packType;
      if (rowBytes < 8 || pack == 1) {
        in.ReadBytes(row.data(), rowBytes);
        for (int32_t x = 0; x < w; ++x) std::memcpy(dst + 4 * x + 1, &row[size_t(x) * 4 + 1], 3);
      } else if (pack == 2) {
        in.ReadBytes(row.data(), size_t(w) * 3);
        for (int32_t x = 0; x < w; ++x) std::memcpy(dst + 4 * x + 1, &row[size_t(x) * 3], 3);
      } else if (pack == 4) {
        const size_t planes = h.cmpCount == 4 ? 4 : 3;
        const std::vector<uint8_t> bytes = PackedRow(in, rowBytes);
        if (!UnpackBitsRow(bytes, row.data(), planes * size_t(w))) Throw_AC(paramErr);
        const size_t first = planes - 3;
        for (int32_t x = 0; x < w; ++x)
          for (size_t c = 0; c < 3; ++c) dst[4 * x + 1 + c] = row[(first + c) * size_t(w) + size_t(x)];
      } else {
        Throw_AC(paramErr);
      }
    } else if (depth == 16) {
      if (rowBytes < 8 || h.packType == 1) {
        in.ReadBytes(row.data(), rowBytes);
      } else {
        const std::vector<uint8_t> bytes = PackedRow(in, rowBytes);
        if (!UnpackWords(bytes, row.data(), size_t(w))) Throw_AC(paramErr);
      }
      for (int32_t x = 0; x < w; ++x) {
        const uint16_t v = uint16_t(row[size_t(x) * 2] << 8 | row[size_t(x) * 2 + 1]);
        const auto five = [](uint16_t c) { return uint8_t((c << 3) | (c >> 2)); };
        dst[4 * x + 1] = five((v >> 10) & 31);
        dst[4 * x + 2] = five((v >> 5) & 31);
        dst[4 * x + 3] = five(v & 31);
      }
    } else {
      if (!packed || rowBytes < 8) {
        in.ReadBytes(row.data(), rowBytes);
      } else {
        const std::vector<uint8_t> bytes = PackedRow(in, rowBytes);
        if (!UnpackBitsRow(bytes, row.data(), rowBytes)) Throw_AC(paramErr);
      }
      const uint32_t mask = (1u << depth) - 1;
      for (int32_t x = 0; x < w; ++x) {
        const size_t bit = size_t(x) * depth;
        const uint32_t index = (row[bit / 8] >> (8 - depth - bit % 8)) & mask;
        uint32_t rgb;
        if (!h.isPixMap) rgb = index ? 0x000000 : 0xFFFFFF;
        else rgb = index < h.colors.size() ? h.colors[index] : 0;
        dst[4 * x + 1] = uint8_t(rgb >> 16);
        dst[4 * x + 2] = uint8_t(rgb >> 8);
        dst[4 * x + 3] = uint8_t(rgb);
      }
    }
    for (int32_t x = 0; x < w; ++x) dst[4 * x] = 0xFF;
  }
  return out;
}

// Where a picture is drawn: asked for only when the first image in it has
// been read whole, so that a picture whose opcodes hold nothing to draw never
// costs a page of its frame's size.
using PageSource = std::function<host::GWorld*()>;

class Drawer {
 public:
  // Draws the picture's frame into `target` of the page, scaled when the
  // sizes differ.
  Drawer(std::span<const uint8_t> data, PageSource page, const Rect16& frame, const CLongRect_AC& target)
      : in_(data.data(), data.size()),
        pageSource_(std::move(page)),
        frame_(frame),
        target_(target),
        paintLeft_(2 * uint64_t(target.Width()) * uint64_t(target.Height()) + (uint64_t(1) << 22)) {}

  void Draw(CLongRect_AC src, const host::GWorld& pixels, const Rect16& dst) {
    if (!page_) page_ = pageSource_();
    if (!page_) Throw_AC(memFullErr);
    const CLongRect_AC r = dst.Offset(frame_.top, frame_.left);
    auto h = [&](int32_t x) { return int32_t(target_.left + int64_t(x) * target_.Width() / frame_.Width()); };
    auto v = [&](int32_t y) { return int32_t(target_.top + int64_t(y) * target_.Height() / frame_.Height()); };
    const CLongRect_AC to(v(r.top), h(r.left), v(r.bottom), h(r.right));
    // A few bytes of bitmap may be stretched over the whole page, again and
    // again: what the opcodes paint in all is held to twice the target (and
    // a little more for small ones), the rest taken as damage.
    if (CLongRect_AC painted; to.Intersect(page_->bounds(), &painted)) {
      const uint64_t area = uint64_t(painted.Width()) * uint64_t(painted.Height());
      if (area > paintLeft_) Throw_AC(paramErr);
      paintLeft_ -= area;
    }
    CopyBits(&pixels, page_, src, to, host::srcCopy);
    drew_ = true;
  }

  // A bitmap op: 0x90/0x91 unpacked, 0x98/0x99 packed, 0x9A/0x9B direct.
  void Bits(uint16_t op) {
    PixMapHeader h;
    if (op == 0x9A || op == 0x9B) in_.Skip(4);  // base address
    h.rowBytes = in_.ReadUInt16BE();
    h.isPixMap = (h.rowBytes & 0x8000) != 0;
    h.bounds = ReadRect(in_);
    if (h.isPixMap) {
      ReadPixMapFields(in_, &h);
      if (op != 0x9A && op != 0x9B) ReadColorTable(in_, &h);
    }
    const Rect16 src = ReadRect(in_), dst = ReadRect(in_);
    in_.ReadUInt16BE();  // transfer mode: drawn as a plain copy
    if (op & 1) SkipRegion(in_);
    host::GWorldHandle pixels = ReadPixels(in_, h, op != 0x90 && op != 0x91);
    Draw(src.Offset(h.bounds.top, h.bounds.left), *pixels, dst);
  }

  // A QuickTime-compressed image: drawn into its source rectangle moved by
  // the matrix's scale and translation.
  void CompressedImage(uint32_t length) {
    const uint64_t end = in_.GetPosition() + length;
    if (length > in_.BytesLeft()) Throw_AC(eofErr);
    in_.Skip(2);  // version
    int32_t m[9];
    for (int32_t& v : m) v = in_.ReadInt32BE();
    const uint32_t matteSize = in_.ReadUInt32BE();
    in_.Skip(8 + 2);  // matte rectangle, mode
    const Rect16 src = ReadRect(in_);
    in_.Skip(4);  // accuracy
    const uint32_t maskSize = in_.ReadUInt32BE();
    if (matteSize > in_.BytesLeft()) Throw_AC(eofErr);
    in_.Skip(matteSize);
    if (maskSize > in_.BytesLeft()) Throw_AC(eofErr);
    in_.Skip(maskSize);
    const uint64_t description = in_.GetPosition();
    const uint32_t idSize = in_.ReadUInt32BE();
    if (idSize < 48 || idSize > end - description) Throw_AC(paramErr);
    in_.Skip(40);
    const uint32_t dataSize = in_.ReadUInt32BE();
    in_.SetPosition(description + idSize);
    const uint64_t left = end - in_.GetPosition();
    const std::vector<uint8_t> image = in_.ReadBytes(size_t(dataSize && dataSize <= left ? dataSize : left));
    in_.SetPosition(end);
    host::ImageReadResult decoded = host::DecodeImage(image);
    if (!decoded.ok()) return;
    auto fixed = [](int32_t v, int32_t x) { return int32_t((int64_t(v) * x) >> 16); };
    Rect16 dst;
    dst.left = int16_t(fixed(m[0], src.left) + (m[6] >> 16));
    dst.right = int16_t(fixed(m[0], src.right) + (m[6] >> 16));
    dst.top = int16_t(fixed(m[4], src.top) + (m[7] >> 16));
    dst.bottom = int16_t(fixed(m[4], src.bottom) + (m[7] >> 16));
    Draw(decoded.image->bounds(), *decoded.image, dst);
  }

  // Skips the data of an opcode this reader does not draw; false for one
  // whose length it cannot tell.
  bool Skip(uint16_t op) {
    auto lengthPrefixed16 = [&] { in_.Skip(in_.ReadUInt16BE()); };
    auto text = [&](size_t before) { in_.Skip(before); in_.Skip(in_.ReadUInt8()); };
    if (op >= 0x8100) { in_.Skip(in_.ReadUInt32BE()); return true; }
    if (op >= 0x8000) return true;
    if (op == 0x0C00) { in_.Skip(24); return true; }
    if (op >= 0x0100) { in_.Skip(size_t(op >> 8) * 2); return true; }
    if (op >= 0xD0) { in_.Skip(in_.ReadUInt32BE()); return true; }
    if (op >= 0xB0) return true;
    if (op >= 0xA2) { lengthPrefixed16(); return true; }
    if (op == 0xA1) { in_.Skip(2); lengthPrefixed16(); return true; }
    if (op == 0xA0) { in_.Skip(2); return true; }
    if ((op >= 0x92 && op <= 0x97) || (op >= 0x9C && op <= 0x9F)) { lengthPrefixed16(); return true; }
    if (op >= 0x88) return true;
    if (op >= 0x70) { if ((op & 7) < 5) SkipRegion(in_); return true; }  // polygons, regions
    if (op >= 0x60) { in_.Skip((op & 0x0F) < 8 ? 12 : 4); return true; }
    if (op >= 0x30) { if ((op & 0x0F) < 8) in_.Skip(8); return true; }
    switch (op) {
      case 0x00: case 0x17: case 0x18: case 0x19: case 0x1C: case 0x1E: return true;
      case 0x01: SkipRegion(in_); return true;
      case 0x04: in_.Skip(1); return true;
      case 0x03: case 0x05: case 0x08: case 0x0D: case 0x11: case 0x15: case 0x16: case 0x23:
        in_.Skip(2); return true;
      case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: case 0x0F: case 0x21: in_.Skip(4); return true;
      case 0x1A: case 0x1B: case 0x1D: case 0x1F: case 0x22: in_.Skip(6); return true;
      case 0x02: case 0x09: case 0x0A: case 0x10: case 0x20: in_.Skip(8); return true;
      case 0x24: case 0x25: case 0x26: case 0x27: case 0x2C: case 0x2D: case 0x2E: case 0x2F:
        lengthPrefixed16(); return true;
      case 0x28: text(4); return true;
      case 0x29: case 0x2A: text(1); return true;
      case 0x2B: text(2); return true;
      default: return false;  // pixel patterns and unknown opcodes
    }
  }

  bool Run(bool version2, uint64_t start) {
    try {
      in_.SetPosition(start);
      while (in_.BytesLeft() > 0) {
        if (version2 && (in_.GetPosition() & 1)) in_.Skip(1);
        const uint16_t op = version2 ? in_.ReadUInt16BE() : in_.ReadUInt8();
        if (op == 0x00FF) break;
        if (op == 0x90 || op == 0x91 || op == 0x98 || op == 0x99 || op == 0x9A || op == 0x9B) {
          Bits(op);
        } else if (op == 0x8200) {
          CompressedImage(in_.ReadUInt32BE());
        } else if (!Skip(op)) {
          break;
        }
      }
    } catch (const CException_AC&) {
      // Damage: what was drawn before it stays.
    }
    return drew_;
  }

 private:
  CBufferStream_AC in_;
  PageSource pageSource_;
  host::GWorld* page_ = nullptr;
  Rect16 frame_;
  CLongRect_AC target_;
  uint64_t paintLeft_;  // pixels the opcodes may still paint
  bool drew_ = false;
};

}  // namespace

namespace {

// The frame a picture draws in and whether it is a version 2 picture; false
// for data that is no picture or has no usable frame. For an extended
// version 2 header (version -2) the frame is the picture's own rectangle at
// its resolution, the space its opcodes draw in (the frame field holds that
// rectangle at 72 dpi).
bool PictureFrame(std::span<const uint8_t> picture, Rect16* frame, bool* version2) {
  if (picture.size() < 12) return false;
  CBufferStream_AC head(picture.data(), picture.size());
  head.Skip(2);  // the 16-bit size: too small for large pictures, not used
  *frame = ReadRect(head);
  if (frame->Width() <= 0 || frame->Height() <= 0) return false;
  if (picture.size() >= 40 && picture[10] == 0x00 && picture[11] == 0x11 && picture[14] == 0x0C &&
      picture[15] == 0x00 && picture[16] == 0xFF && picture[17] == 0xFE) {
    CBufferStream_AC header(picture.data() + 28, 8);
    *frame = ReadRect(header);
  }
  if (frame->Width() <= 0 || frame->Height() <= 0 || frame->Width() > kMaxSide || frame->Height() > kMaxSide)
    return false;
  *version2 = picture[10] == 0x00 && picture[11] == 0x11;
  return *version2 || (picture[10] == 0x11 && picture[11] == 0x01);
}

// Draws the picture into `target` of the page; true when it drew anything.
bool DrawPictureInto(std::span<const uint8_t> picture, const PageSource& page, const CLongRect_AC& target) {
  Rect16 frame;
  bool version2 = false;
  if (!PictureFrame(picture, &frame, &version2) || target.Width() <= 0 || target.Height() <= 0) return false;
  // The opcodes start after the version opcode (and, in version 2, its
  // argument word).
  Drawer drawer(picture, page, frame, target);
  return drawer.Run(version2, version2 ? 14 : 12);
}

}  // namespace

host::GWorldHandle DrawPicture(std::span<const uint8_t> picture) {
  Rect16 frame;
  bool version2 = false;
  if (!PictureFrame(picture, &frame, &version2)) return nullptr;
  const CLongRect_AC bounds(0, 0, frame.Height(), frame.Width());
  host::GWorldHandle page;
  // A frame of a gigabyte for a bitmap of a few bytes is not made.
  auto make = [&] {
    if (host::DataMayMakeImage(uint64_t(bounds.Width()) * uint64_t(bounds.Height()) * 4, picture.size()))
      page = myNewGWorld(bounds);
    return page.get();
  };
  if (!DrawPictureInto(picture, make, bounds)) return nullptr;
  return page;
}

PicHandle ReadPictureFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(path, &bytes, size_t(1) << 30) != noErr || bytes.size() <= 512 + 12) return nullptr;
  auto picture = std::make_unique<Picture>();
  picture->data.assign(bytes.begin() + 512, bytes.end());
  return picture;
}

}  // namespace imaging

int16_t myDrawPicture(host::GWorld* offscreen, const Picture* picture, const CLongRect_AC& rect, bool* drew) {
  if (drew) *drew = false;
  if (!offscreen || !picture) return -1;
  offscreen->Lock();
  const bool any = imaging::DrawPictureInto(picture->data, [offscreen] { return offscreen; }, rect);
  offscreen->Unlock();
  if (drew) *drew = any;
  return 0;
}

host::GWorldHandle PicHandleToOffscreen(PicHandle picture) {
  return picture ? imaging::DrawPicture(picture->data) : nullptr;
}
