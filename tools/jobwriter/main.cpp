// kivo-jobwriter: writes a job file from a short description on the command
// line, for demos and hand tests. `kivo-jobwriter --help` explains every
// option; a wrong argument, or a value the processor would refuse, is named
// on the error output (exit status 2) and no file is written.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "host/base/MacRoman.h"
#include "jobwriter/JobWriter.h"
#include "jobwriter/SeedCorpus.h"
#include "host/qd/GWorld.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/OutputDispatch.h"
#include "pipeline/PrinterRecords.h"
#include "prefs/PrefRecords.h"

namespace {

constexpr char kHelp[] =
    "usage: kivo-jobwriter -o FILE [options] [objects]\n"
    "       kivo-jobwriter --seed-corpus DIR\n"
    "       kivo-jobwriter --help\n"
    "\n"
    "Writes one job file for Kivo-Processor. Written into the spool tree's\n"
    "\"PRINT JOBS FOLDER \xC6\x92\" (-o \"<spool>/PRINT JOBS FOLDER \xC6\x92/job.trpr\"), the\n"
    "processor prints it: the file is written whole under a hidden name (\".job.trpr.\"\n"
    "and eight hex digits) and then renamed to its name, and the processor never takes a\n"
    "hidden name. A value the processor would refuse, and an option that does nothing\n"
    "for the job's route, is refused here, and nothing is written.\n"
    "docs/JOB-FORMAT.md describes the file byte by byte.\n"
    "\n"
    "The job:\n"
    "  -o FILE              the job file to write (required)\n"
    "  --printer N          the printer code, which chooses the output route (default 17):\n"
    "                         8        the system printer through CUPS (LPDEST or PRINTER, else the\n"
    "                                  CUPS default destination; --print-printer names another)\n"
    "                         17       the print-to-file folder \"PRINT TO FILE FOLDER \xC6\x92\",\n"
    "                                  in the format given by --format (or the yearbook route,\n"
    "                                  see --yearbook)\n"
    "                         25-28, 49-52  a print-to-file set. The job's own set number\n"
    "                                  (--set) decides which of the eight sets prints it, not the\n"
    "                                  code; without --set the writer gives the code's own set\n"
    "                                  (25-28 sets 1-4, 49-52 sets 5-8). The set's preferences\n"
    "                                  give its folder (by default all eight share\n"
    "                                  \"PRINT TO FILE FOLDER SET A\xC6\x92\"), its format and its names\n"
    "                         any other code from 1 to 57  the print-centre hand-off files for\n"
    "                                  photo printer N, in \"Kivo-PrintCenter Folder\"\n"
    "                       The codes 0, 4, 14, 22 and 35, and codes outside 0 to 57, are unknown\n"
    "                       to the processor and refused.\n"
    "  --format N           the file format the print-to-file folder (printer 17) writes (default 3):\n"
    "                         2 TIFF (LZW-compressed), 3 JPEG, 4 PICT, 5 RAW, 6 TIFF (uncompressed),\n"
    "                         7 Targa, 8 Photoshop, 9 PNG (fitted into 640 x 640),\n"
    "                         10 JPEG for the web; files are named Print_0001 and up, with the\n"
    "                         format's extension: .tif, .jpg, .pct, .raw, .tga, and for Photoshop\n"
    "                         and PNG in capitals, .PSD and .PNG.\n"
    "                       Printer 17 only: a set writes the format of its preferences whatever\n"
    "                       the job says, and the other routes a format of their own\n"
    "  --quality N          the JPEG quality of the job's pages, 1 to 100 (default 90): printer 17,\n"
    "                       the yearbook route and a set writing JPEG (format 3) use it; a job\n"
    "                       written without one (0) is printed at 75. A JPEG for the web (format 10\n"
    "                       and the web copy) takes the quality of the Output Files preferences.\n"
    "                       Printer 17 and the set codes only (not with --copy-originals): the\n"
    "                       system printer and the print-centre hand-off use a quality of their own\n"
    "  --canvas N           the canvas (paper) code, counted with the print (default 0)\n"
    "  --page WxH           the page size in inches (default 4x6); at --dpi the page may have at\n"
    "                       most 268,435,456 pixels (1 GiB), the largest page the processor makes\n"
    "  --dpi N              the page resolution, 1 to 32767 (default 300)\n"
    "  --quantity N         the number of prints, 0 to 32767 (default 1; 0 makes one print)\n"
    "  --template NAME      the template's name, logged with the job, at most 31 characters\n"
    "                       (default Template)\n"
    "  --package NAME       the package's name, at most 31 characters (default Package)\n"
    "  --base NAME          the job's base name, at most 255 characters (default Job). Outputs are\n"
    "                       not named after it: a set names its files after the last photo drawn\n"
    "                       (\"Photo.jpg\", then \"Photo copy.jpg\", \"Photo copy 1.jpg\" ...), printer\n"
    "                       17 numbers them. Only a set whose naming is \"image name _ base name\"\n"
    "                       uses it, and its customer subfolders\n"
    "  --set N              the print-to-file set of a set job, 1 to 8 (set printer codes only)\n"
    "  --web KEY=VALUE      one entry of the job's web data (repeat for more). A job whose web data\n"
    "                       holds \"imageurl\" notifies the web server (the D-Bus signal\n"
    "                       KivoWebServerNotification) once its output is in place\n"
    "  --client ADDRESS     the job's web data \"ipaddress\": the first set whose client list (in the\n"
    "                       sets' preferences) names the address prints the job instead of its own.\n"
    "                       No window shows the list: an export of the preferences holds it as the\n"
    "                       text \"PrintToFileSet N Client List\", changed there and imported.\n"
    "                       Set printer codes only (--web ipaddress=ADDRESS puts the address into\n"
    "                       the web data of any job)\n"
    "\n"
    "The web copy and further sets: a set that has \"JPEG for web\" on in its preferences also\n"
    "writes a copy of each page into \"WEB UPLOAD FOLDER \xC6\x92\", and one that names further sets\n"
    "copies each page into them at the size the set printed it (the web copy alone is fitted into\n"
    "640 x 640). Both are settings of the set, not of the job: a job gets them\n"
    "through the set that prints it (--set, --client).\n"
    "\n"
    "Job information (the last three fields of the job's line in the print log):\n"
    "  --info-a TEXT        job information A, at most 31 characters; \"Current\" marks a current job\n"
    "  --info-b TEXT        job information B, at most 31 characters\n"
    "  --log-flag           the job's flag: its print-log line ends TRUE instead of FALSE\n"
    "  --info-words N,M     the two job-information words, 0 to 65535 each (default 0,0). A job\n"
    "                       whose words differ is not told to the web server as processed\n"
    "\n"
    "Routes of their own:\n"
    "  --copy-originals     a set job that prints no page: each photo it names is copied byte for\n"
    "                       byte into the set's folder\n"
    "  --yearbook FOLDER    printer 17's yearbook route: the page goes into \"Yearbook Photos/FOLDER\"\n"
    "                       in the desktop folder (XDG_DESKTOP_DIR, else ~/Desktop), numbered as\n"
    "                       \"Print_0001\" and up, and \"Yearbook.read me\" there gets a line for it\n"
    "  --yearbook-empty-first  the same, but every file in that folder is deleted first\n"
    "  --yearbook-field TITLE=VALUE  one field of the yearbook record, up to 20 (repeat in order):\n"
    "                       the titles head \"Yearbook.read me\", the values fill the page's line\n"
    "  --yearbook-name F[,F...]  names the page after up to four fields (1 is the first\n"
    "                       --yearbook-field), joined by \"_\", with the format's extension\n"
    "\n"
    "Printer 8 (the print settings the job carries):\n"
    "  --print-printer NAME      the CUPS destination or IPP URI the job prints on\n"
    "  --print-paper NAME        the paper: a4, a5, a6, letter, legal, 4x6, 5x7, 8x10 or a PWG media\n"
    "                            name such as iso_a4_210x297mm\n"
    "  --print-orientation portrait|landscape\n"
    "\n"
    "Objects, drawn in the order given; L,T,W,H place them in inches from the page's top left.\n"
    "Without objects the page is white.\n"
    "  --image PHOTO@L,T,W,H            a photo of the spool tree's \"IMAGES FOLDER \xC6\x92\"\n"
    "  --keyed PHOTO@L,T,W,H            a green-screen photo of the images folder: its backing is\n"
    "                                   keyed away and what is drawn before it shows through\n"
    "  --backing R,G,B                  the backing colour of the --keyed photos that follow,\n"
    "                                   0 to 255 each (default 30,190,40); at least one must\n"
    "                                   follow\n"
    "  --text TEXT@L,T,W,H              a line of text\n"
    "  --color R,G,B@L,T,W,H            a coloured rectangle; components 0 to 65535\n"
    "  --stamp TEXT@L,T,W,H             a stamp with its text\n"
    "  --qr TEXT@L,T,W,H                a QR code of the text\n"
    "  --barcode TEXT@L,T,W,H           a Code 128 barcode of the text\n"
    "  --overlay CATEGORY/NAME@L,T,W,H  a graphic of a category folder of \"KIVO GRAPHICS FOLDER \xC6\x92\"\n"
    "  --group CATEGORY/NAME@L,T,W,H    a group photo from a category folder\n"
    "\n"
    "Other:\n"
    "  --seed-corpus DIR    writes the job-reader fuzzer's seed jobs into DIR\n"
    "  --help               this text\n";

constexpr size_t kMaxYearbookFields = 20;
// A JPEG quality at which a photo prints without visible loss.
constexpr int16_t kDefaultQuality = 90;
const std::array<uint8_t, 3> kDefaultBacking = {30, 190, 40};

int Help() {
  std::fputs(kHelp, stdout);
  return 0;
}

// Names what was wrong and points at --help; exit status 2.
int Bad(const std::string& what) {
  std::fprintf(stderr, "kivo-jobwriter: %s\nTry 'kivo-jobwriter --help' for the options.\n", what.c_str());
  return 2;
}

int BadValue(const std::string& opt, const std::string& value, const std::string& expected) {
  return Bad("bad value '" + value + "' for " + opt + ": " + expected);
}

bool ParseFloats(const std::string& s, std::vector<float>& out, size_t count) {
  out.clear();
  size_t pos = 0;
  while (pos <= s.size() && out.size() < count) {
    size_t next = s.find(',', pos);
    const std::string part = s.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    char* end = nullptr;
    const float v = std::strtof(part.c_str(), &end);
    if (part.empty() || *end != '\0') return false;
    out.push_back(v);
    if (next == std::string::npos) return out.size() == count;
    pos = next + 1;
  }
  return false;
}

// "what@L,T,W,H" into its two parts.
bool SplitPlacement(const std::string& arg, std::string& what, std::vector<float>& box) {
  const size_t at = arg.rfind('@');
  if (at == std::string::npos) return false;
  what = arg.substr(0, at);
  return ParseFloats(arg.substr(at + 1), box, 4);
}

bool ParseInt(const std::string& s, long lo, long hi, long& out) {
  char* end = nullptr;
  out = std::strtol(s.c_str(), &end, 10);
  return !s.empty() && *end == '\0' && out >= lo && out <= hi;
}

// "N,M,..." of whole numbers in [lo, hi], between 1 and `most` of them.
bool ParseInts(const std::string& s, long lo, long hi, size_t most, std::vector<long>& out) {
  out.clear();
  size_t pos = 0;
  for (;;) {
    const size_t comma = s.find(',', pos);
    long v = 0;
    if (!ParseInt(s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos), lo, hi, v)) return false;
    out.push_back(v);
    if (out.size() > most) return false;
    if (comma == std::string::npos) return true;
    pos = comma + 1;
  }
}

// The length of a text as the job stores it (Mac Roman bytes).
size_t StoredLength(const std::string& utf8) { return host::UTF8ToMacRoman(utf8).size(); }

bool IsObjectOption(const std::string& opt) {
  for (const char* o : {"--image", "--keyed", "--text", "--color", "--stamp", "--qr", "--barcode", "--overlay",
                        "--group"})
    if (opt == o) return true;
  return false;
}

// The printer codes whose settings block the processor does not know: it
// would stop at an "Unknown Printer Type!" alert for each such job.
bool IsUnknownPrinterCode(long code) {
  bool known = false;
  pipeline::PrinterBlocksFor(int16_t(code), &known);
  return !known;
}

// The page size as given: "4x6", "8.5x11".
std::string PageText(const jobwriter::TJobDescription& job) {
  char text[64];
  std::snprintf(text, sizeof text, "%gx%g", double(job.pageWidth), double(job.pageHeight));
  return text;
}

// The set a set printer code was made for: 25-28 sets 1-4, 49-52 sets 5-8.
int SetOfCode(int16_t code) {
  for (int16_t set = 1; set <= 8; ++set)
    if (PrinterCodeOfPrintToFileSet(set) == code) return set;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  jobwriter::TJobDescription job;
  // Printer 17 writes in the job's own print-to-file format: JPEG unless
  // --format says otherwise.
  job.printToFileSet = jobwriter::PrintToFileRecord(kFormatJPEG);
  job.printToFileOptionD = kDefaultQuality;
  std::vector<std::pair<std::string, std::string>> web;
  std::string outPath, client, printPrinter, printPaper, yearbookFolder;
  int printOrientation = 0;
  bool setGiven = false, copyOriginals = false, yearbook = false, emptyFirst = false;
  // Options that do something for some routes only, as given.
  std::string formatGiven, qualityGiven, backingGiven;
  std::vector<std::pair<std::string, std::string>> yearbookFields;
  std::vector<long> yearbookName;
  std::array<uint8_t, 3> backing = kDefaultBacking;
  static const char* const kKnown[] = {
      "-o",           "--seed-corpus",     "--printer",        "--canvas",          "--dpi",
      "--quantity",   "--set",             "--format",         "--page",            "--template",
      "--package",    "--base",            "--web",            "--client",          "--info-a",
      "--info-b",     "--info-words",      "--yearbook",       "--yearbook-field",  "--yearbook-name",
      "--backing",    "--print-printer",   "--print-paper",    "--print-orientation", "--quality"};
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") return Help();
    if (opt.rfind("-", 0) != 0) return Bad("unexpected argument '" + opt + "'");
    if (opt == "--log-flag") {
      job.jobInfo.w64 = 1;
      continue;
    }
    if (opt == "--copy-originals") {
      copyOriginals = true;
      continue;
    }
    if (opt == "--yearbook-empty-first") {
      emptyFirst = true;
      continue;
    }
    bool known = IsObjectOption(opt);
    for (const char* k : kKnown) known = known || opt == k;
    if (!known) return Bad("unknown option '" + opt + "'");
    if (i + 1 >= argc) return Bad(opt + " needs a value");
    const std::string val = argv[++i];
    long n = 0;
    std::vector<long> numbers;
    std::string what;
    std::vector<float> box;
    if (opt == "--seed-corpus") {
      for (const auto& [name, bytes] : jobwriter::SeedJobs()) {
        const std::filesystem::path p = std::filesystem::path(val) / name;
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
          if (f) std::fclose(f);
          std::fprintf(stderr, "kivo-jobwriter: cannot write %s\n", p.c_str());
          return 1;
        }
        std::fclose(f);
      }
      return 0;
    } else if (opt == "-o") {
      outPath = val;
    } else if (opt == "--printer") {
      if (!ParseInt(val, -32768, 32767, n)) return BadValue(opt, val, "a printer code (see --help)");
      if (IsUnknownPrinterCode(n)) return BadValue(opt, val, "the processor knows no printer of this code (see --help)");
      job.printer = int16_t(n);
    } else if (opt == "--quality") {
      if (!ParseInt(val, 1, 100, n)) return BadValue(opt, val, "a JPEG quality from 1 to 100");
      job.printToFileOptionD = int16_t(n);
      qualityGiven = val;
    } else if (opt == "--canvas") {
      if (!ParseInt(val, -32768, 32767, n)) return BadValue(opt, val, "a whole number");
      job.canvas = int16_t(n);
    } else if (opt == "--dpi") {
      if (!ParseInt(val, 1, 32767, n)) return BadValue(opt, val, "a whole number from 1 to 32767");
      job.resolution = int16_t(n);
    } else if (opt == "--quantity") {
      if (!ParseInt(val, 0, pipeline::kMaxPrintCopies, n))
        return BadValue(opt, val,
                        "a whole number from 0 to " + std::to_string(pipeline::kMaxPrintCopies) +
                            " (the most prints the processor makes of a job)");
      job.printQuantity = uint16_t(n);
    } else if (opt == "--set") {
      if (!ParseInt(val, 1, 8, n)) return BadValue(opt, val, "a print-to-file set from 1 to 8");
      job.blocks.print2File.setNumber = uint16_t(n);
      setGiven = true;
    } else if (opt == "--format") {
      if (!ParseInt(val, kFormatTIFF, kFormatJPEGForWeb, n)) return BadValue(opt, val, "a file format from 2 to 10");
      job.printToFileSet = jobwriter::PrintToFileRecord(int16_t(n));
      formatGiven = val;
    } else if (opt == "--page") {
      const size_t x = val.find('x');
      if (x == std::string::npos || !ParseFloats(val.substr(0, x) + "," + val.substr(x + 1), box, 2) || box[0] <= 0 ||
          box[1] <= 0)
        return BadValue(opt, val, "WIDTHxHEIGHT in inches, such as 4x6");
      job.pageWidth = box[0];
      job.pageHeight = box[1];
    } else if (opt == "--template" || opt == "--package" || opt == "--info-a" || opt == "--info-b") {
      if (StoredLength(val) > 31) return BadValue(opt, val, "at most 31 characters");
      if (opt == "--template") job.templateName = val;
      else if (opt == "--package") job.packageName = val;
      else if (opt == "--info-a") job.jobInfo.first = val;
      else job.jobInfo.second = val;
    } else if (opt == "--base") {
      if (StoredLength(val) > 255) return BadValue(opt, val, "at most 255 characters");
      job.baseName = val;
    } else if (opt == "--info-words") {
      if (!ParseInts(val, 0, 65535, 2, numbers) || numbers.size() != 2)
        return BadValue(opt, val, "two whole numbers from 0 to 65535, such as 1,1");
      job.jobInfo.w70 = uint16_t(numbers[0]);
      job.jobInfo.w72 = uint16_t(numbers[1]);
    } else if (opt == "--web") {
      const size_t eq = val.find('=');
      if (eq == std::string::npos || eq == 0) return BadValue(opt, val, "KEY=VALUE");
      web.emplace_back(val.substr(0, eq), val.substr(eq + 1));
    } else if (opt == "--client") {
      if (val.empty() || val.find(',') != std::string::npos) return BadValue(opt, val, "one address");
      client = val;
    } else if (opt == "--yearbook") {
      if (val.empty() || StoredLength(val) > 31 || val.find('/') != std::string::npos)
        return BadValue(opt, val, "a folder name of at most 31 characters, without \"/\"");
      yearbook = true;
      yearbookFolder = val;
    } else if (opt == "--yearbook-field") {
      const size_t eq = val.find('=');
      if (eq == std::string::npos || StoredLength(val.substr(0, eq)) > 255 || StoredLength(val.substr(eq + 1)) > 255)
        return BadValue(opt, val, "TITLE=VALUE, each at most 255 characters");
      if (yearbookFields.size() == kMaxYearbookFields) return BadValue(opt, val, "at most 20 yearbook fields");
      yearbookFields.emplace_back(val.substr(0, eq), val.substr(eq + 1));
    } else if (opt == "--yearbook-name") {
      if (!ParseInts(val, 1, long(kMaxYearbookFields), 4, yearbookName))
        return BadValue(opt, val, "up to four field numbers from 1 to 20, such as 2,1");
    } else if (opt == "--print-printer" || opt == "--print-paper") {
      if (val.empty()) return BadValue(opt, val, "a name");
      (opt == "--print-printer" ? printPrinter : printPaper) = val;
    } else if (opt == "--print-orientation") {
      if (val != "portrait" && val != "landscape") return BadValue(opt, val, "portrait or landscape");
      printOrientation = val == "portrait" ? 1 : 2;
    } else if (opt == "--backing") {
      if (!ParseInts(val, 0, 255, 3, numbers) || numbers.size() != 3)
        return BadValue(opt, val, "R,G,B with components from 0 to 255");
      backing = {uint8_t(numbers[0]), uint8_t(numbers[1]), uint8_t(numbers[2])};
      backingGiven = val;
    } else if (opt == "--color") {
      std::vector<float> rgb;
      if (!SplitPlacement(val, what, box) || !ParseFloats(what, rgb, 3))
        return BadValue(opt, val, "R,G,B@L,T,W,H");
      for (float c : rgb)
        if (c < 0 || c > 65535) return BadValue(opt, val, "colour components from 0 to 65535");
      const RGBColor c{uint16_t(rgb[0]), uint16_t(rgb[1]), uint16_t(rgb[2])};
      job.objects.push_back(jobwriter::RecordOf(
          *layout::TBackColorObject::New(jobwriter::BackColorDesc(c, box[0], box[1], box[2], box[3]))));
    } else if (opt == "--overlay" || opt == "--group") {
      if (!SplitPlacement(val, what, box) || what.find('/') == std::string::npos)
        return BadValue(opt, val, "CATEGORY/NAME@L,T,W,H");
      const size_t cut = what.find('/');
      const std::string category = what.substr(0, cut), name = what.substr(cut + 1);
      if (opt == "--overlay")
        job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
            jobwriter::OverlayDesc(name, category, box[0], box[1], box[2], box[3]))));
      else
        job.objects.push_back(jobwriter::RecordOf(*layout::TGroupPhotoObject::New(
            jobwriter::GroupPhotoDesc(name, category, box[0], box[1], box[2], box[3]))));
    } else {
      // --image, --keyed, --text, --stamp, --qr, --barcode
      if (!SplitPlacement(val, what, box)) return BadValue(opt, val, "WHAT@L,T,W,H");
      if (opt == "--image") {
        job.objects.push_back(
            jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(what, box[0], box[1], box[2], box[3]))));
      } else if (opt == "--keyed") {
        // The whole photo is fitted into its box, so that its backing, not a
        // crop of it, meets the page.
        CImageDesc image = jobwriter::ImageDesc(what, box[0], box[1], box[2], box[3]);
        image.fCropToFill = 0;
        auto keyed = layout::TImageObject::New(image);
        keyed->SetChromaKeySettings(jobwriter::ChromaKeySettings(backing));
        backingGiven.clear();
        job.objects.push_back(jobwriter::RecordOf(*keyed));
      } else if (opt == "--text") {
        job.objects.push_back(
            jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc(what, box[0], box[1], box[2], box[3]))));
      } else {
        const uint16_t mode = opt == "--qr" ? 1 : opt == "--barcode" ? 2 : 0;
        job.objects.push_back(jobwriter::RecordOf(
            *layout::TStampObject::New(jobwriter::StampDesc(what, box[0], box[1], box[2], box[3], mode))));
      }
    }
  }
  if (outPath.empty()) return Bad("no job file given: -o FILE is required");

  // What the options mean together.
  const bool setJob = pipeline::IsPrintToFileSetCode(job.printer);
  if (setGiven && !setJob) return Bad("--set applies to the set printer codes 25-28 and 49-52 only");
  if (setJob && !setGiven) job.blocks.print2File.setNumber = uint16_t(SetOfCode(job.printer));
  if (copyOriginals && !setJob) return Bad("--copy-originals applies to the set printer codes 25-28 and 49-52 only");
  if (emptyFirst && !yearbook) return Bad("--yearbook-empty-first needs --yearbook FOLDER");
  if (yearbook && job.printer != 17) return Bad("--yearbook applies to printer 17 only");
  if ((!yearbookFields.empty() || !yearbookName.empty()) && !yearbook)
    return Bad("--yearbook-field and --yearbook-name need --yearbook FOLDER");
  for (long field : yearbookName)
    if (size_t(field) > yearbookFields.size())
      return Bad("--yearbook-name names field " + std::to_string(field) + ", but only " +
                 std::to_string(yearbookFields.size()) + " --yearbook-field were given");
  if ((!printPrinter.empty() || !printPaper.empty() || printOrientation != 0) && job.printer != 8)
    return Bad("--print-printer, --print-paper and --print-orientation apply to printer 8 only");
  // An option that would be written into the job and then do nothing for
  // its route is named, as a wrong value is.
  const std::string route = "printer " + std::to_string(job.printer);
  if (!formatGiven.empty() && job.printer != 17)
    return Bad("--format " + formatGiven + " does nothing for " + route +
               ": only printer 17 writes the job's format" +
               (setJob ? " (a set writes the format of its preferences)" : ""));
  if (!qualityGiven.empty() && !(job.printer == 17 || (setJob && !copyOriginals)))
    return Bad("--quality " + qualityGiven + " does nothing for " + route +
               (copyOriginals ? " with --copy-originals: no page is written"
                              : ": only printer 17 and the set printer codes write the job's quality"));
  if (!client.empty() && !setJob)
    return Bad("--client " + client + " does nothing for " + route +
               ": it chooses among the sets, for the set printer codes 25-28 and 49-52 only "
               "(--web ipaddress=" + client + " puts the address into the job's web data)");
  if (!backingGiven.empty()) return Bad("--backing " + backingGiven + " does nothing: no --keyed photo follows it");
  // The page as the processor makes it: each side truncated to whole pixels.
  const uint64_t pageWidth = uint64_t(pipeline::PagePixels(job.resolution, job.pageWidth));
  const uint64_t pageHeight = uint64_t(pipeline::PagePixels(job.resolution, job.pageHeight));
  if (pageWidth == 0 || pageHeight == 0)
    return Bad("the page of --page " + PageText(job) + " has no pixels at " + std::to_string(job.resolution) + " dpi");
  if (pageWidth * pageHeight * 4 > host::kMaxOffscreenBytes)
    return Bad("the page of --page " + PageText(job) + " at " + std::to_string(job.resolution) + " dpi is " +
               std::to_string(pageWidth) + " x " + std::to_string(pageHeight) +
               " pixels, larger than the processor makes (268,435,456 pixels)");

  if (!client.empty()) web.emplace_back("ipaddress", client);
  if (!web.empty()) {
    job.webDictionary = jobwriter::WebDataArchive(web);
    if (job.webDictionary.empty() || job.webDictionary.size() > 32764) return Bad("the web data is too long");
  }
  if (yearbook) {
    // Naming 2 keeps the folder's files, 3 empties it first.
    job.printToFileSet.namingType = emptyFirst ? 3 : 2;
    job.printToFileSet.yearbookFolderName = yearbookFolder;
    if (!yearbookFields.empty()) {
      job.printToFileSet.hasYearbookRecords = 1;
      // The file holds the titles first, then the values.
      tRecordStruct& titles = (*job.yearbookBlocks)[0];
      tRecordStruct& values = (*job.yearbookBlocks)[1];
      for (size_t f = 0; f < yearbookFields.size(); ++f) {
        jobwriter::SetYearbookString(titles, int(f), yearbookFields[f].first);
        jobwriter::SetYearbookString(values, int(f), yearbookFields[f].second);
      }
    }
    if (!yearbookName.empty()) {
      // Index n of the record selects string n - 2; 1 selects none.
      job.printToFileSet.yearbookNaming = 1;
      for (size_t p = 0; p < 4; ++p) {
        job.printToFileSet.yearbookFields[p] = int16_t(p < yearbookName.size() ? yearbookName[p] + 1 : 1);
        job.printToFileSet.yearbookSeparators[p] = p + 1 < yearbookName.size() ? "_" : "";
      }
    }
  }
  if (job.printer == 8 && (!printPrinter.empty() || !printPaper.empty() || printOrientation != 0)) {
    job.printInfo = jobwriter::PrintSettingsArchive(printPrinter, printPaper, printOrientation);
    if (job.printInfo.empty() || job.printInfo.size() > 65535) return Bad("the print settings are too long");
  }
  if (job.objects.empty()) {
    // A job needs at least one object: a white page.
    job.objects.push_back(jobwriter::RecordOf(*layout::TBackColorObject::New(
        jobwriter::BackColorDesc(RGBColor{65535, 65535, 65535}, 0, 0, job.pageWidth, job.pageHeight))));
  }
  if (copyOriginals) {
    CAttributeDesc attributes{};
    attributes.SaveOriginal = 1;
    job.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attributes)));
  }
  if (!jobwriter::WriteJobFile(job, outPath)) {
    std::fprintf(stderr, "kivo-jobwriter: cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}
