// Every entry of the probability library fed with NaN, infinities and extreme values: it
// must return (no hang, no undefined behaviour under the sanitizers) and never report
// success with a NaN result.
#include "numerics/zelementary.h"
#include "numerics/zibess.h"
#include "numerics/zibeta.h"
#include "numerics/zlgamma.h"
#include "numerics/zlogbet.h"
#include "numerics/zlogcnc.h"
#include "numerics/zlogfnc.h"
#include "numerics/zloggam.h"
#include "numerics/znormal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {
const double kInf = std::numeric_limits<double>::infinity();
const std::vector<double> kValues = {std::nan(""), -kInf, kInf, -1.0, 0.0, 1e-310,
                                     1e-300,       0.5,   1.0,  3.0,  1e8, 1e300};
} // namespace

TEST(Robustness, ProbabilityEntriesNeverReportNanAsSuccess) {
  for (double x : kValues)
    for (double a : kValues)
      for (double b : {1.0, 5.0, std::nan(""), kInf, 1e-310}) {
        double lc = 0, ls = 0;
        if (zlogFNCApproxLarge(&lc, &ls, x, a, b, 0.0) == 0) {
          EXPECT_FALSE(std::isnan(lc) || std::isnan(ls)) << x << " " << a << " " << b;
        }
        double p = zprbf(x, a, b);
        EXPECT_FALSE(std::isnan(p)) << x << " " << a << " " << b;
        double pr = 0, d = 0;
        if (zibeta(x, a, b, &pr, &d) == 0) {
          EXPECT_FALSE(std::isnan(pr)) << x << " " << a << " " << b;
        }
        BetRequest br{};
        br.mode = 1;
        br.x = x;
        br.a = a;
        br.b = b;
        if (zlogbet(&br) == 0) {
          EXPECT_FALSE(std::isnan(br.lcdf) || std::isnan(br.lsdf)) << x << " " << a << " " << b;
        }
        CncRequest cr{};
        cr.mode = 1;
        cr.x = x;
        cr.df = a;
        cr.nc = b == 5.0 ? 7.0 : 0.0;
        if (zlogcnc(&cr) == 0) {
          EXPECT_FALSE(std::isnan(cr.lcdf) || std::isnan(cr.lsdf)) << x << " " << a;
        }
      }
  for (double x : kValues)
    for (double a : kValues) {
      GamRequest g{};
      g.mode = 3;
      g.x = x;
      g.a = a;
      if (zloggam(&g) == 0) {
        EXPECT_FALSE(std::isnan(g.lcdf) || std::isnan(g.lsdf)) << x << " " << a;
      }
      BesselRequest bq{};
      bq.x = x;
      bq.nu = a;
      bq.kind = 2;
      if (zibess(&bq) == 0) {
        EXPECT_FALSE(std::isnan(bq.result)) << x << " " << a;
      }
      double lc, ls, ld;
      if (zlognrm(&lc, &ls, &ld, x) == 0 && !std::isnan(x)) {
        EXPECT_FALSE(std::isnan(lc) || std::isnan(ls)) << x;
      }
      (void)zlgamma(x);
      (void)zlbeta(x, a);
      (void)zprobit(x >= 0.0 && x <= 1.0 ? x : 0.5);
    }
}

TEST(Robustness, QuantileModesWithExtremeTargets) {
  for (double p : {std::nan(""), -1.0, 0.0, 1e-320, 1e-300, 0.5, 1.0 - 1e-16, 1.0, 2.0}) {
    GamRequest g{};
    g.mode = 4;
    g.a = 2.0;
    g.p = p;
    if (zloggam(&g) == 0) {
      EXPECT_FALSE(std::isnan(g.x)) << p;
    }
    GamRequest u{};
    u.mode = 8;
    u.a = 2.0;
    u.q = p;
    if (zloggam(&u) == 0) {
      EXPECT_FALSE(std::isnan(u.x)) << p;
    }
    BetRequest b{};
    b.mode = 4;
    b.a = 2.0;
    b.b = 3.0;
    b.p = p;
    if (zlogbet(&b) == 0) {
      EXPECT_FALSE(std::isnan(b.x)) << p;
    }
    FncRequest f{};
    f.mode = 8;
    f.df1 = 3.0;
    f.df2 = 7.0;
    f.p = p;
    if (zlogfnc(&f) == 0) {
      EXPECT_FALSE(std::isnan(f.x)) << p;
    }
    CncRequest c{};
    c.mode = 4;
    c.df = 3.0;
    c.p = p;
    if (zlogcnc(&c) == 0) {
      EXPECT_FALSE(std::isnan(c.x)) << p;
    }
  }
}
