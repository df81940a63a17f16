// A fit whose method code names no selection method: the step bounds, the work estimate and
// the dispatch all ask the method table, and each must refuse the code with a failure rather
// than index past the table or run some other method's road.
#include "fitfixture.h"

#include <gtest/gtest.h>

namespace {

TEST(MethodCode, UnknownCodesFailTheFitWithoutRunningARoad) {
  static const fittest::Design d = fittest::readDesign("classdata");
  for (const int32_t code : {0, -3, 14, 99}) {
    fittest::FitSetup s;
    s.method = static_cast<VsfMethod>(code);
    fittest::Fit f(d, s);
    f.go();
    ASSERT_EQ(f.readRc, 0) << code;
    ASSERT_EQ(f.initRc, VsfStatus::Ok) << code;
    EXPECT_NE(f.processRc, VsfStatus::Ok) << code;
    EXPECT_EQ(f.m().history.stepCount, 0) << code;
  }
}

} // namespace
