// A reading pass gives DATA= observations up as it stores them when nothing later in the step
// reads them (the host then frees their values): runs on a file long enough to be given up in
// several pieces, on one thread and on the workers' block road, with BY groups, give the
// output of the windowed road, which keeps every value; so do runs whose OUTPUT, SCORE,
// TESTDATA=, OUTDESIGN= or model averaging read DATA= again, and none of them is refused a
// value it reads.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using qrxrun::ProgramRun;

// `rows` rows in two BY groups; 140,000 is a little over two pieces of 65,536.
std::string longData(int rows = 140000) {
  std::ostringstream s;
  s.precision(17);
  s << "g,c,x1,x2,x3,y\n";
  for (int i = 0; i < rows; ++i) {
    const double x1 = std::sin(1.3 * i), x2 = std::cos(0.7 * i), x3 = std::sin(0.3 * i + 1);
    const char c = "ABC"[i % 3];
    const double y = 1 + 2 * x1 - x2 + 0.5 * x3 + (c == 'A') + 0.2 * std::sin(5.1 * i);
    s << (i < rows / 2 ? 1 : 2) << "," << c << "," << x1 << "," << x2 << "," << x3 << "," << y
      << "\n";
  }
  return s.str();
}

// The data of the runs that read DATA= again: with QRX_LONG_TESTS (the label "long") the
// 140,000 rows given up in pieces of 65,536; else 9,000 rows given up every 1,000 rows (a test
// switch of the run on the file held whole), the same road in a tenth of the time.
bool fullSize() { return std::getenv("QRX_LONG_TESTS") != nullptr; }

const std::string& theLongData() {
  static const std::string data = longData(fullSize() ? 140000 : 9000);
  return data;
}

const char* theLongDataHooks() { return fullSize() ? nullptr : "readReleaseRows=1000"; }

// The program's run on the file held whole and on the windowed road (the option on the first
// line, so that both have the same line numbers); `hooks`, when given, go to the runner's
// QRX_TEST_HOOKS for the run on the file held whole.
void expectSameOnBothRoads(const std::string& program, const std::string& tag,
                           const std::vector<std::string>& readBack = {},
                           const std::string& data = theLongData(),
                           const char* hooks = theLongDataHooks()) {
  if (hooks != nullptr)
    ::setenv("QRX_TEST_HOOKS", hooks, 1);
  const ProgramRun whole = qrxrun::runProgram(program, tag + "_w", {{"d.csv", data}}, readBack);
  ::unsetenv("QRX_TEST_HOOKS");
  // a bound below the values of the data, so that they are read window by window
  const std::string hold = data.size() > (size_t{2} << 20) ? "1M" : "64K";
  const ProgramRun win = qrxrun::runProgram("options csvhold=" + hold + "; " + program, tag + "_v",
                                            {{"d.csv", data}}, readBack);
  ASSERT_EQ(whole.status, 0) << whole.log;
  ASSERT_EQ(win.status, 0) << win.log;
  EXPECT_FALSE(qrxrun::logged(whole, qrxhost::DataMsg::ReleasedObservationRead)) << whole.log;
  EXPECT_EQ(whole.log, win.log);
  const auto& a = whole.json["steps"];
  const auto& b = win.json["steps"];
  ASSERT_EQ(a.items.size(), b.items.size());
  for (size_t s = 0; s < a.items.size(); ++s)
    EXPECT_EQ(qrxrun::dumpOutput(a[s]["output"]), qrxrun::dumpOutput(b[s]["output"]))
        << tag << " step " << s + 1;
  for (const std::string& f : readBack) {
    ASSERT_EQ(whole.files.count(f), 1u) << f;
    ASSERT_EQ(win.files.count(f), 1u) << f;
    EXPECT_EQ(whole.files.at(f), win.files.at(f)) << f;
  }
}

} // namespace

TEST(GivenUpInput, LassoAndForwardRunsGiveTheOutputOfTheRoadThatKeepsEveryValue) {
  for (const char* threads : {"nothreads", "threads cpucount=4"})
    expectSameOnBothRoads(std::string("proc varsifter data=d;\n  performance ") + threads +
                              ";\n  class c;\n  model y = c x1 x2 x3 / selection=lasso;\nrun;\n"
                              "proc varsifter data=d;\n  performance " +
                              threads +
                              ";\n  by g;\n  model y = x1 x2 x3 / "
                              "selection=forward(select=sbc);\nrun;\n",
                          std::string("gu_plain_") + threads[0]);
}

TEST(GivenUpInput, RunsThatReadDataAgainKeepItWhole) {
  expectSameOnBothRoads("proc varsifter data=d testdata=d;\n  performance threads cpucount=4;\n"
                        "  by g;\n  model y = x1 x2 x3 / selection=forward;\n"
                        "  output out=o p=p;\n  score out=s1 p=p;\n  score data=d out=s2 p=p;\n"
                        "run;\n",
                        "gu_again", {"o.csv", "s1.csv", "s2.csv"});
}

// As above, a step whose design is written out and one that draws samples of the rows (each
// in a test of its own, so that each stays short on a loaded machine).
TEST(GivenUpInput, DesignOutputAndSampledRunsKeepTheDataWhole) {
  expectSameOnBothRoads("proc varsifter data=d outdesign=od;\n  class c;\n"
                        "  model y = c x1 / selection=none;\nrun;\n",
                        "gu_design", {"od.csv"});
}

TEST(GivenUpInput, ModelAveragingKeepsTheDataWhole) {
  expectSameOnBothRoads("proc varsifter data=d seed=123;\n  model y = x1 x2 x3 / selection=lasso;\n"
                        "  modelaverage nsamples=3;\nrun;\n",
                        "gu_average");
}

// 9,000 rows: each column (72 KB) has pages of its own, which a release every 1,000 rows, on
// blocks of 100, hands back while the pass still reads the rows after them. The file is held
// whole on both runs: the one without the hooks gives its values up at the end of the pass.
TEST(GivenUpInput, ColumnsGivenBackBlockByBlockGiveTheOutputOfTheRoadThatKeepsThem) {
  static const std::string data = longData(9000);
  for (const char* threads : {"nothreads", "threads cpucount=4"})
    expectSameOnBothRoads(std::string("proc varsifter data=d;\n  performance ") + threads +
                              ";\n  class c;\n  model y = c x1 x2 x3 / selection=lasso;\nrun;\n",
                          std::string("gu_blocks_") + threads[0], {}, data,
                          "readReleaseRows=1000,readBlockRows=100");
}
