#include "imaging/TiffTags.h"

#include "host/base/Exceptions.h"

bool gTiffLittleEndian = false;
TTiffTagFields gTiffFields;

uint16_t SwapIntegers(uint16_t value) { return static_cast<uint16_t>((value << 8) | (value >> 8)); }

uint32_t SwapLong(uint32_t value) {
  return (value << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) | (value >> 24);
}

// The numbers are read most significant byte first, then turned round for
// a little-endian file.
OSErr ReadInteger(CStream_AC& stream, uint16_t* value) {
  if (stream.GetLength() - stream.GetPosition() < 2) return eofErr;
  const uint16_t v = stream.ReadUInt16BE();
  *value = gTiffLittleEndian ? SwapIntegers(v) : v;
  return noErr;
}

OSErr ReadLong(CStream_AC& stream, uint32_t* value) {
  if (stream.GetLength() - stream.GetPosition() < 4) return eofErr;
  const uint32_t v = stream.ReadUInt32BE();
  *value = gTiffLittleEndian ? SwapLong(v) : v;
  return noErr;
}

OSErr ReadTag(CStream_AC& stream) {
  if (stream.GetPosition() > stream.GetLength() || stream.GetLength() - stream.GetPosition() < 12) return eofErr;
  uint16_t tag = 0, type = 0;
  uint32_t count = 0;
  ReadInteger(stream, &tag);
  ReadInteger(stream, &type);
  ReadLong(stream, &count);
  // A SHORT that fits sits in the first two bytes of the value field; any
  // other value is the field read as a whole.
  uint32_t value = 0;
  if (type == 3 && count <= 2) {
    uint16_t shortValue = 0, rest = 0;
    ReadInteger(stream, &shortValue);
    ReadInteger(stream, &rest);
    value = shortValue;
  } else {
    ReadLong(stream, &value);
  }
  TTiffTagFields& f = gTiffFields;
  switch (tag) {
    case 254: f.subfileType = value; break;
    case 256: f.width = value; break;
    case 257: f.height = value; break;
    case 258: f.bitsPerSample = value; break;
    case 259:
      f.compression = static_cast<uint16_t>(value);
      if (value != 1) return paramErr;
      break;
    case 262: f.photometric = static_cast<uint16_t>(value); break;
    case 273: f.stripOffsets = value; break;
    case 277: f.samplesPerPixel = static_cast<uint16_t>(value); break;
    case 278: f.rowsPerStrip = value; break;
    case 279: f.stripByteCounts = value; break;
    case 282: f.xResolution = value; break;
    case 283: f.yResolution = value; break;
    case 284: f.planarConfig = static_cast<uint16_t>(value); break;
    case 296: f.resolutionUnit = static_cast<uint16_t>(value); break;
    default: break;
  }
  return noErr;
}
