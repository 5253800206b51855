// One job through the running program, from the moment its file is renamed
// into the print jobs folder to the moment the set's output file is there:
// a 6 x 4-inch page at 300 dpi holding one 24-megapixel JPEG photo, printed
// by print-to-file set 1. The reference is `vips resize` of the same photo
// to a JPEG of the page's size, started as a process, in the same run.
// Both are the median of seven runs. The program's peak resident size is
// reported against the buffers one such job needs.
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include "common/Report.h"
#include "e2e/E2E.h"
#include "layout/Objects.h"

extern char** environ;

namespace {

constexpr int kRuns = 7;
constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Runs a program; its wall time in seconds, -1 when it fails.
double Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Seconds(start, std::chrono::steady_clock::now());
}

// Waits for a visible file to be renamed into, or closed after writing in,
// the folder `fd` watches; true when one came within `seconds`. The set
// writes its output beside the folder and renames it in, so the event marks
// the moment the file is there, without the delay of polling the folder.
bool WaitForLanding(int fd, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
  alignas(inotify_event) char buffer[4096];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (poll(&p, 1, int(std::max<int64_t>(1, left.count()))) <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && event->name[0] != '.') return true;
      at += ssize_t(sizeof(inotify_event) + event->len);
    }
  }
  return false;
}

long PeakResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace

int main() {
  // The processor writes into its own files in the station's folder; this
  // program's own lines go aside too.
  const auto log = bench::KeepLogAside("bench_job");
  e2e::Station station("bench-job");
  // A photo with detail everywhere, so that the codecs do real work.
  const e2e::fs::path photo = station.base() / "photo.jpg";
  {
    host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, kPhotoHeight, kPhotoWidth));
    for (int y = 0; y < kPhotoHeight; ++y) {
      uint8_t* p = image->scanline(y);
      for (int x = 0; x < kPhotoWidth; ++x, p += 4) {
        p[1] = uint8_t((x * 7 + y * 3) ^ (x >> 3));
        p[2] = uint8_t((y * 5) ^ (x * 11 >> 4));
        p[3] = uint8_t((x + y) * 13 >> 3);
      }
    }
    host::ImageWriteOptions options;
    options.jpegQuality = 90;
    if (!host::WriteImageFile(*image, photo, host::ImageFormat::kJpeg, options).ok()) {
      std::printf("bench_job: cannot write the photo\n");
      return 1;
    }
  }
  if (!station.Start()) {
    std::printf("bench_job: the processor did not start\n%s\n", station.Log().c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long baseline = PeakResidentKiB(station.pid());

  std::vector<double> ours;
  for (int run = 0; run <= kRuns; ++run) {  // run 0 warms the caches and is not counted
    const std::string name = "Bench" + std::to_string(run);
    e2e::fs::copy_file(photo, station.images() / (name + ".jpg"), e2e::fs::copy_options::overwrite_existing);
    jobwriter::TJobDescription job;
    job.printer = 25;
    job.blocks.print2File.setNumber = 1;
    job.pageWidth = 6;
    job.pageHeight = 4;
    job.resolution = 300;
    job.templateName = name;
    job.baseName = name;
    job.objects.push_back(
        jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(name + ".jpg", 0, 0, 6, 4))));
    const e2e::fs::path staged = station.staging() / (name + ".trpr");
    if (!jobwriter::WriteJobFile(job, staged)) return 1;
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, station.SetFolder('A').c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
      std::printf("bench_job: cannot watch the set folder\n");
      return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    station.DropFile(staged, name + ".trpr");
    const bool landed = WaitForLanding(watch, 60);
    const auto end = std::chrono::steady_clock::now();
    close(watch);
    if (!landed) {
      std::printf("bench_job: no output for run %d\n%s\n", run, station.Log().c_str());
      return 1;
    }
    if (run > 0) ours.push_back(Seconds(start, end));
    station.WaitForQueueEmpty(30);
  }
  const long peak = PeakResidentKiB(station.pid());
  station.Stop();

  std::vector<double> vips;
  const std::string out = (station.base() / "vips-page.jpg[Q=90]").string();
  const std::vector<std::string> command{"vips", "resize", photo.string(), out, std::to_string(1800.0 / kPhotoWidth),
                                         "--kernel", "lanczos3"};
  for (int run = 0; run <= kRuns; ++run) {
    const double t = Run(command);
    if (t < 0) {
      vips.clear();
      break;
    }
    if (run > 0) vips.push_back(t);
  }

  std::string shown;
  for (const auto& word : command) shown += (shown.empty() ? "" : " ") + word;
  const double oursMs = Median(ours) * 1000, vipsMs = vips.empty() ? -1 : Median(vips) * 1000;
  bench::PrintTable("whole job, drop to output (median of 7) against vips", "vips",
                    {{"24 MP photo, 6x4 page at 300 dpi, set 1", oursMs, vipsMs}}, {"reference: " + shown});
  const double pageMiB = 1800.0 * 1200 * 4 / (1 << 20), photoMiB = double(kPhotoWidth) * kPhotoHeight * 4 / (1 << 20);
  std::printf("\npeak resident size: %.1f MiB (%.1f MiB at start); budget of three pages and two photos: %.1f MiB\n",
              peak / 1024.0, baseline / 1024.0, 3 * pageMiB + 2 * photoMiB);
  bench::SayWhereTheLogIs(log);
  return 0;
}
