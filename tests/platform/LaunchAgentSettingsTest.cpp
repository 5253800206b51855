// What an operator adds to the start-at-login unit survives the program
// rewriting and deleting that unit: the added settings move into the unit's
// drop-in folder, which the program never touches otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "common/TempDir.h"
#include "platform/ShellCommands.h"

namespace fs = std::filesystem;

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// systemctl that does nothing, first on PATH.
struct QuietSystemctl {
  TempDir dir;
  std::optional<ScopedEnv> path;
  QuietSystemctl() {
    WriteText(dir / "systemctl", "#!/bin/sh\nexit 0\n");
    ::chmod((dir / "systemctl").c_str(), 0755);
    path.emplace("PATH", dir.path() + ":" + std::getenv("PATH"));
  }
};

}  // namespace

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

// Across a start (the unit written again) and a quit (the unit deleted), the
// operator's UMask= line stays in force through the drop-in folder; a
// drop-in file of the operator's own is never changed.
TEST(LaunchAgentSettings, TheOperatorsUmaskLineSurvivesStartAndQuit) {
  TempDir config;
  ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
  QuietSystemctl systemctl;
  const fs::path unit = platform::LaunchAgentPath();
  const fs::path dropIns = platform::LaunchAgentDropInFolder();
  EXPECT_EQ(dropIns, unit.string() + ".d");
  fs::create_directories(dropIns);
  WriteText((dropIns / "shop.conf").string(), "[Service]\nNice=5\n");

  ASSERT_TRUE(loadLaunchAgentPlist());
  EXPECT_FALSE(fs::exists(platform::LaunchAgentKeptLinesPath())) << "nothing added yet";
  std::string text = ReadText(unit.string());
  text.insert(text.find("Restart="), "UMask=0002\n");
  WriteText(unit.string(), text);

  ASSERT_TRUE(loadLaunchAgentPlist());  // the next start writes the unit again
  EXPECT_EQ(ReadText(unit.string()).find("UMask"), std::string::npos);
  const std::string kept = ReadText(platform::LaunchAgentKeptLinesPath().string());
  EXPECT_NE(kept.find("[Service]\nUMask=0002\n"), std::string::npos) << kept;
  EXPECT_EQ(kept.find("ExecStart"), std::string::npos) << kept;

  text = ReadText(unit.string());
  text.insert(text.find("Restart="), "Environment=KIVO_SHARED_FOLDER=/srv/Shop\n");
  WriteText(unit.string(), text);
  unloadLaunchAgentPlist();  // quit
  EXPECT_FALSE(fs::exists(unit));
  const std::string both = ReadText(platform::LaunchAgentKeptLinesPath().string());
  EXPECT_EQ(both.find(kept), 0u) << "what was kept before stays first";
  EXPECT_NE(both.find("[Service]\nEnvironment=KIVO_SHARED_FOLDER=/srv/Shop\n", kept.size()), std::string::npos)
      << both;
  EXPECT_EQ(ReadText((dropIns / "shop.conf").string()), "[Service]\nNice=5\n");

  ASSERT_TRUE(loadLaunchAgentPlist());  // a start after the quit changes neither
  EXPECT_EQ(ReadText(platform::LaunchAgentKeptLinesPath().string()), both);
  EXPECT_EQ(ReadText((dropIns / "shop.conf").string()), "[Service]\nNice=5\n");
  unloadLaunchAgentPlist();
}
