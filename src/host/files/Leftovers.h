// Removing what a killed program left in its folders: temporary files it
// was writing, working folders of its helpers. Only names the caller
// recognises as the program's own are touched, only what the program's
// user owns (a station user's file is never removed, whatever its name;
// a working folder holding one stays whole), only what was last changed
// before a given moment (the start of this run) and only what nobody holds a
// lock on (a staged file is flocked while it is written, see StagedFile.h),
// so a second program writing in the same folder keeps its files. Nothing is
// ever followed through a link: the folder's own name, its subfolders and
// every entry are opened without following one, and a link is never taken
// for a file or folder.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace host {

struct LeftoverNames {
  // Names of files that are the program's own leftovers.
  std::function<bool(const std::string& name)> file;
  // Names of folders the program makes and removes again whole (their
  // files, and links, go with them; a folder holding a folder is kept).
  std::function<bool(const std::string& name)> folder;
  // How many levels of subfolders (names not starting with ".") are looked
  // in too.
  int depth = 0;
  // Files (by path) that stay whatever their name: another part of the
  // program still answers for them.
  std::function<bool(const std::string& path)> keep;
};

// Removes from `folder` the leftovers `names` recognises that were last
// changed before `before` and are not locked; the paths removed.
std::vector<std::string> SweepLeftovers(const std::string& folder, const LeftoverNames& names,
                                        const struct timespec& before);

// Whether `name` is "<prefix><8 hexadecimal digits><suffix>", the form of
// CreateUniqueFile's names.
bool IsUniqueName(const std::string& name, const std::string& prefix, const std::string& suffix = {});

}  // namespace host
