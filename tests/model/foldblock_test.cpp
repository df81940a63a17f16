// The pivots of a many-level effect whose block is diagonal (vsfDiagonalBlockPivots) in a fold
// record's refit of the model's columns: the model's columns are taken unless a pivot cannot be
// told from rounding, with no floor at 1e-8 of the diagonal, and a column the model left out
// stays out, as the packed road's folds refit them (references: scripts/gen_fold_block_ref.py,
// mpmath). Judged by the whole rule on each fold's sums, a level whose pivot falls just under
// the floor there went out of one fold and its held-out error was that of another model.
#include "model/vsfmodel.h"
#include "model/vsftrial.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using packed::at;
using packed::diag;
using packed::tri;

// The small columns (the response, the intercept and x) swept on the intercept and x, and
// the four levels' sums, as a state of the structured road holds them.
struct LevelsState {
  std::vector<double> xpx, swept, diagonal, cross; // cross: 3 per level
  std::vector<char> flags;
  std::vector<int32_t> list{0, 1}, column{1, 2}, columns{1, 1};
  std::vector<double> work;
  VsfModel m{};
  int64_t levels = 0;
};

double cross(const void* c, int64_t j, int64_t column) {
  return static_cast<const LevelsState*>(c)->cross[static_cast<size_t>(j * 3 + column)];
}
double diagonal(const void* c, int64_t j) {
  return static_cast<const LevelsState*>(c)->diagonal[static_cast<size_t>(j)];
}
// Column j's entry in the response row of the swept matrix: its cross product with the
// response less those with the swept columns times their estimates.
double response(const void* c, int64_t j) {
  const LevelsState* s = static_cast<const LevelsState*>(c);
  double t = cross(c, j, 0);
  for (int64_t q = 1; q < 3; ++q)
    t += cross(c, j, q) * s->swept[static_cast<size_t>(at(q, 0))];
  return t;
}

void readState(LevelsState& s) {
  const auto rows = readCsvRows(std::string(QRX_TEST_DATA) + "/foldblock/rows.csv");
  s.levels = 4;
  s.xpx.assign(static_cast<size_t>(tri(3)), 0.0);
  s.diagonal.assign(4, 0.0);
  s.cross.assign(12, 0.0);
  for (size_t r = 1; r < rows.size(); ++r) {
    const size_t j = std::stoul(rows[r][0]);
    const double v[3] = {std::stod(rows[r][2]), 1.0, std::stod(rows[r][1])};
    for (int64_t a = 0; a < 3; ++a) {
      for (int64_t b = 0; b <= a; ++b)
        s.xpx[static_cast<size_t>(at(a, b))] += v[a] * v[b];
      s.cross[j * 3 + static_cast<size_t>(a)] += v[a];
    }
    s.diagonal[j] += 1.0;
  }
  s.swept = s.xpx;
  s.flags.assign(3, '0');
  s.work.assign(3, 0.0);
  for (int32_t k = 1; k < 3; ++k)
    qkzsweep(s.swept.data(), k, 3, s.flags.data(), s.work.data(), 0.0);
  VsfModel& m = s.m;
  m.xpx = s.xpx.data();
  m.sweptXpx = s.swept.data();
  m.sweepFlags = s.flags.data();
  m.xpxColumns = 3;
  m.inModelCount = 2;
  m.inModelList = s.list.data();
  m.effectColumn = s.column.data();
  m.effectColumns = s.columns.data();
}

} // namespace

TEST(FoldBlockPivots, FoldRefitTakesTheModelsColumnsByTheRoundingBoundAlone) {
  LevelsState s;
  readState(s);
  ASSERT_EQ(s.flags[1], '1');
  ASSERT_EQ(s.flags[2], '1');
  const auto ref = readCsvRows(std::string(QRX_TEST_DATA) + "/foldblock/ref.csv");
  ASSERT_EQ(ref.size(), 4u);
  // Row `r` of the references: the levels taken, and the error SS of that fit.
  auto expectFit = [&](const char* modelTaken, const std::vector<std::string>& want) {
    VsfDiagonalBlock block{&s, s.levels, cross, diagonal, response};
    block.modelTaken = modelTaken;
    double sse = 0.0;
    int32_t count = 0;
    std::vector<char> taken(static_cast<size_t>(s.levels), '?');
    ASSERT_TRUE(vsfDiagonalBlockPivots(&s.m, block, &sse, &count, taken.data()));
    const std::string label = modelTaken != nullptr ? modelTaken : "whole rule";
    EXPECT_EQ(std::string(taken.begin(), taken.end()), want[0]) << label;
    EXPECT_EQ(count, static_cast<int32_t>(std::count(want[0].begin(), want[0].end(), '1')));
    const double exact = std::stod(want[1]);
    EXPECT_NEAR(sse, exact, 1e-7 * exact) << label;
  };
  // The third level's pivot is 9.5e-9 of its diagonal: the whole rule (the model's own
  // judgement) refuses it; the last level is the intercept less the others.
  ASSERT_LT(std::stod(ref[2][2]), 1e-8);
  expectFit(nullptr, ref[1]);
  // A fold's refit of a model that took it keeps it: its pivot is far above the rounding.
  expectFit("1110", ref[2]);
  // A column the model left out stays out of the fold, though the rule would take it there.
  expectFit("1010", ref[3]);
}
