// Temporary folders, the application object, synthetic pages and keyed
// archives for the output tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "common/QtCoreApp.h"
#include "host/qd/GWorld.h"
#include "host/sys/PropertyList.h"
#include "jobwriter/JobWriter.h"

namespace outtest {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "kivo-output-XXXXXX").string();
    path = mkdtemp(t.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path Sub(const std::string& name) const {
    std::filesystem::create_directories(path / name);
    return path / name;
  }
};

// The one application object of the test process (the bus and timers need
// it), made by whichever test asks first.
inline void EnsureApp() { kivotest::EnsureCoreApp("test_output"); }

// A page whose every pixel differs from its neighbours.
inline host::GWorldHandle Page(int32_t w, int32_t h) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = 0x80;
      p[1] = uint8_t(x * 7 + y);
      p[2] = uint8_t(y * 5);
      p[3] = uint8_t(x ^ y);
    }
  return g;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A keyed archive of a flat dictionary of strings, as the stations write it.
inline std::vector<uint8_t> ArchiveOf(const std::vector<std::pair<std::string, std::string>>& entries) {
  return jobwriter::WebDataArchive(entries);
}

}  // namespace outtest
