// Finishing the drawn page (mirror, grey, sepia, colour matching, the kept
// copy), the per-printer colour settings and the output sizes.
#include <cstdio>

#include "pipeline/BGPrintView.h"
#include "pipeline/OutputSizes.h"
#include "pipeline/PageEffects.h"

namespace pipeline {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

effects::TSixValues SixOf(const myImageColorAdjustInfo& i) {
  return {i.red, i.green, i.blue, i.dark, i.light, i.gamma};
}

// Red, green, blue, dark, light and gamma of a per-printer record: entries
// 0 to 4 and 6, each taken as a 16-bit value.
effects::TSixValues SixOf(const myUpdColorAdjustInfo& u) {
  auto v = [&](int i) { return int16_t(uint16_t(u.values[size_t(i)].value[0])); };
  return {v(0), v(1), v(2), v(3), v(4), v(6)};
}

// The same fields of a colour-adjust slot (bytes 4, 16, 28, 40, 52 and 76).
effects::TSixValues SixOf(const myUpdColorAdjustInfo2& u) {
  auto v = [&](int i) { return int16_t(uint16_t(u.values[size_t(i)].value[0])); };
  return {v(0), v(1), v(2), v(3), v(4), v(6)};
}

}  // namespace

int16_t TSpoolerPrintView::FinishJob() {
  host::GWorld* page = pageOffscreen.get();
  if (page && isMirror) {
    effects::Mirror(page);
    services.SetImage(page, "");
    services.SetStatus("");
  }
  if (page && !isColor) {
    effects::Grey(page);
    services.SetImage(page, "");
    services.SetStatus("");
  }
  if (page && (pageColorMode == 99 || pageColorMode == 98)) {
    services.SetStatus("Doing Sepiatone Conversion\xE2\x80\xA6");
    effects::Sepia(page, SixOf(pageColorAdjust), pageColorMode, SixOf(oldTimePhoto.tint),
                   int16_t(oldTimePhoto.strength));
    services.SetImage(page, "");
  }
  if (page && colorSyncPrefs && colorSyncPrefs->w0 != 0) {
    services.Log("doUseColorMatching == ON\n");
    FSSpec input, output;
    // The printer profile table has one entry per printer code 0..99; any
    // other code has no profile and is not matched.
    if (printer < 0 || size_t(printer) >= colorSyncPrefs->printers.size()) {
      services.Log(Format("No printer profile entry for printer code %d; colour matching skipped\n", int(printer)));
    } else if (effects::FindProfile(FourCC("scnr"), CStr255_AC(colorSyncPrefs->profiles[2].name),
                                    &input)) {
      colorSyncPrefs->profiles[2] = input;
      tPrinterColorSyncPrefs& entry = colorSyncPrefs->printers[size_t(printer)];
      if (effects::FindProfile(FourCC("prtr"), CStr255_AC(entry.profile.name), &output)) {
        entry.profile = output;
        services.Log("FOUND profiles\n");
        services.SetStatus("Applying ColorSync\xE2\x80\xA6");
        effects::Match(page, colorSyncPrefs->w0 != 0, entry.w0 != 0, input, output, printer);
        if (printer == 43 && blocks.mitsubishi) blocks.mitsubishi->words180[2] = 1;
      }
    }
  }
  // The job's page file is written while the page goes on to its route;
  // the job goes on only once both are done.
  std::future<bool> pageFile;
  if (page) pageFile = effects::StartSaveOutputForPrint(*page);
  const int16_t result = PrepareForPrinter();
  if (pageFile.valid()) pageFile.wait();
  return result;
}

void TSpoolerPrintView::ApplyColorSettings(int16_t code, host::GWorld& pageRef) {
  services.SetStatus("Applying Color Settings\xE2\x80\xA6");
  host::GWorld* page = &pageRef;
  switch (code) {
    case 5: case 6: case 7: case 24: case 29: case 33:
      effects::Adjust(page, SixOf(blocks.colorAdjust[1]));
      break;
    case 37: case 39: case 41:
      effects::Adjust(page, SixOf(blocks.colorAdjust[0]));
      break;
    case 11: case 23: case 31: case 32: case 36: case 43: case 44: case 47: case 53:
      if (blocks.mitsubishi) effects::Adjust(page, SixOf(blocks.mitsubishi->colorAdjust));
      break;
    case 15: case 16: case 40:
      effects::Adjust(page, SixOf(blocks.shinko.colorAdjust));
      break;
    case 30:
      effects::Adjust(page, SixOf(blocks.noritsu.colorAdjust));
      break;
    case 38:
      effects::Adjust(page, SixOf(blocks.olmec.colorAdjust));
      break;
    default:
      break;
  }
  services.SetStatus("Finishing\xE2\x80\xA6");
}

host::GWorldHandle TSpoolerPrintView::CropGWorldToNewSize(host::GWorldHandle& source, const CLongRect_AC& size,
                                                          int16_t mode) {
  return effects::CropToNewSize(source, size, mode);
}

host::GWorldHandle TSpoolerPrintView::ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size) {
  return effects::ResizeToNewSize(source, size);
}

CLongRect_AC TSpoolerPrintView::GetOutputRect(const host::GWorld& page, uint16_t recordMediaType,
                                              uint16_t recordCutInHalf) const {
  const int16_t code = printer;
  TOutputMedia m;
  m.printer = code;
  m.resolution = resolution;
  m.recordMediaType = recordMediaType;
  m.recordCutInHalf = recordCutInHalf;
  const tMediaTypePref& media = blocks.mediaType[(code == 24 || code == 29 || code == 33) ? 1 : 0];
  m.jobMediaType = media.words[1];
  m.jobCutInHalf = media.words[2];
  m.jobOrientation = media.words[3];
  m.jobRibbonType = media.words[5];
  m.mitsubishiMediaType = blocks.mitsubishiMedia.words[1];
  return OutputRectFor(CLongRect_AC(0, 0, page.height(), page.width()), m);
}

}  // namespace pipeline
