// Tests of the packed symmetric routines: index function, weighted cross products,
// quadratic forms and the sweep operator, by property and against a dense textbook sweep
// and a Gauss-Jordan inverse written here.
#include "numerics/qkzsweep.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {
using Dense = std::vector<std::vector<double>>;

std::vector<double> pack(const Dense& m) {
  std::vector<double> a;
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = 0; j <= i; ++j)
      a.push_back(m[i][j]);
  return a;
}

double at(const std::vector<double>& a, int i, int j) { return a[zisub(i, j)]; }

// Random symmetric positive definite matrix B'B + n I.
Dense randomSpd(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dense b(n, std::vector<double>(n));
  for (auto& row : b)
    for (auto& v : row)
      v = u(gen);
  Dense m(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k)
        m[i][j] += b[k][i] * b[k][j];
      if (i == j)
        m[i][j] += n;
    }
  return m;
}

// Textbook sweep on a full matrix: pivot 1/p, row / p, column / -p.
void denseSweep(Dense& m, int k) {
  int n = static_cast<int>(m.size());
  double p = m[k][k];
  Dense o = m;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      if (i == k && j == k)
        m[i][j] = 1.0 / p;
      else if (i == k)
        m[i][j] = o[k][j] / p;
      else if (j == k)
        m[i][j] = -o[i][k] / p;
      else
        m[i][j] = o[i][j] - o[i][k] * o[k][j] / p;
    }
}

// Gauss-Jordan inverse with partial pivoting.
Dense inverse(Dense m) {
  int n = static_cast<int>(m.size());
  Dense inv(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    inv[i][i] = 1.0;
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c]))
        piv = r;
    std::swap(m[c], m[piv]);
    std::swap(inv[c], inv[piv]);
    double d = m[c][c];
    for (int j = 0; j < n; ++j) {
      m[c][j] /= d;
      inv[c][j] /= d;
    }
    for (int r = 0; r < n; ++r) {
      if (r == c)
        continue;
      double f = m[r][c];
      for (int j = 0; j < n; ++j) {
        m[r][j] -= f * m[c][j];
        inv[r][j] -= f * inv[c][j];
      }
    }
  }
  return inv;
}

double maxAbs(const Dense& m) {
  double s = 0.0;
  for (auto& r : m)
    for (double v : r)
      s = std::fmax(s, std::fabs(v));
  return s;
}
} // namespace

TEST(PackedIndex, SymmetricAndLarge) {
  EXPECT_EQ(zisub(3, 1), 7);
  EXPECT_EQ(zisub(1, 3), 7);
  EXPECT_EQ(zisub(0, 0), 0);
  // No overflow for an order near the 32-bit limit.
  EXPECT_EQ(zisub(2000000000, 5), 2000000000LL * 2000000001LL / 2 + 5);
}

TEST(Sweep, InvertsAndSweepsBackAtSeveralSizes) {
  for (int n : {1, 7, 60}) {
    Dense m = randomSpd(n, 17u + n);
    std::vector<double> a = pack(m), orig = a, work(n);
    std::string flags(n, '0');
    for (int k = 0; k < n; ++k)
      qkzsweep(a.data(), k, n, flags.data(), work.data(), 1e-8 * at(orig, k, k));
    EXPECT_EQ(flags, std::string(n, '1'));
    Dense inv = inverse(m);
    double scale = maxAbs(inv);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        EXPECT_NEAR(at(a, i, j), inv[i][j], 1e-12 * scale) << n << ":" << i << "," << j;
    for (int k = n - 1; k >= 0; --k)
      qkzsweep(a.data(), k, n, flags.data(), work.data(), 0.0);
    EXPECT_EQ(flags, std::string(n, '0'));
    for (size_t i = 0; i < a.size(); ++i)
      EXPECT_NEAR(a[i], orig[i], 1e-12 * std::fabs(orig[i]) + 1e-12) << n << ":" << i;
  }
}

TEST(Sweep, PartialSweepsFollowTheTextbookSignConvention) {
  const int n = 9;
  Dense m = randomSpd(n, 5u);
  std::vector<double> a = pack(m), work(n);
  std::string flags(n, '0');
  Dense full = m;
  for (int k : {2, 5, 0, 7, 5}) { // pivot 5 is swept in and out again
    qkzsweep(a.data(), k, n, flags.data(), work.data(), -1e-10);
    denseSweep(full, k);
  }
  // Packed (i, j) holds the full matrix's row j, column i.
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j)
      EXPECT_NEAR(at(a, i, j), full[j][i], 1e-12 * maxAbs(full)) << i << "," << j;
  EXPECT_EQ(flags, std::string("101000010"));
}

TEST(Sweep, RegressionCoefficientsAndResidualSumOfSquares) {
  // y = 1 + 2 x exactly plus one perturbed point; compare with the normal equations.
  const double xs[5] = {0, 1, 2, 3, 4}, ys[5] = {1, 3, 5, 7.5, 9};
  std::vector<double> a(6, 0.0); // order 3: intercept, x, y
  for (int r = 0; r < 5; ++r) {
    double row[3] = {1.0, xs[r], ys[r]};
    ASSERT_EQ(zscp(row, 3, a.data(), 1.0), 1);
  }
  std::vector<double> work(3);
  std::string flags = "000";
  qkzsweep(a.data(), 0, 3, flags.data(), work.data(), 1e-8);
  qkzsweep(a.data(), 1, 3, flags.data(), work.data(), 1e-8);
  // Least squares by hand: Sxx = 10, Sxy = 21, slope 2.1, intercept 4.1... mean-based.
  double mx = 2.0, my = 5.1, sxx = 10.0, sxy = 0.0, syy = 0.0;
  for (int r = 0; r < 5; ++r) {
    sxy += (xs[r] - mx) * (ys[r] - my);
    syy += (ys[r] - my) * (ys[r] - my);
  }
  double slope = sxy / sxx, icpt = my - slope * mx, rss = syy - sxy * sxy / sxx;
  EXPECT_NEAR(at(a, 2, 0), icpt, 1e-13);
  EXPECT_NEAR(at(a, 2, 1), slope, 1e-13);
  EXPECT_NEAR(at(a, 2, 2), rss, 1e-13);
}

TEST(Sweep, ToleranceAndRefusals) {
  double one[1] = {4.0}, work[1];
  char f[1] = {'0'};
  qkzsweep(one, 0, 1, f, work, 0.0);
  EXPECT_EQ(one[0], 0.25);
  EXPECT_EQ(f[0], '1');
  qkzsweep(one, 0, 1, f, work, 0.0);
  EXPECT_EQ(one[0], 4.0);
  EXPECT_EQ(f[0], '0');

  double eq[1] = {1e-8};
  qkzsweep(eq, 0, 1, f, work, 1e-8); // equal to the tolerance: refused
  EXPECT_EQ(eq[0], 1e-8);
  EXPECT_EQ(f[0], '0');

  double neg[1] = {-2.0};
  qkzsweep(neg, 0, 1, f, work, 0.0);
  EXPECT_EQ(f[0], '0');
  qkzsweep(neg, 0, 1, f, work, -1.0); // |p| = 2 > 1: accepted
  EXPECT_EQ(f[0], '1');
  EXPECT_EQ(neg[0], -0.5);

  char odd[1] = {'x'}; // not '1': counts as not swept
  double v[1] = {2.0};
  qkzsweep(v, 0, 1, odd, work, 0.0);
  EXPECT_EQ(odd[0], '1');

  double nanp[3] = {std::nan(""), 1.0, 2.0};
  char f2[2] = {'0', '0'};
  double w2[2];
  qkzsweep(nanp, 0, 2, f2, w2, 0.0);
  EXPECT_EQ(f2[0], '0');
  EXPECT_EQ(nanp[2], 2.0);
  qkzsweep(nanp, 5, 2, f2, w2, 0.0); // pivot out of range: nothing happens
  EXPECT_EQ(nanp[2], 2.0);
}

TEST(Sweep, AliasedColumnIsRefused) {
  // Columns 0 and 1 identical: after sweeping 0 the pivot of 1 is zero up to rounding and
  // the relative tolerance of the model core refuses it.
  std::vector<double> a(6, 0.0);
  for (double x : {1.0, 2.0, 3.5, -1.0}) {
    double row[3] = {x, x, x * x};
    zscp(row, 3, a.data(), 1.0);
  }
  std::vector<double> orig = a, work(3);
  std::string flags = "000";
  qkzsweep(a.data(), 0, 3, flags.data(), work.data(), 1e-8 * orig[0]);
  qkzsweep(a.data(), 1, 3, flags.data(), work.data(), 1e-8 * orig[2]);
  EXPECT_EQ(flags, "100");
}

TEST(CrossProducts, MissingZeroWeightAndSkippedRows) {
  std::vector<double> a(6, 0.0);
  double x[3] = {1.0, 0.0, 2.0};
  EXPECT_EQ(zscp(x, 3, a.data(), 2.0), 1);
  // a += 2 x x' over the lower triangle
  const double want[6] = {2.0, 0.0, 0.0, 4.0, 0.0, 8.0};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(a[i], want[i]);
  double miss[3] = {1.0, hostMissing(), 1.0};
  EXPECT_EQ(zscp(miss, 3, a.data(), 1.0), 0);
  EXPECT_EQ(zscp(x, 3, a.data(), 0.0), 0);
  EXPECT_EQ(zscp(x, 3, a.data(), hostMissing()), 0);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(a[i], want[i]);
  EXPECT_EQ(zscp(x, 0, a.data(), 1.0), 1);
}

TEST(QuadraticForm, SingleAndSeveralVectors) {
  Dense m = randomSpd(5, 3u);
  std::vector<double> a = pack(m), work(5);
  const double X[10] = {1, -2, 0.5, 3, 0, 0.25, 1, -1, 2, 4};
  auto dense = [&](int c, int c2) {
    double s = 0.0;
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 5; ++j)
        s += X[c * 5 + i] * m[i][j] * X[c2 * 5 + j];
    return s;
  };
  double q = 0.0;
  zqform(a.data(), 5, X, 1, &q, work.data(), 0);
  EXPECT_NEAR(q, dense(0, 0), 1e-12 * std::fabs(dense(0, 0)));
  zqform(a.data(), 5, X, 1, &q, work.data(), 1);
  EXPECT_NEAR(q, 2.0 * dense(0, 0), 1e-12 * std::fabs(dense(0, 0)));
  double out[3] = {0, 0, 0};
  zqform(a.data(), 5, X, 2, out, work.data(), 0);
  EXPECT_NEAR(out[0], dense(0, 0), 1e-12 * std::fabs(dense(0, 0)));
  EXPECT_NEAR(out[1], dense(1, 0), 1e-12 * std::fabs(dense(1, 0)));
  EXPECT_NEAR(out[2], dense(1, 1), 1e-12 * std::fabs(dense(1, 1)));
  // Diagonal matrix: the weighted sum of squares.
  std::vector<double> d = {2.0, 0.0, 3.0};
  double v[2] = {1.5, -2.0}, w2[2];
  zqform(d.data(), 2, v, 1, &q, w2, 0);
  EXPECT_DOUBLE_EQ(q, 2.0 * 2.25 + 3.0 * 4.0);
  double untouched = 9.0;
  zqform(d.data(), 2, v, 0, &untouched, w2, 0);
  EXPECT_EQ(untouched, 9.0);
}
