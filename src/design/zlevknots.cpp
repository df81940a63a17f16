// Spline knots of one BY group: the boundary margins and groups, interior knots by EQUAL,
// MULTISCALE, LIST, RANGEFRACTIONS, PERCENTILES and LISTWITHBOUNDARY for the B-spline basis,
// the knots and column counts of the truncated-power and natural cubic bases, and the
// percentile positions over sorted data. The set-up that calls them is zlevefti.cpp's.
// Declared in design/levconstructed.h.
#include "design/levconstructed.h"

#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

[[nodiscard]] bool given(double v) { return !isHostMissing(v); }

HostMsgArg variableName(const LevVariable& v) {
  return v.var != nullptr ? HostMsgArg(v.var->name, v.var->nameLength) : HostMsgArg("");
}

// The first margin of e0, 10 e0, 100 e0, ... that moves x (downwards when below).
double margin(double e0, double x, bool below) {
  double e = e0;
  for (int guard = 0; guard < 400; ++guard, e *= 10)
    if (below ? x - e < x : x + e > x)
      return e;
  return e;
}

// The starting margin: grows by factors of 100 for high degrees so that powers of it stay
// normal numbers.
double startingMargin(int32_t d) {
  double e0 = kLevKnotEpsilon;
  if (d != 0) {
    const double smallest = std::log(2.225073858507202e-308) / (2.0 * d);
    while (std::log(e0) < smallest)
      e0 *= 100;
  }
  return e0;
}

[[nodiscard]] int32_t interiorCount(const SplineInfo& s) {
  if (s.knotMethod == KM_MULTISCALE && s.scale != nullptr)
    return 1 << *s.scale;
  return s.knotCount;
}

// The list knots must lie within the data: else EffMsg::KnotOutsideDataRange and the design's
// return code StepRc::GroupDesignError.
[[nodiscard]] bool listOutside(LevDesign* d, const SplineInfo& s, const LevVariable& v, double lo,
                               double hi) {
  if (s.knotCount > 0 && (s.knotList[0] < lo || s.knotList[s.knotCount - 1] > hi)) {
    vsfLog(EffMsg::KnotOutsideDataRange, {variableName(v)});
    levRaise(d, StepRc::GroupDesignError);
    return true;
  }
  return false;
}

// Interior knots of the methods shared by both bases into out (n values).
void interiorKnots(const SplineInfo& s, int32_t n, double lo, double hi, const LevPercentiles* pd,
                   int32_t numeric, double* out) {
  switch (s.knotMethod) {
  case KM_EQUAL:
  case KM_MULTISCALE: {
    const double step = (hi - lo) / (n + 1);
    double x = lo;
    for (int32_t i = 0; i < n; ++i)
      out[i] = x += step;
    break;
  }
  case KM_LIST:
    std::memcpy(out, s.knotList, sizeof(double) * static_cast<size_t>(n));
    break;
  case KM_RANGEFRACTIONS:
    for (int32_t i = 0; i < n; ++i)
      out[i] = lo + s.knotList[i] * (hi - lo);
    break;
  case KM_PERCENTILES: {
    const int32_t slot = pd != nullptr ? pd->slotOf[static_cast<size_t>(numeric)] : -1;
    if (slot < 0)
      break;
    std::vector<double> k = levPercentileKnots(pd->sorted[static_cast<size_t>(slot)], pd->count,
                                               pd->frequencySum, pd->frequency, n);
    std::memcpy(out, k.data(), sizeof(double) * static_cast<size_t>(n));
    break;
  }
  default:
    break;
  }
}

// The lower boundary group (d knots) of a B-spline variable.
void lowerBoundary(const SplineInfo& s, int32_t d, int32_t n, double lo, double hi, double L,
                   double* t) {
  if (d == 0)
    return;
  const bool equal = (s.knotMethod == KM_EQUAL || s.knotMethod == KM_MULTISCALE) && !s.dataBoundary;
  if (given(s.knotMin) && s.knotMin < L) {
    t[0] = s.knotMin;
    for (int32_t j = 1; j < d; ++j)
      t[j] = s.knotMin + j * (L - s.knotMin) / (d - 1);
  } else if (equal) {
    const double step = (hi - lo) / (n + 1);
    for (int32_t j = 0; j < d; ++j)
      t[j] = lo - (d - 1 - j) * step;
    t[d - 1] = L;
  } else {
    for (int32_t j = 0; j < d; ++j)
      t[j] = L;
  }
}

// The upper boundary group (r knots) after the n interior ones.
void upperBoundary(const SplineInfo& s, int32_t d, int32_t r, int32_t n, double lo, double hi,
                   double U, double* t) {
  const bool equal = (s.knotMethod == KM_EQUAL || s.knotMethod == KM_MULTISCALE) && !s.dataBoundary;
  if (given(s.knotMax) && s.knotMax > U) {
    if (d < 2)
      t[0] = s.knotMax;
    else
      for (int32_t j = 0; j < r; ++j)
        t[j] = U + j * (s.knotMax - U) / (d - 1);
  } else if (equal) {
    const double step = (hi - lo) / (n + 1);
    double x = lo;
    for (int32_t i = 0; i < n; ++i)
      x += step;
    for (int32_t j = 0; j < r; ++j)
      t[j] = x += step;
    t[0] = U;
  } else {
    for (int32_t j = 0; j < r; ++j)
      t[j] = U;
  }
}

} // namespace

std::vector<double> levPercentileKnots(const std::vector<std::pair<double, double>>& sorted,
                                       double count, double frequencySum, bool frequency,
                                       int32_t n) {
  std::vector<double> knots(static_cast<size_t>(n > 0 ? n : 0), hostMissing());
  const double N = frequency && frequencySum != 0 ? frequencySum : count;
  if (sorted.empty())
    return knots;
  // The value at 0-based position m of the data, every value repeated by its frequency (once
  // without FREQ); positions outside the data take the first or the last value.
  size_t record = 0;
  double before = 0; // frequencies of the records ahead of `record`
  auto valueAt = [&](double m) {
    if (!frequency)
      return sorted[static_cast<size_t>(std::clamp(m, 0.0, N - 1))].first;
    while (record + 1 < sorted.size() && before + sorted[record].second <= m)
      before += sorted[record++].second;
    return sorted[record].first;
  };
  for (int32_t i = 1; i <= n; ++i) {
    const double p = i / (n + 1.0) * N;
    const double k = std::floor(p + kLevKnotEpsilon);
    const bool exact = std::fabs(p - k) <= kLevKnotEpsilon;
    const double j = k - 1;
    double& knot = knots[static_cast<size_t>(i - 1)];
    if (j < 0)
      knot = valueAt(0);
    else if (j > N - 1)
      knot = valueAt(N - 1);
    else if (exact)
      knot = (valueAt(j) + valueAt(j + 1)) / 2;
    else
      knot = valueAt(j + 1);
  }
  return knots;
}

VsfStatus zlevBSplineKnots(LevRegContext* ctx, LevEftVar* ev, const LevPercentiles* pd) {
  LevDesign* dsg = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  SplineInfo& s = *ev->spline;
  const int32_t d = s.degree, n = interiorCount(s), r = d > 1 ? d : 1;
  s.boundaryWork = levArray<double>(pool, static_cast<size_t>(2 * d + 1));
  s.totalKnots = 0;
  const double e0 = startingMargin(d);
  int32_t K = 0;
  for (int32_t j = 0; j < ev->numericCount; ++j) {
    const LevVariable& v = dsg->numerics[ev->numeric[j]];
    const double lo = v.centre - v.halfRange, hi = v.centre + v.halfRange;
    const double L = lo - margin(e0, lo, true), U = hi + margin(e0, hi, false);
    if (s.knotMethod == KM_LISTWITHBOUNDARY) {
      // Both boundary groups come from the list: it needs degree + 2 values at least.
      K = n;
      if (n < d + 2) {
        vsfLog(EffMsg::ListwithboundaryTooFewValues, {d, d + 2});
        levRaise(dsg, StepRc::GroupDesignError);
        return VsfStatus::ReportedFailure;
      }
      if (s.knotList[d] < lo || s.knotList[n - 1 - r] > hi) {
        vsfLog(EffMsg::BoundaryKnotsDoNotEncloseData, {variableName(v)});
        levRaise(dsg, StepRc::GroupDesignError);
        return VsfStatus::ReportedFailure;
      }
      s.varKnots[j] = s.knotList;
    } else {
      K = n + d + r;
      if (s.knotMethod == KM_LIST && listOutside(dsg, s, v, lo, hi))
        return VsfStatus::ReportedFailure;
      double* t = levArray<double>(pool, static_cast<size_t>(K));
      lowerBoundary(s, d, n, lo, hi, L, t);
      interiorKnots(s, n, lo, hi, pd, ev->numeric[j], t + d);
      upperBoundary(s, d, r, n, lo, hi, U, t + d + n);
      s.varKnots[j] = t;
    }
    s.varKnotCount[j] = K;
    s.totalKnots += K;
  }
  s.columnsPerVariable = d != 0 ? K - d + 1 : K;
  s.degreeWork = levArray<double>(pool, static_cast<size_t>(d) + 1);
  ev->columnCount = ev->currentColumnCount = s.columnsPerVariable * ev->numericCount;
  return VsfStatus::Ok;
}

VsfStatus zlevTPFSplineKnots(LevRegContext* ctx, LevEftVar* ev, const LevPercentiles* pd) {
  LevDesign* dsg = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  SplineInfo& s = *ev->spline;
  const int32_t d = s.degree, n = s.knotCount;
  s.totalKnots = 0;
  for (int32_t j = 0; j < ev->numericCount; ++j) {
    const LevVariable& v = dsg->numerics[ev->numeric[j]];
    const double lo = v.centre - v.halfRange, hi = v.centre + v.halfRange;
    if (s.knotMethod == KM_LIST) {
      if (listOutside(dsg, s, v, lo, hi))
        return VsfStatus::ReportedFailure;
      s.varKnots[j] = s.knotList;
    } else {
      s.varKnots[j] = levArray<double>(pool, static_cast<size_t>(n > 0 ? n : 1));
      interiorKnots(s, n, lo, hi, pd, ev->numeric[j], s.varKnots[j]);
    }
    s.varKnotCount[j] = n;
    s.totalKnots += n;
  }
  int32_t per;
  if (!s.natural) {
    per = s.tpfTerms == 0 ? n : s.tpfTerms == 1 ? d + n : d + n + 1;
  } else {
    per = (n > 2 ? n - 2 : 0) + (s.tpfTerms == 1 ? 1 : s.tpfTerms == 2 ? 2 : 0);
    if (n > 2)
      for (int32_t j = 0; j < ev->numericCount; ++j)
        for (int32_t i = 1; i < n; ++i)
          if (s.varKnots[j][i] == s.varKnots[j][i - 1]) {
            vsfLog(EffMsg::NaturalSplineEqualKnots);
            return VsfStatus::ReportedFailure;
          }
  }
  s.columnsPerVariable = per;
  if (per > 0)
    s.degreeWork = levArray<double>(pool, static_cast<size_t>(per));
  ev->columnCount = ev->currentColumnCount = per * ev->numericCount;
  return VsfStatus::Ok;
}
