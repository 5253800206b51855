// The kivo-jobwriter program as a station developer meets it: its help, what
// it refuses, and each kind of job it writes, printed by the running
// processor: the default page, formats and web data, copies of originals,
// the yearbook route, print settings for printer 8, job information and the
// print log's flag, a client address with the set's web copy and further
// set, and a chroma-keyed photo.
#include "common/IppPrinter.h"
#include "e2e/E2E.h"
#include "e2e/Keying.h"
#include "e2e/PrefsDialog.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;

e2e::WriterRun RunWriter(const std::vector<std::string>& arguments) { return e2e::RunJobWriter(arguments); }

TEST(JobWriter, HelpExplainsEveryOptionThePrinterCodesAndTheFormats) {
  const e2e::WriterRun help = RunWriter({"--help"});
  EXPECT_EQ(help.status, 0) << help.output;
  for (const char* option :
       {"-o FILE", "--printer N", "--format N", "--quality N", "--canvas N", "--page WxH", "--dpi N", "--quantity N",
        "--template NAME", "--package NAME", "--base NAME", "--set N", "--web KEY=VALUE", "--client ADDRESS",
        "--info-a TEXT", "--info-b TEXT", "--log-flag", "--info-words N,M", "--copy-originals", "--yearbook FOLDER",
        "--yearbook-empty-first", "--yearbook-field TITLE=VALUE", "--yearbook-name F", "--print-printer NAME",
        "--print-paper NAME", "--print-orientation portrait|landscape", "--image ", "--keyed ", "--backing R,G,B",
        "--text ", "--color ", "--stamp ", "--qr ", "--barcode ", "--overlay ", "--group ", "--seed-corpus DIR",
        "--help"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  // The printer codes, where each one's prints go, and how a set is chosen.
  for (const char* code : {" 8 ", " 17 ", "25-28, 49-52", "any other code", "PRINT TO FILE FOLDER", "print-centre",
                           "The job's own set number", "25-28 sets 1-4, 49-52 sets 5-8", "WEB UPLOAD FOLDER"})
    EXPECT_NE(help.output.find(code), std::string::npos) << code;
  // Every format the print-to-file folder writes.
  for (const char* format : {"2 TIFF (LZW-compressed)", "3 JPEG", "4 PICT", "5 RAW", "6 TIFF (uncompressed)", "7 Targa",
                             "8 Photoshop", "9 PNG", "10 JPEG for the web"})
    EXPECT_NE(help.output.find(format), std::string::npos) << format;
  // Their extensions, two of them in capitals as printer 17 writes them.
  EXPECT_NE(help.output.find(".tif, .jpg, .pct, .raw, .tga"), std::string::npos);
  EXPECT_NE(help.output.find(".PSD and .PNG"), std::string::npos);
  EXPECT_NE(help.output.find("imageurl"), std::string::npos);
}

// A wrong argument, every value the processor would refuse or could not
// print, and an option that would do nothing for the job's route, is named;
// no job file is written.
TEST(JobWriter, AWrongArgumentOrAValueTheProcessorRefusesIsNamedAndNoJobIsWritten) {
  struct Case {
    std::vector<std::string> arguments;
    std::string named;
  };
  const std::string longName(32, 'n');
  const Case cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--dpi", "lots"}, "bad value 'lots' for --dpi"},
      {{"--dpi", "0"}, "bad value '0' for --dpi"},
      {{"--format", "1"}, "bad value '1' for --format"},
      {{"--page", "4by6"}, "bad value '4by6' for --page"},
      {{"--image", "Photo.jpg@1,2,3"}, "bad value 'Photo.jpg@1,2,3' for --image"},
      {{"--overlay", "NoCategory@0,0,1,1"}, "bad value 'NoCategory@0,0,1,1' for --overlay"},
      {{"--color", "70000,0,0@0,0,1,1"}, "for --color"},
      {{"--web", "=value"}, "bad value '=value' for --web"},
      {{"--printer"}, "--printer needs a value"},
      {{"stray"}, "unexpected argument 'stray'"},
      // What the processor refuses or cannot print.
      {{"--printer", "25", "--set", "9"}, "bad value '9' for --set"},
      {{"--printer", "25", "--set", "0"}, "bad value '0' for --set"},
      {{"--quantity", "40000"}, "bad value '40000' for --quantity"},
      {{"--quantity", "32768"}, "bad value '32768' for --quantity"},
      {{"--set", "2"}, "--set applies to the set printer codes"},
      {{"--printer", "4"}, "bad value '4' for --printer: the processor knows no printer"},
      {{"--printer", "58"}, "bad value '58' for --printer"},
      {{"--printer", "-1"}, "bad value '-1' for --printer"},
      {{"--template", longName}, "for --template: at most 31 characters"},
      {{"--info-a", longName}, "for --info-a: at most 31 characters"},
      {{"--page", "400x400"}, "larger than the processor makes"},
      {{"--page", "0.001x6", "--dpi", "10"}, "has no pixels"},
      {{"--copy-originals"}, "--copy-originals applies to the set printer codes"},
      {{"--printer", "25", "--yearbook", "Class"}, "--yearbook applies to printer 17 only"},
      {{"--yearbook", "A/B"}, "bad value 'A/B' for --yearbook"},
      {{"--yearbook-field", "Name=Anna"}, "need --yearbook FOLDER"},
      {{"--yearbook-empty-first"}, "--yearbook-empty-first needs --yearbook FOLDER"},
      {{"--yearbook", "Class", "--yearbook-field", "Name=Anna", "--yearbook-name", "2"}, "names field 2"},
      {{"--yearbook", "Class", "--yearbook-name", "1,2,3,4,5"}, "bad value '1,2,3,4,5' for --yearbook-name"},
      {{"--print-paper", "a4"}, "apply to printer 8 only"},
      {{"--printer", "8", "--print-orientation", "sideways"}, "portrait or landscape"},
      {{"--info-words", "1"}, "bad value '1' for --info-words"},
      {{"--backing", "300,0,0"}, "bad value '300,0,0' for --backing"},
      {{"--client", "1.2.3.4,5.6.7.8"}, "for --client: one address"},
      {{"--quality", "101"}, "bad value '101' for --quality"},
      // Options that would do nothing for the job's route.
      {{"--printer", "25", "--format", "9"}, "--format 9 does nothing for printer 25"},
      {{"--printer", "8", "--format", "9"}, "--format 9 does nothing for printer 8"},
      {{"--printer", "8", "--quality", "60"}, "--quality 60 does nothing for printer 8"},
      {{"--printer", "1", "--quality", "60"}, "--quality 60 does nothing for printer 1"},
      {{"--printer", "25", "--copy-originals", "--quality", "60"}, "--quality 60 does nothing for printer 25 with"},
      {{"--client", "192.0.2.7"}, "--client 192.0.2.7 does nothing for printer 17"},
      {{"--backing", "0,0,255", "--image", "Photo.jpg@0,0,1,1"}, "--backing 0,0,255 does nothing"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"-o", "{job}"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const e2e::WriterRun run = RunWriter(arguments);
    EXPECT_EQ(run.status, 2) << c.named;
    EXPECT_NE(run.output.find(c.named), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("--help"), std::string::npos) << run.output;
    EXPECT_TRUE(run.job.empty()) << c.named;
  }
  const e2e::WriterRun noFile = RunWriter({"--printer", "17"});
  EXPECT_EQ(noFile.status, 2);
  EXPECT_NE(noFile.output.find("-o FILE is required"), std::string::npos) << noFile.output;
}

// What ImageMagick's identify says of `file` for `format` ("%Q" the JPEG
// quality, "%C" the compression).
std::string Identify(const fs::path& file, const std::string& format) {
  return e2e::ToolOutput({"identify", "-format", format, file.string()});
}

// The job written with nothing but a file name prints: printer 17 writes a
// white 4 x 6 inch JPEG at 300 dpi and quality 90 into the print-to-file
// folder of the application folder. --quality
// gives another quality; --format 2 writes an LZW-compressed TIFF, 6 an
// uncompressed one.
TEST(JobWriter, TheDefaultJobPrintsIntoThePrintToFileFolder) {
  e2e::Station station("writerdefault");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten({}, "default.trpr"));
  const fs::path folder = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ");
  const fs::path page = folder / "Print_0001.jpg";
  ASSERT_TRUE(station.WaitForFile(page)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const e2e::Picture picture = e2e::ReadPicture(page);
  ASSERT_TRUE(picture.image) << picture.error;
  EXPECT_EQ(picture.width(), 1200);
  EXPECT_EQ(picture.height(), 1800);
  const auto [r, g, b] = picture.rgb(600, 900);
  EXPECT_GE(std::min({r, g, b}), 250);
  EXPECT_EQ(station.Log().find("Could not write printer file"), std::string::npos) << station.Log();
  EXPECT_EQ(Identify(page, "%Q"), "90");

  ASSERT_TRUE(station.DropWritten({"--quality", "60"}, "sixty.trpr"));
  ASSERT_TRUE(station.DropWritten({"--format", "2"}, "lzw.trpr"));
  ASSERT_TRUE(station.WaitForFile(folder / "Print_0001.tif")) << station.Log();
  ASSERT_TRUE(station.DropWritten({"--format", "6"}, "plain.trpr"));
  ASSERT_TRUE(station.WaitForFile(folder / "Print_0002.tif")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(Identify(folder / "Print_0002.jpg", "%Q"), "60");
  EXPECT_EQ(Identify(folder / "Print_0001.tif", "%C %w"), "LZW 1200");
  EXPECT_EQ(Identify(folder / "Print_0002.tif", "%C %w"), "None 1200");
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// --format chooses what printer 17 writes; --web gives the job web data, and
// a job whose web data names an image notifies the web server once printed.
TEST(JobWriter, FormatAndWebDataReachTheRunningProgram) {
  e2e::Station station("writerweb");
  const e2e::BusWatcher watcher(station.base() / "bus.txt");
  ASSERT_TRUE(station.Start()) << station.Log();
  const std::string url = "https://example.org/" + station.base().filename().string() + ".jpg";
  ASSERT_TRUE(station.DropWritten({"--format", "9", "--web", "imageurl=" + url, "--web", "order=77"}, "web.trpr"));
  const fs::path page = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ") / "Print_0001.PNG";
  ASSERT_TRUE(station.WaitForFile(page)) << station.Log();
  const e2e::Picture picture = e2e::ReadPicture(page);
  ASSERT_TRUE(picture.image) << picture.error;
  EXPECT_LE(std::max(picture.width(), picture.height()), 640) << "PNG pages are fitted into 640 x 640";
  ASSERT_TRUE(e2e::WaitUntil([&] {
    for (const auto& s : watcher.Seen())
      if (s.name == "KivoWebServerNotification" && s.userInfo.find(url) != std::string::npos) return true;
    return false;
  }, 30)) << station.Log();
  for (const auto& s : watcher.Seen())
    if (s.name == "KivoWebServerNotification" && s.userInfo.find(url) != std::string::npos) {
      EXPECT_NE(s.userInfo.find("Job processed by Kivo-Processor"), std::string::npos) << s.userInfo;
      EXPECT_NE(s.userInfo.find("77"), std::string::npos) << s.userInfo;
    }
  EXPECT_EQ(station.Stop(), 0);
}

// --copy-originals: the set job prints no page; its photo lands in the set's
// folder byte for byte, and the job is logged and leaves the queue.
TEST(JobWriter, CopiesOfOriginalsLandByteForByteInTheSetsFolder) {
  e2e::Station station("writeroriginals");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Original.jpg", 320, 240, {200, 120, 40}, true));
  const std::string original = e2e::ReadAll(station.images() / "Original.jpg");
  ASSERT_TRUE(station.DropWritten({"--printer", "26", "--copy-originals", "--image", "Original.jpg@0,0,4,6"},
                                  "originals.trpr"));
  const auto outputs = station.WaitForSetOutput('A', 60);
  ASSERT_EQ(outputs.size(), 1u) << station.Log();
  EXPECT_EQ(e2e::ReadAll(outputs.front()), original) << outputs.front();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 60)) << station.Log();
  EXPECT_NE(station.PrintLog().find("Printer: Print to File Set 2"), std::string::npos) << station.PrintLog();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// --yearbook: printer 17's yearbook route writes into "Yearbook Photos" of
// the desktop folder, names the page after the fields --yearbook-name
// chooses and lists it in "Yearbook.read me" under the fields' titles; a
// job with --yearbook-empty-first empties the folder before its page.
TEST(JobWriter, TheYearbookRouteWritesIntoItsDesktopFolderWithItsReadMe) {
  e2e::Station station("writeryearbook");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten({"--yearbook", "Class 7B", "--yearbook-field", "First name=Anna", "--yearbook-field",
                                   "Surname=Smith", "--yearbook-name", "2,1", "--color", "0,65535,0@0,0,4,6"},
                                  "anna.trpr"));
  const fs::path folder = station.base() / "Desktop" / "Yearbook Photos" / "Class 7B";
  ASSERT_TRUE(station.WaitForFile(folder / "Smith_Anna.jpg")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const e2e::Picture picture = e2e::ReadPicture(folder / "Smith_Anna.jpg");
  ASSERT_TRUE(picture.image) << picture.error;
  EXPECT_GT(picture.rgb(600, 900)[1], 240);
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(folder / "Yearbook.read me"); }, 30));
  const std::string readMe = e2e::ReadAll(folder / "Yearbook.read me");
  EXPECT_EQ(readMe.rfind("File Name\tFirst name\tSurname\t", 0), 0u) << readMe;
  EXPECT_NE(readMe.find("\rSmith_Anna.jpg\tAnna\tSmith\t"), std::string::npos) << readMe;
  EXPECT_TRUE(e2e::VisibleFiles(station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ")).empty());

  ASSERT_TRUE(station.DropWritten({"--yearbook", "Class 7B", "--yearbook-empty-first"}, "fresh.trpr"));
  ASSERT_TRUE(station.WaitForFile(folder / "Print_0001.jpg")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_FALSE(fs::exists(folder / "Smith_Anna.jpg"));
  EXPECT_EQ(station.Stop(), 0);
}

// --print-printer, --print-paper and --print-orientation: a printer-8 job
// names the printer it prints on (here an IPP printer of the test's own,
// with no PRINTER or LPDEST set), its paper and its orientation.
TEST(JobWriter, PrintSettingsNameThePrinterThePaperAndTheOrientation) {
  e2e::Station station("writerprintinfo");
  testipp::IppPrinter printer(station.base() / "printer", "image/jpeg");
  ASSERT_TRUE(printer.ready()) << printer.log();
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 600, 900, {20, 200, 20}));
  ASSERT_TRUE(station.DropWritten({"--printer", "8", "--print-printer", printer.uri(), "--print-paper", "letter",
                                   "--print-orientation", "portrait", "--image", "Green.jpg@0,0,4,6"},
                                  "letter.trpr"));
  std::vector<fs::path> documents;
  ASSERT_TRUE(e2e::WaitUntil([&] { return !(documents = printer.documents()).empty(); }, 60)) << station.Log();
  // The printer writes the job's attributes beside the document as it takes it.
  std::string attributes;
  e2e::WaitUntil([&] {
    attributes = e2e::ReadAll(documents.front().string() + ".env");
    return attributes.find("IPP_MEDIA=") != std::string::npos &&
           attributes.find("IPP_ORIENTATION_REQUESTED=") != std::string::npos;
  }, 30);
  EXPECT_NE(attributes.find("IPP_MEDIA=na_letter_8.5x11in"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("IPP_ORIENTATION_REQUESTED=portrait"), std::string::npos) << attributes;
  const e2e::Picture sheet = e2e::ReadPicture(documents.front());
  ASSERT_TRUE(sheet.image) << sheet.error;
  EXPECT_LT(sheet.width(), sheet.height()) << "a portrait letter sheet";
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// --info-a, --info-b and --log-flag fill the print log's last three fields;
// --info-words with two different words keeps the web server from being
// told the job was processed, equal words let it be told.
TEST(JobWriter, JobInformationFillsThePrintLogAndItsWordsDecideTheWebNotice) {
  e2e::Station station("writerinfo");
  const e2e::BusWatcher watcher(station.base() / "bus.txt");
  ASSERT_TRUE(station.Start()) << station.Log();
  const std::string tag = station.base().filename().string();
  const std::string differ = "https://example.org/" + tag + "-differ.jpg";
  const std::string agree = "https://example.org/" + tag + "-agree.jpg";
  ASSERT_TRUE(station.DropWritten({"--template", "Info", "--info-a", "Order 17", "--info-b", "Lab 2", "--log-flag",
                                   "--info-words", "1,2", "--web", "imageurl=" + differ},
                                  "differ.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 60)) << station.Log();
  EXPECT_NE(station.PrintLog().find("\tTemplate: Info\tOrder 17\tLab 2\tTRUE\t\r"), std::string::npos)
      << station.PrintLog();
  // The second job is taken after the first: once its notice is on the bus,
  // one for the first would have come before it.
  ASSERT_TRUE(station.DropWritten({"--info-words", "3,3", "--web", "imageurl=" + agree}, "agree.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] {
    for (const auto& s : watcher.Seen())
      if (s.name == "KivoWebServerNotification" && s.userInfo.find(agree) != std::string::npos) return true;
    return false;
  }, 60)) << station.Log();
  for (const auto& s : watcher.Seen()) EXPECT_EQ(s.userInfo.find(differ), std::string::npos) << s.userInfo;
  // The second job's line follows its notice.
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::CountOf(station.PrintLog(), "\r") == 2; }, 60)) << station.Log();
  EXPECT_NE(station.PrintLog().find("\tTemplate: Template\t\t\tFALSE\t\r"), std::string::npos) << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

// --client: the set whose client list names the address prints the job
// instead of its own set, with that set's web copy and its copy into a
// further set; the print log names the set that printed.
TEST(JobWriter, AClientAddressChoosesTheSetWithItsWebCopyAndFurtherSet) {
  e2e::Station station("writerclient");
  e2e::WritePrefs(station.defaultsFile(), [] {
    tSpecialPrintToFilePref* three = getMyPrintToFileSetPrefs(3);
    three->editText = "192.0.2.1, 192.0.2.7";
    three->fileFormat = kFormatTIFF;
    three->extension = ".tif";
    three->createJpegForWeb = 1;
    three->alsoCopyToSet = {5, 0, 0};  // set 4
    tSpecialPrintToFilePref* four = getMyPrintToFileSetPrefs(4);
    four->fileFormat = kFormatPNG;
    four->extension = ".png";
    getMyWebUploadPrefs()->folder.createIfMissing = 1;
  });
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 400, 600, {220, 20, 20}));
  ASSERT_TRUE(station.DropWritten({"--printer", "25", "--client", "192.0.2.7", "--image", "Red.jpg@0,0,4,6"},
                                  "client.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 60)) << station.Log();
  EXPECT_NE(station.PrintLog().find("Printer: Print to File Set 3"), std::string::npos) << station.PrintLog();
  std::vector<std::string> names;
  for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A'))) names.push_back(p.filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"Red.png", "Red.tif"}));
  EXPECT_EQ(e2e::VisibleFiles(station.app() / fs::u8path("WEB UPLOAD FOLDER ƒ")).size(), 1u);
  const e2e::Picture tiff = e2e::ReadPicture(station.SetFolder('A') / "Red.tif");
  ASSERT_TRUE(tiff.image) << tiff.error;
  EXPECT_EQ(tiff.width(), 1200);
  EXPECT_EQ(station.Stop(), 0);
}

// --keyed: a green-screen photo over a blue rectangle drawn before it; the
// backing gives way to the blue, the subject stays.
TEST(JobWriter, AKeyedPhotoShowsWhatIsDrawnBeforeItThroughItsBacking) {
  e2e::Station station("writerkeyed");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WriteGreenScreen(station.images() / "Green.png", 200, 300, 60, 100, 140, 200));
  const std::string backing = std::to_string(e2e::kBacking[0]) + "," + std::to_string(e2e::kBacking[1]) + "," +
                              std::to_string(e2e::kBacking[2]);
  ASSERT_TRUE(station.DropWritten({"--page", "2x3", "--dpi", "100", "--color", "0,0,65535@0,0,2,3", "--backing",
                                   backing, "--keyed", "Green.png@0,0,2,3"},
                                  "keyed.trpr"));
  const fs::path page = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ") / "Print_0001.jpg";
  ASSERT_TRUE(station.WaitForFile(page)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const e2e::Picture picture = e2e::ReadPicture(page);
  ASSERT_TRUE(picture.image) << picture.error;
  ASSERT_EQ(picture.width(), 200);
  ASSERT_EQ(picture.height(), 300);
  const auto subject = picture.rgb(100, 150), corner = picture.rgb(15, 15);
  EXPECT_GT(subject[0], 180) << "the subject stays";
  EXPECT_LT(subject[2], 80);
  EXPECT_LT(corner[0], 80) << "the backing gives way to the blue";
  EXPECT_LT(corner[1], 80);
  EXPECT_GT(corner[2], 180);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
