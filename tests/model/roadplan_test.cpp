// The road a fit over one many-level CLASS effect is planned to take before its data are read
// (vsfStructuredPlan): the rules of the options and of the effect list, with the cross
// products built whole, whatever build the procedure first chose.
#include "model/vsfstructured.h"
#include "support/vsfmethods.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Plan {
  VsfModelOptions options{};
  VsfDataSettings settings{};
  std::vector<VsfEffectEntry> entries;

  // The intercept and `covariates` numeric effects (one dense column each), then a CLASS
  // effect of `levels` columns, voted sparse.
  Plan(int32_t covariates, int32_t levels) {
    options.method = VsfMethod::Forward;
    options.select = VsfCriterion::Sbc;
    settings.expectedRows = 50000;
    for (int32_t e = 0; e <= covariates; ++e)
      entries.push_back(VsfEffectEntry{e, 1, nullptr, e, 0});
    entries.push_back(VsfEffectEntry{covariates + 1, levels, nullptr, covariates + 1, 1});
  }
  VsfMsg plan(VsfRoadShape* road = nullptr) {
    settings.entries = entries.data();
    settings.entryCount = static_cast<int32_t>(entries.size());
    VsfRoadShape shape;
    const VsfMsg m = vsfStructuredPlan(options, settings, &shape);
    if (road != nullptr)
      *road = shape;
    return m;
  }
};

TEST(RoadPlan, ManyLevelsTakeTheRoadWithTheWholeBuildUnlessARuleRefusesIt) {
  // 2,000 levels beside 30 covariates, the intercept and the response: the road, whichever
  // build the effects' count chose (the plan is made with the whole one).
  Plan forward(30, 2000);
  VsfRoadShape road;
  EXPECT_EQ(forward.plan(&road), VsfMsg{});
  EXPECT_EQ(road.entry, 31);
  EXPECT_EQ(road.columns, 2000);
  EXPECT_EQ(road.small, 32);
  EXPECT_EQ(road.dense, 32);
  EXPECT_EQ(road.joined, 0);
  forward.options.method = VsfMethod::Stepwise;
  EXPECT_EQ(forward.plan(), VsfMsg{});
  forward.options.method = VsfMethod::Backward;
  EXPECT_EQ(forward.plan(), VsfMsg{});

  // 50 levels: entering them over the packed triangle of 82 columns costs 50 x 82^2 / 2,
  // some 170,000 operations, less than the million the road must save.
  EXPECT_EQ(Plan(30, 50).plan(&road), VsfMsg::RoadNotForFewLevels);
  EXPECT_EQ(road.entry, -1);

  // A second CLASS effect stored sparse that does not join; one that joins is a small column.
  Plan two(3, 5000);
  two.entries.push_back(VsfEffectEntry{5, 400, nullptr, 5, 1});
  EXPECT_EQ(two.plan(), VsfMsg::RoadNotForSeveralSparse);
  two.entries[5].joined = 1;
  EXPECT_EQ(two.plan(&road), VsfMsg{});
  EXPECT_EQ(road.entry, 4);
  EXPECT_EQ(road.columns, 5000);
  EXPECT_EQ(road.small, 1 + 4 + 400);
  EXPECT_EQ(road.dense, 1 + 4);
  // Each level keeps no more joining places than its rows: 50,000 rows, one joining effect.
  EXPECT_EQ(road.joined, 50000);

  // The options that keep the fit off the road, each by its own message.
  struct Refusal {
    void (*set)(VsfModelOptions&);
    VsfMsg message;
  } refusals[] = {
      {[](VsfModelOptions& o) { o.method = VsfMethod::Lasso; }, VsfMsg::RoadNotForMethod},
      {[](VsfModelOptions& o) { o.adaptive = 1; }, VsfMsg::RoadNotForMethod},
      {[](VsfModelOptions& o) { o.cvExternal = 1; }, VsfMsg::RoadNotForExternalCv},
      {[](VsfModelOptions& o) { o.modelAverage = 1; }, VsfMsg::RoadNotForAveraging},
      {[](VsfModelOptions& o) { o.hierarchy = VsfHierarchy::Single; }, VsfMsg::RoadNotForHierarchy},
      {[](VsfModelOptions& o) { o.colStandardize = 1; }, VsfMsg::RoadNotForStandardised},
      {[](VsfModelOptions& o) { o.cvOn = 1; }, VsfMsg::RoadNotForOneFold},
  };
  for (const Refusal& r : refusals) {
    Plan p(30, 2000);
    r.set(p.options);
    EXPECT_EQ(p.plan(&road), r.message) << static_cast<int>(r.message);
    EXPECT_EQ(road.entry, -1);
  }
  // Five fold records serve; PRESS and the other criteria of FORWARD too.
  Plan folds(30, 2000);
  folds.options.cvOn = 1;
  folds.settings.cv = 1;
  folds.settings.folds = 5;
  EXPECT_EQ(folds.plan(), VsfMsg{});
  folds.options.select = VsfCriterion::Press;
  EXPECT_EQ(folds.plan(), VsfMsg{});

  // A many-level effect of constructed columns, or every effect stored dense: no road.
  Plan spline(30, 2000);
  spline.entries.back().constructed = 1;
  EXPECT_EQ(spline.plan(), VsfMsg::RoadNotForFewLevels);
  Plan dense(30, 2000);
  dense.settings.forceDense = 1;
  EXPECT_EQ(dense.plan(), VsfMsg::RoadNotForFewLevels);
}

} // namespace
