// Both key models.
#pragma once

#include "chromakey/engine/KeyerBase.h"
#include "chromakey/engine/KeyerRT.h"
#include "chromakey/engine/KeyerRTPlus.h"
