// Iterative refinement of a nearly dependent least-squares step: the residual pass that
// forms X'r and r'r under the swept matrix's coefficients, and the corrections it drives.
#include "model/vsfrefine.h"

#include "data/vsfthread.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpxstructured.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/threadscratch.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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
    const int32_t e = m->sparseEffectList[s], end = r.slotEnd(S, s);
    for (int32_t b = r.slotBegin(S, s); b < end; ++b) {
      const int32_t c = m->effectColumn[e] + r.storedIndex(S, b);
      if (c < m->xpxColumns && m->sweepFlags[c] == '1') {
        g.col.push_back(c);
        g.val.push_back(r.sparseValues[b]);
      }
    }
  }
}

// The size of the terms a row's residual is summed from, |y| + sum |x_c b_c| (the structured
// effect's fit as one term): the residual rounds as eps times it.
double residualTermsSize(const double* swept, const VsfRowView& r, const VsfGathered& g,
                         double structuredFit) {
  double size = std::fabs(r.y[0]) + std::fabs(structuredFit);
  for (size_t i = 0; i < g.col.size(); ++i)
    size += std::fabs(swept[at(g.col[i], 0)] * g.val[i]);
  return size;
}

// The training rows' weighted residual sum of squares under the swept matrix's coefficients
// (sums[0]), the residual's cross products with the swept columns (sums[1 + c]), the
// columns gathered from the in-model effects or (laidOut) from the whole X'X, and last the
// weighted sum of squares of the residuals' term sizes, which bounds their rounding.
template <bool laidOut>
void residualSumsBody(VsfPassState* m, QkPageDescriptor* page, double* sums, int64_t length) {
  const VsfRowShape S = vsfRowShape(m);
  thread_local ThreadScratch<VsfGathered> gScratch;
  VsfGathered& g = gScratch.get();
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w))
      return;
    if constexpr (laidOut)
      gatherLaidOut(m, S, r, g);
    else
      vsfGatherSwept(m, S, r, m->sweepFlags, g);
    const double structuredFit = vsfStructuredFitted(m, -1, S, r);
    const double res = vsfGatheredResidual(m->sweptXpx, r, g) - structuredFit;
    sums[0] += w * res * res;
    const double size = residualTermsSize(m->sweptXpx, r, g, structuredFit);
    sums[length - 1] += w * size * size;
    for (size_t i = 0; i < g.col.size(); ++i)
      sums[1 + g.col[i]] += w * res * g.val[i];
    // The structured road's many-level effect, whose columns follow the triangle's.
    if (m->structured != nullptr && m->structured->inModel) {
      double* effect = sums + 1 + m->xpxColumns;
      const int32_t slot = m->sparseSlot[m->structured->effect];
      for (int32_t a = r.slotBegin(S, slot); a < r.slotEnd(S, slot); ++a)
        effect[r.storedIndex(S, a)] += w * res * r.sparseValues[a];
    }
  });
}

int64_t refineSumsLength(const VsfPassState* m, int64_t) {
  return 2 + m->xpxColumns + (m->structured != nullptr ? m->structured->columns : 0);
}
template <bool laidOut> VsfStatus vsfRefineSums(VsfPassState* m, QkPageDescriptor* page) {
  residualSumsBody<laidOut>(m, page, m->refineSums, refineSumsLength(m, 0));
  return VsfStatus::Ok;
}
template <bool laidOut>
VsfStatus vsfRefineSums_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  residualSumsBody<laidOut>(m, page, buffer, refineSumsLength(m, 0));
  return VsfStatus::Ok;
}
void storeRefineSums(VsfPassState* m, const double* B, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    m->refineSums[i] += B[i];
}

// Summed in groups of pages (the grouped road), so that one and eight threads refine the same
// coefficients to the last bit wherever their cross products agree.
constinit const VsfKernelUse kRefineUse{
    VsfPageUse::Reads, refineSumsLength, storeRefineSums, false, nullptr, true};
const VsfKernelRegistration kRefineRegistration(vsfRefineSums<false>, vsfRefineSums_t<false>,
                                                kRefineUse);
const VsfKernelRegistration kLaidOutRegistration(vsfRefineSums<true>, vsfRefineSums_t<true>,
                                                 kRefineUse);

// Whether the step's reported fit is the swept matrix's least-squares fit over rows this
// pass can read as they are.
[[nodiscard]] bool refinable(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return (vsfMethodIs(o->method, VsfMethodFamily::NoSelection) ||
          vsfMethodIs(o->method, VsfMethodFamily::Sequential)) &&
         !m->splitSparse && !o->parmStandardize && !o->colStandardize;
}

} // namespace

double vsfLargestInflation(const VsfModel* m) {
  const bool centred = vsfRuleCentred(m);
  double worst = 0.0;
  for (int64_t c = 1; c < m->xpxColumns; ++c) {
    if (m->sweepFlags[c] != '1' || (centred && c == 1))
      continue;
    const double d = vsfPivotDiagonal(m->xpx, m->sweepFlags, c, centred);
    worst = std::max(worst, std::fabs(d * m->sweptXpx[diag(c)]));
  }
  return std::max(worst, vsfStructuredLargestInflation(m, centred));
}

namespace {

template <bool laidOut>
[[nodiscard]] VsfStatus residualPass(VsfModel* m, std::vector<double>& sums) {
  std::fill(sums.begin(), sums.end(), 0.0);
  vsfStructuredSetEstimates(m);
  m->refineSums = sums.data();
  const VsfStatus rc = vsfDataPass(m, vsfRefineSums<laidOut>, vsfRefineSums_t<laidOut>, 0);
  m->refineSums = nullptr;
  return rc;
}

// b += (X'X)^-1 X'r over the swept columns; column 0 holds -b and the swept block (X'X)^-1.
void correct(VsfModel* m, const std::vector<double>& sums) {
  const int64_t n = m->xpxColumns;
  double* W = m->sweptXpx;
  std::vector<double> delta(static_cast<size_t>(n), 0.0);
  for (int64_t c = 1; c < n; ++c) {
    if (m->sweepFlags[c] != '1')
      continue;
    double d = 0.0;
    for (int64_t l = 1; l < n; ++l)
      if (m->sweepFlags[l] == '1')
        d += W[sym(c, l)] * sums[static_cast<size_t>(1 + l)];
    delta[static_cast<size_t>(c)] = d;
  }
  for (int64_t c = 1; c < n; ++c)
    if (m->sweepFlags[c] == '1')
      W[at(c, 0)] -= delta[static_cast<size_t>(c)];
}

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

} // namespace

bool vsfFarFromOrigin(const VsfModel* m) {
  return m->options != nullptr && m->options->noint && !m->pagesShifted &&
         m->sweptXpx[0] < kVsfFarResponse * m->totalSSUncorrected;
}

VsfStatus vsfRefineStep(VsfModel* m) { return refinable(m) ? vsfRefineSwept(m) : VsfStatus::Ok; }

VsfStatus vsfRefineSwept(VsfModel* m) {
  if (m->splitSparse)
    return VsfStatus::Ok;
  m->sweptInflation = std::max(m->sweptInflation, vsfLargestInflation(m));
  const bool far = vsfFarFromOrigin(m);
  if (!(m->sweptInflation > kVsfRefineInflation) && !far)
    return VsfStatus::Ok;
  const bool structured = m->structured != nullptr && m->structured->inModel;
  std::vector<double> sums(static_cast<size_t>(refineSumsLength(m, 0)));
  // A correction that leaves a larger residual sum of squares than the estimates it started
  // from, by more than its rounding, is undone, and the refinement ends there: the swept inverse it
  // was formed with has lost too much to steer the estimates, and repeating it only drives them
  // further off.
  RefineIterate before;
  double bestSS = std::numeric_limits<double>::infinity(), bestTerms = 0.0;
  for (int32_t pass = 0; pass < 3; ++pass) {
    if (const VsfStatus rc = residualPass<false>(m, sums); rc != VsfStatus::Ok)
      return rc;
    // The rise that rounding alone can make: each residual rounds as eps times its terms.
    const double slack = bestTerms > 0.0
                             ? 4.0 * kVsfEps * (std::sqrt(bestSS * bestTerms) + kVsfEps * bestTerms)
                             : 0.0;
    if (!(sums[0] <= bestSS + slack)) {
      before.restore(m);
      break;
    }
    bestSS = sums[0];
    bestTerms = sums.back();
    if (pass == 2)
      break;
    before.save(m);
    if (structured)
      vsfStructuredCorrect(m, sums.data() + 1, sums.data() + 1 + m->xpxColumns);
    else
      correct(m, sums);
  }
  m->sweptXpx[0] = bestSS;
  m->sse = bestSS;
  // The residuals' sum of squares from the rows rounds as the residuals do, each eps times
  // the terms it is summed from, not as the sums y'y was formed in.
  if (far)
    m->roundingSS = std::min(m->roundingSS, kVsfEps * bestTerms);
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
