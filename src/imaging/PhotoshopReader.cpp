#include "imaging/PhotoshopReader.h"

#include "imaging/PackBits.h"

#include <cstring>
#include <vector>

namespace imaging {
namespace {

constexpr int32_t kMaxSide = 300000;  // the large-document limit

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> d) : d_(d) {}
  bool Has(size_t n) const { return n <= d_.size() - pos_; }
  bool Skip(size_t n) {
    if (!Has(n)) return false;
    pos_ += n;
    return true;
  }
  bool U16(uint32_t* v) {
    if (!Has(2)) return false;
    *v = (uint32_t(d_[pos_]) << 8) | d_[pos_ + 1];
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    uint32_t hi = 0, lo = 0;
    if (!U16(&hi) || !U16(&lo)) return false;
    *v = (hi << 16) | lo;
    return true;
  }
  size_t pos() const { return pos_; }
  std::span<const uint8_t> Rest() const { return d_.subspan(pos_); }

 private:
  std::span<const uint8_t> d_;
  size_t pos_ = 0;
};

host::ImageReadResult Fail(const char* why) {
  host::ImageReadResult r;
  r.error = std::string("Photoshop file: ") + why;
  return r;
}

// Resolution from the image resources (id 0x03ED), when present.
void ReadResolution(std::span<const uint8_t> resources, host::ImageInfo* info) {
  Reader r(resources);
  while (r.Has(12)) {
    uint32_t sig = 0, id = 0, nameLen = 0, size = 0;
    r.U32(&sig);
    r.U16(&id);
    if (!r.Has(1)) return;
    nameLen = r.Rest()[0];
    const size_t nameField = (1 + nameLen + 1) & ~size_t(1);
    if (!r.Skip(nameField) || !r.U32(&size) || !r.Has(size)) return;
    if (sig == 0x3842494Du && id == 0x03ED && size >= 16) {
      Reader res(r.Rest().subspan(0, size));
      uint32_t h = 0, unit = 0, wunit = 0, v = 0;
      res.U32(&h);
      res.U16(&unit);
      res.U16(&wunit);
      res.U32(&v);
      info->xDpi = h / 65536.0;
      info->yDpi = v / 65536.0;
    }
    if (!r.Skip((size_t(size) + 1) & ~size_t(1))) return;
  }
}

}  // namespace

bool IsPhotoshopData(std::span<const uint8_t> data) {
  return data.size() >= 4 && std::memcmp(data.data(), "8BPS", 4) == 0;
}

host::ImageReadResult DecodePhotoshop(std::span<const uint8_t> data) {
  Reader r(data);
  uint32_t version = 0, channels = 0, height = 0, width = 0, depth = 0, mode = 0;
  if (!IsPhotoshopData(data) || !r.Skip(4) || !r.U16(&version) || !r.Skip(6) || !r.U16(&channels) ||
      !r.U32(&height) || !r.U32(&width) || !r.U16(&depth) || !r.U16(&mode)) {
    return Fail("truncated header");
  }
  if (version != 1) return Fail("unsupported version");
  if (depth != 8) return Fail("only 8 bits per channel are read");
  if (mode != 3 && mode != 1) return Fail("only RGB and greyscale are read");
  const uint32_t needed = mode == 3 ? 3 : 1;
  if (channels < needed || channels > 56) return Fail("bad channel count");
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return Fail("bad size");
  // An offscreen holds at most 1 GiB of pixels.
  if (uint64_t(width) * height > (uint64_t(1) << 28)) return Fail("image too large");
  uint32_t length = 0;
  if (!r.U32(&length) || !r.Skip(length)) return Fail("truncated colour mode data");
  host::ImageInfo info;
  if (!r.U32(&length) || !r.Has(length)) return Fail("truncated image resources");
  ReadResolution(r.Rest().subspan(0, length), &info);
  r.Skip(length);
  if (!r.U32(&length) || !r.Skip(length)) return Fail("truncated layer data");
  uint32_t compression = 0;
  if (!r.U16(&compression) || compression > 1) return Fail("unsupported compression");

  const size_t w = width, h = height;
  std::vector<uint8_t> planes;
  try {
    planes.resize(w * h * needed);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  if (compression == 0) {
    if (!r.Has(w * h * needed)) return Fail("truncated image data");
    std::memcpy(planes.data(), r.Rest().data(), planes.size());
  } else {
    // Row byte counts for every row of every channel, then the rows.
    const size_t rows = h * channels;
    if (!r.Has(rows * 2)) return Fail("truncated row counts");
    std::vector<uint32_t> counts(rows);
    for (auto& c : counts) r.U16(&c);
    for (size_t row = 0; row < h * needed; ++row) {
      if (!r.Has(counts[row])) return Fail("truncated image data");
      if (!UnpackBitsRow(r.Rest().subspan(0, counts[row]), planes.data() + row * w, w)) return Fail("bad row");
      r.Skip(counts[row]);
    }
  }
  host::ImageReadResult result;
  result.image = host::GWorld::Create(CLongRect_AC(0, 0, int32_t(h), int32_t(w)));
  if (!result.image) return Fail("out of memory");
  const size_t plane = w * h;
  for (size_t y = 0; y < h; ++y) {
    uint8_t* out = result.image->scanline(int32_t(y));
    for (size_t x = 0; x < w; ++x, out += 4) {
      const size_t i = y * w + x;
      out[0] = 0xFF;
      out[1] = planes[i];
      out[2] = planes[needed == 3 ? plane + i : i];
      out[3] = planes[needed == 3 ? 2 * plane + i : i];
    }
  }
  info.width = int32_t(w);
  info.height = int32_t(h);
  info.bitsPerSample = 8;
  info.samplesPerPixel = int(channels);
  info.colorModel = mode == 3 ? host::ImageColorModel::kRGB : host::ImageColorModel::kGrey;
  result.info = info;
  return result;
}

}  // namespace imaging
