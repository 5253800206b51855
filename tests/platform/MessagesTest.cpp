#include "platform/Messages.h"

#include <gtest/gtest.h>

#include "MessageCapture.h"
#include "platform/StringLists.h"

namespace {

std::string Item(int16_t list, int16_t item) { return GetIndString(list, item).ToUTF8(); }

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Messages, SinkLogsAndShows) {
  MessageCapture capture;
  testing::internal::CaptureStderr();
  DisplayNormalMessagePascal("Hello ƒ");
  DisplayNormalMessage(CStr255_AC(""));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("DisplayNormalMessage ERROR string: [Hello ƒ]"), std::string::npos);
  EXPECT_NE(log.find("DisplayNormalMessage ERROR string: []"), std::string::npos);
  ASSERT_EQ(capture.texts.size(), 2u);
  EXPECT_EQ(capture.texts[0], "Hello ƒ");
  EXPECT_EQ(capture.texts[1], "");
}

TEST(Messages, WarningAndForceForms) {
  MessageCapture capture;
  testing::internal::CaptureStderr();
  DisplayWarningMessage(CStr255_AC("quiet"));
  DisplayNormalMessageForceAlways(CStr255_AC("forced"));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.find("quiet"), std::string::npos);
  EXPECT_EQ(log.find("forced"), std::string::npos);
  ASSERT_EQ(capture.texts.size(), 1u);
  EXPECT_EQ(capture.texts[0], "forced");
  DisplayWarningMessage(CStr255_AC("loud"), 1);
  DisplayWarningMessage(kCopyStrings, 12);
  ASSERT_EQ(capture.texts.size(), 3u);
  EXPECT_EQ(capture.texts[1], "loud");
  EXPECT_EQ(capture.texts[2], Item(4105, 12));
}

TEST(Messages, LongMessagesReachTheLogAndTheAlertWhole) {
  MessageCapture capture;
  // Past 255 bytes, with characters Mac Roman does not have.
  const std::string text = std::string(300, 'a') + " \xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC end";
  testing::internal::CaptureStderr();
  DisplayNormalMessage(text.c_str());
  DisplayNormalMessage(text);
  DisplayNormalMessagePascal(text);
  DisplayWarningMessage(CStr255_AC(std::string(255, 'b')), 1);  // a length-prefixed text passes unchanged
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_EQ(capture.texts.size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(capture.texts[i], text);
  EXPECT_EQ(capture.texts[3], std::string(255, 'b'));
  EXPECT_EQ(CountOf(log, "DisplayNormalMessage ERROR string: [" + text + "]\n"), 3u) << log;
}

TEST(Messages, FileErrorReporters) {
  MessageCapture capture;
  EXPECT_EQ(checkFileError(noErr), 0);
  EXPECT_EQ(myNewFileError(noErr), 0);
  EXPECT_TRUE(capture.texts.empty());
  checkFileError(dskFulErr);
  checkFileError(fnfErr);
  checkFileError(-47);
  myNewFileError(-47);
  myNewFileError(dupFNErr);
  ASSERT_EQ(capture.texts.size(), 5u);
  EXPECT_EQ(capture.texts[0], "Disk is full!");
  EXPECT_EQ(capture.texts[1], Item(4100, 21));
  EXPECT_EQ(capture.texts[2], Item(4100, 32));
  EXPECT_EQ(capture.texts[3], "An error occured while trying to create a new file, error code = -47");
  EXPECT_EQ(capture.texts[4], Item(4100, 19));
  EXPECT_EQ(FileErrorItem(-5025), 15);
  EXPECT_EQ(FileErrorItem(-120), 17);
  EXPECT_EQ(FileErrorItem(-61), 31);
}

TEST(Messages, MemoryAndResourceReporters) {
  MessageCapture capture;
  checkMyMemError(nilHandleErr);
  EXPECT_TRUE(capture.texts.empty());
  myCheckResError(nilHandleErr);
  checkMyMemError(-1);
  myCheckResError(-1);
  checkMyMemError(-194);
  ASSERT_EQ(capture.texts.size(), 4u);
  EXPECT_EQ(capture.texts[0], Item(4102, 8));
  EXPECT_EQ(capture.texts[1], Item(4102, 15));
  EXPECT_EQ(capture.texts[2], Item(4102, 16));
  EXPECT_EQ(capture.texts[3], Item(4102, 12));
}

TEST(StringLists, EveryItemTheProgramUsesHasText) {
  for (int16_t item = 9; item <= 32; ++item) {
    if (item >= 10 && item <= 13) continue;
    EXPECT_TRUE(HasIndString(4100, item)) << item;
  }
  for (int16_t item = 5; item <= 16; ++item) EXPECT_TRUE(HasIndString(4102, item)) << item;
  for (int16_t item : {1, 3, 4, 5, 6, 7, 8, 10, 11, 13, 14, 17, 18, 19}) EXPECT_TRUE(HasIndString(4101, item));
  for (int16_t item : {7, 8}) EXPECT_TRUE(HasIndString(4104, item));
  for (int16_t item : {10, 11, 12, 13, 14, 15, 16, 31, 33, 50}) EXPECT_TRUE(HasIndString(4105, item));
  for (int16_t item : {1, 30}) EXPECT_TRUE(HasIndString(4106, item));
  for (int16_t item : {9, 23, 34, 40}) EXPECT_TRUE(HasIndString(4112, item));
  EXPECT_FALSE(HasIndString(4100, 99));
  EXPECT_FALSE(GetIndString(4100, 99).IsEmpty());
}

}  // namespace

#include "platform/MemoryUtils.h"

namespace {

TEST(MemoryUtils, CreateHandleKeepsAMatchingBlock) {
  MessageCapture capture;
  Handle h = createHandle(nullptr, 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(platform::GetHandleSize(h), 16u);
  uint8_t state = 0;
  EXPECT_TRUE(myGetHandleState(h, state));
  EXPECT_TRUE(state & platform::kHandleLocked);
  (*h)[15] = 7;
  EXPECT_EQ(createHandle(h, 16), h);
  Handle bigger = createHandle(h, 32);  // h is disposed
  ASSERT_NE(bigger, nullptr);
  EXPECT_EQ(platform::GetHandleSize(bigger), 32u);
  EXPECT_EQ(createHandle(bigger, 0), nullptr);  // bigger is disposed
  EXPECT_EQ(myDisposeHandle(nullptr), nullptr);
  EXPECT_EQ(myDisposePtr(platform::NewPtr(8)), nullptr);
  EXPECT_EQ(myHLock(nullptr), noErr);
  EXPECT_FALSE(myGetHandleState(nullptr, state));
  EXPECT_TRUE(capture.texts.empty());
}

}  // namespace

namespace {

TEST(MemoryUtils, ReleasingAResourceFreesItAndAnythingElseIsReported) {
  MessageCapture capture;
  host::ResourceMap map;
  map.Set(FourCC("PREF"), 128, "", {1, 2, 3});
  Handle resource = platform::Get1Resource(map, FourCC("PREF"), 128);
  ASSERT_NE(resource, nullptr);
  EXPECT_EQ(platform::GetHandleSize(resource), 3u);
  EXPECT_EQ((*resource)[2], 3);
  // Locking and restoring its state keeps it a resource.
  EXPECT_TRUE(myRestoreHandleState(resource, platform::kHandleLocked));
  EXPECT_EQ(myReleaseResource(resource), nullptr);
  EXPECT_EQ(platform::ResError(), noErr);
  EXPECT_TRUE(capture.texts.empty());

  EXPECT_EQ(platform::Get1Resource(map, FourCC("PREF"), 129), nullptr);
  EXPECT_EQ(platform::ResError(), resNotFound);
  EXPECT_EQ(myReleaseResource(nullptr), nullptr);
  EXPECT_TRUE(capture.texts.empty());

  // A plain block is not a resource: it stays, and the error is shown.
  Handle plain = platform::NewHandle(4);
  EXPECT_EQ(myReleaseResource(plain), nullptr);
  ASSERT_EQ(capture.texts.size(), 1u);
  EXPECT_EQ(capture.texts[0], Item(4102, 13));
  EXPECT_EQ(platform::GetHandleSize(plain), 4u);
  myDisposeHandle(plain);
}

}  // namespace
