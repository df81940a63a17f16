// The shape of the cross products a fit forms: the packed X'X once, where it costs less
// than the passes of every step and fits the memory, or the cross products step by step;
// the thread count, and the re-sweeping a full build makes needless.
// Declared in driver/vsfpostinit.h and driver/vsfpostinitparts.h.
#include "driver/vsfpostinit.h"
#include "driver/vsfpostinitparts.h"

#include "data/vsfdata.h"
#include "model/vsfmemplan.h"
#include "model/vsfstructured.h"
#include "output/vsfcontext.h"
#include "selection/vsflarlasso.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/seams.h"
#include "support/sizetext.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <vector>

using namespace postinit;

namespace {

// The most effects for which an L2 search forms the full X'X by itself (two packed copies of
// about 16 MB each).
constexpr int32_t kL2SearchFullEffects = 2000;

// The most effects for which FORWARD, STEPWISE, LAR and LASSO form the packed X'X whatever
// their steps: measured to pay on every search.
constexpr int32_t kPackedAlwaysEffects = 1000;

// How many columns of a row the packed pass's blocked kernel adds in the time a step's
// passes take for one column (products of the page rows in cache against streaming them).
constexpr double kPackedSpeedRatio = 10.0;

// The share of the step's memory the packed triangles may take, the pages and the page
// threads' buffers being planned later out of the rest.
constexpr double kPackedMemoryShare = 0.5;

// The steps a search makes over `effects` effects when they are known ahead: without a stop
// criterion, STEPS=, else MAXSTEPS= or one per effect. 0 when a criterion may stop it
// anywhere.
[[nodiscard]] int32_t knownSteps(const VsfModelOptions& o, int32_t effects) {
  if (o.stop != VsfCriterion::NoneGiven || o.stopCount != 0)
    return 0;
  if (o.steps > 0)
    return std::min(o.steps, effects);
  return o.maxSteps > 0 ? std::min(o.maxSteps, effects) : effects;
}

// Whether the packed triangles of `columns` columns fit the memory: the matrix and its swept
// form, a copy for every fold, and a buffer for each page thread, against a share of the
// host's memory figure (no figure: no bound).
[[nodiscard]] bool packedFits(const VsfContext* ctx, int64_t columns) {
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0 || kilobytes <= 0)
    return true;
  const VsfModelOptions& o = ctx->options;
  const double folds = o.cvOn ? std::max(o.cvFolds, 0) : 0;
  const double threads = ctx->perf.threadingOn ? std::max(ctx->perf.threadCount, 1) : 1;
  const double copies = 2.0 * (1.0 + folds) + threads;
  const double bytes = 8.0 * copies * static_cast<double>(columns) * (columns + 1) / 2.0;
  return bytes <= kPackedMemoryShare * 1024.0 * static_cast<double>(kilobytes);
}

// Whether a path without the packed X'X keeps the cross products of its entering effects
// (vsfLarKeptColumns): a plain least-angle path whose rows carry no roles or folds.
[[nodiscard]] bool pathKeepsCross(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  return vsfMethodIs(o.method, VsfMethodFamily::LeastAngle) && !vsfMethodRidge(o.method) &&
         !o.adaptive && !o.cvOn && !o.cvExternal && o.screen == VsfScreenMethod::None &&
         !testRowsGiven(ctx) && !validateRowsGiven(ctx);
}

// What the steps of a search cost without the packed X'X, in the packed pass's terms per row.
// A path that keeps cross products forms about one column of p terms per step, in passes of
// many columns that run about as fast per term as the packed pass; steps past the kept
// columns' bound, and the other searches' steps, make about two passes of p per row at a
// tenth of that speed.
[[nodiscard]] double stepsCost(const VsfContext* ctx, double p, double steps) {
  const double kept =
      pathKeepsCross(ctx)
          ? std::min(steps, static_cast<double>(vsfLarKeptColumns(static_cast<int64_t>(p))))
          : 0.0;
  return kept * p + (steps - kept) * kPackedSpeedRatio * 2.0 * p;
}

// Whether one pass forming the packed X'X costs less than the passes per step, as measured:
// on 1,000,000 rows x 50 columns the packed matrix made LASSO 2.7 times and FORWARD (20
// steps) 3 times faster in their selection on one thread, more on eight. The pass over the
// packed triangle costs about p^2/2 per row once; the road without it makes about two
// passes of p per row at every step, and these methods run up to p steps. Past a thousand
// effects the packed pass is taken where the steps a search will make repay it and its
// triangles fit the memory (stepsCost). Without CLASS variables the effects bound the columns.
[[nodiscard]] bool packedCheaper(const VsfContext* ctx, int32_t effects, int32_t classVariables) {
  if (!vsfMethod(ctx->options.method).packedPays || classVariables != 0)
    return false;
  if (effects <= kPackedAlwaysEffects)
    return true;
  const double p = effects;
  return p * p / 2.0 <= stepsCost(ctx, p, knownSteps(ctx->options, effects)) &&
         packedFits(ctx, effects + 1);
}

// The note on a fit the many-level road serves whose user asked for the growing build: the
// road taken, with the bytes of its sums of the effect against the effect's own blocks that
// the growing build would form first (the model's and each fold's); or the growing build kept,
// because those blocks hold less.
void explainAskedGrowth(const VsfRoadShape& road, bool taken, double roadCells, double blockCells) {
  if (taken) {
    char roadText[32], blockText[32];
    vsfSizeText(8.0 * roadCells, roadText, sizeof roadText);
    vsfSizeText(8.0 * blockCells, blockText, sizeof blockText);
    vsfLog(VsfMsg::GrowingBuildTakesRoad, {HostMsgArg(static_cast<long long>(road.columns)),
                                           HostMsgArg(roadText), HostMsgArg(blockText)});
    return;
  }
  char text[240];
  const int32_t n =
      msgString(text, static_cast<int32_t>(sizeof text), VsfMsg::RoadNotForGrowingProducts);
  vsfLog(VsfMsg::StructuredRoadNotTaken,
         {HostMsgArg(vsfStructuredLeastColumns(road.small)), HostMsgArg(text, std::max(n, 0))});
}

} // namespace

namespace postinit {

// The role variable, the shape of the cross products (full or incremental) and the
// thread count.
void buildShapeAndThreads(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  LevDesign* d = ctx->design.design;
  roleVariable(ctx);
  const bool forceNone = !vsfMethodSelects(o.method) && !ctx->perf.force;
  uint8_t full = po.sscpFull ? 1 : 0;
  const bool fewEffects =
      !po.sscpFull && !po.sscpIncremental &&
      (d->effectCount < 10 || packedCheaper(ctx, d->effectCount, d->classCount));
  if (fewEffects)
    full = 1;
  const bool startsFull = vsfMethodStartsFull(o.method);
  bool otherReason = startsFull || forceNone;
  if (startsFull || forceNone)
    full = 1;
  // The trials of an L2 search share one X'X and add their ridge to its diagonal; without it
  // every trial would make its data passes again. Screening exists to avoid the full matrix.
  if (vsfMethodRidge(o.method) && o.l2Search != VsfL2Search::None &&
      o.screen == VsfScreenMethod::None && !po.sscpIncremental &&
      d->effectCount <= kL2SearchFullEffects) {
    full = 1;
    otherReason = true;
  }
  // Split CLASS effects are counted before their levels are known; the reading pass may
  // still take the full build back (vsfSplitCrossRoad).
  ctx->fullForFewEffects = fewEffects && !otherReason ? 1 : 0;
  if (po.sscpIncremental && startsFull)
    warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredSelectionBackward);
  else if (po.sscpIncremental && forceNone)
    warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredSelectionNone);
  o.fullXpx = full;
  ctx->perf.threadCount = ctx->perf.threadingOn ? ctx->perf.threadCount : 1;
  // One thread is no threading: known now, before the PerfSettings table is printed. The
  // reading pass may still lower threading for want of memory; its notes say so.
  if (ctx->perf.threadCount < 2)
    ctx->perf.threadingOn = 0;
  if (ctx->noprint) {
    ctx->perf.details = 0;
    ctx->perf.timing = 0;
  }
}

// A full build needs no re-sweeping of the grown matrix. The note says so only when the
// user asked for the full build: where the procedure chose it, it tells the user nothing
// they chose (PERFORMANCE DETAILS shows how the matrix was built).
[[nodiscard]] VsfStatus fullSweepSetting(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  o.fullSweep = po.fullSweep;
  if (o.fullXpx && po.fullSweep != VsfFullSweep::Never) {
    if (po.sscpFull)
      note(VsfMsg::CrossProductsBuiltWhole);
    po.fullSweep = VsfFullSweep::Never;
    o.fullSweep = VsfFullSweep::Never;
  }
  return VsfStatus::Ok;
}

} // namespace postinit

void vsfSplitCrossRoad(VsfContext* ctx, int32_t columns) {
  VsfModelOptions& o = ctx->options;
  const bool path = vsfMethodIs(o.method, VsfMethodFamily::LeastAngle);
  if (ctx->fullForFewEffects && o.split && path) {
    o.fullXpx = columns > kPackedAlwaysEffects ? 0 : 1;
    ctx->fullBuildUsed = o.fullXpx;
  }
}

bool vsfSplitSparseRows(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const VsfStatementSettings& st = ctx->stmt;
  const VsfPerfOptions& po = st.perfOptions;
  const bool path = vsfMethod(o.method).splitSparseRows;
  return o.split && path && !o.fullXpx && !po.sscpFull && !seam::denseRoad() &&
         o.screen == VsfScreenMethod::None && o.colStandardize && !o.parmStandardize && !o.cvOn &&
         !o.cvExternal && o.cvMethod == VsfCvMethod::None && !o.pressNeeded &&
         o.hierarchy == VsfHierarchy::None && !ctx->partitionOn && ctx->dataReadOnce;
}

namespace {

// Whether some model effect has more than one column (its entries' columns summed).
bool multiColumnEffect(const VsfDataSettings& s) {
  int32_t effects = 0;
  for (int32_t i = 0; i < s.entryCount; ++i)
    effects = std::max(effects, s.entries[i].effect + 1);
  std::vector<int64_t> columns(static_cast<size_t>(effects), 0);
  for (int32_t i = 0; i < s.entryCount; ++i) {
    const VsfEffectEntry& e = s.entries[i];
    if (e.columnCount > 1 ||
        (e.effect >= 0 && (columns[static_cast<size_t>(e.effect)] += e.columnCount) > 1))
      return true;
  }
  return false;
}

} // namespace

void vsfPlanRoad(VsfContext* ctx, VsfDataSettings* s) {
  VsfModelOptions& o = ctx->options;
  VsfRoadShape road;
  const bool served = vsfStructuredPlan(o, *s, &road) == VsfMsg{};
  // The growing build holds the many-level effect's own block, k^2 / 2 for k levels, and
  // passes over the rows at each step; the road holds k times the small columns and passes
  // once. Where the road serves the fit it costs less, and the build it needs is taken; where
  // the user asked for the growing build, only while the road's sums of the effect hold no
  // more than the block the growing build forms before its first step, which is what that
  // build is asked for to spare.
  const int32_t folds = s->cv ? std::max(s->folds, 1) : 0;
  const double roadCells = vsfStructuredCells(road, folds, o.pressNeeded != 0);
  const double blockCells =
      (1.0 + folds) * static_cast<double>(road.columns) * double(road.columns + 1) / 2.0;
  const bool lighter = roadCells <= blockCells;
  if (ctx->growingByChoice || ctx->growingAsked) {
    o.fullXpx = served && (ctx->growingByChoice || lighter) ? 1 : 0;
    o.storeCross = o.fullXpx ? 0 : ctx->storeCrossGrowing;
    o.fullSweep = o.fullXpx ? VsfFullSweep::Never : ctx->stmt.perfOptions.fullSweep;
    ctx->fullBuildUsed = o.fullXpx;
  }
  s->road = served && o.fullXpx ? road : VsfRoadShape{};
  s->press = o.pressNeeded;
  s->trialCopies = vsfTrialCopiesKept(o, o.fullXpx != 0, multiColumnEffect(*s), s->road.entry >= 0);
  if (served && ctx->growingAsked)
    explainAskedGrowth(road, o.fullXpx != 0, roadCells, blockCells);
}
