// Criterion formulas at their degenerate inputs, the F test's boundary cases, the three
// comparisons, the packed-triangle size limit and the Shell sorts; the sweep tolerance of
// one column (tiny pivots, unsweeping, sweeping twice) and the trial SSE of an effect block.
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "model/vsftrial.h"
#include "numerics/qkzsweep.h"
#include "support/hostif.h"
#include "support/vsfoptions.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

namespace {

TEST(Formulas, DegenerateInputsGiveTheirFixedValues) {
  EXPECT_EQ(vsfAic(3, 0, 10), -DBL_MAX);
  EXPECT_EQ(vsfSbc(3, 0, 10), -DBL_MAX);
  EXPECT_EQ(vsfAicc(3, 0, 10), -DBL_MAX);
  EXPECT_TRUE(isHostMissing(vsfAicc(3, 0, 5)));
  EXPECT_TRUE(isHostMissing(vsfAicc(3, 2.0, 5)));
  EXPECT_TRUE(isHostMissing(vsfCp(3, 2.0, 10, 0)));
  EXPECT_EQ(vsfCp(3, 0, 10, 1.5), 2 * 3 - 10);
  EXPECT_TRUE(isHostMissing(vsfBic(3, 0, 10, 1)));
  EXPECT_EQ(vsfRsquare(0, 5), 1.0);
  EXPECT_EQ(vsfRsquare(6, 5), 0.0);
  EXPECT_TRUE(isHostMissing(vsfRsquare(1, 0)));
  EXPECT_TRUE(isHostMissing(vsfAdjrsq(4, 0, 1, 5, 4)));
  EXPECT_LT(vsfAdjrsq(4, 0, 4.9, 5, 6), 0.0);
  // Textbook values away from the edges.
  EXPECT_DOUBLE_EQ(vsfAic(2, 50, 100), 100 * std::log(0.5) + 4 + 102);
  EXPECT_DOUBLE_EQ(vsfSbc(2, 50, 100), 100 * std::log(0.5) + 2 * std::log(100.0));
  EXPECT_DOUBLE_EQ(vsfAdjrsq(3, 0, 20, 80, 50), 1 - 49.0 * 20 / (80 * 47));
  EXPECT_DOUBLE_EQ(vsfAdjrsq(3, 1, 20, 80, 50), 1 - 50.0 * 20 / (80 * 47));
}

TEST(Formulas, FTestBoundaries) {
  double F = 0;
  // An addition that does not lower the SSE: F = 0, p = 1.
  EXPECT_EQ(vsfLogPval(2, 3, 2, 3, &F, 10, 10, 50, 1e-12), 0.0);
  EXPECT_EQ(F, 0.0);
  // A perfect fit after the step.
  EXPECT_EQ(vsfLogPval(2, 3, 2, 3, &F, 10, 0, 50, 1e-12), -708.3964185);
  EXPECT_EQ(F, DBL_MAX);
  EXPECT_EQ(vsfPval(2, 3, 2, 3, &F, 10, 0, 50, 1e-12), 0.0);
  // An effect that leaves without changing the rank or the SSE.
  EXPECT_EQ(vsfLogPval(3, 3, 3, 2, &F, 10, 10, 50, 1e-12), 0.0);
  // F(1, d) = t^2: the F tail equals the two-sided t tail (t = 2, d = 10: 0.0734...).
  const double p = vsfPval(1, 2, 1, 2, &F, 14, 10, 12, 1e-12);
  EXPECT_NEAR(F, 4.0, 1e-12);
  EXPECT_NEAR(p, 0.073388034770740, 1e-9);
}

// A fall formed apart from the two SSEs is taken while it agrees with their difference within
// the SSEs' rounding (a small step keeps its digits), and the difference otherwise. A LASSO
// step (oracle seed 652, step 46) whose move's correlations had drifted gave a fall 8.9e-6
// of itself short of the SSEs' difference: F 15.548092 where the SSEs of the printed
// estimates, summed in 50-digit arithmetic (mpmath), give 15.5482303733.
TEST(Formulas, FTestTakesTheFallWhereItAgreesWithTheSSEs) {
  double F = 0;
  const double sse0 = 11.290092031339158, sse1 = 8.9665306325888601;
  const double drifted = (sse0 - sse1) * (1 - 8.91e-6);
  vsfLogPval(20, 21, 20, 21, &F, sse0, sse1, 81, 1e-12, drifted);
  EXPECT_NEAR(F, 15.5482303733, 1e-9);
  // A step of 1e-11 of the SSE: the difference keeps only three digits of it, the fall all.
  const double big = 13.168946502397288, fall = 1.234567890123e-10;
  vsfLogPval(20, 21, 20, 21, &F, big, big - fall, 81, 1e-12, fall);
  EXPECT_DOUBLE_EQ(F, fall * 60 / (big - fall));
}

TEST(Formulas, Comparisons) {
  const double miss = hostMissing();
  EXPECT_EQ(vsfIsBetter(VsfCriterion::Aic, 1, 1), 0);
  EXPECT_EQ(vsfIsBetter(VsfCriterion::RSquare, 1, 1), 0);
  EXPECT_EQ(vsfIsBetter(VsfCriterion::Aic, 1, miss), 0);
  EXPECT_EQ(vsfIsBetter(VsfCriterion::Aic, miss, 1), 0);
  EXPECT_EQ(vsfIsBetter(VsfCriterion::RSquare, 2, 1), 1);
  EXPECT_EQ(vsfIsEpsBetter(VsfCriterion::Aic, 1 - 1e-14, 1), 0);
  EXPECT_EQ(vsfIsEpsBetter(VsfCriterion::Aic, 1 - 1e-12, 1), 1);
  EXPECT_EQ(vsfIsFUZZBetter(VsfCriterion::Aic, 1, 3, 3, 1e-12), 0);
  EXPECT_EQ(vsfIsFUZZBetter(VsfCriterion::Aic, -1, 3, 3, 1e-12), 1);
  EXPECT_EQ(vsfIsFUZZBetter(VsfCriterion::Aic, -1, 3 * (1 + 1e-14), 3, 1e-12), 1); // within FUZZ
  EXPECT_EQ(vsfIsFUZZBetter(VsfCriterion::Aic, 1, 3 * (1 - 1e-14), 3, 1e-12), 0);
}

// The stepwise margin decides alike in any units of the response: a validation ASE (or PRESS,
// CV PRESS) that falls by 3e-6 of itself counts whether it is near 1e-9 or 1e3, and a fall of
// 1e-14 of itself counts in neither; AIC keeps its absolute margin.
TEST(Formulas, StepwiseMarginFollowsTheResponsesUnits) {
  for (const VsfCriterion code :
       {VsfCriterion::Press, VsfCriterion::Validate, VsfCriterion::Cv, VsfCriterion::Cvex})
    for (const double scale : {std::ldexp(1.0, -30), 1.0, std::ldexp(1.0, 10)}) {
      const double b = 1.9257652 * scale;
      EXPECT_EQ(vsfIsEpsBetter(code, 1.9257594 * scale, b), 1)
          << static_cast<int>(code) << " " << scale;
      EXPECT_EQ(vsfIsEpsBetter(code, b * (1 - 1e-14), b), 0)
          << static_cast<int>(code) << " " << scale;
    }
  EXPECT_EQ(vsfIsEpsBetter(VsfCriterion::Aic, 1e3 - 1e-12, 1e3), 1);
}

TEST(Formulas, TriangleSizeAndSorts) {
  EXPECT_EQ(vsfMemTri(23169), 268412865);
  // Sizes are 64-bit: triangles of 2^31 bytes and more are counted.
  EXPECT_EQ(vsfMemTri(23170), 268436035);
  EXPECT_EQ(vsfMemTri(23251), 270316126);
  // The largest triangle: the product k(k+3) behind the diagonal index of its last column k
  // still fits 32 bits; one column more would not.
  EXPECT_EQ(vsfMemTri(kVsfMaxTriangleColumns), 1073720970);
  EXPECT_LE(int64_t{kVsfMaxTriangleColumns - 1} * (kVsfMaxTriangleColumns + 2), INT32_MAX);
  EXPECT_GT(int64_t{kVsfMaxTriangleColumns} * (kVsfMaxTriangleColumns + 3), INT32_MAX);
  EXPECT_EQ(vsfMemTri(kVsfMaxTriangleColumns + 1), -1);
  double x[3] = {3, 1, 2};
  int32_t idx[3] = {0, 1, 2};
  vsfQsort(x, 3, idx, 1);
  EXPECT_EQ(x[0], 3);
  EXPECT_EQ(idx[0], 1);
  EXPECT_EQ(idx[1], 2);
  EXPECT_EQ(idx[2], 0);
  vsfQsort(x, 3, nullptr, 1);
  EXPECT_EQ(x[0], 1);
  EXPECT_EQ(x[2], 3);
  int32_t v[6] = {5, 3, 9, 1, 3, 7};
  vsfIntQsort(v, 6, nullptr, 0);
  for (int i = 0; i + 1 < 6; ++i)
    EXPECT_GE(v[i], v[i + 1]);
  vsfQsort(x, 0, nullptr, 1);
}

// A model of hand-built arrays: response and two columns.
struct Tiny {
  std::vector<double> xpx, swept, work;
  std::vector<char> flags;
  VsfModel m{};
  explicit Tiny(std::vector<double> a) : xpx(a), swept(a), work(8), flags(3, '0') {
    m.xpx = xpx.data();
    m.sweptXpx = swept.data();
    m.workVector = work.data();
    m.sweepFlags = flags.data();
    m.xpxColumns = 3;
  }
};

TEST(Sweep, TolerancesOfOneColumn) {
  {
    // y'y 10, x1'x1 4, x1'y 2, x2'x2 9, x2'x1 1, x2'y 3.
    Tiny t({10, 2, 4, 3, 1, 9});
    vsfSweep(&t.m, 1);
    vsfSweep(&t.m, 2);
    EXPECT_EQ(t.m.rank, 2);
    // SSE of y on x1, x2 by the normal equations.
    const double det = 4 * 9 - 1, b1 = (9 * 2 - 1 * 3) / det, b2 = (4 * 3 - 1 * 2) / det;
    EXPECT_NEAR(t.swept[0], 10 - (b1 * 2 + b2 * 3), 1e-14);
    EXPECT_NEAR(t.swept[1], -b1, 1e-14);
    EXPECT_NEAR(t.swept[3], -b2, 1e-14);
    // Sweeping both out again restores the matrix (tolerance 0 on the way out).
    vsfSweep(&t.m, 2);
    vsfSweep(&t.m, 1);
    EXPECT_EQ(t.m.rank, 0);
    for (int i = 0; i < 6; ++i)
      EXPECT_NEAR(t.swept[i], t.xpx[i], 1e-13);
  }
  {
    // A swept diagonal of 1e-160 takes the tolerance 1.49e-154 and is refused.
    Tiny t({1, 0, 1e-170, 0, 0, 1});
    t.swept[2] = 1e-160;
    vsfSweep(&t.m, 1);
    EXPECT_EQ(t.flags[1], '0');
    EXPECT_EQ(t.m.rank, 0);
  }
  {
    // A duplicated column stays unswept (aliased) and the rank stays 1.
    Tiny t({10, 2, 4, 2, 4, 4});
    vsfSweep(&t.m, 1);
    vsfSweep(&t.m, 2);
    EXPECT_EQ(t.flags[2], '0');
    EXPECT_EQ(t.m.rank, 1);
  }
}

TEST(Sweep, PartialEliminationGivesTheSweptSse) {
  std::vector<double> a = {10, 2, 4, 3, 1, 9};
  std::vector<double> b = a, work(3);
  std::vector<char> flags(3, '0');
  ASSERT_EQ(vsfPartialSweep(b.data(), 1, 3, 1e-8), 1);
  ASSERT_EQ(vsfPartialSweep(b.data(), 2, 3, 1e-8), 1);
  Tiny t(a);
  vsfSweep(&t.m, 1);
  vsfSweep(&t.m, 2);
  EXPECT_NEAR(b[0], t.swept[0], 1e-14);
  // A pivot equal to the tolerance is refused (strictly greater is needed).
  std::vector<double> c = {10, 2, 4, 3, 1, 9};
  EXPECT_EQ(vsfPartialSweep(c.data(), 1, 3, 4.0), 0);
  EXPECT_EQ(c[0], 10);
}

} // namespace

// The rounding bound of a pivot on a small X'X of (y, 1, x1, x2), x1 = 1..4, x2 = (1, 3, 2, 5),
// after the intercept and x1 are swept: x2's coefficients on them are (0, 1.1) by the normal
// equations, so r = sqrt(39) + 1.1 sqrt(30) and |v|'|X'X||v| = 39 + 1.21 * 30 + 2.2 * 33.
TEST(Formulas, PivotBoundIsReadOffTheSweptCoefficients) {
  const std::vector<double> xpx = {6, 4, 4, 11, 10, 30, 10, 11, 33, 39};
  std::vector<double> swept = xpx, work(4);
  char flags[] = "0000";
  qkzsweep(swept.data(), 1, 4, flags, work.data(), 0.0);
  qkzsweep(swept.data(), 2, 4, flags, work.data(), 0.0);
  const double r = std::sqrt(39.0) + 1.1 * std::sqrt(30.0);
  EXPECT_NEAR(vsfPivotRoot(xpx.data(), swept.data(), flags, 4, 3, false), r, 1e-12);
  EXPECT_NEAR(vsfPivotForm(xpx.data(), swept.data(), flags, 4, 3, false), 39 + 1.21 * 30 + 2.2 * 33,
              1e-11);
  // x2's pivot, 39 - 1.1 * 33 = 2.7, is far above its tolerance, 1e-8 * 39 (above 64 u r^2).
  EXPECT_NEAR(swept[9], 2.7, 1e-12);
  EXPECT_NEAR(vsfPivotTolerance(xpx.data(), swept.data(), flags, 4, 3, false), 1e-8 * 39, 1e-20);
  // About the means (column 1 the intercept): x2's corrected sum of squares is 39 - 11^2 / 4;
  // the bound takes the sizes of the corrected sums' terms, x2's 39 + 11^2 / 4, x1's
  // 30 + 10^2 / 4 and their cross product's 33 + 10 * 11 / 4, since the centring rounds as
  // the rest of the elimination does; the intercept's coefficient takes no part.
  EXPECT_NEAR(vsfPivotDiagonal(xpx.data(), flags, 3, true), 8.75, 1e-12);
  EXPECT_NEAR(vsfPivotRoot(xpx.data(), swept.data(), flags, 4, 3, true),
              std::sqrt(69.25) + 1.1 * std::sqrt(55.0), 1e-12);
  EXPECT_NEAR(vsfPivotForm(xpx.data(), swept.data(), flags, 4, 3, true),
              69.25 + 1.21 * 55 + 2.2 * 60.5, 1e-11);
}
