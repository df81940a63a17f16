// SCORE when its output data set refuses a row: the step is run in process with the stand-in
// host's switch that makes xdsappend refuse rows after the first few, as a closed output does.
#include "driver/vsfmain.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/runner/programrun.h"
#include "host/testswitches.h"
#include "msgid.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

TEST(ScoreOutput, ARefusedRowIsReportedOnceAndNoFurtherRowIsTried) {
  const fs::path work =
      fs::temp_directory_path() / ("qrx_score_refused_" + std::to_string(::getpid()));
  fs::create_directories(work);
  {
    std::ofstream data(work / "d.csv");
    data << "y,x\n";
    for (int i = 1; i <= 12; ++i)
      data << 2 * i + (i % 3) << ',' << i << '\n';
  }
  qrxhost::setWorkDir(work.string());
  qrxhost::hostControlBlock();
  std::vector<qrxhost::ProcedureModule> modules(1);
  modules[0].name = "VARSIFTER";
  modules[0].entry = entry;
  modules[0].main = pcn_QRXVARSF.main;
  qrxhost::refuseOutputRowsAfter(3);
  const qrxhost::ProgramResult result = qrxhost::runProgram(
      "proc varsifter data=d;\n  model y = x / selection=none;\n  score out=s p=pred;\nrun;\n",
      "score.qrx", modules);
  const int64_t refused = qrxhost::refusedOutputRows();
  qrxhost::refuseOutputRowsAfter(-1);
  qrxhost::endRun();
  fs::remove_all(work);

  ASSERT_EQ(result.record.steps.size(), 1u);
  const qrxhost::StepRecord& step = result.record.steps[0];
  int reported = 0;
  for (const auto& r : step.log)
    reported += r.numbered && MsgId(VsfMsg::RowNotWritten).is(r.set, r.number);
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(refused, 1); // the rows after the refused one were not offered
  EXPECT_GT(step.returnCode, 4);
}

} // namespace
