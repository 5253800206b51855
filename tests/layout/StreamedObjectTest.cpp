// The streamed form of the layout objects: a stream holding the same values
// as a job-file record gives an object that writes the same record, every
// class is created by its registered name, and streams that hold too little,
// nested nodes or unknown classes fail without reading past their end.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "chromakey/ChromaKeySettings.h"
#include "host/base/Streamable.h"
#include "layout/Objects.h"

using namespace layout;

namespace {

class StreamedObjects : public ::testing::Test {
 protected:
  void SetUp() override { RegisterLayoutObjectClasses(); }
};

tLayoutInfo Head(float left) {
  tLayoutInfo h;
  h.fBounds = CLongRect_AC(3, 4, 150, 260);
  h.fLeft = left; h.fTop = 0.75f; h.fWidth = 2.5f; h.fHeight = 1.5f;
  return h;
}

std::vector<uint8_t> RecordBytes(const TLayoutObject& o) {
  TJobWriter w;
  o.WriteTo(w);
  return w.Bytes();
}

// Writes what the framework writes before an object's fields: its class
// name, then the base fields.
void Begin(CBufferStream_AC& s, const char* className, const tLayoutInfo& h, OSType type) {
  s.WritePascalBytes(className);
  s.WriteInt32(h.fBounds.top); s.WriteInt32(h.fBounds.left);
  s.WriteInt32(h.fBounds.bottom); s.WriteInt32(h.fBounds.right);
  s.WriteUInt32(type);
  s.WriteFloat32(h.fLeft); s.WriteFloat32(h.fTop); s.WriteFloat32(h.fWidth); s.WriteFloat32(h.fHeight);
}

void Spec(CBufferStream_AC& s, const FSSpec& f) {
  s.WriteInt16(f.vRefNum); s.WriteInt32(f.parID); s.WriteFixedPascalString(f.name);
}

void Zeros(CBufferStream_AC& s, size_t n) {
  std::vector<uint8_t> z(n, 0);
  s.WriteBytes(z.data(), n);
}

void Style(CBufferStream_AC& s, const tTextInfo& t) {
  for (uint16_t v : {t.color.red, t.color.green, t.color.blue}) s.WriteUInt16(v);
  for (int16_t v : {t.size, t.font, t.face, t.just}) s.WriteInt16(v);
}

void Mask(CBufferStream_AC& s, const tJunkMaskStructure& m) {
  for (int16_t v : {m.rect.top, m.rect.left, m.rect.bottom, m.rect.right}) s.WriteInt16(v);
  s.WriteUInt32(m.value);
}

// Reads the one object the stream holds from its start.
std::unique_ptr<TLayoutObject> ReadBack(CBufferStream_AC& s) {
  s.SetPosition(0);
  std::unique_ptr<MStreamable_AC> o = host::ReadStreamedObject(s);
  EXPECT_EQ(s.BytesLeft(), 0u);
  return std::unique_ptr<TLayoutObject>(dynamic_cast<TLayoutObject*>(o.release()));
}

CImageDesc SampleImage() {
  CImageDesc d;
  d.head = Head(0.5f);
  d.fCropToFill = 1;
  d.fFile = FSSpec{-100, 0, CStr63_AC("Portrait 12.jpg")};
  d.fRotation = 90;
  d.fOffset = CPoint_AC(-7, 11);
  d.fInsetAmount = 4;
  d.fColorAdjust = myImageColorAdjustInfo{1, -2, 3, -4, 5, -6};
  d.fGraphicCategory = "Frames";
  d.fGraphicName = "Gold.png";
  d.fBorder = 1;
  d.fBorderWidth = 2;
  d.fBorderColor = RGBColor{0x1234, 0x5678, 0x9ABC};
  d.fFreeRotate = 1;
  d.fAngle = 15;
  d.fAngleDirection = 2;
  d.fImageSize = 3;
  return d;
}

void StreamImage(CBufferStream_AC& s, const CImageDesc& d, bool keyed, int16_t border, int16_t borderWidth) {
  Begin(s, "TImageObject", d.head, kImageObjectType);
  s.WriteInt16(d.fCropToFill);
  Spec(s, d.fFile);
  s.WriteFloat32(d.fRotation);
  s.WriteInt16(d.fOffset.v); s.WriteInt16(d.fOffset.h);
  s.WriteInt16(d.fInsetAmount);
  const myImageColorAdjustInfo& c = d.fColorAdjust;
  for (int16_t v : {c.red, c.green, c.blue, c.dark, c.light, c.gamma}) s.WriteInt16(v);
  s.WriteFixedPascalString(d.fGraphicCategory);
  s.WriteFixedPascalString(d.fGraphicName);
  s.WriteUInt8(keyed ? 1 : 0);
  s.WriteInt16(border);
  s.WriteInt16(borderWidth);
  for (uint16_t v : {d.fBorderColor.red, d.fBorderColor.green, d.fBorderColor.blue}) s.WriteUInt16(v);
  s.WriteInt16(d.fFreeRotate); s.WriteInt16(d.fAngle); s.WriteInt16(d.fAngleDirection);
}

// Keying settings whose bytes beyond the streamed ones are zero.
tChromaKeySettings SampleKeySettings() {
  std::vector<uint8_t> bytes(tChromaKeySettings::kStoredSize, 0);
  const float background[3] = {12.5f, 200.0f, 33.0f};
  std::memcpy(bytes.data(), background, sizeof background);  // little-endian as stored
  bytes[100] = 0x5A;
  tChromaKeySettings k;
  EXPECT_TRUE(DecodeChromaKeySettings(bytes.data(), bytes.size(), k));
  k.inwardFlag = 1;
  k.defocusValue = 6;
  k.shrinkValue = 1.5f;
  k.junkMask = tJunkMaskStructure{CRect_AC(1, 2, 3, 4), 9};
  for (int i = 0; i < 4; ++i) k.junkMaskList[i] = tJunkMaskStructure{CRect_AC(10 * i, 1, 20, 30), uint32_t(i + 1)};
  return k;
}

}  // namespace

TEST_F(StreamedObjects, EveryConcreteClassButTheTransparentOverlayIsRegisteredByName) {
  for (const char* name : {"TImageObject", "TTextObject", "TEditTextObject", "TDatabaseObject", "TStampObject",
                           "TOverlayObject", "TFileOverlayObject", "TGroupPhotoObject", "TNodeViewObject",
                           "TBackColorObject", "TAttributeObject"}) {
    auto o = host::NewStreamableByName(name);
    ASSERT_TRUE(o) << name;
    EXPECT_EQ(o->GetStandardSignature(), name);
  }
  EXPECT_FALSE(host::IsStreamableClassRegistered("TTransparentOverlayObject"));
  EXPECT_EQ(TTransparentOverlayObject().GetStandardSignature(), "");
  // Default-constructed objects hold their classes' starting values.
  auto text = host::NewStreamableByName("TTextObject");
  EXPECT_EQ(static_cast<TTextObject&>(*text).Descriptor().fText.ToUTF8(), "test String");
  EXPECT_EQ(static_cast<TTextObject&>(*text).Descriptor().fTextInfo.size, 12);
  auto image = host::NewStreamableByName("TImageObject");
  EXPECT_EQ(static_cast<TImageObject&>(*image).Descriptor().fFile.vRefNum, -100);
}

TEST_F(StreamedObjects, ImageReadsBackEqualToItsJobRecordWithAndWithoutKeying) {
  const CImageDesc d = SampleImage();
  const tJunkMaskStructure masks[4] = {};
  {
    CBufferStream_AC s;
    StreamImage(s, d, false, d.fBorder, d.fBorderWidth);
    for (const auto& m : masks) Mask(s, m);
    Zeros(s, 871);
    s.WriteInt16(d.fImageSize);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TImageObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TImageObject::New(d)));
  }
  {
    const tChromaKeySettings k = SampleKeySettings();
    CImageDesc keyed = d;
    keyed.fHasChromaKey = 1;
    auto record = TImageObject::New(keyed);
    record->SetChromaKeySettings(k);

    CBufferStream_AC s;
    StreamImage(s, d, true, d.fBorder, d.fBorderWidth);
    for (const auto& m : k.junkMaskList) Mask(s, m);
    Zeros(s, 871);
    s.WriteInt16(d.fImageSize);
    const auto stored = EncodeChromaKeySettings(k);
    s.WriteBytes(stored.data(), 10864);
    s.WriteInt16(k.inwardFlag);
    s.WriteInt16(k.defocusValue);
    s.WriteFloat32(k.shrinkValue);
    Mask(s, k.junkMask);
    gDefocusValue = 0;
    auto o = ReadBack(s);
    ASSERT_TRUE(o);
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*record));
    // The keying values also become the engine's program-wide ones.
    EXPECT_EQ(gDefocusValue, 6);
    EXPECT_EQ(gExclusionMaskRect, k.junkMask);
  }
}

TEST_F(StreamedObjects, ImageFixesBorderValuesAndDropsAKeyingBlockCutShort) {
  const CImageDesc d = SampleImage();
  CBufferStream_AC s;
  StreamImage(s, d, true, 7, 40);
  Zeros(s, 48 + 871);
  s.WriteInt16(d.fImageSize);
  Zeros(s, 5000);  // far less than the coefficient block
  s.SetPosition(0);
  auto o = host::ReadStreamedObject(s);
  auto* image = dynamic_cast<TImageObject*>(o.get());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Descriptor().fBorder, 0);
  EXPECT_EQ(image->Descriptor().fBorderWidth, 3);
  EXPECT_FALSE(image->HasChromaKeySettings());
  EXPECT_EQ(image->Descriptor().fHasChromaKey, 0);
  // The stream is left where the block would have begun.
  EXPECT_EQ(s.BytesLeft(), 5000u);
}

TEST_F(StreamedObjects, TextFamilyAndStampReadBackEqualToTheirJobRecords) {
  const tTextInfo style{RGBColor{1, 2, 3}, 18, 4, 1, -1};
  CTextDesc t;
  t.head = Head(1.0f);
  t.fText = "Class of 2024";
  t.fTextInfo = style;
  t.fTextOption1 = 90;
  {
    CBufferStream_AC s;
    Begin(s, "TTextObject", t.head, kTextObjectType);
    s.WriteFixedPascalString(t.fText);
    Style(s, style);
    s.WriteInt16(t.fTextOption1);
    Zeros(s, 1022);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TTextObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TTextObject::New(t)));
  }
  {
    CEditTextDesc e;
    static_cast<CTextDesc&>(e) = t;
    e.fTextOption2 = 5;
    CBufferStream_AC s;
    Begin(s, "TEditTextObject", e.head, kEditTextObjectType);
    s.WriteFixedPascalString(e.fText);
    Style(s, style);
    s.WriteInt16(e.fTextOption1);
    s.WriteInt16(e.fTextOption2);
    Zeros(s, 1022);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TEditTextObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TEditTextObject::New(e)));
  }
  {
    CDatabaseDesc db;
    db.head = t.head;
    db.fText = "Smith";
    db.fTextInfo = style;
    db.fTextOption1 = 180;
    db.fTextOption2 = 2;
    CBufferStream_AC s;
    Begin(s, "TDatabaseObject", db.head, kDatabaseObjectType);
    s.WriteFixedPascalString(db.fText);
    Style(s, style);
    s.WriteInt16(db.fTextOption1);
    s.WriteInt16(db.fTextOption2);
    Zeros(s, 1022);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TDatabaseObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TDatabaseObject::New(db)));
  }
  {
    CStampDesc st;
    st.head = t.head;
    st.fText = "KIVO-0042";
    st.fTextInfo = style;
    st.fStampOption = {270, 4, 1, 0, 0, 0};
    CBufferStream_AC s;
    Begin(s, "TStampObject", st.head, kStampObjectType);
    Style(s, style);
    s.WriteUInt16(st.fStampOption[1]);
    s.WriteFixedPascalString(st.fText);
    s.WriteUInt16(st.fStampOption[0]);
    s.WriteUInt8(7);  // any non-zero byte is a set switch
    s.WriteUInt8(0);
    Zeros(s, 1020);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TStampObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TStampObject::New(st)));
  }
}

TEST_F(StreamedObjects, OverlaysBackColourAndAttributeReadBackEqualToTheirJobRecords) {
  COverlayDesc ov;
  ov.head = Head(0.25f);
  ov.fFile = FSSpec{-999, -999, CStr63_AC("Ring.png")};
  ov.fCategory = "FRAMES";
  ov.fOverlayFlag1 = 1;
  {
    CBufferStream_AC s;
    Begin(s, "TFileOverlayObject", ov.head, kFileOverlayObjectType);
    s.WriteUInt8(1);
    Spec(s, ov.fFile);
    s.WriteFixedPascalString(ov.fCategory);
    s.WriteUInt8(1);
    Spec(s, FSSpec{3, 44, CStr63_AC("only in streams")});
    Zeros(s, 6 + 1017);
    auto o = ReadBack(s);
    auto* overlay = dynamic_cast<TFileOverlayObject*>(o.get());
    ASSERT_TRUE(overlay);
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TFileOverlayObject::New(ov)));
    EXPECT_EQ(overlay->Mode(), 2);  // derived from the first flag, as New does
  }
  {
    CGroupPhotoDesc g;
    g.head = Head(2.0f);
    g.fFile = FSSpec{-999, -999, CStr63_AC("Team.jpg")};
    g.fCategory = "EQUIPE";
    CBufferStream_AC s;
    Begin(s, "TGroupPhotoObject", g.head, kGroupPhotoObjectType);
    s.WriteUInt8(1);
    Spec(s, g.fFile);
    s.WriteFixedPascalString(g.fCategory);
    Zeros(s, 1023);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TGroupPhotoObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TGroupPhotoObject::New(g)));
  }
  {
    CBackColorDesc b;
    b.head = Head(0);
    b.fColor = RGBColor{0xFFFF, 0x8000, 0x0101};
    CBufferStream_AC s;
    Begin(s, "TBackColorObject", b.head, kBackColorObjectType);
    for (uint16_t v : {b.fColor.red, b.fColor.green, b.fColor.blue}) s.WriteUInt16(v);
    Zeros(s, 1024);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TBackColorObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TBackColorObject::New(b)));
  }
  {
    CAttributeDesc a;
    a.head = Head(0);
    a.SubjobResizeMode = 1;
    a.SaveCKTemplateAsIs = 1;
    CBufferStream_AC s;
    Begin(s, "TAttributeObject", a.head, kAttributeObjectType);
    s.WriteUInt16(1);
    s.WriteUInt16(1);
    Zeros(s, 1022);
    auto o = ReadBack(s);
    ASSERT_TRUE(dynamic_cast<TAttributeObject*>(o.get()));
    EXPECT_EQ(RecordBytes(*o), RecordBytes(*TAttributeObject::New(a)));
  }
  {
    // The overlay base reads its switch, settings and reserved bytes.
    CBufferStream_AC s;
    Begin(s, "TOverlayObject", ov.head, kOverlayObjectType);
    Zeros(s, 1 + 150 + 1024);
    auto o = ReadBack(s);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->TypeCode(), kOverlayObjectType);
    EXPECT_EQ(o->Width(), 2.5f);
  }
}

TEST_F(StreamedObjects, FileOverlayAndAttributeWriteWhatTheyRead) {
  COverlayDesc ov;
  ov.head = Head(1.5f);
  ov.fFile = FSSpec{-999, -999, CStr63_AC("Glass.png")};
  ov.fCategory = "Frames";
  CAttributeDesc a;
  a.head = Head(0.5f);
  a.SubjobResizeMode = 1;
  a.IgnoreOverlays = 1;  // not streamed
  const auto overlay = TFileOverlayObject::New(ov);
  const auto attribute = TAttributeObject::New(a);

  CBufferStream_AC s;
  host::WriteStreamedObject(s, overlay.get());
  host::WriteStreamedObject(s, attribute.get());
  host::WriteStreamedObject(s, nullptr);
  EXPECT_EQ(s.GetLength(), (1 + 18 + 36 + 1 + 70 + 32 + 1 + 70 + 6 + 1017) + (1 + 16 + 36 + 4 + 1022) + 1);
  s.SetPosition(0);
  auto o1 = host::ReadStreamedObject(s);
  auto o2 = host::ReadStreamedObject(s);
  EXPECT_EQ(host::ReadStreamedObject(s), nullptr);
  EXPECT_EQ(s.BytesLeft(), 0u);
  EXPECT_EQ(RecordBytes(dynamic_cast<TLayoutObject&>(*o1)), RecordBytes(*overlay));
  CAttributeDesc streamed = a;
  streamed.IgnoreOverlays = 0;
  EXPECT_EQ(RecordBytes(dynamic_cast<TLayoutObject&>(*o2)), RecordBytes(*TAttributeObject::New(streamed)));
}

TEST_F(StreamedObjects, NodeReadsItsChildrenAsStreamedObjects) {
  CNodeDesc n;
  n.head = Head(0.2f);
  n.fFile = FSSpec{1, 2, CStr63_AC("child.trpr")};
  n.fNodeMode = 2;
  n.fNodeValue = 9;
  n.fNodeMirror = 1;
  n.fNodeSepia = 1;
  n.fNodeCopyPage = 0;
  n.fNodeTone = 3;
  CBackColorDesc b;
  b.head = Head(0);
  b.fColor = RGBColor{0, 0, 0xFFFF};
  CAttributeDesc a;
  a.head = Head(0);
  a.SaveCKTemplateAsIs = 1;
  auto record = TNodeViewObject::New(n);
  record->AddChild(TBackColorObject::New(b));
  record->AddChild(TAttributeObject::New(a));

  auto nodeStream = [&](uint32_t count, bool nested) {
    auto s = std::make_unique<CBufferStream_AC>();
    Begin(*s, "TNodeViewObject", n.head, kNodeObjectType);
    Spec(*s, n.fFile);
    s->WriteUInt16(n.fNodeMode);
    s->WriteUInt16(n.fNodeValue);
    Spec(*s, FSSpec{});
    s->WriteUInt8(1); s->WriteUInt8(0); s->WriteUInt8(1);
    s->WriteUInt16(n.fNodeCopyPage);
    s->WriteInt16(n.fNodeTone);
    Zeros(*s, 1018);
    s->WriteUInt32(count);
    Begin(*s, "TBackColorObject", b.head, kBackColorObjectType);
    for (uint16_t v : {b.fColor.red, b.fColor.green, b.fColor.blue}) s->WriteUInt16(v);
    Zeros(*s, 1024);
    s->WriteUInt8(0);  // an empty entry adds no child
    host::WriteStreamedObject(*s, record->Children()->at(1).get());
    if (nested) Begin(*s, "TNodeViewObject", n.head, kNodeObjectType);
    return s;
  };

  auto s = nodeStream(3, false);
  auto o = ReadBack(*s);
  auto* node = dynamic_cast<TNodeViewObject*>(o.get());
  ASSERT_TRUE(node);
  ASSERT_TRUE(node->Children());
  EXPECT_EQ(node->Children()->size(), 2u);
  EXPECT_EQ(node->CopyPage(), 1);
  EXPECT_EQ(node->Mode(), 2);
  EXPECT_EQ(RecordBytes(*o), RecordBytes(*record));

  // Nodes do not nest; a count the stream cannot hold fails before reading.
  auto nested = nodeStream(4, true);
  nested->SetPosition(0);
  try {
    host::ReadStreamedObject(*nested);
    ADD_FAILURE() << "a node inside a node was read";
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), paramErr);
  }
  auto tooMany = nodeStream(0x7FFFFFFF, false);
  tooMany->SetPosition(0);
  try {
    host::ReadStreamedObject(*tooMany);
    ADD_FAILURE() << "an impossible child count was accepted";
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), eofErr);
  }
  // After a failed read, a node reads again normally.
  auto again = nodeStream(3, false);
  EXPECT_TRUE(ReadBack(*again));
}

TEST_F(StreamedObjects, UnknownClassesAndShortStreamsFail) {
  CBufferStream_AC unknown;
  unknown.WritePascalBytes("TMysteryObject");
  Zeros(unknown, 40);
  unknown.SetPosition(0);
  try {
    host::ReadStreamedObject(unknown);
    ADD_FAILURE();
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), paramErr);
  }

  CBufferStream_AC shortText;
  Begin(shortText, "TTextObject", Head(0), kTextObjectType);
  Zeros(shortText, 256 + 14 + 2 + 1000);  // 22 bytes short of its reserved run
  shortText.SetPosition(0);
  try {
    host::ReadStreamedObject(shortText);
    ADD_FAILURE();
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), eofErr);
  }
}
