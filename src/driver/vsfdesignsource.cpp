// The design-context adapter of the reading pass: vsfData builds the pass's settings and
// effect list from the run's context and reads the BY group through the design library's
// rows (DATA=, then the held-out data sets, whose variables the library is pointed at in
// turn).
#include "driver/vsfdesignsource.h"

#include "data/vsfdata.h"

#include "design/levnames.h"
#include "design/levreg.h"
#include "design/levrow.h"
#include "design/levrowwork.h"
#include "design/levtables.h"
#include "driver/vsfpostinit.h"
#include "model/vsfmodel.h"
#include "model/vsfsplitadaptive.h"
#include "model/vsfstructured.h"
#include "output/vsfcontext.h"
#include "output/vsfeffects.h"
#include "output/vsfmodelview.h"
#include "output/vsfsync.h"
#include "support/cvscheme.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/qkpgf.h"
#include "support/stepcodes.h"
#include "support/testthread.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct DesignSource {
  VsfContext* ctx;
  LevRegContext* design;
  int32_t indexVariable; // the CLASS variable of CVMETHOD=INDEX
  // What a TESTDATA= or VALDATA= pass changes in the design context, kept to be put back.
  struct Saved {
    HostDataSet* data;
    HostReadVector* formattedVector;
    HostReadVector* plainVector;
    char* formattedRecord;
    char* plainRecord;
    LevVariable* weights;
    LevVariable* freq;
    int32_t weightCount;
    HostVariable* responseVar;
    HostVariable* weightVar;
    HostVariable* freqVar;
    HostVariable** numerics; // [numeric count]
    HostVariable** classes;  // [CLASS count]
  } saved{};
  bool swapped = false;
  int64_t blockFirst = 0; // the first observation (1-based) the block road counts from
};

const VsfNameRecord* heldOutNames(const DesignSource* src, int32_t which) {
  return which == 1 ? &src->ctx->testNames : &src->ctx->valNames;
}

// Points the design context at a held-out data set: its variables, its observations, and
// no FREQ or WEIGHT variable when it lacks them (frequency and weight 1 for the pass).
[[nodiscard]] int32_t pointAtHeldOut(DesignSource* src, int32_t which) {
  VsfContext* ctx = src->ctx;
  LevRegContext* dc = src->design;
  LevDesign* d = dc->design;
  const VsfNameRecord* names = heldOutNames(src, which);
  if (names->data == nullptr || dc->library == nullptr) {
    xebug("vsfData: a held-out data set has no variable lookups");
    return codeOf(VsfStatus::InternalError);
  }
  DesignSource::Saved& sv = src->saved;
  if (sv.numerics == nullptr && d->numericCount > 0)
    sv.numerics = poolArray<HostVariable*>(ctx->byPool, d->numericCount);
  if (sv.classes == nullptr && d->classCount > 0)
    sv.classes = poolArray<HostVariable*>(ctx->byPool, d->classCount);
  if ((d->numericCount > 0 && sv.numerics == nullptr) ||
      (d->classCount > 0 && sv.classes == nullptr))
    return kVsfNoMemory;
  for (int32_t j = 0; j < d->numericCount; ++j)
    sv.numerics[j] = d->numerics[j].var;
  for (int32_t i = 0; i < d->classCount; ++i)
    sv.classes[i] = d->classes[i].var;
  LevReadBlock* rb = dc->library;
  sv.data = rb->data;
  sv.formattedVector = rb->formattedVector;
  sv.plainVector = rb->plainVector;
  sv.formattedRecord = rb->formattedRecord;
  sv.plainRecord = rb->plainRecord;
  sv.weights = dc->weights;
  sv.freq = dc->freq;
  sv.weightCount = dc->weightCount;
  sv.responseVar =
      dc->responseCount > 0 && dc->responses != nullptr ? dc->responses[0].var : nullptr;
  sv.weightVar = dc->weights != nullptr ? dc->weights[0].var : nullptr;
  sv.freqVar = dc->freq != nullptr ? dc->freq[0].var : nullptr;
  src->swapped = true;

  vsfSetNamePtrs(ctx, names, 1);
  // The design context's own records of the response, WEIGHT and FREQ variables.
  if (sv.responseVar != nullptr && names->response != nullptr)
    dc->responses[0].var = names->response;
  if (dc->weights != nullptr) {
    if (names->weight != nullptr)
      dc->weights[0].var = names->weight;
    else
      dc->weights = nullptr;
  }
  if (dc->freq != nullptr) {
    if (names->freq != nullptr)
      dc->freq[0].var = names->freq;
    else
      dc->freq = nullptr;
  }
  // Read vectors are declared on one data set: the held-out set gets its own.
  vsfPointReadBlockAt(rb, names->data);
  return 0;
}

// Puts back what pointAtHeldOut changed; the held-out read vectors are released.
void restoreFromHeldOut(DesignSource* src) {
  if (!src->swapped)
    return;
  src->swapped = false;
  LevRegContext* dc = src->design;
  LevDesign* d = dc->design;
  LevReadBlock* rb = dc->library;
  const DesignSource::Saved& sv = src->saved;
  vsfReleaseReadBlock(rb);
  rb->data = sv.data;
  rb->formattedVector = sv.formattedVector;
  rb->plainVector = sv.plainVector;
  rb->formattedRecord = sv.formattedRecord;
  rb->plainRecord = sv.plainRecord;
  dc->weights = sv.weights;
  dc->freq = sv.freq;
  dc->weightCount = sv.weightCount;
  if (sv.responseVar != nullptr)
    dc->responses[0].var = sv.responseVar;
  if (dc->weights != nullptr)
    dc->weights[0].var = sv.weightVar;
  if (dc->freq != nullptr)
    dc->freq[0].var = sv.freqVar;
  vsfRestoreModelNamePtrs(src->ctx);
  for (int32_t j = 0; j < d->numericCount; ++j)
    d->numerics[j].var = sv.numerics[j];
  for (int32_t i = 0; i < d->classCount; ++i)
    d->classes[i].var = sv.classes[i];
}

[[nodiscard]] int32_t designBegin(void* self, int32_t which) {
  auto* src = static_cast<DesignSource*>(self);
  if (which != 0) {
    VsfNameRecord* names = which == 1 ? &src->ctx->testNames : &src->ctx->valNames;
    if (vsfSynchronize(src->ctx, names,
                       which == 1 ? VsfMsg::TestdataLacksByGroup : VsfMsg::ValdataLacksByGroup) !=
        0)
      return codeOf(RowSourceStart::OutOfStep);
    int32_t rc = pointAtHeldOut(src, which);
    if (rc != 0) {
      restoreFromHeldOut(src);
      return rc;
    }
  }
  // A failed rewind is logged and fails the step; the pass then reads no rows.
  (void)zlevGetInit(src->design);
  return codeOf(RowSourceStart::Ready);
}
void designEnd(void* self, int32_t) { restoreFromHeldOut(static_cast<DesignSource*>(self)); }
[[nodiscard]] int32_t designNext(void* self) {
  return zlevGetNext(static_cast<DesignSource*>(self)->design);
}
[[nodiscard]] LevRowStatusSet designStatus(void* self, double* y, double* w, double* f) {
  return zlevrgd(static_cast<DesignSource*>(self)->design, y, w, f);
}
void designRow(void* self, double* values) {
  zlevrgx(static_cast<DesignSource*>(self)->design, nullptr, nullptr, values);
}
[[nodiscard]] int32_t designSparseBound(void* self) {
  return zlevSparseRowBound(static_cast<DesignSource*>(self)->design);
}
[[nodiscard]] int32_t designSparseTypical(void* self) {
  return zlevSparseRowTypical(static_cast<DesignSource*>(self)->design);
}
[[nodiscard]] int32_t designSparseRow(void* self, double* scratch, double* values,
                                      int32_t* columns) {
  return zlevrgxSparse(static_cast<DesignSource*>(self)->design, scratch, values, columns);
}
[[nodiscard]] int32_t designIndexLevel(void* self) {
  const DesignSource* src = static_cast<DesignSource*>(self);
  return src->design->levelIndex[src->indexVariable];
}
void designNumeric(void* self, double* values) {
  LevRegContext* ctx = static_cast<DesignSource*>(self)->design;
  const int32_t n = ctx->design->numericCount;
  if (n > 0)
    std::memcpy(values, ctx->numeric, sizeof(double) * static_cast<size_t>(n));
}
void designLevelsAll(void* self) {
  zlevLevelsAll(static_cast<DesignSource*>(self)->design, 0, nullptr);
}
void designEffectMeans(void* self, const double* columnSums, double scale, double* means) {
  zlevEfMeans(static_cast<DesignSource*>(self)->design, columnSums, means, nullptr, scale);
}

// A held-out row with an explanatory value missing: true when a CLASS variable read from the
// data set has no level for the row's value; otherwise, under the GLM coding, every effect
// whose level combination was not met in DATA= counts the row.
[[nodiscard]] bool designUnknownLevels(void* self, int32_t* counters) {
  LevRegContext* dc = static_cast<DesignSource*>(self)->design;
  const LevDesign* d = dc->design;
  for (int32_t i = 0; i < d->classCount; ++i)
    if (d->classes[i].var != nullptr && dc->levelIndex[i] < 0)
      return true;
  if (!has(d->designFlags, LevDesignFlag::NonGlm) && d->cells != nullptr)
    for (int32_t e = 0; e < d->effectCount; ++e) {
      const LevEffect& ef = d->effects[e];
      if (ef.allClassCount > 0 && d->cells[e].column >= ef.combinationCount)
        counters[e] += 1;
    }
  return false;
}
// The ROLEVAR value of the current DATA= observation, formatted into the role buffer.
void designRoleValue(void* self, const char** text, int32_t* length) {
  VsfContext* ctx = static_cast<DesignSource*>(self)->ctx;
  *text = ctx->roleBuffer;
  *length = 0;
  if (ctx->roleBuffer == nullptr || ctx->roleLength <= 0)
    return;
  if (xvget1v(ctx->design.library->data, ctx->stmt.partition.roleVar, ctx->roleLength,
              ctx->roleBuffer) == 0)
    *length = ctx->roleLength;
}
const char* designEffectName(void* self, int32_t e) {
  return static_cast<DesignSource*>(self)->design->design->effects[e].name;
}

// The same name from the design descriptor the data settings keep.
const char* settingsEffectName(const void* design, int32_t e) {
  return static_cast<const LevDesign*>(design)->effects[e].name;
}

// The block road: workers read observations from the host in blocks of formatted records
// and run the row protocol on their own copies of the design context.
struct BlockWorker {
  LevRowWorker* rows;
  HostReadVector* vector;
  int32_t recordLength;
  int32_t columns;
  int64_t first;
  char* records;
  double* scratch; // the sparse rows' effects built whole
};

[[nodiscard]] int64_t designBlockBegin(void* self) {
  auto* src = static_cast<DesignSource*>(self);
  LevRegContext* dc = src->design;
  if (src->swapped || !zlevRowWorkersReady(dc))
    return 0;
  int64_t next = 0, count = 0;
  if (xobsspan(dc->library->data, &next, &count) != 0)
    return 0;
  src->blockFirst = next;
  return count;
}

void* designBlockWorker(void* self, QkPool* pool, int32_t rows) {
  auto* src = static_cast<DesignSource*>(self);
  LevRegContext* dc = src->design;
  auto* w = poolArray<BlockWorker>(pool, 1);
  if (w == nullptr)
    return nullptr;
  w->rows = zlevRowWorkerMake(dc, pool);
  w->vector = zlevRowVector(dc, &w->recordLength);
  w->columns = dc->design->columnCount;
  w->first = src->blockFirst;
  w->records = poolArray<char>(pool, static_cast<size_t>(rows) * w->recordLength);
  w->scratch = poolArray<double>(pool, static_cast<size_t>(std::max(w->columns, 1)));
  return w->rows != nullptr && w->records != nullptr && w->scratch != nullptr ? w : nullptr;
}

// Reads observations offset .. offset + count - 1 of the block span into the worker's records
// and calls row(k, record, weight, frequency) for each, its weight and frequency (when wanted)
// set to 1 first.
template <class Row>
[[nodiscard]] int32_t eachBlockRecord(BlockWorker* w, int64_t offset, int32_t count, double* weight,
                                      double* frequency, Row row) {
  if (const int32_t rc = xyvgetn(w->vector, w->first + offset, count, w->records, w->recordLength);
      rc == kHostBlockFileUnreadable)
    return codeOf(VsfStatus::ReportedFailure);
  else if (rc != 0)
    return codeOf(VsfStatus::InternalError); // the block lies inside the span the host gave: a bug
  for (int32_t k = 0; k < count; ++k) {
    double* wk = weight != nullptr ? weight + k : nullptr;
    double* fk = frequency != nullptr ? frequency + k : nullptr;
    if (wk != nullptr)
      *wk = 1.0;
    if (fk != nullptr)
      *fk = 1.0;
    row(k, w->records + static_cast<size_t>(k) * w->recordLength, wk, fk);
  }
  return 0;
}

[[nodiscard]] int32_t designBlockRows(void* worker, int64_t offset, int32_t count,
                                      LevRowStatusSet* status, double* response, double* weight,
                                      double* frequency, double* rows) {
  auto* w = static_cast<BlockWorker*>(worker);
  return eachBlockRecord(w, offset, count, weight, frequency,
                         [&](int32_t k, const char* record, double* wk, double* fk) {
                           status[k] = zlevRowWorkerRow(w->rows, record, response + k, wk, fk,
                                                        rows + static_cast<size_t>(k) *
                                                                   static_cast<size_t>(w->columns));
                         });
}

[[nodiscard]] int32_t designBlockSparseRows(void* worker, int64_t offset, int32_t count,
                                            LevRowStatusSet* status, double* response,
                                            double* weight, double* frequency, double* values,
                                            int32_t* columns, int32_t* ends) {
  auto* w = static_cast<BlockWorker*>(worker);
  int32_t at = 0;
  return eachBlockRecord(w, offset, count, weight, frequency,
                         [&](int32_t k, const char* record, double* wk, double* fk) {
                           int32_t n = 0;
                           status[k] =
                               zlevRowWorkerSparseRow(w->rows, record, response + k, wk, fk,
                                                      w->scratch, values + at, columns + at, &n);
                           at += n;
                           ends[k] = at;
                         });
}

void designBlockEnd(void* self, int64_t count) {
  // The skip count is not needed: the next block read asks where it starts.
  (void)xobsskip(static_cast<DesignSource*>(self)->design->library->data, count);
}

void designRelease(void* self, int64_t taken) {
  auto* src = static_cast<DesignSource*>(self);
  if (src->swapped)
    return;
  HostDataSet* data = src->design->library->data;
  if (taken >= 0) {
    // Giving up rows early is an economy; when refused the host keeps them.
    (void)xobsdone(data, src->blockFirst + taken);
    return;
  }
  int64_t next = 0, count = 0;
  if (xobsspan(data, &next, &count) == 0)
    (void)xobsdone(data, next - 1);
}

// The design's vote for a sparse representation of model effect e.
// Whether a row holds one column at most of each split effect among the entries: indicator
// codings (GLM, or REFERENCE for every CLASS variable of the effect) of no constructed effect.
bool splitLevelsOneARow(const LevDesign* d, const VsfEffectEntry* entries, int32_t count) {
  const bool glm = !has(d->designFlags, LevDesignFlag::NonGlm);
  for (int32_t i = 0; i < count; ++i) {
    if (!entries[i].sparseVote)
      continue;
    const LevEffect& e = d->effects[entries[i].effect];
    if (e.constructedCount > 0)
      return false;
    for (int32_t c = 0; c < e.allClassCount && !glm; ++c)
      if (d->classes[e.allClass[c]].coding != CC_REFERENCE)
        return false;
  }
  return true;
}

uint8_t designSparseVote(const LevDesign* d, const LevEffect& e) {
  VsfEffectTraits t{};
  t.columnCount = e.columnCount;
  t.classCount = e.allClassCount;
  t.glm = !has(d->designFlags, LevDesignFlag::NonGlm);
  int32_t codings[64];
  int32_t n = std::min(e.allClassCount, 64);
  for (int32_t i = 0; i < n; ++i)
    codings[i] = d->classes[e.allClass[i]].coding;
  t.classCount = n;
  t.codings = codings;
  for (int32_t i = 0; i < e.constructedCount && !t.bigBsplineBasis; ++i) {
    const LevEftVar& c = d->constructed[e.constructed[i]];
    t.bigBsplineBasis = c.kind == EffectVarKind::Spline && !c.continuation && c.columnCount > 10 &&
                        c.spline != nullptr && c.spline->basis == SB_BSPLINE;
  }
  return static_cast<uint8_t>(useSparseRepresentation(t));
}

// Marks the small effects voted sparse beside one many-level effect of a fit that the
// structured road may serve (FORWARD, STEPWISE or BACKWARD without split levels, hierarchy,
// model averaging or external cross validation) to join the road: their columns then go
// into the road's triangle with the dense ones, while their values stay sparse in the pages,
// where a second sparse effect would leave the many-level one the packed triangle of every
// column. They join where the road with every joining column in its triangle, the rows'
// updates of it included, costs less than that triangle (vsfJoinCheaper).
void joinSmallEffects(const VsfModelOptions& o, const VsfDataSettings* s, VsfEffectEntry* entries,
                      int32_t count) {
  if (!vsfMethodIs(o.method, VsfMethodFamily::Sequential) || o.split ||
      o.hierarchy != VsfHierarchy::None || o.cvExternal || s->resampling || s->forceSparse ||
      s->forceDense)
    return;
  int32_t many = -1;
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (entries[i].columnList != nullptr)
      return; // split levels
    total += entries[i].columnCount;
    if (entries[i].sparseVote && (many < 0 || entries[i].columnCount > entries[many].columnCount))
      many = i;
  }
  if (many < 0 || entries[many].constructed)
    return; // no many-level CLASS effect for them to join
  // The road's triangle: the response and every column but the many-level effect's.
  const int64_t k = entries[many].columnCount;
  if (!vsfJoinCheaper(k, 1 + total - k, s->expectedRows))
    return;
  for (int32_t i = 0; i < count; ++i)
    if (i != many && entries[i].sparseVote)
      entries[i].joined = 1;
}

// Fills the settings that follow from the run's options, statements and PERFORMANCE
// settings; they hold for every BY group, so they are filled once per run.
void fillRunSettings(VsfContext* ctx, VsfDataSettings* s) {
  const VsfModelOptions& o = ctx->options;
  const VsfStatementSettings& st = ctx->stmt;
  const VsfPerfOptions& po = st.perfOptions;
  s->cpuCount = ctx->perf.cpuCountSetting;
  s->forceDense = po.allDense;
  s->forceSparse = po.allSparse;
  s->utilDetails = po.utilDetails;
  s->utilAccess = po.utilAccess == kQkPgfRandom ? kQkPgfRandom : kQkPgfSequential;
  s->utilPageSize = po.utilPageSize;
  s->utilBuffers = po.utilBuffers;
  // Fits that centre, scale or weight the pages rewrite them in place and keep every
  // effect dense.
  s->rewritePages = o.colStandardize || o.parmStandardize || o.adaptive;
  s->forceDense = s->forceDense || s->rewritePages;
  s->method = o.method;
  s->maxSteps = o.maxSteps;
  s->steps = o.steps;
  s->forcedIn = o.forcedIn;
  s->noint = o.noint;
  s->weightGiven = st.proc.weightGiven;
  s->freqGiven = st.proc.freqGiven;
  s->xcv = o.cvExternal;
  s->cv = o.cvOn;
  s->cvMethod = o.cvMethod;
  s->split = o.split;
  s->resampling = st.ma.on;
  s->refit = st.ma.on && st.ma.refit;
  s->noStandardize = st.noStandardize;
  s->noprint = ctx->noprint;
  s->l2Steps = o.l2Steps;
  s->enTuneRows = o.showL2Search && o.l2Search != VsfL2Search::None;
  s->testFraction = o.testFraction;
  s->validateFraction = o.validateFraction;
  s->trainFraction = o.trainFraction;
  s->partitionGiven = st.partition.given;
  s->roleVar = st.partition.roleVar != 0;
  s->trainValue = {st.partition.trainText, st.partition.trainLength};
  s->validateValue = {st.partition.validateText, st.partition.validateLength};
  s->testValue = {st.partition.testText, st.partition.testLength};
  s->testData = st.proc.testData != nullptr;
  s->valData = st.proc.valData != nullptr;
  s->roleCodes = s->roleVar || o.trainFraction != 1.0 || s->testData || s->valData;
  s->seed = &ctx->workingSeed;
  // The post-fit bridge takes the means of the numeric variables when no model averaging
  // is asked.
  s->bridge = ctx->postFit != nullptr && !st.ma.on;
  s->releaseData = ctx->dataReadOnce;
}

} // namespace

VsfStatus vsfData(VsfContext* ctx) {
  // The settings live in the run's context: the frame reads them in every pass of the group.
  VsfDataSettings* s = &ctx->dataSettings;
  const VsfModelOptions& o = ctx->options;
  // The split levels are known per BY group: each group's column count chooses its road.
  if (ctx->design.design != nullptr)
    vsfSplitCrossRoad(ctx, ctx->design.design->columnCount);
  if (!ctx->dataSettingsReady) {
    fillRunSettings(ctx, s);
    ctx->dataSettingsReady = 1;
  }
  s->splitSparse = vsfSplitSparseRows(ctx) ? 1 : 0;
  // The reading pass may lower the thread count; it starts from the run's current one.
  s->threadCount = std::max(ctx->perf.threadCount, 1);
  s->threadingOn = ctx->perf.threadingOn && s->threadCount > 1;
  s->sweepThreads = s->threadingOn ? s->threadCount : 1;
  s->folds = o.cvFolds;
  s->read = VsfReadResult{};

  // A design this pass cannot read stops with an internal error rather than read rows into
  // an unknown layout or leave data out without a word.
  const char* missing = nullptr;
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->effects == nullptr)
    missing = "vsfData: the design has no model effects";
  else if (o.split && ctx->effectRecords == nullptr)
    missing = "vsfData: the split effect records of the BY group were not made";
  else if (vsfCvScheme(s->cvMethod).indexFolds &&
           (o.cvIndexVar < 0 || o.cvIndexVar >= d->classCount))
    missing = "vsfData: the CVMETHOD=INDEX variable is not a CLASS variable of the design";
  if (missing != nullptr) {
    xebug(missing);
    return VsfStatus::InternalError;
  }

  // The effect list: one entry per effect record (with SPLIT one per level combination of
  // an effect's split variables, with the positions of its columns in the effect), else
  // every model effect in order. An entry is stored sparse or dense by its model effect.
  const bool fromRecords = ctx->effectRecords != nullptr && ctx->effectRecordCount > 0;
  const int32_t E = fromRecords ? ctx->effectRecordCount : d->effectCount;
  auto* entries = poolArray<VsfEffectEntry>(ctx->byPool, std::max(E, 1));
  if (entries == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < E; ++i) {
    const VsfEffectRecord* r = vsfEffectRecord(ctx, i);
    const int32_t e = r != nullptr ? r->effect : i;
    if (e < 0 || e >= d->effectCount) {
      xebug("vsfData: an effect record names no model effect");
      return VsfStatus::InternalError;
    }
    const LevEffect& eff = d->effects[e];
    const bool split = r != nullptr && r->splitCount > 0 && r->columns != nullptr;
    const int32_t count = split ? r->parmCount : eff.columnCount;
    if (split)
      for (int32_t c = 0; c < count; ++c)
        if (r->columns[c] < 0 || r->columns[c] >= eff.columnCount) {
          xebug("vsfData: a split effect record lists a column outside its effect");
          return VsfStatus::InternalError;
        }
    entries[i] = VsfEffectEntry{e, count, split ? r->columns : nullptr, eff.firstColumn,
                                designSparseVote(d, eff)};
    entries[i].constructed = eff.constructedCount > 0 ? 1 : 0;
  }
  s->expectedRows = ctx->stmt.proc.byCount == 0 && ctx->data != nullptr ? xdsnobs(ctx->data) : -1;
  joinSmallEffects(o, s, entries, E);
  // The records of the effects entered before selection come first in the list.
  if (o.split && fromRecords)
    ctx->model.includeCount = ctx->enteredFirstBoundary;
  if (vsfCvScheme(s->cvMethod).indexFolds) // one fold per level of the index variable
    s->folds = d->classes[o.cvIndexVar].levelCount;
  s->entries = entries;
  s->entryCount = E;
  // The many-level road and the build it needs are chosen with the effect list in hand.
  vsfPlanRoad(ctx, s);
  s->fullBuild = o.fullXpx || ctx->stmt.perfOptions.sscpFull;
  s->incrementalBuild = !s->fullBuild && !s->rewritePages && vsfMethodSelects(o.method);
  // The adaptive weights' fit over sparse split levels solves the levels of one split effect
  // of which a row holds one level at most.
  if (s->splitSparse && o.adaptive && !o.adaptiveInest &&
      (!vsfOneSplitEffect(s) || !splitLevelsOneARow(d, entries, E)))
    s->splitSparse = 0;
  s->modelEffectCount = d->effectCount;
  s->effectName = settingsEffectName;
  s->nameSource = d;
  s->columnCount = d->columnCount;
  s->numericCount = d->numericCount;
  s->glm = !has(d->designFlags, LevDesignFlag::NonGlm);

  DesignSource design;
  design.ctx = ctx;
  design.design = &ctx->design;
  design.indexVariable = o.cvIndexVar;
  VsfRowSource src{};
  src.self = &design;
  src.begin = designBegin;
  src.end = designEnd;
  src.next = designNext;
  src.status = designStatus;
  src.row = designRow;
  src.indexLevel = designIndexLevel;
  src.unknownLevels = designUnknownLevels;
  src.effectName = designEffectName;
  src.roleValue = designRoleValue;
  src.numericValues = designNumeric;
  src.levelsAll = designLevelsAll;
  src.effectMeans = designEffectMeans;
  src.sparseBound = designSparseBound;
  src.sparseTypical = designSparseTypical;
  src.sparseRow = designSparseRow;
  // The _testroadread switch at 0 keeps DATA= on the serial road, so that tests can compare
  // the two roads at one thread count.
  if (fastRoadOn(FastRoad::BlockReading)) {
    src.blockBegin = designBlockBegin;
    src.blockWorker = designBlockWorker;
    src.blockRows = designBlockRows;
    src.blockEnd = designBlockEnd;
    src.blockSparseRows = designBlockSparseRows;
  }
  // A design levelised across BY groups reads DATA= from its start: nothing is given up.
  if (s->releaseData && !has(d->designFlags, LevDesignFlag::AcrossBy))
    src.release = designRelease;
  VsfReadResult& result = s->read;
  ctx->model.bags = &ctx->bags;
  ctx->model.puddle = &ctx->puddle;
  VsfStatus rc = vsfReadPass(s, &src, &ctx->model, &ctx->bags, &ctx->exts, ctx->byPool,
                             ctx->pagePool, &ctx->returnCode, &result);
  // The lowered thread count holds for the rest of the run; the budget that lowered it is
  // kept for the PerfSettings table.
  ctx->perf.threadCount = s->threadCount;
  ctx->perf.threadingOn = s->threadingOn;
  if (ctx->threadBudget.memory == 0 || s->threadBudget.limit != VTL_NONE)
    ctx->threadBudget = s->threadBudget;
  ctx->maxRowsPerPage = std::max(ctx->maxRowsPerPage, result.maxRowsPerPage);
  return rc;
}
