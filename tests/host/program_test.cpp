// The program splitter: comments blanked with positions kept, steps cut at RUN, QUIT or
// the next PROC, host statements recognised, problems reported with their lines.
#include "host/runner/program.h"

#include <gtest/gtest.h>

using namespace qrxhost;

TEST(Program, CommentsAreBlankedKeepingPositions) {
  std::vector<ProgramProblem> problems;
  std::string in = "a /* x\ny */ b;\n* star ; comment;\nc '/*' \"*\";*x;";
  std::string out = stripComments(in, &problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out, "a     \n     b;\n         comment;\nc '/*' \"*\";   ");
  // only a '*' at the start of a statement opens a comment statement
  EXPECT_EQ(stripComments("x = a * b;", &problems), "x = a * b;");
  stripComments("a;\n\n/* never closed", &problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].msg, RunnerMsg::OpenComment);
  EXPECT_EQ(problems[0].line, 3);
}

TEST(Program, StepsAndHostStatements) {
  std::vector<ProgramProblem> problems;
  std::string prog = "options threads=2 validvarname = 'V6' nodate;\n"
                     "libname mine 'some dir';\n"
                     "proc varsifter data=x; /* c */\n"
                     "  model y = a b;\n"
                     "run;\n"
                     "%put value: &x;\n"
                     "Proc Other;\n"
                     "  by g;\n"
                     "PROC varsifter; model y=a;\n"
                     "quit;\n"
                     "run;\n";
  std::vector<ProgramItem> items = splitProgram(prog, &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].kind, ProgramItem::Options);
  ASSERT_EQ(items[0].options.size(), 3u);
  EXPECT_EQ(items[0].options[0], (std::pair<std::string, std::string>{"THREADS", "2"}));
  EXPECT_EQ(items[0].options[1], (std::pair<std::string, std::string>{"VALIDVARNAME", "V6"}));
  EXPECT_EQ(items[0].options[2].first, "NODATE");
  EXPECT_EQ(items[1].kind, ProgramItem::Libname);
  EXPECT_EQ(items[1].name, "MINE");
  EXPECT_EQ(items[1].value, "some dir");
  EXPECT_EQ(items[2].kind, ProgramItem::Step);
  EXPECT_EQ(items[2].procedure, "VARSIFTER");
  EXPECT_EQ(items[2].line, 3);
  EXPECT_EQ(items[2].column, 1);
  EXPECT_EQ(items[2].text, "proc varsifter data=x;        \n  model y = a b;");
  EXPECT_TRUE(items[2].terminated);
  EXPECT_EQ(items[3].kind, ProgramItem::Put);
  EXPECT_EQ(items[3].message, "value: &x");
  EXPECT_EQ(items[4].procedure, "OTHER"); // ended by the next PROC
  EXPECT_EQ(items[4].text, "Proc Other;\n  by g;");
  EXPECT_EQ(items[5].line, 9);
  EXPECT_EQ(items[5].text, "PROC varsifter; model y=a;");
}

TEST(Program, UnterminatedStepAndInvalidStatements) {
  std::vector<ProgramProblem> problems;
  std::vector<ProgramItem> items = splitProgram(
      "data x; set y;\nlibname a;\noptions =3;\nproc varsifter;\nmodel y=x;", &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].kind, ProgramItem::Invalid);
  EXPECT_EQ(items[0].messageNumber, RunnerMsg::StatementOutsideStep);
  EXPECT_EQ(items[0].message, "DATA");
  EXPECT_EQ(items[1].kind, ProgramItem::Invalid); // SET, not valid outside a step
  EXPECT_EQ(items[2].kind, ProgramItem::Invalid);
  EXPECT_EQ(items[2].messageNumber, RunnerMsg::BadStatement);
  EXPECT_EQ(items[2].line, 2);
  EXPECT_EQ(items[3].kind, ProgramItem::Invalid);
  EXPECT_EQ(items[3].line, 3);
  EXPECT_EQ(items[4].kind, ProgramItem::Step);
  EXPECT_FALSE(items[4].terminated);
  EXPECT_EQ(items[4].text, "proc varsifter;\nmodel y=x;");
}

TEST(Program, QuotesHideSemicolonsAndUnclosedQuotesAreProblems) {
  std::vector<ProgramProblem> problems;
  std::vector<ProgramItem> items =
      splitProgram("%put 'a;b' \"it''s\";\nproc varsifter; title 'x;y'; run;", &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].message, "'a;b' \"it''s\"");
  EXPECT_EQ(items[1].text, "proc varsifter; title 'x;y';");
  items = splitProgram("proc varsifter;\n title 'open;\nrun;", &problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].msg, RunnerMsg::OpenQuote);
  EXPECT_EQ(problems[0].line, 2);
  EXPECT_TRUE(items.empty());
}

TEST(Program, HostStatementsInsideAStepComeBeforeItAndLeaveItsText) {
  std::vector<ProgramProblem> problems;
  std::vector<ProgramItem> items = splitProgram(
      "proc varsifter data=a;\n  %put inside;\n  model y=x;\n  options threads=4;\nrun;\n",
      &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].before.size(), 2u);
  EXPECT_EQ(items[0].before[0].kind, ProgramItem::Put);
  EXPECT_EQ(items[0].before[0].message, "inside");
  EXPECT_EQ(items[0].before[0].line, 2);
  EXPECT_EQ(items[0].before[1].kind, ProgramItem::Options);
  // blanked in place: lines and columns of the remaining statements do not move
  EXPECT_EQ(items[0].text, "proc varsifter data=a;\n" + std::string(14, ' ') + "\n  model y=x;");
}

TEST(Program, ByteOrderMarkAndWindowsLineEnds) {
  std::vector<ProgramProblem> problems;
  std::vector<ProgramItem> items =
      splitProgram("\xEF\xBB\xBFoptions a=1;\r\nproc varsifter;\r\nrun;\r\n", &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, ProgramItem::Options);
  EXPECT_EQ(items[1].kind, ProgramItem::Step);
  EXPECT_EQ(items[1].line, 2);
  EXPECT_EQ(items[1].text, "proc varsifter;");
}

TEST(Program, LetSetsANameAndATrimmedValueAndRefusesABadName) {
  std::vector<ProgramProblem> problems;
  std::vector<ProgramItem> items =
      splitProgram("%let _testthread = 1 ;\n%LET empty=;\n%let 9x = 2;\n%let noequals;\n"
                   "proc varsifter; %let inside = a b; run;",
                   &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].kind, ProgramItem::Let);
  EXPECT_EQ(items[0].name, "_testthread");
  EXPECT_EQ(items[0].value, "1");
  EXPECT_EQ(items[1].kind, ProgramItem::Let);
  EXPECT_EQ(items[1].value, "");
  EXPECT_EQ(items[2].kind, ProgramItem::Invalid);
  EXPECT_EQ(items[2].line, 3);
  EXPECT_EQ(items[3].kind, ProgramItem::Invalid);
  ASSERT_EQ(items[4].before.size(), 1u);
  EXPECT_EQ(items[4].before[0].kind, ProgramItem::Let);
  EXPECT_EQ(items[4].before[0].value, "a b");
}
