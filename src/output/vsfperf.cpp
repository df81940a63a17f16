// The PERFORMANCE tables: the PerfSettings factoid (threading, processor counts, how the
// cross products are built), the Timing table of the run's timers, and the UtilInfo table of
// a BY group's page files. The timers are fed by the sections they measure.
// Declared in output/vsfresults.h.
#include "data/vsfutilfile.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfresults.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/qknr.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// The directory part of a page file's path.
std::string directoryOf(const VsfUtilFile& f) {
  int64_t end = f.pathLength;
  while (end > 0 && f.path[end - 1] != U'/')
    --end;
  return qkUtf8(f.path, static_cast<int32_t>(end > 1 ? end - 1 : end));
}

RvqAttr msgValue(VsfMsg number) { return rvqTextHandle(RvqAttrId::Value, msgText(number)); }

// One row of the Timing table: its label, its time, and whether it is a part of the run
// (summed for the "other" row) rather than a part of another row.
struct TimingRow {
  VsfMsg labelMessage;
  double seconds;
  bool inSum;
};

std::vector<TimingRow> timingRows(const VsfContext* ctx) {
  const bool detailed = ctx->perf.allDetails != 0;
  const bool averaging = ctx->options.modelAverage != 0;
  std::vector<TimingRow> rows;
  rows.push_back({VsfMsg::TimingSetupParsing, ctx->setupTime, true});
  rows.push_back({VsfMsg::TimingReadingData, ctx->dataTime, true});
  if (ctx->levTime > 0)
    rows.push_back({VsfMsg::TimingLevelization, ctx->levTime, true});
  rows.push_back({VsfMsg::TimingCandidateEvaluationSelection, ctx->fitTime, true});
  if (averaging)
    rows.push_back({VsfMsg::TimingModelAveragingSummary, ctx->averageTime, true});
  rows.push_back({VsfMsg::TimingResultsDisplays, ctx->resultsTime, true});
  const TimingRow details[] = {{VsfMsg::TimingPrintingTables, ctx->printTime, false},
                               {VsfMsg::TimingGraphs, ctx->graphTime, false},
                               {VsfMsg::TimingOutputDataSets, ctx->outputTime, false},
                               {VsfMsg::TimingScoring, ctx->scoreTime, false},
                               {VsfMsg::TimingMacroVariables, ctx->macroTime, false}};
  if (detailed)
    for (const TimingRow& r : details)
      if (r.seconds > 0)
        rows.push_back(r);
  rows.push_back({VsfMsg::TimingCleanup, ctx->cleanupTime, true});
  double sum = 0;
  for (const TimingRow& r : rows)
    if (r.inSum)
      sum += std::max(r.seconds, 0.0);
  const double elapsed = zdattim() - ctx->runStart;
  rows.push_back({VsfMsg::TimingOther, std::max(elapsed - sum, 0.0), false});
  rows.push_back({VsfMsg::TimingTotal, elapsed, false});
  return rows;
}

} // namespace

VsfStatus vsfpPerf(VsfContext* ctx) {
  const VsfPerfBlock& perf = ctx->perf;
  VsfOut out(ctx);
  if (!out.createFactoid("PerfSettings", "Stat.VARSIFTER.PerfSettings",
                         msgText(VsfMsg::PerformanceInformation),
                         msgText(VsfMsg::PerformanceInformation)))
    return VsfStatus::Ok;
  out.entry(VsfMsg::PerfExecutionMode,
            msgValue(perf.threadsSetting ? VsfMsg::PerfMultithreaded : VsfMsg::PerfSingleThreaded));
  if (perf.threadsSetting && !perf.threadingOn)
    out.entry(VsfMsg::PerfThreadingEffect, msgValue(VsfMsg::PerfSingleThreaded));
  if (perf.cpuCountSetting == perf.actualCpuCount) {
    out.entry(VsfMsg::PerfNumberThreads, rvqInt(RvqAttrId::Value, perf.cpuCountSetting));
  } else {
    out.entry(VsfMsg::PerfCpuCount, rvqInt(RvqAttrId::Value, perf.cpuCountSetting));
    out.entry(VsfMsg::PerfActualProcessorCount, rvqInt(RvqAttrId::Value, perf.actualCpuCount));
  }
  // The threads the data passes ran on, and the memory reckoning when it lowered them.
  if (perf.threadsSetting)
    out.entry(VsfMsg::PerfThreadsUsed,
              rvqInt(RvqAttrId::Value, perf.threadingOn ? perf.threadCount : 1));
  const VsfThreadBudget& budget = ctx->threadBudget;
  if (budget.limit == VTL_MEMORY) {
    const auto megabytes = [](double bytes) {
      return rvqInt(RvqAttrId::Value, static_cast<int32_t>(std::llround(bytes / 1048576.0)));
    };
    out.entry(VsfMsg::PerfThreadsLowered, msgValue(VsfMsg::PerfMemory));
    out.entry(VsfMsg::PerfMemoryFigureMb, megabytes(budget.memory));
    out.entry(VsfMsg::PerfMemoryHeldFitMb, megabytes(budget.fitWork));
    out.entry(VsfMsg::PerfMemoryPerThreadMb, megabytes(budget.threadWork));
  }
  out.entry(
      VsfMsg::PerfCrossProductsMatrix,
      msgValue(ctx->options.fullXpx ? VsfMsg::PerfBuiltFull : VsfMsg::PerfBuiltIncrementally));
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfTimes(VsfContext* ctx) {
  const std::vector<TimingRow> rows = timingRows(ctx);
  int32_t width = 1;
  for (const TimingRow& r : rows)
    width = std::max(width, vsfMsgLength(r.labelMessage));
  QkPool* pool = v_global_gcb_anchor != nullptr ? v_global_gcb_anchor->defaultPool : nullptr;
  char* section = pool != nullptr
                      ? static_cast<char*>(pool->allocate(pool, size_t(width) + 1, kQkZeroed))
                      : nullptr;
  if (section == nullptr)
    return VsfStatus::NoMemory;
  double seconds = 0;
  char control = ' ';
  VsfOut out(ctx);
  if (!out.create("Timing", msgText(VsfMsg::TimingProcedureTaskTiming))) {
    pool->free(pool, section);
    return VsfStatus::Ok;
  }
  out.charColumn("CodeSection", section, width);
  out.numberColumn("time", &seconds);
  out.column({rvqColumnType(RvqColumnType::Char1), vsfaName("Control"), vsfaBound(&control)});
  out.endColumns();
  out.bind("Stat.VarSifter.Timing");
  for (const TimingRow& r : rows) {
    vsfMsgCopy(r.labelMessage, section, width);
    seconds = std::max(r.seconds, 0.0);
    out.emit();
  }
  out.endRows();
  out.publish();
  pool->free(pool, section);
  return VsfStatus::Ok;
}

VsfStatus vsfpUtilInfo(VsfContext* ctx) {
  const VsfBagVec& bags = ctx->bags;
  int64_t file = 0, buffers = 0, pages = 0, pageSize = 0, fileSize = 0;
  VsfOut out(ctx);
  if (!out.create("UtilInfo", nullptr))
    return VsfStatus::Ok;
  for (auto [name, value] : {std::pair{"UtilFile", &file},
                             {"NumBuffers", &buffers},
                             {"NumPages", &pages},
                             {"PageSize", &pageSize},
                             {"FileSize", &fileSize}})
    out.column({rvqColumnType(RvqColumnType::Int64), vsfaName(name), vsfaBound(value)});
  // Where the files went: UTILPATH's directory, or SHAREDDRIVE$= of model averaging.
  std::vector<std::string> dirs;
  size_t width = 1;
  for (uint32_t i = 0; i < bags.count; ++i) {
    dirs.push_back(directoryOf(bags.files[i]));
    width = std::max(width, dirs.back().size());
  }
  std::vector<char> directory(width + 1, 0);
  out.charColumn("Directory", directory.data(), static_cast<int32_t>(width));
  out.endColumns();
  out.bind("Stat.VARSIFTER.UtilInfo");
  for (uint32_t i = 0; i < bags.count; ++i) {
    const VsfUtilFile& f = bags.files[i];
    file = i;
    vsfFill(directory.data(), static_cast<int32_t>(width), dirs[i].data(),
            static_cast<int32_t>(dirs[i].size()));
    buffers = f.memPageCount;
    pages = f.diskPageCount;
    pageSize = static_cast<int64_t>(f.page.pageSize) / 1024;
    // Pages and kilobytes in 64 bits: a file whose size or page count outgrows 32 bits
    // keeps its true figures.
    fileSize = pageSize * pages;
    out.emit();
  }
  out.endRows();
  out.publish();
  return VsfStatus::Ok;
}
