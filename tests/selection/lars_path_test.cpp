// The least-angle path against an independent LARS computation (scikit-learn's lars_path
// on the same standardized diabetes data, scripts/gen_lars_ref.py): LAR and LASSO enter and
// remove the same effects in the same order with the same path value, L1 norm and SSE at
// every knot, and the same coefficients, with the packed cross products, with the cross
// products of the entered effects kept, and with data passes, serially and on page workers.
#include "selection/larsfixture.h"

#include "data/vsfthread.h"
#include "refcsv.h"
#include "support/testhooks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace larstest;

TEST(LarPath, LarAndLassoFollowTheReferenceOnEveryRoad) {
  struct Road {
    bool full;
    int32_t threads;
    bool disk;
  };
  for (const char* name : {"lar", "lasso"}) {
    const auto want = readPath(name);
    for (Road r :
         {Road{true, 1, false}, Road{false, 1, false}, Road{false, 3, true}, Road{true, 2, true}}) {
      PathSetup p;
      p.method = std::string(name) == "lar" ? VsfMethod::Lar : VsfMethod::Lasso;
      p.full = r.full;
      p.threads = r.threads;
      p.disk = r.disk;
      PathFit f(p);
      f.go();
      const std::string tag = std::string(name) + (r.full ? " packed" : " passes") + " threads " +
                              std::to_string(r.threads);
      checkSeries(f.m(), want, tag);
      EXPECT_EQ(f.m().stop.stopReason, VSR_ALL_ENTERED) << tag;
    }
  }
}

TEST(LarPath, CoefficientsAtEveryKnot) {
  for (const char* name : {"lar", "lasso"}) {
    PathSetup p;
    p.method = std::string(name) == "lar" ? VsfMethod::Lar : VsfMethod::Lasso;
    checkKnots(p, readPath(name), name);
    p.full = false;
    checkKnots(p, readPath(name), std::string(name) + " passes");
  }
}

// With the packed cross products the path's residual sums come from the matrix: no pass over
// the rows after the one that forms it, on one thread and on page workers.
TEST(LarPath, PackedPathsPassOverTheRowsFarFewerTimesThanTheyTakeSteps) {
  for (VsfMethod method : {VsfMethod::Lar, VsfMethod::Lasso})
    for (int32_t threads : {1, 3}) {
      PathSetup p;
      p.method = method;
      p.threads = threads;
      PathFit f(p);
      const int64_t before = vsfPassCount();
      f.go();
      const int64_t passes = vsfPassCount() - before;
      const std::string tag =
          methodName(method) + std::string(" threads ") + std::to_string(threads);
      // The centring and the cross products; a pass per step would make at least as many
      // passes as steps.
      EXPECT_GE(f.m().history.stepCount, 11) << tag;
      EXPECT_LE(passes, 2) << tag;
      EXPECT_EQ(f.m().stop.stopReason, VSR_ALL_ENTERED) << tag;
    }
}

// Without the packed X'X the path keeps the cross products of each entering effect while its
// byte bound allows, and a step whose active set lacks them passes over the rows. With no
// bound to speak of, a bound that runs out part way and a bound of nothing (the data have
// too few columns for the path to keep any by default), LAR and LASSO (which drops
// and re-enters effects) follow the reference, serially and on page workers.
TEST(LarPath, KeptCrossProductsFollowTheReferenceWhateverTheirBound) {
  for (const char* name : {"lar", "lasso"}) {
    const auto want = readPath(name);
    for (int64_t limit : {int64_t{1} << 30, int64_t{700}, int64_t{-1}})
      for (int32_t threads : {1, 3}) {
        PathSetup p;
        p.method = std::string(name) == "lar" ? VsfMethod::Lar : VsfMethod::Lasso;
        p.full = false;
        p.threads = threads;
        testHooks().larCrossLimit = limit;
        PathFit f(p);
        f.go();
        testHooks().larCrossLimit = -1;
        const std::string tag = std::string(name) + " bound " + std::to_string(limit) +
                                " threads " + std::to_string(threads);
        checkSeries(f.m(), want, tag);
        // Every entered effect kept its column, some did, or none.
        const int32_t kept = f.m().crossColumnCount, entered = f.m().effectCount - 1;
        if (limit > 700)
          EXPECT_EQ(kept, entered) << tag;
        else if (limit < 0)
          EXPECT_EQ(kept, 0) << tag;
        else
          EXPECT_TRUE(kept > 0 && kept < entered) << tag << " kept " << kept;
      }
  }
}

// Trending quarterly series (scripts/gen_lar_macro_ref.py: the training rows of a fold of
// consecutive quarters), whose path value falls to 2.5e-5 of its start within nine knots:
// every knot's path value on the packed cross products (external CV's fold fits take them)
// is the 80-digit path's within 1e-9 relative, LAR and LASSO. A direction that fell the
// active correlations at equal rates kept the spread a catch-up left among them (5e-8 at
// C = 9e4) while C fell to 12.9: knot 9 then missed by 1.5e-7.
TEST(LarPath, PathValuesHoldWhereTheCorrelationsFallByOrdersOfMagnitude) {
  const Design d = fittest::readDesign("macrofold");
  for (const char* name : {"lar", "lasso"}) {
    std::vector<double> want{1.0};
    for (const auto& row : readCsvRows(std::string(QRX_TEST_DATA) + "/lars/macrofold.csv"))
      if (row[0] == name)
        want.push_back(std::stod(row[2]));
    PathSetup p;
    p.method = std::string(name) == "lar" ? VsfMethod::Lar : VsfMethod::Lasso;
    PathFit f(p, d);
    f.go();
    ASSERT_EQ(f.m().history.stepCount, static_cast<int32_t>(want.size())) << name;
    for (size_t t = 1; t < want.size(); ++t)
      expectClose(f.m().history.stepPathValue[t], want[t], want[t] > 0 ? want[t] : 1.0, 1e-9,
                  std::string(name) + " knot " + std::to_string(t));
  }
}
