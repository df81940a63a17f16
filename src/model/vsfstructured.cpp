// The structured road: set-up, the cross-product pass, the trial and the entry of the
// many-level effect, and its estimates, variances and the rounding roots of its pivots.
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"

#include "data/vsfdata.h"
#include "data/vsfutilfile.h"
#include "kernels/vsfxpxstructured.h"
#include "model/vsffoldmove.h"
#include "model/vsfmemplan.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "model/vsftrial.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/hostif.h"
#include "support/messages.h"
#include "support/seams.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The work an entry of the effect must save for the structured road to be taken.
constexpr double kWorthwhileWork = 1e6;

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

// The methods the road serves: BACKWARD, whose removal trials unsweep in the small state,
// and FORWARD and STEPWISE whose trial of a multi-column effect goes by its block or, when
// they select by cross validation, PRESS or the validation rows' error, by its entry into
// the model and the folds (the validation rows' residuals then take the effect's estimates
// from its state, as after a step).
[[nodiscard]] bool servedMethod(const VsfModel* m) {
  const VsfMethodTraits& method = vsfMethod(m->options->method);
  if (method.startsFull)
    return true;
  const VsfCriterion select = m->options->select;
  return method.entryTrials && (m->needTrialBlock || select == VsfCriterion::Cv ||
                                select == VsfCriterion::Press || select == VsfCriterion::Validate);
}

// Cross validation by fold records (their estimates of the effect from their own states),
// or no folds at all.
[[nodiscard]] bool servedFolds(const VsfModel* m) {
  if (vsfCvOn(m))
    return m->foldCount >= 2;
  return m->foldCount == 0;
}

// Whether the last sparse effect is a constructed one (a B-spline basis of many columns): the
// road sums the levels' 0/1 codes, which a constructed effect's values are not.
[[nodiscard]] bool lastSparseConstructed(const VsfModel* m) {
  const VsfDataSettings* s = m->dataSettings;
  const int32_t last = m->sparseEffectList[m->sparseEffectCount - 1];
  return s != nullptr && last < s->entryCount && s->entries[last].constructed != 0;
}

} // namespace

int32_t vsfStructuredLeastColumns(int64_t small) {
  // The work saved grows with the effect's columns: the least that saves enough, by halving.
  int64_t lo = 1, hi = int64_t{1} << 30;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (vsfStructuredCheaper(mid, small))
      hi = mid;
    else
      lo = mid + 1;
  }
  return static_cast<int32_t>(lo);
}

int32_t vsfStructuredEffect(const VsfModel* m) {
  const int32_t count = m->sparseEffectCount;
  if (count < 1)
    return -1;
  const VsfDataSettings* s = m->dataSettings;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const int32_t e = m->sparseEffectList[i];
    if (s == nullptr || e >= s->entryCount || s->entries[e].joined == 0)
      return -1;
  }
  return lastSparseConstructed(m) ? -1 : m->sparseEffectList[count - 1];
}

// The fits the structured road serves: a served method on the packed X'X, with nothing that
// needs other sums than X'X and the folds' (resamples), no hierarchy or standardisation;
// the one sparse effect is the last in column order and has many columns.
VsfMsg vsfStructuredRefusal(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (!servedMethod(m) || o->adaptive || m->l2BaseXpx != nullptr)
    return VsfMsg::RoadNotForMethod;
  if (o->cvExternal || m->cvexSums != nullptr)
    return VsfMsg::RoadNotForExternalCv;
  if (!servedFolds(m))
    return VsfMsg::RoadNotForOneFold;
  if (o->modelAverage || m->resampler != nullptr)
    return VsfMsg::RoadNotForAveraging;
  if (o->hierarchy != VsfHierarchy::None)
    return VsfMsg::RoadNotForHierarchy;
  if (o->colStandardize || o->parmStandardize)
    return VsfMsg::RoadNotForStandardised;
  if (!vsfFullXpxOn(m))
    return VsfMsg::RoadNotForGrowingProducts;
  if (m->sparseEffectCount < 1)
    return VsfMsg::RoadNotForFewLevels;
  if (lastSparseConstructed(m))
    return VsfMsg::RoadNotForFewLevels;
  const int32_t e = vsfStructuredEffect(m);
  if (e < 0)
    return VsfMsg::RoadNotForSeveralSparse;
  return m->effectColumn[e] + m->effectColumns[e] == m->parmCount + 1 &&
                 vsfStructuredCheaper(m->effectColumns[e], m->effectColumn[e])
             ? VsfMsg{}
             : VsfMsg::RoadNotForFewLevels;
}

VsfCrossRow::VsfCrossRow(const VsfStructured& st)
    : st_(st), row_(static_cast<size_t>(st.small), 0.0) {}

const double* VsfCrossRow::operator()(int64_t j) {
  const VsfStructured& st = st_;
  const int64_t d = st.dense;
  const bool rank = st.rankOne != 0.0;
  if (rank)
    std::fill(row_.begin() + d, row_.end(), 0.0);
  else if (last_ >= 0 && st.joinStart != nullptr)
    for (int64_t p = st.joinStart[last_]; p < st.joinStart[last_ + 1]; ++p)
      row_[static_cast<size_t>(st.joinColumn[p])] = 0.0;
  std::copy(st.cross + j * d, st.cross + (j + 1) * d, row_.begin());
  if (st.joinStart != nullptr)
    for (int64_t p = st.joinStart[j]; p < st.joinStart[j + 1]; ++p)
      row_[static_cast<size_t>(st.joinColumn[p])] = st.joinValue[p];
  if (rank)
    for (int64_t c = 0; c < st.small; ++c)
      row_[static_cast<size_t>(c)] += st.rankCross[c];
  last_ = j;
  return row_.data();
}

double vsfStructuredCrossAt(const VsfStructured& st, int64_t j, int64_t c) {
  const double rank = st.rankOne != 0.0 ? st.rankCross[c] : 0.0;
  if (c < st.dense)
    return st.cross[j * st.dense + c] + rank;
  const int32_t* first = st.joinColumn + st.joinStart[j];
  const int32_t* last = st.joinColumn + st.joinStart[j + 1];
  const int32_t* at = std::lower_bound(first, last, static_cast<int32_t>(c));
  return (at != last && *at == c ? st.joinValue[at - st.joinColumn] : 0.0) + rank;
}

namespace {

[[nodiscard]] bool served(const VsfModel* m) { return vsfStructuredRefusal(m) == VsfMsg{}; }

// The stored cross products of the joining effects' columns beyond the dense ones.
int64_t joinedCount(const VsfStructured& st) {
  return st.joinStart != nullptr ? st.joinStart[st.columns] : 0;
}

// Calls fn(c, C_j(c)) for the small columns c of row j of a state's cross block that may
// hold a nonzero, in increasing order: its dense columns and its joining ones, or every
// small column while rankOne rows add to every row.
template <class Fn> void eachCross(const VsfStructured& st, int64_t j, Fn fn) {
  const double* D = st.cross + j * st.dense;
  const int64_t begin = st.joinStart != nullptr ? st.joinStart[j] : 0;
  const int64_t end = st.joinStart != nullptr ? st.joinStart[j + 1] : 0;
  if (st.rankOne != 0.0) {
    int64_t p = begin;
    for (int64_t c = 0; c < st.small; ++c) {
      double v = c < st.dense ? D[c] : 0.0;
      if (p < end && st.joinColumn[p] == c)
        v = st.joinValue[p++];
      fn(c, v + st.rankCross[c]);
    }
    return;
  }
  for (int64_t c = 0; c < st.dense; ++c)
    fn(c, D[c]);
  for (int64_t p = begin; p < end; ++p)
    fn(int64_t{st.joinColumn[p]}, st.joinValue[p]);
}

// The places i of the increasing small columns X at which row j of a state's cross block,
// or `shift` (by place), may be nonzero: the dense columns and the shifted ones, and the
// joining columns the level's rows meet; every place while rankOne rows add to every row or
// the cross block keeps every column in place. A loop over the levels then costs the
// levels' stored values, not levels times the small columns.
class RowSupport {
public:
  RowSupport(const VsfStructured& st, const std::vector<int64_t>& X,
             const std::vector<double>& shift)
      : st_(st), sparse_(st.rankOne == 0.0 && st.joinStart != nullptr) {
    for (size_t i = 0; i < X.size(); ++i)
      if (!sparse_ || X[i] < st.dense || shift[i] != 0.0) {
        unsorted_ = unsorted_ || X[i] >= st.dense;
        fixed_.push_back(i);
      }
    if (!sparse_)
      return;
    place_.assign(static_cast<size_t>(st.small), -1);
    for (size_t i = 0; i < X.size(); ++i)
      place_[static_cast<size_t>(X[i])] = static_cast<int64_t>(i);
  }
  [[nodiscard]] const std::vector<size_t>& placesOf(int64_t j) {
    if (!sparse_)
      return fixed_;
    places_ = fixed_;
    for (int64_t p = st_.joinStart[j]; p < st_.joinStart[j + 1]; ++p)
      if (const int64_t i = place_[static_cast<size_t>(st_.joinColumn[p])]; i >= 0)
        places_.push_back(static_cast<size_t>(i));
    if (unsorted_) {
      std::sort(places_.begin(), places_.end());
      places_.erase(std::unique(places_.begin(), places_.end()), places_.end());
    }
    return places_;
  }

private:
  const VsfStructured& st_;
  bool sparse_;
  bool unsorted_ = false; // a shifted joining column among the fixed places
  std::vector<size_t> fixed_, places_;
  std::vector<int64_t> place_;
};

// The effect's columns as its trial reads them: the cross block, the diagonal, and the
// response row of the swept matrix, C(j, 0) less C(j, S) times the estimates of the swept
// small columns S (whose entries in the response column are their negated estimates).
struct Block {
  const VsfModel* m;
  const VsfStructured* st;
};
double blockCross(const void* c, int64_t j, int64_t column) {
  const Block* b = static_cast<const Block*>(c);
  assert(j >= 0 && j < b->st->columns && column >= 0 && column < b->st->small &&
         "an element of the structured effect's cross block");
  return vsfStructuredCrossAt(*b->st, j, column);
}
double blockDiagonal(const void* c, int64_t j) {
  return static_cast<const Block*>(c)->st->diagonal[j];
}
double blockResponse(const void* c, int64_t j) {
  const Block* b = static_cast<const Block*>(c);
  double t = 0.0;
  eachCross(*b->st, j, [&](int64_t s, double v) {
    if (s == 0)
      t = v;
    else if (b->m->sweepFlags[s] == '1')
      t += v * b->m->sweptXpx[at(s, 0)];
  });
  return t;
}

// The failure of the Cholesky factor of the model's swept columns, which the rounding rule
// that swept them makes a fault of the matrix, not a dependent column: the fit ends.
VsfStatus noFactor(VsfModel* m, size_t swept) {
  vsfLog(VsfMsg::SweptColumnsNoCholesky, {HostMsgArg(static_cast<int64_t>(swept))});
  if (m->passFailure == VsfStatus::Ok)
    m->passFailure = VsfStatus::ReportedFailure;
  return VsfStatus::ReportedFailure;
}

[[nodiscard]] VsfStatus pivots(VsfModel* m, double* sse, int32_t* count, char* taken) {
  VsfStructured* st = m->structured;
  Block block{m, st};
  const VsfDiagonalBlock source{&block,        st->columns, blockCross,   blockDiagonal,
                                blockResponse, st->rankOne, st->rankCross};
  if (vsfDiagonalBlockPivots(m, source, sse, count, taken))
    return VsfStatus::Ok;
  *sse = m->sse;
  *count = 0;
  if (taken != nullptr)
    std::fill(taken, taken + st->columns, '0');
  int64_t swept = 0;
  for (int64_t c = 1; c < st->small; ++c)
    swept += m->sweepFlags[c] == '1' ? 1 : 0;
  return noFactor(m, static_cast<size_t>(swept));
}

// The swept small columns of a state with sweep flags `flags`, in index order.
std::vector<int64_t> sweptSmallOf(const VsfStructured& st, const char* flags) {
  std::vector<int64_t> S;
  for (int64_t c = 1; c < st.small; ++c)
    if (flags[c] == '1')
      S.push_back(c);
  return S;
}
std::vector<int64_t> sweptSmall(const VsfModel* m) {
  return sweptSmallOf(*m->structured, m->sweepFlags);
}

// The swept block B_J = D_J + rho 1 1' of the effect's swept columns J, solved by
// Sherman-Morrison about the column 0 of J with the smallest D_j, so that no term divides by
// D_0: with s the sum of 1 / D_j over the others, a = 1 / rho + s and g = D_0 a + 1, the
// inverse is D_J^-1 less u u' / (a + 1 / D_0), u = D_J^-1 1, which gives B_J^-1 r as
// (r_j - c) / D_j with c = (r_0 + D_0 t) / g, t the sum of r_j / D_j over the others, and
// (r_0 a - t) / g for column 0. Under the effect coding a level without rows has D_j = 0 (its
// column is -1 on the reference level's rows alone, so at most one such column is swept, the
// others equal to it) and a level with rows of tiny weight a D_j near 0: both come out
// without loss. Without rho the block is diagonal (`least` -1).
struct SweptBlock {
  int64_t least = -1;
  double a = 0.0, g = 1.0;
};

SweptBlock sweptBlockOf(const VsfStructured& st) {
  SweptBlock b;
  if (st.rankOne == 0.0)
    return b;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && (b.least < 0 || st.diagonal[j] < st.diagonal[b.least]))
      b.least = j;
  if (b.least < 0)
    return b;
  b.a = 1.0 / st.rankOne;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && j != b.least)
      b.a += 1.0 / st.diagonal[j];
  b.g = st.diagonal[b.least] * b.a + 1.0;
  return b;
}

// r := B_J^-1 r over the swept columns J (r indexed by the effect's columns, r_j the cross
// product of column j with some vector; the others are left as they are).
void solveBlock(const VsfStructured& st, const SweptBlock& b, std::vector<double>& r) {
  const auto R = [&r](int64_t j) -> double& { return r[static_cast<size_t>(j)]; };
  double t = 0.0;
  for (int64_t j = 0; j < st.columns && b.least >= 0; ++j)
    if (st.swept[j] == '1' && j != b.least)
      t += R(j) / st.diagonal[j];
  const double r0 = b.least >= 0 ? R(b.least) : 0.0;
  const double c = b.least >= 0 ? (r0 + st.diagonal[b.least] * t) / b.g : 0.0;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && j != b.least)
      R(j) = (R(j) - c) / st.diagonal[j];
  if (b.least >= 0)
    R(b.least) = (r0 * b.a - t) / b.g;
}

// The effect's estimates in a state whose swept small columns S hold their negated
// estimates in the response column of `swept`: B_J^-1 (C_J(., 0) - C_J(., S) beta_S).
std::vector<double> blockEstimates(const VsfStructured& st, const double* swept,
                                   const std::vector<int64_t>& S) {
  std::vector<double> r(static_cast<size_t>(st.columns), 0.0);
  std::vector<char> inS(static_cast<size_t>(st.small), 0);
  for (const int64_t s : S)
    inS[static_cast<size_t>(s)] = 1;
  for (int64_t j = 0; j < st.columns; ++j) {
    if (st.swept[j] != '1')
      continue;
    double t = 0.0;
    eachCross(st, j, [&](int64_t s, double v) {
      if (s == 0)
        t = v;
      else if (inS[static_cast<size_t>(s)])
        t += v * swept[at(s, 0)];
    });
    r[static_cast<size_t>(j)] = t;
  }
  solveBlock(st, sweptBlockOf(st), r);
  if (st.refinedValid)
    for (int64_t j = 0; j < st.columns; ++j)
      if (st.swept[j] == '1')
        r[static_cast<size_t>(j)] += st.refined[j];
  return r;
}

// The inverse T^-1 of the reduced triangle between the swept small columns S, element (i, t)
// over S, which the swept triangle holds (the reduced triangle swept over S).
struct SweptInverse {
  const double* swept;
  const std::vector<int64_t>& S;
  [[nodiscard]] double at(size_t i, size_t t) const { return swept[sym(S[i], S[t])]; }
};

// Whether x is zero within the rounding of adding the shift h back (a few units of its last
// place).
bool nearZero(double x, double h) {
  return std::fabs(x) <= 8.0 * std::numeric_limits<double>::epsilon() * std::fabs(h);
}

// The form w' T^-1 w over w's nonzero elements, w given over the swept small columns.
double formOver(const SweptInverse& inv, const std::vector<double>& w,
                const std::vector<size_t>& nonzero) {
  double q = 0.0;
  for (const size_t i : nonzero) {
    double v = 0.0;
    for (const size_t t : nonzero)
      v += inv.at(i, t) * w[t];
    q += w[i] * v;
  }
  return q;
}

// Each swept column j of the effect: its row w over the swept small columns, element i
// `element(j, C_j, i)` (C_j its cross products) at the places `support` gives (0 elsewhere),
// with the list of w's nonzero elements, gives its swept diagonal `diagonal(j, w, nonzero)`.
template <class Element, class Diagonal>
void eachSweptRow(VsfStructured* st, RowSupport& support, size_t s, Element element,
                  Diagonal diagonal) {
  std::vector<double> w(s);
  std::vector<size_t> nonzero;
  nonzero.reserve(s);
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    const double* C = row(j);
    nonzero.clear();
    for (const size_t i : support.placesOf(j)) {
      w[i] = element(j, C, i);
      if (w[i] != 0.0)
        nonzero.push_back(i);
    }
    st->sweptDiagonal[j] = diagonal(j, w, nonzero);
  }
}

// The swept diagonal of an effect whose block B_J = D_J + rho 1 1' has rho (SweptBlock's
// column 0 among J): row j of B_J^-1 C_J(., S) is (a C_0 - u) / g for column 0 and (C_j - c)
// / D_j for the others, c = (C_0 + D_0 u) / g, u the sum of C_j / D_j over the others, and the
// diagonal of B_J^-1 a / g and 1 / D_j - D_0 / (D_j^2 g); each adds the form of its row over
// T^-1, the inverse of the reduced triangle's swept small columns (`inv`).
void refreshRankOne(const VsfModel* m, const std::vector<int64_t>& S, const SweptInverse& inv,
                    const SweptBlock& b) {
  VsfStructured* st = m->structured;
  const size_t s = S.size();
  const double d0 = st->diagonal[b.least];
  VsfCrossRow row(*st);
  const double* first = row(b.least);
  const std::vector<double> C0(first, first + st->small);
  std::vector<double> u(s, 0.0), c(s);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1' && j != b.least) {
      const double* C = row(j);
      for (size_t i = 0; i < s; ++i)
        u[i] += C[S[i]] / st->diagonal[j];
    }
  for (size_t i = 0; i < s; ++i)
    c[i] = (C0[S[i]] + d0 * u[i]) / b.g;
  RowSupport every(*st, S, std::vector<double>(s, 0.0));
  eachSweptRow(
      st, every, s,
      [&](int64_t j, const double* C, size_t i) {
        return j == b.least ? (b.a * C[S[i]] - u[i]) / b.g : (C[S[i]] - c[i]) / st->diagonal[j];
      },
      [&](int64_t j, const std::vector<double>& w, const std::vector<size_t>& nonzero) {
        const double d = st->diagonal[j];
        return (j == b.least ? b.a / b.g : 1.0 / d - d0 / (d * d * b.g)) +
               formOver(inv, w, nonzero);
      });
}

// The shift of each small column's rows (m->xpxShift by the parameter the column holds, 0
// where the pages are not shifted).
std::vector<double> smallShifts(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  std::vector<double> shift(static_cast<size_t>(st->small), 0.0);
  if (!m->pagesShifted || m->xpxShift == nullptr)
    return shift;
  for (int32_t e = 0; e < m->effectCount; ++e)
    for (int32_t i = 0; i < m->effectColumns[e]; ++i)
      if (const int64_t c = m->effectColumn[e] + i; c > 0 && c < st->small)
        shift[static_cast<size_t>(c)] = m->xpxShift[1 + m->parmOffset[e] + i];
  return shift;
}

// Record f's means less the pages' shift by small column (foldShift by the parameter the
// column holds; 0 for the joining effects' columns and where the records are not centred).
std::vector<double> recordShift(const VsfModel* m, int32_t f) {
  const VsfStructured* st = m->structured;
  std::vector<double> shift(static_cast<size_t>(st->small), 0.0);
  if (m->foldShift == nullptr)
    return shift;
  const double* t = m->foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  shift[0] = t[0];
  for (int32_t e = 0; e < m->effectCount; ++e)
    for (int32_t i = 0; i < m->effectColumns[e]; ++i)
      if (const int64_t c = m->effectColumn[e] + i; c > 0 && c < st->small)
        shift[static_cast<size_t>(c)] = t[1 + m->parmOffset[e] + i];
  return shift;
}

// The shift of each swept small column (smallShifts) where adding it back to the rows of the
// cross block divided by D_j leaves at least half the effect's swept levels an exact zero (up
// to the rounding of the shift itself): the columns of a joined CLASS effect, which a level's
// few rows meet in few levels. Other columns keep 0: their rows stay dense.
std::vector<double> levelShiftOver(const VsfStructured* st, const std::vector<double>& all,
                                   const std::vector<int64_t>& S) {
  const size_t s = S.size();
  std::vector<double> shift(s, 0.0);
  std::vector<int64_t> zeros(s, 0);
  std::vector<size_t> shifted;
  for (size_t i = 0; i < s; ++i)
    if (all[static_cast<size_t>(S[i])] != 0.0)
      shifted.push_back(i);
  int64_t levels = 0;
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    ++levels;
    const double* C = row(j);
    for (const size_t i : shifted) {
      const double h = all[static_cast<size_t>(S[i])];
      zeros[i] += nearZero(C[S[i]] / st->diagonal[j] + h, h) ? 1 : 0;
    }
  }
  for (size_t i = 0; i < s; ++i)
    if (2 * zeros[i] >= levels)
      shift[i] = all[static_cast<size_t>(S[i])];
  return shift;
}
std::vector<double> levelShift(const VsfModel* m, const std::vector<int64_t>& S) {
  return levelShiftOver(m->structured, smallShifts(m), S);
}

// The swept diagonal of an effect whose block D_J is diagonal: 1 / D_j plus the form of w_j
// = C_j(S) / D_j over T^-1. With h the level shift (levelShift), w_j = v_j - h where v_j is
// nonzero only at the small columns that level j's rows meet (and the dense ones), so that
// the form is v_j' T^-1 v_j - 2 v_j' T^-1 h + h' T^-1 h: it goes over v_j's nonzero elements,
// which with a joined CLASS effect are far fewer than the small columns. An element of v_j
// within the shift's rounding of zero counts as zero.
void refreshDiagonal(const VsfModel* m, const std::vector<int64_t>& S, const SweptInverse& inv) {
  VsfStructured* st = m->structured;
  const size_t s = S.size();
  const std::vector<double> h = levelShift(m, S);
  std::vector<double> z(s, 0.0);
  double hh = 0.0;
  for (size_t i = 0; i < s; ++i) {
    for (size_t t = 0; t < s; ++t)
      z[i] += inv.at(i, t) * h[t];
    hh += h[i] * z[i];
  }
  RowSupport support(*st, S, h);
  eachSweptRow(
      st, support, s,
      [&](int64_t j, const double* C, size_t i) {
        const double v = C[S[i]] / st->diagonal[j] + h[i];
        return h[i] != 0.0 && nearZero(v, h[i]) ? 0.0 : v;
      },
      [&](int64_t j, const std::vector<double>& v, const std::vector<size_t>& nonzero) {
        double vz = 0.0;
        for (const size_t i : nonzero)
          vz += v[i] * z[i];
        return 1.0 / st->diagonal[j] + (formOver(inv, v, nonzero) - 2.0 * vz + hh);
      });
}

// What settleDiagonal returns when the swept diagonal is up to date.
constexpr size_t kSettled = std::numeric_limits<size_t>::max();

// The swept diagonal of the effect's columns formed again where the state marked it stale:
// kSettled, or the number of swept small columns whose reduced triangle has no Cholesky
// factor (the diagonal then stays stale). It depends on the state alone, so that a removal
// or entry trial that is undone never pays for it.
size_t settleDiagonal(const VsfModel* m) {
  VsfStructured* st = m->structured;
  if (!st->diagonalStale)
    return kSettled;
  const std::vector<int64_t> S = sweptSmall(m);
  // The swept columns' reduced triangle without a Cholesky factor is a fault of the matrix
  // (the rounding rule that swept them refuses dependent columns): the fit ends.
  std::vector<double> L;
  if (!vsfCholeskyOf(st->reduced, S, L))
    return S.size();
  L = {};
  const SweptInverse inv{m->sweptXpx, S};
  const SweptBlock b = sweptBlockOf(*st);
  if (b.least < 0)
    refreshDiagonal(m, S, inv);
  else
    refreshRankOne(m, S, inv, b);
  st->diagonalStale = 0;
  return kSettled;
}

// A sum that is not finite ends the fit as the packed triangle's does.
[[nodiscard]] bool finiteSums(VsfModel* m) {
  const VsfStructured* st = m->structured;
  const auto allFinite = [](const double* x, int64_t n) {
    return std::all_of(x, x + n, [](double v) { return std::isfinite(v); });
  };
  const bool finite = std::isfinite(st->rankOne) && allFinite(st->diagonal, st->columns) &&
                      allFinite(st->cross, static_cast<int64_t>(st->columns) * st->dense) &&
                      allFinite(st->joinValue, joinedCount(*st)) &&
                      allFinite(st->rankCross, st->small);
  if (!finite) {
    m->fitStatus = VsfFitStatus::Overflow;
    m->overflowEffect = st->effect;
  }
  return finite;
}

void addInto(double* total, const double* part, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    total[i] += part[i];
}

// One set of the kernel's sums made a state's: its small triangle copied out, its diagonal,
// cross block and the rankOne rows' sums where the pass left them (vsfStructuredPlaceIn).
// Those rows add the same to every off-diagonal element, and to each column's cross products
// (VsfCrossRow adds rankCross to every row).
void placeSums(VsfStructured* st, double* triangle, const double* from) {
  const int64_t T = tri(st->small), k = st->columns;
  const int64_t rankOne = T + k + k * st->dense + joinedCount(*st);
  assert(st->diagonal == from + T && st->cross == from + T + k &&
         st->rankCross == from + rankOne + 1 && "the state's sums lie in the pass's buffer");
  std::memcpy(triangle, from, sizeof(double) * static_cast<size_t>(T));
  st->rankOne = from[rankOne];
}
void complementOf(const double* total, double* part, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    part[i] = total[i] - part[i];
}

// Every page into one buffer in the order the rows were read (page k is page k / F of file
// k % F), so that every sum takes its rows in the single thread's order whatever the number
// of page files (one a thread): these sums do not depend on the thread count, as the packed
// road's shared triangle's do not. Visiting file after file took the pages in another order
// on every thread count. Pages on disk are visited file after file.
[[nodiscard]] VsfStatus readOrderPass(VsfModel* m, double* total, int64_t L) {
  VsfBagVec* vec = m->bags;
  const uint32_t F = vec != nullptr ? vec->count : 0;
  VsfStatus rc = VsfStatus::Ok;
  if (F > 0 && vsfAllPagesInMemory(vec)) {
    vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t) {
      VsfUtilFile* rec = &vec->files[f];
      rec->page.buffer = rec->memPages[j];
      rec->page.pageNumber = 0;
      rc = vsfStructuredXpX_t(m, &rec->page, total, L);
      return rc == VsfStatus::Ok;
    });
    return rc;
  }
  for (uint32_t f = 0; f < F && rc == VsfStatus::Ok; ++f)
    rc = vsfUtilReadByThreads(m, vsfStructuredXpX_t, total, L, &vec->files[f]);
  return rc;
}

// The records' effect sums as the total less each fold's part, all about the pages' shift.
void foldsOutside(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t k = st->columns, cross = k * st->dense, joined = joinedCount(*st);
  for (int32_t f = 0; f < st->foldCount; ++f) {
    const VsfStructured& F = st->folds[f];
    addInto(st->diagonal, F.diagonal, k);
    addInto(st->cross, F.cross, cross);
    addInto(st->joinValue, F.joinValue, joined);
    addInto(st->rankCross, F.rankCross, st->small);
    st->rankOne += F.rankOne;
  }
  for (int32_t f = 0; f < st->foldCount; ++f) {
    VsfStructured& F = st->folds[f];
    complementOf(st->diagonal, F.diagonal, k);
    complementOf(st->cross, F.cross, cross);
    complementOf(st->joinValue, F.joinValue, joined);
    complementOf(st->rankCross, F.rankCross, st->small);
    F.rankOne = st->rankOne - F.rankOne;
  }
}

// Adds each fold's part of element i of an effect array to the total and makes the part the
// other folds' parts, each part moved from its fold's centre along small column c (by the
// column's shift times the part's first sums of the effect's column, first(f)) to the pages'
// shift for the total and to the record's means for a record. Extended precision, the folds
// in order, as the small triangle's elements (vsfCVFullOutsideFolds).
template <class Part, class First>
void movedOutside(const VsfFoldCentres& centres, double* total, Part part, First first, int64_t i,
                  int64_t c, std::vector<double>& own) {
  const auto K = static_cast<int32_t>(own.size());
  const auto moved = [&](int32_t k, int32_t f) {
    return vsfMovedPart(own[static_cast<size_t>(f)], 0.0L, centres.shift(k, f, c), first(f), 0.0L,
                        centres.W[static_cast<size_t>(f)]);
  };
  long double sum = 0.0L;
  for (int32_t f = 0; f < K; ++f) {
    own[static_cast<size_t>(f)] = part(f)[i];
    sum += moved(K, f);
  }
  total[i] += static_cast<double>(sum);
  for (int32_t k = 0; k < K; ++k) {
    long double rest = 0.0L;
    for (int32_t f = 0; f < K; ++f)
      if (f != k)
        rest += moved(k, f);
    part(k)[i] = static_cast<double>(rest);
  }
}

// The records' effect sums where the pass summed each fold's rows about the fold's own means
// (the dense small columns; the effect's and the joining effects' columns stay raw): the
// cross products with the small columns move with the folds' centres (movedOutside), the
// effect's first sums being a level's diagonal and the rankOne rows' kVsfRankOneValue times
// their rankOne, before those parts become the records'; the rest are the other folds' parts.
void foldsAboutTheirMeans(VsfModel* m) {
  VsfStructured* st = m->structured;
  VsfStructured* F = st->folds;
  const VsfFoldCentres centres = vsfFoldCentres(m);
  std::vector<double> own(static_cast<size_t>(st->foldCount));
  const int64_t d = st->dense;
  for (int64_t j = 0; j < st->columns; ++j)
    for (int64_t c = 0; c < d; ++c)
      movedOutside(
          centres, st->cross, [F](int32_t f) { return F[f].cross; },
          [F, j](int32_t f) { return F[f].diagonal[j]; }, j * d + c, c, own);
  for (int64_t c = 0; c < st->small; ++c)
    movedOutside(
        centres, st->rankCross, [F](int32_t f) { return F[f].rankCross; },
        [F](int32_t f) { return kVsfRankOneValue * F[f].rankOne; }, c, c, own);
  const int32_t K = st->foldCount;
  foldSumsOutside(
      st->diagonal, K, [F](int32_t f) { return F[f].diagonal; }, 0, st->columns);
  foldSumsOutside(
      st->joinValue, K, [F](int32_t f) { return F[f].joinValue; }, 0, joinedCount(*st));
  foldSumsOutside(
      &st->rankOne, K, [F](int32_t f) { return &F[f].rankOne; }, 0, 1);
}

// The sums of the pass, placed in the model's and the folds' records.
[[nodiscard]] VsfStatus structuredSums(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t L = vsfStructuredXpXLength(st);
  std::fill(st->sums, st->sums + L, 0.0);
  if (const VsfStatus rc = readOrderPass(m, st->sums, L); rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  st->offDiagonal = st->sums[L - 1] != 0.0 ? 1 : 0;
  if (st->offDiagonal)
    return VsfStatus::Ok;
  const double* own = st->sums;
  placeSums(st, m->xpx, own);
  for (int32_t f = 0; f < st->foldCount; ++f)
    placeSums(&st->folds[f], m->folds[f].xpx, own + (1 + f) * vsfStructuredSegmentLength(st));
  // A fold record holds the sums of the rows outside its fold (its small triangle is made
  // so by vsfCVFullOutsideFolds, with the packed road's).
  if (m->foldCentre != nullptr)
    foldsAboutTheirMeans(m);
  else
    foldsOutside(m);
  return VsfStatus::Ok;
}

// The coefficients of small column k on the swept small columns (index, value) and on the
// effect's swept columns J (indexed by the effect's columns, 0 off J): beta_i as the triangle
// holds it (the stored element is -beta_i where k comes before i), and b_j = the row of
// B_J^-1 (C_J(k) - C_J(S) beta_S).
struct Coefficients {
  std::vector<std::pair<int64_t, double>> small;
  std::vector<double> effect;
};
Coefficients coefficientsOf(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  Coefficients b;
  std::vector<double> byColumn(static_cast<size_t>(n), 0.0);
  for (int64_t i = 1; i < n; ++i)
    if (i != k && m->sweepFlags[i] == '1') {
      b.small.emplace_back(i, (k > i ? 1.0 : -1.0) * m->sweptXpx[sym(k, i)]);
      byColumn[static_cast<size_t>(i)] = b.small.back().second;
    }
  b.effect.assign(static_cast<size_t>(st->columns), 0.0);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    // Over the row's stored values: the others meet a zero cross product.
    double t = vsfStructuredCrossAt(*st, j, k);
    eachCross(*st, j, [&](int64_t c, double v) {
      if (c != k)
        t -= v * byColumn[static_cast<size_t>(c)];
    });
    b.effect[static_cast<size_t>(j)] = t;
  }
  solveBlock(*st, sweptBlockOf(*st), b.effect);
  return b;
}

// The part of small column k's rounding root over the effect's swept columns J: the sum of
// |b_j| sqrt(D_j + rho), b_j its coefficient on column j.
double structuredRoot(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  const std::vector<double> b = coefficientsOf(m, k).effect;
  double g = 0.0;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      g += std::fabs(b[static_cast<size_t>(j)]) * std::sqrt(st->diagonal[j] + st->rankOne);
  return g;
}

// The tight form of small column k's rounding bound with the effect in the model: |v|' |X'X|
// |v| over column k, the swept small columns and the effect's swept columns J, v = (1, -b)
// (vsfPivotForm's, whose r^2 exceeds it about k-fold over the nearly orthogonal levels).
// About the means (`centred`, the intercept swept and k not the intercept) the intercept
// leaves v and a sum of columns i and l is a_il - a_i1 a_l1 / a_11, c_j = X'X(j, 1) standing
// for the effect's. The block's off-diagonal elements rho - c_j c_l / a_11 are taken at
// |rho| + |c_j c_l| / a_11, which is exact without rho, so that the form costs k s.
double structuredForm(const VsfModel* m, int64_t k, bool centred) {
  const VsfStructured* st = m->structured;
  const Coefficients b = coefficientsOf(m, k);
  const double* x = m->xpx;
  const bool about = centred && k != 1 && m->sweepFlags[1] == '1' && x[diag(1)] > 0.0;
  const double a11 = about ? x[diag(1)] : 1.0;
  const auto sum = [&](int64_t i, int64_t l) {
    return about ? x[sym(i, l)] - x[sym(i, 1)] * x[sym(l, 1)] / a11 : x[sym(i, l)];
  };
  // The small columns of v and their weights.
  std::vector<std::pair<int64_t, double>> v{{k, 1.0}};
  for (const auto& [i, beta] : b.small)
    if (!(about && i == 1) && beta != 0.0)
      v.emplace_back(i, std::fabs(beta));
  double q = 0.0;
  for (size_t i = 0; i < v.size(); ++i) {
    double s = 0.0;
    for (size_t l = 0; l < i; ++l)
      s += std::fabs(sum(v[i].first, v[l].first)) * v[l].second;
    q += v[i].second * (2.0 * s + std::fabs(sum(v[i].first, v[i].first)) * v[i].second);
  }
  // The effect's columns: their cross terms with the small ones, and their block.
  const double rho = std::fabs(st->rankOne);
  double sumB = 0.0, sumB2 = 0.0, sumBC = 0.0, sumB2C2 = 0.0;
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    const double bj = std::fabs(b.effect[static_cast<size_t>(j)]);
    if (st->swept[j] != '1' || bj == 0.0)
      continue;
    const double* C = row(j);
    const double cj = about ? C[1] : 0.0;
    double s = 0.0;
    for (const auto& [i, vi] : v)
      s += std::fabs(about ? C[i] - cj * x[sym(i, 1)] / a11 : C[i]) * vi;
    q += 2.0 * bj * s + bj * bj * std::fabs(st->diagonal[j] + st->rankOne - cj * cj / a11);
    sumB += bj;
    sumB2 += bj * bj;
    sumBC += bj * std::fabs(cj);
    sumB2C2 += bj * bj * cj * cj;
  }
  return q + rho * (sumB * sumB - sumB2) + (sumBC * sumBC - sumB2C2) / a11;
}

// The tolerance of small column c swept again after the effect's columns: the rounding this
// order can leave in its pivot, 64 u r^2 or, where that would refuse it, 64 u times the tight
// form. No 1e-8 of its diagonal: the column was taken against that in the model's own order,
// and after the levels its pivot may be a far smaller part of its diagonal and still exact.
double resweepTolerance(const VsfModel* m, int64_t c) {
  const VsfStructured* st = m->structured;
  const bool centred = vsfRuleCentred(m);
  double r = vsfPivotRoot(m->xpx, m->sweptXpx, m->sweepFlags, st->small, c, centred);
  if (!st->inModel)
    return kVsfPivotRounding * r * r;
  r += structuredRoot(m, c);
  const double tol = kVsfPivotRounding * r * r;
  if (m->sweptXpx[diag(c)] > tol)
    return tol;
  return kVsfPivotRounding * std::min(r * r, structuredForm(m, c, centred));
}

// The first column of the joined CLASS effects (the sparse effects before the many-level
// one), whose columns never meet in a row: the small columns' count without them.
int64_t joinedFrom(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  return m->sparseEffectCount > 1 ? m->effectColumn[m->sparseEffectList[0]] : st->small;
}

// The intercept refused on pages shifted about their means: the estimates are then those of
// the shifted columns without an intercept, a fit the data's columns do not make, and no
// shift can carry them back (vsfInterceptToData needs the intercept). The fit ends rather
// than print one fit and score the rows with another; vsfProcess then fits the BY group on
// the packed triangle where that fits, and reports the loss where it does not.
void interceptLost(VsfModel* m) {
  if (m->passFailure == VsfStatus::Ok)
    m->passFailure = VsfStatus::InterceptLost;
}

// Sweeps the small columns of `was` in [from, to) again, in the order of the model's effects
// but the many-level one, on the triangle in m->sweptXpx. A column is refused only when the
// rounding of this order (over the effect's columns too, when in the model) can account for
// its pivot. The count refused; `intercept` tells whether the intercept was among them.
int64_t sweepOver(VsfModel* m, const std::vector<char>& was, int64_t from, int64_t to,
                  bool* intercept) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  int64_t refused = 0;
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (e == st->effect)
      continue;
    for (int32_t c = m->effectColumn[e]; c < m->effectColumn[e] + m->effectColumns[e]; ++c) {
      if (c < from || c >= to || was[static_cast<size_t>(c)] != '1')
        continue;
      qkzsweep(m->sweptXpx, c, static_cast<int32_t>(n), m->sweepFlags, m->workVector,
               resweepTolerance(m, c));
      if (m->sweepFlags[c] == '1')
        continue;
      ++refused;
      *intercept = *intercept || e == 0;
    }
  }
  return refused;
}

// Sweeps the small columns the model had swept (`was`) again on the triangle in
// m->sweptXpx with no column swept; a column refused leaves the rank. On the small triangle
// without the effect, the joined columns go first: their block is diagonal there, so each
// of their sweeps touches only the dense columns' rows (the sweep skips rows with nothing to
// add) and a joined effect of many levels costs its levels times the dense columns squared,
// not the cube of its levels. The swept triangle is the same in any order, to rounding, but
// which of nearly dependent columns is refused is not: a spline's basis, which sums to the
// intercept, leaves the intercept swept after it a pivot of rounding's size where the
// model's order took the intercept and refused a basis column. Where that order refuses a
// column, the triangle is swept again in the model's order, so that the refusal falls where
// the model's rule puts it.
void resweepSmall(VsfModel* m, const std::vector<char>& was) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  const int64_t joined = st->inModel ? n : joinedFrom(m);
  bool intercept = false;
  std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  if (joined < n) {
    if (sweepOver(m, was, joined, n, &intercept) + sweepOver(m, was, 0, joined, &intercept) == 0)
      return;
    intercept = false;
    std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * tri(n));
    std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  }
  const int64_t refused = sweepOver(m, was, 0, n, &intercept);
  m->rank -= static_cast<int32_t>(refused);
  if (intercept && m->pagesShifted && vsfRuleCentred(m))
    interceptLost(m);
  else if (refused > 0 && st->inModel)
    vsfStructuredGiveUp(m);
}

// The arrays of one state, from the model pool; false when one does not fit.
[[nodiscard]] bool arraysOf(VsfModel* m, VsfStructured* st) {
  const int64_t k = st->columns;
  st->swept = vsfModelArray<char>(m, k);
  st->sweptDiagonal = vsfModelArray<double>(m, k);
  st->reduced = vsfModelArray<double>(m, tri(st->small));
  st->savedSwept = vsfModelArray<char>(m, k);
  st->savedSweptDiagonal = vsfModelArray<double>(m, k);
  st->savedReduced = vsfModelArray<double>(m, tri(st->small));
  st->estimates = vsfModelArray<double>(m, k);
  st->refined = vsfModelArray<double>(m, k);
  if (!st->swept || !st->sweptDiagonal || !st->reduced || !st->savedSwept ||
      !st->savedSweptDiagonal || !st->savedReduced || !st->estimates || !st->refined)
    return false;
  std::fill(st->swept, st->swept + k, '0');
  st->refinedValid = 0;
  st->diagonalStale = 0;
  return true;
}

} // namespace

VsfRecordView::VsfRecordView(VsfModel* m, int32_t f)
    : m_(m), xpx_(m->xpx), swept_(m->sweptXpx), flags_(m->sweepFlags), structured_(m->structured),
      rank_(m->rank) {
  VsfFoldRecord& F = m->folds[f];
  m->xpx = F.xpx;
  m->sweptXpx = F.sweptXpx;
  m->sweepFlags = F.sweepFlags;
  if (structured_ != nullptr)
    m->structured = &structured_->folds[f];
}

VsfRecordView::~VsfRecordView() {
  m_->xpx = xpx_;
  m_->sweptXpx = swept_;
  m_->sweepFlags = flags_;
  m_->structured = structured_;
  m_->rank = rank_;
}

namespace {

// Runs `work` on the model's own state, then on each fold record's (VsfRecordView). The first
// failing status.
template <class Work> VsfStatus eachState(VsfModel* m, Work work) {
  VsfStatus rc = work();
  for (int32_t f = 0; f < m->structured->foldCount; ++f) {
    const VsfRecordView view(m, f);
    const VsfStatus r = work();
    rc = rc != VsfStatus::Ok ? rc : r;
  }
  return rc;
}

// The entry of the effect into one state.
[[nodiscard]] VsfStatus enterOne(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  double sse;
  int32_t count;
  st->refinedValid = 0;
  if (const VsfStatus rc = pivots(m, &sse, &count, st->swept); rc != VsfStatus::Ok)
    return rc;
  double* A = st->reduced;
  vsfStructuredReduce(*st, m->xpx, A, smallShifts(m));
  // Swept again over the small columns the model had swept.
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  std::memcpy(m->sweptXpx, A, sizeof(double) * tri(n));
  m->rank += count;
  st->inModel = 1;
  resweepSmall(m, was);
  (void)vsfStructuredRefresh(m);
  return vsfStructuredSettle(m);
}

// The effect's columns out of one state.
void leaveOne(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1') {
      st->swept[j] = '0';
      m->rank -= 1;
    }
  st->inModel = 0;
  st->refinedValid = 0;
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * tri(n));
  resweepSmall(m, was);
}

// Small columns [c0, c0 + count) out of one state, by sweeping the others it had swept again
// on the reduced triangle (or the small one without the effect): its rank loses the columns
// that leave and any refused on the way.
void dropSmallOne(VsfModel* m, int64_t c0, int64_t count) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  for (int64_t c = c0; c < c0 + count; ++c)
    if (was[static_cast<size_t>(c)] == '1') {
      was[static_cast<size_t>(c)] = '0';
      m->rank -= 1;
    }
  std::memcpy(m->sweptXpx, st->inModel ? st->reduced : m->xpx, sizeof(double) * tri(n));
  resweepSmall(m, was);
  st->refinedValid = 0;
  if (st->inModel)
    st->diagonalStale = 1;
}

// Whether the one column of the effect left out is its last, which stays out whatever small
// columns have left: the levels cover every row once (vsfCoversEveryRow) and the intercept is
// still swept, so the last level is the intercept less the others, as it was when the pivots
// left it out. Its columns need not be taken again, which would cost k s^2.
bool onlyLastLevelOut(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  const int64_t k = st->columns;
  if (k < 2 || st->swept[k - 1] != '0' ||
      std::find(st->swept, st->swept + k - 1, '0') != st->swept + k - 1)
    return false;
  Block block{m, st};
  const VsfDiagonalBlock source{&block,        st->columns, blockCross,   blockDiagonal,
                                blockResponse, st->rankOne, st->rankCross};
  return vsfCoversEveryRow(m, source);
}

// The save and reload of one state's trial copies. The reduced triangle goes with the swept
// columns it was made for: a removal trial that takes the effect's columns again against
// fewer small columns (vsfStructuredRetake) remakes it, and the small columns swept back on
// reload must be refreshed against the one their state had.
void saveOne(VsfStructured* st) {
  std::memcpy(st->savedSwept, st->swept, static_cast<size_t>(st->columns));
  std::memcpy(st->savedSweptDiagonal, st->sweptDiagonal, sizeof(double) * st->columns);
  std::memcpy(st->savedReduced, st->reduced, sizeof(double) * tri(st->small));
  st->savedInModel = st->inModel;
  st->savedDiagonalStale = st->diagonalStale;
}
void reloadOne(VsfStructured* st) {
  std::memcpy(st->swept, st->savedSwept, static_cast<size_t>(st->columns));
  std::memcpy(st->sweptDiagonal, st->savedSweptDiagonal, sizeof(double) * st->columns);
  std::memcpy(st->reduced, st->savedReduced, sizeof(double) * tri(st->small));
  st->inModel = st->savedInModel;
  st->diagonalStale = st->savedDiagonalStale;
  st->refinedValid = 0;
}

// A -= the sum over the swept levels j but `least` of C_j C_j' / D_j, by the levels'
// nonzero cross products: with h the level shift (levelShiftOver) over every small column,
// C_j = D_j (v_j - h) with v_j nonzero only where level j's rows meet a joined CLASS
// effect's level (and at the dense columns), so that the sum is P - p h' - h p' + delta h h'
// with P the sum of D_j v_j v_j' over v_j's nonzero elements, p that of D_j v_j and delta
// that of D_j: the work goes with the levels' nonzero cells, not levels times the small
// triangle. Returns the sum of C_j / D_j over those levels.
std::vector<double> reduceLevels(const VsfStructured& st, int64_t least,
                                 const std::vector<double>& shifts, double* A) {
  const int64_t n = st.small;
  std::vector<int64_t> all(static_cast<size_t>(n));
  for (int64_t r = 0; r < n; ++r)
    all[static_cast<size_t>(r)] = r;
  const std::vector<double> h = levelShiftOver(&st, shifts, all);
  std::vector<double> p(static_cast<size_t>(n), 0.0), v(static_cast<size_t>(n), 0.0), w(v);
  std::vector<int64_t> nonzero;
  nonzero.reserve(static_cast<size_t>(n));
  double delta = 0.0;
  VsfCrossRow row(st);
  RowSupport support(st, all, h);
  for (int64_t j = 0; j < st.columns; ++j) {
    if (st.swept[j] != '1' || j == least)
      continue;
    const double* C = row(j);
    const double d = st.diagonal[j];
    nonzero.clear();
    for (const size_t i : support.placesOf(j)) {
      const int64_t r = static_cast<int64_t>(i);
      v[i] += C[r] / d;
      w[i] = C[r] / d + h[i];
      if (h[i] != 0.0 && nearZero(w[i], h[i]))
        w[i] = 0.0;
      if (w[i] != 0.0)
        nonzero.push_back(r);
    }
    for (size_t a = 0; a < nonzero.size(); ++a) {
      const int64_t r = nonzero[a];
      const double f = d * w[static_cast<size_t>(r)];
      double* R = A + tri(r);
      for (size_t c = 0; c <= a; ++c)
        R[nonzero[c]] -= f * w[static_cast<size_t>(nonzero[c])];
      p[static_cast<size_t>(r)] += f;
    }
    delta += d;
  }
  for (int64_t r = 0; r < n; ++r) {
    const double pr = p[static_cast<size_t>(r)], hr = h[static_cast<size_t>(r)];
    double* R = A + tri(r);
    for (int64_t q = 0; q <= r; ++q) {
      const double pq = p[static_cast<size_t>(q)], hq = h[static_cast<size_t>(q)];
      R[q] -= delta * hr * hq - pr * hq - hr * pq;
    }
  }
  return v;
}

// The places of the cross block's joining part (VsfStructured::joinStart): with sparse
// effects joining the road and every page in memory, each level keeps only the joining
// columns its rows meet (a pass over the pages' rows finds them), its row of the dense columns
// in place; otherwise every small column is in place. False when the lists do not fit.
[[nodiscard]] bool joinPattern(VsfModel* m, VsfStructured* st) {
  st->dense = st->small;
  st->joinStart = nullptr;
  st->joinColumn = nullptr;
  VsfBagVec* vec = m->bags;
  if (m->sparseEffectCount < 2 || vec == nullptr || vec->count == 0 || !vsfAllPagesInMemory(vec))
    return true;
  st->dense = m->effectColumn[m->sparseEffectList[0]];
  std::vector<std::pair<int32_t, int32_t>> pairs;
  m->structured = st;
  vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t) {
    VsfUtilFile* rec = &vec->files[f];
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    vsfStructuredJoinPairs(m, &rec->page, pairs);
    return true;
  });
  m->structured = nullptr;
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  int64_t* start = vsfModelArray<int64_t>(m, st->columns + 1);
  int32_t* column = vsfModelArray<int32_t>(m, std::max<int64_t>(int64_t(pairs.size()), 1));
  if (start == nullptr || column == nullptr)
    return false;
  std::fill(start, start + st->columns + 1, 0);
  for (size_t p = 0; p < pairs.size(); ++p) {
    ++start[pairs[p].first + 1];
    column[p] = pairs[p].second;
  }
  for (int64_t j = 0; j < st->columns; ++j)
    start[j + 1] += start[j];
  st->joinStart = start;
  st->joinColumn = column;
  return true;
}

} // namespace

bool vsfStructuredCheaper(int64_t columns, int64_t small) {
  if (const int32_t forced = seam::structuredColumns(); forced > 0)
    return columns >= forced;
  const double k = static_cast<double>(columns), s = static_cast<double>(small);
  const double packedWork = k * (k + s) * (k + s) / 2.0;
  const double structuredWork = (3.0 * k + s) * s * s / 2.0;
  return packedWork - structuredWork >= kWorthwhileWork;
}

bool vsfJoinCheaper(int64_t columns, int64_t small, int64_t rows) {
  if (!vsfStructuredCheaper(columns, small))
    return false;
  if (seam::structuredColumns() > 0)
    return true;
  const double k = static_cast<double>(columns), s = static_cast<double>(small);
  const double n = static_cast<double>(std::max<int64_t>(rows, 0));
  const double packedWork = k * (k + s) * (k + s) / 2.0;
  const double joinedWork = (3.0 * k + s) * s * s / 2.0 + n * s * s / 2.0;
  return joinedWork < packedWork;
}

VsfStatus vsfStructuredSetUp(VsfModel* m) {
  m->structured = nullptr;
  if (m->packedOnly || !served(m))
    return VsfStatus::Ok;
  VsfStructured* st = vsfModelArray<VsfStructured>(m, 1);
  if (st == nullptr)
    return VsfStatus::NoMemory;
  st->effect = vsfStructuredEffect(m);
  st->columns = m->effectColumns[st->effect];
  st->small = m->effectColumn[st->effect];
  if (!joinPattern(m, st))
    return VsfStatus::NoMemory;
  st->foldCount = vsfCvOn(m) ? m->foldCount : 0;
  st->folds = st->foldCount > 0 ? vsfModelArray<VsfStructured>(m, st->foldCount) : nullptr;
  if (st->foldCount > 0 && st->folds == nullptr)
    return VsfStatus::NoMemory;
  if (!arraysOf(m, st) || (m->options->pressNeeded && !vsfStructuredPressArrays(m, st)))
    return VsfStatus::NoMemory;
  for (int32_t f = 0; f < st->foldCount; ++f) {
    VsfStructured& F = st->folds[f];
    F.effect = st->effect;
    F.columns = st->columns;
    F.small = st->small;
    F.dense = st->dense;
    F.joinStart = st->joinStart;
    F.joinColumn = st->joinColumn;
    F.sums = nullptr;
    if (!arraysOf(m, &F))
      return VsfStatus::NoMemory;
  }
  st->sums = vsfModelArray<double>(m, vsfStructuredXpXLength(st));
  if (st->sums == nullptr)
    return VsfStatus::NoMemory;
  vsfStructuredPlaceIn(st, st->sums);
  m->structured = st;
  return VsfStatus::Ok;
}

VsfStatus vsfStructuredCrossProducts(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (const VsfStatus rc = structuredSums(m); rc != VsfStatus::Ok)
    return rc;
  if (st->offDiagonal) {
    // The effect's block is neither shape the road solves: the packed triangle of every
    // column after all.
    m->structured = nullptr;
    const int32_t columns = m->parmCount + 1;
    if (const VsfStatus rc = vsfAddXpXMemory(m, columns); rc != VsfStatus::Ok)
      return rc;
    m->xpxColumns = columns;
    std::fill(m->xpx, m->xpx + tri(columns), 0.0);
    // The folds' own sums of the small triangle are no use to the triangle of every column,
    // whose fold centres are taken again.
    for (int32_t f = 0; f < st->foldCount; ++f) {
      std::fill(m->folds[f].xpx, m->folds[f].xpx + tri(columns), 0.0);
      m->folds[f].ownXpx = nullptr;
    }
    return VsfStatus::Ok;
  }
  // A sum that is not finite is kept in m->fitStatus, which ends the fit.
  (void)finiteSums(m);
  return VsfStatus::Ok;
}

VsfStatus vsfStructuredTrial(VsfModel* m, double* sse, int32_t* sweptCount) {
  return pivots(m, sse, sweptCount, nullptr);
}

VsfStatus vsfStructuredEnter(VsfModel* m) {
  return eachState(m, [m] { return enterOne(m); });
}

void vsfStructuredLeave(VsfModel* m) {
  (void)eachState(m, [m] {
    leaveOne(m);
    return VsfStatus::Ok;
  });
}

VsfStatus vsfStructuredRefresh(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return VsfStatus::Ok;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    if (!s.inModel)
      continue;
    s.refinedValid = 0;
    s.diagonalStale = 1;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfStructuredSettle(VsfModel* m) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel || !st->diagonalStale)
    return VsfStatus::Ok;
  const size_t failed = settleDiagonal(m);
  return failed == kSettled ? VsfStatus::Ok : noFactor(m, failed);
}

double vsfStructuredPivotRoot(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  return st == nullptr || !st->inModel ? 0.0 : structuredRoot(m, k);
}

void vsfStructuredBeta(VsfModel* m, double responseScale) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return;
  const int32_t q0 = m->parmOffset[st->effect];
  std::vector<double> b = blockEstimates(*st, m->sweptXpx, sweptSmall(m));
  for (int64_t j = 0; j < st->columns; ++j) {
    const int64_t q = q0 + j;
    if (st->swept[j] != '1')
      continue;
    m->beta[q] = b[static_cast<size_t>(j)];
    const double sx = m->columnSumSquares != nullptr ? m->columnSumSquares[q] : hostMissing();
    if (responseScale > 0 && !isHostMissing(sx) && sx > 0)
      m->stdBeta[q] = m->beta[q] / (sx * responseScale);
  }
}

void vsfStructuredVariance(VsfModel* m) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel || vsfStructuredSettle(m) != VsfStatus::Ok)
    return;
  const int32_t q0 = m->parmOffset[st->effect];
  for (int64_t j = 0; j < st->columns; ++j)
    m->betaVariance[q0 + j] = st->swept[j] == '1' ? st->sweptDiagonal[j] : -1.0;
}

void vsfStructuredSave(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  saveOne(st);
  for (int32_t f = 0; f < st->foldCount; ++f)
    saveOne(&st->folds[f]);
}

void vsfStructuredReload(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  reloadOne(st);
  for (int32_t f = 0; f < st->foldCount; ++f)
    reloadOne(&st->folds[f]);
}

bool vsfStructuredAnySwept(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  return st != nullptr && st->inModel &&
         std::find(st->swept, st->swept + st->columns, '1') != st->swept + st->columns;
}

bool vsfStructuredDropSmall(VsfModel* m, int32_t k) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || k == st->effect)
    return false;
  const int64_t c0 = m->effectColumn[k], count = m->effectColumns[k];
  int64_t leaving = 0, staying = 0;
  for (int64_t c = 1; c < st->small; ++c)
    if (m->sweepFlags[c] == '1')
      ++(c >= c0 && c < c0 + count ? leaving : staying);
  if (leaving <= staying)
    return false;
  (void)eachState(m, [&] {
    dropSmallOne(m, c0, count);
    return VsfStatus::Ok;
  });
  return true;
}

void vsfStructuredRetake(VsfModel* m) {
  if (m->structured == nullptr)
    return;
  (void)eachState(m, [m]() -> VsfStatus {
    const VsfStructured* st = m->structured;
    if (!st->inModel ||
        std::find(st->swept, st->swept + st->columns, '0') == st->swept + st->columns ||
        onlyLastLevelOut(m))
      return VsfStatus::Ok;
    leaveOne(m);
    return enterOne(m);
  });
}

void vsfStructuredResweep(VsfModel* m) {
  if (m->structured == nullptr || !m->structured->inModel)
    return;
  (void)eachState(m, [m] {
    const VsfStructured* st = m->structured;
    std::vector<char> was(m->sweepFlags, m->sweepFlags + st->small);
    std::memcpy(m->sweptXpx, st->reduced, sizeof(double) * tri(st->small));
    resweepSmall(m, was);
    return vsfStructuredRefresh(m);
  });
}

double vsfStructuredFoldPart(const VsfModel* m, int32_t f, const std::vector<int64_t>& cols,
                             const std::vector<double>& u, double* bound, double* total) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return 0.0;
  const VsfStructured& R = st->folds[f];
  const std::vector<double> b =
      blockEstimates(R, m->folds[f].sweptXpx, sweptSmallOf(R, m->folds[f].sweepFlags));
  // The fold's own block is its D plus rho 1 1' with rho the fold's own.
  const double rho = st->rankOne - R.rankOne;
  // The record is held about its own means t, the model about the pages' shift: the fold's
  // own cross products about t are the model's moved there, C - t S1 (S1 the column's sum
  // over all rows), less the record's.
  const std::vector<double> t = recordShift(m, f);
  double sum = 0.0, sumU = 0.0;
  VsfCrossRow recordRow(R), modelRow(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (R.swept[j] != '1')
      continue;
    // Minus the record's coefficient of column j against the fold's own sums of its column.
    const double* Cr = recordRow(j);
    const double uj = -b[static_cast<size_t>(j)];
    const double* C = modelRow(j);
    const double first = st->diagonal[j] + kVsfRankOneValue * st->rankOne;
    const auto ownCross = [&](int64_t c) {
      return C[c] - Cr[c] - t[static_cast<size_t>(c)] * first;
    };
    const double own = st->diagonal[j] - R.diagonal[j];
    double row = 2.0 * ownCross(0) + own * uj;
    for (size_t i = 0; i < cols.size(); ++i)
      row += 2.0 * ownCross(cols[i]) * u[i];
    sum += uj * row;
    sumU += uj;
    *bound += std::fabs(uj) * std::sqrt(std::fabs(own + rho));
    *total += std::fabs(uj) * std::sqrt(std::fabs(st->diagonal[j] + st->rankOne));
  }
  return sum + rho * sumU * sumU;
}

void vsfStructuredGiveUp(VsfModel* m) {
  if (m->passFailure == VsfStatus::Ok && vsfPackedTriangleFits(m))
    m->passFailure = VsfStatus::FitLostToLevels;
}

void vsfStructuredEmpty(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    std::fill(s.swept, s.swept + s.columns, '0');
    s.inModel = 0;
    s.refinedValid = 0;
  }
}

void vsfStructuredSetEstimates(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    const double* swept = f < 0 ? m->sweptXpx : m->folds[f].sweptXpx;
    const char* flags = f < 0 ? m->sweepFlags : m->folds[f].sweepFlags;
    if (!s.inModel) {
      std::fill(s.estimates, s.estimates + s.columns, 0.0);
      continue;
    }
    const std::vector<double> b = blockEstimates(s, swept, sweptSmallOf(s, flags));
    std::copy(b.begin(), b.end(), s.estimates);
  }
}

void vsfStructuredReduce(const VsfStructured& st, const double* xpx, double* A,
                         const std::vector<double>& shifts) {
  const int64_t n = st.small;
  // The small triangle less the swept columns' part, C_J' B_J^-1 C_J: the sum of
  // C_j C_j' / D_j over J but column 0 of SweptBlock (reduceLevels), and for that column
  // (a C_0 C_0' - D_0 v v' - v C_0' - C_0 v') / g, v the sum of C_j / D_j over the others.
  std::memcpy(A, xpx, sizeof(double) * tri(n));
  const SweptBlock b = sweptBlockOf(st);
  const std::vector<double> v = reduceLevels(st, b.least, shifts, A);
  if (b.least >= 0) {
    VsfCrossRow row(st);
    const double* C0 = row(b.least);
    const double d0 = st.diagonal[b.least];
    for (int64_t r = 0; r < n; ++r)
      for (int64_t q = 0; q <= r; ++q) {
        const double vr = v[static_cast<size_t>(r)], vq = v[static_cast<size_t>(q)];
        A[tri(r) + q] -= (b.a * C0[r] * C0[q] - d0 * vr * vq - vr * C0[q] - C0[r] * vq) / b.g;
      }
  }
}

VsfBlockInverse vsfStructuredBlockInverse(const VsfStructured& st) {
  const SweptBlock b = sweptBlockOf(st);
  return {b.least, b.least >= 0 ? st.diagonal[b.least] : 0.0, b.a, b.g};
}

double vsfStructuredBlockInverseAt(const VsfStructured& st, const VsfBlockInverse& v, int64_t j,
                                   int64_t l) {
  const double own = j == l ? 1.0 / st.diagonal[j] : 0.0;
  if (v.least < 0)
    return own;
  if (j == v.least && l == v.least)
    return v.a / v.g;
  if (j == v.least || l == v.least)
    return -1.0 / (st.diagonal[j == v.least ? l : j] * v.g);
  return own - v.d0 / (st.diagonal[j] * st.diagonal[l] * v.g);
}

std::vector<double> vsfStructuredShifts(const VsfModel* m) { return smallShifts(m); }

void vsfStructuredSolve(const VsfStructured& st, std::vector<double>& r) {
  solveBlock(st, sweptBlockOf(st), r);
}

double vsfStructuredLargestInflation(const VsfModel* m, bool centred) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return 0.0;
  // A trial's state that has no factor has no bounded inflation (vsfStructuredSettle reports
  // the failure where the state is kept).
  if (settleDiagonal(m) != kSettled)
    return std::numeric_limits<double>::infinity();
  const double* x = m->xpx;
  const bool about = centred && m->sweepFlags[1] == '1' && x[diag(1)] > 0.0;
  double worst = 0.0;
  for (int64_t j = 0; j < st->columns; ++j) {
    // A level without rows (under the effect coding, its column -1 on the reference level's
    // rows alone, as in a fold record whose training rows miss the level) inflates its
    // variance by the coding's own coupling of every column, which the block's closed-form
    // inverse holds exactly: no rounding of a sweep for the refinement to restore.
    if (st->swept[j] != '1' || st->diagonal[j] == 0.0)
      continue;
    const double c = about ? vsfStructuredCrossAt(*st, j, 1) : 0.0;
    const double d = st->diagonal[j] + st->rankOne - (about ? c * c / x[diag(1)] : 0.0);
    worst = std::max(worst, std::fabs(d * st->sweptDiagonal[j]));
  }
  return worst;
}

void vsfStructuredCorrect(VsfModel* m, const double* smallSums, const double* effectSums) {
  VsfStructured* st = m->structured;
  // h_J = B_J^-1 g_J, the effect's own part of (X'X)^-1 g.
  std::vector<double> h(static_cast<size_t>(st->columns), 0.0);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      h[static_cast<size_t>(j)] = effectSums[j];
  solveBlock(*st, sweptBlockOf(*st), h);
  // delta_S = T^-1 (g_S - C_JS' h_J), T^-1 the swept block of the small columns.
  const std::vector<int64_t> S = sweptSmall(m);
  std::vector<double> g(S.size());
  for (size_t i = 0; i < S.size(); ++i)
    g[i] = smallSums[S[i]];
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1') {
      const double* C = row(j);
      for (size_t i = 0; i < S.size(); ++i)
        g[i] -= C[S[i]] * h[static_cast<size_t>(j)];
    }
  std::vector<double> delta(S.size(), 0.0);
  for (size_t i = 0; i < S.size(); ++i)
    for (size_t l = 0; l < S.size(); ++l)
      delta[i] += m->sweptXpx[sym(S[i], S[l])] * g[l];
  // Column 0 holds the small columns' negated estimates; the effect's follow from them
  // (delta_J = h_J - B_J^-1 C_JS delta_S, the second part by the elimination) plus h_J.
  for (size_t i = 0; i < S.size(); ++i)
    m->sweptXpx[at(S[i], 0)] -= delta[i];
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      st->refined[j] = (st->refinedValid ? st->refined[j] : 0.0) + h[static_cast<size_t>(j)];
  st->refinedValid = 1;
}
