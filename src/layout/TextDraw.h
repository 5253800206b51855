// The one text renderer of the text, edit-text, database and stamp objects:
// plain text fitted, wrapped and justified in the object's box, rotated text
// drawn through a white offscreen copied in transparent mode, and texts drawn
// as QR codes or Code 128 barcodes.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/codes/Codes.h"
#include "host/qd/GWorld.h"
#include "imaging/ImageLoading.h"
#include "layout/Descriptors.h"
#include "layout/LayoutObject.h"

namespace layout {

// What one text-like object draws.
struct TTextSpec {
  CStr255_AC text;
  tTextInfo style;
  int16_t rotation = 0;  // 0, 90, 180, 270 clockwise; any other value draws unrotated
  bool skipOnSetRoutes = false;
  int16_t mode = 0;  // 1 QR code, 2 Code 128, anything else plain text
  // Right justification (-1) of unrotated text ends 15 points (scaled) short
  // of the box's right edge and is then drawn left-justified; the stamp hands
  // -1 to the text box as plain right justification instead.
  bool rightMarginRule = true;
  // What the object is called in the operator message when its text cannot
  // be drawn as the code it asks for.
  const char* objectName = "text object";
};

// Printer codes of the print-to-file-set routes (25 to 28, 49 to 52), on
// which objects with a skip switch draw nothing.
bool IsPrintToFileSetRoute(int16_t printerCode);

// Draws the object into the page: skip switch, code modes with plain text as
// the fallback when no encoder is available, plain or rotated text. False,
// after telling the job why, when the text cannot be made into the code the
// object asks for: a page without it must not count as printed.
bool DrawTextObject(host::GWorld* page, int16_t dpi, TJobContext& view, const CRect_AC& rect, const TTextSpec& spec);

// The text as a QR code (ISO Latin-1 bytes, error correction level M) or a
// Code 128 barcode (ASCII bytes, 7 quiet modules each side), its modules
// scaled nearest-neighbour into `rect` of the page; turned for rotation 90
// and 270. A text that cannot be encoded draws nothing, is logged and its
// reason goes to `refusal`; an empty text draws nothing. Both return false
// only when no encoder is available.
bool PrintTextAsQRCode(const CStr255_AC& text, host::GWorld* page, const CRect_AC& rect, int16_t rotation,
                       std::string* refusal = nullptr);
bool PrintTextAsBarcode(const CStr255_AC& text, host::GWorld* page, const CRect_AC& rect, int16_t rotation,
                        std::string* refusal = nullptr);

// The modules of a code scaled nearest-neighbour into `rect` of the page, dark
// modules black and light ones white, opaque; clipped to the page.
void DrawModuleMatrix(const host::ModuleMatrix& matrix, host::GWorld* page, const CRect_AC& rect);

// A new white offscreen of R's size at the origin holding the text drawn
// rotated by spec.rotation (laid out across the turned box); none when an
// offscreen cannot be made. The size is the style size times `scale`, times
// dpi / 72 only above 72 dpi.
host::GWorldHandle DrawTextOnOffscreen(const CRect_AC& rect, float scale, int16_t dpi, const TTextSpec& spec,
                                       TJobContext& view);

// Draws an image stretched into `rect` (top-left coordinates) of the
// offscreen, composited source-over through the image's alpha, so its
// transparent parts leave the offscreen as it was.
void DrawOverlayImageToGWorld(const CGImageRef& image, host::GWorld* offscreen, const CLongRect_AC& rect);

// The ISO Latin-1 bytes of a Mac Roman text up to its first zero byte; false
// when a character has no Latin-1 form.
bool MacRomanToLatin1(std::string_view macRoman, std::string* latin1);

}  // namespace layout
