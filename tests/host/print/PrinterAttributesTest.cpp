// The paper, margins, resolution and colour of real IPP printers
// (ippeveprinter) as CUPS reports them, by media name and by default, and a
// printer nobody listens for.
#include <gtest/gtest.h>

#include "common/IppPrinter.h"
#include "common/TempDir.h"
#include "host/print/CupsPrint.h"

namespace {

TEST(PrinterAttributes, PaperMarginsResolutionAndColourComeFromThePrinter) {
  TempDir dir;
  testipp::IppPrinter mono(dir.path() + "/mono", testipp::IppPrinter::Options{});
  ASSERT_TRUE(mono.ready()) << mono.log();
  std::string error;
  auto paper = host::QueryPrinterPaper(mono.uri(), "", &error);
  ASSERT_TRUE(paper) << error;
  EXPECT_EQ(paper->media, "na_letter_8.5x11in");
  EXPECT_EQ(paper->widthHundredthsMM, 21590);
  EXPECT_EQ(paper->lengthHundredthsMM, 27940);
  EXPECT_EQ(paper->topMarginHundredthsMM, 635);
  EXPECT_EQ(paper->leftMarginHundredthsMM, 635);
  EXPECT_EQ(paper->bottomMarginHundredthsMM, 635);
  EXPECT_EQ(paper->rightMarginHundredthsMM, 635);
  EXPECT_EQ(paper->xdpi, 600);
  EXPECT_EQ(paper->ydpi, 600);
  EXPECT_FALSE(paper->color);

  // A named paper has margins of its own.
  auto a4 = host::QueryPrinterPaper(mono.uri(), "iso_a4_210x297mm", &error);
  ASSERT_TRUE(a4) << error;
  EXPECT_EQ(a4->media, "iso_a4_210x297mm");
  EXPECT_EQ(a4->widthHundredthsMM, 21000);
  EXPECT_EQ(a4->leftMarginHundredthsMM, 340);
  EXPECT_EQ(a4->rightMarginHundredthsMM, 340);

  testipp::IppPrinter colour(dir.path() + "/colour", testipp::IppPrinter::Options{.colorSpeed = 5});
  ASSERT_TRUE(colour.ready()) << colour.log();
  auto coloured = host::QueryPrinterPaper(colour.uri(), "", &error);
  ASSERT_TRUE(coloured) << error;
  EXPECT_TRUE(coloured->color);
}

TEST(PrinterAttributes, APrinterNobodyListensForGivesNoPaperAndSaysWhy) {
  const int port = testipp::FreeLoopbackPort();
  std::string error;
  EXPECT_FALSE(host::QueryPrinterPaper("ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print", "", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
