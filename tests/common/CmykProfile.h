// A small CMYK printer profile for tests, made with Little CMS: no CMYK
// profile ships with the systems the tests run on. Its tables follow the
// simple ink model (each colour is the paper white less its ink, darkened by
// black) with a strong dot gain (an ink i covers 1 - (1 - i)^2), so that
// its colours are far from those of a conversion without a profile; grey is
// replaced by black ink when separating. It states the perceptual rendering
// intent in its header.
#pragma once

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace testprofiles {

namespace detail {

struct LabTransforms {
  cmsHTRANSFORM toLab = nullptr;    // sRGB (doubles 0..1) to Lab
  cmsHTRANSFORM fromLab = nullptr;  // Lab to sRGB (doubles 0..1)
};

// The share of paper an ink leaves uncovered, dot gain included.
inline double Uncovered(cmsUInt16Number ink) {
  const double i = ink / 65535.0;
  return (1.0 - i) * (1.0 - i);
}

inline int InksToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  auto* t = static_cast<LabTransforms*>(cargo);
  const double k = Uncovered(in[3]);
  const double rgb[3] = {Uncovered(in[0]) * k, Uncovered(in[1]) * k, Uncovered(in[2]) * k};
  cmsCIELab lab;
  cmsDoTransform(t->toLab, rgb, &lab, 1);
  cmsFloat2LabEncoded(out, &lab);
  return 1;
}

inline int LabToInks(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  auto* t = static_cast<LabTransforms*>(cargo);
  cmsCIELab lab;
  cmsLabEncoded2Float(&lab, in);
  double rgb[3];
  cmsDoTransform(t->fromLab, &lab, rgb, 1);
  for (double& v : rgb) v = std::clamp(v, 0.0, 1.0);
  // The uncovered share u of each ink, then the ink 1 - sqrt(u).
  const double black = std::max({rgb[0], rgb[1], rgb[2]});
  auto ink = [](double uncovered) { return 1.0 - std::sqrt(std::clamp(uncovered, 0.0, 1.0)); };
  for (int i = 0; i < 3; ++i) {
    const double value = black <= 0.0 ? 0.0 : ink(rgb[i] / black);
    out[i] = cmsUInt16Number(value * 65535.0 + 0.5);
  }
  out[3] = cmsUInt16Number(ink(black) * 65535.0 + 0.5);
  return 1;
}

}  // namespace detail

// The profile's bytes; empty when Little CMS cannot make it.
inline std::vector<uint8_t> CmykProfileBytes() {
  std::vector<uint8_t> bytes;
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  detail::LabTransforms t;
  t.toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
  t.fromLab = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
  if (t.toLab && t.fromLab && p) {
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    cmsSetHeaderRenderingIntent(p, INTENT_PERCEPTUAL);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "Kivo Test CMYK");
    cmsWriteTag(p, cmsSigProfileDescriptionTag, text);
    cmsWriteTag(p, cmsSigCopyrightTag, text);
    cmsMLUfree(text);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());

    // A grid sampled from the ink model; the stored table types want curves
    // around each grid: identity ones.
    auto table = [&t](int inputs, int outputs, int gridPoints, cmsSAMPLER16 sampler) {
      cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, inputs, outputs);
      cmsStage* grid = cmsStageAllocCLut16bit(nullptr, gridPoints, inputs, outputs, nullptr);
      cmsStageSampleCLut16bit(grid, sampler, &t, 0);
      cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, inputs, nullptr));
      cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
      cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, outputs, nullptr));
      return pipeline;
    };
    cmsPipeline* aToB = table(4, 3, 9, detail::InksToLab);
    cmsPipeline* bToA = table(3, 4, 17, detail::LabToInks);
    // One table each way serves every intent.
    cmsWriteTag(p, cmsSigAToB0Tag, aToB);
    cmsWriteTag(p, cmsSigBToA0Tag, bToA);
    cmsPipelineFree(aToB);
    cmsPipelineFree(bToA);

    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(p, nullptr, &size) && size > 0) {
      bytes.resize(size);
      if (!cmsSaveProfileToMem(p, bytes.data(), &size)) bytes.clear();
    }
  }
  if (p) cmsCloseProfile(p);
  if (t.toLab) cmsDeleteTransform(t.toLab);
  if (t.fromLab) cmsDeleteTransform(t.fromLab);
  cmsCloseProfile(lab);
  cmsCloseProfile(srgb);
  return bytes;
}

// Writes the profile to `file`; false when it cannot be made or written.
inline bool WriteCmykProfile(const std::filesystem::path& file) {
  const std::vector<uint8_t> bytes = CmykProfileBytes();
  if (bytes.empty()) return false;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

}  // namespace testprofiles
