#include "layout/Objects.h"

#include <cstdio>
#include <string>

namespace layout {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// One character of a class code for the log; control bytes (a NUL would cut
// the line short) show as '?'.
char CodeChar(OSType code, int shift) {
  const auto c = static_cast<unsigned char>((code >> shift) & 0xFF);
  return c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
}

}  // namespace

// ---- image

TImageObject::TImageObject() {
  fDesc.fFile.vRefNum = -100;
  fDesc.fFile.parID = 0;
}

TImageObject::TImageObject(const TImageObject& o)
    : TLayoutObject(o), fDesc(o.fDesc), fLastSource(o.fLastSource), fLastDest(o.fLastDest) {
  if (o.fChromaKey) fChromaKey = std::make_unique<tChromaKeySettings>(*o.fChromaKey);
}

std::unique_ptr<TImageObject> TImageObject::New(const CImageDesc& d) {
  auto obj = std::make_unique<TImageObject>();
  obj->ILayoutObject(d.head.fBounds, kImageObjectType);
  obj->SetPlacement(d);
  obj->fDesc = d;
  return obj;
}

void TImageObject::WriteTo(TJobWriter& out) const {
  CImageDesc d = fDesc;
  d.fHasChromaKey = fChromaKey ? (d.fHasChromaKey ? d.fHasChromaKey : 1) : 0;
  WriteDescriptorRecord(out, kImageObjectType, d);
  if (fChromaKey) out.WriteBytes(EncodeChromaKeySettings(*fChromaKey));
}

// ---- text family

TTextObject::TTextObject() {
  fDesc.fText = CStr255_AC("test String");
  fDesc.fTextInfo.size = 12;
  fDesc.fTextInfo.font = 3;
}

void TTextObject::ITextObject(const CTextDesc& d, OSType type) {
  ILayoutObject(d.head.fBounds, type);
  SetPlacement(d);
  fDesc = d;
}

std::unique_ptr<TTextObject> TTextObject::New(const CTextDesc& d) {
  auto obj = std::make_unique<TTextObject>();
  obj->ITextObject(d, kTextObjectType);
  return obj;
}

void TTextObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kTextObjectType, fDesc); }

std::unique_ptr<TEditTextObject> TEditTextObject::New(const CEditTextDesc& d) {
  auto obj = std::make_unique<TEditTextObject>();
  obj->ITextObject(d, kEditTextObjectType);
  return obj;
}

void TEditTextObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kEditTextObjectType, fDesc); }

std::unique_ptr<TDatabaseObject> TDatabaseObject::New(const CDatabaseDesc& d) {
  auto obj = std::make_unique<TDatabaseObject>();
  CTextDesc t;
  t.head = d.head;
  t.fText = d.fText;
  t.fTextInfo = d.fTextInfo;
  t.fTextOption1 = d.fTextOption1;
  t.fTextOption2 = d.fTextOption2;
  t.fTextOption3 = d.fTextOption3;
  obj->ITextObject(t, kDatabaseObjectType);
  obj->fDbDesc = d;
  return obj;
}

void TDatabaseObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kDatabaseObjectType, fDbDesc); }

// ---- stamp

TStampObject::TStampObject() {
  fDesc.fTextInfo.size = 12;
  fDesc.fTextInfo.font = 3;
  fDesc.fStampOption[1] = 1;
}

std::unique_ptr<TStampObject> TStampObject::New(const CStampDesc& d) {
  auto obj = std::make_unique<TStampObject>();
  obj->ILayoutObject(d.head.fBounds, kStampObjectType);
  obj->SetPlacement(d);
  obj->fDesc = d;
  return obj;
}

void TStampObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kStampObjectType, fDesc); }

// ---- overlays

void TFileOverlayObject::SetOverlay(const COverlayDesc& d) {
  SetPlacement(d);
  fDesc = d;
  fFile = d.fFile;
  fMode = d.fOverlayMode;
  if (fMode == 0) fMode = d.fOverlayFlag2 != 0 ? 3 : d.fOverlayFlag1 != 0 ? 2 : 1;
}

std::unique_ptr<TFileOverlayObject> TFileOverlayObject::New(const COverlayDesc& d) {
  auto obj = std::make_unique<TFileOverlayObject>();
  obj->ILayoutObject(d.head.fBounds, kFileOverlayObjectType);
  obj->SetOverlay(d);
  return obj;
}

void TFileOverlayObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kFileOverlayObjectType, fDesc); }

std::unique_ptr<TTransparentOverlayObject> TTransparentOverlayObject::New(const COverlayDesc& d) {
  auto obj = std::make_unique<TTransparentOverlayObject>();
  obj->ILayoutObject(d.head.fBounds, kTransparentOverlayObjectType);
  obj->SetOverlay(d);
  return obj;
}

std::unique_ptr<TLayoutObject> TTransparentOverlayObject::Clone() const {
  return std::make_unique<TTransparentOverlayObject>(*this);
}

void TTransparentOverlayObject::WriteTo(TJobWriter& out) const {
  WriteDescriptorRecord(out, kTransparentOverlayObjectType, fDesc);
}

std::unique_ptr<TGroupPhotoObject> TGroupPhotoObject::New(const CGroupPhotoDesc& d) {
  auto obj = std::make_unique<TGroupPhotoObject>();
  obj->ILayoutObject(d.head.fBounds, kGroupPhotoObjectType);
  obj->SetPlacement(d);
  obj->fDesc = d;
  obj->fFile = d.fFile;
  return obj;
}

void TGroupPhotoObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kGroupPhotoObjectType, fDesc); }

// ---- node

TNodeViewObject::TNodeViewObject(const TNodeViewObject& o)
    : TLayoutObject(o), fDesc(o.fDesc), fMode(o.fMode), fValue(o.fValue), fCopyPage(o.fCopyPage) {
  // A copy gets copies of the children, so that each node owns its list.
  if (o.fChildren) {
    fChildren = std::make_unique<TLayoutObjectList>();
    for (const auto& c : *o.fChildren) fChildren->push_back(c->Clone());
  }
}

std::unique_ptr<TLayoutObject> TNodeViewObject::Clone() const { return std::make_unique<TNodeViewObject>(*this); }

std::unique_ptr<TNodeViewObject> TNodeViewObject::New(const CNodeDesc& d) {
  auto obj = std::make_unique<TNodeViewObject>();
  obj->ILayoutObject(d.head.fBounds, kNodeObjectType);
  obj->fMode = 3;
  obj->fValue = 0;
  obj->SetPlacement(d);
  obj->fDesc = d;
  obj->fMode = d.fNodeMode;
  obj->fValue = d.fNodeValue;
  obj->fCopyPage = 1;  // a node always starts from a copy of the page under its box
  return obj;
}

void TNodeViewObject::AddChild(std::unique_ptr<TLayoutObject> child) {
  if (!fChildren) fChildren = std::make_unique<TLayoutObjectList>();
  fChildren->push_back(std::move(child));
}

TImageObject* TNodeViewObject::GetImageObjectFromNode() const {
  if (!fChildren) return nullptr;
  for (const auto& c : *fChildren)
    if (c->TypeCode() == kImageObjectType) return static_cast<TImageObject*>(c.get());
  return nullptr;
}

void TNodeViewObject::DoNewReadObjects(TJobStream& stream, TReadReporter& report) {
  const uint32_t count = stream.ReadU32();
  fChildren = std::make_unique<TLayoutObjectList>();
  // Each child record takes at least 44 bytes, so the loop ends at the end
  // of the file whatever the count says; nothing is allocated from it.
  for (uint32_t i = 0; i < count; ++i) {
    auto child = ReadObjectRecord(stream, ERecordList::kNodeChildren, report);
    if (child) fChildren->push_back(std::move(child));
  }
}

void TNodeViewObject::WriteTo(TJobWriter& out) const {
  CNodeDesc d = fDesc;
  WriteDescriptorRecord(out, kNodeObjectType, d);
  const size_t n = fChildren ? fChildren->size() : 0;
  out.WriteU32(uint32_t(n));
  if (!fChildren) return;
  for (const auto& c : *fChildren) {
    // Nodes do not nest: a node among the children is written as its bare
    // record, which is how a child list carries (and skips) one.
    if (c->TypeCode() == kNodeObjectType)
      WriteDescriptorRecord(out, kNodeObjectType, static_cast<const TNodeViewObject&>(*c).Descriptor());
    else
      c->WriteTo(out);
  }
}

// ---- background colour and attribute

std::unique_ptr<TBackColorObject> TBackColorObject::New(const CBackColorDesc& d) {
  auto obj = std::make_unique<TBackColorObject>();
  obj->ILayoutObject(d.head.fBounds, kBackColorObjectType);
  obj->SetPlacement(d);
  obj->fDesc = d;
  return obj;
}

void TBackColorObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kBackColorObjectType, fDesc); }

std::unique_ptr<TAttributeObject> TAttributeObject::New(const CAttributeDesc& d) {
  auto obj = std::make_unique<TAttributeObject>();
  obj->ILayoutObject(d.head.fBounds, kAttributeObjectType);
  obj->SetPlacement(d);
  obj->fDesc = d;
  return obj;
}

void TAttributeObject::WriteTo(TJobWriter& out) const { WriteDescriptorRecord(out, kAttributeObjectType, fDesc); }

// ---- the factory

const char* ObjectTypeLogName(OSType code) {
  switch (code) {
    case kImageObjectType: return "kImageObjectType";
    case kTextObjectType: return "kTextObjectType";
    case kStampObjectType: return "kStampObjectType";
    case kEditTextObjectType: return "kEditTextObjectType";
    case kFileOverlayObjectType: return "kFileOverlayObjectType";
    case kTransparentOverlayObjectType: return "kTransparentOverlayObjectType";
    case kNodeObjectType: return "kNodeObjectType";
    case kBackColorObjectType: return "kBackColorObjectType";
    case kGroupPhotoObjectType: return "kGroupPhotoObjectType";
    case kDatabaseObjectType: return "kDatabaseObjectType";
    case kAttributeObjectType: return "kAttributeObjectType";
    default: return nullptr;
  }
}

namespace {

// The descriptor of a record: the stored bytes up to the capacity over the
// type's defaults; bytes beyond the capacity were already consumed with the
// record and are dropped.
template <typename D>
D DescriptorOf(std::span<const uint8_t> record) { return ReadDescriptorBytes<D>(record); }

}  // namespace

std::unique_ptr<TLayoutObject> ReadObjectRecord(TJobStream& stream, ERecordList list, TReadReporter& report) {
  auto head = stream.ReadBytes(40);
  const OSType code = LoadU32BE(head.data() + 4);
  const uint32_t size = stream.ReadU32();

  const char* prefix = list == ERecordList::kNodeChildren ? "TNodeViewObject::DoNewReadObjects=> " : "TBGPrintView=> ";
  report.Log(Format("%sclassID.type = [%c%c%c%c] [0x%02x] [%i]\n", prefix, CodeChar(code, 24), CodeChar(code, 16),
                    CodeChar(code, 8), CodeChar(code, 0), unsigned(code), int(code)));
  report.Log(Format("%sclassSize = [0x%02x] [%i]\n", prefix, unsigned(size), int(size)));

  const char* logName = ObjectTypeLogName(code);
  const bool nestedNode = list == ERecordList::kNodeChildren && code == kNodeObjectType;
  if (!logName || nestedNode) {
    report.Log("Found UNKNOWN Object\n");
    report.OperatorMessage("Unknown Object; object will be ignored…");
    report.OperatorMessage(Format("Object type is: [0x%02x] with size [0x%x]", unsigned(code), unsigned(size)));
    stream.Skip(size);
    return nullptr;
  }
  report.Log(Format("Found %s\n", logName));

  // The whole record is taken from the stream at once, so a size beyond the
  // end of the file fails before anything is made.
  auto record = stream.ReadBytes(size);
  switch (code) {
    case kImageObjectType: {
      auto obj = TImageObject::New(DescriptorOf<CImageDesc>(record));
      if (obj->Descriptor().fHasChromaKey != 0) {
        // The block is read whole, as stored (little-endian).
        auto block = stream.ReadBytes(kChromaKeySettingsSize);
        auto settings = std::make_unique<tChromaKeySettings>();
        if (TChromaKeySettings::ReadFrom(block.data(), block.size(), settings.get()) != noErr)
          throw TJobReadError("chroma-key settings unreadable");
        obj->SetChromaKeySettings(*settings);
      }
      return obj;
    }
    case kTextObjectType: return TTextObject::New(DescriptorOf<CTextDesc>(record));
    case kEditTextObjectType: {
      CEditTextDesc d;
      static_cast<CTextDesc&>(d) = DescriptorOf<CTextDesc>(record);
      return TEditTextObject::New(d);
    }
    case kDatabaseObjectType: return TDatabaseObject::New(DescriptorOf<CDatabaseDesc>(record));
    case kStampObjectType: return TStampObject::New(DescriptorOf<CStampDesc>(record));
    case kFileOverlayObjectType: return TFileOverlayObject::New(DescriptorOf<COverlayDesc>(record));
    case kTransparentOverlayObjectType: return TTransparentOverlayObject::New(DescriptorOf<COverlayDesc>(record));
    case kGroupPhotoObjectType: return TGroupPhotoObject::New(DescriptorOf<CGroupPhotoDesc>(record));
    case kBackColorObjectType: return TBackColorObject::New(DescriptorOf<CBackColorDesc>(record));
    case kAttributeObjectType: return TAttributeObject::New(DescriptorOf<CAttributeDesc>(record));
    case kNodeObjectType: {
      auto obj = TNodeViewObject::New(DescriptorOf<CNodeDesc>(record));
      obj->DoNewReadObjects(stream, report);
      return obj;
    }
  }
  return nullptr;
}

}  // namespace layout
