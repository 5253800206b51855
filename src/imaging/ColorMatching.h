// Colour matching: installed profiles found by name, the finished page
// matched in place from the photos' source profile to the printer's profile,
// photos drawn through their embedded profiles (or the user's default
// profiles) into the working space, and the profile tool. Profiles
// themselves are in Profile.h; the colour work is Little CMS through
// host/color.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/color/IccProfile.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "imaging/Profile.h"

// Colour matching is always available here (true).
bool CS2_available();

// Opens the profile of a file specification; 0, or -43 when the file is
// missing, -1 when it is not a profile.
OSErr OpenProfileFSSpec(const FSSpec& spec, host::color::IccProfile* profile);

// Looks through the installed profiles (host::color::ProfileFolders) for a
// file whose name equals `name` exactly, byte for byte (Mac Roman, letter
// case counts); true with `spec` set to it when found. Profiles of any class
// are candidates: the class is not compared.
bool FindProfile(OSType profileClass, FSSpec* spec, const CStr255_AC& name);

// What matching reads of the job's colour-matching record: the global
// switch, the printer code's entry switch, and the two profile files.
struct tColorMatchSettings {
  bool globalOn = false;
  bool entryOn = false;
  FSSpec source;
  FSSpec printer;
};

// Matches the pixels in place from `source` to `printer`; 0 or the first
// error, logged under the step that failed. The pixels are untouched on
// failure.
OSErr MyMatchBitmap(host::GWorld* pixels, const FSSpec& source, const FSSpec& printer);

// Matches the page when both switches are on; true when it was matched.
bool matchInputAndOutput(host::GWorld* page, const tColorMatchSettings& settings, int16_t printerCode);

// Brings a decoded photo into the working space (sRGB) of the offscreens when
// embedded profiles are honoured: from its embedded profile, or else from the
// user's default profile for its colour model. A profile of another colour
// model than the pixels' (a grey profile on an RGB photo, an RGB one on a
// grey photo) is not used, with a log line. `inks` says that the pixels
// are CMYK inks as the decoder kept them (host::ImageReadOptions::keepCmyk);
// those always come back as RGB, without a profile when none can be used,
// with their alpha from `inkAlpha` (host::ImageReadResult::inkAlpha; empty
// for opaque inks). Other pixels are left as they are when there is no
// usable profile. True when the pixels were converted through a profile.
bool ConvertToWorkingSpace(host::GWorld& image, const std::vector<uint8_t>& embeddedProfile,
                           host::ImageColorModel model, bool inks, std::span<const uint8_t> inkAlpha);

// The profile tool: copies the embedded ICC profile of the image at
// "sourceImageFilePath" into the file "resultProfilePath"
// (getEmbeddedProfileFromImage), or embeds the profile file
// "resultProfilePath" into that image (embedProfileInImage), through the
// image codecs (JPEG, PNG, TIFF; no command line is built from the paths).
// 0 on success, -1 for a missing key, 1 when the work fails (logged).
using TProfileToolArguments = std::map<std::string, std::string>;
int getEmbeddedProfileFromImage(const TProfileToolArguments& arguments);
int embedProfileInImage(const TProfileToolArguments& arguments);
