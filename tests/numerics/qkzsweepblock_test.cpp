// Tests of the blocked sweep against the plain one: qkzsweep pivot after pivot for the full
// sweep, a textbook partial elimination written here for the partial one; with swept and
// unswept columns around the block, aliased columns, one pivot, a small odd block and blocks
// over several panels; the same bits on one and on several threads; sweeping twice restores.
#include "numerics/qkzsweep.h"
#include "numerics/qkzsweepblock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// X'X of n columns: an intercept, `levels` indicator columns of a factor (aliased with the
// intercept when levels > 0) and the rest standard normal; rows from a fixed seed. With a
// response, column 0 is the sum of the other columns plus noise and the rest move right.
std::vector<double> crossProducts(int n, int levels, int rows, unsigned seed,
                                  bool response = false) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> z;
  std::vector<double> a(static_cast<size_t>(n) * (n + 1) / 2, 0.0), x(n);
  const int first = response ? 1 : 0;
  for (int r = 0; r < rows; ++r) {
    for (int j = first; j < n; ++j) {
      const int c = j - first;
      x[j] = c == 0 ? 1.0 : c <= levels ? (r % levels == c - 1 ? 1.0 : 0.0) : z(gen);
    }
    if (response) {
      x[0] = z(gen);
      for (int j = 1; j < n; ++j)
        x[0] += x[j];
    }
    for (int i = 0; i < n; ++i)
      if (x[i] != 0.0)
        for (int j = 0; j <= i; ++j)
          a[static_cast<size_t>(zisub(i, j))] += x[i] * x[j];
  }
  return a;
}

struct Tolerances {
  std::vector<double> diagonal;
};
double relativeTolerance(void* context, int32_t k, double, const double*) {
  const double d = static_cast<Tolerances*>(context)->diagonal[k];
  return d > 0 ? 1e-8 * d : 1e-8;
}
Tolerances tolerancesOf(const std::vector<double>& a, int n) {
  Tolerances t;
  for (int k = 0; k < n; ++k)
    t.diagonal.push_back(a[static_cast<size_t>(zisub(k, k))]);
  return t;
}

void expectClose(const std::vector<double>& want, const std::vector<double>& got,
                 const std::string& what) {
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_NEAR(want[i], got[i], 1e-9 * (1.0 + std::fabs(want[i]))) << what << " element " << i;
}

// Full sweeps: flags set by `pre` pivots swept first, then the block against qkzsweep.
void compareFull(int n, int levels, int k0, int m, const std::vector<int>& pre, int threads) {
  std::vector<double> plain = crossProducts(n, levels, 3 * n + 11, 7u + n);
  Tolerances tol = tolerancesOf(plain, n);
  std::string plainFlags(n, '0');
  std::vector<double> work(n);
  for (int k : pre)
    qkzsweep(plain.data(), k, n, plainFlags.data(), work.data(), 1e-8);
  std::vector<double> blocked = plain;
  std::string blockFlags = plainFlags;
  int taken = 0;
  // The pivot's column before each pivot, which the block's tolerance must be shown (up to
  // sign).
  std::vector<std::vector<double>> columns;
  for (int k = k0; k < k0 + m; ++k) {
    columns.emplace_back();
    for (int i = 0; i < n; ++i)
      columns.back().push_back(std::fabs(plain[static_cast<size_t>(zisub(i, k))]));
    const double tk = relativeTolerance(&tol, k, 0.0, nullptr);
    const char before = plainFlags[k];
    qkzsweep(plain.data(), k, n, plainFlags.data(), work.data(), before == '1' ? 0.0 : tk);
    taken += plainFlags[k] != before ? 1 : 0;
  }
  // Pivots that come back out of the model are refused only when not positive.
  struct Context {
    Tolerances* tol;
    const std::string* flags;
    const std::vector<std::vector<double>>* columns;
    int k0;
  } ctx{&tol, &blockFlags, &columns, k0};
  auto tolerance = [](void* c, int32_t k, double p, const double* column) {
    auto* x = static_cast<Context*>(c);
    const std::vector<double>& want = (*x->columns)[static_cast<size_t>(k - x->k0)];
    for (size_t i = 0; i < want.size(); ++i)
      EXPECT_NEAR(want[i], std::fabs(column[i]), 1e-9 * (1.0 + want[i])) << k << " " << i;
    return (*x->flags)[k] == '1' ? 0.0 : relativeTolerance(x->tol, k, p, column);
  };
  const int32_t got =
      qkzsweepBlock(blocked.data(), n, k0, m, blockFlags.data(), false, tolerance, &ctx, threads);
  const std::string what =
      "n=" + std::to_string(n) + " block " + std::to_string(k0) + "+" + std::to_string(m);
  EXPECT_EQ(taken, got) << what;
  EXPECT_EQ(plainFlags, blockFlags) << what;
  expectClose(plain, blocked, what);
}

// Textbook partial elimination of pivots k0.. of a packed matrix: rows and columns after
// the pivot and row 0 only; returns the pivots taken.
int plainPartial(std::vector<double>& a, int n, int k0, int m, Tolerances& tol) {
  auto e = [&](int i, int j) -> double& { return a[static_cast<size_t>(zisub(i, j))]; };
  int taken = 0;
  for (int k = k0; k < k0 + m; ++k) {
    const double p = e(k, k);
    if (!(p > relativeTolerance(&tol, k, p, nullptr)))
      continue;
    ++taken;
    std::vector<int> rows{0};
    for (int i = k + 1; i < n; ++i)
      rows.push_back(i);
    std::vector<double> col(n);
    for (int i : rows)
      col[i] = e(i, k);
    for (int i : rows)
      for (int j : rows)
        if (j <= i)
          e(i, j) -= col[i] * col[j] / p;
  }
  return taken;
}

// X'X of an intercept and the Bernstein basis of degree `degree` on `rows` points of (0, 1):
// columns so nearly dependent that the swept block is an inverse only while elimination stays
// symmetric.
std::vector<double> bernsteinProducts(int degree, int rows) {
  const int n = degree + 2;
  std::vector<double> a(static_cast<size_t>(n) * (n + 1) / 2, 0.0), x(n);
  for (int r = 0; r < rows; ++r) {
    const double t = (r + 0.5) / rows;
    x[0] = 1.0;
    for (int j = 0; j <= degree; ++j)
      x[1 + j] = std::tgamma(degree + 1.0) / std::tgamma(j + 1.0) / std::tgamma(degree - j + 1.0) *
                 std::pow(t, j) * std::pow(1 - t, degree - j);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        a[static_cast<size_t>(zisub(i, j))] += x[i] * x[j];
  }
  return a;
}

// The largest element of I - D M A D^-1 over the swept columns S, M their block of the swept
// matrix `s`, A theirs of X'X `a` and D the root of A's diagonal: how far the swept block is
// from the inverse, in the columns' own scale.
long double inverseResidual(const std::vector<double>& s, const std::vector<double>& a,
                            const std::string& flags) {
  std::vector<int> S;
  for (int k = 0; k < static_cast<int>(flags.size()); ++k)
    if (flags[static_cast<size_t>(k)] == '1')
      S.push_back(k);
  const auto e = [](const std::vector<double>& m, int i, int j) {
    return static_cast<long double>(m[static_cast<size_t>(zisub(i, j))]);
  };
  long double worst = 0;
  for (const int i : S)
    for (const int j : S) {
      long double v = i == j ? 1 : 0;
      for (const int l : S)
        v -= e(s, i, l) * e(a, l, j) * std::sqrt(e(a, i, i) / e(a, j, j));
      worst = std::max(worst, std::fabs(v));
    }
  return worst;
}

} // namespace

// Nearly dependent columns (a Bernstein basis of degree 20 beside its intercept, one
// aliased): the block's swept matrix is as much an inverse of the columns taken as the plain
// sweep's. Both copies of an element between two of a panel's columns once took a pivot's
// update from products that round differently; the elimination drifted from symmetry and left
// a block 1e5 times further from the inverse, which the refinement of a fit then amplified.
TEST(QkzsweepBlock, NearlyDependentColumnsKeepTheInverse) {
  const std::vector<double> a = bernsteinProducts(20, 100);
  const int n = 22;
  Tolerances tol = tolerancesOf(a, n);
  std::vector<double> plain = a, blocked = a;
  std::string plainFlags(n, '0'), blockFlags(n, '0');
  std::vector<double> work(n);
  for (int k = 0; k < n; ++k)
    qkzsweep(plain.data(), k, n, plainFlags.data(), work.data(),
             relativeTolerance(&tol, k, 0.0, nullptr));
  qkzsweep(blocked.data(), 0, n, blockFlags.data(), work.data(), 0.0);
  qkzsweepBlock(blocked.data(), n, 1, n - 1, blockFlags.data(), false, relativeTolerance, &tol, 1);
  ASSERT_EQ(plainFlags, blockFlags);
  EXPECT_LT(inverseResidual(plain, a, plainFlags), 1e-2L);
  EXPECT_LT(inverseResidual(blocked, a, blockFlags), 1e-2L);
}

TEST(QkzsweepBlock, FullSweepMatchesPivotAfterPivot) {
  compareFull(1, 0, 0, 1, {}, 1);
  compareFull(9, 0, 2, 5, {0, 8}, 1);          // unswept and swept columns on both sides
  compareFull(81, 0, 3, 70, {0, 1, 77}, 1);    // three panels
  compareFull(90, 60, 1, 60, {0}, 1);          // an aliased indicator among 60: one refused
  compareFull(50, 0, 4, 40, {0, 5, 6, 30}, 1); // swept pivots in the block come back out
}

TEST(QkzsweepBlock, SameBitsOnOneAndManyThreads) {
  const int n = 420;
  std::vector<double> one = crossProducts(n, 300, n + 20, 3u);
  std::vector<double> many = one;
  Tolerances tol = tolerancesOf(one, n);
  std::string f1(n, '0'), f8(n, '0');
  const int32_t a =
      qkzsweepBlock(one.data(), n, 0, 400, f1.data(), false, relativeTolerance, &tol, 1);
  const int32_t b =
      qkzsweepBlock(many.data(), n, 0, 400, f8.data(), false, relativeTolerance, &tol, 8);
  EXPECT_EQ(a, b);
  EXPECT_EQ(399, a); // the intercept and 299 of the 300 indicators, 100 numeric columns
  EXPECT_EQ(f1, f8);
  EXPECT_EQ(0, std::memcmp(one.data(), many.data(), sizeof(double) * one.size()));
  compareFull(380, 100, 0, 300, {}, 8);
}

TEST(QkzsweepBlock, SweepingTwiceRestores) {
  const int n = 75;
  const std::vector<double> start = crossProducts(n, 0, 200, 11u);
  std::vector<double> a = start;
  Tolerances tol = tolerancesOf(a, n);
  std::string flags(n, '0');
  auto back = [](void*, int32_t, double, const double*) { return 0.0; };
  ASSERT_EQ(66, qkzsweepBlock(a.data(), n, 2, 66, flags.data(), false, relativeTolerance, &tol, 2));
  ASSERT_EQ(66, qkzsweepBlock(a.data(), n, 2, 66, flags.data(), false, back, nullptr, 2));
  EXPECT_EQ(std::string(n, '0'), flags);
  expectClose(start, a, "swept twice");
}

TEST(QkzsweepBlock, PartialEliminationMatchesTextbook) {
  for (int levels : {0, 70}) {
    const int n = 72;
    std::vector<double> plain = crossProducts(n, levels, 400, 5u, true);
    Tolerances tol = tolerancesOf(plain, n);
    std::vector<double> blocked = plain;
    const int want = plainPartial(plain, n, 1, n - 1, tol);
    const int got =
        qkzsweepBlock(blocked.data(), n, 1, n - 1, nullptr, true, relativeTolerance, &tol, 4);
    EXPECT_EQ(want, got) << levels;
    EXPECT_EQ(levels > 0 ? n - 2 : n - 1, got) << levels;
    // Only row 0 and the eliminated triangle matter: compare the ones the caller reads.
    EXPECT_NEAR(plain[0], blocked[0], 1e-9 * std::fabs(plain[0]));
    for (int i = 1; i < n; ++i)
      EXPECT_NEAR(plain[zisub(i, i)], blocked[zisub(i, i)],
                  1e-9 * (1 + std::fabs(plain[zisub(i, i)])))
          << levels << " diagonal " << i;
  }
}
