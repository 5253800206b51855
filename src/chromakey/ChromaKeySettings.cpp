#include "chromakey/ChromaKeySettings.h"

#include <vector>

#include "chromakey/engine/LittleEndian.h"
#include "host/base/MacRoman.h"

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

std::unique_ptr<CKDictionary> MyConvertCKSettingsToDictionary(const tChromaKeySettings* settings) {
  if (settings == nullptr) return nullptr;
  auto dict = std::make_unique<CKDictionary>();
  const chromakey::fixcoef& p = settings->para;
  auto put = [&](const std::string& field, CKDictionaryValue v) {
    (*dict)["settings->para." + field] = std::move(v);
  };
  auto array = [](const float* v, size_t n) { return std::vector<double>(v, v + n); };
  put("center_r", double(p.center_r));
  put("center_g", double(p.center_g));
  put("center_b", double(p.center_b));
  put("flag", int64_t(p.flag));
  put("FGdefocuslevel", int64_t(p.FGdefocuslevel));
  put("BGdefocuslevel", int64_t(p.BGdefocuslevel));
  // The whole 256-byte fields, zero bytes after the name included.
  put("maskfilename", host::MacRomanToUTF8(std::string_view(p.maskfilename, sizeof p.maskfilename)));
  put("transfilename", host::MacRomanToUTF8(std::string_view(p.transfilename, sizeof p.transfilename)));
  put("trans.r", int64_t(p.trans.r));
  put("trans.g", int64_t(p.trans.g));
  put("trans.b", int64_t(p.trans.b));
  put("trans.a", int64_t(p.trans.a));
  put("l_in", array(p.l_in, chromakey::kAxisCount));
  put("l_mid", array(p.l_mid, chromakey::kAxisCount));
  put("l_out", array(p.l_out, chromakey::kAxisCount));
  put("a_in", array(p.a_in, chromakey::kTriangleCount));
  put("a_mid", array(p.a_mid, chromakey::kTriangleCount));
  put("a_out", array(p.a_out, chromakey::kTriangleCount));
  put("b_in", array(p.b_in, chromakey::kTriangleCount));
  put("b_mid", array(p.b_mid, chromakey::kTriangleCount));
  put("b_out", array(p.b_out, chromakey::kTriangleCount));
  const std::pair<const char*, const chromakey::keyplane*> planes[] = {
      {"pl_in", p.pl_in}, {"pl_mid", p.pl_mid}, {"pl_out", p.pl_out}};
  for (const auto& [name, pl] : planes) {
    std::vector<double> k, l, m, n;
    for (int i = 0; i < chromakey::kTriangleCount; ++i) {
      k.push_back(pl[i].k);
      l.push_back(pl[i].l);
      m.push_back(pl[i].m);
      n.push_back(pl[i].n);
    }
    put(std::string(name) + ".k", std::move(k));
    put(std::string(name) + ".l", std::move(l));
    put(std::string(name) + ".m", std::move(m));
    put(std::string(name) + ".n", std::move(n));
  }
  const std::pair<const char*, float> corrections[] = {
      {"huefg", p.huefg},       {"lumfg", p.lumfg},       {"satfg", p.satfg},       {"redpedfg", p.redpedfg},
      {"grnpedfg", p.grnpedfg}, {"blupedfg", p.blupedfg}, {"redvalfg", p.redvalfg}, {"grnvalfg", p.grnvalfg},
      {"bluvalfg", p.bluvalfg}, {"redgamfg", p.redgamfg}, {"grngamfg", p.grngamfg}, {"blugamfg", p.blugamfg},
      {"huebg", p.huebg},       {"lumbg", p.lumbg},       {"satbg", p.satbg},       {"redpedbg", p.redpedbg},
      {"grnpedbg", p.grnpedbg}, {"blupedbg", p.blupedbg}, {"redvalbg", p.redvalbg}, {"grnvalbg", p.grnvalbg},
      {"bluvalbg", p.bluvalbg}, {"redgambg", p.redgambg}, {"grngambg", p.grngambg}, {"blugambg", p.blugambg}};
  for (const auto& [name, v] : corrections) put(name, double(v));
  const std::pair<const char*, int32_t> rects[] = {
      {"g1xs", p.g1xs}, {"g1ys", p.g1ys}, {"g1xe", p.g1xe}, {"g1ye", p.g1ye}, {"g2xs", p.g2xs}, {"g2ys", p.g2ys},
      {"g2xe", p.g2xe}, {"g2ye", p.g2ye}, {"f1xs", p.f1xs}, {"f1ys", p.f1ys}, {"f1xe", p.f1xe}, {"f1ye", p.f1ye}};
  for (const auto& [name, v] : rects) put(name, int64_t(v));
  return dict;
}
