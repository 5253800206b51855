// The capture-station side of the image sources: the name order, the
// image-file list's entry orders, the folder scan, the file handler's plain
// operations and preview loading.
#include "imaging/ImageSources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FinderInfo.h"
#include "host/imageio/ImageFile.h"
#include "host/files/ResourceFork.h"
#include "host/base/ByteOrder.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ImageLoading.h"

namespace fs = std::filesystem;

namespace {

int Order(const char* a, const char* b) { return finderSortWithLocale(a, b, ""); }

TEST(ImageSources, FinderNameOrder) {
  EXPECT_LT(Order("x9", "x10"), 0);
  EXPECT_GT(Order("x10", "x9"), 0);
  EXPECT_LT(Order("apple", "Banana"), 0);
  EXPECT_LT(Order("img 2.jpg", "IMG 10.jpg"), 0);
  // Full-width letters and digits count as their plain forms.
  EXPECT_LT(Order("\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBC\x91", "abc2"), 0);  // "ＡＢ１"
  EXPECT_LT(Order("\xC3\xA9t\xC3\xA9 2", "\xC3\x89T\xC3\x89 10"), 0);    // "été 2", "ÉTÉ 10"
  // Names equal but for case or leading zeros still have an order, and
  // only identical names are equal; the order is the same both ways round.
  for (auto [a, b] : {std::pair{"Photo", "photo"}, {"file007", "file7"}, {"a", "a "}}) {
    const int ab = Order(a, b), ba = Order(b, a);
    EXPECT_NE(ab, 0) << a << " " << b;
    EXPECT_EQ(ab, -ba) << a << " " << b;
  }
  EXPECT_EQ(Order("same 1", "same 1"), 0);
  EXPECT_LT(Order("", "a"), 0);
  // A locale that does not exist orders by character.
  EXPECT_LT(finderSortWithLocale("b1", "b2", "no_SUCH.locale"), 0);
}

std::unique_ptr<TImageFileObject> Entry(const std::string& path, uint8_t flag = 0) {
  auto file = std::make_unique<TFile>();
  file->SpecifyWithPath(path);
  return std::make_unique<TImageFileObject>(std::move(file), flag);
}

std::vector<std::string> Names(TImageFileList& list) {
  std::vector<std::string> names;
  for (auto& e : list) names.push_back(e->GetName().ToUTF8());
  return names;
}

TEST(ImageSources, ListOrdersBySortKey) {
  TempDir dir;
  fs::create_directory(dir / "sub");
  for (const char* name : {"img 10.jpg", "img 2.jpg", "Zeta.jpg", "alpha.jpg"}) std::ofstream(dir / name) << name;
  std::ofstream(dir / "sub/b.jpg") << "b";
  // 'c' (the key at construction): flag descending, then parent folder id
  // descending, then Finder name order.
  TImageFileList list;
  list.Insert(Entry(dir / "img 10.jpg"));
  list.Insert(Entry(dir / "Zeta.jpg", 1));
  list.Insert(Entry(dir / "img 2.jpg"));
  list.Insert(Entry(dir / "alpha.jpg"));
  list.Insert(Entry(dir / "sub/b.jpg"));
  const bool subFirst = list.At(2)->get()->GetName().ToUTF8() == "b.jpg";
  std::vector<std::string> expected = {"Zeta.jpg", "alpha.jpg", "img 2.jpg", "img 10.jpg"};
  expected.insert(subFirst ? expected.begin() + 1 : expected.end(), "b.jpg");
  EXPECT_EQ(Names(list), expected);
  EXPECT_NE(list.At(2)->get()->GetParentID(), list.At(3)->get()->GetParentID());

  // ',': the names' bytes.
  TImageFileList byName;
  byName.SetSortKey(',', ',');
  for (const char* name : {"img 10.jpg", "img 2.jpg", "Zeta.jpg", "alpha.jpg"}) byName.Insert(Entry(dir / name));
  EXPECT_EQ(Names(byName), (std::vector<std::string>{"Zeta.jpg", "alpha.jpg", "img 10.jpg", "img 2.jpg"}));
  // Any other key keeps the order of insertion.
  TImageFileList plain;
  plain.SetSortKey('x', 'x');
  for (const char* name : {"img 2.jpg", "Zeta.jpg", "alpha.jpg"}) plain.Insert(Entry(dir / name));
  EXPECT_EQ(Names(plain), (std::vector<std::string>{"img 2.jpg", "Zeta.jpg", "alpha.jpg"}));
}

// A handler that lists what it is offered, to see what a scan offers.
class ListingHandler : public TNewAllFilesHandler {
 public:
  bool AddToList(TFile* file) override {
    offered.push_back(host::LastPathName(file->GetPath()));
    GetFileList()->InsertLast(std::make_unique<TImageFileObject>(std::unique_ptr<TFile>(file)));
    return true;
  }
  std::vector<std::string> offered;
};

class RecordingWindows : public TFileHandlerWindows {
 public:
  void ShowProgress(const CStr255_AC& title, const CStr255_AC& text) override {
    shown.push_back(title.ToUTF8() + "|" + text.ToUTF8());
  }
  void EndProgress() override { ++ended; }
  void OpenDeleteWindow(const std::string& path) override { deleteWindow = path; }
  std::vector<std::string> shown;
  int ended = 0;
  std::string deleteWindow;
};

TEST(ImageSources, FolderScanOffersVisibleImageFilesOnce) {
  TempDir dir;
  fs::create_directory(dir / "scan");
  fs::create_directory(dir / "scan/folder.jpg");
  for (const char* name : {"a.jpg", "b.TIF", "c.png", ".hidden.jpg", "temp.jpg"})
    std::ofstream(dir / ("scan/" + std::string(name))) << name;
  host::FinderInfo temp;
  temp.type = FourCC("tmp?");
  temp.creator = FourCC("tmp?");
  const bool tempMarked = host::FinderInfoSupported(dir / "scan/temp.jpg") &&
                          host::SetFinderInfo(dir / "scan/temp.jpg", temp) == noErr;
  host::CatalogInfo folder;
  ASSERT_EQ(host::GetCatInfoForPath(dir / "scan", &folder), noErr);

  ListingHandler handler;
  std::vector<int32_t> changes;
  handler.GetFileList()->AddDependent([&](int32_t change, TImageFileObject*) { changes.push_back(change); });
  handler.SetFolderLocation(folder.spec.vRefNum, folder.dirID);
  EXPECT_TRUE(handler.Check4NewFiles());
  // Newest index first; the PNG is not read here, folders, invisible and
  // temporary files are not offered.
  std::vector<std::string> expected = {"b.TIF", "a.jpg"};
  if (!tempMarked) expected.insert(expected.begin(), "temp.jpg");
  EXPECT_EQ(handler.offered, expected);
  EXPECT_EQ(handler.GetNumberOfFiles(), long(expected.size()));
  EXPECT_EQ(changes, (std::vector<int32_t>{1323, 1320, 1342}));
  // An unchanged folder is not read again.
  EXPECT_EQ(handler.PutFilesInList4Check(folder.spec.vRefNum, folder.dirID, false), 0);
  EXPECT_EQ(handler.offered.size(), expected.size());

  // The plain handler lists nothing, whatever it is offered.
  TNewAllFilesHandler plain;
  EXPECT_EQ(plain.PutFilesInList4Check(folder.spec.vRefNum, folder.dirID, false), 0);
  EXPECT_EQ(plain.GetNumberOfFiles(), 0);
  EXPECT_TRUE(plain.IsScanning());
  EXPECT_NE(plain.PutFilesInList4Check(folder.spec.vRefNum, 0x7FFFFFF0, false), 0);
  EXPECT_FALSE(plain.IsScanning());

  // The capture-station operations on the listed files.
  RecordingWindows windows;
  SetFileHandlerWindows(&windows);
  EXPECT_FALSE(handler.SaveToFolder(0, 0, 2, true));
  EXPECT_FALSE(handler.SaveToFolder(0, 0, 1, false));
  handler.OpenDeleteWindow();
  SetFileHandlerWindows(nullptr);
  EXPECT_EQ(windows.shown, (std::vector<std::string>{"Saving File…|" + expected[1]}));
  EXPECT_EQ(windows.ended, 1);
  EXPECT_EQ(windows.deleteWindow, dir / ("scan/" + expected[0]));
  handler.EraseImages();
  EXPECT_EQ(handler.GetNumberOfFiles(), 0);
  EXPECT_FALSE(fs::exists(dir / "scan/a.jpg"));
  EXPECT_FALSE(fs::exists(dir / "scan/b.TIF"));
  EXPECT_TRUE(fs::exists(dir / "scan/c.png"));
}

TEST(ImageSources, PlainOperationsAndPreviewLoading) {
  TKIVOFileHandler base;
  CStr255_AC text("x");
  EXPECT_EQ(base.GetIdleFreq(), 30);
  EXPECT_EQ(base.GetIconAndStatusText(text), 1210);
  base.GetPreviewMessageString(text);
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_EQ(base.DoColorBalance(), FourCC("canc"));
  EXPECT_FALSE(base.GetFullSizeImage());
  EXPECT_FALSE(base.GetPreviewImage());
  EXPECT_FALSE(base.HasColorBalanceSettings());
  base.SetSitting(true);
  base.SetStartSitting(true);
  EXPECT_TRUE(base.IsSitting());
  base.SetStartSitting(false);
  EXPECT_FALSE(base.IsStartSitting());
  EXPECT_FALSE(base.IsSitting());
  // The base reads no file: it is not kept.
  EXPECT_FALSE(base.AddFileToList(new TFile));

  // A 40 x 20 photo with a red half and colour settings that halve red:
  // the preview is half its size, blurred at the job's value, uncorrected.
  TempDir dir;
  auto photo = host::GWorld::Create(CLongRect_AC(0, 0, 20, 40));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = photo->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = x < 20 ? 240 : 20; p[2] = 20; p[3] = 20;
    }
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "p.tif", host::ImageFormat::kTiff).ok());
  std::vector<uint8_t> settings(40, 0);
  const float values[10] = {1, 0, 1, 0.5f, 1, 1, 0, 1, 0, 0};
  for (int i = 0; i < 10; ++i) host::StoreBEF32(&settings[size_t(i) * 4], values[i]);
  host::ResourceMap fork;
  fork.Set(FourCC("Pref"), 5002, "", settings, false);
  ASSERT_EQ(host::WriteResourceFork(dir / "p.tif", fork), noErr);

  TNewAllFilesHandler handler;
  handler.SetCurrentFile(SpecOf(dir / "p.tif"));
  const float saved = myBlurValue;
  myBlurValue = 0;
  host::GWorldHandle sharp = handler.GetPreviewImage();
  myBlurValue = 2;
  host::GWorldHandle blurred = handler.GetPreviewImage();
  myBlurValue = saved;
  ASSERT_TRUE(sharp && blurred);
  EXPECT_EQ(sharp->width(), 20);
  EXPECT_EQ(sharp->height(), 10);
  EXPECT_NEAR(sharp->scanline(5)[4 * 2 + 1], 240, 2);  // red not halved
  EXPECT_NEAR(sharp->scanline(5)[4 * 9 + 1], 240, 30);
  EXPECT_LT(blurred->scanline(5)[4 * 9 + 1], sharp->scanline(5)[4 * 9 + 1] - 20);  // the edge softened
  handler.SetCurrentFile(SpecOf(dir / "missing.tif"));
  EXPECT_FALSE(handler.GetPreviewImage());
}

}  // namespace
