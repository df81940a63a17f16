// Messages in the user's terms, end to end through qrx: a number too large to hold, names
// beyond ASCII, input that cannot be read, an index column without a name, an empty column,
// the response among the effects, a CLASS value too long for a table, and the note on the
// cross-products build, which names no internal option.
#include "host/minijson.h"
#include "msgid.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

using clitest::Cli;
using clitest::has;
using clitest::Outcome;

TEST_F(Cli, NumberOutOfRangeIsNamedAsSuch) {
  write("d.csv", clitest::kSmallData);
  std::string prog = write("p.qrx", "proc varsifter data=d slentry=1e400; model y = x1 x2; run;\n");
  Outcome r = run(prog);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "ERROR: Line 1 column 31: the number 1e400 is too large or too small"))
      << r.out;
  EXPECT_FALSE(has(r, "expecting .")) << r.out;
}

// Names hold UTF-8 letters as the CSV header does: a variable named so is used, and one that
// is not found is named whole in the message.
TEST_F(Cli, NonAsciiNamesAreNamesOfVariables) {
  write("d.csv", "y,gr\xc3\xb6\xc3\x9f"
                 "e\n3.1,1\n4.9,2\n7.2,3\n8.8,4\n11.1,5\n12.7,6\n");
  Outcome used = run(write("p.qrx", "proc varsifter data=d; model y = gr\xc3\xb6\xc3\x9f"
                                    "e; run;\n"));
  EXPECT_EQ(used.status, 0) << used.out;
  Outcome missing =
      run(write("q.qrx", "proc varsifter data=d; model y = \xc3\xa9t\xc3\xa9; run;\n"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(has(missing, "variable \xc3\x89T\xc3\x89 is not found")) << missing.out;
}

// A data file that cannot be read is reported once, for what it is; the statements that
// needed its variables add no advice about DATA=, which was given.
TEST_F(Cli, UnreadableInputIsReportedOnceForWhatItIs) {
  write("bad.csv", "y,x1\n1,2\n2,\"3\n");
  std::filesystem::create_directories(dir / "folder.csv");
  for (const char* name : {"bad", "folder"}) {
    Outcome r = run(write("p.qrx", std::string("proc varsifter data=") + name +
                                       "; class x1; model y = x1; run;\n"));
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_FALSE(has(r, "DATA=")) << r.out;
    EXPECT_FALSE(has(r, "not found")) << r.out;
  }
  EXPECT_TRUE(has(run(write("q.qrx", "proc varsifter data=folder; model y = x1; run;\n")),
                  "is a directory"));
  Outcome work = clitest::qrx("--work '" + (dir / "bad.csv").string() + "' '" +
                              (dir / "q.qrx").string() + "'");
  EXPECT_TRUE(has(work, "is not a directory")) << work.out;
}

// A file written with a row index (R's write.csv, pandas' to_csv) has an empty first name:
// the column is read as VAR1 and the others as named.
TEST_F(Cli, IndexColumnWithoutANameIsRead) {
  write("d.csv", "\"\",y,x1\n\"1\",3.1,1\n\"2\",4.9,2\n\"3\",7.2,3\n\"4\",8.8,4\n\"5\",11.1,5\n");
  Outcome r = run(write("p.qrx", "proc varsifter data=d; model y = x1 var1; run;\n"));
  EXPECT_EQ(r.status, 0) << r.out;
}

// An empty column is named before the procedure fails for want of its values; a fit that
// ends with errors says so with an ERROR, not only a WARNING.
TEST_F(Cli, EmptyColumnIsNamed) {
  write("d.csv", "y,x1,e\n3.1,1,\n4.9,2,\n7.2,3,\n8.8,4,\n");
  for (const char* stmts : {"model y = x1 e;", "class e; model y = x1 e;"}) {
    Outcome r = run(write("p.qrx", std::string("proc varsifter data=d; ") + stmts + " run;\n"));
    EXPECT_EQ(r.status, 2) << stmts;
    EXPECT_TRUE(has(r, "Variable e of data set WORK.D has no values")) << r.out;
    EXPECT_TRUE(has(r, "ERROR:")) << r.out;
  }
}

// A response read as character because of one text among its numbers: the line and the
// text are named before the procedure refuses it.
TEST_F(Cli, TextAmongNumbersIsTracedToItsLine) {
  write("d.csv", "y,x1\n1,2\n2,3\n3,4\n4,5\nabc,6\n");
  Outcome r = run(write("p.qrx", "proc varsifter data=d; model y = x1; run;\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "line 6 holds \"abc\"")) << r.out;
}

// The response among the effects fits itself exactly: a warning says so.
TEST_F(Cli, ResponseAmongTheEffectsIsWarnedOf) {
  write("d.csv", clitest::kSmallData);
  Outcome r = run(write("p.qrx", "proc varsifter data=d; model y = y x1; run;\n"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(has(r, "WARNING: The response variable y is also a variable")) << r.out;
}

// A CLASS level longer than a table column can hold ends the step with a message about the
// data, not about a method of the output manager.
TEST_F(Cli, OverlongClassValueIsReportedInTheProgramsTerms) {
  std::string rows = "y,x,g\n";
  const std::string longLevel(40000, 'a');
  for (int i = 0; i < 12; ++i)
    rows += std::to_string(i % 3 == 0 ? 10 + i * 0.1 : i * 0.13) + "," +
            std::to_string((i * 7) % 5) + "," +
            (i % 3 == 0   ? longLevel
             : i % 3 == 1 ? "b"
                          : "c") +
            "\n";
  write("c.csv", rows);
  std::string prog = write("p.qrx", "proc varsifter data=c; class g; model y = x g; run;\n");
  Outcome r = run(prog);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "would be 40000 characters wide")) << r.out.substr(0, 2000);
  EXPECT_TRUE(has(r, "CLASS variable")) << r.out.substr(0, 2000);
  EXPECT_FALSE(has(r, "method")) << r.out.substr(0, 2000);
}

TEST_F(Cli, CrossProductsNoteNamesNoInternalOption) {
  write("d.csv", clitest::kSmallData);
  std::string prog =
      write("p.qrx", "proc varsifter data=d; model y = x1 x2; performance buildsscp=full; run;\n");
  Outcome r = run(prog, "--json '" + (dir / "r.json").string() + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("r.json"), &v, &err)) << err;
  bool seen = false;
  for (const minijson::Value& rec : v["steps"][0]["log"].items)
    if (rec.has("number") &&
        MsgId(VsfMsg::CrossProductsBuiltWhole).is(rec["set"].n, rec["number"].n)) {
      seen = true;
      EXPECT_EQ(rec["text"].s.find('$'), std::string::npos) << rec["text"].s;
      EXPECT_EQ(rec["text"].s.find("SWEEP"), std::string::npos) << rec["text"].s;
    }
  EXPECT_TRUE(seen);
}

// Messages that say what is wrong in terms a user can act on: the name limit in bytes, a
// whole number written with an exponent, a literal %LET too long (no macro reference in
// it), a macro reference in a step, arithmetic in WHERE= (refused as not taken, as KEEP=
// ranges are), an output's KEEP= error logged once, and an item store that cannot be
// written named by its file.
TEST_F(Cli, HostMessagesSayWhatIsWrong) {
  write("d.csv", clitest::kSmallData);
  std::string cyrillic; // 17 letters, 34 bytes
  for (int i = 0; i < 17; ++i)
    cyrillic += "\xd0\xb0";
  write("c.csv", "y," + cyrillic + "\n1,2\n3,4\n");
  const std::string model = "proc varsifter data=d; model y = x1 x2; ";
  struct Case {
    std::string program, says, not_;
  } cases[] = {
      {"proc varsifter data=c; model y = x1; run;\n", "32 bytes", "characters"},
      {"proc varsifter data=d(firstobs=1e3); model y = x1; run;\n", "a whole number",
       "at most 2147483647"},
      {"%let v = " + std::string(70000, 'a') + ";\n", "text of the statement is longer",
       "macro references"},
      {"%let v = x1;\nproc varsifter data=d; model y = &v; run;\n", "%LET and %PUT", "expecting"},
      {"proc varsifter data=d(where=(x1+1 > 2)); model y = x1; run;\n",
       "arithmetic is not taken in WHERE=", "Syntax error"}};
  for (const Case& c : cases) {
    Outcome r = run(write("p.qrx", c.program));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(has(r, c.says)) << r.out;
    EXPECT_FALSE(has(r, c.not_)) << r.out;
  }
  Outcome keep = run(write("p.qrx", model + "output out=o(keep=zz) p=p; run;\n"));
  const size_t first = keep.out.find("zz is not a variable");
  EXPECT_NE(first, std::string::npos) << keep.out;
  EXPECT_EQ(keep.out.find("zz is not a variable", first + 1), std::string::npos) << keep.out;
  // An item store in a directory the run cannot write to (run as an unprivileged user when
  // the test runs as root, whom permissions do not stop).
  std::filesystem::create_directories(dir / "ro");
  std::filesystem::permissions(dir, std::filesystem::perms::all);
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_exec);
  const std::string as =
      ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  Outcome store = clitest::shell(as + "env ASAN_OPTIONS=detect_leaks=0 '" +
                                 std::string(QRX_BINARY) + "' --work '" + dir.string() + "' '" +
                                 write("p.qrx", "libname r '" + (dir / "ro").string() + "';\n" +
                                                    model + "store out=r.k; run;\n") +
                                 "'");
  EXPECT_EQ(store.status, 2) << store.out;
  EXPECT_TRUE(has(store, "R.K") && has(store, "k.json")) << store.out;
}

namespace {

// The first record of message `id` in the log of a run's JSON record, or null.
const minijson::Value* firstLogged(const minijson::Value& record, MsgId id) {
  for (const minijson::Value& step : record["steps"].items)
    for (const minijson::Value& r : step["log"].items)
      if (r.has("set") && id.is(static_cast<int>(r["set"].n), static_cast<int>(r["number"].n)))
        return &r;
  return nullptr;
}

} // namespace

// Messages a user can act on, each with what failed, where and why: a utility directory the
// procedure cannot write to (the directory and the system's reason), a MEMSIZE= too small
// for a fit that has no CLASS effect (no effect is blamed and no CLASS road offered, the
// memory it plans with and the least MEMSIZE= are named), and a misspelled MODEL option
// (the options the statement takes are named).
TEST_F(Cli, MessagesNameWhatWhereAndWhy) {
  write("d.csv", clitest::kSmallData);
  const std::string model = "proc varsifter data=d; model y = x1 x2";
  const std::string prog =
      write("p.qrx", "options utilpath='/proc/sys';\n" + model + "; run;\noptions utilpath='" +
                         dir.string() + "' memsize=1K;\n" + model + "; run;\n" + model +
                         " / selction=stepwise; run;\n");
  const Outcome r = run(prog, "--json '" + (dir / "r.json").string() + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("r.json"), &v, &err)) << err;

  const minijson::Value* scratch = firstLogged(v, VsfMsg::ScratchFileNotCreated);
  ASSERT_NE(scratch, nullptr) << r.out;
  ASSERT_EQ((*scratch)["values"].items.size(), 2u);
  EXPECT_NE((*scratch)["values"][0].s.find("/proc/sys"), std::string::npos) << r.out;
  EXPECT_NE((*scratch)["values"][1].s, "") << r.out; // the system's reason

  EXPECT_EQ(firstLogged(v, VsfMsg::CrossProductsDoNotFit), nullptr) << r.out;
  EXPECT_EQ(firstLogged(v, VsfMsg::StructuredRoadNotTaken), nullptr) << r.out;
  const minijson::Value* memory = firstLogged(v, VsfMsg::MemoryFigureTooSmall);
  ASSERT_NE(memory, nullptr) << r.out;
  ASSERT_EQ((*memory)["values"].items.size(), 6u);
  EXPECT_EQ((*memory)["values"][0].n, 3); // design columns: the intercept, x1 and x2
  EXPECT_EQ((*memory)["values"][4].s, "1.0 KB") << r.out;

  const minijson::Value* syntax = firstLogged(v, qrxhost::PM_SYNTAX);
  ASSERT_NE(syntax, nullptr) << r.out;
  EXPECT_EQ((*syntax)["values"][2].s, "selction");
  for (const char* option : {"SELECTION", "STB", "NOINT", "DETAILS", "STATS"})
    EXPECT_NE((*syntax)["values"][3].s.find(option), std::string::npos) << option << r.out;
}
