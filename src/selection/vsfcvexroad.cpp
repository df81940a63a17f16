// External cross validation over the folds' cross products. A fold fit on the pages centres
// and scales them with its training rows' moments, forms its X'X and passes over them at every
// step for its training and held-out sums of squares. Here one pass forms each fold's cross
// products about a shift among its own rows (a leading one gives the weight and the sums),
// so that a row far out that dominates the means over all rows costs the other folds none of
// their digits; a fold fit moves the other folds' to its training rows' means t and adds them
// up, in extended precision, and moves its held-out triangle there too:
//   G_ab + d_a G_b0 + d_b G_a0 + G_00 d_a d_b,  d = the fold's shift less t
// (d is 0 for the intercept's column, which the pages leave as it is), then scales both by s
// (1 for the response and the intercept, 0 for a column without a scale). Every step's sum of
// squares of a residual y - Zc is then the quadratic form G_yy - 2 c'G_Zy + c'G_ZZ c of the
// triangle, which agrees with the pass to rounding.
#include "selection/vsfcvexroad.h"

#include "data/vsfcvexsums.h"
#include "data/vsfdata.h"
#include "data/vsfthread.h"
#include "data/vsfutilfile.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfrankk.h"
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
  if (m->parmCount != m->effectCount || m->layout.denseColumnCount != m->parmCount)
    return false;
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (m->effectColumns[e] != 1 || m->layout.sparseSlot[e] >= 0 ||
        m->effectColumn[e] != 1 + m->layout.denseOffset[e])
      return false;
  return true;
}

// Triangle position of effect e's column (0 the one, 1 the response).
int32_t position(const VsfModel* m, int32_t e) { return 2 + m->layout.denseOffset[e]; }

double finiteOr0(double v) { return std::isfinite(v) && !isHostMissing(v) ? v : 0.0; }

using Wide = long double;

// Adds triangle G (order n) moved by d (about its shift less d) into `into`.
void addMoved(const double* G, int32_t n, const std::vector<Wide>& d, std::vector<Wide>& into) {
  const Wide g00 = G[0];
  for (int32_t a = 0; a < n; ++a)
    for (int32_t b = 0; b <= a; ++b)
      into[at(a, b)] += G[at(a, b)] + d[a] * G[at(b, 0)] + d[b] * G[at(a, 0)] + g00 * d[a] * d[b];
}

// `out` (order n - 1, the X'X layout) from triangle T (order n, about the training means):
// scaled by s.
void scaledTriangle(const std::vector<Wide>& T, int32_t n, const std::vector<double>& s,
                    std::vector<double>& out) {
  out.assign(static_cast<size_t>(tri(n - 1)), 0.0);
  for (int32_t a = 1; a < n; ++a)
    for (int32_t b = 1; b <= a; ++b)
      if (s[a] != 0.0 && s[b] != 0.0)
        out[at(a - 1, b - 1)] = static_cast<double>(T[at(a, b)]) * s[a] * s[b];
}

// Fold f's shift less t, per triangle position (0 for the one).
std::vector<Wide> shiftLess(const VsfCVExSums& X, int32_t f, const std::vector<Wide>& t) {
  const int32_t n = X.order;
  std::vector<Wide> d(static_cast<size_t>(n), 0.0L);
  for (int32_t a = 1; a < n; ++a)
    d[a] = static_cast<Wide>(X.shift[static_cast<size_t>(f) * n + a]) - t[a];
  return d;
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
      o->screen != VsfScreenMethod::None || m->hier.hierarchy || m->cv.foldCount < 2 ||
      m->dataSettings == nullptr || !singleDenseColumns(m))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  if (!S.xcv || S.cv || S.hasRole || S.hasResample || S.sparse != 0)
    return false;
  // Every page thread's buffer and the sums hold a triangle per fold.
  const double n = m->layout.denseColumnCount + 2.0;
  const double bytes = 8.0 * m->cv.foldCount * (n * (n + 1) / 2 + 1) *
                       (std::max(m->dataSettings->threadCount, 1) + 1);
  // The _testroadcvexsums switch at 0 keeps the fold fits on the pages, for comparing.
  return bytes <= kSumsBudgetBytes && fastRoadOn(FastRoad::CvexSums);
}

// Each fold's shift: the values of its first row in the order they were read that its sums
// take (pages held in memory), a point among its own rows; the means over all rows for a fold
// with none there. The intercept's column keeps 0.
void foldShifts(VsfModel* m, VsfCVExSums* X) {
  const int32_t n = X->order, K = m->cv.foldCount;
  std::vector<double> means(static_cast<size_t>(n), 0.0);
  means[1] = finiteOr0(m->sumWY);
  for (int32_t e = 1; e < m->effectCount; ++e)
    means[position(m, e)] = finiteOr0(m->moments.columnSums[e]);
  X->shift.assign(static_cast<size_t>(K) * n, 0.0);
  std::vector<char> found(static_cast<size_t>(K), 0);
  int32_t left = K;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t ones = position(m, 0);
  if (m->bags != nullptr)
    vsfEachPageInReadOrder(m->bags, [&](uint32_t f, int64_t j, int64_t) {
      VsfUtilFile* file = &m->bags->files[f];
      file->page.buffer = file->memPages[j];
      file->page.pageNumber = 0;
      vsfEachRow(S, &file->page, [&](const VsfRowView& r) {
        const double w = r.weight * r.freq;
        if (r.fold < 0 || r.fold >= K || found[r.fold] || isHostMissing(w) || w == 0.0 ||
            vsfAnyMissing(r.y, n - 1))
          return;
        found[r.fold] = 1;
        --left;
        for (int32_t a = 1; a < n; ++a)
          X->shift[static_cast<size_t>(r.fold) * n + a] = a == ones ? 0.0 : r.y[a - 1];
      });
      return left > 0;
    });
  for (int32_t k = 0; k < K; ++k)
    if (!found[k])
      std::copy(means.begin(), means.end(), X->shift.begin() + static_cast<int64_t>(k) * n);
}

[[nodiscard]] VsfStatus formSums(VsfModel* m, VsfCVExSums* X, bool* usable) {
  *usable = false;
  const int32_t n = m->layout.denseColumnCount + 2, K = m->cv.foldCount;
  X->order = n;
  foldShifts(m, X);
  const int64_t length = K * X->foldLength() + 1;
  X->sums.assign(static_cast<size_t>(length), 0.0);
  m->cvexPass.cvexSums = X;
  const VsfStatus rc = vsfDataPass(m, vsfCVExFoldXpX, vsfCVExFoldXpX_t, length);
  m->cvexPass.cvexSums = nullptr;
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
  m->cvexPass.cvexSums = X->usable == 1 ? X : nullptr;
  return VsfStatus::Ok;
}

void vsfCVExFoldMoments(VsfModel* m, bool* emptyFold) {
  VsfCVExSums& X = *m->cvexPass.cvexSums;
  const int32_t n = X.order, K = m->cv.foldCount, k = m->cvexPass.heldOutFold;
  const int64_t L = X.foldLength();
  // The training rows' weight, count and means (the intercept's column 0), from the other
  // folds' sums about their shifts.
  double W = 0.0, F = 0.0;
  std::vector<Wide> t(static_cast<size_t>(n), 0.0L);
  const int32_t ones = position(m, 0);
  for (int32_t f = 0; f < K; ++f)
    if (f != k) {
      const double* G = X.sums.data() + f * L;
      W += G[0];
      F += G[L - 1];
      for (int32_t a = 1; a < n; ++a)
        if (a != ones)
          t[a] += G[at(a, 0)] + static_cast<Wide>(G[0]) * X.shift[static_cast<size_t>(f) * n + a];
    }
  const double* H = X.sums.data() + k * L;
  m->totals.wTrain = W;
  m->totals.nObs = F;
  m->totals.wValidate = H[0];
  m->totals.freqValidate = H[L - 1];
  if (W == 0) {
    m->totals.wTrain += m->totals.wValidate;
    m->totals.nObs += m->totals.freqValidate;
    *emptyFold = true;
    return;
  }
  for (int32_t a = 1; a < n; ++a)
    t[a] /= W;
  // The training triangle is the other folds' moved to those means, the held-out one the
  // fold's own.
  std::vector<Wide> T(static_cast<size_t>(tri(n)), 0.0L), Hm(static_cast<size_t>(tri(n)), 0.0L);
  for (int32_t f = 0; f < K; ++f)
    if (f != k)
      addMoved(X.sums.data() + f * L, n, shiftLess(X, f, t), T);
  addMoved(H, n, shiftLess(X, k, t), Hm);
  std::vector<double> s(static_cast<size_t>(n), 1.0);
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t a = position(m, e);
    vsfColumnMomentsAbout(static_cast<double>(t[a]), static_cast<double>(T[at(a, 0)]),
                          static_cast<double>(T[diag(a)]), W, F, &m->moments.columnSums[e],
                          &m->moments.columnSumSquares[e]);
    if (m->moments.spreadState != nullptr)
      m->moments.spreadState[e] = VSS_RESOLVED;
    // The intercept's column of ones is neither centred nor scaled.
    if (e > 0) {
      const double scale = m->moments.columnSumSquares[e];
      s[a] = isHostMissing(scale) ? 0.0 : scale;
    }
  }
  m->sumWY = static_cast<double>(t[1]);
  scaledTriangle(T, n, s, X.train);
  scaledTriangle(Hm, n, s, X.heldOut);
}

void vsfCVExSquareSums(VsfModel* m) {
  const std::vector<double>& Z = m->cvexPass.cvexSums->train;
  m->sumWYY = Z[0];
  for (int32_t e = 0; e < m->effectCount; ++e)
    m->moments.columnSquareSums[e] = Z[diag(m->effectColumn[e])];
}

void vsfCVExCrossProducts(VsfModel* m) {
  const std::vector<double>& Z = m->cvexPass.cvexSums->train;
  std::copy(Z.begin(), Z.end(), m->xpx);
}

void vsfCVExResidualSums(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const VsfCVExSums& X = *m->cvexPass.cvexSums;
  const bool ls = vsfMethodLsCoefficients(o->method);
  const double scale =
      vsfMethodRidge(o->method) && m->elnetPass.enSetting == 1 && m->elnetPass.l2 > 0
          ? (m->totals.nObs - 1.0) * m->elnetPass.l2 + 1.0
          : 1.0;
  std::vector<int64_t> col;
  std::vector<double> beta, dir;
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    const int64_t c = m->effectColumn[k];
    col.push_back(c);
    beta.push_back(ls ? -m->sweptXpx[at(c, 0)] : scale * m->pathPass.pathBeta[k]);
    dir.push_back(ls ? 0.0 : scale * m->pathPass.direction[k]);
  }
  m->sse = quadratic(X.train, col, beta, true);
  m->cvexPass.heldOutError = quadratic(X.heldOut, col, beta, true);
  m->cvexPass.heldOutTestError = ls ? 0.0 : quadratic(X.heldOut, col, dir, false);
}
