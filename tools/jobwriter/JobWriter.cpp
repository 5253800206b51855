#include "jobwriter/JobWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "host/base/MacRoman.h"
#include "host/base/UniqueFile.h"
#include "host/sys/PropertyList.h"

namespace jobwriter {

namespace {

void WriteBlock(layout::TJobWriter& out, const std::vector<uint8_t>& bytes, size_t size) {
  const size_t n = std::min(bytes.size(), size);
  out.WriteBytes(std::span<const uint8_t>(bytes.data(), n));
  out.WriteZeros(size - n);
}

tLayoutInfo Head(float left, float top, float width, float height) {
  tLayoutInfo h;
  h.fLeft = left; h.fTop = top; h.fWidth = width; h.fHeight = height;
  h.fBounds = CLongRect_AC(int32_t(top * 72), int32_t(left * 72), int32_t((top + height) * 72),
                           int32_t((left + width) * 72));
  return h;
}

}  // namespace

TRecordBytes RecordOf(const layout::TLayoutObject& object) {
  layout::TJobWriter out;
  object.WriteTo(out);
  return out.Bytes();
}

TRecordBytes RawRecord(OSType code, size_t size, uint8_t fill) {
  layout::TJobWriter out;
  std::array<uint8_t, 40> head{};
  layout::StoreU32BE(head.data() + 4, code);
  out.WriteBytes(head);
  out.WriteU32(uint32_t(size));
  out.Bytes().insert(out.Bytes().end(), size, fill);
  return out.Bytes();
}

CImageDesc ImageDesc(const std::string& photoName, float left, float top, float width, float height) {
  CImageDesc d;
  d.head = Head(left, top, width, height);
  d.fFile.name = photoName;
  d.fCropToFill = 1;
  return d;
}

CTextDesc TextDesc(const std::string& text, float left, float top, float width, float height) {
  CTextDesc d;
  d.head = Head(left, top, width, height);
  d.fText = text;
  d.fTextInfo.size = 12;
  return d;
}

CBackColorDesc BackColorDesc(RGBColor color, float left, float top, float width, float height) {
  CBackColorDesc d;
  d.head = Head(left, top, width, height);
  d.fColor = color;
  return d;
}

CStampDesc StampDesc(const std::string& text, float left, float top, float width, float height, uint16_t mode) {
  CStampDesc d;
  d.head = Head(left, top, width, height);
  d.fText = text;
  d.fTextInfo.size = 12;
  d.fStampOption[1] = 1;
  d.fStampOption8 = mode;
  return d;
}

COverlayDesc OverlayDesc(const std::string& name, const std::string& category, float left, float top, float width,
                         float height) {
  COverlayDesc d;
  d.head = Head(left, top, width, height);
  d.fFile.name = name;
  d.fCategory = category;
  return d;
}

CGroupPhotoDesc GroupPhotoDesc(const std::string& name, const std::string& category, float left, float top,
                               float width, float height) {
  CGroupPhotoDesc d;
  d.head = Head(left, top, width, height);
  d.fFile.name = name;
  d.fCategory = category;
  return d;
}

CNodeDesc NodeDesc(float left, float top, float width, float height, uint16_t mode) {
  CNodeDesc d;
  d.head = Head(left, top, width, height);
  d.fNodeMode = mode;
  d.fNodeColor = 1;
  d.fNodeCopyPage = 1;
  return d;
}

TRecordBytes NodeRecord(const CNodeDesc& node, const std::vector<const layout::TLayoutObject*>& children) {
  auto obj = layout::TNodeViewObject::New(node);
  for (const layout::TLayoutObject* c : children) obj->AddChild(c->Clone());
  return RecordOf(*obj);
}

std::vector<uint8_t> WebDataArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
  using namespace host;
  auto uid = [](int64_t n) { return PlistValue(PlistDict{{"CF$UID", n}}); };
  // Object 1 is the dictionary; its keys follow it, then its values, then
  // its class.
  PlistArray objects{PlistValue("$null")};
  PlistArray keys, values;
  const int64_t n = int64_t(entries.size());
  for (int64_t i = 0; i < n; ++i) {
    keys.push_back(uid(2 + i));
    values.push_back(uid(2 + n + i));
  }
  objects.push_back(PlistDict{{"NS.keys", keys}, {"NS.objects", values}, {"$class", uid(2 + 2 * n)}});
  for (const auto& e : entries) objects.push_back(PlistValue(e.first));
  for (const auto& e : entries) objects.push_back(PlistValue(e.second));
  objects.push_back(PlistDict{{"$classname", "NSDictionary"}, {"$classes", PlistArray{"NSDictionary", "NSObject"}}});
  PlistDict archive{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}, {"$top", PlistDict{{"root", uid(1)}}},
                    {"$objects", objects}};
  auto bytes = serializePropertyList(PlistValue(archive), PlistFormat::Binary);
  return bytes ? std::move(*bytes) : std::vector<uint8_t>{};
}

tSpecialPrintToFilePref PrintToFileRecord(int16_t format) {
  tSpecialPrintToFilePref r;
  r.orientation = 1;
  r.rotation = 2;
  r.fileFormat = format;
  r.baseName = "Print";
  r.extension = CStr31_AC(getExtensionFromFileType(format));
  r.namingType = 1;
  r.maxSize = 640;
  r.ftpSite = 1;
  return r;
}

std::vector<uint8_t> PrintSettingsArchive(const std::string& printer, const std::string& paper, int orientation) {
  using namespace host;
  // Object 1 is the settings object, 2 its attribute dictionary; the keys
  // and values follow, then the two classes.
  std::vector<std::pair<std::string, PlistValue>> attributes;
  if (!printer.empty()) attributes.emplace_back("NSPrinterName", PlistValue(printer));
  if (!paper.empty()) attributes.emplace_back("NSPaperName", PlistValue(paper));
  if (orientation == 1 || orientation == 2) attributes.emplace_back("NSOrientation", PlistValue(int64_t(orientation - 1)));
  const uint64_t n = attributes.size();
  const uint64_t firstKey = 3, firstValue = 3 + n, infoClass = 3 + 2 * n, dictionaryClass = infoClass + 1;
  PlistArray keys, values;
  for (uint64_t i = 0; i < n; ++i) {
    keys.push_back(PlistUid{firstKey + i});
    values.push_back(PlistUid{firstValue + i});
  }
  PlistArray objects{PlistValue("$null"), PlistDict{{"NSAttributes", PlistUid{2}}, {"$class", PlistUid{infoClass}}},
                     PlistDict{{"NS.keys", keys}, {"NS.objects", values}, {"$class", PlistUid{dictionaryClass}}}};
  for (const auto& a : attributes) objects.push_back(PlistValue(a.first));
  for (const auto& a : attributes) objects.push_back(a.second);
  objects.push_back(PlistDict{{"$classname", "NSPrintInfo"}, {"$classes", PlistArray{"NSPrintInfo", "NSObject"}}});
  objects.push_back(PlistDict{{"$classname", "NSMutableDictionary"},
                              {"$classes", PlistArray{"NSMutableDictionary", "NSDictionary", "NSObject"}}});
  PlistDict archive{{"$archiver", "NSKeyedArchiver"}, {"$version", int64_t(100000)},
                    {"$top", PlistDict{{"root", PlistUid{1}}}}, {"$objects", objects}};
  auto bytes = serializePropertyList(PlistValue(archive), PlistFormat::Binary);
  return bytes ? std::move(*bytes) : std::vector<uint8_t>{};
}

tChromaKeySettings ChromaKeySettings(std::array<uint8_t, 3> backing) {
  tChromaKeySettings settings;
  chromakey::initialize_data(&settings.para);
  settings.para.flag = chromakey::kFlagFloatKernels | chromakey::kFlagKeyerRT;
  const float r = backing[0] * 256.0f, g = backing[1] * 256.0f, b = backing[2] * 256.0f;
  chromakey::KeyerRT model;
  model.set_center_backing(r, g, b, &settings.para);
  settings.para.center_r = r;
  settings.para.center_g = g;
  settings.para.center_b = b;
  return settings;
}

bool SetYearbookString(tRecordStruct& record, int index, const std::string& text) {
  const std::string macRoman = host::UTF8ToMacRoman(text);
  if (index < 0 || index > 40 || macRoman.size() > 255) return false;
  uint8_t* s = record.strings.data() + size_t(index) * 256;
  std::fill(s, s + 256, uint8_t(0));
  s[0] = uint8_t(macRoman.size());
  std::copy(macRoman.begin(), macRoman.end(), s + 1);
  return true;
}

std::vector<uint8_t> WriteJobFile(const TJobDescription& j) {
  layout::TJobWriter out;
  out.WriteU16(j.magic);
  out.WriteI16(j.printer);
  out.WriteI16(j.canvas);
  out.WriteU16(j.mediaTypeMustMatch);
  out.WriteBool(j.useColorSettings);
  pipeline::WritePrinterBlocks(out, j.printer, j.blocks);
  out.WriteU16(j.printQuantity);
  out.WritePString(j.templateName);
  out.WriteI32(j.viewSize[0]);
  out.WriteI32(j.viewSize[1]);
  out.WriteF32(j.pageWidth);
  out.WriteF32(j.pageHeight);
  out.WriteI16(j.resolution);
  out.WriteBool(j.isMirror);
  out.WriteBool(j.isColor);
  out.WriteI16(j.reduceMethod);
  out.WriteI16(j.enlargeMethod);
  out.WriteRecord(*j.colorSyncPrefs);
  out.WritePString(j.packageName);
  pipeline::WriteSpecialPrintToFilePref(out, j.printToFileSet);
  if (j.printToFileSet.hasYearbookRecords != 0) {
    out.WriteRecord((*j.yearbookBlocks)[0]);
    out.WriteRecord((*j.yearbookBlocks)[1]);
  }
  out.WriteRecord(j.jobInfo);
  out.WriteI16(j.MatchRotationForPrint);
  out.WriteI16(j.RotationForPrint);
  out.WriteI16(j.CropWhere);
  out.WriteI16(j.PrintMode);
  out.WriteI16(j.CropMode);
  out.WriteF32(j.CropHSize);
  out.WriteF32(j.CropVSize);
  out.WriteI16(j.FinalCropWhere);
  out.WriteI16(j.pageColorMode);
  out.WriteRecord(j.pageColorAdjust);
  out.WriteI16(j.printToFileOptionC);
  out.WriteI16(j.printToFileOptionD);
  out.WritePString(j.baseName);
  out.WriteRecord(j.oldTimePhoto);
  out.WriteI16(j.videoMerge);
  out.WriteI16(j.videoCopy);

  out.WriteBool(j.hasSubJob);
  if (j.hasSubJob) {
    out.WriteF32(j.subJobWidth);
    out.WriteF32(j.subJobHeight);
    out.WriteBool(j.subJobFlag);
    out.WriteI16(j.subJobMode);
    out.WriteI16(j.SubjobResizeMode);
    out.WriteU32(j.subJobCount.value_or(uint32_t(j.subJobObjects.size())));
    for (const auto& r : j.subJobObjects) out.WriteBytes(r);
  }
  out.WriteU32(j.objectCount.value_or(uint32_t(j.objects.size())));
  for (const auto& r : j.objects) out.WriteBytes(r);

  WriteBlock(out, j.trailerText, 1024);
  pipeline::WriteSpecialPrintToFilePref(out, j.trailerPrintToFileSet.value_or(j.printToFileSet));
  out.WriteZeros(4096);  // block E
  std::vector<uint8_t> web(32768, 0);
  std::copy_n(j.webDictionary.begin(), std::min<size_t>(j.webDictionary.size(), 32764), web.begin());
  layout::StoreU32LE(web.data() + 32764,
                     j.webDictionaryLength.value_or(uint32_t(std::min<size_t>(j.webDictionary.size(), 32764))));
  out.WriteBytes(web);
  WriteBlock(out, j.emailEntry, 4096);
  out.WriteI16(j.metadataOption);
  out.WriteBytes(std::span<const uint8_t>(j.customerEmail.data(), 256));
  out.WriteBytes(std::span<const uint8_t>(j.nameSuffix.data(), 256));
  out.WriteBytes(std::span<const uint8_t>(j.groupCode.data(), 256));
  out.WriteI16(j.trailerOption);
  out.WriteF32LE(j.blurValue);
  std::vector<uint8_t> video(j.videoPath.begin(), j.videoPath.begin() + std::min<size_t>(j.videoPath.size(), 1023));
  WriteBlock(out, video, 1024);
  const size_t n = std::min<size_t>(j.printInfo.size(), 65535);
  out.WriteU16(uint16_t(n));
  out.WriteBytes(std::span<const uint8_t>(j.printInfo.data(), n));
  return std::move(out.Bytes());
}

bool WriteJobFile(const TJobDescription& job, const std::filesystem::path& file) {
  const auto bytes = WriteJobFile(job);
  // Written whole under a hidden name beside `file` (which the processor's
  // pickup never takes), synced, then renamed into place: dropped straight
  // into the print-jobs folder, the job is never seen half written.
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::string hidden;
  const int fd = host::CreateUniqueFile(AT_FDCWD, (folder / ("." + file.filename().string() + ".")).string(), "",
                                        O_WRONLY, 0666, &hidden);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(hidden.c_str(), file.c_str()) == 0;
  if (!ok) ::unlink(hidden.c_str());
  return ok;
}

}  // namespace jobwriter
