// JPEG through libjpeg-turbo. The library reports fatal errors through a
// callback that must not return; ours records the message and longjmps back
// to the one function that called setjmp. Those functions hold only plain C
// data in their own frame (everything with a destructor lives in the job
// record their caller owns), so the jump skips no destructor.
//
// A file that ends early or has damaged compressed data only raises a
// warning in libjpeg (it fills the lost part of the image with grey or
// garbage); we treat those warnings as errors so that a damaged photo is never
// used as if whole. Warnings that leave the pixels intact (stray bytes between
// markers, an unknown JFIF revision, a bad ICC marker) are let through.
//
// Large baseline photos are decoded in bands on the shared worker pool. The
// compressed data has no entry points (restart markers are rare in camera
// files), so each band's decoder reads the entropy-coded data from the start
// and skips the rows above its band without transforming them; the costly
// part after entropy decoding (inverse DCT, upsampling, colour conversion)
// is then shared. libjpeg-turbo gives the same rows for a skipped start as
// for a whole decode; the decoder of the last band reads the data to its end,
// so it meets every fault a whole decode would. Should any band fail, the
// photo is decoded once more as a whole, which gives the failure its usual
// message.
#include <csetjmp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cmath>

#include <jpeglib.h>
#include <jerror.h>

#include "host/imageio/Codecs.h"
#include "host/workers/WorkerPool.h"

namespace host::imageio {
namespace {

constexpr long kMaxDecoderMemory = 1L << 30;

// Below this many output pixels a photo decodes faster whole than the bands'
// repeated entropy decoding and hand-over cost.
constexpr uint64_t kBandedFromPixels = 2'000'000;
bool gBands = true;

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  const int code = cinfo->err->msg_code;
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
      OnFatalError(cinfo);
      break;
    default:
      break;
  }
  cinfo->err->num_warnings++;
}

void InstallErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = OnFatalError;
  err->pub.emit_message = OnMessage;
  err->message[0] = '\0';
}

struct DecodeJob {
  std::span<const uint8_t> data;
  bool headerOnly = false;
  int scaleDenominator = 1;
  bool keepCmyk = false;
  ImageInfo* info = nullptr;
  GWorldHandle image;
  std::vector<uint8_t> cmykRow;
  std::string sizeError;
  JOCTET* icc = nullptr;
  unsigned int iccLength = 0;
  bool allowBands = true;
  unsigned bandCount = 0;  // set when the rows are left to DecodeInBands
  JDIMENSION rowsPerBandUnit = 0;
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
};

// Brings one decoded CMYK row to the offscreen's inks, 0 = no ink. Files with
// an Adobe marker (nearly all CMYK JPEGs) store the inks inverted.
void CmykRowToInks(const uint8_t* cmyk, uint8_t* inks, JDIMENSION width, bool inverted) {
  if (!inverted) {
    std::memcpy(inks, cmyk, size_t(width) * 4);
    return;
  }
  for (size_t i = 0, n = size_t(width) * 4; i < n; ++i) inks[i] = static_cast<uint8_t>(255 - cmyk[i]);
}

// Points a created decoder at the file's bytes. Progressive files keep all
// coefficients in memory; a small damaged file may declare a huge image.
// Beyond the limit the library fails cleanly instead of asking for more.
void ReadFromMemory(jpeg_decompress_struct* cinfo, std::span<const uint8_t> data) {
  cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(cinfo, data.data(), static_cast<unsigned long>(data.size()));
}

// Reads the decoder's output rows, from its current one up to `end`,
// straight into the offscreen's rows eight at a time; false should the
// decoder give none.
bool ReadArgbRows(jpeg_decompress_struct* cinfo, GWorld& image, JDIMENSION end) {
  while (cinfo->output_scanline < end) {
    const int32_t y = static_cast<int32_t>(cinfo->output_scanline);
    JSAMPROW rows[8];
    const int32_t count = std::min<int32_t>(8, static_cast<int32_t>(end) - y);
    for (int32_t i = 0; i < count; ++i) rows[i] = image.scanline(y + i);
    if (jpeg_read_scanlines(cinfo, rows, static_cast<JDIMENSION>(count)) == 0) return false;
  }
  return true;
}

bool RunDecode(DecodeJob* job) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  InstallErrorManager(&job->err);
  if (setjmp(job->err.jump)) return false;
  jpeg_create_decompress(cinfo);
  job->created = true;
  ReadFromMemory(cinfo, job->data);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);

  ImageInfo* info = job->info;
  info->format = ImageFormat::kJpeg;
  info->width = static_cast<int32_t>(cinfo->image_width);
  info->height = static_cast<int32_t>(cinfo->image_height);
  info->bitsPerSample = cinfo->data_precision;
  info->samplesPerPixel = cinfo->num_components;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE: info->colorModel = ImageColorModel::kGrey; break;
    case JCS_RGB:
    case JCS_YCbCr: info->colorModel = ImageColorModel::kRGB; break;
    case JCS_CMYK:
    case JCS_YCCK: info->colorModel = ImageColorModel::kCMYK; break;
    default: info->colorModel = ImageColorModel::kUnknown; break;
  }
  if (cinfo->saw_JFIF_marker && cinfo->density_unit != 0 && cinfo->X_density && cinfo->Y_density) {
    const double perInch = cinfo->density_unit == 2 ? 2.54 : 1.0;
    info->xDpi = cinfo->X_density * perInch;
    info->yDpi = cinfo->Y_density * perInch;
  }
  jpeg_read_icc_profile(cinfo, &job->icc, &job->iccLength);
  if (job->headerOnly) return true;

  if (info->colorModel == ImageColorModel::kUnknown) {
    job->sizeError = "unsupported JPEG colour space";
    return false;
  }
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(job->scaleDenominator);
  const bool cmyk = info->colorModel == ImageColorModel::kCMYK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_ARGB;
  jpeg_calc_output_dimensions(cinfo);
  // The limit applies to what is decoded: a huge photo may still be read at
  // 1/8 for a preview.
  if (const char* sizeError = CheckImageSize(cinfo->output_width, cinfo->output_height)) {
    job->sizeError = sizeError;
    return false;
  }
  // Huffman-coded data takes at least a bit for each 8 x 8 block of each
  // component, whatever the scale it is decoded at: a file with fewer bytes
  // after its scan header cannot hold the image, and no room is made for
  // it. (Arithmetic coding has no such floor; its rows are written as they
  // are decoded, into memory not touched before.)
  if (!cinfo->arith_code) {
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo->num_components; ++c)
      blocks += uint64_t(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks;
    if (blocks > uint64_t(cinfo->src->bytes_in_buffer) * 8) {
      job->sizeError = "the file is too short for the image it describes";
      return false;
    }
  }
  job->image = GWorld::CreateUninitialized(CLongRect_AC(0, 0, static_cast<int32_t>(cinfo->output_height),
                                           static_cast<int32_t>(cinfo->output_width)));
  if (!job->image) {
    job->sizeError = "not enough memory for the image";
    return false;
  }
  if (job->allowBands && gBands && !cmyk && !cinfo->progressive_mode && !cinfo->arith_code &&
      uint64_t(cinfo->output_width) * cinfo->output_height >= kBandedFromPixels) {
    // Bands start on iMCU rows, where the skip costs entropy decoding only.
#if JPEG_LIB_VERSION >= 70
    const JDIMENSION unit = JDIMENSION(cinfo->max_v_samp_factor) * JDIMENSION(cinfo->min_DCT_v_scaled_size);
#else
    const JDIMENSION unit = JDIMENSION(cinfo->max_v_samp_factor) * JDIMENSION(cinfo->min_DCT_scaled_size);
#endif
    const JDIMENSION units = unit > 0 ? (cinfo->output_height + unit - 1) / unit : 0;
    const unsigned bands = std::min<unsigned>(WorkerPool::shared().threadCount(), units);
    if (bands > 1) {
      job->bandCount = bands;
      job->rowsPerBandUnit = unit;
      return true;
    }
  }
  if (cmyk) job->cmykRow.resize(size_t(cinfo->output_width) * 4);
  jpeg_start_decompress(cinfo);
  GWorld& image = *job->image;
  if (!cmyk && !ReadArgbRows(cinfo, image, cinfo->output_height)) return false;
  while (cinfo->output_scanline < cinfo->output_height) {
    const int32_t y = static_cast<int32_t>(cinfo->output_scanline);
    JSAMPROW row = job->cmykRow.data();
    jpeg_read_scanlines(cinfo, &row, 1);
    CmykRowToInks(row, image.scanline(y), cinfo->output_width, cinfo->saw_Adobe_marker);
  }
  jpeg_finish_decompress(cinfo);
  // Without a caller that converts the inks through a profile, they are
  // brought to RGB here.
  if (cmyk && !job->keepCmyk) ConvertCmykToRgb(image);
  return true;
}

// One band of a photo: output rows [first, end) into `image`.
struct BandJob {
  std::span<const uint8_t> data;
  int scaleDenominator = 1;
  GWorld* image = nullptr;
  JDIMENSION first = 0, end = 0;
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
};

bool RunBand(BandJob* job) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  InstallErrorManager(&job->err);
  if (setjmp(job->err.jump)) return false;
  jpeg_create_decompress(cinfo);
  job->created = true;
  ReadFromMemory(cinfo, job->data);
  jpeg_read_header(cinfo, TRUE);
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(job->scaleDenominator);
  cinfo->out_color_space = JCS_EXT_ARGB;
  jpeg_start_decompress(cinfo);
  GWorld& image = *job->image;
  if (cinfo->output_width != JDIMENSION(image.width()) || cinfo->output_height != JDIMENSION(image.height()))
    return false;
  if (job->first > 0 && jpeg_skip_scanlines(cinfo, job->first) != job->first) return false;
  if (!ReadArgbRows(cinfo, image, job->end)) return false;
  // The last band reads on to the end of the data, as a whole decode does.
  if (job->end == cinfo->output_height) jpeg_finish_decompress(cinfo);
  return true;
}

// The first output row of each band, in whole units of iMCU rows, and the
// end. Every band's decoder entropy-decodes all the data above its band
// (cost r a unit row, against 1 for a row decoded whole), so equal bands
// would leave the last decoder, which reads the most, finishing last. The
// bands are sized so that all finish together: band b takes F - r * s_b
// units where s_b is its first unit, and with k bands
// F = units * r / (1 - (1 - r)^k).
//
// r is estimated from the file: entropy decoding costs about 6.6 ns a byte
// of compressed data plus 0.18 ns a pixel, the rest of the decode about
// 1.05 ns an output pixel (libjpeg-turbo on x86-64; only the ratio counts).
// The estimate is taken 10% low, since too small an r merely leaves the
// last bands a little short, while too large an r overloads the first.
std::vector<JDIMENSION> BandStarts(JDIMENSION units, unsigned bands, double compressedBytes, double sourcePixels,
                                   double outputPixels) {
  const double entropy = 6.6 * compressedBytes + 0.18 * sourcePixels, rest = 1.05 * outputPixels;
  const double r = std::clamp(0.9 * entropy / (entropy + rest), 0.01, 0.99);
  const double finish = double(units) * r / (1.0 - std::pow(1.0 - r, double(bands)));
  std::vector<JDIMENSION> starts{0};
  double at = 0;
  for (unsigned b = 0; b + 1 < bands; ++b) {
    at += finish - r * at;
    const auto start = JDIMENSION(std::clamp(std::lround(at), 0L, long(units)));
    if (start > starts.back() && start < units) starts.push_back(start);
  }
  starts.push_back(units);
  return starts;
}

// Decodes the rows of job.image in up to job.bandCount bands of whole iMCU
// rows, one task each; false when any band failed.
bool DecodeInBands(const DecodeJob& job) {
  const JDIMENSION height = JDIMENSION(job.image->height()), unit = job.rowsPerBandUnit;
  const JDIMENSION units = (height + unit - 1) / unit;
  const double outputPixels = double(job.image->width()) * height;
  const std::vector<JDIMENSION> starts =
      BandStarts(units, job.bandCount, double(job.data.size()), double(job.info->width) * job.info->height,
                 outputPixels);
  std::vector<BandJob> bands(starts.size() - 1);
  for (size_t b = 0; b < bands.size(); ++b) {
    bands[b].data = job.data;
    bands[b].scaleDenominator = job.scaleDenominator;
    bands[b].image = job.image.get();
    bands[b].first = std::min(height, starts[b] * unit);
    bands[b].end = std::min(height, starts[b + 1] * unit);
  }
  std::vector<char> ok(bands.size(), 0);
  parallelFor(WorkerPool::shared(), bands.size(), [&](size_t b) {
    ok[b] = RunBand(&bands[b]);
    if (bands[b].created) jpeg_destroy_decompress(&bands[b].cinfo);
  });
  return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

ImageStatus Decode(std::span<const uint8_t> data, bool headerOnly, int scale, bool keepCmyk, ImageInfo* info,
                   GWorldHandle* out, bool* cmykOut, bool allowBands = true) {
  DecodeJob job;
  job.data = data;
  job.headerOnly = headerOnly;
  job.scaleDenominator = scale;
  job.keepCmyk = keepCmyk;
  job.info = info;
  job.allowBands = allowBands;
  const bool ok = RunDecode(&job);
  if (job.created) jpeg_destroy_decompress(&job.cinfo);
  if (ok && job.bandCount > 1 && !DecodeInBands(job)) {
    std::free(job.icc);
    *info = ImageInfo{};
    return Decode(data, headerOnly, scale, keepCmyk, info, out, cmykOut, false);
  }
  if (job.icc) {
    info->iccProfile.assign(job.icc, job.icc + job.iccLength);
    std::free(job.icc);
  }
  if (!ok) {
    const std::string reason = !job.sizeError.empty() ? job.sizeError : std::string(job.err.message);
    return ImageStatus::Fail("JPEG: " + reason);
  }
  if (out) *out = std::move(job.image);
  if (cmykOut) *cmykOut = !headerOnly && keepCmyk && info->colorModel == ImageColorModel::kCMYK;
  return {};
}

struct EncodeJob {
  const GWorld* image = nullptr;
  const ImageWriteOptions* options = nullptr;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
};

bool RunEncode(EncodeJob* job) {
  jpeg_compress_struct* cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  InstallErrorManager(&job->err);
  if (setjmp(job->err.jump)) return false;
  jpeg_create_compress(cinfo);
  job->created = true;
  jpeg_mem_dest(cinfo, &job->buffer, &job->size);
  const GWorld& image = *job->image;
  const ImageWriteOptions& options = *job->options;
  cinfo->image_width = static_cast<JDIMENSION>(image.width());
  cinfo->image_height = static_cast<JDIMENSION>(image.height());
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_ARGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, std::clamp(options.jpegQuality, 0, 100), TRUE);
  const double dpi = options.dpi > 0 ? options.dpi : 72.0;
  cinfo->write_JFIF_header = TRUE;
  cinfo->density_unit = 1;
  cinfo->X_density = cinfo->Y_density = static_cast<UINT16>(std::clamp(std::lround(dpi), 1L, 65535L));
  jpeg_start_compress(cinfo, TRUE);
  if (!options.iccProfile.empty()) {
    jpeg_write_icc_profile(cinfo, options.iccProfile.data(),
                           static_cast<unsigned int>(options.iccProfile.size()));
  }
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW rows[8];
    const int32_t y = static_cast<int32_t>(cinfo->next_scanline);
    const int32_t count = std::min<int32_t>(8, image.height() - y);
    for (int32_t i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(image.scanline(y + i));
    jpeg_write_scanlines(cinfo, rows, static_cast<JDIMENSION>(count));
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

ImageStatus JpegReadInfo(std::span<const uint8_t> data, ImageInfo* info) {
  return Decode(data, true, 1, false, info, nullptr, nullptr);
}

ImageStatus JpegDecode(std::span<const uint8_t> data, int scaleDenominator, ImageInfo* info, GWorldHandle* out,
                       bool keepCmyk, bool* cmyk) {
  return Decode(data, false, scaleDenominator, keepCmyk, info, out, cmyk);
}

void UseJpegBandsForTesting(bool on) { gBands = on; }

ImageStatus JpegEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out) {
  if (image.width() > JPEG_MAX_DIMENSION || image.height() > JPEG_MAX_DIMENSION) {
    return ImageStatus::Fail("JPEG: image too large for the format");
  }
  EncodeJob job;
  job.image = &image;
  job.options = &options;
  const bool ok = RunEncode(&job);
  if (job.created) jpeg_destroy_compress(&job.cinfo);
  if (ok) out->assign(job.buffer, job.buffer + job.size);
  std::free(job.buffer);
  if (!ok) return ImageStatus::Fail(std::string("JPEG: ") + job.err.message);
  return {};
}

}  // namespace host::imageio
