#include "output/PrintToFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <set>
#include <system_error>
#include <unordered_set>

#include "host/base/Fd.h"
#include "host/base/MacRoman.h"
#include "host/base/UniqueFile.h"
#include "host/files/Alias.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FSSpec.h"
#include "host/files/FileManager.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/files/StagedFile.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/Folders.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
#include "imaging/Offscreen.h"
#include "imaging/OutputFileHelpers.h"
#include "output/Metadata.h"
#include "output/OutputFiles.h"
#include "platform/CrashPoints.h"
#include "platform/FileNames.h"
#include "platform/FileServices.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"
#include "platform/ShellCommands.h"
#include "platform/UniqueNames.h"
#include "prefs/FolderAliases.h"
#include "imaging/ImageLoading.h"
#include "imaging/OutputFileHelpers.h"
#include "platform/UniqueNames.h"
#include "host/files/FSSpec.h"

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
  auto turned = rotateGWorld90DegreesDoNotDispose(rec.rotation, page.get());
  if (!turned) return;
  page = std::move(turned);
  if (env.showPreview) {
    env.showPreview(nullptr);
    env.showPreview(page.get());
  }
}

void FitForWeb(host::GWorldHandle& page) {
  // The page is taken over only when the fit succeeds.
  if (auto fitted = ResizeToNewSize(page, CLongRect_AC(0, 0, kWebSize, kWebSize))) page = std::move(fitted);
}

// A JPEG for the web takes the quality of the Output Files panel; every
// other page the job's own, and a job that carries none the writer's
// default. The panel's quality is the web copy's alone: it is set low for
// uploads and would spoil a print.
int QualityFor(const TOutputJob& job, int16_t format, TOutputEnv& env) {
  constexpr int kWriterDefaultQuality = 75;
  int q = format == 10 ? (env.outputFileQuality ? env.outputFileQuality() : 0) : job.outputQuality;
  if (q <= 0) q = kWriterDefaultQuality;
  return std::min(q, 100);
}

// Whether anything stands at `path` (below a held folder looked at from it,
// see host/files/HeldFolders.h).
bool Exists(const fs::path& path) { return host::ExistsAt(path.string()); }

// The specification of a folder in the folder convention (its own id in
// parID, no name), which the name searches take as "in this folder".
std::optional<FSSpec> FolderSpec(const fs::path& folder) {
  FSSpec spec;
  if (host::MakeFolderSpecFromPath(folder.string(), &spec) != noErr) return std::nullopt;
  return spec;
}

// The specification of a file in a folder, by its on-disk (UTF-8) name.
std::optional<FSSpec> FileSpec(const fs::path& folder, const std::string& name) {
  FSSpec spec;
  const OSErr err = host::MakeFSSpecFromPath((folder / name).string(), &spec);
  if (err != noErr && err != fnfErr) return std::nullopt;
  return spec;
}

// The numbered working name base "_" 0001 ext (31 characters) free in the
// folder, as a specification there; the counter keeps the number used.
std::optional<FSSpec> NumberedName(const fs::path& folder, const std::string& base, int32_t& counter,
                                   const std::string& ext) {
  auto spec = FolderSpec(folder);
  if (!spec) return std::nullopt;
  getUniqueNameForPrintToFile(CStr255_AC(base), counter, CStr255_AC(ext), 4, *spec);
  return spec;
}

// The names in `folder`, from one listing of it: the name searches below
// look up candidates here instead of asking the folder once per candidate.
std::unordered_set<std::string> NamesIn(const fs::path& folder) {
  std::unordered_set<std::string> names;
  std::vector<std::string> listed;
  if (host::ListNamesAt(folder.string(), &listed) == 0) names.insert(listed.begin(), listed.end());
  return names;
}

// Free names for `count` copies of `name` in the folder, from one listing
// of it: `name` itself when free, then its free " copy" names (63
// characters), never one of `alsoTaken` (names found taken at the last
// moment). Nothing when there are not that many.
std::optional<std::vector<std::string>> FreeCopyNamesBeforeExtension(const fs::path& folder, const std::string& name,
                                                                      size_t count,
                                                                      const std::set<std::string>& alsoTaken = {}) {
  const std::unordered_set<std::string> there = NamesIn(folder);
  auto taken = [&](const std::string& n) { return there.count(n) != 0 || alsoTaken.count(n) != 0; };
  std::vector<std::string> names;
  if (count > 0 && !taken(name)) names.push_back(name);
  if (names.size() < count && !platform::CopyNamesBeforeExtension(name, taken, count, &names)) return std::nullopt;
  return names;
}

// `name` in the folder, or its first free " copy" name (63 characters) when
// it is taken; nothing when every candidate is taken.
std::optional<std::string> FreeCopyNameBeforeExtension(const fs::path& folder, const std::string& name) {
  auto names = FreeCopyNamesBeforeExtension(folder, name, 1);
  if (!names) return std::nullopt;
  return names->front();
}

// Whether the routes write files of `format` (the writer codes 2 to 10); a
// job asking for another one fails, so that nothing that wrote no file
// counts as printed.
bool IsWrittenFormat(int16_t format, const char* route) {
  if (format >= 2 && format <= 10) return true;
  platform::LogF("The %s asks for file format %d, which is not written: the job fails", route, int(format));
  return false;
}

// The final names of `count` copies in a set: base + ext, then the free
// " copy" names after it, from one listing of the folder and never one of
// `alsoTaken`. A base too long for its " copy" names to make a file name
// (255 bytes) is cut first, as the short-name form cuts it. 0, or the error
// of the name search (-2: not enough free names).
int16_t FinalCopyNames(const fs::path& folder, const std::string& base, const std::string& ext, size_t count,
                       const std::set<std::string>& alsoTaken, std::vector<std::string>& names) {
  const std::unordered_set<std::string> there = NamesIn(folder);
  auto taken = [&](const std::string& n) { return there.count(n) != 0 || alsoTaken.count(n) != 0; };
  names.clear();
  int16_t err = platform::NewCopyNames(base, ext, taken, count, &names);
  if (err != -1) return err;
  constexpr size_t kMaxName = 255;
  const std::string widest = " copy " + std::to_string(platform::kLastCopyNumber) + ext;
  long chars = platform::CharCount(base);
  std::string cut = base;
  while (chars > 0 && (cut + widest).size() > kMaxName) cut = platform::CutChars(base, --chars);
  if (cut.empty() || cut == base) return err;
  platform::LogLine("The name [" + base + ext + "] is too long for a file name: it is cut to [" + cut + ext + "]");
  names.clear();
  return platform::NewCopyNames(cut, ext, taken, count, &names);
}

// The names of a route's copies still to be made, found for all of them at
// once before the first is written (a job that cannot name every copy
// fails without having delivered any), from one listing of the folder.
class TCopyNames {
 public:
  // Free names for `count` copies, none of `alsoTaken`; nothing when there
  // are not that many.
  using Find =
      std::function<std::optional<std::vector<std::string>>(size_t count, const std::set<std::string>& alsoTaken)>;
  explicit TCopyNames(Find find) : find_(std::move(find)) {}
  // Names for the `count` copies still to be made; false when there are
  // not that many.
  bool Plan(size_t count) {
    remaining_ = count;
    return Refill();
  }
  // The name of the copy in work.
  std::string Current() const { return next_ < names_.size() ? names_[next_] : std::string(); }
  // The copy in work is in place under its name.
  void Used() {
    ++next_;
    if (remaining_ > 0) --remaining_;
  }
  // Another program took the name of the copy in work first: the names of
  // it and of the copies after it are found again; false when there are no
  // longer enough.
  bool TakenMeanwhile() {
    alsoTaken_.insert(Current());
    return Refill();
  }

 private:
  bool Refill() {
    names_.clear();
    next_ = 0;
    if (remaining_ == 0) return true;
    auto found = find_(remaining_, alsoTaken_);
    if (!found || found->size() < remaining_) return false;
    names_ = std::move(*found);
    return true;
  }
  Find find_;
  std::set<std::string> alsoTaken_;
  std::vector<std::string> names_;
  size_t next_ = 0, remaining_ = 0;
};

enum class TPlaced { kPlaced, kNameTaken, kFailed };

// Where output `key` of the job was placed by an earlier try, if it was.
std::optional<fs::path> PlacedBefore(const TOutputJob& job, const std::string& key) {
  if (!job.placements.placedBefore) return std::nullopt;
  auto before = job.placements.placedBefore(key);
  if (before)
    platform::LogLine("[" + before->string() + "] was put in place before the program stopped: not written again");
  return before;
}

// The device of the folder or file at `path`; 0 when it cannot be read.
dev_t DeviceOf(const fs::path& path) {
  struct stat st;
  return host::StatAt(path.string(), &st) == 0 ? st.st_dev : 0;
}

// Copies the finished working file into `staged`, a file staged in the
// target's folder, and syncs it; false (logged) when it could not.
bool CopyIntoStaged(const fs::path& working, host::StagedFile& staged) {
  const int from = host::OpenAt(working.string(), O_RDONLY | O_NOFOLLOW);
  bool ok = from >= 0;
  std::vector<char> buffer(1 << 18);
  while (ok) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = ::write(staged.fd(), buffer.data() + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      done += put > 0 ? put : 0;
    }
  }
  if (from >= 0) ::close(from);
  ok = ok && ::fsync(staged.fd()) == 0;
  if (!ok) platform::LogF("The working file [%s] could not be copied beside its target: %s", working.c_str(),
                          std::strerror(errno));
  return ok;
}

// Puts the finished working file `*working` in place at `target` as output
// `key` of the job: recorded before it appears there, put there by a move
// that replaces nothing (an existing target only with `overwrite`), and
// recorded as placed the moment the move reports it. On one file system
// the move is a rename. A target on another file system gets a copy staged
// in its folder (`staged`, kept across the attempts of one copy): a file
// without a name, linked in place when whole, so that no consumer ever sees
// it before; the working file goes right after the link. Where that file
// system has no such files, the copy is staged under a hidden name, which
// then is the working file recorded and renamed in (`*working` follows it).
// kNameTaken leaves the working file for another name; kFailed deletes it.
TPlaced PlaceWorkingFile(TOutputJob& job, const std::string& key, fs::path* working, const fs::path& target,
                         bool overwrite, host::StagedFile& staged) {
  const fs::path folder = target.parent_path();
  auto fail = [&](const char* what) {
    platform::LogLine(std::string(what) + " [" + target.string() + "]");
    host::DeleteItem(working->string());
    staged.Discard();
    return TPlaced::kFailed;
  };
  const bool elsewhere = staged.valid() || DeviceOf(*working) != DeviceOf(folder);
  if (elsewhere && !staged.valid()) {
    int err = 0;
    staged = host::StagedFile::Open(folder.string(), imaging::kStagedWorkingFilePrefix + host::RandomHexName(),
                                    working->extension().string(), host::DefaultFileMode(), &err);
    if (!staged.valid()) {
      errno = err;
      return fail("The file could not be staged beside");
    }
    if (!CopyIntoStaged(*working, staged)) return fail("The file could not be copied beside");
    platform::PassCrashPoint("output-staged");
    if (!staged.unnamed()) {
      // The staged copy is the working file from now on.
      host::DeleteItem(working->string());
      *working = staged.hiddenPath();
    }
  }
  // A file that is not a copy of another one gets the mode the umask gives.
  if (!elsewhere) host::ChangeModeAt(working->string(), host::DefaultFileMode());
  if (job.placements.placing && !job.placements.placing(key, *working, target))
    return fail("The file was not put in place since it could not be recorded:");
  OSErr err = noErr;
  if (elsewhere) err = staged.Place(target.string(), overwrite);
  else if (overwrite) err = host::RenameAt(working->string(), target.string()) == 0 ? OSErr(noErr) : OSErr(ioErr);
  else err = host::RenameNoReplace(working->string(), target.string());
  if (err == noErr) {
    // The private working file of a linked copy goes at once: the record
    // takes a working file that has left its place for one put in place.
    if (elsewhere && working->parent_path() != folder) host::DeleteItem(working->string());
    if (!elsewhere) host::SyncFolder(folder.string());
    platform::PassCrashPoint("output-renamed");
    if (job.placements.placed) job.placements.placed(key, target);
    return TPlaced::kPlaced;
  }
  // Recorded as not placed before the working file goes, so that a record
  // read after a kill never takes a deleted working file for a placed one.
  if (job.placements.notPlaced) job.placements.notPlaced(key);
  if (err == dupFNErr) return TPlaced::kNameTaken;
  return fail("The file could not be put in place at");
}

// The metadata a saved file gets: 0 none, 1 the plain or site form (by the
// upload site), 2 the customer form, 3 the PNG block.
void AddMetadata(const fs::path& file, int metadata, const TOutputJob& job, const std::string& sourcePath) {
  switch (metadata) {
    case 1: saveSourceWithMetadataBySite(file, sourcePath); break;
    case 2: saveSourceWithMetadataDORNS(file, sourcePath, job.dornsBlock); break;
    case 3: saveDataInPNGFile(file, sourcePath); break;
    default: break;
  }
}

// Creates or finds the subfolder `name` (UTF-8) of `folder`; nothing when it
// cannot be made (the folder service tells the operator).
std::optional<fs::path> SubFolder(const fs::path& folder, const std::string& name) {
  const std::string path = CreateOrFindFolderPath(folder.string(), name);
  if (path.empty()) return std::nullopt;
  return fs::path(path);
}

// The folder a set writes into: the set folder and the subfolders the job's
// item asks for.
fs::path TargetFolder(const TOutputJob& job, const tSpecialPrintToFilePref& rec, const fs::path& setFolder,
                      const std::string& baseName) {
  if (!job.item.subfolders) return setFolder;
  const auto& r = job.item.rules;  // R1..R6
  const std::string a = Utf8(job.jobSet.subFolderName);
  const std::string b = Utf8(job.jobSet.groupFolderName);
  const std::string customer(CustomerNameOf(baseName));
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
    const std::string clean = CleanName(step);
    if (clean.empty()) continue;  // an empty step stays in the folder reached
    auto next = SubFolder(folder, clean);
    if (!next) break;  // reported by the folder service; go on where we are
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
// alpha, the copies with their metadata and video copies, the source profile.
// `keyPrefix` tells the job's outputs of this set apart from those of the
// same set written for another reason.
TSetResult WriteSet(TOutputJob& job, int16_t itemSet, host::GWorldHandle& page, TOutputEnv& env, bool searchClients,
                    const std::string& keyPrefix) {
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
  if (!job.item.keepAlpha) mySetGworldAlphaChannelToByteValue(page.get(), 0xFF);

  const std::string ext = CleanName(Utf8(rec.extension));
  const bool overwrite = rec.overwrite && (rec.namingType == 3 || rec.namingType == 4 || rec.namingType == 6 ||
                                           rec.namingType == 7);
  const int quality = QualityFor(job, format, env);
  int metadata = 0;
  if (format == 10) metadata = 1;
  else if (format == 3 && job.dornsSwitch) metadata = 2;
  else if (format == 9) metadata = 3;

  if (!IsWrittenFormat(format, "print-to-file set")) {
    res.code = kRouteWriteFailed;
    return res;
  }
  int32_t counter = 1;
  const int copies = std::max<int>(1, job.copies);
  const bool embedProfile = job.embedSourceProfile && !job.firstImageFile.empty();
  auto keyOf = [&](int copy) {
    return keyPrefix + "set " + std::to_string(res.set) + " copy " + std::to_string(copy + 1);
  };
  // The copies an earlier try put in place are not made again.
  std::vector<std::optional<fs::path>> before(static_cast<size_t>(copies));
  int toMake = 0;
  for (int copy = 0; copy < copies; ++copy) {
    before[size_t(copy)] = PlacedBefore(job, keyOf(copy));
    if (!before[size_t(copy)]) ++toMake;
  }
  // The final names: the base name itself when overwriting, without a base
  // the numbered name, else the first free of base, base " copy", base
  // " copy N", found for every copy still to make before any is written.
  const bool copyNames = !overwrite && !res.base.empty();
  TCopyNames names([&](size_t count, const std::set<std::string>& alsoTaken) -> std::optional<std::vector<std::string>> {
    std::vector<std::string> found;
    if (FinalCopyNames(res.folder, res.base, ext, count, alsoTaken, found) != 0) return std::nullopt;
    return found;
  });
  if (copyNames && !names.Plan(size_t(toMake))) {
    platform::LogF("The folder [%s] has no free names left for %d copies of [%s]: none is written and the job fails",
                   res.folder.c_str(), toMake, (res.base + ext).c_str());
    DisplayNormalMessage("newGetUniqueNameWithCopy - Unable to get a unique name???");
    res.code = kRouteWriteFailed;
    return res;
  }
  for (int copy = 0; copy < copies; ++copy) {
    const std::string key = keyOf(copy);
    if (const auto& placed = before[size_t(copy)]) {
      res.lastName = placed->filename().string();
      continue;
    }
    // Written into a private working file, given its metadata there, then
    // put in the set folder under its final name.
    auto work = NumberedName(res.folder, res.base, counter, ext);
    const std::string numbered = work ? fs::path(imaging::PathOfSpec(*work)).filename().string() : std::string();
    if (!work || !NewSaveOffscreenToFileNew(format, page.get(), *work, false, job.resolution, int16_t(quality), false)) {
      DisplayNormalMessage(kSaveErrorMessage);
      res.code = kRouteWriteFailed;
      break;
    }
    fs::path saved = imaging::PathOfSpec(*work);
    setftpSite(rec.ftpSite);
    AddMetadata(saved, metadata, job, job.sourcePath);
    // The last copy carries the profile of the job's first photo.
    if (embedProfile && copy + 1 == copies) {
      const auto source = FileSpec(job.firstImageFile.parent_path(), job.firstImageFile.filename().string());
      const auto output = FileSpec(saved.parent_path(), saved.filename().string());
      if (source && output) embedSourceImageProfileInOutputFile(*source, *output);
    }

    std::string name;
    if (overwrite) {
      platform::LogLine("Not necessary to get unique name, going to overwrite");
      name = res.base + ext;
    } else if (res.base.empty()) {
      name = numbered;
    } else {
      name = names.Current();
    }
    if (name.empty()) {
      // No file can be put in place: the job fails rather than count as
      // printed with this copy missing.
      host::DeleteItem(saved.string());
      res.code = kRouteWriteFailed;
      break;
    }
    if (DoIfVideoCopy(job, rec, res.folder, env) == kRouteStopped) {
      host::DeleteItem(saved);
      res.code = kRouteStopped;
      break;
    }
    TPlaced placed = TPlaced::kNameTaken;
    host::StagedFile staged;
    for (int attempt = 0; attempt < 3 && placed == TPlaced::kNameTaken; ++attempt) {
      // A name taken between the search and the placing is searched again,
      // with the names still to come.
      if (attempt > 0) {
        if (!copyNames || !names.TakenMeanwhile()) break;
        name = names.Current();
      }
      placed = PlaceWorkingFile(job, key, &saved, res.folder / name, overwrite, staged);
    }
    if (placed != TPlaced::kPlaced) {
      // The copy is not in place (the folder refused it, or every name was taken).
      host::DeleteItem(saved.string());
      DisplayNormalMessage(kSaveErrorMessage);
      res.code = kRouteWriteFailed;
      break;
    }
    if (copyNames) names.Used();
    platform::LogLine("File saved as: [" + (res.folder / name).string() + "]");
    res.lastName = name;
  }
  return res;
}

constexpr const char kWebKey[] = "web";

// The web copy of the page (format 10) under `name`, or its first free
// " copy" name, in the web folder: written privately with its metadata,
// then renamed in. False when it could not be put in place.
bool WriteWebCopy(TOutputJob& job, const host::GWorld& page, const fs::path& webFolder, const std::string& name,
                  int16_t quality, const char* source) {
  fs::path working = imaging::NewPrivateWorkingFile(".JPG");
  FSSpec spec;
  if (working.empty()) return false;
  const OSErr specErr = host::MakeFSSpecFromPath(working.string(), &spec);
  if ((specErr != noErr && specErr != fnfErr) ||
      !NewSaveOffscreenToFile(10, &page, spec, false, job.resolution, quality, false)) {
    host::DeleteItem(working.string());
    return false;
  }
  AddMetadata(working, 1, job, source);
  host::StagedFile staged;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto free = FreeCopyNameBeforeExtension(webFolder, name);
    if (!free) {
      platform::LogLine("renamefailed: no free name for the web copy");
      break;
    }
    switch (PlaceWorkingFile(job, kWebKey, &working, webFolder / *free, false, staged)) {
      case TPlaced::kPlaced: return true;
      case TPlaced::kFailed: return false;
      case TPlaced::kNameTaken: break;
    }
  }
  host::DeleteItem(working.string());
  return false;
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
      // The date in form 99, "_" and the time string, of one moment.
      const std::time_t now = std::time(nullptr);
      std::tm tm{};
      localtime_r(&now, &tm);
      return getDateString(99, tm).ToUTF8() + "_" + getTimeString(tm).ToUTF8();
    }
    case 6: return job.currentImageName + "_" + job.baseName;
    case 7: return job.nameSuffix.empty() ? job.currentImageName : job.currentImageName + "_" + job.nameSuffix;
    case 8: return job.templateName.empty() ? job.currentImageName : job.currentImageName + "_" + job.templateName;
    default: return {};
  }
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
  TSetResult res = WriteSet(job, job.item.setNumber, page, env, true, "");
  job.chosenSet = res.set;
  // Without the main file the job fails and is tried again; extras written
  // now would then be written twice.
  if (res.code != kRouteOK) return res.code;
  const auto& rec = *res.rec;

  // The web copy.
  if (!rec.createJpegForWeb) {
    platform::LogLine("createJPEGForWeb == FALSE");
  } else if (!res.lastName.empty()) {
    if (auto webFolder = env.resolveFolder(kWebUploadAliasID)) {
      // The web file records where the printed file lies, percent-escaped.
      char source[1024];
      if (auto last = FileSpec(res.folder, res.lastName)) fsSpecToCharArray(*last, source);
      else source[0] = 0;
      std::string webName = res.lastName;
      if (platform::CharCount(res.base + ".JPG") > 25) webName = res.base + ".JPG";
      const int16_t q = env.outputFileQuality ? env.outputFileQuality() : 0;
      if (PlacedBefore(job, kWebKey)) {
        // written before the program stopped
      } else {
        // The web copy is fitted on a copy of the page (on the page itself
        // when no copy can be made): the further sets below print the page
        // at the size the set printed it.
        const auto web = FittedCopy(page.get(), CLongRect_AC(0, 0, kWebSize, kWebSize));
        if (!WriteWebCopy(job, web ? *web : *page, *webFolder, webName, q > 0 ? q : int16_t(75), source))
          platform::LogLine("The web copy could not be written");
      }
    }
  }

  // Further sets, from the page as the set printed it.
  for (size_t i = 0; i < std::size(rec.alsoCopyToSet); ++i) {
    const int16_t v = rec.alsoCopyToSet[i];
    if (v < 2 || v > 9 || v - 1 == res.set) continue;
    auto dup = myDuplicateGWorld(page.get());
    if (!dup) {
      platform::LogLine("No memory for a copy in a further set");
      continue;
    }
    const int16_t r = WriteSet(job, int16_t(v - 1), dup, env, false, "further " + std::to_string(i + 1) + " ").code;
    if (r == kRouteStopped) return r;  // the program is ending: the job is kept
    if (r != kRouteOK) platform::LogF("The copy in set %d failed with %d", int(v - 1), int(r));
  }
  return kRouteOK;
}

int16_t CreateAnotherCopy(TOutputJob& job, int16_t set, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  if (!page) return kRouteWriteFailed;
  // The further copies go to the sets the operator named, whatever the
  // client address of the job.
  return WriteSet(job, set, page, env, false, "further ").code;
}

namespace {

bool IsVideoClipPath(const fs::path& clip) {
  static constexpr const char* kVideoExtensions[] = {".mov", ".mp4", ".m4v", ".avi", ".mpg", ".mpeg", ".3gp",
                                                     ".mkv", ".wmv", ".webm", ".mts", ".m2ts", ".dv"};
  const std::string ext = Lower(clip.extension().string());
  if (std::none_of(std::begin(kVideoExtensions), std::end(kVideoExtensions), [&](const char* e) { return ext == e; }))
    return false;
  // The clip itself, not whatever a link points at: no device, FIFO or link.
  struct stat st {};
  return host::LstatAt(clip.string(), &st) == 0 && S_ISREG(st.st_mode);
}

// The clip opened below the served folder whose path it lies below, without
// following any link in between or at its name (see host/files/
// HeldFolders.h; a served folder held by the program is its descriptor):
// -1 when it lies below none of them or cannot be opened so.
int OpenInServedFolder(const fs::path& clip, const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    if (folder.empty()) continue;
    const int fd = host::OpenBeneath(folder.string(), clip.string(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0 || errno != EXDEV) return fd;
  }
  return -1;
}

// A regular file open on `fd`: its device and inode.
bool SameFile(int fd, const fs::path& path) {
  struct stat a {}, b {};
  return ::fstat(fd, &a) == 0 && host::StatAt(path.string(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int16_t DoIfVideoCopy(const TOutputJob& job, const tSpecialPrintToFilePref& rec, const fs::path& folder,
                      TOutputEnv& env) {
  if (!job.videoCopy || !rec.doNotResizeJpegForWeb || job.videoPath.empty()) return kRouteOK;
  const fs::path clip = job.videoPath;
  if (!Exists(clip)) return kRouteOK;
  // The path comes from the job file: only a video clip is ever copied out.
  if (!IsVideoClipPath(clip)) {
    platform::LogLine("The job's video path \"" + clip.string() + "\" is not a video file: not copied");
    return kRouteOK;
  }
  // The path comes from a station: another customer's clip elsewhere on the
  // machine must not end up in this job's output.
  const bool served = std::any_of(job.videoFolders.begin(), job.videoFolders.end(), [&](const fs::path& f) {
    return !f.empty() && !host::PathBelow(f.string(), clip.string()).empty();
  });
  if (!served) {
    platform::LogLine("The job's video path \"" + clip.string() +
                      "\" is outside the images folder and the shared video folder: not copied");
    return kRouteOK;
  }
  // Opened once, below the served folder without following any link: a
  // folder swapped for a link makes the open fail instead of reaching
  // outside. Everything after reads this descriptor.
  host::Fd fd(OpenInServedFolder(clip, job.videoFolders));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    platform::LogLine("The job's video clip \"" + clip.string() +
                      "\" could not be opened inside its folder without following a link: not copied");
    return kRouteOK;
  }
  const std::string name = CleanName(clip.filename().string());
  if (name.empty()) return kRouteOK;
  fs::path dest = folder / name;
  // A clip replaces one of its name only with overwrite on, like the page;
  // otherwise it takes a " copy" name. A clip that already lies in the
  // output folder is never written over itself.
  const bool replace = rec.overwrite != 0 && !SameFile(fd.get(), dest);
  if (!replace && Exists(dest)) {
    auto free = createUniqueNameFromPath(dest);
    if (!free) {
      platform::LogLine("No free name for the video beside " + dest.string() + ": not copied");
      return kRouteOK;
    }
    dest = *free;
  }
  if (job.videoMerge) {
    fs::path placed;
    const OSErr err = env.mergeVideos ? env.mergeVideos(fd.get(), dest, replace, &placed) : OSErr(paramErr);
    if (err == userCanceledErr) {
      platform::LogLine("The program is ending during the video merge: the job is kept for the next start");
      return kRouteStopped;
    }
    if (err == noErr) return kRouteOK;
    // The customer's clip is delivered unmerged rather than not at all: by
    // now earlier copies of the job may be in the folder and taken, so
    // failing the job would leave them uncounted and print them again, and
    // a merge that fails for a lasting reason (a clip the encoder cannot
    // read, an intro missing) would fail it every time.
    platform::LogLine("The video merge did not produce " + dest.string() + ": the clip is copied unmerged");
  }
  // A name taken between the search and the copy is searched again.
  OSErr err = host::CopyFromDescriptor(fd.get(), dest.string(), replace);
  for (int attempt = 0; err == dupFNErr && !replace && attempt < 3; ++attempt) {
    auto free = createUniqueNameFromPath(dest);
    if (!free) break;
    dest = *free;
    err = host::CopyFromDescriptor(fd.get(), dest.string(), false);
  }
  if (err != noErr) platform::LogLine("Copying the video to " + dest.string() + " failed");
  else platform::LogLine("Copied the video \"" + clip.string() + "\" to \"" + dest.string() + "\"");
  return kRouteOK;
}

OSErr MergeClipInto(int clipFd, const fs::path& destination, bool replace, fs::path* placed) {
  // The encoder works in a folder of its own in the private folder: nothing
  // half made, and no copy of the customer's clip, ever stands in a folder
  // a consumer reads.
  const std::string privateFolder = imaging::PrivateFolderPath();
  if (privateFolder.empty()) {
    platform::LogLine("merge result = failed (no private folder to merge in)");
    return ioErr;
  }
  platform::TMergedClip merged;
  const OSErr err = platform::MergeVideoClip(clipFd, privateFolder, destination.extension().string(), &merged);
  if (err != noErr) return err;
  // Moved in without replacing what the overwrite switch keeps (across file
  // systems through a copy that has no name until it is whole); a name
  // taken meanwhile is searched again.
  fs::path target = destination;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const OSErr moved = host::MoveItem(merged.file().string(), target.string(), replace);
    if (moved == noErr) {
      platform::LogLine("merge result = " + target.string());
      if (placed) *placed = target;
      return noErr;
    }
    if (moved != dupFNErr) break;
    auto free = createUniqueNameFromPath(target);
    if (!free) break;
    target = *free;
  }
  platform::LogLine("merge result = failed (the merged clip could not be moved to " + target.string() + ")");
  return ioErr;
}

// ---- the single folder and the yearbook

namespace {

// One copy of the single-folder and yearbook routes as output `key` of the
// job: the page written into a private working file, then put in the
// folder under the name `names` has for it (found again when another
// program took it meanwhile), by a move that replaces nothing. A copy an
// earlier try of the job placed is not written again. `skipProperties`
// ('sapc') leaves the chroma-key properties out. False after the operator
// was told.
bool SaveCopy(TOutputJob& job, const std::string& key, const host::GWorld& page, const fs::path& folder,
              TCopyNames& names, int16_t format, int quality, bool skipProperties, fs::path* saved) {
  if (auto before = PlacedBefore(job, key)) {
    *saved = *before;
    return true;
  }
  auto failed = [] {
    DisplayNormalMessage(kSaveErrorMessage);
    return false;
  };
  if (skipProperties) platform::LogLine("Saving through the preferences folder, without the chroma-key properties");
  std::string name = names.Current();
  if (name.empty()) return failed();
  fs::path working = imaging::NewPrivateWorkingFile(fs::path(name).extension().string());
  if (working.empty()) return failed();
  FSSpec spec;
  const OSErr specErr = host::MakeFSSpecFromPath(working.string(), &spec);
  struct stat written {};
  if ((specErr != noErr && specErr != fnfErr) ||
      !NewSaveOffscreenToFile(format, &page, spec, false, job.resolution, int16_t(quality), false) ||
      host::LstatAt(working.string(), &written) != 0 || written.st_size == 0) {
    host::DeleteItem(working.string());
    return failed();
  }
  TPlaced placed = TPlaced::kNameTaken;
  host::StagedFile staged;
  for (int attempt = 0; attempt < 3 && placed == TPlaced::kNameTaken; ++attempt) {
    // A name taken between the search and the placing is searched again.
    if (attempt > 0 && (!names.TakenMeanwhile() || (name = names.Current()).empty())) break;
    placed = PlaceWorkingFile(job, key, &working, folder / name, false, staged);
  }
  if (placed != TPlaced::kPlaced) {
    host::DeleteItem(working.string());
    return failed();
  }
  names.Used();
  platform::LogLine("File saved as: [" + (folder / name).string() + "]");
  *saved = folder / name;
  return true;
}

// The numbered name base_0001 ext free in the folder, as an on-disk name.
std::optional<std::string> NumberedDiskName(const fs::path& folder, const std::string& base, int32_t& counter,
                                            const std::string& ext) {
  auto spec = NumberedName(folder, base, counter, ext);
  if (!spec) return std::nullopt;
  std::string name = fs::path(imaging::PathOfSpec(*spec)).filename().string();
  if (name.empty()) return std::nullopt;
  return name;
}

// Names for copies: numbered (base_0001 ext and on, past the names taken)
// or, with `plain`, the plain name and its " copy" names.
TCopyNames::Find CopyNamesFor(const fs::path& folder, const std::optional<std::string>& plain,
                              const std::string& base, const std::string& ext) {
  if (plain)
    return [folder, name = *plain](size_t count, const std::set<std::string>& alsoTaken) {
      return FreeCopyNamesBeforeExtension(folder, name, count, alsoTaken);
    };
  return [folder, base, ext, counter = int32_t(1)](size_t count,
                                                   const std::set<std::string>&) mutable
             -> std::optional<std::vector<std::string>> {
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
      auto name = NumberedDiskName(folder, base, counter, ext);
      if (!name) return std::nullopt;
      names.push_back(std::move(*name));
      ++counter;  // the next copy's name comes after this one
    }
    return names;
  };
}

// The names for a route's `copies` copies, planned for those an earlier try
// did not place (`key(copy)`); false when there are not enough.
bool PlanCopies(TOutputJob& job, TCopyNames& names, int copies, const std::function<std::string(int)>& key) {
  int toMake = 0;
  for (int copy = 0; copy < copies; ++copy)
    if (!job.placements.placedBefore || !job.placements.placedBefore(key(copy))) ++toMake;
  if (names.Plan(size_t(toMake))) return true;
  platform::LogF("There are no free names left for %d copies: none is written and the job fails", toMake);
  DisplayNormalMessage(kSaveErrorMessage);
  return false;
}

}  // namespace

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
  if (!IsWrittenFormat(format, "job's print-to-file record")) return kRouteWriteFailed;
  const std::string base = CleanName(Utf8(rec.baseName));
  const std::string ext = CleanName(Utf8(rec.extension));
  const int quality = QualityFor(job, format, env);
  if (format == 9) FitForWeb(page);
  const std::string plain = platform::CutChars(base, 22) + ext;
  TCopyNames names(CopyNamesFor(*folder, job.plainName && !base.empty() ? std::optional(plain) : std::nullopt, base,
                                ext));
  const int copies = std::max<int>(1, job.copies);
  auto key = [](int copy) { return "print to file copy " + std::to_string(copy + 1); };
  if (!PlanCopies(job, names, copies, key)) return kRouteWriteFailed;
  const bool skipProperties = env.printToFileSaveForPC();
  for (int copy = 0; copy < copies; ++copy) {
    fs::path saved;
    if (!SaveCopy(job, key(copy), *page, *folder, names, format, quality, skipProperties, &saved))
      return kRouteWriteFailed;
  }
  return kRouteOK;
}

std::string YearbookString(const std::array<uint8_t, 10496>& record, int index) {
  if (index < 0 || index > 40) return {};
  const uint8_t* s = record.data() + size_t(index) * 256;
  return host::MacRomanToUTF8(std::string_view(reinterpret_cast<const char*>(s + 1), s[0]));
}

namespace {

// A home without its desktop folder (a server account, a fresh user) gets
// one, as a desktop session would make it; a name there that is no folder
// (a file, a link) is left for the folder lookup to refuse.
void EnsureDesktopFolder(const fs::path& desktop) {
  std::error_code ec;
  if (desktop.empty() || Exists(desktop) || !fs::is_directory(desktop.parent_path(), ec)) return;
  const OSErr err = host::CreateFolder(desktop.string(), 0755);
  if (err == noErr) platform::LogLine("The desktop folder [" + desktop.string() + "] was missing and has been made");
  else if (err != dupFNErr) platform::LogF("The desktop folder [%s] could not be made: error %d", desktop.c_str(), int(err));
}

}  // namespace

int16_t DoSpecialPrintToFile(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env) {
  CompleteOutputEnv(env);
  Status(env, "Saving File(s)\xE2\x80\xA6");
  if (!page) return kRouteFolderMissing;
  const auto& rec = job.jobSet;
  // Checked before anything is made or emptied.
  const int16_t format = rec.fileFormat;
  if (!IsWrittenFormat(format, "job's yearbook record")) return kRouteWriteFailed;
  const fs::path desktop = env.desktopFolder();
  EnsureDesktopFolder(desktop);
  // The desktop is held (host/files/HeldFolders.h) from the start, or from
  // its first yearbook page when it was made only then: the yearbook
  // folders below it are reached from it, never through a link.
  if (host::FolderRefusal refusal; !desktop.empty() && !host::IsHeldFolder(desktop.string()) &&
                                   !host::HoldFolder(desktop.string(), host::FolderUse::kOutput, &refusal)) {
    DisplayNormalMessage(("The yearbook page cannot be written: " + refusal.Text() + ".").c_str());
    return kRouteWriteFailed;
  }
  auto photos = SubFolder(desktop, "Yearbook Photos");
  const std::string folderName = CleanName(Utf8(rec.yearbookFolderName));
  auto folder = photos && !folderName.empty() ? SubFolder(*photos, folderName) : photos;
  if (!folder) {
    DisplayNormalMessage("createNewFolder => the yearbook folder cannot be created");
    return kRouteWriteFailed;
  }
  // A job without a folder name of its own never empties "Yearbook Photos".
  // Emptying never follows a link: a linked folder is left as it is.
  // The folder lookup hands back resolved paths, so the names as they stand
  // in the desktop folder are looked at too.
  const fs::path namedPhotos = env.desktopFolder() / "Yearbook Photos";
  auto isLink = [](const fs::path& p) {
    struct stat st {};
    return host::LstatAt(p.string(), &st) == 0 && S_ISLNK(st.st_mode);
  };
  const bool linked = isLink(*folder) || isLink(*photos) || isLink(namedPhotos) ||
                      (!folderName.empty() && isLink(namedPhotos / folderName));
  if (linked && rec.namingType == 3 && !folderName.empty())
    platform::LogLine("The yearbook folder [" + folder->string() + "] is a link: it is not emptied");
  // An earlier try of this job that placed a copy already emptied it: the
  // copies it placed stay.
  auto yearbookKey = [](int copy) { return "yearbook copy " + std::to_string(copy + 1); };
  const bool placedBefore = job.placements.placedBefore && job.placements.placedBefore(yearbookKey(0));
  if (!linked && rec.namingType == 3 && !folderName.empty() && !placedBefore) {
    if (auto spec = FolderSpec(*folder)) deleteAllFilesInFolder(*spec);
  }
  ForceOrientation(page, rec, env);
  const std::string base = CleanName(Utf8(rec.baseName));
  const std::string ext = CleanName(Utf8(rec.extension));
  const int quality = QualityFor(job, format, env);
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
  fs::path last;
  int16_t result = kRouteOK;
  if (format == 9) FitForWeb(page);
  std::optional<std::string> plain;
  if (!yearbookName.empty()) plain = yearbookName;
  else if (job.plainName && !base.empty()) plain = base + ext;
  TCopyNames names(CopyNamesFor(*folder, plain, base, ext));
  const int copies = std::max<int>(1, job.copies);
  if (!PlanCopies(job, names, copies, yearbookKey)) return kRouteWriteFailed;
  for (int copy = 0; copy < copies; ++copy) {
    if (!SaveCopy(job, yearbookKey(copy), *page, *folder, names, format, quality, false, &last)) {
      result = kRouteWriteFailed;
      break;
    }
  }
  if (result == kRouteOK && !last.empty() && job.yearbookValues && job.yearbookTitles)
    writeLogForYearbookFile(job, last, *job.yearbookValues, *job.yearbookTitles);
  return result;
}

void writeLogForYearbookFile(TOutputJob& job, const fs::path& file, const std::array<uint8_t, 10496>& values,
                             const std::array<uint8_t, 10496>& titles) {
  static constexpr char kKey[] = "yearbook read me";
  if (PlacedBefore(job, kKey)) return;
  const fs::path log = file.parent_path() / "Yearbook.read me";
  fs::path working = imaging::NewPrivateWorkingFile("");
  if (working.empty()) return;
  auto failed = [&](const std::string& why) {
    platform::LogLine("The yearbook list " + log.string() + " could not be written: " + why);
    host::DeleteItem(working.string());
  };
  // The list as it stands: a regular file, of one name or hard-linked (a
  // snapshot of the desktop), is read and copied, and the new list renamed
  // over this name only, so that no other name of it loses a line; anything
  // else at the name (a link, a FIFO, a device) is removed and the list
  // begins anew, as the log says. Nothing is reached through a link put in
  // place of a folder below the held desktop folder (HeldFolders.h).
  struct stat was {};
  bool kept = false;
  if (host::LstatAt(log.string(), &was) == 0 && S_ISREG(was.st_mode)) {
    const host::Fd old(host::OpenAt(log.string(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    if (old.get() < 0 || ::fstat(old.get(), &was) != 0 || !S_ISREG(was.st_mode))
      return failed("it changed while it was read");
    if (const OSErr err = host::CopyFromDescriptor(old.get(), working.string(), true); err != noErr)
      return failed("error " + std::to_string(err));
    kept = true;
  } else {
    const host::NoLinkFile opened = host::OpenWithoutLinks(log.string(), host::NoLinkStart::kEmptied, true, 0666);
    if (!opened.Note().empty()) platform::LogLine("The yearbook list: " + opened.Note());
    if (opened.fd < 0) return failed(opened.error);
    ::close(opened.fd);
  }
  const host::Fd fd(host::OpenAt(working.string(), O_WRONLY | O_APPEND | O_NOFOLLOW));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return failed(std::strerror(errno));
  auto text = [](const std::array<uint8_t, 10496>& r, int i) {
    const uint8_t* s = r.data() + size_t(i) * 256;
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
  };
  std::string out;
  if (st.st_size == 0) {
    out += "File Name\t";
    for (int i = 0; i < 20; ++i) out += text(titles, i) + '\t';
    out += '\r';
  }
  out += host::UTF8ToMacRoman(file.filename().string()) + '\t';
  for (int i = 0; i < 20; ++i) out += text(values, i) + '\t';
  out += '\r';
  if (const int err = host::WriteAllBytes(fd.get(), out); err != 0) return failed(std::strerror(err));
  host::StagedFile staged;
  if (PlaceWorkingFile(job, kKey, &working, log, true, staged) != TPlaced::kPlaced) {
    platform::LogLine("The yearbook list " + log.string() + " could not be put in place");
    return;
  }
  // The list keeps the owner and mode it had, where the program may give
  // them (a station's list stays the station's).
  if (kept) {
    if (was.st_uid != ::geteuid() || was.st_gid != ::getegid()) host::ChangeOwnerAt(log.string(), was.st_uid, was.st_gid);
    host::ChangeModeAt(log.string(), was.st_mode & 0777);
  }
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
  // 'sapc' of the print-to-file preferences: printer 17 writes its page
  // through the preferences folder and leaves the chroma-key properties out.
  if (!env.printToFileSaveForPC)
    env.printToFileSaveForPC = [] { return getMyPrintToFilePrefs() && getMyPrintToFilePrefs()->skipCKProperties != 0; };
  if (!env.desktopFolder) env.desktopFolder = [] { return host::desktopFolder(); };
  if (!env.mergeVideos)
    env.mergeVideos = MergeClipInto;
}

TOutputEnv DefaultOutputEnv() {
  TOutputEnv env;
  CompleteOutputEnv(env);
  return env;
}

}  // namespace output

// ---- copies of the original photos

namespace output {

namespace {

// The set folder of the job's item and the target folder below it; nothing
// when the set's folder alias does not resolve.
std::optional<fs::path> OriginalsFolder(const TOutputJob& job, TOutputEnv& env, const tSpecialPrintToFilePref** rec,
                                        std::string* base) {
  const int16_t set = job.item.setNumber;
  *rec = set >= 1 && set <= 8 ? env.setPrefs(set) : nullptr;
  if (!*rec) return std::nullopt;
  const auto setFolder = env.resolveFolder(int16_t(4510 + set));
  if (!setFolder) return std::nullopt;
  *base = CleanName(GetNewBaseNameForPrintToFile(job, **rec));
  return TargetFolder(job, **rec, *setFolder, *base);
}

// Naming type 1: base "_" four-digit counter, past the names taken; any
// other type: base + extension. Without a base the numbered name is used, so
// no copy is named by its extension alone.
std::string OriginalFileName(const tSpecialPrintToFilePref& rec, const fs::path& folder, const std::string& base) {
  const std::string ext = CleanName(Utf8(rec.extension));
  if (rec.namingType != 1 && !base.empty()) return base + ext;
  int32_t counter = 1;
  return NumberedDiskName(folder, base, counter, ext).value_or(base + ext);
}

// Whether the set replaces a copy of the same name.
bool OverwritesOriginals(const tSpecialPrintToFilePref& rec) {
  return rec.overwrite && (rec.namingType == 3 || rec.namingType == 4 || rec.namingType == 6 || rec.namingType == 7);
}

// The copy's path: the set's name, or, when something stands there and is
// not to be replaced, the first free " copy" form of it.
std::optional<std::string> OriginalCopyTarget(const tSpecialPrintToFilePref& rec, const fs::path& folder,
                                              const std::string& base, bool replace) {
  std::string target = (folder / OriginalFileName(rec, folder, base)).string();
  if (!replace && Exists(target)) {
    const std::optional<std::string> free = createUniqueNameFromPath(target);
    if (!free) {
      platform::LogLine("No free name for the copy " + target);
      return std::nullopt;
    }
    target = *free;
  }
  return target;
}

constexpr const char kOriginalKey[] = "original";

// Puts the copy of the original, written whole into the private working
// file `working` by `write` (with its metadata), in place as the job's
// output "original": renamed (or linked from a staged copy) to its name,
// as a set's page is, so that the record, not what stands there later,
// says whether it was placed, and a consumer that takes it at once never
// gets a second one. A copy an earlier try placed is not made again. False
// (logged) when it could not be put in place.
bool PlaceOriginalCopy(TOutputJob& job, const fs::path& photo, const tSpecialPrintToFilePref& rec,
                       const fs::path& folder, const std::string& base, bool replace, TOutputEnv& env,
                       const std::function<bool(const fs::path& working)>& write) {
  if (PlacedBefore(job, kOriginalKey)) return true;
  std::optional<std::string> target = OriginalCopyTarget(rec, folder, base, replace);
  if (!target) return false;
  // Copying a file onto itself leaves it as it is.
  if (replace && host::SameItem(photo.string(), *target)) {
    platform::LogLine("The copy [" + *target + "] is the original itself; nothing to copy");
    return true;
  }
  fs::path working = imaging::NewPrivateWorkingFile(fs::path(*target).extension().string());
  if (working.empty()) return false;
  if (!write(working)) {
    host::DeleteItem(working.string());
    return false;
  }
  // A sidecar the copy got beside the working file goes beside the copy
  // once it is in place.
  if (const std::string side = host::AppleDoublePath(working.string()); Exists(side)) host::DeleteItem(side);
  SaveMetaDataToOriginalFile(job, working, env);
  host::StagedFile staged;
  for (int attempt = 0; attempt < 3; ++attempt) {
    // A name taken between the search and the placing is searched again.
    if (attempt > 0 && !(target = OriginalCopyTarget(rec, folder, base, replace))) break;
    switch (PlaceWorkingFile(job, kOriginalKey, &working, *target, replace, staged)) {
      case TPlaced::kPlaced: {
        platform::LogLine("File saved as: [" + *target + "]");
        if (const std::string side = host::AppleDoublePath(photo.string()); Exists(side))
          host::CopyFile(side, host::AppleDoublePath(*target), true);
        return true;
      }
      case TPlaced::kFailed: return false;
      case TPlaced::kNameTaken: break;
    }
  }
  host::DeleteItem(working.string());
  return false;
}

}  // namespace

void SaveMetaDataToOriginalFile(const TOutputJob& job, const fs::path& path, TOutputEnv& env) {
  const int16_t set = job.item.setNumber;
  const tSpecialPrintToFilePref* rec = set >= 1 && set <= 8 ? env.setPrefs(set) : nullptr;
  if (!rec) return;
  if (rec->fileFormat == 10) {
    if (rec->ftpSite < 2) saveSourceWithMetadata(path, job.sourcePath);
    else {
      setftpSite(rec->ftpSite);
      saveSourceWithMetadataSTB(path, job.sourcePath);
    }
  }
  if (job.dornsSwitch && rec->fileFormat == 3) saveSourceWithMetadataDORNS(path, job.sourcePath, job.dornsBlock);
}

bool SaveOriginalFileWithRotation(TOutputJob& job, const fs::path& photo, TOutputEnv& env) {
  const tSpecialPrintToFilePref* rec = nullptr;
  std::string base;
  const auto folder = OriginalsFolder(job, env, &rec, &base);
  if (!folder) return false;
  CImageFile file(photo.string());
  const int orientation = file.GetOrientation();
  platform::LogF("Orientation of the original: %d", orientation);
  CGImageRef image = file.GetCurrentCGImage();
  if (!image) return false;
  CGImageRef upright = createNewRotatedImageRef(image, orientation);
  // The upright copy replaces a file of its name whatever the overwrite
  // switch; a copy that could not be put in place fails the job.
  const int16_t dpi = job.resolution > 0 ? job.resolution : 72;
  if (!PlaceOriginalCopy(job, photo, *rec, *folder, base, true, env, [&](const fs::path& working) {
        return saveCGImageRefToPath(upright ? upright : image, working.string(), dpi);
      }))
    return false;
  DoIfVideoCopy(job, *rec, *folder, env);
  return true;
}

bool SaveOriginalFile(TOutputJob& job, const fs::path& photo, TOutputEnv& env) {
  const int16_t set = job.item.setNumber;
  const tSpecialPrintToFilePref* setRec = set >= 1 && set <= 8 ? env.setPrefs(set) : nullptr;
  if (setRec && setRec->fileFormat == 10) {
    CImageFile file(photo.string());
    if (file.GetOrientation() > 0) return SaveOriginalFileWithRotation(job, photo, env);
    platform::LogLine("No meta tag data...");
  }
  const tSpecialPrintToFilePref* rec = nullptr;
  std::string base;
  const auto folder = OriginalsFolder(job, env, &rec, &base);
  if (!folder) return false;
  if (!PlaceOriginalCopy(job, photo, *rec, *folder, base, OverwritesOriginals(*rec), env, [&](const fs::path& working) {
        const OSErr err = host::CopyFile(photo.string(), working.string(), true);
        if (err != noErr) platform::LogF("The original [%s] could not be copied: error %d", photo.c_str(), int(err));
        return err == noErr;
      }))
    return false;
  DoIfVideoCopy(job, *rec, *folder, env);
  return true;
}

// ---- keyed copies

std::string CKCopyFileName(const std::string& imageName, const std::string& nameSuffix) {
  return CleanName(imageName + "_CK_" + nameSuffix + ".jpg");
}

std::optional<fs::path> CKCopyFolder(const TOutputJob& job, TOutputEnv& env) {
  CompleteOutputEnv(env);
  const auto setFolder = env.resolveFolder(int16_t(4510 + 8));
  if (!setFolder) return std::nullopt;
  const std::string folderA = CleanName(Utf8(job.jobSet.subFolderName));
  if (folderA.empty()) return setFolder;
  return SubFolder(*setFolder, folderA);
}

int16_t SaveCKCopyInPrintToFileEightFolder(const TOutputJob& job, const host::GWorld* page, TOutputEnv& env,
                                           fs::path* saved) {
  if (saved) saved->clear();
  if (!page) return 0;
  const auto folder = CKCopyFolder(job, env);
  if (!folder) return 0;
  const auto name = FreeCopyNameBeforeExtension(*folder, CKCopyFileName(job.currentImageName, job.nameSuffix));
  const auto spec = name ? FileSpec(*folder, *name) : std::nullopt;
  if (!spec || writeGWorldToImageFile(page, *spec, kOutputJPEG, 72) != noErr) {
    platform::LogLine("The keyed copy could not be saved in the folder of set 8");
    return 0;
  }
  platform::LogLine("Keyed copy saved as: [" + (*folder / *name).string() + "]");
  if (saved) *saved = *folder / *name;
  return 0;
}

host::GWorldHandle ReadCKCopy(const TOutputJob& job, TOutputEnv& env) {
  const auto folder = CKCopyFolder(job, env);
  if (!folder) return nullptr;
  const fs::path file = *folder / CKCopyFileName(job.currentImageName, job.nameSuffix);
  struct stat st {};
  if (host::LstatAt(file.string(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const auto spec = FileSpec(*folder, file.filename().string());
  if (!spec) return nullptr;
  TNewAllFilesHandler handler;
  handler.SetCurrentFile(*spec);
  if (!handler.IsValidFile()) return nullptr;
  return handler.GetFullSizeImage();
}

}  // namespace output
