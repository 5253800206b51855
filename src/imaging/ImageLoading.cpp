#include "imaging/ImageLoading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "host/base/MacRoman.h"
#include "host/files/HeldFolders.h"
#include "host/files/CatalogInfo.h"
#include "host/files/File.h"
#include "host/files/FileOps.h"
#include "host/imageio/GaussianBlur.h"
#include "host/qd/CopyBits.h"
#include "host/qd/DrawImage.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ColorMatching.h"
#include "imaging/ImageFilter.h"
#include "imaging/ImageProperties.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Offscreen.h"
#include "imaging/PhotoshopReader.h"
#include "imaging/Resampler.h"
#include "platform/FileNames.h"
#include "platform/FileServices.h"
#include "platform/FolderLookup.h"
#include "platform/Polling.h"
#include "platform/Log.h"
#include "platform/NameCompare.h"

float myBlurValue = 2.0f;
bool gApplyEmbedded = false;

namespace imaging {

std::string PathOfSpec(const FSSpec& spec) {
  std::string path;
  if (host::GetPathOfFSSpec(spec, &path) != noErr) return {};
  return path;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos && name.find("..") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
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
host::ImageReadResult ReadAnyImage(const std::string& path, const host::ImageReadOptions& options = {}) {
  host::ImageReadResult r = host::ReadImageFile(path, options);
  if (r.ok()) return r;
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(path, &bytes, size_t(1) << 31) != noErr) return r;
  if (imaging::IsPhotoshopData(bytes)) return imaging::DecodePhotoshop(bytes, options.keepCmyk);
  // A picture file: 512 bytes of file header, then the picture. The status
  // window may repaint while a large one is drawn.
  if (bytes.size() > 512) {
    auto picture = std::make_unique<Picture>();
    picture->data.assign(bytes.begin() + 512, bytes.end());
    myQTCallBackRecord progress;
    myQTCallBackProc(kQTProgressOpen, &progress);
    host::GWorldHandle drawn = PicHandleToOffscreen(std::move(picture));
    myQTCallBackProc(kQTProgressUpdate, &progress);
    myQTCallBackProc(kQTProgressClose, &progress);
    if (drawn) {
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

host::ImageReadResult ReadSpec(const FSSpec& spec, const host::ImageReadOptions& options = {}) {
  const std::string path = imaging::PathOfSpec(spec);
  if (path.empty()) {
    host::ImageReadResult r;
    r.error = "no path for the file specification";
    return r;
  }
  return ReadAnyImage(path, options);
}

// Reading for a caller that honours embedded profiles: CMYK photos keep
// their inks until the profile converts them.
host::ImageReadOptions EmbeddedProfileOptions() {
  host::ImageReadOptions options;
  options.keepCmyk = true;
  return options;
}

}  // namespace

bool applyEmbeddedProfile(host::ImageReadResult& r) {
  if (!r.image) return false;
  const bool inks = r.cmyk;
  r.cmyk = false;
  const std::vector<uint8_t> alpha = std::move(r.inkAlpha);
  r.inkAlpha.clear();
  return ConvertToWorkingSpace(*r.image, r.info.iccProfile, r.info.colorModel, inks, alpha);
}

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
  host::ImageReadResult r = ReadAnyImage(path, defaultSpace ? EmbeddedProfileOptions() : host::ImageReadOptions{});
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
  // Honouring embedded profiles means drawing the photo from its own profile
  // (or the user's default for its colour model) into the offscreens' sRGB.
  if (defaultSpace) applyEmbeddedProfile(r);
  decoded_ = keepAlpha ? std::move(r.image) : FlattenOnWhite(std::move(r.image), info_);
}

bool CImageFile::ApplyColorCorrection() {
  const myCocoaImageColorAdjustInfo settings = CurrentColorGlobals();
  if (!imaging::StagesFor(settings).Any()) return decoded_ || image_;
  if (!imaging::SettingsAreValid(settings)) {
    platform::LogLine("CImageFile: the photo's colour settings are refused; the photo is not corrected");
    decoded_.reset();
    image_.reset();
    return false;
  }
  if (!decoded_) {
    if (!image_) return false;
    decoded_ = myDuplicateGWorld(image_.get());
    if (!decoded_) return ApplyFallbackCorrection();
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

bool CImageFile::ApplyFallbackCorrection() {
  // The pixels cannot be copied for the main chain: the image filter works
  // on the image as it is, every filter set (neutral ones change nothing).
  std::unique_ptr<ImageFilter> filter = ImageFilter::initWithImage(image_);
  if (!filter) return true;
  filter->setSaturation(mySaturation);
  filter->setBrightness(myBrightness);
  filter->setContrast(myContrast);
  filter->setAllColor();
  filter->setSharpness(float(mySharpness));
  filter->setGamma(float(myGamma));
  filter->setExposure(float(myExposure));
  filter->setHue(float(myHue));
  if (CGImageRef corrected = filter->createCGImage()) image_ = std::move(corrected);
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

TKIVOFileHandler::TKIVOFileHandler() : fileList_(std::make_unique<TImageFileList>()) {}
TKIVOFileHandler::~TKIVOFileHandler() = default;

host::GWorldHandle TKIVOFileHandler::GetPreviewImage() { return nullptr; }
host::GWorldHandle TKIVOFileHandler::GetThumbnailImage() { return nullptr; }
host::GWorldHandle TKIVOFileHandler::GetFullSizeImage() { return nullptr; }
bool TKIVOFileHandler::IsValidFile(const TFile*) const { return false; }
void TKIVOFileHandler::GetCurrentFolderFSSpec(FSSpec& spec) const { spec = current_; }

bool TKIVOFileHandler::Check4NewFiles() {
  PutFilesInList4Check(folderVolume_, folderDirectory_, false);
  return true;
}

long TKIVOFileHandler::GetNumberOfFiles() const { return fileList_ ? long(fileList_->GetSize()) : 0; }

void TKIVOFileHandler::SetStartSitting(bool start) {
  startSitting_ = start;
  if (!start) sitting_ = false;
}

bool TKIVOFileHandler::SaveToFolder(int16_t, int32_t, long index, bool progress) {
  if (!progress) return false;
  TFileHandlerWindows* windows = GetFileHandlerWindows();
  const auto* entry = fileList_ && index >= 1 ? fileList_->At(size_t(index)) : nullptr;
  const CStr255_AC name = entry && *entry ? GetFullFileName((*entry)->GetFile()->GetFileSpec()) : CStr255_AC();
  if (windows) windows->ShowProgress(CStr255_AC("Saving File…"), name);
  myApplicationPollEvent();
  if (windows) windows->EndProgress();
  return false;
}

bool TKIVOFileHandler::SaveAndReturnSavedFSSpec(int16_t, int32_t, long, FSSpec*) { return false; }

void TKIVOFileHandler::OpenDeleteWindow() {
  const auto* first = fileList_ ? fileList_->At(1) : nullptr;
  const std::string path = first && *first ? (*first)->GetFile()->GetPath() : std::string();
  if (TFileHandlerWindows* windows = GetFileHandlerWindows()) windows->OpenDeleteWindow(path);
}

void TKIVOFileHandler::EraseImages() {
  if (!fileList_) return;
  for (auto& entry : *fileList_) {
    TFile* file = entry ? entry->GetFile() : nullptr;
    if (!file) continue;
    // (A file's own permissions do not keep it from being deleted here, so
    // there is nothing to unlock.)
    if (const OSErr err = file->DeleteFile(); err != noErr && err != fnfErr)
      platform::LogF("EraseImages: %s cannot be deleted (%d)", file->GetPath().c_str(), int(err));
  }
  fileList_->DeleteAll();
  fileList_->Changed(TImageFileList::kListChanged, nullptr);
}

void TKIVOFileHandler::LoadColorSettings() {
  myCocoaImageColorAdjustInfo settings;
  if (!loadColorAdjustFromFile(current_, &settings)) SetDefaultForMyCocoaImageColorAdjustFromPrefs(&settings);
  SetColorGlobals(settings);
}

bool TKIVOFileHandler::AddToList(TFile*) { return false; }

bool TKIVOFileHandler::AddFileToList(TFile* file) {
  if (!file) return false;
  std::unique_ptr<TFile> owned(file);
  if (!IsValidFile(owned.get())) return false;
  // A handler that lists the file takes it over.
  if (AddToList(owned.get())) {
    owned.release();
    return true;
  }
  return false;
}

long TKIVOFileHandler::PutFilesInList4Check(int16_t volume, int32_t directory, bool) {
  host::CatalogInfo folder;
  if (const OSErr err = host::GetDirCatInfo(volume, directory, &folder); err != noErr) {
    scanning_ = false;
    return err;
  }
  if (folder.ModificationMacSeconds() == lastModDate_) return 0;
  lastModDate_ = folder.ModificationMacSeconds();
  const size_t before = fileList_->GetSize();
  for (int index = int(folder.valence); index >= 1; --index) {
    host::CatalogInfo item;
    if (host::GetIndexedCatInfo(volume, directory, index, &item) != noErr) continue;
    if (item.isFolder || item.invisible || myFSSpecIsTempFSSpec(item.finderInfo)) continue;
    auto file = std::make_unique<TFile>();
    if (file->Specify(item.spec) != noErr) continue;
    AddFileToList(file.release());
  }
  if (fileList_->GetSize() > before) {
    TImageFileObject* last = fileList_->At(fileList_->GetSize())->get();
    fileList_->Changed(TImageFileList::kListChanged, nullptr);
    fileList_->Changed(TImageFileList::kFileAdded, last);
    fileList_->Changed(TImageFileList::kCountChanged, nullptr);
  }
  return long(fileList_->GetSize());
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
  if (TNewAllToolsWindow::IsInSetupMode()) return;
  TKIVOFileHandler::LoadColorSettings();
}

host::GWorldHandle TNewAllFilesHandler::GetPreviewImage() {
  FSRef ref;
  if (host::FSpMakeFSRef(current_, &ref) != noErr) {
    platform::LogLine("An error occured reading the image file; invalid image spec");
    return nullptr;
  }
  CImageFile file(&ref, 0, 0);
  CGImageRef image = file.GetCurrentCGImage();
  if (!image) {
    platform::LogLine("CGImageRef aRef = anImage.GetCurrentCGImage returned NIL???");
    return nullptr;
  }
  image = blurMyImage(image, myBlurValue);
  host::GWorldHandle offscreen = myNewGWorld(CLongRect_AC(0, 0, image->height(), image->width()));
  if (!offscreen) return nullptr;
  const CGRect rect{0, 0, double(image->width()), double(image->height())};
  if (file.GetOrientation() == 3) DrawCGImageToGWorldFlip(image, offscreen.get(), rect);
  else DrawCGImageToGWorld(image, offscreen.get(), rect);
  protectTheGworld(offscreen.get());
  return offscreen;
}

host::GWorldHandle TNewAllFilesHandler::GetFullSizeImage() {
  FSRef ref;
  if (host::FSpMakeFSRef(current_, &ref) != noErr) {
    platform::LogLine("An error occured reading the image file; invalid image spec");
    return nullptr;
  }
  CImageFile file(&ref);
  lastOrientation_ = file.GetOrientation();
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

OSErr myQTCallBackProc(int16_t message, myQTCallBackRecord* record) {
  if (!record) return paramErr;
  if (message == kQTProgressOpen) {
    record->started = true;
    record->lastTick = platform::TickCount();
  } else if (message == kQTProgressUpdate && record->started) {
    const uint32_t now = platform::TickCount();
    if (now - record->lastTick > record->interval) {
      myApplicationPollEvent();
      record->lastTick = now;
    }
  }
  return noErr;
}

std::string DescribeUndrawableImage(const std::filesystem::path& path) {
  // The header alone tells a Photoshop file's mode, the directory a TIFF
  // file's form; read as every photo is, never through a link below a
  // station's folder.
  const int fd = host::OpenRegularFile(path.c_str(), O_RDONLY);
  if (fd < 0) return {};
  std::vector<uint8_t> head(26);
  size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  head.resize(got);
  std::string what;
  if (host::DetectImageFormat(head) == host::ImageFormat::kTiff) {
    if (const std::string form = host::TiffUndrawableForm(fd); !form.empty())
      what = "TIFF file in a form that cannot be printed (" + form + ")";
  } else if (const std::string mode = got == 26 ? imaging::PhotoshopUndrawableMode(head) : std::string();
             !mode.empty()) {
    what = "Photoshop file in a colour mode that cannot be printed (" + mode + ")";
  }
  ::close(fd);
  return what;
}

host::GWorldHandle ReadFile2(TFile* file, int16_t, float, bool&, tColorSyncPrefs*) {
  if (!file) return nullptr;
  const FSSpec spec = file->GetFileSpec();
  host::GWorldHandle offscreen;
  int orientation = -1;
  {
    TNewAllFilesHandler handler;
    handler.SetCurrentFile(spec);
    if (handler.IsValidFile()) {
      offscreen = handler.GetFullSizeImage();
      orientation = handler.LastOrientation();
    }
  }
  if (!offscreen && IsQuickTimeAvail(nullptr)) {
    offscreen = getGWorldFromFileSpec(spec);
    // A grey or CMYK photo that the image source refuses (embedded profiles
    // off) is read here; it is turned as the same photo in RGB is.
    if (offscreen && orientation == 3) rotateImage180Degrees(offscreen.get());
  }
  file->CloseFile();
  if (offscreen) protectTheGworld(offscreen.get());
  return offscreen;
}

host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec) {
  if (!gApplyEmbedded) {
    CPoint_AC size;
    return getGWorldFromFileSpecWithoutColorsyncProfile(spec, 1, size);
  }
  // Embedded profiles honoured: the image drawn through its own profile.
  host::ImageReadResult r = ReadSpec(spec, EmbeddedProfileOptions());
  if (!r.ok()) return nullptr;
  applyEmbeddedProfile(r);
  // A photo prints its transparent parts on white, as with the switch off.
  if (r.info.hasAlpha) {
    host::GWorldHandle flat = FlattenOnWhite(std::move(r.image), r.info);
    if (flat) protectTheGworld(flat.get());
    return flat;
  }
  myClearOffscreen(r.image.get());
  protectTheGworld(r.image.get());
  return std::move(r.image);
}

host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec, int16_t& resolution) {
  host::ImageReadResult r = ReadSpec(spec, gApplyEmbedded ? EmbeddedProfileOptions() : host::ImageReadOptions{});
  if (!r.ok()) {
    // Logged naming the file; the caller tells the operator, so that the
    // failed job has one alert that names the graphic and says why.
    std::string path;
    if (host::GetPathOfFSSpec(spec, &path) != noErr) path = spec.name.ToUTF8();
    platform::LogLine(platform::StringF("An error occured trying to read this file, error code = %d: %s", -1,
                                        path.c_str()));
    return nullptr;
  }
  if (r.info.xDpi > 0) resolution = static_cast<int16_t>(std::clamp(r.info.xDpi, 1.0, 32767.0));
  // A job that honours embedded profiles draws its graphics through theirs
  // too, as its photos; the alpha is kept.
  if (gApplyEmbedded) applyEmbeddedProfile(r);
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
                                            const CStr63_AC& name, std::string* link) {
  if (link) link->clear();
  const std::string mac = name.ToMacRoman();
  // Only a plain name counts: it names a file directly in the category folder.
  if (!imaging::IsPlainName(mac)) return {};
  if (category.IsEmpty() || graphicsFolder.empty()) return {};
  FSSpec folder;
  if (host::GetDirIDForPath(graphicsFolder.string(), &folder.vRefNum, &folder.parID) != noErr) return {};
  const int32_t dirID = findFolder(folder, CStr255_AC::FromMacRoman(category.view()));
  if (dirID == -1) {
    // Below the held graphics folder a category swapped for a link is no
    // folder at all: said as the link it is.
    std::vector<std::string> names;
    if (link && host::ListFolder(graphicsFolder.string(), &names) == noErr)
      for (const std::string& n : names) {
        struct stat st {};
        if (platform::NamesEqualIgnoringCase(n, category.ToUTF8(), true) &&
            host::LstatAt((graphicsFolder / n).string(), &st) == 0 && S_ISLNK(st.st_mode))
          *link = category.ToUTF8();
      }
    return {};
  }
  std::string categoryPath;
  if (host::GetPathForDirID(folder.vRefNum, dirID, &categoryPath) != noErr) return {};
  // A category folder found anywhere but directly in the graphics folder
  // was reached through a link.
  std::error_code ec;
  const std::filesystem::path categoryFolder = categoryPath;
  if (categoryFolder.parent_path() != graphicsFolder.lexically_normal() &&
      categoryFolder.parent_path() != std::filesystem::canonical(graphicsFolder, ec)) {
    if (link) *link = category.ToUTF8();
    return {};
  }
  std::string disk;
  if (host::MacNameToDiskName(mac, &disk) != noErr || disk.empty() || disk.find('/') != std::string::npos ||
      disk == "." || disk == "..")
    return {};
  const std::filesystem::path path = categoryFolder / disk;
  struct stat st {};
  if (host::LstatAt(path.string(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) {
    if (link) *link = categoryFolder.filename().string() + "/" + disk;
    return {};
  }
  if (!S_ISREG(st.st_mode)) return {};
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
  std::unique_ptr<ImageFilter> filter = ImageFilter::initWithImage(image);
  if (!filter) return image;
  filter->setBlur(radius);
  CGImageRef blurred = filter->createCGImage();
  return blurred ? blurred : image;
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
