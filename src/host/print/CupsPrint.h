// Printing through CUPS: a document file sent to a destination with a few
// job options, and what the destination says about its paper and
// resolution. A destination is a CUPS destination name, an IPP printer URI
// ("ipp://host:port/ipp/print"), or empty for the default destination (the
// environment's LPDEST or PRINTER, which may also be a URI, else the CUPS
// default). Nothing throws; failures come back with IPP's status and text.
//
// No wait is without end: connecting has a limit of 10 s and each request
// one of 60 s for the printer's answer (the whole seconds of
// KIVO_PRINTER_ANSWER_LIMIT when that is set; tests use it). Both limits are
// kept on the wall clock, however slowly the answer trickles in, and both
// give way within a fraction of a second when the program is asked to end
// (host/sys/Termination.h). An answer that is already waiting to be read
// when a limit passes (it came while the program was stopped, by SIGSTOP or
// a debugger) is read first: the reader gets a few seconds more, once per
// request, and an answer read in full is an answer.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host {

// The paper of a destination in 1/100 mm, the margins the printer cannot
// print on, its resolution and whether it prints in colour.
struct PrinterPaper {
  // The media keyword the printer lists for the paper ("na_letter_8.5x11in");
  // empty when it lists none of its size: then `mediaCol` names it.
  std::string media;
  // The paper as a media-col value (size and margins), for a printer whose
  // media database has the paper but whose keywords do not.
  std::string mediaCol;
  int widthHundredthsMM = 0;
  int lengthHundredthsMM = 0;
  int topMarginHundredthsMM = 0;
  int leftMarginHundredthsMM = 0;
  int bottomMarginHundredthsMM = 0;
  int rightMarginHundredthsMM = 0;
  int xdpi = 0;
  int ydpi = 0;
  std::vector<int> supportedDpi;  // vertical resolutions it offers, ascending
  bool color = false;         // "color" is among its print colour modes
};

// A job a destination made for a document: its id there, the destination
// (a CUPS destination name or a printer URI, never empty) and the URI of the
// printer that holds it. Enough to ask for the job again after a restart.
struct CreatedPrintJob {
  int id = 0;
  std::string destination;
  std::string printerURI;
  // The time (Unix seconds) just before the job was asked for: a job the
  // printer says it made earlier is another; 0 when not known.
  long long notBefore = 0;
  // Its document was being sent, or was sent, when the program stopped: a
  // printer showing the job without its document may have printed it (a
  // scheduler restarted while it passed the page on forgets the document
  // of a job the printer has printed).
  bool documentSending = false;
};

struct PrintJobRequest {
  std::string destination;
  std::string documentPath;
  // When not negative the document is read from this open file (from its
  // start) instead of `documentPath`; it stays open.
  int documentFd = -1;
  std::string documentFormat = "image/jpeg";
  std::string jobName;
  int copies = 1;
  int orientationRequested = 0;  // IPP: 3 portrait, 4 landscape; 0 not sent
  std::string media;             // PWG media name; empty: `mediaCol`, else the destination's default
  std::string mediaCol;          // a media-col value (PrinterPaper::mediaCol), sent when `media` is empty
  // Before sending, ask the destination for the jobs of this user named
  // `jobName`: when one of them has its document, nothing is sent again and
  // the result is that job. Jobs of that name still waiting for their
  // document are cancelled first. The name is to be unique to the job.
  bool lookForEarlierJob = false;
  // Called once the destination has made the job (it answered Create-Job)
  // and before the document is sent, so that the job can be recorded
  // durably. False: it could not be; the job is cancelled there and
  // nothing is sent.
  std::function<bool(const CreatedPrintJob&)> jobCreated;
  // Called just before the document is sent to the job made, so that the
  // sending can be recorded durably. False: it could not be; the job is
  // cancelled there and nothing is sent.
  std::function<bool(const CreatedPrintJob&)> documentSending;
  // Called once the destination has accepted the whole document.
  std::function<void(const CreatedPrintJob&)> documentSent;
};

struct PrintJobResult {
  bool ok = false;
  int jobID = 0;
  int ippStatus = 0;
  // The printer said it is busy (server-error-busy): it may take the job
  // later. Nothing of this job stays with the printer.
  bool busy = false;
  // Given up because the program is ending. The destination may hold the
  // job, with or without its document.
  bool interrupted = false;
  // The destination already had the document from an earlier try.
  bool alreadyThere = false;
  // The printer or scheduler could not be reached: nothing was sent.
  bool unreachable = false;
  // The document went, in whole or in part, and the printer then neither
  // answered nor can say that it has it: it may have printed the page.
  bool mayHavePrinted = false;
  std::string message;
};

// The message of a wait given up because the program is ending.
inline constexpr char kStoppedText[] = "stopped because the program is ending";

// The paper the destination uses for `media` (empty: its default) with its
// margins, the default resolution (300 dpi when it names none) and colour.
// A paper it does not offer is none: `error` then lists those it offers.
// `unreachable` is set when the printer or scheduler cannot be reached (no
// answer is not the same as a refusal: it may be there later).
std::optional<PrinterPaper> QueryPrinterPaper(const std::string& destination, const std::string& media,
                                              std::string* error = nullptr, bool* unreachable = nullptr);

// Submits the document; the result is ok only when the destination accepted
// the whole document. When the destination took the document and then did
// not answer within the limit, it is asked for the job's state: the result
// is ok only when it says it has the document (the job is then processing,
// stopped or completed, or counts a document); otherwise the job is
// cancelled there and the result says the page may have printed (a
// scheduler that went down while it passed the page on shows the job
// without it, though the printer may have printed it). When the answer to the
// job's creation was given up, jobs of this name left waiting for their
// document are cancelled, so that none holds up the printer.
PrintJobResult SubmitPrintJob(const PrintJobRequest& request);

// What a destination says of a job an earlier try made there.
struct EarlierJobAnswer {
  enum class State {
    // It prints or printed the document, or holds it to print.
    kHasDocument,
    // It never had the document: the job waited for it (and is cancelled
    // now), or ended without it.
    kWithoutDocument,
    // It cannot say whether it has the page: it does not know the job (any
    // more), the id names another job there now, the job was cancelled or
    // aborted after it may have had the document, or it does not show that
    // the job of that id is this one (its name, and where shown its user
    // and the time it was made).
    kCannotSay,
    // The printer or scheduler cannot be reached now: it may say later.
    kUnreachable,
    // The program is ending.
    kStopped,
  };
  State state = State::kCannotSay;
  std::string message;
};

// Asks the destination of `job` for that job by its id (Get-Job-Attributes
// at its printer), not by name: a scheduler may list a finished job without
// its name. The job of that id is this one only when the printer shows its
// name `jobName`, and, where it shows them, this user and a making not
// before `job.notBefore`; any other (a printer that started counting again
// and gave the id to another job, perhaps of another user whose job's name
// it hides) is kCannotSay. A job whose document was being sent
// (`job.documentSending`) is kWithoutDocument never: shown without its
// document, it is cancelled (it would wait for ever) and kCannotSay.
EarlierJobAnswer AskAboutEarlierJob(const CreatedPrintJob& job, const std::string& jobName);

// How long one request waits for the printer's answer.
std::chrono::seconds PrinterAnswerLimit();

}  // namespace host
