// The status window (view resource 1001) and its views: the job list, the
// page and thumbnail previews, the activity arrows, and the error-log list.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "host/files/File.h"
#include "host/qd/GWorld.h"
#include "host/ui/Controls.h"

namespace app {

inline constexpr int16_t kStatusWindowID = 1001;

class TJobsListView;

class TBackgroundPrintWindow : public TWindow {
 public:
  bool DoIdle(IdlePhase phase) override;
  // Only while printing is off and the controller idles is there a folder
  // to read; otherwise the window's idle times are slept through.
  bool WantsIdle() const override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
  void DoPostCreate() override;
  // On activation the spool folder is scanned for new jobs, and the page
  // preview is shown or hidden by the "Hide the page preview" preference.
  void Activate(bool active) override;
  // The window lives as long as the controller that writes into it: its
  // close box minimises it, and printing goes on.
  void DoCloseBox() override;
  // Shows the page preview 'imag' unless `hideImage` of the print-server
  // preferences is on.
  void ShowOrHidePagePreview();
  void DrawSolvantaLogo();
  // The window's title stands for the print-jobs folder.
  void SetProxyToJobsFolder();
  // A click on the window's path (its path button): the folders of the
  // print-jobs folder's path are offered, the folder itself first; one of
  // the folders it lies in, when chosen, opens in the desktop's file
  // manager. True when the click was handled.
  bool HandlePathSelect(const TToolboxEvent* event);
  // The folders offered: the print-jobs folder, then each folder it lies in
  // up to the root.
  std::vector<std::filesystem::path> PathFolders() const;
  // Removes the job that was selected in the list (button 'rmve').
  void RemoveSelectedJob();
  TJobsListView* JobsList() const { return jobs_; }

 private:
  TJobsListView* jobs_ = nullptr;
  bool inIdle_ = false;
};

// Row n shows the job file at position n of the job list.
class TJobsListView : public TTextListView {
 public:
  CStr255_AC GetItemText(int16_t row) const override;
  void DoMouseCommand(int16_t row, const TToolboxEvent& event) override;
  void ShowPict(int16_t row);
  // The job file of the row selected last, kept as a file so that a re-scan
  // that moves rows does not change which job a later remove takes.
  const std::filesystem::path& SelectedFile() const { return selectedFile_; }
  void ForgetSelection() { selectedFile_.clear(); }

 private:
  std::filesystem::path selectedFile_;
};

// A preview: a copy of an offscreen, scaled to fit with its proportions.
class TPrintPreview : public TPictureView {};

// Activity arrows that advance one frame per idle call while their idle
// switch is on.
class TMyChasingArrows : public TChasingArrows {
 public:
  void EnableIdle(bool on);
  bool IsIdleEnabled() const { return idleOn_; }
  bool DoIdle(IdlePhase phase) override;
  // The frames are only worth drawing where somebody can see them.
  bool WantsIdle() const override;

 private:
  bool idleOn_ = false;
};

// The rows of "Error Log File": 257-byte rows, each a length-prefixed string
// in its first 256 bytes; a partial last row is not shown.
class TErrorListView : public TTextListView {
 public:
  void DoPostCreate() override;
  void UpdateList();
  CStr255_AC GetItemText(int16_t row) const override;
  void SetFile(const std::filesystem::path& file) { file_ = file; }

 private:
  std::filesystem::path file_;
};

// The job file's preview picture (its 'pnot' resource and the 'PICT' it
// names), or none.
host::GWorldHandle getThumbnailResourceFromFile(const std::filesystem::path& file);

// Registers the window's classes with the view server.
void RegisterStatusWindowClasses();

}  // namespace app
