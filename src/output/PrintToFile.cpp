#include "output/PrintToFile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <fstream>
#include <system_error>

#include "host/base/MacRoman.h"
#include "host/files/Alias.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/Folders.h"
#include "output/Metadata.h"
#include "output/OutputFiles.h"
#include "platform/FileNames.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/ShellCommands.h"
#include "prefs/FolderAliases.h"

namespace output {

namespace fs = std::filesystem;

namespace {

template <class S>
std::string Utf8(const S& pascal) {
  return host::MacRomanToUTF8(pascal.view());
}

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

void Status(TOutputEnv& env, const std::string& text) {
  if (env.setStatus) env.setStatus(text);
}

// Turns the page when its orientation is not the wanted one.
void ForceOrientation(host::GWorldHandle& page, const tSpecialPrintToFilePref& rec, TOutputEnv& env) {
  if (!rec.forceOrientation) return;
  const bool landscape = page->width() > page->height();
  if (!((landscape && rec.orientation == 2) || (!landscape && rec.orientation == 1))) return;
  auto turned = RotatePage90(*page, rec.rotation);
  if (!turned) return;
  page = std::move(turned);
  if (env.showPreview) {
    env.showPreview(nullptr);
    env.showPreview(page.get());
  }
}

void FitForWeb(host::GWorldHandle& page) {
  if (auto fitted = FitPage(*page, kWebSize, kWebSize)) page = std::move(fitted);
}

int QualityFor(const TOutputJob& job, int16_t format, TOutputEnv& env) {
  const int16_t prefs = env.outputFileQuality ? env.outputFileQuality() : 0;
  int q = format == 10 ? prefs : job.outputQuality;
  if (q <= 0) q = prefs;
  if (q <= 0) q = 75;
  return std::min(q, 100);
}

std::vector<uint8_t> SourceProfile(const TOutputJob& job) {
  if (!job.embedSourceProfile || job.firstImageFile.empty()) return {};
  auto info = host::ReadImageInfo(job.firstImageFile);
  if (!info.ok() || info.info.iccProfile.empty()) {
    platform::LogLine("Colorsync profile could not be extracted from source file - does it have one?");
    return {};
  }
  return info.info.iccProfile;
}

// The bytes of one output file with its metadata: `metadata` 0 none, 1 the
// plain or site form (by the upload site), 2 the customer form, 3 the PNG
// block.
bool EncodeOutput(const host::GWorld& page, int16_t format, int16_t dpi, int quality, const std::vector<uint8_t>& icc,
                  int metadata, const TOutputJob& job, const std::string& sourcePath, std::vector<uint8_t>* out) {
  std::optional<std::string> comment;
  if (metadata == 1)
    comment = MetadataXml(getftpSite() < 2 ? PlainMetadata(sourcePath) : SiteMetadata(sourcePath));
  else if (metadata == 2)
    comment = MetadataXml(DornsMetadata(sourcePath, job.dornsBlock));
  std::string error;
  if (!EncodePage(page, format, dpi, quality, icc, comment, out, &error)) {
    platform::LogLine("Saving the page failed: " + error);
    return false;
  }
  if (metadata == 3) {
    const auto block = PngMetadataBlock(sourcePath);
    out->insert(out->end(), block.begin(), block.end());
  }
  return true;
}

// Writes bytes under a name made free with " copy" names (or the wanted name
// itself with `replace`); the name actually used goes into `name`.
bool PlaceWithCopyName(const fs::path& folder, const std::string& base, const std::string& ext, bool replace,
                       const std::vector<uint8_t>& bytes, std::string& name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (replace) {
      name = base + ext;
    } else {
      auto free = UniqueNameWithCopy(folder, base, ext);
      if (!free) {
        DisplayNormalMessage("newGetUniqueNameWithCopy - Unable to get a unique name???");
        return false;
      }
      name = *free;
    }
    std::string error;
    if (PutFileInPlace(folder, name, bytes, replace, &error)) return true;
    platform::LogLine(error);
    std::error_code ec;
    if (replace || !fs::exists(folder / name, ec)) return false;  // not a name taken meanwhile
  }
  return false;
}

std::string PercentEscaped(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) out.push_back(char(c));
    else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out.size() > 1023 ? std::string() : out;
}

// The folder a set writes into: the set folder and the subfolders the job's
// item asks for.
fs::path TargetFolder(const TOutputJob& job, const tSpecialPrintToFilePref& rec, const fs::path& setFolder,
                      const std::string& baseName) {
  if (!job.item.subfolders) return setFolder;
  const auto& r = job.item.rules;  // R1..R6
  const std::string a = Utf8(job.jobSet.subFolderName);
  const std::string b = Utf8(job.jobSet.groupFolderName);
  const std::string customer = getCustomerNameFromFileName(baseName);
  std::vector<std::string> steps;
  if (!r[2]) {
    if (!r[0] && !r[1]) {
      steps = {b, a};
      if (customer != a && rec.namingType != 6) steps.push_back(customer);
    } else if (!r[0] && r[1]) {
      const auto cut = a.find('_');
      steps = {cut == std::string::npos ? a : a.substr(0, cut), customer};
    } else {
      steps = {a};
    }
  } else {
    if (r[3]) steps.push_back(b);
    if (r[4]) steps.push_back(a);
    if (r[5]) steps.push_back(customer);
  }
  fs::path folder = setFolder;
  for (const auto& step : steps) {
    auto next = CreateSubFolder(folder, step);
    if (!next) {
      DisplayNormalMessage(("createNewFolder => cannot create the folder " + step).c_str());
      break;  // the route goes on in the folder reached so far
    }
    folder = *next;
  }
  return folder;
}

struct TSetResult {
  int16_t code = kRouteOK;
  int16_t set = 0;
  const tSpecialPrintToFilePref* rec = nullptr;
  std::string base;
  fs::path folder;
  std::string lastName;  // the last file put in place
};

// Stages 1 to 11 of a set: choose, resolve, subfolders, orientation, sizes,
// alpha, the copies with their metadata and video copies.
TSetResult WriteSet(TOutputJob& job, int16_t itemSet, host::GWorldHandle& page, TOutputEnv& env, bool searchClients) {
  TSetResult res;
  res.set = searchClients ? ChooseSet(job, itemSet, env) : itemSet;
  res.rec = res.set >= 1 && res.set <= 8 ? env.setPrefs(res.set) : nullptr;
  const auto setFolder = res.rec ? env.resolveFolder(int16_t(4510 + res.set)) : std::nullopt;
  if (!res.rec || !setFolder) {
    res.code = kRouteFolderMissing;
    return res;
  }
  const auto& rec = *res.rec;
  res.base = CleanName(GetNewBaseNameForPrintToFile(job, rec));
  res.folder = TargetFolder(job, rec, *setFolder, res.base);
  ForceOrientation(page, rec, env);
  Status(env, "Saving File(s)\xE2\x80\xA6");
  const int16_t format = rec.fileFormat;
  if ((format == 10 && !rec.doNotResizeJpegForWeb) || (format == 9 && !rec.doNotResizePng)) FitForWeb(page);
  if (!job.item.keepAlpha) MakeOpaque(*page);

  const std::string ext = CleanName(Utf8(rec.extension));
  const bool overwrite = rec.overwrite && (rec.namingType == 3 || rec.namingType == 4 || rec.namingType == 6 ||
                                           rec.namingType == 7);
  if (overwrite) platform::LogLine("Not necessary to get unique name, going to overwrite");
  const int quality = QualityFor(job, format, env);
  const auto icc = SourceProfile(job);
  int metadata = 0;
  if (format == 10) metadata = 1;
  else if (format == 3 && job.dornsSwitch) metadata = 2;
  else if (format == 9) metadata = 3;
  setftpSite(rec.ftpSite);

  if (!FormatWritesFile(format)) return res;  // formats 0 and 1 write nothing
  std::vector<uint8_t> bytes;
  if (!EncodeOutput(*page, format, job.resolution, quality, icc, metadata, job, job.sourcePath, &bytes)) {
    DisplayNormalMessage(kSaveErrorMessage);
    res.code = kRouteWriteFailed;
    return res;
  }
  const int copies = std::max<int>(1, job.copies);
  for (int copy = 0; copy < copies; ++copy) {
    std::string name;
    if (!PlaceWithCopyName(res.folder, res.base, ext, overwrite, bytes, name)) {
      DisplayNormalMessage(kSaveErrorMessage);
      res.code = kRouteWriteFailed;
      break;
    }
    platform::LogLine("File saved as: [" + (res.folder / name).string() + "]");
    res.lastName = name;
    DoIfVideoCopy(job, rec, res.folder, env);
  }
  return res;
}

}  // namespace

// ---- naming

void SetCurrentImageName(TOutputJob& job, const std::string& name) {
  if (name == "No File") return;
  std::string ext = Utf8(getExtensionFromSourceFile(CStr255_AC(name)));
  for (auto& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
  job.currentImageExt = ext;
  std::string cut = name;
  if (auto p = name.find("_t"); p != std::string::npos) cut = name.substr(0, p);
  else if (auto q = Lower(name).rfind(" copy"); q != std::string::npos) cut = name.substr(0, q);
  else if (auto d = name.rfind('.'); d != std::string::npos) cut = name.substr(0, d);
  job.currentImageName = cut;
  setTicketNumber(cut);
}

std::string GetNewBaseNameForPrintToFile(const TOutputJob& job, const tSpecialPrintToFilePref& rec) {
  switch (rec.namingType) {
    case 1: return Utf8(rec.baseName);
    case 2: return job.templateName;
    case 3: return job.currentImageName;
    case 4: return job.templateName + "_" + job.currentImageName;
    case 5: {
      const std::time_t now = std::time(nullptr);
      std::tm tm{};
      localtime_r(&now, &tm);
      char text[64];
      std::snprintf(text, sizeof text, "%04d%02d%02d_%d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                    tm.tm_hour, tm.tm_min, tm.tm_sec);
      return text;
    }
    case 6: return job.currentImageName + "_" + job.baseName;
    case 7: return job.nameSuffix.empty() ? job.currentImageName : job.currentImageName + "_" + job.nameSuffix;
    case 8: return job.templateName.empty() ? job.currentImageName : job.currentImageName + "_" + job.templateName;
    default: return {};
  }
}

std::string getCustomerNameFromFileName(const std::string& name) {
  if (auto p = name.find('_'); p != std::string::npos && p + 1 < name.size()) return name.substr(0, p);
  if (auto p = name.find(" copy"); p != std::string::npos) return name.substr(0, p);
  if (auto p = Lower(name).rfind('.'); p != std::string::npos && p + 1 < name.size()) return name.substr(0, p);
  return name;
}

std::optional<fs::path> createUniqueNameFromPath(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return path;
  const fs::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  std::string ext = path.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  auto candidate = [&](const std::string& s) { return folder / (ext.empty() ? s : s + "." + ext); };
  if (auto c = candidate(stem + " copy"); !fs::exists(c, ec)) return c;
  for (int i = 1; i <= 32000; ++i)
    if (auto c = candidate(stem + " copy " + std::to_string(i)); !fs::exists(c, ec)) return c;
  platform::LogLine("createUniqueNameFromPath: no free name for " + path.string());
  return std::nullopt;
}

int16_t ChooseSet(const TOutputJob& job, int16_t itemSet, TOutputEnv& env) {
  if (!job.webDictionary) return itemSet;
  const auto* ip = job.webDictionary->contains("ipaddress") ? job.webDictionary->at("ipaddress").asString() : nullptr;
  if (!ip) return itemSet;
  const std::string address = Lower(Trim(*ip));
  for (int16_t n = 1; n <= 8; ++n) {
    const auto* rec = env.setPrefs(n);
    if (!rec) continue;
    const std::string list = Utf8(rec->editText);
    size_t start = 0;
    while (start <= list.size() && !list.empty()) {
      const size_t comma = list.find(',', start);
      const std::string entry = Lower(Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
      if (!entry.empty() && entry == address) return n;
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return itemSet;
}

// ---- the set route

int16_t DoNewPrintToFile(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  if (!page) return kRouteWriteFailed;
  TSetResult res = WriteSet(job, job.item.setNumber, page, env, true);
  // Without the main file the job fails and is tried again; extras written
  // now would then be written twice.
  if (res.code != kRouteOK) return res.code;
  const auto& rec = *res.rec;

  // The web copy.
  if (!rec.createJpegForWeb) {
    platform::LogLine("createJPEGForWeb == FALSE");
  } else if (!res.lastName.empty()) {
    if (auto webFolder = env.resolveFolder(kWebUploadAliasID)) {
      const std::string source = PercentEscaped((res.folder / res.lastName).string());
      FitForWeb(page);
      std::string webName = res.lastName;
      if (platform::CharCount(res.base + ".JPG") > 25) webName = res.base + ".JPG";
      auto free = UniqueNameWithCopyBeforeExtension(*webFolder, webName);
      std::vector<uint8_t> bytes;
      const int16_t q = env.outputFileQuality ? env.outputFileQuality() : 0;
      if (!free) {
        platform::LogLine("renamefailed: no free name for the web copy");
      } else if (!EncodeOutput(*page, 10, job.resolution, q > 0 ? q : 75, {}, 1, job, source, &bytes) ||
                 !PutFileInPlace(*webFolder, *free, bytes, false)) {
        platform::LogLine("The web copy could not be written");
      }
    }
  }

  // Further sets, from the page as it now is.
  for (int16_t v : rec.alsoCopyToSet) {
    if (v < 2 || v > 9 || v - 1 == res.set) continue;
    auto dup = DuplicatePage(*page);
    if (!dup) {
      platform::LogLine("No memory for a copy in a further set");
      continue;
    }
    const int16_t r = CreateAnotherCopy(job, int16_t(v - 1), std::move(dup), env);
    if (r != kRouteOK) platform::LogF("The copy in set %d failed with %d", int(v - 1), int(r));
  }
  return kRouteOK;
}

int16_t CreateAnotherCopy(TOutputJob& job, int16_t set, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  if (!page) return kRouteWriteFailed;
  // The further copies go to the sets the operator named, whatever the
  // client address of the job.
  return WriteSet(job, set, page, env, false).code;
}

void DoIfVideoCopy(const TOutputJob& job, const tSpecialPrintToFilePref& rec, const fs::path& folder, TOutputEnv& env) {
  if (!job.videoCopy || !rec.doNotResizeJpegForWeb || job.videoPath.empty()) return;
  const fs::path clip = job.videoPath;
  std::error_code ec;
  if (!fs::is_regular_file(clip, ec)) return;
  const std::string name = CleanName(clip.filename().string());
  if (name.empty()) return;
  fs::path dest = folder / name;
  if (job.videoMerge) {
    // A clip that already lies in the output folder is never merged over
    // itself: the merged video gets a name of its own.
    if (fs::equivalent(clip, dest, ec)) {
      auto free = createUniqueNameFromPath(dest);
      if (!free) return;
      dest = *free;
    }
    if (!env.mergeVideos || !env.mergeVideos(clip, dest)) platform::LogLine("The video merge did not produce " + dest.string());
    return;
  }
  bool replace = rec.overwrite != 0;
  if (!replace) {
    auto free = createUniqueNameFromPath(dest);
    if (!free) return;
    dest = *free;
  }
  const fs::path temp = folder / (std::string(kTempPrefix) + dest.filename().string());
  fs::copy_file(clip, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) {
    if (replace) fs::rename(temp, dest, ec);
    else if (fs::exists(dest)) ec = std::make_error_code(std::errc::file_exists);
    else fs::rename(temp, dest, ec);
  }
  if (ec) {
    platform::LogLine("Copying the video failed: " + ec.message());
    fs::remove(temp, ec);
  }
}

// ---- the single folder and the yearbook

int16_t Print2File(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  if (!page) return kRouteWriteFailed;
  const auto& rec = job.jobSet;
  if (rec.namingType == 2 || rec.namingType == 3) return DoSpecialPrintToFile(job, std::move(page), env);
  const auto folder = env.resolveFolder(kPrintToFileAliasID);
  if (!folder) return kRouteFolderMissing;
  ForceOrientation(page, rec, env);
  Status(env, "Saving File(s)\xE2\x80\xA6");
  const int16_t format = rec.fileFormat;
  if (!FormatWritesFile(format)) return kRouteOK;
  if (format == 9) FitForWeb(page);
  const std::string base = CleanName(Utf8(rec.baseName));
  const std::string ext = CleanName(Utf8(rec.extension));
  std::vector<uint8_t> bytes;
  if (!EncodeOutput(*page, format, job.resolution, QualityFor(job, format, env), {}, 0, job, {}, &bytes)) {
    DisplayNormalMessage(kSaveErrorMessage);
    return kRouteWriteFailed;
  }
  int32_t counter = 1;
  for (int copy = 0; copy < std::max<int>(1, job.copies); ++copy) {
    std::optional<std::string> name =
        job.plainName ? UniqueNameWithCopyBeforeExtension(*folder, platform::CutChars(base, 22) + ext)
                      : UniqueNumberedName(*folder, base, counter, ext, 4);
    std::string error;
    if (!name || !PutFileInPlace(*folder, *name, bytes, false, &error)) {
      platform::LogLine(error);
      DisplayNormalMessage(kSaveErrorMessage);
      return kRouteWriteFailed;
    }
    platform::LogLine("File saved as: [" + (*folder / *name).string() + "]");
  }
  return kRouteOK;
}

std::string YearbookString(const std::array<uint8_t, 10496>& record, int index) {
  if (index < 0 || index > 40) return {};
  const uint8_t* s = record.data() + size_t(index) * 256;
  return host::MacRomanToUTF8(std::string_view(reinterpret_cast<const char*>(s + 1), s[0]));
}

int16_t DoSpecialPrintToFile(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  Status(env, "Saving File(s)\xE2\x80\xA6");
  if (!page) return kRouteFolderMissing;
  const auto& rec = job.jobSet;
  auto photos = CreateSubFolder(env.desktopFolder(), "Yearbook Photos");
  const std::string folderName = CleanName(Utf8(rec.yearbookFolderName));
  auto folder = photos ? CreateSubFolder(*photos, folderName) : std::nullopt;
  if (!folder) {
    DisplayNormalMessage("createNewFolder => the yearbook folder cannot be created");
    return kRouteWriteFailed;
  }
  // A job without a folder name of its own never empties "Yearbook Photos".
  if (rec.namingType == 3 && !folderName.empty()) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(*folder, ec)) {
      const std::string n = entry.path().filename().string();
      if (entry.is_regular_file(ec) && !n.empty() && n[0] != '.') fs::remove(entry.path(), ec);
    }
  }
  ForceOrientation(page, rec, env);
  const int16_t format = rec.fileFormat;
  if (!FormatWritesFile(format)) return kRouteOK;
  if (format == 9) FitForWeb(page);
  const std::string base = CleanName(Utf8(rec.baseName));
  const std::string ext = CleanName(Utf8(rec.extension));
  std::vector<uint8_t> bytes;
  if (!EncodeOutput(*page, format, job.resolution, QualityFor(job, format, env), {}, 0, job, {}, &bytes)) {
    DisplayNormalMessage(kSaveErrorMessage);
    return kRouteWriteFailed;
  }
  // The yearbook name: four value strings chosen by the record's indexes
  // (index n is string n - 2; 1 and anything out of range give nothing).
  std::string yearbookName;
  if (rec.yearbookNaming && job.yearbookValues) {
    auto part = [&](int i) {
      const int n = rec.yearbookFields[size_t(i)];
      return n == 1 ? std::string() : YearbookString(*job.yearbookValues, n - 2);
    };
    if (!part(0).empty()) {
      for (int i = 0; i < 4; ++i) yearbookName += part(i) + Utf8(rec.yearbookSeparators[size_t(i)]);
      yearbookName = CleanName(yearbookName + ext);
    }
  }
  int32_t counter = 1;
  fs::path last;
  int16_t result = kRouteOK;
  for (int copy = 0; copy < std::max<int>(1, job.copies); ++copy) {
    std::optional<std::string> name;
    if (!yearbookName.empty()) name = UniqueNameWithCopyBeforeExtension(*folder, yearbookName);
    else if (job.plainName) name = UniqueNameWithCopyBeforeExtension(*folder, base + ext);
    else name = UniqueNumberedName(*folder, base, counter, ext, 4);
    std::string error;
    if (!name || !PutFileInPlace(*folder, *name, bytes, false, &error)) {
      platform::LogLine(error);
      DisplayNormalMessage(kSaveErrorMessage);
      result = kRouteWriteFailed;
      break;
    }
    last = *folder / *name;
  }
  if (!last.empty() && job.yearbookValues && job.yearbookTitles)
    writeLogForYearbookFile(last, *job.yearbookValues, *job.yearbookTitles);
  return result;
}

void writeLogForYearbookFile(const fs::path& file, const std::array<uint8_t, 10496>& values,
                             const std::array<uint8_t, 10496>& titles) {
  const fs::path log = file.parent_path() / "Yearbook.read me";
  std::error_code ec;
  const bool empty = !fs::exists(log, ec) || fs::file_size(log, ec) == 0;
  std::ofstream out(log, std::ios::binary | std::ios::app);
  if (!out) return;
  auto text = [](const std::array<uint8_t, 10496>& r, int i) {
    const uint8_t* s = r.data() + size_t(i) * 256;
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
  };
  if (empty) {
    out << "File Name\t";
    for (int i = 0; i < 20; ++i) out << text(titles, i) << '\t';
    out << '\r';
  }
  out << host::UTF8ToMacRoman(file.filename().string()) << '\t';
  for (int i = 0; i < 20; ++i) out << text(values, i) << '\t';
  out << '\r';
}

// ---- environment

std::optional<fs::path> ResolveStoredFolder(int16_t aliasID) {
  auto alias = ReadAliasHandle(aliasID);
  if (!alias) return std::nullopt;
  std::string path;
  if (host::ResolveAlias(*alias, &path) != noErr) return std::nullopt;
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return std::nullopt;
  return fs::path(path);
}

void CompleteOutputEnv(TOutputEnv& env) {
  if (!env.resolveFolder) env.resolveFolder = ResolveStoredFolder;
  if (!env.setPrefs) env.setPrefs = [](int16_t n) -> const tSpecialPrintToFilePref* { return getMyPrintToFileSetPrefs(n); };
  if (!env.webUploadPrefs) env.webUploadPrefs = []() -> const tSpecialPrintToFilePref* { return getMyWebUploadPrefs(); };
  if (!env.outputFileQuality)
    env.outputFileQuality = [] { return getMyOutputFilePrefs() ? getMyOutputFilePrefs()->jpegQuality : int16_t(0); };
  if (!env.desktopFolder) env.desktopFolder = [] { return host::desktopFolder(); };
  if (!env.mergeVideos)
    env.mergeVideos = [](const fs::path& clip, const fs::path& dest) { return MergeVideos(clip, dest) == noErr; };
}

TOutputEnv DefaultOutputEnv() {
  TOutputEnv env;
  CompleteOutputEnv(env);
  return env;
}

}  // namespace output
