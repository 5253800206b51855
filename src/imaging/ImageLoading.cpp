#include "imaging/ImageLoading.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "host/base/MacRoman.h"
#include "host/files/File.h"
#include "host/files/FileOps.h"
#include "host/imageio/GaussianBlur.h"
#include "host/qd/CopyBits.h"
#include "host/qd/DrawImage.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ColorMatching.h"
#include "imaging/ImageProperties.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Offscreen.h"
#include "imaging/PhotoshopReader.h"
#include "imaging/Resampler.h"
#include "platform/FileNames.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"

float myBlurValue = 2.0f;
bool gApplyEmbedded = false;

namespace imaging {

std::string PathOfSpec(const FSSpec& spec) {
  std::string path;
  if (host::GetPathOfFSSpec(spec, &path) != noErr) return {};
  return path;
}

std::string DiskNameOf(std::string_view macRomanName) {
  std::string name = host::MacRomanToUTF8(macRomanName);
  std::replace(name.begin(), name.end(), '/', ':');
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return {};
  return name;
}

}  // namespace imaging

namespace {

bool HasAlphaInFile(const host::ImageInfo& info) { return info.hasAlpha; }

// A decoded image as an offscreen the way drawing it into a new white
// offscreen leaves it: opaque pixels as they are, transparent ones over white.
host::GWorldHandle FlattenOnWhite(host::GWorldHandle decoded, const host::ImageInfo& info) {
  if (!decoded || !HasAlphaInFile(info)) return decoded;
  host::GWorldHandle page = myNewGWorld(CLongRect_AC(0, 0, decoded->height(), decoded->width()));
  if (!page) return nullptr;
  host::DrawImage(*decoded, *page, page->bounds());
  return page;
}

// Any image file the program reads: the host library's formats, the
// flattened image of Photoshop files, and picture files.
host::ImageReadResult ReadAnyImage(const std::string& path) {
  host::ImageReadResult r = host::ReadImageFile(path);
  if (r.ok()) return r;
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(path, &bytes, size_t(1) << 31) != noErr) return r;
  if (imaging::IsPhotoshopData(bytes)) return imaging::DecodePhotoshop(bytes);
  // A picture file: 512 bytes of file header, then the picture.
  if (bytes.size() > 512) {
    if (host::GWorldHandle drawn = imaging::DrawPicture(std::span(bytes).subspan(512))) {
      host::ImageReadResult picture;
      picture.info.width = drawn->width();
      picture.info.height = drawn->height();
      picture.info.colorModel = host::ImageColorModel::kRGB;
      picture.image = std::move(drawn);
      return picture;
    }
  }
  return r;
}

host::ImageReadResult ReadSpec(const FSSpec& spec) {
  const std::string path = imaging::PathOfSpec(spec);
  if (path.empty()) {
    host::ImageReadResult r;
    r.error = "no path for the file specification";
    return r;
  }
  return ReadAnyImage(path);
}

}  // namespace

// ---- CImageFile ----

CImageFile::CImageFile(const FSRef* ref) {
  if (!ref || ref->path.empty()) {
    platform::LogLine("CImageFile(FSRef *fileFSRef) CFURLCreateFromFSRef returned NIL???");
    platform::LogLine("CImageFile(FSRef *fileFSRef) CGImageSourceCreateWithURL returned NIL???");
    return;
  }
  Open(ref->path, gApplyEmbedded, "CImageFile(FSRef *fileFSRef)");
}

CImageFile::CImageFile(const std::string& path) { Open(path, true, "CImageFile(NSString* path) => NSSt"); }

CImageFile::CImageFile(const std::string& path, bool keepAlpha) {
  Open(path, true, "CImageFile(NSString* path) => NSSt", keepAlpha);
}

CImageFile::CImageFile(const FSRef* ref, int16_t, int16_t) : CImageFile(ref) {
  if (CGImageRef full = GetCurrentCGImage()) image_ = createMyScaledImage(full);
}

CGImageRef CImageFile::GetCurrentCGImage() {
  if (!image_ && decoded_) image_ = CGImageRef(decoded_.release());
  return image_;
}

host::GWorldHandle CImageFile::TakeImage() {
  if (decoded_) return std::move(decoded_);
  return image_ ? myDuplicateGWorld(image_.get()) : nullptr;
}

void CImageFile::Open(const std::string& path, bool defaultSpace, const char* where, bool keepAlpha) {
  host::ImageReadResult r = ReadAnyImage(path);
  if (!r.ok()) {
    platform::LogF("%s CGImageSourceCreateImageAtIndex returned NIL??? (%s)", where, r.error.c_str());
    return;
  }
  info_ = r.info;
  hasProperties_ = true;
  // Retagging a grey or CMYK image with the plain RGB space is refused, as
  // the embedded-profile switch off asks for exactly that.
  if (!defaultSpace && (info_.colorModel == host::ImageColorModel::kGrey ||
                        info_.colorModel == host::ImageColorModel::kCMYK)) {
    platform::LogF("%s: the image's colour space cannot be replaced by device RGB", where);
    return;
  }
  decoded_ = keepAlpha ? std::move(r.image) : FlattenOnWhite(std::move(r.image), info_);
  // Honouring embedded profiles means drawing the photo from its own profile
  // (or the user's default for its colour model) into the offscreens' sRGB.
  if (defaultSpace && decoded_) {
    ConvertToWorkingSpace(*decoded_, info_.iccProfile, info_.colorModel == host::ImageColorModel::kGrey,
                          info_.colorModel == host::ImageColorModel::kCMYK);
  }
}

bool CImageFile::ApplyColorCorrection() {
  const myCocoaImageColorAdjustInfo settings = CurrentColorGlobals();
  if (!imaging::StagesFor(settings).Any()) return decoded_ || image_;
  if (!decoded_) {
    if (!image_) return false;
    decoded_ = myDuplicateGWorld(image_.get());
    if (!decoded_) return false;
  }
  image_.reset();
  ColorAdjustmentManager manager;
  if (!manager.applyColorCorrection2(*decoded_, settings)) {
    platform::LogLine("CImageFile: the photo's colour settings are refused; the photo is not corrected");
    decoded_.reset();
    return false;
  }
  return true;
}

CGImageRef CImageFile::GetCurrentCGImageWithColorCorrection() {
  return ApplyColorCorrection() ? GetCurrentCGImage() : nullptr;
}

int CImageFile::GetOrientation() const {
  if (!hasProperties_ || info_.orientation == 0) return -1;
  if (info_.orientation < 1 || info_.orientation > 8) return 1;
  return info_.orientation;
}

CGRect CImageFile::GetImageRect() const {
  const host::GWorld* image = decoded_ ? decoded_.get() : image_.get();
  if (!image) return {};
  return CGRect{0, 0, double(image->width()), double(image->height())};
}

// ---- file handlers ----

bool TKIVOFileHandler::AddToList(TFile*) { return false; }

bool TKIVOFileHandler::AddFileToList(TFile* file) {
  if (!file) return false;
  auto* self = dynamic_cast<TNewAllFilesHandler*>(this);
  if (self && !self->IsValidFile(file)) {
    delete file;
    return false;
  }
  return AddToList(file);
}

bool TNewAllFilesHandler::isValidFileForHere(const CStr255_AC& name) {
  if (name.Length() <= 3) return false;
  std::string ext = getExtensionFromSourceFile(name).ToMacRoman();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kTypes[] = {".TIF", ".TIFF", ".JPG", ".JPEG", ".CRW", ".CR2", ".NEF", ".PSD"};
  return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return ext == t; });
}

bool TNewAllFilesHandler::IsValidFile() const { return isValidFileForHere(CStr255_AC(current_.name)); }

bool TNewAllFilesHandler::IsValidFile(const TFile* file) const {
  if (!file) return false;
  const std::string full = host::LastPathName(file->GetPath());
  return isValidFileForHere(CStr255_AC(full));
}

void TNewAllFilesHandler::LoadColorSettings() {
  myCocoaImageColorAdjustInfo settings;
  if (!loadColorAdjustFromFile(current_, &settings)) SetDefaultForMyCocoaImageColorAdjustFromPrefs(&settings);
  SetColorGlobals(settings);
}

host::GWorldHandle TNewAllFilesHandler::GetFullSizeImage() {
  FSRef ref;
  if (host::FSpMakeFSRef(current_, &ref) != noErr) {
    platform::LogLine("An error occured reading the image file; invalid image spec");
    return nullptr;
  }
  CImageFile file(&ref);
  myCocoaImageColorAdjustInfo settings;
  if (loadColorAdjustFromFile(current_, &settings)) {
    LoadColorSettings();
    if (!file.ApplyColorCorrection()) return nullptr;
  }
  // The decoded image becomes the offscreen itself: blurred and turned in
  // place, which leaves exactly what drawing it into a new offscreen of its
  // size would.
  host::GWorldHandle offscreen = file.TakeImage();
  if (!offscreen) return nullptr;
  if (myBlurValue != 0.0f) {
    const auto start = std::chrono::steady_clock::now();
    host::GaussianBlur(*offscreen, myBlurValue);
    const auto ticks =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count() *
        60 / 1000;
    platform::LogF("Blur of the image took %lld ticks", static_cast<long long>(ticks));
  }
  if (file.GetOrientation() == 3) rotateImage180Degrees(offscreen.get());
  offscreen->port().foreColor = RGBColor{0, 0, 0};
  offscreen->port().backColor = RGBColor{65535, 65535, 65535};
  return offscreen;
}

// ---- loading ----

host::GWorldHandle ReadFile2(TFile* file, int16_t, float, bool&, tColorSyncPrefs*) {
  if (!file) return nullptr;
  const FSSpec spec = file->GetFileSpec();
  host::GWorldHandle offscreen;
  {
    TNewAllFilesHandler handler;
    handler.SetCurrentFile(spec);
    if (handler.IsValidFile()) offscreen = handler.GetFullSizeImage();
  }
  if (!offscreen && IsQuickTimeAvail(nullptr)) offscreen = getGWorldFromFileSpec(spec);
  file->CloseFile();
  if (offscreen) protectTheGworld(offscreen.get());
  return offscreen;
}

host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec) {
  if (!gApplyEmbedded) {
    CPoint_AC size;
    return getGWorldFromFileSpecWithoutColorsyncProfile(spec, 1, size);
  }
  return getFileOverlayGWorldFromFileSpec(spec);
}

host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec, int16_t& resolution) {
  host::ImageReadResult r = ReadSpec(spec);
  if (!r.ok()) {
    char text[256];
    std::snprintf(text, sizeof text, "An error occured trying to read this file, error code = %d", -1);
    imaging::ReportMessageText(text);
    return nullptr;
  }
  if (r.info.xDpi > 0) resolution = static_cast<int16_t>(std::clamp(r.info.xDpi, 1.0, 32767.0));
  // Graphics are drawn through a mask made from their alpha: one without an
  // alpha channel covers its whole box.
  if (!r.info.hasAlpha) myFillOffscreen(r.image.get());
  protectTheGworld(r.image.get());
  return std::move(r.image);
}

host::GWorldHandle getGWorldFromFileSpecWithoutColorsyncProfile(const FSSpec& spec, int16_t divisor,
                                                                CPoint_AC& size) {
  host::ImageReadResult r = ReadSpec(spec);
  if (!r.ok()) return nullptr;
  host::GWorldHandle image = FlattenOnWhite(std::move(r.image), r.info);
  if (!image) return nullptr;
  size = CPoint_AC(static_cast<int16_t>(std::min(image->height(), 32767)),
                   static_cast<int16_t>(std::min(image->width(), 32767)));
  if (divisor <= 1) return image;
  const int32_t h = std::max(1, image->height() / divisor), w = std::max(1, image->width() / divisor);
  host::GWorldHandle small = myNewGWorld(CLongRect_AC(0, 0, h, w));
  if (!small || !betterResizeGworldToGworld(image.get(), image->bounds(), small.get(), small->bounds(),
                                            kScaleLinear)) {
    return nullptr;
  }
  return small;
}

host::GWorldHandle getFileOverlayGWorldFromFileSpec(const FSSpec& spec) {
  host::ImageReadResult r = ReadSpec(spec);
  if (!r.ok()) return nullptr;
  // An overlay is drawn through a mask made from its alpha: one without an
  // alpha channel (a plain JPEG, an RGB PNG) is opaque, not invisible.
  if (!r.info.hasAlpha) myFillOffscreen(r.image.get());
  protectTheGworld(r.image.get());
  return std::move(r.image);
}

host::GWorldHandle PicHandle2GWorld(PicHandle picture) {
  if (!picture) return nullptr;
  return imaging::DrawPicture(picture->data);
}

namespace {
std::mutex gGraphicsMutex;
std::string& GraphicsFolder() {
  static std::string folder;
  return folder;
}
}  // namespace

void SetGraphicsFolderPath(const std::string& utf8Path) {
  std::lock_guard<std::mutex> lock(gGraphicsMutex);
  GraphicsFolder() = utf8Path;
}

std::string GetGraphicsFolderPath() {
  std::lock_guard<std::mutex> lock(gGraphicsMutex);
  return GraphicsFolder();
}

std::filesystem::path FindGraphicInCategory(const std::filesystem::path& graphicsFolder, const CStr31_AC& category,
                                            const CStr63_AC& name) {
  const std::string mac = name.ToMacRoman();
  // Only a plain name counts: it names a file directly in the category folder.
  if (mac.empty() || mac.find('/') != std::string::npos || mac.find("..") != std::string::npos ||
      mac.find('\0') != std::string::npos)
    return {};
  if (category.IsEmpty() || graphicsFolder.empty()) return {};
  FSSpec folder;
  if (host::GetDirIDForPath(graphicsFolder.string(), &folder.vRefNum, &folder.parID) != noErr) return {};
  const int32_t dirID = findFolder(folder, CStr255_AC::FromMacRoman(category.view()));
  if (dirID == -1) return {};
  std::string categoryPath;
  if (host::GetPathForDirID(folder.vRefNum, dirID, &categoryPath) != noErr) return {};
  std::string disk;
  if (host::MacNameToDiskName(mac, &disk) != noErr || disk.empty() || disk.find('/') != std::string::npos ||
      disk == "." || disk == "..")
    return {};
  const std::filesystem::path path = std::filesystem::path(categoryPath) / disk;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return {};
  return path;
}

host::GWorldHandle getGraphicOnOffscreen(const CStr255_AC& name, const CStr255_AC& category, bool) {
  if (name.Length() >= 32 || category.Length() >= 32) return nullptr;
  const std::filesystem::path path = FindGraphicInCategory(GetGraphicsFolderPath(), CStr31_AC::FromMacRoman(category.view()),
                                                           CStr63_AC::FromMacRoman(name.view()));
  if (path.empty()) {
    platform::LogLine("The graphic \"" + host::MacRomanToUTF8(name.view()) + "\" was not found in the category \"" +
                      host::MacRomanToUTF8(category.view()) + "\" of the graphics folder; nothing is drawn");
    return nullptr;
  }
  FSSpec spec;
  if (host::MakeFSSpecFromPath(path.string(), &spec) != noErr) return nullptr;
  int16_t resolution = 72;
  return getGWorldFromFileSpec(spec, resolution);
}

namespace {

// A two-pixel image written and read back in each format the photos come in.
bool CodecsReadBack() {
  host::GWorldHandle probe = host::GWorld::Create(CLongRect_AC(0, 0, 1, 2));
  if (!probe) return false;
  for (host::ImageFormat format : {host::ImageFormat::kJpeg, host::ImageFormat::kPng, host::ImageFormat::kTiff}) {
    std::vector<uint8_t> bytes;
    if (!host::EncodeImage(*probe, format, host::ImageWriteOptions{}, &bytes).ok()) return false;
    const host::ImageReadResult read = host::DecodeImage(bytes);
    if (!read.ok() || read.image->width() != 2 || read.image->height() != 1) return false;
  }
  return true;
}

}  // namespace

bool IsQuickTimeAvail(long* version) {
  static const bool available = CodecsReadBack();
  if (version) *version = available ? 0x07000000 : 0;
  return available;
}

void CheckIfQuickTimeInstalled(const std::function<void()>& beep) {
  if (IsQuickTimeAvail(nullptr)) return;
  if (beep) {
    beep();
    beep();
  }
  imaging::ReportMessageText("Warning: QuickTime is NOT Installed\xE2\x80\xA6\r\rNOT All Features Will Work Properly!");
}

// ---- image objects ----

double radians(double degrees) { return degrees * 3.141592653589793 / 180.0; }

CGImageRef createNewRotatedImageRef(const CGImageRef& image, int orientation) {
  if (!image) return nullptr;
  host::GWorldHandle copy = myDuplicateGWorld(image.get());
  if (!copy) return nullptr;
  switch (orientation) {
    case 3:
      rotateImage180Degrees(copy.get());
      break;
    case 6:
      copy = rotateGWorld90Degrees(2, std::move(copy));
      break;
    case 8:
      copy = rotateGWorld90Degrees(1, std::move(copy));
      break;
    default:
      break;
  }
  return CGImageRef(copy.release());
}

CGImageRef OffscreenToImageRef(host::GWorld* offscreen) {
  if (!offscreen) return nullptr;
  offscreen->Lock();
  return CGImageRef(offscreen, [](const host::GWorld*) {});
}

CGImageRef blurMyImage(const CGImageRef& image, float radius) {
  if (!image || !(radius > 0)) return image;
  host::GWorldHandle copy = myDuplicateGWorld(image.get());
  if (!copy || !host::GaussianBlur(*copy, radius)) return image;
  return CGImageRef(copy.release());
}

CGImageRef createMyScaledImage(const CGImageRef& image) {
  if (!image) return nullptr;
  const int32_t w = std::max(1, image->width() / 2), h = std::max(1, image->height() / 2);
  host::GWorldHandle small = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  if (!small) {
    std::fprintf(stderr, "Memory not allocated!\n");
    return nullptr;
  }
  auto* src = const_cast<host::GWorld*>(image.get());
  if (!betterResizeGworldToGworld(src, src->bounds(), small.get(), small->bounds(), kScaleLinear)) return nullptr;
  return CGImageRef(small.release());
}

void DrawCGImageToGWorld(const CGImageRef& image, host::GWorld* offscreen, const CGRect& rect) {
  if (!image || !offscreen) return;
  const CLongRect_AC r(static_cast<int32_t>(rect.y), static_cast<int32_t>(rect.x),
                       static_cast<int32_t>(rect.y + rect.height), static_cast<int32_t>(rect.x + rect.width));
  if (r.Width() == image->width() && r.Height() == image->height()) {
    CopyBits(image.get(), offscreen, image->bounds(), r, host::srcCopy);
  } else {
    host::DrawImage(*image, *offscreen, r);
  }
}

void DrawCGImageToGWorldFlip(const CGImageRef& image, host::GWorld* offscreen, const CGRect& rect) {
  if (!image || !offscreen) return;
  host::GWorldHandle turned = myDuplicateGWorld(image.get());
  if (!turned) return;
  rotateImage180Degrees(turned.get());
  DrawCGImageToGWorld(CGImageRef(std::move(turned)), offscreen, rect);
}
