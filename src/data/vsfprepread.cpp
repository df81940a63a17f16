// Read preparation: what the fit holds once and what each page thread holds, the host memory
// figure, the page thread count it can feed, the budget for pages kept in memory, and each
// page file's in-memory page limit and page table. Declared in data/vsfdata.h.
#include "data/vsfdata.h"

#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>

namespace {

// The number of steps the fit may take, for the work estimate.
[[nodiscard]] int64_t stepEstimate(const VsfDataSettings* s) {
  const int64_t maxSteps = s->maxSteps == 0 ? 2147483647 : s->maxSteps;
  const int64_t b = s->noint ? s->entryCount - 1 : s->entryCount;
  const VsfMethodTraits* method = vsfMethodTraits(s->method);
  int64_t steps = std::min<int64_t>(s->forcedIn + 100, maxSteps);
  switch (method != nullptr ? method->bound.get() : VsfStepBound::Penalties) {
  case VsfStepBound::OneFit:
    return b;
  case VsfStepBound::EachOnce:
    steps = std::min(b, maxSteps);
    break;
  case VsfStepBound::EachTwice:
    steps = std::min(2 * b, maxSteps);
    break;
  case VsfStepBound::Penalties:
    break;
  }
  if (s->steps > 0 && s->steps < steps)
    steps = s->steps;
  return steps;
}

// Cells of a packed triangle of order n.
uint64_t triangle(uint64_t n) { return n * (n + 1) / 2; }

// The bytes a fit holds for each design column beside its cross products: the reading pass's
// column sums, spreads, shifts and staged row and the model's estimates with their
// standardised, saved and chosen copies and variances (22 numbers), and the row of the
// parameter estimates table the results keep of it (some 400 bytes, measured on 100,000
// rows of that table).
constexpr double kColumnBytes = 8.0 * 22.0 + 400.0;
// Under cross validation, each fold's numbers for each design column: its estimates, its
// centre, the centre's partial sums and the shift of its rows.
constexpr double kFoldColumnBytes = 8.0 * 4.0;
// The bytes a level of an effect stored sparse (a CLASS variable of many levels) keeps in the
// level tables from the levelisation on: its slots in the tables that find a row's level, its
// node and its formatted value (some 240 bytes, measured at 100,000 levels).
constexpr double kLevelBytes = 240.0;

// The levels of the effects stored sparse, whose tables the levelisation holds.
double sparseLevels(const VsfDataSettings* s) {
  double levels = 0.0;
  for (int32_t e = 0; e < s->entryCount && s->entries != nullptr; ++e)
    if (!vsfEntryStoredDense(s, s->entries[e]))
      levels += static_cast<double>(std::max(s->entries[e].columnCount, 0));
  return levels;
}

// Bytes a fit holds beside its cross products on every road: the arrays over every design
// column (with each fold's under cross validation), the level tables of the effects stored
// sparse, the records of `steps` steps and the per-effect arrays.
double besideCrossProducts(const VsfDataSettings* s, const VsfUtilFile& file, int64_t steps,
                           int32_t folds) {
  const double columns = (kColumnBytes + kFoldColumnBytes * folds) * double(file.columnCount);
  return columns + kLevelBytes * sparseLevels(s) + 28.0 * double(std::max<int64_t>(steps, 0)) +
         17.0 * double(s->entryCount);
}

// Bytes the fit holds once, whatever the number of page threads, on the road it is planned to
// take: its cross products (vsfCrossProductCells) and what it holds beside them. The
// triangles are the matrix and its swept form, with the three working copies of its trials
// where it keeps them (VsfDataSettings::trialCopies), and the same for every fold; on the
// many-level road (VsfDataSettings::road) they are of the small columns, otherwise of every
// column (without the full build the matrix grows with the steps, so its order is capped at
// 1001 and the steps at 1000, and the incremental build's cross-product columns of the steps
// are held beside it).
double fitEstimate(const VsfDataSettings* s, const VsfUtilFile& file, int64_t steps) {
  const int32_t folds = s->cv ? std::max(s->folds, 1) : 0;
  const int64_t p = file.columnCount;
  int64_t recorded = std::max<int64_t>(steps, 0);
  VsfCrossShape shape;
  shape.folds = folds;
  shape.press = s->press != 0;
  double stepColumns = 0.0;
  shape.copies = (2 + (s->trialCopies != 0 ? 3 : 0)) * (1 + folds);
  if (s->road.entry >= 0) {
    shape.road = s->road;
    shape.triangleOrder = s->road.small;
  } else {
    int64_t order = p + 1;
    if (!s->fullBuild && p >= 1000) {
      order = 1001;
      recorded = 1000;
    }
    shape.triangleOrder = order;
    if (s->incrementalBuild)
      stepColumns = 8.0 * double(p) * double(recorded);
  }
  return 8.0 * vsfCrossProductCells(shape) + stepColumns +
         besideCrossProducts(s, file, recorded, folds);
}

// Bytes one page thread holds during a pass: the page it reads into and the partial sums of
// the widest pass, one copy per fold under cross validation. The widest pass is the full
// cross-products matrix (a packed triangle of order p + 1) when it is built in full, else
// the effects' own triangles, or with the incremental build the rows that the widest effect
// adds to the matrix; a few vectors of p doubles cover the narrower passes.
double threadEstimate(const VsfDataSettings* s, const VsfUtilFile& file) {
  const uint64_t p = file.columnCount;
  uint64_t cells = 0;
  if (s->road.entry >= 0) {
    cells = triangle(uint64_t(s->road.small)); // the small triangle's rank-k updates
  } else if (s->fullBuild) {
    cells = triangle(p + 1);
  } else {
    uint64_t widest = 0;
    for (int32_t e = 0; e < s->entryCount && s->entries != nullptr; ++e) {
      const auto c = static_cast<uint64_t>(std::max(s->entries[e].columnCount, 0));
      cells += triangle(c);
      widest = std::max(widest, c);
    }
    if (s->incrementalBuild)
      cells = std::max(cells, widest * (p + 1));
  }
  const uint64_t copies = s->cv ? static_cast<uint64_t>(std::max(s->folds, 1)) : 1;
  return static_cast<double>(file.page.pageSize + 8 * (copies * cells + 2 * p + 5));
}

} // namespace

bool vsfEntryStoredDense(const VsfDataSettings* s, const VsfEffectEntry& e) {
  return !s->forceSparse && (s->forceDense || !e.sparseVote);
}

double vsfCrossProductCells(const VsfCrossShape& c) {
  double cells =
      static_cast<double>(std::max<int64_t>(c.copies, 0)) *
          static_cast<double>(triangle(uint64_t(std::max<int64_t>(c.triangleOrder, 0)))) +
      c.blockCells;
  if (c.road.columns > 0)
    cells += vsfStructuredCells(c.road, c.folds, c.press);
  return cells;
}

double vsfStructuredCells(const VsfRoadShape& road, int32_t folds, bool press) {
  const double k = static_cast<double>(road.columns);
  double cells = (1.0 + std::max(folds, 0)) *
                 (k * (static_cast<double>(road.dense) + 6.0) + static_cast<double>(road.joined));
  if (press)
    cells += (k + 1.0) * (2.0 * static_cast<double>(road.small) + 2.0);
  return cells;
}

VsfStatus vsfPrepRead(VsfDataSettings* s, VsfBagVec* bags, int32_t* returnCode) {
  const int64_t steps = stepEstimate(s);
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0) {
    vsfLog(VsfMsg::MemoryAmountUnknown);
    raiseRc(*returnCode, StepRc::Error);
    return VsfStatus::MemoryUnknown;
  }
  const double M = static_cast<double>(kilobytes) * 1024.0;
  // The fit's own holding is counted once; each thread's work once per thread.
  double W = 0.0, X = 0.0;
  for (uint32_t f = 0; f < bags->count; ++f) {
    W = std::max(W, fitEstimate(s, bags->files[f], steps));
    X = std::max(X, threadEstimate(s, bags->files[f]));
  }
  s->threadBudget = {VTL_NONE, M, W, X};
  // The threads may take 60 % of what the fit leaves; pages held in memory get 60 % of
  // what the fit and the threads leave.
  if (s->threadingOn && s->threadCount > 1) {
    const double n = X > 0.0 ? std::trunc(0.6 * std::max(0.0, M - W) / X) : s->threadCount;
    if (n < s->threadCount)
      s->threadBudget.limit = VTL_MEMORY;
    if (n < 2.0) {
      s->threadingOn = 0;
      if (bags->count > 1)
        vsfLog(VsfMsg::NotEnoughMemoryForThreads);
      s->threadCount = 1;
    } else if (n < s->threadCount) {
      s->threadCount = static_cast<int32_t>(n);
      vsfLog(VsfMsg::DataPassesRunThreads, {s->threadCount, s->cpuCount});
    }
  }
  const double B = 0.6 * std::max(0.0, M - W - std::max(s->threadCount, 1) * X);
  // The files beyond a lowered thread count are released by the reading pass before any
  // page is written: only the files kept share the budget.
  const uint32_t kept = std::min<uint32_t>(bags->count, std::max(s->threadCount, 1));

  for (uint32_t f = 0; f < bags->count; ++f) {
    VsfUtilFile& file = bags->files[f];
    double limit;
    if (s->utilBuffers > 0)
      limit = s->utilBuffers;
    else
      limit = std::trunc((B / kept) / std::max<uint32_t>(file.page.pageSize, 1u));
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
      return VsfStatus::NoMemory;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfPlanPageDisk(const VsfDataSettings* s, const VsfBagVec* bags, QkExtensionSet* exts,
                          int64_t rowBytes, int32_t* returnCode) {
  if (s->expectedRows <= 0 || bags->count == 0 || rowBytes <= 0)
    return VsfStatus::Ok;
  // Pages go round the files: the rows of each page, the pages of all, less those in memory.
  const double pageSize = bags->files[0].page.pageSize;
  const double perPage =
      std::max(1.0, std::floor((pageSize - 12.0) / static_cast<double>(rowBytes)));
  double pages = std::ceil(static_cast<double>(s->expectedRows) / perPage);
  for (uint32_t f = 0; f < bags->count; ++f)
    pages -= static_cast<double>(bags->files[f].memLimit);
  const double need = std::max(pages, 0.0) * pageSize;
  if (need <= 0.0)
    return VsfStatus::Ok;
  const int64_t free = vsfUtilFreeBytes(exts != nullptr ? exts->qkupath : nullptr);
  // A tenth of the free space stays for the system and the step's other files.
  if (free < 0 || need <= 0.9 * static_cast<double>(free))
    return VsfStatus::Ok;
  vsfReportDiskShort(need, bags->files[0], free);
  raiseRc(*returnCode, StepRc::NotRestored);
  return VsfStatus::ReportedFailure;
}
