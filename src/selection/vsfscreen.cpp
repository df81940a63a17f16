// Screening rules of the least-angle path. SIS ranks the candidates once by their absolute
// correlation with the response and makes all but the first KEEPNUM= unavailable. The safe
// rules keep a bound per candidate (the path value below which it may become active), work
// on the candidates whose bound has been reached or soon will be, and form the correlations
// and direction products of the others only when a refresh needs them.
#include "selection/vsfscreen.h"

#include "data/vsfthread.h"
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfmoments.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "selection/vsflarlasso.h"
#include "support/logline.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr double kBig = 1.7976931348623157e308;
constexpr double kGuard = 1e-12;
// The working set grows by at least this many candidates per refresh.
constexpr int32_t kAddTarget = 10;
constexpr int32_t kAddIterations = 5;

[[nodiscard]] bool elasticNet(const VsfModel* m) { return vsfMethodRidge(m->options->method); }

double guarded(double num, double den) { return den < kGuard ? kBig : num / den; }

// The bound of candidate j in the Sasvi form (factor 2) or the DPP form (factor 1).
void simpleBound(VsfModel* m, int32_t j, double factor) {
  const double lambda = m->lambda, c = m->corr[j], t = m->screenStat[j];
  const double s = std::sqrt(m->columnSquareSums[j] * m->sumWYY);
  const double up = guarded(factor * (1 - c / lambda), s + t);
  const double dn = guarded(factor * (1 + c / lambda), s - t);
  const double bound = 1 / (std::min(up, dn) + 1 / lambda);
  if (bound < m->screenBound[j])
    m->screenBound[j] = bound;
}

void simpleBounds(VsfModel* m, double factor) {
  for (int32_t j = m->includeCount; j < m->effectCount; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE)
      simpleBound(m, j, factor);
}

// The refined Sasvi bound of candidate j, from the fitted values' sums a = |Xb|^2 and
// b = (Xb)'y of the last refresh.
void refinedBound(VsfModel* m, int32_t j) {
  const double a = m->screenTermA, b = m->screenTermB, Q = m->sumWYY, lambda = m->lambda;
  const double q = Q - b * b / a;
  const double x = m->columnSquareSums[j];
  double t = m->screenStat[j], c = m->corr[j];
  double d = t - c;
  const double v = x - d * d / a;
  double u = t - d * b / a;
  const double s = std::sqrt(q * v);
  if (d < 0) {
    d = -d;
    u = -u;
    c = -c;
    t = -t;
  }
  const double up = guarded(2 * (1 - c / lambda), s + u);
  double dn = guarded(2 * (c / lambda + 1), s - u);
  const double e = Q * d * d - x * b * b;
  if (e > 0) {
    const double h = (s * d + v * b) * a / e / lambda;
    if (dn > h && up > h) {
      const double p = (d + 2 * c) / lambda, g = a * x / lambda, mm = x * b / lambda;
      const double k = mm - t * (p + 2), D = x * Q - t * t;
      dn = (std::sqrt(k * k - (g / lambda - (p + 2) * (p + 2)) * D) - k) / D;
    }
  }
  m->screenBound[j] = 1 / (1 / lambda + std::min(up, dn));
}

// The working set and the screened-out list, in effect order, from the flags.
void rebuildLists(VsfModel* m) {
  m->screenInCount = m->screenOutCount = 0;
  for (int32_t j = 0; j < m->effectCount; ++j) {
    if (m->screenFlag[j] == VES_SCREEN_SET)
      m->screenInList[m->screenInCount++] = j;
    else if (m->screenFlag[j] == VES_CANDIDATE)
      m->screenOutList[m->screenOutCount++] = j;
  }
}

// Lowers the safe level by the predicted ratio until at least kAddTarget candidates have
// joined the working set; with few candidates left, or too few joining, all join.
void addActiveByRatio(VsfModel* m) {
  const int32_t E = m->effectCount;
  int32_t out = 0;
  for (int32_t j = 0; j < E; ++j)
    out += m->screenFlag[j] == VES_CANDIDATE;
  bool enough = false;
  if (out >= kAddTarget) {
    m->screenInCount = 0;
    m->lambdaSure = m->lambdaNext;
    int32_t added = 0;
    for (int32_t it = 0; it < kAddIterations && !enough; ++it) {
      m->lambdaSure *= m->screenRatio;
      for (int32_t j = 0; j < E; ++j)
        if (m->screenFlag[j] == VES_CANDIDATE && m->screenBound[j] > m->lambdaSure) {
          m->screenFlag[j] = VES_SCREEN_SET;
          ++added;
        }
      enough = added >= kAddTarget;
    }
  }
  if (!enough) {
    m->lambdaSure = 0;
    for (int32_t j = 0; j < E; ++j)
      if (m->screenFlag[j] == VES_CANDIDATE)
        m->screenFlag[j] = VES_SCREEN_SET;
  }
  rebuildLists(m);
}

void trace(const VsfModel* m, const char* format, int32_t newCount) {
  char line[200];
  std::snprintf(line, sizeof line, format, m->stepCount, m->screenInCount, newCount, m->screenRatio,
                m->lambdaSure, m->lambda);
  vsfLogLine(line);
}

[[nodiscard]] VsfStatus allocateScreening(VsfModel* m) {
  const int32_t E = m->effectCount;
  m->screenBound = vsfModelArray<double>(m, E);
  m->screenStat = vsfModelArray<double>(m, E);
  m->screenFlag = vsfModelArray<uint8_t>(m, E);
  m->screenInList = vsfModelArray<int32_t>(m, E);
  m->screenOutList = vsfModelArray<int32_t>(m, E);
  m->screenNewList = vsfModelArray<int32_t>(m, E);
  if (m->screenBound == nullptr || m->screenStat == nullptr || m->screenFlag == nullptr ||
      m->screenInList == nullptr || m->screenOutList == nullptr || m->screenNewList == nullptr)
    return VsfStatus::NoMemory;
  m->screenInCount = m->screenOutCount = m->screenNewCount = 0;
  return VsfStatus::Ok;
}

// SIS: the candidates ranked by absolute correlation with the response; all but the first
// k become unavailable for the fit. Forced effects are never ranked or cut.
void sureIndependence(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const int32_t first = m->includeCount, E = m->effectCount;
  const int32_t candidates = E - first;
  int32_t k;
  if (o->keepRatio < 0)
    k = std::min(o->keepNum, candidates);
  else
    k = static_cast<int32_t>(o->keepRatio * candidates);
  if (k < 1)
    k = 1;
  m->screenKeep = k;
  m->screenKeepRatio = o->keepRatio;
  for (int32_t r = 0; r < candidates; ++r) {
    const int32_t j = first + r;
    const double c = std::fabs(m->corr[j]);
    const double s = std::sqrt(m->sumWYY * m->columnSquareSums[j]);
    m->screenStat[r] = c < s ? c / s : c;
    m->screenInList[r] = j;
  }
  doubleSort(m->screenStat, m->screenInList, candidates);
  for (int32_t r = k; r < candidates; ++r)
    m->effectStatus[m->screenInList[r]] = VES_UNAVAILABLE;
  m->screenInCount = candidates;
}

void printHeader(const VsfModel* m) {
  vsfLogLine(">>>>>>>>>> iStep, \t screenInSetSize, screenInNewSize, \t ratio, \t lambdaSure, "
             "L1Current \t");
  trace(m, ">>>>>>>>>> %d, \t %d, \t %d, \t %.5f, \t %.5f, \t %.5f", 0);
}

} // namespace

bool vsfSafeScreening(const VsfModel* m) {
  const VsfScreenMethod s = m->options->screen;
  return s >= VsfScreenMethod::Sasvi && s <= VsfScreenMethod::Dpp;
}

bool vsfScreenEligible(const VsfModel* m, int32_t j) {
  return vsfSafeScreening(m) ? m->screenFlag[j] == VES_SCREEN_SET
                             : m->effectStatus[j] == VES_CANDIDATE;
}

int32_t vsfScreenFullCount(const VsfModel* m) {
  if (m->options->screen == VsfScreenMethod::Sis)
    return m->screenKeep + m->includeCount;
  return m->effectCount - (m->options->noint ? 1 : 0);
}

VsfStatus vsfScreenSquareSums(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (o->screen < VsfScreenMethod::Sasvi)
    return VsfStatus::Ok;
  m->sumWYY = 0.0;
  std::fill(m->columnSquareSums, m->columnSquareSums + m->parmCount, 0.0);
  VsfStatus rc = vsfDataPass(m, vsfYpwY, vsfYpwY_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  // The ridge of the elastic net belongs to every column's sum of squares in the bounds.
  if (elasticNet(m) && m->l2 > 0 && vsfSafeScreening(m))
    for (int32_t k = 0; k < m->effectCount; ++k)
      m->columnSquareSums[k] += (m->nObs - 1) * m->l2;
  return VsfStatus::Ok;
}

VsfStatus vsfScreenStart(VsfModel* m) {
  VsfModelOptions* o = m->options;
  if (o->screen == VsfScreenMethod::Base) {
    // BASE$ screens nothing out: every candidate is kept.
    m->screenKeep = m->effectCount - m->includeCount;
    m->screenKeepRatio = -1;
    return VsfStatus::Ok;
  }
  if (o->screen == VsfScreenMethod::Sis) {
    if (allocateScreening(m) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
    sureIndependence(m);
    return VsfStatus::Ok;
  }
  if (!vsfSafeScreening(m))
    return VsfStatus::Ok;
  if (m->lambdaMax == 0) {
    o->screen = VsfScreenMethod::None;
    return VsfStatus::Ok;
  }
  if (allocateScreening(m) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  const int32_t E = m->effectCount;
  m->lambdaRatioSum = 0;
  m->screenPower = o->screenSteps; // SCREENSTEPS$=, 4 by default
  std::memcpy(m->screenStat, m->corr, sizeof(double) * E);
  std::memcpy(m->screenFlag, m->effectStatus, static_cast<size_t>(E));
  m->lambda = m->lambdaMax;
  m->screenRatio = 0.9;
  m->lambdaNext = m->lambdaMax;
  m->screenTermA = m->screenTermB = 0;
  for (int32_t j = m->includeCount; j < E; ++j)
    m->screenBound[j] = m->lambdaMax;
  simpleBounds(m, 2.0);
  addActiveByRatio(m);
  if (o->showScreen)
    printHeader(m);
  return VsfStatus::Ok;
}

namespace {

// The refresh: the screened-out correlations and the fitted values' sums from one pass,
// new bounds, a new working set, and the direction products of the effects that joined it.
[[nodiscard]] VsfStatus refresh(VsfModel* m, double A, double cmax) {
  const VsfModelOptions* o = m->options;
  const int32_t E = m->effectCount;
  m->screenTermA = m->screenTermB = 0;
  for (int32_t i = 0; i < m->screenOutCount; ++i)
    m->corr[m->screenOutList[i]] = 0;
  VsfStatus rc = vsfDataPass(m, vsfLarSasviCorrOut, vsfLarSasviCorrOut_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  if (elasticNet(m) && m->l2 > 0)
    m->screenTermA += (m->nObs - 1) * m->l2 * m->l2Norm * m->l2Norm;
  std::memcpy(m->screenFlag, m->effectStatus, static_cast<size_t>(E));
  const int32_t f = o->noint ? 0 : 1;
  if (m->stepCount > f && m->lambdaRatioSum > 0)
    m->screenRatio = std::pow(m->lambdaRatioSum / (m->stepCount - f), m->screenPower);
  if (o->screen == VsfScreenMethod::Sasvi && m->screenTermB > 0 && m->screenTermA > 0) {
    for (int32_t j = m->includeCount; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        refinedBound(m, j);
  } else {
    simpleBounds(m, o->screen == VsfScreenMethod::Dpp ? 1.0 : 2.0);
  }
  addActiveByRatio(m);
  m->screenNewCount = 0;
  for (int32_t j = m->includeCount; j < E; ++j) {
    if (m->screenFlag[j] == VES_SCREEN_SET && m->dirCorr[j] == 0.0)
      m->screenNewList[m->screenNewCount++] = j;
    else if (m->screenFlag[j] == VES_CANDIDATE)
      m->dirCorr[j] = 0;
  }
  if (m->screenNewCount > 0 &&
      (rc = vsfDataPass(m, vsfLarSasviAvecOut, vsfLarSasviAvecOut_t, 0)) != VsfStatus::Ok)
    return rc;
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    m->dirCorr[k] = vsfLarActiveRate(m, k, A, cmax);
  }
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfScreenStep(VsfModel* m, double cmax, double A, double* gamma, int32_t* pendingDrop,
                        double dropRatio, int32_t dropEffect) {
  if (!vsfSafeScreening(m))
    return VsfStatus::Ok;
  m->lambdaNext = cmax - A * *gamma;
  if (m->lambdaNext <= m->lambdaSure || m->screenInCount <= 5) {
    VsfStatus rc = refresh(m, A, cmax);
    if (rc != VsfStatus::Ok)
      return rc;
    const bool all = m->inModelCount == m->effectCount - (m->options->noint ? 1 : 0);
    *gamma = all ? cmax / A : vsfLarCatchUp(m, cmax, A);
    if (dropEffect >= 0 && dropRatio < *gamma) {
      *gamma = dropRatio;
      *pendingDrop = dropEffect;
    } else {
      *pendingDrop = -1;
    }
    if (m->options->showScreen)
      trace(m, ">>>>>>>>>> %d, \t %d, \t %d,  \t %.5f, \t %.5f, \t%.5f", m->screenNewCount);
  }
  m->lambdaRatioSum += (cmax - A * *gamma) / m->lambda;
  return VsfStatus::Ok;
}

void vsfScreenEntered(VsfModel* m, int32_t effect) {
  if (!vsfSafeScreening(m))
    return;
  m->screenFlag[effect] = VES_SELECTED;
  for (int32_t i = 0; i < m->screenInCount; ++i)
    if (m->screenInList[i] == effect) {
      m->screenInList[i] = m->screenInList[--m->screenInCount];
      break;
    }
}

void vsfScreenDropped(VsfModel* m, int32_t effect) {
  if (!vsfSafeScreening(m))
    return;
  m->screenFlag[effect] = VES_SCREEN_SET;
  m->screenInList[m->screenInCount++] = effect;
}

void vsfScreenTied(VsfModel* m, int32_t effect) {
  if (vsfSafeScreening(m))
    m->screenFlag[effect] = VES_UNAVAILABLE;
}

void doubleSort(double* values, int32_t* indices, int32_t n) {
  // A stable order for equal values keeps the lower effect first; any order would do.
  std::vector<int32_t> order(static_cast<size_t>(std::max(n, 0)));
  for (int32_t i = 0; i < n; ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return values[a] > values[b]; });
  std::vector<double> v(order.size());
  std::vector<int32_t> x(order.size());
  for (int32_t i = 0; i < n; ++i) {
    v[i] = values[order[i]];
    x[i] = indices[order[i]];
  }
  std::copy(v.begin(), v.end(), values);
  std::copy(x.begin(), x.end(), indices);
}
