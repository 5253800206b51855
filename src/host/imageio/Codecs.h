// The per-format codecs behind ImageFile.h. Each works on bytes in memory and
// reports failure as a message; none of them throws or lets a codec library
// end the process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/imageio/ImageFile.h"

namespace host::imageio {

// Largest image accepted, in pixels: an offscreen of four bytes per pixel
// must stay within the offscreen limit of 1 GiB.
constexpr uint64_t kMaxPixels = (uint64_t(1) << 30) / 4;

// Null when an image of this size may be decoded, else the reason (a static
// text, so that it can be used where no C++ object may be created).
const char* CheckImageSize(uint64_t width, uint64_t height);

ImageStatus JpegReadInfo(std::span<const uint8_t> data, ImageInfo* info);
// With `keepCmyk` a CMYK file keeps its inks in the offscreen (ImageFile.h,
// ImageReadOptions::keepCmyk) and `*cmyk` says whether it did.
ImageStatus JpegDecode(std::span<const uint8_t> data, int scaleDenominator, ImageInfo* info, GWorldHandle* out,
                       bool keepCmyk = false, bool* cmyk = nullptr);
// Off: every photo is decoded whole on the calling thread (tests compare
// the banded decode with it).
void UseJpegBandsForTesting(bool on);
ImageStatus JpegEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out);

ImageStatus PngReadInfo(std::span<const uint8_t> data, ImageInfo* info);
ImageStatus PngDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out);
ImageStatus PngEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out);

ImageStatus TiffReadInfo(std::span<const uint8_t> data, ImageInfo* info);
// With `keepCmyk` a CMYK file of 8 or 16 bits per sample keeps its inks, as
// for JPEG, `*cmyk` says whether it did and `*inkAlpha` gets the alpha of a
// file with transparency (ImageReadResult::inkAlpha); without `inkAlpha`
// such a file is brought to RGB. A file whose image data cannot fill the
// size it states is refused before its pixels are allocated.
ImageStatus TiffDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out, bool keepCmyk = false,
                       bool* cmyk = nullptr, std::vector<uint8_t>* inkAlpha = nullptr);
ImageStatus TiffEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out);

// True when a TIFF-structured file is a camera's raw image (a DNG, or a
// colour-filter-array image in the main or a sub-image), which the raw
// decoder reads instead of the TIFF decoder.
bool TiffIsCameraRaw(std::span<const uint8_t> data);

// Camera raw files through LibRaw: demosaiced with the camera's white
// balance to 8-bit sRGB, pixels as stored (the camera's turn is reported as
// the EXIF orientation, not applied). A file that cannot hold the raw data
// its header describes is refused before the decoder sizes anything by it.
ImageStatus RawReadInfo(std::span<const uint8_t> data, ImageInfo* info);
ImageStatus RawDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out);

// Fills orientation, user comment and (where the codec found none) the
// resolution from the file's EXIF block. A missing or unreadable block
// leaves the fields as they are.
void ReadExifFields(std::span<const uint8_t> data, ImageInfo* info);

// Replaces (or, for an empty profile, removes) the ICC profile of a PNG file.
ImageStatus ReplacePngIccProfile(std::vector<uint8_t>& fileBytes, std::span<const uint8_t> profile);

// Rewrites the EXIF orientation and user comment and the ICC profile of an
// encoded file in memory.
ImageStatus ApplyMetadataUpdate(std::vector<uint8_t>& fileBytes, const ImageMetadataUpdate& update);

}  // namespace host::imageio
