// The structured road (a many-level CLASS effect kept as its diagonal and cross block, never
// as the packed triangle of all columns) on each selection method it serves, through qrx:
// every table is that of the packed road on the same data within 1e-9, with the same
// selections (also by cross validation), and the removal criteria match an independent
// sparse least-squares selection.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>

namespace {

using minijson::Value;

// 1,000 levels on 3,000 rows: y = the level's mean + 3 x1 + noise; x2 and x3 are noise, z is
// a value of the level (inside the effect's column space, so that the packed road and the
// structured one must agree on which columns are aliased).
std::string wideData() {
  constexpr int kLevels = 1000, kRows = 3000;
  std::mt19937_64 gen(45);
  std::normal_distribution<double> n;
  std::vector<double> mean(kLevels), value(kLevels);
  for (int l = 0; l < kLevels; ++l) {
    mean[l] = n(gen);
    value[l] = n(gen);
  }
  std::string csv = "y,g,x1,x2,x3,z\n";
  char buf[160];
  for (int r = 0; r < kRows; ++r) {
    const int l = r < kLevels ? r : static_cast<int>(gen() % kLevels);
    const double x1 = n(gen), x2 = n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%04d,%.9g,%.9g,%.9g,%.9g\n", mean[l] + 3.0 * x1 + n(gen),
                  l, x1, x2, x3, value[l]);
    csv += buf;
  }
  return csv;
}

// The run of `model` / `options` on the wide data, on the structured road (taken from 1,000
// columns) or, with the test switch raising that number, on the packed road.
qrxrun::ProgramRun runWide(const std::string& data, const std::string& model,
                           const std::string& options, bool packedRoad, int cpus,
                           const std::string& tag) {
  if (packedRoad)
    ::setenv("QRX_TEST_HOOKS", "structuredColumns=1000000", 1);
  qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d seed=3;\n  class g;\n  model " + model + " / " + options +
          ";\n  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n",
      tag, {{"d.csv", data}});
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

// Runs both roads and expects the same output within 1e-9, and not bit for bit (which
// would mean the structured road was not taken).
void expectRoadsAgree(const std::string& data, const std::string& model, const std::string& options,
                      int cpus) {
  const qrxrun::ProgramRun packed = runWide(data, model, options, true, cpus, "srpacked");
  const qrxrun::ProgramRun structured = runWide(data, model, options, false, cpus, "srstruct");
  structuredcheck::expectPackedRoadsTables(structured, packed, model + " / " + options);
}

} // namespace

// BACKWARD (removing the effect, and a small column on which some of its columns depend)
// and STEPWISE, on one and on eight threads.
TEST(StructuredRoad, BackwardAndStepwiseGiveThePackedRoadsTables) {
  const std::string data = wideData();
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
    auto run = [&](const char* hooks, const char* tag) {
      ::setenv("QRX_TEST_HOOKS", hooks, 1);
      qrxrun::ProgramRun r = qrxrun::runProgram(
          prefix + "proc varsifter data=d seed=5;\n  class g;\n  model y = x1 x2 g x3 / " +
              options + ";\n  performance cpucount=4;\nrun;\n",
          tag, {{"d.csv", data}});
      ::unsetenv("QRX_TEST_HOOKS");
      return r;
    };
    const qrxrun::ProgramRun packed = run("structuredColumns=1000000", "srcvpacked");
    const qrxrun::ProgramRun structured = run("structuredColumns=10", "srcvstruct");
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
    ::setenv("QRX_TEST_HOOKS", "structuredColumns=10", 1);
    const qrxrun::ProgramRun r = qrxrun::runProgram(
        "proc varsifter data=d;\n  class g" + coding +
            ";\n  model y = g x1 x2 x3 / selection=backward(select=sbc) details=all;\nrun;\n",
        "srbackward",
        {{"d.csv", qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/data.csv")}});
    ::unsetenv("QRX_TEST_HOOKS");
    ASSERT_EQ(r.status, 0) << r.log;
    structuredcheck::expectCandidateCriteria(r, want, "SBC", coding);
  }
}
