// Services that record what the pipeline asked of them, over a temporary
// spool tree on disk. Every service the pipeline has is answered here, so a
// test sees what each call did instead of a silent default.
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/files/FileOps.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/PrinterHandOff.h"
#include "pipeline/PrinterRecords.h"
#include "pipeline/Services.h"

struct FakeServices : pipeline::TPipelineServices, pipeline::THandOffHooks {
  std::vector<std::string> logs, messages, statuses;
  std::vector<uint8_t> printInfo;
  bool printInfoCleared = false;
  float blur = -1;
  bool applyEmbedded = false;
  CStr255_AC customerEmail, groupCode;
  std::vector<uint8_t> emailEntry;
  bool setFolderResolves = true;
  tJobInfo jobInfo;

  std::deque<std::filesystem::path> queue;
  std::vector<std::filesystem::path> reinserted;
  std::vector<std::filesystem::path> handedFiles;
  int rescans = 0, rescansBetweenObjects = 0, resetModDates = 0, buttonsEnabled = 0, printLogs = 0, beeps = 0;
  int previews = 0, clearedPreviews = 0;
  bool keepJobFiles = false, fullRescan = false, askOnFailedJob = false;
  int alertAnswer = 5;
  // The job file each job-file message and alert 1003 named.
  std::vector<std::string> messageJobFileNames, alertJobFileNames, messageDetailLines;
  std::vector<int16_t> printToFileSets;  // each set the view named
  bool paused = false;
  std::filesystem::path unknownDir, finishedDir, imagesDir;
  uint32_t ticks = 1000;
  std::vector<uint32_t> loggedTicks;  // the elapsed ticks of each print log line
  std::vector<std::array<int, 4>> printCounts;
  std::optional<std::array<int, 4>> preparedCount;

  std::optional<std::filesystem::path> printCenterFolder;
  bool useNewHandOff = false;
  int16_t dualSwitch = 0;
  std::vector<bool> printCenterStarts;

  void Log(std::string_view t) override { logs.emplace_back(t); }
  void OperatorMessage(std::string_view t) override { messages.emplace_back(t); }

  void SetJobInfo(const tJobInfo& info) override { jobInfo = info; }
  void SetPrinterAndTemplate(int16_t, const CStr31_AC&, const CStr31_AC&) override {}
  void SetPrintToFileSet(int16_t set) override { printToFileSets.push_back(set); }
  void SetJobFileName(const std::string&) override {}
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void PrintLog(uint32_t elapsed) override {
    ++printLogs;
    loggedTicks.push_back(elapsed);
  }
  void EnableButtonsWhenDone() override { ++buttonsEnabled; }
  void EnableBackgroundPrinting(bool on) override { paused = !on; }
  bool IsBackgroundPrintingEnabled() override { return !paused; }
  void SetImage(const host::GWorld* offscreen, const std::string&) override {
    if (offscreen) ++previews;
    else ++clearedPreviews;
  }
  void SetFilesToDelete(std::vector<std::filesystem::path> files) override { handedFiles = std::move(files); }
  void Beep() override { ++beeps; }

  void SetApplyEmbedded(bool on) override { applyEmbedded = on; }
  void SetBlurValue(float v) override { blur = v; }
  bool SetCocoaPrintInfo(std::span<const uint8_t> b) override {
    printInfo.assign(b.begin(), b.end());
    printInfoCleared = b.empty();
    return !b.empty();
  }
  void SetEmailEntryBuffer(std::span<const uint8_t> b) override { emailEntry.assign(b.begin(), b.end()); }
  void SetCustomerEmail(const CStr255_AC& s) override { customerEmail = s; }
  void SetGroupCode(const CStr255_AC& s) override { groupCode = s; }

  bool PrintToFileSetFolderResolves(int) override { return setFolderResolves; }
  bool KeepJobFiles() override { return keepJobFiles; }
  bool FullRescan() override { return fullRescan; }
  bool AskOnFailedJob() override { return askOnFailedJob; }
  std::filesystem::path UnknownJobsFolder() override { return unknownDir; }
  std::filesystem::path FinishedJobsFolder() override { return finishedDir; }
  std::filesystem::path ImagesFolder() override { return imagesDir; }
  std::filesystem::path GraphicsFolder() override { return {}; }
  int AskWhatToDoWithFailedJob(const std::string& jobFileName) override {
    alertJobFileNames.push_back(jobFileName);
    return alertAnswer;
  }
  void JobFileMessage(std::string_view t, const std::string& jobFileName) override {
    messages.emplace_back(t);
    messageJobFileNames.push_back(jobFileName);
  }
  void MessageWithDetail(std::string_view t, const std::string& detailLine) override {
    messages.emplace_back(t);
    messageDetailLines.push_back(detailLine);
  }

  std::optional<std::filesystem::path> GetNextNewJobFile() override {
    if (queue.empty()) return std::nullopt;
    auto f = queue.front();
    queue.pop_front();
    return f;
  }
  void CheckForNewJobs() override { ++rescans; }
  void RescanBetweenObjects() override { ++rescansBetweenObjects; }
  void ResetLastModDate() override { ++resetModDates; }
  void SetQueueCurrentFile(const std::string&) override {}
  void InsertIntoQueue(const std::filesystem::path& f) override { reinserted.push_back(f); }

  // Deletes go to the disk (job files move by the file services): the tests
  // look at what is left.
  OSErr DeleteFile(const std::filesystem::path& file) override { return host::DeleteItem(file.string()); }

  void PrepareJobCount(const std::filesystem::path&, int count, int kind, int16_t printer, int16_t canvas) override {
    preparedCount = {count, kind, printer, canvas};
  }
  void CountJob(const std::filesystem::path&) override {
    if (preparedCount) printCounts.push_back(*preparedCount);
    preparedCount.reset();
  }
  void ForgetJobCount(const std::filesystem::path&, bool) override { preparedCount.reset(); }
  void DisposeLastNodeGWorld() override {}
  std::unique_ptr<pipeline::TSpoolerPrintView> MakeJobView() override {
    return std::make_unique<pipeline::TSpoolerPrintView>(*this);
  }
  pipeline::THandOffHooks& HandOffHooks() override { return *this; }
  uint32_t TickCount() override { return ticks; }

  std::optional<std::filesystem::path> PrintCenterFolder() override { return printCenterFolder; }
  bool UseNewHandOff() override { return useNewHandOff; }
  int16_t DualSwitch() override { return dualSwitch; }
  void OpenPrintCenter(bool useNew) override { printCenterStarts.push_back(useNew); }

  bool Logged(const std::string& text) const {
    for (const auto& l : logs)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
};
