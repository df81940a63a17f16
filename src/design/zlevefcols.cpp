// Column values of constructed effects for the current observation: MULTIMEMBER weighted
// union indicators, COLLECTION member blocks, B-spline, truncated-power and natural cubic
// spline bases, polynomial terms of standardised variables, lagged CLASS codings; and the
// effect blocks and the selected-effect row built from them. Knots, standardisation and
// lag tables come from the set-up (zlevefti.cpp). Declared in design/levconstructed.h.
#include "design/levconstructed.h"
#include "support/notfound.h"

#include "design/levrow.h"
#include "numerics/zmaopb.h"
#include "support/hoststubs.h"
#include "support/zpower.h"
#include "support/ztree.h"

#include <cmath>
#include <cstring>

namespace {

[[nodiscard]] bool fullRank(const LevDesign* d) {
  return has(d->designFlags, LevDesignFlag::NonGlm);
}

// The block of one CLASS variable at level L: an indicator column per level under GLM, the
// coding row of L under a full-rank coding. A missing level (L < 0) leaves the block 0.
// Returns the block width.
int32_t classBlock(const LevDesign* d, const LevVariable& v, int32_t L, double* out) {
  const int32_t q = v.levelCount;
  if (!fullRank(d)) {
    if (L >= 0 && L < q)
      out[L] = 1.0;
    return q;
  }
  if (q > 1 && L >= 0)
    zlevflr(1.0, &v, out, L, q - 1);
  return q > 0 ? q - 1 : 0;
}

void multimemberColumns(LevRegContext* ctx, LevEftVar& ev) {
  double total = 0;
  for (int32_t i = 0; i < ev.classCount; ++i) {
    const int32_t L = ctx->levelIndex[ev.classes[i]];
    if (L < 0 || ev.memberMaps == nullptr)
      continue;
    const double w = ev.numericCount > 0 ? ctx->numeric[ev.numeric[i]] : 1.0;
    ev.values[ev.memberMaps[i][L]] += w;
    total += w;
  }
  ev.memberTotal = total;
  if (!ev.stdize || total == 0)
    return;
  if (std::fabs(total) <= 10 * kLevKnotEpsilon) {
    std::memset(ev.values, 0, sizeof(double) * static_cast<size_t>(ev.valueCount));
    return;
  }
  const double scale = 1 / total;
  for (int32_t k = 0; k < ev.valueCount; ++k)
    ev.values[k] *= scale;
}

void collectionColumns(LevRegContext* ctx, LevEftVar& ev) {
  const LevDesign* d = ctx->design;
  double* out = ev.values;
  for (int32_t j = 0; j < ev.numericCount; ++j)
    *out++ = ctx->numeric[ev.numeric[j]];
  for (int32_t j = 0; j < ev.classCount; ++j) {
    const LevVariable& v = d->classes[ev.classes[j]];
    out += classBlock(d, v, ctx->levelIndex[ev.classes[j]], out);
  }
}

// The truncated powers (x - k_j)^p_j for x above k_j, the power dropping by one for every
// repeat of a knot.
void truncatedPowers(const double* knots, int32_t n, int32_t degree, double x, double* out,
                     int32_t first, int32_t last) {
  int32_t p = degree;
  for (int32_t j = 0; j < n; ++j) {
    p = j == 0 || knots[j] != knots[j - 1] ? degree : (p > 0 ? p - 1 : 0);
    if (j < first || j >= last)
      continue;
    int32_t status = 0;
    *out++ = x - knots[j] > 0 ? zpower(&status, x - knots[j], p) : 0.0;
  }
}

double cubePlus(double x, double t) { return x > t ? (x - t) * (x - t) * (x - t) : 0.0; }

void splineColumns(LevRegContext* ctx, LevEftVar& ev) {
  const SplineInfo& s = *ev.spline;
  double* out = ev.values;
  for (int32_t j = 0; j < ev.numericCount; ++j) {
    const double x = ctx->numeric[ev.numeric[j]];
    if (s.basis == SB_BSPLINE)
      levBSplineColumns(s, s.varKnots[j], s.varKnotCount[j], x, out);
    else
      levTPFColumns(s, s.varKnots[j], s.varKnotCount[j], x, out);
    out += s.columnsPerVariable;
  }
}

// The standardised value of polynomial variable i.
double standardised(const PolyInfo& p, int32_t i, double x) {
  if (isHostMissing(x))
    return x;
  switch (p.standardize) {
  case PS_CENTER:
    return x - p.centers[i];
  case PS_SCALE:
    return x / p.scales[i];
  case PS_CENTERSCALE:
    return (x - p.centers[i]) / p.scales[i];
  default:
    return x;
  }
}

// Every term of the polynomial: a term of degree k whose variables are (i, rest...) is s_i
// times the value of the term (rest...), so the products build from the last variable.
void polynomialColumns(LevRegContext* ctx, LevEftVar& ev) {
  const PolyInfo& p = *ev.poly;
  const int32_t m = p.nVariables;
  // The standardised values go to the polynomial's work array made by the set-up, so that
  // a row allocates nothing.
  double* s = static_cast<double*>(p.basisWork);
  for (int32_t i = 0; i < m; ++i)
    s[i] = standardised(p, i, ctx->numeric[p.variables[i]]);
  auto position = [&](int32_t numeric) {
    for (int32_t i = 0; i < m; ++i)
      if (p.variables[i] == numeric)
        return i;
    return 0;
  };
  const int32_t* term = p.termList;
  int32_t t = 0;
  for (int32_t k = 1; k <= p.degree; ++k)
    for (int32_t c = 0; c < p.degreeCount[k - 1]; ++c, ++t, term += k) {
      double v = s[position(term[k - 1])];
      for (int32_t e = k - 2; e >= 0 && !isHostMissing(v); --e) {
        const double f = s[position(term[e])];
        v = isHostMissing(f) ? f : f * v;
      }
      ev.values[t] = isHostMissing(v) ? hostMissing() : v;
    }
}

void lagColumns(LevRegContext* ctx, LevEftVar& ev) {
  LevDesign* d = ctx->design;
  LagSpec* lag = ev.lag;
  const LevVariable& v = d->classes[lag->laggedVariable];
  const int32_t period = ctx->levelIndex[lag->periodVariable];
  if (period >= lag->nlag) {
    const int32_t L = zlevGetEftLaggedLevel(ctx, lag);
    if (L < 0) {
      for (int32_t k = 0; k < ev.valueCount; ++k)
        ev.values[k] = hostMissing();
    } else {
      classBlock(d, v, L, ev.values);
    }
  }
  lag->lagged = -1;
}

} // namespace

void levBSplineColumns(const SplineInfo& s, const double* knots, int32_t K, double x, double* out) {
  const int32_t d = s.degree;
  // The d + 1 basis values and the 2d differences of the recurrence use the spline's work
  // arrays made with its knots, so that a row allocates nothing.
  double* b = s.degreeWork;
  int32_t left = d;
  zmaopb(d, K, &left, knots, b, s.boundaryWork, s.boundaryWork + d, x);
  for (int32_t j = 0; j <= d; ++j) {
    const int32_t c = left - d + j;
    if (c >= 0 && c < s.columnsPerVariable)
      out[c] = b[j];
  }
}

void levTPFColumns(const SplineInfo& s, const double* knots, int32_t n, double x, double* out) {
  if (s.tpfTerms == 2)
    *out++ = 1.0;
  if (!s.natural) {
    double power = x;
    for (int32_t k = 1; s.tpfTerms != 0 && k <= s.degree; ++k, power *= x)
      *out++ = power;
    truncatedPowers(knots, n, s.degree, x, out, 0, n);
    return;
  }
  if (s.tpfTerms != 0)
    *out++ = x;
  if (n <= 2)
    return;
  const double kn = knots[n - 1], kn1 = knots[n - 2];
  const double e = (cubePlus(x, kn1) - cubePlus(x, kn)) / (kn - kn1);
  truncatedPowers(knots, n, 3, x, out, 0, n - 2);
  for (int32_t j = 0; j < n - 2; ++j)
    out[j] = (out[j] - cubePlus(x, kn)) / (kn - knots[j]) - e;
}

int32_t zlevGetEftLaggedLevel(LevRegContext* ctx, LagSpec* lag) {
  if (lag->lagged != -1)
    return lag->lagged;
  LagDesignBlock* table = &lag->design;
  if (lag->score != nullptr) {
    table = lag->score;
  } else if (lag->second != nullptr) {
    const double role = ctx->numeric[lag->roleVariable];
    if (isHostMissing(role))
      return kVsfNotFound;
    if (role == 0)
      table = lag->second;
  }
  int32_t g = -1;
  if (table->subjectTree == nullptr) {
    g = ctx->levelIndex[lag->within[0]];
  } else {
    auto* keys = reinterpret_cast<int32_t*>(lag->key + kLagSubjectKeyOffset);
    for (int32_t i = 0; i < lag->withinCount; ++i) {
      keys[i] = ctx->levelIndex[lag->within[i]];
      if (keys[i] < 0)
        return lag->lagged = -1;
    }
    void* node =
        ztrefdf(&table->subjectTree, lag->key, 4 * lag->withinCount, kLagSubjectKeyOffset, Compare);
    if (node != nullptr)
      std::memcpy(&g, static_cast<char*>(node) + kLagSubjectKeyOffset + 4 * lag->withinCount, 4);
  }
  const int32_t p = ctx->levelIndex[lag->periodVariable];
  if (g < 0 || g >= static_cast<int32_t>(table->rowCount) || p < 0 || table->periods == nullptr)
    return lag->lagged = -1;
  if (p < lag->nlag)
    return lag->lagged = -2;
  const size_t cell = static_cast<size_t>(g) * static_cast<size_t>(lag->periodCount) +
                      static_cast<size_t>(p - lag->nlag);
  return lag->lagged = table->periods[cell] - 1;
}

void zlevResetEftVarCols(LevDesign* d) {
  for (int32_t k = 0; k < d->constructedCount; ++k)
    d->constructed[k].columnsDone = 0;
}

void zlevGetEftVarCols(LevRegContext* ctx, LevEftVar* record) {
  LevDesign* d = ctx->design;
  LevEftVar& ev = record->continuation ? d->constructed[record->firstPartIndex] : *record;
  if (ev.columnsDone || ev.values == nullptr)
    return;
  if (ev.valueCount > 0)
    std::memset(ev.values, 0, sizeof(double) * static_cast<size_t>(ev.valueCount));
  switch (ev.kind) {
  case EffectVarKind::MultiMember:
    multimemberColumns(ctx, ev);
    break;
  case EffectVarKind::Collection:
    collectionColumns(ctx, ev);
    break;
  case EffectVarKind::Spline:
    if (ev.spline != nullptr && ev.spline->varKnots != nullptr)
      splineColumns(ctx, ev);
    break;
  case EffectVarKind::Polynomial:
    if (ev.poly != nullptr && ev.poly->basisWork != nullptr)
      polynomialColumns(ctx, ev);
    break;
  case EffectVarKind::Lag:
    if (ev.lag != nullptr)
      lagColumns(ctx, ev);
    break;
  }
  ev.columnsDone = 1;
}

void levEffectBlock(LevRegContext* ctx, int32_t e, double* block) {
  LevDesign* d = ctx->design;
  const LevEffect& ef = d->effects[e];
  int32_t B = 0;
  int32_t remaining = ef.constructedCount;
  if (ef.continuousCount == 0 && ef.allClassCount == 0 && ef.constructedCount > 0) {
    const LevEftVar& last = d->constructed[ef.constructed[ef.constructedCount - 1]];
    if (last.values != nullptr && last.columnCount > 0)
      std::memcpy(block, last.values, sizeof(double) * static_cast<size_t>(last.columnCount));
    B = last.columnCount;
    remaining -= 1;
  } else {
    zlevpar(ctx, e, block);
    B = ef.classColumnCount;
  }
  for (int32_t k = remaining - 1; k >= 0; --k) {
    const LevEftVar& ev = d->constructed[ef.constructed[k]];
    if (ev.values != nullptr && ev.columnCount != 0 && B != 0) {
      zlevEffCrossMultiply(block, B, ev.values, ev.columnCount);
      B *= ev.columnCount;
    }
  }
}

void zlevSelectedRow(LevRegContext* ctx, const int32_t* effects, int32_t count, double* row) {
  LevDesign* d = ctx->design;
  zlevResetEftVarCols(d);
  for (int32_t i = 0; i < count; ++i) {
    const LevEffect& ef = d->effects[effects[i]];
    for (int32_t k = 0; k < ef.constructedCount; ++k)
      zlevGetEftVarCols(ctx, &d->constructed[ef.constructed[k]]);
  }
  if (d->columnCount > 0)
    std::memset(row, 0, sizeof(double) * static_cast<size_t>(d->columnCount));
  for (int32_t i = 0; i < count; ++i)
    levEffectBlock(ctx, effects[i], row + d->effects[effects[i]].firstColumn);
}
