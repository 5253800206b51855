// A station set up for video merges with stand-ins for the encoder: set 1
// keeps web sizes (which the video copy needs), the shared folder holds the
// intro and outro clips, and stand-ins come first on PATH: ffprobe describes
// every clip as 160 x 120, `seconds` long, without sound; ffmpeg runs
// `ffmpegScript` (its last argument is "file:" and the result's path).
// Without a script the real encoder merges, and the intro and outro are
// real clips of a second each. The customer's clip "party.mov" ("the
// party", or the bytes given) waits in the images folder's "videos".
#pragma once

#include <cstdlib>
#include <string>

#include "e2e/E2E.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace e2e {

// A clip of a test picture at 10 frames a second, made with `options` for
// the encoder ("-t 1": a second of it); false when ffmpeg could not make it.
inline bool MakeClip(const fs::path& file, const std::string& options) {
  return std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -pix_fmt yuv420p " +
                      options + " '" + file.string() + "'")
                         .c_str()) == 0;
}

// The stand-ins' folder (none for the real encoder).
inline fs::path PrepareMerge(Station& station, const std::string& ffmpegScript, bool overwrite,
                             const std::string& seconds = "0.5") {
  mySetAllDefaults();
  tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(1);
  set->doNotResizeJpegForWeb = 1;
  set->overwrite = overwrite ? 1 : 0;
  const std::vector<uint8_t> blob = PrintToFileSetBlob(1);
  EXPECT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(host::PlistData(blob.begin(), blob.end()))));
  const fs::path shared = station.base() / "shared";
  fs::create_directories(shared / "MasterDvdContentFolder");
  station.SetEnv("KIVO_SHARED_FOLDER", shared.string());
  if (ffmpegScript.empty()) {
    for (const char* part : {"Chapter1.mov", "Chapter3.mov"})
      EXPECT_TRUE(MakeClip(shared / "MasterDvdContentFolder" / part, "-t 1")) << "ffmpeg made no " << part;
    return {};
  }
  WriteAll(shared / "MasterDvdContentFolder" / "Chapter1.mov", "intro");
  WriteAll(shared / "MasterDvdContentFolder" / "Chapter3.mov", "outro");
  const fs::path bin = station.base() / "bin";
  fs::create_directories(bin);
  WriteAll(bin / "ffprobe", "#!/bin/sh\ncase \"$*\" in\n  *format=duration*) echo " + seconds +
                                ";;\n  *stream=width,height*) echo 160x120;;\nesac\n");
  WriteAll(bin / "ffmpeg", "#!/bin/sh\n" + ffmpegScript);
  for (const char* tool : {"ffprobe", "ffmpeg"}) fs::permissions(bin / tool, fs::perms::owner_all);
  station.SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
  return bin;
}

inline jobwriter::TJobDescription MergeJob(const Station& station) {
  jobwriter::TJobDescription job = SetOneJob("Blue.jpg", "Video");
  job.videoCopy = 1;
  job.videoMerge = 1;
  job.videoPath = (station.images() / "videos" / "party.mov").string();
  return job;
}

inline void DropMergeJob(Station& station, const std::string& name, const std::string& clip = "the party") {
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg"));
  ASSERT_TRUE(WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  fs::create_directories(station.images() / "videos");
  WriteAll(station.images() / "videos" / "party.mov", clip);
  ASSERT_TRUE(station.Drop(MergeJob(station), name));
}

// The process id a stand-in wrote into `file`, once it is there.
inline pid_t PidIn(const fs::path& file) {
  pid_t pid = 0;
  WaitUntil([&] { return (pid = std::atoi(ReadAll(file).c_str())) > 0; }, 60);
  return pid;
}

}  // namespace e2e
