// The streamed form of the layout objects and their registration by class
// name. Job files carry objects as descriptor records (Objects.cpp); the
// streamed form is the framework's own: each class reads its fields in a
// fixed order, numbers in the stream's byte order, strings as their full
// fixed-size fields, followed by a run of bytes the class reserves and skips.
// Every object read this way ends up with the same descriptor as one made by
// its class's New from a record holding the same values, so it draws and
// writes its job-file record the same way.
#include <array>
#include <vector>

#include "chromakey/ChromaKeySettings.h"
#include "layout/Objects.h"

namespace layout {

namespace {

// The runs of reserved bytes each class skips after its fields.
constexpr size_t kImageTail = 871;
constexpr size_t kTextTail = 1022;
constexpr size_t kStampTail = 1020;
constexpr size_t kOverlayTail = 1024;
constexpr size_t kFileOverlayTail = 1017;
constexpr size_t kGroupPhotoTail = 1023;
constexpr size_t kNodeTail = 1018;
constexpr size_t kBackColorTail = 1024;
constexpr size_t kAttributeTail = 1022;

// The overlay settings record that streams carry for every overlay (150 bytes).
constexpr size_t kOverlaySettingsSize = 150;
// The part of the chroma-key settings that an image streams: the engine's
// coefficient block.
constexpr size_t kCoefficientBlockSize = 10864;

FSSpec ReadSpec(CStream_AC* s) {
  FSSpec f;
  f.vRefNum = s->ReadInt16();
  f.parID = s->ReadInt32();
  s->ReadFixedPascalString(f.name);
  return f;
}

void WriteSpec(CStream_AC* s, const FSSpec& f) {
  s->WriteInt16(f.vRefNum);
  s->WriteInt32(f.parID);
  s->WriteFixedPascalString(f.name);
}

RGBColor ReadColor(CStream_AC* s) {
  RGBColor c;
  c.red = s->ReadUInt16();
  c.green = s->ReadUInt16();
  c.blue = s->ReadUInt16();
  return c;
}

tTextInfo ReadStyle(CStream_AC* s) {
  tTextInfo t;
  t.color = ReadColor(s);
  t.size = s->ReadInt16();
  t.font = s->ReadInt16();
  t.face = s->ReadInt16();
  t.just = s->ReadInt16();
  return t;
}

tJunkMaskStructure ReadJunkMask(CStream_AC* s) {
  tJunkMaskStructure m;
  m.rect.top = s->ReadInt16();
  m.rect.left = s->ReadInt16();
  m.rect.bottom = s->ReadInt16();
  m.rect.right = s->ReadInt16();
  m.value = s->ReadUInt32();
  return m;
}

void Skip(CStream_AC* s, size_t count) { s->Skip(int64_t(count)); }

void WriteZeros(CStream_AC* s, size_t count) {
  const std::vector<uint8_t> zeros(count, 0);
  s->WriteBytes(zeros.data(), zeros.size());
}

uint16_t Switch(uint8_t stored) { return stored != 0 ? 1 : 0; }

// True while a node reads its children, so that a node among them is refused
// before it reads anything (and before any recursion).
thread_local bool tReadingNodeChildren = false;

}  // namespace

// ---- base

void TLayoutObject::ReadFrom(CStream_AC* stream) {
  fBounds.top = stream->ReadInt32();
  fBounds.left = stream->ReadInt32();
  fBounds.bottom = stream->ReadInt32();
  fBounds.right = stream->ReadInt32();
  fTypeCode = stream->ReadUInt32();
  fLeft = stream->ReadFloat32();
  fTop = stream->ReadFloat32();
  fWidth = stream->ReadFloat32();
  fHeight = stream->ReadFloat32();
}

void TLayoutObject::WriteBaseTo(CStream_AC* stream) const {
  stream->WriteInt32(fBounds.top);
  stream->WriteInt32(fBounds.left);
  stream->WriteInt32(fBounds.bottom);
  stream->WriteInt32(fBounds.right);
  stream->WriteUInt32(fTypeCode);
  stream->WriteFloat32(fLeft);
  stream->WriteFloat32(fTop);
  stream->WriteFloat32(fWidth);
  stream->WriteFloat32(fHeight);
}

// ---- image

void TImageObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  fDesc.fCropToFill = stream->ReadInt16();
  fDesc.fFile = ReadSpec(stream);
  fDesc.fRotation = stream->ReadFloat32();
  fDesc.fOffset.v = stream->ReadInt16();
  fDesc.fOffset.h = stream->ReadInt16();
  fDesc.fInsetAmount = stream->ReadInt16();
  myImageColorAdjustInfo& c = fDesc.fColorAdjust;
  for (int16_t* v : {&c.red, &c.green, &c.blue, &c.dark, &c.light, &c.gamma}) *v = stream->ReadInt16();
  stream->ReadFixedPascalString(fDesc.fGraphicCategory);
  stream->ReadFixedPascalString(fDesc.fGraphicName);
  bool keyed = stream->ReadUInt8() != 0;
  // Values a stream may hold that drawing cannot use fall back to safe ones.
  fDesc.fBorder = stream->ReadInt16();
  if (fDesc.fBorder != 0 && fDesc.fBorder != 1) fDesc.fBorder = 0;
  fDesc.fBorderWidth = stream->ReadInt16();
  if (fDesc.fBorderWidth > 25) fDesc.fBorderWidth = 3;
  fDesc.fBorderColor = ReadColor(stream);
  fDesc.fFreeRotate = stream->ReadInt16();
  fDesc.fAngle = stream->ReadInt16();
  fDesc.fAngleDirection = stream->ReadInt16();
  std::array<tJunkMaskStructure, 4> junkMasks;
  for (auto& m : junkMasks) m = ReadJunkMask(stream);
  Skip(stream, kImageTail);
  fDesc.fImageSize = stream->ReadInt16();

  fChromaKey.reset();
  if (keyed) {
    // The coefficient block and the keying values are read together; a
    // stream that ends inside them is put back and the photo is not keyed.
    const uint64_t start = stream->GetPosition();
    try {
      std::array<uint8_t, tChromaKeySettings::kStoredSize> record{};
      stream->ReadBytes(record.data(), kCoefficientBlockSize);
      auto settings = std::make_unique<tChromaKeySettings>();
      if (!DecodeChromaKeySettings(record.data(), record.size(), *settings)) Throw_AC(paramErr);
      settings->inwardFlag = stream->ReadInt16();
      settings->defocusValue = stream->ReadInt16();
      settings->shrinkValue = stream->ReadFloat32();
      settings->junkMask = ReadJunkMask(stream);
      for (size_t i = 0; i < junkMasks.size(); ++i) settings->junkMaskList[i] = junkMasks[i];
      gInwardFlag = settings->inwardFlag;
      gDefocusValue = settings->defocusValue;
      gShrinkValue = settings->shrinkValue;
      gExclusionMaskRect = settings->junkMask;
      fChromaKey = std::move(settings);
    } catch (const CException_AC&) {
      stream->SetPosition(start);
      keyed = false;
    }
  }
  fDesc.fHasChromaKey = keyed ? 1 : 0;
}

// ---- text family

void TTextObject::ReadTextFields(CStream_AC* stream, bool ownValue) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  stream->ReadFixedPascalString(fDesc.fText);
  fDesc.fTextInfo = ReadStyle(stream);
  fDesc.fTextOption1 = stream->ReadInt16();
  if (ownValue) fDesc.fTextOption2 = stream->ReadInt16();
  Skip(stream, kTextTail);
}

void TTextObject::ReadFrom(CStream_AC* stream) { ReadTextFields(stream, false); }

void TEditTextObject::ReadFrom(CStream_AC* stream) { ReadTextFields(stream, true); }

void TDatabaseObject::ReadFrom(CStream_AC* stream) {
  ReadTextFields(stream, true);
  fDbDesc.head = fDesc.head;
  fDbDesc.fText = fDesc.fText;
  fDbDesc.fTextInfo = fDesc.fTextInfo;
  fDbDesc.fTextOption1 = fDesc.fTextOption1;
  fDbDesc.fTextOption2 = fDesc.fTextOption2;
  fDesc.fTextOption3 = fDbDesc.fTextOption3;
}

// ---- stamp

void TStampObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  fDesc.fTextInfo = ReadStyle(stream);
  fDesc.fStampOption[1] = stream->ReadUInt16();
  stream->ReadFixedPascalString(fDesc.fText);
  fDesc.fStampOption[0] = stream->ReadUInt16();
  fDesc.fStampOption[2] = Switch(stream->ReadUInt8());
  fDesc.fStampOption[3] = Switch(stream->ReadUInt8());
  Skip(stream, kStampTail);
}

// ---- overlays

void TOverlayObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  (void)stream->ReadUInt8();
  Skip(stream, kOverlaySettingsSize);
  Skip(stream, kOverlayTail);
}

void TFileOverlayObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  (void)stream->ReadUInt8();
  fDesc.fFile = ReadSpec(stream);
  fFile = fDesc.fFile;
  stream->ReadFixedPascalString(fDesc.fCategory);
  fDesc.fOverlayFlag1 = Switch(stream->ReadUInt8());
  (void)ReadSpec(stream);
  (void)ReadColor(stream);
  Skip(stream, kFileOverlayTail);
  SetOverlay(fDesc);
}

void TFileOverlayObject::WriteTo(CStream_AC* stream) const {
  WriteBaseTo(stream);
  stream->WriteUInt8(1);
  WriteSpec(stream, fFile);
  stream->WriteFixedPascalString(fDesc.fCategory);
  stream->WriteUInt8(fDesc.fOverlayFlag1 != 0 ? 1 : 0);
  WriteSpec(stream, FSSpec{-999, -999, CStr63_AC()});
  for (int i = 0; i < 3; ++i) stream->WriteUInt16(0);
  WriteZeros(stream, kFileOverlayTail);
}

void TTransparentOverlayObject::ReadFrom(CStream_AC* stream) {
  TOverlayObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
}

void TGroupPhotoObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  (void)stream->ReadUInt8();
  fDesc.fFile = ReadSpec(stream);
  fFile = fDesc.fFile;
  stream->ReadFixedPascalString(fDesc.fCategory);
  Skip(stream, kGroupPhotoTail);
}

// ---- node

void TNodeViewObject::ReadFrom(CStream_AC* stream) {
  if (tReadingNodeChildren) Throw_AC(paramErr, "a node inside a node");
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  fDesc.fFile = ReadSpec(stream);
  fDesc.fNodeMode = stream->ReadUInt16();
  fDesc.fNodeValue = stream->ReadUInt16();
  (void)ReadSpec(stream);
  fDesc.fNodeMirror = Switch(stream->ReadUInt8());
  fDesc.fNodeColor = Switch(stream->ReadUInt8());
  fDesc.fNodeSepia = Switch(stream->ReadUInt8());
  fDesc.fNodeCopyPage = stream->ReadUInt16();
  fDesc.fNodeTone = stream->ReadInt16();
  Skip(stream, kNodeTail);
  fMode = fDesc.fNodeMode;
  fValue = fDesc.fNodeValue;
  fCopyPage = 1;  // a node always starts from a copy of the page under its box

  // Every streamed object takes at least its class name's length byte, so a
  // count beyond the bytes left cannot be right.
  const uint32_t count = stream->ReadUInt32();
  if (count > stream->BytesLeft()) Throw_AC(eofErr, "more children than the stream can hold");
  auto children = std::make_unique<TLayoutObjectList>();
  struct Guard {
    Guard() { tReadingNodeChildren = true; }
    ~Guard() { tReadingNodeChildren = false; }
  } guard;
  for (uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<MStreamable_AC> object = host::ReadStreamedObject(*stream);
    if (!object) continue;
    auto* child = dynamic_cast<TLayoutObject*>(object.get());
    if (!child) Throw_AC(paramErr, "a node child that is no layout object");
    object.release();
    children->push_back(std::unique_ptr<TLayoutObject>(child));
  }
  fChildren = std::move(children);
}

// ---- background colour and attribute

void TBackColorObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  fDesc.fColor = ReadColor(stream);
  Skip(stream, kBackColorTail);
}

void TAttributeObject::ReadFrom(CStream_AC* stream) {
  TLayoutObject::ReadFrom(stream);
  CopyBaseToHead(fDesc.head);
  fDesc.SubjobResizeMode = stream->ReadUInt16();
  fDesc.SaveCKTemplateAsIs = stream->ReadUInt16();
  Skip(stream, kAttributeTail);
}

void TAttributeObject::WriteTo(CStream_AC* stream) const {
  WriteBaseTo(stream);
  stream->WriteUInt16(fDesc.SubjobResizeMode);
  stream->WriteUInt16(fDesc.SaveCKTemplateAsIs);
  WriteZeros(stream, kAttributeTail);
}

// ---- registry

void RegisterLayoutObjectClasses() {
  host::RegisterStreamableClass<TAttributeObject>("TAttributeObject");
  host::RegisterStreamableClass<TDatabaseObject>("TDatabaseObject");
  host::RegisterStreamableClass<TGroupPhotoObject>("TGroupPhotoObject");
  host::RegisterStreamableClass<TBackColorObject>("TBackColorObject");
  host::RegisterStreamableClass<TFileOverlayObject>("TFileOverlayObject");
  host::RegisterStreamableClass<TNodeViewObject>("TNodeViewObject");
  host::RegisterStreamableClass<TStampObject>("TStampObject");
  host::RegisterStreamableClass<TTextObject>("TTextObject");
  host::RegisterStreamableClass<TEditTextObject>("TEditTextObject");
  host::RegisterStreamableClass<TOverlayObject>("TOverlayObject");
  host::RegisterStreamableClass<TImageObject>("TImageObject");
}

}  // namespace layout
