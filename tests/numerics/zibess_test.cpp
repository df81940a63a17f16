// Tests of the modified Bessel function of the first kind (every route, against mpmath)
// and of the adaptive integrator.
#include "numerics/zhrdys.h"
#include "numerics/zibess.h"
#include "refdata.h"

#include <gtest/gtest.h>

#include <cmath>

using reftest::loadGrid;

TEST(BesselI, LogValuesMatchReference) {
  auto rows = loadGrid("bessel.txt");
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    BesselRequest q{};
    q.nu = r[0];
    q.x = r[1];
    q.kind = 2;
    ASSERT_EQ(zibess(&q), 0);
    // The large-argument expansion stops at a relative term of 1e-12.
    double tol = q.scaled ? 2e-12 : 1e-13;
    EXPECT_LE(std::fabs(q.result - r[2]), tol * std::fmax(1.0, std::fabs(r[2])))
        << "nu=" << r[0] << " x=" << r[1];
  }
}

TEST(BesselI, KindsAndDocumentedCases) {
  BesselRequest q{};
  q.x = 0.0;
  q.nu = 0.0;
  EXPECT_EQ(zibess(&q), 0);
  EXPECT_EQ(q.result, 1.0);
  q.nu = 2.0;
  EXPECT_EQ(zibess(&q), 0);
  EXPECT_EQ(q.result, 0.0);
  BesselRequest one{};
  one.x = 1.0;
  EXPECT_EQ(zibess(&one), 0);
  EXPECT_NEAR(one.result, 1.2660658777520082, 1e-15);
  BesselRequest big{};
  big.nu = 1.0;
  big.x = 100.0;
  big.kind = 1;
  EXPECT_EQ(zibess(&big), 0);
  EXPECT_EQ(big.scaled, 1);
  EXPECT_NEAR(big.result, 0.03974415302513025, 1e-12 * 0.04); // e^-100 I_1(100)
  big.kind = 0;
  EXPECT_EQ(zibess(&big), 0);
  EXPECT_NEAR(std::log(big.result), std::log(0.03974415302513025) + 100.0, 1e-12 * 100.0);
  big.x = 1000.0;
  EXPECT_EQ(zibess(&big), 1); // e^L overflows
  big.kind = 2;
  EXPECT_EQ(zibess(&big), 0);
  EXPECT_GT(big.result, 990.0);
  BesselRequest neg{};
  neg.nu = -1.0;
  neg.x = 1.0;
  EXPECT_EQ(zibess(&neg), 1);
  EXPECT_EQ(neg.result, -1.7976931348623157e308);
  double l;
  EXPECT_EQ(zbess(5.5, 10.0, &l), 0);
  BesselRequest rec{};
  rec.nu = 5.5;
  rec.x = 10.0;
  rec.kind = 2;
  ASSERT_EQ(zibess(&rec), 0);
  EXPECT_EQ(rec.start, 26); // series at 26.5 and 27.5, then the recurrence
  EXPECT_EQ(l, rec.result);
  BesselRequest deb{};
  deb.nu = 20.0;
  deb.x = 10.0;
  deb.kind = 2;
  ASSERT_EQ(zibess(&deb), 0);
  EXPECT_EQ(deb.start, 35);
}

TEST(BesselI, DebyePolynomialsAgainstTheirDefinition) {
  // u_1(t) = (3t - 5t^3)/24 and u_2(t) = (81t^2 - 462t^4 + 385t^6)/1152.
  double u[11];
  const double t = 0.6, mu = 7.0;
  bessel::get_u(t / mu, t, u);
  EXPECT_NEAR(u[0], (3 * t - 5 * t * t * t) / 24.0 / mu, 1e-16);
  EXPECT_NEAR(u[1], (81 * t * t - 462 * std::pow(t, 4) + 385 * std::pow(t, 6)) / 1152.0 / (mu * mu),
              1e-16);
}

namespace {
struct Counter {
  int calls = 0;
  bool fail = false;
};

int32_t expMinus(double x, void* c, double* v) {
  static_cast<Counter*>(c)->calls++;
  *v = std::exp(-x);
  return 0;
}
int32_t square(double x, void*, double* v) {
  *v = x * x;
  return 0;
}
int32_t gauss(double x, void*, double* v) {
  *v = std::exp(-0.5 * x * x);
  return 0;
}
int32_t failing(double, void*, double* v) {
  *v = 1.0;
  return 1;
}

IntegrationRecord base(int mode, IntegrandFn f, void* ctx) {
  IntegrationRecord r{};
  r.mode = mode;
  r.tol = 1e-12;
  r.testType = 1;
  r.maxLevels = 10;
  r.initialStep = 0.5;
  r.integrand = f;
  r.context = ctx;
  return r;
}
} // namespace

TEST(Integrator, HalfLineFiniteIntervalAndWholeLine) {
  Counter c;
  IntegrationRecord r = base(2, expMinus, &c);
  r.lower = 0.0;
  r.centre = 1.0;
  double v;
  ASSERT_EQ(zhrdys(&r, &v), 0);
  EXPECT_NEAR(v, 1.0, 1e-12);
  EXPECT_GT(c.calls, 10);

  IntegrationRecord s = base(3, square, nullptr);
  s.lower = 0.0;
  s.upper = 1.0;
  s.centre = 0.5;
  ASSERT_EQ(zhrdys(&s, &v), 0);
  EXPECT_NEAR(v, 1.0 / 3.0, 1e-12);
  EXPECT_EQ(s.width, 1.0);

  IntegrationRecord s2 = base(3, square, nullptr);
  s2.lower = 1.0;
  s2.upper = 3.0;
  s2.centre = 2.0;
  ASSERT_EQ(zhrdys(&s2, &v), 0);
  EXPECT_NEAR(v, 26.0 / 3.0, 1e-11);

  IntegrationRecord g = base(1, gauss, nullptr);
  g.centre = 0.0;
  ASSERT_EQ(zhrdys(&g, &v), 0);
  EXPECT_NEAR(v, std::sqrt(2.0 * std::acos(-1.0)), 1e-12);
}

TEST(Integrator, Failures) {
  Counter c;
  IntegrationRecord r = base(2, expMinus, &c);
  r.centre = 1.0;
  r.maxLevels = 0;
  double v = 123.0;
  EXPECT_EQ(zhrdys(&r, &v), 1);
  EXPECT_EQ(v, 123.0);
  IntegrationRecord f = base(2, failing, nullptr);
  f.centre = 1.0;
  EXPECT_EQ(zhrdys(&f, &v), 1);
  EXPECT_EQ(f.errorFlag, 1);
  IntegrationRecord never = base(2, expMinus, &c);
  never.centre = 1.0;
  never.testType = 7; // never converges: runs out of levels
  EXPECT_EQ(zhrdys(&never, &v), 1);
}

namespace {
struct LogCtx {
  IntegrationRecord* rec;
};
// e^{-(t - 800)^2 / 2} times e^{-700}: far below the double range unless scaled.
int32_t tinyGauss(double t, void* c, double* v) {
  auto* r = static_cast<LogCtx*>(c)->rec;
  double lv = -700.0 - 0.5 * (t - 800.0) * (t - 800.0) - 100.0;
  if (lv > r->exponent)
    r->exponent = static_cast<int32_t>(lv);
  *v = std::exp(lv - r->exponent);
  return 0;
}
} // namespace

TEST(Integrator, ExponentFormKeepsTinyIntegrals) {
  IntegrationRecord r{};
  LogCtx ctx{&r};
  r.mode = 1;
  r.centre = 790.0;
  r.tol = 1e-12;
  r.testType = 1;
  r.maxLevels = 12;
  r.initialStep = 0.5;
  r.logScale = 1;
  r.base = 2.718281828459045;
  r.exponent = r.exponentOld = -2147483647;
  r.integrand = tinyGauss;
  r.context = &ctx;
  double v;
  ASSERT_EQ(zhrdys(&r, &v), 0);
  EXPECT_NEAR(std::log(v) + r.exponent, -800.0 + 0.5 * std::log(2.0 * std::acos(-1.0)), 1e-11);
}
