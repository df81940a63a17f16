// Data in units far from 1, through qrx. LAR and LASSO over the diabetes data with the
// response times 1e-9. The path's correlations and step lengths are then some 1e-9 of
// what they are on the data's own scale, and every step is still scikit-learn's lars_path
// knot, scaled (tests/data/lars/lar.csv and lasso.csv from scripts/gen_lars_ref.py): the
// same entries and drops, estimates and intercept times 1e-9, none of the remaining
// candidates taken for tied with the first nor the path for ended. The adaptive LASSO, whose
// weights are the least-squares coefficients and so shrink with the response too, takes on the
// scaled response the path it takes on the data, its estimates times 1e-9 (an exact reference
// by scaling). BACKWARD with BMI times 1e6: every step's candidates for removal are those of
// the data as it is, BMI among them.
#include "programs/qrxrun.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using minijson::Value;

constexpr double kUnit = 1e-9;
const char* const kNames[] = {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"};

// examples/diabetes.csv with its column `column` times `factor`.
std::string scaledDiabetes(size_t column, double factor) {
  std::stringstream in(qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv"));
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  char buf[64];
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string f; std::getline(row, f, ',');)
      fields.push_back(f);
    std::snprintf(buf, sizeof buf, "%.17g", std::stod(fields.at(column)) * factor);
    fields.at(column) = buf;
    for (size_t i = 0; i < fields.size(); ++i)
      out += (i == 0 ? "" : ",") + fields[i];
    out += "\n";
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

TEST(Units, ResponseInSmallUnitsTakesTheScaledPath) {
  std::string program;
  for (const char* method : {"lar", "lasso"})
    program += std::string("proc varsifter data=tiny;\n  model y = age sex bmi bp s1-s6 / "
                           "selection=") +
               method + "(stop=none choose=sbc) details=all;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "pathunits", {{"tiny.csv", scaledDiabetes(10, kUnit)}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  expectKnots(run, 0, "lar");
  expectKnots(run, 1, "lasso");
}

TEST(Units, AdaptiveLassoOnAResponseInSmallUnitsTakesTheScaledPath) {
  std::string program;
  for (const char* data : {"plain", "tiny"})
    program += std::string("proc varsifter data=") + data +
               ";\n  model y = age sex bmi bp s1-s6 / selection=lasso(adaptive stop=none) "
               "details=steps;\nrun;\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, "adaptiveunits",
      {{"plain.csv", scaledDiabetes(10, 1.0)}, {"tiny.csv", scaledDiabetes(10, kUnit)}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  const Value& plainOut = run.json["steps"][0]["output"];
  const Value& tinyOut = run.json["steps"][1]["output"];
  const Value* plainSummary = qrxrun::findTable(plainOut, "SelectionSummary");
  const Value* tinySummary = qrxrun::findTable(tinyOut, "SelectionSummary");
  ASSERT_NE(plainSummary, nullptr) << run.log;
  ASSERT_NE(tinySummary, nullptr) << run.log;
  const size_t steps = (*plainSummary)["rows"].items.size();
  ASSERT_EQ((*tinySummary)["rows"].items.size(), steps) << run.log;
  for (size_t k = 0; k < steps; ++k)
    for (const char* column : {"EffectEntered", "EffectRemoved"})
      EXPECT_EQ(qrxrun::text(*tinySummary, k, column), qrxrun::text(*plainSummary, k, column))
          << "step " << k;
  std::vector<const Value*> plain, tiny;
  qrxrun::collectTables(plainOut, "ParameterEstimates", plain);
  qrxrun::collectTables(tinyOut, "ParameterEstimates", tiny);
  ASSERT_EQ(tiny.size(), plain.size());
  for (size_t k = 0; k < plain.size(); ++k) {
    const size_t rows = (*plain[k])["rows"].items.size();
    ASSERT_EQ((*tiny[k])["rows"].items.size(), rows) << "step " << k;
    double largest = 0.0;
    for (size_t i = 0; i < rows; ++i)
      largest = std::max(largest, std::fabs(qrxrun::number(*plain[k], i, "Estimate")));
    for (size_t i = 0; i < rows; ++i) {
      EXPECT_EQ(qrxrun::text(*tiny[k], i, "Parameter"), qrxrun::text(*plain[k], i, "Parameter"));
      EXPECT_NEAR(qrxrun::number(*tiny[k], i, "Estimate"),
                  qrxrun::number(*plain[k], i, "Estimate") * kUnit, 1e-8 * largest * kUnit)
          << "step " << k << " " << qrxrun::text(*plain[k], i, "Parameter");
    }
  }
}

TEST(Units, ColumnInLargeUnitsKeepsItsPlaceAmongTheRemovalCandidates) {
  std::string program;
  for (const char* data : {"plain", "big"})
    program += std::string("proc varsifter data=") + data +
               ";\n  model y = age sex bmi bp s1-s6 / selection=backward(select=sbc) "
               "details=all;\nrun;\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, "units",
      {{"plain.csv", scaledDiabetes(2, 1.0)}, {"big.csv", scaledDiabetes(2, 1e6)}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  std::vector<const Value*> plain, big;
  qrxrun::collectTables(run.json["steps"][0]["output"], "Candidates", plain);
  qrxrun::collectTables(run.json["steps"][1]["output"], "Candidates", big);
  ASSERT_FALSE(plain.empty()) << run.log;
  ASSERT_EQ(plain.size(), big.size());
  for (size_t s = 0; s < plain.size(); ++s) {
    ASSERT_EQ((*plain[s])["rows"].items.size(), (*big[s])["rows"].items.size()) << "step " << s;
    for (size_t i = 0; i < (*plain[s])["rows"].items.size(); ++i) {
      EXPECT_EQ(qrxrun::text(*plain[s], i, "Effect"), qrxrun::text(*big[s], i, "Effect"));
      const double want = qrxrun::number(*plain[s], i, "SBC");
      EXPECT_NEAR(qrxrun::number(*big[s], i, "SBC"), want, 1e-9 * std::fabs(want));
    }
  }
}
