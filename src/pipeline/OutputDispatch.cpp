#include "pipeline/OutputDispatch.h"

#include <algorithm>
#include <cstring>

#include "host/base/MacRoman.h"
#include "output/Metadata.h"
#include "output/Notifications.h"
#include "output/PrintCounts.h"
#include "output/PrintToFile.h"
#include "output/PrintInfo.h"
#include "output/SystemPrint.h"
#include "prefs/PrefRecords.h"
#include "imaging/ImageWriters.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/PrintJobTaskManager.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/PrinterHandOff.h"
#include "platform/Log.h"
#include "platform/ShellCommands.h"

namespace pipeline {

namespace {

std::string Utf8(std::string_view macRoman) { return host::MacRomanToUTF8(macRoman); }

using output::kCountPrintCenter;
using output::kCountPrintToFile;
using output::kCountSystemPrinter;

}  // namespace

int PrintCopies(uint16_t printQuantity) {
  return std::clamp<int>(printQuantity, 1, kMaxPrintCopies);
}

bool NotifyJobProcessed(std::span<const uint8_t> archive) {
  const std::optional<host::PlistDict> web = output::UnarchiveWebDictionary(archive);
  return web && output::NotifyWebServer(*web, output::kJobProcessedStatus);
}

// The set printer codes are those with an entry of their own in the sets'
// printer table.
bool IsPrintToFileSetCode(int16_t code) { return getMyPrint2FileSetPref(code) != nullptr; }

output::TOutputEnv& OutputEnvironment() {
  static output::TOutputEnv env = output::DefaultOutputEnv();
  return env;
}

void SetOutputEnvironment(output::TOutputEnv env) {
  output::CompleteOutputEnv(env);
  OutputEnvironment() = std::move(env);
}

output::TOutputJob MakeOutputJob(const TBGPrintView& view, const std::optional<host::PlistDict>& web) {
  output::TOutputJob job;
  job.printerCode = view.printer;
  job.copies = int16_t(PrintCopies(view.printQuantity));
  job.resolution = view.resolution;
  job.outputQuality = view.printToFileOptionD;
  job.plainName = view.printToFileOptionC != 0;
  job.currentImageName = view.currentImageName;
  job.currentImageExt = view.currentImageExt;
  job.templateName = Utf8(view.templateName.view());
  job.baseName = Utf8(view.baseName.view());
  job.nameSuffix = Utf8(view.nameSuffix.view());
  job.jobSet = view.printToFileSet;
  const auto& item = view.blocks.print2File;
  job.item.setNumber = int16_t(item.setNumber);
  job.item.keepAlpha = item.transparency != 0;
  job.item.subfolders = item.w4 != 0;
  for (size_t i = 0; i < 6; ++i) job.item.rules[i] = layout::LoadU16BE(item.raw.data() + 2 * i) != 0;
  job.webDictionary = web;
  job.videoCopy = view.videoCopy != 0;
  job.videoMerge = view.videoMerge != 0;
  job.videoPath = view.videoPath;
  job.videoFolders = {view.ImagesFolder(), platform::SharedFolder()};
  const auto* text = reinterpret_cast<const char*>(view.trailerText->data());
  job.sourcePath = Utf8(std::string_view(text, strnlen(text, view.trailerText->size())));
  job.dornsSwitch = view.metadataOption != 0;
  job.dornsBlock.assign(view.blockE->begin(), view.blockE->end());
  job.yearbookValues = &(*view.yearbookRecords)[0].strings;
  job.yearbookTitles = &(*view.yearbookRecords)[1].strings;
  if (view.printer >= 0 && size_t(view.printer) < view.colorSyncPrefs->printers.size())
    job.embedSourceProfile = view.colorSyncPrefs->printers[size_t(view.printer)].w0 != 0;
  if (gPrintJobTaskManager) {
    job.firstImageFile = gPrintJobTaskManager->GetCurrentImageFileFSSpec();
    job.placements.placedBefore = [](const std::string& key) -> std::optional<std::filesystem::path> {
      if (!gPrintJobTaskManager) return std::nullopt;
      return gPrintJobTaskManager->JobOutputPlacedBefore(key);
    };
    job.placements.placing = [](const std::string& key, const std::filesystem::path& working,
                                const std::filesystem::path& target) {
      return gPrintJobTaskManager && gPrintJobTaskManager->JobOutputPlacing(key, working, target);
    };
    job.placements.placed = [](const std::string& key, const std::filesystem::path& target) {
      if (gPrintJobTaskManager) gPrintJobTaskManager->JobOutputPlaced(key, target);
    };
    job.placements.notPlaced = [](const std::string& key) {
      if (gPrintJobTaskManager) gPrintJobTaskManager->JobOutputNotPlaced(key);
    };
  }
  return job;
}

void TBGPrintView::SetCurrentImageName(const std::string& utf8Name) {
  output::TOutputJob names;
  output::SetCurrentImageName(names, utf8Name);
  if (utf8Name == "No File") return;
  // The status window names the photo while it is read and drawn, over the
  // page drawn so far.
  shownImageName = utf8Name;
  if (pageOffscreen) services.SetImage(pageOffscreen.get(), shownImageName);
  currentImageName = names.currentImageName;
  currentImageExt = names.currentImageExt;
  ticketNumber = names.currentImageName;
}

bool TBGPrintView::SaveOriginalFile(const std::filesystem::path& photo) {
  auto job = MakeOutputJob(*this, std::nullopt);
  return output::SaveOriginalFile(job, photo, OutputEnvironment());
}

int16_t TBGPrintView::SaveCKCopyInPrintToFileEightFolder(const host::GWorld* page) {
  const auto job = MakeOutputJob(*this, std::nullopt);
  return output::SaveCKCopyInPrintToFileEightFolder(job, page, OutputEnvironment());
}

host::GWorldHandle TBGPrintView::ReadIfCKCopyExists() {
  const FSSpec photo = GetImageFSSpec();
  SetCurrentImageName(host::MacRomanToUTF8(photo.name.view()));
  const auto job = MakeOutputJob(*this, std::nullopt);
  return output::ReadCKCopy(job, OutputEnvironment());
}

int16_t TSpoolerPrintView::PrepareForPrinter() {
  // The web dictionary is posted only for jobs whose two job-information
  // words agree, and only once the page is in place (ProcessedNotification).
  std::optional<host::PlistDict> web;
  web = output::UnarchiveWebDictionary(WebDictionaryArchive());
  if (web) services.Log("My converted dictionary contains " + std::to_string(web->size()) + " entries\n");

  // The prints made and the prints counted agree: a quantity of 0 makes and
  // counts one; a quantity larger than a route can make is refused before
  // anything is written, rather than made and counted short.
  if (printQuantity > kMaxPrintCopies) {
    const std::string why = "The job asks for " + std::to_string(printQuantity) + " prints; at most " +
                            std::to_string(kMaxPrintCopies) + " can be made, so it is not printed";
    services.Log(why + "\n");
    services.OperatorMessage(why);
    return kResultPrinterFile;
  }
  const int copies = PrintCopies(printQuantity);
  int kind = kCountPrintCenter;
  if (printer == 8) kind = kCountSystemPrinter;
  else if (IsPrintToFileSetCode(printer) || printer == 17) kind = kCountPrintToFile;
  // Prepared before the output leaves the program, so that a job killed
  // once its output is out is counted at the next start.
  if (gPrintJobTaskManager) gPrintJobTaskManager->PrepareJobCount(copies, kind, printer, canvas);
  else services.PrepareJobCount({}, copies, kind, printer, canvas);

  host::GWorldHandle page = std::move(pageOffscreen);
  int16_t result = kResultOK;
  if (printer == 8) {
    services.Log(output::gCocoaPrintInfo ? "Printing through Cocoa\n" : "Printing through MacApp\n");
    output::TChooserPrintJob job;
    job.resolution = resolution;
    job.copies = int16_t(copies);
    // The printer's job is named by the try the record knows: only a job of
    // this try is taken for ours when the printer is asked again.
    std::optional<std::string> attempt;
    if (gPrintJobTaskManager && gPrintJobTaskManager->JobFile()) {
      attempt = JobAttemptName(*gPrintJobTaskManager->JobFile());
      if (attempt) job.jobName = output::PrinterJobName(*gPrintJobTaskManager->JobFile(), *attempt);
    } else {
      attempt = std::string();
    }
    job.documentFolder = imaging::PrivateFolderPath();
    job.beforeSending = [](const std::string& handOver) {
      return !gPrintJobTaskManager || gPrintJobTaskManager->JobOutputPlacing(handOver);
    };
    job.setStatus = [this](const std::string& text) { services.SetStatus(text); };
    // The jobs earlier tries had the printer make are in the job's marks;
    // each new one is recorded there before its page is sent.
    if (gPrintJobTaskManager && gPrintJobTaskManager->JobFile()) {
      const std::filesystem::path jobFile = *gPrintJobTaskManager->JobFile();
      job.recordedSteps = JobMarks(jobFile);
      job.recordStep = [jobFile](const std::string& step) { return RecordJobMark(jobFile, {}, step); };
    }
    std::string message;
    if (attempt) {
      result = output::DoChooserPrint(std::move(page), job, &message);
    } else {
      message = "the print could not be recorded before it was sent";
      services.Log("The page could not be printed: " + message + "\n");
      result = output::kResultSystemPrintFailed;
    }
    // The program is ending: the job did not print and waits for the next
    // start; it is no failure.
    if (result == output::kResultSystemPrintStopped) return kResultStopped;
    const std::string jobFileName = gPrintJobTaskManager && gPrintJobTaskManager->JobFile()
                                        ? gPrintJobTaskManager->JobFile()->filename().string()
                                        : std::string();
    // A page the printer may have from an earlier try is not sent again: the
    // operator is told, naming the job, and decides.
    if (result == output::kResultSystemPrintUncertain) services.JobFileMessage(message, jobFileName);
    // A page the printer did not take is a failed job, told to the operator,
    // naming the job.
    else if (result != kResultOK) services.JobFileMessage("The page could not be printed: " + message, jobFileName);
  } else if (IsPrintToFileSetCode(printer)) {
    auto job = MakeOutputJob(*this, web);
    result = output::DoNewPrintToFile(job, std::move(page), OutputEnvironment());
    // The set that printed, or whose folder was missing, may be another
    // than the job's own: one whose client list names the job's address.
    if (result == output::kRouteFolderMissing) ReportSetFolderMissing(job.chosenSet);
    else if (result == kResultOK) services.SetPrintToFileSet(job.chosenSet);
  } else if (printer == 17) {
    auto job = MakeOutputJob(*this, web);
    result = output::Print2File(job, std::move(page), OutputEnvironment());
  } else {
    result = ProcessOffscreenAndWriteToFile(*this, std::move(page), web);
    if (result == kResultOK) services.HandOffHooks().OpenPrintCenter(services.HandOffHooks().UseNewHandOff());
  }
  if (result != kResultOK) return result;
  // Recorded before anything else, so that a job killed from here on is
  // finished without printing again; with it the web notification the job
  // is to send, so that a job killed before it went out sends it then.
  const std::span<const uint8_t> notification = web ? ProcessedNotification() : std::span<const uint8_t>();
  if (gPrintJobTaskManager) gPrintJobTaskManager->JobOutputCompleted(notification);
  else if (!notification.empty()) NotifyJobProcessed(notification);
  if (gPrintJobTaskManager) gPrintJobTaskManager->CountJob();
  else services.CountJob({});
  return kResultOK;
}

}  // namespace pipeline
