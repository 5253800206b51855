// Basic value types shared by the whole host layer: result codes, four-character
// codes and 16-bit colours, with the meanings the rest of the program expects.
#pragma once

#include <cstdint>
#include <string>

using OSErr = int16_t;
using OSStatus = int32_t;
using OSType = uint32_t;
using ResType = uint32_t;
using FourCharCode = uint32_t;
using Boolean = bool;

// File-system and memory result codes, as the file services report them.
enum : OSErr {
  noErr = 0,
  dirFulErr = -33,
  dskFulErr = -34,
  nsvErr = -35,
  ioErr = -36,
  bdNamErr = -37,
  fnOpnErr = -38,
  eofErr = -39,
  posErr = -40,
  tmfoErr = -42,
  fnfErr = -43,
  wPrErr = -44,
  fLckdErr = -45,
  vLckdErr = -46,
  fBsyErr = -47,
  dupFNErr = -48,
  opWrErr = -49,
  paramErr = -50,
  rfNumErr = -51,
  permErr = -54,
  fsRnErr = -59,
  wrPermErr = -61,
  dirNFErr = -120,
  badMovErr = -122,
  memFullErr = -108,
  nilHandleErr = -109,
  userCanceledErr = -128,
  resNotFound = -192,
  resFNotFound = -193,
  addResFailed = -194,
  rmvResFailed = -196,
  mapReadErr = -199,
  notAFileErr = -1302,
  diffVolErr = -1303,
  errFSNameTooLong = -1234,
  afpAccessDenied = -5000,
  unimpErr = -4,
};

// 'abcd' packed big-endian, as a four-character code reads in a hex dump.
constexpr OSType FourCC(const char (&s)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}

inline std::string FourCCToString(OSType code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
  return s;
}

// A colour with 16 bits per channel (0..65535).
struct RGBColor {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  friend bool operator==(const RGBColor&, const RGBColor&) = default;
};
