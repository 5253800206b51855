// The printer characteristics table and the print image record, the system
// printer's characteristics read from a real IPP printer, and the drawing of
// an image file into a bitmap saved as JPEG, turned by quarter turns.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "common/IppPrinter.h"
#include "host/imageio/ImageFile.h"
#include "output/PrintViewController.h"
#include "output/PrinterCharacteristics.h"

namespace {

using namespace output;

TEST(PrinterCharacteristics, TableEntriesFollowTheRequestedResolution) {
  ASSERT_EQ(getDefaultPrinterCharacteristics(1, 151), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.printerType, 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 300);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 3000);
  EXPECT_EQ(gCurrentPrinterInfoStruct.height, 2400);
  EXPECT_EQ(gCurrentPrinterInfoStruct.value, 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.switches, (std::array<int16_t, 10>{1, 1, 0, 1, 0, 1, 1, 1, 0, 0}));

  ASSERT_EQ(getDefaultPrinterCharacteristics(1, 0), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 150);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 1500);
  EXPECT_EQ(gCurrentPrinterInfoStruct.height, 1200);

  ASSERT_EQ(getDefaultPrinterCharacteristics(6, 310), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.value, 2);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 1365);
  ASSERT_EQ(getDefaultPrinterCharacteristics(6, 155), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 682);

  ASSERT_EQ(getDefaultPrinterCharacteristics(12, 0), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 1500);
  EXPECT_EQ(gCurrentPrinterInfoStruct.height, 2100);

  // Types the table does not have leave the record as it was.
  ASSERT_EQ(getDefaultPrinterCharacteristics(24, 0), 0);
  const tPrinterInfoStruct before = gCurrentPrinterInfoStruct;
  for (int16_t type : {0, 4, 9, 13, 23, 25, -1})
    EXPECT_EQ(getDefaultPrinterCharacteristics(type, 300), kNoPrinterCharacteristics) << type;
  EXPECT_EQ(gCurrentPrinterInfoStruct, before);
}

TEST(PrinterCharacteristics, SetupResetsThePrintImageRecordForTheResolutionUsed) {
  gCurrentPrintImageInfo.printQuantity = 100;
  gCurrentPrintImageInfo.mirrorImage = 1;
  ASSERT_EQ(setupPrinterCharacteristics(18, 600, 7), 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.printerType, 8);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 282);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredDPI, 282);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredPrintTemplate, 7);
  EXPECT_EQ(gCurrentPrintImageInfo.printQuantity, 100);
  EXPECT_EQ(gCurrentPrintImageInfo.mirrorImage, 0);
  EXPECT_EQ(gCurrentPrintImageInfo.rotateValue, 3);
  EXPECT_EQ(gCurrentPrintImageInfo.imageNumber, 1);
  EXPECT_EQ(gCurrentPrintImageInfo.totalImages, 1);

  // A code without characteristics keeps the printer record and still resets
  // the image record with the resolution asked for.
  const tPrinterInfoStruct before = gCurrentPrinterInfoStruct;
  for (int16_t quantity : {0, 101}) {
    gCurrentPrintImageInfo.printQuantity = quantity;
    ASSERT_EQ(setupPrinterCharacteristics(2, 222, 3), 1);
    EXPECT_EQ(gCurrentPrintImageInfo.printQuantity, 1) << quantity;
  }
  EXPECT_EQ(gCurrentPrinterInfoStruct, before);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredDPI, 222);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredPrintTemplate, 3);

  ASSERT_EQ(setupPrinterCharacteristics(10, 72, 1), 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.printerType, 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 300);
}

TEST(PrinterCharacteristics, SwitchSettersStoreOnlyZeroOrOne) {
  struct Setter {
    int16_t (*set)(int16_t);
    int16_t* field;
  };
  const Setter setters[] = {
      {setPrintImageInfoDoCheckForMediaType, &gCurrentPrintImageInfo.checkForMediaType},
      {setPrintImageInfoDoPrintAsGrayscale, &gCurrentPrintImageInfo.printAsGrayscale},
      {setPrintImageInfoDoResizeToFitImage, &gCurrentPrintImageInfo.resizeToFitImage},
      {setPrintImageInfoDoLaminateImage, &gCurrentPrintImageInfo.laminateImage},
      {setPrintImageInfoDoMirrorImage, &gCurrentPrintImageInfo.mirrorImage},
      {setPrintImageInfoDoPrintMarkedImages, &gCurrentPrintImageInfo.printMarkedImages},
  };
  for (const Setter& s : setters) {
    EXPECT_EQ(s.set(1), 0);
    EXPECT_EQ(*s.field, 1);
    for (int16_t odd : {2, -1, 32767}) {
      *s.field = 1;
      s.set(odd);
      EXPECT_EQ(*s.field, 0) << odd;
    }
  }
  EXPECT_EQ(setPrintImageInfoSetTrueFalse(nullptr, 1), -1);
  int16_t out = 0;
  EXPECT_EQ(getPrintImageInfoShortValue(nullptr, &out), -1);
  EXPECT_EQ(getPrintImageInfoShortValue(&out, nullptr), -1);
  setPrintImageInfoDoPrintQuantity(42);
  EXPECT_EQ(getPrintImageInfoDoPrintQuantity(&out), 0);
  EXPECT_EQ(out, 42);
}

TEST(PrinterCharacteristics, SystemPrinterTakesItsPaperMarginsResolutionAndColourFromCups) {
  outtest::TempDir dir;
  testipp::IppPrinter printer(dir.path / "printer", testipp::IppPrinter::Options{});
  ASSERT_TRUE(printer.ready()) << printer.log();
  setenv("PRINTER", printer.uri().c_str(), 1);
  unsetenv("LPDEST");

  // Letter paper with 1/4-inch margins on a 600 dpi monochrome printer: the
  // lowest resolution at or above 300 is 600.
  ASSERT_EQ(setupPrinterCharacteristics(kSystemPrinterCode, 300, 5), 1);
  EXPECT_EQ(gCurrentPrinterInfoStruct.printerType, kSystemPrinterType);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 600);
  EXPECT_EQ(gCurrentPrinterInfoStruct.width, 4800);   // 8 inches
  EXPECT_EQ(gCurrentPrinterInfoStruct.height, 6300);  // 10.5 inches
  EXPECT_EQ(gCurrentPrintImageInfo.desiredDPI, 600);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredPrintTemplate, 5);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredImageRect, CRect_AC(150, 150, 6450, 4950));
  EXPECT_EQ(gCurrentPrintImageInfo.printAsGrayscale, 1);

  // Asked for more than it offers, it gets its best.
  ASSERT_EQ(getSystemPrinterCharacteristics(printer.uri(), 1200), 0);
  EXPECT_EQ(gCurrentPrinterInfoStruct.resolution, 600);

  // Nobody there: nothing changes.
  setenv("PRINTER", ("ipp://127.0.0.1:" + std::to_string(testipp::FreeLoopbackPort()) + "/ipp/print").c_str(), 1);
  const tPrinterInfoStruct before = gCurrentPrinterInfoStruct;
  gCurrentPrintImageInfo.desiredPrintTemplate = 9;
  EXPECT_EQ(setupPrinterCharacteristics(kSystemPrinterCode, 300, 5), kNoPrinterCharacteristics);
  EXPECT_EQ(gCurrentPrinterInfoStruct, before);
  EXPECT_EQ(gCurrentPrintImageInfo.desiredPrintTemplate, 9);
  unsetenv("PRINTER");
}

// A square picture in four coloured quarters: red top left, green top
// right, blue bottom left, yellow bottom right.
host::GWorldHandle Quarters(int32_t size) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, size, size));
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      const bool right = x >= size / 2, bottom = y >= size / 2;
      const bool red = !right && !bottom, blue = !right && bottom, yellow = right && bottom;
      p[1] = red || yellow ? 255 : 0;
      p[2] = right ? 255 : 0;
      p[3] = blue ? 255 : 0;
    }
  return g;
}

enum class Colour { Red, Green, Blue, Yellow, White, Other };
Colour ColourAt(const host::GWorld& g, int32_t x, int32_t y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  auto on = [](uint8_t v) { return v > 200; };
  auto off = [](uint8_t v) { return v < 60; };
  if (on(p[1]) && on(p[2]) && on(p[3])) return Colour::White;
  if (on(p[1]) && off(p[2]) && off(p[3])) return Colour::Red;
  if (off(p[1]) && on(p[2]) && off(p[3])) return Colour::Green;
  if (off(p[1]) && off(p[2]) && on(p[3])) return Colour::Blue;
  if (on(p[1]) && on(p[2]) && off(p[3])) return Colour::Yellow;
  return Colour::Other;
}
// Top left, top right, bottom left, bottom right quarter centres.
std::array<Colour, 4> QuarterColours(const host::GWorld& g) {
  const int32_t a = g.width() / 4, b = 3 * g.width() / 4;
  return {ColourAt(g, a, a), ColourAt(g, b, a), ColourAt(g, a, b), ColourAt(g, b, b)};
}

TEST(PrintView, QuarterTurnsKeepTheImageOnTheBitmap) {
  const CGImageRef image(Quarters(60));
  using C = Colour;
  {
    auto context = myCreateBitmapContext(60, 60);
    DrawRotatedCGImageToContext(image, CGRect{0, 0, 60, 60}, context.get(), 0, CPoint_AC(0, 0), 0);
    EXPECT_EQ(QuarterColours(context->Pixels()), (std::array{C::Red, C::Green, C::Blue, C::Yellow}));
  }
  {
    auto context = myCreateBitmapContext(60, 60);
    DrawRotatedCGImageToContext(image, CGRect{0, 0, 60, 60}, context.get(), 180, CPoint_AC(0, 0), 0);
    EXPECT_EQ(QuarterColours(context->Pixels()), (std::array{C::Yellow, C::Blue, C::Green, C::Red}));
  }
  {
    // Three quarter turns clockwise: a quarter turn the other way.
    auto context = myCreateBitmapContext(60, 60);
    DrawRotatedCGImageToContext(image, CGRect{0, 0, 60, 60}, context.get(), 270, CPoint_AC(0, 0), 0);
    EXPECT_EQ(QuarterColours(context->Pixels()), (std::array{C::Green, C::Yellow, C::Red, C::Blue}));
  }
  {
    // Unturned at half size, from the bottom left corner moved right by 30
    // and up by 10 (the offset's vertical counts down the page).
    auto context = myCreateBitmapContext(60, 60);
    DrawRotatedCGImageToContext(image, CGRect{0, 0, 60, 60}, context.get(), 0, CPoint_AC(-10, 30), -0.5f);
    const host::GWorld& g = context->Pixels();
    EXPECT_EQ(ColourAt(g, 10, 10), C::White);
    EXPECT_EQ(ColourAt(g, 37, 27), C::Red);
    EXPECT_EQ(ColourAt(g, 52, 42), C::Yellow);
    EXPECT_EQ(ColourAt(g, 37, 55), C::White);
  }
  EXPECT_EQ(myCreateBitmapContext(0, 10), nullptr);
  EXPECT_EQ(myCreateBitmapContext(10, -1), nullptr);
}

TEST(PrintView, ImageFileDrawnIntoTheBitmapAndSavedInTheProgramsFolder) {
  outtest::TempDir dir;
  const auto photo = dir.path / "quarters.png";
  ASSERT_TRUE(host::WriteImageFile(*Quarters(40), photo, host::ImageFormat::kPng, {}).ok());

  printViewController view(dir.path);
  // Without parameters there is neither a bitmap nor a rectangle.
  view.doInitializeView();
  EXPECT_EQ(view.Context(), nullptr);
  EXPECT_FALSE(view.drawImageView(nullptr));
  EXPECT_FALSE(view.saveToFile());

  // The rectangle starts 10 right and 20 up from the bottom left corner and
  // has the bitmap's size.
  const host::PlistDict params{{"width", int64_t(100)},   {"height", int64_t(80)}, {"filename", photo.string()},
                               {"startx", int64_t(10)},   {"starty", std::string("20")}};
  view.doSetupPrintVariables(&params);
  view.doInitializeView();
  ASSERT_NE(view.Context(), nullptr);
  ASSERT_TRUE(view.drawImageView(&params));
  const host::GWorld& g = view.Context()->Pixels();
  EXPECT_EQ(ColourAt(g, 5, 30), Colour::White);   // left of the rectangle
  EXPECT_EQ(ColourAt(g, 50, 70), Colour::White);  // below it
  EXPECT_EQ(ColourAt(g, 30, 2), Colour::Red);     // the picture's upper half, its top cut off
  EXPECT_EQ(ColourAt(g, 90, 50), Colour::Yellow);

  ASSERT_TRUE(view.saveToFile());
  const host::ImageReadResult saved = host::ReadImageFile(view.SavedFile());
  ASSERT_TRUE(saved.ok()) << saved.error;
  EXPECT_EQ(saved.image->width(), 100);
  EXPECT_EQ(saved.image->height(), 80);
  EXPECT_NEAR(saved.info.xDpi, 300, 0.5);

  // A file that cannot be read draws nothing.
  const host::PlistDict missing{{"filename", (dir.path / "none.jpg").string()}};
  EXPECT_FALSE(view.drawImageView(&missing));
  // Without a file name the image is "myImage.jpg" in the program's folder.
  std::filesystem::copy_file(photo, dir.path / "myImage.jpg");
  const host::PlistDict unnamed{{"width", 10}, {"height", 10}};
  EXPECT_TRUE(view.drawImageView(&unnamed));
}

}  // namespace
