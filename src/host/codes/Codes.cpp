#include "host/codes/Codes.h"

#include <zint.h>

#include <algorithm>
#include <memory>

namespace host {

namespace {

struct SymbolDeleter {
  void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using Symbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

// zint keeps the modules of a row as bits, the leftmost module in the lowest bit.
bool ModuleIsSet(const zint_symbol& s, int row, int column) {
  return (s.encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

CodeResult Encode(int symbology, std::span<const uint8_t> message, int option1, int quietX, int quietY) {
  CodeResult result;
  if (message.empty()) {
    result.error = "empty message";
    return result;
  }
  if (message.size() > 4096) {
    result.error = "message too long";
    return result;
  }
  Symbol symbol(ZBarcode_Create());
  if (!symbol) {
    result.error = "encoder could not be created";
    result.encoderMissing = true;
    return result;
  }
  symbol->symbology = symbology;
  symbol->input_mode = DATA_MODE;
  if (option1 > 0) symbol->option_1 = option1;
  const int err = ZBarcode_Encode(symbol.get(), message.data(), int(message.size()));
  if (err >= ZINT_ERROR) {
    result.error = symbol->errtxt;
    return result;
  }
  const int rows = symbol->rows;
  const int width = symbol->width;
  if (rows <= 0 || width <= 0 || rows > 200 || width > 144 * 8) {
    result.error = "encoder gave no modules";
    return result;
  }
  ModuleMatrix m;
  m.width = width + 2 * quietX;
  m.height = rows + 2 * quietY;
  m.modules.assign(size_t(m.width) * size_t(m.height), 0);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width; ++x)
      if (ModuleIsSet(*symbol, y, x)) m.modules[size_t(y + quietY) * size_t(m.width) + size_t(x + quietX)] = 1;
  result.matrix = std::move(m);
  return result;
}

}  // namespace

ModuleMatrix ModuleMatrix::TurnedClockwise() const {
  ModuleMatrix t;
  t.width = height;
  t.height = width;
  t.modules.assign(modules.size(), 0);
  // Source (x, y) goes to (height - 1 - y, x).
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      t.modules[size_t(x) * size_t(t.width) + size_t(height - 1 - y)] = modules[size_t(y) * size_t(width) + size_t(x)];
  return t;
}

ModuleMatrix ModuleMatrix::TurnedCounterClockwise() const {
  ModuleMatrix t;
  t.width = height;
  t.height = width;
  t.modules.assign(modules.size(), 0);
  // Source (x, y) goes to (y, width - 1 - x).
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      t.modules[size_t(width - 1 - x) * size_t(t.width) + size_t(y)] = modules[size_t(y) * size_t(width) + size_t(x)];
  return t;
}

CodeResult EncodeQRCode(std::span<const uint8_t> message, QRErrorLevel level, int32_t quietZone) {
  const int q = std::clamp(quietZone, 0, 64);
  return Encode(BARCODE_QRCODE, message, int(level), q, q);
}

CodeResult EncodeCode128(std::span<const uint8_t> message, int32_t quietSpace) {
  if (std::any_of(message.begin(), message.end(), [](uint8_t b) { return b > 127; })) {
    CodeResult r;
    r.error = "characters outside ASCII";
    return r;
  }
  return Encode(BARCODE_CODE128, message, 0, std::clamp(quietSpace, 0, 64), 0);
}

}  // namespace host
