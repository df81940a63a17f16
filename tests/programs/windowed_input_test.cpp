// Inputs whose values exceed the memory the host may hold for them are read window by window
// (the CSVHOLD host option forces that road on small files here): the same listing, log,
// messages with their lines and output data sets as when the file is held whole, through
// BY groups, CLASS variables, several passes over DATA= and an OUTPUT data set; the fits of
// the windowed road against least squares computed here.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qrxrun::ProgramRun;

// y = 1 + 2 x1 - x2 + 0.5 x3 + [c = A] - [k = lo] + noise in BY groups g = 1, 2, 3.
struct Generated {
  std::string csv;
  std::vector<std::vector<double>> x[3]; // per group: 1, x1, x2, x3
  std::vector<double> y[3];
};

Generated generate(int rows) {
  Generated d;
  std::ostringstream s;
  s.precision(17);
  s << "g,c,k,x1,x2,x3,y\n";
  for (int i = 0; i < rows; ++i) {
    const int g = i * 3 / rows;
    const double x1 = std::sin(1.3 * i), x2 = std::cos(0.7 * i), x3 = std::sin(0.3 * i + 1);
    const char c = "ABC"[i % 3];
    const bool lo = i % 4 < 2;
    const double y = 1 + 2 * x1 - x2 + 0.5 * x3 + (c == 'A') - lo + 0.2 * std::sin(5.1 * i);
    s << g + 1 << "," << c << "," << (lo ? "lo" : "\"hi, high\"") << "," << x1 << "," << x2 << ","
      << x3 << "," << y << "\n";
    d.x[g].push_back({1.0, x1, x2, x3});
    d.y[g].push_back(y);
  }
  d.csv = s.str();
  return d;
}

ProgramRun runBoth(const std::string& program, const std::string& data, bool windowed,
                   const std::vector<std::string>& readBack = {}) {
  // on the first line, so that both programs have the same line numbers
  const std::string options = windowed ? "options csvhold=1K; " : "";
  return qrxrun::runProgram(options + program, "windowed", {{"d.csv", data}}, readBack);
}

} // namespace

// Selection with BY groups, CLASS variables and an OUTPUT data set, then a LASSO step on the
// same file: the windowed road gives the listing, log and output file of the whole road.
TEST(WindowedInput, SelectionWithByClassAndOutputMatchesTheWholeRoad) {
  const Generated d = generate(600);
  const std::string program = "proc varsifter data=d;\n by g;\n class c k;\n"
                              "  model y = c k x1 x2 x3 / selection=forward(select=sbc);\n"
                              "  output out=pred p=p r=r;\nrun;\n"
                              "proc varsifter data=d;\n class c k;\n"
                              "  model y = c k x1 x2 x3 / selection=lasso(choose=sbc);\nrun;\n";
  const ProgramRun whole = runBoth(program, d.csv, false, {"pred.csv"});
  const ProgramRun win = runBoth(program, d.csv, true, {"pred.csv"});
  ASSERT_EQ(whole.status, 0) << whole.log;
  ASSERT_EQ(win.status, 0) << win.log;
  EXPECT_EQ(win.log, whole.log);
  ASSERT_EQ(whole.files.count("pred.csv"), 1u);
  ASSERT_EQ(win.files.count("pred.csv"), 1u);
  EXPECT_EQ(win.files.at("pred.csv"), whole.files.at("pred.csv"));
  // the output holds every observation of the input, with its predictions
  EXPECT_EQ(std::count(win.files.at("pred.csv").begin(), win.files.at("pred.csv").end(), '\n'),
            601);
  ASSERT_EQ(qrxrun::tablesOf(win, "ParameterEstimates").size(), 3u); // one per BY group
}

// A fit without selection in each BY group on the windowed road equals least squares on the
// group's rows.
TEST(WindowedInput, ByGroupFitsEqualLeastSquares) {
  const Generated d = generate(450);
  const ProgramRun r = runBoth(
      "proc varsifter data=d;\n by g;\n model y = x1 x2 x3 / selection=none;\nrun;\n", d.csv, true);
  ASSERT_EQ(r.status, 0) << r.log;
  const auto tables = qrxrun::tablesOf(r, "ParameterEstimates");
  ASSERT_EQ(tables.size(), 3u);
  for (size_t g = 0; g < 3; ++g) {
    const std::vector<double> b =
        qrxrun::leastSquares(d.x[g], d.y[g], std::vector<double>(d.y[g].size(), 1.0));
    const auto& t = *tables[g];
    ASSERT_EQ(t["rows"].items.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
      EXPECT_NEAR(qrxrun::number(t, i, "Estimate"), b[i], 1e-9 * (1 + std::fabs(b[i])))
          << "group " << g + 1 << " row " << i;
  }
}

// The messages that name a line come out the same on the windowed road: a number beyond the
// largest double in the last row, and BY values out of order.
TEST(WindowedInput, MessagesNameTheSameLines) {
  Generated d = generate(300);
  const std::string fit = "proc varsifter data=d;\n model y = x1 x2 / selection=none;\nrun;\n";
  const std::string bad = d.csv + "3,A,lo,1e400,1,1,1\n";
  const ProgramRun wholeBad = runBoth(fit, bad, false), winBad = runBoth(fit, bad, true);
  EXPECT_EQ(winBad.status, 2);
  EXPECT_TRUE(qrxrun::logged(winBad, qrxhost::DataMsg::FileLineError)) << winBad.log;
  EXPECT_NE(winBad.log.find("line 302"), std::string::npos) << winBad.log;
  EXPECT_EQ(winBad.log, wholeBad.log);

  const std::string unsorted = d.csv + "1,A,lo,1,1,1,1\n"; // group 1 after group 3
  const std::string byFit = "proc varsifter data=d;\n by g;\n model y = x1 x2;\nrun;\n";
  const ProgramRun wholeBy = runBoth(byFit, unsorted, false),
                   winBy = runBoth(byFit, unsorted, true);
  EXPECT_EQ(winBy.status, 2);
  EXPECT_TRUE(qrxrun::logged(winBy, qrxhost::DataMsg::NotSortedByGroups)) << winBy.log;
  EXPECT_NE(winBy.log.find("301"), std::string::npos) << winBy.log;
  EXPECT_NE(winBy.log.find("302"), std::string::npos) << winBy.log;
  EXPECT_EQ(winBy.log, wholeBy.log);
}

// The notes on a column come out the same on the windowed road: a column without values, and
// the line of the first text in a response of numbers.
TEST(WindowedInput, ColumnNotesAreTheSame) {
  const Generated d = generate(300);
  std::string data = "g,c,k,x1,x2,x3,y,e\n";
  std::istringstream rows(d.csv.substr(d.csv.find('\n') + 1));
  int line = 1;
  for (std::string row; std::getline(rows, row);)
    data += (++line == 250 ? row.substr(0, row.rfind(',')) + ",abc" : row) + ",\n";
  const std::string fit = "proc varsifter data=d;\n model y = x1 e / selection=none;\nrun;\n";
  const ProgramRun whole = runBoth(fit, data, false), win = runBoth(fit, data, true);
  EXPECT_EQ(win.status, 2);
  EXPECT_TRUE(qrxrun::logged(win, qrxhost::DataMsg::VariableAllMissing)) << win.log;
  EXPECT_TRUE(qrxrun::logged(win, qrxhost::DataMsg::TextAmongNumbers)) << win.log;
  EXPECT_NE(win.log.find("line 250"), std::string::npos) << win.log;
  EXPECT_EQ(win.log, whole.log);
}

// A note quotes a bounded prefix of a long value, on either road: a text of a megabyte among
// numbers is named by its first 64 bytes, not copied whole into the log.
TEST(WindowedInput, NotesQuoteABoundedPrefixOfAValue) {
  const Generated d = generate(300);
  std::string data = "g,c,k,x1,x2,x3,y,e\n";
  std::istringstream rows(d.csv.substr(d.csv.find('\n') + 1));
  std::string text = "b";
  text += std::string(62, 'a');
  text += "\xC3\xA9";
  text += std::string(1 << 20, 'a');
  int line = 1;
  for (std::string row; std::getline(rows, row);)
    data += (++line == 250 ? row.substr(0, row.rfind(',')) + "," + text : row) + ",\n";
  const std::string fit = "proc varsifter data=d;\n model y = x1 e / selection=none;\nrun;\n";
  const ProgramRun whole = runBoth(fit, data, false), win = runBoth(fit, data, true);
  const std::string head = win.log.substr(0, 4096);
  ASSERT_LT(win.log.size(), size_t{4096}) << head;
  EXPECT_TRUE(qrxrun::logged(win, qrxhost::DataMsg::TextAmongNumbers)) << win.log;
  // the cut falls inside the two-byte letter, and so before it
  EXPECT_NE(win.log.find("\"b" + std::string(62, 'a') + "...\""), std::string::npos) << win.log;
  EXPECT_EQ(win.log, whole.log.substr(0, 4096));
}
