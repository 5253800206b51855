#include "pipeline/PrinterHandOff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <system_error>

#include "host/base/MacRoman.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/Folders.h"
#include "host/sys/PropertyList.h"
#include "host/files/FSSpec.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/files/StagedFile.h"
#include "imaging/ColorAdjust.h"
#include "imaging/CropFit.h"
#include "imaging/ImageWriters.h"
#include "imaging/Offscreen.h"
#include "imaging/PrinterPlanes.h"
#include "imaging/Resampler.h"
#include "layout/StoredBytes.h"
#include "output/OutputFiles.h"
#include "output/PrintToFile.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/OutputDispatch.h"
#include "pipeline/PageEffects.h"
#include "pipeline/PrintJobTaskManager.h"
#include "platform/FileNames.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/MachineAddress.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"
#include "platform/ShellCommands.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

namespace fs = std::filesystem;

namespace {

bool IsDNP(int16_t c) { return c == 45 || c == 46 || c == 48 || c == 54 || c == 55; }

void PutText(std::array<uint8_t, kPrintInfoSize>& r, size_t at, std::string_view macRoman) {
  const size_t n = std::min<size_t>(macRoman.size(), 127);
  std::memcpy(r.data() + at, macRoman.data(), n);
  r[at + n] = 0;
}

template <class R>
void PutRecord(std::array<uint8_t, kPrintInfoSize>& out, size_t at, const R& rec) {
  layout::EncodeRecord(rec, std::span<uint8_t>(out.data() + at, R::kStoredSize));
}

void PutU16LE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }

std::string MacAddressText() {
  std::string mac = ZORVEL_MUID::mainMACAddress();
  std::erase(mac, ':');
  return mac;
}

}  // namespace

std::string HandOffTemporaryPrefix() { return std::string(output::kTempPrefix) + MacAddressText() + "_"; }

namespace {

// The page as a JPEG (72 dots per inch, quality 100), encoded in memory:
// nothing is written to a file and read back by its name.
bool EncodeJPEG(const host::GWorld& page, std::vector<uint8_t>* out) {
  host::ImageWriteOptions options;
  options.dpi = 72;
  options.jpegQuality = 100;
  std::vector<uint8_t> bytes;
  const bool ok = host::EncodeImage(page, host::ImageFormat::kJpeg, options, &bytes).ok();
  if (!ok) platform::LogLine("An error occured while saving JPEG data!");
  else if (out) *out = std::move(bytes);
  return ok;
}

// The numbered name of the sitting images' rule (base_0001), as an on-disk
// name; names of the hand-off are ASCII.
std::string NumberedName(const std::string& base, int32_t n) {
  return createNameForSittingImages(CStr255_AC::FromMacRoman(base), n, CStr255_AC()).ToUTF8();
}

// A new hand-off file staged in the folder: without a name until it is
// whole (see host/files/StagedFile.h), or, where the file system has no
// such files, under a temporary name "Tempfile_<address>_XXXXXXXX", which
// the print centre ignores.
host::StagedFile StageHandOff(const fs::path& folder, int* err) {
  return host::StagedFile::Open(folder.string(), HandOffTemporaryPrefix(), "", 0666, err);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  return host::WriteAllBytes(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) == 0;
}

// Records, durably, that the job's hand-off, whole and synced in `staged`,
// is about to appear at `placed`, puts it there without replacing anything
// and records right after whether it got there: a job stopped from here on
// is never handed off again (the print centre takes the file at once, so
// what stands there at the next start says nothing). dupFNErr: the name is
// taken; another error: not put there (nothing may appear there when it
// could not be recorded).
OSErr PlaceRecorded(host::StagedFile& staged, const fs::path& placed) {
  if (gPrintJobTaskManager && !gPrintJobTaskManager->JobOutputHandingOver(placed)) return ioErr;
  const OSErr err = staged.Place(placed.string(), false);
  if (gPrintJobTaskManager) gPrintJobTaskManager->JobOutputHandedOver(placed, err == noErr);
  return err;
}

// Whether something stands at `path` (a link included).
bool Taken(const fs::path& path) { return host::ExistsAt(path.string()); }

// Gives the complete staged file the hand-off base name without replacing
// anything: the name itself, else its first 25 characters with a number.
// Each name is recorded before the file is put there.
bool PlaceIntoFolder(host::StagedFile& staged, const fs::path& folder, const std::string& base) {
  const OSErr first = Taken(folder / base) ? OSErr(dupFNErr) : PlaceRecorded(staged, folder / base);
  if (first == noErr) return true;
  if (first == dupFNErr) errno = EEXIST;
  platform::LogF("1st time: Cannot rename printjob file, error = %d", errno);
  if (first != dupFNErr) return false;
  const std::string cut = platform::CutChars(base, 25);
  for (int n = 1; n < 100000; ++n) {
    const fs::path target = folder / NumberedName(cut, n);
    if (Taken(target)) continue;
    const OSErr err = PlaceRecorded(staged, target);
    if (err == noErr) return true;
    if (err != dupFNErr) break;
  }
  platform::LogF("2nd time: Cannot rename printjob file, error = %d", errno);
  return false;
}

int16_t WriteBinaryHandOff(const fs::path& folder, const std::array<uint8_t, kPrintInfoSize>& record,
                           std::span<const uint8_t> data, const std::string& base) {
  int err = 0;
  host::StagedFile staged = StageHandOff(folder, &err);
  if (!staged.valid()) {
    platform::LogF("Could not create the hand-off file in %s: %s", folder.c_str(), std::strerror(err));
    return kResultPrinterFile;
  }
  uint8_t head[4];
  layout::StoreU32BE(head, uint32_t(kPrintInfoSize));
  const uint8_t sep = kHandOffSeparator;
  const int fd = staged.fd();
  const bool ok = WriteAll(fd, head) && WriteAll(fd, record) && WriteAll(fd, std::span<const uint8_t>(&sep, 1)) &&
                  WriteAll(fd, data) && ::fsync(fd) == 0;
  // A file not put in place goes with `staged`.
  if (!ok || !PlaceIntoFolder(staged, folder, base)) return kResultPrinterFile;
  return kResultOK;
}

// A base name free for both files of the pair.
std::string FreePairName(const fs::path& folder, const std::string& base) {
  auto taken = [&](const std::string& b) { return Taken(folder / (b + ".jpeg")) || Taken(folder / (b + ".plist")); };
  if (!taken(base)) return base;
  const std::string cut = platform::CutChars(base, 25);
  for (int n = 1; n < 100000; ++n)
    if (!taken(NumberedName(cut, n))) return NumberedName(cut, n);
  return {};
}

int16_t WritePair(const fs::path& printCenterFolder, const host::GWorld& unfitted,
                  std::array<uint8_t, kPrintInfoSize>& record, const std::optional<host::PlistDict>& web,
                  const std::string& baseName) {
  platform::LogLine("macaddress = " + ZORVEL_MUID::mainMACAddress());
  const fs::path folder = printCenterFolder.parent_path() / kJobsToBePrintedNew;
  // Made in the held print-centre folder (host/files/HeldFolders.h), never
  // through a link.
  (void)host::CreateFolder(folder.string(), 0755);
  struct stat st {};
  if (host::LstatAt(folder.string(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    platform::LogLine("FSpMakeFSRef failed!!!!!!");
    return kResultPrinterFile;
  }
  const std::string base = FreePairName(folder, baseName);
  if (base.empty()) return kResultPrinterFile;
  platform::LogLine("my destination Path = " + (folder / base).string());
  std::vector<uint8_t> jpeg;
  if (!EncodeJPEG(unfitted, &jpeg) || jpeg.size() > 0xFFFFFFFFu) return kResultPrinterFile;
  layout::StoreU32BE(record.data() + kPIDataSize, uint32_t(jpeg.size()));
  // The JPEG first: the print centre acts on the property list.
  OSErr err = host::WriteFileAtomically((folder / (base + ".jpeg")).string(), jpeg.data(), jpeg.size(), 0666, false);
  if (err != noErr) {
    platform::LogF("The JPEG of the hand-off could not be written: error %d", int(err));
    return kResultPrinterFile;
  }
  platform::LogLine("my file save path equals " + (folder / (base + ".jpeg")).string());
  // The print centre acts on the property list: the pair is handed over
  // when it appears, staged whole first and recorded just before.
  auto plist = host::serializePropertyList(host::PlistValue(PrintInfoDictionary(record, web)), host::PlistFormat::Xml);
  int stageErr = 0;
  host::StagedFile staged;
  if (plist) staged = StageHandOff(folder, &stageErr);
  const bool whole = plist && staged.valid() &&
                     WriteAll(staged.fd(), *plist) &&
                     ::fsync(staged.fd()) == 0;
  err = whole ? PlaceRecorded(staged, folder / (base + ".plist")) : OSErr(ioErr);
  if (err != noErr) {
    platform::LogF("The property list of the hand-off could not be written: error %d", int(err));
    host::RemoveAt((folder / (base + ".jpeg")).string());
    return kResultPrinterFile;
  }
  platform::LogLine("my file save path equals " + (folder / (base + ".plist")).string());
  return kResultOK;
}

}  // namespace

std::optional<fs::path> DefaultPrintCenterFolder() {
  if (auto folder = output::ResolveStoredFolder(kProcessedJobsAliasID)) return folder;
  auto root = CreatePrintCenterFolderTree(host::applicationFolder());
  if (!root) return std::nullopt;
  return *root / "Jobs To Be Printed";
}

uint32_t DataTypeForPrinter(int16_t code) {
  switch (code) {
    case 30: return kDataJPEG;
    case 23: case 32: case 36: case 44: return kDataPlanesRGB;
    case 5: case 6: case 33: return kDataPlanesBGR;
    default: return kDataRGB;
  }
}

std::array<uint8_t, kPrintInfoSize> BuildPrintInfo(const TBGPrintView& view, int32_t width, int32_t height,
                                                   uint32_t dataSize, uint32_t dataType, int16_t useDualBuffer) {
  std::array<uint8_t, kPrintInfoSize> r{};
  const int16_t code = view.printer;
  const TPrinterBlocks& b = view.blocks;
  layout::StoreU16BE(r.data(), kPrintInfoMagic);
  layout::StoreU16BE(r.data() + kPIWidth, uint16_t(width));
  layout::StoreU16BE(r.data() + kPIHeight, uint16_t(height));
  layout::StoreU16BE(r.data() + kPIPrinter, uint16_t(code));
  layout::StoreU16BE(r.data() + kPIResolution, uint16_t(view.resolution));
  // These three are read low byte first by the print centre.
  PutU16LE(r.data() + kPIIsMirror, view.isMirror ? 1 : 0);
  PutU16LE(r.data() + kPIIsColor, view.isColor ? 1 : 0);
  layout::StoreU16BE(r.data() + kPIMediaTypeMustMatch, view.mediaTypeMustMatch);
  PutU16LE(r.data() + kPIUseColorSettings, view.useColorSettings ? 1 : 0);
  // The prints the print centre is asked for are the prints counted.
  layout::StoreU16BE(r.data() + kPIPrintQuantity, uint16_t(PrintCopies(view.printQuantity)));
  layout::StoreU16BE(r.data() + kPIUseDualBuffer, uint16_t(useDualBuffer));
  layout::StoreU32BE(r.data() + kPIDataSize, dataSize);
  layout::StoreU32BE(r.data() + kPIDataType, dataType);

  myUpdColorAdjustInfo2 sony = b.colorAdjust[0];
  if (code == 9 || code == 42) {
    sony.w2 = 1;  // useThisSetting
    for (int i : {0, 1, 2, 3, 4, 6}) sony.values[size_t(i)].value[0] = 0;
    sony.values[5].value[0] = 3;  // sharpness
  }
  PutRecord(r, kPISony, sony);
  if (code == 5 || code == 6 || code == 7 || code == 24 || code == 29 || code == 33) PutRecord(r, kPIKodak, b.colorAdjust[1]);
  KodakSettings kodak = b.kodak;
  if (code == 5 || code == 6 || code == 7) kodak.words[2] = uint16_t(b.colorAdjust[1].values[7].value[0]);  // lamination
  PutRecord(r, kPIKodakSettings, kodak);
  PutRecord(r, kPIFuji, b.fuji);
  const tMediaTypePref media = RecordMediaOf(view);
  PutRecord(r, kPIMedia, media);
  auto mitsu = std::make_unique<tMitsubishiSettings>(*b.mitsubishi);
  if (IsDNP(code)) {
    platform::LogF("fMitsu sharpness = %d  fDNP sharpness = %d", int(mitsu->words[2]), int(b.dnp.w0));
    mitsu->words[2] = b.dnp.w0;     // sharpness
    mitsu->words[5] = b.dnp.w2;     // printingMode
    mitsu->words52[1] = b.dnp.w1052;  // lamination
  }
  PutRecord(r, kPIMitsubishi, *mitsu);
  PutRecord(r, kPIShinko, b.shinko);

  // The colour-adjust settings, 1,048 bytes cut from a job block.
  std::vector<uint8_t> source;
  size_t from = 0;
  if (code == 9 || code == 42) { source = layout::EncodeRecord(b.colorAdjust[0]); from = 126; }
  else if (code == 56 || code == 57) { source = layout::EncodeRecord(*b.mitsubishi); from = 186; }
  else if (IsDNP(code)) { source = layout::EncodeRecord(b.dnp); from = 4; }
  if (!source.empty() && from + kPIColorAdjustSize <= source.size())
    std::memcpy(r.data() + kPIColorAdjust, source.data() + from, kPIColorAdjustSize);

  PutText(r, kPITemplateName, view.templateName.view());
  PutText(r, kPIImageName, host::UTF8ToMacRoman(view.currentImageName));
  PutText(r, kPIBaseName, view.baseName.view());
  return r;
}

bool HandOffImageData(const host::GWorld& page, uint32_t dataType, std::vector<uint8_t>* out) {
  if (dataType == kDataRGB) return convertGWorldToDotSeqHandle(&page, out);
  int16_t order[3];
  switch (dataType) {
    case kDataPlanesRGB: order[0] = 1; order[1] = 2; order[2] = 3; break;
    case kDataPlanesCMY: order[0] = 4; order[1] = 5; order[2] = 6; break;
    case kDataPlanesYMC: order[0] = 6; order[1] = 5; order[2] = 4; break;
    case kDataPlanesBGR: order[0] = 3; order[1] = 2; order[2] = 1; break;
    default: return false;
  }
  const size_t w = size_t(page.width()), h = size_t(page.height());
  if (w == 0 || h == 0 || w > std::numeric_limits<size_t>::max() / 3 / h) return false;
  const size_t planeSize = w * h;
  try {
    out->resize(planeSize * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::vector<uint8_t> plane(planeSize);
  for (int i = 0; i < 3; ++i) {
    if (!getOneChannelFromGWorldToOneHandleNew(order[i], const_cast<host::GWorld*>(&page), &plane, false)) return false;
    std::memcpy(out->data() + planeSize * size_t(i), plane.data(), planeSize);
  }
  return true;
}

host::PlistDict PrintInfoDictionary(std::span<const uint8_t, kPrintInfoSize> rec,
                                    const std::optional<host::PlistDict>& web) {
  const uint8_t* p = rec.data();
  auto i16 = [](const uint8_t* q) { return int64_t(int16_t(layout::LoadU16BE(q))); };
  auto i16le = [](const uint8_t* q) { return int64_t(int16_t(uint16_t(q[0] | q[1] << 8))); };
  auto i32 = [](const uint8_t* q) { return int64_t(int32_t(layout::LoadU32BE(q))); };
  auto u32 = [](const uint8_t* q) { return int64_t(layout::LoadU32BE(q)); };
  host::PlistDict d{
      {"printer", i16(p + kPIPrinter)},           {"width", i16(p + kPIWidth)},
      {"height", i16(p + kPIHeight)},             {"resolution", i16(p + kPIResolution)},
      {"isMirror", i16le(p + kPIIsMirror)},       {"isColor", i16le(p + kPIIsColor)},
      {"mediaTypeMustMatch", i16(p + kPIMediaTypeMustMatch)},
      {"useColorSettings", i16le(p + kPIUseColorSettings)},
      {"printQuantity", i16(p + kPIPrintQuantity)}, {"useDualBuffer", i16(p + kPIUseDualBuffer)},
      {"dataSize", u32(p + kPIDataSize)},         {"dataType", u32(p + kPIDataType)},
  };
  // Values of the colour-adjust records are 32-bit (the first of three u32
  // of each value record): each is written as the whole number stored.
  auto colourBlock = [&](size_t at) {
    const uint8_t* q = p + at;
    return host::PlistDict{
        {"version", i16(q)},          {"useThisSetting", i16(q + 2)}, {"red", i32(q + 4)},
        {"green", i32(q + 16)},       {"blue", i32(q + 28)},          {"dark", i32(q + 40)},
        {"light", i32(q + 52)},       {"sharpness", i32(q + 64)},     {"gamma", i32(q + 76)},
        {"lamination", i32(q + 88)},  {"printQty", u32(q + 112)},     {"useLaminationType", i16(q + 124)},
    };
  };
  d["sonyPrintSettings"] = colourBlock(kPISony);
  d["kodakPrintSettings"] = colourBlock(kPIKodak);
  const uint8_t* m = p + kPIMitsubishi;
  d["mitsubishiSettings"] = host::PlistDict{
      {"numOfCopies", i16(m)}, {"density", i16(m + 2)}, {"sharpness", i16(m + 4)}, {"coefficient", i16(m + 6)},
      {"offset", i16(m + 8)}, {"printingMode", i16(m + 10)}, {"adjustCurve", i16(m + 52)},
      {"lamination", i16(m + 54)}, {"gamma", i16(m + 56)}, {"contrast", i16(m + 180)}, {"mirror", i16(m + 182)},
      {"colorConversion", i16(m + 184)}, {"colorAdjustRed", i32(m + 58)}, {"colorAdjustGreen", i32(m + 70)},
      {"colorAdjustBlue", i32(m + 82)}, {"colorAdjustDark", i32(m + 94)}, {"colorAdjustLight", i32(m + 106)},
      {"colorAdjustSharpness", i32(m + 118)}, {"colorAdjustGamma", i32(m + 130)},
      {"colorAdjustLamination", i32(m + 142)}, {"printQty", u32(m + 166)},
  };
  const uint8_t* md = p + kPIMedia;
  d["mediaSettings"] = host::PlistDict{
      {"turnOn", i16(md)}, {"mediaType", i16(md + 2)}, {"cutInHalf", i16(md + 4)}, {"orientation", i16(md + 6)},
      {"surfaceIndex", i16(md + 8)}, {"ribbonType", i16(md + 10)}, {"resizeMethod", i16(md + 12)},
      {"printMode", i16(md + 14)},
  };
  const uint8_t* s = p + kPIShinko;
  d["shinkoSettings"] = host::PlistDict{
      {"colorAdjustRed", i32(s)}, {"colorAdjustGreen", i32(s + 12)}, {"colorAdjustBlue", i32(s + 24)},
      {"colorAdjustDark", i32(s + 36)}, {"colorAdjustLight", i32(s + 48)}, {"colorAdjustSharpness", i32(s + 60)},
      {"colorAdjustGamma", i32(s + 72)}, {"colorAdjustLamination", i32(s + 84)}, {"printQty", u32(s + 108)},
      {"matteLevel", i16(s + 124)}, {"printMode", i16(s + 122)},
  };
  const uint8_t* c = p + kPIColorAdjust;
  auto f32 = [](const uint8_t* q) { return double(layout::BitsToFloat(layout::LoadU32BE(q))); };
  d["colorAdjustSettings"] = host::PlistDict{
      {"colorAdjustSaturation", f32(c)}, {"colorAdjustBrightness", f32(c + 4)}, {"colorAdjustContrast", f32(c + 8)},
      {"colorAdjustRed", f32(c + 12)}, {"colorAdjustGreen", f32(c + 16)}, {"colorAdjustBlue", f32(c + 20)},
      {"colorAdjustSharpness", f32(c + 24)}, {"colorAdjustGamma", f32(c + 28)},
      {"colorAdjustExposure", f32(c + 32)}, {"colorAdjustHue", f32(c + 36)},
  };
  if (web) d["webServerDictionary"] = *web;
  return d;
}

std::optional<fs::path> CreatePrintCenterFolderTree(const fs::path& parent) {
  const std::string root = CreateOrFindFolderPath(parent.string(), kPrintCenterFolderName);
  if (root.empty()) return std::nullopt;
  for (const char* sub : {"Jobs In Spool", "Jobs Not Printed", "Jobs Printed", "Jobs Canceled", "Jobs Not Valid",
                          "Jobs To Be Printed"}) {
    if (CreateOrFindFolderPath(root, sub).empty()) return std::nullopt;
  }
  return fs::path(root);
}

std::string HandOffBaseName(const std::string& templateName) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  // The date in form 99 and the time string, of one moment.
  const std::string stamp = getDateString(99, tm).ToUTF8() + "_" + getTimeString(tm).ToUTF8() + "_";
  return output::CleanName(stamp + MacAddressText() + "_" + platform::CutChars(templateName, 15));
}

tMediaTypePref RecordMediaOf(const TBGPrintView& view) {
  const TPrinterBlocks& b = view.blocks;
  const int16_t code = view.printer;
  tMediaTypePref media = b.mediaType[0];
  if (code == 23) media.words[2] = b.mitsubishiMedia.words[2];  // cutInHalf
  if (code == 24 || code == 29 || code == 33) media.words[1] = b.mediaType[1].words[1];  // mediaType
  if (code == 33) {
    media.words[2] = b.mediaType[1].words[2];
    media.words[5] = b.mediaType[1].words[5];  // ribbonType
  }
  return media;
}

namespace {

// The print record keeps the page's width and height as signed 16-bit
// numbers: a wider or taller page cannot be handed off, and is refused
// before anything is written.
bool FitsPrintRecord(const host::GWorld& page) {
  constexpr int32_t kMaxSide = std::numeric_limits<int16_t>::max();
  if (page.width() <= kMaxSide && page.height() <= kMaxSide) return true;
  platform::LogF("The page of %d x %d pixels is larger than the print centre takes (%d pixels a side)", page.width(),
                 page.height(), int(kMaxSide));
  return false;
}

}  // namespace

int16_t ProcessOffscreenAndWriteToFile(TSpoolerPrintView& view, host::GWorldHandle page,
                                       const std::optional<host::PlistDict>& web) {
  if (!page) return kResultPrinterFile;
  THandOffHooks& hooks = view.services.HandOffHooks();
  const bool useNew = hooks.UseNewHandOff();
  const int16_t dual = hooks.DualSwitch();
  // Which form the print centre gets, and whether the start-up's system
  // check ran (a hand-off from a program that never started says so).
  platform::LogF("Print-centre hand-off: %s form; system check %s", useNew ? "property-list" : "binary",
                 isOSXVersion() ? "passed" : "not run");
  const auto folder = hooks.PrintCenterFolder();
  if (!folder) {
    platform::LogLine("The print-centre folder cannot be found");
    return kResultPrinterFile;
  }
  // The JPEG of the pair shows the page before it is fitted and converted.
  host::GWorldHandle unfitted;
  if (useNew && !(unfitted = myDuplicateGWorld(page.get()))) return kResultOutOfMemory;

  const int16_t code = view.printer;
  const tMediaTypePref media = RecordMediaOf(view);
  const CLongRect_AC rect = view.GetOutputRect(*page, media.words[1], media.words[2]);
  if (!rect.IsEmpty()) {
    const CLongRect_AC pageRect(0, 0, page->height(), page->width());
    if (isLandscape(pageRect) != isLandscape(rect)) page = effects::Turn90(std::move(page), 2);
    if (page->width() != rect.Width() || page->height() != rect.Height()) {
      // A page that cannot be fitted (no memory) goes on at its own size.
      if (auto fitted = TSpoolerPrintView::CropGWorldToNewSize(page, rect, 2)) page = std::move(fitted);
    }
  }
  if (!FitsPrintRecord(*page)) return kResultPrinterFile;
  view.ApplyColorSettings(code, *page);
  if (code == 15) {
    // The print centre also takes this printer's page as a JPEG in the
    // preferences folder.
    if (!EncodeJPEG(*page, nullptr)) platform::LogLine("TempFile could not be written into the preferences folder");
  }
  if (code == 44 || IsDNP(code)) {
    effects::Mirror(page.get());
    // Printing mode 2 prints the page stretched to twice its height.
    const uint16_t mode = IsDNP(code) ? view.blocks.dnp.w2 : view.blocks.mitsubishi->words[5];
    if (mode == 2 && page->height() <= std::numeric_limits<int32_t>::max() / 2) {
      auto tall = host::GWorld::Create(CLongRect_AC(0, 0, page->height() * 2, page->width()));
      if (tall && betterResizeGworldToGworld(page.get(), page->bounds(), tall.get(), tall->bounds(), kScaleLinear))
        page = std::move(tall);
    }
  }

  if (!FitsPrintRecord(*page)) return kResultPrinterFile;

  const uint32_t dataType = DataTypeForPrinter(code);
  platform::LogF("my data type = %d", int(dataType));
  const std::string base = HandOffBaseName(host::MacRomanToUTF8(view.templateName.view()));
  if (useNew) {
    auto record = BuildPrintInfo(view, page->width(), page->height(), 0, dataType, dual);
    return WritePair(*folder, *unfitted, record, web, base);
  }
  std::vector<uint8_t> data;
  const bool ok = dataType == kDataJPEG ? EncodeJPEG(*page, &data) : HandOffImageData(*page, dataType, &data);
  if (!ok || data.size() > 0xFFFFFFFFu) {
    DisplayNormalMessage("Out of Memory!");
    return kResultPrinterFile;
  }
  const auto record = BuildPrintInfo(view, page->width(), page->height(), uint32_t(data.size()), dataType, dual);
  return WriteBinaryHandOff(*folder, record, data, base);
}

}  // namespace pipeline
