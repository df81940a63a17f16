// INEST= start values through whole steps: one INEST= variable per design column, the
// PARMS row of each BY group, groups without one, missing values, and INEST= data sets
// that lack a column's variable or the BY variables.
#include "postinit_harness.h"

#include "support/hostif.h"

#include <gtest/gtest.h>

namespace {

using postinit::StepRun;

class InestStartValues : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    postinit::writeCsv("ib", "g,y,x1,x2\n"
                             "1,1.5,1,2\n1,2.5,2,3\n1,3.5,3,1\n"
                             "2,0.5,4,2\n2,1.0,5,5\n2,2.0,6,1\n"
                             "3,2.2,7,2\n3,1.1,8,4\n3,0.3,9,9\n");
    // Group 1: a COV row before the PARMS row; group 2: no PARMS row; group 3: x1 missing.
    postinit::writeCsv("ie", "g,_TYPE_,Intercept,x1,x2\n"
                             "1,COV,9,9,9\n"
                             "1,PARMS,0.5,1.5,-2\n"
                             "1,PARMS,7,7,7\n"
                             "2,OTHER,8,8,8\n"
                             "3,PARMSX,1,,3\n");
    postinit::writeCsv("iegap", "g,_TYPE_,Intercept,x1,x2\n1,PARMS,1,2,3\n3,PARMS,4,5,6\n");
    postinit::writeCsv("ienox2", "g,_TYPE_,Intercept,x1\n1,PARMS,1,2\n");
    postinit::writeCsv("ienoby", "_TYPE_,Intercept,x1,x2\nPARMS,1,2,3\n");
    postinit::writeCsv("ienotype", "g,Intercept,x1,x2\n1,1,2,3\n2,4,5,6\n2,7,8,9\n");
    postinit::writeCsv("ieempty", "Intercept,x1,x2\n");
  }
  static StepRun step(const std::string& inest) {
    return postinit::run(
        "proc varsifter data=ib; model y = x1 x2 / selection=lasso(adaptive(inest=" + inest +
        ")); by g; run;");
  }
};

TEST_F(InestStartValues, ParmsRowOfEachGroup) {
  StepRun r = step("ie");
  ASSERT_EQ(r.groups.size(), 3u) << r.messages();
  // The warning for group 2 (no PARMS row) raises the return code to 4.
  EXPECT_EQ(r.returnCode, 4) << r.messages();
  // The first PARMS row of group 1 counts; the COV row before it does not.
  ASSERT_TRUE(r.groups[0].hasStart);
  EXPECT_EQ(r.groups[0].startValues, (std::vector<double>{0.5, 1.5, -2}));
  // Group 2 has no PARMS row: its estimates are those of its last row, with a warning.
  ASSERT_TRUE(r.groups[1].hasStart);
  EXPECT_EQ(r.groups[1].startValues, (std::vector<double>{8, 8, 8}));
  EXPECT_EQ(r.count(VsfMsg::InestNoParmsRow), 1) << r.messages();
  // Group 3: "PARMSX" begins with PARMS; the missing x1 stays missing at its own place.
  ASSERT_TRUE(r.groups[2].hasStart);
  ASSERT_EQ(r.groups[2].startValues.size(), 3u);
  EXPECT_EQ(r.groups[2].startValues[0], 1.0);
  EXPECT_TRUE(isHostMissing(r.groups[2].startValues[1]));
  EXPECT_EQ(r.groups[2].startValues[2], 3.0);
}

TEST_F(InestStartValues, ColumnWithoutVariableEndsTheRun) {
  StepRun r = step("ienox2");
  EXPECT_EQ(r.count(VsfMsg::InestDataSetNoNumeric), 1) << r.messages();
  ASSERT_NE(r.find(VsfMsg::InestDataSetNoNumeric), nullptr);
  ASSERT_EQ(r.find(VsfMsg::InestDataSetNoNumeric)->values.size(), 1u);
  EXPECT_EQ(r.find(VsfMsg::InestDataSetNoNumeric)->values[0].s, "x2");
  EXPECT_EQ(r.returnCode, 1012);
  EXPECT_TRUE(r.groups.empty());
}

TEST_F(InestStartValues, InestWithoutTheByVariables) {
  StepRun r = step("ienoby");
  EXPECT_EQ(r.count(VsfMsg::InestLacksByVariables), 1) << r.messages();
  EXPECT_GE(r.returnCode, 108); // the run ends here
  EXPECT_TRUE(r.groups.empty());

  // Without BY groups the whole INEST= data set belongs to the one group.
  StepRun whole = postinit::run(
      "proc varsifter data=ib; model y = x1 x2 / selection=lasso(adaptive(inest=ienoby)); run;");
  ASSERT_EQ(whole.groups.size(), 1u) << whole.messages();
  EXPECT_EQ(whole.groups[0].startValues, (std::vector<double>{1, 2, 3}));
}

TEST_F(InestStartValues, WithoutTypeEveryRowHoldsEstimates) {
  StepRun r = step("ienotype");
  ASSERT_EQ(r.groups.size(), 2u) << r.messages();
  EXPECT_EQ(r.groups[0].startValues, (std::vector<double>{1, 2, 3}));
  // Two rows without _TYPE_: the last one counts, and the log says so.
  EXPECT_EQ(r.groups[1].startValues, (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(r.count(VsfMsg::InestNoParmsRow), 1) << r.messages();
  // Group 3 has no INEST= rows at all: the run ends there.
  EXPECT_EQ(r.count(VsfMsg::InestDataSetNoObservations), 1) << r.messages();
  EXPECT_GE(r.returnCode, 108);
}

TEST_F(InestStartValues, EmptyInestEndsTheRun) {
  StepRun r = postinit::run(
      "proc varsifter data=ib; model y = x1 x2 / selection=lasso(adaptive(inest=ieempty)); run;");
  EXPECT_EQ(r.count(VsfMsg::InestDataSetNoObservations), 1) << r.messages();
  EXPECT_GE(r.returnCode, 108);
  EXPECT_TRUE(r.groups.empty());
}

TEST_F(InestStartValues, GroupMissingFromInestEndsTheRun) {
  StepRun r = step("iegap");
  EXPECT_EQ(r.count(VsfMsg::InestDataSetNoObservations), 1) << r.messages();
  EXPECT_FALSE(r.has(VsfMsg::OutputBlockNotCreated)); // no unrelated exit message
  EXPECT_GE(r.returnCode, 108);
  ASSERT_EQ(r.groups.size(), 1u);
  EXPECT_EQ(r.groups[0].startValues, (std::vector<double>{1, 2, 3}));
}

} // namespace
