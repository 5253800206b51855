// kivo-jobwriter: writes a job file from a short description on the command
// line, for demos and hand tests. `kivo-jobwriter --help` explains every
// option; a wrong argument is named on the error output (exit status 2).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "jobwriter/JobWriter.h"
#include "jobwriter/SeedCorpus.h"

namespace {

constexpr char kHelp[] =
    "usage: kivo-jobwriter -o FILE [options] [objects]\n"
    "       kivo-jobwriter --seed-corpus DIR\n"
    "       kivo-jobwriter --help\n"
    "\n"
    "Writes one job file for Kivo-Processor. Drop it into the spool tree's\n"
    "\"PRINT JOBS FOLDER \xC6\x92\" (write it beside the folder, then move it in) and the\n"
    "processor prints it.\n"
    "\n"
    "The job:\n"
    "  -o FILE              the job file to write (required)\n"
    "  --printer N          the printer code, which chooses the output route (default 17):\n"
    "                         8        the system printer through CUPS (LPDEST or PRINTER, else the\n"
    "                                  CUPS default destination)\n"
    "                         17       the print-to-file folder \"PRINT TO FILE FOLDER \xC6\x92\",\n"
    "                                  in the format given by --format\n"
    "                         25-28, 49-52  a print-to-file set: the set --set N (1 to 8) is written\n"
    "                                  into its folder (\"PRINT TO FILE FOLDER SET A\xC6\x92\" for set 1 ...)\n"
    "                                  with the format and names of the set's preferences\n"
    "                         any other the print-centre hand-off files for photo printer N, in\n"
    "                                  \"Kivo-PrintCenter Folder\"\n"
    "  --format N           the file format the print-to-file folder (printer 17) writes (default 3):\n"
    "                         2 TIFF, 3 JPEG, 4 PICT, 5 RAW, 6 TIFF (uncompressed), 7 Targa,\n"
    "                         8 Photoshop, 9 PNG (fitted into 640 x 640), 10 JPEG for the web;\n"
    "                         files are named Print_0001 and up, with the format's extension\n"
    "  --canvas N           the canvas (paper) code, counted with the print (default 0)\n"
    "  --page WxH           the page size in inches (default 4x6)\n"
    "  --dpi N              the page resolution, 1 to 32767 (default 300)\n"
    "  --quantity N         the number of prints, 0 to 65535 (default 1)\n"
    "  --template NAME      the template's name, logged with the job (default Template)\n"
    "  --package NAME       the package's name (default Package)\n"
    "  --base NAME          the job's base name (default Job)\n"
    "  --set N              the print-to-file set a set printer code writes, 1 to 8\n"
    "  --web KEY=VALUE      one entry of the job's web data (repeat for more). A job whose web data\n"
    "                       holds \"imageurl\" notifies the web server (the D-Bus signal\n"
    "                       KivoWebServerNotification) once its output is in place\n"
    "\n"
    "Objects, drawn in the order given; L,T,W,H place them in inches from the page's top left.\n"
    "Without objects the page is white.\n"
    "  --image PHOTO@L,T,W,H            a photo of the spool tree's \"IMAGES FOLDER \xC6\x92\"\n"
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

int Help() {
  std::fputs(kHelp, stdout);
  return 0;
}

// Names what was wrong and points at --help; exit status 2.
int Bad(const std::string& what) {
  std::fprintf(stderr, "kivo-jobwriter: %s\nTry 'kivo-jobwriter --help' for the options.\n", what.c_str());
  return 2;
}

int BadValue(const std::string& opt, const std::string& value, const char* expected) {
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

bool ParseInt(const char* s, long lo, long hi, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 10);
  return *s && *end == '\0' && out >= lo && out <= hi;
}

bool IsObjectOption(const std::string& opt) {
  for (const char* o : {"--image", "--text", "--color", "--stamp", "--qr", "--barcode", "--overlay", "--group"})
    if (opt == o) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  jobwriter::TJobDescription job;
  // Printer 17 writes in the job's own print-to-file format: JPEG unless
  // --format says otherwise.
  job.printToFileSet = jobwriter::PrintToFileRecord(kFormatJPEG);
  std::vector<std::pair<std::string, std::string>> web;
  std::string outPath;
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") return Help();
    if (opt.rfind("-", 0) != 0) return Bad("unexpected argument '" + opt + "'");
    static const char* const kKnown[] = {"-o",       "--seed-corpus", "--printer",  "--canvas", "--dpi",
                                         "--quantity", "--set",       "--format",   "--page",   "--template",
                                         "--package", "--base",       "--web"};
    bool known = IsObjectOption(opt);
    for (const char* k : kKnown) known = known || opt == k;
    if (!known) return Bad("unknown option '" + opt + "'");
    if (i + 1 >= argc) return Bad(opt + " needs a value");
    const char* val = argv[++i];
    long n = 0;
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
      job.printer = int16_t(n);
    } else if (opt == "--canvas") {
      if (!ParseInt(val, -32768, 32767, n)) return BadValue(opt, val, "a whole number");
      job.canvas = int16_t(n);
    } else if (opt == "--dpi") {
      if (!ParseInt(val, 1, 32767, n)) return BadValue(opt, val, "a whole number from 1 to 32767");
      job.resolution = int16_t(n);
    } else if (opt == "--quantity") {
      if (!ParseInt(val, 0, 65535, n)) return BadValue(opt, val, "a whole number from 0 to 65535");
      job.printQuantity = uint16_t(n);
    } else if (opt == "--set") {
      if (!ParseInt(val, 0, 65535, n)) return BadValue(opt, val, "a whole number from 0 to 65535");
      job.blocks.print2File.setNumber = uint16_t(n);
    } else if (opt == "--format") {
      if (!ParseInt(val, kFormatTIFF, kFormatJPEGForWeb, n)) return BadValue(opt, val, "a file format from 2 to 10");
      job.printToFileSet = jobwriter::PrintToFileRecord(int16_t(n));
    } else if (opt == "--page") {
      const std::string s = val;
      const size_t x = s.find('x');
      if (x == std::string::npos || !ParseFloats(s.substr(0, x) + "," + s.substr(x + 1), box, 2) || box[0] <= 0 ||
          box[1] <= 0)
        return BadValue(opt, val, "WIDTHxHEIGHT in inches, such as 4x6");
      job.pageWidth = box[0];
      job.pageHeight = box[1];
    } else if (opt == "--template") {
      job.templateName = val;
    } else if (opt == "--package") {
      job.packageName = val;
    } else if (opt == "--base") {
      job.baseName = val;
    } else if (opt == "--web") {
      const std::string s = val;
      const size_t eq = s.find('=');
      if (eq == std::string::npos || eq == 0) return BadValue(opt, val, "KEY=VALUE");
      web.emplace_back(s.substr(0, eq), s.substr(eq + 1));
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
      // --image, --text, --stamp, --qr, --barcode
      if (!SplitPlacement(val, what, box)) return BadValue(opt, val, "WHAT@L,T,W,H");
      if (opt == "--image") {
        job.objects.push_back(
            jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(what, box[0], box[1], box[2], box[3]))));
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
  if (!web.empty()) {
    job.webDictionary = jobwriter::WebDataArchive(web);
    if (job.webDictionary.empty() || job.webDictionary.size() > 32764) return Bad("the web data is too long");
  }
  if (job.objects.empty()) {
    // A job needs at least one object: a white page.
    job.objects.push_back(jobwriter::RecordOf(*layout::TBackColorObject::New(
        jobwriter::BackColorDesc(RGBColor{65535, 65535, 65535}, 0, 0, job.pageWidth, job.pageHeight))));
  }
  if (!jobwriter::WriteJobFile(job, outPath)) {
    std::fprintf(stderr, "kivo-jobwriter: cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}
