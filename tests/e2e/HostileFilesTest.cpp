// Files that claim far more than they hold, handed to the running program:
// photos that are only a header claiming the largest image each reader
// takes, sidecars whose entries all share one run of bytes, web data whose
// shared objects would decode to gigabytes, and a job file that is only its
// header. For each, the program's resident peak (VmHWM, started afresh
// before the job) stays within what one ordinary job takes, and the job
// ends as a damaged one does: failed with its files kept, or printed
// without what could not be read. A frame, overlay or group photo that is
// there but cannot be read fails its job the way a damaged photo does.
#include "e2e/E2E.h"

#include "layout/Objects.h"

#include "common/HostileFiles.h"
#include "common/PeakMemory.h"
#include "host/files/ResourceFork.h"

namespace {

namespace ts = testing_support;

// A tenth of the gigabyte each of these claims, and several times what an
// ordinary 4 x 6 inch job takes, even under the sanitizers.
constexpr long kMaxRiseMiB = 256;

void WriteBytes(const e2e::fs::path& file, const std::vector<uint8_t>& bytes) {
  e2e::WriteAll(file, std::string(bytes.begin(), bytes.end()));
}

// Runs one job to its end and says how far the program's resident memory
// rose above where it stood when the job was dropped, in MiB (-1 when the
// peak could not be read).
struct JobRun {
  e2e::Station& station;
  long Rise(const std::function<bool()>& drop) {
    const pid_t pid = station.pid();
    if (!ts::ResetPeakResident(pid)) return -1;
    const long before = ts::ResidentKiB(pid);
    if (!drop() || !station.WaitForQueueEmpty()) return -1;
    const long peak = ts::PeakResidentKiB(pid);
    return before < 0 || peak < 0 ? -1 : (peak - before) / 1024;
  }
};

// A file of the TIFF fuzzer's seeds, or of another fuzzer's, less the
// `skip` bytes that choose what that fuzzer does with it.
std::vector<uint8_t> Seed(const std::string& name, const char* fuzzer = "fuzz_tiffdecode", size_t skip = 0) {
  const std::string bytes = e2e::ReadAll(e2e::fs::path(KIVO_SOURCE_DIR) / "fuzz/seeds" / fuzzer / name);
  return {bytes.begin() + long(std::min(skip, bytes.size())), bytes.end()};
}

TEST(HostileFiles, PhotosThatAreOnlyAHeaderFailTheirJobWithoutTakingWhatTheyClaim) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  JobRun run{station};
  // An ordinary job first: what it costs is the yardstick, and whatever the
  // program sets up once is set up.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Ordinary.jpg", 600, 900, {30, 120, 200}));
  const long ordinary = run.Rise([&] { return station.Drop(e2e::SetOneJob("Ordinary.jpg"), "ordinary.trpr"); });
  ASSERT_EQ(station.WaitForSetOutput('A').size(), 1u) << station.Log();
  EXPECT_GE(ordinary, 0);
  EXPECT_LT(ordinary, kMaxRiseMiB);

  using hostile::Strip;
  const std::pair<std::string, std::vector<uint8_t>> photos[] = {
      // A DNG on which the system's camera raw decoder crashes: its job
      // fails and the program goes on to the next.
      {"Crash.dng", Seed("raw-dng-ifd-crash", "fuzz_hostformats", 1)},
      {"Header.psd", hostile::PhotoshopHeader()},            // 40 bytes: 16-bit CMYK, no data
      {"Packed.psd", hostile::PhotoshopRowCountsOnly(2)},    // row counts far too short for the rows
      {"Frame.pct", hostile::PictureHeader(false)},          // a frame with nothing in it
      {"Bits.pct", hostile::PictureHeader(true)},            // a bitmap without rows
      {"Header.png", hostile::PngHeader()},
      {"Header.jpg", hostile::JpegHeader(false)},
      {"Progressive.jpg", hostile::JpegHeader(true)},
      {"Header.dng", hostile::RawHeader(Strip::kRunningOn, 7)},
      {"Short.dng", hostile::RawHeader(Strip::kShortButWithin, 7)},
      {"NoCodec.tif", hostile::TiffWithoutCodec()},          // 505 bytes, its compression without a decoder
      // Fax-coded, found by the fuzzer: 0.4 to 0.9 GB claimed by 122 to 3,138 bytes.
      {"Fax1.tif", Seed("ccitt-rle-20480x4971.tif")},
      {"Fax2.tif", Seed("ccitt-rle-1064960x107.tif")},
      {"Fax3.tif", Seed("ccitt-rle-16187136x14.tif")},
  };
  int n = 0;
  for (const auto& [name, bytes] : photos) {
    SCOPED_TRACE(name);
    WriteBytes(station.images() / name, bytes);
    const std::string job = "header" + std::to_string(++n) + ".trpr";
    const long rise = run.Rise([&] { return station.Drop(e2e::SetOneJob(name), job); });
    EXPECT_GE(rise, 0) << station.Log();
    EXPECT_LT(rise, kMaxRiseMiB);
    // Refused from their header and the size of their data, before any
    // decoding: no more than the ordinary job took.
    if (name == "Crash.dng") {
      EXPECT_NE(station.Log().find("The image file \"Crash.dng\""), std::string::npos) << station.Log();
    }
    if (name.rfind("Fax", 0) == 0) {
      EXPECT_LE(rise, std::max(ordinary, 0l) + 16);
      EXPECT_NE(station.Log().find("\"" + name + "\" is damaged"), std::string::npos) << station.Log();
    }
    EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / job)) << station.Log();
    EXPECT_TRUE(e2e::fs::exists(station.images() / name));
  }
  EXPECT_NE(station.Log().find("\"NoCodec.tif\" is a TIFF file in a form that cannot be printed (compression 16384, "
                               "which cannot be decoded)"),
            std::string::npos);
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 1u);  // only the ordinary page
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileFiles, SharedBytesInSidecarsAndWebDataAreNotCopiedOverAndOver) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  JobRun run{station};
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Warm.jpg", 600, 900, {30, 120, 200}));
  ASSERT_GE(run.Rise([&] { return station.Drop(e2e::SetOneJob("Warm.jpg"), "warm.trpr"); }), 0);

  // Sidecars of sound photos: 20,000 entries, or 20,000 resources of the
  // resource fork, over one 32 KB run (650 MB as copies). The settings are
  // unreadable; the photo prints as if it had none.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Entries.jpg", 600, 900, {200, 40, 40}));
  WriteBytes(station.images() / "._Entries.jpg", hostile::AppleDoubleSharingBytes(20000, 32768));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Fork.jpg", 600, 900, {40, 200, 40}));
  WriteBytes(station.images() / "._Fork.jpg",
             host::BuildAppleDouble({{host::kAppleDoubleResourceFork, hostile::ResourceForkSharingData(20000, 32768)}}));
  for (const std::string name : {"Entries.jpg", "Fork.jpg"}) {
    SCOPED_TRACE(name);
    const long rise = run.Rise([&] { return station.Drop(e2e::SetOneJob(name), name + ".trpr"); });
    EXPECT_GE(rise, 0) << station.Log();
    EXPECT_LT(rise, kMaxRiseMiB);
    EXPECT_FALSE(e2e::ExistsAsEntry(station.unknown() / (name + ".trpr"))) << station.Log();
  }

  // Web data whose archive holds 50 x 50 x 50 references to one 30 KB
  // object (3.7 GB decoded): the page prints, the web server is not told.
  jobwriter::TJobDescription web = e2e::SetOneJob("Warm.jpg");
  web.webDictionary = hostile::KeyedArchiveSharingData(50, 30000);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Warm.jpg", 600, 900, {30, 120, 200}));
  const long webRise = run.Rise([&] { return station.Drop(web, "web.trpr"); });
  EXPECT_GE(webRise, 0) << station.Log();
  EXPECT_LT(webRise, kMaxRiseMiB);
  EXPECT_FALSE(e2e::ExistsAsEntry(station.unknown() / "web.trpr")) << station.Log();
  EXPECT_NE(station.Log().find("object == nil or not of dictionary type"), std::string::npos) << station.Log();

  // A job file that is only its header, claiming 32,767 objects in its
  // sub-job and in its page, with not one record.
  jobwriter::TJobDescription claims = e2e::SetOneJob("Warm.jpg");
  claims.hasSubJob = true;
  claims.subJobCount = 32767;
  claims.subJobObjects.clear();
  claims.objectCount = 32767;
  claims.objects.clear();
  std::vector<uint8_t> header = jobwriter::WriteJobFile(claims);
  const uint8_t count[4] = {0, 0, 0x7F, 0xFF};
  auto at = std::search(header.begin(), header.end(), count, count + 4);
  ASSERT_NE(at, header.end());
  at = std::search(at + 4, header.end(), count, count + 4);
  ASSERT_NE(at, header.end());
  header.erase(at + 4, header.end());
  WriteBytes(station.staging() / "header.trpr", header);
  const long jobRise = run.Rise([&] { return station.DropFile(station.staging() / "header.trpr", "header.trpr"); });
  EXPECT_GE(jobRise, 0) << station.Log();
  EXPECT_LT(jobRise, kMaxRiseMiB);
  EXPECT_TRUE(e2e::ExistsAsEntry(station.unknown() / "header.trpr")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(HostileFiles, AGraphicCutAfterItsHeaderFailsItsJobAndAMissingOneIsLeftOut) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // A whole PNG cut after its signature and header chunk (8 + 25 bytes).
  const e2e::fs::path whole = station.staging() / "Whole.png";
  host::GWorldHandle graphic = host::GWorld::Create(CLongRect_AC(0, 0, 40, 60));
  ASSERT_TRUE(graphic);
  ASSERT_TRUE(host::WriteImageFile(*graphic, whole, host::ImageFormat::kPng).ok());
  e2e::fs::create_directories(station.graphics() / "Frames");
  e2e::WriteAll(station.graphics() / "Frames" / "Cut.png", e2e::ReadAll(whole).substr(0, 33));

  auto withOverlay = [](jobwriter::TJobDescription job, const std::string& kind, const std::string& name) {
    if (kind == "overlay graphic")
      job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
          jobwriter::OverlayDesc(name, "frames", 0, 0, 4, 6))));
    else if (kind == "transparent overlay graphic")
      job.objects.push_back(jobwriter::RecordOf(*layout::TTransparentOverlayObject::New(
          jobwriter::OverlayDesc(name, "frames", 0, 0, 4, 6))));
    else if (kind == "group photo")
      job.objects.push_back(jobwriter::RecordOf(*layout::TGroupPhotoObject::New(
          jobwriter::GroupPhotoDesc(name, "frames", 0, 0, 4, 6))));
    return job;
  };
  int n = 0;
  for (const bool embedded : {false, true})
    for (const std::string kind : {"frame graphic", "overlay graphic", "transparent overlay graphic", "group photo"}) {
      SCOPED_TRACE(kind + (embedded ? ", profiles on" : ", profiles off"));
      const std::string photo = "Cut" + std::to_string(++n) + ".jpg", job = "cut" + std::to_string(n) + ".trpr";
      ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 300, 450, {30, 120, 200}));
      jobwriter::TJobDescription description =
          kind == "frame graphic" ? e2e::FramedJob(photo, "Cut.png", embedded)
                                  : withOverlay(e2e::SetOneJob(photo), kind, "Cut.png");
      description.colorSyncPrefs->applyEmbedded = embedded ? 1 : 0;
      ASSERT_TRUE(station.Drop(description, job));
      ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / job); }, 60)) << station.Log();
      EXPECT_TRUE(e2e::fs::exists(station.images() / photo)) << "a failed job keeps its photo";
      EXPECT_EQ(e2e::CountOf(station.Log(), "Alert 1001: The " + kind +
                                                " \"Frames/Cut.png\" is damaged and could not be read!\n"),
                embedded ? 2u : 1u)
          << station.Log();
    }
  const std::string log = station.Log();
  for (size_t at = log.find("error code = -1"); at != std::string::npos; at = log.find("error code = -1", at + 1))
    EXPECT_NE(log.substr(at, log.find('\n', at) - at).find("Frames/Cut.png"), std::string::npos) << log;

  // A graphic that is not there is left out, as it always was: the page prints.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Absent.jpg", 300, 450, {30, 120, 200}));
  jobwriter::TJobDescription absent = e2e::FramedJob("Absent.jpg", "Absent.png", false);
  for (const std::string kind : {"overlay graphic", "transparent overlay graphic", "group photo"})
    absent = withOverlay(absent, kind, "Absent.png");
  ASSERT_TRUE(station.Drop(absent, "absent.trpr"));
  ASSERT_EQ(station.WaitForSetOutput('A').size(), 1u) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_FALSE(e2e::ExistsAsEntry(station.unknown() / "absent.trpr")) << station.Log();
  EXPECT_EQ(e2e::PrintLogLines(station), 1u) << "only the printed job is counted: " << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

// An alert past 255 bytes, as a graphic with a long name in a form that
// cannot be printed makes it, reaches the day log and the alert whole.
TEST(HostileFiles, AnAlertPast255BytesReachesTheLogAndTheAlertWhole) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  std::string category, name;
  for (int i = 0; i < 31; ++i) category += "\xE2\x80\xA2";  // "•", one Mac Roman byte, three in UTF-8
  for (int i = 0; i < 59; ++i) name += "\xE2\x80\xA2";
  name += ".tif";
  e2e::fs::create_directories(station.graphics() / category);
  WriteBytes(station.graphics() / category / name, hostile::TiffWithoutCodec());
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Long.jpg", 300, 450, {30, 120, 200}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Long.jpg");
  job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
      jobwriter::OverlayDesc(name, category, 0, 0, 4, 6))));
  ASSERT_TRUE(station.Drop(job, "long.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "long.trpr"); }, 60))
      << station.Log();
  ASSERT_TRUE(station.WaitForLog("Alert 1001: The overlay graphic", 20)) << station.Log();
  const std::string message = "The overlay graphic \"" + category + "/" + name +
                              "\" is a TIFF file in a form that cannot be printed (compression 16384, which cannot "
                              "be decoded)!";
  ASSERT_GT(message.size(), 300u);
  const std::string log = station.Log();
  EXPECT_NE(log.find("DisplayNormalMessage ERROR string: [" + message + "]\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Alert 1001: " + message + "\n"), std::string::npos) << log;
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
