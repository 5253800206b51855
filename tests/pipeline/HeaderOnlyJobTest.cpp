// A job file that is only its header, claiming the most objects each list
// may hold, with no record after the counts: refused when the first record
// is missing, having set nothing aside for the records it claimed.
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeServices.h"
#include "common/PeakMemory.h"
#include "jobwriter/JobWriter.h"
#include "pipeline/BGPrintView.h"

namespace {

TEST(HeaderOnlyJob, CountsClaimingTheMostObjectsCostNothingWithoutTheirRecords) {
  jobwriter::TJobDescription job;
  job.hasSubJob = true;
  job.subJobCount = 32767;
  job.objectCount = 32767;
  const std::vector<uint8_t> bytes = jobwriter::WriteJobFile(job);
  // Cut right after the main list's count, the second 32,767 in the file.
  const uint8_t count[4] = {0, 0, 0x7F, 0xFF};
  auto at = std::search(bytes.begin(), bytes.end(), count, count + 4);
  ASSERT_NE(at, bytes.end());
  at = std::search(at + 4, bytes.end(), count, count + 4);
  ASSERT_NE(at, bytes.end());
  const std::vector<uint8_t> header(bytes.begin(), at + 4);

  for (const auto* file : {&header, &bytes}) {
    FakeServices services;
    pipeline::TBGPrintView view(services);
    int16_t result = 0;
    const long rise = testing_support::PeakRiseMiB([&] { result = view.ReadObjectsFromBytes(*file); });
    EXPECT_EQ(result, pipeline::kResultReadFailure) << file->size();
    EXPECT_TRUE(view.objectList.empty());
    EXPECT_GE(rise, 0);
    EXPECT_LT(rise, 16) << file->size();
  }
}

}  // namespace
