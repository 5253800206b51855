// The system-printer route (printer code 8): the finished page is fitted to
// the paper of a CUPS destination and sent there. The page's image keeps its
// size in inches when it fits the paper, centred; a larger one is shrunk to
// fit, keeping its proportions; an image whose orientation differs from the
// paper's is turned a quarter turn clockwise first. The job's archived print
// settings, when it carried some, choose the destination, the paper and its
// orientation; copies are the job's number of copies.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/print/CupsPrint.h"
#include "host/qd/GWorld.h"
#include "host/sys/PlistValue.h"

namespace output {

// What the archived settings say, where they say it.
struct TSystemPrintSettings {
  std::string destination;   // a printer name; empty: the default destination
  std::string media;         // PWG media name; empty: the printer's default
  int orientation = 0;       // 1 portrait, 2 landscape, 0 not given
};
TSystemPrintSettings SystemPrintSettingsOf(const host::PlistDict& archivedPrintInfo);
// The PWG media name of a paper name ("na-letter", "A4", "4x6" …); empty
// when unknown.
std::string PwgMediaOfPaperName(const std::string& paperName);

// The image rectangle scaled from image to device resolution, centred on
// the page and shrunk to fit when larger; replaces `page`. Always true.
bool computeAdjustedRect(const CLongRect_AC& image, CLongRect_AC& page, int16_t imageVRes, int16_t imageHRes,
                         int16_t deviceVRes, int16_t deviceHRes);
// The offscreen to draw, turned a quarter turn clockwise (a new one) when the
// turn switch is on and the orientations differ, else the source itself;
// `page` becomes the destination rectangle.
host::GWorldHandle rescaleImageForChooserPrinting(const host::GWorld* source, int16_t imageResolution,
                                                  CLongRect_AC& page, int16_t deviceResolution, bool turn);

struct TChooserPrintJob {
  int16_t resolution = 72;   // of the page image, dots per inch
  int16_t copies = 1;
  // The job's name at the printer, unique to this try of the job and the
  // same across stops and kills: before sending, the printer is asked
  // whether this try gave it the page before it stopped.
  std::string jobName;
  // Where the private folder of the document sent to the printer is made:
  // the program's private folder.
  std::string documentFolder;
  // Called once before the printer is first offered the job, with a path
  // that names this hand-over and is never made; false: it could not be
  // recorded, and the job is not offered.
  std::function<bool(const std::string&)> beforeSending;
  // Shows a line in the status window (a busy printer's wait); may be empty.
  std::function<void(const std::string&)> setStatus;
  // The steps earlier tries of this job recorded (the marks of its entry in
  // the record of printed jobs); those naming a job made at the printer
  // (PrinterJobMark) are asked for before anything is sent.
  std::vector<std::string> recordedSteps;
  // Records a step durably; false when it could not be. Each job the
  // printer makes for the page is recorded this way before the page is
  // sent; may be empty (nothing is recorded then).
  std::function<bool(const std::string&)> recordStep;
};

// The recorded step that names the job a printer made for the page: its
// id, the destination and the printer's URI.
std::string PrinterJobMark(const host::CreatedPrintJob& job);
// The job a recorded step names; none for a step of another kind.
std::optional<host::CreatedPrintJob> PrinterJobOfMark(const std::string& mark);

// The printer's name for the job of `jobFile` in its try `attempt` (the
// name the record of printed jobs gives the try): its file name (cut to 200
// bytes on a character boundary) and " #" with the try's name, which stays
// the same while the file waits in the queue, also across a restart, and
// differs for any other job and any other try of this one.
std::string PrinterJobName(const std::filesystem::path& jobFile, const std::string& attempt);

enum : int16_t {
  kResultSystemPrintFailed = 110,
  // The program was asked to end while it waited for the printer: the job
  // did not print and is to be kept for the next start.
  kResultSystemPrintStopped = 111,
  // An earlier try gave the printer a job for the page and the printer
  // cannot say whether it has the page (it forgot the job, the job was
  // cancelled there, or it cannot be asked): the page is not sent again.
  // The job is set aside with its photos, uncounted, and the operator is
  // told that it may already have printed.
  kResultSystemPrintUncertain = 112,
};

// How long a busy printer is waited for in all: five minutes, or the whole
// seconds of KIVO_PRINTER_BUSY_LIMIT when that is set (tests use it).
std::chrono::seconds PrinterBusyLimit();
// The pause before try `attempt` + 1 after `attempt` busy answers: 2 s,
// doubled each time, at most 30 s.
std::chrono::seconds PrinterBusyPause(int attempt);

// Prints the page (taken over); 0, or 110 with `message` when the printer
// could not be had, refused the job, does not offer the job's paper (the
// message lists the papers it offers), or took it and never answered
// without having the document. A printer that says it is busy, or a printer
// or scheduler that cannot be reached, is normal: the job is tried again
// after a pause, the status saying so, until PrinterBusyLimit has passed
// for all these waits together. 111 when the program was asked to end
// during any of these waits. When an earlier try recorded a job made at
// the printer, the printer is first asked for that job by its id (waited
// for while it cannot be reached): 0 without sending when it has the page,
// and 112 with `message` (for the operator) when it cannot say.
int16_t DoChooserPrint(host::GWorldHandle page, const TChooserPrintJob& job, std::string* message);

}  // namespace output
