// One application object for the in-process tests, started in a temporary
// application folder with its own configuration, state and runtime folders.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/AppResources.h"
#include "app/BackgroundPrintApp.h"
#include "app/PrintBGBehavior.h"
#include "app/SpoolQueue.h"
#include "host/ui/Alerts.h"

namespace apptest {

namespace fs = std::filesystem;

inline fs::path MakeTempFolder(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string("kivo-") + tag + "-XXXXXX")).string();
  const char* made = mkdtemp(pattern.data());
  return made ? fs::path(made) : fs::path();
}

// Points every folder the program uses into `base`.
inline void UseFolders(const fs::path& base) {
  fs::create_directories(base / "app");
  fs::create_directories(base / "run");
  fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
  setenv("KIVO_APP_FOLDER", (base / "app").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
  setenv("XDG_STATE_HOME", (base / "state").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (base / "run").c_str(), 1);
}

// Writes a file and gives it a modification time `age` seconds in the past.
inline void TouchFile(const fs::path& file, int age, const std::string& text = "x") {
  std::ofstream(file, std::ios::binary) << text;
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(age));
}

}  // namespace apptest
