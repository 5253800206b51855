// Descriptor layouts against their stored offsets, and every descriptor
// through an object's WriteTo and back through the record reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "layout/Descriptors.h"
#include "layout/Objects.h"

using namespace layout;

namespace {

struct CollectingReporter : TReadReporter {
  std::vector<std::string> logs, messages;
  void Log(std::string_view t) override { logs.emplace_back(t); }
  void OperatorMessage(std::string_view t) override { messages.emplace_back(t); }
};

tLayoutInfo SampleHead() {
  tLayoutInfo h;
  h.fBounds = CLongRect_AC(1, 2, 300, 400);
  h.fLeft = 0.5f; h.fTop = 1.25f; h.fWidth = 2.0f; h.fHeight = 3.0f;
  return h;
}

template <typename D>
std::vector<uint8_t> Bytes(const D& d) { return EncodeRecord(d); }

uint16_t U16At(const std::vector<uint8_t>& b, size_t off) { return LoadU16BE(b.data() + off); }

std::unique_ptr<TLayoutObject> ReadBack(const std::vector<uint8_t>& record, ERecordList list = ERecordList::kMain) {
  CollectingReporter r;
  TJobStream s(record);
  auto obj = ReadObjectRecord(s, list, r);
  EXPECT_EQ(s.Remaining(), 0u);
  return obj;
}

std::vector<uint8_t> RecordBytes(const TLayoutObject& o) {
  TJobWriter w;
  o.WriteTo(w);
  return w.Bytes();
}

}  // namespace

TEST(Descriptors, LayoutsMatchTheirStoredSizes) {
  EXPECT_EQ(LayoutSize<tLayoutInfo>(), 160u);
  EXPECT_EQ(LayoutSize<CImageDesc>(), CImageDesc::kStoredSize);
  EXPECT_EQ(LayoutSize<CTextDesc>(), 438u);
  EXPECT_EQ(LayoutSize<CEditTextDesc>(), 438u);
  EXPECT_EQ(LayoutSize<CDatabaseDesc>(), 436u);
  EXPECT_EQ(LayoutSize<CStampDesc>(), 456u);
  EXPECT_EQ(LayoutSize<COverlayDesc>(), 270u);
  EXPECT_EQ(LayoutSize<CGroupPhotoDesc>(), 264u);
  EXPECT_EQ(LayoutSize<CNodeDesc>(), 244u);
  EXPECT_EQ(LayoutSize<CBackColorDesc>(), 168u);
  EXPECT_EQ(LayoutSize<CAttributeDesc>(), 168u);
}

TEST(Descriptors, FieldsSitAtTheirStoredOffsets) {
  CImageDesc img;
  img.head = SampleHead();
  img.fFile.vRefNum = -3;
  img.fFile.name = "photo.jpg";
  img.fRotation = 90.0f;
  img.fColorAdjust.gamma = 7;
  img.fGraphicName = "frame";
  img.fHasChromaKey = 1;
  img.fBorderColor = RGBColor{0x1234, 0, 0};
  img.fAngleDirection = 2;
  img.fCropBounds = {1, 2, 3, 4.5f};
  img.fBoxScale = 3;
  auto b = Bytes(img);
  EXPECT_EQ(LoadU32BE(b.data() + 4), 2u);  // bounds: top, left, ...
  EXPECT_EQ(BitsToFloat(LoadU32BE(b.data() + 16)), 0.5f);
  EXPECT_EQ(U16At(b, 162), 0xFFFD);
  EXPECT_EQ(b[168], 9);  // name length byte
  EXPECT_EQ(BitsToFloat(LoadU32BE(b.data() + 232)), 90.0f);
  EXPECT_EQ(U16At(b, 252), 7);
  EXPECT_EQ(b[286], 5);
  EXPECT_EQ(b[CImageDesc::kChromaKeyFlagOffset], 1);
  EXPECT_EQ(U16At(b, 324), 0x1234);
  EXPECT_EQ(U16At(b, 340), 2);
  EXPECT_EQ(BitsToFloat(LoadU32BE(b.data() + 356)), 4.5f);
  EXPECT_EQ(U16At(b, 360), 3);

  CTextDesc t;
  t.fTextInfo.just = -1;
  t.fTextOption4 = 2;
  auto tb = Bytes(t);
  EXPECT_EQ(U16At(tb, 428), 0xFFFF);
  EXPECT_EQ(U16At(tb, 436), 2);

  CStampDesc st;
  st.fStampOption[5] = 6;
  st.fStampValue = 1;
  st.fStampOption7 = 7;
  st.fStampOption8 = 8;
  auto sb = Bytes(st);
  EXPECT_EQ(U16At(sb, 440), 6);
  EXPECT_EQ(U16At(sb, 448), 1);
  EXPECT_EQ(U16At(sb, 452), 7);
  EXPECT_EQ(U16At(sb, 454), 8);

  COverlayDesc ov;
  ov.fFile.parID = 0x01020304;
  ov.fOverlayFlag2 = 9;
  ov.fOverlayMode = 4;
  ov.fOverlayValue = 5;
  auto ob = Bytes(ov);
  EXPECT_EQ(LoadU32BE(ob.data() + 162), 0x01020304u);
  EXPECT_EQ(ob[264], 9);
  EXPECT_EQ(U16At(ob, 266), 4);
  EXPECT_EQ(U16At(ob, 268), 5);

  CNodeDesc nd;
  nd.fNodeCopyPage = 0;
  nd.fNodeTone = -2;
  auto nb = Bytes(nd);
  EXPECT_EQ(U16At(nb, 242), 0xFFFE);

  CAttributeDesc at;
  at.SubjobResizeMode = 1; at.SaveCKTemplateAsIs = 2; at.IgnoreOverlays = 3; at.SaveOriginal = 4;
  auto ab = Bytes(at);
  EXPECT_EQ(U16At(ab, 160), 1);
  EXPECT_EQ(U16At(ab, 166), 4);
}

TEST(Descriptors, EveryObjectRoundTripsThroughWriteToAndTheReader) {
  CImageDesc img; img.head = SampleHead(); img.fFile.name = "a.jpg"; img.fAngle = 45;
  CTextDesc txt; txt.head = SampleHead(); txt.fText = "Hello ƒ"; txt.fTextOption4 = 1;
  CEditTextDesc edt; edt.head = SampleHead(); edt.fText = "Edit";
  CDatabaseDesc db; db.head = SampleHead(); db.fText = "db"; db.fTextOption3 = 3;
  CStampDesc stp; stp.head = SampleHead(); stp.fStampOption7 = 77; stp.fStampBytes = {1, 2, 3, 4, 5, 6};
  COverlayDesc ovl; ovl.head = SampleHead(); ovl.fCategory = "Frames"; ovl.fOverlayMode = 2;
  CGroupPhotoDesc grp; grp.head = SampleHead(); grp.fGroupValue = 12;
  CBackColorDesc bk; bk.head = SampleHead(); bk.fColor = {1, 2, 3}; bk.fSkipForPrintToFileSet = 1;
  CAttributeDesc atr; atr.head = SampleHead(); atr.IgnoreOverlays = 1;
  CNodeDesc node; node.head = SampleHead(); node.fNodeMode = 1; node.fNodeMirror = 1;

  std::vector<std::unique_ptr<TLayoutObject>> objects;
  objects.push_back(TImageObject::New(img));
  objects.push_back(TTextObject::New(txt));
  objects.push_back(TEditTextObject::New(edt));
  objects.push_back(TDatabaseObject::New(db));
  objects.push_back(TStampObject::New(stp));
  objects.push_back(TFileOverlayObject::New(ovl));
  objects.push_back(TTransparentOverlayObject::New(ovl));
  objects.push_back(TGroupPhotoObject::New(grp));
  objects.push_back(TBackColorObject::New(bk));
  objects.push_back(TAttributeObject::New(atr));
  auto n = TNodeViewObject::New(node);
  n->AddChild(TTextObject::New(txt));
  objects.push_back(std::move(n));

  for (const auto& o : objects) {
    SCOPED_TRACE(FourCCToString(o->TypeCode()));
    const auto record = RecordBytes(*o);
    auto back = ReadBack(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->TypeCode(), o->TypeCode());
    EXPECT_EQ(back->Left(), 0.5f);
    EXPECT_EQ(back->Height(), 3.0f);
    CLongRect_AC bounds;
    back->GetBounds(bounds);
    EXPECT_EQ(bounds, CLongRect_AC(1, 2, 300, 400));
    EXPECT_EQ(back->BoundsResolution(), 72);
    EXPECT_EQ(RecordBytes(*back), record);
  }
}

TEST(Descriptors, ImageWithChromaKeyCarriesItsBlockUnconverted) {
  CImageDesc img;
  img.fHasChromaKey = 1;
  auto obj = TImageObject::New(img);
  // Stored bytes with a recognisable pattern in the coefficient block and
  // the carried tail.
  auto fresh = std::make_unique<tChromaKeySettings>();
  auto stored = EncodeChromaKeySettings(*fresh);
  stored[0] = 0x00; stored[1] = 0x00; stored[2] = 0x80; stored[3] = 0x3F;  // center_r 1.0, little-endian
  stored[11443] = 0x5A;
  auto settings = std::make_unique<tChromaKeySettings>();
  ASSERT_EQ(TChromaKeySettings::ReadFrom(stored.data(), stored.size(), settings.get()), noErr);
  EXPECT_EQ(settings->para.center_r, 1.0f);
  obj->SetChromaKeySettings(*settings);
  auto record = RecordBytes(*obj);
  EXPECT_EQ(record.size(), 44 + CImageDesc::kStoredSize + kChromaKeySettingsSize);
  auto back = ReadBack(record);
  auto* image = static_cast<TImageObject*>(back.get());
  ASSERT_TRUE(image->HasChromaKeySettings());
  EXPECT_EQ(EncodeChromaKeySettings(*image->ChromaKeySettings()), stored);
  // A copy owns its own block.
  auto copy = image->Clone();
  EXPECT_EQ(EncodeChromaKeySettings(*static_cast<TImageObject&>(*copy).ChromaKeySettings()), stored);
  EXPECT_EQ(RecordBytes(*copy), record);
}

TEST(RecordReader, ShortLongAndUnknownRecords) {
  // A short record: the rest of the descriptor keeps its defaults.
  CTextDesc txt;
  txt.fText = "abc";
  txt.fTextOption4 = 9;
  auto record = RecordBytes(*TTextObject::New(txt));
  const uint32_t shortSize = 200;
  StoreU32BE(record.data() + 40, shortSize);
  record.resize(44 + shortSize);
  auto back = ReadBack(record);
  EXPECT_EQ(static_cast<TTextObject&>(*back).Descriptor().fTextOption4, 0);

  // A record larger than its descriptor's capacity: the excess is skipped.
  CBackColorDesc bk;
  bk.fColor = {10, 20, 30};
  auto big = RecordBytes(*TBackColorObject::New(bk));
  StoreU32BE(big.data() + 40, 168 + 100);
  big.insert(big.end(), 100, 0xEE);
  auto follow = RecordBytes(*TTextObject::New(txt));
  big.insert(big.end(), follow.begin(), follow.end());
  CollectingReporter r;
  TJobStream s(big);
  auto first = ReadObjectRecord(s, ERecordList::kMain, r);
  EXPECT_EQ(static_cast<TBackColorObject&>(*first).Descriptor().fColor, (RGBColor{10, 20, 30}));
  auto second = ReadObjectRecord(s, ERecordList::kMain, r);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->TypeCode(), kTextObjectType);
  EXPECT_EQ(s.Remaining(), 0u);

  // 'ovly' is not made from a job file: 5,000 bytes skipped with both messages.
  std::vector<uint8_t> unknown(44 + 5000, 0x11);
  StoreU32BE(unknown.data() + 4, kOverlayObjectType);
  StoreU32BE(unknown.data() + 40, 5000);
  unknown.insert(unknown.end(), follow.begin(), follow.end());
  CollectingReporter r2;
  TJobStream s2(unknown);
  EXPECT_EQ(ReadObjectRecord(s2, ERecordList::kMain, r2), nullptr);
  ASSERT_EQ(r2.messages.size(), 2u);
  EXPECT_EQ(r2.messages[0], "Unknown Object; object will be ignored…");
  EXPECT_EQ(r2.messages[1], "Object type is: [0x6f766c79] with size [0x1388]");
  EXPECT_EQ(r2.logs[0], "TBGPrintView=> classID.type = [ovly] [0x6f766c79] [1870031993]\n");
  EXPECT_EQ(r2.logs[1], "TBGPrintView=> classSize = [0x1388] [5000]\n");
  ASSERT_TRUE(ReadObjectRecord(s2, ERecordList::kMain, r2));

  // A record running past the end of the file fails the read.
  std::vector<uint8_t> cut(record.begin(), record.begin() + 60);
  TJobStream s3(cut);
  EXPECT_THROW(ReadObjectRecord(s3, ERecordList::kMain, r2), TJobReadError);
}

TEST(RecordReader, NodeChildrenAreReadAndNodesDoNotNest) {
  CNodeDesc nd;
  nd.fNodeMode = 2;
  nd.fNodeCopyPage = 0;
  auto node = TNodeViewObject::New(nd);
  EXPECT_EQ(node->CopyPage(), 1);
  EXPECT_EQ(node->Mode(), 2);
  CImageDesc img;
  img.fFile.name = "x.jpg";
  // The node's record, then its four children: a text, a node (which is
  // skipped whole as an unknown record: nodes do not nest), an image and an
  // attribute.
  TJobWriter w;
  WriteDescriptorRecord(w, kNodeObjectType, nd);
  w.WriteU32(4);
  TTextObject::New(CTextDesc{})->WriteTo(w);
  WriteDescriptorRecord(w, kNodeObjectType, nd);
  TImageObject::New(img)->WriteTo(w);
  TAttributeObject::New(CAttributeDesc{})->WriteTo(w);
  const auto record = w.Bytes();
  CollectingReporter r;
  TJobStream s(record);
  auto back = ReadObjectRecord(s, ERecordList::kMain, r);
  EXPECT_EQ(s.Remaining(), 0u);
  auto& n = static_cast<TNodeViewObject&>(*back);
  ASSERT_TRUE(n.Children());
  ASSERT_EQ(n.Children()->size(), 3u);
  ASSERT_TRUE(n.GetImageObjectFromNode());
  EXPECT_EQ(n.GetImageObjectFromNode()->Descriptor().fFile.name, "x.jpg");
  EXPECT_EQ(r.messages.size(), 2u);  // the nested node's two messages
  EXPECT_NE(std::find(r.logs.begin(), r.logs.end(),
                      "TNodeViewObject::DoNewReadObjects=> classID.type = [node] [0x6e6f6465] [1852793957]\n"),
            r.logs.end());

  auto empty = TNodeViewObject::New(nd);
  EXPECT_FALSE(empty->HasNoObjects());
  auto emptyRecord = RecordBytes(*empty);
  EXPECT_TRUE(static_cast<TNodeViewObject&>(*ReadBack(emptyRecord)).HasNoObjects());
}

TEST(ObjectBox, TruncatesSinglePrecisionProducts) {
  EXPECT_EQ(ObjectBox(1.0f, 0.5f, 2.0f, 3.0f, 300), CRect_AC(150, 300, 1050, 900));
  // dpi × (left + width) just under 900 truncates to 899.
  const float width = 2.9996666f;
  ASSERT_LT(300.0f * (0.0f + width), 900.0f);
  EXPECT_EQ(ObjectBox(0.0f, 0.0f, width, 1.0f, 300).right, 899);
  EXPECT_EQ(ObjectBox(-0.5f, 0, 1, 1, 3).left, -1);
  // Far outside the 16-bit range, or not a number: clamped, never undefined.
  EXPECT_EQ(ObjectBox(1e9f, 0, 1, 1, 300).left, 32767);
  EXPECT_EQ(ObjectBox(std::nanf(""), 0, 1, 1, 300).left, 0);
}
