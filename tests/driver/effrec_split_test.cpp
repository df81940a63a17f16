// Effect records through whole steps: SPLIT forced by the penalized methods, the records
// and names of split CLASS effects under the GLM and the orthogonal codings, and the
// containment of split records for HIERARCHY=.
#include "postinit_harness.h"

#include <gtest/gtest.h>

namespace {

using postinit::StepRun;

std::vector<std::string> names(const postinit::Group& g) {
  std::vector<std::string> out;
  for (const auto& r : g.records)
    out.push_back(r.name);
  return out;
}

class SplitEffects : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // a has three levels, b two; every combination of a and b occurs.
    postinit::writeCsv("sp", "y,x1,a,b\n"
                             "1.5,1,u,p\n"
                             "2.5,2,v,q\n"
                             "3.5,3,w,p\n"
                             "0.5,4,u,q\n"
                             "1.0,5,v,p\n"
                             "2.0,6,w,q\n"
                             "2.2,7,u,p\n");
  }
};

TEST_F(SplitEffects, LassoSplitsEveryClassVariable) {
  StepRun r =
      postinit::run("proc varsifter data=sp; class a b; model y = x1 a / selection=lasso; run;");
  EXPECT_EQ(r.count(VsfMsg::ClassVariablesSplitForMethod), 1) << r.messages();
  EXPECT_EQ(r.forcedSplit, 1);
  EXPECT_EQ(r.options.split, 1);
  EXPECT_EQ(r.classSplit, (std::vector<int32_t>{1, 1}));
  ASSERT_EQ(r.groups.size(), 1u);
  // The GLM coding has a column per level: one record per level of a.
  EXPECT_EQ(names(r.groups[0]), (std::vector<std::string>{"Intercept", "x1", "a_u", "a_v", "a_w"}));
  for (size_t i = 2; i < 5; ++i) {
    EXPECT_EQ(r.groups[0].records[i].parmCount, 1);
    EXPECT_EQ(r.groups[0].records[i].columns, (std::vector<int32_t>{static_cast<int32_t>(i - 2)}));
    EXPECT_EQ(r.groups[0].records[i].splitLevels,
              (std::vector<int32_t>{static_cast<int32_t>(i - 2)}));
  }

  // Without a CLASS effect in the model nothing is split.
  StepRun plain =
      postinit::run("proc varsifter data=sp; class a; model y = x1 / selection=lasso; run;");
  EXPECT_FALSE(plain.has(VsfMsg::ClassVariablesSplitForMethod)) << plain.messages();
  EXPECT_EQ(plain.options.split, 0);
}

TEST_F(SplitEffects, SplitVariableCrossedWithAnother) {
  // a*b with a split: the six cells fall into three records of two columns each, in the
  // order of the levels of a; each name keeps b whole.
  StepRun r = postinit::run("proc varsifter data=sp; class a(split) b; model y = a*b; run;");
  ASSERT_EQ(r.groups.size(), 1u) << r.messages();
  const auto& g = r.groups[0];
  EXPECT_EQ(names(g), (std::vector<std::string>{"Intercept", "a_u*b", "a_v*b", "a_w*b"}));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(g.records[1 + k].parmCount, 2);
    EXPECT_EQ(g.records[1 + k].columns, (std::vector<int32_t>{2 * k, 2 * k + 1}));
    EXPECT_EQ(g.records[1 + k].splitLevels, (std::vector<int32_t>{k}));
  }
  EXPECT_EQ(g.enteredFirst, 1);
}

TEST_F(SplitEffects, OrthogonalCodingsNameTheirColumns) {
  // ORTHPOLY on three levels has two columns, named by their number.
  StepRun r =
      postinit::run("proc varsifter data=sp; class a(param=orthpoly split); model y = x1 a; run;");
  ASSERT_EQ(r.groups.size(), 1u) << r.messages();
  EXPECT_EQ(names(r.groups[0]),
            (std::vector<std::string>{"Intercept", "x1", "a_OPOLY1", "a_OPOLY2"}));

  // EFFECT coding with the last level as reference: columns of u and v, named by level.
  StepRun eff =
      postinit::run("proc varsifter data=sp; class a(param=effect split); model y = x1 a; run;");
  ASSERT_EQ(eff.groups.size(), 1u) << eff.messages();
  EXPECT_EQ(names(eff.groups[0]), (std::vector<std::string>{"Intercept", "x1", "a_u", "a_v"}));

  // REF=FIRST drops u instead.
  StepRun ref = postinit::run(
      "proc varsifter data=sp; class a(param=ref ref=first split); model y = x1 a; run;");
  ASSERT_EQ(ref.groups.size(), 1u) << ref.messages();
  EXPECT_EQ(names(ref.groups[0]), (std::vector<std::string>{"Intercept", "x1", "a_v", "a_w"}));
}

TEST_F(SplitEffects, SplitRecordsContainTheirOwnLevelsOnly) {
  StepRun r = postinit::run("proc varsifter data=sp; class a(split) b;"
                            " model y = a a*b / selection=forward hierarchy=single; run;");
  ASSERT_EQ(r.groups.size(), 1u) << r.messages();
  const auto& g = r.groups[0];
  ASSERT_EQ(names(g), (std::vector<std::string>{"Intercept", "a_u", "a_v", "a_w", "a_u*b", "a_v*b",
                                                "a_w*b"}));
  // a_u*b contains a_u (record 1) only, and so on; the records of a are contained once.
  ASSERT_EQ(g.containsCounts, (std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(g.containedByCounts, (std::vector<int32_t>{0, 1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(g.containsLists[4], (std::vector<int32_t>{1}));
  EXPECT_EQ(g.containsLists[5], (std::vector<int32_t>{2}));
  EXPECT_EQ(g.containsLists[6], (std::vector<int32_t>{3}));

  // HIERARCHY=NONE with STEPWISE: zeroed counts and no lists.
  StepRun none = postinit::run("proc varsifter data=sp; class a(split) b;"
                               " model y = a a*b / selection=stepwise; run;");
  ASSERT_EQ(none.groups.size(), 1u) << none.messages();
  EXPECT_EQ(none.groups[0].containsCounts, std::vector<int32_t>(7, 0));
  EXPECT_TRUE(none.groups[0].containsLists.empty());
}

} // namespace
