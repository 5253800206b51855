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
// (host/sys/Termination.h).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace host {

// The paper of a destination in 1/100 mm, the margins the printer cannot
// print on, its resolution and whether it prints in colour.
struct PrinterPaper {
  std::string media;          // PWG media name ("na_letter_8.5x11in")
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
  std::string media;             // PWG media name; empty: the destination's default
  // Before sending, ask the destination for the jobs of this user named
  // `jobName`: when one of them has its document, nothing is sent again and
  // the result is that job. Jobs of that name still waiting for their
  // document are cancelled first. The name is to be unique to the job.
  bool lookForEarlierJob = false;
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
  std::string message;
};

// The message of a wait given up because the program is ending.
inline constexpr char kStoppedText[] = "stopped because the program is ending";

// The paper the destination uses for `media` (empty: its default) with its
// margins, the default resolution (300 dpi when it names none) and colour.
std::optional<PrinterPaper> QueryPrinterPaper(const std::string& destination, const std::string& media,
                                              std::string* error = nullptr);

// Submits the document; the result is ok only when the destination accepted
// the whole document. When the destination took the document and then did
// not answer within the limit, it is asked for the job's state: the result
// is ok only when it says it has the document (the job is then processing,
// stopped or completed, or counts a document); otherwise the job is
// cancelled there and the result is a failure.
PrintJobResult SubmitPrintJob(const PrintJobRequest& request);

// How long one request waits for the printer's answer.
std::chrono::seconds PrinterAnswerLimit();

}  // namespace host
