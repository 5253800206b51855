// Two-dimensional and linear codes as module matrices: a QR code and a
// Code 128 barcode made from message bytes by libzint.
//
// A matrix holds one byte per module, 1 dark and 0 light, rows top to
// bottom, and includes its quiet zone. Drawing it (scaling, colours) is the
// caller's business.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace host {

struct ModuleMatrix {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> modules;  // width * height, row by row

  bool Dark(int32_t x, int32_t y) const { return modules[size_t(y) * size_t(width) + size_t(x)] != 0; }
  // The matrix turned a quarter turn: clockwise or counter-clockwise.
  ModuleMatrix TurnedClockwise() const;
  ModuleMatrix TurnedCounterClockwise() const;
};

enum class QRErrorLevel { kL = 1, kM = 2, kQ = 3, kH = 4 };

// The result of an encoding: a matrix, or the encoder's reason for refusing
// the message (empty message, too long, characters the symbology lacks).
struct CodeResult {
  std::optional<ModuleMatrix> matrix;
  std::string error;
  // No encoder could be made: the message itself was not refused.
  bool encoderMissing = false;
};

// A QR code of the bytes, taken as they are in byte mode (no ECI, so a
// reader takes them as ISO Latin-1), with `quietZone` light modules round it.
CodeResult EncodeQRCode(std::span<const uint8_t> message, QRErrorLevel level, int32_t quietZone = 4);

// A Code 128 barcode of ASCII bytes (0 to 127), one row of modules, with
// `quietSpace` light modules on each side. Bytes above 127 are refused.
CodeResult EncodeCode128(std::span<const uint8_t> message, int32_t quietSpace = 7);

}  // namespace host
