#include "imaging/ImageWriters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "imaging/OutputFileHelpers.h"
#include "imaging/PackBits.h"
#include "imaging/PictReader.h"
#include "platform/FolderSpecs.h"

namespace fs = std::filesystem;

namespace {

uint32_t LE16(const std::string& s, size_t at) { return uint8_t(s[at]) | (uint8_t(s[at + 1]) << 8); }
uint32_t LE32(const std::string& s, size_t at) { return LE16(s, at) | (LE16(s, at + 2) << 16); }

// The expected packed RGB bytes of Gradient(w, h).
std::string PatternRGB(int w, int h) {
  auto g = Gradient(w, h);
  std::string out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.append(reinterpret_cast<const char*>(g->scanline(y) + 4 * x + 1), 3);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// Runs the independent Python reader on a written file.
std::string PythonDecode(const char* kind, const std::string& path) {
  const char* data = std::getenv("KIVO_TEST_DATA");
  const std::string script = std::string(data ? data : "tests/data") + "/../imaging/decode_image.py";
  // The system interpreter starts fastest; any python3 on the path will do.
  const char* python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  const std::string command = std::string(python) + " '" + script + "' " + kind + " '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

struct PrefsFolder {
  explicit PrefsFolder(const std::string& path) {
    saved = gKivoPrefsFSSpec;
    host::MakeFolderSpecFromPath(path, &gKivoPrefsFSSpec);
  }
  ~PrefsFolder() { gKivoPrefsFSSpec = saved; }
  FSSpec saved;
};

}  // namespace

TEST(Writers, OwnTiffHeaderAndRawAreByteExact) {
  TempDir dir;
  auto page = Gradient(3, 2);
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputOwnTIFF, page.get(), SpecOf(dir / "p.tif"), false, -1, 75));
  const std::string tiff = ReadText(dir / "p.tif");
  ASSERT_EQ(tiff.size(), 242u + 18u);
  EXPECT_EQ(tiff.substr(0, 4), std::string("II\x2A\0", 4));
  EXPECT_EQ(LE32(tiff, 4), 8u);
  EXPECT_EQ(LE16(tiff, 8), 16u);
  // Tag, type, count and value of each of the sixteen entries.
  const uint32_t expected[16][4] = {{254, 4, 1, 0},   {256, 3, 1, 3},   {257, 3, 1, 2},   {258, 3, 3, 206},
                                    {259, 3, 1, 1},   {262, 3, 1, 2},   {273, 4, 1, 242}, {277, 3, 1, 3},
                                    {278, 3, 1, 2},   {279, 4, 1, 18},  {280, 3, 3, 212}, {281, 3, 3, 218},
                                    {282, 5, 1, 226}, {283, 5, 1, 234}, {284, 3, 1, 1},   {296, 3, 1, 2}};
  for (int i = 0; i < 16; ++i) {
    const size_t at = 10 + 12 * size_t(i);
    EXPECT_EQ(LE16(tiff, at), expected[i][0]) << i;
    EXPECT_EQ(LE16(tiff, at + 2), expected[i][1]) << i;
    EXPECT_EQ(LE32(tiff, at + 4), expected[i][2]) << i;
    EXPECT_EQ(LE32(tiff, at + 8), expected[i][3]) << i;
  }
  EXPECT_EQ(LE32(tiff, 202), 0u);
  EXPECT_EQ(LE16(tiff, 206), 8u);
  EXPECT_EQ(LE16(tiff, 218), 255u);
  EXPECT_EQ(LE32(tiff, 226), 72u);  // dpi -1 writes 72/1
  EXPECT_EQ(LE32(tiff, 230), 1u);
  EXPECT_EQ(LE32(tiff, 234), 72u);
  EXPECT_EQ(tiff.substr(242), PatternRGB(3, 2));
  // A resolution of 0 is stored as it comes (0/1), as the TIFF route of the
  // set folders writes it; only a negative one stands for 72.
  ASSERT_TRUE(SaveAsTIFFFile(SpecOf(dir / "zero.tif"), page.get(), 0));
  const std::string zero = ReadText(dir / "zero.tif");
  EXPECT_EQ(LE32(zero, 226), 0u);
  EXPECT_EQ(LE32(zero, 230), 1u);
  EXPECT_EQ(LE32(zero, 234), 0u);
  EXPECT_EQ(LE32(zero, 238), 1u);

  // libtiff reads the same pixels back.
  auto back = host::ReadImageFile(dir / "p.tif");
  ASSERT_TRUE(back.ok()) << back.error;
  EXPECT_EQ(Pixel(*back.image, 2, 1) & 0xFFFFFF, Pixel(*page, 2, 1) & 0xFFFFFF);

  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputRAW, page.get(), SpecOf(dir / "p.raw"), false, 300, 75));
  EXPECT_EQ(ReadText(dir / "p.raw"), PatternRGB(3, 2));

  // Writing over an existing file replaces it; code 1 writes nothing.
  auto bigger = Gradient(4, 4);
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputRAW, bigger.get(), SpecOf(dir / "p.raw"), false, 300, 75));
  EXPECT_EQ(ReadText(dir / "p.raw").size(), 48u);
  EXPECT_TRUE(NewSaveOffscreenToFile(1, page.get(), SpecOf(dir / "none.jpg"), false, 300, 75));
  EXPECT_FALSE(fs::exists(dir / "none.jpg"));
}

TEST(Writers, LibraryFormatsReadBack) {
  TempDir dir;
  auto page = Gradient(6, 5);
  for (int16_t format : {kOutputTIFF, kOutputPNG, kOutputJPEG}) {
    const std::string path = dir / ("out" + std::to_string(format));
    ASSERT_TRUE(NewSaveOffscreenToFile(format, page.get(), SpecOf(path), false, 240, 90)) << format;
    auto back = host::ReadImageFile(path);
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.image->width(), 6);
    EXPECT_NEAR(back.info.xDpi, 240, 0.5) << format;
    // The page's alpha is 0 throughout: it carries no transparency, so the
    // PNG is opaque.
    EXPECT_EQ(Pixel(*back.image, 4, 3) >> 24, 255u) << format;
    if (format != kOutputJPEG) {
      EXPECT_EQ(Pixel(*back.image, 4, 3) & 0xFFFFFF, Pixel(*page, 4, 3) & 0xFFFFFF);
    }
  }
  EXPECT_EQ(imaging::JpegQualityFromPercent(75), 75);
  EXPECT_EQ(imaging::JpegQualityFromPercent(768 * 100.0 / 1024), 75);
  EXPECT_EQ(imaging::JpegQualityFromPercent(0), 1);
}

TEST(Writers, OwnTargaPhotoshopAndPictReadByAnIndependentDecoder) {
  TempDir dir;
  auto page = Gradient(3, 2);
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputTarga, page.get(), SpecOf(dir / "p.tga"), false, 300, 75));
  EXPECT_EQ(PythonDecode("tga", dir / "p.tga"), "3 2 " + Hex(PatternRGB(3, 2)));
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputPICT, page.get(), SpecOf(dir / "p.pict"), false, 300, 75));
  EXPECT_EQ(PythonDecode("pict", dir / "p.pict"), "3 2 " + Hex(PatternRGB(3, 2)));
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputPhotoshop, page.get(), SpecOf(dir / "p.psd"), false, 300, 75));
  std::string rgba;
  const std::string rgb = PatternRGB(3, 2);
  for (size_t i = 0; i < rgb.size(); i += 3) rgba += rgb.substr(i, 3) + "\xff";
  EXPECT_EQ(PythonDecode("psd", dir / "p.psd"), "3 2 " + Hex(rgba));
}

TEST(Writers, PictFrameAgreesWithTheResolutionItStates) {
  // Runs of one colour beside noise, so that rows pack both ways.
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, 300, 450));
  std::mt19937 random(5);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 450; ++x) {
      uint8_t* p = page->scanline(y) + 4 * x;
      const bool flat = (x / 50 + y / 40) % 2 == 0;
      p[0] = 0;
      p[1] = flat ? 200 : uint8_t(random());
      p[2] = flat ? 30 : uint8_t(random());
      p[3] = flat ? 30 : uint8_t(random());
    }
  TempDir dir;
  for (const int16_t dpi : {int16_t(150), int16_t(-1), int16_t(300)}) {
    const std::vector<uint8_t> file = imaging::BuildPict(*page, dpi);
    ASSERT_GT(file.size(), 512u);
    // The frame is the page at 72 dpi; the header states the resolution
    // (72 for none) and the page's own 450 x 300.
    const int res = dpi > 0 ? dpi : 72;
    auto be16 = [&](size_t at) { return int(file[at]) << 8 | file[at + 1]; };
    EXPECT_EQ(be16(512 + 6), (300 * 72 + res / 2) / res) << dpi;
    EXPECT_EQ(be16(512 + 8), (450 * 72 + res / 2) / res) << dpi;
    EXPECT_EQ(be16(512 + 20), res) << dpi;
    EXPECT_EQ(be16(512 + 32), 300);
    EXPECT_EQ(be16(512 + 34), 450);
    auto drawn = imaging::DrawPicture(std::span(file).subspan(512));
    ASSERT_TRUE(drawn) << dpi;
    ASSERT_EQ(drawn->width(), 450);
    ASSERT_EQ(drawn->height(), 300);
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 450; ++x) ASSERT_EQ(Pixel(*drawn, x, y) & 0xFFFFFF, Pixel(*page, x, y) & 0xFFFFFF);
    const std::string path = dir / ("p" + std::to_string(res) + ".pict");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    // The independent reader checks the frame against the header itself.
    EXPECT_EQ(PythonDecode("pict", path).substr(0, 8), "450 300 ") << dpi;
  }
  // A page of one pixel's width stores its rows unpacked.
  auto narrow = Gradient(1, 3);
  const std::vector<uint8_t> small = imaging::BuildPict(*narrow, 72);
  auto back = imaging::DrawPicture(std::span(small).subspan(512));
  ASSERT_TRUE(back);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(Pixel(*back, 0, y) & 0xFFFFFF, Pixel(*narrow, 0, y) & 0xFFFFFF);
}

TEST(Writers, PackBitsRowsUnpackToWhatWasPacked) {
  std::vector<std::vector<uint8_t>> rows = {
      {}, {7}, {7, 7}, {1, 2}, std::vector<uint8_t>(129, 9), std::vector<uint8_t>(300, 0)};
  std::vector<uint8_t> literal(130);
  for (size_t i = 0; i < literal.size(); ++i) literal[i] = uint8_t(i);
  rows.push_back(literal);
  literal.insert(literal.begin() + 128, {5, 5, 5});  // a run right at a literal's limit
  rows.push_back(literal);
  rows.push_back({1, 1, 2, 3, 3, 3, 4, 5, 5});
  for (const auto& row : rows) {
    std::vector<uint8_t> packed;
    imaging::PackBitsRow(row, &packed);
    std::vector<uint8_t> back(row.size() + 1, 0xEE);
    ASSERT_TRUE(imaging::UnpackBitsRow(packed, back.data(), row.size())) << row.size();
    EXPECT_TRUE(std::equal(row.begin(), row.end(), back.begin())) << row.size();
    EXPECT_EQ(back[row.size()], 0xEE);
    // Never longer than the row plus one count byte per 128 bytes.
    EXPECT_LE(packed.size(), row.size() + (row.size() + 127) / 128);
  }
  // A run of 300 equal bytes takes three repeats.
  std::vector<uint8_t> packed;
  imaging::PackBitsRow(std::vector<uint8_t>(300, 0), &packed);
  EXPECT_EQ(packed.size(), 6u);
}

TEST(Writers, FailuresLeaveNoFileAndPreferencesFolderPaths) {
  TempDir dir;
  auto page = Gradient(3, 2);
  // A folder that does not exist: the write fails and says so.
  EXPECT_FALSE(NewSaveOffscreenToFile(kOutputJPEG, page.get(), SpecOf(dir / "missing/p.jpg"), false, 300, 75));
  EXPECT_FALSE(NewSaveOffscreenToFile(kOutputRAW, nullptr, SpecOf(dir / "n.raw"), false, 300, 75));
  EXPECT_FALSE(fs::exists(dir / "n.raw"));

  fs::create_directory(dir / "prefs");
  fs::create_directory(dir / "out");
  PrefsFolder prefs(dir / "prefs");
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputPNG, page.get(), SpecOf(dir / "out/p.png"), false, 300, 75, true));
  EXPECT_TRUE(fs::exists(dir / "out/p.png"));
  EXPECT_TRUE(fs::is_empty(dir / "prefs"));
  // Asked for in the preferences folder itself, the file stays there.
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputPNG, page.get(), SpecOf(dir / "prefs/q.png"), false, 300, 75, true));
  EXPECT_TRUE(fs::exists(dir / "prefs/q.png"));
  fs::remove(dir / "prefs/q.png");

  EXPECT_TRUE(fs::is_empty(dir / "KIVO PRIVATE FOLDER")) << "the working file is gone";

  // The working file of the set route: a new private file under a name no
  // one can guess, with the extension of the name asked for (a ":" in it a
  // character of the name), in a folder of mode 0700.
  FSSpec spec = SpecOf(dir / "out/x.jpg");
  spec.name = CStr63_AC::FromMacRoman("a:b.jpg");
  ASSERT_TRUE(NewSaveOffscreenToFileNew(kOutputJPEG, page.get(), spec, false, 300, 80, false));
  std::string written;
  host::GetPathOfFSSpec(spec, &written);
  EXPECT_EQ(fs::path(written).parent_path(), dir / "KIVO PRIVATE FOLDER");
  EXPECT_EQ(fs::path(written).extension(), ".jpg");
  EXPECT_TRUE(host::ReadImageInfo(written).ok());
  EXPECT_EQ(fs::status(dir / "KIVO PRIVATE FOLDER").permissions() & fs::perms::all, fs::perms::owner_all);
  FSSpec again = SpecOf(dir / "out/x.jpg");
  again.name = CStr63_AC::FromMacRoman("a:b.jpg");
  ASSERT_TRUE(NewSaveOffscreenToFileNew(kOutputJPEG, page.get(), again, false, 300, 80, false));
  std::string second;
  host::GetPathOfFSSpec(again, &second);
  EXPECT_NE(second, written) << "every working file is a new one";
  EXPECT_FALSE(fs::exists(dir / "prefs/a:b.jpg"));
  // A private folder left open to others is closed again; one that is a
  // link is not used.
  fs::permissions(dir / "KIVO PRIVATE FOLDER", fs::perms::all, fs::perm_options::replace);
  EXPECT_FALSE(imaging::NewPrivateWorkingFile(".jpg").empty());
  EXPECT_EQ(fs::status(dir / "KIVO PRIVATE FOLDER").permissions() & fs::perms::all, fs::perms::owner_all);
  fs::rename(dir / "KIVO PRIVATE FOLDER", dir / "moved");
  fs::create_directory_symlink(dir / "moved", dir / "KIVO PRIVATE FOLDER");
  EXPECT_TRUE(imaging::NewPrivateWorkingFile(".jpg").empty());
  EXPECT_TRUE(imaging::PrivateFolderPath().empty());

  ASSERT_TRUE(SaveOutputForPrint(page.get()));
  auto info = host::ReadImageInfo(dir / "prefs/OutputForPrint.jpg");
  ASSERT_TRUE(info.ok());
  EXPECT_NEAR(info.info.xDpi, 300, 0.5);
}

// The last customer's page kept in the preferences folder is the program's
// user's alone, under the group's umask too, and an earlier copy left open
// (or a link put at its name) is replaced, never written through.
TEST(Writers, TheKeptPageIsReadableByTheProgramsUserOnly) {
  TempDir dir;
  ScopedUmask mask(002);
  fs::create_directory(dir / "prefs");
  PrefsFolder prefs(dir / "prefs");
  auto page = Gradient(3, 2);
  const fs::path kept = fs::path(dir / "prefs") / "OutputForPrint.jpg";
  std::ofstream(dir / "elsewhere.jpg") << "not the page";
  fs::create_symlink(dir / "elsewhere.jpg", kept);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(SaveOutputForPrint(page.get()));
    struct stat st {};
    ASSERT_EQ(::lstat(kept.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(host::ReadImageInfo(kept).ok());
    ::chmod(kept.c_str(), 0664);  // as an earlier version left it
  }
  std::ifstream in(dir / "elsewhere.jpg");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not the page");
}

TEST(OutputFileHelpers, NamesAndCopies) {
  auto name = [](const char* s) { return getCustomerNameFromFileName(CStr255_AC(s)).ToUTF8(); };
  EXPECT_EQ(name("Smith_0001.jpg"), "Smith");
  EXPECT_EQ(name("Smith copy 2.jpg"), "Smith");
  EXPECT_EQ(name("Jones_x copy.jpg"), "Jones");
  EXPECT_EQ(name("Brown.JPG"), "Brown");
  EXPECT_EQ(name("plain"), "plain");
  EXPECT_EQ(name("trail_"), "trail_");

  TempDir dir;
  EXPECT_EQ(createUniqueNameFromPath(dir / "a.jpg"), dir / "a.jpg");
  WriteText(dir / "a.jpg", "1");
  EXPECT_EQ(createUniqueNameFromPath(dir / "a.jpg"), dir / "a copy.jpg");
  WriteText(dir / "a copy.jpg", "2");
  EXPECT_EQ(createUniqueNameFromPath(dir / "a.jpg"), dir / "a copy 1.jpg");
  WriteText(dir / "a copy 1.jpg", "3");
  EXPECT_EQ(createUniqueNameFromPath(dir / "a.jpg"), dir / "a copy 2.jpg");
  EXPECT_FALSE(createUniqueNameFromPath(""));
  // A name without an extension keeps the "." of the " copy." form.
  WriteText(dir / "noext", "n");
  EXPECT_EQ(createUniqueNameFromPath(dir / "noext"), dir / "noext copy.");

  FileCopyRequest request{false, dir / "a.jpg", dir / "sub/deeper/b.jpg"};
  ASSERT_TRUE(doCopyTheFileNew(request));
  EXPECT_EQ(ReadText(dir / "sub/deeper/b.jpg"), "1");
  WriteText(dir / "a.jpg", "new");
  ASSERT_TRUE(doCopyTheFileNew(request));
  EXPECT_EQ(request.pathToDestItem, dir / "sub/deeper/b copy.jpg");
  EXPECT_EQ(ReadText(dir / "sub/deeper/b.jpg"), "1");
  FileCopyRequest overwrite{true, dir / "a.jpg", dir / "sub/deeper/b.jpg"};
  ASSERT_TRUE(doCopyTheFileNew(overwrite));
  EXPECT_EQ(ReadText(dir / "sub/deeper/b.jpg"), "new");
  FileCopyRequest missing{false, dir / "nothing.jpg", dir / "c.jpg"};
  EXPECT_FALSE(doCopyTheFileNew(missing));

  // Overwriting a file with itself keeps it; a copy that fails keeps the
  // file it was to replace.
  FileCopyRequest itself{true, dir / "a.jpg", dir / "a.jpg"};
  EXPECT_TRUE(doCopyTheFileNew(itself));
  EXPECT_EQ(ReadText(dir / "a.jpg"), "new");
  fs::create_directories(dir / "not a file");
  FileCopyRequest failing{true, dir / "not a file", dir / "sub/deeper/b.jpg"};
  EXPECT_FALSE(doCopyTheFileNew(failing));
  EXPECT_EQ(ReadText(dir / "sub/deeper/b.jpg"), "new");
}

TEST(OutputFileHelpers, PathTextIsEscapedFromMacRoman) {
  TempDir dir;
  WriteText(dir / "\xC3\xA9t\xC3\xA9 1.jpg", "x");  // "été 1.jpg"
  char text[1024];
  fsSpecToCharArray(SpecOf(dir / "\xC3\xA9t\xC3\xA9 1.jpg"), text);
  const std::string path(text);
  ASSERT_FALSE(path.empty());
  // "é" is byte 0x8E in Mac Roman, the blank is escaped too.
  EXPECT_NE(path.find("/%8Et%8E%201.jpg"), std::string::npos) << path;
  EXPECT_EQ(path.find("%C3"), std::string::npos) << path;
  // A character Mac Roman cannot hold leaves no text at all.
  WriteText(dir / "\xE4\xB8\xAD.jpg", "x");
  fsSpecToCharArray(SpecOf(dir / "\xE4\xB8\xAD.jpg"), text);
  EXPECT_EQ(text[0], 0);
}

TEST(Writers, ANegativeJpegQualityIsHeldToTheScale) {
  TempDir dir;
  auto page = Gradient(16, 16);
  EXPECT_EQ(writeGWorldToImageFile(page.get(), SpecOf(dir / "low.jpg"), kOutputJPEG, 72, -40), noErr);
  EXPECT_EQ(writeGWorldToImageFile(page.get(), SpecOf(dir / "zero.jpg"), kOutputJPEG, 72, 0), noErr);
  // Held to 0 like quality 0: the same bytes.
  EXPECT_EQ(ReadText(dir / "low.jpg"), ReadText(dir / "zero.jpg"));
  EXPECT_TRUE(host::ReadImageFile(dir / "low.jpg").ok());
}

TEST(OutputFileHelpers, FormatWriterAndProfileEmbedding) {
  TempDir dir;
  auto page = Gradient(8, 8);
  ASSERT_TRUE(saveCGImageRefToPath(OffscreenToImageRef(page.get()), dir / "q.tif", kOutputTIFF, 75.0f, 200));
  auto tiff = host::ReadImageFile(dir / "q.tif");
  ASSERT_TRUE(tiff.ok());
  EXPECT_EQ(Pixel(*tiff.image, 5, 6) & 0xFFFFFF, Pixel(*page, 5, 6) & 0xFFFFFF);

  // A source with a profile hands it to the output file.
  host::ImageWriteOptions withProfile;
  withProfile.iccProfile = std::vector<uint8_t>(200, 0x5A);
  ASSERT_TRUE(host::WriteImageFile(*page, dir / "src.jpg", host::ImageFormat::kJpeg, withProfile).ok());
  ASSERT_TRUE(saveCGImageRefToPath(OffscreenToImageRef(page.get()), dir / "dst.jpg", kOutputJPEG, 75.0f, 300));
  embedSourceImageProfileInOutputFile(SpecOf(dir / "src.jpg"), SpecOf(dir / "dst.jpg"));
  auto info = host::ReadImageInfo(dir / "dst.jpg");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info.info.iccProfile, withProfile.iccProfile);
}
