// Building and ending the per-BY-group design context: the levelisation of CLASS and numeric
// variables, the GLM level combinations met in the data, label widths, column counts and
// first columns, column tables, names and the fit block (zlevrgi), and the staged clean-up
// (zlevtrm). Levels, rows, tables and names are the other units of src/design.
// Declared in design/levreg.h.
#include "design/levreg.h"

#include "design/levfit.h"
#include "design/levlevel.h"
#include "design/levnames.h"
#include "design/levrow.h"
#include "design/levtables.h"
#include "design/levthread.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"
#include "support/wzstr.h"
#include "support/ztree.h"

#include <cassert>
#include <cmath>
#include <cstring>

namespace {

[[nodiscard]] bool isNumeric(const LevVariable& v) { return v.var != nullptr && v.var->type == 1; }

void refind(HostDataSet* data, LevVariable* v) {
  if (v == nullptr || v->var == nullptr || v->var->number < 0)
    return;
  // The number is the answer (0 when the set lacks the variable); the readers check it.
  (void)xvfind(data, v->var->name, v->var->nameLength, &v->var->number, 0);
}

// The levels of the one CLASS variable of an effect with one.
int32_t soleLevels(const LevDesign* d, const LevEffect& ef) {
  return d->classes[ef.nestedCount > 0 ? ef.nested[0] : ef.crossed[0]].levelCount;
}

// The GLM level combinations of every effect with CLASS variables, after the constructed
// effects and before the columns are counted.
void levelCombinations(LevRegContext* ctx, LevDesign* d, QkPool* pool) {
  for (int32_t e = 0; e < d->effectCount; ++e)
    d->effects[e].combinationCount = d->effects[e].allClassCount == 0 ? 1 : 0;
  if (d->classCount == 0)
    return;
  QkPool* temp = xmpoolc(nullptr, 1024, 4102);
  if (temp == nullptr)
    return;
  const int32_t E = d->effectCount;
  void** roots = levArray<void*>(temp, static_cast<size_t>(E));
  void** spares = levArray<void*>(temp, static_cast<size_t>(E));
  double* y = nullptr;
  double* w = nullptr;
  double* f = nullptr;
  if (!has(d->designFlags, LevDesignFlag::NoRowBuffers)) {
    y = levArray<double>(temp,
                         static_cast<size_t>(ctx->responseCount > 0 ? ctx->responseCount : 1));
    w = levArray<double>(temp, 1);
    f = levArray<double>(temp, 1);
  }
  for (int32_t e = 0; e < E; ++e)
    d->effects[e].combinationTable = nullptr;
  const bool perVariable = has(d->wideFlags, LevWideFlag::MissingPerVar);
  constexpr int32_t kKeyAt = 24;
  // The workers' pass, when they are ready; a failed one leaves the counts as they were and
  // the serial pass below does the work again.
  bool threaded = false;
  if (ctx->threadsAllowed) {
    if (ThreadInit(ctx) == 1)
      threaded = zlevThreadedEffects(ctx, roots, temp, y, w, f) == VsfStatus::Ok;
    else
      CleanupEThreads(ctx);
  }
  if (!threaded)
    (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  // An effect of one CLASS variable has a combination per level met: the serial pass marks
  // the levels in a table rather than look each row's up in a tree.
  uint8_t** met = levArray<uint8_t*>(temp, static_cast<size_t>(E));
  for (int32_t e = 0; e < E && !threaded && met != nullptr; ++e)
    if (const LevEffect& ef = d->effects[e];
        ef.allClassCount == 1 && ef.nestedCount + ef.crossedCount == 1)
      met[e] = levArray<uint8_t>(temp, static_cast<size_t>(std::max(soleLevels(d, ef), 1)));
  while (!threaded && zlevGetNext(ctx) != 0) {
    const LevRowStatusSet status = zlevrgd(ctx, y, w, f);
    if (!perVariable && levRowSkipsLevels(status))
      continue;
    for (int32_t e = 0; e < E; ++e) {
      LevEffect& ef = d->effects[e];
      const int32_t c = ef.allClassCount;
      if (c == 0)
        continue;
      auto* key = static_cast<char*>(spares[e]);
      if (key == nullptr)
        key = levArray<char>(temp, static_cast<size_t>(4 * c + 28));
      auto* slots = reinterpret_cast<int32_t*>(key + kKeyAt);
      bool negative = false;
      int32_t k = 0;
      for (int32_t j = 0; j < ef.nestedCount; ++j)
        slots[k++] = ctx->levelIndex[ef.nested[j]];
      for (int32_t j = 0; j < ef.crossedCount; ++j)
        slots[k++] = ctx->levelIndex[ef.crossed[j]];
      for (int32_t j = 0; j < c; ++j)
        negative = negative || slots[j] < 0;
      // Without per-variable handling a counted row has every level; a negative index
      // would still be no combination of levels, so it never makes one.
      if (negative) {
        spares[e] = key;
        continue;
      }
      if (met != nullptr && met[e] != nullptr) {
        if (slots[0] < soleLevels(d, ef)) { // a level index is always below the count
          ef.combinationCount += met[e][slots[0]] == 0;
          met[e][slots[0]] = 1;
        }
        spares[e] = key;
        continue;
      }
      void* hit = ztrebdf(&roots[e], key, 4 * c, kKeyAt, Compare);
      if (hit == key) {
        ef.combinationCount += 1;
        spares[e] = nullptr;
      } else {
        spares[e] = key;
      }
    }
  }
  for (int32_t e = 0; e < E; ++e) {
    LevEffect& ef = d->effects[e];
    const int32_t c = ef.allClassCount;
    if (c == 0 || ef.combinationCount == 0)
      continue;
    ef.combinationTable = levArray<int32_t>(pool, static_cast<size_t>(c) * ef.combinationCount);
    if (met != nullptr && met[e] != nullptr) {
      int32_t i = 0;
      for (int32_t level = 0; level < soleLevels(d, ef); ++level)
        if (met[e][level] != 0)
          ef.combinationTable[i++] = level;
      continue;
    }
    int32_t i = 0;
    for (void* node = ztreord(roots[e]); node != nullptr; node = ztreord(roots[e]), ++i) {
      const auto* slots = reinterpret_cast<const int32_t*>(static_cast<const char*>(node) + kKeyAt);
      int32_t* row = ef.combinationTable + static_cast<size_t>(i) * c;
      for (int32_t j = 0; j < ef.crossedCount; ++j)
        row[j] = slots[ef.nestedCount + j];
      for (int32_t j = 0; j < ef.nestedCount; ++j)
        row[ef.crossedCount + j] = slots[j];
    }
  }
  xmpoold(temp);
}

} // namespace

int32_t zlevedf(LevDesign* d, int32_t e) {
  assert(e >= 0 && e < d->effectCount && "an effect of the design");
  LevEffect& ef = d->effects[e];
  int64_t g = 1;
  if (!has(d->designFlags, LevDesignFlag::NonGlm)) {
    g = ef.combinationCount;
  } else {
    for (int32_t k = 0; k < ef.crossedCount; ++k)
      g *= d->classes[ef.crossed[k]].levelCount - 1;
    for (int32_t k = 0; k < ef.nestedCount; ++k)
      g *= d->classes[ef.nested[k]].levelCount;
  }
  ef.classColumnCount = static_cast<int32_t>(g);
  int64_t n = g;
  for (int32_t k = 0; k < ef.constructedCount; ++k)
    n *= d->constructed[ef.constructed[k]].columnCount;
  return static_cast<int32_t>(n);
}

namespace {

// MULTIMEMBER members must agree on MISSING (else EffMsg::MultimemberMissingOptionMixed ends the
// run); a member with MISSING is then treated as an ordinary CLASS variable.
void checkMultimemberMissing(LevDesign* d) {
  for (int32_t k = 0; k < d->constructedCount; ++k) {
    const LevEftVar& ev = d->constructed[k];
    if (ev.kind != EffectVarKind::MultiMember)
      continue;
    int32_t withMissing = 0;
    for (int32_t j = 0; j < ev.classCount; ++j)
      withMissing += d->classes[ev.classes[j]].missing != 0;
    if (withMissing != 0 && withMissing != ev.classCount) {
      vsfLog(EffMsg::MultimemberMissingOptionMixed, {HostMsgArg(ev.name, ev.nameLength)});
      xexit(StepRc::StatementError, 0);
    }
  }
  for (int32_t i = 0; i < d->classCount; ++i)
    if (d->classes[i].missing && d->classes[i].multimemberMember)
      d->classes[i].multimemberMember = 0;
}

// Clears the per-group numeric usage sums.
void clearUsage(LevDesign* d) {
  for (NumericUsageBlock* m : d->usage)
    if (m != nullptr && d->numericCount > 0) {
      if (m->first != nullptr)
        std::memset(m->first, 0, sizeof(double) * static_cast<size_t>(d->numericCount));
      if (m->second != nullptr)
        std::memset(m->second, 0, sizeof(double) * static_cast<size_t>(d->numericCount));
    }
}

// Settles the FREQ variable and weight count, registers the observation source and finds
// the response, weight, FREQ and extra variables again in this group's data set.
HostDataSet* prepareSource(LevRegContext* ctx, LevReadBlock* rb) {
  LevDesign* d = ctx->design;
  if (ctx->freq != nullptr && d->freqVariable == nullptr)
    d->freqVariable = ctx->freq;
  if (ctx->weights == nullptr)
    ctx->weightCount = 0;
  else if (ctx->weightCount < 1)
    ctx->weightCount = 1;
  zlevRegisterSource(ctx);
  HostDataSet* data = rb != nullptr ? rb->data : nullptr;
  if (data != nullptr) {
    for (int32_t r = 0; r < ctx->responseCount; ++r)
      refind(data, &ctx->responses[r]);
    for (int32_t k = 0; k < ctx->weightCount; ++k)
      refind(data, &ctx->weights[k]);
    refind(data, ctx->freq);
    refind(data, ctx->extraResponse1);
    refind(data, ctx->extraExplanatory);
  }
  return data;
}

// The levelisation pass over the group: the CLASS levels in their order with resolved
// reference levels, and the centre and half-range of every numeric variable. NoLevels when
// no levelisation context can be made, ReferenceNotLevel after
// LevMsg::ReferenceLevelNotALevel.
[[nodiscard]] LevBuild levelise(LevRegContext* ctx, HostDataSet* data, QkPool* pool) {
  LevDesign* d = ctx->design;
  LevelizeContext* lctx = zlevini(data, d);
  if (lctx == nullptr)
    return LevBuild::NoLevels;
  levRegisterForwarders(ctx, lctx);
  // With workers the values are formatted by them; the serial pass reads them formatted.
  if (zlevrinit(ctx, lctx) == 0)
    for (int32_t i = 0; i < d->classCount; ++i) {
      HostVariable* var = d->classes[i].var;
      // A formatting hint: it fails only for a data set not open, which the reads report.
      if (var != nullptr && var->number > 0 && data != nullptr)
        (void)xffile(data, 70, &var->number, 1);
    }
  zlevadd(data, lctx, d);
  // Reference levels: the statements' code is kept from the first group on.
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    if (v.savedReference == 0)
      v.savedReference = v.referenceSelector;
    else
      v.referenceSelector = v.savedReference;
  }
  for (int32_t i = 0; i < d->classCount; ++i)
    ztrelst(&lctx->trees[i]);
  lctx->listed = 1;
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    if (v.referenceSelector != -3 || lctx->levelCounts[i] == 0)
      continue;
    bool match = false;
    for (auto* node = static_cast<LevelNode*>(lctx->trees[i]); node != nullptr && !match;
         node = static_cast<LevelNode*>(node->links[0]))
      match = v.referenceText != nullptr &&
              levRefMatches(v.referenceText, node->formatted, v.levelWidth, v.keepJustification);
    if (!match) {
      vsfLog(LevMsg::ReferenceLevelNotALevel,
             {HostMsgArg(v.var ? v.var->name : "", v.var ? v.var->nameLength : 0)});
      levRaise(d, StepRc::GroupDesignError);
      xmpoold(lctx->pool);
      return LevBuild::ReferenceNotLevel;
    }
  }
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    v.levelCount = 0;
    if (lctx->levelCounts[i] > 0)
      v.levelCount = zlevlls(pool, lctx, d, i, &v.levelTexts);
  }
  for (int32_t j = 0; j < d->numericCount; ++j) {
    LevVariable& v = d->numerics[j];
    // A centre kept from an earlier group must not stand for this one's.
    v.centre = hostMissing();
    v.halfRange = hostMissing();
    double out[2];
    v.levelCount = zlevllm(nullptr, lctx, d, j, out);
    if (v.levelCount != 0) {
      v.centre = out[0];
      v.halfRange = out[1];
    }
  }
  xmpoold(lctx->pool);
  return LevBuild::Ready;
}

// The per-row arrays of the design context.
void allocateRowArrays(LevRegContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design;
  if (d->numericCount > 0)
    ctx->numeric = levArray<double>(pool, static_cast<size_t>(d->numericCount));
  if (d->classCount > 0) {
    ctx->levelIndex = levArray<int32_t>(pool, static_cast<size_t>(d->classCount));
    ctx->valueBuffers = levArray<char*>(pool, static_cast<size_t>(d->classCount));
  }
  if (ctx->responseCount > 0)
    ctx->responseOnClass = levArray<int32_t*>(pool, static_cast<size_t>(ctx->responseCount));
  FindYonClass(ctx);
  ctx->largestLevelCount = 0;
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    ctx->valueBuffers[i] =
        levArray<char>(pool, static_cast<size_t>(v.levelWidth > 0 ? v.levelWidth : 16));
    if (v.levelCount > ctx->largestLevelCount)
      ctx->largestLevelCount = v.levelCount;
  }
  ctx->scratch = levArray<double>(pool, static_cast<size_t>(ctx->largestLevelCount));
  if (d->effectCount > 0)
    d->cells = levArray<EffectCell>(pool, static_cast<size_t>(d->effectCount));
  if (ctx->responseCount > 0 && ctx->fit.responses == nullptr)
    ctx->fit.responses = levArray<double>(pool, static_cast<size_t>(ctx->responseCount));
}

// The level-label width and longest level length of every CLASS variable: the numbered
// labels of the orthogonal codings and POLYNOMIAL, else the character levels' own lengths.
void levelLabelWidths(LevDesign* d) {
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    v.levelLabelWidth = 0;
    v.longestLevelLength = 0;
    const int32_t L = v.levelCount;
    switch (v.coding) {
    case CC_ORTHEFFECT:
    case CC_ORTHREF:
    case CC_POLYNOMIAL:
    case CC_ORTHORDINAL:
      v.levelLabelWidth = static_cast<int32_t>(std::log10(L + 0.5) + 5.0);
      break;
    case CC_ORTHPOLY:
    case CC_ORTHBATHTUB:
      v.levelLabelWidth = static_cast<int32_t>(std::log10(L + 0.5) + 6.0);
      break;
    default:
      if (!isNumeric(v)) {
        const auto* internal = static_cast<const LevInternalValue*>(v.levelValues);
        for (int32_t k = 0; k < L; ++k) {
          int32_t n = wzstrip(v.levelTexts[k], v.levelWidth);
          if (n > v.levelLabelWidth)
            v.levelLabelWidth = n;
          if (internal != nullptr && internal[k].length > v.longestLevelLength)
            v.longestLevelLength = internal[k].length;
        }
      }
      break;
    }
  }
}

// The column tables, parameter names and labels (left to later passes under the MODEL
// statement's flag).
void namesAndTables(LevRegContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design;
  for (int32_t k = 0; k < d->constructedCount; ++k)
    zlevEftVarParmLevName(ctx, &d->constructed[k]);
  if (has(d->designFlags, LevDesignFlag::NonGlm))
    zlevLevelsNonSing(d, pool, 0, nullptr);
  int32_t largestE = 0;
  for (int32_t e = 0; e < d->effectCount; ++e)
    largestE = std::max(largestE, d->effects[e].constructedCount);
  int32_t* strides =
      largestE > 0 ? levArray<int32_t>(pool, static_cast<size_t>(largestE)) : nullptr;
  for (int32_t e = 0; e < d->effectCount; ++e)
    zlevLevelsAllOne(ctx, &d->effects[e], strides, pool);
  d->nameCounters[0] = d->nameCounters[1] = 0;
  if (d->parmLabelStyle == LSTYLE_INTERLACED) {
    ParmName(ctx);
  } else {
    d->columnNames = levArray<char*>(pool, static_cast<size_t>(d->columnCount));
    d->columnLabels = levArray<char*>(pool, static_cast<size_t>(d->columnCount));
    int32_t w = 0;
    for (int32_t e = 0; e < d->effectCount; ++e)
      if (d->effects[e].name != nullptr)
        w = std::max(w, static_cast<int32_t>(std::strlen(d->effects[e].name)));
    for (int32_t e = 0; e < d->effectCount; ++e)
      zlevEfParmLabel(d, pool, e, w);
  }
  if ((d->classCount > 0 || d->constructedCount > 0) && !d->shortParmNames)
    UniqDups(ctx);
}

// The fit callbacks and response buffer.
void prepareFitBlock(LevRegContext* ctx, QkPool* pool) {
  // vir2g fails only for a null routine or slot, and both are ours.
  if (ctx->fit.getY == nullptr)
    (void)vir2g(reinterpret_cast<HostRoutine>(&FitGetY), &ctx->fit.getY);
  if (ctx->fit.getW == nullptr)
    (void)vir2g(reinterpret_cast<HostRoutine>(&FitGetW), &ctx->fit.getW);
  ctx->fit.responseCount = ctx->responseCount;
  if (ctx->fit.responses == nullptr && ctx->responseCount > 0)
    ctx->fit.responses = levArray<double>(pool, static_cast<size_t>(ctx->responseCount));
  ctx->fit.cache = nullptr;
  zlevfx(&ctx->fit);
}

} // namespace

LevBuild zlevrgi(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  LevReadBlock* rb = ctx->library;
  if (rb != nullptr && rb->data == nullptr && ctx->words[0] != nullptr)
    rb->data = static_cast<HostDataSet*>(ctx->words[0]);
  QkPool* pool = levGroupPool(ctx);
  d->libraryPool = pool;
  d->constructedReady = 0;
  checkMultimemberMissing(d);
  clearUsage(d);
  HostDataSet* data = prepareSource(ctx, rb);
  const bool classPending = d->classCount > 0 && d->classes[0].levelCount == 0;
  const bool numericPending = d->numericCount > 0 && d->numerics[0].levelCount == 0;
  if (classPending || numericPending) {
    const LevBuild rc = levelise(ctx, data, pool);
    if (rc != LevBuild::Ready)
      return rc;
  }
  // Without per-variable missing values, a group with an empty CLASS variable (and no
  // observation filter) or a numeric variable without values has nothing to fit.
  if (!has(d->wideFlags, LevWideFlag::MissingPerVar)) {
    if (ctx->filter == nullptr)
      for (int32_t i = 0; i < d->classCount; ++i)
        if (d->classes[i].levelCount == 0)
          return LevBuild::NoLevels;
    for (int32_t j = 0; j < d->numericCount; ++j)
      if (isHostMissing(d->numerics[j].centre))
        return LevBuild::NoLevels;
  }
  allocateRowArrays(ctx, pool);
  // Constructed effects first: the effect levels need their lag tables.
  if (zlevefti(ctx) != VsfStatus::Ok)
    return LevBuild::ConstructedFailed;
  // The GLM design's columns are the level combinations met in the data.
  if (!has(d->designFlags, LevDesignFlag::NonGlm))
    levelCombinations(ctx, d, pool);
  levelLabelWidths(d);
  // Each effect's first column and column count.
  d->columnCount = 0;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    LevEffect& ef = d->effects[e];
    ef.firstColumn = d->columnCount;
    ef.columnCount = zlevedf(d, e);
    d->columnCount += ef.columnCount;
  }
  if (!has(d->designFlags, LevDesignFlag::ByGroup))
    namesAndTables(ctx, pool);
  prepareFitBlock(ctx, pool);
  return LevBuild::Ready;
}

void zlevtrm(LevRegContext* ctx, LevReleaseSet what) {
  if (ctx == nullptr)
    return;
  LevDesign* d = ctx->design;
  LevReadBlock* rb = ctx->library;
  if (what.has(LevRelease::Levels) && d != nullptr) {
    d->columnCount = 0;
    for (int32_t e = 0; e < d->effectCount; ++e) {
      LevEffect& ef = d->effects[e];
      ef.combinationTable = nullptr;
      ef.columnTable = nullptr;
      ef.nonSingularTable = nullptr;
      ef.columnMeans = nullptr;
      ef.combinationCount = 0;
      ef.columnRowWidth = 0;
    }
    for (int32_t i = 0; i < d->classCount; ++i) {
      LevVariable& v = d->classes[i];
      v.levelCount = 0;
      v.levelTexts = nullptr;
      v.levelValues = nullptr;
      v.lookup = nullptr;
      v.lookupIndex = nullptr;
      v.lookupHash = nullptr;
      v.codingMatrix = nullptr;
    }
    for (int32_t j = 0; j < d->numericCount; ++j)
      d->numerics[j].levelCount = 0;
    if (!what.has(LevRelease::LibraryPool))
      for (int32_t k = 0; k < d->constructedCount; ++k)
        if (d->constructed[k].kind != EffectVarKind::Polynomial) {
          d->constructed[k].columnNames = nullptr;
          d->constructed[k].columnNameLengths = nullptr;
        }
    ctx->largestLevelCount = 0;
    ctx->reservedCount = 0;
  }
  if (what.has(LevRelease::WorkArrays)) {
    ctx->levelIndex = nullptr;
    ctx->numeric = nullptr;
    ctx->valueBuffers = nullptr;
    ctx->scratch = nullptr;
    ctx->responseOnClass = nullptr;
  }
  if (what.has(LevRelease::Callbacks)) {
    ctx->fit.getY = ctx->fit.getW = nullptr;
    for (HostRoutine& slot : ctx->fit.slots)
      slot = nullptr;
    ctx->getInit = ctx->getNext = ctx->getVals = ctx->filter = nullptr;
    ctx->moreSlots[0] = ctx->moreSlots[1] = nullptr;
  }
  if (what.has(LevRelease::FitBlock))
    ctx->fit = LevFitBlock{};
  if (what.has(LevRelease::ReadRecords) && rb != nullptr) {
    QkPool* general = v_global_gcb_anchor->defaultPool;
    for (char** record : {&rb->formattedRecord, &rb->plainRecord})
      if (*record != nullptr) {
        general->free(general, *record);
        *record = nullptr;
      }
    for (HostReadVector** vector : {&rb->formattedVector, &rb->plainVector})
      if (*vector != nullptr) {
        xvgett(*vector);
        *vector = nullptr;
      }
    ctx->readState = 0;
  }
  if (what.has(LevRelease::LibraryPool)) {
    if (d != nullptr) {
      // Everything below lived in the pool that goes now.
      d->libraryPool = nullptr;
      d->cells = nullptr;
      d->inModel = nullptr;
      d->columnNames = nullptr;
      d->columnLabels = nullptr;
      if (!what.has(LevRelease::FitBlock))
        ctx->fit.responses = nullptr;
      for (int32_t k = 0; k < d->constructedCount; ++k) {
        d->constructed[k].columnNames = nullptr;
        d->constructed[k].columnNameLengths = nullptr;
      }
    }
    if (rb != nullptr) {
      QkPool* defaultPool = v_global_gcb_anchor->defaultPool;
      if (rb->pool != nullptr && rb->pool != defaultPool)
        xmpoold(rb->pool);
      rb->pool = defaultPool;
    }
  }
  if (what.has(LevRelease::Threads))
    CleanupEThreads(ctx);
}
