// The fitting switches derived from the selection codes and the PERFORMANCE options.
#include "driver/vsfoptions.h"
#include "model/vsfswitches.h"

#include <gtest/gtest.h>

namespace {

TEST(Switches, DerivedFromCodesAndPerformanceOptions) {
  {
    VsfModelOptions o{};
    o.method = 2;
    o.select = 9;
    o.stop = 7;
    vsfDeriveFitSwitches(&o, nullptr, 500);
    EXPECT_EQ(o.fullXpx, 0);    // a large FORWARD design grows its X'X
    EXPECT_EQ(o.storeCross, 1); // and keeps the cross products of entered effects
    EXPECT_EQ(o.pressNeeded, 1);
    EXPECT_EQ(o.trialAll, 1);
    EXPECT_EQ(o.fullModelFirst, 1); // CP needs the full model's variance
    EXPECT_EQ(o.stopTest, 1);
    EXPECT_EQ(o.stepRecordBits & 2, 2);
    EXPECT_EQ(o.recordSteps, 1);
    EXPECT_EQ(o.transformPages, 1);
  }
  {
    VsfModelOptions o{};
    o.method = 3;
    o.select = 4;
    o.steps = 4; // STEPS= governs instead of the stop criterion
    VsfPerfOptions perf{};
    perf.fullSweep = 2;
    vsfDeriveFitSwitches(&o, &perf, 500);
    EXPECT_EQ(o.fullXpx, 1);   // BACKWARD starts from the full matrix
    EXPECT_EQ(o.fullSweep, 1); // which is never re-swept in full
    EXPECT_EQ(o.storeCross, 0);
    EXPECT_EQ(o.stopTest, 0);
  }
  {
    VsfModelOptions o{};
    o.method = 4;
    o.select = 1;
    o.cvMethod = 1;
    o.choose = 13;
    VsfPerfOptions perf{};
    perf.sscpIncremental = 1;
    vsfDeriveFitSwitches(&o, &perf, 10);
    EXPECT_EQ(o.fullXpx, 0);
    EXPECT_EQ(o.cvExternal, 1);
    EXPECT_EQ(o.cvOn, 0);
  }
}

} // namespace
