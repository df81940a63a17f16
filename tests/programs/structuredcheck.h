// Checks shared by the tests of the structured road: a run on that road against the same
// program on the packed triangle, and every step's candidate criteria against a reference.
#pragma once

#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace structuredcheck {

// Both runs succeed and every table agrees within 1e-9, but not bit for bit (the same bits
// would mean the structured road was not taken).
inline void expectPackedRoadsTables(const qrxrun::ProgramRun& structured,
                                    const qrxrun::ProgramRun& packed, const std::string& what) {
  ASSERT_EQ(packed.status, 0) << packed.log;
  ASSERT_EQ(structured.status, 0) << structured.log;
  const minijson::Value& a = structured.json["steps"][0]["output"];
  const minijson::Value& b = packed.json["steps"][0]["output"];
  ASSERT_NE(qrxrun::findTable(a, "ParameterEstimates"), nullptr) << structured.log;
  EXPECT_EQ(qrxrun::firstDifference(a, b, ""), "") << what;
  EXPECT_NE(qrxrun::dumpOutput(a), qrxrun::dumpOutput(b)) << what;
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
