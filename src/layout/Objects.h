// The concrete layout objects, each made from its descriptor by its class's
// New. Each keeps its descriptor. Drawing lives beside them: ImageObject.cpp
// and ImageDraw.cpp, TextObjects.cpp over TextDraw.cpp, OverlayObjects.cpp,
// NodeObject.cpp.
#pragma once

#include <array>
#include <filesystem>
#include <memory>

#include "chromakey/ChromaKeySettings.h"
#include "imaging/ImageLoading.h"
#include "layout/Descriptors.h"
#include "layout/LayoutObject.h"

namespace layout {

constexpr size_t kChromaKeySettingsSize = tChromaKeySettings::kStoredSize;

constexpr OSType kImageObjectType = FourCC("imag");

// Results of copying an original photo: its photo missing or unreadable
// (the job's object failed), or the copy not written (the printer file).
constexpr int16_t kCopyPhotoFailed = 105;
constexpr int16_t kCopyNotWritten = 107;
constexpr OSType kTextObjectType = FourCC("text");
constexpr OSType kStampObjectType = FourCC("stmp");
constexpr OSType kEditTextObjectType = FourCC("edtx");
constexpr OSType kFileOverlayObjectType = FourCC("fovl");
constexpr OSType kTransparentOverlayObjectType = FourCC("tran");
constexpr OSType kNodeObjectType = FourCC("node");
constexpr OSType kBackColorObjectType = FourCC("bkco");
constexpr OSType kGroupPhotoObjectType = FourCC("grou");
constexpr OSType kDatabaseObjectType = FourCC("dtbs");
constexpr OSType kAttributeObjectType = FourCC("attr");
constexpr OSType kOverlayObjectType = FourCC("ovly");

// Writes the record frame (40-byte class head with the code at bytes 4 to 7,
// descriptor size) and the descriptor.
template <typename D>
void WriteDescriptorRecord(TJobWriter& out, OSType code, const D& d) {
  std::array<uint8_t, 40> head{};
  StoreU32BE(head.data() + 4, code);
  out.WriteBytes(head);
  out.WriteU32(uint32_t(D::kStoredSize));
  out.WriteRecord(d);
}

class TImageObject : public TLayoutObject {
 public:
  static std::unique_ptr<TImageObject> New(const CImageDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TImageObject>(*this); }
  // A new image object names no photo yet: volume -100, directory 0, no name.
  TImageObject();
  TImageObject(const TImageObject& o);
  // The streamed form: the base, the placement, photo, colour, frame,
  // border, rotation and junk-mask fields and, for a keyed photo, the
  // engine's coefficient block with the keying values (see StreamedObjects.cpp).
  void ReadFrom(CStream_AC* stream) override;

  // Draws the photo into its box (see layout/ImageDraw.h). A photo name
  // that could leave the images folder counts as "No File".
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;
  // The photo's path in the images folder; empty for "No File" and for
  // names that are empty or hold "/", ".." or NUL.
  static std::filesystem::path PhotoPath(const std::filesystem::path& imagesFolder, const FSSpec& file);
  // The first-image-only route: the photo read, turned, its include mask in
  // its alpha, shrunk to fit 640 x 640; the caller owns it. None for "No
  // File" or a photo that cannot be read, which is reported to the view.
  host::GWorldHandle Draw4PrintingSpecial(int16_t dpi, TJobContext& view);
  // True for "No File" and for names that could leave the images folder.
  bool IsNoFile() const;
  // Copies the photo as it is into the job's set; 0 when the copy is in
  // place, 105 when the photo is not there or cannot be read (said through
  // ReportDrawFailure), 107 when the copy could not be written.
  int16_t CopyOriginalFile(TJobContext& view);
  // The placement of the last drawing (read by the keying engine).
  const CRect_AC& LastSourceRect() const { return fLastSource; }
  const CRect_AC& LastDestRect() const { return fLastDest; }

  const CImageDesc& Descriptor() const { return fDesc; }
  bool HasChromaKeySettings() const { return fChromaKey != nullptr; }
  const tChromaKeySettings* ChromaKeySettings() const { return fChromaKey.get(); }
  void SetChromaKeySettings(const tChromaKeySettings& settings) {
    fChromaKey = std::make_unique<tChromaKeySettings>(settings);
  }

 private:
  CImageDesc fDesc;
  std::unique_ptr<tChromaKeySettings> fChromaKey;
  CRect_AC fLastSource, fLastDest;
};

class TTextObject : public TLayoutObject {
 public:
  static std::unique_ptr<TTextObject> New(const CTextDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TTextObject>(*this); }
  const CTextDesc& Descriptor() const { return fDesc; }
  // A new text object reads "test String" in black, 12 points, font 3.
  TTextObject();
  // The streamed form: the base, the text, its style and rotation, then
  // 1022 bytes the class does not use.
  void ReadFrom(CStream_AC* stream) override;

  // Draws the text (or its code) into its box; false (the job told why)
  // only when the text cannot be made into the code asked for. The edit text
  // takes its skip switch from fTextOption4 and never draws a code; the
  // database object has neither.
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;

 protected:
  void ITextObject(const CTextDesc& d, OSType type);
  // The text object's streamed fields; `ownValue` reads the 16-bit value
  // the edit text and database objects stream after the rotation.
  void ReadTextFields(CStream_AC* stream, bool ownValue);
  CTextDesc fDesc;
};

class TEditTextObject : public TTextObject {
 public:
  static std::unique_ptr<TEditTextObject> New(const CEditTextDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TEditTextObject>(*this); }
  // Its own value starts at 1.
  TEditTextObject() { fDesc.fTextOption2 = 1; }
  // As the text object's, with its own value after the rotation.
  void ReadFrom(CStream_AC* stream) override;
};

class TDatabaseObject : public TTextObject {
 public:
  static std::unique_ptr<TDatabaseObject> New(const CDatabaseDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TDatabaseObject>(*this); }
  const CDatabaseDesc& DatabaseDescriptor() const { return fDbDesc; }
  // As the text object's, with its first value after the rotation.
  void ReadFrom(CStream_AC* stream) override;

 private:
  CDatabaseDesc fDbDesc;
};

class TStampObject : public TLayoutObject {
 public:
  static std::unique_ptr<TStampObject> New(const CStampDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TStampObject>(*this); }
  const CStampDesc& Descriptor() const { return fDesc; }
  // A new stamp has no text, black 12-point style in font 3, first value 1.
  TStampObject();
  // The streamed form: the base, style, first value, text, rotation, the
  // two switches, then 1020 unused bytes.
  void ReadFrom(CStream_AC* stream) override;

  // Drawn like a text object, except that right justification is the text
  // box's own (no 15-point margin); false only for a code that cannot be made.
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;

 private:
  CStampDesc fDesc;
};

// Base of the overlays; 'ovly' itself is never made from a job file.
class TOverlayObject : public TLayoutObject {
 public:
  void WriteTo(TJobWriter&) const override {}
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TOverlayObject>(*this); }
  // The streamed form: the base, the overlay switch, the 150-byte overlay
  // settings and 1024 bytes, none of which drawing uses.
  void ReadFrom(CStream_AC* stream) override;
};

class TFileOverlayObject : public TOverlayObject {
 public:
  static std::unique_ptr<TFileOverlayObject> New(const COverlayDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TFileOverlayObject>(*this); }
  const COverlayDesc& Descriptor() const { return fDesc; }
  // The overlay mode: the descriptor's, or derived when it is 0 (first flag
  // 2, second flag 3, neither 1). Drawing does not read it.
  uint16_t Mode() const { return fMode; }
  // The graphic's file as the lookup last found it (the job's until then).
  const FSSpec& File() const { return fFile; }
  // The streamed form: the base, the overlay switch, the graphic's file,
  // category and first flag, a second file and a colour that only streams
  // carry, then 1017 unused bytes. WriteTo writes the same.
  void ReadFrom(CStream_AC* stream) override;
  void WriteTo(CStream_AC* stream) const override;

  // Draws the graphic over its box through a mask made from its alpha.
  // True also when the graphic is missing; false when it is there but cannot
  // be read (said through ReportDrawFailure) or the mask copy fails.
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;

 protected:
  void SetOverlay(const COverlayDesc& d);
  COverlayDesc fDesc;
  FSSpec fFile;
  uint16_t fMode = 0;
};

class TTransparentOverlayObject : public TFileOverlayObject {
 public:
  static std::unique_ptr<TTransparentOverlayObject> New(const COverlayDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override;
  TTransparentOverlayObject() = default;
  TTransparentOverlayObject(const TTransparentOverlayObject& o) : TFileOverlayObject(o) {}
  // Streams as the overlay base does (its file and category are not
  // streamed), and writes nothing of its own.
  void ReadFrom(CStream_AC* stream) override;
  void WriteTo(CStream_AC* stream) const override { MStreamable_AC::WriteTo(stream); }

  // Composites the graphic over its box through its alpha; nothing for the
  // category "CUT-OUT FILES" or a missing graphic. False only when the
  // graphic is there but cannot be read (said through ReportDrawFailure).
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;
  // The graphic, loaded once and kept by the object; none when missing or
  // unreadable.
  CGImageRef GetCGimageRef(TJobContext& view);

 private:
  CGImageRef fImage;
};

class TGroupPhotoObject : public TOverlayObject {
 public:
  static std::unique_ptr<TGroupPhotoObject> New(const CGroupPhotoDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TGroupPhotoObject>(*this); }
  const CGroupPhotoDesc& Descriptor() const { return fDesc; }
  const FSSpec& File() const { return fFile; }
  // The streamed form: the base, the overlay switch, the photo's file and
  // category, then 1023 unused bytes.
  void ReadFrom(CStream_AC* stream) override;

  // Fits the photo into its frame keeping its proportions, centred. A
  // missing photo draws nothing (true); one that is there but cannot be read
  // or drawn is said through ReportDrawFailure (false).
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;

 private:
  CGroupPhotoDesc fDesc;
  FSSpec fFile;
};

// The graphic lookup of the overlays and group photos: the file named by
// `file` (its name only) in the subfolder of the graphics folder named by the
// category, compared without regard to case and accents. True with `file`
// replaced by the found file's specification; false (file unchanged) when
// the category or the file is missing or the name could leave its folder.
bool IsExistingOverlayFile(FSSpec& file, const CStr31_AC& category, TJobContext& view);

class TNodeViewObject : public TLayoutObject {
 public:
  static std::unique_ptr<TNodeViewObject> New(const CNodeDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override;
  TNodeViewObject() = default;
  TNodeViewObject(const TNodeViewObject& o);

  // Reads the node's children, which follow its record in the job file.
  // Nodes do not nest: a 'node' record among the children is skipped as
  // an unknown object.
  void DoNewReadObjects(TJobStream& stream, TReadReporter& report);
  // True when the child list exists and is empty.
  bool HasNoObjects() const { return fChildren && fChildren->empty(); }
  const TLayoutObjectList* Children() const { return fChildren.get(); }
  void AddChild(std::unique_ptr<TLayoutObject> child);
  // The first child whose type code is 'imag', or null.
  TImageObject* GetImageObjectFromNode() const;

  const CNodeDesc& Descriptor() const { return fDesc; }
  // The streamed form: the base, the node's file, mode and value, a second
  // file, the mirror, colour and sepia switches, the copy-page switch (the
  // node copies the page whatever it says) and the tone, 1018 unused bytes,
  // then the children as streamed objects. Nodes do not nest: a node among
  // the children fails the read with paramErr.
  void ReadFrom(CStream_AC* stream) override;
  uint16_t Mode() const { return fMode; }
  uint16_t CopyPage() const { return fCopyPage; }

  // Draws the children into an offscreen of the node's box (or straight into
  // the page for mode 3 over the whole page), turns, mirrors and tones the
  // result, copies it onto the page and deletes the children. False when a
  // child failed or the node's offscreen could not be made.
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;
  // The node's rectangle on the page: width and height exchanged for every
  // mode but 3 and 4.
  CRect_AC NodeRectAt(int16_t dpi) const;
  // Registers the photos of the image children with the job's files to delete.
  void DeleteFile(TJobContext& view) const;

 private:
  CNodeDesc fDesc;
  uint16_t fMode = 0;
  uint16_t fValue = 0;
  uint16_t fCopyPage = 0;
  std::unique_ptr<TLayoutObjectList> fChildren;
};

class TBackColorObject : public TLayoutObject {
 public:
  static std::unique_ptr<TBackColorObject> New(const CBackColorDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TBackColorObject>(*this); }
  const CBackColorDesc& Descriptor() const { return fDesc; }
  // The streamed form: the base, the colour, then 1024 unused bytes.
  void ReadFrom(CStream_AC* stream) override;

  // Paints its rectangle (edges rounded outwards, see PaintRectAt) in its
  // colour, except on print-to-file-set routes when its skip switch is set.
  bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view) override;
  // The painted rectangle: left and top dpi x edge, right and bottom
  // dpi x edge + 0.5, in single precision, rounded half away from zero.
  CLongRect_AC PaintRectAt(int16_t dpi) const;
  void DrawBackground(const CLongRect_AC& rect, host::GWorld* page) const;

 private:
  CBackColorDesc fDesc;
};

class TAttributeObject : public TLayoutObject {
 public:
  static std::unique_ptr<TAttributeObject> New(const CAttributeDesc& d);
  void WriteTo(TJobWriter& out) const override;
  std::unique_ptr<TLayoutObject> Clone() const override { return std::make_unique<TAttributeObject>(*this); }
  const CAttributeDesc& Descriptor() const { return fDesc; }
  // The streamed form: the base, the first two switches and 1022 unused
  // bytes (zeros when written); the other two switches are not streamed.
  void ReadFrom(CStream_AC* stream) override;
  void WriteTo(CStream_AC* stream) const override;

 private:
  CAttributeDesc fDesc;
};

// Which list a record is read into: the job's main list, its sub-job list,
// or a node's child list (no nodes there).
enum class ERecordList { kMain, kSubJob, kNodeChildren };

// Reads one object record (class head, size, descriptor and the blocks that
// follow it) and makes its object. A record of an unknown class, or a node
// inside a node, is reported and skipped whole: the result is then null.
// Throws TJobReadError when the record runs past the end of the file.
std::unique_ptr<TLayoutObject> ReadObjectRecord(TJobStream& stream, ERecordList list, TReadReporter& report);

// Registers the layout classes by name with the class registry, so that
// streams (and resources) can create them: every concrete class but the
// transparent overlay, and the overlay base. Run at start-up.
void RegisterLayoutObjectClasses();

// The log name of a class code ("kImageObjectType"...), or null for an
// unknown code.
const char* ObjectTypeLogName(OSType code);

}  // namespace layout
