// The log of the running step: numbered messages with their substitution values and
// unnumbered lines, kept as records for the runner and echoed as they are written.
// Formatting message texts is the catalogue's (catalog.cpp).
#pragma once

#include "support/hostif.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qrxhost {

// One substitution value as the log keeps it.
struct LogValue {
  HostMsgArg::Kind kind = HostMsgArg::Int;
  int64_t i = 0;
  double d = 0.0;
  std::string s;
};

struct LogRecord {
  bool numbered = false; // false: an unnumbered line (set and number are 0)
  bool plain = false;    // printed without a severity prefix (%PUT output)
  int set = 0;
  int number = 0;
  HostSeverity severity = HostSeverity::Note;
  std::vector<LogValue> values;
  std::string text;
};

// Writes a numbered message (text from the catalogue) to the log.
void logMessage(int set, int number, const HostMsgArg* args, int count);
// Writes an unnumbered line.
void logLine(HostSeverity severity, const std::string& text);
// Writes an unnumbered line without a severity prefix (%PUT output).
void logPlain(const std::string& text);
// Takes the records written since the last call.
std::vector<LogRecord> takeLog();
// Records written so far (a copy; for tests).
std::vector<LogRecord> peekLog();
// Called for every record as it is written (the runner prints the log this way).
void setLogEcho(std::function<void(const LogRecord&)> echo);

// "NOTE: ...", "WARNING: ...", "ERROR: ..." (plain lines as they are).
std::string logLineText(const LogRecord& record);
const char* severityName(HostSeverity severity);

} // namespace qrxhost
