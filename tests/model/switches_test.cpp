// The fitting switches that follow from the method alone and the fit-control words of a
// BY group's first fit. The switches post-initialisation decides are tested through it
// (tests/driver/postinit_options_test.cpp).
#include "model/vsfswitches.h"
#include "support/vsfmethods.h"

#include <gtest/gtest.h>

namespace {

TEST(Switches, StandardizationFollowsTheMethodFamily) {
  struct Case {
    VsfMethod method;
    uint8_t columns, parameters;
  } cases[] = {{VsfMethod::Stepwise, 0, 0}, {VsfMethod::None, 0, 0},
               {VsfMethod::LarLs, 1, 0},    {VsfMethod::QkLasso, 1, 0},
               {VsfMethod::QkGLasso, 0, 1}, {VsfMethod::GroupLasso, 0, 1}};
  for (const Case& c : cases) {
    VsfModelOptions o{};
    o.method = c.method;
    o.colStandardize = o.parmStandardize = 7; // stale values are replaced
    vsfDeriveFitSwitches(&o);
    EXPECT_EQ(o.colStandardize, c.columns);
    EXPECT_EQ(o.parmStandardize, c.parameters);
    EXPECT_EQ(o.stepRecordBits & 2, 2);
  }
  VsfModelOptions kept{};
  kept.stepRecordBits = 1; // DETAILS=STEPS stays asked for
  vsfDeriveFitSwitches(&kept);
  EXPECT_EQ(kept.stepRecordBits, 3);
}

TEST(Switches, EveryGroupStartsWithTransformedPagesAndRecordedSteps) {
  VsfModelOptions o{};
  o.transformPages = 0; // as an earlier fit of the road left them
  o.restorePages = 1;
  o.recordSteps = 0;
  vsfStartGroupFit(&o);
  EXPECT_EQ(o.transformPages, 1);
  EXPECT_EQ(o.restorePages, 0);
  EXPECT_EQ(o.recordSteps, 1);
}

} // namespace
