// Data-set options in parentheses after a data-set name, end to end: a step reading
// diabetes(keep=... / drop=... / rename=... / firstobs= obs= / where=...) gives the same
// output as the same step on a CSV the test cuts by hand; OUTPUT OUT=o(keep= rename= where=)
// writes only what they choose; misspelled or misplaced options are numbered errors.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

using qrxrun::Value;

namespace {

struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows; // texts as in the file
  double num(size_t r, const std::string& name) const {
    for (size_t c = 0; c < names.size(); ++c)
      if (names[c] == name)
        return std::stod(rows[r][c]);
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
};

Table parse(const std::string& text) {
  Table t;
  for (auto& row : qrxrun::csvRows(text))
    if (t.names.empty())
      t.names = std::move(row);
    else if (!row.empty())
      t.rows.push_back(std::move(row));
  return t;
}

Table diabetes() {
  return parse(qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv"));
}

// The table's text with the chosen columns (under new names) and rows.
std::string cut(
    const Table& t, const std::vector<std::string>& keep, const std::vector<std::string>& names,
    const std::function<bool(size_t)>& row = [](size_t) { return true; }) {
  std::vector<size_t> cols;
  for (const std::string& k : keep)
    for (size_t c = 0; c < t.names.size(); ++c)
      if (t.names[c] == k)
        cols.push_back(c);
  std::string out;
  for (size_t i = 0; i < names.size(); ++i)
    out += (i ? "," : "") + names[i];
  out += "\n";
  for (size_t r = 0; r < t.rows.size(); ++r) {
    if (!row(r))
      continue;
    for (size_t i = 0; i < cols.size(); ++i)
      out += (i ? "," : "") + t.rows[r][cols[i]];
    out += "\n";
  }
  return out;
}

std::string fullText(const Table& t) { return cut(t, t.names, t.names); }

std::string outputOf(const qrxrun::ProgramRun& r) {
  EXPECT_EQ(r.json["returnCode"].n, 0) << r.log;
  return qrxrun::dumpOutput(r.json["steps"][0]["output"]);
}

// The step on data(options) and the same step, without options, on the hand-cut data: the
// same output, and the same OUTPUT data set (which copies the variables the step reads).
void expectSameAsHandCut(const Table& data, const std::string& options, const std::string& model,
                         const std::string& handCut, const std::string& tag) {
  SCOPED_TRACE(options);
  const std::string step =
      "  model " + model + " / selection=stepwise;\n  output out=o p=p;\nrun;\n";
  auto withOptions = qrxrun::runProgram("proc varsifter data=diabetes(" + options + ");\n" + step,
                                        tag + "a", {{"diabetes.csv", fullText(data)}}, {"o.csv"});
  auto byHand = qrxrun::runProgram("proc varsifter data=diabetes;\n" + step, tag + "b",
                                   {{"diabetes.csv", handCut}}, {"o.csv"});
  EXPECT_EQ(outputOf(withOptions), outputOf(byHand));
  EXPECT_EQ(withOptions.files["o.csv"], byHand.files["o.csv"]);
  EXPECT_FALSE(byHand.files["o.csv"].empty());
}

TEST(DataSetOptions, KeepDropAndRenameChooseAndNameTheVariables) {
  const Table d = diabetes();
  // KEEP= keeps the file's order whatever the list's.
  expectSameAsHandCut(d, "keep=y bmi age", "y = age bmi",
                      cut(d, {"AGE", "BMI", "Y"}, {"AGE", "BMI", "Y"}), "dsokeep");
  expectSameAsHandCut(d, "drop=s1 s2 s3 s5", "y = age bmi",
                      cut(d, {"AGE", "SEX", "BMI", "BP", "S4", "S6", "Y"},
                          {"AGE", "SEX", "BMI", "BP", "S4", "S6", "Y"}),
                      "dsodrop");
  expectSameAsHandCut(d, "rename=(bmi=mass bp=press) drop=s6", "y = age mass press s1-s5",
                      cut(d, {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "Y"},
                          {"AGE", "SEX", "mass", "press", "S1", "S2", "S3", "S4", "S5", "Y"}),
                      "dsorename");
  // The old name is gone.
  auto old = qrxrun::runProgram(
      "proc varsifter data=diabetes(rename=(bmi=mass));\n  model y = bmi;\nrun;\n", "dsoold",
      {{"diabetes.csv", fullText(d)}});
  EXPECT_GE(old.json["returnCode"].n, 8) << old.log;
}

TEST(DataSetOptions, FirstObsObsAndWhereChooseTheObservations) {
  Table d = diabetes();
  // A character column, for WHERE on texts.
  d.names.push_back("GRP");
  for (auto& row : d.rows)
    row.push_back(std::stod(row[1]) == 2 ? "two" : "one");
  const std::vector<std::string> cols = d.names;
  const std::string model = "y = age bmi bp s1-s6";
  expectSameAsHandCut(d, "firstobs=11 obs=300", model,
                      cut(d, cols, cols, [](size_t r) { return r >= 10 && r < 300; }), "dsorange");
  auto where = [&d](size_t r) {
    const double age = d.num(r, "AGE"), bmi = d.num(r, "BMI"), bp = d.num(r, "BP");
    return d.rows[r][11] == "two" && (age >= 40 || bmi < 25) && !(bp == 80 || bp == 90);
  };
  expectSameAsHandCut(d, "where=(grp = 'two' and (age ge 40 or bmi<25) and bp not in (80, 90))",
                      model, cut(d, cols, cols, where), "dsowhere");
  // A value on the boundary: age 50 is not below 50.
  expectSameAsHandCut(d, "where=(age < 50)", model,
                      cut(d, cols, cols, [&d](size_t r) { return d.num(r, "AGE") < 50; }),
                      "dsowherelt");
  // FIRSTOBS= and OBS= count the observations that satisfy WHERE=.
  std::vector<size_t> over30;
  for (size_t r = 0; r < d.rows.size(); ++r)
    if (d.num(r, "AGE") > 30)
      over30.push_back(r);
  auto range = [&over30](size_t r) {
    for (size_t k = 4; k < 250; ++k)
      if (over30[k] == r)
        return true;
    return false;
  };
  expectSameAsHandCut(d, "where=(age > 30) firstobs=5 obs=250", model, cut(d, cols, cols, range),
                      "dsowhererange");
}

TEST(DataSetOptions, OutputOptionsChooseWhatIsWritten) {
  const Table d = diabetes();
  const std::string head = "proc varsifter data=diabetes;\n  model y = age bmi bp / "
                           "selection=none;\n";
  // OUTPUT copies the input variables: KEEP= chooses among them and the statistics; WHERE=
  // sees the new names.
  auto all = qrxrun::runProgram(head + "  output out=o p=p r=res;\nrun;\n", "dsooutall",
                                {{"diabetes.csv", fullText(d)}}, {"o.csv"});
  auto some = qrxrun::runProgram(head + "  output out=o(keep=y p where=(pred > 150) "
                                        "rename=(p=pred)) p=p r=res;\nrun;\n",
                                 "dsooutsome", {{"diabetes.csv", fullText(d)}}, {"o.csv"});
  ASSERT_EQ(some.json["returnCode"].n, 0) << some.log;
  const Table full = parse(all.files["o.csv"]);
  const Table chosen = parse(some.files["o.csv"]);
  EXPECT_EQ(chosen.names, (std::vector<std::string>{"Y", "pred"}));
  size_t k = 0;
  for (size_t r = 0; r < full.rows.size(); ++r) {
    if (full.num(r, "p") <= 150)
      continue;
    ASSERT_LT(k, chosen.rows.size());
    EXPECT_EQ(chosen.num(k, "Y"), full.num(r, "Y"));
    EXPECT_EQ(chosen.num(k, "pred"), full.num(r, "p"));
    ++k;
  }
  EXPECT_EQ(k, chosen.rows.size());
}

TEST(DataSetOptions, BadOptionsAreNumberedErrorsAtTheirPlace) {
  const std::string data = fullText(diabetes());
  struct Case {
    std::string program;
    MsgId message;
  };
  const Case cases[] = {
      {"proc varsifter data=diabetes(kep=y);\n  model y = age;\nrun;\n", qrxhost::PM_DSOPTION},
      {"proc varsifter data=diabetes(keep=y agex);\n  model y = age;\nrun;\n",
       qrxhost::DataMsg::BadDataSetOption},
      {"proc varsifter data=diabetes(rename=(age=bmi));\n  model y = age;\nrun;\n",
       qrxhost::DataMsg::BadDataSetOption},
      {"proc varsifter data=diabetes(where=(age > 'x'));\n  model y = age;\nrun;\n",
       qrxhost::DataMsg::BadDataSetOption},
      {"proc varsifter data=diabetes(where=(age >));\n  model y = age;\nrun;\n",
       qrxhost::PM_SYNTAX},
      {"proc varsifter data=diabetes(firstobs=0);\n  model y = age;\nrun;\n", qrxhost::PM_RANGE},
      {"proc varsifter data=diabetes;\n  model y = age;\n  output out=o(obs=5) p=p;\nrun;\n",
       qrxhost::PM_DSOPTVALUE},
      {"proc varsifter data=diabetes;\n  model y = age;\n  output out=o(keep=q) p=p;\nrun;\n",
       qrxhost::DataMsg::BadDataSetOption},
      {"proc varsifter data=diabetes;\n  effect s = spline(age / knotmethod=list(30 alt 50));\n"
       "  model y = s;\nrun;\n",
       qrxhost::PM_NUMLISTNAME},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    auto r =
        qrxrun::runProgram(c.program, "dsobad" + std::to_string(i++), {{"diabetes.csv", data}});
    EXPECT_TRUE(qrxrun::logged(r, c.message)) << r.log;
    EXPECT_GE(r.json["returnCode"].n, 8) << r.log;
  }
}

} // namespace
