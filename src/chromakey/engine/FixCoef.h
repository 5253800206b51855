// The chroma-key engine's pixel types and its coefficient block `fixcoef`.
//
// The block is stored inside job files and per-image settings as 10,864 bytes
// in little-endian order. In memory it is an ordinary struct; DecodeFixCoef and
// EncodeFixCoef are the one place that knows the stored offsets. The stored
// block holds 4-byte pointer slots (kernel, model object, shape list): their
// stored values are kept only so that a record can be written back byte-exact
// and are never used as addresses; the live values sit in separate members.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chromakey {

// One engine pixel: 16-bit red, green, blue, alpha (65535 = opaque).
struct pixeli {
  uint16_t r = 0;
  uint16_t g = 0;
  uint16_t b = 0;
  uint16_t a = 0;
  friend bool operator==(const pixeli&, const pixeli&) = default;
};
static_assert(sizeof(pixeli) == 8);

// Four floats on the 0..65535 scale.
struct pixelf {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 0;
};

// One shell plane of the key volume: k*R + l*G + m*B + n = 0.
struct keyplane {
  float k = 0;
  float l = 0;
  float m = 0;
  float n = 0;
};

// One region's levels of the region key model.
struct keylevels {
  float base = 0;
  float key = 0;
  float col = 0;
};

struct fixcoef;
class KeyerBase;
struct MaskShape;  // rendered by the mask shape renderer of the keying manager

// A per-pixel kernel: (fg, work, bgwork, mask, out, count, block).
using KeyKernel16 = void (*)(const pixeli* fg, const pixeli* work, const pixeli* bgwork,
                             const pixeli* mask, pixeli* out, long count, const fixcoef* block);

// An 8-bit pixel in blue, green, red order, for the 8-bit kernels.
struct pixel_bgr8 {
  uint8_t b = 0;
  uint8_t g = 0;
  uint8_t r = 0;
  friend bool operator==(const pixel_bgr8&, const pixel_bgr8&) = default;
};
// The 8-bit kernel: the same pixel arrays as the 16-bit one, and the matte
// as one byte per pixel.
using KeyKernel8 = void (*)(const pixel_bgr8* fg, const pixel_bgr8* work, const pixel_bgr8* bgwork,
                            const pixel_bgr8* mask, pixel_bgr8* out, uint8_t* matte, long count,
                            const fixcoef* block);

// Flag bits of fixcoef::flag.
enum : int32_t {
  kFlagTransColor = 0x2,
  kFlagExtMask = 0x4,
  kFlagNoBGFill = 0x10,
  kFlagAllMid = 0x80,
  kFlagInnerOwn = 0x100,
  kFlagKeyerRT = 0x800,
  kFlagKeyerRTPlus = 0x1000,
  kFlagMedian = 0x2000,
  kFlagGrain = 0x4000,
  kFlagPositionTable = 0x8000,
  kFlagFloatKernels = 0x10000,
  kFlagShapes = 0x20000,
  kFlagLighting = 0x80000,
  kFlagPassThrough = 0x100000,
};

constexpr int kAxisCount = 66;
constexpr int kTriangleCount = 128;
constexpr int kRegionCount = 7;

struct fixcoef {
  float center_r = 0;
  float center_g = 0;
  float center_b = 0;
  int32_t flag = 0;
  int32_t FGdefocuslevel = 0;
  int32_t BGdefocuslevel = 0;
  char maskfilename[256] = {};
  char transfilename[256] = {};
  struct {
    uint16_t r = 0, g = 0, b = 0, a = 0;
  } trans;
  float l_in[kAxisCount] = {};
  float l_mid[kAxisCount] = {};
  float l_out[kAxisCount] = {};
  float a_in[kTriangleCount] = {};
  float a_mid[kTriangleCount] = {};
  float a_out[kTriangleCount] = {};
  float b_in[kTriangleCount] = {};
  float b_mid[kTriangleCount] = {};
  float b_out[kTriangleCount] = {};
  keyplane pl_in[kTriangleCount] = {};
  keyplane pl_mid[kTriangleCount] = {};
  keyplane pl_out[kTriangleCount] = {};
  float work_center[3] = {};
  uint32_t reserved_10564 = 0;
  float scale16 = 0;
  int32_t scale16_int = 0;
  float scale8 = 0;
  int32_t scale8_int = 0;
  uint32_t stored_kernel16 = 0;
  uint32_t kernel8 = 0;  // always cleared
  uint32_t stored_run_buffer = 0;
  uint32_t reserved_10596 = 0;
  float huefg = 0, lumfg = 0, satfg = 0, redpedfg = 0, grnpedfg = 0, blupedfg = 0;
  float redvalfg = 0, grnvalfg = 0, bluvalfg = 0, redgamfg = 0, grngamfg = 0, blugamfg = 0;
  float huebg = 0, lumbg = 0, satbg = 0, redpedbg = 0, grnpedbg = 0, blupedbg = 0;
  float redvalbg = 0, grnvalbg = 0, bluvalbg = 0, redgambg = 0, grngambg = 0, blugambg = 0;
  int32_t g1xs = 0, g1ys = 0, g1xe = 0, g1ye = 0;
  int32_t g2xs = 0, g2ys = 0, g2xe = 0, g2ye = 0;
  int32_t f1xs = 0, f1ys = 0, f1xe = 0, f1ye = 0;
  float rt_base = 0;
  float rt_key = 0;
  float rt_col = 0;
  keylevels rtplus_levels[kRegionCount] = {};
  int32_t grain_filter = 0;
  float grain_level = 0;
  uint32_t stored_shape_list = 0;
  uint32_t shape_list2 = 0;  // stored value only; read by nothing
  int32_t lighting_grid = 0;
  int32_t lighting_param = 0;

  // Live run-time values, never stored. Set by keycoef_begin, cleared by
  // keycoef_finish; a decoded block starts with all of them null.
  KeyKernel16 kernel16 = nullptr;
  KeyerBase* run_buffer = nullptr;        // the run's own key model; owned between begin and finish
  const MaskShape* const* shape_list = nullptr;  // null-terminated array, owned by the caller
};

constexpr size_t kFixCoefSize = 10864;

// Decodes the stored little-endian block. `bytes` must hold kFixCoefSize bytes.
// Live members come out null; nothing is validated here (see check_block).
void DecodeFixCoef(const uint8_t* bytes, fixcoef& out);

// Writes the block in its stored form, byte for byte what DecodeFixCoef read
// (the live members are not written; the stored slot values are).
void EncodeFixCoef(const fixcoef& in, uint8_t* bytes);

}  // namespace chromakey
