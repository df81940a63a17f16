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
  const double lambda = m->path.lambda, c = m->pathPass.corr[j], t = m->screen.screenStat[j];
  const double s = std::sqrt(m->moments.columnSquareSums[j] * m->sumWYY);
  const double up = guarded(factor * (1 - c / lambda), s + t);
  const double dn = guarded(factor * (1 + c / lambda), s - t);
  const double bound = 1 / (std::min(up, dn) + 1 / lambda);
  if (bound < m->screen.screenBound[j])
    m->screen.screenBound[j] = bound;
}

void simpleBounds(VsfModel* m, double factor) {
  for (int32_t j = m->includeCount; j < m->effectCount; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE)
      simpleBound(m, j, factor);
}

// The refined Sasvi bound of candidate j, from the fitted values' sums a = |Xb|^2 and
// b = (Xb)'y of the last refresh.
void refinedBound(VsfModel* m, int32_t j) {
  const double a = m->screenPass.screenTermA, b = m->screenPass.screenTermB, Q = m->sumWYY,
               lambda = m->path.lambda;
  const double q = Q - b * b / a;
  const double x = m->moments.columnSquareSums[j];
  double t = m->screen.screenStat[j], c = m->pathPass.corr[j];
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
  m->screen.screenBound[j] = 1 / (1 / lambda + std::min(up, dn));
}

// The working set and the screened-out list, in effect order, from the flags.
void rebuildLists(VsfModel* m) {
  m->screenPass.screenInCount = m->screenPass.screenOutCount = 0;
  for (int32_t j = 0; j < m->effectCount; ++j) {
    if (m->screen.screenFlag[j] == VES_SCREEN_SET)
      m->screenPass.screenInList[m->screenPass.screenInCount++] = j;
    else if (m->screen.screenFlag[j] == VES_CANDIDATE)
      m->screenPass.screenOutList[m->screenPass.screenOutCount++] = j;
  }
}

// Lowers the safe level by the predicted ratio until at least kAddTarget candidates have
// joined the working set; with few candidates left, or too few joining, all join.
void addActiveByRatio(VsfModel* m) {
  const int32_t E = m->effectCount;
  int32_t out = 0;
  for (int32_t j = 0; j < E; ++j)
    out += m->screen.screenFlag[j] == VES_CANDIDATE;
  bool enough = false;
  if (out >= kAddTarget) {
    m->screenPass.screenInCount = 0;
    m->screen.lambdaSure = m->screen.lambdaNext;
    int32_t added = 0;
    for (int32_t it = 0; it < kAddIterations && !enough; ++it) {
      m->screen.lambdaSure *= m->screen.screenRatio;
      for (int32_t j = 0; j < E; ++j)
        if (m->screen.screenFlag[j] == VES_CANDIDATE &&
            m->screen.screenBound[j] > m->screen.lambdaSure) {
          m->screen.screenFlag[j] = VES_SCREEN_SET;
          ++added;
        }
      enough = added >= kAddTarget;
    }
  }
  if (!enough) {
    m->screen.lambdaSure = 0;
    for (int32_t j = 0; j < E; ++j)
      if (m->screen.screenFlag[j] == VES_CANDIDATE)
        m->screen.screenFlag[j] = VES_SCREEN_SET;
  }
  rebuildLists(m);
}

void trace(const VsfModel* m, const char* format, int32_t newCount) {
  char line[200];
  std::snprintf(line, sizeof line, format, m->history.stepCount, m->screenPass.screenInCount,
                newCount, m->screen.screenRatio, m->screen.lambdaSure, m->path.lambda);
  vsfLogLine(line);
}

[[nodiscard]] VsfStatus allocateScreening(VsfModel* m) {
  const int32_t E = m->effectCount;
  m->screen.screenBound = vsfModelArray<double>(m, E);
  m->screen.screenStat = vsfModelArray<double>(m, E);
  m->screen.screenFlag = vsfModelArray<uint8_t>(m, E);
  m->screenPass.screenInList = vsfModelArray<int32_t>(m, E);
  m->screenPass.screenOutList = vsfModelArray<int32_t>(m, E);
  m->screenPass.screenNewList = vsfModelArray<int32_t>(m, E);
  if (m->screen.screenBound == nullptr || m->screen.screenStat == nullptr ||
      m->screen.screenFlag == nullptr || m->screenPass.screenInList == nullptr ||
      m->screenPass.screenOutList == nullptr || m->screenPass.screenNewList == nullptr)
    return VsfStatus::NoMemory;
  m->screenPass.screenInCount = m->screenPass.screenOutCount = m->screenPass.screenNewCount = 0;
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
  m->screen.screenKeep = k;
  m->screen.screenKeepRatio = o->keepRatio;
  for (int32_t r = 0; r < candidates; ++r) {
    const int32_t j = first + r;
    const double c = std::fabs(m->pathPass.corr[j]);
    const double s = std::sqrt(m->sumWYY * m->moments.columnSquareSums[j]);
    m->screen.screenStat[r] = c < s ? c / s : c;
    m->screenPass.screenInList[r] = j;
  }
  doubleSort(m->screen.screenStat, m->screenPass.screenInList, candidates);
  for (int32_t r = k; r < candidates; ++r)
    m->effectStatus[m->screenPass.screenInList[r]] = VES_UNAVAILABLE;
  m->screenPass.screenInCount = candidates;
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
  return vsfSafeScreening(m) ? m->screen.screenFlag[j] == VES_SCREEN_SET
                             : m->effectStatus[j] == VES_CANDIDATE;
}

int32_t vsfScreenFullCount(const VsfModel* m) {
  if (m->options->screen == VsfScreenMethod::Sis)
    return m->screen.screenKeep + m->includeCount;
  return m->effectCount - (m->options->noint ? 1 : 0);
}

VsfStatus vsfScreenSquareSums(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (o->screen < VsfScreenMethod::Sasvi)
    return VsfStatus::Ok;
  m->sumWYY = 0.0;
  std::fill(m->moments.columnSquareSums, m->moments.columnSquareSums + m->parmCount, 0.0);
  VsfStatus rc = vsfDataPass(m, vsfYpwY, vsfYpwY_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  // The ridge of the elastic net belongs to every column's sum of squares in the bounds.
  if (elasticNet(m) && m->elnetPass.l2 > 0 && vsfSafeScreening(m))
    for (int32_t k = 0; k < m->effectCount; ++k)
      m->moments.columnSquareSums[k] += (m->totals.nObs - 1) * m->elnetPass.l2;
  return VsfStatus::Ok;
}

VsfStatus vsfScreenStart(VsfModel* m) {
  VsfModelOptions* o = m->options;
  if (o->screen == VsfScreenMethod::Base) {
    // BASE$ screens nothing out: every candidate is kept.
    m->screen.screenKeep = m->effectCount - m->includeCount;
    m->screen.screenKeepRatio = -1;
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
  if (m->path.lambdaMax == 0) {
    o->screen = VsfScreenMethod::None;
    return VsfStatus::Ok;
  }
  if (allocateScreening(m) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  const int32_t E = m->effectCount;
  m->screen.lambdaRatioSum = 0;
  m->screen.screenPower = o->screenSteps; // SCREENSTEPS$=, 4 by default
  std::memcpy(m->screen.screenStat, m->pathPass.corr, sizeof(double) * E);
  std::memcpy(m->screen.screenFlag, m->effectStatus, static_cast<size_t>(E));
  m->path.lambda = m->path.lambdaMax;
  m->screen.screenRatio = 0.9;
  m->screen.lambdaNext = m->path.lambdaMax;
  m->screenPass.screenTermA = m->screenPass.screenTermB = 0;
  for (int32_t j = m->includeCount; j < E; ++j)
    m->screen.screenBound[j] = m->path.lambdaMax;
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
  m->screenPass.screenTermA = m->screenPass.screenTermB = 0;
  for (int32_t i = 0; i < m->screenPass.screenOutCount; ++i)
    m->pathPass.corr[m->screenPass.screenOutList[i]] = 0;
  VsfStatus rc = vsfDataPass(m, vsfLarSasviCorrOut, vsfLarSasviCorrOut_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  if (elasticNet(m) && m->elnetPass.l2 > 0)
    m->screenPass.screenTermA +=
        (m->totals.nObs - 1) * m->elnetPass.l2 * m->path.l2Norm * m->path.l2Norm;
  std::memcpy(m->screen.screenFlag, m->effectStatus, static_cast<size_t>(E));
  const int32_t f = o->noint ? 0 : 1;
  if (m->history.stepCount > f && m->screen.lambdaRatioSum > 0)
    m->screen.screenRatio =
        std::pow(m->screen.lambdaRatioSum / (m->history.stepCount - f), m->screen.screenPower);
  if (o->screen == VsfScreenMethod::Sasvi && m->screenPass.screenTermB > 0 &&
      m->screenPass.screenTermA > 0) {
    for (int32_t j = m->includeCount; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        refinedBound(m, j);
  } else {
    simpleBounds(m, o->screen == VsfScreenMethod::Dpp ? 1.0 : 2.0);
  }
  addActiveByRatio(m);
  m->screenPass.screenNewCount = 0;
  for (int32_t j = m->includeCount; j < E; ++j) {
    if (m->screen.screenFlag[j] == VES_SCREEN_SET && m->pathPass.dirCorr[j] == 0.0)
      m->screenPass.screenNewList[m->screenPass.screenNewCount++] = j;
    else if (m->screen.screenFlag[j] == VES_CANDIDATE)
      m->pathPass.dirCorr[j] = 0;
  }
  if (m->screenPass.screenNewCount > 0 &&
      (rc = vsfDataPass(m, vsfLarSasviAvecOut, vsfLarSasviAvecOut_t, 0)) != VsfStatus::Ok)
    return rc;
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    m->pathPass.dirCorr[k] = vsfLarActiveRate(m, k, A, cmax);
  }
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfScreenStep(VsfModel* m, double cmax, double A, double* gamma, int32_t* pendingDrop,
                        double dropRatio, int32_t dropEffect) {
  if (!vsfSafeScreening(m))
    return VsfStatus::Ok;
  m->screen.lambdaNext = cmax - A * *gamma;
  if (m->screen.lambdaNext <= m->screen.lambdaSure || m->screenPass.screenInCount <= 5) {
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
      trace(m, ">>>>>>>>>> %d, \t %d, \t %d,  \t %.5f, \t %.5f, \t%.5f",
            m->screenPass.screenNewCount);
  }
  m->screen.lambdaRatioSum += (cmax - A * *gamma) / m->path.lambda;
  return VsfStatus::Ok;
}

void vsfScreenEntered(VsfModel* m, int32_t effect) {
  if (!vsfSafeScreening(m))
    return;
  m->screen.screenFlag[effect] = VES_SELECTED;
  for (int32_t i = 0; i < m->screenPass.screenInCount; ++i)
    if (m->screenPass.screenInList[i] == effect) {
      m->screenPass.screenInList[i] = m->screenPass.screenInList[--m->screenPass.screenInCount];
      break;
    }
}

void vsfScreenDropped(VsfModel* m, int32_t effect) {
  if (!vsfSafeScreening(m))
    return;
  m->screen.screenFlag[effect] = VES_SCREEN_SET;
  m->screenPass.screenInList[m->screenPass.screenInCount++] = effect;
}

void vsfScreenTied(VsfModel* m, int32_t effect) {
  if (vsfSafeScreening(m))
    m->screen.screenFlag[effect] = VES_UNAVAILABLE;
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
