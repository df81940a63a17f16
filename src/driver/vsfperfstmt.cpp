// The PERFORMANCE statement reader with the host's THREADS and CPUCOUNT options, the copy
// of its hidden options into the run's settings, and the thread query that the
// levelisation code uses (zquerythreads). Declared in driver/vsfreaders.h.
#include "driver/vsfreaders.h"
#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"
#include "support/qkpgf.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reads a host option as a number. An absent option gives the default; a value that is
// not a number (nor YES/NO) is a failed read.
[[nodiscard]] bool numericOption(const char* name, double dflt, double* out) {
  char buf[64];
  int32_t n = xoption(name, buf, sizeof buf);
  if (n < 0) {
    *out = dflt;
    return true;
  }
  std::string v(buf, static_cast<size_t>(std::min<int32_t>(n, sizeof buf - 1)));
  for (char& c : v)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (v == "YES" || v == "ON" || v == "TRUE" || v == name) {
    *out = 1;
    return true;
  }
  if (v == "NO" || v == "OFF" || v == "FALSE" || v == std::string("NO") + name) {
    *out = 0;
    return true;
  }
  if (v == "ACTUAL") {
    *out = dflt;
    return true;
  }
  char* end = nullptr;
  double d = std::strtod(v.c_str(), &end);
  if (v.empty() || *end != '\0')
    return false;
  *out = d;
  return true;
}

[[nodiscard]] int32_t actualCpuCount() {
  QkHandle* qk = v_global_gcb_anchor ? v_global_gcb_anchor->qkHandle : nullptr;
  if (!qk || !qk->qkNameValueGet)
    return 1;
  static const char kName[] = "host.cpucount";
  QkChar wide[sizeof kName];
  for (size_t i = 0; i < sizeof kName; ++i)
    wide[i] = static_cast<QkChar>(kName[i]);
  QkNameValue v{};
  v.type = QK_VALUE_INT64;
  if (qk->qkNameValueGet(qk, wide, 13, &v) != 0 || v.l == 0)
    return 1;
  return static_cast<int32_t>(std::min<int64_t>(v.l, 2147483647));
}

} // namespace

void zquerythreads(uint8_t* threadingOn, int32_t* cpuCount) {
  double t = 1, c = 1;
  if (!numericOption("THREADS", 1, &t)) {
    xebug("problem with global threads option");
    xexit(codeOf(StepRc::Error), 0);
  }
  if (!numericOption("CPUCOUNT", actualCpuCount(), &c)) {
    xebug("problem with global cpucount option");
    xexit(codeOf(StepRc::Error), 0);
  }
  *threadingOn = t != 0;
  *cpuCount = static_cast<int32_t>(c);
}

static void applyPerformStatement(ParsedStatement* p, VsfPerfBlock* b);

void zperform(ParsedStatement* first, VsfPerfBlock* b) {
  b->statement = nullptr;
  b->threadCount = 0;
  b->actualCpuCount = 0;
  b->threadingOn = b->details = b->allDetails = b->timing = b->status = b->force = 0;
  int count = 0;
  for (ParsedStatement* s = first; s; s = s->next)
    if (std::memcmp(s->name, "PERFORM", 7) == 0) {
      ++count;
      b->statement = s;
    }
  if (count > 1)
    vsfLog(OptionMsg::OnlyLastPerformanceStatement);
  b->actualCpuCount = actualCpuCount();
  zquerythreads(&b->threadingOn, &b->threadCount);
  if (b->statement != nullptr)
    applyPerformStatement(b->statement, b);
  // What the options and the statement ask for, kept for the PerfSettings table: the
  // working fields are lowered later when threading cannot be had.
  b->threadsSetting = b->threadingOn;
  b->cpuCountSetting = b->threadCount;
}

static void applyPerformStatement(ParsedStatement* p, VsfPerfBlock* b) {
  if (stmtFlag(p, PerfFlag::Threads))
    b->threadingOn = 1;
  if (stmtFlag(p, PerfFlag::NoThreads))
    b->threadingOn = 0;
  b->details = stmtFlag(p, PerfFlag::Details);
  b->allDetails = stmtFlag(p, PerfFlag::AllDetails);
  b->timing = stmtFlag(p, PerfFlag::Details) && !stmtFlag(p, PerfFlag::NoTiming);
  b->status = stmtFlag(p, PerfFlag::PerfStatus);
  b->force = stmtFlag(p, PerfFlag::Force);
  if (stmtFlag(p, PerfFlag::CpuMin))
    b->threadCount = 1;
  else if (stmtFlag(p, PerfFlag::CpuMax))
    b->threadCount = 1024;
  else if (stmtFlag(p, PerfFlag::CpuActual))
    b->threadCount = b->actualCpuCount;
  else if (stmtSlot(p, PerfSlot::CpuCount))
    b->threadCount = static_cast<int32_t>(stmtNumber(p, PerfSlot::CpuCount, b->threadCount));
}

void parse_perf(VsfContext* ctx, ParsedStatement* first) {
  zperform(first, &ctx->perf);
  VsfPerfOptions& o = ctx->stmt.perfOptions;
  o = VsfPerfOptions{};
  ParsedStatement* p = ctx->perf.statement;
  if (!p)
    return;
  o.sscpIncremental = stmtFlag(p, PerfFlag::SscpIncremental);
  o.sscpFull = stmtFlag(p, PerfFlag::SscpFull);
  ctx->perf.buildSscp = o.sscpIncremental ? 1 : o.sscpFull ? 2 : 0;
  o.utilBuffers = static_cast<int32_t>(stmtNumber(p, PerfSlot::UtilBuffers, 0));
  o.utilPageSize = static_cast<int32_t>(stmtNumber(p, PerfSlot::UtilPageSize, 0));
  o.utilAccess = stmtFlag(p, PerfFlag::UtilRandom) ? kQkPgfRandom : 0;
  o.allSparse = stmtFlag(p, PerfFlag::AllSparse);
  o.allDense = stmtFlag(p, PerfFlag::AllDense);
  o.utilDetails = stmtFlag(p, PerfFlag::UtilDetails);
  o.fullSweep = stmtCode(p, PerfSlot::FullSweep, VsfFullSweep::StepAdd);
  if (o.utilAccess)
    ctx->options.utilRandom = o.utilAccess;
}
