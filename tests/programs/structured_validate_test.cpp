// The structured road under the criteria that read validation and test rows: selecting,
// stopping and choosing by the validation rows' error, whose every trial enters the
// many-level effect and predicts the held-out rows from its state. On 1,000 levels every
// table (each step's and each candidate's validation and test ASE among them) is that of the
// packed road within 1e-9, and not bit for bit (which would mean the structured road was not
// taken).
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// FORWARD by the validation error (CI runs this one); with QRX_LONG_TESTS (the label "long")
// also STEPWISE stopping and choosing by it with test rows, and BACKWARD, whose removal trials
// take the effect out of its state.
TEST(StructuredValidate, ValidationCriteriaGiveThePackedRoadsTables) {
  const std::string data = structuredcheck::levelsData(1000, 3000, 71);
  const std::vector<std::string> runs = {
      "y = x2 g x1 z x3 / selection=forward(select=validate) details=all;\n"
      "  partition fraction(validate=0.3)",
      "y = x1 z g x2 x3 / selection=stepwise(select=validate stop=validate choose=validate) "
      "details=all;\n  partition fraction(validate=0.3 test=0.2)",
      "y = x1 x2 g z x3 / selection=backward(select=validate choose=validate);\n"
      "  partition fraction(validate=0.3 test=0.2)"};
  const size_t count = std::getenv("QRX_LONG_TESTS") != nullptr ? runs.size() : 1;
  for (size_t i = 0; i < count; ++i) {
    const std::string program = "proc varsifter data=d seed=9;\n  class g;\n  model " + runs[i] +
                                ";\n  performance cpucount=4;\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "svpacked");
    const qrxrun::ProgramRun structured = structuredcheck::runHooked("", program, data, "svstruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, runs[i]);
    const minijson::Value* selected =
        qrxrun::findTable(structured.json["steps"][0]["output"], "SelectedEffects");
    ASSERT_NE(selected, nullptr);
    // g selected: its levels' estimates are among the tables compared.
    EXPECT_NE((qrxrun::text(*selected, 0, "Effects") + " ").find(" g "), std::string::npos)
        << runs[i];
  }
}

// FORWARD by the validation rows' error on the structured road, with roles read from a
// variable: every candidate's trial validation ASE and the selected model's test ASE are
// those of scipy's sparse least squares fitted on the training rows alone
// (scripts/gen_manylevels_validate_ref.py).
TEST(StructuredValidate, TrialValidationErrorsMatchSparseLeastSquares) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/manylevels/";
  std::map<std::string, double> want;
  double testAse = 0.0;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "validate.csv"))) {
    if (row[0] == "test")
      testAse = std::stod(row[2]);
    else if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  }
  const qrxrun::ProgramRun r =
      structuredcheck::runHooked("structuredColumns=10",
                                 "proc varsifter data=d;\n  class g;\n  model y = g x1 x2 x3 / "
                                 "selection=forward(select=validate) details=all;\n"
                                 "  partition rolevar=r(train='T' validate='V' test='S');\nrun;\n",
                                 synthdata::manyLevelsRolesCsv(), "svroles");
  ASSERT_EQ(r.status, 0) << r.log;
  structuredcheck::expectCandidateCriteria(r, want, "ValidateASE", "");
  const minijson::Value* summary =
      qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(summary, nullptr);
  const size_t last = (*summary)["rows"].items.size() - 1;
  EXPECT_NEAR(qrxrun::number(*summary, last, "TestASE"), testAse, 1e-9 * testAse);
}
