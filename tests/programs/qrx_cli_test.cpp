// The qrx runner binary end to end: usage, command-line and program-file errors, and a
// program with two steps and an OPTIONS statement written as a JSON record.
#include "host/minijson.h"
#include "msgid.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

using clitest::Cli;
using clitest::Outcome;
using clitest::qrx;

TEST_F(Cli, HelpAndCommandLineErrors) {
  Outcome help = qrx("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: qrx"), std::string::npos);
  EXPECT_NE(help.out.find("--json FILE"), std::string::npos);
  EXPECT_NE(help.out.find("--version"), std::string::npos);

  Outcome version = qrx("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("qrx (VARSIFTER) ") + QRX_VERSION + "\n");

  Outcome unknown = qrx("--frobnicate x.qrx");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.out.find("unknown option --frobnicate"), std::string::npos);

  Outcome missing = qrx(std::string("'").append((dir / "absent.qrx").string()).append("'"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.out.find("absent.qrx"), std::string::npos);

  Outcome none = qrx("");
  EXPECT_EQ(none.status, 2);

  Outcome noValue = qrx("--json");
  EXPECT_EQ(noValue.status, 2);

  std::string prog = write("p.qrx", "%put hi;\n");
  Outcome badWork = qrx("--work '" + (dir / "nowhere").string() + "' '" + prog + "'");
  EXPECT_EQ(badWork.status, 2);
  EXPECT_NE(badWork.out.find("nowhere"), std::string::npos);
}

TEST_F(Cli, HostStatementsAloneAndTheirErrors) {
  std::string prog = write("p.qrx", "/* only host statements */\n%put hello &who;\n");
  Outcome r = qrx("--json '" + (dir / "r.json").string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 1); // the warning below
  EXPECT_NE(r.out.find("hello &who"), std::string::npos);
  EXPECT_NE(r.out.find("WARNING: Apparent symbolic reference WHO not resolved."),
            std::string::npos);
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("r.json"), &v, &err)) << err;
  EXPECT_EQ(v["returnCode"].n, 4);
  EXPECT_EQ(v["steps"].items.size(), 0u);

  prog = write("bad.qrx", "data x;\n");
  r = qrx("'" + prog + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("ERROR: Line 1: the statement DATA"), std::string::npos);
}

TEST_F(Cli, LetSetsMacroVariablesThatPutAndTheRecordShow) {
  std::string prog = write("let.qrx", "%let who = world;\n%let greeting = hello &who;\n"
                                      "%put &greeting;\n%let 1bad = x;\n");
  Outcome r = qrx("--json '" + (dir / "let.json").string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2); // the refused name
  EXPECT_NE(r.out.find("hello world"), std::string::npos);
  EXPECT_NE(r.out.find("ERROR: Line 4: %LET"), std::string::npos);
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("let.json"), &v, &err)) << err;
  EXPECT_EQ(v["macros"]["GREETING"].s, "hello world");
  EXPECT_EQ(v["macros"]["WHO"].s, "world");
}

TEST_F(Cli, TwoStepsAndOptionsGiveOneRecord) {
  std::string prog = write("two.qrx", "options threads=2;\n"
                                      "proc varsifter data=x; model y = a; run;\n"
                                      "* a comment statement;\n"
                                      "proc varsifter data=x; model y = b; run;\n");
  write("x.csv", "y,a,b\n10.1,2,5\n6,1,3\n8.1,4,4\n2,3,1\n4.1,6,2\n12,5,6\n");
  std::string json = (dir / "run.json").string();
  std::string listing = (dir / "run.lst").string();
  Outcome r = qrx("--work '" + dir.string() + "' -o CPUCOUNT=2 --listing '" + listing +
                  "' --json '" + json + "' '" + prog + "'");
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("run.json"), &v, &err)) << err << "\n" << r.out;
  ASSERT_EQ(v["steps"].items.size(), 2u);
  int highest = 0;
  for (size_t s = 0; s < 2; ++s) {
    const minijson::Value& st = v["steps"][s];
    EXPECT_EQ(st["procedure"].s, "VARSIFTER");
    EXPECT_EQ(st["log"].kind, minijson::Value::Array);
    EXPECT_EQ(st["output"].kind, minijson::Value::Array);
    for (const minijson::Value& rec : st["log"].items) {
      EXPECT_TRUE(rec.has("severity"));
      EXPECT_TRUE(rec.has("text"));
      if (rec.has("set")) {
        EXPECT_TRUE(rec.has("number"));
        EXPECT_EQ(rec["values"].kind, minijson::Value::Array);
      }
    }
    highest = std::max(highest, static_cast<int>(st["returnCode"].n));
  }
  EXPECT_EQ(v["steps"][0]["line"].n, 2);
  EXPECT_EQ(v["steps"][1]["line"].n, 4);
  EXPECT_EQ(v["returnCode"].n, highest);
  EXPECT_EQ(v["macros"].kind, minijson::Value::Object);
  // Both steps ran to their tables, and the macro variables of the last step are kept.
  for (size_t s = 0; s < 2; ++s) {
    bool modelInfo = false;
    for (const minijson::Value& node : v["steps"][s]["output"].items)
      modelInfo = modelInfo || node["name"].s == "ModelInfo";
    EXPECT_TRUE(modelInfo) << "step " << s << "\n" << r.out;
  }
  EXPECT_EQ(v["macros"]["_VSFNUMBYS"].s, "1");
  EXPECT_EQ(v["macros"]["_VSFIND"].s, "b");
  int expected = highest == 0 ? 0 : highest <= 4 ? 1 : 2;
  EXPECT_EQ(r.status, expected) << r.out;
  EXPECT_TRUE(fs::exists(listing));
}

TEST_F(Cli, MalformedAndMissingDataSetsNameFileAndLine) {
  struct Case {
    const char* file;
    const char* text;
    const char* expect;
  } cases[] = {
      {"ragged.csv", "y,x\n1,2\n3\n", "ragged.csv, line 3: the row has 1 values"},
      {"quote.csv", "y,x\n1,\"open\n2,3\n", "quote.csv, line 2: the quoted value"},
      {"name.csv", "y,\xe9\n1,2\n", "name.csv, line 1: the name of column 2"},
  };
  for (const Case& c : cases) {
    write(c.file, c.text);
    std::string member = std::string(c.file).substr(0, std::strlen(c.file) - 4);
    std::string prog =
        write("p.qrx", "proc varsifter data=" + member + ";\n  model y = x;\nrun;\n");
    Outcome r = qrx("--work '" + dir.string() + "' '" + prog + "'");
    EXPECT_EQ(r.status, 2) << c.file;
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.file << ":\n" << r.out;
  }
  std::string prog = write("p.qrx", "proc varsifter data=absent; model y = x; run;\n");
  Outcome r = qrx("--work '" + dir.string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("WORK.ABSENT was not found"), std::string::npos) << r.out;
}

TEST_F(Cli, SyntaxErrorDoesNotAdvertiseHiddenMethods) {
  write("d.csv", "y,x\n1,2\n3,4\n5,7\n");
  std::string prog =
      write("p.qrx", "proc varsifter data=d;\n  model y = x / selection=bogus;\nrun;\n");
  Outcome r = qrx("--work '" + dir.string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2);
  size_t at = r.out.find("Syntax error");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string line = r.out.substr(at, r.out.find('\n', at) - at);
  for (const char* shown :
       {"BACKWARD", "ELASTICNET", "FORWARD", "GROUPLASSO", "LAR", "LASSO", "NONE", "STEPWISE"})
    EXPECT_NE(line.find(shown), std::string::npos) << shown << " in: " << line;
  EXPECT_EQ(line.find("QK"), std::string::npos) << line;
}

// The effect parser's DEBUG=SEM trace goes to the host log: the log lines and the JSON
// record carry it; nothing is printed around the log.
TEST_F(Cli, SemanticTraceGoesToTheLog) {
  write("x.csv", "y,a,b\n10.1,2,5\n6,1,3\n8.1,4,4\n2,3,1\n4.1,6,2\n12,5,6\n");
  std::string prog = write("p.qrx", "proc varsifter data=x; model y = a b a*b a; run;\n");
  Outcome r = qrx("--work '" + dir.string() + "' -o DEBUG=SEM --json '" +
                  (dir / "run.json").string() + "' '" + prog + "'");
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("run.json"), &v, &err)) << err << "\n" << r.out;
  int added = 0, duplicates = 0;
  for (const minijson::Value& rec : v["steps"][0]["log"].items) {
    if (!rec.has("set") || !MsgId(EffMsg::EffectTrace).is(rec["set"].n, rec["number"].n))
      continue;
    EXPECT_EQ(rec["severity"].s, "NOTE");
    added += rec["text"].s == "    New effect -- add it to the effect chain";
    duplicates += rec["text"].s == "Duplicate";
  }
  EXPECT_GT(added, 0) << r.out;
  EXPECT_GT(duplicates, 0) << r.out; // the second a
  // every trace line on the console is a log line
  std::istringstream lines(r.out);
  int traced = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find("ADDEFF") != std::string::npos || line.find("New effect") != std::string::npos) {
      EXPECT_EQ(line.rfind("NOTE: ", 0), 0u) << line;
      ++traced;
    }
  EXPECT_GT(traced, 0);
}

// A multimember effect whose CLASS variables disagree on MISSING ends the step with its own
// catalogued error, not with a text-less NOTE.
TEST_F(Cli, MultimemberMissingDisagreementIsACataloguedError) {
  write("mm.csv", "y,a,b,x\n1,p,q,2\n2,q,,3\n3,,p,4\n4,p,q,6\n5,q,p,1\n");
  std::string prog = write("p.qrx", "proc varsifter data=mm;\n class a(missing) b;\n"
                                    " effect m = mm(a b);\n model y = m x;\nrun;\n");
  Outcome r = qrx("--work '" + dir.string() + "' --json '" + (dir / "run.json").string() + "' '" +
                  prog + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("run.json"), &v, &err)) << err << "\n" << r.out;
  int found = 0;
  for (const minijson::Value& rec : v["steps"][0]["log"].items)
    if (rec.has("set") &&
        MsgId(EffMsg::MultimemberMissingOptionMixed).is(rec["set"].n, rec["number"].n)) {
      ++found;
      EXPECT_EQ(rec["severity"].s, "ERROR");
      EXPECT_NE(rec["text"].s.find("multimember effect M"), std::string::npos) << rec["text"].s;
    }
  EXPECT_EQ(found, 1) << r.out;
  EXPECT_GE(v["steps"][0]["returnCode"].n, 3000);
}

// On a terminal the progress line shows the BY group and the selection's steps; the listing
// and the log are unchanged. `script` gives the run a pseudo-terminal; the environment
// variable drops the delay so that a short run shows its texts.
TEST_F(Cli, ProgressLineOnATerminalShowsByGroupAndSteps) {
  if (std::system("command -v script >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "script (util-linux) is not installed";
  write("d.csv", "g,y,x1,x2\n1,3.1,1,2\n1,4.9,2,1\n1,7.2,3,3\n1,8.8,4,2\n1,11.1,5,5\n"
                 "2,12.7,6,4\n2,15.2,7,6\n2,16.8,8,5\n2,19.1,9,9\n2,20.7,10,7\n");
  const std::string prog = write("p.qrx", "proc varsifter data=d; by g;\n"
                                          "  model y = x1 x2 / selection=forward;\nrun;\n");
  const std::string command = std::string("QRX_PROGRESS_DELAY_MS=0 ASAN_OPTIONS=detect_leaks=0 '") +
                              QRX_BINARY + "' --work '" + dir.string() + "' --listing '" +
                              (dir / "out.lst").string() + "' '" + prog + "'";
  Outcome r = clitest::shell("script -qec \"" + command + "\" /dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(clitest::has(r, "WORK.D: BY group 2 of 2, selection step")) << r.out;
  EXPECT_TRUE(clitest::has(r, "\r\x1b[K")) << r.out;
  // Observations are counted, not lines (the header is none), and one effect is one.
  EXPECT_TRUE(clitest::has(r, "reading WORK.D: 10 observations")) << r.out;
  EXPECT_TRUE(clitest::has(r, ", 1 effect in the model")) << r.out;
  // With the log on the terminal, the progress line is erased before each log line (the
  // OUTPUT data set's note comes while the last step is shown).
  const std::string withOutput =
      write("q.qrx", "proc varsifter data=d; by g;\n  model y = x1 x2 / selection=forward;\n"
                     "  output out=o p=p;\nrun;\n");
  const std::string logged = std::string("QRX_PROGRESS_DELAY_MS=0 ASAN_OPTIONS=detect_leaks=0 '") +
                             QRX_BINARY + "' --work '" + dir.string() + "' '" + withOutput +
                             "' > /dev/null";
  Outcome onTerminal = clitest::shell("script -qec \"" + logged + "\" /dev/null");
  EXPECT_EQ(onTerminal.status, 0) << onTerminal.out;
  EXPECT_TRUE(clitest::has(onTerminal, "NOTE: The data set WORK.O")) << onTerminal.out;
  for (size_t at = onTerminal.out.find("NOTE:"); at != std::string::npos;
       at = onTerminal.out.find("NOTE:", at + 1))
    EXPECT_TRUE(at == 0 || onTerminal.out[at - 1] == '\n' ||
                onTerminal.out.compare(at - 4, 4, "\r\x1b[K") == 0)
        << onTerminal.out.substr(at < 60 ? 0 : at - 60, 80);
  // Without a terminal nothing of it is written.
  Outcome plain = clitest::shell(command);
  EXPECT_EQ(plain.status, 0);
  EXPECT_FALSE(clitest::has(plain, "selection step")) << plain.out;
  EXPECT_FALSE(clitest::has(plain, "\x1b[K")) << plain.out;
}

namespace {

// Whether an output node is, or holds, anything shown: a text (a heading or a note line), a
// table or a graph; a group alone shows nothing.
bool showsSomething(const minijson::Value& node) {
  if (node["kind"].s != "group")
    return true;
  for (const minijson::Value& kid : node["children"].items)
    if (showsSomething(kid))
      return true;
  return false;
}

} // namespace

// NOPRINT prints nothing to the listing on any road (a selection, a fit without one, BY
// groups, model averaging with its refit, scoring); the JSON record shows nothing either,
// while the outputs are still written.
TEST_F(Cli, NoprintLeavesTheListingEmpty) {
  write("d.csv", "y,x1,x2,g\n3.1,1,2,1\n4.9,2,1,1\n7.2,3,3,1\n8.8,4,2,1\n11.1,5,5,1\n"
                 "12.7,6,4,2\n15.2,7,6,2\n16.8,8,5,2\n18.1,9,8,2\n21.3,10,7,2\n");
  const std::string prog =
      write("p.qrx", "proc varsifter data=d noprint; by g; model y = x1 x2 / selection=stepwise;"
                     " run;\n"
                     "proc varsifter data=d noprint; by g; model y = x1 x2 / selection=none;"
                     " output out=o p=p; run;\n"
                     "proc varsifter data=d noprint seed=3; model y = x1 x2 / selection=forward;\n"
                     "  modelaverage nsamples=3 refit(best=1 nsamples=2);\n"
                     "  score data=d out=s p=p; run;\n");
  const std::string json = (dir / "r.json").string();
  // standard error (the log) goes elsewhere: what is left is the listing
  const Outcome r =
      clitest::shell("{ ASAN_OPTIONS=detect_leaks=0 '" QRX_BINARY "' --work '" + dir.string() +
                     "' --json '" + json + "' '" + prog + "' 2>/dev/null; }");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("r.json"), &v, &err)) << err;
  ASSERT_EQ(v["steps"].items.size(), 3u);
  for (const minijson::Value& step : v["steps"].items)
    for (const minijson::Value& node : step["output"].items)
      EXPECT_FALSE(showsSomething(node))
          << "step on line " << step["line"].n << ": " << node["name"].s;
  EXPECT_TRUE(fs::exists(dir / "o.csv"));
  EXPECT_TRUE(fs::exists(dir / "s.csv"));
}
