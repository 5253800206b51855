// What the README and the manuals in docs/ promise, checked through the
// running program: the print log's columns and its fresh start, when the web
// server hears of a job and where the upper print-to-file set codes print;
// and that the documents hold together: the README stays a front page, and
// every link and every test they cite leads somewhere.
#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "e2e/E2E.h"

#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace fs = e2e::fs;

namespace {

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at = text.find(by); at != std::string::npos; at = text.find(by, from)) {
    parts.push_back(text.substr(from, at - from));
    from = at + 1;
  }
  parts.push_back(text.substr(from));
  return parts;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

jobwriter::TJobDescription InfoJob(const std::string& photo, const std::string& a, const std::string& b, bool flag) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Logged");
  job.jobInfo.first = CStr31_AC(a);
  job.jobInfo.second = CStr31_AC(b);
  job.jobInfo.w64 = flag ? 1 : 0;
  return job;
}

// One line per printed job: date, time, seconds, printer, template, the two
// job-information texts and TRUE/FALSE, each followed by a tab, the line
// ended by a carriage return. The log of an earlier run stays until the first
// job of the next run prints, which begins it afresh.
TEST(PrintLog, HoldsOneTabbedLinePerJobAndIsBegunAfreshAfterEachStart) {
  e2e::Station station("printlog");
  e2e::WriteAll(station.printLog(), "an earlier run's line\t\r");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "One.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(InfoJob("One.jpg", "Info A", "Info B", true), "one.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Info A") != std::string::npos; }, 60))
      << station.Log();

  const std::string first = station.PrintLog();
  ASSERT_EQ(e2e::CountOf(first, "\r"), 1u) << first;
  EXPECT_EQ(first.find("an earlier run"), std::string::npos) << first;
  const std::vector<std::string> fields = Split(first, '\t');
  ASSERT_EQ(fields.size(), 9u) << first;
  // "Wed, Dec 9, 2026" and "160619" (hours, minutes, seconds run together).
  const std::vector<std::string> date = Split(fields[0], ' ');
  ASSERT_EQ(date.size(), 4u) << fields[0];
  EXPECT_EQ(date[0].size(), 4u) << fields[0];
  EXPECT_EQ(date[0].back(), ',') << fields[0];
  EXPECT_EQ(date[1].size(), 3u) << fields[0];
  EXPECT_TRUE(AllDigits(date[3]) && date[3].size() == 4) << fields[0];
  EXPECT_TRUE(AllDigits(fields[1]) && fields[1].size() >= 5 && fields[1].size() <= 6) << fields[1];
  EXPECT_TRUE(AllDigits(fields[2])) << fields[2];
  EXPECT_EQ(fields[3].rfind("Printer: ", 0), 0u) << fields[3];
  EXPECT_EQ(fields[4], "Template: Logged");
  EXPECT_EQ(fields[5], "Info A");
  EXPECT_EQ(fields[6], "Info B");
  EXPECT_EQ(fields[7], "TRUE");
  EXPECT_EQ(fields[8], "\r");

  ASSERT_EQ(station.Stop(), 0);
  ASSERT_TRUE(station.Start()) << station.Log();
  // Nothing printed yet in this run: the last run's log is still there.
  EXPECT_EQ(station.PrintLog(), first);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Two.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(InfoJob("Two.jpg", "Second", "Run", false), "two.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Second") != std::string::npos; }, 60))
      << station.Log();
  const std::string second = station.PrintLog();
  EXPECT_EQ(e2e::CountOf(second, "\r"), 1u) << second;
  EXPECT_EQ(second.find("Info A"), std::string::npos) << second;
  EXPECT_NE(second.find("\tSecond\tRun\tFALSE\t\r"), std::string::npos) << second;
  EXPECT_EQ(station.Stop(), 0);
}

// A job with web data naming an image, whose two job-information words
// agree, is told to the web server once its page is in place; one whose words
// differ is not; one that fails is told as failed whatever its words, never
// as processed.
TEST(WebNotification, OnlyAPlacedPageWithAgreeingJobWordsIsToldAsProcessed) {
  e2e::Station station("webnote");
  const e2e::BusWatcher watcher(station.base() / "bus.txt");
  ASSERT_TRUE(station.Start()) << station.Log();
  const std::string tag = station.base().filename().string();
  auto job = [&](const std::string& photo, const std::string& url, uint16_t w70, uint16_t w72) {
    jobwriter::TJobDescription j = e2e::SetOneJob(photo, "Web");
    j.webDictionary = jobwriter::WebDataArchive({{"imageurl", url}, {"order", "4711"}});
    j.jobInfo.w70 = w70;
    j.jobInfo.w72 = w72;
    return j;
  };
  const std::string differ = "https://example.org/" + tag + "-differ.jpg";
  const std::string agree = "https://example.org/" + tag + "-agree.jpg";
  const std::string failed = "https://example.org/" + tag + "-failed.jpg";
  auto signalsFor = [&](const std::string& url) {
    std::vector<e2e::BusWatcher::Signal> found;
    for (const auto& s : watcher.Seen())
      if (s.name == "KivoWebServerNotification" && s.userInfo.find(url) != std::string::npos) found.push_back(s);
    return found;
  };

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Differ.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(job("Differ.jpg", differ, 1, 2), "differ.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Agree.jpg", 300, 450, {20, 220, 20}));
  ASSERT_TRUE(station.Drop(job("Agree.jpg", agree, 3, 3), "agree.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !signalsFor(agree).empty(); }, 60)) << station.Log();
  // Its photo is missing: the job fails, and is told as failed whatever its
  // words.
  ASSERT_TRUE(station.Drop(job("Missing.jpg", failed, 5, 6), "failed.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !signalsFor(failed).empty(); }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();

  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 2u);
  EXPECT_TRUE(signalsFor(differ).empty()) << "the job's words differ";
  const auto told = signalsFor(agree);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].object, "test");
  EXPECT_NE(told[0].userInfo.find("\"senderApp\""), std::string::npos) << told[0].userInfo;
  EXPECT_NE(told[0].userInfo.find("kivo-processor"), std::string::npos) << told[0].userInfo;
  EXPECT_NE(told[0].userInfo.find("\"printJob\""), std::string::npos) << told[0].userInfo;
  EXPECT_NE(told[0].userInfo.find("Job processed by Kivo-Processor"), std::string::npos) << told[0].userInfo;
  EXPECT_NE(told[0].userInfo.find("4711"), std::string::npos) << told[0].userInfo;
  const auto failures = signalsFor(failed);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].userInfo.find("Job failed to process"), std::string::npos) << failures[0].userInfo;
  EXPECT_EQ(failures[0].userInfo.find("Job processed"), std::string::npos) << failures[0].userInfo;
  EXPECT_EQ(e2e::VisibleFiles(station.unknown()).size(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

// A printed job's photos are deleted and its job file removed; with "Delete
// job files after printing" off (keepJobFiles) the job file moves to the
// finished-jobs folder and the photos stay.
TEST(JobFiles, APrintedJobsPhotosAreDeletedUnlessJobFilesAreKept) {
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "deleted");
    e2e::Station station(keep ? "keepfiles" : "deletefiles");
    mySetAllDefaults();
    getMyPrintServerPrefs()->keepJobFiles = keep ? 1 : 0;
    ASSERT_TRUE(station.SetDefault(kPrintServerPrefKey, host::PlistValue(PrintServerPrefBlob())));
    ASSERT_TRUE(station.Start()) << station.Log();
    const fs::path photo = station.images() / "Kept.jpg";
    ASSERT_TRUE(e2e::WritePhoto(photo, 300, 450, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob("Kept.jpg"), "kept.trpr"));
    ASSERT_FALSE(station.WaitForSetOutput('A').empty()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    if (keep) {
      EXPECT_TRUE(station.WaitForFile(station.finished() / "kept.trpr", 30)) << station.Log();
      EXPECT_TRUE(e2e::ExistsAsEntry(photo));
    } else {
      EXPECT_TRUE(station.WaitUntilGone(photo)) << station.Log();
      EXPECT_TRUE(e2e::VisibleFiles(station.finished()).empty());
    }
    EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
    EXPECT_EQ(station.Stop(), 0);
  }
}

// Printer codes 49 to 52 are print-to-file sets 5 to 8; with the factory
// settings they share set A's folder.
TEST(PrinterCodes, TheUpperSetCodesPrintIntoTheSharedSetFolder) {
  e2e::Station station("uppersets");
  ASSERT_TRUE(station.Start()) << station.Log();
  for (int16_t code : {49, 52}) {
    const std::string photo = "Set" + std::to_string(code) + ".jpg";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 300, 450, {20, 20, 220}));
    jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Upper", code);
    job.blocks.print2File.setNumber = int16_t(code - 44);
    ASSERT_TRUE(station.Drop(job, "upper" + std::to_string(code) + ".trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  }
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 2u; }, 30))
      << station.Log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// The README and the documents in docs/.
std::vector<fs::path> Documents() {
  const fs::path source(KIVO_SOURCE_DIR);
  std::vector<fs::path> documents{source / "README.md"};
  for (const auto& entry : fs::directory_iterator(source / "docs"))
    if (entry.path().extension() == ".md") documents.push_back(entry.path());
  return documents;
}

// The lines of a Markdown text outside its fenced code blocks.
std::vector<std::string> ProseLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  bool fenced = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) fenced = !fenced;
    else if (!fenced) lines.push_back(line);
  }
  return lines;
}

// The anchors of a Markdown text's headings, as the forge makes them: lower
// case, spaces as "-", punctuation other than "-" and "_" left out.
std::set<std::string> Anchors(const std::string& text) {
  std::set<std::string> anchors;
  for (const std::string& line : ProseLines(text)) {
    if (line.empty() || line[0] != '#') continue;
    std::string anchor;
    for (const unsigned char c : line.substr(line.find_first_not_of("# "))) {
      if (std::isalnum(c) || c == '-' || c == '_' || c >= 0x80) anchor += char(std::tolower(c));
      else if (c == ' ') anchor += '-';
    }
    anchors.insert(anchor);
  }
  return anchors;
}

// The test cases of tests/, as "Group.Name".
std::set<std::string> TestCases() {
  static const std::regex test(R"(\bTEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\))");
  std::set<std::string> cases;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(KIVO_SOURCE_DIR) / "tests")) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string source = e2e::ReadAll(entry.path());
    for (std::sregex_iterator m(source.begin(), source.end(), test), end; m != end; ++m)
      cases.insert((*m)[1].str() + "." + (*m)[2].str());
  }
  return cases;
}

// The README stays a page a newcomer reads in minutes and names every
// document in docs/; every relative link of the README and of docs/ leads to
// a file (and a heading of it, where it names one), and every test the
// documents cite ("Group.Name", "Group.*", "Group.Prefix*") is one of tests/.
TEST(ReadmeFacts, TheReadmeIsAFrontPageAndEveryLinkAndCitedTestOfTheDocumentsExists) {
  const fs::path source(KIVO_SOURCE_DIR);
  const std::string readme = e2e::ReadAll(source / "README.md");
  EXPECT_LT(e2e::CountOf(readme, "\n"), 150u) << "the README is a front page; the rest belongs in docs/";
  const std::set<std::string> cases = TestCases();
  ASSERT_GT(cases.size(), 100u);
  static const std::regex link(R"(\]\(([^)\s]+)\))");
  static const std::regex cited(R"(`([A-Z]\w*)\.([A-Z]\w*\*?|\*)`)");
  for (const fs::path& document : Documents()) {
    SCOPED_TRACE(document.string());
    const std::string text = e2e::ReadAll(document);
    if (document.parent_path() == source / "docs") {
      EXPECT_NE(readme.find("](docs/" + document.filename().string()), std::string::npos) << "not linked from the README";
    }
    for (const std::string& line : ProseLines(text)) {
      for (std::sregex_iterator m(line.begin(), line.end(), link), end; m != end; ++m) {
        const std::string target = (*m)[1].str();
        if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0) continue;
        const size_t hash = target.find('#');
        const fs::path file = hash == 0 ? document : document.parent_path() / target.substr(0, hash);
        EXPECT_TRUE(fs::is_regular_file(file)) << target << " leads to no file";
        if (hash != std::string::npos && fs::is_regular_file(file)) {
          EXPECT_TRUE(Anchors(e2e::ReadAll(file)).count(target.substr(hash + 1))) << target << " names no heading";
        }
      }
      for (std::sregex_iterator m(line.begin(), line.end(), cited), end; m != end; ++m) {
        const std::string group = (*m)[1].str() + ".", name = (*m)[2].str();
        const bool found = name.back() == '*'
                               ? std::any_of(cases.begin(), cases.end(),
                                             [&](const std::string& c) {
                                               return c.rfind(group + name.substr(0, name.size() - 1), 0) == 0;
                                             })
                               : cases.count(group + name) == 1;
        EXPECT_TRUE(found) << group << name << " is no test of tests/";
      }
    }
  }
}

}  // namespace
