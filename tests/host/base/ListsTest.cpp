#include "host/base/Lists.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Job {
  unsigned created;
  std::string name;
};

class JobList : public CSortedList_AC<std::unique_ptr<Job>> {
 public:
  int Compare(const std::unique_ptr<Job>& a, const std::unique_ptr<Job>& b) const override {
    if (a->created != b->created) return a->created < b->created ? -1 : 1;
    return 0;
  }
};

}  // namespace

TEST(Lists, SortedListKeepsOrderAndCountsFromOne) {
  JobList list;
  EXPECT_EQ(list.Insert(std::make_unique<Job>(Job{20, "b"})), 1u);
  EXPECT_EQ(list.Insert(std::make_unique<Job>(Job{10, "a"})), 1u);
  EXPECT_EQ(list.Insert(std::make_unique<Job>(Job{20, "c"})), 3u);
  ASSERT_EQ(list.GetSize(), 3u);
  EXPECT_EQ((*list.At(1))->name, "a");
  EXPECT_EQ((*list.At(2))->name, "b");
  EXPECT_EQ((*list.At(3))->name, "c");
  EXPECT_EQ(list.At(0), nullptr);
  EXPECT_EQ(list.At(4), nullptr);
  EXPECT_TRUE(list.DeleteAt(2));
  EXPECT_FALSE(list.DeleteAt(3));
  EXPECT_EQ((*list.At(2))->name, "c");
  list.DeleteAll();
  EXPECT_TRUE(list.IsEmpty());
}
