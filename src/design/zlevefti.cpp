// The per-BY-group set-up of constructed effects: sorted percentile data, polynomial
// moments, spline knots (B-spline and truncated power), polynomial standardisation,
// MULTIMEMBER union levels, COLLECTION and LAG sizes, and the value arrays of the row
// columns. Lag groups and tables are zlevlag.cpp's; the row columns zlevefcols.cpp's.
// Declared in design/levrow.h.
#include "design/levconstructed.h"

#include "design/levrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/wzstr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

namespace {

[[nodiscard]] bool fullRank(const LevDesign* d) {
  return has(d->designFlags, LevDesignFlag::NonGlm);
}

HostMsgArg labelOf(const LevEftVar& ev) {
  return ev.label != nullptr ? HostMsgArg(ev.label, ev.labelLength)
                             : HostMsgArg(ev.name, ev.nameLength);
}

// The sorted values of every variable of a PERCENTILES spline, over the usable observations
// (with FREQ, frequencies floored and those below 1 dropped).
void gatherPercentiles(LevRegContext* ctx, LevPercentiles& pd) {
  LevDesign* d = ctx->design;
  pd.slotOf.assign(static_cast<size_t>(d->numericCount), -1);
  std::vector<char> marked(static_cast<size_t>(d->numericCount), 0);
  for (int32_t k = 0; k < d->constructedCount; ++k) {
    const LevEftVar& ev = d->constructed[k];
    if (ev.kind == EffectVarKind::Spline && ev.firstPart && ev.spline != nullptr &&
        ev.spline->knotMethod == KM_PERCENTILES)
      for (int32_t j = 0; j < std::max(ev.variableCount, ev.numericCount); ++j)
        marked[static_cast<size_t>(ev.numeric[j])] = 1;
  }
  int32_t m = 0;
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (marked[static_cast<size_t>(j)])
      pd.slotOf[static_cast<size_t>(j)] = m++;
  if (m == 0)
    return;
  pd.sorted.resize(static_cast<size_t>(m));
  pd.frequency = ctx->freq != nullptr;
  double w = 1, f = 1;
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  while (zlevGetNext(ctx) != 0) {
    const LevRowStatusSet status =
        zlevrgd(ctx, nullptr, ctx->weights != nullptr ? &w : nullptr, pd.frequency ? &f : nullptr);
    if (!status.empty() || (ctx->weights != nullptr && (isHostMissing(w) || !(w > 0))))
      continue;
    double freq = 1;
    if (pd.frequency) {
      if (isHostMissing(f) || !(std::floor(f) > 0))
        continue;
      freq = std::floor(f);
      pd.frequencySum += freq;
    }
    pd.count += 1;
    for (int32_t j = 0; j < d->numericCount; ++j)
      if (const int32_t slot = pd.slotOf[static_cast<size_t>(j)]; slot >= 0)
        pd.sorted[static_cast<size_t>(slot)].push_back({ctx->numeric[j], freq});
  }
  for (auto& values : pd.sorted)
    std::stable_sort(values.begin(), values.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// One data pass summing the frequency-weighted deviations from the midrange and their
// squares for the MOMENTS and WMOMENTS standardisations.
void polynomialMoments(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  double w = 1, f = 1;
  double frequencies = 0, observations = 0, weighted = 0;
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  while (zlevGetNext(ctx) != 0) {
    w = f = 1;
    const LevRowStatusSet status = zlevrgd(ctx, nullptr, ctx->weights != nullptr ? &w : nullptr,
                                           ctx->freq != nullptr ? &f : nullptr);
    if (!status.empty() || (ctx->weights != nullptr && !(w > 0)))
      continue;
    if (ctx->freq != nullptr) {
      if (f < 1)
        continue;
      f = std::floor(f);
    }
    frequencies += f;
    observations += 1;
    weighted += f * w;
    for (int which = 0; which < 2; ++which) {
      NumericUsageBlock* b = d->usage[which];
      if (b == nullptr)
        continue;
      const double g = which == 0 ? f : f * w;
      for (int32_t i = 0; i < b->listedCount; ++i) {
        const int32_t j = b->list[i];
        const double dx = ctx->numeric[j] - d->numerics[j].centre;
        b->first[j] += g * dx;
        b->second[j] += g * dx * dx;
      }
    }
  }
  for (int which = 0; which < 2; ++which)
    if (NumericUsageBlock* b = d->usage[which]) {
      b->frequencySum = frequencies;
      b->observationCount = observations;
      b->weightTotal = which == 0 ? frequencies : weighted;
    }
}

// Centres and scales of one polynomial; VsfStatus::ReportedFailure after
// EffMsg::PolynomialEffectCannotStandardisedSum or EffMsg::PolynomialEffectCannotStandardisedFewer.
[[nodiscard]] VsfStatus standardisePolynomial(LevDesign* d, const LevEftVar& ev) {
  PolyInfo& p = *ev.poly;
  if (p.standardize == PS_NONE)
    return VsfStatus::Ok;
  const NumericUsageBlock* b = p.stdMethod == PM_MOMENTS    ? d->usage[0]
                               : p.stdMethod == PM_WMOMENTS ? d->usage[1]
                                                            : nullptr;
  for (int32_t i = 0; i < p.nVariables; ++i) {
    const int32_t j = p.variables[i];
    const LevVariable& v = d->numerics[j];
    if (p.stdMethod == PM_RANGE) {
      if (p.centers != nullptr)
        p.centers[i] = v.centre;
      if (p.scales != nullptr)
        p.scales[i] = v.halfRange == 0 ? 1 : v.halfRange;
      continue;
    }
    if (b == nullptr)
      continue;
    if (p.centers != nullptr) {
      if (b->weightTotal == 0) {
        vsfLog(EffMsg::PolynomialEffectCannotStandardisedSum, {labelOf(ev)});
        return VsfStatus::ReportedFailure;
      }
      p.centers[i] = b->first[j] / b->weightTotal + v.centre;
    }
    if (p.scales != nullptr) {
      if (b->frequencySum < 2) {
        vsfLog(EffMsg::PolynomialEffectCannotStandardisedFewer, {labelOf(ev)});
        return VsfStatus::ReportedFailure;
      }
      const double s = std::sqrt((b->second[j] - b->first[j] * b->first[j] / b->weightTotal) /
                                 (b->frequencySum - 1));
      p.scales[i] = s == 0 ? 1 : s;
    }
  }
  return VsfStatus::Ok;
}

// The union of the members' formatted levels, blank-padded to the widest member and ordered
// by their bytes: the columns, their names and each member's level map.
void multimemberUnion(LevRegContext* ctx, LevEftVar& ev) {
  LevDesign* d = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  int32_t W = 0;
  for (int32_t i = 0; i < ev.classCount; ++i)
    W = std::max(W, d->classes[ev.classes[i]].levelWidth);
  auto padded = [&](const LevVariable& v, int32_t L) {
    std::string s(v.levelTexts[L], static_cast<size_t>(v.levelWidth));
    s.resize(static_cast<size_t>(W), ' ');
    return s;
  };
  std::map<std::string, int32_t> levels;
  for (int32_t i = 0; i < ev.classCount; ++i) {
    const LevVariable& v = d->classes[ev.classes[i]];
    for (int32_t L = 0; L < v.levelCount; ++L)
      levels.emplace(padded(v, L), 0);
  }
  const int32_t n = static_cast<int32_t>(levels.size());
  ev.columnCount = ev.currentColumnCount = n;
  ev.columnNames = levArray<char*>(pool, static_cast<size_t>(std::max(n, 1)));
  ev.columnNameLengths = levArray<int32_t>(pool, static_cast<size_t>(std::max(n, 1)));
  int32_t k = 0;
  for (auto& [text, index] : levels) {
    index = k;
    const int32_t length = wzstrip(text.data(), W);
    ev.columnNames[k] = levArray<char>(pool, static_cast<size_t>(length) + 1);
    std::memcpy(ev.columnNames[k], text.data(), static_cast<size_t>(length));
    ev.columnNameLengths[k] = length;
    ev.maxLabelLength = std::max(ev.maxLabelLength, length);
    ++k;
  }
  ev.memberMaps = levArray<int32_t*>(pool, static_cast<size_t>(std::max(ev.classCount, 1)));
  for (int32_t i = 0; i < ev.classCount; ++i) {
    const LevVariable& v = d->classes[ev.classes[i]];
    ev.memberMaps[i] = levArray<int32_t>(pool, static_cast<size_t>(std::max(v.levelCount, 1)));
    for (int32_t L = 0; L < v.levelCount; ++L)
      ev.memberMaps[i][L] = levels[padded(v, L)];
  }
}

void allocateValues(LevRegContext* ctx, LevEftVar& ev, int32_t count) {
  ev.valueCount = count;
  ev.values = levArray<double>(levGroupPool(ctx), static_cast<size_t>(std::max(count, 1)));
}

// Knots, value array and column count of a SPLINE piece; a continuation piece takes its
// column from the value array of the piece that placed its knots.
[[nodiscard]] VsfStatus setUpSpline(LevRegContext* ctx, LevEftVar& ev, const LevPercentiles& pd,
                                    LevEftVar*& placing, int32_t& following) {
  if (ev.continuation) {
    ev.columnCount = ev.currentColumnCount = 1;
    ev.valueCount = 0;
    ev.values = placing != nullptr ? placing->values + ++following : nullptr;
    return VsfStatus::Ok;
  }
  const VsfStatus rc = ev.spline->basis == SB_BSPLINE ? zlevBSplineKnots(ctx, &ev, &pd)
                                                      : zlevTPFSplineKnots(ctx, &ev, &pd);
  if (rc != VsfStatus::Ok)
    return rc;
  allocateValues(ctx, ev, ev.columnCount);
  if (ev.spline->split)
    ev.columnCount = ev.currentColumnCount = 1;
  placing = &ev;
  following = 0;
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus setUpLag(LevRegContext* ctx, LevEftVar& ev) {
  LevDesign* d = ctx->design;
  LagSpec& lag = *ev.lag;
  ev.columnCount = ev.currentColumnCount =
      d->classes[lag.laggedVariable].levelCount - (fullRank(d) ? 1 : 0);
  allocateValues(ctx, ev, ev.columnCount);
  lag.periodCount = d->classes[lag.periodVariable].levelCount;
  if (has(d->designFlags, LevDesignFlag::AcrossBy))
    return VsfStatus::Ok;
  if (const VsfStatus rc = zlevLagDesignCreate(ctx, &lag, &ev, nullptr, nullptr);
      rc != VsfStatus::Ok)
    return rc;
  d->constructedReady = 1;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus zlevefti(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  if (d->constructedCount == 0)
    return VsfStatus::Ok;
  LevPercentiles percentiles;
  gatherPercentiles(ctx, percentiles);
  if (d->usage[0] != nullptr || d->usage[1] != nullptr)
    polynomialMoments(ctx);
  zlevLevelizeLagWithin(ctx, d->lagListCount, d->lagList);
  LevEftVar* placing = nullptr;
  int32_t following = 0;
  for (int32_t k = 0; k < d->constructedCount; ++k) {
    LevEftVar& ev = d->constructed[k];
    ev.columnsDone = 0;
    VsfStatus rc = VsfStatus::Ok;
    switch (ev.kind) {
    case EffectVarKind::MultiMember:
      multimemberUnion(ctx, ev);
      allocateValues(ctx, ev, ev.columnCount);
      break;
    case EffectVarKind::Collection: {
      int32_t n = ev.numericCount;
      for (int32_t j = 0; j < ev.classCount; ++j)
        n += d->classes[ev.classes[j]].levelCount - (fullRank(d) ? 1 : 0);
      ev.columnCount = ev.currentColumnCount = n;
      allocateValues(ctx, ev, n);
      break;
    }
    case EffectVarKind::Spline:
      rc = ev.spline != nullptr ? setUpSpline(ctx, ev, percentiles, placing, following)
                                : VsfStatus::Ok;
      break;
    case EffectVarKind::Polynomial:
      ev.values = ev.termValues;
      ev.valueCount = ev.continuation || ev.poly == nullptr ? 0 : ev.poly->nTerms;
      if (!ev.continuation && ev.poly != nullptr) {
        // The standardised values of a row, one per variable.
        ev.poly->basisWork = levArray<double>(
            levGroupPool(ctx), static_cast<size_t>(std::max(ev.poly->nVariables, 1)));
        rc = standardisePolynomial(d, ev);
      }
      break;
    case EffectVarKind::Lag:
      rc = ev.lag != nullptr ? setUpLag(ctx, ev) : VsfStatus::Ok;
      break;
    }
    if (rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}
