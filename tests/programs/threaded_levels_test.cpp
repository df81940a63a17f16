// The _testthread switch end to end through qrx: set by %LET, it puts the levelisation and
// the GLM effect-level pass on workers, and every table of a run with BY groups and CLASS
// effects is the one the serial passes give; a worker that meets a fault is reported and the
// serial passes redo its work.
#include "programs/byclassdata.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
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

// 600 rows: with 4 workers every pass hands over several buffers of rows. The numeric CLASS
// variable holds values at the ends of the double range (0, -0, a subnormal, the largest
// finite values), which the workers format and compare without a floating-point fault.
std::string manyRows() {
  const char* extremes[] = {
      "0", "-0", "4.9e-324", "1.7976931348623157e308", "-1.7976931348623157e308", "1e-300", "2.5"};
  std::ostringstream s;
  s << "c,n,x,y\n";
  for (int i = 0; i < 600; ++i)
    s << "L" << (i * 7) % 23 << "," << extremes[(i * 5) % 7] << "," << (i % 11) * 0.5 << ","
      << (i % 13) + 0.1 * (i % 5) << "\n";
  return s.str();
}

// Each road runs the same step; `hooks` goes to the runner's QRX_TEST_HOOKS.
qrxrun::ProgramRun runStep(const std::string& prefix, const std::string& tag,
                           const std::string& hooks = "") {
  const std::string step = "proc varsifter data=d;\n class c n;\n"
                           "  model y = c n x / selection=forward(select=sbc);\n"
                           "  performance threads cpucount=2;\nrun;\n";
  if (!hooks.empty())
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
  qrxrun::ProgramRun r = qrxrun::runProgram(prefix + step, tag, {{"d.csv", manyRows()}});
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

TEST(ThreadedLevels, AFloatingPointFaultInAWorkerIsReportedAndThePassRedone) {
  const qrxrun::ProgramRun serial = runStep("", "thrs");
  ASSERT_EQ(serial.status, 0) << serial.log;
  const std::string on = "%let _testthread = 1;\n";
  const qrxrun::ProgramRun clean = runStep(on, "thrc");
  ASSERT_EQ(clean.status, 0) << clean.log;
  EXPECT_FALSE(qrxrun::logged(clean, EffMsg::LevelisationRedoneOnMainThread)) << clean.log;
  const std::string expected = qrxrun::dumpOutput(serial.json["steps"][0]["output"]);
  EXPECT_EQ(qrxrun::dumpOutput(clean.json["steps"][0]["output"]), expected);
  // The fifth buffer exists only when the rows are spread over several buffers a pass.
  struct Case {
    const char* fault;
    EffMsg message;
  } cases[] = {{"Overflow", EffMsg::LevelisationWorkerStoppedFloatingPointErrorOverflow},
               {"DivideByZero", EffMsg::LevelisationWorkerStoppedFloatingPointErrorDivision},
               {"Invalid", EffMsg::LevelisationWorkerStoppedFloatingPointErrorInvalid},
               {"NoMemory", EffMsg::LevelisationWorkerOutOfMemory}};
  for (const Case& c : cases) {
    const qrxrun::ProgramRun r =
        runStep(on, "thrf", std::string("levelFaultBuffer=5,levelWorkerFault=") + c.fault);
    EXPECT_EQ(r.status, 2) << c.fault << "\n" << r.log;
    EXPECT_TRUE(qrxrun::logged(r, c.message)) << c.fault << "\n" << r.log;
    EXPECT_TRUE(qrxrun::logged(r, EffMsg::LevelisationRedoneOnMainThread)) << c.fault << "\n"
                                                                           << r.log;
    EXPECT_EQ(qrxrun::dumpOutput(r.json["steps"][0]["output"]), expected) << c.fault;
  }
}

} // namespace
