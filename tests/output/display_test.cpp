// The display of one fit through vsfResults: the tables of a plain fit in display order, a
// failed fit reported by its message and return code alone, and a failure of the selected
// model's tables passed on to the caller instead of being dropped.
#include "failingpool.h"
#include "resultsfixture.h"

#include "display/vsfdisplay.h"
#include "host/hostlog.h"
#include "host/output/outputdoc.h"
#include "msgid.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "selection/vsfresample.h"

#include <functional>

using namespace restest;

namespace {

struct Display : ResultsFixture {
  void fit() {
    setEffects({"Intercept", "X1", "X2", "X3"});
    VsfModel& m = ctx->model;
    m.totalSS = 100.0, m.totalSSUncorrected = 500.0, m.totals.nObs = 20, m.totals.wTrain = 20;
    m.totals.nRead = m.totals.nUsed = 20;
    m.includeCount = 1;
    setHistory({0, 2, 1}, {1, 2, 3}, {1, 2, 3}, {100.0, 40.0, 30.0});
    m.sse = 30.0, m.rank = 3;
    m.effectStatus[0] = 2, m.effectStatus[1] = 1, m.effectStatus[2] = 1;
    m.inModelCount = 3;
    for (int k = 0; k < 3; ++k)
      m.inModelList[k] = k, m.betaVariance[k] = 0.1, m.beta[k] = k + 1.0;
    m.stop.stopReason = 7;
  }
  std::vector<std::string> order(const minijson::Value& nodes) {
    std::vector<std::string> out;
    std::function<void(const minijson::Value&)> walk = [&](const minijson::Value& n) {
      if (n.kind == minijson::Value::Array) {
        for (const auto& i : n.items)
          walk(i);
        return;
      }
      if (n["kind"].s == "table" || n["kind"].s == "factoid")
        out.push_back(n["name"].s);
      if (n.has("children"))
        walk(n["children"]);
    };
    walk(nodes);
    return out;
  }
};

TEST_F(Display, TablesOfAPlainFitInDisplayOrder) {
  fit();
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  auto out = output();
  const std::vector<std::string> expected = {
      "NObs",  "Dimensions",    "SelectionSummary",  "StopReason", "SelectedEffects",
      "ANOVA", "FitStatistics", "ParameterEstimates"};
  EXPECT_EQ(order(out), expected);
  const auto& pe = *find(out, "ParameterEstimates").at(0);
  EXPECT_EQ(pe["rows"].items.size(), 3u);
}

TEST_F(Display, AFailedFitShowsOnlyItsCountsAndMessage) {
  fit();
  ctx->model.fitStatus = VsfFitStatus::ZeroFullMse;
  (void)qrxhost::takeLog();
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  EXPECT_EQ(ctx->returnCode, 112);
  int reported = 0;
  for (const auto& r : qrxhost::takeLog())
    reported += r.numbered && MsgId(VsfMsg::CpBicNeedFullModelVariance).is(r.set, r.number);
  EXPECT_EQ(reported, 1);
  auto out = output();
  EXPECT_EQ(order(out), std::vector<std::string>{"NObs"});
}

TEST_F(Display, OtherNegativeStatusesRaiseTheReturnCodeSilently) {
  fit();
  ctx->model.fitStatus = VsfFitStatus::NoMemory;
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  EXPECT_EQ(ctx->returnCode, 116);
  vsfSetFitFailure(&ctx->model, VsfStatus::NoPage);
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  EXPECT_EQ(ctx->returnCode, 116) << "112 does not lower 116";
}

TEST_F(Display, AFailureOfTheSelectedModelTablesIsPassedOn) {
  fit();
  // The selection's tables draw on the model's pool; one that has run dry makes them fail.
  QkPool* own = ctx->model.pool;
  FailingPool dry(own, 0);
  ctx->model.pool = dry.get();
  EXPECT_EQ(vsfResults(ctx.get()), VsfStatus::NoMemory);
  ctx->model.pool = own;
}

TEST_F(Display, ANointFitWithoutStepsPrintsEmptyTables) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  ctx->options.noint = 1;
  m.totals.nObs = 10, m.totals.wTrain = 10, m.totalSS = 5, m.totalSSUncorrected = 50, m.sse = 50;
  m.totals.nRead = m.totals.nUsed = 10;
  m.effectStatus[0] = 5; // the intercept is unavailable under NOINT
  setHistory({}, {}, {}, {});
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  auto out = output();
  const auto& pe = *find(out, "ParameterEstimates").at(0);
  EXPECT_TRUE(pe["rows"].items.empty());
  EXPECT_TRUE(find(out, "SelectedEffects").empty());
}

TEST_F(Display, AFitWithoutSelectionStillShowsItsSummary) {
  fit();
  ctx->options.method = VsfMethod::None;
  ctx->model.stop.stopReason = 9;
  ASSERT_EQ(vsfResults(ctx.get()), VsfStatus::Ok);
  auto out = output();
  EXPECT_EQ(find(out, "SelectionSummary").size(), 1u);
  EXPECT_TRUE(find(out, "StopReason").empty());
  EXPECT_TRUE(find(out, "SelectedEffects").empty());
}

// The heading of the "SelectedModel" group sits at level 2, and during a refit of the
// averaged model, whose groups all sit one level deeper, at level 3.
TEST_F(Display, TheSelectedModelHeadingSitsOneLevelDeeperDuringARefit) {
  VsfResampling resampling{};
  ctx->resampling = &resampling;
  std::vector<int32_t> levels;
  for (uint8_t refit : {0, 1}) {
    resampling.settings.refitInProgress = refit;
    ASSERT_EQ(vsfSetSelModelGroup(ctx.get()), VsfStatus::Ok);
    const auto* doc = static_cast<qrxhost::OutputDocument*>(this->doc);
    const qrxhost::OutputNode& group = *doc->nodes.back();
    ASSERT_EQ(group.name, "SelectedModel");
    ASSERT_EQ(group.children.size(), 1u);
    levels.push_back(group.children[0]->level);
    vsfCloseObject(ctx->outputGroup);
    ctx->outputGroup = nullptr;
  }
  ctx->resampling = nullptr;
  EXPECT_EQ(levels, (std::vector<int32_t>{2, 3}));
}

} // namespace
