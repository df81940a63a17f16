// LAR and LASSO over a response measured in small units, through qrx: the diabetes data with
// the response times 1e-9. The path's correlations and step lengths are then some 1e-9 of
// what they are on the data's own scale, and every step is still scikit-learn's lars_path
// knot, scaled (tests/data/lars/lar.csv and lasso.csv from scripts/gen_lars_ref.py): the
// same entries and drops, estimates and intercept times 1e-9, none of the remaining
// candidates taken for tied with the first nor the path for ended.
#include "programs/qrxrun.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using minijson::Value;

constexpr double kUnit = 1e-9;
const char* const kNames[] = {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"};

// examples/diabetes.csv with its last column, the response, times kUnit.
std::string tinyDiabetes() {
  std::stringstream in(qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv"));
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  char buf[64];
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    const size_t comma = line.find_last_of(',');
    std::snprintf(buf, sizeof buf, "%.17g", std::stod(line.substr(comma + 1)) * kUnit);
    out += line.substr(0, comma + 1) + buf + "\n";
  }
  return out;
}

// Every step's estimates against the reference knot of the same number, scaled by kUnit.
void expectKnots(const qrxrun::ProgramRun& run, int step, const std::string& reference) {
  const std::vector<std::vector<double>> knots = readReferenceRows("lars/" + reference + ".csv");
  const Value* summary = qrxrun::findTable(run.json["steps"][step]["output"], "SelectionSummary");
  ASSERT_NE(summary, nullptr) << run.log;
  ASSERT_EQ((*summary)["rows"].items.size(), knots.size()) << reference;
  std::vector<const Value*> estimates;
  qrxrun::collectTables(run.json["steps"][step]["output"], "ParameterEstimates", estimates);
  ASSERT_GE(estimates.size(), knots.size()) << reference;
  for (size_t k = 0; k < knots.size(); ++k) {
    const Value& t = *estimates[k];
    double largest = std::fabs(knots[k][26]);
    for (int j = 0; j < 10; ++j)
      largest = std::max(largest, std::fabs(knots[k][16 + j]));
    for (size_t i = 0; i < t["rows"].items.size(); ++i) {
      const std::string name = qrxrun::text(t, i, "Parameter");
      double want = knots[k][26];
      for (int j = 0; j < 10; ++j)
        if (name == kNames[j])
          want = knots[k][16 + j];
      EXPECT_NEAR(qrxrun::number(t, i, "Estimate"), want * kUnit, 1e-8 * largest * kUnit)
          << reference << " step " << k << " " << name;
    }
  }
}

} // namespace

TEST(PathUnits, ResponseInSmallUnitsTakesTheScaledPath) {
  std::string program;
  for (const char* method : {"lar", "lasso"})
    program += std::string("proc varsifter data=tiny;\n  model y = age sex bmi bp s1-s6 / "
                           "selection=") +
               method + "(stop=none choose=sbc) details=all;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "pathunits", {{"tiny.csv", tinyDiabetes()}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  expectKnots(run, 0, "lar");
  expectKnots(run, 1, "lasso");
}
