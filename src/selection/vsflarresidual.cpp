// The path's new residual after a step: its correlations, its SSE (from the packed X'X, the
// kept cross products, the look-ahead's pass or a pass over the pages), the held-out sums,
// and the fall of the SSE that the step's own terms give. Declared in selection/vsflarinternal.h.
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsffoldpress.h"
#include "model/vsfmodel.h"
#include "numerics/packedtri.h"
#include "selection/vsfcvexroad.h"
#include "selection/vsflarinternal.h"
#include "support/hoststubs.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <cmath>
#include <cstring>

namespace larpath {

namespace {

using packed::sym;

// The SSE of the reported coefficients s b from the full X'X without its ridge,
// y'y - 2 s b'X'y + s^2 b'X'X b, with a bound on the size of its terms,
// (sqrt y'y + s sum |b_k| sqrt x_k'x_k)^2 by Cauchy-Schwarz: the rounding of the sum is a
// small multiple of the unit round-off times the bound.
struct MatrixSse {
  double sse = 0.0, bound = 0.0;
};

MatrixSse matrixSseTerms(const VsfModel* m, LarScratch& scratch, int32_t first,
                         const double* gamma) {
  const VsfModelOptions* o = m->options;
  const bool ridge = vsfMethodRidge(o->method) && m->elnetPass.l2 > 0;
  const double lambda = ridge ? (m->totals.nObs - 1) * m->elnetPass.l2 : 0.0;
  const double s = vsfMethodRidge(o->method) && m->elnetPass.enSetting == 1 && m->elnetPass.l2 > 0
                       ? 1.0 + lambda
                       : 1.0;
  double xy = 0.0, root = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    const int64_t ck = m->effectColumn[k];
    const double bk = m->pathPass.pathBeta[k];
    xy += bk * m->xpx[sym(ck, 0)];
    root += std::fabs(bk) * std::sqrt(std::fabs(m->xpx[sym(ck, ck)]));
  }
  const double quad = activeForm(m, scratch, first, lambda, gamma);
  MatrixSse t;
  t.sse = m->xpx[0] - 2.0 * s * xy + s * s * quad;
  root = std::sqrt(std::fabs(m->xpx[0])) + s * root;
  t.bound = root * root;
  return t;
}

// The plain path's SSE from the matrix when it keeps its digits (false: take the rows);
// `gamma` as activeForm takes it.
[[nodiscard]] bool sseFromMatrix(VsfModel* m, LarScratch& scratch, int32_t first,
                                 const double* gamma) {
  const MatrixSse t = matrixSseTerms(m, scratch, first, gamma);
  if (!vsfFormKeepsDigits(t.sse, t.bound))
    return false;
  m->sse = t.sse;
  return true;
}

} // namespace

// Whether a step's fall of the SSE comes from its move: where the path's correlations are
// the gradient of the SSE it reports (no ridge, no least-squares coefficients, and the
// correlations and the SSE over the same rows).
[[nodiscard]] bool fallFromMove(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return !vsfMethodLsCoefficients(o->method) &&
         !(vsfMethodRidge(o->method) && m->elnetPass.l2 > 0) && !rolesPresent(m) && !o->cvExternal;
}

namespace {

// Active effect k's inner product with the direction: from the step's products where the
// road formed them, else +-A, which the equiangular direction gives it.
[[nodiscard]] double activeProduct(const VsfModel* m, const LarScratch& scratch, int32_t first,
                                   int32_t k, Road road) {
  if (road == Road::Kept)
    return scratch.keptProducts[static_cast<size_t>(m->effectFirstColumn[k])];
  if (road == Road::Pages)
    return m->pathPass.dirCorr[k];
  const VsfLarSquare* q = m->path.larSquare;
  return q != nullptr && q->formed ? q->product[static_cast<size_t>(m->effectColumn[k])]
                                   : directionProduct(m, first, k);
}

} // namespace

// The fall of the SSE as the active coefficients b move gamma along the direction w: with
// the residual's correlations c and the direction's products a = X'X w, SSE(b) -
// SSE(b + gamma w) = gamma w'(2c - gamma a). The difference of the two SSEs carries their
// rounding, some 1e-13 of them, which the F of a step that is small against them magnifies;
// this keeps the digits of the step's own terms.
[[nodiscard]] double moveFall(const VsfModel* m, const LarScratch& scratch, int32_t first,
                              double gamma, Road road) {
  double sum = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    sum += m->pathPass.direction[k] *
           (2.0 * m->pathPass.corr[k] - gamma * activeProduct(m, scratch, first, k, road));
  }
  return gamma * sum;
}

namespace {

// The correlations of the new residual on the packed road, from the step's products with the
// direction where the square formed them.
void packedCorrelations(VsfModel* m, int32_t first, double gamma) {
  VsfLarSquare* q = m->path.larSquare;
  const int32_t E = m->effectCount;
  for (int32_t j = first; j < E; ++j)
    if (m->effectStatus[j] != VES_INTERCEPT)
      m->pathPass.corr[j] -= gamma * (q != nullptr && q->formed ? q->product[m->effectColumn[j]]
                                                                : directionProduct(m, first, j));
  if (q != nullptr)
    q->formed = false;
}

} // namespace

// The correlations and sums of squares of the new residual: from a data pass, or from the
// full X'X or the kept cross products (the least-squares coefficients' SSE is the swept
// corner). With the full X'X over the SSE's rows, or the active block of X'X that the kept
// road holds, the path's SSE is a quadratic form in it; where that would lose digits the
// kept road passes over the active columns, and the packed road takes the look-ahead's pass,
// which forms the SSE for several steps. A step of the look-ahead (walk.mode) wants only the
// correlations on the packed road.
[[nodiscard]] VsfStatus updateResidual(VsfModel* m, const LarWalk& walk, int32_t first,
                                       double gamma, double A, Road road, int32_t pendingDrop) {
  const VsfModelOptions* o = m->options;
  LarScratch& scratch = *walk.scratch;
  const int32_t E = m->effectCount;
  const int32_t* in = m->inModelList;
  VsfStatus rc;
  m->sse = m->validateAse = m->testAse = m->cvexPass.heldOutError = m->cvexPass.heldOutTestError =
      0.0;
  if (road == Road::Kept && m->layout.splitSparse) {
    // Over split levels stored sparse the pass that sums the SSE forms every correlation for
    // little more: a row holds few values. Taking them from the new residual, as the dense
    // rows' passes do, keeps them from drifting by the rounding of each step's update, which
    // the length of a later short step (a difference of two near correlations) magnifies.
    std::memset(m->pathPass.corr, 0, sizeof(double) * m->parmCount);
    if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
      return rc;
    if (vsfMethodLsCoefficients(o->method))
      m->sse = m->sweptXpx[0];
  } else if (road == Road::Kept) {
    // Every effect's direction product was formed with the candidates'.
    const double* t = scratch.keptProducts.data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] != VES_INTERCEPT)
        m->pathPass.corr[j] -= gamma * t[m->effectFirstColumn[j]];
    if (vsfMethodLsCoefficients(o->method))
      m->sse = m->sweptXpx[0];
    else if (!(m->path.larMatrixSse != 0 && sseFromMatrix(m, scratch, first, nullptr)) &&
             (rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
      return rc;
  } else if (road == Road::Pages) {
    if (o->screen == VsfScreenMethod::None) {
      std::memset(m->pathPass.corr, 0, sizeof(double) * m->parmCount);
      if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
        return rc;
      if (m->elnetPass.l2 > 0)
        for (int32_t p = first; p < m->inModelCount; ++p)
          m->pathPass.corr[in[p]] -=
              (m->totals.nObs - 1) * m->elnetPass.l2 * m->pathPass.pathBeta[in[p]];
    } else {
      if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
        return rc;
      for (int32_t j = first; j < E; ++j)
        m->pathPass.corr[j] -= gamma * m->pathPass.dirCorr[j];
    }
  } else {
    VsfLarSquare* q = m->path.larSquare;
    const bool formed = q != nullptr && q->formed;
    if (q != nullptr)
      q->formFresh = false;
    packedCorrelations(m, first, gamma);
    if (vsfMethodLsCoefficients(o->method) && !rolesPresent(m) && !o->cvExternal) {
      m->sse = m->sweptXpx[0];
    } else if (m->elnet.l2BaseXpx != nullptr && !rolesPresent(m) && !o->cvExternal) {
      // An L2 search's trial takes the SSE from the matrix, or from the rows where the
      // matrix would lose its digits (a response far from zero without an intercept).
      if (!sseFromMatrix(m, scratch, first, nullptr) &&
          (rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
        return rc;
    } else if (m->cvexPass.cvexSums != nullptr) {
      vsfCVExResidualSums(m);
    } else if (walk.mode == LarMode::Ahead) {
      // Looking ahead: only the coefficients are wanted.
    } else if (m->path.larMatrixSse != 0 &&
               sseFromMatrix(m, scratch, first, formed ? &gamma : nullptr)) {
      // The SSE came from the matrix.
    } else if (m->pathPass.larAhead != nullptr) {
      if ((rc = residualAhead(m, scratch, pendingDrop)) != VsfStatus::Ok)
        return rc;
    } else if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok) {
      return rc;
    }
    // The square's form holds only while every move forms it: an SSE from elsewhere lets it go.
    if (q != nullptr && !q->formFresh)
      q->formTerms = -1;
  }
  m->cvexPass.heldOutTestError /= A;
  m->cvexPass.heldOutTestError /= A;
  if (rolesPresent(m)) {
    m->validateAse =
        m->totals.wValidate == 0 ? hostMissing() : m->validateAse / m->totals.wValidate;
    m->testAse = m->totals.wTest == 0 ? hostMissing() : m->testAse / m->totals.wTest;
  }
  return VsfStatus::Ok;
}

// The packed X'X sums the rows the path's SSE sums when the rows carry no roles and no fold is
// held out of the fit (cross validation's folds together are every TRAIN row); then a step's
// SSE comes from the matrix, unless it would lose digits to cancellation. The kept cross
// products' road (no roles or folds) holds the active effects' block of X'X likewise.
[[nodiscard]] bool matrixSseOpen(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const bool xcvFinal = o->cvExternal && m->cvexPass.heldOutFold == m->cv.foldCount;
  if (!vsfFullXpxOn(m) || vsfMethodLsCoefficients(o->method) || rolesPresent(m) ||
      (o->cvExternal && !xcvFinal))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  return !S.hasRole && (!S.xcv || xcvFinal);
}

} // namespace larpath
