// Whole jobs through the running program, from the moment a job file is
// renamed into the print jobs folder to the moment the set's output file is
// there: a 6 x 4-inch page at 300 dpi holding one 24-megapixel JPEG photo,
// printed by print-to-file set 1. The reference is `vips resize` of the same
// photo to a JPEG of the page's size, started as a process, in the same run.
//
// Three kinds of photo: smooth (4:4:4, quality 92), camera-like (4:2:0,
// quality 92) and fine detail (4:2:0, quality 90). The runs, as a station
// meets them:
//   spaced       jobs dropped a second apart, 7 of each kind in turn; each
//                job's time over vips's median for its photo, then the
//                median, 90th percentile and worst of those ratios;
//   back to back 7 fine-detail jobs, each dropped as the last one lands;
//   burst        30 fine-detail jobs dropped at once, until the last lands,
//                against 30 vips runs one after another;
//   idle         processor time and wake-ups a second over ten seconds with
//                nothing to do, against the limits set for them.
// The program's peak resident size over the spaced run is reported against
// the buffers one such job needs. Arguments name the runs to make (all when
// none is named).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "common/Report.h"
#include "e2e/E2E.h"
#include "layout/Objects.h"

extern char** environ;

namespace {

constexpr int kRuns = 7;
constexpr int kBurst = 30;
constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;
constexpr double kSpacing = 1.0;  // seconds from one drop to the next
using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const size_t at = size_t(std::ceil(p * double(v.size()))) - (p > 0 ? 1 : 0);
  return v[std::min(at, v.size() - 1)];
}
double Median(const std::vector<double>& v) { return Percentile(v, 0.5); }

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Runs a program with its output thrown away; its wall time in seconds, -1
// when it fails.
double Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Seconds(start, Clock::now());
}

// Watches a folder for visible files renamed into it or closed after
// writing. The set writes its output beside the folder and renames it in,
// so the event marks the moment the file is there, without the delay of
// polling the folder.
class Landing {
 public:
  explicit Landing(const e2e::fs::path& folder) : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Landing() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // True once `count` different visible files have landed since the watch
  // began, false when `seconds` ran out first.
  bool WaitFor(size_t count, double seconds) {
    const auto end = Clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
    alignas(inotify_event) char buffer[8192];
    while (names_.size() < count && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (poll(&p, 1, int(std::max<int64_t>(1, left.count()))) <= 0) continue;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && event->name[0] != '.') names_.insert(event->name);
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
    return names_.size() >= count;
  }

 private:
  int fd_;
  std::set<std::string> names_;
};

// /proc/<pid>/status field in KiB (VmHWM, VmRSS).
long StatusKiB(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

// Processor time in nanoseconds and context switches (each a wake-up of a
// sleeping or preempted thread) summed over the program's threads.
struct Activity {
  double cpuNs = 0;
  long switches = 0;
};
Activity ActivityOf(pid_t pid) {
  Activity a;
  const e2e::fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  for (const auto& task : e2e::fs::directory_iterator(tasks, ec)) {
    std::ifstream sched(task.path() / "schedstat");
    double ns = 0;
    if (sched >> ns) a.cpuNs += ns;
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) a.switches += std::atol(line.c_str() + 24);
      else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) a.switches += std::atol(line.c_str() + 27);
    }
  }
  return a;
}

// ---- the photos

struct Kind {
  const char* name;
  int quality;
  int subsampling;  // TJSAMP_444 or TJSAMP_420
  e2e::fs::path file;
  std::vector<double> vips;  // seconds, one per reference run
};

uint8_t Clamp(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

// Fills the photo for a kind: soft gradients, the same with sensor grain
// and fine texture, or detail at every pixel.
void Paint(host::GWorld& image, int kind) {
  std::mt19937 random(7);
  for (int y = 0; y < kPhotoHeight; ++y) {
    uint8_t* p = image.scanline(y);
    const double v = double(y) / kPhotoHeight;
    for (int x = 0; x < kPhotoWidth; ++x, p += 4) {
      const double u = double(x) / kPhotoWidth;
      p[0] = 0xFF;
      if (kind == 2) {
        p[1] = uint8_t((x * 7 + y * 3) ^ (x >> 3));
        p[2] = uint8_t((y * 5) ^ (x * 11 >> 4));
        p[3] = uint8_t((x + y) * 13 >> 3);
        continue;
      }
      double r = 128 + 100 * std::sin(5 * u + 2 * v), g = 128 + 90 * std::cos(4 * v - 3 * u),
             b = 110 + 80 * std::sin(7 * u * v + 1);
      if (kind == 1) {
        const double grain = double(int(random() % 13) - 6) + 10 * std::sin(x * 0.21) * std::cos(y * 0.17);
        r += grain;
        g += grain;
        b += grain;
      }
      p[1] = Clamp(r);
      p[2] = Clamp(g);
      p[3] = Clamp(b);
    }
  }
}

bool WriteJpeg(const host::GWorld& image, const Kind& kind) {
  tjhandle tj = tjInitCompress();
  if (!tj) return false;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(tj, image.pixels(), image.width(), int(image.rowBytes()), image.height(), TJPF_ARGB,
                             &jpeg, &size, kind.subsampling, kind.quality, 0);
  bool ok = rc == 0;
  if (ok) {
    std::ofstream out(kind.file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(jpeg), std::streamsize(size));
    ok = bool(out);
  }
  tjFree(jpeg);
  tjDestroy(tj);
  return ok;
}

std::vector<std::string> VipsCommand(const Kind& kind, const e2e::fs::path& folder) {
  return {"vips", "resize", kind.file.string(), (folder / "vips-page.jpg[Q=90]").string(),
          std::to_string(1800.0 / kPhotoWidth), "--kernel", "lanczos3"};
}

// ---- the jobs

class Bench {
 public:
  Bench() : station_("bench-job") {}
  e2e::Station& station() { return station_; }

  // Copies the photo in and writes the job beside the spool folder; the
  // job file to drop.
  e2e::fs::path Stage(const Kind& kind) {
    const std::string name = "Bench" + std::to_string(serial_++);
    e2e::fs::copy_file(kind.file, station_.images() / (name + ".jpg"), e2e::fs::copy_options::overwrite_existing);
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
    const e2e::fs::path staged = station_.staging() / (name + ".trpr");
    return jobwriter::WriteJobFile(job, staged) ? staged : e2e::fs::path();
  }

  // One job from drop to output; seconds, -1 when no output came.
  double OneJob(const Kind& kind) { return DropAndTime(kind, 1, 60); }

  // `count` jobs dropped at once; seconds until the last output, -1 when
  // one did not come.
  double Burst(const Kind& kind, int count) { return DropAndTime(kind, count, 120); }

 private:
  // Stages `count` jobs of `kind`, drops them at once and waits up to
  // `seconds` for all their outputs; seconds from the drop to the last
  // output, -1 when one did not come. The queue is left empty.
  double DropAndTime(const Kind& kind, int count, double seconds) {
    std::vector<e2e::fs::path> staged;
    for (int i = 0; i < count; ++i) staged.push_back(Stage(kind));
    Landing landing(station_.SetFolder('A'));
    if (std::find(staged.begin(), staged.end(), e2e::fs::path()) != staged.end() || !landing.ok()) return -1;
    const auto start = Clock::now();
    for (const auto& file : staged) station_.DropFile(file, file.filename().string());
    if (!landing.WaitFor(size_t(count), seconds)) return -1;
    const double t = Seconds(start, Clock::now());
    station_.WaitForQueueEmpty(30);
    return t;
  }

  e2e::Station station_;
  int serial_ = 0;
};

void Fail(const char* what, e2e::Station& station) {
  std::printf("bench_job: %s\n%s\n", what, station.Log().c_str());
}

std::string Shown(const std::vector<std::string>& command) {
  std::string shown;
  for (const auto& word : command) shown += (shown.empty() ? "" : " ") + word;
  return shown;
}


}  // namespace

int main(int argc, char** argv) {
  // The processor writes into its own files in the station's folder; this
  // program's own lines go aside too.
  const auto log = bench::KeepLogAside("bench_job");
  std::set<std::string> wanted(argv + 1, argv + argc);
  auto want = [&](const char* run) { return wanted.empty() || wanted.count(run) > 0; };

  Bench bench;
  e2e::Station& station = bench.station();
  std::vector<Kind> kinds = {{"smooth 4:4:4 q92", 92, TJSAMP_444, station.base() / "smooth.jpg", {}},
                             {"camera-like 4:2:0 q92", 92, TJSAMP_420, station.base() / "camera.jpg", {}},
                             {"fine detail 4:2:0 q90", 90, TJSAMP_420, station.base() / "detail.jpg", {}}};
  Kind& detail = kinds[2];
  {
    host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, kPhotoHeight, kPhotoWidth));
    for (size_t k = 0; k < kinds.size(); ++k) {
      Paint(*image, int(k));
      if (!image || !WriteJpeg(*image, kinds[k])) {
        std::printf("bench_job: cannot write the photo %s\n", kinds[k].name);
        return 1;
      }
    }
  }
  if (!station.Start()) {
    Fail("the processor did not start", station);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long baseline = StatusKiB(station.pid(), "VmRSS:");
  if (bench.OneJob(detail) < 0) {  // warms the caches, not counted
    Fail("no output for the first job", station);
    return 1;
  }

  // Spaced: the kinds in turn, one drop a second.
  std::vector<std::vector<double>> spaced(kinds.size());
  long peak = -1;
  if (want("spaced")) {
    std::ofstream("/proc/" + std::to_string(station.pid()) + "/clear_refs") << "5";  // peak from here
    for (int run = 0; run < kRuns; ++run) {
      for (size_t k = 0; k < kinds.size(); ++k) {
        const auto start = Clock::now();
        const double t = bench.OneJob(kinds[k]);
        if (t < 0) {
          Fail("no output for a spaced job", station);
          return 1;
        }
        spaced[k].push_back(t);
        std::this_thread::sleep_until(start + std::chrono::milliseconds(int64_t(kSpacing * 1000)));
      }
    }
    peak = StatusKiB(station.pid(), "VmHWM:");
  }

  std::vector<double> backToBack;
  if (want("back")) {
    for (int run = 0; run < kRuns; ++run) {
      const double t = bench.OneJob(detail);
      if (t < 0) {
        Fail("no output for a back-to-back job", station);
        return 1;
      }
      backToBack.push_back(t);
    }
  }

  double burst = -1;
  if (want("burst")) {
    burst = bench.Burst(detail, kBurst);
    if (burst < 0) {
      Fail("a job of the burst gave no output", station);
      return 1;
    }
  }

  Activity idleFrom, idleTo;
  constexpr double kIdleSeconds = 10;
  if (want("idle")) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    idleFrom = ActivityOf(station.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(kIdleSeconds * 1000)));
    idleTo = ActivityOf(station.pid());
  }
  station.Stop();

  // The reference, after the program has gone: each photo's resize, then
  // the burst's thirty runs.
  bool vipsOk = true;
  for (Kind& kind : kinds) {
    if (!want("spaced") && !want("back") && &kind != &detail) continue;
    for (int run = 0; run <= kRuns && vipsOk; ++run) {
      const double t = Run(VipsCommand(kind, station.base()));
      vipsOk = t >= 0;
      if (run > 0) kind.vips.push_back(t);  // run 0 warms the caches
    }
  }
  double vipsBurst = vipsOk ? 0 : -1;
  if (want("burst") && vipsOk) {
    for (int run = 0; run < kBurst && vipsBurst >= 0; ++run) {
      const double t = Run(VipsCommand(detail, station.base()));
      vipsBurst = t < 0 ? -1 : vipsBurst + t;
    }
  }
  auto vipsMs = [&](const Kind& kind) { return vipsOk ? Median(kind.vips) * 1000 : -1.0; };

  std::vector<bench::Row> rows;
  std::vector<std::string> notes;
  if (want("spaced")) {
    std::vector<double> ratios;
    for (size_t k = 0; k < kinds.size(); ++k) {
      const std::string label = std::string("spaced 1 s, ") + kinds[k].name;
      rows.push_back({label + ", median", Median(spaced[k]) * 1000, vipsMs(kinds[k])});
      rows.push_back({label + ", 90th pct", Percentile(spaced[k], 0.9) * 1000, vipsMs(kinds[k])});
      for (double t : spaced[k])
        if (vipsMs(kinds[k]) > 0) ratios.push_back(t * 1000 / vipsMs(kinds[k]));
    }
    if (!ratios.empty()) {
      char line[160];
      std::snprintf(line, sizeof line, "spaced, each job over vips for its photo: median %.2f, 90th pct %.2f, worst %.2f",
                    Median(ratios), Percentile(ratios, 0.9), Percentile(ratios, 1.0));
      notes.push_back(line);
    }
  }
  if (want("back"))
    rows.push_back({std::string("back to back, ") + detail.name + ", median", Median(backToBack) * 1000,
                    vipsMs(detail)});
  if (want("burst"))
    rows.push_back({"30 at once, " + std::string(detail.name) + ", all", burst * 1000,
                    vipsBurst > 0 ? vipsBurst * 1000 : -1});
  Kind shown = detail;
  shown.file = "<photo>.jpg";
  notes.push_back("reference: " + Shown(VipsCommand(shown, "<folder>")) +
                  " (median of 7 per photo; 30 in a row for the burst)");
  if (!rows.empty()) bench::PrintTable("whole job, drop to output, against vips", "vips", rows, notes);
  if (want("idle")) {
    const double cpu = (idleTo.cpuNs - idleFrom.cpuNs) / (kIdleSeconds * 1e9) * 100;
    const double wakes = double(idleTo.switches - idleFrom.switches) / kIdleSeconds;
    std::printf("\nidle, nothing to do, over 10 s: ours / limit (below 1 is better)\n");
    std::printf("  %-48s %10s %14s %8s\n", "", "ours", "limit", "ratio");
    std::printf("  %-48s %10.3f %14.3f %8.2f\n", "processor time (% of a core)", cpu, 0.2, cpu / 0.2);
    std::printf("  %-48s %10.1f %14.1f %8.2f\n", "wake-ups a second", wakes, 10.0, wakes / 10.0);
  }
  if (peak >= 0) {
    const double pageMiB = 1800.0 * 1200 * 4 / (1 << 20),
                 photoMiB = double(kPhotoWidth) * kPhotoHeight * 4 / (1 << 20);
    std::printf("\npeak resident size of the spaced run: %.1f MiB, %.1f MiB above the %.1f MiB at start; budget of "
                "three pages and two photos: %.1f MiB\n",
                peak / 1024.0, (peak - baseline) / 1024.0, baseline / 1024.0, 3 * pageMiB + 2 * photoMiB);
  }
  bench::SayWhereTheLogIs(log);
  return 0;
}
