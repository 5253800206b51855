// Names, files put in place, the own TIFF, quarter turns and the metadata
// forms.
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/PropertyList.h"
#include "output/Metadata.h"
#include "output/OutputFiles.h"
#include "output/PrintInfo.h"
#include "output/PrintToFile.h"

namespace fs = std::filesystem;
using namespace output;

TEST(OutputNames, JobNamesCannotLeaveTheirFolder) {
  EXPECT_EQ(CleanName("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(CleanName(".."), "_");
  EXPECT_EQ(CleanName("a\nb"), "a_b");
  EXPECT_EQ(CleanName(""), "");
}

TEST(OutputNames, ImageNamesAndNamingTypes) {
  TOutputJob job;
  SetCurrentImageName(job, "IMG_1234_t5.jpg");
  EXPECT_EQ(job.currentImageName, "IMG_1234");
  EXPECT_EQ(job.currentImageExt, ".JPG");
  SetCurrentImageName(job, "Beach Copy 2.tif");
  EXPECT_EQ(job.currentImageName, "Beach");
  SetCurrentImageName(job, "No File");
  EXPECT_EQ(job.currentImageName, "Beach");
  SetCurrentImageName(job, "plain");
  EXPECT_EQ(job.currentImageName, "plain");
  EXPECT_EQ(getTicketNumber(), "plain");

  job.currentImageName = "IMG";
  job.templateName = "Tpl";
  tSpecialPrintToFilePref rec;
  rec.namingType = 4;
  EXPECT_EQ(GetNewBaseNameForPrintToFile(job, rec), "Tpl_IMG");
  rec.namingType = 7;
  EXPECT_EQ(GetNewBaseNameForPrintToFile(job, rec), "IMG");
  job.nameSuffix = "S";
  EXPECT_EQ(GetNewBaseNameForPrintToFile(job, rec), "IMG_S");
  rec.namingType = 8;
  job.templateName.clear();
  EXPECT_EQ(GetNewBaseNameForPrintToFile(job, rec), "IMG");
  rec.namingType = 9;
  EXPECT_EQ(GetNewBaseNameForPrintToFile(job, rec), "");

}

TEST(Metadata, FormsOfTheDictionary) {
  setftpSite(3);
  setCustomerEmail("");
  setGroupCode("G7");
  setEmailEntryBuffer({});
  auto site = SiteMetadata("/a/b.jpg");
  const auto& info = *site.at("uploadInfo").asDict();
  EXPECT_EQ(*info.at("f").asString(), SiteShortCode(3));
  EXPECT_EQ(*info.at("groupCode").asString(), "G7");
  EXPECT_FALSE(info.contains("email"));
  EXPECT_FALSE(info.contains("userdata"));
  setCustomerEmail("c@example.org");
  // An e-mail block holding an archived dictionary becomes "userdata".
  auto archive = outtest::ArchiveOf({{"name", "Ann"}});
  std::vector<uint8_t> block(kEmailEntryBufferSize, 0);
  std::copy(archive.begin(), archive.end(), block.begin());
  block[4092] = uint8_t(archive.size());
  block[4093] = uint8_t(archive.size() >> 8);
  setEmailEntryBuffer(block);
  site = SiteMetadata("/a/b.jpg");
  const auto& info2 = *site.at("uploadInfo").asDict();
  EXPECT_EQ(*info2.at("email").asString(), "c@example.org");
  EXPECT_EQ(*info2.at("userdata").asDict()->at("name").asString(), "Ann");

  auto dorns = DornsMetadata("src", block);
  const auto& d = *dorns.at("uploadInfo").asDict();
  EXPECT_EQ(*d.at("f").asString(), "dorns");
  EXPECT_EQ(*d.at("Version").asString(), "1.0.2");
  EXPECT_EQ(*d.at("name").asString(), "Ann");
  // A block of length 0 still tells the upload side the source.
  auto empty = DornsMetadata("src", std::vector<uint8_t>(4096, 0));
  EXPECT_EQ(*empty.at("uploadInfo").asDict()->at("OriginalPath").asString(), "src");
  std::vector<uint8_t> lying(4096, 0);
  lying[4095] = 0x7F;  // a length far beyond the block
  EXPECT_FALSE(ArchivedDictionaryInBlock(lying));
  setftpSite(0);
}

TEST(Metadata, JpegCommentAndPngBlock) {
  outtest::TempDir dir;
  auto page = outtest::Page(40, 30);
  ASSERT_TRUE(host::WriteImageFile(*page, dir.path / "a.jpg", host::ImageFormat::kJpeg).ok());
  ASSERT_TRUE(saveSourceWithMetadata(dir.path / "a.jpg", "Disk:Photos:\xC3\xA9t\xC3\xA9.jpg"));
  auto info = host::ReadImageInfo(dir.path / "a.jpg");
  ASSERT_TRUE(info.ok());
  auto plist = host::parsePropertyList(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(info.info.userComment.data()), info.info.userComment.size()));
  ASSERT_TRUE(plist && plist->asDict());
  EXPECT_EQ(*plist->find("OriginalPath")->asString(), "Disk:Photos:\xC3\xA9t\xC3\xA9.jpg");
  EXPECT_EQ(*plist->find("Version")->asString(), "1.01alpha");

  ASSERT_TRUE(host::WriteImageFile(*page, dir.path / "a.png", host::ImageFormat::kPng).ok());
  const auto before = fs::file_size(dir.path / "a.png");
  EXPECT_TRUE(saveDataInPNGFile(dir.path / "a.png", "src"));
  EXPECT_TRUE(saveDataInPNGFile(dir.path / "a.png", "src"));
  EXPECT_EQ(fs::file_size(dir.path / "a.png"), before + 2 * kPngMetadataBlockSize);
  // A source path whose property list outgrows the block stores nothing
  // rather than text cut in the middle.
  EXPECT_TRUE(saveDataInPNGFile(dir.path / "a.png", std::string(2100, 'p')));
  EXPECT_EQ(fs::file_size(dir.path / "a.png"), before + 2 * kPngMetadataBlockSize);
  EXPECT_TRUE(saveDataInPNGFile(dir.path / "missing.png", "src"));
  EXPECT_FALSE(fs::exists(dir.path / "missing.png"));
}

TEST(OutputFiles, VideoCopiesBesideTheOutput) {
  outtest::TempDir dir;
  const fs::path clip = dir.Sub("clips") / "party.mov";
  std::ofstream(clip) << "video";
  const fs::path out = dir.Sub("out");
  TOutputJob job;
  job.videoCopy = true;
  job.videoPath = clip.string();
  job.videoFolders = {dir.Sub("images"), dir.path / "clips"};
  tSpecialPrintToFilePref rec;
  TOutputEnv env;
  DoIfVideoCopy(job, rec, out, env);  // the set does not keep web sizes: no copy
  EXPECT_TRUE(fs::is_empty(out));
  rec.doNotResizeJpegForWeb = 1;
  DoIfVideoCopy(job, rec, out, env);
  DoIfVideoCopy(job, rec, out, env);
  EXPECT_EQ(outtest::ReadFile(out / "party copy.mov").size(), 5u);
  rec.overwrite = 1;
  DoIfVideoCopy(job, rec, out, env);
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(out)) ++files;
  EXPECT_EQ(files, 2);

  // Merged clips: with overwrite on one of the same name is replaced; with
  // it off the merge takes a " copy" name, as a copy does.
  job.videoMerge = true;
  fs::path mergedTo;
  env.mergeVideos = [&](int fd, const fs::path& d, bool, fs::path*) {
    mergedTo = d;
    char text[8] = {};
    return ::pread(fd, text, sizeof text, 0) == 5 && std::string(text) == "video" ? OSErr(noErr) : OSErr(ioErr);
  };
  DoIfVideoCopy(job, rec, out, env);
  EXPECT_EQ(mergedTo, out / "party.mov");
  rec.overwrite = 0;
  DoIfVideoCopy(job, rec, out, env);
  EXPECT_EQ(mergedTo, out / "party copy 1.mov");
  mergedTo.clear();
  DoIfVideoCopy(job, rec, dir.Sub("empty"), env);
  EXPECT_EQ(mergedTo, dir.path / "empty" / "party.mov");

  // A clip inside the output folder keeps its file, overwrite or not; the
  // merge goes beside it. Here the output folder is one the clips come from.
  job.videoFolders.push_back(out);
  job.videoPath = (out / "party.mov").string();
  rec.overwrite = 1;
  DoIfVideoCopy(job, rec, out, env);
  EXPECT_EQ(mergedTo, out / "party copy 1.mov");
}

// Only clips inside the served folders are copied; one elsewhere on the
// machine, or reached through a link out of a served folder, is refused.
TEST(OutputFiles, VideoCopiesComeOnlyFromTheServedFolders) {
  outtest::TempDir dir;
  const fs::path images = dir.Sub("images"), shared = dir.Sub("shared"), elsewhere = dir.Sub("elsewhere");
  fs::create_directories(shared / "Videos");
  std::ofstream(shared / "Videos" / "ours.mov") << "ours";
  std::ofstream(images / "photo.mov") << "photo";
  std::ofstream(elsewhere / "theirs.mov") << "theirs";
  fs::create_directory_symlink(elsewhere, images / "door");
  const fs::path out = dir.Sub("out");
  TOutputJob job;
  job.videoCopy = true;
  job.videoFolders = {images, shared};
  tSpecialPrintToFilePref rec;
  rec.doNotResizeJpegForWeb = 1;
  TOutputEnv env;
  for (const fs::path& clip : {elsewhere / "theirs.mov", images / "door" / "theirs.mov",
                               images / ".." / "elsewhere" / "theirs.mov", shared / "Videos" / "ours.mov",
                               images / "photo.mov"}) {
    job.videoPath = clip.string();
    DoIfVideoCopy(job, rec, out, env);
  }
  EXPECT_FALSE(fs::exists(out / "theirs.mov"));
  EXPECT_EQ(outtest::ReadFile(out / "ours.mov").size(), 4u);
  EXPECT_EQ(outtest::ReadFile(out / "photo.mov").size(), 5u);
  // With no served folder known nothing is copied.
  job.videoFolders.clear();
  job.videoPath = (images / "photo.mov").string();
  DoIfVideoCopy(job, rec, dir.Sub("none"), env);
  EXPECT_TRUE(fs::is_empty(dir.path / "none"));
}

TEST(PrintInfo, TheJobsPrintSettingsAreKeptUntilTheNextJobReplacesThem) {
  using namespace host;
  auto uid = [](int64_t n) { return PlistValue(PlistDict{{"CF$UID", n}}); };
  // A print-settings object as the stations archive it.
  PlistArray objects{PlistValue("$null"), PlistDict{{"NSCopies", 2}, {"$class", uid(2)}},
                     PlistDict{{"$classname", "NSPrintInfo"}, {"$classes", PlistArray{"NSPrintInfo", "NSObject"}}}};
  PlistDict archive{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}, {"$top", PlistDict{{"root", uid(1)}}},
                    {"$objects", objects}};
  const auto bytes = *serializePropertyList(PlistValue(archive), PlistFormat::Binary);
  ASSERT_TRUE(output::SetCocoaPrintInfo(bytes));
  ASSERT_TRUE(output::gCocoaPrintInfo);
  EXPECT_EQ(output::gCocoaPrintInfo->archive, bytes);
  const PlistDict* settings = output::gCocoaPrintInfo->settings.asDict();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(*settings->at("$classname").asString(), "NSPrintInfo");
  EXPECT_EQ(*settings->at("NSCopies").asInteger(), 2);
  // A job whose settings do not unarchive, or that has none, leaves none.
  const std::vector<uint8_t> junk{1, 2, 3, 4};
  EXPECT_FALSE(output::SetCocoaPrintInfo(junk));
  EXPECT_FALSE(output::gCocoaPrintInfo);
  ASSERT_TRUE(output::SetCocoaPrintInfo(bytes));
  EXPECT_FALSE(output::SetCocoaPrintInfo({}));
  EXPECT_FALSE(output::gCocoaPrintInfo);
}
