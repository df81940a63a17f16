// Host options, library names and return codes end to end through qrx: values an option
// does not take are refused with a message naming the option and what it takes, names that
// are no host option with one naming the host options, and warnings end the run with exit
// status 1.
#include "host/minijson.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <string>

using clitest::Cli;
using clitest::has;
using clitest::Outcome;

TEST_F(Cli, HostOptionValuesAreChecked) {
  write("d.csv", clitest::kSmallData);
  std::string prog = write("p.qrx", "proc varsifter data=d; model y = x1 x2; run;\n");
  struct Case {
    const char* option;
    const char* expect;
  } bad[] = {
      {"CPUCOUNT=100000", "CPUCOUNT takes a whole number from 1 to 1024, or ACTUAL"},
      {"CPUCOUNT=0", "CPUCOUNT takes"},
      {"THREADS=maybe", "THREADS takes YES, NO"},
      {"VALIDVARNAME=V9", "VALIDVARNAME takes V6, V7 or ANY"},
      {"UTILPATH=/no/such/dir", "UTILPATH takes an existing directory"},
      {"MEMSIZE=lots", "MEMSIZE takes"},
      {"DEBUG=anything", "DEBUG takes SYN and SEM"},
      {"FROBNICATE=1", "FROBNICATE is not a host option; the host options are THREADS, CPUCOUNT"},
  };
  for (const Case& c : bad) {
    Outcome r = run(prog, std::string("-o ") + c.option);
    EXPECT_EQ(r.status, 2) << c.option;
    EXPECT_TRUE(has(r, c.expect)) << c.option << ":\n" << r.out;
    EXPECT_FALSE(has(r, "internal error")) << r.out;
    EXPECT_FALSE(has(r, "Model Information")) << r.out; // refused before the run
  }
  for (const char* good : {"CPUCOUNT=4", "CPUCOUNT=actual", "THREADS=no", "THREADS=2",
                           "VALIDVARNAME=any", "MEMSIZE=2G", "DEBUG=syn,SEM"}) {
    Outcome r = run(prog, std::string("-o ") + good);
    EXPECT_EQ(r.status, 0) << good << ":\n" << r.out;
  }
}

// In a program, a bad OPTIONS value, or a name that is no host option, is an error on its line; the
// option keeps its old value and the steps still run.
TEST_F(Cli, OptionsStatementValuesAreChecked) {
  write("d.csv", clitest::kSmallData);
  std::string prog = write("p.qrx", "options threads=maybe cpucount=2 nodate=1;\n"
                                    "proc varsifter data=d; model y = x1 x2; run;\n");
  Outcome r = run(prog, "--json '" + (dir / "r.json").string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "ERROR: Line 1: the option THREADS=maybe is not valid; THREADS takes"))
      << r.out;
  EXPECT_TRUE(has(r, "ERROR: Line 1: NODATE is not a host option; the host options are")) << r.out;
  EXPECT_FALSE(has(r, "CPUCOUNT=2 is not valid"));
  EXPECT_FALSE(has(r, "internal error")) << r.out;
  EXPECT_TRUE(has(r, "Model Information")) << r.out;
}

TEST_F(Cli, LibraryNamesAreCheckedAsLibnameChecksThem) {
  std::string prog = write("p.qrx", "%put hi;\n");
  for (const char* name : {"toolongname", "1lib", "a-b"}) {
    Outcome r =
        clitest::qrx(std::string("--lib ") + name + "='" + dir.string() + "' '" + prog + "'");
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_TRUE(has(r, std::string("the library name ") + name + " is not valid")) << r.out;
  }
  EXPECT_EQ(clitest::qrx("--lib mylib_1='" + dir.string() + "' '" + prog + "'").status, 0);
}

// Warnings end the run with exit status 1 and return code 4: a step without RUN, and an
// unresolved macro variable inside a step that otherwise runs cleanly.
TEST_F(Cli, WarningsGiveExitStatusOne) {
  write("d.csv", clitest::kSmallData);
  std::string noRun = write("a.qrx", "proc varsifter data=d; model y = x1 x2;\n");
  Outcome r = run(noRun, "--json '" + (dir / "a.json").string() + "'");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(has(r, "WARNING: The procedure step that starts on line 1 has no RUN"));
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("a.json"), &v, &err)) << err;
  EXPECT_EQ(v["returnCode"].n, 4);
  EXPECT_EQ(v["steps"][0]["returnCode"].n, 4);

  std::string unresolved =
      write("b.qrx", "proc varsifter data=d; model y = x1 x2; run;\n%put &nosuchvar;\n");
  r = run(unresolved);
  EXPECT_EQ(r.status, 1) << r.out;
}
