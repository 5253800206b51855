// What an operator adds to the start-at-login unit is told apart from what
// the program writes there, so that it can move into the unit's drop-in
// folder before the program rewrites or deletes the unit (the move itself is
// tested through the program in tests/e2e/ShellAndAgentTest.cpp).
#include <gtest/gtest.h>

#include "platform/ShellCommands.h"

TEST(LaunchAgentSettings, OnlyTheSettingsTheTemplateLacksAreTheOperators) {
  const std::string unit = *platform::LaunchAgentUnitText("/usr/local/bin/kivo-processor");
  EXPECT_EQ(platform::OperatorLinesOfUnit(unit), "");

  std::string edited = unit;
  edited.insert(edited.find("Restart=on-failure"), "UMask=0002\n# the shop's group\n");
  edited.replace(edited.find("RestartSec=10"), 13, "RestartSec=30");
  edited.insert(edited.find("[Install]"), "Environment=KIVO_SHARED_FOLDER=/srv/Shop\n\n");
  edited += "[Unit]\nAfter=network-online.target\n";
  EXPECT_EQ(platform::OperatorLinesOfUnit(edited),
            "[Service]\nUMask=0002\nRestartSec=30\nEnvironment=KIVO_SHARED_FOLDER=/srv/Shop\n"
            "\n[Unit]\nAfter=network-online.target\n");
  // Another program line, text outside a section and stray words are no
  // settings to keep.
  EXPECT_EQ(platform::OperatorLinesOfUnit("UMask=0002\nstale text\n[Service]\nExecStart=/bin/other\njunk\n"), "");
}
