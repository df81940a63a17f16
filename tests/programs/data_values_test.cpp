// Bad and extreme data values end to end through the qrx runner: the missing spellings of
// other programs, numbers the host cannot hold, unusable response, WEIGHT and FREQ
// variables, a data set without observations, sums of squares that overflow, and
// predictors with a large offset against numpy's least squares
// (tests/data/results/large_offset.txt, scripts/gen_large_offset_ref.py).
#include "clifixture.h"
#include "host/minijson.h"
#include "msgid.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using minijson::Value;

namespace {

struct Outcome {
  int status = -1;
  std::string log;
  Value json;
};

class DataValues : public ::testing::Test {
protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("qrx_values_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
           std::to_string(static_cast<long>(::getpid())));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name) << text;
  }

  // Runs the program text with WORK in the test's directory and reads its JSON record.
  Outcome run(const std::string& program, const std::string& options = "") {
    Outcome r;
    write("p.qrx", program);
    const fs::path json = dir / "run.json";
    fs::remove(json);
    const clitest::Outcome done =
        clitest::qrx(options + " --work '" + dir.string() + "' --json '" + json.string() + "' '" +
                     (dir / "p.qrx").string() + "'");
    r.status = done.status;
    r.log = done.out;
    std::ifstream f(json);
    std::stringstream s;
    s << f.rdbuf();
    std::string error;
    EXPECT_TRUE(minijson::parse(s.str(), &r.json, &error)) << error << "\n" << r.log;
    return r;
  }
};

// Whether the run's first step logged message m.
bool logs(const Outcome& r, MsgId m) {
  if (r.json["steps"].items.empty())
    return false;
  for (const Value& rec : r.json["steps"][0]["log"].items)
    if (rec.has("set") && m.is(rec["set"].n, rec["number"].n))
      return true;
  return false;
}

// The text of the first log record of message m.
std::string textOf(const Outcome& r, MsgId m) {
  for (const Value& rec : r.json["steps"][0]["log"].items)
    if (rec.has("set") && m.is(rec["set"].n, rec["number"].n))
      return rec["text"].s;
  return "";
}

void collect(const Value& node, const std::string& name, std::vector<const Value*>& out) {
  if (node.kind == Value::Array) {
    for (const Value& item : node.items)
      collect(item, name, out);
    return;
  }
  if (node.kind != Value::Object)
    return;
  if (node.has("name") && node["name"].s == name)
    out.push_back(&node);
  if (node.has("children"))
    collect(node["children"], name, out);
}

// The last table of that name in the first step.
const Value* table(const Outcome& r, const std::string& name) {
  std::vector<const Value*> found;
  collect(r.json["steps"][0]["output"], name, found);
  return found.empty() ? nullptr : found.back();
}

int columnIndex(const Value& t, const std::string& name) {
  for (size_t i = 0; i < t["columns"].items.size(); ++i)
    if (t["columns"][i]["name"].s == name)
      return static_cast<int>(i);
  return -1;
}

// A small data set: y = 1 + 2 x1 - x2 + noise, with a character and an integer column.
std::string smallData() {
  return "y,x1,x2,c,f\n"
         "3.1,1.2,0.3,a,1\n-0.4,-0.8,0.5,b,2\n2.2,0.4,-0.6,c,1\n5.9,2.1,-0.2,a,3\n"
         "0.7,-0.3,-0.1,b,1\n1.8,0.9,0.8,c,2\n-2.1,-1.5,0.2,a,1\n4.4,1.6,0.1,b,2\n"
         "1.1,0.2,0.4,c,1\n0.2,-0.6,-0.9,a,1\n";
}

} // namespace

TEST_F(DataValues, OtherProgramsMissingSpellingsAreMissingNumbers) {
  // One NA, na, NaN, nan or N/A in a numeric column leaves it numeric with that value missing.
  write("na.csv", "y,x1,x2\n3.1,1.2,0.3\n-0.4,NA,0.5\n2.2,0.4,-0.6\n5.9,2.1,NaN\n"
                  "0.7,-0.3,-0.1\n1.8,0.9,0.8\n-2.1,nan,0.2\n4.4,1.6,0.1\nN/A,0.2,0.4\n"
                  "0.2,-0.6,-0.9\n1.1,0.3,0.2\n0.9,0.5,na\n");
  Outcome r = run("proc varsifter data=na; model y = x1 x2 / selection=none; run;\n");
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_FALSE(logs(r, VsfMsg::TrainingFrequenciesSumZero)) << r.log;
  const Value* nobs = table(r, "NObs");
  ASSERT_NE(nobs, nullptr) << r.log;
  const int used = columnIndex(*nobs, "NObsUsed");
  ASSERT_GE(used, 0);
  EXPECT_EQ((*nobs)["rows"][0][used].n, 7); // 12 rows, 5 with a missing value
}

TEST_F(DataValues, NumbersBeyondTheLargestDoubleAreRefusedWithFileLineAndColumn) {
  const char* cases[][3] = {{"1.5,inf", "line 4", "column 2 (x1): the value \"inf\""},
                            {"1.5,-Infinity", "line 4", "the value \"-Infinity\""},
                            {"1e400,2", "line 4", "column 1 (y): the value \"1e400\""}};
  for (const auto& c : cases) {
    write("big.csv", std::string("y,x1\n1,2\n2,3.5\n") + c[0] + "\n4,1\n5,0\n");
    Outcome r = run("proc varsifter data=big; model y = x1; run;\n");
    EXPECT_EQ(r.status, 2) << c[0];
    EXPECT_TRUE(logs(r, qrxhost::DataMsg::FileLineError)) << r.log;
    EXPECT_NE(r.log.find("big.csv, line 4"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find(c[2]), std::string::npos) << r.log;
  }
}

TEST_F(DataValues, UnusableResponseWeightAndFreqNameTheVariable) {
  write("d.csv", smallData());
  write("chary.csv", "y,x1\na,1\nb,2\nc,3\n");
  write("missy.csv", "y,x1,w\n,1,a\n.,2,b\nNA,3,c\n,4,d\n");
  struct Case {
    const char* program;
    VsfMsg message;
    const char* words; // in the message text
    int status;
  };
  const Case cases[] = {
      {"proc varsifter data=chary; model y = x1; run;", VsfMsg::ResponseIsCharacter,
       "response variable y", 2},
      {"proc varsifter data=d; class c; model c = x1 x2; run;", VsfMsg::ResponseIsCharacter,
       "variable c", 2},
      {"proc varsifter data=d; class f; model f = x1 x2; run;", VsfMsg::ResponseIsClassVariable,
       "variable f", 2},
      {"proc varsifter data=d; model y = x1 x2; weight c; run;", VsfMsg::RoleVariableIsCharacter,
       "WEIGHT variable c", 2},
      {"proc varsifter data=d; model y = x1 x2; freq c; run;", VsfMsg::RoleVariableIsCharacter,
       "FREQ variable c", 2},
      {"proc varsifter data=missy; model y = x1; run;", VsfMsg::ResponseAllMissing,
       "response variable y", 2},
  };
  for (const Case& c : cases) {
    Outcome r = run(std::string(c.program) + "\n");
    EXPECT_EQ(r.status, c.status) << c.program << "\n" << r.log;
    EXPECT_TRUE(logs(r, c.message)) << c.program << "\n" << r.log;
    EXPECT_FALSE(logs(r, VsfMsg::TrainingFrequenciesSumZero)) << c.program << "\n" << r.log;
    EXPECT_NE(textOf(r, c.message).find(c.words), std::string::npos) << textOf(r, c.message);
  }
}

TEST_F(DataValues, DataSetWithoutObservationsIsAnError) {
  write("empty.csv", "y,x1\n");
  Outcome r = run("proc varsifter data=empty; model y = x1; run;\n");
  EXPECT_EQ(r.status, 2) << r.log;
  EXPECT_TRUE(logs(r, VsfMsg::InputDataSetNo)) << r.log;
  EXPECT_NE(textOf(r, VsfMsg::InputDataSetNo).find("WORK.EMPTY"), std::string::npos);
  EXPECT_GE(r.json["returnCode"].n, 8);
}

namespace {

struct Reference {
  std::map<std::string, std::pair<double, double>> parms; // estimate, standard error
  double rsquare = 0;
};

std::map<std::string, Reference> readReference() {
  std::map<std::string, Reference> out;
  std::ifstream f(std::string(QRX_TEST_DATA) + "/results/large_offset.txt");
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream in(line);
    std::string kase, parm;
    double a = 0, b = 0;
    in >> kase >> parm >> a >> b;
    if (parm == "_RSQUARE_")
      out[kase].rsquare = a;
    else
      out[kase].parms[parm] = {a, b};
  }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Appends ",text" to the header and ",value" to every data line.
std::string withColumn(const std::string& csv, const std::string& name, const std::string& value) {
  std::istringstream in(csv);
  std::string line, out;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    out += line + "," + (header ? name : value) + "\n";
    header = false;
  }
  return out;
}

void expectNear(double got, double want, double rel, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), rel * std::fabs(want)) << what << ": " << got << " vs " << want;
}

// Compares every ParameterEstimates table of the run (one per BY group) and the R-square.
void expectReference(const Outcome& r, const Reference& ref, const std::string& road) {
  std::vector<const Value*> tables;
  collect(r.json["steps"][0]["output"], "ParameterEstimates", tables);
  ASSERT_FALSE(tables.empty()) << road << "\n" << r.log;
  for (const Value* t : tables) {
    const int parm = columnIndex(*t, "Parameter"), est = columnIndex(*t, "Estimate");
    const int se = columnIndex(*t, "StdErr"), df = columnIndex(*t, "DF");
    ASSERT_GE(parm, 0);
    ASSERT_GE(est, 0);
    ASSERT_GE(se, 0);
    ASSERT_EQ((*t)["rows"].items.size(), ref.parms.size()) << road;
    for (const Value& row : (*t)["rows"].items) {
      const std::string name = row[parm].s;
      auto it = ref.parms.find(name);
      ASSERT_NE(it, ref.parms.end()) << road << " " << name;
      EXPECT_EQ(row[df].n, 1) << road << " " << name;
      expectNear(row[est].n, it->second.first, 1e-8, road + " estimate " + name);
      expectNear(row[se].n, it->second.second, 1e-8, road + " stderr " + name);
    }
  }
  std::vector<const Value*> fits;
  collect(r.json["steps"][0]["output"], "FitStatistics", fits);
  ASSERT_FALSE(fits.empty()) << road;
  bool found = false;
  for (const Value& entry : (*fits.back())["entries"].items)
    if (entry["label"].s == "R-Square") {
      expectNear(entry["value"].n, ref.rsquare, 1e-8, road + " R-Square");
      found = true;
    }
  EXPECT_TRUE(found) << road;
}

} // namespace

TEST_F(DataValues, LargeOffsetPredictorsMatchLeastSquaresOnEveryRoad) {
  const std::map<std::string, Reference> ref = readReference();
  ASSERT_EQ(ref.size(), 3u);
  const std::string csv = readFile(std::string(QRX_TEST_DATA) + "/results/large_offset.csv");
  ASSERT_FALSE(csv.empty());
  write("lo.csv", csv);
  // Two BY groups holding the same rows; and the rows again with held-out rows after them.
  write("loby.csv", withColumn(csv, "g", "1") +
                        withColumn(csv, "g", "2").substr(withColumn(csv, "g", "2").find('\n') + 1));
  std::string held = withColumn(csv, "r", "T");
  held += "2.5,1000001.5,0.3,500002,1,V\n-1,999999.2,-0.7,499990,2,V\n3,1000000.4,1.1,500011,1,S\n";
  write("loheld.csv", held);
  struct Road {
    const char* name;
    const char* program;
    const char* reference;
  };
  const Road roads[] = {
      {"full", "proc varsifter data=lo; model y = x1 x2 x3 / selection=none; run;", "plain"},
      {"incremental, forward",
       "proc varsifter data=lo; model y = x1 x2 x3 / selection=forward(select=sl stop=sl "
       "slentry=0.5); performance buildsscp=incremental; run;",
       "plain"},
      {"full, backward",
       "proc varsifter data=lo; model y = x1 x2 x3 / selection=backward(select=sl "
       "stop=sl slstay=0.5); run;",
       "plain"},
      {"stepwise, threads, small pages",
       "proc varsifter data=lo; model y = x1 x2 x3 / selection=stepwise(select=sl stop=sl "
       "slentry=0.5 slstay=0.5); performance threads cpucount=4 util_pagesize$=64; run;",
       "plain"},
      {"weighted", "proc varsifter data=lo; model y = x1 x2 x3 / selection=none; weight w; run;",
       "weighted"},
      {"freq", "proc varsifter data=lo; model y = x1 x2 x3 / selection=none; freq w; run;", "freq"},
      {"BY groups", "proc varsifter data=loby; by g; model y = x1 x2 x3 / selection=none; run;",
       "plain"},
      {"held-out rows",
       "proc varsifter data=loheld; model y = x1 x2 x3 / selection=forward(select=sl stop=sl "
       "slentry=0.5); partition rolevar=r(train='T' validate='V' test='S'); run;",
       "plain"},
  };
  for (const Road& road : roads) {
    Outcome r = run(std::string(road.program) + "\n");
    EXPECT_LE(r.status, 1) << road.name << "\n" << r.log;
    expectReference(r, ref.at(road.reference), road.name);
  }
}

TEST_F(DataValues, SumsOfSquaresBeyondTheLargestDoubleEndTheFitNamingTheVariable) {
  const std::string base = "1.5,0.3\n2.5,1.2\n0.5,-0.4\n3.5,2.0\n1.0,0.1\n2.0,0.9\n";
  struct Case {
    const char* csv;
    const char* program;
    const char* variable;
  };
  const Case cases[] = {
      {"y,x1\n1e200,0.5\n", "model y = x1 / selection=none", "of y"},
      {"y,x1\n1,-3e170\n", "model y = x1 / selection=none", "of x1"},
      {"y,x1\n1,-3e170\n", "model y = x1; performance buildsscp=incremental", "of x1"},
      // the penalized fits, which scale their columns first, refuse it as well
      {"y,x1\n1,-3e170\n", "model y = x1 / selection=lasso", "of x1"},
      {"y,x1\n1,-3e170\n", "model y = x1 / selection=grouplasso", "of x1"},
      {"y,x1\n1,-3e170\n", "model y = x1 / selection=elasticnet(choose=cvex) cvmethod=split(3)",
       "of x1"},
  };
  for (const Case& c : cases) {
    write("huge.csv", std::string(c.csv) + base);
    Outcome r = run(std::string("proc varsifter data=huge; ") + c.program + "; run;\n");
    EXPECT_EQ(r.status, 2) << c.program << "\n" << r.log;
    EXPECT_TRUE(logs(r, VsfMsg::SumsOfSquaresTooLarge)) << c.program << "\n" << r.log;
    EXPECT_NE(textOf(r, VsfMsg::SumsOfSquaresTooLarge).find(c.variable), std::string::npos)
        << textOf(r, VsfMsg::SumsOfSquaresTooLarge);
    EXPECT_EQ(table(r, "ParameterEstimates"), nullptr) << c.program;
  }
}

namespace {

// About 3 MB of rows (several reading blocks): y = 1 + 2 x1 - x2 + noise, a character column
// with quoted commas and line breaks, CRLF line ends. `last` replaces the final row's x2;
// *lastLine is the line where the final row starts.
std::string blockCrossingData(int rows, const std::string& last, int* lastLine) {
  std::string s = "y,x1,x2,c\r\n";
  uint64_t state = 20260428;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  int line = 2;
  for (int r = 0; r < rows; ++r) {
    const double x1 = 4 * next(), x2 = 4 * next(), y = 1 + 2 * x1 - x2 + next();
    char buf[160];
    const char* c = r % 7 == 0 ? "\"two\nlines, one comma\""
                    : r % 3    ? "plain"
                               : "\"say \"\"hi\"\"\"";
    std::string x2text = std::to_string(x2);
    if (r + 1 == rows) {
      *lastLine = line;
      x2text = last;
    }
    std::snprintf(buf, sizeof buf, "%.9f,%.9f,%s,%s\r\n", y, x1, x2text.c_str(), c);
    s += buf;
    line += 1 + (r % 7 == 0);
  }
  return s;
}

} // namespace

TEST_F(DataValues, ThreadedReadingOfALargeFileGivesTheSameFitAndMessages) {
  int lastLine = 0;
  write("wide.csv", blockCrossingData(45000, "0.25", &lastLine));
  const std::string program = "proc varsifter data=wide; model y = x1 x2 / selection=none; run;\n";
  Outcome one = run(program, "-o THREADS=NO");
  Outcome many = run(program, "-o CPUCOUNT=8");
  ASSERT_EQ(one.status, 0) << one.log;
  ASSERT_EQ(many.status, 0) << many.log;
  const Value* a = table(one, "ParameterEstimates");
  const Value* b = table(many, "ParameterEstimates");
  ASSERT_TRUE(a && b);
  ASSERT_EQ((*a)["rows"].items.size(), 3u);
  const int est = columnIndex(*a, "Estimate");
  ASSERT_GE(est, 0);
  // the fit's own threads sum in another order: equal to rounding
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR((*a)["rows"][i][est].n, (*b)["rows"][i][est].n, 1e-10) << i;
  // the generating coefficients, within the noise
  EXPECT_NEAR((*a)["rows"][0][est].n, 1.0, 0.01);
  EXPECT_NEAR((*a)["rows"][1][est].n, 2.0, 0.01);
  EXPECT_NEAR((*a)["rows"][2][est].n, -1.0, 0.01);
  const Value* nobs = table(many, "NObs");
  ASSERT_NE(nobs, nullptr);
  EXPECT_EQ((*nobs)["rows"][0][columnIndex(*nobs, "NObsUsed")].n, 45000);

  // a number beyond the largest double in the last block: its line, column and text
  write("wide.csv", blockCrossingData(45000, "1e400", &lastLine));
  Outcome bad = run(program, "-o CPUCOUNT=8");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(logs(bad, qrxhost::DataMsg::FileLineError)) << bad.log;
  EXPECT_NE(bad.log.find("wide.csv, line " + std::to_string(lastLine)), std::string::npos)
      << bad.log;
  EXPECT_NE(bad.log.find("column 3 (x2): the value \"1e400\""), std::string::npos) << bad.log;
}

namespace {

// 60 rows of y = 3 x1 + x2 - x3 / 2 + x4 / 10 + noise, x5 pure noise, every x a multiple of
// 1/64 (so that x1 plus an offset up to 1e9 is held exactly), with `offset` added to x1.
std::string offsetData(double offset) {
  uint64_t state = 20261207;
  auto draw = [&state] { // a whole number in [-128, 128]
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(static_cast<int>((state >> 33) % 257) - 128);
  };
  std::string s = "y,x1,x2,x3,x4,x5\n";
  for (int r = 0; r < 60; ++r) {
    double x[5];
    for (double& v : x)
      v = draw() / 64;
    const double y = 3 * x[0] + x[1] - 0.5 * x[2] + 0.1 * x[3] + draw() / 160;
    char buf[200];
    std::snprintf(buf, sizeof buf, "%.17g,%.17g,%.17g,%.17g,%.17g,%.17g\n", y, x[0] + offset, x[1],
                  x[2], x[3], x[4]);
    s += buf;
  }
  return s;
}

// The estimates (and standardized estimates, where shown) of every parameter but the
// intercept, by name, from the last ParameterEstimates table.
std::map<std::string, std::vector<double>> slopes(const Value* t) {
  std::map<std::string, std::vector<double>> out;
  if (t == nullptr)
    return out;
  const int parm = columnIndex(*t, "Parameter"), est = columnIndex(*t, "Estimate");
  const int stb = columnIndex(*t, "StandardizedEst");
  for (const Value& row : (*t)["rows"].items)
    if (row[parm].s.find("Intercept") == std::string::npos) {
      std::vector<double>& v = out[row[parm].s];
      v.push_back(row[est].n);
      if (stb >= 0)
        v.push_back(row[stb].n);
    }
  return out;
}

} // namespace

// A predictor whose mean is large against its spread keeps its place in every method: the
// same selection and slopes with an offset of 0, 1e3, 1e6 or 1e9 added to it, where the
// column scaling once called it constant from its raw sums (and zeroed its STB).
TEST_F(DataValues, OffsetPredictorGivesTheSameSelectionAndSlopesInEveryMethod) {
  const char* methods[][2] = {
      {"LAR", "selection=lar(stop=none choose=sbc)"},
      {"LASSO", "selection=lasso(stop=none choose=sbc)"},
      {"LASSO, a pass per step",
       "selection=lasso(stop=none choose=sbc); performance buildsscp=incremental"},
      {"adaptive LASSO", "selection=lasso(adaptive stop=none choose=sbc)"},
      {"elastic net", "selection=elasticnet(l2=0.05 stop=none choose=sbc)"},
      {"group LASSO", "selection=grouplasso(stop=none choose=sbc rho=0.8 maxsteps=40)"},
      {"external CV", "selection=lasso(choose=cvex stop=none) cvmethod=split(3)"},
      {"FORWARD", "selection=forward(select=sbc) stb"},
  };
  const double offsets[] = {0, 1e3, 1e6, 1e9};
  for (const auto& method : methods) {
    std::map<std::string, std::vector<double>> base;
    for (double offset : offsets) {
      write("off.csv", offsetData(offset));
      Outcome r =
          run(std::string("proc varsifter data=off; model y = x1-x5 / ") + method[1] + ";\nrun;\n");
      const std::string what = std::string(method[0]) + ", offset " + std::to_string(offset);
      EXPECT_LE(r.status, 1) << what << "\n" << r.log;
      const std::map<std::string, std::vector<double>> got = slopes(table(r, "ParameterEstimates"));
      if (got.count("x1") == 0) {
        ADD_FAILURE() << what << ": x1 not selected\n" << r.log;
        continue;
      }
      if (offset == 0) {
        base = got;
        continue;
      }
      EXPECT_EQ(got.size(), base.size()) << what;
      for (const auto& [name, values] : base) {
        if (got.count(name) == 0) {
          ADD_FAILURE() << what << ": " << name << " not selected";
          continue;
        }
        for (size_t i = 0; i < values.size(); ++i)
          EXPECT_NEAR(got.at(name)[i], values[i], 1e-8 * std::fabs(values[i]))
              << what << " " << name << " " << i;
      }
    }
  }
  // FORWARD's standardized estimate of x1 is its slope times sd(x1) / sd(y).
  write("off.csv", offsetData(1e9));
  Outcome r = run("proc varsifter data=off; model y = x1-x5 / selection=forward stb;\nrun;\n");
  const auto got = slopes(table(r, "ParameterEstimates"));
  ASSERT_TRUE(got.count("x1")) << r.log;
  const auto rows = csvRows(offsetData(0));
  double n = 0, sy = 0, syy = 0, sx = 0, sxx = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_GE(rows[i].size(), 2u);
    const double y = std::stod(rows[i][0]), x = std::stod(rows[i][1]);
    n += 1, sy += y, syy += y * y, sx += x, sxx += x * x;
  }
  const double sdx = std::sqrt((sxx - sx * sx / n) / (n - 1));
  const double sdy = std::sqrt((syy - sy * sy / n) / (n - 1));
  EXPECT_NEAR(got.at("x1")[1], got.at("x1")[0] * sdx / sdy, 1e-8 * std::fabs(got.at("x1")[1]));
}

// An elastic-net L2 whose ridge term (n - 1) x L2 on the sums of squares cannot be held is
// refused naming L2, not blamed on a variable; the largest L2 that can be held still fits,
// and an L2 search whose range reaches too far is refused the same way.
TEST_F(DataValues, RidgeTermTooLargeToHoldIsRefusedNamingL2) {
  write("small.csv", "y,x1,x2\n1.5,0.3,1\n2.5,1.2,0\n0.5,-0.4,2\n3.5,2.0,1\n1.0,0.1,3\n"
                     "2.0,0.9,2\n2.2,1.1,0\n");
  for (const char* option : {"l2=1e307", "l2=1e154", "l2high=1e300"}) {
    Outcome r = run(std::string("proc varsifter data=small; model y = x1 x2 / "
                                "selection=elasticnet(") +
                    option + "); run;\n");
    EXPECT_EQ(r.status, 2) << option << "\n" << r.log;
    EXPECT_TRUE(logs(r, VsfMsg::L2ValueTooLarge)) << option << "\n" << r.log;
    EXPECT_FALSE(logs(r, VsfMsg::SumsOfSquaresTooLarge)) << option << "\n" << r.log;
    EXPECT_EQ(table(r, "ParameterEstimates"), nullptr) << option;
  }
  // (7 - 1) x 1e153 is still below the bound.
  Outcome r = run("proc varsifter data=small; model y = x1 x2 / selection=elasticnet(l2=1e153);"
                  " run;\n");
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_NE(table(r, "ParameterEstimates"), nullptr);
}
