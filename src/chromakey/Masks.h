// Include (junk) and exclusion masks of a green-screen photo.
//
// The station applications store both masks in the photo file's resource
// fork (on Linux its AppleDouble sidecar "._name") as resources 'Pref' 5011
// (include) and 5012 (exclusion). Each holds a keyed archive whose root is an
// array of shapes; a shape is an array whose element 0 is its kind:
//   "rectangle"  element 1 a rectangle string "{{x, y}, {w, h}}", top-left origin;
//   "freeForm"   elements 1.. rectangle strings whose origins are the points of a
//                closed polygon, in bottom-left-origin coordinates (y upwards);
//   other kinds  an oval inscribed in the rectangle of element 1.
// Every coordinate is multiplied by the scale the caller gives.
//
// A mask resource that is missing, malformed or not an array of shapes is no
// mask: it is logged and nothing is drawn; it never fails a job. Shapes are
// clipped to the offscreen they are drawn into.
#pragma once

#include <cstdint>
#include <optional>

#include "host/files/FSSpec.h"
#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"

namespace chromakey {

constexpr int16_t kIncludeMaskID = 5011;
constexpr int16_t kExclusionMaskID = 5012;

// The shape array of mask resource `id` of the file, or nothing (logged when
// a resource is there but cannot be used).
std::optional<host::PlistArray> ReadMaskShapes(const FSSpec& imageFile, int16_t id);

// Parses a rectangle string the way the station applications write it: the
// first four numbers are x, y, width and height; missing ones are 0. False
// when a number is not finite.
bool ParseRectString(const std::string& text, double* x, double* y, double* w, double* h);

}  // namespace chromakey

// True when the file holds a usable include mask.
bool hasExternalMask(const FSSpec& imageFile);
// True when the file holds a usable exclusion mask.
bool hasExclusionMask(const FSSpec& imageFile);

// Sets the alpha byte of every pixel of `target` to the include mask: 255
// inside the shapes, 0 elsewhere (anti-aliased edges in between); the colours
// are unchanged. Without a mask `target` is untouched.
void copyJunkMaskToAlphaChannelOffscreen(host::GWorld* target, const FSSpec& imageFile, float scale);

// A new offscreen of the size of `like` holding the include mask as white
// shapes on black; empty when there is no mask or no offscreen.
host::GWorldHandle getNewJunkMaskOffscreen(const host::GWorld* like, const FSSpec& imageFile, float scale);

// Erases `target` to white and paints the exclusion mask's shapes black.
// Without a mask (or without a target) nothing changes.
void copyExclusionMaskToOffscreen(host::GWorld* target, const FSSpec& imageFile, float scale);

// One shape each; a null shape draws nothing. The "Shape" operations draw
// rectangles and ovals, the "Path" operations free-form polygons. The include
// forms draw white, the exclusion forms black.
void drawArrayAsShapeToOffscreen(host::GWorld* target, const host::PlistArray* shape, float scale);
void drawArrayAsPathToOffscreen(host::GWorld* target, const host::PlistArray* shape, float scale);
void drawArrayAsShapeToOffscreenForExclusionMask(host::GWorld* target, const host::PlistArray* shape,
                                                 float scale);
void drawArrayAsPathToOffscreenForExclusionMask(host::GWorld* target, const host::PlistArray* shape,
                                                float scale);
