// The rank-k update of the cross-product kernel against zscp row after row: the same bits,
// for one row up to eight, orders 1, a small odd one and 51, with zero values (skipped
// columns), negative values and unequal weights.
#include "kernels/vsfrankk.h"
#include "numerics/qkzsweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

TEST(RankUpdate, SameBitsAsAddingRowsOneByOne) {
  std::mt19937_64 gen(28);
  std::normal_distribution<double> z;
  for (int32_t n : {1, 7, 51}) {
    for (int32_t k = 1; k <= kVsfRankRows; ++k) {
      std::vector<std::vector<double>> rows(k, std::vector<double>(n));
      std::vector<double> w(k);
      for (int32_t r = 0; r < k; ++r) {
        for (double& v : rows[r])
          v = gen() % 4 == 0 ? 0.0 : z(gen) * 1e3;
        w[r] = 0.5 + static_cast<double>(gen() % 7);
      }
      const size_t T = static_cast<size_t>(n) * (n + 1) / 2;
      std::vector<double> plain(T), blocked(T);
      for (size_t i = 0; i < T; ++i)
        plain[i] = blocked[i] = z(gen);
      for (int32_t r = 0; r < k; ++r)
        ASSERT_EQ(1, zscp(rows[r].data(), n, plain.data(), w[r]));
      std::vector<const double*> x;
      for (const auto& row : rows)
        x.push_back(row.data());
      vsfRankUpdate(blocked.data(), n, x.data(), w.data(), k);
      EXPECT_EQ(0, std::memcmp(plain.data(), blocked.data(), sizeof(double) * T))
          << "n=" << n << " k=" << k;
    }
  }
}

// Four rows taking the same page rows at once give the bits of vsfAddRows for each: lengths
// that do and do not fill whole vectors, 1 to 13 rows (chunks of four and their remainders),
// and values that make the order show: large and small magnitudes, signed zeros, an infinity
// and a NaN. A NaN is any NaN: which operand's payload an addition passes on is the
// compiler's choice, and no result reads it.
TEST(RankUpdate, FourRowsAtOnceAddAsOneRowAtATime) {
  std::mt19937_64 gen(76);
  std::normal_distribution<double> z;
  const double specials[] = {0.0,
                             -0.0,
                             1e300,
                             -1e-300,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  for (int32_t len : {1, 7, 8, 23, 64}) {
    for (int32_t k = 1; k <= 13; ++k) {
      std::vector<std::vector<double>> x(k, std::vector<double>(len));
      std::vector<const double*> xs;
      for (auto& row : x) {
        for (double& v : row)
          v = gen() % 9 == 0 ? specials[gen() % 6] : z(gen) * std::pow(10.0, gen() % 13);
        xs.push_back(row.data());
      }
      std::vector<std::vector<double>> a(4, std::vector<double>(k)), four(4), one(4);
      const double* as[4];
      double* outs[4];
      for (int c = 0; c < 4; ++c) {
        for (double& v : a[c])
          v = gen() % 7 == 0 ? -0.0 : z(gen);
        four[c].resize(len);
        for (double& v : four[c])
          v = gen() % 5 == 0 ? -0.0 : z(gen) * 1e8;
        one[c] = four[c];
        as[c] = a[c].data();
        outs[c] = four[c].data();
      }
      vsfAddRowsToFour(outs, len, as, xs.data(), k);
      for (int c = 0; c < 4; ++c) {
        vsfAddRows(one[c].data(), len, a[c].data(), xs.data(), k);
        for (int32_t j = 0; j < len; ++j) {
          if (std::isnan(one[c][j]) && std::isnan(four[c][j]))
            continue;
          EXPECT_EQ(0, std::memcmp(&one[c][j], &four[c][j], sizeof(double)))
              << "len=" << len << " k=" << k << " column " << c << " element " << j;
        }
      }
    }
  }
}
