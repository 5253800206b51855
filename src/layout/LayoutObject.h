// The base of every layout object, the drawing contract, the object box rule,
// and the small interfaces through which objects report while a job file is
// read and reach the job they belong to while they draw.
#pragma once

#include <cstdint>
#include <filesystem>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/base/Streamable.h"
#include "host/files/FSSpec.h"
#include "layout/Descriptors.h"
#include "layout/StoredBytes.h"

namespace host { class GWorld; }

namespace layout {

// Where the job reader and the node's child reader send their diagnostics:
// Log goes to standard error and the system log, OperatorMessage to the
// operator message sink.
class TReadReporter {
 public:
  virtual ~TReadReporter() = default;
  virtual void Log(std::string_view text) = 0;
  virtual void OperatorMessage(std::string_view text) = 0;
};

// What a drawing object may ask of the job it belongs to. The job view
// implements it; objects never see the pipeline's own types.
// The job-wide values an image box is drawn with.
struct TImageJobValues {
  int16_t printMode = 0;
  int16_t cropWhere = 1;
  int16_t finalCropWhere = 0;
  int16_t cropMode = 0;
  float cropHSize = 0;
  float cropVSize = 0;
  int16_t enlargeMethod = 0;
  int16_t reduceMethod = 0;
  int16_t matchRotationForPrint = 0;
  int16_t rotationForPrint = 0;
  int16_t subjobResizeMode = 0;
  bool hasSubJob = false;
  bool drawingSubJob = false;
  bool transparency = false;
  const host::GWorld* subJobOffscreen = nullptr;
  // The page's sepia values, which a node's tone uses too: the colour
  // adjustment, the old-time tint and its strength in percent.
  std::array<int16_t, 6> sepiaAdjust{};
  std::array<int16_t, 6> sepiaTint{};
  int16_t sepiaPercent = 0;
};

class TJobContext {
 public:
  virtual ~TJobContext() = default;
  virtual int16_t PrinterCode() const = 0;
  virtual bool IgnoreOverlaysSwitch() const = 0;

  // What drawing objects need besides: the job's image values, the images
  // folder of the spool tree (empty when unknown), the name of the photo in
  // work, status texts and the job's temporary files.
  virtual TImageJobValues ImageJobValues() const = 0;
  virtual std::filesystem::path ImagesFolder() const = 0;
  virtual void SetCurrentImageName(const std::string& name) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Registers a photo read for this job to be deleted when the job is done.
  virtual void AddPhotoToDelete(const std::filesystem::path& file) = 0;
  // An object that cannot be drawn says what happened, for the operator
  // message of the failed job (the first report of a job is kept).
  virtual void ReportDrawFailure(const std::string& message) = 0;

  // The spool tree's graphics folder ("KIVO GRAPHICS FOLDER ƒ"), created
  // when missing; empty when there is no spool root.
  virtual std::filesystem::path GraphicsFolder() = 0;
  // True the first time `what` is asked about in this job, so that a
  // diagnostic (a missing font, say) is logged once per job.
  virtual bool FirstTimeInJob(const std::string& what) = 0;
  // Reads the job file a node names into the job; a file that is no job or
  // that this job has read already changes nothing.
  virtual void ReadNodeJobFile(const FSSpec& file) = 0;
  // Adds a file to the job view's own list of files to delete (not to the
  // task manager's).
  virtual void InsertFileToDelete(const std::filesystem::path& file) = 0;
  // Stores a copy of an original photo file (jobs that copy originals);
  // true when it was stored.
  virtual bool SaveOriginalFile(const std::filesystem::path& photo) = 0;
};

// The object's box on the page in pixels: each edge is dpi times the edge in
// inches, computed in single precision and truncated towards zero to a 16-bit
// coordinate (values beyond the 16-bit range are clamped, NaN gives 0).
CRect_AC ObjectBox(float left, float top, float width, float height, int16_t dpi);
int16_t TruncToCoordinate(float value);

// A layout object is also streamable: besides its job-file record it has the
// framework's streamed form (ReadFrom/WriteTo over a CStream_AC), through
// which a stream creates objects by class name (RegisterLayoutObjectClasses,
// Objects.h). Job files never use the streamed form.
class TLayoutObject : public MStreamable_AC {
 public:
  TLayoutObject() = default;
  TLayoutObject(const TLayoutObject&) = default;
  TLayoutObject& operator=(const TLayoutObject&) = delete;
  ~TLayoutObject() override = default;

  // Writes the object back as a job-file record: class head, descriptor
  // size, descriptor, and the blocks that follow the record in the file.
  virtual void WriteTo(TJobWriter& out) const = 0;
  using MStreamable_AC::WriteTo;
  // The streamed base fields: bounds (top, left, bottom, right as 32-bit
  // numbers), type code, then left, top, width and height (32-bit floats).
  void ReadFrom(CStream_AC* stream) override;
  // The top-left corner of the bounds (top as vertical, left as horizontal).
  void GetRealPageOffset(CLongPoint_AC& offset) const { offset = {fBounds.top, fBounds.left}; }
  // Draws the object into the page. True when drawn or skipped by the
  // object's own rules; false stops the page. The base draws nothing and
  // returns true (the attribute object keeps it).
  virtual bool Draw4Printing(host::GWorld* page, int16_t dpi, TJobContext& view);
  virtual std::unique_ptr<TLayoutObject> Clone() const = 0;

  void GetBounds(CLongRect_AC& bounds) const { bounds = fBounds; }
  OSType TypeCode() const { return fTypeCode; }
  float Left() const { return fLeft; }
  float Top() const { return fTop; }
  float Width() const { return fWidth; }
  float Height() const { return fHeight; }
  int16_t BoundsResolution() const { return fBoundsResolution; }
  // The object box at the given resolution (see ObjectBox).
  CRect_AC BoxAt(int16_t dpi) const { return ObjectBox(fLeft, fTop, fWidth, fHeight, dpi); }

 protected:
  void ILayoutObject(const CLongRect_AC& bounds, OSType type) {
    fBoundsResolution = 72;
    fBounds = bounds;
    fTypeCode = type;
  }
  template <typename D>
  void SetPlacement(const D& d) {
    fLeft = d.head.fLeft; fTop = d.head.fTop; fWidth = d.head.fWidth; fHeight = d.head.fHeight;
  }
  // Writes the base fields in the order ReadFrom reads them.
  void WriteBaseTo(CStream_AC* stream) const;
  // Puts the base fields into a descriptor head, so that an object read
  // from a stream writes the same job-file record as one made by New.
  void CopyBaseToHead(tLayoutInfo& head) const {
    head.fBounds = fBounds;
    head.fLeft = fLeft; head.fTop = fTop; head.fWidth = fWidth; head.fHeight = fHeight;
  }

  CLongRect_AC fBounds;
  OSType fTypeCode = 0;
  float fLeft = 0, fTop = 0, fWidth = 0, fHeight = 0;
  int16_t fBoundsResolution = 0;
};

using TLayoutObjectList = std::vector<std::unique_ptr<TLayoutObject>>;

}  // namespace layout
