// Conversion tables for a tethered camera's settings: aperture, shutter
// speed and exposure-compensation codes to and from 1-based choice-list
// items, display texts of exposure compensation and white balance, the
// camera look profile file names, and the camera event switches.
// Nothing in the program calls them.
#pragma once

#include <cstdint>

#include "host/base/PascalString.h"

// Camera card-folder switches, false at start.
extern bool gKPDCDeleteFile, gKPDCAddFile, gKPDCFolderContent, gFolderContentChanged;

// Items are 1-based; a code or item outside a list gives 0, except where
// noted.
int16_t getApertureFromItem(int16_t item);            // half stops, items 1..20
int16_t getItemFromAperture(int16_t code);
int16_t getApertureFromItem3rdStop(int16_t item);     // third stops, items 1..40
int16_t getItemFromAperture3rdStop(int16_t code);
uint16_t getShutterSpeedFromItem3rdStop(int16_t item);  // items 1..59; 65535 outside
int16_t getItemFromShutterSpeed3rdStop(int16_t code);
int16_t getExposureCompensationFromItem(int16_t item);  // items 1..24
int16_t getItemFromExposureCompensation(int16_t code);  // 255 outside

// Display texts; empty for codes not listed.
CStr255_AC getStringFromExposureCompensationConstant(int16_t code);
CStr255_AC getStringFromWhiteBalanceConstant(int16_t code);
// The look profile file name of a setting ("DCSPortraitLook.icm" for 0, 8
// and any value not listed).
CStr255_AC GetImageProfileName(int16_t value);

void CameraEventHandler(uint32_t event, uint32_t, const char*, uint32_t, void*);
bool checkKPDCCheckIfFileWritten();
