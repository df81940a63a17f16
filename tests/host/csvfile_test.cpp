// CSV parsing: column types, missing values, lengths, quoting, and the messages for
// malformed files (ragged rows, unclosed quotes, names that are not UTF-8).
#include "host/data/csvfile.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qrxhost;

TEST(CsvFile, TypesMissingValuesAndLengths) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("id,name,x,empty\r\n1,ab,1.5,\n2,\"c,d\",.,.\n3, e  ,-2e3,\n", &t, &e))
      << e.line << ": " << e.text;
  ASSERT_EQ(t.columns.size(), 4u);
  EXPECT_EQ(t.nobs, 3);
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_FALSE(t.columns[1].numeric);
  EXPECT_TRUE(t.columns[2].numeric);
  EXPECT_TRUE(t.columns[3].numeric); // every value missing: numeric
  EXPECT_EQ(t.columns[1].strs[1], "c,d");
  EXPECT_EQ(t.columns[1].strs[2], " e"); // leading blanks kept, trailing dropped
  EXPECT_EQ(t.columns[1].length, 3);     // longest value
  EXPECT_EQ(t.columns[2].nums[0], 1.5);
  EXPECT_TRUE(isHostMissing(t.columns[2].nums[1]));
  EXPECT_EQ(t.columns[2].nums[2], -2000.0);
  for (double v : t.columns[3].nums) {
    ASSERT_TRUE(isHostMissing(v));
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    EXPECT_EQ(bits, kHostMissingBits);
  }
  EXPECT_EQ(t.lines, (std::vector<int32_t>{2, 3, 4}));
}

TEST(CsvFile, OneNonNumberMakesTheColumnCharacter) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("a,b\n1,1\n2,0x10\n3,nan\n", &t, &e));
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_FALSE(t.columns[1].numeric); // hexadecimal is not a data-set number
  EXPECT_EQ(t.columns[1].strs[2], "nan"); // a character column keeps the missing spellings
  EXPECT_EQ(t.columns[1].strs[1], "0x10");
  EXPECT_EQ(t.columns[1].length, 4);
}

TEST(CsvFile, OtherProgramsMissingSpellingsAreMissingNumbers) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("a,b,c\n1,NA,x\n2,NaN,NA\n3, nan ,y\n4,\"N/A\",z\n5,n/a,w\n6,2.5,v\n", &t, &e))
      << e.text;
  EXPECT_TRUE(t.columns[0].numeric);
  ASSERT_TRUE(t.columns[1].numeric);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(isHostMissing(t.columns[1].nums[i])) << i;
  EXPECT_EQ(t.columns[1].nums[5], 2.5);
  ASSERT_FALSE(t.columns[2].numeric);
  EXPECT_EQ(t.columns[2].strs[1], "NA");
}

TEST(CsvFile, NumbersBeyondTheLargestDoubleAreRefused) {
  struct Case {
    const char *text;
    int line;
    const char *where;
  };
  const Case cases[] = {
      {"x,y\n1,2\n2,inf\n", 3, "column 2 (y): the value \"inf\""},
      {"x,y\n1,2\n-Infinity,3\n", 3, "column 1 (x): the value \"-Infinity\""},
      {"x,y\n1,2\n2,3\n3, 1e400\n", 4, "column 2 (y): the value \"1e400\""},
      {"x,y\n1,-1.5E+309\n2,INF\n", 2, "column 2 (y): the value \"-1.5E+309\""},
  };
  for (const Case &c : cases) {
    CsvTable t;
    CsvError e;
    EXPECT_FALSE(parseCsv(c.text, &t, &e)) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_NE(e.text.find(c.where), std::string::npos) << e.text;
  }
  // In a character column such texts are values; tiny magnitudes read as zero.
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("s,v\ninf,1e-400\nlow,2\n", &t, &e)) << e.text;
  EXPECT_FALSE(t.columns[0].numeric);
  EXPECT_EQ(t.columns[0].strs[0], "inf");
  ASSERT_TRUE(t.columns[1].numeric);
  EXPECT_EQ(t.columns[1].nums[0], 0.0);
}

TEST(CsvFile, QuotedFieldsWithQuotesAndLineBreaks) {
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("s,n\n\"say \"\"hi\"\"\",1\n\"two\nlines\",2\n\"\",3\n", &t, &e));
  EXPECT_EQ(t.columns[0].strs[0], "say \"hi\"");
  EXPECT_EQ(t.columns[0].strs[1], "two\nlines");
  EXPECT_EQ(t.columns[0].strs[2], "");
  EXPECT_EQ(t.lines, (std::vector<int32_t>{2, 3, 5})); // the quoted break counts as a line
}

TEST(CsvFile, MalformedFilesNameTheLine) {
  struct Case {
    const char* text;
    int line;
    const char* words;
  } cases[] = {
      {"a,b\n1,2\n3\n", 3, "1 values"},
      {"a,b\n1,2\n3,4,5\n", 3, "3 values"},
      {"a,b\n1,\"open\n2,3\n", 2, "not closed"},
      {"a,\xff\n1,2\n", 1, "UTF-8"},
      {"a,a\n1,2\n", 1, "twice"},
      {"a,,c\n1,2,3\n", 1, "no name"},
      {"", 1, "no header"},
      {"a\n1\"x\n", 2, "quote"},
  };
  for (const Case& c : cases) {
    CsvTable t;
    CsvError e;
    EXPECT_FALSE(parseCsv(c.text, &t, &e)) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_NE(e.text.find(c.words), std::string::npos) << c.text << " -> " << e.text;
  }
  CsvTable t;
  CsvError e;
  EXPECT_FALSE(readCsvFile("/nonexistent/dir/x.csv", &t, &e));
  EXPECT_EQ(e.line, 0);
}

TEST(CsvFile, NumbersAndFieldsRoundTrip) {
  for (double v : {0.1, -1.0 / 3.0, 1e-300, 123456789012345678.0, 2.5}) {
    double back = 0;
    ASSERT_TRUE(parseCsvNumber(formatCsvNumber(v), &back)) << v;
    EXPECT_EQ(back, v);
  }
  EXPECT_EQ(formatCsvNumber(hostMissing()), "");
  EXPECT_EQ(csvField("plain"), "plain");
  EXPECT_EQ(csvField("a,b"), "\"a,b\"");
  EXPECT_EQ(csvField("q\"q"), "\"q\"\"q\"");
  EXPECT_EQ(csvField(" lead"), "\" lead\"");
  // a written row parses back to the same values
  CsvTable t;
  CsvError e;
  std::string text = "s\n" + csvField("x,\"y\"\nz") + "\n";
  ASSERT_TRUE(parseCsv(text, &t, &e));
  EXPECT_EQ(t.columns[0].strs[0], "x,\"y\"\nz");
  double v;
  EXPECT_FALSE(parseCsvNumber("1e", &v));
  EXPECT_FALSE(parseCsvNumber(".", &v));
  EXPECT_FALSE(parseCsvNumber("inf", &v));
  EXPECT_FALSE(parseCsvNumber("1e999", &v)); // overflows to infinity
  EXPECT_TRUE(parseCsvNumber(" +.5 ", &v));
  EXPECT_EQ(v, 0.5);
}

TEST(CsvFile, EveryFieldQuoted) {
  // writers that quote every field: quoted numbers are numbers, a quoted "." is missing
  CsvTable t;
  CsvError e;
  ASSERT_TRUE(parseCsv("\"a\",\"b\"\n\"1.5\",\"x\"\n\".\",\".\"\n", &t, &e));
  EXPECT_TRUE(t.columns[0].numeric);
  EXPECT_EQ(t.columns[0].nums[0], 1.5);
  EXPECT_TRUE(isHostMissing(t.columns[0].nums[1]));
  EXPECT_FALSE(t.columns[1].numeric);
  EXPECT_EQ(t.columns[1].strs[1], "");
}
