// The imaging operations page rendering and finishing use, behind plain
// parameter types: the stored printer records of a job and the imaging
// records share names, so the two are kept in separate translation units.
#pragma once

#include <array>
#include <cstdint>
#include <future>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"

struct tColorSyncPrefs;

namespace pipeline::effects {

// red, green, blue, dark, light, gamma
using TSixValues = std::array<int16_t, 6>;

// A new white page offscreen, or none (the operator is told).
host::GWorldHandle NewPage(const CLongRect_AC& bounds);
void Mirror(host::GWorld* page);
// The page turned by a quarter turn (direction 1 counter-clockwise, 2
// clockwise); the page itself comes back when the turn cannot be made.
host::GWorldHandle Turn90(host::GWorldHandle page, int16_t direction);
void Grey(host::GWorld* page);
void Sepia(host::GWorld* page, const TSixValues& adjust, int16_t mode, const TSixValues& tint, int16_t percent);
// The six-value adjustment in place; nothing when all are zero.
void Adjust(host::GWorld* page, const TSixValues& adjust);
bool FindProfile(OSType profileClass, const CStr255_AC& name, FSSpec* found);
// Matches the page from the source to the printer profile when both
// switches are on; true when matched.
bool Match(host::GWorld* page, bool globalOn, bool entryOn, const FSSpec& source, const FSSpec& printer,
           int16_t printerCode);
// Writes "OutputForPrint.jpg" in the preferences folder from a copy of the
// page, on a thread of its own, so that the page may go on to its route at
// once; the result is true once the file is written. When no copy or thread
// can be had, the file is written before this returns.
std::future<bool> StartSaveOutputForPrint(const host::GWorld& page);

// Both take the source over on success (it is then empty) and leave it
// with the caller on failure.
host::GWorldHandle CropToNewSize(host::GWorldHandle& source, const CLongRect_AC& size, int16_t mode);
host::GWorldHandle ResizeToNewSize(host::GWorldHandle& source, const CLongRect_AC& size);

void DisposePhotoCache();

}  // namespace pipeline::effects
