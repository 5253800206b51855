// Diagnostic output of the pipeline. LogLine writes one line to standard
// error with a time stamp and the process prefix (standard error is reopened
// onto the daily log at start-up); PrintLine writes to standard output, where
// the trace lines of a few file services go.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// "2026-12-08 21:59:33.123 kivo-processor[4242] text\n" on standard error.
void LogLine(std::string_view text);
void LogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Plain text on standard output, written as given (no line end added).
void PrintF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style formatting into a std::string.
std::string StringF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The name of this process as the system shows it ("kivo-processor").
std::string ProcessName();

// The stamp used by LogLine for the given time; the year is the calendar
// year of the date (never the week-based year).
std::string LogStamp(long long unixMillis);

}  // namespace platform
