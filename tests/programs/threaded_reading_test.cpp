// The reading pass on workers end to end through qrx: at one thread count every table is
// the one the serial reading gives (the _testroadread switch at 0 keeps the serial road),
// and on one thread the same estimates to rounding, for numeric and CLASS effects, WEIGHT and
// FREQ with missing values, BY groups and a random partition.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Two BY groups of 700 observations: CLASS c (3 levels) and k (2), numeric x1-x3, a weight
// with missing and zero values and a frequency with missing and fractional ones.
std::string readingData() {
  std::string text = "g,c,k,x1,x2,x3,w,n,y\n";
  for (int i = 0; i < 1400; ++i) {
    const double x1 = std::sin(1.3 * i), x2 = std::cos(0.7 * i), x3 = std::sin(0.3 * i + 1);
    const double y = 1 + 2 * x1 - x2 + (i % 3 == 0) + 0.3 * std::sin(5.1 * i);
    const std::string w = i % 97 == 0 ? "." : i % 89 == 0 ? "0" : std::to_string(0.5 + i % 4);
    const std::string n = i % 83 == 0 ? "." : i % 79 == 0 ? "1.5" : std::to_string(1 + i % 3);
    text += std::to_string(i < 700 ? 1 : 2) + "," + "ABC"[i % 3] + "," + (i % 4 < 2 ? "lo" : "hi") +
            "," + std::to_string(x1) + "," + std::to_string(x2) + "," +
            (i % 61 == 0 ? std::string(".") : std::to_string(x3)) + "," + w + "," + n + "," +
            std::to_string(y) + "\n";
  }
  return text;
}

// Five steps, each with the given PERFORMANCE statement.
std::string readingProgram(const std::string& perf) {
  const std::string p = "  performance " + perf + ";\nrun;\n";
  return "proc varsifter data=d;\n  model y = x1 x2 x3 / selection=forward;\n" + p +
         "proc varsifter data=d;\n  class c k;\n"
         "  model y = c k c*k x1 x2 / selection=stepwise(select=sbc);\n" +
         p +
         "proc varsifter data=d;\n  class c;\n  weight w;\n  freq n;\n"
         "  model y = c x1 x2 x3 / selection=lasso;\n" +
         p +
         "proc varsifter data=d;\n  by g;\n  class c k;\n"
         "  model y = c k x1 x2 x3 / selection=forward(select=sbc);\n" +
         p +
         "proc varsifter data=d seed=321;\n  class k;\n"
         "  partition fraction(validate=0.3 test=0.2);\n"
         "  model y = k x1 x2 x3 / selection=forward(choose=validate);\n" +
         p;
}

TEST(ThreadedReading, WorkersGiveTheTablesOfTheSerialReading) {
  const std::string data = readingData();
  using qrxrun::runProgram;
  const auto serial = runProgram("%let _testroadread = 0;\n" + readingProgram("threads cpucount=4"),
                                 "rdser", {{"d.csv", data}});
  const auto threaded =
      runProgram(readingProgram("threads cpucount=4"), "rdthr", {{"d.csv", data}});
  const auto one = runProgram(readingProgram("nothreads"), "rdone", {{"d.csv", data}});
  for (const auto* r : {&serial, &threaded, &one}) {
    ASSERT_EQ(r->status, 0) << r->log;
    ASSERT_EQ(r->json["steps"].items.size(), 5u);
  }
  // Rows left out for missing values, weights and frequencies, and the partition's roles.
  ASSERT_FALSE(qrxrun::tablesOf(threaded, "NObs").empty());
  for (size_t s = 0; s < 5; ++s) {
    const auto& a = serial.json["steps"][s]["output"];
    const auto& b = threaded.json["steps"][s]["output"];
    // At one thread count: the very same output, timing aside (no timing table is asked).
    EXPECT_EQ(qrxrun::dumpOutput(a), qrxrun::dumpOutput(b)) << "step " << s + 1;
    // On one thread the fit sums in another order: the same to rounding.
    qrxrun::expectClose(one.json["steps"][s]["output"], b, 1e-8, "step " + std::to_string(s + 1));
  }
}

// Runs the five steps as `first` and as `second` (programs before the steps) and expects the
// very same output, step by step.
void expectSameOutput(const std::string& first, const std::string& second, const std::string& perf,
                      const std::string& tag) {
  const std::string data = readingData();
  const auto a = qrxrun::runProgram(first + readingProgram(perf), tag + "a", {{"d.csv", data}});
  const auto b = qrxrun::runProgram(second + readingProgram(perf), tag + "b", {{"d.csv", data}});
  for (const auto* r : {&a, &b}) {
    ASSERT_EQ(r->status, 0) << r->log;
    ASSERT_EQ(r->json["steps"].items.size(), 5u);
  }
  for (size_t s = 0; s < 5; ++s)
    EXPECT_EQ(qrxrun::dumpOutput(a.json["steps"][s]["output"]),
              qrxrun::dumpOutput(b.json["steps"][s]["output"]))
        << "step " << s + 1;
}

// A file read window by window (CSVHOLD below its values) gives the workers the same rows:
// their block reads cross window ends.
TEST(ThreadedReading, WorkersOnAFileReadInWindowsGiveTheTablesOfTheWholeFile) {
  expectSameOutput("", "options csvhold=16K;\n", "threads cpucount=4", "rdwin");
}

// With one page of each file in memory and the rest on disk, the pages the workers make ready
// go only to the pages held in memory: the tables are those of the serial reading.
TEST(ThreadedReading, WorkersWithPagesOnDiskGiveTheTablesOfTheSerialReading) {
  expectSameOutput("%let _testroadread = 0;\n", "",
                   "threads cpucount=4 util_buffers$=1 util_pagesize$=1", "rddisk");
}

// On one thread the main thread builds the blocks itself: the same output as the serial
// reading, to the last digit, on every kind of step.
TEST(ThreadedReading, BlocksOnOneThreadGiveTheTablesOfTheSerialReading) {
  expectSameOutput("%let _testroadread = 0;\n", "", "nothreads", "rd1");
}

} // namespace
