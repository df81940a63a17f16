// Iterative refinement of a nearly dependent least-squares step: the residual pass that
// forms X'r and r'r under the swept matrix's coefficients, and the corrections it drives.
#include "model/vsfrefine.h"

#include "data/vsfthread.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpxstructured.h"
#include "model/vsffoldfactor.h"
#include "model/vsffoldpress.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/compsum.h"
#include "numerics/packedtri.h"
#include "support/scratcharena.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

// The thread's scratch of the refinement's sums (support/scratcharena.h).
struct VsfRefineScratch {
  VsfGathered gathered; // a row's swept columns
};
VsfRefineScratch& VsfScratchArena::refine() { return part(refine_); }

namespace {

using packed::at;
using packed::diag;
using packed::sym;

// The row's values of the swept columns of the whole X'X as the pages lay it out: the dense
// values in their order after the response, then each sparse slot's stored columns.
void gatherLaidOut(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r,
                   VsfGathered& g) {
  g.col.clear();
  g.val.clear();
  for (int32_t c = 1; c <= S.dense; ++c)
    if (m->sweepFlags[c] == '1' && r.y[c] != 0.0) {
      g.col.push_back(c);
      g.val.push_back(r.y[c]);
    }
  for (int32_t s = 0; s < S.sparse; ++s) {
    const int32_t e = m->layout.sparseEffectList[s], end = r.slotEnd(S, s);
    for (int32_t b = r.slotBegin(S, s); b < end; ++b) {
      const int32_t c = m->effectColumn[e] + r.storedIndex(S, b);
      if (c < m->xpxColumns && m->sweepFlags[c] == '1') {
        g.col.push_back(c);
        g.val.push_back(r.sparseValues[b]);
      }
    }
  }
}

// The row's residual under the swept matrix's coefficients before the terms outside it are
// taken off (vsfGatheredResidual's sum, in its order), and in *size the size of the terms it
// is summed from, |y| + |outside| + sum |x_c b_c| (`outside` the terms beyond the swept
// columns, as one): the residual rounds as eps times it. One loop forms both. A residual that
// is the small difference of large terms (a response and a covariate near 1e9 without an
// intercept, whose every product and partial sum rounds by eps times 1e9) is summed again with
// its rounding carried (CompensatedSum), so that the corrections do not fit that noise.
double residualAndSize(const double* swept, const VsfRowView& r, const VsfGathered& g,
                       double outside, double* size) {
  double res = r.y[0];
  double terms = std::fabs(r.y[0]) + std::fabs(outside);
  for (size_t i = 0; i < g.col.size(); ++i) {
    const double t = swept[at(g.col[i], 0)] * g.val[i];
    res += t;
    terms += std::fabs(t);
  }
  *size = terms;
  // Summed plainly the residual errs by some eps times its terms' size: past 2^-32 of itself
  // it is summed again with the rounding carried (most rows of a sound fit never are).
  if (!(terms * 0x1p-20 <= std::fabs(res))) {
    CompensatedSum exact(r.y[0]);
    for (size_t i = 0; i < g.col.size(); ++i)
      exact.addProduct(swept[at(g.col[i], 0)], g.val[i]);
    res = exact.value();
  }
  return res;
}

// The training rows' weighted residual sum of squares under the swept matrix's coefficients
// (sums[0]), the residual's cross products with the swept columns (sums[1 + c]), the
// columns gathered from the in-model effects or (laidOut) from the whole X'X, and last the
// weighted sum of squares of the residuals' term sizes, which bounds their rounding.
template <bool laidOut>
void residualSumsBody(VsfPassState* m, QkPageDescriptor* page, double* sums, int64_t length) {
  const VsfRowShape S = vsfRowShape(m);
  VsfGathered& g = VsfScratchArena::mine().refine().gathered;
  const VsfSweptGather gather(m, m->sweepFlags);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w))
      return;
    if constexpr (laidOut)
      gatherLaidOut(m, S, r, g);
    else
      gather(S, r, g);
    const double structuredFit = vsfStructuredFitted(m, -1, S, r);
    double size = 0.0;
    const double res = residualAndSize(m->sweptXpx, r, g, structuredFit, &size) - structuredFit;
    sums[0] += w * res * res;
    sums[length - 1] += w * size * size;
    for (size_t i = 0; i < g.col.size(); ++i)
      sums[1 + g.col[i]] += w * res * g.val[i];
    // The structured road's many-level effect, whose columns follow the triangle's.
    if (m->structured != nullptr && m->structured->inModel) {
      double* effect = sums + 1 + m->xpxColumns;
      const int32_t slot = m->layout.sparseSlot[m->structured->effect];
      for (int32_t a = r.slotBegin(S, slot); a < r.slotEnd(S, slot); ++a)
        effect[r.storedIndex(S, a)] += w * res * r.sparseValues[a];
    }
  });
}

int64_t refineSumsLength(const VsfPassState* m, int64_t) {
  return 2 + m->xpxColumns + (m->structured != nullptr ? m->structured->columns : 0);
}
template <bool laidOut> VsfStatus vsfRefineSums(VsfPassState* m, QkPageDescriptor* page) {
  residualSumsBody<laidOut>(m, page, m->refine.refineSums, refineSumsLength(m, 0));
  return VsfStatus::Ok;
}
template <bool laidOut>
VsfStatus vsfRefineSums_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  residualSumsBody<laidOut>(m, page, buffer, refineSumsLength(m, 0));
  return VsfStatus::Ok;
}
void storeRefineSums(VsfPassState* m, const double* B, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    m->refine.refineSums[i] += B[i];
}

// Summed in groups of pages (the grouped road), so that one and eight threads refine the same
// coefficients to the last bit wherever their cross products agree.
constinit const VsfKernelUse kRefineUse{
    VsfPageUse::Reads, refineSumsLength, storeRefineSums, false, nullptr, true};
const VsfKernelRegistration kRefineRegistration(vsfRefineSums<false>, vsfRefineSums_t<false>,
                                                kRefineUse);
const VsfKernelRegistration kLaidOutRegistration(vsfRefineSums<true>, vsfRefineSums_t<true>,
                                                 kRefineUse);

// Per refined fold, its record's residual sums over the fold's training rows: r'r, X'r by
// X'X column, on the structured road X'r by column of the many-level effect, the residuals'
// sum (which the record's column shifts take off X'r) and the squared sizes of the
// residuals' terms; then as many compensations, which carry what rounding took off each sum.
int64_t foldSumsLength(const VsfPassState* m) {
  return m->xpxColumns + 3 + (m->structured != nullptr ? m->structured->columns : 0);
}
int64_t foldRefineLength(const VsfPassState* m, int64_t) {
  return 2 * m->refine.refineFoldCount * foldSumsLength(m);
}

// Adds x to sum, carrying the addition's rounding in comp (Neumaier): a refined fold's X'r
// is a sum of terms far larger than it, whose rounding as they are added up would otherwise
// set the accuracy the corrections reach.
inline void addCompensated(double& sum, double& comp, double x) {
  const double t = sum + x;
  comp += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
  sum = t;
}

// The residuals of every TRAIN row under the records of the refined folds it stands in (all
// but its own), as the records take it: less the record's response shift, through the
// record's coefficients (foldResidualShift) and its many-level effect's estimates, whose
// columns stay raw in the records.
[[nodiscard]] VsfStatus foldResidualSumsBody(VsfPassState* m, QkPageDescriptor* page,
                                             double* sums) {
  const VsfRowShape S = vsfRowShape(m);
  const int64_t L = foldSumsLength(m);
  VsfGathered& g = VsfScratchArena::mine().refine().gathered;
  std::vector<VsfSweptGather> gathers;
  gathers.reserve(static_cast<size_t>(m->refine.refineFoldCount));
  for (int32_t j = 0; j < m->refine.refineFoldCount; ++j)
    gathers.emplace_back(m, m->cv.folds[m->refine.refineFolds[j]].sweepFlags);
  return vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& r) {
    const double w = r.trainWeight;
    for (int32_t j = 0; j < m->refine.refineFoldCount; ++j) {
      const int32_t f = m->refine.refineFolds[j];
      if (r.target == f)
        continue;
      const VsfFoldRecord& F = m->cv.folds[f];
      gathers[static_cast<size_t>(j)](S, r, g);
      const double shift = m->cv.foldResidualShift != nullptr ? m->cv.foldResidualShift[f] : 0.0;
      const double effectFit = vsfStructuredFitted(m, f, S, r);
      double size = 0.0;
      const double res =
          residualAndSize(F.sweptXpx, r, g, std::fabs(shift) + std::fabs(effectFit), &size) -
          shift - effectFit;
      double* s = sums + 2 * j * L;
      double* comp = s + L;
      addCompensated(s[0], comp[0], w * res * res);
      for (size_t i = 0; i < g.col.size(); ++i)
        addCompensated(s[1 + g.col[i]], comp[1 + g.col[i]], w * res * g.val[i]);
      if (m->structured != nullptr && m->structured->folds[f].inModel) {
        const int32_t slot = m->layout.sparseSlot[m->structured->effect];
        for (int32_t a = r.slotBegin(S, slot); a < r.slotEnd(S, slot); ++a) {
          const int64_t e = 1 + m->xpxColumns + r.storedIndex(S, a);
          addCompensated(s[e], comp[e], w * res * r.sparseValues[a]);
        }
      }
      addCompensated(s[L - 2], comp[L - 2], w * res);
      s[L - 1] += w * size * size;
    }
  });
}
VsfStatus vsfFoldRefineSums(VsfPassState* m, QkPageDescriptor* page) {
  return foldResidualSumsBody(m, page, m->refine.refineSums);
}
VsfStatus vsfFoldRefineSums_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return foldResidualSumsBody(m, page, buffer);
}
void storeFoldRefineSums(VsfPassState* m, const double* B, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    m->refine.refineSums[i] += B[i];
}
constinit const VsfKernelUse kFoldRefineUse{
    VsfPageUse::Reads, foldRefineLength, storeFoldRefineSums, false, nullptr, true};
const VsfKernelRegistration kFoldRefineRegistration(vsfFoldRefineSums, vsfFoldRefineSums_t,
                                                    kFoldRefineUse);

// Whether the step's reported fit is the swept matrix's least-squares fit over rows this
// pass can read as they are.
[[nodiscard]] bool refinable(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return (vsfMethodIs(o->method, VsfMethodFamily::NoSelection) ||
          vsfMethodIs(o->method, VsfMethodFamily::Sequential)) &&
         !m->layout.splitSparse && !o->parmStandardize && !o->colStandardize;
}

} // namespace

namespace {

// The largest variance inflation a_cc (X'X)^-1_cc over the columns swept in `swept` from
// `xpx` (n columns), the intercept left out where the rule judges sums about the means.
double largestInflation(const double* xpx, const char* flags, const double* swept, int64_t n,
                        bool centred) {
  double worst = 0.0;
  for (int64_t c = 1; c < n; ++c) {
    if (flags[c] != '1' || (centred && c == 1))
      continue;
    const double d = vsfPivotSize(xpx, flags, c, centred);
    worst = std::max(worst, std::fabs(d * swept[diag(c)]));
  }
  return worst;
}

} // namespace

double vsfLargestInflation(const VsfModel* m) {
  const bool centred = vsfRuleCentred(m);
  const double worst = largestInflation(m->xpx, m->sweepFlags, m->sweptXpx, m->xpxColumns, centred);
  return std::max(worst, vsfStructuredLargestInflation(m, centred));
}

double vsfStepInflation(const VsfModel* m) {
  return std::max(m->sweptInflation, vsfLargestInflation(m));
}

namespace {

template <bool laidOut>
[[nodiscard]] VsfStatus residualPass(VsfModel* m, std::vector<double>& sums) {
  std::fill(sums.begin(), sums.end(), 0.0);
  vsfStructuredSetEstimates(m);
  m->refine.refineSums = sums.data();
  const VsfStatus rc = vsfDataPass(m, vsfRefineSums<laidOut>, vsfRefineSums_t<laidOut>, 0);
  m->refine.refineSums = nullptr;
  return rc;
}

// b += (X'X)^-1 X'r over the columns swept in W (n columns, X'r by column in xr); column 0
// holds -b and the swept block (X'X)^-1.
void correct(double* W, const char* flags, int64_t n, const double* xr) {
  std::vector<double> delta(static_cast<size_t>(n), 0.0);
  for (int64_t c = 1; c < n; ++c) {
    if (flags[c] != '1')
      continue;
    double d = 0.0;
    for (int64_t l = 1; l < n; ++l)
      if (flags[l] == '1')
        d += W[sym(c, l)] * xr[l];
    delta[static_cast<size_t>(c)] = d;
  }
  for (int64_t c = 1; c < n; ++c)
    if (flags[c] == '1')
      W[at(c, 0)] -= delta[static_cast<size_t>(c)];
}
void correct(VsfModel* m, const std::vector<double>& sums) {
  correct(m->sweptXpx, m->sweepFlags, m->xpxColumns, sums.data() + 1);
}

// The residual sum of squares of the best estimates a refinement has reached: a correction
// that leaves a larger one than the estimates it started from, by more than its rounding, is
// undone, and the refinement ends there: the swept inverse it was formed with has lost too
// much to steer the estimates, and repeating it only drives them further off.
struct RefineGuard {
  double bestSS = std::numeric_limits<double>::infinity(), bestTerms = 0.0;

  // Takes a pass's residual SS (and its terms' squared sizes) as the best when it does not
  // rise by more than rounding alone can make, each residual rounding as eps times its terms;
  // false when it does.
  [[nodiscard]] bool accept(double ss, double terms) {
    const double slack = bestTerms > 0.0
                             ? 4.0 * kVsfEps * (std::sqrt(bestSS * bestTerms) + kVsfEps * bestTerms)
                             : 0.0;
    if (!(ss <= bestSS + slack))
      return false;
    bestSS = ss;
    bestTerms = terms;
    return true;
  }
};

// The estimates a refinement pass corrects: column 0 of the swept matrix (the negated
// estimates) and, on the structured road, the effect's own correction.
struct RefineIterate {
  std::vector<double> column0, refined;
  uint8_t refinedValid = 0;

  void save(const VsfModel* m) {
    column0.resize(static_cast<size_t>(m->xpxColumns));
    for (int64_t c = 1; c < m->xpxColumns; ++c)
      column0[static_cast<size_t>(c)] = m->sweptXpx[at(c, 0)];
    if (const VsfStructured* st = m->structured; st != nullptr && st->refined != nullptr) {
      refined.assign(st->refined, st->refined + st->columns);
      refinedValid = st->refinedValid;
    }
  }
  void restore(VsfModel* m) const {
    for (int64_t c = 1; c < m->xpxColumns; ++c)
      m->sweptXpx[at(c, 0)] = column0[static_cast<size_t>(c)];
    if (VsfStructured* st = m->structured; st != nullptr && !refined.empty()) {
      std::copy(refined.begin(), refined.end(), st->refined);
      st->refinedValid = refinedValid;
    }
  }
};

// A digest of the fit the swept matrix holds: its error SS, its coefficients and their flags,
// and on the structured road the effect's swept columns and whether its own correction stands
// (FNV-1a over their bits), which any sweep, entry, removal or correction changes.
uint64_t fitDigest(const VsfModel* m) {
  uint64_t h = 1469598103934665603ull;
  const auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(static_cast<uint64_t>(m->xpxColumns));
  for (int64_t c = 0; c < m->xpxColumns; ++c) {
    mix(std::bit_cast<uint64_t>(m->sweptXpx[at(c, 0)]));
    mix(static_cast<uint64_t>(m->sweepFlags[c]));
  }
  if (const VsfStructured* st = m->structured; st != nullptr && st->inModel) {
    mix(static_cast<uint64_t>(st->refinedValid));
    for (int64_t j = 0; j < st->columns; ++j)
      mix(static_cast<uint64_t>(st->swept[j]));
  }
  return h == 0 ? 1 : h;
}

} // namespace

bool vsfBelowFarResponse(const VsfModel* m, double ss) {
  return ss < kVsfFarResponse * m->totalSSUncorrected;
}

bool vsfFarFromOrigin(const VsfModel* m) {
  return m->options != nullptr && m->options->noint && !m->shift.pagesShifted &&
         vsfBelowFarResponse(m, m->sweptXpx[0]);
}

bool vsfFoldFarFromOrigin(VsfModel* m, int32_t f) {
  const VsfRecordView record(m, f);
  return vsfFarFromOrigin(m);
}

bool vsfTrialIsEntry(const VsfModel* m, double trialInflation) {
  if (m->layout.splitSparse)
    return false;
  // The model's step was refined (nearly dependent, or far from the origin, whose error SS
  // the rows resolve): a move's error SS is then the rows' too, whose rounding differs from
  // that of the swept sums' r^2 / d by more than the criteria can absorb.
  return trialInflation > kVsfTrialInflationShare * kVsfRefineInflation ||
         (refinable(m) && (vsfNearlyDependent(m->sweptInflation) || vsfFarFromOrigin(m)));
}

VsfStatus vsfRefineStep(VsfModel* m) { return refinable(m) ? vsfRefineSwept(m) : VsfStatus::Ok; }

VsfStatus vsfRefineSwept(VsfModel* m) {
  if (m->layout.splitSparse)
    return VsfStatus::Ok;
  m->sweptInflation = vsfStepInflation(m);
  const bool far = vsfFarFromOrigin(m);
  if (!vsfNearlyDependent(m->sweptInflation) && !far)
    return VsfStatus::Ok;
  // A fit refined already keeps its estimates: corrections again would move them by their
  // rounding, and a criterion that reads them (a PRESS whose leverages lie within 1e-7 of 1)
  // would differ between the step and the trial that made the same move.
  if (m->refinedDigest != 0 && m->refinedDigest == fitDigest(m)) {
    if (far)
      m->roundingSS = std::min(m->roundingSS, m->refinedRounding);
    return VsfStatus::Ok;
  }
  const bool structured = m->structured != nullptr && m->structured->inModel;
  std::vector<double> sums(static_cast<size_t>(refineSumsLength(m, 0)));
  RefineIterate before;
  RefineGuard guard;
  // How far the last accepted pass moved the error SS: the swept one's distance from the
  // rows' at the first pass, then each correction's drop.
  double previous = m->sweptXpx[0], moved = 0.0;
  for (int32_t pass = 0; pass < 3; ++pass) {
    if (const VsfStatus rc = residualPass<false>(m, sums); rc != VsfStatus::Ok)
      return rc;
    if (!guard.accept(sums[0], sums.back())) {
      before.restore(m);
      break;
    }
    moved = std::fabs(previous - sums[0]);
    previous = sums[0];
    if (pass == 2)
      break;
    before.save(m);
    if (structured)
      vsfStructuredCorrect(m, sums.data() + 1, sums.data() + 1 + m->xpxColumns);
    else
      correct(m, sums);
  }
  // The structured road's corrections go through the levels' elimination, whose reduced
  // triangle can hold too few digits to steer them: where the last still moves the error SS
  // by more than kVsfRefineSettled of the total, the fit is not the least-squares one the
  // packed road's corrections reach, and the road gives way to it.
  if (structured && moved > kVsfRefineSettled * m->totalSS)
    vsfStructuredGiveUp(m);
  m->sweptXpx[0] = guard.bestSS;
  m->sse = guard.bestSS;
  m->refinedDigest = fitDigest(m);
  // The residuals' sum of squares from the rows rounds as the residuals do, each eps times
  // the terms it is summed from, not as the sums y'y was formed in.
  m->refinedRounding = kVsfEps * guard.bestTerms;
  if (far)
    m->roundingSS = std::min(m->roundingSS, m->refinedRounding);
  return VsfStatus::Ok;
}

VsfStatus vsfRefineLaidOut(VsfModel* m) {
  std::vector<double> sums(static_cast<size_t>(refineSumsLength(m, 0)));
  for (int32_t pass = 0; pass < 2; ++pass) {
    if (const VsfStatus rc = residualPass<true>(m, sums); rc != VsfStatus::Ok)
      return rc;
    correct(m, sums);
  }
  return VsfStatus::Ok;
}

namespace {

// Whether the fold records hold least-squares fits of their swept columns over rows the
// fold pass reads as they are: the packed or the structured road (no split levels stored
// sparse) without a ridge, of a sequential or unselected fit or of a least-angle path, whose
// CV refits its active effects by least squares on the standardized pages the records sum.
[[nodiscard]] bool foldsRefinable(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const bool path = vsfMethodIs(o->method, VsfMethodFamily::LeastAngle) && !m->layout.splitSparse &&
                    !o->parmStandardize;
  return (refinable(m) || path) && m->cv.folds != nullptr && m->cv.foldCount >= 2 &&
         !(m->elnetPass.l2 > 0) && m->elnet.l2BaseXpx == nullptr;
}

// The shift of each of fold f's record's columns (by X'X column): the record is held about
// its rows' means less the pages' shift (foldShift), and its X'r about them is the pass's
// X'r less the column's shift times the residuals' sum. 0 where the records are about the
// pages' shift. The structured road's many-level effect, whose columns lie past the
// triangle's, stays raw.
void foldColumnShifts(const VsfModel* m, int32_t f, std::vector<double>& t) {
  t.assign(static_cast<size_t>(m->xpxColumns), 0.0);
  if (m->cv.foldShift == nullptr)
    return;
  const double* shift = m->cv.foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    for (int32_t q = 0; q < m->effectColumns[e] && m->effectColumn[e] + q < m->xpxColumns; ++q)
      t[static_cast<size_t>(m->effectColumn[e] + q)] = shift[1 + m->parmOffset[e] + q];
  }
}

// One refined fold: the record's estimates before the last correction and the best residual
// SS reached.
struct FoldIterate {
  int32_t fold = 0;
  bool done = false;
  // The last correction's largest change of a coefficient relative to it; the pass after a
  // correction that settled (kFoldSettled, or one no smaller than half the one before) is
  // the fold's last.
  double change = std::numeric_limits<double>::infinity();
  bool settled = false;
  // The factor of the fold's training rows that corrects its refit, where it has one.
  const VsfFoldFactors::Fold* factor = nullptr;
  RefineIterate before;
  RefineGuard guard;
};

// The passes a refined fold takes at most: each correction shrinks the coefficients' error
// by about eps times the condition of the fold's cross products, and a held-out row that
// extrapolates sees that error undamped, so a fold at 6e12 takes four or five corrections to
// reach the digits its rows fix, where the model's own step, judged on its fitted values,
// takes two.
constexpr int32_t kFoldRefinePasses = 7;
// A correction that moves no coefficient by more than this part of itself leaves the fold's
// held-out error where it is.
constexpr double kFoldSettled = 1e-13;

// The residual pass over the training rows of the folds not yet done, into sums (per fold
// foldSumsLength doubles, in the order of `active`).
[[nodiscard]] VsfStatus foldResidualPass(VsfModel* m, const std::vector<int32_t>& active,
                                         std::vector<double>& sums) {
  const size_t L = static_cast<size_t>(foldSumsLength(m));
  std::vector<double> raw(2 * active.size() * L, 0.0);
  vsfSetFoldResidualShifts(m);
  vsfStructuredSetEstimates(m);
  m->refine.refineFolds = active.data();
  m->refine.refineFoldCount = static_cast<int32_t>(active.size());
  m->refine.refineSums = raw.data();
  const VsfStatus rc = vsfDataPass(m, vsfFoldRefineSums, vsfFoldRefineSums_t, 0);
  m->refine.refineSums = nullptr;
  m->refine.refineFolds = nullptr;
  m->refine.refineFoldCount = 0;
  sums.assign(active.size() * L, 0.0);
  for (size_t j = 0; j < active.size(); ++j)
    for (size_t i = 0; i < L; ++i)
      sums[j * L + i] = raw[2 * j * L + i] + raw[2 * j * L + L + i];
  return rc;
}

// The largest change of a coefficient in column 0 of W relative to its value in `before`.
double largestChange(const double* W, const char* flags, int64_t n,
                     const std::vector<double>& before) {
  double worst = 0.0;
  for (int64_t c = 1; c < n; ++c)
    if (flags[c] == '1') {
      const double b = before[static_cast<size_t>(c)];
      worst = std::max(worst, std::fabs(W[at(c, 0)] - b) /
                                  std::max(std::fabs(b), std::numeric_limits<double>::min()));
    }
  return worst;
}

// Takes the pass sums s of fold it: keeps the correction before them or undoes it, and
// corrects again unless this was the fold's last pass. The record's state stands in for the
// model's (VsfRecordView), so that the structured road's effect is corrected by its own
// elimination as the model's is.
void stepFold(VsfModel* m, FoldIterate& it, const double* s, bool last) {
  const int64_t n = m->xpxColumns, L = foldSumsLength(m);
  const VsfRecordView record(m, it.fold);
  if (!it.guard.accept(s[0], s[L - 1])) {
    // Nothing to undo where the first pass's residuals are not finite.
    if (!it.before.column0.empty())
      it.before.restore(m);
    it.done = true;
    return;
  }
  if (last || it.settled) {
    it.done = true;
    return;
  }
  std::vector<double> t, xr(static_cast<size_t>(n), 0.0);
  foldColumnShifts(m, it.fold, t);
  for (int64_t c = 1; c < n; ++c)
    xr[static_cast<size_t>(c)] = s[1 + c] - t[static_cast<size_t>(c)] * s[L - 2];
  it.before.save(m);
  if (it.factor != nullptr)
    vsfFoldFactorCorrect(m, *it.factor, xr.data(), s[L - 2], s + 1 + n);
  else if (m->structured != nullptr && m->structured->inModel)
    vsfStructuredCorrect(m, xr.data(), s + 1 + n);
  else
    correct(m->sweptXpx, m->sweepFlags, n, xr.data());
  const double change = largestChange(m->sweptXpx, m->sweepFlags, n, it.before.column0);
  it.settled = change <= kFoldSettled || !(change < 0.5 * it.change);
  it.change = change;
}

} // namespace

namespace {

// The largest variance inflation of the columns swept in fold f's record, as
// vsfLargestInflation judges the model's, given the many-level effect's part (`effect`): its
// columns count as the model's own state has them, settled with each step, since a record's
// differ by its fold's rows alone and forming every record's swept diagonal at each criterion
// would cost k s^2 a fold.
double foldInflation(const VsfModel* m, int32_t f, double effect) {
  const VsfFoldRecord& F = m->cv.folds[f];
  return std::max(
      largestInflation(F.xpx, F.sweepFlags, F.sweptXpx, m->xpxColumns, vsfRuleCentred(m)), effect);
}

// Whether fold f's record is refitted from its rows (vsfRefineFolds): its sums cannot hold
// its held-out error at its inflation and held-out leverage.
bool foldRefitted(VsfModel* m, int32_t f, const std::vector<double>& inflation,
                  const std::vector<double>& leverage) {
  const size_t i = static_cast<size_t>(f);
  return !vsfFoldSumsHoldDigits(inflation[i], leverage[i], vsfFoldLostColumn(m, f),
                                vsfFoldFarFromOrigin(m, f));
}

} // namespace

bool vsfFoldRecordsRefitted(VsfModel* m) {
  if (!foldsRefinable(m))
    return false;
  std::vector<double> inflation, errors, leverage;
  vsfFoldInflations(m, inflation);
  (void)vsfFoldSums(m, inflation, errors, leverage);
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    if (foldRefitted(m, f, inflation, leverage))
      return true;
  return false;
}

void vsfFoldInflations(const VsfModel* m, std::vector<double>& inflation) {
  inflation.assign(static_cast<size_t>(std::max(m->cv.foldCount, 0)), 0.0);
  if (!foldsRefinable(m))
    return;
  // The effect's part is the same for every fold: one pass over its k columns, not one a fold.
  const double effect = vsfStructuredLargestInflation(m, vsfRuleCentred(m));
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    inflation[static_cast<size_t>(f)] = foldInflation(m, f, effect);
}

VsfStatus vsfRefineFolds(VsfModel* m, const std::vector<double>& inflation,
                         const std::vector<double>& leverage, int32_t* refined) {
  *refined = 0;
  if (!foldsRefinable(m))
    return VsfStatus::Ok;
  // The folds whose sums cannot hold their held-out error take a factor of their training
  // rows where it serves them, the rest of them the refinement.
  std::vector<int32_t> factored, left;
  std::vector<FoldIterate> folds;
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    if (foldRefitted(m, f, inflation, leverage)) {
      ++*refined;
      if (vsfFoldFactorServes(m, f))
        factored.push_back(f);
      else
        folds.emplace_back().fold = f;
    }
  }
  // The refits from the factors are corrected by them on the rows as the others by their sums.
  VsfFoldFactors factors;
  if (const VsfStatus rc = vsfFoldsFromFactor(m, factored, factors, left); rc != VsfStatus::Ok)
    return rc;
  for (const VsfFoldFactors::Fold& F : factors.folds)
    if (std::find(left.begin(), left.end(), F.fold) == left.end()) {
      FoldIterate& it = folds.emplace_back();
      it.fold = F.fold;
      it.factor = &F;
    }
  for (const int32_t f : left)
    folds.emplace_back().fold = f;
  std::vector<int32_t> active;
  std::vector<double> sums;
  for (int32_t pass = 0; pass < kFoldRefinePasses; ++pass) {
    active.clear();
    for (const FoldIterate& it : folds)
      if (!it.done)
        active.push_back(it.fold);
    if (active.empty())
      break;
    if (const VsfStatus rc = foldResidualPass(m, active, sums); rc != VsfStatus::Ok)
      return rc;
    size_t j = 0;
    for (FoldIterate& it : folds)
      if (!it.done)
        stepFold(m, it, sums.data() + j++ * static_cast<size_t>(foldSumsLength(m)),
                 pass + 1 == kFoldRefinePasses);
  }
  for (const FoldIterate& it : folds)
    if (std::isfinite(it.guard.bestSS))
      m->cv.folds[it.fold].sweptXpx[0] = it.guard.bestSS;
  return VsfStatus::Ok;
}
