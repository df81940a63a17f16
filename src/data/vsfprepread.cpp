// Read preparation: the per-thread work estimate, the host memory figure, the budget for
// pages kept in memory, the page thread count it can feed, and each page file's in-memory
// page limit and page table. Declared in data/vsfdata.h.
#include "data/vsfdata.h"

#include "driver/vsfoptions.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cmath>

namespace {

// The number of steps the fit may take, for the work estimate.
[[nodiscard]] int64_t stepEstimate(const VsfDataSettings* s) {
  const int64_t maxSteps = s->maxSteps == 0 ? 2147483647 : s->maxSteps;
  const int64_t b = s->noint ? s->entryCount - 1 : s->entryCount;
  int64_t steps;
  switch (s->method) {
  case 1:
    return b;
  case 2:
  case 3:
  case 5:
  case 7:
    steps = std::min(b, maxSteps);
    break;
  case 4:
  case 6:
  case 8:
  case 9:
  case 10:
    steps = std::min(2 * b, maxSteps);
    break;
  default: // the solver-based methods and GROUPLASSO
    steps = std::min<int64_t>(s->forcedIn + 100, maxSteps);
    break;
  }
  if (s->steps > 0 && s->steps < steps)
    steps = s->steps;
  return steps;
}

// Bytes one page thread needs for its own work during the fit.
double workEstimate(const VsfDataSettings* s, const VsfUtilFile& file, int64_t steps) {
  const uint64_t p = file.columnCount;
  const uint64_t g = file.page.pageSize;
  const uint64_t E = static_cast<uint64_t>(s->entryCount);
  uint64_t pc = p, sc = static_cast<uint64_t>(steps < 0 ? 0 : steps);
  if (!s->fullBuild && p >= 1000) {
    pc = 1000;
    sc = 1000;
  }
  const uint64_t T = (pc + 1) * (pc + 2);
  double est = static_cast<double>(2 * g + 9 * pc + 28 * sc + 8 * T);
  if (s->method != VM_NONE)
    est += static_cast<double>(9 * E + 8 * T);
  if (s->incrementalBuild)
    est += static_cast<double>(8 * p * sc);
  if (s->method != VM_NONE && s->numericOptionByte)
    est += static_cast<double>(8 * E);
  return est;
}

} // namespace

int32_t vsfPrepRead(VsfDataSettings* s, VsfBagVec* bags, int32_t* returnCode) {
  const int64_t steps = stepEstimate(s);
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0) {
    xpmlog(848, 145);
    *returnCode = std::max(*returnCode, 1012);
    return -16;
  }
  const double M = static_cast<double>(kilobytes) * 1024.0;
  double W = 0.0, X = 0.0;
  for (uint32_t f = 0; f < bags->count; ++f) {
    double est = workEstimate(s, bags->files[f], steps);
    W += est;
    X = std::max(X, est);
  }
  const double B = 0.6 * std::max(0.0, M - W);

  if (s->threadingOn && s->threadCount > 1 && W >= B) {
    double n = X > 0.0 ? std::trunc(B / X) : 0.0;
    if (n < 2.0) {
      s->threadingOn = 0;
      if (s->threadCount > 1 && bags->count > 1)
        xpmlog(848, 113);
      s->threadCount = 1;
    } else if (n < s->threadCount) {
      s->threadCount = static_cast<int32_t>(n);
      xpmlog(848, 114, {s->threadCount, s->cpuCount});
    }
  }

  for (uint32_t f = 0; f < bags->count; ++f) {
    VsfUtilFile& file = bags->files[f];
    double limit;
    if (s->utilBuffers > 0)
      limit = s->utilBuffers;
    else
      limit = std::trunc((B / bags->count) / std::max<uint32_t>(file.page.pageSize, 1u));
    limit = std::clamp(limit, 1.0, 2147483647.0);
    file.memLimit = static_cast<int64_t>(limit);
    file.memPageCount = 0;
    // The table starts small and grows to the limit as pages come: a budget of gigabytes
    // would otherwise cost a table of millions of entries for every BY group, however
    // small the group.
    file.memCapacity = std::min<int64_t>(file.memLimit, 64);
    file.tablePool = bags->pool;
    file.memPages = static_cast<void**>(
        bags->pool->allocate(bags->pool, sizeof(void*) * static_cast<size_t>(file.memCapacity), 0));
    if (file.memPages == nullptr)
      return kVsfNoMemory;
  }
  return 0;
}
