// The run's JSON record: string escaping, numbers (missing values as null), log records
// and the whole record of a run. The output nodes come rendered from the output manager.
#pragma once

#include "host/hostlog.h"
#include "host/returncode.h"

#include <map>
#include <string>
#include <vector>

namespace qrxhost {

// A JSON string literal: quotes, backslashes and control characters escaped; bytes that
// are not UTF-8 become U+FFFD so the record stays valid JSON.
std::string jsonString(const std::string& text);
// A JSON number; missing values, NaNs and infinities are null.
std::string jsonNumber(double value);
// The same, appended to `out`.
void appendJsonNumber(std::string& out, double value);
// One log record: {set, number, severity, values, text} or {severity, text}.
std::string jsonLogRecord(const LogRecord& record);

struct StepRecord {
  std::string procedure;
  int line = 0;
  ReturnCode returnCode;
  std::vector<LogRecord> log;
  std::string outputNodes = "[]"; // a JSON array of output nodes
};

struct RunRecord {
  ReturnCode returnCode;
  std::map<std::string, std::string> macros;
  std::vector<StepRecord> steps;
};

std::string jsonRunRecord(const RunRecord& run);

} // namespace qrxhost
