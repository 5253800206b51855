// Keying and compositing of a 12-megapixel green-backing photo at 1 and 8
// workers, timed beside ffmpeg's chromakey filter on the same image: our
// time over ffmpeg's, once against its filter time alone (its run less a run
// with the null filter) and once against its whole process.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "common/Report.h"

extern char** environ;

namespace {

using namespace chromakey;

constexpr int kWidth = 4000, kHeight = 3000;
const pixeli kBacking{8000, 50000, 10000, 65535};

struct Photo {
  std::vector<pixeli> fg, bg, keyed, composite, matte;
};

Photo& SharedPhoto() {
  static Photo p = [] {
    Photo q;
    const size_t n = size_t(kWidth) * kHeight;
    q.fg.resize(n), q.bg.resize(n), q.keyed.resize(n), q.composite.resize(n), q.matte.resize(n);
    uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const size_t i = size_t(y) * kWidth + x;
        const float dx = (x - kWidth * 0.5f) / (kWidth * 0.3f), dy = (y - kHeight * 0.55f) / (kHeight * 0.35f);
        const float a = std::clamp(0.5f - (std::sqrt(dx * dx + dy * dy) - 1.0f) * 150.0f, 0.0f, 1.0f);
        seed = seed * 1664525u + 1013904223u;
        const int noise = int((seed >> 8) % 601) - 300;
        auto mix = [&](float s, int b) { return uint16_t(std::lround(a * s + (1 - a) * float(b + noise))); };
        q.fg[i] = {mix(52000, kBacking.r), mix(30000, kBacking.g), mix(26000 + 8 * y, kBacking.b), 65535};
        q.bg[i] = {uint16_t(x * 16), uint16_t(20000 + y * 10), 40000, 65535};
      }
    return q;
  }();
  return p;
}

fixcoef PrintingBlock() {
  fixcoef c;
  initialize_data(&c);
  KeyerRT m;
  m.set_center_backing(kBacking.r, kBacking.g, kBacking.b, &c);
  c.flag = kFlagNoBGFill | kFlagFloatKernels | kFlagKeyerRT;
  return c;
}

void KeyAndComposite(Photo& p, int workers) {
  fixcoef c = PrintingBlock();
  keycoef_begin(&c);
  doKeyProc(p.fg.data(), p.keyed.data(), p.bg.data(), nullptr, kWidth, kHeight, &c, nullptr, workers);
  doComposite(p.keyed.data(), p.bg.data(), p.composite.data(), p.matte.data(), kWidth, kHeight, workers);
  keycoef_finish(&c);
}

void BM_KeyAndComposite12MP(benchmark::State& state) {
  Photo& p = SharedPhoto();
  for (auto _ : state) {
    KeyAndComposite(p, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(p.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_KeyAndComposite12MP)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

double Seconds(const std::function<void()>& fn, int repeats = 3) {
  std::vector<double> t;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Runs ffmpeg with an argument vector (no shell); false when it cannot run.
bool RunFfmpeg(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void CompareWithFfmpeg() {
  Photo& p = SharedPhoto();
  const std::string raw = "/tmp/kivo_chromakey_bench_" + std::to_string(getpid()) + ".rgb48";
  {
    std::ofstream out(raw, std::ios::binary);
    std::vector<uint8_t> row(size_t(kWidth) * 6);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const pixeli& px = p.fg[size_t(y) * kWidth + x];
        const uint16_t ch[3] = {px.r, px.g, px.b};
        for (int c = 0; c < 3; ++c) {
          row[size_t(x) * 6 + c * 2] = uint8_t(ch[c] & 0xFF);
          row[size_t(x) * 6 + c * 2 + 1] = uint8_t(ch[c] >> 8);
        }
      }
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
    }
  }
  auto ffmpeg = [&](const std::string& filter, int threads) {
    return std::vector<std::string>{"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                                    "-filter_threads", std::to_string(threads), "-f", "rawvideo",
                                    "-pix_fmt", "rgb48le", "-s", std::to_string(kWidth) + "x" + std::to_string(kHeight),
                                    "-i", raw, "-vf", filter, "-f", "null", "-"};
  };
  const std::string key = "chromakey=color=0x1FC327:similarity=0.1:blend=0.05";
  std::vector<bench::Row> rows;
  for (int workers : {1, 8}) {
    bool ok = true;
    const double ff = Seconds([&] { ok &= RunFfmpeg(ffmpeg(key, workers)); });
    const double ffBase = Seconds([&] { ok &= RunFfmpeg(ffmpeg("null", workers)); });
    const double ours = Seconds([&] { KeyAndComposite(p, workers); });
    const std::string on = std::to_string(workers) + (workers == 1 ? " worker" : " workers");
    rows.push_back({"12 MP key + composite, " + on + ", filter only", ours * 1e3,
                    ok ? std::max(ff - ffBase, 1e-6) * 1e3 : -1});
    rows.push_back({"12 MP key + composite, " + on + ", whole run", ours * 1e3, ok ? ff * 1e3 : -1});
  }
  bench::PrintTable("chroma key against ffmpeg", "ffmpeg", rows,
                    {"reference: ffmpeg -f rawvideo -pix_fmt rgb48le -vf " + key + " -f null - (median of 3),",
                     "filter only: less the same run with -vf null"});
  std::remove(raw.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const auto log = bench::KeepLogAside("bench_chromakey");
  benchmark::Initialize(&argc, argv);
  bench::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  CompareWithFfmpeg();
  bench::SayWhereTheLogIs(log);
  return 0;
}
