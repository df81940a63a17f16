// The selected model's parameters and design columns, the estimates it predicts with (the
// averaged ones under model averaging), and the per-row tests and prediction that the
// OUTDESIGN and SCORE writers share.
#include "output/vsfselrow.h"

#include "design/levreg.h"
#include "design/levrow.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cmath>

void vsfSelectedModelOf(const VsfContext* ctx, const VsfModel* m, VsfSelectedModel* out) {
  *out = VsfSelectedModel{};
  const LevDesign* d = ctx->design.design;
  if (d == nullptr)
    return;
  // Under model averaging the averaged model predicts; the last resample's fit may have
  // failed without harm to it.
  const bool fitted = ctx->options.modelAverage
                          ? ctx->average.averagedCount > 0 && ctx->average.sampleModels != nullptr
                          : m->fitStatus == VsfFitStatus::Done;
  out->usable = fitted && m->beta != nullptr;
  out->needClass.assign(static_cast<size_t>(d->classCount), 0);
  out->needNumeric.assign(static_cast<size_t>(d->numericCount), 0);
  out->unseenCombinations.assign(static_cast<size_t>(d->effectCount), 0);
  if (!fitted || m->effectStatus == nullptr)
    return;
  // The split records of a CLASS effect each select some of its block's columns; the
  // effect itself is listed once, as the reduced design of the hand-over holds it.
  std::vector<uint8_t> listed(static_cast<size_t>(d->effectCount), 0);
  for (int32_t k = 0; k < m->effectCount; ++k) {
    if (!vsfInModelStatus(m->effectStatus[k]))
      continue;
    const VsfEffectRecord* rec = vsfEffectRecord(ctx, k);
    const int32_t lev = rec != nullptr ? rec->effect : k;
    if (lev < 0 || lev >= d->effectCount)
      continue;
    const LevEffect& e = d->effects[lev];
    const int32_t count = rec != nullptr ? rec->parmCount : e.columnCount;
    const int32_t* cols = rec != nullptr ? rec->columns : nullptr;
    const int32_t offset = m->parmOffset != nullptr ? m->parmOffset[k] : e.firstColumn;
    for (int32_t j = 0; j < count; ++j) {
      out->parms.push_back(offset + j);
      out->columns.push_back(e.firstColumn + (cols != nullptr ? cols[j] : j));
    }
    if (listed[static_cast<size_t>(lev)] != 0)
      continue;
    listed[static_cast<size_t>(lev)] = 1;
    out->designEffects.push_back(lev);
    for (int32_t j = 0; j < e.allClassCount; ++j)
      if (e.allClass[j] >= 0 && e.allClass[j] < d->classCount)
        out->needClass[static_cast<size_t>(e.allClass[j])] = 1;
    for (int32_t j = 0; j < e.continuousCount; ++j)
      if (e.continuous[j] >= 0 && e.continuous[j] < d->numericCount)
        out->needNumeric[static_cast<size_t>(e.continuous[j])] = 1;
  }
}

namespace {

// A parameter that no averaged resample estimated has no non-zero statistics: it counts 0.
double averagedEstimate(const VsfAverageSummary& a, VsfAverageMethod method, int32_t p) {
  const double* v = method == VsfAverageMethod::MeanNonzero     ? a.nonzeroMean
                    : method == VsfAverageMethod::Median        ? a.medianEstimate
                    : method == VsfAverageMethod::MedianNonzero ? a.nonzeroMedian
                                                                : a.meanEstimate;
  return isHostMissing(v[p]) ? 0.0 : v[p];
}

} // namespace

std::vector<double> vsfModelEstimates(const VsfContext* ctx, const VsfModel* m) {
  const size_t n = static_cast<size_t>(std::max(m->parmCount, 0));
  if (m->beta == nullptr)
    return {};
  if (!ctx->options.modelAverage)
    return std::vector<double>(m->beta, m->beta + n);
  std::vector<double> estimates(n, 0.0);
  const VsfAverageSummary& a = ctx->average;
  if (a.averagedCount == 0 || a.meanEstimate == nullptr || m->effectStatus == nullptr)
    return estimates;
  for (int32_t k = 0; k < m->effectCount; ++k) {
    if (!vsfInModelStatus(m->effectStatus[k]))
      continue;
    const int32_t parms = vsfEffectView(ctx, m, k).parms;
    for (int32_t p = m->parmOffset[k]; p < m->parmOffset[k] + parms; ++p)
      estimates[static_cast<size_t>(p)] = averagedEstimate(a, ctx->stmt.ma.averageMethod, p);
  }
  return estimates;
}

bool vsfRowWeightBad(const LevRegContext* dc, LevRowStatusSet status, double* w, double* f) {
  bool bad = status.has(LevRowStatus::Weight);
  const bool freqGiven = dc->freq != nullptr, weightGiven = dc->weights != nullptr;
  if (freqGiven && !isHostMissing(*f)) {
    *f = std::floor(*f);
    if (*f <= 0)
      bad = true;
  } else {
    *f = 1;
  }
  if (freqGiven || weightGiven) {
    if (weightGiven && isHostMissing(*w))
      bad = true;
    else if ((weightGiven ? *w : 1) * *f <= 0)
      bad = true;
  }
  return bad;
}

bool vsfRowPredictable(VsfSelectedModel* sm, const LevRegContext* dc, LevRowStatusSet status) {
  if (!sm->usable)
    return false;
  const LevDesign* d = dc->design;
  bool predictable = true;
  for (size_t j = 0; j < sm->needNumeric.size() && predictable; ++j)
    if (sm->needNumeric[j] && isHostMissing(dc->numeric[j]))
      predictable = false;
  for (size_t j = 0; j < sm->needClass.size(); ++j)
    if (sm->needClass[j] && dc->levelIndex[j] < 0) {
      sm->unseenLevel = true;
      return false;
    }
  if (!predictable)
    return false;
  if (status.has(LevRowStatus::Computed) && d->constructedCount > 0) {
    ++sm->unformedRows;
    return false;
  }
  if (has(d->designFlags, LevDesignFlag::NonGlm) || d->cells == nullptr)
    return true;
  for (int32_t lev : sm->designEffects) {
    const LevEffect& e = d->effects[lev];
    if (e.allClassCount > 0 && d->cells[lev].column >= e.combinationCount) {
      ++sm->unseenCombinations[static_cast<size_t>(lev)];
      return false;
    }
  }
  return true;
}

void vsfNoteUnformedRows(int64_t rows, HostDataSet* data) {
  if (rows > 0)
    vsfLog(VsfMsg::PredictionsMissingForEffect,
           {HostDataSetName(data).arg(), HostMsgArg(static_cast<long long>(rows))});
}

VsfStatus vsfAppendRow(HostDataSet* out) {
  if (xdsappend(out) == 0)
    return VsfStatus::Ok;
  vsfLog(VsfMsg::RowNotWritten, {HostDataSetName(out).arg()});
  return VsfStatus::ReportedFailure;
}

HostVariable* vsfCopiedVariable(HostDataSet* data, int32_t number) {
  HostVariable* v = nullptr;
  if (xvname(data, number, &v) == 0 && v != nullptr)
    return v;
  vsfLog(VsfMsg::VariableNotDescribed,
         {HostMsgArg(static_cast<long long>(number)), HostDataSetName(data).arg()});
  return nullptr;
}

double vsfPredictRow(const VsfSelectedModel& sm, const double* beta, const double* row) {
  double sum = 0;
  for (size_t i = 0; i < sm.parms.size(); ++i)
    sum += beta[sm.parms[i]] * row[sm.columns[i]];
  return sum;
}
