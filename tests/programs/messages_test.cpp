// Messages in the user's terms, end to end through qrx: a number too large to hold, a
// character outside ASCII where the grammar wants none, a CLASS value too long for a table,
// and the note on the cross-products build, which names no internal option.
#include "host/minijson.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <string>

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

// A two-byte character where a name or ';' is wanted is shown whole in the message.
TEST_F(Cli, NonAsciiTokenIsNotSplit) {
  write("d.csv", clitest::kSmallData);
  std::string prog =
      write("p.qrx", "proc varsifter data=d; model y = x1 \xc3\xa9t\xc3\xa9; run;\n");
  Outcome r = run(prog);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r, "found \"\xc3\xa9\"")) << r.out;
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
  std::string prog = write("p.qrx", "proc varsifter data=d; model y = x1 x2; run;\n");
  Outcome r = run(prog, "--json '" + (dir / "r.json").string() + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(read("r.json"), &v, &err)) << err;
  bool seen = false;
  for (const minijson::Value& rec : v["steps"][0]["log"].items)
    if (rec.has("number") && rec["set"].n == 848 && rec["number"].n == 4001) {
      seen = true;
      EXPECT_EQ(rec["text"].s.find('$'), std::string::npos) << rec["text"].s;
      EXPECT_EQ(rec["text"].s.find("SWEEP"), std::string::npos) << rec["text"].s;
    }
  EXPECT_TRUE(seen);
}
