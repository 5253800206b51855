// The jobs a printer made for a job's page, kept in the record of printed
// jobs so that a try stopped after the printer made one asks for it again.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "output/SystemPrint.h"
#include "pipeline/PrintedJobs.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

// A job offered to the printer keeps, across the next start, each job the
// printer made for it, in the order they were made; the state of the record
// says the job is to print again with them, not from scratch. A job offered
// and never made at the printer starts afresh.
TEST(PrinterJobRecord, TheJobsAPrinterMadeStayWithTheJobForTheNextTry) {
  TempDir temp;
  ASSERT_TRUE(temp.ok());
  const fs::path dir = temp.path();
  SetPrintedJobsRecordPathForTesting(dir / "Printed Job Files");
  const fs::path job = dir / "job.trpr";
  const fs::path other = dir / "other.trpr";
  WriteText(job, "job");
  WriteText(other, "other");
  const std::vector<fs::path> photos{dir / "a.jpg"};

  // Both are offered to the printer (a mark that is never made)...
  ASSERT_TRUE(RecordJobOutputPlacing(job, photos, dir / "offered to the printer"));
  ASSERT_TRUE(RecordJobOutputPlacing(other, photos, dir / "offered to the printer"));
  // ...and the printer made two jobs for the first, one after the other.
  const host::CreatedPrintJob first{41, "KivoQueue", "ipp://localhost:631/printers/KivoQueue", 1796897787};
  const host::CreatedPrintJob second{42, "ipp://10.0.0.9/ipp/print", "ipp://10.0.0.9/ipp/print"};
  ASSERT_TRUE(RecordJobMark(job, {}, output::PrinterJobMark(first)));
  ASSERT_TRUE(RecordJobMark(job, {}, output::PrinterJobMark(second)));

  const TPrintedJob seen = LookUpPrintedJob(job);
  EXPECT_EQ(seen.state, TPrintedState::kPartlyPlaced);
  EXPECT_EQ(seen.photos, photos);
  EXPECT_EQ(LookUpPrintedJob(other).state, TPrintedState::kOutputNotPlaced);

  const std::vector<std::string> marks = JobMarks(job);
  ASSERT_EQ(marks.size(), 2u);
  const auto read1 = output::PrinterJobOfMark(marks[0]);
  const auto read2 = output::PrinterJobOfMark(marks[1]);
  ASSERT_TRUE(read1 && read2);
  EXPECT_EQ(read1->id, 41);
  EXPECT_EQ(read1->destination, "KivoQueue");
  EXPECT_EQ(read1->printerURI, "ipp://localhost:631/printers/KivoQueue");
  EXPECT_EQ(read1->notBefore, 1796897787);
  EXPECT_EQ(read2->id, 42);
  EXPECT_EQ(read2->notBefore, 0);
  EXPECT_EQ(read2->destination, second.destination);
  EXPECT_TRUE(JobMarks(other).empty());

  // A failed job forgets them: moved back by the operator it prints anew.
  ForgetJobFile(job);
  EXPECT_TRUE(JobMarks(job).empty());
  EXPECT_EQ(LookUpPrintedJob(job).state, TPrintedState::kNotRecorded);
  SetPrintedJobsRecordPathForTesting({});
}

// Marks of other kinds, and damaged ones, name no printer job.
TEST(PrinterJobRecord, OnlyWholePrinterJobMarksNameAJob) {
  for (const char* mark : {"web notified", "counted", "printer job", "printer job\t0\tq\tipp://h/p",
                           "printer job\t-3\tq\tipp://h/p", "printer job\t12x\tq\tipp://h/p",
                           "printer job\t12\t\tipp://h/p", "printer job\t12\tq\t", "printer job\t12\tq",
                           "printer job\t12\tq\tipp://h/p\textra", "printer job\t99999999999\tq\tipp://h/p"}) {
    EXPECT_FALSE(output::PrinterJobOfMark(mark)) << mark;
  }
}

}  // namespace
