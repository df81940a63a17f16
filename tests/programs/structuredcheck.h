// Checks shared by the tests of the structured road: a run on that road against the same
// program on the packed triangle, and every step's candidate criteria against a reference.
#pragma once

#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace structuredcheck {

// `levels` levels of g on `rows` rows (the first `levels` rows take every level in turn):
// y = the level's mean + 3 x1 + noise; x2 and x3 are noise, z is a value of the level (inside
// the effect's column space, so that the packed road and the structured one must agree on
// which columns are aliased).
inline std::string levelsData(int levels, int rows, uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> n;
  std::vector<double> mean(static_cast<size_t>(levels)), value(static_cast<size_t>(levels));
  for (int l = 0; l < levels; ++l) {
    mean[size_t(l)] = n(gen);
    value[size_t(l)] = n(gen);
  }
  std::string csv = "y,g,x1,x2,x3,z\n";
  char buf[160];
  for (int r = 0; r < rows; ++r) {
    const int l = r < levels ? r : static_cast<int>(gen() % uint64_t(levels));
    const double x1 = n(gen), x2 = n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%04d,%.9g,%.9g,%.9g,%.9g\n",
                  mean[size_t(l)] + 3.0 * x1 + n(gen), l, x1, x2, x3, value[size_t(l)]);
    csv += buf;
  }
  return csv;
}

// The run of `program` on d.csv = `data` with the test hooks `hooks` (none when empty),
// reading back the files `readBack` writes.
inline qrxrun::ProgramRun runHooked(const std::string& hooks, const std::string& program,
                                    const std::string& data, const std::string& tag,
                                    const std::vector<std::string>& readBack = {}) {
  if (!hooks.empty())
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
  qrxrun::ProgramRun r = qrxrun::runProgram(program, tag, {{"d.csv", data}}, readBack);
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

// Both runs succeed and every table agrees within `relative` (1e-9) or `absolute` (1e-8), but
// not bit for bit (the same bits would mean the structured road was not taken) unless
// `sameBitsAllowed`: a run whose steps never enter the many-level effect may form every
// printed number from the same unshifted sums on both roads.
inline void expectPackedRoadsTables(const qrxrun::ProgramRun& structured,
                                    const qrxrun::ProgramRun& packed, const std::string& what,
                                    double relative = 1e-9, double absolute = 1e-8,
                                    bool sameBitsAllowed = false) {
  ASSERT_EQ(packed.status, 0) << packed.log;
  ASSERT_EQ(structured.status, 0) << structured.log;
  const minijson::Value& a = structured.json["steps"][0]["output"];
  const minijson::Value& b = packed.json["steps"][0]["output"];
  ASSERT_NE(qrxrun::findTable(a, "ParameterEstimates"), nullptr) << structured.log;
  EXPECT_EQ(qrxrun::firstDifference(a, b, "", relative, absolute), "") << what;
  if (!sameBitsAllowed) {
    EXPECT_NE(qrxrun::dumpOutput(a), qrxrun::dumpOutput(b)) << what;
  }
}

// The `column` of every step's candidates by "step effect".
inline std::map<std::string, double> candidateCriteria(const qrxrun::ProgramRun& r,
                                                       const std::string& column) {
  std::map<std::string, double> out;
  int step = 1;
  for (const minijson::Value* t : qrxrun::tablesOf(r, "Candidates")) {
    for (size_t i = 0; i < (*t)["rows"].items.size(); ++i)
      out[std::to_string(step) + " " + qrxrun::text(*t, i, "Effect")] =
          qrxrun::number(*t, i, column);
    ++step;
  }
  return out;
}

// Every step's candidates have the reference's `column` (keyed "step effect") within 1e-9,
// and no more nor fewer candidates than the reference.
inline void expectCandidateCriteria(const qrxrun::ProgramRun& r,
                                    const std::map<std::string, double>& want,
                                    const std::string& column, const std::string& what) {
  const std::map<std::string, double> got = candidateCriteria(r, column);
  EXPECT_EQ(got.size(), want.size()) << what;
  for (const auto& [key, v] : got) {
    ASSERT_EQ(want.count(key), 1u) << key << what;
    EXPECT_NEAR(v, want.at(key), 1e-9 * std::fabs(v)) << key << what;
  }
}

} // namespace structuredcheck
