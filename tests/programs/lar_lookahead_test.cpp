// The least-angle path with the full X'X takes its residual sums of squares from the matrix
// (or, for a nearly exact fit, from one pass for several coming steps). End to end through qrx
// on the diabetes data: LAR and LASSO paths with drops, weights, BY groups, an L1 end and
// criteria that walk the whole path give the output of the pass per step (the
// _testroadahead switch at 0) to rounding, on one thread and on four; the thread switch
// leaves the road alone.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kHead = "libname ex 'examples';\n";

// Six paths of the diabetes data, each with the PERFORMANCE statement `perf`.
std::string pathPrograms(const std::string& perf) {
  const std::string all = "age|sex|bmi|bp|s1|s2|s3|s4|s5|s6 @2";
  const std::string models[] = {
      "model y = " + all + " / selection=lasso;",
      "model y = " + all + " / selection=lar(choose=aic stop=none);",
      "model y = " + all + " / selection=lasso(stop=l1 l1choice=ratio l1=0.3);",
      "model y = " + all + " / selection=lasso(choose=cp stop=none);",
      "weight bmi;\n  model y = age sex bp s1-s6 age*bp s1*s2 / selection=lasso(choose=sbc "
      "stop=none);",
      "by sex notsorted;\n  model y = age bmi bp s1-s6 / selection=lasso(stop=aicc);",
  };
  std::string program;
  for (const std::string& model : models)
    program +=
        "proc varsifter data=ex.diabetes;\n  " + model + "\n  performance " + perf + ";\nrun;\n";
  return program;
}

void expectSameAsPassPerStep(const std::string& perf, const std::string& tag) {
  const auto ahead = qrxrun::run(kHead + pathPrograms(perf), tag + "a");
  const auto perStep = qrxrun::run(
      std::string(kHead) + "%let _testroadahead = 0;\n" + pathPrograms(perf), tag + "s");
  for (const auto* r : {&ahead, &perStep}) {
    ASSERT_EQ(r->status, 0) << r->log;
    ASSERT_EQ(r->json["steps"].items.size(), 6u);
  }
  for (size_t s = 0; s < 6; ++s) {
    const auto& a = ahead.json["steps"][s]["output"];
    ASSERT_FALSE(a.items.empty()) << "step " << s + 1;
    EXPECT_EQ(qrxrun::firstDifference(a, perStep.json["steps"][s]["output"], ""), "")
        << "step " << s + 1;
  }
}

TEST(LarLookAhead, PathsGiveTheOutputOfThePassPerStepOnOneThread) {
  expectSameAsPassPerStep("nothreads", "ahead1");
}

TEST(LarLookAhead, PathsGiveTheOutputOfThePassPerStepOnFourThreads) {
  expectSameAsPassPerStep("threads cpucount=4", "ahead4");
}

} // namespace

// The road switch is its own: turning the threads off (_testthread at 0) leaves the path on its
// fast road, whose output differs from the pass per step's in the last digits.
TEST(LarLookAhead, TurningTheThreadsOffLeavesTheRoadOn) {
  const std::string step = "proc varsifter data=ex.diabetes;\n  model y = "
                           "age|sex|bmi|bp|s1|s2|s3|s4|s5|s6 @2 / selection=lasso(choose=cp "
                           "stop=none);\n  performance nothreads;\nrun;\n";
  const auto road = qrxrun::run(kHead + step, "aheadon");
  const auto threadsOff = qrxrun::run(kHead + ("%let _testthread = 0;\n" + step), "aheadt0");
  for (const auto* r : {&road, &threadsOff})
    ASSERT_EQ(r->status, 0) << r->log;
  EXPECT_EQ(qrxrun::dumpOutput(threadsOff.json["steps"][0]["output"]),
            qrxrun::dumpOutput(road.json["steps"][0]["output"]));
}
