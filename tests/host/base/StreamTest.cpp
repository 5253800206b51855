#include "host/base/Stream.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

OSErr CodeOf(const std::function<void()>& body) { return host::CatchToOSErr(body); }

}  // namespace

TEST(Stream, BigEndianByDefaultLittleEndianWithFilter) {
  CBufferStream_AC s;
  s.WriteUInt16(0x0102);
  s.AddLittleEndianFilter();
  s.WriteUInt16(0x0102);
  s.WriteInt32(-2);
  s.WriteFloat32(2.0f);
  s.WriteUInt32BE(0xAABBCCDD);
  const std::vector<uint8_t> expected = {1, 2, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x40,
                                         0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(s.GetBuffer(), expected);

  CBufferStream_AC r(s.GetBuffer());
  EXPECT_EQ(r.ReadUInt16(), 0x0102);
  r.AddLittleEndianFilter();
  EXPECT_EQ(r.ReadUInt16(), 0x0102);
  EXPECT_EQ(r.ReadInt32(), -2);
  EXPECT_EQ(r.ReadFloat32(), 2.0f);
  EXPECT_EQ(r.ReadUInt32BE(), 0xAABBCCDDu);
  EXPECT_EQ(r.BytesLeft(), 0u);
}

TEST(Stream, ReadingPastTheEndThrowsAndConsumesNothing) {
  const uint8_t three[] = {1, 2, 3};
  CBufferStream_AC r(three, sizeof three);
  EXPECT_EQ(r.ReadUInt16BE(), 0x0102);
  EXPECT_EQ(CodeOf([&] { r.ReadUInt32(); }), eofErr);
  EXPECT_EQ(r.GetPosition(), 2u);
  EXPECT_EQ(r.ReadUInt8(), 3);
  EXPECT_EQ(CodeOf([&] { r.ReadUInt8(); }), eofErr);
  EXPECT_EQ(CodeOf([&] { r.Skip(1); }), eofErr);
  EXPECT_EQ(CodeOf([&] { r.SetPosition(4); }), eofErr);
  r.Skip(-3);
  EXPECT_EQ(r.GetPosition(), 0u);
  EXPECT_EQ(CodeOf([&] { r.Skip(-1); }), posErr);
  EXPECT_EQ(CodeOf([&] { r.ReadBytes(size_t(-1)); }), eofErr);
}

TEST(Stream, FixedBufferRefusesWritesPastItsEnd) {
  CBufferStream_AC s(6);
  s.AddLittleEndianFilter();
  s.WriteInt16(7);
  EXPECT_EQ(CodeOf([&] { s.WriteBytes("abcdefgh", 8); }), eofErr);
  s.WriteInt32(1);
  EXPECT_EQ(s.GetBuffer().size(), 6u);
  EXPECT_EQ(CodeOf([&] { s.WriteUInt8(0); }), eofErr);
}

TEST(Stream, PascalStringsCheckTheirCapacity) {
  CBufferStream_AC s;
  s.WritePascalString(CStr31_AC("Kivo ƒ"));
  s.WritePascalString(CStr63_AC(std::string(40, 'x')));
  s.WriteFixedPascalString(CStr31_AC("abc"));
  EXPECT_EQ(s.GetLength(), 1u + 6 + 1 + 40 + 32);

  CBufferStream_AC r(s.GetBuffer());
  CStr31_AC a;
  r.ReadPascalString(a);
  EXPECT_EQ(a.ToUTF8(), "Kivo ƒ");
  CStr31_AC tooSmall("keep");
  const uint64_t at = r.GetPosition();
  EXPECT_EQ(CodeOf([&] { r.ReadPascalString(tooSmall); }), paramErr);
  EXPECT_EQ(tooSmall.ToUTF8(), "keep");
  EXPECT_EQ(r.GetPosition(), at);
  CStr63_AC b;
  r.ReadPascalString(b);
  EXPECT_EQ(b.Length(), 40u);
  CStr31_AC c;
  r.ReadFixedPascalString(c);
  EXPECT_EQ(c.ToUTF8(), "abc");

  // A length byte promising more characters than the stream holds.
  const uint8_t truncated[] = {5, 'a', 'b'};
  CBufferStream_AC t(truncated, sizeof truncated);
  EXPECT_EQ(CodeOf([&] { t.ReadPascalString(c); }), eofErr);

  // A raw stored string whose length byte exceeds its capacity is clamped.
  uint8_t raw[32] = {200, 'z'};
  CBufferStream_AC u(raw, sizeof raw);
  u.ReadFixedPascalString(c);
  EXPECT_EQ(c.Length(), 31u);
}
