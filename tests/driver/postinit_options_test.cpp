// Post-parse option checks run through whole steps: the messages and return codes of
// inconsistent options, NOPRINT with PERFORMANCE DETAILS, and the corrections applied.
#include "postinit_harness.h"
#include "support/driverresult.h"

#include <gtest/gtest.h>

namespace {

using postinit::StepRun;

class PostInitOptions : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    postinit::writeCsv("d", "y,x1,x2,x3,a,b\n"
                            "1.5,1,2,3,u,p\n"
                            "2.5,2,3,4,v,q\n"
                            "3.5,3,1,5,u,p\n"
                            "0.5,4,2,1,v,q\n"
                            "1.0,5,5,2,w,p\n"
                            "2.0,6,1,1,w,q\n");
  }
  static StepRun step(const std::string& statements) {
    return postinit::run("proc varsifter data=d " + statements + " run;\n");
  }
};

TEST_F(PostInitOptions, ElasticNetWithPressCriteriaFails) {
  StepRun r = step("; model y = x1 x2 / selection=elasticnet(choose=press);");
  EXPECT_EQ(r.count(VsfMsg::PressNotChooseOfElasticnet), 1) << r.messages();
  EXPECT_EQ(r.returnCode, 1012);
  EXPECT_EQ(r.postInitResult, codeOf(DriverResult::PressCriterion));
  EXPECT_TRUE(r.groups.empty()); // the run ends before any BY group

  StepRun stop = step("; model y = x1 x2 / selection=elasticnet(stop=press);");
  EXPECT_EQ(stop.count(VsfMsg::PressNotStopOfElasticnet), 1) << stop.messages();
  EXPECT_EQ(stop.returnCode, 1012);

  // PRESS only as a statistic: a note, PRESS is not computed, the run goes on.
  StepRun stat = step("; model y = x1 x2 / selection=elasticnet stats=press;");
  EXPECT_EQ(stat.count(VsfMsg::PressNotShownForElasticnet), 1) << stat.messages();
  EXPECT_FALSE(stat.has(VsfMsg::PressNotChooseOfElasticnet));
  EXPECT_EQ(stat.options.pressNeeded, 0);
  EXPECT_EQ(stat.groups.size(), 1u);
}

TEST_F(PostInitOptions, LarAndLassoRefusePressCriteria) {
  StepRun r = step("; model y = x1 x2 / selection=lasso(choose=press);");
  EXPECT_EQ(r.count(VsfMsg::PressNotStopChooseOfLarLasso), 1) << r.messages();
  EXPECT_EQ(r.postInitResult, codeOf(DriverResult::PressAsStopChoose));
  EXPECT_EQ(r.returnCode, 1012);

  StepRun note = step("; model y = x1 x2 / selection=lar stats=press;");
  EXPECT_EQ(note.count(VsfMsg::PressNotShownForLarLasso), 1) << note.messages();
  EXPECT_EQ(note.postInitResult, 0);
}

TEST_F(PostInitOptions, IncludeWithPenalizedMethodsAndNointWithoutEffects) {
  StepRun inc = step("; model y = x1 x2 / selection=lasso include=1;");
  EXPECT_EQ(inc.count(VsfMsg::IncludeNotAvailableSelection), 1) << inc.messages();
  EXPECT_EQ(inc.postInitResult, codeOf(DriverResult::Refused));
  EXPECT_EQ(inc.returnCode, 1012);

  StepRun none = step("; model y = x1 x2 / selection=none include=1;");
  EXPECT_EQ(none.count(VsfMsg::IncludeIgnoredSelectionNone), 1) << none.messages();
  EXPECT_EQ(none.options.include, 0);
  EXPECT_EQ(none.options.forcedIn, 1);

  StepRun cut = step("; model y = x1 x2 / selection=forward include=5;");
  EXPECT_EQ(cut.count(VsfMsg::IncludeExceedsEffects), 1) << cut.messages();
  EXPECT_EQ(cut.options.forcedIn, 3); // Intercept, x1, x2
  EXPECT_EQ(cut.options.fullXpx, 1);
}

TEST_F(PostInitOptions, NoprintSuppressesPerformanceTables) {
  StepRun shown = step("; model y = x1 x2; performance details;");
  EXPECT_EQ(shown.perfTables, 1) << shown.messages();
  EXPECT_EQ(shown.timingTables, 1);
  EXPECT_EQ(shown.modelInfoTables, 1);

  StepRun quiet = step("noprint; model y = x1 x2; performance details;");
  EXPECT_EQ(quiet.perfTables, 0) << quiet.messages();
  EXPECT_EQ(quiet.timingTables, 0);
  EXPECT_EQ(quiet.modelInfoTables, 0);
  EXPECT_EQ(quiet.perf.details, 0);
  EXPECT_EQ(quiet.returnCode, 0);
}

TEST_F(PostInitOptions, HierarchyAndDropRulesFollowTheMethod) {
  StepRun r = step("; model y = x1 x2 / selection=lasso hierarchy=single;");
  EXPECT_EQ(r.count(VsfMsg::HierarchyNotForMethod), 1) << r.messages();
  EXPECT_EQ(r.options.hierarchy, VsfHierarchy::None);
  EXPECT_EQ(r.options.drop, VsfDrop::BeforeAdd);
  EXPECT_EQ(r.options.colStandardize, 1); // the penalized paths work on standardized columns

  StepRun fw = step("; model y = x1 x2 / selection=forward;");
  EXPECT_EQ(fw.options.drop, VsfDrop::BeforeAdd);
  EXPECT_EQ(fw.options.colStandardize, 0);
  EXPECT_NE(fw.options.stepRecordBits & 2, 0);
  EXPECT_FALSE(fw.has(VsfMsg::HierarchyNotForMethod));
}

TEST_F(PostInitOptions, FullCrossProductsAndIncrementalBuild) {
  // Few effects: the full cross products are formed before selection.
  StepRun few = step("; model y = x1 x2 / selection=forward;");
  EXPECT_EQ(few.options.fullXpx, 1);
  EXPECT_EQ(few.options.storeCross, 0);

  // BUILDSSCP=INCREMENTAL with BACKWARD: warning, the full matrix all the same.
  StepRun back = step("; model y = x1 x2 / selection=backward; performance buildsscp=incremental;");
  EXPECT_EQ(back.count(VsfMsg::BuildsscpIncrementalIgnoredSelectionBackward), 1) << back.messages();
  EXPECT_EQ(back.options.fullXpx, 1);
  EXPECT_EQ(back.returnCode, 4);

  StepRun inc = step("; model y = x1 x2 / selection=forward; performance buildsscp=incremental;");
  EXPECT_EQ(inc.options.fullXpx, 0) << inc.messages();
  EXPECT_EQ(inc.options.storeCross, 1);
}

TEST_F(PostInitOptions, CriteriaMarkTheirStatistics) {
  StepRun r = step("; model y = x1 x2 / selection=forward(select=aic stop=sbc choose=adjrsq);");
  EXPECT_EQ(r.options.statAic, 1) << r.messages();
  EXPECT_EQ(r.options.statSbc, 1);
  EXPECT_EQ(r.options.statAdjrsq, 1);
  EXPECT_EQ(r.options.statCp, 0);
  EXPECT_EQ(r.options.stopTest, 1);

  // CP needs the full model; STEPS= turns the stop by a criterion off.
  StepRun cp = step("; model y = x1 x2 / selection=forward(choose=cp steps=1);");
  EXPECT_EQ(cp.options.statCp, 1) << cp.messages();
  EXPECT_EQ(cp.options.fullModelFirst, 1);
  EXPECT_EQ(cp.options.stopTest, 0);
}

TEST_F(PostInitOptions, StopValidateNeedsValidationData) {
  StepRun r = step("; model y = x1 x2 / selection=forward(stop=validate);");
  EXPECT_EQ(r.count(VsfMsg::StopValidateNeedsValidationData), 1) << r.messages();
  EXPECT_EQ(r.postInitResult, codeOf(DriverResult::StopValidateNoRows));
  EXPECT_EQ(r.returnCode, 1012);

  StepRun ok = step(
      "; model y = x1 x2 / selection=forward(stop=validate); partition fraction(validate=0.3);");
  EXPECT_FALSE(ok.has(VsfMsg::StopValidateNeedsValidationData)) << ok.messages();
  EXPECT_EQ(ok.options.validateInUse, 1);
}

TEST_F(PostInitOptions, ModelAveragingSetsUpItsResamplers) {
  // The resamplers are seeded at set-up; the run goes on to its BY groups.
  StepRun r = step("; model y = x1 x2; modelaverage nsamples=5;");
  EXPECT_EQ(r.postInitResult, 0) << r.messages();
  EXPECT_LT(r.returnCode, 1012);
}

} // namespace

namespace {

class PostInitEffects : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    postinit::writeCsv("de", "y,x1,x2,a\n1.5,1,2,u\n2.5,2,3,v\n3.5,3,1,u\n0.5,4,2,v\n"
                             "1.0,5,5,u\n2.0,6,1,v\n2.2,7,3,u\n1.1,8,2,v\n");
  }
};

TEST_F(PostInitEffects, ConstructedEffectsThePenalizedPathsCannotTake) {
  StepRun coll = postinit::run(
      "proc varsifter data=de; effect c = collection(x1 x2); model y = c / selection=lasso; run;");
  EXPECT_EQ(coll.count(VsfMsg::ConstructedEffectNotForMethod), 1) << coll.messages();
  EXPECT_EQ(coll.postInitResult, codeOf(DriverResult::Refused));
  EXPECT_EQ(coll.returnCode, 1012);

  StepRun poly = postinit::run("proc varsifter data=de; effect p = polynomial(x1 x2 / degree=2 "
                               "noseparate); model y = p / selection=lar; run;");
  EXPECT_EQ(poly.count(VsfMsg::NoseparatePolynomialNotForMethod), 1) << poly.messages();
  EXPECT_EQ(poly.postInitResult, codeOf(DriverResult::PolynomialNoSeparate));

  // The same collection is fine for the classic methods.
  StepRun fw = postinit::run("proc varsifter data=de; effect c = collection(x1 x2); model y = c / "
                             "selection=forward; run;");
  EXPECT_FALSE(fw.has(VsfMsg::ConstructedEffectNotForMethod)) << fw.messages();
  EXPECT_EQ(fw.postInitResult, 0);
}

TEST_F(PostInitEffects, NointNeedsAnEffect) {
  StepRun r = postinit::run("proc varsifter data=de; model y = / noint; run;");
  EXPECT_EQ(r.count(VsfMsg::NointModelWithoutEffects), 1) << r.messages();
  EXPECT_EQ(r.postInitResult, codeOf(DriverResult::NoEffects));
  EXPECT_EQ(r.returnCode, 1012);
}

TEST_F(PostInitEffects, SplitMeetsInterlacedLabels) {
  StepRun r = postinit::run(
      "proc varsifter data=de parmlabelstyle=interlaced; class a(split); model y = x1 a; run;");
  EXPECT_EQ(r.count(VsfMsg::SplitClassNeedsSeparateLabels), 1) << r.messages();
  EXPECT_EQ(r.returnCode, 4);
  StepRun quiet = postinit::run("proc varsifter data=de; class a(split); model y = x1 a; run;");
  EXPECT_FALSE(quiet.has(VsfMsg::SplitClassNeedsSeparateLabels)) << quiet.messages();
}

} // namespace

namespace {

TEST_F(PostInitEffects, SplinesOfThePenalizedPathsAreSplit) {
  StepRun r = postinit::run(
      "proc varsifter data=de; effect s = spline(x1 / knotmethod=equal(2)); model y = s / "
      "selection=lasso; run;");
  EXPECT_EQ(r.count(VsfMsg::SplineEffectsSplitIntoColumns), 1) << r.messages();
  EXPECT_EQ(r.postInitResult, 0);
  StepRun split = postinit::run(
      "proc varsifter data=de; effect s = spline(x1 / split knotmethod=equal(2)); model y = s / "
      "selection=lasso; run;");
  EXPECT_FALSE(split.has(VsfMsg::SplineEffectsSplitIntoColumns)) << split.messages();
}

} // namespace

// The switches the model core reads, as post-initialisation leaves them: it is their one
// source, so what it decides is what the fit sees.
TEST_F(PostInitOptions, FitSwitchesAfterPostInit) {
  StepRun press = step("; model y = x1 x2 / selection=forward(select=press);");
  EXPECT_EQ(press.options.trialAll, 1) << press.messages();
  EXPECT_EQ(press.options.pressNeeded, 1);
  EXPECT_EQ(press.options.fullModelFirst, 0);
  EXPECT_EQ(press.options.colStandardize, 0);

  StepRun cv = step("; model y = x1 x2 / selection=stepwise(choose=cv) cvmethod=split(3);");
  EXPECT_EQ(cv.options.cvOn, 1) << cv.messages();
  EXPECT_EQ(cv.options.cvExternal, 0);
  EXPECT_EQ(cv.options.trialAll, 0);

  StepRun lasso = step("; model y = x1 x2 / selection=lasso(choose=cvex) cvmethod=random(3);");
  EXPECT_EQ(lasso.options.cvExternal, 1) << lasso.messages();
  EXPECT_EQ(lasso.options.cvOn, 0);
  EXPECT_EQ(lasso.options.colStandardize, 1);
  EXPECT_EQ(lasso.options.parmStandardize, 0);
  EXPECT_EQ(lasso.options.storeCross, 0);

  // BUILDSSCP=FULL: the full matrix is never re-swept in part.
  StepRun full = step("; model y = x1 x2 / selection=forward; performance buildsscp=full;");
  EXPECT_EQ(full.options.fullXpx, 1) << full.messages();
  EXPECT_EQ(full.options.fullSweep, VsfFullSweep::Never);
}
