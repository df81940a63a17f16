// The levelisation step of each BY group: a group whose CLASS levels cannot be made is
// skipped with its message and return code, and the following groups run.
#include "postinit_harness.h"

#include <gtest/gtest.h>

namespace {

using postinit::StepRun;

class LevelisationStep : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // Group 2 has no usable observation: its CLASS value is missing everywhere.
    postinit::writeCsv("lv", "g,y,x1,a\n"
                             "1,1.5,1,u\n"
                             "1,2.5,2,v\n"
                             "1,3.5,3,u\n"
                             "2,0.5,4,\n"
                             "2,1.0,5,\n"
                             "3,2.0,6,u\n"
                             "3,2.5,7,v\n"
                             "3,3.0,8,w\n");
  }
  void TearDown() override { postinit::setLevelisationResult(0, LevBuild::Ready); }
};

TEST_F(LevelisationStep, GroupWithoutLevelsIsSkipped) {
  StepRun r = postinit::run("proc varsifter data=lv; class a; model y = x1 a; by g; run;\n"
                            "%put n=&_vsfnumbys;\n");
  EXPECT_EQ(r.count(VsfMsg::ClassLevelsNotDetermined), 1) << r.messages();
  EXPECT_EQ(r.returnCode, 108);
  ASSERT_EQ(r.groups.size(), 2u); // groups 1 and 3 were fitted
  EXPECT_EQ(r.groups[0].byNumber, 1);
  EXPECT_EQ(r.groups[1].byNumber, 3);
  EXPECT_EQ(r.macros.at("_VSFNUMBYS"), "3"); // the skipped group still counts
  // Group 3 has three levels of a: its records carry the columns of that group.
  ASSERT_EQ(r.groups[1].records.size(), 3u);
  EXPECT_EQ(r.groups[0].records[2].name, "a");
  EXPECT_EQ(r.groups[1].records[2].parmCount, 3);
  EXPECT_EQ(r.groups[0].records[2].parmCount, 2);
}

TEST_F(LevelisationStep, ConstructedEffectFailureTakesTheOtherRoad) {
  // The library's code 6 raises the return code to 112 without the step's own message.
  postinit::setLevelisationResult(1, LevBuild::ConstructedFailed);
  StepRun r = postinit::run("proc varsifter data=lv; model y = x1; by g; run;");
  EXPECT_FALSE(r.has(VsfMsg::ClassLevelsNotDetermined)) << r.messages();
  EXPECT_EQ(r.returnCode, 112);
  ASSERT_EQ(r.groups.size(), 2u);
  EXPECT_EQ(r.groups[0].byNumber, 2);
}

TEST_F(LevelisationStep, NumericOnlyDesignNeedsNoPass) {
  StepRun r = postinit::run("proc varsifter data=lv; model y = x1; by g; run;");
  EXPECT_EQ(r.returnCode, 0) << r.messages();
  EXPECT_EQ(r.groups.size(), 3u);
  for (const auto& g : r.groups) {
    ASSERT_EQ(g.records.size(), 2u);
    EXPECT_EQ(g.records[0].parmCount, 1);
    EXPECT_EQ(g.records[1].parmCount, 1);
  }
}

} // namespace
