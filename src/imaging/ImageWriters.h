// Writing a page or photo offscreen as an image file, by 16-bit output format
// code: 2 TIFF (LZW), 3 and 10 JPEG, 4 PICT, 5 RAW (packed RGB only), 6 TIFF by the
// program's own 242-byte-header writer, 7 Targa (24 bits), 8 Photoshop
// (32 bits), 9 PNG (32 bits); 0 and 1 write nothing.
//
// Every writer builds the whole file in memory and puts it in place through a
// temporary name, so a failed write leaves no partial file under the final
// name and an existing file keeps its contents. Failures are logged and
// returned; none is shown to the operator.
//
// JPEG quality: one mapping for every scale the callers use. A quality given
// in percent p (0..100) is written as libjpeg quality p, held to 1..100; the
// exporter scale (p / 100 × 1024, 75 → 768) maps back to the same number and
// a fraction f (0..1) is percent f × 100.
#pragma once

#include <cstdint>
#include <vector>

#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "imaging/ColorAdjust.h"

enum : int16_t {
  kOutputNone = 0,
  kOutputTIFF = 2,
  kOutputJPEG = 3,
  kOutputPICT = 4,
  kOutputRAW = 5,
  kOutputOwnTIFF = 6,
  kOutputTarga = 7,
  kOutputPhotoshop = 8,
  kOutputPNG = 9,
  kOutputJPEG2 = 10,
};

// 0 on success, else -1 or the failing status (logged).
OSErr writeGWorldToImageFile(const host::GWorld* offscreen, const FSSpec& spec, int16_t format, int16_t dpi,
                             int16_t quality);
OSErr writeGWorldToImageFile(const host::GWorld* offscreen, const FSSpec& spec, int16_t format, int16_t dpi);

// True when the file was written (codes that write nothing: true).
bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool flag,
                            int16_t dpi);
bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool flag,
                            int16_t dpi, int16_t quality);
// With `viaPreferencesFolder` the file is written into a private working file
// first, copied to `spec` and the working file removed.
bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool flag,
                            int16_t dpi, int16_t quality, bool viaPreferencesFolder);
// Writes into a new private working file (see NewPrivateWorkingFile) with the
// extension of `spec`'s name; on success `spec` names the written file, which
// the caller moves into place or deletes.
bool NewSaveOffscreenToFileNew(int16_t format, const host::GWorld* offscreen, FSSpec& spec, bool flag,
                               int16_t dpi, int16_t quality, bool extra);

bool SaveAsTIFFFile(const FSSpec& spec, const host::GWorld* offscreen, int16_t dpi);
bool SaveAsRawFile(const FSSpec& spec, const host::GWorld* offscreen);
bool SaveAsPICTFile(const FSSpec& spec, const host::GWorld* offscreen, int16_t dpi);

// "OutputForPrint.jpg": the finished page as a JPEG (quality 75, 300 dpi) in
// the preferences folder, replacing the previous one. It shows a customer's
// page, so only the program's user may read it (mode 0600, whatever the
// umask). True when written.
bool SaveOutputForPrint(const host::GWorld* page);

namespace imaging {

// The file bytes of the own writers and encoders (empty when the image cannot
// be stored in that format, e.g. a side beyond its 16-bit fields).
std::vector<uint8_t> BuildOwnTiff(const PackedRGB& rgb, int32_t width, int32_t height, int16_t dpi);
std::vector<uint8_t> BuildPict(const host::GWorld& image, int16_t dpi);
std::vector<uint8_t> BuildTarga(const host::GWorld& image);
std::vector<uint8_t> BuildPhotoshop(const host::GWorld& image, int16_t dpi);

// True when every alpha byte is 0: the page carries no transparency.
bool AlphaIsUnsetIn(const host::GWorld& image);

// libjpeg quality for a percentage (see the file comment).
int JpegQualityFromPercent(double percent);

// Writes `bytes` to the path through a temporary name and sets the file's
// type and creator; the file gets `mode` less the umask. False (logged) on
// failure.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, OSType type, OSType creator,
                    uint32_t mode = 0666);
void SetTypeAndCreator(const std::string& path, OSType type, OSType creator);

// The preferences folder's path; empty when it is not known.
std::string PreferencesFolderPath();
// The names of the preferences folder in the application folder and of the
// private folders (see PrivateFolderPath; the spool folder has one too).
inline constexpr char kPreferencesFolderName[] = "KIVO PREFERENCES FOLDER ƒ";
inline constexpr char kPrivateFolderName[] = "KIVO PRIVATE FOLDER";

// The program's private folder: "KIVO PRIVATE FOLDER" of the spool folder
// it works (held open for the whole run, see SetPrivateFolderPath), else
// the one beside the preferences folder. A folder of the program's own user,
// mode 0700, for what no other user may change (the record of printed jobs,
// working copies, the encoder's folders, the count journal). Made when
// missing, its mode narrowed when it is the user's; empty when neither is
// known or the folder cannot be made private (logged). In the second case
// `refusal` (when given) gets the reason, naming the folder ("the private
// folder "<path>" is a symbolic link, which is never followed"); it is left
// empty otherwise.
std::string PrivateFolderPath(std::string* refusal = nullptr);
// Makes `path` (the spool folder's private folder, held by the spool set-up)
// the private folder; empty: the one beside the preferences folder again.
void SetPrivateFolderPath(const std::string& path);
// The private folder beside the preferences folder, where earlier versions
// kept working copies and the count journal; empty when not known.
std::string OldPrivateFolderPath();
// Creates a new empty file exclusively (never through a link, never over an
// existing name) under an unpredictable name ending in `extension` in the
// private folder; its path, or empty (logged).
std::string NewPrivateWorkingFile(const std::string& extension);
// How the names of those files begin, and of the working files moved beside
// a target on another file system before their rename into place.
inline constexpr char kWorkingFilePrefix[] = "work-";
inline constexpr char kStagedWorkingFilePrefix[] = ".kivo-work-";

}  // namespace imaging
