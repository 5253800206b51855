#include "platform/FolderSpecs.h"

FSSpec gKivoPrefsFSSpec{kNoVolume, kNoDirectory, CStr63_AC()};
