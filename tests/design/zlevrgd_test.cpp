// Design rows of continuous effects, CLASS main effects, crossings and nestings under the
// GLM design and under REFERENCE coding, written out by hand; row status bits for missing
// values, weights and values that are not levels; the in-place direct products.
#include "designfixture.h"

#include "design/levquery.h"
#include "design/levtables.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using designtest::DesignFixture;
using designtest::RowOut;
using Rows = std::vector<std::vector<double>>;

namespace {

const char* kData = "y,x,a,b,c,w\n"
                    "1,2,p,1,s,1\n"
                    "2,3,q,2,t,1\n"
                    "3,1,p,2,t,1\n"
                    "4,0.5,r,1,s,1\n"
                    "5,4,q,1,s,0\n"
                    "6,1.5,,1,s,1\n"
                    "7,.,p,1,s,1\n"
                    ".,1,p,1,s,1\n";

struct RowTest : ::testing::Test {
  DesignFixture f;
  void SetUp() override {
    f.data(kData);
    f.design({"a", "b", "c"}, {"x"},
             {{"x", {"x"}, {}, {}},
              {"a", {}, {"a"}, {}},
              {"a*b", {}, {"a", "b"}, {}},
              {"c(a)", {}, {"c"}, {"a"}},
              {"a*x", {"x"}, {"a"}, {}}});
    f.response("y");
  }
};

void expectRows(const std::vector<RowOut>& got, const Rows& want, size_t count) {
  ASSERT_GE(got.size(), count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(got[i].status.empty()) << "row " << i;
    ASSERT_EQ(got[i].x.size(), want[i].size()) << "row " << i;
    for (size_t k = 0; k < want[i].size(); ++k)
      EXPECT_DOUBLE_EQ(got[i].x[k], want[i][k]) << "row " << i << " column " << k;
  }
}

TEST_F(RowTest, GlmRowsHaveOneIndicatorPerCombinationMet) {
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  // Columns: Intercept 1, x 1, a 3 (p q r), a*b 5 ((p,1) (p,2) (q,1) (q,2) (r,1): (r,2) never
  // occurs), c(a) 5 ((a,c) = (p,s) (p,t) (q,s) (q,t) (r,s)), a*x 3.
  ASSERT_EQ(f.des.columnCount, 18);
  Rows want = {
      {1, 2, 1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0},
      {1, 3, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 3, 0},
      {1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0},
      {1, 0.5, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.5},
      {1, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 4, 0},
  };
  auto rows = f.rows();
  ASSERT_EQ(rows.size(), 8u);
  expectRows(rows, want, 5);
  EXPECT_EQ(rows[1].y, 2.0);
  // A blank a is not a level: bits 2 and 8, and its combinations are absent (bit 32).
  EXPECT_TRUE(rows[5].status ==
              (LevRowStatus::Explanatory | LevRowStatus::NotLevel | LevRowStatus::Computed));
  // x missing: bits 2 and 16, and the effects with x have a missing value (bit 32).
  EXPECT_TRUE(rows[6].status ==
              (LevRowStatus::Explanatory | LevRowStatus::Numeric | LevRowStatus::Computed));
  // The response missing: bit 4.
  EXPECT_TRUE(rows[7].status == LevRowStatus::Response);
}

TEST_F(RowTest, ReferenceCodingRows) {
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  for (const char* v : {"a", "b", "c"})
    f.cls(v)->coding = CC_REFERENCE;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  // Intercept 1, x 1, a 2, a*b 2, c(a) 1 x 3 nested cells, a*x 2.
  ASSERT_EQ(f.des.columnCount, 11);
  Rows want = {
      {1, 2, 1, 0, 1, 0, 1, 0, 0, 2, 0}, {1, 3, 0, 1, 0, 0, 0, 0, 0, 0, 3},
      {1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0}, {1, 0.5, 0, 0, 0, 0, 0, 0, 1, 0, 0},
      {1, 4, 0, 1, 0, 1, 0, 1, 0, 0, 4},
  };
  auto rows = f.rows();
  expectRows(rows, want, 5);
  // A model CLASS value that is not a level: bits 2, 8 and 32.
  EXPECT_TRUE(rows[5].status ==
              (LevRowStatus::Explanatory | LevRowStatus::NotLevel | LevRowStatus::Computed));
}

TEST_F(RowTest, EffectCodingOfACrossing) {
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  ASSERT_EQ(f.levelise(), LevBuild::Ready); // EFFECT coding, reference LAST
  auto rows = f.rows();
  // a*b block (columns 4, 5): a codes p (1,0) q (0,1) r (-1,-1); b codes 1 (1) 2 (-1).
  EXPECT_EQ(rows[0].x[4], 1.0);
  EXPECT_EQ(rows[0].x[5], 0.0);
  EXPECT_EQ(rows[1].x[4], 0.0);
  EXPECT_EQ(rows[1].x[5], -1.0);
  EXPECT_EQ(rows[3].x[4], -1.0);
  EXPECT_EQ(rows[3].x[5], -1.0);
}

TEST_F(RowTest, MissingMakesTheBlankValueALevel) {
  f.cls("a")->missing = 1;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (std::vector<std::string>{"", "p", "q", "r"}));
  auto rows = f.rows();
  EXPECT_TRUE(rows[5].status.empty());
  // Effect a starts at column 2; the blank level is the first.
  EXPECT_EQ(rows[5].x[2], 1.0);
  EXPECT_EQ(rows[5].x[3], 0.0);
}

TEST_F(RowTest, WeightsOfZeroOrMissingAreUnusable) {
  f.weight("w");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  auto rows = f.rows();
  EXPECT_TRUE(rows[0].status.empty());
  EXPECT_EQ(rows[0].w, 1.0);
  EXPECT_TRUE(rows[4].status.has(LevRowStatus::Weight));
}

TEST(RowTables, NonSingularTablesOfCrossingAndNesting) {
  DesignFixture f;
  f.data("A,B,y\n1,1,1\n2,2,2\n3,3,3\n");
  f.design({"A", "B"}, {}, {{"A*B", {}, {"A", "B"}, {}}, {"A(B)", {}, {"A"}, {"B"}}});
  f.response("y");
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  f.cls("A")->coding = CC_EFFECT;    // reference LAST
  f.cls("B")->coding = CC_REFERENCE; // reference FIRST
  f.cls("B")->referenceSelector = -1;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  zlevLevelsNonSing(&f.des, f.block.pool, 0, nullptr);
  // A*B: rows (A, B) = (0, 1), (0, 2), (1, 1), (1, 2): A runs over 0..1, B skips its
  // reference 0; the last variable varies fastest.
  const LevEffect& ab = f.des.effects[1];
  std::vector<int32_t> got(ab.nonSingularTable, ab.nonSingularTable + 8);
  EXPECT_EQ(got, (std::vector<int32_t>{0, 1, 0, 2, 1, 1, 1, 2}));
  // A(B): nested B takes all three levels, slower than A.
  const LevEffect& anb = f.des.effects[2];
  std::vector<int32_t> nested(anb.nonSingularTable, anb.nonSingularTable + 12);
  EXPECT_EQ(nested, (std::vector<int32_t>{0, 0, 1, 0, 0, 1, 1, 1, 0, 2, 1, 2}));
  EXPECT_EQ(anb.columnCount, 6);
}

TEST(RowProducts, DirectProductsInPlace) {
  double block[6] = {2, 3, 0, 0, 0, 0};
  const double v[3] = {5, 7, 11};
  zlevEffCrossMultiply(block, 2, v, 3);
  EXPECT_EQ(std::vector<double>(block, block + 6), (std::vector<double>{10, 15, 14, 21, 22, 33}));
  double other[4] = {2, 3, 0, 0};
  const double u[2] = {5, 7};
  zlevCrossMultiply(other, 2, u, 2);
  EXPECT_EQ(std::vector<double>(other, other + 4), (std::vector<double>{10, 14, 15, 21}));
}

TEST(RowLevels, BygroupsLevelEachGroupAndResetTheCentre) {
  DesignFixture f;
  // Group 2 has no usable x: its centre must not be group 1's.
  f.data("g,x,a,y\n1,1,u,1\n1,3,v,2\n2,.,u,3\n2,.,v,4\n3,5,u,5\n3,9,u,6\n");
  f.design({"a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  int32_t g = 0;
  (void)xvfind(f.ds, "g", 1, &g, 0);
  ASSERT_EQ(xbyset(f.ds, &g, nullptr, 1, 0), 0);
  HostByHandle* by = xdsby(f.ds);
  std::vector<LevBuild> results;
  std::vector<double> centres;
  std::vector<int32_t> levelCounts;
  while (xbynext(by) == 1) {
    results.push_back(f.levelise());
    centres.push_back(f.des.numerics[0].centre);
    levelCounts.push_back(f.des.classes[0].levelCount);
    f.end();
  }
  EXPECT_EQ(results, (std::vector<LevBuild>{LevBuild::Ready, LevBuild::NoLevels, LevBuild::Ready}));
  EXPECT_EQ(centres[0], 2.0);
  EXPECT_TRUE(isHostMissing(centres[1]));
  EXPECT_EQ(centres[2], 7.0);
  EXPECT_EQ(levelCounts[0], 2);
  EXPECT_EQ(levelCounts[2], 1);
}

// The CLASS reader turns MISSING off under POLYNOMIAL and ORTHPOLY (500/911), so a missing
// value is no level there: its row is left out and the other levels alone make the coding.
TEST(RowLevels, MissingLevelUnderPolynomialCodingLeavesTheRowOut) {
  DesignFixture f;
  f.data("k,y\n1,1\n2,2\n.,3\n3,4\n");
  f.design({"k"}, {}, {{"k", {}, {"k"}, {}}});
  f.response("y");
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  f.cls("k")->missing = 0;
  for (int coding : {4, 5}) {
    f.cls("k")->coding = static_cast<ClassCoding>(coding);
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    ASSERT_EQ(f.cls("k")->levelCount, 3);
    auto rows = f.rows();
    EXPECT_TRUE(rows[0].status.empty());
    EXPECT_TRUE(rows[2].status.any(LevRowStatus::Weight | LevRowStatus::Explanatory |
                                   LevRowStatus::Computed))
        << coding;
    for (const RowOut& r : rows)
      for (double x : r.x)
        EXPECT_FALSE(std::isnan(x) && r.status.empty()) << coding;
    if (coding == 5) {
      // The three numeric levels alone make the orthogonal polynomial.
      const double* m = f.cls("k")->codingMatrix;
      double sum = 0, sq = 0;
      for (int i = 0; i < 3; ++i) {
        sum += m[i * 2];
        sq += m[i * 2] * m[i * 2];
      }
      EXPECT_NEAR(sum, 0.0, 1e-12);
      EXPECT_NEAR(sq, 3.0, 1e-12);
    }
    f.end();
  }
}

} // namespace

namespace {

// Cross products of the usable rows with the response behind them, through zlevscp, against
// the sum of outer products of the rows that zlevrgx writes.
void crossProducts(bool glm) {
  DesignFixture f;
  f.data(kData);
  f.design({"a", "b", "c"}, {"x"},
           {{"x", {"x"}, {}, {}},
            {"a", {}, {"a"}, {}},
            {"a*b", {}, {"a", "b"}, {}},
            {"c(a)", {}, {"c"}, {"a"}}});
  f.response("y");
  if (!glm)
    f.des.designFlags.set(LevDesignFlag::NonGlm);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  const int32_t n = f.des.columnCount + 1;
  std::vector<double> sscp(static_cast<size_t>(n * (n + 1) / 2), 0.0);
  std::vector<double> want(sscp.size(), 0.0);
  EXPECT_EQ(zlevGetInit(&f.ctx), VsfStatus::Ok);
  int used = 0;
  while (zlevGetNext(&f.ctx) != 0) {
    double y = 0;
    if (!zlevrgd(&f.ctx, &y, nullptr, nullptr).empty())
      continue;
    ++used;
    std::vector<double> row(static_cast<size_t>(n));
    zlevrgx(&f.ctx, nullptr, nullptr, row.data());
    row[static_cast<size_t>(n - 1)] = y;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        want[static_cast<size_t>(i * (i + 1) / 2 + j)] += 2.0 * row[i] * row[j];
    EXPECT_EQ(zlevscp(2.0, &f.ctx, sscp.data(), 1, &y), 1);
  }
  EXPECT_EQ(used, 5);
  for (size_t k = 0; k < sscp.size(); ++k)
    EXPECT_DOUBLE_EQ(sscp[k], want[k]) << k;
}

TEST(RowCrossProducts, GlmCellsAndFullRowsAgree) {
  crossProducts(true);
  crossProducts(false);
}

TEST(RowFit, FitCallbacksAcceptUsableRowsOnly) {
  DesignFixture f;
  f.data(kData);
  f.design({"a"}, {"x"}, {{"x", {"x"}, {}, {}}, {"a", {}, {"a"}, {}}});
  f.response("y");
  f.weight("w");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  ASSERT_NE(f.ctx.fit.getY, nullptr);
  auto getY = reinterpret_cast<LevFitGetFn>(f.ctx.fit.getY);
  auto getW = reinterpret_cast<LevFitGetFn>(f.ctx.fit.getW);
  std::vector<int32_t> ys, ws;
  EXPECT_EQ(zlevGetInit(&f.ctx), VsfStatus::Ok);
  while (zlevGetNext(&f.ctx) != 0) {
    double y = 0, w = 0;
    ys.push_back(getY(&f.ctx, &y));
    ws.push_back(getW(&f.ctx, &w));
  }
  // Row 5 has weight 0 (only the weight callback sees it), row 6 a blank a, row 7 a
  // missing x, row 8 a missing response.
  EXPECT_EQ(ys, (std::vector<int32_t>{1, 1, 1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(ws, (std::vector<int32_t>{1, 1, 1, 1, 0, 0, 0, 0}));
}

} // namespace

namespace {

TEST(RowQueries, OneEffectsColumnsAndTheLevelsBehindThem) {
  DesignFixture f;
  f.data(kData);
  f.design({"a", "b"}, {"x"}, {{"a*b", {}, {"a", "b"}, {}}, {"a*x", {"x"}, {"a"}, {}}});
  f.response("y");
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  f.cls("a")->coding = CC_REFERENCE;
  f.cls("b")->coding = CC_REFERENCE;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(zlevGetInit(&f.ctx), VsfStatus::Ok);
  ASSERT_EQ(zlevGetNext(&f.ctx), 1);
  ASSERT_TRUE(zlevrgd(&f.ctx, nullptr, nullptr, nullptr).empty());
  std::vector<double> row(static_cast<size_t>(f.des.columnCount));
  zlevrgx(&f.ctx, nullptr, nullptr, row.data());
  // The effect's own columns equal its block of the full row.
  for (int32_t e = 0; e < f.des.effectCount; ++e) {
    const LevEffect& ef = f.des.effects[e];
    std::vector<double> cols(static_cast<size_t>(ef.columnCount));
    ASSERT_EQ(zlevGetEfCols(&f.ctx, e, cols.data()), ef.columnCount);
    for (int32_t k = 0; k < ef.columnCount; ++k)
      EXPECT_EQ(cols[k], row[ef.firstColumn + k]);
  }
  // a*b under REFERENCE (a: p q r, ref r; b: 1 2, ref 2): columns (p,1), (q,1).
  int32_t levels[2];
  ASSERT_EQ(zlevGetEfClassLevels(&f.des, 1, 1, levels), 2);
  EXPECT_EQ(levels[0], 1);
  EXPECT_EQ(levels[1], 0);
  EXPECT_EQ(zlevEfClValN(&f.des, &f.des.effects[1]), 2);
}

} // namespace

namespace {

TEST(RowLevels, CombinationsOfManyLevelsAreInNumericOrder) {
  DesignFixture f;
  std::string csv = "k,y\n";
  for (int i = 299; i >= 0; --i)
    csv += std::to_string(i) + ",1\n";
  f.data(csv);
  f.design({"k"}, {}, {{"k", {}, {"k"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  const LevEffect& ef = f.des.effects[1];
  ASSERT_EQ(ef.combinationCount, 300);
  for (int32_t i = 0; i < 300; ++i)
    EXPECT_EQ(ef.combinationTable[i], i);
  // Each observation finds its own column: level index = column.
  auto rows = f.rows();
  for (const RowOut& r : rows) {
    ASSERT_TRUE(r.status.empty());
    int ones = 0;
    for (int32_t k = 1; k < f.des.columnCount; ++k)
      ones += r.x[static_cast<size_t>(k)] == 1.0;
    EXPECT_EQ(ones, 1);
  }
  // Row order 299 .. 0; the levels sort by value: observation i sits at level 299 - i.
  EXPECT_EQ(rows[0].x[1 + 299], 1.0);
  EXPECT_EQ(rows[299].x[1 + 0], 1.0);
}

} // namespace

// The compact plan of a design of one-column numeric effects gives the rows, statuses,
// responses and weights of the walk over the design's records, missing values included; a
// design with a CLASS effect has none.
TEST(RowPlan, PlannedRowsAreTheWalkedRows) {
  DesignFixture f;
  f.data("y,x1,x2,w\n1,2,3,1\n2,.,1,1\n3,0.5,-2,0\n.,1,1,1\n5,4,.,1\n");
  f.design({}, {"x1", "x2"}, {{"x1", {"x1"}, {}, {}}, {"x2", {"x2"}, {}, {}}});
  f.response("y");
  f.weight("w");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  const std::vector<RowOut> walked = f.rows();
  f.ctx.rowPlan = levRowPlan(&f.ctx, levGroupPool(&f.ctx));
  ASSERT_NE(f.ctx.rowPlan, nullptr);
  const std::vector<RowOut> planned = f.rows();
  ASSERT_EQ(planned.size(), walked.size());
  for (size_t i = 0; i < walked.size(); ++i) {
    EXPECT_TRUE(planned[i].status == walked[i].status) << "row " << i;
    EXPECT_EQ(std::memcmp(&planned[i].y, &walked[i].y, sizeof(double)), 0) << "row " << i;
    EXPECT_EQ(planned[i].w, walked[i].w) << "row " << i;
    ASSERT_EQ(planned[i].x.size(), walked[i].x.size());
    EXPECT_EQ(
        std::memcmp(planned[i].x.data(), walked[i].x.data(), sizeof(double) * walked[i].x.size()),
        0)
        << "row " << i;
  }
  EXPECT_TRUE(
      walked[1].status.has(LevRowStatus::Numeric)); // the missing values do reach the statuses
  EXPECT_TRUE(walked[3].status.has(LevRowStatus::Response));
  EXPECT_TRUE(walked[2].status.has(LevRowStatus::Weight));
}

TEST_F(RowTest, DesignsWithClassEffectsHaveNoPlan) {
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(levRowPlan(&f.ctx, levGroupPool(&f.ctx)), nullptr);
}
