// Photos as the running program prints them: transparent PNG and TIFF photos
// and group photos print their transparent parts on white whether the job
// honours embedded profiles or not; CMYK TIFF and Photoshop photos print
// through their own embedded profiles as the colour tool converts them; and
// 16-bit, greyscale and CMYK Photoshop photos print, with their
// transparency as photos and as frame graphics, while a colour mode that
// cannot be drawn fails the job with the mode named.
#include "e2e/E2E.h"

#include "common/CmykProfile.h"
#include "common/PsdFile.h"
#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"

namespace {

// 600 x 900, the page's own shape: the left half fully transparent (stored
// black), the right half (200, 40, 30) at alpha 128.
host::GWorldHandle HalfTransparent() {
  host::GWorldHandle g = host::GWorld::Create(CLongRect_AC(0, 0, 900, 600));
  for (int y = 0; y < 900; ++y) {
    uint8_t* p = g->scanline(y);
    for (int x = 0; x < 600; ++x, p += 4) {
      const bool left = x < 300;
      p[0] = left ? 0 : 128;
      p[1] = left ? 0 : 200;
      p[2] = left ? 0 : 40;
      p[3] = left ? 0 : 30;
    }
  }
  return g;
}

// (200, 40, 30) at alpha 128 over white.
constexpr std::array<int, 3> kOverWhite = {227, 147, 142};
constexpr std::array<int, 3> kWhite = {255, 255, 255};

void ExpectNear(const std::array<int, 3>& got, const std::array<int, 3>& want, int tolerance,
                const std::string& what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[size_t(i)], want[size_t(i)], tolerance) << what << ", channel " << i;
}

// The one output of set 1, read and removed.
e2e::Picture TakePage(e2e::Station& station) {
  const auto outputs = station.WaitForSetOutput('A');
  EXPECT_FALSE(outputs.empty()) << station.Log();
  if (outputs.empty()) return {};
  e2e::Picture page = e2e::ReadPicture(outputs.front());
  EXPECT_TRUE(page.image) << page.error;
  for (const auto& file : outputs) e2e::fs::remove(file);
  return page;
}

std::array<int, 3> Centre(const e2e::Picture& page) {
  if (!page.image) return {-1, -1, -1};
  return page.rgb(page.width() / 2, page.height() / 2);
}

int RunTool(const std::vector<std::string>& words) {
  int status = -1;
  e2e::ToolOutput(words, &status);
  return status;
}

void WriteBytes(const e2e::fs::path& file, const std::vector<uint8_t>& bytes) {
  e2e::WriteAll(file, std::string(bytes.begin(), bytes.end()));
}

TEST(PhotoFormats, TransparentPartsPrintOnWhiteWhateverTheEmbeddedProfileSwitch) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const host::GWorldHandle picture = HalfTransparent();
  host::ImageWriteOptions withAlpha;
  withAlpha.keepAlpha = true;
  e2e::fs::create_directories(station.graphics() / "GROUPS");
  ASSERT_TRUE(host::WriteImageFile(*picture, station.graphics() / "GROUPS" / "Class.png", host::ImageFormat::kPng,
                                   withAlpha)
                  .ok());
  int n = 0;
  for (const bool embedded : {true, false}) {
    for (const std::string name : {"Glass.png", "Glass.tif", "group"}) {
      const std::string what = name + (embedded ? " with embedded profiles" : " without");
      jobwriter::TJobDescription job;
      if (name == "group") {
        job.printer = 25;
        job.blocks.print2File.setNumber = 1;
        job.templateName = "E2E";
        job.objects.push_back(jobwriter::RecordOf(
            *layout::TGroupPhotoObject::New(jobwriter::GroupPhotoDesc("Class.png", "Groups", 0, 0, 4, 6))));
      } else {
        // A station sends the photo with each job; it goes with the job.
        const auto format = name.ends_with(".png") ? host::ImageFormat::kPng : host::ImageFormat::kTiff;
        ASSERT_TRUE(host::WriteImageFile(*picture, station.images() / name, format, withAlpha).ok());
        job = e2e::SetOneJob(name);
      }
      job.colorSyncPrefs->applyEmbedded = embedded ? 1 : 0;
      ASSERT_TRUE(station.Drop(job, "job" + std::to_string(++n) + ".trpr"));
      ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
      const e2e::Picture page = TakePage(station);
      ASSERT_TRUE(page.image) << what;
      ExpectNear(page.rgb(page.width() / 4, page.height() / 2), kWhite, 4, what + ", transparent half");
      ExpectNear(page.rgb(page.width() * 3 / 4, page.height() / 2), kOverWhite, 5, what + ", half-transparent half");
    }
  }
  EXPECT_EQ(station.Stop(), 0);
}

TEST(PhotoFormats, CmykTiffAndPhotoshopPhotosPrintThroughTheirEmbeddedProfiles) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);

  // A cyan patch separated for a CMYK printer with that printer's profile
  // embedded, and the colour tool's reading of it through that profile.
  ASSERT_TRUE(testprofiles::WriteCmykProfile(work / "printer.icc"));
  const host::GWorldHandle cyan = host::GWorld::Create(CLongRect_AC(0, 0, 90, 60));
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 60; ++x) {
      uint8_t* p = cyan->scanline(y) + 4 * x;
      p[0] = 255, p[1] = 0, p[2] = 160, p[3] = 230;
    }
  ASSERT_TRUE(host::WriteImageFile(*cyan, work / "rgb.tif", host::ImageFormat::kTiff).ok());
  ASSERT_EQ(RunTool({"tificc", "-e", "-o" + (work / "printer.icc").string(), (work / "rgb.tif").string(),
                     (work / "cmyk.tif").string()}),
            0);
  ASSERT_EQ(RunTool({"tificc", (work / "cmyk.tif").string(), (work / "reference.tif").string()}), 0);
  const e2e::Picture reference = e2e::ReadPicture(work / "reference.tif");
  ASSERT_TRUE(reference.image) << reference.error;
  const std::array<int, 3> wantCmyk = reference.rgb(30, 45);
  // Read without the profile the inks give another colour.
  host::ImageReadResult plain = host::ReadImageFile(work / "cmyk.tif");
  ASSERT_TRUE(plain.ok()) << plain.error;
  const uint8_t* naive = plain.image->scanline(45) + 4 * 30;
  EXPECT_GT(std::abs(naive[1] - wantCmyk[0]) + std::abs(naive[2] - wantCmyk[1]) + std::abs(naive[3] - wantCmyk[2]), 30);

  jobwriter::TJobDescription job = e2e::SetOneJob("Cmyk.tif");
  job.colorSyncPrefs->applyEmbedded = 1;
  e2e::fs::copy_file(work / "cmyk.tif", station.images() / "Cmyk.tif");
  ASSERT_TRUE(station.Drop(job, "cmyk.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(Centre(TakePage(station)), wantCmyk, 5, "CMYK TIFF");

  // The same inks as a CMYK Photoshop photo with the printer's profile.
  host::ImageReadOptions keep;
  keep.keepCmyk = true;
  const host::ImageReadResult inks = host::ReadImageFile(work / "cmyk.tif", keep);
  ASSERT_TRUE(inks.ok() && inks.cmyk) << inks.error;
  testpsd::Image cmykPsd;
  cmykPsd.mode = testpsd::kCMYK;
  cmykPsd.width = 60;
  cmykPsd.height = 90;
  for (int c = 0; c < 4; ++c)
    cmykPsd.channels.push_back(testpsd::Plane(cmykPsd, uint16_t(255 - inks.image->scanline(45)[4 * 30 + c])));
  const std::string printer = e2e::ReadAll(work / "printer.icc");
  cmykPsd.icc.assign(printer.begin(), printer.end());
  WriteBytes(station.images() / "Cmyk.psd", testpsd::Write(cmykPsd));
  job = e2e::SetOneJob("Cmyk.psd");
  job.colorSyncPrefs->applyEmbedded = 1;
  ASSERT_TRUE(station.Drop(job, "cmyk-psd.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(Centre(TakePage(station)), wantCmyk, 5, "CMYK Photoshop photo");

  // A Photoshop photo in ProPhoto RGB (resource 1039) and the colour tool's
  // reading of the same pixels as a TIFF with that profile.
  const std::string proPhoto = e2e::ReadAll("/usr/share/color/icc/colord/ProPhotoRGB.icc");
  ASSERT_FALSE(proPhoto.empty());
  testpsd::Image psd;
  psd.width = 60;
  psd.height = 90;
  for (uint16_t v : {137, 69, 50}) psd.channels.push_back(testpsd::Plane(psd, v));
  psd.icc.assign(proPhoto.begin(), proPhoto.end());
  psd.packBits = true;
  WriteBytes(station.images() / "Pro.psd", testpsd::Write(psd));
  const host::GWorldHandle flat = host::GWorld::Create(CLongRect_AC(0, 0, 90, 60));
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 60; ++x) {
      uint8_t* p = flat->scanline(y) + 4 * x;
      p[0] = 255, p[1] = 137, p[2] = 69, p[3] = 50;
    }
  host::ImageWriteOptions tagged;
  tagged.iccProfile = psd.icc;
  ASSERT_TRUE(host::WriteImageFile(*flat, work / "pro.tif", host::ImageFormat::kTiff, tagged).ok());
  ASSERT_EQ(RunTool({"tificc", (work / "pro.tif").string(), (work / "pro-srgb.tif").string()}), 0);
  const e2e::Picture proReference = e2e::ReadPicture(work / "pro-srgb.tif");
  ASSERT_TRUE(proReference.image) << proReference.error;
  const std::array<int, 3> wantPro = proReference.rgb(30, 45);
  EXPECT_GT(std::abs(wantPro[0] - 137), 30);

  job = e2e::SetOneJob("Pro.psd");
  job.colorSyncPrefs->applyEmbedded = 1;
  ASSERT_TRUE(station.Drop(job, "pro.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(Centre(TakePage(station)), wantPro, 5, "ProPhoto Photoshop photo");

  // With the switch off the same photo prints its numbers as they are.
  WriteBytes(station.images() / "Pro.psd", testpsd::Write(psd));
  job.colorSyncPrefs->applyEmbedded = 0;
  ASSERT_TRUE(station.Drop(job, "pro-off.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(Centre(TakePage(station)), {137, 69, 50}, 4, "ProPhoto Photoshop photo, switch off");
  EXPECT_EQ(station.Stop(), 0);
}

TEST(PhotoFormats, FrameGraphicsPrintThroughTheirProfileWhenTheJobHonoursEmbeddedProfiles) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // A band 100 pixels wide of (200, 40, 30) around a transparent middle,
  // tagged with a profile that exchanges the red and green primaries.
  host::GWorldHandle frame = host::GWorld::Create(CLongRect_AC(0, 0, 600, 400));
  for (int32_t y = 0; y < 600; ++y)
    for (int32_t x = 0; x < 400; ++x) {
      uint8_t* p = frame->scanline(y) + 4 * x;
      const bool band = x < 100 || x >= 300 || y < 100 || y >= 500;
      p[0] = band ? 255 : 0, p[1] = 200, p[2] = 40, p[3] = 30;
    }
  e2e::fs::create_directories(station.graphics() / "Frames");
  host::ImageWriteOptions options;
  options.keepAlpha = true;
  const std::string swapped = e2e::ReadAll("/usr/share/color/icc/colord/SwappedRedAndGreen.icc");
  options.iccProfile.assign(swapped.begin(), swapped.end());
  ASSERT_TRUE(
      host::WriteImageFile(*frame, station.graphics() / "Frames" / "Band.png", host::ImageFormat::kPng, options).ok());
  int n = 0;
  for (const bool embedded : {true, false}) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.jpg", 400, 600, {20, 20, 220}));
    ASSERT_TRUE(station.Drop(e2e::FramedJob("Framed.jpg", "Band.png", embedded), "framed" + std::to_string(++n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture page = TakePage(station);
    ASSERT_TRUE(page.image);
    const std::string what = embedded ? "with embedded profiles" : "without";
    ExpectNear(page.rgb(100, 900), embedded ? std::array<int, 3>{40, 200, 30} : std::array<int, 3>{200, 40, 30}, 8,
               "band " + what);
    ExpectNear(page.rgb(600, 900), {20, 20, 220}, 6, "photo through the middle " + what);
  }
  EXPECT_EQ(station.Stop(), 0);
}

TEST(PhotoFormats, SixteenBitGreyAndCmykPhotoshopPhotosPrintAndLabFailsNamingItsMode) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  struct Case {
    std::string name;
    testpsd::Image image;
    std::array<int, 3> want;
  };
  std::vector<Case> cases;
  auto make = [](uint16_t mode, uint16_t depth, std::vector<uint16_t> values) {
    testpsd::Image image;
    image.mode = mode;
    image.depth = depth;
    image.width = 60;
    image.height = 90;
    image.packBits = depth == 16;
    for (uint16_t v : values) image.channels.push_back(testpsd::Plane(image, v));
    return image;
  };
  cases.push_back({"Rgb16.psd", make(testpsd::kRGB, 16, {200 * 257, 100 * 257, 50 * 257}), {200, 100, 50}});
  cases.push_back({"Grey16.psd", make(testpsd::kGrey, 16, {90 * 257}), {90, 90, 90}});
  // Photoshop stores CMYK as the paper left (255 = no ink): 50% cyan, no
  // magenta, 20% yellow, no black; without a profile each colour is the
  // paper less its ink.
  cases.push_back({"Cmyk8.psd", make(testpsd::kCMYK, 8, {128, 255, 204, 255}), {128, 255, 204}});
  cases.push_back({"Cmyk16.psd", make(testpsd::kCMYK, 16, {128 * 257, 255 * 257, 204 * 257, 255 * 257}),
                   {128, 255, 204}});
  int n = 0;
  for (const Case& c : cases) {
    WriteBytes(station.images() / c.name, testpsd::Write(c.image));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob(c.name), "psd" + std::to_string(++n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ExpectNear(Centre(TakePage(station)), c.want, 4, c.name);
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());

  // A Lab photo is not damaged: the job fails with its mode named, and the
  // job file and the photo are kept.
  WriteBytes(station.images() / "Lab.psd", testpsd::Write(make(testpsd::kLab, 8, {50, 128, 128})));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Lab.psd"), "lab.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "lab.trpr"); })) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("\"Lab.psd\" is a Photoshop file in a colour mode that cannot be printed (Lab, 8 bits per "
                     "channel)"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("\"Lab.psd\" is damaged"), std::string::npos) << log;
  EXPECT_TRUE(e2e::fs::exists(station.images() / "Lab.psd"));
  EXPECT_EQ(station.Stop(), 0);
}

// Photoshop files with transparency as the image editor writes them (a
// negative layer count, the composite's alpha after its colours), RGB, CMYK
// and grey: as photos their transparent parts print on white, each patch as
// it is over white; as frame graphics they show the photo through their
// transparent middle.
TEST(PhotoFormats, PhotoshopFilesWithTransparencyPrintOnWhiteAndShowThePhotoThroughAFrame) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  // Two columns and three rows of 40 x 40, the page's shape; the colours
  // are greys for the grey file.
  const std::vector<e2e::Patch> colours = {{{200, 40, 30}, 1},  {{30, 160, 90}, 1},   {{63, 16, 16}, 0},
                                           {{20, 40, 200}, 0.5}, {{250, 200, 0}, 0.25}, {{90, 20, 120}, 0.75}};
  std::vector<e2e::Patch> greys = colours;
  for (e2e::Patch& patch : greys) patch.rgb = {patch.rgb[0], patch.rgb[0], patch.rgb[0]};
  ASSERT_TRUE(e2e::WritePatches(work / "colour.png", 2, 3, 40,
                                [&](int32_t c, int32_t r) -> const e2e::Patch& { return colours[size_t(r * 2 + c)]; }));
  ASSERT_TRUE(e2e::WritePatches(work / "grey.png", 2, 3, 40,
                                [&](int32_t c, int32_t r) -> const e2e::Patch& { return greys[size_t(r * 2 + c)]; }));
  struct Case {
    std::string name, source;
    std::vector<std::string> options;
    int tolerance;  // CMYK comes back from the editor's plain conversion within a few levels
  };
  const Case cases[] = {
      {"Rgb.psd", "colour.png", {}, 4},
      {"Rgb16.psd", "colour.png", {"-depth", "16"}, 4},
      {"Cmyk.psd", "colour.png", {"-colorspace", "CMYK"}, 8},
      {"Grey.psd", "grey.png", {"-colorspace", "Gray"}, 4},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::string> words = {"convert", (work / c.source).string()};
    words.insert(words.end(), c.options.begin(), c.options.end());
    words.push_back((station.images() / c.name).string());
    ASSERT_EQ(RunTool(words), 0) << c.name;
    // Without embedded profiles, so that CMYK is converted plainly as the
    // editor made it.
    jobwriter::TJobDescription job = e2e::SetOneJob(c.name);
    job.colorSyncPrefs->applyEmbedded = 0;
    ASSERT_TRUE(station.Drop(job, "psdalpha" + std::to_string(++n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture page = TakePage(station);
    ASSERT_TRUE(page.image) << c.name;
    const std::vector<e2e::Patch>& want = c.source == "grey.png" ? greys : colours;
    for (size_t i = 0; i < 6; ++i) {
      const int32_t x = int32_t((i % 2 * 40 + 20.5) / 80 * page.width()), y = int32_t((i / 2 * 40 + 20.5) / 120 * page.height());
      ExpectNear(page.rgb(x, y), want[i].OverWhite(), c.tolerance, c.name + ", patch " + std::to_string(i));
    }
  }

  // 400 x 600 frames: a band 100 pixels wide around a middle of (63, 16,
  // 16) at alpha 0.
  const e2e::Patch band{{40, 200, 30}, 1}, clear{{63, 16, 16}, 0};
  ASSERT_TRUE(e2e::WritePatches(work / "frame.png", 4, 6, 100, [&](int32_t c, int32_t r) -> const e2e::Patch& {
    return c == 0 || c == 3 || r == 0 || r == 5 ? band : clear;
  }));
  e2e::fs::create_directories(station.graphics() / "Frames");
  for (const std::string space : {"sRGB", "CMYK"}) {
    const std::string frame = space + "Band.psd";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.jpg", 400, 600, {20, 20, 220}));
    ASSERT_EQ(RunTool({"convert", (work / "frame.png").string(), "-colorspace", space,
                       (station.graphics() / "Frames" / frame).string()}),
              0);
    ASSERT_TRUE(station.Drop(e2e::FramedJob("Framed.jpg", frame, false), "psdframe" + space + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture page = TakePage(station);
    ASSERT_TRUE(page.image) << frame;
    ExpectNear(page.rgb(page.width() / 32, page.height() / 2), band.rgb, 8, "band of " + frame);
    ExpectNear(page.rgb(page.width() / 2, page.height() / 2), {20, 20, 220}, 8, "photo through " + frame);
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// Photoshop files as Photoshop stores them (the composite's colours blended
// with white, and at 16 bits the layer information in an 'Lr16' block)
// print as ImageMagick reads them: as photos each patch as it is over
// white, as frame graphics their soft ring over the photo and the photo
// through their clear middle.
TEST(PhotoFormats, PhotoshopFilesAsPhotoshopStoresThemPrintAsImageMagickReadsThem) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  // A Photoshop RGB file of `width` x `height` whose pixels `at` gives.
  const auto psd = [](uint16_t depth, uint32_t width, uint32_t height,
                      const std::function<const e2e::Patch&(uint32_t x, uint32_t y)>& at) {
    testpsd::Image image;
    image.depth = depth;
    image.width = width;
    image.height = height;
    image.transparent = image.photoshopForm = true;
    image.channels.assign(4, testpsd::Plane(image, 0));
    const double top = depth == 16 ? 65535 : 255, scale = depth == 16 ? 257 : 1;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        const e2e::Patch& p = at(x, y);
        for (size_t c = 0; c < 3; ++c) image.channels[c][y * width + x] = uint16_t(p.rgb[c] * scale);
        image.channels[3][y * width + x] = uint16_t(std::lround(p.alpha * top));
      }
    return testpsd::Write(image);
  };
  const std::vector<e2e::Patch> colours = {{{200, 40, 30}, 1},  {{30, 160, 90}, 1},   {{63, 16, 16}, 0},
                                           {{20, 40, 200}, 0.5}, {{250, 200, 0}, 0.25}, {{90, 20, 120}, 0.75}};
  // 400 x 600 frames: a band 50 pixels wide, a ring 50 wide at half
  // transparency inside it, and a clear middle.
  const e2e::Patch band{{40, 200, 30}, 1}, ring{{200, 40, 30}, 0.5}, clear{{63, 16, 16}, 0};
  const auto frameAt = [&](uint32_t x, uint32_t y) -> const e2e::Patch& {
    const uint32_t edge = std::min({x, y, 399 - x, 599 - y});
    return edge < 50 ? band : edge < 100 ? ring : clear;
  };
  e2e::fs::create_directories(station.graphics() / "Frames");
  ASSERT_TRUE(e2e::WritePhoto(work / "photo.png", 400, 600, {20, 20, 220}));
  int n = 0;
  for (const uint16_t depth : {8, 16}) {
    const std::string what = std::to_string(depth) + "-bit ";
    const std::string photo = "Stored" + std::to_string(depth) + ".psd";
    WriteBytes(station.images() / photo, psd(depth, 80, 120, [&](uint32_t x, uint32_t y) -> const e2e::Patch& {
                 return colours[y / 40 * 2 + x / 40];
               }));
    ASSERT_EQ(RunTool({"convert", (station.images() / photo).string() + "[0]", "-background", "white", "-flatten",
                       (work / "photo-reference.png").string()}),
              0);
    const e2e::Picture reference = e2e::ReadPicture(work / "photo-reference.png");
    ASSERT_TRUE(reference.image) << reference.error;
    jobwriter::TJobDescription job = e2e::SetOneJob(photo);
    job.colorSyncPrefs->applyEmbedded = 0;
    ASSERT_TRUE(station.Drop(job, "stored" + std::to_string(++n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture page = TakePage(station);
    ASSERT_TRUE(page.image) << photo;
    for (int32_t i = 0; i < 6; ++i) {
      const int32_t x = i % 2 * 40 + 20, y = i / 2 * 40 + 20;
      ExpectNear(page.rgb(x * page.width() / 80, y * page.height() / 120), reference.rgb(x, y), 2,
                 what + "photo, patch " + std::to_string(i));
    }

    const std::string frame = "StoredBand" + std::to_string(depth) + ".psd";
    WriteBytes(station.graphics() / "Frames" / frame, psd(depth, 400, 600, frameAt));
    ASSERT_EQ(RunTool({"convert", (work / "photo.png").string(), (station.graphics() / "Frames" / frame).string() + "[0]",
                       "-composite", (work / "frame-reference.png").string()}),
              0);
    const e2e::Picture framedReference = e2e::ReadPicture(work / "frame-reference.png");
    ASSERT_TRUE(framedReference.image) << framedReference.error;
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.png", 400, 600, {20, 20, 220}));
    ASSERT_TRUE(station.Drop(e2e::FramedJob("Framed.png", frame, false), "storedframe" + std::to_string(n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture framed = TakePage(station);
    ASSERT_TRUE(framed.image) << frame;
    for (const int32_t x : {25, 75, 200})
      ExpectNear(framed.rgb(x * framed.width() / 400, framed.height() / 2), framedReference.rgb(x, 300), 2,
                 what + "frame at " + std::to_string(x));
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// Photos tagged "upside down" (orientation 3) print turned by a half turn
// whatever their colour model, also where embedded profiles are off and
// grey and CMYK photos are read another way than RGB ones.
TEST(PhotoFormats, UpsideDownGreyAndCmykPhotosAreTurnedAsRgbOnesAre) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  // A dark top third over a light rest, the page's shape.
  const e2e::Patch dark{{40, 40, 40}, 1}, light{{220, 220, 220}, 1};
  ASSERT_TRUE(e2e::WritePatches(work / "halves.png", 2, 3, 40,
                                [&](int32_t, int32_t r) -> const e2e::Patch& { return r == 0 ? dark : light; }));
  struct Case {
    std::string name;
    std::vector<std::string> options;
    bool tiff;
  };
  const Case cases[] = {{"Rgb.tif", {"-type", "TrueColor"}, true},
                        {"Grey.tif", {"-colorspace", "Gray"}, true},
                        {"Cmyk.tif", {"-colorspace", "CMYK"}, true},
                        {"Grey.jpg", {"-colorspace", "Gray"}, false},
                        {"Cmyk.jpg", {"-colorspace", "CMYK"}, false}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string photo = (station.images() / c.name).string();
    std::vector<std::string> words = {"convert", (work / "halves.png").string(), "-alpha", "off"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    words.push_back(photo);
    ASSERT_EQ(RunTool(words), 0) << c.name;
    ASSERT_EQ(c.tiff ? RunTool({"tiffset", "-s", "274", "3", photo})
                     : RunTool({"exiftool", "-q", "-n", "-overwrite_original", "-Orientation=3", photo}),
              0)
        << c.name;
    jobwriter::TJobDescription job = e2e::SetOneJob(c.name);
    job.colorSyncPrefs->applyEmbedded = 0;
    ASSERT_TRUE(station.Drop(job, "upsidedown" + std::to_string(++n) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    const e2e::Picture page = TakePage(station);
    ASSERT_TRUE(page.image) << c.name;
    ExpectNear(page.rgb(page.width() / 2, page.height() / 6), light.rgb, 10, c.name + ", top");
    ExpectNear(page.rgb(page.width() / 2, page.height() * 11 / 12), dark.rgb, 10, c.name + ", bottom");
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
