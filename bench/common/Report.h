// How every benchmark program reports, so that `make bench` reads as one:
//   - the program's own log lines (standard error) go to a file named at the
//     end, not between the tables;
//   - the console reporter keeps each benchmark's real time per iteration
//     and prints the machine's context on standard output;
//   - every comparison is one table of our time over the reference tool's,
//     headed "ours / reference (below 1 is better)".
//
// The Google Benchmark library Debian ships is built without NDEBUG, so its
// own context printer warns "Library was built as DEBUG. Timings may be
// affected." on every run. That build only adds checks to the library's
// bookkeeping around each run; the timed loop itself is inlined into these
// programs, which are built as Release. The context is therefore printed
// here, without that warning.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

inline constexpr const char* kRatioHeading = "ours / reference (below 1 is better)";

// Reopens standard error onto "<program>.log" beside the program; returns
// its path (empty when it could not be opened, and standard error stays).
inline std::filesystem::path KeepLogAside(const char* program) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec || folder.empty()) folder = std::filesystem::temp_directory_path();
  const std::filesystem::path log = folder / (std::string(program) + ".log");
  if (!std::freopen(log.c_str(), "w", stderr)) return {};
  return log;
}

// Where the log went, as the program's last line.
inline void SayWhereTheLogIs(const std::filesystem::path& log) {
  if (!log.empty()) std::printf("\n(the program's own log lines: %s)\n", log.c_str());
}

class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  // Real time per iteration in milliseconds, by the benchmark's full name
  // ("BM_Resize/8/real_time").
  std::map<std::string, double> milliseconds;

  // The time of `name` itself or of its first run with arguments
  // ("BM_Encode" finds "BM_Encode/real_time"); -1 when it did not run.
  double Find(const std::string& name) const {
    for (const auto& [full, ms] : milliseconds)
      if (full == name || full.rfind(name + "/", 0) == 0) return ms;
    return -1;
  }

  bool ReportContext(const Context& context) override {
    name_field_width_ = context.name_field_width;
    printed_header_ = false;
    prev_counters_.clear();
    const benchmark::CPUInfo& cpu = context.cpu_info;
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::printf("%s, %d processor(s) at %.0f MHz", date, cpu.num_cpus, cpu.cycles_per_second / 1e6);
    if (!cpu.load_avg.empty()) {
      std::printf(", load average");
      for (double l : cpu.load_avg) std::printf(" %.2f", l);
    }
    std::printf("\n");
    if (cpu.scaling == benchmark::CPUInfo::ENABLED)
      std::printf("(processor frequency scaling is on: real times may be noisy)\n");
    std::fflush(stdout);
    return true;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) milliseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// One row: our time and the reference's, in milliseconds; a reference of 0
// or less was not available and shows as "n/a".
struct Row {
  std::string label;
  double ours = -1;
  double reference = -1;
};

// Prints one comparison table under the common heading. Rows without our
// time (a benchmark that was filtered out) are left out; `notes` follow the
// table, one per line.
inline void PrintTable(const std::string& title, const std::string& reference, const std::vector<Row>& rows,
                       const std::vector<std::string>& notes = {}) {
  std::printf("\n%s: %s\n", title.c_str(), kRatioHeading);
  const std::string referenceColumn = reference + " (ms)";
  std::printf("  %-48s %10s %14s %8s\n", "", "ours (ms)", referenceColumn.c_str(), "ratio");
  for (const Row& row : rows) {
    if (row.ours < 0) continue;
    if (row.reference > 0)
      std::printf("  %-48s %10.1f %14.1f %8.2f\n", row.label.c_str(), row.ours, row.reference,
                  row.ours / row.reference);
    else
      std::printf("  %-48s %10.1f %14s %8s\n", row.label.c_str(), row.ours, "n/a", "-");
  }
  for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
  std::fflush(stdout);
}

}  // namespace bench
