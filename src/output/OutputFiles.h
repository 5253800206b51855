// File and page helpers of the output routes: names made safe for a folder,
// free names, files put in place through a temporary name, pages encoded in
// the output formats, and the page operations the routes need (quarter
// turn, fit into a box, opaque alpha, duplicate).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/qd/GWorld.h"

namespace output {

// The temporary prefix of files being written; the print centre and the
// folder watchers of the stations ignore names that start with it.
inline constexpr char kTempPrefix[] = "Tempfile_";

// A name taken from job data made safe as one file or folder name: "/" and
// control characters become "_", and a name of only dots becomes "_". Empty
// stays empty (callers decide what an empty name means).
std::string CleanName(std::string_view utf8);

// base + ext, base " copy" + ext, base " copy N" + ext (N from 1) in `folder`;
// nothing after 5,000 tries.
std::optional<std::string> UniqueNameWithCopy(const std::filesystem::path& folder, const std::string& base,
                                              const std::string& ext);
// The " copy" name before the extension of `name` (a " copy" already in the
// stem is dropped first), the name cut to 63 characters; the name itself
// when it is free.
std::optional<std::string> UniqueNameWithCopyBeforeExtension(const std::filesystem::path& folder,
                                                             const std::string& name);
// base "_" counter (width digits) ext within 31 characters, the counter
// raised past names that exist; the counter keeps the number used.
std::optional<std::string> UniqueNumberedName(const std::filesystem::path& folder, const std::string& base,
                                              int32_t& counter, const std::string& ext, int width = 4);

// Writes `bytes` as folder/finalName: first under kTempPrefix + finalName
// (flushed to disk), then renamed into place. Without `replace` an existing
// file is never overwritten (false, nothing left behind). On any failure the
// temporary file is removed.
bool PutFileInPlace(const std::filesystem::path& folder, const std::string& finalName,
                    std::span<const uint8_t> bytes, bool replace, std::string* error = nullptr);

// Creates (or finds) the subfolder `name` of `folder`; an empty name stays
// in `folder`. Nothing when it cannot be made.
std::optional<std::filesystem::path> CreateSubFolder(const std::filesystem::path& folder, const std::string& name);

// Packed RGB (width * height * 3, rows top to bottom); false when the size
// overflows or memory runs out.
bool PackRGB(const host::GWorld& page, std::vector<uint8_t>* out);

// Encodes the page in an output format: 2 TIFF (LZW), 3 and 10 JPEG, 4 PICT,
// 5 RAW (packed RGB), 6 the own uncompressed TIFF, 7 Targa, 8 Photoshop, 9
// PNG with alpha; other codes are refused. `iccProfile` is embedded when the format can hold one and
// `userComment` goes into the EXIF block of a JPEG.
bool EncodePage(const host::GWorld& page, int16_t format, int16_t dpi, int quality,
                const std::vector<uint8_t>& iccProfile, const std::optional<std::string>& userComment,
                std::vector<uint8_t>* out, std::string* error);
// The own TIFF of packed RGB pixels (242-byte little-endian header).
bool EncodeOwnTIFF(const host::GWorld& page, int16_t dpi, std::vector<uint8_t>* out);
// Whether a format code writes a file at all (0 and 1 write nothing).
bool FormatWritesFile(int16_t format);

// The application's preferences folder; empty when it is not known.
std::string PreferencesFolder();

// Page operations. Each returns a new offscreen or null (memory).
// Direction 1 turns counter-clockwise, any other clockwise.
host::GWorldHandle RotatePage90(const host::GWorld& page, int16_t direction);
// Scaled (up or down) to the largest size with the page's proportions inside
// maxWidth x maxHeight.
host::GWorldHandle FitPage(const host::GWorld& page, int32_t maxWidth, int32_t maxHeight);
host::GWorldHandle DuplicatePage(const host::GWorld& page);
void MakeOpaque(host::GWorld& page);
void MirrorPage(host::GWorld& page);

}  // namespace output
