// The print record holds the page's width and height as signed 16-bit
// numbers: a page wider or taller than 32,767 pixels fails the hand-off with
// 107 before anything reaches the print-centre folder.
#include <gtest/gtest.h>

#include "FakeServices.h"
#include "common/TempDir.h"
#include "pipeline/PrinterHandOff.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

size_t FilesIn(const fs::path& folder) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

}  // namespace

TEST(HandOffLimits, APageBeyondTheRecordsRangeFailsBeforeWriting) {
  TempDir dir;
  FakeServices services;
  fs::create_directories(fs::path(dir / "center") / "Jobs To Be Printed");
  services.printCenterFolder = fs::path(dir / "center") / "Jobs To Be Printed";
  TSpoolerPrintView view(services);
  view.printer = 1;  // a printer that takes the page at its own size
  view.resolution = 100;

  for (bool pair : {false, true}) {
    services.useNewHandOff = pair;
    for (auto [w, h] : {std::pair{32768, 2}, std::pair{3, 40000}}) {
      auto page = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
      ASSERT_TRUE(page);
      EXPECT_EQ(ProcessOffscreenAndWriteToFile(view, std::move(page), std::nullopt), kResultPrinterFile)
          << w << " x " << h << (pair ? " (pair)" : "");
      EXPECT_EQ(FilesIn(dir.path()), 0u);
    }
  }

  // The largest page the record holds is handed off whole.
  services.useNewHandOff = false;
  auto widest = host::GWorld::Create(CLongRect_AC(0, 0, 2, 32767));
  ASSERT_EQ(ProcessOffscreenAndWriteToFile(view, std::move(widest), std::nullopt), kResultOK);
  ASSERT_EQ(FilesIn(*services.printCenterFolder), 1u);
  const fs::path written = fs::directory_iterator(*services.printCenterFolder)->path();
  std::ifstream in(written, std::ios::binary);
  uint8_t head[8] = {};
  in.read(reinterpret_cast<char*>(head), 8);
  EXPECT_EQ((head[6] << 8) | head[7], 32767);  // width, after the length word and magic
}
