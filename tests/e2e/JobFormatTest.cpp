// docs/JOB-FORMAT.md against the program: its annotated dump is the job the
// writer makes from the command line above it, byte for byte, the record
// sizes it gives are those the reader reads, and the job of the dump prints
// as the page says.
#include <regex>

#include "e2e/E2E.h"
#include "chromakey/ChromaKeySettings.h"
#include "layout/Descriptors.h"
#include "pipeline/PrinterRecords.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;

std::string Document() { return e2e::ReadAll(fs::path(KIVO_SOURCE_DIR) / "docs" / "JOB-FORMAT.md"); }

// The writer's arguments of the dump's command line, after the program name
// (its "-o sample.trpr" included).
std::vector<std::string> DumpCommand(const std::string& doc) {
  const std::string prompt = "$ kivo-jobwriter ";
  const size_t at = doc.find(prompt);
  if (at == std::string::npos) return {};
  std::istringstream words(doc.substr(at + prompt.size(), doc.find('\n', at) - at - prompt.size()));
  std::vector<std::string> arguments;
  for (std::string w; words >> w;) arguments.push_back(w);
  return arguments;
}

struct Dump {
  std::vector<uint8_t> bytes;
  size_t end = 0;           // the offset of the closing line
  std::string error;        // the first line that does not read
};

// The bytes of the ```hexdump block: each line "OFFSET  BYTES | note", the
// offset in hexadecimal and equal to the bytes so far, the bytes as hex
// pairs or "00 x N"; the last line gives the end of the file.
Dump ReadDump(const std::string& doc) {
  Dump dump;
  const size_t open = doc.find("```hexdump\n");
  const size_t close = open == std::string::npos ? open : doc.find("```", open + 11);
  if (close == std::string::npos) {
    dump.error = "no hexdump block";
    return dump;
  }
  std::istringstream lines(doc.substr(open + 11, close - open - 11));
  const std::regex line(R"(^([0-9a-f]{6})  ([^|]*)\|.*$)");
  const std::regex zeros(R"(^00 x ([0-9]+)$)");
  for (std::string text; std::getline(lines, text);) {
    if (text.empty() || text.rfind("      ", 0) == 0) continue;  // a heading line
    std::smatch m;
    if (!std::regex_match(text, m, line)) {
      dump.error = "unreadable line: " + text;
      return dump;
    }
    const size_t offset = std::stoul(m[1].str(), nullptr, 16);
    if (offset != dump.bytes.size()) {
      dump.error = "the line at " + m[1].str() + " follows " + std::to_string(dump.bytes.size()) + " bytes";
      return dump;
    }
    std::string bytes = m[2].str();
    while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
    std::smatch run;
    if (bytes.empty()) {
      dump.end = offset;
    } else if (std::regex_match(bytes, run, zeros)) {
      dump.bytes.insert(dump.bytes.end(), std::stoul(run[1].str()), 0);
    } else {
      std::istringstream pairs(bytes);
      for (std::string pair; pairs >> pair;) {
        if (pair.size() != 2 || !std::isxdigit(uint8_t(pair[0])) || !std::isxdigit(uint8_t(pair[1]))) {
          dump.error = "not a byte: " + pair + " in " + text;
          return dump;
        }
        dump.bytes.push_back(uint8_t(std::stoul(pair, nullptr, 16)));
      }
    }
  }
  return dump;
}

TEST(JobFormat, TheAnnotatedDumpIsWhatTheWriterWrites) {
  const std::string doc = Document();
  ASSERT_FALSE(doc.empty());
  std::vector<std::string> arguments = DumpCommand(doc);
  ASSERT_GE(arguments.size(), 2u);
  ASSERT_EQ(arguments[0], "-o");
  arguments[1] = "{job}";
  const e2e::WriterRun written = e2e::RunJobWriter(arguments);
  ASSERT_EQ(written.status, 0) << written.output;
  const Dump dump = ReadDump(doc);
  ASSERT_TRUE(dump.error.empty()) << dump.error;
  EXPECT_EQ(dump.end, dump.bytes.size()) << "the closing line gives another end";
  ASSERT_EQ(dump.bytes.size(), written.job.size());
  for (size_t i = 0; i < dump.bytes.size(); ++i)
    ASSERT_EQ(int(dump.bytes[i]), int(written.job[i])) << "first difference at offset 0x" << std::hex << i;
  // Each "+N" note of the print-to-file set record names the line's offset
  // in the record.
  const size_t heading = doc.find("| -- the job's print-to-file set record");
  ASSERT_NE(heading, std::string::npos);
  std::istringstream lines(doc.substr(doc.find('\n', heading) + 1));
  const std::regex field(R"(^([0-9a-f]{6})  [^|]*\| \+([0-9]+)[ :].*$)");
  size_t start = std::string::npos;
  int checked = 0;
  for (std::string text; std::getline(lines, text) && text.rfind("      ", 0) != 0;) {
    std::smatch m;
    if (!std::regex_match(text, m, field)) continue;
    const size_t offset = std::stoul(m[1].str(), nullptr, 16);
    if (start == std::string::npos) start = offset;
    EXPECT_EQ(offset - start, std::stoul(m[2].str())) << text;
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

// Every record the page gives a size for has that size in the reader.
TEST(JobFormat, TheRecordSizesAreThoseTheReaderReads) {
  const std::string doc = Document();
  const std::pair<const char*, size_t> records[] = {
      {"tColorSyncPrefs`, 47,550 bytes", tColorSyncPrefs::kStoredSize},
      {"tSpecialPrintToFilePref`, 982 bytes", kSpecialPrintToFilePrefSize},
      {"tRecordStruct`, 10,496 bytes", tRecordStruct::kStoredSize},
      {"tJobInfo`, 76 bytes", tJobInfo::kStoredSize},
      {"tPrint2FileItem` (130)", tPrint2FileItem::kStoredSize},
      {"myUpdColorAdjustInfo2` (1,224)", myUpdColorAdjustInfo2::kStoredSize},
      {"tMediaTypePref` (134)", tMediaTypePref::kStoredSize},
      {"KodakSettings` (32)", KodakSettings::kStoredSize},
      {"myFujiColorAdjustInfo` (282)", myFujiColorAdjustInfo::kStoredSize},
      {"tMitsubishiSettings` (10,296)", tMitsubishiSettings::kStoredSize},
      {"tMitsubishiMediaPref` (148)", tMitsubishiMediaPref::kStoredSize},
      {"tShinkoPrinterSettings` (380)", tShinkoPrinterSettings::kStoredSize},
      {"tNoritsuPrinterSettings` (634)", tNoritsuPrinterSettings::kStoredSize},
      {"tOlmecOP800PrinterSettings` (634)", tOlmecOP800PrinterSettings::kStoredSize},
      {"tDNPPrinterSettings` (1,308)", tDNPPrinterSettings::kStoredSize},
      {"CImageDesc` (362)", CImageDesc::kStoredSize},
      {"CTextDesc` (438)", CTextDesc::kStoredSize},
      {"CDatabaseDesc` (436)", CDatabaseDesc::kStoredSize},
      {"CStampDesc` (456)", CStampDesc::kStoredSize},
      {"COverlayDesc` (270)", COverlayDesc::kStoredSize},
      {"CGroupPhotoDesc` (264)", CGroupPhotoDesc::kStoredSize},
      {"CNodeDesc` (244)", CNodeDesc::kStoredSize},
      {"CBackColorDesc` (168)", CBackColorDesc::kStoredSize},
      {"CAttributeDesc` (168)", CAttributeDesc::kStoredSize},
      {"chroma-key block | 11,444 bytes", tChromaKeySettings::kStoredSize},
  };
  for (const auto& [text, size] : records) {
    EXPECT_NE(doc.find(text), std::string::npos) << text;
    // The size is the number after the name.
    const std::string t(text);
    std::string digits;
    for (char c : t.substr(t.find_last_of("`|") + 1))
      if (std::isdigit(uint8_t(c))) digits += c;
    EXPECT_EQ(std::stoul(digits), size) << text;
  }
  // The printer codes of each block row, as the reader chooses the blocks.
  for (int16_t code = -1; code <= 58; ++code) {
    bool known = false;
    const auto blocks = pipeline::PrinterBlocksFor(code, &known);
    if (!known) continue;
    size_t bytes = 0;
    for (auto block : blocks) bytes += pipeline::PrinterBlockSize(block);
    if (bytes == 0)
      EXPECT_NE(doc.find("| 8, 17, 34 | nothing |"), std::string::npos);
    else
      EXPECT_TRUE(std::regex_search(doc, std::regex("\\| ([0-9]+, )*" + std::to_string(code) + "(, [0-9]+)* \\| ")))
          << "printer code " << code << " has no row";
  }
}

// The dump's job through the running program: code 26 without --set prints
// into set 2, two pages, and the print log names set 2, the template, job
// information A and B and the flag.
TEST(JobFormat, TheJobOfTheDumpPrintsAsThePageSays) {
  std::vector<std::string> arguments = DumpCommand(Document());
  ASSERT_GE(arguments.size(), 2u);
  arguments.erase(arguments.begin(), arguments.begin() + 2);  // -o sample.trpr
  e2e::Station station("jobformat");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten(arguments, "sample.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 2; }, 60))
      << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 60)) << station.Log();
  EXPECT_NE(station.PrintLog().find("\tPrinter: Print to File Set 2\tTemplate: Sample\tA-17\tB-4\tTRUE\t\r"),
            std::string::npos)
      << station.PrintLog();
  for (const fs::path& page : e2e::VisibleFilesBelow(station.SetFolder('A'))) {
    const e2e::Picture picture = e2e::ReadPicture(page);
    ASSERT_TRUE(picture.image) << picture.error;
    EXPECT_EQ(picture.width(), 1200);
    EXPECT_GT(picture.rgb(600, 900)[0], 240);
    EXPECT_LT(picture.rgb(600, 900)[1], 20);
  }
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
