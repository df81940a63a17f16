// Tests of the quantile modes (gamma, beta, chi-square and F families), the generic solver
// zquant, and the normal mixture.
#include "numerics/zgammaq.h"
#include "numerics/zlogbet.h"
#include "numerics/zlogcnc.h"
#include "numerics/zlogfnc.h"
#include "numerics/zloggam.h"
#include "numerics/zmxnorm.h"
#include "numerics/znormal.h"
#include "numerics/zquant.h"
#include "refdata.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>

using reftest::loadGrid;
using reftest::relErr;

TEST(GammaQuantile, LowerAndUpperTailsMatchReference) {
  auto rows = loadGrid("gammaq.txt");
  ASSERT_GT(rows.size(), 30u);
  for (const auto& r : rows) {
    GamRequest lo{};
    lo.mode = 4;
    lo.a = r[0];
    lo.p = r[1];
    ASSERT_EQ(zloggam(&lo), 0) << "a=" << r[0] << " p=" << r[1];
    EXPECT_EQ(lo.mode, 4u);
    EXPECT_LE(relErr(lo.x, r[2]), 1e-8) << "a=" << r[0] << " p=" << r[1];
    GamRequest up{};
    up.mode = 8;
    up.a = r[0];
    up.q = r[1];
    ASSERT_EQ(zloggam(&up), 0) << "a=" << r[0] << " q=" << r[1];
    // zquant stops when its step in ln x is below 1.05e-8.
    EXPECT_LE(relErr(up.x, r[3]), 2.2e-8) << "a=" << r[0] << " q=" << r[1];
  }
}

TEST(GammaQuantile, EdgesAndFailures) {
  GamRequest q{};
  q.mode = 4;
  q.a = 1.0;
  q.p = 0.5;
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(q.x, 0.6931471805599453, 1.1e-8 * 0.6931471805599453);
  GamRequest u{};
  u.mode = 8;
  u.a = 1.0;
  u.q = 0.5;
  ASSERT_EQ(zloggam(&u), 0);
  EXPECT_NEAR(u.x, 0.6931471805599453, 1.1e-8 * 0.6931471805599453);
  for (double p : {0.0, 1.0}) {
    GamRequest b{};
    b.mode = 4;
    b.a = 2.0;
    b.p = p;
    EXPECT_EQ(zloggam(&b), 1);
  }
  GamRequest tiny{};
  tiny.mode = 4;
  tiny.a = 1e-9;
  tiny.p = 0.5;
  EXPECT_EQ(zloggam(&tiny), 1);
  GamRequest failed{};
  failed.mode = 8;
  failed.a = 1e-10;
  failed.q = 0.5;
  EXPECT_NE(zloggam(&failed), 0);
  EXPECT_TRUE(isHostMissing(failed.x));
  // Bits 4 and 8 together: the lower-tail quantile of p.
  GamRequest both{};
  both.mode = 12;
  both.a = 1.0;
  both.p = 0.5;
  both.q = 0.1;
  ASSERT_EQ(zloggam(&both), 0);
  EXPECT_NEAR(both.x, 0.6931471805599453, 1e-8);
  EXPECT_EQ(both.mode, 12u);
}

TEST(BetaQuantile, LowerAndUpperTailsMatchReference) {
  auto rows = loadGrid("betaq.txt");
  ASSERT_GT(rows.size(), 40u);
  for (const auto& r : rows) {
    BetRequest lo{};
    lo.mode = 4;
    lo.a = r[0];
    lo.b = r[1];
    lo.p = r[2];
    ASSERT_EQ(zlogbet(&lo), 0) << "a=" << r[0] << " b=" << r[1] << " p=" << r[2];
    // Halley or Newton stops at 1e-7 y on the probability.
    double d = std::fabs(lo.x - r[3]);
    EXPECT_LE(d, 2e-7 * std::fmax(r[3], 1e-300) + 1e-300)
        << "a=" << r[0] << " b=" << r[1] << " p=" << r[2];
    BetRequest up{};
    up.mode = 8;
    up.a = r[0];
    up.b = r[1];
    up.q = r[2];
    if (r[4] > 0.999999999999889) {
      // The quantile lies beyond the upper bound of the search: refused up front.
      EXPECT_EQ(zlogbet(&up), 1);
      continue;
    }
    ASSERT_EQ(zlogbet(&up), 0) << "a=" << r[0] << " b=" << r[1] << " q=" << r[2];
    EXPECT_LE(std::fabs(up.x - r[4]), 2e-7 * std::fmax(r[4], 1e-300) + 1e-300)
        << "a=" << r[0] << " b=" << r[1] << " q=" << r[2];
  }
}

TEST(BetaQuantile, ClosedFormsAndEdges) {
  for (double p : {0.05, 0.3, 0.8}) {
    BetRequest u{};
    u.mode = 4;
    u.a = u.b = 1.0;
    u.p = p;
    ASSERT_EQ(zlogbet(&u), 0);
    EXPECT_NEAR(u.x, p, 2e-7 * p);
    BetRequest s{};
    s.mode = 4;
    s.a = 2.0;
    s.b = 1.0;
    s.p = p;
    ASSERT_EQ(zlogbet(&s), 0);
    EXPECT_NEAR(s.x, std::sqrt(p), 2e-7);
    BetRequest c{};
    c.mode = 4;
    c.a = 1.0;
    c.b = 2.0;
    c.p = p;
    ASSERT_EQ(zlogbet(&c), 0);
    EXPECT_NEAR(c.x, 1.0 - std::sqrt(1.0 - p), 2e-7);
  }
  auto at = [](uint32_t mode, double p, double q) {
    BetRequest r{};
    r.mode = mode;
    r.a = 2.0;
    r.b = 3.0;
    r.p = p;
    r.q = q;
    EXPECT_EQ(zlogbet(&r), 0);
    return r.x;
  };
  EXPECT_EQ(at(4, 0.0, 0.0), 0.0);
  EXPECT_EQ(at(4, 1.0, 0.0), 1.0);
  EXPECT_EQ(at(8, 0.0, 0.0), 1.0);
  EXPECT_EQ(at(8, 0.0, 1.0), 0.0);
  BetRequest bad{};
  bad.mode = 4;
  bad.a = 2.0;
  bad.b = 3.0;
  bad.p = 1.5;
  EXPECT_EQ(zlogbet(&bad), 1);
  // Bits 1 and 4: p is checked, then only the probability is computed.
  BetRequest both{};
  both.mode = 5;
  both.x = 0.3;
  both.a = 2.0;
  both.b = 3.0;
  both.p = 0.5;
  ASSERT_EQ(zlogbet(&both), 0);
  EXPECT_EQ(both.x, 0.3);
  EXPECT_NEAR(both.lcdf, std::log(0.3483), 1e-14);
  // A target below the probability at the lowest bound fails before any iteration.
  BetRequest low{};
  low.mode = 4;
  low.a = 0.01;
  low.b = 5.0;
  low.p = 1e-300;
  EXPECT_EQ(zlogbet(&low), 1);
}

TEST(ChiSquareAndFQuantiles, MatchReference) {
  for (const auto& r : loadGrid("chisqq.txt")) {
    CncRequest lo{};
    lo.mode = 4;
    lo.df = r[0];
    lo.nc = r[1];
    lo.p = r[2];
    ASSERT_EQ(zlogcnc(&lo), 0) << "df=" << r[0] << " nc=" << r[1] << " p=" << r[2];
    EXPECT_LE(relErr(lo.x, r[3]), 1e-7) << "df=" << r[0] << " nc=" << r[1] << " p=" << r[2];
    CncRequest up{};
    up.mode = 8;
    up.df = r[0];
    up.nc = r[1];
    up.p = r[2];
    ASSERT_EQ(zlogcnc(&up), 0) << "df=" << r[0] << " nc=" << r[1] << " q=" << r[2];
    EXPECT_LE(relErr(up.x, r[4]), 1e-7) << "df=" << r[0] << " nc=" << r[1] << " q=" << r[2];
  }
  for (const auto& r : loadGrid("fq.txt")) {
    FncRequest lo{};
    lo.mode = 4;
    lo.df1 = r[0];
    lo.df2 = r[1];
    lo.p = r[2];
    ASSERT_EQ(zlogfnc(&lo), 0) << "df1=" << r[0] << " df2=" << r[1] << " p=" << r[2];
    EXPECT_LE(relErr(lo.x, r[3]), 1e-7) << "df1=" << r[0] << " df2=" << r[1] << " p=" << r[2];
    FncRequest up{};
    up.mode = 8;
    up.df1 = r[0];
    up.df2 = r[1];
    up.p = r[2];
    ASSERT_EQ(zlogfnc(&up), 0) << "df1=" << r[0] << " df2=" << r[1] << " q=" << r[2];
    EXPECT_LE(relErr(up.x, r[4]), 1e-7) << "df1=" << r[0] << " df2=" << r[1] << " q=" << r[2];
  }
}

namespace {
struct Logistic {
  double* slot;
};
// Plain probability of the standard logistic distribution at the solver's x (shifted by 5
// so that the solution is positive).
int32_t logisticCdf(QuantileSolve* rec) {
  *rec->prob = 1.0 / (1.0 + std::exp(-(rec->x - 5.0)));
  return 0;
}
int32_t fromOne(QuantileSolve* rec) {
  rec->xStart = 1.0;
  rec->stepUp = 2.0;
  rec->stepDown = 0.5;
  return 0;
}
int32_t flat(QuantileSolve* rec) {
  *rec->prob = 0.25;
  return 0;
}
} // namespace

TEST(GenericSolver, SolvesBracketsAndRefuses) {
  double slot = 0.8;
  QuantileSolve q{};
  q.scaleKind = 0;
  q.interpKind = 1;
  q.tol = 1e-12;
  q.tol2 = 1e-14;
  q.prob = &slot;
  q.initialGuess = fromOne;
  q.evaluate = logisticCdf;
  ASSERT_EQ(zquant(&q), 0);
  EXPECT_NEAR(q.x, 5.0 + std::log(0.8 / 0.2), 1e-7);

  double s2 = 0.3;
  QuantileSolve below{};
  below.scaleKind = 0;
  below.interpKind = 1;
  below.prob = &s2;
  below.xStart = 1.0;
  below.xMin = 2.0; // the start lies below the lower limit
  below.stepUp = 2.0;
  below.stepDown = 0.5;
  below.evaluate = logisticCdf;
  EXPECT_EQ(zquant(&below), 12345677);

  double s3 = 0.5;
  QuantileSolve never{};
  never.scaleKind = 0;
  never.interpKind = 2;
  never.prob = &s3;
  never.xStart = 1.0;
  never.stepUp = 2.0;
  never.stepDown = 0.5;
  never.evaluate = flat; // the target is never bracketed
  EXPECT_EQ(zquant(&never), 1);

  double s4 = 0.5;
  QuantileSolve badKind{};
  badKind.scaleKind = 3;
  badKind.prob = &s4;
  badKind.evaluate = flat;
  EXPECT_EQ(zquant(&badKind), 1);
}

TEST(NormalMixture, SingleComponentIsTheNormalAndQuantileInverts) {
  double w[1] = {3.0}, m[1] = {1.0}, s[1] = {2.0};
  MxNormRecord one{1, w, m, s, 0};
  double lc, ls, ld, qx;
  ASSERT_EQ(zmxnorm(&one, 3, 2.0, 0.0, &lc, &ls, &ld, &qx), 0);
  double nc, ns, nd;
  ASSERT_EQ(zlognrm(&nc, &ns, &nd, 0.5), 0);
  EXPECT_NEAR(lc, nc, 1e-14);
  EXPECT_NEAR(ls, ns, 1e-14);
  EXPECT_NEAR(ld, nd - std::log(2.0), 1e-14);
  EXPECT_EQ(w[0], 1.0); // normalised

  double w2[2] = {1.0, 3.0}, m2[2] = {2.0, -1.0}, s2[2] = {1.0, 0.5};
  MxNormRecord two{2, w2, m2, s2, kMxSortByMean};
  ASSERT_EQ(zmxnorm(&two, 4, 0.0, 0.4, nullptr, nullptr, nullptr, &qx), 0);
  EXPECT_EQ(m2[0], -1.0); // sorted by mean
  double want = 0.75 * zprbnrm((qx + 1.0) / 0.5) + 0.25 * zprbnrm(qx - 2.0);
  EXPECT_NEAR(want, 0.4, 1e-12);
  EXPECT_NEAR(LogSumOfExpProb(std::log(0.5), std::log(0.5), 1), 0.0, 0.0);
  EXPECT_NEAR(LogSumOfExpProb(-1.0, -2.0, 0), std::log(std::exp(-1.0) + std::exp(-2.0)), 1e-15);

  double bw[2] = {1.0, -1.0}, bm[2] = {0, 0}, bs[2] = {1, 1};
  MxNormRecord bad{2, bw, bm, bs, 0};
  EXPECT_EQ(VerifyQ(&bad), 1 + 2);
  double cw[2] = {1.0, 1.0}, cs[2] = {1.0, -1.0};
  MxNormRecord badSd{2, cw, bm, cs, 0};
  EXPECT_EQ(VerifyQ(&badSd), 1 + 4);
  double zw[2] = {0.0, 0.0};
  MxNormRecord none{2, zw, bm, bs, 0};
  EXPECT_EQ(VerifyQ(&none), 20);
}
