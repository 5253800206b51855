#include "imaging/PhotoshopReader.h"

#include "imaging/PackBits.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace imaging {
namespace {

constexpr int32_t kMaxSide = 300000;  // the large-document limit

enum Mode : uint32_t {
  kBitmap = 0,
  kGreyscale = 1,
  kIndexed = 2,
  kRGB = 3,
  kCMYK = 4,
  kMultichannel = 7,
  kDuotone = 8,
  kLab = 9,
};

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

host::ImageReadResult Fail(const std::string& why) {
  host::ImageReadResult r;
  r.error = "Photoshop file: " + why;
  return r;
}

struct Header {
  uint32_t version = 0, channels = 0, height = 0, width = 0, depth = 0, mode = 0;
};

bool ReadHeader(Reader& r, Header* h) {
  return r.Skip(4) && r.U16(&h->version) && r.Skip(6) && r.U16(&h->channels) && r.U32(&h->height) &&
         r.U32(&h->width) && r.U16(&h->depth) && r.U16(&h->mode);
}

const char* ModeName(uint32_t mode) {
  switch (mode) {
    case kBitmap: return "bitmap";
    case kGreyscale: return "greyscale";
    case kIndexed: return "indexed colour";
    case kRGB: return "RGB";
    case kCMYK: return "CMYK";
    case kMultichannel: return "multichannel";
    case kDuotone: return "duotone";
    case kLab: return "Lab";
    default: return nullptr;
  }
}

// The colour channels a mode draws from; 0 for a mode or depth that is not
// drawn.
uint32_t ColourChannels(const Header& h) {
  if (h.depth != 8 && h.depth != 16) return 0;
  switch (h.mode) {
    case kGreyscale:
    case kDuotone: return 1;
    case kIndexed: return h.depth == 8 ? 1 : 0;
    case kRGB: return 3;
    case kCMYK: return 4;
    default: return 0;
  }
}

std::string DescribeMode(const Header& h) {
  const char* name = ModeName(h.mode);
  std::string text = name ? name : "colour mode " + std::to_string(h.mode);
  return text + ", " + std::to_string(h.depth) + (h.depth == 1 ? " bit" : " bits") + " per channel";
}

// Resolution (id 0x03ED) and the embedded profile (id 0x040F) from the image
// resources, when present; `versionInfo` tells whether the file carries the
// version information (id 0x0421) that Photoshop writes into every file.
void ReadResources(std::span<const uint8_t> resources, host::ImageInfo* info, bool* versionInfo) {
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
    if (sig == 0x3842494Du && id == 0x0421) *versionInfo = true;
    if (sig == 0x3842494Du && id == 0x040F && size > 0) {
      const auto profile = r.Rest().subspan(0, size);
      info->iccProfile.assign(profile.begin(), profile.end());
    }
    if (!r.Skip((size_t(size) + 1) & ~size_t(1))) return;
  }
}

constexpr uint32_t FourCC(const char (&c)[5]) {
  return uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 | uint32_t(uint8_t(c[2])) << 8 |
         uint32_t(uint8_t(c[3]));
}

bool StartsWithBlockSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= 4 && (std::memcmp(bytes.data(), "8BIM", 4) == 0 || std::memcmp(bytes.data(), "8B64", 4) == 0);
}

// Whether the layer and mask information section says that the first
// channel after the colours is the composite's transparency: a negative
// layer count in its layer information; in 16- and 32-bit files, whose
// layer information is kept among the additional layer information, a
// negative count at the start of the 'Lr16' or 'Lr32' block; or a block
// that says the merged image was saved with its transparency ('Mtrn',
// 'Mt16', 'Mt32', which hold no data).
bool MarksTransparency(std::span<const uint8_t> section) {
  Reader r(section);
  uint32_t layerInfoLength = 0;
  if (!r.U32(&layerInfoLength)) return false;
  if (layerInfoLength >= 2 && r.Has(2) && (r.Rest()[0] & 0x80) != 0) return true;
  uint32_t maskInfoLength = 0;
  if (!r.Skip(layerInfoLength) || !r.U32(&maskInfoLength) || !r.Skip(maskInfoLength)) return false;
  // Tagged blocks to the end of the section: signature, key, length, data.
  // Their data is padded to an even length; Photoshop pads some of them to
  // a multiple of four without counting it.
  while (r.Has(12)) {
    if (!StartsWithBlockSignature(r.Rest()) && StartsWithBlockSignature(r.Rest().subspan(2))) r.Skip(2);
    uint32_t signature = 0, key = 0, length = 0;
    r.U32(&signature);
    if (!r.U32(&key) || !r.U32(&length) || !r.Has(length)) return false;
    if (signature != FourCC("8BIM") && signature != FourCC("8B64")) return false;
    if ((key == FourCC("Lr16") || key == FourCC("Lr32")) && length >= 2 && (r.Rest()[0] & 0x80) != 0) return true;
    if (key == FourCC("Mtrn") || key == FourCC("Mt16") || key == FourCC("Mt32")) return true;
    if (!r.Skip(length + (length & 1))) return false;
  }
  return false;
}

}  // namespace

bool IsPhotoshopData(std::span<const uint8_t> data) {
  return data.size() >= 4 && std::memcmp(data.data(), "8BPS", 4) == 0;
}

std::string PhotoshopUndrawableMode(std::span<const uint8_t> data) {
  Reader r(data);
  Header h;
  if (!IsPhotoshopData(data) || !ReadHeader(r, &h) || (h.version != 1 && h.version != 2)) return {};
  if (ColourChannels(h) == 0) return DescribeMode(h);
  // The large document format's lengths are twice as wide; it is not read.
  return h.version == 2 ? "large document format, " + DescribeMode(h) : std::string();
}

host::ImageReadResult DecodePhotoshop(std::span<const uint8_t> data, bool keepCmyk) {
  Reader r(data);
  Header hd;
  if (!IsPhotoshopData(data) || !ReadHeader(r, &hd)) return Fail("truncated header");
  if (hd.version != 1) return Fail("unsupported version");
  const uint32_t needed = ColourChannels(hd);
  if (needed == 0) return Fail("the colour mode (" + DescribeMode(hd) + ") cannot be drawn");
  if (hd.channels < needed || hd.channels > 56) return Fail("bad channel count");
  if (hd.width == 0 || hd.height == 0 || hd.width > kMaxSide || hd.height > kMaxSide) return Fail("bad size");
  // An offscreen holds at most 1 GiB of pixels.
  if (uint64_t(hd.width) * hd.height > (uint64_t(1) << 28)) return Fail("image too large");
  uint32_t length = 0;
  if (!r.U32(&length) || !r.Has(length)) return Fail("truncated colour mode data");
  // An indexed image's colour table: 256 reds, then greens, then blues.
  std::vector<uint8_t> palette;
  if (hd.mode == kIndexed) {
    if (length < 768) return Fail("no colour table");
    palette.assign(r.Rest().begin(), r.Rest().begin() + 768);
  }
  r.Skip(length);
  host::ImageInfo info;
  bool versionInfo = false;
  if (!r.U32(&length) || !r.Has(length)) return Fail("truncated image resources");
  ReadResources(r.Rest().subspan(0, length), &info, &versionInfo);
  r.Skip(length);
  if (!r.U32(&length) || !r.Has(length)) return Fail("truncated layer data");
  // Other extra channels than the transparency are saved selections and
  // spot colours, not drawn.
  const bool transparency = hd.channels > needed && MarksTransparency(r.Rest().subspan(0, length));
  // Photoshop stores the colours of a composite with transparency blended
  // with white, so that a reader that leaves the transparency out shows it
  // as on white; other writers (ImageMagick) store them straight and write
  // no version information.
  const bool blended = transparency && versionInfo && hd.mode != kIndexed;
  r.Skip(length);
  uint32_t compression = 0;
  if (!r.U16(&compression) || compression > 1) return Fail("unsupported compression");

  const size_t w = hd.width, h = hd.height;
  const size_t sampleBytes = hd.depth / 8;
  const size_t rowBytes = w * sampleBytes;
  // The planes drawn from come first in the file, one row after another;
  // nothing is set aside for them before the file is seen to hold them.
  const uint32_t drawn = needed + (transparency ? 1 : 0);
  const size_t rows = h * drawn;
  std::span<const uint8_t> samples;
  std::vector<uint8_t> unpacked;
  if (compression == 0) {
    if (rowBytes * rows > r.Rest().size()) return Fail("truncated image data");
    samples = r.Rest().subspan(0, rowBytes * rows);
  } else {
    // Row byte counts for every row of every channel, then the rows. Each
    // row drawn from must be in the file and long enough to unpack to a
    // whole row.
    if (!r.Has(h * hd.channels * 2)) return Fail("truncated row counts");
    Reader countReader(r.Rest());
    r.Skip(h * hd.channels * 2);
    std::vector<uint16_t> counts(rows);
    size_t packed = 0;
    for (auto& c : counts) {
      uint32_t count = 0;
      countReader.U16(&count);
      c = static_cast<uint16_t>(count);
      if (PackBitsMinimumBytes(rowBytes) > count) return Fail("bad row");
      packed += count;
    }
    if (!r.Has(packed)) return Fail("truncated image data");
    try {
      unpacked.resize(rowBytes * rows);
    } catch (const std::bad_alloc&) {
      return Fail("out of memory");
    }
    for (size_t row = 0; row < rows; ++row) {
      if (!UnpackBitsRow(r.Rest().subspan(0, counts[row]), unpacked.data() + row * rowBytes, rowBytes))
        return Fail("bad row");
      r.Skip(counts[row]);
    }
    samples = unpacked;
  }
  host::ImageReadResult result;
  // Every pixel is written below.
  result.image = host::GWorld::CreateUninitialized(CLongRect_AC(0, 0, int32_t(h), int32_t(w)));
  if (!result.image) return Fail("out of memory");
  const size_t plane = w * h;
  // Sample i of channel c at 16 bits (an 8-bit sample v as v * 257);
  // 16-bit samples are big-endian.
  auto at16 = [&](uint32_t c, size_t i) -> uint32_t {
    const uint8_t* p = samples.data() + (c * plane + i) * sampleBytes;
    if (sampleBytes == 1) return p[0] * 257u;
    return unsigned(p[0]) << 8 | p[1];
  };
  auto toByte = [](uint32_t v16) { return static_cast<uint8_t>((v16 * 255u + 32767u) / 65535u); };
  // Sample i of colour channel c as a byte, straight: a colour blended
  // with white (stored = colour x alpha + white x (1 - alpha)) is taken
  // back from white at full precision; where nothing shows it is white
  // (no ink).
  auto at = [&](uint32_t c, size_t i) -> uint8_t {
    const uint32_t stored = at16(c, i);
    if (!blended || c >= needed) return toByte(stored);
    const uint32_t alpha = at16(needed, i);
    if (alpha == 0) return 255;
    const int64_t unblended = (int64_t(stored) - int64_t(65535 - alpha)) * 65535;
    const int64_t straight = (std::max<int64_t>(0, unblended) + alpha / 2) / alpha;
    return toByte(uint32_t(std::min<int64_t>(65535, straight)));
  };
  const bool cmyk = hd.mode == kCMYK;
  // The transparency, straight (255 = opaque), beside the colours; for
  // CMYK in a plane of its own, as the inks fill the four bytes.
  std::vector<uint8_t> inkAlpha;
  if (cmyk && transparency) {
    try {
      inkAlpha.resize(plane);
    } catch (const std::bad_alloc&) {
      return Fail("out of memory");
    }
  }
  for (size_t y = 0; y < h; ++y) {
    uint8_t* out = result.image->scanline(int32_t(y));
    for (size_t x = 0; x < w; ++x, out += 4) {
      const size_t i = y * w + x;
      const uint8_t alpha = transparency ? at(needed, i) : 0xFF;
      if (cmyk) {
        // Photoshop stores CMYK as the paper left: 255 is no ink.
        for (uint32_t c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(255 - at(c, i));
        if (transparency) inkAlpha[i] = alpha;
      } else if (hd.mode == kIndexed) {
        const uint8_t index = at(0, i);
        out[0] = alpha;
        out[1] = palette[index];
        out[2] = palette[256 + index];
        out[3] = palette[512 + index];
      } else {
        out[0] = alpha;
        out[1] = at(0, i);
        out[2] = at(needed == 3 ? 1 : 0, i);
        out[3] = at(needed == 3 ? 2 : 0, i);
      }
    }
  }
  if (cmyk) {
    if (keepCmyk) {
      result.cmyk = true;
      result.inkAlpha = std::move(inkAlpha);
    } else {
      host::ConvertCmykToRgb(*result.image);
      host::PutAlpha(*result.image, inkAlpha);
    }
  }
  info.hasAlpha = transparency;
  info.width = int32_t(w);
  info.height = int32_t(h);
  info.bitsPerSample = int(hd.depth);
  info.samplesPerPixel = int(hd.channels);
  info.colorModel = cmyk                   ? host::ImageColorModel::kCMYK
                    : hd.mode == kRGB      ? host::ImageColorModel::kRGB
                    : hd.mode == kIndexed ? host::ImageColorModel::kPalette
                                           : host::ImageColorModel::kGrey;
  result.info = info;
  return result;
}

}  // namespace imaging
