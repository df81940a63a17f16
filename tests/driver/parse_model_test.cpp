// The MODEL statement reader: method-dependent defaults, corrections with their messages,
// and the refusals with their results and return codes.
#include "parse_harness.h"

#include "effects/levdesign.h"
#include "support/driverresult.h"

#include <gtest/gtest.h>

using parsetest::parse;
using parsetest::Run;

namespace {

Run model(const std::string& options) {
  return parse("data=d; model y = x1 x2 / " + options + ";");
}

TEST(ParseModel, LassoLeastSquaresAndAdaptive) {
  auto r = model("selection=lasso(lscoeffs)");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.ctx->options.method, VsfMethod::LassoLs);
  EXPECT_EQ(r.ctx->options.select, VsfCriterion::NoneGiven);
  EXPECT_EQ(r.ctx->options.stop, VsfCriterion::Sbc);
  EXPECT_DOUBLE_EQ(r.ctx->options.slEntry, 0.5);
  EXPECT_DOUBLE_EQ(r.ctx->options.slStay, 0.1);
  r = model("selection=lasso(lscoeffs adaptive(gamma=2))");
  EXPECT_EQ(r.ctx->options.method, VsfMethod::Lasso);
  EXPECT_TRUE(r.has(VsfMsg::LscoeffsIgnoredAdaptive));
  EXPECT_EQ(r.ctx->returnCode, 4);
  EXPECT_DOUBLE_EQ(r.ctx->options.gamma, 2.0);
  r = model("selection=lar(adaptive)");
  EXPECT_TRUE(r.has(VsfMsg::AdaptiveNotWithLar));
  EXPECT_EQ(r.ctx->options.adaptive, 0);
}

TEST(ParseModel, ElasticNetL2Settings) {
  auto r = model("selection=elasticnet(l2=0.5 l2steps=10)");
  ASSERT_EQ(r.result, 0);
  EXPECT_TRUE(r.has(VsfMsg::L2stepsIgnoredWhenL2));
  EXPECT_EQ(r.ctx->options.l2Steps, 2);
  EXPECT_EQ(r.ctx->options.l2Search, VsfL2Search::None);
  EXPECT_DOUBLE_EQ(r.ctx->options.l2, 0.5);
  r = model("selection=elasticnet");
  EXPECT_EQ(r.ctx->options.l2Search, VsfL2Search::Grid);
  r = model("selection=elasticnet(l2low=2 l2high=1)");
  EXPECT_DOUBLE_EQ(r.ctx->options.l2, 2.0);
  EXPECT_EQ(r.ctx->options.l2Search, VsfL2Search::None);
  EXPECT_TRUE(r.has(VsfMsg::L2highNotAboveL2low));
  r = model("selection=elasticnet(l2=-1.5)");
  EXPECT_TRUE(r.has(VsfMsg::L2Negative));
  // L2 options on another method are dropped with their messages.
  r = model("selection=lasso(l2=0.3 l2search=grid enscale)");
  EXPECT_TRUE(r.has(VsfMsg::L2OnlyWithElasticnet));
  EXPECT_TRUE(r.has(VsfMsg::L2searchOnlyWithElasticnet));
  EXPECT_TRUE(r.has(VsfMsg::EnscaleOnlyWithElasticnet));
  EXPECT_DOUBLE_EQ(r.ctx->options.l2, 0);
  EXPECT_EQ(r.ctx->options.l2Search, VsfL2Search::None);
}

TEST(ParseModel, StopAndSignificanceLevels) {
  auto r = model("selection=forward(stop=5 steps=3)");
  ASSERT_EQ(r.result, 0);
  EXPECT_TRUE(r.has(VsfMsg::StopIgnoredWhenSteps));
  EXPECT_EQ(r.ctx->options.steps, 3);
  EXPECT_EQ(r.ctx->options.stop, VsfCriterion::NoneGiven);
  EXPECT_EQ(r.ctx->options.stopCount, 0);

  r = model("slentry=1");
  EXPECT_TRUE(r.has(VsfMsg::SlentryUsedOnlyWithSl));
  EXPECT_TRUE(r.has(VsfMsg::SlentryOutsideZeroOne));
  EXPECT_DOUBLE_EQ(r.ctx->options.slEntry, 0.15);
  EXPECT_EQ(r.ctx->returnCode, 4);
  r = model("slentry=0.2 select=aic");
  EXPECT_TRUE(r.has(VsfMsg::SlentryUsedOnlyWithSl));
  EXPECT_FALSE(r.has(VsfMsg::SlentryOutsideZeroOne));
  EXPECT_DOUBLE_EQ(r.ctx->options.slEntry, 0.2);
  r = model("select=sl sls=0");
  EXPECT_TRUE(r.has(VsfMsg::SlstayOutsideZeroOne));
  EXPECT_DOUBLE_EQ(r.ctx->options.slStay, 0.15);
  r = model("stop=none");
  EXPECT_EQ(r.ctx->options.stop, VsfCriterion::NoneGiven);
  r = model("maxsteps=2 steps=5");
  EXPECT_TRUE(r.has(VsfMsg::MaxstepsLessThanSteps));
  EXPECT_EQ(r.ctx->options.maxSteps, 5);
}

TEST(ParseModel, StatisticsAndDetails) {
  auto r = model("stats=rsquare");
  EXPECT_EQ(r.ctx->options.statRsquare, 1);
  EXPECT_EQ(r.ctx->options.statPress + r.ctx->options.statAic + r.ctx->options.statAll, 0);
  r = model("stats=press");
  EXPECT_EQ(r.ctx->options.statPress, 1);
  EXPECT_EQ(r.ctx->options.statRsquare, 0);
  r = model("stats=(all) stb");
  EXPECT_EQ(r.ctx->options.statSl + r.ctx->options.statF + r.ctx->options.statAse, 3);
  EXPECT_EQ(r.ctx->options.statStb, 1);
  r = model("details=steps(anova candidates(show=3))");
  EXPECT_EQ(r.ctx->options.stepDetails & 1, 1);
  EXPECT_EQ(r.ctx->options.stepAnova, 1);
  EXPECT_EQ(r.ctx->options.stepFit, 0);
  EXPECT_EQ(r.ctx->options.stepCandidates, 1);
  EXPECT_EQ(r.ctx->options.candidatesShown, 3);
  r = model("details=all");
  EXPECT_EQ(r.ctx->options.stepFit + r.ctx->options.stepParmEst, 2);
  EXPECT_EQ(r.ctx->options.candidatesShown, 10);
  r = model("details=steps(candidates(show=all))");
  EXPECT_EQ(r.ctx->options.candidatesShown, 2147483647);
  r = model("fuzz=0.5");
  EXPECT_TRUE(r.has(VsfMsg::FuzzAboveLimit));
  EXPECT_DOUBLE_EQ(r.ctx->options.fuzz, 1e-6);
}

TEST(ParseModel, CrossValidation) {
  auto r = model("cvmethod=block(4)");
  EXPECT_TRUE(r.has(VsfMsg::CvmethodIgnoredWithoutCv));
  EXPECT_EQ(r.ctx->options.cvMethod, VsfCvMethod::None);
  r = model("choose=cv cvmethod=block(4) cvdetails=coeffs");
  EXPECT_EQ(r.ctx->options.cvMethod, VsfCvMethod::Block);
  EXPECT_EQ(r.ctx->options.cvFolds, 4);
  EXPECT_EQ(r.ctx->options.cvDetails, VsfCvDetails::Coeffs);
  r = model("select=cv");
  EXPECT_EQ(r.ctx->options.cvMethod, VsfCvMethod::Random);
  EXPECT_EQ(r.ctx->options.cvFolds, 5);
  r = model("choose=cv cvmethod=index(k)");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.ctx->options.cvMethod, VsfCvMethod::Index);
  EXPECT_EQ(r.ctx->options.cvIndexVar, 12);
  ASSERT_NE(r.ctx->design.design->extra, nullptr);
  EXPECT_EQ(r.ctx->design.design->extra->classCount, 1);
  r = model("selection=lasso(choose=cvex stop=cv)");
  EXPECT_TRUE(r.has(VsfMsg::ChooseCvexNotWithStopCv));
  EXPECT_EQ(r.result, codeOf(DriverResult::CvexCombination));
  EXPECT_EQ(r.ctx->returnCode, 1012);
}

TEST(ParseModel, Refusals) {
  auto r = parse("data=d; model = x1;");
  EXPECT_TRUE(r.has(VsfMsg::ModelWithoutResponse));
  EXPECT_EQ(r.result, codeOf(DriverResult::NoResponse));
  EXPECT_EQ(r.ctx->returnCode, 3000);
  r = parse("data=d; model y x3 = x1;");
  EXPECT_TRUE(r.has(VsfMsg::ModelAllowsOneResponse));
  EXPECT_EQ(r.result, codeOf(DriverResult::ResponseCount));
  r = model("selection=forward(stop=l1)");
  EXPECT_TRUE(r.has(VsfMsg::StopL1NeedsL1Path));
  EXPECT_EQ(r.result, codeOf(DriverResult::StopL1Method));
  r = model("selection=elasticnet(lscoeffs)");
  EXPECT_TRUE(r.has(VsfMsg::LscoeffsNotWithElasticnet));
  EXPECT_EQ(r.result, codeOf(DriverResult::LsCoeffsMethod));
  r = model("selection=grouplasso(lscoeffs)");
  EXPECT_TRUE(r.has(VsfMsg::LscoeffsNotForMethod));
  r = model("selection=grouplasso(stop=sl)");
  EXPECT_TRUE(r.has(VsfMsg::StopCriterionNotForGrouplasso));
  EXPECT_EQ(r.result, codeOf(DriverResult::CriterionNotAvailable));
  EXPECT_EQ(r.ctx->returnCode, 1012);
  r = model("selection=grouplasso(choose=press)");
  EXPECT_TRUE(r.has(VsfMsg::ChooseCriterionNotForGrouplasso));
}

TEST(ParseModel, PenaltiesAndScreening) {
  auto r = model("selection=lasso(stop=l1)");
  EXPECT_TRUE(r.has(VsfMsg::StopL1WithoutL1));
  EXPECT_DOUBLE_EQ(r.ctx->options.l1, 0);
  EXPECT_EQ(r.ctx->options.stopL1Choice, VsfL1Choice::Ratio);
  r = model("selection=lasso(l1=2)");
  EXPECT_TRUE(r.has(VsfMsg::L1OnlyWithStopL1));
  EXPECT_DOUBLE_EQ(r.ctx->options.l1, -1);
  r = model("selection=grouplasso(l1choice=norm)");
  EXPECT_TRUE(r.has(VsfMsg::SelectionGrouplassoUsesL1choice));
  EXPECT_EQ(r.ctx->options.l1Choice, VsfL1Choice::Ratio);
  EXPECT_EQ(r.ctx->options.method, VsfMethod::GroupLasso);
  EXPECT_DOUBLE_EQ(r.ctx->options.rho, 0.9);
  EXPECT_DOUBLE_EQ(r.ctx->options.tol, 1e-6);
  r = model("selection=lasso(screen=sis(keepnum=5 keepratio=0.5))");
  EXPECT_EQ(r.ctx->options.screen, VsfScreenMethod::Sis);
  EXPECT_TRUE(r.has(VsfMsg::KeepnumAndKeepratioGiven));
  EXPECT_EQ(r.ctx->options.keepNum, 5);
  r = model("selection=lasso(screen=sis)");
  EXPECT_EQ(r.ctx->options.keepNum, 100);
  r = model("selection=lar(screen=sasvi rho=0.5)");
  EXPECT_TRUE(r.has(VsfMsg::ScreenOnlyWithLassoElasticnet));
  EXPECT_TRUE(r.has(VsfMsg::RhoOnlyForSolver));
  EXPECT_EQ(r.ctx->options.screen, VsfScreenMethod::None);
  r = model("choose=cvex");
  EXPECT_TRUE(r.has(VsfMsg::ChooseCvexNotAvailable));
  EXPECT_EQ(r.ctx->options.choose, VsfCriterion::NoneGiven);
}

TEST(ParseModel, DropOrderSelectAndFlags) {
  auto r = model("select=sl drop=competitive");
  EXPECT_TRUE(r.has(VsfMsg::DropCompetitiveAfteraddNotWithSl));
  EXPECT_EQ(r.ctx->options.drop, VsfDrop::BeforeAdd);
  r = model("drop=afteradd");
  EXPECT_EQ(r.ctx->options.drop, VsfDrop::AfterAdd);
  r = model("selection=backward orderselect");
  EXPECT_TRUE(r.has(VsfMsg::OrderselectIgnoredSelectionBackward));
  EXPECT_EQ(r.ctx->options.orderSelect, 0);
  r = model("noint include=2 hierarchy=singleclass nostandardize$ showpvalues");
  EXPECT_EQ(r.ctx->options.noint, 1);
  EXPECT_EQ(r.ctx->options.forcedIn, 2);
  EXPECT_EQ(r.ctx->options.hierarchy, VsfHierarchy::SingleClass);
  EXPECT_EQ(r.ctx->stmt.noStandardize, 1);
  EXPECT_EQ(r.ctx->stmt.showPValues, 1);
  r = model("selection=none");
  EXPECT_EQ(r.ctx->stmt.showPValues, 1);
  EXPECT_EQ(r.ctx->stmt.responseCount, 1);
  ASSERT_NE(r.ctx->stmt.responses, nullptr);
  EXPECT_EQ(r.ctx->stmt.responses[0]->number, 1);
}

} // namespace

namespace {

TEST(ParseModel, IndexVariableAmongTheModelVariables) {
  // x1 is a direct variable of the model (the effect callback's list): refused.
  auto r = parse("data=d; model y = x1 x2 / choose=cv cvmethod=index(x1);");
  EXPECT_TRUE(r.has(VsfMsg::CvIndexVariableInModel));
  EXPECT_EQ(r.result, codeOf(DriverResult::CvIndexNotClass));
  EXPECT_EQ(r.ctx->returnCode, 1012);
  // A CLASS variable needs no extra-variable block.
  r = parse("data=d; class a; model y = x1 a / choose=cv cvmethod=index(a);");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.ctx->design.design->extra, nullptr);
}

} // namespace
