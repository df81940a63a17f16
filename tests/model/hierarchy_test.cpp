// Hierarchy counts: an interaction enters only after its main effects and leaves before
// them; counts that can never reach zero leave their effect out instead of repeating the
// full-model passes for ever.
#include "selection/fitfixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace fittest;

namespace {

// classdata: 0 intercept, 1 x1, 2 A, 3 B, 4 A*B, 5 x2.
struct Hierarchy {
  int32_t addInit[6] = {0, 0, 0, 0, 2, 0};
  int32_t dropInit[6] = {0, 0, 1, 1, 0, 0};
  int32_t listA4[2] = {2, 3};
  int32_t listB2[1] = {4};
  int32_t listB3[1] = {4};
  int32_t* listA[6] = {nullptr, nullptr, nullptr, nullptr, listA4, nullptr};
  int32_t* listB[6] = {nullptr, nullptr, listB2, listB3, nullptr, nullptr};
  void install(VsfModelOptions& o) {
    o.hierarchy = VsfHierarchy::Single;
    o.hierAddCountInit = addInit;
    o.hierDropCountInit = dropInit;
    o.hierListA = listA;
    o.hierListB = listB;
  }
};

struct HierarchyTest : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

int32_t position(const VsfModel& m, int32_t effect) {
  for (int32_t s = 0; s < m.history.stepCount; ++s)
    if (m.history.stepEffect[s] == effect)
      return s;
  return -1;
}

// SL with SLENTRY=1 lets every effect enter when the hierarchy allows it; with SLSTAY near 0
// BACKWARD removes every effect that the hierarchy lets go. So the interaction always
// enters (removal) and its order against the main effects is always checked.
TEST_F(HierarchyTest, InteractionFollowsItsMainEffects) {
  const Design d = readDesign("classdata");
  for (VsfMethod method : {VsfMethod::Forward, VsfMethod::Backward, VsfMethod::Stepwise}) {
    for (bool full : {true, false}) {
      SCOPED_TRACE(testing::Message() << "method " << method << " full " << full);
      Hierarchy h;
      FitSetup s;
      s.method = method;
      s.select = 1;
      s.full = full;
      Fit fit(d, s);
      fit.opt.slEntry = 1.0;
      fit.opt.slStay = method == VsfMethod::Backward ? 1e-300 : 1.0;
      h.install(fit.opt);
      fit.go();
      ASSERT_EQ(fit.processRc, VsfStatus::Ok);
      const VsfModel& m = fit.m();
      ASSERT_EQ(m.fitStatus, VsfFitStatus::Done);
      const int32_t ab = position(m, 4);
      const int32_t a = position(m, 2), b = position(m, 3);
      ASSERT_GT(ab, 0);
      ASSERT_GT(a, 0);
      ASSERT_GT(b, 0);
      if (method == VsfMethod::Backward) {
        // removed before either main effect
        EXPECT_LT(ab, a);
        EXPECT_LT(ab, b);
      } else {
        // entered only after both main effects
        EXPECT_GT(ab, a);
        EXPECT_GT(ab, b);
      }
    }
  }
}

TEST_F(HierarchyTest, CountsThatNeverReachZeroDoNotHang) {
  const Design d = readDesign("classdata");
  Hierarchy h;
  h.addInit[5] = 1; // x2 waits for an effect that names it in no list
  FitSetup s;
  s.method = VsfMethod::Backward;
  s.select = 4;
  Fit fit(d, s);
  h.install(fit.opt);
  fit.go();
  ASSERT_EQ(fit.processRc, VsfStatus::Ok);
  const VsfModel& m = fit.m();
  EXPECT_EQ(m.fitStatus, VsfFitStatus::Done);
  EXPECT_EQ(m.history.stepEffects[0], 5); // the full model without x2
  for (int32_t i = 0; i < m.inModelCount; ++i)
    EXPECT_NE(m.inModelList[i], 5);
}

} // namespace
