// Tests of the modified Gram-Schmidt factorisation: orthonormality, Q R = A, dependent
// and zero columns.
#include "numerics/zgsorth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {
double rAt(const std::vector<double>& R, int row, int col) { return R[col * (col + 1) / 2 + row]; }
} // namespace

TEST(GramSchmidt, OrthonormalAndReproducesA) {
  const int m = 11, n = 5;
  std::mt19937 gen(42);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::vector<double> A(m * n), Q(m * n), R(n * (n + 1) / 2, -1.0);
  for (auto& v : A)
    v = u(gen);
  EXPECT_EQ(zgsorth(m, n, A.data(), Q.data(), R.data()), 0);
  for (int c = 0; c < n; ++c)
    for (int c2 = 0; c2 < n; ++c2) {
      double d = 0.0;
      for (int r = 0; r < m; ++r)
        d += Q[r * n + c] * Q[r * n + c2];
      EXPECT_NEAR(d, c == c2 ? 1.0 : 0.0, 1e-12) << c << "," << c2;
    }
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < n; ++c) {
      double s = 0.0;
      for (int k = 0; k <= c; ++k)
        s += Q[r * n + k] * rAt(R, k, c);
      EXPECT_NEAR(s, A[r * n + c], 1e-12) << r << "," << c;
    }
}

TEST(GramSchmidt, DependentAndZeroColumns) {
  // Columns: a, 3a, 0, b.
  const int m = 4, n = 4;
  const double a[4] = {1, 2, 0, -1}, b[4] = {0, 1, 1, 1};
  std::vector<double> A(m * n), Q(m * n), R(n * (n + 1) / 2);
  for (int r = 0; r < m; ++r) {
    A[r * n + 0] = a[r];
    A[r * n + 1] = 3.0 * a[r];
    A[r * n + 2] = 0.0;
    A[r * n + 3] = b[r];
  }
  EXPECT_EQ(zgsorth(m, n, A.data(), Q.data(), R.data()), 2);
  double na = std::sqrt(6.0);
  EXPECT_NEAR(rAt(R, 0, 0), na, 1e-14);
  EXPECT_NEAR(rAt(R, 0, 1), 3.0 * na, 1e-13); // the multiple times the earlier column's norm
  for (int c2 = 1; c2 < n; ++c2)
    EXPECT_EQ(rAt(R, 1, c2), 0.0);
  for (int c2 = 2; c2 < n; ++c2)
    EXPECT_EQ(rAt(R, 2, c2), 0.0);
  for (int r = 0; r < m; ++r) {
    EXPECT_EQ(Q[r * n + 1], 0.0);
    EXPECT_EQ(Q[r * n + 2], 0.0);
  }
  double d = 0.0, nb = 0.0;
  for (int r = 0; r < m; ++r) {
    d += Q[r * n + 0] * Q[r * n + 3];
    nb += Q[r * n + 3] * Q[r * n + 3];
  }
  EXPECT_NEAR(d, 0.0, 1e-14);
  EXPECT_NEAR(nb, 1.0, 1e-14);
}

TEST(GramSchmidt, OrthonormalInputAndEmpty) {
  const double s = std::sqrt(0.5);
  std::vector<double> A = {s, s, s, -s}, Q(4), R(3);
  EXPECT_EQ(zgsorth(2, 2, A.data(), Q.data(), R.data()), 0);
  for (int i = 0; i < 4; ++i)
    EXPECT_NEAR(Q[i], A[i], 1e-15);
  EXPECT_NEAR(R[0], 1.0, 1e-15);
  EXPECT_NEAR(R[1], 0.0, 1e-15);
  EXPECT_NEAR(R[2], 1.0, 1e-15);
  double untouched = 5.0;
  EXPECT_EQ(zgsorth(3, 0, nullptr, nullptr, &untouched), 0);
  EXPECT_EQ(untouched, 5.0);
}
