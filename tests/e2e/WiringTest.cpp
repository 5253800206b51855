// The running program reaches what its services connect: direct-printer
// pages turned and fitted to the printer's output size before the hand-off,
// the print-centre program started from the user defaults, job photos
// deleted after the job, the job's blur and e-mail block reaching the photo
// loader and the saved metadata, frame graphics from the graphics folder.
#include "e2e/E2E.h"
#include "e2e/Keying.h"

#include "host/base/ByteOrder.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = std::filesystem;

// User defaults written before the program starts.
void WriteDefaults(const e2e::Station& station, const host::PlistDict& entries) {
  fs::create_directories(station.defaultsFile().parent_path());
  host::UserDefaults defaults(station.defaultsFile());
  for (const auto& [key, value] : entries) defaults.set(key, value);
  ASSERT_TRUE(defaults.synchronize());
}

// The processed-jobs preferences with the binary hand-off.
host::PlistValue BinaryHandOffPrefs() {
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  getMyProcessedJobsPrefs()->useNewHandOff = 0;
  return host::PlistValue(ProcessedJobsPrefBlob());
}

jobwriter::TJobDescription PhotoJob(int16_t printer, const std::string& photo, float width, float height,
                                    const std::string& templateName) {
  jobwriter::TJobDescription job;
  job.printer = printer;
  job.templateName = CStr31_AC(templateName);
  job.pageWidth = width;
  job.pageHeight = height;
  job.objects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, width, height))));
  return job;
}

// A binary hand-off file: its page size and the RGB of one pixel.
struct HandOff {
  std::string bytes;
  int width() const { return host::LoadBE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 4 + 2); }
  int height() const { return host::LoadBE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 4 + 4); }
  std::array<int, 3> rgb(int x, int y) const {
    const size_t at = 15041 + (size_t(y) * size_t(width()) + size_t(x)) * 3;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    return {p[0], p[1], p[2]};
  }
};

fs::path PrintCenterJobs(const e2e::Station& station) {
  return station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed";
}

// The hand-off file whose name carries the template name.
std::optional<HandOff> WaitForHandOff(const e2e::Station& station, const std::string& templateName) {
  std::optional<HandOff> found;
  e2e::WaitUntil([&] {
    for (const fs::path& f : e2e::VisibleFiles(PrintCenterJobs(station))) {
      const std::string name = f.filename().string();
      if (name.rfind("Tempfile_", 0) == 0 || name.find("_" + templateName) == std::string::npos) continue;
      found = HandOff{e2e::ReadAll(f)};
      return found->bytes.size() > 15041;
    }
    return false;
  });
  return found;
}

bool IsRed(const std::array<int, 3>& c) { return c[0] > 180 && c[1] < 70 && c[2] < 70; }
bool IsWhite(const std::array<int, 3>& c) { return c[0] > 240 && c[1] > 240 && c[2] > 240; }

TEST(Wiring, DirectPrinterPagesAreTurnedAndFittedToTheOutputSizeOfEachPrinterTable) {
  e2e::Station station("handoff");
  const fs::path marker = station.base() / "print-centre-started";
  WriteDefaults(station, {{kPrintCenterPrefsKey, BinaryHandOffPrefs()},
                          {"KivoPrintCenterCommand", e2e::Command({"/usr/bin/touch", marker.string()})},
                          {"KivoOlderPrintCenterCommand", e2e::Command({"/usr/bin/touch", marker.string()})}});
  ASSERT_TRUE(station.Start()) << station.Log();

  struct Case {
    int16_t printer;
    uint16_t mediaType;
    int width, height;
  };
  // One printer of each kind of rule: turning only, a fixed size by the job's
  // media type, printer 15's own list, a size by the print record's media
  // type, and a size by media type and index.
  const Case cases[] = {{21, 0, 1200, 1800}, {11, 2, 2152, 1416}, {15, 2, 2446, 3036},
                        {37, 2, 1248, 1848}, {45, 1, 1920, 1088}};
  for (const Case& c : cases) {
    const std::string name = "P" + std::to_string(c.printer);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 600, 400, {220, 20, 20}));
    // A landscape page, 1800 x 1200 at 300 dpi.
    jobwriter::TJobDescription job = PhotoJob(c.printer, name + ".jpg", 6, 4, name);
    job.blocks.mediaType[0].words[1] = c.mediaType;
    // Printer 11 also has colour settings of its own: the dark tones lifted.
    if (c.printer == 11) job.blocks.mitsubishi->colorAdjust.values[3].value[0] = uint16_t(-30);
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const auto handOff = WaitForHandOff(station, name);
    ASSERT_TRUE(handOff) << name << "\n" << station.Log();
    EXPECT_EQ(handOff->width(), c.width) << name;
    EXPECT_EQ(handOff->height(), c.height) << name;
    EXPECT_EQ(handOff->bytes.size(), 15041u + size_t(c.width) * size_t(c.height) * 3) << name;
    EXPECT_GT(handOff->rgb(c.width / 2, c.height / 2)[0], 180) << name;
    if (c.printer != 11) {
      EXPECT_TRUE(IsRed(handOff->rgb(c.width / 2, c.height / 2))) << name;
    }
  }
  // Printer 45's page is fitted, not stretched: 1632 x 1088 centred, white
  // either side.
  const auto p45 = WaitForHandOff(station, "P45");
  ASSERT_TRUE(p45);
  EXPECT_TRUE(IsWhite(p45->rgb(100, 544)));
  EXPECT_TRUE(IsRed(p45->rgb(200, 544)));
  EXPECT_TRUE(IsWhite(p45->rgb(1819, 544)));
  // Printer 21 turned the landscape page to portrait (all of it red).
  const auto p21 = WaitForHandOff(station, "P21");
  ASSERT_TRUE(p21);
  EXPECT_TRUE(IsRed(p21->rgb(5, 5)));
  EXPECT_TRUE(IsRed(p21->rgb(1194, 1794)));
  // Printer 11's colour settings were applied to its page only.
  const auto p11 = WaitForHandOff(station, "P11");
  ASSERT_TRUE(p11);
  EXPECT_GT(p11->rgb(1076, 708)[1], p21->rgb(600, 900)[1] + 30);
  EXPECT_GT(p11->rgb(1076, 708)[2], p21->rgb(600, 900)[2] + 30);

  // The print-centre program was started after the hand-off, and every job
  // photo left the images folder with its job.
  EXPECT_TRUE(station.WaitForFile(marker, 60)) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.images()).empty(); }, 60));
  EXPECT_EQ(station.Stop(), 0);
}

// The print centre is asked for the prints that are counted: a quantity of
// 0 asks for one and counts one, a quantity of 2 asks for and counts two.
TEST(Wiring, TheHandOffAsksForThePrintsThatAreCounted) {
  e2e::Station station("handoffqty");
  WriteDefaults(station, {{kPrintCenterPrefsKey, BinaryHandOffPrefs()}});
  ASSERT_TRUE(station.Start()) << station.Log();
  int counted = 0;
  for (uint16_t quantity : {0, 2}) {
    const std::string name = "Q" + std::to_string(quantity);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 400, 600, {220, 20, 20}));
    jobwriter::TJobDescription job = PhotoJob(21, name + ".jpg", 4, 6, name);
    job.printQuantity = quantity;
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const auto handOff = WaitForHandOff(station, name);
    ASSERT_TRUE(handOff) << name << "\n" << station.Log();
    const int asked = host::LoadBE16(reinterpret_cast<const uint8_t*>(handOff->bytes.data()) + 4 + 18);
    EXPECT_EQ(asked, std::max<int>(1, quantity)) << name;
    counted += asked;
    EXPECT_TRUE(e2e::WaitUntil(
        [&] { return e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 16) == counted; }, 10))
        << name;
  }
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, ThePairHandOffKeepsTheUnfittedPageAndStartsTheCurrentPrintCentre) {
  e2e::Station station("pair");
  const fs::path current = station.base() / "current-started", older = station.base() / "older-started";
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  WriteDefaults(station, {{kPrintCenterPrefsKey, host::PlistValue(ProcessedJobsPrefBlob())},
                          {"KivoPrintCenterCommand", e2e::Command({"/usr/bin/touch", current.string()})},
                          {"KivoOlderPrintCenterCommand", e2e::Command({"/usr/bin/touch", older.string()})}});
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Pair.jpg", 600, 400, {220, 20, 20}));
  jobwriter::TJobDescription job = PhotoJob(45, "Pair.jpg", 6, 4, "Pair");
  job.blocks.mediaType[0].words[1] = 1;
  ASSERT_TRUE(station.Drop(job, "pair.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path folder = station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed---NEW";
  std::optional<fs::path> plist, jpeg;
  ASSERT_TRUE(e2e::WaitUntil([&] {
    for (const fs::path& f : e2e::VisibleFiles(folder)) {
      if (f.extension() == ".plist") plist = f;
      if (f.extension() == ".jpeg") jpeg = f;
    }
    return plist && jpeg;
  })) << station.Log();
  // The record gives the fitted size; the JPEG shows the page as drawn.
  const auto dict = host::readPropertyListFile(*plist);
  ASSERT_TRUE(dict && dict->asDict());
  EXPECT_EQ(*dict->asDict()->at("width").asInteger(), 1920);
  EXPECT_EQ(*dict->asDict()->at("height").asInteger(), 1088);
  const e2e::Picture drawn = e2e::ReadPicture(*jpeg);
  EXPECT_EQ(drawn.width(), 1800);
  EXPECT_EQ(drawn.height(), 1200);
  EXPECT_TRUE(station.WaitForFile(current, 60)) << station.Log();
  EXPECT_FALSE(fs::exists(older));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, WithoutAPrintCentreCommandTheHandOffIsWrittenAndTheGapLoggedOnce) {
  e2e::Station station("nocentre");
  WriteDefaults(station, {{kPrintCenterPrefsKey, BinaryHandOffPrefs()}});
  ASSERT_TRUE(station.Start()) << station.Log();
  for (const std::string name : {"One", "Two"}) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 200, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(PhotoJob(21, name + ".jpg", 3, 2, name), name + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(WaitForHandOff(station, name)) << station.Log();
  }
  const std::string log = station.Log();
  const std::string gap = "No print-centre application is set";
  const size_t first = log.find(gap);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(gap, first + 1), std::string::npos) << log;
  EXPECT_EQ(station.Stop(), 0);
}

// A photo black on its left half and white on its right half.
bool WriteEdgePhoto(const fs::path& file, int32_t width, int32_t height) {
  host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  if (!image) return false;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->scanline(y);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t v = x < width / 2 ? 0 : 255;
      row[4 * x] = 0xFF;
      row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = v;
    }
  }
  host::ImageWriteOptions options;
  options.jpegQuality = 95;
  return host::WriteImageFile(*image, file, host::ImageFormat::kJpeg, options).ok();
}

// A keyed archive of one dictionary of strings, the way the stations store
// the e-mail entry block, with its length in the block's last four bytes.
std::vector<uint8_t> EmailBlock(const std::string& key, const std::string& value) {
  using namespace host;
  auto uid = [](int64_t n) { return PlistValue(PlistDict{{"CF$UID", n}}); };
  PlistArray objects{PlistValue("$null"),
                     PlistDict{{"NS.keys", PlistArray{uid(2)}}, {"NS.objects", PlistArray{uid(3)}}, {"$class", uid(4)}},
                     PlistValue(key), PlistValue(value),
                     PlistDict{{"$classname", "NSDictionary"}, {"$classes", PlistArray{"NSDictionary", "NSObject"}}}};
  PlistDict archive{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}, {"$top", PlistDict{{"root", uid(1)}}},
                    {"$objects", objects}};
  std::vector<uint8_t> bytes = *serializePropertyList(PlistValue(archive), PlistFormat::Binary);
  std::vector<uint8_t> block(4096, 0);
  std::copy(bytes.begin(), bytes.end(), block.begin());
  block[4092] = uint8_t(bytes.size());
  block[4093] = uint8_t(bytes.size() >> 8);
  return block;
}

std::optional<fs::path> WaitForOutput(const fs::path& folder, const std::string& part) {
  std::optional<fs::path> found;
  e2e::WaitUntil([&] {
    for (const fs::path& f : e2e::VisibleFilesBelow(folder))
      if (f.filename().string().find(part) != std::string::npos) found = f;
    return found.has_value();
  });
  return found;
}

TEST(Wiring, TheJobsBlurAndEmailBlockReachTheLoaderAndTheSavedMetadata) {
  e2e::Station station("values");
  // Set 2 saves web JPEGs for upload site 3, whose metadata carries the
  // job's e-mail entries (every set shares set A's folder here).
  tSpecialPrintToFilePref* web = getMyPrintToFileSetPrefs(2);
  setMyPrintToFileSetPrefsToFactoryDefaults(web, 2);
  web->fileFormat = 10;
  web->ftpSite = 3;
  WriteDefaults(station, {{PrintToFileSetKey(2), host::PlistValue(PrintToFileSetBlob(2))}});
  ASSERT_TRUE(station.Start()) << station.Log();

  for (const std::string name : {"Sharp", "Blurred"}) {
    ASSERT_TRUE(WriteEdgePhoto(station.images() / (name + ".jpg"), 400, 600));
    jobwriter::TJobDescription job = PhotoJob(25, name + ".jpg", 4, 6, name);
    job.blocks.print2File.setNumber = 1;
    job.blurValue = name == "Sharp" ? 0.0f : 12.0f;
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  }
  const auto sharp = WaitForOutput(station.SetFolder('A'), "Sharp");
  const auto blurred = WaitForOutput(station.SetFolder('A'), "Blurred");
  ASSERT_TRUE(sharp && blurred) << station.Log();
  const e2e::Picture s = e2e::ReadPicture(*sharp), b = e2e::ReadPicture(*blurred);
  ASSERT_EQ(s.width(), 1200);
  ASSERT_EQ(b.width(), 1200);
  // 45 page pixels (15 photo pixels) left of the edge.
  EXPECT_LT(s.rgb(555, 900)[0], 8);
  EXPECT_GT(b.rgb(555, 900)[0], 18);

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Web.jpg", 400, 600, {220, 20, 20}));
  jobwriter::TJobDescription job = PhotoJob(26, "Web.jpg", 4, 6, "Web");
  job.blocks.print2File.setNumber = 2;
  job.emailEntry = EmailBlock("name", "Ann");
  job.customerEmail = CStr255_AC("ann@example.org");
  // The job's system print settings are unarchived and kept.
  std::vector<uint8_t> settings = EmailBlock("NSCopies", "2");
  settings.resize(size_t(settings[4092]) | size_t(settings[4093]) << 8);
  job.printInfo = settings;
  ASSERT_TRUE(station.Drop(job, "web.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto saved = WaitForOutput(station.SetFolder('A'), "Web");
  ASSERT_TRUE(saved) << station.Log();
  const e2e::Picture w = e2e::ReadPicture(*saved);
  const std::string& comment = w.info.userComment;
  EXPECT_NE(comment.find("<key>userdata</key>"), std::string::npos) << comment;
  EXPECT_NE(comment.find("<string>Ann</string>"), std::string::npos) << comment;
  EXPECT_NE(comment.find("ann@example.org"), std::string::npos) << comment;
  EXPECT_NE(station.Log().find("succesfully unarchived gCocoaPrintInfo"), std::string::npos);
  // The photos go at the very end of the job, after its output has landed.
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.images()).empty(); }, 60));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, AFrameGraphicIsDrawnFromTheGraphicsFolder) {
  e2e::Station station("frame");
  ASSERT_TRUE(station.Start()) << station.Log();
  // An opaque blue band 100 pixels wide around a transparent middle.
  host::GWorldHandle frame = host::GWorld::Create(CLongRect_AC(0, 0, 600, 400));
  ASSERT_TRUE(frame);
  for (int32_t y = 0; y < 600; ++y)
    for (int32_t x = 0; x < 400; ++x) {
      uint8_t* p = frame->scanline(y) + 4 * x;
      const bool band = x < 100 || x >= 300 || y < 100 || y >= 500;
      p[0] = band ? 255 : 0;
      p[1] = 0;
      p[2] = 0;
      p[3] = 255;
    }
  fs::create_directories(station.graphics() / "Frames");
  host::ImageWriteOptions alpha;
  alpha.keepAlpha = true;
  ASSERT_TRUE(host::WriteImageFile(*frame, station.graphics() / "Frames" / "Band.png", host::ImageFormat::kPng, alpha)
                  .ok());
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.jpg", 400, 600, {220, 20, 20}));

  CImageDesc desc = jobwriter::ImageDesc("Framed.jpg", 0, 0, 4, 6);
  desc.fGraphicCategory = CStr31_AC("Frames");
  desc.fGraphicName = CStr31_AC("Band.png");
  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(desc)));
  ASSERT_TRUE(station.Drop(job, "framed.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto out = WaitForOutput(station.SetFolder('A'), "");
  ASSERT_TRUE(out) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(*out);
  ASSERT_EQ(page.width(), 1200);
  const auto band = page.rgb(100, 900), middle = page.rgb(600, 900);
  EXPECT_TRUE(band[2] > 180 && band[0] < 60) << band[0] << "," << band[1] << "," << band[2];
  EXPECT_TRUE(IsRed(middle));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, AGreenScreenPhotoIsKeyedOverThePageInAJob) {
  e2e::Station station("keyed");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Green backing with a red subject in the middle third.
  ASSERT_TRUE(e2e::WriteGreenScreen(station.images() / "Green.png", 600, 300, 200, 100, 400, 200));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.pageWidth = 6;
  job.pageHeight = 3;
  job.resolution = 100;
  job.objects.push_back(jobwriter::RecordOf(
      *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 0xFFFF}, 0, 0, 6, 3))));
  CImageDesc image = jobwriter::ImageDesc("Green.png", 0, 0, 6, 3);
  image.fCropToFill = 0;
  auto keyed = layout::TImageObject::New(image);
  keyed->SetChromaKeySettings(e2e::KeyingSettings());
  job.objects.push_back(jobwriter::RecordOf(*keyed));
  ASSERT_TRUE(station.Drop(job, "keyed.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto out = WaitForOutput(station.SetFolder('A'), "");
  ASSERT_TRUE(out) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(*out);
  ASSERT_EQ(page.width(), 600);
  ASSERT_EQ(page.height(), 300);
  const auto back = page.rgb(50, 50), subject = page.rgb(300, 150);
  EXPECT_TRUE(back[2] > 180 && back[1] < 80) << back[0] << "," << back[1] << "," << back[2];
  EXPECT_TRUE(IsRed(subject)) << subject[0] << "," << subject[1] << "," << subject[2];
  EXPECT_NE(station.Log().find("Successfully Chroma keyed!"), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, ASubJobsPageFillsTheImageBoxAndItsPhotoIsDeletedWithTheJob) {
  e2e::Station station("subjob");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Inner.jpg", 200, 300, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Outer.jpg", 200, 300, {20, 20, 220}));
  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.PrintMode = 3;
  job.hasSubJob = true;
  job.subJobWidth = 2;
  job.subJobHeight = 3;
  job.subJobObjects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Inner.jpg", 0, 0, 2, 3))));
  // The main job's image box shows the sub-job's page, not its own photo.
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Outer.jpg", 1, 1, 2, 3))));
  ASSERT_TRUE(station.Drop(job, "subjob.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto out = WaitForOutput(station.SetFolder('A'), "");
  ASSERT_TRUE(out) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(*out);
  ASSERT_EQ(page.width(), 1200);
  EXPECT_TRUE(IsRed(page.rgb(600, 900)));
  EXPECT_TRUE(IsWhite(page.rgb(150, 150)));
  // The sub-job's photo was read and goes with the job; the main job's own
  // photo was never read, so it is not the job's to delete.
  EXPECT_TRUE(e2e::WaitUntil([&] { return !fs::exists(station.images() / "Inner.jpg"); }, 10));
  EXPECT_TRUE(fs::exists(station.images() / "Outer.jpg"));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Wiring, TheFirstPhotosProfileIsEmbeddedInTheSavedPage) {
  e2e::Station station("profile");
  ASSERT_TRUE(station.Start()) << station.Log();
  // A photo carrying a colour profile of its own (the bytes only matter).
  std::vector<uint8_t> profile(600);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(i * 7 + 3);
  host::GWorldHandle photo = host::GWorld::Create(CLongRect_AC(0, 0, 300, 200));
  ASSERT_TRUE(photo);
  host::ImageWriteOptions options;
  options.iccProfile = profile;
  ASSERT_TRUE(host::WriteImageFile(*photo, station.images() / "Profiled.jpg", host::ImageFormat::kJpeg, options).ok());
  jobwriter::TJobDescription job = PhotoJob(25, "Profiled.jpg", 2, 3, "Profiled");
  job.blocks.print2File.setNumber = 1;
  job.colorSyncPrefs->printers[25].w0 = 1;  // embed the source profile
  ASSERT_TRUE(station.Drop(job, "profiled.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto out = WaitForOutput(station.SetFolder('A'), "Profiled");
  ASSERT_TRUE(out) << station.Log();
  EXPECT_EQ(e2e::ReadPicture(*out).info.iccProfile, profile);
  EXPECT_TRUE(e2e::WaitUntil([&] { return !fs::exists(station.images() / "Profiled.jpg"); }, 10));
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
