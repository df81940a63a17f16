// The rank-k update of the cross-product kernel against zscp row after row: the same bits,
// for one row up to eight, orders 1, a small odd one and 51, with zero values (skipped
// columns), negative values and unequal weights.
#include "kernels/vsfrankk.h"
#include "numerics/qkzsweep.h"

#include <gtest/gtest.h>

#include <cstring>
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
