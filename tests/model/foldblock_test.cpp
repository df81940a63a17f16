// The pivots of a many-level effect whose block is diagonal (vsfDiagonalBlockPivots), which
// the many-level road's entries and its fold records take (references:
// scripts/gen_fold_block_ref.py, mpmath).
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
using packed::tri;

// The small columns (the response, the intercept and the covariates given) swept on all but
// the response, and the levels' sums, as a state of the structured road holds them; rows of
// level `levels` are the reference level's, which has no column.
struct LevelsState {
  int64_t small = 0, levels = 0;
  std::vector<double> xpx, swept, diagonal, cross; // cross: `small` per level
  std::vector<char> flags;
  std::vector<int32_t> list, column, columns;
  std::vector<double> work;
  VsfModel m{};

  LevelsState(int64_t smallColumns, int64_t levelCount)
      : small(smallColumns), levels(levelCount), xpx(static_cast<size_t>(tri(smallColumns))),
        diagonal(static_cast<size_t>(levelCount)),
        cross(static_cast<size_t>(levelCount * smallColumns)) {}
  // Row values: the response first, then the intercept's 1 and the covariates.
  void add(int64_t level, const std::vector<double>& v, double w) {
    for (int64_t a = 0; a < small; ++a) {
      for (int64_t b = 0; b <= a; ++b)
        xpx[static_cast<size_t>(at(a, b))] += w * v[a] * v[b];
      if (level < levels)
        cross[static_cast<size_t>(level * small + a)] += w * v[a];
    }
    if (level < levels)
      diagonal[static_cast<size_t>(level)] += w;
    m.totals.nRead += 1.0;
  }
  void sweep() {
    swept = xpx;
    flags.assign(static_cast<size_t>(small), '0');
    work.assign(static_cast<size_t>(small), 0.0);
    for (int32_t k = 1; k < small; ++k) {
      qkzsweep(swept.data(), k, static_cast<int32_t>(small), flags.data(), work.data(), 0.0);
      list.push_back(k - 1);
      column.push_back(k);
      columns.push_back(1);
    }
    m.xpx = xpx.data();
    m.sweptXpx = swept.data();
    m.sweepFlags = flags.data();
    m.xpxColumns = static_cast<int32_t>(small);
    m.inModelCount = static_cast<int32_t>(list.size());
    m.inModelList = list.data();
    m.effectColumn = column.data();
    m.effectColumns = columns.data();
  }
};

double cross(const void* c, int64_t j, int64_t column) {
  const LevelsState* s = static_cast<const LevelsState*>(c);
  return s->cross[static_cast<size_t>(j * s->small + column)];
}
double diagonal(const void* c, int64_t j) {
  return static_cast<const LevelsState*>(c)->diagonal[static_cast<size_t>(j)];
}
// Column j's entry in the response row of the swept matrix: its cross product with the
// response less those with the swept columns times their estimates.
double response(const void* c, int64_t j) {
  const LevelsState* s = static_cast<const LevelsState*>(c);
  double t = cross(c, j, 0);
  for (int64_t q = 1; q < s->small; ++q)
    t += cross(c, j, q) * s->swept[static_cast<size_t>(at(q, 0))];
  return t;
}

struct Pivots {
  std::string taken, lost;
  int32_t count = 0;
  double sse = 0.0;
};
Pivots pivots(LevelsState& s, const char* modelTaken) {
  VsfDiagonalBlock block{&s, s.levels, cross, diagonal, response};
  block.modelTaken = modelTaken;
  Pivots p;
  std::vector<char> taken(static_cast<size_t>(s.levels), '?'), lost(taken);
  EXPECT_TRUE(
      vsfDiagonalBlockPivots(&s.m, block, &p.sse, &p.count, taken.data(), nullptr, lost.data()));
  p.taken.assign(taken.begin(), taken.end());
  p.lost.assign(lost.begin(), lost.end());
  return p;
}

std::vector<std::vector<std::string>> readRef(const std::string& name) {
  return readCsvRows(std::string(QRX_TEST_DATA) + "/foldblock/" + name);
}

} // namespace

// A fold record's refit of the model's columns takes them unless a pivot cannot be told from
// rounding, with no floor at 1e-8 of the diagonal, and leaves out a column the model left out,
// as the packed road's folds refit them. Judged by the whole rule on each fold's sums, a level
// whose pivot fell just under the floor there went out of one fold, whose held-out error was
// then that of another model.
TEST(FoldBlockPivots, FoldRefitTakesTheModelsColumnsByTheRoundingBoundAlone) {
  LevelsState s(3, 4);
  const auto rows = readRef("rows.csv");
  for (size_t r = 1; r < rows.size(); ++r)
    s.add(std::stol(rows[r][0]), {std::stod(rows[r][2]), 1.0, std::stod(rows[r][1])}, 1.0);
  s.sweep();
  ASSERT_EQ(std::string(s.flags.begin(), s.flags.end()), "011");
  const auto ref = readRef("ref.csv");
  ASSERT_EQ(ref.size(), 4u);
  // The third level's pivot is 9.5e-9 of its diagonal.
  ASSERT_LT(std::stod(ref[2][2]), 1e-8);
  // Row `r` of the references: the levels taken, and the error SS of that fit.
  auto expectFit = [&](const char* modelTaken, const std::vector<std::string>& want) {
    const Pivots p = pivots(s, modelTaken);
    const std::string label = modelTaken != nullptr ? modelTaken : "whole rule";
    EXPECT_EQ(p.taken, want[0]) << label;
    EXPECT_EQ(p.count, static_cast<int32_t>(std::count(want[0].begin(), want[0].end(), '1')));
    const double exact = std::stod(want[1]);
    EXPECT_NEAR(p.sse, exact, 1e-7 * exact) << label;
  };
  // The whole rule (the model's own judgement) refuses the third level; the last level is
  // the intercept less the others.
  expectFit(nullptr, ref[1]);
  // A fold's refit of a model that took it keeps it: its pivot is far above the rounding.
  expectFit("1110", ref[2]);
  // A column the model left out stays out of the fold, though the rule would take it there.
  expectFit("1010", ref[3]);
}

// Reference-coded levels beside a reference level whose rows weigh next to nothing do not
// cover every row: the last level's pivot, 2e-8 of its diagonal, is the rows' and is taken,
// as the packed road takes it. Judged to cover every row within 1e-10 of the total weight,
// the levels were capped one short of the last.
TEST(FoldBlockPivots, LevelsShortOfTheInterceptByALightReferenceLevelAreNotCapped) {
  LevelsState s(2, 300);
  const auto rows = readRef("refrows.csv");
  for (size_t r = 1; r < rows.size(); ++r)
    s.add(std::stol(rows[r][0]), {std::stod(rows[r][1]), 1.0}, std::stod(rows[r][2]));
  s.sweep();
  const auto ref = readRef("refcoded.csv");
  ASSERT_EQ(ref.size(), 2u);
  ASSERT_GT(std::stod(ref[1][1]), 1e-8);
  const Pivots p = pivots(s, nullptr);
  EXPECT_EQ(p.count, 300);
  EXPECT_EQ(p.taken, std::string(300, '1'));
  const double exact = std::stod(ref[1][0]);
  EXPECT_NEAR(p.sse, exact, 1e-9 * exact);
}

// A fold record's refit names the levels the model took whose pivots its sums cannot tell from
// rounding while its rows hold them (lost), so that the fold is refitted from its rows with
// them; such a level counts toward the cap of the levels that cover every row, as the refit
// holds it. Unnamed, a lost level left the fold refitting another model (a CV PRESS 280 times
// below the fold refits); with the cap counting the levels taken alone, the last level, which
// the intercept and the others span, would be named lost beside it.
TEST(FoldBlockPivots, FoldRefitNamesTheLevelsItsSumsLostAndCapsThem) {
  // Levels 0 to 4 under the GLM coding, level 3 without rows in the fold.
  LevelsState s(3, 5);
  const auto rows = readRef("lostrows.csv");
  for (size_t r = 1; r < rows.size(); ++r)
    s.add(std::stol(rows[r][0]), {std::stod(rows[r][2]), 1.0, std::stod(rows[r][1])}, 1.0);
  s.sweep();
  const auto ref = readRef("lostref.csv");
  ASSERT_EQ(ref.size(), 2u);
  // The third level's pivot after the intercept, x and the first two levels: not 0, so the
  // rows hold it, and far below the sums' rounding.
  const double ratio = std::stod(ref[1][1]);
  ASSERT_GT(ratio, 0.0);
  ASSERT_LT(ratio, 1e-15);
  const double exact = std::stod(ref[1][0]);
  // The model's own rule refuses it; nothing is lost outside a refit.
  const Pivots whole = pivots(s, nullptr);
  EXPECT_EQ(whole.taken, "11000");
  EXPECT_EQ(whole.lost, "00000");
  EXPECT_NEAR(whole.sse, exact, 1e-9 * exact);
  // A refit of a model that took every level: the third is lost, the fourth has no rows and
  // the last is capped.
  const Pivots all = pivots(s, "11111");
  EXPECT_EQ(all.taken, "11000");
  EXPECT_EQ(all.lost, "00100");
  EXPECT_EQ(all.count, 2);
  EXPECT_NEAR(all.sse, exact, 1e-9 * exact);
  // A model that left the third level out: the last, which the rows hold as well, is lost.
  const Pivots without = pivots(s, "11011");
  EXPECT_EQ(without.taken, "11000");
  EXPECT_EQ(without.lost, "00001");
}
