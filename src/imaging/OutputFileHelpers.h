// Small file services shared by the image writers, the print-to-file routes
// and the copies of photo files: writing an image object to a path by format
// code, cutting a rectangle out of an image file, " copy" names for paths,
// copying a file as a request describes, the customer name in a file name,
// and carrying a source photo's ICC profile into an output file.
//
// They live with the imaging code because the writers call them; the output
// routes use them from here. Failures are logged only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ImageLoading.h"

// Reads the source photo's embedded ICC profile and stores it in the output
// file (JPEG, PNG or TIFF) through the image library; nothing when either has
// no file or the source has no profile (logged).
void embedSourceImageProfileInOutputFile(const FSSpec& source, const FSSpec& output);

// The file's path, percent-escaped, as UTF-8 in a 1,024-byte zero-filled
// buffer (empty when there is no path).
void fsSpecToCharArray(const FSSpec& file, char text[1024]);

// The part of a file name before its first "_", else before its first
// " copy", else before its last "."; else the whole name. A "_" or "." that
// ends the name does not count.
CStr255_AC getCustomerNameFromFileName(const CStr255_AC& name);
// The same rule on a name in any byte encoding (UTF-8 names keep their
// characters).
std::string_view CustomerNameOf(std::string_view name);

// The image as a JPEG of quality 1.0 at the resolution, replacing any file;
// true when the file was written and renamed into place.
bool saveCGImageRefToPath(const CGImageRef& image, const std::string& path, int16_t resolution);
// By format code: 4 PICT, 9 PNG, 2 TIFF (LZW), anything else JPEG with
// `quality` percent (0..100). True when the file was written.
bool saveCGImageRefToPath(const CGImageRef& image, const std::string& path, int16_t format, float quality,
                          int16_t resolution);

// The rectangle (in the photo's pixels) cut out of the image file, in a new
// offscreen of its size. The rectangle is clipped to the photo; none when
// nothing of it lies inside, or the file cannot be read.
host::GWorldHandle getCroppedImage(const FSSpec& file, const CGRect& rect);

// The path when nothing is there, else the first free of "stem copy.ext",
// "stem copy 1.ext", "stem copy 2.ext" … (up to 32000); none when all are
// taken or there is no path.
std::optional<std::string> createUniqueNameFromPath(const std::string& path);

// A copy request: source, destination and whether an existing destination
// may be replaced. Without it, a taken destination moves to a " copy" name,
// stored back into the request.
struct FileCopyRequest {
  bool doOverwrite = false;
  std::string pathToSrcItem;
  std::string pathToDestItem;
};
bool doCopyTheFileNew(FileCopyRequest& request);
