#include "chromakey/ChromaKeySettings.h"

#include <vector>

#include "chromakey/engine/LittleEndian.h"

int16_t gDefocusValue = 0;
int16_t gInwardFlag = 0;
float gShrinkValue = 0.0f;
tJunkMaskStructure gExclusionMaskRect;

namespace {

using chromakey::le::Reader;
using chromakey::le::Writer;

void ReadMask(Reader& r, tJunkMaskStructure& m) {
  m.rect.top = r.i16();
  m.rect.left = r.i16();
  m.rect.bottom = r.i16();
  m.rect.right = r.i16();
  m.value = r.u32();
}

void WriteMask(Writer& w, const tJunkMaskStructure& m) {
  w.i16(m.rect.top);
  w.i16(m.rect.left);
  w.i16(m.rect.bottom);
  w.i16(m.rect.right);
  w.u32(m.value);
}

}  // namespace

bool DecodeChromaKeySettings(const uint8_t* bytes, size_t size, tChromaKeySettings& out) {
  if (bytes == nullptr || size < tChromaKeySettings::kStoredSize) return false;
  tChromaKeySettings s;
  chromakey::DecodeFixCoef(bytes, s.para);
  Reader r(bytes + chromakey::kFixCoefSize);
  ReadMask(r, s.junkMask);
  s.defocusValue = r.i16();
  s.inwardFlag = r.i16();
  s.shrinkValue = r.f32();
  for (auto& m : s.junkMaskList) ReadMask(r, m);
  for (auto& p : s.exclusionPoints) {
    p.v = r.i16();
    p.h = r.i16();
  }
  for (auto& p : s.junkPoints) {
    p.v = r.i16();
    p.h = r.i16();
  }
  r.bytes(s.reserved, sizeof s.reserved);
  out = s;
  return true;
}

std::array<uint8_t, tChromaKeySettings::kStoredSize> EncodeChromaKeySettings(
    const tChromaKeySettings& in) {
  std::array<uint8_t, tChromaKeySettings::kStoredSize> bytes{};
  chromakey::EncodeFixCoef(in.para, bytes.data());
  Writer w(bytes.data() + chromakey::kFixCoefSize);
  WriteMask(w, in.junkMask);
  w.i16(in.defocusValue);
  w.i16(in.inwardFlag);
  w.f32(in.shrinkValue);
  for (const auto& m : in.junkMaskList) WriteMask(w, m);
  for (const auto& p : in.exclusionPoints) {
    w.i16(p.v);
    w.i16(p.h);
  }
  for (const auto& p : in.junkPoints) {
    w.i16(p.v);
    w.i16(p.h);
  }
  w.bytes(in.reserved, sizeof in.reserved);
  return bytes;
}

OSErr TChromaKeySettings::ReadFrom(const uint8_t* bytes, size_t size,
                                   tChromaKeySettings* settings) {
  if (settings == nullptr) return paramErr;
  return DecodeChromaKeySettings(bytes, size, *settings) ? noErr : eofErr;
}

OSErr TChromaKeySettings::ReadFrom(std::istream& stream, tChromaKeySettings* settings) {
  if (settings == nullptr) return paramErr;
  std::vector<uint8_t> buffer(tChromaKeySettings::kStoredSize);
  stream.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  if (static_cast<size_t>(stream.gcount()) < buffer.size()) return stream.bad() ? ioErr : eofErr;
  return DecodeChromaKeySettings(buffer.data(), buffer.size(), *settings) ? noErr : ioErr;
}
