// The kernel handle: pools through the arena allocator, events on one condition variable,
// threads of a fixed stack size (SizedThread), the named-value registry and extension loading
// through the extension table (ext/extlist.cpp). Extensions themselves belong to their own
// files.
#include "host/kernel.h"
#include "host/ext/extlist.h"
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/pools.h"
#include "host/seams.h"
#include "host/supervisor.h"
#include "host/textcase.h"
#include "host/workpool.h"
#include "support/sizedthread.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

struct QkEvent {
  bool signaled = false;
};

struct QkThread {
  SizedThread thread;
  int64_t number = 0;
};

namespace qrxhost {
namespace {

// ---- events and threads --------------------------------------------------------------

std::mutex gEventMutex;
std::condition_variable gEventCv;
std::atomic<int64_t> gNextThreadNumber{1};

int32_t waitAny(QkThreadServices*, QkEvent** events, int32_t count, int64_t timeoutMs) {
  if (!events || count <= 0)
    return -1;
  std::unique_lock<std::mutex> lock(gEventMutex);
  int32_t found = -1;
  auto ready = [&] {
    for (int32_t i = 0; i < count; ++i)
      if (events[i] && events[i]->signaled) {
        found = i;
        return true;
      }
    return false;
  };
  if (timeoutMs < 0)
    gEventCv.wait(lock, ready);
  else
    gEventCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  return found;
}

void postEvent(QkThreadServices*, QkEvent* event) {
  if (!event)
    return;
  {
    std::lock_guard<std::mutex> lock(gEventMutex);
    event->signaled = true;
  }
  gEventCv.notify_all();
}

void resetEvent(QkThreadServices*, QkEvent* event) {
  if (!event)
    return;
  std::lock_guard<std::mutex> lock(gEventMutex);
  event->signaled = false;
}

QkThreadServices makeServices(int64_t number) {
  QkThreadServices s{};
  s.waitAny = waitAny;
  s.post = postEvent;
  s.reset = resetEvent;
  s.threadNumber = number;
  return s;
}

// The running thread's services record, which the host hands out by address: its number
// (set when the pool starts the thread; 0 on the main thread) and the event calls.
thread_local QkThreadServices tServices = makeServices(0);

QkEvent* createEvent(QkHandle*) { return new QkEvent; }
void destroyEvent(QkHandle*, QkEvent* event) { delete event; }

// A new thread runs `entry(argument)`; once it has started it posts the start event, so
// that a creator waiting on that event knows the thread is running.
QkThread* createThread(QkHandle*, QkThreadAttributes* attrs) {
  if (!attrs || !attrs->entry)
    return nullptr;
  auto* t = new QkThread;
  t->number = gNextThreadNumber++;
  QkThreadEntry entry = attrs->entry;
  void* argument = attrs->argument;
  QkEvent* start = attrs->startEvent;
  int64_t number = t->number;
  try {
    t->thread = SizedThread([entry, argument, start, number] {
      tServices = makeServices(number);
      if (start)
        postEvent(&tServices, start);
      // Nothing may leave a worker thread by an exception: that would end the process.
      // The host's exit belongs to the main thread; here it is an internal error.
      try {
        entry(argument);
      } catch (const HostExit& e) {
        logLine(HostSeverity::Error, "An internal error has occurred: the host's exit (code " +
                                         std::to_string(e.code) +
                                         ") was called on a worker thread.");
        raiseStepReturnCode(StepRc::Error);
        raiseStepReturnCode(ReturnCode::fromModule(e.code));
      } catch (...) {
        logLine(HostSeverity::Error,
                "An internal error has occurred: an exception reached the top of a worker thread.");
        raiseStepReturnCode(StepRc::Error);
      }
    });
  } catch (...) {
    delete t;
    return nullptr;
  }
  return t;
}

void joinThread(QkHandle*, QkThread* thread) {
  if (!thread)
    return;
  if (thread->thread.joinable())
    thread->thread.join();
  delete thread;
}

QkThreadServices* threadServices(QkHandle*) { return &tServices; }

// ---- named values --------------------------------------------------------------------

struct StoredValue {
  int32_t type = QK_VALUE_TEXT;
  double d = 0.0;
  int64_t l = 0;
  std::string text;
};

std::mutex gValueMutex;
std::map<std::string, StoredValue>& stored() {
  static std::map<std::string, StoredValue> m;
  return m;
}

std::string toNarrow(const QkChar* name, int32_t length) {
  std::string s;
  if (!name)
    return s;
  if (length < 1) {
    length = 0;
    while (name[length] != 0)
      ++length;
  }
  for (int32_t i = 0; i < length; ++i)
    s += name[i] < 256 ? static_cast<char>(name[i]) : '\x1a';
  return s;
}

// The registry key: OSENV.X keeps the case of X (environment names are case-sensitive);
// every other name is case-insensitive.
std::string keyOf(const std::string& name) {
  if (name.size() >= 6 && asciiUpper(name.substr(0, 6)) == "OSENV.")
    return "OSENV." + name.substr(6);
  return asciiUpper(name);
}

bool lookUp(const std::string& key, StoredValue* out) {
  {
    std::lock_guard<std::mutex> lock(gValueMutex);
    auto it = stored().find(key);
    if (it != stored().end()) {
      *out = it->second;
      return true;
    }
  }
  if (key.rfind("OSENV.", 0) == 0) {
    const char* env = std::getenv(key.c_str() + 6);
    if (!env)
      return false;
    out->type = QK_VALUE_TEXT;
    out->text = env;
    return true;
  }
  if (key == "HOST.CPUCOUNT") {
    out->type = QK_VALUE_INT64;
    out->l = hostCpuCount();
    return true;
  }
  if (auto opt = hostOption(key)) {
    out->type = QK_VALUE_TEXT;
    out->text = *opt;
    return true;
  }
  return false;
}

int32_t nameValueExists(QkHandle*, const QkChar* name, int32_t length) {
  StoredValue v;
  return lookUp(keyOf(toNarrow(name, length)), &v) ? 1 : 0;
}

uint32_t nameValueGet(QkHandle*, const QkChar* name, int32_t length, QkNameValue* out) {
  if (!out)
    return kQkWrongType;
  StoredValue v;
  if (!lookUp(keyOf(toNarrow(name, length)), &v))
    return kQkNotSet;
  switch (out->type) {
  case QK_VALUE_TEXT: {
    std::string text = v.text;
    if (v.type == QK_VALUE_INT64)
      text = std::to_string(v.l);
    else if (v.type == QK_VALUE_DOUBLE) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v.d);
      text = buf;
    }
    int32_t n = static_cast<int32_t>(text.size());
    if (out->text && out->capacity > 0) {
      n = std::min(n, out->capacity);
      for (int32_t i = 0; i < n; ++i)
        out->text[i] = static_cast<unsigned char>(text[i]);
    } else {
      n = 0;
    }
    out->length = n;
    return 0;
  }
  case QK_VALUE_INT64:
    if (v.type == QK_VALUE_INT64) {
      out->l = v.l;
      return 0;
    }
    if (v.type == QK_VALUE_DOUBLE && v.d == static_cast<double>(static_cast<int64_t>(v.d))) {
      out->l = static_cast<int64_t>(v.d);
      return 0;
    }
    return kQkWrongType;
  case QK_VALUE_DOUBLE:
    if (v.type == QK_VALUE_DOUBLE) {
      out->d = v.d;
      return 0;
    }
    if (v.type == QK_VALUE_INT64) {
      out->d = static_cast<double>(v.l);
      return 0;
    }
    return kQkWrongType;
  default:
    return kQkWrongType2;
  }
}

// Stores a value; a name that already holds a value of another type is refused with the
// wrong-type status, so callers can retry as text.
uint32_t nameValueSet(QkHandle*, const QkChar* name, int32_t length, const QkNameValue* in,
                      int32_t /*mode*/) {
  if (!in)
    return kQkWrongType2;
  std::string key = keyOf(toNarrow(name, length));
  StoredValue v;
  v.type = in->type;
  switch (in->type) {
  case QK_VALUE_TEXT:
    v.text = toNarrow(in->text, in->length < 0 ? 0 : in->length);
    if (in->length == 0 || !in->text)
      v.text.clear();
    break;
  case QK_VALUE_INT64:
    v.l = in->l;
    break;
  case QK_VALUE_DOUBLE:
    v.d = in->d;
    break;
  default:
    return kQkWrongType2;
  }
  StoredValue old;
  if (lookUp(key, &old) && old.type != v.type)
    return kQkWrongType;
  std::lock_guard<std::mutex> lock(gValueMutex);
  stored()[key] = v;
  return 0;
}

// ---- pools, extensions, journal, status texts ------------------------------------------

QkPool* createPool(QkHandle*, QkPoolAttributes*, void*, const char* name) {
  std::string n = name ? name : "";
  if (seam::refusePool(n))
    return nullptr;
  return createArenaPool(n);
}

QkExtension* extensionLoad(QkHandle*, const QkChar* name, int32_t length, int32_t) {
  return loadExtension(toNarrow(name, length));
}

void journalReport(QkJournal*, uint32_t status, int32_t level, const char* text) {
  HostSeverity sev = level >= 4   ? HostSeverity::Error
                     : level == 3 ? HostSeverity::Warning
                                  : HostSeverity::Note;
  logLine(sev, text && *text ? std::string(text) : statusMessage(status));
}

uint32_t journalReportStatus(QkJournal*, int32_t severity, uint32_t status,
                             const HostMsgArg* values, int32_t count) {
  std::string text = statusMessage(status);
  for (int32_t i = 0; values && i < count; ++i) {
    text += i == 0 ? " Values: " : ", ";
    const HostMsgArg& a = values[i];
    if (a.kind == HostMsgArg::Int)
      text += std::to_string(a.i);
    else if (a.kind == HostMsgArg::Dbl) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", a.d);
      text += buf;
    } else if (a.s && a.len > 0)
      text.append(a.s, static_cast<size_t>(a.len));
  }
  if (severity <= 0)
    return 0; // severity 0 reports nothing
  HostSeverity sev = severity >= 4   ? HostSeverity::Error
                     : severity == 3 ? HostSeverity::Warning
                                     : HostSeverity::Note;
  logLine(sev, text);
  return 0;
}

QkJournal gJournal{journalReport, journalReportStatus};

int32_t statusText(QkHandle*, uint32_t status, char* buffer, int32_t capacity) {
  std::string text = statusMessage(status);
  if (!buffer || capacity <= 0)
    return 0;
  int32_t n = std::min(static_cast<int32_t>(text.size()), capacity - 1);
  std::memcpy(buffer, text.data(), static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

// Runs the runs of a qkzruns call on the process's workers.
int32_t serveRuns(const QkServiceArgs& args) {
  const int64_t runs = args.words[0];
  const auto body = reinterpret_cast<QkRunBody>(args.words[1]);
  void* context = reinterpret_cast<void*>(args.words[2]);
  if (runs < 0 || runs > INT32_MAX || body == nullptr)
    return -1;
  workRuns(static_cast<int32_t>(runs), [body, context](int32_t r) { body(context, r); });
  return 0;
}

// The dispatcher's services: the date-time in seconds, process statistics (user and system
// time in microseconds, peak resident size in kilobytes, minor and major faults, voluntary
// and involuntary context switches, process id), and runs on the workers. Others are refused.
int32_t serviceDispatcher(QkHandle*, int32_t service, QkServiceArgs* args, uint32_t) {
  if (!args)
    return -1;
  if (service == QK_SVC_ZDTTME) {
    using namespace std::chrono;
    args->values[0] = duration<double>(system_clock::now().time_since_epoch()).count();
    return 0;
  }
  if (service == QK_SVC_ZSTATS) {
    rusage ru{};
    if (getrusage(RUSAGE_SELF, &ru) != 0)
      return -1;
    args->words[0] = static_cast<int64_t>(ru.ru_utime.tv_sec) * 1000000 + ru.ru_utime.tv_usec;
    args->words[1] = static_cast<int64_t>(ru.ru_stime.tv_sec) * 1000000 + ru.ru_stime.tv_usec;
    args->words[2] = ru.ru_maxrss;
    args->words[3] = ru.ru_minflt;
    args->words[4] = ru.ru_majflt;
    args->words[5] = ru.ru_nvcsw;
    args->words[6] = ru.ru_nivcsw;
    args->words[7] = static_cast<int64_t>(getpid());
    return 0;
  }
  if (service == QK_SVC_ZRUNS)
    return serveRuns(*args);
  return -1;
}

QkHandle makeHandle() {
  QkHandle h{};
  h.createEvent = createEvent;
  h.destroyEvent = destroyEvent;
  h.createPool = createPool;
  h.qkExtensionLoad = extensionLoad;
  h.createThread = createThread;
  h.joinThread = joinThread;
  h.threadServices = threadServices;
  h.nameValueExists = nameValueExists;
  h.qkNameValueGet = nameValueGet;
  h.qkNameValueSet = nameValueSet;
  h.journal = &gJournal;
  h.KernelServiceDispatcher = serviceDispatcher;
  h.statusText = statusText;
  return h;
}

} // namespace

QkHandle* kernelHandle() {
  static QkHandle handle = [] {
    QkHandle h = makeHandle();
    h.defaultThreadServices = &tServices; // the main thread's services
    return h;
  }();
  return &handle;
}

void clearStoredNameValues() {
  std::lock_guard<std::mutex> lock(gValueMutex);
  stored().clear();
}

std::string statusMessage(uint32_t status) {
  switch (status) {
  case 0:
    return "The operation completed successfully.";
  case kQkNotSet:
    return "The named value is not set.";
  case kQkWrongType:
  case kQkWrongType2:
    return "The named value holds a value of another type.";
  default:
    break;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "The host reported status 0x%08X (facility %u, number %u).",
                status, (status >> 11) & 0x7FFu, status & 0x7FFu);
  return buf;
}

int64_t hostCpuCount() {
  if (auto opt = hostOption("CPUCOUNT")) {
    char* end = nullptr;
    long long n = std::strtoll(opt->c_str(), &end, 10);
    if (end != opt->c_str() && *end == '\0' && n > 0)
      return n;
  }
  unsigned hw = std::thread::hardware_concurrency();
  return hw ? hw : 1;
}

} // namespace qrxhost
