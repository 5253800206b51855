// The kivo-jobwriter program as a newcomer meets it: its help, what it says
// about a wrong argument, and the jobs it writes by default and with web
// data, printed by the running processor.
#include "e2e/E2E.h"

#include "host/sys/Process.h"

namespace {

namespace fs = e2e::fs;

struct WriterRun {
  int status = -1;
  std::string output;  // standard output and error together
};

WriterRun RunWriter(const std::vector<std::string>& arguments) {
  std::string line = "'" + e2e::JobWriterProgram().string() + "'";
  for (const std::string& a : arguments) line += " '" + a + "'";
  line += " 2>&1";
  host::ProcessOptions options;
  options.captureOutput = true;
  options.timeout = std::chrono::seconds(30);
  const host::ProcessResult r = host::runProcess("/bin/sh", {"-c", line}, options);
  return {r.started && !r.timedOut && r.termSignal == 0 ? r.exitStatus : -1, r.output};
}

TEST(JobWriter, HelpExplainsEveryOptionThePrinterCodesAndTheFormats) {
  const WriterRun help = RunWriter({"--help"});
  EXPECT_EQ(help.status, 0) << help.output;
  for (const char* option : {"-o FILE", "--printer N", "--format N", "--canvas N", "--page WxH", "--dpi N",
                             "--quantity N", "--template NAME", "--package NAME", "--base NAME", "--set N",
                             "--web KEY=VALUE", "--image ", "--text ", "--color ", "--stamp ", "--qr ",
                             "--barcode ", "--overlay ", "--group ", "--seed-corpus DIR", "--help"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  // The printer codes and where each one's prints go.
  for (const char* code : {" 8 ", " 17 ", "25-28, 49-52", "any other", "PRINT TO FILE FOLDER", "print-centre"})
    EXPECT_NE(help.output.find(code), std::string::npos) << code;
  // Every format the print-to-file folder writes.
  for (const char* format : {"2 TIFF", "3 JPEG", "4 PICT", "5 RAW", "6 TIFF (uncompressed)", "7 Targa",
                             "8 Photoshop", "9 PNG", "10 JPEG for the web"})
    EXPECT_NE(help.output.find(format), std::string::npos) << format;
  EXPECT_NE(help.output.find("imageurl"), std::string::npos);
}

TEST(JobWriter, AWrongArgumentIsNamedAndNoJobIsWritten) {
  const fs::path dir = fs::temp_directory_path() / ("kivo-writer-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string out = (dir / "job.trpr").string();
  struct Case {
    std::vector<std::string> arguments;
    std::string named;
  };
  const Case cases[] = {
      {{"-o", out, "--bogus"}, "unknown option '--bogus'"},
      {{"-o", out, "--dpi", "lots"}, "bad value 'lots' for --dpi"},
      {{"-o", out, "--dpi", "0"}, "bad value '0' for --dpi"},
      {{"-o", out, "--format", "1"}, "bad value '1' for --format"},
      {{"-o", out, "--page", "4by6"}, "bad value '4by6' for --page"},
      {{"-o", out, "--image", "Photo.jpg@1,2,3"}, "bad value 'Photo.jpg@1,2,3' for --image"},
      {{"-o", out, "--overlay", "NoCategory@0,0,1,1"}, "bad value 'NoCategory@0,0,1,1' for --overlay"},
      {{"-o", out, "--color", "70000,0,0@0,0,1,1"}, "for --color"},
      {{"-o", out, "--web", "=value"}, "bad value '=value' for --web"},
      {{"-o", out, "--printer"}, "--printer needs a value"},
      {{"-o", out, "stray"}, "unexpected argument 'stray'"},
      {{"--printer", "17"}, "-o FILE is required"},
  };
  for (const Case& c : cases) {
    const WriterRun run = RunWriter(c.arguments);
    EXPECT_EQ(run.status, 2) << c.named;
    EXPECT_NE(run.output.find(c.named), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("--help"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(out)) << c.named;
  }
  fs::remove_all(dir);
}

// The job written with nothing but a file name prints: printer 17 writes a
// white 4 x 6 inch JPEG at 300 dpi into the print-to-file folder.
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

}  // namespace
