// Classic selection. Each method repeats: search the candidates, make the step, let the
// stop rule accept or undo it, update the chosen step and record the step. Searches are
// strict, so among equal values the lowest-numbered effect wins.
#include "selection/vsfclassic.h"

#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "model/vsftrial.h"
#include "numerics/packedtri.h"
#include "selection/vsfstoprules.h"
#include "support/hostif.h"
#include "support/vsfcriterion.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <optional>
#include <tuple>
#include <vector>

namespace {

using packed::at;
using packed::sym;

[[nodiscard]] VsfCriterion sel(const VsfModel* m) { return m->options->select; }
[[nodiscard]] bool trialAll(const VsfModel* m) { return vsfCriterionTrialPass(sel(m)); }
[[nodiscard]] bool storeCandidates(const VsfModel* m) {
  return m->options->storeCandidates != 0 && m->candidateValue != nullptr;
}
[[nodiscard]] bool addEligible(const VsfModel* m, int32_t e) {
  return m->effectStatus[e] == VES_CANDIDATE &&
         (m->hier.hierAddCount == nullptr || m->hier.hierAddCount[e] == 0);
}
[[nodiscard]] bool dropEligible(const VsfModel* m, int32_t e) {
  if (m->effectStatus[e] != VES_SELECTED)
    return false;
  if (!m->hier.hierarchy || m->hier.hierDropCount == nullptr ||
      m->hier.hierDropCountInit == nullptr)
    return true;
  return m->hier.hierDropCount[e] == m->hier.hierDropCountInit[e];
}

void clearCandidates(VsfModel* m) {
  if (storeCandidates(m))
    for (int32_t e = 0; e < m->effectCount; ++e)
      m->candidateValue[e] = hostMissing();
}

// The criteria of the new model after a real add or drop; a failing pass ends the fit with
// its code rather than leaving partial sums behind. PRESS, CV PRESS and the held-out ASEs
// are formed on the step's own fit and fold records, never taken from the trial that chose
// the move: a trial extends the swept matrices by the candidate's rows, while an entry on
// the growing road sweeps them again from X'X, and on a nearly dependent model the two
// differ in the digits the extension loses. `value` (the move's trial criterion, when given)
// becomes the step's own where the select criterion is one of these, so that the stop rule
// and CHOOSE= judge the number the step prints. The move's fit is first refined as its
// record will refine it (vsfRefineStep, which the record then finds done): the stop rule's
// and CHOOSE='s criteria read its error SS, whose zero the rounding bound of that
// refinement decides, and without an intercept far from 0 the unrefined sums' error SS is
// their rounding alone.
[[nodiscard]] VsfStatus refresh(VsfModel* m, double* value = nullptr) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc = vsfRefineStep(m);
  if (rc == VsfStatus::Ok && o->pressNeeded)
    rc = vsfComputePress(m);
  if (rc == VsfStatus::Ok && vsfCvOn(m))
    rc = vsfComputeCVResids(m);
  if (rc == VsfStatus::Ok && (vsfValidationInUse(m) || vsfTestInUse(m)))
    rc = vsfComputeResids(m);
  if (rc == VsfStatus::Ok && value != nullptr && trialAll(m))
    *value = vsfGetCriterion(m, sel(m));
  return rc;
}

[[nodiscard]] VsfStatus growCross(VsfModel* m, int32_t k) {
  if (m->options->storeCross && m->crossSlot != nullptr && m->crossSlot[k] == -1)
    return vsfAddCross(m, k);
  return VsfStatus::Ok;
}

// Brings back effect k, taken out only to learn a criterion, into the model of rank `rank`
// whose sweep flags were `taken`.
[[nodiscard]] VsfStatus Reenter(VsfModel* m, int32_t k, int32_t rank, const char* taken = nullptr) {
  const uint8_t all = m->options->fullSweep == VsfFullSweep::Never ? 0 : 1;
  if (VsfStatus rc = vsfReenterEffect(m, k, rank, all, taken); rc != VsfStatus::Ok)
    return rc;
  // The model is the recorded step's again; refresh refines a nearly dependent one again, as
  // it was when recorded, so that its error SS and estimates are those of its columns.
  return refresh(m);
}

double worst(VsfCriterion code) { return vsfBigBetter(code) ? -DBL_MAX : DBL_MAX; }

// Whether the candidates' trials can be fitted on the rows: a model without an intercept, on
// unshifted pages, with copies of the model to sweep them into (on either build of the cross
// products: the growing build sweeps a candidate into its copy as the full X'X does).
[[nodiscard]] bool trialsMayBeFar(const VsfModel* m) {
  return m->options->noint && !m->shift.pagesShifted && m->trial.trialCopies;
}

// Refines a trial's model as the step that makes the move would be (vsfRefineStep). The
// rounding bound the refinement gives stays while the trial stands, so that its criterion
// judges its error SS zero as the step's record would; taking the trial back
// (vsfModelReload) restores the model's. The inflation the refinement notes is the model's
// own at once: the trial's re-sweep judges the model's.
[[nodiscard]] VsfStatus refineTrial(VsfModel* m) {
  const double inflation = m->sweptInflation;
  const VsfStatus rc = vsfRefineStep(m);
  m->sweptInflation = inflation;
  return rc;
}

// The error SS of a candidate swept in for a trial, formed from the rows when the swept sums
// have lost it (vsfFarFromOrigin) or, for a trial that is the candidate's entry (`entry`), as
// the step that takes it refines it (refineTrial).
[[nodiscard]] VsfStatus trialSse(VsfModel* m, bool far, bool entry, double* sse) {
  if ((far && vsfFarFromOrigin(m)) || entry)
    if (const VsfStatus rc = refineTrial(m); rc != VsfStatus::Ok)
      return rc;
  *sse = m->sse;
  return VsfStatus::Ok;
}

// Sweeps candidate i in for a trial and gives its error SS (trialSse); with `entry` the trial
// is the candidate's entry (vsfTrialIsEntry), swept in fully and refined. A trial whose
// partial elimination shows that it must be the entry is swept in again so; so is a candidate
// of several columns whose swept error SS falls below kVsfFarResponse of y'y, where the model
// and the single columns did not (a CLASS effect standing in for the missing intercept), its
// error SS then formed from the rows.
[[nodiscard]] VsfStatus trialEntry(VsfModel* m, int32_t i, bool far, bool entry, double* sse) {
  const uint8_t fully = m->options->fullSweep == VsfFullSweep::Always ? 1 : 0;
  m->trial.trialInflation = 0.0;
  VsfStatus rc = vsfAddEffect(m, i, fully, 1);
  if (rc == VsfStatus::Ok)
    rc = trialSse(m, far, entry, sse);
  if (rc != VsfStatus::Ok)
    return rc;
  const bool again = !m->trial.trialsSweptFully && vsfTrialIsEntry(m, m->trial.trialInflation);
  if (!again && (far || !trialsMayBeFar(m) || !vsfFarFromOrigin(m)))
    return rc;
  m->effectStatus[i] = VES_CANDIDATE;
  vsfModelReload(m, false);
  const uint8_t swept = m->trial.trialsSweptFully;
  m->trial.trialsSweptFully = 1;
  rc = vsfAddEffect(m, i, fully, 1);
  if (rc == VsfStatus::Ok)
    rc = trialSse(m, true, again || entry, sse);
  m->trial.trialsSweptFully = swept;
  return rc;
}

// The sums about the means that the rank rule judges a candidate column by, without the
// full X'X: its cross product with the intercept (`x1`, when the intercept is swept) taken
// out of its own sum of squares; and the sizes of the terms of its own and of the model's
// columns' judged sums, which bound their rounding (vsfJudgedSize).
struct CandidateSums {
  const VsfModel* m;
  double x1 = 0.0, a11 = 0.0;
  bool about = false;
  [[nodiscard]] double modelMean(int64_t c, int64_t c2) const {
    return about ? m->xpx[sym(c, 1)] * m->xpx[sym(c2, 1)] / a11 : 0.0;
  }
  [[nodiscard]] double crossMean(int64_t c) const {
    return about ? x1 * m->xpx[sym(c, 1)] / a11 : 0.0;
  }
  [[nodiscard]] double ownMean() const { return about ? x1 * x1 / a11 : 0.0; }
  [[nodiscard]] double own(double q) const { return q - ownMean(); }
  [[nodiscard]] double modelSize(int64_t c, int64_t c2) const {
    return vsfJudgedSize(m->xpx[sym(c, c2)], modelMean(c, c2));
  }
  [[nodiscard]] double crossSize(int64_t c, double xc) const {
    return vsfJudgedSize(xc, crossMean(c));
  }
  [[nodiscard]] double ownSize(double q) const { return vsfJudgedSize(q, ownMean()); }
  [[nodiscard]] bool counts(int64_t c) const { return !(about && c == 1); }
};

// vsfPivotForm of a candidate column without the full X'X: its own sum of squares q (as
// the pass formed it), its cross products xc with the model's columns and |coefficients| on
// the swept ones, as (model column, position in xc, value).
double candidateForm(const CandidateSums& j, double q, const double* xc,
                     const std::vector<std::tuple<int32_t, int32_t, double>>& coef) {
  double f = j.ownSize(q);
  for (size_t u = 0; u < coef.size(); ++u) {
    const auto& [c, a, b] = coef[u];
    if (!j.counts(c))
      continue;
    double s = j.crossSize(c, xc[a]);
    for (size_t v = 0; v < u; ++v)
      if (j.counts(std::get<0>(coef[v])))
        s += j.modelSize(c, std::get<0>(coef[v])) * std::get<2>(coef[v]);
    f += b * (2.0 * s + j.modelSize(c, c) * b);
  }
  return f;
}

// A single-column candidate's sweep past the model's swept columns as the sums give it: its
// cross product with the response r and its pivot d, its judged diagonal `own` and the
// tolerance the rank rule would meet at its entry.
struct SimplePivot {
  double r = 0.0, d = 0.0, own = 0.0, tol = 0.0;
};
using PivotCoefs = std::vector<std::tuple<int32_t, int32_t, double>>;

// SimplePivot of candidate i without the full X'X: from the pass's sums of its column and its
// kept cross products with the model's columns, extended by the swept matrix (`coef` is
// scratch for the coefficients the rounding bound takes).
[[nodiscard]] SimplePivot pivotFromCross(VsfModel* m, int32_t i, PivotCoefs* coef) {
  const int64_t N = m->parmCount + 1;
  const int64_t row = m->effectFirstColumn[i];
  SimplePivot p;
  CandidateSums judged{m};
  coef->clear();
  const double raw = m->moments.columnSquareSums[row - 1];
  p.r = m->cross[row];
  // Stored cross products of x with every swept in-model column.
  double* xc = m->workVector;
  int32_t used = 0;
  for (int32_t q = 0; q < m->inModelCount; ++q) {
    const int32_t e = m->inModelList[q];
    for (int32_t j = 0; j < m->effectColumns[e]; ++j) {
      const int32_t c = m->effectColumn[e] + j;
      if (c == 1)
        judged.x1 = m->sweepFlags[c] == '1' ? m->cross[(m->crossSlot[e] + j) * N + row] : 0.0;
      xc[used++] = m->sweepFlags[c] == '1' ? m->cross[(m->crossSlot[e] + j) * N + row] : 0.0;
    }
  }
  p.d = raw;
  judged.about = vsfRuleCentred(m) && m->sweepFlags[1] == '1' && m->xpx[at(1, 1)] > 0.0;
  judged.a11 = m->xpx[at(1, 1)];
  p.own = judged.own(raw);
  // The root of the pivot's rounding bound, over its coefficients on the swept columns.
  double root = std::sqrt(judged.ownSize(raw));
  int32_t a = 0;
  for (int32_t q = 0; q < m->inModelCount; ++q) {
    const int32_t e = m->inModelList[q];
    for (int32_t j = 0; j < m->effectColumns[e]; ++j, ++a) {
      const int32_t c = m->effectColumn[e] + j;
      if (m->sweepFlags[c] != '1')
        continue;
      p.r += m->sweptXpx[at(c, 0)] * xc[a];
      double inner = 0.0;
      int32_t b = 0;
      for (int32_t q2 = 0; q2 < m->inModelCount; ++q2) {
        const int32_t e2 = m->inModelList[q2];
        for (int32_t j2 = 0; j2 < m->effectColumns[e2]; ++j2, ++b) {
          const int32_t c2 = m->effectColumn[e2] + j2;
          if (m->sweepFlags[c2] == '1')
            inner += m->sweptXpx[sym(c, c2)] * xc[b];
        }
      }
      p.d -= xc[a] * inner;
      if (judged.counts(c))
        root += std::fabs(inner) * std::sqrt(judged.modelSize(c, c));
      coef->emplace_back(c, a, std::fabs(inner));
    }
  }
  p.tol = vsfRoundingTolerance(p.own, root);
  if (!(p.d > p.tol) && p.d > vsfSweepTolerance(p.own))
    p.tol = vsfFormTolerance(p.own, candidateForm(judged, raw, xc, *coef));
  return p;
}

// SimplePivot of single-column candidate i on either build of the cross products: the swept
// matrix holds it with the full X'X, the kept cross products give it without.
[[nodiscard]] SimplePivot simplePivot(VsfModel* m, int32_t i, PivotCoefs* coef) {
  if (!vsfFullXpxOn(m))
    return pivotFromCross(m, i, coef);
  const int64_t c = m->effectColumn[i];
  SimplePivot p;
  p.r = m->sweptXpx[at(c, 0)];
  p.d = m->sweptXpx[at(c, c)];
  p.own = vsfPivotDiagonal(m->xpx, m->sweepFlags, c, vsfRuleCentred(m));
  // The tolerance that sweeping the column in would meet.
  p.tol = vsfCandidateTolerance(m, c);
  return p;
}

// The pivots of the single-column candidates the search may add (simplePivot), by effect; an
// effect that is not such a candidate has none. Formed once per search: on the growing build
// each costs the model's columns squared, and the far test and the search both read them.
using SimplePivots = std::vector<std::optional<SimplePivot>>;

[[nodiscard]] SimplePivots simplePivots(VsfModel* m) {
  SimplePivots pivots(static_cast<size_t>(m->effectCount));
  PivotCoefs coef;
  for (int32_t i = 0; i < m->effectCount; ++i)
    if (m->effectColumns[i] == 1 && addEligible(m, i))
      pivots[static_cast<size_t>(i)] = simplePivot(m, i, &coef);
  return pivots;
}

// Whether, without an intercept, the model's error SS or a single-column candidate's as the
// sums give it (simplePivots, on either build of the cross products, formed here into
// `pivots` when it needs them) lies below kVsfFarResponse of y'y: those sums hold it only to
// the rounding of y'y, which can exceed it, so that the candidates' criteria, and which of
// them is best, would be rounding noise (a response far from 0 against its spread). Each
// candidate is then fitted and its error SS formed from the rows.
[[nodiscard]] bool candidatesFar(VsfModel* m, SimplePivots* pivots) {
  if (!trialsMayBeFar(m))
    return false;
  if (vsfBelowFarResponse(m, m->sse))
    return true;
  *pivots = simplePivots(m);
  for (const std::optional<SimplePivot>& p : *pivots)
    if (p && p->d > 0.0 && vsfBelowFarResponse(m, m->sse - p->r * p->r / p->d))
      return true;
  return false;
}

// Shows candidate i's criterion c (missing where its move adds no rank) and takes it where c
// beats the best so far. The search compares the criteria themselves, never the error SS
// behind them: at one rank BIC need not fall as the error SS does (its penalty 2q(p + 2 - q),
// q = n sigma^2 / SSE, rises faster than n log SSE falls over a range of SSE once p + 2
// passes 2 sqrt(n)), and the candidate of the larger reduction can show the worse BIC.
void takeIfBetter(VsfModel* m, int32_t i, double c, int32_t* effect, double* value) {
  if (storeCandidates(m))
    m->candidateValue[i] = c;
  if (vsfIsBetter(sel(m), c, *value)) {
    *effect = i;
    *value = c;
  }
}

// Whether a removal whose step shows criterion c beats the best removal so far: by SL the
// least significant effect (the largest p-value) leaves.
[[nodiscard]] bool removalWins(VsfCriterion S, double c, double best) {
  return S == VsfCriterion::Sl ? vsfIsBetter(VsfCriterion::Sl, best, c) != 0
                               : vsfIsBetter(S, c, best) != 0;
}

} // namespace

VsfStatus Add(VsfModel* m, int32_t k, double* value) {
  VsfStatus rc = vsfAddEffect(m, k, m->options->fullSweep == VsfFullSweep::Never ? 0 : 1, 0);
  if (rc == VsfStatus::Ok)
    rc = refresh(m, value);
  return rc;
}

VsfStatus Drop(VsfModel* m, int32_t k, double* value) {
  vsfDropEffect(m, k, 2);
  return refresh(m, value);
}

namespace {

void bestSimple(VsfModel* m, const SimplePivots& pivots, int32_t* effect, double* value,
                std::vector<uint8_t>* entries) {
  for (int32_t i = 0; i < m->effectCount; ++i) {
    if (!pivots[static_cast<size_t>(i)])
      continue;
    const SimplePivot& p = *pivots[static_cast<size_t>(i)];
    // A column whose pivot shows an inflation its entry would refine is tried by its entry:
    // its judged diagonal over its pivot.
    if (entries != nullptr && p.d > p.tol && vsfTrialIsEntry(m, p.own / p.d)) {
      (*entries)[static_cast<size_t>(i)] = 1;
      continue;
    }
    const double reduction = p.d > p.tol ? p.r * p.r / p.d : -1.0;
    const double c = reduction > 0
                         ? vsfComputeCriterion(m->sse, m->sse - reduction, m, sel(m), m->rank,
                                               m->rank + 1, m->inModelCount, m->inModelCount)
                         : hostMissing();
    takeIfBetter(m, i, c, effect, value);
  }
}

} // namespace

void vsfBestSimple(VsfModel* m, int32_t* effect, double* value, std::vector<uint8_t>* entries) {
  bestSimple(m, simplePivots(m), effect, value, entries);
}

// The criterion of a candidate's trial (missing when it adds no rank), formed while the trial
// stands, since criteria from the rows (CV, PRESS, VALIDATE) read the trial model.
[[nodiscard]] double trialCriterion(VsfModel* m, double oldSse, int32_t oldRank, double sse,
                                    int32_t rank) {
  return rank > oldRank ? vsfComputeCriterion(oldSse, sse, m, sel(m), oldRank, rank, 1, 1)
                        : hostMissing();
}

// One candidate's trial and its criterion. A model with a trial block forms its error SS and
// rank there, unless the trial must be the candidate's entry (vsfTrialIsEntry: the model or
// the block's elimination is nearly dependent), which sweeps it into a copy of the model and
// refines it as its step would; without an intercept, a block's error SS below
// kVsfFarResponse of y'y is rounding of y'y, and the candidate is swept into a copy of the
// model instead and its error SS formed from the rows, as are all candidates when the model's
// are far (`far`).
[[nodiscard]] VsfStatus trialOf(VsfModel* m, int32_t i, bool far, bool* backedUp, double* c) {
  const double oldSse = m->sse;
  const int32_t oldRank = m->rank;
  double sse;
  bool entry = vsfTrialIsEntry(m, 0.0);
  // The trial block reads the model's own swept matrix, which a backed-up search has
  // collapsed: from then on the candidates are swept into the copies.
  if (m->trial.needTrialBlock && !far && !entry && !*backedUp) {
    int32_t added = 0;
    if (VsfStatus rc = vsfEffectXpXi(m, i, &sse, &added); rc != VsfStatus::Ok)
      return rc;
    entry = vsfTrialIsEntry(m, m->trial.trialInflation);
    const bool farTrial = trialsMayBeFar(m) && vsfBelowFarResponse(m, sse);
    if (!entry && !farTrial) {
      *c = trialCriterion(m, oldSse, oldRank, sse, oldRank + added);
      return VsfStatus::Ok;
    }
    far = farTrial;
  }
  if (!*backedUp) {
    if (VsfStatus rc = vsfAddTrialCopies(m); rc != VsfStatus::Ok)
      return rc;
    vsfModelBackup(m, false);
    *backedUp = true;
  }
  const uint8_t swept = m->trial.trialsSweptFully;
  m->trial.trialsSweptFully = far || entry ? 1 : swept;
  const VsfStatus rc = trialEntry(m, i, far, entry, &sse);
  m->trial.trialsSweptFully = swept;
  if (rc != VsfStatus::Ok)
    return rc;
  *c = trialCriterion(m, oldSse, oldRank, sse, m->rank);
  m->effectStatus[i] = VES_CANDIDATE;
  vsfModelReload(m, false);
  return VsfStatus::Ok;
}

VsfStatus AddCandidate(VsfModel* m, int32_t* effect, double* value) {
  *effect = -1;
  *value = worst(sel(m));
  clearCandidates(m);
  SimplePivots pivots;
  const bool far = candidatesFar(m, &pivots);
  const bool all = trialAll(m) || far || vsfTrialIsEntry(m, 0.0);
  m->trial.trialsSweptFully = far ? 1 : 0;
  std::vector<uint8_t> entries;
  if (!all) {
    entries.assign(static_cast<size_t>(m->effectCount), 0);
    if (pivots.empty())
      pivots = simplePivots(m);
    bestSimple(m, pivots, effect, value, &entries);
  }
  bool backedUp = false;
  for (int32_t i = 0; i < m->effectCount; ++i) {
    if (!addEligible(m, i))
      continue;
    if (!all && m->effectColumns[i] <= 1 && entries[static_cast<size_t>(i)] == 0)
      continue;
    double c;
    if (VsfStatus rc = trialOf(m, i, far, &backedUp, &c); rc != VsfStatus::Ok)
      return rc;
    if (!isHostMissing(c))
      takeIfBetter(m, i, c, effect, value);
  }
  m->trial.trialsSweptFully = 0;
  if (backedUp)
    vsfModelRestore(m);
  // A failed pass behind a candidate's criterion ends the search with its code.
  return m->passFailure;
}

namespace {

// Whether a column of an effect in the model is not swept (refused by the rank rule).
[[nodiscard]] bool holdsRefusedColumn(const VsfModel* m) {
  for (int32_t p = 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (m->structured != nullptr && e == m->structured->effect)
      continue;
    for (int32_t j = 0; j < m->effectColumns[e]; ++j)
      if (m->sweepFlags[m->effectColumn[e] + j] != '1')
        return true;
  }
  return false;
}

} // namespace

void DropCandidate(VsfModel* m, int32_t* effect, double* value) {
  const VsfCriterion S = sel(m);
  *effect = -1;
  *value = (S == VsfCriterion::Sl || vsfBigBetter(S)) ? -DBL_MAX : DBL_MAX;
  if (m->inModelCount <= 1)
    return;
  if (storeCandidates(m) && m->options->drop != VsfDrop::Competitive)
    clearCandidates(m);
  // A model whose step was refined has each removal tried as the step that removes it; so
  // has a model holding a refused column, which a removal may take again (r^2 / d leaves it
  // out).
  const bool entry = vsfTrialIsEntry(m, 0.0);
  if (m->singleColumnEffectCount == m->effectCount && !trialAll(m) && !entry &&
      !holdsRefusedColumn(m)) {
    // As for entries, the removals' criteria are compared, not their error SS.
    for (int32_t i = 0; i < m->effectCount; ++i) {
      if (!dropEligible(m, i) || m->effectColumns[i] != 1)
        continue;
      const int64_t col = m->effectColumn[i];
      const double d = m->sweptXpx[at(col, col)];
      const double r = m->sweptXpx[at(col, 0)];
      const double c =
          d > 0 ? vsfComputeCriterion(m->sse, m->sse + r * r / d, m, S, m->rank, m->rank - 1, 1, 1)
                : hostMissing();
      if (storeCandidates(m))
        m->candidateValue[i] = c;
      if (removalWins(S, c, *value)) {
        *effect = i;
        *value = c;
      }
    }
    return;
  }
  bool backedUp = false;
  for (int32_t i = 0; i < m->effectCount; ++i) {
    if (!dropEligible(m, i))
      continue;
    if (!backedUp) {
      if (const VsfStatus rc = vsfAddTrialCopies(m); rc != VsfStatus::Ok) {
        if (m->passFailure == VsfStatus::Ok)
          m->passFailure = rc; // ends the search as a failed pass does
        *effect = -1;
        return;
      }
      vsfModelBackup(m, true);
      backedUp = true;
    }
    vsfDropEffect(m, i, trialAll(m) || entry ? 1 : 0);
    // Refined as its step will be, whether or not the model's step was: a removal that takes
    // a refused column again can leave a nearly dependent fit behind a model that was not.
    if (refineTrial(m) != VsfStatus::Ok) {
      // The pass's failure is kept in passFailure, which ends the search.
      m->effectStatus[i] = VES_SELECTED;
      vsfModelReload(m, true);
      vsfModelRestore(m);
      return;
    }
    const double c = vsfGetCriterion(m, S);
    if (removalWins(S, c, *value)) {
      *effect = i;
      *value = c;
    }
    if (storeCandidates(m))
      m->candidateValue[i] = isHostMissing(c) ? (vsfBigBetter(S) ? DBL_MAX : -DBL_MAX) : c;
    m->effectStatus[i] = VES_SELECTED;
    vsfModelReload(m, true);
  }
  if (backedUp)
    vsfModelRestore(m);
}

VsfStatus vsfLeastSquares(VsfModel* m) {
  for (int32_t k = m->includeCount; k < m->effectCount; ++k) {
    VsfStatus rc = vsfAddEffect(m, k, 0, 0);
    if (rc != VsfStatus::Ok)
      return rc;
    if (m->options->pressNeeded && (rc = vsfComputePress(m)) != VsfStatus::Ok)
      return rc;
    if ((vsfValidationInUse(m) || vsfTestInUse(m)) && (rc = vsfComputeResids(m)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
      return rc;
  }
  m->stop.stopReason = VSR_LEAST_SQUARES;
  return VsfStatus::Ok;
}

namespace {

// The position of effect k in the model's list.
[[nodiscard]] int32_t listPosition(const VsfModel* m, int32_t k) {
  int32_t p = 0;
  while (p < m->inModelCount && m->inModelList[p] != k)
    ++p;
  return p;
}

// The swept matrix of the last recorded step, kept before a removal or an entry that the stop
// rule may undo when the step was refined (its swept columns' variance inflation above
// kVsfRefineInflation): at such a condition neither reverse sweeps nor a rebuild from X'X
// gives back the step's fit, and refining the rebuilt matrix again leaves another fit than
// the step's estimates. Empty for a step that was not refined, or when the copy cannot be had
// (the rebuild stands in).
struct KeptStep {
  std::vector<double> swept;
  double inflation = 0.0;
};

void keepStep(const VsfModel* m, KeptStep* kept) {
  kept->swept.clear();
  kept->inflation = vsfStepInflation(m);
  if (!vsfNearlyDependent(kept->inflation))
    return;
  try {
    kept->swept.assign(m->sweptXpx, m->sweptXpx + packed::tri(m->xpxColumns));
  } catch (const std::bad_alloc&) {
    kept->swept.clear();
  }
}

// Rebuilds the packed swept matrix from X'X with exactly the columns `taken` (the last step's
// sweep flags), effect `moved` at list position `at` (-1: the list as it stands); the
// criteria the stop rule restored from the step's record stay.
void resweepTaken(VsfModel* m, int32_t moved, int32_t at, const std::vector<char>& taken) {
  const double press = m->press, validateAse = m->validateAse, testAse = m->testAse,
               cvPress = m->cvPress;
  vsfResweepModel(m, -1, moved, at, taken.data());
  m->press = press;
  m->validateAse = validateAse;
  m->testAse = testAse;
  m->cvPress = cvPress;
}

// Puts back the refined step's own swept matrix (`step`) with the step's error SS, so that
// the model is the recorded fit; a step that was not kept is refined when its own condition
// asks for it, and takes the step's error SS too.
[[nodiscard]] VsfStatus putBackStep(VsfModel* m, const KeptStep& step) {
  if (step.swept.empty()) {
    if (const VsfStatus rc = vsfRefineStep(m); rc != VsfStatus::Ok)
      return rc;
  } else {
    std::copy(step.swept.begin(), step.swept.end(), m->sweptXpx);
    m->sweptInflation = step.inflation;
  }
  m->sse = m->history.stepSSE[m->history.stepCount - 1];
  return VsfStatus::Ok;
}

// The structured road keeps a copy of the step a move starts from (keepStructured) when the
// stop rule may undo the move. Undoing it by the opposite move judges the many-level effect's
// columns again against other sums, and can leave another rank and error SS than the step
// whose estimates the model holds; putBackKept puts the copy back whole (the effects'
// statuses stay as the stop rule left them).
[[nodiscard]] bool keepStructured(VsfModel* m) {
  if (m->structured == nullptr || m->trial.cleanInModelList == nullptr)
    return false;
  vsfModelBackup(m, true);
  return true;
}

void putBackKept(VsfModel* m) {
  vsfModelReload(m, true);
  vsfModelRestore(m);
}

// putBackKept for a stop that ends the selection, with the held-out residuals of the folds
// formed again when CVDETAILS shows them; `k` left the model by the move undone when
// `status` is not null.
[[nodiscard]] VsfStatus putBackKeptStop(VsfModel* m, int32_t k, const uint8_t* status) {
  putBackKept(m);
  if (status != nullptr)
    m->effectStatus[k] = *status;
  if (m->history.stepCvPress != nullptr && m->options->cvDetails != VsfCvDetails::None)
    return vsfComputeCVResids(m);
  return VsfStatus::Ok;
}

// The last step's state again after the stop rule undid removal k, which it does by entering
// the effect again last: there it takes its pivots against other columns than at its place in
// the sweep order, and can leave another rank, error SS and variances than the step that was
// recorded, with the same rank too. The structured road puts back the copy kept before the
// removal (`kept`); the packed road rebuilds its swept matrix with the effect at its old list
// position `at` and exactly the columns the step held (`taken`, its sweep flags): the rule
// judged them once along the removals, after which a column refused earlier may have gone in,
// and judged again in list order it can take another set of a nearly dependent effect's
// columns. Over the rebuilt matrix it puts back the refined step's own (`step`), so that the
// model is the recorded fit, whose estimates and variances the step's record holds; a rebuilt
// matrix of a step that was not refined is refined when its own condition asks for it.
// `status` is the effect's status before the removal.
[[nodiscard]] VsfStatus undoRemoval(VsfModel* m, int32_t k, bool kept, int32_t at, uint8_t status,
                                    const std::vector<char>& taken, const KeptStep& step) {
  if (kept) {
    putBackKept(m);
    m->effectStatus[k] = status;
  } else if (m->options->colStandardize) {
    return VsfStatus::Ok; // its own intercept: no rebuild from X'X
  } else {
    resweepTaken(m, k, at, taken);
    if (const VsfStatus rc = putBackStep(m, step); rc != VsfStatus::Ok)
      return rc;
  }
  if (m->history.stepCvPress != nullptr && m->options->cvDetails != VsfCvDetails::None)
    return vsfComputeCVResids(m);
  return VsfStatus::Ok;
}

// The step an entry starts from, kept when the stop rule may undo the entry: its sweep
// flags, and its swept matrix when it was refined; on the structured road a copy of it
// (keepStructured), which the result says was kept.
[[nodiscard]] bool keepEntryStart(VsfModel* m, std::vector<char>* taken, KeptStep* step) {
  if (!m->options->stopTest)
    return false;
  if (keepStructured(m))
    return true;
  taken->assign(m->sweepFlags, m->sweepFlags + m->xpxColumns);
  keepStep(m, step);
  return false;
}

// The last step's state again after the stop rule undid an entry by removing it. The
// removal's reverse sweeps take again the model's columns that were left out, now judged on
// a matrix that holds the entry's rounding, and can sweep in a column the step refused (a
// rebuild of a nearly dependent model, judging afresh in list order, can take another set):
// the model would then report another rank and error SS than the step whose estimates it
// holds. The packed road then sweeps in exactly the columns the step held (`taken`, its
// sweep flags before the entry) and puts back a refined step's own matrix (`step`); the
// structured road puts back its copy (`kept`).
[[nodiscard]] VsfStatus undoEntry(VsfModel* m, bool kept, const std::vector<char>& taken,
                                  const KeptStep& step) {
  if (kept)
    return putBackKeptStop(m, -1, nullptr);
  if (m->structured != nullptr || m->options->colStandardize)
    return VsfStatus::Ok;
  const bool same = taken.size() == static_cast<size_t>(m->xpxColumns) &&
                    std::equal(taken.begin(), taken.end(), m->sweepFlags);
  if (same && step.swept.empty())
    return VsfStatus::Ok;
  if (!same)
    resweepTaken(m, -1, 0, taken);
  if (const VsfStatus rc = putBackStep(m, step); rc != VsfStatus::Ok)
    return rc;
  if (m->history.stepCvPress != nullptr && m->options->cvDetails != VsfCvDetails::None)
    return vsfComputeCVResids(m);
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfForward(VsfModel* m) {
  double stopValue, chooseValue, selectValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, &selectValue);
  int32_t s = m->history.stepCount;
  std::vector<char> taken;
  KeptStep step;
  while (vsfKeepGoing(m, s)) {
    int32_t k;
    double v;
    VsfStatus rc = AddCandidate(m, &k, &v);
    if (rc != VsfStatus::Ok)
      return rc;
    if (k == -1) {
      m->stop.stopReason = VSR_NO_CANDIDATE;
      return VsfStatus::Ok;
    }
    const bool kept = keepEntryStart(m, &taken, &step);
    if ((rc = Add(m, k, &v)) != VsfStatus::Ok)
      return rc;
    int32_t result = 0;
    if ((rc = vsfStopSelection(v, m, s, k, 1, &stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (result == -1)
      return undoEntry(m, kept, taken, step);
    vsfChoose(v, v, m, &chooseValue, 1);
    if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
      return rc;
    if ((rc = growCross(m, k)) != VsfStatus::Ok)
      return rc;
    ++s;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfBackward(VsfModel* m) {
  m->aliasDrops.aliasIncludeDropCount = 0;
  int32_t dropped = 0;
  for (int32_t p = m->inModelCount - 1; p >= 0; --p) {
    const int32_t e = m->inModelList[p];
    const bool structured = m->structured != nullptr && e == m->structured->effect;
    bool anySwept = structured && vsfStructuredAnySwept(m);
    for (int32_t j = 0; j < m->effectColumns[e] && !structured; ++j)
      anySwept = anySwept || m->sweepFlags[m->effectColumn[e] + j] == '1';
    if (anySwept)
      continue;
    if (m->effectStatus[e] == VES_FORCED)
      ++m->aliasDrops.aliasIncludeDropCount;
    vsfDropEffect(m, e, 2);
    m->aliasDrops.aliasDropList[dropped++] = e;
  }
  m->aliasDrops.aliasDropCount = dropped;
  if (m->options->hierarchy == VsfHierarchy::None)
    m->hier.hierarchy = 0;
  const double s0 = m->sweptXpx[0];
  m->sse = s0 < 0 ? 0.0 : s0;
  VsfStatus rc = VsfStatus::Ok;
  if (m->options->pressNeeded && (rc = vsfComputePress(m)) != VsfStatus::Ok)
    return rc;
  if (vsfCvOn(m) && (rc = vsfComputeCVResids(m)) != VsfStatus::Ok)
    return rc;
  if ((vsfValidationInUse(m) || vsfTestInUse(m)) && (rc = vsfComputeResids(m)) != VsfStatus::Ok)
    return rc;
  m->history.stepRank[-1] = m->rank;
  m->history.stepEffects[-1] = m->inModelCount;
  m->history.stepCount = 0;
  rc = vsfRecordStep(m, -1);
  if (rc != VsfStatus::Ok)
    return rc;
  double stopValue, chooseValue, selectValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, &selectValue);
  int32_t s = m->history.stepCount;
  std::vector<char> taken;
  KeptStep step;
  while (vsfKeepGoing(m, s)) {
    int32_t k;
    double v;
    DropCandidate(m, &k, &v);
    if (m->passFailure != VsfStatus::Ok)
      return m->passFailure;
    if (k == -1) {
      m->stop.stopReason = VSR_NOTHING_TO_DROP;
      break;
    }
    const uint8_t status = m->effectStatus[k];
    const int32_t at = listPosition(m, k);
    const bool kept = keepStructured(m);
    if (!kept) {
      taken.assign(m->sweepFlags, m->sweepFlags + m->xpxColumns);
      keepStep(m, &step);
    }
    if ((rc = Drop(m, k, &v)) != VsfStatus::Ok)
      return rc;
    int32_t result = 0;
    if ((rc = vsfStopSelection(v, m, s, k, -1, &stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (result == -1)
      return undoRemoval(m, k, kept, at, status, taken, step);
    vsfChoose(v, v, m, &chooseValue, -1);
    if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
      return rc;
    ++s;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfStepwise(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const VsfCriterion S = o->select, stopCriterion = o->stop;
  const int32_t base = o->noint ? m->effectCount - 1 : m->effectCount;
  double stopValue, chooseValue, selectValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, &selectValue);
  int32_t s = m->history.stepCount;
  const double lnEntry = S == VsfCriterion::Sl ? std::log(o->slEntry) : 0.0;
  const double lnStay = S == VsfCriterion::Sl ? std::log(o->slStay) : 0.0;
  VsfStatus rc;
  std::vector<char> taken, entryTaken;
  KeptStep entryStep;
  if (vsfKeepGoing(m, s)) {
    int32_t lastDropped = -1;
    bool halt = false;
    for (;;) {
      int32_t k;
      double v;
      if ((rc = AddCandidate(m, &k, &v)) != VsfStatus::Ok)
        return rc;
      if (k == -1) {
        m->stop.stopReason = m->inModelCount == base ? VSR_ALL_ENTERED : VSR_NO_CANDIDATE;
        break;
      }
      if (k == lastDropped) {
        m->stop.stopReason = VSR_CYCLING;
        break;
      }
      bool enters;
      if (S == VsfCriterion::Sl) {
        enters = v < lnEntry;
      } else {
        enters = vsfIsEpsBetter(S, v, selectValue) != 0;
        if (enters)
          selectValue = v;
      }
      if (enters) {
        const bool kept = keepEntryStart(m, &entryTaken, &entryStep);
        if ((rc = Add(m, k, &v)) != VsfStatus::Ok)
          return rc;
        int32_t result = 0;
        if ((rc = vsfStopSelection(v, m, s, k, 1, &stopValue, &result)) != VsfStatus::Ok)
          return rc;
        if (result != 0 && (rc = undoEntry(m, kept, entryTaken, entryStep)) != VsfStatus::Ok)
          return rc;
        if (result == 0) {
          vsfChoose(v, v, m, &chooseValue, 1);
          if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
            return rc;
          if ((rc = growCross(m, k)) != VsfStatus::Ok)
            return rc;
          ++s;
          lastDropped = -1;
          halt = false;
        } else {
          halt = true;
        }
      } else {
        m->stop.stopAddEffect = k;
        halt = true;
        if (stopCriterion == S) {
          m->stop.stopAddValue = v;
        } else if (stopCriterion != VsfCriterion::NoneGiven) {
          if ((rc = Add(m, k)) != VsfStatus::Ok)
            return rc;
          m->stop.stopAddValue = vsfGetCriterion(m, stopCriterion);
          if ((rc = Drop(m, k)) != VsfStatus::Ok)
            return rc;
        }
      }
      // Removal phase.
      while (m->sse > 0 && vsfKeepGoing(m, s)) {
        int32_t j;
        double w;
        DropCandidate(m, &j, &w);
        if (m->passFailure != VsfStatus::Ok)
          return m->passFailure;
        m->stop.stopDropEffect = j;
        m->stop.stopDropValue = w;
        if (j == -1)
          break;
        bool leaves;
        if (S == VsfCriterion::Sl) {
          leaves = w > lnStay;
        } else {
          leaves = vsfIsEpsBetter(S, w, selectValue) != 0;
          if (leaves)
            selectValue = w;
        }
        // The columns the step holds: a removal undone sweeps back exactly these, as the rank
        // rule judged them along the steps, not as it would judge them afresh.
        taken.assign(m->sweepFlags, m->sweepFlags + m->xpxColumns);
        if (leaves) {
          const uint8_t status = m->effectStatus[j];
          const bool kept = o->stopTest && keepStructured(m);
          if ((rc = Drop(m, j, &w)) != VsfStatus::Ok)
            return rc;
          int32_t result = 0;
          if ((rc = vsfStopSelection(w, m, s, j, -1, &stopValue, &result, taken.data())) !=
              VsfStatus::Ok)
            return rc;
          if (result != 0) {
            if (kept && (rc = putBackKeptStop(m, j, &status)) != VsfStatus::Ok)
              return rc;
            halt = true;
            break;
          }
          vsfChoose(w, w, m, &chooseValue, -1);
          if ((rc = vsfRecordStep(m, j)) != VsfStatus::Ok)
            return rc;
          ++s;
          lastDropped = j;
          halt = false;
          continue;
        }
        if (stopCriterion == S || stopCriterion == VsfCriterion::NoneGiven)
          break;
        // j stays: it is taken out only to learn the stopCriterion criterion without it. A failure
        // of either move ends the fit: without the re-entry the model would lack j.
        const int32_t rank = m->rank;
        if ((rc = Drop(m, j)) != VsfStatus::Ok)
          return rc;
        m->stop.stopDropValue = vsfGetCriterion(m, stopCriterion);
        if ((rc = Reenter(m, j, rank, taken.data())) != VsfStatus::Ok)
          return rc;
        break;
      }
      if (!vsfKeepGoing(m, s) || halt)
        break;
    }
  }
  if (m->stop.stopReason == VSR_NONE) {
    if (S == stopCriterion && (o->steps == 0 || m->history.stepCount >= o->steps))
      m->stop.stopReason = VSR_NO_IMPROVEMENT;
    else
      m->stop.stopReason = S == VsfCriterion::Sl ? VSR_STEPWISE_SL : VSR_STEPWISE_OTHER;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfCompetitiveStepwise(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const VsfCriterion S = o->select;
  const int32_t base = o->noint ? m->effectCount - 1 : m->effectCount;
  double stopValue, chooseValue, selectValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, &selectValue);
  int32_t s = m->history.stepCount;
  int32_t lastDropped = -1;
  VsfStatus rc;
  while (vsfKeepGoing(m, s)) {
    int32_t ka, kd;
    double va, vd;
    if ((rc = AddCandidate(m, &ka, &va)) != VsfStatus::Ok)
      return rc;
    if (ka == -1) {
      m->stop.stopReason = m->inModelCount == base ? VSR_ALL_ENTERED : VSR_NO_CANDIDATE;
      return VsfStatus::Ok;
    }
    DropCandidate(m, &kd, &vd);
    if (m->passFailure != VsfStatus::Ok)
      return m->passFailure;
    bool cycling = false;
    int32_t k, d;
    double v;
    // With no removal left the addition is made (the SL sentinel of an empty removal
    // search would otherwise win the comparison).
    const bool adds = kd == -1 || vsfIsBetter(S, va, vd);
    const uint8_t status = m->effectStatus[adds ? ka : kd];
    const bool kept = o->stopTest && keepStructured(m);
    if (adds) {
      if ((rc = Add(m, ka, &va)) != VsfStatus::Ok)
        return rc;
      cycling = ka == lastDropped;
      lastDropped = -1;
      k = ka;
      v = va;
      d = 1;
    } else {
      if ((rc = Drop(m, kd, &vd)) != VsfStatus::Ok)
        return rc;
      lastDropped = kd;
      k = kd;
      v = vd;
      d = -1;
    }
    int32_t result = 0;
    if ((rc = vsfStopSelection(v, m, s, k, d, &stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (result == -1)
      return kept ? putBackKeptStop(m, k, d == -1 ? &status : nullptr) : VsfStatus::Ok;
    vsfChoose(v, v, m, &chooseValue, d);
    if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
      return rc;
    if (cycling) {
      m->stop.stopReason = VSR_CYCLING;
      return VsfStatus::Ok;
    }
    if (d == 1 && (rc = growCross(m, k)) != VsfStatus::Ok)
      return rc;
    ++s;
  }
  return VsfStatus::Ok;
}
