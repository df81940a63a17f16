// The inverse of the selected model's X'X on the structured road, for the post-fit hand-over:
// made from the small triangle, the many-level effect's diagonal and its cross block by the
// block inverse over the effect's columns J and the small columns S, never from a k x k
// matrix but the triangle handed over. Declared in model/vsfstructured.h.
#include "data/vsfpassstate.h"
#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"

#include <vector>

namespace {

using packed::sym;
using packed::tri;

// The selected model's parts: the reduced columns of its small columns and of the effect's
// columns, with their model columns (the effect's counted from its first).
struct Selection {
  std::vector<int32_t> smallRow, smallColumn, effectRow, effectColumn;
};

Selection selectionOf(const VsfStructured& st, const std::vector<int32_t>& source) {
  Selection s;
  for (size_t r = 0; r < source.size(); ++r) {
    const int32_t c = source[r];
    if (c >= st.small) {
      s.effectRow.push_back(static_cast<int32_t>(r));
      s.effectColumn.push_back(c - st.small);
    } else if (c >= 1) {
      s.smallRow.push_back(static_cast<int32_t>(r));
      s.smallColumn.push_back(c);
    }
  }
  return s;
}

} // namespace

bool vsfStructuredCovariance(VsfModel* m, const std::vector<int32_t>& source, double* T) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  const Selection sel = selectionOf(*st, source);
  // The effect's state with the selected columns as its swept ones (an earlier step's model
  // may hold other columns than the last).
  std::vector<char> flags(static_cast<size_t>(st->columns), '0');
  for (const int32_t j : sel.effectColumn)
    flags[static_cast<size_t>(j)] = '1';
  VsfStructured chosen = *st;
  chosen.swept = flags.data();
  // T = A_SS - C_J' B_J^-1 C_J swept over S holds T^-1, the block of the small columns.
  std::vector<double> W(static_cast<size_t>(tri(n)));
  vsfStructuredReduce(chosen, m->xpx, W.data(), vsfStructuredShifts(m));
  std::vector<char> swept(static_cast<size_t>(n), '0');
  std::vector<double> work(static_cast<size_t>(n), 0.0);
  for (const int32_t c : sel.smallColumn) {
    const double tol = vsfPivotTolerance(m->xpx, W.data(), swept.data(), n, c, vsfRuleCentred(m));
    qkzsweep(W.data(), c, static_cast<int32_t>(n), swept.data(), work.data(), tol);
    if (swept[static_cast<size_t>(c)] != '1')
      return false;
  }
  const size_t s = sel.smallColumn.size(), k = static_cast<size_t>(st->columns);
  auto inv = [&](size_t a, size_t b) {
    return W[static_cast<size_t>(sym(sel.smallColumn[a], sel.smallColumn[b]))];
  };
  // w_i = B_J^-1 C_J(., s_i) and z_i = sum over t of T^-1(i, t) w_t, by the effect's column.
  std::vector<std::vector<double>> w(s, std::vector<double>(k, 0.0)), z(s);
  for (size_t i = 0; i < s; ++i) {
    for (const int32_t j : sel.effectColumn)
      w[i][static_cast<size_t>(j)] = vsfStructuredCrossAt(*st, j, sel.smallColumn[i]);
    vsfStructuredSolve(chosen, w[i]);
  }
  for (size_t i = 0; i < s; ++i) {
    z[i].assign(k, 0.0);
    for (size_t t = 0; t < s; ++t)
      for (const int32_t j : sel.effectColumn)
        z[i][static_cast<size_t>(j)] += inv(i, t) * w[t][static_cast<size_t>(j)];
  }
  // cov(S, S) = T^-1; cov(J, S) = -B_J^-1 C_J T^-1; cov(J, J) = B_J^-1 + B_J^-1 C_J T^-1 C_J'
  // B_J^-1.
  const VsfBlockInverse blockInverse = vsfStructuredBlockInverse(chosen);
  for (size_t a = 0; a < s; ++a)
    for (size_t b = 0; b < s; ++b)
      T[sym(sel.smallRow[a], sel.smallRow[b])] = inv(a, b);
  for (size_t a = 0; a < sel.effectRow.size(); ++a) {
    const size_t j = static_cast<size_t>(sel.effectColumn[a]);
    for (size_t i = 0; i < s; ++i)
      T[sym(sel.effectRow[a], sel.smallRow[i])] = -z[i][j];
    for (size_t b = 0; b <= a; ++b) {
      const size_t l = static_cast<size_t>(sel.effectColumn[b]);
      double v = vsfStructuredBlockInverseAt(chosen, blockInverse, int64_t(j), int64_t(l));
      for (size_t i = 0; i < s; ++i)
        v += w[i][j] * z[i][l];
      T[sym(sel.effectRow[a], sel.effectRow[b])] = v;
    }
  }
  return true;
}
