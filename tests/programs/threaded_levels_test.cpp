// The _testthread switch end to end through qrx: set by %LET, it puts the levelisation and
// the GLM effect-level pass on workers, and every table of a run with BY groups and CLASS
// effects is the one the serial passes give.
#include "programs/byclassdata.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ThreadedLevels, TheSwitchLeavesEveryTableAsTheSerialPassesMakeIt) {
  const std::string step = "proc varsifter data=d;\n by g;\n class c k / showcoding;\n"
                           "  model y = c k c*k x1 x2 / selection=stepwise(select=sbc);\n"
                           "  performance threads cpucount=2;\nrun;\n";
  const std::string data = byClassDataText();
  qrxrun::ProgramRun serial = qrxrun::runProgram(step, "thr0", {{"d.csv", data}});
  qrxrun::ProgramRun threaded =
      qrxrun::runProgram("%let _testthread = 1;\n" + step, "thr1", {{"d.csv", data}});
  ASSERT_EQ(serial.status, 0) << serial.log;
  ASSERT_EQ(threaded.status, 0) << threaded.log;
  const auto& a = serial.json["steps"][0]["output"];
  const auto& b = threaded.json["steps"][0]["output"];
  ASSERT_GT(qrxrun::tablesOf(serial, "ClassLevelInfo").size(), 1u);
  // The whole output record is the same, table by table.
  EXPECT_EQ(qrxrun::dumpOutput(a), qrxrun::dumpOutput(b));
  EXPECT_EQ(threaded.json["macros"]["_TESTTHREAD"].s, "1");
}

} // namespace
