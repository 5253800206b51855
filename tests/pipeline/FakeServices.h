// Services that record what the pipeline asked of them, over a temporary
// spool tree on disk.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/PrinterRecords.h"
#include "pipeline/Services.h"

struct FakeServices : pipeline::TPipelineServices {
  std::vector<std::string> logs, messages;
  std::vector<uint8_t> printInfo;
  bool printInfoCleared = false;
  float blur = -1;
  bool applyEmbedded = false;
  CStr255_AC customerEmail, groupCode;
  std::optional<bool> setFolderResolves;
  tJobInfo jobInfo;

  std::deque<std::filesystem::path> queue;
  std::vector<std::filesystem::path> reinserted;
  int rescans = 0, resetModDates = 0, buttonsEnabled = 0, printLogs = 0;
  bool keepJobFiles = false, fullRescan = false, askOnFailedJob = false;
  int alertAnswer = 5;
  bool paused = false;
  std::filesystem::path unknownDir, finishedDir;
  uint32_t ticks = 1000;

  void Log(std::string_view t) override { logs.emplace_back(t); }
  void OperatorMessage(std::string_view t) override { messages.emplace_back(t); }
  void SetJobInfo(const tJobInfo& info) override { jobInfo = info; }
  void SetApplyEmbedded(bool on) override { applyEmbedded = on; }
  void SetBlurValue(float v) override { blur = v; }
  bool SetCocoaPrintInfo(std::span<const uint8_t> b) override {
    printInfo.assign(b.begin(), b.end());
    printInfoCleared = b.empty();
    return !b.empty();
  }
  void SetCustomerEmail(const CStr255_AC& s) override { customerEmail = s; }
  void SetGroupCode(const CStr255_AC& s) override { groupCode = s; }
  std::optional<bool> PrintToFileSetFolderResolves(int) override { return setFolderResolves; }

  bool KeepJobFiles() override { return keepJobFiles; }
  bool FullRescan() override { return fullRescan; }
  bool AskOnFailedJob() override { return askOnFailedJob; }
  std::filesystem::path UnknownJobsFolder() override { return unknownDir; }
  std::filesystem::path FinishedJobsFolder() override { return finishedDir; }
  int AskWhatToDoWithFailedJob() override { return alertAnswer; }
  std::optional<std::filesystem::path> GetNextNewJobFile() override {
    if (queue.empty()) return std::nullopt;
    auto f = queue.front();
    queue.pop_front();
    return f;
  }
  void CheckForNewJobs() override { ++rescans; }
  void ResetLastModDate() override { ++resetModDates; }
  void InsertIntoQueue(const std::filesystem::path& f) override { reinserted.push_back(f); }
  void EnableButtonsWhenDone() override { ++buttonsEnabled; }
  void EnableBackgroundPrinting(bool on) override { paused = !on; }
  void PrintLog(uint32_t) override { ++printLogs; }
  uint32_t TickCount() override { return ticks; }

  bool Logged(const std::string& text) const {
    for (const auto& l : logs)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
};
