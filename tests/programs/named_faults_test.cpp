// Faults a new user meets, end to end through qrx: expressions nested too deep, data-set
// options and variables that do not fit, and names beyond ASCII. Each message is checked by
// its set and number and the values it names.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qrxrun::Value;

namespace {

const char kSmall[] = "y,x\n3.1,1\n4.9,2\n7.2,3\n8.8,4\n11.1,5\n12.7,6\n15.2,7\n16.8,8\n";

std::string diabetes() {
  return qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv");
}

// The values of the first log record of message m in the run's step, as texts; empty when
// there is none.
std::vector<std::string> valuesOf(const qrxrun::ProgramRun& r, MsgId m) {
  std::vector<std::string> out;
  if (const Value* l = qrxrun::logEntry(r, m))
    for (const Value& v : (*l)["values"].items)
      out.push_back(v.kind == Value::Number ? std::to_string(static_cast<long long>(v.n)) : v.s);
  return out;
}

struct Case {
  std::string program;
  MsgId message;
  size_t at;         // the value to check
  std::string named; // what it names
};

void expectNamed(const std::vector<Case>& cases, const std::string& tag,
                 const std::vector<std::pair<std::string, std::string>>& files) {
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    auto r = qrxrun::runProgram(c.program, tag + std::to_string(i++), files);
    const std::vector<std::string> v = valuesOf(r, c.message);
    ASSERT_GT(v.size(), c.at) << r.log;
    EXPECT_EQ(v[c.at], c.named) << r.log;
  }
}

} // namespace

// Thousands of nested parentheses or NOTs are refused at the level past the limit, with the
// place, instead of running the stack out.
TEST(NamedFaults, DeepWhereNestingIsRefusedAtItsPlace) {
  const std::string parens = std::string(20000, '(') + "x > 1" + std::string(20000, ')');
  std::string nots;
  for (int i = 0; i < 100000; ++i)
    nots += "not ";
  for (const std::string& where : {parens, nots + "x > 1"}) {
    auto r =
        qrxrun::runProgram("proc varsifter data=d(where=(" + where + "));\n model y = x;\nrun;\n",
                           "deepwhere", {{"d.csv", kSmall}});
    const std::vector<std::string> v = valuesOf(r, qrxhost::PM_NESTING);
    ASSERT_EQ(v.size(), 4u) << r.log.substr(0, 2000);
    EXPECT_EQ(v[0], "1");
    EXPECT_GT(std::stoi(v[1]), 200); // past the opening of 200 levels
    EXPECT_EQ(r.status, 2);
  }
}

// Option messages name the value, the option and the place at fault.
TEST(NamedFaults, DataSetOptionMessagesNameWhatIsWrong) {
  auto step = [](const std::string& options, const std::string& model = "y = age") {
    return "proc varsifter data=diabetes(" + options + ");\n  model " + model + ";\nrun;\n";
  };
  const std::vector<Case> cases = {
      // WHERE= comparing values of two types names the first operand as written
      {step("where=(1 = 'a')"), qrxhost::DataMsg::BadDataSetOption, 2, "1"},
      {step("where=('a' = 3)"), qrxhost::DataMsg::BadDataSetOption, 2, "'a'"},
      // an integer past 2^31 is too large, not "not an integer"
      {step("firstobs=3000000000"), qrxhost::PM_RANGE, 2, "3000000000"},
      {step("obs=2147483648"), qrxhost::PM_RANGE, 2, "2147483648"},
      // options that leave no observation are named
      {step("obs=0"), qrxhost::DataMsg::OptionChoosesNothing, 2, "OBS=0"},
      {step("firstobs=443"), qrxhost::DataMsg::OptionChoosesNothing, 2, "FIRSTOBS=443"},
      {step("where=(age > 1000)"), qrxhost::DataMsg::OptionChoosesNothing, 2, "WHERE="},
      // KEEP= takes names, not ranges
      {step("keep=x1-x5"), qrxhost::PM_DSOPTVALUE, 2, "KEEP=x1-x5"},
      // one variable renamed twice
      {step("rename=(age=a age=b)", "y = a"), qrxhost::DataMsg::BadDataSetOption, 2, "age"},
      {step("rename=(age=a age=b)", "y = a"), qrxhost::DataMsg::BadDataSetOption, 3, "RENAME="},
  };
  expectNamed(cases, "optmsg", {{"diabetes.csv", diabetes()}});
}

// An effect's unknown variable is named with its line, column and data set; a response whose
// first value is text names that line; a header without names says which columns got which.
TEST(NamedFaults, VariableMessagesNameTheirPlace) {
  const std::string model = "proc varsifter data=d;\n  model y = x zz;\nrun;\n";
  expectNamed({{model, EffMsg::VariableNotFound, 1, "2"},
               {model, EffMsg::VariableNotFound, 2, "15"},
               {model, EffMsg::VariableNotFound, 3, "WORK.D"}},
              "effvar", {{"d.csv", kSmall}});
  const std::string fit = "proc varsifter data=d;\n  model y = x;\nrun;\n";
  expectNamed({{fit, qrxhost::DataMsg::TextAmongNumbers, 2, "2"},
               {fit, qrxhost::DataMsg::TextAmongNumbers, 3, "abc"}},
              "textfirst", {{"d.csv", "y,x\nabc,1\n2,2\n3,3\n4,4\n"}});
  expectNamed({{fit, qrxhost::DataMsg::UnnamedColumns, 1, "1, 3"},
               {fit, qrxhost::DataMsg::UnnamedColumns, 2, "VAR1, VAR3"}},
              "unnamed", {{"d.csv", ",y,,x\n1,3.1,1,1\n2,4.9,2,2\n3,7.2,3,3\n4,8.8,4,4\n"}});
}

// A held-out data set of a header alone has no values that give its variables a type: the
// step runs on, as it does with numbers there.
TEST(NamedFaults, HeaderOnlyHeldOutDataHasNoTypeToMismatch) {
  const std::string train = "y,x,c\n1,1,a\n2,2,b\n3,3,a\n4,1,b\n5,7,a\n6,2,b\n";
  for (const char* option : {"testdata", "valdata"}) {
    auto r = qrxrun::runProgram(std::string("proc varsifter data=d ") + option +
                                    "=h;\n class c;\n model y = x c;\nrun;\n",
                                "headeronly", {{"d.csv", train}, {"h.csv", "y,x,c\n"}});
    EXPECT_EQ(r.json["returnCode"].n, 0) << option << "\n" << r.log;
  }
}

// A syntax error's list of expected words says how many more there are; it does not run into
// the sentence's full stop.
TEST(NamedFaults, LongExpectedListsEndInACount) {
  auto r = qrxrun::runProgram(
      "proc varsifter data=d;\n  model y = x / selection=forward(choose=);\nrun;\n", "expected",
      {{"d.csv", kSmall}});
  const std::vector<std::string> v = valuesOf(r, qrxhost::PM_SYNTAX);
  ASSERT_EQ(v.size(), 4u) << r.log;
  EXPECT_NE(v[3].back(), '.') << v[3];
}

// Names beyond ASCII match without regard to case everywhere (effects, WHERE=, RENAME=), and
// the output names them as the data set writes them.
TEST(NamedFaults, Utf8NamesMatchWithoutRegardToCase) {
  std::string data = "\xc3\x84rger,\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1,y,x\n"; // Ärger, Ωμέγα
  for (int i = 0; i < 12; ++i)
    data += std::to_string(i % 5) + "," + std::to_string((i * 7) % 4) + "," +
            std::to_string(2 * (i % 5) + (i * 7) % 4 + (i % 3) * 0.1) + "," +
            std::to_string(i % 2) + "\n";
  // ärger, ΩΜΈΓΑ, größe
  const std::string program =
      "proc varsifter data=d(rename=(x=gr\xc3\xb6\xc3\x9f"
      "e) where=(\xc3\xa4rger >= 0));\n"
      "  model y = \xc3\xa4rger \xce\xa9\xce\x9c\xce\x88\xce\x93\xce\x91 GR\xc3\x96\xc3\x9f"
      "E / selection=none;\nrun;\n";
  auto r = qrxrun::runProgram(program, "utf8names", {{"d.csv", data}});
  ASSERT_EQ(r.json["returnCode"].n, 0) << r.log;
  const auto pe = qrxrun::shownTables(r, "ParameterEstimates");
  ASSERT_EQ(pe.size(), 1u);
  const std::vector<std::string> want = {"Intercept", "\xc3\x84rger",
                                         "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1",
                                         "gr\xc3\xb6\xc3\x9f"
                                         "e"};
  ASSERT_EQ((*pe[0])["rows"].items.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k)
    EXPECT_EQ(qrxrun::text(*pe[0], k, "Parameter"), want[k]);
}

// A %LET whose value would outgrow the limit is refused, not carried out: values that double
// in each statement cannot take all memory.
TEST(NamedFaults, MacroValuesStopGrowingAtTheLimit) {
  std::string program = "%let a0 = x;\n";
  for (int i = 1; i < 20; ++i)
    program += "%let a" + std::to_string(i) + " = &a" + std::to_string(i - 1) + "&a" +
               std::to_string(i - 1) + ";\n";
  auto r = qrxrun::runProgram(program, "macrogrowth", {});
  EXPECT_EQ(r.status, 2) << r.log.substr(0, 500);
  EXPECT_EQ(r.json["macros"]["A15"].s.size(), 32768u);
  EXPECT_FALSE(r.json["macros"].has("A16")); // 65536 characters: past the limit
}
