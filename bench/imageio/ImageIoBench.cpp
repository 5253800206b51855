// Image-file speed: decoding a 24-megapixel camera JPEG in full (in bands on
// every core, and whole on one thread) and at a quarter and an eighth of its
// size, encoding an 1800 x 1200 page, and the load-time blur. The same JPEG
// and page are then run through libjpeg-turbo's own tjbench (the codec's
// best case on one thread, with no file or metadata handling): our time over
// its time, 1.0 meaning no overhead over the codec.
//
// A scaled decode asks the decoder for the smaller size (its DCT scaling),
// which saves the inverse transform, upsampling and colour conversion of the
// pixels not made; the Huffman decoding of every coefficient in the file
// stays, and it runs on one thread, the data having no entry points. On a
// detailed photo that part is most of the work: the eighth-size row shows
// it, and the second table sets the quarter-size decode against the whole
// decode on one thread.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/Report.h"
#include "host/imageio/Codecs.h"
#include "host/imageio/GaussianBlur.h"
#include "host/imageio/ImageFile.h"

extern char** environ;

namespace {

constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;  // 24 megapixels
constexpr int kPageWidth = 1800, kPageHeight = 1200;
constexpr int kQuality = 90;

std::vector<uint8_t> gPhotoJpeg;
host::GWorldHandle gPage;
std::filesystem::path gFolder;

// Smooth shapes with fine grain, so that the codec sees photo-like entropy.
host::GWorldHandle MakePhotoLike(int width, int height, uint32_t seed) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    uint8_t* p = image->scanline(y);
    for (int x = 0; x < width; ++x, p += 4) {
      const double u = double(x) / width, v = double(y) / height;
      const int grain = int(random() % 17) - 8;
      p[0] = 0xFF;
      p[1] = static_cast<uint8_t>(std::clamp(int(128 + 100 * std::sin(6 * u + 2 * v)) + grain, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(int(128 + 90 * std::cos(4 * v - 3 * u)) + grain, 0, 255));
      p[3] = static_cast<uint8_t>(std::clamp(int(110 + 80 * std::sin(9 * u * v)) + grain, 0, 255));
    }
  }
  return image;
}

void WritePpm(const host::GWorld& image, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << image.width() << " " << image.height() << "\n255\n";
  std::vector<char> row(size_t(image.width()) * 3);
  for (int32_t y = 0; y < image.height(); ++y) {
    const uint8_t* p = image.scanline(y);
    for (int32_t x = 0; x < image.width(); ++x) {
      row[x * 3] = static_cast<char>(p[x * 4 + 1]);
      row[x * 3 + 1] = static_cast<char>(p[x * 4 + 2]);
      row[x * 3 + 2] = static_cast<char>(p[x * 4 + 3]);
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

void DecodeAt(benchmark::State& state, int scaleDenominator) {
  host::ImageReadOptions options;
  options.scaleDenominator = scaleDenominator;
  for (auto _ : state) {
    auto result = host::DecodeImage(gPhotoJpeg, options);
    if (!result.ok()) state.SkipWithError(result.error.c_str());
    benchmark::DoNotOptimize(result.image);
  }
}

void BM_DecodePhotoFull(benchmark::State& state) { DecodeAt(state, 1); }

// The whole decode without the bands, as a quarter-size decode runs.
void BM_DecodePhotoFullOneThread(benchmark::State& state) {
  host::imageio::UseJpegBandsForTesting(false);
  DecodeAt(state, 1);
  host::imageio::UseJpegBandsForTesting(true);
}

// A 96 MB offscreen erased to white, against the cost of touching that much
// fresh memory once (allocate, write every byte, free). The decoder's
// offscreen is not erased at all: its first writer is the decoder.
void BM_CreatePhotoOffscreen(benchmark::State& state) {
  for (auto _ : state) {
    auto image = host::GWorld::Create(CLongRect_AC(0, 0, kPhotoHeight, kPhotoWidth));
    benchmark::DoNotOptimize(image->pixels());
  }
}

void BM_TouchPhotoMemoryOnce(benchmark::State& state) {
  const size_t bytes = size_t(kPhotoWidth) * kPhotoHeight * 4;
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> memory(new uint8_t[bytes]);
    std::memset(memory.get(), 0xFF, bytes);
    benchmark::DoNotOptimize(memory.get());
  }
}

void BM_DecodePhotoQuarter(benchmark::State& state) { DecodeAt(state, 4); }
void BM_DecodePhotoEighth(benchmark::State& state) { DecodeAt(state, 8); }

void BM_EncodePage(benchmark::State& state) {
  host::ImageWriteOptions options;
  options.jpegQuality = kQuality;
  options.dpi = 300;
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    auto status = host::EncodeImage(*gPage, host::ImageFormat::kJpeg, options, &bytes);
    if (!status.ok()) state.SkipWithError(status.error.c_str());
    benchmark::DoNotOptimize(bytes.data());
  }
}

void BM_BlurPage(benchmark::State& state) {
  auto page = host::GWorld::Create(gPage->bounds());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(gPage->pixels(), gPage->pixels() + gPage->byteCount(), page->pixels());
    state.ResumeTiming();
    host::GaussianBlur(*page, 2.0, static_cast<int>(state.range(0)));
  }
}

BENCHMARK(BM_DecodePhotoFull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePhotoFullOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CreatePhotoOffscreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TouchPhotoMemoryOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePhotoQuarter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePhotoEighth)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodePage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurPage)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs tjbench with `args` and returns the Mpixels/sec figure in column
// `fromEnd` (counted from the end) of its result line; 0 when it fails.
double RunTjbench(const std::vector<std::string>& args, int fromEnd) {
  const auto outPath = gFolder / "tjbench.txt";
  std::vector<char*> argv;
  std::vector<std::string> all = {"tjbench"};
  all.insert(all.end(), args.begin(), args.end());
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "tjbench", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return 0;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  std::ifstream in(outPath);
  std::string line, last;
  while (std::getline(in, line)) {
    if (line.find("XRGB") == 0) last = line;
  }
  std::istringstream words(last);
  std::vector<std::string> tokens;
  for (std::string w; words >> w;) tokens.push_back(w);
  if (int(tokens.size()) < fromEnd) return 0;
  return std::atof(tokens[tokens.size() - fromEnd].c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const auto log = bench::KeepLogAside("bench_imageio");
  gFolder = std::filesystem::temp_directory_path() / ("kivo-bench-imageio-" + std::to_string(getpid()));
  std::filesystem::create_directories(gFolder);
  {
    auto photo = MakePhotoLike(kPhotoWidth, kPhotoHeight, 1);
    host::ImageWriteOptions options;
    options.jpegQuality = kQuality;
    options.dpi = 300;
    host::EncodeImage(*photo, host::ImageFormat::kJpeg, options, &gPhotoJpeg);
    std::ofstream(gFolder / "photo.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(gPhotoJpeg.data()), static_cast<std::streamsize>(gPhotoJpeg.size()));
  }
  gPage = MakePhotoLike(kPageWidth, kPageHeight, 2);
  WritePpm(*gPage, gFolder / "page.ppm");

  benchmark::Initialize(&argc, argv);
  bench::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // tjbench reports Mpixels/sec of the full-size image, also when scaling.
  const std::string photo = (gFolder / "photo.jpg").string();
  const std::string page = (gFolder / "page.ppm").string();
  const std::vector<std::string> common = {"-benchtime", "2", "-warmup", "0.5", "-nowrite", "-quiet", "-xrgb"};
  auto with = [&](std::vector<std::string> first) {
    first.insert(first.end(), common.begin(), common.end());
    return first;
  };
  const double wholeMpps = RunTjbench(with({photo}), 1);
  struct Reference {
    const char* label;
    const char* ours;
    double referenceMpps;
    double pixels;
  } references[] = {
      {"decode the 24 MP photo (in bands, every core)", "BM_DecodePhotoFull", wholeMpps, double(kPhotoWidth) * kPhotoHeight},
      {"decode it whole on one thread", "BM_DecodePhotoFullOneThread", wholeMpps, double(kPhotoWidth) * kPhotoHeight},
      {"decode it at a quarter of its size", "BM_DecodePhotoQuarter", RunTjbench(with({photo, "-scale", "1/4"}), 1),
       double(kPhotoWidth) * kPhotoHeight},
      {"decode it at an eighth (the Huffman decoding)", "BM_DecodePhotoEighth",
       RunTjbench(with({photo, "-scale", "1/8"}), 1), double(kPhotoWidth) * kPhotoHeight},
      {"encode the 1800x1200 page", "BM_EncodePage",
       RunTjbench(with({page, std::to_string(kQuality), "-subsamp", "420", "-componly"}), 3),
       double(kPageWidth) * kPageHeight},
  };
  std::vector<bench::Row> rows;
  for (const Reference& r : references)
    rows.push_back({r.label, reporter.Find(r.ours), r.referenceMpps > 0 ? r.pixels / (r.referenceMpps * 1e6) * 1e3 : -1});
  bench::PrintTable(
      "image files against tjbench", "tjbench", rows,
      {"reference: tjbench " + photo + " -benchtime 2 -warmup 0.5 -nowrite -quiet -xrgb [-scale 1/4 | 1/8]",
       "reference: tjbench " + page + " " + std::to_string(kQuality) +
           " -subsamp 420 -componly -benchtime 2 -warmup 0.5 -nowrite -quiet -xrgb"});
  bench::PrintTable("a scaled decode against the whole one on one thread", "whole",
                    {{"decode it at a quarter of its size", reporter.Find("BM_DecodePhotoQuarter"),
                      reporter.Find("BM_DecodePhotoFullOneThread")},
                     {"decode it at an eighth of its size", reporter.Find("BM_DecodePhotoEighth"),
                      reporter.Find("BM_DecodePhotoFullOneThread")}},
                    {"reference: the whole decode on one thread; what stays is the Huffman decoding of every "
                     "coefficient, which no scale saves"});
  bench::PrintTable("a white 24 MP offscreen against plain memory", "memset",
                    {{"make a white 24 MP offscreen", reporter.Find("BM_CreatePhotoOffscreen"),
                      reporter.Find("BM_TouchPhotoMemoryOnce")}},
                    {"reference: new uint8_t[96 MB] and one memset of it"});
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
  bench::SayWhereTheLogIs(log);
  return 0;
}
