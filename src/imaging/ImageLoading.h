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

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "imaging/PictReader.h"

class TFile;
struct tColorSyncPrefs;

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
  host::GWorldHandle decoded_;
  CGImageRef image_;
  host::ImageInfo info_;
  bool hasProperties_ = false;
};

// The file handler the job view and the loader use: a current file and the
// question whether this loader takes it.
class TKIVOFileHandler {
 public:
  virtual ~TKIVOFileHandler() = default;
  void SetCurrentFile(const FSSpec& spec) { current_ = spec; }
  const FSSpec& GetCurrentFile() const { return current_; }
  // The scan list is never filled here: AddToList takes nothing.
  bool AddToList(TFile* file);
  bool AddFileToList(TFile* file);

 protected:
  FSSpec current_{};
};

class TNewAllFilesHandler : public TKIVOFileHandler {
 public:
  // The current file's name has an extension this loader reads.
  bool IsValidFile() const;
  bool IsValidFile(const TFile* file) const;
  static bool isValidFileForHere(const CStr255_AC& name);
  // The current file as a new offscreen (colour-corrected when the file
  // carries colour settings, blurred by myBlurValue, a half turn applied for
  // orientation 3), or empty.
  host::GWorldHandle GetFullSizeImage();
  // The current file's colour settings (resource 5002) into the ten colour
  // globals; the neutral values when it has none.
  void LoadColorSettings();
};

// ---- loading ----

// Reads the photo of `file` into a new offscreen, or empty; closes the file.
// Only the file is used; the other arguments are accepted for the callers.
host::GWorldHandle ReadFile2(TFile* file, int16_t imageSize, float rotation, bool& turned,
                             tColorSyncPrefs* colorSync);

// The plain importer: any image file the host library reads.
host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec);
// The same, storing the file's horizontal resolution (dpi, 72 when none).
host::GWorldHandle getGWorldFromFileSpec(const FSSpec& spec, int16_t& resolution);
// The image reduced by `divisor` (1 keeps it); `size` gets the full size
// (v = height, h = width).
host::GWorldHandle getGWorldFromFileSpecWithoutColorsyncProfile(const FSSpec& spec, int16_t divisor,
                                                                CPoint_AC& size);
// An overlay graphic with the file's alpha; a file without alpha comes back
// fully opaque (every alpha byte 255), as does the graphic of
// getGWorldFromFileSpec(spec, resolution).
host::GWorldHandle getFileOverlayGWorldFromFileSpec(const FSSpec& spec);

// The picture drawn into a new offscreen of its frame (PictReader.h); the
// picture is consumed. None for no picture or one that draws nothing.
host::GWorldHandle PicHandle2GWorld(PicHandle picture);

// The graphics folder ("KIVO GRAPHICS FOLDER ƒ") whose category subfolders
// hold the overlay and group-photo graphics; set by whoever knows the spool
// root. Empty means unknown (every lookup then finds nothing).
void SetGraphicsFolderPath(const std::string& utf8Path);
std::string GetGraphicsFolderPath();
// The one graphic lookup of the frame graphics, overlays and group photos:
// the file `name` (Mac Roman) directly inside the subfolder of
// `graphicsFolder` named by `category`, the category matched without regard
// to case and accents. Empty when the folder, the category or the file is
// missing, or when the name is empty or holds "/", ".." or NUL.
std::filesystem::path FindGraphicInCategory(const std::filesystem::path& graphicsFolder, const CStr31_AC& category,
                                            const CStr63_AC& name);
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
}  // namespace imaging
