// The photo colour-correction chain on a 24-megapixel photo (every stage on:
// colour controls, gamma, luminance sharpening, exposure, hue, colour
// matrix) against vips (libvips-tools) doing the nearest equivalent in the
// same run: sharpen (luminance unsharp mask, sigma 1.69), recomb (the 3x3
// saturation, hue and channel matrix), linear (brightness, contrast,
// exposure) and gamma, one command each on vips's own uncompressed format.
// Each vips time has a plain `vips copy` of the same file taken off, so that
// process start-up and file transfer are not counted. The ratio printed is
// our time over vips's (below 1: faster). The chain is also run on 1 and 8
// workers and the two results are compared byte for byte.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/Report.h"
#include "common/VipsReference.h"
#include "host/imageio/ImageFile.h"
#include "host/workers/WorkerPool.h"
#include "imaging/ColorCorrection.h"


namespace {

constexpr int kWidth = 6000, kHeight = 4000;
using F = myCocoaImageColorAdjustInfo;

std::filesystem::path gFolder;
host::GWorldHandle gPhoto;

F Settings() {
  F s = F::Neutral();
  s[F::kSaturation] = 1.2f; s[F::kBrightness] = 0.05f; s[F::kContrast] = 1.1f; s[F::kGamma] = 0.9f;
  s[F::kSharpness] = 0.8f; s[F::kExposure] = 0.3f; s[F::kHue] = 0.2f;
  s[F::kRed] = 1.05f; s[F::kGreen] = 0.95f; s[F::kBlue] = 1.1f;
  return s;
}

host::GWorldHandle MakePhoto() {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, kHeight, kWidth));
  std::mt19937 random(1);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* p = image->scanline(y);
    for (int x = 0; x < kWidth; ++x, p += 4) {
      const double u = double(x) / kWidth, v = double(y) / kHeight;
      const int grain = int(random() % 17) - 8;
      p[0] = 0xFF;
      p[1] = uint8_t(std::clamp(int(128 + 100 * std::sin(6 * u + 2 * v)) + grain, 0, 255));
      p[2] = uint8_t(std::clamp(int(128 + 90 * std::cos(4 * v - 3 * u)) + grain, 0, 255));
      p[3] = uint8_t(std::clamp(int(110 + 80 * std::sin(9 * u * v)) + grain, 0, 255));
    }
  }
  return image;
}

void BM_CorrectionChain24MP(benchmark::State& state) {
  host::WorkerPool pool(unsigned(state.range(0)));
  auto work = host::GWorld::Create(gPhoto->bounds());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work->pixels(), gPhoto->pixels(), gPhoto->byteCount());
    state.ResumeTiming();
    if (!ColorAdjustmentManager().applyColorCorrection2(*work, Settings(), &pool)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(work->pixels());
  }
}
BENCHMARK(BM_CorrectionChain24MP)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

std::string Join(const std::vector<std::string>& words) {
  std::string line = "vips";
  for (const auto& w : words) line += " " + w;
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  const auto log = bench::KeepLogAside("bench_colour");
  gFolder = std::filesystem::temp_directory_path() / ("kivo-bench-colour-" + std::to_string(getpid()));
  std::filesystem::create_directories(gFolder);
  gPhoto = MakePhoto();
  {
    host::WorkerPool one(1), eight(8);
    auto a = host::GWorld::Create(gPhoto->bounds()), b = host::GWorld::Create(gPhoto->bounds());
    std::memcpy(a->pixels(), gPhoto->pixels(), gPhoto->byteCount());
    std::memcpy(b->pixels(), gPhoto->pixels(), gPhoto->byteCount());
    ColorAdjustmentManager().applyColorCorrection2(*a, Settings(), &one);
    ColorAdjustmentManager().applyColorCorrection2(*b, Settings(), &eight);
    std::printf("correction chain on 1 and 8 workers: %s\n",
                std::memcmp(a->pixels(), b->pixels(), a->byteCount()) == 0 ? "identical" : "DIFFERENT");
  }

  benchmark::Initialize(&argc, argv);
  bench::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const std::string png = (gFolder / "photo.png").string(), v = (gFolder / "photo.v").string();
  host::WriteImageFile(*gPhoto, png, host::ImageFormat::kPng);
  const bool converted = bench::RunVips({"copy", png, v}) >= 0;
  {
    std::ofstream m(gFolder / "recomb.mat");
    m << "3 3 1 0\n1.15 -0.08 -0.07\n-0.05 1.12 -0.07\n-0.06 -0.09 1.15\n";
  }
  const std::vector<std::vector<std::string>> steps = {
      {"sharpen", v, (gFolder / "s.v").string(), "--sigma", "1.69"},
      {"recomb", v, (gFolder / "r.v").string(), (gFolder / "recomb.mat").string()},
      {"linear", v, (gFolder / "l.v").string(), "1.35 1.35 1.35", "5 5 5"},
      {"gamma", v, (gFolder / "g.v").string(), "--exponent", "0.9"},
  };
  double vips = converted ? 0 : -1;
  const double copy = converted ? bench::BestOf(3, {"copy", v, (gFolder / "c.v").string()}) : -1;
  for (const auto& step : steps) {
    const double t = converted ? bench::BestOf(3, step) : -1;
    if (t < 0 || copy < 0) {
      vips = -1;
      break;
    }
    vips += std::max(1.0, t - copy);
  }
  std::string reference = "reference: ";
  for (const auto& step : steps) reference += Join(step) + "; ";
  std::vector<bench::Row> rows;
  for (const char* workers : {"8", "1"})
    rows.push_back({std::string("24 MP correction chain, ours on ") + workers + " workers",
                    reporter.Find(std::string("BM_CorrectionChain24MP/") + workers), vips});
  bench::PrintTable("colour correction against vips", "vips", rows,
                    {reference, "(each less `vips copy photo.v c.v`; vips uses every processor)"});
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
  bench::SayWhereTheLogIs(log);
  return 0;
}
