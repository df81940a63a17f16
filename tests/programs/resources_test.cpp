// Whole runs in-process through the host's program runner, counting what a run leaves
// behind: pools and utility files, after a normal run with pages forced to disk and after
// runs that fail at every read or write of their page and scratch files.
#include "driver/vsfmain.h"
#include "host/ext/qkpgf.h"
#include "host/pools.h"
#include "host/runner/programrun.h"
#include "host/testswitches.h"
#include "msgid.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

qrxhost::ProgramResult run(const std::string& program) {
  std::vector<qrxhost::ProcedureModule> modules(1);
  modules[0].name = "VARSIFTER";
  modules[0].entry = entry;
  modules[0].main = qrxvarsf;
  return qrxhost::runProgram(program, "resources.qrx", modules);
}

// Stepwise selection on the diabetes data with small pages kept on disk and an OUTPUT data
// set, so the run makes page files, a scratch file and an output file.
std::string program(const fs::path& out) {
  return "options PAGEFILE_PAGESIZE=4096;\n"
         "libname t '" QRX_TEST_DATA "';\n"
         "proc varsifter data=t.diabetes;\n"
         "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc) details=all;\n"
         "  output out='" +
         out.string() +
         "' p r;\n"
         "run;\n";
}

class Resources : public ::testing::Test {
protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qrx_resources_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    qrxhost::failUtilityIoAt(0);
    fs::remove_all(dir);
  }
};

TEST_F(Resources, NormalRunLeavesNoPoolOrFile) {
  const int poolsBefore = qrxhost::livePoolCount();
  qrxhost::ProgramResult r = run(program(dir / "out.csv"));
  ASSERT_EQ(r.record.steps.size(), 1u);
  EXPECT_EQ(r.record.returnCode, 0);
  EXPECT_GT(qrxhost::utilityIoCount(), 0); // pages went to disk and came back
  EXPECT_EQ(qrxhost::livePoolCount(), poolsBefore);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  EXPECT_TRUE(fs::exists(dir / "out.csv"));
}

// Every read or write of a page or scratch file, failed in turn: each run reports an error
// and raises the return code to an error level (a failure inside the fit ends the BY group
// with its fit status, 112; one outside it ends the run, 1012 and above), and leaves no pool
// and no utility file behind.
TEST_F(Resources, EveryFailedReadOrWriteEndsCleanly) {
  const int poolsBefore = qrxhost::livePoolCount();
  const int64_t start = qrxhost::utilityIoCount();
  qrxhost::ProgramResult clean = run(program(dir / "clean.csv"));
  ASSERT_EQ(clean.record.returnCode, 0);
  const int64_t ioPerRun = qrxhost::utilityIoCount() - start;
  ASSERT_GT(ioPerRun, 0);
  // About forty failure points spread over the whole run, the first and the last included.
  std::vector<int64_t> points;
  const int64_t stride = ioPerRun > 40 ? ioPerRun / 40 : 1;
  for (int64_t n = 1; n < ioPerRun; n += stride)
    points.push_back(n);
  points.push_back(ioPerRun);
  for (int64_t n : points) {
    SCOPED_TRACE("failing I/O number " + std::to_string(n));
    qrxhost::failUtilityIoAt(n);
    qrxhost::ProgramResult r = run(program(dir / ("out" + std::to_string(n) + ".csv")));
    qrxhost::failUtilityIoAt(0);
    EXPECT_GE(r.record.returnCode, 108);
    bool error = false;
    for (const auto& step : r.record.steps)
      for (const auto& rec : step.log)
        error = error || rec.severity == HostSeverity::Error;
    EXPECT_TRUE(error);
    EXPECT_EQ(qrxhost::livePoolCount(), poolsBefore);
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  }
}

// A fold fit of the group LASSO's external cross validation whose model pool cannot be made
// ends the run with the pool message, rather than being taken for a fit status and leaving
// the display to a fit that never ran.
TEST_F(Resources, FoldFitWithoutItsModelPoolEndsTheRun) {
  const int poolsBefore = qrxhost::livePoolCount();
  qrxhost::failNamedPool("model pool");
  qrxhost::ProgramResult r =
      run("libname t '" QRX_TEST_DATA "';\nproc varsifter data=t.diabetes;\n  class sex;\n"
          "  model y = age sex bmi bp s1-s6 / cvmethod=split(3) selection=grouplasso(stop=none "
          "choose=cvex);\nrun;\n");
  qrxhost::failNamedPool("");
  ASSERT_EQ(r.record.steps.size(), 1u);
  EXPECT_EQ(r.record.returnCode, 1016);
  bool poolMessage = false;
  for (const auto& rec : r.record.steps[0].log)
    poolMessage = poolMessage || MsgId(VsfMsg::PoolOrHandleNotCreated) == MsgId::of(rec);
  EXPECT_TRUE(poolMessage);
  EXPECT_EQ(qrxhost::livePoolCount(), poolsBefore);
}

} // namespace
