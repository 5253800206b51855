// What the output routes need of a job, and the hooks by which they reach
// the world around them. The job view fills a TOutputJob from its own fields
// (see the naming table below) and hands it, with the page, to a route; the
// routes never reach back into the job pipeline.
//
// Naming of the job values. The job file names some of them by position
// only; the routes speak of them by their use:
//
//   job file field (header / trailer)    here
//   -----------------------------------  ------------------------------------
//   printQuantity                         copies
//   print-to-file option C (header i16)   plainName      (single-folder route only)
//   print-to-file option D (header i16)   outputQuality  (single folder and sets)
//   text block (trailer, 1,024 bytes)     sourcePath     (Mac Roman, NUL-terminated)
//   block E (trailer, 4,096 bytes)        dornsBlock     (length in its last 4 bytes)
//   metadata option (trailer i16)         dornsSwitch
//   video merge switch / video copy sw.   videoMerge / videoCopy
//   video path (trailer, UTF-8)           videoPath
//
// A job whose output quality is 0 (station versions that leave it unset)
// is written with the output-file quality of the preferences instead, so a
// JPEG never comes out at quality 0.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"
#include "prefs/PrefRecords.h"

namespace output {

// The job's print-to-file item (printer codes 25-28 and 49-52).
struct TPrintToFileItem {
  int16_t setNumber = 0;       // 1..8
  bool keepAlpha = false;
  bool subfolders = false;
  std::array<bool, 6> rules{}; // R1..R6, stored order
};

struct TOutputJob {
  int16_t printerCode = 0;
  int16_t copies = 1;
  int16_t resolution = 72;
  int16_t outputQuality = 0;
  bool plainName = false;

  // Names, UTF-8.
  std::string currentImageName;  // as cut by SetCurrentImageName
  std::string currentImageExt;   // upper case, with its "."
  std::string templateName;
  std::string baseName;
  std::string nameSuffix;

  tSpecialPrintToFilePref jobSet;  // the job's own copy of a set record
  TPrintToFileItem item;
  // Set by the set route: the set the page went to (the item's set, or the
  // one whose client list names the job's address), also when that set's
  // folder could not be found; 0 before the route chose one.
  int16_t chosenSet = 0;

  std::optional<host::PlistDict> webDictionary;

  bool videoCopy = false;
  bool videoMerge = false;
  std::string videoPath;
  // The folders the program serves clips from (the images folder and the
  // shared video folder): a clip anywhere else is never copied.
  std::vector<std::filesystem::path> videoFolders;

  std::string sourcePath;  // UTF-8 (converted from the job's Mac Roman text)
  bool dornsSwitch = false;
  std::vector<uint8_t> dornsBlock;  // 4,096 bytes

  // The two yearbook records: 41 strings of 256 bytes each (values, titles).
  const std::array<uint8_t, 10496>* yearbookValues = nullptr;
  const std::array<uint8_t, 10496>* yearbookTitles = nullptr;

  bool embedSourceProfile = false;
  std::filesystem::path firstImageFile;  // the job's first photo, or empty

  // The record of the outputs a route puts in place by a rename, each by a
  // key unique within the job, so that a job killed at any moment and tried
  // again makes every output exactly once. Hooks left empty record nothing.
  struct TPlacements {
    // Where output `key` was put by an earlier try of the job, if it was.
    std::function<std::optional<std::filesystem::path>(const std::string& key)> placedBefore;
    // Records that `working` is about to be renamed to `target`; false: it
    // could not be recorded and the output must not be placed.
    std::function<bool(const std::string& key, const std::filesystem::path& working,
                       const std::filesystem::path& target)>
        placing;
    // The rename succeeded / failed (recorded before anything else happens).
    std::function<void(const std::string& key, const std::filesystem::path& target)> placed;
    std::function<void(const std::string& key)> notPlaced;
  } placements;
};

// Hooks of the routes. Each has a working default, so a route runs in a
// program that installs none of them.
struct TOutputEnv {
  // The folder of a stored alias id (4501 print to file, 4510 + n set n,
  // 4566 web upload); nothing when it does not resolve.
  std::function<std::optional<std::filesystem::path>(int16_t aliasID)> resolveFolder;
  // The live set record n (1..8) and the web-upload record.
  std::function<const tSpecialPrintToFilePref*(int16_t set)> setPrefs;
  std::function<const tSpecialPrintToFilePref*()> webUploadPrefs;
  std::function<int16_t()> outputFileQuality;
  std::function<bool()> printToFileSaveForPC;
  std::function<void(const std::string&)> setStatus;
  std::function<void(const host::GWorld*)> showPreview;
  std::function<std::filesystem::path()> desktopFolder;
  // Merges the video clip open on `clipFd` with the intro and outro and
  // moves the result to `destination`, replacing a file there only when
  // `replace`, else under the next free " copy" name (where it went in
  // `placed`). noErr when placed; userCanceledErr when the program was asked
  // to end meanwhile; any other code when the merge failed (nothing placed).
  std::function<OSErr(int clipFd, const std::filesystem::path& destination, bool replace,
                      std::filesystem::path* placed)>
      mergeVideos;
};

// The environment with every hook set to the program's own services: folders
// from the aliases in the user defaults, the live preference records, the
// desktop of host/sys/Folders.h.
TOutputEnv DefaultOutputEnv();
// Fills the hooks that are not set with their defaults.
void CompleteOutputEnv(TOutputEnv& env);

// The folder a stored alias id resolves to through the user defaults
// ("AliasHandle <id>"), or nothing.
std::optional<std::filesystem::path> ResolveStoredFolder(int16_t aliasID);

}  // namespace output
