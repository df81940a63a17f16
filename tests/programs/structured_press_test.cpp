// PRESS and the folds' estimates on the structured road (a many-level CLASS effect kept as
// its diagonal and cross block), through qrx: every table is the packed road's within 1e-9
// with the same selections, and FORWARD by PRESS's candidate criteria are those of an
// independent leave-one-out computation on the same design.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

// Selecting, choosing and showing PRESS (under the GLM and the effect coding), and the folds'
// estimates of CVDETAILS=ALL with random folds (selecting and stopping by CV), on one and on
// several threads: the same tables as the packed road's, and not bit for bit (which would
// mean the structured road was not taken).
TEST(StructuredPress, PressAndFoldEstimatesGiveThePackedRoadsTables) {
  const std::string data = structuredcheck::levelsData(300, 1500, 4545);
  const struct {
    const char* coding;
    const char* options;
    int cpus;
  } runs[] = {
      {"", "selection=forward(select=press) details=all", 1},
      {" / param=effect", "selection=stepwise(select=press) stats=press", 4},
      {" / param=ref", "selection=backward(select=sbc choose=press)", 4},
      {"", "selection=forward(select=cv) cvmethod=random(5) cvdetails=all", 4},
      {"", "selection=backward(select=sbc stop=cv) cvmethod=random(4) cvdetails=all stats=press",
       1}};
  for (const auto& run : runs) {
    const std::string program = std::string("proc varsifter data=d seed=9;\n  class g") +
                                run.coding + ";\n  model y = x1 g x2 x3 / " + run.options +
                                ";\n  performance cpucount=" + std::to_string(run.cpus) +
                                ";\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "sppacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("structuredColumns=100", program, data, "spstruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, run.options);
  }
}

// FORWARD by PRESS: every candidate's PRESS at every step is the hat matrix's leave-one-out
// PRESS of numpy/scipy on the same design (scripts/gen_manylevels_ref.py, which checks it by
// refitting without each row), under the GLM and the effect coding (the same column space).
TEST(StructuredPress, ForwardPressCandidatesMatchLeaveOneOut) {
  std::map<std::string, double> want;
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/press.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  const std::string data = synthdata::manyLevelsCsv();
  for (const std::string coding : {"", " / param=effect"}) {
    const qrxrun::ProgramRun r = structuredcheck::runHooked(
        "structuredColumns=10",
        "proc varsifter data=d;\n  class g" + coding +
            ";\n  model y = g x1 x2 x3 / selection=forward(select=press) details=all;\nrun;\n",
        data, "sppress");
    ASSERT_EQ(r.status, 0) << r.log;
    structuredcheck::expectCandidateCriteria(r, want, "PRESS", coding);
  }
}
