// Every example program runs as the README tells a user to run it (from the repository root)
// and shows the tables its comment points at; the scoring example's Python script gives the
// SCORE statement's predictions.
#include "programs/clifixture.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Example {
  const char* name;
  std::vector<const char*> tables; // tables (or factoids) the example's comment points at
};

const Example kExamples[] = {
    {"diabetes", {"SelectionSummary", "ParameterEstimates"}},
    {"lasso_cv", {"SelectionSummary", "ParameterEstimates"}},
    {"elasticnet", {"SelectionSummary", "ParameterEstimates", "ElasticNetTuneL2"}},
    {"adaptive_lasso", {"SelectionSummary", "ParameterEstimates"}},
    {"grouplasso_class", {"SelectionSummary", "ParameterEstimates"}},
    {"external_cv", {"CVExternal", "ParameterEstimates"}},
    {"spline_polynomial", {"SelectionSummary", "ParameterEstimates"}},
    {"partition_roles", {"NObs", "SelectionSummary"}},
    {"model_average", {"EffectSelectPct", "ModelSelectFreq"}},
    {"score_store_code", {"ScoreInfo", "ParameterEstimates"}},
};

} // namespace

TEST(Examples, EachRunsAndShowsItsTables) {
  namespace fs = std::filesystem;
  const fs::path json = fs::temp_directory_path() /
                        ("qrx_examples_" + std::to_string(static_cast<long>(::getpid())) + ".json");
  for (const Example& e : kExamples) {
    const clitest::Outcome r = clitest::shell(
        "cd '" + std::string(QRX_SOURCE_DIR) + "' && ASAN_OPTIONS=detect_leaks=0 '" + QRX_BINARY +
        "' --json '" + json.string() + "' examples/" + e.name + ".qrx > /dev/null");
    EXPECT_EQ(r.status, 0) << e.name << "\n" << r.out;
    qrxrun::ProgramRun run;
    std::string error;
    ASSERT_TRUE(minijson::Parser(qrxrun::readFile(json)).parse(&run.json, &error)) << e.name;
    for (const char* table : e.tables)
      EXPECT_FALSE(qrxrun::tablesOf(run, table).empty()) << e.name << ": " << table;
  }
  fs::remove(json);
  // The scoring code written by the last example gives the SCORE statement's predictions.
  const clitest::Outcome py = clitest::shell("cd '" + std::string(QRX_SOURCE_DIR) +
                                             "' && /usr/bin/python3 examples/score_houses.py");
  EXPECT_EQ(py.status, 0) << py.out;
  size_t lines = 0;
  for (size_t at = py.out.find("code:"); at != std::string::npos;
       at = py.out.find("code:", at + 1)) {
    const size_t score = py.out.find("SCORE:", at);
    ASSERT_NE(score, std::string::npos) << py.out;
    EXPECT_DOUBLE_EQ(std::stod(py.out.substr(at + 5)), std::stod(py.out.substr(score + 6)))
        << py.out;
    ++lines;
  }
  EXPECT_EQ(lines, 5u) << py.out;
}
