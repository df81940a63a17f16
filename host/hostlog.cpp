// The step log: records of numbered messages and plain lines, guarded for worker threads.
// The runner decides where records go after a step (listing, JSON).
#include "host/hostlog.h"
#include "host/hostapi.h"

#include <mutex>

namespace qrxhost {
namespace {

struct LogState {
  std::mutex mutex;
  std::vector<LogRecord> records;
  std::function<void(const LogRecord&)> echo;
};

LogState& state() {
  static LogState s;
  return s;
}

void append(const LogRecord& record) {
  LogState& s = state();
  std::function<void(const LogRecord&)> echo;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.records.push_back(record);
    echo = s.echo;
  }
  if (echo)
    echo(record);
}

} // namespace

const char* severityName(HostSeverity severity) {
  switch (severity) {
  case HostSeverity::Note:
    return "NOTE";
  case HostSeverity::Warning:
    return "WARNING";
  case HostSeverity::Error:
    return "ERROR";
  }
  return "NOTE";
}

void logMessage(int set, int number, const HostMsgArg* args, int count) {
  LogRecord r;
  r.numbered = true;
  r.set = set;
  r.number = number;
  const MessageDef* def = findMessage(set, number);
  r.severity = def ? def->severity : HostSeverity::Note;
  for (int i = 0; i < count; ++i) {
    LogValue v;
    v.kind = args[i].kind;
    if (v.kind == HostMsgArg::Int)
      v.i = args[i].i;
    else if (v.kind == HostMsgArg::Dbl)
      v.d = args[i].d;
    else if (args[i].s && args[i].len > 0)
      v.s.assign(args[i].s, static_cast<size_t>(args[i].len));
    r.values.push_back(std::move(v));
  }
  r.text = formatMessage(set, number, args, count);
  append(r);
}

void logLine(HostSeverity severity, const std::string& text) {
  LogRecord r;
  r.severity = severity;
  r.text = text;
  append(r);
}

void logPlain(const std::string& text) {
  LogRecord r;
  r.plain = true;
  r.text = text;
  append(r);
}

std::vector<LogRecord> takeLog() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<LogRecord> out;
  out.swap(s.records);
  return out;
}

std::vector<LogRecord> peekLog() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.records;
}

void setLogEcho(std::function<void(const LogRecord&)> echo) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.echo = std::move(echo);
}

std::string logLineText(const LogRecord& record) {
  if (record.plain)
    return record.text;
  return std::string(severityName(record.severity)) + ": " + record.text;
}

} // namespace qrxhost
