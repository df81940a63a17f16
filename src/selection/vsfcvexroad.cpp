// External cross validation over the folds' cross products. A fold fit on the pages centres
// and scales them with its training rows' moments, forms its X'X and passes over them at every
// step for its training and held-out sums of squares. Here one pass forms each fold's cross
// products about a shift near the means (a leading one gives the weight and the sums); a fold
// fit adds up the other folds' for its training rows, takes their means and scales, and moves
// its training and held-out triangles to its own centre and scale:
//   (G_ab - d_a G_b0 - d_b G_a0 + G_00 d_a d_b) s_a s_b
// with d the training means less the shift (0 for the intercept's column, which the pages
// leave as it is) and s the scales (1 for the response and the intercept, 0 for a column
// without one). Every step's sum of squares of a residual y - Zc is then the quadratic form
// G_yy - 2 c'G_Zy + c'G_ZZ c of the triangle, which agrees with the pass to rounding.
#include "selection/vsfcvexroad.h"

#include "data/vsfcvexsums.h"
#include "data/vsfdata.h"
#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"
#include "support/testthread.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

// The buffers of the pass (one per page thread and the sums) are kept within this size.
constexpr double kSumsBudgetBytes = 512.0 * 1024 * 1024;

// Every effect one dense column, the X'X (of parmCount + 1 columns) its response and those
// columns in order.
bool singleDenseColumns(const VsfModel* m) {
  if (m->parmCount != m->effectCount || m->denseColumnCount != m->parmCount)
    return false;
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (m->effectColumns[e] != 1 || m->sparseSlot[e] >= 0 ||
        m->effectColumn[e] != 1 + m->denseOffset[e])
      return false;
  return true;
}

// Triangle position of effect e's column (0 the one, 1 the response).
int32_t position(const VsfModel* m, int32_t e) { return 2 + m->denseOffset[e]; }

double finiteOr0(double v) { return std::isfinite(v) && !isHostMissing(v) ? v : 0.0; }

// `out` (order n - 1, the X'X layout) from triangle G (order n): centred by d, scaled by s.
void moveTriangle(const double* G, int32_t n, const std::vector<double>& d,
                  const std::vector<double>& s, std::vector<double>& out) {
  out.assign(static_cast<size_t>(tri(n - 1)), 0.0);
  const double g00 = G[0];
  for (int32_t a = 1; a < n; ++a) {
    const double ga0 = G[at(a, 0)];
    for (int32_t b = 1; b <= a; ++b) {
      if (s[a] == 0.0 || s[b] == 0.0)
        continue;
      const double c = G[at(a, b)] - d[a] * G[at(b, 0)] - d[b] * ga0 + g00 * d[a] * d[b];
      out[at(a - 1, b - 1)] = c * s[a] * s[b];
    }
  }
}

// G_yy - 2 c'G_Zy + c'G_ZZ c over the columns `col` (withY false leaves out the response).
double quadratic(const std::vector<double>& G, const std::vector<int64_t>& col,
                 const std::vector<double>& c, bool withY) {
  double q = 0.0;
  for (size_t i = 0; i < col.size(); ++i) {
    double row = 0.0;
    for (size_t j = 0; j < col.size(); ++j)
      row += G[sym(col[i], col[j])] * c[j];
    q += c[i] * (row - (withY ? 2.0 * G[sym(col[i], 0)] : 0.0));
  }
  const double total = (withY ? G[0] : 0.0) + q;
  return total < 0 ? 0.0 : total;
}

bool roadOpen(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (!o->cvExternal || o->cvOn || !vsfFullXpxOn(m) || !o->colStandardize || o->parmStandardize ||
      o->noint || o->adaptive || !vsfMethodIs(o->method, VsfMethodFamily::LeastAngle) ||
      o->validateInUse || o->testInUse || m->resampler != nullptr ||
      o->screen != VsfScreenMethod::None || m->hierarchy || m->foldCount < 2 ||
      m->dataSettings == nullptr || !singleDenseColumns(m))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  if (!S.xcv || S.cv || S.hasRole || S.hasResample || S.sparse != 0)
    return false;
  // Every page thread's buffer and the sums hold a triangle per fold.
  const double n = m->denseColumnCount + 2.0;
  const double bytes =
      8.0 * m->foldCount * (n * (n + 1) / 2 + 1) * (std::max(m->dataSettings->threadCount, 1) + 1);
  // The _testroadcvexsums switch at 0 keeps the fold fits on the pages, for comparing.
  return bytes <= kSumsBudgetBytes && fastRoadOn(FastRoad::CvexSums);
}

[[nodiscard]] VsfStatus formSums(VsfModel* m, VsfCVExSums* X, bool* usable) {
  *usable = false;
  const int32_t n = m->denseColumnCount + 2, K = m->foldCount;
  X->order = n;
  X->shift.assign(static_cast<size_t>(n), 0.0);
  X->shift[1] = finiteOr0(m->sumWY);
  for (int32_t e = 1; e < m->effectCount; ++e)
    X->shift[position(m, e)] = finiteOr0(m->columnSums[e]);
  const int64_t length = K * X->foldLength() + 1;
  X->sums.assign(static_cast<size_t>(length), 0.0);
  m->cvexSums = X;
  const VsfStatus rc = vsfDataPass(m, vsfCVExFoldXpX, vsfCVExFoldXpX_t, length);
  m->cvexSums = nullptr;
  if (rc != VsfStatus::Ok)
    return rc;
  *usable = X->sums.back() == 0.0 &&
            std::all_of(X->sums.begin(), X->sums.end(), [](double v) { return std::isfinite(v); });
  if (!*usable)
    X->sums = std::vector<double>();
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfCVExTakeRoad(VsfModel* m, VsfCVExSums* X) {
  if (X->usable < 0) {
    bool usable = false;
    const VsfStatus rc = roadOpen(m) ? formSums(m, X, &usable) : VsfStatus::Ok;
    if (rc != VsfStatus::Ok)
      return rc;
    X->usable = usable ? 1 : 0;
  }
  m->cvexSums = X->usable == 1 ? X : nullptr;
  return VsfStatus::Ok;
}

void vsfCVExFoldMoments(VsfModel* m, bool* emptyFold) {
  VsfCVExSums& X = *m->cvexSums;
  const int32_t n = X.order, K = m->foldCount, k = m->heldOutFold;
  const int64_t L = X.foldLength();
  std::vector<double> T(static_cast<size_t>(L), 0.0);
  for (int32_t f = 0; f < K; ++f)
    if (f != k)
      for (int64_t i = 0; i < L; ++i)
        T[i] += X.sums[f * L + i];
  const double* H = X.sums.data() + k * L;
  const double W = T[0], F = T[L - 1];
  m->wTrain = W;
  m->nObs = F;
  m->wValidate = H[0];
  m->freqValidate = H[L - 1];
  if (W == 0) {
    m->wTrain += m->wValidate;
    m->nObs += m->freqValidate;
    *emptyFold = true;
    return;
  }
  std::vector<double> d(static_cast<size_t>(n), 0.0), s(static_cast<size_t>(n), 1.0);
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t a = position(m, e);
    vsfColumnMomentsAbout(X.shift[a], T[at(a, 0)], T[diag(a)], W, F, &m->columnSums[e],
                          &m->columnSumSquares[e]);
    if (m->spreadState != nullptr)
      m->spreadState[e] = VSS_RESOLVED;
    // The intercept's column of ones is neither centred nor scaled.
    if (e > 0) {
      d[a] = T[at(a, 0)] / W;
      const double scale = m->columnSumSquares[e];
      s[a] = isHostMissing(scale) ? 0.0 : scale;
    }
  }
  d[1] = T[at(1, 0)] / W;
  m->sumWY = X.shift[1] + d[1];
  moveTriangle(T.data(), n, d, s, X.train);
  moveTriangle(H, n, d, s, X.heldOut);
}

void vsfCVExSquareSums(VsfModel* m) {
  const std::vector<double>& Z = m->cvexSums->train;
  m->sumWYY = Z[0];
  for (int32_t e = 0; e < m->effectCount; ++e)
    m->columnSquareSums[e] = Z[diag(m->effectColumn[e])];
}

void vsfCVExCrossProducts(VsfModel* m) {
  const std::vector<double>& Z = m->cvexSums->train;
  std::copy(Z.begin(), Z.end(), m->xpx);
}

void vsfCVExResidualSums(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const VsfCVExSums& X = *m->cvexSums;
  const bool ls = vsfMethodLsCoefficients(o->method);
  const double scale = vsfMethodRidge(o->method) && m->enSetting == 1 && m->l2 > 0
                           ? (m->nObs - 1.0) * m->l2 + 1.0
                           : 1.0;
  std::vector<int64_t> col;
  std::vector<double> beta, dir;
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    const int64_t c = m->effectColumn[k];
    col.push_back(c);
    beta.push_back(ls ? -m->sweptXpx[at(c, 0)] : scale * m->pathBeta[k]);
    dir.push_back(ls ? 0.0 : scale * m->direction[k]);
  }
  m->sse = quadratic(X.train, col, beta, true);
  m->heldOutError = quadratic(X.heldOut, col, beta, true);
  m->heldOutTestError = ls ? 0.0 : quadratic(X.heldOut, col, dir, false);
}
