// A set folder on another file system than the program's private folder,
// watched by a consumer that takes every file it sees the moment it appears,
// hidden ones too (a sync client, a `find` loop): no name appears there
// before its file is whole and final, so the consumer takes whole prints
// only, every job is delivered and counted once, and none is reported
// failed, with and without kills.
#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "e2e/E2E.h"
#include "e2e/Tmpfs.h"

namespace {

namespace fs = e2e::fs;

// Takes every regular file below `folder` (as the test reaches it), hidden
// ones included, into `taken`: read whole, kept under a serial name, removed.
class Consumer {
 public:
  Consumer(fs::path folder, fs::path taken) : folder_(std::move(folder)), taken_(std::move(taken)) {
    fs::create_directories(taken_);
    thread_ = std::thread([this] { Run(); });
  }
  ~Consumer() {
    stop_ = true;
    thread_.join();
  }
  // The names taken, in order.
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }
  size_t Count() { return Names().size(); }

 private:
  void Run() {
    int serial = 0;
    while (!stop_) {
      std::error_code ec;
      for (fs::recursive_directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const fs::path p = it->path();
        const std::string bytes = e2e::ReadAll(p);
        std::error_code rm;
        if (!fs::remove(p, rm)) continue;  // gone meanwhile: not taken by us
        const std::string name = p.filename().string();
        e2e::WriteAll(taken_ / (std::to_string(++serial) + "#" + name), bytes);
        std::lock_guard<std::mutex> lock(mutex_);
        names_.push_back(name);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  fs::path folder_, taken_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> names_;
  std::thread thread_;
};

jobwriter::TJobDescription TwoCopies(const std::string& name) {
  jobwriter::TJobDescription job = e2e::SetOneJob(name + ".jpg", name);
  job.printQuantity = 2;
  return job;
}

TEST(HotFolder, AConsumerTakingEveryFileOfATmpfsSetFolderGetsEachPrintOnceAndWhole) {
  e2e::Station station("hotfolder");
  fs::create_directories(station.SetFolder('A'));
  e2e::TmpfsNamespace tmpfs(station.SetFolder('A'));
  if (!tmpfs.ok()) GTEST_SKIP() << "no mount namespace can be made here (not root?)";
  station.SetLauncher(tmpfs.Enter());
  Consumer consumer(tmpfs.At(station.SetFolder('A')), station.base() / "taken");
  ASSERT_TRUE(station.Start()) << station.Log();

  std::vector<std::string> names;
  auto drop = [&](int i) {
    const std::string name = std::string("H") + char('0' + i / 10) + char('0' + i % 10);
    names.push_back(name);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {uint8_t(11 * i), 60, 180}));
    ASSERT_TRUE(station.Drop(TwoCopies(name), name + ".trpr"));
  };
  // Without kills.
  for (int i = 0; i < 8; ++i) drop(i);
  ASSERT_TRUE(station.WaitForQueueEmpty(120)) << station.Log();
  // With kills, each one right after the consumer took a print.
  for (int i = 8; i < 20; ++i) drop(i);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  int kills = 0;
  while (kills < 6 && !station.QueueEmpty()) {
    const size_t before = consumer.Count();
    e2e::WaitUntil([&] { return consumer.Count() > before; }, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 20)(random)));
    ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);
    ++kills;
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  EXPECT_GE(kills, 3);
  ASSERT_TRUE(station.WaitForQueueEmpty(120)) << station.Log();
  for (const std::string& n : names) EXPECT_TRUE(station.WaitUntilGone(station.images() / (n + ".jpg"), 30)) << n;
  EXPECT_EQ(station.Stop(), 0);

  // Only final names were ever seen, each print once, and whole.
  std::map<std::string, int> perJob;
  for (const std::string& taken : consumer.Names()) {
    EXPECT_NE(taken[0], '.') << "a name that is not an output appeared: " << taken;
    ++perJob[taken.substr(0, 3)];
  }
  for (const std::string& n : names) EXPECT_EQ(perJob[n], 2) << n << " after " << kills << " kills";
  for (const fs::path& file : e2e::VisibleFiles(station.base() / "taken")) {
    const std::string bytes = e2e::ReadAll(file);
    ASSERT_GT(bytes.size(), 4u) << file;
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << file;
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9") << file;
  }
  // None failed, and every delivered print is counted.
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4), int32_t(2 * names.size()));
  EXPECT_EQ(station.Log().find("could not be put in place"), std::string::npos);
  EXPECT_EQ(station.Log().find("An error occured while trying to save the file!"), std::string::npos);
}

}  // namespace
