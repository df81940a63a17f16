// The least-angle path. With the packed cross-product matrix the correlations, direction
// products and the SSE come from the matrix; without it they come from the kept cross
// products of the entered effects (many candidates), or the path kernels pass over the
// pages. Screening (vsfscreen.cpp) decides which candidates a step looks at.
#include "selection/vsflarlasso.h"

#include "data/vsfthread.h"
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsffoldpress.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsfcvexroad.h"
#include "selection/vsfscreen.h"
#include "selection/vsfstoprules.h"
#include "support/hoststubs.h"
#include "support/seams.h"
#include "support/testthread.h"
#include "support/threadscratch.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"
#include "support/zparrows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

using packed::at;
using packed::sym;

constexpr double kBig = 1.7976931348623157e308;
constexpr double kTiny = 1.110223024625157e-16;

[[nodiscard]] VsfStatus pass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded) {
  return vsfDataPass(m, serial, threaded, 0);
}

// The largest adaptive weight: the weighted columns have that norm at most, so the path's
// correlations are the response's units times it. 1 outside adaptive fits.
[[nodiscard]] double largestAdaptiveWeight(const VsfModel* m) {
  if (!m->options->adaptive || m->adaptiveWeight == nullptr)
    return 1.0;
  double largest = 0.0;
  for (int32_t p = 0; p < m->parmCount; ++p)
    if (const double w = m->adaptiveWeight[p]; !isHostMissing(w))
      largest = std::max(largest, std::fabs(w));
  return largest > 0.0 ? largest : 1.0;
}

// A tolerance of the path's correlations and step lengths, which are in the units of the
// response times the columns' norm (1, or the adaptive weight): t for a scale, the response's
// norm about its mean times that column norm, of 1 or more, t times the scale below it, so
// that a response measured in small units, or weighted by the small coefficients such a
// response has, still has its ties, catch-ups and end told from rounding, not all of them
// taken for 0.
[[nodiscard]] double pathTolerance(const VsfModel* m, double t) {
  if (m->totalSS <= 0.0)
    return t;
  const double scale = std::sqrt(m->totalSS) * largestAdaptiveWeight(m);
  return scale < 1.0 ? t * scale : t;
}

[[nodiscard]] bool rolesPresent(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return o->validateInUse || o->testInUse;
}

} // namespace

namespace {

// The step length at which the first eligible outside effect catches up with the active
// ones, and that effect (kBig and -1 when none does).
double firstCatchUp(const VsfModel* m, double cmax, double A, int32_t* catcher) {
  double best = kBig;
  *catcher = -1;
  const double tiny = pathTolerance(m, kTiny);
  for (int32_t j = m->includeCount; j < m->effectCount; ++j) {
    if (!vsfScreenEligible(m, j))
      continue;
    const double c = m->corr[j], a = m->dirCorr[j];
    double g1 = (A - a) == 0.0 ? kBig : (cmax - c) / (A - a);
    double g2 = (A + a) == 0.0 ? kBig : (cmax + c) / (A + a);
    if (g1 < tiny)
      g1 = kBig;
    if (g2 < tiny)
      g2 = kBig;
    const double g = g1 < g2 ? g1 : g2;
    if (g < best) {
      best = g;
      *catcher = j;
    }
  }
  return best;
}

} // namespace

double vsfLarActiveRate(const VsfModel* m, int32_t k, double A, double cmax) {
  const double c = m->corr[k];
  return cmax > 0.0 && c != 0.0 ? A * c / cmax : c < 0 ? -A : A;
}

double vsfLarCatchUp(const VsfModel* m, double cmax, double A) {
  int32_t catcher;
  const double best = firstCatchUp(m, cmax, A, &catcher);
  return best == kBig ? cmax / A : best;
}

namespace {

// The most correlated outside effect (near-ties go to the lower index) and its absolute
// correlation; effects tied with it would make the direction undefined, so they leave the
// path. -1 when no effect is outside.
[[nodiscard]] int32_t mostCorrelated(VsfModel* m, int32_t first, double* cmaxOut) {
  const int32_t E = m->effectCount;
  double cmax = 0.0;
  int32_t candidate = -1;
  const double fuzz = pathTolerance(m, m->fuzz), tie = pathTolerance(m, 1e-8);
  for (int32_t j = first; j < E; ++j) {
    if (!vsfScreenEligible(m, j))
      continue;
    const double c = std::fabs(m->corr[j]);
    if (c > cmax + fuzz) {
      candidate = j;
      cmax = c;
    }
  }
  for (int32_t j = first; j < E; ++j)
    if (j != candidate && vsfScreenEligible(m, j) &&
        std::fabs(std::fabs(m->corr[j]) - cmax) < tie) {
      m->effectStatus[j] = VES_UNAVAILABLE;
      vsfScreenTied(m, j);
    }
  *cmaxOut = cmax;
  return candidate;
}

// ---- the active block of a packed matrix
//
// The active effects' columns lie scattered over the packed triangle, and the element (i, j)
// of either order sits in row max(i, j). With the active columns in increasing order, row i
// holds every element (i, j) with j active and before i: a pass over the active rows reads
// each off-diagonal element of the block once, gathered from its row into a contiguous run,
// and uses it twice, for the product's element i and for those before i, over contiguous
// memory the compiler vectorises.

// The active effects in the order of their columns, with per-column scratch of the products.
struct ActiveBlock {
  std::vector<int64_t> column;   // the active columns, increasing
  std::vector<int32_t> effect;   // the effect of each
  std::vector<double> x, y, run; // the vector, the product, a gathered run of a row
  std::vector<int32_t> byColumn; // per column: its active effect, -1 for none
};
thread_local ThreadScratch<ActiveBlock> tBlock;

// The active set's effects ordered by column into tBlock (a scan of the columns rather than
// a sort), with room for the products.
ActiveBlock& activeBlock(const VsfModel* m, int32_t first) {
  ActiveBlock& b = tBlock.get();
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
// active effect k in column order; the product is left in tBlock.y, indexed as tBlock.effect.
template <class Value>
ActiveBlock& blockTimes(const VsfModel* m, int32_t first, const double* S, Value value) {
  ActiveBlock& b = activeBlock(m, first);
  const size_t n = b.column.size();
  for (size_t i = 0; i < n; ++i)
    b.x[i] = value(b.effect[i]);
  blockProduct(S, b.column.data(), b.x.data(), b.y.data(), b.run.data(), static_cast<int32_t>(n));
  return b;
}

// The equiangular direction w = A G^-1 x over the active set, x_k = c_k / C (the active
// correlations over the common one, cmax), kept in `direction`; returns A and sets *R, the
// rate at which the L1 norm of the coefficients grows along it. Along w every active
// correlation falls in proportion to itself (vsfLarActiveRate), so that the spread rounding
// leaves among them at a catch-up stays that fraction of C as C falls: equal rates (x the
// signs) keep the spread's size, which a path whose lambda falls by orders of magnitude then
// turns into a large fraction of the correlations and of the coefficients they fix.
double equiangularDirection(VsfModel* m, int32_t first, double cmax, double* R) {
  const int32_t* in = m->inModelList;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->activeSign[in[p]] = m->corr[in[p]] < 0 ? -1 : 1;
  const ActiveBlock& b = blockTimes(
      m, first, m->sweptXpx, [m, cmax](int32_t k) { return vsfLarActiveRate(m, k, 1.0, cmax); });
  for (size_t i = 0; i < b.effect.size(); ++i)
    m->direction[b.effect[i]] = b.y[i];
  double sumAbs = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p)
    sumAbs += std::fabs(m->direction[in[p]]);
  const double A = 1.0 / std::sqrt(sumAbs);
  double rate = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    const double w = A * m->direction[k];
    m->direction[k] = w;
    rate += m->pathBeta[k] * w >= 0 ? std::fabs(w) : -std::fabs(w);
  }
  *R = rate < 0 ? 0 : rate;
  return A;
}

// The inner product of column j with the direction, from the full X'X.
double directionProduct(const VsfModel* m, int32_t first, int32_t j) {
  double a = 0.0;
  const int64_t cj = m->effectColumn[j];
  for (int32_t p = first; p < m->inModelCount; ++p)
    a += m->xpx[sym(cj, m->effectColumn[m->inModelList[p]])] * m->direction[m->inModelList[p]];
  return a;
}

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

} // namespace

struct VsfLarSquare {
  int64_t n = 0;
  std::vector<double> square;  // n x n
  std::vector<double> product; // per X'X column: its inner product with the direction
  bool formed = false;         // product holds this step's products
  // The form b'X'X b of the active coefficients b it was formed for, those coefficients per
  // effect (0 outside that active set) and how many of them are not 0 (-1: no form kept).
  std::vector<double> formBeta;
  double form = 0.0;
  int32_t formTerms = -1;
  bool formFresh = false; // the form was formed or updated by this move
};

namespace {

void keepSquare(const VsfModel* m, VsfLarSquare& q) {
  q.n = m->xpxColumns;
  q.square.resize(static_cast<size_t>(q.n * q.n));
  for (int64_t i = 0; i < q.n; ++i)
    for (int64_t j = 0; j <= i; ++j)
      q.square[static_cast<size_t>(i * q.n + j)] = q.square[static_cast<size_t>(j * q.n + i)] =
          m->xpx[packed::at(i, j)];
  q.product.assign(static_cast<size_t>(q.n), 0.0);
}

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
void squareProducts(const VsfModel* m, int32_t first, VsfLarSquare& q) {
  std::fill(q.product.begin(), q.product.end(), 0.0);
  thread_local ThreadScratch<std::vector<const double*>> rowsScratch;
  std::vector<const double*>& rows = rowsScratch.get();
  thread_local ThreadScratch<std::vector<double>> weightsScratch;
  std::vector<double>& weights = weightsScratch.get();
  rows.clear();
  weights.clear();
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    rows.push_back(q.square.data() + m->effectColumn[k] * q.n);
    weights.push_back(m->direction[k]);
  }
  // The lists are this thread's: the workers get their addresses.
  const double* const* row = rows.data();
  const double* weight = weights.data();
  const size_t count = rows.size();
  double* out = q.product.data();
  const int64_t least = kSquareRunTerms / std::max<int64_t>(1, static_cast<int64_t>(count));
  zparrange(vsfSweepThreads(m), 0, q.n, least,
            [=](int64_t c0, int64_t c1) { addRows(out, row, weight, count, c0, c1); });
  q.formed = true;
}

// ---- the kept cross products
//
// Without the packed X'X each step would pass over every column twice: for the direction
// products and for the correlations of the new residual. When the candidates are many, one
// pass at an effect's entry forms its cross products with every column (a column of X'X),
// and those of the effects likely to enter next, and keeps them; the entering effect's new
// rows of X'X come from its kept column, the direction products from the kept columns as they
// come from the packed matrix, the correlations follow the step, and the step's only other
// pass sums the residual over the active columns. The kept columns are bounded in bytes;
// past the bound an entering effect keeps none, and a step whose active set lacks one takes
// the passes.

// The fewest products times active effects (a millisecond's streaming or so) of a run of the
// direction products given to a thread of their own: below it a thread costs more than it
// saves.
constexpr int64_t kKeptRunTerms = int64_t{1} << 20;

// The default bound of the kept columns.
constexpr int64_t kCrossBytes = int64_t{512} << 20;

// The fewest parameters for which the path keeps cross products by default: below them a
// pass over every column is cheap, and the passes per step keep their results.
constexpr int32_t kCrossParameters = 1000;

// The bytes the kept columns may take in this fit (0: every step takes the passes). They
// serve the plain paths over single dense columns whose rows carry no roles, folds or
// resampling weights; seam::larCrossLimit sets the bound whatever the size.
int64_t crossBudget(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (vsfFullXpxOn(m) || m->crossSlot == nullptr ||
      !vsfMethodIs(o->method, VsfMethodFamily::LeastAngle) || vsfMethodRidge(o->method) ||
      (o->adaptive && !m->splitSparse) || o->cvExternal || rolesPresent(m) ||
      o->screen != VsfScreenMethod::None || vsfSafeScreening(m) || m->hierarchy || m->l2 > 0 ||
      m->l2BaseXpx != nullptr || m->foldCount > 0)
    return 0;
  const VsfRowShape S = vsfRowShape(m);
  if (S.hasRole || S.hasFold || S.xcv || S.cv || S.hasResample ||
      (S.sparse != 0 && !m->splitSparse))
    return 0;
  const int64_t limit = seam::larCrossLimit();
  if (limit >= 0)
    return limit;
  return m->parmCount >= kCrossParameters ? kCrossBytes : 0;
}

} // namespace

int64_t vsfLarKeptColumns(int64_t parameters) {
  return parameters >= kCrossParameters
             ? kCrossBytes / ((parameters + 1) * static_cast<int64_t>(sizeof(double)))
             : 0;
}

namespace {

// Whether the bound holds `more` kept columns beyond the present ones, and the store as
// vsfAddCross grows it.
[[nodiscard]] bool crossRoom(const VsfModel* m, int64_t more) {
  const int64_t N = m->parmCount + 1, column = N * static_cast<int64_t>(sizeof(double));
  const int64_t need = m->crossColumnCount + more;
  const int64_t cap = m->crossCapacity;
  return need * column <= m->larCrossBytes &&
         !(cap <= need && std::min(std::max(2 * cap, cap + need), N) * column > m->larCrossBytes);
}

// The most effects whose cross products one pass forms: the rows are read once for all of
// them, so the columns of the effects likely to enter soon come almost for free. Over many
// candidates a pass is bound by reading the rows, so 32 columns cost little more than 8 and
// take a quarter of the passes; past that the page groups' buffers of the pass (24 times
// the columns) cost more than the passes saved.
constexpr size_t kCrossBatch = 32;

// Adds to `batch` the candidates most likely to enter next, those of the largest absolute
// correlation, single dense columns without kept cross products; while the kept columns
// stay within half the bound, so that effects that never enter leave room to those that do.
void likelyEntrants(const VsfModel* m, std::vector<int32_t>& batch) {
  std::vector<int32_t> pool;
  for (int32_t j = m->includeCount; j < m->effectCount; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE && m->crossSlot[j] == -1 && j != batch[0] &&
        m->effectColumns[j] == 1 && m->sparseSlot[j] < 0)
      pool.push_back(j);
  const size_t want = std::min(kCrossBatch - batch.size(), pool.size());
  const auto larger = [m](int32_t a, int32_t b) {
    const double ca = std::fabs(m->corr[a]), cb = std::fabs(m->corr[b]);
    return ca > cb || (ca == cb && a < b);
  };
  std::partial_sort(pool.begin(), pool.begin() + static_cast<ptrdiff_t>(want), pool.end(), larger);
  const int64_t N = m->parmCount + 1, column = N * static_cast<int64_t>(sizeof(double));
  for (size_t i = 0; i < want; ++i) {
    const int64_t kept = m->crossColumnCount + static_cast<int64_t>(batch.size()) + 1;
    if (2 * kept * column > m->larCrossBytes ||
        !crossRoom(m, static_cast<int64_t>(batch.size()) + 1))
      break;
    batch.push_back(pool[i]);
  }
}

// Keeps the entering effect's cross products, with those of the likely next entrants, when
// the bound holds them; before the effect enters, whose new rows of X'X then come from them.
[[nodiscard]] VsfStatus keepCross(VsfModel* m, int32_t k) {
  if (m->larCrossBytes <= 0 || m->crossSlot[k] != -1 || m->effectColumns[k] != 1 ||
      !crossRoom(m, 1))
    return VsfStatus::Ok;
  std::vector<int32_t> batch{k};
  likelyEntrants(m, batch);
  return vsfAddCrossBatch(m, batch.data(), static_cast<int32_t>(batch.size()));
}

// Whether every active effect has its cross products kept.
bool crossKept(const VsfModel* m, int32_t first) {
  if (m->larCrossBytes <= 0)
    return false;
  for (int32_t p = first; p < m->inModelCount; ++p)
    if (m->crossSlot[m->inModelList[p]] == -1)
      return false;
  return true;
}

// Every column's inner product with the direction from the kept cross products, indexed as
// the kept columns are (effectFirstColumn): four active effects' kept columns at a time over
// contiguous memory (addRows), each product's terms in the order of the active effects, with
// the columns split over the sweep's threads. The step's correlations reuse them.
thread_local ThreadScratch<std::vector<double>> tKeptProducts;

void keptProducts(const VsfModel* m, int32_t first) {
  const int64_t N = m->parmCount + 1;
  std::vector<double>& t = tKeptProducts.get();
  t.assign(static_cast<size_t>(N), 0.0);
  thread_local ThreadScratch<std::vector<const double*>> columnsScratch;
  std::vector<const double*>& columns = columnsScratch.get();
  thread_local ThreadScratch<std::vector<double>> weightsScratch;
  std::vector<double>& weights = weightsScratch.get();
  columns.clear();
  weights.clear();
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    columns.push_back(m->cross + m->crossSlot[k] * N);
    weights.push_back(m->direction[k]);
  }
  // The lists are this thread's: the workers get their addresses.
  const double* const* column = columns.data();
  const double* weight = weights.data();
  const size_t count = columns.size();
  double* out = t.data();
  const int64_t active = std::max<int64_t>(1, static_cast<int64_t>(count));
  zparrange(vsfSweepThreads(m), 0, N, kKeptRunTerms / active,
            [=](int64_t c0, int64_t c1) { addRows(out, column, weight, count, c0, c1); });
}

// Where a step takes its inner products from: the packed X'X, the kept cross products, or
// passes over the pages.
enum class Road { Packed, Kept, Pages };

// The inner products of the outside columns with the direction (a data pass without the
// full X'X); the active ones are their rates (vsfLarActiveRate) by construction.
[[nodiscard]] VsfStatus outsideProducts(VsfModel* m, int32_t first, double A, double cmax,
                                        Road road) {
  const int32_t E = m->effectCount;
  const int32_t* in = m->inModelList;
  if (road == Road::Packed && m->larSquare != nullptr) {
    squareProducts(m, first, *m->larSquare);
    const double* t = m->larSquare->product.data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->dirCorr[j] = t[m->effectColumn[j]];
    return VsfStatus::Ok;
  }
  if (road == Road::Kept) {
    keptProducts(m, first);
    const double* t = tKeptProducts.get().data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->dirCorr[j] = t[m->effectFirstColumn[j]];
    return VsfStatus::Ok;
  }
  if (road == Road::Packed) {
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] == VES_CANDIDATE)
        m->dirCorr[j] = directionProduct(m, first, j);
    return VsfStatus::Ok;
  }
  std::memset(m->dirCorr, 0, sizeof(double) * E);
  VsfStatus rc = pass(m, vsfLarAvec, vsfLarAvec_t);
  if (rc != VsfStatus::Ok)
    return rc;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->dirCorr[in[p]] = vsfLarActiveRate(m, in[p], A, cmax);
  return VsfStatus::Ok;
}

// The step length at which the first active coefficient reaches zero (kBig: none does).
double firstZeroCrossing(const VsfModel* m, int32_t first, int32_t* effect) {
  const int32_t* in = m->inModelList;
  double best = kBig;
  int32_t drop = -1;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    const double w = m->direction[k];
    const double r = w == 0.0 ? kBig : -m->pathBeta[k] / w;
    if (r > kTiny && r < best) {
      best = r;
      drop = k;
    }
  }
  *effect = drop;
  return best;
}

// LASSO: a coefficient that reaches zero before *gamma ends the step there and is dropped
// at the next step. *ratio and *effect receive the first zero crossing (-1: none).
void lassoZeroCrossing(const VsfModel* m, int32_t first, double* gamma, int32_t* pendingDrop,
                       double* ratio, int32_t* effect) {
  int32_t drop;
  const double best = firstZeroCrossing(m, first, &drop);
  *ratio = best;
  *effect = drop;
  if (best < *gamma) {
    *gamma = best;
    *pendingDrop = drop;
  }
}

// The new path value (lambda or the L1 norm), or the end at the STOP=L1 target, which
// shortens *gamma; true when the target is reached.
[[nodiscard]] bool newPathValue(VsfModel* m, double cmax, double A, double R, double* gamma) {
  const VsfModelOptions* o = m->options;
  const VsfL1Choice kind = o->stop == VsfCriterion::L1 ? o->stopL1Choice : VsfL1Choice::None;
  const double target = m->l1Target;
  const double next = cmax - A * *gamma;
  bool reached = false;
  switch (kind) {
  case VsfL1Choice::Ratio:
    if (target >= 0 && target * m->lambdaMax > next) {
      *gamma = (cmax - target * m->lambdaMax) / A;
      m->lambda = target * m->lambdaMax;
      reached = true;
    } else {
      m->lambda = next;
    }
    break;
  case VsfL1Choice::Norm:
    if (target >= 0 && R > 0 && target < *gamma * R + m->l1Norm) {
      *gamma = (target - m->l1Norm) / R;
      m->l1Norm = target;
      reached = true;
    } else {
      m->lambda = next;
    }
    break;
  case VsfL1Choice::Value:
    if (target >= 0 && next < target) {
      *gamma = (cmax - target) / A;
      m->lambda = target;
      reached = true;
    } else {
      m->lambda = next;
    }
    break;
  default:
    m->lambda = next;
    break;
  }
  if (m->lambda < 0)
    m->lambda = 0;
  return reached;
}

// Moves the active coefficients `gamma` along the direction (a dropped one to exactly 0)
// and updates their L1 and L2 norms.
// The L1 and L2 norms of the active set's path coefficients.
void setPathNorms(VsfModel* m, int32_t first) {
  const int32_t* in = m->inModelList;
  double l1 = 0.0, l2 = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const double b = m->pathBeta[in[p]];
    l1 += std::fabs(b);
    l2 += b * b;
  }
  m->l1Norm = l1;
  m->l2Norm = std::sqrt(l2);
}

void moveCoefficients(VsfModel* m, int32_t first, double gamma, int32_t pendingDrop, bool reached) {
  const int32_t* in = m->inModelList;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->pathBeta[in[p]] += gamma * m->direction[in[p]];
  if (pendingDrop != -1 && !reached)
    m->pathBeta[pendingDrop] = 0.0;
  setPathNorms(m, first);
}

// The SSE of the reported coefficients s b from the full X'X without its ridge,
// y'y - 2 s b'X'y + s^2 b'X'X b, with a bound on the size of its terms,
// (sqrt y'y + s sum |b_k| sqrt x_k'x_k)^2 by Cauchy-Schwarz: the rounding of the sum is a
// small multiple of the unit round-off times the bound.
struct MatrixSse {
  double sse = 0.0, bound = 0.0;
};
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
    if (m->pathBeta[k] != before + gamma * m->direction[k])
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
    q.formBeta[static_cast<size_t>(k)] = m->pathBeta[k];
    q.formTerms += m->pathBeta[k] != 0.0 ? 1 : 0;
  }
  q.form = form;
  q.formFresh = true;
}

// b'X'X b - lambda b'b over the active coefficients b. Where the square keeps the form of the
// coefficients b0 this step moved from, by exactly gamma along the direction w (`gamma` given
// when the step's products a = X'X w are at hand), the step's own terms give it in O(|A|):
// (b0 + g w)'X'X (b0 + g w) = b0'X'X b0 + g a'(2 b0 + g w). Otherwise it is formed from the
// matrix, and kept for the next step where it has no ridge.
double activeForm(const VsfModel* m, int32_t first, double lambda, const double* gamma) {
  VsfLarSquare* q = m->larSquare;
  if (q != nullptr && lambda == 0.0 && gamma != nullptr && movedFromForm(m, first, *q, *gamma)) {
    const double g = *gamma;
    double terms = 0.0;
    for (int32_t p = first; p < m->inModelCount; ++p) {
      const int32_t k = m->inModelList[p];
      const double a = q->product[static_cast<size_t>(m->effectColumn[k])];
      terms += a * (2.0 * q->formBeta[static_cast<size_t>(k)] + g * m->direction[k]);
    }
    const double form = q->form + g * terms;
    keepForm(m, first, *q, form);
    return form;
  }
  const ActiveBlock& b = blockTimes(m, first, m->xpx, [m](int32_t k) { return m->pathBeta[k]; });
  double form = 0.0;
  for (size_t i = 0; i < b.effect.size(); ++i)
    form += b.x[i] * (b.y[i] - lambda * b.x[i]);
  if (q != nullptr && lambda == 0.0)
    keepForm(m, first, *q, form);
  return form;
}

MatrixSse matrixSseTerms(const VsfModel* m, int32_t first, const double* gamma) {
  const VsfModelOptions* o = m->options;
  const bool ridge = vsfMethodRidge(o->method) && m->l2 > 0;
  const double lambda = ridge ? (m->nObs - 1) * m->l2 : 0.0;
  const double s = vsfMethodRidge(o->method) && m->enSetting == 1 && m->l2 > 0 ? 1.0 + lambda : 1.0;
  double xy = 0.0, root = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    const int64_t ck = m->effectColumn[k];
    const double bk = m->pathBeta[k];
    xy += bk * m->xpx[sym(ck, 0)];
    root += std::fabs(bk) * std::sqrt(std::fabs(m->xpx[sym(ck, ck)]));
  }
  const double quad = activeForm(m, first, lambda, gamma);
  MatrixSse t;
  t.sse = m->xpx[0] - 2.0 * s * xy + s * s * quad;
  root = std::sqrt(std::fabs(m->xpx[0])) + s * root;
  t.bound = root * root;
  return t;
}

// The plain path's SSE from the matrix when it keeps its digits (false: take the rows);
// `gamma` as activeForm takes it.
[[nodiscard]] bool sseFromMatrix(VsfModel* m, int32_t first, const double* gamma) {
  const MatrixSse t = matrixSseTerms(m, first, gamma);
  if (!std::isfinite(t.sse) || t.sse < kVsfCancellationShare * t.bound)
    return false;
  m->sse = t.sse;
  return true;
}

[[nodiscard]] VsfStatus residualAhead(VsfModel* m, int32_t pendingDrop);

// Whether a step's fall of the SSE comes from its move: where the path's correlations are
// the gradient of the SSE it reports (no ridge, no least-squares coefficients, and the
// correlations and the SSE over the same rows).
[[nodiscard]] bool fallFromMove(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return !vsfMethodLsCoefficients(o->method) && !(vsfMethodRidge(o->method) && m->l2 > 0) &&
         !rolesPresent(m) && !o->cvExternal;
}

// Active effect k's inner product with the direction: from the step's products where the
// road formed them, else +-A, which the equiangular direction gives it.
[[nodiscard]] double activeProduct(const VsfModel* m, int32_t first, int32_t k, Road road) {
  if (road == Road::Kept)
    return tKeptProducts.get()[static_cast<size_t>(m->effectFirstColumn[k])];
  if (road == Road::Pages)
    return m->dirCorr[k];
  const VsfLarSquare* q = m->larSquare;
  return q != nullptr && q->formed ? q->product[static_cast<size_t>(m->effectColumn[k])]
                                   : directionProduct(m, first, k);
}

// The fall of the SSE as the active coefficients b move gamma along the direction w: with
// the residual's correlations c and the direction's products a = X'X w, SSE(b) -
// SSE(b + gamma w) = gamma w'(2c - gamma a). The difference of the two SSEs carries their
// rounding, some 1e-13 of them, which the F of a step that is small against them magnifies;
// this keeps the digits of the step's own terms.
[[nodiscard]] double moveFall(const VsfModel* m, int32_t first, double gamma, Road road) {
  double sum = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = m->inModelList[p];
    sum += m->direction[k] * (2.0 * m->corr[k] - gamma * activeProduct(m, first, k, road));
  }
  return gamma * sum;
}

// The correlations of the new residual on the packed road, from the step's products with the
// direction where the square formed them.
void packedCorrelations(VsfModel* m, int32_t first, double gamma) {
  VsfLarSquare* q = m->larSquare;
  const int32_t E = m->effectCount;
  for (int32_t j = first; j < E; ++j)
    if (m->effectStatus[j] != VES_INTERCEPT)
      m->corr[j] -= gamma * (q != nullptr && q->formed ? q->product[m->effectColumn[j]]
                                                       : directionProduct(m, first, j));
  if (q != nullptr)
    q->formed = false;
}

// A run of the path ahead of the fit, on a copy of its state: no residual sums, no estimates.
thread_local bool tAhead = false;

// The correlations and sums of squares of the new residual: from a data pass, or from the
// full X'X or the kept cross products (the least-squares coefficients' SSE is the swept
// corner). With the full X'X over the SSE's rows, or the active block of X'X that the kept
// road holds, the path's SSE is a quadratic form in it; where that would lose digits the
// kept road passes over the active columns, and the packed road takes the look-ahead's pass,
// which forms the SSE for several steps.
[[nodiscard]] VsfStatus updateResidual(VsfModel* m, int32_t first, double gamma, double A,
                                       Road road, int32_t pendingDrop) {
  const VsfModelOptions* o = m->options;
  const int32_t E = m->effectCount;
  const int32_t* in = m->inModelList;
  VsfStatus rc;
  m->sse = m->validateAse = m->testAse = m->heldOutError = m->heldOutTestError = 0.0;
  if (road == Road::Kept && m->splitSparse) {
    // Over split levels stored sparse the pass that sums the SSE forms every correlation for
    // little more: a row holds few values. Taking them from the new residual, as the dense
    // rows' passes do, keeps them from drifting by the rounding of each step's update, which
    // the length of a later short step (a difference of two near correlations) magnifies.
    std::memset(m->corr, 0, sizeof(double) * m->parmCount);
    if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
      return rc;
    if (vsfMethodLsCoefficients(o->method))
      m->sse = m->sweptXpx[0];
  } else if (road == Road::Kept) {
    // Every effect's direction product was formed with the candidates'.
    const double* t = tKeptProducts.get().data();
    for (int32_t j = first; j < E; ++j)
      if (m->effectStatus[j] != VES_INTERCEPT)
        m->corr[j] -= gamma * t[m->effectFirstColumn[j]];
    if (vsfMethodLsCoefficients(o->method))
      m->sse = m->sweptXpx[0];
    else if (!(m->larMatrixSse != 0 && sseFromMatrix(m, first, nullptr)) &&
             (rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
      return rc;
  } else if (road == Road::Pages) {
    if (o->screen == VsfScreenMethod::None) {
      std::memset(m->corr, 0, sizeof(double) * m->parmCount);
      if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
        return rc;
      if (m->l2 > 0)
        for (int32_t p = first; p < m->inModelCount; ++p)
          m->corr[in[p]] -= (m->nObs - 1) * m->l2 * m->pathBeta[in[p]];
    } else {
      if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
        return rc;
      for (int32_t j = first; j < E; ++j)
        m->corr[j] -= gamma * m->dirCorr[j];
    }
  } else {
    VsfLarSquare* q = m->larSquare;
    const bool formed = q != nullptr && q->formed;
    if (q != nullptr)
      q->formFresh = false;
    packedCorrelations(m, first, gamma);
    if (vsfMethodLsCoefficients(o->method) && !rolesPresent(m) && !o->cvExternal) {
      m->sse = m->sweptXpx[0];
    } else if (m->l2BaseXpx != nullptr && !rolesPresent(m) && !o->cvExternal) {
      // An L2 search's trial takes the SSE from the matrix, or from the rows where the
      // matrix would lose its digits (a response far from zero without an intercept).
      if (!sseFromMatrix(m, first, nullptr) &&
          (rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
        return rc;
    } else if (m->cvexSums != nullptr) {
      vsfCVExResidualSums(m);
    } else if (tAhead) {
      // Looking ahead: only the coefficients are wanted.
    } else if (m->larMatrixSse != 0 && sseFromMatrix(m, first, formed ? &gamma : nullptr)) {
      // The SSE came from the matrix.
    } else if (m->larAhead != nullptr) {
      if ((rc = residualAhead(m, pendingDrop)) != VsfStatus::Ok)
        return rc;
    } else if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok) {
      return rc;
    }
    // The square's form holds only while every move forms it: an SSE from elsewhere lets it go.
    if (q != nullptr && !q->formFresh)
      q->formTerms = -1;
  }
  m->heldOutTestError /= A;
  m->heldOutTestError /= A;
  if (rolesPresent(m)) {
    m->validateAse = m->wValidate == 0 ? hostMissing() : m->validateAse / m->wValidate;
    m->testAse = m->wTest == 0 ? hostMissing() : m->testAse / m->wTest;
  }
  return VsfStatus::Ok;
}

// The estimates on the scale of the data (and standardized by the response's standard
// deviation sy), the intercept last.
void dataScaleEstimates(VsfModel* m, int32_t first, double sy) {
  const VsfModelOptions* o = m->options;
  const int32_t* in = m->inModelList;
  double S = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    double b;
    if (vsfMethodLsCoefficients(o->method)) {
      b = -m->sweptXpx[sym(m->effectColumn[k], 0)];
    } else {
      b = m->pathBeta[k];
      if (vsfMethodRidge(o->method) && m->enSetting == 1 && m->l2 > 0)
        b *= 1.0 + (m->nObs - 1) * m->l2;
    }
    if (o->adaptive)
      b *= m->adaptiveWeight[k];
    const double css = m->columnSumSquares[k];
    b *= css;
    S += m->columnSums[k] * b;
    m->beta[k] = b;
    if (sy > 0 && !isHostMissing(css) && css > 0)
      m->stdBeta[k] = b / (css * sy);
  }
  m->beta[0] = m->sumWY - S;
}

[[nodiscard]] VsfStatus walkPath(VsfModel* m, double* stopValue, double* chooseValue);

// ---- looking ahead on the path
//
// With the full X'X the path's coefficients come from the matrix alone, and so does the SSE of
// a step unless it is small against its terms (a nearly exact fit), where it needs the rows.
// The coming steps are then walked on a copy of the path's state, and one pass forms the SSE
// of all their coefficient vectors; a step whose terms are bit for bit those of
// an entry takes its SSE from there, any other runs a new look-ahead. Each entry's sum is
// formed over the same rows in the same order with the same arithmetic as the pass per step,
// so the results are those of the pass per step.

constexpr size_t kAheadSteps = 16; // entries of one look-ahead at most

// The look-ahead serves the plain LAR and LASSO paths with the full X'X, whose rows carry no
// roles or folds; anything else keeps its pass per step. The final fit of external cross
// validation holds no rows out, so its residual pass is the plain one: its folds do not count.
[[nodiscard]] bool lookAheadOpen(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const bool xcvFinal = o->cvExternal && m->heldOutFold == m->foldCount;
  if (!vsfFullXpxOn(m) || !vsfMethod(o->method).lookAhead || o->adaptive ||
      (o->cvExternal && !xcvFinal) || rolesPresent(m) || o->screen != VsfScreenMethod::None ||
      vsfSafeScreening(m) || m->hierarchy || m->l2 > 0 || m->l2BaseXpx != nullptr ||
      (m->foldCount > 0 && !xcvFinal))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  return !S.hasRole && (!S.hasFold || xcvFinal) && (!S.xcv || xcvFinal) && !S.cv && S.sparse == 0;
}

// The packed X'X sums the rows the path's SSE sums when the rows carry no roles and no fold is
// held out of the fit (cross validation's folds together are every TRAIN row); then a step's
// SSE comes from the matrix, unless it would lose digits to cancellation. The kept cross
// products' road (no roles or folds) holds the active effects' block of X'X likewise.
[[nodiscard]] bool matrixSseOpen(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const bool xcvFinal = o->cvExternal && m->heldOutFold == m->foldCount;
  if (!vsfFullXpxOn(m) || vsfMethodLsCoefficients(o->method) || rolesPresent(m) ||
      (o->cvExternal && !xcvFinal))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  return !S.hasRole && (!S.xcv || xcvFinal);
}

// The in-model terms past the forced ones, as the residual pass takes them.
void pathTerms(const VsfModel* m, std::vector<int32_t>& offsets, std::vector<double>& betas) {
  offsets.clear();
  betas.clear();
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    offsets.push_back(m->denseOffset[m->inModelList[p]]);
    betas.push_back(m->pathBeta[m->inModelList[p]]);
  }
}

[[nodiscard]] bool sameTerms(const VsfLarAhead& a, size_t i, const std::vector<int32_t>& offsets,
                             const std::vector<double>& betas) {
  return a.offsets[i] == offsets && a.betas[i].size() == betas.size() &&
         std::memcmp(a.betas[i].data(), betas.data(), sizeof(double) * betas.size()) == 0;
}

// A copy of the model whose path state is its own: the arrays a path step writes are copied,
// and what a step must not reach (the pages, the estimates) is cut off, so that walking it
// leaves the model untouched.
class PathCopy {
public:
  explicit PathCopy(const VsfModel* m) : c_(*m) {
    const size_t E = static_cast<size_t>(m->effectCount);
    const size_t P = static_cast<size_t>(m->parmCount);
    const size_t X = static_cast<size_t>(m->xpxColumns);
    own(c_.sweptXpx, swept_, m->sweptXpx, static_cast<size_t>(packed::tri(m->xpxColumns)));
    own(c_.corr, corr_, m->corr, E);
    own(c_.dirCorr, dirCorr_, m->dirCorr, E);
    own(c_.direction, direction_, m->direction, E);
    own(c_.pathBeta, pathBeta_, m->pathBeta, P);
    own(c_.workVector, work_, m->workVector, P + 1);
    own(c_.activeSign, sign_, m->activeSign, E);
    own(c_.inModelList, inModel_, m->inModelList, E);
    own(c_.effectStatus, status_, m->effectStatus, E);
    own(c_.sweepFlags, flags_, m->sweepFlags, X);
    c_.bags = nullptr;
    c_.puddle = nullptr;
    c_.beta = c_.stdBeta = c_.savedBeta = c_.savedStdBeta = nullptr;
    c_.larAhead = nullptr;
    c_.larSquare = nullptr;
  }
  VsfModel* model() { return &c_; }

private:
  template <class T> static void own(T*& field, std::vector<T>& store, const T* from, size_t n) {
    store.assign(from, from + n);
    field = store.data();
  }
  VsfModel c_;
  std::vector<double> swept_, corr_, dirCorr_, direction_, pathBeta_, work_;
  std::vector<int32_t> sign_, inModel_;
  std::vector<uint8_t> status_;
  std::vector<char> flags_;
};

// What one entry costs a row: a dot product over the active terms, or over all dense values
// once the terms are laid out over them.
[[nodiscard]] int64_t entryCost(int64_t terms, int64_t dense) {
  return 4 * terms >= dense ? dense : terms;
}

// The terms of the coming steps after the current one (already the first entry), walked on a
// copy of the path: as many as a pass can afford, up to the path's end.
void walkAhead(const VsfModel* m, int32_t pendingDrop, VsfLarAhead& a) {
  const int64_t dense = m->denseColumnCount;
  const int64_t budget = std::max<int64_t>(4 * dense, 64);
  int64_t cost = entryCost(static_cast<int64_t>(a.offsets[0].size()), dense);
  PathCopy copy(m);
  VsfModel* c = copy.model();
  // The steps below run without their sums until the walk ends, also by an exception.
  struct Ahead {
    Ahead() { tAhead = true; }
    ~Ahead() { tAhead = false; }
  } ahead;
  std::vector<int32_t> offsets;
  std::vector<double> betas;
  while (a.offsets.size() < kAheadSteps && cost < budget) {
    int32_t changed = -1;
    if (LarLassoStep(c, &changed, &pendingDrop) != VsfStatus::Ok || c->stopReason != VSR_NONE)
      break;
    pathTerms(c, offsets, betas);
    a.offsets.push_back(offsets);
    a.betas.push_back(betas);
    cost += entryCost(static_cast<int64_t>(offsets.size()), dense);
  }
}

[[nodiscard]] VsfStatus residualAhead(VsfModel* m, int32_t pendingDrop) {
  VsfLarAhead& a = *m->larAhead;
  try {
    std::vector<int32_t> offsets;
    std::vector<double> betas;
    pathTerms(m, offsets, betas);
    if (a.next < a.offsets.size() && sameTerms(a, a.next, offsets, betas)) {
      m->sse = a.sse[a.next++];
      return VsfStatus::Ok;
    }
    a.offsets.assign(1, offsets);
    a.betas.assign(1, betas);
    walkAhead(m, pendingDrop, a);
    a.sse.assign(a.offsets.size(), 0.0);
  } catch (const std::bad_alloc&) {
    // Without memory to look ahead, the step takes a pass of its own.
    a.offsets.clear();
    a.betas.clear();
    a.next = 0;
    return pass(m, vsfLarRss, vsfLarRss_t);
  }
  a.next = 1;
  const VsfStatus rc =
      vsfDataPass(m, vsfLarRssAhead, vsfLarRssAhead_t, static_cast<int64_t>(a.sse.size()));
  if (rc != VsfStatus::Ok) {
    a.offsets.clear();
    return rc;
  }
  m->sse = a.sse[0];
  return VsfStatus::Ok;
}

} // namespace

namespace {

// Whether the sweep that entered effect k took every column of it: the rank rule refuses a
// column that is nearly a combination of the active ones.
[[nodiscard]] bool columnsTaken(const VsfModel* m, int32_t k) {
  if (m->structured != nullptr && k == m->structured->effect)
    return true;
  for (int32_t j = 0; j < m->effectColumns[k]; ++j)
    if (m->sweepFlags[m->effectColumn[k] + j] != '1')
      return false;
  return true;
}

// Takes back effect k, which the rank rule refused against the active set: it leaves the
// model and the path as an aliased effect does, so that no step's direction, correlations,
// coefficients or SSE use its column.
void refuseEntry(VsfModel* m, int32_t k) {
  vsfDropEffect(m, k, 2);
  m->effectStatus[k] = VES_UNAVAILABLE;
  vsfScreenTied(m, k);
}

// The step's length: where the first outside effect the rank rule takes catches up (the
// path's end, cmax / A, when none does). An effect it would refuse against the active set
// leaves the path here, so that the step runs on as if the column were absent, rather than
// ending where that column would have caught up; an effect that catches up only after an
// active coefficient reaches zero is judged when it does, against the smaller active set.
[[nodiscard]] VsfStatus catchUpPastRefused(VsfModel* m, int32_t first, double cmax, double A,
                                           double* gamma) {
  int32_t zero;
  const double dropRatio =
      vsfMethod(m->options->method).removes ? firstZeroCrossing(m, first, &zero) : kBig;
  for (;;) {
    int32_t j;
    *gamma = firstCatchUp(m, cmax, A, &j);
    if (j < 0) {
      *gamma = cmax / A;
      return VsfStatus::Ok;
    }
    bool refused = false;
    if (*gamma < dropRatio && seam::larRefusalAhead()) {
      // Its entry's cross products, kept where the road keeps them, form its row as they will.
      VsfStatus rc = keepCross(m, j);
      if (rc == VsfStatus::Ok)
        rc = vsfEntryRefused(m, j, &refused);
      if (rc != VsfStatus::Ok)
        return rc;
    }
    if (!refused)
      return VsfStatus::Ok;
    m->effectStatus[j] = VES_UNAVAILABLE;
    vsfScreenTied(m, j);
  }
}

// The common absolute correlation of the active effects with the residual.
[[nodiscard]] double activeCorrelation(const VsfModel* m, int32_t first) {
  double c = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p)
    c = std::max(c, std::fabs(m->corr[m->inModelList[p]]));
  return c;
}

// At lambda 0 the path's coefficients are the least-squares fit of the active set, which the
// swept matrix holds in its column 0 (as minus the coefficients, in the pages' frame): the
// steps' updates along nearly dependent directions lose digits that this fit, refined on its
// residuals where the active set is nearly dependent, does not. Taken only where the matrix
// has exactly the active columns swept past the intercept and holds no ridge.
[[nodiscard]] VsfStatus endAtLeastSquares(VsfModel* m, int32_t first) {
  const VsfModelOptions* o = m->options;
  const VsfMethodTraits* t = vsfMethodTraits(o->method);
  if (t == nullptr || t->ridge || first != (o->noint ? 0 : 1))
    return VsfStatus::Ok;
  int32_t swept = 0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (m->effectColumns[e] != 1 || m->sweepFlags[m->effectColumn[e]] != '1')
      return VsfStatus::Ok;
    ++swept;
  }
  for (int64_t c = 1 + first; c < m->xpxColumns; ++c)
    swept -= m->sweepFlags[c] == '1' ? 1 : 0;
  if (swept != 0)
    return VsfStatus::Ok;
  if (const VsfStatus rc = vsfRefineSwept(m); rc != VsfStatus::Ok)
    return rc;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    m->pathBeta[e] = -m->sweptXpx[at(m->effectColumn[e], 0)];
  }
  setPathNorms(m, first);
  return VsfStatus::Ok;
}

// Ends a step that moved past a refused entry at that move: the effect `entered` (-1: none)
// whose stretch would end the path leaves again, so that the step enters nothing.
void keepTheMove(VsfModel* m, int32_t entered, int32_t* changedEffect) {
  if (entered >= 0) {
    vsfDropEffect(m, entered, 2);
    vsfScreenDropped(m, entered);
  }
  *changedEffect = -1;
}

// What a stretch of a step did: ended the step, or refused its entrant, before moving
// (Refused) or after moving the active set on (Moved); the step goes on from there.
enum class Stretch { Done, Refused, Moved };

[[nodiscard]] VsfStatus stepStretch(VsfModel* m, int32_t* changedEffect, int32_t* pendingDrop,
                                    Stretch* how);

} // namespace

// A step: the most correlated candidate enters (or the pending drop leaves) and the active
// set moves along its equiangular direction, to where the next candidate the rank rule takes
// catches up (candidates it refuses leave the path as they catch up) or a coefficient reaches
// zero. A candidate refused only at its entry leaves the path too; the step then goes on from
// the same point with the active set alone, to where the next candidate catches up (which
// then enters) or a coefficient reaches zero.
VsfStatus LarLassoStep(VsfModel* m, int32_t* changedEffect, int32_t* pendingDrop) {
  Stretch how = Stretch::Done;
  m->sseFall = 0.0;
  m->sseFallKnown = fallFromMove(m) ? 1 : 0;
  do {
    if (VsfStatus rc = stepStretch(m, changedEffect, pendingDrop, &how); rc != VsfStatus::Ok)
      return rc;
  } while (how != Stretch::Done && m->stopReason == VSR_NONE);
  // A step that went on past a refused entry and ended without another change (the path's
  // end or the L1 target) is the move itself: it enters nothing.
  if (*changedEffect >= 0 && m->effectStatus[*changedEffect] == VES_UNAVAILABLE)
    *changedEffect = -1;
  return VsfStatus::Ok;
}

namespace {

[[nodiscard]] VsfStatus stepStretch(VsfModel* m, int32_t* changedEffect, int32_t* pendingDrop,
                                    Stretch* how) {
  const VsfModelOptions* o = m->options;
  const int32_t first = m->includeCount;
  const int32_t all = vsfScreenFullCount(m);
  const bool full = vsfFullXpxOn(m);
  VsfStatus rc;
  const bool moved = *how == Stretch::Moved;
  *how = Stretch::Done;

  const double sy = m->nObs - 1 > 0 ? std::sqrt(std::max(m->totalSS, 0.0) / (m->nObs - 1)) : 0.0;

  if (*pendingDrop != -1) {
    vsfDropEffect(m, *pendingDrop, 1);
    vsfScreenDropped(m, *pendingDrop);
    *changedEffect = *pendingDrop;
  }
  double cmax;
  const int32_t candidate = mostCorrelated(m, first, &cmax);
  int32_t entered = -1;
  bool refused = false;
  if (*pendingDrop == -1) {
    if (candidate == -1) {
      // A move past a refused entry is a step of its own; the next one finds the end.
      if (!moved)
        m->stopReason = m->inModelCount == all ? VSR_ALL_ENTERED : VSR_NO_CANDIDATE;
      return VsfStatus::Ok;
    }
    *changedEffect = entered = candidate;
    rc = keepCross(m, candidate);
    if (rc == VsfStatus::Ok)
      rc = vsfAddEffect(m, candidate, 0, 0);
    vsfScreenEntered(m, candidate);
    if (rc != VsfStatus::Ok)
      return rc;
    if (!columnsTaken(m, candidate)) {
      refuseEntry(m, candidate);
      entered = -1;
      refused = true;
      if (m->inModelCount <= first) {
        *how = Stretch::Refused; // nothing has moved: the next candidate starts the path
        return VsfStatus::Ok;
      }
      cmax = activeCorrelation(m, first);
    }
  }
  *pendingDrop = -1;
  if (m->inModelCount <= first) {
    m->stopReason = VSR_ALL_ENTERED;
    return VsfStatus::Ok;
  }

  const Road road = full ? Road::Packed : crossKept(m, first) ? Road::Kept : Road::Pages;
  double R;
  const double A = equiangularDirection(m, first, cmax, &R);
  if ((rc = outsideProducts(m, first, A, cmax, road)) != VsfStatus::Ok)
    return rc;
  double gamma = cmax / A;
  if (m->inModelCount != all &&
      (rc = catchUpPastRefused(m, first, cmax, A, &gamma)) != VsfStatus::Ok)
    return rc;
  double dropRatio = kBig;
  int32_t dropEffect = -1;
  if (vsfMethod(o->method).removes) // LASSO-type paths may also drop an effect
    lassoZeroCrossing(m, first, &gamma, pendingDrop, &dropRatio, &dropEffect);
  if ((rc = vsfScreenStep(m, cmax, A, &gamma, pendingDrop, dropRatio, dropEffect)) != VsfStatus::Ok)
    return rc;
  const double lambdaBefore = m->lambda, l1Before = m->l1Norm;
  const bool reached = newPathValue(m, cmax, A, R, &gamma);
  // A step of cmax / A (nothing left to catch up, no drop) runs to the path's end, where
  // lambda is 0: cmax - A (cmax / A) would leave the rounding of the cross products instead.
  if (!reached && *pendingDrop == -1 && gamma == cmax / A)
    m->lambda = 0.0;

  // The path ends when the step no longer moves, or when lambda stops falling.
  if (!reached && *pendingDrop == -1) {
    const double shift = entered >= 0 ? std::fabs(gamma * m->direction[entered]) : 0.0;
    uint8_t end = VSR_NONE;
    const double still = pathTolerance(m, 1e-8);
    if (shift <= still && A * gamma <= still)
      end = VSR_PATH_END;
    else if (m->stepCount >= 2 &&
             m->stepPathValue[m->stepCount - 1] * m->lambdaMax + pathTolerance(m, m->fuzz) <=
                 m->lambda)
      end = VSR_PATH_END2;
    if (end != VSR_NONE && moved) {
      // The step has moved past a refused entry: it is that move, recorded with the estimates
      // it left, and the next step finds the end.
      m->lambda = lambdaBefore;
      m->l1Norm = l1Before;
      keepTheMove(m, entered, changedEffect);
      return VsfStatus::Ok;
    }
    if (end != VSR_NONE) {
      m->stopReason = end;
      return VsfStatus::Ok;
    }
  }

  if (m->sseFallKnown != 0)
    m->sseFall += moveFall(m, first, gamma, road);
  moveCoefficients(m, first, gamma, *pendingDrop, reached);
  // The look-ahead's copy has no rows to refine on: its end keeps the path's coefficients, and
  // the fit's own step then forms its sums afresh.
  if (m->lambda == 0.0 && *pendingDrop == -1 && !tAhead &&
      (rc = endAtLeastSquares(m, first)) != VsfStatus::Ok)
    return rc;
  if ((rc = updateResidual(m, first, gamma, A, road, *pendingDrop)) != VsfStatus::Ok)
    return rc;
  if (!tAhead)
    dataScaleEstimates(m, first, sy);
  if (refused && !reached)
    *how = Stretch::Moved;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfLarLasso(VsfModel* m) {
  VsfModelOptions* o = m->options;
  const int32_t E = m->effectCount;
  VsfStatus rc;
  double stopValue, chooseValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, nullptr);
  m->sseFallKnown = 0;

  m->sse = m->validateAse = m->testAse = m->heldOutError = m->heldOutTestError = 0.0;
  if (!vsfFullXpxOn(m)) {
    std::memset(m->corr, 0, sizeof(double) * m->parmCount);
    if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
      return rc;
  } else {
    for (int32_t j = 0; j < E; ++j)
      m->corr[j] = m->xpx[sym(m->effectColumn[j], 0)];
    // The held-out sums need a pass over the rows.
    if (!o->cvExternal)
      m->sse = m->sweptXpx[0];
    else if (m->cvexSums != nullptr)
      vsfCVExResidualSums(m);
    else if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
      return rc;
  }

  m->lambdaMax = 0.0;
  for (int32_t j = m->includeCount; j < E; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE && std::fabs(m->corr[j]) > m->lambdaMax)
      m->lambdaMax = std::fabs(m->corr[j]);

  // A rule switched off for this fit (nothing correlated) is the user's again for the next.
  const VsfScreenMethod screen = o->screen;
  VsfLarAhead ahead;
  VsfLarSquare square;
  if ((rc = vsfScreenStart(m)) == VsfStatus::Ok) {
    // The _testroadahead switch at 0 keeps the pass per step, for comparing the two.
    const bool sumsOn = fastRoadOn(FastRoad::LarLookAhead);
    m->larAhead = lookAheadOpen(m) && sumsOn ? &ahead : nullptr;
    m->larCrossBytes = crossBudget(m);
    m->larMatrixSse = (matrixSseOpen(m) || m->larCrossBytes > 0) && sumsOn ? 1 : 0;
    m->larSquare = squareOpen(m, square) ? &square : nullptr;
    // A row of X'X formed ahead of its entry serves this path only.
    m->formedEntry = 0;
    rc = walkPath(m, &stopValue, &chooseValue);
    m->formedEntry = 0;
    m->larAhead = nullptr;
    m->larMatrixSse = 0;
    m->larSquare = nullptr;
    m->larCrossBytes = 0;
  }
  o->screen = screen;
  return rc;
}

namespace {

[[nodiscard]] VsfStatus walkPath(VsfModel* m, double* stopValue, double* chooseValue) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc;
  m->lambda = m->lambdaMax;
  m->l1Norm = m->l2Norm = 0.0;
  if (!o->noint && m->stepCount > 0) {
    m->stepPathValue[0] = 1.0;
    m->stepL1Norm[0] = 0.0;
    m->stepL2Norm[0] = 0.0;
    // The intercept's step: a fold fit holds out the error of the mean; the final fit
    // starts on the averaged curve.
    if (o->cvExternal) {
      m->stepHeldOutTestError[0] = 0.0;
      m->stepHeldOutError[0] = m->heldOutFold == m->foldCount ? m->cvexCurve[0] : m->heldOutError;
    }
  }

  int32_t pendingDrop = -1;
  int32_t t = o->noint ? 0 : 1;
  const int32_t target =
      o->screen == VsfScreenMethod::Sis ? m->screenKeep + m->includeCount : m->effectCount;
  const int32_t parms = m->parmCount;
  while (vsfKeepGoing(m, t)) {
    if (o->stop != VsfCriterion::NoneGiven) {
      std::memcpy(m->savedBeta, m->beta, sizeof(double) * parms);
      std::memcpy(m->savedStdBeta, m->stdBeta, sizeof(double) * parms);
    }
    int32_t changed = -1;
    const bool dropping = pendingDrop != -1;
    if ((rc = LarLassoStep(m, &changed, &pendingDrop)) != VsfStatus::Ok)
      return rc;
    // A step takes an effect out or enters one; past a refused entry it may only move, or
    // take out an effect that reached zero on the way.
    const bool dropped = dropping || (changed >= 0 && m->effectStatus[changed] == VES_CANDIDATE);
    const int32_t d = dropped ? -1 : 1;
    // A refused entry at the path's end leaves nothing to record.
    if ((m->stopReason != VSR_NONE && m->stopReason != VSR_PATH_END &&
         m->stopReason != VSR_PATH_END2) ||
        (changed == -1 && m->stopReason != VSR_NONE))
      return VsfStatus::Ok;
    int32_t result = 0;
    if ((rc = vsfStopSelection(0.0, m, t, changed, d, stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (m->stopReason == VSR_NO_IMPROVEMENT) {
      std::memcpy(m->beta, m->savedBeta, sizeof(double) * parms);
      std::memcpy(m->stdBeta, m->savedStdBeta, sizeof(double) * parms);
    }
    if (result == -1)
      return VsfStatus::Ok;
    if (o->pressNeeded && (rc = vsfComputePress(m)) != VsfStatus::Ok)
      return rc;
    vsfChoose(*stopValue, *stopValue, m, chooseValue, d);
    if ((rc = vsfRecordStep(m, changed)) != VsfStatus::Ok)
      return rc;
    if (m->inModelCount == target && pendingDrop == -1) {
      m->stopReason = VSR_ALL_ENTERED;
      return VsfStatus::Ok;
    }
    ++t;
  }
  return VsfStatus::Ok;
}

} // namespace
