// The blocked rank-k update of the cross-product kernel: exact on integer rows (sums formed
// here in integers), the plain rank-8 form's sums to rounding on real rows, and the same bits
// whichever rows of the triangle a call updates and wherever the blocks are cut, as the
// threaded parts and the serial pass need.
#include "kernels/vsfgramk.h"
#include "kernels/vsfrankk.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Block {
  std::vector<std::vector<double>> rows;
  std::vector<const double*> x;
  std::vector<double> w;
};

// k rows of order n from `value`, a quarter of the values zero, weights from `weight`.
template <class Value, class Weight>
Block block(int32_t n, int32_t k, std::mt19937_64& gen, Value value, Weight weight) {
  Block b;
  b.rows.assign(k, std::vector<double>(n));
  for (auto& row : b.rows) {
    for (double& v : row)
      v = gen() % 4 == 0 ? 0.0 : value();
    b.x.push_back(row.data());
    b.w.push_back(weight());
  }
  return b;
}

size_t tri(int32_t n) { return static_cast<size_t>(n) * (n + 1) / 2; }

TEST(GramUpdate, ExactOnIntegerRowsAndPlainFormsSumsOnRealRows) {
  std::mt19937_64 gen(54);
  std::normal_distribution<double> z;
  for (int32_t n : {1, 7, 17, 51, 300}) {
    for (int32_t k : {1, 5, 9, kVsfGramRows}) {
      auto small = [&] { return static_cast<double>(static_cast<int64_t>(gen() % 41) - 20); };
      Block ints = block(n, k, gen, small, [&] { return static_cast<double>(1 + gen() % 3); });
      std::vector<double> T(tri(n), 0.0);
      vsfGramUpdateRows(T.data(), n, ints.x.data(), ints.w.data(), k, 0, n);
      for (int32_t i = 0, at = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j, ++at) {
          int64_t want = 0;
          for (int32_t r = 0; r < k; ++r)
            want += static_cast<int64_t>(ints.w[r] * ints.rows[r][i] * ints.rows[r][j]);
          ASSERT_EQ(static_cast<double>(want), T[at]) << n << " " << k << " " << i << " " << j;
        }
      Block real = block(
          n, k, gen, [&] { return z(gen) * 1e3; }, [&] { return 0.5 + z(gen) * z(gen); });
      std::vector<double> blocked(tri(n)), plain(tri(n));
      for (size_t i = 0; i < blocked.size(); ++i)
        blocked[i] = plain[i] = z(gen) * 1e6;
      vsfGramUpdateRows(blocked.data(), n, real.x.data(), real.w.data(), k, 0, n);
      for (int32_t r = 0; r < k; r += kVsfRankRows)
        vsfRankUpdate(plain.data(), n, real.x.data() + r, real.w.data() + r,
                      std::min(kVsfRankRows, k - r));
      // Each element is a sum of k + 1 terms of about 1e6: rounding leaves some 1e-16 of
      // their absolute sum per term.
      for (size_t i = 0; i < blocked.size(); ++i)
        EXPECT_NEAR(plain[i], blocked[i], 1e-12 * (k + 1) * 1e7) << n << " " << k << " " << i;
    }
  }
}

TEST(GramUpdate, SameBitsWhicheverRowsAndBlocks) {
  std::mt19937_64 gen(8);
  std::normal_distribution<double> z;
  const int32_t n = 203, k = kVsfGramRows;
  Block b = block(
      n, k, gen, [&] { return z(gen); }, [&] { return 1.0 + z(gen) * z(gen); });
  std::vector<double> start(tri(n));
  for (double& v : start)
    v = z(gen);
  std::vector<double> whole = start;
  vsfGramUpdateRows(whole.data(), n, b.x.data(), b.w.data(), k, 0, n);
  // The triangle's rows in eight parts cut anywhere, as the threaded parts cut them.
  std::vector<double> parts = start;
  const int32_t cuts[] = {0, 3, 40, 41, 90, 128, 150, 199, n};
  for (int c = 0; c + 1 < 9; ++c)
    vsfGramUpdateRows(parts.data(), n, b.x.data(), b.w.data(), k, cuts[c], cuts[c + 1]);
  EXPECT_EQ(0, std::memcmp(whole.data(), parts.data(), sizeof(double) * whole.size()));
  // The rows in blocks cut elsewhere: one row, then 100, then the rest.
  std::vector<double> cut = start;
  const int32_t at[] = {0, 1, 101, k};
  for (int c = 0; c + 1 < 4; ++c)
    vsfGramUpdateRows(cut.data(), n, b.x.data() + at[c], b.w.data() + at[c], at[c + 1] - at[c], 0,
                      n);
  EXPECT_EQ(0, std::memcmp(whole.data(), cut.data(), sizeof(double) * whole.size()));
  // The late rows of one triangle and the early rows of another in turn, as a part whose
  // share ends one fold and starts the next adds its blocks: the panels this thread keeps,
  // left larger by the other share, give each the bits of its blocks alone on a fresh thread.
  auto lateRows = [&](std::vector<double>& T) {
    vsfGramUpdateRows(T.data(), n, b.x.data(), b.w.data(), k / 4, 150, n);
  };
  auto earlyRows = [&](std::vector<double>& T) {
    vsfGramUpdateRows(T.data(), n, b.x.data(), b.w.data(), k / 4, 0, 40);
  };
  std::vector<double> late = start, early = start, lateAlone = start, earlyAlone = start;
  for (int turn = 0; turn < 3; ++turn) {
    lateRows(late);
    earlyRows(early);
  }
  std::thread([&] {
    for (int turn = 0; turn < 3; ++turn)
      lateRows(lateAlone);
  }).join();
  std::thread([&] {
    for (int turn = 0; turn < 3; ++turn)
      earlyRows(earlyAlone);
  }).join();
  EXPECT_EQ(0, std::memcmp(late.data(), lateAlone.data(), sizeof(double) * late.size()));
  EXPECT_EQ(0, std::memcmp(early.data(), earlyAlone.data(), sizeof(double) * early.size()));
}

// A block holding a value that is not finite (an infinity, a NaN, the missing value) anywhere
// in its rows' columns goes the rank-k road, whose zero columns are skipped rather than
// multiplied by the infinity: the bits of vsfRankUpdateRows.
TEST(GramUpdate, NonFiniteValuesTakeTheRankRoad) {
  std::mt19937_64 gen(3);
  std::normal_distribution<double> z;
  const int32_t n = 51, k = kVsfGramRows;
  const double inf = std::numeric_limits<double>::infinity();
  for (const double bad : {inf, -inf, std::nan(""), std::bit_cast<double>(kHostMissingBits)})
    for (const int32_t column : {0, 17, n - 1}) {
      Block b = block(
          n, k, gen, [&] { return z(gen); }, [&] { return 1.0; });
      b.rows[k - 1][column] = bad;
      std::vector<double> gram(tri(n), 0.0), rank(tri(n), 0.0);
      vsfGramUpdateRows(gram.data(), n, b.x.data(), b.w.data(), k, 0, n);
      for (int32_t r = 0; r < k; r += kVsfRankRows)
        vsfRankUpdateRows(rank.data(), n, b.x.data() + r, b.w.data() + r,
                          std::min(kVsfRankRows, k - r), 0, n);
      EXPECT_EQ(0, std::memcmp(gram.data(), rank.data(), sizeof(double) * gram.size()))
          << bad << " in column " << column;
    }
}

} // namespace
