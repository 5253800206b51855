#include "host/color/IccProfile.h"

#include <fcntl.h>
#include <lcms2.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "host/base/RegularFile.h"
#include "host/workers/WorkerPool.h"

namespace host::color {

namespace {

// Little CMS reports through a process-wide handler; its messages reach the
// callers as the error results of the calls below instead of standard error.
void QuietHandler(cmsContext, cmsUInt32Number, const char*) {}

struct HandlerInstaller {
  HandlerInstaller() { cmsSetLogErrorHandler(QuietHandler); }
};

void EnsureHandler() { static HandlerInstaller installer; }

std::shared_ptr<void> Own(cmsHPROFILE h) {
  return std::shared_ptr<void>(h, [](void* p) { if (p) cmsCloseProfile(p); });
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::string FourChars(uint32_t v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[size_t(i)] = char((v >> (24 - 8 * i)) & 0xFF);
  return s;
}

}  // namespace

IccProfile IccProfile::FromFile(const std::filesystem::path& path, std::string* error) {
  EnsureHandler();
  IccProfile p;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    SetError(error, "no profile file " + path.string());
    return p;
  }
  cmsHPROFILE h = cmsOpenProfileFromFile(path.c_str(), "r");
  if (!h) {
    SetError(error, path.string() + " is not an ICC profile");
    return p;
  }
  p.handle_ = Own(h);
  p.path_ = path;
  return p;
}

IccProfile IccProfile::FromBytes(std::span<const uint8_t> bytes, std::string* error) {
  EnsureHandler();
  IccProfile p;
  if (bytes.size() < 132 || !LooksLikeProfile(bytes)) {
    SetError(error, "the bytes are not an ICC profile");
    return p;
  }
  cmsHPROFILE h = cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
  if (!h) {
    SetError(error, "the ICC profile cannot be read");
    return p;
  }
  p.handle_ = Own(h);
  return p;
}

IccProfile IccProfile::SRGB() {
  EnsureHandler();
  IccProfile p;
  p.handle_ = Own(cmsCreate_sRGBProfile());
  return p;
}

namespace {

void WriteText(cmsHPROFILE h, cmsTagSignature tag, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(mlu, "en", "US", text);
  cmsWriteTag(h, tag, mlu);
  cmsMLUfree(mlu);
}

// The profile as an ICC file's bytes; empty when it cannot be saved.
std::vector<uint8_t> SavedBytes(cmsHPROFILE h) {
  std::vector<uint8_t> bytes;
  cmsUInt32Number size = 0;
  if (!h || !cmsSaveProfileToMem(h, nullptr, &size) || size == 0) return bytes;
  bytes.resize(size);
  if (!cmsSaveProfileToMem(h, bytes.data(), &size)) bytes.clear();
  return bytes;
}

// A profile made in memory, kept as its saved bytes reopened, so that every
// copy reads the same header and tags as a file would.
IccProfile Reopened(cmsHPROFILE h) {
  const std::vector<uint8_t> bytes = SavedBytes(h);
  if (h) cmsCloseProfile(h);
  return bytes.empty() ? IccProfile() : IccProfile::FromBytes(bytes);
}

}  // namespace

IccProfile IccProfile::GenericRGB() {
  EnsureHandler();
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.625, 0.340, 1.0}, {0.280, 0.595, 1.0}, {0.155, 0.070, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE h = gamma ? cmsCreateRGBProfile(&white, &primaries, curves) : nullptr;
  if (gamma) cmsFreeToneCurve(gamma);
  if (h) {
    WriteText(h, cmsSigProfileDescriptionTag, "Generic RGB Profile");
    WriteText(h, cmsSigCopyrightTag, "No copyright, use freely");
  }
  return Reopened(h);
}

IccProfile IccProfile::LinearRGB() {
  EnsureHandler();
  cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
  if (!h) return {};
  cmsSetProfileVersion(h, 2.2);
  cmsSetDeviceClass(h, cmsSigDisplayClass);
  cmsSetColorSpace(h, cmsSigRgbData);
  cmsSetPCS(h, cmsSigXYZData);
  cmsSetHeaderRenderingIntent(h, INTENT_PERCEPTUAL);
  const cmsCIEXYZ red = {0.4543, 0.2426, 0.0148}, green = {0.3533, 0.6744, 0.0904}, blue = {0.1566, 0.0834, 0.7195};
  const cmsCIEXYZ white = {0.9505, 1.0, 1.0891};
  cmsWriteTag(h, cmsSigRedColorantTag, &red);
  cmsWriteTag(h, cmsSigGreenColorantTag, &green);
  cmsWriteTag(h, cmsSigBlueColorantTag, &blue);
  cmsWriteTag(h, cmsSigMediaWhitePointTag, &white);
  // Row by row; the tag holds nine numbers.
  const cmsFloat64Number adaptation[9] = {1.0479, 0.0229, -0.0502, 0.0296, 0.9905, -0.0171, -0.0092, 0.0151, 0.7516};
  cmsWriteTag(h, cmsSigChromaticAdaptationTag, adaptation);
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsWriteTag(h, cmsSigRedTRCTag, linear);
  cmsLinkTag(h, cmsSigGreenTRCTag, cmsSigRedTRCTag);
  cmsLinkTag(h, cmsSigBlueTRCTag, cmsSigRedTRCTag);
  cmsFreeToneCurve(linear);
  WriteText(h, cmsSigProfileDescriptionTag, "Linear RGB Profile");
  WriteText(h, cmsSigCopyrightTag, "No copyright, use freely");
  return Reopened(h);
}

std::vector<uint8_t> IccProfile::Bytes() const { return valid() ? SavedBytes(handle()) : std::vector<uint8_t>(); }

uint32_t IccProfile::deviceClass() const { return valid() ? uint32_t(cmsGetDeviceClass(handle())) : 0; }
uint32_t IccProfile::colorSpace() const { return valid() ? uint32_t(cmsGetColorSpace(handle())) : 0; }
uint32_t IccProfile::renderingIntent() const {
  return valid() ? uint32_t(cmsGetHeaderRenderingIntent(handle())) : 0;
}

std::string IccProfile::description() const {
  if (!valid()) return {};
  char text[256] = {};
  const cmsUInt32Number n = cmsGetProfileInfoASCII(handle(), cmsInfoDescription, "en", "US", text, sizeof text);
  if (n == 0) return {};
  return std::string(text);
}

bool LooksLikeProfile(std::span<const uint8_t> header) {
  if (header.size() < 128) return false;
  const uint32_t size = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
  return size >= 128 && header[36] == 'a' && header[37] == 'c' && header[38] == 's' && header[39] == 'p';
}

std::vector<std::filesystem::path> ProfileFolders() {
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates;
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && *dataHome) candidates.emplace_back(fs::path(dataHome) / "icc");
  else if (home && *home) candidates.emplace_back(fs::path(home) / ".local/share/icc");
  if (home && *home) candidates.emplace_back(fs::path(home) / ".color/icc");
  candidates.emplace_back("/usr/local/share/color/icc");
  if (const char* dirs = std::getenv("XDG_DATA_DIRS"); dirs && *dirs) {
    std::string all(dirs);
    size_t start = 0;
    while (start <= all.size()) {
      const size_t end = std::min(all.find(':', start), all.size());
      if (end > start) candidates.emplace_back(fs::path(all.substr(start, end - start)) / "color/icc");
      start = end + 1;
    }
  }
  candidates.emplace_back("/usr/share/color/icc");
  candidates.emplace_back("/var/lib/colord/icc");
  std::vector<fs::path> folders;
  for (const fs::path& c : candidates) {
    std::error_code ec;
    if (!fs::is_directory(c, ec)) continue;
    const fs::path canonical = fs::weakly_canonical(c, ec);
    const fs::path key = ec ? c : canonical;
    if (std::find(folders.begin(), folders.end(), key) == folders.end()) folders.push_back(key);
  }
  return folders;
}

namespace {

bool FileIsProfile(const std::filesystem::path& file) {
  // Only a regular file is opened: a FIFO in a profile folder would block.
  const int fd = OpenRegularFileAt(AT_FDCWD, file.c_str(), O_RDONLY, nullptr, false, file.string());
  if (fd < 0) return false;
  uint8_t header[128];
  const ssize_t got = ::pread(fd, header, sizeof header, 0);
  ::close(fd);
  return got == ssize_t(sizeof header) && LooksLikeProfile(header);
}

void Collect(const std::filesystem::path& folder, int depth, std::vector<std::filesystem::path>* out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> files, subfolders;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    // Symbolic links to folders are not followed, so a link loop cannot
    // make the search endless.
    if (it->is_symlink(e2) && fs::is_directory(it->path(), e2)) continue;
    if (it->is_directory(e2)) subfolders.push_back(it->path());
    else if (it->is_regular_file(e2)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::sort(subfolders.begin(), subfolders.end());
  for (const fs::path& f : files)
    if (FileIsProfile(f)) out->push_back(f);
  if (depth > 0)
    for (const fs::path& s : subfolders) Collect(s, depth - 1, out);
}

}  // namespace

std::vector<std::filesystem::path> InstalledProfiles(const std::vector<std::filesystem::path>& folders) {
  std::vector<std::filesystem::path> out;
  for (const auto& folder : folders) Collect(folder, 3, &out);
  return out;
}

namespace {

// Runs `row(y, scratch)` for every row of the image, in bands over the pool.
template <class Row>
void ForEachRowInBands(GWorld& image, WorkerPool* pool, Row row) {
  const int32_t height = image.height();
  if (image.width() <= 0 || height <= 0) return;
  WorkerPool& workers = pool ? *pool : WorkerPool::shared();
  const size_t bands = std::min<size_t>(size_t(height), size_t(workers.threadCount()) * 4);
  parallelFor(workers, bands, [&](size_t band) {
    const int32_t y0 = int32_t(size_t(height) * band / bands), y1 = int32_t(size_t(height) * (band + 1) / bands);
    std::vector<uint8_t> scratch;
    for (int32_t y = y0; y < y1; ++y) row(y, scratch);
  });
}

}  // namespace

bool TransformInPlace(GWorld& image, const IccProfile& from, const IccProfile& to, uint32_t intent,
                      std::string* error, WorkerPool* pool) {
  EnsureHandler();
  if (!from.valid() || !to.valid()) {
    SetError(error, "a profile is missing");
    return false;
  }
  const bool grey = from.colorSpace() == cmsSigGrayData;
  if ((from.colorSpace() != cmsSigRgbData && !grey) || to.colorSpace() != cmsSigRgbData) {
    SetError(error, "cannot match '" + FourChars(from.colorSpace()) + "' pixels to '" + FourChars(to.colorSpace()) +
                        "' on an RGB page");
    return false;
  }
  if (intent > 3) intent = INTENT_PERCEPTUAL;
  // No cache, so that one transform serves every worker at once.
  cmsHTRANSFORM t =
      grey ? cmsCreateTransform(from.handle(), TYPE_GRAY_8, to.handle(), TYPE_RGB_8, intent, cmsFLAGS_NOCACHE)
           : cmsCreateTransform(from.handle(), TYPE_ARGB_8, to.handle(), TYPE_ARGB_8, intent,
                                cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA);
  if (!t) {
    SetError(error, "no colour transform between the two profiles");
    return false;
  }
  const int32_t width = image.width();
  ForEachRowInBands(image, pool, [&](int32_t y, std::vector<uint8_t>& scratch) {
    uint8_t* row = image.scanline(y);
    if (!grey) {
      cmsDoTransform(t, row, row, cmsUInt32Number(width));
      return;
    }
    scratch.resize(size_t(width) * 4);
    uint8_t* in = scratch.data();
    uint8_t* out = in + width;
    for (int32_t x = 0; x < width; ++x) in[x] = row[size_t(x) * 4 + 1];
    cmsDoTransform(t, in, out, cmsUInt32Number(width));
    for (int32_t x = 0; x < width; ++x) std::copy_n(&out[size_t(x) * 3], 3, &row[size_t(x) * 4 + 1]);
  });
  cmsDeleteTransform(t);
  return true;
}

bool ProofInPlace(GWorld& image, const IccProfile& space, const IccProfile& through, uint32_t intent,
                  std::string* error, WorkerPool* pool) {
  EnsureHandler();
  if (!space.valid() || !through.valid()) {
    SetError(error, "a profile is missing");
    return false;
  }
  if (space.colorSpace() != cmsSigRgbData) {
    SetError(error, "the pixels' profile is '" + FourChars(space.colorSpace()) + "', not RGB");
    return false;
  }
  if (intent > 3) intent = INTENT_PERCEPTUAL;
  // Into `through` (as output), out of it again (as input), back to `space`.
  cmsHPROFILE chain[4] = {space.handle(), through.handle(), through.handle(), space.handle()};
  cmsHTRANSFORM t = cmsCreateMultiprofileTransform(chain, 4, TYPE_ARGB_8, TYPE_ARGB_8, intent,
                                                   cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA);
  if (!t) {
    SetError(error, "no colour transform through '" + FourChars(through.colorSpace()) + "' profile");
    return false;
  }
  const int32_t width = image.width();
  ForEachRowInBands(image, pool, [&](int32_t y, std::vector<uint8_t>&) {
    uint8_t* row = image.scanline(y);
    cmsDoTransform(t, row, row, cmsUInt32Number(width));
  });
  cmsDeleteTransform(t);
  return true;
}

bool TransformCmykInPlace(GWorld& image, const IccProfile& from, const IccProfile& to, uint32_t intent,
                          std::string* error, WorkerPool* pool) {
  EnsureHandler();
  if (!from.valid() || !to.valid()) {
    SetError(error, "a profile is missing");
    return false;
  }
  if (from.colorSpace() != cmsSigCmykData || to.colorSpace() != cmsSigRgbData) {
    SetError(error, "cannot convert CMYK pixels from a '" + FourChars(from.colorSpace()) + "' profile to '" +
                        FourChars(to.colorSpace()) + "'");
    return false;
  }
  if (intent > 3) intent = INTENT_PERCEPTUAL;
  cmsHTRANSFORM t =
      cmsCreateTransform(from.handle(), TYPE_CMYK_8, to.handle(), TYPE_RGB_8, intent, cmsFLAGS_NOCACHE);
  if (!t) {
    SetError(error, "no colour transform between the two profiles");
    return false;
  }
  const int32_t width = image.width();
  ForEachRowInBands(image, pool, [&](int32_t y, std::vector<uint8_t>& scratch) {
    uint8_t* row = image.scanline(y);
    scratch.resize(size_t(width) * 3);
    cmsDoTransform(t, row, scratch.data(), cmsUInt32Number(width));
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = row + size_t(x) * 4;
      p[0] = 0xFF;
      std::copy_n(&scratch[size_t(x) * 3], 3, p + 1);
    }
  });
  cmsDeleteTransform(t);
  return true;
}

}  // namespace host::color
