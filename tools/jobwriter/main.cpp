// kivo-jobwriter: writes a job file from a short description on the command
// line, for demos and hand tests.
//
//   kivo-jobwriter -o job.trpr [--printer 17] [--canvas 0] [--page 4x6]
//                  [--dpi 300] [--quantity 1] [--template NAME] [--package NAME]
//                  [--base NAME] [--set N]
//                  [--image PHOTO@L,T,W,H] [--text TEXT@L,T,W,H]
//                  [--color R,G,B@L,T,W,H] [--stamp TEXT@L,T,W,H]
//                  [--qr TEXT@L,T,W,H] [--barcode TEXT@L,T,W,H]
//                  [--overlay CATEGORY/NAME@L,T,W,H] [--group CATEGORY/NAME@L,T,W,H] ...
//   kivo-jobwriter --seed-corpus DIR     (the reader fuzzer's seed jobs)
//
// Positions and sizes are in inches; colours are 16-bit components. A stamp
// draws its text; --qr and --barcode are stamps drawn as a QR code and a
// Code 128 barcode. Overlays and group photos name a graphic in a category
// folder of the graphics folder. Objects are written in the order given.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jobwriter/JobWriter.h"
#include "jobwriter/SeedCorpus.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kivo-jobwriter -o FILE [--printer N] [--canvas N] [--page WxH] [--dpi N]\n"
               "       [--quantity N] [--template NAME] [--package NAME] [--base NAME] [--set N]\n"
               "       [--image PHOTO@L,T,W,H] [--text TEXT@L,T,W,H] [--color R,G,B@L,T,W,H]\n"
               "       [--stamp TEXT@L,T,W,H] [--qr TEXT@L,T,W,H] [--barcode TEXT@L,T,W,H]\n"
               "       [--overlay CATEGORY/NAME@L,T,W,H] [--group CATEGORY/NAME@L,T,W,H] ...\n");
  return 2;
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
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return out.size() == count;
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

}  // namespace

int main(int argc, char** argv) {
  jobwriter::TJobDescription job;
  std::string outPath;
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (i + 1 >= argc) return Usage();
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
    } else if (opt == "--printer" && ParseInt(val, -32768, 32767, n)) {
      job.printer = int16_t(n);
    } else if (opt == "--canvas" && ParseInt(val, -32768, 32767, n)) {
      job.canvas = int16_t(n);
    } else if (opt == "--dpi" && ParseInt(val, 1, 32767, n)) {
      job.resolution = int16_t(n);
    } else if (opt == "--quantity" && ParseInt(val, 0, 65535, n)) {
      job.printQuantity = uint16_t(n);
    } else if (opt == "--set" && ParseInt(val, 0, 65535, n)) {
      job.blocks.print2File.setNumber = uint16_t(n);
    } else if (opt == "--page") {
      std::string s = val;
      const size_t x = s.find('x');
      if (x == std::string::npos || !ParseFloats(s.substr(0, x) + "," + s.substr(x + 1), box, 2)) return Usage();
      job.pageWidth = box[0];
      job.pageHeight = box[1];
    } else if (opt == "--template") {
      job.templateName = val;
    } else if (opt == "--package") {
      job.packageName = val;
    } else if (opt == "--base") {
      job.baseName = val;
    } else if (opt == "--image" && SplitPlacement(val, what, box)) {
      job.objects.push_back(
          jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(what, box[0], box[1], box[2], box[3]))));
    } else if (opt == "--text" && SplitPlacement(val, what, box)) {
      job.objects.push_back(
          jobwriter::RecordOf(*layout::TTextObject::New(jobwriter::TextDesc(what, box[0], box[1], box[2], box[3]))));
    } else if ((opt == "--stamp" || opt == "--qr" || opt == "--barcode") && SplitPlacement(val, what, box)) {
      const uint16_t mode = opt == "--qr" ? 1 : opt == "--barcode" ? 2 : 0;
      job.objects.push_back(jobwriter::RecordOf(
          *layout::TStampObject::New(jobwriter::StampDesc(what, box[0], box[1], box[2], box[3], mode))));
    } else if ((opt == "--overlay" || opt == "--group") && SplitPlacement(val, what, box)) {
      const size_t slash = what.find('/');
      if (slash == std::string::npos) return Usage();
      const std::string category = what.substr(0, slash), name = what.substr(slash + 1);
      if (opt == "--overlay")
        job.objects.push_back(jobwriter::RecordOf(*layout::TFileOverlayObject::New(
            jobwriter::OverlayDesc(name, category, box[0], box[1], box[2], box[3]))));
      else
        job.objects.push_back(jobwriter::RecordOf(*layout::TGroupPhotoObject::New(
            jobwriter::GroupPhotoDesc(name, category, box[0], box[1], box[2], box[3]))));
    } else if (opt == "--color" && SplitPlacement(val, what, box)) {
      std::vector<float> rgb;
      if (!ParseFloats(what, rgb, 3)) return Usage();
      const RGBColor c{uint16_t(rgb[0]), uint16_t(rgb[1]), uint16_t(rgb[2])};
      job.objects.push_back(jobwriter::RecordOf(
          *layout::TBackColorObject::New(jobwriter::BackColorDesc(c, box[0], box[1], box[2], box[3]))));
    } else {
      return Usage();
    }
  }
  if (outPath.empty()) return Usage();
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
