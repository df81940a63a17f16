// The elastic net's L2 search against scripts/gen_elnet_ref.py, which fits every trial as the
// LASSO path of the augmented data and simulates the grid and golden-section searches: the
// trial points, each trial's row (path position, rank, SBC, norms, knot of the chosen step),
// the chosen L2 as the smallest SBC, and the whole path of each trial on the shared X'X.
#include "model/vsfformulas.h"
#include "selection/larsfixture.h"
#include "selection/vsfelnet.h"
#include "selection/vsfprocess.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace larstest;

namespace {

struct TuneRef {
  double l2, ratio, rank, sbc, l2Norm, l1Norm, steps;
};

std::vector<TuneRef> readTune(const std::string& name) {
  std::vector<TuneRef> out;
  for (const std::vector<double>& v : readNumbers(name))
    out.push_back({v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
  return out;
}

// A search fit on the diabetes data with the tuning rows kept.
struct Search {
  PathFit f;
  std::vector<double> rows;
  Search(VsfL2Search kind, double lo, double hi, int32_t steps, VsfCriterion choose,
         VsfCriterion stop = VsfCriterion::NoneGiven, const Design& d = diabetes())
      : f(setup(choose, stop), d) {
    f.fit.opt.pressNeeded = choose == VsfCriterion::Press;
    EXPECT_EQ(f.fit.run.read(f.fit.src), 0);
    VsfModel& m = f.m();
    m.options = &f.fit.opt;
    m.fuzz = f.fit.opt.fuzz;
    m.elnet.l2Search = kind;
    m.elnet.l2Low = lo;
    m.elnet.l2High = hi;
    m.elnetPass.l2Steps = steps;
    rows.assign(7 * static_cast<size_t>(std::max(steps, 3)), 0.0);
    m.elnetPass.enTuneRows = rows.data();
    m.elnetPass.enTuneCapacity = std::max(steps, 3);
  }
  static PathSetup setup(VsfCriterion choose, VsfCriterion stop) {
    PathSetup p;
    p.method = VsfMethod::ElasticNet;
    p.choose = static_cast<int32_t>(choose);
    p.stop = static_cast<int32_t>(stop);
    return p;
  }
  VsfModel& m() { return f.m(); }
  VsfStatus run() { return vsfProcess(&f.m(), nullptr); }
  const double* row(size_t i) const { return rows.data() + 7 * i; }
};

void expectRows(const Search& s, const std::vector<TuneRef>& want, const std::string& tag) {
  for (size_t i = 0; i < want.size(); ++i) {
    const double* r = s.row(i);
    const TuneRef& w = want[i];
    const std::string at = tag + " trial " + std::to_string(i);
    expectClose(r[0], w.l2, std::fabs(w.l2), 1e-12, at + " L2");
    expectClose(r[1], w.ratio, w.ratio, 1e-9, at + " L1 ratio");
    EXPECT_EQ(r[2], w.rank) << at;
    expectClose(r[3], w.sbc, std::fabs(w.sbc), 1e-9, at + " SBC");
    expectClose(r[4], w.l2Norm, w.l2Norm, 1e-9, at + " L2 norm");
    expectClose(r[5], w.l1Norm, w.l1Norm, 1e-9, at + " L1 norm");
    EXPECT_EQ(r[6], w.steps) << at;
  }
  // Rows past the trials stay empty.
  for (size_t i = want.size(); i < s.rows.size() / 7; ++i)
    EXPECT_EQ(s.row(i)[0] + s.row(i)[3], 0.0) << tag << " row " << i;
}

// The first smallest criterion of the reference trials.
double argminL2(const std::vector<TuneRef>& want) {
  size_t best = 0;
  for (size_t i = 1; i < want.size(); ++i)
    if (want[i].sbc < want[best].sbc)
      best = i;
  return want[best].l2;
}

} // namespace

TEST(ElasticNetSearch, GridTrialsAreTheAugmentedLassoFits) {
  const auto want = readTune("enet_search_grid");
  ASSERT_EQ(want.size(), 4u);
  // L2LOW=0, L2HIGH=10, L2STEPS=4: 0, then 1e-8 to 10 in log10 steps of 4.5.
  EXPECT_EQ(want[0].l2, 0.0);
  EXPECT_NEAR(want[1].l2, 1e-8, 1e-20);
  EXPECT_NEAR(want[2].l2, std::pow(10.0, -3.5), 1e-16);
  EXPECT_NEAR(want[3].l2, 10.0, 1e-12);
  Search s(VsfL2Search::Grid, 0.0, 10.0, 4, VsfCriterion::Sbc);
  ASSERT_EQ(s.run(), VsfStatus::Ok);
  ASSERT_EQ(s.m().fitStatus, VsfFitStatus::Done);
  expectRows(s, want, "grid");
  EXPECT_EQ(s.m().elnet.finalL2, argminL2(want));
  // The final fit is the chosen trial's path, recorded step by step.
  checkSeries(s.m(), readPath("enet_l2_0"), "grid final fit");
}

TEST(ElasticNetSearch, GoldenSectionTrialsAndChoice) {
  const auto want = readTune("enet_search_golden");
  ASSERT_EQ(want.size(), 8u);
  Search s(VsfL2Search::Golden, 0.0, 1.0, 8, VsfCriterion::Sbc);
  ASSERT_EQ(s.run(), VsfStatus::Ok);
  ASSERT_EQ(s.m().fitStatus, VsfFitStatus::Done);
  expectRows(s, want, "golden");
  EXPECT_EQ(s.m().elnet.finalL2, argminL2(want));
}

// L2STEPS=3 (and fewer): the three points L2LOW, the golden point and L2HIGH.
TEST(ElasticNetSearch, GoldenSectionWithThreeStepsTriesTheEndsAndTheGoldenPoint) {
  for (int32_t steps : {2, 3}) {
    Search s(VsfL2Search::Golden, 0.0, 1.0, steps, VsfCriterion::Sbc);
    ASSERT_EQ(s.run(), VsfStatus::Ok);
    EXPECT_EQ(s.row(0)[0], 0.0);
    EXPECT_NEAR(s.row(1)[0], 1.0 / 2.618033988749895, 1e-15);
    EXPECT_EQ(s.row(2)[0], 1.0);
  }
}

// Without CHOOSE= and with STOP=NONE every trial's value is 0: the first L2 stays.
TEST(ElasticNetSearch, NoCriterionKeepsTheFirstTrial) {
  Search s(VsfL2Search::Grid, 0.001, 1.0, 4, VsfCriterion::NoneGiven, VsfCriterion::None);
  ASSERT_EQ(s.run(), VsfStatus::Ok);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(s.row(i)[3], 0.0) << i;
  EXPECT_NEAR(s.row(3)[0], 1.0, 1e-12);
  EXPECT_EQ(s.m().elnet.finalL2, 0.001);
}

// CHOOSE=ADJRSQ: the search minimises minus the adjusted R-square of the chosen step.
TEST(ElasticNetSearch, AdjustedRSquareIsNegated) {
  Search s(VsfL2Search::Grid, 0.0, 10.0, 4, VsfCriterion::AdjRsq);
  ASSERT_EQ(s.run(), VsfStatus::Ok);
  VsfModel& m = s.m();
  size_t best = 0;
  for (size_t i = 0; i < 4; ++i) {
    const double* r = s.row(i);
    ASSERT_GT(r[6], 0) << i;
    // 1 - (n - 1) SSE / (TSS (n - p)) with the SSE recovered from the trial's own row is
    // not available; the value is the negated adjusted R-square, within (-1, 0).
    EXPECT_LT(r[3], 0.0) << i;
    EXPECT_GT(r[3], -1.0) << i;
    if (r[3] < s.row(best)[3])
      best = i;
  }
  EXPECT_EQ(m.elnet.finalL2, s.row(best)[0]);
  // The final fit's chosen step has that adjusted R-square.
  const int32_t k = m.chosen.chosenStep;
  const double adj =
      vsfAdjrsq(m.history.stepRank[k], 0, m.history.stepSSE[k], m.totalSS, m.totals.nObs);
  EXPECT_NEAR(-adj, s.row(best)[3], 1e-12);
}

// Each grid trial's whole path, fitted on cross products that a fit at another L2 left
// (the ridge added per trial), equals the augmented LASSO, and equals the fit that formed
// its own cross products from the pages.
TEST(ElasticNetSearch, SharedCrossProductsGiveEachTrialItsOwnPath) {
  const auto grid = readTune("enet_search_grid");
  for (size_t k = 0; k < grid.size(); ++k) {
    const std::string tag = "trial " + std::to_string(k);
    PathSetup p;
    p.method = VsfMethod::ElasticNet;
    p.l2 = grid[k].l2;
    PathFit fresh(p);
    fresh.go();
    checkSeries(fresh.m(), readPath("enet_l2_" + std::to_string(k)), tag + " own pass");

    PathFit shared(p);
    ASSERT_EQ(shared.fit.run.read(shared.fit.src), 0);
    VsfModel& m = shared.m();
    m.options = &shared.fit.opt;
    m.fuzz = shared.fit.opt.fuzz;
    std::vector<double> base(static_cast<size_t>((m.parmCount + 1) * (m.parmCount + 2) / 2));
    m.elnet.l2BaseXpx = base.data();
    m.elnet.l2BaseReady = 0;
    // A first fit at another L2 fills the shared cross products.
    ASSERT_EQ(vsfProcessCriterionEN(grid[(k + 1) % grid.size()].l2, &m) >= 0 ? 0 : 1, 0);
    ASSERT_EQ(m.elnet.l2BaseReady, 1);
    shared.fit.opt.transformPages = 0;
    ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
    m.elnetPass.l2 = grid[k].l2;
    ASSERT_EQ(vsfProcessModel(&m), VsfStatus::Ok);
    ASSERT_EQ(m.fitStatus, VsfFitStatus::Done);
    checkSeries(m, readPath("enet_l2_" + std::to_string(k)), tag + " shared");
    ASSERT_EQ(m.history.stepCount, fresh.m().history.stepCount);
    for (int32_t s = 0; s < m.history.stepCount; ++s) {
      EXPECT_NEAR(m.history.stepSSE[s], fresh.m().history.stepSSE[s],
                  1e-12 * fresh.m().history.stepSSE[0])
          << tag;
      EXPECT_NEAR(m.history.stepL1Norm[s], fresh.m().history.stepL1Norm[s],
                  1e-12 * (1 + m.history.stepL1Norm[s]))
          << tag;
    }
    m.elnet.l2BaseXpx = nullptr;
  }
}

// Every criterion the elastic net allows judges the trials: the chosen L2 is the trial of the
// smallest value, and that value is the criterion of the final fit's chosen step.
TEST(ElasticNetSearch, EveryCriterionChoosesItsSmallestTrial) {
  static const Design partition = fittest::readDesign("partition");
  for (VsfCriterion code :
       {VsfCriterion::Aic, VsfCriterion::Aicc, VsfCriterion::Sbc, VsfCriterion::AdjRsq,
        VsfCriterion::Cp, VsfCriterion::Bic, VsfCriterion::Press, VsfCriterion::Validate}) {
    const std::string tag = "criterion " + std::to_string(static_cast<int>(code));
    Search s(VsfL2Search::Grid, 0.0, 10.0, 4, code, VsfCriterion::NoneGiven,
             code == VsfCriterion::Validate ? partition : diabetes());
    ASSERT_EQ(s.run(), VsfStatus::Ok) << tag;
    ASSERT_EQ(s.m().fitStatus, VsfFitStatus::Done) << tag;
    size_t best = 0;
    for (size_t i = 0; i < 4; ++i) {
      ASSERT_TRUE(std::isfinite(s.row(i)[3])) << tag << " trial " << i;
      if (s.row(i)[3] < s.row(best)[3])
        best = i;
    }
    VsfModel& m = s.m();
    EXPECT_EQ(m.elnet.finalL2, s.row(best)[0]) << tag;
    const double sign = code == VsfCriterion::AdjRsq ? -1.0 : 1.0;
    const double value =
        sign * fittest::stepCriterion(m, static_cast<int32_t>(code), m.chosen.chosenStep);
    expectClose(value, s.row(best)[3], std::fabs(value), 1e-9, tag + " chosen value");
  }
}
