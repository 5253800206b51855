// Loading image files into offscreens, and the image objects the loaders and
// writers pass around.
//
// A CGImageRef is a shared, read-only image: pixels in the offscreen layout
// (bytes alpha, red, green, blue). One made by OffscreenToImageRef shares the
// offscreen's pixels, so the offscreen must outlive it.
//
// Photos load through the image-source handler (TNewAllFilesHandler with
// CImageFile, by extension) and fall back to the plain importer
// (getGWorldFromFileSpec) for every other file. Both decode through the host
// image library (JPEG, PNG, TIFF); offscreens come back at the photo's full
// size, since crop rectangles are given in the photo's own pixels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "imaging/ImageSources.h"
#include "imaging/PictReader.h"

class TFile;
struct tColorSyncPrefs;
struct TToolboxEvent;

// Job-wide values set by the job file reader: the blur radius applied to
// every photo as it is loaded (2.0 until the first job), and whether embedded
// colour profiles are honoured.
extern float myBlurValue;
extern bool gApplyEmbedded;

using CGImageRef = std::shared_ptr<const host::GWorld>;

struct CGRect {
  double x = 0, y = 0, width = 0, height = 0;
};

// ---- image sources ----

// One decoded image of a file and its properties.
class CImageFile {
 public:
  explicit CImageFile(const FSRef* ref);
  explicit CImageFile(const std::string& path);
  // With `keepAlpha` the image keeps the file's transparency (an overlay to
  // composite); otherwise, like every photo, it is flattened on white.
  CImageFile(const std::string& path, bool keepAlpha);
  // The preview form: the same image at half size; the numbers are ignored.
  CImageFile(const FSRef* ref, int16_t, int16_t);

  // The image, shared with the caller; null when the file gave none.
  CGImageRef GetCurrentCGImage();
  // The image corrected with the ten colour globals (ColorCorrection.h):
  // the same image when they are all neutral; null when the settings are
  // refused (not finite, or out of range) or there is no image.
  CGImageRef GetCurrentCGImageWithColorCorrection();
  // The same correction on the decoded image in place, for TakeImage; false
  // (and no image left) when refused.
  bool ApplyColorCorrection();
  // The decoded image as an offscreen of its own (moved out when no image
  // has been handed out yet, else copied); null when there is none.
  host::GWorldHandle TakeImage();
  // EXIF orientation 1..8; -1 when the file has none (or 0); values outside
  // 1..8 count as 1.
  int GetOrientation() const;
  CGRect GetImageRect() const;
  const host::ImageInfo& GetInfo() const { return info_; }

 private:
  void Open(const std::string& path, bool defaultSpace, const char* where, bool keepAlpha = false);
  bool ApplyFallbackCorrection();
  host::GWorldHandle decoded_;
  CGImageRef image_;
  host::ImageInfo info_;
  bool hasProperties_ = false;
};

// The file handler family. The loader and the job view's chroma-key copy
// check use a TNewAllFilesHandler for one photo: a current file, validity by
// extension, full-size loading and the photo's colour settings. The other
// operations serve a capture station that scans a folder of image files;
// the base gives each one's plain behaviour.
class TKIVOFileHandler {
 public:
  TKIVOFileHandler();
  virtual ~TKIVOFileHandler();
  TKIVOFileHandler(const TKIVOFileHandler&) = delete;
  TKIVOFileHandler& operator=(const TKIVOFileHandler&) = delete;

  // 1-3: the current file's preview, thumbnail and full-size image; none here.
  virtual host::GWorldHandle GetPreviewImage();
  virtual host::GWorldHandle GetThumbnailImage();
  virtual host::GWorldHandle GetFullSizeImage();
  // 4: whether this handler reads the file; false here.
  virtual bool IsValidFile(const TFile* file) const;
  // 5: the current file's specification.
  virtual void GetCurrentFolderFSSpec(FSSpec& spec) const;
  // 6: scans the folder location (SetFolderLocation) into the list; true.
  virtual bool Check4NewFiles();
  // 7: the entries of the image-file list.
  virtual long GetNumberOfFiles() const;
  virtual long GetIdleFreq() const { return 30; }
  virtual bool HasColorBalanceSettings() const { return false; }
  // 10: clearing the start flag clears the sitting flag too.
  virtual void SetStartSitting(bool start);
  // 11: with `progress`, shows entry `index` (1 to the count) of the list by
  // its full name in the progress window titled "Saving File…" and lets
  // pending events run. Saves nothing: false.
  virtual bool SaveToFolder(int16_t volume, int32_t directory, long index, bool progress);
  virtual bool SaveAndReturnSavedFSSpec(int16_t volume, int32_t directory, long index, FSSpec* saved);
  // 13: the delete window showing the first entry's path.
  virtual void OpenDeleteWindow();
  // 14: deletes every file of the list and empties it.
  virtual void EraseImages();
  // 15-27: a capture station's menus, keys, tags and colour balance; a
  // handler of this program has none, so the base does nothing or answers no
  // (SetPreview only keeps its flag).
  virtual void InstallMenu() {}
  virtual void UnInstallMenu() {}
  virtual void DoSetupMyMenus() {}
  virtual bool DoHandleMyMenus(long) { return false; }
  virtual bool DoHandleMyKeys(TToolboxEvent*) { return false; }
  virtual void SetPreview(bool preview) { preview_ = preview; }
  virtual void ExitToMain() {}
  virtual void GetPreviewMessageString(CStr255_AC& text) { text = CStr255_AC(); }
  virtual int16_t GetIconAndStatusText(CStr255_AC&) { return 1210; }
  virtual void MarkTaggedImages() {}
  virtual void RemoveFromOtherLists(TFile*) {}
  virtual bool Check4NewFilesOnly() { return false; }
  virtual OSType DoColorBalance() { return FourCC("canc"); }
  // 28: the current file's colour settings (resource 5002, or the image's
  // property list) into the ten colour globals; the defaults when it has
  // none.
  virtual void LoadColorSettings();

  void SetCurrentFile(const FSSpec& spec) { current_ = spec; }
  const FSSpec& GetCurrentFile() const { return current_; }
  // The folder Check4NewFiles scans.
  void SetFolderLocation(int16_t volume, int32_t directory) {
    folderVolume_ = volume;
    folderDirectory_ = directory;
  }
  TImageFileList* GetFileList() { return fileList_.get(); }
  bool IsStartSitting() const { return startSitting_; }
  bool IsSitting() const { return sitting_; }
  void SetSitting(bool sitting) { sitting_ = sitting; }
  bool IsPreview() const { return preview_; }

  // Takes the file: a file this handler does not read is deleted (the object,
  // not the file on disk); a valid one goes to AddToList. True when listed.
  bool AddFileToList(TFile* file);
  // Lists nothing here (false); the file object is then deleted.
  virtual bool AddToList(TFile* file);
  // Reads the folder's items, newest index first, when the folder changed
  // since the last scan, and offers each visible file that is not one of the
  // program's temporary files to AddFileToList; tells the list's dependents
  // when any was listed. The number of entries in the list, or the error
  // when the folder cannot be read (the scan flag is then cleared).
  long PutFilesInList4Check(int16_t volume, int32_t directory, bool flag);
  bool IsScanning() const { return scanning_; }

 protected:
  FSSpec current_{};
  int16_t folderVolume_ = 0;
  int32_t folderDirectory_ = 0;
  std::unique_ptr<TImageFileList> fileList_;
  std::vector<int32_t> numbers_;
  std::vector<int32_t> sortedNumbers_;
  uint32_t lastModDate_ = 0;
  bool preview_ = false;
  bool startSitting_ = false;
  bool sitting_ = false;
  bool scanning_ = true;
  CStr255_AC strings_[4];
  CPoint_AC point_;
};

class TNewAllFilesHandler : public TKIVOFileHandler {
 public:
  // The current file's name has an extension this loader reads.
  bool IsValidFile() const;
  bool IsValidFile(const TFile* file) const override;
  static bool isValidFileForHere(const CStr255_AC& name);
  // The current file at half size, uncorrected, blurred by myBlurValue
  // whatever it is, a half turn applied for orientation 3; or none.
  host::GWorldHandle GetPreviewImage() override;
  // The current file as a new offscreen (colour-corrected when the file
  // carries colour settings, blurred by myBlurValue, a half turn applied for
  // orientation 3), or empty.
  host::GWorldHandle GetFullSizeImage() override;
  // As the base, except while the tools window is in setup mode.
  void LoadColorSettings() override;
  // The EXIF orientation GetFullSizeImage found in the file (-1 when it had
  // none or could not be read), also when it gave no image: the loader
  // turns a photo it reads another way just as GetFullSizeImage would.
  int LastOrientation() const { return lastOrientation_; }

 private:
  int lastOrientation_ = -1;
};

// The tools window of a capture station; this program has none, so it is
// never in setup mode and colour settings always load.
class TNewAllToolsWindow {
 public:
  static bool IsInSetupMode() { return false; }
};

// ---- loading ----

// Draws a decoded image from its own profile (or the user's default for its
// colour model) into the offscreens' sRGB, inks included; the result no
// longer holds inks. True when a profile converted the pixels.
bool applyEmbeddedProfile(host::ImageReadResult& image);

// Why a readable file gives no image although it is not damaged, as the
// words after "is a": for a Photoshop file in a colour mode the reader
// cannot draw, "Photoshop file in a colour mode that cannot be printed (Lab,
// 8 bits per channel)"; for a TIFF file of a form no reader takes, "TIFF
// file in a form that cannot be printed (24-bit floating-point samples)";
// empty otherwise.
std::string DescribeUndrawableImage(const std::filesystem::path& path);

// The progress routine of a long image read: `open` marks the start, and
// each `progress` call lets the application handle pending events when more
// than the record's interval (in ticks) has passed since the last time.
enum myQTCallBackMessage : int16_t { kQTProgressOpen = 0, kQTProgressUpdate = 1, kQTProgressClose = 2 };
struct myQTCallBackRecord {
  bool started = false;
  uint32_t lastTick = 0;
  uint32_t interval = 5;
};
// The routine: noErr; paramErr without a record.
OSErr myQTCallBackProc(int16_t message, myQTCallBackRecord* record);

// Reads the photo of `file` into a new offscreen, or empty; closes the file.
// A photo of the kinds TNewAllFilesHandler reads that is tagged orientation
// 3 comes turned by a half turn, also when it is read the other way (grey
// and CMYK photos with embedded profiles off). Only the file is used; the
// other arguments are accepted for the callers.
host::GWorldHandle ReadFile2(TFile* file, int16_t imageSize, float rotation, bool& turned,
                             tColorSyncPrefs* colorSync);

// The plain importer: any image file the host library reads.
host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec);
// The same, storing the file's horizontal resolution (dpi, 72 when none);
// the graphics loader: alpha kept, and drawn through the file's embedded
// profile when the job honours embedded profiles. A file it cannot read is
// logged with its path; telling the operator is the caller's.
host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec, int16_t& resolution);
// The image reduced by `divisor` (1 keeps it); `size` gets the full size
// (v = height, h = width).
host::GWorldHandle getGWorldFromFileSpecWithoutColorsyncProfile(const FSSpec& spec, int16_t divisor,
                                                                CPoint_AC& size);
// An overlay graphic with the file's alpha; a file without alpha comes back
// fully opaque (every alpha byte 255), as does the graphic of
// getGWorldFromFileSpec(spec, resolution).
host::GWorldHandle getFileOverlayGWorldFromFileSpec(const FSSpec& spec);

// The graphics folder ("KIVO GRAPHICS FOLDER ƒ") whose category subfolders
// hold the overlay and group-photo graphics; set by whoever knows the spool
// root. Empty means unknown (every lookup then finds nothing).
void SetGraphicsFolderPath(const std::string& utf8Path);
std::string GetGraphicsFolderPath();
// The one graphic lookup of the frame graphics, overlays and group photos:
// the file `name` (Mac Roman) directly inside the subfolder of
// `graphicsFolder` named by `category`, the category matched without regard
// to case and accents. Empty when the folder, the category or the file is
// missing, or when the name is empty or holds "/", ".." or NUL. A graphic
// or a category folder that is a symbolic link is never followed: the
// result is empty too, and `link` (when given) gets "<category>/<name>"
// or "<category>" as they are named on disk, for the message that refuses
// it (it is left empty otherwise).
std::filesystem::path FindGraphicInCategory(const std::filesystem::path& graphicsFolder, const CStr31_AC& category,
                                            const CStr63_AC& name, std::string* link = nullptr);
// A graphic of the graphics folder by name and category, found by
// FindGraphicInCategory; none when either is 32 characters or longer, or
// the file is not there (logged).
host::GWorldHandle getGraphicOnOffscreen(const CStr255_AC& name, const CStr255_AC& category, bool flag);

// Whether the image codecs are there: true when the host's image files can
// write and read back a JPEG, a PNG and a TIFF (tried once per run).
// `version` gets 0x07000000 when they can, else 0.
bool IsQuickTimeAvail(long* version);
// Start-up check: when the codecs are missing, `beep` twice and tell the
// operator that not all features will work.
void CheckIfQuickTimeInstalled(const std::function<void()>& beep);

// ---- image objects ----

double radians(double degrees);
// A new image turned upright for EXIF orientation 3 (half turn), 6 (quarter
// turn clockwise) or 8 (counter-clockwise); any other value copies it.
CGImageRef createNewRotatedImageRef(const CGImageRef& image, int orientation);
// Shares the offscreen's pixels (no copy); none for no offscreen.
CGImageRef OffscreenToImageRef(host::GWorld* offscreen);
// The image blurred with the given radius (a new image; the same one back
// when the radius asks for nothing or memory runs out).
CGImageRef blurMyImage(const CGImageRef& image, float radius);
// A half-size copy; none when memory runs out.
CGImageRef createMyScaledImage(const CGImageRef& image);

// Draws the image into `rect` of the offscreen: a plain copy at the same
// size, otherwise scaled; images with alpha are composited over what is there.
void DrawCGImageToGWorld(const CGImageRef& image, host::GWorld* offscreen, const CGRect& rect);
// The same turned by a half turn.
void DrawCGImageToGWorldFlip(const CGImageRef& image, host::GWorld* offscreen, const CGRect& rect);

// ---- helpers shared with the writers ----

namespace imaging {
// The UTF-8 path of a specification; empty when its folder is unknown.
std::string PathOfSpec(const FSSpec& spec);
// A Mac Roman name as a single file name on disk: "/" is stored as ":" and a
// ":" stays a ":", so neither can act as a path separator; empty for names
// no file can have ("", ".", "..").
std::string DiskNameOf(std::string_view macRomanName);
// A file name from a job file that names a file directly inside a folder:
// nothing empty, no separator, no parent step, no NUL.
bool IsPlainName(std::string_view name);
}  // namespace imaging
