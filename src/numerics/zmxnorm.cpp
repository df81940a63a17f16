// Mixture of normals. Component tails come from the Mills ratio beyond 5 standard
// deviations and from erfc inside (through zlognrm), and are added on the log scale.
#include "numerics/zmxnorm.h"

#include "numerics/zelementary.h"
#include "numerics/znormal.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <vector>

double LogSumOfExpProb(double a, double b, int32_t isProbability) {
  double r;
  if (a == b)
    r = a + kLn2;
  else
    r = std::fmax(a, b) + zln1px(std::exp(-std::fabs(a - b)));
  if (isProbability && r > 0.0)
    r = 0.0;
  return r;
}

void SortAccordingToTheMeans(MxNormRecord* rec) {
  const int32_t n = rec->count;
  std::vector<int32_t> idx(n);
  std::iota(idx.begin(), idx.end(), 0);
  std::stable_sort(idx.begin(), idx.end(),
                   [&](int32_t i, int32_t j) { return rec->mean[i] < rec->mean[j]; });
  std::vector<double> w(n), m(n), s(n);
  for (int32_t i = 0; i < n; ++i) {
    w[i] = rec->weight[idx[i]];
    m[i] = rec->mean[idx[i]];
    s[i] = rec->sd[idx[i]];
  }
  std::copy(w.begin(), w.end(), rec->weight);
  std::copy(m.begin(), m.end(), rec->mean);
  std::copy(s.begin(), s.end(), rec->sd);
}

int32_t VerifyQ(MxNormRecord* rec) {
  const int32_t n = rec->count;
  if (n < 1)
    return 1;
  double wmax = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    if (!(rec->weight[i] >= 0.0))
      return i + n;
    if (!(rec->sd[i] >= 0.0))
      return i + 2 * n;
    wmax = std::fmax(wmax, rec->weight[i]);
  }
  if (!(wmax > 0.0))
    return 10 * n;
  // Rescale by the largest weight when the sum could overflow.
  if (wmax > DBL_MAX / n)
    for (int32_t i = 0; i < n; ++i)
      rec->weight[i] /= wmax;
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i)
    sum += rec->weight[i];
  for (int32_t i = 0; i < n; ++i)
    rec->weight[i] /= sum;
  if (rec->flags & kMxSortByMean)
    SortAccordingToTheMeans(rec);
  rec->flags |= kMxVerified;
  return 0;
}

void DiffNormal(double x, double mean, double sd, double* lcdf, double* lsdf) {
  if (sd == 0.0) {
    *lcdf = x >= mean ? 0.0 : kLogZero;
    *lsdf = x >= mean ? kLogZero : 0.0;
    return;
  }
  double d;
  if (zlognrm(lcdf, lsdf, &d, (x - mean) / sd) != 0) {
    // Beyond the reach of the Mills ratio: the tail is e^-z^2/2 / (|z| sqrt(2 pi)).
    double z = (x - mean) / sd;
    double small = -0.5 * z * z - kLnSqrt2Pi - std::log(std::fabs(z));
    *lcdf = z < 0 ? small : 0.0;
    *lsdf = z < 0 ? 0.0 : small;
  }
}

int32_t ComputeTheProbOrTheDens(const MxNormRecord* rec, int32_t density, double x, double* lcdf,
                                double* lsdf, double* ldens) {
  bool first = true;
  double c = 0.0, s = 0.0, dn = 0.0;
  for (int32_t i = 0; i < rec->count; ++i) {
    if (rec->weight[i] <= 0.0)
      continue;
    double lw = std::log(rec->weight[i]);
    if (density) {
      if (rec->sd[i] == 0.0)
        continue;
      double z = (x - rec->mean[i]) / rec->sd[i];
      double v = lw - 0.5 * z * z - kLnSqrt2Pi - std::log(rec->sd[i]);
      dn = first ? v : LogSumOfExpProb(dn, v, 0);
    } else {
      double lc, ls;
      DiffNormal(x, rec->mean[i], rec->sd[i], &lc, &ls);
      c = first ? lw + lc : LogSumOfExpProb(c, lw + lc, 1);
      s = first ? lw + ls : LogSumOfExpProb(s, lw + ls, 1);
    }
    first = false;
  }
  if (first)
    return 1;
  if (density)
    *ldens = dn;
  else {
    *lcdf = c;
    *lsdf = s;
  }
  return 0;
}

int32_t ComputeF(const MxNormRecord* rec, double x, double logP, double* value) {
  double lc, ls;
  if (ComputeTheProbOrTheDens(rec, 0, x, &lc, &ls, nullptr) != 0)
    return 1;
  *value = lc - logP;
  return 0;
}

int32_t ResetBracket(const MxNormRecord* rec, double logP, double* lo, double* hi) {
  double flo, fhi;
  for (int32_t i = 0; i < 200; ++i) {
    if (ComputeF(rec, *lo, logP, &flo) != 0 || ComputeF(rec, *hi, logP, &fhi) != 0)
      return 1;
    if (flo <= 0.0 && fhi >= 0.0)
      return 0;
    double w = *hi - *lo;
    if (flo > 0.0)
      *lo -= w;
    if (fhi < 0.0)
      *hi += w;
  }
  return 1;
}

int32_t SolveApproxF(const MxNormRecord* rec, double p, double* x) {
  if (!(p > 0.0 && p < 1.0))
    return 1;
  const double logP = std::log(p);
  double lo = DBL_MAX, hi = -DBL_MAX, smax = 0.0;
  for (int32_t i = 0; i < rec->count; ++i) {
    lo = std::fmin(lo, rec->mean[i]);
    hi = std::fmax(hi, rec->mean[i]);
    smax = std::fmax(smax, rec->sd[i]);
  }
  double z = std::fabs(zprobit(p)) + 1.0;
  lo -= z * smax + 1.0;
  hi += z * smax + 1.0;
  if (ResetBracket(rec, logP, &lo, &hi) != 0)
    return 1;
  double flo = 0.0, fhi = 0.0;
  if (ComputeF(rec, lo, logP, &flo) != 0 || ComputeF(rec, hi, logP, &fhi) != 0)
    return 1;
  for (int32_t it = 0; it < 200; ++it) {
    double mid = fhi != flo ? lo - flo * (hi - lo) / (fhi - flo) : 0.5 * (lo + hi);
    if (!(mid > lo && mid < hi) || it % 3 == 2)
      mid = 0.5 * (lo + hi);
    double fm;
    if (ComputeF(rec, mid, logP, &fm) != 0)
      return 1;
    if (fm == 0.0 || hi - lo <= 4.0 * DBL_EPSILON * std::fmax(std::fabs(mid), 1e-300)) {
      *x = mid;
      return 0;
    }
    if (fm < 0.0) {
      lo = mid;
      flo = fm;
    } else {
      hi = mid;
      fhi = fm;
    }
  }
  *x = 0.5 * (lo + hi);
  return 0;
}

int32_t zmxnorm(MxNormRecord* rec, uint32_t mode, double x, double p, double* lcdf, double* lsdf,
                double* ldens, double* quantile) {
  if (!(rec->flags & kMxVerified)) {
    int32_t v = VerifyQ(rec);
    if (v != 0)
      return v;
  }
  if ((mode & 1u) && ComputeTheProbOrTheDens(rec, 0, x, lcdf, lsdf, ldens) != 0)
    return 1;
  if ((mode & 2u) && ComputeTheProbOrTheDens(rec, 1, x, lcdf, lsdf, ldens) != 0)
    return 1;
  if ((mode & 4u) && SolveApproxF(rec, p, quantile) != 0)
    return 1;
  return 0;
}
