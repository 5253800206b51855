// The camera setting tables: both directions of each list and its ends.
#include "imaging/CameraSettings.h"

#include <gtest/gtest.h>

namespace {

TEST(CameraSettings, ListsRoundTripAndTheirEdges) {
  for (int16_t i = 1; i <= 20; ++i) EXPECT_EQ(getItemFromAperture(getApertureFromItem(i)), i);
  for (int16_t i = 1; i <= 40; ++i) EXPECT_EQ(getItemFromAperture3rdStop(getApertureFromItem3rdStop(i)), i);
  for (int16_t i = 1; i <= 59; ++i) EXPECT_EQ(getItemFromShutterSpeed3rdStop(int16_t(getShutterSpeedFromItem3rdStop(i))), i);
  for (int16_t i = 1; i <= 24; ++i) EXPECT_EQ(getItemFromExposureCompensation(getExposureCompensationFromItem(i)), i);
  EXPECT_EQ(getApertureFromItem(20), 84);
  EXPECT_EQ(getApertureFromItem3rdStop(40), 112);
  EXPECT_EQ(getShutterSpeedFromItem3rdStop(1), 4);
  EXPECT_EQ(getShutterSpeedFromItem3rdStop(5), 24);
  EXPECT_EQ(getShutterSpeedFromItem3rdStop(59), 168);
  EXPECT_EQ(getShutterSpeedFromItem3rdStop(60), 0xFFFF);
  EXPECT_EQ(getItemFromExposureCompensation(44), 255);
  EXPECT_EQ(getItemFromAperture(10), 0);
  EXPECT_EQ(getStringFromExposureCompensationConstant(44).ToMacRoman(), "-2 1/2");
  EXPECT_EQ(getStringFromExposureCompensationConstant(3).ToMacRoman(), "+2 2/3");
  EXPECT_EQ(getStringFromExposureCompensationConstant(1).ToMacRoman(), "");
  EXPECT_EQ(getStringFromWhiteBalanceConstant(9).ToMacRoman(), "Color Temperature");
  EXPECT_EQ(getStringFromWhiteBalanceConstant(10).ToMacRoman(), "");
  EXPECT_EQ(GetImageProfileName(19).ToMacRoman(), "DCSWeddingLook.icm");
  EXPECT_EQ(GetImageProfileName(8).ToMacRoman(), "DCSPortraitLook.icm");
  EXPECT_EQ(GetImageProfileName(-3).ToMacRoman(), "DCSPortraitLook.icm");
}

TEST(CameraSettings, EventSwitches) {
  CameraEventHandler(4, 0, nullptr, 0, nullptr);
  EXPECT_TRUE(gKPDCFolderContent);
  EXPECT_FALSE(gFolderContentChanged);
  CameraEventHandler(9, 0, nullptr, 0, nullptr);
  CameraEventHandler(4, 0, nullptr, 0, nullptr);
  EXPECT_TRUE(gFolderContentChanged);
  EXPECT_FALSE(gKPDCDeleteFile);
  CameraEventHandler(10, 0, nullptr, 0, nullptr);
  EXPECT_TRUE(gKPDCDeleteFile);
}

}  // namespace
