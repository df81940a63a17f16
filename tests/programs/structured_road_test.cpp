// The structured road (a many-level CLASS effect kept as its diagonal and cross block, never
// as the packed triangle of all columns) on each selection method it serves, through qrx:
// every table is that of the packed road on the same data within 1e-9, with the same
// selections (also by cross validation), and the removal criteria match an independent
// sparse least-squares selection.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace {

using minijson::Value;

// Runs both roads and expects the same output within 1e-9, and not bit for bit (which
// would mean the structured road was not taken).
void expectRoadsAgree(const std::string& data, const std::string& model, const std::string& options,
                      int cpus) {
  // The packed road with the test switch raising the road's threshold above 1,000 columns.
  const std::string program = "proc varsifter data=d seed=3;\n  class g;\n  model " + model +
                              " / " + options +
                              ";\n  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n";
  const qrxrun::ProgramRun packed =
      structuredcheck::runHooked("structuredColumns=1000000", program, data, "srpacked");
  const qrxrun::ProgramRun structured = structuredcheck::runHooked("", program, data, "srstruct");
  structuredcheck::expectPackedRoadsTables(structured, packed, model + " / " + options);
}

} // namespace

// BACKWARD (removing the effect, and a small column on which some of its columns depend)
// and STEPWISE, on one and on eight threads.
TEST(StructuredRoad, BackwardAndStepwiseGiveThePackedRoadsTables) {
  const std::string data = structuredcheck::levelsData(1000, 3000, 45);
  expectRoadsAgree(data, "y = x1 z x2 g x3", "selection=backward(select=sl) details=all", 1);
  expectRoadsAgree(data, "y = z x1 g x2 x3", "selection=stepwise(select=sl) details=all", 8);
}

// Cross validation (the folds' own states of the effect and their held-out errors from the
// sums or from a pass over the rows): selecting, choosing and stopping by it, on random and block
// folds; validation and test rows (their residuals from the effect's estimates); CP and BIC (the
// full model fitted first and emptied again). On the small committed data with the road taken from
// 10 columns.
TEST(StructuredRoad, FoldsRolesAndFullModelCriteriaGiveThePackedRoadsTables) {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/data.csv");
  // The second run takes the folds' errors from a pass over the rows.
  const std::pair<std::string, std::string> runs[] = {
      {"", "selection=forward(select=cv) cvmethod=random(5)"},
      {"%let _testthreadcvsums = 0;\n",
       "selection=backward(select=sbc stop=cv) cvmethod=random(3)"},
      {"", "selection=stepwise(select=sbc choose=cv) cvmethod=block(4)"},
      {"", "selection=forward(select=aic choose=validate) stats=(cp bic);\n"
           "  partition fraction(validate=0.25 test=0.2)"},
      {"", "selection=stepwise(select=cp choose=bic)"}};
  for (const auto& entry : runs) {
    const std::string& prefix = entry.first;
    const std::string& options = entry.second;
    const std::string program = prefix +
                                "proc varsifter data=d seed=5;\n  class g;\n  model y = x1 x2 g "
                                "x3 / " +
                                options + ";\n  performance cpucount=4;\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "srcvpacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("structuredColumns=10", program, data, "srcvstruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, options);
  }
}

// BACKWARD by SBC: every removal trial's criterion is that of scipy's sparse least squares
// on the same design (scripts/gen_manylevels_ref.py), also under the effect coding, whose
// columns span the same space with the intercept.
TEST(StructuredRoad, BackwardRemovalCriteriaMatchSparseLeastSquares) {
  std::map<std::string, double> want;
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/backward.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  for (const std::string coding : {"", " / param=effect"}) {
    const qrxrun::ProgramRun r = structuredcheck::runHooked(
        "structuredColumns=10",
        "proc varsifter data=d;\n  class g" + coding +
            ";\n  model y = g x1 x2 x3 / selection=backward(select=sbc) details=all;\nrun;\n",
        qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/data.csv"), "srbackward");
    ASSERT_EQ(r.status, 0) << r.log;
    structuredcheck::expectCandidateCriteria(r, want, "SBC", coding);
  }
}
