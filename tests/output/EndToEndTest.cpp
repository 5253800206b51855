// Jobs written by the job-file writer, read by the job view and sent down
// their output routes in a temporary application folder: print-to-file sets
// with web copy and further set, the single folder, the printer hand-off in
// both forms, and the web notification seen by a second process.
#include <gtest/gtest.h>

#include <fstream>

#include <QCoreApplication>
#include <QProcess>

#include "TestSupport.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ColorAdjust.h"
#include "host/notify/DistributedNotifications.h"
#include "host/sys/Process.h"
#include "host/sys/PropertyList.h"
#include "jobwriter/JobWriter.h"
#include "layout/StoredBytes.h"
#include "output/Notifications.h"
#include "output/OutputFiles.h"
#include "output/PrintToFile.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/FakeServices.h"
#include "pipeline/OutputDispatch.h"
#include "pipeline/PrinterHandOff.h"
#include "platform/FolderSpecs.h"
#include "platform/MachineAddress.h"

namespace fs = std::filesystem;

namespace {

struct CountingServices : FakeServices {
  std::vector<int> counted;
  int prepared = 0;
  void PrepareJobCount(const std::filesystem::path&, int count, int kind, int16_t, int16_t) override {
    prepared = count * 100 + kind;
  }
  void CountJob(const std::filesystem::path&) override { counted.push_back(prepared); }
  void ForgetJobCount(const std::filesystem::path&, bool) override {}
};

// An application folder with set folders, the print-to-file folder, the
// web-upload folder and a print-centre folder; the routes find them through
// the output hooks.
struct Station {
  outtest::TempDir app;
  std::array<tSpecialPrintToFilePref, 9> sets{};
  tSpecialPrintToFilePref web;
  fs::path printCenter;
  bool useNewHandOff = false;
  FSSpec savedPrefs = gKivoPrefsFSSpec;

  Station() {
    // The writers put files through the preferences folder.
    EXPECT_EQ(host::MakeFolderSpecFromPath(app.Sub("Prefs").string(), &gKivoPrefsFSSpec), noErr);
    for (int16_t n = 1; n <= 8; ++n) setMyPrintToFileSetPrefsToFactoryDefaults(&sets[size_t(n)], n);
    setMyWebUploadPrefsToFactoryDefaults(&web);
    output::TOutputEnv env;
    env.resolveFolder = [this](int16_t id) -> std::optional<fs::path> {
      if (id == kPrintToFileAliasID) return app.Sub("PrintToFile");
      if (id == kWebUploadAliasID) return app.Sub("WebUpload");
      if (id > 4510 && id <= 4518) return app.Sub("Set " + std::to_string(id - 4510));
      return std::nullopt;
    };
    env.setPrefs = [this](int16_t n) -> const tSpecialPrintToFilePref* {
      return n >= 1 && n <= 8 ? &sets[size_t(n)] : nullptr;
    };
    env.webUploadPrefs = [this] { return &web; };
    env.outputFileQuality = [] { return int16_t(90); };
    env.desktopFolder = [this] { return app.Sub("Desktop"); };
    pipeline::SetOutputEnvironment(env);
    printCenter = *pipeline::CreatePrintCenterFolderTree(app.path) / "Jobs To Be Printed";
  }
  ~Station() {
    gKivoPrefsFSSpec = savedPrefs;
    pipeline::SetOutputEnvironment({});
  }

  // Reads the job, gives it the page and runs the finish step's dispatch.
  int16_t Run(const jobwriter::TJobDescription& job, host::GWorldHandle page, CountingServices& services,
              const std::string& imageName = "IMG_0042.jpg") {
    const fs::path file = app.path / "job.trpr";
    EXPECT_TRUE(jobwriter::WriteJobFile(job, file));
    services.printCenterFolder = printCenter;
    services.useNewHandOff = useNewHandOff;
    services.dualSwitch = 1;
    pipeline::TSpoolerPrintView view(services);
    EXPECT_EQ(view.ReadObjects(file), pipeline::kResultOK);
    view.SetCurrentImageName(imageName);
    view.pageOffscreen = std::move(page);
    // The dispatch alone: page finishing (mirror, grey, sepia) is tested
    // with page rendering.
    const int16_t result = view.PrepareForPrinter();
    if (result != pipeline::kResultOK) view.SendErrorNotification();
    return result;
  }
};

jobwriter::TJobDescription BaseJob(int16_t printer) {
  jobwriter::TJobDescription j;
  j.printer = printer;
  j.objects.push_back(jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("hello", 1, 1, 2, 1))));
  return j;
}

void StoreSetRecord(jobwriter::TJobDescription& j, const tSpecialPrintToFilePref& rec) {
  j.printToFileSet = rec;
}

host::PlistDict CommentOf(const fs::path& jpeg) {
  auto info = host::ReadImageInfo(jpeg);
  EXPECT_TRUE(info.ok()) << info.error;
  const auto& c = info.info.userComment;
  auto v = host::parsePropertyList(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(c.data()), c.size()));
  return v && v->asDict() ? *v->asDict() : host::PlistDict{};
}

std::pair<int, int> SizeOf(const fs::path& image) {
  auto info = host::ReadImageInfo(image);
  return {info.info.width, info.info.height};
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(OutputEndToEnd, SetJobWritesMainFileWebCopyAndFurtherSet) {
  Station st;
  auto& set1 = st.sets[1];
  set1.fileFormat = 10;
  set1.namingType = 3;
  set1.extension = ".jpg";
  set1.doNotResizeJpegForWeb = 1;
  set1.createJpegForWeb = 1;
  set1.alsoCopyToSet = {3, 2, 0};  // set 2, and set 1 itself (skipped)
  st.sets[2].namingType = 1;
  st.sets[2].baseName = "Copy";

  auto job = BaseJob(25);
  job.blocks.print2File.setNumber = 1;
  job.printQuantity = 2;
  const std::string source = "Macintosh HD:Photos:IMG_0042.jpg";
  job.trailerText.assign(source.begin(), source.end());
  job.jobInfo.w70 = job.jobInfo.w72 = 5;
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(800, 600), services), 0);

  const fs::path set1Folder = st.app.path / "Set 1";
  ASSERT_EQ(Names(set1Folder), (std::vector<std::string>{"IMG_0042 copy.jpg", "IMG_0042.jpg"}));
  EXPECT_EQ(SizeOf(set1Folder / "IMG_0042.jpg"), std::make_pair(800, 600));
  auto comment = CommentOf(set1Folder / "IMG_0042.jpg");
  ASSERT_TRUE(comment.contains("OriginalPath"));
  EXPECT_EQ(*comment.at("OriginalPath").asString(), source);

  const auto web = Names(st.app.path / "WebUpload");
  ASSERT_EQ(web.size(), 1u);
  const auto [ww, wh] = SizeOf(st.app.path / "WebUpload" / web[0]);
  EXPECT_EQ(ww, 640);
  EXPECT_EQ(wh, 480);
  auto webComment = CommentOf(st.app.path / "WebUpload" / web[0]);
  EXPECT_NE(webComment.at("OriginalPath").asString()->find("Set%201/IMG_0042%20copy.jpg"), std::string::npos);

  // A further set writes the job's copies too, at the page's own size.
  ASSERT_EQ(Names(st.app.path / "Set 2"), (std::vector<std::string>{"Copy copy.jpg", "Copy.jpg"}));
  EXPECT_EQ(SizeOf(st.app.path / "Set 2" / "Copy.jpg"), std::make_pair(800, 600));
  EXPECT_EQ(services.counted, std::vector<int>{203});
}

TEST(OutputEndToEnd, SetNamesWithoutABaseAreNumberedAndOverwriteReplaces) {
  Station st;
  st.sets[1].namingType = 0;  // no base name
  auto job = BaseJob(25);
  job.blocks.print2File.setNumber = 1;
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(40, 30), services), 0);
  ASSERT_EQ(st.Run(job, outtest::Page(40, 30), services), 0);
  // Never a hidden ".jpg" or a " copy 1.jpg" that starts with a blank.
  EXPECT_EQ(Names(st.app.path / "Set 1"), (std::vector<std::string>{"0001.jpg", "0002.jpg"}));

  st.sets[2].namingType = 3;
  st.sets[2].overwrite = 1;
  job.blocks.print2File.setNumber = 2;
  ASSERT_EQ(st.Run(job, outtest::Page(40, 30), services), 0);
  ASSERT_EQ(st.Run(job, outtest::Page(50, 30), services), 0);
  EXPECT_EQ(Names(st.app.path / "Set 2"), std::vector<std::string>{"IMG_0042.jpg"});
  EXPECT_EQ(SizeOf(st.app.path / "Set 2" / "IMG_0042.jpg"), std::make_pair(50, 30));
  // Nothing stays behind in the preferences folder the writer went through.
  EXPECT_TRUE(Names(st.app.path / "Prefs").empty());
}

TEST(OutputEndToEnd, ClientAddressChoosesTheSetAndSubfoldersStayInside) {
  Station st;
  st.sets[4].editText = "10.0.0.9 , 10.0.0.5";
  st.sets[4].namingType = 1;
  st.sets[4].baseName = "Web";
  auto job = BaseJob(26);
  job.blocks.print2File.setNumber = 1;
  job.blocks.print2File.w4 = 1;  // subfolders: B, A, customer
  tSpecialPrintToFilePref own;
  own.subFolderName = "../Class_A";
  own.groupFolderName = "School";
  StoreSetRecord(job, own);
  job.webDictionary = outtest::ArchiveOf({{"ipaddress", "10.0.0.5"}});
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(50, 40), services), 0);
  EXPECT_TRUE(fs::exists(st.app.path / "Set 4" / "School" / ".._Class_A" / "Web" / "Web.jpg"));
  EXPECT_FALSE(fs::exists(st.app.path / "Set 1"));
}

TEST(OutputEndToEnd, MissingSetFolderAndFailedWritesFailTheJob) {
  Station st;
  auto job = BaseJob(25);
  job.blocks.print2File.setNumber = 1;
  st.sets[1].fileFormat = 6;  // the own TIFF holds sides of 16 bits only
  CountingServices services;
  EXPECT_EQ(st.Run(job, outtest::Page(70000, 1), services), pipeline::kResultPrinterFile);
  EXPECT_TRUE(services.counted.empty());
  pipeline::TSpoolerPrintView view(services);
  output::TOutputEnv env = pipeline::OutputEnvironment();
  env.resolveFolder = [](int16_t) { return std::optional<fs::path>(); };
  auto out = pipeline::MakeOutputJob(view, std::nullopt);
  out.item.setNumber = 1;
  EXPECT_EQ(output::DoNewPrintToFile(out, outtest::Page(20, 20), env), 106);
}

TEST(OutputEndToEnd, SingleFolderRouteWritesNumberedFiles) {
  Station st;
  auto job = BaseJob(17);
  tSpecialPrintToFilePref own;
  setMyPrintToFileSetPrefsToFactoryDefaults(&own, 1);
  own.namingType = 1;
  own.fileFormat = 6;
  own.baseName = "Single";
  own.extension = ".tif";
  StoreSetRecord(job, own);
  job.printQuantity = 2;
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(30, 20), services), 0);
  EXPECT_EQ(Names(st.app.path / "PrintToFile"), (std::vector<std::string>{"Single_0001.tif", "Single_0002.tif"}));
  EXPECT_EQ(fs::file_size(st.app.path / "PrintToFile" / "Single_0001.tif"), 242u + 30 * 20 * 3);
}

TEST(OutputEndToEnd, YearbookJobNamesFilesFromItsRecordsAndLogsThem) {
  Station st;
  auto job = BaseJob(17);
  tSpecialPrintToFilePref own;
  setMyPrintToFileSetPrefsToFactoryDefaults(&own, 1);
  own.namingType = 2;
  own.hasYearbookRecords = 1;
  own.yearbookFolderName = "Class/7";
  own.yearbookNaming = 1;
  own.yearbookFields = {2, 3, 1, 99};  // strings 0 and 1; none; out of range
  own.yearbookSeparators[0] = "_";
  StoreSetRecord(job, own);
  // The first block in the file is the job's second record (the titles).
  auto put = [](tRecordStruct& r, int i, const std::string& s) {
    r.strings[size_t(i) * 256] = uint8_t(s.size());
    std::copy(s.begin(), s.end(), r.strings.begin() + i * 256 + 1);
  };
  put((*job.yearbookBlocks)[1], 0, "Doe");
  put((*job.yearbookBlocks)[1], 1, "Jane");
  put((*job.yearbookBlocks)[0], 0, "Last");
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(30, 20), services), 0);
  const fs::path folder = st.app.path / "Desktop" / "Yearbook Photos" / "Class_7";
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Doe_Jane.jpg", "Yearbook.read me"}));
  const auto log = outtest::ReadFile(folder / "Yearbook.read me");
  const std::string text(log.begin(), log.end());
  EXPECT_EQ(text.rfind("File Name\tLast\t", 0), 0u);
  EXPECT_NE(text.find("\rDoe_Jane.jpg\tDoe\tJane\t"), std::string::npos);
}

// A yearbook job whose record names no written format fails before it
// empties its folder.
TEST(OutputEndToEnd, AYearbookJobThatWritesNothingFailsAndEmptiesNothing) {
  Station st;
  auto job = BaseJob(17);
  tSpecialPrintToFilePref own;
  setMyPrintToFileSetPrefsToFactoryDefaults(&own, 1);
  own.namingType = 3;
  own.fileFormat = 0;
  own.yearbookFolderName = "Class";
  StoreSetRecord(job, own);
  const fs::path folder = st.app.path / "Desktop" / "Yearbook Photos" / "Class";
  fs::create_directories(folder);
  std::ofstream(folder / "earlier.jpg") << "an earlier pupil";
  CountingServices services;
  EXPECT_EQ(st.Run(job, outtest::Page(30, 20), services), 107);
  EXPECT_TRUE(fs::exists(folder / "earlier.jpg"));
}

TEST(OutputEndToEnd, AYearbookFolderThatIsALinkIsNotEmptied) {
  Station st;
  auto job = BaseJob(17);
  tSpecialPrintToFilePref own;
  setMyPrintToFileSetPrefsToFactoryDefaults(&own, 1);
  own.namingType = 3;  // empties the yearbook folder before writing
  own.yearbookFolderName = "Class";
  StoreSetRecord(job, own);
  const fs::path outside = st.app.path / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "keep.jpg") << "not the program's";
  fs::create_directories(st.app.path / "Desktop" / "Yearbook Photos");
  fs::create_symlink(outside, st.app.path / "Desktop" / "Yearbook Photos" / "Class");
  CountingServices services;
  st.Run(job, outtest::Page(30, 20), services);
  EXPECT_TRUE(fs::exists(outside / "keep.jpg"));
}

TEST(OutputEndToEnd, BinaryHandOffHoldsTheRecordAndThePixels) {
  Station st;
  auto job = BaseJob(2);
  job.isMirror = true;
  job.useColorSettings = true;
  job.printQuantity = 1;
  job.resolution = 300;
  job.templateName = "Portrait 4x6 Classic";
  CountingServices services;
  auto page = outtest::Page(12, 8);
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(convertGWorldToDotSeqHandle(page.get(), &rgb));
  ASSERT_EQ(st.Run(job, std::move(page), services), 0);

  const auto names = Names(st.printCenter);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_NE(names[0].find("_Portrait 4x6 Cl"), std::string::npos);
  EXPECT_EQ(names[0].find("Tempfile_"), std::string::npos);
  const auto bytes = outtest::ReadFile(st.printCenter / names[0]);
  ASSERT_EQ(bytes.size(), 4 + pipeline::kPrintInfoSize + 1 + rgb.size());
  const uint8_t* r = bytes.data() + 4;
  EXPECT_EQ(layout::LoadU32BE(bytes.data()), 15036u);
  EXPECT_EQ(r[0], 0xC3);
  EXPECT_EQ(r[1], 0x1F);
  EXPECT_EQ(layout::LoadU16BE(r + 2), 12);
  EXPECT_EQ(layout::LoadU16BE(r + 4), 8);
  EXPECT_EQ(layout::LoadU16BE(r + 6), 2);
  EXPECT_EQ(layout::LoadU16BE(r + 8), 300);
  EXPECT_EQ(r[10], 1);  // isMirror, low byte first
  EXPECT_EQ(r[11], 0);
  EXPECT_EQ(r[16], 1);  // useColorSettings
  EXPECT_EQ(r[18], 0);  // printQuantity 1 as 00 01
  EXPECT_EQ(r[19], 1);
  EXPECT_EQ(layout::LoadU16BE(r + 20), 1);
  EXPECT_EQ(layout::LoadU32BE(r + 24), rgb.size());
  EXPECT_EQ(layout::LoadU32BE(r + 28), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + pipeline::kPIImageName)), "IMG_0042");
  EXPECT_EQ(bytes[4 + pipeline::kPrintInfoSize], 0xEE);
  EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), bytes.begin() + 4 + pipeline::kPrintInfoSize + 1));
  EXPECT_EQ(services.counted, std::vector<int>{104});

  // A second job in the same second gets a name of its own.
  ASSERT_EQ(st.Run(job, outtest::Page(12, 8), services), 0);
  EXPECT_EQ(Names(st.printCenter).size(), 2u);
}

TEST(OutputEndToEnd, PlanesFollowThePrinter) {
  auto page = outtest::Page(3, 2);
  std::vector<uint8_t> planes;
  ASSERT_EQ(pipeline::DataTypeForPrinter(5), pipeline::kDataPlanesBGR);
  ASSERT_TRUE(pipeline::HandOffImageData(*page, pipeline::kDataPlanesBGR, &planes));
  ASSERT_EQ(planes.size(), 18u);
  EXPECT_EQ(planes[0], page->scanline(0)[3]);       // blue plane first
  EXPECT_EQ(planes[12 + 5], page->scanline(1)[8 + 1]);  // red plane, last pixel
  EXPECT_FALSE(pipeline::HandOffImageData(*page, 3, &planes));
}

TEST(OutputEndToEnd, PairHandOffWritesJpegAndPropertyList) {
  Station st;
  st.useNewHandOff = true;
  auto job = BaseJob(2);
  job.printQuantity = 3;
  job.webDictionary = outtest::ArchiveOf({{"imageurl", "https://example.org/p.jpg"}});
  CountingServices services;
  ASSERT_EQ(st.Run(job, outtest::Page(60, 40), services), 0);
  const fs::path folder = st.printCenter.parent_path() / pipeline::kJobsToBePrintedNew;
  const auto names = Names(folder);
  ASSERT_EQ(names.size(), 2u);
  ASSERT_EQ(names[0].substr(names[0].size() - 5), ".jpeg");
  ASSERT_EQ(names[1].substr(names[1].size() - 6), ".plist");
  const std::string script =
      "import plistlib,sys\n"
      "d=plistlib.load(open(sys.argv[1],'rb'))\n"
      "print(d['printer'],d['width'],d['height'],d['printQuantity'],d['dataType'],d['dataSize'],"
      "sorted(d['sonyPrintSettings'])[0],d['mediaSettings']['turnOn'],d['webServerDictionary']['imageurl'])\n";
  host::ProcessOptions options;
  options.captureOutput = true;
  options.timeout = std::chrono::seconds(30);
  auto res = host::runProcess("python3", {"-c", script, (folder / names[1]).string()}, options);
  ASSERT_TRUE(res.succeeded()) << res.error << res.output;
  const auto jpegSize = fs::file_size(folder / names[0]);
  EXPECT_EQ(res.output, "2 60 40 3 2 " + std::to_string(jpegSize) + " blue 0 https://example.org/p.jpg\n");
}

TEST(OutputEndToEnd, WebNotificationReachesAnotherProcessOncePerOutcome) {
  outtest::EnsureApp();
  ASSERT_TRUE(host::DistributedNotificationCenter::Default().HasSessionBus());
  Station st;
  auto job = BaseJob(17);
  tSpecialPrintToFilePref own;
  setMyPrintToFileSetPrefsToFactoryDefaults(&own, 1);
  own.namingType = 1;
  StoreSetRecord(job, own);
  job.webDictionary = outtest::ArchiveOf({{"imageurl", "https://example.org/a.jpg"}, {"order", "77"}});

  auto listen = [&](auto&& run) {
    QProcess peer;
    peer.start(KIVO_NOTIFY_PEER, {"listen", "KivoWebServerNotification"});
    EXPECT_TRUE(peer.waitForReadyRead(10000));
    EXPECT_EQ(peer.readLine().trimmed(), "ready");
    run();
    EXPECT_TRUE(peer.waitForFinished(10000));
    const QList<QByteArray> fields = peer.readAll().trimmed().split('\t');
    EXPECT_EQ(fields.size(), 3);
    auto info = host::NotificationDictFromJson(fields.value(2).toStdString());
    return info ? *info : host::NotificationDict{};
  };
  CountingServices services;
  auto good = listen([&] { EXPECT_EQ(st.Run(job, outtest::Page(20, 20), services), 0); });
  ASSERT_TRUE(good.contains("printJob"));
  const auto* printJob = good.at("printJob").AsDict();
  EXPECT_EQ(*printJob->at("status").AsString(), output::kJobProcessedStatus);
  EXPECT_EQ(*printJob->at("order").AsString(), "77");
  EXPECT_EQ(*good.at("senderApp").AsString(), "test_output");

  // The print-to-file folder is gone: the job fails and says so once.
  output::TOutputEnv env = pipeline::OutputEnvironment();
  env.resolveFolder = [](int16_t) { return std::optional<fs::path>(); };
  pipeline::SetOutputEnvironment(env);
  auto bad = listen([&] { EXPECT_EQ(st.Run(job, outtest::Page(20, 20), services), 106); });
  ASSERT_TRUE(bad.contains("printJob"));
  EXPECT_EQ(*bad.at("printJob").AsDict()->at("status").AsString(), output::kJobFailedStatus);
}

TEST(OutputEndToEnd, PrinterFamiliesOverrideTheirRecordFields) {
  CountingServices services;
  pipeline::TSpoolerPrintView view(services);
  view.printer = 9;
  view.blocks.colorAdjust[0].values[0].value[0] = 17;  // red
  view.blocks.colorAdjust[0].cocoa.values[0] = 1.5f;
  auto r = pipeline::BuildPrintInfo(view, 10, 20, 600, 2, 0);
  EXPECT_EQ(layout::LoadU16BE(r.data() + pipeline::kPISony + 2), 1);  // useThisSetting
  EXPECT_EQ(layout::LoadU32BE(r.data() + pipeline::kPISony + 4), 0u);
  EXPECT_EQ(layout::LoadU32BE(r.data() + pipeline::kPISony + 64), 3u);
  // The colour-adjust settings are the job's slot from byte 126 on: the
  // Cocoa floats first.
  EXPECT_EQ(layout::BitsToFloat(layout::LoadU32BE(r.data() + pipeline::kPIColorAdjust)), 1.5f);

  view.printer = 45;
  view.blocks.dnp.w0 = 7;
  view.blocks.dnp.w1052 = 2;
  r = pipeline::BuildPrintInfo(view, 10, 20, 600, 2, 0);
  EXPECT_EQ(layout::LoadU16BE(r.data() + pipeline::kPIMitsubishi + 4), 7);
  EXPECT_EQ(layout::LoadU16BE(r.data() + pipeline::kPIMitsubishi + 54), 2);
  EXPECT_EQ(layout::LoadU32BE(r.data() + pipeline::kPIKodak + 4), 0u);  // zero for other printers

  view.printer = 2;
  r = pipeline::BuildPrintInfo(view, 10, 20, 600, 2, 0);
  EXPECT_TRUE(std::all_of(r.begin() + pipeline::kPIColorAdjust,
                          r.begin() + pipeline::kPIColorAdjust + pipeline::kPIColorAdjustSize,
                          [](uint8_t b) { return b == 0; }));
}

TEST(OutputEndToEnd, DnpPrintingModeTwoDoublesTheHeightAndMirrors) {
  Station st;
  auto job = BaseJob(45);
  job.blocks.dnp.w2 = 2;
  CountingServices services;
  auto page = outtest::Page(6, 4);
  std::array<uint8_t, 4> firstPixel;
  std::memcpy(firstPixel.data(), page->scanline(0), 4);
  ASSERT_EQ(st.Run(job, std::move(page), services), 0);
  const auto names = Names(st.printCenter);
  ASSERT_EQ(names.size(), 1u);
  const auto bytes = outtest::ReadFile(st.printCenter / names[0]);
  const uint8_t* r = bytes.data() + 4;
  EXPECT_EQ(layout::LoadU16BE(r + 2), 6);
  EXPECT_EQ(layout::LoadU16BE(r + 4), 8);
  // Mirrored: the old first pixel ends the first row.
  const uint8_t* data = bytes.data() + 4 + pipeline::kPrintInfoSize + 1;
  EXPECT_EQ(data[5 * 3], firstPixel[1]);
  EXPECT_EQ(data[5 * 3 + 2], firstPixel[3]);
}
