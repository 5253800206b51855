// Image files: JPEG, PNG and TIFF read into offscreens and offscreens written
// back out, with the properties the imaging code asks of a file (pixel size,
// resolution, EXIF orientation and user comment, embedded ICC profile).
//
// Every call reports failure as a value with a readable message; a truncated
// or corrupt file gives no offscreen at all, never a partly decoded one.
// Offscreens come back in the host layout (bytes alpha, red, green, blue);
// files without alpha read back with every alpha byte 0xFF.
//
// Pixels are returned as stored: the EXIF orientation is reported, not
// applied, because the callers decide which orientations they turn.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/qd/GWorld.h"

namespace host {

// kCameraRaw is read only (through LibRaw); it is never written.
enum class ImageFormat { kUnknown, kJpeg, kPng, kTiff, kCameraRaw };

enum class ImageColorModel { kUnknown, kGrey, kRGB, kCMYK, kPalette };

// What a file says about its image, read without decoding the pixels.
struct ImageInfo {
  ImageFormat format = ImageFormat::kUnknown;
  int32_t width = 0;           // stored size in pixels, before any scaling
  int32_t height = 0;
  int bitsPerSample = 0;       // as stored (8 or 16 for most files)
  int samplesPerPixel = 0;     // as stored, alpha included
  ImageColorModel colorModel = ImageColorModel::kUnknown;
  bool hasAlpha = false;
  double xDpi = 0;             // dots per inch; 0 when the file states none
  double yDpi = 0;
  int orientation = 0;         // EXIF orientation as stored; 0 when the file has none
  std::string userComment;     // EXIF user comment as UTF-8; empty when none
  std::vector<uint8_t> iccProfile;  // embedded profile bytes; empty when none
};

struct ImageReadOptions {
  // 1, 2, 4 or 8: a JPEG is decoded at 1/n of its size through the codec's
  // DCT scaling (sizes round up). PNG and TIFF files always decode at full
  // size; the offscreen's own size tells the caller what it got.
  int scaleDenominator = 1;
  // Read orientation, user comment and resolution from the EXIF block.
  bool readExif = true;
  // A CMYK JPEG or TIFF keeps its inks, for a caller that converts them through the
  // file's profile: each pixel's four bytes hold cyan, magenta, yellow and
  // black, 0 = no ink, and ImageReadResult::cmyk is set; a TIFF's
  // transparency then comes in ImageReadResult::inkAlpha. Otherwise (and for
  // every other file) the inks are brought to RGB without a profile, with
  // their transparency in the alpha bytes.
  bool keepCmyk = false;
};

struct ImageInfoResult {
  ImageInfo info;
  std::string error;  // empty on success
  bool ok() const { return error.empty(); }
};

struct ImageReadResult {
  GWorldHandle image;  // null on failure
  ImageInfo info;
  std::string error;   // empty on success
  bool cmyk = false;   // the pixels are inks (ImageReadOptions::keepCmyk)
  // With `cmyk`, for a file with transparency: each pixel's alpha (straight,
  // 0 = transparent), one byte per pixel, row by row; empty when the inks
  // are opaque. The offscreen's own alpha bytes then mean nothing.
  std::vector<uint8_t> inkAlpha;
  bool ok() const { return image != nullptr; }
};

struct ImageStatus {
  std::string error;  // empty on success
  bool ok() const { return error.empty(); }
  static ImageStatus Fail(std::string message) { return ImageStatus{std::move(message)}; }
};

// The container format of a file from its first bytes (not from its name): a
// raw file in a TIFF container is kTiff here; ReadImageInfo and DecodeImage
// report it as kCameraRaw.
ImageFormat DetectImageFormat(std::span<const uint8_t> head);
const char* ImageFormatName(ImageFormat format);

// Whether `dataBytes` bytes of a file may make an image (or decoded data)
// of `imageBytes` when its form can code a page of one colour in a few
// bytes (any TIFF: its coders bound the samples, and one bit a pixel is 32
// bytes of image; a bitmap stretched over a picture's frame): up to 192 MB
// whatever their number, beyond that one byte of data for each 32 KB of
// image (8,192 pixels). No real photo, scan or picture is compressed that
// far; a few bytes never make a gigabyte.
bool DataMayMakeImage(uint64_t imageBytes, uint64_t dataBytes);

// For a TIFF file whose directory is sound but which cannot be drawn: what
// keeps it from being drawn, in words (for example "24-bit floating-point
// samples" or "compression JBIG, which cannot be decoded"); empty for any
// other file. Reads the directory only, through `fd`, which stays open.
std::string TiffUndrawableForm(int fd);

ImageInfoResult ReadImageInfo(const std::filesystem::path& path);
ImageInfoResult ReadImageInfo(std::span<const uint8_t> data);

ImageReadResult ReadImageFile(const std::filesystem::path& path, const ImageReadOptions& options = {});
ImageReadResult DecodeImage(std::span<const uint8_t> data, const ImageReadOptions& options = {});

// Brings an offscreen of inks (cyan, magenta, yellow, black per pixel, 0 = no
// ink) to opaque RGB in place without a profile: each colour is the paper
// white less its ink, darkened by the black ink.
void ConvertCmykToRgb(GWorld& image);

// Sets each pixel's alpha byte from `alpha`, one byte per pixel, row by row
// (as ImageReadResult::inkAlpha holds it). An empty `alpha`, or one of
// another size than the image, leaves the image as it is.
void PutAlpha(GWorld& image, std::span<const uint8_t> alpha);

enum class TiffCompression { kNone, kLzw };

struct ImageWriteOptions {
  double dpi = 72;                 // both directions; 0 or less writes 72
  int jpegQuality = 75;            // 0 .. 100, clamped
  TiffCompression tiffCompression = TiffCompression::kNone;
  bool keepAlpha = false;          // PNG and TIFF: store the alpha byte as a fourth channel
  std::vector<uint8_t> iccProfile; // embedded when not empty
  int orientation = 0;             // EXIF orientation 1..8 to store; 0 stores none
  std::optional<std::string> userComment;  // EXIF user comment (UTF-8)
};

// The file's bytes for an offscreen, in memory.
ImageStatus EncodeImage(const GWorld& image, ImageFormat format, const ImageWriteOptions& options,
                        std::vector<uint8_t>* out);

// Encodes and writes to a temporary name in the destination's folder, then
// renames it into place (replacing an existing file). On failure nothing is
// left under either name and an existing file keeps its old contents.
ImageStatus WriteImageFile(const GWorld& image, const std::filesystem::path& path, ImageFormat format,
                           const ImageWriteOptions& options = {});

// Changes the metadata of an existing JPEG, PNG or TIFF file without touching
// its pixels: each field that is set replaces the file's own. The file is
// rewritten through a temporary name as above.
struct ImageMetadataUpdate {
  std::optional<int> orientation;              // 1..8
  std::optional<std::string> userComment;      // UTF-8
  std::optional<std::vector<uint8_t>> iccProfile;  // empty vector removes the profile
};
ImageStatus UpdateImageMetadata(const std::filesystem::path& path, const ImageMetadataUpdate& update);
ImageStatus UpdateImageMetadata(std::vector<uint8_t>& fileBytes, const ImageMetadataUpdate& update);

}  // namespace host
