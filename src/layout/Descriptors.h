// The descriptor records of layout objects: the stored form of each object in
// a job file, big-endian, each beginning with the 160-byte tLayoutInfo head.
// Every record has one Fields() layout that serves decoding and encoding,
// a stored size (the bytes its layout uses) and a capacity (the size of the
// record that holds it; a longer stored descriptor is read up to the capacity
// and the rest skipped).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "imaging/ColorAdjust.h"
#include "layout/StoredBytes.h"

// Text colour, size, font, face and justification (14 bytes).
struct tTextInfo {
  RGBColor color;
  int16_t size = 0;
  int16_t font = 0;
  int16_t face = 0;
  int16_t just = 0;  // -1 (0xFFFF) has a meaning of its own to the text object
  template <class IO, class R>
  static void Fields(IO& io, R& r) { io.rgb(r.color); io.i16(r.size); io.i16(r.font); io.i16(r.face); io.i16(r.just); }
  friend bool operator==(const tTextInfo&, const tTextInfo&) = default;
};

// The head of every descriptor.
struct tLayoutInfo {
  CLongRect_AC fBounds;
  float fLeft = 0, fTop = 0, fWidth = 0, fHeight = 0;
  std::array<uint8_t, 128> fReserved{};
  static constexpr size_t kStoredSize = 160;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.longRect(r.fBounds);
    io.f32(r.fLeft); io.f32(r.fTop); io.f32(r.fWidth); io.f32(r.fHeight);
    io.raw(r.fReserved);
  }
  friend bool operator==(const tLayoutInfo&, const tLayoutInfo&) = default;
};

struct CImageDesc {
  static constexpr OSType kType = FourCC("imag");
  static constexpr size_t kStoredSize = 362;
  static constexpr size_t kCapacity = 364;
  static constexpr size_t kChromaKeyFlagOffset = 318;

  tLayoutInfo head;
  int16_t fCropToFill = 0;
  FSSpec fFile;
  float fRotation = 0;
  CPoint_AC fOffset;
  int16_t fInsetAmount = 0;
  myImageColorAdjustInfo fColorAdjust;
  CStr31_AC fGraphicCategory;
  CStr31_AC fGraphicName;
  uint8_t fHasChromaKey = 0;
  uint8_t fReserved319 = 0;
  int16_t fBorder = 0;
  int16_t fBorderWidth = 0;
  RGBColor fBorderColor;
  int16_t fImageSize = 0;
  uint8_t fReservedFlag = 0;
  uint8_t fReserved333 = 0;
  int16_t fReservedValue = 0;
  int16_t fFreeRotate = 0;
  int16_t fAngle = 0;
  int16_t fAngleDirection = 0;
  int16_t fUseCropBounds = 0;
  std::array<float, 4> fCropBounds{};
  int16_t fBoxScale = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.i16(r.fCropToFill);
    io.fsspec(r.fFile);
    io.f32(r.fRotation);
    io.point(r.fOffset);
    io.i16(r.fInsetAmount);
    myImageColorAdjustInfo::Fields(io, r.fColorAdjust);
    io.str(r.fGraphicCategory);
    io.str(r.fGraphicName);
    io.u8(r.fHasChromaKey);
    io.u8(r.fReserved319);
    io.i16(r.fBorder);
    io.i16(r.fBorderWidth);
    io.rgb(r.fBorderColor);
    io.i16(r.fImageSize);
    io.u8(r.fReservedFlag);
    io.u8(r.fReserved333);
    io.i16(r.fReservedValue);
    io.i16(r.fFreeRotate);
    io.i16(r.fAngle);
    io.i16(r.fAngleDirection);
    io.i16(r.fUseCropBounds);
    for (auto& f : r.fCropBounds) io.f32(f);
    io.i16(r.fBoxScale);
  }
};

// 'text' and 'edtx' share this layout; 'dtbs' stops before fTextOption4.
struct CTextDesc {
  static constexpr OSType kType = FourCC("text");
  static constexpr size_t kStoredSize = 438;
  static constexpr size_t kCapacity = 440;

  tLayoutInfo head;
  CStr255_AC fText;
  tTextInfo fTextInfo;
  int16_t fTextOption1 = 0;
  int16_t fTextOption2 = 0;
  int16_t fTextOption3 = 0;
  int16_t fTextOption4 = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.str(r.fText);
    tTextInfo::Fields(io, r.fTextInfo);
    io.i16(r.fTextOption1); io.i16(r.fTextOption2); io.i16(r.fTextOption3); io.i16(r.fTextOption4);
  }
};

struct CEditTextDesc : CTextDesc {
  static constexpr OSType kType = FourCC("edtx");
};

struct CDatabaseDesc {
  static constexpr OSType kType = FourCC("dtbs");
  static constexpr size_t kStoredSize = 436;
  static constexpr size_t kCapacity = 436;

  tLayoutInfo head;
  CStr255_AC fText;
  tTextInfo fTextInfo;
  int16_t fTextOption1 = 0;
  int16_t fTextOption2 = 0;
  int16_t fTextOption3 = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.str(r.fText);
    tTextInfo::Fields(io, r.fTextInfo);
    io.i16(r.fTextOption1); io.i16(r.fTextOption2); io.i16(r.fTextOption3);
  }
};

struct CStampDesc {
  static constexpr OSType kType = FourCC("stmp");
  static constexpr size_t kStoredSize = 456;
  static constexpr size_t kCapacity = 456;

  tLayoutInfo head;
  CStr255_AC fText;
  tTextInfo fTextInfo;
  std::array<uint16_t, 6> fStampOption{};  // fStampOption1 .. fStampOption6
  std::array<uint8_t, 6> fStampBytes{};
  int16_t fStampValue = 0;
  std::array<uint8_t, 2> fReserved{};
  uint16_t fStampOption7 = 0;
  uint16_t fStampOption8 = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.str(r.fText);
    tTextInfo::Fields(io, r.fTextInfo);
    for (auto& o : r.fStampOption) io.u16(o);
    io.raw(r.fStampBytes);
    io.i16(r.fStampValue);
    io.raw(r.fReserved);
    io.u16(r.fStampOption7);
    io.u16(r.fStampOption8);
  }
};

// 'fovl' (file overlay) and 'tran' (transparent overlay).
struct COverlayDesc {
  static constexpr OSType kType = FourCC("fovl");
  static constexpr size_t kStoredSize = 270;
  static constexpr size_t kCapacity = 272;

  tLayoutInfo head;
  FSSpec fFile;
  CStr31_AC fCategory;
  uint16_t fOverlayFlag1 = 0;
  uint8_t fOverlayFlag2 = 0;
  uint8_t fReserved265 = 0;
  uint16_t fOverlayMode = 0;
  uint16_t fOverlayValue = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.fsspec(r.fFile);
    io.str(r.fCategory);
    io.u16(r.fOverlayFlag1);
    io.u8(r.fOverlayFlag2);
    io.u8(r.fReserved265);
    io.u16(r.fOverlayMode);
    io.u16(r.fOverlayValue);
  }
};

struct CGroupPhotoDesc {
  static constexpr OSType kType = FourCC("grou");
  static constexpr size_t kStoredSize = 264;
  static constexpr size_t kCapacity = 264;

  tLayoutInfo head;
  FSSpec fFile;
  CStr31_AC fCategory;
  uint16_t fGroupValue = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.fsspec(r.fFile);
    io.str(r.fCategory);
    io.u16(r.fGroupValue);
  }
};

struct CNodeDesc {
  static constexpr OSType kType = FourCC("node");
  static constexpr size_t kStoredSize = 244;
  static constexpr size_t kCapacity = 244;

  tLayoutInfo head;
  FSSpec fFile;
  uint16_t fNodeMode = 0;
  uint16_t fNodeValue = 0;
  uint16_t fNodeMirror = 0;
  uint16_t fNodeColor = 0;
  uint16_t fNodeSepia = 0;
  uint16_t fNodeCopyPage = 0;
  int16_t fNodeTone = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.fsspec(r.fFile);
    io.u16(r.fNodeMode); io.u16(r.fNodeValue); io.u16(r.fNodeMirror);
    io.u16(r.fNodeColor); io.u16(r.fNodeSepia); io.u16(r.fNodeCopyPage);
    io.i16(r.fNodeTone);
  }
};

struct CBackColorDesc {
  static constexpr OSType kType = FourCC("bkco");
  static constexpr size_t kStoredSize = 168;
  static constexpr size_t kCapacity = 168;

  tLayoutInfo head;
  RGBColor fColor;
  uint16_t fSkipForPrintToFileSet = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.rgb(r.fColor);
    io.u16(r.fSkipForPrintToFileSet);
  }
};

struct CAttributeDesc {
  static constexpr OSType kType = FourCC("attr");
  static constexpr size_t kStoredSize = 168;
  static constexpr size_t kCapacity = 168;

  tLayoutInfo head;
  uint16_t SubjobResizeMode = 0;
  uint16_t SaveCKTemplateAsIs = 0;
  uint16_t IgnoreOverlays = 0;
  uint16_t SaveOriginal = 0;

  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    tLayoutInfo::Fields(io, r.head);
    io.u16(r.SubjobResizeMode); io.u16(r.SaveCKTemplateAsIs);
    io.u16(r.IgnoreOverlays); io.u16(r.SaveOriginal);
  }
};

namespace layout {

// Reads a descriptor from `size` stored bytes of a record. The descriptor
// starts from its type's defaults; only the bytes present (up to the
// capacity) replace them, and a stored size beyond the capacity is ignored
// here (the caller skips the excess in the stream).
template <typename D>
D ReadDescriptorBytes(std::span<const uint8_t> stored) {
  std::array<uint8_t, D::kCapacity> buffer{};
  const D defaults{};
  EncodeRecord(defaults, std::span<uint8_t>(buffer.data(), D::kStoredSize));
  const size_t n = std::min(stored.size(), D::kCapacity);
  std::copy(stored.begin(), stored.begin() + n, buffer.begin());
  return DecodeRecord<D>(std::span<const uint8_t>(buffer.data(), D::kStoredSize));
}

// The stored bytes of a descriptor (its stored size, without the padding up
// to the capacity).
template <typename D>
std::vector<uint8_t> WriteDescriptorBytes(const D& d) { return EncodeRecord(d); }

}  // namespace layout
