// The elastic-net L2 search. Every trial is a whole path fit on the same centred and scaled
// pages: the first trial transforms them, no trial restores them, and only the final fit
// records its steps. The trials share the cross products of one data pass; each adds its own
// ridge to the diagonal (vsfprocess.cpp), so a trial costs a path on the matrix, not a pass.
#include "selection/vsfelnet.h"

#include "model/vsfcriteria.h"
#include "model/vsfmodel.h"
#include "selection/vsfprocess.h"
#include "support/hostif.h"
#include "support/logline.h"
#include "support/vsfcriterion.h"
#include "support/vsfoptions.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kGoldenInterval = 2.618033988749895; // 1 + the golden ratio
constexpr double kGoldenStep = 0.3819660112501051;    // 2 - the golden ratio

// The criterion's value at step k of the trial just fitted (smaller is better; 0 for a
// search without a criterion).
double trialValue(const VsfModel* m, int32_t k) {
  const VsfCriterion code = vsfElasticNetCriterion(*m->options);
  switch (code) {
  case VsfCriterion::Aic:
  case VsfCriterion::Aicc:
  case VsfCriterion::Sbc:
  case VsfCriterion::Cp:
  case VsfCriterion::Bic:
  case VsfCriterion::Press:
  case VsfCriterion::Validate:
  case VsfCriterion::Cv:
    return vsfStepCriterion(m, code, k);
  case VsfCriterion::AdjRsq: {
    const double v = vsfStepCriterion(m, code, k);
    return isHostMissing(v) ? v : -v;
  }
  case VsfCriterion::NoneGiven:
  case VsfCriterion::Sl:
  case VsfCriterion::RSquare:
  case VsfCriterion::None:
  case VsfCriterion::Cvex:
  case VsfCriterion::L1:
    return 0.0;
  }
  return 0.0;
}

// Row l2Trial of the tuning rows, when they are kept.
void writeTuneRow(VsfModel* m, double l2, int32_t k, double value) {
  if (m->elnetPass.enTuneRows == nullptr || m->elnet.l2Trial < 0 ||
      m->elnet.l2Trial >= m->elnetPass.enTuneCapacity)
    return;
  double* row = m->elnetPass.enTuneRows + 7 * static_cast<int64_t>(m->elnet.l2Trial);
  row[0] = l2;
  row[1] = m->history.stepPathValue[k];
  row[2] = m->history.stepRank[k];
  row[3] = value;
  row[4] = m->history.stepL2Norm[k];
  row[5] = m->history.stepL1Norm[k];
  row[6] = k + 1.0;
}

// The trials of a search on the pages: no step records; the first trial transforms the
// pages and leaves them transformed for the later trials and the final fit.
void startTrials(VsfModelOptions* o) {
  o->recordSteps = 0;
  o->transformPages = 1;
  o->restorePages = 0;
}

// One fit per trial; a trial that ends with a fit status ends the search.
VsfL2Trial fitTrial(VsfModel* m) {
  return [m](int32_t index, double l2, double* value) {
    m->elnet.l2Trial = index;
    *value = vsfProcessCriterionEN(l2, m);
    m->options->transformPages = 0;
    return m->fitStatus == VsfFitStatus::Done;
  };
}

// Strictly smaller; the missing value is never smaller and nothing is smaller than it.
[[nodiscard]] bool smaller(double a, double b) {
  return !isHostMissing(a) && !isHostMissing(b) && a < b;
}

} // namespace

double vsfProcessCriterionEN(double l2, VsfModel* model) {
  VsfModel* m = model;
  VsfStatus rc = vsfModelInit(m);
  if (rc != VsfStatus::Ok)
    return codeOf(rc);
  m->elnetPass.l2 = l2;
  if ((rc = vsfProcessModel(m)) != VsfStatus::Ok)
    return codeOf(rc);
  if (m->fitStatus != VsfFitStatus::Done)
    return -1.0;
  const bool chosen = m->options->choose != VsfCriterion::NoneGiven && m->chosen.chosenStep >= 0 &&
                      m->chosen.chosenStep < m->history.stepCount;
  const int32_t k = chosen ? m->chosen.chosenStep : m->history.stepCount - 1;
  const double value = k >= 0 ? trialValue(m, k) : hostMissing();
  if (k >= 0)
    writeTuneRow(m, l2, k, value);
  vsfModelByFree(m);
  return value;
}

double vsfGoldenSectionWalk(double low, double high, int32_t N, const VsfL2Trial& trial,
                            bool* ranToEnd) {
  double a = low, b = high;
  double c = a + (b - a) / kGoldenInterval;
  double fa, fc, fb;
  *ranToEnd = false;
  if (!trial(0, a, &fa) || !trial(1, c, &fc) || !trial(2, b, &fb))
    return -1.0;
  double best = a, fbest = fa;
  if (smaller(fc, fbest))
    best = c, fbest = fc;
  if (smaller(fb, fbest))
    best = b, fbest = fb;
  for (int32_t t = 3; t < N; ++t) {
    const double x = (c - a) < (b - c) ? c + kGoldenStep * (b - c) : c - kGoldenStep * (c - a);
    if (std::fabs(b - a) < 1e-8 * (std::fabs(x) + std::fabs(c)))
      return best;
    double fx;
    if (!trial(t, x, &fx))
      return -1.0;
    if (smaller(fx, fbest))
      best = x, fbest = fx;
    if (smaller(fx, fc)) {
      fc = fx;
      if ((b - c) <= (c - a))
        b = c;
      else
        a = c;
      c = x;
    } else if ((c - a) < (b - c)) {
      b = x;
    } else {
      a = x;
    }
  }
  *ranToEnd = true;
  return best;
}

double vsfLogGridWalk(double lo, double hi, int32_t N, const VsfL2Trial& trial) {
  const double s = lo != 0 ? lo : (hi < 1 ? hi * 1e-8 : 1e-8);
  const double A = std::log10(s), B = std::log10(hi);
  double step;
  if (lo != 0)
    step = (B - A) / (N - 1);
  else
    step = N >= 3 ? (B - A) / (N - 2) : 0.0;
  double fbest, best = lo;
  if (!trial(0, lo, &fbest))
    return -1.0;
  for (int32_t i = 1; i < N; ++i) {
    double v;
    if (lo != 0)
      v = std::pow(10.0, A + i * step);
    else
      v = N >= 3 ? std::pow(10.0, A + (i - 1) * step) : hi;
    double f;
    if (!trial(i, v, &f))
      return -1.0;
    if (isHostMissing(f) || isHostMissing(fbest))
      return best;
    if (f < fbest)
      fbest = f, best = v;
  }
  return best;
}

double vsfProcessGoldenSection(VsfModel* model) {
  VsfModel* m = model;
  startTrials(m->options);
  bool ranToEnd;
  const double best = vsfGoldenSectionWalk(m->elnet.l2Low, m->elnet.l2High, m->elnetPass.l2Steps,
                                           fitTrial(m), &ranToEnd);
  if (ranToEnd) {
    char line[80];
    std::snprintf(line, sizeof line, "chosen L2 by golden section search = %.5e:", best);
    vsfLogLine(line);
  }
  return best;
}

double vsfProcessLogGridSearch(VsfModel* model) {
  VsfModel* m = model;
  startTrials(m->options);
  return vsfLogGridWalk(m->elnet.l2Low, m->elnet.l2High, m->elnetPass.l2Steps, fitTrial(m));
}

VsfStatus vsfDriveElasticNet(VsfModel* model) {
  VsfModel* m = model;
  VsfModelOptions* o = m->options;
  VsfStatus rc;
  if (m->elnet.l2Search == VsfL2Search::None) {
    if ((rc = vsfModelInit(m)) != VsfStatus::Ok)
      return rc;
    m->elnet.finalL2 = m->elnetPass.l2;
    return vsfProcessModel(m);
  }
  if (m->elnet.l2Search != VsfL2Search::Golden && m->elnet.l2Search != VsfL2Search::Grid)
    return VsfStatus::Ok;
  // The cross products before the ridge, formed by the first trial's pass and shared by
  // every later trial and the final fit. Folds keep sums of their own, which are formed
  // per fit.
  std::vector<double> base;
  if (vsfFullXpxOn(m) && !o->cvOn && !o->cvExternal) {
    const int64_t columns = static_cast<int64_t>(m->parmCount) + 1;
    base.assign(static_cast<size_t>(columns * (columns + 1) / 2), 0.0);
    m->elnet.l2BaseXpx = base.data();
    m->elnet.l2BaseReady = 0;
  }
  const double L = m->elnet.l2Search == VsfL2Search::Golden ? vsfProcessGoldenSection(m)
                                                            : vsfProcessLogGridSearch(m);
  rc = VsfStatus::Ok;
  if (m->fitStatus == VsfFitStatus::Done) {
    if ((rc = vsfModelInit(m)) == VsfStatus::Ok) {
      o->transformPages = 0;
      o->recordSteps = 1;
      m->elnetPass.l2 = L;
      m->elnet.finalL2 = L;
      rc = vsfProcessModel(m);
    }
  }
  m->elnet.l2BaseXpx = nullptr;
  m->elnet.l2BaseReady = 0;
  return rc;
}
