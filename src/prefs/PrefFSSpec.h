// The file specification held in the folder members of the preference
// records.
#pragma once

#include "host/files/FSSpec.h"
