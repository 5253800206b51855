// CMYK TIFF photos and graphics and mis-tagged photos as the running program
// prints them, patch by patch against the colour tool's reading (tificc):
// every CMYK layout (strips or tiles, interleaved or planar samples, 8 or
// 16 bits, with or without alpha, any compression) prints through its
// embedded profile; its transparent parts print white under a photo and
// show the photo under a frame graphic; a profile of another colour model
// than the pixels' is not used, as the tool refuses it; and grey TIFFs with
// alpha and floating-point TIFFs print each patch as it is over white.
#include "e2e/E2E.h"

#include "common/CmykProfile.h"
#include "common/CmykTiff.h"
#include "common/PsdFile.h"
#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"

namespace {

using Rgb = std::array<int, 3>;

int RunTool(const std::vector<std::string>& words) {
  int status = -1;
  e2e::ToolOutput(words, &status);
  return status;
}

// The one output of set 1, read and removed.
e2e::Picture TakePage(e2e::Station& station) {
  const auto outputs = station.WaitForSetOutput('A', 60);
  EXPECT_FALSE(outputs.empty()) << station.Log();
  if (outputs.empty()) return {};
  e2e::Picture page = e2e::ReadPicture(outputs.front());
  EXPECT_TRUE(page.image) << page.error;
  for (const auto& file : outputs) e2e::fs::remove(file);
  return page;
}

// Prints `photo` (in the images folder) alone on a set-1 page.
e2e::Picture PrintPhoto(e2e::Station& station, const std::string& photo, bool embedded, const std::string& jobName) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo);
  job.colorSyncPrefs->applyEmbedded = embedded ? 1 : 0;
  EXPECT_TRUE(station.Drop(job, jobName));
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  return TakePage(station);
}

// The page pixel at the centre of patch `index` of a picture that fills the
// page (the picture has the page's shape).
Rgb PagePatch(const e2e::Picture& page, const testtiff::Picture& picture, size_t index) {
  if (!page.image) return {-1, -1, -1};
  const double fx = (picture.CentreX(index) + 0.5) / picture.width();
  const double fy = (picture.CentreY(index) + 0.5) / picture.height();
  return page.rgb(int32_t(fx * page.width()), int32_t(fy * page.height()));
}

Rgb OverWhite(const Rgb& colour, double alpha) {
  Rgb out;
  for (size_t c = 0; c < 3; ++c) out[c] = int(std::lround(colour[c] * alpha + 255 * (1 - alpha)));
  return out;
}

int Distance(const Rgb& a, const Rgb& b) {
  return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

void ExpectNear(const Rgb& got, const Rgb& want, int tolerance, const std::string& what) {
  EXPECT_LE(Distance(got, want), tolerance) << what << ": got (" << got[0] << ", " << got[1] << ", " << got[2]
                                            << "), want (" << want[0] << ", " << want[1] << ", " << want[2] << ")";
}

// Six patches of 40 x 40 in two columns and three rows, the page's shape:
// four opaque colours, full black hidden by alpha 0 and a colour at half
// alpha (opaque where the file has no alpha).
testtiff::Picture Patches() {
  testtiff::Picture picture;
  picture.columns = 2;
  picture.rows = 3;
  picture.patchWidth = picture.patchHeight = 40;
  picture.patches = {{{0.5, 0, 0.2, 0}, 1},       {{0, 0.7, 0.1, 0.1}, 1}, {{0.1, 0.1, 0.8, 0}, 1},
                     {{0.3, 0.3, 0.3, 0.3}, 1}, {{0, 0, 0, 1}, 0},       {{0.9, 0.5, 0, 0}, 0.5}};
  return picture;
}

// Each patch's colour as the colour tool reads the picture's inks through
// `profile` (from an opaque, interleaved copy in strips at `bits`), and as
// a conversion without a profile gives it.
struct Readings {
  std::vector<Rgb> tool, plain;
};

Readings Read(const e2e::fs::path& work, const testtiff::Picture& picture, int bits,
              const std::vector<uint8_t>& profile) {
  Readings r;
  const e2e::fs::path in = work / ("opaque" + std::to_string(bits) + ".tif");
  const e2e::fs::path out = work / ("tool" + std::to_string(bits) + ".tif");
  EXPECT_TRUE(testtiff::Write(in, picture, {bits, false, false, testtiff::Alpha::kNone}, profile));
  EXPECT_EQ(RunTool({"tificc", in.string(), out.string()}), 0);
  const e2e::Picture tool = e2e::ReadPicture(out), plain = e2e::ReadPicture(in);
  EXPECT_TRUE(tool.image && plain.image) << tool.error << plain.error;
  for (size_t i = 0; i < picture.patches.size(); ++i) {
    r.tool.push_back(tool.image ? tool.rgb(picture.CentreX(i), picture.CentreY(i)) : Rgb{-1, -1, -1});
    r.plain.push_back(plain.image ? plain.rgb(picture.CentreX(i), picture.CentreY(i)) : Rgb{-1, -1, -1});
  }
  return r;
}

TEST(CmykTiff, EveryLayoutPrintsThroughItsEmbeddedProfileAndItsTransparentPartsOnWhite) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  const std::vector<uint8_t> profile = testprofiles::CmykProfileBytes();
  ASSERT_FALSE(profile.empty());
  const testtiff::Picture picture = Patches();
  const Readings eight = Read(work, picture, 8, profile), sixteen = Read(work, picture, 16, profile);
  // The control: without its profile the inks print far from the tool's
  // reading, so a print that skips the profile cannot pass.
  int farthest = 0;
  for (size_t i = 0; i < 4; ++i) farthest = std::max(farthest, Distance(eight.plain[i], eight.tool[i]));
  EXPECT_GT(farthest, 30);

  using testtiff::Alpha;
  const testtiff::Layout layouts[] = {
      {8, false, false, Alpha::kUnassociated, COMPRESSION_LZW},  // as a photo editor saves transparency
      {8, false, false, Alpha::kAssociated, COMPRESSION_NONE},
      {8, true, false, Alpha::kNone, COMPRESSION_ADOBE_DEFLATE},
      {8, true, true, Alpha::kUnassociated, COMPRESSION_PACKBITS},
      {8, false, true, Alpha::kUnassociated, COMPRESSION_JPEG},
      {16, false, false, Alpha::kUnassociated, COMPRESSION_ADOBE_DEFLATE},
      {16, true, false, Alpha::kNone, COMPRESSION_LZW},
      {16, true, true, Alpha::kAssociated, COMPRESSION_NONE},
      {16, false, true, Alpha::kNone, COMPRESSION_NONE},
  };
  int n = 0;
  for (const testtiff::Layout& layout : layouts) {
    const std::string name = "Cmyk" + std::to_string(++n) + ".tif";
    ASSERT_TRUE(testtiff::Write(station.images() / name, picture, layout, profile)) << layout.Name();
    const e2e::Picture page = PrintPhoto(station, name, true, "layout" + std::to_string(n) + ".trpr");
    ASSERT_TRUE(page.image) << layout.Name();
    const Readings& want = layout.bits == 16 ? sixteen : eight;
    const int tolerance = layout.compression == COMPRESSION_JPEG ? 10 : 6;
    for (size_t i = 0; i < picture.patches.size(); ++i) {
      const double alpha = layout.alpha == Alpha::kNone ? 1 : picture.patches[i].alpha;
      ExpectNear(PagePatch(page, picture, i), OverWhite(want.tool[i], alpha), tolerance,
                 layout.Name() + ", patch " + std::to_string(i));
    }
  }
  const std::string log = station.Log();
  EXPECT_EQ(log.find("profile of the image is not applied"), std::string::npos) << log;
  EXPECT_EQ(log.find("CMYK profile is not applied"), std::string::npos) << log;
  EXPECT_EQ(log.find("is damaged"), std::string::npos) << log;

  // With embedded profiles off, 16-bit files with alpha or in tiles print
  // too: their inks converted plainly, the transparent parts on white.
  for (const testtiff::Layout& layout : {testtiff::Layout{16, true, false, Alpha::kUnassociated, COMPRESSION_LZW},
                                         testtiff::Layout{16, false, true, Alpha::kAssociated, COMPRESSION_NONE}}) {
    const std::string name = "Off" + std::to_string(++n) + ".tif";
    ASSERT_TRUE(testtiff::Write(station.images() / name, picture, layout, profile)) << layout.Name();
    const e2e::Picture page = PrintPhoto(station, name, false, "off" + std::to_string(n) + ".trpr");
    ASSERT_TRUE(page.image) << layout.Name();
    for (size_t i = 0; i < picture.patches.size(); ++i) {
      ExpectNear(PagePatch(page, picture, i), OverWhite(sixteen.plain[i], picture.patches[i].alpha), 6,
                 layout.Name() + " without profiles, patch " + std::to_string(i));
    }
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

TEST(CmykTiff, AFrameGraphicShowsThePhotoThroughItsTransparentParts) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  const std::vector<uint8_t> profile = testprofiles::CmykProfileBytes();
  // A 400 x 600 frame of 100-pixel bands in one ink colour around a middle
  // of full black ink at alpha 0, as a designer saves a frame.
  testtiff::Picture frame;
  frame.columns = 4;
  frame.rows = 6;
  frame.patchWidth = frame.patchHeight = 100;
  for (int row = 0; row < 6; ++row)
    for (int column = 0; column < 4; ++column) {
      const bool band = column == 0 || column == 3 || row == 0 || row == 5;
      frame.patches.push_back(band ? testtiff::Patch{{0.6, 0.1, 0, 0.05}, 1} : testtiff::Patch{{0, 0, 0, 1}, 0});
    }
  testtiff::Picture band = frame;
  band.columns = band.rows = 1;
  band.patches = {frame.patches[0]};
  const Readings want = Read(work, band, 8, profile);
  EXPECT_GT(Distance(want.plain[0], want.tool[0]), 20);  // the profile matters

  e2e::fs::create_directories(station.graphics() / "Frames");
  int n = 0;
  for (const testtiff::Layout& layout :
       {testtiff::Layout{8, false, false, testtiff::Alpha::kUnassociated, COMPRESSION_LZW},
        testtiff::Layout{16, true, true, testtiff::Alpha::kAssociated, COMPRESSION_ADOBE_DEFLATE}}) {
    ASSERT_TRUE(testtiff::Write(station.graphics() / "Frames" / "Band.tif", frame, layout, profile));
    for (const bool embedded : {true, false}) {
      const std::string what = layout.Name() + (embedded ? " with embedded profiles" : " without");
      ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.jpg", 400, 600, {20, 20, 220}));
      ASSERT_TRUE(station.Drop(e2e::FramedJob("Framed.jpg", "Band.tif", embedded), "framed" + std::to_string(++n) + ".trpr"));
      ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
      const e2e::Picture page = TakePage(station);
      ASSERT_TRUE(page.image) << what;
      // The band at a quarter of the first band's width; the middle.
      const int32_t bandX = page.width() / 32, middleX = page.width() / 2, y = page.height() / 2;
      ExpectNear(page.rgb(bandX, y), embedded ? want.tool[0] : want.plain[0], 8, "band, " + what);
      ExpectNear(page.rgb(middleX, y), {20, 20, 220}, 8, "photo through the middle, " + what);
    }
  }
  EXPECT_EQ(station.Stop(), 0);
}

// A grey TIFF, written field by field, with `profile` embedded.
bool WriteGreyTiff(const e2e::fs::path& file, int width, int height, uint8_t level,
                   const std::vector<uint8_t>& profile) {
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.data());
  std::vector<uint8_t> row(size_t(width), level);
  bool ok = true;
  for (int y = 0; y < height && ok; ++y) ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
  TIFFClose(tif);
  return ok;
}

TEST(CmykTiff, PhotosTaggedWithAProfileOfAnotherColourModelPrintTheirOwnColours) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  const std::string greyText = e2e::ReadAll("/usr/share/color/icc/Gray.icc");
  const std::string proPhotoText = e2e::ReadAll("/usr/share/color/icc/colord/ProPhotoRGB.icc");
  ASSERT_FALSE(greyText.empty() || proPhotoText.empty());
  const std::vector<uint8_t> grey(greyText.begin(), greyText.end()), proPhoto(proPhotoText.begin(), proPhotoText.end());

  // Red, green and blue patches over the page's shape, as an RGB photo that
  // a converter tagged with a grey profile.
  const Rgb colours[3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}};
  testtiff::Picture grid;  // only for the patch positions
  grid.columns = 1;
  grid.rows = 3;
  grid.patchWidth = 600;
  grid.patchHeight = 300;
  grid.patches.resize(3);
  host::GWorldHandle rgb = host::GWorld::Create(CLongRect_AC(0, 0, 900, 600));
  for (int y = 0; y < 900; ++y)
    for (int x = 0; x < 600; ++x) {
      uint8_t* p = rgb->scanline(y) + 4 * x;
      p[0] = 255;
      for (size_t c = 0; c < 3; ++c) p[1 + c] = uint8_t(colours[y / 300][c]);
    }
  host::ImageWriteOptions taggedGrey;
  taggedGrey.iccProfile = grey;
  taggedGrey.jpegQuality = 95;
  ASSERT_TRUE(host::WriteImageFile(*rgb, work / "rgb-grey.tif", host::ImageFormat::kTiff, taggedGrey).ok());
  // The colour tool refuses the file: the profile does not fit its pixels.
  EXPECT_NE(RunTool({"tificc", (work / "rgb-grey.tif").string(), (work / "refused.tif").string()}), 0);

  testpsd::Image psd;
  psd.width = 600;
  psd.height = 900;
  for (size_t c = 0; c < 3; ++c) {
    std::vector<uint16_t> plane(size_t(600) * 900);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = uint16_t(colours[i / 600 / 300][c]);
    psd.channels.push_back(std::move(plane));
  }
  psd.icc = grey;
  const std::vector<uint8_t> psdBytes = testpsd::Write(psd);
  int n = 0;
  for (const std::string name : {"RgbGrey.jpg", "RgbGrey.tif", "RgbGrey.psd"}) {
    if (name.ends_with(".psd")) {
      e2e::WriteAll(station.images() / name, std::string(psdBytes.begin(), psdBytes.end()));
    } else {
      const auto format = name.ends_with(".jpg") ? host::ImageFormat::kJpeg : host::ImageFormat::kTiff;
      ASSERT_TRUE(host::WriteImageFile(*rgb, station.images() / name, format, taggedGrey).ok());
    }
    const e2e::Picture page = PrintPhoto(station, name, true, "mistagged" + std::to_string(++n) + ".trpr");
    ASSERT_TRUE(page.image) << name;
    // Read through the grey profile, every patch would be a grey of its red.
    for (size_t i = 0; i < 3; ++i) ExpectNear(PagePatch(page, grid, i), colours[i], 6, name + ", patch " + std::to_string(i));
  }
  EXPECT_GE(e2e::CountOf(station.Log(), "does not fit its colour model (a 'GRAY' profile for RGB pixels)"), 3u)
      << station.Log();

  // A grey photo tagged with an RGB profile prints its grey. The control:
  // the same grey read as RGB through that profile is far from it.
  host::GWorldHandle flat = host::GWorld::Create(CLongRect_AC(0, 0, 8, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) std::fill_n(flat->scanline(y) + 4 * x + 1, 3, uint8_t(90));
  host::ImageWriteOptions taggedProPhoto;
  taggedProPhoto.iccProfile = proPhoto;
  ASSERT_TRUE(host::WriteImageFile(*flat, work / "grey-as-rgb.tif", host::ImageFormat::kTiff, taggedProPhoto).ok());
  ASSERT_EQ(RunTool({"tificc", (work / "grey-as-rgb.tif").string(), (work / "shifted.tif").string()}), 0);
  const e2e::Picture shifted = e2e::ReadPicture(work / "shifted.tif");
  ASSERT_TRUE(shifted.image) << shifted.error;
  EXPECT_GT(Distance(shifted.rgb(4, 4), {90, 90, 90}), 10);

  ASSERT_TRUE(WriteGreyTiff(station.images() / "GreyRgb.tif", 600, 900, 90, proPhoto));
  ASSERT_TRUE(WriteGreyTiff(work / "grey-rgb.tif", 8, 8, 90, proPhoto));
  EXPECT_NE(RunTool({"tificc", (work / "grey-rgb.tif").string(), (work / "refused-grey.tif").string()}), 0);
  ASSERT_EQ(RunTool({"convert", "-size", "600x900", "xc:gray(90)", "-type", "Grayscale", "-quality", "95",
                     (station.images() / "GreyRgb.jpg").string()}),
            0);
  host::ImageMetadataUpdate embed;
  embed.iccProfile = proPhoto;
  ASSERT_TRUE(host::UpdateImageMetadata(station.images() / "GreyRgb.jpg", embed).ok());
  for (const std::string name : {"GreyRgb.tif", "GreyRgb.jpg"}) {
    const e2e::Picture page = PrintPhoto(station, name, true, "grey" + std::to_string(++n) + ".trpr");
    ASSERT_TRUE(page.image) << name;
    ExpectNear(page.rgb(page.width() / 2, page.height() / 2), {90, 90, 90}, 4, name);
  }
  EXPECT_GE(e2e::CountOf(station.Log(), "(a 'RGB ' profile for grey pixels)"), 2u) << station.Log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// Grey TIFFs with alpha as the image editor writes them, 8 and 16 bits,
// unassociated and associated, and floating-point TIFFs (grey and RGB, 16
// and 32 bits) print each patch as it is over white, the grey ones as an
// overlay too; as a frame graphic a grey file shows the photo through its
// transparent middle. A TIFF in a
// form no reader takes fails its job with that form named.
TEST(CmykTiff, GreyWithAlphaAndFloatingPointTiffsPrintTheirPatchesOnWhite) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  // Two columns and three rows of 40 x 40, the page's shape.
  const std::vector<e2e::Patch> greys = {{{200, 200, 200}, 1}, {{90, 90, 90}, 1},   {{0, 0, 0}, 0},
                                         {{60, 60, 60}, 0.5},  {{140, 140, 140}, 0.25}, {{30, 30, 30}, 0.75}};
  const std::vector<e2e::Patch> colours = {{{200, 40, 30}, 1},  {{30, 160, 90}, 1},   {{0, 0, 0}, 0},
                                           {{20, 40, 200}, 0.5}, {{250, 200, 0}, 0.25}, {{90, 20, 120}, 0.75}};
  testtiff::Picture grid;  // only for the patch positions
  grid.columns = 2;
  grid.rows = 3;
  grid.patchWidth = grid.patchHeight = 40;
  grid.patches.resize(6);
  const e2e::fs::path grey = work / "grey.png", colour = work / "colour.png";
  ASSERT_TRUE(e2e::WritePatches(grey, 2, 3, 40, [&](int32_t c, int32_t r) -> const e2e::Patch& { return greys[size_t(r * 2 + c)]; }));
  ASSERT_TRUE(e2e::WritePatches(colour, 2, 3, 40, [&](int32_t c, int32_t r) -> const e2e::Patch& { return colours[size_t(r * 2 + c)]; }));
  struct Case {
    std::string name;
    bool grey;
    std::vector<std::string> options;
  };
  const std::string floating = "quantum:format=floating-point";
  const Case cases[] = {
      {"Grey8.tif", true, {"-depth", "8", "-define", "tiff:alpha=unassociated"}},
      {"Grey8Assoc.tif", true, {"-depth", "8", "-define", "tiff:alpha=associated"}},
      {"Grey16.tif", true, {"-depth", "16", "-define", "tiff:alpha=unassociated", "-compress", "lzw"}},
      {"Grey16Assoc.tif", true, {"-depth", "16", "-define", "tiff:alpha=associated"}},
      {"GreyHalf.tif", true, {"-define", floating, "-depth", "16"}},
      {"GreyFloat.tif", true, {"-define", floating, "-depth", "32", "-compress", "zip"}},
      {"RgbHalf.tif", false, {"-define", floating, "-depth", "16"}},
      {"RgbFloat.tif", false, {"-define", floating, "-depth", "32"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::string> words = {"convert", (c.grey ? grey : colour).string()};
    if (c.grey) words.insert(words.end(), {"-colorspace", "Gray"});
    words.insert(words.end(), c.options.begin(), c.options.end());
    words.push_back((station.images() / c.name).string());
    ASSERT_EQ(RunTool(words), 0) << c.name;
    const bool embedded = ++n % 2 == 0;
    const e2e::Picture page = PrintPhoto(station, c.name, embedded, "greyalpha" + std::to_string(n) + ".trpr");
    ASSERT_TRUE(page.image) << c.name << station.Log();
    for (size_t i = 0; i < 6; ++i)
      ExpectNear(PagePatch(page, grid, i), (c.grey ? greys : colours)[i].OverWhite(), 6,
                 c.name + ", patch " + std::to_string(i));
  }

  // A 400 x 600 frame: a band of grey 80 100 pixels wide around a middle
  // of black at alpha 0, 16-bit grey with associated alpha.
  const e2e::Patch band{{80, 80, 80}, 1}, clear{{0, 0, 0}, 0};
  ASSERT_TRUE(e2e::WritePatches(work / "frame.png", 4, 6, 100, [&](int32_t c, int32_t r) -> const e2e::Patch& {
    return c == 0 || c == 3 || r == 0 || r == 5 ? band : clear;
  }));
  e2e::fs::create_directories(station.graphics() / "Frames");
  ASSERT_EQ(RunTool({"convert", (work / "frame.png").string(), "-colorspace", "Gray", "-depth", "16", "-define",
                     "tiff:alpha=associated", (station.graphics() / "Frames" / "GreyBand.tif").string()}),
            0);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Framed.jpg", 400, 600, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(e2e::FramedJob("Framed.jpg", "GreyBand.tif", false), "greyframe.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const e2e::Picture framed = TakePage(station);
  ASSERT_TRUE(framed.image);
  ExpectNear(framed.rgb(framed.width() / 32, framed.height() / 2), band.rgb, 6, "grey band");
  ExpectNear(framed.rgb(framed.width() / 2, framed.height() / 2), {20, 20, 220}, 8, "photo through the grey frame");
  // The 8-bit grey patches as an overlay over the whole empty page.
  e2e::fs::create_directories(station.graphics() / "Overlays");
  ASSERT_EQ(RunTool({"convert", grey.string(), "-colorspace", "Gray", "-depth", "8", "-define", "tiff:alpha=unassociated",
                     (station.graphics() / "Overlays" / "Patches.tif").string()}),
            0);
  jobwriter::TJobDescription overlay;
  overlay.printer = 25;
  overlay.blocks.print2File.setNumber = 1;
  overlay.objects.push_back(jobwriter::RecordOf(
      *layout::TFileOverlayObject::New(jobwriter::OverlayDesc("Patches.tif", "Overlays", 0, 0, 4, 6))));
  ASSERT_TRUE(station.Drop(overlay, "greyoverlay.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const e2e::Picture overlaid = TakePage(station);
  ASSERT_TRUE(overlaid.image);
  for (size_t i = 0; i < 6; ++i)
    ExpectNear(PagePatch(overlaid, grid, i), greys[i].OverWhite(), 6, "overlay, patch " + std::to_string(i));
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Log().find("is damaged"), std::string::npos) << station.Log();

  // 24-bit floating point is a form no reader takes: the job fails naming
  // it, and keeps its files.
  TIFF* tif = TIFFOpen((station.images() / "Float24.tif").c_str(), "w");
  ASSERT_TRUE(tif);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8u);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8u);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 24);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  std::vector<uint8_t> row(24, 0x3F);
  for (uint32_t y = 0; y < 8; ++y) ASSERT_GE(TIFFWriteScanline(tif, row.data(), y, 0), 0);
  TIFFClose(tif);
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Float24.tif"), "float24.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "float24.trpr"); })) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("\"Float24.tif\" is a TIFF file in a form that cannot be printed (24-bit floating-point samples)"),
            std::string::npos)
      << log;
  EXPECT_TRUE(e2e::fs::exists(station.images() / "Float24.tif"));
  EXPECT_EQ(station.Stop(), 0);
}

// Bilevel TIFFs coded as the tools write them: JBIG (libtiff writes it as
// one strip, which its decoder reads only whole), Group 4 and Group 3 with
// 2-D coding print each black and white patch.
TEST(CmykTiff, BilevelTiffsInJbigAndFaxCodingPrintTheirPatches) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  const e2e::Patch black{{0, 0, 0}, 1}, white{{255, 255, 255}, 1};
  const std::vector<e2e::Patch> patches = {black, white, white, black, black, white};
  testtiff::Picture grid;  // only for the patch positions
  grid.columns = 2;
  grid.rows = 3;
  grid.patchWidth = grid.patchHeight = 40;
  grid.patches.resize(6);
  ASSERT_TRUE(e2e::WritePatches(work / "bw.png", 2, 3, 40,
                                [&](int32_t c, int32_t r) -> const e2e::Patch& { return patches[size_t(r * 2 + c)]; }));
  ASSERT_EQ(RunTool({"convert", (work / "bw.png").string(), "-type", "bilevel", "-depth", "1", "-compress", "none",
                     (work / "bw.tif").string()}),
            0);
  int n = 0;
  for (const std::string coding : {"jbig", "g4", "g3:2d"}) {
    const std::string name = "Bilevel" + std::to_string(++n) + ".tif";
    ASSERT_EQ(RunTool({"tiffcp", "-c", coding, (work / "bw.tif").string(), (station.images() / name).string()}), 0)
        << coding;
    const e2e::Picture page = PrintPhoto(station, name, n % 2 == 0, "bilevel" + std::to_string(n) + ".trpr");
    ASSERT_TRUE(page.image) << coding << station.Log();
    for (size_t i = 0; i < 6; ++i)
      ExpectNear(PagePatch(page, grid, i), patches[i].rgb, 6, coding + ", patch " + std::to_string(i));
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Log().find("is damaged"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
