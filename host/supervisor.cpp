// Supervisor services: xexit throws the runner's HostExit, pools are arenas, messages go
// through the catalogue into the step log. Options are set by the runner (-o, OPTIONS).
#include "host/supervisor.h"
#include "host/ext/qkmemfig.h"
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/output/rvqoutput.h"
#include "host/pools.h"
#include "host/progress.h"
#include "host/textcase.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace qrxhost {
namespace {

std::mutex gMutex;
std::map<std::string, std::string>& options() {
  static std::map<std::string, std::string> m;
  return m;
}
std::atomic<int32_t> gStepCode{0};
EndOfTaskRoutine gEndOfTask = nullptr;

int32_t copyOut(const std::string& text, char* buffer, int32_t capacity) {
  if (!buffer || capacity <= 0)
    return static_cast<int32_t>(text.size());
  size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

[[noreturn]] void hostXexit(int32_t code, int32_t) { throw HostExit{code}; }

QkPool* hostXmpoolc(void*, int64_t, uint32_t) { return createArenaPool("xmpoolc"); }

void hostXmpoold(QkPool* pool) {
  if (pool)
    pool->destroy(pool);
}

void hostXytexit(void (*routine)()) {
  std::lock_guard<std::mutex> lock(gMutex);
  gEndOfTask = routine;
}

void hostXpmlog(int32_t set, int32_t number, const HostMsgArg* args, int32_t count) {
  logMessage(set, number, args, args ? count : 0);
}

void hostXprrlog(int32_t, int32_t code) {
  std::string text = outputStatusText(code);
  logLine(HostSeverity::Error, text.empty() ? statusMessage(static_cast<uint32_t>(code)) : text);
}

int32_t hostXpmstr(char* buffer, int32_t size, int32_t set, int32_t number, const HostMsgArg* args,
                   int32_t count) {
  return copyOut(formatMessage(set, number, args, args ? count : 0), buffer, size);
}

int32_t hostXoption(const char* name, char* buffer, int32_t capacity) {
  if (!name)
    return -1;
  auto v = hostOption(name);
  if (!v)
    return -1;
  return copyOut(*v, buffer, capacity);
}

void hostXrcset(int32_t code) { raiseStepReturnCode(ReturnCode::fromModule(code)); }

int32_t hostXmpoolcln(QkPool* pool, void (*cleanup)(void*), void* object) {
  return poolAtDestroy(pool, cleanup, object);
}

void hostXprogress(const char* text, int32_t length) {
  if (text != nullptr && length > 0)
    ProgressLine::instance().showStep(std::string(text, static_cast<size_t>(length)));
}

HostSupervisorServices makeSupervisor() {
  HostSupervisorServices s{};
  s.xexit = hostXexit;
  s.xmpoolc = hostXmpoolc;
  s.xmpoold = hostXmpoold;
  s.xytexit = hostXytexit;
  s.xpmlog = hostXpmlog;
  s.xprrlog = hostXprrlog;
  s.xpmstr = hostXpmstr;
  s.xoption = hostXoption;
  s.xrcset = hostXrcset;
  s.xmpoolcln = hostXmpoolcln;
  s.xprogress = hostXprogress;
  return s;
}

bool wholeNumber(const std::string& v, long long lo, long long hi) {
  if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long long n = std::atoll(v.c_str());
  return n >= lo && n <= hi;
}

bool oneOf(const std::string& v, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (asciiUpper(v) == w)
      return true;
  return false;
}

// A memory size as the memory figure reads it.
bool memorySize(const std::string& v) {
  int64_t kilobytes = 0;
  return parseMemorySize(v, &kilobytes);
}

// The parser's trace modes: SYN and SEM in any case, apart by commas or blanks, or none.
bool debugModes(const std::string& v) {
  std::string word;
  for (size_t i = 0; i <= v.size(); ++i) {
    if (i < v.size() && v[i] != ',' && v[i] != ' ') {
      word += v[i];
      continue;
    }
    if (!word.empty() && !oneOf(word, {"SYN", "SEM"}))
      return false;
    word.clear();
  }
  return true;
}

struct OptionRule {
  const char* name;
  bool (*accepts)(const std::string&);
  const char* allowed;
};

const OptionRule kOptionRules[] = {
    {"THREADS",
     [](const std::string& v) {
       return oneOf(v, {"YES", "NO", "ON", "OFF", "TRUE", "FALSE"}) || wholeNumber(v, 0, 1 << 30);
     },
     "YES, NO, ON, OFF, TRUE, FALSE, or a whole number (0 is off)"},
    {"CPUCOUNT",
     [](const std::string& v) { return oneOf(v, {"ACTUAL"}) || wholeNumber(v, 1, 1024); },
     "a whole number from 1 to 1024, or ACTUAL"},
    {"UTILPATH",
     [](const std::string& v) {
       std::error_code ec;
       return std::filesystem::is_directory(v, ec);
     },
     "an existing directory"},
    {"VALIDVARNAME",
     [](const std::string& v) {
       return oneOf(v, {"V6", "V7", "ANY"});
     },
     "V6, V7 or ANY"},
    {"DEBUG", debugModes, "SYN and SEM (the parser's traces), by commas or blanks"},
    {"MEMSIZE", memorySize, kMemorySizeRule},
    {"CSVHOLD", memorySize, kMemorySizeRule},
    {"PAGEFILE_PAGESIZE", [](const std::string& v) { return wholeNumber(v, 8, 0x7FFFFFF8); },
     "a whole number of bytes from 8 to 2147483640"},
};

} // namespace

OptionCheck checkHostOption(const std::string& name, const std::string& value,
                            std::string* allowed) {
  std::string names;
  for (const OptionRule& r : kOptionRules) {
    if (asciiUpper(name) == r.name) {
      if (r.accepts(value))
        return OptionCheck::Accepted;
      *allowed = std::string(r.name) + " takes " + r.allowed;
      return OptionCheck::BadValue;
    }
    names += names.empty() ? r.name : std::string(", ") + r.name;
  }
  *allowed = "the host options are " + names;
  return OptionCheck::UnknownName;
}

HostSupervisorServices* supervisorServices() {
  static HostSupervisorServices s = makeSupervisor();
  return &s;
}

void setHostOption(const std::string& name, const std::string& value) {
  std::lock_guard<std::mutex> lock(gMutex);
  options()[asciiUpper(name)] = value;
}

std::optional<std::string> hostOption(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = options().find(asciiUpper(name));
  if (it == options().end())
    return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> allHostOptions() {
  std::lock_guard<std::mutex> lock(gMutex);
  return options();
}

void clearHostOptions() {
  std::lock_guard<std::mutex> lock(gMutex);
  options().clear();
}

ReturnCode stepReturnCode() { return ReturnCode::fromModule(gStepCode.load()); }

void raiseStepReturnCode(ReturnCode rc) {
  const int32_t code = rc.value();
  int32_t old = gStepCode.load();
  while (code > old && !gStepCode.compare_exchange_weak(old, code)) {
  }
}

void raiseStepReturnCode(StepRc rc) {
  ReturnCode raised;
  raised.raise(rc);
  raiseStepReturnCode(raised);
}

EndOfTaskRoutine takeEndOfTask() {
  std::lock_guard<std::mutex> lock(gMutex);
  EndOfTaskRoutine r = gEndOfTask;
  gEndOfTask = nullptr;
  return r;
}

void resetStepState() {
  gStepCode = 0;
  std::lock_guard<std::mutex> lock(gMutex);
  gEndOfTask = nullptr;
}

} // namespace qrxhost
