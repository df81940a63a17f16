// CVMETHOD=INDEX folds in BY groups whose index levels are not all held by the rows the fit
// uses, end to end through qrx: the folds are the levels that rows of frequency 1 or more with
// the index present hold, so the CV PRESS of every step is that of the refits which leave
// each such level out (scripts/gen_cv_index_ref.py, tests/data/cv/cvindex_steps.csv), the
// CVDetails table lists those levels, and OUTPUT's _CVINDEX_ numbers them in level order.
// A group whose used rows hold one level only is a named error, with or without BY groups.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using qrxrun::number;
using qrxrun::text;
using qrxrun::Value;

namespace {

std::string dataText() { return qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvindex.csv"); }

qrxrun::ProgramRun runIndex(const std::string& head, const std::string& data,
                            const std::string& tag) {
  return qrxrun::runProgram(
      "proc varsifter data=cvindex;\n" + head +
          "  freq f;\n"
          "  model y = x1 x2 x3 / selection=forward(select=cv) cvmethod=index(k) cvdetails=all;\n"
          "  output out=o;\nrun;\n",
      tag, {{"cvindex.csv", data}}, {"o.csv"});
}

} // namespace

TEST(CvIndexLevels, FoldsAreTheLevelsOfTheUsedRows) {
  const qrxrun::ProgramRun r = runIndex("  by b;\n", dataText(), "cvindexby");
  ASSERT_EQ(r.status, 0) << r.log;
  ASSERT_EQ(r.json["steps"][0]["returnCode"].n, 0) << r.log;

  // CV PRESS of each group's steps against the refits.
  const auto ref = readCsvRows(std::string(QRX_TEST_DATA) + "/cv/cvindex_steps.csv");
  const auto summaries = qrxrun::tablesOf(r, "SelectionSummary");
  ASSERT_EQ(summaries.size(), 2u) << r.log;
  std::map<int, size_t> steps;
  for (size_t i = 1; i < ref.size(); ++i) {
    const int g = std::stoi(ref[i][0]) - 1;
    const size_t s = steps[g]++;
    const Value& t = *summaries[static_cast<size_t>(g)];
    ASSERT_LT(s, t["rows"].items.size()) << "group " << g + 1;
    EXPECT_EQ(text(t, s, "EffectEntered"), ref[i][2]) << "group " << g + 1 << " step " << s;
    const double press = std::stod(ref[i][3]);
    EXPECT_NEAR(number(t, s, "CVPRESS"), press, 1e-9 * press) << "group " << g + 1 << " step " << s;
  }
  for (const auto& [g, n] : steps)
    EXPECT_EQ((*summaries[static_cast<size_t>(g)])["rows"].items.size(), n) << "group " << g + 1;

  // The folds of the CVDetails tables: the used rows' levels alone (the Total row last).
  const auto details = qrxrun::tablesOf(r, "CVDetails");
  ASSERT_GE(details.size(), 2u) << r.log;
  const std::vector<std::vector<double>> levels{{0, 2, 5, 6, 8}, {0, 1, 2, 3, 4}};
  const Value* last[2] = {nullptr, nullptr};
  for (const Value* t : details)
    last[(*t)["rows"].items.size() == 6 && number(*t, 2, "K") == 5 ? 0 : 1] = t;
  for (size_t g = 0; g < 2; ++g) {
    ASSERT_NE(last[g], nullptr) << "group " << g + 1;
    ASSERT_EQ((*last[g])["rows"].items.size(), levels[g].size() + 1) << "group " << g + 1;
    for (size_t f = 0; f < levels[g].size(); ++f)
      EXPECT_EQ(number(*last[g], f, "K"), levels[g][f]) << "group " << g + 1 << " fold " << f;
  }

  // _CVINDEX_: a used row's rank among its group's used levels, 0 for the rows not used.
  const auto rows = qrxrun::csvRows(r.files.at("o.csv"));
  ASSERT_EQ(rows.size(), 29u);
  std::map<std::string, size_t> at;
  for (size_t c = 0; c < rows[0].size(); ++c)
    at[rows[0][c]] = c;
  for (size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    const size_t g = static_cast<size_t>(std::stoi(row[at.at("B")]) - 1);
    const bool used = std::stod(row[at.at("F")]) >= 1 && !row[at.at("K")].empty();
    double fold = 0;
    for (size_t f = 0; used && f < levels[g].size(); ++f)
      if (levels[g][f] == std::stod(row[at.at("K")]))
        fold = static_cast<double>(f + 1);
    EXPECT_EQ(std::stod(row[at.at("_CVINDEX_")]), fold) << "row " << i;
  }
}

// Used rows holding one level only, the others' rows having frequency 0: the error names the
// index variable and the group; with BY groups the other group is still fitted.
TEST(CvIndexLevels, OneUsedLevelIsANamedError) {
  const auto rowsOf = [](int b, const std::vector<std::pair<int, int>>& freqAndLevel) {
    std::string out;
    for (size_t i = 0; i < freqAndLevel.size(); ++i) {
      const int n = static_cast<int>(i);
      out += std::to_string(b) + "," + std::to_string(n) + "," + std::to_string((n * 3) % 5) + "," +
             std::to_string((n * 7) % 4) + "," + std::to_string(2 * n + n % 3) + "," +
             std::to_string(freqAndLevel[i].first) + "," + std::to_string(freqAndLevel[i].second) +
             "\n";
    }
    return out;
  };
  const std::string head = "B,X1,X2,X3,Y,F,K\n";
  const std::string first = rowsOf(1, {{1, 0}, {1, 1}, {1, 2}, {1, 0}, {1, 1}, {1, 2}, {1, 0}});
  const std::string second = rowsOf(2, {{1, 3}, {0, 2}, {1, 3}, {0, 1}, {2, 3}, {0, 0}, {1, 3}});
  for (const bool by : {true, false}) {
    const qrxrun::ProgramRun r = by ? runIndex("  by b;\n", head + first + second, "cvindexoneby")
                                    : runIndex("", head + second, "cvindexone");
    const Value* e = qrxrun::logEntry(r, VsfMsg::CvIndexOneLevel);
    ASSERT_NE(e, nullptr) << r.log;
    EXPECT_EQ((*e)["values"][0].s, "K");
    EXPECT_EQ((*e)["values"][1].s, by ? "the BY group B=2" : "the DATA= data set") << r.log;
    EXPECT_GE(r.json["steps"][0]["returnCode"].n, 108) << r.log;
    EXPECT_FALSE(qrxrun::logged(r, VsfMsg::TrainingRowFoldOutOfRange)) << r.log;
    EXPECT_EQ(qrxrun::tablesOf(r, "SelectionSummary").size(), by ? 1u : 0u) << r.log;
  }
}
