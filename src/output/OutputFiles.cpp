#include "output/OutputFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "host/base/Geometry.h"
#include "host/imageio/ImageFile.h"
#include "imaging/CropFit.h"
#include "imaging/ImageWriters.h"
#include "imaging/Resampler.h"
#include "platform/FileNames.h"

namespace output {

namespace fs = std::filesystem;

std::string CleanName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(c == '/' || u < 0x20 || u == 0x7F ? '_' : c);
  }
  if (!out.empty() && out.find_first_not_of('.') == std::string::npos) out = "_";
  return out;
}

namespace {

bool Exists(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(folder / name, ec));
}

}  // namespace

std::optional<std::string> UniqueNameWithCopy(const fs::path& folder, const std::string& base, const std::string& ext) {
  std::string result;
  if (platform::NewCopyName(base, ext, [&](const std::string& n) { return Exists(folder, n); }, result) != 0)
    return std::nullopt;
  return result;
}

std::optional<std::string> UniqueNameWithCopyBeforeExtension(const fs::path& folder, const std::string& name) {
  if (!Exists(folder, name) && platform::CharCount(name) <= 63) return name;
  bool found = false;
  std::string n = platform::CopyNameBeforeExtension(name, [&](const std::string& c) { return Exists(folder, c); }, &found);
  if (!found) return std::nullopt;
  return n;
}

std::optional<std::string> UniqueNumberedName(const fs::path& folder, const std::string& base, int32_t& counter,
                                              const std::string& ext, int width) {
  if (counter < 0) counter = 0;
  for (int tries = 0; tries <= 99999; ++tries, ++counter) {
    // The Mac Roman forming rules count one byte per character; the names
    // here are UTF-8, so the pieces are cut by characters.
    std::string e = ext;
    if (e.size() >= 2 && e[0] != '.') e = "." + e;
    e = platform::CutChars(e, 8);
    char number[16];
    std::snprintf(number, sizeof number, "%0*d", width, int(counter));
    const long room = 31 - long(platform::CharCount(e)) - long(std::strlen(number)) - (base.empty() ? 0 : 1);
    const std::string b = platform::CutChars(base, room < 0 ? 0 : room);
    const std::string name = b.empty() ? std::string(number) + e : b + "_" + number + e;
    if (!Exists(folder, name)) return name;
  }
  return std::nullopt;
}

bool PutFileInPlace(const fs::path& folder, const std::string& finalName, std::span<const uint8_t> bytes, bool replace,
                    std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (finalName.empty() || finalName != CleanName(finalName)) return fail("bad file name: " + finalName);
  const fs::path target = folder / finalName;
  // A free temporary name beside the target: the prefix, the final name and
  // a number when an earlier attempt left one behind.
  fs::path temp;
  int fd = -1;
  for (int i = 0; i < 1000 && fd < 0; ++i) {
    temp = folder / (std::string(kTempPrefix) + (i ? std::to_string(i) + "_" : "") + finalName);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return fail(std::string("cannot create ") + temp.string() + ": " + std::strerror(errno));
  }
  if (fd < 0) return fail("no free temporary name for " + target.string());
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string why = std::strerror(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return fail("write failed for " + target.string() + ": " + why);
    }
    done += size_t(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(temp.c_str());
    return fail("flush failed for " + target.string());
  }
  if (replace) {
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      const std::string why = std::strerror(errno);
      ::unlink(temp.c_str());
      return fail("rename failed for " + target.string() + ": " + why);
    }
    return true;
  }
  // A hard link never replaces an existing name; file systems without links
  // fall back to a test before the rename.
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return true;
  }
  const int linkErr = errno;
  if (linkErr == EEXIST) {
    ::unlink(temp.c_str());
    return fail(target.string() + " exists");
  }
  std::error_code ec;
  if (fs::exists(target, ec) || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return fail("cannot put " + target.string() + " in place");
  }
  return true;
}

std::optional<fs::path> CreateSubFolder(const fs::path& folder, const std::string& name) {
  const std::string clean = CleanName(name);
  if (clean.empty()) return folder;
  const fs::path sub = folder / clean;
  std::error_code ec;
  if (fs::is_directory(sub, ec)) return sub;
  fs::create_directory(sub, ec);
  if (ec && !fs::is_directory(sub)) return std::nullopt;
  fs::permissions(sub, fs::perms::all, fs::perm_options::replace, ec);
  return sub;
}

bool PackRGB(const host::GWorld& page, std::vector<uint8_t>* out) {
  const size_t w = size_t(page.width()), h = size_t(page.height());
  if (w == 0 || h == 0) return false;
  if (w > std::numeric_limits<size_t>::max() / 3 / h) return false;
  try {
    out->resize(w * h * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* d = out->data();
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* s = page.scanline(int32_t(y));
    for (size_t x = 0; x < w; ++x, s += 4) {
      *d++ = s[1];
      *d++ = s[2];
      *d++ = s[3];
    }
  }
  return true;
}

namespace {

void PutLE16(std::vector<uint8_t>& b, size_t at, uint16_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); }
void PutLE32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

bool EncodeOwnTIFF(const host::GWorld& page, int16_t dpi, std::vector<uint8_t>* out) {
  const int32_t w = page.width(), h = page.height();
  if (w > 0xFFFF || h > 0xFFFF) return false;  // the directory holds 16-bit sizes
  std::vector<uint8_t> rgb;
  if (!PackRGB(page, &rgb)) return false;
  if (rgb.size() > 0xFFFFFFFFu - 242) return false;
  if (dpi < 0) dpi = 72;
  std::vector<uint8_t> b(242, 0);
  b[0] = 'I'; b[1] = 'I';
  PutLE16(b, 2, 42);
  PutLE32(b, 4, 8);
  PutLE16(b, 8, 16);
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const Entry entries[16] = {
      {254, 4, 1, 0},     {256, 3, 1, uint32_t(w)}, {257, 3, 1, uint32_t(h)}, {258, 3, 3, 206},
      {259, 3, 1, 1},     {262, 3, 1, 2},           {273, 4, 1, 242},         {277, 3, 1, 3},
      {278, 3, 1, uint32_t(h)}, {279, 4, 1, uint32_t(rgb.size())}, {280, 3, 3, 212}, {281, 3, 3, 218},
      {282, 5, 1, 226},   {283, 5, 1, 234},         {284, 3, 1, 1},           {296, 3, 1, 2},
  };
  size_t at = 10;
  for (const auto& e : entries) {
    PutLE16(b, at, e.tag);
    PutLE16(b, at + 2, e.type);
    PutLE32(b, at + 4, e.count);
    // A SHORT value takes the first two bytes of the value field.
    if (e.type == 3 && e.count == 1) PutLE16(b, at + 8, uint16_t(e.value));
    else PutLE32(b, at + 8, e.value);
    at += 12;
  }
  PutLE32(b, 202, 0);
  for (int i = 0; i < 3; ++i) {
    PutLE16(b, 206 + 2 * i, 8);
    PutLE16(b, 212 + 2 * i, 0);
    PutLE16(b, 218 + 2 * i, 255);
  }
  PutLE32(b, 226, uint32_t(dpi));
  PutLE32(b, 230, 1);
  PutLE32(b, 234, uint32_t(dpi));
  PutLE32(b, 238, 1);
  b.insert(b.end(), rgb.begin(), rgb.end());
  *out = std::move(b);
  return true;
}

std::string PreferencesFolder() { return imaging::PreferencesFolderPath(); }

bool FormatWritesFile(int16_t format) { return format >= 2 && format <= 10; }

bool EncodePage(const host::GWorld& page, int16_t format, int16_t dpi, int quality,
                const std::vector<uint8_t>& iccProfile, const std::optional<std::string>& userComment,
                std::vector<uint8_t>* out, std::string* error) {
  host::ImageWriteOptions options;
  options.dpi = dpi > 0 ? dpi : 72;
  options.jpegQuality = quality;
  options.iccProfile = iccProfile;
  host::ImageFormat kind = host::ImageFormat::kUnknown;
  switch (format) {
    case 2:
      kind = host::ImageFormat::kTiff;
      options.tiffCompression = host::TiffCompression::kLzw;
      break;
    case 3:
    case 10:
      kind = host::ImageFormat::kJpeg;
      options.userComment = userComment;
      break;
    case 9:
      kind = host::ImageFormat::kPng;
      options.keepAlpha = true;
      break;
    case 5:
      if (PackRGB(page, out)) return true;
      if (error) *error = "no memory for the packed image";
      return false;
    case 6:
      if (EncodeOwnTIFF(page, dpi, out)) return true;
      if (error) *error = "the page cannot be stored as an own TIFF";
      return false;
    case 4:
    case 7:
    case 8:
      *out = format == 4 ? imaging::BuildPict(page, dpi) : format == 7 ? imaging::BuildTarga(page)
                                                                       : imaging::BuildPhotoshop(page, dpi);
      if (!out->empty()) return true;
      if (error) *error = "the page cannot be stored in format " + std::to_string(format);
      return false;
    default:
      if (error) *error = "format " + std::to_string(format) + " cannot be written";
      return false;
  }
  const host::ImageStatus status = host::EncodeImage(page, kind, options, out);
  if (!status.ok() && error) *error = status.error;
  return status.ok();
}

host::GWorldHandle RotatePage90(const host::GWorld& page, int16_t direction) {
  const int32_t w = page.width(), h = page.height();
  auto out = host::GWorld::Create(CLongRect_AC(0, 0, w, h));  // top, left, bottom = w, right = h
  if (!out) return nullptr;
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* s = page.scanline(r);
    for (int32_t c = 0; c < w; ++c) {
      const int32_t dr = direction == 1 ? w - 1 - c : c;
      const int32_t dc = direction == 1 ? r : h - 1 - r;
      std::memcpy(out->scanline(dr) + size_t(dc) * 4, s + size_t(c) * 4, 4);
    }
  }
  return out;
}

host::GWorldHandle FitPage(const host::GWorld& page, int32_t maxWidth, int32_t maxHeight) {
  const CLongRect_AC box(0, 0, maxHeight, maxWidth);
  const CLongRect_AC src(0, 0, page.height(), page.width());
  CLongRect_AC fit = ResizeToFit(box, src);
  const int32_t fw = int32_t(fit.Width()), fh = int32_t(fit.Height());
  if (fw <= 0 || fh <= 0) return nullptr;
  auto out = host::GWorld::Create(CLongRect_AC(0, 0, fh, fw));
  if (!out) return nullptr;
  if (!betterResizeGworldToGworld(const_cast<host::GWorld*>(&page), page.bounds(), out.get(), out->bounds(),
                                  kScaleLinear))
    return nullptr;
  return out;
}

host::GWorldHandle DuplicatePage(const host::GWorld& page) {
  auto out = host::GWorld::Create(page.bounds());
  if (!out) return nullptr;
  for (int32_t y = 0; y < page.height(); ++y)
    std::memcpy(out->scanline(y), page.scanline(y), size_t(page.width()) * 4);
  return out;
}

void MakeOpaque(host::GWorld& page) {
  for (int32_t y = 0; y < page.height(); ++y) {
    uint8_t* p = page.scanline(y);
    for (int32_t x = 0; x < page.width(); ++x) p[size_t(x) * 4] = 0xFF;
  }
}

void MirrorPage(host::GWorld& page) {
  const int32_t w = page.width();
  for (int32_t y = 0; y < page.height(); ++y) {
    uint8_t* p = page.scanline(y);
    for (int32_t x = 0; x < w / 2; ++x) std::swap_ranges(p + size_t(x) * 4, p + size_t(x) * 4 + 4, p + size_t(w - 1 - x) * 4);
  }
}

}  // namespace output
