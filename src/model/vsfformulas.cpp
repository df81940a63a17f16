// Criterion formulas, the F test between nested models, the three comparisons (strict,
// absolute margin, relative FUZZ), the packed-triangle size and the Shell sorts. The
// F-distribution tail comes from the numerical library.
#include "model/vsfformulas.h"

#include "numerics/zlogfnc.h"
#include "support/hostif.h"
#include "support/vsfcriterion.h"

#include <cfloat>
#include <cmath>
#include <utility>

int64_t vsfMemTri(int32_t n) {
  if (n < 0 || n > kVsfMaxTriangleColumns)
    return kVsfTriangleTooLarge;
  return static_cast<int64_t>(n) * (static_cast<int64_t>(n) + 1) / 2;
}

int32_t vsfIsBetter(VsfCriterion code, double a, double b) {
  if (isHostMissing(a) || isHostMissing(b))
    return 0;
  return vsfBigBetter(code) ? a > b : a < b;
}

int32_t vsfIsEpsBetter(VsfCriterion code, double a, double b) {
  if (isHostMissing(a) || isHostMissing(b))
    return 0;
  // A margin fixed in the response's units would decide by the units: on a response in
  // thousandths an ASE of 1e-9 would need to fall by 1e-4 of itself to count. Those criteria
  // take the margin relative to the value they are compared with.
  const double margin = vsfCriterionInResponseUnits(code) ? kVsfEps * std::fabs(b) : kVsfEps;
  return vsfBigBetter(code) ? a > b + margin : a < b - margin;
}

int32_t vsfIsFUZZBetter(VsfCriterion code, int32_t direction, double a, double b, double fuzz) {
  if (isHostMissing(a) || isHostMissing(b))
    return 0;
  const double D = std::fabs(a / 1000.0 - b / 1000.0);
  const double T = fuzz * std::fabs(a / 1000.0);
  if (direction == 1)
    return vsfBigBetter(code) ? (D > T && a > b) : (D > T && a < b);
  return vsfBigBetter(code) ? (D <= T || a >= b) : (D <= T || a <= b);
}

double vsfAic(int32_t p, double sse, double n) {
  if (sse <= 0)
    return -DBL_MAX;
  return n * std::log(sse / n) + 2.0 * p + n + 2.0;
}

double vsfAicc(int32_t p, double sse, double n) {
  if (n == static_cast<double>(p) + 2.0)
    return hostMissing();
  if (sse <= 0)
    return -DBL_MAX;
  return n * (std::log(sse / n) + 1.0 + 2.0 * (p + 1.0) / (n - p - 2.0));
}

double vsfSbc(int32_t p, double sse, double n) {
  if (sse <= 0)
    return -DBL_MAX;
  return n * std::log(sse / n) + p * std::log(n);
}

double vsfCp(int32_t p, double sse, double n, double sigma2) {
  if (sigma2 <= 0)
    return hostMissing();
  if (sse <= 0)
    return 2.0 * p - n;
  return sse / sigma2 + 2.0 * p - n;
}

double vsfBic(int32_t p, double sse, double n, double sigma2) {
  if (sse <= 0)
    return hostMissing();
  const double q = n * sigma2 / sse;
  return n * std::log(sse / n) + 2.0 * q * (p + 2.0 - q);
}

double vsfRsquare(double sse, double tss) {
  if (tss <= 0)
    return hostMissing();
  if (sse <= 0)
    return 1.0;
  double r = 1.0 - sse / tss;
  return r < 0 ? 0.0 : r;
}

double vsfAdjrsq(int32_t p, int32_t noint, double sse, double tss, double n) {
  if (tss <= 0)
    return hostMissing();
  if (n == static_cast<double>(p))
    return hostMissing();
  if (sse <= 0)
    return 1.0;
  if (noint == 0)
    return 1.0 - (n - 1.0) * sse / (tss * (n - p));
  return 1.0 - n * sse / (tss * (n - p));
}

double vsfLogPval(int32_t rank0, int32_t rank1, int32_t effects0, int32_t effects1, double* F,
                  double sse0, double sse1, double n, double fuzz, double fall) {
  if (effects0 > effects1 && rank0 == rank1 &&
      std::fabs(sse0 / 1000.0 - sse1 / 1000.0) <= std::fabs(sse0 / 1000.0) * fuzz) {
    *F = 0.0;
    return 0.0;
  }
  sse0 = std::max(sse0, 0.0);
  sse1 = std::max(sse1, 0.0);
  if (std::isnan(fall) || std::fabs(fall - (sse0 - sse1)) > kVsfFallAgree * std::max(sse0, sse1))
    fall = sse0 - sse1;
  double diff, df1, df2, numerator, denominator;
  if (rank1 > rank0) {
    diff = fall;
    df1 = rank1 - rank0;
    df2 = n - rank1;
  } else {
    diff = -fall;
    df1 = rank0 - rank1;
    df2 = n - rank0;
  }
  if (sse0 > 0 && diff / sse0 < kVsfFTol)
    diff = 0.0;
  numerator = diff * df2;
  denominator = (rank1 > rank0 ? sse1 : sse0) * df1;
  if (denominator < 0 || numerator < 0) {
    *F = hostMissing();
    return hostMissing();
  }
  if (denominator > 0) {
    const double f = numerator / denominator;
    *F = f;
    if (df2 <= 0)
      return hostMissing();
    double logLower = 0, logUpper = 0;
    if (zlogFNCApproxLarge(&logLower, &logUpper, f, df1, df2, 0.0) != 0)
      return hostMissing();
    return logUpper;
  }
  if (numerator > 0) {
    *F = DBL_MAX;
    return kVsfLogUnderflow;
  }
  *F = hostMissing();
  return hostMissing();
}

double vsfPval(int32_t rank0, int32_t rank1, int32_t effects0, int32_t effects1, double* F,
               double sse0, double sse1, double n, double fuzz, double fall) {
  double lp = vsfLogPval(rank0, rank1, effects0, effects1, F, sse0, sse1, n, fuzz, fall);
  if (isHostMissing(lp))
    return lp;
  if (lp <= kVsfLogUnderflow && *F == DBL_MAX)
    return 0.0;
  if (lp < kVsfLogUnderflow)
    return 0.0;
  return std::exp(lp);
}

namespace {
template <class T> void shellSort(T* x, int32_t count, int32_t* index, int32_t ascending) {
  auto val = [&](int32_t i) { return index != nullptr ? x[index[i]] : x[i]; };
  auto outOfOrder = [&](int32_t i, int32_t j) {
    return ascending == 1 ? val(i) > val(j) : val(j) > val(i);
  };
  auto swap = [&](int32_t i, int32_t j) {
    if (index != nullptr)
      std::swap(index[i], index[j]);
    else
      std::swap(x[i], x[j]);
  };
  int32_t P = 1;
  while (P < count)
    P *= 2;
  while (P > 1) {
    P /= 2;
    for (int32_t i = 0; i <= count - 1 - P; ++i) {
      if (outOfOrder(i, i + P)) {
        swap(i, i + P);
        for (int32_t j = i - P; j >= 0 && outOfOrder(j, j + P); j -= P)
          swap(j, j + P);
      }
    }
  }
}
} // namespace

void vsfQsort(double* x, int32_t count, int32_t* index, int32_t ascending) {
  shellSort(x, count, index, ascending);
}
void vsfIntQsort(int32_t* x, int32_t count, int32_t* index, int32_t ascending) {
  shellSort(x, count, index, ascending);
}
