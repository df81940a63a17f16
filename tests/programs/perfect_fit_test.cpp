// Perfect fits and tiny error variances, through qrx: every step of the selection summary
// shows the least-squares error SS of its columns (mpmath's, tests/data/perfectfit from
// scripts/gen_perfect_fit_ref.py), a step whose columns fit the response exactly shows 0
// in the summary and in the selected model's analysis of variance alike, and a full model
// whose error variance is far below 1 in absolute terms gives CP its variance.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/perfectfit/";

struct Reference {
  double sse = 0, total = 0, n = 0;
  double press = 0; // NaN where a row has a leverage of 1
  // Whether the columns fit the response exactly (an error SS of 0 at 60 digits).
  bool exact() const { return sse < 1e-40 * total; }
};

// The references by "data group intercept columns".
const std::map<std::string, Reference>& references() {
  static const std::map<std::string, Reference> refs = [] {
    std::map<std::string, Reference> r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "ref.csv"));
    for (size_t i = 1; i < rows.size(); ++i)
      r[rows[i][0] + " " + rows[i][1] + " " + rows[i][2] + " " + rows[i][3]] = {
          std::stod(rows[i][4]), std::stod(rows[i][5]), std::stod(rows[i][6]),
          rows[i][7].empty() ? std::nan("") : std::stod(rows[i][7])};
    return r;
  }();
  return refs;
}

struct Program {
  std::string data, group, body;
  std::vector<std::string> candidates, start;
  bool noint = false;
};

std::string key(const Program& p, const std::set<std::string>& in) {
  std::string s = p.data + " " + p.group + " " + (p.noint ? "0 " : "1 ");
  std::string columns;
  for (const std::string& c : p.candidates)
    if (in.count(c) != 0)
      columns += (columns.empty() ? "" : " ") + c;
  return s + columns;
}

// Each summary row's ASE against its columns' reference error SS (exactly 0 for an exact
// fit), and the rows' CP where shown from the full model's reference variance. Returns the
// reference of the last row.
Reference expectSummary(const Value& output, const Program& p, int group) {
  const Value* s = qrxrun::findTable(output, "SelectionSummary", group);
  if (s == nullptr) {
    ADD_FAILURE() << p.body << ": no selection summary";
    return {};
  }
  std::set<std::string> in(p.start.begin(), p.start.end());
  const Reference full = references().at(key(p, {p.candidates.begin(), p.candidates.end()}));
  const double fullMse =
      full.sse / (full.n - static_cast<double>(p.candidates.size()) - (p.noint ? 0 : 1));
  Reference ref;
  for (size_t i = 0; i < (*s)["rows"].items.size(); ++i) {
    in.insert(qrxrun::text(*s, i, "EffectEntered"));
    in.erase(qrxrun::text(*s, i, "EffectRemoved"));
    ref = references().at(key(p, in));
    const double ase = qrxrun::number(*s, i, "ASE");
    const std::string where = p.body + " step " + std::to_string(i);
    if (ref.exact()) {
      EXPECT_EQ(ase, 0.0) << where;
      EXPECT_TRUE(std::isnan(qrxrun::number(*s, i, "AIC"))) << where; // -Infinity
    } else {
      EXPECT_NEAR(ase * ref.n, ref.sse, 1e-9 * ref.total) << where;
    }
    const double press = qrxrun::number(*s, i, "PRESS");
    if (!std::isnan(press) && !std::isnan(ref.press) && !ref.exact()) {
      EXPECT_NEAR(press, ref.press, 1e-9 * ref.press) << where;
    }
    const double cp = qrxrun::number(*s, i, "CP");
    if (!std::isnan(cp)) {
      const double parms = static_cast<double>(in.size()) - (in.count("") != 0 ? 1 : 0) -
                           (in.count("Intercept") != 0 ? 1 : 0) + (p.noint ? 0 : 1);
      const double want = ref.sse / fullMse - ref.n + 2 * parms;
      EXPECT_NEAR(cp, want, 1e-8 * std::fabs(want)) << where;
    }
  }
  return ref;
}

// Runs the programs over the data sets and checks each one's summary and selected model.
void expectPrograms(const std::vector<Program>& programs, const std::string& tag) {
  std::string text;
  for (const Program& p : programs)
    text += "proc varsifter data=" + p.body + ";\nrun;\n";
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* data : {"sat", "nsat", "tiny"})
    files.emplace_back(std::string(data) + ".csv", qrxrun::readFile(kDir + data + ".csv"));
  const qrxrun::ProgramRun run = qrxrun::runProgram(text, tag, files);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), programs.size()) << run.log;
  for (size_t i = 0; i < programs.size(); ++i) {
    const Value& output = run.json["steps"][i]["output"];
    const Program& p = programs[i];
    const int group = p.group == "0" ? 0 : std::stoi(p.group) - 1;
    const Reference last = expectSummary(output, p, group);
    // The selected model is the last step: its analysis of variance takes the same error SS.
    const Value* anova = qrxrun::findTable(output, "ANOVA", group);
    ASSERT_NE(anova, nullptr) << p.body;
    const double sse = qrxrun::number(*anova, 1, "SS");
    if (last.exact())
      EXPECT_EQ(sse, 0.0) << p.body;
    else
      EXPECT_NEAR(sse, last.sse, 1e-9 * last.total) << p.body;
  }
}

} // namespace

// An intercept and four columns over a BY group of five rows (no selection; the second
// group an ordinary fit), and a NOINT FORWARD whose fifth column fits five rows exactly:
// the exact fits show an error SS of 0 in the summary and the analysis of variance alike.
TEST(PerfectFit, SummaryAndTablesShowOneErrorSS) {
  const std::vector<std::string> four = {"x1", "x2", "x3", "x4"};
  const std::string sat = "sat; by g; model y = x1-x4 / selection=none stats=(aic sbc ase)";
  const std::vector<Program> programs = {
      {"sat", "1", sat, four, {}},
      {"sat", "2", sat, four, {}},
      {"nsat",
       "0",
       "nsat; model y = x1-x5 / selection=forward(select=sbc stop=none) stats=(aic sbc ase) "
       "noint",
       {"x1", "x2", "x3", "x4", "x5"},
       {},
       true},
  };
  expectPrograms(programs, "perfectfit");
}

// BACKWARD by CP over a response of scale 1e-8, with and without an intercept: the full
// model's error variance (about 1e-17) is no zero, and every step's CP and PRESS (about
// 1e-15) are the reference's.
TEST(PerfectFit, TinyResponseKeepsItsFullModelVariance) {
  const std::vector<std::string> three = {"x1", "x2", "x3"};
  const std::string body =
      "tiny; model y = x1-x3 / selection=backward(select=cp stop=none) stats=(aic ase cp press)";
  expectPrograms(
      {{"tiny", "0", body, three, three}, {"tiny", "0", body + " noint", three, three, true}},
      "perfectfittiny");
}
