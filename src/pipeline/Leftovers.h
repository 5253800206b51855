// What a killed run left in the program's own folders, removed at the next
// start: files it was writing under hidden names in the output folders (a
// file system without unnamed files stages them there, see
// host/files/StagedFile.h; earlier versions always did), "Tempfile_" hand-off
// files of this machine, the encoder's ".kivo-merge-" working folders, and
// half-written copies in "KIVO PRIVATE FOLDER". Only the program's own names
// are touched, only what was last changed before this run started and what
// no other program holds a lock on (a second processor writing into a shared
// set folder keeps its files), and never through a link.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pipeline {

// Whether `name` is one the program gives a file it is still writing in an
// output folder (set, print-to-file, web or hand-off folder): a set's
// staging file ".kivo-work-…", a copy's ".<name>.kivo-XXXXXXXX", or the
// ".kivo-tmp-", ".kivo-copy-" and ".kivo-move-" forms; with `handOff` also
// "Tempfile_<this machine's address>_NNNN".
bool IsLeftoverFileName(const std::string& name, bool handOff);
// Whether `name` is the encoder's working folder ".kivo-merge-XXXXXX".
bool IsLeftoverFolderName(const std::string& name);

// Sweeps the output folders the preferences name (the eight sets and their
// subfolders, the print-to-file, web and CD folders, the print centre's two
// hand-off folders) and the private folder; each removal is logged. Call at
// start-up, once the spool folder is this program's, before any job runs.
void SweepLeftoversOfEarlierRuns();

// The same for one folder: `handOff` for the print centre's folders,
// `depth` levels of subfolders.
std::vector<std::string> SweepOutputFolder(const std::filesystem::path& folder, bool handOff, int depth);
std::vector<std::string> SweepPrivateFolder(const std::filesystem::path& folder);

}  // namespace pipeline
