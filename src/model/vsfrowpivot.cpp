// The row pass of a doubtful pivot and the orthogonalisation that judges it.
#include "model/vsfrowpivot.h"

#include "data/vsfthread.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"
#include "support/scratcharena.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>
#include <vector>

// The thread's scratch of the row pivots' collection (support/scratcharena.h).
struct VsfRowPivotScratch {
  VsfGathered gathered; // a row's swept columns
};
VsfRowPivotScratch& VsfScratchArena::rowPivot() { return part(rowPivot_); }

namespace {

using packed::diag;

// The row's values of the in-model effects' columns.
void gatherModel(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, VsfGathered& g) {
  g.col.clear();
  g.val.clear();
  for (int32_t p = 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    const int32_t c0 = m->effectColumn[e];
    if (m->layout.sparseSlot[e] < 0) {
      const double* x = r.denseValues() + m->layout.denseOffset[e];
      for (int32_t q = 0; q < m->effectColumns[e]; ++q)
        if (x[q] != 0.0) {
          g.col.push_back(c0 + q);
          g.val.push_back(x[q]);
        }
    } else {
      const int32_t slot = m->layout.sparseSlot[e];
      for (int32_t b = r.slotBegin(S, slot); b < r.slotEnd(S, slot); ++b) {
        g.col.push_back(c0 + r.storedIndex(S, b));
        g.val.push_back(r.sparseValues[b]);
      }
    }
  }
}

// Adds the page's rows to the job's: the swept columns in their order and the judged column,
// each times the root of the row's training weight.
void collectRows(VsfPassState* m, QkPageDescriptor* page) {
  const VsfRowPivotJob& J = *m->rowPivot;
  const VsfRowShape S = vsfRowShape(m);
  VsfGathered& g = VsfScratchArena::mine().rowPivot().gathered;
  std::vector<double> rows;
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w) || !(w > 0.0) || (J.fold >= 0 && vsfFoldOf(m, S, r) == J.fold))
      return;
    const size_t at = rows.size();
    rows.resize(at + static_cast<size_t>(J.width), 0.0);
    double* row = rows.data() + at;
    const double root = std::sqrt(w);
    gatherModel(m, S, r, g);
    for (size_t i = 0; i < g.col.size(); ++i)
      if (g.col[i] < J.columns && J.place[g.col[i]] >= 0)
        row[J.place[g.col[i]]] = root * g.val[i];
  });
  const std::lock_guard<std::mutex> hold(*J.lock);
  J.rows->insert(J.rows->end(), rows.begin(), rows.end());
}

VsfStatus rowPivotRows(VsfPassState* m, QkPageDescriptor* page) {
  collectRows(m, page);
  return VsfStatus::Ok;
}
VsfStatus rowPivotRows_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  collectRows(m, page);
  return VsfStatus::Ok;
}

constinit const VsfKernelUse kRowPivotUse{VsfPageUse::Reads, nullptr, nullptr, false,
                                          nullptr,           true};
const VsfKernelRegistration kRowPivotRegistration(rowPivotRows, rowPivotRows_t, kRowPivotUse);

// Whether the rows hold the sums judged and their swept columns (`flags`): the intercept
// among them where the pages are shifted about means.
bool rowsJudge(const VsfModel* m, const char* flags) {
  if (m->structured != nullptr || m->layout.splitSparse || m->options == nullptr)
    return false;
  if (vsfMethodRidge(m->options->method))
    return false;
  return !m->shift.pagesShifted || flags[1] == '1';
}

// The sums a pivot is judged in: the model's or a fold's.
struct Judged {
  double* swept;
  const char* flags;
  int32_t fold; // -1: the model's
};

// The rows collected, `width` values each, in an order of their values alone, so that the
// pages' order (and so the thread count) leaves no trace in the factor.
std::vector<double> orderedColumns(const std::vector<double>& rows, int32_t width) {
  const size_t w = static_cast<size_t>(width), count = rows.size() / w;
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return std::lexicographical_compare(rows.begin() + a * w, rows.begin() + (a + 1) * w,
                                        rows.begin() + b * w, rows.begin() + (b + 1) * w);
  });
  std::vector<double> cols(rows.size()); // column-major
  for (size_t i = 0; i < count; ++i)
    for (size_t j = 0; j < w; ++j)
      cols[j * count + i] = rows[order[i] * w + j];
  return cols;
}

// Householder's QR of the count x width column-major matrix a, its first `steps` columns
// reflected out of every later one: R's first `steps` rows on and above the diagonal.
void householder(std::vector<double>& a, size_t count, size_t width, size_t steps) {
  for (size_t j = 0; j < steps && j < count; ++j) {
    double* x = a.data() + j * count;
    double norm = 0.0;
    for (size_t i = j; i < count; ++i)
      norm = std::hypot(norm, x[i]);
    if (norm == 0.0)
      continue;
    const double alpha = x[j] > 0 ? -norm : norm;
    x[j] -= alpha; // x[j..] is now the reflection's vector v, v'v = -2 alpha v_j
    const double half = -alpha * x[j];
    for (size_t l = j + 1; l < width; ++l) {
      double* y = a.data() + l * count;
      double t = 0.0;
      for (size_t i = j; i < count; ++i)
        t += x[i] * y[i];
      const double f = t / half;
      for (size_t i = j; i < count; ++i)
        y[i] -= f * x[i];
    }
    x[j] = alpha;
  }
}

// What the factor says of the judged column, at place s after the s swept columns: its
// pivot r_ss^2, the rounding root |x_k| + sum |b_c| |x_c| of its residual (b its
// coefficients on the swept columns), and the condition of the factor of all s + 1.
struct Factored {
  double pivot = 0.0, root = 0.0, condition = 0.0;
};

// An estimate of the condition of the swept columns' factor R with its columns scaled to the
// rows' lengths: |R D^-1|_F |D R^-1|_F.
template <class Norm>
double scaledCondition(const std::vector<double>& a, size_t count, size_t s, Norm&& norm) {
  std::vector<double> scale(s), z(s);
  double big = 0.0, inverse = 0.0;
  for (size_t j = 0; j < s; ++j) {
    scale[j] = norm(j);
    if (!(scale[j] > 0.0) || a[j * count + j] == 0.0)
      return std::numeric_limits<double>::infinity();
    for (size_t i = 0; i <= j; ++i)
      big += std::pow(a[j * count + i] / scale[j], 2);
  }
  for (size_t c = 0; c < s; ++c) { // column c of (R D^-1)^-1 = D R^-1
    std::fill(z.begin(), z.end(), 0.0);
    for (size_t i = c + 1; i-- > 0;) {
      double v = i == c ? 1.0 : 0.0;
      for (size_t l = i + 1; l <= c; ++l)
        v -= a[l * count + i] / scale[l] * z[l];
      z[i] = v / (a[i * count + i] / scale[i]);
      inverse += z[i] * z[i];
    }
  }
  return std::sqrt(big * inverse);
}

Factored factored(const std::vector<double>& cols, size_t count, size_t s) {
  const size_t width = s + 1;
  std::vector<double> a = cols;
  householder(a, count, width, width);
  auto R = [&](size_t i, size_t j) { return a[j * count + i]; };
  auto norm = [&](size_t j) {
    double n = 0.0;
    for (size_t i = 0; i < count; ++i)
      n = std::hypot(n, cols[j * count + i]);
    return n;
  };
  Factored f;
  std::vector<double> coef(s, 0.0);
  for (size_t i = s; i-- > 0;) {
    double v = R(i, s);
    for (size_t l = i + 1; l < s; ++l)
      v -= R(i, l) * coef[l];
    coef[i] = R(i, i) != 0.0 ? v / R(i, i) : 0.0;
  }
  const double rss = s < count ? R(s, s) : 0.0;
  f.pivot = rss * rss;
  f.root = norm(s);
  for (size_t i = 0; i < s; ++i)
    f.root += std::fabs(coef[i]) * norm(i);
  f.condition = scaledCondition(a, count, std::min(width, count), norm);
  return f;
}

// The places of a row judgement: the swept columns in order, then the judged one. `at` is empty
// where a swept column or column k is no in-model effect's (the rows cannot give them).
struct Layout {
  std::vector<int32_t> place; // per X'X column (-1: not in the rows)
  std::vector<int32_t> at;    // per place, the X'X column
  size_t swept = 0;
};

Layout layout(const VsfModel* m, const char* flags, int64_t k) {
  const int32_t n = m->xpxColumns;
  std::vector<char> held(static_cast<size_t>(n), 0);
  for (int32_t p = 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    for (int32_t c = m->effectColumn[e]; c < m->effectColumn[e] + m->effectColumns[e]; ++c)
      if (c > 0 && c < n)
        held[static_cast<size_t>(c)] = 1;
  }
  Layout L;
  L.place.assign(static_cast<size_t>(n), -1);
  auto put = [&](int32_t c) {
    L.place[static_cast<size_t>(c)] = static_cast<int32_t>(L.at.size());
    L.at.push_back(c);
  };
  for (int32_t c = 1; c < n; ++c)
    if (flags[c] == '1') {
      if (held[static_cast<size_t>(c)] == 0)
        return {};
      put(c);
    }
  if (held[static_cast<size_t>(k)] == 0)
    return {};
  L.swept = L.at.size();
  put(static_cast<int32_t>(k));
  return L;
}

// vsfRowPivot in the sums A, the floor `floor` under the pivot.
VsfStatus judge(VsfModel* m, const Judged& A, int64_t k, double floor, double* pivot) {
  *pivot = 0.0;
  if (!rowsJudge(m, A.flags))
    return VsfStatus::Ok;
  const Layout L = layout(m, A.flags, k);
  if (L.at.empty())
    return VsfStatus::Ok;
  VsfRowPivotJob J;
  J.columns = m->xpxColumns;
  J.fold = A.fold;
  J.width = static_cast<int32_t>(L.at.size());
  // Bounded: a design whose rows would not fit in kVsfRowPivotValues, or whose factor would
  // take more than kVsfRowPivotWork, keeps the refusal.
  const double rowsTimesWidth = static_cast<double>(m->totals.nRead) * J.width;
  if (rowsTimesWidth > kVsfRowPivotValues || rowsTimesWidth * J.width > kVsfRowPivotWork)
    return VsfStatus::Ok;
  J.place = L.place.data();
  std::vector<double> rows;
  std::mutex lock;
  J.rows = &rows;
  J.lock = &lock;
  m->rowPivot = &J;
  const VsfStatus rc = vsfDataPass(m, rowPivotRows, rowPivotRows_t, 0);
  m->rowPivot = nullptr;
  if (rc != VsfStatus::Ok)
    return rc;
  const size_t width = L.at.size(), count = rows.size() / width;
  const Factored f = factored(orderedColumns(rows, J.width), count, L.swept);
  const double p = f.pivot;
  // Householder's factor is exact for rows off by a few u of each column's length, which
  // moves the root of the pivot by at most that times the residual's terms; the factor is
  // the rank rule's own.
  const double bound = kVsfPivotRounding * static_cast<double>(L.swept + 2) *
                       std::sqrt(static_cast<double>(count)) * f.root;
  // The bound holds to first order: swept columns whose factor's condition times that
  // rounding is not small leave the rows' pivot as doubtful as the sums'.
  const double first = kVsfPivotRounding * static_cast<double>(L.swept + 2) *
                       std::sqrt(static_cast<double>(count)) * f.condition;
  if (!(p > floor) || !(std::sqrt(p) > bound) || !(first <= kVsfRowPivotFirstOrder))
    return VsfStatus::Ok;
  // The sweep goes on from the swept sums: a pivot they give far from the rows' leaves
  // them too little of the column to carry, and the column stays out.
  const double agreement = A.fold < 0 ? kVsfRowPivotAgreement : kVsfFoldPivotAgreement;
  if (!(std::fabs(A.swept[diag(k)] - p) <= agreement * p))
    return VsfStatus::Ok;
  *pivot = p;
  return VsfStatus::Ok;
}

} // namespace

bool vsfPivotDoubtful(double pivot, double tol, double diagonal) {
  return tol > vsfSweepTolerance(diagonal) && pivot > tol / kVsfDoubtfulBand;
}

VsfStatus vsfRowPivot(VsfModel* m, int64_t k, double diagonal, double* pivot) {
  return judge(m, {m->sweptXpx, m->sweepFlags, -1}, k, kVsfRowPivotFloor * diagonal, pivot);
}

VsfStatus vsfFoldRowPivot(VsfModel* m, int32_t f, int64_t k, double* pivot) {
  VsfFoldRecord& F = m->cv.folds[f];
  return judge(m, {F.sweptXpx, F.sweepFlags, f}, k, 0.0, pivot);
}
