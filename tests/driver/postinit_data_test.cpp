// Post-initialisation against the data sets of a step: the variables of VALDATA= and
// TESTDATA=, BY matching of the held-out data sets, and the _ROLE_ variable of DATA=.
#include "postinit_harness.h"
#include "support/driverresult.h"

#include <gtest/gtest.h>

namespace {

using postinit::StepRun;

class PostInitData : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    postinit::writeCsv("pd", "g,y,x1,x2,a\n"
                             "1,1.5,1,2,u\n"
                             "1,2.5,2,3,v\n"
                             "1,3.5,3,1,u\n"
                             "2,0.5,4,2,v\n"
                             "2,1.0,5,5,u\n"
                             "2,2.0,6,1,v\n");
    // Held-out data sets: complete, without x2, with a character x2, without the BY
    // variable, with a character BY variable.
    postinit::writeCsv("pv", "g,y,x1,x2,a\n1,1,1,1,u\n2,2,2,2,v\n");
    postinit::writeCsv("pnox2", "g,y,x1,a\n1,1,1,u\n");
    postinit::writeCsv("pcharx2", "g,y,x1,x2,a\n1,1,1,k,u\n");
    postinit::writeCsv("pnoby", "y,x1,x2,a\n1,1,1,u\n");
    postinit::writeCsv("pcharby", "g,y,x1,x2,a\nA,1,1,1,u\n");
    postinit::writeCsv("snoy", "g,x1,x2,a\n1,1,1,u\n2,2,2,v\n");
    postinit::writeCsv("prole", "y,x1,x2,_ROLE_\n1,1,2,TRAIN\n2,2,1,VALIDATE\n3,3,3,TEST\n"
                                "4,1,1,TRAIN\n");
  }
  static StepRun step(const std::string& options, const std::string& model = "model y = x1 x2;") {
    return postinit::run("proc varsifter data=pd " + options + "; class a; " + model +
                         " by g; run;\n");
  }
};

TEST_F(PostInitData, HeldOutDataSetsMustCarryTheModelVariables) {
  struct Case {
    const char* option;
    VsfMsg message;
    int32_t code;
  } cases[] = {
      {"valdata=pnox2", VsfMsg::VariableNotFoundValdata, -24},
      {"valdata=pcharx2", VsfMsg::VariableDifferentTypeValdata, -25},
      {"testdata=pnox2", VsfMsg::VariableNotFoundTestdata, -24},
      {"testdata=pcharx2", VsfMsg::VariableDifferentTypeTestdata, -25},
  };
  for (const Case& c : cases) {
    StepRun r = step(c.option);
    EXPECT_EQ(r.count(c.message), 1) << c.option << ": " << r.messages();
    EXPECT_EQ(r.postInitResult, c.code) << c.option;
    EXPECT_EQ(r.returnCode, 1012) << c.option;
    EXPECT_TRUE(r.groups.empty()) << c.option;
  }
  StepRun fine = step("valdata=pv testdata=pv");
  EXPECT_EQ(fine.postInitResult, 0) << fine.messages();
  EXPECT_EQ(fine.valBySync, 1);
  EXPECT_EQ(fine.testBySync, 1);
  EXPECT_EQ(fine.options.validateInUse, 1);
  EXPECT_EQ(fine.options.testInUse, 1);
  EXPECT_EQ(fine.groups.size(), 2u);
}

TEST_F(PostInitData, HeldOutDataSetsWithoutTheByVariablesAreUsedWhole) {
  StepRun val = step("valdata=pnoby");
  EXPECT_EQ(val.count(VsfMsg::ByVariablesNotAllInValdata), 1) << val.messages();
  EXPECT_EQ(val.valBySync, 0);
  EXPECT_EQ(val.returnCode, 4);
  EXPECT_EQ(val.groups.size(), 2u);

  StepRun test = step("testdata=pnoby");
  EXPECT_EQ(test.count(VsfMsg::ByVariablesNotAllInTestdata), 1) << test.messages();
  EXPECT_EQ(test.testBySync, 0);

  // A BY variable of another type cannot be matched at all.
  StepRun type = step("valdata=pcharby");
  EXPECT_EQ(type.postInitResult, codeOf(DriverResult::ByVariableType)) << type.messages();
  EXPECT_EQ(type.count(VsfMsg::ByVariablesDifferentType), 1);
  EXPECT_EQ(type.returnCode, 1012);
}

TEST_F(PostInitData, RoleVariableOfTheInputDataSet) {
  StepRun roles = postinit::run("proc varsifter data=prole; model y = x1 x2; run;");
  EXPECT_EQ(roles.count(VsfMsg::RoleVariableAssignsRoles), 1) << roles.messages();
  EXPECT_GT(roles.partition.roleVar, 0);
  EXPECT_EQ(std::string(roles.partition.trainText, roles.partition.trainLength), "TRAIN");
  EXPECT_EQ(std::string(roles.partition.validateText, roles.partition.validateLength), "VALIDATE");
  EXPECT_EQ(std::string(roles.partition.testText, roles.partition.testLength), "TEST");
  EXPECT_EQ(roles.options.trainFraction, 0.0);
  EXPECT_EQ(roles.returnCode, 0);

  StepRun partition = postinit::run(
      "proc varsifter data=prole; model y = x1 x2; partition fraction(validate=0.25); run;");
  EXPECT_EQ(partition.count(VsfMsg::RoleVariableIgnoredForPartition), 1) << partition.messages();
  EXPECT_FALSE(partition.has(VsfMsg::RoleVariableAssignsRoles));
  EXPECT_EQ(partition.partition.roleVar, 0);

  StepRun held = postinit::run("proc varsifter data=prole valdata=prole; model y = x1 x2; run;");
  EXPECT_EQ(held.count(VsfMsg::RoleVariableIgnoredForValdata), 1) << held.messages();
  EXPECT_FALSE(held.has(VsfMsg::RoleVariableAssignsRoles));
  EXPECT_EQ(held.partition.roleVar, 0);

  // Without a _ROLE_ variable nothing is said.
  StepRun plain = step("");
  EXPECT_FALSE(plain.has(VsfMsg::RoleVariableAssignsRoles) ||
               plain.has(VsfMsg::RoleVariableIgnoredForPartition) ||
               plain.has(VsfMsg::RoleVariableIgnoredForValdata))
      << plain.messages();
}

TEST_F(PostInitData, ScoreDataSets) {
  // The response is looked up only when residuals are asked.
  StepRun resid = step("", "model y = x1 x2; score data=snoy out=so1 resid;");
  ASSERT_EQ(resid.count(VsfMsg::ResponseVariableNotFound), 1) << resid.messages();
  const auto* m = resid.find(VsfMsg::ResponseVariableNotFound);
  ASSERT_EQ(m->values.size(), 3u);
  EXPECT_EQ(m->values[0].s, "y");
  EXPECT_NE(m->values[1].s.find("SNOY"), std::string::npos);
  EXPECT_NE(m->values[2].s.find("SO1"), std::string::npos);
  EXPECT_EQ(resid.groups.size(), 2u);

  StepRun pred = step("", "model y = x1 x2; score data=snoy out=so2;");
  EXPECT_FALSE(pred.has(VsfMsg::ResponseVariableNotFound)) << pred.messages();
  EXPECT_EQ(pred.returnCode, 0);

  // Without the BY variables the SCORE data set is scored whole.
  StepRun whole = step("", "model y = x1 x2; score data=pnoby out=so3;");
  EXPECT_EQ(whole.count(VsfMsg::ByVariablesNotAllInScore), 1) << whole.messages();
  EXPECT_EQ(whole.returnCode, 4);
}

TEST_F(PostInitData, ResamplingStatisticsNeedModelAveraging) {
  StepRun r = step(
      "", "model y = x1 x2; output out=o1 stddev upper pred; score data=pv out=so4 samplepred;");
  EXPECT_EQ(r.count(VsfMsg::OutputStddevNeedsAveraging), 1) << r.messages();
  EXPECT_EQ(r.count(VsfMsg::OutputUpperNeedsAveraging), 1);
  EXPECT_EQ(r.count(VsfMsg::ScoreSamplepredNeedsAveraging), 1);
  EXPECT_FALSE(r.has(VsfMsg::OutputLowerNeedsAveraging));
  EXPECT_EQ(r.returnCode, 4);
}

} // namespace
