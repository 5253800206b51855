// Stored form of the coefficient block: 10,864 little-endian bytes, walked
// field by field in one list shared by the decoder and the encoder, so that
// both always agree on the offsets.
#include "chromakey/engine/FixCoef.h"

#include <cassert>
#include <initializer_list>

#include "chromakey/engine/LittleEndian.h"

namespace chromakey {
namespace {

struct DecodeIO {
  le::Reader r;
  const uint8_t* start;
  void operator()(float& v) { v = r.f32(); }
  void operator()(int32_t& v) { v = r.i32(); }
  void operator()(uint32_t& v) { v = r.u32(); }
  void operator()(uint16_t& v) { v = r.u16(); }
  void raw(char* p, size_t n) { r.bytes(p, n); }
  size_t offset() const { return static_cast<size_t>(r.pos() - start); }
};

struct EncodeIO {
  le::Writer w;
  const uint8_t* start;
  void operator()(const float& v) { w.f32(v); }
  void operator()(const int32_t& v) { w.i32(v); }
  void operator()(const uint32_t& v) { w.u32(v); }
  void operator()(const uint16_t& v) { w.u16(v); }
  void raw(const char* p, size_t n) { w.bytes(p, n); }
  size_t offset() const { return static_cast<size_t>(w.pos() - start); }
};

template <class IO, class Block>
void Fields(IO& io, Block& c) {
  io(c.center_r);
  io(c.center_g);
  io(c.center_b);
  io(c.flag);
  io(c.FGdefocuslevel);
  io(c.BGdefocuslevel);
  io.raw(c.maskfilename, sizeof c.maskfilename);
  io.raw(c.transfilename, sizeof c.transfilename);
  io(c.trans.r);
  io(c.trans.g);
  io(c.trans.b);
  io(c.trans.a);
  assert(io.offset() == 544);
  for (auto& v : c.l_in) io(v);
  for (auto& v : c.l_mid) io(v);
  for (auto& v : c.l_out) io(v);
  assert(io.offset() == 1336);
  for (auto& v : c.a_in) io(v);
  for (auto& v : c.a_mid) io(v);
  for (auto& v : c.a_out) io(v);
  for (auto& v : c.b_in) io(v);
  for (auto& v : c.b_mid) io(v);
  for (auto& v : c.b_out) io(v);
  assert(io.offset() == 4408);
  for (auto* planes : {&c.pl_in, &c.pl_mid, &c.pl_out}) {
    for (auto& p : *planes) {
      io(p.k);
      io(p.l);
      io(p.m);
      io(p.n);
    }
  }
  assert(io.offset() == 10552);
  for (auto& v : c.work_center) io(v);
  io(c.reserved_10564);
  io(c.scale16);
  io(c.scale16_int);
  io(c.scale8);
  io(c.scale8_int);
  io(c.stored_kernel16);
  io(c.kernel8);
  io(c.stored_run_buffer);
  io(c.reserved_10596);
  assert(io.offset() == 10600);
  for (auto* v : {&c.huefg, &c.lumfg, &c.satfg, &c.redpedfg, &c.grnpedfg, &c.blupedfg, &c.redvalfg,
                  &c.grnvalfg, &c.bluvalfg, &c.redgamfg, &c.grngamfg, &c.blugamfg, &c.huebg,
                  &c.lumbg, &c.satbg, &c.redpedbg, &c.grnpedbg, &c.blupedbg, &c.redvalbg,
                  &c.grnvalbg, &c.bluvalbg, &c.redgambg, &c.grngambg, &c.blugambg})
    io(*v);
  assert(io.offset() == 10696);
  for (auto* v : {&c.g1xs, &c.g1ys, &c.g1xe, &c.g1ye, &c.g2xs, &c.g2ys, &c.g2xe, &c.g2ye, &c.f1xs,
                  &c.f1ys, &c.f1xe, &c.f1ye})
    io(*v);
  assert(io.offset() == 10744);
  io(c.rt_base);
  io(c.rt_key);
  io(c.rt_col);
  for (auto& lv : c.rtplus_levels) {
    io(lv.base);
    io(lv.key);
    io(lv.col);
  }
  assert(io.offset() == 10840);
  io(c.grain_filter);
  io(c.grain_level);
  io(c.stored_shape_list);
  io(c.shape_list2);
  io(c.lighting_grid);
  io(c.lighting_param);
  assert(io.offset() == kFixCoefSize);
}

}  // namespace

void DecodeFixCoef(const uint8_t* bytes, fixcoef& out) {
  DecodeIO io{le::Reader(bytes), bytes};
  Fields(io, out);
  out.kernel16 = nullptr;
  out.run_buffer = nullptr;
  out.shape_list = nullptr;
}

void EncodeFixCoef(const fixcoef& in, uint8_t* bytes) {
  EncodeIO io{le::Writer(bytes), bytes};
  Fields(io, in);
}

}  // namespace chromakey
