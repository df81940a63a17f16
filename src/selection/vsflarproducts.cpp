// The path's equiangular direction and its inner products with every column: over the
// active block of the packed X'X, over the square copy of X'X the path keeps where it is
// small, or from the kept cross products, and else a pass over the pages; and the quadratic
// form of the active coefficients in X'X that the matrix's SSE takes.
// Declared in selection/vsflarinternal.h.
#include "data/vsfthread.h"
#include "kernels/vsflarcallbacks.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsflarinternal.h"
#include "selection/vsflarlasso.h"
#include "support/zparrows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace larpath {

namespace {

using packed::sym;

// ---- the active block of a packed matrix
//
// The active effects' columns lie scattered over the packed triangle, and the element (i, j)
// of either order sits in row max(i, j). With the active columns in increasing order, row i
// holds every element (i, j) with j active and before i: a pass over the active rows reads
// each off-diagonal element of the block once, gathered from its row into a contiguous run,
// and uses it twice, for the product's element i and for those before i, over contiguous
// memory the compiler vectorises.

// The active set's effects ordered by column into the walk's block `b` (a scan of the columns
// rather than a sort), with room for the products.
ActiveBlock& activeBlock(const VsfModel* m, ActiveBlock& b, int32_t first) {
  int64_t columns = 0;
  for (int32_t p = first; p < m->inModelCount; ++p)
    columns = std::max(columns, int64_t{m->effectColumn[m->inModelList[p]]} + 1);
  b.byColumn.assign(static_cast<size_t>(columns), -1);
  for (int32_t p = first; p < m->inModelCount; ++p)
    b.byColumn[static_cast<size_t>(m->effectColumn[m->inModelList[p]])] = m->inModelList[p];
  b.column.clear();
  b.effect.clear();
  for (int64_t c = 0; c < columns; ++c)
    if (const int32_t k = b.byColumn[static_cast<size_t>(c)]; k >= 0) {
      b.column.push_back(c);
      b.effect.push_back(k);
    }
  const size_t n = b.column.size();
  b.x.resize(n);
  b.y.resize(n);
  b.run.resize(n);
  return b;
}

// The sum of a[i] x[i] over [0, n), in eight interleaved partial sums that the compiler keeps
// in vector registers, then added pairwise. Inlined, so that each version of its caller
// vectorises it for its own instructions.
[[gnu::always_inline]] inline double runDot(const double* a, const double* x, int32_t n) {
  constexpr int32_t kLanes = 8;
  double acc[kLanes] = {};
  int32_t i = 0;
  for (; i + kLanes <= n; i += kLanes)
    for (int32_t l = 0; l < kLanes; ++l)
      acc[l] += a[i + l] * x[i + l];
  double tail = 0.0;
  for (; i < n; ++i)
    tail += a[i] * x[i];
  return (((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]))) + tail;
}

// y = S x over the active block of the packed symmetric S: `column` increasing, n of them,
// `run` scratch for n values. GCC adds an AVX2 version, chosen when the program loads; both
// versions take the same operations in the same order, so they give the same bits.
__attribute__((target_clones("avx2", "default"))) void blockProduct(const double* S,
                                                                    const int64_t* column,
                                                                    const double* x, double* y,
                                                                    double* run, int32_t n) {
  std::fill(y, y + n, 0.0);
  for (int32_t i = 0; i < n; ++i) {
    const double* row = S + packed::tri(column[i]);
    for (int32_t j = 0; j < i; ++j)
      run[j] = row[column[j]];
    const double xi = x[i];
    const double d = runDot(run, x, i);
    for (int32_t j = 0; j < i; ++j)
      y[j] += run[j] * xi;
    y[i] += d + row[column[i]] * xi;
  }
}

// The product S x of the packed S over the active block, with x[i] = value(k) for the i-th
// active effect k in column order; the product is left in s.block.y, indexed as s.block.effect.
template <class Value>
ActiveBlock& blockTimes(const VsfModel* m, LarScratch& s, int32_t first, const double* S,
                        Value value) {
  ActiveBlock& b = activeBlock(m, s.block, first);
  const size_t n = b.column.size();
  for (size_t i = 0; i < n; ++i)
    b.x[i] = value(b.effect[i]);
  blockProduct(S, b.column.data(), b.x.data(), b.y.data(), b.run.data(), static_cast<int32_t>(n));
  return b;
}

} // namespace

// The equiangular direction w = A G^-1 x over the active set, x_k = c_k / C (the active
// correlations over the common one, cmax), kept in `direction`; returns A and sets *R, the
// rate at which the L1 norm of the coefficients grows along it. Along w every active
// correlation falls in proportion to itself (vsfLarActiveRate), so that the spread rounding
// leaves among them at a catch-up stays that fraction of C as C falls: equal rates (x the
// signs) keep the spread's size, which a path whose lambda falls by orders of magnitude then
// turns into a large fraction of the correlations and of the coefficients they fix.
double equiangularDirection(VsfModel* m, LarScratch& s, int32_t first, double cmax, double* R) {
  const int32_t* in = m->inModelList;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->path.activeSign[in[p]] = m->pathPass.corr[in[p]] < 0 ? -1 : 1;
  const ActiveBlock& b = blockTimes(
      m, s, first, m->sweptXpx, [m, cmax](int32_t k) { return vsfLarActiveRate(m, k, 1.0, cmax); });
  for (size_t i = 0; i < b.effect.size(); ++i)
    m->pathPass.direction[b.effect[i]] = b.y[i];
  double sumAbs = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p)
    sumAbs += std::fabs(m->pathPass.direction[in[p]]);
  const double A = 1.0 / std::sqrt(sumAbs);
  double rate = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    const double w = A * m->pathPass.direction[k];
    m->pathPass.direction[k] = w;
    rate += m->pathPass.pathBeta[k] * w >= 0 ? std::fabs(w) : -std::fabs(w);
  }
  *R = rate < 0 ? 0 : rate;
  return A;
}

// The inner product of column j with the direction, from the full X'X.
double directionProduct(const VsfModel* m, int32_t first, int32_t j) {
  double a = 0.0;
  const int64_t cj = m->effectColumn[j];
  for (int32_t p = first; p < m->inModelCount; ++p)
    a += m->xpx[sym(cj, m->effectColumn[m->inModelList[p]])] *
         m->pathPass.direction[m->inModelList[p]];
  return a;
}

namespace {

// ---- the square X'X
//
// Through the packed triangle every column's product with the direction gathers its elements
// one by one. The path keeps the full X'X square as well (the packed road has at most some
// thousand columns: a few MB), and forms the products of all columns at once, an active
// effect's row at a time over contiguous memory, with the very terms in the very order of
// directionProduct; the step's correlations then reuse them.

// The most columns the square is kept for (64 MB).
constexpr int64_t kSquareColumns = 2896;

// The fewest products times active effects of a run of the square's products given to a
// thread of their own (as for the kept cross products' below).
constexpr int64_t kSquareRunTerms = int64_t{1} << 20;

void keepSquare(const VsfModel* m, VsfLarSquare& q) {
  q.n = m->xpxColumns;
  q.square.resize(static_cast<size_t>(q.n * q.n));
  for (int64_t i = 0; i < q.n; ++i)
    for (int64_t j = 0; j <= i; ++j)
      q.square[static_cast<size_t>(i * q.n + j)] = q.square[static_cast<size_t>(j * q.n + i)] =
          m->xpx[packed::at(i, j)];
  q.product.assign(static_cast<size_t>(q.n), 0.0);
}

} // namespace

// Keeps the square on the packed road when it is small enough (false: the triangle serves).
[[nodiscard]] bool squareOpen(const VsfModel* m, VsfLarSquare& q) {
  if (!vsfFullXpxOn(m) || m->xpxColumns > kSquareColumns)
    return false;
  try {
    keepSquare(m, q);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

namespace {

// t[c] += row[c] * w over [c0, c1) for each of `rows` rows in turn, four rows a pass so that
// t is loaded and stored once for four of them; each element takes the rows' terms in their
// order, as a pass per row would. GCC adds an AVX2 version, chosen when the program loads.
__attribute__((target_clones("avx2", "default"))) void addRows(double* __restrict t,
                                                               const double* const* row,
                                                               const double* w, size_t rows,
                                                               int64_t c0, int64_t c1) {
  size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    const double* __restrict a = row[r];
    const double* __restrict b = row[r + 1];
    const double* __restrict c = row[r + 2];
    const double* __restrict d = row[r + 3];
    const double wa = w[r], wb = w[r + 1], wc = w[r + 2], wd = w[r + 3];
    for (int64_t i = c0; i < c1; ++i)
      t[i] = (((t[i] + a[i] * wa) + b[i] * wb) + c[i] * wc) + d[i] * wd;
  }
  for (; r < rows; ++r) {
    const double* __restrict a = row[r];
    const double wa = w[r];
    for (int64_t i = c0; i < c1; ++i)
      t[i] += a[i] * wa;
  }
}

// Every column's inner product with the direction: the active effects' rows of the square in
// the order of the active effects, with the columns split over the sweep's threads (each
// column's terms in the same order whatever the split).
void squareProducts(const VsfModel* m, LarScratch& s, int32_t first, VsfLarSquare& q) {
  std::fill(q.product.begin(), q.product.end(), 0.0);
  std::vector<const double*>& rows = s.rows;
  std::vector<double>& weights = s.weights;
  rows.clear();
  weights.clear();
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    rows.push_back(q.square.data() + m->effectColumn[k] * q.n);
    weights.push_back(m->pathPass.direction[k]);
  }
  // The lists are the walk's: the workers get their addresses.
  const double* const* row = rows.data();
  const double* weight = weights.data();
  const size_t count = rows.size();
  double* out = q.product.data();
  const int64_t least = kSquareRunTerms / std::max<int64_t>(1, static_cast<int64_t>(count));
  zparrange(vsfSweepThreads(m), 0, q.n, least,
            [=](int64_t c0, int64_t c1) { addRows(out, row, weight, count, c0, c1); });
  q.formed = true;
}

// The fewest products times active effects (a millisecond's streaming or so) of a run of the
// direction products given to a thread of their own: below it a thread costs more than it
// saves.
constexpr int64_t kKeptRunTerms = int64_t{1} << 20;

// Every column's inner product with the direction from the kept cross products, into
// s.keptProducts indexed as the kept columns are (effectFirstColumn): four active effects'
// kept columns at a time over contiguous memory (addRows), each product's terms in the order
// of the active effects, with the columns split over the sweep's threads. The step's
// correlations reuse them.
void keptProducts(const VsfModel* m, LarScratch& s, int32_t first) {
  const int64_t N = m->parmCount + 1;
  std::vector<double>& t = s.keptProducts;
  t.assign(static_cast<size_t>(N), 0.0);
  std::vector<const double*>& columns = s.rows;
  std::vector<double>& weights = s.weights;
  columns.clear();
  weights.clear();
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    columns.push_back(m->cross + m->crossSlot[k] * N);
    weights.push_back(m->pathPass.direction[k]);
  }
  // The lists are the walk's: the workers get their addresses.
  const double* const* column = columns.data();
  const double* weight = weights.data();
  const size_t count = columns.size();
  double* out = t.data();
  const int64_t active = std::max<int64_t>(1, static_cast<int64_t>(count));
  zparrange(vsfSweepThreads(m), 0, N, kKeptRunTerms / active,
            [=](int64_t c0, int64_t c1) { addRows(out, column, weight, count, c0, c1); });
}

} // namespace

// The inner products of the outside columns with the direction (a data pass without the
// full X'X); the active ones are their rates (vsfLarActiveRate) by construction.
[[nodiscard]] VsfStatus outsideProducts(VsfModel* m, LarScratch& s, int32_t first, double A,
                                        double cmax, Road road) {
  const int32_t E = m->effectCount;
  const int32_t* in = m->inModelList;
  if (road == Road::Packed && m->path.larSquare != nullptr) {
    squareProducts(m, s, first, *m->path.larSquare);
    const double* t = m->path.larSquare->product.data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->pathPass.dirCorr[j] = t[m->effectColumn[j]];
    return VsfStatus::Ok;
  }
  if (road == Road::Kept) {
    keptProducts(m, s, first);
    const double* t = s.keptProducts.data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->pathPass.dirCorr[j] = t[m->effectFirstColumn[j]];
    return VsfStatus::Ok;
  }
  if (road == Road::Packed) {
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->pathPass.dirCorr[j] = directionProduct(m, first, j);
    return VsfStatus::Ok;
  }
  std::memset(m->pathPass.dirCorr, 0, sizeof(double) * E);
  VsfStatus rc = pass(m, vsfLarAvec, vsfLarAvec_t);
  if (rc != VsfStatus::Ok)
    return rc;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->pathPass.dirCorr[in[p]] = vsfLarActiveRate(m, in[p], A, cmax);
  return VsfStatus::Ok;
}

namespace {

// Whether the active coefficients are exactly those the square's form was kept for, moved
// gamma along the direction: each active effect's, and none that has left with a value.
[[nodiscard]] bool movedFromForm(const VsfModel* m, int32_t first, const VsfLarSquare& q,
                                 double gamma) {
  if (q.formTerms < 0 || q.formBeta.size() != static_cast<size_t>(m->effectCount))
    return false;
  int32_t terms = 0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    const double before = q.formBeta[static_cast<size_t>(k)];
    if (m->pathPass.pathBeta[k] != before + gamma * m->pathPass.direction[k])
      return false;
    terms += before != 0.0 ? 1 : 0;
  }
  return terms == q.formTerms;
}

// Keeps the form `form` of the present active coefficients in the square.
void keepForm(const VsfModel* m, int32_t first, VsfLarSquare& q, double form) {
  q.formBeta.assign(static_cast<size_t>(m->effectCount), 0.0);
  q.formTerms = 0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    q.formBeta[static_cast<size_t>(k)] = m->pathPass.pathBeta[k];
    q.formTerms += m->pathPass.pathBeta[k] != 0.0 ? 1 : 0;
  }
  q.form = form;
  q.formFresh = true;
}

} // namespace

// b'X'X b - lambda b'b over the active coefficients b. Where the square keeps the form of the
// coefficients b0 this step moved from, by exactly gamma along the direction w (`gamma` given
// when the step's products a = X'X w are at hand), the step's own terms give it in O(|A|):
// (b0 + g w)'X'X (b0 + g w) = b0'X'X b0 + g a'(2 b0 + g w). Otherwise it is formed from the
// matrix, and kept for the next step where it has no ridge.
double activeForm(const VsfModel* m, LarScratch& s, int32_t first, double lambda,
                  const double* gamma) {
  VsfLarSquare* q = m->path.larSquare;
  if (q != nullptr && lambda == 0.0 && gamma != nullptr && movedFromForm(m, first, *q, *gamma)) {
    const double g = *gamma;
    double terms = 0.0;
    for (int32_t p = first; p < m->inModelCount; ++p) {
      const int32_t k = m->inModelList[p];
      const double a = q->product[static_cast<size_t>(m->effectColumn[k])];
      terms += a * (2.0 * q->formBeta[static_cast<size_t>(k)] + g * m->pathPass.direction[k]);
    }
    const double form = q->form + g * terms;
    keepForm(m, first, *q, form);
    return form;
  }
  const ActiveBlock& b =
      blockTimes(m, s, first, m->xpx, [m](int32_t k) { return m->pathPass.pathBeta[k]; });
  double form = 0.0;
  for (size_t i = 0; i < b.effect.size(); ++i)
    form += b.x[i] * (b.y[i] - lambda * b.x[i]);
  if (q != nullptr && lambda == 0.0)
    keepForm(m, first, *q, form);
  return form;
}

} // namespace larpath
