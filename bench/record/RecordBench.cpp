// What recording one copy of a job costs in "Printed Job Files", the record
// that keeps a job killed at any moment from printing twice, when the job
// has 2,000 copies against when it has 10. Each copy is recorded as the set
// route does it: asked whether an earlier try placed it, recorded as being
// placed, its working file renamed into the output folder, recorded as
// placed; each job ends recorded complete and then forgotten once its file
// has gone. The record lies in a folder of the temporary folder's disk and
// every change is synced, as in the program. A copy should cost the same
// however many came before it: the table gives the time per copy at 2,000
// copies over the time per copy at 10 (at most 1.2 is the target).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/Report.h"
#include "pipeline/PrintedJobs.h"

namespace {

namespace fs = std::filesystem;

fs::path gFolder;
int gJobs = 0;

std::string Key(int copy) { return "set 1 copy " + std::to_string(copy); }

// One job of `copies` copies, recorded from its first copy to its end.
bool RecordOneJob(int copies) {
  const fs::path job = gFolder / "All Files" / ("job-" + std::to_string(++gJobs) + ".trpr");
  std::ofstream(job) << "a job";
  const std::vector<fs::path> photos{gFolder / "IMAGES" / "photo.jpg"};
  const fs::path out = gFolder / "out" / std::to_string(gJobs);
  fs::create_directories(out);
  for (int copy = 1; copy <= copies; ++copy) {
    if (pipeline::PlacedJobOutput(job, Key(copy))) return false;
    const fs::path working = gFolder / ("work-" + std::to_string(copy) + ".jpg");
    const int fd = ::open(working.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    const fs::path target = out / ("Photo copy " + std::to_string(copy) + ".jpg");
    if (!pipeline::RecordJobOutputPlacing(job, photos, Key(copy), working, target)) return false;
    if (::rename(working.c_str(), target.c_str()) != 0) return false;
    if (!pipeline::RecordJobOutputPlaced(job, Key(copy), target)) return false;
  }
  if (!pipeline::RecordJobPrinted(job, photos)) return false;
  fs::remove(job);
  pipeline::ForgetJobFile(job);
  fs::remove_all(out);
  return true;
}

void BM_RecordCopies(benchmark::State& state) {
  const int copies = int(state.range(0));
  for (auto _ : state)
    if (!RecordOneJob(copies)) state.SkipWithError("a copy could not be recorded");
  state.counters["copies"] = copies;
}
BENCHMARK(BM_RecordCopies)->Arg(10)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordCopies)->Arg(2000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const auto log = bench::KeepLogAside("bench_record");
  gFolder = fs::temp_directory_path() / ("kivo-bench-record-" + std::to_string(getpid()));
  fs::create_directories(gFolder / "All Files");
  pipeline::SetPrintedJobsRecordPathForTesting(gFolder / "Printed Job Files");

  benchmark::Initialize(&argc, argv);
  bench::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double ten = reporter.Find("BM_RecordCopies/10"), many = reporter.Find("BM_RecordCopies/2000");
  bench::PrintTable("the record's cost per copy, at 2,000 copies against 10", "10 copies",
                    {{"one copy of a job of 2,000 copies", many > 0 ? many / 2000 : -1, ten > 0 ? ten / 10 : -1}},
                    {"each copy: placed before?, placing, rename, placed, all synced; each job ends complete and "
                     "forgotten (target: at most 1.2)"});
  std::error_code ec;
  fs::remove_all(gFolder, ec);
  bench::SayWhereTheLogIs(log);
  return 0;
}
