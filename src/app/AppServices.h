// The composition root: every service the job pipeline, the layout objects,
// the hand-off and the output routes reach outside their own layer is
// provided here, wired to the real neighbour (the controller and its status
// window, the spool queue, the preferences, the imaging and output values).
// A service that has nothing to do in this program says so where it is
// defined.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "host/files/FSSpec.h"
#include "imaging/ImageProperties.h"
#include "imaging/ImageSources.h"
#include "output/CountJournal.h"
#include "output/Notifications.h"
#include "pipeline/PrinterHandOff.h"
#include "pipeline/Services.h"
#include "prefs/PrefsServices.h"

namespace app {

class TPrintBGBehavior;

// User-defaults keys holding the argument vector (an array of strings) that
// starts the print-centre application in the background: the current one,
// and the older one for the binary hand-off.
inline constexpr char kPrintCenterCommandKey[] = "KivoPrintCenterCommand";
inline constexpr char kOlderPrintCenterCommandKey[] = "KivoOlderPrintCenterCommand";

class AppServices : public pipeline::TPipelineServices,
                    public pipeline::THandOffHooks,
                    public TCoefficientDictionaryMaker,
                    public TFileHandlerWindows {
 public:
  // Installs the output routes' environment for the services' lifetime.
  explicit AppServices(TPrintBGBehavior& controller);
  ~AppServices() override;
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  // layout::TReadReporter
  void Log(std::string_view text) override;
  void OperatorMessage(std::string_view text) override;

  // The controller and the status window.
  void SetJobInfo(const tJobInfo& info) override;
  void SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName, const CStr31_AC& packageName) override;
  void SetPrintToFileSet(int16_t set) override;
  void SetJobFileName(const std::string& name) override;
  void SetStatus(const std::string& text) override;
  void PrintLog(uint32_t elapsedTicks) override;
  void EnableButtonsWhenDone() override;
  void EnableBackgroundPrinting(bool on) override;
  bool IsBackgroundPrintingEnabled() override;
  void SetImage(const host::GWorld* offscreen, const std::string& name) override;
  void SetFilesToDelete(std::vector<std::filesystem::path> files) override;
  void Beep() override;

  // Job-wide values.
  void SetApplyEmbedded(bool on) override;
  void SetBlurValue(float radius) override;
  bool SetCocoaPrintInfo(std::span<const uint8_t> archive) override;
  void SetEmailEntryBuffer(std::span<const uint8_t> block) override;
  void SetCustomerEmail(const CStr255_AC& text) override;
  void SetGroupCode(const CStr255_AC& text) override;

  // Preferences.
  bool PrintToFileSetFolderResolves(int set) override;
  bool KeepJobFiles() override;
  bool FullRescan() override;
  bool AskOnFailedJob() override;
  std::filesystem::path UnknownJobsFolder() override;
  std::filesystem::path FinishedJobsFolder() override;
  std::filesystem::path ImagesFolder() override;
  std::filesystem::path GraphicsFolder() override;
  int AskWhatToDoWithFailedJob(const std::string& jobFileName) override;
  void JobFileMessage(std::string_view text, const std::string& jobFileName) override;
  void MessageWithDetail(std::string_view text, const std::string& detailLine) override;

  // The job queue.
  std::optional<std::filesystem::path> GetNextNewJobFile() override;
  void CheckForNewJobs() override;
  void RescanBetweenObjects() override;
  void ResetLastModDate() override;
  void SetQueueCurrentFile(const std::string& name) override;
  void InsertIntoQueue(const std::filesystem::path& file) override;

  // Files.
  OSErr DeleteFile(const std::filesystem::path& file) override;

  void PrepareJobCount(const std::filesystem::path& jobFile, int count, int kind, int16_t printer,
                       int16_t canvas) override;
  void CountJob(const std::filesystem::path& jobFile) override;
  void ForgetJobCount(const std::filesystem::path& jobFile, bool printed) override;
  void DisposeLastNodeGWorld() override;
  std::unique_ptr<pipeline::TSpoolerPrintView> MakeJobView() override;
  pipeline::THandOffHooks& HandOffHooks() override { return *this; }
  uint32_t TickCount() override;

  // pipeline::THandOffHooks
  std::optional<std::filesystem::path> PrintCenterFolder() override;
  bool UseNewHandOff() override;
  int16_t DualSwitch() override;
  void OpenPrintCenter(bool useNewHandOff) override;

  // TCoefficientDictionaryMaker: the chroma-key code's dictionary form of a
  // coefficient block, for the image properties' property-list store.
  host::PlistValue CoefficientDictionary(std::span<const uint8_t> block) override;

  // TFileHandlerWindows: the file handler's progress window 9003 (through
  // the progress indicator) and delete window 1023.
  void ShowProgress(const CStr255_AC& title, const CStr255_AC& text) override;
  void EndProgress() override;
  void OpenDeleteWindow(const std::string& path) override;

 private:
  TPrintBGBehavior& controller_;
  // Shows, in the status line and an alert, that prints could not be
  // counted yet.
  void ShowCountFailure(const std::string& why);
  // A count store whose file could not be read was set aside (`what` says
  // which and where it went) and counts again from zero.
  void ShowCountStoreSetAside(const std::string& what);
  // The count of the job in work, for counting it where the count journal
  // cannot be used.
  std::optional<std::pair<std::filesystem::path, output::TJobCount>> pendingCount_;
  // Whether the missing print-centre command was already logged, per key.
  bool loggedNoCommand_[2] = {false, false};
};

// The print-centre command stored under `key`: the strings of its array;
// empty when the key is missing, not an array of strings, or empty.
std::vector<std::string> PrintCenterCommand(const std::string& key);

// The notification centre's services: the system beep.
class AppNotificationServices : public output::TNotificationServices {
 public:
  void Beep() override;
};

// The preferences window's services: the spool tree in a newly chosen root.
class AppPrefsServices : public TPrefsServices {
 public:
  OSErr CreateImageAndJobFolders() override;
  OSErr CreateImageAndJobFolders2() override;
};

// Registers by name the program's classes that are neither views nor
// streamed objects: "TChooserPrint" (the system printer's job),
// "TBackgroundPrintingPrefs" (the preferences record), "TPrintBGPrefBehavior"
// (its behaviour: making one opens the preference file and reads it into
// the live records, so only a caller that means that makes it), and the job
// views "TBGPrintView" and "TSpoolerPrintView", which are made on the
// running program's services and so only while they exist.
void RegisterProcessorClasses();
// Whether a class of that name is registered, as a view, a streamed object,
// a view's adorner or one of the classes above.
bool IsClassRegistered(const std::string& className);

// The path of a folder stored in the folder convention (parID is the
// folder's own id, empty name); empty when it does not resolve.
std::filesystem::path FolderPathOfSpec(const FSSpec& folder);

}  // namespace app
