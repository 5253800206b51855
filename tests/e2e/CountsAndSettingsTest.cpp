// What the running program does with count files and settings it did not
// write itself, or cannot write: count files of an older form, a day
// counter at its largest value, a stored
// switch in the other byte order, printing off at start, and a
// configuration folder that cannot be written (at start-up and in the
// preferences window).
#include <QCoreApplication>
#include <climits>
#include <ctime>

#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"
#include "host/base/ByteOrder.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Application.h"
#include "host/ui/View.h"
#include "host/ui/ViewServer.h"
#include "layout/Objects.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"
#include "output/SecureSettings.h"
#include "platform/Messages.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"
#include "prefs/PreferencePanels.h"

namespace {

namespace fs = e2e::fs;

// A set-1 job on canvas 2.
jobwriter::TJobDescription SetOneJob(const std::string& photo) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Faults");
  job.canvas = 2;
  return job;
}

// Prints one set-1 job with a photo of its own name; true once its page is
// in set A's folder and its job file has left the queue.
bool PrintOne(e2e::Station& station, const std::string& name) {
  const size_t before = e2e::VisibleFilesBelow(station.SetFolder('A')).size();
  if (!e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {220, 20, 20})) return false;
  if (!station.Drop(SetOneJob(name + ".jpg"), name + ".trpr")) return false;
  return e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == before + 1; }, 60) &&
         station.WaitForQueueEmpty();
}

TEST(CountsAndSettings, OldCountFilesAreKeptAsideAndCountingStartsAgain) {
  e2e::Station station("oldcounts");
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path all = station.root() / "Kivo-Processor Count";
  const fs::path day = station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y"));
  // 9904 written big-endian, and the older version 9903 with 500 prints.
  std::string bigEndian(16564, '\0');
  bigEndian.replace(0, 4, std::string("\x00\x00\x26\xB0", 4));
  bigEndian[7] = 41;
  std::string older(16564, '\0');
  older.replace(0, 4, std::string("\xAF\x26\x00\x00", 4));
  older[4] = char(0xF4), older[5] = 1;
  e2e::WriteAll(all, bigEndian);
  e2e::WriteAll(day, older);

  ASSERT_TRUE(PrintOne(station, "first")) << station.Log();
  ASSERT_TRUE(PrintOne(station, "second")) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::CounterAt(e2e::ReadAll(day), 4) == 2; }, 20)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  for (const fs::path& file : {all, day}) {
    const std::string bytes = e2e::ReadAll(file);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xB0\x26\x00\x00", 4)) << file;
    EXPECT_EQ(e2e::CounterAt(bytes, 4), 2) << file;
    EXPECT_EQ(e2e::CounterAt(bytes, 32 + (25 * 41 + 2) * 4), 2) << file;
  }
  EXPECT_EQ(e2e::ReadAll(all.string() + ".old"), bigEndian);
  EXPECT_EQ(e2e::ReadAll(day.string() + ".old"), older);
  const std::string log = station.Log();
  EXPECT_NE(log.find("is a version-9903 record: it was kept as " + day.string() + ".old"), std::string::npos) << log;
  EXPECT_NE(log.find("is a big-endian version-9904 record: it was kept as"), std::string::npos) << log;
}

TEST(CountsAndSettings, ADayCounterAtItsLargestValueStaysThere) {
  e2e::Station station("fullcount");
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  {
    auto today = output::printCountInfoObject::initWithWhich(station.root(), false);
    today.addToCounts(1, output::kCountPrintToFile, 25, 2, "Faults");
  }
  {
    auto store = output::ZORVEL_SecureSettings::initWithPath(
        output::DayDictionaryPath(station.root(), false, output::LongDateTimeNow()));
    ASSERT_TRUE(store.has_value());
    host::PlistValue totals = *store->objectForKey("tPrintTotals");
    host::PlistDict& entry = *(*totals.asDict())[output::kProcessorStationKey].asDict();
    entry["tPrintToFileCount"] = kMax;
    (*(*(*entry["tPrinterCanvases"].asDict())["Print to File Set 1"].asDict())["Faults"].asDict())["quantity"] = kMax;
    store->setObject(totals, "tPrintTotals");
    ASSERT_TRUE(store->save());
  }
  ASSERT_TRUE(PrintOne(station, "full")) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil(
      [&] { return e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4) == 1; }, 20));
  EXPECT_EQ(station.Stop(), 0);
  auto day = output::printCountInfoObject::initWithLongDateTime(station.root(), output::LongDateTimeNow(), false);
  ASSERT_TRUE(day.has_value());
  EXPECT_EQ(day->getPrintToFileCount(), kMax);
  const auto& canvases = *day->getPrintCountDictionary().at("tPrinterCanvases").asDict();
  EXPECT_EQ(*canvases.at("Print to File Set 1").find("Faults")->find("quantity")->asInteger(), kMax);
}

TEST(CountsAndSettings, ASwitchStoredInTheOtherByteOrderIsRepairedAndSaved) {
  e2e::Station station("switch");
  mySetAllDefaults();
  getMyPrintServerPrefs()->autoStart = 0x0100;
  ASSERT_TRUE(station.SetDefault(kPrintServerPrefKey, host::PlistValue(PrintServerPrefBlob())));
  // A set's overwrite switch read as on would replace files already written.
  getMyPrintToFileSetPrefs(3)->overwrite = 0x0100;
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(3), host::PlistValue(PrintToFileSetBlob(3))));
  mySetAllDefaults();
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(PrintOne(station, "swapped")) << "printing is on" << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_NE(station.Log().find("held 256 for autoStart, which is not a switch: 1 is used and saved"),
            std::string::npos)
      << station.Log();
  EXPECT_NE(station.Log().find("[" + PrintToFileSetKey(3) + "] held 256 for overwrite, which is not a switch: 0 "
                               "is used and saved"),
            std::string::npos)
      << station.Log();
  host::UserDefaults stored(station.defaultsFile());
  const auto blob = stored.getData(kPrintServerPrefKey);
  ASSERT_TRUE(blob);
  const auto record = DecodePrintServerBlob(*blob);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->autoStart, 1);
  const auto setBlob = stored.getData(PrintToFileSetKey(3));
  ASSERT_TRUE(setBlob);
  const auto set = DecodePrintToFileSetBlob(*setBlob, 3);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->overwrite, 0);
}

TEST(CountsAndSettings, AStartWithPrintingOffSaysSo) {
  e2e::Station station("autostartoff");
  mySetAllDefaults();
  getMyPrintServerPrefs()->autoStart = 0;
  ASSERT_TRUE(station.SetDefault(kPrintServerPrefKey, host::PlistValue(PrintServerPrefBlob())));
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog(
      "Printing is off at start: \"Start processing at launch\" is off in the General Settings", 20))
      << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "waits.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(SetOneJob("waits.jpg"), "waits.trpr"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_FALSE(station.QueueEmpty()) << "the job waits for Start";
  EXPECT_EQ(station.Stop(), 0);
}

TEST(CountsAndSettings, AConfigurationFolderThatCannotBeWrittenIsReportedOnce) {
  e2e::Station station("noconfig");
  // The program's configuration folder is a file: nothing can be made in it.
  e2e::WriteAll(station.config() / "Kivo-Processor", "not a folder");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(PrintOne(station, "unsaved")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  const std::string log = station.Log();
  EXPECT_EQ(e2e::CountOf(log, "The settings could not be saved: cannot create " +
                             (station.config() / "Kivo-Processor").string() + ": Not a directory"),
            1u)
      << log;
  EXPECT_EQ(e2e::CountOf(log, "could not be written"), 0u) << log;

  // The preferences window on the same store: OK tells the operator and
  // the window stays open with what was set; Cancel then leaves it.
  static char name[] = "test_e2e";
  static char* argv[] = {name, nullptr};
  host::InitFramework(1, argv);
  host::AddViewResourceFolder(KIVO_APP_VIEWS);
  RegisterPreferencesClasses();
  host::UserDefaults store(station.defaultsFile());
  SetPrefStoreDefaults(&store);
  myNewReadPreferences();
  std::vector<std::string> messages;
  platform::SetMessageAlertHook([&](const std::string& text) {
    messages.push_back(text);
    return platform::kAlertDefaultItem;
  });
  int poses = 0;
  bool stillOff = false;
  host::SetModalHook([&](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    auto* ausq = prefs->CurrentPanel()->FindSubView<TCheckBox>(FourCC("ausq"));
    if (++poses == 1) {
      ausq->SetState(false, true);
      return FourCC("ok  ");
    }
    stillOff = !ausq->IsOn();
    return FourCC("canc");
  });
  e2e::NoSpoolChanges services;
  EXPECT_TRUE(DoPreferencesDialog(services));
  QCoreApplication::processEvents();
  host::SetModalHook({});
  platform::SetMessageAlertHook({});
  SetPrefStoreDefaults(nullptr);
  EXPECT_EQ(poses, 2);
  EXPECT_TRUE(stillOff);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("The settings could not be saved: cannot create ", 0), 0u) << messages[0];
  EXPECT_TRUE(fs::is_regular_file(station.config() / "Kivo-Processor"));
}

}  // namespace
