// The hand-over of a BY group's selected model to the post-fit bridge: the estimates of the
// reduced design, the swept cross products of the selected model and the error variance
// through the bridge's set entry, and a description of the selected model (CLASS levels and
// codings, each effect's CLASS part tabulated by level combination, parameters in prediction
// order, named after the reduced design) for the sibling's run entry. With the full-model
// switch the data reader's means of the effects and variables go along; under model averaging
// the averaged model is handed over. What the sibling makes of it is its own business.
#include "output/vsfhandover.h"
#include "support/notfound.h"

#include "data/vsfdata.h"
#include "design/levnames.h"
#include "design/levrow.h"
#include "model/vsfmemplan.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "output/vsfcontext.h"
#include "output/vsfpostfitdesc.h"
#include "output/vsfselrow.h"
#include "selection/vsfresample.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/postfit.h"
#include "support/sizetext.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The reduced design: the design effects of the selected effects, each once and in design
// order, their blocks one after the other from column 0.
struct ReducedDesign {
  std::vector<int32_t> start; // per design effect: its first reduced column, -1 when left out
  std::vector<LevEffect> effects;
  int32_t columns = 0;
  LevDesign copy{};
};

void reduceDesign(const LevDesign* d, const VsfSelectedModel& sm, ReducedDesign* r) {
  r->start.assign(size_t(d->effectCount), -1);
  for (int32_t e : sm.designEffects)
    r->start[size_t(e)] = 0;
  for (int32_t e = 0; e < d->effectCount; ++e)
    if (r->start[size_t(e)] == 0) {
      r->start[size_t(e)] = r->columns;
      LevEffect& copy = r->effects.emplace_back(d->effects[e]);
      copy.firstColumn = r->columns;
      r->columns += copy.columnCount;
    }
  r->copy = *d;
  r->copy.effectCount = int32_t(r->effects.size());
  r->copy.effects = r->effects.data();
  r->copy.columnCount = r->columns;
  r->copy.columnNames = r->copy.columnLabels = nullptr;
  // Per-effect tables of the full design do not follow the new effect numbers.
  r->copy.cells = nullptr;
  r->copy.effectLevels = nullptr;
  r->copy.inModel = nullptr;
  if (r->start[0] < 0)
    r->copy.designFlags.set(LevDesignFlag::NoIntercept);
}

// The reduced column of design column `column`, kVsfNotFound when its effect is left out.
[[nodiscard]] int32_t reducedColumn(const LevDesign* d, const ReducedDesign& r, int32_t column) {
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    if (column >= ef.firstColumn && column < ef.firstColumn + ef.columnCount)
      return r.start[size_t(e)] < 0 ? kVsfNotFound : r.start[size_t(e)] + column - ef.firstColumn;
  }
  return kVsfNotFound;
}

// The column of the model's cross products that holds each model parameter, -1 for the
// parameters of effects outside the model.
std::vector<int32_t> modelColumnOfParameter(const VsfModel* m) {
  std::vector<int32_t> out(size_t(std::max(m->parmCount, 0)), -1);
  if (m->effectColumn == nullptr || m->effectColumns == nullptr || m->parmOffset == nullptr)
    return out;
  for (int32_t k = 0; k < m->effectCount; ++k)
    if (vsfInModelStatus(m->effectStatus[k]) && m->effectColumn[k] >= 0)
      for (int32_t j = 0; j < m->effectColumns[k]; ++j)
        out[size_t(m->parmOffset[k] + j)] = m->effectColumn[k] + j;
  return out;
}

// The swept matrix of exactly the model's non-aliased selected columns (`wanted`, by model
// column): the model's own when its sweep state is that model, else a copy swept into it
// (CHOOSE= an earlier step). Empty when a column cannot be brought into that state.
std::vector<double> sweptSelection(VsfModel* m, const std::vector<uint8_t>& wanted) {
  const int32_t n = m->xpxColumns;
  std::vector<double> w(m->sweptXpx, m->sweptXpx + packed::tri(n));
  std::vector<char> flags(m->sweepFlags, m->sweepFlags + n);
  std::vector<double> work(size_t(n), 0.0);
  for (int32_t c = 1; c < n; ++c) {
    const bool want = wanted[size_t(c)] != 0;
    if ((flags[size_t(c)] == '1') == want)
      continue;
    const double tol =
        want ? vsfPivotTolerance(m->xpx, w.data(), flags.data(), n, c, vsfRuleCentred(m)) : 0.0;
    qkzsweep(w.data(), c, n, flags.data(), work.data(), tol);
    if ((flags[size_t(c)] == '1') != want)
      return {};
  }
  return w;
}

// Carries the intercept's row of a block swept on shifted pages to the data's scale: the
// intercept on the data's scale is b0 - sum of shift(p) b(p), so its row is a'V with
// a = (1, -shift) and its diagonal a'Va. V is the block over the N reduced columns of the
// packed triangle T.
void interceptRowToData(double* T, int32_t N, int32_t r0, const std::vector<double>& shift) {
  using packed::sym;
  std::vector<double> row(size_t(N), 0.0);
  for (int32_t j = 0; j < N; ++j) {
    double v = T[sym(r0, j)];
    for (int32_t r = 0; r < N; ++r)
      if (shift[size_t(r)] != 0.0)
        v -= shift[size_t(r)] * T[sym(r, j)];
    row[size_t(j)] = v;
  }
  double diag = row[size_t(r0)];
  for (int32_t r = 0; r < N; ++r)
    diag -= shift[size_t(r)] * row[size_t(r)];
  for (int32_t j = 0; j < N; ++j)
    T[sym(r0, j)] = row[size_t(j)];
  T[sym(r0, r0)] = diag;
}

// The bytes the covariance's hand-over holds at once: its triangle here and the bridge's
// copy, and the item store's text of its N x N numbers (at most 26 characters with their
// separator), which is written out from the group's text.
double covarianceBytes(int64_t N) {
  return 2.0 * 8.0 * double(packed::tri(N + 1)) + 26.0 * double(N) * double(N);
}

// Whether the covariance of N reduced columns fits in the memory left to the step beside
// the fit's cross products; when not, a note names the widest effect of the selected model,
// the parameters and the memory the covariance would need.
bool covarianceFits(const VsfModel* m, const ReducedDesign& r, int32_t N) {
  const double need = covarianceBytes(N);
  const double left = vsfFitMemoryLeft(m) - vsfCrossProductBytes(m, m->xpxColumns);
  if (need <= left)
    return true;
  const LevEffect* widest = nullptr;
  for (const LevEffect& e : r.effects)
    if (widest == nullptr || e.columnCount > widest->columnCount)
      widest = &e;
  const char* name = widest != nullptr && widest->name != nullptr ? widest->name : "";
  char needText[32], leftText[32];
  vsfSizeText(need, needText, sizeof needText);
  vsfSizeText(std::max(left, 0.0), leftText, sizeof leftText);
  vsfLog(VsfMsg::CovarianceNotHanded,
         {HostMsgArg(int64_t(N)), HostMsgArg(name, int32_t(std::strlen(name))),
          HostMsgArg(int64_t(widest != nullptr ? widest->columnCount : 0)), HostMsgArg(needText),
          HostMsgArg(leftText)});
  return false;
}

// The model column of each reduced column (-1: left out or aliased), or empty when one
// cannot be placed.
std::vector<int32_t> sourceColumns(const VsfModel* m, const std::vector<int32_t>& parmOfReduced) {
  const int32_t N = int32_t(parmOfReduced.size());
  const int32_t columns = m->structured != nullptr ? m->parmCount + 1 : m->xpxColumns;
  const std::vector<int32_t> columnOf = modelColumnOfParameter(m);
  std::vector<int32_t> source(size_t(N), -1);
  std::vector<uint8_t> taken(size_t(columns), 0);
  for (int32_t r = 0; r < N; ++r) {
    const int32_t p = parmOfReduced[size_t(r)];
    if (p < 0 || m->betaVariance[p] == -1.0)
      continue;
    const int32_t c = columnOf[size_t(p)];
    if (c < 1 || c >= columns || taken[size_t(c)])
      return {};
    source[size_t(r)] = c;
    taken[size_t(c)] = 1;
  }
  return source;
}

// The dense road's block of T: the model's swept matrix brought to the selected columns.
bool denseBlock(VsfModel* m, const std::vector<int32_t>& source, double* T) {
  std::vector<uint8_t> wanted(size_t(m->xpxColumns), 0);
  for (const int32_t c : source)
    if (c >= 0)
      wanted[size_t(c)] = 1;
  const std::vector<double> W = sweptSelection(m, wanted);
  if (W.empty())
    return false;
  const int32_t N = int32_t(source.size());
  for (int32_t i = 0; i < N; ++i)
    for (int32_t j = 0; j <= i; ++j)
      if (source[size_t(i)] >= 0 && source[size_t(j)] >= 0)
        T[packed::at(i, j)] = W[size_t(packed::sym(source[size_t(i)], source[size_t(j)]))];
  return true;
}

// Item 7: the swept triangle of the selected model over the reduced columns and the
// response; empty when the model keeps no swept matrix that can give it or when it does not
// fit in memory (after a note).
std::vector<double> reducedTriangle(VsfModel* m, const ReducedDesign& r,
                                    const std::vector<int32_t>& parmOfReduced,
                                    const std::vector<double>& beta) {
  const int32_t N = int32_t(parmOfReduced.size());
  if (m->sweptXpx == nullptr || m->xpx == nullptr || m->sweepFlags == nullptr ||
      m->betaVariance == nullptr || m->xpxColumns <= 1)
    return {};
  const std::vector<int32_t> source = sourceColumns(m, parmOfReduced);
  if (source.empty() || !covarianceFits(m, r, N))
    return {};
  std::vector<double> T(size_t(packed::tri(N + 1)), 0.0);
  const bool made = m->structured != nullptr ? vsfStructuredCovariance(m, source, T.data())
                                             : denseBlock(m, source, T.data());
  if (!made)
    return {};
  const int32_t interceptColumn = m->effectColumns[0] == 1 ? m->effectColumn[0] : -1;
  if (m->shift.pagesShifted && m->shift.xpxShift != nullptr)
    for (int32_t r0 = 0; r0 < N; ++r0)
      if (source[size_t(r0)] >= 0 && source[size_t(r0)] == interceptColumn) {
        std::vector<double> shift(size_t(N), 0.0);
        for (int32_t q = 0; q < N; ++q)
          if (source[size_t(q)] >= 0 && q != r0)
            shift[size_t(q)] = m->shift.xpxShift[1 + parmOfReduced[size_t(q)]];
        interceptRowToData(T.data(), N, r0, shift);
      }
  for (int32_t i = 0; i < N; ++i)
    if (source[size_t(i)] >= 0)
      T[size_t(packed::at(N, i))] = -beta[size_t(i)];
  T[size_t(packed::at(N, N))] = m->sse;
  return T;
}

// Whether the coding rows of the selected model's CLASS variables fit in the memory left to
// the step: under a coding other than GLM each variable's rows are levels x (levels - 1)
// numbers, held as doubles and written as text into the item store and the scoring code
// (16 bytes each in all). When not, an error names the variable, its levels and the memory.
bool codingRowsFit(const VsfModel* m, const LevDesign* d, const VsfSelectedModel& sm) {
  if (!has(d->designFlags, LevDesignFlag::NonGlm))
    return true;
  std::vector<uint8_t> used(sm.needClass);
  used.resize(size_t(d->classCount), 0);
  for (const int32_t e : sm.designEffects)
    for (int32_t k = 0; k < d->effects[e].allClassCount; ++k)
      used[size_t(d->effects[e].allClass[k])] = 1;
  const double left = vsfFitMemoryLeft(m) - vsfCrossProductBytes(m, m->xpxColumns);
  for (int32_t j = 0; j < d->classCount; ++j) {
    const LevVariable& v = d->classes[j];
    const double need = 16.0 * double(v.levelCount) * double(std::max(v.levelCount - 1, 0));
    if (!used[size_t(j)] || need <= left)
      continue;
    const char* name = v.var != nullptr ? v.var->name : "";
    const int32_t length = v.var != nullptr ? v.var->nameLength : 0;
    char needText[32], leftText[32];
    vsfSizeText(need, needText, sizeof needText);
    vsfSizeText(std::max(left, 0.0), leftText, sizeof leftText);
    vsfLog(VsfMsg::CodingRowsDoNotFit, {HostMsgArg(name, length), HostMsgArg(v.levelCount),
                                        HostMsgArg(needText), HostMsgArg(leftText)});
    return false;
  }
  return true;
}

// While the bridge works on the group: the context's design is the reduced copy and no
// CLASS variable is split, so that the parameter names are made for every level; both are
// restored when the hand-over ends.
class ReducedScope {
public:
  ReducedScope(VsfContext* ctx, ReducedDesign& r) : ctx_(ctx), full_(ctx->design.design) {
    for (int32_t j = 0; j < full_->classCount; ++j) {
      split_.push_back(full_->classes[j].split);
      full_->classes[j].split = 0;
    }
    ctx->design.design = &r.copy;
  }
  ~ReducedScope() {
    ctx_->design.design = full_;
    for (int32_t j = 0; j < full_->classCount; ++j)
      full_->classes[j].split = split_[size_t(j)];
  }
  ReducedScope(const ReducedScope&) = delete;
  ReducedScope& operator=(const ReducedScope&) = delete;

private:
  VsfContext* ctx_;
  LevDesign* full_;
  std::vector<uint8_t> split_;
};

// Items 7, 13, 14 and 15 and the error variance, handed only with the full-model switch.
// Without it (model averaging, the path methods) the error variance and its degrees of
// freedom are missing: no single least-squares fit stands behind those estimates.
void handFullModel(PostFitBridge* bridge, VsfModel* m, const LevDesign* d,
                   const std::vector<double>& triangle, bool full) {
  bridge->statistics.values[1] = bridge->statistics.values[4] = hostMissing();
  if (!full)
    return;
  PostFitBridgeMethods* methods = bridge->methods;
  if (!triangle.empty())
    methods->set(bridge, PFI_COVARIANCE, triangle.data(), 0);
  const double df = m->totals.nObs - m->rank;
  bridge->statistics.values[1] = df > 0 ? std::max(m->sse, 0.0) / df : hostMissing();
  bridge->statistics.values[4] = df;
  const VsfReadResult* read = m->dataSettings != nullptr ? &m->dataSettings->read : nullptr;
  if (read == nullptr)
    return;
  if (read->bridgeEffectMeans != nullptr && !has(d->designFlags, LevDesignFlag::NonGlm))
    methods->set(bridge, PFI_EFFECT_MEANS, read->bridgeEffectMeans, 0);
  if (read->bridgeWeightedMeans != nullptr)
    methods->set(bridge, PFI_WEIGHTED_MEANS, read->bridgeWeightedMeans, 0);
  if (read->bridgeFreqMeans != nullptr)
    methods->set(bridge, PFI_FREQUENCY_MEANS, read->bridgeFreqMeans, 0);
}

} // namespace

VsfStatus vsfFormSelectedModelForBridge(VsfContext* ctx, VsfModel* m) {
  PostFitBridge* bridge = ctx->postFit;
  // The refit of the averaged model runs inside the fit of the group: the group's one
  // hand-over is that fit's, made when the refit is done. Under model averaging the averaged
  // model is handed over even when the last resample's own fit failed.
  const bool refitting = ctx->resampling != nullptr && ctx->resampling->settings.refitInProgress;
  if (bridge == nullptr || refitting || (!ctx->options.modelAverage && vsfFitFailed(m->fitStatus)))
    return VsfStatus::Ok;
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->effectCount == 0)
    return VsfStatus::NoMemory;
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  if (!sm.usable)
    return VsfStatus::Ok;
  if (!codingRowsFit(m, d, sm)) {
    vsfRaiseRC(ctx, StepRc::Error);
    return VsfStatus::Ok;
  }
  ReducedDesign r;
  reduceDesign(d, sm, &r);
  if (r.columns == 0)
    return VsfStatus::NoMemory;
  const std::vector<double> estimates = vsfModelEstimates(ctx, m);
  std::vector<double> beta(size_t(r.columns), 0.0);
  std::vector<int32_t> parmOf(size_t(r.columns), -1), reduced(sm.parms.size(), -1);
  for (size_t i = 0; i < sm.parms.size(); ++i) {
    reduced[i] = reducedColumn(d, r, sm.columns[i]);
    if (reduced[i] >= 0) {
      beta[size_t(reduced[i])] = estimates[size_t(sm.parms[i])];
      parmOf[size_t(reduced[i])] = sm.parms[i];
    }
  }
  PostFitDescription h;
  vsfDescribeSelectedModel(h, ctx, sm, estimates);
  PostFitBridgeMethods* methods = bridge->methods;
  if (methods == nullptr)
    return VsfStatus::Ok;
  const std::vector<double> triangle =
      ctx->postFitAllowed ? reducedTriangle(m, r, parmOf, beta) : std::vector<double>();
  ReducedScope scope(ctx, r);
  zlevParmName(&ctx->design, 0, nullptr);
  vsfNameReducedParameters(h, r.copy, reduced);
  bridge->model = &h.model;
  if (methods->set != nullptr) {
    methods->set(bridge, PFI_ESTIMATES, beta.data(), 0);
    handFullModel(bridge, m, d, triangle, ctx->postFitAllowed != 0);
    methods->set(bridge, PFI_STATISTICS, &bridge->statistics, 0);
  }
  bridge->handedWord = 0;
  if (methods->runModel != nullptr)
    methods->runModel(bridge);
  if (methods->finish != nullptr) {
    methods->finish(bridge, 0);
    if (bridge->returnCode != 0)
      vsfRaiseRC(ctx, bridge->returnCode);
  }
  bridge->model = nullptr;
  return VsfStatus::Ok;
}
