// The Cholesky factor of a packed triangle between a subset of its columns (vsfCholeskyOf),
// which the many-level road's trials take over the model's swept columns and whose existence
// its swept diagonal checks (references: scripts/gen_cholesky_ref.py, mpmath).
#include "model/vsftrial.h"
#include "numerics/packedtri.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using packed::sym;
using packed::tri;

// The plain elimination, column by column and each sum over t in order: the factor the
// trials' pivots were judged on.
std::vector<double> plainFactor(const std::vector<double>& a, const std::vector<int64_t>& S) {
  const size_t n = S.size();
  std::vector<double> L(static_cast<size_t>(tri(static_cast<int64_t>(n))), 0.0);
  const auto at = [&L](size_t i, size_t j) -> double& {
    return L[static_cast<size_t>(tri(static_cast<int64_t>(i))) + j];
  };
  for (size_t j = 0; j < n; ++j) {
    double d = a[static_cast<size_t>(sym(S[j], S[j]))];
    for (size_t t = 0; t < j; ++t)
      d -= at(j, t) * at(j, t);
    at(j, j) = std::sqrt(d);
    for (size_t i = j + 1; i < n; ++i) {
      double v = a[static_cast<size_t>(sym(S[i], S[j]))];
      for (size_t t = 0; t < j; ++t)
        v -= at(i, t) * at(j, t);
      at(i, j) = v / at(j, j);
    }
  }
  return L;
}

// A factor over 37 of 39 columns (two blocks of sixteen rows and part of a third) is mpmath's
// to rounding and the plain elimination's to the bit; a diagonal set below its Schur
// complement is refused, and the columns without it keep their factor.
TEST(CholeskyOf, FactorsPackedColumnsAsThePlainElimination) {
  std::vector<double> a;
  for (const auto& row : readReferenceRows("choleskyblock/triangle.csv"))
    a.push_back(row[0]);
  const int64_t columns = 40;
  ASSERT_EQ(static_cast<int64_t>(a.size()), tri(columns));
  std::vector<int64_t> S;
  for (int64_t c = 1; c < columns; ++c)
    if (c != 4 && c != 17)
      S.push_back(c);

  std::vector<double> L;
  ASSERT_TRUE(vsfCholeskyOf(a.data(), S, L));
  ASSERT_EQ(L.size(), static_cast<size_t>(tri(static_cast<int64_t>(S.size()))));
  size_t compared = 0;
  for (const auto& r : readReferenceRows("choleskyblock/factor.csv")) {
    const auto i = static_cast<int64_t>(r[0]), j = static_cast<int64_t>(r[1]);
    // Within the elimination's rounding of row i's scale, sqrt(a_ii), the norm of L's row.
    const double scale = std::sqrt(
        a[static_cast<size_t>(sym(S[static_cast<size_t>(i)], S[static_cast<size_t>(i)]))]);
    EXPECT_NEAR(L[static_cast<size_t>(tri(i) + j)], r[2], 1e-13 * scale) << i << "," << j;
    ++compared;
  }
  EXPECT_EQ(compared, L.size());
  const std::vector<double> plain = plainFactor(a, S);
  EXPECT_EQ(std::memcmp(L.data(), plain.data(), sizeof(double) * L.size()), 0);

  const std::vector<std::vector<double>> bad = readReferenceRows("choleskyblock/bad.csv");
  ASSERT_EQ(bad.size(), 1u);
  const auto column = static_cast<int64_t>(bad[0][0]);
  ASSERT_LT(bad[0][2], 0.0); // mpmath's pivot at that diagonal
  std::vector<double> indefinite = a;
  indefinite[static_cast<size_t>(sym(column, column))] = bad[0][1];
  EXPECT_FALSE(vsfCholeskyOf(indefinite.data(), S, L));
  std::vector<int64_t> without = S;
  without.erase(std::find(without.begin(), without.end(), column));
  EXPECT_TRUE(vsfCholeskyOf(indefinite.data(), without, L));
  const std::vector<double> plainWithout = plainFactor(indefinite, without);
  EXPECT_EQ(std::memcmp(L.data(), plainWithout.data(), sizeof(double) * L.size()), 0);
}

} // namespace
