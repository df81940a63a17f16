// The adaptive weights' least-squares fit over split levels stored sparse. A row holds at most
// one level of the split effect, so the levels' centred and scaled block of X'X is
// diag(a) - v v' (v the levels' scaled sums over sqrt W): it is solved by Sherman-Morrison, the
// dense columns by their Schur complement, and one pass forms every sum in O(rows x columns).
#include "model/vsfsplitadaptive.h"

#include "data/vsfdata.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfadaptive.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/notbuilt.h"
#include "support/scratcharena.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <vector>

// The thread's scratch of the split levels' adaptive sums (support/scratcharena.h): the dense
// effects, listed afresh on every call.
struct VsfSplitFitScratch {
  std::vector<int32_t> effect, offset;             // a body's
  std::vector<int32_t> layoutEffect, layoutOffset; // layoutOf's, which the bodies call
};
VsfSplitFitScratch& VsfScratchArena::splitFit() { return part(splitFit_); }

namespace {

using packed::at;
using packed::sym;
using packed::tri;

// The pass's sums, laid end to end: the count of rows that hold two levels of the split
// effect, the packed cross products of [y, dense columns], then per effect e (a split level)
// its weighted sum of squares, its product with y and with each dense column.
struct Layout {
  int64_t d = 0, effects = 0;
  [[nodiscard]] int64_t gram() const { return 1; }
  [[nodiscard]] int64_t level(int64_t e) const { return 1 + tri(d + 1) + e * (d + 2); }
  [[nodiscard]] int64_t length() const { return level(effects); }
};

Layout layoutOf(const VsfPassState* m) {
  VsfSplitFitScratch& scratch = VsfScratchArena::mine().splitFit();
  std::vector<int32_t>& effect = scratch.layoutEffect;
  std::vector<int32_t>& offset = scratch.layoutOffset;
  vsfDenseEffects(m, effect, offset);
  return Layout{static_cast<int64_t>(effect.size()), m->effectCount};
}

void fitSumsBody(VsfPassState* m, QkPageDescriptor* page, double* B) {
  const VsfRowShape S = vsfRowShape(m);
  VsfSplitFitScratch& scratch = VsfScratchArena::mine().splitFit();
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  vsfDenseEffects(m, effect, offset);
  const Layout L = layoutOf(m);
  double* G = B + L.gram();
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w))
      return;
    const double* dense = r.denseValues();
    const double y = r.y[0];
    G[0] += w * y * y;
    for (int64_t i = 0; i < L.d; ++i) {
      const double wx = w * dense[offset[i]];
      G[at(i + 1, 0)] += wx * y;
      for (int64_t j = 0; j <= i; ++j)
        G[at(i + 1, j + 1)] += wx * dense[offset[j]];
    }
    for (int32_t s = 0; s < S.sparse; ++s)
      if (r.slotEnd(S, s) - r.slotBegin(S, s) > 1)
        B[0] += 1.0;
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) {
      double* l = B + L.level(e);
      const double wx = w * x;
      l[0] += wx * x;
      l[1] += wx * y;
      for (int64_t i = 0; i < L.d; ++i)
        l[2 + i] += wx * dense[offset[i]];
    });
  });
}

VsfStatus vsfSplitFitSums(VsfPassState* m, QkPageDescriptor* page) {
  fitSumsBody(m, page, m->adaptive.splitFitSums);
  return VsfStatus::Ok;
}
VsfStatus vsfSplitFitSums_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  fitSumsBody(m, page, buffer);
  return VsfStatus::Ok;
}
int64_t fitSumsLength(const VsfPassState* m, int64_t) { return layoutOf(m).length(); }
void storeFitSums(VsfPassState* m, const double* B, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    m->adaptive.splitFitSums[i] += B[i];
}

constinit const VsfKernelUse kFitSumsUse{VsfPageUse::Reads, fitSumsLength, storeFitSums, true};
const VsfKernelRegistration kFitSumsRegistration(vsfSplitFitSums, vsfSplitFitSums_t, kFitSumsUse);

// The residual pass of the fit's refinement. splitFitSums holds the coefficients (the
// constant, the dense columns', each split effect's times its scale), then the sums the pass
// adds: the residual's weighted sum, its products with the dense columns, then with each split
// effect's raw value. The two halves have the same length.
int64_t residualSumsLength(const VsfPassState* m, int64_t) {
  return 1 + layoutOf(m).d + m->effectCount;
}

void residualSumsBody(VsfPassState* m, QkPageDescriptor* page, double* B) {
  const VsfRowShape S = vsfRowShape(m);
  VsfSplitFitScratch& scratch = VsfScratchArena::mine().splitFit();
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  vsfDenseEffects(m, effect, offset);
  const int64_t d = static_cast<int64_t>(effect.size());
  const double* b = m->adaptive.splitFitSums;
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w))
      return;
    const double* dense = r.denseValues();
    double res = r.y[0] + b[0];
    for (int64_t i = 0; i < d; ++i)
      res -= b[1 + i] * dense[offset[i]];
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) { res -= b[1 + d + e] * x; });
    const double wr = w * res;
    B[0] += wr;
    for (int64_t i = 0; i < d; ++i)
      B[1 + i] += wr * dense[offset[i]];
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) { B[1 + d + e] += wr * x; });
  });
}

VsfStatus vsfSplitResidualSums(VsfPassState* m, QkPageDescriptor* page) {
  residualSumsBody(m, page, m->adaptive.splitFitSums + residualSumsLength(m, 0));
  return VsfStatus::Ok;
}
VsfStatus vsfSplitResidualSums_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  residualSumsBody(m, page, buffer);
  return VsfStatus::Ok;
}
void storeResidualSums(VsfPassState* m, const double* B, int64_t n) {
  double* sums = m->adaptive.splitFitSums + n;
  for (int64_t i = 0; i < n; ++i)
    sums[i] += B[i];
}

constinit const VsfKernelUse kResidualSumsUse{VsfPageUse::Reads, residualSumsLength,
                                              storeResidualSums, true};
const VsfKernelRegistration kResidualSumsRegistration(vsfSplitResidualSums, vsfSplitResidualSums_t,
                                                      kResidualSumsUse);

// The solve of the full least-squares fit on the centred and scaled columns.
struct SplitFit {
  const VsfModel* m = nullptr;
  const double* B = nullptr;
  Layout L;
  std::vector<int32_t> dense;   // weighted dense effects, in order (position in the sums)
  std::vector<int32_t> denseAt; // their index among the pass's dense columns
  std::vector<int32_t> levels;  // split levels swept, in order
  std::vector<double> a, v, s;  // per level: diagonal, rank-one vector, scale
  std::vector<double> centre;   // per level: the mean its column is centred by
  double r = 1.0;               // 1 - v' diag(a)^-1 v over the swept levels
  bool aliased = false;

  // Sweeps the levels in order: a level's pivot after the earlier ones is a - v^2 / r. The
  // rank rule judges it against its diagonal about the mean, a - v^2, and against the
  // rounding of this elimination: r carries an error of about u (1 - r), which v^2 / r
  // magnifies by 1 / r, so the pivot's bound is u (a + v^2 / r^2). A level that fails leaves
  // the fit (aliased).
  void sweepLevels(std::vector<uint8_t>& out) {
    const double W = m->totals.wTrain;
    const bool intercept = !m->options->noint;
    for (int32_t e = 0; e < m->effectCount; ++e) {
      if (m->layout.denseOffset[e] >= 0 || !vsfAdaptiveWeighted(m, e))
        continue;
      const double* l = B + L.level(e);
      const double scale = vsfSplitScale(m, e);
      const double mean = intercept ? m->moments.columnSums[e] : 0.0;
      const double ae = scale * scale * l[0];
      const double ve = scale * mean * std::sqrt(W);
      const double pivot = ae - ve * ve / r;
      if (!(pivot > vsfRoundingTolerance(ae - ve * ve, std::sqrt(ae + ve * ve / (r * r))))) {
        out[e] = 1;
        aliased = true;
        continue;
      }
      levels.push_back(e);
      a.push_back(ae);
      v.push_back(ve);
      s.push_back(scale);
      centre.push_back(mean);
      r -= ve * ve / ae;
    }
  }

  // The levels' products with dense column i (-1: the response), centred and scaled.
  [[nodiscard]] std::vector<double> levelProducts(int64_t i) const {
    std::vector<double> u(levels.size());
    for (size_t q = 0; q < levels.size(); ++q)
      u[q] = s[q] * B[L.level(levels[q]) + 2 + i];
    return u;
  }

  // diag(a) - v v' solved for u in place (Sherman-Morrison).
  void solve(std::vector<double>& u) const {
    double t = 0.0;
    for (size_t q = 0; q < u.size(); ++q) {
      u[q] /= a[q];
      t += v[q] * u[q];
    }
    const double f = t / r;
    for (size_t q = 0; q < u.size(); ++q)
      u[q] += f * v[q] / a[q];
  }
};

double dot(const std::vector<double>& x, const std::vector<double>& y) {
  double t = 0.0;
  for (size_t i = 0; i < x.size(); ++i)
    t += x[i] * y[i];
  return t;
}

// The fit's coefficients: the weighted dense columns' (0 where aliased) and the swept levels'.
struct Coefficients {
  std::vector<double> dense, levels;
};

// The solved fit: the dense columns' Schur complement C swept (its swept block the inverse),
// the levels' products u with [y, dense columns] and their solves w.
struct Schur {
  const SplitFit& F;
  const std::vector<double>& C;
  const std::vector<char>& flags;
  const std::vector<std::vector<double>>& u;
  const std::vector<std::vector<double>>& w;

  // The dense ones from the sweep, the levels' from the response's solve less the dense
  // columns' part.
  [[nodiscard]] Coefficients coefficients() const {
    Coefficients b{std::vector<double>(F.dense.size(), 0.0), w[0]};
    for (size_t i = 1; i < flags.size(); ++i)
      if (flags[i] == '1')
        b.dense[i - 1] = -C[at(static_cast<int64_t>(i), 0)];
    levelsLess(b);
    return b;
  }

  // The solution of the fit's normal equations for the right-hand sides b (levels', dense
  // columns'), in place: the levels' solve, the Schur complement's, the levels' back
  // substitution.
  void solve(Coefficients& b) const {
    F.solve(b.levels);
    std::vector<double> h(b.dense.size());
    for (size_t i = 0; i < h.size(); ++i)
      h[i] = b.dense[i] - dot(u[i + 1], b.levels);
    for (size_t i = 0; i < h.size(); ++i) {
      double t = 0.0;
      if (flags[i + 1] == '1')
        for (size_t j = 0; j < h.size(); ++j)
          if (flags[j + 1] == '1')
            t += C[sym(static_cast<int64_t>(i + 1), static_cast<int64_t>(j + 1))] * h[j];
      b.dense[i] = t;
    }
    levelsLess(b);
  }

  void levelsLess(Coefficients& b) const {
    for (size_t i = 0; i < b.dense.size(); ++i)
      for (size_t q = 0; q < b.levels.size(); ++q)
        b.levels[q] -= b.dense[i] * w[i + 1][q];
  }
};

// Two corrections of the coefficients on their residuals over the rows (iterative refinement):
// X'r under the current coefficients, solved as the fit was. The sums' rounding of X'X sets
// the solve's error; the residuals set the corrected fit's.
[[nodiscard]] VsfStatus refine(VsfModel* m, const SplitFit& F, const Schur& S, Coefficients& b) {
  const int64_t d = F.L.d, k = 1 + d + m->effectCount;
  std::vector<double> buf(static_cast<size_t>(2 * k));
  for (int32_t pass = 0; pass < 2; ++pass) {
    std::fill(buf.begin(), buf.end(), 0.0);
    for (size_t i = 0; i < F.dense.size(); ++i)
      buf[1 + F.denseAt[i]] = b.dense[i];
    for (size_t q = 0; q < F.levels.size(); ++q) {
      buf[1 + d + F.levels[q]] = b.levels[q] * F.s[q];
      buf[0] += b.levels[q] * F.s[q] * F.centre[q];
    }
    m->adaptive.splitFitSums = buf.data();
    const VsfStatus rc = vsfDataPass(m, vsfSplitResidualSums, vsfSplitResidualSums_t, 0);
    m->adaptive.splitFitSums = nullptr;
    if (rc != VsfStatus::Ok)
      return rc;
    const double* R = buf.data() + k;
    Coefficients g{std::vector<double>(F.dense.size()), std::vector<double>(F.levels.size())};
    for (size_t i = 0; i < F.dense.size(); ++i)
      g.dense[i] = R[1 + F.denseAt[i]];
    for (size_t q = 0; q < F.levels.size(); ++q)
      g.levels[q] = F.s[q] * (R[1 + d + F.levels[q]] - F.centre[q] * R[0]);
    S.solve(g);
    for (size_t i = 0; i < F.dense.size(); ++i)
      b.dense[i] += g.dense[i];
    for (size_t q = 0; q < F.levels.size(); ++q)
      b.levels[q] += g.levels[q];
  }
  return VsfStatus::Ok;
}

int32_t setWeight(VsfModel* m, int32_t e, double b) {
  int32_t status = 0;
  m->adaptive.adaptiveWeight[e] = vsfAdaptiveWeightOf(b, m->options->gamma, &status);
  return status;
}

} // namespace

bool vsfOneSplitEffect(const VsfDataSettings* s) {
  int32_t slots = 0;
  for (int32_t i = 0; i < s->entryCount; ++i) {
    const VsfEffectEntry& e = s->entries[i];
    if (e.sparseVote &&
        !(i > 0 && s->entries[i - 1].sparseVote && s->entries[i - 1].effect == e.effect))
      ++slots;
  }
  return slots <= 1;
}

int32_t vsfSplitLSAdaptiveWeights(VsfModel* m) {
  m->adaptiveAliased = 0;
  SplitFit F;
  F.m = m;
  F.L = layoutOf(m);
  std::vector<double> sums(static_cast<size_t>(F.L.length()), 0.0);
  m->adaptive.splitFitSums = sums.data();
  const VsfStatus rc = vsfDataPass(m, vsfSplitFitSums, vsfSplitFitSums_t, 0);
  m->adaptive.splitFitSums = nullptr;
  if (rc != VsfStatus::Ok)
    return codeOf(rc);
  // The reading pass keeps the dense rows for any other layout (vsfOneSplitEffect).
  if (sums[0] > 0.0 || vsfRowShape(m).sparse > 1)
    return vsfNotBuiltInternal("vsfSplitLSAdaptiveWeights: a row holds two split levels");
  F.B = sums.data();
  std::vector<int32_t> effect, offset;
  vsfDenseEffects(m, effect, offset);
  for (size_t i = 0; i < effect.size(); ++i)
    if (vsfAdaptiveWeighted(m, effect[i])) {
      F.dense.push_back(effect[i]);
      F.denseAt.push_back(static_cast<int32_t>(i));
    }
  std::vector<uint8_t> aliased(static_cast<size_t>(m->effectCount), 0);
  F.sweepLevels(aliased);

  // The levels' solves of the response and of each dense column, then the dense columns'
  // Schur complement [y, X] less the levels' part, swept in order.
  const int32_t n = static_cast<int32_t>(F.dense.size()) + 1;
  std::vector<std::vector<double>> u(static_cast<size_t>(n)), w(static_cast<size_t>(n));
  const double* G = F.B + F.L.gram();
  std::vector<double> C(static_cast<size_t>(tri(n)));
  for (int32_t i = 0; i < n; ++i) {
    const int64_t gi = i == 0 ? 0 : F.denseAt[i - 1] + 1;
    u[i] = F.levelProducts(gi - 1);
    w[i] = u[i];
    F.solve(w[i]);
    for (int32_t j = 0; j <= i; ++j) {
      const int64_t gj = j == 0 ? 0 : F.denseAt[j - 1] + 1;
      C[at(i, j)] = G[at(gi, gj)] - dot(u[i], w[j]);
    }
  }
  std::vector<char> flags(static_cast<size_t>(n), '0');
  std::vector<double> work(static_cast<size_t>(n));
  // The dense columns take the rank rule on the Schur complement C of the levels (its own
  // rounding bound), judged against 1e-8 of each column's whole diagonal.
  const std::vector<double> C0 = C;
  for (int32_t i = 1; i < n; ++i) {
    const double d = G[at(F.denseAt[i - 1] + 1, F.denseAt[i - 1] + 1)];
    const double tol = std::max(vsfSweepTolerance(d),
                                vsfPivotTolerance(C0.data(), C.data(), flags.data(), n, i, false));
    qkzsweep(C.data(), i, n, flags.data(), work.data(), tol);
    if (flags[i] == '0') {
      aliased[F.dense[i - 1]] = 1;
      F.aliased = true;
    }
  }
  Schur S{F, C, flags, u, w};
  Coefficients b = S.coefficients();
  if (const VsfStatus rc = refine(m, F, S, b); rc != VsfStatus::Ok)
    return codeOf(rc);
  for (int32_t i = 1; i < n; ++i)
    if (int32_t st = setWeight(m, F.dense[i - 1], b.dense[i - 1]); st != 0)
      return st;
  for (size_t q = 0; q < F.levels.size(); ++q)
    if (int32_t st = setWeight(m, F.levels[q], b.levels[q]); st != 0)
      return st;
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (aliased[e]) {
      m->effectStatus[e] = VES_UNAVAILABLE;
      m->adaptive.adaptiveWeight[e] = 0.0;
      m->adaptiveAliased += 1;
    }
  return 0;
}
