// The one test of whether a fold's sums hold its held-out error, on the rows of
// tests/data/cvrows under BLOCK(7) folds (references: scripts/gen_cv_rows_ref.py, numpy and
// mpmath): the fold holding the row far out in v1 has a training inflation of 290 only, but
// that row lies at a summed leverage of 1.9e5 of its training rows, so the sums' error of its
// coefficients reaches its held-out error magnified; the other folds' inflations near 3e3 and
// leverages below 4 keep their sums. The leverages the sums give follow numpy's, the rule
// sends the far fold (and only it) to its rows, and every fold's held-out error is its exact
// refit's within 1e-9 of the corrected total.
#include "selection/fitfixture.h"

#include "model/vsfcriteria.h"
#include "model/vsffoldpress.h"
#include "model/vsfrefine.h"
#include "refcsv.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fittest;

namespace {

struct FoldRef {
  double error = 0.0, allowed = 0.0, leverage = 0.0, inflation = 0.0;
  bool sumsHold = false;
};

std::vector<FoldRef> readFolds() {
  std::vector<FoldRef> out;
  for (const auto& r : readNumberRows(std::string(QRX_TEST_DATA) + "/cvrows/folds.csv"))
    out.push_back({r[1], r[2], r[3], r[4], r[5] != 0.0});
  return out;
}

struct FoldRows : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

TEST_F(FoldRows, AFarHeldOutRowSendsItsFoldAloneToTheRows) {
  const Design d = readDesign("cvrows");
  const std::vector<FoldRef> ref = readFolds();
  for (const bool full : {true, false}) {
    FitSetup s;
    s.method = VsfMethod::None;
    s.full = full;
    Fit fit(d, s);
    fit.opt.cvOn = 1;
    fit.run.settings.cv = 1;
    fit.run.settings.cvMethod = VsfCvMethod::Block;
    fit.run.settings.folds = static_cast<int32_t>(ref.size());
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok) << full;
    VsfModel& m = fit.m();
    ASSERT_EQ(m.cv.foldCount, static_cast<int32_t>(ref.size())) << full;
    std::vector<double> inflation, errors, leverage;
    vsfFoldInflations(&m, inflation);
    (void)vsfFoldSums(&m, inflation, errors, leverage);
    // The fitted model's CV PRESS, formed afresh by the one function every road calls.
    m.cvPress = hostMissing();
    ASSERT_EQ(vsfComputeCVResids(&m), VsfStatus::Ok) << full;
    for (int32_t f = 0; f < m.cv.foldCount; ++f) {
      const FoldRef& r = ref[static_cast<size_t>(f)];
      // The summed leverage itself where the rule needs it, else a bound on it.
      if (r.sumsHold)
        EXPECT_GE(leverage[static_cast<size_t>(f)], (1 - 1e-5) * r.leverage) << full << " " << f;
      else
        EXPECT_NEAR(leverage[static_cast<size_t>(f)], r.leverage, 1e-5 * r.leverage)
            << full << " fold " << f;
      EXPECT_EQ(vsfFoldSumsHoldDigits(r.inflation, leverage[static_cast<size_t>(f)],
                                      vsfFoldLostColumn(&m, f), vsfFoldFarFromOrigin(&m, f)),
                r.sumsHold)
          << full << " fold " << f;
      EXPECT_NEAR(m.cv.folds[f].cvSse, r.error, r.allowed) << full << " fold " << f;
    }
  }
}

} // namespace
