// Small generated photos and a job context over a temporary images folder.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "layout/LayoutObject.h"

// A w x h photo whose left half is red and right half blue.
inline void WriteHalvesPhoto(const std::filesystem::path& path, int w, int h, host::ImageFormat format) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + x * 4;
      p[0] = 0xFF;
      p[1] = x < w / 2 ? 0xFF : 0;
      p[2] = 0;
      p[3] = x < w / 2 ? 0 : 0xFF;
    }
  host::ImageWriteOptions options;
  ASSERT_TRUE(host::WriteImageFile(*g, path, format, options).ok());
}

// Pixel colour classes, tolerant of JPEG noise.
inline bool IsRed(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + x * 4;
  return p[1] > 200 && p[2] < 60 && p[3] < 60;
}
inline bool IsBlue(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + x * 4;
  return p[1] < 60 && p[2] < 60 && p[3] > 200;
}
inline bool IsWhite(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + x * 4;
  return p[1] > 240 && p[2] > 240 && p[3] > 240;
}

struct FakeJobContext : layout::TJobContext {
  std::filesystem::path images;
  layout::TImageJobValues values;
  int16_t printer = 17;
  std::vector<std::filesystem::path> registered;
  std::vector<std::string> names;
  int16_t PrinterCode() const override { return printer; }
  bool IgnoreOverlaysSwitch() const override { return ignoreOverlays; }
  layout::TImageJobValues ImageJobValues() const override { return values; }
  std::filesystem::path ImagesFolder() const override { return images; }
  void SetCurrentImageName(const std::string& n) override { names.push_back(n); }
  void SetStatusText(const std::string& t) override { statuses.push_back(t); }
  void AddPhotoToDelete(const std::filesystem::path& f) override { registered.push_back(f); }
  void ReportDrawFailure(const std::string& m) override { failures.push_back(m); }
  std::vector<std::string> failures;
  std::filesystem::path graphics;
  std::set<std::string> noted;
  std::vector<FSSpec> nodeFiles;
  std::vector<std::filesystem::path> inserted;
  bool SaveOriginalFile(const std::filesystem::path&) override { return false; }
  std::vector<std::string> statuses;
  bool ignoreOverlays = false;
  std::filesystem::path GraphicsFolder() override { return graphics; }
  bool FirstTimeInJob(const std::string& what) override { return noted.insert(what).second; }
  void ReadNodeJobFile(const FSSpec& f) override { nodeFiles.push_back(f); }
  void InsertFileToDelete(const std::filesystem::path& f) override { inserted.push_back(f); }
};
